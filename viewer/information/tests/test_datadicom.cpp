// The "Data DICOM" page: value rules, sequences unfolded, search, row keys, row heights
// of multi-line cells, the export; the listing checked against pydicom's reading of
// nested files.
#include "common/cp1252.h"
#include "viewer/information/datadicom.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <QTest>

#include <gtest/gtest.h>

using namespace information;

namespace {

const QString kPydicomFiles = QStringLiteral(KORVANE_PYDICOM_FILES);

imaging::DicomDataSetPtr Item(std::initializer_list<std::pair<int, QVariant>> elements, int group = 0x0008)
{
    auto item = imaging::CreateDataSet();
    for (const auto &[element, value] : elements)
        item->Attributes()->Add(group, element, value);
    return item;
}

QVariant Sequence(std::initializer_list<imaging::DicomDataSetPtr> items)
{
    auto sets = imaging::CreateDataSets();
    for (const auto &item : items)
        sets->Add(item);
    return QVariant::fromValue(sets);
}

class DataDicomTest : public ::testing::Test
{
protected:
    void SetUp() override { shell.Create(); }

    // A small data set with every kind of value.
    imaging::DicomDataSetPtr Sample()
    {
        auto ds = imaging::CreateDataSet();
        auto a = ds->Attributes();
        a->Add(0x0008, 0x0060, QStringLiteral("CT"));
        a->Add(0x0008, 0x1030, QStringLiteral("ct abdomen"));
        a->Add(0x0008, 0x1140,
               Sequence({Item({{0x1150, QStringLiteral("1.2.3")}, {0x1155, QStringLiteral("1.2.3.1")}}),
                         Item({{0x1150, QStringLiteral("1.2.4")}, {0x1155, QStringLiteral("1.2.4.1")}})}));
        a->Add(0x0008, 0x1115, Sequence({}));
        a->Add(0x0010, 0x0010, QVariant());
        a->Add(0x0018, 0x0022, QVariantList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
        a->Add(0x0020, 0x4000, QStringLiteral("première ligne\r\nseconde ligne"));
        a->Add(0x7FE0, 0x0010, QByteArray(64, '\x01'), QStringLiteral("OW"));
        return ds;
    }

    ShellFixture shell;
};

TEST_F(DataDicomTest, RowsOfSequencesAndValues)
{
    const auto rows = RowsOf(Sample()->Attributes()->Listing());
    ASSERT_EQ(rows.size(), 12u);
    auto cells = [&rows](std::size_t r) {
        QStringList c;
        for (int i = 0; i < 5; ++i)
            c << CellText(rows[r], i);
        return c;
    };
    EXPECT_EQ(cells(0), (QStringList{"0008", "0060", "CS", "Modality", "CT"}));
    // An empty sequence adds no row.
    EXPECT_EQ(cells(2).mid(1), (QStringList{"1115", "SQ", "ReferencedSeriesSequence", "Sequence of 0 items"}));
    // A sequence of two items of two attributes: five rows.
    EXPECT_EQ(cells(3), (QStringList{"0008", "1140", "SQ", "ReferencedImageSequence", "Sequence of 2 items"}));
    EXPECT_EQ(cells(4).mid(0, 3), (QStringList{"0008", "1150", "UI (1)"}));
    EXPECT_EQ(cells(5).mid(2), (QStringList{"UI (1)", "ReferencedSOPInstanceUID", "1.2.3.1"}));
    EXPECT_EQ(cells(6).mid(2, 1), QStringList{"UI (2)"});
    EXPECT_EQ(cells(7)[4], QStringLiteral("1.2.4.1"));
    EXPECT_EQ(cells(8).mid(0, 2), (QStringList{"0010", "0010"}));
    // An empty value reads Null; several values one per line; pixel data empty.
    EXPECT_EQ(cells(8)[4], QStringLiteral("Null"));
    EXPECT_EQ(cells(9)[4], QStringLiteral("1\r2\r3\r"));
    EXPECT_EQ(cells(11).mid(0, 3), (QStringList{"7FE0", "0010", "OW"}));
    EXPECT_EQ(cells(11)[4], QString());
}

TEST_F(DataDicomTest, ExportLines)
{
    const auto rows = RowsOf(Sample()->Attributes()->Listing());
    const QStringList lines = ExportLines(rows);
    const QString blanks(23, QLatin1Char(' '));
    EXPECT_EQ(lines[0], QStringLiteral("0008  0060  CS         Modality"));
    EXPECT_EQ(lines[1], blanks + QStringLiteral("CT"));
    const qsizetype sequence = lines.indexOf(QStringLiteral("0008  1140  SQ         ReferencedImageSequence"));
    ASSERT_GE(sequence, 0);
    EXPECT_EQ(lines[sequence + 1], blanks + QStringLiteral("Sequence of 2 items"));
    EXPECT_EQ(lines[sequence + 2], QStringLiteral("0008  1150  UI (1)     ReferencedSOPClassUID"));
    // Three values: the row's line, then one line each.
    const qsizetype options = lines.indexOf(QStringLiteral("0018  0022  CS         ScanOptions"));
    ASSERT_GE(options, 0);
    EXPECT_EQ(lines.mid(options + 1, 3), (QStringList{blanks + "1", blanks + "2", blanks + "3"}));
    // A text with one line break: both lines. Pixel data: no value line.
    const qsizetype comments = lines.indexOf(QStringLiteral("0020  4000  LT         ImageComments"));
    ASSERT_GE(comments, 0);
    EXPECT_EQ(lines.mid(comments + 1, 2), (QStringList{blanks + "première ligne", blanks + "seconde ligne"}));
    EXPECT_EQ(lines.last(), QStringLiteral("7FE0  0010  OW         PixelData"));
    // CR LF ends, Windows-1252.
    const QByteArray bytes = ExportBytes(lines);
    EXPECT_TRUE(bytes.startsWith("0008  0060  CS         Modality\r\n" + QByteArray(23, ' ') + "CT\r\n"));
    EXPECT_TRUE(bytes.contains("premi\xE8re ligne\r\n"));
    EXPECT_TRUE(bytes.endsWith("PixelData\r\n"));
}

TEST_F(DataDicomTest, ItemNumbersBeyondNineCharactersAreCutInTheExportOnly)
{
    auto sets = imaging::CreateDataSets();
    for (int i = 1; i <= 10000; ++i) {
        auto item = sets->AddNew();
        item->Attributes()->Add(0x0008, 0x0060, QStringLiteral("MR"));
    }
    auto ds = imaging::CreateDataSet();
    ds->Attributes()->Add(0x0008, 0x1140, QVariant::fromValue(sets));
    const auto rows = RowsOf(ds->Attributes()->Listing());
    ASSERT_EQ(rows.size(), 10001u);
    EXPECT_EQ(rows[9999].vr, QStringLiteral("CS (9999)"));
    EXPECT_EQ(rows[10000].vr, QStringLiteral("CS (10000)"));
    const QStringList lines = ExportLines(rows);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("0008  0060  CS (10000  Modality"));
    EXPECT_EQ(lines[lines.size() - 4], QStringLiteral("0008  0060  CS (9999)  Modality"));
}

TEST_F(DataDicomTest, TheDefaultWalkAgreesWithTheComponentsOwn)
{
    // A collection that only forwards the basic members walks through the interface.
    class Forwarding final : public imaging::DicomAttributes
    {
    public:
        explicit Forwarding(imaging::DicomAttributesPtr inner) : inner_(std::move(inner)) {}
        const char *ClassName() const override { return kClassName; }
        int Count() const override { return inner_->Count(); }
        imaging::DicomAttributePtr Item(int g, int e) const override { return inner_->Item(g, e); }
        imaging::DicomAttributePtr ItemByIndex(int i) const override { return inner_->ItemByIndex(i); }
        imaging::DicomAttributePtr Add(int g, int e, const QVariant &v, const QString &vr) override
        {
            return inner_->Add(g, e, v, vr);
        }
        bool Remove(int g, int e) override { return inner_->Remove(g, e); }

    private:
        imaging::DicomAttributesPtr inner_;
    };
    for (const char *name : {"rtstruct.dcm", "test-SR.dcm"}) {
        const auto image = imaging::CreateImages()->ReadFile(kPydicomFiles + QLatin1Char('/') + QLatin1String(name));
        const auto own = RowsOf(image->Attributes()->Listing());
        const auto walked = RowsOf(Forwarding(image->Attributes()).Listing());
        ASSERT_EQ(own.size(), walked.size()) << name;
        ASSERT_GT(own.size(), 50u);
        for (std::size_t r = 0; r < own.size(); ++r)
            for (int c = 0; c < 5; ++c)
                ASSERT_EQ(CellText(own[r], c), CellText(walked[r], c)) << name << " row " << r << " column " << c;
    }
}

// Every row of the page against pydicom's listing of the same file.
void CompareWithPydicom(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(KORVANE_SOURCE_DIR "/viewer/information/tests/dataset_rows.py"), path});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QList<QByteArray> expected = python.readAllStandardOutput().trimmed().split('\n');
    const auto rows = RowsOf(imaging::CreateImages()->ReadFile(path)->Attributes()->Listing());
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(expected.size())) << path.toStdString();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const QJsonObject want = QJsonDocument::fromJson(expected[static_cast<qsizetype>(r)]).object();
        const DataRow &row = rows[r];
        const std::string where = path.toStdString() + " row " + std::to_string(r + 1);
        ASSERT_EQ(row.group, want["group"].toInt()) << where;
        ASSERT_EQ(row.element, want["element"].toInt()) << where;
        const int item = want["item"].toInt();
        const QString vr = want["vr"].toString();
        EXPECT_EQ(row.vr, item > 0 ? vr + QStringLiteral(" (%1)").arg(item) : vr) << where;
        QStringList values;
        for (const auto &v : want["values"].toArray())
            values << v.toString();
        // Several values end each with a carriage return; one text value may hold line
        // breaks of its own.
        QStringList shown;
        if (values.size() == 1)
            shown << row.value;
        else if (!row.value.isEmpty())
            shown = row.value.split(QLatin1Char('\r'));
        if (values.size() != 1 && row.value.endsWith(QLatin1Char('\r')))
            shown.removeLast();
        ASSERT_EQ(shown.size(), values.size()) << where << " " << row.value.toStdString();
        for (qsizetype i = 0; i < values.size(); ++i) {
            // Numbers written as text show the file's own text ("0.000000", "1.000000e+00").
            if (vr == QLatin1String("DS") || vr == QLatin1String("IS")) {
                EXPECT_EQ(shown[i], values[i].trimmed()) << where;
                continue;
            }
            bool a = false, b = false;
            const double x = shown[i].toDouble(&a), y = values[i].toDouble(&b);
            if (a && b)
                EXPECT_NEAR(x, y, 1e-6 * std::max(1.0, std::abs(y))) << where;
            else
                EXPECT_EQ(shown[i].trimmed(), values[i].trimmed()) << where;
        }
    }
}

TEST_F(DataDicomTest, NestedFilesAgreeWithPydicom)
{
    // Nested sequences, and pixel data of both value representations.
    for (const char *name :
         {"rtplan.dcm", "rtstruct.dcm", "test-SR.dcm", "CT_small.dcm", "JPEG2000.dcm", "liver_1frame.dcm", "MR_small.dcm"})
        CompareWithPydicom(kPydicomFiles + QLatin1Char('/') + QLatin1String(name));
}

TEST_F(DataDicomTest, CharacterSetsOnThePageAndInTheExport)
{
    const QString charsets = kPydicomFiles + QStringLiteral("/../charset_files/");
    // Latin-1 accents: the export stays Windows-1252.
    auto fren = RowsOf(imaging::CreateImages()->ReadFile(charsets + "chrFren.dcm")->Attributes()->Listing());
    auto name = std::find_if(fren.begin(), fren.end(), [](const DataRow &r) { return r.group == 0x10 && r.element == 0x10; });
    ASSERT_NE(name, fren.end());
    EXPECT_EQ(name->value, QStringLiteral("Buc^Jérôme"));
    EXPECT_TRUE(ExportBytes(ExportLines(fren)).contains("Buc^J\xE9r\xF4me\r\n"));
    // A multi-byte set (ISO_IR 192, Chinese ideographs): shown whole; the export keeps it
    // in UTF-8.
    auto cjk = RowsOf(imaging::CreateImages()->ReadFile(charsets + "chrX1.dcm")->Attributes()->Listing());
    name = std::find_if(cjk.begin(), cjk.end(), [](const DataRow &r) { return r.group == 0x10 && r.element == 0x10; });
    ASSERT_NE(name, cjk.end());
    EXPECT_EQ(name->value, QStringLiteral("Wang^XiaoDong=王^小東="));
    const QByteArray bytes = ExportBytes(ExportLines(cjk));
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(QString::fromUtf8(bytes).contains(QStringLiteral("王^小東")));
}

class DataDicomPageTest : public DataDicomTest
{
protected:
    void Show()
    {
        page.resize(700, 500);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
        page.Fill(*Sample()->Attributes());
        page.LayoutColumns();
    }
    int Row(int group, int element) const
    {
        const auto &rows = page.Model()->Rows();
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (rows[r].group == group && rows[r].element == element)
                return static_cast<int>(r) + 1;
        return 0;
    }
    TDataDicomPage page;
};

TEST_F(DataDicomPageTest, SearchTypedInLowerCase)
{
    Show();
    EXPECT_EQ(page.Model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Eléments"));
    EXPECT_EQ(page.CurrentRow(), 1);
    page.SearchField()->setFocus();
    QTest::keyClicks(page.SearchField(), QStringLiteral("ct"));
    EXPECT_EQ(page.SearchField()->text(), QStringLiteral("CT"));
    // From row 1 the search starts one row down: "ct abdomen" is found, then from there
    // nothing further down matches (no wrapping): the message and row 1.
    page.Search();
    EXPECT_EQ(page.CurrentRow(), Row(0x0008, 0x1030));
    EXPECT_TRUE(shell.messages.empty());
    page.Search();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Le texte recherché n'a pas été trouvé."));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtInformation);
    EXPECT_EQ(page.CurrentRow(), 1);
    // From the last row the search scans from row 1, which holds "CT".
    page.SetCurrentRow(page.RowCount());
    page.Search();
    EXPECT_EQ(page.CurrentRow(), 1);
    EXPECT_EQ(shell.messages.size(), 1u);
}

TEST_F(DataDicomPageTest, RowKeysAndColumns)
{
    Show();
    page.RowUp();
    EXPECT_EQ(page.CurrentRow(), 1);
    page.RowDown();
    page.RowDown();
    EXPECT_EQ(page.CurrentRow(), 3);
    page.SetCurrentRow(page.RowCount());
    page.RowDown();
    EXPECT_EQ(page.CurrentRow(), page.RowCount());
    QTableView *grid = page.Grid();
    EXPECT_EQ(grid->columnWidth(0), 75);
    EXPECT_EQ(grid->columnWidth(2), 55);
    EXPECT_EQ(grid->columnWidth(3), (grid->viewport()->width() - 205) / 2);
    EXPECT_EQ(grid->columnWidth(4), grid->columnWidth(3));
}

TEST_F(DataDicomPageTest, MultiLineRowsTakeTheirHeightWhenDrawn)
{
    Show();
    const int h = QFontMetrics(page.Grid()->font()).height();
    const int values = Row(0x0018, 0x0022) - 1;
    const int text = Row(0x0020, 0x4000) - 1;
    page.Grid()->scrollTo(page.Model()->index(text, 4));
    // Three values: three lines high; one line break: one line high (its first line).
    // (The row also holds the grid line below its lines.)
    QTRY_COMPARE(page.Grid()->rowHeight(values), 3 * h + 1);
    QTRY_COMPARE(page.Grid()->rowHeight(text), h + 1);
    EXPECT_EQ(page.Grid()->rowHeight(0), 24);
    // Once sized, drawing again changes nothing: no endless resizing.
    page.Grid()->viewport()->repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(page.Grid()->rowHeight(values), 3 * h + 1);
    int resizes = 0;
    QObject::connect(page.Grid()->verticalHeader(), &QHeaderView::sectionResized, &page, [&resizes]() { ++resizes; });
    for (int i = 0; i < 3; ++i) {
        page.Grid()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(resizes, 0);
}

TEST_F(DataDicomPageTest, TheRowFoundIsWhollyInViewAmongRowsOfSeveralLines)
{
    // A real file whose listing has rows of several values above the row found.
    page.resize(700, 500);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    const auto image = imaging::CreateImages()->ReadFile(kPydicomFiles + QStringLiteral("/liver_1frame.dcm"));
    page.Fill(*image->Attributes());
    QTableView *grid = page.Grid();
    const int h = QFontMetrics(grid->font()).height();
    page.SearchField()->setText(QStringLiteral("PLANEPOSITION"));
    page.Search();
    const int found = page.CurrentRow();
    ASSERT_GT(found, 1);
    const QModelIndex index = page.Model()->index(found - 1, 0);
    EXPECT_TRUE(CellMatches(CellText(page.Model()->Rows()[static_cast<std::size_t>(found - 1)], 3),
                            page.SearchField()->text())
                || CellMatches(CellText(page.Model()->Rows()[static_cast<std::size_t>(found - 1)], 4),
                               page.SearchField()->text()));
    int tall = 0;
    for (int r = 0; r < found - 1; ++r)
        tall += grid->rowHeight(r) > 2 * h ? 1 : 0;
    EXPECT_GT(tall, 0) << "rows of several lines lie above the row found";
    // Drawn as often as it takes for every row on screen to get its height.
    for (int i = 0; i < 5; ++i) {
        grid->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    const QRect shown = grid->visualRect(index);
    EXPECT_TRUE(grid->viewport()->rect().contains(shown))
        << "row " << found << " at y " << shown.top() << ".." << shown.bottom() << ", view height "
        << grid->viewport()->height();
}

TEST_F(DataDicomPageTest, TheWheelOverTheGridMovesTheCurrentRow)
{
    Show();
    QTableView *grid = page.Grid();
    auto wheel = [](QWidget *w, int delta) {
        const QPointF p(w->width() / 2.0, w->height() / 2.0);
        QWheelEvent event(p, w->mapToGlobal(p), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &event);
    };
    ASSERT_EQ(page.CurrentRow(), 1);
    wheel(grid->viewport(), -120); // towards the user: the next row
    EXPECT_EQ(page.CurrentRow(), 2);
    wheel(grid->viewport(), -120);
    EXPECT_EQ(page.CurrentRow(), 3);
    wheel(grid->viewport(), 120);
    EXPECT_EQ(page.CurrentRow(), 2);
    // Over the grid's own scroll bar as well.
    grid->verticalScrollBar()->show();
    wheel(grid->verticalScrollBar(), -120);
    EXPECT_EQ(page.CurrentRow(), 3);
    // Never above row 1 nor below the last.
    for (int i = 0; i < 5; ++i)
        wheel(grid->viewport(), 120);
    EXPECT_EQ(page.CurrentRow(), 1);
    for (int i = 0; i < page.RowCount() + 3; ++i)
        wheel(grid->viewport(), -120);
    EXPECT_EQ(page.CurrentRow(), page.RowCount());
    EXPECT_TRUE(grid->viewport()->rect().contains(grid->visualRect(page.Model()->index(page.RowCount() - 1, 0))));
}

TEST_F(DataDicomPageTest, ExportWritesTheFileAndSaysWhere)
{
    Show();
    QTemporaryDir out;
    page.ExportFolderFunction = [&out]() { return out.path() + QLatin1Char('/'); };
    page.Export(QStringLiteral("1.2.3.4"));
    const QString path = out.filePath(QStringLiteral("1.2.3.4.dmp"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), ExportBytes(ExportLines(page.Model()->Rows())));
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Voir le fichier suivant:\r") + QDir::toNativeSeparators(path));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtInformation);
}

TEST_F(DataDicomPageTest, AnInstanceUidHoldingAPathWritesInsideTheFolder)
{
    Show();
    QTemporaryDir out;
    const QString folder = out.filePath(QStringLiteral("export"));
    ASSERT_TRUE(QDir().mkpath(folder));
    page.ExportFolderFunction = [&folder]() { return folder + QLatin1Char('/'); };
    page.Export(QStringLiteral("../../escaped/1.2"));
    const QStringList written = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(written.size(), 1);
    EXPECT_TRUE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) == QStringList{"export"});
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text,
              QStringLiteral("Voir le fichier suivant:\r") + QDir::toNativeSeparators(folder + "/" + written[0]));
}

TEST_F(DataDicomPageTest, AnExportThatCannotBeWrittenSaysSoAndLeavesNothing)
{
    Show();
    // A folder below a regular file cannot be written by anyone, root included (the tests may run as root).
    QTemporaryDir out;
    const QString blocker = out.filePath(QStringLiteral("pas-un-dossier"));
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    const QString folder = blocker + QStringLiteral("/export");
    page.ExportFolderFunction = [&folder]() { return folder + QLatin1Char('/'); };
    page.Export(QStringLiteral("9.8.7"));
    EXPECT_EQ(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("pas-un-dossier")});
    EXPECT_EQ(QFileInfo(blocker).size(), 1);
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Impossible d'écrire le fichier suivant:\r")
                                          + QDir::toNativeSeparators(folder + QStringLiteral("/9.8.7.dmp")));
}

TEST(ExportFolder, TheHomeFolderWhateverTheProgramFolder)
{
    EXPECT_EQ(ExportFolder(QStringLiteral("/home/lecteur")), QStringLiteral("/home/lecteur/"));
    EXPECT_EQ(ExportFolder(QStringLiteral("/home/lecteur/")), QStringLiteral("/home/lecteur/"));
}

TEST(ExportFolder, TheFileNameNeverLeavesTheFolder)
{
    EXPECT_EQ(ExportFileName(QStringLiteral("1.2.840.10008.1")), QStringLiteral("1.2.840.10008.1.dmp"));
    const QStringList hostile{"../../etc/cron.d/x", "1.2/../../x", "/etc/passwd", "..", ".", "", "1..2", ".hidden",
                              "1.2.", "a\\b", "1.2\n3", QString::fromUtf8("1.2\xc3\xa9")};
    for (const QString &uid : hostile) {
        const QString name = ExportFileName(uid);
        EXPECT_FALSE(name.contains('/')) << uid.toStdString() << " -> " << name.toStdString();
        EXPECT_FALSE(name.contains('\\')) << uid.toStdString() << " -> " << name.toStdString();
        EXPECT_FALSE(name.contains("..")) << uid.toStdString() << " -> " << name.toStdString();
        EXPECT_FALSE(name.startsWith('.')) << uid.toStdString() << " -> " << name.toStdString();
        EXPECT_TRUE(name.endsWith(".dmp")) << name.toStdString();
        EXPECT_GT(name.size(), 4);
    }
}

} // namespace
