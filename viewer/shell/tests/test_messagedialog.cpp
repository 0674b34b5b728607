#include "viewer/shell/messagedialog.h"
#include "viewer/shell/startup.h"

#include "shelltesting.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include "testsupport/qtestgtest.h"
#include <QTimer>

#include <gtest/gtest.h>

namespace {
void InstallFrench()
{
    static bool done = false;
    if (!done)
        shell::InstallFrenchTranslations(*qApp);
    done = true;
}
} // namespace

TEST(MessageDialog, ThreeLinesMakeItTwoTextLinesTallerThanQtsOwnBox)
{
    InstallFrench();
    ShellFixture fixture({}, 2, QSize(1280, 1024), 40);
    fixture.Create();
    const QString text = QStringLiteral("Première ligne du message\rDeuxième ligne, un peu plus longue que la première\rFin");

    QMessageBox plain;
    plain.setIcon(QMessageBox::Question);
    plain.setText(QStringLiteral("Première ligne du message\nDeuxième ligne, un peu plus longue que la première\nFin"));
    plain.addButton(QMessageBox::Yes);
    plain.addButton(QMessageBox::No);
    plain.show();
    QCoreApplication::processEvents();

    TKorvaneMessageBox box(text, TMsgDlgType::mtConfirmation, mbYes | mbNo);
    box.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(box.PlatformSize(), plain.size());
    EXPECT_EQ(box.height(), plain.height() + 2 * box.TextHeight());
    EXPECT_GE(box.width(), plain.width());
    EXPECT_EQ(box.font().family(), "Arial");
    EXPECT_EQ(box.font().pointSize(), 12);
    auto *label = box.findChild<QLabel *>("qt_msgbox_label");
    ASSERT_TRUE(label);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_EQ(label->text().count('\n'), 2);
    EXPECT_EQ(box.windowTitle(), "Confirmation");

    // Centred on monitor 1 and in the work area.
    EXPECT_EQ(box.x(), TemplateDM().MonitorLeft(box.width(), 1));
    EXPECT_EQ(box.y(), (984 - box.height()) / 2);

    // French buttons, the first one offered first, with the mouse on it.
    ASSERT_TRUE(box.FirstButton());
    QTRY_COMPARE(QCursor::pos(), box.FirstButton()->mapToGlobal(box.FirstButton()->rect().center()));
    EXPECT_EQ(box.FirstButton()->text().remove('&'), "Oui");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Non");
    QDir().mkpath(KORVANE_BINARY_DIR "/screenshots");
    box.grab().save(KORVANE_BINARY_DIR "/screenshots/message.png");
    plain.grab().save(KORVANE_BINARY_DIR "/screenshots/message-qt.png");
    plain.close();
}

TEST(MessageDialog, OneLineKeepsQtsHeightAndAnswersTheButtonPressed)
{
    InstallFrench();
    ShellFixture fixture;
    fixture.Create();
    // No recording function: the real dialog, answered by a timer.
    TemplateDM().SetMessageDialogFunction({});
    bool answered = false;
    WhenModalShows([&answered](QWidget *modal) {
        auto *box = qobject_cast<TKorvaneMessageBox *>(modal);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->height(), box->PlatformSize().height());
        EXPECT_EQ(box->windowTitle(), "Erreur");
        answered = true;
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    const int result = TemplateDM().ShowMessageDialog("Supprimer la mesure?", TMsgDlgType::mtError, mbYes | mbNo);
    EXPECT_TRUE(answered);
    EXPECT_EQ(result, mrNo);
}

TEST(MessageDialog, ALongLineIsShownWhole)
{
    InstallFrench();
    ShellFixture fixture({}, 2, QSize(1280, 1024), 40);
    fixture.Create();
    for (const QString &text :
         {QStringLiteral("Impossible de faire fonctionner votre programme de courrier électronique."),
          QStringLiteral("Court\rUne seconde ligne nettement plus longue que la première, qui doit tenir entière."),
          QStringLiteral("Le fichier DICOMDIR est introuvable!")}) {
        TKorvaneMessageBox box(text, TMsgDlgType::mtError, mbOK);
        box.show();
        QCoreApplication::processEvents();
        auto *label = box.findChild<QLabel *>("qt_msgbox_label");
        ASSERT_TRUE(label);
        const QFontMetrics metrics(label->font());
        int widest = 0;
        for (const QString &line : label->text().split('\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // The label's text area holds the widest line, and the label lies inside the box.
        EXPECT_GE(label->contentsRect().width(), widest) << text.toStdString();
        EXPECT_TRUE(box.rect().contains(label->geometry())) << text.toStdString();
        box.close();
    }
}

// A 500-character accession number in a file name: the box wraps it, inside the word
// where it must, and stays on its monitor with its button on the screen.
TEST(MessageDialog, LongWordsAreWrappedAndTheBoxStaysOnTheScreen)
{
    InstallFrench();
    ShellFixture fixture({}, 2, QSize(1280, 1024), 40);
    fixture.Create();
    const QString accession(500, QLatin1Char('A'));
    const QString text = QStringLiteral("La dictée /home/radiologue/KorvaneCD/") + accession
                         + QStringLiteral(".wav ne peut pas être complétée :\rLe nom du fichier est trop long.");
    TKorvaneMessageBox box(text, TMsgDlgType::mtError, mbOK);
    box.show();
    QCoreApplication::processEvents();
    const QRect monitor(0, 0, 1280, 984);
    EXPECT_TRUE(monitor.contains(box.geometry())) << box.geometry().x() << "," << box.geometry().width();
    ASSERT_TRUE(box.FirstButton());
    EXPECT_TRUE(box.rect().contains(box.FirstButton()->geometry()));
    auto *label = box.findChild<QLabel *>("qt_msgbox_label");
    ASSERT_TRUE(label);
    EXPECT_TRUE(box.rect().contains(label->geometry()));
    const QFontMetrics metrics(label->font());
    const QStringList lines = label->text().split('\n');
    EXPECT_GE(lines.size(), 4);
    for (const QString &line : lines)
        EXPECT_LE(metrics.horizontalAdvance(line), label->contentsRect().width()) << line.toStdString();
    // Nothing of the text is lost: only blanks became line breaks.
    EXPECT_EQ(QString(label->text()).remove('\n').remove(' '), QString(text).remove('\r').remove(' '));
    EXPECT_TRUE(label->text().contains(QStringLiteral("Le nom du fichier est trop long.")));
    box.close();
}
