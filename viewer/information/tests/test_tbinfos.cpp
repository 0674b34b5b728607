// TBInfos in the main window: opening, closing, the closing message, the automatic
// opening after loading and the closing that cine playback asks for.
#include "viewer/information/forminformations.h"
#include "viewer/window/tests/windowtesting.h"

namespace {

class TBInfosTest : public windowtest::ViewerTest
{
};

TEST_F(TBInfosTest, OpensClosesAndFollowsTheClosingMessage)
{
    OpenVisit();
    EXPECT_TRUE(window->IsBuilt(QStringLiteral("TBInfos")));
    QAction *infos = window->Action(QStringLiteral("TBInfos"));
    ASSERT_TRUE(infos->isEnabled());
    infos->trigger();
    QPointer<TFormInformations> informations = window->FormInformations();
    ASSERT_TRUE(informations);
    EXPECT_TRUE(infos->isChecked());
    EXPECT_EQ(informations->OpenedTag(), 0);
    // The second click closes it; the message frees it and raises the button.
    infos->trigger();
    QTRY_VERIFY(!informations);
    EXPECT_FALSE(infos->isChecked());
    EXPECT_EQ(window->FormInformations(), nullptr);

    // Opened by itself after loading: tag 1, button down; the window's own close box.
    window->OpenInformationsAutomatically();
    informations = window->FormInformations();
    ASSERT_TRUE(informations);
    EXPECT_EQ(informations->OpenedTag(), 1);
    EXPECT_TRUE(infos->isChecked());
    EXPECT_EQ(infos->data().toInt(), 0);
    informations->close();
    QTRY_VERIFY(!informations);
    EXPECT_FALSE(infos->isChecked());

    // Cine playback closes it through CloseInformations.
    infos->trigger();
    informations = window->FormInformations();
    ASSERT_TRUE(informations);
    window->CloseInformations();
    QTRY_VERIFY(!informations);
    EXPECT_FALSE(infos->isChecked());
}

} // namespace
