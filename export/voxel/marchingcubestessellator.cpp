#include "marchingcubestessellator.h"

#include "gridmapping.h"
#include "marchingcubes_p.h"
#include "tessellator.h"

#include <QHash>
#include <QPair>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace geom {

namespace {

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

using GridTriangle = std::array<GridPoint, 3>;

// Where a polygon is cut into triangles. On the grid itself, exactly, as a
// rule: a polygon planar there keeps its rim whatever the layer gaps, and
// mapping z (monotone) through uneven gaps never turns over a triangle seen
// from above, nor takes its area. A vertical polygon is the exception: over
// uneven gaps its shapes are skewed within its plane, which can turn a
// triangle over; it is cut with z in millimetres (x and y still on the
// grid), where its plane is an affine image of the model's.
struct Frame
{
    const GridMapping *mapping = nullptr;
    GridVector normal{0, 0, 0};
    bool warped = false;
    double unit = 1.0; // the mean step of the z table: heights in about grid units

    double height(const GridPoint &p) const
    {
        const QVector<float> &table = mapping->zTable;
        return table.isEmpty() ? 0.0
                               : double(table.at(std::min(std::max(int(p.z) - 1, 0), table.size() - 1))) / unit;
    }
    // 1 when the triangle winds about the normal, 0 when its corners are
    // collinear, -1 when it winds the other way.
    int side(const GridTriangle &t) const
    {
        if (!warped) {
            const qint64 s = gridDot(gridCross(t[0], t[1], t[2]), normal);
            return s > 0 ? 1 : s < 0 ? -1 : 0;
        }
        // The normal is horizontal: only the x and y of the cross product count.
        const double ux = t[1].x - t[0].x, uy = t[1].y - t[0].y, uz = height(t[1]) - height(t[0]);
        const double vx = t[2].x - t[0].x, vy = t[2].y - t[0].y, vz = height(t[2]) - height(t[0]);
        const double s = (uy * vz - uz * vy) * double(normal.x) + (uz * vx - ux * vz) * double(normal.y);
        // Float heights: points in one line in millimetres need not be
        // exactly so here. What rounding can hide counts as collinear.
        const double scale = std::sqrt((ux * ux + uy * uy + uz * uz) * (vx * vx + vy * vy + vz * vz)
                                       * double(normal.x * normal.x + normal.y * normal.y));
        return s > 1e-6 * scale ? 1 : s < -1e-6 * scale ? -1 : 0;
    }
};

// A facet in millimetres whose normal is the unit normal of its stored
// vertices, taken in double; null (false) when those vertices have no area
// worth the name or face against the expected direction, as rounding can
// make of a long sliver.
bool mmFacet(const Point3Df &a, const Point3Df &b, const Point3Df &c, const Point3Df &expected, Facet *facet)
{
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double vx = double(c.x) - a.x, vy = double(c.y) - a.y, vz = double(c.z) - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    const double wx = double(c.x) - b.x, wy = double(c.y) - b.y, wz = double(c.z) - b.z;
    const double longest = std::max({ux * ux + uy * uy + uz * uz, vx * vx + vy * vy + vz * vz, wx * wx + wy * wy + wz * wz});
    const double along = nx * expected.x + ny * expected.y + nz * expected.z;
    if (!(length > 1e-9 * longest) || !(along > 0.0)) {
        return false;
    }
    *facet = Facet(a, b, c, Point3Df(float(nx / length), float(ny / length), float(nz / length)));
    return true;
}

// The mapping's direction of a grid normal (of the facets' winding), the z
// scale taken in the cube whose lowest point is at grid height low.
Point3Df mmNormal(const GridMapping &mapping, const float *normal, int low)
{
    // Cube centres lie on even heights, the layers on odd ones.
    const Point3Df n = mapping.mapNormal(normal, low + (low & 1));
    const double length = std::sqrt(double(n.x) * n.x + double(n.y) * n.y + double(n.z) * n.z);
    return length > 0.0 ? n * float(1.0 / length) : n;
}

// Grid triangles to millimetre facets; false when one of them comes out
// without area or turned over.
bool toMillimetres(const QVector<GridTriangle> &triangles, const GridMapping &mapping, const Point3Df &expected,
                   QVector<Facet> *facets)
{
    facets->clear();
    facets->reserve(triangles.size());
    for (const GridTriangle &t : triangles) {
        const Point3Df a = mapping.map(t[0]), b = mapping.map(t[1]), c = mapping.map(t[2]);
        Facet f;
        // A mirroring transform turns the winding over; turn it back.
        if (!(mapping.mirrored ? mmFacet(a, c, b, expected, &f) : mmFacet(a, b, c, expected, &f)))
            return false;
        facets->append(f);
    }
    return true;
}

// The polygon's grid facets in millimetres. Each lies within one cube, where
// the mapping is affine, so it keeps its area and its side.
QVector<Facet> gridFacets(const QVector<GridFacet> &grid, const GridPolygon &polygon, const GridMapping &mapping)
{
    QVector<Facet> facets;
    facets.reserve(polygon.facets.size());
    for (int j : polygon.facets) {
        const GridFacet &f = grid.at(j);
        const Point3Df a = mapping.map(f.a), b = mapping.map(f.b), c = mapping.map(f.c);
        const Point3Df expected = mmNormal(mapping, f.normal, std::min({f.a.z, f.b.z, f.c.z}));
        Facet facet;
        if (!(mapping.mirrored ? mmFacet(a, c, b, expected, &facet) : mmFacet(a, b, c, expected, &facet))) {
            // Not to be met on a grid of sane heights; the facet is kept, so
            // the surface stays closed.
            facet = mapping.mirrored ? Facet(a, c, b) : Facet(a, b, c);
        }
        facets.append(facet);
    }
    return facets;
}

// Whether the triangles tile the polygon: every triangle winds about the
// normal, and their edges less the contours' are inner edges, each met once
// in each direction. Together that leaves no gap, overlap or fold, and the
// polygon's rim is exactly its contours, which the neighbouring polygons
// share.
bool tiles(const QVector<GridTriangle> &triangles, const GridPolygon &polygon, const Frame &frame)
{
    QHash<QPair<GridPoint, GridPoint>, int> balance;
    auto count = [&balance](const GridPoint &p, const GridPoint &q, int by) {
        // One entry per undirected edge, counted up from p to q.
        if (p < q)
            balance[qMakePair(p, q)] += by;
        else
            balance[qMakePair(q, p)] -= by;
    };
    for (const GridTriangle &t : triangles) {
        if (frame.side(t) <= 0)
            return false;
        for (int k = 0; k < 3; ++k)
            count(t[k], t[(k + 1) % 3], 1);
    }
    for (const QVector<GridPoint> &contour : polygon.contours) {
        for (int k = 0; k < contour.size(); ++k)
            count(contour.at(k), contour.at((k + 1) % contour.size()), -1);
    }
    for (int v : qAsConst(balance)) {
        if (v != 0)
            return false;
    }
    return true;
}

// Removes triangles whose corners are collinear (three points of a straight
// rim run, which the contours keep where other polygons need them), and
// slivers that rounding would take the area of in millimetres (fine(t)
// false), by cutting each together with its neighbour across its longest
// edge along the other diagonal. False when that cannot be done.
template<typename Fine>
bool removeFlat(QVector<GridTriangle> &triangles, const Frame &frame, Fine fine)
{
    QVector<int> flats;
    for (int i = 0; i < triangles.size(); ++i) {
        const int s = frame.side(triangles.at(i));
        if (s < 0)
            return false;
        if (s == 0 || !fine(triangles.at(i)))
            flats.append(i);
    }
    if (flats.isEmpty())
        return true;
    // Directed edge -> triangle, kept up to date through the splits.
    QHash<QPair<GridPoint, GridPoint>, int> owner;
    auto enter = [&](int i) {
        const GridTriangle &t = triangles.at(i);
        for (int k = 0; k < 3; ++k)
            owner.insert(qMakePair(t[k], t[(k + 1) % 3]), i);
    };
    auto leave = [&](int i) {
        const GridTriangle &t = triangles.at(i);
        for (int k = 0; k < 3; ++k)
            owner.remove(qMakePair(t[k], t[(k + 1) % 3]));
    };
    for (int i = 0; i < triangles.size(); ++i)
        enter(i);
    for (int round = 0; !flats.isEmpty(); ++round) {
        if (round > 4 * triangles.size() + 4)
            return false;
        const int flat = flats.takeLast();
        const GridTriangle t = triangles.at(flat);
        if (frame.side(t) > 0 && fine(t))
            continue;
        // The corner across the longest edge: between the other two when
        // they are collinear.
        int middle = -1;
        double longest = -1.0;
        for (int k = 0; k < 3; ++k) {
            const GridPoint &a = t[(k + 2) % 3], &c = t[(k + 1) % 3];
            const double dx = c.x - a.x, dy = c.y - a.y, dz = frame.warped ? frame.height(c) - frame.height(a) : double(c.z - a.z);
            const double length = dx * dx + dy * dy + dz * dz;
            if (length > longest) {
                longest = length;
                middle = k;
            }
        }
        // t = (a, b, c) with b in the middle: the neighbour holds a -> c.
        const GridPoint a = t[(middle + 2) % 3], b = t[middle], c = t[(middle + 1) % 3];
        const auto it = owner.constFind(qMakePair(a, c));
        if (it == owner.cend() || it.value() == flat)
            return false;
        const int neighbour = it.value();
        const GridTriangle &u = triangles.at(neighbour);
        GridPoint d;
        for (int k = 0; k < 3; ++k) {
            if (u[k] == a && u[(k + 1) % 3] == c)
                d = u[(k + 2) % 3];
        }
        leave(flat);
        leave(neighbour);
        triangles[neighbour] = {a, b, d};
        triangles[flat] = {b, c, d};
        enter(flat);
        enter(neighbour);
        for (int i : {neighbour, flat}) {
            const int s = frame.side(triangles.at(i));
            if (s < 0)
                return false;
            if (s == 0 || !fine(triangles.at(i)))
                flats.append(i);
        }
    }
    return true;
}

// The polygon cut into triangles on the grid, where its plane is exact.
// False when no tiling was found.
template<typename Fine>
bool gridTriangles(const GridPolygon &polygon, const Frame &frame, Fine fine, Tessellator &tessellator,
                   QVector<GridTriangle> *triangles)
{
    triangles->clear();
    if (polygon.contours.size() == 1 && polygon.contours.first().size() <= 4) {
        const QVector<GridPoint> &p = polygon.contours.first();
        if (p.size() == 3) {
            triangles->append({p[0], p[1], p[2]});
        } else if (p.size() == 4) {
            // The diagonal p0-p2 where both halves have area, else p1-p3.
            const GridTriangle t[4] = {{p[2], p[3], p[0]}, {p[0], p[1], p[2]}, {p[3], p[0], p[1]}, {p[1], p[2], p[3]}};
            const int k = frame.side(t[0]) > 0 && frame.side(t[1]) > 0 ? 0 : 2;
            *triangles << t[k] << t[k + 1];
        }
        return !triangles->isEmpty() && tiles(*triangles, polygon, frame);
    }
    // Grid coordinates are small integers: GLU sees them exactly. Every
    // corner it hands back is one of the inputs (combined vertices snap to
    // them), found again by its place in the input.
    QVector<GridPoint> points;
    for (const QVector<GridPoint> &contour : polygon.contours)
        points += contour;
    QVector<double> xyz;
    xyz.reserve(3 * points.size());
    for (const GridPoint &p : points)
        xyz << p.x << p.y << (frame.warped ? frame.height(p) : double(p.z));
    const double n[3] = {double(frame.normal.x), double(frame.normal.y), double(frame.normal.z)};
    tessellator.beginPolygon(Tessellator::Double3D, n);
    int from = 0;
    for (const QVector<GridPoint> &contour : polygon.contours) {
        tessellator.addContour(xyz.constData() + 3 * from, contour.size());
        from += contour.size();
    }
    const bool ok = tessellator.endPolygon();
    if (ok) {
        // Corners back to grid points by their coordinates: equal
        // coordinates are the same grid point.
        QHash<QPair<double, QPair<double, double>>, GridPoint> lookup;
        for (int i = 0; i < points.size(); ++i)
            lookup.insert(qMakePair(xyz.at(3 * i), qMakePair(xyz.at(3 * i + 1), xyz.at(3 * i + 2))), points.at(i));
        bool found = true;
        for (const QVector<double> *strip : tessellator.polygons3Dd()) {
            for (int i = 0; found && i + 8 < strip->size(); i += 9) {
                GridTriangle t;
                for (int k = 0; k < 3 && found; ++k) {
                    const double *v = strip->constData() + i + 3 * k;
                    const auto it = lookup.constFind(qMakePair(v[0], qMakePair(v[1], v[2])));
                    found = it != lookup.cend();
                    if (found)
                        t[size_t(k)] = it.value();
                }
                // Two snapped corners on one point: no area and no edge.
                if (found && !(t[0] == t[1] || t[1] == t[2] || t[2] == t[0]))
                    triangles->append(t);
            }
        }
        if (!found)
            triangles->clear();
    }
    tessellator.clear();
    return ok && !triangles->isEmpty() && removeFlat(*triangles, frame, fine) && tiles(*triangles, polygon, frame);
}

} // namespace

QVector<Facet> MarchingCubesTessellator::polygonFacets(const QVector<GridFacet> &grid, const GridPolygon &polygon,
                                                       const GridMapping &mapping, bool merge,
                                                       Tessellator &tessellator)
{
    if (!merge || polygon.contours.isEmpty() || polygon.facets.size() < 2)
        return gridFacets(grid, polygon, mapping);
    int low = INT_MAX, high = INT_MIN;
    for (const QVector<GridPoint> &contour : polygon.contours) {
        for (const GridPoint &p : contour) {
            low = std::min(low, int(p.z));
            high = std::max(high, int(p.z));
        }
    }
    const GridFacet &first = grid.at(polygon.facets.first());
    Frame frame;
    frame.mapping = &mapping;
    frame.normal = gridCross(first.a, first.b, first.c);
    const bool vertical = frame.normal.z == 0;
    frame.warped = vertical && !mapping.evenGaps(low, high);
    if (frame.warped)
        frame.unit = double(mapping.zTable.last() - mapping.zTable.first()) / double(mapping.zTable.size() - 1);
    // Seen from above, a triangle keeps its side and its area through any
    // layer gaps: that is what a slanted or horizontal polygon's facets are
    // held to. A vertical one's keep their side within the plane.
    const Point3Df expected = vertical ? mmNormal(mapping, polygon.normal, low)
                                       : Point3Df(0.0f, 0.0f, polygon.normal[2] > 0.0f ? 1.0f : -1.0f);
    QVector<GridTriangle> triangles;
    QVector<Facet> facets;
    // A triangle that keeps an area and its side once in millimetres.
    auto fine = [&mapping, &expected](const GridTriangle &t) {
        Facet f;
        const Point3Df a = mapping.map(t[0]), b = mapping.map(t[1]), c = mapping.map(t[2]);
        return mapping.mirrored ? mmFacet(a, c, b, expected, &f) : mmFacet(a, b, c, expected, &f);
    };
    if (gridTriangles(polygon, frame, fine, tessellator, &triangles) && toMillimetres(triangles, mapping, expected, &facets))
        return facets;
    // Straight edges between far points of a skewed vertical polygon can
    // cross; the cut on the grid itself still tiles it, and mostly keeps its
    // sides in millimetres too.
    if (frame.warped) {
        frame.warped = false;
        if (gridTriangles(polygon, frame, fine, tessellator, &triangles)
            && toMillimetres(triangles, mapping, expected, &facets))
            return facets;
    }
    return gridFacets(grid, polygon, mapping);
}

void MarchingCubesTessellator::run()
{
    if (d->cancelRequested())
        return;
    Tessellator tessellator(Tessellator::WindingPositive);
    // Points where GLU joins vertices stay input points, so every triangle
    // corner is a grid point.
    tessellator.setSnapCombined(true);
    // Blank layers close every stack, and the image border every layer.
    const QList<GridPolygon> polygons = groupPolygons(*surface, group, regionOf, true, &d->mapping, &d->cancelled);
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
