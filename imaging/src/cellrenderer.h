#pragma once
// Drawing of one image cell (image, border, labels) into any QPainter, and the label
// hit tests that go with it. No widget is needed: the on-screen control, the printed
// picture and the sub-images of thumbnails all draw through here.

#include "imaging/imaging.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QStringList>
#include <QTransform>

#include <utility>
#include <vector>

namespace imaging::detail {

// Where the coordinates of a label land on the painter.
struct LabelSpace
{
    QRectF cell;                       // cell units 0..1000 map onto this rectangle
    const DicomImage *image = nullptr; // image under the labels (tied labels, orientation, rulers)
    QTransform imageToClient;          // valid when image is set
    // Client rectangles that rulers keep clear of (the image's own texts): a ruler that
    // would run into one is shortened at that end.
    std::vector<QRectF> keepClear;
    // The lines of the cell's untied texts as they stand unwrapped (client pixels), with
    // their label: a text that wraps (WrapText) keeps its lines clear of the others.
    std::vector<std::pair<const DicomLabel *, QRectF>> texts;
};

// Fills space.texts from the visible untied text and orientation labels of `labels`.
void NoteCellTexts(LabelSpace &space, const DicomLabels *labels);

// Fills space.keepClear with the boxes of the visible untied text labels of `labels`
// when one of them is a visible ruler (nothing to compute otherwise).
void KeepRulersClearOfTexts(LabelSpace &space, const DicomLabels *labels);

// A label's point (in the label's own unit) in client pixels.
QPointF LabelPointToClient(const DicomLabel &label, const LabelSpace &space, QPointF point);

// The text lines of a text or orientation label as they are laid out.
struct TextLayout
{
    QFont font;
    QStringList lines;
    std::vector<QRectF> lineRects; // client pixels, one per line
    QRectF bounds;                 // union of the line rectangles
    QPointF anchor;                // rotation centre when the text turns with the image
    double rotation = 0;           // degrees, clockwise on screen
};
// Empty layout (no lines) for labels without text or an orientation edge that is unknown.
TextLayout LayOutText(const DicomLabel &label, const LabelSpace &space);

// Pixel size of a label's font in a cell.
int LabelFontPixelSize(const DicomLabel &label, const QRectF &cell);

// imaging::PixelSpacing of the image (mm between column centres, mm between row
// centres); false without a usable one.
bool ImagePixelSpacing(const DicomImage &image, double &columnSpacing, double &rowSpacing);

struct LabelDrawOptions
{
    bool outlineOnly = false;    // rubber band: text as its rectangle, polygon as polyline
    bool forceXor = false;       // draw with XOR whatever the label says
    bool updateAutoSize = false; // write the text's size back into an AutoSize label
};
void DrawLabel(QPainter &painter, DicomLabel &label, const LabelSpace &space,
               const LabelDrawOptions &options = {});

// True when the client point is on the label as it is drawn (texts: their lines; closed
// shapes: inside or on the outline; lines, arrows, rulers, polylines and points: within
// a few pixels).
bool LabelHit(const DicomLabel &label, const LabelSpace &space, QPointF client);

// The display frame of one of the component's images as 32-bit pixels, written into
// `reuse` (taken from it) when that is a picture of the right size that nothing else
// holds; a null image, `reuse` untouched, for an image of another kind. Throws
// DicomError as DisplayFrame does.
QImage DisplayFrameRgb32(const DicomImage &image, QImage &reuse);

// Display frames kept converted for fast drawing, per image, so that a repaint that
// changes only the framing (zoom, scroll, rotation, labels) neither recomputes the
// window nor converts again. An entry is reused while the image's frame, window and LUT
// switches are unchanged and its CacheDisplay is true; Clear() drops everything (the
// control does so on Refresh, after which pixels changed in place show).
class FrameConverter
{
public:
    // The display frame of `image` in a format the raster painter draws fastest.
    QImage Prepared(const DicomImage &image);
    void Forget(const DicomImage *image);
    void Clear();

private:
    struct State
    {
        int frame = 0;
        double width = 0, level = 0;
        int modalityLut = 0, voiLut = 0, presentationLut = 0;
        bool operator==(const State &) const = default;
    };
    struct Entry
    {
        const DicomImage *image;
        State state;
        qint64 sourceKey;
        QImage prepared;
    };
    std::vector<Entry> entries_;
    QImage spare_; // the picture of an image that left, to be written over by the next
};

struct CellDrawOptions
{
    bool drawLabels = true;      // the image's labels (when its ShowLabels is true too)
    bool drawBorder = true;      // the image's BorderWidth / BorderStyle / BorderColour
    bool updateAutoSize = false; // see LabelDrawOptions
    QRectF borderClip;           // where the border may be drawn (empty: anywhere)
    FrameConverter *converter = nullptr;
};

// Draws `image` into the cell of `geometry` (client pixels of the painter): the pixels
// of its displayed frame with the geometry and filter modes, then its border and its
// labels. The cell is not cleared first. An image whose pixels cannot be decoded shows
// a French error text instead; returns false then.
bool DrawImageCell(QPainter &painter, DicomImage &image, const DisplayGeometry &geometry,
                   const CellDrawOptions &options = {});

// Whether the pixels of a cell are drawn smoothed for this zoom and these filter modes.
bool SmoothDrawing(double actualZoom, int magnificationMode, int minificationMode);

} // namespace imaging::detail
