#pragma once
// Files opened by a fixed name in a folder that a user or a disc controls (profile files,
// reports, prompts, dictations, the news): only a regular file is ever opened, and opening
// never waits. A FIFO put in place of such a file would otherwise hold the program for
// good at the open (a reader waits for a writer), and a device would be opened for real.
//
// Also the French texts of the system's errors, and file names fitted to what the file
// system takes.

#include <QFile>
#include <QString>

namespace common {

// Whether the last component of the name may be a symbolic link.
enum class Links {
    Follow, // a link to a regular file is opened (reading a file someone linked there)
    Refuse, // never through a link: the name itself must be a regular file (writing our own files)
};

// Opens `path` with the open(2) `flags` (O_RDONLY, O_RDWR, O_CREAT, O_TRUNC, ...): the name
// is looked at first and anything but a regular file (or, with Links::Refuse, a link, even a
// dangling one) is refused without being opened; the open itself never blocks, and what was
// opened is checked again. O_TRUNC is applied only once the file is known to be regular.
// Answers the descriptor (close-on-exec, blocking mode restored), or -1 with `error` set
// to a French sentence and errno kept.
int OpenRegularDescriptor(const QString &path, int flags, Links links, QString *error, unsigned createMode = 0666);

// The same for a QFile (reading and writing through Qt). The QFile closes the descriptor
// itself; opened on a descriptor, it has no file name.
bool OpenRegularFile(QFile &file, const QString &path, QIODevice::OpenMode mode, QString *error = nullptr,
                     Links links = Links::Follow);

// Whether something other than a regular file (a FIFO, a device, a folder, a socket) is at
// `path`; links followed. False when nothing is there.
bool ExistsButNotRegular(const QString &path);

// A French sentence for a system error number (errno), for the user: "Le disque est plein."
QString SystemErrorText(int error);

// The longest file name `folder` takes, in bytes of the local encoding (255 when the
// system does not say).
int MaxFileNameBytes(const QString &folder);

// `stem` + `suffix` as a file name of at most `maxBytes` bytes in the local encoding. A
// stem that is too long is cut (never inside a character) and followed by "~" and eight
// hexadecimal digits of a digest of the whole stem, so that two long names that share
// their beginning never give the same file.
QString FitFileName(const QString &stem, const QString &suffix, int maxBytes);

} // namespace common
