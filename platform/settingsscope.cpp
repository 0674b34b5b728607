#include "platform/settingsscope.h"

#include <QSettings>

namespace platform {

namespace {

QString StatusText(QSettings::Status status, const QString &fileName)
{
    switch (status) {
    case QSettings::AccessError:
        return QStringLiteral("Accès refusé au fichier de réglages \"%1\".").arg(fileName);
    case QSettings::FormatError:
        return QStringLiteral("Le fichier de réglages \"%1\" est mal formé.").arg(fileName);
    case QSettings::NoError:
        break;
    }
    return QString();
}

bool Check(const QSettings &settings, QString *error)
{
    if (settings.status() == QSettings::NoError)
        return true;
    if (error)
        *error = StatusText(settings.status(), settings.fileName());
    return false;
}

QString Join(const QString &group, const QString &name)
{
    return group.isEmpty() ? name : group + QLatin1Char('/') + name;
}

} // namespace

std::unique_ptr<QtSettingsScope> QtSettingsScope::System(const QString &organization,
                                                         const QString &application)
{
    QSettings probe(QSettings::NativeFormat, QSettings::SystemScope, organization, application);
    return std::make_unique<QtSettingsScope>(probe.fileName());
}

std::unique_ptr<QtSettingsScope> QtSettingsScope::User(const QString &organization,
                                                       const QString &application)
{
    QSettings probe(QSettings::NativeFormat, QSettings::UserScope, organization, application);
    return std::make_unique<QtSettingsScope>(probe.fileName());
}

std::optional<QVariant> QtSettingsScope::Read(const QString &group, const QString &name,
                                              QString *error)
{
    QSettings settings(fileName_, QSettings::NativeFormat);
    if (!Check(settings, error))
        return std::nullopt;
    const QVariant value = settings.value(Join(group, name));
    if (!value.isValid())
        return std::nullopt;
    return value;
}

bool QtSettingsScope::Write(const QString &group, const QVariantMap &values, QString *error)
{
    QSettings settings(fileName_, QSettings::NativeFormat);
    if (!Check(settings, error))
        return false;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(Join(group, it.key()), it.value());
    settings.sync();
    return Check(settings, error);
}

bool QtSettingsScope::GroupExists(const QString &group, QString *error)
{
    QSettings settings(fileName_, QSettings::NativeFormat);
    if (!Check(settings, error))
        return false;
    settings.beginGroup(group);
    return !settings.childKeys().isEmpty() || !settings.childGroups().isEmpty();
}

QStringList QtSettingsScope::ChildGroups(const QString &group, QString *error)
{
    QSettings settings(fileName_, QSettings::NativeFormat);
    if (!Check(settings, error))
        return {};
    settings.beginGroup(group);
    return settings.childGroups();
}

bool QtSettingsScope::RemoveGroup(const QString &group, QString *error)
{
    QSettings settings(fileName_, QSettings::NativeFormat);
    if (!Check(settings, error))
        return false;
    settings.remove(group);
    settings.sync();
    return Check(settings, error);
}

std::optional<QVariant> MemorySettingsScope::Read(const QString &group, const QString &name,
                                                  QString *)
{
    const auto it = values_.constFind(Join(group, name));
    if (it == values_.cend())
        return std::nullopt;
    return it.value();
}

bool MemorySettingsScope::Write(const QString &group, const QVariantMap &values, QString *error)
{
    ++writes_;
    if (failFrom_ > 0 && writes_ >= failFrom_) {
        if (error)
            *error = QStringLiteral("Écriture refusée.");
        return false;
    }
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        values_.insert(Join(group, it.key()), it.value());
    return true;
}

bool MemorySettingsScope::GroupExists(const QString &group, QString *)
{
    const QString prefix = group + QLatin1Char('/');
    for (auto it = values_.cbegin(); it != values_.cend(); ++it)
        if (it.key().startsWith(prefix))
            return true;
    return false;
}

QStringList MemorySettingsScope::ChildGroups(const QString &group, QString *)
{
    const QString prefix = group.isEmpty() ? QString() : group + QLatin1Char('/');
    QStringList names;
    for (auto it = values_.cbegin(); it != values_.cend(); ++it) {
        if (!it.key().startsWith(prefix))
            continue;
        const QString rest = it.key().mid(prefix.size());
        const int slash = rest.indexOf(QLatin1Char('/'));
        if (slash > 0 && !names.contains(rest.left(slash)))
            names.append(rest.left(slash));
    }
    return names;
}

bool MemorySettingsScope::RemoveGroup(const QString &group, QString *)
{
    const QString prefix = group + QLatin1Char('/');
    for (auto it = values_.begin(); it != values_.end();) {
        if (it.key().startsWith(prefix))
            it = values_.erase(it);
        else
            ++it;
    }
    return true;
}

} // namespace platform
