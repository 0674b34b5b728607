// The generator's output read back by DCMTK and, independently, by pydicom.
#include "studygen.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdicdir.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kDemo = QStringLiteral(KORVANE_TESTDATA_DIR "/demo");
const QString kMixed = QStringLiteral(KORVANE_TESTDATA_DIR "/mixed");

QJsonObject manifest(const QString &root)
{
    QFile f(root + "/manifest.json");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(f.readAll()).object();
}

QString str(DcmItem *item, const DcmTagKey &key)
{
    OFString v;
    item->findAndGetOFStringArray(key, v);
    return QString::fromLatin1(v.c_str());
}

struct Walk
{
    int patients = 0, studies = 0, series = 0, images = 0, missing = 0, icons = 0;
    QStringList names;
};

Walk walkCatalogue(const QString &path)
{
    Walk w;
    DcmDicomDir dd(path.toLocal8Bit().constData());
    EXPECT_TRUE(dd.error().good()) << dd.error().text();
    DcmDirectoryRecord &root = dd.getRootRecord();
    const QDir base = QFileInfo(path).dir();
    for (unsigned long p = 0; p < root.cardSub(); ++p) {
        DcmDirectoryRecord *pat = root.getSub(p);
        ++w.patients;
        w.names << str(pat, DCM_PatientName);
        for (unsigned long s = 0; s < pat->cardSub(); ++s) {
            DcmDirectoryRecord *st = pat->getSub(s);
            ++w.studies;
            for (unsigned long e = 0; e < st->cardSub(); ++e) {
                DcmDirectoryRecord *se = st->getSub(e);
                ++w.series;
                for (unsigned long i = 0; i < se->cardSub(); ++i) {
                    DcmDirectoryRecord *im = se->getSub(i);
                    ++w.images;
                    QString rel = str(im, DCM_ReferencedFileID).replace('\\', '/');
                    if (!QFileInfo::exists(base.absoluteFilePath(rel)))
                        ++w.missing;
                    DcmSequenceOfItems *icon = nullptr;
                    if (im->findAndGetSequence(DCM_IconImageSequence, icon).good() && icon && icon->card() == 1)
                        ++w.icons;
                }
            }
        }
    }
    return w;
}

} // namespace

TEST(StudyGen, DemoCatalogueHoldsEveryKindOfImage)
{
    const Walk w = walkCatalogue(kDemo + "/DICOMDIR");
    EXPECT_EQ(w.patients, 2);
    EXPECT_EQ(w.studies, 3);
    // Main study: axial CT, coronal CT, MR, XA, colour SC, CT key images, CR;
    // earlier study: one CT series; second patient: one CT series.
    EXPECT_EQ(w.series, 9);
    EXPECT_EQ(w.images, 20 + 5 + 12 + 1 + 1 + 1 + 1 + 4 + 3);
    EXPECT_EQ(w.missing, 0);
    EXPECT_EQ(w.icons, w.images);
    // ISO_IR 100 bytes in the catalogue: È is 0xC8, é is 0xE9.
    EXPECT_TRUE(w.names.contains(QString::fromLatin1("LEF\xC8VRE^H\xE9l\xE8ne")));

    // The catalogue folder looks like a CD.
    EXPECT_TRUE(QFileInfo::exists(kDemo + "/DICOM/ST000001/SE000001/IM000001"));
    EXPECT_TRUE(QFileInfo::exists(kDemo + "/CT20261109001.RAP"));
}

TEST(StudyGen, MixedFolderHoldsTwoCatalogues)
{
    EXPECT_EQ(walkCatalogue(kMixed + "/DICOMDIR").patients, 1);
    const Walk b = walkCatalogue(kMixed + "/DICOMDIR.B");
    EXPECT_EQ(b.patients, 1);
    EXPECT_EQ(b.images, 4);
    EXPECT_EQ(b.missing, 0);
}

TEST(StudyGen, ImageAttributesMatchTheCases)
{
    const QJsonObject m = manifest(kDemo);
    const QJsonArray series =
        m["catalogues"][0]["patients"][0]["studies"][0]["series"].toArray();
    ASSERT_EQ(series.size(), 7);

    // First axial slice: the geometry whose slice line reads Ax: I85.5.
    DcmFileFormat ct;
    ASSERT_TRUE(ct.loadFile((kDemo + "/" + series[0]["images"][0]["file"].toString()).toLocal8Bit().constData()).good());
    DcmDataset *ds = ct.getDataset();
    EXPECT_EQ(str(ds, DCM_ImagePositionPatient), "-250\\-250\\-85.5");
    EXPECT_EQ(str(ds, DCM_ImageOrientationPatient), "1\\0\\0\\0\\1\\0");
    EXPECT_EQ(str(ds, DCM_PixelSpacing), "0.9765625\\0.9765625");

    // Axial and coronal CT share one frame of reference.
    DcmFileFormat cor;
    ASSERT_TRUE(cor.loadFile((kDemo + "/" + series[1]["images"][0]["file"].toString()).toLocal8Bit().constData()).good());
    EXPECT_EQ(str(cor.getDataset(), DCM_FrameOfReferenceUID), str(ds, DCM_FrameOfReferenceUID));
    EXPECT_FALSE(str(ds, DCM_FrameOfReferenceUID).isEmpty());

    // MR: echo times alternate in instance order; thickness 5, spacing 6, 15000 gauss.
    const QJsonArray mr = series[2]["images"].toArray();
    for (int i = 0; i < mr.size(); ++i) {
        DcmFileFormat f;
        ASSERT_TRUE(f.loadFile((kDemo + "/" + mr[i]["file"].toString()).toLocal8Bit().constData()).good());
        EXPECT_EQ(str(f.getDataset(), DCM_EchoTime), i % 2 == 0 ? "15" : "90");
        EXPECT_EQ(str(f.getDataset(), DCM_InstanceNumber), QString::number(i + 1));
        EXPECT_EQ(str(f.getDataset(), DCM_SpacingBetweenSlices), "6");
        EXPECT_EQ(str(f.getDataset(), DCM_MagneticFieldStrength), "15000");
    }

    // XA: 20 frames, angles, frame time.
    DcmFileFormat xa;
    ASSERT_TRUE(xa.loadFile((kDemo + "/" + series[3]["images"][0]["file"].toString()).toLocal8Bit().constData()).good());
    EXPECT_EQ(str(xa.getDataset(), DCM_NumberOfFrames), "20");
    EXPECT_EQ(str(xa.getDataset(), DCM_PositionerPrimaryAngle), "-30");
    EXPECT_EQ(str(xa.getDataset(), DCM_FrameTime), "50");

    // The colour capture has no Series Number; the key image carries the comment
    // under the product's UID root.
    DcmFileFormat sc;
    ASSERT_TRUE(sc.loadFile((kDemo + "/" + series[4]["images"][0]["file"].toString()).toLocal8Bit().constData()).good());
    EXPECT_FALSE(sc.getDataset()->tagExists(DCM_SeriesNumber));
    EXPECT_TRUE(series[5]["uid"].toString().startsWith(studygen::kProductUidRoot));
    DcmFileFormat key;
    ASSERT_TRUE(key.loadFile((kDemo + "/" + series[5]["images"][0]["file"].toString()).toLocal8Bit().constData()).good());
    EXPECT_EQ(str(key.getDataset(), DcmTagKey(0x0009, 0x0001)), "O");
    EXPECT_TRUE(str(key.getDataset(), DcmTagKey(0x0009, 0x0003)).startsWith(QString::fromLatin1("Patiente \xE0 jeun")));

    // The overlay plane sits on the second patient's first slice.
    const QJsonArray other = m["catalogues"][0]["patients"][1]["studies"][0]["series"][0]["images"].toArray();
    DcmFileFormat ov;
    ASSERT_TRUE(ov.loadFile((kDemo + "/" + other[0]["file"].toString()).toLocal8Bit().constData()).good());
    EXPECT_TRUE(ov.getDataset()->tagExists(DcmTagKey(0x6000, 0x3000)));
}

TEST(StudyGen, PydicomReadsTheSameVisits)
{
    for (const QString &root : {kDemo, kMixed}) {
        QProcess py;
        py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(STUDYGEN_CHECK_SCRIPT), root});
        ASSERT_TRUE(py.waitForFinished(120000));
        const QString out = QString::fromUtf8(py.readAllStandardOutput() + py.readAllStandardError());
        EXPECT_EQ(py.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.trimmed().endsWith("ok")) << out.toStdString();
    }
}

namespace {

QMap<QString, QByteArray> hashTree(const QString &root)
{
    QMap<QString, QByteArray> h;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        QFile f(p);
        f.open(QIODevice::ReadOnly);
        h[QDir(root).relativeFilePath(p)] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
    }
    return h;
}

int runStudygen(const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    p.start(QStringLiteral(KORVANE_STUDYGEN), args);
    p.waitForFinished(120000);
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

} // namespace

TEST(StudyGen, SameSeedSameBytesOtherSeedOtherUids)
{
    QTemporaryDir a, b, c;
    QString output;
    ASSERT_EQ(runStudygen({"--out", a.path(), "--preset", "mixed", "--seed", "7"}, &output), 0);
    // DCMTK's information lines ("I: adding file: ...") are kept out of the generator's output.
    EXPECT_FALSE(output.contains(QRegularExpression(QStringLiteral("(^|\\n)[DI]: "))))
        << output.left(400).toStdString();
    ASSERT_EQ(runStudygen({"--out", b.path(), "--preset", "mixed", "--seed", "7"}), 0);
    ASSERT_EQ(runStudygen({"--out", c.path(), "--preset", "mixed", "--seed", "8"}), 0);
    const auto ha = hashTree(a.path()), hb = hashTree(b.path()), hc = hashTree(c.path());
    QStringList differ;
    for (auto it = ha.cbegin(); it != ha.cend(); ++it)
        if (hb.value(it.key()) != it.value())
            differ << it.key();
    EXPECT_TRUE(differ.isEmpty()) << differ.join(", ").toStdString();
    EXPECT_EQ(ha.keys(), hc.keys());
    EXPECT_NE(ha.value("DICOMDIR"), hc.value("DICOMDIR"));
    EXPECT_NE(ha.value("DICOM/ST000001/SE000001/IM000001"), hc.value("DICOM/ST000001/SE000001/IM000001"));
}

TEST(StudyGen, LargePresetSizeAndSummaryFindsMissingFiles)
{
    QTemporaryDir d;
    ASSERT_EQ(runStudygen({"--out", d.path(), "--preset", "ct-large", "--images", "12"}), 0);
    const Walk w = walkCatalogue(d.path() + "/DICOMDIR");
    EXPECT_EQ(w.images, 12);

    QString out;
    EXPECT_EQ(runStudygen({"--summary", d.path()}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("12 image(s)")) << out.toStdString();

    ASSERT_TRUE(QFile::remove(d.path() + "/DICOM/ST000001/SE000001/IM000003"));
    EXPECT_EQ(runStudygen({"--summary", d.path()}, &out), 1);
    EXPECT_TRUE(out.contains("1 missing")) << out.toStdString();
}

TEST(StudyGen, BadArgumentsAreRefused)
{
    QTemporaryDir d;
    QString out;
    EXPECT_NE(runStudygen({"--out", d.path(), "--preset", "nonsense"}, &out), 0);
    EXPECT_TRUE(out.contains("unknown preset")) << out.toStdString();
    EXPECT_EQ(runStudygen({"--images", "x"}, &out), 2);
    EXPECT_EQ(runStudygen({"--summary", d.path()}, &out), 1);
    EXPECT_TRUE(out.contains("no DICOMDIR"));
}
