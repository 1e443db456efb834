#include "tessellator.h"
#include "tessellatortestutil.h"

#include <QtTest>

#include <cmath>
#include <limits>

using geom::Facet;
using geom::Point2Df;
using geom::Point3Df;
using geom::Tessellator;
using tesstest::sliceOf;
using tesstest::squareContour;

Q_DECLARE_METATYPE(Slice)
Q_DECLARE_METATYPE(Tessellator::OutlineStatus)

namespace {

// Areas of the contours, largest magnitude first, for comparisons that do not
// depend on the order in which GLU emits its loops.
QVector<double> areas(const Slice &s)
{
    QVector<double> a;
    for (const Contour &c : s.contours())
        a.append(c.area());
    std::sort(a.begin(), a.end(), [](double x, double y) { return std::fabs(x) > std::fabs(y); });
    return a;
}

} // namespace

class TestSliceOutline : public QObject
{
    Q_OBJECT

private slots:
    void outline_data();
    void outline();
    void outlineKeepsHeightAndThickness();
    void outlineOfGroupedSlice();
    void outlineOfOnePolygon();
    void outlineFailures_data();
    void outlineFailures();
    void collectDuringOpenPolygon();
    void addSliceJoinsOpenPolygon();

    void booleans_data();
    void booleans();
    void booleansOfContours();

    void sliceFacets();
    void planarFacets();
    void filterSmallContours();
};

void TestSliceOutline::outline_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<Slice>("slice");
    QTest::addColumn<QVector<double>>("expected");
    QTest::addColumn<Tessellator::OutlineStatus>("status");

    const Contour a = squareContour(0, 0, 2, 2);
    const Contour b = squareContour(1, 1, 3, 3);
    QTest::newRow("overlap positive: union") << int(Tessellator::WindingPositive) << sliceOf(0, 0, {a, b})
                                             << QVector<double>{7} << Tessellator::OutlineOk;
    // The symmetric difference: two L shapes touching at two corners.
    QTest::newRow("overlap odd: symmetric difference") << int(Tessellator::WindingOdd) << sliceOf(0, 0, {a, b})
                                                       << QVector<double>{3, 3} << Tessellator::OutlineOk;
    QTest::newRow("hole") << int(Tessellator::WindingPositive)
                          << sliceOf(0, 0, {squareContour(0, 0, 4, 4), squareContour(1, 1, 3, 3, true)})
                          << QVector<double>{16, -4} << Tessellator::OutlineOk;
    QTest::newRow("island in a hole")
        << int(Tessellator::WindingPositive)
        << sliceOf(0, 0,
                   {squareContour(0, 0, 6, 6), squareContour(1, 1, 5, 5, true), squareContour(2, 2, 4, 4)})
        << QVector<double>{36, -16, 4} << Tessellator::OutlineOk;
    QTest::newRow("two islands") << int(Tessellator::WindingPositive)
                                 << sliceOf(0, 0, {squareContour(0, 0, 1, 1), squareContour(5, 5, 7, 7)})
                                 << QVector<double>{4, 1} << Tessellator::OutlineOk;
    QTest::newRow("only clockwise: vanishes") << int(Tessellator::WindingPositive)
                                              << sliceOf(0, 0, {squareContour(0, 0, 2, 2, true)})
                                              << QVector<double>{} << Tessellator::OutlineEmpty;
    QTest::newRow("clockwise under negative") << int(Tessellator::WindingNegative)
                                              << sliceOf(0, 0, {squareContour(0, 0, 2, 2, true)})
                                              << QVector<double>{4} << Tessellator::OutlineOk;
    const Contour twoPoints(QVector<Point2Df>{{0, 0}, {5, 5}});
    QTest::newRow("two-vertex contour ignored") << int(Tessellator::WindingPositive) << sliceOf(0, 0, {twoPoints, a})
                                                << QVector<double>{4} << Tessellator::OutlineOk;
    QTest::newRow("nothing usable is not a vanished outline")
        << int(Tessellator::WindingPositive) << sliceOf(0, 0, {twoPoints}) << QVector<double>{}
        << Tessellator::OutlineOk;
    QTest::newRow("empty slice") << int(Tessellator::WindingPositive) << Slice(0.0f, 0.0f) << QVector<double>{}
                                 << Tessellator::OutlineOk;
}

void TestSliceOutline::outline()
{
    QFETCH(int, rule);
    QFETCH(Slice, slice);
    QFETCH(QVector<double>, expected);
    QFETCH(Tessellator::OutlineStatus, status);
    Tessellator t(rule);
    Tessellator::OutlineStatus got = Tessellator::OutlineFailed;
    const Slice out = t.outline(slice, &got);
    QCOMPARE(areas(out), expected);
    QCOMPARE(got, status);
    QVERIFY(t.isBoundaryOnly());
    QCOMPARE(t.windingRule(), rule);
    QCOMPARE(out.format(), 0);
}

void TestSliceOutline::outlineKeepsHeightAndThickness()
{
    Tessellator t(Tessellator::WindingPositive);
    const Slice out = t.outline(sliceOf(3.25f, 0.125f, {squareContour(0, 0, 1, 1)}));
    QCOMPARE(out.z(), 3.25f);
    QCOMPARE(out.thickness(), 0.125f);
    QCOMPARE(t.z(), 3.25);
    QCOMPARE(out.contours().size(), 1);
}

void TestSliceOutline::outlineOfGroupedSlice()
{
    // Holes held as children are reached through the flat index.
    Contour outer = squareContour(0, 0, 4, 4);
    outer.addChild(squareContour(1, 1, 3, 3, true));
    const Slice grouped = sliceOf(0, 0, {outer, squareContour(10, 10, 11, 11)});
    QCOMPARE(grouped.format(), 2);
    Tessellator t(Tessellator::WindingPositive);
    QCOMPARE(areas(t.outline(grouped)), (QVector<double>{16, -4, 1}));
}

void TestSliceOutline::outlineOfOnePolygon()
{
    // A bow tie: one lobe runs counter-clockwise, the other clockwise.
    const QVector<Point2Df> bowTie{{0, 0}, {2, 2}, {2, 0}, {0, 2}};
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setZ(1.5));
    Tessellator::OutlineStatus status = Tessellator::OutlineFailed;
    const Slice out = t.outline(bowTie, &status);
    QCOMPARE(status, Tessellator::OutlineOk);
    QCOMPARE(out.z(), 1.5f);
    QCOMPARE(out.thickness(), 0.0f);
    QCOMPARE(areas(out), QVector<double>{1});
    QVERIFY(out.contours().first().points().contains(Point2Df(1, 1))); // the crossing

    QVERIFY(t.setWindingRule(Tessellator::WindingNonZero));
    QCOMPARE(areas(t.outline(bowTie)), (QVector<double>{1, 1}));
}

void TestSliceOutline::outlineFailures_data()
{
    QTest::addColumn<Slice>("slice");
    QTest::addColumn<QString>("message");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QVector<Point2Df> bad = tesstest::square(5, 5, 6, 6);
    bad[1].y = nan;
    QTest::newRow("NaN vertex") << sliceOf(0, 0, {squareContour(0, 0, 1, 1), Contour(bad)})
                                << "Tessellator::addContour: Coordinate not finite";
    QTest::newRow("NaN height") << sliceOf(nan, 0, {squareContour(0, 0, 1, 1)})
                                << "Tessellator::addSlice: Slice height not finite";
}

void TestSliceOutline::outlineFailures()
{
    QFETCH(Slice, slice);
    QFETCH(QString, message);
    Tessellator t(Tessellator::WindingPositive);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^" + QRegularExpression::escape(message)));
    Tessellator::OutlineStatus status = Tessellator::OutlineOk;
    const Slice out = t.outline(slice, &status);
    QCOMPARE(status, Tessellator::OutlineFailed);
    QVERIFY(t.failed());
    QCOMPARE(out.contourCount(), 0);
    QVERIFY(std::isfinite(t.z()));

    // The next slice is outlined as usual.
    const Slice good = sliceOf(1, 0, {squareContour(0, 0, 1, 1)});
    QCOMPARE(areas(t.outline(good, &status)), QVector<double>{1});
    QCOMPARE(status, Tessellator::OutlineOk);
}

void TestSliceOutline::collectDuringOpenPolygon()
{
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setBoundaryOnly(true));
    const Slice s = sliceOf(0, 0, {squareContour(0, 0, 1, 1)});
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    t.addSlice(s);
    QCOMPARE(t.state(), Tessellator::InPolygon);
    QCOMPARE(t.collectSlice(1).contourCount(), 0);
    QVERIFY(t.endPolygon());
    QCOMPARE(t.collectSlice(1).contourCount(), 1);
}

void TestSliceOutline::addSliceJoinsOpenPolygon()
{
    const Slice a = sliceOf(2, 0, {squareContour(0, 0, 2, 2)});
    const Slice b = sliceOf(7, 0, {squareContour(1, 1, 3, 3)});
    Tessellator t(Tessellator::WindingAbsGeqTwo);
    QVERIFY(t.setBoundaryOnly(true));
    QVERIFY(t.setZ(0.5));
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    t.addSlice(a);
    t.addSlice(b);
    QVERIFY(t.endPolygon());
    const Slice out = t.collectSlice(0);
    QCOMPARE(out.z(), 0.5f); // an open polygon keeps its z
    QCOMPARE(areas(out), QVector<double>{1});

    // Another vertex type's polygon is left alone.
    QVERIFY(t.beginPolygon(Tessellator::Double2D));
    t.addSlice(a);
    QCOMPARE(t.finish(), 0);
}

void TestSliceOutline::booleans_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<Slice>("a");
    QTest::addColumn<Slice>("b");
    QTest::addColumn<QVector<double>>("expected");
    const Slice sq = sliceOf(1, 0.2f, {squareContour(0, 0, 2, 2)});
    const Slice overlap = sliceOf(9, 0.5f, {squareContour(1, 1, 3, 3)});
    const Slice far = sliceOf(1, 0.2f, {squareContour(5, 5, 6, 6)});
    const Slice ring = sliceOf(1, 0.2f, {squareContour(0, 0, 4, 4), squareContour(1, 1, 3, 3, true)});
    enum { Unite, Intersect, Subtract };
    QTest::newRow("unite overlapping") << int(Unite) << sq << overlap << QVector<double>{7};
    QTest::newRow("unite disjoint") << int(Unite) << sq << far << QVector<double>{4, 1};
    QTest::newRow("unite fills a hole") << int(Unite) << ring << sliceOf(0, 0, {squareContour(1, 1, 3, 3)})
                                        << QVector<double>{16};
    QTest::newRow("intersect overlapping") << int(Intersect) << sq << overlap << QVector<double>{1};
    QTest::newRow("intersect disjoint") << int(Intersect) << sq << far << QVector<double>{};
    QTest::newRow("intersect with a ring") << int(Intersect) << ring << sq << QVector<double>{3};
    QTest::newRow("subtract overlapping") << int(Subtract) << sq << overlap << QVector<double>{3};
    QTest::newRow("subtract itself") << int(Subtract) << sq << sq << QVector<double>{};
    QTest::newRow("subtract makes a hole") << int(Subtract) << sliceOf(1, 0.2f, {squareContour(0, 0, 4, 4)})
                                           << sliceOf(0, 0, {squareContour(1, 1, 3, 3)})
                                           << QVector<double>{16, -4};
    QTest::newRow("subtract a ring leaves the island") << int(Subtract) << sliceOf(1, 0.2f, {squareContour(0, 0, 4, 4)})
                                                       << ring << QVector<double>{4};
}

void TestSliceOutline::booleans()
{
    QFETCH(int, op);
    QFETCH(Slice, a);
    QFETCH(Slice, b);
    QFETCH(QVector<double>, expected);
    Tessellator t(Tessellator::WindingOdd);
    const Slice out = op == 0 ? t.unite(a, b) : op == 1 ? t.intersect(a, b) : t.subtract(a, b);
    QCOMPARE(areas(out), expected);
    QVERIFY(!t.failed());
    QCOMPARE(out.z(), a.z());
    QCOMPARE(out.thickness(), a.thickness());
    QVERIFY(t.isBoundaryOnly());
    QCOMPARE(t.windingRule(), op == 1 ? int(Tessellator::WindingAbsGeqTwo) : int(Tessellator::WindingPositive));
}

void TestSliceOutline::booleansOfContours()
{
    const Contour a = squareContour(0, 0, 2, 2);
    const Contour b = squareContour(1, 1, 3, 3);
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setZ(4));
    const Slice i = t.intersect(a, b);
    QCOMPARE(areas(i), QVector<double>{1});
    QCOMPARE(i.z(), 0.0f);
    QCOMPARE(i.thickness(), 0.0f);
    const Slice s = t.subtract(a, b);
    QCOMPARE(areas(s), QVector<double>{3});
    QCOMPARE(s.z(), 0.0f);
}

void TestSliceOutline::sliceFacets()
{
    const Slice s = sliceOf(2.5f, 0.1f, {squareContour(0, 0, 4, 4), squareContour(1, 1, 3, 3, true),
                                          Contour(QVector<Point2Df>{{7, 7}, {8, 8}})});
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setBoundaryOnly(true));
    const QList<Facet> up = t.facets(s);
    QVERIFY(!t.isBoundaryOnly());
    QCOMPARE(tesstest::totalAreaXY(up), 12.0);
    for (const Facet &f : up) {
        QCOMPARE(f.normal, Point3Df(0, 0, 1));
        QCOMPARE(f.vertex1.z, 2.5f);
        QCOMPARE(f.vertex2.z, 2.5f);
        QCOMPARE(f.vertex3.z, 2.5f);
    }

    // The downward cap of the same counter-clockwise slice: the same ring under the
    // positive rule, its triangles turned to face down.
    const QList<Facet> down = t.facets(s, true);
    QCOMPARE(tesstest::totalAreaXY(down), -12.0);
    for (const Facet &f : down) {
        QCOMPARE(f.normal, Point3Df(0, 0, -1));
        QCOMPARE(f.vertex1.z, 2.5f);
    }

    QVERIFY(t.facets(Slice(0.0f, 0.0f)).isEmpty());
    QVERIFY(t.setWindingRule(Tessellator::WindingPositive));
    const QList<Facet> one = t.facets(squareContour(0, 0, 1, 1));
    QCOMPARE(one.size(), 2);
    QCOMPARE(one.first().vertex1.z, 0.0f);
}

void TestSliceOutline::planarFacets()
{
    // A wall in the plane x = 1 with a hole, seen from +x.
    const QVector<Point3Df> outer{{1, 0, 0}, {1, 4, 0}, {1, 4, 4}, {1, 0, 4}};
    const QVector<Point3Df> hole{{1, 1, 1}, {1, 1, 3}, {1, 3, 3}, {1, 3, 1}};
    const QVector<Point3Df> tooShort{{1, 9, 9}, {1, 8, 8}};
    const Point3Df n(1, 0, 0);
    Tessellator t(Tessellator::WindingPositive);
    const QList<Facet> f = t.facets(QList<QVector<Point3Df>>{outer, hole, tooShort}, n);
    double area = 0;
    for (const Facet &facet : f) {
        QCOMPARE(facet.normal, n);
        QCOMPARE(facet.vertex1.x, 1.0f);
        area += facet.crossNormal().x / 2;
    }
    QCOMPARE(area, 12.0);
    QCOMPARE(t.facets(outer, n).size(), 2);
}

void TestSliceOutline::filterSmallContours()
{
    const Slice s = sliceOf(1, 0.3f,
                            {squareContour(10, 10, 11, 11), squareContour(0, 0, 4, 4), squareContour(1, 1, 3, 3, true),
                             squareContour(20, 20, 20.5f, 20.5f)});
    Tessellator t(Tessellator::WindingPositive);
    const Slice out = t.filterSmallContours(s, 1.0);
    QCOMPARE(areas(out), (QVector<double>{16, -4}));
    QCOMPARE(out.thickness(), 0.3f);
    QCOMPARE(out.z(), 1.0f);
    QCOMPARE(out.contours().first().area(), 16.0); // largest first
    QCOMPARE(areas(t.filterSmallContours(s, 0.0)), (QVector<double>{16, -4, 1, 0.25}));
    QCOMPARE(areas(t.filterSmallContours(squareContour(0, 0, 1, 1), 1.0)), QVector<double>{});
}

QTEST_GUILESS_MAIN(TestSliceOutline)
#include "tst_sliceoutline.moc"
