#include "viewer/loading/visitlisting.h"

#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdata.h"

#include <QDir>
#include <QFile>
#include <QLocale>

namespace loading {

namespace {

const VisitColumnInfo kColumns[kVisitColumnCount] = {
    {"Compression", 85}, {"Dossier", 100},   {"Nom", 175},       {"Date / Heure", 150}, {"Accession", 100},
    {"Modalité", 75},    {"Description", 175}, {"Sexe", -1},     {"Naissance", 75},     {"Référant", 175},
    {"Etude ID", 100},   {"Etude UID", 250}, {"DicomDir", 100},  {"Chemin", 75},
};

QString CompressionText(const imaging::DicomAttributes &study)
{
    const auto attribute = study.Item(0x0009, 0x0004);
    if (!attribute || !attribute->Exists())
        return QStringLiteral("N/A");
    const QVariant first = attribute->ValueByIndex(1);
    bool ok = false;
    const double value = first.typeId() == QMetaType::QString ? QLocale::c().toDouble(first.toString().trimmed(), &ok)
                                                              : first.toDouble(&ok);
    if (!ok)
        return QStringLiteral("N/A");
    return QString::number(100.0 - value) + QLatin1Char('%');
}

// First value of (0004,1500) of the first image record of the first series record.
QString VisitFolderOf(const imaging::DicomDataSet &study)
{
    const auto series = study.Children();
    if (series->Count() < 1)
        return QString();
    const auto images = series->Item(1)->Children();
    if (images->Count() < 1)
        return QString();
    const auto attribute = images->Item(1)->Attributes()->Item(0x0004, 0x1500);
    if (!attribute || !attribute->Exists())
        return QString();
    return attribute->ValueByIndex(1).toString().trimmed();
}

// Whether at least one file that the study's image records name is in the folder.
bool StudyHasFile(const imaging::DicomDataSet &study, FolderLookup &lookup)
{
    const auto series = study.Children();
    for (int e = 1; e <= series->Count(); ++e) {
        const auto images = series->Item(e)->Children();
        for (int i = 1; i <= images->Count(); ++i) {
            if (!lookup.ReferencedFile(ReferencedFileValues(*images->Item(i)->Attributes())).isEmpty())
                return true;
        }
    }
    return false;
}

void AddThumbnails(const imaging::DicomDataSet &study, imaging::DicomImages &thumbnails)
{
    const auto series = study.Children();
    for (int s = 1; s <= series->Count(); ++s) {
        const auto images = series->Item(s)->Children();
        for (int i = 1; i <= images->Count(); ++i) {
            const auto icon = images->Item(i)->Attributes()->Item(0x0088, 0x0200);
            if (!icon || !icon->Exists())
                continue;
            const auto items = icon->Value().value<imaging::DicomDataSetsPtr>();
            if (!items || items->Count() < 1)
                continue;
            try {
                auto image = items->Item(1)->MakeImage();
                image->SetStudyUID(study.StudyUID());
                thumbnails.Add(image);
            } catch (const imaging::DicomError &) {
                // An icon without displayable pixels has no thumbnail; the row stays.
            }
        }
    }
}

} // namespace

const VisitColumnInfo &VisitColumnAt(int column)
{
    return kColumns[column];
}

QString VisitFolderPath(const QString &programFolder, const QString &chemin, bool *unsafe)
{
    if (unsafe)
        *unsafe = false;
    FolderLookup lookup(programFolder);
    if (chemin.isEmpty())
        return lookup.Root();
    // "Chemin" is one path component; anything that could reach outside is refused.
    if (!IsSafeComponent(chemin)) {
        if (unsafe)
            *unsafe = true;
        return QString();
    }
    const QString path = lookup.Find({chemin}, true);
    if (path.isEmpty()) {
        const QString literal = QDir(lookup.Root()).filePath(chemin);
        if (unsafe && QFileInfo(literal).exists() && !lookup.Inside(literal))
            *unsafe = true;
    }
    return path;
}

VisitListing ReadVisitListing(const QString &programFolder, const std::function<void(const QString &)> &log)
{
    if (log)
        log(QStringLiteral("TFORMOUVRIRVISITE.CREATEDICOMDIRSTRUCTURE Begin"));
    VisitListing listing;
    listing.thumbnails = NewImages();
    const QDir folder(programFolder);
    FolderLookup lookup(programFolder);
    for (const QString &name : DicomDirNames(programFolder)) {
        listing.catalogueNames << name;
        auto dataSets = NewDataSets();
        const auto root = dataSets->ReadDirectory(folder.filePath(name)); // throws DicomError
        const auto patients = root->Children();
        int studyRecords = 0;
        int studiesGone = 0;
        for (int p = 1; p <= patients->Count(); ++p) {
            const auto patient = patients->Item(p);
            const auto patientAttributes = patient->Attributes();
            const auto studies = patient->Children();
            for (int s = 1; s <= studies->Count(); ++s) {
                const auto study = studies->Item(s);
                const auto studyAttributes = study->Attributes();
                VisitRow row;
                row.text[colCompression] = CompressionText(*studyAttributes);
                row.text[colDossier] = patient->PatientID();
                row.text[colNom] = patient->Name();
                row.text[colDateHeure] = AttributeText(*studyAttributes, 0x0008, 0x0020) + QLatin1Char(' ')
                                         + AttributeText(*studyAttributes, 0x0008, 0x0030);
                row.text[colAccession] = AttributeText(*studyAttributes, 0x0008, 0x0050);
                row.text[colModalite] = AttributeText(*studyAttributes, 0x0008, 0x0060);
                row.text[colDescription] = study->StudyDescription();
                row.text[colSexe] = patient->Sex();
                row.text[colNaissance] = AttributeText(*patientAttributes, 0x0010, 0x0030);
                row.text[colReferant] = AttributeText(*studyAttributes, 0x0008, 0x0090);
                row.text[colEtudeId] = AttributeText(*studyAttributes, 0x0020, 0x0010);
                row.text[colEtudeUid] = study->StudyUID();
                row.text[colDicomDir] = name;
                row.text[colChemin] = VisitFolderOf(*study);
                row.patientIndex = p;
                row.studyIndex = s;
                ++studyRecords;

                const QString &chemin = row.text[colChemin];
                bool unsafe = false;
                const QString visitFolder = VisitFolderPath(programFolder, chemin, &unsafe);
                // A row whose "Chemin" reaches outside stays listed (it cannot be deleted
                // and its files are never opened).
                if (!unsafe) {
                    if (visitFolder.isEmpty() && lookup.Find({chemin}).isEmpty()) {
                        // The visit folder is gone. (When the catalogue names files lying
                        // beside it, "Chemin" is one of those files: that visit is still there.)
                        ++studiesGone;
                        continue;
                    }
                    if (!StudyHasFile(*study, lookup))
                        continue; // nothing left to load: a deleted visit's records
                }
                listing.rows.push_back(row);
                AddThumbnails(*study, *listing.thumbnails);
            }
        }
        dataSets->Clear();
        // Only a catalogue whose visits are all provably gone goes: never one that could
        // not be read, holds no study, or still has its folder.
        if (studyRecords > 0 && studiesGone == studyRecords) {
            if (QFile::remove(folder.filePath(name)))
                listing.deletedCatalogues << name;
        }
    }
    if (log)
        log(QStringLiteral("TFORMOUVRIRVISITE.CREATEDICOMDIRSTRUCTURE End"));
    return listing;
}

int CompareRows(const VisitRow &a, const VisitRow &b, int column)
{
    const QString left = (a[column] + a[colNom]).toLower();
    const QString right = (b[column] + b[colNom]).toLower();
    return QString::localeAwareCompare(left, right);
}

} // namespace loading
