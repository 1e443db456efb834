#ifndef STLMESH_H
#define STLMESH_H

#include "bounds3d.h"
#include "facet.h"

#include <QBitArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QVector3D>
#include <QVector>

#include <map>

class QMatrix4x4;

namespace geom {

class StlMeshPrivate;

// An indexed triangle mesh: vertices kept sorted by (z, x, y), triangles that
// index them kept normalised (smallest index first, winding kept) and sorted
// by their indices, with the box, radius, area, volume, duplicate count and
// the attribute words in use measured after every change.
//
// Every member locks the mesh's own reader-writer lock as far as it needs:
// readers share it, anything that changes the mesh holds it exclusively for
// the whole change, and no member ever takes it twice. The accessors hand out
// copies (shared until either side writes), so what a caller holds stays
// consistent while other threads go on changing the mesh.
class StlMesh : public QObject
{
    Q_OBJECT

public:
    // Indices into the vertex list in winding order; the low 16 bits of the
    // attribute are the STL attribute word, the high ones travel along. Two
    // triangles are equal when their indices are: the attribute takes no part.
    struct Triangle
    {
        qint32 a;
        qint32 b;
        qint32 c;
        qint32 attribute;
    };

    enum TriangleOrder { ByAttribute = 0, ByTopVertex = 1, ByIndices = 2 };

    // The one vertex order: z, then x, then y.
    struct VertexLess
    {
        bool operator()(const QVector3D &u, const QVector3D &v) const
        {
            if (u.z() != v.z())
                return u.z() < v.z();
            if (u.x() != v.x())
                return u.x() < v.x();
            return u.y() < v.y();
        }
    };

    struct StripVertex
    {
        int index;
        int attribute;
    };

    // Triangle strips (OpenGL winding) and ready triangles.
    struct Primitives
    {
        QList<QVector<StripVertex>> strips;
        QList<QVector<Triangle>> triangleLists;
    };

    // Facets whose corners were given indices against one state of a mesh:
    // indices below existing.size() name that mesh's vertices, the others the
    // new corners of vertexIndex. merge() takes it only into a mesh whose
    // vertex list is still `existing`.
    struct FacetWelder
    {
        FacetWelder() = default;
        explicit FacetWelder(const StlMesh &mesh);

        std::map<QVector3D, int, VertexLess> vertexIndex;
        QVector<Triangle> triangles;
        QVector<QVector3D> existing;
        int nextIndex = 0;
    };

    explicit StlMesh(QObject *parent = nullptr);
    // Copies under other's read lock; the copy has other's parent and a lock
    // of its own.
    StlMesh(const StlMesh &other);
    ~StlMesh() override;
    StlMesh &operator=(const StlMesh &) = delete;

    // A copy with this mesh's parent; the caller owns it when that is null.
    StlMesh *clone() const;
    void clear();

    QVector<QVector3D> vertices() const;
    QVector<Triangle> indices() const;
    Bounds3Df boundingBox() const;
    // Bit k set: no triangle carries the attribute word k.
    QBitArray freeAttributes() const;
    int duplicates() const;
    int order() const;
    double radius() const;
    double area() const;
    double volume() const;

    // Vertex and triangle lists of one and the same state of the mesh.
    void snapshot(QVector<QVector3D> &vertices, QVector<Triangle> &triangles) const;

    // The first vertex equal to v, or -1.
    int indexOfVertex(const QVector3D &v) const;
    // The range of vertices with z0 <= z <= z1 is [lowerBoundZ(z0), upperBoundZ(z1)).
    int lowerBoundZ(float z) const;
    int upperBoundZ(float z) const;
    // In order ByIndices: where t (rotated, attribute ignored) is or would go.
    int lowerBound(const Triangle &t) const;
    // The position of t (any rotation of its winding) in the triangle list.
    // The iterator is valid only while nothing changes the mesh.
    QVector<Triangle>::const_iterator findTriangle(const Triangle &t) const;
    int indexOfTriangle(const Triangle &t) const;
    // Matches the facet's corners with vertices; the normal plays no part.
    QVector<Triangle>::const_iterator findFacet(const Facet &facet) const;
    int indexOfFacet(const Facet &facet) const;

    // Stable sort by a TriangleOrder; other values are ignored.
    void sortTriangles(int order);
    void setAttribute(int attribute);
    // Merges runs of equal neighbours into their first triangle, which takes
    // the attribute of the run's last; returns the number removed.
    int removeDuplicates();

    // In place; a factor that is not a finite positive number, or that would
    // take a coordinate (or the area) beyond the float range, is refused
    // with a warning and nothing changed.
    void scale(float factor);
    void translate(const QVector3D &offset);
    // The box of the vertices mapped through matrix.
    Bounds3Df boundingBox(const QMatrix4x4 &matrix) const;
    // A new mesh (parent as this one's) of the vertices mapped through matrix,
    // its triangles turned for a mirroring matrix so they keep facing out, and
    // measured afresh. statisticsOnly keeps only the measures, box and
    // duplicate count, with neither vertices nor triangles. Null for a matrix
    // that is singular or not finite.
    StlMesh *transformed(const QMatrix4x4 &matrix, bool statisticsOnly = false) const;

    // Replace the mesh. Triangles that name no vertex, repeat a corner or use
    // a vertex that is not finite are dropped, and so are unused vertices.
    void setData(const QVector3D *vertices, int vertexCount, const Triangle *triangles, int triangleCount);
    void setData(const QVector<QVector3D> &vertices, const QVector<Triangle> &triangles);
    void setData(const QVector<QVector3D> &vertices, const Primitives &primitives);
    // Adds facets, their corners welded with equal corners (exact floats) and
    // with the mesh's vertices. attributes, when given, holds one word per
    // facet. Facets with a coordinate that is not finite are dropped.
    void addFacets(int count, const Facet *facets, const quint16 *attributes = nullptr);
    void merge(const FacetWelder &welder);
    // Appends a copy of other, which may be this mesh.
    void append(const StlMesh &other);

    // One facet per triangle, in list order.
    QVector<Facet> facets(bool computeNormals = true) const;
    // Corners mapped through matrix, in their stored order, normals computed.
    QVector<Facet> facets(const QMatrix4x4 &matrix) const;
    // (b - a) x (c - a) per triangle, rescaled to length unless it is 0.
    QVector<QVector3D> faceNormals(double length = 0.0) const;
    QVector<int> attributes() const;
    QVector<quint16> attributeWords(bool high = false) const;
    // Per vertex, the positions of the triangles that use it.
    QVector<QSet<int>> vertexTriangles() const;

private:
    StlMeshPrivate *d;
};

inline bool operator==(const StlMesh::Triangle &s, const StlMesh::Triangle &t)
{
    return s.a == t.a && s.b == t.b && s.c == t.c;
}

inline bool operator!=(const StlMesh::Triangle &s, const StlMesh::Triangle &t)
{
    return !(s == t);
}

} // namespace geom

Q_DECLARE_TYPEINFO(geom::StlMesh::Triangle, Q_PRIMITIVE_TYPE);
Q_DECLARE_TYPEINFO(geom::StlMesh::StripVertex, Q_PRIMITIVE_TYPE);

#endif // STLMESH_H
