// The main window's series routines: putting a series into a frame, writing a frame's
// display state back into the visit, moving from series to series and from image to
// image, and the reference lines of the current frame's images on the other frames.

#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QMdiSubWindow>
#include <QScrollBar>

#include <cmath>
#include <vector>

namespace {

constexpr int kOrange = 0x80FF;
constexpr int kSilver = 12632256;

struct HighlightStyle
{
    int borderWidth = 1;
    int borderStyle = 2;
    int borderColour = kOrange;
    int lineStyle = 2;
    int foreColour = kOrange;
};

// Steps 2 to 5 of filling a frame: the images of the run, their window, smoothing and
// text lines, and the scroll bar on image 1.
void FillFrame(TFrameDicomViewer &frame, const QString &key)
{
    TVisitData &visit = VisitData();
    const auto images = frame.DicomViewer()->Images();
    images->Clear();
    const auto visitImages = visit.VisitImages();
    const int count = visit.SeriesImageCount(key);
    const int first = visit.SeriesFirstIndex(key);
    const int last = count > 0 ? visit.SeriesLastIndex(key) : first - 1;
    for (int i = first; i <= last; ++i) {
        const auto added = images->Add(visitImages->Item(i));
        if (!added)
            continue;
        const auto attributes = added->Attributes();
        if (added->SOPClass() == QLatin1String(loading::kSopClassCR)
            && !loading::AttributeText(*attributes, 0x0028, 0x1052).isEmpty()
            && !loading::AttributeText(*attributes, 0x0028, 0x1053).isEmpty())
            loading::DefaultWindow(*added);
        added->SetMinificationMode(3);
        added->SetMagnificationMode(3);
        TFrameDicomViewer::WriteWindowLine(*added);
        TFrameDicomViewer::WriteZoomLine(*added);
    }
    frame.SetScrollRange(images->Count());
    frame.ScrollBar()->setVisible(count >= 2);
}

} // namespace

void TFormViewer::LoadSeries(const QString &key)
{
    TFrameDicomViewer *frame = currentFrame_;
    if (!frame)
        return;
    FillFrame(*frame, key);
    TFrameDicomViewer::MarkImage(*frame->DicomViewer(), frame->DicomViewer()->CurrentIndex(), true);

    const auto current = frame->DicomViewer()->CurrentImage();
    if (current && current->FrameCount() >= 2) {
        // A multi-frame image opens exploded, with the thumbnails, and plays.
        if (!Down(QStringLiteral("TBStudyExplode"))) {
            SetDown(QStringLiteral("TBStudyExplode"), true);
            TBStudyExplodeClick();
        }
        if (!Down(QStringLiteral("TBThumbnails"))) {
            SetDown(QStringLiteral("TBThumbnails"), true);
            TBThumbnailsClick();
        }
        if (Down(QStringLiteral("TBCine"))) {
            RestartCine();
        } else {
            SetDown(QStringLiteral("TBCine"), true);
            TBCineClick();
        }
    }
    if (VisitData().SeriesCount() == 1) {
        SetDown(QStringLiteral("TBStudyExplode"), true);
        TBStudyExplodeClick();
    }
    frame->DicomViewer()->Refresh();
    if (const auto first = frame->DicomViewer()->Images()->Item(1))
        SetChildCaption(frame, loading::StudyCaption(*first));
}

void TFormViewer::LoadFrame(TFrameDicomViewer *frame, const QString &key)
{
    if (!frame)
        return;
    HighlightStyle style;
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    if (control.Images()->Count() > 0) {
        if (const auto image = control.Images()->Item(frame->CurrentImageIndex)) {
            style.borderWidth = image->BorderWidth();
            style.borderStyle = image->BorderStyle();
            style.borderColour = image->BorderColour();
            if (const auto marker = image->Labels()->Item(loading::kLabelSelection)) {
                style.lineStyle = marker->LineStyle();
                style.foreColour = marker->ForeColour();
            }
        }
    }
    FillFrame(*frame, key);
    control.SetCellSpacing(style.borderWidth > 4 ? style.borderWidth : 4);
    if (const auto image = control.CurrentImage()) {
        image->SetBorderWidth(style.borderWidth);
        image->SetBorderStyle(style.borderStyle);
        image->SetBorderColour(style.borderColour);
        if (const auto marker = image->Labels()->Item(loading::kLabelSelection)) {
            marker->SetLineStyle(style.lineStyle);
            marker->SetForeColour(style.foreColour);
        }
    }
    control.Refresh();
}

void TFormViewer::SaveFrameState(TFrameDicomViewer *frame)
{
    if (!frame)
        return;
    const auto images = frame->DicomViewer()->Images();
    if (images->Count() == 0)
        return;
    TVisitData &visit = VisitData();
    const auto head = images->Item(1);
    const QString key = StackDown() ? head->StudyUID() : head->SeriesUID();
    const int first = visit.SeriesFirstIndex(key);
    const auto visitImages = visit.VisitImages();
    for (int c = 1; c <= images->Count(); ++c) {
        const auto source = images->Item(c);
        const auto target = visitImages->Item(first - 1 + c);
        if (!source || !target)
            continue;
        if (target != source) {
            // A separate entry: copy the display state and the labels over. (The frame
            // usually holds the visit's own entries, which need nothing copied.)
            target->SetWidth(source->Width());
            target->SetLevel(source->Level());
            target->SetShowLabels(source->ShowLabels());
            target->SetFlipState(source->FlipState());
            target->SetRotateState(source->RotateState());
            target->SetMinificationMode(source->MinificationMode());
            target->SetMagnificationMode(source->MagnificationMode());
            const auto labels = target->Labels();
            labels->Clear();
            for (int l = 1; l <= source->Labels()->Count(); ++l)
                labels->Add(source->Labels()->Item(l));
        }
        if (const auto marker = target->Labels()->Item(loading::kLabelSelection)) {
            marker->SetLineStyle(0);
            marker->SetForeColour(kSilver);
        }
        target->SetBorderWidth(1);
        target->SetBorderStyle(0);
        target->SetBorderColour(kSilver);
    }
}

void TFormViewer::SaveCurrentFrame() { SaveFrameState(currentFrame_); }

// ---------------------------------------------------------------------------------------
// Series and image navigation

namespace {

void RaiseReferenceButtons(TFormViewer &viewer)
{
    for (const char *name : {"TBAllRef", "TBFirstLastRef", "TBCurrentRef"})
        viewer.SetDown(QLatin1String(name), false);
}

} // namespace

void TFormViewer::TBSerieFirstClick()
{
    if (StackDown()) {
        StackSeriesMove(0);
        return;
    }
    const auto images = VisitData().VisitImages();
    if (!currentFrame_ || images->Count() == 0)
        return;
    ClearReferenceLines();
    RaiseReferenceButtons(*this);
    SaveCurrentFrame();
    LoadSeries(images->Item(1)->SeriesUID());
    UpdateControls();
}

void TFormViewer::TBSerieLastClick()
{
    if (StackDown()) {
        StackSeriesMove(3);
        return;
    }
    const auto images = VisitData().VisitImages();
    if (!currentFrame_ || images->Count() == 0)
        return;
    ClearReferenceLines();
    RaiseReferenceButtons(*this);
    SaveCurrentFrame();
    LoadSeries(images->Item(images->Count())->SeriesUID());
    UpdateControls();
}

// The series after (or before) the one shown in the current frame, outside
// stack mode.
void TFormViewer::MoveToNeighbourSeries(bool next)
{
    if (!currentFrame_)
        return;
    const auto image = currentFrame_->DicomViewer()->Images()->Item(currentFrame_->CurrentImageIndex);
    if (!image)
        return;
    const QString key = next ? VisitData().NextSeriesKey(image->SeriesUID())
                             : VisitData().PriorSeriesKey(image->SeriesUID());
    if (key.isEmpty())
        return;
    ClearReferenceLines();
    RaiseReferenceButtons(*this);
    SaveCurrentFrame();
    LoadSeries(key);
    UpdateControls();
}

void TFormViewer::TBSerieNextClick()
{
    if (StackDown()) {
        StackSeriesMove(2);
        return;
    }
    MoveToNeighbourSeries(true);
}

void TFormViewer::TBSeriePriorClick()
{
    if (StackDown()) {
        StackSeriesMove(1);
        return;
    }
    MoveToNeighbourSeries(false);
}

void TFormViewer::TBImageFirstClick()
{
    if (currentFrame_)
        currentFrame_->ScrollBar()->setValue(currentFrame_->ScrollBar()->minimum());
}

void TFormViewer::TBImagePriorClick()
{
    if (currentFrame_)
        currentFrame_->ScrollBar()->setValue(currentFrame_->ScrollBar()->value() - 1);
}

void TFormViewer::TBImageNextClick()
{
    if (currentFrame_)
        currentFrame_->ScrollBar()->setValue(currentFrame_->ScrollBar()->value() + 1);
}

void TFormViewer::TBImageLastClick()
{
    if (currentFrame_)
        currentFrame_->ScrollBar()->setValue(currentFrame_->ScrollBar()->maximum());
}

// ---------------------------------------------------------------------------------------
// Reference lines and synchronisation

namespace {

// Removes the reference lines and their numbers (labels from 12 on in the reference
// colour) from one image; true when it carried any.
bool RemoveReferenceLabels(imaging::DicomImage &image)
{
    const auto labels = image.Labels();
    bool removed = false;
    for (int i = labels->Count(); i >= 12; --i) {
        if (labels->Item(i)->ForeColour() == kOrange) {
            labels->Remove(i);
            removed = true;
        }
    }
    return removed;
}

} // namespace

bool TFormViewer::AnyReferenceDown() const
{
    return Down(QStringLiteral("TBAllRef")) || Down(QStringLiteral("TBCurrentRef"))
           || Down(QStringLiteral("TBFirstLastRef"));
}

void TFormViewer::RemoveAllReferenceLines()
{
    // An image keeps its labels when it leaves the screen (its frame scrolled, refilled
    // or destroyed), so the lines are looked for on every image of the visit and of the
    // frames, not only on the images shown: no old line may come back with its image.
    // An image that loses lines is redrawn at once.
    auto clean = [](const imaging::DicomImagePtr &image) {
        if (image && RemoveReferenceLabels(*image))
            image->Refresh();
    };
    if (TFormChildMDI *child = ActiveChild()) {
        for (TFrameDicomViewer *frame : child->Frames()) {
            const auto images = frame->DicomViewer()->Images();
            for (int i = 1; i <= images->Count(); ++i)
                clean(images->Item(i));
        }
    }
    const auto visitImages = VisitData().VisitImages();
    for (int i = 1; i <= visitImages->Count(); ++i)
        clean(visitImages->Item(i));
}

void TFormViewer::ClearReferenceLines()
{
    RemoveAllReferenceLines();
    TFormChildMDI *child = ActiveChild();
    if (!child || AnyReferenceDown())
        return;
    for (TFrameDicomViewer *frame : child->Frames())
        if (const auto image = frame->DicomViewer()->CurrentImage())
            image->Refresh();
}

void TFormViewer::DrawReferenceLines()
{
    TFormChildMDI *child = ActiveChild();
    TFrameDicomViewer *current = currentFrame_;
    if (!child || !current)
        return;
    if (referenceHold_ > 0) {
        // Frames are being moved together: one drawing when they are all in place.
        referencePending_ = true;
        return;
    }
    RemoveAllReferenceLines();
    const auto images = current->DicomViewer()->Images();
    const int index = current->DicomViewer()->CurrentIndex();
    QList<int> numbers;
    if (Down(QStringLiteral("TBAllRef"))) {
        for (int n = 1; n <= images->Count(); ++n)
            numbers << n;
    } else if (Down(QStringLiteral("TBCurrentRef"))) {
        numbers << index;
    } else if (Down(QStringLiteral("TBFirstLastRef"))) {
        numbers << 1 << index << images->Count();
    }
    for (TFrameDicomViewer *frame : child->Frames()) {
        if (frame == current)
            continue;
        if (frame->DicomViewer()->Images()->Count() == 0 || images->Count() == 0)
            break;
        for (const int n : numbers) {
            DrawReferenceLine(n, frame);
            if (!AnyReferenceDown()) {
                // Another frame of reference popped the buttons up: the lines already
                // drawn on the frames before this one go with them.
                ClearReferenceLines();
                update();
                return;
            }
        }
        if (const auto image = frame->DicomViewer()->CurrentImage())
            image->Refresh(false);
    }
    update();
}

void TFormViewer::DrawReferenceLine(int imageNumber, TFrameDicomViewer *frame)
{
    if (!currentFrame_ || !frame)
        return;
    const auto target = frame->DicomViewer()->CurrentImage();
    const auto source = currentFrame_->DicomViewer()->Images()->Item(imageNumber);
    if (!target || !source)
        return;
    // Positions are only comparable within one frame of reference; an image without one
    // shares it with no other image.
    const QString frameOfReference = loading::AttributeText(*target->Attributes(), 0x0020, 0x0052);
    if (frameOfReference.isEmpty()
        || frameOfReference != loading::AttributeText(*source->Attributes(), 0x0020, 0x0052)) {
        // Other frames of reference: the buttons pop up (which clears every line), nothing
        // is drawn.
        RaiseReferenceButtons(*this);
        return;
    }
    const auto line = target->ReferenceLine(*source, true);
    if (!line)
        return;
    line->SetLineStyle(2);
    line->SetForeColour(kOrange);
    line->SetTransparent(false);
    const auto text = loading::NewComponent<imaging::DicomLabel>();
    text->SetLabelType(imaging::DicomLabel::TypeText);
    text->SetImageTied(true);
    text->SetScaleFontSize(false);
    text->SetForeColour(kOrange);
    text->SetFontSize(8);
    text->SetTransparent(false);
    text->SetVisible(true);
    const QString instance = loading::AttributeText(*source->Attributes(), 0x0020, 0x0013);
    text->SetText(instance.isEmpty() ? QString::number(imageNumber) : instance);
    text->SetHeight(30);
    text->SetTop(line->Top() - text->Height());
    text->SetWidth(100);
    text->SetLeft(line->Left() - text->Width() / 2);
    text->SetAlignment(9);
    target->Labels()->Add(line);
    target->Labels()->Add(text);
}

void TFormViewer::TBAllRefClick(QAction *button)
{
    ClearReferenceLines();
    if (button && button->isChecked())
        DrawReferenceLines();
}

void TFormViewer::TBSeriesAutoClick()
{
    SyncMode = Down(QStringLiteral("TBSeriesAuto")) ? 1 : 0;
}

void TFormViewer::TBSeriesManualClick()
{
    if (Down(QStringLiteral("TBSeriesManual"))) {
        SyncMode = 2;
        RecordSyncOffsets();
    } else {
        SyncMode = 0;
    }
}

void TFormViewer::RecordSyncOffsets()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    for (TFrameDicomViewer *frame : child->Frames())
        if (frame != currentFrame_)
            frame->SyncOffset = currentFrame_->ScrollBar()->value() - frame->ScrollBar()->value();
}

bool TFormViewer::SyncCompatible(const imaging::DicomImage &a, const imaging::DicomImage &b) const
{
    if (SyncMode == 1) {
        auto values = [](const imaging::DicomImage &image, int element, int count, std::vector<double> &out) {
            const auto attribute = image.Attributes()->Item(0x0020, element);
            if (!attribute || !attribute->Exists())
                return false;
            for (int i = 1; i <= count; ++i) {
                bool ok = false;
                const double v = attribute->ValueByIndex(i).toString().toDouble(&ok);
                if (!ok)
                    return false;
                out.push_back(v);
            }
            return true;
        };
        std::vector<double> va, vb;
        if (!values(a, 0x0032, 3, va) || !values(a, 0x0037, 6, va) || !values(b, 0x0032, 3, vb)
            || !values(b, 0x0037, 6, vb))
            return false;
        const QString fa = loading::AttributeText(*a.Attributes(), 0x0020, 0x0052);
        if (fa.isEmpty() || fa != loading::AttributeText(*b.Attributes(), 0x0020, 0x0052))
            return false;
        for (std::size_t i = 0; i < va.size(); ++i)
            if (std::abs(va[i] - vb[i]) > 20.0)
                return false;
        return true;
    }
    auto plane = [](const imaging::DicomImage &image) {
        const auto label = image.Labels()->Item(loading::kLabelTopLeft);
        const QString text = label ? label->Text() : QString();
        for (const char *prefix : {"Ax:", "Sag", "Cor"}) {
            const QString line = loading::TextLine(QLatin1String(prefix), text);
            if (!line.isEmpty())
                return line;
        }
        return QString();
    };
    return plane(a).left(3) == plane(b).left(3);
}

void TFormViewer::SynchroniseFrames()
{
    TFormChildMDI *child = ActiveChild();
    TFrameDicomViewer *current = currentFrame_;
    if (!child || !current || SyncMode == 0)
        return;
    const auto image = current->DicomViewer()->CurrentImage();
    if (!image)
        return;
    const int position = current->ScrollBar()->value();
    {
        // The frames that move redraw their reference lines; once, after all have moved.
        struct Hold
        {
            int &count;
            explicit Hold(int &c) : count(c) { ++count; }
            ~Hold() { --count; }
        } hold(referenceHold_);
        for (TFrameDicomViewer *frame : child->Frames()) {
            if (frame == current)
                continue;
            // A frame without an image at that index is left where it is.
            const auto candidate = frame->DicomViewer()->Images()->Item(current->DicomViewer()->CurrentIndex());
            if (!candidate || !SyncCompatible(*image, *candidate))
                continue;
            frame->ScrollBar()->setValue(SyncMode == 1 ? position : position - frame->SyncOffset);
            update();
        }
    }
    if (referenceHold_ == 0 && referencePending_) {
        referencePending_ = false;
        DrawReferenceLines();
    }
}
