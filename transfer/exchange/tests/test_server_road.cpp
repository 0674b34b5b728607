// The road of one study: requested by accession number, prepared by the
// server, downloaded in fragments, unpacked, and read back by an independent
// DICOM reader.
#include "exchangetestutil.h"

#include "transfer/core/formrequete.h"

#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include "testsupport/qtestgtest.h"

using namespace exchange;
using strandel::MessageKind;


using Road = ExchangeFixture;

TEST_F(Road, RequestWaitDownloadUnpackAndRead)
{
    const QString demo = QStringLiteral(KORVANE_TESTDATA_DIR) + "/demo";
    ASSERT_TRUE(QFile::exists(demo + "/DICOMDIR")) << "the synthetic visits were not written";
    start("Requete=1\r\nDelai=1\r\n");
    ASSERT_TRUE(copyTree(demo, server->root() + "/studies/ACC1"));

    onDialog = [](QDialog &d) {
        if (auto *r = qobject_cast<strandel::TFormRequete *>(&d)) {
            r->show();
            r->accessionEdit()->clear();
            QTest::keyClicks(r->accessionEdit(), "ACC1");
            r->dateEdit()->clear();
            QTest::mouseClick(r->envoyerButton(), Qt::LeftButton);
            return r->result();
        }
        return defaultAnswer(d);
    };
    form->setTickInterval(20);
    form->requestClicked();
    ASSERT_TRUE(form->waiting()) << rec.texts().join(" | ").toStdString();
    // Wait mode sees the archive, asks, and the download runs from the tick.
    QTRY_VERIFY_WITH_TIMEOUT(said("La réception des images est terminée."), 60000);
    EXPECT_TRUE(said("Un nouveau fichier d'images est maintenant disponible"));
    EXPECT_EQ(texts(MessageKind::Error), QStringList());
    EXPECT_FALSE(QFile::exists(server->userFolder() + "/CLINIQUE.zip"));

    // An independent reader opens the catalogue and every file it names.
    QProcess py;
    py.start("/usr/bin/python3", {"-c", R"(
import os, sys, pydicom
root = sys.argv[1]
d = pydicom.dcmread(os.path.join(root, 'DICOMDIR'))
n = 0
for rec in d.DirectoryRecordSequence:
    if 'ReferencedFileID' not in rec:
        continue
    fid = rec.ReferencedFileID
    parts = [fid] if isinstance(fid, str) else list(fid)
    ds = pydicom.dcmread(os.path.join(root, *parts))
    assert ds.SOPInstanceUID == rec.ReferencedSOPInstanceUIDInFile, parts
    n += 1
print(n)
)",
                                      work});
    ASSERT_TRUE(py.waitForFinished(120000));
    EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    const int files = py.readAllStandardOutput().trimmed().toInt();
    EXPECT_GT(files, 0);
    // No nested archive is left; the catalogue sits at the top.
    QDirIterator zips(work, {"*.zip", "*.ZIP"}, QDir::Files, QDirIterator::Subdirectories);
    QStringList left;
    while (zips.hasNext())
        left << QDir(work).relativeFilePath(zips.next());
    EXPECT_EQ(left, QStringList{"CLINIQUE.zip"});
}
