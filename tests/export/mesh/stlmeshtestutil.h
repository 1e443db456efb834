#ifndef STLMESHTESTUTIL_H
#define STLMESHTESTUTIL_H

// Fixtures of the mesh store tests: closed boxes as facets or as a mesh, and
// a check of every invariant a mesh keeps between changes.

#include "mesh/stlmesh.h"

#include <QString>
#include <QVector>

#include <tuple>

namespace meshtest {

using geom::Facet;
using geom::Point3Df;
using geom::StlMesh;

// The closed surface of the box [0, side]^3, each face cut into n x n squares
// of two triangles, all facing out. Corners on shared edges are the same
// floats, so they weld.
inline QVector<Facet> boxFacets(float side, int n)
{
    auto coord = [side, n](int k) { return float(double(side) * k / n); };
    struct Face
    {
        Point3Df origin, u, v;
    };
    const Face faces[6] = {
        {Point3Df(0, 0, 0), Point3Df(0, 1, 0), Point3Df(1, 0, 0)},    // z = 0, facing down
        {Point3Df(0, 0, 1), Point3Df(1, 0, 0), Point3Df(0, 1, 0)},    // z = side
        {Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 0, 1)},    // y = 0
        {Point3Df(0, 1, 0), Point3Df(0, 0, 1), Point3Df(1, 0, 0)},    // y = side
        {Point3Df(0, 0, 0), Point3Df(0, 0, 1), Point3Df(0, 1, 0)},    // x = 0
        {Point3Df(1, 0, 0), Point3Df(0, 1, 0), Point3Df(0, 0, 1)},    // x = side
    };
    QVector<Facet> facets;
    facets.reserve(12 * n * n);
    for (const Face &f : faces) {
        auto at = [&](int i, int j) {
            const Point3Df o = f.origin * coord(n);
            return Point3Df(o.x + f.u.x * coord(i) + f.v.x * coord(j), o.y + f.u.y * coord(i) + f.v.y * coord(j),
                            o.z + f.u.z * coord(i) + f.v.z * coord(j));
        };
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                facets.append(Facet(at(i, j), at(i + 1, j), at(i + 1, j + 1)));
                facets.append(Facet(at(i, j), at(i + 1, j + 1), at(i, j + 1)));
            }
        }
    }
    return facets;
}

// The unit cube: vertex x + 2y + 4z at (x, y, z), twelve outward triangles.
inline QVector<QVector3D> cubeVertices()
{
    QVector<QVector3D> v;
    for (int i = 0; i < 8; ++i)
        v.append(QVector3D(i & 1, (i >> 1) & 1, (i >> 2) & 1));
    return v;
}

inline QVector<StlMesh::Triangle> cubeTriangles()
{
    return {{0, 2, 3, 0}, {0, 3, 1, 0}, {4, 5, 7, 0}, {4, 7, 6, 0}, {0, 1, 5, 0}, {0, 5, 4, 0},
            {2, 6, 7, 0}, {2, 7, 3, 0}, {0, 4, 6, 0}, {0, 6, 2, 0}, {1, 3, 7, 0}, {1, 7, 5, 0}};
}

// Empty when the mesh keeps every invariant: vertices sorted by (z, x, y),
// every triangle's indices distinct and in range with the smallest first,
// and, when the list claims it, triangles sorted by their indices.
inline QString invariantFault(const QVector<QVector3D> &vertices, const QVector<StlMesh::Triangle> &triangles, int order)
{
    const StlMesh::VertexLess less;
    for (int i = 1; i < vertices.size(); ++i) {
        if (less(vertices[i], vertices[i - 1]))
            return QStringLiteral("vertex %1 out of order").arg(i);
    }
    for (int i = 0; i < triangles.size(); ++i) {
        const StlMesh::Triangle &t = triangles[i];
        if (t.a < 0 || t.b >= vertices.size() || t.c >= vertices.size() || !(t.a < t.b && t.a < t.c) || t.b == t.c)
            return QStringLiteral("triangle %1 (%2, %3, %4) invalid").arg(i).arg(t.a).arg(t.b).arg(t.c);
        if (order == StlMesh::ByIndices && i > 0) {
            const StlMesh::Triangle &p = triangles[i - 1];
            if (std::make_tuple(t.a, t.b, t.c) < std::make_tuple(p.a, p.b, p.c))
                return QStringLiteral("triangle %1 out of order").arg(i);
        }
    }
    return QString();
}

// For a mesh nobody changes meanwhile.
inline QString invariantFault(const StlMesh &mesh)
{
    QVector<QVector3D> vertices;
    QVector<StlMesh::Triangle> triangles;
    mesh.snapshot(vertices, triangles);
    return invariantFault(vertices, triangles, mesh.order());
}

} // namespace meshtest

#endif // STLMESHTESTUTIL_H
