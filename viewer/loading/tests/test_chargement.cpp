// The loading thread and the main window's opening operations, with a stand-in for
// the main window that records what it is asked to do.
#include "loadingtesting.h"
#include "viewer/loading/formouvrirvisite.h"
#include "viewer/loading/loadprogressform.h"
#include "viewer/loading/visitopening.h"

#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>

#include <gtest/gtest.h>

using namespace loading;
using namespace loadingtest;

namespace {

class RecordingWindow : public TVisitWindow
{
public:
    QWidget *Widget() override { return &widget; }
    bool StackDown() const override { return stack; }
    void RaiseStack() override { stack = false; }
    int OpenButtonImage() const override { return image; }
    void SetOpenButtonImage(int i) override
    {
        image = i;
        if (i == 47)
            ++blinks;
    }
    void SetStatusPanel(int panel, const QString &text) override { status[panel] = text; }
    bool HasChildWindow() const override { return false; }
    void CloseActiveChildWindow() override {}
    void ShowVisit(const QString &first, const QString &second) override
    {
        shown << (first + "|" + second);
        imagesWhenShown = VisitData().VisitImages()->Count();
        seriesWhenShown = VisitData().SeriesCount();
    }
    void OpenInformationsAutomatically() override { ++informations; }

    QWidget widget;
    bool stack = true;
    int image = 0;
    int blinks = 0;
    QString status[4];
    QStringList shown;
    int imagesWhenShown = -1;
    int seriesWhenShown = -1;
    int informations = 0;
};

class Opening : public ::testing::Test
{
protected:
    void Start(const QString &source, QStringList arguments = {})
    {
        folder = dir.filePath("Visite");
        ASSERT_TRUE(CopyTree(source, folder));
        module = std::make_unique<DataModule>(folder, arguments);
        opening = std::make_unique<TVisitOpening>(window);
    }
    void TearDown() override
    {
        opening.reset();
        EXPECT_TRUE(TChargement::StopAll());
    }
    // Waits until every loader has run its end step (the last thing it does before it
    // deletes itself), then lets the pending deletions happen.
    static bool WaitForLoaders(int ms = 60000)
    {
        QDeadlineTimer deadline(ms);
        while (TChargement::LiveCount() > 0 && !deadline.hasExpired())
            QTest::qWait(10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return TChargement::LiveCount() == 0;
    }

    QTemporaryDir dir;
    QString folder;
    RecordingWindow window;
    std::unique_ptr<DataModule> module;
    std::unique_ptr<TVisitOpening> opening;
};

// Picks the row of a patient and answers OK.
TVisitOpening::DialogRunner Pick(const QString &patient, int *calls)
{
    return [patient, calls](TFormOuvrirVisite &dialog) {
        ++*calls;
        if (!dialog.ShowList())
            return int(mrCancel);
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
            if (dialog.List()->topLevelItem(i)->text(colDossier) == patient) {
                dialog.List()->topLevelItem(i)->setSelected(true);
                dialog.OKClick();
                return dialog.ModalResult;
            }
        }
        dialog.CancelClick();
        return int(mrCancel);
    };
}

} // namespace

TEST_F(Opening, OneStudyOpensAtFirstActivationWithoutDialog)
{
    const QString generated = dir.filePath("gen");
    ASSERT_TRUE(Generate(generated, "ct-large", 30));
    Start(generated);
    int calls = 0;
    opening->SetDialogRunner(Pick(QString(), &calls));
    opening->FirstActivation();
    ASSERT_TRUE(opening->Loader());
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(calls, 0);
    // One series: shown when the thread ends, with no second frame.
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_TRUE(window.shown[0].endsWith("|"));
    EXPECT_EQ(window.imagesWhenShown, 30);
    EXPECT_EQ(window.status[2], "V: 1");
    EXPECT_EQ(window.image, 0);
    EXPECT_GT(window.blinks, 0);
    EXPECT_EQ(opening->Loader(), nullptr);
    EXPECT_TRUE(module->messages.empty());
}

TEST_F(Opening, DialogChoiceLoadsThePatientAndHandsOverAfterTwoSeries)
{
    Start(TestVisit("demo"));
    int calls = 0;
    opening->SetDialogRunner(Pick("KV000123", &calls));
    opening->FirstActivation(); // two patients: the dialog
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(WaitForLoaders());
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.shown[0], "2.25.100000003|2.25.100000024");
    EXPECT_EQ(window.seriesWhenShown, 2);
    EXPECT_EQ(window.imagesWhenShown, 25);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 64);
    EXPECT_EQ(window.status[2], "V: 2");
    // The key images with the visit comment come in a later series: the check at the
    // hand-over sees only the first two.
    EXPECT_EQ(window.informations, 0);
    EXPECT_FALSE(window.stack);
    EXPECT_TRUE(module->messages.empty());
}

TEST_F(Opening, UidOptionSkipsTheDialogAndNeverLoopsOnAnEmptyResult)
{
    Start(TestVisit("demo"), {"/UID=2.25.100000052"});
    int calls = 0;
    opening->SetDialogRunner(Pick("nobody", &calls));
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 4);
    EXPECT_EQ(window.shown.size(), 1);
    // The load found its series: "Ouvrir une visite" goes on opening that study directly.
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(window.shown.size(), 2);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 4);
}

TEST_F(Opening, UidOptionWithUnknownStudyShowsTheDialogNextTime)
{
    Start(TestVisit("demo"), {"/uid=9.9.9"});
    int calls = 0;
    opening->SetDialogRunner(Pick("nobody", &calls)); // cancels
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(module->Texts(), (QStringList{"Il n'y a aucune série disponible pour cette visite."}));
    EXPECT_EQ(calls, 1); // the command ran again, with the dialog this time
    EXPECT_TRUE(window.shown.isEmpty());
    EXPECT_EQ(window.status[2], "");
}

TEST_F(Opening, NewVisitStopsTheRunningLoadWhichLeavesEverythingAlone)
{
    const QString generated = dir.filePath("gen");
    ASSERT_TRUE(Generate(generated, "ct-large", 30));
    Start(generated);
    // The loader is held before its sixth image until the new command has asked it to
    // stop, however fast or slow the machine is.
    QSemaphore atSixth, goOn;
    TChargement::SetImageHookForTests([&](int, int image) {
        if (image == 6) {
            atSixth.release();
            goOn.acquire();
        }
    });
    opening->FirstActivation();
    TChargement::SetImageHookForTests({});
    QPointer<TChargement> first = opening->Loader();
    ASSERT_TRUE(first);
    const auto release = qScopeGuard([&] { goOn.release(); });
    bool stopped = false;
    QObject::connect(first, &TChargement::Ended, [&] { stopped = first->Outcome().stopped; });
    const VisitContentPtr oldContent = VisitData().Content();
    ASSERT_TRUE(atSixth.tryAcquire(1, 60000));

    int calls = 0;
    opening->SetDialogRunner(Pick("nobody", &calls)); // the new command is cancelled
    opening->TBVisiteOuvrirClick();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(opening->Loader(), nullptr);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->StopRequested());
    goOn.release();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(window.shown.isEmpty());
    EXPECT_EQ(window.status[2], "");
    EXPECT_EQ(window.image, 0);
    // The series being read when the stop came never reached the visit.
    EXPECT_EQ(oldContent->Images()->Count(), 0);
    EXPECT_TRUE(module->messages.empty());
}

TEST_F(Opening, UnreadableFileIsNamedAndTheImagesReadStay)
{
    Start(TestVisit("demo"));
    const QString broken = folder + "/DICOM/ST000001/SE000002/IM000003";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("broken");
    file.close();
    int calls = 0;
    opening->SetDialogRunner(Pick("KV000123", &calls));
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(module->Texts(), (QStringList{TChargement::UnreadableFileMessage(broken)}));
    EXPECT_TRUE(module->Texts().first().contains("IM000003"));
    EXPECT_EQ(VisitData().VisitImages()->Count(), 22);
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.status[2], "V: 1");
}

TEST_F(Opening, UnreadableFirstImageSaysNothingCouldBeShownAndOffersTheDialogAgain)
{
    Start(TestVisit("demo"));
    const QString broken = folder + "/DICOM/ST000001/SE000001/IM000001";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("broken");
    file.close();
    int calls = 0;
    opening->SetDialogRunner(Pick("KV000123", &calls));
    module->onMessage = [&](const QString &) { opening->SetDialogRunner(Pick("nobody", &calls)); };
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    // One message, and a true one; then the open-visit dialog again.
    EXPECT_EQ(module->Texts(), (QStringList{TChargement::UnreadableFileMessage(broken, true)}));
    EXPECT_TRUE(module->Texts().first().contains("IM000001"));
    EXPECT_TRUE(module->Texts().first().contains(QString::fromUtf8("Aucune image n'a pu être affichée.")));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(window.shown.isEmpty());
    EXPECT_EQ(window.status[2], "");
    EXPECT_EQ(window.image, 0);
    EXPECT_EQ(opening->Loader(), nullptr);

    // The program works on: another visit opens.
    module->onMessage = {};
    opening->SetDialogRunner(Pick("KV000456", &calls));
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(window.shown.size(), 1);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 3);
}

TEST_F(Opening, StudyWhoseFilesAreAllGoneIsNoSilentEmptyWindow)
{
    // The study's records are in the catalogue, its files are not (a visit deleted from
    // a catalogue that keeps other visits), and "/UID=" names it.
    Start(TestVisit("demo"), {"/UID=2.25.100000059"});
    ASSERT_TRUE(QDir(folder + "/DICOM/ST000003").removeRecursively());
    int calls = 0;
    opening->SetDialogRunner(Pick("nobody", &calls));
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    EXPECT_EQ(module->Texts(), (QStringList{"Il n'y a aucune série disponible pour cette visite."}));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(window.shown.isEmpty());
}

TEST_F(Opening, OtherStudyOfAPatientIsShownAfterTheFirstStudyWasErased)
{
    // The demo catalogue is shared by three studies. "Effacer" of the patient's main
    // study takes its files and leaves its records (the catalogue keeps other studies):
    // the patient's first series records then name no file at all.
    Start(TestVisit("demo"));
    module->yesNoAnswer = mrYes;
    int calls = 0;
    opening->SetDialogRunner([&calls](TFormOuvrirVisite &dialog) {
        ++calls;
        if (!dialog.ShowList())
            return int(mrCancel);
        auto select = [&dialog](int column, const QString &value) {
            dialog.List()->clearSelection();
            for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i) {
                if (dialog.List()->topLevelItem(i)->text(column) == value) {
                    dialog.List()->topLevelItem(i)->setSelected(true);
                    return true;
                }
            }
            return false;
        };
        if (!select(colEtudeUid, "2.25.100000001"))
            return int(mrCancel);
        dialog.EffacerClick();
        if (!select(colDossier, "KV000123"))
            return int(mrCancel);
        dialog.OKClick();
        return dialog.ModalResult;
    });
    opening->TBVisiteOuvrirClick();
    ASSERT_TRUE(WaitForLoaders());
    ASSERT_FALSE(QDir(folder + "/DICOM/ST000001").exists());
    EXPECT_EQ(calls, 1);
    // The other study is handed over once it has been read, and shown.
    ASSERT_EQ(window.shown.size(), 1);
    EXPECT_EQ(window.imagesWhenShown, 4);
    EXPECT_GE(window.seriesWhenShown, 1);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 4);
    EXPECT_EQ(VisitData().SeriesCount(), VisitData().CountSeries());
    EXPECT_EQ(window.status[2], "V: 1");
    // Only the question of the deletion was asked; no message about the load.
    EXPECT_EQ(module->messages.size(), 1u) << module->Texts().join('|').toStdString();
}

TEST_F(Opening, NoCatalogueAtAll)
{
    Start(dir.filePath("empty-source"));
    opening->FirstActivation();
    EXPECT_EQ(module->Texts(), (QStringList{"Le fichier DICOMDIR est introuvable!"}));
    EXPECT_EQ(opening->Loader(), nullptr);
}

TEST(LoadProgress, ShowsSeriesAndImage)
{
    LoadProgressForm form;
    EXPECT_EQ(form.size(), QSize(480, 100));
    form.SetProgress(2, 17);
    EXPECT_EQ(form.ProgressText(), QString::fromUtf8("Série: 2  Image: 17"));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
}
