// The data set page and the information window on a generated data set of about 20,000
// attributes, against a bare DCMTK walk of the same data set in the same run.
//
// The data set: about thirty patient and study attributes, then a sequence of 1,050
// items (an RT-structure-like contour list); each item holds eleven attributes and a
// nested sequence of one item of six attributes, one of them 30 decimal values (a row
// 30 lines high in the grid). 19,000-odd rows in all.
//
//   BM_BareDcmtkWalk   every element of the tree visited with DCMTK alone: tag, value
//                      representation, dictionary name and value as text (the strictest
//                      reference for what the page needs)
//   BM_ListingOnly     the component's listing of the data set (DicomAttributes::Listing)
//   BM_FillPage        the page filled: listing, value rules, the grid's model
//   BM_ShowWindow      the information window created, shown and painted on the data
//                      set (every page filled), then closed: what the user waits for
//   counters           rows; heap_mb: the heap taken by one open window over the data
//                      set, its listing and grid included (measured once)
#include "platform/screeninfo.h"
#include "platform/settingsscope.h"
#include "viewer/information/datadicom.h"
#include "viewer/information/forminformations.h"
#include "viewer/shell/templatedm.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <memory>

namespace {

QString g_file;
imaging::DicomImagePtr g_image;

void Put(DcmItem &item, const DcmTagKey &key, const char *value)
{
    item.putAndInsertString(key, value);
}

// Writes the data set; answers the number of elements it holds.
int WriteDataSet(const QString &path)
{
    DcmFileFormat file;
    DcmDataset &ds = *file.getDataset();
    int count = 0;
    auto put = [&count](DcmItem &item, const DcmTagKey &key, const char *value) {
        Put(item, key, value);
        ++count;
    };
    put(ds, DCM_SpecificCharacterSet, "ISO_IR 100");
    put(ds, DCM_SOPClassUID, UID_RTStructureSetStorage);
    put(ds, DCM_SOPInstanceUID, "1.3.6.1.4.1.57433.99.1.1");
    put(ds, DCM_StudyDate, "20261109");
    put(ds, DCM_StudyTime, "101500");
    put(ds, DCM_AccessionNumber, "RT20261109001");
    put(ds, DCM_Modality, "RTSTRUCT");
    put(ds, DCM_Manufacturer, "Fant\xF4mes");
    put(ds, DCM_ReferringPhysicianName, "B\xE9rub\xE9^Jacques");
    put(ds, DCM_StudyDescription, "Planification");
    put(ds, DCM_PatientName, "LEF\xC8VRE^H\xE9l\xE8ne");
    put(ds, DCM_PatientID, "KV000123");
    put(ds, DCM_PatientBirthDate, "19580412");
    put(ds, DCM_PatientSex, "F");
    put(ds, DCM_StudyInstanceUID, "1.3.6.1.4.1.57433.99.1");
    put(ds, DCM_SeriesInstanceUID, "1.3.6.1.4.1.57433.99.1.2");
    put(ds, DCM_StudyID, "4471");
    put(ds, DCM_SeriesNumber, "1");
    put(ds, DCM_InstanceNumber, "1");
    put(ds, DCM_StructureSetLabel, "CONTOURS");
    put(ds, DCM_StructureSetDate, "20261109");
    put(ds, DCM_StructureSetTime, "101500");
    ++count;
    for (int i = 0; i < 1050; ++i) {
        DcmItem *item = nullptr;
        ds.findOrCreateSequenceItem(DCM_ROIContourSequence, item, -2);
        const std::string n = std::to_string(i + 1);
        put(*item, DCM_ReferencedROINumber, n.c_str());
        put(*item, DCM_ROIDisplayColor, "255\\0\\0");
        put(*item, DCM_ROIName, ("Structure " + n).c_str());
        put(*item, DCM_ROIDescription, "contour de d\xE9monstration");
        put(*item, DCM_ROIGenerationAlgorithm, "MANUAL");
        put(*item, DCM_ROINumber, n.c_str());
        put(*item, DCM_ReferencedFrameOfReferenceUID, "1.3.6.1.4.1.57433.99.3");
        put(*item, DCM_RTROIInterpretedType, "ORGAN");
        put(*item, DCM_ROIInterpreter, "Martin^Anne");
        put(*item, DCM_ObservationNumber, n.c_str());
        put(*item, DCM_ROIObservationLabel, "obs");
        DcmItem *contour = nullptr;
        item->findOrCreateSequenceItem(DCM_ContourSequence, contour, -2);
        ++count;
        put(*contour, DCM_ContourGeometricType, "CLOSED_PLANAR");
        put(*contour, DCM_NumberOfContourPoints, "10");
        put(*contour, DCM_ContourNumber, n.c_str());
        put(*contour, DCM_SliceThickness, "2.5");
        put(*contour, DCM_ReferencedSOPInstanceUID, "1.3.6.1.4.1.57433.99.4");
        std::string points;
        for (int p = 0; p < 30; ++p)
            points += (p ? "\\" : "") + std::to_string(-100.25 + p * 3.5 + i * 0.01).substr(0, 8);
        put(*contour, DCM_ContourData, points.c_str());
    }
    if (file.saveFile(path.toStdString().c_str(), EXS_LittleEndianExplicit).bad())
        return -1;
    return count;
}

void Walk(DcmItem *item, std::size_t &visited, std::size_t &bytes)
{
    for (DcmObject *o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o)) {
        auto *el = static_cast<DcmElement *>(o);
        const DcmTag &tag = el->getTag();
        bytes += std::strlen(DcmVR(el->ident()).getValidVRName());
        bytes += std::strlen(DcmTag(tag.getXTag()).getTagName());
        ++visited;
        if (el->ident() == EVR_SQ) {
            auto *seq = static_cast<DcmSequenceOfItems *>(o);
            for (DcmObject *i = seq->nextInContainer(nullptr); i; i = seq->nextInContainer(i))
                Walk(static_cast<DcmItem *>(i), visited, bytes);
            continue;
        }
        OFString value;
        if (el->getOFStringArray(value).good())
            bytes += value.size();
    }
}

void BM_BareDcmtkWalk(benchmark::State &state)
{
    DcmFileFormat file;
    if (file.loadFile(g_file.toStdString().c_str()).bad()) {
        state.SkipWithError("cannot read the data set");
        return;
    }
    std::size_t visited = 0;
    for (auto _ : state) {
        visited = 0;
        std::size_t bytes = 0;
        Walk(file.getDataset(), visited, bytes);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["rows"] = static_cast<double>(visited);
}

void BM_ListingOnly(benchmark::State &state)
{
    std::size_t rows = 0;
    for (auto _ : state) {
        const auto listing = g_image->Attributes()->Listing();
        rows = listing.size();
        benchmark::DoNotOptimize(listing.data());
    }
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_FillPage(benchmark::State &state)
{
    information::TDataDicomPage page;
    page.resize(700, 600);
    for (auto _ : state)
        page.Fill(*g_image->Attributes());
    state.counters["rows"] = page.RowCount();
}

// Bytes of the heap in use (the resident size hides what a freed earlier window left
// for reuse).
double HeapMb()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

void BM_ShowWindow(benchmark::State &state)
{
    for (auto _ : state) {
        auto window = std::make_unique<TFormInformations>(g_image, 0);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            state.SkipWithError("the window was not exposed");
            return;
        }
        window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
        window->repaint();
        window->DataPage()->Grid()->viewport()->repaint();
        state.PauseTiming();
        window->close();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    // Memory of one open window over the data set (measured once, after a warm-up).
    const double before = HeapMb();
    auto window = std::make_unique<TFormInformations>(g_image, 0);
    window->show();
    QTest::qWaitForWindowExposed(window.get());
    window->PageControl()->setCurrentWidget(window->Page(QStringLiteral("TSData")));
    window->DataPage()->Grid()->viewport()->repaint();
    QCoreApplication::processEvents();
    state.counters["heap_mb"] = HeapMb() - before;
    state.counters["rows"] = window->DataPage()->RowCount();
    window->close();
}

BENCHMARK(BM_BareDcmtkWalk)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ListingOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FillPage)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ShowWindow)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    g_file = folder.filePath(QStringLiteral("contours.dcm"));
    const int elements = WriteDataSet(g_file);
    if (elements < 0) {
        std::fprintf(stderr, "cannot write the data set\n");
        return 1;
    }
    std::fprintf(stderr, "data set: %d elements\n", elements);

    TShellServices services;
    services.Machine = std::make_shared<platform::QtSettingsScope>(folder.filePath("machine.conf"));
    services.User = std::make_shared<platform::QtSettingsScope>(folder.filePath("user.conf"));
    services.Screens = std::make_shared<platform::FixedScreenInfo>(1, QSize(1280, 1024), 40);
    services.LogFolder = folder.filePath("log");
    services.TempVariable = folder.path();
    services.ExecutablePath = folder.filePath("KorvaneCD");
    TTemplateDM dm(services, [](const QString &, TMsgDlgType, TMsgDlgButtons) { return int(mrOk); });
    g_image = imaging::CreateImages()->ReadFile(g_file);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_image.reset();
    return 0;
}
