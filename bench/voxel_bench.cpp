// Speed and memory of the voxel model builder on a part made here in memory.
//
// A ring of 900 and 300 pixels diameter (45 and 15 mm) centred on 1000 x 1000
// pixel layers at 0.1 mm a pixel, 500 layers 0.1 mm apart: one surface of a
// few million marching-cubes triangles whose walls are staircases of many
// narrow planes and whose caps are two large flat rings.
//
// BM_VoxelPasses drives the rasteriser and the marching cubes itself to time
// each pass: raster (rasterising the layers and storing their codes),
// mesh (marching cubes into grid surfaces) and tessellate (planar polygons
// and their triangles), each as wall-clock seconds (_wall_s) and process CPU
// seconds over all threads (_cpu_s). BM_VoxelStl is the builder's whole run.
// Counters: grid_triangles, facets, topology_MB (the temporary layer file),
// peak_MB (growth of peak resident memory during the run, the peak reset
// first).

#include "images/imagineslice.h"
#include "voxel/marchingcubes.h"
#include "voxel/voxelstl.h"

#include "benchmemory.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QThreadPool>

#include <cmath>
#include <ctime>

namespace {

using geom::Point2Df;

const int layerCount = 500;
const int imageSide = 1000;
const float mmPerPixel = 0.1f;

Contour circle(double radius, int n, bool clockwise)
{
    QVector<Point2Df> points;
    points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
        points.append(Point2Df(float(radius * std::cos(a)), float(radius * std::sin(a))));
    }
    return Contour(std::move(points));
}

const QList<Slice> &ring()
{
    static const QList<Slice> slices = [] {
        QList<Slice> list;
        for (int l = 0; l < layerCount; ++l)
            list.append(Slice(0.1f * float(l), 0.1f, QVector<Contour>{circle(45.0, 2000, false), circle(15.0, 1000, true)}));
        for (const Slice &s : list)
            s.update();
        return list;
    }();
    return slices;
}

// Model millimetres to pixels: the ring's centre in the middle of the image.
void placeRing(geom::ImagineSlice &raster)
{
    raster.setSize(QSize(imageSide, imageSide));
    QTransform t;
    t.translate(imageSide / 2.0, imageSide / 2.0);
    t.scale(1.0 / mmPerPixel, -1.0 / mmPerPixel);
    raster.setTransform(t);
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_VoxelPasses(benchmark::State &state)
{
    const QList<Slice> &slices = ring();
    geom::MarchingCubes::Statistics stats;
    double rasterWall = 0, rasterCpu = 0;
    qint64 peakKiB = 0;
    bool peakKnown = true;
    for (auto _ : state) {
        // A run's large data is freed on the pool after the run: the
        // measurement starts once an earlier run's is.
        QThreadPool::globalInstance()->waitForDone();
        peakKnown = resetPeakMemory() && peakKnown;
        const qint64 before = statusKiB("VmRSS:");
        geom::ImagineSlice raster(slices);
        placeRing(raster);
        geom::MarchingCubes cubes;
        cubes.setPixelTransform(raster.transform().inverted());
        cubes.setLayerGap(0.1f);
        QElapsedTimer wall;
        wall.start();
        const double cpu = cpuSeconds();
        for (int i = 0; i < slices.size(); ++i)
            cubes.addLayer(raster.imagine(i), slices.at(i).z());
        rasterWall = double(wall.nsecsElapsed()) * 1e-9;
        rasterCpu = cpuSeconds() - cpu;
        QBuffer buffer;
        if (!cubes.writeFacets(&buffer)) {
            state.SkipWithError(qPrintable(cubes.errorString()));
            break;
        }
        stats = cubes.statistics();
        cubes.reset();
        peakKiB = std::max(peakKiB, statusKiB("VmHWM:") - before);
    }
    state.counters["grid_triangles"] = double(stats.gridTriangles);
    state.counters["facets"] = double(stats.facets);
    state.counters["surfaces"] = stats.surfaces;
    state.counters["topology_MB"] = double(stats.topologyBytes) / (1024.0 * 1024.0);
    state.counters["raster_wall_s"] = rasterWall;
    state.counters["raster_cpu_s"] = rasterCpu;
    state.counters["mesh_wall_s"] = stats.meshWallSeconds;
    state.counters["mesh_cpu_s"] = stats.meshCpuSeconds;
    state.counters["tessellate_wall_s"] = stats.tessellateWallSeconds;
    state.counters["tessellate_cpu_s"] = stats.tessellateCpuSeconds;
    state.counters["peak_MB"] = peakKnown ? double(peakKiB) / 1024.0 : -1.0;
}

void BM_VoxelStl(benchmark::State &state)
{
    qint64 peakKiB = 0;
    bool peakKnown = true;
    qint64 bytes = 0;
    for (auto _ : state) {
        // A run's large data is freed on the pool after the run: the
        // measurement starts once an earlier run's is.
        QThreadPool::globalInstance()->waitForDone();
        peakKnown = resetPeakMemory() && peakKnown;
        const qint64 before = statusKiB("VmRSS:");
        QBuffer buffer;
        auto *voxels = new geom::VoxelStl(&buffer, ring());
        placeRing(*voxels->imagineSlice());
        voxels->setVoxelSize(0.1f);
        voxels->run();
        if (!voxels->succeeded()) {
            state.SkipWithError(qPrintable(voxels->errorString()));
            break;
        }
        bytes = buffer.size();
        peakKiB = std::max(peakKiB, statusKiB("VmHWM:") - before);
    }
    state.counters["stl_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["peak_MB"] = peakKnown ? double(peakKiB) / 1024.0 : -1.0;
}

} // namespace

BENCHMARK(BM_VoxelPasses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_VoxelStl)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
