// Speed of the slice image series, measured on a part made here in memory.
//
// Up to 1000 layers, each a vase wall (outer outline of 2048 vertices, hole of
// 1024) with eight pins of 256 vertices: about 5100 vertices a layer, about
// 76 x 76 mm. Platforms: the export window's default (1920 x 1080 pixels on
// 151.5 x 85.2188 mm), a 4K screen (3840 x 2400 on 192 x 120 mm, 50 um) and a
// 12K screen (11520 x 5120 on 218.88 x 122.88 mm, 19 um); the larger ones take
// fewer layers so that a run stays a few seconds long. Each iteration writes
// the whole series as 1-bit PNG files into a temporary directory (or
// IMAGE_BENCH_OUTPUT when set, to inspect them afterwards).
//
// "parallel" 1 uses every core under the default memory budget; 0 holds one
// image in memory (budget 0), the baseline for the parallel speed-up.
// Counters: images_per_second; peak_MB, the growth of peak resident memory
// during the run (VmHWM after against VmRSS before, with the peak reset first),
// which excludes the slices built beforehand; png_MB, the bytes written;
// png_bytes_per_image, their mean per image; cpu_ms_per_image, the processor
// time of all threads per image, which tells the work apart from the cores
// that other processes took while the benchmark ran.

#include "images/imagineslice.h"

#include "benchmemory.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSizeF>
#include <QTemporaryDir>
#include <QTransform>

#include <cmath>
#include <ctime>
#include <memory>

namespace {

using geom::Point2Df;

const int layerCount = 1000;

Contour ring(double cx, double cy, double radius, int n, bool clockwise, double wobble, double phase)
{
    QVector<Point2Df> points;
    points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
        const double r = radius * (1.0 + wobble * std::sin(6.0 * a + phase));
        points.append(Point2Df(float(cx + r * std::cos(a)), float(cy + r * std::sin(a))));
    }
    return Contour(std::move(points));
}

const QList<Slice> &part()
{
    static const QList<Slice> slices = [] {
        QList<Slice> list;
        for (int l = 0; l < layerCount; ++l) {
            const double t = double(l) / layerCount;
            const double outer = 30.0 + 8.0 * std::sin(3.0 * M_PI * t);
            QVector<Contour> contours;
            contours.append(ring(75.0, 42.0, outer, 2048, false, 0.03, t * 4.0));
            contours.append(ring(75.0, 42.0, outer - 4.0, 1024, true, 0.03, t * 4.0));
            for (int p = 0; p < 8; ++p) {
                const double a = 2.0 * M_PI * p / 8 + t;
                contours.append(ring(75.0 + 12.0 * std::cos(a), 42.0 + 12.0 * std::sin(a), 2.5, 256, false, 0.0, 0.0));
            }
            list.append(Slice(0.05f * float(l), 0.05f, std::move(contours)));
        }
        return list;
    }();
    return slices;
}

// Physical size in mm of the platforms measured, by their width in pixels.
QSizeF platformSize(int width)
{
    switch (width) {
    case 3840:
        return QSizeF(192.0, 120.0);
    case 11520:
        return QSizeF(218.88, 122.88);
    default:
        return QSizeF(151.5, 85.2188);
    }
}

// Arguments: width and height in pixels, number of layers, parallel.
void BM_ImageSeries(benchmark::State &state)
{
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    const int layers = int(state.range(2));
    const bool parallel = state.range(3) != 0;
    const QSizeF mm = platformSize(width);
    geom::ImagineSlice engine(part().mid(0, layers), nullptr);
    QTransform transform;
    transform.translate(0.0, height);
    transform.scale(width / mm.width(), -(height / mm.height()));
    engine.setSize(QSize(width, height));
    engine.setTransform(transform);
    if (!parallel)
        engine.setMemoryBudget(0);

    QTemporaryDir temporary;
    QString dir = qEnvironmentVariable("IMAGE_BENCH_OUTPUT");
    if (dir.isEmpty())
        dir = temporary.path();
    QDir().mkpath(dir);
    QStringList files;
    for (int i = 0; i < layers; ++i)
        files << QStringLiteral("%1/bench%2.png").arg(dir).arg(i, 4, 10, QLatin1Char('0'));

    qint64 peakKiB = 0;
    bool peakKnown = true;
    int images = 0;
    const std::clock_t cpuBefore = std::clock();
    for (auto _ : state) {
        peakKnown = resetPeakMemory() && peakKnown;
        const qint64 before = statusKiB("VmRSS:");
        images = engine.run(files, 0);
        const qint64 after = statusKiB("VmHWM:");
        peakKiB = std::max(peakKiB, after - before);
        if (images != layers) {
            state.SkipWithError(qPrintable(engine.errorString()));
            break;
        }
    }

    const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    qint64 bytes = 0;
    for (const QString &f : qAsConst(files))
        bytes += QFileInfo(f).size();
    state.SetItemsProcessed(state.iterations() * layers);
    state.counters["images_per_second"] =
        benchmark::Counter(double(state.iterations() * layers), benchmark::Counter::kIsRate);
    state.counters["peak_MB"] = peakKnown ? double(peakKiB) / 1024.0 : -1.0;
    state.counters["png_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["png_bytes_per_image"] = double(bytes) / layers;
    state.counters["cpu_ms_per_image"] = 1000.0 * cpuSeconds / double(std::max<qint64>(1, state.iterations() * layers));
    state.counters["images_in_flight"] = engine.peakImagesInFlight();
}

} // namespace

BENCHMARK(BM_ImageSeries)
    ->ArgNames({"width", "height", "layers", "parallel"})
    ->Args({1920, 1080, layerCount, 1})
    ->Args({1920, 1080, layerCount, 0})
    ->Args({3840, 2400, 500, 1})
    ->Args({11520, 5120, 200, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    part(); // built before any measurement
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
