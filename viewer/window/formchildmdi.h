#pragma once
// The child window that shows a visit: a black box holding a grid of image frames
// (SeriesColumns x SeriesRows, 2 x 1 at first), one series per frame (one study per
// frame in stack mode); the explode view that shows the current frame alone; the single
// and multiple image layouts of a frame; the layout dialog; the series menu; and the
// propagation of a display change to the other frames of the same series.
//
// Destroying the window posts "WM_CLOSECHILDMDI" naming the visit the window was made
// for (the main window then empties that visit, and only that one: a new visit opened
// before the message arrives is left alone).

#include "imaging/imaging.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class QAction;
class TFormViewer;
class TFormWinMultiple;
class TFrameDicomViewer;
class VisitContent;

class TFormChildMDI : public QWidget
{
    Q_OBJECT
public:
    explicit TFormChildMDI(TFormViewer &viewer, QWidget *parent = nullptr);
    ~TFormChildMDI() override;

    QWidget *ScrollBox() const { return scrollBox_; }
    QMenu *PopupMenuSeries() const { return popupMenuSeries_; }
    QString FirstKey;
    int SeriesColumns = 2;
    int SeriesRows = 1;

    // Frames in creation order.
    QList<TFrameDicomViewer *> Frames() const;
    // 1 without frames, else the number ending the last frame's name plus 1.
    int NextFrameNumber() const;
    // A new frame "FrameDicomViewer" + number in the box, inactive, on image 1.
    TFrameDicomViewer *CreateFrame(int number);

    void LayoutFrames();
    void CreateFrames();
    void DestroyFrames();
    void ShareSeriesState();

    // Main-window commands on this window.
    void Explode(bool exploded, TFrameDicomViewer *current);
    void SingleImage(TFrameDicomViewer *frame);
    void MultipleImages(TFrameDicomViewer *frame);
    void CustomLayout(TFrameDicomViewer *frame, const std::function<int(TFormWinMultiple &)> &run);

    // Series menu.
    void BuildSeriesMenu();
    void PopupMenuSeriesPopup();
    static QString SeriesEntryText(const imaging::DicomImage &image);
    // Caption of the series entry of an image.
    static QString SeriesEntryCaption(const imaging::DicomImage &image);
    void SeriesMenuClick(QAction *entry);
    void DeleteAnnotation();
    void EditAnnotationText();
    // The input box of EditAnnotationText (tests answer it); answers the new text.
    std::function<QString(const QString &text)> AskAnnotationText;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    TFormViewer &viewer_;
    QWidget *scrollBox_ = nullptr;
    QMenu *popupMenuSeries_ = nullptr;
    QAction *editAnnotation_ = nullptr;
    // The visit shown when the window was made.
    std::weak_ptr<VisitContent> visit_;
};
