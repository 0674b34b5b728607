// Unpacking a received study archive with its nested archives and markers,
// and the visit's own catalogue name.
#include "transfer/exchange/unpack.h"
#include "transfer/exchange/catalogue.h"
#include "ziptestkit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace exchange;
using ziptest::Entry;

namespace {

QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

QByteArray zipBytes(const QList<Entry> &entries)
{
    QTemporaryDir t;
    ziptest::writeZip(t.path() + "/z.zip", entries);
    return ziptest::readAll(t.path() + "/z.zip");
}

struct Study
{
    QTemporaryDir tmp;
    QString work;
    RecordingSink sink;
    UnpackContext ctx;
    Study()
    {
        work = tmp.path() + "/KorvaneCD";
        QDir().mkpath(work);
        ctx.workingFolder = work;
        ctx.fichierZip = "CLINIQUE";
        ctx.messages = &sink;
    }
    // DICOMDIR, optional ftp.ok, marker, SERIE1.zip holding SUB.zip.
    void writeArchive(bool ftpOk)
    {
        const QByteArray sub = zipBytes({{"IM3.dcm", "three"}});
        const QByteArray serie = zipBytes({{"IM1.dcm", "one"}, {"DEEP/IM2.dcm", "two"}, {"SUB.zip", sub}});
        QList<Entry> top = {{"DICOMDIR", "catalogue"}, {"CLINIQUE_A1.ok", "x\r\ny\r\nA1\r\n"}, {"SERIE1.zip", serie}};
        if (ftpOk)
            top.append(Entry{"ftp.ok", ""});
        ASSERT_TRUE(ziptest::writeZip(work + "/CLINIQUE.zip", top));
    }
};

} // namespace

TEST(UnpackArchive, NestedArchivesAreUnpackedIntoFoldersToAnyDepth)
{
    Study s;
    s.writeArchive(true);
    ASSERT_TRUE(ziptest::writeFile(s.work + "/ftp.ok", "stale marker"));
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
    EXPECT_TRUE(s.sink.entries.isEmpty()) << s.sink.entries.value(0).text.toStdString();
    EXPECT_EQ(tree(s.work), (QStringList{"CLINIQUE.zip", "CLINIQUE_A1.ok", "DICOMDIR", "SERIE1", "SERIE1/DEEP",
                                         "SERIE1/DEEP/IM2.dcm", "SERIE1/IM1.dcm", "SERIE1/SUB", "SERIE1/SUB/IM3.dcm",
                                         "ftp.ok"}));
    EXPECT_EQ(ziptest::readAll(s.work + "/SERIE1/SUB/IM3.dcm"), QByteArray("three"));
    EXPECT_EQ(ziptest::readAll(s.work + "/ftp.ok"), QByteArray()); // the stale one was replaced
}

TEST(UnpackArchive, MissingFtpOkUnpacksButFails)
{
    Study s;
    s.writeArchive(false);
    ASSERT_TRUE(ziptest::writeFile(s.work + "/FTP.OK", "left by an earlier archive"));
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
    EXPECT_TRUE(QFile::exists(s.work + "/SERIE1/SUB/IM3.dcm"));
    ASSERT_EQ(s.sink.texts('E').size(), 1);
    EXPECT_TRUE(s.sink.texts('E')[0].startsWith("Erreur.\r\rl'absence du fichier \"ftp.ok\""));
}

TEST(UnpackArchive, RepDestinationRefusesNestedArchivesWhole)
{
    Study s;
    s.writeArchive(true);
    s.ctx.repDestination = s.tmp.path() + "/radiologue";
    // A zip of that name in the working folder is not the archive's and is
    // left alone.
    ASSERT_TRUE(ziptest::writeZip(s.work + "/SERIE1.zip", {{"other.dcm", "not this archive's"}}));
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
    EXPECT_TRUE(s.sink.contains("Erreur : Le fichier zip imbriqué SERIE1.zip ne peut pas être décompressé"));
    EXPECT_EQ(tree(s.ctx.repDestination), QStringList());
    EXPECT_FALSE(QFile::exists(s.work + "/DICOMDIR"));
    EXPECT_FALSE(QFile::exists(s.work + "/SERIE1"));
    EXPECT_TRUE(QFile::exists(s.work + "/SERIE1.zip"));

    // Without nested archives it succeeds, and "ftp.ok" is not asked for.
    ASSERT_TRUE(ziptest::writeZip(s.work + "/DICT.zip", {{"A1.wav", "riff"}}));
    EXPECT_TRUE(UnpackArchive(s.ctx, "DICT.zip", ArchivePassword));
    EXPECT_TRUE(QFile::exists(s.ctx.repDestination + "/A1.wav"));
}

TEST(UnpackArchive, DamagedNestedArchiveFailsAndTheTopLevelReportsBoth)
{
    Study s;
    QByteArray serie = zipBytes({{"IM1.dcm", ziptest::noise(200000)}});
    for (int i = 100000; i < 100010; ++i)
        serie[i] = char(serie[i] ^ 0x33);
    ASSERT_TRUE(ziptest::writeZip(s.work + "/CLINIQUE.zip",
                                  {{"DICOMDIR", "c"}, {"ftp.ok", ""}, {"SERIE1.zip", serie}}));
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
    EXPECT_FALSE(QFile::exists(s.work + "/SERIE1/IM1.dcm"));
    EXPECT_TRUE(s.sink.contains("Erreur de décompression du zip : " + s.work + "/SERIE1.zip"));
}

// A nested level that fails leaves the destination exactly as it was: no new
// catalogue, markers or half of the images, and the kept visit untouched.
TEST(UnpackArchive, FailedNestedLevelLeavesTheDestinationAsItWas)
{
    QTemporaryDir t;
    ASSERT_TRUE(ziptest::writeRawZip(t.path() + "/slip.zip", {{"IM1.dcm", "one"}, {"../evil.dcm", "evil"}}));
    ASSERT_TRUE(ziptest::writeZip(t.path() + "/password.zip", {{"IM1.dcm", "one"}}, "AUTRE"));
    for (const QString &bad : {QStringLiteral("slip.zip"), QStringLiteral("password.zip")}) {
        SCOPED_TRACE(bad.toStdString());
        Study s;
        ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.OLD", "old catalogue"));
        ASSERT_TRUE(ziptest::writeFile(s.work + "/OLD/IM1.dcm", "old image"));
        ASSERT_TRUE(ziptest::writeZip(s.work + "/CLINIQUE.zip",
                                      {{"DICOMDIR", "new catalogue"}, {"ftp.ok", ""}, {"CLINIQUE_B.ok", "1\r\n2\r\nB\r\n"},
                                       {"SERIE0.zip", zipBytes({{"IM0.dcm", "fine"}})},
                                       {"SERIE1.zip", ziptest::readAll(t.path() + "/" + bad)}}));
        EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
        EXPECT_TRUE(s.sink.contains("Erreur de décompression du zip : " + s.work + "/SERIE1.zip"))
            << s.sink.texts('E').join(" | ").toStdString();
        EXPECT_EQ(tree(s.work), (QStringList{"CLINIQUE.zip", "DICOMDIR.OLD", "OLD", "OLD/IM1.dcm"}));
        EXPECT_EQ(ziptest::readAll(s.work + "/OLD/IM1.dcm"), QByteArray("old image"));
        EXPECT_FALSE(QFile::exists(s.tmp.path() + "/evil.dcm"));
    }
}

namespace {
// Visit B laid out like visit A: its catalogue, its marker and DICOM.zip.
void writeVisit(Study &s, const QString &suffix, const QList<Entry> &images)
{
    ASSERT_TRUE(ziptest::writeZip(s.work + "/CLINIQUE.zip",
                                  {{"DICOMDIR", "catalogue " + suffix.toUtf8()}, {"ftp.ok", ""},
                                   {"CLINIQUE_" + suffix + ".ok", "CLINIQUE\r\n2005-03-02\r\n" + suffix.toUtf8() + "\r\n"},
                                   {"DICOM.zip", zipBytes(images)}}));
}
} // namespace

// With kept visits, a new visit never changes a file of the folder that has
// another content; the same visit fetched again may replace its own files.
TEST(UnpackArchive, KeptVisitsAreNeverChangedByAnotherVisit)
{
    Study s;
    s.ctx.keepVisits = true;
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.A",
                                   ziptest::catalogue("A^PATIENT", "A", {"DICOM/ST1/SE1/IM1", "DICOM/ST1/SE1/IM2"})));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM1", "patient A"));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM2", "same bytes"));
    const QStringList before = tree(s.work);
    const QList<Entry> imagesB{{"ST1/SE1/IM1", "patient B"}, {"ST1/SE1/IM2", "same bytes"}, {"ST1/SE1/IM3", "new"}};

    writeVisit(s, "B", imagesB);
    bool conflict = false;
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_TRUE(conflict);
    ASSERT_EQ(s.sink.texts('E').size(), 1);
    EXPECT_TRUE(s.sink.texts('E')[0].startsWith("ERREUR : Les images reçues n'ont pas été installées.\r\r"
                                                "Le fichier \"DICOM/ST1/SE1/IM1\" existe déjà"))
        << s.sink.texts('E')[0].toStdString();
    QStringList expected = before + QStringList{"CLINIQUE.zip"};
    expected.sort();
    EXPECT_EQ(tree(s.work), expected);
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1"), QByteArray("patient A"));
    EXPECT_FALSE(QFile::exists(s.work + "/DICOM/ST1/SE1/IM3"));
    EXPECT_FALSE(QFile::exists(s.work + "/DICOMDIR"));
    EXPECT_FALSE(QFile::exists(s.work + "/CLINIQUE_B.ok"));
    EXPECT_FALSE(QFile::exists(s.work + "/ftp.ok"));

    // A visit whose files are all new, or the same bytes, goes in.
    s.sink.entries.clear();
    writeVisit(s, "C", {{"ST1/SE1/IM2", "same bytes"}, {"ST2/SE1/IM1", "patient C"}});
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_FALSE(conflict);
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST2/SE1/IM1"), QByteArray("patient C"));
    ASSERT_TRUE(KeepVisitDicomdir(s.work, "C", s.sink));

    // Visit A fetched again replaces its own files.
    writeVisit(s, "A", {{"ST1/SE1/IM1", "patient A, again"}});
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1"), QByteArray("patient A, again"));
    EXPECT_TRUE(s.sink.entries.isEmpty()) << s.sink.texts('E').join(" | ").toStdString();

    // Without kept visits the folder holds one visit at a time: replaced
    // (once no kept catalogue names the file any more).
    ASSERT_TRUE(QFile::remove(s.work + "/DICOMDIR.A"));
    s.ctx.keepVisits = false;
    writeVisit(s, "B", imagesB);
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1"), QByteArray("patient B"));
    EXPECT_TRUE(tree(s.work).filter(".strandel").isEmpty());
}

// Names are matched as the viewer finds them (without regard to case), and a
// folder or link where a file must go stops the visit before anything moves.
TEST(UnpackArchive, CaseVariantsFoldersAndLinksInTheWayStopTheVisit)
{
    Study s;
    s.ctx.keepVisits = true;
    ASSERT_TRUE(ziptest::writeFile(s.work + "/dicom/st1/se1/im1", "patient A"));
    writeVisit(s, "B", {{"ST1/SE1/IM1", "patient B"}});
    bool conflict = false;
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_TRUE(conflict);
    EXPECT_TRUE(s.sink.contains("\"DICOM/ST1/SE1/IM1\" existe déjà"));
    EXPECT_FALSE(QFile::exists(s.work + "/DICOM"));

    // A link on the way would lead outside the folder; a folder stands where
    // a file must go. Refused in both modes, and nothing is written anywhere.
    for (bool keep : {true, false}) {
        SCOPED_TRACE(keep);
        Study l;
        l.ctx.keepVisits = keep;
        QDir().mkpath(l.tmp.path() + "/ailleurs");
        ASSERT_TRUE(QFile::link(l.tmp.path() + "/ailleurs", l.work + "/DICOM"));
        QDir().mkpath(l.work + "/CLINIQUE_B.rap");
        ASSERT_TRUE(ziptest::writeZip(l.work + "/CLINIQUE.zip", {{"DICOMDIR", "b"}, {"ftp.ok", ""},
                                                                 {"CLINIQUE_B.rap", "report"},
                                                                 {"DICOM.zip", zipBytes({{"ST1/IM1", "b"}})}}));
        conflict = false;
        EXPECT_FALSE(UnpackArchive(l.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
        EXPECT_TRUE(conflict);
        EXPECT_TRUE(l.sink.contains("un répertoire ou un lien du même nom existe déjà"));
        EXPECT_TRUE(l.sink.contains("(1 autre(s) fichier(s) dans le même cas)"));
        EXPECT_TRUE(QDir(l.tmp.path() + "/ailleurs").isEmpty());
        EXPECT_FALSE(QFile::exists(l.work + "/DICOMDIR"));
    }
}

TEST(UnpackArchive, NestedExpansionCountsAgainstTheOuterArchive)
{
    Study s;
    // Each level small, the sum of all levels far beyond the outer archive.
    // Unencrypted inside, so that the copies compress against each other.
    QTemporaryDir t;
    ASSERT_TRUE(ziptest::writeZip(t.path() + "/inner.zip", {{"z.bin", QByteArray(3 << 20, '\0')}}, QString()));
    const QByteArray inner = ziptest::readAll(t.path() + "/inner.zip");
    QList<Entry> copies;
    for (int i = 0; i < 8; ++i)
        copies.append(Entry{QString("z%1.zip").arg(i), inner});
    ASSERT_TRUE(ziptest::writeZip(t.path() + "/middle.zip", copies, QString()));
    const QByteArray middle = ziptest::readAll(t.path() + "/middle.zip");
    ASSERT_TRUE(ziptest::writeZip(s.work + "/CLINIQUE.zip", {{"ftp.ok", ""}, {"N.zip", middle}}));
    s.ctx.limits.ratioFloorBytes = 4 << 20;
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword));
    // Told once, with its reason, not once per copy it holds.
    ASSERT_EQ(s.sink.entries.size(), 1) << s.sink.texts('E').join(" | ").toStdString();
    EXPECT_TRUE(s.sink.texts('E')[0].startsWith("Erreur de décompression du zip : " + s.work + "/N/z1.zip\r"
                                                "dans le répertoire : " + s.work + "/N/z1\r"
                                                "L'archive se décompresse bien au-delà de sa propre taille"))
        << s.sink.texts('E')[0].toStdString();
    EXPECT_TRUE(s.sink.texts('E')[0].endsWith("[Référence : 8]"));
    EXPECT_EQ(tree(s.work), QStringList{"CLINIQUE.zip"});
}

// Nested archives that would fill the disk: each level is checked against the
// free space before it is written, the first that does not fit stops the visit
// with one message, and the disk is left as it was.
TEST(UnpackArchive, NestedArchivesThatOverflowASmallDiskAreToldOnce)
{
    QTemporaryDir t;
    ziptest::SmallDisk disk(t.path() + "/disk", 16 << 20);
    if (disk.path.isEmpty())
        GTEST_SKIP() << disk.why.toStdString();
    RecordingSink sink;
    UnpackContext ctx;
    ctx.workingFolder = disk.path + "/KorvaneCD";
    ctx.fichierZip = "CLINIQUE";
    ctx.messages = &sink;
    QDir().mkpath(ctx.workingFolder);
    ziptest::RawEntry zeros{"IM1.dcm", {}};
    zeros.zeros = 6 << 20;
    ASSERT_TRUE(ziptest::writeRawZip(t.path() + "/serie.zip", {zeros}));
    const QByteArray serie = ziptest::readAll(t.path() + "/serie.zip");
    QList<Entry> top{{"DICOMDIR", "catalogue"}, {"ftp.ok", ""}};
    for (int i = 1; i <= 6; ++i)
        top.append(Entry{QString("SERIE%1.zip").arg(i), serie});
    ASSERT_TRUE(ziptest::writeZip(ctx.workingFolder + "/CLINIQUE.zip", top));
    const qint64 free = QStorageInfo(ctx.workingFolder).bytesAvailable();

    EXPECT_FALSE(UnpackArchive(ctx, "CLINIQUE.zip", ArchivePassword));
    ASSERT_EQ(sink.entries.size(), 1) << sink.texts('E').join(" | ").toStdString();
    EXPECT_TRUE(sink.texts('E')[0].contains("\rEspace disque insuffisant : l'archive doit écrire 6 29"))
        << sink.texts('E')[0].toStdString();
    EXPECT_TRUE(sink.texts('E')[0].endsWith("[Référence : 12]"));
    EXPECT_EQ(tree(ctx.workingFolder), QStringList{"CLINIQUE.zip"});
    EXPECT_EQ(QStorageInfo(ctx.workingFolder).bytesAvailable(), free);
}

TEST(VisitName, MarkerThirdLineNamesTheVisit)
{
    Study s;
    ASSERT_TRUE(ziptest::writeFile(s.work + "/ftp.ok", ""));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/clinique_x.OK", "l1\r\nl2\r\nA\r\n"));
    const QDateTime now(QDate(2005, 3, 2), QTime(14, 30, 5));
    EXPECT_EQ(VisitSuffix(s.work, "CLINIQUE", now), "A");

    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR", "new visit"));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.A", "older copy"));
    EXPECT_TRUE(KeepVisitDicomdir(s.work, "A", s.sink));
    EXPECT_FALSE(QFile::exists(s.work + "/DICOMDIR"));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOMDIR.A"), QByteArray("new visit"));
    EXPECT_TRUE(s.sink.entries.isEmpty());
}

TEST(VisitName, WithoutMarkerTheTimeStampNamesIt)
{
    Study s;
    const QDateTime now(QDate(2005, 3, 2), QTime(14, 30, 5));
    EXPECT_EQ(VisitSuffix(s.work, "CLINIQUE", now), "050302143005");
    // A marker of another user does not count; a two-line marker names nothing.
    ASSERT_TRUE(ziptest::writeFile(s.work + "/AUTRE.ok", "1\n2\nB\n"));
    EXPECT_EQ(VisitSuffix(s.work, "CLINIQUE", now), "050302143005");
    ASSERT_TRUE(ziptest::writeFile(s.work + "/CLINIQUE.ok", "1\n2\n"));
    EXPECT_EQ(VisitSuffix(s.work, "CLINIQUE", now), "050302143005");
}

TEST(VisitName, SuffixFromTheServerCannotLeaveTheFolder)
{
    Study s;
    const QDateTime now(QDate(2005, 3, 2), QTime(14, 30, 5));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/CLINIQUE.ok", "1\n2\n../../etc/x\n"));
    const QString suffix = VisitSuffix(s.work, "CLINIQUE", now);
    EXPECT_FALSE(suffix.contains('/') || suffix.contains("..")) << suffix.toStdString();
    ASSERT_TRUE(ziptest::writeFile(s.work + "/CLINIQUE.ok", "1\n2\nC:\\Windows\\A7\n"));
    EXPECT_EQ(VisitSuffix(s.work, "CLINIQUE", now), "CWindowsA7");

    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR", "d"));
    EXPECT_TRUE(KeepVisitDicomdir(s.work, suffix, s.sink));
    EXPECT_EQ(QDir(s.work).entryList({"DICOMDIR*"}, QDir::Files).size(), 1);
    EXPECT_EQ(QDir(s.tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"KorvaneCD"});
}

// The catalogue reader takes the patient, the accession numbers and the files
// of the records, whatever the lengths' form, and reads past nested items.
TEST(Catalogue, RecordsGiveThePatientTheAccessionAndTheFiles)
{
    QTemporaryDir t;
    for (bool undefinedLengths : {false, true}) {
        SCOPED_TRACE(undefinedLengths);
        const QString path = t.path() + "/DICOMDIR.A";
        ASSERT_TRUE(ziptest::writeFile(path, ziptest::catalogue("DUPONT^JEANNE", "ACC123", {"DICOM/ST1/IM1", "DICOM/ST1/IM2"},
                                                                 undefinedLengths, true)));
        CatalogueVisit v;
        ASSERT_TRUE(ReadCatalogue(path, &v));
        EXPECT_EQ(v.catalogue, "DICOMDIR.A");
        EXPECT_EQ(v.patientName, "DUPONT JEANNE");
        EXPECT_EQ(v.accessions, QStringList{"ACC123"}); // the icons' attributes are not records
        EXPECT_EQ(v.files, (QStringList{"DICOM/ST1/IM1", "DICOM/ST1/IM2"}));
        EXPECT_EQ(describeVisit(v), "DUPONT JEANNE (accession ACC123, catalogue DICOMDIR.A)");
    }
    // Names in Latin-1 or, as the record says, in UTF-8.
    for (const QString &name : {QStringLiteral("LEFÈVRE^HÉLÈNE"), QStringLiteral("ŁUKASZ^ŻÓŁW")}) {
        ASSERT_TRUE(ziptest::writeFile(t.path() + "/DICOMDIR.N", ziptest::catalogue(name, "N1", {"IM1"})));
        CatalogueVisit v;
        ASSERT_TRUE(ReadCatalogue(t.path() + "/DICOMDIR.N", &v));
        EXPECT_EQ(v.patientName, QString(name).replace('^', ' '));
    }
    // Not a catalogue, or cut short: refused.
    const QByteArray whole = ziptest::catalogue("X", "Y", {"DICOM/IM1"});
    for (const QByteArray &bad : {QByteArray("catalogue A"), whole.left(whole.size() - 5), whole.left(140)}) {
        ASSERT_TRUE(ziptest::writeFile(t.path() + "/DICOMDIR.B", bad));
        CatalogueVisit v;
        EXPECT_FALSE(ReadCatalogue(t.path() + "/DICOMDIR.B", &v));
    }
}

// A visit fetched again may replace only the files its own catalogue alone
// names; a file another kept visit's catalogue names stays, and the message
// names that visit and where it can be deleted.
TEST(UnpackArchive, TheSameVisitReplacesOnlyWhatItsOwnCatalogueAloneNames)
{
    Study s;
    s.ctx.keepVisits = true;
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.A",
                                   ziptest::catalogue("A^PATIENT", "A", {"DICOM/ST1/SE1/IM1", "DICOM/ST1/SE1/IM2"})));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.C",
                                   ziptest::catalogue("MARTIN^PAUL", "C77", {"DICOM/ST1/SE1/IM1"})));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM1", "patient C"));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM2", "patient A"));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM9", "named by no catalogue"));

    writeVisit(s, "A", {{"ST1/SE1/IM1", "patient A, again"}, {"ST1/SE1/IM2", "patient A, again"}});
    bool conflict = false;
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1"), QByteArray("patient C"));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM2"), QByteArray("patient A"));
    ASSERT_EQ(s.sink.texts('E').size(), 1);
    const QString text = s.sink.texts('E')[0];
    EXPECT_TRUE(text.startsWith("ERREUR : Les images reçues n'ont pas été installées.\r\r"
                                "Le fichier \"DICOM/ST1/SE1/IM1\" existe déjà")) << text.toStdString();
    EXPECT_TRUE(text.contains("appartient à la visite conservée de MARTIN PAUL (accession C77, catalogue DICOMDIR.C)"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("fenêtre d'ouverture des visites (bouton \"Effacer\")")) << text.toStdString();
    EXPECT_FALSE(text.contains("épurez"));

    // A file that no catalogue names is not the visit's either.
    s.sink.entries.clear();
    writeVisit(s, "A", {{"ST1/SE1/IM9", "patient A"}});
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM9"), QByteArray("named by no catalogue"));
    EXPECT_TRUE(s.sink.contains("Aucune visite conservée ne nomme ce fichier"));

    // Its own file, which no other kept visit names, is replaced.
    s.sink.entries.clear();
    writeVisit(s, "A", {{"ST1/SE1/IM2", "patient A, again"}});
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict))
        << s.sink.texts('E').join(" | ").toStdString();
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM2"), QByteArray("patient A, again"));
}

// Without kept visits, the files that the kept catalogues present in the
// folder name are still never replaced; other files are, as before.
TEST(UnpackArchive, CataloguesInTheFolderProtectTheirFilesWhateverTheSetting)
{
    Study s;
    s.ctx.keepVisits = false;
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOMDIR.C",
                                   ziptest::catalogue("MARTIN^PAUL", "C77", {"DICOM/ST1/SE1/IM1"})));
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM1.dcm", "patient C")); // found as the viewer does
    ASSERT_TRUE(ziptest::writeFile(s.work + "/DICOM/ST1/SE1/IM5", "left by an earlier visit"));
    writeVisit(s, "B", {{"ST1/SE1/IM1.dcm", "patient B"}, {"ST1/SE1/IM5", "patient B"}});
    bool conflict = false;
    EXPECT_FALSE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1.dcm"), QByteArray("patient C"));
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM5"), QByteArray("left by an earlier visit"));
    EXPECT_TRUE(s.sink.contains("MARTIN PAUL (accession C77, catalogue DICOMDIR.C)"))
        << s.sink.texts('E').join(" | ").toStdString();

    // Once the visit is gone, the new one goes in.
    ASSERT_TRUE(QFile::remove(s.work + "/DICOMDIR.C"));
    s.sink.entries.clear();
    EXPECT_TRUE(UnpackArchive(s.ctx, "CLINIQUE.zip", ArchivePassword, &conflict))
        << s.sink.texts('E').join(" | ").toStdString();
    EXPECT_EQ(ziptest::readAll(s.work + "/DICOM/ST1/SE1/IM1.dcm"), QByteArray("patient B"));
}
