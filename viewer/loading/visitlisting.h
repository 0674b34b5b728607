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
};

struct VisitListing
{
    QStringList catalogueNames;        // catalogues read, in file system order
    std::vector<VisitRow> rows;
    imaging::DicomImagesPtr thumbnails; // icon images, each with its study's StudyUID
    QStringList deletedCatalogues;     // catalogues removed because none of their visits is left
};

// Reads every catalogue of `programFolder` (CreateDicomDirStructure). A row whose
// visit folder (column "Chemin", looked up without regard to case) no longer exists
// is left out together with the patient's further studies; a catalogue that so has no
// row is deleted. Throws imaging::DicomError when a catalogue cannot be read.
VisitListing ReadVisitListing(const QString &programFolder, const std::function<void(const QString &)> &log = {});

// The visit folder of a row as a path inside `programFolder`, found without regard to
// case; empty when it does not exist. *unsafe is set when "Chemin" would leave the
// folder ("..", an absolute path, a link elsewhere).
QString VisitFolderPath(const QString &programFolder, const QString &chemin, bool *unsafe = nullptr);

// Row order: the column's text followed by "Nom", without regard to case, in the
// user's locale. Negative, zero or positive.
int CompareRows(const VisitRow &a, const VisitRow &b, int column);

} // namespace loading
