#pragma once
// The cine control window: plays the frames of the multi-frame image shown in the current
// frame at a chosen speed and mode. Creating it starts the cine (mode "Répétition", speed
// "1.00"); every change of the track bar or of the mode applies at once; closing it stops
// the cine, puts the image back on the frame it showed at the start and moves the frame's
// scroll bar to the entry of the frame the cine stopped on, then posts "WM_CLOSECINE".
//
// It is created hidden: the main window shows and hides it from TBCine's right-click menu.

#include "imaging/imaging.h"
#include "viewer/shell/forms.h"

#include <QPointer>

#include <array>
#include <memory>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QSlider;
class TFrameDicomViewer;
class TFrameHost;

class TFormCine : public TTemplate3
{
    Q_OBJECT
public:
    // Starts the cine on the current image of `host`'s current frame.
    explicit TFormCine(TFrameHost &host, QWidget *parent = nullptr);
    ~TFormCine() override;

    // Relative speed by track bar position 0 .. 6.
    static constexpr std::array<double, 7> kSpeeds{0.25, 0.5, 0.75, 1.0, 1.25, 1.5, 1.75};

    QSlider *TrackBar1 = nullptr;
    QGroupBox *RVFlatRadioGroup1 = nullptr;
    // Mode item index = the image's CineMode: 0 "Pause" ... 4 "Oscillé".
    int ModeIndex() const;
    void SetModeIndex(int index);
    // The frame the image showed when the cine started on it.
    int RememberedFrame() const { return rememberedFrame_; }
    // The image the cine plays (null once it left the frame).
    imaging::DicomImagePtr PlayingImage() const { return playing_.lock(); }

    // Apply: on the current frame's current image, CineMode 0, CineRate from the track
    // bar, then CineMode the chosen mode. Run on every change; the main window runs it
    // again when a new series comes into the frame while the cine runs.
    void RVFlatRadioGroup1Click();
    void TrackBar1Change() { RVFlatRadioGroup1Click(); }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    imaging::DicomImagePtr CurrentImage() const;
    // Hands an image the cine no longer plays back as it was: stopped, cached, on its
    // remembered frame.
    void Release(const imaging::DicomImagePtr &image);
    void PutBackFrame(const imaging::DicomImagePtr &image);

    TFrameHost &host_;
    QButtonGroup *modes_ = nullptr;
    std::weak_ptr<imaging::DicomImage> playing_;
    int rememberedFrame_ = 1;
    bool closing_ = false;
};
