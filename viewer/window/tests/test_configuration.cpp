// The main window's "Configuration usager" command and the CD tray lock of the main
// window: a preset changed in the dialog reaches the preset menu and the function keys
// once it closes; the drives are locked while the window exists.

#include "platform/cddrives.h"
#include "viewer/shell/formconfigurationuser.h"
#include "viewer/window/tests/windowtesting.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>

using namespace windowtest;

namespace {

class ConfigurationCommandTest : public ViewerTest
{
protected:
    TFrameDicomViewer *Current() { return window->CurrentFrame(); }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(Current()->DicomViewer(), Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
    }
    void ExpectSeriesWindow(int width, int level)
    {
        const auto images = Current()->DicomViewer()->Images();
        for (int i = 1; i <= images->Count(); ++i) {
            EXPECT_EQ(images->Item(i)->Width(), width) << i;
            EXPECT_EQ(images->Item(i)->Level(), level) << i;
        }
    }
    QAction *PresetItem(const QString &caption)
    {
        for (QAction *a : window->Menu(QStringLiteral("PopupMenuIntensite"))->actions())
            if (a->text() == caption)
                return a;
        return nullptr;
    }
    static void Retype(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    // Recreates the data module with these CD drives (and the machine switch when given).
    void WithDrives(std::shared_ptr<platform::MemoryCdDeviceSystem> drives, std::optional<int> cdLocking)
    {
        shell.dm.reset();
        shell.services.CdDevices = std::move(drives);
        shell.SetMachine(QStringLiteral("Debug"), 1);
        if (cdLocking)
            shell.SetMachine(QStringLiteral("CDLocking"), *cdLocking);
        shell.Create();
    }
    QString TodaysLog()
    {
        QFile file(TemplateDM().Log().FileName(QDateTime::currentDateTime()));
        // The day log is written in Windows-1252, which matches Latin-1 for these texts.
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }
};

} // namespace

TEST_F(ConfigurationCommandTest, APresetChangedInTheDialogReachesTheMenuAndTheKeysWhenItCloses)
{
    OpenVisit();
    // The window's first activation (which looks for a catalogue in the program folder)
    // comes before the dialog, not when it closes.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QCoreApplication::processEvents();
    shell.messages.clear();
    window->UpdateControls();
    QAction *command = A("Configurationusager1");
    ASSERT_NE(command, nullptr);
    EXPECT_TRUE(command->isEnabled());
    EXPECT_TRUE(window->IsBuilt(QStringLiteral("Configurationusager1")));
    ASSERT_NE(PresetItem(QStringLiteral("Poumon")), nullptr);
    EXPECT_EQ(PresetItem(QStringLiteral("Poumon"))->shortcut(), QKeySequence(Qt::Key_F5));

    // In the dialog: "Poumon" moves to F9 with another window, and "Foie" joins on F5.
    bool answered = false;
    WhenModalShows([&](QWidget *modal) {
        auto *dialog = qobject_cast<TFormConfigurationUser *>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->PageControl->setCurrentIndex(1);
        dialog->TabControlModalites->setCurrentIndex(TFormConfigurationUser::Modalities().indexOf("CT"));
        QTableWidget *grid = dialog->StrGrReglages;
        int row = -1;
        for (int r = 0; r < grid->rowCount(); ++r)
            if (grid->item(r, 0) && grid->item(r, 0)->text() == QStringLiteral("Poumon"))
                row = r;
        ASSERT_GE(row, 0);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(row, 0)).center());
        dialog->ButtonModifier->click();
        Retype(dialog->EditWidth, "1500");
        Retype(dialog->EditLevel, "-600");
        dialog->ComboBoxSCut->setCurrentIndex(TFormConfigurationUser::ShortCuts().indexOf("F9"));
        dialog->ButtonAppliquer->click();
        dialog->ButtonAjouter->click();
        Retype(dialog->EditDesc, "Foie");
        Retype(dialog->EditWidth, "150");
        Retype(dialog->EditLevel, "60");
        dialog->ComboBoxSCut->setCurrentIndex(TFormConfigurationUser::ShortCuts().indexOf("F5"));
        dialog->ButtonAppliquer->click();
        answered = true;
        dialog->close();
    });
    command->trigger();
    ASSERT_TRUE(answered);
    for (const auto &m : shell.messages)
        ADD_FAILURE() << m.text.toStdString();
    // The dialog is gone once the command returns.
    for (QWidget *w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TFormConfigurationUser *>(w), nullptr);

    ASSERT_NE(PresetItem(QStringLiteral("Foie")), nullptr);
    EXPECT_EQ(PresetItem(QStringLiteral("Poumon"))->shortcut(), QKeySequence(Qt::Key_F9));
    EXPECT_EQ(PresetItem(QStringLiteral("Foie"))->shortcut(), QKeySequence(Qt::Key_F5));
    Key(Qt::Key_F9);
    ExpectSeriesWindow(1500, -600);
    Key(Qt::Key_F5);
    ExpectSeriesWindow(150, 60);
}

TEST_F(ConfigurationCommandTest, EveryCdDriveIsLockedWhileTheWindowExistsUnlessSwitchedOff)
{
    // No "CDLocking" value: every drive found is locked, and unlocked when the window goes.
    auto drives = std::make_shared<platform::MemoryCdDeviceSystem>();
    drives->Add(QStringLiteral("/dev/sr0"));
    drives->Add(QStringLiteral("/dev/sr1")).Refuses = true;
    drives->Add(QStringLiteral("/dev/sg3"), false).PeripheralType = 5;
    WithDrives(drives, std::nullopt);
    window = std::make_unique<TFormViewer>();
    EXPECT_TRUE(drives->At("/dev/sr0").Locked);
    EXPECT_TRUE(drives->At("/dev/sg3").Locked);
    EXPECT_FALSE(drives->At("/dev/sr1").Locked);
    window.reset();
    EXPECT_FALSE(drives->At("/dev/sr0").Locked);
    EXPECT_FALSE(drives->At("/dev/sg3").Locked);
    EXPECT_EQ(drives->At("/dev/sr0").OpenHandles, 0);
    EXPECT_TRUE(shell.messages.empty());
    const QString log = TodaysLog();
    EXPECT_EQ(log.count(QStringLiteral(": verrouillé")), 2) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral(": verrouillage refusé")), 1);
    EXPECT_EQ(log.count(QStringLiteral(": déverrouillé")), 2);

    // "CDLocking" = 0: nothing is sent, not even INQUIRY.
    auto untouched = std::make_shared<platform::MemoryCdDeviceSystem>();
    untouched->Add(QStringLiteral("/dev/sr0"));
    WithDrives(untouched, 0);
    window = std::make_unique<TFormViewer>();
    window.reset();
    EXPECT_TRUE(untouched->At("/dev/sr0").Commands.isEmpty());
    EXPECT_EQ(untouched->At("/dev/sr0").OpenHandles, 0);

    // Any other value locks.
    auto on = std::make_shared<platform::MemoryCdDeviceSystem>();
    on->Add(QStringLiteral("/dev/sr0"));
    WithDrives(on, 2);
    window = std::make_unique<TFormViewer>();
    EXPECT_TRUE(on->At("/dev/sr0").Locked);
    // Switched off while the window runs: what was locked is unlocked all the same.
    shell.SetMachine(QStringLiteral("CDLocking"), 0);
    window.reset();
    EXPECT_FALSE(on->At("/dev/sr0").Locked);
}
