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

// ------------------------------------------------------------------ update

namespace {

// What a file of the folder of the visits is, when it is not the transfer
// client's to replace; empty otherwise.
QString protectedKind(const QString &name)
{
    const QString upper = name.toUpper();
    const QString ext = upper.contains(QLatin1Char('.')) ? upper.mid(upper.lastIndexOf(QLatin1Char('.'))) : QString();
    if (upper.startsWith(QLatin1String("DICOMDIR")))
        return QStringLiteral("un catalogue d'images");
    if (ext == QLatin1String(".DCM"))
        return QStringLiteral("une image DICOM");
    if (ext == QLatin1String(".RAP"))
        return QStringLiteral("un fichier de rapports");
    if (ext == QLatin1String(".WAV"))
        return upper.startsWith(QLatin1String("RES_")) ? QStringLiteral("un message vocal du dictaphone")
                                                       : QStringLiteral("une dictée");
    if (upper.startsWith(QLatin1String("KORVANECD")) && ext == QLatin1String(".INI"))
        return QStringLiteral("la liste des radiologistes");
    if (upper.startsWith(QLatin1String("KORVANECD")))
        return QStringLiteral("un fichier du visualiseur KorvaneCD");
    if (ext == QLatin1String(".INI"))
        return upper == QLatin1String("STRANDEL.INI") ? QStringLiteral("les paramètres de Strandel")
                                                      : QStringLiteral("un fichier de paramètres");
    if (ext == QLatin1String(".OK") || ext == QLatin1String(".OK2"))
        return QStringLiteral("un marqueur de visite reçue");
    if (upper.contains(QLatin1String(".ZIP")))
        return QStringLiteral("une archive ou un fragment d'archive");
    if (ext == QLatin1String(".REQ") || ext == QLatin1String(".ERR"))
        return QStringLiteral("une requête au serveur d'images");
    return QString();
}

bool isLibrary(const QString &upper)
{
    return upper.endsWith(QLatin1String(".DLL")) || upper.endsWith(QLatin1String(".SO"))
           || upper.contains(QLatin1String(".SO."));
}

} // namespace

QString UpdateEntryRefusal(const QString &path, bool folder)
{
    const QString shown = QLatin1Char('"') + path + QLatin1Char('"');
    if (folder || path.contains(QLatin1Char('/')))
        return QStringLiteral("Elle contient ") + shown
               + QStringLiteral(", un répertoire : une mise à jour ne contient que des fichiers du programme, "
                                "placés directement dans son répertoire, jamais un répertoire d'images.");
    const QString kind = protectedKind(path);
    if (!kind.isEmpty())
        return QStringLiteral("Elle contient ") + shown + QStringLiteral(", ") + kind
               + QStringLiteral(" : une mise à jour ne crée ni ne remplace jamais les données des patients, "
                                "les fichiers du visualiseur ni les paramètres.");
    const QString upper = path.toUpper();
    if (upper.startsWith(QLatin1String("STRANDEL")) || isLibrary(upper))
        return QString();
    return QStringLiteral("Elle contient ") + shown
           + QStringLiteral(", qui n'est pas un fichier du programme Strandel "
                            "(programme, programme de mise à jour, bibliothèque ou StrandelNews.txt).");
}

QString UpdateArchiveNameRefusal(const QString &name)
{
    // Any other name could be a file of the visits ("A123.wav", the
    // radiologist list...), which saving the archive would replace.
    const QString upper = name.toUpper();
    if (!upper.endsWith(QLatin1String(".ZIP")))
        return QStringLiteral("ce n'est pas le nom d'une archive zip.");
    if (upper.startsWith(QLatin1String("DICOMDIR")) || upper.startsWith(QLatin1String("KORVANECD")))
        return QStringLiteral("ce nom est celui d'un fichier des visites ou du visualiseur.");
    return QString();
}

} // namespace exchange
