#pragma once
// The on-screen control of the imaging component.
//
// DicomViewerLight shows a grid of MultiRows x MultiColumns cells. Cell k (reading order,
// from 0) shows image CurrentIndex + k of its own Images collection, drawn with that
// image's window, zoom, scroll, rotation, flip, filter modes, border and labels; then the
// control's own Labels are drawn over the whole control. The mouse, the wheel and the
// focus are reported to the owner through the std::function members below.
//
// The control is created by the module's factory for "DicomViewerLight"
// (ClassFactory::CreateInstance(parent)); reach it with component_cast<DicomViewerLight>.
// Every member is virtual so that code outside the module can call it without importing
// a symbol (the module exports its entry point only).
//
// Labels of the control itself (not of an image) use, when ScaleWithCell is true, cell
// units of the whole control (0..1000 across and down its client area), else client
// pixels; an ImageTied control label uses the pixel coordinates of the image in the first
// cell.

#include "imaging/imaging.h"

#include <QImage>
#include <QSize>
#include <QWidget>

#include <chrono>
#include <functional>

namespace imaging {

class DicomViewerLight : public QWidget, public ComponentObject
{
public:
    explicit DicomViewerLight(QWidget *parent = nullptr) : QWidget(parent) {}
    ~DicomViewerLight() override = default;

    // The control's images. SetImages replaces the collection (the control keeps a
    // reference); the collection may be changed from outside at any time (Add, Move,
    // Clear): the next Refresh or repaint shows the change.
    virtual DicomImagesPtr Images() const = 0;
    virtual void SetImages(const DicomImagesPtr &images) = 0;
    // The image of the first cell (Images().Item(CurrentIndex)); nullptr when none.
    virtual DicomImagePtr CurrentImage() const = 0;
    // Index (from 1) of the image in the first cell. Values below 1 are stored as 1; a
    // value beyond the collection is kept (its cells stay empty until images arrive).
    virtual int CurrentIndex() const = 0;
    virtual void SetCurrentIndex(int index) = 0;
    // Labels of the control itself, drawn over every cell (the magnifier's cross).
    virtual DicomLabelsPtr Labels() const = 0;

    // Grid of cells (1 .. 16 each; values outside are clamped).
    virtual int MultiRows() const = 0;
    virtual void SetMultiRows(int rows) = 0;
    virtual int MultiColumns() const = 0;
    virtual void SetMultiColumns(int columns) = 0;
    // 0: no frame; 1: a one-pixel grey frame around every cell's slot.
    virtual int BorderStyle() const = 0;
    virtual void SetBorderStyle(int style) = 0;
    // Pixels between neighbouring cells (half of it around the outer cells too); the
    // images' own borders are drawn in this band. Default 0.
    virtual int CellSpacing() const = 0;
    virtual void SetCellSpacing(int pixels) = 0;
    // Background colour (Windows colour value, red in the low byte). Default black.
    virtual int BackColour() const = 0;
    virtual void SetBackColour(int colour) = 0;

    // Cell geometry, in client pixels, of cell k (from 0, reading order); empty outside.
    virtual QRectF CellRect(int cell) const = 0;
    // Index in Images of the image under the client point; 0 off the cells, on an empty
    // cell, or in the spacing between cells.
    virtual int ImageIndex(int x, int y) const = 0;
    // Pixel column / row of that image under the point; -1 outside the image or off the
    // cells.
    virtual int ImageXPosition(int x, int y) const = 0;
    virtual int ImageYPosition(int x, int y) const = 0;
    // The labels under a client point, in drawing order (the one drawn last, on top, is
    // the last item): the labels of the image under the point when imageLabels (only
    // while its ShowLabels is true), then the control's own labels when controlLabels.
    // visibleOnly leaves out labels whose Visible is false. Always a collection (maybe
    // empty); the labels in it are the very objects of the image or control.
    virtual DicomLabelsPtr LabelHits(int x, int y, bool imageLabels = true,
                                     bool controlLabels = true, bool visibleOnly = true) const = 0;
    // The lines of label `labelNumber` of image `imageIndex` (an index in Images) as the
    // control draws them now, top to bottom: each line's text and client rectangle. Empty
    // when the image is in no cell, its labels are hidden or the label shows no text.
    struct DrawnLine
    {
        QString text;
        QRectF rect;
    };
    virtual QList<DrawnLine> DrawnTextLines(int imageIndex, int labelNumber) const = 0;

    // Redraws every cell now (also picks up changes of Images made from outside) and
    // wipes the XOR marks left by XorDrawLabel.
    virtual void Refresh() = 0;

    // Draws `label` once in XOR mode over the control, so that a second call with the
    // same label (same type and coordinates) erases it again. The label is interpreted in
    // client pixels or, with ScaleWithCell, in cell units of the cell of `imageIndex`
    // (of the whole control when 0); an ImageTied label uses that image's pixels. For this
    // drawing a text label is drawn as its rectangle and a polygon as a polyline. The
    // label is not kept: the marks are a snapshot of it.
    virtual void XorDrawLabel(const DicomLabel &label, int imageIndex = 0) = 0;

    // The image as displayed (frame, window, zoom, scroll, rotation, flip, filters) with
    // its visible labels (when its ShowLabels is true), for printing. The picture shows
    // what the image's cell (DisplayCell) shows, scaled uniformly to fit `size` and
    // centred on BackColour; an invalid or empty `size` gives the cell's own size.
    // Needs no visible control and does not change the image. Null QImage for a null
    // image; the cell is drawn with a French error text when the pixels cannot be decoded.
    virtual QImage Picture(const DicomImagePtr &image, QSize size = QSize()) const = 0;
    // A new image holding the region (x, y, width, height) of `image` (x and y from 1, in
    // image pixels, unrotated and unflipped) at `magnification` and frame `frame`, with the
    // image's window and its visible labels, as an 8-bit RGB secondary capture that keeps
    // the patient, study and series identification. The new image is fitted to its cell
    // (StretchToFit). `image` itself is not changed. Throws DicomError for a region
    // outside the image, a magnification outside 0.01 .. 16, or undecodable pixels.
    virtual DicomImagePtr SubImage(const DicomImagePtr &image, int x, int y, int width,
                                   int height, double magnification, int frame) const = 0;

    // The image that a cine of the control is playing in cell k advances by itself: see
    // DicomImage::CineMode (0 static, 1 forward once, 2 reverse once, 3 repeat, 4
    // oscillate) and CineRate (a factor on the image's own frame rate: 1000 / Frame Time
    // (0018,1063), else Cine Rate (0018,0040), else Recommended Display Frame Rate
    // (0008,2144), else 10 frames per second). Only images in the cells play.
    // A change of CineMode or CineRate takes effect at once: a new mode starts the cine
    // from the frame shown; a new rate re-times it from the moment of the change.
    // The frames per second a cine of `image` runs at with its current CineRate.
    virtual double CineFramesPerSecond(const DicomImage &image) const = 0;
    // The steady clock the cines are timed on, in nanoseconds.
    static qint64 CineClockNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    // Callbacks to the owner (called on the user-interface thread).
    // Button pressed / released, keyboard modifiers, client point.
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseDown;
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseUp;
    // Buttons held during the move, modifiers, client point.
    std::function<void(Qt::MouseButtons, Qt::KeyboardModifiers, int x, int y)> OnMouseMove;
    // A double click: the second press is reported to OnMouseDown first, so presses and
    // releases always come in pairs.
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnDoubleClick;
    // Wheel: angle in eighths of a degree (120 per notch, positive away from the user).
    std::function<void(int delta, Qt::KeyboardModifiers, int x, int y)> OnMouseWheel;
    // The zoom in effect (DicomImage::ActualZoom) of the image at `imageIndex` in Images
    // is not the one last reported for it: the image entered a cell, its cell changed
    // size, or its zoom, stretch or rotation changed. Called while the control lays out
    // its cells, before it draws them; the owner may rewrite the image's labels here
    // (the drawing that follows shows them) but not change its geometry.
    std::function<void(int imageIndex)> OnZoomChanged;
    // A cine is about to show `newFrame` of the image at `imageIndex` in Images.
    std::function<void(int imageIndex, int newFrame)> OnFrameChanging;
    // A cine has just shown `frame` of the image at `imageIndex`: the step number since
    // the cine (re)started and the time, by CineClockNs, at which the step fell due.
    // A step whose time passed while the control was busy is skipped, not reported.
    std::function<void(int imageIndex, int frame, qint64 step, qint64 dueNs)> OnCineFrame;
    std::function<void()> OnFocusIn;
    std::function<void()> OnFocusOut;

    const char *ClassName() const override { return kClassName; }
    static constexpr const char *kClassName = "DicomViewerLight";
};

} // namespace imaging
