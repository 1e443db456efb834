#include "contour.h"
#include "slctestutil.h"

#include <QtTest>

#include <cmath>
#include <limits>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(Points)
Q_DECLARE_METATYPE(Point2Df)

using slctest::square;
using slctest::reversed;

namespace {

// The unit square with every edge cut in three: twelve vertices, so that the
// box prefilters run.
Points unitSquare12()
{
    const float t = 1.0f / 3.0f;
    const float u = 2.0f / 3.0f;
    return Points{{0, 0}, {t, 0}, {u, 0}, {1, 0}, {1, t}, {1, u}, {1, 1}, {u, 1}, {t, 1}, {0, 1}, {0, u}, {0, t}};
}

} // namespace

class TestContourQueries : public QObject
{
    Q_OBJECT

private slots:
    void contains_data();
    void contains();
    void containsNeedsThreePoints();
    void distance_data();
    void distance();
    void isOnBoundary_data();
    void isOnBoundary();
    void countInside_data();
    void countInside();
    void countContaining();
    void containsContour_data();
    void containsContour();
    void containsFiledChildByAddress();
    void boundsIntersect();
    void comparePoints_data();
    void comparePoints();
    void allPointsTakesDescendants();
    void sortedPoints_data();
    void sortedPoints();
    void sortedPointsWithChildren();
    void flatten();
};

void TestContourQueries::contains_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<Point2Df>("q");
    QTest::addColumn<bool>("inside");

    // Left and bottom boundaries belong to the polygon, right and top ones do
    // not; the twelve-vertex square goes through the box prefilter and must
    // answer the same, and so must the clockwise one.
    const QVector<QPair<QByteArray, Points>> shapes = {
        {"square", square(0, 0, 1, 1)}, {"square12", unitSquare12()}, {"clockwise", reversed(square(0, 0, 1, 1))}};
    for (const auto &shape : shapes) {
        const char *n = shape.first.constData();
        QTest::addRow("%s centre", n) << shape.second << Point2Df(0.5f, 0.5f) << true;
        QTest::addRow("%s left edge", n) << shape.second << Point2Df(0.0f, 0.5f) << true;
        QTest::addRow("%s right edge", n) << shape.second << Point2Df(1.0f, 0.5f) << false;
        QTest::addRow("%s bottom edge", n) << shape.second << Point2Df(0.5f, 0.0f) << true;
        QTest::addRow("%s top edge", n) << shape.second << Point2Df(0.5f, 1.0f) << false;
        QTest::addRow("%s outside", n) << shape.second << Point2Df(2.0f, 0.5f) << false;
        QTest::addRow("%s below", n) << shape.second << Point2Df(0.5f, -0.5f) << false;
    }
}

void TestContourQueries::contains()
{
    QFETCH(Points, points);
    QFETCH(Point2Df, q);
    QFETCH(bool, inside);
    const Contour c(points);
    QCOMPARE(c.contains(q), inside);
    QCOMPARE(c.contains(q, true), inside);
}

void TestContourQueries::containsNeedsThreePoints()
{
    const Contour two(Points{{0, 0}, {1, 1}});
    QVERIFY(!two.contains(Point2Df(0, 0)));
    QVERIFY(!Contour().contains(Point2Df(0, 0)));
}

void TestContourQueries::distance_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<double>("squared");

    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("no points") << Points() << Point2Df(1, 1) << inf;
    QTest::newRow("one point") << Points{{3, 4}} << Point2Df(0, 0) << 25.0;
    QTest::newRow("vertex") << square(0, 0, 1, 1) << Point2Df(1, 1) << 0.0;
    QTest::newRow("right of square") << square(0, 0, 1, 1) << Point2Df(3, 0.5f) << 4.0;
    // The closing edge counts.
    QTest::newRow("left of square") << square(0, 0, 1, 1) << Point2Df(-2, 0.5f) << 4.0;
    QTest::newRow("inside") << square(0, 0, 4, 4) << Point2Df(1, 2) << 1.0;
}

void TestContourQueries::distance()
{
    QFETCH(Points, points);
    QFETCH(Point2Df, p);
    QFETCH(double, squared);
    const Contour c(points);
    QCOMPARE(c.squaredDistance(p), squared);
    QCOMPARE(c.distance(p), std::sqrt(squared));
}

void TestContourQueries::isOnBoundary_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("edge");

    QTest::newRow("bottom") << square(0, 0, 1, 1) << Point2Df(0.5f, 0) << true << 0;
    QTest::newRow("right") << square(0, 0, 1, 1) << Point2Df(1, 0.5f) << true << 1;
    QTest::newRow("closing edge") << square(0, 0, 1, 1) << Point2Df(0, 0.5f) << true << 3;
    QTest::newRow("first vertex") << square(0, 0, 1, 1) << Point2Df(0, 0) << true << 0;
    QTest::newRow("centre") << square(0, 0, 1, 1) << Point2Df(0.5f, 0.5f) << false << -1;
    QTest::newRow("one point") << Points{{0, 0}} << Point2Df(0, 0) << false << -1;
    // Within the segment test's 1e-5 of an edge but outside the box: a
    // contour of twelve points, prefiltered by its box, answers like one of
    // four.
    QTest::newRow("just below, 4") << square(0, 0, 1, 1) << Point2Df(0.5f, -5e-6f) << true << 0;
    QTest::newRow("just below, 12") << unitSquare12() << Point2Df(0.5f, -5e-6f) << true << 1;
    QTest::newRow("just left, 12") << unitSquare12() << Point2Df(-5e-6f, 0.5f) << true << 10;
    QTest::newRow("off, 4") << square(0, 0, 1, 1) << Point2Df(0.5f, -1e-3f) << false << -1;
    QTest::newRow("off, 12") << unitSquare12() << Point2Df(0.5f, -1e-3f) << false << -1;
    // A flat contour has no valid box; the prefilter must still let it answer.
    // Its closing edge runs back over every other one and is tried first.
    QTest::newRow("flat, 12") << Points{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0},
                                       {6, 0}, {7, 0}, {8, 0}, {9, 0}, {10, 0}, {11, 0}}
                              << Point2Df(4.5f, 0) << true << 11;
}

void TestContourQueries::isOnBoundary()
{
    QFETCH(Points, points);
    QFETCH(Point2Df, p);
    QFETCH(bool, on);
    QFETCH(int, edge);
    const Contour c(points);
    int index = -1;
    QCOMPARE(c.isOnBoundary(p, &index), on);
    QCOMPARE(index, edge);
    QCOMPARE(c.isOnBoundary(p), on);
}

void TestContourQueries::countInside_data()
{
    QTest::addColumn<Points>("container");
    QTest::addColumn<Points>("other");
    QTest::addColumn<int>("stopAt");
    QTest::addColumn<int>("count");

    const Points big = square(0, 0, 4, 4);
    const Points mixed{{1, 1}, {5, 5}, {2, 2}, {3, 1}, {-1, 2}};
    QTest::newRow("all inside") << big << square(1, 1, 2, 2) << 0 << 4;
    QTest::newRow("some inside") << big << mixed << 0 << 3;
    QTest::newRow("stop at 1") << big << mixed << 1 << 1;
    QTest::newRow("stop at 2") << big << mixed << 2 << 2;
    QTest::newRow("stop above count") << big << mixed << 10 << 3;
    QTest::newRow("negative never stops") << big << mixed << -1 << 3;
    QTest::newRow("twelve-point container") << unitSquare12() << Points{{0.5f, 0.5f}, {2, 2}, {0, 0}} << 0 << 2;
    QTest::newRow("container too small") << Points{{0, 0}, {4, 4}} << mixed << 0 << 0;
    QTest::newRow("no points") << big << Points() << 0 << 0;
}

void TestContourQueries::countInside()
{
    QFETCH(Points, container);
    QFETCH(Points, other);
    QFETCH(int, stopAt);
    QFETCH(int, count);
    QCOMPARE(Contour(container).countInside(Contour(other), stopAt), count);
}

void TestContourQueries::countContaining()
{
    // Outer boundary, a hole in it, an island in the hole.
    Contour outer(square(0, 0, 10, 10));
    Contour hole(reversed(square(2, 2, 8, 8)));
    hole.addChild(Contour(square(4, 4, 6, 6)));
    outer.addChild(hole);
    QCOMPARE(outer.countContaining(Point2Df(5, 5)), 3);
    QCOMPARE(outer.countContaining(Point2Df(3, 3)), 2);
    QCOMPARE(outer.countContaining(Point2Df(1, 1)), 1);
    QCOMPARE(outer.countContaining(Point2Df(11, 1)), 0);
}

void TestContourQueries::containsContour_data()
{
    QTest::addColumn<Points>("container");
    QTest::addColumn<Points>("other");
    QTest::addColumn<bool>("contains");

    QTest::newRow("big holds small") << square(0, 0, 4, 4) << square(1, 1, 2, 2) << true;
    QTest::newRow("small not big") << square(1, 1, 2, 2) << square(0, 0, 4, 4) << false;
    QTest::newRow("overlap") << square(0, 0, 4, 4) << square(3, 3, 5, 5) << false;
    QTest::newRow("apart") << square(0, 0, 1, 1) << square(3, 3, 5, 5) << false;
    QTest::newRow("hole inside") << square(0, 0, 4, 4) << reversed(square(1, 1, 2, 2)) << true;
    QTest::newRow("twelve-point container") << unitSquare12() << square(0.25f, 0.25f, 0.5f, 0.5f) << true;
}

void TestContourQueries::containsContour()
{
    QFETCH(Points, container);
    QFETCH(Points, other);
    QFETCH(bool, contains);
    QCOMPARE(Contour(container).containsContour(Contour(other)), contains);
}

void TestContourQueries::containsFiledChildByAddress()
{
    // A hole filed under a contour is inside it whatever its points say; an
    // equal copy of that hole is judged by its points.
    Contour outer(square(0, 0, 4, 4));
    outer.addChild(Contour(reversed(square(3, 3, 6, 6))));
    const Contour &child = outer.children().constFirst();
    QVERIFY(outer.containsContour(child));
    const Contour copy = child;
    QVERIFY(!outer.containsContour(copy));
}

void TestContourQueries::boundsIntersect()
{
    const Contour a(square(0, 0, 2, 2));
    QVERIFY(a.boundsIntersect(Contour(square(1, 1, 3, 3))));
    QVERIFY(a.boundsIntersect(Contour(square(2, 2, 3, 3))));
    QVERIFY(!a.boundsIntersect(Contour(square(3, 3, 4, 4))));
    QVERIFY(!a.boundsIntersect(Contour()));
}

void TestContourQueries::comparePoints_data()
{
    QTest::addColumn<Points>("a");
    QTest::addColumn<Points>("b");
    QTest::addColumn<int>("result");

    const Points sq = square(0, 0, 1, 1);
    QTest::newRow("same") << sq << sq << 0;
    QTest::newRow("other order") << sq << reversed(sq) << 0;
    QTest::newRow("repeated point") << sq << (Points(sq) << sq.constFirst()) << 0;
    QTest::newRow("one point more") << sq << (Points(sq) << Point2Df(5, 5)) << -1;
    QTest::newRow("one point less") << (Points(sq) << Point2Df(5, 5)) << sq << 1;
    QTest::newRow("one point moved") << sq << Points{{0, 0}, {1, 0}, {1, 1}, {0, 2}} << 2;
    QTest::newRow("disjoint") << sq << square(5, 5, 6, 6) << 8;
}

void TestContourQueries::comparePoints()
{
    QFETCH(Points, a);
    QFETCH(Points, b);
    QFETCH(int, result);
    QCOMPARE(Contour(a).comparePoints(Contour(b)), result);
}

void TestContourQueries::allPointsTakesDescendants()
{
    Contour outer(square(0, 0, 10, 10));
    Contour hole(reversed(square(2, 2, 8, 8)));
    hole.addChild(Contour(Points{{4, 4}, {6, 4}, {0, 0}}));
    outer.addChild(hole);
    const Contour::PointSet all = outer.allPoints();
    QCOMPARE(int(all.size()), 4 + 4 + 2);
    QVERIFY(all.count(Point2Df(6, 4)) == 1);
    QVERIFY(all.count(Point2Df(2, 8)) == 1);
    // The own point set is only the own points.
    QCOMPARE(int(outer.pointSet().size()), 4);
    QCOMPARE(outer.comparePoints(Contour(square(0, 0, 10, 10))), 1);
}

void TestContourQueries::sortedPoints_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<uint>("mode");
    QTest::addColumn<Point2Df>("ref");
    QTest::addColumn<QList<double>>("keys");
    QTest::addColumn<Points>("order");

    const Points two{{3, 4}, {1, 0}};
    const Point2Df origin(0, 0);
    QTest::newRow("distance") << two << 2u << origin << QList<double>{1, 5} << Points{{1, 0}, {3, 4}};
    QTest::newRow("distance reversed") << two << 0x12u << origin << QList<double>{1, 5} << Points{{3, 4}, {1, 0}};
    QTest::newRow("squared") << two << 0u << origin << QList<double>{1, 25} << Points{{1, 0}, {3, 4}};
    QTest::newRow("squared reversed") << two << 0x10u << origin << QList<double>{1, 25} << Points{{3, 4}, {1, 0}};
    QTest::newRow("squared about ref") << two << 1u << Point2Df(3, 3) << QList<double>{1, 13} << Points{{3, 4}, {1, 0}};
    QTest::newRow("projection") << two << 3u << Point2Df(2, 0) << QList<double>{1, 3} << Points{{1, 0}, {3, 4}};
    QTest::newRow("projection reversed") << two << 0x13u << Point2Df(2, 0) << QList<double>{-3, -1}
                                         << Points{{3, 4}, {1, 0}};
    QTest::newRow("cross") << two << 4u << Point2Df(1, 0) << QList<double>{-4, 0} << Points{{3, 4}, {1, 0}};
    QTest::newRow("cross reversed") << two << 0x14u << Point2Df(1, 0) << QList<double>{0, 4}
                                    << Points{{1, 0}, {3, 4}};
    // Equal keys keep one entry: the later point.
    QTest::newRow("equal keys") << Points{{1, 0}, {0, 1}, {2, 0}} << 2u << origin << QList<double>{1, 2}
                                << Points{{0, 1}, {2, 0}};
    // A point that is not a number has no key: it is left out and takes no other point's place.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("NaN point between") << Points{{3, 4}, {nan, 0}, {1, 0}} << 2u << origin << QList<double>{1, 5}
                                       << Points{{1, 0}, {3, 4}};
    QTest::newRow("NaN point last") << Points{{3, 4}, {1, 0}, {nan, nan}} << 0u << origin << QList<double>{1, 25}
                                    << Points{{1, 0}, {3, 4}};
    QTest::newRow("NaN point, reversed") << Points{{3, 4}, {0, nan}, {1, 0}} << 0x12u << origin << QList<double>{1, 5}
                                         << Points{{3, 4}, {1, 0}};
    QTest::newRow("NaN point, cross") << Points{{3, 4}, {nan, 1}, {1, 0}} << 4u << Point2Df(1, 0)
                                      << QList<double>{-4, 0} << Points{{3, 4}, {1, 0}};
    QTest::newRow("NaN point only") << Points{{nan, nan}} << 2u << origin << QList<double>{} << Points{};
    // Without a reference direction no point has a projection.
    QTest::newRow("projection on a zero ref") << two << 3u << origin << QList<double>{} << Points{};
}

void TestContourQueries::sortedPoints()
{
    QFETCH(Points, points);
    QFETCH(uint, mode);
    QFETCH(Point2Df, ref);
    QFETCH(QList<double>, keys);
    QFETCH(Points, order);
    const QMultiMap<double, Point2Df> map = Contour(points).sortedPoints(mode, ref);
    QCOMPARE(map.keys(), keys);
    QCOMPARE(map.values().toVector(), order);
}

void TestContourQueries::sortedPointsWithChildren()
{
    Contour parent(Points{{3, 0}});
    parent.addChild(Contour(Points{{1, 0}, {2, 0}}));
    QCOMPARE(parent.sortedPoints(2, Point2Df(0, 0)).keys(), QList<double>{3});
    const QMultiMap<double, Point2Df> all = parent.sortedPoints(0x22, Point2Df(0, 0));
    QCOMPARE(all.keys(), (QList<double>{1, 2, 3}));
    QCOMPARE(all.first(), Point2Df(1, 0));
}

void TestContourQueries::flatten()
{
    Contour a(square(0, 0, 10, 10));
    Contour b(square(1, 1, 2, 2));
    b.addChild(Contour(square(1, 1, 1.5f, 1.5f)));
    a.addChild(b);
    a.addChild(Contour(square(5, 5, 6, 6)));
    const QList<const Contour *> list = a.flatten();
    QCOMPARE(list.size(), 4);
    QCOMPARE(list.at(0), &a);
    QCOMPARE(list.at(1), &a.children().at(0));
    QCOMPARE(list.at(2), &a.children().at(0).children().at(0));
    QCOMPARE(list.at(3), &a.children().at(1));
}

QTEST_APPLESS_MAIN(TestContourQueries)
#include "tst_contourqueries.moc"
