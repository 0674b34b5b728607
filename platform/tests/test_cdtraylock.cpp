// The tray lock on drives held in memory: which drives are found, the exact
// command blocks sent, and what a refusing or unreachable drive leaves.

#include "platform/cdtraylock.h"

#include <gtest/gtest.h>

using platform::CdTrayLock;
using platform::MemoryCdDeviceSystem;

namespace {

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

struct LockFixture
{
    std::shared_ptr<MemoryCdDeviceSystem> system = std::make_shared<MemoryCdDeviceSystem>();
    QStringList log;
    CdTrayLock::LogFunction Logger()
    {
        return [this](const QString &line) { log << line; };
    }
};

} // namespace

TEST(CdTrayLock, LocksEveryCdDriveWithTheExactCommandsAndHoldsItUntilUnlocked)
{
    LockFixture f;
    f.system->Add("/dev/sr0", true, "1:0:0:0").Product = "DVD+-RW GH24";
    f.system->Add("/dev/sr1", true, "1:0:1:0");
    f.system->Add("/dev/sg4", false).PeripheralType = 4; // write-once, no CD driver
    f.system->Add("/dev/sg5", false).PeripheralType = 0; // a disk that slipped through
    CdTrayLock lock(f.system, f.Logger());
    EXPECT_EQ(lock.Lock(), 3);

    const QByteArray inquiry = Bytes({0x12, 0, 0, 0, 36, 0});
    const QByteArray prevent = Bytes({0x1E, 0, 0, 0, 1, 0});
    const QByteArray allow = Bytes({0x1E, 0, 0, 0, 0, 0});
    for (const char *path : {"/dev/sr0", "/dev/sr1", "/dev/sg4"}) {
        const auto &drive = f.system->At(path);
        EXPECT_TRUE(drive.Locked) << path;
        EXPECT_EQ(drive.OpenHandles, 1) << path; // kept open while locked
        ASSERT_EQ(drive.Commands.size(), 2) << path;
        EXPECT_EQ(drive.Commands[0].Bytes, inquiry);
        EXPECT_EQ(drive.Commands[0].DataInLength, 36);
        EXPECT_EQ(drive.Commands[1].Bytes, prevent);
        EXPECT_EQ(drive.Commands[1].DataInLength, 0);
        EXPECT_EQ(drive.Commands[1].TimeoutMs, 10000);
    }
    // The disk answered INQUIRY only and was closed at once.
    const auto &disk = f.system->At("/dev/sg5");
    EXPECT_FALSE(disk.Locked);
    EXPECT_EQ(disk.OpenHandles, 0);
    EXPECT_EQ(disk.Commands.size(), 1);

    ASSERT_EQ(lock.Drives().size(), 3);
    EXPECT_EQ(lock.Drives()[0].Product, "DVD+-RW GH24");
    EXPECT_EQ(lock.Drives()[0].Vendor, "KORVTEST");
    EXPECT_EQ(lock.Drives()[1].Target, 1);
    EXPECT_EQ(f.log.filter("verrouillé").size(), 3) << f.log.join('\n').toStdString();

    // A second Lock while locked sends nothing more.
    EXPECT_EQ(lock.Lock(), 3);
    EXPECT_EQ(f.system->RemovalCommandCount(), 3);

    lock.Unlock();
    for (const char *path : {"/dev/sr0", "/dev/sr1", "/dev/sg4"}) {
        const auto &drive = f.system->At(path);
        EXPECT_FALSE(drive.Locked) << path;
        EXPECT_EQ(drive.OpenHandles, 0) << path;
        ASSERT_EQ(drive.Commands.size(), 3) << path;
        EXPECT_EQ(drive.Commands[2].Bytes, allow);
        EXPECT_EQ(drive.Commands[2].TimeoutMs, 10000);
    }
    EXPECT_EQ(f.log.filter("déverrouillé").size(), 3);
    EXPECT_EQ(lock.LockedCount(), 0);
}

TEST(CdTrayLock, ARefusingDriveStaysAsItWasAndTheOthersAreStillLocked)
{
    LockFixture f;
    f.system->Add("/dev/sr0");
    f.system->Add("/dev/sr1").Refuses = true;
    f.system->Add("/dev/sr2").OpenError = "Permission denied";
    f.system->Add("/dev/sr3").InquiryFails = true; // an sr node is a CD drive all the same
    f.system->Add("/dev/sg7", false).InquiryFails = true;
    {
        CdTrayLock lock(f.system, f.Logger());
        EXPECT_EQ(lock.Lock(), 2);
        EXPECT_TRUE(f.system->At("/dev/sr0").Locked);
        EXPECT_TRUE(f.system->At("/dev/sr3").Locked);
        EXPECT_FALSE(f.system->At("/dev/sr1").Locked);
        EXPECT_EQ(f.system->At("/dev/sr1").OpenHandles, 0);
        EXPECT_TRUE(f.system->At("/dev/sr2").Commands.isEmpty());
        // Without an answer to INQUIRY an sg node is not touched.
        EXPECT_EQ(f.system->At("/dev/sg7").Commands.size(), 1);
        EXPECT_EQ(f.log.filter("/dev/sr1").filter("refusé").size(), 1) << f.log.join('\n').toStdString();
        EXPECT_EQ(f.log.filter("/dev/sr2").filter("Permission denied").size(), 1);
        // The destructor unlocks; nothing more is sent to the refusing drive.
    }
    EXPECT_FALSE(f.system->At("/dev/sr0").Locked);
    EXPECT_FALSE(f.system->At("/dev/sr3").Locked);
    EXPECT_EQ(f.system->At("/dev/sr1").Commands.size(), 2);
    EXPECT_EQ(f.system->At("/dev/sr0").Commands.last().Bytes, Bytes({0x1E, 0, 0, 0, 0, 0}));
}

TEST(CdTrayLock, NoDriveOrNoSystemDoesNothing)
{
    LockFixture f;
    CdTrayLock lock(f.system, f.Logger());
    EXPECT_EQ(lock.Lock(), 0);
    lock.Unlock();
    EXPECT_TRUE(f.log.isEmpty());
    EXPECT_TRUE(lock.Drives().isEmpty());

    CdTrayLock none(nullptr);
    EXPECT_EQ(none.Lock(), 0);
}
