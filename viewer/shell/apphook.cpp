#include "viewer/shell/apphook.h"

#include "viewer/shell/forms.h"
#include "viewer/shell/korvanehint.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTableView>

#include <vector>

TApplicationHook::TApplicationHook(QObject *application) : QObject(application)
{
    application->installEventFilter(this);
}

TApplicationHook::~TApplicationHook()
{
    delete hint_.data();
}

int TApplicationHook::AddHandler(Handler handler)
{
    const int id = nextId_++;
    handlers_[id] = std::move(handler);
    return id;
}

void TApplicationHook::SetHandler(int id, Handler handler)
{
    handlers_[id] = std::move(handler);
}

void TApplicationHook::RemoveHandler(int id)
{
    handlers_.erase(id);
}

TKorvaneHint *TApplicationHook::Hint() const
{
    return hint_.data();
}

bool TApplicationHook::eventFilter(QObject *receiver, QEvent *event)
{
    if (!handlers_.empty()) {
        // A handler may add or remove handlers (or open a nested loop).
        std::vector<Handler> current;
        current.reserve(handlers_.size());
        for (const auto &[id, handler] : handlers_)
            current.push_back(handler);
        for (const Handler &handler : current)
            if (handler && handler(receiver, event))
                return true;
    }

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (hint_)
            hint_->HideHint();
        if (static_cast<QMouseEvent *>(event)->button() == Qt::RightButton)
            return RightButtonPress(receiver);
        break;
    case QEvent::ToolTip:
        return ToolTip(receiver, event);
    case QEvent::Leave:
    case QEvent::KeyPress:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
        if (hint_ && hint_->isVisible() && receiver != hint_)
            hint_->HideHint();
        break;
    default:
        break;
    }
    return false;
}

bool TApplicationHook::RightButtonPress(QObject *receiver)
{
    // The press reaches the window system's window first, then the widget: act once, on the widget.
    if (!receiver->isWidgetType())
        return false;
    auto *form = qobject_cast<TTemplate3 *>(QApplication::activeWindow());
    if (!form || form->metaObject()->superClass() != &TTemplate3::staticMetaObject ||
        !form->CloseOnRightClick || !form->isVisible())
        return false;
    bool onGrid = false;
    for (QObject *object = receiver; object; object = object->parent()) {
        if (qobject_cast<QTableView *>(object)) {
            onGrid = true;
            break;
        }
    }
    form->close();
    return onGrid;
}

bool TApplicationHook::ToolTip(QObject *receiver, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(receiver);
    if (!widget || widget->toolTip().isEmpty())
        return false;
    if (!hint_)
        hint_ = new TKorvaneHint();
    hint_->ShowHint(widget->toolTip(), static_cast<QHelpEvent *>(event)->globalPos());
    return true;
}
