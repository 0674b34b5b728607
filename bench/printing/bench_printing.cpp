// Standard printing of 16 selected images in a 4 x 4 grid to a PDF file on A4 at 300
// dots per inch (the whole job: pictures drawn at their size on paper, footer, file
// written), against rendering the same 16 pictures alone at the same sizes. Both passes
// start from the same decoded frames (a first pass warms the frame cache), so the
// difference is what printing adds: painting into the printer and writing the file.
//
// Counter "pdf_KB": the size of the file written.
//
// BM_PeakMemoryOfAJob: the whole job for 16 and for 200 selected CT images (4 x 4, so 1 and 13 pages), each in a
// process of its own (this program run again with --peak-job=N), reporting how much the resident size rose above
// what it was before the job (its high-water mark less the size just before). The job keeps one picture at a time,
// so 200 images should cost no more than a few MB beyond 16. The decoded-frame cache is set small for it (it is the
// component's, with a budget of its own); KORVANE_PEAK_FULL_CACHE=1 keeps its default, to see the cache fill.

#include "bench/benchvisit.h"
#include "viewer/frame/selection.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/tests/shelltesting.h"
#include "viewer/window/printing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kImages = 16;
const printing::TPrintGrid kGrid{4, 4};

struct Scene
{
    ShellFixture shell;
    QTemporaryDir visit;
    std::unique_ptr<imaging::DicomViewerLight> renderer;
    bool ok = false;

    Scene()
    {
        shell.Create();
        if (!bench::LoadDemoVisit(visit.path()))
            return;
        const auto images = VisitData().VisitImages();
        if (images->Count() < kImages)
            return;
        for (int i = 1; i <= kImages; ++i)
            selection::SetSelected(*images->Item(i), true);
        renderer.reset(loading::NewViewerControl(nullptr));
        ok = true;
    }

    std::unique_ptr<QPrinter> Printer() const
    {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setResolution(300);
        printer->setPageSize(QPageSize(QPageSize::A4));
        printer->setOutputFileName(visit.filePath(QStringLiteral("bench.pdf")));
        return printer;
    }
};

Scene *g_scene = nullptr;

void BM_RenderPicturesAlone(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    // The sizes the pictures take on paper, from the printer's own geometry.
    const auto printer = g_scene->Printer();
    const int cw = printing::CellWidth(printer->width(), kGrid.columns);
    const int ch = printing::CellHeight(printer->height(), kGrid.rows);
    const auto images = VisitData().VisitImages();
    std::vector<QSize> sizes;
    for (int i = 1; i <= kImages; ++i) {
        const auto image = images->Item(i);
        sizes.push_back(printing::PictureRect({0, 0}, {cw, ch}, QSizeF(image->SizeX(), image->SizeY())).size());
    }
    for (auto _ : state) {
        for (int i = 1; i <= kImages; ++i)
            benchmark::DoNotOptimize(g_scene->renderer->Picture(images->Item(i), sizes[i - 1]).constBits());
    }
}

void BM_PrintFourByFourToPdf(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    const QDateTime start = QDateTime::currentDateTime();
    qint64 bytes = 0;
    for (auto _ : state) {
        auto printer = g_scene->Printer();
        const auto report = printing::PrintSelectedImages(*printer, *VisitData().VisitImages(), kGrid, start,
                                                          *g_scene->renderer);
        if (!report.finished || report.pictures != kImages || report.pages != 1) {
            state.SkipWithError("the job did not print 16 pictures on one page");
            break;
        }
        printer.reset();
        bytes = QFileInfo(g_scene->visit.filePath(QStringLiteral("bench.pdf"))).size();
    }
    state.counters["pdf_KB"] = double(bytes) / 1024.0;
}

long ResidentKB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// In the child process: a generated CT visit of `count` images, all selected, printed 4 x 4 to a PDF file; prints
// the resident size's rise during the job in KB.
int PeakJobChild(int count)
{
    ShellFixture shell;
    shell.Create();
    QTemporaryDir visit;
    if (!bench::LoadGeneratedVisit(visit.path(), QStringLiteral("ct-large"), count, QStringLiteral("KV009999")))
        return 1;
    const auto images = VisitData().VisitImages();
    if (images->Count() < count)
        return 1;
    for (int i = 1; i <= count; ++i)
        selection::SetSelected(*images->Item(i), true);
    std::unique_ptr<imaging::DicomViewerLight> renderer(loading::NewViewerControl(nullptr));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setResolution(300);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(visit.filePath(QStringLiteral("peak.pdf")));
    // The decoded-frame cache is the component's, with its own budget (512 MiB by default), and would hold every
    // printed image's frame: a small budget leaves what the job itself holds.
    if (std::getenv("KORVANE_PEAK_FULL_CACHE") == nullptr)
        imaging::SetFrameCacheBudget(16u * 1024 * 1024);
    const long before = ResidentKB();
    const auto report = printing::PrintSelectedImages(printer, *images, kGrid, QDateTime::currentDateTime(), *renderer);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (!report.finished || report.pictures != count)
        return 1;
    std::printf("%ld\n", usage.ru_maxrss - before);
    return 0;
}

QString g_self;

double PeakRiseKB(int count)
{
    QProcess child;
    child.start(g_self, {QStringLiteral("--peak-job=%1").arg(count)});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return -1;
    bool ok = false;
    const double kb = QString::fromLatin1(child.readAllStandardOutput()).trimmed().toDouble(&ok);
    return ok ? kb : -1;
}

void BM_PeakMemoryOfAJob(benchmark::State &state)
{
    double small = -1, large = -1;
    for (auto _ : state) {
        small = PeakRiseKB(16);
        large = PeakRiseKB(200);
    }
    if (small < 0 || large < 0) {
        state.SkipWithError("a measuring job failed");
        return;
    }
    state.counters["peak_rise_16_MB"] = small / 1024.0;
    state.counters["peak_rise_200_MB"] = large / 1024.0;
    state.counters["difference_MB"] = (large - small) / 1024.0;
}

BENCHMARK(BM_RenderPicturesAlone)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PrintFourByFourToPdf)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PeakMemoryOfAJob)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--peak-job=", 11) == 0)
            return PeakJobChild(std::atoi(argv[i] + 11));
    g_self = QCoreApplication::applicationFilePath();
    benchmark::Initialize(&argc, argv);
    {
        Scene scene;
        g_scene = &scene;
        benchmark::RunSpecifiedBenchmarks();
        g_scene = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
