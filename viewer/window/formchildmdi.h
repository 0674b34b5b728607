#pragma once
// The child window that shows a visit: a black box holding a grid of image frames
// (SeriesColumns x SeriesRows, 2 x 1 at first), one series per frame.
//
// This first version builds the window the loader's hand-over needs (the first two
// frames, placed in their grid cells) and reports its destruction with
// "WM_CLOSECHILDMDI". The series menu, the explode view, the layouts and the
// frame-grid rebuilding build on it.

#include <QString>
#include <QWidget>

class QMdiArea;
class QMdiSubWindow;
class TFrameDicomViewer;
class TVisitData;

class TFormChildMDI : public QWidget
{
    Q_OBJECT
public:
    explicit TFormChildMDI(QWidget *parent = nullptr);
    ~TFormChildMDI() override;

    // The box that holds the frames.
    QWidget *ScrollBox() const { return scrollBox_; }
    QString FirstKey;
    int SeriesColumns = 2;
    int SeriesRows = 1;

    // Frames in creation order.
    QList<TFrameDicomViewer *> Frames() const;
    // 1 without frames, else the number ending the last frame's name plus 1.
    int NextFrameNumber() const;
    // A new frame "FrameDicomViewer" + NextFrameNumber() in the box.
    TFrameDicomViewer *CreateFrame();
    // Places the frames in their grid cells, in creation order.
    void LayoutFrames();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *scrollBox_ = nullptr;
};

// The hand-over's first display: a maximised child window in `area` whose first frame
// shows `firstKey` (marked, current) and, when `secondKey` is not empty, a second
// frame showing that series without mark; both placed in a 2 x 1 grid. Answers the
// child window; *current receives the first frame.
TFormChildMDI *ShowVisitInChildWindow(QMdiArea *area, const TVisitData &visit, const QString &firstKey,
                                      const QString &secondKey, TFrameDicomViewer **current = nullptr);
