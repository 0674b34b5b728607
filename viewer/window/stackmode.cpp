// Stack mode ("Mise en pile"): every frame shows the whole study of its series instead of
// the series alone. Switching it writes each frame's display state back under the keys
// the frame was filled with, refills the frame under the other key and brings it back to
// the image it showed. While it is on, the series commands move between the series of
// the study inside the frame, and on to the neighbouring study at its ends.

#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/visitdata.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QPointer>
#include <QScrollBar>

namespace {

const char *const kReferenceButtons[] = {"TBAllRef", "TBFirstLastRef", "TBCurrentRef"};

// The image a frame shows (null when the frame is empty).
imaging::DicomImagePtr ShownImage(const TFrameDicomViewer &frame)
{
    return frame.DicomViewer()->Images()->Item(frame.CurrentImageIndex);
}

// Moves a frame's scroll bar forward, one position at a time, until `matches` holds for
// the image shown or the last image is reached.
template<class Match>
void ScrollForwardUntil(TFrameDicomViewer &frame, Match matches)
{
    QScrollBar *bar = frame.ScrollBar();
    for (;;) {
        const auto image = ShownImage(frame);
        if (!image || matches(*image) || bar->value() >= bar->maximum())
            return;
        const int before = bar->value();
        bar->setValue(before + 1);
        if (bar->value() == before)
            return;
    }
}

// Holds the drawing of a widget while a frame is refilled and scrolled to its image, so
// that the intermediate images never reach the screen; drawing resumes at the end of
// the scope (only when this freeze stopped it).
class DrawingFreeze
{
public:
    explicit DrawingFreeze(QWidget *widget) : widget_(widget)
    {
        if (widget_ && widget_->updatesEnabled()) {
            widget_->setUpdatesEnabled(false);
            frozen_ = true;
        }
    }
    ~DrawingFreeze()
    {
        if (frozen_ && widget_)
            widget_->setUpdatesEnabled(true);
    }
    DrawingFreeze(const DrawingFreeze &) = delete;
    DrawingFreeze &operator=(const DrawingFreeze &) = delete;

private:
    QPointer<QWidget> widget_;
    bool frozen_ = false;
};

} // namespace

void TFormViewer::TBStackClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child)
        return;
    for (const char *name : kReferenceButtons) {
        if (Down(QLatin1String(name))) {
            SetDown(QLatin1String(name), false);
            TBAllRefClick(Action(QLatin1String(name)));
        }
    }
    TFrameDicomViewer *current = currentFrame_;
    const bool on = StackDown();
    // Refilling a frame moves its scroll bar; the other frames must not follow it
    // meanwhile, or they would leave the images they are to come back to.
    const int syncMode = SyncMode;
    SyncMode = 0;

    // Each frame's state goes back under the key it was filled with.
    SetDown(QStringLiteral("TBStack"), !on);
    const QList<TFrameDicomViewer *> frames = child->Frames();
    for (TFrameDicomViewer *frame : frames)
        SaveFrameState(frame);
    SetDown(QStringLiteral("TBStack"), on);
    {
        DrawingFreeze freeze(child->ScrollBox());
        for (TFrameDicomViewer *frame : frames) {
            const auto image = ShownImage(*frame);
            if (!image)
                continue;
            const QString instance = image->InstanceUID();
            LoadFrame(frame, on ? image->StudyUID() : image->SeriesUID());
            ScrollForwardUntil(*frame, [&](const imaging::DicomImage &shown) { return shown.InstanceUID() == instance; });
        }
    }
    SyncMode = syncMode;
    if (current)
        SetCurrentFrame(current);
    UpdateControls();
}

void TFormViewer::StackSeriesMove(int which)
{
    TFrameDicomViewer *frame = currentFrame_;
    TFormChildMDI *child = ActiveChild();
    const auto visitImages = VisitData().VisitImages();
    if (!frame || !child || visitImages->Count() == 0)
        return;
    const auto shown = ShownImage(*frame);

    QString study;
    QString series;
    if (which == 0 || which == 3) {
        const auto target = visitImages->Item(which == 0 ? 1 : visitImages->Count());
        study = target->StudyUID();
        series = target->SeriesUID();
    } else {
        if (!shown)
            return;
        // The neighbouring run is looked for series by series, then the frame is
        // filled with the study that holds it.
        SetDown(QStringLiteral("TBStack"), false);
        const QStringList keys = which == 2 ? VisitData().NextSeriesKeys(shown->SeriesUID())
                                            : VisitData().PriorSeriesKeys(shown->SeriesUID());
        SetDown(QStringLiteral("TBStack"), true);
        series = keys.value(0);
        study = keys.value(1);
        if (series.isEmpty())
            return;
    }

    StackMoveTo(study, series);
    UpdateControls();
}

void TFormViewer::StackShowSeries(const QString &series)
{
    // The series' place in the visit, looked for series by series.
    SetDown(QStringLiteral("TBStack"), false);
    const int first = VisitData().SeriesFirstIndex(series);
    SetDown(QStringLiteral("TBStack"), true);
    const auto image = VisitData().VisitImages()->Item(first);
    if (!image || image->SeriesUID() != series)
        return;
    StackMoveTo(image->StudyUID(), series);
}

void TFormViewer::StackMoveTo(const QString &study, const QString &series)
{
    TFrameDicomViewer *frame = currentFrame_;
    TFormChildMDI *child = ActiveChild();
    if (!frame || !child)
        return;
    ClearReferenceLines();
    for (const char *name : kReferenceButtons)
        SetDown(QLatin1String(name), false);
    DrawingFreeze freeze(child->ScrollBox());
    SaveFrameState(frame);
    LoadFrame(frame, study);
    ScrollForwardUntil(*frame, [&](const imaging::DicomImage &image) { return image.SeriesUID() == series; });
}
