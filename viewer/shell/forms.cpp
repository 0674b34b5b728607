#include "viewer/shell/forms.h"

#include "viewer/shell/screengeometry.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Ends a modal loop when its window is hidden for good (closed or hidden). Minimizing
// sends a hide event too, but the window stays visible in Qt's sense (it comes back on
// restoring): that one must not end the dialog, nor lose what was typed in it.
class HideWatcher : public QObject
{
public:
    HideWatcher(QWidget *window, QEventLoop *loop) : window_(window), loop_(loop) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && !window_->isVisible())
            loop_->quit();
        return false;
    }

private:
    QWidget *window_;
    QEventLoop *loop_;
};

// The windows the last MinimizeApplication minimized, restored together.
QList<QPointer<QWidget>> &MinimizedWithApplication()
{
    static QList<QPointer<QWidget>> windows;
    return windows;
}

// Watches the X window system's notices for the windows of TTemplate1: a window manager
// that starts (or restarts, or stops) reparents every top-level window into its frame (or
// back to the root window), whether or not the window moves on the screen, and writes the
// thickness of its frame in a property of the window. Only those two notices are read,
// straight from the protocol's fixed event layout; nothing is consumed.
class WindowManagerWatch : public QAbstractNativeEventFilter
{
public:
    static WindowManagerWatch &Instance()
    {
        static WindowManagerWatch *watch = [] {
            auto *w = new WindowManagerWatch;
            QCoreApplication::instance()->installNativeEventFilter(w);
            return w;
        }();
        return *watch;
    }
    void Add(TTemplate1 *window) { windows_.append(window); }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        constexpr quint8 kReparentNotify = 21;
        constexpr quint8 kPropertyNotify = 28;
        if (eventType != "xcb_generic_event_t" || !message)
            return false;
        const auto *bytes = static_cast<const quint8 *>(message);
        const quint8 type = bytes[0] & 0x7F;
        // ReparentNotify: type, detail, sequence (2), event (4), then the window (4).
        // PropertyNotify: type, detail, sequence (2), then the window (4); the window
        // manager writes the thickness of its frame in a property of the window.
        if (type != kReparentNotify && type != kPropertyNotify)
            return false;
        quint32 window = 0;
        std::memcpy(&window, bytes + (type == kReparentNotify ? 8 : 4), sizeof window);
        windows_.removeAll(nullptr);
        for (const QPointer<TTemplate1> &w : std::as_const(windows_)) {
            if (!w || w->internalWinId() != WId(window))
                continue;
            // Run after the platform has read the notice itself.
            if (type == kReparentNotify)
                QMetaObject::invokeMethod(w, &TTemplate1::WindowManagerChanged, Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(w, &TTemplate1::FrameMayHaveChanged, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QList<QPointer<TTemplate1>> windows_;
};

void CentreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
}

} // namespace

int RunModal(QWidget *window, const std::function<int()> &result)
{
    QPointer<QWidget> guard(window);
    window->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    HideWatcher watcher(window, &loop);
    window->show();
    if (window->isVisible())
        loop.exec(QEventLoop::DialogExec);
    if (!guard)
        return mrCancel;
    window->setWindowModality(Qt::NonModal);
    return result();
}

namespace shell {

QString WindowCaption()
{
    const QString prefix = TemplateDMIfAny() ? TemplateDM().CaptionPrefix : QString();
    return prefix + QLatin1Char(' ') + ApplicationTitle().trimmed();
}

void MinimizeApplication(QWidget *except)
{
    QList<QPointer<QWidget>> &minimized = MinimizedWithApplication();
    if (except && !minimized.contains(except))
        minimized.append(except);
    for (QWidget *window : QApplication::topLevelWidgets())
        // The window type is compared whole: Qt::ToolTip shares bits with Qt::Window, so a bit test
        // would take every window for a tool tip and minimize none.
        if (window != except && window->isVisible() && window->isWindow() &&
            window->windowType() != Qt::ToolTip && !window->isMinimized()) {
            minimized.append(window);
            window->showMinimized();
        }
}

void RestoreApplication(QWidget *except)
{
    // Taken first: restoring a window comes back here through its state change.
    const QList<QPointer<QWidget>> windows = std::exchange(MinimizedWithApplication(), {});
    for (const QPointer<QWidget> &window : windows)
        if (window && window != except && window->isVisible() && window->isMinimized())
            window->showNormal();
    // A modal dialog among them comes back in front, where its answer is expected.
    if (QWidget *modal = QApplication::activeModalWidget()) {
        modal->raise();
        modal->activateWindow();
    }
}

void FollowApplicationState(QWidget *window, QEvent *event)
{
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool was = static_cast<QWindowStateChangeEvent *>(event)->oldState() & Qt::WindowMinimized;
    if (window->windowState() & Qt::WindowMinimized)
        MinimizeApplication(window);
    else if (was)
        RestoreApplication(window);
}

void PlaceOnMonitor(QWidget *window, int monitor)
{
    TTemplateDM *dm = TemplateDMIfAny();
    if (!dm)
        return;
    const int top = window->testAttribute(Qt::WA_Moved) ? window->y()
                                                        : std::max(0, (dm->WorkAreaHeight() - window->height()) / 2);
    window->move(dm->MonitorLeft(window->width(), monitor), top);
}

void FixBorder(QWidget *window)
{
    window->setFixedSize(window->size());
}

} // namespace shell

// ---------------------------------------------------------------------------

TTemplate1::TTemplate1(QWidget *parent, Qt::WindowFlags flags) : QMainWindow(parent, flags)
{
    QFont designed(QStringLiteral("MS Sans Serif"));
    designed.setPointSize(8);
    setFont(designed);
    WindowManagerWatch::Instance().Add(this);
    // A panel that comes or goes changes the work area the window fills.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        connect(screen, &QScreen::availableGeometryChanged, this, &TTemplate1::WindowManagerChanged);
        connect(screen, &QScreen::geometryChanged, this, &TTemplate1::WindowManagerChanged);
    }
}

void TTemplate1::WindowManagerChanged()
{
    // Only a window this program placed over the work area is placed again.
    if (fitted_ && isVisible())
        PostMaximize();
}

int TTemplate1::ShowModal()
{
    ModalResult = mrNone;
    return RunModal(this, [this]() { return ModalResult; });
}

void TTemplate1::CloseWithResult(int result)
{
    ModalResult = result;
    close();
}

void TTemplate1::showEvent(QShowEvent *event)
{
    setWindowTitle(shell::WindowCaption());
    if (!shownOnce_ && !event->spontaneous()) {
        shownOnce_ = true;
        if (!isMaximized() && !isFullScreen())
            CentreOnScreen(this);
        QTimer::singleShot(kLostShowingDelayMs, this, &TTemplate1::ShowAgainIfLost);
    }
    QMainWindow::showEvent(event);
}

void TTemplate1::ShowAgainIfLost()
{
    // A window manager starting at the same moment may lose the request to put the window
    // on the screen: a window still not there a while after it was shown is shown again.
    // (Not a modal window: hiding it would end its modal loop.)
    const QWindow *handle = windowHandle();
    if (!handle || !isVisible() || isMinimized() || handle->isExposed() || showRetries_ >= 3
        || windowModality() != Qt::NonModal)
        return;
    ++showRetries_;
    hide();
    show();
    QTimer::singleShot(kLostShowingDelayMs, this, &TTemplate1::ShowAgainIfLost);
}

void TTemplate1::PostMaximize()
{
    // One placement for any number of notices that arrive before it runs.
    if (maximizePosted_)
        return;
    maximizePosted_ = true;
    QTimer::singleShot(0, this, [this] {
        maximizePosted_ = false;
        ApplyMaximize();
    });
}

void TTemplate1::ApplyMaximize()
{
    maximizing_ = true;
    setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        // The work area holds the whole window, title bar included: the status bar at
        // the bottom stays on the screen.
        fittedFrame_ = FrameMargins();
        setGeometry(shell::FittedClientRect(QRect(0, 0, dm->DesktopWidth(), dm->WorkAreaHeight()), fittedFrame_));
        fitted_ = true;
    }
    maximizing_ = false;
}

QMargins TTemplate1::FrameMargins() const
{
    // Asked of the window system each time: the widget keeps the first frame it learnt of.
    if (const QWindow *handle = windowHandle())
        return handle->frameMargins();
    const QRect outer = frameGeometry(), inner = geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

void TTemplate1::FrameMayHaveChanged() { RefitIfFrameChanged(); }

void TTemplate1::RefitIfFrameChanged()
{
    // A window manager frames the window after it is shown: once the frame is known the
    // placement is made again for it.
    if (fitted_ && !maximizing_ && isVisible() && FrameMargins() != fittedFrame_)
        PostMaximize();
}

void TTemplate1::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    RefitIfFrameChanged();
}

void TTemplate1::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    RefitIfFrameChanged();
}

void TTemplate1::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || maximizing_)
        return;
    shell::FollowApplicationState(this, event);
    if (!(windowState() & Qt::WindowMinimized) && (windowState() & Qt::WindowMaximized))
        PostMaximize();
}

// ---------------------------------------------------------------------------

TTemplate3::TTemplate3(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setAutoFillBackground(false);
}

int TTemplate3::ShowModal()
{
    ModalResult = mrNone;
    return RunModal(this, [this]() { return ModalResult; });
}

void TTemplate3::CloseWithResult(int result)
{
    ModalResult = result;
    close();
}

void TTemplate3::showEvent(QShowEvent *event)
{
    setWindowTitle(shell::WindowCaption());
    if (!shownOnce_) {
        shownOnce_ = true;
        // The size the subclass designed is the smallest the window gets.
        setMinimumSize(size());
    }
    QWidget::showEvent(event);
}

bool TTemplate3::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        activated_ = true;
    if (event->type() == QEvent::Show && !placed_ && !event->spontaneous()) {
        // The showing runs first: subclasses size the window there.
        const bool result = QWidget::event(event);
        placed_ = true;
        FirstShown();
        return result;
    }
    return QWidget::event(event);
}

void TTemplate3::FirstShown()
{
    if (!Sizeable)
        shell::FixBorder(this);
    // Placed now rather than at the first activation: a window moved under the mouse
    // by the click that activates it takes the user's drag elsewhere.
    if (CentreOnMonitor)
        shell::PlaceOnMonitor(this, Monitor);
}

void TTemplate3::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    shell::FollowApplicationState(this, event);
}

void TTemplate3::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, GradientTop());
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(rect(), gradient);
}
