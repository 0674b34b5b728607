#pragma once
// What the open-visit dialog lists: one row per study of every patient of every
// catalogue in the program folder, and the studies' icon images.

#include "imaging/imaging.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace loading {

// Columns of the row list, in order.
enum VisitColumn {
    colCompression, colDossier, colNom, colDateHeure, colAccession, colModalite, colDescription,
    colSexe, colNaissance, colReferant, colEtudeId, colEtudeUid, colDicomDir, colChemin, kVisitColumnCount
};

struct VisitColumnInfo
{
    const char *caption;
    int width; // -1: the default width
};
// "Compression" 85, "Dossier" 100, ...
const VisitColumnInfo &VisitColumnAt(int column);

struct VisitRow
{
    QString text[kVisitColumnCount];
    const QString &operator[](int column) const { return text[column]; }
    // Where the study lies in its catalogue (1-based patient and study record indexes).
    int patientIndex = 0;
    int studyIndex = 0;
};

struct VisitListing
{
    QStringList catalogueNames;        // catalogues read, in file system order
    std::vector<VisitRow> rows;
    imaging::DicomImagesPtr thumbnails; // icon images, each with its study's StudyUID
    QStringList deletedCatalogues;     // catalogues removed because none of their visits is left
};

// Reads every catalogue of `programFolder` (CreateDicomDirStructure). A study is
// listed when its visit folder (column "Chemin", looked up without regard to case)
// exists and at least one of the files its records name is there: the records of a
// visit deleted from a catalogue that holds other visits name no file any more. A
// catalogue is deleted only when it holds studies and the visit folder of every one
// is gone; one that holds none, or whose files are missing from a folder still there,
// stays. Throws imaging::DicomError when a catalogue cannot be read (nothing is deleted).
VisitListing ReadVisitListing(const QString &programFolder, const std::function<void(const QString &)> &log = {});

// The visit folder of a row as a path inside `programFolder`, found without regard to
// case; empty when it does not exist. *unsafe is set when "Chemin" would leave the
// folder ("..", an absolute path, a link elsewhere).
QString VisitFolderPath(const QString &programFolder, const QString &chemin, bool *unsafe = nullptr);

// Row order: the column's text followed by "Nom", without regard to case, in the
// user's locale. Negative, zero or positive.
int CompareRows(const VisitRow &a, const VisitRow &b, int column);

} // namespace loading
