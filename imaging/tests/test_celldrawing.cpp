// Drawing a cell's pixels: the picture drawn band by band equals the picture drawn at
// once, and pictures written over from one step to the next never change one still held.

#include "imaging/geometry.h"
#include "imaging/src/cellrenderer.h"
#include "imaging/tests/viewerlight_testimages.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace imaging;
using viewerlight_test::MakeMonoImage;

namespace {

// Every pixel of `picture` is the grey of the same pixel of the image's display frame.
::testing::AssertionResult ShowsFrameOf(const QImage &picture, const DicomImage &image)
{
    const QImage grey = image.DisplayFrame();
    if (picture.size() != grey.size() || picture.format() != QImage::Format_RGB32)
        return ::testing::AssertionFailure() << "size or format differs";
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const int g = grey.constScanLine(y)[x];
            if (picture.pixel(x, y) != qRgb(g, g, g))
                return ::testing::AssertionFailure() << "pixel " << x << "," << y;
        }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(CellDrawing, SmoothPictureDrawnInBandsEqualsItDrawnAtOnce)
{
    // Fine detail everywhere, so that any row filtered without its neighbour shows.
    const DicomImagePtr image =
        MakeMonoImage(300, 300, [](int x, int y, int) { return (x * 37 + y * 91 + x * y) % 4096; }, 1, 2048, 4096);
    image->SetMinificationMode(3);
    image->SetMagnificationMode(3);
    image->SetStretchToFit(true);
    for (const QRectF cell : {QRectF(3, 5, 277, 251), QRectF(0, 0, 410, 397)}) { // smaller, then larger
        SCOPED_TRACE(cell.width());
        image->SetDisplayCell(cell);
        const DisplayGeometry geometry = image->Geometry();
        ASSERT_TRUE(detail::SmoothDrawing(ActualZoom(geometry), 3, 3));

        QImage banded(420, 420, QImage::Format_RGB32);
        banded.fill(Qt::black);
        {
            QPainter painter(&banded);
            detail::CellDrawOptions options;
            options.drawLabels = false;
            options.drawBorder = false;
            ASSERT_TRUE(detail::DrawImageCell(painter, *image, geometry, options));
        }
        QImage whole(420, 420, QImage::Format_RGB32);
        whole.fill(Qt::black);
        {
            QPainter painter(&whole);
            painter.setClipRect(cell);
            painter.setTransform(ImageToClientTransform(geometry));
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(QPointF(0, 0), image->DisplayFrame().convertToFormat(QImage::Format_RGB32));
        }
        EXPECT_TRUE(banded == whole);
    }
}

TEST(CellDrawing, PicturesWrittenOverAreNeverOnesStillHeld)
{
    auto a = MakeMonoImage(64, 48, [](int x, int y, int) { return x * 50 + y; }, 1, 1600, 3200);
    auto b = MakeMonoImage(64, 48, [](int x, int y, int) { return 3200 - x * 40 - y * 7; }, 1, 1600, 3200);
    detail::FrameConverter converter;

    QImage pa = converter.Prepared(*a);
    EXPECT_TRUE(ShowsFrameOf(pa, *a));
    // Image a leaves the cells while its picture is still held: b gets a picture of its own.
    converter.Forget(a.get());
    QImage pb = converter.Prepared(*b);
    EXPECT_TRUE(ShowsFrameOf(pb, *b));
    EXPECT_TRUE(ShowsFrameOf(pa, *a));

    // Once nothing holds it, a picture left behind is written over with the next image.
    pa = QImage();
    converter.Forget(b.get());
    const QImage held = pb;
    pb = QImage();
    QImage again = converter.Prepared(*a);
    EXPECT_TRUE(ShowsFrameOf(again, *a));
    EXPECT_TRUE(ShowsFrameOf(held, *b));

    // The same image with another window, or another frame's values, is drawn anew in
    // its own picture, and a copy taken before keeps the old values.
    const QImage before = again;
    again = QImage();
    a->SetWidth(800);
    const QImage rewindowed = converter.Prepared(*a);
    EXPECT_TRUE(ShowsFrameOf(rewindowed, *a));
    EXPECT_FALSE(rewindowed == before);
    a->SetWidth(3200);
    EXPECT_TRUE(before == converter.Prepared(*a));
}
