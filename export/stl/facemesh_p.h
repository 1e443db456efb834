#ifndef GEOM_FACEMESH_P_H
#define GEOM_FACEMESH_P_H

#include "facet.h"
#include "hashtable_p.h"
#include "point2d.h"
#include "stllayerbuilder.h"

#include <array>
#include <cmath>
#include <vector>

namespace geom {

class EdgeGrid;

// A float point as the file stores it; -0 becomes 0, so that equal
// coordinates have equal bytes.
inline Point2Df filePoint(double x, double y)
{
    return Point2Df(float(x) + 0.0f, float(y) + 0.0f);
}

// The faces of one pair of layers as triangles over shared float vertices, all
// wound counter-clockwise seen from above; `down` marks the downward ones.
struct FaceMesh
{
    struct Triangle
    {
        int v[3];
        bool down;
        bool live;
    };

    std::vector<Point2Df> vertices;
    // The vertices of the layers' outlines come first, the ones GLU made after.
    int outlineVertices = 0;
    std::vector<Triangle> triangles;
    HashTable vertexIndex;
    // The points vertex() found last, with their indices.
    struct Recent
    {
        quint64 key;
        int index;
    };
    std::array<Recent, 8> recent;
    int nextRecent = 0;
    HashTable cells;
    double cell = 0.0;
    HashTable edges; // directed edge -> triangle

    // Starts a pair of layers with their outline vertices. A vertex that GLU
    // makes (a crossing or band point) snaps to one already there when it
    // rounds to within two units in the last place of it, or within the snap
    // radius (relative to its magnitude, at least 1 mm): a crossing point
    // that close to a vertex would leave a needle of a wall facet, too thin
    // to have a direction in float, or put a wall's top a few float steps
    // off the vertex of the faces beside it (a T-junction once written), and
    // two band points of the same edge of both layers, worked out from
    // different ends, a sliver between them. The snap radius stays below the
    // reach of EdgeGrid::candidates, so a snapped point still finds its edge.
    void clear(const StlLayer &lower, const StlLayer &upper);
    static constexpr double snapRadius = 2e-6;

    int vertex(double x, double y)
    {
        const Point2Df p = filePoint(x, y);
        const quint64 key = pointKey(p);
        // GLU hands out neighbouring triangles one after the other, so most
        // corners were asked for a moment ago; a point's index never changes
        // once it is in the table.
        for (const Recent &r : recent) {
            if (r.key == key)
                return r.index;
        }
        int index = vertexIndex.find(key);
        if (index < 0)
            index = newVertex(p);
        recent[nextRecent] = {key, index};
        nextRecent = (nextRecent + 1) % int(recent.size());
        return index;
    }

    int newVertex(const Point2Df &p);

    qint64 cellOf(float v) const { return qint64(std::floor(double(v) / cell)); }

    static quint64 cellKey(qint64 cx, qint64 cy) { return (quint64(quint32(qint32(cx))) << 32) | quint32(qint32(cy)); }

    quint64 cellKey(const Point2Df &p) const { return cellKey(cellOf(p.x), cellOf(p.y)); }

    void add(int a, int b, int c, bool down)
    {
        if (a != b && b != c && c != a)
            triangles.push_back({{a, b, c}, down, true});
    }

    // Whether the triangle has an area and faces its way in the file's float
    // arithmetic as well as in double.
    bool sound(const Triangle &t) const
    {
        const Point2Df &a = vertices[size_t(t.v[0])], &b = vertices[size_t(t.v[1])], &c = vertices[size_t(t.v[2])];
        const double det = (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
        const Facet f(Point3Df(a, 0.0f), Point3Df(b, 0.0f), Point3Df(c, 0.0f), Point3Df(0, 0, 1));
        return det > 0.0 && f.crossNormal().z > 0.0f;
    }

    void setEdges(int t)
    {
        const Triangle &tri = triangles[size_t(t)];
        for (int k = 0; k < 3; ++k)
            edges.insert(edgeKey(tri.v[k], tri.v[(k + 1) % 3]), t, true);
    }

    int across(int a, int b) const
    {
        const int t = edges.find(edgeKey(b, a));
        return t >= 0 && triangles[size_t(t)].live ? t : -1;
    }

    // Rounding to float can flatten a sliver triangle or turn it over. Such a
    // triangle is dropped, and the neighbour across its longest edge is split
    // at the opposite vertex, which lies on (or just across) that edge, so the
    // surface stays closed; without a neighbour the edge is an outline edge,
    // which the walls then split at that vertex.
    void removeDegenerate();

    // Where an outline edge crosses a band line, the faces have a vertex that
    // the plain faces would not have, and the wall on that edge would be split
    // there too: two facets more for each. Such a point, on a straight stretch
    // of a face's outline (its neighbours along the outline on the same edge),
    // is merged into one of those neighbours, where every triangle around it
    // keeps its area and direction and no edge would be made twice.
    void mergeBandPoints(const EdgeGrid &grid);

    // The triangles around each vertex, for mergeBandPoints(); kept from pair
    // to pair, so that their storage is reused.
    std::vector<std::vector<int>> around;
};

} // namespace geom

#endif // GEOM_FACEMESH_P_H
