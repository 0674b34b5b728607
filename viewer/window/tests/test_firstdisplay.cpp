// The first display of a loaded visit: the child window with its first two frames
// in a 2 x 1 grid, each control showing its series; and pictures of the windows of
// the loading steps, written under the build folder for a person to look at.
#include "imaging/geometry.h"
#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/formouvrirvisite.h"
#include "viewer/loading/loadprogressform.h"
#include "viewer/loading/tests/loadingtesting.h"
#include "viewer/loading/visitopening.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollArea>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

using namespace loadingtest;

namespace {

QString Shots()
{
    const QString folder = QStringLiteral(KORVANE_BINARY_DIR "/screenshots/loading");
    QDir().mkpath(folder);
    return folder;
}

bool WaitForLoaders()
{
    QDeadlineTimer deadline(60000);
    while (TChargement::LiveCount() > 0 && !deadline.hasExpired())
        QTest::qWait(10);
    // The loaders have run their end step; their deletion is pending.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return TChargement::LiveCount() == 0;
}

// Answers the open-visit dialog by choosing the rows of the patient *patient names
// (read when the dialog runs, so a test may change it between openings).
void ChoosePatient(TVisitOpening &opening, const QString *patient)
{
    opening.SetDialogRunner([patient](TFormOuvrirVisite &dialog) {
        if (!dialog.ShowList())
            return int(mrCancel);
        for (int i = 0; i < dialog.List()->topLevelItemCount(); ++i)
            if (dialog.List()->topLevelItem(i)->text(loading::colDossier) == *patient)
                dialog.List()->topLevelItem(i)->setSelected(true);
        dialog.OKClick();
        return dialog.ModalResult;
    });
}

class FirstDisplay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = dir.filePath("Visite");
        ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
        module = std::make_unique<DataModule>(folder);
    }
    void TearDown() override { EXPECT_TRUE(TChargement::StopAll()); }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<DataModule> module;
};

} // namespace

TEST_F(FirstDisplay, TwoFramesInATwoByOneGridShowTheFirstSeries)
{
    // The main window opens the visit by itself at its first activation (the folder
    // holds one catalogue with two patients: the open-visit dialog is shown).
    TFormViewer window;
    TVisitOpening &opening = window.Opening();
    static const QString patient = QStringLiteral("KV000123");
    ChoosePatient(opening, &patient);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 500 && !window.ActiveChild(); ++i)
        QTest::qWait(20);
    ASSERT_TRUE(WaitForLoaders());
    ASSERT_TRUE(window.ActiveChild());
    const auto frames = window.ActiveChild()->Frames();
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0]->objectName(), "FrameDicomViewer1");
    EXPECT_EQ(frames[1]->objectName(), "FrameDicomViewer2");
    EXPECT_EQ(window.CurrentFrame(), frames[0]);
    const QSize box = window.ActiveChild()->ScrollBox()->size();
    EXPECT_EQ(frames[0]->geometry(), QRect(0, 0, box.width() / 2, box.height()));
    EXPECT_EQ(frames[1]->geometry(), QRect(box.width() / 2, 0, box.width() / 2, box.height()));
    EXPECT_TRUE(window.MdiArea()->subWindowList().first()->isMaximized());

    // Frame 1: the axial CT, 20 images, scroll bar on image 1, marked.
    const auto viewer1 = frames[0]->DicomViewer();
    EXPECT_EQ(viewer1->Images()->Count(), 20);
    EXPECT_EQ(viewer1->CurrentImage(), VisitData().VisitImages()->Item(1));
    EXPECT_FALSE(frames[0]->ScrollBar()->isHidden());
    EXPECT_EQ(frames[0]->ScrollBar()->maximum(), 20);
    EXPECT_EQ(frames[0]->ScrollBar()->value(), 1);
    EXPECT_EQ(viewer1->CurrentImage()->BorderStyle(), 2);
    EXPECT_TRUE(TopLeft(*viewer1->CurrentImage()).contains("Im: 1/20"));
    EXPECT_TRUE(TopLeft(*viewer1->CurrentImage()).contains("Ax: I85.5"));
    // Frame 2: the coronal series, not marked.
    const auto viewer2 = frames[1]->DicomViewer();
    EXPECT_EQ(viewer2->Images()->Count(), 5);
    EXPECT_EQ(viewer2->CurrentImage()->SeriesUID(), "2.25.100000024");
    EXPECT_EQ(viewer2->CurrentImage()->BorderStyle(), 0);
    // The scroll bar moves through the series.
    frames[0]->ScrollBar()->setValue(7);
    EXPECT_EQ(viewer1->CurrentIndex(), 7);
    for (int i = 0; i < 100 && window.StatusPanel(2) != QStringLiteral("V: 2"); ++i)
        QTest::qWait(20);
    EXPECT_EQ(window.StatusPanel(2), QStringLiteral("V: 2"));

    QTest::qWait(100);
    frames[0]->ScrollBar()->setValue(10);
    QTest::qWait(100);
    EXPECT_TRUE(window.grab().save(Shots() + "/first-child-window.png"));
    // The window's own picture shows the CT: the cell is not a flat black.
    const QImage picture = viewer1->grab().toImage();
    const auto shown = viewer1->CurrentImage();
    const QPoint centre =
        imaging::ImageToClient(shown->Geometry(), QPointF(shown->SizeX() / 2.0, shown->SizeY() / 2.0)).toPoint();
    EXPECT_GT(picture.pixelColor(centre).lightness(), 20);
}

TEST_F(FirstDisplay, TheOldWindowClosingLateLeavesTheReopenedVisitAlone)
{
    TFormViewer window;
    QString patient = "KV000456";
    ChoosePatient(window.Opening(), &patient);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 500 && !window.ActiveChild(); ++i)
        QTest::qWait(20);
    ASSERT_TRUE(WaitForLoaders());
    QPointer<TFormChildMDI> oldChild = window.ActiveChild();
    ASSERT_TRUE(oldChild);
    ASSERT_EQ(VisitData().VisitImages()->Count(), 3);

    // "Ouvrir une visite" clicked from the event loop, as a user clicks it. The new
    // loader is held before the first image of its second series, and the click's
    // handler does not return to the loop before the loader got there: the first
    // series is in the new visit when the old window is deleted and its message comes.
    QSemaphore reached, goOn;
    int firstImages = 0;
    TChargement::SetImageHookForTests([&](int, int image) {
        if (image == 1 && ++firstImages == 2) {
            reached.release();
            goOn.acquire();
        }
    });
    const auto release = qScopeGuard([&] { goOn.release(); });
    patient = "KV000123";
    bool held = false;
    QEventLoop loop;
    QTimer::singleShot(0, &window, [&] {
        window.TBVisiteOuvrirClick();
        held = reached.tryAcquire(1, 60000);
        loop.quit();
    });
    loop.exec();
    TChargement::SetImageHookForTests({});
    ASSERT_TRUE(held);
    const VisitContentPtr newVisit = VisitData().Content();
    const int firstSeries = newVisit->Images()->Count();
    ASSERT_GT(firstSeries, 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(oldChild);
    EXPECT_EQ(newVisit->Images()->Count(), firstSeries);

    goOn.release();
    ASSERT_TRUE(WaitForLoaders());
    ASSERT_TRUE(window.ActiveChild());
    EXPECT_EQ(VisitData().VisitImages()->Count(), 64);
    const auto frames = window.ActiveChild()->Frames();
    ASSERT_EQ(frames.size(), 2);
    EXPECT_EQ(frames[0]->DicomViewer()->Images()->Count(), 20);
    for (int i = 0; i < 100 && window.StatusPanel(2) != QStringLiteral("V: 2"); ++i)
        QTest::qWait(20);
    EXPECT_EQ(window.StatusPanel(2), QStringLiteral("V: 2"));
}

TEST_F(FirstDisplay, PicturesOfTheDialogAndTheProgressWindow)
{
    TFormOuvrirVisite dialog;
    dialog.resize(1100, 500);
    ASSERT_TRUE(dialog.ShowList());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::qWait(50);
    EXPECT_TRUE(dialog.grab().save(Shots() + "/open-visit-list.png"));
    // The folder changed meanwhile: the notice, at the watch's next tick.
    QSignalSpy ticks(dialog.WatchTimer(), &QTimer::timeout);
    ASSERT_TRUE(QFile::copy(folder + "/DICOMDIR", folder + "/DICOMDIR.003"));
    ASSERT_TRUE(ticks.wait(10000));
    ASSERT_FALSE(dialog.Notice()->isHidden());
    EXPECT_TRUE(dialog.grab().save(Shots() + "/open-visit-notice.png"));
    dialog.List()->topLevelItem(0)->setSelected(true);
    dialog.Pages()->setCurrentIndex(1);
    QTest::qWait(100);
    EXPECT_GT(dialog.ThumbnailBox()->widget()->findChildren<QFrame *>(QString(), Qt::FindDirectChildrenOnly).size(), 0);
    EXPECT_TRUE(dialog.grab().save(Shots() + "/open-visit-images.png"));
    dialog.hide();

    LoadProgressForm progress;
    progress.SetProgress(2, 17);
    progress.ShowAt(0);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
    EXPECT_TRUE(progress.grab().save(Shots() + "/progress.png"));
}
