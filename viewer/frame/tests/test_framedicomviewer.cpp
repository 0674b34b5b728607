// The image frame driven alone, with a recording stand-in for the main window: every
// mouse tool on press, move and release, the pixel readout, the series-wide operations.

#include "frametesting.h"

#include "imaging/geometry.h"
#include "viewer/loading/cornertext.h"

#include <QApplication>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace frametest;

namespace {

class FrameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        shell.Create();
        TFrameDicomViewer::SetHost(&host);
        ASSERT_TRUE(LoadVisit("demo", QStringLiteral("KV000123")));
        frame = std::make_unique<TFrameDicomViewer>();
        frame->resize(520, 520);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    void TearDown() override
    {
        frame.reset();
        TFrameDicomViewer::SetHost(nullptr);
        TFrameDicomViewer::SetScreenCursor(0);
    }

    // The series of the first image of a modality.
    void Show(const QString &modality)
    {
        const int index = FirstOfModality(modality);
        ASSERT_GT(index, 0) << modality.toStdString();
        Fill(*frame, VisitData().VisitImages()->Item(index)->SeriesUID());
        frame->DicomViewer()->Refresh();
        QCoreApplication::processEvents();
    }

    QWidget *Control() { return frame->DicomViewer(); }
    imaging::DicomImagePtr Image(int i) { return frame->DicomViewer()->Images()->Item(i); }

    void Press(Qt::MouseButton button, QPoint p) { QTest::mousePress(Control(), button, Qt::NoModifier, p); }
    void Release(Qt::MouseButton button, QPoint p) { QTest::mouseRelease(Control(), button, Qt::NoModifier, p); }
    // A move with `buttons` held (QTest's own move does not carry held buttons).
    void Move(QPoint p, Qt::MouseButtons buttons)
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(p), QPointF(Control()->mapToGlobal(p)), Qt::NoButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(Control(), &event);
    }

    ShellFixture shell;
    RecordingHost host;
    std::unique_ptr<TFrameDicomViewer> frame;
};

QString Line(const imaging::DicomImage &image, int label, const char *prefix)
{
    return loading::TextLine(QLatin1String(prefix), image.Labels()->Item(label)->Text());
}

} // namespace

TEST_F(FrameTest, EveryToolShowsItsOwnPictureOnTheScreen)
{
    Show(QStringLiteral("CT"));
    // The picture on the screen while the button is held, by tool.
    auto shownWhileHeld = [this](Qt::MouseButton button) {
        Press(button, {200, 200});
        const QCursor *cursor = QGuiApplication::overrideCursor();
        const QCursor shown = cursor ? *cursor : QCursor();
        Release(button, {200, 200});
        return shown;
    };
    host.left = toolScroll;
    struct Case { Qt::MouseButton button; int tool; int slot; };
    const Case cases[] = {{Qt::LeftButton, toolScroll, crScroll},       {Qt::LeftButton, toolZoom, crZoom},
                          {Qt::RightButton, toolIntensite, crWidthLevel}, {Qt::RightButton, toolMove, crMove},
                          {Qt::RightButton, toolMesureLine, crMeasure},   {Qt::RightButton, toolMesureEllipse, crMeasure},
                          {Qt::RightButton, toolIndication, crMeasure},   {Qt::RightButton, toolMesureAngle, crMeasure}};
    QList<QImage> pictures;
    for (const Case &c : cases) {
        if (c.button == Qt::LeftButton)
            host.left = c.tool;
        else
            host.right = c.tool;
        const QCursor shown = shownWhileHeld(c.button);
        EXPECT_EQ(shown.shape(), Qt::BitmapCursor) << "tool " << c.tool;
        const QImage picture = shown.pixmap().toImage();
        EXPECT_EQ(picture, TemplateDM().Cursor(c.slot).pixmap().toImage()) << "tool " << c.tool;
        if (!pictures.contains(picture))
            pictures << picture;
    }
    // Five pictures of their own: scroll, zoom, width/level, pan, measure.
    EXPECT_EQ(pictures.size(), 5);
}

TEST_F(FrameTest, WindowLevelDragFollowsTheMouseAndReachesTheSeries)
{
    Show(QStringLiteral("CT"));
    host.right = toolIntensite;
    const auto image = Image(1);
    const double width = image->Width(), level = image->Level();
    Press(Qt::RightButton, {200, 200});
    Move({205, 202}, Qt::RightButton);
    Move({210, 205}, Qt::RightButton);
    EXPECT_DOUBLE_EQ(image->Width(), width + 10);
    EXPECT_DOUBLE_EQ(image->Level(), level + 5);
    EXPECT_EQ(Line(*image, loading::kLabelBottomLeft, "W:"),
              QStringLiteral("W: %1 L: %2").arg(std::lround(width + 10)).arg(std::lround(level + 5)));
    EXPECT_EQ(TFrameDicomViewer::ScreenCursor(), int(crWidthLevel));
    // The other images of the series only change at the release.
    EXPECT_DOUBLE_EQ(Image(2)->Width(), width);
    Release(Qt::RightButton, {210, 205});
    for (int i = 1; i <= frame->DicomViewer()->Images()->Count(); ++i) {
        EXPECT_DOUBLE_EQ(Image(i)->Width(), width + 10) << i;
        EXPECT_DOUBLE_EQ(Image(i)->Level(), level + 5) << i;
    }
    EXPECT_EQ(TFrameDicomViewer::ScreenCursor(), 0);
    EXPECT_GE(host.updates, 1);
}

TEST_F(FrameTest, ZoomChangesByOneTenthPerMoveAndStaysInItsRange)
{
    Show(QStringLiteral("CT"));
    host.left = toolZoom;
    const auto image = Image(1);
    // Choosing the zoom tool takes the fit off (the main window's part).
    image->SetStretchToFit(false);
    image->SetZoom(1.0);
    Press(Qt::LeftButton, {100, 100});
    Move({101, 100}, Qt::LeftButton); // down/right: out
    EXPECT_NEAR(image->Zoom(), 0.9, 1e-9);
    Move({140, 130}, Qt::LeftButton); // far: still one step
    EXPECT_NEAR(image->Zoom(), 0.8, 1e-9);
    Move({100, 100}, Qt::LeftButton); // up/left: in
    EXPECT_NEAR(image->Zoom(), 0.9, 1e-9);
    Move({100, 100}, Qt::LeftButton); // same sum: unchanged
    EXPECT_NEAR(image->Zoom(), 0.9, 1e-9);
    EXPECT_EQ(Line(*image, loading::kLabelTopLeft, "Zoom:"), QStringLiteral("Zoom: 0.9x"));
    // The image point under the press point stays there.
    const QPointF anchor = imaging::ClientToImage(image->Geometry(), QPointF(100, 100));
    Move({99, 100}, Qt::LeftButton);
    const QPointF after = imaging::ClientToImage(image->Geometry(), QPointF(100, 100));
    EXPECT_NEAR(anchor.x(), after.x(), 1.5);
    EXPECT_NEAR(anchor.y(), after.y(), 1.5);
    Release(Qt::LeftButton, {99, 100});
    // The release zooms once more and reaches every image of the series.
    EXPECT_NEAR(Image(2)->Zoom(), image->Zoom(), 1e-9);

    image->SetZoom(0.25);
    Press(Qt::LeftButton, {100, 100});
    Move({102, 100}, Qt::LeftButton);
    EXPECT_NEAR(image->Zoom(), 0.25, 1e-9) << "0.15 is below the range while dragging";
    Release(Qt::LeftButton, {104, 100});
    EXPECT_NEAR(image->Zoom(), 0.2, 1e-9) << "clamped at the release";

    image->SetZoom(63.95);
    Press(Qt::LeftButton, {100, 100});
    Move({98, 100}, Qt::LeftButton);
    EXPECT_NEAR(image->Zoom(), 63.95, 1e-9);
    Release(Qt::LeftButton, {97, 100});
    EXPECT_NEAR(image->Zoom(), 64.0, 1e-9);
}

TEST_F(FrameTest, PanMovesTheImageWithTheMouseAndReachesTheSeries)
{
    Show(QStringLiteral("CT"));
    host.right = toolMove;
    const auto image = Image(1);
    image->SetScrollX(5);
    image->SetScrollY(-3);
    Press(Qt::RightButton, {50, 50});
    Move({60, 70}, Qt::RightButton);
    EXPECT_EQ(image->ScrollX(), 5 - 10);
    EXPECT_EQ(image->ScrollY(), -3 - 20);
    EXPECT_EQ(TFrameDicomViewer::ScreenCursor(), int(crMove));
    Release(Qt::RightButton, {60, 70});
    EXPECT_EQ(Image(3)->ScrollX(), -5);
    EXPECT_EQ(Image(3)->ScrollY(), -23);
}

TEST_F(FrameTest, ScrollToolMovesOneImagePerEventAndStopsAtTheEnds)
{
    Show(QStringLiteral("CT"));
    host.left = toolScroll;
    const int count = frame->DicomViewer()->Images()->Count();
    ASSERT_GE(count, 3);
    Press(Qt::LeftButton, {100, 100});
    Move({100, 101}, Qt::LeftButton);
    EXPECT_EQ(frame->ScrollBar()->value(), 2);
    Move({100, 190}, Qt::LeftButton); // a fast drag is still one image
    EXPECT_EQ(frame->ScrollBar()->value(), 3);
    EXPECT_EQ(frame->CurrentImageIndex, 3);
    EXPECT_EQ(frame->DicomViewer()->CurrentIndex(), 3);
    Move({100, 150}, Qt::LeftButton);
    Move({100, 120}, Qt::LeftButton);
    Move({100, 110}, Qt::LeftButton);
    EXPECT_EQ(frame->ScrollBar()->value(), 1) << "clamped at the first image";
    Release(Qt::LeftButton, {100, 110});

    frame->ScrollBar()->setValue(count);
    Press(Qt::LeftButton, {100, 100});
    Move({100, 130}, Qt::LeftButton);
    EXPECT_EQ(frame->ScrollBar()->value(), count) << "clamped at the last image";
    Release(Qt::LeftButton, {100, 130});
}

TEST_F(FrameTest, PixelReadoutShowsHounsfieldUnitsOnCtAndNothingOnColour)
{
    Show(QStringLiteral("CT"));
    const auto image = Image(1);
    const QPoint at(260, 250);
    const int px = frame->DicomViewer()->ImageXPosition(at.x(), at.y());
    const int py = frame->DicomViewer()->ImageYPosition(at.x(), at.y());
    ASSERT_GE(px, 0);
    const int labels = image->Labels()->Count();
    QTest::mouseMove(Control(), at);
    Move(at, Qt::NoButton);
    const double value = image->PixelValue(px, py);
    EXPECT_EQ(host.status, QStringLiteral("(%1, %2) HU: %3").arg(px).arg(py).arg(QString::number(value, 'g', 15)));
    EXPECT_EQ(image->Labels()->Count(), labels) << "the probe label is removed again";

    // Over the black around the image, in its cell, the panel is cleared: no value is
    // shown for a place that has none.
    image->SetZoom(0.3);
    image->SetStretchToFit(false);
    frame->DicomViewer()->Refresh();
    ASSERT_EQ(frame->DicomViewer()->ImageIndex(480, 480), 1);
    ASSERT_LT(frame->DicomViewer()->ImageXPosition(480, 480), 0);
    Move({480, 480}, Qt::NoButton);
    EXPECT_EQ(host.status, QString());
    // Back on the image the value comes back.
    Move({60, 60}, Qt::NoButton);
    EXPECT_TRUE(host.status.contains(QStringLiteral("HU:"))) << host.status.toStdString();

    // A colour image (three samples per pixel) clears it.
    const int colour = [] {
        const auto images = VisitData().VisitImages();
        for (int i = 1; i <= images->Count(); ++i)
            if (images->Item(i)->IsColour())
                return i;
        return 0;
    }();
    ASSERT_GT(colour, 0);
    Fill(*frame, VisitData().VisitImages()->Item(colour)->SeriesUID());
    frame->DicomViewer()->Refresh();
    Move({200, 200}, Qt::NoButton);
    EXPECT_EQ(host.status, QString());
}

TEST_F(FrameTest, PixelReadoutOnRescaledRadiographyRoundsToFourDecimals)
{
    Show(QStringLiteral("CR"));
    const auto image = Image(1);
    const QPoint at(200, 200);
    const int px = frame->DicomViewer()->ImageXPosition(at.x(), at.y());
    const int py = frame->DicomViewer()->ImageYPosition(at.x(), at.y());
    ASSERT_GE(px, 0);
    Move(at, Qt::NoButton);
    const double value = std::nearbyint(image->PixelValue(px, py) * 10000) / 10000;
    EXPECT_EQ(host.status, QStringLiteral("(%1, %2) %3").arg(px).arg(py).arg(QString::number(value, 'g', 15)));
    EXPECT_FALSE(host.status.contains(QStringLiteral("HU:")));
}

TEST_F(FrameTest, PressOnAnotherCellMakesItCurrentAndHighlighted)
{
    Show(QStringLiteral("CT"));
    frame->DicomViewer()->SetMultiRows(2);
    frame->DicomViewer()->SetMultiColumns(2);
    frame->DicomViewer()->Refresh();
    frame->FrameEnter();
    EXPECT_EQ(host.current, frame.get());
    EXPECT_TRUE(frame->IsActive);
    const QRectF cell = frame->DicomViewer()->CellRect(3);
    Press(Qt::LeftButton, cell.center().toPoint());
    Release(Qt::LeftButton, cell.center().toPoint());
    EXPECT_EQ(frame->CurrentImageIndex, 4);
    EXPECT_EQ(Image(4)->BorderStyle(), 2);
    EXPECT_EQ(Image(4)->BorderColour(), 0x80FF);
    EXPECT_EQ(Image(4)->Labels()->Item(loading::kLabelSelection)->ForeColour(), 0x80FF);
    EXPECT_EQ(Image(1)->BorderStyle(), 0);
    EXPECT_EQ(Image(1)->BorderColour(), 0xC0C0C0);
    frame->FrameExit();
    EXPECT_FALSE(frame->IsActive);
    EXPECT_EQ(Image(4)->BorderStyle(), 0);
}

TEST_F(FrameTest, RightClickWithoutMovementOpensTheSeriesMenuAndRunsNoTool)
{
    Show(QStringLiteral("CT"));
    host.right = toolIntensite;
    const double width = Image(1)->Width();
    Press(Qt::RightButton, {150, 150});
    Release(Qt::RightButton, {150, 150});
    EXPECT_EQ(host.seriesMenus, 1);
    EXPECT_DOUBLE_EQ(Image(1)->Width(), width);
    // With a drag it is the tool, not the menu.
    Press(Qt::RightButton, {150, 150});
    Move({160, 150}, Qt::RightButton);
    Release(Qt::RightButton, {160, 150});
    EXPECT_EQ(host.seriesMenus, 1);
    EXPECT_DOUBLE_EQ(Image(1)->Width(), width + 10);
}

TEST_F(FrameTest, CineRunningIgnoresTheMouse)
{
    Show(QStringLiteral("CT"));
    host.cine = true;
    host.right = toolIntensite;
    const double width = Image(1)->Width();
    Press(Qt::RightButton, {150, 150});
    Move({170, 150}, Qt::RightButton);
    Release(Qt::RightButton, {170, 150});
    EXPECT_DOUBLE_EQ(Image(1)->Width(), width);
    EXPECT_EQ(host.seriesMenus, 0);
}

TEST_F(FrameTest, SeriesOperationsOnOrientationAndInversionComeBackWhereTheyStarted)
{
    Show(QStringLiteral("CT"));
    const int count = frame->DicomViewer()->Images()->Count();
    const double width = Image(1)->Width();
    frame->ApplyToSeries(17);
    for (int i = 1; i <= count; ++i)
        EXPECT_DOUBLE_EQ(Image(i)->Width(), -width);
    frame->ApplyToSeries(17);
    EXPECT_DOUBLE_EQ(Image(count)->Width(), width);
    for (int n = 0; n < 4; ++n)
        frame->ApplyToSeries(15);
    EXPECT_EQ(Image(2)->RotateState(), 0);
    frame->ApplyToSeries(15);
    EXPECT_EQ(Image(2)->RotateState(), 1);
    frame->ApplyToSeries(16);
    EXPECT_EQ(Image(2)->RotateState(), 0);
    frame->ApplyToSeries(13);
    EXPECT_EQ(Image(1)->FlipState(), 1);
    frame->ApplyToSeries(14);
    EXPECT_EQ(Image(1)->FlipState(), 2) << "a vertical mirror only";
    frame->ApplyToSeries(14);
    EXPECT_EQ(Image(1)->FlipState(), 0);
    const bool labels = Image(3)->ShowLabels();
    frame->ApplyToSeries(12);
    EXPECT_EQ(Image(3)->ShowLabels(), !labels);
    // A new image is fitted; stretch off shows it 1:1 centred in its cell, turned or not.
    EXPECT_TRUE(Image(1)->StretchToFit());
    Image(1)->SetZoom(1.0);
    frame->ApplyToSeries(15);
    frame->ApplyToSeries(11);
    EXPECT_FALSE(Image(1)->StretchToFit());
    frame->DicomViewer()->Refresh();
    const QRectF cell = frame->DicomViewer()->CellRect(0);
    const QRectF shown = imaging::ImageRectInClient(Image(1)->Geometry());
    EXPECT_NEAR(shown.center().x(), cell.center().x(), 0.5);
    EXPECT_NEAR(shown.center().y(), cell.center().y(), 0.5);
    EXPECT_DOUBLE_EQ(Image(1)->ActualZoom(), 1.0);
    EXPECT_EQ(Line(*Image(1), loading::kLabelTopLeft, "Zoom:"), QStringLiteral("Zoom: 1.0x"));
    frame->ApplyToSeries(11);
    EXPECT_TRUE(Image(1)->StretchToFit());
}

namespace {
// Where an image point shows, as a fraction of the picture's width and height on screen.
QPointF OnPicture(const imaging::DicomImage &image, QPointF point)
{
    const imaging::DisplayGeometry g = image.Geometry();
    const QRectF shown = imaging::ImageRectInClient(g);
    const QPointF at = imaging::ImageToClient(g, point);
    return QPointF((at.x() - shown.left()) / shown.width(), (at.y() - shown.top()) / shown.height());
}
} // namespace

TEST_F(FrameTest, MirrorsActOnTheScreenAndTurnsKeepTheirWayUnderAMirror)
{
    Show(QStringLiteral("CT"));
    const auto image = Image(1);
    const QPointF corner(image->SizeX(), 0); // the image's top-right corner
    // A quarter turn to the left brings it to the top-left; the horizontal mirror then
    // swaps left and right on screen: top-right again (not bottom-left).
    frame->ApplyToSeries(15);
    EXPECT_NEAR(OnPicture(*image, corner).x(), 0, 1e-9);
    EXPECT_NEAR(OnPicture(*image, corner).y(), 0, 1e-9);
    frame->ApplyToSeries(13);
    EXPECT_NEAR(OnPicture(*image, corner).x(), 1, 1e-9);
    EXPECT_NEAR(OnPicture(*image, corner).y(), 0, 1e-9);
    // The vertical mirror swaps top and bottom instead.
    frame->ApplyToSeries(14);
    EXPECT_NEAR(OnPicture(*image, corner).x(), 0, 1e-9);
    EXPECT_NEAR(OnPicture(*image, corner).y(), 1, 1e-9);
    // Under one mirror "left" still turns the picture left on screen: what was at the
    // bottom-left goes to the bottom-right... (u, v) -> (v, 1 - u).
    for (int op : {15, 16}) {
        const QPointF before = OnPicture(*image, corner);
        frame->ApplyToSeries(op);
        const QPointF after = OnPicture(*image, corner);
        const QPointF expected = op == 15 ? QPointF(before.y(), 1 - before.x()) : QPointF(1 - before.y(), before.x());
        EXPECT_NEAR(after.x(), expected.x(), 1e-9) << op;
        EXPECT_NEAR(after.y(), expected.y(), 1e-9) << op;
    }
    // And on every image of the series alike.
    for (int i = 2; i <= frame->DicomViewer()->Images()->Count(); ++i) {
        EXPECT_EQ(Image(i)->FlipState(), image->FlipState()) << i;
        EXPECT_EQ(Image(i)->RotateState(), image->RotateState()) << i;
    }
}

TEST_F(FrameTest, TheZoomLineFollowsLayoutChangesAndImageGrids)
{
    Show(QStringLiteral("CT"));
    auto zoomLine = [](const imaging::DicomImage &image) {
        return QStringLiteral("Zoom: ") + QString::number(image.ActualZoom(), 'f', 1) + QLatin1Char('x');
    };
    const auto image = Image(1);
    EXPECT_EQ(Line(*image, loading::kLabelTopLeft, "Zoom:"), zoomLine(*image));
    // Half as wide: the fitted image is shown smaller, the line says so.
    const double before = image->ActualZoom();
    frame->resize(260, 520);
    QTRY_VERIFY(image->ActualZoom() < before * 0.6);
    frame->DicomViewer()->repaint();
    EXPECT_EQ(Line(*image, loading::kLabelTopLeft, "Zoom:"), zoomLine(*image));
    // A 3 x 3 grid: every image shown reads its own cell's zoom.
    frame->resize(520, 520);
    frame->DicomViewer()->SetMultiRows(3);
    frame->DicomViewer()->SetMultiColumns(3);
    frame->DicomViewer()->SetCurrentIndex(6);
    frame->DicomViewer()->Refresh();
    for (int i = 6; i <= 14; ++i) {
        ASSERT_TRUE(Image(i));
        EXPECT_LT(Image(i)->ActualZoom(), 0.4) << i;
        EXPECT_EQ(Line(*Image(i), loading::kLabelTopLeft, "Zoom:"), zoomLine(*Image(i))) << i;
    }
}

TEST_F(FrameTest, TheScrollBarTakesItsRoomBesideTheImage)
{
    // A series of twenty images shows the bar: the control, and the fitted image in it,
    // stop where the bar begins.
    Show(QStringLiteral("CT"));
    ASSERT_GE(frame->DicomViewer()->Images()->Count(), 2);
    frame->ScrollBar()->show();
    QTRY_VERIFY(frame->ScrollBar()->isVisible());
    const QRect control = frame->DicomViewer()->geometry();
    EXPECT_LE(control.right(), frame->ScrollBar()->geometry().left() - 1);
    frame->DicomViewer()->Refresh();
    const QRectF shown = imaging::ImageRectInClient(Image(1)->Geometry());
    EXPECT_LE(shown.right(), frame->DicomViewer()->width() + 1e-6);
    EXPECT_NEAR(shown.center().x(), frame->DicomViewer()->CellRect(0).center().x(), 1e-6);
    // Hidden again, the control has the whole width.
    frame->ScrollBar()->hide();
    EXPECT_EQ(frame->DicomViewer()->width(), frame->contentsRect().width());
}

TEST_F(FrameTest, FramesOfAMultiFrameImageRewriteTheirLine)
{
    Show(QStringLiteral("XA"));
    const auto image = Image(1);
    ASSERT_GE(image->FrameCount(), 2);
    frame->DicomViewerFrameChanging(1, 2);
    EXPECT_EQ(Line(*image, loading::kLabelTopLeft, "Fr:"), QStringLiteral("Fr: 2/%1").arg(image->FrameCount()));
}

TEST_F(FrameTest, PressOnAMarkMovesItsGroupInsteadOfRunningTheTool)
{
    Show(QStringLiteral("CT"));
    host.right = toolIntensite;
    const auto image = Image(1);
    const auto line = image->Labels()->AddNew();
    line->SetLabelType(imaging::DicomLabel::TypeLine);
    line->SetImageTied(true);
    line->SetForeColour(0xFFFF00);
    line->SetLeft(100);
    line->SetTop(100);
    line->SetWidth(200);
    line->SetHeight(0);
    line->SetTag(QVariantList{0, 1, 500, 501});
    const auto letter = image->Labels()->AddNew();
    letter->SetLabelType(imaging::DicomLabel::TypeText);
    letter->SetImageTied(true);
    letter->SetText(QStringLiteral("A"));
    letter->SetLeft(300);
    letter->SetTop(110);
    letter->SetWidth(20);
    letter->SetHeight(20);
    letter->SetTag(QVariantList{0, 1, 501, 500});
    frame->DicomViewer()->Refresh();
    const double width = image->Width();
    const QPoint middle = imaging::ImageToClient(image->Geometry(), QPointF(200, 100)).toPoint();
    Press(Qt::RightButton, middle);
    EXPECT_EQ(TFrameDicomViewer::ScreenCursor(), -21);
    Move(middle + QPoint(20, 0), Qt::RightButton); // horizontal only: still a mark drag
    const int moved = line->Left();
    EXPECT_GT(moved, 100);
    EXPECT_EQ(letter->Left() - moved, 200) << "the letter moves with its line";
    Release(Qt::RightButton, middle + QPoint(20, 0));
    EXPECT_DOUBLE_EQ(image->Width(), width) << "no tool ran";
    EXPECT_EQ(host.shares, 1);
    EXPECT_EQ(host.seriesMenus, 0);

    // A click on the line selects it; a second click deselects it.
    const QPoint onLine = imaging::ImageToClient(image->Geometry(), QPointF(moved + 100, 100)).toPoint();
    Press(Qt::LeftButton, onLine);
    Release(Qt::LeftButton, onLine);
    EXPECT_EQ(line->SelectMode(), 2);
    Press(Qt::LeftButton, onLine);
    Release(Qt::LeftButton, onLine);
    EXPECT_EQ(line->SelectMode(), 0);
}

namespace {

// The angle shown by an angle mark (labels 12 to 14 of `image`), and the one its legs
// form on the screen: 180 degrees less the angle between the legs drawn from the vertex.
struct AngleReading
{
    int shown = -1;
    double onScreen = -1;
};
AngleReading ReadAngle(const imaging::DicomImage &image)
{
    AngleReading reading;
    const auto labels = image.Labels();
    if (labels->Count() < 14)
        return reading;
    const auto first = labels->Item(12), second = labels->Item(13), text = labels->Item(14);
    const imaging::DisplayGeometry g = image.Geometry();
    auto client = [&](double x, double y) { return imaging::ImageToClient(g, QPointF(x, y)); };
    const QPointF vertex = client(first->Left(), first->Top());
    const QPointF a = client(first->Left() + first->Width(), first->Top() + first->Height()) - vertex;
    const QPointF b = client(second->Left() + second->Width(), second->Top() + second->Height()) - vertex;
    const double c = (a.x() * b.x() + a.y() * b.y()) / (std::hypot(a.x(), a.y()) * std::hypot(b.x(), b.y()));
    reading.onScreen = 180.0 - std::acos(std::clamp(c, -1.0, 1.0)) * 180.0 / M_PI;
    QString number = text->Text();
    number.chop(1); // "º"
    reading.shown = number.toInt();
    return reading;
}

} // namespace

// An angle reads what the screen shows, whatever gives the pixels their shape: Pixel
// Aspect Ratio on the ultrasound image, Pixel Spacing on the radiograph; drawn new and
// reshaped by the free end of a leg.
TEST_F(FrameTest, AnglesReadWhatTheScreenShowsOnNonSquarePixels)
{
    ASSERT_TRUE(LoadVisit("nonsquare", QStringLiteral("KV000555")));
    for (const auto &[modality, aspect] : {std::pair{"US", 1.5}, std::pair{"CR", 2.0}}) {
        SCOPED_TRACE(modality);
        Show(QLatin1String(modality));
        const auto image = Image(1);
        ASSERT_DOUBLE_EQ(image->Geometry().pixelAspect, aspect); // the preset's shapes, as displayed
        host.right = toolMesureAngle;
        const QRectF cell = image->DisplayCell();
        const QPoint from = (cell.topLeft() + QPointF(cell.width() * 0.25, cell.height() * 0.3)).toPoint();
        const QPoint to = (cell.topLeft() + QPointF(cell.width() * 0.55, cell.height() * 0.45)).toPoint();
        Press(Qt::RightButton, from);
        Move((from + to) / 2, Qt::RightButton);
        Move(to, Qt::RightButton);
        Release(Qt::RightButton, to);
        ASSERT_EQ(image->Labels()->Count(), 14);
        AngleReading reading = ReadAngle(*image);
        EXPECT_EQ(reading.shown, 135);
        EXPECT_NEAR(reading.shown, reading.onScreen, 0.5 + 1e-9);

        // The free end of the second leg dragged elsewhere: the value follows the legs.
        const auto second = image->Labels()->Item(13);
        const QPointF end(second->Left() + second->Width() + 0.5, second->Top() + second->Height() + 0.5);
        const QPoint grab = imaging::ImageToClient(image->Geometry(), end).toPoint();
        const QPoint target = (cell.topLeft() + QPointF(cell.width() * 0.6, cell.height() * 0.8)).toPoint();
        Press(Qt::LeftButton, grab);
        ASSERT_EQ(TFrameDicomViewer::ScreenCursor(), -22) << "the end of the leg is grabbed";
        Move((grab + target) / 2, Qt::LeftButton);
        Move(target, Qt::LeftButton);
        Release(Qt::LeftButton, target);
        reading = ReadAngle(*image);
        EXPECT_NE(reading.shown, 135);
        EXPECT_NEAR(reading.shown, reading.onScreen, 0.5 + 1e-9);
        for (int i = image->Labels()->Count(); i >= 12; --i)
            image->Labels()->Remove(i);
    }
}

// A line starts and ends on the pixels that the readout names at the press and release
// points, in every quarter turn and mirror, at a zoom that is not a whole number.
TEST_F(FrameTest, AMarkStartsAndEndsOnThePixelsTheReadoutNames)
{
    Show(QStringLiteral("CT"));
    const auto image = Image(1);
    host.right = toolMesureLine;
    auto readout = [&](QPoint p) {
        Move(p, Qt::NoButton);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^\\((\\d+), (\\d+)\\) HU: ")).match(host.status);
        return m.hasMatch() ? QPoint(m.captured(1).toInt(), m.captured(2).toInt()) : QPoint(-1, -1);
    };
    int cases = 0;
    for (int rotate = 0; rotate < 4; ++rotate) {
        for (int flip : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "rotate " << rotate << " flip " << flip);
            image->SetStretchToFit(false);
            image->SetZoom(1.37);
            image->SetScrollX(40);
            image->SetScrollY(30);
            image->SetRotateState(rotate);
            image->SetFlipState(flip);
            frame->DicomViewer()->Refresh();
            // Neighbouring screen pixels fall at different places within an image pixel.
            for (int k = 0; k < 3; ++k) {
                const QPoint from(100 + k, 120 + 2 * k), to(280 + 2 * k, 300 + k);
                const QPoint a = readout(from), b = readout(to);
                ASSERT_GE(a.x(), 0);
                ASSERT_GE(b.x(), 0);
                Press(Qt::RightButton, from);
                Move((from + to) / 2, Qt::RightButton);
                Move(to, Qt::RightButton);
                Release(Qt::RightButton, to);
                ASSERT_EQ(image->Labels()->Count(), 13);
                const auto line = image->Labels()->Item(12);
                EXPECT_EQ(QPoint(line->Left(), line->Top()), a) << k;
                EXPECT_EQ(QPoint(line->Left() + line->Width(), line->Top() + line->Height()), b) << k;
                image->Labels()->Remove(13);
                image->Labels()->Remove(12);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 48);
}

// A line's letter is centred on the upper end of the line from its first drawing on, and
// a letter that would fall above the cell (a mark at the top edge) is drawn inside it.
TEST_F(FrameTest, LettersSitCentredOnTheirLinesAndInsideTheCell)
{
    Show(QStringLiteral("CT"));
    const auto image = Image(1);
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    auto drag = [&](QPoint from, QPoint to) {
        Press(Qt::RightButton, from);
        Move((from + to) / 2, Qt::RightButton);
        Move(to, Qt::RightButton);
        Release(Qt::RightButton, to);
        control.Refresh();
        return image->Labels()->Count(); // the letter is the last label
    };
    const QRectF cell = control.CellRect(0);
    host.right = toolMesureLine;
    // Drawn downwards (upper end at the start) and upwards (upper end at the end).
    for (const auto &[from, to] : {std::pair{QPoint(150, 200), QPoint(300, 330)},
                                   std::pair{QPoint(160, 420), QPoint(320, 260)}}) {
        SCOPED_TRACE(testing::Message() << from.x() << "," << from.y());
        const int letter = drag(from, to);
        const auto line = image->Labels()->Item(letter - 1);
        const QPointF upper = line->Height() < 0 ? QPointF(line->Left() + line->Width(), line->Top() + line->Height())
                                                 : QPointF(line->Left(), line->Top());
        const QPointF end = imaging::ImageToClient(image->Geometry(), upper);
        const auto drawn = control.DrawnTextLines(1, letter);
        ASSERT_EQ(drawn.size(), 1);
        EXPECT_NEAR(drawn[0].rect.center().x(), end.x(), 1.0 + image->ActualZoom());
        EXPECT_LT(drawn[0].rect.top(), end.y()); // above it
    }
    // At the top edge of the cell: a line going up to it and an ellipse drawn past it.
    for (int tool : {toolMesureLine, toolMesureEllipse}) {
        SCOPED_TRACE(tool);
        host.right = tool;
        const QPoint from(int(cell.left()) + 200, int(cell.bottom()) - 200);
        const QPoint to(int(cell.left()) + 300, int(cell.top()) + 1);
        const int letter = drag(tool == toolMesureLine ? from : QPoint(from.x(), to.y()),
                                tool == toolMesureLine ? to : QPoint(to.x(), to.y() + 80));
        const auto drawn = control.DrawnTextLines(1, letter);
        ASSERT_EQ(drawn.size(), 1);
        EXPECT_TRUE(cell.adjusted(-0.5, -0.5, 0.5, 0.5).contains(drawn[0].rect))
            << drawn[0].rect.top() << " above " << cell.top();
    }
}

// Zooming the bottom-right image of a 2 x 2 grid re-anchors every image of the series on
// the one press point: all end at the same scroll, so a neighbour or an image scrolled
// into view later shows the region the user zoomed.
TEST_F(FrameTest, ZoomInAGridLeavesEveryImageOfTheSeriesAtOneScroll)
{
    Show(QStringLiteral("CT"));
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    control.SetMultiRows(2);
    control.SetMultiColumns(2);
    control.Refresh();
    const auto images = control.Images();
    ASSERT_GE(images->Count(), 6);
    for (int i = 1; i <= images->Count(); ++i) {
        images->Item(i)->SetStretchToFit(false);
        images->Item(i)->SetZoom(0.4);
        images->Item(i)->SetScrollX(-20);
        images->Item(i)->SetScrollY(-10);
    }
    control.Refresh();
    frame->FrameEnter();
    host.left = toolZoom;
    const QPoint at = control.CellRect(3).center().toPoint() + QPoint(17, -11);
    Press(Qt::LeftButton, at);
    ASSERT_EQ(frame->CurrentImageIndex, 4);
    for (int step = 1; step <= 4; ++step)
        Move(at - QPoint(step, step), Qt::LeftButton); // up and left: in
    Release(Qt::LeftButton, at - QPoint(5, 5));
    const auto zoomed = Image(4);
    EXPECT_NEAR(zoomed->Zoom(), 0.9, 1e-9);
    for (int i = 1; i <= images->Count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(images->Item(i)->Zoom(), zoomed->Zoom(), 1e-9);
        EXPECT_EQ(images->Item(i)->ScrollX(), zoomed->ScrollX());
        EXPECT_EQ(images->Item(i)->ScrollY(), zoomed->ScrollY());
    }
}

// The readout never shows the value of an image that is no longer under the mouse: it is
// cleared when the image, the frame of a multi-frame image or the series changes.
TEST_F(FrameTest, TheReadoutIsClearedWhenTheImageUnderTheMouseChanges)
{
    Show(QStringLiteral("CT"));
    const QPoint at(260, 250);
    Move(at, Qt::NoButton);
    ASSERT_TRUE(host.status.contains(QStringLiteral("HU:"))) << host.status.toStdString();
    frame->ScrollBar()->setValue(2); // the next image
    EXPECT_EQ(host.status, QString());
    Move(at, Qt::NoButton);
    ASSERT_TRUE(host.status.contains(QStringLiteral("HU:")));
    Show(QStringLiteral("MR")); // another series in the frame
    EXPECT_EQ(host.status, QString());
    Show(QStringLiteral("XA"));
    Move(at, Qt::NoButton);
    host.status = QStringLiteral("(10, 10) 5");
    frame->DicomViewerFrameChanging(1, 2); // another frame of the run
    EXPECT_EQ(host.status, QString());
}
