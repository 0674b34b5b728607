#include "platform/screeninfo.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace platform {

int QtScreenInfo::MonitorCount() const
{
    return std::max<int>(1, QGuiApplication::screens().size());
}

QSize QtScreenInfo::DesktopSize() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

int QtScreenInfo::TaskBarHeight() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 0;
    return std::max(0, screen->geometry().height() - screen->availableGeometry().height());
}

} // namespace platform
