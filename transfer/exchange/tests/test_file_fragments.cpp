// Fragments: merging in name order, splitting into pieces, rates and naming.
#include "transfer/exchange/fragments.h"
#include "ziptestkit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace exchange;

namespace {
QStringList files(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}
} // namespace

TEST(MergeFragments, JoinsTheListedFragmentsInNameOrderAndDeletesThem)
{
    QTemporaryDir t;
    const QByteArray whole = ziptest::noise(2500000);
    // Written out of order; another archive's fragment, a stale merge and the
    // user's own files whose names hold the archive's name stay apart.
    ziptest::writeFile(t.path() + "/CLINIQUE.zip.003", whole.mid(2000000));
    ziptest::writeFile(t.path() + "/CLINIQUE.zip.001", whole.left(1000000));
    ziptest::writeFile(t.path() + "/CLINIQUE.zip.002", whole.mid(1000000, 1000000));
    ziptest::writeFile(t.path() + "/AUTRE.zip.001", "other");
    ziptest::writeFile(t.path() + "/CLINIQUE.zip", "older archive");
    ziptest::writeFile(t.path() + "/Copie de CLINIQUE.zip.txt", "the user's copy");
    ziptest::writeFile(t.path() + "/notes_clinique.zip.bak", "the user's notes");
    RecordingSink sink;
    ASSERT_TRUE(MergeFragments(t.path(), "CLINIQUE.zip", {"CLINIQUE.zip.003", "CLINIQUE.zip.001", "CLINIQUE.zip.002"},
                               sink));
    EXPECT_EQ(ziptest::readAll(t.path() + "/CLINIQUE.zip"), whole);
    EXPECT_EQ(files(t.path()),
              (QStringList{"AUTRE.zip.001", "CLINIQUE.zip", "Copie de CLINIQUE.zip.txt", "notes_clinique.zip.bak"}));
    EXPECT_EQ(ziptest::readAll(t.path() + "/Copie de CLINIQUE.zip.txt"), QByteArray("the user's copy"));
    EXPECT_TRUE(sink.entries.isEmpty());
}

TEST(MergeFragments, OnlyListedNamesAndNumberedPiecesCountAsFragments)
{
    QTemporaryDir t;
    for (const char *name : {"CLINIQUE.zip.001", "clinique.ZIP.017", "CLINIQUE.zip.part7", "CLINIQUE.zip",
                             "Copie de CLINIQUE.zip.txt", "notes_clinique.zip.bak", "CLINIQUE.zip.001.txt",
                             "XCLINIQUE.zip.001", "AUTRE.zip.002", "SRV-9-CLINIQUE.zip"})
        ziptest::writeFile(t.path() + "/" + name, "x");
    EXPECT_EQ(fragmentFiles(t.path(), "CLINIQUE", {"SRV-9-CLINIQUE.zip", "absent.001"}),
              (QStringList{"CLINIQUE.zip.001", "clinique.ZIP.017", "SRV-9-CLINIQUE.zip"}));
    EXPECT_EQ(fragmentFiles(t.path(), "", {}), QStringList());
}

TEST(MergeFragments, NothingToMergeFailsAndLeavesNoArchive)
{
    QTemporaryDir t;
    ziptest::writeFile(t.path() + "/CLINIQUE.zip", "older archive");
    RecordingSink sink;
    EXPECT_FALSE(MergeFragments(t.path(), "CLINIQUE.zip", {}, sink));
    EXPECT_FALSE(MergeFragments(t.path(), "", {"CLINIQUE.zip.001"}, sink));
    EXPECT_TRUE(files(t.path()).isEmpty());
}

TEST(MergeFragments, WriteFailureRemovesThePartialArchive)
{
    QTemporaryDir t;
    for (int i = 1; i <= 3; ++i)
        ziptest::writeFile(t.path() + QString("/CLINIQUE.zip.%1").arg(i, 3, 10, QChar('0')), ziptest::noise(1000000, i));
    RecordingSink sink;
    bool ok = true;
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = 1500000; // as a disk that fills up in the second fragment
        setrlimit(RLIMIT_FSIZE, &r);
        ok = MergeFragments(t.path(), "CLINIQUE.zip", {"CLINIQUE.zip.001", "CLINIQUE.zip.002", "CLINIQUE.zip.003"},
                            sink);
        setrlimit(RLIMIT_FSIZE, &old);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(QFile::exists(t.path() + "/CLINIQUE.zip"));
    ASSERT_EQ(sink.texts('E').size(), 1);
    EXPECT_TRUE(sink.texts('E')[0].startsWith("Erreur: Écriture du fichier zip " + t.path() + "/CLINIQUE.zip"));
    // No hidden temporary left behind either.
    EXPECT_TRUE(files(t.path()).filter(".strandel").isEmpty());
}

TEST(Rates, DownloadEstimateAndUploadRates)
{
    const QDateTime start(QDate(2005, 3, 2), QTime(14, 0, 0));
    EXPECT_EQ(DownloadTransferRate(500000, start, start.addSecs(600)), "1.00");     // 0.5 rounds to 0
    EXPECT_EQ(DownloadTransferRate(3000000, start, start.addSecs(410)), "2.00");    // 6 min 50 s
    EXPECT_EQ(DownloadTransferRate(1500000, start, start.addSecs(30)), "0.50");     // 1 minute at least, 1.5 -> 2
    EXPECT_EQ(DownloadTransferRate(2500000, start, start.addSecs(3 * 3600 + 59)), "90.00"); // 2.5 -> 2
    EXPECT_EQ(DownloadTransferRate(7000000, start, start.addSecs(60)), "0.14");

    EXPECT_EQ(formatEstimatedMinutes(EstimatedMinutes(100000, parseRate("0.22"))).trimmed(), "1");
    EXPECT_EQ(formatEstimatedMinutes(EstimatedMinutes(50000000, parseRate("0,5"))), "25   ");
    EXPECT_DOUBLE_EQ(EstimatedMinutes(0, 60), 1.0);

    EXPECT_EQ(UploadTransferRate(400000, QTime(10, 0), QTime(10, 5)), "0.00");
    EXPECT_EQ(UploadTransferRate(2500000, QTime(23, 58), QTime(0, 4)), "3.00"); // past midnight, 2.5 -> 2
}

TEST(SplitArchive, PieceSizesAndCleanup)
{
    QTemporaryDir t;
    struct Case { qint64 size; QList<qint64> pieces; };
    const QList<Case> cases = {{2500000, {1000000, 1000000, 500000}},
                               {2000000, {1000000, 1000000, 0}},
                               {400000, {400000}}};
    for (const Case &c : cases) {
        const QByteArray data = ziptest::noise(c.size, quint32(c.size));
        ziptest::writeFile(t.path() + "/CLINIQUE_wav.zip", data);
        QString error;
        const QStringList pieces = SplitArchive(t.path(), "CLINIQUE_wav.zip", &error);
        ASSERT_EQ(pieces.size(), c.pieces.size()) << c.size;
        QByteArray joined;
        for (int i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i], QString("CLINIQUE_wav.zip.%1").arg(i + 1, 3, 10, QChar('0')));
            EXPECT_EQ(QFileInfo(t.path() + "/" + pieces[i]).size(), c.pieces[i]);
            joined += ziptest::readAll(t.path() + "/" + pieces[i]);
        }
        EXPECT_EQ(joined, data);
        RecordingSink sink;
        DeleteSplitPieces(t.path(), "CLINIQUE_wav.zip", sink);
        EXPECT_EQ(files(t.path()), QStringList{"CLINIQUE_wav.zip"});
    }
    QString error;
    EXPECT_TRUE(SplitArchive(t.path(), "absent.zip", &error).isEmpty());
    EXPECT_EQ(error, "Le fichier est introuvable:" + t.path() + "/absent.zip");
    ziptest::writeFile(t.path() + "/empty.zip", "");
    EXPECT_TRUE(SplitArchive(t.path(), "empty.zip", &error).isEmpty());
    EXPECT_TRUE(SplitArchive(t.path(), "", &error).isEmpty());
}

TEST(DictationArchiveName, FirstFreeNameOnTheServer)
{
    EXPECT_EQ(DictationArchiveName("CLINIQUE", {}), "CLINIQUE_wav.zip");
    EXPECT_EQ(DictationArchiveName("CLINIQUE", {"CLINIQUE_wav.ZIP", "CLINIQUE_wav__1.zip"}), "CLINIQUE_wav__2.zip");
    EXPECT_EQ(DictationArchiveName("CLINIQUE", {"CLINIQUE_wav__1.zip"}), "CLINIQUE_wav.zip");
    QStringList all{"CLINIQUE_wav.zip"};
    for (int i = 1; i <= 50; ++i)
        all << QString("CLINIQUE_wav__%1.zip").arg(i);
    EXPECT_EQ(DictationArchiveName("CLINIQUE", all), "CLINIQUE_wav__51.zip");
}

TEST(ListLines, NamesAreReadBackFromTheirColumns)
{
    const QString line = wavListLine(QDateTime(QDate(2005, 3, 2), QTime(14, 30, 5)), 123456, "A12345.wav");
    EXPECT_EQ(line.indexOf("A12345.wav"), 32);
    EXPECT_TRUE(line.startsWith("2005-03-02 14:30:05      123456 A12345.wav"));
    EXPECT_EQ(wavNameFromLine(line), "A12345.wav");
    const QString piece = pieceListLine("X.zip.001", "/d/X.zip.001");
    EXPECT_EQ(piece, "[X.zip.001]  ...  [/d/X.zip.001]");
    EXPECT_EQ(pieceFromLine(piece), "X.zip.001");
}
