// Display geometry: placement of an image in its cell and exact conversions both ways.

#include "imaging/geometry.h"

#include <gtest/gtest.h>

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
