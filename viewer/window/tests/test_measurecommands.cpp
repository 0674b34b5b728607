// The main window's measurement commands ("Annuler les mesures", calibration, stenosis)
// and marks drawn with real mouse events on the main window's frame: lengths checked
// against an independent conversion of the screen points on turned, mirrored, zoomed,
// scrolled and fitted images; marks kept through series navigation.

#include "windowtesting.h"

#include "viewer/frame/measures.h"
#include "viewer/window/measurecommands.h"

#include <QMenu>
#include <QMouseEvent>
#include "testsupport/qtestgtest.h"

#include <cmath>

using namespace windowtest;
using imaging::DicomLabel;

namespace {

class MeasureCommandsTest : public ViewerTest
{
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        OpenVisit();
        if (HasFatalFailure())
            return;
        messages.clear();
        TemplateDM().SetMessageDialogFunction([this](const QString &text, TMsgDlgType kind, TMsgDlgButtons) {
            messages << Message{text, kind};
            return answer;
        });
        frame = Frames().at(0);
        window->LoadFrame(frame, axialKey);
        frame->DicomViewer()->Refresh();
        QCoreApplication::processEvents();
        // A press makes it the current frame.
        QTest::mouseClick(frame->DicomViewer(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCoreApplication::processEvents();
        ASSERT_EQ(window->CurrentFrame(), frame);
        image = Shown(frame);
        ASSERT_EQ(image->SeriesUID(), axialKey);
    }
    void TearDown() override
    {
        measures::SetTextEntryFunction({});
        const int series = VisitData().SeriesOrdinal(axialKey);
        VisitData().SetCalibrationFactor(series, 0);
    }

    imaging::DicomLabelPtr AddLine(int left, int top, int width, int height)
    {
        auto line = image->Labels()->AddNew();
        line->SetLabelType(DicomLabel::TypeLine);
        line->SetImageTied(true);
        line->SetForeColour(measures::kMarkColour);
        line->SetLeft(left);
        line->SetTop(top);
        line->SetWidth(width);
        line->SetHeight(height);
        EXPECT_TRUE(measures::AddMeasureText(*image, line));
        return line;
    }
    QString Legend() const { return measures::Legend(*image); }
    static int CountSeriesRuns() { return loading::CountSeries(*VisitData().VisitImages(), false); }
    QWidget *Control() { return frame->DicomViewer(); }
    void Drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(Control(), button, Qt::NoModifier, from);
        for (QPoint p : {(from * 2 + to) / 3, (from + to * 2) / 3, to}) {
            QMouseEvent event(QEvent::MouseMove, QPointF(p), QPointF(Control()->mapToGlobal(p)), Qt::NoButton, button,
                              Qt::NoModifier);
            QApplication::sendEvent(Control(), &event);
        }
        QTest::mouseRelease(Control(), button, Qt::NoModifier, to);
        QCoreApplication::processEvents();
    }

    struct Message
    {
        QString text;
        TMsgDlgType kind;
    };
    QList<Message> messages;
    int answer = mrYes;
    TFrameDicomViewer *frame = nullptr;
    imaging::DicomImagePtr image;
};

// Image pixel under a client pixel, from the display rule of the component's interface
// (not from its code): the client pixel's centre, the cell, the zoom (fitted: the whole
// image in the cell, centred), the scroll, then the mirrors undone on the screen's axes
// and the quarter turns undone.
QPointF ExpectedPixel(const imaging::DicomImage &image, QPointF client)
{
    client += QPointF(0.5, 0.5);
    const QRectF cell = image.DisplayCell();
    const double size = 512; // square image, square pixels: the displayed size is 512 x 512
    double zoom = image.Zoom(), scrollX = image.ScrollX(), scrollY = image.ScrollY();
    if (image.StretchToFit()) {
        zoom = std::min(cell.width() / size, cell.height() / size);
        scrollX = -(cell.width() - size * zoom) / 2;
        scrollY = -(cell.height() - size * zoom) / 2;
    }
    double x = (client.x() - cell.left() + scrollX) / zoom;
    double y = (client.y() - cell.top() + scrollY) / zoom;
    if (image.FlipState() & 1)
        x = size - x;
    if (image.FlipState() & 2)
        y = size - y;
    // One anticlockwise quarter turn maps (x, y) to (y, 512 - x); undone: (512 - y, x).
    for (int turn = 0; turn < image.RotateState(); ++turn) {
        const double ux = size - y, uy = x;
        x = ux;
        y = uy;
    }
    return QPointF(x, y);
}

// Whether `pixel` is the pixel under the continuous image point `at`; a centre that falls
// exactly on the line between two pixels (zoom 1.5 puts every third one there) may take
// either of them.
bool PixelUnder(QPoint pixel, QPointF at)
{
    auto fits = [](int p, double c) { return p == int(std::floor(c + 1e-6)) || p == int(std::floor(c - 1e-6)); };
    return fits(pixel.x(), at.x()) && fits(pixel.y(), at.y());
}

} // namespace

TEST_F(MeasureCommandsTest, TheMarkCommandsAreBuiltAndTheStenosisIsOffForCtAndMr)
{
    for (const char *name : {"TBMesureLine", "TBMesureEllipse", "TBMesureAngle", "TBIndication", "TBLbl",
                             "TBMesureCancel", "TBCalibration", "ActionF11"})
        EXPECT_TRUE(window->IsBuilt(QLatin1String(name))) << name;
    EXPECT_TRUE(A("TBMesureLine")->isEnabled());
    EXPECT_TRUE(A("TBCalibration")->isEnabled());
    EXPECT_FALSE(A("ActionF11")->isEnabled()); // a CT on screen
    window->LoadSeries(SeriesOf(QStringLiteral("CR")));
    window->UpdateControls();
    EXPECT_TRUE(A("ActionF11")->isEnabled());
    window->LoadSeries(mrKey);
    window->UpdateControls();
    EXPECT_FALSE(A("ActionF11")->isEnabled());
}

TEST_F(MeasureCommandsTest, CancellingTheMeasuresAsksFirstAndNoKeepsEverything)
{
    AddLine(10, 10, 100, 0);
    AddLine(10, 50, 50, 0);
    const QString legend = Legend();
    answer = mrNo;
    A("TBMesureCancel")->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text, "Désirez-vous effacer toutes les annotations?");
    EXPECT_EQ(messages[0].kind, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(image->Labels()->Count(), 15);
    EXPECT_EQ(Legend(), legend);
    answer = mrYes;
    A("TBMesureCancel")->trigger();
    EXPECT_EQ(image->Labels()->Count(), 11);
    EXPECT_EQ(Legend(), "Lgd:");
    // The visit's own entry follows.
    const auto visitImages = VisitData().VisitImages();
    const auto entry = visitImages->Item(VisitData().SeriesFirstIndex(axialKey) + frame->CurrentImageIndex - 1);
    EXPECT_EQ(entry->Labels()->Count(), 11);
}

TEST_F(MeasureCommandsTest, CalibrationWithItsBoxAndEveryMessage)
{
    image->Attributes()->Add(0x0028, 0x0030, QVariantList{1.0, 1.0});
    const int series = VisitData().SeriesOrdinal(axialKey);
    QStringList boxes;
    QString typed;
    bool accept = true;
    window->RunCalibrationBox = [&](const QString &title, const QString &prompt, QString &text) {
        boxes << title << prompt;
        text = typed;
        return accept;
    };
    // No line selected.
    auto line = AddLine(10, 10, 30, 40); // 50 mm
    auto other = AddLine(10, 100, 0, 20);
    A("TBCalibration")->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text, "Vous devez sélectionner une ligne de mesure avant de pouvoir calibrer.");
    EXPECT_EQ(messages[0].kind, TMsgDlgType::mtError);
    EXPECT_TRUE(boxes.isEmpty());

    // 50 measured, 25 mm true: factor 50; every line entry in mm with it.
    line->SetSelectMode(2);
    typed = QStringLiteral(" 25 ");
    A("TBCalibration")->trigger();
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_EQ(boxes[0], "Outil de calibration.");
    EXPECT_EQ(boxes[1], "Mesure correspondante en \"MM\"");
    EXPECT_DOUBLE_EQ(VisitData().CalibrationFactor(series), 50);
    EXPECT_EQ(Legend(), "Lgd:A)25.00mm, B)10.00mm");
    EXPECT_EQ(line->SelectMode(), 0);
    EXPECT_EQ(messages.size(), 1);

    // Not a number, then nothing: the factor stays.
    line->SetSelectMode(2);
    typed = QStringLiteral("abc");
    A("TBCalibration")->trigger();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1].text, "La mesure entrée est invalide.");
    EXPECT_EQ(messages[1].kind, TMsgDlgType::mtError);
    EXPECT_DOUBLE_EQ(VisitData().CalibrationFactor(series), 50);
    line->SetSelectMode(2);
    typed = QString();
    A("TBCalibration")->trigger();
    ASSERT_EQ(messages.size(), 3);
    EXPECT_EQ(messages[2].text, "Impossible de calibrer car la mesure est manquante.");
    EXPECT_EQ(messages[2].kind, TMsgDlgType::mtInformation);
    // A length of 0 or less would undo the calibration or turn lengths negative.
    for (const char *bad : {"0", "-5", "1,5"}) {
        line->SetSelectMode(2);
        typed = QLatin1String(bad);
        A("TBCalibration")->trigger();
        EXPECT_EQ(messages.last().text, "La mesure entrée est invalide.") << bad;
    }
    EXPECT_DOUBLE_EQ(VisitData().CalibrationFactor(series), 50);
    // Cancelled: nothing happens.
    line->SetSelectMode(2);
    accept = false;
    const int shown = messages.size();
    A("TBCalibration")->trigger();
    EXPECT_EQ(messages.size(), shown);
    EXPECT_EQ(Legend(), "Lgd:A)25.00mm, B)10.00mm");
    Q_UNUSED(other);
}

// The loader's splits (the MR echo times) add runs of SeriesUID beyond the series it
// counted: the visit's last series is one of them and must be calibrated like any other,
// in stack mode too.
TEST_F(MeasureCommandsTest, EverySeriesOfTheVisitCanBeCalibratedAlsoInStackMode)
{
    const auto visitImages = VisitData().VisitImages();
    const QString lastKey = visitImages->Item(visitImages->Count())->SeriesUID();
    const int ordinal = VisitData().SeriesOrdinal(lastKey);
    ASSERT_GT(ordinal, VisitData().SeriesCount()); // a series beyond the loader's count
    QString typed = QStringLiteral("25");
    window->RunCalibrationBox = [&](const QString &, const QString &, QString &text) {
        text = typed;
        return true;
    };
    auto calibrateOnScreen = [&](const char *what) {
        SCOPED_TRACE(what);
        image = Shown(frame);
        ASSERT_EQ(image->SeriesUID(), lastKey);
        measurecommands::ClearMarks(*image);
        auto line = AddLine(10, 10, 200, 0);
        const double measured = line->ROILength();
        line->SetSelectMode(2);
        messages.clear();
        A("TBCalibration")->trigger();
        EXPECT_TRUE(messages.isEmpty()) << (messages.isEmpty() ? QString() : messages[0].text).toStdString();
        EXPECT_DOUBLE_EQ(VisitData().CalibrationFactor(ordinal), 25 * 100 / measured);
        EXPECT_EQ(Legend(), "Lgd:A)25.00mm");
        // A second line of the same length reads the same 25 mm, and so does the stenosis.
        AddLine(10, 60, 200, 0);
        EXPECT_EQ(Legend(), "Lgd:A)25.00mm, B)25.00mm");
        window->ActionF11Execute();
        EXPECT_EQ(messages.last().text, "Sténose: Grande Mesure: 25.00 mm, Petite Mesure: 25.00 mm = 0.00 %");
        VisitData().SetCalibrationFactor(ordinal, 0);
        EXPECT_EQ(VisitData().CalibrationFactor(ordinal), 0.0);
    };
    window->LoadSeries(lastKey);
    QCoreApplication::processEvents();
    calibrateOnScreen("series");
    A("TBStack")->trigger();
    QCoreApplication::processEvents();
    ASSERT_TRUE(window->StackDown());
    calibrateOnScreen("stack mode");
    A("TBStack")->trigger();
    // Every factor is kept: the count of series, the factor stored beyond it, both stay
    // when the loader counts one more series.
    const VisitContentPtr content = VisitData().Content();
    ASSERT_TRUE(VisitData().SetCalibrationFactor(ordinal, 40));
    const int count = content->SeriesCount();
    EXPECT_EQ(VisitData().CalibrationFactors().size(), std::size_t(ordinal));
    content->AddSeries();
    EXPECT_EQ(VisitData().CalibrationFactor(ordinal), 40.0);
    EXPECT_GE(VisitData().CalibrationFactors().size(), std::size_t(count + 1));
    VisitData().SetCalibrationFactor(ordinal, 0);
    // A series that is not in the visit gets no factor and the calibration says so.
    EXPECT_FALSE(VisitData().SetCalibrationFactor(CountSeriesRuns() + 1, 10));
    EXPECT_FALSE(VisitData().SetCalibrationFactor(0, 10));
    image = Shown(frame);
    measurecommands::ClearMarks(*image);
    auto line = AddLine(10, 10, 200, 0);
    const QString legend = Legend();
    line->SetSelectMode(2);
    VisitData().ClearVisitImages(); // the image on screen belongs to no series of the visit now
    messages.clear();
    A("TBCalibration")->trigger();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text, "La calibration n'a pas pu être enregistrée pour cette série.");
    EXPECT_EQ(messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(Legend(), legend);
}

// Only a plain decimal number is a length: a decimal comma, a group separator or an
// exponent are refused and change nothing.
TEST_F(MeasureCommandsTest, TheCalibrationBoxTakesOnlyAPlainDecimalNumber)
{
    image->Attributes()->Add(0x0028, 0x0030, QVariantList{1.0, 1.0});
    const int series = VisitData().SeriesOrdinal(axialKey);
    QString typed;
    window->RunCalibrationBox = [&](const QString &, const QString &, QString &text) {
        text = typed;
        return true;
    };
    auto line = AddLine(10, 10, 30, 40); // 50 mm
    for (const char *bad : {"2,500", "1,000", "1e3", "12.5.1", "12,5", "+5", "0x10", "inf", "1 000", "٣"}) {
        SCOPED_TRACE(bad);
        line->SetSelectMode(2);
        typed = QString::fromUtf8(bad);
        messages.clear();
        A("TBCalibration")->trigger();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0].text, "La mesure entrée est invalide.");
        EXPECT_EQ(VisitData().CalibrationFactor(series), 0.0);
        EXPECT_EQ(Legend(), "Lgd:A)50.00mm");
    }
    for (const auto &[good, factor] : {std::pair{" 12.5 ", 25.0}, std::pair{"25.", 50.0}, std::pair{".5", 1.0}}) {
        SCOPED_TRACE(good);
        line->SetSelectMode(2);
        typed = QString::fromUtf8(good);
        messages.clear();
        A("TBCalibration")->trigger();
        EXPECT_TRUE(messages.isEmpty());
        EXPECT_DOUBLE_EQ(VisitData().CalibrationFactor(series), factor);
    }
    EXPECT_EQ(Legend(), "Lgd:A)0.50mm");
}

// Eight marks on a CT of the two-frame layout: the legend is drawn on as many lines as
// its entries need, every entry whole on one line, inside the cell and clear of the
// other corner texts; the stored "Lgd:" line keeps its one-line form.
TEST_F(MeasureCommandsTest, ALongLegendIsDrawnWholeInsideTheCell)
{
    ASSERT_EQ(Frames().size(), 2);
    ASSERT_LT(Control()->width(), 700) << "two frames side by side";
    for (int i = 0; i < 6; ++i)
        AddLine(20 + 10 * i, 40 + 30 * i, 150 + 20 * i, 35 * i);
    for (int i = 0; i < 2; ++i) {
        auto ellipse = image->Labels()->AddNew();
        ellipse->SetLabelType(DicomLabel::TypeEllipse);
        ellipse->SetImageTied(true);
        ellipse->SetForeColour(measures::kMarkColour);
        ellipse->SetLeft(200 + 100 * i);
        ellipse->SetTop(300);
        ellipse->SetWidth(80);
        ellipse->SetHeight(60);
        ASSERT_TRUE(measures::AddMeasureText(*image, ellipse));
    }
    frame->DicomViewer()->Refresh();
    const QString legend = Legend();
    const QStringList entries = legend.mid(4).split(QStringLiteral(", "));
    ASSERT_EQ(entries.size(), 8);
    EXPECT_TRUE(legend.startsWith(QStringLiteral("Lgd:A)")));
    EXPECT_TRUE(entries[7].startsWith(QStringLiteral("H)")) && entries[7].contains(QStringLiteral(" Dev Std=")));

    imaging::DicomViewerLight &control = *frame->DicomViewer();
    const int index = frame->CurrentImageIndex;
    const QRectF cell = control.CellRect(index - control.CurrentIndex());
    ASSERT_FALSE(cell.isEmpty());
    const auto drawn = control.DrawnTextLines(index, loading::kLabelBottomLeft);
    ASSERT_FALSE(drawn.isEmpty());
    QString all;
    for (const auto &line : drawn) {
        SCOPED_TRACE(line.text.toStdString());
        EXPECT_TRUE(cell.adjusted(-0.5, -0.5, 0.5, 0.5).contains(line.rect));
        all += line.text + QLatin1Char('\n');
    }
    for (const QString &entry : entries) {
        int holding = 0;
        for (const auto &line : drawn)
            holding += line.text.contains(entry);
        EXPECT_EQ(holding, 1) << entry.toStdString() << " in\n" << all.toStdString();
    }
    // Clear of the other corner texts.
    for (int other : {loading::kLabelTopLeft, loading::kLabelTopRight, loading::kLabelBottomRight})
        for (const auto &theirs : control.DrawnTextLines(index, other))
            for (const auto &line : drawn)
                EXPECT_FALSE(line.rect.intersects(theirs.rect))
                    << line.text.toStdString() << " over " << theirs.text.toStdString();
    EXPECT_EQ(Legend(), legend);
}

TEST_F(MeasureCommandsTest, StenosisOfTheLongestAndShortestLines)
{
    A("ActionF11")->setEnabled(true); // the command itself does not depend on the modality
    window->ActionF11Execute();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].text, "Mesure de sténose impossible.");
    EXPECT_EQ(messages[0].kind, TMsgDlgType::mtInformation);

    image->Attributes()->Add(0x0028, 0x0030, QVariantList{1.0, 1.0});
    AddLine(10, 10, 6, 8);   // 10
    AddLine(10, 50, 3, 4);   // 5
    AddLine(10, 90, 0, 10);  // 10 again: the first longest stays
    // An angle's legs are not lengths.
    auto leg = image->Labels()->AddNew();
    leg->SetLabelType(DicomLabel::TypeLine);
    leg->SetImageTied(true);
    leg->SetWidth(300);
    ASSERT_TRUE(measures::CompleteAngle(*image, leg));
    image->Labels()->Item(12)->SetSelectMode(2);
    window->ActionF11Execute();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1].text, "Sténose: Grande Mesure: 10.00 mm, Petite Mesure: 5.00 mm = 50.00 %");
    EXPECT_EQ(messages[1].kind, TMsgDlgType::mtInformation);
    for (int i = 12; i <= image->Labels()->Count(); ++i)
        EXPECT_EQ(image->Labels()->Item(i)->SelectMode(), 0) << i;

    // Calibrated with factor 50: half of both lengths, same narrowing.
    VisitData().SetCalibrationFactor(VisitData().SeriesOrdinal(axialKey), 50);
    window->ActionF11Execute();
    EXPECT_EQ(messages.last().text, "Sténose: Grande Mesure: 5.00 mm, Petite Mesure: 2.50 mm = 50.00 %");

    // One line only: 0 %, in the image's own unit when not calibrated.
    VisitData().SetCalibrationFactor(VisitData().SeriesOrdinal(axialKey), 0);
    measurecommands::ClearMarks(*image);
    image->Attributes()->Remove(0x0028, 0x0030);
    AddLine(10, 10, 6, 8);
    window->ActionF11Execute();
    EXPECT_EQ(messages.last().text, "Sténose: Grande Mesure: 10.00 pixels, Petite Mesure: 10.00 pixels = 0.00 %");
}

TEST_F(MeasureCommandsTest, LinesDrawnWithTheMouseMeasureWhatTheScreenShows)
{
    A("TBMesureLine")->trigger();
    ASSERT_EQ(window->RightTool(), toolMesureLine);
    const QRectF cell = image->DisplayCell();
    ASSERT_GT(cell.width(), 100);
    const QPoint from = (cell.topLeft() + QPointF(cell.width() * 0.3, cell.height() * 0.35)).toPoint();
    const QPoint to = (cell.topLeft() + QPointF(cell.width() * 0.72, cell.height() * 0.6)).toPoint();
    struct View
    {
        bool stretch;
        double zoom;
        int scrollX, scrollY;
    };
    const View views[] = {{true, 1, 0, 0}, {false, 1.5, 60, -30}, {false, 0.75, -40, 25}};
    int cases = 0;
    for (const View &view : views) {
        for (int rotate = 0; rotate < 4; ++rotate) {
            for (int flip : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message() << "stretch " << view.stretch << " zoom " << view.zoom << " rotate "
                                                << rotate << " flip " << flip);
                image->SetStretchToFit(view.stretch);
                if (!view.stretch) {
                    image->SetZoom(view.zoom);
                    image->SetScrollX(view.scrollX);
                    image->SetScrollY(view.scrollY);
                }
                image->SetRotateState(rotate);
                image->SetFlipState(flip);
                frame->DicomViewer()->Refresh();
                QCoreApplication::processEvents();
                Drag(Qt::RightButton, from, to);
                ASSERT_EQ(image->Labels()->Count(), 13);
                const auto line = image->Labels()->Item(12);
                const QPoint a(line->Left(), line->Top());
                const QPoint b(line->Left() + line->Width(), line->Top() + line->Height());
                EXPECT_TRUE(PixelUnder(a, ExpectedPixel(*image, from)));
                EXPECT_TRUE(PixelUnder(b, ExpectedPixel(*image, to)));
                const double mm = std::hypot(b.x() - a.x(), b.y() - a.y()) * 0.9765625;
                EXPECT_EQ(Legend(), "Lgd:A)" + QString::number(mm, 'f', 2) + "mm");
                measurecommands::ClearMarks(*image);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 36);
}

TEST_F(MeasureCommandsTest, MarksStayWithTheirImageThroughSeriesNavigation)
{
    QString typed = QStringLiteral("Lésion");
    measures::SetTextEntryFunction([&](QWidget *, const QString &) { return typed; });
    A("TBMesureLine")->trigger();
    Drag(Qt::RightButton, QPoint(120, 150), QPoint(260, 200));
    A("TBLbl")->trigger();
    Drag(Qt::RightButton, QPoint(140, 300), QPoint(142, 301));
    ASSERT_EQ(image->Labels()->Count(), 14);
    const QString legend = Legend();
    ASSERT_TRUE(legend.startsWith("Lgd:A)"));
    // The visit's entry of the image carries the marks (printing and other frames read them).
    const auto visitImages = VisitData().VisitImages();
    const int index = VisitData().SeriesFirstIndex(axialKey) + frame->CurrentImageIndex - 1;
    EXPECT_EQ(visitImages->Item(index)->Labels()->Count(), 14);
    // Away to another series and back: the marks are on the image again.
    window->LoadSeries(mrKey);
    window->LoadSeries(axialKey);
    const auto back = Shown(frame);
    ASSERT_EQ(back->SeriesUID(), axialKey);
    EXPECT_EQ(back->Labels()->Count(), 14);
    EXPECT_EQ(measures::Legend(*back), legend);
    EXPECT_EQ(back->Labels()->Item(14)->Text(), "Lésion");
}

TEST_F(MeasureCommandsTest, DeletingAndEditingRealMarksFromTheSeriesMenu)
{
    QMenu *shown = nullptr;
    window->RunPopup = [&](QMenu *menu, const QPoint &) { shown = menu; };
    measures::SetTextEntryFunction([](QWidget *, const QString &) { return QStringLiteral("Kyste"); });
    auto action = [&](const char *text) -> QAction * {
        if (!shown)
            return nullptr;
        for (QAction *a : shown->actions())
            if (a->text() == QString::fromUtf8(text))
                return a;
        return nullptr;
    };
    A("TBMesureLine")->trigger();
    Drag(Qt::RightButton, QPoint(100, 100), QPoint(250, 100));
    Drag(Qt::RightButton, QPoint(100, 300), QPoint(250, 300));
    A("TBIndication")->trigger();
    Drag(Qt::RightButton, QPoint(300, 200), QPoint(360, 260));
    const auto labels = image->Labels();
    ASSERT_EQ(labels->Count(), 17);
    const QStringList entries = Legend().mid(4).split(", ");
    ASSERT_EQ(entries.size(), 2);
    ASSERT_TRUE(entries[1].startsWith("B)"));

    // A right click on line A: "Effacer l'annotation" removes it, its letter and its entry.
    const auto lineA = labels->Item(12);
    QTest::mouseClick(Control(), Qt::RightButton, Qt::NoModifier, QPoint(175, 100));
    ASSERT_NE(action("Effacer l'annotation"), nullptr);
    EXPECT_FALSE(action("Modifier l'annotation texte")->isEnabled()); // a line, not a text
    action("Effacer l'annotation")->trigger();
    EXPECT_EQ(labels->IndexOf(lineA.get()), 0);
    EXPECT_EQ(labels->Count(), 15);
    EXPECT_EQ(Legend(), "Lgd:" + entries[1]);

    // The indication's text edited, then the indication deleted by its arrow.
    const auto text = labels->Item(labels->Count());
    ASSERT_EQ(text->Text(), "Kyste");
    frame->HitLabels = imaging::CreateLabels();
    frame->HitLabels->Add(text);
    window->ActiveChild()->AskAnnotationText = [](const QString &old) { return old + QStringLiteral(" simple"); };
    window->ActiveChild()->EditAnnotationText();
    EXPECT_EQ(text->Text(), "Kyste simple");
    shown = nullptr;
    QTest::mouseClick(Control(), Qt::RightButton, Qt::NoModifier, QPoint(330, 230));
    ASSERT_NE(action("Effacer l'annotation"), nullptr);
    action("Effacer l'annotation")->trigger();
    EXPECT_EQ(labels->Count(), 13);
    EXPECT_EQ(labels->IndexOf(text.get()), 0);
    EXPECT_EQ(Legend(), "Lgd:" + entries[1]);
}

TEST_F(MeasureCommandsTest, MarksReachTheOtherFramesOfTheSeriesAndStayInStackMode)
{
    TFrameDicomViewer *other = AddFrame(axialKey);
    ASSERT_NE(other, frame);
    A("TBMesureLine")->trigger();
    Drag(Qt::RightButton, QPoint(120, 150), QPoint(260, 200));
    ASSERT_EQ(image->Labels()->Count(), 13);
    const QString legend = Legend();
    // The other frame on the same series shows the same marks and legend.
    const auto mirrored = Shown(other);
    ASSERT_EQ(mirrored->InstanceUID(), image->InstanceUID());
    EXPECT_EQ(mirrored->Labels()->Count(), 13);
    EXPECT_EQ(measures::Legend(*mirrored), legend);
    // Stack mode refills the frame with the study: the marked image keeps its marks, and
    // so it does once stack mode is off again.
    const QString instance = image->InstanceUID();
    for (bool stack : {true, false}) {
        SCOPED_TRACE(stack);
        A("TBStack")->trigger();
        QCoreApplication::processEvents();
        ASSERT_EQ(window->StackDown(), stack);
        const auto shown = Shown(frame);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->InstanceUID(), instance);
        EXPECT_EQ(shown->Labels()->Count(), 13);
        EXPECT_EQ(measures::Legend(*shown), legend);
    }
}
