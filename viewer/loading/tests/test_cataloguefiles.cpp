// Catalogue names and the lookup of referenced files: case, ".dcm", and paths that
// would leave the program folder.
#include "viewer/loading/cataloguefiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using loading::DicomDirNames;
using loading::FolderLookup;

namespace {

void Touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

} // namespace

TEST(CatalogueFiles, CatalogueNamesWhateverTheirCase)
{
    QTemporaryDir dir;
    for (const char *name : {"DICOMDIR", "dicomdir.b", "DICOMDIR.002", "DICOMDIRX", "READ.ME"})
        Touch(dir.filePath(name));
    QDir().mkpath(dir.filePath("DICOMDIR.D")); // a folder is no catalogue
    QStringList names = DicomDirNames(dir.path());
    names.sort();
    EXPECT_EQ(names, (QStringList{"DICOMDIR", "DICOMDIR.002", "dicomdir.b"}));
}

TEST(CatalogueFiles, ReferencedFileFoundAsWrittenOrWithoutCaseOrWithDcm)
{
    QTemporaryDir dir;
    Touch(dir.filePath("dicom/st000001/se000001/im000001"));
    Touch(dir.filePath("DICOM2/IM000002.dcm"));
    Touch(dir.filePath("DICOM2/IM000003"));
    FolderLookup lookup(dir.path());
    EXPECT_EQ(lookup.ReferencedFile({"DICOM", "ST000001", "SE000001", "IM000001"}),
              dir.filePath("dicom/st000001/se000001/im000001"));
    EXPECT_EQ(lookup.ReferencedFile({"DICOM2", "IM000002"}), dir.filePath("DICOM2/IM000002.dcm"));
    EXPECT_EQ(lookup.ReferencedFile({"dicom2", "im000003"}), dir.filePath("DICOM2/IM000003"));
    // Blank values are left out; none at all names the folder itself, which is no file.
    EXPECT_EQ(lookup.ReferencedFile({"DICOM2", "", "IM000003"}), dir.filePath("DICOM2/IM000003"));
    EXPECT_EQ(lookup.ReferencedFile({}), QString());
    EXPECT_EQ(lookup.ReferencedFile({"DICOM2"}), QString());
    EXPECT_EQ(lookup.ReferencedFile({"DICOM2", "IM000009"}), QString());
}

TEST(CatalogueFiles, PathsLeavingTheFolderAreNeverOpened)
{
    QTemporaryDir dir;
    Touch(dir.filePath("outside/SECRET"));
    Touch(dir.filePath("visit/DICOM/IM000001"));
    const QString root = dir.filePath("visit");
    FolderLookup lookup(root);
    bool unsafe = false;
    EXPECT_EQ(lookup.ReferencedFile({"..", "outside", "SECRET"}, &unsafe), QString());
    EXPECT_TRUE(unsafe);
    EXPECT_EQ(lookup.ReferencedFile({"DICOM", "..", "..", "outside", "SECRET"}, &unsafe), QString());
    EXPECT_TRUE(unsafe);
    EXPECT_EQ(lookup.ReferencedFile({dir.filePath("outside/SECRET")}, &unsafe), QString());
    EXPECT_TRUE(unsafe);
    EXPECT_EQ(lookup.ReferencedFile({"C:", "WINDOWS"}, &unsafe), QString());
    EXPECT_TRUE(unsafe);
    // A link inside the folder that points outside it.
    ASSERT_TRUE(QFile::link(dir.filePath("outside"), dir.filePath("visit/LINK")));
    EXPECT_EQ(lookup.ReferencedFile({"LINK", "SECRET"}, &unsafe), QString());
    EXPECT_TRUE(unsafe);
    EXPECT_EQ(lookup.ReferencedFile({"DICOM", "IM000001"}, &unsafe), dir.filePath("visit/DICOM/IM000001"));
    EXPECT_FALSE(unsafe);
}
