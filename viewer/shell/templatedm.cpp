#include "viewer/shell/templatedm.h"

#include "platform/cddrives.h"
#include "platform/folders.h"
#include "platform/screeninfo.h"
#include "platform/settingsscope.h"
#include "viewer/shell/apphook.h"
#include "viewer/shell/componentfile.h"
#include "viewer/shell/screengeometry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QPixmap>

#include <clocale>

#ifndef KORVANE_FILE_VERSION
#define KORVANE_FILE_VERSION "0.0.0.0"
#endif

namespace {

TTemplateDM *g_templateDM = nullptr;

// Registered event types are process-wide: one number per name for the whole run.
QEvent::Type RegisterMessageType(const QString &name)
{
    static QMutex lock;
    static QHash<QString, int> types;
    QMutexLocker locker(&lock);
    auto it = types.constFind(name);
    if (it != types.cend())
        return QEvent::Type(it.value());
    const int type = QEvent::registerEventType();
    types.insert(name, type);
    return QEvent::Type(type);
}

struct CursorResource
{
    int slot;
    const char *name;
};
constexpr CursorResource kCursorResources[] = {
    {crScroll, "SCROLL"}, {crWidthLevel, "WIDTHLEVEL"}, {crMagnify, "MAGNIFY"},
    {crMove, "MOVE"},     {crZoom, "ZOOM"},             {crMeasure, "MEASURE"},
};

} // namespace

TShellServices TShellServices::Real(const QStringList &arguments)
{
    TShellServices services;
    services.Machine = platform::QtSettingsScope::System(QStringLiteral("Quellarix"), QStringLiteral("KorvaneCD"));
    services.User = platform::QtSettingsScope::User(QStringLiteral("Quellarix"), QStringLiteral("KorvaneCD"));
    services.Screens = std::make_shared<platform::QtScreenInfo>();
    services.CdDevices = std::make_shared<platform::LinuxCdDeviceSystem>();
    services.LogFolder = platform::StateFolder();
    services.TempVariable = platform::TempFolderFromEnvironment().value;
    services.Arguments = arguments;
    services.ExecutablePath = QCoreApplication::applicationFilePath();
    return services;
}

TTemplateDM::TTemplateDM(TShellServices services, MessageDialogFunction messageDialog)
    : services_(std::move(services)),
      messageDialog_(std::move(messageDialog)),
      commandLine_(services_.Arguments),
      settings_(services_.Machine, services_.User,
                [this](const QString &message) { ShowMessageDialog(message, TMsgDlgType::mtError, mbOK); }),
      log_(services_.LogFolder, [this]() { return ReadMachineInteger(QStringLiteral("Debug")) != 0; })
{
    if (!services_.Screens)
        services_.Screens = std::make_shared<platform::QtScreenInfo>();
    if (!g_templateDM)
        g_templateDM = this;

    shell::ApplyProcessFormats();
    SetUpTempFolder();
    ProgramFolder = QFileInfo(services_.ExecutablePath).absolutePath();
    if (!ProgramFolder.endsWith(QLatin1Char('/')))
        ProgramFolder += QLatin1Char('/');
    LoadCursors();
    for (const char *name : kRegisteredMessageNames)
        RegisterMessageType(QString::fromLatin1(name));
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        hook_ = new TApplicationHook(QCoreApplication::instance());
}

TTemplateDM::~TTemplateDM()
{
    ReleaseComponent();
    delete hook_;
    if (g_templateDM == this)
        g_templateDM = nullptr;
}

void TTemplateDM::SetUpTempFolder()
{
    if (services_.TempVariable) {
        const QString value = *services_.TempVariable;
        // The folder was meant to fit a 255-character buffer; a longer value
        // leaves it unusable (the component cannot be written there).
        if (value.size() > 255) {
            TempFolder.clear();
            ShowMessageDialog(QStringLiteral("Variable d'environnement \"TEMP\" > 255 characters."),
                              TMsgDlgType::mtError, mbOK);
            return;
        }
        TempFolder = value;
    } else {
        TempFolder = QStringLiteral("/tmp");
        QDir().mkpath(TempFolder);
        ShowMessageDialog(QStringLiteral("Variable d'environnement \"TEMP\" non définie."),
                          TMsgDlgType::mtWarning, mbOK);
    }
    while (TempFolder.size() > 1 && TempFolder.endsWith(QLatin1Char('/')))
        TempFolder.chop(1);
}

void TTemplateDM::LoadCursors()
{
    for (const CursorResource &resource : kCursorResources) {
        const QPixmap picture(QStringLiteral(":/cursors/%1").arg(QLatin1String(resource.name)));
        if (picture.isNull())
            cursors_.insert(resource.slot, QCursor(Qt::ArrowCursor));
        else
            cursors_.insert(resource.slot, QCursor(picture, picture.width() / 2, picture.height() / 2));
    }
}

QCursor TTemplateDM::Cursor(int slot) const
{
    return cursors_.value(slot, QCursor(Qt::ArrowCursor));
}

QEvent::Type TTemplateDM::RegisteredMessage(const QString &name) const
{
    return RegisterMessageType(name);
}

void TTemplateDM::PostRegisteredMessage(const QString &name) const
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QCoreApplication::postEvent(app, new QEvent(RegisteredMessage(name)));
}

void TTemplateDM::PostRegisteredMessage(const QString &name, std::weak_ptr<void> about) const
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QCoreApplication::postEvent(app, new TRegisteredMessageEvent(RegisteredMessage(name), std::move(about)));
}

int TTemplateDM::WorkAreaHeight() const
{
    return shell::WorkAreaHeight(*services_.Screens);
}

int TTemplateDM::DesktopWidth() const
{
    return shell::DesktopWidth(*services_.Screens, ReadMachineInteger(QStringLiteral("Monitors")));
}

int TTemplateDM::MonitorLeft(int width, int monitor) const
{
    return shell::MonitorLeft(*services_.Screens, ReadMachineInteger(QStringLiteral("Monitors")), width, monitor);
}

void TTemplateDM::WriteLog(const QString &text) const
{
    log_.Write(text);
}

void TTemplateDM::ReleaseComponent()
{
    // Parts may hold component objects: they go before the factories.
    while (!parts_.empty())
        parts_.pop_back();
    classTable_.Clear();
    componentFile_.reset();
}

TTemplateDM &TemplateDM()
{
    Q_ASSERT(g_templateDM);
    return *g_templateDM;
}

TTemplateDM *TemplateDMIfAny()
{
    return g_templateDM;
}

namespace shell {

QString ApplicationTitle()
{
    return QStringLiteral("Visionneuse de téléradiologie");
}

QString FileVersion()
{
    return QStringLiteral(KORVANE_FILE_VERSION);
}

void ApplyProcessFormats()
{
    // Qt sets the C library's locale from the environment at start; numbers
    // must read and write with "." in every part of the program.
    std::setlocale(LC_NUMERIC, "C");
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(locale);
}

QString ShortDate(const QDate &date)
{
    return date.toString(QLatin1String(kShortDateFormat));
}

} // namespace shell
