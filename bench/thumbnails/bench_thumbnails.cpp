// The thumbnails window for a visit of 30 series, offscreen: building it (a header per
// study, a panel with a picture of the middle frame per series), against decoding the
// same 30 middle frames bare, each pass on images freshly read from their files so that
// no decoded frame is left from the previous pass. The series are the first images of
// the generated demo visit's series, taken in turn until there are 30 (neighbours always
// differ, so every one is a series of its own).
//
// Counter "KB_per_series": the heap the built window holds beyond the decoded frames,
// per series.

#include "bench/benchvisit.h"
#include "viewer/loading/components.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/tests/shelltesting.h"
#include "viewer/window/formthumbnails.h"
#include "viewer/window/formviewer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>

namespace {

constexpr int kSeries = 30;

struct Scene
{
    ShellFixture shell;
    QTemporaryDir visit;
    std::unique_ptr<TFormViewer> window;
    QStringList files; // one per series, in visit order
    bool ok = false;

    Scene()
    {
        shell.Create();
        if (!bench::LoadDemoVisit(visit.path()))
            return;
        // One file per series as the files have them (the loader splits some series by
        // rewriting their UID, which a file read again does not carry).
        QStringList firsts, uids;
        const auto images = VisitData().VisitImages();
        const auto probe = loading::NewImages();
        for (int i = 1; i <= images->Count(); ++i) {
            const QString file = images->Item(i)->FileName();
            if (file.isEmpty() || firsts.contains(file))
                continue;
            const auto read = probe->ReadFile(file);
            if (read && !uids.contains(read->SeriesUID())) {
                uids << read->SeriesUID();
                firsts << file;
            }
        }
        if (firsts.size() < 2)
            return;
        for (int i = 0; i < kSeries; ++i)
            files << firsts[i % firsts.size()];
        window = std::make_unique<TFormViewer>();
        window->resize(1280, 900);
        window->show();
        QApplication::processEvents();
        ok = true;
    }

    // VisitImages made anew from the files: nothing decoded yet.
    void ReadVisit()
    {
        VisitData().ResetVisitImages();
        const auto images = VisitData().VisitImages();
        for (const QString &file : files)
            images->ReadFile(file);
    }
};

Scene *g_scene = nullptr;

size_t HeapInUse()
{
    malloc_trim(0);
    return mallinfo2().uordblks;
}

void DecodeMiddleFrames()
{
    const auto images = VisitData().VisitImages();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        const int frame = image->FrameCount() > 1 ? image->FrameCount() / 2 : 1;
        const int before = image->Frame();
        image->SetFrame(frame);
        benchmark::DoNotOptimize(image->MaximumPixelValue());
        image->SetFrame(before);
    }
}

void BM_BareDecoding(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    for (auto _ : state) {
        g_scene->ReadVisit();
        QElapsedTimer clock;
        clock.start();
        DecodeMiddleFrames();
        state.SetIterationTime(clock.nsecsElapsed() * 1e-9);
    }
}

void BM_BuildThumbnails(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    double heldPerSeries = 0;
    for (auto _ : state) {
        g_scene->ReadVisit();
        QElapsedTimer clock;
        clock.start();
        auto *window = new TFormThumbnails(*g_scene->window, nullptr);
        window->show();
        QApplication::processEvents(); // its first drawing
        state.SetIterationTime(clock.nsecsElapsed() * 1e-9);
        const bool whole = window->SeriesPanels().size() == kSeries;
        delete window;
        QApplication::processEvents();
        if (!whole) {
            state.SkipWithError("not one panel per series");
            break;
        }
    }
    // Memory: the same frames decoded bare first, so that only what the window itself
    // holds (widgets, pictures, controls) is counted.
    g_scene->ReadVisit();
    DecodeMiddleFrames();
    const size_t before = HeapInUse();
    auto *window = new TFormThumbnails(*g_scene->window, nullptr);
    window->show();
    QApplication::processEvents();
    const size_t after = HeapInUse();
    heldPerSeries = after > before ? double(after - before) / kSeries / 1024.0 : 0;
    delete window;
    QApplication::processEvents();
    state.counters["KB_per_series"] = heldPerSeries;
    state.counters["series"] = kSeries;
}

// Timed by hand around the work itself: reading the files again between passes is not
// part of either.
BENCHMARK(BM_BareDecoding)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_BuildThumbnails)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

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
