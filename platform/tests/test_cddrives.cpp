// The Linux CD device layer on this machine's files: finding the drives in a
// device folder and its sysfs tree, and opening what is not a CD drive (a
// missing node, a regular file, /dev/null, a node the user may not read)
// without a crash and with an error text.

#include "platform/cddrives.h"
#include "platform/cdtraylock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using platform::CdTrayLock;
using platform::LinuxCdDeviceSystem;

namespace {

void Touch(const QString &path, const QByteArray &content = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void Link(const QString &target, const QString &link)
{
    QDir().mkpath(QFileInfo(link).absolutePath());
    ASSERT_TRUE(QFile::link(target, link)) << link.toStdString();
}

} // namespace

TEST(LinuxCdDevices, CandidatesAreSrNodesAndCdTypeSgNodesEachDriveOnce)
{
    QTemporaryDir dir;
    const QString dev = dir.filePath("dev"), sys = dir.filePath("sys");
    for (const char *name : {"sr0", "sg0", "sg1", "sg2", "sg3", "sda"})
        Touch(dev + "/" + name);
    // sr0 and sg1 are the same drive; sg0 a disk; sg2 a CD drive without sr; sg3 unknown.
    for (const char *address : {"0:0:0:0", "1:0:0:0", "2:0:1:0"})
        QDir().mkpath(sys + "/devices/" + address);
    Touch(sys + "/devices/0:0:0:0/type", "0\n");
    Touch(sys + "/devices/1:0:0:0/type", "5\n");
    Touch(sys + "/devices/2:0:1:0/type", "5\n");
    Link(sys + "/devices/1:0:0:0", sys + "/block/sr0/device");
    Link(sys + "/devices/0:0:0:0", sys + "/class/scsi_generic/sg0/device");
    Link(sys + "/devices/1:0:0:0", sys + "/class/scsi_generic/sg1/device");
    Link(sys + "/devices/2:0:1:0", sys + "/class/scsi_generic/sg2/device");

    const auto candidates = LinuxCdDeviceSystem(dev, sys).Candidates();
    ASSERT_EQ(candidates.size(), 3);
    EXPECT_EQ(candidates[0].Path, dev + "/sr0");
    EXPECT_TRUE(candidates[0].CdDriver);
    EXPECT_EQ(candidates[0].Address, "1:0:0:0");
    EXPECT_EQ(candidates[1].Path, dev + "/sg2");
    EXPECT_FALSE(candidates[1].CdDriver);
    EXPECT_EQ(candidates[1].Address, "2:0:1:0");
    EXPECT_EQ(candidates[2].Path, dev + "/sg3");
    EXPECT_TRUE(candidates[2].Address.isEmpty());

    EXPECT_TRUE(LinuxCdDeviceSystem(dir.filePath("none"), sys).Candidates().isEmpty());
}

TEST(LinuxCdDevices, AFolderOnAnOrdinaryFileSystemIsNotOnACd)
{
    QTemporaryDir dir;
    EXPECT_FALSE(platform::FolderIsOnCdRom(dir.path()));
    EXPECT_FALSE(platform::FolderIsOnCdRom(dir.filePath("missing/folder")));
}

TEST(LinuxCdDevices, WhatIsNotACdDriveIsRefusedWithAReason)
{
    QString error;
    EXPECT_EQ(LinuxCdDeviceSystem::OpenDevice("/dev/sr-missing-korvane", &error), nullptr);
    EXPECT_FALSE(error.isEmpty());

    QTemporaryDir dir;
    Touch(dir.filePath("plain"), "not a drive");
    error.clear();
    EXPECT_EQ(LinuxCdDeviceSystem::OpenDevice(dir.filePath("plain"), &error), nullptr);
    EXPECT_EQ(error, QString::fromUtf8("pas un périphérique"));

    // /dev/null opens but does not take SCSI commands.
    auto null = LinuxCdDeviceSystem::OpenDevice("/dev/null", &error);
    ASSERT_NE(null, nullptr) << error.toStdString();
    QByteArray answer;
    error.clear();
    EXPECT_FALSE(null->Send(CdTrayLock::InquiryCommand(), 36, 10000, &answer, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(null->Send(CdTrayLock::RemovalCommand(true), 0, 10000, nullptr, &error));
    EXPECT_FALSE(null->Send(QByteArray(), 0, 10000, nullptr, &error));
}

TEST(LinuxCdDevices, TheTrayLockOverNodesThatAreNotDrivesLocksNothingAndLogsEach)
{
    QTemporaryDir dir;
    const QString dev = dir.filePath("dev");
    Touch(dev + "/sr0");                  // a regular file
    Link("/dev/null", dev + "/sr1");      // a character device that is no drive
    Link(dir.filePath("gone"), dev + "/sr2"); // a dangling node
    QStringList log;
    {
        CdTrayLock lock(std::make_shared<LinuxCdDeviceSystem>(dev, dir.filePath("sys")),
                        [&log](const QString &line) { log << line; });
        EXPECT_EQ(lock.Lock(), 0);
        lock.Unlock();
    }
    ASSERT_EQ(log.size(), 3) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].contains("sr0") && log[0].contains("refusé"));
    EXPECT_TRUE(log[1].contains("sr1") && log[1].contains("refusé"));
    EXPECT_TRUE(log[2].contains("sr2") && log[2].contains("refusé"));
}

// A node the user may not open. Root opens everything, so as root the test runs
// itself again as the unprivileged user "nobody".
TEST(LinuxCdDevices, ANodeWithoutAccessRightsIsRefused)
{
    if (::geteuid() == 0) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("XDG_RUNTIME_DIR");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                QCoreApplication::applicationFilePath(),
                                "--gtest_filter=LinuxCdDevices.ANodeWithoutAccessRightsIsRefused"});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        return;
    }
    QTemporaryDir dir;
    const QString dev = dir.filePath("dev");
    Touch(dev + "/sr0");
    ASSERT_TRUE(QFile::setPermissions(dev + "/sr0", QFileDevice::Permissions()));
    QString error;
    EXPECT_EQ(LinuxCdDeviceSystem::OpenDevice(dev + "/sr0", &error), nullptr);
    EXPECT_EQ(error, QString::fromLocal8Bit(strerror(EACCES)));

    QStringList log;
    CdTrayLock lock(std::make_shared<LinuxCdDeviceSystem>(dev, dir.filePath("sys")),
                    [&log](const QString &line) { log << line; });
    EXPECT_EQ(lock.Lock(), 0);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains(QString::fromLocal8Bit(strerror(EACCES)))) << log[0].toStdString();
}
