#include "transfer/core/requestfile.h"

#include "common/cp1252.h"
#include "transfer/core/transfersettings.h"

namespace strandel {

QString RequestStamp(const QDateTime &moment)
{
    return moment.date().toString(kShortDateFormat) + u' ' + moment.time().toString(QStringLiteral("HHmmss"));
}

QString RequestFileName(const QString &fichierZip, const QString &stamp)
{
    return fichierZip + u'[' + stamp + QStringLiteral("].req");
}

QByteArray RequestFileBytes(const RequestContent &r)
{
    QByteArray out;
    for (const QString &line :
         {r.fichierZip, r.stamp, r.accession, r.quality, r.birthDate, r.version, r.report}) {
        QString clean = line;
        clean.replace(u'\r', u' ');
        clean.replace(u'\n', u' ');
        out += common::toCp1252(clean);
        out += "\r\n";
    }
    return out;
}

QString AnswerFileName(const QString &requestName, const QString &suffix)
{
    const qsizetype at = requestName.indexOf(QLatin1String(".REQ"), 0, Qt::CaseInsensitive);
    return (at < 0 ? requestName : requestName.left(at)) + suffix;
}

QString WaitClock(int seconds)
{
    return QStringLiteral("%1:%2")
        .arg(seconds / 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

bool IsCheckTick(int counter, int delay)
{
    return counter == 1 || counter % delay == 0;
}

} // namespace strandel
