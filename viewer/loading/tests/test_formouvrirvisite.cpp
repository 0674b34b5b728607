// The open-visit dialog over real catalogues: rows, sorting, results, deletion and
// its refusals, removal of catalogues whose visits are gone, the folder watch.
#include "loadingtesting.h"
#include "viewer/loading/formouvrirvisite.h"

#include <QHeaderView>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace loading;
using namespace loadingtest;

namespace {

class OpenVisitDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = dir.filePath("Visite");
        ASSERT_TRUE(CopyTree(TestVisit("mixed"), folder));
        module = std::make_unique<DataModule>(folder);
    }

    QStringList Column(const TFormOuvrirVisite &dialog, int column) const
    {
        QStringList values;
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            values << dialog.List()->topLevelItem(i)->text(column);
        return values;
    }

    QTreeWidgetItem *RowOf(const TFormOuvrirVisite &dialog, const QString &catalogue) const
    {
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            if (dialog.List()->topLevelItem(i)->text(colDicomDir) == catalogue)
                return dialog.List()->topLevelItem(i);
        return nullptr;
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<DataModule> module;
};

} // namespace

TEST_F(OpenVisitDialog, TwoCataloguesGiveTwoRowsSortedByDateDescending)
{
    TFormOuvrirVisite dialog;
    ASSERT_EQ(dialog.ProgramFolder(), folder + "/");
    ASSERT_TRUE(dialog.ShowList());
    ASSERT_EQ(dialog.List()->topLevelItemCount(), 2);
    QStringList catalogues = Column(dialog, colDicomDir);
    catalogues.sort();
    EXPECT_EQ(catalogues, (QStringList{"DICOMDIR", "DICOMDIR.B"}));
    EXPECT_EQ(RowOf(dialog, "DICOMDIR")->text(colChemin), "DICOM");
    EXPECT_EQ(RowOf(dialog, "DICOMDIR.B")->text(colChemin), "DICOMB");
    EXPECT_EQ(RowOf(dialog, "DICOMDIR")->text(colDossier), "KV000777");
    EXPECT_EQ(RowOf(dialog, "DICOMDIR")->text(colCompression), "N/A");
    EXPECT_EQ(dialog.List()->headerItem()->text(colDateHeure), "Date / Heure");
    EXPECT_EQ(dialog.SortColumn(), colDateHeure);
    EXPECT_FALSE(dialog.SortAscending());
    const QStringList dates = Column(dialog, colDateHeure);
    EXPECT_GE(dates[0], dates[1]);
    EXPECT_EQ(dialog.List()->columnWidth(colEtudeUid), 250);
    EXPECT_GT(dialog.Listing().thumbnails->Count(), 0);
    EXPECT_TRUE(dialog.isHidden()); // filling shows nothing by itself
}

TEST_F(OpenVisitDialog, SortingTogglesPerColumnWithNameAsSecondKey)
{
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    dialog.SortByColumn(colNom);
    EXPECT_TRUE(dialog.SortAscending());
    const QStringList ascending = Column(dialog, colNom);
    dialog.SortByColumn(colNom);
    EXPECT_FALSE(dialog.SortAscending());
    QStringList descending = Column(dialog, colNom);
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(ascending, descending);
    EXPECT_EQ(ascending.first().left(3), "DUP");
    EXPECT_EQ(dialog.List()->header()->sortIndicatorSection(), colNom);
}

TEST_F(OpenVisitDialog, OkTakesTheSelectedOrTopRowAndCancelEmptiesResults)
{
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    dialog.OKClick();
    const QTreeWidgetItem *top = dialog.List()->topLevelItem(0);
    EXPECT_EQ(dialog.ModalResult, mrOk);
    EXPECT_EQ(dialog.PatientID(), top->text(colDossier));
    EXPECT_EQ(dialog.StudyUID(), top->text(colEtudeUid));
    EXPECT_EQ(dialog.Catalogue(), top->text(colDicomDir));

    RowOf(dialog, "DICOMDIR.B")->setSelected(true);
    dialog.OKClick();
    EXPECT_EQ(dialog.Catalogue(), "DICOMDIR.B");
    EXPECT_EQ(dialog.PatientID(), "KV000888");

    dialog.CancelClick();
    EXPECT_EQ(dialog.ModalResult, mrCancel);
    EXPECT_EQ(dialog.Catalogue(), "");
    EXPECT_EQ(dialog.StudyUID(), "");
}

TEST_F(OpenVisitDialog, CatalogueWhoseVisitFolderIsGoneIsRemoved)
{
    ASSERT_TRUE(QDir(folder + "/DICOMB").removeRecursively());
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    EXPECT_EQ(Column(dialog, colDicomDir), (QStringList{"DICOMDIR"}));
    EXPECT_FALSE(QFile::exists(folder + "/DICOMDIR.B"));
    EXPECT_EQ(dialog.Listing().deletedCatalogues, (QStringList{"DICOMDIR.B"}));
    // Nothing was announced as a change of the folder.
    dialog.TimerTick();
    EXPECT_TRUE(dialog.RafraichirButton()->isHidden());
}

TEST_F(OpenVisitDialog, FolderNameDifferingInCaseKeepsItsCatalogue)
{
    ASSERT_TRUE(QDir(folder).rename("DICOMB", "dicomb"));
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    EXPECT_EQ(dialog.List()->topLevelItemCount(), 2);
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR.B"));
}

TEST_F(OpenVisitDialog, NewCatalogueIsNoticedWithinASecond)
{
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    dialog.show();
    EXPECT_TRUE(dialog.RafraichirButton()->isHidden());
    // The watch looks once a second; the first look after the copy shows the notice
    // (the spy hears the tick after the dialog has handled it).
    EXPECT_EQ(dialog.WatchTimer()->interval(), 1000);
    EXPECT_TRUE(dialog.WatchTimer()->isActive());
    QSignalSpy ticks(dialog.WatchTimer(), &QTimer::timeout);
    ASSERT_TRUE(QFile::copy(folder + "/DICOMDIR", folder + "/DICOMDIR.003"));
    ASSERT_TRUE(ticks.wait(10000));
    EXPECT_FALSE(dialog.RafraichirButton()->isHidden());
    EXPECT_FALSE(dialog.Notice()->isHidden());
    EXPECT_EQ(dialog.List()->topLevelItemCount(), 2); // the list waits for "Rafraîchir"
    dialog.RafraichirClick();
    EXPECT_EQ(dialog.List()->topLevelItemCount(), 3);
    EXPECT_TRUE(dialog.RafraichirButton()->isHidden());
    EXPECT_TRUE(dialog.Notice()->isHidden());
    dialog.hide();
}

TEST_F(OpenVisitDialog, EffacerDeletesTheVisitFolderAndItsCatalogue)
{
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(dialog.ShowList());
    dialog.EffacerClick();
    EXPECT_EQ(module->Texts(), (QStringList{"Vous devez sélectionner une visite avant."}));
    RowOf(dialog, "DICOMDIR.B")->setSelected(true);
    module->yesNoAnswer = mrYes;
    dialog.EffacerClick();
    EXPECT_FALSE(QDir(folder + "/DICOMB").exists());
    EXPECT_FALSE(QFile::exists(folder + "/DICOMDIR.B"));
    EXPECT_EQ(Column(dialog, colDicomDir), (QStringList{"DICOMDIR"}));
    EXPECT_TRUE(QDir(folder + "/DICOM").exists());
}

TEST_F(OpenVisitDialog, EffacerRefusesOnCdAndOutsideTheFolder)
{
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return true; });
    ASSERT_TRUE(dialog.ShowList());
    RowOf(dialog, "DICOMDIR.B")->setSelected(true);
    dialog.EffacerClick();
    EXPECT_EQ(module->Texts(), (QStringList{"Vous ne pouvez pas effacer une visite qui est sur un lecteur CD-ROM."}));
    EXPECT_TRUE(QDir(folder + "/DICOMB").exists());

    // A crafted catalogue whose "Chemin" is "..": refused like the root folder.
    module->messages.clear();
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR.B", "DICOMB\\ST000001", "..\\ESCAPE000001"));
    QDir().mkpath(dir.filePath("ESCAPE000001"));
    ASSERT_TRUE(dialog.ShowList());
    QTreeWidgetItem *crafted = RowOf(dialog, "DICOMDIR.B");
    ASSERT_TRUE(crafted);
    EXPECT_EQ(crafted->text(colChemin), "..");
    crafted->setSelected(true);
    dialog.EffacerClick();
    EXPECT_EQ(module->Texts(), (QStringList{"Impossible de supprimer le répertoire racine."}));
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_TRUE(QDir(dir.filePath("ESCAPE000001")).exists());
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR.B"));
}

TEST_F(OpenVisitDialog, CataloguesAreDeletedByTheFillOnlyWhenTheirVisitsAreGone)
{
    // A catalogue that reads as no record at all.
    ASSERT_TRUE(QFile::copy(folder + "/DICOMDIR", folder + "/DICOMDIR.Z"));
    ASSERT_TRUE(Tool("dcmodify", {"-nb", "-e", "(0004,1220)", folder + "/DICOMDIR.Z"}));
    ASSERT_TRUE(Tool("dcmodify", {"-nb", "-i", "(0004,1220)", folder + "/DICOMDIR.Z"}));
    // A catalogue whose folder is there but whose files are not.
    for (const QFileInfo &file : QDir(folder + "/DICOMB/ST000001/SE000001").entryInfoList(QDir::Files))
        ASSERT_TRUE(QFile::remove(file.filePath()));
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    EXPECT_EQ(Column(dialog, colDicomDir), (QStringList{"DICOMDIR"}));
    EXPECT_TRUE(dialog.Listing().deletedCatalogues.isEmpty());
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR.Z"));
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR.B"));
    EXPECT_TRUE(module->messages.empty());
}

TEST_F(OpenVisitDialog, NoRowsAndUnreadableCatalogue)
{
    ASSERT_TRUE(QDir(folder + "/DICOM").removeRecursively());
    ASSERT_TRUE(QDir(folder + "/DICOMB").removeRecursively());
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    dialog.OKClick();
    EXPECT_EQ(module->Texts(), (QStringList{"Il n'y a aucune visite disponible."}));
    EXPECT_NE(dialog.ModalResult, mrOk);

    QFile broken(folder + "/DICOMDIR.X");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("garbage");
    broken.close();
    module->messages.clear();
    TFormOuvrirVisite second;
    EXPECT_EQ(second.Execute(), mrCancel); // not shown: no modal loop to answer
    ASSERT_EQ(module->messages.size(), 1u);
    EXPECT_TRUE(module->messages[0].text.contains("DICOMDIR.X")) << module->messages[0].text.toStdString();
    EXPECT_EQ(module->messages[0].kind, TMsgDlgType::mtError);
}

TEST_F(OpenVisitDialog, ImagesPageShowsTheStudyThumbnailsInRows)
{
    TFormOuvrirVisite dialog;
    dialog.resize(600, 500);
    ASSERT_TRUE(dialog.ShowList());
    dialog.show();
    RowOf(dialog, "DICOMDIR")->setSelected(true);
    dialog.Pages()->setCurrentIndex(1);
    QWidget *content = dialog.ThumbnailBox()->widget();
    const auto panels = content->findChildren<QFrame *>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(panels.size(), 10); // one icon per image record of the study
    const int perLine = dialog.ThumbnailBox()->viewport()->width() / 108;
    EXPECT_EQ(panels[0]->geometry(), QRect(8, 8, 100, 100));
    EXPECT_EQ(panels[1]->geometry(), QRect(116, 8, 100, 100));
    EXPECT_EQ(panels[perLine]->geometry(), QRect(8, 116, 100, 100));

    // Icons are shown as stored: every displayed grey is the icon's own 8-bit value, whatever its range.
    const auto &thumbnails = dialog.Listing().thumbnails;
    int checked = 0;
    for (int i = 1; i <= thumbnails->Count(); ++i) {
        const auto image = thumbnails->Item(i);
        if (image->StudyUID() != RowOf(dialog, "DICOMDIR")->text(colEtudeUid))
            continue;
        const QImage shown = image->DisplayFrame();
        ASSERT_EQ(shown.format(), QImage::Format_Grayscale8);
        int differ = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                differ += qGray(shown.pixel(x, y)) != int(image->PixelValue(x, y));
        EXPECT_EQ(differ, 0) << "icon " << i << ", window " << image->Width() << " / " << image->Level();
        ++checked;
    }
    EXPECT_EQ(checked, 10);
    dialog.hide();
}

TEST(OpenVisitDialogDemoOption, NamesAreHiddenUnderDemo)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("Visite");
    ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
    DataModule module(folder, {QStringLiteral("/DEMO")});
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(dialog.ShowList());
    ASSERT_EQ(dialog.List()->topLevelItemCount(), 3);
    for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = dialog.List()->topLevelItem(i);
        EXPECT_EQ(item->text(colNom), "NOM PATIENT");
        const QString question = TFormOuvrirVisite::DeletionQuestion(dialog.Listing().rows[i]);
        EXPECT_TRUE(question.contains("NOM PATIENT")) << question.toStdString();
        EXPECT_FALSE(question.contains(dialog.Listing().rows[i][colNom].trimmed())) << question.toStdString();
    }
}

namespace {

// The demo CD: two patients, three studies, every file under one "DICOM" folder.
class OpenVisitDialogDemo : public OpenVisitDialog
{
protected:
    void SetUp() override
    {
        folder = dir.filePath("Visite");
        ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
        module = std::make_unique<DataModule>(folder);
    }
    QTreeWidgetItem *PatientRow(const TFormOuvrirVisite &dialog, const QString &patient) const
    {
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            if (dialog.List()->topLevelItem(i)->text(colDossier) == patient)
                return dialog.List()->topLevelItem(i);
        return nullptr;
    }
};

} // namespace

TEST_F(OpenVisitDialogDemo, EffacerAsksFirstThenDeletesOnlyThatStudy)
{
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(dialog.ShowList());
    ASSERT_EQ(dialog.List()->topLevelItemCount(), 3);
    QTreeWidgetItem *gerard = PatientRow(dialog, "KV000456");
    ASSERT_TRUE(gerard);
    gerard->setSelected(true);

    // "Non": nothing happens.
    dialog.EffacerClick();
    ASSERT_EQ(module->messages.size(), 1u);
    const RecordedMessage question = module->messages[0];
    EXPECT_EQ(question.kind, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(question.buttons, mbYes | mbNo);
    EXPECT_TRUE(question.text.startsWith(QString::fromUtf8("Désirez-vous vraiment effacer cette visite?\r\r")));
    EXPECT_TRUE(question.text.contains("KV000456"));
    EXPECT_TRUE(question.text.contains(gerard->text(colNom)));
    EXPECT_TRUE(question.text.contains("Thorax"));
    EXPECT_TRUE(question.text.contains("CR20261108017"));
    EXPECT_EQ(FilesUnder(folder + "/DICOM"), 48);
    EXPECT_EQ(dialog.List()->topLevelItemCount(), 3);

    // "Oui": that study's files and folder go, the other patient's studies stay.
    module->messages.clear();
    module->yesNoAnswer = mrYes;
    dialog.EffacerClick();
    EXPECT_EQ(module->messages.size(), 1u); // the question only
    EXPECT_FALSE(QDir(folder + "/DICOM/ST000003").exists());
    EXPECT_EQ(FilesUnder(folder + "/DICOM"), 45);
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR"));
    EXPECT_EQ(Column(dialog, colDossier), (QStringList{"KV000123", "KV000123"}));
}

TEST_F(OpenVisitDialogDemo, EffacerOfAVisitReceivedTwiceKeepsTheFilesOfTheOther)
{
    ASSERT_TRUE(KeepVisits(folder, {{"A", "DICOM/ST000003"}, {"B", "DICOM/ST000003"}}));
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(dialog.ShowList());
    ASSERT_EQ(Column(dialog, colDicomDir).size(), 2);
    RowOf(dialog, "DICOMDIR.A")->setSelected(true);
    module->yesNoAnswer = mrYes;
    dialog.EffacerClick();
    ASSERT_EQ(module->messages.size(), 2u);
    EXPECT_EQ(module->messages[1].text,
              QString::fromUtf8("Les images de cette visite qu'une autre visite utilise aussi ont été conservées."));
    EXPECT_EQ(module->messages[1].kind, TMsgDlgType::mtInformation);
    EXPECT_FALSE(QFile::exists(folder + "/DICOMDIR.A"));
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000003"), 3);
    EXPECT_EQ(Column(dialog, colDicomDir), (QStringList{"DICOMDIR.B"}));
}

TEST_F(OpenVisitDialogDemo, EffacerSaysWhichNamedFilesItKept)
{
    // One file the study names is no DICOM file (it was replaced by a text): it stays,
    // and the user is told so by name.
    const QString text = folder + "/DICOM/ST000003/SE000001/IM000002";
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("not an image");
    file.close();
    TFormOuvrirVisite dialog;
    dialog.SetCdRomCheck([](const QString &) { return false; });
    ASSERT_TRUE(dialog.ShowList());
    PatientRow(dialog, "KV000456")->setSelected(true);
    module->yesNoAnswer = mrYes;
    dialog.EffacerClick();
    ASSERT_EQ(module->messages.size(), 2u);
    EXPECT_EQ(module->messages[1].kind, TMsgDlgType::mtInformation);
    EXPECT_TRUE(module->messages[1].text.contains(QString::fromUtf8("ne sont pas des images DICOM")))
        << module->messages[1].text.toStdString();
    EXPECT_TRUE(module->messages[1].text.contains(QDir::toNativeSeparators(QFileInfo(text).canonicalFilePath())))
        << module->messages[1].text.toStdString();
    EXPECT_TRUE(QFile::exists(text));
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000003"), 1);
}

TEST_F(OpenVisitDialogDemo, AStudyWhoseFolderIsGoneHidesNeitherThePatientsNextStudyNorItsCatalogue)
{
    // The main study of the first patient now lies in a folder that does not exist.
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR", "DICOM\\ST000001\\SE000001\\IM000001",
                           "DICOX\\ST000001\\SE000001\\IM000001"));
    TFormOuvrirVisite dialog;
    ASSERT_TRUE(dialog.ShowList());
    QStringList studies = Column(dialog, colEtudeUid);
    studies.sort();
    EXPECT_EQ(studies, (QStringList{"2.25.100000052", "2.25.100000059"}));
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR"));
}
