// Display geometry: placement of an image in its cell and exact conversions both ways.

#include "imaging/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace imaging;

namespace {

DisplayGeometry Geo(int sx, int sy, QRectF cell = QRectF(0, 0, 512, 512))
{
    DisplayGeometry g;
    g.sizeX = sx;
    g.sizeY = sy;
    g.cell = cell;
    return g;
}

void ExpectNear(QPointF a, QPointF b)
{
    EXPECT_NEAR(a.x(), b.x(), 1e-9);
    EXPECT_NEAR(a.y(), b.y(), 1e-9);
}

} // namespace

TEST(Geometry, ZoomAndScrollPlaceTheImageInTheCell)
{
    DisplayGeometry g = Geo(256, 128, QRectF(100, 50, 400, 300));
    g.zoom = 2;
    g.scrollX = 10;
    g.scrollY = -20; // negative moves the image down
    ExpectNear(ImageToClient(g, QPointF(0, 0)), QPointF(90, 70));
    ExpectNear(ImageToClient(g, QPointF(256, 128)), QPointF(90 + 512, 70 + 256));
    ExpectNear(ClientToImage(g, QPointF(92, 72)), QPointF(1, 1));
    auto p = ImagePixelAt(g, QPointF(92.5, 72.5));
    EXPECT_EQ(p.x, 1);
    EXPECT_EQ(p.y, 1);
    // Left of the image: both coordinates negative, as the frame expects.
    p = ImagePixelAt(g, QPointF(80, 100));
    EXPECT_EQ(p.x, -1);
    EXPECT_EQ(p.y, -1);
}

TEST(Geometry, StretchFitsAndCentres)
{
    DisplayGeometry g = Geo(512, 256, QRectF(0, 0, 400, 400));
    g.stretchToFit = true;
    g.zoom = 3; // ignored while stretched
    EXPECT_DOUBLE_EQ(ActualZoom(g), 400.0 / 512);
    EXPECT_DOUBLE_EQ(ActualScroll(g).x(), 0);
    EXPECT_DOUBLE_EQ(ActualScroll(g).y(), -(400 - 256 * 400.0 / 512) / 2);
    const QRectF r = ImageRectInClient(g);
    EXPECT_NEAR(r.center().x(), 200, 1e-9);
    EXPECT_NEAR(r.center().y(), 200, 1e-9);
    // Rotated a quarter turn the tall side now runs vertically.
    g.rotateState = 1;
    EXPECT_DOUBLE_EQ(ActualZoom(g), 400.0 / 512);
    EXPECT_NEAR(ImageRectInClient(g).width(), 256 * 400.0 / 512, 1e-9);
}

TEST(Geometry, FlipAndRotationMapCornersAndRoundTrip)
{
    DisplayGeometry g = Geo(100, 50);
    // Anticlockwise quarter turn: the top-right corner goes to the top-left.
    g.rotateState = 1;
    ExpectNear(ImageToClient(g, QPointF(100, 0)), QPointF(0, 0));
    ExpectNear(ImageToClient(g, QPointF(0, 0)), QPointF(0, 100));
    // Left-right mirror: the top-left corner goes to the top-right.
    g.rotateState = 0;
    g.flipState = 1;
    ExpectNear(ImageToClient(g, QPointF(0, 0)), QPointF(100, 0));
    g.flipState = 2;
    ExpectNear(ImageToClient(g, QPointF(0, 0)), QPointF(0, 50));
    // Every combination converts back exactly.
    for (int flip = 0; flip < 4; ++flip)
        for (int rot = 0; rot < 4; ++rot) {
            DisplayGeometry h = Geo(97, 61, QRectF(13, 7, 300, 200));
            h.flipState = flip;
            h.rotateState = rot;
            h.zoom = 1.7;
            h.scrollX = -5;
            h.scrollY = 9;
            const QPointF p(12.25, 40.5);
            ExpectNear(ClientToImage(h, ImageToClient(h, p)), p);
            // The pixel under the image of a pixel centre is that pixel.
            auto px = ImagePixelAt(h, ImageToClient(h, QPointF(30.5, 20.5)));
            EXPECT_EQ(px.x, 30) << flip << rot;
            EXPECT_EQ(px.y, 20) << flip << rot;
        }
}

TEST(Geometry, CellUnits)
{
    const QRectF cell(100, 0, 500, 800);
    ExpectNear(CellUnitsToClient(cell, QPointF(10, 5)), QPointF(105, 4));
    ExpectNear(CellUnitsToClient(cell, QPointF(990, 500)), QPointF(595, 400)); // top half ends at 500
    ExpectNear(ClientToCellUnits(cell, QPointF(350, 400)), QPointF(500, 500));
}

TEST(Geometry, OrientationLettersFollowFlipAndRotation)
{
    const double row[3] = {1, 0, 0}, col[3] = {0, 1, 0}; // axial
    const QString fr = QStringLiteral("D\\G\\A\\P\\I\\S");
    DisplayGeometry g = Geo(512, 512);
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Right", fr), "G");
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Left", fr), "D");
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Top", fr), "A");
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Bottom", fr), "P");
    g.flipState = 1;
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Right", fr), "D");
    g.flipState = 0;
    g.rotateState = 1; // anticlockwise: the old top edge is now on the left
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Left", fr), "A");
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Top", fr), "G");
    // Coronal, English letters; an oblique direction gets two letters, largest first.
    const double crow[3] = {1, 0, 0}, ccol[3] = {0, 0, -1};
    EXPECT_EQ(EdgeOrientationLetters(crow, ccol, Geo(1, 1), "Top", "R\\L\\A\\P\\F\\H"), "H");
    const double orow[3] = {0.8, 0.6, 0};
    EXPECT_EQ(EdgeOrientationLetters(orow, ccol, Geo(1, 1), "Right", "R\\L\\A\\P\\F\\H"), "LP");
    EXPECT_EQ(EdgeOrientationLetters(row, col, g, "Middle", fr), "");
}

TEST(Geometry, FittedImageIsWholeCentredAndTouchesItsCell)
{
    // Cells wide, tall and square (one not at the origin), images wide, tall, square
    // and small, square pixels and pixels twice as tall or wide, every turn.
    const QRectF cells[] = {QRectF(0, 0, 780, 1000), QRectF(2, 2, 636, 448), QRectF(640, 452, 300, 300),
                            QRectF(0, 0, 157, 93)};
    const QSize images[] = {{512, 512}, {64, 64}, {2048, 2500}, {640, 480}, {97, 23}};
    for (const QRectF &cell : cells)
        for (const QSize &size : images)
            for (double aspect : {1.0, 2.0, 0.5, 0.75})
                for (int rot = 0; rot < 4; ++rot)
                    for (int flip : {0, 1}) {
                        DisplayGeometry g = Geo(size.width(), size.height(), cell);
                        g.stretchToFit = true;
                        g.zoom = 1.0; // not used while fitted
                        g.scrollX = 40; // nor is the scroll
                        g.pixelAspect = aspect;
                        g.rotateState = rot;
                        g.flipState = flip;
                        SCOPED_TRACE(testing::Message() << cell.width() << "x" << cell.height() << " image "
                                                        << size.width() << "x" << size.height() << " aspect "
                                                        << aspect << " rot " << rot);
                        const QRectF r = ImageRectInClient(g);
                        EXPECT_NEAR(r.center().x(), cell.center().x(), 1e-6);
                        EXPECT_NEAR(r.center().y(), cell.center().y(), 1e-6);
                        EXPECT_GE(r.left(), cell.left() - 1e-6);
                        EXPECT_GE(r.top(), cell.top() - 1e-6);
                        EXPECT_LE(r.right(), cell.right() + 1e-6);
                        EXPECT_LE(r.bottom(), cell.bottom() + 1e-6);
                        // The larger side (for the cell) touches it.
                        EXPECT_TRUE(std::abs(r.width() - cell.width()) < 1e-6
                                    || std::abs(r.height() - cell.height()) < 1e-6);
                        // Physical proportions: width over height of the picture is
                        // (columns x column spacing) over (rows x row spacing), turned.
                        const double physical = size.width() / (size.height() * aspect);
                        EXPECT_NEAR(r.width() / r.height(), rot % 2 ? 1 / physical : physical, 1e-9);
                    }
}

TEST(Geometry, MirrorsActOnTheScreenAxesWhateverTheTurn)
{
    // For every turn, the horizontal mirror swaps left and right of what the unmirrored
    // image shows, the vertical one top and bottom, both do both.
    for (int rot = 0; rot < 4; ++rot)
        for (int flip = 0; flip < 4; ++flip) {
            DisplayGeometry plain = Geo(97, 61, QRectF(13, 7, 300, 200));
            plain.rotateState = rot;
            plain.zoom = 1.7;
            plain.scrollX = -5;
            plain.scrollY = 9;
            plain.pixelAspect = 1.5;
            DisplayGeometry mirrored = plain;
            mirrored.flipState = flip;
            const QRectF shown = ImageRectInClient(plain);
            EXPECT_EQ(ImageRectInClient(mirrored), shown);
            for (const QPointF p : {QPointF(0, 0), QPointF(12.25, 40.5), QPointF(97, 61), QPointF(96.5, 0.5)}) {
                QPointF expected = ImageToClient(plain, p);
                if (flip & 1)
                    expected.setX(shown.left() + shown.right() - expected.x());
                if (flip & 2)
                    expected.setY(shown.top() + shown.bottom() - expected.y());
                ExpectNear(ImageToClient(mirrored, p), expected);
            }
        }
    // After a quarter turn to the left the image's top row runs down the left edge; the
    // horizontal mirror moves it to the right edge (it does not swap top and bottom).
    DisplayGeometry g = Geo(100, 50);
    g.rotateState = 1;
    g.flipState = 1;
    ExpectNear(ImageToClient(g, QPointF(100, 0)), QPointF(50, 0));
    ExpectNear(ImageToClient(g, QPointF(0, 0)), QPointF(50, 100));
}

TEST(Geometry, NonSquarePixelsMatchTheirSpacing)
{
    // 120 columns 0.3 mm apart, 40 rows 0.6 mm apart: 36 x 24 mm, shown 3:2 in a
    // 360 x 360 cell, i.e. 10 screen pixels per millimetre both ways.
    DisplayGeometry g = Geo(120, 40, QRectF(20, 10, 360, 360));
    g.pixelAspect = 0.6 / 0.3;
    g.stretchToFit = true;
    EXPECT_DOUBLE_EQ(PixelScale(g).width(), 1);
    EXPECT_DOUBLE_EQ(PixelScale(g).height(), 2);
    const double pxPerMm = 360 / 36.0;
    const double top = 10 + (360 - 24 * pxPerMm) / 2;
    for (const QPointF p : {QPointF(0, 0), QPointF(7.5, 3.25), QPointF(120, 40), QPointF(60, 20)}) {
        const QPointF mm(p.x() * 0.3, p.y() * 0.6);
        ExpectNear(ImageToClient(g, p), QPointF(20 + mm.x() * pxPerMm, top + mm.y() * pxPerMm));
    }
    // Every screen pixel reads back the image pixel it shows, with turns and mirrors.
    for (int rot = 0; rot < 4; ++rot)
        for (int flip = 0; flip < 4; ++flip) {
            DisplayGeometry h = g;
            h.rotateState = rot;
            h.flipState = flip;
            for (int y = 0; y < 40; y += 7)
                for (int x = 0; x < 120; x += 11) {
                    const auto px = ImagePixelAt(h, ImageToClient(h, QPointF(x + 0.5, y + 0.5)));
                    EXPECT_EQ(px.x, x) << rot << flip;
                    EXPECT_EQ(px.y, y) << rot << flip;
                }
        }
    // Pixels wider than tall: the columns are stretched instead (no pixel is shown
    // smaller than at 1:1).
    DisplayGeometry wide = Geo(64, 64);
    wide.pixelAspect = 0.5;
    EXPECT_EQ(DisplayedSize(wide), QSizeF(128, 64));
    // A value that is not a ratio is square.
    wide.pixelAspect = 0;
    EXPECT_EQ(DisplayedSize(wide), QSizeF(64, 64));
}
