#pragma once
// Helpers shared by the shell's tests: a data module over a temporary folder
// with recorded messages, and the screens of our choosing.

#include "platform/screeninfo.h"
#include "platform/settingsscope.h"
#include "viewer/shell/templatedm.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QWidget>
#include <QTemporaryDir>

#include <memory>
#include <vector>

struct RecordedMessage
{
    QString text;
    TMsgDlgType kind;
    TMsgDlgButtons buttons;
};

class ShellFixture
{
public:
    explicit ShellFixture(QStringList arguments = {}, int monitors = 1, QSize desktop = QSize(1280, 1024),
                          int taskBar = 40)
    {
        machineFile = dir.filePath("etc/KorvaneCD.conf");
        userFile = dir.filePath("home/KorvaneCD.conf");
        QDir().mkpath(dir.filePath("tmp"));
        services.Machine = std::make_shared<platform::QtSettingsScope>(machineFile);
        services.User = std::make_shared<platform::QtSettingsScope>(userFile);
        screens = std::make_shared<platform::FixedScreenInfo>(monitors, desktop, taskBar);
        services.Screens = screens;
        services.LogFolder = dir.filePath("state");
        services.TempVariable = dir.filePath("tmp");
        services.Arguments = arguments;
        services.ExecutablePath = dir.filePath("Visite/KorvaneCD");
    }

    // Creates the module (call once, after adjusting `services`).
    TTemplateDM &Create()
    {
        dm = std::make_unique<TTemplateDM>(services, [this](const QString &text, TMsgDlgType kind,
                                                             TMsgDlgButtons buttons) {
            messages.push_back({text, kind, buttons});
            return answer;
        });
        return *dm;
    }

    void SetMachine(const QString &name, const QVariant &value)
    {
        platform::QtSettingsScope(machineFile).Write(QString(), {{name, value}});
    }

    QTemporaryDir dir;
    QString machineFile;
    QString userFile;
    std::shared_ptr<platform::FixedScreenInfo> screens;
    TShellServices services;
    std::vector<RecordedMessage> messages;
    int answer = mrOk;
    std::unique_ptr<TTemplateDM> dm;
};

// Once a modal window shows and is active (checked every 20 ms, so a slow
// start cannot be missed; keyboard shortcuts need the active window), hands it
// to `answer`, which must close it.
inline void WhenModalShows(std::function<void(QWidget *)> answer)
{
    auto *timer = new QTimer();
    QObject::connect(timer, &QTimer::timeout, [timer, answer]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (!modal->isActiveWindow()) {
            modal->activateWindow();
            return;
        }
        timer->stop();
        timer->deleteLater();
        answer(modal);
    });
    timer->start(20);
}
