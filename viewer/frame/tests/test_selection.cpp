// Image selection on a frame: the click on a marker, the marker colours, the selection
// menu and its group commands in both series and stack mode.

#include "frametesting.h"

#include "viewer/frame/selection.h"
#include "viewer/loading/cornertext.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

using namespace frametest;

namespace {

class SelectionHost : public RecordingHost
{
public:
    bool stack = false;
    QList<TFrameDicomViewer *> frames;
    int saves = 0;
    bool ButtonDown(TFrameButton b) const override
    {
        return (b == TFrameButton::Stack && stack) || RecordingHost::ButtonDown(b);
    }
    QList<TFrameDicomViewer *> ChildFrames(TFrameDicomViewer *frame) override
    {
        return frames.isEmpty() ? QList<TFrameDicomViewer *>{frame} : frames;
    }
    void SaveCurrentFrame() override { ++saves; }
};

class SelectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        shell.Create();
        TFrameDicomViewer::SetHost(&host);
        VisitData().SetStackModeSource([this] { return host.stack; });
        ASSERT_TRUE(LoadVisit("demo", QStringLiteral("KV000123")));
        frame = std::make_unique<TFrameDicomViewer>();
        frame->resize(520, 520);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    void TearDown() override
    {
        frame.reset();
        other.reset();
        VisitData().SetStackModeSource({});
        TFrameDicomViewer::SetHost(nullptr);
    }

    void ShowKey(TFrameDicomViewer &f, const QString &key)
    {
        Fill(f, key);
        f.DicomViewer()->Refresh();
        QCoreApplication::processEvents();
    }
    imaging::DicomImagePtr Image(int i) { return frame->DicomViewer()->Images()->Item(i); }
    static imaging::DicomLabelPtr Marker(const imaging::DicomImage &image)
    {
        return image.Labels()->Item(loading::kLabelSelection);
    }
    // A point of the control where the marker of the cell on screen is hit.
    QPoint MarkerPoint()
    {
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x) {
                const auto hits = frame->DicomViewer()->LabelHits(x, y, true, true, true);
                if (hits->Count() > 0
                    && hits->Item(hits->Count())->LabelType() == imaging::DicomLabel::TypeRectangle)
                    return {x, y};
            }
        return {-1, -1};
    }
    void Click(Qt::MouseButton button, QPoint p)
    {
        QTest::mousePress(frame->DicomViewer(), button, Qt::NoModifier, p);
        QTest::mouseRelease(frame->DicomViewer(), button, Qt::NoModifier, p);
    }
    void Run(const char *name)
    {
        QAction *a = selection::PopupMenuSelect(*frame)->findChild<QAction *>(QLatin1String(name));
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    }
    static std::vector<int> Colours(const imaging::DicomImages &images)
    {
        std::vector<int> colours;
        for (int i = 1; i <= images.Count(); ++i)
            colours.push_back(Marker(*images.Item(i))->BackColour());
        return colours;
    }

    ShellFixture shell;
    SelectionHost host;
    std::unique_ptr<TFrameDicomViewer> frame;
    std::unique_ptr<TFrameDicomViewer> other;
};

} // namespace

TEST_F(SelectionTest, ClickingAMarkerTogglesItsImageAndTheColoursFollowTheWholeFrame)
{
    ShowKey(*frame, VisitData().VisitImages()->Item(FirstOfModality(QStringLiteral("MR")))->SeriesUID());
    const int count = frame->DicomViewer()->Images()->Count();
    ASSERT_GT(count, 2);
    const QPoint p = MarkerPoint();
    ASSERT_GE(p.x(), 0) << "no marker on screen";
    // Nothing selected yet: a click selects the image on screen only, and as the frame
    // is not all selected the markers are blue.
    EXPECT_FALSE(selection::IsSelected(*Image(1)));
    Click(Qt::LeftButton, p);
    EXPECT_TRUE(selection::IsSelected(*Image(1)));
    EXPECT_FALSE(selection::IsSelected(*Image(2)));
    EXPECT_EQ(Colours(*frame->DicomViewer()->Images()), std::vector<int>(count, selection::kPartlySelectedColour));
    EXPECT_EQ(frame->HitLabels, nullptr);
    EXPECT_GE(host.saves, 1);
    EXPECT_GE(host.shares, 1);
    EXPECT_EQ(host.seriesMenus, 0);

    Run("Slectionnertouteslesimagesdelasrie1");
    EXPECT_EQ(selection::CountSelected(*frame->DicomViewer()->Images()), count);
    EXPECT_EQ(Colours(*frame->DicomViewer()->Images()), std::vector<int>(count, selection::kAllSelectedColour));
    // One image off: every marker turns blue; on again: all red.
    Click(Qt::LeftButton, p);
    EXPECT_FALSE(selection::IsSelected(*Image(1)));
    EXPECT_EQ(Colours(*frame->DicomViewer()->Images()), std::vector<int>(count, selection::kPartlySelectedColour));
    Click(Qt::LeftButton, p);
    EXPECT_EQ(Colours(*frame->DicomViewer()->Images()), std::vector<int>(count, selection::kAllSelectedColour));
    // The frame holds the visit's own entries: the visit sees the selection.
    EXPECT_EQ(selection::CountSelected(*VisitData().VisitImages()), count);

    Run("Dslectionnertouteslesimages1");
    EXPECT_EQ(selection::CountSelected(*VisitData().VisitImages()), 0);
}

TEST_F(SelectionTest, RightClickOnAMarkerOpensTheSelectionMenuNotTheSeriesMenu)
{
    ShowKey(*frame, VisitData().VisitImages()->Item(1)->SeriesUID());
    const QPoint p = MarkerPoint();
    ASSERT_GE(p.x(), 0);
    Click(Qt::RightButton, p);
    QMenu *menu = selection::PopupMenuSelect(*frame);
    QTRY_VERIFY(menu->isVisible());
    EXPECT_EQ(host.seriesMenus, 0);
    EXPECT_FALSE(selection::IsSelected(*Image(1)));
    QStringList captions, names;
    for (QAction *a : menu->actions()) {
        captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        names << a->objectName();
    }
    EXPECT_EQ(names, (QStringList{"Slectionnertouteslesimagesdelavisite1", "Dslectionnertouteslesimagesdelavisite1", "N3",
                                  "Slectionnertouteslesimagesdelasrie1", "Dslectionnertouteslesimages1", "N1",
                                  "Slectionnertouteslesimagesdetouteslessries1",
                                  "Dslectionnertouteslesimagesdetouteslessries1", "N2",
                                  "Slectionnertouteslesimagesdeltude1", "Dslectionnertouteslesimagesdeltude1"}));
    EXPECT_EQ(captions[0], QString::fromUtf8("Sélectionner toutes les images de la visite"));
    EXPECT_EQ(captions[10], QString::fromUtf8("Désélectionner toutes les images de l'étude"));
    menu->hide();
    // Away from the marker the right click is still the series menu's.
    Click(Qt::RightButton, {260, 260});
    EXPECT_EQ(host.seriesMenus, 1);
}

TEST_F(SelectionTest, AllSeriesReachesImagesNoFrameShowsAndPaintsThemRed)
{
    ShowKey(*frame, VisitData().VisitImages()->Item(1)->SeriesUID());
    other = std::make_unique<TFrameDicomViewer>();
    ShowKey(*other, VisitData().NextSeriesKey(VisitData().VisitImages()->Item(1)->SeriesUID()));
    host.frames = {frame.get(), other.get()};
    const auto visit = VisitData().VisitImages();
    Run("Slectionnertouteslesimagesdetouteslessries1");
    EXPECT_EQ(selection::CountSelected(*visit), visit->Count());
    EXPECT_EQ(Colours(*visit), std::vector<int>(visit->Count(), selection::kAllSelectedColour));
    Run("Dslectionnertouteslesimagesdetouteslessries1");
    EXPECT_EQ(selection::CountSelected(*visit), 0);
}

TEST_F(SelectionTest, StackModeSeriesAndStudyCommandsKeepToTheirRuns)
{
    host.stack = true;
    const auto visit = VisitData().VisitImages();
    const QString mainStudy = visit->Item(1)->StudyUID();
    ShowKey(*frame, mainStudy);
    const auto images = frame->DicomViewer()->Images();
    // The frame holds the whole study: several series.
    ASSERT_GT(loading::CountSeries(*images, false), 1);
    // The series command on the MR run selects that run only.
    const int mr = FirstOfModality(QStringLiteral("MR"));
    const QString mrSeries = visit->Item(mr)->SeriesUID();
    const int first = loading::ViewerSeriesFirstIndex(*images, mrSeries);
    const int last = loading::ViewerSeriesLastIndex(*images, mrSeries);
    frame->DicomViewer()->SetCurrentIndex(first + 1);
    Run("Slectionnertouteslesimagesdelasrie1");
    for (int i = 1; i <= images->Count(); ++i)
        EXPECT_EQ(selection::IsSelected(*images->Item(i)), i >= first && i <= last) << i;
    Run("Dslectionnertouteslesimages1");
    EXPECT_EQ(selection::CountSelected(*images), 0);

    // A frame holding two studies (the second study added after the first): the study
    // command stops at the first image of the other study, in every frame.
    const QString secondStudy = VisitData().NextSeriesKey(mainStudy);
    ASSERT_FALSE(secondStudy.isEmpty());
    other = std::make_unique<TFrameDicomViewer>();
    ShowKey(*other, mainStudy);
    const int mainCount = other->DicomViewer()->Images()->Count();
    for (int i = VisitData().SeriesFirstIndex(secondStudy); i <= VisitData().SeriesLastIndex(secondStudy); ++i)
        other->DicomViewer()->Images()->Add(visit->Item(i));
    // And a frame that starts with the other study: untouched.
    auto third = std::make_unique<TFrameDicomViewer>();
    ShowKey(*third, secondStudy);
    host.frames = {frame.get(), other.get(), third.get()};
    Run("Slectionnertouteslesimagesdeltude1");
    const auto two = other->DicomViewer()->Images();
    for (int i = 1; i <= two->Count(); ++i)
        EXPECT_EQ(selection::IsSelected(*two->Item(i)), i <= mainCount) << i;
    EXPECT_EQ(selection::CountSelected(*third->DicomViewer()->Images()), 0);
    // In the visit: every image of the main study, none of the other.
    for (int i = 1; i <= visit->Count(); ++i)
        EXPECT_EQ(selection::IsSelected(*visit->Item(i)), visit->Item(i)->StudyUID() == mainStudy) << i;
    // This frame is all selected: red.
    EXPECT_EQ(Colours(*images), std::vector<int>(images->Count(), selection::kAllSelectedColour));
    host.frames.clear();
}

TEST_F(SelectionTest, VisitCommandComparesTheAccessionOfTheTopRightText)
{
    const auto visit = VisitData().VisitImages();
    ShowKey(*frame, visit->Item(1)->SeriesUID());
    const QString accession = selection::AccessionOf(*visit->Item(1));
    EXPECT_EQ(accession, QStringLiteral("CT20261109001"));
    Run("Slectionnertouteslesimagesdelavisite1");
    int expected = 0;
    for (int i = 1; i <= visit->Count(); ++i) {
        const bool same = selection::AccessionOf(*visit->Item(i)) == accession;
        expected += same;
        EXPECT_EQ(selection::IsSelected(*visit->Item(i)), same) << i;
    }
    EXPECT_LT(expected, visit->Count());
    Run("Dslectionnertouteslesimagesdelavisite1");
    EXPECT_EQ(selection::CountSelected(*visit), 0);
}
