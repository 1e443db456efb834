#include "voxel/gridsurface.h"
#include "voxel/gridsurfaceparts.h"

#include <QtTest>

#include <algorithm>

using geom::GridFacet;
using geom::GridPoint;
using geom::GridSurface;

namespace {

GridFacet facet(GridPoint a, GridPoint b, GridPoint c)
{
    return GridFacet(a, b, c);
}

// A facet with its three vertices at x, x + 1, x + 2 on a row of its own.
GridFacet rowFacet(int x, int y)
{
    return facet(GridPoint(qint16(x), qint16(y), 0), GridPoint(qint16(x + 1), qint16(y), 0),
                 GridPoint(qint16(x), qint16(y + 1), 0));
}

GridSurface surfaceOf(const QVector<GridFacet> &facets)
{
    GridSurface s;
    for (const GridFacet &f : facets)
        s.addFacet(f);
    return s;
}

// Every index listed is valid, and every vertex of every facet lists its facet.
bool consistent(const GridSurface &s)
{
    for (auto it = s.facetsAt.cbegin(); it != s.facetsAt.cend(); ++it) {
        for (int i : it.value()) {
            if (i < 0 || i >= s.facets.size() || !s.facets.at(i).hasVertex(it.key()))
                return false;
        }
    }
    for (int i = 0; i < s.facets.size(); ++i) {
        for (int v = 0; v < 3; ++v) {
            const geom::FacetIndices set = s.facetsAtPoint(s.facets.at(i).vertex(v));
            if (std::count(set.begin(), set.end(), i) != 1)
                return false;
        }
    }
    return true;
}

// A closed tetrahedron, outward normals, scaled by k.
QVector<GridFacet> tetrahedron(int k)
{
    const GridPoint o(0, 0, 0), x(qint16(k), 0, 0), y(0, qint16(k), 0), z(0, 0, qint16(k));
    return {facet(o, y, x), facet(o, x, z), facet(o, z, y), facet(x, y, z)};
}

// The same facets in the same order (vertices compared; the normals follow).
bool sameFacets(const QVector<GridFacet> &a, const QVector<GridFacet> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](const GridFacet &f, const GridFacet &g) {
        return f.a == g.a && f.b == g.b && f.c == g.c;
    });
}

} // namespace

class TestGridSurface : public QObject
{
    Q_OBJECT

private slots:
    void pointOrder();
    void facetNormal();
    void sameTriangle();
    void volume();
    void findAndCorners();
    void firstTriangleStartsSurface();
    void triangleJoinsThreeSurfaces();
    void triangleTouchingOneSurface();
    void degenerateTriangle();
    void mergeKeepsIndices();
    void mergeListsAppendsStrangers();
    void mergeListsJoinsMatches();
    void removeSmall();
    void contains();
    void partsKeepTheirReservedBlock();
};

void TestGridSurface::pointOrder()
{
    QVERIFY(GridPoint(0, 1, 1) < GridPoint(1, 0, 2));
    QVERIFY(GridPoint(-1, 0, 0) < GridPoint(0, 0, 0));
    QVERIFY(GridPoint(5, 0, 0) < GridPoint(0, 1, 0));
    QVERIFY(!(GridPoint(1, 2, 3) < GridPoint(1, 2, 3)));
    QVERIFY(GridPoint(1, 2, 3) == GridPoint(1, 2, 3));
    QVERIFY(GridPoint(1, 2, 3) != GridPoint(1, 2, -3));
    QVERIFY(GridPoint(0, 0, -32768) < GridPoint(0, 0, 32767));
    QCOMPARE(GridPoint(), GridPoint(0, 0, 0));
}

void TestGridSurface::facetNormal()
{
    const GridFacet f = facet(GridPoint(0, 0, 0), GridPoint(2, 0, 0), GridPoint(0, 2, 0));
    QCOMPARE(f.normal[0], 0.0f);
    QCOMPARE(f.normal[1], 0.0f);
    QCOMPARE(f.normal[2], 1.0f);
    const GridFacet flat = facet(GridPoint(0, 0, 0), GridPoint(1, 1, 1), GridPoint(2, 2, 2));
    QCOMPARE(flat.normal[0], 0.0f);
    QCOMPARE(flat.normal[2], 0.0f);
}

void TestGridSurface::sameTriangle()
{
    const GridPoint p(1, 0, 0), q(0, 1, 0), r(0, 0, 1);
    QVERIFY(geom::sameTriangle(facet(p, q, r), facet(q, r, p)));
    QVERIFY(geom::sameTriangle(facet(p, q, r), facet(r, p, q)));
    QVERIFY(!geom::sameTriangle(facet(p, q, r), facet(p, r, q)));
    GridFacet other = facet(p, q, r);
    other.normal[0] = 7;
    QVERIFY(geom::sameTriangle(facet(p, q, r), other));
}

void TestGridSurface::volume()
{
    QCOMPARE(geom::surfaceVolume(GridSurface()), 0.0);
    QCOMPARE(geom::surfaceVolume(surfaceOf({rowFacet(0, 0)})), 0.0);
    // The pyramids from the first facet's vertex a: o lies on three faces, only x-y-z counts.
    const double v = geom::surfaceVolume(surfaceOf(tetrahedron(4)));
    // Height 4/sqrt(3) times the whole part of |cross| = 27 (sqrt 768 = 27.7) halved, over 3.
    QVERIFY2(std::fabs(v - 4.0 / std::sqrt(3.0) * 13.5 / 3.0) < 1e-4, qPrintable(QString::number(v)));
}

void TestGridSurface::findAndCorners()
{
    QList<GridSurface> list;
    QCOMPARE(geom::findSurface(list, GridPoint()), -1);
    QCOMPARE(geom::firstLowCorner(list), GridPoint());
    QCOMPARE(geom::firstHighCorner(list), GridPoint());
    list << surfaceOf({facet(GridPoint(3, 5, 7), GridPoint(4, 5, 7), GridPoint(3, 6, 7))})
         << surfaceOf({facet(GridPoint(9, 9, 9), GridPoint(4, 5, 7), GridPoint(3, 6, 8))});
    QCOMPARE(geom::firstLowCorner(list), GridPoint(3, 5, 7));
    QCOMPARE(geom::firstHighCorner(list), GridPoint(3, 5, 7));
    QCOMPARE(geom::findSurface(list, GridPoint(4, 5, 7)), 1);
    QCOMPARE(geom::findSurface(list, GridPoint(3, 5, 7)), 0);
    QCOMPARE(geom::findSurface(list, GridPoint(1, 1, 1)), -1);
}

void TestGridSurface::firstTriangleStartsSurface()
{
    QList<GridSurface> list;
    geom::addGridTriangle(list, rowFacet(2, 3));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().lowCorner, GridPoint(2, 3, 0));
    QCOMPARE(list.first().highCorner, GridPoint(2, 3, 0));
    QCOMPARE(list.first().order(), 3);
}

void TestGridSurface::triangleJoinsThreeSurfaces()
{
    QList<GridSurface> list;
    geom::addGridTriangle(list, rowFacet(100, 100)); // stays apart
    geom::addGridTriangle(list, rowFacet(0, 0));
    geom::addGridTriangle(list, rowFacet(10, 0));
    geom::addGridTriangle(list, rowFacet(20, 0));
    QCOMPARE(list.size(), 4);
    const GridFacet bridge = facet(GridPoint(0, 0, 0), GridPoint(10, 0, 0), GridPoint(20, 0, 0));
    geom::addGridTriangle(list, bridge);
    QCOMPARE(list.size(), 2);
    const GridSurface &joined = list.at(1);
    QCOMPARE(joined.facets.size(), 4);
    QCOMPARE(joined.facets.at(0).a, GridPoint(0, 0, 0));
    QCOMPARE(joined.facets.at(1).a, GridPoint(10, 0, 0));
    QCOMPARE(joined.facets.at(2).a, GridPoint(20, 0, 0));
    QVERIFY(geom::sameTriangle(joined.facets.at(3), bridge));
    QVERIFY(consistent(joined));
    QCOMPARE(joined.lowCorner, GridPoint(0, 0, 0));
}

void TestGridSurface::triangleTouchingOneSurface()
{
    QList<GridSurface> list;
    geom::addGridTriangle(list, rowFacet(0, 0));
    geom::addGridTriangle(list, facet(GridPoint(1, 0, 0), GridPoint(50, 0, 0), GridPoint(50, 50, 0)));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().facets.size(), 2);
    QCOMPARE(list.first().order(), 5);
    QVERIFY(consistent(list.first()));
}

void TestGridSurface::degenerateTriangle()
{
    QList<GridSurface> list;
    const GridPoint p(1, 1, 1);
    geom::addGridTriangle(list, facet(p, p, GridPoint(2, 2, 2)));
    QCOMPARE(list.first().facetsAtPoint(p).size(), 1);
    QCOMPARE(list.first().order(), 2);
}

void TestGridSurface::mergeKeepsIndices()
{
    GridSurface a = surfaceOf({rowFacet(0, 0), rowFacet(1, 0)});
    GridSurface b = surfaceOf({rowFacet(1, 0), rowFacet(5, 5)});
    a.merge(b);
    QCOMPARE(a.facets.size(), 4);
    QVERIFY(b.facets.isEmpty());
    QVERIFY(b.facetsAt.isEmpty());
    QCOMPARE(b.lowCorner, GridPoint(1, 0, 0));
    QVERIFY(consistent(a));
    QCOMPARE(a.facetsAtPoint(GridPoint(1, 0, 0)).size(), 3);
}

void TestGridSurface::mergeListsAppendsStrangers()
{
    QList<GridSurface> results{surfaceOf({rowFacet(0, 0)})};
    // The second incoming surface touches the first incoming one only: the
    // first was appended by this call and is not compared again.
    QList<GridSurface> incoming{surfaceOf({rowFacet(50, 0)}), surfaceOf({rowFacet(51, 0)})};
    geom::mergeSurfaceLists(results, incoming);
    QVERIFY(incoming.isEmpty());
    QCOMPARE(results.size(), 3);
    QCOMPARE(results.at(1).facets.first().a, GridPoint(50, 0, 0));
    QCOMPARE(results.at(2).facets.first().a, GridPoint(51, 0, 0));
}

void TestGridSurface::mergeListsJoinsMatches()
{
    QList<GridSurface> results;
    for (int i = 0; i < 6; ++i)
        results.append(surfaceOf({rowFacet(10 * i, 0)}));
    // Touches result surfaces 1 and 4.
    QList<GridSurface> incoming{surfaceOf({facet(GridPoint(10, 0, 0), GridPoint(40, 0, 0), GridPoint(0, 9, 9))})};
    geom::mergeSurfaceLists(results, incoming);
    QCOMPARE(results.size(), 5);
    const QVector<int> firstX{0, 10, 20, 30, 50};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(int(results.at(i).facets.first().a.x), firstX.at(i));
    const GridSurface &joined = results.at(1);
    QCOMPARE(joined.facets.size(), 3);
    QCOMPARE(joined.facets.at(1).a, GridPoint(10, 0, 0)); // the incoming surface first
    QCOMPARE(joined.facets.at(2).a, GridPoint(40, 0, 0)); // then surface 4
    QVERIFY(consistent(joined));
}

void TestGridSurface::removeSmall()
{
    QList<GridSurface> list{surfaceOf(tetrahedron(2)), surfaceOf(tetrahedron(8)), surfaceOf({rowFacet(0, 0)})};
    geom::removeSmallSurfaces(list, 0.0);
    QCOMPARE(list.size(), 3);
    const double small = std::fabs(geom::surfaceVolume(list.at(0)));
    geom::removeSmallSurfaces(list, -(small + 0.001));
    QCOMPARE(list.size(), 1);
    QCOMPARE(list.first().facets.first().b, GridPoint(0, 8, 0));
}

void TestGridSurface::contains()
{
    QVERIFY(!GridSurface().contains(rowFacet(0, 0)));
    const GridSurface s = surfaceOf(tetrahedron(3));
    const GridFacet f = tetrahedron(3).at(3);
    QVERIFY(s.contains(f));
    QVERIFY(s.contains(facet(f.c, f.b, f.a)));
    QVERIFY(s.contains(facet(GridPoint(0, 0, 0), GridPoint(3, 0, 0), GridPoint(0, 0, 0))));
    QVERIFY(!s.contains(facet(GridPoint(0, 0, 0), GridPoint(3, 0, 0), GridPoint(9, 9, 9))));
}

// Pieces appended into room reserved for all of them go into that one
// block, in order and with their indices shifted; without a reservation the
// first piece is shared, not copied.
void TestGridSurface::partsKeepTheirReservedBlock()
{
    // Three pieces of two layer ranges: facets on planes 0 and 1, 1 and 2.
    QVector<GridSurface> pieces;
    QVector<GridFacet> all;
    for (int p = 0; p < 3; ++p) {
        QVector<GridFacet> facets;
        for (int i = 0; i < 50 * (p + 1); ++i)
            facets.append(facet(GridPoint(qint16(i), qint16(p), qint16(p)), GridPoint(qint16(i + 1), qint16(p), qint16(p)),
                                GridPoint(qint16(i), qint16(p), qint16(p + 1))));
        pieces.append(surfaceOf(facets));
        all += facets;
    }

    geom::GridSurfaceParts reserved;
    reserved.facets.reserve(all.size());
    const GridFacet *block = reserved.facets.constData();
    for (const GridSurface &piece : pieces)
        reserved.append(piece);
    QCOMPARE(reserved.facets.constData(), block);
    QCOMPARE(reserved.facets.capacity(), all.size());
    QVERIFY(sameFacets(reserved.facets, all));
    QCOMPARE(reserved.pieceCount(), 3);
    // A point of the last piece lists the facet at its place in the whole.
    QVector<int> at;
    reserved.forEachFacetAt(GridPoint(0, 2, 3), [&at](int j) { at.append(j); });
    QCOMPARE(at, QVector<int>{150});

    geom::GridSurfaceParts shared;
    shared.append(pieces.first());
    QCOMPARE(shared.facets.constData(), pieces.first().facets.constData());
    shared.append(pieces.at(1));
    QVERIFY(sameFacets(shared.facets, all.mid(0, 150)));
}

QTEST_APPLESS_MAIN(TestGridSurface)
#include "tst_gridsurface.moc"
