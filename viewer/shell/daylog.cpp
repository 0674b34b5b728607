#include "viewer/shell/daylog.h"

#include "common/cp1252.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex &LogLock()
{
    static QMutex lock;
    return lock;
}
} // namespace

TDayLog::TDayLog(QString folder, Switch enabled, Clock clock)
    : folder_(std::move(folder)), enabled_(std::move(enabled)), clock_(std::move(clock))
{
}

QString TDayLog::FileName(const QDateTime &when) const
{
    return QDir(folder_).filePath(QStringLiteral("KorvaneCD%1.log").arg(when.toString(QStringLiteral("yyyyMMdd"))));
}

void TDayLog::Write(const QString &text) const
{
    if (!enabled_ || !enabled_())
        return;
    const QDateTime now = clock_();
    const QByteArray line =
        common::toCp1252(now.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(": ") + text +
                         QStringLiteral("\r\n"));

    QMutexLocker locker(&LogLock());
    // The folder is ours to create; when it cannot be, there is no log and no message.
    if (!QDir().mkpath(folder_))
        return;
    QFile file(FileName(now));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return;
    file.write(line);
    file.close();
}
