// Decoding a compressed frame reads its bytes without leaving them loaded in the image's
// data set: decoded ahead through a long series, they would otherwise stay in memory for
// as long as the visit is open, outside the decoded-frame cache's budget.

#include "imaging/src/internal.h"

#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace imaging;

TEST(CompressedBytes, DecodedFramesLeaveTheirCompressedBytesOnDisk)
{
    for (const char *syntax : {"jpeg2000", "jpegls", "jpeg14", "rle"}) {
        SCOPED_TRACE(syntax);
        QTemporaryDir dir;
        QProcess generator;
        generator.start(QStringLiteral(KORVANE_STUDYGEN),
                        {QStringLiteral("--out"), dir.path(), QStringLiteral("--preset"), QStringLiteral("ct-noise"),
                         QStringLiteral("--images"), QStringLiteral("2"), QStringLiteral("--syntax"),
                         QString::fromLatin1(syntax)});
        ASSERT_TRUE(generator.waitForFinished(120000));
        ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
        QDirIterator it(dir.path() + QStringLiteral("/DICOM"), QDir::Files, QDirIterator::Subdirectories);
        ASSERT_TRUE(it.hasNext());
        const QString file = it.next();

        // Read once as the component reads a file (which also registers DCMTK's decoders).
        ASSERT_TRUE(CreateImages()->ReadFile(file));

        auto root = std::make_shared<detail::DataRoot>();
        root->fileName = file;
        root->file = std::make_unique<DcmFileFormat>();
        ASSERT_TRUE(root->file->loadFile(file.toLocal8Bit().constData()).good());
        auto source = std::make_shared<detail::PixelSource>(root);
        detail::FramePtr frame;
        try {
            frame = source->frame(1);
        } catch (const DicomError &e) {
            FAIL() << e.what();
        }
        ASSERT_TRUE(frame);
        EXPECT_NE(frame->minStored, frame->maxStored); // a real frame of noise was decoded

        DcmElement *pixelData = detail::FindElement(root->dataset(), DCM_PixelData);
        ASSERT_TRUE(pixelData);
        DcmPixelSequence *sequence = nullptr;
        ASSERT_TRUE(static_cast<DcmPixelData *>(pixelData)
                        ->getEncapsulatedRepresentation(root->dataset()->getOriginalXfer(), nullptr, sequence)
                        .good());
        ASSERT_TRUE(sequence);
        ASSERT_GE(sequence->card(), 2u);
        for (unsigned long i = 1; i < sequence->card(); ++i) {
            DcmPixelItem *item = nullptr;
            ASSERT_TRUE(sequence->getItem(item, i).good());
            EXPECT_GT(item->getLength(), 4096u);
            EXPECT_FALSE(item->valueLoaded()) << "fragment " << i;
        }
    }
}
