#include "stlexporter.h"

#include "facet.h"
#include "stllayerbuilder.h"
#include "stlwriter.h"
#include "workerflag.h"

#include <QAtomicInt>
#include <QMutex>
#include <QMutexLocker>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QVector>
#include <QWaitCondition>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <sched.h>

namespace geom {

namespace {

// The lowest a closing top may lie above the last layer.
constexpr float minimumTopHeight = 0.001f;

// Layers are built in runs of this many consecutive ones, and at most a few
// runs more than there are threads are in memory at once.
constexpr int layersPerRun = 8;
constexpr int extraRunsInFlight = 2;

// The processors this process may run on.
int processorCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, QThread::idealThreadCount());
}

// One layer of the model: the slice it comes from (the slice count for the
// closing top, which has no contours) and its z.
struct Layer
{
    int slice;
    float z;
};

// A run of consecutive layers [first, end), built on a pool thread. Unit k
// of the file is the walls of layer k - 1 and the faces at the bottom of
// layer k; the run makes its units but the walls of layer first - 1, which
// need the faces below that layer from the run before: those are made when
// the runs are joined, from what both runs hand over. The outline of layer
// first - 1, which the faces of unit first need, comes from the run before
// as soon as that run has made its outlines (see LayerHandoff).
struct LayerRun
{
    int first = 0;
    int end = 0;
    bool ready = false;
    // The first unit that failed (end when none), and why.
    int failedUnit = 0;
    QString error;
    QVector<Facet> facets;
    std::vector<int> unitEnd; // in facets, one per completed unit
    StlEdgeSplits firstTop;   // the tops of layer first - 1
    StlLayer lastLayer;       // layer end - 1
    StlEdgeSplits lastBottom; // its bottoms
    bool lastLayerEmpty = true;
    QVector<int> withoutOutline; // slice numbers, from 1
};

// The outline of the last layer of a run, handed to the next run, which
// takes it (so it is held only until then). built is false when the run
// stopped before that layer: the file stops there, and so does the next run.
struct LayerHandoff
{
    bool started = false;
    bool ready = false;
    bool declined = false; // the next run made the outline itself
    bool built = false;
    StlLayer layer;
};

} // namespace

class StlExporterPrivate
{
public:
    StlExporterPrivate(QIODevice *device, const QList<Slice> &s) : writer(device), slices(s) {}

    bool cancelled() const { return running.cancelled(); }

    void fail(const QString &message)
    {
        {
            QMutexLocker lock(&resultMutex);
            if (failed)
                return;
            failed = true;
            error = message;
        }
        qWarning("StlExporter: %s", qPrintable(message));
    }

    void exportSlices(StlExporter *q);
    bool planLayers();
    void buildRun(LayerRun &run, int index);
    bool writeUnit(const QVector<Facet> &facets, int from, int to);

    double tolerance = 0.02;
    float minimumThickness = 0.0f;
    WorkerFlag running;
    StlWriter writer;
    QList<Slice> slices;

    // The layers of the run, the closing top last when there is one.
    std::vector<Layer> layers;
    bool hasTop = false;
    // Set when the run stops early, so that the runs under way stop too.
    QAtomicInt abandon = 0;
    QMutex runMutex;
    QWaitCondition runReady;
    // One a run, guarded by runMutex and announced by runReady.
    std::vector<LayerHandoff> handoffs;

    // The outcome of the run, guarded for readers on other threads.
    mutable QMutex resultMutex;
    bool failed = false;
    bool succeeded = false;
    bool wasCancelled = false;
    QString error;
    int facetCount = 0;
    QVector<int> withoutOutlineResult;
    // Filled by the run.
    QVector<int> withoutOutline;
};

// The layers to export: a slice is exported when it lies at least the minimum
// thickness above the last exported one, and above it at all (a slice at the
// same height would make a layer without height). The last layer reaches up
// by the last distance between exported slices (or the first slice's
// thickness when there is only one), at least minimumTopHeight, where the
// closing top lies.
bool StlExporterPrivate::planLayers()
{
    layers.clear();
    hasTop = false;
    const Slice &first = slices.first();
    const float firstThickness = first.thickness();
    float layerHeight = std::isfinite(firstThickness) ? std::fmax(minimumThickness, firstThickness)
                                                      : std::numeric_limits<float>::quiet_NaN();
    const int count = slices.size();
    for (int i = 0; i < count; ++i) {
        const float z = slices.at(i).z();
        if (!std::isfinite(z)) {
            // The layers below are still made, as far as they go.
            layers.push_back({i, z});
            return true;
        }
        if (!layers.empty()) {
            const float last = layers.back().z;
            // The distance to the last exported slice against the minimum,
            // with the float rounding of both heights allowed for.
            const double nextZ = double(last) + double(minimumThickness);
            const double slack
                = 1e-5 * std::fmax(std::fmax(std::fabs(double(last)), std::fabs(double(z))), double(minimumThickness));
            if (nextZ - double(z) > slack || !(z > last))
                continue;
            layerHeight = z - last;
        }
        layers.push_back({i, z});
    }
    const float height = std::isfinite(layerHeight) && layerHeight > minimumTopHeight ? layerHeight : minimumTopHeight;
    const float topZ = layers.back().z + height;
    if (!std::isfinite(topZ))
        return false;
    layers.push_back({count, topZ});
    hasTop = true;
    return true;
}

void StlExporterPrivate::buildRun(LayerRun &run, int index)
{
    StlLayerBuilder builder;
    const int layerCount = int(layers.size()) - (hasTop ? 1 : 0);
    auto makeLayer = [&](int k, StlLayer &layer, bool record) {
        if (k >= layerCount) {
            layer.loops.clear();
            return true;
        }
        const Layer &l = layers[size_t(k)];
        const Slice &slice = slices.at(l.slice);
        switch (builder.layer(slice, tolerance, layer)) {
        case StlLayerBuilder::LayerOk:
            if (record && layer.droppedArea > 0.0)
                qWarning("StlExporter: slice %d (z = %g): holes or islands narrower than the clean-up's grid left out, "
                         "%g square mm in all",
                         l.slice + 1, double(slice.z()), layer.droppedArea);
            return true;
        case StlLayerBuilder::LayerWithoutOutline:
            if (record) {
                run.withoutOutline.append(l.slice + 1);
                qWarning("StlExporter: slice %d (z = %g) has contours but an empty outline; are they all clockwise?",
                         l.slice + 1, double(slice.z()));
            }
            return true;
        case StlLayerBuilder::LayerNotFinite:
            run.error
                = StlExporter::tr("Slice %1 has a height or coordinates that are not finite numbers.").arg(l.slice + 1);
            return false;
        case StlLayerBuilder::LayerOutOfRange:
            run.error = StlExporter::tr("Slice %1 has coordinates beyond what the STL export can represent "
                                        "(more than %2 mm from the origin).")
                            .arg(l.slice + 1)
                            .arg(double(StlLayerBuilder::maxCoordinate), 0, 'g', 3);
            return false;
        case StlLayerBuilder::LayerFailed:
            run.error = StlExporter::tr("The outline of slice %1 (z = %2) could not be tessellated.")
                            .arg(l.slice + 1)
                            .arg(double(slice.z()));
            return false;
        }
        return false;
    };

    {
        QMutexLocker lock(&runMutex);
        handoffs[size_t(index)].started = true;
    }
    // The outlines first, so that the next run gets the last one early: each
    // layer's outline is made once, by the run it belongs to.
    run.failedUnit = run.end;
    std::vector<StlLayer> outlines(size_t(run.end - run.first));
    for (int k = run.first; k < run.end; ++k) {
        if (abandon.loadAcquire() || !makeLayer(k, outlines[size_t(k - run.first)], true)) {
            run.failedUnit = k;
            break;
        }
    }
    StlLayer below;
    bool belowBuilt = true;
    bool makeBelow = false;
    {
        QMutexLocker lock(&runMutex);
        LayerHandoff &next = handoffs[size_t(index)];
        next.built = run.failedUnit == run.end;
        if (next.built && !next.declined)
            next.layer = outlines.back();
        next.ready = true;
        runReady.wakeAll();
        // A run under way makes its outlines without waiting for anything, so
        // it is safe to wait for; one that has not started yet (the pool may
        // start runs out of turn) is not waited for.
        if (index > 0) {
            LayerHandoff &previous = handoffs[size_t(index - 1)];
            makeBelow = !previous.started;
            previous.declined = makeBelow;
            while (!makeBelow && !previous.ready)
                runReady.wait(&runMutex);
            if (!makeBelow) {
                belowBuilt = previous.built;
                below = std::move(previous.layer);
                previous.layer = StlLayer();
            }
        }
    }
    // Made again here, the run before reports it.
    if (makeBelow)
        belowBuilt = makeLayer(run.first - 1, below, false);
    if (!belowBuilt)
        run.failedUnit = run.first;

    StlEdgeSplits belowBottom, tops, bottoms;
    QVector<Facet> faces;
    for (int k = run.first; k < run.failedUnit; ++k) {
        if (abandon.loadAcquire()) {
            run.failedUnit = k;
            break;
        }
        StlLayer &current = outlines[size_t(k - run.first)];
        faces.clear();
        if (!builder.faces(below, current, layers[size_t(k)].z, faces, tops, bottoms)) {
            run.error = StlExporter::tr("The faces at z = %1 could not be tessellated.").arg(double(layers[size_t(k)].z));
            run.failedUnit = k;
            break;
        }
        if (k == run.first)
            run.firstTop = tops;
        else
            StlLayerBuilder::walls(below, belowBottom, tops, layers[size_t(k - 1)].z, layers[size_t(k)].z, run.facets);
        run.facets += faces;
        run.unitEnd.push_back(run.facets.size());
        run.lastLayerEmpty = below.isEmpty();
        below = std::move(current);
        std::swap(belowBottom, bottoms);
    }
    run.lastLayer = std::move(below);
    run.lastBottom = std::move(belowBottom);
}

bool StlExporterPrivate::writeUnit(const QVector<Facet> &facets, int from, int to)
{
    if (to <= from)
        return true;
    if (writer.write(to - from, facets.constData() + from) == to - from)
        return true;
    fail(StlExporter::tr("The STL file could not be written: %1").arg(writer.errorString()));
    return false;
}

// The runs of layers are built on a pool of their own, one thread per
// processor, and written here in layer order as they become ready; a run
// whose turn has not come yet waits, and no new run starts while too many
// are waiting, so memory stays bounded.
void StlExporterPrivate::exportSlices(StlExporter *q)
{
    const bool topFits = planLayers();
    const int units = int(layers.size());
    const int runCount = (units + layersPerRun - 1) / layersPerRun;
    const int threads = processorCount();
    const int maxInFlight = threads + extraRunsInFlight;

    std::vector<std::unique_ptr<LayerRun>> runs;
    runs.resize(size_t(runCount));
    handoffs.assign(size_t(runCount), LayerHandoff());
    QThreadPool pool;
    pool.setMaxThreadCount(threads);
    abandon.storeRelease(0);
    int submitted = 0;
    auto submit = [&] {
        LayerRun *run = new LayerRun;
        run->first = submitted * layersPerRun;
        run->end = std::min(units, run->first + layersPerRun);
        runs[size_t(submitted)].reset(run);
        ++submitted;
        const int index = submitted - 1;
        pool.start(QRunnable::create([this, run, index] {
            buildRun(*run, index);
            QMutexLocker lock(&runMutex);
            run->ready = true;
            runReady.wakeAll();
        }));
    };

    StlLayer below;
    StlEdgeSplits belowBottom;
    QVector<Facet> walls;
    bool stopped = false;
    for (int r = 0; r < runCount && !stopped; ++r) {
        while (submitted < runCount && submitted < r + maxInFlight && !cancelled())
            submit();
        if (r >= submitted)
            break;
        LayerRun &run = *runs[size_t(r)];
        {
            QMutexLocker lock(&runMutex);
            while (!run.ready)
                runReady.wait(&runMutex);
        }
        withoutOutline += run.withoutOutline;
        for (int k = run.first; k < run.end; ++k) {
            if (cancelled()) {
                stopped = true;
                break;
            }
            if (k >= run.failedUnit) {
                fail(run.error);
                stopped = true;
                break;
            }
            const bool top = hasTop && k == units - 1;
            // A model whose last layer has no outline needs no top.
            if (top && run.lastLayerEmpty)
                break;
            emit q->progress(top ? slices.size() : layers[size_t(k)].slice);
            int from = k == run.first ? 0 : run.unitEnd[size_t(k - run.first - 1)];
            if (k == run.first && k > 0) {
                walls.clear();
                StlLayerBuilder::walls(below, belowBottom, run.firstTop, layers[size_t(k - 1)].z,
                                       layers[size_t(k)].z, walls);
                if (!writeUnit(walls, 0, walls.size())) {
                    stopped = true;
                    break;
                }
            }
            if (!writeUnit(run.facets, from, run.unitEnd[size_t(k - run.first)])) {
                stopped = true;
                break;
            }
        }
        below = std::move(run.lastLayer);
        belowBottom = std::move(run.lastBottom);
        runs[size_t(r)].reset();
    }
    abandon.storeRelease(1);
    pool.waitForDone();
    handoffs.clear();
    if (!stopped && !cancelled() && !topFits)
        fail(StlExporter::tr("The top of the model lies beyond the range of numbers."));
}

StlExporter::StlExporter(QIODevice *device, const QList<Slice> &slices)
    : QObject(nullptr), d(new StlExporterPrivate(device, slices))
{
}

StlExporter::~StlExporter()
{
    delete d;
}

const QList<Slice> &StlExporter::slices() const
{
    return d->slices;
}

void StlExporter::setTolerance(double tolerance)
{
    if (d->running.isRunning())
        return;
    d->tolerance = tolerance > 0.0 && std::isfinite(tolerance) ? tolerance : 0.0;
}

double StlExporter::tolerance() const
{
    return d->tolerance;
}

void StlExporter::setMinimumThickness(float thickness)
{
    if (d->running.isRunning())
        return;
    d->minimumThickness = thickness > 0.0f ? thickness : 0.0f;
}

float StlExporter::minimumThickness() const
{
    return d->minimumThickness;
}

void StlExporter::run()
{
    if (!d->running.claim("StlExporter"))
        return;

    {
        QMutexLocker lock(&d->resultMutex);
        d->failed = false;
        d->succeeded = false;
        d->wasCancelled = false;
        d->error.clear();
    }
    d->withoutOutline.clear();

    if (!d->writer.begin(0)) {
        d->fail(d->writer.errorString().isEmpty()
                    ? StlExporter::tr("The STL file cannot be written: the device is not open for writing.")
                    : StlExporter::tr("The STL file cannot be written: %1").arg(d->writer.errorString()));
    } else if (!d->slices.isEmpty()) {
        d->exportSlices(this);
    }
    d->layers.clear();
    d->layers.shrink_to_fit();

    d->writer.finish();
    if (d->writer.failed())
        d->fail(StlExporter::tr("The STL file could not be written: %1").arg(d->writer.errorString()));

    {
        QMutexLocker lock(&d->resultMutex);
        d->wasCancelled = d->cancelled();
        d->succeeded = !d->failed && !d->wasCancelled;
        d->facetCount = d->writer.facetCount();
        d->withoutOutlineResult = d->withoutOutline;
    }
    d->running.release();
    emit finished();
}

bool StlExporter::succeeded() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->succeeded;
}

bool StlExporter::wasCancelled() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->wasCancelled;
}

QString StlExporter::errorString() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->error;
}

QVector<int> StlExporter::slicesWithoutOutline() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->withoutOutlineResult;
}

int StlExporter::facetCount() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->facetCount;
}

void StlExporter::cancel()
{
    d->running.cancel();
}

} // namespace geom
