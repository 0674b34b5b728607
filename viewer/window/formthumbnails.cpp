#include "viewer/window/formthumbnails.h"

#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"
#include "viewer/window/formviewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr int kMargin = 5;
constexpr const char *kSopClassXA = "1.2.840.10008.5.1.4.1.1.12.1";
constexpr const char *kPanelProperty = "thumbnailPanel";

QFont BoldArial()
{
    QFont font(QStringLiteral("Arial"));
    font.setBold(true);
    return font;
}

QColor FromColourRef(int colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

} // namespace

TFormThumbnails::TFormThumbnails(TFormViewer &viewer, QWidget *parent) : TTemplate3(parent), viewer_(viewer)
{
    setObjectName(QStringLiteral("FormThumbnails"));
    // Only a close box; above the main window.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    CentreOnMonitor = false;
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(false);
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("ScrollBox1Contents"));
    ScrollBox1->setWidget(content_);
    resize(kThumbnailSize + 20, 400);
}

TFormThumbnails::~TFormThumbnails() = default;

QLabel *TFormThumbnails::PanelLabel(QFrame *panel)
{
    return panel ? panel->findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

imaging::DicomViewerLight *TFormThumbnails::PanelViewer(QFrame *panel)
{
    // The control has no meta-object of its own: looked for by its C++ type.
    if (panel)
        for (QObject *child : panel->children())
            if (auto *control = dynamic_cast<imaging::DicomViewerLight *>(child))
                return control;
    return nullptr;
}

void TFormThumbnails::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    setWindowTitle(QStringLiteral("Miniatures"));
    if (panels_.isEmpty() && headers_.isEmpty())
        FormShow();
}

void TFormThumbnails::FormShow()
{
    setMinimumSize(0, 0);
    const int width = kThumbnailSize + 20;
    const int height = std::max(kThumbnailSize, viewer_.height() - 100);
    int left = 0;
    if (TTemplateDM *dm = TemplateDMIfAny())
        left = dm->DesktopWidth() - width - 20;
    const int top = (viewer_.height() - height) / 2;
    resize(width, height);
    move(left, top);
    ScrollBox1->setGeometry(0, 0, width, height);
    repaint();
    QCoreApplication::processEvents();
    Build();
    ScrollBox1->setGeometry(0, 0, this->width(), this->height());
    if (content_->height() > ScrollBox1->viewport()->height()) {
        // The vertical scroll bar takes its width from the pictures: the window grows
        // by that much, to the left.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const QPoint at = pos();
        resize(this->width() + bar, this->height());
        move(at.x() - bar, at.y());
        ScrollBox1->setGeometry(0, 0, this->width(), this->height());
    }
}

void TFormThumbnails::Build()
{
    // Drawn once, when everything is in place.
    ScrollBox1->setUpdatesEnabled(false);
    const auto images = VisitData().VisitImages();
    int y = kMargin;
    QString previousSeries, previousStudy;
    bool first = true;
    for (int i = 1; images && i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        if (!image)
            continue;
        if (!first && image->SeriesUID() == previousSeries)
            continue;
        if (first || image->StudyUID() != previousStudy) {
            QFrame *header = AddHeader(*image, y);
            y += header->height() + kMargin;
        }
        first = false;
        previousSeries = image->SeriesUID();
        previousStudy = image->StudyUID();
        QFrame *panel = AddSeriesPanel(image, i, y);
        y += panel->height() + kMargin;
    }
    content_->resize(kMargin + kThumbnailSize + kMargin, y);
    ScrollBox1->setUpdatesEnabled(true);
}

QFrame *TFormThumbnails::AddHeader(const imaging::DicomImage &image, int y)
{
    auto *header = new QFrame(content_);
    header->setObjectName(QStringLiteral("Header%1").arg(headers_.size() + 1));
    header->setFrameShape(QFrame::Box);
    header->setLineWidth(1);
    header->setAutoFillBackground(true);
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    header->setPalette(palette);
    header->setGeometry(kMargin, y, kThumbnailSize, kThumbnailSize);
    QString text = loading::AttributeText(*image.Attributes(), 0x0008, 0x0020);
    const QString description = loading::AttributeText(*image.Attributes(), 0x0008, 0x1030);
    if (!description.isEmpty())
        text += QLatin1Char('\n') + description;
    auto *label = new QLabel(text, header);
    label->setFont(BoldArial());
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setGeometry(header->contentsRect());
    header->show();
    headers_.append(header);
    return header;
}

QFrame *TFormThumbnails::AddSeriesPanel(const imaging::DicomImagePtr &image, int index, int y)
{
    auto *panel = new QFrame(content_);
    panel->setObjectName(QStringLiteral("Panel%1").arg(index));
    panel->setFrameShape(QFrame::Box);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    panel->setToolTip(image->SeriesUID());
    const auto attributes = image->Attributes();
    auto *label = new QLabel(QStringLiteral("Se:") + loading::AttributeText(*attributes, 0x0020, 0x0011)
                                 + QStringLiteral(" - Im:") + loading::AttributeText(*attributes, 0x0020, 0x0013),
                             panel);
    label->setFont(BoldArial());
    label->setAlignment(Qt::AlignCenter);
    const int labelHeight = label->sizeHint().height();
    panel->setGeometry(kMargin, y, kThumbnailSize, kThumbnailSize + labelHeight);
    const QRect inside = panel->contentsRect();
    label->setGeometry(inside.x(), inside.y(), inside.width(), labelHeight);

    imaging::DicomViewerLight *control = loading::NewViewerControl(panel);
    control->setObjectName(QStringLiteral("DicomViewer%1").arg(index));
    control->SetImages(loading::NewImages());
    control->SetCellSpacing(4);
    control->SetBackColour(0);
    control->setGeometry(inside.x(), inside.y() + labelHeight, inside.width(), inside.height() - labelHeight);
    control->setFocusPolicy(Qt::NoFocus);

    // The picture: the middle frame, without the corner texts, at no more than the size
    // of the cell (a bigger copy would only be scaled down again and hold memory).
    const bool labels = image->ShowLabels();
    image->SetShowLabels(false);
    const int frame = image->FrameCount() > 1 ? image->FrameCount() / 2 : 1;
    const double fit = double(kThumbnailSize) / std::max({1, image->SizeX(), image->SizeY()});
    const double magnification = std::clamp(std::min(image->Zoom(), fit), 0.01, 16.0);
    try {
        if (const auto picture = control->SubImage(image, 1, 1, image->SizeX(), image->SizeY(), magnification, frame)) {
            control->Images()->Add(picture);
            if (const auto current = control->CurrentImage())
                current->SetCacheDisplay(false);
        }
    } catch (const imaging::DicomError &error) {
        // An image whose pixels cannot be read keeps an empty picture; its series can
        // still be chosen.
        if (TTemplateDM *dm = TemplateDMIfAny())
            dm->WriteLog(QStringLiteral("TFORMTHUMBNAILS.BUILD ") + QString::fromStdString(error.what()));
    }
    image->SetShowLabels(labels);

    Route(panel, panel);
    Route(label, panel);
    Route(control, panel);
    control->OnMouseDown = [this, panel](Qt::MouseButton button, Qt::KeyboardModifiers, int, int) {
        if (button != Qt::RightButton)
            ThumbnailClick(panel, true);
    };
    control->OnMouseWheel = [this](int delta, Qt::KeyboardModifiers, int, int) { ScrollLine(delta < 0 ? 1 : -1); };
    panel->show();
    panels_.append(panel);
    return panel;
}

void TFormThumbnails::Route(QWidget *widget, QFrame *panel)
{
    widget->setProperty(kPanelProperty, QVariant::fromValue(static_cast<QObject *>(panel)));
    widget->installEventFilter(this);
}

bool TFormThumbnails::eventFilter(QObject *watched, QEvent *event)
{
    const QVariant target = watched->property(kPanelProperty);
    if (target.isValid()) {
        auto *panel = qobject_cast<QFrame *>(target.value<QObject *>());
        // The imaging control reports its presses itself (OnMouseDown).
        if (event->type() == QEvent::MouseButtonPress && panel
            && !dynamic_cast<imaging::DicomViewerLight *>(watched)) {
            if (static_cast<QMouseEvent *>(event)->button() != Qt::RightButton)
                ThumbnailClick(panel, false);
            return false;
        }
        if (event->type() == QEvent::Wheel && !dynamic_cast<imaging::DicomViewerLight *>(watched)) {
            ScrollLine(static_cast<QWheelEvent *>(event)->angleDelta().y() < 0 ? 1 : -1);
            return true;
        }
    }
    return TTemplate3::eventFilter(watched, event);
}

void TFormThumbnails::ThumbnailClick(QFrame *panel, bool onPicture)
{
    if (!panel)
        return;
    if (selected_)
        selected_->setPalette(QPalette());
    selected_ = panel;
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, FromColourRef(kSelectedColour));
    panel->setPalette(palette);

    viewer_.ClearReferenceLines();
    TFrameDicomViewer *frame = viewer_.CurrentFrame();
    if (!frame)
        return;
    if (viewer_.Down(QStringLiteral("TBStack"))) {
        viewer_.SaveFrameState(frame);
        if (onPicture)
            if (imaging::DicomViewerLight *control = PanelViewer(panel))
                if (const auto picture = control->Images()->Item(1))
                    viewer_.LoadFrame(frame, picture->StudyUID());
    } else {
        viewer_.SaveCurrentFrame();
        viewer_.LoadSeries(panel->toolTip());
    }
    // Cine goes on only from one angiography run to another.
    frame = viewer_.CurrentFrame();
    const auto current = frame ? frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex) : nullptr;
    if (viewer_.Down(QStringLiteral("TBCine")) && (!current || current->SOPClass() != QLatin1String(kSopClassXA)))
        viewer_.TBCineClick();
    viewer_.UpdateControls();
}

void TFormThumbnails::ScrollLine(int direction)
{
    QScrollBar *bar = ScrollBox1->verticalScrollBar();
    bar->setValue(bar->value() + direction * bar->singleStep());
}

void TFormThumbnails::wheelEvent(QWheelEvent *event)
{
    ScrollLine(event->angleDelta().y() < 0 ? 1 : -1);
    event->accept();
}

void TFormThumbnails::closeEvent(QCloseEvent *event)
{
    TTemplate3::closeEvent(event);
    if (!event->isAccepted() || closing_)
        return;
    closing_ = true;
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSETHUMBNAILS"));
}
