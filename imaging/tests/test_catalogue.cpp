// Catalogues (DICOMDIR): the record tree, icon images, unreadable catalogues.

#include "testutil.h"

#include <QSet>

#include <functional>
#include <map>

using namespace imaging;
using namespace testutil;

namespace {

// Number of records at each depth below the root (1 patients, 2 studies, ...).
std::map<int, int> CountLevels(const DicomDataSetPtr &root)
{
    std::map<int, int> counts;
    std::function<void(const DicomDataSetPtr &, int)> walk = [&](const DicomDataSetPtr &ds, int depth) {
        auto kids = ds->Children();
        for (int i = 1; i <= kids->Count(); ++i) {
            ++counts[depth];
            walk(kids->Item(i), depth + 1);
        }
    };
    walk(root, 1);
    return counts;
}

QString DirTests(const QString &name)
{
    return PydicomFile("dicomdirtests/" + name);
}

} // namespace

TEST(Catalogue, DemoTreeMatchesTheManifest)
{
    auto sets = CreateDataSets();
    auto root = sets->ReadDirectory(DemoVisit() + "/DICOMDIR");
    EXPECT_EQ(sets->Count(), 1);
    const QJsonObject cat = Manifest(DemoVisit())["catalogues"].toArray().at(0).toObject();
    const QJsonArray patients = cat["patients"].toArray();
    auto pr = root->Children();
    ASSERT_EQ(pr->Count(), patients.size());
    int iconImages = 0;
    for (int p = 1; p <= pr->Count(); ++p) {
        const QJsonObject mp = patients.at(p - 1).toObject();
        auto patient = pr->Item(p);
        EXPECT_EQ(patient->RecordType(), "PATIENT");
        EXPECT_EQ(patient->PatientID(), mp["id"].toString());
        EXPECT_EQ(patient->Name(), mp["name"].toString()); // accents decoded
        EXPECT_EQ(patient->Attributes()->Item(0x0010, 0x0020)->Value().toString(), mp["id"].toString());
        const QJsonArray studies = mp["studies"].toArray();
        ASSERT_EQ(patient->Children()->Count(), studies.size());
        for (int s = 1; s <= studies.size(); ++s) {
            auto study = patient->Children()->Item(s);
            const QJsonObject ms = studies.at(s - 1).toObject();
            EXPECT_EQ(study->StudyDescription(), ms["description"].toString());
            EXPECT_FALSE(study->StudyUID().isEmpty());
            const QJsonArray series = ms["series"].toArray();
            ASSERT_EQ(study->Children()->Count(), series.size());
            for (int se = 1; se <= series.size(); ++se) {
                auto seriesRec = study->Children()->Item(se);
                const QJsonArray imgs = series.at(se - 1).toObject()["images"].toArray();
                ASSERT_EQ(seriesRec->Children()->Count(), imgs.size());
                for (int i = 1; i <= imgs.size(); ++i) {
                    auto rec = seriesRec->Children()->Item(i);
                    // Referenced File ID: one path component per value.
                    auto ref = rec->Attributes()->Item(0x0004, 0x1500);
                    QStringList parts;
                    for (int k = 1; k <= ref->VM(); ++k)
                        parts << ref->ValueByIndex(k).toString();
                    EXPECT_EQ(parts.join('/'), imgs.at(i - 1).toObject()["file"].toString());
                    // Icon images can be made images of their own.
                    auto icon = rec->Attributes()->Item(0x0088, 0x0200);
                    if (icon->Exists()) {
                        auto items = icon->Value().value<DicomDataSetsPtr>();
                        ASSERT_TRUE(items && items->Count() >= 1);
                        auto image = items->Item(1)->MakeImage();
                        EXPECT_GT(image->SizeX(), 0);
                        EXPECT_EQ(image->DisplayFrame().width(), image->SizeX());
                        image->SetStudyUID(study->StudyUID());
                        EXPECT_EQ(image->StudyUID(), study->StudyUID());
                        ++iconImages;
                    }
                }
            }
        }
    }
    EXPECT_GT(iconImages, 10);
}

TEST(Catalogue, PydicomVariantsGiveTheSameTree)
{
    // What pydicom counts in the plain catalogue.
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
        "import pydicom,sys,collections\n"
        "ds=pydicom.dcmread(sys.argv[1])\n"
        "c=collections.Counter(r.DirectoryRecordType for r in ds.DirectoryRecordSequence)\n"
        "print(c['PATIENT'],c['STUDY'],c['SERIES'],c['IMAGE'])\n"
        "print('|'.join(r.PatientID for r in ds.DirectoryRecordSequence if r.DirectoryRecordType=='PATIENT'))\n",
        DirTests("DICOMDIR")});
    p.waitForFinished(60000);
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n');
    ASSERT_GE(lines.size(), 2);
    const QStringList counts = lines[0].split(' ');
    QStringList ids = lines[1].split('|');
    ids.sort();
    for (const char *name : {"DICOMDIR", "DICOMDIR-bigEnd", "DICOMDIR-implicit", "DICOMDIR-nooffset",
                             "DICOMDIR-reordered"}) {
        SCOPED_TRACE(name);
        DicomDataSetPtr root;
        try {
            root = CreateDataSets()->ReadDirectory(DirTests(QString::fromLatin1(name)));
        } catch (const DicomError &e) {
            FAIL() << e.what();
        }
        const auto levels = CountLevels(root);
        EXPECT_EQ(levels.at(1), counts[0].toInt());
        EXPECT_EQ(levels.at(2), counts[1].toInt());
        EXPECT_EQ(levels.at(3), counts[2].toInt());
        EXPECT_EQ(levels.at(4), counts[3].toInt());
        QStringList mine;
        for (int i = 1; i <= root->Children()->Count(); ++i)
            mine << root->Children()->Item(i)->PatientID();
        mine.sort();
        EXPECT_EQ(mine, ids);
    }
    // Records of an unknown type are still walked by their links.
    EXPECT_NO_THROW(CreateDataSets()->ReadDirectory(DirTests("DICOMDIR-nopatient")));
    // A catalogue without records is readable and empty.
    auto empty = CreateDataSets()->ReadDirectory(DirTests("DICOMDIR-empty.dcm"));
    EXPECT_EQ(empty->Children()->Count(), 0);
}

TEST(Catalogue, UnreadableCataloguesRaiseATextNamingTheFile)
{
    QTemporaryDir dir;
    const QString cases[] = {
        dir.filePath("DICOMDIR"),                                          // absent
        dir.path(),                                                        // a folder
        WriteBytes(dir, "DICOMDIR.001", QByteArray()),                     // empty
        WriteBytes(dir, "DICOMDIR.002", QByteArray(3000, 'x')),            // garbage
        PydicomFile("CT_small.dcm"),                                       // an image
        WriteBytes(dir, "DICOMDIR.003",
                   ReadBytes(DemoVisit() + "/DICOMDIR").left(4000)),      // truncated
    };
    for (const QString &path : cases) {
        try {
            CreateDataSets()->ReadDirectory(path);
            ADD_FAILURE() << path.toStdString() << " was accepted";
        } catch (const DicomError &e) {
            EXPECT_TRUE(e.Message().contains(path)) << e.what();
            EXPECT_TRUE(e.Message().startsWith("Impossible de lire le catalogue DICOM")) << e.what();
            ExpectFrenchOnly(e);
        }
    }
    // DCMTK's reason for the truncated catalogue is kept for the log, in its words.
    ASSERT_GT(ReadBytes(DemoVisit() + "/DICOMDIR").size(), 4000);
    try {
        CreateDataSets()->ReadDirectory(cases[5]);
        ADD_FAILURE() << "the truncated catalogue was accepted";
    } catch (const DicomError &e) {
        EXPECT_TRUE(e.Message().contains("tronqué")) << e.what();
        EXPECT_EQ(e.Detail(), "Invalid stream") << e.what();
        EXPECT_EQ(ErrorLogText(e), e.Message() + " [Invalid stream]");
    }
}

TEST(Catalogue, BrokenLinksThatLoopAreRefused)
{
    // Point the first patient's "next record" offset back at itself.
    QTemporaryDir dir;
    QByteArray bytes = ReadBytes(DirTests("DICOMDIR"));
    QProcess p;
    p.start("/usr/bin/python3", {"-c",
        "import pydicom,sys\n"
        "ds=pydicom.dcmread(sys.argv[1])\n"
        "first=ds.OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity\n"
        "r=ds.DirectoryRecordSequence[0]\n"
        "r.OffsetOfTheNextDirectoryRecord=first\n"
        "ds.save_as(sys.argv[2], write_like_original=True)\n",
        DirTests("DICOMDIR"), dir.filePath("DICOMDIR")});
    p.waitForFinished(60000);
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_THROW(CreateDataSets()->ReadDirectory(dir.filePath("DICOMDIR")), DicomError);
}
