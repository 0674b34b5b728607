// Reference lines stay true to the screen: a line is only ever carried by the image a
// frame shows, and it is the line of the current frame's image that is on screen now.
// Each test changes the screen one way (the buttons popping up, the current image, the
// image of another frame, the series, the layout, the current frame) and then looks at
// every image of the visit for the lines it carries.

#include "viewer/window/formwinmultiple.h"
#include "viewer/window/tests/windowtesting.h"

#include <QMenu>
#include <QMouseEvent>
#include <QToolButton>
#include <QWheelEvent>

#include <functional>
#include <map>

using namespace windowtest;

namespace {

using Lines = std::map<const imaging::DicomImage *, QStringList>;

class ReferenceLineTest : public ViewerTest
{
protected:
    void TearDown() override
    {
        // The child window's closing message must not reach the next test's window.
        window.reset();
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }

    // The numbers written beside the reference lines an image carries, in order.
    static QStringList Numbers(const imaging::DicomImage &image)
    {
        QStringList numbers;
        const auto labels = image.Labels();
        for (int i = 12; i <= labels->Count(); ++i) {
            const auto label = labels->Item(i);
            if (label->ForeColour() == 0x80FF && label->LabelType() == imaging::DicomLabel::TypeText)
                numbers << label->Text();
        }
        return numbers;
    }

    // Every image of the visit and of the frames that carries reference lines.
    Lines LinesEverywhere()
    {
        Lines lines;
        auto look = [&](const imaging::DicomImagePtr &image) {
            if (image && ReferenceLabels(*image) > 0)
                lines[image.get()] = Numbers(*image);
        };
        const auto visit = VisitData().VisitImages();
        for (int i = 1; i <= visit->Count(); ++i)
            look(visit->Item(i));
        if (window->ActiveChild())
            for (TFrameDicomViewer *frame : Frames())
                for (int i = 1; i <= frame->DicomViewer()->Images()->Count(); ++i)
                    look(frame->DicomViewer()->Images()->Item(i));
        return lines;
    }

    static QString Instance(const imaging::DicomImage &image)
    {
        return loading::AttributeText(*image.Attributes(), 0x0020, 0x0013);
    }
    static imaging::DicomImagePtr OnScreen(TFrameDicomViewer *frame) { return frame->DicomViewer()->CurrentImage(); }

    // The numbers of the current frame's images that a reference button stands for.
    QStringList NumbersFor(const char *button)
    {
        TFrameDicomViewer *current = window->CurrentFrame();
        const auto images = current->DicomViewer()->Images();
        const auto shown = OnScreen(current);
        if (QLatin1String(button) == QLatin1String("TBCurrentRef"))
            return {Instance(*shown)};
        if (QLatin1String(button) == QLatin1String("TBFirstLastRef"))
            return {Instance(*images->Item(1)), Instance(*shown), Instance(*images->Item(images->Count()))};
        QStringList all;
        for (int i = 1; i <= images->Count(); ++i)
            all << Instance(*images->Item(i));
        return all;
    }

    // What the screen must show: the lines of `button` on the image of every frame
    // given, nothing anywhere else.
    void ExpectLinesOn(const QList<TFrameDicomViewer *> &frames, const char *button, const char *step)
    {
        Lines expected;
        for (TFrameDicomViewer *frame : frames)
            expected[OnScreen(frame).get()] = NumbersFor(button);
        const Lines actual = LinesEverywhere();
        EXPECT_EQ(actual.size(), expected.size()) << button << ", " << step;
        for (const auto &[image, numbers] : expected) {
            const auto found = actual.find(image);
            ASSERT_NE(found, actual.end()) << button << ", " << step << ": no line on a frame's image";
            EXPECT_EQ(found->second.join(QLatin1Char(' ')).toStdString(), numbers.join(QLatin1Char(' ')).toStdString())
                << button << ", " << step;
        }
    }
    void ExpectNoLines(const QString &step)
    {
        const Lines lines = LinesEverywhere();
        EXPECT_TRUE(lines.empty()) << step.toStdString() << ": " << lines.size() << " image(s) keep lines, the first "
                                   << (lines.empty() ? QString() : lines.begin()->second.join(QLatin1Char(' '))).toStdString();
    }
    bool AnyReferenceButtonDown()
    {
        return A("TBAllRef")->isChecked() || A("TBFirstLastRef")->isChecked() || A("TBCurrentRef")->isChecked();
    }

    // Pixels of the reference colour in the frame's picture as the control draws it.
    static int OrangePixels(TFrameDicomViewer *frame)
    {
        const QImage picture = frame->DicomViewer()->grab().toImage();
        int count = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                count += c.red() > 200 && c.green() > 90 && c.green() < 170 && c.blue() < 70 ? 1 : 0;
            }
        return count;
    }

    void Wheel(TFrameDicomViewer *frame, int delta)
    {
        QWidget *control = frame->DicomViewer();
        const QPoint p(control->width() / 2, control->height() / 2);
        QWheelEvent event(QPointF(p), QPointF(control->mapToGlobal(p)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(control, &event);
    }
    void Click(TFrameDicomViewer *frame, QPoint p = {})
    {
        QWidget *control = frame->DicomViewer();
        if (p.isNull())
            p = QPoint(control->width() / 2, control->height() / 2);
        QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, p);
    }
    // A drag of the left button (the scroll tool) by `steps` move events downwards.
    void ScrollDrag(TFrameDicomViewer *frame, int steps)
    {
        QWidget *control = frame->DicomViewer();
        QPoint p(control->width() / 2, control->height() / 3);
        QTest::mousePress(control, Qt::LeftButton, Qt::NoModifier, p);
        for (int i = 0; i < steps; ++i) {
            p.ry() += 5;
            QMouseEvent move(QEvent::MouseMove, QPointF(p), QPointF(control->mapToGlobal(p)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(control, &move);
        }
        QTest::mouseRelease(control, Qt::LeftButton, Qt::NoModifier, p);
    }

    // The series layout dialog answered with one of its series presets.
    void Layout(const char *preset)
    {
        window->RunWinMultiple = [preset](TFormWinMultiple &dialog) {
            dialog.show();
            dialog.Preset(QLatin1String(preset))->click();
            return dialog.ModalResult;
        };
        window->Personnaliser2Click();
        QCoreApplication::processEvents();
    }

    // The entry of a series in the child window's series menu, clicked.
    void ChooseInSeriesMenu(const QString &series)
    {
        TFormChildMDI *child = window->ActiveChild();
        child->PopupMenuSeriesPopup();
        for (QAction *study : child->PopupMenuSeries()->actions()) {
            if (!study->menu())
                continue;
            for (QAction *entry : study->menu()->actions())
                if (entry->toolTip() == series) {
                    entry->trigger();
                    return;
                }
        }
        ADD_FAILURE() << "no entry for the series in the menu";
    }

    // Counts the paintings of a widget.
    struct PaintCount : QObject
    {
        explicit PaintCount(QWidget *widget) { widget->installEventFilter(this); }
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
        int count = 0;
    };

    // The demo visit in a 2 x 2 grid: axial CT, coronal CT and the MR series of each echo
    // time (another frame of reference).
    void TwoByTwo()
    {
        OpenVisit();
        Layout("SBSerie2x2");
        ASSERT_EQ(Frames().size(), 4);
        ASSERT_EQ(OnScreen(Frames()[0])->SeriesUID(), axialKey);
        ASSERT_EQ(OnScreen(Frames()[1])->SeriesUID(), coronalKey);
        for (int i : {2, 3}) {
            const auto attributes = OnScreen(Frames()[i])->Attributes();
            ASSERT_EQ(loading::AttributeText(*attributes, 0x0008, 0x0060), QStringLiteral("MR")) << i;
            ASSERT_EQ(loading::AttributeText(*attributes, 0x0018, 0x0081).toDouble(), i == 2 ? 15.0 : 90.0);
        }
    }
};

const char *const kButtons[] = {"TBCurrentRef", "TBFirstLastRef", "TBAllRef"};

} // namespace

TEST_F(ReferenceLineTest, ButtonsPoppedUpByAnotherFrameOfReferenceLeaveNoLineOnAnyFrame)
{
    TwoByTwo();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    Click(coronal);
    ASSERT_EQ(window->CurrentFrame(), coronal);
    for (const char *button : kButtons) {
        // The axial frame comes before the MR frames: its line is drawn, then the MR frame
        // pops the buttons up, and the line must go with them.
        A(button)->trigger();
        EXPECT_FALSE(AnyReferenceButtonDown()) << button;
        ExpectNoLines(QLatin1String(button));
        QCoreApplication::processEvents();
        EXPECT_EQ(OrangePixels(axial), 0) << button << ": a line is drawn on the axial frame";

        Wheel(coronal, -120);
        Wheel(coronal, -120);
        ASSERT_EQ(coronal->ScrollBar()->value(), 3);
        ExpectNoLines(QLatin1String(button) + QStringLiteral(" then two wheel steps"));
        coronal->ScrollBar()->setValue(1);
    }

    // In stack mode one frame holds the whole study, CT and MR images together.
    Click(axial);
    Layout("SBSerie2x1");
    A("TBStack")->trigger();
    ASSERT_TRUE(window->StackDown());
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *second = Frames()[1];
    ASSERT_EQ(OnScreen(first)->SeriesUID(), axialKey);
    ASSERT_EQ(OnScreen(second)->SeriesUID(), coronalKey);
    A("TBAllRef")->trigger();
    EXPECT_FALSE(AnyReferenceButtonDown());
    ExpectNoLines(QStringLiteral("all lines of a study with two frames of reference"));
}

TEST_F(ReferenceLineTest, LinesFollowTheCurrentImageWhicheverWayItMoves)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    TFrameDicomViewer *second = AddFrame(coronalKey);
    second->ScrollBar()->setValue(5);
    Click(axial);
    ASSERT_EQ(window->CurrentFrame(), axial);
    QScrollBar *bar = axial->ScrollBar();
    for (const char *button : {"TBCurrentRef", "TBFirstLastRef"}) {
        A("TBImageFirst")->trigger();
        A(button)->trigger();
        ASSERT_TRUE(A(button)->isChecked());
        ExpectLinesOn({coronal, second}, button, "pressed");

        Wheel(axial, -120);
        Wheel(axial, -120);
        EXPECT_EQ(bar->value(), 3);
        ExpectLinesOn({coronal, second}, button, "wheel");
        A("TBImageNext")->trigger();
        ExpectLinesOn({coronal, second}, button, "next image");
        A("TBImageLast")->trigger();
        ExpectLinesOn({coronal, second}, button, "last image");
        A("TBImagePrior")->trigger();
        ExpectLinesOn({coronal, second}, button, "prior image");
        A("TBImageFirst")->trigger();
        EXPECT_EQ(bar->value(), 1);
        ExpectLinesOn({coronal, second}, button, "first image");
        // The scroll bar's own keys.
        QTest::keyClick(bar, Qt::Key_Down);
        QTest::keyClick(bar, Qt::Key_PageDown);
        EXPECT_GT(bar->value(), 1);
        ExpectLinesOn({coronal, second}, button, "keys");
        QTest::keyClick(bar, Qt::Key_End);
        EXPECT_EQ(bar->value(), 20);
        ExpectLinesOn({coronal, second}, button, "end key");
        A("TBImageFirst")->trigger();
        ScrollDrag(axial, 4);
        EXPECT_EQ(bar->value(), 5);
        ExpectLinesOn({coronal, second}, button, "scroll tool");

        A(button)->trigger();
        EXPECT_FALSE(AnyReferenceButtonDown());
        ExpectNoLines(QLatin1String(button) + QStringLiteral(" raised"));
    }
}

TEST_F(ReferenceLineTest, AFrameScrolledByItsOwnScrollBarGetsTheLineOnItsNewImage)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    axial->ScrollBar()->setValue(5);
    coronal->ScrollBar()->setValue(2);
    for (const char *button : kButtons) {
        A(button)->trigger();
        ExpectLinesOn({coronal}, button, "pressed");
        // The other frame's scroll bar moves without the frame becoming current.
        coronal->ScrollBar()->setValue(3);
        ASSERT_EQ(window->CurrentFrame(), axial);
        ExpectLinesOn({coronal}, button, "other frame scrolled");
        // The current image moves on; the coronal image left behind must not come back
        // with the line of the image that was current before.
        axial->ScrollBar()->setValue(9);
        coronal->ScrollBar()->setValue(2);
        ExpectLinesOn({coronal}, button, "other frame scrolled back");
        axial->ScrollBar()->setValue(5);
        A(button)->trigger();
        ExpectNoLines(QLatin1String(button) + QStringLiteral(" raised"));
    }
}

TEST_F(ReferenceLineTest, LinesMoveToTheOtherFramesWhenTheCurrentFrameChanges)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    axial->ScrollBar()->setValue(6);
    coronal->ScrollBar()->setValue(4);
    for (const char *button : kButtons) {
        A(button)->trigger();
        ExpectLinesOn({coronal}, button, "axial current");
        Click(coronal);
        ASSERT_EQ(window->CurrentFrame(), coronal);
        ExpectLinesOn({axial}, button, "coronal clicked");
        Wheel(axial, -120);
        ASSERT_EQ(window->CurrentFrame(), axial);
        EXPECT_EQ(axial->ScrollBar()->value(), 7);
        ExpectLinesOn({coronal}, button, "wheel over the axial frame");
        axial->ScrollBar()->setValue(6);
        A(button)->trigger();
        ExpectNoLines(QLatin1String(button) + QStringLiteral(" raised"));
    }
}

TEST_F(ReferenceLineTest, ASeriesChangeShowsOnlyTheLinesOfTheNewSeries)
{
    OpenVisit();
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *second = Frames()[1];
    // The series buttons pop the reference buttons up.
    const QList<QPair<const char *, QString>> commands{{"TBSerieNext", axialKey},
                                                        {"TBSeriePrior", coronalKey},
                                                        {"TBSerieLast", axialKey},
                                                        {"TBSerieFirst", coronalKey}};
    for (const auto &[command, from] : commands) {
        window->LoadSeries(from);
        window->LoadFrame(second, from == axialKey ? coronalKey : axialKey);
        A("TBCurrentRef")->trigger();
        ASSERT_FALSE(LinesEverywhere().empty()) << command;
        A(command)->trigger();
        EXPECT_NE(OnScreen(first)->SeriesUID(), from) << command;
        EXPECT_FALSE(AnyReferenceButtonDown()) << command;
        ExpectNoLines(QLatin1String(command));
    }

    // The series menu keeps them down: the lines are those of the series now shown.
    window->LoadSeries(axialKey);
    window->LoadFrame(second, axialKey);
    second->ScrollBar()->setValue(8);
    A("TBAllRef")->trigger();
    ExpectNoLines(QStringLiteral("two axial frames (parallel planes)"));
    ChooseInSeriesMenu(coronalKey);
    ASSERT_EQ(OnScreen(first)->SeriesUID(), coronalKey);
    ASSERT_TRUE(A("TBAllRef")->isChecked());
    ExpectLinesOn({second}, "TBAllRef", "coronal chosen in the series menu");
    A("TBAllRef")->trigger();

    // In stack mode the menu moves inside the study of the frame; the buttons pop up.
    A("TBStack")->trigger();
    ASSERT_TRUE(window->StackDown());
    Click(first);
    A("TBCurrentRef")->trigger();
    const int studyImages = first->DicomViewer()->Images()->Count();
    ChooseInSeriesMenu(axialKey);
    EXPECT_EQ(first->DicomViewer()->Images()->Count(), studyImages) << "the frame keeps its study";
    ASSERT_NE(OnScreen(first), nullptr);
    EXPECT_EQ(OnScreen(first)->SeriesUID(), axialKey);
    EXPECT_FALSE(AnyReferenceButtonDown());
    ExpectNoLines(QStringLiteral("series menu in stack mode"));
}

TEST_F(ReferenceLineTest, LayoutChangesLeaveNoLineBehind)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    axial->ScrollBar()->setValue(4);
    A("TBCurrentRef")->trigger();
    ExpectLinesOn({coronal}, "TBCurrentRef", "two frames");

    // One frame: the coronal series leaves the screen and must not keep its line for the
    // day it comes back.
    Layout("SBSerie1x1");
    ASSERT_EQ(Frames().size(), 1);
    ExpectNoLines(QStringLiteral("one frame left"));
    A("TBSerieNext")->trigger();
    ASSERT_EQ(OnScreen(Frames()[0])->SeriesUID(), coronalKey);
    ExpectNoLines(QStringLiteral("the coronal series back"));

    // Back to two frames with the buttons down: the new frames get the lines of the
    // image that is current now.
    window->LoadSeries(axialKey);
    window->CurrentFrame()->ScrollBar()->setValue(6);
    A("TBCurrentRef")->trigger();
    Layout("SBSerie2x1");
    ASSERT_EQ(Frames().size(), 2);
    ASSERT_EQ(window->CurrentFrame(), Frames()[0]);
    ExpectLinesOn({Frames()[1]}, "TBCurrentRef", "two frames again");
    // Four frames: the MR frames pop the buttons up.
    Layout("SBSerie2x2");
    EXPECT_FALSE(AnyReferenceButtonDown());
    ExpectNoLines(QStringLiteral("four frames"));

    // Several images in the current frame: the line is the one of the image the frame
    // calls current; back to one image, the clicked image becomes it.
    Layout("SBSerie2x1");
    axial = Frames()[0];
    coronal = Frames()[1];
    A("TBWinMultiple")->trigger();
    A("TBCurrentRef")->trigger();
    ExpectLinesOn({coronal}, "TBCurrentRef", "four images in the axial frame");
    QWidget *control = axial->DicomViewer();
    Click(axial, QPoint(control->width() * 3 / 4, control->height() / 4));
    ASSERT_EQ(axial->CurrentImageIndex, 2);
    A("TBWinSimple")->trigger();
    ASSERT_EQ(axial->DicomViewer()->CurrentIndex(), 2);
    ExpectLinesOn({coronal}, "TBCurrentRef", "back to one image");
    // Exploding hides the coronal frame with its line; un-exploding shows it again, true.
    A("TBStudyExplode")->trigger();
    A("TBStudyExplode")->trigger();
    ExpectLinesOn({coronal}, "TBCurrentRef", "exploded and back");
}

TEST_F(ReferenceLineTest, EveryWayTheButtonsPopUpClearsAndRepaintsTheFrames)
{
    OpenVisit();
    TFrameDicomViewer *current = Frames()[0];
    TFrameDicomViewer *other = Frames()[1];
    struct Way
    {
        const char *name;
        std::function<void()> run;
    };
    const QList<Way> ways{
        {"the button clicked again", [&] { A("TBCurrentRef")->trigger(); }},
        {"next series", [&] { A("TBSerieNext")->trigger(); }},
        {"prior series", [&] { A("TBSeriePrior")->trigger(); }},
        {"stack mode on", [&] { A("TBStack")->trigger(); }},
        {"next series in stack mode", [&] { A("TBSerieNext")->trigger(); }},
        {"prior series in stack mode", [&] { A("TBSeriePrior")->trigger(); }},
        {"stack mode off", [&] { A("TBStack")->trigger(); }},
    };
    PaintCount paints(other->DicomViewer());
    for (const Way &way : ways) {
        // A coronal image current, an axial image in the other frame.
        Click(current);
        if (window->StackDown()) {
            current->ScrollBar()->setValue(21);
            other->ScrollBar()->setValue(1);
        } else {
            window->LoadSeries(coronalKey);
            window->LoadFrame(other, axialKey);
        }
        ASSERT_EQ(OnScreen(current)->SeriesUID(), coronalKey) << way.name;
        ASSERT_EQ(OnScreen(other)->SeriesUID(), axialKey) << way.name;
        A("TBCurrentRef")->trigger();
        ASSERT_EQ(ReferenceLabels(*OnScreen(other)), 2) << way.name;
        QCoreApplication::processEvents();
        paints.count = 0;
        way.run();
        QCoreApplication::processEvents();
        EXPECT_FALSE(AnyReferenceButtonDown()) << way.name;
        ExpectNoLines(QLatin1String(way.name));
        EXPECT_GT(paints.count, 0) << way.name << ": the other frame still shows the line it lost";
    }
}

TEST_F(ReferenceLineTest, NoLineBetweenImagesThatHaveNoFrameOfReference)
{
    OpenVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    // Positions and orientations alone do not put two images in one space.
    for (TFrameDicomViewer *frame : {axial, coronal})
        for (int i = 1; i <= frame->DicomViewer()->Images()->Count(); ++i)
            frame->DicomViewer()->Images()->Item(i)->Attributes()->Remove(0x0020, 0x0052);
    A("TBCurrentRef")->trigger();
    EXPECT_FALSE(AnyReferenceButtonDown());
    ExpectNoLines(QStringLiteral("no frame of reference"));
}
