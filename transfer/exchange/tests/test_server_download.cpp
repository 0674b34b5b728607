// Downloading study archives from the loopback server: fragments, merge,
// unpacking, the failures of each step, continuous mode and hostile archives.
#include "exchangetestutil.h"

#include "transfer/exchange/fragments.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QStatusBar>

using namespace exchange;
using strandel::MessageKind;
using ziptest::Entry;

namespace {
QList<Entry> studyEntries(const QByteArray &bulk, bool ftpOk = true)
{
    const QByteArray sub = ExchangeFixture::zipBytes({{"IM3.dcm", bulk}});
    const QByteArray serie = ExchangeFixture::zipBytes({{"IM1.dcm", "one"}, {"SUB.zip", sub}});
    QList<Entry> e{{"DICOMDIR", "catalogue"}, {"CLINIQUE_A.ok", "CLINIQUE\r\n2005-03-02\r\nA\r\n"},
                   {"SERIE1.zip", serie}};
    if (ftpOk)
        e.append(Entry{"ftp.ok", ""});
    return e;
}
} // namespace

using Download = ExchangeFixture;

TEST_F(Download, ThreeFragmentsAreRebuiltUnpackedAndGone)
{
    start();
    const QByteArray served = offerStudy(studyEntries(ziptest::noise(2450000)));
    ASSERT_GT(served.size(), 2000000);
    ASSERT_LT(served.size(), 3000000);
    int fragmentsListed = -1;
    form->features().receivedBlock = [&, old = form->features().receivedBlock](strandel::TClientForm &f) {
        old(f);
        if (x->downloadWindow())
            fragmentsListed = x->downloadWindow()->list()->count();
    };
    QString confirmed;
    onDialog = [&](QDialog &d) {
        if (auto *a = qobject_cast<TFormAttente *>(&d))
            confirmed = a->nameField()->text() + "|" + a->volumeField()->text() + "|" + a->minutesField()->text();
        return defaultAnswer(d);
    };
    form->downloadClicked();

    EXPECT_EQ(confirmed, QString("CLINIQUE.zip|%1|%2").arg(served.size()).arg(formatEstimatedMinutes(
                                                                  EstimatedMinutes(served.size(), 60))));
    EXPECT_EQ(fragmentsListed, 3);
    ASSERT_TRUE(texts(MessageKind::Information).value(0).startsWith(
        "La réception des images est terminée.\r\rTemps requis : 00:00:"))
        << rec.texts().join(" | ").toStdString();
    EXPECT_EQ(texts(MessageKind::Error), QStringList());
    // The merged archive equals the server's; fragments are gone; the
    // nested archives became folders.
    EXPECT_EQ(ziptest::readAll(work + "/CLINIQUE.zip"), served);
    EXPECT_EQ(workFiles(), (QStringList{"CLINIQUE.zip", "CLINIQUE_A.ok", "DICOMDIR", "SERIE1", "Strandel.ini", "ftp.ok"}));
    EXPECT_EQ(ziptest::readAll(work + "/SERIE1/SUB/IM3.dcm").size(), 2450000);
    EXPECT_FALSE(QFile::exists(work + "/SERIE1.zip"));
    EXPECT_FALSE(QFile::exists(work + "/SERIE1/SUB.zip"));
    // The server's archive was deleted, the rate measured and written.
    EXPECT_FALSE(QFile::exists(serverUser() + "/CLINIQUE.zip"));
    EXPECT_EQ(form->settings().TauxTransfert, "0.50"); // 1 minute at least, 2.4 MB rounds to 2
    EXPECT_TRUE(clienttest::readFile(work + "/Strandel.ini").contains("TauxTransfert=0.50"));
    EXPECT_TRUE(form->statusText().startsWith("  Réception terminée. Temps requis : 00:00:"));
    EXPECT_TRUE(form->downloadButton()->isEnabled());
}

TEST_F(Download, OnlyTheFragmentsOfTheArchiveAreTouched)
{
    start();
    const QByteArray served = offerStudy(studyEntries(ziptest::noise(1500000)));
    // The user's files whose names hold the archive's name in any case, and a
    // numbered piece left by an interrupted download of the same archive.
    ziptest::writeFile(work + "/Copie de CLINIQUE.zip.txt", "the user's copy");
    ziptest::writeFile(work + "/notes_clinique.zip.bak", "the user's notes");
    ziptest::writeFile(work + "/CLINIQUE.zip.009", "stale piece");
    form->downloadClicked();
    ASSERT_EQ(texts(MessageKind::Error), QStringList()) << rec.texts().join(" | ").toStdString();
    EXPECT_EQ(ziptest::readAll(work + "/CLINIQUE.zip"), served);
    EXPECT_EQ(ziptest::readAll(work + "/Copie de CLINIQUE.zip.txt"), QByteArray("the user's copy"));
    EXPECT_EQ(ziptest::readAll(work + "/notes_clinique.zip.bak"), QByteArray("the user's notes"));
    EXPECT_FALSE(QFile::exists(work + "/CLINIQUE.zip.009"));
    EXPECT_TRUE(QDir(work).entryList({"CLINIQUE.zip.0*"}).isEmpty());
}

TEST_F(Download, EmptyFragmentListFailsAtTheMerge)
{
    start();
    ASSERT_EQ(server->control("answer DebutDownLoadZip OK"), "OK");
    QString t;
    EXPECT_FALSE(x->DownloadArchive("AUTRE.zip", 1000, &t));
    EXPECT_EQ(form->statusText(), "  ERREUR (4/4) Fusionnement des fragments");
    EXPECT_FALSE(QFile::exists(work + "/AUTRE.zip"));
    EXPECT_EQ(texts(MessageKind::Error), QStringList());
}

TEST_F(Download, StepOneFailureLeavesTheOlderArchiveAlone)
{
    start();
    offerStudy(studyEntries("x"));
    ASSERT_TRUE(ziptest::writeZip(work + "/CLINIQUE.zip", studyEntries("older")));
    ASSERT_EQ(server->control("answer DebutDownLoadZip ERREUR occupé"), "OK");
    form->downloadClicked();
    EXPECT_TRUE(said("Erreur au moment de la fragmentation du fichier\rcontenant les images.\r(ERREUR occupé)"));
    EXPECT_EQ(texts(MessageKind::Error).last(), "ERREUR durant la réception des images.");
    EXPECT_FALSE(QFile::exists(work + "/DICOMDIR"));                 // not unpacked
    EXPECT_TRUE(QFile::exists(serverUser() + "/CLINIQUE.zip"));      // not deleted on the server
    EXPECT_TRUE(QFile::exists(work + "/CLINIQUE.zip"));
}

TEST_F(Download, FaultInStepOneCountsAsErreurException)
{
    start();
    offerStudy(studyEntries("x"));
    ASSERT_EQ(server->control("mode DebutDownLoadZip fault Panne"), "OK");
    QString t;
    EXPECT_FALSE(x->DownloadArchive("CLINIQUE.zip", 100, &t));
    EXPECT_TRUE(said("(ERREUR EXCEPTION)"));
    EXPECT_TRUE(texts(MessageKind::Error).value(0).startsWith("ERREUR D'EXCEPTION\r\r"));
    EXPECT_EQ(form->statusText(), "  ERREUR (1/4) Fragmentation du fichier d'images");
}

TEST_F(Download, MissingFtpOkDeletesTheServerArchiveButKeepsTheLocalOne)
{
    start();
    offerStudy(studyEntries("x", false));
    form->downloadClicked();
    EXPECT_TRUE(said("l'absence du fichier \"ftp.ok\""));
    EXPECT_EQ(texts(MessageKind::Error).last(), "ERREUR durant la réception des images.");
    EXPECT_FALSE(QFile::exists(serverUser() + "/CLINIQUE.zip"));
    EXPECT_TRUE(QFile::exists(work + "/CLINIQUE.zip"));
    EXPECT_TRUE(QFile::exists(work + "/SERIE1/SUB/IM3.dcm"));
}

TEST_F(Download, KeptVisitsGetTheirOwnCatalogueName)
{
    clock = [] { return QDateTime(QDate(2005, 3, 2), QTime(14, 30, 5)); };
    start("Conserver=1\r\nEpurer=30\r\n");
    offerStudy(studyEntries("x"));
    form->downloadClicked();
    EXPECT_TRUE(QFile::exists(work + "/DICOMDIR.A"));
    EXPECT_FALSE(QFile::exists(work + "/DICOMDIR"));

    // Without a marker the time stamp of the download names it (a visit of
    // its own folders: the first one's files are not to be replaced).
    offerStudy({{"DICOMDIR", "catalogue 2"}, {"ftp.ok", ""},
                {"SERIE2.zip", zipBytes({{"IM1.dcm", "second visit"}})}});
    QFile::remove(work + "/CLINIQUE_A.ok");
    form->downloadClicked();
    EXPECT_TRUE(QFile::exists(work + "/DICOMDIR.050302143005")) << workFiles().join(",").toStdString();
    EXPECT_TRUE(QFile::exists(work + "/DICOMDIR.A"));
}

TEST_F(Download, NothingAvailableRunsThePeriodicCheckUntilAnArchiveComes)
{
    start();
    int windows = 0;
    onDialog = [&](QDialog &d) {
        if (auto *w = qobject_cast<TFormAttente2 *>(&d)) {
            ++windows;
            // The archive appears while the window is counting.
            QTimer::singleShot(30, [this] { offerStudy(studyEntries("late")); });
            const int r = w->exec();
            EXPECT_GE(w->checks(), 1);
            return r;
        }
        if (qobject_cast<TFormAttente *>(&d))
            ADD_FAILURE() << "no confirmation after a periodic check";
        return defaultAnswer(d);
    };
    form->downloadClicked();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(QFile::exists(work + "/SERIE1/SUB/IM3.dcm"));

    // Declining the periodic check ends silently.
    rec.messages.clear();
    onDialog = [](QDialog &) { return int(QDialog::Rejected); };
    form->downloadClicked();
    EXPECT_TRUE(rec.messages.isEmpty());
}

TEST_F(Download, ContinuousModeDownloadsOneArchiveAfterAnother)
{
    start("ModeAttente=1\r\n");
    offerStudy({{"ftp.ok", ""}, {"DICOMDIR", "1"}, {"ONE/I.dcm", "1"}});
    int windows = 0;
    onDialog = [&](QDialog &d) {
        if (auto *w = qobject_cast<TFormAttente2 *>(&d)) {
            ++windows;
            if (windows == 2)
                offerStudy({{"ftp.ok", ""}, {"DICOMDIR", "2"}, {"TWO/I.dcm", "2"}});
            if (windows == 3)
                return int(QDialog::Rejected); // "Fermer"
            return w->exec();
        }
        if (qobject_cast<TFormAttente *>(&d))
            ADD_FAILURE() << "continuous mode does not ask";
        return defaultAnswer(d);
    };
    form->downloadClicked();
    EXPECT_EQ(windows, 3);
    EXPECT_TRUE(QFile::exists(work + "/ONE/I.dcm"));
    EXPECT_TRUE(QFile::exists(work + "/TWO/I.dcm"));
    EXPECT_EQ(form->statusText(), "La réception des images est terminée.");
    EXPECT_TRUE(rec.messages.isEmpty()) << rec.texts().join(" | ").toStdString();

    // "Non" in the first dialog ends at once.
    onDialog = [&](QDialog &) { return TFormVerifContinue::NoResult; };
    windows = 0;
    form->downloadClicked();
    EXPECT_EQ(windows, 0);
}

TEST_F(Download, HostileArchivesFromTheServerAreRefused)
{
    start();
    const QString outside = dir.path() + "/evil.txt";
    // Zip slip, both separators.
    for (const QByteArray &name : {QByteArray("../evil.txt"), QByteArray("..\\evil.txt")}) {
        ASSERT_TRUE(ziptest::writeRawZip(serverUser() + "/CLINIQUE.zip",
                                         {{"ftp.ok", ""}, {"DICOMDIR", "d"}, {name, "evil"}}));
        rec.messages.clear();
        form->downloadClicked();
        EXPECT_TRUE(said("[Référence : 5]")) << rec.texts().join(" | ").toStdString();
        EXPECT_EQ(texts(MessageKind::Error).last(), "ERREUR durant la réception des images.");
        EXPECT_FALSE(QFile::exists(outside));
        EXPECT_FALSE(QFile::exists(work + "/DICOMDIR"));
    }
    // A symbolic link entry.
    ASSERT_TRUE(ziptest::writeRawZip(serverUser() + "/CLINIQUE.zip",
                                     {{"ftp.ok", ""}, {"link", dir.path().toUtf8(), 0120777}}));
    rec.messages.clear();
    form->downloadClicked();
    EXPECT_TRUE(said("[Référence : 6]"));
    EXPECT_FALSE(QFileInfo(work + "/link").isSymLink());
    // An entry that announces 4 GB.
    ASSERT_TRUE(ziptest::writeRawZip(serverUser() + "/CLINIQUE.zip",
                                     {{"ftp.ok", ""}, {"big.dcm", "tiny", 0100644, 0xFFFFFFF0LL}}));
    rec.messages.clear();
    form->downloadClicked();
    EXPECT_TRUE(said("[Référence : 8]"));
    EXPECT_FALSE(QFile::exists(work + "/big.dcm"));
    // A fragment damaged on the way: bytes changed inside the served archive.
    QByteArray bytes = zipBytes(studyEntries(ziptest::noise(1500000)));
    for (int i = 1200000; i < 1200020; ++i)
        bytes[i] = char(bytes[i] ^ 0x77);
    ASSERT_TRUE(ziptest::writeFile(serverUser() + "/CLINIQUE.zip", bytes));
    rec.messages.clear();
    form->downloadClicked();
    EXPECT_TRUE(said("Erreur de décompression"));
    EXPECT_FALSE(QFile::exists(work + "/SERIE1/SUB/IM3.dcm"));
    EXPECT_FALSE(QFile::exists(serverUser() + "/CLINIQUE.zip")); // deleted so the server prepares it again
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), (QStringList{"Bureau", "KorvaneCD"}).mid(1));
}

TEST_F(Download, UnsafeNamesFromTheServerAreNeverFileNames)
{
    start();
    ASSERT_EQ(server->control("answer echoZipDisponible ../../evil.zip"), "OK");
    form->downloadClicked();
    EXPECT_TRUE(said("Nom de fichier refusé : ../../evil.zip"));
    EXPECT_EQ(server->control("reset"), "OK");
}

TEST_F(Download, DebugUnzipUnpacksTheLocalArchive)
{
    start();
    ASSERT_TRUE(ziptest::writeZip(work + "/CLINIQUE.zip", studyEntries("d")));
    x->unzipRadiologist();
    EXPECT_TRUE(QFile::exists(work + "/SERIE1/SUB/IM3.dcm"));
    EXPECT_TRUE(rec.messages.isEmpty());
}

TEST_F(Download, ReminderOffersToCloseAfterwards)
{
    start("Rappel=1\r\n");
    offerStudy(studyEntries("r"));
    rec.answers = {true};
    form->downloadClicked();
    EXPECT_EQ(texts(MessageKind::Confirmation),
              QStringList{"Vous pouvez maintenant fermer Strandel et ouvrir KorvaneCD.\r\rVoulez-vous fermer Strandel maintenant ?"});
    EXPECT_EQ(quits, 1);
    EXPECT_FALSE(form->isVisible());
}
