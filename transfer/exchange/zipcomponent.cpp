#include "transfer/exchange/zipcomponent.h"

#include "common/cp1252.h"
#include "common/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace exchange {

namespace {

struct ArchiveDeleter
{
    void operator()(archive *a) const
    {
        if (a)
            archive_read_free(a);
    }
};
struct WriterDeleter
{
    void operator()(archive *a) const
    {
        if (a)
            archive_write_free(a);
    }
};
using ReadHandle = std::unique_ptr<archive, ArchiveDeleter>;
using WriteHandle = std::unique_ptr<archive, WriterDeleter>;

QString errorText(archive *a)
{
    const char *s = archive_error_string(a);
    return s ? QString::fromLocal8Bit(s) : QString();
}

// libarchive reports a refused password with these words; anything else that
// goes wrong while reading data is damage.
int dataErrorCode(archive *a)
{
    const QString text = errorText(a).toLower();
    if (text.contains(QLatin1String("passphrase")) || text.contains(QLatin1String("password")))
        return ExtractWrongPassword;
    return ExtractDamaged;
}

QString entryName(archive_entry *e)
{
    if (const char *u = archive_entry_pathname_utf8(e))
        return QString::fromUtf8(u);
    if (const char *raw = archive_entry_pathname(e))
        return common::fromCp1252(QByteArray(raw));
    return QString();
}

ReadHandle openReader(const QString &path, const QString &password, int *code, QString *detail)
{
    ReadHandle a(archive_read_new());
    archive_read_support_format_zip(a.get());
    if (!password.isEmpty())
        archive_read_add_passphrase(a.get(), password.toUtf8().constData());
    const QByteArray native = QFile::encodeName(path);
    if (archive_read_open_filename(a.get(), native.constData(), 1 << 16) != ARCHIVE_OK) {
        *detail = errorText(a.get());
        *code = QFileInfo(path).isFile() ? ExtractNotAnArchive : ExtractArchiveMissing;
        return nullptr;
    }
    *code = ExtractOk;
    return a;
}

bool isPlainDirectory(const QFileInfo &fi)
{
    return fi.isDir() && !fi.isSymLink();
}

// Moves the staged tree into dest. Files replace files of the same name;
// folders merge. A folder where a file should go (or the reverse), or a link
// on the way, stops the move.
bool moveTree(const QString &from, const QString &dest, QString *detail)
{
    QDir src(from);
    const QFileInfoList items =
        src.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &item : items) {
        const QString target = dest + QLatin1Char('/') + item.fileName();
        const QFileInfo t(target);
        std::error_code ec;
        if (item.isDir()) {
            if (!t.exists() && !t.isSymLink()) {
                std::filesystem::rename(QFile::encodeName(item.filePath()).constData(),
                                        QFile::encodeName(target).constData(), ec);
                if (ec) {
                    *detail = QString::fromLocal8Bit(ec.message()) + QLatin1String(": ") + target;
                    return false;
                }
            } else if (isPlainDirectory(t)) {
                if (!moveTree(item.filePath(), target, detail))
                    return false;
            } else {
                *detail = QLatin1String("not a folder: ") + target;
                return false;
            }
        } else {
            if (t.isDir() && !t.isSymLink()) {
                *detail = QLatin1String("a folder has this name: ") + target;
                return false;
            }
            std::filesystem::rename(QFile::encodeName(item.filePath()).constData(),
                                    QFile::encodeName(target).constData(), ec);
            if (ec) {
                *detail = QString::fromLocal8Bit(ec.message()) + QLatin1String(": ") + target;
                return false;
            }
        }
    }
    return true;
}

} // namespace

int ExtractBudget::addBytes(qint64 n)
{
    m_written += n;
    if (m_written > m_limits.maxTotalBytes)
        return ExtractTooLarge;
    if (m_written > m_limits.ratioFloorBytes
        && double(m_written) > m_limits.maxRatio * double(qMax<qint64>(m_sourceBytes, 1)))
        return ExtractRatioExceeded;
    return ExtractOk;
}

int ExtractBudget::declare(qint64 declaredSize) const
{
    if (declaredSize < 0)
        return ExtractOk;
    if (declaredSize > m_limits.maxTotalBytes - m_written)
        return ExtractTooLarge;
    const qint64 after = m_written + declaredSize;
    if (after > m_limits.ratioFloorBytes
        && double(after) > m_limits.maxRatio * double(qMax<qint64>(m_sourceBytes, 1)))
        return ExtractRatioExceeded;
    return ExtractOk;
}

int ExtractBudget::addEntry()
{
    return ++m_entries > m_limits.maxEntries ? ExtractTooManyEntries : ExtractOk;
}

QString safeEntryPath(const QString &raw)
{
    QString s = raw;
    s.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (s.isEmpty() || s.startsWith(QLatin1Char('/')) || s.contains(QLatin1Char(':')))
        return QString();
    for (const QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QString();
    QStringList kept;
    for (const QString &part : s.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return QString();
        if (part != QLatin1String("."))
            kept << part;
    }
    return kept.join(QLatin1Char('/'));
}

bool isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name.contains(QLatin1String("..")) || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')) || name == QLatin1String("."))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

namespace {

// Bytes free for this user on the file system that holds path (or its nearest
// existing parent), and that file system's block size; -1 when unknown.
qint64 freeBytes(const QString &path, qint64 *blockSize)
{
    QString p = path;
    while (!QFileInfo(p).isDir()) {
        const QString up = QFileInfo(p).path();
        if (up == p || up.isEmpty())
            return -1;
        p = up;
    }
    QStorageInfo storage(p);
    if (!storage.isValid() || !storage.isReady())
        return -1;
    *blockSize = storage.blockSize() > 0 ? storage.blockSize() : 4096;
    return storage.bytesAvailable();
}

// What the headers of an archive announce, read before anything is written.
struct Survey
{
    qint64 bytes = 0;     // the sum of the announced sizes
    qint64 footprint = 0; // the same in whole blocks of the destination, folders included
    int entries = 0;
};

// An entry that may be written: a plain file or folder under a relative path
// that the caller's screen accepts. Otherwise out tells why and which entry.
bool acceptEntry(archive_entry *e, const EntryScreen &screen, QString *rel, ExtractOutcome &out)
{
    const QString raw = entryName(e);
    auto refuse = [&](int code, const QString &detail) {
        out.code = code;
        out.entry = raw;
        out.detail = detail;
        return false;
    };
    *rel = safeEntryPath(raw);
    if (rel->isEmpty())
        return refuse(ExtractUnsafePath, raw);
    const mode_t type = archive_entry_filetype(e);
    if (archive_entry_hardlink(e) || archive_entry_symlink(e) || (type != AE_IFDIR && type != AE_IFREG))
        return refuse(ExtractUnsupportedEntry, raw);
    if (screen) {
        out.refusal = screen(*rel, type == AE_IFDIR);
        if (!out.refusal.isEmpty())
            return refuse(ExtractRefused, out.refusal);
    }
    return true;
}

// Checks every header as the extraction will, without reading the data: a
// refusal here leaves nothing anywhere.
bool surveyArchive(const QString &archivePath, const QString &password, const EntryScreen &screen,
                   qint64 blockSize, Survey &survey, ExtractOutcome &out)
{
    ReadHandle a = openReader(archivePath, password, &out.code, &out.detail);
    if (!a)
        return false;
    auto fail = [&](int code, const QString &raw, const QString &detail) {
        out.code = code;
        out.entry = raw;
        out.detail = detail;
        return false;
    };
    for (;;) {
        archive_entry *e = nullptr;
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF)
            return true;
        if (r != ARCHIVE_OK)
            return fail(r == ARCHIVE_WARN ? ExtractDamaged : ExtractNotAnArchive, QString(), errorText(a.get()));
        ++survey.entries;
        QString rel;
        if (!acceptEntry(e, screen, &rel, out))
            return false;
        if (archive_entry_filetype(e) == AE_IFDIR) {
            survey.footprint += blockSize;
        } else if (archive_entry_size_is_set(e) && archive_entry_size(e) > 0) {
            const qint64 size = archive_entry_size(e);
            survey.bytes += size;
            survey.footprint += (size + blockSize - 1) / blockSize * blockSize;
        }
    }
}

} // namespace

ExtractOutcome extractZip(const QString &archivePath, const QString &folder, const QString &password,
                          ExtractBudget *sharedBudget, const EntryScreen &screen)
{
    ExtractOutcome out;
    ExtractBudget localBudget(ExtractLimits{}, QFileInfo(archivePath).size());
    ExtractBudget &budget = sharedBudget ? *sharedBudget : localBudget;
    const qint64 startBytes = budget.written();

    // 1. The headers, before anything is written.
    qint64 blockSize = 4096;
    const qint64 available = freeBytes(folder, &blockSize);
    Survey survey;
    if (!surveyArchive(archivePath, password, screen, blockSize, survey, out))
        return out;
    if (budget.entries() + survey.entries > budget.limits().maxEntries) {
        out.code = ExtractTooManyEntries;
        out.detail = QStringLiteral("%1 entries").arg(survey.entries);
        return out;
    }
    if (int c = budget.declare(survey.bytes)) {
        out.code = c;
        out.detail = QStringLiteral("the entries declare %1 bytes").arg(survey.bytes);
        return out;
    }
    if (available >= 0 && survey.footprint > available) {
        out.code = ExtractNoSpace;
        out.needed = survey.footprint;
        out.available = available;
        out.detail = QStringLiteral("needs %1 bytes, %2 free").arg(survey.footprint).arg(available);
        return out;
    }

    // 2. The data, into a staging folder.
    ReadHandle a = openReader(archivePath, password, &out.code, &out.detail);
    if (!a)
        return out;

    if (!QDir().mkpath(folder)) {
        out.code = ExtractPlacementFailed;
        out.detail = QLatin1String("cannot create ") + folder;
        return out;
    }
    // Staging inside the destination: same file system, so the final move is a
    // rename; a hidden name keeps it out of folder listings meanwhile.
    QTemporaryDir stage(folder + QLatin1String("/.strandel-unzip-XXXXXX"));
    if (!stage.isValid()) {
        out.code = ExtractPlacementFailed;
        out.detail = stage.errorString();
        return out;
    }
    const QString root = stage.path();

    auto fail = [&](int code, const QString &detail, const QString &raw = QString()) {
        out.code = code;
        out.detail = detail;
        out.entry = raw;
        out.bytes = budget.written() - startBytes;
        return out; // the staging folder goes with `stage`
    };

    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        archive_entry *e = nullptr;
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) // a warning on a header is damage as well
            return fail(r == ARCHIVE_WARN ? ExtractDamaged : ExtractNotAnArchive, errorText(a.get()));
        if (int c = budget.addEntry())
            return fail(c, QLatin1String("too many entries"));

        const QString raw = entryName(e);
        QString rel;
        if (!acceptEntry(e, screen, &rel, out)) {
            out.bytes = budget.written() - startBytes;
            return out;
        }
        const mode_t type = archive_entry_filetype(e);
        const QString target = root + QLatin1Char('/') + rel;
        out.entries << rel;

        if (type == AE_IFDIR) {
            if (!QDir().mkpath(target))
                return fail(ExtractWriteFailed, QLatin1String("cannot create ") + rel, raw);
            continue;
        }
        // The announced size bounds what this entry may write: a deflate
        // stream can expand a thousandfold, whatever its header says.
        const qint64 declared = archive_entry_size_is_set(e) ? archive_entry_size(e) : -1;
        if (declared >= 0)
            if (int c = budget.declare(declared))
                return fail(c, QStringLiteral("%1 declares %2 bytes").arg(raw).arg(declared), raw);

        const QFileInfo ti(target);
        if (!QDir().mkpath(ti.path()))
            return fail(ExtractWriteFailed, QLatin1String("cannot create folder for ") + rel, raw);
        if (ti.isDir())
            return fail(ExtractWriteFailed, QLatin1String("a folder has this name: ") + rel, raw);
        QFile f(target);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(ExtractWriteFailed, f.errorString() + QLatin1String(": ") + rel, raw);
        qint64 entryBytes = 0;
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), buffer.data(), size_t(buffer.size()));
            if (n == 0)
                break;
            if (n < 0) // libarchive only warns on a bad checksum: refused all the same
                return fail(dataErrorCode(a.get()), errorText(a.get()) + QLatin1String(": ") + rel, raw);
            entryBytes += n;
            if (declared >= 0 && entryBytes > declared)
                return fail(ExtractSizeMismatch,
                            QStringLiteral("%1 holds more than its %2 bytes").arg(rel).arg(declared), raw);
            // Entries without an announced size are bounded by the free space.
            if (available >= 0 && budget.written() - startBytes + n > available) {
                out.needed = budget.written() - startBytes + n;
                out.available = available;
                return fail(ExtractNoSpace, QStringLiteral("more than %1 free bytes").arg(available), raw);
            }
            if (int c = budget.addBytes(n))
                return fail(c, rel, raw);
            if (f.write(buffer.constData(), n) != n)
                return fail(ExtractWriteFailed, f.errorString() + QLatin1String(": ") + rel, raw);
        }
        if (!f.flush() || (f.close(), f.error() != QFileDevice::NoError))
            return fail(ExtractWriteFailed, f.errorString() + QLatin1String(": ") + rel, raw);
        // Programs keep their execute permission (an update brings them);
        // nothing else of the stored mode is taken.
        if (archive_entry_perm(e) & 0100)
            f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    }

    out.bytes = budget.written() - startBytes;
    QString detail;
    if (!moveTree(root, folder, &detail))
        return fail(ExtractPlacementFailed, detail);
    return out;
}

namespace {

// 1234567 -> "1 234 567": the digits grouped by three, as French writes them.
QString grouped(qint64 n)
{
    QString digits = QString::number(n);
    for (int i = digits.size() - 3; i > 0 && digits.at(i - 1).isDigit(); i -= 3)
        digits.insert(i, QLatin1Char(' '));
    return digits;
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

} // namespace

QString ExtractReason(const ExtractOutcome &r)
{
    switch (r.code) {
    case ExtractOk:
        return QString();
    case ExtractArchiveMissing:
        return QStringLiteral("Le fichier est introuvable ou ne peut pas être ouvert.");
    case ExtractNotAnArchive:
        return QStringLiteral("Le fichier n'est pas une archive zip lisible (incomplète ou d'un autre type).");
    case ExtractWrongPassword:
        return QStringLiteral("Le mot de passe de l'archive est refusé.");
    case ExtractDamaged:
        return QStringLiteral("L'archive est endommagée : ses données ne correspondent pas à leur somme de contrôle.");
    case ExtractUnsafePath:
        return QStringLiteral("Le nom ") + quoted(r.entry)
               + QStringLiteral(" désigne un endroit hors du répertoire de destination.");
    case ExtractUnsupportedEntry:
        return QStringLiteral("L'entrée ") + quoted(r.entry)
               + QStringLiteral(" n'est pas un fichier ordinaire (lien ou fichier spécial).");
    case ExtractTooLarge:
        return QStringLiteral("L'archive est trop volumineuse : son contenu dépasse la limite permise.");
    case ExtractRatioExceeded:
        return QStringLiteral("L'archive se décompresse bien au-delà de sa propre taille : "
                              "elle est probablement piégée (bombe de décompression).");
    case ExtractWriteFailed:
        return QStringLiteral("Écriture impossible dans le répertoire de destination "
                              "(disque plein ou accès refusé).");
    case ExtractPlacementFailed:
        return QStringLiteral("Les fichiers décompressés n'ont pas pu être placés dans le répertoire de destination.");
    case ExtractTooManyEntries:
        return QStringLiteral("L'archive contient trop de fichiers.");
    case ExtractNoSpace:
        return QStringLiteral("Espace disque insuffisant : l'archive doit écrire ") + grouped(r.needed)
               + QStringLiteral(" octets, il n'en reste que ") + grouped(r.available)
               + QStringLiteral(" de libres sur le disque de destination.");
    case ExtractSizeMismatch:
        return QStringLiteral("Le fichier ") + quoted(r.entry)
               + QStringLiteral(" contient plus de données que la taille annoncée par l'archive : "
                                "elle est endommagée ou piégée.");
    case ExtractRefused:
        return r.refusal;
    default:
        return QStringLiteral("Erreur inconnue.");
    }
}

QString ExtractFailureText(const ExtractOutcome &r)
{
    return ExtractReason(r) + QStringLiteral("\r[Référence : ") + QString::number(r.code) + QLatin1Char(']');
}

bool EnsureZipComponent(MessageSink &messages)
{
    static int state = -1;
    if (state < 0) {
        WriteHandle w(archive_write_new());
        bool ok = archive_write_set_format_zip(w.get()) == ARCHIVE_OK
                  && archive_write_set_options(w.get(), "zip:encryption=zipcrypt") == ARCHIVE_OK;
        ReadHandle r(archive_read_new());
        ok = ok && archive_read_support_format_zip(r.get()) == ARCHIVE_OK;
        state = ok ? 1 : 0;
    }
    if (state == 0)
        messages.error(QStringLiteral("Impossible d'utiliser la bibliothèque de compression (libarchive) : "
                                      "les archives zip protégées ne peuvent être ni lues ni écrites."));
    return state == 1;
}

bool ExtractArchive(const QString &archivePath, const QString &folder, const QString &password,
                    MessageSink &messages, ExtractBudget *budget, const QString &shownName)
{
    const ExtractOutcome r = extractZip(archivePath, folder, password, budget);
    if (r.code != ExtractOk) {
        messages.error(QStringLiteral("Erreur de décompression sur le fichier ")
                       + (shownName.isEmpty() ? archivePath : shownName) + QLatin1Char('\r')
                       + ExtractFailureText(r));
        return false;
    }
    return true;
}

bool ZipDictations(const QString &folder, const QString &archiveName, const QStringList &files,
                   const QString &password, QString *detail)
{
    const QString path = folder + QLatin1Char('/') + archiveName;
    QString why;
    bool ok = [&] {
        WriteHandle w(archive_write_new());
        if (archive_write_set_format_zip(w.get()) != ARCHIVE_OK
            || archive_write_set_options(w.get(), "zip:encryption=zipcrypt") != ARCHIVE_OK
            || archive_write_set_passphrase(w.get(), password.toUtf8().constData()) != ARCHIVE_OK
            || archive_write_open_filename(w.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK) {
            why = errorText(w.get());
            return false;
        }
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        for (const QString &file : files) {
            QFile in;
            QString error;
            // A dictation is a regular file: anything else (a FIFO) is refused, never waited on.
            if (!common::OpenRegularFile(in, file, QIODevice::ReadOnly, &error)) {
                why = error + QLatin1String(": ") + file;
                return false;
            }
            const QFileInfo fi(file);
            std::unique_ptr<archive_entry, void (*)(archive_entry *)> e(archive_entry_new(),
                                                                         archive_entry_free);
            archive_entry_set_pathname_utf8(e.get(), fi.fileName().toUtf8().constData());
            archive_entry_set_filetype(e.get(), AE_IFREG);
            archive_entry_set_perm(e.get(), 0644);
            archive_entry_set_size(e.get(), in.size());
            archive_entry_set_mtime(e.get(), fi.lastModified().toSecsSinceEpoch(), 0);
            if (archive_write_header(w.get(), e.get()) != ARCHIVE_OK) {
                why = errorText(w.get());
                return false;
            }
            for (;;) {
                const qint64 n = in.read(buffer.data(), buffer.size());
                if (n < 0) {
                    why = in.errorString();
                    return false;
                }
                if (n == 0)
                    break;
                if (archive_write_data(w.get(), buffer.constData(), size_t(n)) != n) {
                    why = errorText(w.get());
                    return false;
                }
            }
        }
        if (archive_write_close(w.get()) != ARCHIVE_OK) {
            why = errorText(w.get());
            return false;
        }
        return true;
    }();
    if (!ok) {
        QFile::remove(path);
        if (detail)
            *detail = why;
    }
    return ok;
}

bool ListArchive(const QString &archivePath, QStringList &entries, MessageSink &messages)
{
    entries.clear();
    int code = 0;
    QString detail;
    ReadHandle a = openReader(archivePath, QString(), &code, &detail);
    bool ok = bool(a);
    while (ok) {
        archive_entry *e = nullptr;
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            ok = false;
            break;
        }
        entries << entryName(e);
    }
    if (!ok)
        messages.error(QStringLiteral("Erreur create Xceedzip"));
    return ok;
}

} // namespace exchange
