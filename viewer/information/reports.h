#pragma once
// The reports that came with a study: the file named after the accession number, cut
// into records of seven fields.

#include <QString>

#include <vector>

namespace information {

// One report of the reports page.
struct TRapports
{
    // 0: no report text; 1: text present; 2: text present and Mark is "OUI".
    int Status = 0;
    QString ListText;
    QString Mark;
    QString ListPrefix;
    QString ListSuffix;
    QString HeadingTail;
    QString HeadingHead;
    QString ReportText; // kept only when not empty
};

// The reports of a reports file's text: field 1 unused, then records of seven fields
// ("|"-separated, each trimmed), up to the first record whose list text is empty.
std::vector<TRapports> ParseReports(const QString &text);

// The text of a report's list item: prefix, list text and suffix joined by blanks
// (without the prefix when it is empty), trimmed.
QString ReportItemText(const TRapports &report);

// The memo of a selected report: heading ("head, tail"), an empty line, the trimmed
// report text; empty when the report has no text.
QString ReportMemoText(const TRapports &report);

// The whole reports file, read as Windows-1252 text. Empty when it cannot be read.
QString ReadReportsFile(const QString &path);

} // namespace information
