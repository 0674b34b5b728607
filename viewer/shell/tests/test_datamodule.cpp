#include "viewer/shell/datamodule.h"
#include "viewer/shell/formpassword.h"

#include "shelltesting.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#ifdef KORVANE_HAVE_MODULE
#include "imaging/imaging.h"
#endif

#include <gtest/gtest.h>

namespace {
struct Factory
{
    int calls = 0;
    bool startupFinishedSeen = false;
    TDATA::MainWindowFactory Function()
    {
        return [this](bool startupFinished) -> QWidget * {
            ++calls;
            startupFinishedSeen = startupFinished;
            return new QWidget();
        };
    }
};
} // namespace

#ifdef KORVANE_HAVE_MODULE

TEST(DATA, CancelOnTheSplashEndsBeforeTheMainWindow)
{
    ShellFixture fixture;
    TTemplateDM &dm = fixture.Create();
    Factory factory;
    bool flagDuringSplash = true;
    TDATA data(dm, factory.Function(), [&]() {
        flagDuringSplash = DATA()->StartupFinished;
        // The real splash, answered with Escape.
        WhenModalShows([](QWidget *modal) { QTest::keyClick(modal, Qt::Key_Escape); });
        TFormPassword splash(DATA()->StartupFinished);
        return splash.ShowModal();
    });
    EXPECT_EQ(data.Create(), TDATA::Outcome::SplashCancelled);
    EXPECT_FALSE(flagDuringSplash);
    EXPECT_EQ(factory.calls, 0);
    EXPECT_EQ(data.MainWindow(), nullptr);
    EXPECT_EQ(dm.CaptionPrefix, "KorvaneCD - Quellarix");
}

TEST(DATA, NoLogoGoesStraightToTheMainWindowAndLeavesTheComponentSettingsAlone)
{
    ShellFixture fixture({"/NOLOGO"});
    TTemplateDM &dm = fixture.Create();
    Factory factory;
    bool splashShown = false;
    TDATA data(dm, factory.Function(), [&]() {
        splashShown = true;
        return int(mrOk);
    });
    EXPECT_EQ(data.Create(), TDATA::Outcome::MainWindowShown);
    EXPECT_FALSE(splashShown);
    EXPECT_EQ(factory.calls, 1);
    EXPECT_TRUE(factory.startupFinishedSeen);
    ASSERT_TRUE(data.MainWindow());
    EXPECT_TRUE(data.MainWindow()->isVisible());
    // The component keeps its own orientation letters until the About box opens.
    auto global = dm.CreateComponent<imaging::DicomGlobal>();
    EXPECT_EQ(global->DirectionStrings(), "R\\L\\A\\P\\F\\H");
    {
        TFormPassword about(true);
    }
    EXPECT_EQ(global->DirectionStrings(), "D\\G\\A\\P\\I\\S");
}

#endif

TEST(DATA, AComponentThatDoesNotLoadEndsTheStart)
{
    ShellFixture fixture({"/nologo"});
    TTemplateDM &dm = fixture.Create();
    QDir().mkpath(dm.ComponentFilePath() + "/inside");
    Factory factory;
    TDATA data(dm, factory.Function());
    EXPECT_EQ(data.Create(), TDATA::Outcome::ComponentNotLoaded);
    EXPECT_EQ(factory.calls, 0);
    ASSERT_EQ(fixture.messages.size(), 1u);
    EXPECT_EQ(fixture.messages[0].text, "Erreur de chargement DOL! Veuillez contacter Quellarix.");
}
