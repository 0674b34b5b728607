#include "viewer/shell/startup.h"

#include "platform/singleinstance.h"
#include "platform/termination.h"
#include "viewer/shell/templatedm.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <cstdio>

namespace shell {

namespace {

const char *const kAlreadyRunning = "Un processus KorvaneCD est déjà en fonction sur ce poste.";

// Activates a window once the display shows it. Without a window manager nobody activates a new window, and an
// activation asked for before the window is mapped is lost, so the main window's first activation (which opens
// the visit) would wait for the user's first click.
class ActivateWhenExposed : public QObject
{
public:
    explicit ActivateWhenExposed(QWidget *window) : QObject(window), window_(window)
    {
        window->windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && window_ && window_->windowHandle() == watched &&
            window_->windowHandle()->isExposed()) {
            if (!window_->isActiveWindow())
                window_->activateWindow();
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> window_;
};

void ActivateWhenShown(QWidget *window)
{
    if (!window || window->isActiveWindow())
        return;
    if (window->windowHandle() && !window->windowHandle()->isExposed())
        new ActivateWhenExposed(window);
    else
        window->activateWindow();
}

void BringForward(QWidget *window)
{
    if (!window)
        return;
    if (window->isMinimized())
        window->showNormal();
    else if (!window->isVisible())
        window->show();
    window->raise();
    window->activateWindow();
    ActivateWhenShown(window);
    std::fprintf(stderr, "KorvaneCD: brought to the front at the request of a later start\n");
    std::fflush(stderr);
}

// Receives a main window's screenshotReady() signal, known only by name.
class ScreenshotTrigger : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    std::function<void()> take;
public slots:
    void Fire()
    {
        if (take)
            take();
        take = nullptr;
    }
};

// Waits until the main window is ready to be photographed, saves it, ends the run.
void ScheduleScreenshot(QApplication &application, QWidget *window, const QString &fileName)
{
    auto take = [&application, window, fileName]() {
        const bool saved = SaveWindowPicture(window, fileName);
        if (!saved)
            std::fprintf(stderr, "KorvaneCD: cannot write the screenshot %s\n", qPrintable(fileName));
        application.exit(saved ? 0 : 3);
    };
    if (window->metaObject()->indexOfSignal("screenshotReady()") >= 0) {
        auto *trigger = new ScreenshotTrigger(window);
        trigger->take = [take]() { QTimer::singleShot(200, take); };
        QObject::connect(window, SIGNAL(screenshotReady()), trigger, SLOT(Fire()));
    } else {
        // Poll until the window system shows the window, then let it paint.
        auto *poll = new QTimer(window);
        QObject::connect(poll, &QTimer::timeout, window, [window, poll, take]() {
            if (window->windowHandle() && window->windowHandle()->isExposed()) {
                poll->stop();
                QTimer::singleShot(300, window, take);
            }
        });
        poll->start(50);
    }
    // Never hang a script: give up after two minutes.
    QTimer::singleShot(120000, &application, [&application, window, fileName]() {
        std::fprintf(stderr, "KorvaneCD: the window was not ready for the screenshot in time\n");
        SaveWindowPicture(window, fileName);
        application.exit(3);
    });
}

} // namespace

void InstallFrenchTranslations(QApplication &application)
{
    auto *translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

bool SaveWindowPicture(QWidget *window, const QString &fileName)
{
    if (!window)
        return false;
    return window->grab().save(fileName, "PNG");
}

int RunKorvaneCD(QApplication &application, const TDATA::MainWindowFactory &createMainWindow,
                 const TTemplateDM::MessageDialogFunction &messageDialog)
{
    ApplyProcessFormats();
    InstallFrenchTranslations(application);

    platform::SingleInstance instance(QStringLiteral("KorvaneCD"));
    if (!instance.TryBecomeFirst()) {
        const QString text = QString::fromUtf8(kAlreadyRunning);
        if (messageDialog)
            messageDialog(text, TMsgDlgType::mtError, mbOK);
        else
            QMessageBox::critical(nullptr, QStringLiteral("Erreur"), text, QMessageBox::Ok);
        instance.AskFirstToComeForward();
        return 0;
    }

    platform::QuitOnTerminationSignals(application);
    application.setWindowIcon(QIcon(QStringLiteral(":/icons/KORVANECD")));
    TTemplateDM dm(TShellServices::Real(application.arguments().mid(1)), messageDialog);
    int exitCode = 0;
    {
        TDATA data(dm, createMainWindow);
        // A later start may ask while this one is still starting (the request is answered
        // from any event loop, the splash's included): the window comes forward once shown.
        QObject forwarding;
        bool forwardAsked = false;
        QObject::connect(&instance, &platform::SingleInstance::comeForwardRequested, &forwarding,
                         [&data, &forwardAsked]() {
                             if (data.MainWindow())
                                 BringForward(data.MainWindow());
                             else
                                 forwardAsked = true;
                         });
        switch (data.Create()) {
        case TDATA::Outcome::ComponentNotLoaded:
            return 1;
        case TDATA::Outcome::SplashCancelled:
            return 0;
        case TDATA::Outcome::MainWindowShown:
            ActivateWhenShown(data.MainWindow());
            break;
        }
        if (forwardAsked)
            BringForward(data.MainWindow());
        if (dm.HasOptionPrefix(QStringLiteral("/SCREENSHOT=")) && data.MainWindow())
            ScheduleScreenshot(application, data.MainWindow(), dm.OptionValue(QStringLiteral("/SCREENSHOT=")));
        exitCode = application.exec();
    }
    // Windows still open may hold component objects: they go before the component.
    // (A window's destructor may free another: each is checked just before.)
    QList<QPointer<QWidget>> remaining;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (!window->parentWidget())
            remaining.append(window);
    for (const QPointer<QWidget> &window : remaining)
        delete window.data();
    dm.ReleaseComponent();
    return exitCode;
}

} // namespace shell

#include "startup.moc"
