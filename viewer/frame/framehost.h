#pragma once
// What an image frame needs from the window that holds it: the tool chosen for each
// mouse button, the pressed state of a few toolbar buttons, the current frame, the
// status bar, the magnifier and loupe windows, and the routines it calls back after a
// change (button states, reference lines, synchronisation, the series menu and the
// propagation of a display change to the other frames of the same series).
//
// The main window implements it; a frame can be driven alone in tests with a small
// implementation of its own.

#include <QList>
#include <QPoint>
#include <QString>

class QMenu;
class QWidget;

namespace imaging {
class DicomViewerLight;
}
class TFrameDicomViewer;

// Tool numbers of the mouse buttons (the main window keeps one per button).
enum TTool : int {
    toolIntensite = 1,
    toolMesureLine = 2,
    toolMesureEllipse = 3,
    toolIndication = 4,
    toolZoom = 5,
    toolMove = 6,
    toolScroll = 7,
    toolMagnify = 8,
    toolLbl = 9,
    toolMagnify2 = 10,
    toolMesureAngle = 19,
};

// Toolbar buttons whose pressed state the frame reads.
enum class TFrameButton {
    Cine,         // TBCine
    Smoothing,    // TBSmoothing
    AllRef,       // TBAllRef
    CurrentRef,   // TBCurrentRef
    FirstLastRef, // TBFirstLastRef
    SeriesAuto,   // TBSeriesAuto
    SeriesManual, // TBSeriesManual
    Stack,        // TBStack
};

class TFrameHost
{
public:
    virtual ~TFrameHost() = default;

    virtual int LeftTool() const = 0;
    virtual int RightTool() const = 0;
    // 1 .. 5 for 100 % .. 500 %.
    virtual int MagnifyZoom() const = 0;
    virtual int LoupeZoom() const = 0;
    virtual bool ButtonDown(TFrameButton button) const = 0;
    // TBLabelOvl follows the current image's ShowLabels.
    virtual void SetLabelOvlDown(bool down) = 0;
    // Panel 0 of the status bar (pixel readout).
    virtual void SetStatusText(const QString &text) = 0;

    virtual TFrameDicomViewer *CurrentFrame() const = 0;
    virtual void SetCurrentFrame(TFrameDicomViewer *frame) = 0;
    virtual void UpdateControls() = 0;

    virtual void DrawReferenceLines() = 0;
    virtual void ClearReferenceLines() = 0;
    virtual void SynchroniseFrames() = 0;
    virtual void RecordSyncOffsets() = 0;

    // The child window that holds `frame`: its caption, its series menu at a screen
    // point, and the propagation of the current frame's display state.
    virtual void SetChildCaption(TFrameDicomViewer *frame, const QString &caption) = 0;
    virtual void PopupSeriesMenu(TFrameDicomViewer *frame, const QPoint &globalPos) = 0;
    virtual void ShareSeriesState(TFrameDicomViewer *frame) = 0;

    // The magnifier window's control, or null when it is not open.
    virtual imaging::DicomViewerLight *Magnifier() const = 0;
    // The magnifier takes the current frame's current image again.
    virtual void PrepareMagnifier() = 0;
    virtual void ReleaseMagnifier() = 0;
    // The loupe: created (and prepared) on demand, null when not open.
    virtual imaging::DicomViewerLight *CreateLoupe() = 0;
    virtual imaging::DicomViewerLight *Loupe() const = 0;
    virtual void ReleaseLoupe() = 0;

    // Image selection. The frames of the child window that holds `frame` (by default the
    // frame alone), the write-back of the current frame's state to the visit, and a new
    // popup menu drawn like the window's own menus (by default a plain one).
    virtual QList<TFrameDicomViewer *> ChildFrames(TFrameDicomViewer *frame) { return {frame}; }
    virtual void SaveCurrentFrame() {}
    virtual QMenu *NewSelectionMenu(QWidget *parent);
};
