#include "viewer/shell/apphook.h"
#include "viewer/shell/forms.h"
#include "viewer/shell/korvanehint.h"

#include "shelltesting.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include "testsupport/qtestgtest.h"
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <cstring>

namespace {

class ToolWindow : public TTemplate3
{
    Q_OBJECT
public:
    ToolWindow()
    {
        resize(300, 200);
        auto *layout = new QVBoxLayout(this);
        button = new QPushButton("Fermer", this);
        grid = new QTableWidget(3, 3, this);
        layout->addWidget(button);
        layout->addWidget(grid);
    }
    QPushButton *button;
    QTableWidget *grid;
};

// Derives from a form that derives from TTemplate3: not closed by a right click.
class DerivedToolWindow : public ToolWindow
{
    Q_OBJECT
};

class PressCounter : public QObject
{
public:
    int presses = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress)
            ++presses;
        return false;
    }
};

void ShowActive(QWidget *window)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

} // namespace

TEST(Template3, ARightClickClosesTheForegroundToolWindow)
{
    ShellFixture fixture;
    fixture.Create();
    {
        ToolWindow window;
        ShowActive(&window);
        QTest::mouseClick(window.button, Qt::RightButton);
        EXPECT_FALSE(window.isVisible());
    }
    {
        ToolWindow window;
        window.CloseOnRightClick = false;
        ShowActive(&window);
        QTest::mouseClick(window.button, Qt::RightButton);
        EXPECT_TRUE(window.isVisible());
        window.close();
    }
    {
        DerivedToolWindow window;
        ShowActive(&window);
        QTest::mouseClick(window.button, Qt::RightButton);
        EXPECT_TRUE(window.isVisible());
        window.close();
    }
}

TEST(Template3, ARightClickOnAGridIsDiscardedBeforeClosing)
{
    ShellFixture fixture;
    fixture.Create();
    ToolWindow window;
    ShowActive(&window);
    PressCounter counter;
    window.grid->viewport()->installEventFilter(&counter);
    QTest::mouseClick(window.grid->viewport(), Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(counter.presses, 0);
}

// Records where a window is when it is first painted and when it is first activated
// (before the window itself sees the activation), and every move after it is painted.
class PlaceRecorder : public QObject
{
public:
    explicit PlaceRecorder(QWidget *window) : window_(window) { window->installEventFilter(this); }
    QList<QPoint> exposed;
    QList<QPoint> activated;
    int movesAfterShowing = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate && activated.isEmpty())
            activated << window_->pos();
        if (event->type() == QEvent::Paint && exposed.isEmpty())
            exposed << window_->pos();
        if (event->type() == QEvent::Move && !exposed.isEmpty())
            ++movesAfterShowing;
        return false;
    }

private:
    QWidget *window_;
};

TEST(Template3, PlacedOnItsMonitorBeforeItShowsNeverMovedAfterAndItPaintsTheGradient)
{
    ShellFixture fixture({}, 2, QSize(1280, 1024));
    fixture.Create();
    ToolWindow window;
    window.Monitor = 1;
    PlaceRecorder recorder(&window);
    EXPECT_FALSE(window.Activated());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // On its monitor from the first picture on: centred across, and in the work area down.
    ASSERT_FALSE(recorder.exposed.isEmpty());
    EXPECT_EQ(recorder.exposed.first().x(), TemplateDM().MonitorLeft(window.width(), 1));
    EXPECT_EQ(recorder.exposed.first().y(), (TemplateDM().WorkAreaHeight() - window.height()) / 2);
    // Activated (the user's first click): it stays where it is.
    ASSERT_FALSE(recorder.activated.isEmpty());
    EXPECT_EQ(recorder.activated.first(), recorder.exposed.first());
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::mouseClick(window.button, Qt::LeftButton);
    EXPECT_TRUE(window.Activated());
    EXPECT_EQ(window.pos(), recorder.exposed.first());
    EXPECT_EQ(recorder.movesAfterShowing, 0);
    // A single border: the designed size, neither smaller nor larger, and no maximize.
    EXPECT_EQ(window.minimumSize(), QSize(300, 200));
    EXPECT_EQ(window.maximumSize(), QSize(300, 200));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.windowTitle(), " " + shell::ApplicationTitle());

    TemplateDM().CaptionPrefix = "KorvaneCD - Quellarix";
    window.hide();
    window.show();
    EXPECT_EQ(window.windowTitle(), "KorvaneCD - Quellarix " + shell::ApplicationTitle());

    window.button->hide();
    window.grid->hide();
    const QImage picture = window.grab().toImage();
    EXPECT_EQ(QColor(picture.pixel(150, 0)), TTemplate3::GradientTop());
    const QColor bottom(picture.pixel(150, picture.height() - 1));
    EXPECT_GE(bottom.red(), 250);
    EXPECT_GE(bottom.green(), 250);
}

TEST(Template3, ASizeableWindowKeepsItsBorderAndAPlacedOneItsTop)
{
    ShellFixture fixture({}, 2, QSize(1280, 1024));
    fixture.Create();
    ToolWindow window;
    window.Sizeable = true;
    window.move(10, 77);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.pos(), QPoint(TemplateDM().MonitorLeft(window.width(), 0), 77));
    EXPECT_EQ(window.minimumSize(), QSize(300, 200));
    EXPECT_GT(window.maximumWidth(), 10000);
    window.resize(500, 400);
    EXPECT_EQ(window.size(), QSize(500, 400));
}

TEST(Template1, MaximizeSpansTheMonitorsOverTheWorkArea)
{
    ShellFixture fixture({}, 2, QSize(1024, 768), 30);
    fixture.Create();
    TTemplate1 window;
    window.resize(400, 300);
    window.show();
    window.showMaximized();
    // The whole window, its frame included, covers the work area: the client area is
    // smaller by the frame (the offscreen platform draws a thin one).
    QTRY_COMPARE(window.frameGeometry().size(), QSize(2048, 738));
    EXPECT_FALSE(window.isMaximized());
    EXPECT_EQ(window.frameGeometry().topLeft(), QPoint(0, 0));
    EXPECT_LE(window.geometry().height(), 738);
}

TEST(Template1, TheMaximisedPlacementHoldsWhenAWindowManagerTakesTheWindowIn)
{
    ShellFixture fixture({}, 1, QSize(1280, 1024), 0);
    fixture.Create();
    TTemplate1 window;
    window.resize(1024, 768);
    window.show();
    window.PostMaximize();
    QTRY_COMPARE(window.frameGeometry().size(), QSize(1280, 1024));
    const QRect fitted = window.geometry();
    // A window manager starting just then puts the window back at the size it had read
    // and frames it, without the frame's thickness changing for the program.
    window.setGeometry(QRect(fitted.topLeft(), QSize(1024, 768)));
    QCoreApplication::processEvents();
    ASSERT_EQ(window.geometry().size(), QSize(1024, 768));
    // Its notice that it took the window in (ReparentNotify, as the X server sends it).
    quint8 notice[32] = {};
    notice[0] = 21;
    const auto id = static_cast<quint32>(window.winId());
    std::memcpy(notice + 4, &id, sizeof id);
    std::memcpy(notice + 8, &id, sizeof id);
    qintptr result = 0;
    QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", notice, &result);
    QTRY_COMPARE(window.geometry(), fitted);
    // Another window's notice changes nothing.
    window.setGeometry(QRect(fitted.topLeft(), QSize(1024, 768)));
    const auto other = id + 1;
    std::memcpy(notice + 8, &other, sizeof other);
    QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", notice, &result);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(window.geometry().size(), QSize(1024, 768));
}

TEST(Template1, MinimizingOneWindowMinimizesTheApplication)
{
    ShellFixture fixture;
    fixture.Create();
    TTemplate1 main;
    ToolWindow tool;
    main.show();
    tool.show();
    main.showMinimized();
    QTRY_VERIFY(tool.isMinimized());
}

// A modal form minimized with the application survives it: after restoring, it is back in
// front with what was typed, and its answer is the one given then.
template<class Form>
void MinimizedModalSurvives(Form &dialog, QLineEdit *edit, TTemplate1 &main)
{
    bool returned = false;
    bool minimizedWithIt = false, restoredWithIt = false, keptText = false;
    QPointer<Form> guard(&dialog);
    WhenModalShows([&](QWidget *) {
        QTest::keyClicks(edit, QStringLiteral("DR ALPHA"));
        dialog.showMinimized();
        QCoreApplication::processEvents();
        minimizedWithIt = main.isMinimized();
        // The user restores the application later, from its main window.
        QTimer::singleShot(0, [&, guard] {
            if (!guard || returned)
                return;
            main.showNormal();
            QCoreApplication::processEvents();
            restoredWithIt = guard->isVisible() && !guard->isMinimized();
            keptText = edit->text() == QStringLiteral("DR ALPHA");
            guard->CloseWithResult(mrOk);
        });
    });
    const int result = dialog.ShowModal();
    returned = true;
    EXPECT_EQ(result, int(mrOk));
    EXPECT_TRUE(minimizedWithIt);
    EXPECT_TRUE(restoredWithIt);
    EXPECT_TRUE(keptText);
}

class EditForm3 : public TTemplate3
{
public:
    EditForm3()
    {
        resize(300, 120);
        edit = new QLineEdit(this);
    }
    QLineEdit *edit;
};

class EditForm1 : public TTemplate1
{
public:
    EditForm1()
    {
        resize(300, 120);
        edit = new QLineEdit(this);
        setCentralWidget(edit);
    }
    QLineEdit *edit;
};

TEST(RunModal, MinimizingTheApplicationNeverEndsAModalForm)
{
    ShellFixture fixture;
    fixture.Create();
    TTemplate1 main;
    ShowActive(&main);
    {
        EditForm3 dialog;
        MinimizedModalSurvives(dialog, dialog.edit, main);
    }
    {
        EditForm1 dialog;
        MinimizedModalSurvives(dialog, dialog.edit, main);
    }
    // Closing still ends it, with the form's answer.
    EditForm3 dialog;
    WhenModalShows([&](QWidget *) { dialog.CloseWithResult(mrCancel); });
    EXPECT_EQ(dialog.ShowModal(), int(mrCancel));
}

TEST(KorvaneHint, ToolTipsShowInTheHintWindow)
{
    ShellFixture fixture;
    fixture.Create();
    QWidget window;
    auto *button = new QPushButton("W/L", &window);
    button->setToolTip("Intensité & contraste");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(button, &help);
    TKorvaneHint *hint = TemplateDM().ApplicationHook()->Hint();
    ASSERT_TRUE(hint);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->Text(), "Intensité & contraste");
    EXPECT_EQ(hint->size(), hint->SizeFor("Intensité & contraste"));
    EXPECT_EQ(hint->height(), 32 + 8);
    EXPECT_EQ(hint->font().pointSize(), 12);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(hint->isVisible());
}

#include "test_forms.moc"
