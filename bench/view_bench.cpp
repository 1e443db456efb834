// What the user waits for in the slice view, on files made here:
//   large  800 layers of 4 contours with 8,000 vertices each (about 205 MB);
//   small  400 layers of 8,000 octagons, as lattices and supports give (about 256 MB).
// Open: SliceView::openFile and showing slice 1 in a 1280 x 800 view, against the
// single-threaded reader alone on the same file in the same run ("vs_reader") and against the
// parallel reader ("vs_parallel_reader"), with the process's peak memory while opening against
// the file size ("peak_vs_file", and "growth_vs_file" for what the opening added).
// Switch and paint: two dense slices (8,000 octagons, or 1,000 contours of 100 vertices),
// switching from one to the other (building its items, letting the scene polish them) and
// painting the whole view once, with vertex marks off and on.

#include "benchmemory.h"
#include "benchslices.h"
#include "slcreader.h"
#include "slcwriter.h"
#include "sliceview.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QTemporaryDir>
#include <QWindow>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <malloc.h>

namespace {

using geom::Point2Df;
using Clock = std::chrono::steady_clock;

// perLayer contours of n vertices per layer: rings about the centre when large, else a grid of
// small polygons 3 mm apart.
Slice layer(int index, int perLayer, int n, bool large)
{
    QVector<Contour> contours;
    contours.reserve(perLayer);
    const float phase = float(index) * 0.01f;
    for (int c = 0; c < perLayer; ++c) {
        if (large)
            contours.append(regularPolygon(0, 0, 20.0f + 10.0f * float(c), n, phase));
        else
            contours.append(regularPolygon(float(c % 90) * 3.0f, float(c / 90) * 3.0f, 1.0f, n, phase));
    }
    return Slice(0.1f * float(index + 1), 0.1f, std::move(contours));
}

// Written layer by layer, so that making the file never holds it all in memory.
QString makeFile(const QString &name, int layers, int perLayer, int n, bool large)
{
    const QString path = benchTempDir().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    SlcWriter writer(&file);
    for (int l = 0; l < layers; ++l) {
        if (!writer.writeSlice(layer(l, perLayer, n, large), false))
            return QString();
    }
    return writer.finish() ? path : QString();
}

const QString &openFile(bool large)
{
    static QString paths[2];
    QString &path = paths[large ? 1 : 0];
    if (path.isEmpty())
        path = large ? makeFile("large.slc", 800, 4, 8000, true) : makeFile("small.slc", 400, 8000, 8, false);
    return path;
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Memory goes back to the system before each measurement, so that both the reader alone and the
// view pay for fresh pages as a newly started program does.
double readerSeconds(const QString &path, bool parallel = false)
{
    malloc_trim(0);
    const auto t0 = Clock::now();
    QFile file(path);
    SlcReader reader(&file);
    reader.setParallel(parallel);
    const QList<Slice> slices = reader.readSlices(false, -1);
    const double t = seconds(t0);
    benchmark::DoNotOptimize(slices.size());
    return t;
}

void showView(SliceView &view)
{
    view.resize(1280, 800);
    view.setAnimationsEnabled(false);
    view.show();
    for (int i = 0; i < 100 && !(view.windowHandle() && view.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
}

// The single-threaded reader alone: the yardstick of opening.
void BM_Reader(benchmark::State &state, bool large)
{
    const QString &path = openFile(large);
    for (auto _ : state)
        state.SetIterationTime(readerSeconds(path));
    state.SetBytesProcessed(int64_t(state.iterations()) * QFileInfo(path).size());
}

void BM_OpenAndShow(benchmark::State &state, bool large)
{
    const QString &path = openFile(large);
    const double fileBytes = double(QFileInfo(path).size());
    double reader = readerSeconds(path);
    double parallelReader = readerSeconds(path, true);
    for (int i = 0; i < 2; ++i) {
        reader = std::min(reader, readerSeconds(path));
        parallelReader = std::min(parallelReader, readerSeconds(path, true));
    }

    double total = 0.0;
    qint64 peakKiB = 0;
    qint64 growthKiB = 0;
    for (auto _ : state) {
        SliceView view;
        showView(view);
        malloc_trim(0);
        const bool peakReset = resetPeakMemory();
        const qint64 before = statusKiB("VmRSS:");
        const auto t0 = Clock::now();
        view.openFile(path);
        view.setSlice(1);
        const double t = seconds(t0);
        total += t;
        state.SetIterationTime(t);
        if (peakReset) {
            const qint64 peak = statusKiB("VmHWM:");
            peakKiB = std::max(peakKiB, peak);
            growthKiB = std::max(growthKiB, peak - before);
        }
        if (view.sliceCount() != (large ? 800 : 400))
            state.SkipWithError("wrong slice count");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(fileBytes));
    state.counters["file_MB"] = fileBytes / 1e6;
    state.counters["reader_ms"] = reader * 1e3;
    state.counters["vs_reader"] = total / double(state.iterations()) / reader;
    state.counters["parallel_reader_ms"] = parallelReader * 1e3;
    state.counters["vs_parallel_reader"] = total / double(state.iterations()) / parallelReader;
    state.counters["peak_MB"] = double(peakKiB) * 1024.0 / 1e6;
    state.counters["peak_vs_file"] = double(peakKiB) * 1024.0 / fileBytes;
    state.counters["growth_vs_file"] = double(growthKiB) * 1024.0 / fileBytes;
}

// Switching between two dense slices and painting the view, vertex marks off or on.
void BM_SwitchAndPaint(benchmark::State &state, int perLayer, int n, bool marks)
{
    const QString path = makeFile(QStringLiteral("dense-%1-%2.slc").arg(perLayer).arg(n), 2, perLayer, n, false);
    SliceView view;
    showView(view);
    view.openFile(path);
    view.setShowVertices(marks);
    view.setSlice(1);
    view.zoomToAll();
    QCoreApplication::processEvents();

    double build = 0.0;
    double paint = 0.0;
    double worstBuild = 0.0;
    double worstPaint = 0.0;
    int next = 2;
    for (auto _ : state) {
        // The scene polishes the new items and takes note of what changed before it paints. The
        // viewport's updates are held meanwhile: the scene's queued change notice would
        // otherwise paint it here already, and the build would count a paint of its own.
        view.viewport()->setUpdatesEnabled(false);
        auto t0 = Clock::now();
        view.setSlice(next);
        QCoreApplication::sendPostedEvents(view.scene(), QEvent::MetaCall);
        const double b = seconds(t0);
        view.viewport()->setUpdatesEnabled(true);
        t0 = Clock::now();
        view.viewport()->repaint();
        const double p = seconds(t0);
        state.SetIterationTime(b + p);
        build += b;
        paint += p;
        worstBuild = std::max(worstBuild, b);
        worstPaint = std::max(worstPaint, p);
        state.PauseTiming();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        next = 3 - next;
    }
    const double iterations = double(state.iterations());
    state.counters["build_ms"] = build / iterations * 1e3;
    state.counters["paint_ms"] = paint / iterations * 1e3;
    state.counters["worst_build_ms"] = worstBuild * 1e3;
    state.counters["worst_paint_ms"] = worstPaint * 1e3;
    state.SetItemsProcessed(int64_t(state.iterations()) * perLayer);
}

} // namespace

BENCHMARK_CAPTURE(BM_Reader, large, true)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_OpenAndShow, large, true)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_Reader, small, false)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_OpenAndShow, small, false)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_SwitchAndPaint, octagons_marks_off, 8000, 8, false)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_SwitchAndPaint, octagons_marks_on, 8000, 8, true)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_SwitchAndPaint, polygons100_marks_off, 1000, 100, false)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK_CAPTURE(BM_SwitchAndPaint, polygons100_marks_on, 1000, 100, true)->Unit(benchmark::kMillisecond)->UseManualTime();

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The view reports its load times on the debug channel; the figures here are the measure.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg)
            fprintf(stderr, "%s\n", qPrintable(message));
    });
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
