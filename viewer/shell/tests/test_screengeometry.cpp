#include "platform/screeninfo.h"
#include "viewer/shell/screengeometry.h"

#include "shelltesting.h"

#include <gtest/gtest.h>

using platform::FixedScreenInfo;

TEST(ScreenGeometry, MonitorsSettingAgainstTheSystemCount)
{
    const FixedScreenInfo two(2, QSize(1280, 1024), 40);
    EXPECT_EQ(shell::DesktopWidth(two, 0), 2560);
    // More monitors declared than the system has: one monitor's width.
    EXPECT_EQ(shell::DesktopWidth(two, 3), 1280);
    // Fewer declared than the system has: the system's count wins.
    EXPECT_EQ(shell::DesktopWidth(two, 1), 2560);
    EXPECT_EQ(shell::DesktopWidth(two, -4), 2560);
    EXPECT_EQ(shell::WorkAreaHeight(two), 984);
}

TEST(ScreenGeometry, MonitorLeftCentresOnTheChosenMonitor)
{
    const FixedScreenInfo two(2, QSize(1280, 1024));
    EXPECT_EQ(shell::MonitorLeft(two, 0, 400, 1), 440);
    EXPECT_EQ(shell::MonitorLeft(two, 0, 400, 2), 1720);
    // 0 names the last monitor.
    EXPECT_EQ(shell::MonitorLeft(two, 0, 400, 0), 1720);
    // "Monitors" 3 on two screens: a 1280 desktop cut in three 427-pixel slices
    // (13.5 rounds to the even 14).
    EXPECT_EQ(shell::MonitorLeft(two, 3, 400, 1), 14);
    EXPECT_EQ(shell::MonitorLeft(two, 3, 400, 0), 14 + 2 * 427);
    // A window wider than a monitor starts left of it.
    EXPECT_EQ(shell::MonitorLeft(FixedScreenInfo(1, QSize(1000, 800)), 0, 1200, 1), -100);
}

TEST(ScreenGeometry, TheWholeFrameFitsTheWorkArea)
{
    // A title bar of 22 and borders of 4 over a 1280 x 1024 area: the client starts
    // inside the frame and the frame's bottom edge is the area's.
    const QRect area(0, 0, 1280, 1024);
    const QRect client = shell::FittedClientRect(area, QMargins(4, 22, 4, 4));
    EXPECT_EQ(client, QRect(4, 22, 1272, 998));
    EXPECT_EQ(client.marginsAdded(QMargins(4, 22, 4, 4)), area);
    // No frame (no window manager): the client is the area.
    EXPECT_EQ(shell::FittedClientRect(area, QMargins()), area);
    // Nonsense margins do not grow the window past the area, nor empty it.
    EXPECT_EQ(shell::FittedClientRect(area, QMargins(-5, -5, -5, -5)), area);
    EXPECT_EQ(shell::FittedClientRect(QRect(0, 0, 10, 10), QMargins(20, 20, 20, 20)).size(), QSize(1, 1));
}

TEST(ScreenGeometry, RoundsHalvesToEven)
{
    EXPECT_EQ(shell::RoundHalfEven(2.5), 2);
    EXPECT_EQ(shell::RoundHalfEven(3.5), 4);
    EXPECT_EQ(shell::RoundHalfEven(-0.5), 0);
    EXPECT_EQ(shell::RoundHalfEven(-1.5), -2);
    EXPECT_EQ(shell::RoundHalfEven(2.4), 2);
    EXPECT_EQ(shell::RoundHalfEven(-2.6), -3);
}

TEST(ScreenGeometry, TheDataModuleReadsMonitorsFromTheMachineSettings)
{
    ShellFixture fixture({}, 2, QSize(1280, 1024), 40);
    TTemplateDM &dm = fixture.Create();
    EXPECT_EQ(dm.DesktopWidth(), 2560);
    fixture.SetMachine("Monitors", 3);
    EXPECT_EQ(dm.DesktopWidth(), 1280);
    EXPECT_EQ(dm.MonitorLeft(400, 1), 14);
    fixture.SetMachine("Monitors", 1);
    EXPECT_EQ(dm.DesktopWidth(), 2560);
    EXPECT_EQ(dm.MonitorLeft(400, 2), 1720);
    EXPECT_EQ(dm.WorkAreaHeight(), 984);
}
