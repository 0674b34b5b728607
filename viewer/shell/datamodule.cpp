#include "viewer/shell/datamodule.h"

#include "viewer/shell/formpassword.h"
#include "viewer/shell/templatedm.h"

namespace {
TDATA *g_data = nullptr;
}

TDATA *DATA()
{
    return g_data;
}

TDATA::TDATA(TTemplateDM &dm, MainWindowFactory createMainWindow, SplashFunction splash)
    : dm_(dm), createMainWindow_(std::move(createMainWindow)), splash_(std::move(splash))
{
    if (!g_data)
        g_data = this;
}

TDATA::~TDATA()
{
    delete mainWindow_.data();
    if (g_data == this)
        g_data = nullptr;
}

TDATA::Outcome TDATA::Create()
{
    if (!dm_.RegisterOCX())
        return Outcome::ComponentNotLoaded;
    dm_.CaptionPrefix = QStringLiteral("KorvaneCD - Quellarix");

    if (!dm_.HasOption(QStringLiteral("/nologo"))) {
        StartupFinished = false;
        int result = mrNone;
        if (splash_) {
            result = splash_();
        } else {
            TFormPassword splash(false);
            result = splash.ShowModal();
        }
        if (result == mrCancel)
            return Outcome::SplashCancelled;
    }

    StartupFinished = true;
    mainWindow_ = createMainWindow_(StartupFinished);
    if (mainWindow_)
        mainWindow_->show();
    return Outcome::MainWindowShown;
}
