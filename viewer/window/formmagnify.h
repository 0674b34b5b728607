#pragma once
// The magnifier and the loupe: small windows showing a magnified copy of the image
// under the mouse. The image frame fills them and moves their view (and the loupe
// itself) as the mouse moves.
//
// TFormMagnify: a sizeable tool window that stays on top, with an orange cross at its
//   centre; closing it posts "WM_CLOSEMAGNIFY".
// TFormMagnify2 (the loupe): a frameless pop-up that stays on top and that the frame
//   places under the cursor while the left button is held.
//
// Both show their own entry of the image (sharing its pixels): zooming or clearing the
// labels there never changes the frame's image.

#include "imaging/imaging.h"
#include "imaging/viewerlight.h"
#include "viewer/shell/forms.h"

class TFormMagnifyBase : public TTemplate1
{
    Q_OBJECT
public:
    imaging::DicomViewerLight *DicomViewer() const { return viewer_; }
    // The image to magnify (the current frame's current image); null leaves it empty.
    void SetSource(const imaging::DicomImagePtr &image) { source_ = image; }
    // Fills the control with its own entry of the source image: no labels, not
    // stretched, no border. Run when the window is shown.
    virtual void Prepare();

protected:
    explicit TFormMagnifyBase(Qt::WindowFlags flags, QWidget *parent);
    void showEvent(QShowEvent *event) override;

    imaging::DicomViewerLight *viewer_ = nullptr;
    imaging::DicomImagePtr source_;
};

class TFormMagnify : public TFormMagnifyBase
{
    Q_OBJECT
public:
    explicit TFormMagnify(QWidget *parent = nullptr);
    void Prepare() override;
    // The two cross labels of the control (horizontal, vertical); null before Prepare.
    imaging::DicomLabelPtr CrossHorizontal() const;
    imaging::DicomLabelPtr CrossVertical() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void PlaceCross();
    bool closing_ = false;
};

class TFormMagnify2 : public TFormMagnifyBase
{
    Q_OBJECT
public:
    explicit TFormMagnify2(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A separate entry of `image` (same pixels and data set, own labels and display state).
imaging::DicomImagePtr IndependentEntry(const imaging::DicomImagePtr &image);
