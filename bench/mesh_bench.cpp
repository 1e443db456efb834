// Speed and memory of the mesh store on a closed surface of 1,000,000 facets:
// a stack of 500 rings of 1000 vertices (radius 30 mm, 0.1 mm apart), walls
// between neighbouring rings and a fan over each end, made layer by layer
// the way the tessellator hands out an STL model.
//
// weld/ordered adds the facets in that order to an empty mesh, weld/shuffled
// in a random order. Counters: items_per_second (facets); peak_bytes_per_facet,
// the growth of peak resident memory during one weld (VmHWM after against
// VmRSS before, the peak reset first) over the facet count, which leaves out
// the facets made beforehand but counts the finished mesh.
// facets and stl/mesh hand out every triangle of the welded mesh as facets
// and as STL records (to a buffer whose room is reserved beforehand);
// stl/array, the baseline, writes as many ready-made facets.
// transformed/mirror makes a mirrored copy: mapping, winding, re-sorting and
// measuring.

#include "mesh/stlmesh.h"
#include "stl/stlwriter.h"

#include "benchmemory.h"

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QMatrix4x4>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

using geom::Facet;
using geom::Point3Df;
using geom::StlMesh;

constexpr int ringVertices = 1000;
constexpr int rings = 500;

QVector<Facet> makeTower()
{
    auto at = [](int i, int k) {
        const double a = 2.0 * M_PI * (i % ringVertices) / ringVertices;
        return Point3Df(float(30.0 * std::cos(a)), float(30.0 * std::sin(a)), 0.1f * float(k));
    };
    QVector<Facet> facets;
    facets.reserve(2 * ringVertices * rings);
    const Point3Df bottom(0, 0, 0), top(0, 0, 0.1f * float(rings - 1));
    for (int i = 0; i < ringVertices; ++i)
        facets.append(Facet(bottom, at(i + 1, 0), at(i, 0)));
    for (int k = 0; k + 1 < rings; ++k) {
        for (int i = 0; i < ringVertices; ++i) {
            facets.append(Facet(at(i, k), at(i + 1, k), at(i + 1, k + 1)));
            facets.append(Facet(at(i, k), at(i + 1, k + 1), at(i, k + 1)));
        }
    }
    for (int i = 0; i < ringVertices; ++i)
        facets.append(Facet(top, at(i, rings - 1), at(i + 1, rings - 1)));
    return facets;
}

const QVector<Facet> &tower()
{
    static const QVector<Facet> facets = makeTower();
    return facets;
}

const QVector<Facet> &shuffledTower()
{
    static const QVector<Facet> facets = [] {
        QVector<Facet> list = tower();
        std::mt19937 random(20240611);
        std::shuffle(list.begin(), list.end(), random);
        return list;
    }();
    return facets;
}

const StlMesh &weldedTower()
{
    static StlMesh *mesh = [] {
        auto *m = new StlMesh;
        m->addFacets(tower().size(), tower().constData());
        return m;
    }();
    return *mesh;
}

void weld(benchmark::State &state, const QVector<Facet> &facets)
{
    double peak = 0.0;
    for (auto _ : state) {
        const bool probe = resetPeakMemory();
        const qint64 before = statusKiB("VmRSS:");
        {
            StlMesh mesh;
            mesh.addFacets(facets.size(), facets.constData());
            benchmark::DoNotOptimize(mesh.volume());
            if (probe && before >= 0)
                peak = std::max(peak, double(statusKiB("VmHWM:") - before) * 1024.0);
            if (mesh.indices().size() != facets.size() || mesh.vertices().size() != (rings - 1) * ringVertices + ringVertices + 2)
                state.SkipWithError("the tower did not weld into its vertices");
        }
    }
    state.SetItemsProcessed(state.iterations() * facets.size());
    state.counters["peak_bytes_per_facet"] = peak / facets.size();
}

void BM_WeldOrdered(benchmark::State &state)
{
    weld(state, tower());
}

void BM_WeldShuffled(benchmark::State &state)
{
    weld(state, shuffledTower());
}

void BM_Facets(benchmark::State &state)
{
    const StlMesh &mesh = weldedTower();
    for (auto _ : state) {
        const QVector<Facet> facets = mesh.facets(true);
        benchmark::DoNotOptimize(facets.constData());
    }
    state.SetItemsProcessed(state.iterations() * mesh.indices().size());
}

template <typename Write>
void writeStl(benchmark::State &state, int count, Write write)
{
    QByteArray bytes;
    bytes.reserve(84 + 50 * count);
    for (auto _ : state) {
        bytes.resize(0);
        QBuffer buffer(&bytes);
        StlWriter writer(&buffer);
        if (write(writer) != count)
            state.SkipWithError("short write");
        writer.finish();
        benchmark::DoNotOptimize(bytes.constData());
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.SetBytesProcessed(state.iterations() * (84 + 50 * qint64(count)));
}

void BM_WriteMesh(benchmark::State &state)
{
    const StlMesh &mesh = weldedTower();
    writeStl(state, mesh.indices().size(), [&mesh](StlWriter &writer) { return writer.write(mesh); });
}

void BM_WriteArray(benchmark::State &state)
{
    const QVector<Facet> &facets = tower();
    writeStl(state, facets.size(), [&facets](StlWriter &writer) { return writer.write(facets); });
}

void BM_MirrorTransformed(benchmark::State &state)
{
    const StlMesh &mesh = weldedTower();
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    mirror.rotate(30, 0, 0, 1);
    for (auto _ : state) {
        StlMesh *copy = mesh.transformed(mirror);
        benchmark::DoNotOptimize(copy->volume());
        delete copy;
    }
    state.SetItemsProcessed(state.iterations() * mesh.indices().size());
}

} // namespace

BENCHMARK(BM_WeldOrdered)->Name("weld/ordered")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WeldShuffled)->Name("weld/shuffled")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Facets)->Name("facets")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteMesh)->Name("stl/mesh")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteArray)->Name("stl/array")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MirrorTransformed)->Name("transformed/mirror")->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
