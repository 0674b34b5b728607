#pragma once
// What a visit catalogue of the shared folder says about its visit: the
// patient, the accession numbers and the files it names. The transfer client
// reads catalogues only to know which files of the folder belong to a visit
// the viewer lists, so that a received archive never replaces them, and to
// name that visit to the user.

#include <QString>
#include <QStringList>

namespace exchange {

struct CatalogueVisit
{
    QString catalogue;      // file name in the folder ("DICOMDIR.A")
    QString patientName;    // the first patient record's name, components joined by blanks
    QString patientId;
    QStringList accessions; // of its studies, in record order, without repeats
    QStringList files;      // Referenced File IDs, components joined by "/", as written
};

// Reads a DICOM media catalogue (Part 10 file, explicit or implicit VR little
// endian). False when the file is not one or cannot be read whole; *visit
// then holds what was read before the fault.
bool ReadCatalogue(const QString &path, CatalogueVisit *visit);

// The readable catalogues of folder: "DICOMDIR" and "DICOMDIR." + suffix in
// any case, each read with ReadCatalogue. With keptOnly, "DICOMDIR" itself is
// left out (the visit a new one replaces when visits are not kept).
QList<CatalogueVisit> FolderCatalogues(const QString &folder, bool keptOnly);

// "Name (accession A, catalogue DICOMDIR.A)" as the messages name a visit.
QString describeVisit(const CatalogueVisit &visit);

} // namespace exchange
