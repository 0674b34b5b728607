#include "viewer/information/infofields.h"

#include "viewer/loading/visitdata.h"

#include <cmath>

namespace information {

QString SizeWeightText(const QString &size, const QString &weight)
{
    return size + (size.isEmpty() ? QString() : QStringLiteral(" / ")) + weight;
}

QString FieldStrengthPrefix(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (text.trimmed().isEmpty() || !ok || !std::isfinite(value))
        return QString();
    return QString::asprintf("%.1f", value / 10000.0) + QStringLiteral("T ");
}

QString MachineText(const QString &manufacturer, const QString &model, const QString &station)
{
    QString m = manufacturer.isEmpty() ? QString() : manufacturer + QLatin1Char(' ');
    return m + (model.isEmpty() ? station : model);
}

QString AccessionOf(const QString &topRightText)
{
    return loading::TextLine(QStringLiteral("Acc:"), topRightText).mid(5);
}

} // namespace information
