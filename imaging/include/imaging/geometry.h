#pragma once
// Display geometry of an image in a cell, as plain functions.
//
// Coordinates:
// - client: pixels of the control that shows the image (the cell is a rectangle in them);
// - image: continuous pixel coordinates, pixel (i, j) covering [i, i+1) x [j, j+1);
// - display: the image after the flip and the rotation, still in image pixels.
// An image point p goes to the screen like this:
//   1. pixel shape: x := x * PixelScale.width, y := y * PixelScale.height, so that a
//      pixel taller than wide (row spacing above column spacing) is drawn taller; the
//      shorter side of a pixel keeps the length 1;
//   2. RotateState quarter turns anticlockwise, each (x, y) := (y, W - x) with W the
//      width before that turn (the displayed width and height swap on odd turns);
//   3. mirror on the screen's axes, whatever the rotation (FlipState bit 1: x := W - x,
//      left and right swap on screen; bit 2: y := H - y, top and bottom swap), W and H
//      being the displayed width and height;
//   4. client := cell top-left + display x ActualZoom - (ActualScrollX, ActualScrollY).
// With StretchToFit the zoom fits the displayed image into the cell and the image is
// centred: ActualScroll = -(cell size - displayed size x zoom) / 2.

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

namespace imaging {

struct DisplayGeometry
{
    QRectF cell{0, 0, 512, 512}; // client pixels
    int sizeX = 0;               // image columns
    int sizeY = 0;               // image rows
    double zoom = 1.0;
    bool stretchToFit = false;
    double scrollX = 0;
    double scrollY = 0;
    int rotateState = 0; // quarter turns anticlockwise
    int flipState = 0;   // bit 1 left-right, bit 2 top-bottom, on screen
    // Height of one image pixel over its width (row spacing / column spacing); 1 for
    // square pixels.
    double pixelAspect = 1.0;
};

// Display units per image pixel across (width) and down (height): the pixel's shape
// with its shorter side 1.
QSizeF PixelScale(const DisplayGeometry &g);

// Width and height of the image after pixel shape and rotation (display units, screen
// pixels at zoom 1).
QSizeF DisplayedSize(const DisplayGeometry &g);
double ActualZoom(const DisplayGeometry &g);
// Scroll in effect (screen pixels), see above.
QPointF ActualScroll(const DisplayGeometry &g);
// The scroll that centres the image in its cell at the zoom in effect.
QPointF CentredScroll(const DisplayGeometry &g);

// Exact conversions between client points and continuous image coordinates.
QPointF ImageToClient(const DisplayGeometry &g, QPointF image);
QPointF ClientToImage(const DisplayGeometry &g, QPointF client);
// The affine map image -> client (for drawing) and its inverse.
QTransform ImageToClientTransform(const DisplayGeometry &g);
// Where the whole image lands, in client pixels (may extend beyond the cell).
QRectF ImageRectInClient(const DisplayGeometry &g);

// Pixel of the image under a client point: floor of the image coordinate. Both are -1
// when the point is outside the image (or the image is empty).
struct PixelPosition { int x = -1; int y = -1; };
PixelPosition ImagePixelAt(const DisplayGeometry &g, QPointF client);

// Labels in cell units (0..1000 across and down the cell) to client pixels and back.
QPointF CellUnitsToClient(const QRectF &cell, QPointF units);
QPointF ClientToCellUnits(const QRectF &cell, QPointF client);

// Orientation letters of the displayed edge ("Top", "Left", "Right", "Bottom") of an image
// whose rows run along `rowDirection` and columns along `columnDirection` (the six values
// of Image Orientation (Patient)), with the flip and rotation of `g`. `directionStrings`
// holds six letters separated by "\\" for -x, +x, -y, +y, -z, +z of the patient
// (right, left, anterior, posterior, feet, head). Components below 0.1 are left out; the
// others are written largest first. Empty for an unknown edge or a zero vector.
QString EdgeOrientationLetters(const double rowDirection[3], const double columnDirection[3],
                               const DisplayGeometry &g, const QString &edge,
                               const QString &directionStrings);

} // namespace imaging
