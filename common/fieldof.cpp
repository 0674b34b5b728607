#include "common/fieldof.h"

namespace common {

QStringList Fields(const QString &text, QChar separator)
{
    return text.split(separator, Qt::KeepEmptyParts);
}

QString FieldOf(const QString &text, QChar separator, int n)
{
    if (n < 1)
        return QString();
    qsizetype start = 0;
    for (int field = 1; field < n; ++field) {
        const qsizetype at = text.indexOf(separator, start);
        if (at < 0)
            return QString();
        start = at + 1;
    }
    const qsizetype end = text.indexOf(separator, start);
    return text.mid(start, end < 0 ? -1 : end - start);
}

} // namespace common
