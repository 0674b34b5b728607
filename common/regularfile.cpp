#include "common/regularfile.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

QString NotRegularText() { return QStringLiteral("Ce nom ne désigne pas un fichier ordinaire : il n'est pas ouvert."); }

QString LinkText() { return QStringLiteral("Ce nom désigne un lien symbolique : il n'est pas suivi."); }

int Fail(QString *error, const QString &text, int code)
{
    if (error)
        *error = text;
    errno = code;
    return -1;
}

} // namespace

QString SystemErrorText(int error)
{
    switch (error) {
    case 0: return QStringLiteral("Erreur inconnue.");
    case ENOSPC: return QStringLiteral("Le disque est plein.");
#ifdef EDQUOT
    case EDQUOT: return QStringLiteral("Le quota d'espace disque est atteint.");
#endif
    case EFBIG: return QStringLiteral("Le fichier a atteint la taille maximale permise.");
    case EIO: return QStringLiteral("Erreur d'entrée-sortie sur le disque.");
    case EACCES:
    case EPERM: return QStringLiteral("Accès refusé.");
    case EROFS: return QStringLiteral("Le support est en lecture seule.");
    case ENAMETOOLONG: return QStringLiteral("Le nom du fichier est trop long.");
    case ENOENT: return QStringLiteral("Fichier ou dossier introuvable.");
    case ENOTDIR: return QStringLiteral("Un élément du chemin n'est pas un dossier.");
    case EISDIR: return QStringLiteral("Ce nom désigne un dossier.");
    case ELOOP: return LinkText();
    case EEXIST: return QStringLiteral("Le fichier existe déjà.");
    case EBUSY:
    case ETXTBSY: return QStringLiteral("Le fichier est occupé.");
    case EMFILE:
    case ENFILE: return QStringLiteral("Trop de fichiers sont ouverts.");
    case ENXIO:
    case ENODEV: return NotRegularText();
    default: return QStringLiteral("Erreur du système n° %1.").arg(error);
    }
}

int OpenRegularDescriptor(const QString &path, int flags, Links links, QString *error, unsigned createMode)
{
    if (error)
        error->clear();
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return Fail(error, SystemErrorText(ENOENT), ENOENT);
    struct stat seen {};
    const int looked = links == Links::Follow ? ::stat(native.constData(), &seen) : ::lstat(native.constData(), &seen);
    if (looked == 0) {
        if (S_ISLNK(seen.st_mode))
            return Fail(error, LinkText(), ELOOP);
        if (!S_ISREG(seen.st_mode))
            return Fail(error, NotRegularText(), ENXIO);
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        const int code = errno;
        return Fail(error, SystemErrorText(code), code);
    } else {
        // Nothing there yet: a dangling link would make O_CREAT write where it points.
        struct stat link {};
        if (::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode))
            return Fail(error, LinkText(), ELOOP);
    }
    int openFlags = (flags & ~O_TRUNC) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    if (links == Links::Refuse)
        openFlags |= O_NOFOLLOW;
    int fd = -1;
    do {
        fd = ::open(native.constData(), openFlags, mode_t(createMode));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int code = errno;
        return Fail(error, code == ELOOP ? LinkText() : SystemErrorText(code), code);
    }
    // What was opened, not what was looked at: the name may have changed in between.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Fail(error, NotRegularText(), ENXIO);
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0 || ((flags & O_TRUNC) && ::ftruncate(fd, 0) != 0)) {
        const int code = errno;
        ::close(fd);
        return Fail(error, SystemErrorText(code), code);
    }
    return fd;
}

bool OpenRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error, Links links)
{
    int flags = 0;
    if ((mode & QIODevice::ReadWrite) == QIODevice::ReadWrite)
        flags = O_RDWR;
    else if (mode & QIODevice::WriteOnly)
        flags = O_WRONLY;
    else
        flags = O_RDONLY;
    if (mode & QIODevice::WriteOnly) {
        if (!(mode & QIODevice::ExistingOnly))
            flags |= O_CREAT;
        if (mode & QIODevice::NewOnly)
            flags |= O_EXCL;
        if (mode & QIODevice::Truncate)
            flags |= O_TRUNC;
        if (mode & QIODevice::Append)
            flags |= O_APPEND;
    }
    const int fd = OpenRegularDescriptor(path, flags, links, error);
    if (fd < 0)
        return false;
    const QIODevice::OpenMode kept = mode & ~(QIODevice::Truncate | QIODevice::NewOnly | QIODevice::ExistingOnly);
    if (!file.open(fd, kept, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool ExistsButNotRegular(const QString &path)
{
    struct stat seen {};
    return ::stat(QFile::encodeName(path).constData(), &seen) == 0 && !S_ISREG(seen.st_mode);
}

int MaxFileNameBytes(const QString &folder)
{
    const long max = ::pathconf(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData(), _PC_NAME_MAX);
    return max > 0 && max < 4096 ? int(max) : 255;
}

QString FitFileName(const QString &stem, const QString &suffix, int maxBytes)
{
    const auto bytes = [](const QString &s) { return QFile::encodeName(s).size(); };
    if (bytes(stem) + bytes(suffix) <= maxBytes)
        return stem + suffix;
    const QByteArray digest = QCryptographicHash::hash(stem.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    const QString mark = QLatin1Char('~') + QString::fromLatin1(digest);
    const qsizetype room = maxBytes - bytes(suffix) - bytes(mark);
    // Whole characters (a surrogate pair is one) while they fit.
    QString cut;
    qsizetype used = 0;
    for (qsizetype i = 0; i < stem.size();) {
        const qsizetype n = stem[i].isHighSurrogate() && i + 1 < stem.size() ? 2 : 1;
        const qsizetype size = bytes(stem.mid(i, n));
        if (used + size > room)
            break;
        cut += stem.mid(i, n);
        used += size;
        i += n;
    }
    return cut + mark + suffix;
}

} // namespace common
