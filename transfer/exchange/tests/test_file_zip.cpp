// Unpacking and zipping: round trips, the archive password, and archives that
// try to write outside the destination, expand without bound or arrive damaged.
#include "transfer/exchange/unpack.h"
#include "transfer/exchange/zipcomponent.h"
#include "ziptestkit.h"

#include <QDir>
#include <QFileInfo>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace exchange;
using ziptest::Entry;
using ziptest::RawEntry;

namespace {

QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

struct Workspace
{
    QTemporaryDir tmp;
    QString dest;
    Workspace()
    {
        dest = tmp.path() + QStringLiteral("/work/dest");
        QDir().mkpath(dest);
    }
    QString path(const QString &rel) const { return tmp.path() + QLatin1Char('/') + rel; }
};

// Limits an extraction's file writes, as a full disk would.
struct FileSizeLimit
{
    rlimit old{};
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

} // namespace

TEST(ZipComponent, DictationsRoundTripWithPasswordAndNoFolders)
{
    Workspace w;
    ASSERT_TRUE(ziptest::writeFile(w.path("wav/A123.wav"), ziptest::noise(300000, 1)));
    ASSERT_TRUE(ziptest::writeFile(w.path("wav/sub/B456.wav"), ziptest::noise(1000, 2)));
    RecordingSink sink;
    ASSERT_TRUE(EnsureZipComponent(sink));
    ASSERT_TRUE(ZipDictations(w.path("wav"), "CLINIQUE_wav.zip",
                              {w.path("wav/A123.wav"), w.path("wav/sub/B456.wav")}, ArchivePassword));

    QStringList names;
    ASSERT_TRUE(ListArchive(w.path("wav/CLINIQUE_wav.zip"), names, sink));
    EXPECT_EQ(names, (QStringList{"A123.wav", "B456.wav"}));

    ASSERT_TRUE(ExtractArchive(w.path("wav/CLINIQUE_wav.zip"), w.dest, ArchivePassword, sink));
    EXPECT_EQ(ziptest::readAll(w.dest + "/A123.wav"), ziptest::noise(300000, 1));
    EXPECT_EQ(ziptest::readAll(w.dest + "/B456.wav"), ziptest::noise(1000, 2));
    EXPECT_TRUE(sink.entries.isEmpty());

    // Another reader opens it with the same password: the server side can.
    QProcess py;
    py.start("/usr/bin/python3",
             {"-c", "import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                    "print(z.infolist()[0].flag_bits & 1, len(z.read('A123.wav', pwd=b'XK')))",
              w.path("wav/CLINIQUE_wav.zip")});
    ASSERT_TRUE(py.waitForFinished(30000));
    EXPECT_EQ(py.readAllStandardOutput().trimmed(), QByteArray("1 300000"));

    // A missing input file fails and leaves no archive.
    EXPECT_FALSE(ZipDictations(w.path("wav"), "X.zip", {w.path("wav/none.wav")}, ArchivePassword));
    EXPECT_FALSE(QFile::exists(w.path("wav/X.zip")));
}

TEST(ZipComponent, WrongPasswordMissingAndForeignFilesAreRefused)
{
    Workspace w;
    ASSERT_TRUE(ziptest::writeZip(w.path("a.zip"), {{"f.txt", QByteArray(5000, 'x')}}, "XK"));
    RecordingSink sink;
    EXPECT_FALSE(ExtractArchive(w.path("a.zip"), w.dest, "YY", sink));
    EXPECT_EQ(sink.texts('E'), QStringList{"Erreur de décompression sur le fichier " + w.path("a.zip")
                                           + "\rLe mot de passe de l'archive est refusé.\r[Référence : 3]"});
    EXPECT_TRUE(tree(w.dest).isEmpty());

    EXPECT_EQ(extractZip(w.path("none.zip"), w.dest, "XK").code, ExtractArchiveMissing);
    ASSERT_TRUE(ziptest::writeFile(w.path("text.zip"), "not a zip at all"));
    sink.entries.clear();
    EXPECT_FALSE(ExtractArchive(w.path("text.zip"), w.dest, "XK", sink));
    EXPECT_EQ(sink.texts('E'), QStringList{"Erreur de décompression sur le fichier " + w.path("text.zip")
                                           + "\rLe fichier n'est pas une archive zip lisible (incomplète ou d'un "
                                             "autre type).\r[Référence : 2]"});
}

// Each refusal tells the user why in words, before its reference number, and
// names the entry it is about.
TEST(ZipComponent, EveryRefusalSaysItsReasonInFrench)
{
    struct Case
    {
        QList<RawEntry> entries;
        QString reason;
        int code;
    };
    const QList<Case> cases = {
        {{{"good.txt", "fine"}, {"../evil.txt", "evil"}},
         "Le nom \"../evil.txt\" désigne un endroit hors du répertoire de destination.", ExtractUnsafePath},
        {{{"link", "/etc/passwd", 0120777}},
         "L'entrée \"link\" n'est pas un fichier ordinaire (lien ou fichier spécial).", ExtractUnsupportedEntry},
        {{{"huge.bin", "tiny", 0100644, 0xFFFFFFF0LL}},
         "L'archive se décompresse bien au-delà de sa propre taille : elle est probablement piégée "
         "(bombe de décompression).",
         ExtractRatioExceeded},
        // Stored data longer than its header says: cut at the announced size.
        {{{"IM1.dcm", ziptest::noise(300000), 0100644, 1000}},
         "Le fichier \"IM1.dcm\" contient plus de données que la taille annoncée par l'archive : "
         "elle est endommagée ou piégée.",
         ExtractSizeMismatch},
    };
    for (const Case &c : cases) {
        Workspace w;
        ASSERT_TRUE(ziptest::writeRawZip(w.path("r.zip"), c.entries));
        RecordingSink sink;
        EXPECT_FALSE(ExtractArchive(w.path("r.zip"), w.dest, QString(), sink));
        EXPECT_EQ(sink.texts('E'), QStringList{"Erreur de décompression sur le fichier " + w.path("r.zip") + "\r"
                                               + c.reason + "\r[Référence : " + QString::number(c.code) + "]"});
        EXPECT_TRUE(tree(w.dest).isEmpty());
    }
}

// A deflate bomb on a small disk made for the test: an archive whose entries
// announce more than the free space is refused before anything is written; one
// whose entry lies about its size is stopped at the size it announced, long
// before the disk is full.
TEST(ZipComponent, ADeflateBombThatLiesAboutItsSizeNeverFillsTheDisk)
{
    Workspace w;
    ziptest::SmallDisk disk(w.path("disk"), 16 << 20);
    if (disk.path.isEmpty())
        GTEST_SKIP() << disk.why.toStdString();
    const QString dest = disk.path + "/KorvaneCD";
    ASSERT_TRUE(QDir().mkpath(dest));
    const qint64 free = QStorageInfo(dest).bytesAvailable();

    RawEntry honest{"IM1.dcm", {}};
    honest.zeros = 48 << 20;
    ASSERT_TRUE(ziptest::writeRawZip(w.path("honest.zip"), {{"DICOMDIR", "catalogue"}, honest}));
    ASSERT_LT(QFileInfo(w.path("honest.zip")).size(), 1 << 20);
    ExtractOutcome r = extractZip(w.path("honest.zip"), dest, QString());
    EXPECT_EQ(r.code, ExtractNoSpace) << r.detail.toStdString();
    EXPECT_EQ(r.bytes, 0);
    EXPECT_GT(r.needed, 48 << 20);
    EXPECT_EQ(r.available, free);
    EXPECT_TRUE(ExtractReason(r).startsWith("Espace disque insuffisant : l'archive doit écrire 50 3"))
        << ExtractReason(r).toStdString();
    EXPECT_TRUE(tree(dest).isEmpty());

    RawEntry liar = honest;
    liar.declaredSize = 4096;
    ASSERT_TRUE(ziptest::writeRawZip(w.path("liar.zip"), {{"DICOMDIR", "catalogue"}, liar}));
    r = extractZip(w.path("liar.zip"), dest, QString());
    EXPECT_EQ(r.code, ExtractSizeMismatch) << r.detail.toStdString();
    EXPECT_EQ(r.entry, "IM1.dcm");
    EXPECT_LE(r.bytes, 4096 + 9); // the catalogue and at most the announced size
    EXPECT_TRUE(tree(dest).isEmpty());
    EXPECT_EQ(QStorageInfo(dest).bytesAvailable(), free);

    // What fits still goes in.
    RawEntry fits = honest;
    fits.zeros = 4 << 20;
    ASSERT_TRUE(ziptest::writeRawZip(w.path("fits.zip"), {{"DICOMDIR", "catalogue"}, fits}));
    r = extractZip(w.path("fits.zip"), dest, QString());
    EXPECT_EQ(r.code, ExtractOk) << r.detail.toStdString();
    EXPECT_EQ(QFileInfo(dest + "/IM1.dcm").size(), 4 << 20);
}

TEST(ZipComponent, EntriesLeavingTheDestinationAreRefusedWithBothSeparators)
{
    const QList<QByteArray> hostile = {"../evil.txt",     "..\\evil.txt",   "sub/../../evil.txt",
                                       "sub\\..\\..\\evil.txt", "/tmp/evil.txt", "\\evil.txt",
                                       "C:\\evil.txt",    "C:evil.txt",     "..",
                                       "sub/..\\..\\evil.txt"};
    for (const QByteArray &name : hostile) {
        Workspace w;
        ASSERT_TRUE(ziptest::writeRawZip(w.path("h.zip"), {{"good.txt", "fine"}, {name, "evil"}}));
        RecordingSink sink;
        EXPECT_FALSE(ExtractArchive(w.path("h.zip"), w.dest, QString(), sink)) << name.constData();
        EXPECT_TRUE(sink.texts('E').value(0).endsWith("[Référence : 5]")) << name.constData();
        // Nothing at all lands: not the good entry, not the bad one anywhere.
        EXPECT_TRUE(tree(w.dest).isEmpty()) << tree(w.dest).join(',').toStdString();
        EXPECT_EQ(tree(w.tmp.path() + "/work"), QStringList{"dest"}) << name.constData();
        EXPECT_FALSE(QFile::exists("/tmp/evil.txt"));
    }
}

TEST(ZipComponent, WindowsSeparatorsMakeFoldersAndDotSegmentsAreHarmless)
{
    Workspace w;
    ASSERT_TRUE(ziptest::writeRawZip(w.path("ok.zip"),
                                     {{"SERIE1\\IM1.dcm", "a"}, {"./SERIE2//IM2.dcm", "b"}, {"DIR/", ""}}));
    ExtractOutcome r = extractZip(w.path("ok.zip"), w.dest, QString());
    ASSERT_EQ(r.code, ExtractOk) << r.detail.toStdString();
    EXPECT_EQ(tree(w.dest), (QStringList{"DIR", "SERIE1", "SERIE1/IM1.dcm", "SERIE2", "SERIE2/IM2.dcm"}));
}

TEST(ZipComponent, LinksAndSpecialEntriesAreRefused)
{
    for (quint32 mode : {0120777u, 0020644u}) { // symlink, character device
        Workspace w;
        ASSERT_TRUE(ziptest::writeRawZip(w.path("l.zip"), {{"a.txt", "a"}, {"link", "/etc/passwd", mode}}));
        const ExtractOutcome r = extractZip(w.path("l.zip"), w.dest, QString());
        EXPECT_EQ(r.code, ExtractUnsupportedEntry) << std::oct << mode;
        EXPECT_TRUE(tree(w.dest).isEmpty());
    }
}

TEST(ZipComponent, ExpansionBeyondTheCapsIsRefused)
{
    Workspace w;
    // A header that announces 4 GB for a few bytes of data.
    RawEntry huge{"huge.bin", "tiny", 0100644, 0xFFFFFFF0LL};
    ASSERT_TRUE(ziptest::writeRawZip(w.path("bomb.zip"), {{"first.txt", "x"}, huge}));
    RecordingSink sink;
    EXPECT_FALSE(ExtractArchive(w.path("bomb.zip"), w.dest, QString(), sink));
    EXPECT_TRUE(sink.texts('E').value(0).endsWith("[Référence : 8]")) << sink.texts('E').value(0).toStdString();
    EXPECT_TRUE(tree(w.dest).isEmpty());

    // Real data that expands a thousandfold: zeros.
    ASSERT_TRUE(ziptest::writeZip(w.path("zeros.zip"), {{"z.bin", QByteArray(8 << 20, '\0')}}));
    ExtractLimits tight;
    tight.ratioFloorBytes = 1 << 20;
    tight.maxRatio = 200;
    ExtractBudget budget(tight, QFileInfo(w.path("zeros.zip")).size());
    EXPECT_EQ(extractZip(w.path("zeros.zip"), w.dest, "XK", &budget).code, ExtractRatioExceeded);
    EXPECT_TRUE(tree(w.dest).isEmpty());

    // Total size cap, whatever the ratio.
    ASSERT_TRUE(ziptest::writeZip(w.path("noise.zip"), {{"n1.bin", ziptest::noise(600000)},
                                                        {"n2.bin", ziptest::noise(600000, 7)}}));
    ExtractLimits small;
    small.maxTotalBytes = 1000000;
    ExtractBudget b2(small, QFileInfo(w.path("noise.zip")).size());
    EXPECT_EQ(extractZip(w.path("noise.zip"), w.dest, "XK", &b2).code, ExtractTooLarge);
    EXPECT_TRUE(tree(w.dest).isEmpty());
}

TEST(ZipComponent, DamagedArchivesLeaveTheDestinationAsItWas)
{
    Workspace w;
    ASSERT_TRUE(ziptest::writeFile(w.dest + "/keep.txt", "old content"));
    // A stored entry whose checksum does not match: libarchive only warns.
    ASSERT_TRUE(ziptest::writeRawZip(w.path("crc.zip"), {{"keep.txt", "new"}, {"b.txt", "bbb", 0100644, -1, true}}));
    EXPECT_EQ(extractZip(w.path("crc.zip"), w.dest, QString()).code, ExtractDamaged);
    EXPECT_EQ(ziptest::readAll(w.dest + "/keep.txt"), QByteArray("old content"));
    EXPECT_EQ(tree(w.dest), QStringList{"keep.txt"});

    // An encrypted, deflated archive with bytes flipped in its data.
    ASSERT_TRUE(ziptest::writeZip(w.path("good.zip"), {{"keep.txt", "new"}, {"img.dcm", ziptest::noise(400000)}}));
    QByteArray bytes = ziptest::readAll(w.path("good.zip"));
    for (int i = 200000; i < 200010; ++i)
        bytes[i] = char(bytes[i] ^ 0x5a);
    ASSERT_TRUE(ziptest::writeFile(w.path("bad.zip"), bytes));
    RecordingSink sink;
    EXPECT_FALSE(ExtractArchive(w.path("bad.zip"), w.dest, "XK", sink));
    EXPECT_EQ(ziptest::readAll(w.dest + "/keep.txt"), QByteArray("old content"));
    EXPECT_EQ(tree(w.dest), QStringList{"keep.txt"});

    // The intact one replaces the file.
    ASSERT_EQ(extractZip(w.path("good.zip"), w.dest, "XK").code, ExtractOk);
    EXPECT_EQ(ziptest::readAll(w.dest + "/keep.txt"), QByteArray("new"));
}

TEST(ZipComponent, WriteFailureIsReportedAndLeavesNothing)
{
    Workspace w;
    ASSERT_TRUE(ziptest::writeZip(w.path("big.zip"), {{"a.bin", ziptest::noise(3000000)}}));
    ExtractOutcome r;
    {
        FileSizeLimit limit(1000000); // writes past 1 MB fail, as on a full disk
        r = extractZip(w.path("big.zip"), w.dest, "XK");
    }
    EXPECT_EQ(r.code, ExtractWriteFailed) << r.detail.toStdString();
    EXPECT_TRUE(tree(w.dest).isEmpty());
}

TEST(ZipComponent, NamesFromTheServerMustBePlain)
{
    for (const char *bad : {"", ".", "..", "../x.zip", "a/b.zip", "a\\b.zip", "C:x.zip", "x..zip", "a\nb"})
        EXPECT_FALSE(isPlainFileName(QString::fromUtf8(bad))) << bad;
    for (const char *good : {"CLINIQUE.zip", "CLINIQUE.zip.001", "Strandel__51.zip", "CLINIQUE[2005].req"})
        EXPECT_TRUE(isPlainFileName(QString::fromUtf8(good))) << good;
}
