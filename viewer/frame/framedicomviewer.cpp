#include "viewer/frame/framedicomviewer.h"

#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"

#include <QResizeEvent>
#include <QScrollBar>

namespace {

constexpr int kOrange = 0x80FF;
constexpr int kSilver = 12632256;

QString Integer(double value)
{
    return QString::number(loading::RoundHalfEven(value));
}

} // namespace

TFrameDicomViewer::TFrameDicomViewer(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::NoFrame);
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
    scrollBar_->hide();
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int v) { ScrollBarChange(v); });
    LayoutChildren();
}

void TFrameDicomViewer::LayoutChildren()
{
    const int barWidth = scrollBar_->isHidden() ? 0 : scrollBar_->sizeHint().width();
    viewer_->setGeometry(0, 0, std::max(0, width() - barWidth), height());
    scrollBar_->setGeometry(width() - barWidth, 0, barWidth, height());
}

void TFrameDicomViewer::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    LayoutChildren();
}

void TFrameDicomViewer::FillSeries(const TVisitData &visit, const QString &key)
{
    const auto images = viewer_->Images();
    images->Clear();
    const auto visitImages = visit.VisitImages();
    const int count = visit.SeriesImageCount(key);
    const int first = visit.SeriesFirstIndex(key);
    for (int i = first; count > 0 && i < first + count; ++i) {
        const auto image = images->Add(visitImages->Item(i));
        const auto attributes = image->Attributes();
        if (image->SOPClass() == QLatin1String(loading::kSopClassCR)
            && !loading::AttributeText(*attributes, 0x0028, 0x1052).isEmpty()
            && !loading::AttributeText(*attributes, 0x0028, 0x1053).isEmpty()) {
            loading::DefaultWindow(*image);
        }
        image->SetMinificationMode(3);
        image->SetMagnificationMode(3);
        if (const auto bottomLeft = image->Labels()->Item(loading::kLabelBottomLeft)) {
            const QString text = loading::ReplaceTextLine(
                QStringLiteral("W:"), bottomLeft->Text(),
                QStringLiteral("W: ") + Integer(image->Width()) + QStringLiteral(" L: ") + Integer(image->Level()));
            if (!text.isEmpty())
                bottomLeft->SetText(text);
        }
        if (const auto topLeft = image->Labels()->Item(loading::kLabelTopLeft)) {
            const QString text = loading::ReplaceTextLine(
                QStringLiteral("Zoom:"), topLeft->Text(),
                QStringLiteral("Zoom: ") + QString::asprintf("%.1f", image->ActualZoom()) + QLatin1Char('x'));
            if (!text.isEmpty())
                topLeft->SetText(text);
        }
    }
    const int total = images->Count();
    scrollBar_->blockSignals(true);
    scrollBar_->setMaximum(std::max(1, total));
    scrollBar_->setValue(scrollBar_->maximum());
    scrollBar_->blockSignals(false);
    scrollBar_->setVisible(total >= 2);
    scrollBar_->setValue(1);
    ScrollBarChange(1);
    LayoutChildren();
}

void TFrameDicomViewer::ScrollBarChange(int position)
{
    CurrentImageIndex = position;
    viewer_->SetCurrentIndex(position);
    viewer_->Refresh();
    emit CurrentImageChanged(position);
}

void TFrameDicomViewer::MarkImage(bool on)
{
    const auto image = viewer_->CurrentImage();
    if (!image)
        return;
    image->SetBorderWidth(1);
    image->SetBorderStyle(on ? 2 : 0);
    image->SetBorderColour(on ? kOrange : kSilver);
    if (const auto marker = image->Labels()->Item(loading::kLabelSelection)) {
        marker->SetLineStyle(on ? 2 : 0);
        marker->SetForeColour(on ? kOrange : kSilver);
    }
    viewer_->Refresh();
}
