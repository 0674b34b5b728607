#pragma once
// CD and DVD drives: whether a folder lies on one, the drives of the machine as
// SCSI devices, and the command channel to each (SG_IO on Linux).

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

namespace platform {

// Whether `folder` lies on a CD or DVD (iso9660 or udf file system, or an sr device).
bool FolderIsOnCdRom(const QString &folder);

// One SCSI device opened for commands. Closing it (destroying the object) ends
// the process's hold on the device.
class ScsiDevice
{
public:
    virtual ~ScsiDevice() = default;

    // Sends one command block. With `dataInLength` > 0 the device's answer
    // (at most that many bytes) comes back in `dataIn`; otherwise no data moves.
    // Answers true only when the device completed the command with good status;
    // else `error` says why.
    virtual bool Send(const QByteArray &command, int dataInLength, int timeoutMs, QByteArray *dataIn,
                      QString *error) = 0;
};

// A device node that may be a CD or DVD drive.
struct CdCandidate
{
    QString Path;         // "/dev/sr0", "/dev/sg2"
    bool CdDriver = false; // bound to the CD driver (sr): a CD or DVD drive whatever INQUIRY says
    QString Address;      // "host:channel:target:lun" when known
};

// The machine's CD device nodes and access to them.
class CdDeviceSystem
{
public:
    virtual ~CdDeviceSystem() = default;
    // The candidates, each physical drive once (an sg node of a drive that also
    // has an sr node is left out).
    virtual QList<CdCandidate> Candidates() = 0;
    // Opens a device for commands; null with `error` set when it cannot be.
    virtual std::unique_ptr<ScsiDevice> Open(const QString &path, QString *error) = 0;
};

// Linux: /dev/sr* and the /dev/sg* whose SCSI type is CD/DVD (5) or write-once
// (4), commands through the SG_IO ioctl. The folders can be moved for tests.
class LinuxCdDeviceSystem : public CdDeviceSystem
{
public:
    explicit LinuxCdDeviceSystem(QString devFolder = QStringLiteral("/dev"),
                                 QString sysFolder = QStringLiteral("/sys"));

    QList<CdCandidate> Candidates() override;
    std::unique_ptr<ScsiDevice> Open(const QString &path, QString *error) override;

    // Opens any path as a SCSI device: read-write when allowed, else read-only,
    // never waiting for a medium; only character and block devices are accepted.
    static std::unique_ptr<ScsiDevice> OpenDevice(const QString &path, QString *error);

private:
    QString dev_;
    QString sys_;
};

// Drives held in memory, for tests: each answers INQUIRY with its type and
// names, keeps a PREVENT ALLOW MEDIUM REMOVAL state, and records every command.
class MemoryCdDeviceSystem : public CdDeviceSystem
{
public:
    struct Drive
    {
        CdCandidate Candidate;
        int PeripheralType = 5;
        QByteArray Vendor = "KORVTEST";
        QByteArray Product = "DVD-ROM";
        QByteArray Revision = "1.00";
        QString OpenError;   // non-empty: opening fails with it
        bool Refuses = false; // medium removal commands fail
        bool InquiryFails = false;
        // State seen from outside.
        bool Locked = false;
        int OpenHandles = 0;
        struct Command
        {
            QByteArray Bytes;
            int DataInLength = 0;
            int TimeoutMs = 0;
        };
        QList<Command> Commands;
    };

    // Adds a drive (an sr node unless `cdDriver` is false); answers it for
    // further setup.
    Drive &Add(const QString &path, bool cdDriver = true, const QString &address = QString());
    Drive &At(const QString &path) { return *drives_[path]; }
    // Medium removal commands sent to every drive, in order.
    int RemovalCommandCount() const;

    QList<CdCandidate> Candidates() override;
    std::unique_ptr<ScsiDevice> Open(const QString &path, QString *error) override;

private:
    QList<QString> order_;
    QMap<QString, std::shared_ptr<Drive>> drives_;
};

} // namespace platform
