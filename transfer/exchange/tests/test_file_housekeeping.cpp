// Purge of old visits, marker files and desktop shortcuts.
#include "transfer/exchange/housekeeping.h"
#include "ziptestkit.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utime.h>

using namespace exchange;

namespace {
void age(const QString &path, int days)
{
    const QDateTime when = QDateTime::currentDateTime().addDays(-days);
    QFile f(path);
    f.open(QIODevice::ReadWrite | QIODevice::ExistingOnly);
    f.setFileTime(when, QFileDevice::FileModificationTime);
    if (!f.isOpen()) { // folders
        utimbuf t{when.toSecsSinceEpoch(), when.toSecsSinceEpoch()};
        utime(QFile::encodeName(path).constData(), &t);
    }
}
} // namespace

TEST(Purge, CandidatesAreDicomOnlyFoldersAndOldCatalogues)
{
    QTemporaryDir t;
    const QString w = t.path() + "/korvanecd";
    ziptest::writeFile(w + "/ST1/IMG1.dcm", "d");
    QDir().mkpath(w + "/ST1/EMPTY");
    ziptest::writeFile(w + "/ST2/IMG1.DCM", "d");
    ziptest::writeFile(w + "/ST2/notes.txt", "keep me");
    ziptest::writeFile(w + "/ST3/A/B/I.dcm", "d");
    QDir().mkpath(w + "/EMPTYDIR");
    ziptest::writeFile(w + "/DICOMDIR", "c");
    ziptest::writeFile(w + "/DICOMDIR.A123", "c");
    ziptest::writeFile(w + "/NEWVISIT/I.dcm", "d");
    ziptest::writeFile(w + "/DICOMDIR.NEW", "c");
    ziptest::writeFile(w + "/Strandel.ini", "[parametres]");
    for (const char *p : {"ST1/EMPTY", "ST1", "ST2", "ST3", "EMPTYDIR", "DICOMDIR", "DICOMDIR.A123"})
        age(w + "/" + QString(p), 40);
    RecordingSink sink;
    const QDate limit = QDate::currentDate().addDays(-30);
    const QStringList c = PurgeCandidates(w, limit, sink);
    EXPECT_EQ(c, (QStringList{"DICOMDIR", "DICOMDIR.A123", "EMPTYDIR", "ST1", "ST3"}));
    EXPECT_TRUE(sink.entries.isEmpty());

    QStringList seen;
    PurgeList(w, c, [&](const QString &n) { seen << n; });
    EXPECT_EQ(seen, c);
    EXPECT_EQ(QDir(w).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"DICOMDIR.NEW", "NEWVISIT", "ST2", "Strandel.ini"}));

    // The full purge compares with today: the new visit goes too, ST2 stays.
    FullPurge(w, sink);
    EXPECT_EQ(QDir(w).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"ST2", "Strandel.ini"}));
}

TEST(Purge, NothingOutsideAFolderNamedKorvaneCD)
{
    QTemporaryDir t;
    const QString w = t.path() + "/Images";
    ziptest::writeFile(w + "/ST1/IMG1.dcm", "d");
    ziptest::writeFile(w + "/DICOMDIR", "c");
    RecordingSink sink;
    EXPECT_TRUE(PurgeCandidates(w, QDate::currentDate(), sink).isEmpty());
    EXPECT_EQ(sink.texts('E'), QStringList{"Erreur: Le répertoire courrant n'est pas KorvaneCD"});
    FullPurge(w, sink);
    EXPECT_TRUE(QFile::exists(w + "/ST1/IMG1.dcm"));
    EXPECT_TRUE(QFile::exists(w + "/DICOMDIR"));
}

TEST(Purge, LinksAreNeitherFollowedNorCounted)
{
    QTemporaryDir t;
    const QString w = t.path() + "/KorvaneCD";
    ziptest::writeFile(t.path() + "/outside/precious.dcm", "keep");
    QDir().mkpath(w + "/ST1");
    ziptest::writeFile(w + "/ST1/I.dcm", "d");
    QFile::link(t.path() + "/outside", w + "/ST1/link");
    QFile::link(t.path() + "/outside", w + "/LINKED");
    RecordingSink sink;
    EXPECT_TRUE(PurgeCandidates(w, QDate::currentDate(), sink).isEmpty());
    PurgeList(w, {"LINKED"});
    EXPECT_TRUE(QFile::exists(t.path() + "/outside/precious.dcm"));
}

TEST(Purge, MarkersGoButFtpOkStays)
{
    QTemporaryDir t;
    for (const char *n : {"CLINIQUE.ok", "x.OK", "ftp.ok", "r.ok2", "R.OK2", "DICOMDIR", "a.okay"})
        ziptest::writeFile(t.path() + "/" + n, "");
    PurgeMarkers(t.path());
    EXPECT_EQ(QDir(t.path()).entryList(QDir::Files, QDir::Name), (QStringList{"DICOMDIR", "a.okay", "ftp.ok"}));
}

TEST(Shortcuts, DesktopFilesForBothPrograms)
{
    QTemporaryDir t;
    const QString desk = t.path() + "/Bureau";
    const QString prog = t.path() + "/Mes programmes/KorvaneCD";
    ASSERT_TRUE(CreateProgramShortcuts(desk, prog, true, true));
    QSettings viewer(desk + "/KorvaneCD.desktop", QSettings::IniFormat);
    viewer.beginGroup("Desktop Entry");
    EXPECT_EQ(viewer.value("Type").toString(), "Application");
    EXPECT_EQ(viewer.value("Name").toString(), "KorvaneCD");
    EXPECT_EQ(viewer.value("Path").toString(), prog);
    const QString exec = QString::fromUtf8(ziptest::readAll(desk + "/KorvaneCD.desktop"))
                             .section("Exec=", 1).section('\n', 0, 0);
    EXPECT_EQ(exec, "\"" + prog + "/KorvaneCD\"");
    EXPECT_TRUE(QFileInfo(desk + "/Strandel.desktop").permissions() & QFileDevice::ExeOwner);
    EXPECT_TRUE(ziptest::readAll(desk + "/Strandel.desktop").contains("Name=Strandel\n"));

    QTemporaryDir t2;
    ASSERT_TRUE(CreateProgramShortcuts(t2.path(), prog, false, true));
    EXPECT_EQ(QDir(t2.path()).entryList(QDir::Files), QStringList{"Strandel.desktop"});
}

// What a self-update may write in the folder of the visits: the client's own
// files at its root, whatever their case; nothing the viewer or a visit owns.
TEST(UpdateNames, OnlyTheClientsOwnFilesAtTheRoot)
{
    for (const char *name : {"Strandel__51", "Strandel__51.exe", "strandel", "StrandelMaj", "StrandelMaj.exe",
                             "StrandelNews.txt", "libQt6Core.so.6", "libstrandel.so", "XCEEDZIP.DLL"})
        EXPECT_EQ(UpdateEntryRefusal(QString::fromUtf8(name), false), QString()) << name;
    for (const char *name : {"DICOMDIR", "DicomDir.A123", "DICOMDIR.", "IM1.DCM", "A123.rap", "A123.WAV",
                             "RES_ExamenSauve.wav", "KorvaneCD.INI", "KORVANECD", "KorvaneCd.exe", "Strandel.ini",
                             "STRANDEL.INI", "CLINIQUE_A1.OK", "ftp.ok", "x.ok2", "CLINIQUE.zip", "CLINIQUE.zip.001",
                             "Strandel__52.zip", "CLINIQUE[2005-03-02 143005].req", "notes.txt", "SERIE1/Strandel"})
        EXPECT_NE(UpdateEntryRefusal(QString::fromUtf8(name), false), QString()) << name;
    EXPECT_NE(UpdateEntryRefusal("Strandel", true), QString()); // a folder, whatever its name
    EXPECT_TRUE(UpdateEntryRefusal("KorvaneCD.INI", false).contains("\"KorvaneCD.INI\", la liste des radiologistes"));

    // The archive itself is saved under the name the server gives.
    EXPECT_EQ(UpdateArchiveNameRefusal("Strandel__51.zip"), QString());
    EXPECT_EQ(UpdateArchiveNameRefusal("STRANDEL__51.ZIP"), QString());
    for (const char *name : {"KorvaneCD.INI", "A123.wav", "DICOMDIR", "DICOMDIR.zip", "Strandel.ini", "Strandel__51"})
        EXPECT_NE(UpdateArchiveNameRefusal(QString::fromUtf8(name)), QString()) << name;
}
