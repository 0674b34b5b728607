// Loading whole visits: series split, sort, numbering, hand-over, errors and stops,
// on generated visits, altered copies of them and the DICOMDIR trees of pydicom.
#include "loadingtesting.h"
#include "viewer/loading/cornertext.h"

#include <gtest/gtest.h>

using namespace loading;
using namespace loadingtest;

namespace {

const QString kMainPatient = QStringLiteral("KV000123");

class VisitLoad : public ::testing::Test
{
protected:
    // A copy of the demo visit to alter.
    QString DemoCopy(const std::function<QString(const QString &)> &rename = {})
    {
        const QString folder = dir.filePath("visit");
        EXPECT_TRUE(CopyTree(TestVisit("demo"), folder, rename));
        return folder;
    }

    QTemporaryDir dir;
    VisitContent content;
    RecordingObserver observer;
};

QString TopLeftOf(const VisitContent &content, int index)
{
    return TopLeft(*content.Images()->Item(index));
}

} // namespace

TEST_F(VisitLoad, DemoVisitSplitsSortsNumbersAndHandsOverAfterTwoSeries)
{
    const LoadOutcome outcome = Load(content, observer, TestVisit("demo"), kMainPatient);
    ASSERT_FALSE(outcome.failed()) << outcome.errorText.toStdString();
    const auto images = content.Images();
    // CT 20, coronal 5, MR 12, XA 20 frames, two captures, CR, and the second study's CT 4.
    EXPECT_EQ(images->Count(), 64);
    EXPECT_EQ(content.SeriesCount(), 8);
    EXPECT_EQ(content.CalibrationFactors().size(), 8u);
    EXPECT_EQ(observer.handOvers, 1);
    EXPECT_EQ(observer.imagesAtHandOver, 25);
    EXPECT_EQ(observer.seriesAtHandOver, 2);
    EXPECT_EQ(observer.imagesRead, 45); // files read; frames are entries, not files

    EXPECT_TRUE(TopLeftOf(content, 1).contains("Im: 1/20"));
    EXPECT_TRUE(TopLeftOf(content, 20).contains("Im: 20/20"));
    EXPECT_TRUE(TopLeftOf(content, 21).contains("Im: 1/5"));
    // Load marks: the head of each catalogue series 0, others empty.
    EXPECT_EQ(images->Item(1)->Tag(), QVariant(0));
    EXPECT_FALSE(images->Item(2)->Tag().isValid());
    EXPECT_EQ(images->Item(21)->Tag(), QVariant(0));

    // MR echo times 15 and 90 alternate with the instance numbers: the split
    // makes two series of six, each kept together in instance order.
    const QString te15 = images->Item(26)->SeriesUID();
    const QString te90 = images->Item(32)->SeriesUID();
    EXPECT_NE(te15, te90);
    for (int i = 26; i <= 37; ++i) {
        const bool first = i < 32;
        EXPECT_EQ(images->Item(i)->SeriesUID(), first ? te15 : te90) << i;
        const int instance = first ? 1 + 2 * (i - 26) : 2 + 2 * (i - 32);
        EXPECT_TRUE(TopLeftOf(content, i).contains(QStringLiteral("Im: %1/6").arg(instance)))
            << i << " " << TopLeftOf(content, i).toStdString();
    }
    EXPECT_EQ(te15, images->Item(26)->InstanceUID()); // named after the first image read

    // The angiography run: one entry per frame, each with its frame line.
    const auto xa = images->Item(38);
    EXPECT_EQ(xa->SOPClass(), kSopClassXA);
    EXPECT_EQ(xa->SeriesUID(), xa->InstanceUID());
    EXPECT_EQ(images->Item(39)->Frame(), 2);
    EXPECT_TRUE(TopLeftOf(content, 39).contains("Fr: 2/20")) << TopLeftOf(content, 39).toStdString();
    EXPECT_TRUE(TopLeftOf(content, 57).contains("Fr: 20/20"));
    EXPECT_TRUE(TopLeftOf(content, 38).contains("Fr: 1/20"));
    EXPECT_EQ(images->Item(39)->Labels()->Count(), 11);

    // Captures: "OT" becomes its own series and keeps the old UID; "CT" keeps its series.
    const auto ot = images->Item(58);
    EXPECT_EQ(ot->SeriesUID(), ot->InstanceUID());
    EXPECT_EQ(AttributeText(*ot->Attributes(), 0x0009, 0x0004), "2.25.100000046");
    const auto key = images->Item(59);
    EXPECT_EQ(key->SeriesUID(), "1.3.6.1.4.1.57433.8.1.48");
    EXPECT_FALSE(key->Attributes()->Item(0x0009, 0x0004)->Exists());

    // Displayed series: CT, coronal, two MR echoes, XA, OT, key images, CR, second study.
    EXPECT_EQ(CountSeries(*images, false), 9);
    EXPECT_EQ(CountSeries(*images, true), 2);
    EXPECT_TRUE(observer.log.contains("TCHARGEMENT.EXECUTE Level 1 (2 items)"));
    EXPECT_TRUE(observer.log.contains("TCHARGEMENT.EXECUTE Level 3 (7 items)"));
    EXPECT_TRUE(observer.log.contains("TCHARGEMENT.BUBBLESORT Begin"));
    EXPECT_EQ(observer.log.last(), "TCHARGEMENT.EXECUTE End");
}

TEST_F(VisitLoad, OverlayIsActivatedAndOneSeriesIsNotHandedOverEarly)
{
    const LoadOutcome outcome = Load(content, observer, TestVisit("demo"), "KV000456");
    ASSERT_FALSE(outcome.failed());
    EXPECT_EQ(observer.handOvers, 0);
    EXPECT_EQ(content.SeriesCount(), 1);
    const auto first = content.Images()->Item(1);
    EXPECT_EQ(AttributeText(*first->Attributes(), 0x6000, 0x1001), "OVERLAY");
    const auto layers = first->Attributes()->Item(0x0070, 0x0060)->Value().value<imaging::DicomDataSetsPtr>();
    ASSERT_TRUE(layers);
    ASSERT_EQ(layers->Count(), 1);
    EXPECT_EQ(AttributeText(*layers->Item(1)->Attributes(), 0x0070, 0x0002), "OVERLAY");
    EXPECT_FALSE(content.Images()->Item(2)->Attributes()->Item(0x6000, 0x1001)->Exists());
}

TEST_F(VisitLoad, NineSortsBeforeTen)
{
    const QString folder = dir.filePath("ct");
    ASSERT_TRUE(Generate(folder, "ct-large", 12));
    // The catalogue now names instance 10 before instance 9.
    const QString se = folder + "/DICOM/ST000001/SE000001/";
    ASSERT_TRUE(QFile::rename(se + "IM000009", se + "SWAP"));
    ASSERT_TRUE(QFile::rename(se + "IM000010", se + "IM000009"));
    ASSERT_TRUE(QFile::rename(se + "SWAP", se + "IM000010"));
    const QString patient = AttributeText(*ReadImage(se + "IM000001")->Attributes(), 0x0010, 0x0020);
    ASSERT_FALSE(Load(content, observer, folder, patient).failed());
    ASSERT_EQ(content.Images()->Count(), 12);
    for (int i = 1; i <= 12; ++i)
        EXPECT_TRUE(TopLeftOf(content, i).contains(QStringLiteral("Im: %1/12").arg(i))) << i;
    EXPECT_EQ(SortKey(*content.Images()->Item(9)).right(15), QByteArray("              9"));
}

TEST_F(VisitLoad, SortIsStableAndMatchesAdjacentSwaps)
{
    // Keys with equal values keep their order; "10" after "9"; absent keys first.
    std::vector<imaging::DicomImagePtr> entries;
    const std::vector<std::pair<int, QString>> wanted = {{1, "10"}, {1, "9"}, {1, ""}, {1, "9"}, {0, "2"}};
    for (const auto &[series, instance] : wanted) {
        auto image = imaging::CreateImage();
        if (series)
            image->Attributes()->Add(0x0020, 0x0011, QString::number(series), "IS");
        if (!instance.isEmpty())
            image->Attributes()->Add(0x0020, 0x0013, instance, "IS");
        entries.push_back(image);
    }
    auto bubble = entries;
    for (bool moved = true; moved;) {
        moved = false;
        for (std::size_t i = 0; i + 1 < bubble.size(); ++i) {
            if (SortKey(*bubble[i]) > SortKey(*bubble[i + 1])) {
                std::swap(bubble[i], bubble[i + 1]);
                moved = true;
            }
        }
    }
    auto sorted = entries;
    SortSeriesEntries(sorted);
    EXPECT_EQ(sorted, bubble);
    EXPECT_EQ(sorted[0], entries[4]); // no series number: blanks sort first
    EXPECT_EQ(sorted[1], entries[2]);
    EXPECT_EQ(sorted[2], entries[1]);
    EXPECT_EQ(sorted[3], entries[3]);
    EXPECT_EQ(sorted[4], entries[0]);
}

TEST_F(VisitLoad, FirstSeriesOfThreeMultiFrameImagesDefersTheHandOver)
{
    const QString folder = DemoCopy();
    const QString ct = folder + "/DICOM/ST000001/SE000001/";
    const QString xa = folder + "/DICOM/ST000001/SE000004/IM000001";
    for (int i = 1; i <= 20; ++i) {
        const QString file = ct + QStringLiteral("IM%1").arg(i, 6, 10, QLatin1Char('0'));
        ASSERT_TRUE(QFile::remove(file));
        if (i <= 3) {
            ASSERT_TRUE(QFile::copy(xa, file));
            ASSERT_TRUE(Tool("dcmodify", {"-nb", "-m", QStringLiteral("(0008,0018)=1.2.826.0.1.3680043.9.7.%1").arg(i),
                                          "-m", QStringLiteral("(0020,0013)=%1").arg(i), file}));
        }
    }
    ASSERT_FALSE(Load(content, observer, folder, kMainPatient).failed());
    // Series count 1 -> 3 inside the first catalogue series, so never exactly 2.
    EXPECT_EQ(observer.handOvers, 0);
    EXPECT_EQ(content.SeriesCount(), 10);
    const auto images = content.Images();
    EXPECT_EQ(images->Item(1)->SeriesUID(), "1.2.826.0.1.3680043.9.7.1");
    EXPECT_EQ(images->Item(21)->SeriesUID(), "1.2.826.0.1.3680043.9.7.2");
    EXPECT_EQ(images->Item(41)->SeriesUID(), "1.2.826.0.1.3680043.9.7.3");
    EXPECT_TRUE(TopLeftOf(content, 1).contains("Im: 1/20")) << TopLeftOf(content, 1).toStdString();
}

TEST_F(VisitLoad, LowerCaseCopyDotDcmAndUnreadableEchoTime)
{
    // Folders and files in lower case, the catalogue itself as named.
    const QString folder = DemoCopy([](const QString &name) {
        return name == "DICOMDIR" ? name : name.toLower();
    });
    const QString mr = folder + "/dicom/st000001/se000003/";
    ASSERT_TRUE(QFile::rename(folder + "/dicom/st000001/se000002/im000001",
                              folder + "/dicom/st000001/se000002/im000001.dcm"));
    ASSERT_TRUE(Tool("dcmodify", {"-nb", "-ea", "(0018,0081)", mr + "im000001", mr + "im000002"}));
    const LoadOutcome outcome = Load(content, observer, folder, kMainPatient);
    ASSERT_FALSE(outcome.failed()) << outcome.errorText.toStdString();
    EXPECT_EQ(content.Images()->Count(), 64);
    // Instances 1 and 2 have no echo time: one group, named after the first.
    const auto images = content.Images();
    EXPECT_EQ(images->Item(26)->SeriesUID(), images->Item(26)->InstanceUID());
    EXPECT_EQ(images->Item(27)->SeriesUID(), images->Item(26)->InstanceUID());
    EXPECT_TRUE(TopLeftOf(content, 26).contains("Im: 1/2"));
    EXPECT_NE(images->Item(28)->SeriesUID(), images->Item(26)->SeriesUID());
}

TEST_F(VisitLoad, UnreadableFileEndsTheLoadAndKeepsWhatWasRead)
{
    const QString folder = DemoCopy();
    const QString broken = folder + "/DICOM/ST000001/SE000002/IM000003";
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("not a DICOM file at all");
    file.close();
    const LoadOutcome outcome = Load(content, observer, folder, kMainPatient);
    EXPECT_TRUE(outcome.failed());
    EXPECT_EQ(outcome.errorFile, broken);
    EXPECT_EQ(content.Images()->Count(), 22); // series 1, and series 2 up to the broken file
    EXPECT_TRUE(TopLeftOf(content, 22).contains("Im: 2/2"));
    EXPECT_EQ(observer.handOvers, 0); // the end of the thread shows what there is
}

TEST_F(VisitLoad, ReferenceLeavingTheFolderIsSkipped)
{
    const QString folder = DemoCopy();
    // The first image record now reads ..\ESCAPE00001\SE000001\IM000001, and that
    // file exists next to the visit folder.
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR", "DICOM\\ST000001", "..\\ESCAPE00001"));
    QDir().mkpath(dir.filePath("ESCAPE00001/SE000001"));
    ASSERT_TRUE(QFile::copy(folder + "/DICOM/ST000001/SE000001/IM000001", dir.filePath("ESCAPE00001/SE000001/IM000001")));
    ASSERT_FALSE(Load(content, observer, folder, kMainPatient).failed());
    EXPECT_EQ(content.Images()->Count(), 63);
    EXPECT_TRUE(TopLeftOf(content, 1).contains("Im: 2/19"));
}

TEST_F(VisitLoad, StopBetweenImageRecordsLeavesTheVisitAlone)
{
    observer.stop = [this]() { return observer.imagesRead >= 5; };
    const LoadOutcome outcome = Load(content, observer, TestVisit("demo"), kMainPatient);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(observer.imagesRead, 5);
    EXPECT_EQ(content.Images()->Count(), 0); // an unfinished series never shows
    EXPECT_EQ(observer.handOvers, 0);
}

TEST_F(VisitLoad, StudyUidSelectsWithoutPatient)
{
    ASSERT_FALSE(Load(content, observer, TestVisit("demo"), QString(), "DICOMDIR", "2.25.100000052").failed());
    EXPECT_EQ(content.Images()->Count(), 4);
    EXPECT_EQ(content.SeriesCount(), 1);

    VisitContent none;
    RecordingObserver quiet;
    ASSERT_FALSE(Load(none, quiet, TestVisit("demo"), QString(), "DICOMDIR", "9.9.9").failed());
    EXPECT_EQ(none.SeriesCount(), 0);
}

TEST_F(VisitLoad, CatalogueThatCannotBeReadEndsAtOnce)
{
    const LoadOutcome outcome = Load(content, observer, dir.path(), kMainPatient, "DICOMDIR");
    EXPECT_TRUE(outcome.failed());
    EXPECT_EQ(content.SeriesCount(), 0);
    const LoadOutcome outside = Load(content, observer, TestVisit("demo"), kMainPatient, "../demo/DICOMDIR");
    EXPECT_TRUE(outside.failed());
}

TEST_F(VisitLoad, PydicomDicomdirTrees)
{
    const QString folder = dir.filePath("pydicom");
    ASSERT_TRUE(CopyTree(QStringLiteral(KORVANE_PYDICOM_FILES "/dicomdirtests"), folder));
    {
        const LoadOutcome outcome = Load(content, observer, folder, "77654033");
        ASSERT_FALSE(outcome.failed()) << outcome.errorFile.toStdString() << ": " << outcome.errorText.toStdString();
        EXPECT_EQ(content.SeriesCount(), 4);
        EXPECT_EQ(content.Images()->Count(), 7);
        EXPECT_EQ(CountSeries(*content.Images(), false), 4);
        // Instance numbers 18, 180, 181, 182 in that order.
        EXPECT_TRUE(TopLeftOf(content, 4).contains("Im: 18/4")) << TopLeftOf(content, 4).toStdString();
        EXPECT_TRUE(TopLeftOf(content, 7).contains("Im: 182/4"));
    }
    {
        VisitContent second;
        RecordingObserver secondObserver;
        const LoadOutcome outcome = Load(second, secondObserver, folder, "98890234");
        ASSERT_FALSE(outcome.failed()) << outcome.errorFile.toStdString() << ": " << outcome.errorText.toStdString();
        EXPECT_EQ(second.SeriesCount(), 9);
        EXPECT_EQ(second.Images()->Count(), 24);
        EXPECT_EQ(CountSeries(*second.Images(), false), 9);
        EXPECT_EQ(CountSeries(*second.Images(), true), 4);
        EXPECT_EQ(secondObserver.handOvers, 1);
    }
}
