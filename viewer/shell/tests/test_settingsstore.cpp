#include "viewer/shell/settingsstore.h"

#include "platform/settingsscope.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::MemorySettingsScope;
using platform::QtSettingsScope;

namespace {

struct Store
{
    Store()
        : machine(std::make_shared<QtSettingsScope>(dir.filePath("machine.conf"))),
          user(std::make_shared<QtSettingsScope>(dir.filePath("user.conf"))),
          store(machine, user, [this](const QString &m) { messages.append(m); })
    {
    }
    QTemporaryDir dir;
    std::shared_ptr<QtSettingsScope> machine;
    std::shared_ptr<QtSettingsScope> user;
    QStringList messages;
    TSettingsStore store;
};

} // namespace

TEST(SettingsStore, MissingAndMalformedIntegersGiveTheirDefaults)
{
    Store s;
    EXPECT_EQ(s.store.ReadMachineInteger("Debug"), 0);
    // A starred name answers -1 when the value is missing: only then do the two differ.
    EXPECT_EQ(s.store.ReadMachineInteger("Monitors"), 0);
    EXPECT_EQ(s.store.ReadMachineInteger("*Monitors"), -1);
    EXPECT_EQ(s.store.ReadMachineInteger("*CDLocking"), -1);
    s.machine->Write("", {{"Monitors", 2}, {"CDLocking", 0}, {"DirectDraw", "yes"}});
    EXPECT_EQ(s.store.ReadMachineInteger("Monitors"), 2);
    EXPECT_EQ(s.store.ReadMachineInteger("*Monitors"), 2);
    EXPECT_EQ(s.store.ReadMachineInteger("*CDLocking"), 0);
    // A value of another type counts as missing.
    EXPECT_EQ(s.store.ReadMachineInteger("*DirectDraw"), -1);
    EXPECT_EQ(s.store.ReadMachineInteger("DirectDraw"), 0);

    EXPECT_EQ(s.store.ReadUserInteger("LineWidth"), 0);
    EXPECT_TRUE(s.store.WriteUserInteger("LineWidth", -3));
    EXPECT_EQ(s.store.ReadUserInteger("LineWidth"), -3);
    EXPECT_EQ(s.store.LabelLineWidth(), 2);
    EXPECT_EQ(s.store.LabelFontSize(), 15);
    EXPECT_TRUE(s.store.WriteUserInteger("FontSize", 0));
    EXPECT_EQ(s.store.LabelFontSize(), 15);
    EXPECT_TRUE(s.store.WriteUserInteger("LineWidth", 3));
    EXPECT_TRUE(s.store.WriteUserInteger("FontSize", 11));
    EXPECT_EQ(s.store.LabelLineWidth(), 3);
    EXPECT_EQ(s.store.LabelFontSize(), 11);
    // Machine and user scopes are apart.
    EXPECT_EQ(s.store.ReadMachineInteger("LineWidth"), 0);
    EXPECT_TRUE(s.messages.isEmpty());
}

TEST(SettingsStore, PresetsRoundTripAndListOnlyTheirModality)
{
    Store s;
    EXPECT_TRUE(s.store.ListPresets("US").isEmpty());
    EXPECT_FALSE(s.store.PresetExists("CT", "Poumon"));
    ASSERT_TRUE(s.store.WritePreset("CT", "Poumon", "Alt+F5", -600, 1600));
    ASSERT_TRUE(s.store.WritePreset("MR", "T2 cerveau", "F2", 300, 900));
    const auto preset = s.store.ReadPreset("CT", "Poumon");
    ASSERT_TRUE(preset.has_value());
    EXPECT_EQ(preset->Width, 1600);
    EXPECT_EQ(preset->Level, -600);
    EXPECT_EQ(preset->ShortCut, "Alt+F5");
    EXPECT_EQ(s.store.ListPresets("CT"), QStringList({"Poumon"}));
    EXPECT_EQ(s.store.ListPresets("MR"), QStringList({"T2 cerveau"}));
    ASSERT_TRUE(s.store.DeletePreset("CT", "Poumon"));
    EXPECT_FALSE(s.store.PresetExists("CT", "Poumon"));
    EXPECT_FALSE(s.store.ReadPreset("CT", "Poumon").has_value());
    EXPECT_TRUE(s.messages.isEmpty());
}

TEST(SettingsStore, SeedingWritesMissingPresetsAndKeepsTheUsersChanges)
{
    Store s;
    ASSERT_TRUE(s.store.SeedDefaultPresets());
    const QStringList names = s.store.ListPresets("CT");
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()),
              QSet<QString>({"Abdomen", "Colonne", "Médiastin", "Poumon", "Tête", "Os", "Os tête"}));
    const auto mediastin = s.store.ReadPreset("CT", "Médiastin");
    ASSERT_TRUE(mediastin);
    EXPECT_EQ(mediastin->Width, 350);
    EXPECT_EQ(mediastin->Level, 40);
    EXPECT_EQ(mediastin->ShortCut, "F4");
    EXPECT_EQ(s.store.ReadPreset("CT", "Os tête")->Width, 4000);

    // The user changes "Poumon": the next start keeps the change.
    ASSERT_TRUE(s.store.WritePreset("CT", "Poumon", "F9", -500, 1500));
    ASSERT_TRUE(s.store.SeedDefaultPresets());
    EXPECT_EQ(s.store.ReadPreset("CT", "Poumon")->Width, 1500);
    EXPECT_EQ(s.store.ReadPreset("CT", "Poumon")->ShortCut, "F9");

    // The user deletes it: the next start brings it back.
    ASSERT_TRUE(s.store.DeletePreset("CT", "Poumon"));
    ASSERT_TRUE(s.store.SeedDefaultPresets());
    const auto poumon = s.store.ReadPreset("CT", "Poumon");
    ASSERT_TRUE(poumon);
    EXPECT_EQ(poumon->Width, 1800);
    EXPECT_EQ(poumon->Level, -700);
    EXPECT_EQ(poumon->ShortCut, "F5");
    EXPECT_TRUE(s.messages.isEmpty());
}

TEST(SettingsStore, PresetNamesDifferingInCaseAreOneAndNoneHoldsAPathSeparator)
{
    Store s;
    // The user's own "poumon": seeding adds no second lung preset beside it.
    ASSERT_TRUE(s.store.WritePreset("CT", "poumon", "F9", -500, 1500));
    EXPECT_TRUE(s.store.PresetExists("CT", "Poumon"));
    EXPECT_TRUE(s.store.PresetExists("CT", "POUMON"));
    ASSERT_TRUE(s.store.SeedDefaultPresets());
    const QStringList names = s.store.ListPresets("CT");
    EXPECT_EQ(names.filter("poumon", Qt::CaseInsensitive), QStringList{"poumon"});
    EXPECT_EQ(s.store.ReadPreset("CT", "poumon")->Width, 1500);
    EXPECT_EQ(names.size(), 7);

    // A name holding either separator of the settings' paths is refused, with a
    // message, and writes nothing.
    for (const QString &name : {QStringLiteral("Abdo/Pelvis"), QStringLiteral("Abdo\\Pelvis")}) {
        s.messages.clear();
        EXPECT_FALSE(s.store.WritePreset("CT", name, "F10", 40, 400)) << name.toStdString();
        ASSERT_EQ(s.messages.size(), 1) << name.toStdString();
        EXPECT_TRUE(s.messages[0].contains(name)) << s.messages[0].toStdString();
        EXPECT_FALSE(s.store.PresetExists("CT", "Abdo"));
    }
    EXPECT_EQ(s.store.ListPresets("CT").size(), 7);
}

TEST(SettingsStore, TheFirstFailedWriteStopsSeedingWithOneMessage)
{
    auto user = std::make_shared<MemorySettingsScope>();
    user->FailWritesFrom(3);
    QStringList messages;
    TSettingsStore store(std::make_shared<MemorySettingsScope>(), user,
                         [&messages](const QString &m) { messages.append(m); });
    EXPECT_FALSE(store.SeedDefaultPresets());
    EXPECT_EQ(user->WriteAttempts(), 3);
    EXPECT_EQ(user->ChildGroups("CT"), QStringList({"Abdomen", "Colonne"}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Il y a un problème pour accéder aux régistres: \r")));
}

TEST(SettingsStore, AStoreThatCannotBeWrittenIsReported)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QStringList messages;
    TSettingsStore store(std::make_shared<QtSettingsScope>(dir.filePath("machine.conf")),
                         std::make_shared<QtSettingsScope>(dir.filePath("blocker/user.conf")),
                         [&messages](const QString &m) { messages.append(m); });
    EXPECT_FALSE(store.WritePreset("CT", "Os", "F7", 350, 2000));
    EXPECT_FALSE(store.WriteUserInteger("FontSize", 15));
    // Reading an integer stays silent.
    EXPECT_EQ(store.ReadUserInteger("FontSize"), 0);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].startsWith(TSettingsStore::ErrorMessage(QString())));
    EXPECT_GT(messages[0].size(), TSettingsStore::ErrorMessage(QString()).size());
}
