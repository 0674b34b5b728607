// Loading a visit: the loader against a bare DCMTK loop over the same files.
//
// The visit is the generator's "ct-large" preset (1000 axial CT images of 512 x 512),
// written once under the build folder. Every case runs from a warm cache: the files
// are read once before the first measurement.
//
//   BM_BareDcmtk       the catalogue and every image file parsed by DCMTK (pixel data
//                      left on disk, as DCMTK does for large values by default)
//   BM_VisitLoad       the loader's whole work: catalogue walk, path lookup, reading,
//                      series split, eleven labels and corner texts, sort, numbering
//   counters           handover_ms: when the main window would get the visit
//                      (after the second series, or at the end for one series)
#include "studygen.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

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
    for (auto _ : state) {
        DcmFileFormat dir;
        benchmark::DoNotOptimize(dir.loadFile((folder + "/DICOMDIR").toStdString().c_str()).good());
        for (const QString &file : files) {
            DcmFileFormat format;
            benchmark::DoNotOptimize(format.loadFile(file.toStdString().c_str()).good());
        }
    }
    state.counters["files"] = double(files.size());
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
    state.counters["handover_ms"] = benchmark::Counter(handoverMs, benchmark::Counter::kAvgIterations);
    state.counters["total_ms"] = benchmark::Counter(totalMs, benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_BareDcmtk, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_VisitLoad, ct_large_1000, QStringLiteral("ct-large"), 1000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_BareDcmtk, demo, QStringLiteral("demo"), -1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_VisitLoad, demo, QStringLiteral("demo"), -1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
