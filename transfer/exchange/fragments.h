#pragma once

#include "transfer/exchange/messagesink.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace exchange {

inline constexpr qint64 FragmentSize = 1000000;

// Fragment files of a download that are in folder: the names the server listed
// for it, and the pieces fichierZip + ".zip." + digits that an interrupted
// download may have left. Nothing else of the folder is ever taken for a
// fragment: the folder is shared with the viewer and holds the user's files.
QStringList fragmentFiles(const QString &folder, const QString &fichierZip, const QStringList &listed);

// The fragment names in the order in which they are joined: ascending by name.
QStringList fragmentOrder(QStringList names);

// Rebuilds folder/archiveName from the fragments named (the server's list),
// joined in name order, streaming one at a time, and deletes each fragment
// once appended. The archive is built under a temporary name and gets its own
// name only when complete: a failed merge (a write error, a full disk) leaves
// no file that could pass for the archive.
bool MergeFragments(const QString &folder, const QString &archiveName, const QStringList &fragments,
                    MessageSink &messages);

// Minutes per million bytes read from a setting ("0.22", also "0,22").
double parseRate(const QString &text);

// volume / 1,000,000 x rate, at least 1.
double EstimatedMinutes(qint64 volume, double rate);
// As the confirmation dialog shows it ("%-5.0f").
QString formatEstimatedMinutes(double minutes);

// Minutes per million bytes of a finished download, "%-5.2f" trimmed: elapsed
// whole minutes (at least 1) divided by the volume in millions of bytes
// rounded half to even; "1.00" when that volume rounds to 0.
QString DownloadTransferRate(qint64 volume, const QDateTime &start, const QDateTime &end);
// Same for an upload, from times of day (a day is added when the end is
// earlier than the start); "0.00" when the size rounds to 0.
QString UploadTransferRate(qint64 size, const QTime &start, const QTime &end);

// Cuts folder/archiveName into pieces archiveName.001, .002 ... of
// FragmentSize bytes, the last piece holding the rest (empty when the size is
// a multiple). Returns the piece names, or an empty list with *error set.
QStringList SplitArchive(const QString &folder, const QString &archiveName, QString *error);

// Deletes pieces left by an earlier split: every entry of folder whose name
// contains archiveName (case-sensitive) and does not end in "ZIP".
void DeleteSplitPieces(const QString &folder, const QString &archiveName, MessageSink &messages);

// A name free on the server for the user's dictation archive:
// FichierZip_wav.zip, else FichierZip_wav__1.zip ... When 1 to 50 are all
// taken, numbering goes on past 50 to the first free number.
QString DictationArchiveName(const QString &fichierZip, const QStringList &serverNames);

// One line of the dictation list: date and time, size, name
// ("%-20.20s %10.10s %-60.60s"); the name is read back from column 33.
QString wavListLine(const QDateTime &modified, qint64 size, const QString &name);
QString wavNameFromLine(const QString &line);

// "[" + piece + "]  ...  [" + path + "]" and back.
QString pieceListLine(const QString &piece, const QString &path);
QString pieceFromLine(const QString &line);

} // namespace exchange
