#include "transfer/exchange/unpack.h"

#include "common/cp1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace exchange {

QString destinationFolder(const UnpackContext &ctx)
{
    return ctx.repDestination.isEmpty() ? ctx.workingFolder : ctx.repDestination;
}

QString findNoCase(const QString &folder, const QString &name)
{
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList all = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &entry : all)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + entry;
    return QString();
}

bool UnpackNested(const QString &folder, const QString &archiveName, const QString &password,
                  MessageSink &messages, ExtractBudget *budget)
{
    const QString target = archiveName.size() > 4
                               ? folder + QLatin1Char('/') + archiveName.left(archiveName.size() - 4)
                               : folder;
    if (!QDir().mkpath(target)) {
        messages.error(QStringLiteral("Erreur: Le création du répertoire ne fonctionne pas : ") + target);
        return false;
    }
    const QString path = folder + QLatin1Char('/') + archiveName;
    if (!ExtractArchive(path, target, password, messages, budget)) {
        messages.error(QStringLiteral("Erreur de décompression du zip : ") + path
                       + QStringLiteral("\rdans le répertoire : ") + target);
        return false;
    }
    QFile::remove(path);

    bool ok = true;
    const QStringList inner = QDir(target).entryList({QStringLiteral("*.zip")}, QDir::Files,
                                                     QDir::Name | QDir::IgnoreCase);
    for (const QString &zip : inner)
        ok = UnpackNested(target, zip, password, messages, budget) && ok;
    return ok;
}

bool UnpackArchive(const UnpackContext &ctx, const QString &archiveName, const QString &password)
{
    MessageSink &messages = *ctx.messages;
    const QString ftpOk = findNoCase(ctx.workingFolder, QStringLiteral("ftp.ok"));
    if (!ftpOk.isEmpty())
        QFile::remove(ftpOk);

    if (!EnsureZipComponent(messages))
        return false;

    const QString archivePath = ctx.workingFolder + QLatin1Char('/') + archiveName;
    ExtractBudget budget(ctx.limits, QFileInfo(archivePath).size());
    if (!ExtractArchive(archivePath, destinationFolder(ctx), password, messages, &budget)) {
        messages.error(QStringLiteral("Erreur de décompression sur le fichier ") + archiveName);
        return false;
    }

    QStringList entries;
    ListArchive(archivePath, entries, messages);

    bool nestedOk = true;
    for (const QString &raw : entries) {
        const QString entry = safeEntryPath(raw);
        if (!entry.endsWith(QLatin1String(".ZIP"), Qt::CaseInsensitive))
            continue;
        // Nested archives are looked for in the working folder, also when the
        // archive went to RepDestination (then they are not found there).
        if (QFileInfo(ctx.workingFolder + QLatin1Char('/') + entry).isFile()) {
            if (!UnpackNested(ctx.workingFolder, entry, password, messages, &budget))
                nestedOk = false;
        } else {
            nestedOk = false;
        }
    }
    if (!nestedOk)
        return false;
    if (!ctx.repDestination.isEmpty())
        return true;
    if (findNoCase(ctx.workingFolder, QStringLiteral("ftp.ok")).isEmpty()) {
        messages.error(QStringLiteral(
            "Erreur.\r\rl'absence du fichier \"ftp.ok\" semble indiquer que le fichier\r"
            "d'images reçu a été créé avec une version précédente de StrandelUpload.\r\r"
            "Assurez-vous que le serveur d'images est à jour\r"));
        return false;
    }
    return true;
}

QString VisitSuffix(const QString &workingFolder, const QString &fichierZip, const QDateTime &now)
{
    const QStringList names =
        QDir(workingFolder).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names) {
        if (!name.toUpper().endsWith(QLatin1String(".OK"))
            || name.left(fichierZip.size()).compare(fichierZip, Qt::CaseInsensitive) != 0)
            continue;
        QString suffix;
        QFile f(workingFolder + QLatin1Char('/') + name);
        if (f.size() < 1024 * 1024 && f.open(QIODevice::ReadOnly)) {
            const QStringList lines =
                common::fromCp1252(f.readAll()).split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
            if (lines.size() >= 3)
                suffix = lines.at(2);
        }
        // The suffix becomes part of a file name: no separators, drive
        // letters, control characters or "..", so it cannot leave the folder.
        suffix.remove(QRegularExpression(QStringLiteral("[/\\\\:\\x00-\\x1f\\x7f*?\"<>|]")));
        while (suffix.contains(QLatin1String("..")))
            suffix.replace(QLatin1String(".."), QLatin1String("."));
        suffix = suffix.trimmed();
        if (suffix == QLatin1String("."))
            suffix.clear();
        // An empty suffix would give every such visit the same name
        // "DICOMDIR.", each new one replacing the last: use the time stamp.
        if (!suffix.isEmpty())
            return suffix;
        break;
    }
    return now.toString(QStringLiteral("yyMMddHHmmss"));
}

bool KeepVisitDicomdir(const QString &workingFolder, const QString &suffix, MessageSink &messages)
{
    const QString newName = QStringLiteral("DICOMDIR.") + suffix;
    const QString source = workingFolder + QStringLiteral("/DICOMDIR");
    if (!QFileInfo(source).isFile())
        return false;
    const QString target = workingFolder + QLatin1Char('/') + newName;
    const QString temp = workingFolder + QStringLiteral("/.DICOMDIR.copy");
    QFile::remove(temp);
    bool copied = QFile::copy(source, temp);
    if (copied) {
        if (QFileInfo(target).isFile())
            QFile::remove(target);
        copied = QFile::rename(temp, target);
    }
    if (!copied) {
        QFile::remove(temp);
        messages.error(QStringLiteral("Erreur de copie : DICOMDIR ") + newName);
        return false;
    }
    if (!QFile::remove(source))
        messages.error(QStringLiteral("Pas capable d'effacer le fichier : DICOMDIR"));
    return true;
}

} // namespace exchange
