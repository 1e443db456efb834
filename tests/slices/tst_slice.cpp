#include "slice.h"
#include "slctestutil.h"

#include <QVector3D>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <cstring>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

using slctest::square;

namespace {

// A counter-clockwise square of the given area at x, so that every contour of
// a fixture can be told apart by its points.
Contour squareOfArea(double area, float x = 0)
{
    const float side = float(std::sqrt(std::fabs(area)));
    Contour c(square(x, 0, x + side, side));
    if (area < 0)
        c.reverse();
    return c;
}

quint32 bits(float f)
{
    quint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

bool isEmptyBox(const geom::Bounds2Df &b)
{
    return b.minX == FLT_MAX && b.minY == FLT_MAX && b.maxX == -FLT_MAX && b.maxY == -FLT_MAX;
}

// Top-level contours A (2 children), B (none), E (1 child): flat order
// A, A0, A1, B, E, E0.
struct GroupedFixture
{
    Contour a, a0, a1, b, e, e0;
    QVector<Contour> contours;

    GroupedFixture()
        : a(square(0, 0, 10, 10))
        , a0(Points{{1, 1}, {1, 2}, {2, 2}, {2, 1}})
        , a1(Points{{3, 3}, {3, 5}, {5, 5}, {5, 3}})
        , b(square(20, 0, 23, 3))
        , e(square(30, 0, 32, 2))
        , e0(Points{{30.5f, 0.5f}, {30.5f, 1}, {31, 1}, {31, 0.5f}})
    {
        Contour outerA = a;
        outerA.addChild(a0);
        outerA.addChild(a1);
        Contour outerE = e;
        outerE.addChild(e0);
        contours = {outerA, b, outerE};
    }

    QVector<Points> flat() const
    {
        return {a.points(), a0.points(), a1.points(), b.points(), e.points(), e0.points()};
    }
};

QMap<int, int> groupMap(std::initializer_list<std::pair<int, int>> entries)
{
    QMap<int, int> map;
    for (const auto &e : entries)
        map.insert(e.first, e.second);
    return map;
}

} // namespace

class TestSlice : public QObject
{
    Q_OBJECT

private slots:
    void initialStates();
    void emptySlice();
    void flatIndexWalk();
    void groupedIndexWalk();
    void addContourBuildsGroups();
    void formatFromNesting();
    void hierarchyCountsTopLevelOnly();
    void copiesShareContours();
    void emptySlicesStayApart();
    void copiesStayApart();
    void totals();
    void groupedTotals();
    void cachesFollowEdits();
    void sortByArea_data();
    void sortByArea();
    void sortByAreaRebuildsGroups();
    void reduce();
    void snapToGrid();
    void translate();
    void translateByVector();
};

void TestSlice::initialStates()
{
    const Slice end;
    QCOMPARE(bits(end.z()), 0x7FA00000u);
    QCOMPARE(end.thickness(), 0.0f);
    QVERIFY(end.contours().isEmpty());
    QCOMPARE(end.format(), 0);
    QVERIFY(end.groups().isEmpty());
    QVERIFY(end.isDirty());

    const Slice layer(2.5f);
    QCOMPARE(layer.z(), 2.5f);
    QCOMPARE(bits(layer.thickness()), 0x7FA00000u);

    Slice s(1.0f, 0.5f);
    s.setZ(3.0f);
    s.setThickness(0.25f);
    QCOMPARE(s.z(), 3.0f);
    QCOMPARE(s.thickness(), 0.25f);
}

void TestSlice::emptySlice()
{
    const Slice s(1.0f, 0.1f);
    QCOMPARE(s.contourCount(), 0);
    QCOMPARE(s.area(), 0.0);
    QCOMPARE(s.length(), 0.0);
    QVERIFY(isEmptyBox(s.boundingRect()));
    QCOMPARE(s.vertexCount(), 0);
    QVERIFY(!s.isDirty());
    // Nothing to return: a clean empty contour rather than a crash.
    QVERIFY(s.contourAt(0).points().isEmpty());
    QVERIFY(s.contourAt(-1).isEmpty());
    QCOMPARE(s.contourAt(5).area(), 0.0);
}

void TestSlice::flatIndexWalk()
{
    const Slice s(0.0f, 0.1f, {squareOfArea(1, 0), squareOfArea(4, 10), squareOfArea(9, 20)});
    QCOMPARE(s.format(), 0);
    QCOMPARE(s.contourCount(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(s.contourAt(i).points(), s.contours().at(i).points());
    QCOMPARE(s.contourAt(-3).points(), s.contours().first().points());
    QCOMPARE(s.contourAt(7).points(), s.contours().last().points());
}

void TestSlice::groupedIndexWalk()
{
    const GroupedFixture f;
    const Slice s(1.0f, 0.1f, f.contours);
    QCOMPARE(s.format(), 2);
    QCOMPARE(s.groups(), groupMap({{2, 0}, {3, 1}, {5, 2}}));
    QCOMPARE(s.contourCount(), 6);
    const QVector<Points> flat = f.flat();
    for (int i = 0; i < flat.size(); ++i)
        QCOMPARE(s.contourAt(i).points(), flat.at(i));
    QCOMPARE(s.contourAt(-3).points(), f.a.points());
    QCOMPARE(s.contourAt(9).points(), f.e.points());
}

// Adding contours one at a time must end where building from the whole list
// ends, whatever order the nesting shows up in.
void TestSlice::addContourBuildsGroups()
{
    const GroupedFixture f;
    Slice added(1.0f);
    for (const Contour &c : f.contours)
        added.addContour(c);
    QCOMPARE(added.format(), 2);
    QCOMPARE(added.groups(), groupMap({{2, 0}, {3, 1}, {5, 2}}));
    QCOMPARE(added.contourCount(), 6);

    // Flat first, nested later: the earlier contours get their groups too.
    Slice late(1.0f);
    late.addContour(f.b);
    late.addContour(Contour(f.b));
    late.addContour(f.contours.at(0));
    QCOMPARE(late.format(), 2);
    QCOMPARE(late.groups(), groupMap({{0, 0}, {1, 1}, {4, 2}}));
    QCOMPARE(late.contourCount(), 5);
    QCOMPARE(late.contourAt(3).points(), f.a0.points());

    // A grandchild makes it a hierarchy.
    Contour deep = f.contours.at(0);
    Contour child = f.b;
    child.addChild(f.e);
    deep.addChild(child);
    late.addContour(deep);
    QCOMPARE(late.format(), 1);

    // Moving a contour in adopts its vertices.
    Points points = square(0, 0, 1, 1);
    const Point2Df *storage = points.constData();
    Slice moved(0.0f);
    moved.addContour(Contour(std::move(points)));
    QCOMPARE(moved.contours().at(0).points().constData(), storage);
}

void TestSlice::formatFromNesting()
{
    // The second contour has one child: grouped, groups {0 -> 0, 2 -> 1}.
    Contour withChild = squareOfArea(4, 10);
    withChild.addChild(squareOfArea(-1, 10));
    const Slice grouped(0.0f, 0.1f, {squareOfArea(1), withChild});
    QCOMPARE(grouped.format(), 2);
    QCOMPARE(grouped.groups(), groupMap({{0, 0}, {2, 1}}));
    const Slice copy(grouped);
    QCOMPARE(copy.format(), 2);
    QCOMPARE(copy.groups(), grouped.groups());

    // A child with a child of its own: hierarchy; no group map is made.
    Contour nested = squareOfArea(16);
    Contour hole = squareOfArea(-4);
    hole.addChild(squareOfArea(1));
    nested.addChild(hole);
    const Slice hierarchy(0.0f, 0.1f, {squareOfArea(1, 30), nested});
    QCOMPARE(hierarchy.format(), 1);
    QVERIFY(hierarchy.groups().isEmpty());
    QCOMPARE(Slice(hierarchy).format(), 1);

    Slice assigned;
    assigned = grouped;
    QCOMPARE(assigned.format(), 2);
    QCOMPARE(assigned.contourCount(), 3);
}

void TestSlice::hierarchyCountsTopLevelOnly()
{
    Contour nested = squareOfArea(16);
    Contour hole = squareOfArea(-4);
    hole.addChild(squareOfArea(1));
    nested.addChild(hole);
    const Slice s(0.0f, 0.1f, {squareOfArea(1, 30), nested});
    QCOMPARE(s.contourCount(), 2);
    QCOMPARE(s.contourAt(1).points(), nested.points());
    QCOMPARE(s.vertexCount(), 8);
    QCOMPARE(s.area(), 17.0);
}

void TestSlice::copiesShareContours()
{
    Slice original(0.0f, 0.1f, {squareOfArea(4)});
    QCOMPARE(original.area(), 4.0);
    Slice copy(original);
    QCOMPARE(copy.contours().constData(), original.contours().constData());
    QVERIFY(!copy.isDirty());

    copy.translate(5, 0, 0);
    QCOMPARE(copy.boundingRect().minX, 5.0f);
    QCOMPARE(original.boundingRect().minX, 0.0f);
    QCOMPARE(original.contours().at(0).points(), square(0, 0, 2, 2));
}

// Slices without contours share what they hold: an edit or an update of one of them is no
// edit or update of the others.
void TestSlice::emptySlicesStayApart()
{
    Slice updated(1.0f, 0.1f);
    updated.update();
    QVERIFY(!updated.isDirty());
    QVERIFY(Slice(2.0f, 0.1f).isDirty());
    QVERIFY(Slice().isDirty());

    Slice copy(updated);
    copy.addContour(squareOfArea(4));
    QCOMPARE(copy.area(), 4.0);
    QCOMPARE(updated.contourCount(), 0);
    QVERIFY(updated.contours().isEmpty());
    QCOMPARE(updated.vertexCount(), 0);
    QVERIFY(!updated.isDirty());
    const Slice fresh(3.0f, 0.1f);
    QVERIFY(fresh.contours().isEmpty());
    QVERIFY(fresh.isDirty());
    QCOMPARE(fresh.vertexCount(), 0);

    // Made stale again, and grouped: neither reaches another empty slice.
    updated.invalidate();
    QVERIFY(updated.isDirty());
    Slice grouped(4.0f, 0.1f);
    grouped.setFormat(2);
    QCOMPARE(grouped.format(), 2);
    QCOMPARE(Slice(5.0f, 0.1f).format(), 0);
    Slice other(6.0f, 0.1f);
    other.update();
    QVERIFY(!other.isDirty());
    QVERIFY(!Slice(other).isDirty());
}

// Copies share contours, groups and totals until one of them changes: the change is its own.
void TestSlice::copiesStayApart()
{
    const GroupedFixture f;
    Slice original(1.0f, 0.1f, f.contours);
    const double area = original.area();
    QCOMPARE(original.format(), 2);

    Slice invalidated(original);
    invalidated.invalidate();
    QVERIFY(invalidated.isDirty());
    QVERIFY(!original.isDirty());

    Slice flattened(original);
    flattened.setFormat(0);
    QCOMPARE(flattened.format(), 0);
    QVERIFY(flattened.groups().isEmpty());
    QCOMPARE(flattened.contourCount(), 6);
    QCOMPARE(original.format(), 2);
    QCOMPARE(original.groups(), groupMap({{2, 0}, {3, 1}, {5, 2}}));
    QCOMPARE(original.contourAt(4).points(), f.e.points());

    Slice assigned;
    assigned = original;
    assigned.snapToGrid(1.0);
    assigned.translate(10, 0, 0);
    QCOMPARE(assigned.boundingRect().minX, 10.0f);
    QCOMPARE(original.boundingRect().minX, 0.0f);
    QCOMPARE(original.area(), area);
    QVERIFY(!original.isDirty());

    // A copy taken before the caches were brought up to date shares them once they are.
    Slice stale(1.0f, 0.1f, {squareOfArea(4), squareOfArea(1, 10)});
    const Slice sharer(stale);
    QCOMPARE(stale.area(), 5.0);
    QVERIFY(!sharer.isDirty());
    QCOMPARE(sharer.vertexCount(), 8);
    stale.sortByArea(true);
    QCOMPARE(stale.contours().at(0).area(), 1.0);
    QCOMPARE(sharer.contours().at(0).area(), 4.0);
}

void TestSlice::totals()
{
    Slice s(0.0f, 0.1f, {squareOfArea(4, 0), squareOfArea(-1, 10), Contour(Points{{50, 50}, {53, 54}})});
    QVERIFY(s.isDirty());
    QCOMPARE(s.area(), 3.0);
    QCOMPARE(s.length(), 8.0 + 4.0 + 10.0);
    QCOMPARE(s.vertexCount(), 10);
    // The two-point contour has no box and adds nothing to the slice's.
    const geom::Bounds2Df box = s.boundingRect();
    QCOMPARE(box.minX, 0.0f);
    QCOMPARE(box.minY, 0.0f);
    QCOMPARE(box.maxX, 11.0f);
    QCOMPARE(box.maxY, 2.0f);
    QVERIFY(!s.isDirty());
}

void TestSlice::groupedTotals()
{
    const GroupedFixture f;
    const Slice s(1.0f, 0.1f, f.contours);
    // Outer contours count positive, the clockwise holes negative.
    QCOMPARE(s.area(), 100.0 - 1.0 - 4.0 + 9.0 + 4.0 - 0.25);
    QCOMPARE(s.vertexCount(), 24);
    QCOMPARE(s.length(), 40.0 + 4.0 + 8.0 + 12.0 + 8.0 + 2.0);
    QCOMPARE(s.boundingRect().maxX, 32.0f);
}

void TestSlice::cachesFollowEdits()
{
    Slice s(0.0f, 0.1f, {squareOfArea(4)});
    QCOMPARE(s.area(), 4.0);
    s.addContour(squareOfArea(9, 10));
    QVERIFY(s.isDirty());
    QCOMPARE(s.area(), 13.0);
    QCOMPARE(s.vertexCount(), 8);
    QCOMPARE(s.boundingRect().maxX, 13.0f);

    s.invalidate();
    QVERIFY(s.isDirty());
    QCOMPARE(s.area(), 13.0);
}

void TestSlice::sortByArea_data()
{
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QVector<double>>("expected");

    QTest::newRow("descending") << false << QVector<double>{-9, 4, 1};
    QTest::newRow("ascending") << true << QVector<double>{1, 4, -9};
}

void TestSlice::sortByArea()
{
    QFETCH(bool, ascending);
    QFETCH(QVector<double>, expected);

    Slice s(0.0f, 0.1f, {squareOfArea(4, 0), squareOfArea(-9, 10), squareOfArea(1, 20)});
    const double area = s.area();
    s.sortByArea(ascending);
    QVector<double> areas;
    for (const Contour &c : s.contours())
        areas.append(c.area());
    QCOMPARE(areas, expected);
    QVERIFY(!s.isDirty());
    QCOMPARE(s.area(), area);
}

// Sorting moves the outer contours; the group map must follow, or the flat
// walk hands out the wrong contours and miscounts.
void TestSlice::sortByAreaRebuildsGroups()
{
    GroupedFixture f;
    std::reverse(f.contours.begin(), f.contours.end()); // E (1 child), B, A (2 children)
    Slice s(1.0f, 0.1f, f.contours);
    QCOMPARE(s.groups(), groupMap({{1, 0}, {2, 1}, {5, 2}}));
    const double area = s.area();

    s.sortByArea(false); // A (100), B (9), E (4)
    QCOMPARE(s.groups(), groupMap({{2, 0}, {3, 1}, {5, 2}}));
    const QVector<Points> flat = f.flat();
    for (int i = 0; i < flat.size(); ++i)
        QCOMPARE(s.contourAt(i).points(), flat.at(i));
    s.invalidate();
    QCOMPARE(s.area(), area);
    QCOMPARE(s.vertexCount(), 24);
}

void TestSlice::reduce()
{
    Slice s(0.0f, 0.1f, {squareOfArea(4), Contour(Points{{10, 0}, {11, 0}, {12, 0}, {12, 2}, {10, 2}})});
    QCOMPARE(s.vertexCount(), 9);
    QCOMPARE(s.reduce(0.0), 1);
    QVERIFY(s.isDirty());
    QCOMPARE(s.vertexCount(), 8);
    QCOMPARE(s.area(), 8.0);

    QCOMPARE(s.reduce(0.0), 0);
    QCOMPARE(s.vertexCount(), 8);

    // Children of grouped contours are not reduced.
    Contour outer = squareOfArea(100);
    outer.addChild(Contour(Points{{1, 1}, {1, 2}, {1, 3}, {3, 3}, {3, 1}}));
    Slice grouped(0.0f, 0.1f, {outer});
    QCOMPARE(grouped.reduce(0.0), 0);
    QCOMPARE(grouped.contourAt(1).points().size(), 5);
}

void TestSlice::snapToGrid()
{
    Slice s(0.0f, 0.1f, {Contour(Points{{0.3f, 0.3f}, {2.4f, 0.4f}, {2.4f, 2.6f}, {0.4f, 2.4f}})});
    s.update();
    s.snapToGrid(1.0);
    QVERIFY(s.isDirty());
    QCOMPARE(s.contourAt(0).points(), (Points{{0.3f, 0.3f}, {2, 0}, {2, 3}, {0, 2}}));
    QCOMPARE(s.boundingRect().maxY, 3.0f);

    Slice empty(0.0f, 0.1f);
    empty.update();
    empty.snapToGrid(1.0);
    QVERIFY(empty.isDirty());
}

void TestSlice::translate()
{
    Slice s(1.0f, 0.1f, {squareOfArea(4)});
    s.update();

    s.translate(0.000005f, 0, 0);
    QCOMPARE(s.contourAt(0).points(), square(0, 0, 2, 2));
    QCOMPARE(s.z(), 1.0f);
    QVERIFY(!s.isDirty());

    s.translate(0, 0, 0.5f);
    QCOMPARE(s.z(), 1.5f);
    QCOMPARE(s.contourAt(0).points(), square(0, 0, 2, 2));
    QVERIFY(!s.isDirty());

    // Small dz rides along when the contours move.
    s.translate(1, 0, 0.000001f);
    QCOMPARE(s.contourAt(0).points(), square(1, 0, 3, 2));
    QCOMPARE(s.z(), 1.5f + 0.000001f);
    const geom::Bounds2Df box = s.boundingRect();
    QCOMPARE(box.minX, 1.0f);
    QCOMPARE(box.maxX, 3.0f);
    QCOMPARE(s.area(), 4.0);

    // Grouped: the holes move with their outer contour.
    const GroupedFixture f;
    Slice grouped(0.0f, 0.1f, f.contours);
    grouped.translate(0, -1, 0);
    QCOMPARE(grouped.contourAt(1).points().at(0), Point2Df(1, 0));
    QCOMPARE(grouped.boundingRect().minY, -1.0f);
}

void TestSlice::translateByVector()
{
    Slice s(1.0f, 0.1f, {squareOfArea(4)});
    s.translate(QVector3D(0, 0, 0.000001f));
    QCOMPARE(s.z(), 1.0f);
    s.translate(QVector3D(2, 3, 0.25f));
    QCOMPARE(s.z(), 1.25f);
    QCOMPARE(s.contourAt(0).points(), square(2, 3, 4, 5));
    s.translate(QVector3D(0, 0, -1));
    QCOMPARE(s.z(), 0.25f);
    QCOMPARE(s.contourAt(0).points(), square(2, 3, 4, 5));
}

QTEST_APPLESS_MAIN(TestSlice)
#include "tst_slice.moc"
