#include "viewer/window/formmagnify.h"

#include "viewer/loading/components.h"

#include <QCloseEvent>
#include <QPainter>

imaging::DicomImagePtr IndependentEntry(const imaging::DicomImagePtr &image)
{
    if (!image)
        return nullptr;
    // A collection that already holds the image gives a new entry of it when the image
    // is added again.
    auto scratch = loading::NewImages();
    scratch->Add(image);
    return scratch->Add(image);
}

TFormMagnifyBase::TFormMagnifyBase(Qt::WindowFlags flags, QWidget *parent) : TTemplate1(parent, flags)
{
    resize(208, 227);
    viewer_ = loading::NewViewerControl(this);
    viewer_->setObjectName(QStringLiteral("DicomViewer"));
    viewer_->SetImages(loading::NewImages());
    viewer_->SetBackColour(0);
    setCentralWidget(viewer_);
}

void TFormMagnifyBase::showEvent(QShowEvent *event)
{
    TTemplate1::showEvent(event);
    setWindowTitle(QString());
    Prepare();
}

void TFormMagnifyBase::Prepare()
{
    viewer_->Labels()->Clear();
    viewer_->Images()->Clear();
    if (const auto entry = IndependentEntry(source_))
        viewer_->Images()->Add(entry);
    viewer_->SetCurrentIndex(1);
    if (const auto image = viewer_->CurrentImage()) {
        image->Labels()->Clear();
        image->SetStretchToFit(false);
        image->SetBorderWidth(0);
    }
}

TFormMagnify::TFormMagnify(QWidget *parent)
    : TFormMagnifyBase(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowCloseButtonHint,
                       parent)
{
    setObjectName(QStringLiteral("FormMagnify"));
    // A right click on the magnifier closes it.
    viewer_->OnMouseDown = [this](Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
        if (button == Qt::RightButton)
            close();
    };
}

void TFormMagnify::Prepare()
{
    TFormMagnifyBase::Prepare();
    auto horizontal = viewer_->Labels()->AddNew();
    auto vertical = viewer_->Labels()->AddNew();
    for (const auto &line : {horizontal, vertical}) {
        line->SetLabelType(imaging::DicomLabel::TypeLine);
        line->SetTransparent(true);
        line->SetForeColour(0x80FF);
        line->SetLineWidth(1);
        line->SetScaleWithCell(false);
        line->SetImageTied(false);
    }
    horizontal->SetWidth(24);
    horizontal->SetHeight(0);
    vertical->SetWidth(0);
    vertical->SetHeight(24);
    PlaceCross();
    viewer_->Refresh();
}

imaging::DicomLabelPtr TFormMagnify::CrossHorizontal() const { return viewer_->Labels()->Item(1); }
imaging::DicomLabelPtr TFormMagnify::CrossVertical() const { return viewer_->Labels()->Item(2); }

void TFormMagnify::PlaceCross()
{
    const auto horizontal = CrossHorizontal();
    const auto vertical = CrossVertical();
    if (!horizontal || !vertical)
        return;
    const int w = viewer_->width();
    const int h = viewer_->height();
    horizontal->SetLeft(w / 2 - horizontal->Width() / 2);
    horizontal->SetTop(h / 2);
    vertical->SetLeft(w / 2);
    vertical->SetTop(h / 2 - vertical->Height() / 2);
}

void TFormMagnify::resizeEvent(QResizeEvent *event)
{
    TFormMagnifyBase::resizeEvent(event);
    PlaceCross();
    viewer_->Refresh();
}

void TFormMagnify::closeEvent(QCloseEvent *event)
{
    TFormMagnifyBase::closeEvent(event);
    if (!event->isAccepted() || closing_)
        return;
    closing_ = true;
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSEMAGNIFY"));
    deleteLater();
}

TFormMagnify2::TFormMagnify2(QWidget *parent)
    : TFormMagnifyBase(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint, parent)
{
    setObjectName(QStringLiteral("FormMagnify2"));
    setContentsMargins(3, 3, 3, 3);
}

void TFormMagnify2::paintEvent(QPaintEvent *event)
{
    TFormMagnifyBase::paintEvent(event);
    // A raised dialog frame around the view.
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.setPen(QColor(240, 240, 240));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(QColor(64, 64, 64));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
    p.setPen(QColor(192, 192, 192));
    p.drawRect(r.adjusted(1, 1, -1, -1));
}
