// The thumbnails window and the cine control window with the main window: study headers
// and series panels, the middle frame as picture, the click rule, the cine's buttons,
// menu and automatics, its mode and speed changes, closing on the right entry, and the
// cine's pace on the demo's angiography run, read from the schedule the control reports.

#include "imaging/tests/viewerlight_testimages.h"
#include "viewer/window/formcine.h"
#include "viewer/window/formthumbnails.h"
#include "viewer/window/tests/windowtesting.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include "testsupport/qtestgtest.h"

#include <cmath>

namespace {

using namespace windowtest;
using imaging::DicomViewerLight;

constexpr const char *kXA = "1.2.840.10008.5.1.4.1.1.12.1";

// A synthetic image of one series of one study; pixel value 20 x frame everywhere.
imaging::DicomImagePtr SeriesImage(const QString &study, const QString &date, const QString &description,
                                   const QString &series, int seriesNumber, int instance, int frames = 1)
{
    std::vector<viewerlight_test::ExtraAttribute> extra{
        {0x0020, 0x000D, study, QStringLiteral("UI")},
        {0x0020, 0x000E, series, QStringLiteral("UI")},
        {0x0008, 0x0020, date, QStringLiteral("DA")},
        {0x0020, 0x0011, QString::number(seriesNumber), QStringLiteral("IS")},
        {0x0020, 0x0013, QString::number(instance), QStringLiteral("IS")},
    };
    if (!description.isEmpty())
        extra.push_back({0x0008, 0x1030, description, QStringLiteral("LO")});
    return viewerlight_test::MakeMonoImage(64, 48, [](int, int, int f) { return 20 * f; }, frames, 100, 200, extra);
}

class ToolWindowsTest : public ViewerTest
{
protected:
    void TearDown() override
    {
        if (window) {
            window->CloseActiveChildWindow();
            for (int i = 0; i < 5; ++i)
                QCoreApplication::processEvents();
        }
    }

    QString XaKey()
    {
        const auto images = VisitData().VisitImages();
        for (int i = 1; i <= images->Count(); ++i)
            if (images->Item(i)->SOPClass() == QLatin1String(kXA))
                return images->Item(i)->SeriesUID();
        return {};
    }
    TFrameDicomViewer *Current() { return window->CurrentFrame(); }
    // The current frame's current image.
    imaging::DicomImagePtr Playing() { return Shown(Current()); }
    void OpenXa()
    {
        const QString key = XaKey();
        ASSERT_FALSE(key.isEmpty());
        window->SaveCurrentFrame();
        window->LoadSeries(key);
        window->UpdateControls();
        QCoreApplication::processEvents();
        ASSERT_NE(window->FormCine(), nullptr);
    }
    QFrame *PanelOfSeries(const QString &key)
    {
        for (QFrame *panel : window->FormThumbnails()->SeriesPanels())
            if (panel->toolTip() == key)
                return panel;
        return nullptr;
    }
};

TEST_F(ToolWindowsTest, TwoStudiesOfThreeSeriesGiveTwoHeadersAndSixPanels)
{
    OpenVisit();
    // The visit replaced by two studies of three series of two images each.
    auto visit = VisitData().VisitImages();
    visit->Clear();
    const QString studies[] = {QStringLiteral("1.2.826.0.1.3680043.9.7433.50.1"),
                               QStringLiteral("1.2.826.0.1.3680043.9.7433.50.2")};
    for (int s = 0; s < 2; ++s)
        for (int series = 1; series <= 3; ++series)
            for (int instance = 4; instance <= 5; ++instance)
                visit->Add(SeriesImage(studies[s], s == 0 ? QStringLiteral("20261109") : QStringLiteral("20260315"),
                                       s == 0 ? QStringLiteral("Abdomen et thorax") : QString(),
                                       studies[s] + QStringLiteral(".%1").arg(series), series + 10 * s, instance));
    window->SetDown(QStringLiteral("TBThumbnails"), true);
    window->TBThumbnailsClick();
    TFormThumbnails *thumbnails = window->FormThumbnails();
    ASSERT_NE(thumbnails, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(thumbnails));
    EXPECT_EQ(thumbnails->windowTitle(), QStringLiteral("Miniatures"));

    ASSERT_EQ(thumbnails->HeaderPanels().size(), 2);
    ASSERT_EQ(thumbnails->SeriesPanels().size(), 6);
    auto headerText = [](QFrame *header) { return header->findChild<QLabel *>()->text(); };
    EXPECT_EQ(headerText(thumbnails->HeaderPanels()[0]), QStringLiteral("20261109\nAbdomen et thorax"));
    EXPECT_EQ(headerText(thumbnails->HeaderPanels()[1]), QStringLiteral("20260315"));
    const QStringList labels{"Se:1 - Im:4", "Se:2 - Im:4", "Se:3 - Im:4", "Se:11 - Im:4", "Se:12 - Im:4", "Se:13 - Im:4"};
    for (int i = 0; i < 6; ++i) {
        QFrame *panel = thumbnails->SeriesPanels()[i];
        EXPECT_EQ(TFormThumbnails::PanelLabel(panel)->text(), labels[i]);
        // Named after the first image's index; its hint is the series.
        EXPECT_EQ(panel->objectName(), QStringLiteral("Panel%1").arg(1 + 2 * i));
        EXPECT_EQ(panel->toolTip(), visit->Item(1 + 2 * i)->SeriesUID());
        EXPECT_EQ(TFormThumbnails::PanelViewer(panel)->Images()->Count(), 1);
        EXPECT_EQ(panel->width(), 110);
        EXPECT_EQ(panel->height(), 110 + TFormThumbnails::PanelLabel(panel)->height());
    }
    // Top to bottom: header, three panels, header, three panels, 5 pixels apart.
    QList<QFrame *> order{thumbnails->HeaderPanels()[0]};
    order << thumbnails->SeriesPanels().mid(0, 3) << thumbnails->HeaderPanels()[1] << thumbnails->SeriesPanels().mid(3);
    EXPECT_EQ(order.first()->y(), 5);
    for (int i = 1; i < order.size(); ++i)
        EXPECT_EQ(order[i]->y(), order[i - 1]->y() + order[i - 1]->height() + 5);

    // Beside the main window at the desktop's right edge; eight boxes of 110 pixels do
    // not fit its height, so the window is wider by the scroll bar, to the left.
    EXPECT_EQ(thumbnails->height(), window->height() - 100);
    EXPECT_EQ(thumbnails->y(), 50);
    const int bar = thumbnails->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const bool scrolls = thumbnails->ScrollBox1->verticalScrollBar()->maximum() > 0;
    EXPECT_EQ(thumbnails->width(), 130 + (scrolls ? bar : 0));
    EXPECT_EQ(thumbnails->x(), TemplateDM().DesktopWidth() - 130 - 20 - (scrolls ? bar : 0));
    if (scrolls) {
        QScrollBar *scroll = thumbnails->ScrollBox1->verticalScrollBar();
        QWheelEvent down(QPointF(10, 10), thumbnails->mapToGlobal(QPointF(10, 10)), {}, {0, -120}, Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(TFormThumbnails::PanelLabel(thumbnails->SeriesPanels()[0]), &down);
        EXPECT_EQ(scroll->value(), scroll->singleStep());
    }
}

TEST_F(ToolWindowsTest, ThePictureIsTheMiddleFrame)
{
    OpenVisit();
    auto visit = VisitData().VisitImages();
    visit->Clear();
    const QString study = QStringLiteral("1.2.826.0.1.3680043.9.7433.51");
    const auto run = SeriesImage(study, QStringLiteral("20261109"), {}, study + QStringLiteral(".1"), 1, 1, 10);
    const auto single = SeriesImage(study, QStringLiteral("20261109"), {}, study + QStringLiteral(".2"), 2, 1, 1);
    visit->Add(run);
    visit->Add(single);
    window->SetDown(QStringLiteral("TBThumbnails"), true);
    window->TBThumbnailsClick();
    TFormThumbnails *thumbnails = window->FormThumbnails();
    ASSERT_NE(thumbnails, nullptr);
    ASSERT_EQ(thumbnails->SeriesPanels().size(), 2);
    // The grey of each picture against the same image's frames shown plainly.
    auto grey = [](DicomViewerLight &control, const imaging::DicomImagePtr &image) {
        const QImage picture = control.Picture(image, QSize(32, 32));
        return qGray(picture.pixel(16, 16));
    };
    DicomViewerLight *first = TFormThumbnails::PanelViewer(thumbnails->SeriesPanels()[0]);
    DicomViewerLight *second = TFormThumbnails::PanelViewer(thumbnails->SeriesPanels()[1]);
    const int shown = grey(*first, first->Images()->Item(1));
    for (int frame : {4, 5, 6}) {
        const auto copy = first->SubImage(run, 1, 1, run->SizeX(), run->SizeY(), 1.0, frame);
        EXPECT_EQ(shown == grey(*first, copy), frame == 5) << frame;
    }
    const auto only = second->SubImage(single, 1, 1, single->SizeX(), single->SizeY(), 1.0, 1);
    EXPECT_EQ(grey(*second, second->Images()->Item(1)), grey(*second, only));
    // The visit's images keep their corner texts on and their own frame.
    EXPECT_TRUE(run->ShowLabels());
    EXPECT_EQ(run->Frame(), 1);
    // No bigger than its cell.
    const auto picture = first->Images()->Item(1);
    EXPECT_LE(std::max(picture->SizeX(), picture->SizeY()), 110);
    EXPECT_FALSE(picture->CacheDisplay());
}

TEST_F(ToolWindowsTest, AClickShowsTheSeriesAndMarksItsPanel)
{
    OpenVisit();
    window->SetDown(QStringLiteral("TBThumbnails"), true);
    window->TBThumbnailsClick();
    TFormThumbnails *thumbnails = window->FormThumbnails();
    ASSERT_NE(thumbnails, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(thumbnails));
    EXPECT_EQ(thumbnails->SelectedPanel(), nullptr);
    QFrame *mr = PanelOfSeries(mrKey);
    QFrame *coronal = PanelOfSeries(coronalKey);
    ASSERT_TRUE(mr && coronal);
    thumbnails->ScrollBox1->ensureWidgetVisible(mr);
    QTest::mouseClick(TFormThumbnails::PanelLabel(mr), Qt::LeftButton);
    EXPECT_EQ(thumbnails->SelectedPanel(), mr);
    EXPECT_EQ(mr->palette().color(QPalette::Window), QColor(0xFF, 0x80, 0x00));
    EXPECT_EQ(Current()->DicomViewer()->Images()->Item(1)->SeriesUID(), mrKey);
    // A right click chooses nothing.
    QTest::mouseClick(TFormThumbnails::PanelLabel(coronal), Qt::RightButton);
    EXPECT_EQ(thumbnails->SelectedPanel(), mr);
    thumbnails->ThumbnailClick(coronal, true);
    EXPECT_EQ(thumbnails->SelectedPanel(), coronal);
    EXPECT_NE(mr->palette().color(QPalette::Window), QColor(0xFF, 0x80, 0x00));
    EXPECT_EQ(Current()->DicomViewer()->Images()->Item(1)->SeriesUID(), coronalKey);

    // Its button closes it; the message frees it and raises the button.
    window->SetDown(QStringLiteral("TBThumbnails"), false);
    window->TBThumbnailsClick();
    QTRY_VERIFY(window->FormThumbnails() == nullptr);
    EXPECT_FALSE(window->Down(QStringLiteral("TBThumbnails")));
}

TEST_F(ToolWindowsTest, AMultiFrameSeriesOpensThumbnailsAndCine)
{
    OpenVisit();
    OpenXa();
    TFormCine *cine = window->FormCine();
    EXPECT_TRUE(window->Down(QStringLiteral("TBCine")));
    EXPECT_TRUE(window->Down(QStringLiteral("TBThumbnails")));
    EXPECT_TRUE(window->Down(QStringLiteral("TBStudyExplode")));
    ASSERT_NE(window->FormThumbnails(), nullptr);
    // Created hidden; repeat at 1.00 on the image, no longer drawn from a cached picture.
    EXPECT_FALSE(cine->isVisible());
    const auto image = Playing();
    EXPECT_EQ(image->CineMode(), 3);
    EXPECT_DOUBLE_EQ(image->CineRate(), 1.0);
    EXPECT_FALSE(image->CacheDisplay());
    EXPECT_EQ(cine->TrackBar1->value(), 3);
    EXPECT_EQ(cine->ModeIndex(), 3);
    EXPECT_EQ(cine->RVFlatRadioGroup1->title(), QStringLiteral("[ Modes ]"));
    QStringList modes;
    for (QRadioButton *item : cine->RVFlatRadioGroup1->findChildren<QRadioButton *>())
        modes << item->text();
    EXPECT_EQ(modes, (QStringList{"Pause", "Avancé", "Inversé", "Répétition", "Oscillé"}));
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(cine->findChild<QLabel *>(QStringLiteral("LabelSpeed%1").arg(i))->text(),
                  QString::number(0.25 * (i + 1), 'f', 2));

    // While it runs: navigation and most commands off, thumbnails and cine on.
    for (const char *name : {"TBSerieNext", "TBImageNext", "TBVisiteOuvrir", "TBZoom", "TBStack", "TBInfos"})
        EXPECT_FALSE(A(name)->isEnabled()) << name;
    EXPECT_TRUE(A("TBThumbnails")->isEnabled());
    EXPECT_TRUE(A("TBCine")->isEnabled());
    // The frames ignore the mouse: a click on another cell changes nothing.
    const int index = Current()->CurrentImageIndex;
    DicomViewerLight *control = Current()->DicomViewer();
    QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(control->width() - 5, control->height() - 5));
    EXPECT_EQ(Current()->CurrentImageIndex, index);

    // TBCine's menu shows and hides the window.
    QMenu *menu = window->Menu(QStringLiteral("PopupMenuCine"));
    window->PopupMenuCinePopup();
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    EXPECT_FALSE(menu->actions()[1]->isEnabled());
    menu->actions()[0]->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(cine));
    EXPECT_EQ(cine->windowTitle(), QStringLiteral("Mode ciné"));
    // Shown where it belongs, with a single border; a click into it moves nothing.
    const QPoint placed = cine->pos();
    EXPECT_EQ(placed.x(), TemplateDM().MonitorLeft(cine->width(), 0));
    EXPECT_EQ(placed.y(), (TemplateDM().WorkAreaHeight() - cine->height()) / 2);
    EXPECT_EQ(cine->maximumSize(), cine->size());
    cine->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(cine));
    QTest::mouseClick(cine->findChild<QRadioButton *>(QStringLiteral("Mode3")), Qt::LeftButton);
    EXPECT_EQ(cine->pos(), placed);
    EXPECT_EQ(cine->ModeIndex(), 3);
    window->PopupMenuCinePopup();
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    EXPECT_TRUE(menu->actions()[1]->isEnabled());
    menu->actions()[1]->trigger();
    EXPECT_FALSE(cine->isVisible());

    // "1.75" keeps the mode; another mode keeps the speed.
    cine->TrackBar1->setValue(6);
    EXPECT_EQ(image->CineMode(), 3);
    EXPECT_DOUBLE_EQ(image->CineRate(), 1.75);
    cine->findChild<QRadioButton *>(QStringLiteral("Mode4"))->click();
    EXPECT_EQ(image->CineMode(), 4);
    EXPECT_DOUBLE_EQ(image->CineRate(), 1.75);

    // Closing the child window stops the cine and frees its window.
    window->CloseActiveChildWindow();
    QTRY_VERIFY(window->FormCine() == nullptr);
    QTRY_VERIFY(window->FormThumbnails() == nullptr);
    EXPECT_FALSE(window->Down(QStringLiteral("TBCine")));
    EXPECT_EQ(image->CineMode(), 0);
}

TEST_F(ToolWindowsTest, ClosingOnTheSeventhFrameLeavesTheFrameOnTheSeventhEntry)
{
    OpenVisit();
    OpenXa();
    TFormCine *cine = window->FormCine();
    const auto image = Playing();
    ASSERT_EQ(image->FrameCount(), 20);
    ASSERT_EQ(Current()->DicomViewer()->Images()->Count(), 20);
    const int startFrame = cine->RememberedFrame();
    cine->findChild<QRadioButton *>(QStringLiteral("Mode0"))->click(); // "Pause"
    EXPECT_EQ(image->CineMode(), 0);
    Current()->DicomViewerFrameChanging(Current()->CurrentImageIndex, 7);
    image->SetFrame(7);
    window->SetDown(QStringLiteral("TBCine"), false);
    window->TBCineClick();
    QTRY_VERIFY(window->FormCine() == nullptr);
    EXPECT_FALSE(window->Down(QStringLiteral("TBCine")));
    // The played image is back on its own frame; the frame shows the seventh entry.
    EXPECT_EQ(image->Frame(), startFrame);
    EXPECT_TRUE(image->CacheDisplay());
    EXPECT_EQ(Current()->ScrollBar()->value(), 7);
    EXPECT_EQ(Current()->CurrentImageIndex, 7);
    EXPECT_EQ(Playing()->Frame(), 7);
    EXPECT_TRUE(A("TBSerieNext")->isEnabled());
    EXPECT_TRUE(A("TBCine")->isEnabled());
}

TEST_F(ToolWindowsTest, AComputedTomographyThumbnailStopsTheCineAnAngiographyOneKeepsIt)
{
    OpenVisit();
    OpenXa();
    TFormThumbnails *thumbnails = window->FormThumbnails();
    ASSERT_NE(thumbnails, nullptr);
    const auto xaImage = Playing();
    thumbnails->ThumbnailClick(PanelOfSeries(XaKey()), false);
    EXPECT_TRUE(window->Down(QStringLiteral("TBCine")));
    ASSERT_NE(window->FormCine(), nullptr);
    EXPECT_EQ(Playing()->CineMode(), 3);

    thumbnails->ThumbnailClick(PanelOfSeries(axialKey), false);
    QTRY_VERIFY(window->FormCine() == nullptr);
    EXPECT_FALSE(window->Down(QStringLiteral("TBCine")));
    EXPECT_EQ(Current()->DicomViewer()->Images()->Item(1)->SeriesUID(), axialKey);
    // The run left behind does not go on playing.
    EXPECT_EQ(xaImage->CineMode(), 0);
    EXPECT_TRUE(xaImage->CacheDisplay());
    EXPECT_TRUE(A("TBSerieNext")->isEnabled());
}

// What the frame's control reported of the cine: frame, step, due time.
struct Step
{
    int frame = 0;
    qint64 step = 0, dueNs = 0;
};

TEST_F(ToolWindowsTest, TheAngiographyRunKeepsItsPaceInEveryMode)
{
    OpenVisit();
    OpenXa();
    TFormCine *cine = window->FormCine();
    const auto image = Playing();
    QList<Step> steps;
    Current()->DicomViewer()->OnCineFrame = [&](int, int frame, qint64 step, qint64 due) {
        steps.append({frame, step, due});
    };
    // Sets a speed and a mode through the window, then waits for `count` steps and checks
    // each against the grid of Frame Time 50 ms / speed from the moment it was applied.
    qint64 start = 0;
    double period = 0;
    auto run = [&](int position, int mode, int count, const std::function<int(qint64)> &expectedFrame) {
        cine->findChild<QRadioButton *>(QStringLiteral("Mode0"))->click();
        image->SetFrame(1);
        steps.clear();
        const double speed = TFormCine::kSpeeds[position];
        const qint64 before = DicomViewerLight::CineClockNs();
        cine->TrackBar1->setValue(position);
        cine->findChild<QRadioButton *>(QStringLiteral("Mode%1").arg(mode))->click();
        const qint64 after = DicomViewerLight::CineClockNs();
        QTRY_VERIFY_WITH_TIMEOUT(!steps.isEmpty() && steps.last().step >= count, 60000);
        period = 50e6 / speed;
        start = steps.first().dueNs - qint64(std::llround(steps.first().step * period));
        EXPECT_GE(start, before - 1);
        EXPECT_LE(start, after + 1);
        for (const Step &s : steps) {
            EXPECT_EQ(s.frame, expectedFrame(s.step)) << "mode " << mode << " step " << s.step;
            EXPECT_NEAR(double(s.dueNs - start), s.step * period, 1.0) << "mode " << mode << " step " << s.step;
        }
    };
    // Repeat at 1.00: the 20 frames take one second, frame 1 again at 1.0 s.
    run(3, 3, 20, [](qint64 k) { return int(1 + k % 20); });
    EXPECT_NEAR(double(steps.last().dueNs - start) / steps.last().step * 20, 1.0e9, 0.05e9);
    EXPECT_DOUBLE_EQ(period, 50e6);
    // 0.25 and 1.75: the same in proportion (4 s and 0.571 s for the 20 frames).
    run(0, 3, 2, [](qint64 k) { return int(1 + k % 20); });
    EXPECT_DOUBLE_EQ(period * 20, 4.0e9);
    run(6, 3, 20, [](qint64 k) { return int(1 + k % 20); });
    EXPECT_NEAR(period * 20, 0.5714e9, 0.001e9);
    // Forward once from frame 1: frames 2 .. 20, then it stays.
    run(6, 1, 19, [](qint64 k) { return int(1 + k); });
    QTest::qWait(100);
    EXPECT_EQ(image->Frame(), 20);
    // Reverse from frame 1 starts over from the other end: 19, 18 ... 1.
    run(6, 2, 19, [](qint64 k) { return int(20 - k); });
    // Oscillate: up to 20, back down to 1, up again.
    run(6, 4, 40, [](qint64 k) {
        const int phase = int(k % 38);
        return phase <= 19 ? 1 + phase : 39 - phase;
    });
}

} // namespace
