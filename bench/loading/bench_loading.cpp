// Loading a visit: the loader against a bare DCMTK loop over the same files.
//
// The visit is the generator's "ct-large" preset (1000 axial CT images of 512 x 512),
// written once under the build folder. Every case runs from a warm cache: the files
// are read once before the first measurement.
//
//   BM_BareDcmtkFullRead  the catalogue and every image file read whole by DCMTK
//   BM_BareDcmtk       the same, parsed only (pixel data left on disk, as DCMTK does
//                      for large values by default): the strictest reference
//   BM_LoadingThread   TChargement as the main window starts it (progress window,
//                      thread, blocking hand-over, end-of-thread step), wall time
//   BM_ImagingReadFile the imaging component's ReadFile alone over the same files
//   BM_VisitLoad       the loader's whole work: catalogue walk, path lookup, reading,
//                      series split, eleven labels and corner texts, sort, numbering
//   counters           handover_ms: when the main window would get the visit
//                      (after the second series, or at the end for one series)
#include "platform/screeninfo.h"
#include "platform/settingsscope.h"
#include "studygen.h"
#include "viewer/loading/chargement.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/templatedm.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>

namespace {

// CPU time of the whole process (every thread), in milliseconds: on a busy machine
// the wall time mostly measures the other processes.
double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

QString Visit(const QString &preset, int images)
{
    const QString folder = QStringLiteral(KORVANE_BENCH_DATA "/") + preset + QString::number(images);
    if (!QFile::exists(folder + "/DICOMDIR")) {
        QDir(folder).removeRecursively();
        studygen::Options options;
        options.outDir = folder;
        options.preset = preset;
        options.images = images;
        QString error;
        if (!studygen::generate(options, &error)) {
            std::fprintf(stderr, "cannot generate %s: %s\n", qPrintable(folder), qPrintable(error));
            std::exit(1);
        }
    }
    return folder;
}

// The image files in catalogue order, as the loader reads them.
QStringList CatalogueFiles(const QString &folder)
{
    QStringList files;
    DcmFileFormat dir;
    if (dir.loadFile((folder + "/DICOMDIR").toStdString().c_str()).bad())
        return files;
    DcmSequenceOfItems *records = nullptr;
    if (dir.getDataset()->findAndGetSequence(DCM_DirectoryRecordSequence, records).bad() || !records)
        return files;
    for (unsigned long i = 0; i < records->card(); ++i) {
        OFString id;
        if (records->getItem(i)->findAndGetOFStringArray(DCM_ReferencedFileID, id).good() && !id.empty())
            files << folder + "/" + QString::fromStdString(id.c_str()).replace('\\', '/');
    }
    return files;
}

void WarmUp(const QString &folder)
{
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            benchmark::DoNotOptimize(file.readAll().size());
    }
}

QString PatientOf(const QString &file)
{
    DcmFileFormat format;
    OFString id;
    format.loadFile(file.toStdString().c_str());
    format.getDataset()->findAndGetOFString(DCM_PatientID, id);
    return QString::fromStdString(id.c_str());
}

struct Timing : loading::LoadObserver
{
    QElapsedTimer clock;
    qint64 handoverNs = -1;
    void HandOver() override { handoverNs = clock.nsecsElapsed(); }
};

void BM_BareDcmtk(benchmark::State &state, const QString &preset, int images)
{
    const QString folder = Visit(preset, images);
    const QStringList files = CatalogueFiles(folder);
    WarmUp(folder);
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        DcmFileFormat dir;
        benchmark::DoNotOptimize(dir.loadFile((folder + "/DICOMDIR").toStdString().c_str()).good());
        for (const QString &file : files) {
            DcmFileFormat format;
            benchmark::DoNotOptimize(format.loadFile(file.toStdString().c_str()).good());
        }
    }
    state.counters["files"] = double(files.size());
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
}

// The same loop reading each file whole (pixel data included), as a viewer that
// does not defer its pixels would.
void BM_BareDcmtkFullRead(benchmark::State &state, const QString &preset, int images)
{
    const QString folder = Visit(preset, images);
    const QStringList files = CatalogueFiles(folder);
    WarmUp(folder);
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        DcmFileFormat dir;
        benchmark::DoNotOptimize(dir.loadFile((folder + "/DICOMDIR").toStdString().c_str()).good());
        for (const QString &file : files) {
            DcmFileFormat format;
            benchmark::DoNotOptimize(format.loadFile(file.toStdString().c_str()).good());
            benchmark::DoNotOptimize(format.loadAllDataIntoMemory().good());
        }
    }
    state.counters["files"] = double(files.size());
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
}

// The imaging component's ReadFile alone over the same files (what the loader cannot
// do faster than).
void BM_ImagingReadFile(benchmark::State &state, const QString &preset, int images)
{
    const QString folder = Visit(preset, images);
    const QStringList files = CatalogueFiles(folder);
    WarmUp(folder);
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        auto collection = imaging::CreateImages();
        for (const QString &file : files)
            benchmark::DoNotOptimize(collection->ReadFile(file).get());
    }
    state.counters["files"] = double(files.size());
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
}

void BM_VisitLoad(benchmark::State &state, const QString &preset, int images)
{
    const QString folder = Visit(preset, images);
    const QStringList files = CatalogueFiles(folder);
    WarmUp(folder);
    loading::LoadRequest request;
    request.programFolder = folder;
    request.catalogue = QStringLiteral("DICOMDIR");
    request.patientId = PatientOf(files.value(0));
    double handoverMs = 0, totalMs = 0;
    int entries = 0;
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        VisitContent content;
        Timing timing;
        timing.clock.start();
        const loading::LoadOutcome outcome = loading::RunVisitLoad(request, content, timing);
        const qint64 total = timing.clock.nsecsElapsed();
        if (outcome.failed()) {
            state.SkipWithError(qPrintable(outcome.errorText));
            break;
        }
        entries = content.Images()->Count();
        handoverMs += (timing.handoverNs >= 0 ? timing.handoverNs : total) / 1e6;
        totalMs += total / 1e6;
    }
    state.counters["images"] = entries;
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
    state.counters["handover_ms"] = benchmark::Counter(handoverMs, benchmark::Counter::kAvgIterations);
    state.counters["total_ms"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
}

// The whole loading thread as the main window starts it: progress window, the thread,
// the blocking hand-over into the (idle) main thread, the end-of-thread step.
class BenchHost : public TChargementHost
{
public:
    QElapsedTimer clock;
    qint64 handoverNs = -1;
    int image = 0;
    void AfterThreadLoading() override
    {
        if (handoverNs < 0)
            handoverNs = clock.nsecsElapsed();
    }
    void AfterThreadTerminate() override {}
    void PostThreadTerminate() override {}
    int OpenButtonImage() const override { return image; }
    void SetOpenButtonImage(int i) override { image = i; }
};

void BM_LoadingThread(benchmark::State &state, const QString &preset, int images)
{
    const QString folder = Visit(preset, images);
    const QStringList files = CatalogueFiles(folder);
    WarmUp(folder);
    QTemporaryDir settings;
    TShellServices services;
    services.Machine = std::make_shared<platform::QtSettingsScope>(settings.filePath("machine.conf"));
    services.User = std::make_shared<platform::QtSettingsScope>(settings.filePath("user.conf"));
    services.Screens = std::make_shared<platform::FixedScreenInfo>(1, QSize(1280, 1024), 40);
    services.LogFolder = settings.filePath("log");
    services.TempVariable = settings.path();
    services.ExecutablePath = folder + "/KorvaneCD";
    TTemplateDM dm(services, [](const QString &, TMsgDlgType, TMsgDlgButtons) { return int(mrOk); });
    const QString patient = PatientOf(files.value(0));
    double handoverMs = 0, totalMs = 0;
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        BenchHost host;
        auto content = std::make_shared<VisitContent>();
        QEventLoop loop;
        host.clock.start();
        auto *loader = new TChargement(patient, QString(), QStringLiteral("DICOMDIR"), content, &host);
        QObject::connect(loader, &TChargement::Ended, &loop, &QEventLoop::quit);
        loop.exec();
        const qint64 total = host.clock.nsecsElapsed();
        handoverMs += host.handoverNs / 1e6;
        totalMs += total / 1e6;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.counters["handover_ms"] = benchmark::Counter(handoverMs, benchmark::Counter::kAvgIterations);
    state.counters["total_ms"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_BareDcmtkFullRead, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_BareDcmtk, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_ImagingReadFile, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VisitLoad, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LoadingThread, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->Iterations(4)->UseRealTime();
BENCHMARK_CAPTURE(BM_BareDcmtk, demo, QStringLiteral("demo"), -1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VisitLoad, demo, QStringLiteral("demo"), -1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadingThread, demo, QStringLiteral("demo"), -1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
