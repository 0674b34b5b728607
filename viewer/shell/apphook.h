#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>

class TKorvaneHint;

// The application-wide event hook, installed on the application by the data
// module. It
// - hands every event to the handlers installed by the windows (the main
//   window's message handler receives the registered messages posted to the
//   application there); a handler that answers true consumes the event;
// - closes the foreground window on a right-button press when it is a direct
//   subclass of TTemplate3 whose CloseOnRightClick is set (a press on a grid
//   is discarded first);
// - shows every tool tip of the application in a TKorvaneHint.
class TApplicationHook : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<bool(QObject *receiver, QEvent *event)>;

    explicit TApplicationHook(QObject *application);
    ~TApplicationHook() override;

    // Installs a handler; the returned id removes it. Installing again under an
    // existing id replaces that handler.
    int AddHandler(Handler handler);
    void SetHandler(int id, Handler handler);
    void RemoveHandler(int id);

    TKorvaneHint *Hint() const;

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    bool RightButtonPress(QObject *receiver);
    bool ToolTip(QObject *receiver, QEvent *event);

    std::map<int, Handler> handlers_;
    int nextId_ = 1;
    QPointer<TKorvaneHint> hint_;
};
