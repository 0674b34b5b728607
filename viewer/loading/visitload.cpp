#include "viewer/loading/visitload.h"

#include <QHash>

#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"

#include <QDir>
#include <QLocale>
#include <QMap>

#include <algorithm>

using imaging::DicomImage;
using imaging::DicomImagePtr;

namespace loading {

namespace {

constexpr int kSilver = 0xC0C0C0;

// Text of a value as a formatter would print it: numbers in decimal, texts as they are.
QString ValueText(const imaging::DicomAttributes &attributes, int group, int element)
{
    const auto attribute = attributes.Item(group, element);
    if (!attribute || !attribute->Exists())
        return QString();
    const QVariant value = attribute->Value();
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    case QMetaType::QString:
        return value.toString();
    default:
        return attribute->Text();
    }
}

QByteArray Field15(const QString &text)
{
    QByteArray bytes = text.toLatin1().left(15);
    if (bytes.size() < 15)
        bytes.prepend(QByteArray(15 - bytes.size(), ' '));
    return bytes;
}

class SeriesBuilder;

struct LoadState
{
    const LoadRequest &request;
    VisitContent &content;
    LoadObserver &observer;
    FolderLookup lookup;
    LoadOutcome outcome;
    int seriesCounter = 0; // series read for the current patient (or its Series Number)
};

// Splits the image just read into the series the viewer shows.
void SplitSeries(DicomImage &image, int imageCounter, QMap<QString, QString> &echoTimes, VisitContent &content)
{
    const QString sopClass = image.SOPClass();
    if (sopClass == QLatin1String(kSopClassXA) || image.FrameCount() >= 2) {
        image.SetSeriesUID(image.InstanceUID());
        if (imageCounter > 1)
            content.AddSeries();
        return;
    }
    const auto attributes = image.Attributes();
    if (sopClass == QLatin1String(kSopClassMR)) {
        // Images whose echo time cannot be read form one group of their own (key "").
        QString echo;
        const auto attribute = attributes->Item(0x0018, 0x0081);
        if (attribute && attribute->Exists()) {
            const QVariant v = attribute->ValueByIndex(1);
            bool ok = false;
            const double t = v.typeId() == QMetaType::QString ? QLocale::c().toDouble(v.toString().trimmed(), &ok)
                                                              : v.toDouble(&ok);
            if (ok && v.isValid())
                echo = QString::asprintf("%.1f", t);
        }
        const auto found = echoTimes.constFind(echo);
        if (found != echoTimes.constEnd()) {
            image.SetSeriesUID(*found);
        } else {
            echoTimes.insert(echo, image.InstanceUID());
            image.SetSeriesUID(image.InstanceUID());
        }
        return;
    }
    if (sopClass == QLatin1String(kSopClassSC)) {
        const QString modality = AttributeText(*attributes, 0x0008, 0x0060);
        if (modality.isEmpty() || !QStringLiteral("US CT").contains(modality)) {
            attributes->Add(0x0009, 0x0004, image.SeriesUID(), QStringLiteral("LO"));
            image.SetSeriesUID(image.InstanceUID());
        }
    }
}

// Shows overlay plane 6000 through a graphic layer when the image carries one.
void ActivateOverlay(DicomImage &image)
{
    const auto attributes = image.Attributes();
    const auto overlay = attributes->Item(0x6000, 0x3000);
    if (!overlay || !overlay->Exists())
        return;
    auto sequence = loading::NewDataSets();
    auto item = sequence->AddNew();
    auto itemAttributes = item->Attributes();
    itemAttributes->Add(0x0070, 0x0002, QStringLiteral("OVERLAY"), QStringLiteral("CS"));
    itemAttributes->Add(0x0070, 0x0062, 1, QStringLiteral("IS"));
    itemAttributes->Add(0x0070, 0x0067, QVariantList{0, 65535, 65535, 0}, QStringLiteral("US"));
    attributes->Add(0x0070, 0x0060, QVariant::fromValue(sequence), QStringLiteral("SQ"));
    attributes->Add(0x6000, 0x1001, QStringLiteral("OVERLAY"), QStringLiteral("CS"));
}

// Number of entries in the run of `key` that the whole visit would show once
// `entries` are appended: the first run with that key over VisitImages followed by
// the new entries (as counting over the collection itself would give).
int RunLength(const imaging::DicomImages &visit, const std::vector<DicomImagePtr> &entries, const QString &key)
{
    const int count = visit.Count();
    int first = 0;
    for (int i = 1; i <= count; ++i) {
        const auto image = visit.Item(i);
        if (image && image->SeriesUID() == key) {
            first = i;
            break;
        }
    }
    int run = 0;
    std::size_t next = 0;
    if (first > 0) {
        int i = first;
        while (i <= count && visit.Item(i)->SeriesUID() == key) {
            ++run;
            ++i;
        }
        if (i <= count)
            return run; // the run ends inside the visit
    }
    while (next < entries.size() && entries[next]->SeriesUID() == key) {
        ++run;
        ++next;
    }
    return run;
}

void NumberImages(std::vector<DicomImagePtr> &entries, const imaging::DicomImages &visit, LoadObserver &observer)
{
    observer.Log(QStringLiteral("TCHARGEMENT.AJUSTIMAGENUMBER Begin"));
    if (!entries.empty()) {
        const int n = RunLength(visit, entries, entries.front()->SeriesUID());
        for (const auto &entry : entries) {
            const auto label = entry->Labels()->Item(kLabelTopLeft);
            if (!label)
                continue;
            const QString text = label->Text();
            const QString line = TextLine(QStringLiteral("Im:"), text);
            if (line.isEmpty())
                continue;
            const QString numbered = (line + QString::number(n)).trimmed();
            label->SetText(ReplaceTextLine(QStringLiteral("Im:"), text, numbered));
        }
    }
    observer.Log(QStringLiteral("TCHARGEMENT.AJUSTIMAGENUMBER End"));
}

// One catalogue series: its images are read into a collection of their own, then
// sorted, numbered and appended to the visit.
void LoadSeries(LoadState &state, const imaging::DicomDataSet &seriesRecord, int seriesRecords)
{
    VisitContent &content = state.content;
    auto staging = loading::NewImages();
    QMap<QString, QString> echoTimes;
    ++state.seriesCounter;
    int imageCounter = 0;
    const auto imageRecords = seriesRecord.Children();
    const int recordCount = imageRecords->Count();
    state.observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Level 4 (%1 items)").arg(recordCount));

    for (int r = 1; r <= recordCount; ++r) {
        if (state.observer.StopRequested()) {
            state.outcome.stopped = true;
            return; // the visit is being replaced: nothing more goes into it
        }
        const auto record = imageRecords->Item(r);
        const QStringList values = ReferencedFileValues(*record->Attributes());
        state.observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Level 5 (%1 items)").arg(values.size()));
        const QString path = state.lookup.ReferencedFile(values);
        if (path.isEmpty())
            continue; // missing (or outside the folder): skipped like a missing file

        ++imageCounter;
        // A series counts once it holds an image: the records of a study whose files
        // are gone (deleted from a catalogue that keeps other studies) make no series,
        // so the hand-over waits for two series that can be shown.
        if (imageCounter == 1)
            content.AddSeries();
        state.observer.ImageRead(state.seriesCounter, imageCounter);
        DicomImagePtr image;
        try {
            image = staging->ReadFile(path);
            if (imageCounter == 1)
                image->SetTag(1);
            image->SetBorderWidth(1);
            image->SetBorderStyle(0);
            image->SetBorderColour(kSilver);
            SplitSeries(*image, imageCounter, echoTimes, content);
            ActivateOverlay(*image);
            CornerTextContext context;
            context.demo = state.request.demo;
            context.seriesRecords = seriesRecords;
            context.seriesCounter = state.seriesCounter;
            context.backColour = state.request.backColour;
            AddImageLabels(*image, context);
            state.seriesCounter = context.seriesCounter;
            const int frames = image->FrameCount();
            for (int f = 2; f <= frames; ++f) {
                auto entry = staging->Add(image);
                entry->SetFrame(f);
                entry->SetTag(QVariant());
                const auto label = entry->Labels()->Item(kLabelTopLeft);
                const QString text = label->Text();
                label->SetText(ReplaceTextLine(QStringLiteral("Fr:"), text,
                                               QStringLiteral("Fr: %1/%2").arg(f).arg(frames)));
            }
        } catch (const std::exception &error) {
            // An image without its labels never reaches the visit.
            if (image) {
                const int at = staging->IndexOf(image.get());
                if (at > 0)
                    staging->Remove(at);
            }
            state.outcome.errorFile = path;
            state.outcome.errorText = imaging::ErrorLogText(error);
            break;
        }
    }

    std::vector<DicomImagePtr> entries;
    entries.reserve(staging->Count());
    for (int i = 1; i <= staging->Count(); ++i)
        entries.push_back(staging->Item(i));
    state.observer.Log(QStringLiteral("TCHARGEMENT.BUBBLESORT Begin"));
    SortSeriesEntries(entries);
    state.observer.Log(QStringLiteral("TCHARGEMENT.BUBBLESORT End"));
    NumberImages(entries, *content.Images(), state.observer);
    if (!entries.empty())
        entries.front()->SetTag(0);
    content.AppendEntries(entries);

    if (content.SeriesCount() == 2 && !state.outcome.handedOver && !state.outcome.failed()) {
        state.observer.HandOver();
        state.outcome.handedOver = true;
    }
}

bool Selected(const LoadRequest &request, const imaging::DicomDataSet &patient, const imaging::DicomDataSet &study)
{
    if (request.patientId.isEmpty() && !request.studyUid.isEmpty())
        return study.StudyUID() == request.studyUid;
    return AttributeText(*patient.Attributes(), 0x0010, 0x0020) == request.patientId;
}

} // namespace

QByteArray SortKey(const DicomImage &image)
{
    const auto attributes = image.Attributes();
    return Field15(ValueText(*attributes, 0x0020, 0x0011)) + Field15(ValueText(*attributes, 0x0020, 0x0013));
}

// Sorts one catalogue series by series number and instance number. The echo
// groups that the MR split made keep together, in the order they were first
// read: sorting them by instance number alone would interleave the echoes
// whenever their instance numbers alternate, leaving one-image series that
// the series functions and navigation cannot step through.
void SortSeriesEntries(std::vector<DicomImagePtr> &entries)
{
    QHash<QString, int> echoGroup;
    std::vector<std::pair<QByteArray, DicomImagePtr>> keyed;
    keyed.reserve(entries.size());
    for (auto &entry : entries) {
        QByteArray key = SortKey(*entry);
        int group = 0;
        if (entry->SOPClass() == QLatin1String(kSopClassMR)) {
            const QString uid = entry->SeriesUID();
            auto it = echoGroup.find(uid);
            if (it == echoGroup.end())
                it = echoGroup.insert(uid, int(echoGroup.size()));
            group = it.value();
        }
        key.insert(15, QByteArray::number(group).rightJustified(6, '0'));
        keyed.emplace_back(std::move(key), entry);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i] = std::move(keyed[i].second);
}

LoadOutcome RunVisitLoad(const LoadRequest &request, VisitContent &content, LoadObserver &observer)
{
    LoadState state{request, content, observer, FolderLookup(request.programFolder), {}, 0};
    observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Begin"));
    content.Clear();
    content.ResetSeries();

    const QString cataloguePath = QDir(request.programFolder).filePath(request.catalogue);
    auto dataSets = loading::NewDataSets();
    imaging::DicomDataSetPtr root;
    try {
        if (!IsSafeComponent(request.catalogue))
            throw imaging::DicomError(QStringLiteral("not a catalogue name: %1").arg(request.catalogue));
        root = dataSets->ReadDirectory(cataloguePath);
    } catch (const std::exception &error) {
        state.outcome.errorFile = cataloguePath;
        state.outcome.errorText = imaging::ErrorLogText(error);
        observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE End"));
        return state.outcome;
    }

    const auto patients = root->Children();
    observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Level 1 (%1 items)").arg(patients->Count()));
    for (int p = 1; p <= patients->Count() && !state.outcome.failed() && !state.outcome.stopped; ++p) {
        const auto patient = patients->Item(p);
        state.seriesCounter = 0;
        const auto studies = patient->Children();
        observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Level 2 (%1 items)").arg(studies->Count()));
        for (int s = 1; s <= studies->Count() && !state.outcome.failed() && !state.outcome.stopped; ++s) {
            const auto study = studies->Item(s);
            if (!Selected(request, *patient, *study))
                continue;
            const auto series = study->Children();
            observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE Level 3 (%1 items)").arg(series->Count()));
            for (int e = 1; e <= series->Count() && !state.outcome.failed() && !state.outcome.stopped; ++e)
                LoadSeries(state, *series->Item(e), series->Count());
        }
    }
    dataSets->Clear();
    observer.Log(QStringLiteral("TCHARGEMENT.EXECUTE End"));
    return state.outcome;
}

} // namespace loading
