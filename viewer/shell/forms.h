#pragma once
// Base forms of every viewer window.

#include "viewer/shell/templatedm.h"

#include <QMainWindow>
#include <QWidget>

// Runs `window` modally: shows it application-modal and returns once it is
// hidden, with `result()` read then.
int RunModal(QWidget *window, const std::function<int()> &result);

// Base of the main window, the splash/About form and the magnifiers:
// "MS Sans Serif" 8 pt, centred on the screen at its first showing, caption
// from the data module, minimizing minimizes the whole application, and
// maximizing spans all monitors side by side over the work area.
class TTemplate1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit TTemplate1(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    int ModalResult = mrNone;
    // Shows the form modally until a modal result closes it; answers that result.
    int ShowModal();
    // Sets the modal result and closes the form.
    void CloseWithResult(int result);
    // Maximizes after the current event, as a posted system command would.
    void PostMaximize();
    // What a maximize command does: normal state, the window with its frame (title bar
    // and borders) over the work area from (0, 0), DesktopWidth wide and WorkAreaHeight
    // high. Done again when the window manager's frame becomes known, each time a window
    // manager takes the window in (or lets it go: it stopped or restarts) and when the
    // work area changes.
    void ApplyMaximize();
    // A window manager took the window in or gave it back (the window system's own
    // notice, seen by the application's native event filter).
    void WindowManagerChanged();
    // A property of the window changed (the window manager's frame thickness among them).
    void FrameMayHaveChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The frame's thickness as far as it is known (none before a window manager framed it).
    QMargins FrameMargins() const;
    void RefitIfFrameChanged();
    void ShowAgainIfLost();
    static constexpr int kLostShowingDelayMs = 2000;

    bool shownOnce_ = false;
    bool maximizing_ = false;
    bool maximizePosted_ = false;
    int showRetries_ = 0;
    // Placed by ApplyMaximize, with these frame margins, and not moved by the user since.
    bool fitted_ = false;
    QMargins fittedFrame_;
};

// Base of the dialogs and tool windows: no border icons, a single border (the size it
// has when first shown, no maximize) unless made sizeable, a vertical gradient from
// light blue to white, minimum size the designed size, placed on its monitor before it
// is first shown (never moved later under the user's mouse), closed by a right click
// (through the application hook) unless told otherwise.
class TTemplate3 : public QWidget
{
    Q_OBJECT
public:
    explicit TTemplate3(QWidget *parent = nullptr);

    // Settings subclasses may change in their constructor.
    qint16 Monitor = 0; // 0: the last monitor
    bool CentreOnMonitor = true;
    bool CloseOnRightClick = true;
    // A sizeable border: the user may resize and maximize the window. Otherwise its size
    // is fixed once it is first shown, so that the window manager offers no resizing and
    // no maximize.
    bool Sizeable = false;
    bool Activated() const { return activated_; }

    int ModalResult = mrNone;
    int ShowModal();
    void CloseWithResult(int result);

    static QColor GradientTop() { return QColor(158, 210, 253); }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    // Border and placement, once the first showing (the subclasses' included) has sized
    // the window and before the window system maps it.
    void FirstShown();

    bool shownOnce_ = false;
    bool placed_ = false;
    bool activated_ = false;
};

namespace shell {
// Caption of every viewer window: prefix, a blank, the trimmed application title.
QString WindowCaption();
// Minimizes every visible top-level window of the application.
void MinimizeApplication(QWidget *except);
// Restores the windows the last MinimizeApplication minimized (a modal dialog among them
// comes back in front).
void RestoreApplication(QWidget *except);
// A base form's state change: minimizing one window minimizes the application, restoring
// one restores it.
void FollowApplicationState(QWidget *window, QEvent *event);
// Places a window about to be shown for the first time: left := MonitorLeft (width,
// monitor); its top is kept when the program placed it, else it is centred in the work
// area.
void PlaceOnMonitor(QWidget *window, int monitor);
// A single border: the window keeps its present size (the window manager then offers
// neither resizing nor maximize).
void FixBorder(QWidget *window);
} // namespace shell
