#include "viewer/loading/cataloguefiles.h"

#include "imaging/imaging.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

namespace loading {

QStringList DicomDirNames(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0
            || name.startsWith(QLatin1String("DICOMDIR."), Qt::CaseInsensitive)) {
            names << name;
        }
    }
    return names;
}

QStringList ReferencedFileValues(const imaging::DicomAttributes &attributes)
{
    QStringList values;
    const auto attribute = attributes.Item(0x0004, 0x1500);
    if (!attribute || !attribute->Exists())
        return values;
    const int count = attribute->VM();
    for (int i = 1; i <= count; ++i)
        values << attribute->ValueByIndex(i).toString();
    return values;
}

bool IsSafeComponent(const QString &component)
{
    if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
        return false;
    if (component.contains(QLatin1Char('/')) || component.contains(QLatin1Char('\\'))
        || component.contains(QChar(0)))
        return false;
    if (component.size() >= 2 && component.at(1) == QLatin1Char(':'))
        return false; // a drive letter
    return true;
}

FolderLookup::FolderLookup(QString root) : root_(std::move(root))
{
    while (root_.size() > 1 && (root_.endsWith(QLatin1Char('/')) || root_.endsWith(QLatin1Char('\\'))))
        root_.chop(1);
    canonicalRoot_ = QFileInfo(root_).canonicalFilePath();
}

QString FolderLookup::CanonicalFolder(const QString &folder) const
{
    auto found = canonicalFolders_.constFind(folder);
    if (found == canonicalFolders_.constEnd())
        found = canonicalFolders_.insert(folder, QFileInfo(folder).canonicalFilePath());
    return *found;
}

bool FolderLookup::Inside(const QString &path) const
{
    if (canonicalRoot_.isEmpty())
        return false;
    // Links are resolved once per folder; a file that is itself a link is resolved on
    // its own.
    const QFileInfo info(path);
    QString canonical;
    if (info.isSymLink() || info.isDir())
        canonical = info.canonicalFilePath();
    else {
        const QString folder = CanonicalFolder(info.path());
        canonical = folder.isEmpty() ? QString() : folder + QLatin1Char('/') + info.fileName();
    }
    if (canonical.isEmpty())
        return false;
    return canonical == canonicalRoot_
           || canonical.startsWith(canonicalRoot_ == QLatin1String("/") ? canonicalRoot_ : canonicalRoot_ + QLatin1Char('/'));
}

QString FolderLookup::FindEntry(const QString &folder, const QString &name, bool wantFolder)
{
    const QString direct = folder + QLatin1Char('/') + name;
    const QFileInfo info(direct);
    if (info.exists() && (wantFolder ? info.isDir() : true))
        return direct;
    auto listing = listings_.find(folder);
    if (listing == listings_.end()) {
        QHash<QString, QString> entries;
        QDir dir(folder);
        const QStringList all = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                              QDir::Name);
        for (const QString &entry : all) {
            const QString key = entry.toLower();
            if (!entries.contains(key))
                entries.insert(key, entry);
        }
        listing = listings_.insert(folder, entries);
    }
    const auto found = listing->constFind(name.toLower());
    if (found == listing->constEnd())
        return QString();
    const QString path = folder + QLatin1Char('/') + *found;
    if (wantFolder && !QFileInfo(path).isDir())
        return QString();
    return path;
}

QString FolderLookup::Find(const QStringList &components, bool wantFolder)
{
    for (const QString &component : components) {
        if (!IsSafeComponent(component))
            return QString();
    }
    // The path as written, in one look-up; else component by component.
    QString current = root_;
    for (const QString &component : components)
        current += QLatin1Char('/') + component;
    const QFileInfo direct(current);
    if (!(wantFolder ? direct.isDir() : direct.isFile())) {
        current = root_;
        for (int i = 0; i < components.size(); ++i) {
            const bool last = i == components.size() - 1;
            current = FindEntry(current, components.at(i), last ? wantFolder : true);
            if (current.isEmpty())
                return QString();
        }
        if (wantFolder ? !QFileInfo(current).isDir() : !QFileInfo(current).isFile())
            return QString();
    }
    if (!Inside(current))
        return QString();
    return current;
}

QString FolderLookup::ReferencedFile(const QStringList &values, bool *unsafe)
{
    if (unsafe)
        *unsafe = false;
    QStringList components;
    for (const QString &value : values) {
        const QString trimmed = value.trimmed();
        if (trimmed.isEmpty())
            continue;
        if (!IsSafeComponent(trimmed)) {
            if (unsafe)
                *unsafe = true;
            return QString();
        }
        components << trimmed;
    }
    if (components.isEmpty())
        return QString(); // the catalogue's own folder: not a file
    QString path = Find(components);
    if (path.isEmpty()) {
        QStringList withExtension = components;
        withExtension.last() += QStringLiteral(".dcm");
        path = Find(withExtension);
    }
    if (path.isEmpty() && unsafe) {
        // Found as a file but outside the root (a link): report it as unsafe.
        QString literal = root_;
        for (const QString &c : components)
            literal += QLatin1Char('/') + c;
        if (QFileInfo(literal).isFile() && !Inside(literal))
            *unsafe = true;
    }
    return path;
}

} // namespace loading
