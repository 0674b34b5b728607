// The whole audio chain for real: a private PulseAudio server with a pipe source fed
// with French speech, recorded by the recorder through Qt Multimedia, and the file
// checked with tools that are not ours (Python's wave module, soxi, a RIFF walk in
// Python). Skipped, with the reason, only when the server cannot start.

#include "viewer/dictation/formdictee.h"

#include "common/profilefile.h"
#include "testsupport/qtestgtest.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace {

// Runs a program to its end; answers its standard output, or nothing with `ok` false.
QByteArray RunTool(const QString &program, const QStringList &arguments, bool *ok = nullptr, int timeoutMs = 60000)
{
    QProcess p;
    p.start(program, arguments);
    const bool done = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (ok)
        *ok = done;
    if (!done)
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

class RealAudioTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(runtime.isValid());
        // The server and this process's Qt Multimedia find each other through these.
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qputenv("HOME", runtime.path().toLocal8Bit());
        qunsetenv("PULSE_SERVER");
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start(QStringLiteral("pulseaudio"),
                     {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                      QStringLiteral("-L"), QStringLiteral("module-native-protocol-unix"), QStringLiteral("-L"),
                      QStringLiteral("module-null-sink sink_name=out")});
        if (!server.waitForStarted(10000))
            GTEST_SKIP() << "pulseaudio cannot be started: " << server.errorString().toStdString();
        const QString socket = runtime.filePath(QStringLiteral("pulse/native"));
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(socket) && server.state() == QProcess::Running && clock.elapsed() < 15000)
            server.waitForReadyRead(100);
        if (!QFile::exists(socket))
            GTEST_SKIP() << "the private PulseAudio server did not start: " << server.readAll().toStdString();
        fifo = runtime.filePath(QStringLiteral("mic.fifo"));
        bool ok = false;
        RunTool(QStringLiteral("pactl"),
            {QStringLiteral("load-module"), QStringLiteral("module-pipe-source"), QStringLiteral("source_name=mic"),
             QStringLiteral("file=") + fifo, QStringLiteral("format=s16le"), QStringLiteral("rate=11025"),
             QStringLiteral("channels=1")},
            &ok);
        ASSERT_TRUE(ok);
        RunTool(QStringLiteral("pactl"), {QStringLiteral("set-default-source"), QStringLiteral("mic")}, &ok);
        RunTool(QStringLiteral("pactl"), {QStringLiteral("set-default-sink"), QStringLiteral("out")}, &ok);
        shell.Create();
    }

    void TearDown() override
    {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(5000)) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
    }

    QTemporaryDir runtime;
    QProcess server;
    QString fifo;
    ShellFixture shell;
};

} // namespace

TEST_F(RealAudioTest, SpeechThroughPulseAudioIsRecordedIntoAFileOthersRead)
{
    // French speech in the recording format, as raw samples for the pipe source.
    const QString speechWav = runtime.filePath(QStringLiteral("speech.wav"));
    const QString speechRaw = runtime.filePath(QStringLiteral("speech.raw"));
    bool ok = false;
    RunTool(QStringLiteral("espeak-ng"),
        {QStringLiteral("-v"), QStringLiteral("fr"), QStringLiteral("-w"), speechWav,
         QStringLiteral("Compte rendu de l'examen. Le foie est de taille normale. Pas d'épanchement. Conclusion : examen normal.")},
        &ok);
    ASSERT_TRUE(ok);
    RunTool(QStringLiteral("sox"),
        {speechWav, QStringLiteral("-r"), QStringLiteral("11025"), QStringLiteral("-c"), QStringLiteral("1"),
         QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-e"), QStringLiteral("signed-integer"),
         QStringLiteral("-t"), QStringLiteral("raw"), speechRaw},
        &ok);
    ASSERT_TRUE(ok);
    QFile raw(speechRaw);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray speech = raw.readAll();
    ASSERT_GT(speech.size(), 3 * 22050);

    QTemporaryDir work;
    const QString folder = work.path() + QLatin1Char('/');
    common::ProfileFile ini(folder + QStringLiteral("KorvaneCD.INI"));
    ini.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("12345 9"));
    ASSERT_TRUE(ini.save());
    TFormDictee::ResetOnceMessages();
    TFormDictee recorder(std::make_shared<platform::QtAudioSystem>(), folder, folder, ini.path());
    recorder.Create(QStringLiteral("ACC-REAL"), {});
    EXPECT_EQ(recorder.InputDevice().isEmpty(), false);

    recorder.Key(0);
    ASSERT_TRUE(recorder.Recording());
    QTRY_COMPARE_WITH_TIMEOUT(recorder.StatusText(), QStringLiteral("ENREGISTREMENT EN COURS..."), 10000);
    // The speech goes in once the capture runs (the pipe source drops what comes before).
    QProcess feeder;
    feeder.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cat \"$0\" > \"$1\""), speechRaw, fifo});
    QElapsedTimer fed;
    fed.start();
    // Whole buffers are written as they come; the last, partial one at the pause.
    const qint64 wholeBuffers = speech.size() - speech.size() % platform::CaptureStream::kBufferSize;
    while (recorder.DataLength() < wholeBuffers && fed.elapsed() < 30000)
        QTest::qWait(20);
    recorder.Key(0);
    feeder.kill();
    feeder.waitForFinished(5000);
    ASSERT_GE(recorder.DataLength(), wholeBuffers);
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.Recording() && recorder.DictationPosition() == recorder.DataLength(), 10000);
    const QString path = recorder.DictationFile();

    // Python's wave module reads it; a RIFF walk finds the seven tags; the RMS of the
    // recording is that of the speech.
    const QByteArray report = RunTool(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys, wave, struct, array, math
path = sys.argv[1]
w = wave.open(path, 'rb')
assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (1, 2, 11025), w.getparams()
frames = w.readframes(w.getnframes())
a = array.array('h'); a.frombytes(frames)
rms = math.sqrt(sum(x * x for x in a) / max(1, len(a)))
s = array.array('h'); s.frombytes(open(sys.argv[2], 'rb').read())
srms = math.sqrt(sum(x * x for x in s) / max(1, len(s)))
data = open(path, 'rb').read()
assert data[:4] == b'RIFF' and data[8:12] == b'WAVE'
tags = {}
pos = 12
while pos + 8 <= len(data):
    cid, size = data[pos:pos+4], struct.unpack('<I', data[pos+4:pos+8])[0]
    if cid == b'LIST' and data[pos+8:pos+12] == b'INFO':
        p = pos + 12
        while p + 8 <= pos + 8 + size:
            sid, n = data[p:p+4].decode(), struct.unpack('<I', data[p+4:p+8])[0]
            tags[sid] = data[p+8:p+8+n].split(b'\0')[0].decode('cp1252')
            p += 8 + n + (n & 1)
    pos += 8 + size + (size & 1)
print('|'.join([str(w.getnframes()), str(round(rms)), str(round(srms)), ';'.join(k + '=' + tags[k] for k in sorted(tags))]))
)"),
                                                                      path, speechRaw},
                                  &ok);
    ASSERT_TRUE(ok);
    const QStringList fields = QString::fromUtf8(report).trimmed().split(QLatin1Char('|'));
    ASSERT_EQ(fields.size(), 4) << report.toStdString();
    const qint64 frames = fields[0].toLongLong();
    EXPECT_GE(frames, wholeBuffers / 2);
    const double rms = fields[1].toDouble(), speechRms = fields[2].toDouble();
    EXPECT_GT(speechRms, 500.0);
    // All the speech and little else: the level is within a fifth of the speech's.
    EXPECT_NEAR(rms, speechRms, speechRms * 0.2);
    EXPECT_EQ(fields[3], QStringLiteral("IARL=HOP. TREMBLEVAUX;ICMT=;IENG=12345;IGNR=Dictée;INAM=ACC-REAL;ISFT=KorvaneCD;ISRF=9"));

    // soxi: the duration of the speech, within 3 %.
    const double duration = RunTool(QStringLiteral("soxi"), {QStringLiteral("-D"), path}, &ok).trimmed().toDouble();
    ASSERT_TRUE(ok);
    const double expected = speech.size() / 22050.0;
    EXPECT_NEAR(duration, expected, expected * 0.03);

    // And it plays to its end through the null sink.
    recorder.Key(4);
    EXPECT_TRUE(recorder.Playing());
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.Playing(), 30000);
    EXPECT_EQ(recorder.CurrentGlyph(), int(TFormDictee::GlyphStopped));
    EXPECT_EQ(recorder.DictationPosition(), recorder.DataLength());
}
