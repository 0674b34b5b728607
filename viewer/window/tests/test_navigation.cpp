// Browsing a visit in the main window: stack mode and the series commands inside it,
// reference lines (their geometry checked against an independent computation) and the
// synchronisation of frames; screenshots of reference lines and of a synchronised pair.

#include "viewer/window/tests/windowtesting.h"

#include <QProcess>

#include <cmath>

using namespace windowtest;

namespace {

class NavigationTest : public ViewerTest
{
protected:
    // Series UIDs of the visit's runs, in order, and the study of each.
    static QList<QPair<QString, QString>> Runs()
    {
        QList<QPair<QString, QString>> runs;
        const auto images = VisitData().VisitImages();
        for (int i = 1; i <= images->Count(); ++i) {
            const auto image = images->Item(i);
            if (runs.isEmpty() || runs.last().first != image->SeriesUID())
                runs.append({image->SeriesUID(), image->StudyUID()});
        }
        return runs;
    }
    static int StudyImageCount(const QString &study)
    {
        int count = 0;
        const auto images = VisitData().VisitImages();
        for (int i = 1; i <= images->Count(); ++i)
            count += images->Item(i)->StudyUID() == study ? 1 : 0;
        return count;
    }
    void Stack(bool down)
    {
        window->SetDown(QStringLiteral("TBStack"), down);
        window->TBStackClick();
    }
};

} // namespace

TEST_F(NavigationTest, StackModeOnThenOffReturnsEveryFrameToTheSameInstance)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    axial->ScrollBar()->setValue(7);
    coronal->ScrollBar()->setValue(3);
    const QString axialInstance = Shown(axial)->InstanceUID();
    const QString coronalInstance = Shown(coronal)->InstanceUID();
    const QString study = Shown(axial)->StudyUID();
    // Reference lines are put away first.
    A("TBCurrentRef")->trigger();
    ASSERT_GT(ReferenceLabels(*Shown(coronal)), 0);

    ASSERT_TRUE(A("TBStack")->isEnabled());
    A("TBStack")->trigger();
    ASSERT_TRUE(window->StackDown());
    EXPECT_FALSE(A("TBCurrentRef")->isChecked());
    EXPECT_EQ(ReferenceLabels(*Shown(coronal)), 0);
    EXPECT_EQ(window->CurrentFrame(), axial);
    const int studyCount = StudyImageCount(study);
    ASSERT_GT(studyCount, 25);
    EXPECT_EQ(axial->DicomViewer()->Images()->Count(), studyCount) << "the frame holds the whole study";
    EXPECT_EQ(coronal->DicomViewer()->Images()->Count(), studyCount);
    EXPECT_EQ(Shown(axial)->InstanceUID(), axialInstance);
    EXPECT_EQ(Shown(coronal)->InstanceUID(), coronalInstance);
    EXPECT_EQ(coronal->ScrollBar()->value(), 20 + 3) << "the coronal series follows the 20 axial images";
    EXPECT_TRUE(window->ActiveChild()->ScrollBox()->updatesEnabled()) << "drawing resumed";

    // Moving inside the study, then back to one series per frame.
    coronal->ScrollBar()->setValue(2);
    const QString movedInstance = Shown(coronal)->InstanceUID();
    A("TBStack")->trigger();
    ASSERT_FALSE(window->StackDown());
    EXPECT_EQ(axial->DicomViewer()->Images()->Count(), 20);
    EXPECT_EQ(Shown(axial)->InstanceUID(), axialInstance);
    EXPECT_EQ(Shown(coronal)->InstanceUID(), movedInstance);
    EXPECT_EQ(coronal->DicomViewer()->Images()->Count(), 20) << "image 2 of the study is axial";
    EXPECT_EQ(window->CurrentFrame(), axial);
}

TEST_F(NavigationTest, StackModeDoesNotLetSynchronisationMoveTheOtherFrames)
{
    OpenVisit();
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *second = Frames()[1];
    window->LoadFrame(second, axialKey);
    second->ScrollBar()->setValue(12);
    first->ScrollBar()->setValue(4);
    const QString instance = Shown(second)->InstanceUID();
    A("TBSeriesAuto")->trigger();
    ASSERT_EQ(window->SyncMode, 1);
    Stack(true);
    EXPECT_EQ(Shown(second)->InstanceUID(), instance);
    EXPECT_EQ(window->SyncMode, 1);
    Stack(false);
    EXPECT_EQ(Shown(second)->InstanceUID(), instance);
}

TEST_F(NavigationTest, SeriesCommandsInStackModeMoveInsideTheStudyThenToTheNextStudy)
{
    OpenVisit();
    const auto runs = Runs();
    ASSERT_GE(runs.size(), 5);
    TFrameDicomViewer *frame = Frames()[0];
    Stack(true);
    const QString mainStudy = runs.first().second;
    const int mainCount = StudyImageCount(mainStudy);
    ASSERT_EQ(Shown(frame)->SeriesUID(), runs[0].first);

    A("TBSerieNext")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs[1].first) << "the next series of the same study";
    EXPECT_EQ(frame->DicomViewer()->Images()->Count(), mainCount);
    EXPECT_EQ(frame->ScrollBar()->value(), 21);

    // From the last series of the study (its last image) across to the earlier study.
    int lastOfStudy = 0;
    for (int i = 0; i < runs.size(); ++i)
        if (runs[i].second == mainStudy)
            lastOfStudy = i;
    ASSERT_LT(lastOfStudy + 1, runs.size()) << "the demo patient has a second study";
    frame->ScrollBar()->setValue(mainCount);
    ASSERT_EQ(Shown(frame)->SeriesUID(), runs[lastOfStudy].first);
    A("TBSerieNext")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs[lastOfStudy + 1].first);
    EXPECT_EQ(Shown(frame)->StudyUID(), runs[lastOfStudy + 1].second);
    EXPECT_EQ(frame->DicomViewer()->Images()->Count(), StudyImageCount(runs[lastOfStudy + 1].second));

    // Back into the main study, on its last series.
    A("TBSeriePrior")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs[lastOfStudy].first);
    EXPECT_EQ(frame->DicomViewer()->Images()->Count(), mainCount);

    // Last and first series of the visit; past the ends nothing moves.
    A("TBSerieLast")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs.last().first);
    const int position = frame->ScrollBar()->value();
    A("TBSerieNext")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs.last().first);
    EXPECT_EQ(frame->ScrollBar()->value(), position);
    A("TBSerieFirst")->trigger();
    EXPECT_EQ(Shown(frame)->SeriesUID(), runs.first().first);
    EXPECT_EQ(frame->ScrollBar()->value(), 1);
    A("TBSeriePrior")->trigger();
    EXPECT_EQ(frame->ScrollBar()->value(), 1);
    EXPECT_EQ(frame->DicomViewer()->Images()->Count(), mainCount);
}

TEST_F(NavigationTest, ReferenceLinesAppearOnBothOtherFramesAndStopAtAnEmptyFrame)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    TFrameDicomViewer *third = AddFrame(coronalKey);
    third->ScrollBar()->setValue(4);
    A("TBFirstLastRef")->trigger();
    // Image 1, the current image (1) and the last: three lines with their numbers.
    EXPECT_EQ(ReferenceLabels(*Shown(coronal)), 6);
    EXPECT_EQ(ReferenceLabels(*Shown(third)), 6);
    EXPECT_EQ(ReferenceLabels(*Shown(axial)), 0) << "none on the current frame";
    A("TBAllRef")->trigger();
    EXPECT_EQ(ReferenceLabels(*Shown(coronal)), 40);
    EXPECT_EQ(ReferenceLabels(*Shown(third)), 40);
    A("TBAllRef")->trigger();
    EXPECT_EQ(ReferenceLabels(*Shown(third)), 0);

    // An empty frame between them: the frames after it get nothing.
    window->ActiveChild()->DestroyFrames();
    TFrameDicomViewer *first = AddFrame(axialKey);
    window->SetCurrentFrame(first);
    AddFrame({});
    TFrameDicomViewer *last = AddFrame(coronalKey);
    A("TBCurrentRef")->trigger();
    EXPECT_TRUE(A("TBCurrentRef")->isChecked());
    EXPECT_EQ(ReferenceLabels(*Shown(last)), 0);
}

TEST_F(NavigationTest, NoReferenceLinesAcrossFramesOfReferenceAndTheButtonsPopUp)
{
    OpenVisit();
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    window->LoadSeries(mrKey);
    ASSERT_EQ(loading::AttributeText(*Shown(first)->Attributes(), 0x0008, 0x0060), QStringLiteral("MR"));
    const int before = Shown(coronal)->Labels()->Count();
    A("TBAllRef")->trigger();
    EXPECT_FALSE(A("TBAllRef")->isChecked());
    EXPECT_EQ(Shown(coronal)->Labels()->Count(), before);
}

TEST_F(NavigationTest, AxialSliceLineOnTheCoronalImageMatchesAnIndependentComputation)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    coronal->ScrollBar()->setValue(2);
    A("TBCurrentRef")->trigger();
    for (const int slice : {1, 9, 20}) {
        axial->ScrollBar()->setValue(slice);
        const auto source = Shown(axial);
        const auto target = Shown(coronal);
        const auto labels = target->Labels();
        ASSERT_EQ(ReferenceLabels(*target), 2);
        const auto line = labels->Item(labels->Count() - 1);
        const auto number = labels->Item(labels->Count());
        ASSERT_EQ(line->LabelType(), int(imaging::DicomLabel::TypeLine));

        // By hand: the coronal image starts at z = 100 and goes down 0.9765625 mm a row;
        // the axial slice lies at z = -85.5 + 5 (slice - 1). Row centres sit at + 0.5.
        const double z = -85.5 + 5.0 * (slice - 1);
        const double row = (100.0 - z) / 0.9765625 + 0.5;
        EXPECT_EQ(line->Top(), std::lround(row)) << slice;
        EXPECT_EQ(line->Height(), 0) << "a horizontal line";

        // numpy, from the files themselves.
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(KORVANE_SOURCE_DIR "/viewer/window/tests/refline_expected.py"),
                      FileOfInstance(target->InstanceUID()), FileOfInstance(source->InstanceUID())});
        ASSERT_TRUE(python.waitForFinished(30000));
        const QStringList values = QString::fromLatin1(python.readAllStandardOutput()).split(QLatin1Char(' '));
        ASSERT_EQ(values.size(), 4) << python.readAllStandardError().toStdString();
        const double x0 = values[0].toDouble(), y0 = values[1].toDouble();
        const double x1 = values[2].toDouble(), y1 = values[3].toDouble();
        const double lx0 = line->Left(), ly0 = line->Top();
        const double lx1 = line->Left() + line->Width(), ly1 = line->Top() + line->Height();
        const bool same = std::abs(lx0 - x0) <= 1 && std::abs(ly0 - y0) <= 1 && std::abs(lx1 - x1) <= 1
                          && std::abs(ly1 - y1) <= 1;
        const bool reversed = std::abs(lx0 - x1) <= 1 && std::abs(ly0 - y1) <= 1 && std::abs(lx1 - x0) <= 1
                              && std::abs(ly1 - y0) <= 1;
        EXPECT_TRUE(same || reversed) << slice << ": numpy " << x0 << "," << y0 << " " << x1 << "," << y1
                                      << " line " << lx0 << "," << ly0 << " " << lx1 << "," << ly1;
        EXPECT_NEAR(y0, row, 1e-6);

        // The slice's number above the middle of the line's start.
        EXPECT_EQ(number->Text(), QString::number(slice));
        EXPECT_EQ(number->Top(), line->Top() - 30);
        EXPECT_EQ(number->Left(), line->Left() - 50);
        EXPECT_EQ(number->ForeColour(), 0x80FF);
    }
}

TEST_F(NavigationTest, AutomaticSynchronisationFollowsTheSamePlanesOnly)
{
    OpenVisit();
    TFrameDicomViewer *main = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    TFrameDicomViewer *twin = AddFrame(axialKey);
    window->SetCurrentFrame(main);
    coronal->ScrollBar()->setValue(2);
    A("TBSeriesAuto")->trigger();
    ASSERT_EQ(window->SyncMode, 1);
    main->ScrollBar()->setValue(9);
    EXPECT_EQ(twin->ScrollBar()->value(), 9) << "same frame of reference and the same slice";
    EXPECT_EQ(coronal->ScrollBar()->value(), 2) << "the coronal images lie 200 mm away in y";

    // The pair limit: 20 mm along one axis is still in step, 25 mm is not.
    const auto axial = main->DicomViewer()->Images();
    EXPECT_TRUE(window->SyncCompatible(*axial->Item(1), *axial->Item(5)));
    EXPECT_FALSE(window->SyncCompatible(*axial->Item(1), *axial->Item(6)));
    EXPECT_FALSE(window->SyncCompatible(*axial->Item(1), *coronal->DicomViewer()->Images()->Item(1)));

    // Manual: the offset taken when the button was pressed; the other frame's scroll bar
    // stops at its end.
    window->LoadFrame(coronal, axialKey);
    window->LoadFrame(twin, axialKey);
    main->ScrollBar()->setValue(1);
    twin->ScrollBar()->setValue(3);
    A("TBSeriesManual")->trigger();
    ASSERT_EQ(window->SyncMode, 2);
    EXPECT_EQ(twin->SyncOffset, -2);
    main->ScrollBar()->setValue(10);
    EXPECT_EQ(twin->ScrollBar()->value(), 12);
    main->ScrollBar()->setValue(20);
    EXPECT_EQ(twin->ScrollBar()->value(), 20);
}

TEST_F(NavigationTest, Screenshots)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    window->resize(1200, 700);
    QCoreApplication::processEvents();
    coronal->ScrollBar()->setValue(3);
    axial->ScrollBar()->setValue(8);
    A("TBFirstLastRef")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->grab().save(ScreenshotPath(QStringLiteral("referencelines.png"))));
    A("TBAllRef")->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(coronal->grab().save(ScreenshotPath(QStringLiteral("referencelines-all.png"))));
    A("TBAllRef")->trigger();

    window->LoadFrame(coronal, axialKey);
    A("TBSeriesAuto")->trigger();
    axial->ScrollBar()->setValue(14);
    QCoreApplication::processEvents();
    EXPECT_EQ(coronal->ScrollBar()->value(), 14);
    EXPECT_TRUE(window->grab().save(ScreenshotPath(QStringLiteral("synchronised.png"))));
}

TEST_F(NavigationTest, ImageCommandsOnASeriesOfOneImageChangeNothing)
{
    OpenVisit();
    TFrameDicomViewer *frame = Frames()[0];
    window->LoadSeries(SeriesOf(QStringLiteral("CR")));
    ASSERT_EQ(frame->DicomViewer()->Images()->Count(), 1);
    EXPECT_FALSE(frame->ScrollBar()->isVisible());
    const QString instance = Shown(frame)->InstanceUID();
    for (const char *name : {"TBImageNext", "TBImageLast", "TBImagePrior", "TBImageFirst"}) {
        A(name)->trigger();
        EXPECT_EQ(frame->ScrollBar()->value(), 1) << name;
        EXPECT_EQ(Shown(frame)->InstanceUID(), instance) << name;
    }
    // On a longer series the same commands move and stop at the ends.
    window->LoadSeries(axialKey);
    A("TBImagePrior")->trigger();
    EXPECT_EQ(frame->ScrollBar()->value(), 1);
    A("TBImageNext")->trigger();
    EXPECT_EQ(Shown(frame)->InstanceUID(), frame->DicomViewer()->Images()->Item(2)->InstanceUID());
    A("TBImageLast")->trigger();
    A("TBImageNext")->trigger();
    EXPECT_EQ(frame->ScrollBar()->value(), 20);
}
