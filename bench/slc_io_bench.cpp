// Throughput of SLC reading and writing, measured on data made here in memory.
//
// Two parts of about 210 MB each:
//   large  400 layers of 16 contours with 4096 vertices each;
//   small  1000 layers of 3300 contours with 4 to 8 vertices each.
// For each: reading from a QBuffer and from a file (page cache warm), on one
// thread and in parallel over layers (the "parallel" cases), also from a file
// into memory fresh from the system (readFileCold), writing to a
// QBuffer and to a file, building a SliceStack from the slices read (handed
// over, as the slice view does), and
// memcpy of the same bytes as the baseline for reading. The read benchmarks
// also report their speed relative to a memcpy timed in the same run
// ("vs_memcpy"), and readMemory reports what the slices read occupy: heap in
// use and peak resident memory, relative to their vertex bytes, and the cost
// of one contour beyond its points.

#include "slcreader.h"
#include "slcwriter.h"
#include "slicestack.h"

#include "benchmemory.h"
#include "benchslices.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <utility>
#include <vector>

namespace {

using geom::Point2Df;

struct Part
{
    QList<Slice> slices;
    QByteArray bytes;
    QString path;
    qint64 contours = 0;
    qint64 vertexBytes = 0;
};

Part makePart(bool large)
{
    Part part;
    const int layers = large ? 400 : 1000;
    const int perLayer = large ? 16 : 3300;
    quint32 seed = 12345;
    for (int l = 0; l < layers; ++l) {
        QVector<Contour> contours;
        contours.reserve(perLayer);
        for (int c = 0; c < perLayer; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const int n = large ? 4096 : 4 + int((seed >> 16) % 5);
            const float x = float(c % 64) * 3.0f;
            const float y = float(c / 64) * 3.0f;
            contours.append(regularPolygon(x, y, large ? 1.0f + float(c) : 1.0f, n, float(l) * 0.01f));
            part.vertexBytes += qint64(n) * qint64(sizeof(Point2Df));
        }
        part.contours += perLayer;
        part.slices.append(Slice(0.1f * float(l), 0.1f, std::move(contours)));
    }
    QBuffer buffer(&part.bytes);
    buffer.open(QIODevice::WriteOnly);
    SlcWriter writer(&buffer);
    writer.writeSlices(part.slices, false);
    writer.finish();

    part.path = benchTempDir().filePath(large ? QStringLiteral("large.slc") : QStringLiteral("small.slc"));
    QFile file(part.path);
    if (file.open(QIODevice::WriteOnly))
        file.write(part.bytes);
    return part;
}

const Part &part(bool large)
{
    static std::unique_ptr<Part> parts[2];
    std::unique_ptr<Part> &p = parts[large ? 1 : 0];
    if (!p)
        p.reset(new Part(makePart(large)));
    return *p;
}

QList<Slice> readBytes(const QByteArray &bytes, bool parallel)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    SlcReader reader(&buffer);
    reader.setParallel(parallel);
    return reader.readSlices(false, -1);
}

// Bytes per second of memcpy into a buffer in use, best of a few runs.
double memcpyRate(const QByteArray &bytes)
{
    static std::vector<char> target;
    target.resize(size_t(bytes.size()));
    double best = 0;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(target.data(), bytes.constData(), size_t(bytes.size()));
        benchmark::ClobberMemory();
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
        best = std::max(best, double(bytes.size()) / t.count());
    }
    return best;
}

void report(benchmark::State &state, const Part &p)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * p.bytes.size());
    state.SetItemsProcessed(int64_t(state.iterations()) * p.contours);
    state.counters["file_MB"] = double(p.bytes.size()) / 1e6;
}

void readBuffer(benchmark::State &state, bool large, bool parallel)
{
    const Part &p = part(large);
    const double baseline = memcpyRate(p.bytes);
    double seconds = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        QList<Slice> slices = readBytes(p.bytes, parallel);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (slices.size() != p.slices.size())
            state.SkipWithError("wrong layer count");
        state.PauseTiming();
        slices.clear();
        state.ResumeTiming();
    }
    report(state, p);
    state.counters["vs_memcpy"] = double(p.bytes.size()) * double(state.iterations()) / seconds / baseline;
}

void readFileRuns(benchmark::State &state, bool large, bool parallel, bool cold)
{
    const Part &p = part(large);
    const double baseline = memcpyRate(p.bytes);
    double seconds = 0;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            malloc_trim(0);
            state.ResumeTiming();
        }
        const auto t0 = std::chrono::steady_clock::now();
        QFile file(p.path);
        SlcReader reader(&file);
        reader.setParallel(parallel);
        QList<Slice> slices = reader.readSlices(false, -1);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (slices.size() != p.slices.size())
            state.SkipWithError("wrong layer count");
        state.PauseTiming();
        slices.clear();
        state.ResumeTiming();
    }
    report(state, p);
    state.counters["vs_memcpy"] = double(p.bytes.size()) * double(state.iterations()) / seconds / baseline;
}

void readFile(benchmark::State &state, bool large, bool parallel)
{
    readFileRuns(state, large, parallel, false);
}

// The memory of the previous run is given back to the system first, as for a
// file opened in a fresh process: every page of the slices comes from the
// system again. (Otherwise the one-thread reader gets the pages it has just
// freed, while the threads of the parallel reader, whose allocator arenas
// hand whole heaps back when they are freed, get new ones.)
void readFileCold(benchmark::State &state, bool large, bool parallel)
{
    readFileRuns(state, large, parallel, true);
}

void writeBuffer(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    for (auto _ : state) {
        QByteArray bytes;
        bytes.reserve(p.bytes.size());
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        SlcWriter writer(&buffer);
        if (writer.writeSlices(p.slices, false) != p.slices.size() || !writer.finish())
            state.SkipWithError("write failed");
        state.PauseTiming();
        bytes = QByteArray();
        state.ResumeTiming();
    }
    report(state, p);
}

// The same into one buffer kept from run to run, as a file's pages are.
void writeBufferReused(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    QByteArray bytes;
    bytes.reserve(p.bytes.size());
    for (auto _ : state) {
        bytes.resize(0);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        SlcWriter writer(&buffer);
        if (writer.writeSlices(p.slices, false) != p.slices.size() || !writer.finish())
            state.SkipWithError("write failed");
    }
    report(state, p);
}

void writeFile(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    const QString path = benchTempDir().filePath(QStringLiteral("written.slc"));
    for (auto _ : state) {
        QFile file(path);
        SlcWriter writer(&file);
        if (writer.writeSlices(p.slices, false) != p.slices.size() || !writer.finish())
            state.SkipWithError("write failed");
        file.close();
    }
    report(state, p);
}

// The slices read handed over to a new stack, as the slice view opens a file: the stack owns
// them alone, so sorting moves contours instead of copying them. Most of the stack's work runs
// on its own threads, which the CPU column (this thread's) does not count: real time is the
// measure.
void buildStack(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    for (auto _ : state) {
        state.PauseTiming();
        QList<Slice> slices = readBytes(p.bytes, true);
        state.ResumeTiming();
        SliceStack stack;
        stack.addSlices(std::move(slices), false);
        benchmark::DoNotOptimize(stack.volume());
        state.PauseTiming();
        stack.clear();
        state.ResumeTiming();
    }
    report(state, p);
}


qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

void readMemory(benchmark::State &state, bool large, bool parallel)
{
    const Part &p = part(large);
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        const bool peakReset = resetPeakMemory();
        const qint64 rssBefore = statusKiB("VmRSS:");
        const qint64 heapBefore = heapInUse();
        state.ResumeTiming();

        QList<Slice> slices = readBytes(p.bytes, parallel);

        state.PauseTiming();
        const qint64 heap = heapInUse() - heapBefore;
        const qint64 peak = statusKiB("VmHWM:") - rssBefore;
        state.counters["heap_vs_vertex_bytes"] = double(heap) / double(p.vertexBytes);
        if (peakReset)
            state.counters["peak_rss_vs_vertex_bytes"] = double(peak) * 1024.0 / double(p.vertexBytes);
        state.counters["bytes_per_contour_beyond_points"] = double(heap - p.vertexBytes) / double(p.contours);
        state.counters["vertex_MB"] = double(p.vertexBytes) / 1e6;
        slices.clear();
        state.ResumeTiming();
    }
    report(state, p);
}

void memcpyBaseline(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    std::vector<char> target(size_t(p.bytes.size()));
    for (auto _ : state) {
        std::memcpy(target.data(), p.bytes.constData(), target.size());
        benchmark::ClobberMemory();
    }
    report(state, p);
}

// The same copy into memory fresh from the system each time, as a reader's
// slices are.
void memcpyFresh(benchmark::State &state, bool large)
{
    const Part &p = part(large);
    for (auto _ : state) {
        char *target = static_cast<char *>(std::malloc(size_t(p.bytes.size())));
        std::memcpy(target, p.bytes.constData(), size_t(p.bytes.size()));
        benchmark::DoNotOptimize(target);
        benchmark::ClobberMemory();
        std::free(target);
    }
    report(state, p);
}

} // namespace

#define SLC_BENCH(function)                                                                                            \
    BENCHMARK_CAPTURE(function, large, true)->Unit(benchmark::kMillisecond)->UseRealTime();                            \
    BENCHMARK_CAPTURE(function, small, false)->Unit(benchmark::kMillisecond)->UseRealTime()

SLC_BENCH(memcpyBaseline);
SLC_BENCH(memcpyFresh);
#define SLC_READ_BENCH(function)                                                                                       \
    BENCHMARK_CAPTURE(function, large, true, false)->Unit(benchmark::kMillisecond)->UseRealTime();                     \
    BENCHMARK_CAPTURE(function, small, false, false)->Unit(benchmark::kMillisecond)->UseRealTime();                    \
    BENCHMARK_CAPTURE(function, large_parallel, true, true)->Unit(benchmark::kMillisecond)->UseRealTime();             \
    BENCHMARK_CAPTURE(function, small_parallel, false, true)->Unit(benchmark::kMillisecond)->UseRealTime()

SLC_READ_BENCH(readBuffer);
SLC_READ_BENCH(readFile);
SLC_READ_BENCH(readFileCold);
SLC_BENCH(writeBuffer);
SLC_BENCH(writeBufferReused);
SLC_BENCH(writeFile);
SLC_BENCH(buildStack);
BENCHMARK_CAPTURE(readMemory, large, true, false)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(readMemory, small, false, false)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(readMemory, large_parallel, true, true)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(readMemory, small_parallel, false, true)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
