#pragma once
// The image frame: one imaging control showing one series of the visit, with a
// vertical scroll bar that moves through its images.
//
// This first version shows a series (FillSeries: images, window and zoom lines,
// scroll bar, current cell mark) and follows its scroll bar. The mouse tools, the
// series-wide display operations (ApplyToSeries) and the frame's entry and exit
// events build on it.

#include "imaging/imaging.h"
#include "imaging/viewerlight.h"

#include <QFrame>

class QScrollBar;
class TVisitData;

class TFrameDicomViewer : public QFrame
{
    Q_OBJECT
public:
    explicit TFrameDicomViewer(QWidget *parent = nullptr);

    imaging::DicomViewerLight *DicomViewer() const { return viewer_; }
    QScrollBar *ScrollBar() const { return scrollBar_; }

    bool IsActive = false;
    int CurrentImageIndex = 1;

    // Puts the series `key` of `visit` into the control: the entries of the run, the
    // computed radiography window, smoothing, the "W:" and "Zoom:" lines, the scroll
    // bar on image 1 (shown for two images or more).
    void FillSeries(const TVisitData &visit, const QString &key);
    // Highlights (orange border and marker) or clears the current cell's mark.
    void MarkImage(bool on);

signals:
    void CurrentImageChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void ScrollBarChange(int position);
    void LayoutChildren();

    imaging::DicomViewerLight *viewer_ = nullptr;
    QScrollBar *scrollBar_ = nullptr;
};
