#pragma once
// The image frame: one imaging control showing one series of the visit (one study in
// stack mode), a vertical scroll bar that moves through its images, and the mouse
// tools. The frame carries out, on press, drag and release, the tool the main window
// chose for the left and for the right button; shows the pixel value under the cursor
// when no button is held; keeps its current image highlighted; and repeats a display
// change of that image on every image of the same series in the control
// (ApplyToSeries).
//
// The frame reaches the main window only through TFrameHost (Host()).

#include "imaging/imaging.h"
#include "imaging/viewerlight.h"
#include "viewer/frame/framehost.h"
#include "viewer/frame/markgrab.h"

#include <QFrame>
#include <QPoint>

#include <functional>
#include <memory>

class QScrollBar;

class TFrameDicomViewer : public QFrame
{
    Q_OBJECT
public:
    explicit TFrameDicomViewer(QWidget *parent = nullptr);
    ~TFrameDicomViewer() override;

    // The window every frame reports to (the main window; tests install their own).
    static void SetHost(TFrameHost *host);
    static TFrameHost *Host();

    imaging::DicomViewerLight *DicomViewer() const { return viewer_; }
    QScrollBar *ScrollBar() const { return scrollBar_; }

    // ---- State ----
    int CurrentImageIndex = 1;
    bool IsActive = false;
    imaging::DicomLabelsPtr HitLabels;
    imaging::DicomLabelPtr NewLabel;
    QPoint DownPoint;
    int DragAnchorX = 0;
    int DragAnchorY = 0;
    int ZoomSum = 0;
    struct Origin { int x = 0, y = 0, scrollX = 0, scrollY = 0; double zoom = 1.0; } ZoomOrigin;
    struct FilterModes { int minification = 1, magnification = 0; } SavedFilterModes;
    QPoint LoupePoint;
    int SyncOffset = 0;
    TMarkGrab &Grab() { return *grab_; }
    // The measurement tools replace the grab with their own (values recomputed).
    void SetGrab(std::unique_ptr<TMarkGrab> grab) { grab_ = std::move(grab); }

    // Drawing a new mark with a right-button tool: BeginShape at the press prepares
    // NewLabel, FinishShape at the release adds it to the image. Without them (the
    // measurement tools are not installed) such a gesture draws nothing.
    std::function<void(TFrameDicomViewer &, int tool, int x, int y)> BeginShape;
    std::function<void(TFrameDicomViewer &, int tool, int x, int y)> FinishShape;

    // ---- Operations ----
    // Highlight (on) or plain style (off) of image `index` of a control.
    static void MarkImage(imaging::DicomViewerLight &control, int index, bool on);
    // Rewrites the "W:" line of label 8 and the "Zoom:" line of label 7 of an image.
    static void WriteWindowLine(imaging::DicomImage &image);
    static void WriteZoomLine(imaging::DicomImage &image);
    // Repeats a display change of the current image on the images of its series.
    void ApplyToSeries(int op);
    // A new content of `count` images: the scroll bar runs 1 .. count and shows image 1.
    void SetScrollRange(int count);
    // Draws `label` once in XOR mode over the control (a second call erases it).
    void XorDrawLabel(imaging::DicomLabel &label);

    // ---- Events ----
    void FrameEnter();
    void FrameExit();
    void ScrollBarChange(int position);
    void DicomViewerFrameChanging(int imageIndex, int newFrame);
    void DicomViewerMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void DicomViewerMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers shift, int x, int y);
    void DicomViewerMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    // The image the tools change (CurrentImageIndex); null when none.
    imaging::DicomImagePtr CurrentFrameImage() const;
    // Sets the screen cursor: a cursor slot (21 .. 26), -21 hand point, -22 size-all,
    // 0 default.
    static void SetScreenCursor(int cursor);
    static int ScreenCursor();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void LayoutChildren();
    void PixelReadout(int x, int y);
    void ReAnchor(imaging::DicomImage &image) const;
    // Empties the pixel readout of the status bar.
    void ClearReadout();
    void CentreMagnifier(int x, int y);
    void ScrollLoupe(int x, int y);
    void PlaceLoupe(int x, int y);
    bool Cine() const;
    void SaveFilterModes(imaging::DicomImage &image);
    bool GrabbedMark() const;

    imaging::DicomViewerLight *viewer_ = nullptr;
    QScrollBar *scrollBar_ = nullptr;
    std::unique_ptr<TMarkGrab> grab_;
};
