#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/selection.h"
#include "viewer/frame/measures.h"

#include "imaging/geometry.h"

#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScrollBar>

#include <cmath>

namespace {

constexpr int kOrange = 0x80FF;
constexpr int kSilver = 0xC0C0C0;
constexpr int kMeasureColour = 0xFFFF00;

TFrameHost *g_host = nullptr;
int g_screenCursor = 0;

long long Round(double value)
{
    return loading::RoundHalfEven(value);
}

// The zoom written with one decimal ("1.0x").
QString ZoomText(double zoom)
{
    return QStringLiteral("Zoom: ") + QString::number(zoom, 'f', 1) + QLatin1Char('x');
}

void ReplaceLine(imaging::DicomImage &image, int labelNumber, const QString &prefix, const QString &line)
{
    const auto label = image.Labels()->Item(labelNumber);
    if (!label)
        return;
    const QString text = loading::ReplaceTextLine(prefix, label->Text(), line);
    if (!text.isEmpty())
        label->SetText(text);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Creation and layout

TFrameDicomViewer::TFrameDicomViewer(QWidget *parent) : QFrame(parent), grab_(std::make_unique<TMarkGrab>())
{
    resize(253, 206);
    // Panel1: raised inner bevel, single border.
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    viewer_ = loading::NewViewerControl(this);
    viewer_->setObjectName(QStringLiteral("DicomViewer"));
    viewer_->SetImages(loading::NewImages());
    viewer_->SetBackColour(0);
    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setObjectName(QStringLiteral("ScrollBar"));
    scrollBar_->setMinimum(1);
    scrollBar_->setMaximum(1);
    scrollBar_->setValue(1);
    scrollBar_->setPageStep(1);
    scrollBar_->hide();
    // The bar is shown and hidden by the series loading: the control then gets the
    // room that is left beside it.
    scrollBar_->installEventFilter(this);
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int v) { ScrollBarChange(v); });

    viewer_->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        DicomViewerMouseDown(b, m, x, y);
    };
    viewer_->OnMouseMove = [this](Qt::MouseButtons b, Qt::KeyboardModifiers m, int x, int y) {
        DicomViewerMouseMove(b, m, x, y);
    };
    viewer_->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        DicomViewerMouseUp(b, m, x, y);
    };
    viewer_->OnFrameChanging = [this](int index, int frame) { DicomViewerFrameChanging(index, frame); };
    // A cell that changed size (a new layout, an image grid) shows its image at another
    // zoom: the "Zoom:" line follows.
    viewer_->OnZoomChanged = [this](int index) {
        if (const auto image = viewer_->Images()->Item(index))
            WriteZoomLine(*image);
    };
    viewer_->OnFocusIn = [this]() {
        if (!IsActive)
            FrameEnter();
    };
    measures::InstallMeasureTools(*this);
    LayoutChildren();
}

TFrameDicomViewer::~TFrameDicomViewer()
{
    viewer_->OnMouseDown = nullptr;
    viewer_->OnMouseMove = nullptr;
    viewer_->OnMouseUp = nullptr;
    viewer_->OnFrameChanging = nullptr;
    viewer_->OnZoomChanged = nullptr;
    viewer_->OnFocusIn = nullptr;
    if (g_host && g_host->CurrentFrame() == this)
        g_host->SetCurrentFrame(nullptr);
}

void TFrameDicomViewer::SetHost(TFrameHost *host) { g_host = host; }
TFrameHost *TFrameDicomViewer::Host() { return g_host; }

void TFrameDicomViewer::LayoutChildren()
{
    const QRect inner = contentsRect();
    const int barWidth = scrollBar_->isVisibleTo(this) ? 16 : 0;
    viewer_->setGeometry(inner.left(), inner.top(), std::max(0, inner.width() - barWidth), inner.height());
    scrollBar_->setGeometry(inner.right() + 1 - barWidth, inner.top(), barWidth, inner.height());
}

void TFrameDicomViewer::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    LayoutChildren();
}

bool TFrameDicomViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == scrollBar_ && (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent))
        LayoutChildren();
    return QFrame::eventFilter(watched, event);
}

bool TFrameDicomViewer::Cine() const { return g_host && g_host->ButtonDown(TFrameButton::Cine); }

imaging::DicomImagePtr TFrameDicomViewer::CurrentFrameImage() const
{
    return viewer_->Images()->Item(CurrentImageIndex);
}

void TFrameDicomViewer::SetScreenCursor(int cursor)
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
    g_screenCursor = cursor;
    if (cursor == 0)
        return;
    QCursor shape(Qt::ArrowCursor);
    if (cursor == -21)
        shape = QCursor(Qt::PointingHandCursor);
    else if (cursor == -22)
        shape = QCursor(Qt::SizeAllCursor);
    else if (TTemplateDM *dm = TemplateDMIfAny())
        shape = dm->Cursor(cursor);
    QGuiApplication::setOverrideCursor(shape);
}

int TFrameDicomViewer::ScreenCursor() { return g_screenCursor; }

// ---------------------------------------------------------------------------------------
// Text lines and highlight

void TFrameDicomViewer::WriteWindowLine(imaging::DicomImage &image)
{
    ReplaceLine(image, loading::kLabelBottomLeft, QStringLiteral("W:"),
                QStringLiteral("W: %1 L: %2").arg(Round(image.Width())).arg(Round(image.Level())));
}

void TFrameDicomViewer::WriteZoomLine(imaging::DicomImage &image)
{
    ReplaceLine(image, loading::kLabelTopLeft, QStringLiteral("Zoom:"), ZoomText(image.ActualZoom()));
}

void TFrameDicomViewer::MarkImage(imaging::DicomViewerLight &control, int index, bool on)
{
    control.SetCellSpacing(4);
    const auto image = control.Images()->Item(index);
    if (!image)
        return;
    image->SetBorderWidth(1);
    image->SetBorderStyle(on ? 2 : 0);
    image->SetBorderColour(on ? kOrange : kSilver);
    if (const auto marker = image->Labels()->Item(loading::kLabelSelection)) {
        marker->SetLineStyle(on ? 2 : 0);
        marker->SetForeColour(on ? kOrange : kSilver);
    }
}

void TFrameDicomViewer::XorDrawLabel(imaging::DicomLabel &label)
{
    viewer_->XorDrawLabel(label, CurrentImageIndex);
}

// ---------------------------------------------------------------------------------------
// Scroll bar, entry, exit, frames of a multi-frame image

void TFrameDicomViewer::SetScrollRange(int count)
{
    const QSignalBlocker blocker(scrollBar_);
    scrollBar_->setMaximum(std::max(1, count));
    scrollBar_->setValue(scrollBar_->maximum());
    scrollBar_->setValue(1);
    // Always shows image 1, even when the position did not change.
    ScrollBarChange(1);
}

void TFrameDicomViewer::ClearReadout()
{
    if (g_host)
        g_host->SetStatusText(QString());
}

void TFrameDicomViewer::ScrollBarChange(int position)
{
    // Another image (or, through the series loading, another series) comes under the
    // mouse: the value read on the one that left is no longer under it.
    ClearReadout();
    MarkImage(*viewer_, viewer_->CurrentIndex(), false);
    viewer_->SetCurrentIndex(position);
    CurrentImageIndex = viewer_->CurrentIndex();
    if (IsActive) {
        MarkImage(*viewer_, viewer_->CurrentIndex(), true);
        if (g_host) {
            if (g_host->ButtonDown(TFrameButton::CurrentRef) || g_host->ButtonDown(TFrameButton::FirstLastRef))
                g_host->DrawReferenceLines();
            if (g_host->ButtonDown(TFrameButton::SeriesAuto) || g_host->ButtonDown(TFrameButton::SeriesManual))
                g_host->SynchroniseFrames();
            const auto image = viewer_->CurrentImage();
            g_host->SetLabelOvlDown(image && image->ShowLabels());
        }
    } else if (g_host && g_host->CurrentFrame() && g_host->CurrentFrame() != this
               && (g_host->ButtonDown(TFrameButton::AllRef) || g_host->ButtonDown(TFrameButton::CurrentRef)
                   || g_host->ButtonDown(TFrameButton::FirstLastRef))) {
        // Another image here (this frame's own scroll bar, synchronisation): the reference
        // lines belong on the image now shown, and none may stay on the one that left.
        g_host->DrawReferenceLines();
    }
    viewer_->update();
}

void TFrameDicomViewer::FrameEnter()
{
    if (!g_host)
        return;
    if (const auto first = viewer_->Images()->Item(1))
        g_host->SetChildCaption(this, loading::StudyCaption(*first));
    if (Cine())
        return;
    // The frame that had the focus loses it first.
    TFrameDicomViewer *previous = g_host->CurrentFrame();
    if (previous && previous != this && previous->IsActive)
        previous->FrameExit();
    g_host->SetCurrentFrame(this);
    g_host->UpdateControls();
    IsActive = true;
    viewer_->setFocus(Qt::OtherFocusReason);
    if (g_host->ButtonDown(TFrameButton::AllRef) || g_host->ButtonDown(TFrameButton::CurrentRef)
        || g_host->ButtonDown(TFrameButton::FirstLastRef))
        g_host->DrawReferenceLines();
    if (g_host->ButtonDown(TFrameButton::SeriesManual))
        g_host->RecordSyncOffsets();
}

void TFrameDicomViewer::FrameExit()
{
    if (Cine())
        return;
    MarkImage(*viewer_, CurrentImageIndex, false);
    viewer_->update();
    if (g_host)
        g_host->ClearReferenceLines();
    IsActive = false;
}

void TFrameDicomViewer::DicomViewerFrameChanging(int imageIndex, int newFrame)
{
    const auto image = viewer_->Images()->Item(imageIndex);
    if (!image)
        return;
    ReplaceLine(*image, loading::kLabelTopLeft, QStringLiteral("Fr:"),
                QStringLiteral("Fr: %1/%2").arg(newFrame).arg(image->FrameCount()));
    image->Refresh(false);
    // The pixel values under the mouse are another frame's now.
    ClearReadout();
}

// ---------------------------------------------------------------------------------------
// Series-wide operations

void TFrameDicomViewer::ApplyToSeries(int op)
{
    const auto images = viewer_->Images();
    const auto current = images->Item(CurrentImageIndex);
    if (!current)
        return;
    if (op == 18) {
        if (SavedFilterModes.minification == 1 || SavedFilterModes.magnification == 0)
            SavedFilterModes = {3, 3};
    }
    const bool smoothing = g_host && g_host->ButtonDown(TFrameButton::Smoothing);
    const QString series = current->SeriesUID();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto g = images->Item(i);
        if (op == 7) {
            g->SetMinificationMode(1);
            g->SetMagnificationMode(0);
        }
        if (g->SeriesUID() != series)
            continue;
        g->SetShowUpdates(false);
        switch (op) {
        case 1:
            g->SetWidth(current->Width());
            g->SetLevel(current->Level());
            WriteWindowLine(*g);
            break;
        case 5:
            g->SetZoom(current->Zoom());
            WriteZoomLine(*g);
            ReAnchor(*g);
            break;
        case 6:
            g->SetScrollX(current->ScrollX());
            g->SetScrollY(current->ScrollY());
            break;
        case 11: {
            g->SetStretchToFit(!g->StretchToFit());
            if (!g->StretchToFit()) {
                // Centred in its cell at its own zoom, with its turn and pixel shape.
                const int cell = i - viewer_->CurrentIndex();
                QRectF rect = viewer_->CellRect(cell);
                if (rect.isEmpty())
                    rect = viewer_->CellRect(0);
                imaging::DisplayGeometry geometry = g->Geometry();
                if (!rect.isEmpty())
                    geometry.cell = rect;
                const QPointF scroll = imaging::CentredScroll(geometry);
                g->SetScrollX(static_cast<int>(Round(scroll.x())));
                g->SetScrollY(static_cast<int>(Round(scroll.y())));
            }
            WriteZoomLine(*g);
            break;
        }
        case 12:
            g->SetShowLabels(!g->ShowLabels());
            break;
        case 13:
            g->SetFlipState(g->FlipState() == 1 ? 0 : 1);
            break;
        case 14:
            g->SetFlipState(g->FlipState() == 2 ? 0 : 2);
            break;
        case 15:
        case 16: {
            // The mirrors act on the screen after the turn: under one mirror a turn of
            // the stored state goes the other way on screen, so it is reversed to keep
            // "left" turning the picture left.
            const bool mirrored = g->FlipState() == 1 || g->FlipState() == 2;
            const bool left = (op == 15) != mirrored;
            g->SetRotateState((g->RotateState() + (left ? 1 : 3)) % 4);
            WriteZoomLine(*g);
            break;
        }
        case 17:
            g->SetWidth(-g->Width());
            WriteWindowLine(*g);
            break;
        case 18:
            if (smoothing) {
                g->SetMinificationMode(SavedFilterModes.minification);
                g->SetMagnificationMode(SavedFilterModes.magnification);
            } else {
                g->SetMinificationMode(1);
                g->SetMagnificationMode(0);
            }
            break;
        default:
            break;
        }
        g->SetShowUpdates(true);
    }
    viewer_->Refresh();
    QCoreApplication::processEvents();
}

void TFrameDicomViewer::ReAnchor(imaging::DicomImage &image) const
{
    // The press point is taken from the cell it was made in, the current image's: in a
    // grid, or with the spacing around the cell, the cell does not start at the
    // control's corner. Every image of the series is re-anchored on that one point (its
    // own cell would give each another scroll, and show another region once it comes
    // into view).
    const double z = image.Zoom();
    const double ratio = 1.0 - z / ZoomOrigin.zoom;
    const auto pressed = CurrentFrameImage();
    const int x0 = ZoomOrigin.x - (pressed ? pressed->OriginX() : image.OriginX());
    const int y0 = ZoomOrigin.y - (pressed ? pressed->OriginY() : image.OriginY());
    image.SetScrollX(static_cast<int>(Round(ZoomOrigin.scrollX - ratio * (x0 + ZoomOrigin.scrollX))));
    image.SetScrollY(static_cast<int>(Round(ZoomOrigin.scrollY - ratio * (y0 + ZoomOrigin.scrollY))));
}

// ---------------------------------------------------------------------------------------
// Magnifier and loupe

void TFrameDicomViewer::CentreMagnifier(int x, int y)
{
    imaging::DicomViewerLight *magnifier = g_host ? g_host->Magnifier() : nullptr;
    const auto image = CurrentFrameImage();
    if (!magnifier || !image)
        return;
    const auto m = magnifier->CurrentImage();
    if (!m || image->ActualZoom() == 0)
        return;
    const double factor = m->ActualZoom() / image->ActualZoom();
    m->SetScrollX(static_cast<int>(std::trunc((image->ActualScrollX() + x - image->OriginX()) * factor
                                              - magnifier->width() / 2.0)));
    m->SetScrollY(static_cast<int>(std::trunc((image->ActualScrollY() + y - image->OriginY()) * factor
                                              - magnifier->height() / 2.0)));
}

void TFrameDicomViewer::PlaceLoupe(int x, int y)
{
    imaging::DicomViewerLight *loupe = g_host ? g_host->Loupe() : nullptr;
    if (!loupe)
        return;
    // The cursor's screen position (the point of the event on the screen).
    LoupePoint = viewer_->mapToGlobal(QPoint(x, y));
    QWidget *window = loupe->window();
    const QPoint clientOffset = loupe->mapTo(window, QPoint(0, 0));
    window->move(LoupePoint.x() - loupe->width() / 2 - clientOffset.x(),
                 LoupePoint.y() - loupe->height() / 2 - clientOffset.y());
}

void TFrameDicomViewer::ScrollLoupe(int x, int y)
{
    imaging::DicomViewerLight *loupe = g_host ? g_host->Loupe() : nullptr;
    if (!loupe)
        return;
    const auto l = loupe->CurrentImage();
    if (!l)
        return;
    const int px = viewer_->ImageXPosition(x, y);
    const int py = viewer_->ImageYPosition(x, y);
    // Where that pixel lies in the loupe's picture unscrolled (its zoom, turn, mirror and
    // pixel shape): px x Zoom, py x Zoom for an image shown as it is stored.
    imaging::DisplayGeometry geometry = l->Geometry();
    geometry.cell = QRectF(0, 0, loupe->width(), loupe->height());
    geometry.stretchToFit = false;
    geometry.scrollX = geometry.scrollY = 0;
    const QPointF at = imaging::ImageToClient(geometry, QPointF(px, py));
    l->SetScrollX(static_cast<int>(Round(at.x())) - loupe->width() / 2);
    l->SetScrollY(static_cast<int>(Round(at.y())) - loupe->height() / 2);
}

// ---------------------------------------------------------------------------------------
// Mouse

void TFrameDicomViewer::SaveFilterModes(imaging::DicomImage &image)
{
    SavedFilterModes = {image.MinificationMode(), image.MagnificationMode()};
}

bool TFrameDicomViewer::GrabbedMark() const
{
    return HitLabels && HitLabels->Count() > 0 && MeasureKind(*HitLabels->Item(HitLabels->Count())) >= 1
           && MeasureKind(*HitLabels->Item(HitLabels->Count())) <= 5;
}

void TFrameDicomViewer::DicomViewerMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (!g_host || Cine())
        return;
    // 1. The image under the cursor becomes the current one.
    const int index = viewer_->ImageIndex(x, y);
    if (index != 0) {
        MarkImage(*viewer_, CurrentImageIndex, false);
        CurrentImageIndex = index;
        MarkImage(*viewer_, index, true);
        if (!IsActive)
            FrameEnter();
        if (g_host->ButtonDown(TFrameButton::Smoothing))
            if (const auto image = CurrentFrameImage())
                SaveFilterModes(*image);
    }
    // 2. Any tool but the magnifier closes the magnifier.
    if (g_host->LeftTool() != toolMagnify && g_host->Magnifier())
        g_host->ReleaseMagnifier();
    // 3, 4. A press on a mark grabs it, whatever the button.
    DownPoint = QPoint(x, y);
    HitLabels = viewer_->LabelHits(x, y, true, true, true);
    if (HitLabels->Count() > 0) {
        const auto label = HitLabels->Item(HitLabels->Count());
        const int kind = MeasureKind(*label);
        if (kind >= 1 && kind <= 5) {
            const int px = viewer_->ImageXPosition(x, y);
            const int py = viewer_->ImageYPosition(x, y);
            TMarkGrab &grab = *grab_;
            grab.GrabMovesGroup = grab.GrabTest(*label, px, py);
            SetScreenCursor(grab.GrabMovesGroup ? -21 : -22);
            const auto image = CurrentFrameImage();
            if (image)
                grab.GatherGroup(label, *image->Labels());
            else
                grab.GroupFirst = label;
            grab.RecordGrabOffsets(px, py);
            if (!grab.GrabMovesGroup && (kind == 1 || kind == 2) && grab.GroupSecond)
                grab.GroupSecond->SetVisible(false);
            return;
        }
    }
    // 5.
    HitLabels->Clear();
    HitLabels.reset();

    const auto image = CurrentFrameImage();
    if (!image)
        return;
    const bool smoothing = g_host->ButtonDown(TFrameButton::Smoothing);
    if (button == Qt::LeftButton) {
        switch (g_host->LeftTool()) {
        case toolZoom:
            SetScreenCursor(crZoom);
            ZoomSum = x + y;
            ZoomOrigin = {x, y, image->ActualScrollX(), image->ActualScrollY(), image->ActualZoom()};
            if (smoothing) {
                SaveFilterModes(*image);
                image->SetMinificationMode(1);
                image->SetMagnificationMode(0);
            }
            break;
        case toolScroll:
            SetScreenCursor(crScroll);
            DragAnchorY = y;
            if (smoothing) {
                SaveFilterModes(*image);
                ApplyToSeries(7);
            }
            break;
        case toolMagnify:
            SetScreenCursor(crMagnify);
            g_host->PrepareMagnifier();
            if (imaging::DicomViewerLight *magnifier = g_host->Magnifier()) {
                if (const auto m = magnifier->CurrentImage()) {
                    m->SetZoom(g_host->MagnifyZoom());
                    magnifier->window()->setWindowTitle(QString::number(m->Zoom(), 'f', 1) + QLatin1Char('x'));
                }
                CentreMagnifier(x, y);
                magnifier->Refresh();
            }
            break;
        case toolMagnify2:
            if (imaging::DicomViewerLight *loupe = g_host->CreateLoupe()) {
                PlaceLoupe(x, y);
                loupe->window()->show();
                // The window is centred on the screen at its first showing: place it again.
                PlaceLoupe(x, y);
                if (const auto l = loupe->CurrentImage())
                    l->SetZoom(g_host->LoupeZoom());
                ScrollLoupe(x, y);
                loupe->Refresh();
            }
            break;
        default:
            break;
        }
    } else if (button == Qt::RightButton) {
        switch (g_host->RightTool()) {
        case toolIntensite:
            SetScreenCursor(crWidthLevel);
            if (smoothing) {
                SaveFilterModes(*image);
                image->SetMinificationMode(1);
                image->SetMagnificationMode(0);
            }
            DragAnchorX = static_cast<int>(Round(image->Width())) - x;
            DragAnchorY = static_cast<int>(Round(image->Level())) - y;
            break;
        case toolMove:
            SetScreenCursor(crMove);
            DragAnchorX = image->ScrollX() + x;
            DragAnchorY = image->ScrollY() + y;
            if (smoothing) {
                SaveFilterModes(*image);
                image->SetMinificationMode(1);
                image->SetMagnificationMode(0);
            }
            break;
        case toolMesureLine:
        case toolMesureEllipse:
        case toolIndication:
        case toolMesureAngle:
            SetScreenCursor(crMeasure);
            NewLabel.reset();
            if (BeginShape) {
                BeginShape(*this, g_host->RightTool(), x, y);
                if (NewLabel)
                    XorDrawLabel(*NewLabel);
            }
            break;
        default:
            break;
        }
    }
}

void TFrameDicomViewer::DicomViewerMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers, int x, int y)
{
    if (!g_host || Cine())
        return;
    if (!(buttons & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton))) {
        PixelReadout(x, y);
        return;
    }
    // 1. Dragging a grabbed mark.
    if (GrabbedMark()) {
        const int px = viewer_->ImageXPosition(x, y);
        const int py = viewer_->ImageYPosition(x, y);
        if (grab_->GrabMovesGroup)
            grab_->MoveGroup(px, py);
        else
            grab_->ResizeShape(px, py);
        viewer_->Refresh();
        return;
    }
    const auto image = CurrentFrameImage();
    if (!image)
        return;
    // 2. One drawing per change.
    image->SetShowUpdates(false);
    if (buttons & Qt::LeftButton) {
        switch (g_host->LeftTool()) {
        case toolZoom: {
            double z = image->Zoom();
            if (ZoomSum < x + y)
                z -= 0.1;
            else if (x + y < ZoomSum)
                z += 0.1;
            if (z >= 0.2 && z <= 64) {
                image->SetZoom(z);
                WriteZoomLine(*image);
            }
            ZoomSum = x + y;
            ReAnchor(*image);
            image->SetShowUpdates(true);
            image->Refresh();
            break;
        }
        case toolScroll:
            // The image is about to leave the first cell: it keeps notifying its changes.
            image->SetShowUpdates(true);
            if (DragAnchorY < y)
                scrollBar_->setValue(scrollBar_->value() + 1);
            else if (y < DragAnchorY)
                scrollBar_->setValue(scrollBar_->value() - 1);
            DragAnchorY = y;
            break;
        case toolMagnify:
            CentreMagnifier(x, y);
            if (imaging::DicomViewerLight *magnifier = g_host->Magnifier())
                magnifier->Refresh();
            break;
        case toolMagnify2:
            PlaceLoupe(x, y);
            ScrollLoupe(x, y);
            if (imaging::DicomViewerLight *loupe = g_host->Loupe())
                loupe->Refresh();
            viewer_->repaint();
            break;
        default:
            break;
        }
    } else if (buttons & Qt::RightButton) {
        switch (g_host->RightTool()) {
        case toolIntensite:
            image->SetWidth(x + DragAnchorX);
            image->SetLevel(y + DragAnchorY);
            WriteWindowLine(*image);
            image->SetShowUpdates(true);
            image->Refresh();
            break;
        case toolMove:
            image->SetScrollX(DragAnchorX - x);
            image->SetScrollY(DragAnchorY - y);
            image->SetShowUpdates(true);
            image->Refresh();
            break;
        case toolMesureLine:
        case toolMesureEllipse:
        case toolIndication:
        case toolMesureAngle:
            if (NewLabel) {
                XorDrawLabel(*NewLabel);
                NewLabel->SetWidth(static_cast<qint16>(x - NewLabel->Left()));
                NewLabel->SetHeight(static_cast<qint16>(y - NewLabel->Top()));
                NewLabel->AddPoint(x, y);
                XorDrawLabel(*NewLabel);
            }
            break;
        default:
            break;
        }
    }
}

void TFrameDicomViewer::DicomViewerMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (!g_host || Cine())
        return;
    SetScreenCursor(0);
    const auto image = CurrentFrameImage();
    // 2. Smoothing back after a fast drag.
    if (image && g_host->ButtonDown(TFrameButton::Smoothing)
        && !(SavedFilterModes.minification == 1 && SavedFilterModes.magnification == 0)) {
        image->SetMinificationMode(SavedFilterModes.minification);
        image->SetMagnificationMode(SavedFilterModes.magnification);
    }
    TMarkGrab &grab = *grab_;
    const bool click = x == DownPoint.x() && y == DownPoint.y();
    // 3. End of a mark drag.
    if (HitLabels && HitLabels->Count() > 0 && !click) {
        if (GrabbedMark()) {
            SetScreenCursor(0);
            if (!grab.GrabMovesGroup)
                grab.RefreshGroupText(CurrentImageIndex);
        }
        viewer_->Refresh();
        grab.Forget();
        HitLabels->Clear();
        HitLabels.reset();
        g_host->ShareSeriesState(this);
        return;
    }
    // 4. A click.
    if (click) {
        if (HitLabels && HitLabels->Count() > 0 && grab.GroupFirst
            && (grab.GroupFirst->LabelType() == imaging::DicomLabel::TypeLine
                || grab.GroupFirst->LabelType() == imaging::DicomLabel::TypeEllipse)
            && grab.GroupSecond)
            grab.GroupSecond->SetVisible(true);
        grab.Forget();
        HitLabels = viewer_->LabelHits(x, y, true, true, true);
        if (HitLabels->Count() > 0) {
            const auto label = HitLabels->Item(HitLabels->Count());
            if (label->LabelType() == imaging::DicomLabel::TypeRectangle) {
                // The selection marker: a right click opens the selection menu, a left
                // click toggles the image under it.
                if (button == Qt::RightButton) {
                    HitLabels->Clear();
                    HitLabels.reset();
                    selection::PopupMenuSelect(*this)->popup(QCursor::pos());
                } else {
                    const int index = viewer_->ImageIndex(x, y);
                    selection::ToggleSelection(*this, index > 0 ? index : CurrentImageIndex);
                }
                return;
            }
            if (label->LabelType() == imaging::DicomLabel::TypeLine && label->ForeColour() == kMeasureColour
                && image) {
                const int noted = label->SelectMode();
                const auto labels = image->Labels();
                for (int i = 12; i <= labels->Count(); ++i)
                    labels->Item(i)->SetSelectMode(0);
                label->SetSelectMode(noted == 0 ? 2 : 0);
            }
        }
        if (button == Qt::RightButton) {
            // HitLabels stays: the series menu offers to edit or delete the mark under it.
            g_host->PopupSeriesMenu(this, viewer_->mapToGlobal(QPoint(x, y)));
            return;
        }
    }
    // 5. The tool's action.
    grab.Forget();
    if (image) {
        image->SetShowUpdates(false);
        if (button == Qt::LeftButton) {
            switch (g_host->LeftTool()) {
            case toolZoom: {
                double z = image->Zoom();
                if (ZoomSum < x + y)
                    z -= 0.1;
                else if (x + y < ZoomSum)
                    z += 0.1;
                image->SetZoom(std::clamp(z, 0.2, 64.0));
                WriteZoomLine(*image);
                ApplyToSeries(5);
                break;
            }
            case toolScroll:
                if (g_host->ButtonDown(TFrameButton::Smoothing))
                    ApplyToSeries(18);
                break;
            case toolMagnify:
                CentreMagnifier(x, y);
                break;
            case toolMagnify2:
                g_host->ReleaseLoupe();
                break;
            default:
                break;
            }
        } else if (button == Qt::RightButton) {
            switch (g_host->RightTool()) {
            case toolIntensite:
                image->SetWidth(DragAnchorX + x);
                image->SetLevel(DragAnchorY + y);
                WriteWindowLine(*image);
                ApplyToSeries(1);
                break;
            case toolMove:
                ApplyToSeries(6);
                break;
            case toolMesureLine:
            case toolMesureEllipse:
            case toolIndication:
            case toolMesureAngle:
            case toolLbl: {
                const int tool = g_host->RightTool();
                if (NewLabel && tool != toolLbl) {
                    QVariantList tag = NewLabel->Tag().toList();
                    while (tag.size() < 4)
                        tag.append(0);
                    tag[1] = tool == toolMesureLine ? 1 : tool == toolMesureEllipse ? 2 : tool == toolIndication ? 3 : 5;
                    NewLabel->SetTag(tag);
                }
                if (FinishShape)
                    FinishShape(*this, tool, x, y);
                break;
            }
            default:
                break;
            }
        }
        image->SetShowUpdates(true);
    }
    // 6.
    viewer_->Refresh();
    g_host->UpdateControls();
    if (HitLabels) {
        HitLabels->Clear();
        HitLabels.reset();
    }
    SavedFilterModes = {1, 0};
}

// ---------------------------------------------------------------------------------------
// Pixel value under the cursor

void TFrameDicomViewer::PixelReadout(int x, int y)
{
    // The value is read from the image under the cursor (in a grid of several images
    // the first cell's image is another one).
    const auto image = viewer_->Images()->Item(viewer_->ImageIndex(x, y));
    QString samples, intercept, slope;
    if (image) {
        const auto attributes = image->Attributes();
        samples = loading::AttributeText(*attributes, 0x0028, 0x0002);
        intercept = loading::AttributeText(*attributes, 0x0028, 0x1052);
        slope = loading::AttributeText(*attributes, 0x0028, 0x1053);
    }
    if (!(samples == QLatin1String("1") && (!intercept.isEmpty() || !slope.isEmpty()))) {
        g_host->SetStatusText(QString());
        return;
    }
    const int px = viewer_->ImageXPosition(x, y);
    const int py = viewer_->ImageYPosition(x, y);
    if (px < 0 || py < 0) {
        // Off the image (the black around it): no value is shown for a place without one.
        g_host->SetStatusText(QString());
        return;
    }
    // A one-point label samples the pixel after the modality rescale; it is removed at
    // once and the image is not redrawn for it.
    const bool updates = image->ShowUpdates();
    image->SetShowUpdates(false);
    const auto labels = image->Labels();
    const auto probe = labels->AddNew();
    probe->SetLabelType(imaging::DicomLabel::TypePoint);
    probe->SetImageTied(true);
    probe->AddPoint(px, py);
    double value = 0;
    bool ok = true;
    try {
        value = probe->ROIMean();
    } catch (const imaging::DicomError &) {
        ok = false;
    }
    labels->Remove(labels->Count());
    image->SetShowUpdates(updates);
    if (!ok) {
        g_host->SetStatusText(QString());
        return;
    }
    QString text;
    if (image->SOPClass() == QLatin1String(loading::kSopClassCT)) {
        text = QStringLiteral("(%1, %2) HU: %3").arg(px).arg(py).arg(QString::number(value, 'g', 15));
    } else {
        const double rounded = std::nearbyint(value * 10000) / 10000;
        text = QStringLiteral("(%1, %2) %3").arg(px).arg(py).arg(QString::number(rounded, 'g', 15));
    }
    g_host->SetStatusText(text);
}
