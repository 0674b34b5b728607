// Data sets, data set collections and the DICOM catalogue (DICOMDIR) reader.

#include "internal.h"
#include "safereading.h"

#include <dcmtk/dcmdata/dcdirrec.h>

#include <QFileInfo>

#include <functional>
#include <map>
#include <set>

namespace imaging::detail {

namespace {

class DataSetsImpl final : public DicomDataSets
{
public:
    const char *ClassName() const override { return kClassName; }
    int Count() const override
    {
        std::lock_guard lock(mutex_);
        return static_cast<int>(items_.size());
    }
    DicomDataSetPtr Item(int index) const override
    {
        std::lock_guard lock(mutex_);
        if (index < 1 || index > static_cast<int>(items_.size()))
            return nullptr;
        return items_[static_cast<size_t>(index - 1)];
    }
    void Add(const DicomDataSetPtr &dataSet) override
    {
        if (!dataSet)
            return;
        std::lock_guard lock(mutex_);
        items_.push_back(dataSet);
    }
    DicomDataSetPtr AddNew() override
    {
        auto root = NewEmptyRoot();
        auto ds = MakeDataSet(ItemRef{root, root->dataset()});
        Add(ds);
        return ds;
    }
    void Clear() override
    {
        std::lock_guard lock(mutex_);
        items_.clear();
    }
    DicomDataSetPtr ReadDirectory(const QString &path) override;

private:
    mutable std::mutex mutex_;
    std::vector<DicomDataSetPtr> items_;
};

class DataSetImpl final : public DicomDataSet
{
public:
    DataSetImpl(ItemRef ref, DicomDataSetsPtr children)
        : ref_(std::move(ref)), children_(children ? std::move(children) : CreateDataSets())
    {
    }
    const char *ClassName() const override { return kClassName; }
    DicomAttributesPtr Attributes() const override { return MakeAttributes(ref_); }
    DicomDataSetsPtr Children() const override { return children_; }
    QString PatientID() const override { return Text(DCM_PatientID); }
    QString StudyUID() const override { return Text(DCM_StudyInstanceUID); }
    QString Name() const override { return Text(DCM_PatientName); }
    QString Sex() const override { return Text(DCM_PatientSex); }
    QString StudyDescription() const override { return Text(DCM_StudyDescription); }
    QString RecordType() const override { return Text(DCM_DirectoryRecordType); }

    DicomImagePtr MakeImage() const override
    {
        // The image gets its own copy of the data set, so the catalogue can be released.
        auto root = NewEmptyRoot();
        {
            std::lock_guard lock(ref_.root->mutex);
            if (!ref_.item)
                throw DicomError(QStringLiteral("Jeu de données vide : pas d'image."));
            DcmDataset *target = root->dataset();
            for (unsigned long i = 0; i < ref_.item->card(); ++i) {
                DcmElement *el = ref_.item->getElement(i);
                if (!el)
                    continue;
                // Load deferred values from the source file before copying.
                el->loadAllDataIntoMemory();
                target->insert(static_cast<DcmElement *>(el->clone()), OFTrue);
            }
            // Values of an item are already in the byte order of this machine.
            target->updateOriginalXfer();
        }
        auto shared = std::make_shared<ImageShared>();
        shared->root = root;
        if (root->dataset()->tagExists(DCM_PixelData))
            shared->pixels = std::make_shared<PixelSource>(root);
        if (!shared->pixels || !shared->pixels->info().hasPixels)
            throw DicomError(QStringLiteral("Ce jeu de données ne contient pas d'image."));
        return detail::MakeImage(shared, QString());
    }

private:
    QString Text(const DcmTagKey &key) const
    {
        std::lock_guard lock(ref_.root->mutex);
        return ItemText(ref_.item, key);
    }

    ItemRef ref_;
    DicomDataSetsPtr children_;
};

QString CatalogueError(const QString &path, const QString &reason)
{
    return QStringLiteral("Impossible de lire le catalogue DICOM %1 : %2").arg(path, reason);
}

Uint32 OffsetValue(DcmItem *item, const DcmTagKey &key)
{
    Uint32 v = 0;
    if (item->findAndGetUint32(key, v, 0, OFFalse).bad())
        return 0;
    return v;
}

int LevelOfType(const QString &type)
{
    if (type == "PATIENT")
        return 1;
    if (type == "STUDY")
        return 2;
    if (type == "SERIES")
        return 3;
    return 4;
}

} // namespace

DicomDataSetPtr MakeDataSet(const ItemRef &ref, DicomDataSetsPtr children)
{
    return std::make_shared<DataSetImpl>(ref, std::move(children));
}

DicomDataSetPtr DataSetsImpl::ReadDirectory(const QString &path)
{
    EnsureDcmtkInitialised();
    QFileInfo fi(path);
    if (!fi.exists())
        throw DicomError(CatalogueError(path, QStringLiteral("le fichier n'existe pas.")));
    if (fi.isDir())
        throw DicomError(CatalogueError(path, QStringLiteral("c'est un dossier.")));
    if (fi.size() == 0)
        throw DicomError(CatalogueError(path, QStringLiteral("le fichier est vide.")));

    if (const QString reason = ReasonNotToParse(path); !reason.isEmpty())
        throw DicomError(CatalogueError(path, reason));
    auto root = std::make_shared<DataRoot>();
    root->file = std::make_unique<DcmFileFormat>();
    root->fileName = path;
    std::lock_guard lock(root->mutex);
    OFCondition cond = EC_Normal;
    try {
        cond = root->file->loadFile(OFFilename(path.toLocal8Bit().constData()), EXS_Unknown, EGL_noChange,
                                    DCM_MaxReadLength, ERM_autoDetect);
    } catch (const std::bad_alloc &) {
        throw DicomError(CatalogueError(path, QStringLiteral("mémoire insuffisante.")));
    } catch (const std::exception &e) {
        // DCMTK lets some of its own faults on odd values escape as exceptions.
        throw DicomError(CatalogueError(path, QStringLiteral("sa structure DICOM est invalide.")),
                         QString::fromUtf8(e.what()));
    }
    if (cond.bad())
        throw DicomError(CatalogueError(path, ParseFailureReason(cond)), QString::fromLatin1(cond.text()));
    DcmDataset *ds = root->dataset();
    DcmSequenceOfItems *records = nullptr;
    if (ds->findAndGetSequence(DCM_DirectoryRecordSequence, records, OFFalse).bad() || !records)
        throw DicomError(CatalogueError(path, QStringLiteral("ce n'est pas un catalogue DICOMDIR.")));

    // Records link to each other by their byte offsets in the file; DCMTK notes the offset
    // of every record it reads.
    const unsigned long n = records->card();
    std::map<Uint32, unsigned long> byOffset;
    std::vector<DcmItem *> items(n);
    const std::vector<DcmObject *> members = SequenceMembers(records);
    bool offsetsKnown = true;
    for (unsigned long i = 0; i < n; ++i) {
        items[i] = i < members.size() ? static_cast<DcmItem *>(members[i]) : nullptr;
        auto *rec = dynamic_cast<DcmDirectoryRecord *>(items[i]);
        Uint32 off = rec ? rec->getFileOffset() : 0;
        if (!rec || off == 0)
            offsetsKnown = false;
        else
            byOffset[off] = i;
    }

    DicomDataSetsPtr top = CreateDataSets();
    auto rootSet = MakeDataSet(ItemRef{root, ds}, top);

    bool linked = false;
    const Uint32 first = OffsetValue(ds, DCM_OffsetOfTheFirstDirectoryRecordOfTheRootDirectoryEntity);
    if (offsetsKnown && first != 0 && byOffset.count(first)) {
        // Walk the chains of records; every record is visited at most once, so broken
        // links that loop cannot hang the reader.
        std::set<unsigned long> visited;
        bool broken = false;
        std::function<void(Uint32, const DicomDataSetsPtr &, int)> walk =
            [&](Uint32 offset, const DicomDataSetsPtr &into, int depth) {
                while (offset != 0) {
                    auto it = byOffset.find(offset);
                    if (it == byOffset.end() || depth > 16) {
                        broken = true;
                        return;
                    }
                    if (!visited.insert(it->second).second) {
                        broken = true;
                        return;
                    }
                    DcmItem *rec = items[it->second];
                    DicomDataSetsPtr kids = CreateDataSets();
                    into->Add(MakeDataSet(ItemRef{root, rec}, kids));
                    const Uint32 lower = OffsetValue(rec, DCM_OffsetOfReferencedLowerLevelDirectoryEntity);
                    if (lower != 0)
                        walk(lower, kids, depth + 1);
                    offset = OffsetValue(rec, DCM_OffsetOfTheNextDirectoryRecord);
                }
            };
        walk(first, top, 0);
        linked = !broken;
        if (!linked)
            throw DicomError(CatalogueError(path, QStringLiteral("les liens entre ses enregistrements sont rompus.")));
    }
    if (!linked && n > 0) {
        // No usable offsets: rebuild the tree from the order of the records and their
        // types (patient, study, series, then image-level records).
        std::vector<DicomDataSetsPtr> stack{top};
        std::vector<int> levels{0};
        for (unsigned long i = 0; i < n; ++i) {
            const int level = LevelOfType(ItemText(items[i], DCM_DirectoryRecordType).toUpper());
            while (levels.size() > 1 && levels.back() >= level) {
                levels.pop_back();
                stack.pop_back();
            }
            DicomDataSetsPtr kids = CreateDataSets();
            stack.back()->Add(MakeDataSet(ItemRef{root, items[i]}, kids));
            stack.push_back(kids);
            levels.push_back(level);
        }
    }
    Add(rootSet);
    return rootSet;
}

ComponentObject *NewDataSetsObject()
{
    return new DataSetsImpl();
}

ComponentObject *NewDataSetObject()
{
    auto root = NewEmptyRoot();
    return new DataSetImpl(ItemRef{root, root->dataset()}, nullptr);
}

} // namespace imaging::detail

namespace imaging {

DicomDataSetsPtr CreateDataSets()
{
    return std::make_shared<detail::DataSetsImpl>();
}

DicomDataSetPtr CreateDataSet()
{
    auto root = detail::NewEmptyRoot();
    return detail::MakeDataSet(detail::ItemRef{root, root->dataset()});
}

} // namespace imaging
