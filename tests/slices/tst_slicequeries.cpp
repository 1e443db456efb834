#include "slice.h"

#include <QtTest>

#include <cmath>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(Point2Df)
Q_DECLARE_METATYPE(Contour)
Q_DECLARE_METATYPE(Slice)
Q_DECLARE_METATYPE(geom::Circle2Df)
Q_DECLARE_METATYPE(geom::Bounds2Df)

namespace {

Contour box(float x0, float y0, float x1, float y1, bool clockwise = false)
{
    const Points ccw{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    const Points cw{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
    return Contour(clockwise ? cw : ccw);
}

// Outer square, a hole in it, an island in the hole.
Slice islandInHole()
{
    return Slice(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 8, 8, true), box(4, 4, 6, 6)});
}

} // namespace

class TestSliceQueries : public QObject
{
    Q_OBJECT

private slots:
    void contains_data();
    void contains();
    void hitTest_data();
    void hitTest();
    void windingCount_data();
    void windingCount();
    void anyCornerInside_data();
    void anyCornerInside();
    void flattenAndPointSet();
    void compare();
    void commonAndComparePoints();
    void matchContours();
    void editsDropTheTotals();
    void fromIndices();
};

void TestSliceQueries::contains_data()
{
    QTest::addColumn<Slice>("slice");
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<bool>("winding");
    QTest::addColumn<bool>("oddEven");
    QTest::addColumn<int>("outer");

    const Slice nested(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 8, 8)});
    QTest::newRow("material") << islandInHole() << Point2Df(1, 1) << true << true << 0;
    // Not material, but the outer contour is still around the point.
    QTest::newRow("hole") << islandInHole() << Point2Df(3, 3) << false << false << 0;
    // The largest counter-clockwise contour around the point.
    QTest::newRow("island") << islandInHole() << Point2Df(5, 5) << true << true << 0;
    QTest::newRow("outside the box") << islandInHole() << Point2Df(11, 5) << false << false << -1;
    QTest::newRow("two counter-clockwise") << nested << Point2Df(5, 5) << true << false << 0;
    QTest::newRow("no contours") << Slice(1.0f) << Point2Df(0, 0) << false << false << -1;
    // In the grouped format the holes are walked too.
    Slice grouped = islandInHole();
    grouped.setFormat(2);
    QTest::newRow("grouped hole") << grouped << Point2Df(3, 3) << false << false << 0;
    QTest::newRow("grouped island") << grouped << Point2Df(5, 5) << true << true << 0;
}

void TestSliceQueries::contains()
{
    QFETCH(Slice, slice);
    QFETCH(Point2Df, p);
    QFETCH(bool, winding);
    QFETCH(bool, oddEven);
    QFETCH(int, outer);
    int index = -1;
    QCOMPARE(slice.contains(p, &index, Qt::WindingFill), winding);
    QCOMPARE(index, outer);
    QCOMPARE(slice.contains(p, nullptr, Qt::OddEvenFill), oddEven);
}

void TestSliceQueries::hitTest_data()
{
    QTest::addColumn<geom::Circle2Df>("circle");
    QTest::addColumn<bool>("hit");

    QTest::newRow("centre in material") << geom::Circle2Df(Point2Df(1, 1), 0.1f) << true;
    QTest::newRow("radius 0 at a vertex") << geom::Circle2Df(Point2Df(8, 2), 0.0f) << true;
    QTest::newRow("reaches the hole's edge") << geom::Circle2Df(Point2Df(3, 3), 1.0f) << true;
    QTest::newRow("inside the hole, short") << geom::Circle2Df(Point2Df(3, 3), 0.5f) << false;
    QTest::newRow("outside, reaching") << geom::Circle2Df(Point2Df(12, 5), 2.5f) << true;
    QTest::newRow("outside, short") << geom::Circle2Df(Point2Df(12, 5), 1.5f) << false;
    // A null circle hits nothing, not even where its centre is material.
    QTest::newRow("null circle") << geom::Circle2Df() << false;
    QTest::newRow("null circle in material") << geom::Circle2Df(Point2Df(1, 1), -1.0f) << false;
}

void TestSliceQueries::hitTest()
{
    QFETCH(geom::Circle2Df, circle);
    QFETCH(bool, hit);
    QCOMPARE(islandInHole().hitTest(circle), hit);
}

void TestSliceQueries::windingCount_data()
{
    QTest::addColumn<Slice>("slice");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("count");

    const Slice three(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(0, 0, 9, 9), box(0, 0, 8, 8)});
    QTest::newRow("no limit") << three << 0 << 12;
    QTest::newRow("limit 2") << three << 2 << 4;
    QTest::newRow("limit 5") << three << 5 << 8;
    QTest::newRow("negative limit") << three << -1 << 12;
    // limit x limit would overflow; |w| > limit does not.
    QTest::newRow("huge limit") << three << 100000 << 12;
    QTest::newRow("hole takes away") << islandInHole() << 0 << 4 - 4 + 0;
}

void TestSliceQueries::windingCount()
{
    QFETCH(Slice, slice);
    QFETCH(int, limit);
    QFETCH(int, count);
    QCOMPARE(slice.windingCount(box(3, 3, 3.5f, 3.5f), limit), count);
}

void TestSliceQueries::anyCornerInside_data()
{
    QTest::addColumn<geom::Bounds2Df>("box");
    QTest::addColumn<bool>("inside");

    QTest::newRow("corner in material") << geom::Bounds2Df(Point2Df(9, 9), Point2Df(12, 12)) << true;
    QTest::newRow("every corner in the hole") << geom::Bounds2Df(Point2Df(2.5f, 2.5f), Point2Df(3.5f, 3.5f)) << false;
    QTest::newRow("corner on the island") << geom::Bounds2Df(Point2Df(5, 5), Point2Df(5.5f, 7)) << true;
    QTest::newRow("around everything") << geom::Bounds2Df(Point2Df(-1, -1), Point2Df(11, 11)) << false;
    QTest::newRow("apart") << geom::Bounds2Df(Point2Df(20, 20), Point2Df(21, 21)) << false;
}

void TestSliceQueries::anyCornerInside()
{
    QFETCH(geom::Bounds2Df, box);
    QFETCH(bool, inside);
    QCOMPARE(islandInHole().anyCornerInside(box), inside);
    QVERIFY(!Slice(1.0f).anyCornerInside(box));
}

void TestSliceQueries::flattenAndPointSet()
{
    Slice slice = islandInHole();
    slice.addContour(box(20, 0, 21, 1));
    QTest::ignoreMessage(QtWarningMsg, "Slice.toHierarchyFormat : Not fully working");
    slice.setFormat(1);
    const QList<const Contour *> all = slice.flatten();
    QCOMPARE(all.size(), 4);
    QCOMPARE(all.at(0), &slice.contours().at(0));
    QCOMPARE(all.at(1)->area(), -36.0);
    QCOMPARE(all.at(2)->area(), 4.0);
    QCOMPARE(all.at(3), &slice.contours().at(1));
    // Nested points count in the hierarchy format as well.
    QCOMPARE(int(slice.pointSet().size()), 16);
    slice.setFormat(0);
    QCOMPARE(int(slice.pointSet().size()), 16);
    QCOMPARE(int(Slice(1.0f).pointSet().size()), 0);
}

void TestSliceQueries::compare()
{
    const Slice three = islandInHole();
    const Slice two(1.0f, 0.1f, QVector<Contour>{box(0, 0, 1, 1), box(0, 0, 2, 2)});
    QCOMPARE(Slice::compare(three, two), Point2Df(1, -1));
    QCOMPARE(Slice::compare(two, three), Point2Df(-1, 1));
    QCOMPARE(Slice::compare(three, three), Point2Df(0, 0));
    // Points paired in flat order; the longer run's extra points count alone.
    const Slice a(1.0f, 0.1f, QVector<Contour>{Contour(Points{{1, 1}, {2, 2}, {3, 3}})});
    const Slice b(1.0f, 0.1f, QVector<Contour>{Contour(Points{{0, 0}, {1, 0}})});
    QCOMPARE(Slice::compare(a, b), Point2Df(1 + 1 + 3, 1 + 2 + 3));
    QCOMPARE(Slice::compare(b, a), Point2Df(-5, -6));
    QCOMPARE(Slice::compare(Slice(1.0f), Slice(2.0f)), Point2Df(0, 0));
}

void TestSliceQueries::commonAndComparePoints()
{
    const Slice a(1.0f, 0.1f, QVector<Contour>{box(0, 0, 2, 2)});
    const Slice b(1.0f, 0.1f, QVector<Contour>{box(0, 0, 1, 1)});
    const Contour::PointSet common = Slice::commonPoints(a, b);
    QCOMPARE(int(common.size()), 1);
    QCOMPARE(*common.begin(), Point2Df(0, 0));
    QCOMPARE(Slice::comparePoints(a, a), 0);
    QCOMPARE(Slice::comparePoints(a, b), 6);
    QCOMPARE(Slice::comparePoints(a, islandInHole()), -1);
    QCOMPARE(Slice::comparePoints(islandInHole(), a), 1);
}

void TestSliceQueries::matchContours()
{
    const QVector<Contour> first{box(0, 0, 2, 2), box(50, 50, 51, 51)};
    // Sharing (2, 2) far off, sharing (0, 0) near, sharing nothing, and an
    // exact copy.
    const QVector<Contour> second{box(2, 2, 40, 40), box(-1, -1, 0, 0), box(5, 5, 6, 6), box(0, 0, 2, 2)};
    const QList<QList<int>> match = Slice::matchContours(first, second);
    QCOMPARE(match.size(), 2);
    QCOMPARE(match.at(0), (QList<int>{3, 1, 0}));
    QVERIFY(match.at(1).isEmpty());
    // Equal distances: the lower index first.
    const QVector<Contour> twins{box(0, 0, 2, 2), box(0, 0, 2, 2)};
    QCOMPARE(Slice::matchContours(first, twins).at(0), (QList<int>{0, 1}));
}

void TestSliceQueries::editsDropTheTotals()
{
    Slice slice(1.0f, 0.1f, QVector<Contour>{Contour(Points{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}})});
    QCOMPARE(slice.vertexCount(), 5);
    slice.simplify(0.0);
    QCOMPARE(slice.vertexCount(), 4);
    slice.reverse();
    QCOMPARE(slice.area(), -4.0);
    slice.smooth(1, 0.0);
    QCOMPARE(slice.area(), -1.0);
    slice.smooth(10, 0.0);
    QCOMPARE(slice.vertexCount(), 0);
}

void TestSliceQueries::fromIndices()
{
    QVector<Contour> contours;
    for (int i = 0; i < 6; ++i)
        contours << box(0, 0, float(6 - i), float(6 - i));
    const Slice source(2.0f, 0.3f, contours);
    // Invalid indices are skipped, the valid ones taken in ascending order
    // whatever order the set iterates in.
    const Slice picked(QSet<int>{5, 2, -1, 99, 0, 6}, source);
    QCOMPARE(picked.z(), 2.0f);
    QCOMPARE(picked.thickness(), 0.3f);
    QCOMPARE(picked.contours().size(), 3);
    QCOMPARE(picked.contours().at(0).area(), 36.0);
    QCOMPARE(picked.contours().at(1).area(), 16.0);
    QCOMPARE(picked.contours().at(2).area(), 1.0);
    QCOMPARE(picked.area(), 53.0);

    Contour outer = box(0, 0, 10, 10);
    outer.addChild(box(2, 2, 3, 3, true));
    const Slice grouped(1.0f, 0.1f, QVector<Contour>{box(20, 20, 21, 21), outer});
    const Slice one(QSet<int>{1}, grouped);
    QCOMPARE(one.format(), 2);
    QCOMPARE(one.groups(), (QMap<int, int>{{1, 0}}));
    QCOMPARE(Slice(QSet<int>{7}, grouped).contourCount(), 0);
}

QTEST_APPLESS_MAIN(TestSliceQueries)
#include "tst_slicequeries.moc"
