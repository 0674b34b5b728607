#include "viewer/information/reports.h"

#include "common/cp1252.h"
#include "common/fieldof.h"
#include "common/regularfile.h"

#include <QFile>

namespace information {

std::vector<TRapports> ParseReports(const QString &text)
{
    // Cut once: the records are taken field by field as FieldOf would give them.
    const QStringList fields = common::Fields(text, QLatin1Char('|'));
    auto field = [&fields](qsizetype n) { return n >= 1 && n <= fields.size() ? fields[n - 1].trimmed() : QString(); };
    std::vector<TRapports> reports;
    for (qsizetype k = 0;; ++k) {
        const qsizetype first = 7 * k + 2;
        TRapports report;
        report.ListText = field(first);
        if (report.ListText.isEmpty())
            break;
        report.Mark = field(first + 1);
        report.ListPrefix = field(first + 2);
        report.ListSuffix = field(first + 3);
        report.HeadingTail = field(first + 4);
        report.HeadingHead = field(first + 5);
        const QString body = field(first + 6);
        if (!body.isEmpty()) {
            report.Status = report.Mark == QLatin1String("OUI") ? 2 : 1;
            report.ReportText = body;
        }
        reports.push_back(std::move(report));
    }
    return reports;
}

QString ReportItemText(const TRapports &report)
{
    if (!report.ListPrefix.isEmpty())
        return (report.ListPrefix + QLatin1Char(' ') + report.ListText + QLatin1Char(' ') + report.ListSuffix).trimmed();
    return (report.ListText + QLatin1Char(' ') + report.ListSuffix).trimmed();
}

QString ReportMemoText(const TRapports &report)
{
    const QString body = report.ReportText.trimmed();
    if (body.isEmpty())
        return QString();
    QString lines = report.HeadingHead.trimmed() + QStringLiteral(", ") + report.HeadingTail.trimmed()
                    + QStringLiteral("\n\n") + body;
    // The file's line ends (CR LF, or a lone CR) as the memo's.
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}

QString ReadReportsFile(const QString &path)
{
    // Only a regular file, and without waiting: a FIFO named like the reports would hold
    // the window for good.
    QFile file;
    if (!common::OpenRegularFile(file, path, QIODevice::ReadOnly))
        return QString();
    return common::fromCp1252(file.readAll());
}

} // namespace information
