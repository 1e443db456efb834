#ifndef STLMESHPRIVATE_H
#define STLMESHPRIVATE_H

#include "stlmesh.h"
#include "vertexpoints.h"

#include <QBitArray>
#include <QReadWriteLock>

namespace geom {

// The state of one mesh and the routines that work on it. None of them locks:
// the public members of StlMesh take the lock once and call these, so nothing
// here ever waits for a lock its own thread holds.
class StlMeshPrivate
{
public:
    using Triangle = StlMesh::Triangle;

    explicit StlMeshPrivate(StlMesh *owner);
    ~StlMeshPrivate();
    StlMeshPrivate(const StlMeshPrivate &) = delete;
    StlMeshPrivate &operator=(const StlMeshPrivate &) = delete;

    // Every field but q and lock.
    void copyFrom(const StlMeshPrivate &other);
    void clear();

    // Drops triangles that repeat a corner or name no vertex, turns the rest
    // to start at their smallest index and sorts them by their indices.
    void cleanIndices();
    // Drops triangles that name no vertex or one that is not finite, then the
    // vertices no triangle uses; sorts the vertices by (z, x, y), renumbers
    // the triangles and cleans them up. Returns the number of vertices
    // dropped for coordinates that are not finite.
    int rebuild();
    // Box (measured from the vertices unless box is valid), radius, area,
    // volume, duplicates and free attribute flags.
    void computeStatistics(const Bounds3Df &box);

    // Appends new vertices and triangles whose indices lie in [0, vertex
    // count + block size), then restores the invariants and the measures.
    void mergeBlock(const QVector<QVector3D> &block, const QVector<Triangle> &newTriangles);
    void weldFacets(int count, const Facet *facets, const quint16 *attributes);
    void mergeWelder(const StlMesh::FacetWelder &welder);
    void appendMesh(const QVector<QVector3D> &otherVertices, const QVector<Triangle> &otherTriangles,
                    const Bounds3Df &otherBox);

    int indexOfVertex(const QVector3D &v) const;
    int lowerBound(const Triangle &t) const;
    int indexOfTriangle(const Triangle &t) const;
    int indexOfFacet(const Facet &facet) const;

    StlMesh *q;
    QReadWriteLock *lock;
    QBitArray freeAttributes;
    Bounds3Df box;
    QVector<QVector3D> vertices;
    QVector<Triangle> triangles;
    int order = StlMesh::ByIndices;
    int duplicates = 0;
    double radius = 0.0;
    double area = 0.0;
    double volume = 0.0;
};

// The rotation that starts a triangle at its smallest index and keeps its
// winding; used by the lookups on keys handed in from outside.
inline StlMesh::Triangle rotated(StlMesh::Triangle t)
{
    if (t.b < t.a && t.b < t.c)
        return StlMesh::Triangle{t.b, t.c, t.a, t.attribute};
    if (t.c < t.a && t.c < t.b)
        return StlMesh::Triangle{t.c, t.a, t.b, t.attribute};
    return t;
}

inline bool lessByIndices(const StlMesh::Triangle &s, const StlMesh::Triangle &t)
{
    if (s.a != t.a)
        return s.a < t.a;
    if (s.b != t.b)
        return s.b < t.b;
    return s.c < t.c;
}

} // namespace geom

#endif // STLMESHPRIVATE_H
