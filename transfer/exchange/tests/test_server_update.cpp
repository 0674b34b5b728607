// Self-update through the updater, news window, purge window and shortcuts
// of the first-time configuration.
#include "exchangetestutil.h"

#include "transfer/exchange/housekeeping.h"
#include "transfer/exchange/zipcomponent.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

using namespace exchange;
using strandel::MessageKind;

using Update = ExchangeFixture;

namespace {
// The stand-in updater writes its arguments to a side file and renames it into place,
// so the record appears only once it is complete.
void writeUpdater(const QString &path, const QString &record)
{
    ziptest::writeFile(path, ("#!/bin/sh\nprintf '%s' \"$*\" > '" + record + ".part' && mv '" + record + ".part' '"
                              + record + "'\n")
                                 .toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}
QByteArray waitForFile(const QString &path)
{
    QElapsedTimer t;
    t.start();
    while (!QFile::exists(path) && t.elapsed() < 60000)
        QTest::qWait(20);
    return ziptest::readAll(path);
}
} // namespace

TEST_F(Update, OfferedInstalledAndTheUpdaterStarted)
{
    start("Version=Strandel__50\r\n");
    ASSERT_TRUE(ziptest::writeZip(server->root() + "/updates/Strandel__51.zip",
                                  {{"Strandel__51", "#!/bin/sh\n"}, {"StrandelNews.txt", "Quoi de neuf"}}));
    const QString record = dir.path() + "/args.txt";
    writeUpdater(work + "/StrandelMaj", record);
    x->CheckForUpdate(true, form.get());
    ASSERT_EQ(texts(MessageKind::Confirmation).size(), 2) << rec.texts().join(" | ").toStdString();
    EXPECT_EQ(texts(MessageKind::Confirmation)[0],
              "Une mise à jour de Strandel est disponible sur le serveur : Strandel__51.zip\r\rVoulez-vous procéder maintenant ?");
    EXPECT_EQ(texts(MessageKind::Confirmation)[1], "Strandel va maintenant être fermé puis réouvert.");
    EXPECT_EQ(waitForFile(record), QByteArray("Strandel/Strandel__51"));
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(form->settings().Version, "Strandel__51");
    EXPECT_TRUE(clienttest::readFile(work + "/Strandel.ini").contains("Version=Strandel__51"));
    EXPECT_TRUE(QFile::exists(work + "/Strandel__51"));
    EXPECT_TRUE(QFile::exists(work + "/StrandelNews.txt"));
}

namespace {
// Every entry below root: files with their bytes, folders and links marked.
QMap<QString, QByteArray> contents(const QString &root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo fi(it.next());
        out.insert(QDir(root).relativeFilePath(fi.filePath()),
                   fi.isSymLink() ? QByteArray("<link>") : fi.isDir() ? QByteArray("<folder>") : ziptest::readAll(fi.filePath()));
    }
    return out;
}
} // namespace

// The update unpacks into the folder of the visits. An archive that holds
// anything but the transfer client's own files is refused whole, naming the
// first such entry: nothing is written, the updater is not started. An
// ordinary update still goes in and starts the updater.
TEST_F(Update, AnArchiveHoldingPatientDataOrViewerFilesIsRefusedWhole)
{
    start("Version=Strandel__50\r\n");
    ASSERT_TRUE(ziptest::writeFile(work + "/DICOMDIR", "catalogue of patient A"));
    ASSERT_TRUE(ziptest::writeFile(work + "/DICOM/ST1/SE1/IM1", "image of patient A"));
    ASSERT_TRUE(ziptest::writeFile(work + "/A123.wav", "dictation of patient A"));
    ASSERT_TRUE(ziptest::writeFile(work + "/KorvaneCD.INI", "[Radiologistes]\r\nDR MARTIN=12345 7\r\n"));
    ASSERT_TRUE(ziptest::writeFile(work + "/CLINIQUE_A123.ok", "CLINIQUE\r\n2005-03-02\r\nA123\r\n"));
    const QString record = dir.path() + "/args.txt";
    writeUpdater(work + "/StrandelMaj", record);
    const QString offered = server->root() + "/updates/Strandel__51.zip";

    // Made by the zip component with the archive password, the program first.
    const QString src = dir.path() + "/update";
    for (const char *name : {"Strandel__51", "DICOMDIR", "KorvaneCD.INI", "A123.wav"})
        ASSERT_TRUE(ziptest::writeFile(src + "/" + name, QByteArray("from the update: ") + name));
    ASSERT_TRUE(ZipDictations(server->root() + "/updates", "Strandel__51.zip",
                              {src + "/Strandel__51", src + "/DICOMDIR", src + "/KorvaneCD.INI", src + "/A123.wav"},
                              ArchivePassword));
    const QMap<QString, QByteArray> before = contents(work);
    x->CheckForUpdate(true, form.get());
    EXPECT_EQ(texts(MessageKind::Error),
              QStringList{"ERREUR : La mise à jour Strandel__51.zip est refusée.\r\r"
                          "Elle contient \"DICOMDIR\", un catalogue d'images : une mise à jour ne crée ni "
                          "ne remplace jamais les données des patients, les fichiers du visualiseur ni les paramètres."
                          "\r\rAucun fichier n'a été installé. Procédure annulée."});
    QMap<QString, QByteArray> after = contents(work);
    EXPECT_EQ(after.take("Strandel__51.zip"), ziptest::readAll(offered)); // the archive as received
    EXPECT_EQ(after, before);
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(form->settings().Version, "Strandel__50");
    EXPECT_FALSE(said("Strandel va maintenant être fermé puis réouvert."));
    EXPECT_FALSE(QFile::exists(record));

    // Each kind of file of the visits or the viewer, after a program file.
    for (const QString &hostile : {QStringLiteral("DICOM/ST1/SE1/IM1"), QStringLiteral("NOUVEAU/"),
                                   QStringLiteral("dicomdir.A123"), QStringLiteral("A123.RAP"),
                                   QStringLiteral("RES_PretDicter.wav"), QStringLiteral("korvanecd.ini"),
                                   QStringLiteral("Strandel.ini"), QStringLiteral("CLINIQUE_A123.ok"),
                                   QStringLiteral("IM2.dcm"), QStringLiteral("CLINIQUE.zip.001"),
                                   QStringLiteral("lisezmoi.txt")}) {
        SCOPED_TRACE(hostile.toStdString());
        ASSERT_TRUE(ziptest::writeZip(offered, {{"Strandel__51", "#!/bin/sh\n"}, {hostile, "x"}}));
        rec.messages.clear();
        x->CheckForUpdate(true, form.get());
        ASSERT_EQ(texts(MessageKind::Error).size(), 1);
        EXPECT_TRUE(texts(MessageKind::Error)[0].startsWith(
            "ERREUR : La mise à jour Strandel__51.zip est refusée.\r\rElle contient \"" + hostile.chopped(hostile.endsWith('/')) + "\", "))
            << texts(MessageKind::Error)[0].toStdString();
        after = contents(work);
        after.remove("Strandel__51.zip");
        EXPECT_EQ(after, before);
        EXPECT_EQ(quits, 0);
    }

    // An ordinary update: the client, a library, the news.
    ASSERT_TRUE(ziptest::writeZip(offered, {{"Strandel__51", "#!/bin/sh\n"}, {"libstrandel.so.1", "elf"},
                                            {"StrandelNews.txt", "Quoi de neuf"}}));
    rec.messages.clear();
    x->CheckForUpdate(true, form.get());
    EXPECT_TRUE(texts(MessageKind::Error).isEmpty()) << rec.texts().join(" | ").toStdString();
    EXPECT_EQ(waitForFile(record), QByteArray("Strandel/Strandel__51"));
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(form->settings().Version, "Strandel__51");
    after = contents(work);
    EXPECT_EQ(after.take("Strandel__51"), QByteArray("#!/bin/sh\n"));
    EXPECT_EQ(after.take("libstrandel.so.1"), QByteArray("elf"));
    EXPECT_EQ(after.take("StrandelNews.txt"), QByteArray("Quoi de neuf"));
    for (const QString &kept : before.keys())
        if (kept != "Strandel.ini")
            EXPECT_EQ(after.value(kept), before.value(kept)) << kept.toStdString();
}

TEST_F(Update, SameVersionDeclinedOrMissingUpdater)
{
    start("Version=Strandel__50\r\n");
    x->CheckForUpdate(true, form.get());
    EXPECT_EQ(rec.texts(), QStringList{"Il n'y a pas de fichier de mise à jour sur le serveur."});

    ASSERT_TRUE(ziptest::writeZip(server->root() + "/updates/STRANDEL__50.ZIP", {{"a", "b"}}));
    rec.messages.clear();
    x->CheckForUpdate(true, form.get());
    EXPECT_EQ(rec.texts(), QStringList{"La version trouvée sur le serveur : STRANDEL__50.ZIP\ra déjà été installée sur votre poste."});
    rec.messages.clear();
    x->CheckForUpdate(false, form.get()); // without messages: nothing at all
    EXPECT_TRUE(rec.messages.isEmpty());

    ASSERT_TRUE(ziptest::writeZip(server->root() + "/updates/Strandel__51.zip", {{"Strandel__51", "x"}}));
    rec.messages.clear();
    rec.answers = {false};
    x->CheckForUpdate(true, form.get());
    EXPECT_FALSE(QFile::exists(work + "/Strandel__51.zip"));

    rec.messages.clear();
    x->CheckForUpdate(true, form.get()); // no updater in the folder
    // The message names the file the program looked for.
    EXPECT_EQ(texts(MessageKind::Error).value(0),
              "ERREUR: Le programme utilisé pour faire la mise à jour est absent.\r\r"
              "StrandelMaj est introuvable.\r\rProcédure annulée.");
    EXPECT_EQ(form->settings().Version, "Strandel__50");
    EXPECT_EQ(quits, 0);
}

TEST_F(Update, FirstUseCheckRunsOncePerRunBeforeADownload)
{
    start("Version=Strandel__50\r\n");
    form->settings().MajAuto = true;
    ASSERT_TRUE(ziptest::writeZip(server->root() + "/updates/Strandel__51.zip", {{"Strandel__51", "x"}}));
    rec.answers = {false}; // "No" to the update
    onDialog = [](QDialog &) { return int(QDialog::Rejected); };
    form->downloadClicked();
    EXPECT_TRUE(form->updateCheckMade());
    const int asked = texts(MessageKind::Confirmation).size();
    EXPECT_EQ(asked, 1);
    form->downloadClicked();
    EXPECT_EQ(texts(MessageKind::Confirmation).size(), asked);
}

TEST(RunProgram, MissingProgramSaysPathNotFound)
{
    const RunResult r = RunProgram("/nonexistent/StrandelMaj", "Strandel/Strandel__51", false);
    EXPECT_FALSE(r.started);
    EXPECT_EQ(r.error, "Impossible d'exécuter le programme suivant :\r/nonexistent/StrandelMaj Strandel/Strandel__51\rChemin non trouvé !");
    const RunResult t = RunProgram("/bin/sh", "-c", true);
    EXPECT_TRUE(t.started);
    EXPECT_NE(t.exitCode, 0); // "sh -c" without a command fails
}

using Housekeeping = ExchangeFixture;

TEST_F(Housekeeping, NewsShowOnceUnlessTheBoxIsUnticked)
{
    start();
    ziptest::writeFile(work + "/StrandelNews.txt", "Version 4.3.4 : corrections");
    QString shown;
    onDialog = [&](QDialog &d) {
        if (auto *n = qobject_cast<TFormNews *>(&d)) {
            shown = n->text()->toPlainText();
            n->dontShowAgain()->setChecked(false);
            n->accept();
        }
        return d.result();
    };
    x->showNews();
    EXPECT_EQ(shown, "Version 4.3.4 : corrections");
    EXPECT_TRUE(QFile::exists(work + "/StrandelNews.txt"));
    onDialog = [&](QDialog &d) {
        d.accept(); // box left ticked
        return d.result();
    };
    x->showNews();
    EXPECT_FALSE(QFile::exists(work + "/StrandelNews.txt"));
}

TEST_F(Housekeeping, AutomaticCheckOpensThePurgeWindow)
{
    start("Epurer=30\r\n");
    ziptest::writeFile(work + "/OLD/I.dcm", "d");
    ziptest::writeFile(work + "/DICOMDIR", "d");
    ziptest::writeFile(work + "/x.ok2", "");
    QFile f(work + "/DICOMDIR");
    f.open(QIODevice::ReadWrite);
    f.setFileTime(QDateTime::currentDateTime().addDays(-40), QFileDevice::FileModificationTime);
    f.close();
    QStringList listed;
    onDialog = [&](QDialog &d) {
        if (auto *e = qobject_cast<TFormEpuration *>(&d)) {
            for (int i = 0; i < e->list()->count(); ++i)
                listed << e->list()->item(i)->text();
            e->purgeButton()->click();
            e->purgeButton()->click(); // now empty
        }
        return int(QDialog::Rejected);
    };
    x->automaticPurgeCheck();
    EXPECT_TRUE(texts(MessageKind::Confirmation).value(0).startsWith("Épuration automatique des images."));
    EXPECT_TRUE(texts(MessageKind::Confirmation).value(0).contains("paramètres :30 j.\r"));
    EXPECT_EQ(listed, QStringList{"DICOMDIR"}); // OLD is dated today
    EXPECT_EQ(texts(MessageKind::Information), (QStringList{"Épuration terminée.", "Aucun fichier à épurer."}));
    EXPECT_FALSE(QFile::exists(work + "/DICOMDIR"));
    EXPECT_FALSE(QFile::exists(work + "/x.ok2"));
    EXPECT_TRUE(QFile::exists(work + "/OLD/I.dcm"));
}

TEST_F(Housekeeping, ShortcutsFollowTheTickedBoxes)
{
    start();
    form->features().createShortcuts(*form, true, false);
    EXPECT_EQ(QDir(dir.path() + "/Bureau").entryList(QDir::Files), QStringList{"Strandel.desktop"});
    EXPECT_TRUE(ziptest::readAll(dir.path() + "/Bureau/Strandel.desktop").contains(("Exec=\"" + work + "/Strandel\"").toUtf8()));
}
