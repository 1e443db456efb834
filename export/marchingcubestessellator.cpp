#include "marchingcubestessellator.h"

#include "marchingcubes_p.h"
#include "tessellator.h"

#include <cmath>

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
QVector<Facet> gridFacets(const GridSurface &surface, const GridPolygon &polygon, const GridMapping &mapping)
{
    QVector<Facet> facets;
    facets.reserve(polygon.facets.size());
    for (int j : polygon.facets) {
        const GridFacet &f = surface.facets.at(j);
        const Point3Df a = mapping.map(f.a), b = mapping.map(f.b), c = mapping.map(f.c);
        facets.append(mapping.mirrored ? Facet(a, c, b) : Facet(a, b, c));
    }
    return facets;
}

} // namespace

QVector<Facet> MarchingCubesTessellator::polygonFacets(const GridSurface &surface, const GridPolygon &polygon,
                                                       const GridMapping &mapping, bool merge,
                                                       Tessellator &tessellator)
{
    if (!merge || polygon.contours.isEmpty())
        return gridFacets(surface, polygon, mapping);

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
        return gridFacets(surface, polygon, mapping);

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
        return gridFacets(surface, polygon, mapping);
    facets = tessellator.vertices();
    tessellator.clear();
    if (facets.isEmpty())
        return gridFacets(surface, polygon, mapping);
    return facets;
}

void MarchingCubesTessellator::run()
{
    Tessellator tessellator(Tessellator::WindingPositive);
    const QList<GridPolygon> polygons = groupPolygons(*surface, group, regionOf);
    pieces->reserve(polygons.size());
    for (const GridPolygon &polygon : polygons) {
        if (d->cancelRequested())
            return;
        Piece piece;
        piece.order = polygon.order;
        piece.facets = polygonFacets(*surface, polygon, d->mapping, d->mergePlanes, tessellator);
        pieces->append(piece);
    }
}

} // namespace geom
