#include "viewer/shell/componentfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Each test loads the probe library under its own marker and watches for the
// planted library's marker, which must never appear.
class ComponentFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        probe = ReadAll(KORVANE_PROBE_MODULE);
        planted = ReadAll(KORVANE_PLANTED_MODULE);
        ASSERT_FALSE(probe.isEmpty());
        ASSERT_FALSE(planted.isEmpty());
        ASSERT_NE(probe, planted);
        path = dir.filePath("KORVANECD.OCX");
        probeMarker = dir.filePath("probe-loaded");
        plantedMarker = dir.filePath("planted-loaded");
        qputenv("KORVANE_PROBE_MARKER", probeMarker.toLocal8Bit());
        qputenv("KORVANE_PLANTED_MARKER", plantedMarker.toLocal8Bit());
    }
    void TearDown() override
    {
        EXPECT_FALSE(QFile::exists(plantedMarker)) << "the planted file was loaded";
    }

    QTemporaryDir dir;
    QByteArray probe, planted;
    QString path, probeMarker, plantedMarker;
};

} // namespace

TEST_F(ComponentFile, AFreshFileIsWrittenPrivateLoadedAndDeletedAtTheEnd)
{
    {
        TComponentFile file(path);
        ASSERT_TRUE(file.Extract(probe)) << file.ErrorText().toStdString();
        EXPECT_FALSE(file.ReusedExistingFile());
        EXPECT_EQ(ReadAll(path), probe);
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & (S_IWGRP | S_IWOTH), 0u);
        ASSERT_TRUE(file.Load()) << file.ErrorText().toStdString();
        EXPECT_NE(file.Handle(), nullptr);
        EXPECT_TRUE(QFile::exists(probeMarker));
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"probe-loaded"}));
}

TEST_F(ComponentFile, AForeignFileIsReplacedNeverLoaded)
{
    WriteFile(path, planted);
    TComponentFile file(path);
    ASSERT_TRUE(file.Extract(probe));
    EXPECT_FALSE(file.ReusedExistingFile());
    ASSERT_TRUE(file.Load()) << file.ErrorText().toStdString();
    EXPECT_EQ(ReadAll(path), probe);
    EXPECT_TRUE(QFile::exists(probeMarker));
}

TEST_F(ComponentFile, TheRightBytesAreReusedOnlyWhenNobodyElseCanWriteThem)
{
    WriteFile(path, probe);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
    {
        TComponentFile file(path);
        ASSERT_TRUE(file.Extract(probe));
        EXPECT_TRUE(file.ReusedExistingFile());
        ASSERT_TRUE(file.Load());
    }
    WriteFile(path, probe);
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    TComponentFile file(path);
    ASSERT_TRUE(file.Extract(probe));
    EXPECT_FALSE(file.ReusedExistingFile());
}

TEST_F(ComponentFile, ALinkAtThePathIsNotFollowed)
{
    const QString target = dir.filePath("elsewhere.so");
    WriteFile(target, planted);
    ASSERT_TRUE(QFile::link(target, path));
    TComponentFile file(path);
    ASSERT_TRUE(file.Extract(probe));
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(ReadAll(target), planted) << "the link's target is left alone";
    EXPECT_FALSE(QFileInfo(path).isSymLink());
}

TEST_F(ComponentFile, AFifoAtThePathIsReplacedWithoutWaitingForAWriter)
{
    // Opening a FIFO for reading waits until someone writes to it: no start-up may hang
    // on one planted at the path.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    TComponentFile file(path);
    auto extracted = std::async(std::launch::async, [&] { return file.Extract(probe); });
    if (extracted.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "Extract is waiting on the FIFO";
        // Give it a writer so that the thread ends.
        const int writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        extracted.wait();
        if (writer >= 0)
            ::close(writer);
        return;
    }
    ASSERT_TRUE(extracted.get()) << file.ErrorText().toStdString();
    EXPECT_FALSE(file.ReusedExistingFile());
    EXPECT_TRUE(QFileInfo(path).isFile());
    EXPECT_EQ(ReadAll(path), probe);
    ASSERT_TRUE(file.Load()) << file.ErrorText().toStdString();
    EXPECT_TRUE(QFile::exists(probeMarker));
}

TEST_F(ComponentFile, AFileSwappedInAfterTheCheckIsNotTheOneLoaded)
{
    TComponentFile file(path);
    ASSERT_TRUE(file.Extract(probe));
    // Someone replaces the file between the check and the load.
    const QString swapped = dir.filePath("swap");
    WriteFile(swapped, planted);
    ASSERT_EQ(::rename(QFile::encodeName(swapped).constData(), QFile::encodeName(path).constData()), 0);
    ASSERT_TRUE(file.Load()) << file.ErrorText().toStdString();
    EXPECT_TRUE(QFile::exists(probeMarker));
    file.Unload();
    // The file at the path is not ours any more: it is not deleted.
    EXPECT_EQ(ReadAll(path), planted);
}

TEST_F(ComponentFile, APathThatCannotBeReplacedLoadsNothing)
{
    // A folder holding a file stands where the component should go: it can be
    // neither used nor replaced, whoever runs the test.
    ASSERT_TRUE(QDir().mkpath(path + "/inside"));
    TComponentFile file(path);
    EXPECT_FALSE(file.Extract(probe));
    EXPECT_FALSE(file.ErrorText().isEmpty());
    EXPECT_FALSE(file.Load());
    EXPECT_EQ(file.Handle(), nullptr);
    EXPECT_FALSE(QFile::exists(probeMarker));
    file.Unload();
    EXPECT_TRUE(QFileInfo(path).isDir());
    // No half-written file is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

TEST_F(ComponentFile, NoBytesNoFile)
{
    TComponentFile file(path);
    EXPECT_FALSE(file.Extract(QByteArray()));
    EXPECT_FALSE(QFile::exists(path));
}

// The component's folder in a shared temporary folder: the user's own, never entered
// by anybody else, whatever the temporary folder already holds.
TEST(ComponentPrivateFolder, MadePrivateAndNeverOneThatIsNotTheUsers)
{
    QTemporaryDir dir;
    const QString shared = dir.filePath("tmp");
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString usual = TComponentFile::PrivateFolderName(shared);
    EXPECT_EQ(usual, shared + "/KorvaneCD-" + QString::number(::geteuid()));
    auto mode = [](const QString &path) {
        struct stat info {};
        return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
    };

    // Made with mode 0700; found again as it is; narrowed when it was left wider.
    EXPECT_EQ(TComponentFile::PrivateFolder(shared), usual);
    EXPECT_EQ(mode(usual), 0700);
    EXPECT_EQ(TComponentFile::PrivateFolder(shared), usual);
    ASSERT_EQ(::chmod(QFile::encodeName(usual).constData(), 0777), 0);
    EXPECT_EQ(TComponentFile::PrivateFolder(shared), usual);
    EXPECT_EQ(mode(usual), 0700);
    ASSERT_TRUE(QDir(usual).removeRecursively());

    // The usual name taken by a file, by a link to a folder anyone may enter, or by
    // another account's folder: a new folder of the user's own is made beside it.
    auto expectUnique = [&](const char *what) {
        QString error;
        const QString folder = TComponentFile::PrivateFolder(shared, &error);
        EXPECT_TRUE(folder.startsWith(usual + ".")) << what << ": " << folder.toStdString() << error.toStdString();
        EXPECT_EQ(mode(folder), 0700) << what;
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(folder).constData(), &info), 0);
        EXPECT_EQ(info.st_uid, ::geteuid()) << what;
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << what;
        QDir().rmdir(folder);
    };
    WriteFile(usual, "stale");
    expectUnique("a file");
    ASSERT_TRUE(QFile::remove(usual));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("open")));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("open")).constData(), 0777), 0);
    ASSERT_TRUE(QFile::link(dir.filePath("open"), usual));
    expectUnique("a link");
    EXPECT_EQ(mode(dir.filePath("open")), 0777) << "the link's target is left as it was";
    ASSERT_TRUE(QFile::remove(usual));
    if (::geteuid() == 0) {
        ASSERT_TRUE(QDir().mkpath(usual));
        ASSERT_EQ(::chown(QFile::encodeName(usual).constData(), 65534, 65534), 0);
        expectUnique("another account's folder");
    }

    // No folder can be made at all (the temporary folder is a file): empty, with a reason.
    QString error;
    WriteFile(dir.filePath("notafolder"), "x");
    EXPECT_TRUE(TComponentFile::PrivateFolder(dir.filePath("notafolder"), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}
