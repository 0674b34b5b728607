#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

// The day's trace file for support: "KorvaneCD<yyyymmdd>.log" in a fixed
// folder, one line per call while the switch is on. The switch is asked at
// every line, so turning it on or off takes effect at once. The file is
// opened, appended to and closed at every line so that it survives a crash.
// Lines from several threads stay whole and apart: a process-wide lock
// serialises the writers and each line goes out in a single append.
class TDayLog
{
public:
    using Switch = std::function<bool()>;
    using Clock = std::function<QDateTime()>;

    TDayLog(QString folder, Switch enabled, Clock clock = &QDateTime::currentDateTime);

    void Write(const QString &text) const;

    // Path of the file for the day of `when`.
    QString FileName(const QDateTime &when) const;

private:
    QString folder_;
    Switch enabled_;
    Clock clock_;
};
