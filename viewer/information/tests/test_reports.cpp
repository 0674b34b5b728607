#include "testsupport/fifoguard.h"
#include "viewer/information/infofields.h"
#include "viewer/information/reports.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace information;

namespace {

TEST(Reports, NineFieldsGiveOneReport)
{
    const auto reports = ParseReports(QStringLiteral("x|A|OUI|B|C|D|E|Text|"));
    ASSERT_EQ(reports.size(), 1u);
    const TRapports &r = reports[0];
    EXPECT_EQ(ReportItemText(r), QStringLiteral("B A C"));
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(ReportMemoText(r), QStringLiteral("E, D\n\nText"));
}

TEST(Reports, StatusFollowsTextAndMark)
{
    // Fields are trimmed; "OUI" counts in upper case only; an empty seventh field has
    // no text, whatever the mark; the list stops at the first empty list text.
    const QString text = QStringLiteral(
        "skip| premier | OUI ||suffixe|fin|tête| corps \r\n2e ligne |"
        "second|oui|||||texte|"
        "troisième|OUI|p||||  |"
        " |NON|||||ignoré|quatrième|OUI|||||x");
    const auto reports = ParseReports(text);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].Status, 2);
    EXPECT_EQ(ReportItemText(reports[0]), QStringLiteral("premier suffixe")); // no prefix
    EXPECT_EQ(ReportMemoText(reports[0]), QStringLiteral("tête, fin\n\ncorps \n2e ligne"));
    EXPECT_EQ(reports[1].Status, 1);
    EXPECT_EQ(reports[2].Status, 0);
    EXPECT_TRUE(reports[2].ReportText.isEmpty());
    EXPECT_EQ(ReportItemText(reports[2]), QStringLiteral("p troisième"));
    EXPECT_TRUE(ReportMemoText(reports[2]).isEmpty());
}

TEST(Reports, NoReportWithoutSecondField)
{
    EXPECT_TRUE(ParseReports(QString()).empty());
    EXPECT_TRUE(ParseReports(QStringLiteral("seul")).empty());
    EXPECT_TRUE(ParseReports(QStringLiteral("a||OUI|b|c|d|e|texte")).empty());
}

TEST(Reports, FileIsWindows1252)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("CT1.RAP"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // "Résultat" and "Tomodensitométrie" in Windows-1252, and a byte (0x92, a right
    // quote) that Latin-1 would not give.
    file.write("K|Tomodensitom\xE9trie|OUI|||t|h|R\xE9sultat l\x92image|");
    file.close();
    const auto reports = ParseReports(ReadReportsFile(file.fileName()));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].ListText, QStringLiteral("Tomodensitométrie"));
    EXPECT_EQ(reports[0].ReportText, QStringLiteral("Résultat l\u2019image"));
    EXPECT_TRUE(ReadReportsFile(dir.filePath("absent.RAP")).isEmpty());
    // A FIFO in its place is not waited on.
    testsupport::FifoGuard fifo;
    ASSERT_TRUE(fifo.Make(dir.filePath("CT2.RAP")));
    fifo.Start();
    EXPECT_TRUE(ReadReportsFile(dir.filePath("CT2.RAP")).isEmpty());
    EXPECT_FALSE(fifo.Fired());
}

TEST(InfoFields, SizeAndWeight)
{
    EXPECT_EQ(SizeWeightText(QString(), QStringLiteral("70")), QStringLiteral("70"));
    EXPECT_EQ(SizeWeightText(QStringLiteral("1.75"), QStringLiteral("70")), QStringLiteral("1.75 / 70"));
    EXPECT_EQ(SizeWeightText(QStringLiteral("1.75"), QString()), QStringLiteral("1.75 / "));
    EXPECT_EQ(SizeWeightText(QString(), QString()), QString());
}

TEST(InfoFields, FieldStrengthAndMachine)
{
    EXPECT_EQ(FieldStrengthPrefix(QStringLiteral("15000")), QStringLiteral("1.5T "));
    EXPECT_EQ(FieldStrengthPrefix(QStringLiteral("1.5")), QStringLiteral("0.0T "));
    EXPECT_EQ(FieldStrengthPrefix(QStringLiteral("30000")), QStringLiteral("3.0T "));
    EXPECT_EQ(FieldStrengthPrefix(QString()), QString());
    EXPECT_EQ(FieldStrengthPrefix(QStringLiteral("fort")), QString());
    EXPECT_EQ(MachineText(QStringLiteral("Fabricant"), QStringLiteral("Modèle"), QStringLiteral("Poste")),
              QStringLiteral("Fabricant Modèle"));
    EXPECT_EQ(MachineText(QString(), QString(), QStringLiteral("Poste")), QStringLiteral("Poste"));
    EXPECT_EQ(FieldStrengthPrefix(QStringLiteral("15000")) + MachineText(QStringLiteral("F"), QString(), QString()),
              QStringLiteral("1.5T F "));
}

TEST(InfoFields, AccessionFromTheCornerText)
{
    EXPECT_EQ(AccessionOf(QStringLiteral("Clinique\rAcc: CT20261109001\rIm: 1/20")), QStringLiteral("CT20261109001"));
    EXPECT_EQ(AccessionOf(QStringLiteral("Clinique\rIm: 1/20")), QString());
}

} // namespace
