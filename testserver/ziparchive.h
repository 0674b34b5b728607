#pragma once
// Password-protected zip archives for the test server (libarchive,
// traditional PKWARE encryption): study archives as the central server
// builds them, and the check of a received dictation archive.

#include <QString>
#include <QStringList>

namespace testserver {

inline constexpr char kArchivePassword[] = "XK";

struct ZipEntry
{
    QString name;     // path inside the archive
    QString filePath; // bytes from this file...
    QByteArray bytes; // ...or these
};

// Writes `entries` to `zipPath` (replacing it), encrypted with the password.
bool writeZip(const QString &zipPath, const QList<ZipEntry> &entries, const QString &password, QString *error);

// Reads every entry of `zipPath` with the password (so a wrong password or a
// damaged entry is found); the entry names go to `names`.
bool checkZip(const QString &zipPath, const QString &password, QStringList *names, QString *error);

// Builds the study archive of `studyFolder` for `fichierZip` at `zipPath`:
// "DICOMDIR" and the other top-level files at the root, "ftp.ok" (empty), the
// marker file fichierZip + "_" + accession + ".ok" whose third line is the
// accession number, and every top-level folder as a nested zip named after
// it, whose own sub-folders are nested zips again (two levels deep).
// `workFolder` holds the temporary nested archives.
bool buildStudyArchive(const QString &studyFolder, const QString &fichierZip, const QString &accession,
                       const QString &zipPath, const QString &workFolder, QString *error);

} // namespace testserver
