#include "platform/settingsscope.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::MemorySettingsScope;
using platform::QtSettingsScope;

TEST(QtSettingsScope, ValuesAndNestedGroupsSurviveANewObject)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("KorvaneCD.conf");
    {
        QtSettingsScope scope(file);
        QString error;
        ASSERT_TRUE(scope.Write("", {{"LineWidth", 3}}, &error)) << error.toStdString();
        ASSERT_TRUE(scope.Write("CT/Médiastin", {{"Width", 350}, {"Level", 40}, {"ShortCut", "F4"}}));
        ASSERT_TRUE(scope.Write("CT/Os tête", {{"Width", 4000}}));
        ASSERT_TRUE(scope.Write("MR/T1", {{"Width", 1}}));
    }
    QtSettingsScope scope(file);
    EXPECT_EQ(scope.Read("", "LineWidth")->toInt(), 3);
    EXPECT_EQ(scope.Read("CT/Médiastin", "ShortCut")->toString(), "F4");
    EXPECT_FALSE(scope.Read("CT/Médiastin", "Missing").has_value());
    EXPECT_TRUE(scope.GroupExists("CT/Os tête"));
    EXPECT_FALSE(scope.GroupExists("CT/Poumon"));
    EXPECT_EQ(scope.ChildGroups("CT"), QStringList({"Médiastin", "Os tête"}));
    EXPECT_TRUE(scope.ChildGroups("US").isEmpty());

    ASSERT_TRUE(scope.RemoveGroup("CT/Médiastin"));
    EXPECT_EQ(QtSettingsScope(file).ChildGroups("CT"), QStringList({"Os tête"}));
    EXPECT_TRUE(QtSettingsScope(file).GroupExists("MR/T1"));
}

TEST(QtSettingsScope, AWriteThatCannotReachTheFileReportsAnError)
{
    QTemporaryDir dir;
    // The parent of the settings file is a plain file: nothing can be written,
    // whoever runs the test.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QtSettingsScope scope(dir.filePath("blocker/KorvaneCD.conf"));
    QString error;
    EXPECT_FALSE(scope.Write("CT/Abdomen", {{"Width", 500}}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(scope.Read("CT/Abdomen", "Width").has_value());
}

TEST(MemorySettingsScope, FailsFromTheChosenWriteOnAndCountsAttempts)
{
    MemorySettingsScope scope;
    scope.FailWritesFrom(2);
    QString error;
    EXPECT_TRUE(scope.Write("CT/A", {{"Width", 1}}, &error));
    EXPECT_FALSE(scope.Write("CT/B", {{"Width", 1}}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(scope.WriteAttempts(), 2);
    EXPECT_EQ(scope.ChildGroups("CT"), QStringList({"A"}));
    EXPECT_TRUE(scope.GroupExists("CT/A"));
    EXPECT_FALSE(scope.GroupExists("CT/B"));
}
