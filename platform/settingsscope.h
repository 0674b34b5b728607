#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace platform {

// One scope of settings (machine-wide or per user): named values in nested
// groups ("CT/Abdomen" holds "Width", "Level", "ShortCut"). Groups are given
// with "/" between levels; "" is the top.
//
// Every call stands alone (it opens, works and closes), and reports a failure
// of the store itself through `error` (left untouched on success). A missing
// value or group is not an error.
class SettingsScope
{
public:
    virtual ~SettingsScope() = default;

    virtual std::optional<QVariant> Read(const QString &group, const QString &name,
                                         QString *error = nullptr) = 0;
    // Writes every pair of `values` into `group` at once.
    virtual bool Write(const QString &group, const QVariantMap &values,
                       QString *error = nullptr) = 0;
    // Whether the group holds any value or sub-group.
    virtual bool GroupExists(const QString &group, QString *error = nullptr) = 0;
    // Names of the direct sub-groups of `group`, in the store's order.
    virtual QStringList ChildGroups(const QString &group, QString *error = nullptr) = 0;
    // Removes the group with everything under it (a missing group is fine).
    virtual bool RemoveGroup(const QString &group, QString *error = nullptr) = 0;
};

// A QSettings file in the platform's native format (an INI file on Linux).
class QtSettingsScope : public SettingsScope
{
public:
    explicit QtSettingsScope(QString fileName) : fileName_(std::move(fileName)) {}

    // The machine-wide file of "Quellarix/KorvaneCD" (/etc/xdg/... unless
    // QSettings::setPath redirected it) and the per-user file
    // (~/.config/Quellarix/KorvaneCD.conf).
    static std::unique_ptr<QtSettingsScope> System(const QString &organization,
                                                   const QString &application);
    static std::unique_ptr<QtSettingsScope> User(const QString &organization,
                                                 const QString &application);

    const QString &FileName() const { return fileName_; }

    std::optional<QVariant> Read(const QString &group, const QString &name,
                                 QString *error = nullptr) override;
    bool Write(const QString &group, const QVariantMap &values, QString *error = nullptr) override;
    bool GroupExists(const QString &group, QString *error = nullptr) override;
    QStringList ChildGroups(const QString &group, QString *error = nullptr) override;
    bool RemoveGroup(const QString &group, QString *error = nullptr) override;

private:
    QString fileName_;
};

// Settings held in memory, for tests: can be told to fail from the n-th write
// on, and counts the writes it was asked for.
class MemorySettingsScope : public SettingsScope
{
public:
    std::optional<QVariant> Read(const QString &group, const QString &name,
                                 QString *error = nullptr) override;
    bool Write(const QString &group, const QVariantMap &values, QString *error = nullptr) override;
    bool GroupExists(const QString &group, QString *error = nullptr) override;
    QStringList ChildGroups(const QString &group, QString *error = nullptr) override;
    bool RemoveGroup(const QString &group, QString *error = nullptr) override;

    // Writes number `n` (from 1) and every later one fail; 0 never fails.
    void FailWritesFrom(int n) { failFrom_ = n; }
    int WriteAttempts() const { return writes_; }

private:
    // Full key "group/name" -> value.
    QMap<QString, QVariant> values_;
    int failFrom_ = 0;
    int writes_ = 0;
};

} // namespace platform
