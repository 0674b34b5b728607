// The dictation's WAV file: read back by our reader and by layout checks made here
// byte by byte (Python's wave module and soxi check the same files in the audio chain
// tests).

#include "viewer/dictation/wavefile.h"

#include "testsupport/fifoguard.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

using dictation::WaveFile;
using dictation::WaveFormat;
using dictation::WaveTags;

namespace {

QByteArray Samples(int count, int start = 0)
{
    QByteArray b;
    for (int i = 0; i < count; ++i) {
        const qint16 v = qint16((start + i) * 7);
        b.append(reinterpret_cast<const char *>(&v), 2);
    }
    return b;
}

quint32 U32At(const QByteArray &b, qint64 at) { return qFromLittleEndian<quint32>(b.constData() + at); }

QByteArray FileBytes(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// The chunk ids of a file, in order, and checks that every size fits the file.
QStringList Chunks(const QByteArray &b)
{
    QStringList ids;
    EXPECT_EQ(U32At(b, 4), quint32(b.size() - 8)) << "RIFF size";
    qint64 at = 12;
    while (at + 8 <= b.size()) {
        const quint32 size = U32At(b, at + 4);
        ids << QString::fromLatin1(b.mid(at, 4));
        EXPECT_LE(at + 8 + size, b.size()) << ids.last().toStdString();
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, b.size());
    return ids;
}

WaveTags Tags()
{
    WaveTags t;
    t.Archive = QStringLiteral("HOP. TREMBLEVAUX");
    t.Engineer = QStringLiteral("12345");
    t.Name = QStringLiteral("ACC42");
    t.Software = QStringLiteral("KorvaneCD");
    t.Source = QStringLiteral("7");
    t.Genre = QStringLiteral("Dictée");
    return t;
}

void WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Dates the file an hour back, so that any write would show in its date.
QDateTime Age(const QString &path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadWrite));
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    EXPECT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    f.close();
    return QFileInfo(path).lastModified();
}

class WaveFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("ACC42.wav"));
};

} // namespace

TEST_F(WaveFileTest, CreateAppendTagAndAppendAgainKeepsOneInfoAndOneData)
{
    {
        WaveFile w;
        ASSERT_TRUE(w.Create(path, WaveFormat::Recording()));
        ASSERT_TRUE(w.Append(Samples(1000)));
        ASSERT_TRUE(w.WriteTags(Tags()));
    }
    {
        WaveFile w;
        ASSERT_TRUE(w.OpenAppend(path));
        EXPECT_EQ(w.DataLength(), 2000);
        ASSERT_TRUE(w.Append(Samples(500, 1000)));
        WaveTags second = Tags();
        second.Engineer = QStringLiteral("999");
        ASSERT_TRUE(w.WriteTags(second));
    }
    const QByteArray bytes = FileBytes(path);
    EXPECT_EQ(Chunks(bytes), (QStringList{"fmt ", "LIST", "JUNK", "data"}));
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.Format(), WaveFormat::Recording());
    EXPECT_EQ(r.DataLength(), 3000);
    EXPECT_EQ(r.Read(10000), Samples(1500));
    bool found = false;
    const WaveTags tags = WaveFile::ReadTags(path, &found);
    EXPECT_TRUE(found);
    EXPECT_EQ(tags.Engineer, QStringLiteral("999"));
    EXPECT_EQ(tags.Genre, QStringLiteral("Dictée"));
    // The genre is written in Windows-1252: "é" is one byte 0xE9.
    EXPECT_TRUE(bytes.contains(QByteArray("IGNR\x07\0\0\0Dict\xE9" "e\0", 15)));
    EXPECT_TRUE(bytes.contains(QByteArray("ICMT\x01\0\0\0\0\0", 10)));
}

TEST_F(WaveFileTest, KilledWhileWritingLeavesAValidFileThatReadingNeverTouchesAndAppendingContinues)
{
    WaveFile w;
    ASSERT_TRUE(w.Create(path, WaveFormat::Recording()));
    ASSERT_TRUE(w.Append(Samples(2048)));
    // What a kill leaves: the sizes as of the last buffer, valid as they stand.
    QByteArray bytes = FileBytes(path);
    Chunks(bytes);
    EXPECT_EQ(U32At(bytes, bytes.size() - 4096 - 4), 4096u);
    ASSERT_TRUE(w.Close());
    // A crash between writing audio and its size update: 3 more samples and half a
    // sample on disk, the header still saying 4096.
    bytes += Samples(3) + QByteArray(1, 'x');
    WriteBytes(path, bytes);
    const QDateTime old = Age(path);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.DataLength(), 4096 + 6);
    EXPECT_EQ(r.Read(100000), Samples(2048) + Samples(3));
    r.Close();
    // Reading wrote nothing: same bytes, same date.
    EXPECT_EQ(FileBytes(path), bytes);
    EXPECT_EQ(QFileInfo(path).lastModified(), old);

    // Appending keeps every byte: the half sample is completed, not dropped.
    ASSERT_TRUE(w.OpenAppend(path));
    EXPECT_EQ(w.DataLength(), 4104);
    ASSERT_TRUE(w.Append(Samples(1, 9)));
    ASSERT_TRUE(w.Close());
    QByteArray after = FileBytes(path);
    EXPECT_EQ(Chunks(after).last(), QStringLiteral("data"));
    const qsizetype audioStart = bytes.size() - 4103;
    EXPECT_EQ(after.mid(audioStart), Samples(2048) + Samples(3) + QByteArray("x\0", 2) + Samples(1, 9));
    EXPECT_EQ(after.mid(8, audioStart - 12), bytes.mid(8, audioStart - 12));

    // Sizes that claim more than the file holds are brought down to it.
    bytes = after;
    qToLittleEndian<quint32>(0x7FFFFFF0, bytes.data() + 4);
    qToLittleEndian<quint32>(0x7FFFFFF0, bytes.data() + bytes.size() - 4106 - 4);
    WriteBytes(path, bytes);
    ASSERT_TRUE(w.OpenAppend(path));
    EXPECT_EQ(w.DataLength(), 4106);
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(FileBytes(path), after);
}

TEST_F(WaveFileTest, ForeignLayoutIsRebuiltBeforeAppendingInItsOwnFormat)
{
    // A stereo 8 kHz file with its INFO chunk after the data and another chunk before it.
    const WaveFormat stereo = WaveFormat::Pcm(2, 8000, 16);
    QByteArray fmt("fmt ");
    fmt += dictation::LittleEndian32(16) + dictation::LittleEndian16(1) + dictation::LittleEndian16(2)
           + dictation::LittleEndian32(8000) + dictation::LittleEndian32(32000) + dictation::LittleEndian16(4)
           + dictation::LittleEndian16(16);
    const QByteArray audio = Samples(400);
    QByteArray body = "WAVE" + fmt + "fact" + dictation::LittleEndian32(4) + dictation::LittleEndian32(200) + "data"
                      + dictation::LittleEndian32(quint32(audio.size())) + audio + "LIST"
                      + dictation::LittleEndian32(16) + "INFOINAM" + dictation::LittleEndian32(4) + QByteArray("OLD\0", 4);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("RIFF" + dictation::LittleEndian32(quint32(body.size())) + body);
    }
    WaveFile w;
    ASSERT_TRUE(w.OpenAppend(path));
    EXPECT_EQ(w.Format(), stereo);
    EXPECT_EQ(w.DataLength(), 800);
    // Before new tags are written, the old ones are kept.
    EXPECT_EQ(WaveFile::ReadTags(path).Name, QStringLiteral("OLD"));
    ASSERT_TRUE(w.Append(Samples(4, 400)));
    ASSERT_TRUE(w.WriteTags(Tags()));
    w.Close();
    EXPECT_EQ(Chunks(FileBytes(path)), (QStringList{"fmt ", "fact", "LIST", "JUNK", "data"}));
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.Read(100000), Samples(404));
    EXPECT_EQ(WaveFile::ReadTags(path).Name, QStringLiteral("ACC42"));
}

TEST_F(WaveFileTest, LongTagsAreCutToFitAndNotAWaveFileIsRefused)
{
    WaveFile w;
    ASSERT_TRUE(w.Create(path, WaveFormat::Recording()));
    WaveTags t = Tags();
    t.Archive = QString(5000, QLatin1Char('A'));
    t.Comment = QString(5000, QLatin1Char('C'));
    ASSERT_TRUE(w.WriteTags(t));
    ASSERT_TRUE(w.Append(Samples(10)));
    w.Close();
    EXPECT_EQ(Chunks(FileBytes(path)), (QStringList{"fmt ", "LIST", "JUNK", "data"}));
    EXPECT_EQ(WaveFile::ReadTags(path).Archive.size(), WaveFile::kMaxTagBytes);

    const QString text = dir.filePath(QStringLiteral("text.wav"));
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a sound file at all");
    f.close();
    WaveFile bad;
    EXPECT_FALSE(bad.OpenAppend(text));
    EXPECT_FALSE(bad.ErrorString().isEmpty());
    EXPECT_EQ(FileBytes(text), QByteArray("not a sound file at all"));
}

// ---------------------------------------------------------------------------------------
// Damaged and hostile dictations: reading never writes, appending never removes audio, a
// file that cannot be understood or continued is kept byte for byte.

namespace {

using dictation::LittleEndian16;
using dictation::LittleEndian32;

QByteArray FmtChunk(quint16 tag, quint16 channels, quint32 rate, quint32 avg, quint16 align, quint16 bits,
                    const QByteArray &extra = {})
{
    const QByteArray body = LittleEndian16(tag) + LittleEndian16(channels) + LittleEndian32(rate) + LittleEndian32(avg)
                            + LittleEndian16(align) + LittleEndian16(bits) + extra;
    return "fmt " + LittleEndian32(quint32(body.size())) + body;
}

QByteArray MonoFmt() { return FmtChunk(1, 1, 11025, 22050, 2, 16); }

// A WAV file as other programs write it: the chunks given, then the data.
QByteArray Wav(const QByteArray &chunks, const QByteArray &audio)
{
    const QByteArray body = "WAVE" + chunks + "data" + LittleEndian32(quint32(audio.size())) + audio;
    return "RIFF" + LittleEndian32(quint32(body.size())) + body;
}

class DamagedWaveTest : public WaveFileTest
{
protected:
    // The file is written and dated an hour back.
    void Put(const QByteArray &bytes)
    {
        original = bytes;
        WriteBytes(path, bytes);
        date = Age(path);
    }
    void ExpectUntouched()
    {
        EXPECT_EQ(FileBytes(path), original);
        EXPECT_EQ(QFileInfo(path).lastModified(), date);
    }
    QByteArray original;
    QDateTime date;
};

} // namespace

TEST_F(DamagedWaveTest, ChunksCutShortOrBadFormatsAreNeverShortened)
{
    const QByteArray audio = Samples(22050); // 44,100 bytes
    // A LIST before the data whose size runs past the end of the file: the data cannot be
    // found with certainty.
    Put(Wav(MonoFmt() + "LIST" + LittleEndian32(1000000) + "INFOISFT" + LittleEndian32(4) + QByteArray("abc\0", 4), audio));
    WaveFile w;
    EXPECT_FALSE(w.OpenRead(path));
    EXPECT_FALSE(w.OpenAppend(path));
    EXPECT_TRUE(w.ErrorString().contains(QStringLiteral("endommagé"))) << w.ErrorString().toStdString();
    ExpectUntouched();

    // A block size larger than the data, and one that does not match the format.
    Put(Wav(FmtChunk(1, 1, 11025, 22050 * 2048, 4096, 16), audio.left(4095)));
    EXPECT_FALSE(w.OpenRead(path));
    EXPECT_FALSE(w.OpenAppend(path));
    EXPECT_TRUE(w.ErrorString().contains(QStringLiteral("taille des blocs"))) << w.ErrorString().toStdString();
    ExpectUntouched();

    // IMA ADPCM: not PCM, refused before anything is written (its 256-byte blocks were cut).
    Put(Wav(FmtChunk(0x11, 1, 11025, 5588, 256, 4, LittleEndian16(2) + LittleEndian16(505)) + "fact"
                + LittleEndian32(4) + LittleEndian32(87000),
            audio.left(44000)));
    EXPECT_FALSE(w.OpenRead(path));
    EXPECT_FALSE(w.OpenAppend(path));
    EXPECT_TRUE(w.ErrorString().contains(QStringLiteral("PCM"))) << w.ErrorString().toStdString();
    ExpectUntouched();

    // Rates, channels and sizes outside what PCM allows or not matching each other: 1 and
    // 0 samples per second, no channel, 12 bits, a byte rate that says otherwise.
    const QList<QByteArray> formats = {
        FmtChunk(1, 1, 1, 2, 2, 16),          FmtChunk(1, 1, 0, 0, 2, 16),        FmtChunk(1, 0, 11025, 0, 0, 16),
        FmtChunk(1, 1, 11025, 22050, 2, 12), FmtChunk(1, 1, 11025, 1, 2, 16), FmtChunk(1, 2, 11025, 44100, 2, 16),
        FmtChunk(1, 1, 4000000000u, 4000000000u, 2, 16),
    };
    for (const QByteArray &fmt : formats) {
        Put(Wav(fmt, audio));
        EXPECT_FALSE(w.OpenRead(path)) << fmt.toHex().toStdString();
        EXPECT_FALSE(w.OpenAppend(path)) << fmt.toHex().toStdString();
        EXPECT_FALSE(w.ErrorString().isEmpty());
        ExpectUntouched();
    }
    // 24 bits is played (converted) but cannot be recorded into.
    Put(Wav(FmtChunk(1, 1, 11025, 33075, 3, 24), audio.left(3000)));
    EXPECT_TRUE(w.OpenRead(path));
    EXPECT_EQ(w.DataLength(), 3000);
    EXPECT_FALSE(w.OpenAppend(path));
    ExpectUntouched();
}

TEST_F(DamagedWaveTest, AnOddListWithoutItsPadByteIsRebuiltWithEveryAudioByte)
{
    const QByteArray audio = Samples(22050);
    // "INFO" + INAM sub-chunk of one letter: 13 bytes, written without the pad byte.
    const QByteArray list = "LIST" + LittleEndian32(13) + "INFOINAM" + LittleEndian32(1) + "X";
    Put(Wav(MonoFmt() + list, audio));
    WaveFile w;
    ASSERT_TRUE(w.OpenRead(path));
    EXPECT_EQ(w.Read(100000), audio);
    w.Close();
    ExpectUntouched();

    ASSERT_TRUE(w.OpenAppend(path)) << w.ErrorString().toStdString();
    EXPECT_EQ(w.DataLength(), audio.size());
    ASSERT_TRUE(w.Append(Samples(10, 22050)));
    ASSERT_TRUE(w.Close());
    const QByteArray after = FileBytes(path);
    EXPECT_EQ(Chunks(after).last(), QStringLiteral("data"));
    EXPECT_EQ(WaveFile::ReadTags(path).Name, QStringLiteral("X"));
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.Read(1000000), Samples(22060));
}

TEST_F(DamagedWaveTest, DictationsAreWrittenOnlyAsRegularFilesNeverThroughALink)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("other.wav"));
    const QByteArray other = Wav(MonoFmt(), Samples(100));
    WriteBytes(target, other);
    ASSERT_TRUE(QFile::link(target, path));
    WaveFile w;
    EXPECT_FALSE(w.OpenAppend(path));
    EXPECT_TRUE(w.ErrorString().contains(QStringLiteral("lien"))) << w.ErrorString().toStdString();
    EXPECT_FALSE(w.Create(path, WaveFormat::Recording()));
    EXPECT_EQ(FileBytes(target), other);
    EXPECT_TRUE(QFileInfo(path).isSymLink());
    // Reading through it is harmless, and writes nothing.
    EXPECT_TRUE(w.OpenRead(path));
    w.Close();

    // A dangling link: nothing is created where it points.
    const QString nowhere = elsewhere.filePath(QStringLiteral("created.wav"));
    const QString dangling = dir.filePath(QStringLiteral("ACC43.wav"));
    ASSERT_TRUE(QFile::link(nowhere, dangling));
    EXPECT_FALSE(w.Create(dangling, WaveFormat::Recording()));
    EXPECT_FALSE(w.OpenAppend(dangling));
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

TEST_F(DamagedWaveTest, AFifoInPlaceOfADictationOrAPromptIsRefusedWithoutWaiting)
{
    testsupport::FifoGuard fifo;
    ASSERT_TRUE(fifo.Make(path));
    fifo.Start();
    WaveFile w;
    EXPECT_FALSE(w.OpenRead(path));
    EXPECT_FALSE(w.OpenAppend(path));
    EXPECT_FALSE(w.Create(path, WaveFormat::Recording()));
    EXPECT_TRUE(w.ErrorString().contains(QStringLiteral("fichier ordinaire"))) << w.ErrorString().toStdString();
    bool found = true;
    WaveFile::ReadTags(path, &found);
    EXPECT_FALSE(found);
    EXPECT_FALSE(fifo.Fired()) << "an open waited on the FIFO";
    EXPECT_TRUE(QFileInfo(path).exists() && !QFileInfo(path).isFile());
}

// Headers mutated at random (fixed seed): whatever the bytes, opening for reading never
// writes, and opening for appending either refuses with the file untouched or keeps every
// byte the reader saw as audio.
TEST_F(DamagedWaveTest, MutatedHeadersNeverLoseAudio)
{
    const QByteArray base = Wav(MonoFmt() + "LIST" + LittleEndian32(13) + "INFOINAM" + LittleEndian32(1) + "X" + '\0',
                                Samples(500));
    std::mt19937 random(20261210);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = base;
        const int changes = 1 + int(random() % 4);
        for (int c = 0; c < changes; ++c) {
            const int at = int(random() % 80); // the header and the first chunks
            switch (random() % 3) {
            case 0: bytes[at] = char(random()); break;
            case 1: bytes[at] = 0; break;
            default: qToLittleEndian<quint32>(quint32(random() % 8 == 0 ? 1 : random()), bytes.data() + at); break;
            }
        }
        if (random() % 4 == 0)
            bytes.chop(int(random() % 200));
        Put(bytes);
        WaveFile w;
        QByteArray heard;
        if (w.OpenRead(path))
            heard = w.Read(1 << 20);
        w.Close();
        ExpectUntouched();
        if (w.OpenAppend(path)) {
            ASSERT_TRUE(w.Close());
            WaveFile r;
            ASSERT_TRUE(r.OpenRead(path)) << round;
            EXPECT_TRUE(r.Read(1 << 20).startsWith(heard)) << round;
        } else {
            ExpectUntouched();
        }
        if (HasFailure()) {
            ADD_FAILURE() << "round " << round << ": " << bytes.left(80).toHex().toStdString();
            break;
        }
    }
}
