// The main window driven offscreen on a loaded synthetic visit: button states, tool
// choice, the wheel, the series menu, layouts, the layout dialog, the magnifier and the
// loupe; screenshots of what the radiologist sees.

#include "viewer/frame/tests/frametesting.h"
#include "viewer/loading/cornertext.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formmagnify.h"
#include "viewer/window/formviewer.h"
#include "viewer/window/formwinmultiple.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace frametest;

namespace {

// Waits (processing events) until `condition` holds; answers it.
template<class F>
bool WaitFor(F condition)
{
    for (int i = 0; i < 100 && !condition(); ++i)
        QTest::qWait(20);
    return condition();
}

QString ScreenshotPath(const QString &name)
{
    const QString folder = QStringLiteral(KORVANE_BINARY_DIR "/screenshots/window");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override { shell.Create(); }
    void TearDown() override
    {
        // The child window's closing message must not reach the next test's window.
        window.reset();
        Drain();
    }

    void Open(const QString &patient = QStringLiteral("KV000123"), const QString &study = {})
    {
        ASSERT_TRUE(LoadVisit("demo", patient, study));
        window = std::make_unique<TFormViewer>();
        window->RunPopup = [this](QMenu *menu, const QPoint &) { popups.append(menu); };
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
    }

    void ShowVisit()
    {
        const auto images = VisitData().VisitImages();
        const QString first = images->Item(1)->SeriesUID();
        window->ShowVisit(first, VisitData().NextSeriesKey(first));
        QCoreApplication::processEvents();
        ASSERT_NE(window->ActiveChild(), nullptr);
    }

    QAction *A(const char *name) { return window->Action(QLatin1String(name)); }
    TFormChildMDI *Child() { return window->ActiveChild(); }
    QList<TFrameDicomViewer *> Frames() { return Child()->Frames(); }
    QWidget *Control(TFrameDicomViewer *frame) { return frame->DicomViewer(); }
    void Move(QWidget *w, QPoint p, Qt::MouseButtons buttons)
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(p), QPointF(w->mapToGlobal(p)), Qt::NoButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    void Wheel(QWidget *w, QPoint p, int delta)
    {
        QWheelEvent event(QPointF(p), QPointF(w->mapToGlobal(p)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &event);
    }
    // Drains posted messages (registered messages, deferred deletions).
    static void Drain()
    {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
    }

    ShellFixture shell;
    std::unique_ptr<TFormViewer> window;
    QList<QMenu *> popups;
};

} // namespace

TEST_F(WindowTest, WithoutAVisitOnlyOpeningAndClosingAreOffered)
{
    Open();
    EXPECT_TRUE(A("TBVisiteOuvrir")->isEnabled());
    EXPECT_TRUE(A("TBVisiteFermer")->isEnabled());
    for (const char *name : {"TBSerieFirst", "TBImageNext", "TBZoom", "TBScroll", "TBMove", "TBMagnify", "TBStretch",
                             "TBInvert", "TBStudyExplode", "TBWinSimple", "TBImageIntensite", "TBRotation"})
        EXPECT_FALSE(A(name)->isEnabled()) << name;
    EXPECT_TRUE(A("TBScroll")->isChecked());
    EXPECT_TRUE(A("TBImageIntensite")->isChecked());
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    EXPECT_EQ(window->RightTool(), int(toolIntensite));
    EXPECT_EQ(window->StatusPanel(1), QStringLiteral("CD"));
    // Seven toolbars in two rows, with their French names and 38 x 39 buttons.
    const QStringList names{QStringLiteral("Communes"), QStringLiteral("Navigation"), QStringLiteral("Boutons gauches"),
                            QStringLiteral("Boutons droits"), QStringLiteral("Références"), QStringLiteral("Divers #1"),
                            QStringLiteral("Divers #2")};
    for (int n = 1; n <= 7; ++n) {
        ASSERT_NE(window->ToolBar(n), nullptr);
        EXPECT_TRUE(names.contains(window->ToolBar(n)->windowTitle())) << n;
        EXPECT_TRUE(window->ToolBar(n)->isFloatable());
    }
    EXPECT_EQ(window->toolBarBreak(window->ToolBar(6)), true);
    EXPECT_EQ(window->Button(QStringLiteral("TBScroll"))->size(), QSize(38, 39));
    EXPECT_EQ(A("TBScroll")->toolTip(), QStringLiteral("Défilement des images"));
    EXPECT_FALSE(window->Button(QStringLiteral("TBScroll"))->icon().isNull());
}

TEST_F(WindowTest, LoadedVisitEnablesTheCommandsThatAreBuilt)
{
    Open();
    ShowVisit();
    EXPECT_EQ(Frames().size(), 2);
    TFrameDicomViewer *current = window->CurrentFrame();
    ASSERT_EQ(current, Frames().first());
    EXPECT_TRUE(current->IsActive);
    for (const char *name : {"TBSerieNext", "TBImageLast", "TBZoom", "TBScroll", "TBMove", "TBMagnify", "TBMagnify2",
                             "TBStretch", "TBInvert", "TBSmoothing", "TBStudyExplode", "TBWinSimple", "TBWinMultiple",
                             "TBImageIntensite", "TBLabelOvl", "TBImageReset", "TBRotation"})
        EXPECT_TRUE(A(name)->isEnabled()) << name;
    // Commands whose work is not part of this edition stay visible and disabled.
    for (const QString &name : window->NotBuiltCommands())
        EXPECT_FALSE(window->Action(name)->isEnabled()) << name.toStdString();
    EXPECT_TRUE(A("TBMesureLine")->isVisible());
    EXPECT_TRUE(A("TBWinSimple")->isChecked());
    EXPECT_TRUE(A("TBLabelOvl")->isChecked());
    EXPECT_TRUE(A("TBSmoothing")->isChecked()) << "series are loaded smoothed";
    // The frames sit in their 2 x 1 cells at once.
    const QSize box = Child()->ScrollBox()->size();
    EXPECT_EQ(Frames()[0]->geometry(), QRect(0, 0, box.width() / 2, box.height()));
    EXPECT_EQ(Frames()[1]->geometry(), QRect(box.width() / 2, 0, box.width() / 2, box.height()));
    EXPECT_EQ(Frames()[1]->DicomViewer()->CurrentImage()->BorderStyle(), 0) << "the second frame is not highlighted";

    // Inversion follows the current image's sign.
    A("TBInvert")->trigger();
    EXPECT_LT(current->CurrentFrameImage()->Width(), 0);
    window->UpdateControls();
    EXPECT_TRUE(A("TBInvert")->isChecked());

    // Closing the child window resets every tool and disables everything else.
    A("TBZoom")->trigger();
    ASSERT_EQ(window->RightTool(), int(toolMove));
    window->CloseActiveChildWindow();
    Drain();
    EXPECT_EQ(window->CurrentFrame(), nullptr);
    EXPECT_EQ(VisitData().VisitImages()->Count(), 0);
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    EXPECT_EQ(window->RightTool(), int(toolIntensite));
    EXPECT_TRUE(A("TBScroll")->isChecked());
    EXPECT_FALSE(A("TBZoom")->isChecked());
    EXPECT_FALSE(A("TBZoom")->isEnabled());
    EXPECT_FALSE(A("TBInvert")->isChecked());
}

TEST_F(WindowTest, ZoomAndPanAreChosenTogetherAndSwitchStretchOff)
{
    Open();
    ShowVisit();
    A("TBZoom")->trigger();
    EXPECT_EQ(window->LeftTool(), int(toolZoom));
    EXPECT_TRUE(A("TBMove")->isChecked());
    EXPECT_EQ(window->RightTool(), int(toolMove));

    A("TBScroll")->trigger();
    A("TBImageIntensite")->trigger();
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    A("TBMove")->trigger();
    EXPECT_TRUE(A("TBZoom")->isChecked());
    EXPECT_EQ(window->LeftTool(), int(toolZoom));

    // Stretch on while zooming: back to scrolling.
    const auto image = window->CurrentFrame()->CurrentFrameImage();
    A("TBStretch")->trigger();
    EXPECT_TRUE(image->StretchToFit());
    EXPECT_TRUE(A("TBScroll")->isChecked());
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    // Zoom again: stretch goes off.
    A("TBZoom")->trigger();
    EXPECT_FALSE(A("TBStretch")->isChecked());
    EXPECT_FALSE(image->StretchToFit());

    // A stretched image with the zoom tool: UpdateControls brings scrolling back.
    image->SetStretchToFit(true);
    window->UpdateControls();
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    EXPECT_TRUE(A("TBScroll")->isChecked());
}

TEST_F(WindowTest, WheelOverAFrameThatIsNotCurrentMakesItCurrentAndScrollsIt)
{
    Open();
    ShowVisit();
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *second = Frames()[1];
    ASSERT_FALSE(second->ScrollBar()->isHidden());
    Wheel(Control(second), {50, 50}, -120);
    EXPECT_EQ(window->CurrentFrame(), second);
    EXPECT_TRUE(second->IsActive);
    EXPECT_FALSE(first->IsActive);
    EXPECT_EQ(second->ScrollBar()->value(), 2);
    EXPECT_EQ(second->DicomViewer()->CurrentImage()->BorderStyle(), 2);
    EXPECT_EQ(first->CurrentFrameImage()->BorderStyle(), 0);
    Wheel(Control(second), {50, 50}, 120);
    EXPECT_EQ(second->ScrollBar()->value(), 1);
    Wheel(Control(second), {50, 50}, 120);
    EXPECT_EQ(second->ScrollBar()->value(), 1);
    // Image navigation buttons act on the current frame.
    A("TBImageLast")->trigger();
    EXPECT_EQ(second->ScrollBar()->value(), second->ScrollBar()->maximum());
    A("TBImagePrior")->trigger();
    EXPECT_EQ(second->ScrollBar()->value(), second->ScrollBar()->maximum() - 1);
    A("TBImageFirst")->trigger();
    EXPECT_EQ(second->ScrollBar()->value(), 1);
}

TEST_F(WindowTest, RightClickWithoutMovementOpensTheSeriesMenu)
{
    Open();
    ShowVisit();
    TFrameDicomViewer *frame = window->CurrentFrame();
    const double width = frame->CurrentFrameImage()->Width();
    QTest::mousePress(Control(frame), Qt::RightButton, Qt::NoModifier, {120, 120});
    QTest::mouseRelease(Control(frame), Qt::RightButton, Qt::NoModifier, {120, 120});
    ASSERT_EQ(popups.size(), 1);
    QMenu *menu = popups.first();
    EXPECT_EQ(menu, Child()->PopupMenuSeries());
    EXPECT_DOUBLE_EQ(frame->CurrentFrameImage()->Width(), width);
    const auto actions = menu->actions();
    ASSERT_GE(actions.size(), 5);
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Effacer l'annotation"));
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Modifier l'annotation texte"));
    EXPECT_FALSE(actions[1]->isEnabled()) << "no annotation under the cursor";
    EXPECT_TRUE(actions[2]->isSeparator());
    // Two studies of the patient, each with its series; the series on screen is checked.
    QList<QAction *> studies;
    for (QAction *a : actions)
        if (a->menu())
            studies << a;
    ASSERT_EQ(studies.size(), 2);
    EXPECT_TRUE(studies[0]->text().startsWith(QStringLiteral("20261109 101500, Abdomen et thorax")))
        << studies[0]->text().toStdString();
    EXPECT_TRUE(studies[0]->isChecked());
    EXPECT_FALSE(studies[1]->isChecked());
    const QString current = frame->CurrentFrameImage()->SeriesUID();
    int checked = 0;
    QAction *other = nullptr;
    for (QAction *entry : studies[0]->menu()->actions()) {
        if (entry->isChecked()) {
            ++checked;
            EXPECT_EQ(entry->toolTip(), current);
        } else if (!other) {
            other = entry;
        }
    }
    EXPECT_EQ(checked, 1);
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(studies[0]->menu()->actions().first()->text().startsWith(QStringLiteral("1: Abdomen axial")));
    // Choosing another series shows it in the frame.
    other->trigger();
    EXPECT_EQ(frame->CurrentFrameImage()->SeriesUID(), other->toolTip());
}

TEST_F(WindowTest, ExplodeShowsTheCurrentFrameAloneAndBack)
{
    Open();
    ShowVisit();
    const QRect cell0 = Frames()[0]->geometry(), cell1 = Frames()[1]->geometry();
    A("TBStudyExplode")->trigger();
    EXPECT_TRUE(Frames()[1]->isHidden());
    EXPECT_EQ(Frames()[0]->geometry(), QRect(QPoint(0, 0), Child()->ScrollBox()->size()));
    A("TBStudyExplode")->trigger();
    EXPECT_FALSE(Frames()[1]->isHidden());
    EXPECT_EQ(Frames()[0]->geometry(), cell0);
    EXPECT_EQ(Frames()[1]->geometry(), cell1);
    // Single and multiple images in the frame.
    A("TBWinMultiple")->trigger();
    EXPECT_EQ(window->CurrentFrame()->DicomViewer()->MultiRows(), 2);
    EXPECT_EQ(window->CurrentFrame()->DicomViewer()->MultiColumns(), 2);
    window->UpdateControls();
    EXPECT_TRUE(A("TBWinMultiple")->isChecked());
    A("TBWinSimple")->trigger();
    EXPECT_EQ(window->CurrentFrame()->DicomViewer()->MultiRows(), 1);
    window->UpdateControls();
    EXPECT_TRUE(A("TBWinSimple")->isChecked());
}

TEST_F(WindowTest, WheelOverAFramesScrollBarActsAsOverItsImages)
{
    Open();
    ShowVisit();
    TFrameDicomViewer *first = Frames()[0];
    TFrameDicomViewer *second = Frames()[1];
    QScrollBar *bar = second->ScrollBar();
    ASSERT_FALSE(bar->isHidden());
    ASSERT_EQ(window->CurrentFrame(), first);
    // Over the scroll bar of the frame that is not current: it becomes current, one step.
    Wheel(bar, {bar->width() / 2, bar->height() / 2}, -120);
    EXPECT_EQ(window->CurrentFrame(), second);
    EXPECT_TRUE(second->IsActive);
    EXPECT_FALSE(first->IsActive);
    EXPECT_EQ(bar->value(), 2);
    Wheel(bar, {bar->width() / 2, bar->height() / 2}, 120);
    EXPECT_EQ(bar->value(), 1);
    // While the cine plays the wheel does nothing over a frame, its scroll bar included.
    window->SetDown(QStringLiteral("TBCine"), true);
    Wheel(bar, {bar->width() / 2, bar->height() / 2}, -120);
    Wheel(Control(first), {50, 50}, -120);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_EQ(first->ScrollBar()->value(), 1);
    EXPECT_EQ(window->CurrentFrame(), second);
    window->SetDown(QStringLiteral("TBCine"), false);
}

TEST_F(WindowTest, SeriesPresetTwoByTwoOnFiveSeriesShowsTheFirstFour)
{
    Open();
    ShowVisit();
    ASSERT_GE(VisitData().SeriesCount(), 5);
    window->RunWinMultiple = [](TFormWinMultiple &dialog) {
        dialog.show();
        EXPECT_EQ(dialog.SpinEditSerieColonne->value(), 2);
        EXPECT_EQ(dialog.SpinEditSerieLigne->value(), 1);
        dialog.Preset(QStringLiteral("SBSerie2x2"))->click();
        return dialog.ModalResult;
    };
    window->Personnaliser2Click();
    Drain();
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 4);
    QString key = VisitData().VisitImages()->Item(1)->SeriesUID();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i]->objectName(), QStringLiteral("FrameDicomViewer%1").arg(i + 1));
        EXPECT_EQ(frames[i]->DicomViewer()->Images()->Item(1)->SeriesUID(), key) << i;
        key = VisitData().NextSeriesKey(key);
    }
    EXPECT_EQ(window->CurrentFrame(), frames[0]);
    const QSize box = Child()->ScrollBox()->size();
    EXPECT_EQ(frames[3]->geometry(), QRect(box.width() / 2, box.height() / 2, box.width() / 2, box.height() / 2));
    EXPECT_EQ(Child()->SeriesColumns, 2);
    EXPECT_EQ(Child()->SeriesRows, 2);
}

TEST_F(WindowTest, TheLayoutDialogShowsTheLayoutInForce)
{
    Open();
    ShowVisit();
    // Two columns and six rows typed in, then "Appliquer".
    window->RunWinMultiple = [](TFormWinMultiple &dialog) {
        dialog.show();
        dialog.SpinEditSerieColonne->setValue(2);
        dialog.SpinEditSerieLigne->setValue(6);
        dialog.SBOK->click();
        return dialog.ModalResult;
    };
    window->Personnaliser2Click();
    Drain();
    ASSERT_EQ(Child()->SeriesRows, 6);
    ASSERT_EQ(Child()->SeriesColumns, 2);
    // Opened again: it shows 2 x 6, and Enter keeps it.
    int rowsShown = 0, columnsShown = 0;
    window->RunWinMultiple = [&](TFormWinMultiple &dialog) {
        dialog.show();
        rowsShown = dialog.SpinEditSerieLigne->value();
        columnsShown = dialog.SpinEditSerieColonne->value();
        QTest::keyClick(&dialog, Qt::Key_Return);
        return dialog.ModalResult;
    };
    window->Personnaliser2Click();
    Drain();
    EXPECT_EQ(rowsShown, 6);
    EXPECT_EQ(columnsShown, 2);
    EXPECT_EQ(Child()->SeriesRows, 6);
    EXPECT_EQ(Child()->SeriesColumns, 2);
}

TEST_F(WindowTest, ImagePresetIsClampedToTheNumberOfImages)
{
    Open(QStringLiteral("KV000456"));
    ShowVisit();
    ASSERT_EQ(VisitData().SeriesCount(), 1);
    EXPECT_TRUE(A("TBStudyExplode")->isChecked()) << "a visit of one series opens exploded";
    window->RunWinMultiple = [](TFormWinMultiple &dialog) {
        dialog.show();
        dialog.Preset(QStringLiteral("SBImage8x4"))->click();
        return dialog.ModalResult;
    };
    window->Personnaliser2Click();
    const auto control = window->CurrentFrame()->DicomViewer();
    EXPECT_EQ(control->Images()->Count(), 3);
    EXPECT_EQ(control->MultiColumns(), 3);
    EXPECT_EQ(control->MultiRows(), 3);
    EXPECT_EQ(Frames().size(), 1) << "an image preset keeps the frames";
}

TEST_F(WindowTest, MagnifierFollowsTheMouseAndKeepsItsCrossCentred)
{
    Open();
    ShowVisit();
    // 300 % chosen in the button's menu is checked next time.
    QMenu *menu = window->PreparePopup(QStringLiteral("PopupMenuMagnify"));
    menu->actions()[2]->trigger();
    EXPECT_EQ(window->MagnifyZoomValue, 3);
    window->PreparePopup(QStringLiteral("PopupMenuMagnify"));
    EXPECT_TRUE(menu->actions()[2]->isChecked());
    EXPECT_FALSE(menu->actions()[1]->isChecked());

    A("TBMagnify")->trigger();
    TFormMagnify *magnify = window->FormMagnify();
    ASSERT_NE(magnify, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(magnify));
    EXPECT_EQ(window->LeftTool(), int(toolMagnify));
    TFrameDicomViewer *frame = window->CurrentFrame();
    const auto image = frame->CurrentFrameImage();
    const int labels = image->Labels()->Count();
    QTest::mousePress(Control(frame), Qt::LeftButton, Qt::NoModifier, {100, 120});
    const auto m = magnify->DicomViewer()->CurrentImage();
    ASSERT_NE(m, nullptr);
    EXPECT_NE(m, image) << "the magnifier shows its own entry";
    EXPECT_DOUBLE_EQ(m->Zoom(), 3.0);
    EXPECT_EQ(image->Labels()->Count(), labels) << "the frame's image keeps its labels";
    EXPECT_EQ(magnify->windowTitle(), QStringLiteral("3.0x"));
    auto expected = [&](int x, int y) {
        const double f = m->ActualZoom() / image->ActualZoom();
        const int w = magnify->DicomViewer()->width(), h = magnify->DicomViewer()->height();
        return QPoint(int(std::trunc((image->ActualScrollX() + x - image->OriginX()) * f - w / 2.0)),
                      int(std::trunc((image->ActualScrollY() + y - image->OriginY()) * f - h / 2.0)));
    };
    EXPECT_EQ(QPoint(m->ScrollX(), m->ScrollY()), expected(100, 120));
    Move(Control(frame), {180, 90}, Qt::LeftButton);
    EXPECT_EQ(QPoint(m->ScrollX(), m->ScrollY()), expected(180, 90));
    QTest::mouseRelease(Control(frame), Qt::LeftButton, Qt::NoModifier, {180, 90});

    auto crossCentred = [&] {
        const auto h = magnify->CrossHorizontal(), v = magnify->CrossVertical();
        const int w = magnify->DicomViewer()->width(), hh = magnify->DicomViewer()->height();
        EXPECT_EQ(h->Left(), w / 2 - 12);
        EXPECT_EQ(h->Top(), hh / 2);
        EXPECT_EQ(v->Left(), w / 2);
        EXPECT_EQ(v->Top(), hh / 2 - 12);
        EXPECT_EQ(h->Width(), 24);
        EXPECT_EQ(v->Height(), 24);
        EXPECT_EQ(h->ForeColour(), 0x80FF);
    };
    crossCentred();
    magnify->resize(331, 260);
    QCoreApplication::processEvents();
    crossCentred();
    // A picture over the phantom's rods.
    QTest::mousePress(Control(frame), Qt::LeftButton, Qt::NoModifier, {250, 190});
    QTest::mouseRelease(Control(frame), Qt::LeftButton, Qt::NoModifier, {250, 190});
    QCoreApplication::processEvents();
    crossCentred();
    magnify->grab().save(ScreenshotPath(QStringLiteral("magnifier.png")));

    // Choosing the scroll tool closes it.
    A("TBScroll")->trigger();
    Drain();
    EXPECT_EQ(window->FormMagnify(), nullptr);
    // Closing it by its close box brings the scroll tool back.
    A("TBMagnify")->trigger();
    ASSERT_NE(window->FormMagnify(), nullptr);
    window->FormMagnify()->close();
    Drain();
    EXPECT_EQ(window->FormMagnify(), nullptr);
    EXPECT_EQ(window->LeftTool(), int(toolScroll));
    EXPECT_TRUE(A("TBScroll")->isChecked());
}

TEST_F(WindowTest, LoupeSitsUnderTheCursorWhileTheButtonIsHeld)
{
    Open();
    ShowVisit();
    A("TBMagnify2")->trigger();
    EXPECT_EQ(window->LeftTool(), int(toolMagnify2));
    TFrameDicomViewer *frame = window->CurrentFrame();
    QTest::mousePress(Control(frame), Qt::LeftButton, Qt::NoModifier, {200, 200});
    TFormMagnify2 *loupe = window->FormMagnify2();
    ASSERT_NE(loupe, nullptr);
    EXPECT_TRUE(loupe->isVisible());
    const QPoint cursor = Control(frame)->mapToGlobal(QPoint(200, 200));
    const QWidget *view = loupe->DicomViewer();
    EXPECT_EQ(view->mapToGlobal(QPoint(view->width() / 2, view->height() / 2)), cursor);
    const auto l = loupe->DicomViewer()->CurrentImage();
    ASSERT_NE(l, nullptr);
    EXPECT_DOUBLE_EQ(l->Zoom(), 2.0);
    const int px = frame->DicomViewer()->ImageXPosition(200, 200);
    EXPECT_EQ(l->ScrollX(), int(std::nearbyint(px * 2.0)) - view->width() / 2);
    Move(Control(frame), {230, 210}, Qt::LeftButton);
    EXPECT_EQ(view->mapToGlobal(QPoint(view->width() / 2, view->height() / 2)),
              Control(frame)->mapToGlobal(QPoint(230, 210)));
    QCoreApplication::processEvents();
    loupe->grab().save(ScreenshotPath(QStringLiteral("loupe.png")));
    QTest::mouseRelease(Control(frame), Qt::LeftButton, Qt::NoModifier, {230, 210});
    EXPECT_EQ(window->FormMagnify2(), nullptr);
}

TEST_F(WindowTest, ReferenceLinesOfTheCurrentFrameAppearOnTheOtherFrame)
{
    Open();
    ShowVisit();
    TFrameDicomViewer *axial = Frames()[0];
    TFrameDicomViewer *coronal = Frames()[1];
    const auto labels = coronal->DicomViewer()->CurrentImage()->Labels();
    const int before = labels->Count();
    A("TBCurrentRef")->trigger();
    ASSERT_EQ(labels->Count(), before + 2) << "a line and its number";
    EXPECT_EQ(labels->Item(before + 1)->LabelType(), int(imaging::DicomLabel::TypeLine));
    EXPECT_EQ(labels->Item(before + 1)->ForeColour(), 0x80FF);
    EXPECT_EQ(labels->Item(before + 1)->LineStyle(), 2);
    EXPECT_EQ(labels->Item(before + 2)->Text(),
              loading::AttributeText(*axial->DicomViewer()->CurrentImage()->Attributes(), 0x0020, 0x0013));
    const int top = labels->Item(before + 1)->Top();
    // Moving through the axial series moves the line.
    A("TBImageLast")->trigger();
    ASSERT_EQ(labels->Count(), before + 2);
    EXPECT_NE(labels->Item(before + 1)->Top(), top);
    // All lines, then none.
    A("TBAllRef")->trigger();
    EXPECT_FALSE(A("TBCurrentRef")->isChecked());
    EXPECT_GT(labels->Count(), before + 2);
    EXPECT_EQ((labels->Count() - before) % 2, 0);
    A("TBAllRef")->trigger();
    EXPECT_EQ(labels->Count(), before);
    // Leaving the frame clears them too.
    A("TBCurrentRef")->trigger();
    EXPECT_EQ(labels->Count(), before + 2);
    axial->FrameExit();
    EXPECT_EQ(labels->Count(), before);
}

TEST_F(WindowTest, ManualSynchronisationKeepsItsOffsetAndAutomaticNeedsTheSamePlanes)
{
    Open();
    ShowVisit();
    // The second frame shows the earlier study's axial series (another frame of reference).
    const auto images = VisitData().VisitImages();
    const QString earlier = images->Item(images->Count())->SeriesUID();
    TFrameDicomViewer *main = Frames()[0];
    TFrameDicomViewer *other = Frames()[1];
    window->LoadFrame(other, earlier);
    ASSERT_EQ(other->DicomViewer()->Images()->Count(), 4);
    other->ScrollBar()->setValue(2);
    ASSERT_EQ(window->CurrentFrame(), main);

    A("TBSeriesAuto")->trigger();
    EXPECT_EQ(window->SyncMode, 1);
    main->ScrollBar()->setValue(3);
    EXPECT_EQ(other->ScrollBar()->value(), 2) << "other planes: the frame stays";

    main->ScrollBar()->setValue(1);
    A("TBSeriesManual")->trigger();
    EXPECT_FALSE(A("TBSeriesAuto")->isChecked());
    EXPECT_EQ(window->SyncMode, 2);
    EXPECT_EQ(other->SyncOffset, -1);
    main->ScrollBar()->setValue(3);
    EXPECT_EQ(other->ScrollBar()->value(), 4);
    main->ScrollBar()->setValue(2);
    EXPECT_EQ(other->ScrollBar()->value(), 3);
    A("TBSeriesManual")->trigger();
    EXPECT_EQ(window->SyncMode, 0);
    main->ScrollBar()->setValue(1);
    EXPECT_EQ(other->ScrollBar()->value(), 3);
}

TEST_F(WindowTest, MailProgramThatCannotStartIsReported)
{
    Open();
    QUrl asked;
    window->OpenUrl = [&](const QUrl &url) {
        asked = url;
        return false;
    };
    A("CourrielKorvane1")->trigger();
    EXPECT_EQ(asked.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(asked.path(), QLatin1String(TFormViewer::kSupportKorvane));
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_EQ(shell.messages.back().text,
              QStringLiteral("Impossible de faire fonctionner votre programme de courrier électronique."));
}

TEST_F(WindowTest, Screenshots)
{
    Open();
    ShowVisit();
    TFrameDicomViewer *frame = window->CurrentFrame();
    Move(Control(frame), {250, 250}, Qt::NoButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->StatusPanel(0).contains(QStringLiteral("HU:"))) << window->StatusPanel(0).toStdString();
    window->SetStatusPanel(2, QStringLiteral("V: 2"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->grab().save(ScreenshotPath(QStringLiteral("mainwindow.png"))));

    window->RunPopup = nullptr;
    window->PopupSeriesMenu(frame, Control(frame)->mapToGlobal(QPoint(150, 150)));
    QMenu *menu = Child()->PopupMenuSeries();
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    QAction *study = nullptr;
    for (QAction *a : menu->actions())
        if (a->menu()) {
            study = a;
            break;
        }
    ASSERT_NE(study, nullptr);
    menu->setActiveAction(study);
    study->menu()->popup(menu->mapToGlobal(QPoint(menu->width(), 0)));
    ASSERT_TRUE(WaitFor([&] { return study->menu()->isVisible(); }));
    menu->grab().save(ScreenshotPath(QStringLiteral("seriesmenu.png")));
    study->menu()->grab().save(ScreenshotPath(QStringLiteral("seriesmenu-study.png")));
    study->menu()->close();
    menu->close();

    window->RunWinMultiple = [](TFormWinMultiple &dialog) {
        dialog.show();
        QCoreApplication::processEvents();
        dialog.grab().save(ScreenshotPath(QStringLiteral("layoutdialog.png")));
        return int(mrCancel);
    };
    window->Personnaliser2Click();

    QMenu *rotations = window->Menu(QStringLiteral("PopupMenuRotations"));
    rotations->popup(window->mapToGlobal(QPoint(300, 100)));
    ASSERT_TRUE(WaitFor([&] { return rotations->isVisible(); }));
    rotations->grab().save(ScreenshotPath(QStringLiteral("rotationsmenu.png")));
    rotations->close();
}
