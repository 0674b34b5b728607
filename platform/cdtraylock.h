#pragma once
// Keeps the trays of the machine's CD and DVD drives locked: every drive found
// gets PREVENT ALLOW MEDIUM REMOVAL (prevent) at Lock and (allow) at Unlock.
//
// A locked drive stays open until it is unlocked. On Linux the CD driver allows
// removal again when the last holder closes the device, so a process that ends
// without unlocking (a crash) does not leave a tray locked.

#include "platform/cddrives.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// One CD or DVD drive as found at Lock.
struct CdDrive
{
    QString Path;
    int Host = -1;
    int Channel = -1;
    int Target = -1;
    int Lun = -1;
    QString Vendor;
    QString Product;
    QString Revision;
    bool Locked = false;
};

class CdTrayLock
{
public:
    using LogFunction = std::function<void(const QString &line)>;

    CdTrayLock(std::shared_ptr<CdDeviceSystem> system, LogFunction log = {});
    // Unlocks what is still locked.
    ~CdTrayLock();
    CdTrayLock(const CdTrayLock &) = delete;
    CdTrayLock &operator=(const CdTrayLock &) = delete;

    // Builds the drive list and locks each drive; a drive that refuses stays as
    // it was. Answers how many are locked. Calling it again while locked does nothing.
    int Lock();
    // Allows removal on every drive this object locked, then closes them.
    void Unlock();

    const QList<CdDrive> &Drives() const { return drives_; }
    int LockedCount() const;

    // The 6-byte PREVENT ALLOW MEDIUM REMOVAL command (0x1E), byte 4 = 1 to lock, 0 to unlock.
    static QByteArray RemovalCommand(bool prevent);
    // The 6-byte standard INQUIRY asking for 36 bytes.
    static QByteArray InquiryCommand();
    static constexpr int kTimeoutMs = 10000;
    static constexpr int kInquiryLength = 36;

private:
    void Log(const QString &line) const;

    std::shared_ptr<CdDeviceSystem> system_;
    LogFunction log_;
    QList<CdDrive> drives_;
    // Open devices of the locked drives, by index in drives_.
    std::vector<std::pair<int, std::unique_ptr<ScsiDevice>>> held_;
};

} // namespace platform
