// Deleting one visit file by file, on real catalogues: the demo CD layout (two patients,
// three studies, one shared "DICOM" folder), kept visits as the transfer client leaves
// them, files named by two studies, and the cases where nothing may be deleted.
#include "loadingtesting.h"
#include "viewer/loading/visitdeletion.h"
#include "viewer/loading/visitlisting.h"

#include <gtest/gtest.h>

using namespace loading;
using namespace loadingtest;

namespace {

const QString kMainStudy = QStringLiteral("2.25.100000001");    // KV000123, DICOM/ST000001, 41 files
const QString kEarlierStudy = QStringLiteral("2.25.100000052"); // KV000123, DICOM/ST000002, 4 files
const QString kGerardStudy = QStringLiteral("2.25.100000059");  // KV000456, DICOM/ST000003, 3 files

QStringList StudiesListed(const VisitListing &listing)
{
    QStringList uids;
    for (const VisitRow &row : listing.rows)
        uids << row[colDicomDir] + "|" + row[colEtudeUid];
    uids.sort();
    return uids;
}

class VisitDeletion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = dir.filePath("Visite");
        ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
        module = std::make_unique<DataModule>(folder);
    }

    // The row of a study in a fresh listing, as the dialog would pass it on.
    VisitToDelete Row(const QString &studyUid, const QString &catalogue = QStringLiteral("DICOMDIR"))
    {
        const VisitListing listing = ReadVisitListing(folder);
        for (const VisitRow &row : listing.rows) {
            if (row[colEtudeUid] == studyUid && row[colDicomDir] == catalogue)
                return {catalogue, row.patientIndex, row.studyIndex, row[colDossier], studyUid};
        }
        ADD_FAILURE() << "no row for " << studyUid.toStdString() << " in " << catalogue.toStdString();
        return {};
    }

    VisitDeletionResult Delete(const VisitToDelete &visit, VisitDeletionPlan *planOut = nullptr)
    {
        const VisitDeletionPlan plan = PlanVisitDeletion(folder, visit);
        EXPECT_EQ(plan.refusal, VisitDeletionPlan::None) << plan.errorText.toStdString();
        if (planOut)
            *planOut = plan;
        return ExecuteVisitDeletion(folder, plan);
    }

    int Loaded(const QString &patientId, const QString &catalogue = QStringLiteral("DICOMDIR"))
    {
        VisitContent content;
        RecordingObserver observer;
        const LoadOutcome outcome = Load(content, observer, folder, patientId, catalogue);
        EXPECT_FALSE(outcome.failed()) << outcome.errorText.toStdString();
        return content.Images()->Count();
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<DataModule> module;
};

} // namespace

TEST_F(VisitDeletion, DemoFolderLosesOneStudyAtATimeAndTheCatalogueWithTheLast)
{
    // The second patient's study: its three files and its study folder go; the folder
    // "DICOM" and the first patient's two studies stay, and so does the catalogue.
    VisitDeletionPlan plan;
    VisitDeletionResult result = Delete(Row(kGerardStudy), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(plan.files.size(), 3);
    EXPECT_TRUE(plan.cataloguePath.isEmpty());
    EXPECT_FALSE(result.catalogueDeleted);
    EXPECT_FALSE(QDir(folder + "/DICOM/ST000003").exists());
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000001"), 41);
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000002"), 4);
    EXPECT_TRUE(QFile::exists(folder + "/DICOMDIR"));
    // Its records stay in the catalogue but are no visit any more; the others open.
    VisitListing listing = ReadVisitListing(folder);
    EXPECT_EQ(StudiesListed(listing), (QStringList{"DICOMDIR|" + kMainStudy, "DICOMDIR|" + kEarlierStudy}));
    EXPECT_TRUE(listing.deletedCatalogues.isEmpty());
    EXPECT_EQ(Loaded("KV000123"), 64);

    // The first patient's earlier study, then the main one: the last takes the
    // catalogue and the emptied "DICOM" folder; the reports file was never named.
    result = Delete(Row(kEarlierStudy));
    EXPECT_TRUE(result.ok());
    EXPECT_FALSE(QDir(folder + "/DICOM/ST000002").exists());
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000001"), 41);
    EXPECT_EQ(Loaded("KV000123"), 60);
    result = Delete(Row(kMainStudy), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(plan.files.size(), 41);
    EXPECT_TRUE(result.catalogueDeleted);
    EXPECT_FALSE(QFile::exists(folder + "/DICOMDIR"));
    EXPECT_FALSE(QDir(folder + "/DICOM").exists());
    EXPECT_TRUE(QFile::exists(folder + "/CT20261109001.RAP"));
    EXPECT_TRUE(QDir(folder).exists());
}

TEST_F(VisitDeletion, KeptVisitsSideBySideInOneFolder)
{
    ASSERT_TRUE(QDir(folder + "/DICOM/ST000002").removeRecursively());
    ASSERT_TRUE(KeepVisits(folder, {{"CT20261109001", "DICOM/ST000001"}, {"CR20261108017", "DICOM/ST000003"}}));
    VisitDeletionPlan plan;
    const VisitDeletionResult result = Delete(Row(kMainStudy, "DICOMDIR.CT20261109001"), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.deletedFiles.size(), 41);
    EXPECT_TRUE(result.catalogueDeleted);
    EXPECT_FALSE(QFile::exists(folder + "/DICOMDIR.CT20261109001"));
    EXPECT_FALSE(QDir(folder + "/DICOM/ST000001").exists());
    // The other visit, its folder and the unpacking's markers are untouched.
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000003"), 3);
    EXPECT_TRUE(QFile::exists(folder + "/ftp.ok"));
    EXPECT_TRUE(QFile::exists(folder + "/FichierZipCR20261108017.ok"));
    EXPECT_EQ(StudiesListed(ReadVisitListing(folder)), (QStringList{"DICOMDIR.CR20261108017|" + kGerardStudy}));
    EXPECT_EQ(Loaded("KV000456", "DICOMDIR.CR20261108017"), 3);
}

TEST_F(VisitDeletion, FilesThatAnotherRecordNamesAreKept)
{
    // The same study received twice: both kept catalogues name the same files.
    ASSERT_TRUE(KeepVisits(folder, {{"A", "DICOM/ST000003"}, {"B", "DICOM/ST000003"}}));
    VisitDeletionPlan plan;
    VisitDeletionResult result = Delete(Row(kGerardStudy, "DICOMDIR.A"), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(plan.files.isEmpty());
    EXPECT_EQ(plan.sharedKept.size(), 3);
    EXPECT_TRUE(result.catalogueDeleted);
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000003"), 3);
    EXPECT_EQ(Loaded("KV000456", "DICOMDIR.B"), 3);

    // Two studies of one catalogue naming one file: each keeps it for the other.
    ASSERT_TRUE(QFile::remove(folder + "/DICOMDIR.B"));
    ASSERT_TRUE(QFile::copy(TestVisit("demo") + "/DICOMDIR", folder + "/DICOMDIR"));
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR", "DICOM\\ST000003\\SE000001\\IM000001",
                           "DICOM\\ST000002\\SE000001\\IM000001"));
    result = Delete(Row(kEarlierStudy), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(plan.files.size(), 3);
    EXPECT_EQ(plan.sharedKept, (QStringList{QFileInfo(folder + "/DICOM/ST000002/SE000001/IM000001").canonicalFilePath()}));
    EXPECT_TRUE(QFile::exists(folder + "/DICOM/ST000002/SE000001/IM000001"));
    EXPECT_EQ(FilesUnder(folder + "/DICOM/ST000002"), 1);
    // The second patient's study still reads its two own files and the shared one.
    EXPECT_EQ(Loaded("KV000456"), 3);
}

TEST_F(VisitDeletion, NothingIsDeletedWhenWhatBelongsToTheVisitCannotBeProved)
{
    const VisitToDelete gerard = Row(kGerardStudy);
    const int before = FilesUnder(folder);

    // Another catalogue that cannot be read may name any of the files.
    QFile broken(folder + "/DICOMDIR.X");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("garbage");
    broken.close();
    VisitDeletionPlan plan = PlanVisitDeletion(folder, gerard);
    EXPECT_EQ(plan.refusal, VisitDeletionPlan::Unreadable);
    EXPECT_TRUE(plan.errorText.contains("DICOMDIR.X")) << plan.errorText.toStdString();
    EXPECT_TRUE(ExecuteVisitDeletion(folder, plan).deletedFiles.isEmpty());
    ASSERT_TRUE(QFile::remove(folder + "/DICOMDIR.X"));

    // The row no longer matches the catalogue (replaced meanwhile).
    VisitToDelete moved = gerard;
    moved.studyUid = kEarlierStudy;
    EXPECT_EQ(PlanVisitDeletion(folder, moved).refusal, VisitDeletionPlan::Changed);
    moved = gerard;
    moved.catalogue = "DICOMDIR.GONE";
    EXPECT_EQ(PlanVisitDeletion(folder, moved).refusal, VisitDeletionPlan::Changed);

    // A record of the study that names a path outside the folder.
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR", "DICOM\\ST000003\\SE000001\\IM000002",
                           "DICOM\\..\\..\\..\\SE000001\\IM000002"));
    EXPECT_EQ(PlanVisitDeletion(folder, gerard).refusal, VisitDeletionPlan::OutsideFolder);
    EXPECT_EQ(FilesUnder(folder), before);

    // A named file that is not a DICOM file (a program, a settings file) stays.
    ASSERT_TRUE(PatchBytes(folder + "/DICOMDIR", "DICOM\\..\\..\\..\\SE000001\\IM000002",
                           "DICOM\\ST000003\\SE000001\\IM000002"));
    QFile text(folder + "/DICOM/ST000003/SE000001/IM000002");
    ASSERT_TRUE(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
    text.write("not an image");
    text.close();
    const VisitDeletionResult result = Delete(gerard, &plan);
    EXPECT_EQ(plan.otherKept.size(), 1);
    EXPECT_EQ(result.deletedFiles.size(), 2);
    EXPECT_TRUE(QFile::exists(folder + "/DICOM/ST000003/SE000001/IM000002"));
    EXPECT_EQ(FilesUnder(folder), before - 2);
}

TEST_F(VisitDeletion, FilesWithoutPreambleAreDeletedLikeTheOthers)
{
    // The second patient's files as bare data sets (no preamble, no "DICM"): the viewer
    // shows them, so they are the visit's images and go with it.
    QDirIterator it(folder + "/DICOM/ST000003", QDir::Files, QDirIterator::Subdirectories);
    int rewritten = 0;
    while (it.hasNext()) {
        const QString path = it.next();
        ASSERT_TRUE(Tool("dcmconv", {"-F", path, path + ".bare"}));
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(QFile::rename(path + ".bare", path));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_NE(file.read(132).mid(128, 4), QByteArray("DICM"));
        ++rewritten;
    }
    ASSERT_EQ(rewritten, 3);
    EXPECT_EQ(Loaded("KV000456"), 3);
    VisitDeletionPlan plan;
    const VisitDeletionResult result = Delete(Row(kGerardStudy), &plan);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(plan.files.size(), 3);
    EXPECT_TRUE(plan.otherKept.isEmpty());
    EXPECT_EQ(result.deletedFiles.size(), 3);
    EXPECT_FALSE(QDir(folder + "/DICOM/ST000003").exists());
    EXPECT_EQ(FilesUnder(folder + "/DICOM"), 45);
}
