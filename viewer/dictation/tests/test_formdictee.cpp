// The recorder's keys, positions and file on the clocked audio double.

#include "viewer/dictation/formdictee.h"

#include "common/profilefile.h"
#include "testsupport/qtestgtest.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using dictation::WaveFile;
using dictation::WaveFormat;

namespace {

constexpr qint64 kSecond = 22050;

// Sample n of the capture: a ramp, so that every byte of the file tells where it came from.
qint16 Ramp(qint64 n) { return qint16(n % 20000 - 10000); }

QByteArray RampBytes(qint64 fromFrame, qint64 frames)
{
    QByteArray b(frames * 2, '\0');
    for (qint64 i = 0; i < frames; ++i)
        qToLittleEndian<qint16>(Ramp(fromFrame + i), b.data() + 2 * i);
    return b;
}

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Chunk ids of a WAV file in order.
QStringList Chunks(const QByteArray &b)
{
    QStringList ids;
    qint64 at = 12;
    while (at + 8 <= b.size()) {
        const quint32 size = qFromLittleEndian<quint32>(b.constData() + at + 4);
        ids << QString::fromLatin1(b.mid(at, 4));
        at += 8 + size + (size & 1);
    }
    return ids;
}

class DicteeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        shell.Create();
        TFormDictee::ResetOnceMessages();
        folder = shell.dir.filePath(QStringLiteral("Visite")) + QLatin1Char('/');
        QDir().mkpath(folder);
        ini = folder + QStringLiteral("KorvaneCD.INI");
        audio = std::make_shared<platform::ClockedAudioSystem>();
        audio->Generator = Ramp;
    }

    void AddRadiologist(const QString &name, const QString &value)
    {
        common::ProfileFile file(ini);
        ASSERT_TRUE(file.load());
        file.writeString(QStringLiteral("Radiologistes"), name, value);
        ASSERT_TRUE(file.save());
    }

    // A prompt of `ms` milliseconds in the recording format.
    void WritePrompt(const char *name, int ms)
    {
        WaveFile w;
        ASSERT_TRUE(w.Create(folder + QLatin1String(name), WaveFormat::Recording()));
        ASSERT_TRUE(w.Append(QByteArray(qsizetype(kSecond * ms / 1000), '\x01')));
    }

    // A dictation already on disk: `frames` samples of the ramp.
    void WriteDictation(qint64 frames)
    {
        WaveFile w;
        ASSERT_TRUE(w.Create(folder + QStringLiteral("ACC42.wav"), WaveFormat::Recording()));
        ASSERT_TRUE(w.Append(RampBytes(0, frames)));
    }

    // The recorder, created with the radiologist list as it stands; dialogs are refused.
    void CreateRecorder()
    {
        recorder = std::make_unique<TFormDictee>(audio, folder, folder, ini);
        recorder->OnGlyph = [this](int g) { glyphs << g; };
        recorder->OnRadiologistShown = [this](const QString &name) { shown = name; };
        recorder->OnCloseRequest = [this] { ++closeRequests; };
        recorder->Create(QStringLiteral("ACC42"), [this](TTemplate6 &) {
            ++dialogs;
            return int(mrCancel);
        });
    }

    void Press(int digit) { recorder->Key(digit); }

    // Runs the clock until the recorder has taken in every notification.
    void Run(int ms)
    {
        audio->Advance(ms);
        QCoreApplication::processEvents();
    }

    ShellFixture shell;
    QString folder, ini;
    std::shared_ptr<platform::ClockedAudioSystem> audio;
    std::unique_ptr<TFormDictee> recorder;
    QList<int> glyphs;
    QString shown;
    int closeRequests = 0;
    int dialogs = 0;
};

} // namespace

TEST_F(DicteeTest, FiveSecondsPauseFiveSecondsMakeTenSecondsWithOneInfoChunk)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345 7"));
    WritePrompt(TFormDictee::kReadyPrompt, 500);
    CreateRecorder();
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(recorder->Radiologist.Licence, QStringLiteral("12345"));
    EXPECT_EQ(recorder->Radiologist.Group, QStringLiteral("7"));
    // The last devices of each list.
    EXPECT_EQ(recorder->InputDevice(), QStringLiteral("Micro 2"));
    EXPECT_EQ(recorder->OutputDevice(), QStringLiteral("Haut-parleurs 2"));
    EXPECT_TRUE(recorder->PromptPlaying());
    EXPECT_TRUE(glyphs.isEmpty());
    Run(600);
    QTRY_COMPARE(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));

    Press(0);
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphRecording));
    EXPECT_EQ(shown, QStringLiteral("DR ALPHA"));
    QTRY_COMPARE(recorder->StatusText(), QStringLiteral("ENREGISTREMENT EN COURS..."));
    EXPECT_EQ(audio->LastCaptureFormat, (platform::AudioFormat{11025, 1, 16}));
    Run(5000);
    // While recording the file is already a whole WAV file of what was captured.
    {
        WaveFile r;
        ASSERT_TRUE(r.OpenRead(recorder->DictationFile()));
        EXPECT_GE(r.DataLength(), 5 * kSecond - 4096);
    }
    Press(0);
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));
    EXPECT_EQ(recorder->StatusText(), QStringLiteral("MODE ENREGISTREMENT"));
    EXPECT_TRUE(recorder->PlayFromStart());
    QTRY_COMPARE(recorder->DataLength(), 5 * kSecond);
    EXPECT_EQ(recorder->DictationPosition(), 5 * kSecond);

    Press(0);
    Run(5000);
    Press(0);
    QTRY_COMPARE(recorder->DataLength(), 10 * kSecond);

    const QString path = folder + QStringLiteral("ACC42.wav");
    EXPECT_EQ(recorder->DictationFile(), path);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.DataLength(), 220500);
    // The second recording continues the first: the ramp runs on from frame 0 again.
    EXPECT_EQ(r.Read(5 * kSecond), RampBytes(0, 5 * 11025));
    EXPECT_EQ(r.Read(5 * kSecond), RampBytes(0, 5 * 11025));
    r.Close();
    const QStringList chunks = Chunks(FileBytes(path));
    EXPECT_EQ(chunks.count(QStringLiteral("LIST")), 1);
    EXPECT_EQ(chunks.count(QStringLiteral("data")), 1);
    EXPECT_EQ(chunks.last(), QStringLiteral("data"));
    bool found = false;
    const dictation::WaveTags tags = WaveFile::ReadTags(path, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(tags.Archive, QStringLiteral("HOP. TREMBLEVAUX"));
    EXPECT_EQ(tags.Engineer, QStringLiteral("12345"));
    EXPECT_EQ(tags.Name, QStringLiteral("ACC42"));
    EXPECT_EQ(tags.Software, QStringLiteral("KorvaneCD"));
    EXPECT_EQ(tags.Source, QStringLiteral("7"));
    EXPECT_EQ(tags.Comment, QString());
    EXPECT_EQ(tags.Genre, QStringLiteral("Dictée"));
}

TEST_F(DicteeTest, AnExistingDictationIsPlayedFromItsStartByFourAndAppendedToByZero)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WriteDictation(11025);
    CreateRecorder();
    EXPECT_EQ(recorder->DataLength(), kSecond);
    // No prompt file: one message, and the recorder goes on.
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(QLatin1String("RES_PretDicter.wav")));
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));

    Press(4);
    EXPECT_TRUE(recorder->Playing());
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphPlaying));
    EXPECT_EQ(recorder->StatusText(), QStringLiteral("ECOUTE EN COURS..."));
    Run(1500);
    QTRY_VERIFY(!recorder->Playing());
    EXPECT_EQ(audio->Played, RampBytes(0, 11025));
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));
    EXPECT_EQ(recorder->DictationPosition(), kSecond);

    Press(0);
    Run(1000);
    Press(0);
    QTRY_COMPARE(recorder->DataLength(), 2 * kSecond);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(folder + QStringLiteral("ACC42.wav")));
    EXPECT_EQ(r.Read(kSecond), RampBytes(0, 11025));
    EXPECT_EQ(r.Read(kSecond), RampBytes(0, 11025));
    // The pause set play-from-start: 2 now plays the whole dictation.
    audio->Played.clear();
    Press(2);
    Run(2500);
    QTRY_VERIFY(!recorder->Playing());
    EXPECT_EQ(audio->Played.size(), 2 * kSecond);
}

TEST_F(DicteeTest, PositionsWhileStoppedAndWhilePlaying)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WriteDictation(3 * 11025);
    CreateRecorder();
    // Stopping in the middle: back by the 4096 bytes the output still held.
    Press(2);
    Run(1000);
    Press(2);
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));
    QTRY_VERIFY(!recorder->Playing());
    const qint64 taken = kSecond + 2 * 4096;
    EXPECT_EQ(audio->Played.size(), taken);
    EXPECT_EQ(recorder->DictationPosition(), taken - 4096);
    // 2 resumes from there.
    audio->Played.clear();
    Press(2);
    EXPECT_TRUE(recorder->Playing());
    Run(10);
    EXPECT_TRUE(audio->Played.startsWith(RampBytes((taken - 4096) / 2, 100)));
    Press(2);
    QTRY_VERIFY(!recorder->Playing());

    // 1 and 8 while stopped.
    Press(1);
    EXPECT_EQ(recorder->DictationPosition(), 0);
    Press(8);
    EXPECT_EQ(recorder->DictationPosition(), 3 * kSecond);
    EXPECT_FALSE(recorder->Playing());
    // At the end, the next playback starts at the beginning.
    audio->Played.clear();
    Press(2);
    Run(10);
    EXPECT_TRUE(audio->Played.startsWith(RampBytes(0, 100)));

    // 8 and 1 while playing: one second forward, one second back, from where it plays.
    Run(990); // one second heard, two buffers taken ahead
    audio->Played.clear();
    Press(8);
    EXPECT_TRUE(recorder->Playing());
    const qint64 forward = kSecond + 2 * 4096 + kSecond;
    EXPECT_TRUE(audio->Played.startsWith(RampBytes(forward / 2, 100)));
    audio->Played.clear();
    Press(1);
    const qint64 back = forward + 2 * 4096 - kSecond;
    EXPECT_TRUE(audio->Played.startsWith(RampBytes(back / 2, 100)));
    // 4 while playing starts again from the beginning.
    audio->Played.clear();
    Press(4);
    EXPECT_TRUE(audio->Played.startsWith(RampBytes(0, 100)));
    // 3 while playing stops it.
    Press(3);
    QTRY_VERIFY(!recorder->Playing());
    EXPECT_EQ(closeRequests, 0);
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));
}

TEST_F(DicteeTest, IdleKeysThatHaveNothingToDo)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    CreateRecorder();
    const QString path = folder + QStringLiteral("ACC42.wav");
    const QList<int> before = glyphs;
    // 3 while neither recording nor playing: nothing, not even a file.
    Press(3);
    QCoreApplication::processEvents();
    EXPECT_EQ(glyphs, before);
    EXPECT_EQ(closeRequests, 0);
    EXPECT_FALSE(recorder->Finishing());
    EXPECT_FALSE(QFile::exists(path));
    // 4 before anything was recorded: an empty dictation file, nothing played.
    Press(4);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(recorder->Playing());
    EXPECT_EQ(audio->PlaybackStarts, 0);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.Format(), WaveFormat::Recording());
    EXPECT_EQ(r.DataLength(), 0);
}

TEST_F(DicteeTest, ThreeFinishesTheDictationAfterTheSavedPrompt)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WritePrompt(TFormDictee::kSavedPrompt, 400);
    WritePrompt(TFormDictee::kReadyPrompt, 100);
    CreateRecorder();
    Run(200);
    Press(0);
    Run(2000);
    Press(3);
    EXPECT_EQ(recorder->CurrentGlyph(), int(TFormDictee::GlyphNone));
    EXPECT_TRUE(recorder->Finishing());
    EXPECT_TRUE(recorder->PromptPlaying());
    EXPECT_EQ(closeRequests, 0);
    Run(500);
    QTRY_COMPARE(closeRequests, 1);
    EXPECT_EQ(WaveFile::ReadTags(folder + QStringLiteral("ACC42.wav")).Engineer, QStringLiteral("12345"));
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(folder + QStringLiteral("ACC42.wav")));
    EXPECT_EQ(r.DataLength(), 2 * kSecond);
}

TEST_F(DicteeTest, WithoutARadiologistZeroDoesNothing)
{
    CreateRecorder(); // empty list: the add dialog, cancelled
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(recorder->Radiologist.Empty());
    Press(0);
    EXPECT_FALSE(recorder->Recording());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("ACC42.wav")));
    // A radiologist added later makes it work.
    recorder->Radiologist = {QStringLiteral("DR BETA"), QStringLiteral("555"), QString()};
    Press(0);
    EXPECT_TRUE(recorder->Recording());
}

TEST_F(DicteeTest, PlaybackIsConvertedWhenTheOutputDoesNotTakeTheFileFormat)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WriteDictation(11025);
    audio->OutputFormats = {platform::AudioFormat{44100, 2, 16}};
    audio->Preferred = {44100, 2, 16};
    CreateRecorder();
    Press(4);
    EXPECT_EQ(audio->LastPlaybackFormat, (platform::AudioFormat{44100, 2, 16}));
    Run(300);
    // Positions stay in the file's bytes.
    EXPECT_NEAR(double(recorder->DictationPosition()), double(0.3 * kSecond + 2 * 4096 / 8.0), 600.0);
    Run(1000);
    QTRY_VERIFY(!recorder->Playing());
    // Four times the frames, two channels: about eight times the bytes.
    EXPECT_NEAR(double(audio->Played.size()), 8.0 * kSecond, 8.0 * 64);
}

TEST_F(DicteeTest, AFileThatCannotBeWrittenIsNeverRecordedInto)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    recorder = std::make_unique<TFormDictee>(audio, QStringLiteral("/proc/"), folder, ini);
    recorder->Create(QStringLiteral("ACC42"), {});
    shell.messages.clear();
    Press(0);
    EXPECT_FALSE(recorder->Recording());
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(QLatin1String("/proc/ACC42.wav")));
    EXPECT_TRUE(audio->LastCaptureDevice.isEmpty());
}

TEST(DicteeFileName, AccessionNumbersCannotLeaveTheFolder)
{
    EXPECT_EQ(TFormDictee::SafeFileName(QStringLiteral("ACC42")), QStringLiteral("ACC42"));
    EXPECT_EQ(TFormDictee::SafeFileName(QStringLiteral("../../etc/passwd")), QStringLiteral("______etc_passwd"));
    EXPECT_EQ(TFormDictee::SafeFileName(QStringLiteral("C:\\x")), QStringLiteral("C__x"));
    EXPECT_EQ(TFormDictee::SafeFileName(QStringLiteral("a\nb\tc")), QStringLiteral("a_b_c"));
    EXPECT_EQ(TFormDictee::SafeFileName(QStringLiteral("..")), QStringLiteral("__"));
    EXPECT_EQ(TFormDictee::SafeFileName(QString()), QStringLiteral("_"));
    for (const QString &hostile : {QStringLiteral("../x"), QStringLiteral("/abs"), QStringLiteral(".."),
                                   QStringLiteral("a/../../b"), QStringLiteral("..\\..\\c")}) {
        const QString name = TFormDictee::SafeFileName(hostile);
        EXPECT_FALSE(name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QStringLiteral("..")))
            << name.toStdString();
    }
}

TEST_F(DicteeTest, NoAudioDeviceIsToldOnceAndTheDefaultDevicesAreUsed)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WritePrompt(TFormDictee::kReadyPrompt, 100);
    audio->Inputs.clear();
    audio->Outputs.clear();
    CreateRecorder();
    recorder.reset();
    CreateRecorder();
    int told = 0;
    for (const RecordedMessage &m : shell.messages)
        told += m.text.contains(QStringLiteral("Aucun périphérique audio"));
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(recorder->InputDevice().isEmpty());
    Press(0);
    EXPECT_TRUE(recorder->Recording());
    EXPECT_TRUE(audio->LastCaptureDevice.isEmpty());
}

// A recording whose process is killed: the child (this program again) records three
// seconds and kills itself; the file it leaves is read by Python's wave module and
// appended to afterwards.
TEST(DicteeKilled, DISABLED_Child)
{
    const QString folder = qEnvironmentVariable("KORVANE_DICTEE_KILL_FOLDER");
    ASSERT_FALSE(folder.isEmpty());
    auto audio = std::make_shared<platform::ClockedAudioSystem>();
    audio->Generator = Ramp;
    TFormDictee recorder(audio, folder, folder, folder + QStringLiteral("KorvaneCD.INI"));
    recorder.Create(QStringLiteral("ACC42"), {});
    recorder.Key(0);
    QCoreApplication::processEvents();
    audio->Advance(3000);
    ::kill(::getpid(), SIGKILL);
}

TEST_F(DicteeTest, AKilledRecordingLeavesAPlayableFileThatLaterRecordingsContinue)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVANE_DICTEE_KILL_FOLDER"), folder);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"), QStringLiteral("--gtest_filter=DicteeKilled.DISABLED_Child")});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAll().toStdString();
    const QString path = folder + QStringLiteral("ACC42.wav");
    ASSERT_TRUE(QFile::exists(path));
    // Everything up to the last whole buffer is there, and the header says so.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, wave, struct\n"
                                 "d = open(sys.argv[1], 'rb').read()\n"
                                 "assert struct.unpack('<I', d[4:8])[0] == len(d) - 8\n"
                                 "w = wave.open(sys.argv[1], 'rb')\n"
                                 "print(w.getnframes())\n"),
                  path});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const qint64 frames = python.readAllStandardOutput().trimmed().toLongLong();
    const qint64 wholeBuffers = (3 * kSecond) / 4096 * 4096;
    EXPECT_EQ(frames * 2, wholeBuffers);

    CreateRecorder();
    EXPECT_EQ(recorder->DataLength(), wholeBuffers);
    Press(0);
    Run(1000);
    Press(0);
    QTRY_COMPARE(recorder->DataLength(), wholeBuffers + kSecond);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.Read(wholeBuffers), RampBytes(0, wholeBuffers / 2));
}

// ---------------------------------------------------------------------------------------
// Write failures, damaged dictations and files that are not what their name says.

// A recording under a file size limit: the child (this program again) records ten seconds
// of the ramp with the limit at 120,000 bytes (SIGXFSZ ignored, so the write fails with
// EFBIG as on a full disk) and prints what the user was shown.
TEST(DicteeWriteLimit, DISABLED_Child)
{
    const QString folder = qEnvironmentVariable("KORVANE_DICTEE_LIMIT_FOLDER");
    ASSERT_FALSE(folder.isEmpty());
    ShellFixture shell;
    shell.Create();
    TFormDictee::ResetOnceMessages();
    auto audio = std::make_shared<platform::ClockedAudioSystem>();
    audio->Generator = Ramp;
    // As the real message box: an event loop runs while it shows, and it must never be
    // shown while the capture stream is handing over a buffer (the stream may go then).
    bool toldDuringDelivery = false;
    TemplateDM().SetMessageDialogFunction([&](const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons) {
        shell.messages.push_back({text, kind, buttons});
        toldDuringDelivery = toldDuringDelivery || audio->Delivering > 0;
        QEventLoop modal;
        QTimer::singleShot(0, &modal, &QEventLoop::quit);
        modal.exec();
        return int(mrOk);
    });
    TFormDictee recorder(audio, folder, folder, folder + QStringLiteral("KorvaneCD.INI"));
    recorder.Create(QStringLiteral("ACC42"), {});
    recorder.Key(0);
    QCoreApplication::processEvents();
    bool recordingGlyphAfterFailure = false;
    for (int ms = 0; ms < 10000; ms += 100) {
        audio->Advance(100);
        QCoreApplication::processEvents();
        const bool told = std::any_of(shell.messages.begin(), shell.messages.end(), [](const RecordedMessage &m) {
            return m.text.startsWith(QStringLiteral("L'écriture de la dictée"));
        });
        if (told && recorder.CurrentGlyph() == TFormDictee::GlyphRecording)
            recordingGlyphAfterFailure = true;
    }
    std::printf("GLYPH %d RECORDING %d STALE %d INSIDE %d\n", recorder.CurrentGlyph(), int(recorder.Recording()),
                int(recordingGlyphAfterFailure), int(toldDuringDelivery));
    for (const RecordedMessage &m : shell.messages)
        std::printf("MESSAGE %s\n", qPrintable(QString(m.text).replace(QLatin1Char('\r'), QLatin1Char(' '))));
    std::fflush(stdout);
}

TEST_F(DicteeTest, AWriteFailureStopsTheRecordingKeepsWhatCameBeforeAndSaysSo)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345 7"));
    constexpr qint64 kLimit = 120000;
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVANE_DICTEE_LIMIT_FOLDER"), folder);
    child.setProcessEnvironment(env);
    child.setChildProcessModifier([] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {kLimit, kLimit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_also_run_disabled_tests"),
                                                          QStringLiteral("--gtest_filter=DicteeWriteLimit.DISABLED_Child")});
    ASSERT_TRUE(child.waitForFinished(120000));
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    ASSERT_EQ(child.exitStatus(), QProcess::NormalExit) << out.toStdString();
    // The capture stopped, the button shows the stopped picture, never the recording one
    // after the failure, and the recorder's own message names the reason.
    EXPECT_TRUE(out.contains(QStringLiteral("GLYPH 56 RECORDING 0 STALE 0 INSIDE 0"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("MESSAGE L'écriture de la dictée ") + folder
                             + QStringLiteral("ACC42.wav a échoué ; ce qui précède est conservé : Le fichier a atteint la "
                                              "taille maximale permise.")))
        << out.toStdString();
    EXPECT_EQ(out.count(QStringLiteral("L'écriture de la dictée")), 1) << out.toStdString();

    // Every byte up to the limit is the ramp as captured, in order, and the header says so.
    const QByteArray bytes = FileBytes(folder + QStringLiteral("ACC42.wav"));
    ASSERT_GT(bytes.size(), 1068);
    EXPECT_LE(bytes.size(), kLimit);
    EXPECT_GE(bytes.size(), kLimit - 4096);
    EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + 4), quint32(bytes.size() - 8));
    EXPECT_EQ(Chunks(bytes).last(), QStringLiteral("data"));
    const qint64 data = qFromLittleEndian<quint32>(bytes.constData() + 1064);
    EXPECT_EQ(data, bytes.size() - 1068);
    EXPECT_EQ(bytes.mid(1068), RampBytes(0, data / 2));
    // It keeps its radiologist.
    EXPECT_EQ(WaveFile::ReadTags(folder + QStringLiteral("ACC42.wav")).Engineer, QStringLiteral("12345"));
}

TEST_F(DicteeTest, PlayingThePromptNeverWritesIt)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    WritePrompt(TFormDictee::kReadyPrompt, 300);
    const QString prompt = folder + QLatin1String(TFormDictee::kReadyPrompt);
    // Its sizes are stale, as a tool may leave them: reading must not correct them.
    QByteArray bytes = FileBytes(prompt);
    qToLittleEndian<quint32>(quint32(bytes.size()), bytes.data() + 4);
    {
        QFile f(prompt);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        ASSERT_TRUE(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    const QDateTime date = QFileInfo(prompt).lastModified();
    CreateRecorder();
    EXPECT_TRUE(recorder->PromptPlaying());
    Run(400);
    QTRY_COMPARE(recorder->CurrentGlyph(), int(TFormDictee::GlyphStopped));
    EXPECT_FALSE(audio->Played.isEmpty());
    recorder.reset();
    EXPECT_EQ(FileBytes(prompt), bytes);
    EXPECT_EQ(QFileInfo(prompt).lastModified(), date);
}

// Dictations the recorder cannot continue: a LIST cut short before the data, IMA ADPCM,
// 1 and 0 samples per second, no channel. Opening the recorder, pressing 0 and 4 keep each
// byte for byte, and the user is told in French.
TEST_F(DicteeTest, ADictationThatCannotBeContinuedIsKeptByteForByteAndTold)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    auto wav = [](const QByteArray &chunks, qsizetype audioBytes) {
        const QByteArray body = "WAVE" + chunks + "data" + dictation::LittleEndian32(quint32(audioBytes))
                                + RampBytes(0, audioBytes / 2) + QByteArray(audioBytes % 2, '\x01');
        return "RIFF" + dictation::LittleEndian32(quint32(body.size())) + body;
    };
    auto fmt = [](quint16 tag, quint16 channels, quint32 rate, quint32 avg, quint16 align, quint16 bits) {
        using dictation::LittleEndian16, dictation::LittleEndian32;
        return "fmt " + LittleEndian32(16) + LittleEndian16(tag) + LittleEndian16(channels) + LittleEndian32(rate)
               + LittleEndian32(avg) + LittleEndian16(align) + LittleEndian16(bits);
    };
    const QList<QByteArray> files = {
        wav(fmt(1, 1, 11025, 22050, 2, 16) + "LIST" + dictation::LittleEndian32(90000) + "INFO", 44100),
        wav(fmt(0x11, 1, 11025, 5588, 256, 4), 44000),
        wav(fmt(1, 1, 1, 2, 2, 16), 44100),
        wav(fmt(1, 1, 0, 0, 2, 16), 44100),
        wav(fmt(1, 0, 11025, 22050, 2, 16), 44100),
    };
    const QString path = folder + QStringLiteral("ACC42.wav");
    for (const QByteArray &original : files) {
        {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(original);
        }
        shell.messages.clear();
        TFormDictee::ResetOnceMessages();
        CreateRecorder();
        ASSERT_FALSE(shell.messages.empty());
        EXPECT_TRUE(shell.messages[0].text.contains(QStringLiteral("conservée telle quelle")))
            << shell.messages[0].text.toStdString();
        EXPECT_EQ(FileBytes(path), original);
        shell.messages.clear();
        Press(0);
        Run(500);
        EXPECT_FALSE(recorder->Recording());
        EXPECT_NE(recorder->CurrentGlyph(), int(TFormDictee::GlyphRecording));
        ASSERT_EQ(shell.messages.size(), 1u);
        EXPECT_TRUE(shell.messages[0].text.contains(QStringLiteral("ne peut pas être complétée")))
            << shell.messages[0].text.toStdString();
        Press(4);
        Run(500);
        EXPECT_FALSE(recorder->Playing());
        recorder.reset();
        EXPECT_EQ(FileBytes(path), original);
    }
}

TEST_F(DicteeTest, ALinkNamedLikeTheDictationIsNeverWrittenThrough)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    QTemporaryDir elsewhere;
    const QString other = elsewhere.filePath(QStringLiteral("AUTRE.wav"));
    {
        WaveFile w;
        ASSERT_TRUE(w.Create(other, WaveFormat::Recording()));
        ASSERT_TRUE(w.Append(RampBytes(0, 1000)));
    }
    const QByteArray before = FileBytes(other);
    ASSERT_TRUE(QFile::link(other, folder + QStringLiteral("ACC42.wav")));
    CreateRecorder();
    shell.messages.clear();
    Press(0);
    Run(500);
    EXPECT_FALSE(recorder->Recording());
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(QStringLiteral("lien symbolique"))) << shell.messages[0].text.toStdString();
    recorder.reset();
    EXPECT_EQ(FileBytes(other), before);

    // A dangling link: the dictation is not created where it points.
    QFile::remove(folder + QStringLiteral("ACC42.wav"));
    const QString nowhere = elsewhere.filePath(QStringLiteral("NOUVEAU.wav"));
    ASSERT_TRUE(QFile::link(nowhere, folder + QStringLiteral("ACC42.wav")));
    CreateRecorder();
    Press(0);
    Run(500);
    EXPECT_FALSE(recorder->Recording());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

TEST_F(DicteeTest, AVeryLongAccessionNumberGivesAFileNameTheFileSystemTakes)
{
    AddRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    recorder = std::make_unique<TFormDictee>(audio, folder, folder, ini);
    const QString accession = QString(500, QLatin1Char('A'));
    recorder->Create(accession, {});
    shell.messages.clear();
    Press(0);
    Run(1000);
    Press(0);
    EXPECT_TRUE(shell.messages.empty()) << shell.messages[0].text.toStdString();
    const QString name = QFileInfo(recorder->DictationFile()).fileName();
    EXPECT_LE(QFile::encodeName(name).size(), 255);
    EXPECT_TRUE(name.startsWith(QString(200, QLatin1Char('A'))));
    EXPECT_TRUE(name.endsWith(QStringLiteral(".wav")));
    QTRY_COMPARE(recorder->DataLength(), kSecond);
    // The tag keeps the accession number (as far as a tag holds).
    EXPECT_TRUE(accession.startsWith(WaveFile::ReadTags(recorder->DictationFile()).Name));
}
