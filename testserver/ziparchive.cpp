#include "testserver/ziparchive.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <atomic>
#include <memory>

namespace testserver {

namespace {

struct WriterDeleter
{
    void operator()(archive *a) const { archive_write_free(a); }
};
struct ReaderDeleter
{
    void operator()(archive *a) const { archive_read_free(a); }
};

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool writeZip(const QString &zipPath, const QList<ZipEntry> &entries, const QString &password, QString *error)
{
    const QString partial = zipPath + QStringLiteral(".tmp");
    std::unique_ptr<archive, WriterDeleter> a(archive_write_new());
    if (archive_write_set_format_zip(a.get()) != ARCHIVE_OK
        || archive_write_set_options(a.get(), "zip:encryption=zipcrypt") != ARCHIVE_OK
        || archive_write_set_passphrase(a.get(), password.toUtf8().constData()) != ARCHIVE_OK
        || archive_write_open_filename(a.get(), QFile::encodeName(partial).constData()) != ARCHIVE_OK)
        return fail(error, QStringLiteral("zip %1 : %2").arg(zipPath, QString::fromLocal8Bit(archive_error_string(a.get()))));
    bool ok = true;
    for (const ZipEntry &e : entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(), archive_entry_free);
        QFile file(e.filePath);
        qint64 size = e.bytes.size();
        if (!e.filePath.isEmpty()) {
            if (!file.open(QIODevice::ReadOnly)) {
                ok = fail(error, QStringLiteral("lecture impossible : %1").arg(e.filePath));
                break;
            }
            size = file.size();
        }
        archive_entry_set_pathname(entry.get(), e.name.toUtf8().constData());
        archive_entry_set_size(entry.get(), size);
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_mtime(entry.get(), QDateTime::currentSecsSinceEpoch(), 0);
        if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK) {
            ok = fail(error, QString::fromLocal8Bit(archive_error_string(a.get())));
            break;
        }
        if (e.filePath.isEmpty()) {
            if (size > 0 && archive_write_data(a.get(), e.bytes.constData(), size_t(size)) != size) {
                ok = fail(error, QString::fromLocal8Bit(archive_error_string(a.get())));
                break;
            }
        } else {
            char buffer[64 * 1024];
            qint64 n;
            while ((n = file.read(buffer, sizeof buffer)) > 0)
                if (archive_write_data(a.get(), buffer, size_t(n)) != n) {
                    ok = fail(error, QString::fromLocal8Bit(archive_error_string(a.get())));
                    break;
                }
            if (!ok)
                break;
        }
    }
    if (archive_write_close(a.get()) != ARCHIVE_OK && ok)
        ok = fail(error, QString::fromLocal8Bit(archive_error_string(a.get())));
    a.reset();
    if (!ok) {
        QFile::remove(partial);
        return false;
    }
    QFile::remove(zipPath);
    if (!QFile::rename(partial, zipPath)) {
        QFile::remove(partial);
        return fail(error, QStringLiteral("écriture impossible : %1").arg(zipPath));
    }
    return true;
}

bool checkZip(const QString &zipPath, const QString &password, QStringList *names, QString *error)
{
    std::unique_ptr<archive, ReaderDeleter> a(archive_read_new());
    archive_read_support_format_zip(a.get());
    archive_read_add_passphrase(a.get(), password.toUtf8().constData());
    if (archive_read_open_filename(a.get(), QFile::encodeName(zipPath).constData(), 64 * 1024) != ARCHIVE_OK)
        return fail(error, QStringLiteral("archive illisible : %1").arg(QString::fromLocal8Bit(archive_error_string(a.get()))));
    archive_entry *entry = nullptr;
    int count = 0;
    for (;;) {
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return fail(error, QStringLiteral("archive illisible : %1").arg(QString::fromLocal8Bit(archive_error_string(a.get()))));
        if (names)
            names->append(QString::fromUtf8(archive_entry_pathname(entry)));
        char buffer[64 * 1024];
        la_ssize_t n;
        while ((n = archive_read_data(a.get(), buffer, sizeof buffer)) > 0) {
        }
        if (n < 0)
            return fail(error, QStringLiteral("entrée illisible %1 : %2")
                                   .arg(QString::fromUtf8(archive_entry_pathname(entry)),
                                        QString::fromLocal8Bit(archive_error_string(a.get()))));
        ++count;
    }
    if (count == 0)
        return fail(error, QStringLiteral("archive vide"));
    return true;
}

namespace {

// Zips `folder` into `zipPath`: its files with their paths below it, and
// (while depth allows) each sub-folder as a nested zip named after it.
bool zipFolder(const QString &folder, const QString &zipPath, int nestedLevels, const QString &workFolder,
               QString *error)
{
    QList<ZipEntry> entries;
    QStringList temporaries;
    const QDir dir(folder);
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (info.isDir()) {
            if (nestedLevels > 0) {
                static std::atomic<int> counter{0};
                const QString nested =
                    QDir(workFolder).filePath(QStringLiteral("nested-%1.zip").arg(counter.fetch_add(1)));
                if (!zipFolder(info.filePath(), nested, nestedLevels - 1, workFolder, error))
                    return false;
                temporaries.append(nested);
                entries.append({info.fileName() + QStringLiteral(".zip"), nested, {}});
            } else {
                QDir sub(info.filePath());
                const QString base = info.fileName() + QLatin1Char('/');
                QStringList stack{QString()};
                while (!stack.isEmpty()) {
                    const QString rel = stack.takeLast();
                    const QDir d(sub.filePath(rel));
                    for (const QFileInfo &f : d.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
                        const QString r = rel.isEmpty() ? f.fileName() : rel + QLatin1Char('/') + f.fileName();
                        if (f.isDir())
                            stack.append(r);
                        else
                            entries.append({base + r, f.filePath(), {}});
                    }
                }
            }
        } else {
            entries.append({info.fileName(), info.filePath(), {}});
        }
    }
    const bool ok = writeZip(zipPath, entries, QLatin1String(kArchivePassword), error);
    for (const QString &t : temporaries)
        QFile::remove(t);
    return ok;
}

} // namespace

bool buildStudyArchive(const QString &studyFolder, const QString &fichierZip, const QString &accession,
                       const QString &zipPath, const QString &workFolder, QString *error)
{
    const QDir dir(studyFolder);
    if (!dir.exists())
        return fail(error, QStringLiteral("étude introuvable : %1").arg(studyFolder));
    QDir().mkpath(workFolder);
    QList<ZipEntry> entries;
    QStringList temporaries;
    entries.append({QStringLiteral("ftp.ok"), {}, QByteArray()});
    const QByteArray marker = fichierZip.toLatin1() + "\r\n" + QDate::currentDate().toString(Qt::ISODate).toLatin1()
                              + "\r\n" + accession.toLatin1() + "\r\n";
    entries.append({fichierZip + QLatin1Char('_') + accession + QStringLiteral(".ok"), {}, marker});
    bool ok = true;
    for (const QFileInfo &info : dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        // Files of the test set-up itself stay out of the archive.
        if (info.fileName() == QLatin1String("naissance.txt") || info.fileName() == QLatin1String("manifest.json"))
            continue;
        if (info.isDir()) {
            const QString nested = QDir(workFolder).filePath(QStringLiteral("top-") + info.fileName() + QStringLiteral(".zip"));
            if (!zipFolder(info.filePath(), nested, 1, workFolder, error)) {
                ok = false;
                break;
            }
            temporaries.append(nested);
            entries.append({info.fileName() + QStringLiteral(".zip"), nested, {}});
        } else {
            entries.append({info.fileName(), info.filePath(), {}});
        }
    }
    if (ok)
        ok = writeZip(zipPath, entries, QLatin1String(kArchivePassword), error);
    for (const QString &t : temporaries)
        QFile::remove(t);
    return ok;
}

} // namespace testserver
