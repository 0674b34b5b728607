// Window/level drag in the real main window, offscreen: one right-button mouse-move
// event on the current frame (width and level follow the mouse, the frame redraws),
// against a plain repaint of the same frame. The same move event while drawing a length
// or an ellipse mark with the right button: only the rubber band follows the mouse (the
// values are computed once, at the release), so it should cost no more than the
// window/level move. The visit is the generated demo visit
// (its first series: 20 CT images of 512 x 512), shown in the usual 2 x 1 grid.

#include "bench/benchvisit.h"
#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/tests/shelltesting.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

struct Scene
{
    ShellFixture shell;
    QTemporaryDir visit;
    std::unique_ptr<TFormViewer> window;
    TFrameDicomViewer *frame = nullptr;
    bool ok = false;

    Scene()
    {
        shell.Create();
        if (!bench::LoadDemoVisit(visit.path()))
            return;
        window = std::make_unique<TFormViewer>();
        window->resize(1280, 900);
        window->show();
        QApplication::processEvents();
        const QString first = VisitData().VisitImages()->Item(1)->SeriesUID();
        window->ShowVisit(first, VisitData().NextSeriesKey(first));
        QApplication::processEvents();
        frame = window->CurrentFrame();
        ok = frame && frame->DicomViewer()->CurrentImage() && frame->DicomViewer()->CurrentImage()->SizeX() == 512;
    }
};

Scene *g_scene = nullptr;

void Send(QWidget *w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void BM_WindowLevelMove(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    QWidget *control = g_scene->frame->DicomViewer();
    Send(control, QEvent::MouseButtonPress, {200, 200}, Qt::RightButton, Qt::RightButton);
    QApplication::processEvents();
    int step = 0;
    QPoint last(200, 200);
    for (auto _ : state) {
        const int dx = (step++ % 40) - 19;
        last = QPoint(200 + dx, 200 + dx / 2);
        Send(control, QEvent::MouseMove, last, Qt::NoButton, Qt::RightButton);
        QApplication::processEvents(); // the repaint the move asked for
    }
    // Released away from the press point: a drag, not a click (no series menu).
    Send(control, QEvent::MouseButtonRelease, last + QPoint(1, 1), Qt::RightButton, Qt::NoButton);
    QApplication::processEvents();
}

// One right-button drag of a mark tool: press, the timed moves, release (which makes the
// mark and measures it once); the mark is then taken off so every run starts alike.
void MarkDrag(benchmark::State &state, int tool)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    g_scene->window->SetRightTool(tool);
    QWidget *control = g_scene->frame->DicomViewer();
    const auto image = g_scene->frame->DicomViewer()->CurrentImage();
    const int labelsBefore = image->Labels()->Count();
    Send(control, QEvent::MouseButtonPress, {150, 150}, Qt::RightButton, Qt::RightButton);
    QApplication::processEvents();
    int step = 0;
    QPoint last(150, 150);
    for (auto _ : state) {
        const int d = 20 + (step++ % 40);
        last = QPoint(150 + d, 150 + d / 2);
        Send(control, QEvent::MouseMove, last, Qt::NoButton, Qt::RightButton);
        QApplication::processEvents();
    }
    Send(control, QEvent::MouseButtonRelease, last, Qt::RightButton, Qt::NoButton);
    QApplication::processEvents();
    if (image->Labels()->Count() <= labelsBefore)
        state.SkipWithError("the drag made no mark");
    while (image->Labels()->Count() > labelsBefore)
        image->Labels()->Remove(image->Labels()->Count());
    g_scene->window->SetRightTool(toolIntensite);
}

void BM_MeasureLineMove(benchmark::State &state) { MarkDrag(state, toolMesureLine); }
void BM_MeasureEllipseMove(benchmark::State &state) { MarkDrag(state, toolMesureEllipse); }

void BM_PlainRepaint(benchmark::State &state)
{
    if (!g_scene || !g_scene->ok) {
        state.SkipWithError("no visit");
        return;
    }
    QWidget *control = g_scene->frame->DicomViewer();
    for (auto _ : state) {
        control->update();
        QApplication::processEvents();
    }
}

BENCHMARK(BM_PlainRepaint)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_WindowLevelMove)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_MeasureLineMove)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_MeasureEllipseMove)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

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
