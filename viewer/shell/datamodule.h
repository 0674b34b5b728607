#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class TTemplateDM;

// The start-up module: loads the imaging component, shows the splash unless
// "/nologo" is given, then creates and shows the main window.
class TDATA
{
public:
    // Creates the main window; `startupFinished` is passed on to it.
    using MainWindowFactory = std::function<QWidget *(bool startupFinished)>;
    // Shows the splash modally; answers its modal result (tests replace it).
    using SplashFunction = std::function<int()>;

    enum class Outcome { MainWindowShown, ComponentNotLoaded, SplashCancelled };

    TDATA(TTemplateDM &dm, MainWindowFactory createMainWindow, SplashFunction splash = {});
    ~TDATA();

    // The creation step.
    Outcome Create();

    // False while the splash shows at start-up, true from the main window's creation on.
    bool StartupFinished = false;
    QWidget *MainWindow() const { return mainWindow_; }

private:
    TTemplateDM &dm_;
    MainWindowFactory createMainWindow_;
    SplashFunction splash_;
    QPointer<QWidget> mainWindow_;
};

// The process's start-up module; null before it exists.
TDATA *DATA();
