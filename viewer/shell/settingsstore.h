#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class SettingsScope;
}

// One window preset: a named width/level pair of a modality with its shortcut.
struct TPreset
{
    int Width = 0;
    int Level = 0;
    QString ShortCut; // "F2" ... "F10", "Alt+F2" ... "Alt+F10"
};

// The viewer's settings: read-only machine-wide switches and the user's
// preferences and window presets ("<modality>/<name>" groups).
class TSettingsStore
{
public:
    // Shows a store error to the user (text as the user sees it).
    using ErrorReporter = std::function<void(const QString &message)>;

    TSettingsStore(std::shared_ptr<platform::SettingsScope> machine,
                   std::shared_ptr<platform::SettingsScope> user, ErrorReporter reportError);

    // Machine-wide integer; a name that begins with "*" is looked up without it
    // and answers -1 instead of 0 when the value is missing or not an integer.
    int ReadMachineInteger(const QString &name) const;
    // Per-user integer, 0 when missing or not an integer; no message.
    int ReadUserInteger(const QString &name) const;
    bool WriteUserInteger(const QString &name, int value) const;

    // The user's label preferences as used: "LineWidth" below 1 counts as 2,
    // "FontSize" below 1 as 15.
    int LabelLineWidth() const;
    int LabelFontSize() const;

    bool PresetExists(const QString &modality, const QString &name) const;
    // Width, level and shortcut of a preset; nothing when it is missing or the
    // store fails (the failure is reported).
    std::optional<TPreset> ReadPreset(const QString &modality, const QString &name) const;
    // Preset names of a modality; empty when there is none.
    QStringList ListPresets(const QString &modality) const;
    bool WritePreset(const QString &modality, const QString &name, const QString &shortCut,
                     int level, int width) const;
    bool DeletePreset(const QString &modality, const QString &name) const;

    // Writes the default CT presets that do not exist yet, in order; a preset
    // that exists keeps the user's values. Stops at the first failed write.
    // Answers whether every missing preset was written.
    bool SeedDefaultPresets() const;

    // The message shown for a store error.
    static QString ErrorMessage(const QString &systemMessage);

private:
    void Report(const QString &systemMessage) const;

    std::shared_ptr<platform::SettingsScope> machine_;
    std::shared_ptr<platform::SettingsScope> user_;
    ErrorReporter reportError_;
};

// The seven CT presets written at the first start, in order.
struct TDefaultPreset
{
    const char *Name; // UTF-8
    const char *ShortCut;
    int Width;
    int Level;
};
extern const TDefaultPreset kDefaultCTPresets[7];
