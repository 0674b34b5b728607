#include "viewer/shell/screengeometry.h"

#include "platform/screeninfo.h"

#include <algorithm>
#include <cmath>

namespace shell {

int RoundHalfEven(double value)
{
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff > 0.5)
        return int(floor) + 1;
    if (diff < 0.5)
        return int(floor);
    return std::fmod(floor, 2.0) == 0.0 ? int(floor) : int(floor) + 1;
}

QRect FittedClientRect(const QRect &area, const QMargins &frame)
{
    const QMargins m(std::max(0, frame.left()), std::max(0, frame.top()), std::max(0, frame.right()),
                     std::max(0, frame.bottom()));
    const QRect client = area.marginsRemoved(m);
    return QRect(client.topLeft(), QSize(std::max(1, client.width()), std::max(1, client.height())));
}

int PlacementMonitorCount(const platform::ScreenInfo &screens, int monitorsSetting)
{
    const int system = screens.MonitorCount();
    int m = monitorsSetting;
    if (m <= 0 || m < system)
        m = system;
    return std::max(1, m);
}

int WorkAreaHeight(const platform::ScreenInfo &screens)
{
    return screens.DesktopSize().height() - screens.TaskBarHeight();
}

int DesktopWidth(const platform::ScreenInfo &screens, int monitorsSetting)
{
    const int system = screens.MonitorCount();
    const int m = PlacementMonitorCount(screens, monitorsSetting);
    const int width = screens.DesktopSize().width();
    return m > system ? width : m * width;
}

int MonitorLeft(const platform::ScreenInfo &screens, int monitorsSetting, int width, int monitor)
{
    const int c = PlacementMonitorCount(screens, monitorsSetting);
    const int d = RoundHalfEven(double(DesktopWidth(screens, monitorsSetting)) / c);
    const int n = monitor == 0 ? c : monitor;
    return RoundHalfEven((d - width) / 2.0) + d * (n - 1);
}

} // namespace shell
