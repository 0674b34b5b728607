#include "viewer/shell/settingsstore.h"

#include "platform/settingsscope.h"

const TDefaultPreset kDefaultCTPresets[7] = {
    {"Abdomen", "F2", 500, -10},   {"Colonne", "F3", 430, 40},   {"Médiastin", "F4", 350, 40},
    {"Poumon", "F5", 1800, -700},  {"Tête", "F6", 100, 40},      {"Os", "F7", 2000, 350},
    {"Os tête", "F8", 4000, 600},
};

namespace {

std::optional<int> AsInteger(const std::optional<QVariant> &value)
{
    if (!value)
        return std::nullopt;
    bool ok = false;
    const int result = value->toString().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return result;
}

QString PresetGroup(const QString &modality, const QString &name)
{
    return modality + QLatin1Char('/') + name;
}

// A preset's name is one group of the settings: the separators of their paths would
// make it a group inside another, which the list of presets never shows.
bool UsableName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

} // namespace

TSettingsStore::TSettingsStore(std::shared_ptr<platform::SettingsScope> machine,
                               std::shared_ptr<platform::SettingsScope> user,
                               ErrorReporter reportError)
    : machine_(std::move(machine)), user_(std::move(user)), reportError_(std::move(reportError))
{
}

QString TSettingsStore::ErrorMessage(const QString &systemMessage)
{
    return QStringLiteral("Il y a un problème pour accéder aux régistres: \r") + systemMessage;
}

void TSettingsStore::Report(const QString &systemMessage) const
{
    if (reportError_)
        reportError_(ErrorMessage(systemMessage));
}

int TSettingsStore::ReadMachineInteger(const QString &name) const
{
    const bool starred = name.startsWith(QLatin1Char('*'));
    const QString key = starred ? name.mid(1) : name;
    const std::optional<int> value = machine_ ? AsInteger(machine_->Read(QString(), key)) : std::nullopt;
    if (value)
        return *value;
    return starred ? -1 : 0;
}

int TSettingsStore::ReadUserInteger(const QString &name) const
{
    return user_ ? AsInteger(user_->Read(QString(), name)).value_or(0) : 0;
}

bool TSettingsStore::WriteUserInteger(const QString &name, int value) const
{
    QString error;
    if (!user_->Write(QString(), {{name, value}}, &error)) {
        Report(error);
        return false;
    }
    return true;
}

int TSettingsStore::LabelLineWidth() const
{
    const int value = ReadUserInteger(QStringLiteral("LineWidth"));
    return value < 1 ? 2 : value;
}

int TSettingsStore::LabelFontSize() const
{
    const int value = ReadUserInteger(QStringLiteral("FontSize"));
    return value < 1 ? 15 : value;
}

bool TSettingsStore::PresetExists(const QString &modality, const QString &name) const
{
    // Names are told apart without regard to case, as the registry does: "poumon" is
    // the preset "Poumon".
    QString error;
    const QStringList names = user_->ChildGroups(modality, &error);
    if (!error.isEmpty())
        Report(error);
    return names.contains(name, Qt::CaseInsensitive);
}

std::optional<TPreset> TSettingsStore::ReadPreset(const QString &modality, const QString &name) const
{
    const QString group = PresetGroup(modality, name);
    QString error;
    if (!user_->GroupExists(group, &error)) {
        if (!error.isEmpty())
            Report(error);
        return std::nullopt;
    }
    TPreset preset;
    preset.Width = AsInteger(user_->Read(group, QStringLiteral("Width"), &error)).value_or(0);
    preset.Level = AsInteger(user_->Read(group, QStringLiteral("Level"), &error)).value_or(0);
    const auto shortCut = user_->Read(group, QStringLiteral("ShortCut"), &error);
    if (!error.isEmpty()) {
        Report(error);
        return std::nullopt;
    }
    preset.ShortCut = shortCut ? shortCut->toString() : QString();
    return preset;
}

QStringList TSettingsStore::ListPresets(const QString &modality) const
{
    QString error;
    const QStringList names = user_->ChildGroups(modality, &error);
    if (!error.isEmpty())
        Report(error);
    return names;
}

bool TSettingsStore::WritePreset(const QString &modality, const QString &name,
                                 const QString &shortCut, int level, int width) const
{
    if (!UsableName(name)) {
        if (reportError_)
            reportError_(QStringLiteral("Le nom du préréglage ne peut contenir ni \"/\" ni \"\\\".\r") + name);
        return false;
    }
    QString error;
    const QVariantMap values{{QStringLiteral("Width"), width},
                             {QStringLiteral("Level"), level},
                             {QStringLiteral("ShortCut"), shortCut}};
    if (!user_->Write(PresetGroup(modality, name), values, &error)) {
        Report(error);
        return false;
    }
    return true;
}

bool TSettingsStore::DeletePreset(const QString &modality, const QString &name) const
{
    QString error;
    if (!user_->RemoveGroup(PresetGroup(modality, name), &error)) {
        Report(error);
        return false;
    }
    return true;
}

bool TSettingsStore::SeedDefaultPresets() const
{
    const QString ct = QStringLiteral("CT");
    for (const TDefaultPreset &preset : kDefaultCTPresets) {
        const QString name = QString::fromUtf8(preset.Name);
        if (PresetExists(ct, name))
            continue;
        if (!WritePreset(ct, name, QString::fromLatin1(preset.ShortCut), preset.Level, preset.Width))
            return false;
    }
    return true;
}
