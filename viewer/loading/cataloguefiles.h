#pragma once
// Finding catalogues and the files they name in the program folder.
//
// Catalogues are the files "DICOMDIR" and "DICOMDIR." + suffix, whatever their case.
// A catalogue names its files by path components (Referenced File ID). The folder
// may have been copied from a CD with other letter case than the catalogue says, so a
// path that is not found as written is looked up component by component without
// regard to case, and then once more with ".dcm" appended. A path that would leave the
// program folder ("..", an absolute path, a component holding a separator, a link
// pointing elsewhere) is never opened.

#include <QHash>
#include <QString>
#include <QStringList>

namespace imaging {
class DicomAttributes;
}

namespace loading {

// Names (without folder) of the catalogue files of `folder`, in the order the file
// system lists them.
QStringList DicomDirNames(const QString &folder);

// The values of a catalogue image record's Referenced File ID (0004,1500), one path
// component each, as written; empty when the record has none.
QStringList ReferencedFileValues(const imaging::DicomAttributes &attributes);

// Whether one path component stays inside its folder: not empty, not "." or "..", no
// "/" or "\", no drive ("C:") and no NUL.
bool IsSafeComponent(const QString &component);

// Looks paths up under one root folder, remembering folder listings for the
// case-insensitive search. Not thread-safe; one per load or per fill.
class FolderLookup
{
public:
    explicit FolderLookup(QString root);

    const QString &Root() const { return root_; }

    // The existing file (or folder, when `wantFolder`) named by `components` under the
    // root: as written, else without regard to case. Empty when not found or unsafe.
    QString Find(const QStringList &components, bool wantFolder = false);

    // A catalogue's Referenced File ID (its non-empty values) as a file path: as
    // written, then without regard to case, then both again with ".dcm" appended.
    // Empty when no file is found or the path is unsafe; *unsafe tells the latter.
    QString ReferencedFile(const QStringList &values, bool *unsafe = nullptr);

    // Whether `path` (existing) lies inside the root once links are resolved.
    bool Inside(const QString &path) const;

private:
    QString FindEntry(const QString &folder, const QString &name, bool wantFolder);
    QString CanonicalFolder(const QString &folder) const;

    QString root_;
    QString canonicalRoot_;
    // folder -> lower-case name -> the entry's real name
    QHash<QString, QHash<QString, QString>> listings_;
    // folder -> its path with links resolved
    mutable QHash<QString, QString> canonicalFolders_;
};

} // namespace loading
