// Hostile files met while opening a visit: an image nested deeper than DCMTK's
// recursion survives, in the middle of a series, and catalogues that are nested so deep
// or cut short. The load stops on them with a French message naming the file, the
// images read before stay, and DCMTK's own (English) reason reaches the day log only.
#include "loadingtesting.h"
#include "imaging/tests/hostilefiles.h"
#include "viewer/loading/formouvrirvisite.h"

#include <gtest/gtest.h>

using namespace loading;
using namespace loadingtest;

namespace {

const QString kMainPatient = QStringLiteral("KV000123");

void Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString DayLogs(const QString &folder)
{
    QString text;
    for (const QFileInfo &log : QDir(folder).entryInfoList(QDir::Files)) {
        QFile file(log.filePath());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromLatin1(file.readAll()); // the log is 8-bit (Windows-1252)
    }
    return text;
}

} // namespace

TEST(HostileFiles, DeeplyNestedImageEndsTheLoadAndKeepsWhatWasRead)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("visit");
    ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
    const QString deep = folder + "/DICOM/ST000001/SE000002/IM000003";
    Write(deep, hostilefiles::DeepImage(hostilefiles::kDeep));
    VisitContent content;
    RecordingObserver observer;
    const LoadOutcome outcome = Load(content, observer, folder, kMainPatient);
    EXPECT_TRUE(outcome.failed());
    EXPECT_EQ(outcome.errorFile, deep);
    EXPECT_TRUE(outcome.errorText.contains(deep)) << outcome.errorText.toStdString();
    EXPECT_TRUE(outcome.errorText.contains("imbriquées")) << outcome.errorText.toStdString();
    EXPECT_EQ(content.Images()->Count(), 22); // series 1, and series 2 up to the deep file
}

TEST(HostileFiles, CataloguesThatCannotBeReadEndTheLoadAtOnce)
{
    QTemporaryDir dir;
    Write(dir.filePath("DICOMDIR"), hostilefiles::DeepCatalogue(hostilefiles::kDeep));
    VisitContent content;
    RecordingObserver observer;
    LoadOutcome outcome = Load(content, observer, dir.path(), kMainPatient);
    EXPECT_TRUE(outcome.failed());
    EXPECT_EQ(outcome.errorFile, dir.filePath("DICOMDIR"));
    EXPECT_TRUE(outcome.errorText.contains("imbriquées")) << outcome.errorText.toStdString();
    EXPECT_EQ(content.SeriesCount(), 0);

    // Cut short: the reason the loader logs ends with DCMTK's own words.
    QFile whole(TestVisit("demo") + "/DICOMDIR");
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    Write(dir.filePath("DICOMDIR"), whole.read(4000));
    outcome = Load(content, observer, dir.path(), kMainPatient);
    EXPECT_TRUE(outcome.errorText.startsWith("Impossible de lire le catalogue DICOM")) << outcome.errorText.toStdString();
    EXPECT_TRUE(outcome.errorText.endsWith(" [Invalid stream]")) << outcome.errorText.toStdString();
}

TEST(HostileFiles, OpenVisitDialogShowsCatalogueErrorsInFrenchAndLogsDcmtksReason)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("visit");
    ASSERT_TRUE(CopyTree(TestVisit("demo"), folder));
    const QString catalogue = folder + "/DICOMDIR";
    const QByteArray whole = [&] {
        QFile file(catalogue);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_GT(whole.size(), 4000);
    DataModule module(folder);
    platform::QtSettingsScope(module.settings.filePath("machine.conf")).Write(QString(), {{"Debug", 1}});

    // Nested past the limit: refused before DCMTK parses it (it would crash).
    Write(catalogue, hostilefiles::DeepCatalogue(hostilefiles::kDeep));
    {
        TFormOuvrirVisite dialog;
        EXPECT_FALSE(dialog.ShowList());
    }
    ASSERT_EQ(module.messages.size(), 1u);
    EXPECT_EQ(module.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_TRUE(module.messages[0].text.startsWith("Impossible de lire le catalogue DICOM")) << module.messages[0].text.toStdString();
    EXPECT_TRUE(module.messages[0].text.contains(catalogue));
    EXPECT_TRUE(module.messages[0].text.contains("imbriquées sur plus de 256 niveaux"));

    // Cut short: DCMTK gives up in English; the user reads French, the log keeps both.
    Write(catalogue, whole.left(4000));
    {
        TFormOuvrirVisite dialog;
        EXPECT_FALSE(dialog.ShowList());
    }
    ASSERT_EQ(module.messages.size(), 2u);
    const QString shown = module.messages[1].text;
    EXPECT_TRUE(shown.contains(catalogue)) << shown.toStdString();
    EXPECT_TRUE(shown.contains("tronqué")) << shown.toStdString();
    EXPECT_FALSE(shown.contains("stream", Qt::CaseInsensitive)) << shown.toStdString();
    const QString logged = DayLogs(module.settings.filePath("log"));
    EXPECT_TRUE(logged.contains("TFORMOUVRIRVISITE.FORMSHOW Error " + shown + " [Invalid stream]"))
        << logged.toStdString();
}
