#include "platform/cdtraylock.h"

#include <QStringList>

namespace platform {

namespace {

QString Describe(const CdDrive &drive)
{
    QString text = drive.Path;
    const QString names = QStringList{drive.Vendor, drive.Product, drive.Revision}.join(QLatin1Char(' ')).simplified();
    if (!names.isEmpty())
        text += QStringLiteral(" (") + names + QLatin1Char(')');
    if (drive.Host >= 0)
        text += QStringLiteral(" [%1:%2:%3:%4]").arg(drive.Host).arg(drive.Channel).arg(drive.Target).arg(drive.Lun);
    return text;
}

void TakeAddress(CdDrive &drive, const QString &address)
{
    const QStringList parts = address.split(QLatin1Char(':'));
    if (parts.size() != 4)
        return;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok);
        if (!ok)
            return;
    }
    drive.Host = values[0];
    drive.Channel = values[1];
    drive.Target = values[2];
    drive.Lun = values[3];
}

QString Field(const QByteArray &inquiry, int from, int length)
{
    return QString::fromLatin1(inquiry.mid(from, length)).trimmed();
}

} // namespace

CdTrayLock::CdTrayLock(std::shared_ptr<CdDeviceSystem> system, LogFunction log)
    : system_(std::move(system)), log_(std::move(log))
{
}

CdTrayLock::~CdTrayLock() { Unlock(); }

QByteArray CdTrayLock::RemovalCommand(bool prevent)
{
    QByteArray command(6, '\0');
    command[0] = char(0x1E);
    command[4] = prevent ? char(1) : char(0);
    return command;
}

QByteArray CdTrayLock::InquiryCommand()
{
    QByteArray command(6, '\0');
    command[0] = char(0x12);
    command[4] = char(kInquiryLength);
    return command;
}

void CdTrayLock::Log(const QString &line) const
{
    if (log_)
        log_(QStringLiteral("CDLOCK ") + line);
}

int CdTrayLock::LockedCount() const { return static_cast<int>(held_.size()); }

int CdTrayLock::Lock()
{
    if (!held_.empty() || !system_)
        return LockedCount();
    drives_.clear();
    for (const CdCandidate &candidate : system_->Candidates()) {
        QString error;
        std::unique_ptr<ScsiDevice> device = system_->Open(candidate.Path, &error);
        if (!device) {
            // An sg node that cannot be opened may not even be a CD drive.
            Log(candidate.Path + (candidate.CdDriver ? QStringLiteral(": verrouillage refusé, ouverture impossible: ")
                                                     : QStringLiteral(": non examiné, ouverture impossible: "))
                + error);
            continue;
        }
        CdDrive drive;
        drive.Path = candidate.Path;
        TakeAddress(drive, candidate.Address);
        QByteArray inquiry;
        QString inquiryError;
        const bool answered = device->Send(InquiryCommand(), kInquiryLength, kTimeoutMs, &inquiry, &inquiryError)
                              && !inquiry.isEmpty();
        if (answered) {
            const int type = static_cast<unsigned char>(inquiry[0]) & 0x1F;
            // Only CD/DVD (5) and write-once (4) devices are touched.
            if (type != 5 && type != 4 && !candidate.CdDriver)
                continue;
            drive.Vendor = Field(inquiry, 8, 8);
            drive.Product = Field(inquiry, 16, 16);
            drive.Revision = Field(inquiry, 32, 4);
        } else if (!candidate.CdDriver) {
            Log(candidate.Path + QStringLiteral(": non examiné, INQUIRY sans réponse: ") + inquiryError);
            continue;
        }
        QString lockError;
        if (device->Send(RemovalCommand(true), 0, kTimeoutMs, nullptr, &lockError)) {
            drive.Locked = true;
            drives_ << drive;
            held_.emplace_back(static_cast<int>(drives_.size()) - 1, std::move(device));
            Log(Describe(drive) + QStringLiteral(": verrouillé"));
        } else {
            drives_ << drive;
            Log(Describe(drive) + QStringLiteral(": verrouillage refusé: ") + lockError);
        }
    }
    return LockedCount();
}

void CdTrayLock::Unlock()
{
    for (auto &[index, device] : held_) {
        CdDrive &drive = drives_[index];
        QString error;
        if (device->Send(RemovalCommand(false), 0, kTimeoutMs, nullptr, &error))
            Log(Describe(drive) + QStringLiteral(": déverrouillé"));
        else
            Log(Describe(drive) + QStringLiteral(": déverrouillage refusé (libéré à la fermeture): ") + error);
        drive.Locked = false;
        device.reset(); // closing it lets the CD driver allow removal in any case
    }
    held_.clear();
}

} // namespace platform
