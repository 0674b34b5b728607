// A CT series with a scanner's noise, stored uncompressed and in the four lossless
// compressed syntaxes that patient CDs carry: every frame the component decodes must
// hold the very values pydicom decodes (JPEG 2000, RLE, uncompressed) or, where pydicom
// has no decoder here (JPEG-LS, JPEG process 14), the values of the same slice stored
// uncompressed.

#include "testutil.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

#include <map>

using namespace imaging;
using namespace testutil;

namespace {

const QStringList kSyntaxes = {QString(), QStringLiteral("jpeg2000"), QStringLiteral("jpegls"),
                               QStringLiteral("jpeg14"), QStringLiteral("rle")};

QString Name(const QString &syntax)
{
    return syntax.isEmpty() ? QStringLiteral("native") : syntax;
}

// The image files of a generated visit, in slice order.
QStringList Generate(const QString &out, const QString &syntax, const QString &preset = QStringLiteral("ct-noise"))
{
    QStringList args{QStringLiteral("--out"), out, QStringLiteral("--preset"), preset};
    if (!syntax.isEmpty())
        args << QStringLiteral("--syntax") << syntax;
    QProcess p;
    p.start(QStringLiteral(KORVANE_STUDYGEN), args);
    p.waitForFinished(600000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QStringList files;
    QDirIterator it(out + QStringLiteral("/DICOM"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// SHA-256 of each frame's modality-rescaled values as little-endian 32-bit integers,
// as compressed_pixels.py writes them.
QStringList ComponentHashes(const QString &file)
{
    QStringList out;
    DicomImagePtr img = Read(file);
    for (int f = 1; f <= img->FrameCount(); ++f) {
        img->SetFrame(f);
        QByteArray bytes;
        bytes.reserve(img->SizeX() * img->SizeY() * 4);
        for (int y = 0; y < img->SizeY(); ++y)
            for (int x = 0; x < img->SizeX(); ++x) {
                const double v = img->PixelValue(x, y);
                const auto i = static_cast<qint32>(std::lround(v));
                if (i != v)
                    return {QStringLiteral("not an integer at %1,%2").arg(x).arg(y)};
                const auto u = static_cast<quint32>(i);
                const char le[4] = {char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF),
                                    char((u >> 24) & 0xFF)};
                bytes.append(le, 4);
            }
        out << QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    return out;
}

qint64 TotalSize(const QStringList &files)
{
    qint64 total = 0;
    for (const QString &f : files)
        total += QFileInfo(f).size();
    return total;
}

} // namespace

TEST(CompressedSeries, EveryFrameOfEverySyntaxHoldsTheValuesPydicomDecodes)
{
    QTemporaryDir dir;
    std::map<QString, QStringList> files;
    QStringList all;
    for (const QString &syntax : kSyntaxes) {
        files[syntax] = Generate(dir.filePath(Name(syntax)), syntax);
        ASSERT_EQ(files[syntax].size(), 200) << Name(syntax).toStdString();
        all += files[syntax];
    }
    // The noise makes the series compress losslessly about as real CT does.
    const double ratio = double(TotalSize(files[QString()])) / double(TotalSize(files[QStringLiteral("jpegls")]));
    EXPECT_GT(ratio, 2.0);
    EXPECT_LT(ratio, 2.7);

    // pydicom decodes while the component does.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 QStringList{QStringLiteral(KORVANE_IMAGING_TESTS_DIR "/compressed_pixels.py")} + all);
    ASSERT_TRUE(python.waitForStarted());

    // A small cache keeps the per-pixel reads cheap; the frames are decoded one by one.
    const std::size_t budget = FrameCacheBudget();
    SetFrameCacheBudget(8u << 20);
    std::map<QString, std::vector<QStringList>> mine;
    for (const QString &syntax : kSyntaxes)
        for (const QString &f : files[syntax])
            mine[syntax].push_back(ComponentHashes(f));
    SetFrameCacheBudget(budget);

    ASSERT_TRUE(python.waitForFinished(1200000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QStringList lines = QString::fromLatin1(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), all.size());

    int line = 0;
    std::map<QString, QStringList> theirs;
    for (const QString &syntax : kSyntaxes)
        for (int i = 0; i < 200; ++i)
            theirs[syntax] << lines[line++];
    const bool pydicomDecodes[] = {true, true, false, false, true};
    for (int s = 0; s < kSyntaxes.size(); ++s) {
        const QString &syntax = kSyntaxes[s];
        SCOPED_TRACE(Name(syntax).toStdString());
        for (int i = 0; i < 200; ++i) {
            SCOPED_TRACE(files[syntax][i].toStdString());
            const QStringList frames = mine[syntax][static_cast<size_t>(i)];
            ASSERT_EQ(frames.size(), 1) << frames.join(' ').toStdString();
            if (pydicomDecodes[s])
                ASSERT_EQ(frames.join(','), theirs[syntax][i]);
            else
                ASSERT_EQ(theirs[syntax][i], QStringLiteral("nodecoder"));
            // Lossless: the uncompressed slice, as pydicom reads it.
            ASSERT_EQ(frames.join(','), theirs[QString()][i]);
        }
    }
}

TEST(CompressedSeries, EveryFrameOfAMultiFrameImageHoldsTheUncompressedValuesInEverySyntax)
{
    // A 20-frame angiography run: each frame is decoded on its own (JPEG-LS and JPEG
    // lossless frames apart from the image's data set), and must be the very frame stored.
    QTemporaryDir dir;
    std::map<QString, QStringList> frames;
    for (const QString &syntax : kSyntaxes) {
        SCOPED_TRACE(Name(syntax).toStdString());
        const QStringList files = Generate(dir.filePath(Name(syntax)), syntax, QStringLiteral("cine"));
        ASSERT_EQ(files.size(), 1);
        frames[syntax] = ComponentHashes(files[0]);
        ASSERT_EQ(frames[syntax].size(), 20);
    }
    // The vessel fills frame by frame: no two frames alike, so a frame taken for another shows.
    const QStringList &stored = frames[QString()];
    EXPECT_EQ(QSet<QString>(stored.begin(), stored.end()).size(), 20);
    for (const QString &syntax : kSyntaxes)
        EXPECT_EQ(frames[syntax], stored) << Name(syntax).toStdString();
}
