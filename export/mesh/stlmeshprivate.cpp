#include "stlmeshprivate.h"

#include <QRunnable>
#include <QSemaphore>
#include <QSharedPointer>
#include <QThreadPool>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace geom {

namespace {

using Triangle = StlMesh::Triangle;

constexpr int attributeWords = 65536;
// Below this many vertices the box and radius are measured on the calling
// thread: handing them to the pool would cost more than it saves.
constexpr int parallelVertices = 65536;
// The corner table of one weld grows no further: the facets gathered so far
// are merged into the mesh and the table starts empty.
constexpr int maxWeldCorners = 16777214;

inline bool isFinite(const QVector3D &v)
{
    return std::isfinite(v.x()) && std::isfinite(v.y()) && std::isfinite(v.z());
}

inline bool isFinite(const Point3Df &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Box and radius from the vertices, on a thread of the global pool while the
// caller walks the triangles. It writes box and radius only; the caller
// writes the other measures, and both only read the two lists.
class VertexStatistic : public QRunnable
{
public:
    explicit VertexStatistic(StlMeshPrivate *mesh) : d(mesh) { setAutoDelete(false); }

    void run() override
    {
        const QVector3D *v = d->vertices.constData();
        const int n = d->vertices.size();
        if (!d->box.isValid())
            d->box.extend(asPoints(v), n);
        const float cx = (d->box.minX + d->box.maxX) * 0.5f;
        const float cy = (d->box.minY + d->box.maxY) * 0.5f;
        const float cz = (d->box.minZ + d->box.maxZ) * 0.5f;
        double largest = 0.0;
        for (int i = 0; i < n; ++i) {
            const double dx = v[i].x() - cx, dy = v[i].y() - cy, dz = v[i].z() - cz;
            largest = std::max(largest, dx * dx + dy * dy + dz * dz);
        }
        d->radius = std::sqrt(largest);
        // The caller may destroy this object as soon as it sees the release;
        // the semaphore lives on in this reference until the release is over.
        const QSharedPointer<QSemaphore> finished = done;
        finished->release();
    }

    const QSharedPointer<QSemaphore> done = QSharedPointer<QSemaphore>::create();

private:
    StlMeshPrivate *d;
};

// Open addressing over the exact coordinates of the corners welded so far;
// -0 and +0 hash alike, since they compare equal.
class CornerTable
{
public:
    explicit CornerTable(int expected) { reset(expected); }

    void reset(int expected)
    {
        size_t capacity = 1024;
        while (capacity < size_t(expected) * 2)
            capacity *= 2;
        cells.assign(capacity, Slot{0.0f, 0.0f, 0.0f, -1});
        mask = capacity - 1;
        used = 0;
    }

    int size() const { return used; }

    // The index entered for p, or -1.
    int find(const Point3Df &p) const
    {
        for (size_t i = hash(p) & mask;; i = (i + 1) & mask) {
            const Slot &s = cells[i];
            if (s.index < 0)
                return -1;
            if (s.x == p.x && s.y == p.y && s.z == p.z)
                return s.index;
        }
    }

    // p must not be in the table yet.
    void insert(const Point3Df &p, int index)
    {
        if (size_t(used + 1) * 2 > cells.size())
            grow();
        place(Slot{p.x, p.y, p.z, index});
        ++used;
    }

private:
    struct Slot
    {
        float x, y, z;
        int index;
    };

    static quint64 bitsOf(float f)
    {
        f += 0.0f; // -0 becomes +0
        quint32 u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    }

    static size_t hash(const Point3Df &p)
    {
        quint64 h = bitsOf(p.x) * 0x9E3779B97F4A7C15ull;
        h ^= bitsOf(p.y) * 0xC2B2AE3D27D4EB4Full;
        h ^= bitsOf(p.z) * 0x165667B19E3779F9ull;
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        return size_t(h);
    }

    void place(const Slot &slot)
    {
        size_t i = hash(Point3Df(slot.x, slot.y, slot.z)) & mask;
        while (cells[i].index >= 0)
            i = (i + 1) & mask;
        cells[i] = slot;
    }

    void grow()
    {
        std::vector<Slot> old(cells.size() * 2, Slot{0.0f, 0.0f, 0.0f, -1});
        old.swap(cells);
        mask = cells.size() - 1;
        for (const Slot &s : old) {
            if (s.index >= 0)
                place(s);
        }
    }

    std::vector<Slot> cells;
    size_t mask = 0;
    int used = 0;
};

// Normalises one triangle in place: the mark bit of the attribute cleared,
// the winding started at the smallest index. False when it repeats a corner
// or names no vertex.
inline bool normalizeTriangle(Triangle &t, int vertexCount)
{
    t.attribute &= 0x7fffffff;
    if (t.a == t.b || t.b == t.c || t.c == t.a)
        return false;
    t = rotated(t);
    return t.a >= 0 && std::max(t.b, t.c) < vertexCount;
}

// Triangles that share their first index, by (b, c), equal ones keeping
// their order. The runs are short on a surface (about two triangles a
// vertex), long only around a fan's centre.
void sortRun(Triangle *begin, Triangle *end)
{
    if (end - begin > 16) {
        std::stable_sort(begin, end, lessByIndices);
        return;
    }
    for (Triangle *i = begin + 1; i < end; ++i) {
        const Triangle t = *i;
        Triangle *j = i;
        for (; j > begin && lessByIndices(t, *(j - 1)); --j)
            *j = *(j - 1);
        *j = t;
    }
}

} // namespace

StlMeshPrivate::StlMeshPrivate(StlMesh *owner)
    : q(owner), lock(new QReadWriteLock(QReadWriteLock::NonRecursive)), freeAttributes(attributeWords, true)
{
}

StlMeshPrivate::~StlMeshPrivate()
{
    // A reader still inside a member would find the lock gone.
    lock->lockForWrite();
    lock->unlock();
    delete lock;
}

void StlMeshPrivate::copyFrom(const StlMeshPrivate &other)
{
    freeAttributes = other.freeAttributes;
    box = other.box;
    vertices = other.vertices;
    triangles = other.triangles;
    order = other.order;
    duplicates = other.duplicates;
    radius = other.radius;
    area = other.area;
    volume = other.volume;
}

void StlMeshPrivate::clear()
{
    vertices = QVector<QVector3D>();
    triangles = QVector<Triangle>();
    freeAttributes.fill(true, attributeWords);
    box.reset();
    radius = 0.0;
    area = 0.0;
    volume = 0.0;
    duplicates = 0;
}

void StlMeshPrivate::cleanIndices()
{
    const int count = triangles.size();
    const int vertexCount = vertices.size();
    int dropped = 0;
    QVector<Triangle> sorted;
    if (count > 0) {
        Triangle *t = triangles.data();
        // A counting sort by the first index, which after normalising is the
        // smallest: stable, and linear in the size of the mesh.
        std::vector<int> next(size_t(vertexCount) + 1, 0);
        for (int i = 0; i < count; ++i) {
            if (normalizeTriangle(t[i], vertexCount)) {
                ++next[size_t(t[i].a) + 1];
            } else {
                t[i] = Triangle{-1, -1, -1, t[i].attribute};
                ++dropped;
            }
        }
        for (int v = 0; v < vertexCount; ++v)
            next[size_t(v) + 1] += next[size_t(v)];
        sorted.resize(count - dropped);
        Triangle *out = sorted.data();
        for (int i = 0; i < count; ++i) {
            if (t[i].a >= 0)
                out[next[size_t(t[i].a)]++] = t[i];
        }
        // next[v] is now where the run of v ends.
        int begin = 0;
        for (int v = 0; v < vertexCount; ++v) {
            const int end = next[size_t(v)];
            if (end - begin > 1)
                sortRun(out + begin, out + end);
            begin = end;
        }
    }
    triangles = sorted;
    order = StlMesh::ByIndices;
    if (dropped > 0)
        qWarning("Clean indices dropped %d items.", dropped);
}

int StlMeshPrivate::rebuild()
{
    const int vertexCount = vertices.size();
    constexpr int unusable = INT_MIN;
    std::vector<int> references(size_t(vertexCount), -1);
    const QVector3D *v = vertices.constData();
    int nonFinite = 0;
    for (int i = 0; i < vertexCount; ++i) {
        if (!isFinite(v[i])) {
            references[size_t(i)] = unusable;
            ++nonFinite;
        }
    }

    // Triangles naming no vertex go silently; those on a vertex that is not
    // finite go with the warning below, since such a vertex has no place in
    // the (z, x, y) order the lookups rely on.
    int kept = 0;
    int onNonFinite = 0;
    const int count = triangles.size();
    if (count > 0) {
        Triangle *t = triangles.data();
        auto valid = [vertexCount](int i) { return i >= 0 && i < vertexCount; };
        for (int i = 0; i < count; ++i) {
            const Triangle tri = t[i];
            if (!valid(tri.a) || !valid(tri.b) || !valid(tri.c))
                continue;
            int &ra = references[size_t(tri.a)], &rb = references[size_t(tri.b)], &rc = references[size_t(tri.c)];
            if (ra == unusable || rb == unusable || rc == unusable) {
                ++onNonFinite;
                continue;
            }
            ++ra;
            ++rb;
            ++rc;
            t[kept++] = tri;
        }
        triangles.resize(kept);
    }
    if (nonFinite > 0)
        qWarning("StlMesh: dropped %d vertices with coordinates that are not finite, and %d triangles on them.",
                 nonFinite, onNonFinite);

    struct Key
    {
        float z, x, y;
        int index;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(vertexCount - nonFinite));
    for (int i = 0; i < vertexCount; ++i) {
        if (references[size_t(i)] >= 0)
            keys.push_back(Key{v[i].z(), v[i].x(), v[i].y(), i});
    }
    // Equal coordinates keep their index order, as a stable sort would.
    std::sort(keys.begin(), keys.end(), [](const Key &p, const Key &r) {
        if (p.z != r.z)
            return p.z < r.z;
        if (p.x != r.x)
            return p.x < r.x;
        if (p.y != r.y)
            return p.y < r.y;
        return p.index < r.index;
    });
    QVector<QVector3D> sorted(int(keys.size()));
    QVector3D *out = sorted.data();
    for (size_t k = 0; k < keys.size(); ++k) {
        out[k] = v[keys[k].index];
        references[size_t(keys[k].index)] = int(k);
    }
    vertices = sorted;
    if (kept > 0) {
        Triangle *t = triangles.data();
        for (int i = 0; i < kept; ++i) {
            t[i].a = references[size_t(t[i].a)];
            t[i].b = references[size_t(t[i].b)];
            t[i].c = references[size_t(t[i].c)];
        }
    }
    cleanIndices();
    return nonFinite;
}

void StlMeshPrivate::computeStatistics(const Bounds3Df &measuredBox)
{
    box = measuredBox;
    VertexStatistic job(this);
    QThreadPool *pool = QThreadPool::globalInstance();
    const bool parallel = vertices.size() >= parallelVertices;
    if (parallel)
        pool->start(&job);

    std::vector<quint8> used(attributeWords / 8, 0);
    int dups = 0;
    double areaSum = 0.0, volumeSum = 0.0;
    const QVector3D *v = vertices.constData();
    const Point3Df apex = vertices.isEmpty() ? Point3Df::zero : Point3Df(v[0].x(), v[0].y(), v[0].z());
    Triangle previous{-1, -1, -1, 0};
    for (const Triangle &t : qAsConst(triangles)) {
        if (t == previous) {
            ++dups;
            continue;
        }
        previous = t;
        const int word = t.attribute & 0xffff;
        used[size_t(word >> 3)] |= quint8(1u << (word & 7));
        const QVector3D &pa = v[t.a], &pb = v[t.b], &pc = v[t.c];
        const float ux = pb.x() - pa.x(), uy = pb.y() - pa.y(), uz = pb.z() - pa.z();
        const float wx = pc.x() - pa.x(), wy = pc.y() - pa.y(), wz = pc.z() - pa.z();
        const float nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
        const double length = std::sqrt(double(nx) * nx + double(ny) * ny + double(nz) * nz);
        // Only a triangle without area, or one whose size overflows, is
        // left out: a fine mesh is made of small triangles.
        if (!(length > 0.0) || !std::isfinite(length))
            continue;
        areaSum += 0.5 * length;
        volumeSum += (double(pa.x() - apex.x) * nx + double(pa.y() - apex.y) * ny + double(pa.z() - apex.z) * nz) / 6.0;
    }
    for (quint8 &byte : used)
        byte = quint8(~byte);
    freeAttributes = QBitArray::fromBits(reinterpret_cast<const char *>(used.data()), attributeWords);
    duplicates = dups;
    area = std::fabs(areaSum);
    volume = std::fabs(volumeSum);

    // A job still queued (the pool may be busy, even with threads waiting for
    // this very mesh) is taken back and run here.
    if (!parallel || pool->tryTake(&job))
        job.run();
    job.done->acquire();
}

void StlMeshPrivate::mergeBlock(const QVector<QVector3D> &block, const QVector<Triangle> &newTriangles)
{
    vertices += block;
    triangles += newTriangles;
    rebuild();
    computeStatistics(Bounds3Df());
}

void StlMeshPrivate::weldFacets(int count, const Facet *facets, const quint16 *attributes)
{
    // A closed surface has about half as many vertices as facets.
    const int expectedCorners = std::min(count / 2 + 1024, maxWeldCorners);
    CornerTable table(expectedCorners);
    QVector<QVector3D> block;
    QVector<Triangle> pending;
    pending.reserve(std::min(count, 4 * 1024 * 1024));
    const QVector3D *existing = vertices.constData();
    int existingCount = vertices.size();
    int nonFinite = 0;

    for (int k = 0; k < count; ++k) {
        const Facet &f = facets[k];
        if (!isFinite(f.vertex1) || !isFinite(f.vertex2) || !isFinite(f.vertex3)) {
            ++nonFinite;
            continue;
        }
        int index[3];
        const Point3Df *corners[3] = {&f.vertex1, &f.vertex2, &f.vertex3};
        for (int c = 0; c < 3; ++c) {
            const Point3Df &p = *corners[c];
            int i = table.find(p);
            if (i < 0) {
                const QVector3D corner(p.x, p.y, p.z);
                const QVector3D *found = std::lower_bound(existing, existing + existingCount, corner, StlMesh::VertexLess());
                if (found != existing + existingCount && !StlMesh::VertexLess()(corner, *found)) {
                    i = int(found - existing);
                } else {
                    i = existingCount + block.size();
                    block.append(corner);
                }
                table.insert(p, i);
            }
            index[c] = i;
        }
        pending.append(Triangle{index[0], index[1], index[2], attributes ? int(attributes[k]) : 0});

        if (table.size() > maxWeldCorners) {
            mergeBlock(block, pending);
            existing = vertices.constData();
            existingCount = vertices.size();
            block.clear();
            pending.clear();
            pending.reserve(std::min(count - k - 1, 4 * 1024 * 1024));
            table.reset(std::min((count - k - 1) / 2 + 1024, maxWeldCorners));
        }
    }
    if (nonFinite > 0)
        qWarning("StlMesh::addFacets dropped %d facets with coordinates that are not finite.", nonFinite);
    mergeBlock(block, pending);
}

void StlMeshPrivate::mergeWelder(const StlMesh::FacetWelder &welder)
{
    // Its indices below the size of `existing` name vertices of that list
    // only: against any other they would join the wrong corners.
    if (welder.existing != vertices) {
        qWarning("StlMesh::merge: the welder was made for another vertex list; nothing is merged.");
        return;
    }
    const int base = vertices.size();
    const int extra = welder.nextIndex - base;
    if (extra < 0 || size_t(extra) > welder.vertexIndex.size()) {
        qWarning("StlMesh::merge: the welder's next index %d does not match its corners; nothing is merged.",
                 welder.nextIndex);
        return;
    }
    QVector<QVector3D> block(extra);
    std::vector<bool> filled(size_t(extra), false);
    for (const auto &entry : welder.vertexIndex) {
        const int slot = entry.second - base;
        if (slot >= 0 && slot < extra && !filled[size_t(slot)] && isFinite(entry.first)) {
            block[slot] = entry.first;
            filled[size_t(slot)] = true;
        }
    }
    auto valid = [&](int i) { return (i >= 0 && i < base) || (i >= base && i - base < extra && filled[size_t(i - base)]); };
    QVector<Triangle> kept;
    kept.reserve(welder.triangles.size());
    for (const Triangle &t : welder.triangles) {
        if (valid(t.a) && valid(t.b) && valid(t.c))
            kept.append(t);
    }
    if (kept.size() != welder.triangles.size())
        qWarning("StlMesh::merge dropped %d triangles that name no corner.", welder.triangles.size() - kept.size());
    // Unfilled cells of the block are used by no triangle, and the rebuild
    // drops them.
    mergeBlock(block, kept);
}

void StlMeshPrivate::appendMesh(const QVector<QVector3D> &otherVertices, const QVector<Triangle> &otherTriangles,
                                const Bounds3Df &otherBox)
{
    if (qint64(vertices.size()) + otherVertices.size() > INT_MAX / 2
        || qint64(triangles.size()) + otherTriangles.size() > INT_MAX / 2) {
        qWarning("StlMesh::append: the mesh would grow too large; nothing is appended.");
        return;
    }
    const int offset = vertices.size();
    vertices += otherVertices;
    triangles.reserve(triangles.size() + otherTriangles.size());
    for (const Triangle &t : otherTriangles)
        triangles.append(Triangle{t.a + offset, t.b + offset, t.c + offset, t.attribute});
    rebuild();
    Bounds3Df united = box;
    united.unite(otherBox);
    computeStatistics(united);
}

int StlMeshPrivate::indexOfVertex(const QVector3D &v) const
{
    // A NaN compares neither less nor greater than anything: it would "match"
    // the first vertex.
    if (std::isnan(v.x()) || std::isnan(v.y()) || std::isnan(v.z()))
        return -1;
    const QVector3D *begin = vertices.constData(), *end = begin + vertices.size();
    const QVector3D *found = std::lower_bound(begin, end, v, StlMesh::VertexLess());
    return found != end && !StlMesh::VertexLess()(v, *found) ? int(found - begin) : -1;
}

int StlMeshPrivate::lowerBound(const Triangle &t) const
{
    return int(std::lower_bound(triangles.constBegin(), triangles.constEnd(), rotated(t), lessByIndices)
               - triangles.constBegin());
}

int StlMeshPrivate::indexOfTriangle(const Triangle &t) const
{
    const Triangle key = rotated(t);
    if (order == StlMesh::ByIndices) {
        const int i = lowerBound(key);
        return i < triangles.size() && triangles.at(i) == key ? i : -1;
    }
    const auto found = std::find(triangles.constBegin(), triangles.constEnd(), key);
    return found == triangles.constEnd() ? -1 : int(found - triangles.constBegin());
}

int StlMeshPrivate::indexOfFacet(const Facet &facet) const
{
    auto corner = [this](const Point3Df &p) { return indexOfVertex(QVector3D(p.x, p.y, p.z)); };
    return indexOfTriangle(Triangle{corner(facet.vertex1), corner(facet.vertex2), corner(facet.vertex3), 0});
}

} // namespace geom
