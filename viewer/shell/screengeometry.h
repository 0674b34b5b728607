#pragma once

#include <QMargins>
#include <QRect>

namespace platform {
class ScreenInfo;
}

// Window placement over monitors taken as equal and side by side.
// `monitorsSetting` is the machine-wide "Monitors" value (0 when missing).
namespace shell {

// Monitor count used for placement: the setting, or the system's count when
// the setting is 0 or below it.
int PlacementMonitorCount(const platform::ScreenInfo &screens, int monitorsSetting);
// Height of the desktop minus the task bar.
int WorkAreaHeight(const platform::ScreenInfo &screens);
// One monitor's width when the setting exceeds the system's count, else that
// count (or the larger setting) times the monitor width.
int DesktopWidth(const platform::ScreenInfo &screens, int monitorsSetting);
// Left edge that centres a window of `width` on monitor `monitor` (1-based;
// 0 means the last one).
int MonitorLeft(const platform::ScreenInfo &screens, int monitorsSetting, int width, int monitor);

// The client rectangle of a window whose whole frame (title bar and borders, `frame`
// being their thickness on each side) fills `area`: the frame's top-left at the area's,
// nothing below or right of it. An empty rectangle never comes out (1 x 1 at least).
QRect FittedClientRect(const QRect &area, const QMargins &frame);

// Rounds half to even, as the geometry rules expect.
int RoundHalfEven(double value);

} // namespace shell
