#include "viewer/shell/formpassword.h"
#include "viewer/shell/jpegpicture.h"

#include "shelltesting.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#ifdef KORVANE_HAVE_MODULE
#include "imaging/imaging.h"
#endif

#include <gtest/gtest.h>

namespace {
QString ScreenshotFolder()
{
    const QString folder = QStringLiteral(KORVANE_BINARY_DIR "/screenshots");
    QDir().mkpath(folder);
    return folder;
}

// Answers the form's modal loop with a key once it shows.
void PressWhenShown(int key)
{
    WhenModalShows([key](QWidget *form) { QTest::keyClick(form, Qt::Key(key)); });
}
} // namespace

TEST(Jpeg, DecodesTheSplashResourceAndRefusesGarbage)
{
    QFile resource(":/LGOKORVANECD");
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    const QByteArray bytes = resource.readAll();
    const QImage picture = shell::DecodeJpeg(bytes);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(634, 443));
    // The same picture as Qt's own reader gives (JPEG is lossy between decoders only by rounding).
    const QImage reference = QImage::fromData(bytes, "JPG").convertToFormat(QImage::Format_RGB888);
    int worst = 0;
    for (int y = 0; y < picture.height(); y += 37)
        for (int x = 0; x < picture.width(); x += 41) {
            const QColor a = picture.pixelColor(x, y), b = reference.pixelColor(x, y);
            worst = std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                              std::abs(a.blue() - b.blue())});
        }
    EXPECT_LE(worst, 3);

    EXPECT_TRUE(shell::DecodeJpeg(QByteArray("not a jpeg at all")).isNull());
    EXPECT_TRUE(shell::DecodeJpeg(bytes.left(2)).isNull());
    EXPECT_TRUE(shell::DecodeJpeg(QByteArray()).isNull());
}

TEST(FormPassword, SplashOffersOKAndCancelAndOnlyThoseClose)
{
    ShellFixture fixture;
    TTemplateDM &dm = fixture.Create();
#ifdef KORVANE_HAVE_MODULE
    ASSERT_TRUE(dm.RegisterOCX());
#endif
    dm.CaptionPrefix = "KorvaneCD - Quellarix";
    {
        TFormPassword splash(false);
        splash.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&splash));
        EXPECT_EQ(splash.size(), QSize(634, 443));
        EXPECT_FALSE(splash.Picture().isNull());
        EXPECT_TRUE(splash.OKButton()->isVisible());
        EXPECT_TRUE(splash.CancelButton()->isVisible());
        EXPECT_EQ(splash.NoticeLabel()->text(), shell::ApplicationTitle());
        EXPECT_TRUE(splash.VersionLabel()->text().contains(QRegularExpression("\\d+\\.\\d+\\.\\d+\\.\\d+$")));
#ifdef KORVANE_HAVE_MODULE
        EXPECT_FALSE(splash.ComponentLabel()->text().contains("non disponible"));
#endif
        EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
        ASSERT_TRUE(splash.grab().save(ScreenshotFolder() + "/splash.png"));
        // A close request from outside (Alt+F4 through the window manager) is refused.
        splash.close();
        EXPECT_TRUE(splash.isVisible());
        splash.hide();
    }
    {
        TFormPassword splash(false);
        PressWhenShown(Qt::Key_Escape);
        EXPECT_EQ(splash.ShowModal(), mrCancel);
    }
    {
        TFormPassword splash(false);
        PressWhenShown(Qt::Key_Return);
        EXPECT_EQ(splash.ShowModal(), mrOk);
    }
}

TEST(FormPassword, AboutBoxHasOnlyOKWhereCancelWas)
{
    ShellFixture fixture;
    TTemplateDM &dm = fixture.Create();
#ifdef KORVANE_HAVE_MODULE
    ASSERT_TRUE(dm.RegisterOCX());
#endif
    dm.CaptionPrefix = "KorvaneCD - Quellarix";
    TFormPassword about(true);
    const QRect cancelPlace = about.CancelButton()->geometry();
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    EXPECT_FALSE(about.CancelButton()->isVisible());
    EXPECT_FALSE(about.CancelButton()->isEnabled());
    EXPECT_EQ(about.OKButton()->geometry(), cancelPlace);
    ASSERT_TRUE(about.grab().save(ScreenshotFolder() + "/about.png"));
    about.hide();
    // Escape does nothing on the About box; Enter closes it with OK.
    TFormPassword modal(true);
    WhenModalShows([&modal](QWidget *) {
        QTest::keyClick(&modal, Qt::Key_Escape);
        EXPECT_TRUE(modal.isVisible());
        QTest::keyClick(&modal, Qt::Key_Enter);
    });
    EXPECT_EQ(modal.ShowModal(), mrOk);
}

#ifdef KORVANE_HAVE_MODULE
TEST(FormPassword, CreatingItAppliesTheComponentSettings)
{
    ShellFixture fixture({"/StaticPalette"});
    TTemplateDM &dm = fixture.Create();
    ASSERT_TRUE(dm.RegisterOCX());
    auto global = dm.CreateComponent<imaging::DicomGlobal>();
    global->SetDirectionStrings("R\\L\\A\\P\\F\\H");
    global->SetRegWord("ScaleLineWidth", 1);
    fixture.SetMachine("DirectDraw", 5);
    fixture.SetMachine("StaticPalette", 0);
    {
        TFormPassword about(true);
    }
    EXPECT_EQ(global->DirectionStrings(), "D\\G\\A\\P\\I\\S");
    EXPECT_EQ(global->RegWord("DirectDraw"), 5);
    EXPECT_EQ(global->RegWord("StaticPalette"), 1) << "the option wins over the machine value";
    EXPECT_EQ(global->RegWord("ScaleLineWidth"), 0);

    // The "DirectDraw" option forces 0.
    TTemplateDM &same = dm;
    Q_UNUSED(same);
}
#endif
