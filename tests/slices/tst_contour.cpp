#include "contour.h"
#include "slctestutil.h"

#include <QtTest>

#include <utility>

#include <cfloat>
#include <cmath>
#include <cstring>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(Points)

using slctest::square;
using slctest::reversed;

namespace {

// The box update() must arrive at for these points.
geom::Bounds2Df freshBox(const Points &points)
{
    return Contour(points).boundingRect();
}

bool sameBox(const geom::Bounds2Df &a, const geom::Bounds2Df &b)
{
    return a.minX == b.minX && a.minY == b.minY && a.maxX == b.maxX && a.maxY == b.maxY;
}

bool isEmptyBox(const geom::Bounds2Df &b)
{
    return b.minX == FLT_MAX && b.minY == FLT_MAX && b.maxX == -FLT_MAX && b.maxY == -FLT_MAX;
}

} // namespace

class TestContour : public QObject
{
    Q_OBJECT

private slots:
    void newContour();
    void construction();
    void adoptsVertexArray();
    void boxConstructor();
    void measures_data();
    void measures();
    void areaIsAccumulatedInDouble();
    void measuresEdgeByEdge_data();
    void measuresEdgeByEdge();
    void center();
    void copiesShareAndDetach();
    void children();
    void staleChildKeepsParentDirty();
    void copiesAndMovesCarryChildrenAndState();
    void translate();
    void translateDegenerateBox();
    void mirror_data();
    void mirror();
    void mirrorKeepsCachesExact_data();
    void mirrorKeepsCachesExact();
    void reverseAndClear();
    void pointSet();
    void appendInvalidates();
    void snapToGrid();
    void simplify();
    void reduce_data();
    void reduce();
    void staysSmall();
};

void TestContour::newContour()
{
    const Contour c;
    QVERIFY(c.isDirty());
    QVERIFY(c.points().isEmpty());
    QVERIFY(c.children().isEmpty());
    QVERIFY(c.isEmpty());
    QCOMPARE(c.area(), 0.0);
    QCOMPARE(c.length(), 0.0);
    QVERIFY(isEmptyBox(c.boundingRect()));
    QCOMPARE(c.center(), Point2Df(0, 0));
    QCOMPARE(c.vertexCount(), 0);
    QVERIFY(c.pointSet().empty());
    QVERIFY(!c.isDirty());
}

void TestContour::construction()
{
    Points source = square(0, 0, 1, 1);
    const Contour copied(source.constData(), source.size());
    source[0] = Point2Df(5, 5);
    QCOMPARE(copied.points(), square(0, 0, 1, 1));
    QVERIFY(copied.isDirty());

    QVERIFY(Contour(nullptr, 3).points().isEmpty());
    QVERIFY(Contour(source.constData(), -1).points().isEmpty());

    const Contour triangle(Point2Df(0, 0), Point2Df(2, 0), Point2Df(0, 2));
    QCOMPARE(triangle.points(), (Points{{0, 0}, {2, 0}, {0, 2}}));
    QCOMPARE(triangle.area(), 2.0);
}

// The reader hands each boundary over as a vector: the contour must take that
// storage instead of copying the vertices.
void TestContour::adoptsVertexArray()
{
    Points source = square(0, 0, 3, 3);
    const Point2Df *storage = source.constData();

    const Contour shared(source);
    QCOMPARE(shared.points().constData(), storage);

    const Contour moved(std::move(source));
    QCOMPARE(moved.points().constData(), storage);
    QCOMPARE(moved.area(), 9.0);
}

void TestContour::boxConstructor()
{
    const geom::Bounds2Df box(Point2Df(0, 0), Point2Df(2, 1));
    const Contour cw(box, true);
    QCOMPARE(cw.points(), (Points{{0, 0}, {0, 1}, {2, 1}, {2, 0}}));
    QCOMPARE(cw.area(), -2.0);
    const Contour ccw(box, false);
    QCOMPARE(ccw.points(), (Points{{0, 0}, {2, 0}, {2, 1}, {0, 1}}));
    QCOMPARE(ccw.area(), 2.0);
    QCOMPARE(ccw.length(), 6.0);
}

void TestContour::measures_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("area");
    QTest::addColumn<double>("length");
    QTest::addColumn<bool>("emptyBox");

    QTest::newRow("ccw unit square") << square(0, 0, 1, 1) << 1.0 << 4.0 << false;
    QTest::newRow("cw unit square") << reversed(square(0, 0, 1, 1)) << -1.0 << 4.0 << false;
    QTest::newRow("ccw 3-4-5 triangle") << Points{{0, 0}, {3, 0}, {3, 4}} << 6.0 << 12.0 << false;
    QTest::newRow("two points: there and back") << Points{{0, 0}, {3, 4}} << 0.0 << 10.0 << true;
    QTest::newRow("one point") << Points{{7, 7}} << 0.0 << 0.0 << true;
    QTest::newRow("no points") << Points() << 0.0 << 0.0 << true;
    QTest::newRow("collinear") << Points{{0, 0}, {1, 1}, {2, 2}} << 0.0 << 2.0 * std::sqrt(8.0) << false;
}

void TestContour::measures()
{
    QFETCH(Points, points);
    QFETCH(double, area);
    QFETCH(double, length);
    QFETCH(bool, emptyBox);

    const Contour c(points);
    QCOMPARE(c.area(), area);
    QCOMPARE(c.length(), length);
    QCOMPARE(c.totalArea(), area);
    QCOMPARE(c.totalLength(), length);
    QCOMPARE(c.vertexCount(), points.size());

    const geom::Bounds2Df box = c.boundingRect();
    QCOMPARE(isEmptyBox(box), emptyBox);
    if (!emptyBox) {
        geom::Bounds2Df expected;
        for (const Point2Df &p : points)
            expected.extend(p);
        QVERIFY(sameBox(box, expected));
    }
}

// Products of float coordinates near 2^24 lose their low bits in float.
void TestContour::areaIsAccumulatedInDouble()
{
    const float big = 16777216.0f;
    const Contour c(Points{{big, big}, {big + 2, big}, {big + 2, big + 2}, {big, big + 2}});
    QCOMPARE(c.area(), 4.0);
    QCOMPARE(c.length(), 8.0);
}

void TestContour::measuresEdgeByEdge_data()
{
    QTest::addColumn<Points>("points");

    // Odd and even counts, coordinates of every magnitude, repeated vertices (edges of length 0)
    // and edges too short to count (squared length at most 1e-12).
    quint32 seed = 99;
    const auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int n = 3; n <= 12; ++n) {
        for (const float scale : {1e-3f, 1.0f, 123.456f, 3e7f}) {
            Points points;
            for (int i = 0; i < n; ++i) {
                const float x = scale * (float(next() % 20001) / 10000.0f - 1.0f);
                const float y = scale * (float(next() % 20001) / 10000.0f - 1.0f);
                points.append({x, y});
            }
            points[1] = points[0];
            points[n - 1] = Point2Df(points[n - 2].x + 3e-7f, points[n - 2].y);
            QTest::addRow("%d vertices, scale %g", n, double(scale)) << points;
        }
    }
}

// Area and perimeter are the sums, in vertex order, of each edge's cross product and length as
// one edge at a time gives them, whatever way the sums are computed: bit for bit.
void TestContour::measuresEdgeByEdge()
{
    QFETCH(Points, points);

    const int n = points.size();
    double area = 0.0;
    double length = 0.0;
    for (int i = 0; i < n; ++i) {
        const Point2Df &prev = points[i == 0 ? n - 1 : i - 1];
        const Point2Df &cur = points[i];
        area += double(prev.x) * double(cur.y) - double(cur.x) * double(prev.y);
        const float dx = cur.x - prev.x;
        const float dy = cur.y - prev.y;
        const double squared = double(dx) * double(dx) + double(dy) * double(dy);
        length += squared <= 1e-12 ? 0.0 : std::sqrt(squared);
    }
    area *= 0.5;

    const Contour c(points);
    const double measuredArea = c.area();
    const double measuredLength = c.length();
    QCOMPARE(std::memcmp(&measuredArea, &area, sizeof area), 0);
    QCOMPARE(std::memcmp(&measuredLength, &length, sizeof length), 0);
}

void TestContour::center()
{
    QCOMPARE(Contour(square(1, 2, 3, 6)).center(), Point2Df(2, 4));
    // A flat box is not valid: no centre.
    QCOMPARE(Contour(Points{{1, 1}, {1, 2}, {1, 3}}).center(), Point2Df(0, 0));
}

void TestContour::copiesShareAndDetach()
{
    Contour original(square(0, 0, 2, 2));
    QCOMPARE(original.area(), 4.0);

    Contour copy(original);
    QCOMPARE(copy.points().constData(), original.points().constData());
    QVERIFY(!copy.isDirty()); // the caches travel with the copy

    copy.translate(10, 0);
    QCOMPARE(original.points(), square(0, 0, 2, 2));
    QCOMPARE(original.boundingRect().minX, 0.0f);
    QCOMPARE(copy.boundingRect().minX, 10.0f);

    Contour assigned;
    assigned = original;
    QCOMPARE(assigned.points().constData(), original.points().constData());
    assigned.reverse();
    QCOMPARE(original.area(), 4.0);
    QCOMPARE(assigned.area(), -4.0);
}

void TestContour::children()
{
    Contour outer(square(0, 0, 10, 10));
    Contour hole(reversed(square(2, 2, 4, 4)));
    hole.addChild(Contour(square(2.5f, 2.5f, 3, 3)));
    outer.addChild(hole);
    outer.addChild(Contour(Points{{5, 5}}));

    QCOMPARE(outer.children().size(), 2);
    QCOMPARE(outer.vertexCount(), 4 + 4 + 4 + 1);
    QCOMPARE(outer.area(), 100.0);
    QCOMPARE(outer.totalArea(), 100.0 - 4.0 + 0.25);
    QCOMPARE(outer.totalLength(), 40.0 + 8.0 + 2.0);
    QVERIFY(!outer.isEmpty());

    Contour onlyEmptyChildren;
    onlyEmptyChildren.addChild(Contour());
    QVERIFY(onlyEmptyChildren.isEmpty());

    // clear() keeps the children, without their points.
    outer.clear();
    QCOMPARE(outer.children().size(), 2);
    QCOMPARE(outer.children().at(0).children().size(), 1);
    QVERIFY(outer.isEmpty());
    QCOMPARE(outer.vertexCount(), 0);
    QCOMPARE(outer.totalArea(), 0.0);
    QCOMPARE(hole.vertexCount(), 8); // the child given in was a copy
}

// Children, the stale flag and the point set live apart from the vertices: copies share the
// children and carry the flag but never the set, moves take all three, assignments replace them.
void TestContour::copiesAndMovesCarryChildrenAndState()
{
    Contour outer(square(0, 0, 4, 4));
    outer.addChild(Contour(reversed(square(1, 1, 2, 2))));
    QCOMPARE(int(outer.pointSet().size()), 4);

    Contour copy(outer);
    QVERIFY(copy.isDirty());
    QCOMPARE(copy.children().constData(), outer.children().constData());
    QCOMPARE(copy.area(), 16.0);
    QVERIFY(outer.isDirty()); // the copy's caches are its own
    QCOMPARE(outer.area(), 16.0);
    QVERIFY(Contour(outer).isDirty()); // its child has not been measured yet
    QCOMPARE(outer.totalArea(), 15.0);
    QVERIFY(!Contour(outer).isDirty());

    Contour moved(std::move(copy));
    QCOMPARE(moved.children().size(), 1);
    QVERIFY(!moved.isDirty()); // its own caches came along; the shared child was measured above
    QCOMPARE(int(moved.pointSet().size()), 4);
    QCOMPARE(int(outer.pointSet().size()), 4);

    Contour target(square(0, 0, 1, 1));
    target = outer;
    QCOMPARE(target.children().size(), 1);
    QCOMPARE(target.area(), 16.0);
    target = Contour(square(0, 0, 1, 1));
    QVERIFY(target.children().isEmpty());
    QVERIFY(target.isDirty());
    QCOMPARE(target.area(), 1.0);
    target = std::move(moved);
    QCOMPARE(target.children().size(), 1);
    QCOMPARE(target.area(), 16.0);

    // Dropping the point set keeps the children, and a child's change still reaches the parent.
    outer.invalidate();
    QVERIFY(outer.isDirty());
    QCOMPARE(outer.children().size(), 1);
    QCOMPARE(outer.totalArea(), 15.0);
    outer.clearPointSet();
    QCOMPARE(outer.vertexCount(), 8);
}

void TestContour::staleChildKeepsParentDirty()
{
    Contour parent(square(0, 0, 1, 1));
    parent.addChild(Contour(square(0, 0, 1, 1)));
    parent.update();
    // update() refreshes the parent's own caches only.
    QVERIFY(parent.isDirty());
    QCOMPARE(parent.area(), 1.0);
    parent.children().at(0).update();
    QVERIFY(!parent.isDirty());
}

void TestContour::translate()
{
    Contour c(square(0, 0, 2, 1));
    c.addChild(Contour(square(0, 0, 1, 1)));
    QVERIFY(c.boundingRect().isValid());
    c.translate(1, 2);
    QCOMPARE(c.points(), square(1, 2, 3, 3));
    QCOMPARE(c.children().at(0).points(), square(1, 2, 2, 3));
    QVERIFY(sameBox(c.boundingRect(), freshBox(square(1, 2, 3, 3))));
    QCOMPARE(c.area(), 2.0);

    const Contour moved = c.translated(Point2Df(-1, -2));
    QCOMPARE(moved.points(), square(0, 0, 2, 1));
    QCOMPARE(moved.children().at(0).points(), square(0, 0, 1, 1));
    QCOMPARE(c.points(), square(1, 2, 3, 3));
}

void TestContour::translateDegenerateBox()
{
    const Points line{{0, 0}, {0, 1}, {0, 2}};
    Contour c(line);
    QVERIFY(!c.boundingRect().isValid());
    c.translate(1, 2);
    QCOMPARE(c.points(), (Points{{1, 2}, {1, 3}, {1, 4}}));
    QVERIFY(sameBox(c.boundingRect(), freshBox(c.points())));
}

void TestContour::mirror_data()
{
    QTest::addColumn<uint>("flags");
    QTest::addColumn<Points>("expected");

    // Negated, then reversed when only one axis flips.
    QTest::newRow("x") << 0x1u << Points{{-0.0f, 1}, {-1, 1}, {-1, 0}, {-0.0f, 0}};
    QTest::newRow("x by its other bit") << 0x2u << Points{{-0.0f, 1}, {-1, 1}, {-1, 0}, {-0.0f, 0}};
    QTest::newRow("y") << 0x4u << Points{{0, -1}, {1, -1}, {1, -0.0f}, {0, -0.0f}};
    QTest::newRow("x and y") << 0x5u << Points{{-0.0f, -0.0f}, {-1, -0.0f}, {-1, -1}, {-0.0f, -1}};
    QTest::newRow("z only") << 0x30u << square(0, 0, 1, 1);
}

void TestContour::mirror()
{
    QFETCH(uint, flags);
    QFETCH(Points, expected);

    Contour c(square(0, 0, 1, 1));
    c.mirror(flags);
    QCOMPARE(c.points(), expected);
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(std::signbit(c.points().at(i).x), std::signbit(expected.at(i).x));
        QCOMPARE(std::signbit(c.points().at(i).y), std::signbit(expected.at(i).y));
    }
    QCOMPARE(c.area(), 1.0);
    QVERIFY(sameBox(c.boundingRect(), freshBox(expected)));
}

// Mirroring leaves the caches clean; they must describe the mirrored points,
// whatever the shape of the box.
void TestContour::mirrorKeepsCachesExact_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<uint>("flags");

    QTest::newRow("valid box, x") << square(1, 2, 4, 3) << 0x1u;
    QTest::newRow("valid box, x and y") << square(1, 2, 4, 3) << 0xFu;
    QTest::newRow("vertical line, x") << Points{{1, 0}, {1, 1}, {1, 2}} << 0x1u;
    QTest::newRow("vertical line, y") << Points{{1, 0}, {1, 1}, {1, 3}} << 0x8u;
    QTest::newRow("horizontal line, y") << Points{{0, 5}, {1, 5}, {2, 5}} << 0x4u;
    QTest::newRow("one point") << Points{{1, 2}} << 0x5u;
}

void TestContour::mirrorKeepsCachesExact()
{
    QFETCH(Points, points);
    QFETCH(uint, flags);

    Contour c(points);
    c.addChild(Contour(points));
    const double area = c.area();
    const double length = c.length();
    c.children().at(0).update();
    QVERIFY(!c.isDirty());

    c.mirror(flags);
    QVERIFY(!c.isDirty());
    QCOMPARE(c.area(), area);
    QCOMPARE(c.length(), length);
    QVERIFY(sameBox(c.boundingRect(), freshBox(c.points())));
    QVERIFY(sameBox(c.children().at(0).boundingRect(), freshBox(c.children().at(0).points())));
    QCOMPARE(c.children().at(0).points(), c.points());
}

void TestContour::reverseAndClear()
{
    Contour c(square(0, 0, 1, 1));
    QCOMPARE(c.area(), 1.0);
    c.reverse();
    QCOMPARE(c.points(), reversed(square(0, 0, 1, 1)));
    QCOMPARE(c.area(), -1.0);

    c.clear();
    QVERIFY(c.points().isEmpty());
    QCOMPARE(c.area(), 0.0);
    QCOMPARE(c.length(), 0.0);
    QVERIFY(isEmptyBox(c.boundingRect()));
}

void TestContour::pointSet()
{
    Contour c(Points{{0, 0}, {1, 0}, {0, 0}});
    QCOMPARE(int(c.pointSet().size()), 2);
    QCOMPARE(*c.pointSet().begin(), Point2Df(0, 0));

    const Contour copy(c);
    QCOMPARE(int(copy.pointSet().size()), 2);

    // Every vertex edit drops the set; the next read rebuilds it.
    c.translate(1, 1);
    QCOMPARE(*c.pointSet().begin(), Point2Df(1, 1));
    c.mirror(0x1);
    QCOMPARE(*c.pointSet().begin(), Point2Df(-2, 1));
    c.clearPointSet();
    QCOMPARE(int(c.pointSet().size()), 2);
    c.clear();
    QVERIFY(c.pointSet().empty());

    // Ordered by x, then y.
    const Contour ordered(Points{{1, 0}, {0, 2}, {0, 1}});
    QCOMPARE(Points(ordered.pointSet().begin(), ordered.pointSet().end()), (Points{{0, 1}, {0, 2}, {1, 0}}));
}

void TestContour::appendInvalidates()
{
    Contour c(Points{{0, 0}, {2, 0}, {2, 2}});
    QCOMPARE(c.area(), 2.0);
    QCOMPARE(int(c.pointSet().size()), 3);

    c.append(0, 2);
    QVERIFY(c.isDirty());
    QCOMPARE(c.area(), 4.0);
    QCOMPARE(c.length(), 8.0);
    QVERIFY(sameBox(c.boundingRect(), freshBox(square(0, 0, 2, 2))));
    QCOMPARE(int(c.pointSet().size()), 4);

    // On a set not built yet, append must not leave a partial one behind.
    Contour fresh(Points{{0, 0}, {1, 0}});
    fresh.append(1, 1);
    QCOMPARE(int(fresh.pointSet().size()), 3);
    QCOMPARE(fresh.area(), 0.5);

    Contour empty;
    empty.append(3, 4);
    QCOMPARE(empty.points(), (Points{{3, 4}}));
    QCOMPARE(int(empty.pointSet().size()), 1);
}

void TestContour::snapToGrid()
{
    Contour c(Points{{0.3f, 0.3f}, {2.4f, 0.4f}, {2.4f, 2.6f}, {0.4f, 2.4f}});
    const double before = c.area();
    c.snapToGrid(1.0);
    // The first vertex is not snapped.
    QCOMPARE(c.points(), (Points{{0.3f, 0.3f}, {2, 0}, {2, 3}, {0, 2}}));
    QVERIFY(c.area() != before);
    QVERIFY(sameBox(c.boundingRect(), freshBox(c.points())));

    // Too fine a step changes nothing and keeps the caches.
    Contour same(square(0.25f, 0.25f, 1.5f, 1.5f));
    same.update();
    same.snapToGrid(1e-6);
    QCOMPARE(same.points(), square(0.25f, 0.25f, 1.5f, 1.5f));
    QVERIFY(!same.isDirty());

    // Neighbours merging on one grid point change the vertices even when no
    // coordinate moves by more than the tolerance.
    Contour merged(Points{{0, 0}, {1, 0}, {1.000001f, 0}, {1, 1}});
    QCOMPARE(int(merged.pointSet().size()), 4);
    merged.update();
    merged.snapToGrid(1.0);
    QCOMPARE(merged.points(), (Points{{0, 0}, {1, 0}, {1, 1}}));
    QVERIFY(merged.isDirty());
    QCOMPARE(int(merged.pointSet().size()), 3);
}

void TestContour::simplify()
{
    // A tolerance below 1e-5 only drops collinear vertices.
    Contour c(Points{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}});
    c.update();
    c.simplify(0.0);
    QCOMPARE(c.points().size(), 4);
    QVERIFY(!c.points().contains(Point2Df(1, 0)));
    QCOMPARE(c.area(), 4.0);

    // Nothing to drop: the order stays as it was.
    Contour square4(square(0, 0, 1, 1));
    square4.update();
    square4.simplify(0.0);
    QCOMPARE(square4.points(), square(0, 0, 1, 1));
    QVERIFY(!square4.isDirty());

    // A real tolerance thins out near vertices.
    Contour bumpy(Points{{0, 0}, {5, 0.01f}, {10, 0}, {10, 10}, {0, 10}});
    bumpy.simplify(0.1);
    QCOMPARE(bumpy.points(), square(0, 0, 10, 10));
    QCOMPARE(bumpy.area(), 100.0);
}

void TestContour::reduce_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("tolerance");
    QTest::addColumn<int>("removed");
    QTest::addColumn<int>("left");

    QTest::newRow("collinear vertex") << Points{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}} << 0.0 << 1 << 4;
    QTest::newRow("nothing to remove") << square(0, 0, 1, 1) << 0.0 << 0 << 4;
    QTest::newRow("within tolerance of a point") << Points{{0, 0}, {0.01f, 0}, {0.01f, 0.01f}} << 0.5 << 3 << 0;
    QTest::newRow("all on one line") << Points{{0, 0}, {1, 1}, {2, 2}, {3, 3}} << 0.0 << 4 << 0;
    QTest::newRow("empty") << Points() << 0.1 << 0 << 0;
}

void TestContour::reduce()
{
    QFETCH(Points, points);
    QFETCH(double, tolerance);
    QFETCH(int, removed);
    QFETCH(int, left);

    Contour c(points);
    c.update();
    QCOMPARE(c.reduce(tolerance), removed);
    QCOMPARE(c.points().size(), left);
    QVERIFY(c.isDirty());
    QVERIFY(sameBox(c.boundingRect(), freshBox(c.points())));
}

// A part holds millions of small contours; everything beyond the vertex array
// is per contour.
void TestContour::staysSmall()
{
    // Files hold millions of small contours: beyond its points a plain one costs 48 bytes.
    if (sizeof(void *) == 8)
        QCOMPARE(int(sizeof(Contour)), 48);
    QVERIFY(QTypeInfo<Contour>::isRelocatable);
}

QTEST_APPLESS_MAIN(TestContour)
#include "tst_contour.moc"
