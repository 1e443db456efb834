#include "stlmesh.h"

#include "stlmeshprivate.h"
#include "utiltx.h"

#include <QMatrix4x4>
#include <QReadLocker>
#include <QWriteLocker>

#include <algorithm>
#include <cmath>
#include <cstdint>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace geom {

namespace {

using Triangle = StlMesh::Triangle;

// A matrix is applied when its entries are finite and its linear part keeps
// volume: the determinant measured against the cube of the largest entry,
// so that a uniformly small scale is as good as any other. mirrors tells
// whether it turns the shape inside out.
bool isRegular(const QMatrix4x4 &m, bool &mirrors)
{
    const float *e = m.constData();
    if (!std::all_of(e, e + 16, [](float f) { return std::isfinite(f); }))
        return false;
    double a[3][3];
    double largest = 0.0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            a[r][c] = double(m(r, c));
            largest = std::max(largest, std::fabs(a[r][c]));
        }
    }
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1])
        - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    mirrors = det < 0.0;
    return std::fabs(det) > 1e-12 * largest * largest * largest;
}

// Large result buffers are asked for in huge pages where the system gives
// them on request: the page faults of a fresh buffer would cost more than
// filling it.
void adviseHugePages(void *data, size_t bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t hugePage = 2 * 1024 * 1024;
    if (bytes < 4 * hugePage)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(hugePage - 1);
    if (end > begin)
        madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
    Q_UNUSED(bytes);
#endif
}

QVector<Facet> facetsOf(const QVector3D *v, const QVector<Triangle> &triangles, bool computeNormals)
{
    // Reserved, not sized: every facet is written once.
    QVector<Facet> out;
    out.reserve(triangles.size());
    adviseHugePages(out.data(), sizeof(Facet) * size_t(triangles.size()));
    const Point3Df *p = asPoints(v);
    for (const Triangle &t : triangles) {
        const Point3Df &a = p[t.a], &b = p[t.b], &c = p[t.c];
        out.append(computeNormals ? Facet(a, b, c) : Facet(a, b, c, Point3Df::zero));
    }
    return out;
}

} // namespace

StlMesh::FacetWelder::FacetWelder(const StlMesh &mesh) : existing(mesh.vertices()), nextIndex(existing.size()) {}

StlMesh::StlMesh(QObject *parent) : QObject(parent), d(new StlMeshPrivate(this)) {}

StlMesh::StlMesh(const StlMesh &other) : QObject(other.parent()), d(new StlMeshPrivate(this))
{
    QReadLocker locker(other.d->lock);
    d->copyFrom(*other.d);
}

StlMesh::~StlMesh()
{
    {
        QWriteLocker locker(d->lock);
        d->clear();
    }
    delete d;
}

StlMesh *StlMesh::clone() const
{
    return new StlMesh(*this);
}

void StlMesh::clear()
{
    QWriteLocker locker(d->lock);
    d->clear();
}

QVector<QVector3D> StlMesh::vertices() const
{
    QReadLocker locker(d->lock);
    return d->vertices;
}

QVector<StlMesh::Triangle> StlMesh::indices() const
{
    QReadLocker locker(d->lock);
    return d->triangles;
}

Bounds3Df StlMesh::boundingBox() const
{
    QReadLocker locker(d->lock);
    return d->box;
}

QBitArray StlMesh::freeAttributes() const
{
    QReadLocker locker(d->lock);
    return d->freeAttributes;
}

int StlMesh::duplicates() const
{
    QReadLocker locker(d->lock);
    return d->duplicates;
}

int StlMesh::order() const
{
    QReadLocker locker(d->lock);
    return d->order;
}

double StlMesh::radius() const
{
    QReadLocker locker(d->lock);
    return d->radius;
}

double StlMesh::area() const
{
    QReadLocker locker(d->lock);
    return d->area;
}

double StlMesh::volume() const
{
    QReadLocker locker(d->lock);
    return d->volume;
}

void StlMesh::snapshot(QVector<QVector3D> &vertices, QVector<Triangle> &triangles) const
{
    QReadLocker locker(d->lock);
    vertices = d->vertices;
    triangles = d->triangles;
}

int StlMesh::indexOfVertex(const QVector3D &v) const
{
    QReadLocker locker(d->lock);
    return d->indexOfVertex(v);
}

int StlMesh::lowerBoundZ(float z) const
{
    QReadLocker locker(d->lock);
    const QVector3D key(d->box.minX, d->box.minY, z);
    return int(std::lower_bound(d->vertices.constBegin(), d->vertices.constEnd(), key, VertexLess())
               - d->vertices.constBegin());
}

int StlMesh::upperBoundZ(float z) const
{
    QReadLocker locker(d->lock);
    const QVector3D key(d->box.maxX, d->box.maxY, z);
    return int(std::upper_bound(d->vertices.constBegin(), d->vertices.constEnd(), key, VertexLess())
               - d->vertices.constBegin());
}

int StlMesh::lowerBound(const Triangle &t) const
{
    QReadLocker locker(d->lock);
    return d->lowerBound(t);
}

QVector<StlMesh::Triangle>::const_iterator StlMesh::findTriangle(const Triangle &t) const
{
    QReadLocker locker(d->lock);
    const int i = d->indexOfTriangle(t);
    return i < 0 ? d->triangles.constEnd() : d->triangles.constBegin() + i;
}

int StlMesh::indexOfTriangle(const Triangle &t) const
{
    QReadLocker locker(d->lock);
    return d->indexOfTriangle(t);
}

QVector<StlMesh::Triangle>::const_iterator StlMesh::findFacet(const Facet &facet) const
{
    QReadLocker locker(d->lock);
    const int i = d->indexOfFacet(facet);
    return i < 0 ? d->triangles.constEnd() : d->triangles.constBegin() + i;
}

int StlMesh::indexOfFacet(const Facet &facet) const
{
    QReadLocker locker(d->lock);
    return d->indexOfFacet(facet);
}

void StlMesh::sortTriangles(int order)
{
    QWriteLocker locker(d->lock);
    if (d->order == order || order < ByAttribute || order > ByIndices)
        return;
    auto &list = d->triangles;
    if (order == ByAttribute) {
        std::stable_sort(list.begin(), list.end(),
                         [](const Triangle &s, const Triangle &t) { return s.attribute < t.attribute; });
    } else if (order == ByTopVertex) {
        std::stable_sort(list.begin(), list.end(), [](const Triangle &s, const Triangle &t) {
            return std::max(s.b, s.c) < std::max(t.b, t.c);
        });
    } else {
        std::stable_sort(list.begin(), list.end(), lessByIndices);
    }
    d->order = order;
}

void StlMesh::setAttribute(int attribute)
{
    QWriteLocker locker(d->lock);
    for (Triangle &t : d->triangles)
        t.attribute = attribute;
    d->freeAttributes.fill(true);
    // The flags tell which words triangles carry; a mesh without any carries none.
    if (!d->triangles.isEmpty())
        d->freeAttributes.clearBit(attribute & 0xffff);
}

int StlMesh::removeDuplicates()
{
    QWriteLocker locker(d->lock);
    const QVector<Triangle> &list = d->triangles;
    const int count = list.size();
    // Counted here rather than taken from the statistics, which may describe
    // the list before a sort or another change.
    int runs = 0;
    for (int i = 1; i < count; ++i)
        runs += list.at(i) == list.at(i - 1);
    d->duplicates = 0;
    if (runs == 0)
        return 0;
    QVector<Triangle> kept;
    kept.reserve(count - runs);
    for (const Triangle &t : list) {
        if (!kept.isEmpty() && kept.last() == t)
            kept.last().attribute = t.attribute;
        else
            kept.append(t);
    }
    d->triangles = kept;
    return runs;
}

void StlMesh::scale(float factor)
{
    // Anything else would run the vertex order backwards or collapse it.
    if (!(factor > 0.0f) || !std::isfinite(factor)) {
        qWarning("StlMesh::scale: refused the factor %g; it must be finite and above 0.", double(factor));
        return;
    }
    QWriteLocker locker(d->lock);
    const int n = d->vertices.size() * 3;
    // A factor that overflows a coordinate would leave vertices the next
    // rebuild drops with their triangles: refused before anything changes.
    float largest = 0.0f;
    const float *q = reinterpret_cast<const float *>(d->vertices.constData());
    for (int i = 0; i < n; ++i)
        largest = std::max(largest, std::fabs(q[i]));
    if (!std::isfinite(largest * factor) || !std::isfinite(d->area * factor * factor)) {
        qWarning("StlMesh::scale: refused the factor %g; it would take coordinates beyond the float range.",
                 double(factor));
        return;
    }
    if (n > 0) {
        float *p = reinterpret_cast<float *>(d->vertices.data());
        for (int i = 0; i < n; ++i)
            p[i] *= factor;
    }
    float *box = d->box.data();
    for (int i = 0; i < 6; ++i)
        box[i] *= factor;
    d->radius *= factor;
    d->area *= factor * factor;
    d->volume *= double(factor) * double(factor) * double(factor);
}

void StlMesh::translate(const QVector3D &offset)
{
    if (!std::isfinite(offset.x()) || !std::isfinite(offset.y()) || !std::isfinite(offset.z())) {
        qWarning("StlMesh::translate: refused an offset that is not finite.");
        return;
    }
    QWriteLocker locker(d->lock);
    for (QVector3D &v : d->vertices)
        v += offset;
    d->box.translate(Point3Df(offset.x(), offset.y(), offset.z()));
}

Bounds3Df StlMesh::boundingBox(const QMatrix4x4 &matrix) const
{
    QReadLocker locker(d->lock);
    if (matrix.isIdentity())
        return d->box;
    return utilTX::mapBounds3Df(matrix, asPoints(d->vertices.constData()), d->vertices.size());
}

StlMesh *StlMesh::transformed(const QMatrix4x4 &matrix, bool statisticsOnly) const
{
    bool mirrors = false;
    if (!matrix.isIdentity() && !isRegular(matrix, mirrors)) {
        qWarning("StlMesh::transformed: the matrix is singular or not finite; no mesh is made.");
        return nullptr;
    }
    StlMesh *copy = new StlMesh(parent());
    StlMeshPrivate *c = copy->d;
    {
        // The copy shares both lists with this mesh; a writer that comes
        // later detaches its own, so the lock is needed only this long.
        QReadLocker locker(d->lock);
        c->copyFrom(*d);
    }
    if (matrix.isIdentity())
        return copy;

    c->box.reset();
    const int n = c->vertices.size();
    if (n > 0) {
        Point3Df *v = asPoints(c->vertices.data());
        utilTX::map3Df(v, matrix, v, n, &c->box);
    }
    if (!statisticsOnly) {
        if (mirrors) {
            for (Triangle &t : c->triangles)
                std::swap(t.b, t.c);
        }
        // The box of the mapping counts vertices that are not finite, which
        // the rebuild drops.
        if (c->rebuild() > 0)
            c->box.reset();
    }
    c->computeStatistics(c->box);
    if (statisticsOnly) {
        c->vertices = QVector<QVector3D>();
        c->triangles = QVector<Triangle>();
    }
    return copy;
}

void StlMesh::setData(const QVector3D *vertices, int vertexCount, const Triangle *triangles, int triangleCount)
{
    QWriteLocker locker(d->lock);
    d->clear();
    if (!vertices || !triangles || vertexCount < 1 || triangleCount < 1)
        return;
    d->vertices = QVector<QVector3D>(vertexCount);
    std::copy(vertices, vertices + vertexCount, d->vertices.data());
    d->triangles = QVector<Triangle>(triangleCount);
    std::copy(triangles, triangles + triangleCount, d->triangles.data());
    d->rebuild();
    d->computeStatistics(Bounds3Df());
}

void StlMesh::setData(const QVector<QVector3D> &vertices, const QVector<Triangle> &triangles)
{
    QWriteLocker locker(d->lock);
    d->clear();
    if (vertices.isEmpty() || triangles.isEmpty())
        return;
    d->vertices = vertices;
    d->triangles = triangles;
    d->rebuild();
    d->computeStatistics(Bounds3Df());
}

void StlMesh::setData(const QVector<QVector3D> &vertices, const Primitives &primitives)
{
    QWriteLocker locker(d->lock);
    d->clear();
    d->vertices = vertices;
    qint64 total = 0;
    for (const auto &strip : primitives.strips)
        total += std::max(0, strip.size() - 2);
    for (const auto &list : primitives.triangleLists)
        total += list.size();
    d->triangles.reserve(int(std::min<qint64>(total, INT_MAX / 2)));
    for (const auto &strip : primitives.strips) {
        if (strip.size() < 3)
            continue;
        int a = strip.at(0).index, b = strip.at(1).index;
        for (int k = 2; k < strip.size(); ++k) {
            const StripVertex &s = strip.at(k);
            d->triangles.append(Triangle{a, b, s.index, s.attribute});
            (k % 2 == 0 ? a : b) = s.index;
        }
    }
    for (const auto &list : primitives.triangleLists)
        d->triangles += list;
    d->rebuild();
    d->computeStatistics(Bounds3Df());
}

void StlMesh::addFacets(int count, const Facet *facets, const quint16 *attributes)
{
    if (!facets || count < 0)
        return;
    QWriteLocker locker(d->lock);
    d->weldFacets(count, facets, attributes);
}

void StlMesh::merge(const FacetWelder &welder)
{
    if (welder.triangles.isEmpty())
        return;
    QWriteLocker locker(d->lock);
    d->mergeWelder(welder);
}

void StlMesh::append(const StlMesh &other)
{
    // other is read and released before this mesh is locked for writing:
    // two meshes appending each other never wait for one another, and a mesh
    // appended to itself takes its own lock once at a time.
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    Bounds3Df box;
    {
        QReadLocker locker(other.d->lock);
        vertices = other.d->vertices;
        triangles = other.d->triangles;
        box = other.d->box;
    }
    QWriteLocker locker(d->lock);
    d->appendMesh(vertices, triangles, box);
}

QVector<Facet> StlMesh::facets(bool computeNormals) const
{
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    snapshot(vertices, triangles);
    return facetsOf(vertices.constData(), triangles, computeNormals);
}

QVector<Facet> StlMesh::facets(const QMatrix4x4 &matrix) const
{
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    snapshot(vertices, triangles);
    if (!matrix.isIdentity() && !vertices.isEmpty()) {
        Point3Df *v = asPoints(vertices.data());
        utilTX::map3Df(v, matrix, v, vertices.size());
    }
    return facetsOf(vertices.constData(), triangles, true);
}

QVector<QVector3D> StlMesh::faceNormals(double length) const
{
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    snapshot(vertices, triangles);
    QVector<QVector3D> normals;
    normals.reserve(triangles.size());
    const QVector3D *v = vertices.constData();
    for (const Triangle &t : qAsConst(triangles)) {
        Point3Df n = Facet(asPoints(v)[t.a], asPoints(v)[t.b], asPoints(v)[t.c], Point3Df::zero).crossNormal();
        if (std::fabs(length) > 1e-12)
            n.setLength(length);
        normals.append(QVector3D(n.x, n.y, n.z));
    }
    return normals;
}

QVector<int> StlMesh::attributes() const
{
    const QVector<Triangle> list = indices();
    QVector<int> out;
    out.reserve(list.size());
    for (const Triangle &t : list)
        out.append(t.attribute);
    return out;
}

QVector<quint16> StlMesh::attributeWords(bool high) const
{
    const QVector<Triangle> list = indices();
    QVector<quint16> out;
    out.reserve(list.size());
    for (const Triangle &t : list)
        out.append(quint16(high ? quint32(t.attribute) >> 16 : quint32(t.attribute) & 0xffff));
    return out;
}

QVector<QSet<int>> StlMesh::vertexTriangles() const
{
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    snapshot(vertices, triangles);
    QVector<QSet<int>> out(vertices.size());
    for (int i = 0; i < triangles.size(); ++i) {
        const Triangle &t = triangles.at(i);
        out[t.a].insert(i);
        out[t.b].insert(i);
        out[t.c].insert(i);
    }
    return out;
}

} // namespace geom
