#include "transfer/exchange/housekeeping.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace exchange {

namespace {

// A folder as the purge means it: a real folder, not a link, not hidden.
bool plainFolder(const QFileInfo &fi)
{
    return fi.isDir() && !fi.isSymLink() && !fi.isHidden();
}

// Every file at any depth is a ".dcm" file and every subfolder is plain.
bool holdsOnlyDicom(const QString &path)
{
    const QFileInfoList items =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &item : items) {
        if (item.isSymLink())
            return false;
        if (item.isDir()) {
            if (!plainFolder(item) || !holdsOnlyDicom(item.filePath()))
                return false;
        } else if (!item.isFile() || !item.fileName().toUpper().endsWith(QLatin1String(".DCM"))) {
            return false;
        }
    }
    return true;
}

QString desktopQuote(const QString &arg)
{
    // Exec quoting of the desktop entry format, then the escaping of a string value.
    QString q;
    for (const QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            q += QLatin1Char('\\');
        q += c;
    }
    q = QLatin1Char('"') + q + QLatin1Char('"');
    q.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    q.replace(QLatin1Char('%'), QLatin1String("%%"));
    return q;
}

QString desktopValue(const QString &text)
{
    QString v = text;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    v.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    v.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    return v;
}

} // namespace

void PurgeMarkers(const QString &workingFolder)
{
    const QStringList names = QDir(workingFolder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QString upper = name.toUpper();
        if ((upper.endsWith(QLatin1String(".OK")) && upper != QLatin1String("FTP.OK"))
            || upper.endsWith(QLatin1String(".OK2")))
            QFile::remove(workingFolder + QLatin1Char('/') + name);
    }
}

QStringList PurgeCandidates(const QString &workingFolder, const QDate &comparison, MessageSink &messages)
{
    QStringList out;
    if (QFileInfo(QDir::cleanPath(workingFolder)).fileName().toUpper() != QLatin1String("KORVANECD")) {
        messages.error(QStringLiteral("Erreur: Le répertoire courrant n'est pas KorvaneCD"));
        return out;
    }
    const QFileInfoList items = QDir(workingFolder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &item : items) {
        if (item.lastModified().date() > comparison)
            continue;
        if (plainFolder(item)) {
            if (holdsOnlyDicom(item.filePath()))
                out << item.fileName();
        } else if (item.isFile() && !item.isSymLink()
                   && item.fileName().left(8).toUpper() == QLatin1String("DICOMDIR")) {
            out << item.fileName();
        }
    }
    return out;
}

void PurgeList(const QString &workingFolder, const QStringList &candidates,
               const std::function<void(const QString &)> &progress, const std::function<void(int)> &ticked)
{
    for (int i = 0; i < candidates.size(); ++i) {
        const QString &name = candidates.at(i);
        if (progress)
            progress(name);
        const QString path = workingFolder + QLatin1Char('/') + name;
        if (name.left(8).toUpper() == QLatin1String("DICOMDIR"))
            QFile::remove(path);
        else if (plainFolder(QFileInfo(path)))
            QDir(path).removeRecursively(); // links inside are removed, never followed
        if (ticked)
            ticked(i);
    }
}

void FullPurge(const QString &workingFolder, MessageSink &messages)
{
    PurgeList(workingFolder, PurgeCandidates(workingFolder, QDate::currentDate(), messages));
    PurgeMarkers(workingFolder);
}

QString desktopFolder()
{
    const QString d = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return d.isEmpty() ? QDir::homePath() + QStringLiteral("/Desktop") : d;
}

bool CreateDesktopShortcut(const QString &folder, const QString &name, const QString &target)
{
    if (!QDir().mkpath(folder))
        return false;
    const QFileInfo t(target);
    QSaveFile f(folder + QLatin1Char('/') + name + QStringLiteral(".desktop"));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Version=1.0\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Path=%3\n"
                                        "Terminal=false\n")
                             .arg(desktopValue(name), desktopQuote(t.absoluteFilePath()),
                                  desktopValue(t.absolutePath()));
    f.write(text.toUtf8());
    if (!f.commit())
        return false;
    // Desktops start launchers only when they are executable.
    QFile::setPermissions(folder + QLatin1Char('/') + name + QStringLiteral(".desktop"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                              | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                              | QFileDevice::ExeOther);
    return true;
}

bool CreateProgramShortcuts(const QString &folder, const QString &programFolder, bool viewer, bool client)
{
    bool ok = true;
    if (viewer)
        ok = CreateDesktopShortcut(folder, QStringLiteral("KorvaneCD"),
                                   programFolder + QStringLiteral("/KorvaneCD")) && ok;
    if (client)
        ok = CreateDesktopShortcut(folder, QStringLiteral("Strandel"),
                                   programFolder + QStringLiteral("/Strandel")) && ok;
    return ok;
}

} // namespace exchange
