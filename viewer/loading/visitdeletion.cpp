#include "viewer/loading/visitdeletion.h"

#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <functional>

namespace loading {

namespace {

// Every image record of a study record, with its Referenced File ID values.
void ForEachImageRecord(const imaging::DicomDataSet &study, const std::function<void(const QStringList &)> &visit)
{
    const auto series = study.Children();
    for (int e = 1; e <= series->Count(); ++e) {
        const auto images = series->Item(e)->Children();
        for (int i = 1; i <= images->Count(); ++i)
            visit(ReferencedFileValues(*images->Item(i)->Attributes()));
    }
}

QStringList Components(const QStringList &values)
{
    QStringList components;
    for (const QString &value : values) {
        const QString trimmed = value.trimmed();
        if (!trimmed.isEmpty())
            components << trimmed;
    }
    return components;
}

// A DICOM file: as media carry them (128 bytes of preamble, then "DICM"), or any file
// the imaging component reads as one (a data set without preamble, which the viewer
// shows as well).
bool IsDicomFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(132);
    file.close();
    if (head.size() == 132 && head.mid(128, 4) == "DICM")
        return true;
    try {
        auto images = NewImages();
        images->ReadFile(path);
        images->Clear();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool IsCatalogueName(const QString &name)
{
    return name.compare(QLatin1String("DICOMDIR"), Qt::CaseInsensitive) == 0
           || name.startsWith(QLatin1String("DICOMDIR."), Qt::CaseInsensitive);
}

QString Canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// What the other study records of the folder use: their files and the folders those
// lie in (found as the catalogue names them, whether or not the file is still there).
struct OtherRecords
{
    QSet<QString> files;
    QSet<QString> folders;
    QSet<QString> foldersLookedUp; // relative folder paths already resolved, lower-cased
};

void NoteOtherRecord(FolderLookup &lookup, const QStringList &values, OtherRecords &others)
{
    const QString path = lookup.ReferencedFile(values);
    if (!path.isEmpty())
        others.files.insert(Canonical(path));
    const QStringList components = Components(values);
    for (int depth = 1; depth < components.size(); ++depth) {
        const QStringList folder = components.mid(0, depth);
        const QString key = folder.join(QLatin1Char('/')).toLower();
        if (others.foldersLookedUp.contains(key))
            continue;
        others.foldersLookedUp.insert(key);
        const QString found = lookup.Find(folder, true);
        if (!found.isEmpty())
            others.folders.insert(Canonical(found));
    }
}

} // namespace

VisitDeletionPlan PlanVisitDeletion(const QString &programFolder, const VisitToDelete &visit)
{
    VisitDeletionPlan plan;
    FolderLookup lookup(programFolder);
    const QDir folder(programFolder);
    const QStringList names = DicomDirNames(programFolder);
    if (!names.contains(visit.catalogue)) {
        plan.refusal = VisitDeletionPlan::Changed;
        return plan;
    }

    QStringList mine; // the study's existing files, canonical, in catalogue order
    QSet<QString> mineSet;
    // Other studies of the same catalogue count only while the catalogue stays: once it
    // goes with this study, its records name nothing any more.
    OtherRecords others;
    OtherRecords sameCatalogue;
    bool catalogueHoldsOthers = false;

    for (const QString &name : names) {
        auto dataSets = NewDataSets();
        imaging::DicomDataSetPtr root;
        try {
            root = dataSets->ReadDirectory(folder.filePath(name));
        } catch (const std::exception &error) {
            // Files that an unreadable catalogue names cannot be told apart: delete nothing.
            plan.refusal = VisitDeletionPlan::Unreadable;
            plan.errorText = QString::fromUtf8(error.what());
            return plan;
        }
        const bool selectedCatalogue = name == visit.catalogue;
        bool found = false;
        const auto patients = root->Children();
        for (int p = 1; p <= patients->Count(); ++p) {
            const auto patient = patients->Item(p);
            const auto studies = patient->Children();
            for (int s = 1; s <= studies->Count(); ++s) {
                const auto study = studies->Item(s);
                const bool selected = selectedCatalogue && p == visit.patientIndex && s == visit.studyIndex;
                if (selected) {
                    if (patient->PatientID() != visit.patientId || study->StudyUID() != visit.studyUid) {
                        plan.refusal = VisitDeletionPlan::Changed;
                        return plan;
                    }
                    found = true;
                    bool outside = false;
                    ForEachImageRecord(*study, [&](const QStringList &values) {
                        bool unsafe = false;
                        const QString path = lookup.ReferencedFile(values, &unsafe);
                        outside = outside || unsafe;
                        if (path.isEmpty())
                            return; // already gone
                        const QString canonical = Canonical(path);
                        if (!mineSet.contains(canonical)) {
                            mineSet.insert(canonical);
                            mine << canonical;
                        }
                    });
                    if (outside) {
                        plan.refusal = VisitDeletionPlan::OutsideFolder;
                        return plan;
                    }
                    continue;
                }
                bool studyHasFile = false;
                ForEachImageRecord(*study, [&](const QStringList &values) {
                    NoteOtherRecord(lookup, values, selectedCatalogue ? sameCatalogue : others);
                    if (selectedCatalogue && !studyHasFile) {
                        bool unsafe = false;
                        // A record reaching outside is listed as a visit: count it as one.
                        studyHasFile = !lookup.ReferencedFile(values, &unsafe).isEmpty() || unsafe;
                    }
                });
                catalogueHoldsOthers = catalogueHoldsOthers || studyHasFile;
            }
        }
        dataSets->Clear();
        if (selectedCatalogue && !found) {
            plan.refusal = VisitDeletionPlan::Changed;
            return plan;
        }
    }

    if (catalogueHoldsOthers) {
        others.files.unite(sameCatalogue.files);
        others.folders.unite(sameCatalogue.folders);
    }
    const QString root = Canonical(lookup.Root());
    for (const QString &file : mine) {
        const QFileInfo info(file);
        if (others.files.contains(file))
            plan.sharedKept << file;
        else if ((Canonical(info.path()) == root && IsCatalogueName(info.fileName())) || !IsDicomFile(file))
            plan.otherKept << file;
        else
            plan.files << file;
    }
    plan.protectedFolders = QStringList(others.folders.begin(), others.folders.end());
    if (!catalogueHoldsOthers)
        plan.cataloguePath = folder.filePath(visit.catalogue);
    return plan;
}

VisitDeletionResult ExecuteVisitDeletion(const QString &programFolder, const VisitDeletionPlan &plan)
{
    VisitDeletionResult result;
    if (plan.refusal != VisitDeletionPlan::None)
        return result;
    const QString root = Canonical(programFolder);
    const QString inside = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    const QSet<QString> protectedFolders(plan.protectedFolders.begin(), plan.protectedFolders.end());
    QSet<QString> parents;
    for (const QString &file : plan.files) {
        if (QFile::remove(file)) {
            result.deletedFiles << file;
            parents.insert(QFileInfo(file).path());
        } else {
            result.failed << file;
        }
    }
    // Deepest folders first, so that a folder emptied by removing its sub-folders goes too.
    QStringList folders(parents.begin(), parents.end());
    std::sort(folders.begin(), folders.end(), [](const QString &a, const QString &b) {
        return a.count(QLatin1Char('/')) > b.count(QLatin1Char('/'));
    });
    for (QString current : folders) {
        while (!root.isEmpty()) {
            const QString canonical = Canonical(current);
            if (canonical.isEmpty() || canonical == root || !canonical.startsWith(inside)
                || protectedFolders.contains(canonical))
                break;
            // rmdir removes only an empty folder: anything left in it keeps it.
            if (!QDir().rmdir(current))
                break;
            result.removedFolders << current;
            current = QFileInfo(current).path();
        }
    }
    if (result.ok() && !plan.cataloguePath.isEmpty()) {
        if (QFile::remove(plan.cataloguePath))
            result.catalogueDeleted = true;
        else
            result.failed << plan.cataloguePath;
    }
    return result;
}

} // namespace loading
