#include "voxel/gridpolygon.h"

#include <QtTest>

#include <algorithm>
#include <atomic>

using geom::GridFacet;
using geom::GridPoint;
using geom::GridPolygon;
using geom::GridSurface;

namespace {

GridPoint pt(int x, int y, int z)
{
    return GridPoint(qint16(x), qint16(y), qint16(z));
}

GridSurface surfaceOf(const QVector<GridFacet> &facets)
{
    GridSurface s;
    for (const GridFacet &f : facets)
        s.addFacet(f);
    return s;
}

// The closed surface of a set of unit voxels (x, y, z): two triangles per
// face between a voxel and an empty neighbour, wound outwards.
GridSurface voxelSurface(const QVector<GridPoint> &voxels)
{
    QVector<GridFacet> facets;
    auto solid = [&](int x, int y, int z) { return voxels.contains(pt(x, y, z)); };
    for (const GridPoint &v : voxels) {
        for (int axis = 0; axis < 3; ++axis) {
            for (int sign : {-1, 1}) {
                int n[3] = {0, 0, 0};
                n[axis] = sign;
                if (solid(v.x + n[0], v.y + n[1], v.z + n[2]))
                    continue;
                // u, v span the face so that u x v points along the outward normal.
                int u[3] = {0, 0, 0}, w[3] = {0, 0, 0};
                u[(axis + 1) % 3] = 1;
                w[(axis + 2) % 3] = 1;
                int o[3] = {v.x, v.y, v.z};
                if (sign > 0)
                    o[axis] += 1;
                else
                    std::swap(u, w);
                auto corner = [&](int a, int b) {
                    return pt(o[0] + a * u[0] + b * w[0], o[1] + a * u[1] + b * w[1], o[2] + a * u[2] + b * w[2]);
                };
                facets << GridFacet(corner(0, 0), corner(1, 0), corner(1, 1))
                       << GridFacet(corner(0, 0), corner(1, 1), corner(0, 1));
            }
        }
    }
    return surfaceOf(facets);
}

QVector<GridPoint> box(int x0, int y0, int z0, int x1, int y1, int z1)
{
    QVector<GridPoint> voxels;
    for (int z = z0; z < z1; ++z)
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                voxels.append(pt(x, y, z));
    return voxels;
}

// Every facet stands in exactly one polygon, and the polygons come in the
// order of their first facets.
void checkCover(const GridSurface &surface, const QList<GridPolygon> &polygons)
{
    QVector<int> seen(surface.facets.size(), 0);
    int order = -1;
    for (const GridPolygon &p : polygons) {
        QVERIFY(p.order >= order);
        order = p.order;
        for (int f : p.facets)
            ++seen[f];
    }
    QVERIFY(std::all_of(seen.cbegin(), seen.cend(), [](int n) { return n == 1; }));
}

QVector<GridPoint> sortedPoints(QVector<GridPoint> points)
{
    std::sort(points.begin(), points.end());
    return points;
}

} // namespace

class TestGridPolygon : public QObject
{
    Q_OBJECT

private slots:
    void oneFacet();
    void openPatchFallsBackToFacets();
    void boxFaces();
    void patchWithHole();
    void normalsDecideRegions();
    void threePatchesKeepTheirPoint();
    void groupsGiveTheSamePolygons();
    void setFlagLeavesTheGroupsAlone();
};

void TestGridPolygon::oneFacet()
{
    const GridFacet f(pt(0, 0, 0), pt(2, 0, 0), pt(0, 2, 0));
    const QList<GridPolygon> polygons = geom::surfacePolygons(surfaceOf({f}));
    QCOMPARE(polygons.size(), 1);
    QCOMPARE(polygons.first().contours, (QList<QVector<GridPoint>>{{f.a, f.b, f.c}}));
    QCOMPARE(polygons.first().normal[2], 1.0f);
}

void TestGridPolygon::openPatchFallsBackToFacets()
{
    QVector<GridFacet> facets;
    for (int x = 0; x < 3; ++x)
        facets << GridFacet(pt(x, 0, 0), pt(x + 1, 0, 0), pt(x + 1, 1, 0)) << GridFacet(pt(x, 0, 0), pt(x + 1, 1, 0), pt(x, 1, 0));
    const GridSurface s = surfaceOf(facets);
    QCOMPARE(geom::coplanarRegion(s, 3).size(), 6);
    QVERIFY(geom::chainContours(s, geom::coplanarRegion(s, 0)).isEmpty());
    const QList<GridPolygon> polygons = geom::surfacePolygons(s);
    QCOMPARE(polygons.size(), 6);
    checkCover(s, polygons);
    for (const GridPolygon &p : polygons)
        QCOMPARE(p.contours.first().size(), 3);
}

void TestGridPolygon::boxFaces()
{
    const GridSurface s = voxelSurface(box(0, 0, 0, 3, 2, 1));
    const QList<GridPolygon> polygons = geom::surfacePolygons(s);
    QCOMPARE(polygons.size(), 6);
    checkCover(s, polygons);
    for (const GridPolygon &p : polygons) {
        QCOMPARE(p.contours.size(), 1);
        // Only the face's corners stay.
        QCOMPARE(p.contours.first().size(), 4);
        for (const GridPoint &c : p.contours.first())
            QVERIFY((c.x == 0 || c.x == 3) && (c.y == 0 || c.y == 2) && (c.z == 0 || c.z == 1));
    }
}

void TestGridPolygon::patchWithHole()
{
    QVector<GridPoint> voxels = box(0, 0, 0, 3, 3, 1);
    voxels.append(pt(1, 1, 1));
    const GridSurface s = voxelSurface(voxels);
    const QList<GridPolygon> polygons = geom::surfacePolygons(s);
    checkCover(s, polygons);
    int holes = 0;
    for (const GridPolygon &p : polygons) {
        if (p.normal[2] == 1.0f && p.contours.size() == 2) {
            ++holes;
            QCOMPARE(sortedPoints(p.contours.at(0)).size() + sortedPoints(p.contours.at(1)).size(), 8);
        }
    }
    QCOMPARE(holes, 1);
    QCOMPARE(polygons.size(), 6 + 5);
}

void TestGridPolygon::normalsDecideRegions()
{
    GridFacet a(pt(0, 0, 0), pt(1, 0, 0), pt(1, 1, 0));
    GridFacet b(pt(0, 0, 0), pt(1, 1, 0), pt(0, 1, 0));
    b.normal[0] = -0.0f; // equal to 0
    QCOMPARE(geom::coplanarRegion(surfaceOf({a, b}), 0).size(), 2);
    b.normal[2] = std::nextafter(1.0f, 0.0f);
    QCOMPARE(geom::coplanarRegion(surfaceOf({a, b}), 0).size(), 1);
    a.normal[0] = b.normal[0] = std::nanf("");
    QCOMPARE(geom::coplanarRegion(surfaceOf({a, b}), 1).size(), 1);
    GridFacet z1 = a, z2 = b;
    std::fill(z1.normal, z1.normal + 3, 0.0f);
    std::fill(z2.normal, z2.normal + 3, 0.0f);
    QCOMPARE(geom::coplanarRegion(surfaceOf({z1, z2, a}), 0).size(), 2);
}

// A closed solid whose bottom edge O-R runs straight through M, where the
// bottom meets three front faces of different normals: M must stay a corner
// of the bottom polygon, or the front faces' vertex M would sit in the
// middle of the bottom's edge (a T-junction).
void TestGridPolygon::threePatchesKeepTheirPoint()
{
    const GridPoint o = pt(0, 0, 0), m = pt(2, 0, 0), r = pt(4, 0, 0), s = pt(4, 4, 0), t = pt(0, 4, 0);
    const GridPoint p = pt(1, 1, 2), q = pt(3, 1, 3), u = pt(2, 3, 4);
    const QVector<GridFacet> facets{GridFacet(o, t, m), GridFacet(m, t, s), GridFacet(m, s, r), GridFacet(o, m, p),
                                    GridFacet(m, r, q), GridFacet(m, q, p), GridFacet(o, p, u), GridFacet(p, q, u),
                                    GridFacet(q, r, u), GridFacet(r, s, u), GridFacet(s, t, u), GridFacet(t, o, u)};
    // Every chain start: the first key of the boundary map decides it, so
    // the solid is moved about to change which point comes first.
    for (int shift = 0; shift < 5; ++shift) {
        QVector<GridFacet> moved;
        for (const GridFacet &f : facets) {
            auto mv = [&](const GridPoint &g) { return pt(g.x - shift, g.y + (shift % 2 ? 4 - 2 * g.y : 0), g.z); };
            moved.append(shift % 2 ? GridFacet(mv(f.a), mv(f.c), mv(f.b)) : GridFacet(mv(f.a), mv(f.b), mv(f.c)));
        }
        const GridSurface surface = surfaceOf(moved);
        const QList<GridPolygon> polygons = geom::surfacePolygons(surface);
        checkCover(surface, polygons);
        QCOMPARE(polygons.first().facets, (QVector<int>{0, 1, 2}));
        QCOMPARE(polygons.first().contours.size(), 1);
        QCOMPARE(polygons.first().contours.first().size(), 5);
    }
}

void TestGridPolygon::groupsGiveTheSamePolygons()
{
    QVector<GridPoint> voxels = box(0, 0, 0, 4, 4, 2);
    voxels << pt(1, 1, 2) << pt(2, 1, 2) << pt(0, 3, 2) << pt(3, 0, 2);
    const GridSurface s = voxelSurface(voxels);
    const QList<GridPolygon> whole = geom::surfacePolygons(s);
    QVector<int> regionOf(s.facets.size(), -1);
    QList<GridPolygon> parts;
    const QVector<QVector<int>> groups = geom::normalGroups(s);
    QCOMPARE(groups.size(), 6);
    // Any order of the groups.
    for (int g = groups.size() - 1; g >= 0; --g)
        parts += geom::groupPolygons(s, groups.at(g), regionOf.data());
    std::stable_sort(parts.begin(), parts.end(), [](const GridPolygon &a, const GridPolygon &b) { return a.order < b.order; });
    QCOMPARE(parts.size(), whole.size());
    for (int i = 0; i < whole.size(); ++i) {
        QCOMPARE(parts.at(i).facets, whole.at(i).facets);
        QCOMPARE(parts.at(i).contours, whole.at(i).contours);
    }
    QCOMPARE(geom::allSurfacePolygons({s, s}).size(), 2);
}

// A cancel that came first: the groups and their patches are not made, and
// no facet is claimed for a patch (the claims are shared with the other
// groups' jobs).
void TestGridPolygon::setFlagLeavesTheGroupsAlone()
{
    const GridSurface s = voxelSurface(box(0, 0, 0, 3, 3, 3));
    std::atomic<bool> cancel{true};
    QVERIFY(geom::normalGroups(s.facets, &cancel).isEmpty());
    QVector<int> regionOf(s.facets.size(), -1);
    for (const QVector<int> &group : geom::normalGroups(s)) {
        QVERIFY(geom::groupPolygons(s, group, regionOf.data(), true, nullptr, &cancel).isEmpty());
        QVERIFY(std::all_of(regionOf.cbegin(), regionOf.cend(), [](int r) { return r == -1; }));
    }
}

QTEST_APPLESS_MAIN(TestGridPolygon)
#include "tst_gridpolygon.moc"
