// Ellipse statistics against a plain sum of the same values, in the same run.
//
//   RoiStats/Mean            ROIMean of an ellipse inscribed in a whole 512 x 512 CT frame
//                            (its height alternates between 512 and 511 so that every
//                            call walks the pixels again)
//   RoiStats/LegendValues    ROIArea, ROIMean and ROIStandardDeviation in a row, as the
//                            legend asks them for a new ellipse
//   RoiStats/PlainSum        baseline: a loop summing the modality values of the pixels
//                            inside that ellipse, taken beforehand into an array of doubles
//
// The file comes from the synthetic visit generator, written to a temporary folder.

#include "imaging/imaging.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <vector>

namespace {

struct Data
{
    QTemporaryDir dir;
    imaging::DicomImagePtr ct;
    std::vector<double> inside; // modality values of the pixels inside the ellipse
    Data()
    {
        QProcess p;
        p.start(QStringLiteral(KORVANE_STUDYGEN), {"--out", dir.path() + "/demo", "--preset", "demo"});
        p.waitForFinished(300000);
        QDir series(dir.path() + "/demo/DICOM/ST000001/SE000001");
        const QStringList files = series.entryList(QDir::Files, QDir::Name);
        ct = imaging::CreateImages()->ReadFile(series.filePath(files.value(0)));
        for (int y = 0; y < ct->SizeY(); ++y)
            for (int x = 0; x < ct->SizeX(); ++x) {
                const double u = (x + 0.5 - 256) / 256, v = (y + 0.5 - 256) / 256;
                if (u * u + v * v <= 1.0)
                    inside.push_back(ct->PixelValue(x, y));
            }
    }
};

Data &TestData()
{
    static Data d;
    return d;
}

imaging::DicomLabelPtr Ellipse()
{
    auto e = TestData().ct->Labels()->AddNew();
    e->SetLabelType(imaging::DicomLabel::TypeEllipse);
    e->SetImageTied(true);
    e->SetWidth(512);
    e->SetHeight(512);
    return e;
}

void Mean(benchmark::State &state)
{
    auto e = Ellipse();
    benchmark::DoNotOptimize(e->ROIMean()); // decodes the frame
    int h = 512;
    for (auto _ : state) {
        h = h == 512 ? 511 : 512;
        e->SetHeight(h);
        benchmark::DoNotOptimize(e->ROIMean());
    }
    state.counters["pixels"] = static_cast<double>(TestData().inside.size());
}
BENCHMARK(Mean)->Name("RoiStats/Mean")->Unit(benchmark::kMicrosecond);

void LegendValues(benchmark::State &state)
{
    auto e = Ellipse();
    benchmark::DoNotOptimize(e->ROIMean());
    int h = 512;
    for (auto _ : state) {
        h = h == 512 ? 511 : 512;
        e->SetHeight(h);
        benchmark::DoNotOptimize(e->ROIArea());
        benchmark::DoNotOptimize(e->ROIMean());
        benchmark::DoNotOptimize(e->ROIStandardDeviation());
    }
}
BENCHMARK(LegendValues)->Name("RoiStats/LegendValues")->Unit(benchmark::kMicrosecond);

void PlainSum(benchmark::State &state)
{
    const std::vector<double> &values = TestData().inside;
    for (auto _ : state) {
        double sum = 0;
        for (double v : values)
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(PlainSum)->Name("RoiStats/PlainSum")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
