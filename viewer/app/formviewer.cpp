#include "viewer/app/formviewer.h"

#include "viewer/shell/apphook.h"

#include <QCoreApplication>
#include <QMdiArea>

TFormViewer::TFormViewer(QWidget *parent) : TTemplate1(parent)
{
    setWindowTitle(QStringLiteral("Korvane"));
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setBackground(Qt::black);
    setCentralWidget(mdiArea_);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    resize(1024, 768);

    if (TApplicationHook *hook = TemplateDM().ApplicationHook())
        hookId_ = hook->AddHandler([this](QObject *receiver, QEvent *event) { return AppMessage(receiver, event); });
    PostMaximize();
    TemplateDM().SeedDefaultPresets();
}

TFormViewer::~TFormViewer()
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        if (TApplicationHook *hook = dm->ApplicationHook())
            hook->RemoveHandler(hookId_);
}

bool TFormViewer::AppMessage(QObject *receiver, QEvent *event)
{
    if (receiver != QCoreApplication::instance() || event->type() < QEvent::User)
        return false;
    // The tool windows that post their closing do not exist yet: nothing to free.
    return false;
}
