// Display adjustments in the main window on a loaded visit: window presets and their
// function keys, the custom window dialog, reset, inversion, rotations and mirrors, and
// the memory of the rotation button.

#include "imaging/geometry.h"
#include "viewer/window/formintensite.h"
#include "viewer/window/tests/windowtesting.h"

#include <QMenu>
#include <QSpinBox>
#include <QToolButton>

using namespace windowtest;

namespace {

class AdjustmentTest : public ViewerTest
{
protected:
    TFrameDicomViewer *Current() { return window->CurrentFrame(); }
    imaging::DicomImagesPtr Series() { return Current()->DicomViewer()->Images(); }
    // Every image of the current frame has this window (and says so in its "W:" line).
    void ExpectWindow(int width, int level)
    {
        const auto images = Series();
        for (int i = 1; i <= images->Count(); ++i) {
            const auto image = images->Item(i);
            EXPECT_EQ(image->Width(), width) << i;
            EXPECT_EQ(image->Level(), level) << i;
            EXPECT_EQ(loading::TextLine(QStringLiteral("W:"), image->Labels()->Item(loading::kLabelBottomLeft)->Text()),
                      QStringLiteral("W: %1 L: %2").arg(width).arg(level))
                << i;
        }
    }
    QStringList MenuCaptions()
    {
        QStringList captions;
        for (QAction *a : window->Menu(QStringLiteral("PopupMenuIntensite"))->actions())
            captions << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return captions;
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QWidget *target = Current()->DicomViewer();
        QTest::keyClick(target, Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST_F(AdjustmentTest, PresetKeysFollowTheModalityOfTheCurrentImage)
{
    OpenVisit();
    window->UpdateControls();
    const QStringList ct = MenuCaptions();
    ASSERT_EQ(ct.size(), 2 + 7) << ct.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(ct[0], QStringLiteral("Personnaliser"));
    EXPECT_EQ(ct[1], QStringLiteral("-"));
    EXPECT_TRUE(ct.contains(QStringLiteral("Poumon")));
    for (QAction *a : window->Menu(QStringLiteral("PopupMenuIntensite"))->actions()) {
        if (a->text() == QStringLiteral("Os tête")) {
            EXPECT_EQ(a->shortcut(), QKeySequence(Qt::Key_F8));
        }
    }

    // F5 on CT: "Poumon" on the whole series.
    Current()->ScrollBar()->setValue(6);
    Key(Qt::Key_F5);
    ExpectWindow(1800, -700);
    // Another key changes it again.
    Key(Qt::Key_F2);
    ExpectWindow(500, -10);

    // On MR the same key does nothing: no MR preset carries it.
    window->LoadSeries(mrKey);
    window->UpdateControls();
    EXPECT_EQ(MenuCaptions(), (QStringList{QStringLiteral("Personnaliser"), QStringLiteral("-")}));
    const auto mr = Series();
    QList<double> widths;
    for (int i = 1; i <= mr->Count(); ++i)
        widths << mr->Item(i)->Width();
    Key(Qt::Key_F5);
    for (int i = 1; i <= mr->Count(); ++i)
        EXPECT_EQ(mr->Item(i)->Width(), widths[i - 1]) << i;

    // Until the user gives MR a preset on that key, with Alt on another.
    ASSERT_TRUE(TemplateDM().Settings().WritePreset(QStringLiteral("MR"), QStringLiteral("T2"), QStringLiteral("F5"), 300, 900));
    ASSERT_TRUE(TemplateDM().Settings().WritePreset(QStringLiteral("MR"), QStringLiteral("T1"), QStringLiteral("Alt+F3"), 200, 600));
    ASSERT_TRUE(TemplateDM().Settings().WritePreset(QStringLiteral("MR"), QStringLiteral("Sans"), QStringLiteral("Shift"), 1, 1));
    window->UpdateControls();
    EXPECT_EQ(MenuCaptions().size(), 5);
    Key(Qt::Key_F5);
    ExpectWindow(900, 300);
    Key(Qt::Key_F3, Qt::AltModifier);
    ExpectWindow(600, 200);
}

TEST_F(AdjustmentTest, PresetShortcutTexts)
{
    EXPECT_EQ(TFormViewer::PresetKey(QStringLiteral("F5")), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(TFormViewer::PresetKey(QStringLiteral(" Alt+F10 ")), QKeySequence(Qt::ALT | Qt::Key_F10));
    EXPECT_TRUE(TFormViewer::PresetKey(QString()).isEmpty());
    EXPECT_TRUE(TFormViewer::PresetKey(QStringLiteral("Poumon")).isEmpty());
    EXPECT_TRUE(TFormViewer::PresetKey(QStringLiteral("F5, F6")).isEmpty());
}

TEST_F(AdjustmentTest, CustomWindowDialogAppliesToTheSeriesAndKeepsAnInversion)
{
    OpenVisit();
    QString caption;
    int shownWidth = 0;
    window->RunIntensite = [&](TFormIntensite &dialog) {
        dialog.show();
        QCoreApplication::processEvents();
        caption = dialog.windowTitle();
        shownWidth = dialog.SpinEditIntensite->value();
        dialog.grab().save(ScreenshotPath(QStringLiteral("intensite.png")));
        dialog.SpinEditIntensite->setValue(640);
        dialog.SpinEditContraste->setValue(-35);
        QTest::keyClick(dialog.SpinEditContraste, Qt::Key_Return);
        return dialog.ModalResult;
    };
    const int before = static_cast<int>(Series()->Item(1)->Width());
    ASSERT_TRUE(A("Personnaliser1")->isEnabled());
    A("Personnaliser1")->trigger();
    EXPECT_EQ(caption, QStringLiteral("Intensité/Contraste personnalisé"));
    EXPECT_EQ(shownWidth, before);
    ExpectWindow(640, -35);

    // Cancelled: the image's window is copied to the series unchanged.
    Series()->Item(1)->SetWidth(333);
    window->RunIntensite = [](TFormIntensite &dialog) {
        dialog.show();
        dialog.SpinEditIntensite->setValue(1000);
        dialog.SBBurnCDStop->click();
        return dialog.ModalResult;
    };
    window->Personnaliser1Click();
    EXPECT_EQ(Series()->Item(5)->Width(), 333);

    // An inverted image shows its window's size and stays inverted.
    A("TBInvert")->trigger();
    ASSERT_LT(Series()->Item(1)->Width(), 0);
    window->RunIntensite = [&](TFormIntensite &dialog) {
        dialog.show();
        shownWidth = dialog.SpinEditIntensite->value();
        dialog.SpinEditIntensite->setValue(700);
        dialog.SBOK->click();
        return dialog.ModalResult;
    };
    window->Personnaliser1Click();
    EXPECT_EQ(shownWidth, 333);
    EXPECT_EQ(Series()->Item(7)->Width(), -700);
}

TEST_F(AdjustmentTest, InversionRotationsAndMirrorsComeBackToTheStart)
{
    OpenVisit();
    const auto images = Series();
    const double width = images->Item(3)->Width();
    A("TBInvert")->trigger();
    EXPECT_EQ(images->Item(3)->Width(), -width);
    window->UpdateControls();
    EXPECT_TRUE(A("TBInvert")->isChecked());
    // Another frame's image is not inverted: the button follows the image.
    window->SetCurrentFrame(Frames()[1]);
    window->UpdateControls();
    EXPECT_FALSE(A("TBInvert")->isChecked());
    window->SetCurrentFrame(Frames()[0]);
    A("TBInvert")->trigger();
    EXPECT_EQ(images->Item(3)->Width(), width);

    const QList<int> left{1, 2, 3, 0};
    for (int turn : left) {
        A("Rotationgauchede901")->trigger();
        EXPECT_EQ(images->Item(20)->RotateState(), turn);
    }
    A("Rotationgauchede901")->trigger();
    A("Rotationdroitede901")->trigger();
    EXPECT_EQ(images->Item(1)->RotateState(), 0);

    A("Effetmiroirhorizontal1")->trigger();
    EXPECT_EQ(images->Item(1)->FlipState(), 1);
    A("Effetmiroirhorizontal1")->trigger();
    EXPECT_EQ(images->Item(1)->FlipState(), 0);
    A("Effetmiroirhorizontal1")->trigger();
    A("Effetmiroirvertical1")->trigger();
    EXPECT_EQ(images->Item(1)->FlipState(), 2) << "a vertical mirror only";
}

TEST_F(AdjustmentTest, RotationButtonRepeatsTheLastMenuChoice)
{
    OpenVisit();
    const auto images = Series();
    A("TBRotation")->trigger();
    EXPECT_EQ(images->Item(1)->RotateState(), 3) << "at first it turns right";
    A("Effetmiroirvertical1")->trigger();
    EXPECT_EQ(images->Item(1)->FlipState(), 2);
    A("TBRotation")->trigger();
    EXPECT_EQ(images->Item(1)->FlipState(), 0) << "the vertical mirror again";
    EXPECT_EQ(images->Item(1)->RotateState(), 3);
    A("Rotationgauchede901")->trigger();
    A("TBRotation")->trigger();
    EXPECT_EQ(images->Item(1)->RotateState(), 1);
}

TEST_F(AdjustmentTest, ResetRestoresEachImagesWindowButKeepsTheRotation)
{
    OpenVisit();
    const auto images = Series();
    QList<QPair<double, double>> defaults;
    for (int i = 1; i <= images->Count(); ++i)
        defaults.append({images->Item(i)->Width(), images->Item(i)->Level()});
    window->UpdateControls();
    Key(Qt::Key_F7);
    ExpectWindow(2000, 350);
    A("Rotationgauchede901")->trigger();
    A("TBInvert")->trigger();
    A("TBImageReset")->trigger();
    for (int i = 1; i <= images->Count(); ++i) {
        EXPECT_EQ(images->Item(i)->Width(), defaults[i - 1].first) << i;
        EXPECT_EQ(images->Item(i)->Level(), defaults[i - 1].second) << i;
        EXPECT_EQ(images->Item(i)->RotateState(), 1) << i;
    }
    EXPECT_FALSE(A("TBInvert")->isChecked());
}

namespace {
// The image's picture is whole inside its cell and centred on it.
void ExpectWholeAndCentred(const imaging::DicomViewerLight &control, const imaging::DicomImage &image, int cell)
{
    const QRectF rect = control.CellRect(cell);
    const QRectF shown = imaging::ImageRectInClient(image.Geometry());
    EXPECT_NEAR(shown.center().x(), rect.center().x(), 0.5);
    EXPECT_NEAR(shown.center().y(), rect.center().y(), 0.5);
    EXPECT_GE(shown.left(), rect.left() - 1e-6);
    EXPECT_LE(shown.right(), rect.right() + 1e-6);
    EXPECT_GE(shown.top(), rect.top() - 1e-6);
    EXPECT_LE(shown.bottom(), rect.bottom() + 1e-6);
}
QString ZoomLine(const imaging::DicomImage &image)
{
    return loading::TextLine(QStringLiteral("Zoom:"), image.Labels()->Item(loading::kLabelTopLeft)->Text());
}
QString Expected(const imaging::DicomImage &image)
{
    return QStringLiteral("Zoom: ") + QString::number(image.ActualZoom(), 'f', 1) + QLatin1Char('x');
}
} // namespace

TEST_F(AdjustmentTest, ImagesOpenFittedAndStretchAndZoomToolTakeTurns)
{
    OpenVisit();
    window->UpdateControls();
    const auto control = Current()->DicomViewer();
    control->repaint();
    const auto image = Shown(Current());
    // Fitted at first display: whole, centred, its zoom line true; TBStretch shows it.
    EXPECT_TRUE(image->StretchToFit());
    EXPECT_TRUE(A("TBStretch")->isChecked());
    ExpectWholeAndCentred(*control, *image, 0);
    EXPECT_EQ(ZoomLine(*image), Expected(*image));
    for (TFrameDicomViewer *frame : Frames()) {
        frame->DicomViewer()->repaint();
        ExpectWholeAndCentred(*frame->DicomViewer(), *Shown(frame), 0);
    }

    // "Etirer/Ne pas étirer": 1:1, centred; again: fitted.
    A("TBStretch")->trigger();
    control->repaint();
    EXPECT_FALSE(image->StretchToFit());
    EXPECT_DOUBLE_EQ(image->ActualZoom(), 1.0);
    EXPECT_EQ(ZoomLine(*image), QStringLiteral("Zoom: 1.0x"));
    const QRectF shown = imaging::ImageRectInClient(image->Geometry());
    EXPECT_NEAR(shown.center().x(), control->CellRect(0).center().x(), 0.5);
    window->UpdateControls();
    EXPECT_FALSE(A("TBStretch")->isChecked());
    A("TBStretch")->trigger();
    window->UpdateControls();
    EXPECT_TRUE(image->StretchToFit());
    EXPECT_TRUE(A("TBStretch")->isChecked());

    // The zoom tool takes the fit off (and brings the pan tool along) ...
    A("TBZoom")->trigger();
    EXPECT_EQ(window->LeftTool(), int(toolZoom));
    EXPECT_EQ(window->RightTool(), int(toolMove));
    EXPECT_FALSE(image->StretchToFit());
    EXPECT_FALSE(A("TBStretch")->isChecked());
    window->UpdateControls();
    EXPECT_EQ(window->LeftTool(), int(toolZoom));
    // ... and stretching again gives the left button back to scrolling.
    A("TBStretch")->trigger();
    EXPECT_TRUE(image->StretchToFit());
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    EXPECT_TRUE(A("TBScroll")->isChecked());
}

TEST_F(AdjustmentTest, TheZoomLineFollowsTheFrameGrid)
{
    OpenVisit();
    TFormChildMDI *child = window->ActiveChild();
    // Two series side by side, then one above the other: the cells change shape and the
    // lines follow what is shown.
    for (auto [columns, rows] : {std::pair{2, 1}, std::pair{1, 2}, std::pair{2, 1}}) {
        child->SeriesColumns = columns;
        child->SeriesRows = rows;
        child->LayoutFrames();
        QCoreApplication::processEvents();
        for (TFrameDicomViewer *frame : Frames()) {
            frame->DicomViewer()->repaint();
            EXPECT_EQ(ZoomLine(*Shown(frame)), Expected(*Shown(frame))) << columns << "x" << rows;
            ExpectWholeAndCentred(*frame->DicomViewer(), *Shown(frame), 0);
        }
    }
    // An image grid in the axial frame: every image shown reads its own zoom.
    child->MultipleImages(Current());
    QCoreApplication::processEvents();
    const auto control = Current()->DicomViewer();
    control->repaint();
    for (int k = 0; k < 4; ++k) {
        const auto image = control->Images()->Item(control->CurrentIndex() + k);
        ASSERT_TRUE(image);
        EXPECT_EQ(ZoomLine(*image), Expected(*image)) << k;
        ExpectWholeAndCentred(*control, *image, k);
    }
}
