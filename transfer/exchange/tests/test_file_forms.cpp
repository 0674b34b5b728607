// The exchange windows: captions, fixed texts, and the periodic check window's
// clock and countdown. Each window is also saved as a picture for review.
#include "testsupport/fifoguard.h"
#include "transfer/exchange/exchangeforms.h"
#include "ziptestkit.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QAbstractTextDocumentLayout>
#include <QProcess>

#include <gtest/gtest.h>

using namespace exchange;

namespace {
QStringList labels(const QWidget &w)
{
    QStringList out;
    for (const QLabel *l : w.findChildren<QLabel *>())
        out << l->text();
    for (const QPushButton *b : w.findChildren<QPushButton *>())
        out << b->text();
    return out;
}
void snapshot(QWidget &w, const QString &name)
{
    w.show();
    QTest::qWait(20);
    const QString dir = QStringLiteral(KORVANE_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    EXPECT_TRUE(w.grab().save(dir + "/exchange-" + name + ".png"));
}
} // namespace

TEST(Forms, ConfirmationAndCheckDialogs)
{
    TFormAttente a;
    a.fill("CLINIQUE.zip", 2500000, "0.22", "1    ");
    EXPECT_EQ(a.windowTitle(), "Téléchargement");
    EXPECT_TRUE(a.nameField()->isReadOnly());
    for (const char *t : {"Nom du fichier à télécharger", "Etes-vous prêt à télécharger ?", "Commencer", "Annuler",
                          "(minutes/Mg)", "(octets)", "(minutes)"})
        EXPECT_TRUE(labels(a).contains(QString::fromUtf8(t))) << t;
    snapshot(a, "attente");

    TFormVerification v;
    EXPECT_EQ(v.windowTitle(), "Vérification périodique");
    EXPECT_EQ(v.period(), 60);
    v.periodBox()->setValue(5);
    EXPECT_EQ(v.period(), 10);
    v.periodBox()->setValue(1000);
    EXPECT_EQ(v.period(), 300);
    snapshot(v, "verification");

    TFormVerifContinue c;
    EXPECT_EQ(c.windowTitle(), "Verification périodique continue");
    for (QPushButton *b : c.findChildren<QPushButton *>())
        if (b->text() == "Non")
            b->click();
    EXPECT_EQ(c.result(), TFormVerifContinue::NoResult);
    snapshot(c, "verifcontinue");
}

TEST(Forms, PeriodicCheckCountsAndAsksEveryPeriod)
{
    int asked = 0;
    TFormAttente2 w(3, [&] { return ++asked == 3 ? QString("CLINIQUE.zip") : QString(); });
    w.setTickInterval(5);
    EXPECT_EQ(w.exec(), QDialog::Accepted);
    // Asked at the first tick (counter 3), then at 6 and 9.
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(w.counter(), 9);
    EXPECT_EQ(w.clockText(), "00:00:09");
    EXPECT_EQ(w.found(), "CLINIQUE.zip");

    TFormAttente2 zero(0, [] { return QString(); });
    zero.setTickInterval(5);
    QTimer::singleShot(200, &zero, [&] {
        for (QPushButton *b : zero.findChildren<QPushButton *>())
            if (b->text() == "Fermer")
                b->click();
    });
    EXPECT_EQ(zero.exec(), QDialog::Rejected);
    EXPECT_EQ(zero.counter() >= 10, zero.checks() >= 1); // period 0 became 10
    snapshot(zero, "attente2");
}

TEST(Forms, ProgressWindowsNewsAndPurge)
{
    TFormDownLoad d;
    d.setTitle("CLINIQUE.zip");
    d.setFragments({"CLINIQUE.zip.001", "CLINIQUE.zip.002", "CLINIQUE.zip.003"});
    d.tick(0);
    d.select(1);
    d.resetCounter();
    d.addBlock(2048);
    d.addBlock(2048);
    EXPECT_EQ(d.counterText(), "  4096/1000000");
    EXPECT_TRUE(d.ticked(0));
    EXPECT_FALSE(d.ticked(1));
    EXPECT_TRUE(labels(d).contains("  Fragmentation en paquets de 1000000 d'octets"));
    snapshot(d, "download");

    TFormUpload u;
    u.setTitle("CLINIQUE_wav.zip");
    u.addPiece("[CLINIQUE_wav.zip.001]  ...  [/dictees/CLINIQUE_wav.zip.001]");
    u.tick(0);
    u.showSent(512000, 1000400);
    EXPECT_EQ(u.sentLabel()->text(), "512000/1000400 octets");
    snapshot(u, "upload");

    TFormUploadWav wav;
    wav.list()->addItem("2005-03-02 14:30:05      123456 A12345.wav");
    EXPECT_EQ(wav.windowTitle(), "Télécharger les dictées en amont");
    EXPECT_TRUE(wav.sendButton()->isDefault());
    EXPECT_FALSE(wav.serverNames()->isVisibleTo(&wav));
    snapshot(wav, "uploadwav");

    QTemporaryDir t;
    ziptest::writeFile(t.path() + "/StrandelNews.txt", "Nouveautés de la version 4.3.4\n- correction");
    TFormNews n(t.path() + "/StrandelNews.txt");
    EXPECT_EQ(n.windowTitle(), "Nouvelle version de Strandel");
    EXPECT_TRUE(n.dontShowAgain()->isChecked());
    EXPECT_TRUE(n.text()->toPlainText().startsWith("Nouveautés"));
    snapshot(n, "news");
    {
        // A FIFO in place of the news: shown empty, never waited on.
        testsupport::FifoGuard fifo;
        ASSERT_TRUE(fifo.Make(t.path() + "/Fifo.txt"));
        fifo.Start();
        TFormNews empty(t.path() + "/Fifo.txt");
        EXPECT_TRUE(empty.text()->toPlainText().isEmpty());
        EXPECT_FALSE(fifo.Fired());
    }

    TFormEpuration::Actions actions;
    actions.build = [] { return QStringList{"DICOMDIR.A123", "ST000001"}; };
    TFormEpuration e(QDate(2005, 3, 2), actions);
    EXPECT_EQ(e.dateField()->text(), "2005-03-02");
    EXPECT_EQ(e.list()->count(), 2);
    EXPECT_FALSE(e.list()->item(0)->flags() & Qt::ItemIsUserCheckable);
    snapshot(e, "epuration");
}

// The news window in a process of its own, for the test below: it shows the
// file named by STRANDEL_NEWS_FILE, lays the whole text out, and writes what
// it shows to STRANDEL_NEWS_SHOWN.
TEST(NewsWindow, DISABLED_ShowTheNewsFileOfTheEnvironment)
{
    const QString file = qEnvironmentVariable("STRANDEL_NEWS_FILE");
    ASSERT_FALSE(file.isEmpty());
    TFormNews n(file);
    n.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&n));
    n.text()->document()->documentLayout()->documentSize();
    QCoreApplication::processEvents();
    ASSERT_TRUE(ziptest::writeFile(qEnvironmentVariable("STRANDEL_NEWS_SHOWN"), n.text()->toPlainText().toUtf8()));
}

// News of 250,000 nested tables (3.75 MB) kept the client busy for minutes
// without a window. They come up as plain text, tags and all, within this
// test's wait for the window's process.
TEST(NewsWindow, DeeplyNestedTablesAreShownAsPlainText)
{
    QTemporaryDir t;
    QByteArray nested;
    for (int i = 0; i < 250000; ++i)
        nested += "<table><tr><td>";
    ASSERT_TRUE(ziptest::writeFile(t.path() + "/StrandelNews.txt", nested));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("STRANDEL_NEWS_FILE", t.path() + "/StrandelNews.txt");
    env.insert("STRANDEL_NEWS_SHOWN", t.path() + "/shown.txt");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=NewsWindow.DISABLED_ShowTheNewsFileOfTheEnvironment"});
    const bool ended = child.waitForFinished(120000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    ASSERT_TRUE(ended) << "the news window was not shown within 120 s";
    EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
    QByteArray shown = ziptest::readAll(t.path() + "/shown.txt");
    shown.replace('\n', "");
    EXPECT_EQ(shown.size(), nested.size());
    EXPECT_TRUE(shown == nested);
}

// News of a page, tables and lists included, are still rich text; tables
// nested deeper than a page of news ever is are not.
TEST(NewsWindow, OrdinaryHtmlStaysRichText)
{
    QTemporaryDir t;
    const QByteArray page = "<html><body><h1>Strandel 4.3.5</h1><p>Nouveautés :</p><ul><li>dictées</li></ul>"
                            "<table border=1><tr><td>Avant</td><td><table><tr><td>Après</td></tr></table></td></tr>"
                            "</table></body></html>";
    ASSERT_TRUE(ziptest::writeFile(t.path() + "/StrandelNews.txt", page));
    TFormNews rich(t.path() + "/StrandelNews.txt");
    EXPECT_FALSE(rich.text()->toPlainText().contains('<'));
    EXPECT_TRUE(rich.text()->toPlainText().contains("Après"));

    QByteArray deep;
    for (int i = 0; i < 30; ++i)
        deep += "<table><tr><td>";
    ASSERT_TRUE(ziptest::writeFile(t.path() + "/StrandelNews.txt", "<html>" + deep + "x"));
    TFormNews plain(t.path() + "/StrandelNews.txt");
    EXPECT_EQ(plain.text()->toPlainText(), "<html>" + deep + "x");
}
