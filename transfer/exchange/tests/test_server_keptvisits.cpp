// Kept visits of two patients whose archives use the same paths (the usual CD
// layout DICOM/ST000001/SE000001/IM000001 ...), prepared by the loopback
// server from real visits of the study generator and received one after the
// other: the later one must never change the earlier one's images.
#include "exchangetestutil.h"

#include "transfer/core/echoservice.h"

#include <QDirIterator>
#include <QMap>
#include <QRegularExpression>
#include "testsupport/qtestgtest.h"

using strandel::MessageKind;

namespace {

// Every file under root, by its path relative to root, with its bytes.
QMap<QString, QByteArray> filesUnder(const QString &root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(QDir(root).relativeFilePath(path), ziptest::readAll(path));
    }
    return out;
}

} // namespace

struct KeptVisits : ExchangeFixture
{
    // Sends a request for the accession number and waits until the server
    // has prepared its archive.
    void request(const QString &accession)
    {
        ASSERT_TRUE(form->SendRequest(accession, "100", "RAPPORT=NON", ""));
        QTRY_VERIFY_WITH_TIMEOUT(!strandel::AvailableArchive(form->service(), "CLINIQUE", form->errorBox()).isEmpty(),
                                 30000);
    }
};

TEST_F(KeptVisits, ALaterVisitLaidOutAlikeNeverChangesAnEarlierOne)
{
#ifndef KORVANE_STUDYGEN
    GTEST_SKIP() << "the study generator is not part of the build";
#else
    start("Conserver=1\r\nEpurer=30\r\n");
    // Patient 1: the demo visit (three slices per CT series); patient 2: the
    // first visit of the mixed set, without its second catalogue.
    const QString gen = dir.path() + "/gen";
    for (const QStringList &args : {QStringList{"--out", gen + "/demo", "--preset", "demo", "--images", "3"},
                                    QStringList{"--out", gen + "/mixed", "--preset", "mixed"}}) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(KORVANE_STUDYGEN), args);
        ASSERT_TRUE(p.waitForFinished(120000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
    }
    const QString one = server->root() + "/studies/PAT1";
    const QString two = server->root() + "/studies/PAT2";
    ASSERT_TRUE(copyTree(gen + "/demo", one));
    ASSERT_TRUE(copyTree(gen + "/mixed/DICOM", two + "/DICOM"));
    ASSERT_TRUE(QFile::copy(gen + "/mixed/DICOMDIR", two + "/DICOMDIR"));
    const QString same = "DICOM/ST000001/SE000001/IM000001";
    ASSERT_TRUE(QFile::exists(one + "/" + same) && QFile::exists(two + "/" + same));
    ASSERT_NE(ziptest::readAll(one + "/" + same), ziptest::readAll(two + "/" + same));

    request("PAT1");
    form->downloadClicked();
    ASSERT_TRUE(said("La réception des images est terminée.")) << rec.texts().join(" | ").toStdString();
    ASSERT_TRUE(QFile::exists(work + "/DICOMDIR.PAT1"));
    const QMap<QString, QByteArray> first = filesUnder(work + "/DICOM");
    ASSERT_EQ(first, filesUnder(one + "/DICOM"));

    // The second patient's archive clashes: nothing of it is installed, the
    // message names the clash, and the archive stays on the server.
    rec.messages.clear();
    request("PAT2");
    form->downloadClicked();
    const QStringList errors = texts(MessageKind::Error);
    ASSERT_EQ(errors.size(), 2) << rec.texts().join(" | ").toStdString();
    EXPECT_TRUE(errors[0].startsWith("ERREUR : Les images reçues n'ont pas été installées.\r\r"
                                     "Le fichier \"DICOM/ST000001/SE0000"))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("Le fichier d'images reste sur le serveur"));
    // The kept visit that holds the file is named from its catalogue, with
    // where the user can delete it; the status bar does not say it arrived.
    EXPECT_TRUE(errors[0].contains(QRegularExpression(
        "appartient à la visite conservée de [^\\r]+ \\(accession [^\\r]+, catalogue DICOMDIR\\.PAT1\\)")))
        << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("fenêtre d'ouverture des visites (bouton \"Effacer\")"));
    EXPECT_FALSE(form->statusText().contains("Réception terminée")) << form->statusText().toStdString();
    EXPECT_EQ(errors[1], "ERREUR durant la réception des images.");
    EXPECT_EQ(filesUnder(work + "/DICOM"), first);
    EXPECT_EQ(ziptest::readAll(work + "/DICOMDIR.PAT1"), ziptest::readAll(one + "/DICOMDIR"));
    EXPECT_EQ(QDir(work).entryList({"DICOMDIR*"}), QStringList{"DICOMDIR.PAT1"});
    EXPECT_TRUE(QFile::exists(serverUser() + "/CLINIQUE.zip"));
    EXPECT_TRUE(QDir(work).entryList({".strandel*"}, QDir::AllEntries | QDir::Hidden).isEmpty());

    // Once the first visit is gone from the folder, the second one comes down.
    ASSERT_TRUE(QDir(work + "/DICOM").removeRecursively());
    ASSERT_TRUE(QFile::remove(work + "/DICOMDIR.PAT1"));
    rec.messages.clear();
    form->downloadClicked();
    EXPECT_TRUE(said("La réception des images est terminée.")) << rec.texts().join(" | ").toStdString();
    EXPECT_EQ(ziptest::readAll(work + "/DICOMDIR.PAT2"), ziptest::readAll(two + "/DICOMDIR"));
    EXPECT_EQ(filesUnder(work + "/DICOM"), filesUnder(two + "/DICOM"));
#endif
}
