#include "marchingcubestessellator.h"

#include "gridmapping.h"
#include "marchingcubes_p.h"
#include "tessellator.h"

#include <QHash>
#include <QPair>

#include <array>
#include <cmath>
#include <cstring>

namespace geom {

namespace {

Point3Df cross(const Point3Df &u, const Point3Df &v)
{
    return Point3Df(u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x);
}

double dot(const Point3Df &a, const Point3Df &b)
{
    return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
}

// Scaled to length 1 when it has a length worth the name, else unchanged.
Point3Df unit(const Point3Df &n)
{
    const double squared = dot(n, n);
    return squared > 1.4210855e-14 ? n * float(1.0 / std::sqrt(squared)) : n;
}

Point3Df newellNormal(const QVector<Point3Df> &contour)
{
    Point3Df n;
    Point3Df prev = contour.last();
    for (const Point3Df &cur : contour) {
        n.x += (prev.y - cur.y) * (prev.z + cur.z);
        n.y += (prev.z - cur.z) * (prev.x + cur.x);
        n.z += (prev.x - cur.x) * (prev.y + cur.y);
        prev = cur;
    }
    return n;
}

bool positive(const Point3Df &a, const Point3Df &b, const Point3Df &c, const Point3Df &n)
{
    return dot(cross(b - a, c - a), n) > 0.0;
}

// The polygon's grid facets in millimetres, each with its own normal.
QVector<Facet> gridFacets(const QVector<GridFacet> &grid, const GridPolygon &polygon, const GridMapping &mapping)
{
    QVector<Facet> facets;
    facets.reserve(polygon.facets.size());
    for (int j : polygon.facets) {
        const GridFacet &f = grid.at(j);
        const Point3Df a = mapping.map(f.a), b = mapping.map(f.b), c = mapping.map(f.c);
        facets.append(mapping.mirrored ? Facet(a, c, b) : Facet(a, b, c));
    }
    return facets;
}

struct GridVector
{
    qint64 x, y, z;
};

GridVector gridCross(const GridPoint &a, const GridPoint &b, const GridPoint &c)
{
    const qint64 ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const qint64 vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    return GridVector{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
}

qint64 gridDot(const GridVector &a, const GridVector &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

quint64 pointKey(const Point3Df &p)
{
    quint32 bits[3];
    std::memcpy(bits, &p, sizeof bits);
    return (quint64(bits[0]) * Q_UINT64_C(0x9E3779B97F4A7C15)) ^ (quint64(bits[1]) << 21) ^ (quint64(bits[2]) << 42)
           ^ bits[2];
}

// The tessellator's triangles back on the grid, each wound about the
// polygon's normal; a triangle without area (three points of a straight
// boundary run, which the contours keep where other patches need them) is
// removed by splitting its neighbour across the long edge at the middle
// point. False when that cannot be done.
bool onGrid(const QVector<Facet> &facets, const QVector<QVector<Point3Df>> &mm,
            const QList<QVector<GridPoint>> &grid, bool reversed, const GridVector &normal,
            QVector<std::array<GridPoint, 3>> *triangles)
{
    QMultiHash<quint64, QPair<Point3Df, GridPoint>> lookup;
    for (int i = 0; i < mm.size(); ++i) {
        const int n = mm.at(i).size();
        for (int j = 0; j < n; ++j)
            lookup.insert(pointKey(mm.at(i).at(j)), qMakePair(mm.at(i).at(j), grid.at(i).at(reversed ? n - 1 - j : j)));
    }
    auto find = [&lookup](const Point3Df &p, GridPoint *g) {
        for (auto it = lookup.constFind(pointKey(p)); it != lookup.cend() && it.key() == pointKey(p); ++it) {
            if (it.value().first == p) {
                *g = it.value().second;
                return true;
            }
        }
        return false;
    };
    triangles->clear();
    for (const Facet &f : facets) {
        std::array<GridPoint, 3> t;
        if (!find(f.vertex1, &t[0]) || !find(f.vertex2, &t[1]) || !find(f.vertex3, &t[2]))
            return false;
        // In grid units the winding follows the grid, not the mirrored millimetres.
        if (reversed)
            std::swap(t[1], t[2]);
        triangles->append(t);
    }
    for (int round = 0; round < 4 * triangles->size() + 4; ++round) {
        int flat = -1;
        for (int i = 0; i < triangles->size() && flat < 0; ++i) {
            const auto &t = triangles->at(i);
            const qint64 side = gridDot(gridCross(t[0], t[1], t[2]), normal);
            if (side < 0)
                return false;
            if (side == 0)
                flat = i;
        }
        if (flat < 0)
            return true;
        // The middle point of the three is the one between the other two.
        std::array<GridPoint, 3> t = triangles->at(flat);
        int middle = -1;
        for (int k = 0; k < 3; ++k) {
            const GridPoint &p = t[k], &a = t[(k + 2) % 3], &c = t[(k + 1) % 3];
            const qint64 along = qint64(p.x - a.x) * (c.x - a.x) + qint64(p.y - a.y) * (c.y - a.y)
                                 + qint64(p.z - a.z) * (c.z - a.z);
            const qint64 length = qint64(c.x - a.x) * (c.x - a.x) + qint64(c.y - a.y) * (c.y - a.y)
                                  + qint64(c.z - a.z) * (c.z - a.z);
            if (along > 0 && along < length)
                middle = k;
        }
        if (middle < 0)
            return false;
        // t = (a, b, c) with b in the middle: the neighbour holds a -> c.
        const GridPoint a = t[(middle + 2) % 3], b = t[middle], c = t[(middle + 1) % 3];
        int neighbour = -1;
        GridPoint d;
        for (int i = 0; i < triangles->size() && neighbour < 0; ++i) {
            const auto &u = triangles->at(i);
            for (int k = 0; k < 3; ++k) {
                if (i != flat && u[k] == a && u[(k + 1) % 3] == c) {
                    neighbour = i;
                    d = u[(k + 2) % 3];
                }
            }
        }
        if (neighbour < 0)
            return false;
        (*triangles)[neighbour] = {a, b, d};
        (*triangles)[flat] = {b, c, d};
    }
    return false;
}

} // namespace

QVector<Facet> MarchingCubesTessellator::polygonFacets(const QVector<GridFacet> &grid, const GridPolygon &polygon,
                                                       const GridMapping &mapping, bool merge,
                                                       Tessellator &tessellator)
{
    if (!merge || polygon.contours.isEmpty())
        return gridFacets(grid, polygon, mapping);

    QVector<QVector<Point3Df>> contours;
    contours.reserve(polygon.contours.size());
    for (const QVector<GridPoint> &grid : polygon.contours) {
        QVector<Point3Df> points;
        points.reserve(grid.size());
        for (const GridPoint &p : grid)
            points.append(mapping.map(p));
        // A mirroring transform turns the winding over; turn it back.
        if (mapping.mirrored)
            std::reverse(points.begin(), points.end());
        contours.append(points);
    }
    const Point3Df own = unit(mapping.mapNormal(polygon.normal, polygon.contours.first().first().z));
    Point3Df n = unit(newellNormal(contours.first()));
    if (dot(n, n) <= 1.4210855e-14)
        n = own;
    // The contours run the other way round than the facets they stand for:
    // nothing the tessellator makes of them would close the surface.
    if (!(dot(n, own) > 0.0))
        return gridFacets(grid, polygon, mapping);

    QVector<Facet> facets;
    if (contours.size() == 1 && contours.first().size() <= 4) {
        const QVector<Point3Df> &p = contours.first();
        if (p.size() == 3 && positive(p[0], p[1], p[2], n)) {
            facets << Facet(p[0], p[1], p[2], n);
            return facets;
        }
        if (p.size() == 4) {
            if (positive(p[2], p[3], p[0], n) && positive(p[0], p[1], p[2], n)) {
                facets << Facet(p[2], p[3], p[0], n) << Facet(p[0], p[1], p[2], n);
                return facets;
            }
            if (positive(p[3], p[0], p[1], n) && positive(p[1], p[2], p[3], n)) {
                facets << Facet(p[3], p[0], p[1], n) << Facet(p[1], p[2], p[3], n);
                return facets;
            }
        }
    }
    const double normal[3] = {n.x, n.y, n.z};
    tessellator.beginPolygon(Tessellator::Float3D, normal);
    for (const QVector<Point3Df> &contour : contours)
        tessellator.addContour(contour.constData(), contour.size());
    if (!tessellator.endPolygon())
        return gridFacets(grid, polygon, mapping);
    facets = tessellator.vertices();
    tessellator.clear();
    const GridFacet &first = grid.at(polygon.facets.first());
    QVector<std::array<GridPoint, 3>> triangles;
    if (facets.isEmpty()
        || !onGrid(facets, contours, polygon.contours, mapping.mirrored, gridCross(first.a, first.b, first.c), &triangles))
        return gridFacets(grid, polygon, mapping);
    facets.clear();
    for (const auto &t : triangles) {
        const Point3Df a = mapping.map(t[0]), b = mapping.map(t[1]), c = mapping.map(t[2]);
        facets.append(mapping.mirrored ? Facet(a, c, b, n) : Facet(a, b, c, n));
    }
    return facets;
}

void MarchingCubesTessellator::run()
{
    Tessellator tessellator(Tessellator::WindingPositive);
    // Points where GLU joins vertices stay input points, so every triangle
    // corner is a grid point.
    tessellator.setSnapCombined(true);
    // Blank layers close every stack, and the image border every layer.
    const QList<GridPolygon> polygons = groupPolygons(*surface, group, regionOf, true);
    pieces->reserve(polygons.size());
    for (const GridPolygon &polygon : polygons) {
        if (d->cancelRequested())
            return;
        Piece piece;
        piece.order = polygon.order;
        piece.facets = polygonFacets(surface->facets, polygon, d->mapping, d->mergePlanes, tessellator);
        pieces->append(piece);
    }
}

} // namespace geom
