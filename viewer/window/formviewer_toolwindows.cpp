// The main window's side of the cine and thumbnails windows: their buttons, TBCine's
// right-click menu, and their freeing when their closing messages arrive.

#include "viewer/window/formcine.h"
#include "viewer/window/formthumbnails.h"
#include "viewer/window/formviewer.h"

#include <QAction>
#include <QMenu>

void TFormViewer::TBCineClick()
{
    if (cine_) {
        cine_->close();
        UpdateControls();
        return;
    }
    TFrameDicomViewer *frame = currentFrame_;
    const auto image = frame ? frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex) : nullptr;
    if (!image || image->FrameCount() < 2) {
        SetDown(QStringLiteral("TBCine"), false);
        UpdateControls();
        return;
    }
    SetDown(QStringLiteral("TBCine"), true);
    // A window of its own, above this one; hidden until TBCine's menu shows it.
    cine_ = new TFormCine(*this, nullptr);
    UpdateControls();
}

void TFormViewer::RestartCine()
{
    if (cine_)
        cine_->RVFlatRadioGroup1Click();
}

TFormCine *TFormViewer::FormCine() const { return cine_.data(); }

void TFormViewer::PopupMenuCinePopup()
{
    QMenu *menu = Menu(QStringLiteral("PopupMenuCine"));
    if (!menu || menu->actions().size() < 2)
        return;
    const bool running = Down(QStringLiteral("TBCine")) && cine_;
    menu->actions().at(0)->setEnabled(running && !cine_->isVisible());
    menu->actions().at(1)->setEnabled(running && cine_->isVisible());
}

void TFormViewer::Afficherlafentredecontrle1Click()
{
    if (cine_)
        cine_->show();
}

void TFormViewer::Nepasafficherlafentredecontrle1Click()
{
    if (cine_)
        cine_->hide();
}

void TFormViewer::CineClosed()
{
    if (TFormCine *window = cine_.data()) {
        cine_ = nullptr;
        window->hide();
        window->deleteLater();
    }
    SetDown(QStringLiteral("TBCine"), false);
    UpdateControls();
}

void TFormViewer::TBThumbnailsClick()
{
    if (thumbnails_) {
        thumbnails_->close();
        return;
    }
    if (!ActiveChild()) {
        SetDown(QStringLiteral("TBThumbnails"), false);
        return;
    }
    SetDown(QStringLiteral("TBThumbnails"), true);
    // A window of its own (its pictures are imaging controls, which must not draw into
    // this window's client area).
    thumbnails_ = new TFormThumbnails(*this, nullptr);
    thumbnails_->show();
}

TFormThumbnails *TFormViewer::FormThumbnails() const { return thumbnails_.data(); }

void TFormViewer::ThumbnailsClosed()
{
    if (TFormThumbnails *window = thumbnails_.data()) {
        thumbnails_ = nullptr;
        window->hide();
        window->deleteLater();
    }
    SetDown(QStringLiteral("TBThumbnails"), false);
}

void TFormViewer::CloseToolWindows()
{
    if (thumbnails_)
        thumbnails_->close();
    if (cine_)
        cine_->close();
}
