#pragma once

#include "viewer/shell/forms.h"

class QMdiArea;

// The viewer's main window: a black multiple-document frame that fills the
// monitors side by side. Its toolbars, menus and commands come later; for now
// it seeds the CT window presets and receives the application's messages.
class TFormViewer : public TTemplate1
{
    Q_OBJECT
public:
    explicit TFormViewer(QWidget *parent = nullptr);
    ~TFormViewer() override;

    bool StartupFinished = false;
    QMdiArea *MdiArea() const { return mdiArea_; }

private:
    // The application-wide message handler (registered messages, later the
    // closing of tool windows).
    bool AppMessage(QObject *receiver, QEvent *event);

    QMdiArea *mdiArea_ = nullptr;
    int hookId_ = 0;
};
