#pragma once

#include <QSize>

namespace platform {

// What window placement needs to know about the screens.
class ScreenInfo
{
public:
    virtual ~ScreenInfo() = default;
    // Number of monitors attached (at least 1).
    virtual int MonitorCount() const = 0;
    // Size of the primary monitor (the desktop window).
    virtual QSize DesktopSize() const = 0;
    // Height taken by the task bar / panels on the primary monitor.
    virtual int TaskBarHeight() const = 0;
};

// The screens Qt reports.
class QtScreenInfo : public ScreenInfo
{
public:
    int MonitorCount() const override;
    QSize DesktopSize() const override;
    int TaskBarHeight() const override;
};

// Fixed values, for tests.
class FixedScreenInfo : public ScreenInfo
{
public:
    FixedScreenInfo(int monitors, QSize desktop, int taskBar = 0)
        : monitors_(monitors), desktop_(desktop), taskBar_(taskBar) {}
    int MonitorCount() const override { return monitors_; }
    QSize DesktopSize() const override { return desktop_; }
    int TaskBarHeight() const override { return taskBar_; }

private:
    int monitors_;
    QSize desktop_;
    int taskBar_;
};

} // namespace platform
