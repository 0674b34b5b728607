#include "viewer/shell/componentfile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemError(const QString &what)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

bool WriteAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool ContentEquals(int fd, const QByteArray &bytes)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return false;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    qint64 offset = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return offset == bytes.size();
        if (offset + got > bytes.size() || std::memcmp(buffer.constData(), bytes.constData() + offset, size_t(got)) != 0)
            return false;
        offset += got;
    }
}

} // namespace

QString TComponentFile::PrivateFolderName(const QString &tempFolder)
{
    return tempFolder + QStringLiteral("/KorvaneCD-%1").arg(::geteuid());
}

namespace {

// A directory of this user, reached without following a link, that nobody else may
// enter: its mode is narrowed to 0700 when it was wider.
bool IsOwnPrivateFolder(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool own = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
    if (own && (info.st_mode & 077) != 0)
        own = ::fchmod(fd, 0700) == 0 && ::fstat(fd, &info) == 0 && (info.st_mode & 077) == 0;
    ::close(fd);
    return own;
}

} // namespace

QString TComponentFile::PrivateFolder(const QString &tempFolder, QString *error)
{
    const QByteArray usual = QFile::encodeName(PrivateFolderName(tempFolder));
    if ((::mkdir(usual.constData(), 0700) == 0 || errno == EEXIST) && IsOwnPrivateFolder(usual))
        return QFile::decodeName(usual);
    // The usual name is not ours: a folder of a unique name, made for this run.
    QByteArray unique = usual + ".XXXXXX";
    if (::mkdtemp(unique.data()) && IsOwnPrivateFolder(unique))
        return QFile::decodeName(unique);
    if (error)
        *error = SystemError(QStringLiteral("Impossible de créer un dossier privé dans \"%1\"").arg(tempFolder));
    return QString();
}

void TComponentFile::CloseFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool TComponentFile::UseExisting(const QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(path_);
    // Only a regular file can be ours. Anything else at the path is not even opened:
    // opening a FIFO for reading waits for a writer, for good. O_NONBLOCK keeps that
    // wait away should one be swapped in after this look, O_NOFOLLOW keeps a planted
    // link from being followed, O_NOCTTY a terminal from becoming ours.
    struct stat seen {};
    if (::lstat(path.constData(), &seen) != 0 || !S_ISREG(seen.st_mode))
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info {};
    const bool trusted = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
                         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && info.st_size == bytes.size();
    if (!trusted || !ContentEquals(fd, bytes)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    haveIdentity_ = true;
    return true;
}

bool TComponentFile::WriteReplacement(const QByteArray &bytes)
{
    QByteArray temporary = QFile::encodeName(path_) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error_ = SystemError(QStringLiteral("Impossible d'écrire le composant dans \"%1\"")
                                 .arg(QFileInfo(path_).path()));
        return false;
    }
    struct stat info {};
    if (!WriteAll(fd, bytes.constData(), bytes.size()) || ::fstat(fd, &info) != 0) {
        error_ = SystemError(QStringLiteral("Impossible d'écrire le composant \"%1\"").arg(path_));
        ::close(fd);
        ::unlink(temporary.constData());
        return false;
    }
    if (::rename(temporary.constData(), QFile::encodeName(path_).constData()) != 0) {
        error_ = SystemError(QStringLiteral("Impossible de remplacer le fichier \"%1\"").arg(path_));
        ::close(fd);
        ::unlink(temporary.constData());
        return false;
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    haveIdentity_ = true;
    return true;
}

bool TComponentFile::Extract(const QByteArray &bytes)
{
    error_.clear();
    CloseFile();
    if (bytes.isEmpty()) {
        error_ = QStringLiteral("Le composant d'imagerie n'est pas dans les ressources du programme.");
        return false;
    }
    reused_ = UseExisting(bytes);
    if (reused_)
        return true;
    return WriteReplacement(bytes);
}

bool TComponentFile::Load()
{
    if (handle_)
        return true;
    if (fd_ < 0) {
        if (error_.isEmpty())
            error_ = QStringLiteral("Le fichier du composant n'a pas été préparé.");
        return false;
    }
    const QByteArray viaDescriptor = "/proc/self/fd/" + QByteArray::number(fd_);
    handle_ = ::dlopen(viaDescriptor.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        error_ = QString::fromLocal8Bit(::dlerror());
    CloseFile();
    return handle_ != nullptr;
}

void TComponentFile::Unload()
{
    CloseFile();
    if (handle_) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
    if (haveIdentity_) {
        struct stat info {};
        const QByteArray path = QFile::encodeName(path_);
        if (::lstat(path.constData(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_)
            ::unlink(path.constData());
        haveIdentity_ = false;
        // The private folder goes too when nothing else is left in it.
        ::rmdir(QFile::encodeName(QFileInfo(path_).path()).constData());
    }
}
