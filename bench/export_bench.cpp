// Speed of the STL model export, measured on two parts made here in memory.
//
// part:0, "twisting": 1000 layers 0.1 mm apart, each a toothed disc (1500
// vertices, radius 30 mm) with an off-centre toothed hole (500 vertices,
// radius 8 mm): 2000 vertices a layer. The teeth (0.1 mm deep) survive the
// 0.02 mm clean-up, and every layer is turned by 0.1 degree against the one
// below, so consecutive outlines cross at almost every edge and the faces
// between layers are thousands of slivers: the hard case for the faces.
//
// part:1, "sphere": a sphere of radius 40 mm in 800 layers of 0.1 mm, as a
// slicer outlines a tessellated sphere: every layer has its own vertex count
// (about one vertex per 0.4 mm) and its own start angle, so consecutive
// outlines cross wherever they are close (near the equator).
//
// The export builds its layers on one thread per processor it may run on;
// run the program under `taskset -c 0` for the single-threaded figure.
//
// "discard" writes to a device that keeps no bytes (the engine alone), "file"
// to a file in a temporary directory (STL_BENCH_OUTPUT names a file to keep
// instead, for checking it with other tools).
// Counters: facets_per_second; facets; peak_MB, the growth of peak resident
// memory during the run (VmHWM after against VmRSS before, the peak reset
// first), which leaves out the slices made beforehand; stl_MB, the file size.
//
// Baselines: BM_StlWriterBaseline writes as many ready-made facets, layer by
// layer, through the STL writer alone; BM_PerLayerMethod makes the same
// parts the plain way, on one thread: two GLU calls for the faces between
// each pair of layers and walls of two facets per outline edge, not split
// where the faces meet them (so not closed edge by edge). Its facets counter
// is what the export's facet count is compared with.

#include "stl/stlexporter.h"
#include "stl/stlwriter.h"

#include "benchmemory.h"
// The plain per-layer method, which the tests compare the export's facet
// count with as well.
#include "../tests/export/stl/stlperlayer.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

namespace {

using geom::Point2Df;

const int layerCount = 1000;

Contour toothedRing(double cx, double cy, double radius, int n, bool clockwise, double turn)
{
    QVector<Point2Df> points;
    points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = turn + (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
        const double r = radius + ((i % 2) ? 0.05 : -0.05);
        points.append(Point2Df(float(cx + r * std::cos(a)), float(cy + r * std::sin(a))));
    }
    return Contour(std::move(points));
}

QList<Slice> twistingPart()
{
    QList<Slice> list;
    for (int l = 0; l < layerCount; ++l) {
        const double turn = l * 0.1 * M_PI / 180.0;
        QVector<Contour> contours;
        contours.append(toothedRing(0, 0, 30.0, 1500, false, turn));
        contours.append(toothedRing(12.0 * std::cos(turn), 12.0 * std::sin(turn), 8.0, 500, true, turn));
        list.append(Slice(0.1f * float(l), 0.1f, std::move(contours)));
    }
    return list;
}

QList<Slice> spherePart()
{
    const double radius = 40.0, step = 0.1;
    const int layers = int(2.0 * radius / step);
    QList<Slice> list;
    for (int l = 0; l < layers; ++l) {
        const double zc = -radius + (l + 0.5) * step;
        const double r = std::sqrt(radius * radius - zc * zc);
        const int n = std::max(12, int(2.0 * M_PI * r / 0.4)) + (l * 7) % 13;
        QVector<Point2Df> points;
        points.reserve(n);
        for (int i = 0; i < n; ++i) {
            const double a = l * 0.61 + 2.0 * M_PI * i / n;
            points.append(Point2Df(float(r * std::cos(a)), float(r * std::sin(a))));
        }
        list.append(Slice(float(step * l), float(step), QVector<Contour>{Contour(std::move(points))}));
    }
    return list;
}

const QList<Slice> &part(int which)
{
    static const QList<Slice> parts[2] = {twistingPart(), spherePart()};
    // The export reads the caches of shared contours; the viewer's stack has
    // them up to date, and so do these parts.
    static const bool updated = [] {
        for (const QList<Slice> &p : parts) {
            for (const Slice &s : p)
                s.update();
        }
        return true;
    }();
    Q_UNUSED(updated);
    return parts[which];
}

// Random access like a file, but the bytes go nowhere.
class DiscardDevice : public QIODevice
{
public:
    DiscardDevice() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }
    bool seek(qint64 pos) override { return pos <= m_size && QIODevice::seek(pos); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        m_size = std::max(m_size, pos() + len);
        return len;
    }

private:
    qint64 m_size = 0;
};

void BM_StlExport(benchmark::State &state)
{
    const QList<Slice> &slices = part(int(state.range(0)));
    const bool toFile = state.range(1) != 0;
    QTemporaryDir dir;
    QString path = qEnvironmentVariable("STL_BENCH_OUTPUT");
    if (path.isEmpty())
        path = dir.filePath(QStringLiteral("part.stl"));

    qint64 facets = 0;
    qint64 bytes = 0;
    qint64 peakKiB = 0;
    bool peakKnown = true;
    for (auto _ : state) {
        peakKnown = resetPeakMemory() && peakKnown;
        const qint64 before = statusKiB("VmRSS:");
        DiscardDevice discard;
        QFile file(path);
        QIODevice *device = &discard;
        if (toFile) {
            if (!file.open(QIODevice::WriteOnly)) {
                state.SkipWithError("cannot open the output file");
                break;
            }
            device = &file;
        }
        geom::StlExporter exporter(device, slices);
        exporter.run();
        peakKiB = std::max(peakKiB, statusKiB("VmHWM:") - before);
        if (!exporter.succeeded()) {
            state.SkipWithError(qPrintable(exporter.errorString()));
            break;
        }
        facets += exporter.facetCount();
        bytes = toFile ? QFile(path).size() : discard.size();
    }
    state.SetItemsProcessed(facets);
    state.counters["facets_per_second"] = benchmark::Counter(double(facets), benchmark::Counter::kIsRate);
    state.counters["facets"] = double(facets) / double(std::max<benchmark::IterationCount>(1, state.iterations()));
    state.counters["peak_MB"] = peakKnown ? double(peakKiB) / 1024.0 : -1.0;
    state.counters["stl_MB"] = double(bytes) / (1024.0 * 1024.0);
}

void BM_StlWriterBaseline(benchmark::State &state)
{
    const int perLayer = 8800;
    QVector<geom::Facet> layer;
    layer.reserve(perLayer);
    for (int i = 0; i < perLayer; ++i) {
        const float a = float(i) * 0.001f;
        layer.append(geom::Facet(geom::Point3Df(a, 0, 0), geom::Point3Df(a + 1, 0, 0), geom::Point3Df(a, 1, 0.1f)));
    }
    qint64 facets = 0;
    for (auto _ : state) {
        DiscardDevice discard;
        StlWriter writer(&discard);
        for (int l = 0; l < layerCount; ++l)
            facets += writer.write(layer);
        writer.finish();
    }
    state.SetItemsProcessed(facets);
    state.counters["facets_per_second"] = benchmark::Counter(double(facets), benchmark::Counter::kIsRate);
}


// The plain method on the same outlines as the export (its clean-up), one
// thread.
void BM_PerLayerMethod(benchmark::State &state)
{
    const QList<Slice> &slices = part(int(state.range(0)));
    qint64 facets = 0;
    for (auto _ : state)
        facets += stltest::perLayerFacets(stltest::cleanedLayers(slices));
    state.counters["facets_per_second"] = benchmark::Counter(double(facets), benchmark::Counter::kIsRate);
    state.counters["facets"] = double(facets) / double(std::max<benchmark::IterationCount>(1, state.iterations()));
}

} // namespace

BENCHMARK(BM_StlWriterBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_StlExport)
    ->ArgNames({"part", "file"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_PerLayerMethod)->ArgName("part")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
