#include "geomtestutil.h"
#include "util2d.h"

#include <QTest>

#include <limits>

using geom::IntersectionPoints2Dd;
using geom::Point2Dd;
using geom::Point2Df;

class tst_Util2D : public QObject
{
    Q_OBJECT

private slots:
    void fuzzyCompare_data();
    void fuzzyCompare();
    void distanceToLine();
    void squaredDistanceToSegment_data();
    void squaredDistanceToSegment();
    void squaredDistanceToSegmentDouble();
    void distanceToSegmentGuard();
    void closestPointOnSegment();
    void segmentToSegment_data();
    void segmentToSegment();
    void isOnLine_data();
    void isOnLine();
    void isOnRayAndSegment_data();
    void isOnRayAndSegment();
    void predicatesWithOrigin();
    void flagsSkipStages();
    void polygonVertexBelongsToOneEdge();
    void doublePredicates_data();
    void doublePredicates();
    void segmentParameter_data();
    void segmentParameter();
    void projections();
    void intersectionRecord();
};

void tst_Util2D::fuzzyCompare_data()
{
    QTest::addColumn<float>("a");
    QTest::addColumn<float>("b");
    QTest::addColumn<bool>("equal");

    QTest::newRow("zeros") << 0.0f << -0.0f << true;
    QTest::newRow("zero and tiny") << 0.0f << 1e-30f << false;
    QTest::newRow("large, close") << 100000.0f << 100000.5f << true;
    QTest::newRow("large, apart") << 100000.0f << 100002.0f << false;
    QTest::newRow("opposite signs") << 1.0f << -1.0f << false;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 1.0f << false;
}

void tst_Util2D::fuzzyCompare()
{
    QFETCH(float, a);
    QFETCH(float, b);
    QFETCH(bool, equal);
    QCOMPARE(util2D::fuzzyCompare(a, b), equal);
    QCOMPARE(util2D::fuzzyCompare(b, a), equal);
}

void tst_Util2D::distanceToLine()
{
    QCOMPARE(util2D::squaredDistanceToLine(Point2Df(5, 2), Point2Df(-1, 0), Point2Df(1, 0)), 4.0);
    QCOMPARE(util2D::distanceToLine(Point2Df(0, 0), Point2Df(0, 1), Point2Df(1, 0)), std::sqrt(0.5));
    // Ends within 1e-5 of each other: the distance to the first one.
    QCOMPARE(util2D::squaredDistanceToLine(Point2Df(3, 4), Point2Df(0, 0), Point2Df(0.000005f, 0)), 25.0);
}

void tst_Util2D::squaredDistanceToSegment_data()
{
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<Point2Df>("q");
    QTest::addColumn<double>("expected");

    QTest::newRow("point segment") << Point2Df(3, 4) << Point2Df(0, 0) << 25.0;
    QTest::newRow("shorter than the guard") << Point2Df(3, 4) << Point2Df(0.001f, 0) << 25.0;
    QTest::newRow("beyond q") << Point2Df(5, 1) << Point2Df(4, 0) << 2.0;
    QTest::newRow("before the start") << Point2Df(-1, 1) << Point2Df(4, 0) << 2.0;
    QTest::newRow("beside") << Point2Df(2, 1) << Point2Df(4, 0) << 1.0;
    QTest::newRow("on it") << Point2Df(1, 1) << Point2Df(3, 3) << 0.0;
}

void tst_Util2D::squaredDistanceToSegment()
{
    QFETCH(Point2Df, p);
    QFETCH(Point2Df, q);
    QFETCH(double, expected);
    QCOMPARE(util2D::squaredDistanceToSegment(p, q), expected);
    // The same segment placed elsewhere by its origin.
    const Point2Df o(10, -20);
    QCOMPARE(util2D::squaredDistanceToSegment(p + o.toPointF(), q + o.toPointF(), o), expected);
}

void tst_Util2D::squaredDistanceToSegmentDouble()
{
    // Double segments keep their length down to 1e-12 squared.
    QCOMPARE(util2D::squaredDistanceToSegment(Point2Dd(0.002, 0), Point2Dd(0.001, 0)), 0.002 * 0.002 - 0.002 * 0.001
             - 0.001 * 0.002 + 0.001 * 0.001);
    QCOMPARE(util2D::squaredDistanceToSegment(Point2Dd(3, 4), Point2Dd(0, 0)), 25.0);
    QCOMPARE(util2D::squaredDistanceToSegment(Point2Dd(2, 1), Point2Dd(4, 0)), 1.0);
    QCOMPARE(util2D::squaredDistanceToSegment(Point2Dd(12, 1), Point2Dd(14, 0), Point2Dd(10, 0)), 1.0);
    QCOMPARE(util2D::distanceToSegment(Point2Dd(2, 3), Point2Dd(4, 0)), 3.0);
}

void tst_Util2D::distanceToSegmentGuard()
{
    QCOMPARE(util2D::distanceToSegment(Point2Df(2, 1), Point2Df(4, 0)), 1.0);
    QCOMPARE(util2D::distanceToSegment(Point2Df(2, 0.0000005f), Point2Df(4, 0)), 0.0);
    QCOMPARE(util2D::distanceToSegment(Point2Dd(2, 0.0000005), Point2Dd(4, 0)), 0.0);
    QCOMPARE(util2D::distanceToSegment(Point2Dd(2, 0.000002), Point2Dd(4, 0)), 0.000002);
    // The segment-to-segment distance has a coarser guard: a squared 9e-6.
    QCOMPARE(util2D::distanceSegmentToSegment(Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(0, 0.003), Point2Dd(1, 0.003)),
             0.0);
    QCOMPARE(util2D::distanceSegmentToSegment(Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(0, 0.004), Point2Dd(1, 0.004)),
             0.004);
}

void tst_Util2D::closestPointOnSegment()
{
    const Point2Dd a(1, 1);
    const Point2Dd b(5, 1);
    QCOMPARE(util2D::closestPointOnSegment(Point2Dd(3, 7), a, b), Point2Dd(3, 1));
    QCOMPARE(util2D::closestPointOnSegment(Point2Dd(-3, 7), a, b), a);
    QCOMPARE(util2D::closestPointOnSegment(Point2Dd(9, -7), a, b), b);
    QCOMPARE(util2D::closestPointOnSegment(Point2Dd(9, -7), a, a), a);
}

void tst_Util2D::segmentToSegment_data()
{
    QTest::addColumn<Point2Dd>("a0");
    QTest::addColumn<Point2Dd>("a1");
    QTest::addColumn<Point2Dd>("b0");
    QTest::addColumn<Point2Dd>("b1");
    QTest::addColumn<double>("squared");

    QTest::newRow("crossing") << Point2Dd(0, 0) << Point2Dd(2, 2) << Point2Dd(0, 2) << Point2Dd(2, 0) << 0.0;
    QTest::newRow("parallel") << Point2Dd(0, 0) << Point2Dd(1, 0) << Point2Dd(0, 2) << Point2Dd(1, 2) << 4.0;
    QTest::newRow("parallel, shifted apart") << Point2Dd(0, 0) << Point2Dd(1, 0) << Point2Dd(4, 4) << Point2Dd(5, 4)
                                             << 25.0;
    QTest::newRow("end to middle") << Point2Dd(0, 0) << Point2Dd(0, 1) << Point2Dd(-1, 3) << Point2Dd(1, 3) << 4.0;
    QTest::newRow("ends nearest") << Point2Dd(0, 0) << Point2Dd(1, 0) << Point2Dd(4, 4) << Point2Dd(4, 8) << 25.0;
    QTest::newRow("far end to the inside") << Point2Dd(0, 0) << Point2Dd(1, 1) << Point2Dd(4, 5) << Point2Dd(8, 1)
                                           << 24.5;
    QTest::newRow("both points") << Point2Dd(1, 1) << Point2Dd(1, 1) << Point2Dd(4, 5) << Point2Dd(4, 5) << 25.0;
    QTest::newRow("first a point") << Point2Dd(2, 3) << Point2Dd(2, 3) << Point2Dd(0, 0) << Point2Dd(4, 0) << 9.0;
    QTest::newRow("second a point") << Point2Dd(0, 0) << Point2Dd(4, 0) << Point2Dd(6, 0) << Point2Dd(6, 0) << 4.0;
}

void tst_Util2D::segmentToSegment()
{
    QFETCH(Point2Dd, a0);
    QFETCH(Point2Dd, a1);
    QFETCH(Point2Dd, b0);
    QFETCH(Point2Dd, b1);
    QFETCH(double, squared);
    QCOMPARE(util2D::squaredDistanceSegmentToSegment(a0, a1, b0, b1), squared);
    QCOMPARE(util2D::squaredDistanceSegmentToSegment(b0, b1, a0, a1), squared);
    QCOMPARE(util2D::distanceSegmentToSegment(a0, a1, b0, b1), std::sqrt(squared));
}

void tst_Util2D::isOnLine_data()
{
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<Point2Df>("q");
    QTest::addColumn<Point2Df>("origin");
    QTest::addColumn<bool>("on");

    QTest::newRow("within 1e-5") << Point2Df(2, 0.00001f) << Point2Df(1, 0) << Point2Df(0, 0) << true;
    QTest::newRow("1e-4 off") << Point2Df(2, 0.0001f) << Point2Df(1, 0) << Point2Df(0, 0) << false;
    QTest::newRow("behind the origin") << Point2Df(-7, -7) << Point2Df(1, 1) << Point2Df(0, 0) << true;
    QTest::newRow("origin elsewhere") << Point2Df(3, 5) << Point2Df(2, 4) << Point2Df(1, 3) << true;
    QTest::newRow("off, origin elsewhere") << Point2Df(3, 5.001f) << Point2Df(2, 4) << Point2Df(1, 3) << false;
    QTest::newRow("degenerate, near") << Point2Df(0.000005f, 0.000005f) << Point2Df(0, 0) << Point2Df(0, 0) << true;
    QTest::newRow("degenerate, far") << Point2Df(0.00002f, 0) << Point2Df(0, 0) << Point2Df(0, 0) << false;
}

void tst_Util2D::isOnLine()
{
    QFETCH(Point2Df, p);
    QFETCH(Point2Df, q);
    QFETCH(Point2Df, origin);
    QFETCH(bool, on);
    QCOMPARE(util2D::isOnLine(p, q, origin), on);
}

void tst_Util2D::isOnRayAndSegment_data()
{
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<Point2Df>("q");
    QTest::addColumn<bool>("onRay");
    QTest::addColumn<bool>("onSegment");

    QTest::newRow("behind") << Point2Df(-1, 0) << Point2Df(1, 0) << false << false;
    QTest::newRow("the origin") << Point2Df(0, 0) << Point2Df(1, 0) << true << true;
    QTest::newRow("middle") << Point2Df(0.5f, 0) << Point2Df(1, 0) << true << true;
    QTest::newRow("the far end") << Point2Df(1, 0) << Point2Df(1, 0) << true << false;
    QTest::newRow("beyond the far end") << Point2Df(3, 3) << Point2Df(1, 1) << true << false;
    QTest::newRow("off the line") << Point2Df(0.5f, 0.001f) << Point2Df(1, 0) << false << false;
    // The line test accepts points 1e-5 around the origin; so do the ray and
    // the segment, also against a direction with a negative component.
    QTest::newRow("just behind the origin") << Point2Df(-0.000005f, 0) << Point2Df(1, 0) << true << true;
    QTest::newRow("just behind, sloped") << Point2Df(0.000005f, -0.000005f) << Point2Df(-1, 1) << true << true;
    QTest::newRow("beyond the tolerance behind") << Point2Df(-0.00002f, 0) << Point2Df(1, 0) << false << false;
    // 1.5e-6 off the middle of a segment whose direction leans the other way:
    // on the line, so on the segment.
    QTest::newRow("off the middle, across") << Point2Df(0.5f, -0.000001f) << Point2Df(1, 0.000001f) << true << true;
    QTest::newRow("steep, off the middle") << Point2Df(0.000001f, 1) << Point2Df(-0.000001f, 2) << true << true;
}

void tst_Util2D::isOnRayAndSegment()
{
    QFETCH(Point2Df, p);
    QFETCH(Point2Df, q);
    QFETCH(bool, onRay);
    QFETCH(bool, onSegment);

    QCOMPARE(util2D::isOnRay(p, q), onRay);
    QCOMPARE(util2D::isOnSegment(p, q), onSegment);
    // The double ray agrees with the float one.
    QCOMPARE(util2D::isOnRay(Point2Dd(p.x, p.y), Point2Dd(q.x, q.y)), onRay);
}

void tst_Util2D::predicatesWithOrigin()
{
    const Point2Df o(-3, 7.5f);
    QVERIFY(util2D::isOnRay(Point2Df(-1, 9.5f), Point2Df(-2, 8.5f), o));
    QVERIFY(!util2D::isOnRay(Point2Df(-4, 6.5f), Point2Df(-2, 8.5f), o));
    QVERIFY(util2D::isOnSegment(o, Point2Df(-2, 8.5f), o));
    QVERIFY(util2D::isOnSegment(Point2Df(-2.5f, 8), Point2Df(-2, 8.5f), o));
    QVERIFY(!util2D::isOnSegment(Point2Df(-2, 8.5f), Point2Df(-2, 8.5f), o));
    QVERIFY(util2D::isOnRay(Point2Dd(-1, 9.5), Point2Dd(-2, 8.5), Point2Dd(-3, 7.5)));
    QVERIFY(!util2D::isOnRay(Point2Dd(-4, 6.5), Point2Dd(-2, 8.5), Point2Dd(-3, 7.5)));
}

void tst_Util2D::flagsSkipStages()
{
    // Flag 1 skips the line test: a point far off the line but ahead passes.
    QVERIFY(!util2D::isOnRay(Point2Df(0.5f, 3), Point2Df(1, 0)));
    QVERIFY(util2D::isOnRay(Point2Df(0.5f, 3), Point2Df(1, 0), Point2Df::zero, util2D::SkipLineTest));
    QVERIFY(util2D::isOnRay(Point2Dd(0.5, 3), Point2Dd(1, 0), Point2Dd::zero, util2D::SkipLineTest));
    QVERIFY(util2D::isOnSegment(Point2Df(0.5f, 3), Point2Df(1, 0), Point2Df::zero, util2D::SkipLineTest));
    // Flag 2 skips the ray test: only the far end is checked.
    QVERIFY(util2D::isOnSegment(Point2Df(-1, 0), Point2Df(1, 0), Point2Df::zero, util2D::SkipRayTest));
    QVERIFY(!util2D::isOnSegment(Point2Df(2, 0), Point2Df(1, 0), Point2Df::zero, util2D::SkipRayTest));
}

void tst_Util2D::polygonVertexBelongsToOneEdge()
{
    // Each vertex of a ring lies on the edge that starts there and not on the
    // one that ends there, whichever way the edges lean.
    const QVector<Point2Df> ring{Point2Df(0, 0), Point2Df(2, 0.5f), Point2Df(1.5f, 3), Point2Df(-1, 1)};
    const int n = ring.size();
    for (int i = 0; i < n; ++i) {
        const Point2Df &v = ring[i];
        const Point2Df &next = ring[(i + 1) % n];
        const Point2Df &prev = ring[(i + n - 1) % n];
        QVERIFY2(util2D::isOnSegment(v, next, v), qPrintable(QString::number(i)));
        QVERIFY2(!util2D::isOnSegment(v, v, prev), qPrintable(QString::number(i)));
    }
}

void tst_Util2D::doublePredicates_data()
{
    QTest::addColumn<Point2Dd>("p");
    QTest::addColumn<Point2Dd>("q");
    QTest::addColumn<Point2Dd>("origin");
    QTest::addColumn<bool>("onSegment");

    QTest::newRow("the far end") << Point2Dd(1, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << true;
    QTest::newRow("the origin") << Point2Dd(0, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << true;
    QTest::newRow("middle") << Point2Dd(3, 4) << Point2Dd(4, 6) << Point2Dd(2, 2) << true;
    QTest::newRow("beyond the far end") << Point2Dd(1.00002, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << false;
    QTest::newRow("behind the origin") << Point2Dd(-0.00002, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << false;
    QTest::newRow("just past the far end") << Point2Dd(1.000005, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << true;
    QTest::newRow("just behind the origin") << Point2Dd(-0.000005, 0) << Point2Dd(1, 0) << Point2Dd(0, 0) << true;
    QTest::newRow("off the middle, across") << Point2Dd(0.5, -0.000001) << Point2Dd(1, 0.000001) << Point2Dd(0, 0)
                                            << true;
    QTest::newRow("off the line") << Point2Dd(0.5, 0.001) << Point2Dd(1, 0) << Point2Dd(0, 0) << false;
    QTest::newRow("degenerate, near") << Point2Dd(2.000005, 2) << Point2Dd(2, 2) << Point2Dd(2, 2) << true;
    QTest::newRow("degenerate, far") << Point2Dd(2.001, 2) << Point2Dd(2, 2) << Point2Dd(2, 2) << false;
}

void tst_Util2D::doublePredicates()
{
    QFETCH(Point2Dd, p);
    QFETCH(Point2Dd, q);
    QFETCH(Point2Dd, origin);
    QFETCH(bool, onSegment);
    QCOMPARE(util2D::isOnSegment(p, q, origin), onSegment);
}

void tst_Util2D::segmentParameter_data()
{
    QTest::addColumn<Point2Dd>("p");
    QTest::addColumn<Point2Dd>("a");
    QTest::addColumn<Point2Dd>("b");
    QTest::addColumn<double>("t");

    QTest::newRow("larger axis decides") << Point2Dd(2, 1) << Point2Dd(0, 0) << Point2Dd(4, 0) << 0.5;
    QTest::newRow("vertical") << Point2Dd(7, 4) << Point2Dd(1, 1) << Point2Dd(2, 7) << 0.5;
    QTest::newRow("at a") << Point2Dd(1, 1) << Point2Dd(1, 1) << Point2Dd(2, 7) << 0.0;
    QTest::newRow("at b") << Point2Dd(2, 7) << Point2Dd(1, 1) << Point2Dd(2, 7) << 1.0;
    QTest::newRow("before a") << Point2Dd(-4, 0) << Point2Dd(0, 0) << Point2Dd(2, 1) << -2.0;
}

void tst_Util2D::segmentParameter()
{
    QFETCH(Point2Dd, p);
    QFETCH(Point2Dd, a);
    QFETCH(Point2Dd, b);
    QFETCH(double, t);
    QCOMPARE(util2D::segmentParameter(p, a, b), t);
}

void tst_Util2D::projections()
{
    IntersectionPoints2Dd r = util2D::projectOntoSegment(Point2Dd(3, 2), Point2Dd(2, 0));
    QCOMPARE(r.p1, Point2Dd(3, 0));
    QCOMPARE(r.p2, Point2Dd(3, 0));
    QCOMPARE(r.count, 0);
    QCOMPARE(util2D::projectOntoRay(Point2Dd(3, 2), Point2Dd(2, 0)).count, 1);
    QCOMPARE(util2D::projectOntoLine(Point2Dd(3, 2), Point2Dd(2, 0)), Point2Dd(3, 0));

    r = util2D::projectOntoSegment(Point2Dd(1, 5), Point2Dd(2, 0));
    QCOMPARE(r.p1, Point2Dd(1, 0));
    QCOMPARE(r.count, 1);

    // Behind the origin: on neither the segment nor the ray.
    r = util2D::projectOntoRay(Point2Dd(-1, 5), Point2Dd(2, 0));
    QCOMPARE(r.p1, Point2Dd(-1, 0));
    QCOMPARE(r.count, 0);

    // With an origin the feet come back in absolute coordinates.
    r = util2D::projectOntoSegment(Point2Dd(14, 3), Point2Dd(12, 1), Point2Dd(10, 1));
    QCOMPARE(r.p1, Point2Dd(14, 1));
    QCOMPARE(r.p2, Point2Dd(14, 1));
    QCOMPARE(r.count, 0);
    r = util2D::projectOntoRay(Point2Dd(14, 3), Point2Dd(12, 1), Point2Dd(10, 1));
    QCOMPARE(r.p1, Point2Dd(14, 1));
    QCOMPARE(r.count, 1);
    QCOMPARE(util2D::projectOntoLine(Point2Dd(8, -3), Point2Dd(12, 1), Point2Dd(10, 1)), Point2Dd(8, 1));

    // A segment without length gives the point itself and no foot; so does a
    // ray without direction.
    r = util2D::projectOntoSegment(Point2Dd(3, 4), Point2Dd(0, 0));
    QCOMPARE(r.p1, Point2Dd(3, 4));
    QCOMPARE(r.count, 0);
    r = util2D::projectOntoRay(Point2Dd(3, 4), Point2Dd(0, 0));
    QCOMPARE(r.p1, Point2Dd(3, 4));
    QCOMPARE(r.count, 0);
}

void tst_Util2D::intersectionRecord()
{
    geom::IntersectionPoints2Df r;
    QCOMPARE(r.count, 0);
    QCOMPARE(r.p1, Point2Df(0, 0));
    QCOMPARE(r.p2, Point2Df(0, 0));
    r.add(Point2Df(1, 2));
    QCOMPARE(r.count, 1);
    QCOMPARE(r.p2, Point2Df(1, 2));
    QCOMPARE(r.last(), Point2Df(1, 2));
    r.add(Point2Df(1, 2));
    QCOMPARE(r.count, 1);
    r.add(Point2Df(3, 4));
    QCOMPARE(r.count, 2);
    QCOMPARE(r.p1, Point2Df(1, 2));
    QCOMPARE(r.last(), Point2Df(3, 4));
}

QTEST_APPLESS_MAIN(tst_Util2D)
#include "tst_util2d.moc"
