#pragma once
// The viewer's shared data module: folders, command-line options, cursors,
// registered messages, the message dialog, screen geometry, the settings
// store, the day log and the imaging component's class table. Created first
// at start-up and alive for the whole run; reached through TemplateDM().
//
// Growing it: later subsystems keep their shared state in a "part", a class
// derived from TTemplateDMPart that lives in their own folder and is created
// on first use by TemplateDM().Part<TTheirPart>() (constructed with the
// module when it takes a TTemplateDM &). Parts are destroyed, newest first,
// before the imaging component is released, so they may hold component
// objects (the visit's images). Member functions may also be declared here and
// defined in separate source files of this folder.

#include "viewer/shell/classtable.h"
#include "viewer/shell/commandline.h"
#include "viewer/shell/daylog.h"
#include "viewer/shell/settingsstore.h"

#include <QCursor>
#include <QEvent>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <typeindex>
#include <vector>

namespace platform {
class CdDeviceSystem;
class ScreenInfo;
class SettingsScope;
} // namespace platform

class QWidget;
class TApplicationHook;
class TComponentFile;

// Kinds, buttons and results of ShowMessageDialog.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };
enum TMsgDlgBtn : int { mbYes = 0x1, mbNo = 0x2, mbOK = 0x4, mbCancel = 0x8 };
using TMsgDlgButtons = int;
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// Cursor slots of the image tools.
enum TCursorSlot : int {
    crScroll = 21, crWidthLevel = 22, crMagnify = 23, crMove = 24, crZoom = 25, crMeasure = 26
};

// The messages tool windows and the loading thread send to the main window,
// in their order of registration.
inline constexpr const char *kRegisteredMessageNames[] = {
    "WM_CLOSECHILDMDI", "WM_CLOSEMAGNIFY", "WM_CLOSEINFORMATIONS", "WM_CLOSETHUMBNAILS",
    "WM_CLOSECINE",     "WM_THREADTERMINATE", "WM_CLOSEFORMDICTEE",
};

// A registered message that names what it is about (the visit a closing child window
// showed), so that a message handled late acts on that object only, never on one made
// since. The object may be gone by then: the handler gets an empty pointer.
class TRegisteredMessageEvent : public QEvent
{
public:
    TRegisteredMessageEvent(QEvent::Type type, std::weak_ptr<void> about) : QEvent(type), About(std::move(about)) {}
    std::weak_ptr<void> About;
};

// Base of the state later subsystems keep in the data module.
class TTemplateDMPart
{
public:
    virtual ~TTemplateDMPart() = default;
};

// What the data module needs from the machine; Real() gives the real services,
// tests fill in their own.
struct TShellServices
{
    std::shared_ptr<platform::SettingsScope> Machine; // read only
    std::shared_ptr<platform::SettingsScope> User;
    std::shared_ptr<platform::ScreenInfo> Screens;
    // The CD and DVD drives whose trays the main window locks; none when null.
    std::shared_ptr<platform::CdDeviceSystem> CdDevices;
    QString LogFolder;
    // Value of the temporary-folder variable; nothing when it is not defined.
    std::optional<QString> TempVariable;
    QStringList Arguments; // without the program name
    QString ExecutablePath;

    static TShellServices Real(const QStringList &arguments);
};

class TTemplateDM
{
public:
    using MessageDialogFunction = std::function<int(const QString &text, TMsgDlgType kind,
                                                    TMsgDlgButtons buttons)>;

    // The creation step: formats, temporary folder (with its messages),
    // program folder, cursors, registered messages, application hook. The
    // first module created becomes the one TemplateDM() answers.
    explicit TTemplateDM(TShellServices services, MessageDialogFunction messageDialog = {});
    ~TTemplateDM();
    TTemplateDM(const TTemplateDM &) = delete;
    TTemplateDM &operator=(const TTemplateDM &) = delete;

    // Folders and caption.
    QString TempFolder;    // without a trailing separator; empty when unusable
    QString ProgramFolder; // with its trailing "/"; keeps its case
    QString CaptionPrefix;

    // Command-line options.
    bool HasOption(const QString &option) const { return commandLine_.HasOption(option); }
    bool HasOptionPrefix(const QString &prefix) const { return commandLine_.HasOptionPrefix(prefix); }
    QString OptionValue(const QString &prefix) const { return commandLine_.OptionValue(prefix); }
    const TCommandLine &CommandLine() const { return commandLine_; }

    // The cursor of a slot (21..26); the arrow for an empty slot.
    QCursor Cursor(int slot) const;

    // Registered message numbers (event types) by name, and posting one to
    // the application with no data.
    QEvent::Type RegisteredMessage(const QString &name) const;
    void PostRegisteredMessage(const QString &name) const;
    // Posts one that names what it is about (a TRegisteredMessageEvent).
    void PostRegisteredMessage(const QString &name, std::weak_ptr<void> about) const;

    // The viewer's one message box; answers the button pressed (TModalResult).
    int ShowMessageDialog(const QString &text, TMsgDlgType kind, TMsgDlgButtons buttons) const;
    // Replaces the dialog (tests answer it); an empty function restores it.
    void SetMessageDialogFunction(MessageDialogFunction function) { messageDialog_ = std::move(function); }

    // Screen geometry (pixels), with the machine-wide "Monitors" setting.
    int WorkAreaHeight() const;
    int DesktopWidth() const;
    int MonitorLeft(int width, int monitor) const;
    const platform::ScreenInfo &Screens() const { return *services_.Screens; }
    // The machine's CD and DVD drives (null when the services give none).
    const std::shared_ptr<platform::CdDeviceSystem> &CdDevices() const { return services_.CdDevices; }

    // Settings store.
    const TSettingsStore &Settings() const { return settings_; }
    int ReadMachineInteger(const QString &name) const { return settings_.ReadMachineInteger(name); }
    int ReadUserInteger(const QString &name) const { return settings_.ReadUserInteger(name); }
    bool WriteUserInteger(const QString &name, int value) const { return settings_.WriteUserInteger(name, value); }
    bool PresetExists(const QString &modality, const QString &name) const { return settings_.PresetExists(modality, name); }
    std::optional<TPreset> ReadPreset(const QString &modality, const QString &name) const { return settings_.ReadPreset(modality, name); }
    QStringList ListPresets(const QString &modality) const { return settings_.ListPresets(modality); }
    bool WritePreset(const QString &modality, const QString &name, const QString &shortCut, int level, int width) const
    {
        return settings_.WritePreset(modality, name, shortCut, level, width);
    }
    bool DeletePreset(const QString &modality, const QString &name) const { return settings_.DeletePreset(modality, name); }
    bool SeedDefaultPresets() const { return settings_.SeedDefaultPresets(); }

    // One line of the day's log when the machine-wide "Debug" switch is on.
    // Safe from any thread.
    void WriteLog(const QString &text) const;
    const TDayLog &Log() const { return log_; }

    // Writes the imaging component carried in the resources to the temporary
    // folder, loads it and registers its classes in the class table. On
    // failure shows the load error and answers false (the program must end).
    bool RegisterOCX();
    // The component file path: "KORVANECD.OCX" in the user's private folder below
    // TempFolder (TComponentFile::PrivateFolder); the one registration chose, once made.
    QString ComponentFilePath() const;
    // Handle of the loaded component library; null before loading.
    void *ComponentLibrary() const;
    TClassTable &ClassTable() { return classTable_; }

    // Creates a component object through the class table (throws TComponentError).
    std::unique_ptr<imaging::ComponentObject> CreateComponentObject(const char *className,
                                                                    QWidget *parent = nullptr) const
    {
        return classTable_.Create(className, parent);
    }
    // The same, typed: CreateComponent<imaging::DicomGlobal>().
    template<class T>
    std::shared_ptr<T> CreateComponent(QWidget *parent = nullptr) const
    {
        std::unique_ptr<imaging::ComponentObject> object = CreateComponentObject(T::kClassName, parent);
        if (std::string(object->ClassName()) != T::kClassName)
            throw TComponentError(QStringLiteral("Objet inattendu pour %1").arg(T::kClassName));
        return std::shared_ptr<T>(static_cast<T *>(object.release()));
    }

    // The state part T of a later subsystem, created on first use.
    template<class T>
    T &Part()
    {
        static_assert(std::is_base_of_v<TTemplateDMPart, T>);
        for (auto &[type, part] : parts_)
            if (type == std::type_index(typeid(T)))
                return static_cast<T &>(*part);
        std::unique_ptr<T> created;
        if constexpr (std::is_constructible_v<T, TTemplateDM &>)
            created = std::make_unique<T>(*this);
        else
            created = std::make_unique<T>();
        T &result = *created;
        parts_.emplace_back(std::type_index(typeid(T)), std::move(created));
        return result;
    }

    // The application-wide event hook (null without a QApplication).
    TApplicationHook *ApplicationHook() const { return hook_; }

    // Releases the component: parts first, then the factories, the library
    // and its file. Done by the destructor; callable earlier at exit.
    void ReleaseComponent();

private:
    void SetUpTempFolder();
    void LoadCursors();

    TShellServices services_;
    MessageDialogFunction messageDialog_;
    TCommandLine commandLine_;
    TSettingsStore settings_;
    TDayLog log_;
    QMap<int, QCursor> cursors_;
    TClassTable classTable_;
    std::unique_ptr<TComponentFile> componentFile_;
    std::vector<std::pair<std::type_index, std::unique_ptr<TTemplateDMPart>>> parts_;
    TApplicationHook *hook_ = nullptr;
};

// The process's data module; only valid while one exists.
TTemplateDM &TemplateDM();
// Null when none exists (tests, early start-up).
TTemplateDM *TemplateDMIfAny();

namespace shell {

// The short notice that follows the caption prefix in every caption.
QString ApplicationTitle();
// The executable's file version as four dot-separated numbers.
QString FileVersion();

// Whole-process number and date formats: "." as decimal separator whatever
// the user's locale, for Qt and for the C library (DICOM decimal strings are
// parsed with "."). Dates are shown with ShortDate().
void ApplyProcessFormats();
inline constexpr const char *kShortDateFormat = "yyyy-MM-dd";
QString ShortDate(const QDate &date);

} // namespace shell
