// Measurements and annotations: letters and legend, calibrated lengths, ellipse values
// and their failure, angles, the grab that reshapes a mark, and marks drawn on a frame
// with the mouse.

#include "frametesting.h"

#include "viewer/frame/measures.h"
#include "viewer/loading/cornertext.h"

#include <QApplication>
#include <QJsonArray>
#include <QMouseEvent>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace frametest;
using imaging::DicomLabel;
using imaging::DicomLabelPtr;

namespace {

class MeasuresTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        shell.Create();
        TFrameDicomViewer::SetHost(&host);
        ASSERT_TRUE(LoadVisit("demo", QStringLiteral("KV000123")));
        const int index = FirstOfModality(QStringLiteral("CT"));
        ASSERT_GT(index, 0);
        ct = VisitData().VisitImages()->Item(index);
        ASSERT_EQ(ct->Labels()->Count(), 11);
        errors.clear();
        TemplateDM().SetMessageDialogFunction([this](const QString &text, TMsgDlgType kind, TMsgDlgButtons) {
            if (kind == TMsgDlgType::mtError)
                errors << text;
            return int(mrOk);
        });
    }
    void TearDown() override
    {
        frame.reset();
        measures::SetTextEntryFunction({});
        TFrameDicomViewer::SetHost(nullptr);
        TFrameDicomViewer::SetScreenCursor(0);
    }

    DicomLabelPtr AddShape(int type, int left, int top, int width, int height)
    {
        auto shape = ct->Labels()->AddNew();
        shape->SetLabelType(type);
        shape->SetImageTied(true);
        shape->SetForeColour(measures::kMarkColour);
        shape->SetLeft(left);
        shape->SetTop(top);
        shape->SetWidth(width);
        shape->SetHeight(height);
        return shape;
    }
    QString Legend() const { return measures::Legend(*ct); }

    // A frame on the CT series, driven by real mouse events.
    void OpenFrame()
    {
        frame = std::make_unique<TFrameDicomViewer>();
        frame->resize(520, 520);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        Fill(*frame, ct->SeriesUID());
        frame->DicomViewer()->Refresh();
        QCoreApplication::processEvents();
    }
    QWidget *Control() { return frame->DicomViewer(); }
    void Drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(Control(), button, Qt::NoModifier, from);
        const QPoint middle = (from + to) / 2;
        for (QPoint p : {middle, to}) {
            QMouseEvent event(QEvent::MouseMove, QPointF(p), QPointF(Control()->mapToGlobal(p)), Qt::NoButton, button,
                              Qt::NoModifier);
            QApplication::sendEvent(Control(), &event);
        }
        QTest::mouseRelease(Control(), button, Qt::NoModifier, to);
    }

    ShellFixture shell;
    RecordingHost host;
    imaging::DicomImagePtr ct;
    std::unique_ptr<TFrameDicomViewer> frame;
    QStringList errors;
};

} // namespace

TEST_F(MeasuresTest, LettersFollowTheLegendAndZIsFollowedByABracket)
{
    EXPECT_EQ(Legend(), "Lgd:");
    EXPECT_EQ(measures::NextLetter("Lgd:"), "A");
    auto first = AddShape(DicomLabel::TypeLine, 10, 10, 100, 0);
    ASSERT_TRUE(measures::AddMeasureText(*ct, first));
    EXPECT_EQ(Legend(), "Lgd:A)97.66mm");
    auto second = AddShape(DicomLabel::TypeLine, 10, 50, 30, 40);
    ASSERT_TRUE(measures::AddMeasureText(*ct, second));
    EXPECT_EQ(Legend(), "Lgd:A)97.66mm, B)48.83mm");
    // Each shape and its letter link to each other and carry the letter.
    const auto letterB = ct->Labels()->Item(ct->Labels()->Count());
    EXPECT_EQ(second->Text(), "B");
    EXPECT_EQ(letterB->Text(), "B");
    EXPECT_EQ(LinkTagElement(*second, 3), LinkTagElement(*letterB, 2));
    EXPECT_EQ(LinkTagElement(*letterB, 3), LinkTagElement(*second, 2));
    EXPECT_EQ(MeasureKind(*letterB), 1);
    EXPECT_EQ(LinkTagElement(*second, 2) + 1, LinkTagElement(*second, 3));
    EXPECT_EQ(measures::NextLetter("Lgd:Y)1.00mm, Z)2.00mm"), "[");
    // The letter sits above the upper end of the line: for a line drawn upwards, its end.
    EXPECT_EQ(letterB->Top(), 50 - 15);
    auto up = AddShape(DicomLabel::TypeLine, 200, 200, 20, -30);
    ASSERT_TRUE(measures::AddMeasureText(*ct, up));
    const auto letterC = ct->Labels()->Item(ct->Labels()->Count());
    EXPECT_EQ(letterC->Text(), "C");
    EXPECT_EQ(letterC->Top(), 200 - 30 - 15);
    // Centred on the end: its width is known before the first drawing.
    EXPECT_GT(letterC->Width(), 5);
    EXPECT_EQ(letterC->Left(), 220 - letterC->Width() / 2);
}

TEST_F(MeasuresTest, CalibratedSeriesWritesMillimetresFromTheFactor)
{
    ct->Attributes()->Add(0x0028, 0x0030, QVariantList{1.0, 1.0});
    const int series = VisitData().SeriesOrdinal(ct->SeriesUID());
    VisitData().SetCalibrationFactor(series, 50);
    auto line = AddShape(DicomLabel::TypeLine, 10, 10, 24, 32);
    ASSERT_DOUBLE_EQ(line->ROILength(), 40);
    ASSERT_TRUE(measures::AddMeasureText(*ct, line));
    EXPECT_EQ(Legend(), "Lgd:A)20.00mm");
    // Ellipses are never calibrated.
    auto ellipse = AddShape(DicomLabel::TypeEllipse, 100, 100, 20, 20);
    ASSERT_TRUE(measures::AddMeasureText(*ct, ellipse));
    EXPECT_TRUE(Legend().startsWith("Lgd:A)20.00mm, B)" + QString::number(ellipse->ROIArea(), 'f', 1) + "mm carré Moy="))
        << Legend().toStdString();
    VisitData().SetCalibrationFactor(series, 0);
}

TEST_F(MeasuresTest, EllipseValuesAndAnEllipseThatCannotBeMeasured)
{
    auto ellipse = AddShape(DicomLabel::TypeEllipse, 100, 100, 40, 30);
    ASSERT_TRUE(measures::AddMeasureText(*ct, ellipse));
    const QString expected = QStringLiteral("Lgd:A)%1mm carré Moy=%2 Dev Std=%3")
                                 .arg(QString::number(ellipse->ROIArea(), 'f', 1))
                                 .arg(QString::number(ellipse->ROIMean(), 'f', 1))
                                 .arg(QString::number(ellipse->ROIStandardDeviation(), 'f', 1));
    EXPECT_EQ(Legend(), expected);
    const int count = ct->Labels()->Count();
    // Wholly off the image: no pixel to measure. Shape and letter go, the legend stays.
    auto off = AddShape(DicomLabel::TypeEllipse, -200, -200, 40, 30);
    QString error;
    EXPECT_FALSE(measures::AddMeasureText(*ct, off, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ct->Labels()->Count(), count);
    EXPECT_EQ(ct->Labels()->IndexOf(off.get()), 0);
    EXPECT_EQ(Legend(), expected);
}

TEST_F(MeasuresTest, NewAngleShows135AndDraggingItsFreeEndShows0And180)
{
    // Drawn from (150, 100) to (100, 100): the vertex is the release point.
    auto leg = AddShape(DicomLabel::TypeLine, 150, 100, -50, 0);
    ASSERT_TRUE(measures::CompleteAngle(*ct, leg));
    const auto labels = ct->Labels();
    ASSERT_EQ(labels->Count(), 14);
    const auto second = labels->Item(13), text = labels->Item(14);
    EXPECT_EQ(leg->Left(), 100);
    EXPECT_EQ(leg->Width(), 50);
    EXPECT_EQ(second->Left(), 100);
    EXPECT_EQ(second->Top(), 100);
    EXPECT_EQ(second->Width(), 35);
    EXPECT_EQ(second->Height(), 35);
    EXPECT_EQ(text->Text(), QStringLiteral("135") + QChar(0x00BA));
    EXPECT_EQ(leg->Text(), "angle1;35;35;135");
    EXPECT_EQ(second->Text(), "angle2;35;35;135");
    // The ring: leg -> second -> text -> leg.
    EXPECT_EQ(LinkTagElement(*leg, 3), LinkTagElement(*second, 2));
    EXPECT_EQ(LinkTagElement(*second, 3), LinkTagElement(*text, 2));
    EXPECT_EQ(LinkTagElement(*text, 3), LinkTagElement(*leg, 2));

    measures::TMeasureGrab grab;
    auto reshape = [&](int px, int py) {
        // Pressing on the free end of the second leg grabs it.
        EXPECT_FALSE(grab.GrabTest(*second, second->Left() + second->Width(), second->Top() + second->Height()));
        EXPECT_EQ(grab.GrabbedEnd, 0);
        grab.GatherGroup(second, *labels);
        grab.RecordGrabOffsets(second->Left() + second->Width(), second->Top() + second->Height());
        grab.ResizeShape(px, py);
        EXPECT_TRUE(grab.RefreshGroupTextOn(*ct));
        grab.Forget();
    };
    // Onto the straight continuation of the first leg.
    reshape(60, 100);
    EXPECT_EQ(text->Text(), QStringLiteral("0") + QChar(0x00BA));
    // The reshaped leg gives its length to the other one, which keeps its direction.
    EXPECT_EQ(leg->Width(), 40);
    EXPECT_EQ(leg->Height(), 0);
    // Folded back onto the first leg.
    reshape(130, 100);
    EXPECT_EQ(text->Text(), QStringLiteral("180") + QChar(0x00BA));
    EXPECT_EQ(leg->Text(), "angle1;30;0;180");
    // A first leg under 10 pixels is dropped without anything else.
    auto tiny = AddShape(DicomLabel::TypeLine, 300, 300, 6, 7);
    EXPECT_FALSE(measures::CompleteAngle(*ct, tiny));
    EXPECT_EQ(labels->Count(), 14);
}

TEST_F(MeasuresTest, AngleMeasuresThePixelsTrueShape)
{
    // Pixels twice as tall as wide: 10 across and 5 down is 45 degrees.
    auto p = imaging::CreateLabel(), q = imaging::CreateLabel();
    q->SetWidth(10);
    p->SetWidth(10);
    p->SetHeight(5);
    EXPECT_NEAR(measures::AngleBetweenLines(*p, *q, 2.0), 45.0, 1e-9);
    EXPECT_NEAR(measures::AngleBetweenLines(*p, *q, 1.0), std::atan(0.5) * 180 / M_PI, 1e-9);
    // Start points apart: p is taken from its other end, and stays as it is.
    p->SetLeft(20);
    EXPECT_NEAR(measures::AngleBetweenLines(*p, *q, 2.0), 135.0, 1e-9);
    EXPECT_EQ(p->Width(), 10);
    // A leg of the same true length keeps its direction.
    auto b = imaging::CreateLabel();
    b->SetWidth(0);
    b->SetHeight(3);
    measures::MatchLegLength(*p, *b, 2.0);
    EXPECT_EQ(b->Width(), 0);
    EXPECT_EQ(b->Height(), 7); // sqrt(200) / 2 = 7.07 rows
}

TEST_F(MeasuresTest, MovingKeepsTheLegendAndReshapingRewritesOnlyItsOwnEntry)
{
    auto a = AddShape(DicomLabel::TypeLine, 10, 10, 100, 0);
    auto b = AddShape(DicomLabel::TypeEllipse, 200, 200, 40, 40);
    auto c = AddShape(DicomLabel::TypeLine, 10, 300, 50, 0);
    for (const auto &shape : {a, b, c})
        ASSERT_TRUE(measures::AddMeasureText(*ct, shape));
    const QString before = Legend();
    const QStringList entries = before.mid(4).split(", ");
    ASSERT_EQ(entries.size(), 3);
    measures::TMeasureGrab grab;
    const auto labels = ct->Labels();
    // Moving the ellipse by its middle moves it and its letter, values unchanged.
    EXPECT_TRUE(grab.GrabTest(*b, 220, 220));
    grab.GatherGroup(b, *labels);
    const auto letterB = grab.GroupSecond;
    ASSERT_NE(letterB, nullptr);
    const int letterTop = letterB->Top();
    grab.RecordGrabOffsets(220, 220);
    grab.MoveGroup(250, 260);
    EXPECT_EQ(b->Left(), 230);
    EXPECT_EQ(letterB->Top(), letterTop + 40);
    grab.Forget();
    EXPECT_EQ(Legend(), before);
    // Reshaping line C by its end rewrites C only.
    EXPECT_FALSE(grab.GrabTest(*c, 60, 300));
    grab.GatherGroup(c, *labels);
    grab.RecordGrabOffsets(60, 300);
    grab.ResizeShape(110, 300);
    EXPECT_TRUE(grab.RefreshGroupTextOn(*ct));
    EXPECT_EQ(Legend(), "Lgd:" + entries[0] + ", " + entries[1] + ", C)97.66mm");
    // The ellipse reshaped by a bottom handle: its own entry, the others stay.
    EXPECT_FALSE(grab.GrabTest(*b, 240, 270));
    EXPECT_EQ(grab.GrabbedEnd, 0);
    grab.GatherGroup(b, *labels);
    grab.RecordGrabOffsets(240, 270);
    grab.ResizeShape(300, 320);
    EXPECT_TRUE(grab.RefreshGroupTextOn(*ct));
    const QStringList after = Legend().mid(4).split(", ");
    EXPECT_EQ(after[0], entries[0]);
    EXPECT_EQ(after[1], "B)" + measures::EllipseValue(*b));
    EXPECT_NE(after[1], entries[1]);
    EXPECT_EQ(after[2], "C)97.66mm");
}

TEST_F(MeasuresTest, ReshapingALineInPixelsRewritesItsEntryWithoutTouchingTheNext)
{
    ct->Attributes()->Remove(0x0028, 0x0030);
    auto a = AddShape(DicomLabel::TypeLine, 10, 10, 30, 40);
    auto b = AddShape(DicomLabel::TypeLine, 10, 100, 20, 0);
    ASSERT_TRUE(measures::AddMeasureText(*ct, a));
    ASSERT_TRUE(measures::AddMeasureText(*ct, b));
    ASSERT_EQ(Legend(), "Lgd:A)50.00pixels, B)20.00pixels");
    measures::TMeasureGrab grab;
    EXPECT_FALSE(grab.GrabTest(*a, 40, 50));
    grab.GatherGroup(a, *ct->Labels());
    grab.RecordGrabOffsets(40, 50);
    grab.ResizeShape(70, 90);
    EXPECT_TRUE(grab.RefreshGroupTextOn(*ct));
    EXPECT_EQ(Legend(), "Lgd:A)100.00pixels, B)20.00pixels");
}

TEST_F(MeasuresTest, AnEllipseReshapedOffTheImageGoesWithItsEntryOnly)
{
    auto a = AddShape(DicomLabel::TypeLine, 10, 10, 100, 0);
    auto b = AddShape(DicomLabel::TypeEllipse, 20, 20, 40, 40);
    ASSERT_TRUE(measures::AddMeasureText(*ct, a));
    ASSERT_TRUE(measures::AddMeasureText(*ct, b));
    measures::TMeasureGrab grab;
    EXPECT_FALSE(grab.GrabTest(*b, 30, 30)); // a top handle
    EXPECT_EQ(grab.GrabbedEnd, 1);
    grab.GatherGroup(b, *ct->Labels());
    grab.RecordGrabOffsets(30, 30);
    // The right edge to the left of the image: no pixel left.
    b->SetLeft(-100);
    grab.ResizeShape(-80, 30);
    QString error;
    EXPECT_FALSE(grab.RefreshGroupTextOn(*ct, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(Legend(), "Lgd:A)97.66mm");
    EXPECT_EQ(ct->Labels()->Count(), 13); // the line and its letter
}

TEST_F(MeasuresTest, GrabOfShortLinesAndReversedEllipses)
{
    measures::TMeasureGrab grab;
    // Both ends within reach: the end point wins.
    auto shortLine = AddShape(DicomLabel::TypeLine, 100, 100, 6, 2);
    EXPECT_FALSE(grab.GrabTest(*shortLine, 103, 101));
    EXPECT_EQ(grab.GrabbedEnd, 0);
    // Drawn from bottom right to top left: the first press moves it, the next grabs a handle.
    auto ellipse = AddShape(DicomLabel::TypeEllipse, 300, 300, -100, -80);
    EXPECT_TRUE(grab.GrabTest(*ellipse, 225, 240));
    EXPECT_FALSE(grab.GrabTest(*ellipse, 225, 240));
    EXPECT_EQ(grab.GrabbedEnd, 1);
}

TEST_F(MeasuresTest, IndicationsAndFreeTexts)
{
    auto arrow = AddShape(DicomLabel::TypeArrow, 50, 60, 30, 20);
    auto text = measures::AddIndicationText(*ct, arrow, QLatin1String(measures::kInitialText), 80, 80);
    EXPECT_EQ(text->Text(), "");
    EXPECT_EQ(arrow->Text(), "");
    EXPECT_EQ(MeasureKind(*text), 3);
    EXPECT_EQ(LinkTagElement(*arrow, 3), LinkTagElement(*text, 2));
    auto named = measures::AddIndicationText(*ct, arrow, "Kyste", 80, 80);
    EXPECT_EQ(named->Text(), "Kyste");
    EXPECT_EQ(named->ForeColour(), measures::kMarkColour);
    EXPECT_TRUE(named->ImageTied());
    // A free text: none for the unchanged initial text, one for an empty text.
    const int count = ct->Labels()->Count();
    EXPECT_EQ(measures::AddTextAnnotation(*ct, QLatin1String(measures::kInitialText), 5, 5), nullptr);
    EXPECT_EQ(ct->Labels()->Count(), count);
    auto empty = measures::AddTextAnnotation(*ct, QString(), 5, 6);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Tag().toList(), (QVariantList{1, 4, 0, 0}));
    EXPECT_EQ(empty->Top(), 6);
}

TEST_F(MeasuresTest, MarksDrawnWithTheMouseOnAFrame)
{
    OpenFrame();
    QStringList asked;
    measures::SetTextEntryFunction([&](QWidget *, const QString &initial) {
        asked << initial;
        return QStringLiteral("Nodule");
    });
    const auto image = frame->CurrentFrameImage();
    ASSERT_EQ(image, ct);
    const imaging::DisplayGeometry g = image->Geometry();
    // The pixel under the screen pixel's centre, the one the readout names.
    auto pixel = [&](QPoint p) {
        const QPointF q = imaging::ClientToImage(g, QPointF(p) + QPointF(0.5, 0.5));
        return QPoint(int(std::floor(q.x())), int(std::floor(q.y())));
    };
    host.right = toolMesureLine;
    const int shares = host.shares;
    const QPoint from(100, 120), to(300, 220);
    Drag(Qt::RightButton, from, to);
    ASSERT_EQ(image->Labels()->Count(), 13);
    const auto line = image->Labels()->Item(12);
    EXPECT_EQ(line->LabelType(), DicomLabel::TypeLine);
    EXPECT_EQ(MeasureKind(*line), 1);
    EXPECT_EQ(QPoint(line->Left(), line->Top()), pixel(from));
    EXPECT_EQ(QPoint(line->Left() + line->Width(), line->Top() + line->Height()), pixel(to));
    const QPoint d = pixel(to) - pixel(from);
    EXPECT_EQ(Legend(), "Lgd:A)" + QString::number(std::hypot(d.x(), d.y()) * 0.9765625, 'f', 2) + "mm");
    EXPECT_GT(host.shares, shares);

    // An ellipse, an indication (asking for its text) and a free text.
    host.right = toolMesureEllipse;
    Drag(Qt::RightButton, QPoint(320, 320), QPoint(380, 360));
    EXPECT_TRUE(Legend().contains("B)")) << Legend().toStdString();
    host.right = toolIndication;
    Drag(Qt::RightButton, QPoint(50, 400), QPoint(90, 440));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], measures::kInitialText);
    EXPECT_EQ(image->Labels()->Item(image->Labels()->Count())->Text(), "Nodule");
    host.right = toolLbl;
    Drag(Qt::RightButton, QPoint(400, 60), QPoint(401, 61));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(MeasureKind(*image->Labels()->Item(image->Labels()->Count())), 4);
    // An angle.
    host.right = toolMesureAngle;
    Drag(Qt::RightButton, QPoint(200, 420), QPoint(120, 420));
    EXPECT_EQ(image->Labels()->Item(image->Labels()->Count())->Text(), QStringLiteral("135") + QChar(0x00BA));
    const int count = image->Labels()->Count();

    // Any button grabs a mark: the left button drags line A by its middle.
    const QString legend = Legend();
    const QPoint middle = (from + to) / 2;
    const int left = line->Left();
    Drag(Qt::LeftButton, middle, middle + QPoint(20, 0));
    EXPECT_GT(line->Left(), left);
    EXPECT_EQ(Legend(), legend);
    EXPECT_EQ(image->Labels()->Count(), count);
}

TEST_F(MeasuresTest, EllipsesOnThePhantomRodsListTheirHounsfieldUnits)
{
    QFile file(VisitFolder("demo") + QStringLiteral("/manifest.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray rods = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("rods")).toArray();
    ASSERT_EQ(rods.size(), 3);
    const auto position = ct->Attributes()->Item(0x0020, 0x0032);
    const double x0 = position->ValueByIndex(1).toDouble(), y0 = position->ValueByIndex(2).toDouble();
    const double spacing = 0.9765625;
    QStringList expected;
    for (const auto &value : rods) {
        const QJsonObject rod = value.toObject();
        const double cx = (rod["x"].toDouble() - x0) / spacing + 0.5, cy = (rod["y"].toDouble() - y0) / spacing + 0.5;
        const int radius = int(rod["radius"].toDouble() / spacing * 0.7);
        auto ellipse = AddShape(DicomLabel::TypeEllipse, int(std::lround(cx - radius)), int(std::lround(cy - radius)),
                                2 * radius, 2 * radius);
        ASSERT_TRUE(measures::AddMeasureText(*ct, ellipse));
        expected << QStringLiteral("Moy=%1 Dev Std=0.0").arg(QString::number(rod["hu"].toDouble(), 'f', 1));
    }
    const QStringList entries = Legend().mid(4).split(", ");
    ASSERT_EQ(entries.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(entries[i].endsWith(expected[i])) << entries[i].toStdString();
}

TEST_F(MeasuresTest, AnEllipseDrawnOffTheImageIsDroppedWithAMessage)
{
    OpenFrame();
    const auto image = frame->CurrentFrameImage();
    image->SetStretchToFit(false);
    image->SetZoom(0.5);
    image->SetScrollX(0);
    image->SetScrollY(0);
    frame->DicomViewer()->Refresh();
    QCoreApplication::processEvents();
    host.right = toolMesureLine;
    Drag(Qt::RightButton, QPoint(20, 20), QPoint(120, 20));
    const QString legend = Legend();
    ASSERT_TRUE(legend.startsWith("Lgd:A)"));
    const int shares = host.shares;
    // The image covers the control's top-left 256 x 256 pixels only.
    host.right = toolMesureEllipse;
    Drag(Qt::RightButton, QPoint(400, 400), QPoint(460, 450));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(image->Labels()->Count(), 13);
    EXPECT_EQ(Legend(), legend);
    EXPECT_GT(host.shares, shares);
}
