#include "viewer/window/formcine.h"

#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/framehost.h"
#include "viewer/shell/templatedm.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const char *const kModeCaptions[] = {"Pause", "Avancé", "Inversé", "Répétition", "Oscillé"};
const char *const kSpeedCaptions[] = {"0.25", "0.50", "0.75", "1.00", "1.25", "1.50", "1.75"};
constexpr int kRepeat = 3;

} // namespace

TFormCine::TFormCine(TFrameHost &host, QWidget *parent) : TTemplate3(parent), host_(host)
{
    setObjectName(QStringLiteral("FormCine"));
    // System menu and minimise only, above the main window.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);

    auto *layout = new QVBoxLayout(this);
    auto *speeds = new QGridLayout;
    speeds->setHorizontalSpacing(0);
    for (int i = 0; i < int(kSpeeds.size()); ++i) {
        auto *label = new QLabel(QLatin1String(kSpeedCaptions[i]), this);
        label->setObjectName(QStringLiteral("LabelSpeed%1").arg(i));
        label->setAlignment(Qt::AlignCenter);
        speeds->addWidget(label, 0, i);
    }
    TrackBar1 = new QSlider(Qt::Horizontal, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setRange(0, int(kSpeeds.size()) - 1);
    TrackBar1->setPageStep(1);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(1);
    TrackBar1->setValue(3);
    speeds->addWidget(TrackBar1, 1, 0, 1, int(kSpeeds.size()));
    layout->addLayout(speeds);

    RVFlatRadioGroup1 = new QGroupBox(QStringLiteral("[ Modes ]"), this);
    RVFlatRadioGroup1->setObjectName(QStringLiteral("RVFlatRadioGroup1"));
    auto *columns = new QGridLayout(RVFlatRadioGroup1);
    modes_ = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        auto *item = new QRadioButton(QString::fromUtf8(kModeCaptions[i]), RVFlatRadioGroup1);
        item->setObjectName(QStringLiteral("Mode%1").arg(i));
        modes_->addButton(item, i);
        columns->addWidget(item, 0, i);
    }
    layout->addWidget(RVFlatRadioGroup1);
    resize(430, 130);

    // The cine starts here: the image is no longer drawn from a cached picture, and the
    // frame it shows now is the one it goes back to at the end.
    SetModeIndex(kRepeat);
    RVFlatRadioGroup1Click();
    connect(TrackBar1, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(modes_, &QButtonGroup::idClicked, this, [this] { RVFlatRadioGroup1Click(); });
}

TFormCine::~TFormCine() = default;

int TFormCine::ModeIndex() const { return modes_->checkedId(); }

void TFormCine::SetModeIndex(int index)
{
    if (QAbstractButton *item = modes_->button(index))
        item->setChecked(true);
}

imaging::DicomImagePtr TFormCine::CurrentImage() const
{
    TFrameDicomViewer *frame = host_.CurrentFrame();
    if (!frame)
        return nullptr;
    const auto images = frame->DicomViewer()->Images();
    if (auto image = images->Item(frame->CurrentImageIndex))
        return image;
    return frame->DicomViewer()->CurrentImage();
}

void TFormCine::Release(const imaging::DicomImagePtr &image)
{
    if (!image)
        return;
    image->SetCineMode(0);
    image->SetCacheDisplay(true);
    PutBackFrame(image);
}

void TFormCine::PutBackFrame(const imaging::DicomImagePtr &image)
{
    // Through the frame, as a cine step, so that its "Fr:" line tells the frame shown.
    if (TFrameDicomViewer *frame = host_.CurrentFrame())
        if (const int index = frame->DicomViewer()->Images()->IndexOf(image.get()); index > 0)
            frame->DicomViewerFrameChanging(index, rememberedFrame_);
    image->SetFrame(rememberedFrame_);
}

void TFormCine::RVFlatRadioGroup1Click()
{
    const imaging::DicomImagePtr image = CurrentImage();
    if (!image)
        return;
    const imaging::DicomImagePtr previous = playing_.lock();
    if (previous != image) {
        // Another series came into the frame: the image left behind must not go on
        // playing (it would, the next time it is shown) nor stay on a frame of the cine.
        Release(previous);
        image->SetCacheDisplay(false);
        rememberedFrame_ = image->Frame();
        playing_ = image;
    }
    const int mode = std::max(0, ModeIndex());
    image->SetCineMode(0);
    image->SetCineRate(kSpeeds[std::clamp(TrackBar1->value(), 0, int(kSpeeds.size()) - 1)]);
    image->SetCineMode(mode);
}

void TFormCine::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    setWindowTitle(QStringLiteral("Mode ciné"));
}

void TFormCine::closeEvent(QCloseEvent *event)
{
    TTemplate3::closeEvent(event);
    if (!event->isAccepted() || closing_)
        return;
    closing_ = true;
    const imaging::DicomImagePtr image = CurrentImage();
    const imaging::DicomImagePtr previous = playing_.lock();
    if (previous && previous != image)
        Release(previous);
    if (image) {
        image->SetCacheDisplay(true);
        image->SetCineMode(0);
        const int stoppedOn = image->Frame();
        if (image == previous)
            PutBackFrame(image);
        // The frame shows the entry of its series that holds the frame the cine stopped
        // on (each frame of a multi-frame image is an entry of its own).
        if (TFrameDicomViewer *frame = host_.CurrentFrame()) {
            const auto images = frame->DicomViewer()->Images();
            int position = 0;
            for (int i = 1; i <= images->Count() && position == 0; ++i) {
                const auto entry = images->Item(i);
                if (entry && entry->InstanceUID() == image->InstanceUID() && entry->Frame() == stoppedOn)
                    position = i;
            }
            if (position == 0)
                position = stoppedOn;
            QScrollBar *bar = frame->ScrollBar();
            if (bar->value() == position)
                frame->ScrollBarChange(position); // the frame is drawn anew all the same
            else
                bar->setValue(position);
        }
    }
    playing_.reset();
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSECINE"));
}
