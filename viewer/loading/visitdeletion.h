#pragma once
// Deleting one visit (one study record of one catalogue) from the program folder.
//
// Visits share folders: a patient CD lays every study of every patient under one
// "DICOM" folder, and the transfer client leaves several kept visits ("DICOMDIR." +
// suffix) side by side in the same folder, sometimes naming the same files. So a visit
// is deleted file by file: only the files that the study's own image records name,
// and none that another study record (of any catalogue in the folder) also names;
// then the folders that this leaves empty, never one that another record's files
// lie in; then the study's catalogue, when no other study of it still has a file.
//
// A catalogue that holds other studies is left as it is: rewriting it would put the
// other visits at risk for no gain. The deleted study's records stay in it, name no
// file any more, and the open-visit dialog no longer lists them.

#include <QString>
#include <QStringList>

namespace loading {

// The study to delete: its catalogue and its place in it (1-based patient and study
// record indexes), with the identifiers the row showed, checked again before anything
// is deleted.
struct VisitToDelete
{
    QString catalogue; // file name in the program folder
    int patientIndex = 0;
    int studyIndex = 0;
    QString patientId;
    QString studyUid;
};

struct VisitDeletionPlan
{
    enum Refusal {
        None,
        Unreadable,   // a catalogue of the folder cannot be read (errorText says why)
        Changed,      // the catalogue no longer holds that study where the row said
        OutsideFolder // a record of the study names a path outside the program folder
    };
    Refusal refusal = None;
    QString errorText;

    QStringList files;      // files to delete, in catalogue order
    QStringList sharedKept; // files of the study that another study record also names
    QStringList otherKept;  // named by the study but not deleted: not a DICOM file, or a catalogue
    // Folders holding other records' files: never removed, even when empty.
    QStringList protectedFolders;
    QString cataloguePath; // the catalogue to delete afterwards; empty when it holds other studies
};

// Reads every catalogue of `programFolder` and works out what deleting `visit` removes.
// Deletes nothing.
VisitDeletionPlan PlanVisitDeletion(const QString &programFolder, const VisitToDelete &visit);

struct VisitDeletionResult
{
    QStringList deletedFiles;
    QStringList removedFolders;
    bool catalogueDeleted = false;
    QStringList failed; // files or the catalogue that could not be deleted
    bool ok() const { return failed.isEmpty(); }
};

// Carries out a plan: the files, then the folders left empty up to (not including) the
// program folder, then the catalogue, but only when every file went.
VisitDeletionResult ExecuteVisitDeletion(const QString &programFolder, const VisitDeletionPlan &plan);

} // namespace loading
