// The dictation's WAV file: read back by our reader and by layout checks made here
// byte by byte (Python's wave module and soxi check the same files in the audio chain
// tests).

#include "viewer/dictation/wavefile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

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

TEST_F(WaveFileTest, KilledWhileWritingLeavesAValidFileAndStaleSizesAreRepaired)
{
    WaveFile w;
    ASSERT_TRUE(w.Create(path, WaveFormat::Recording()));
    ASSERT_TRUE(w.Append(Samples(2048)));
    // What a kill leaves: the sizes as of the last buffer, valid as they stand.
    QByteArray bytes = FileBytes(path);
    Chunks(bytes);
    EXPECT_EQ(U32At(bytes, bytes.size() - 4096 - 4), 4096u);
    // A crash between writing audio and its size update: 3 more samples and half a
    // sample on disk, the header still saying 4096.
    bytes += Samples(3) + QByteArray(1, 'x');
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(path));
    EXPECT_EQ(r.DataLength(), 4096 + 6);
    r.Close();
    EXPECT_EQ(Chunks(FileBytes(path)).last(), QStringLiteral("data"));

    // Sizes that claim more than the file holds are brought down to it.
    bytes = FileBytes(path);
    qToLittleEndian<quint32>(0x7FFFFFF0, bytes.data() + 4);
    qToLittleEndian<quint32>(0x7FFFFFF0, bytes.data() + bytes.size() - 4102 - 4);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    ASSERT_TRUE(w.OpenAppend(path));
    EXPECT_EQ(w.DataLength(), 4102);
    ASSERT_TRUE(w.Append(Samples(1)));
    w.Close();
    Chunks(FileBytes(path));
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
