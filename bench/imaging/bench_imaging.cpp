// Imaging component benchmarks, each with its DCMTK baseline in the same run.
//
//   ReadHeader/Component   ReadFile of a 512 x 512 CT file (pixels stay on disk)
//   ReadHeader/DcmtkLoad   DcmFileFormat::loadFile of the same file (baseline)
//   Window/Component       DisplayFrame of the decoded frame with a new window each time
//   Window/DcmtkOutput     DCMTK's DicomImage::setWindow + getOutputData(8) (baseline)
//   Memory/1000Images      heap held by 1000 loaded, never displayed images (counter
//                          bytes_per_image; raw_pixel_bytes is what each file carries)
//
// The files come from the synthetic visit generator, written to a temporary folder.

#include "imaging/imaging.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <malloc.h>

#include <memory>
#include <vector>

namespace {

struct Data
{
    QTemporaryDir dir;
    QStringList ctFiles; // 512 x 512, 16 bits, rescale -1024, window 40/400
    Data()
    {
        QProcess p;
        p.start(QStringLiteral(KORVANE_STUDYGEN), {"--out", dir.path() + "/demo", "--preset", "demo"});
        p.waitForFinished(300000);
        QDir series(dir.path() + "/demo/DICOM/ST000001/SE000001");
        for (const QString &f : series.entryList(QDir::Files, QDir::Name))
            ctFiles << series.filePath(f);
    }
};

Data &TestData()
{
    static Data d;
    return d;
}

void ReadHeaderComponent(benchmark::State &state)
{
    const QString file = TestData().ctFiles.value(0);
    auto images = imaging::CreateImages();
    images->ReadFile(file); // warm the dictionary and codecs
    for (auto _ : state) {
        auto img = images->ReadFile(file);
        benchmark::DoNotOptimize(img->SizeX());
        images->Clear();
    }
}
BENCHMARK(ReadHeaderComponent)->Name("ReadHeader/Component");

void ReadHeaderDcmtk(benchmark::State &state)
{
    const QByteArray file = TestData().ctFiles.value(0).toLocal8Bit();
    for (auto _ : state) {
        DcmFileFormat ff;
        ff.loadFile(file.constData(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_autoDetect);
        Uint16 rows = 0;
        ff.getDataset()->findAndGetUint16(DCM_Rows, rows);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(ReadHeaderDcmtk)->Name("ReadHeader/DcmtkLoad");

void WindowComponent(benchmark::State &state)
{
    auto img = imaging::CreateImages()->ReadFile(TestData().ctFiles.value(0));
    img->SetOnScreen(true);
    img->DisplayFrame(); // decode once; the frame stays in the cache
    int i = 0;
    for (auto _ : state) {
        img->SetWidth(400 + (i & 15));
        img->SetLevel(40 + (i & 7));
        QImage out = img->DisplayFrame();
        benchmark::DoNotOptimize(out.constBits());
        ++i;
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(WindowComponent)->Name("Window/Component")->Unit(benchmark::kMicrosecond);

void WindowDcmtk(benchmark::State &state)
{
    DicomImage di(TestData().ctFiles.value(0).toLocal8Bit().constData());
    if (di.getStatus() != EIS_Normal) {
        state.SkipWithError("DCMTK could not open the image");
        return;
    }
    di.getOutputData(8); // decode once
    int i = 0;
    for (auto _ : state) {
        di.setWindow(40 + (i & 7), 400 + (i & 15));
        const void *out = di.getOutputData(8, 0, 0);
        benchmark::DoNotOptimize(out);
        ++i;
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(WindowDcmtk)->Name("Window/DcmtkOutput")->Unit(benchmark::kMicrosecond);

std::size_t HeapInUse()
{
    malloc_trim(0);
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void Memory1000Images(benchmark::State &state)
{
    const QStringList files = TestData().ctFiles;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = HeapInUse();
        const std::size_t cacheBefore = imaging::FrameCacheUsage();
        state.ResumeTiming();
        auto images = imaging::CreateImages();
        for (int i = 0; i < 1000; ++i) {
            auto img = images->ReadFile(files[i % files.size()]);
            // What the loader reads of every image: identity, window, frames.
            benchmark::DoNotOptimize(img->Width() + img->FrameCount());
        }
        state.PauseTiming();
        const std::size_t after = HeapInUse();
        const std::size_t cache = imaging::FrameCacheUsage() - cacheBefore;
        state.counters["bytes_per_image"] = static_cast<double>(after - before - cache) / 1000.0;
        state.counters["decoded_cache_bytes"] = static_cast<double>(cache);
        state.counters["raw_pixel_bytes"] = 512.0 * 512 * 2;
        images->Clear();
        state.ResumeTiming();
    }
}
BENCHMARK(Memory1000Images)->Name("Memory/1000Images")->Unit(benchmark::kMillisecond)->Iterations(2);

// Baseline for the memory figure: 1000 DCMTK data sets loaded the same way.
void Memory1000Dcmtk(benchmark::State &state)
{
    const QStringList files = TestData().ctFiles;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = HeapInUse();
        state.ResumeTiming();
        std::vector<std::unique_ptr<DcmFileFormat>> sets;
        for (int i = 0; i < 1000; ++i) {
            auto ff = std::make_unique<DcmFileFormat>();
            ff->loadFile(files[i % files.size()].toLocal8Bit().constData(), EXS_Unknown, EGL_noChange,
                         DCM_MaxReadLength, ERM_autoDetect);
            sets.push_back(std::move(ff));
        }
        state.PauseTiming();
        state.counters["bytes_per_image"] = static_cast<double>(HeapInUse() - before) / 1000.0;
        sets.clear();
        state.ResumeTiming();
    }
}
BENCHMARK(Memory1000Dcmtk)->Name("Memory/1000DcmtkDataSets")->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
