// The information window on the demo visit (its comment, its reports file), the value
// rules on altered attributes, the keys and pages, and closing.
#include "viewer/information/datadicom.h"
#include "viewer/information/forminformations.h"
#include "viewer/window/tests/windowtesting.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>

namespace {

using frametest::LoadVisit;
using frametest::VisitFolder;

// Counts the closing messages posted to the application.
class MessageCounter : public QObject
{
public:
    explicit MessageCounter(QEvent::Type type) : type_(type) { qApp->installEventFilter(this); }
    ~MessageCounter() override { qApp->removeEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == type_)
            ++count;
        return false;
    }

private:
    QEvent::Type type_;
};

class InformationsTest : public ::testing::Test
{
protected:
    explicit InformationsTest(QStringList arguments = {}) : shell(std::move(arguments))
    {
        // The program folder is the demo visit's: its reports file is found there.
        shell.services.ExecutablePath = VisitFolder("demo") + QStringLiteral("/KorvaneCD");
    }
    void SetUp() override
    {
        shell.Create();
        ASSERT_TRUE(LoadVisit("demo", QStringLiteral("KV000123")));
    }
    imaging::DicomImagePtr FirstImage() const { return VisitData().VisitImages()->Item(1); }
    imaging::DicomImagePtr CommentCarrier() const
    {
        const auto images = VisitData().VisitImages();
        for (int i = 1; i <= images->Count(); ++i)
            if (images->Item(i)->SeriesUID().contains(QLatin1String(common::kProductUidRoot)))
                return images->Item(i);
        return nullptr;
    }
    void Open(const imaging::DicomImagePtr &image)
    {
        window = std::make_unique<TFormInformations>(image, 0);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QString Page() const { return window->PageControl()->currentWidget()->objectName(); }

    ShellFixture shell;
    std::unique_ptr<TFormInformations> window;
};

TEST_F(InformationsTest, CommentAndReportsOpenOnTheFirstPage)
{
    Open(FirstImage());
    QTRY_VERIFY(window->CommentShown);
    EXPECT_EQ(Page(), QStringLiteral("TSInformations"));
    EXPECT_TRUE(window->PageTabVisible(QStringLiteral("TSRapports")));
    EXPECT_FALSE(window->PageTabVisible(QStringLiteral("TSOptions")));
    EXPECT_EQ(window->MemoCommentaire()->toPlainText(),
              QStringLiteral("Patiente à jeun. Comparer avec l'examen précédent."));
    EXPECT_TRUE(window->StaticTextCommentaire()->isVisible());
    EXPECT_TRUE(window->MemoCommentaire()->font().bold());
    EXPECT_EQ(window->ValueText("RV3DLabelDossier"), QStringLiteral("KV000123"));
    EXPECT_EQ(window->ValueText("RV3DLabelNom"), QStringLiteral("LEFÈVRE^Hélène"));
    EXPECT_EQ(window->ValueText("RV3DLabelNaissance"), QStringLiteral("1958-04-12"));
    EXPECT_EQ(window->ValueText("RV3DLabelAccession"), QStringLiteral("CT20261109001"));
    EXPECT_EQ(window->ValueText("RV3DLabelReferant"), QStringLiteral("Bérubé^Jacques"));
    // No bottom button until the user changes pages.
    EXPECT_FALSE(window->SpeedButtonOldCases()->isVisible());
    EXPECT_FALSE(window->SpeedButtonDumpDataDicom()->isVisible());

    // The reports file: two reports, the first final (status 2), the second without text.
    QListWidget *list = window->ListBoxReports();
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("2026-11-02 Tomodensitométrie abdominale Dr Anne Martin"));
    EXPECT_EQ(window->Reports()[0].Status, 2);
    EXPECT_EQ(window->Reports()[1].Status, 0);
    EXPECT_TRUE(window->MemoReports()->isEnabled());
    EXPECT_TRUE(window->MemoReports()->toPlainText().startsWith(
        QStringLiteral("Rapport final, radiologiste\n\nIndication : douleur abdominale.")));
    list->setCurrentRow(1);
    EXPECT_FALSE(window->MemoReports()->isEnabled());
    EXPECT_TRUE(window->MemoReports()->toPlainText().isEmpty());

    // Page changes show the page's own button; the data page takes the focus to the search.
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSRapports")));
    EXPECT_TRUE(window->SpeedButtonOldCases()->isVisible());
    EXPECT_FALSE(window->SpeedButtonDumpDataDicom()->isVisible());
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
    EXPECT_FALSE(window->SpeedButtonOldCases()->isVisible());
    EXPECT_TRUE(window->SpeedButtonDumpDataDicom()->isVisible());
    QTRY_VERIFY(window->DataPage()->SearchField()->hasFocus());
    // The data page lists the comment under its declared description.
    const auto &rows = window->DataPage()->Model()->Rows();
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](const information::DataRow &r) { return r.group == 9; }));
}

TEST_F(InformationsTest, DataColumnsFollowTheGridWhicheverPageCameFirstAndAtEveryResize)
{
    Open(FirstImage());
    QTableView *grid = window->DataPage()->Grid();
    auto expectRule = [grid](const char *when) {
        const int rest = (grid->viewport()->width() - 205) / 2;
        EXPECT_GT(rest, 150) << when;
        EXPECT_EQ(grid->columnWidth(0), 75) << when;
        EXPECT_EQ(grid->columnWidth(1), 75) << when;
        EXPECT_EQ(grid->columnWidth(2), 55) << when;
        EXPECT_EQ(grid->columnWidth(3), rest) << when;
        EXPECT_EQ(grid->columnWidth(4), rest) << when;
    };
    // The reports page first, then the data page.
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSRapports")));
    QCoreApplication::processEvents();
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
    QCoreApplication::processEvents();
    expectRule("after the reports page");
    // Wider and narrower while the data page shows, then wider while another page shows.
    window->resize(window->width() + 160, window->height());
    QCoreApplication::processEvents();
    expectRule("wider");
    window->resize(window->width() - 100, window->height() - 200);
    QCoreApplication::processEvents();
    expectRule("narrower and lower");
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSInformations")));
    QCoreApplication::processEvents();
    window->resize(window->width() + 120, window->height());
    QCoreApplication::processEvents();
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
    QCoreApplication::processEvents();
    expectRule("resized behind another page");
}

TEST_F(InformationsTest, TheCommentImageListsItsPrivateDescriptions)
{
    Open(CommentCarrier());
    const auto &rows = window->DataPage()->Model()->Rows();
    auto comment = std::find_if(rows.begin(), rows.end(),
                                [](const information::DataRow &r) { return r.group == 9 && r.element == 3; });
    ASSERT_NE(comment, rows.end());
    EXPECT_EQ(comment->description, QStringLiteral("Commentaire"));
    EXPECT_EQ(comment->value, QStringLiteral("Patiente à jeun. Comparer avec l'examen précédent."));
}

TEST_F(InformationsTest, FlagNWithBlanksMeansNoComment)
{
    CommentCarrier()->Attributes()->Add(0x0009, 0x0001, QStringLiteral("n "), QStringLiteral("LO"));
    Open(FirstImage());
    QTest::qWait(0);
    EXPECT_FALSE(window->CommentShown);
    EXPECT_TRUE(window->MemoCommentaire()->toPlainText().isEmpty());
    EXPECT_FALSE(window->StaticTextCommentaire()->isVisible());
    // Without a comment the reports page found at showing stays active.
    EXPECT_EQ(Page(), QStringLiteral("TSRapports"));
}

TEST_F(InformationsTest, ValueRulesAndScanOptions)
{
    const auto image = FirstImage();
    auto a = image->Attributes();
    a->Remove(0x0010, 0x1020);
    a->Add(0x0010, 0x1030, QStringLiteral("70"));
    a->Add(0x0018, 0x0087, QStringLiteral("15000"));
    a->Add(0x0008, 0x0070, QStringLiteral("Fabricant"));
    a->Add(0x0008, 0x1090, QStringLiteral("Modèle"));
    a->Add(0x0018, 0x0022, QVariantList{QStringLiteral("HELICAL"), QStringLiteral(" "), QStringLiteral("AXIAL")});
    a->Add(0x0008, 0x1070, QVariantList{QStringLiteral("Tremblay^Line"), QStringLiteral("Roy^Marc")});
    Open(image);
    EXPECT_EQ(window->ValueText("RV3DLabelTaillePoids"), QStringLiteral("70"));
    EXPECT_EQ(window->ValueText("RV3DLabelMachine"), QStringLiteral("1.5T Fabricant Modèle"));
    EXPECT_EQ(window->ValueText("RV3DLabelTechnologue"), QStringLiteral("Tremblay^Line"));
    EXPECT_TRUE(window->PageTabVisible(QStringLiteral("TSOptions")));
    ASSERT_EQ(window->ListView1()->topLevelItemCount(), 2);
    EXPECT_EQ(window->ListView1()->topLevelItem(1)->text(0), QStringLiteral("AXIAL"));
    window->close();

    a->Add(0x0010, 0x1020, QStringLiteral("1.75"));
    a->Remove(0x0010, 0x1030);
    a->Add(0x0018, 0x0087, QStringLiteral("1.5"));
    a->Remove(0x0008, 0x1090);
    a->Add(0x0008, 0x1010, QStringLiteral("POSTE1"));
    Open(image);
    EXPECT_EQ(window->ValueText("RV3DLabelTaillePoids"), QStringLiteral("1.75 / "));
    EXPECT_EQ(window->ValueText("RV3DLabelMachine"), QStringLiteral("0.0T Fabricant POSTE1"));
    window->close();

    a->Add(0x0010, 0x1030, QStringLiteral("70"));
    a->Remove(0x0018, 0x0087);
    Open(image);
    EXPECT_EQ(window->ValueText("RV3DLabelTaillePoids"), QStringLiteral("1.75 / 70"));
    EXPECT_EQ(window->ValueText("RV3DLabelMachine"), QStringLiteral("Fabricant POSTE1"));
}

TEST_F(InformationsTest, AMultiByteNameShowsWhole)
{
    const auto image = imaging::CreateImages()->ReadFile(
        QStringLiteral(KORVANE_PYDICOM_FILES "/../charset_files/chrX1.dcm"));
    Open(image);
    EXPECT_EQ(window->ValueText("RV3DLabelNom"), QStringLiteral("Wang^XiaoDong=王^小東="));
}

TEST_F(InformationsTest, EnterBelongsToTheCommentMemoAndClosingTellsTheMainWindow)
{
    Open(FirstImage());
    QTRY_VERIFY(window->MemoCommentaire()->hasFocus());
    EXPECT_FALSE(window->ActionEnter()->isEnabled());
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
    QTRY_VERIFY(window->ActionEnter()->isEnabled());
    // Enter and the arrows act on the grid from the search field.
    QTest::keyClicks(window->DataPage()->SearchField(), QStringLiteral("patient"));
    QTest::keyClick(window->DataPage()->SearchField(), Qt::Key_Return);
    const int found = window->DataPage()->CurrentRow();
    EXPECT_GT(found, 1);
    QTest::keyClick(window->DataPage()->SearchField(), Qt::Key_Down);
    EXPECT_EQ(window->DataPage()->CurrentRow(), found + 1);
    QTest::keyClick(window->DataPage()->SearchField(), Qt::Key_Up);
    EXPECT_EQ(window->DataPage()->CurrentRow(), found);

    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSInformations")));
    QTRY_VERIFY(!window->ActionEnter()->isEnabled());
    MessageCounter closing(TemplateDM().RegisteredMessage(QStringLiteral("WM_CLOSEINFORMATIONS")));
    window->close();
    EXPECT_TRUE(window->ActionEnter()->isEnabled());
    EXPECT_EQ(window->ListBoxReports()->count(), 0);
    QTRY_COMPARE(closing.count, 1);
}

class DemoOptionTest : public InformationsTest
{
protected:
    DemoOptionTest() : InformationsTest({QStringLiteral("/DEMO")}) {}
};

TEST_F(DemoOptionTest, NamesAreHidden)
{
    Open(FirstImage());
    EXPECT_EQ(window->ValueText("RV3DLabelNom"), QStringLiteral("NOM PATIENT"));
    EXPECT_EQ(window->ValueText("RV3DLabelRadiologiste"), QStringLiteral("NOM RADIOLOGISTE"));
    EXPECT_EQ(window->ValueText("RV3DLabelDossier"), QStringLiteral("KV000123"));
    EXPECT_EQ(window->ValueText("RV3DLabelNaissance"), QStringLiteral("1958-04-12"));
}

} // namespace
