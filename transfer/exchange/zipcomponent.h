#pragma once

#include "transfer/exchange/messagesink.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace exchange {

// Every archive exchanged with the server is a zip protected by this password
// (traditional PKWARE encryption when we write one).
inline const QString ArchivePassword = QStringLiteral("XK");

// Result codes of an extraction, shown to the user as "[Référence : n]" after
// the reason in words (ExtractReason).
enum ExtractCode : int {
    ExtractOk = 0,
    ExtractArchiveMissing = 1,   // the archive file does not exist or cannot be opened
    ExtractNotAnArchive = 2,     // not a zip archive, or its directory is unreadable
    ExtractWrongPassword = 3,    // an encrypted entry refused the password
    ExtractDamaged = 4,          // bad checksum or undecodable data
    ExtractUnsafePath = 5,       // an entry would land outside the destination
    ExtractUnsupportedEntry = 6, // link, device or other non-plain entry
    ExtractTooLarge = 7,         // total size cap reached
    ExtractRatioExceeded = 8,    // expanded far beyond the archive's own size
    ExtractWriteFailed = 9,      // disk full, permissions, name clash
    ExtractPlacementFailed = 10, // staging folder or final move failed
    ExtractTooManyEntries = 11,
    ExtractNoSpace = 12,         // what the archive will write does not fit in the free space
    ExtractSizeMismatch = 13,    // an entry holds more than its announced size
    ExtractRefused = 14,         // an entry the caller does not accept (EntryScreen)
};

// Caps against archives that expand without bound (zip bombs, nested ones
// included). Deflate cannot expand data more than about 1032 times, so a
// ratio above 1100 over the archive received means archives nested to expand
// (or overlapping entries): a real study, however many black pixels it holds,
// stays below it. The ratio is checked only once more than ratioFloorBytes
// have been written, so small archives of tiny files are never refused for it.
struct ExtractLimits
{
    qint64 maxTotalBytes = 16LL * 1024 * 1024 * 1024;
    double maxRatio = 1100.0;
    qint64 ratioFloorBytes = 64LL * 1024 * 1024;
    int maxEntries = 200000;
};

// Budget shared by a top-level extraction and every nested one under it: the
// bytes written by all of them count against the limits, and the ratio is taken
// against the size of the archive that came from outside.
class ExtractBudget
{
public:
    ExtractBudget(const ExtractLimits &limits, qint64 sourceBytes)
        : m_limits(limits), m_sourceBytes(sourceBytes) {}
    const ExtractLimits &limits() const { return m_limits; }
    qint64 written() const { return m_written; }
    int entries() const { return m_entries; }
    // Returns ExtractOk or the code of the cap that the added bytes break.
    int addBytes(qint64 n);
    int declare(qint64 declaredSize) const; // an entry's announced size
    int addEntry();

private:
    ExtractLimits m_limits;
    qint64 m_sourceBytes = 0;
    qint64 m_written = 0;
    int m_entries = 0;
};

struct ExtractOutcome
{
    int code = ExtractOk;
    QString detail;      // libarchive's or the system's explanation, for logs and tests
    QStringList entries; // normalised entry paths, in archive order
    qint64 bytes = 0;
    QString entry;       // the entry a failure is about, as the archive names it
    qint64 needed = -1;  // ExtractNoSpace: bytes the archive needs, and those free
    qint64 available = -1;
    QString refusal;     // ExtractRefused: the caller's reason
};

// The reason of a failed extraction in French words, for the user.
QString ExtractReason(const ExtractOutcome &outcome);

// Decides whether an entry may be unpacked: empty for yes, otherwise the
// reason in French. path is the normalised entry path; folder tells a folder
// entry from a file.
using EntryScreen = std::function<QString(const QString &path, bool folder)>;

// The entry's path with '/' separators, or empty when it is not a plain
// relative path (absolute, drive letter, "..", empty, control characters).
QString safeEntryPath(const QString &raw);

// A name received from the server used as a file name: true only for a plain
// name without separators, "..", drive letters or control characters.
bool isPlainFileName(const QString &name);

// Unpacks every entry of archive into folder, keeping entry paths.
//
// Before anything is written, every entry header is read: an unsafe name, a
// link, an entry that screen refuses, a declared total beyond the budget or
// beyond the free space of folder's file system refuses the archive whole.
// The entries are then written into a staging folder inside folder, and moved
// into place only when the whole archive came out intact; an entry that holds
// more than it announced stops the writing at once. On any failure the
// staging folder is removed and folder is left as it was.
ExtractOutcome extractZip(const QString &archive, const QString &folder, const QString &password,
                          ExtractBudget *budget = nullptr, const EntryScreen &screen = {});

// Checks once per process that the zip library reads and writes encrypted
// zips. False after showing an error: the program cannot work without it.
bool EnsureZipComponent(MessageSink &messages);

// extractZip with the user message "Erreur de décompression sur le fichier ...",
// the reason and "[Référence : code]" on failure; the message names shownName
// when given (the archive as the user knows it, when it lies in a staging folder).
bool ExtractArchive(const QString &archive, const QString &folder, const QString &password,
                    MessageSink &messages, ExtractBudget *budget = nullptr, const QString &shownName = QString());

// The reason and the reference of a failure: "<reason>\r[Référence : n]".
QString ExtractFailureText(const ExtractOutcome &outcome);

// Writes folder/archiveName from files (stored without folders), encrypted with
// traditional PKWARE encryption. A failed zip leaves no archive behind.
bool ZipDictations(const QString &folder, const QString &archiveName, const QStringList &files,
                   const QString &password, QString *detail = nullptr);

// Entry names of archive as stored. When the archive cannot be listed the
// message "Erreur create Xceedzip" is shown and the answer is false.
bool ListArchive(const QString &archive, QStringList &entries, MessageSink &messages);

} // namespace exchange
