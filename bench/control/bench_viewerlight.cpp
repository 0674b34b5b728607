// Repaint of the on-screen control, each case beside its baseline: a plain
// QPainter::drawImage of the same 8-bit picture onto a surface of the same size.
//
//   BM_Baseline_DrawImage/512      the 512 x 512 8-bit picture, unscaled
//   BM_Baseline_DrawImageScaled    the same, scaled into a 508-pixel cell, smoothed
//   BM_RepaintOneCell              one 512 x 512 cell, smoothing, 11 labels
//   BM_RepaintGrid2x2              four such cells in a 2 x 2 grid
//   BM_StepSeries                  next image of a 500-image uncompressed CT series:
//                                  read, decode, draw (items per second)

#include "imaging/src/viewerlight_impl.h"
#include "imaging/tests/viewerlight_testimages.h"

#ifdef KORVANE_BENCH_HAS_STUDYGEN
#include "studygen.h"
#endif

#include <QApplication>
#include <QDirIterator>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

using namespace imaging;

namespace {

constexpr int kSize = 512;

DicomImagePtr Phantom()
{
    return viewerlight_test::MakeMonoImage(kSize, kSize, [](int x, int y, int) {
        const double dx = x - 256.0, dy = y - 256.0;
        const double r = std::sqrt(dx * dx + dy * dy);
        return r < 200 ? 1000 + int(300 * std::sin(x / 17.0) * std::cos(y / 23.0)) : 0;
    }, 1, 1000, 800, viewerlight_test::AxialGeometry(0.7));
}

void AddStandardLabels(DicomImage &image)
{
    auto add = [&](int type, int l, int t, int w, int h, int alignment, const QString &text) {
        DicomLabelPtr label = image.Labels()->AddNew();
        label->SetLabelType(type);
        label->SetImageTied(false);
        label->SetScaleWithCell(true);
        label->SetLeft(l);
        label->SetTop(t);
        label->SetWidth(w);
        label->SetHeight(h);
        label->SetAlignment(alignment);
        label->SetText(text);
        label->SetFontSize(20);
        label->SetScaleFontSize(true);
        label->SetShadow(1);
    };
    add(DicomLabel::TypeOrientation, 10, 5, 980, 495, 1, QStringLiteral("Top"));
    add(DicomLabel::TypeOrientation, 10, 5, 980, 495, 8, QStringLiteral("Left"));
    add(DicomLabel::TypeOrientation, 10, 5, 980, 495, 10, QStringLiteral("Right"));
    add(DicomLabel::TypeOrientation, 10, 500, 980, 495, 9, QStringLiteral("Bottom"));
    add(DicomLabel::TypeRuler, 950, 200, -25, 600, 0, {});
    add(DicomLabel::TypeRuler, 200, 950, 600, -25, 0, {});
    add(DicomLabel::TypeText, 10, 5, 980, 495, 0,
        QStringLiteral("CT\r4471\rAbdomen axial\rSe: 1/3\rIm: 10/500\rAx: I40.5\rDim: 512 x 512\rZoom: 1.0x"));
    add(DicomLabel::TypeText, 10, 500, 980, 495, 8, QStringLiteral("Lgd:\r120 kVP\r250 mA\rTilt: 0\rW: 400 L: 40"));
    add(DicomLabel::TypeText, 10, 5, 980, 495, 2,
        QStringLiteral("CLINIQUE\rPATIENT Nom\r1958-04-12 068Y F KV000123\rAcc: CT1\r20261109\r101500"));
    add(DicomLabel::TypeText, 10, 500, 980, 495, 10, QStringLiteral("ABDOMEN HFS\rSTANDARD\rSOMATOM\rDFOV: 50.0 x 50.0 cm"));
    add(DicomLabel::TypeRectangle, 0, 0, 14, 14, 0, {});
}

std::unique_ptr<DicomViewerLight> MakeControl()
{
    // The control class itself (the factory hands out the same class).
    std::unique_ptr<DicomViewerLight> control(new detail::ViewerLight(nullptr));
    control->resize(kSize, kSize);
    control->SetCellSpacing(4);
    return control;
}

void Smoothing(DicomImage &image)
{
    image.SetStretchToFit(true);
    image.SetMagnificationMode(3);
    image.SetMinificationMode(3);
}

QImage Surface()
{
    QImage surface(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    surface.fill(Qt::black);
    return surface;
}

void BM_Baseline_DrawImage(benchmark::State &state)
{
    const QImage picture = Phantom()->DisplayFrame(); // 8-bit grey
    QImage surface = Surface();
    for (auto _ : state) {
        QPainter painter(&surface);
        painter.drawImage(0, 0, picture);
    }
}
BENCHMARK(BM_Baseline_DrawImage)->Unit(benchmark::kMillisecond);

void BM_Baseline_DrawImageScaled(benchmark::State &state)
{
    const QImage picture = Phantom()->DisplayFrame();
    QImage surface = Surface();
    for (auto _ : state) {
        QPainter painter(&surface);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(2, 2, 508, 508), picture);
    }
}
BENCHMARK(BM_Baseline_DrawImageScaled)->Unit(benchmark::kMillisecond);

void BM_RepaintOneCell(benchmark::State &state)
{
    auto control = MakeControl();
    DicomImagePtr image = Phantom();
    control->Images()->Add(image);
    Smoothing(*image);
    AddStandardLabels(*image);
    QImage surface = Surface();
    control->render(&surface); // first drawing decodes
    for (auto _ : state)
        control->render(&surface);
}
BENCHMARK(BM_RepaintOneCell)->Unit(benchmark::kMillisecond);

void BM_RepaintGrid2x2(benchmark::State &state)
{
    auto control = MakeControl();
    for (int i = 0; i < 4; ++i) {
        DicomImagePtr image = control->Images()->Add(Phantom());
        Smoothing(*image);
        AddStandardLabels(*image);
    }
    control->SetMultiRows(2);
    control->SetMultiColumns(2);
    QImage surface = Surface();
    control->render(&surface);
    for (auto _ : state)
        control->render(&surface);
}
BENCHMARK(BM_RepaintGrid2x2)->Unit(benchmark::kMillisecond);

#ifdef KORVANE_BENCH_HAS_STUDYGEN
// 500 uncompressed 512 x 512 CT slices, written once per run.
const QStringList &SeriesFiles()
{
    static QTemporaryDir dir;
    static QStringList files;
    if (files.isEmpty() && dir.isValid()) {
        studygen::Options options;
        options.outDir = dir.path();
        options.preset = QStringLiteral("ct-large");
        options.images = 500;
        QString error;
        if (studygen::generate(options, &error)) {
            QDirIterator it(dir.path() + QStringLiteral("/DICOM"), QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                files << it.next();
            files.sort();
        }
    }
    return files;
}

void BM_StepSeries(benchmark::State &state)
{
    const QStringList &files = SeriesFiles();
    if (files.size() < 500) {
        state.SkipWithError("the CT series could not be generated");
        return;
    }
    auto control = MakeControl();
    QImage surface = Surface();
    int next = 0;
    for (auto _ : state) {
        // Each step reads a file not read before in this collection: parse, decode, draw.
        control->Images()->Clear();
        DicomImagePtr image = control->Images()->ReadFile(files[next]);
        Smoothing(*image);
        AddStandardLabels(*image);
        control->SetCurrentIndex(1);
        control->render(&surface);
        next = (next + 1) % int(files.size());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StepSeries)->Unit(benchmark::kMillisecond)->Iterations(500)->UseRealTime();
#endif

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
