// Standard printing of 16 selected images in a 4 x 4 grid to a PDF file on A4 at 300
// dots per inch (the whole job: pictures drawn at their size on paper, footer, file
// written), against rendering the same 16 pictures alone at the same sizes. Both passes
// start from the same decoded frames (a first pass warms the frame cache), so the
// difference is what printing adds: painting into the printer and writing the file.
//
// Counter "pdf_KB": the size of the file written.

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

#include <cstdio>

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

BENCHMARK(BM_RenderPicturesAlone)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PrintFourByFourToPdf)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
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
