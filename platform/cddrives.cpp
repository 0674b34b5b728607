#include "platform/cddrives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool FolderIsOnCdRom(const QString &folder)
{
    const QStorageInfo storage(folder);
    if (!storage.isValid())
        return false;
    const QByteArray type = storage.fileSystemType().toLower();
    if (type == "iso9660" || type == "udf")
        return true;
    return QString::fromLocal8Bit(storage.device()).startsWith(QLatin1String("/dev/sr"));
}

// ---------------------------------------------------------------------------------------
// Linux

namespace {

QString SystemError(int code) { return QString::fromLocal8Bit(std::strerror(code)); }

class LinuxScsiDevice : public ScsiDevice
{
public:
    LinuxScsiDevice(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    ~LinuxScsiDevice() override { ::close(fd_); }

    bool Send(const QByteArray &command, int dataInLength, int timeoutMs, QByteArray *dataIn,
              QString *error) override
    {
        if (command.isEmpty() || command.size() > 16) {
            if (error)
                *error = QStringLiteral("bloc de commande invalide");
            return false;
        }
        QByteArray cdb = command;
        QByteArray data(qMax(dataInLength, 0), '\0');
        unsigned char sense[24] = {};
        sg_io_hdr_t io;
        std::memset(&io, 0, sizeof io);
        io.interface_id = 'S';
        io.cmd_len = static_cast<unsigned char>(cdb.size());
        io.cmdp = reinterpret_cast<unsigned char *>(cdb.data());
        io.mx_sb_len = sizeof sense;
        io.sbp = sense;
        io.timeout = static_cast<unsigned int>(timeoutMs);
        if (dataInLength > 0) {
            io.dxfer_direction = SG_DXFER_FROM_DEV;
            io.dxfer_len = static_cast<unsigned int>(data.size());
            io.dxferp = data.data();
        } else {
            io.dxfer_direction = SG_DXFER_NONE;
        }
        if (::ioctl(fd_, SG_IO, &io) < 0) {
            if (error)
                *error = SystemError(errno);
            return false;
        }
        if ((io.info & SG_INFO_OK_MASK) != SG_INFO_OK) {
            if (error) {
                *error = QStringLiteral("état %1, adaptateur %2, pilote %3")
                             .arg(io.status)
                             .arg(io.host_status)
                             .arg(io.driver_status);
                if (io.sb_len_wr >= 14)
                    *error += QStringLiteral(", sense %1/%2/%3")
                                  .arg(sense[2] & 0x0F, 2, 16, QLatin1Char('0'))
                                  .arg(sense[12], 2, 16, QLatin1Char('0'))
                                  .arg(sense[13], 2, 16, QLatin1Char('0'));
            }
            return false;
        }
        if (dataIn)
            *dataIn = data.left(qMax(0, data.size() - io.resid));
        return true;
    }

private:
    int fd_;
    QString path_;
};

// "host:channel:target:lun" of the SCSI device a sysfs link leads to; empty when not found.
QString AddressBehind(const QString &link)
{
    const QString target = QFileInfo(link).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QString name = QFileInfo(target).fileName();
    return name.count(QLatin1Char(':')) == 3 ? name : QString();
}

} // namespace

LinuxCdDeviceSystem::LinuxCdDeviceSystem(QString devFolder, QString sysFolder)
    : dev_(std::move(devFolder)), sys_(std::move(sysFolder))
{
}

QList<CdCandidate> LinuxCdDeviceSystem::Candidates()
{
    QList<CdCandidate> result;
    QSet<QString> covered;
    const QDir dev(dev_);
    const QDir::Filters nodes = QDir::System | QDir::Files | QDir::NoDotAndDotDot;
    for (const QString &name : dev.entryList({QStringLiteral("sr*")}, nodes, QDir::Name)) {
        CdCandidate c;
        c.Path = dev.filePath(name);
        c.CdDriver = true;
        c.Address = AddressBehind(sys_ + QStringLiteral("/block/") + name + QStringLiteral("/device"));
        if (!c.Address.isEmpty())
            covered.insert(c.Address);
        result << c;
    }
    for (const QString &name : dev.entryList({QStringLiteral("sg*")}, nodes, QDir::Name)) {
        const QString device = sys_ + QStringLiteral("/class/scsi_generic/") + name + QStringLiteral("/device");
        CdCandidate c;
        c.Path = dev.filePath(name);
        c.Address = AddressBehind(device);
        if (!c.Address.isEmpty() && covered.contains(c.Address))
            continue; // the same drive as an sr node: reached through that one
        // The kernel tells the device type; disks and the like are not even opened.
        // Without that information, INQUIRY decides.
        QFile type(device + QStringLiteral("/type"));
        if (type.open(QIODevice::ReadOnly)) {
            bool ok = false;
            const int value = type.readAll().trimmed().toInt(&ok);
            if (ok && value != 5 && value != 4)
                continue;
        }
        result << c;
    }
    return result;
}

std::unique_ptr<ScsiDevice> LinuxCdDeviceSystem::Open(const QString &path, QString *error)
{
    return OpenDevice(path, error);
}

std::unique_ptr<ScsiDevice> LinuxCdDeviceSystem::OpenDevice(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    // No wait for a medium: an empty drive can be locked too. Write access lets
    // more commands through the kernel's filter; read-only is enough for most.
    int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = SystemError(errno);
        return nullptr;
    }
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !(S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("pas un périphérique");
        return nullptr;
    }
    return std::make_unique<LinuxScsiDevice>(fd, path);
}

// ---------------------------------------------------------------------------------------
// In memory

namespace {

class MemoryScsiDevice : public ScsiDevice
{
public:
    explicit MemoryScsiDevice(std::shared_ptr<MemoryCdDeviceSystem::Drive> drive) : drive_(std::move(drive))
    {
        ++drive_->OpenHandles;
    }
    ~MemoryScsiDevice() override
    {
        // Like the kernel's CD driver: the last close of an sr node allows removal again.
        if (--drive_->OpenHandles == 0 && drive_->Candidate.CdDriver)
            drive_->Locked = false;
    }

    bool Send(const QByteArray &command, int dataInLength, int timeoutMs, QByteArray *dataIn,
              QString *error) override
    {
        drive_->Commands.push_back({command, dataInLength, timeoutMs});
        const auto op = command.isEmpty() ? 0 : static_cast<unsigned char>(command[0]);
        if (op == 0x12 && !drive_->InquiryFails) {
            QByteArray answer(36, ' ');
            answer[0] = char(drive_->PeripheralType & 0x1F);
            answer[1] = char(0x80); // removable
            answer.replace(8, 8, drive_->Vendor.leftJustified(8, ' ', true));
            answer.replace(16, 16, drive_->Product.leftJustified(16, ' ', true));
            answer.replace(32, 4, drive_->Revision.leftJustified(4, ' ', true));
            if (dataIn)
                *dataIn = answer.left(dataInLength);
            return true;
        }
        if (op == 0x1E && command.size() == 6 && !drive_->Refuses) {
            drive_->Locked = (command[4] & 0x01) != 0;
            return true;
        }
        if (error)
            *error = QStringLiteral("commande refusée");
        return false;
    }

private:
    std::shared_ptr<MemoryCdDeviceSystem::Drive> drive_;
};

} // namespace

MemoryCdDeviceSystem::Drive &MemoryCdDeviceSystem::Add(const QString &path, bool cdDriver, const QString &address)
{
    auto drive = std::make_shared<Drive>();
    drive->Candidate = {path, cdDriver, address};
    drives_.insert(path, drive);
    order_.removeAll(path);
    order_ << path;
    return *drive;
}

int MemoryCdDeviceSystem::RemovalCommandCount() const
{
    int count = 0;
    for (const auto &drive : drives_)
        for (const auto &command : drive->Commands)
            count += !command.Bytes.isEmpty() && static_cast<unsigned char>(command.Bytes[0]) == 0x1E;
    return count;
}

QList<CdCandidate> MemoryCdDeviceSystem::Candidates()
{
    QList<CdCandidate> result;
    for (const QString &path : order_)
        result << drives_[path]->Candidate;
    return result;
}

std::unique_ptr<ScsiDevice> MemoryCdDeviceSystem::Open(const QString &path, QString *error)
{
    const auto drive = drives_.value(path);
    if (!drive || !drive->OpenError.isEmpty()) {
        if (error)
            *error = drive ? drive->OpenError : QStringLiteral("No such file or directory");
        return nullptr;
    }
    return std::make_unique<MemoryScsiDevice>(drive);
}

} // namespace platform
