#include "geomtestutil.h"
#include "util3d.h"

#include <QTest>

#include <cmath>
#include <limits>

using geom::IntersectionPoints3Df;
using geom::Point3Df;
using geom::Sphere3Df;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

bool near(const Point3Df &a, const Point3Df &b, float tol = 1e-6f)
{
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol;
}

bool isFinite(const IntersectionPoints3Df &r)
{
    for (const Point3Df &p : {r.p1, r.p2})
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return false;
    return true;
}

// The expected record of a table row: count, then the points it holds.
void verifyRecord(const IntersectionPoints3Df &r, int count, const Point3Df &p1, const Point3Df &p2)
{
    QCOMPARE(r.count, count);
    if (count >= 1)
        QVERIFY2(near(r.p1, p1), describe(r.p1).constData());
    if (count == 2)
        QVERIFY2(near(r.p2, p2), describe(r.p2).constData());
}

} // namespace

class tst_Util3D : public QObject
{
    Q_OBJECT

private slots:
    void planeProjection();
    void projections_data();
    void projections();
    void predicates_data();
    void predicates();
    void sphere();
    void lineIntersectSphere_data();
    void lineIntersectSphere();
    void lineIntersectSphereAtScale_data();
    void lineIntersectSphereAtScale();
    void degenerateLineMeetsNoSphere();
    void nonFiniteLineMeetsNoSphere_data();
    void nonFiniteLineMeetsNoSphere();
    void planes_data();
    void planes();
    void axisPlanes();
    void nonFiniteLineMeetsNoPlane_data();
    void nonFiniteLineMeetsNoPlane();
    void rayIntersectTriangle_data();
    void rayIntersectTriangle();
    void nonFiniteRayMeetsNoTriangle_data();
    void nonFiniteRayMeetsNoTriangle();
};

void tst_Util3D::planeProjection()
{
    QCOMPARE(util3D::projectOntoPlane(Point3Df(1, 2, 3), Point3Df(0, 0, 1)), Point3Df(1, 2, 0));
    QCOMPARE(util3D::projectOntoPlane(Point3Df(1, 2, 3), Point3Df(0, 0, 2), Point3Df(5, 5, 1)), Point3Df(1, 2, 1));
    QCOMPARE(util3D::projectOntoPlane(Point3Df(1, 1, 0), Point3Df(1, 1, 0)), Point3Df(0, 0, 0));
    QCOMPARE(util3D::lineParameter(Point3Df(3, 0, 4), Point3Df(2, 0, 0)), 1.5f);
    QCOMPARE(util3D::lineParameter(Point3Df(4, 0, 4), Point3Df(2, 0, 0), Point3Df(1, 0, 0)), 1.5f);
    // No direction: parameter 0.
    QCOMPARE(util3D::lineParameter(Point3Df(3, 0, 4), Point3Df(0.000005f, 0, 0)), 0.0f);
}

void tst_Util3D::projections_data()
{
    QTest::addColumn<Point3Df>("p");
    QTest::addColumn<Point3Df>("q");
    QTest::addColumn<Point3Df>("foot");
    QTest::addColumn<int>("segmentCount");
    QTest::addColumn<int>("rayCount");

    QTest::newRow("onto the segment") << Point3Df(1, 1, 1) << Point3Df(2, 0, 0) << Point3Df(1, 0, 0) << 1 << 1;
    QTest::newRow("beyond q") << Point3Df(3, 2, 0) << Point3Df(2, 0, 0) << Point3Df(3, 0, 0) << 0 << 1;
    QTest::newRow("behind the origin") << Point3Df(-1, 1, 0) << Point3Df(2, 0, 0) << Point3Df(-1, 0, 0) << 0 << 0;
    QTest::newRow("at q") << Point3Df(2, 0, 5) << Point3Df(2, 0, 0) << Point3Df(2, 0, 0) << 1 << 1;
    // A q too short for a line: p itself, found on nothing.
    QTest::newRow("short q") << Point3Df(3, 2, 0) << Point3Df(0.001f, 0, 0) << Point3Df(3, 2, 0) << 0 << 0;
    QTest::newRow("zero q") << Point3Df(3, 2, 0) << Point3Df(0, 0, 0) << Point3Df(3, 2, 0) << 0 << 0;
}

void tst_Util3D::projections()
{
    QFETCH(Point3Df, p);
    QFETCH(Point3Df, q);
    QFETCH(Point3Df, foot);
    QFETCH(int, segmentCount);
    QFETCH(int, rayCount);

    IntersectionPoints3Df r = util3D::projectOntoSegment(p, q);
    QCOMPARE(r.p1, foot);
    QCOMPARE(r.p2, foot);
    QCOMPARE(r.count, segmentCount);
    QCOMPARE(util3D::projectOntoLine(p, q), foot);
    r = util3D::projectOntoRay(p, q);
    QCOMPARE(r.p1, foot);
    QCOMPARE(r.count, rayCount);

    // The same figure moved by an origin.
    const Point3Df o(-4, 2, 8);
    r = util3D::projectOntoSegment(p + o, q + o, o);
    QVERIFY(near(r.p1, foot + o, 1e-5f));
    QCOMPARE(r.count, segmentCount);
    QCOMPARE(util3D::projectOntoRay(p + o, q + o, o).count, rayCount);
}

void tst_Util3D::predicates_data()
{
    QTest::addColumn<Point3Df>("p");
    QTest::addColumn<Point3Df>("q");
    QTest::addColumn<bool>("onLine");
    QTest::addColumn<bool>("onRay");
    QTest::addColumn<bool>("onSegment");

    QTest::newRow("inside") << Point3Df(1, 2, 3) << Point3Df(2, 4, 6) << true << true << true;
    QTest::newRow("at the origin end") << Point3Df(0, 0, 0) << Point3Df(2, 4, 6) << true << true << true;
    QTest::newRow("at the q end") << Point3Df(2, 4, 6) << Point3Df(2, 4, 6) << true << true << false;
    QTest::newRow("beyond q") << Point3Df(3, 6, 9) << Point3Df(2, 4, 6) << true << true << false;
    QTest::newRow("behind the origin") << Point3Df(-1, -2, -3) << Point3Df(2, 4, 6) << true << false << false;
    QTest::newRow("off the line") << Point3Df(1, 2, 3.01f) << Point3Df(2, 4, 6) << false << false << false;
    // Near the origin end the ray and the segment measure along q, as in 2D.
    QTest::newRow("5e-6 behind the origin") << Point3Df(-0.000005f, 0, 0) << Point3Df(1, 0, 0) << true << true << true;
    QTest::newRow("1e-4 behind the origin") << Point3Df(-0.0001f, 0, 0) << Point3Df(1, 0, 0) << true << false << false;
    QTest::newRow("a hair across an axis") << Point3Df(0.5f, -1e-9f, 0) << Point3Df(1, 1e-9f, 0) << true << true << true;
    // Without a direction only the origin's neighbourhood is held.
    QTest::newRow("zero q, p far") << Point3Df(3, -2, 1) << Point3Df(0, 0, 0) << false << false << false;
    QTest::newRow("zero q, p at the origin") << Point3Df(0, 0, 0) << Point3Df(0, 0, 0) << true << true << true;
    QTest::newRow("zero q, p within 1e-5") << Point3Df(0.000005f, 0, 0.000005f) << Point3Df(0, 0, 0) << true << true
                                           << true;
    QTest::newRow("tiny q, p far") << Point3Df(0, 0, 7) << Point3Df(0, 1e-7f, 0) << false << false << false;
}

void tst_Util3D::predicates()
{
    QFETCH(Point3Df, p);
    QFETCH(Point3Df, q);
    QFETCH(bool, onLine);
    QFETCH(bool, onRay);
    QFETCH(bool, onSegment);

    QCOMPARE(util3D::isOnLine(p, q), onLine);
    QCOMPARE(util3D::isOnRay(p, q), onRay);
    QCOMPARE(util3D::isOnSegment(p, q), onSegment);
    const Point3Df o(10, -20, 30);
    QCOMPARE(util3D::isOnRay(p + o, q + o, o), onRay);
    // Skipping the line test leaves the test along q.
    if (onLine) {
        QCOMPARE(util3D::isOnRay(p, q, Point3Df::zero, util3D::SkipLineTest), onRay);
        QCOMPARE(util3D::isOnSegment(p, q, Point3Df::zero, util3D::SkipLineTest), onSegment);
    }
}

void tst_Util3D::sphere()
{
    QVERIFY(util3D::isOnSphere(Point3Df(0, 3, 0), 3.0));
    QVERIFY(util3D::isOnSphere(Point3Df(1, 1, 3), 3.0, Point3Df(1, 1, 0)));
    QVERIFY(!util3D::isOnSphere(Point3Df(1, 1, 3.001f), 3.0, Point3Df(1, 1, 0)));
    QCOMPARE(util3D::closestPointOnSphere(Point3Df(0, 0, 10), 2.0, Point3Df(0, 0, 1)), Point3Df(0, 0, 3));
    QCOMPARE(util3D::closestPointOnSphere(Point3Df(0, 0, 1), 2.0, Point3Df(0, 0, 1)), Point3Df(0, 0, 1));
}

void tst_Util3D::lineIntersectSphere_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<Point3Df>("p1");
    QTest::addColumn<Point3Df>("p2");
    QTest::addColumn<int>("rayCount");
    QTest::addColumn<int>("segmentCount");

    // The unit sphere.
    QTest::newRow("through") << Point3Df(-2, 0, 0) << Point3Df(2, 0, 0) << 2 << Point3Df(-1, 0, 0) << Point3Df(1, 0, 0)
                             << 2 << 2;
    QTest::newRow("from the centre") << Point3Df(0, 0, 0) << Point3Df(2, 0, 0) << 2 << Point3Df(1, 0, 0)
                                     << Point3Df(-1, 0, 0) << 1 << 1;
    QTest::newRow("tangent") << Point3Df(-2, 1, 0) << Point3Df(2, 1, 0) << 1 << Point3Df(0, 1, 0) << Point3Df(0, 1, 0)
                             << 1 << 1;
    QTest::newRow("pointing away") << Point3Df(0, 0, 3) << Point3Df(0, 0, 5) << 2 << Point3Df(0, 0, 1)
                                   << Point3Df(0, 0, -1) << 0 << 0;
    QTest::newRow("short segment inside") << Point3Df(0, 0, -0.5f) << Point3Df(0, 0, 0.5f) << 2 << Point3Df(0, 0, -1)
                                          << Point3Df(0, 0, 1) << 1 << 0;
    QTest::newRow("miss") << Point3Df(-2, 2, 0) << Point3Df(2, 2, 0) << 0 << Point3Df() << Point3Df() << 0 << 0;
}

void tst_Util3D::lineIntersectSphere()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(int, lineCount);
    QFETCH(Point3Df, p1);
    QFETCH(Point3Df, p2);
    QFETCH(int, rayCount);
    QFETCH(int, segmentCount);

    verifyRecord(util3D::lineIntersectSphere(a, b, 1.0), lineCount, p1, p2);
    // The same figure about another centre, given as a sphere.
    const Point3Df c(5, -3, 2);
    const Sphere3Df s(c, 1.0f);
    verifyRecord(util3D::lineIntersectSphere(a + c, b + c, s), lineCount, p1 + c, p2 + c);
    const IntersectionPoints3Df ray = util3D::rayIntersectSphere(a + c, b + c, s);
    QCOMPARE(ray.count, rayCount);
    for (const Point3Df &p : {ray.p1, ray.p2})
        if (rayCount)
            QVERIFY(util3D::isOnRay(p, b + c, a + c, util3D::SkipLineTest));
    const IntersectionPoints3Df segment = util3D::segmentIntersectSphere(a, b, 1.0, Point3Df::zero);
    QCOMPARE(segment.count, segmentCount);
    QCOMPARE(util3D::rayIntersectSphere(a, b, 1.0, Point3Df::zero).count, rayCount);
}

void tst_Util3D::lineIntersectSphereAtScale_data()
{
    QTest::addColumn<double>("r");
    QTest::addColumn<float>("height");
    QTest::addColumn<float>("reach");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("rayCount");
    QTest::addColumn<int>("segmentCount");

    // The line y = height * r through the sphere of radius r about the origin,
    // given by its points at x = +-reach * r. The answer depends on neither the
    // scale nor how far apart the two given points lie.
    QTest::newRow("y 0.9, points at +-2000") << 1.0 << 0.9f << 2000.0f << 2 << 2 << 2;
    QTest::newRow("y 0.9, points at +-20000") << 1.0 << 0.9f << 20000.0f << 2 << 2 << 2;
    QTest::newRow("y 1.1, points at +-20000: a miss") << 1.0 << 1.1f << 20000.0f << 0 << 0 << 0;
    QTest::newRow("y 1.1, points at +-2000: a miss") << 1.0 << 1.1f << 2000.0f << 0 << 0 << 0;
    QTest::newRow("y 1.0001, just outside") << 1.0 << 1.0001f << 2.0f << 0 << 0 << 0;
    QTest::newRow("y 0.9999, just inside") << 1.0 << 0.9999f << 2.0f << 2 << 2 << 2;
    QTest::newRow("touching, points at +-2000") << 1.0 << 1.0f << 2000.0f << 1 << 1 << 1;
    QTest::newRow("through the centre, points 1e-3 apart") << 1.0 << 0.0f << 0.0005f << 2 << 1 << 0;
    QTest::newRow("sphere of radius 1e-4, y 0.9") << 1e-4 << 0.9f << 2.0f << 2 << 2 << 2;
    QTest::newRow("sphere of radius 1e-4, through the centre, points at +-1") << 1e-4 << 0.0f << 1e4f << 2 << 2 << 2;
    QTest::newRow("sphere of radius 1e4, y 0.9") << 1e4 << 0.9f << 2.0f << 2 << 2 << 2;
    QTest::newRow("sphere of radius 1e4, y 0.9, points at +-2e7") << 1e4 << 0.9f << 2000.0f << 2 << 2 << 2;
}

void tst_Util3D::lineIntersectSphereAtScale()
{
    QFETCH(double, r);
    QFETCH(float, height);
    QFETCH(float, reach);
    QFETCH(int, lineCount);
    QFETCH(int, rayCount);
    QFETCH(int, segmentCount);

    const float y = float(height * r);
    const Point3Df a(float(-reach * r), y, 0), b(float(reach * r), y, 0);
    const IntersectionPoints3Df line = util3D::lineIntersectSphere(a, b, r);
    QCOMPARE(line.count, lineCount);
    QCOMPARE(util3D::rayIntersectSphere(a, b, r, Point3Df::zero).count, rayCount);
    QCOMPARE(util3D::segmentIntersectSphere(a, b, r, Point3Df::zero).count, segmentCount);
    if (lineCount == 0)
        return;
    // Where the line meets the sphere, from the float height the line has; the
    // nearer to a in parameter, so the left one, first.
    const double x = std::sqrt(std::max(0.0, r * r - double(y) * double(y)));
    const double tol = 1e-6 * r;
    for (const Point3Df &p : {line.p1, line.p2}) {
        QCOMPARE(p.y, y);
        QCOMPARE(p.z, 0.0f);
    }
    QVERIFY2(std::fabs(line.p1.x + x) <= tol, describe(line.p1).constData());
    QVERIFY2(std::fabs(line.p2.x - (lineCount == 2 ? x : -x)) <= tol, describe(line.p2).constData());
}

void tst_Util3D::degenerateLineMeetsNoSphere()
{
    const Point3Df points[][2] = {{Point3Df(0, 0, 0), Point3Df(0, 0, 0)},
                                  {Point3Df(1, 0, 0), Point3Df(1, 0, 0)},
                                  {Point3Df(0.5f, 0, 0), Point3Df(0.5f, 0, 0.0000005f)}};
    for (const auto &ab : points) {
        for (double r : {1.0, 0.0}) {
            for (const IntersectionPoints3Df &result :
                 {util3D::lineIntersectSphere(ab[0], ab[1], r), util3D::rayIntersectSphere(ab[0], ab[1], r, Point3Df::zero),
                  util3D::segmentIntersectSphere(ab[0], ab[1], r, Point3Df::zero)}) {
                QCOMPARE(result.count, 0);
                QVERIFY(isFinite(result));
            }
        }
    }
}

void tst_Util3D::nonFiniteLineMeetsNoSphere_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<double>("r");
    QTest::addColumn<Point3Df>("centre");
    QTest::addColumn<int>("count");

    // A line through the unit sphere about (1, 2, 3), then with one input spoilt.
    const Point3Df a(-2, 2, 3), b(4, 2, 3), c(1, 2, 3);
    QTest::newRow("finite") << a << b << 1.0 << c << 2;
    QTest::newRow("NaN in a") << Point3Df(NaN, 2, 3) << b << 1.0 << c << 0;
    QTest::newRow("NaN in b") << a << Point3Df(4, NaN, 3) << 1.0 << c << 0;
    QTest::newRow("NaN radius") << a << b << double(NaN) << c << 0;
    QTest::newRow("NaN in the centre") << a << b << 1.0 << Point3Df(1, 2, NaN) << 0;
    QTest::newRow("infinite a") << Point3Df(-Inf, 2, 3) << b << 1.0 << c << 0;
    QTest::newRow("infinite radius") << a << b << double(Inf) << c << 0;
}

void tst_Util3D::nonFiniteLineMeetsNoSphere()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(double, r);
    QFETCH(Point3Df, centre);
    QFETCH(int, count);

    const Sphere3Df sphere(centre, float(r));
    for (const IntersectionPoints3Df &result :
         {util3D::lineIntersectSphere(a, b, r, centre), util3D::lineIntersectSphere(a, b, sphere),
          util3D::rayIntersectSphere(a, b, r, centre), util3D::rayIntersectSphere(a, b, sphere),
          util3D::segmentIntersectSphere(a, b, r, centre), util3D::segmentIntersectSphere(a, b, sphere)}) {
        QCOMPARE(result.count, count);
        QVERIFY(isFinite(result));
    }
}

void tst_Util3D::planes_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<int>("rayCount");
    QTest::addColumn<Point3Df>("rayPoint");
    QTest::addColumn<int>("segmentCount");
    QTest::addColumn<Point3Df>("segmentPoint");

    // The plane z = 0.
    QTest::newRow("crossing") << Point3Df(0, 0, -1) << Point3Df(0, 0, 1) << 1 << Point3Df(0, 0, 0) << 1 << Point3Df(0, 0, 0);
    QTest::newRow("slanted") << Point3Df(0, 0, 2) << Point3Df(2, 1, 1) << 1 << Point3Df(4, 2, 0) << 0 << Point3Df();
    QTest::newRow("moving away") << Point3Df(0, 0, 1) << Point3Df(0, 0, 2) << 0 << Point3Df() << 0 << Point3Df();
    QTest::newRow("starting on it") << Point3Df(1, 1, 0) << Point3Df(1, 1, 3) << 1 << Point3Df(1, 1, 0) << 1
                                    << Point3Df(1, 1, 0);
    QTest::newRow("ending on it") << Point3Df(1, 1, 3) << Point3Df(1, 1, 0) << 1 << Point3Df(1, 1, 0) << 1
                                  << Point3Df(1, 1, 0);
    QTest::newRow("ending within 1e-5 of it") << Point3Df(0, 0, 1) << Point3Df(0, 0, 0.000005f) << 1
                                              << Point3Df(0, 0, 0) << 1 << Point3Df(0, 0, 0.000005f);
    QTest::newRow("parallel beside") << Point3Df(0, 0, 1) << Point3Df(3, 0, 1) << 0 << Point3Df() << 0 << Point3Df();
}

void tst_Util3D::planes()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(int, rayCount);
    QFETCH(Point3Df, rayPoint);
    QFETCH(int, segmentCount);
    QFETCH(Point3Df, segmentPoint);

    const Point3Df n(0, 0, 1), q(7, -3, 0);
    IntersectionPoints3Df r = util3D::rayIntersectPlane(a, b, n, q);
    QCOMPARE(r.count, rayCount);
    if (rayCount)
        QVERIFY2(near(r.p1, rayPoint), describe(r.p1).constData());
    r = util3D::segmentIntersectPlane(a, b, n, q);
    QCOMPARE(r.count, segmentCount);
    if (segmentCount)
        QVERIFY2(near(r.p1, segmentPoint), describe(r.p1).constData());
    // The axis-aligned forms agree.
    QCOMPARE(util3D::rayIntersectPlaneZ(a, b, 0.0f).count, std::fabs(b.z - a.z) > 1e-5f && rayCount ? 1 : 0);
    QCOMPARE(util3D::segmentIntersectPlaneZ(a, b, 0.0f).count, segmentCount);
}

void tst_Util3D::axisPlanes()
{
    // A segment lying in the plane: both ends, count 2.
    IntersectionPoints3Df r = util3D::segmentIntersectPlane(Point3Df(0, 0, 0), Point3Df(1, 2, 0), Point3Df(0, 0, 1),
                                                            Point3Df(5, 5, 0));
    QCOMPARE(r.count, 2);
    QCOMPARE(r.p1, Point3Df(0, 0, 0));
    QCOMPARE(r.p2, Point3Df(1, 2, 0));
    QCOMPARE(util3D::rayIntersectPlane(Point3Df(0, 0, 0), Point3Df(1, 2, 0), Point3Df(0, 0, 1), Point3Df()).count, 2);

    QCOMPARE(util3D::rayIntersectPlaneX(Point3Df(0, 1, 2), Point3Df(1, 2, 2), 4.0f).p1, Point3Df(4, 5, 2));
    QCOMPARE(util3D::rayIntersectPlaneY(Point3Df(0, 1, 2), Point3Df(1, 2, 2), 4.0f).p1, Point3Df(3, 4, 2));
    QCOMPARE(util3D::rayIntersectPlaneY(Point3Df(0, 1, 2), Point3Df(1, 2, 2), 0.0f).count, 0);
    QCOMPARE(util3D::rayIntersectPlaneX(Point3Df(0, 1, 2), Point3Df(0, 2, 2), 4.0f).count, 0);

    // A horizontal segment at the plane's height gives its first end.
    r = util3D::segmentIntersectPlaneZ(Point3Df(1, 2, 5), Point3Df(3, 4, 5), 5.0f);
    QCOMPARE(r.count, 1);
    QCOMPARE(r.p1, Point3Df(1, 2, 5));
    QCOMPARE(util3D::segmentIntersectPlaneZ(Point3Df(1, 2, 5), Point3Df(3, 4, 5), 5.5f).count, 0);
    QCOMPARE(util3D::segmentIntersectPlaneZ(Point3Df(0, 0, 0), Point3Df(4, 2, 2), 1.0f).p1, Point3Df(2, 1, 1));
}

void tst_Util3D::nonFiniteLineMeetsNoPlane_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("count");

    // The segment from the origin to (2, 2, 2) crosses the planes x = 1, y = 1
    // and z = 1 at (1, 1, 1).
    const Point3Df a(0, 0, 0), b(2, 2, 2);
    QTest::newRow("finite") << a << b << 1.0f << 1;
    QTest::newRow("NaN in a") << Point3Df(0, NaN, 0) << b << 1.0f << 0;
    QTest::newRow("NaN in b") << a << Point3Df(2, 2, NaN) << 1.0f << 0;
    QTest::newRow("NaN value") << a << b << NaN << 0;
    QTest::newRow("infinite value") << a << b << Inf << 0;
    QTest::newRow("infinite b") << a << Point3Df(Inf, 2, 2) << 1.0f << 0;
    QTest::newRow("b infinitely high") << a << Point3Df(2, 2, Inf) << 1.0f << 0;
}

void tst_Util3D::nonFiniteLineMeetsNoPlane()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(float, value);
    QFETCH(int, count);

    const Point3Df n(0, 0, 1), q(5, -5, value);
    for (const IntersectionPoints3Df &result :
         {util3D::rayIntersectPlaneX(a, b, value), util3D::rayIntersectPlaneY(a, b, value),
          util3D::rayIntersectPlaneZ(a, b, value), util3D::segmentIntersectPlaneZ(a, b, value),
          util3D::rayIntersectPlane(a, b, n, q), util3D::segmentIntersectPlane(a, b, n, q)}) {
        QCOMPARE(result.count, count);
        QVERIFY(isFinite(result));
        if (count)
            QCOMPARE(result.p1, Point3Df(1, 1, 1));
    }
}

void tst_Util3D::rayIntersectTriangle_data()
{
    QTest::addColumn<Point3Df>("o");
    QTest::addColumn<Point3Df>("d");
    QTest::addColumn<int>("count");
    QTest::addColumn<Point3Df>("point");

    // The triangle (0,0,0), (1,0,0), (0,1,0), facing +z.
    QTest::newRow("from the front") << Point3Df(0.2f, 0.2f, 1) << Point3Df(0, 0, -1) << 1 << Point3Df(0.2f, 0.2f, 0);
    QTest::newRow("long direction") << Point3Df(0.2f, 0.2f, 1) << Point3Df(0, 0, -4) << 1 << Point3Df(0.2f, 0.2f, 0);
    QTest::newRow("slanted") << Point3Df(0, 0, 1) << Point3Df(0.25f, 0.25f, -1) << 1 << Point3Df(0.25f, 0.25f, 0);
    QTest::newRow("from behind") << Point3Df(0.2f, 0.2f, -1) << Point3Df(0, 0, 1) << 0 << Point3Df();
    QTest::newRow("pointing away") << Point3Df(0.2f, 0.2f, 1) << Point3Df(0, 0, 1) << 0 << Point3Df();
    QTest::newRow("beside") << Point3Df(0.8f, 0.8f, 1) << Point3Df(0, 0, -1) << 0 << Point3Df();
    QTest::newRow("edge-on") << Point3Df(-1, 0.2f, 0) << Point3Df(1, 0, 0) << 0 << Point3Df();
    QTest::newRow("on a vertex") << Point3Df(1, 0, 1) << Point3Df(0, 0, -1) << 1 << Point3Df(1, 0, 0);
}

void tst_Util3D::rayIntersectTriangle()
{
    QFETCH(Point3Df, o);
    QFETCH(Point3Df, d);
    QFETCH(int, count);
    QFETCH(Point3Df, point);

    const IntersectionPoints3Df r =
        util3D::rayIntersectTriangle(o, d, Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 1, 0));
    QCOMPARE(r.count, count);
    if (count)
        QVERIFY2(near(r.p1, point), describe(r.p1).constData());
}

void tst_Util3D::nonFiniteRayMeetsNoTriangle_data()
{
    QTest::addColumn<Point3Df>("o");
    QTest::addColumn<Point3Df>("d");
    QTest::addColumn<Point3Df>("t0");
    QTest::addColumn<Point3Df>("t1");
    QTest::addColumn<Point3Df>("t2");
    QTest::addColumn<int>("count");

    // A ray onto the triangle (0,0,0), (1,0,0), (0,1,0) from the front, then with one input spoilt.
    const Point3Df o(0.2f, 0.2f, 1), d(0, 0, -1), t0(0, 0, 0), t1(1, 0, 0), t2(0, 1, 0);
    QTest::newRow("finite") << o << d << t0 << t1 << t2 << 1;
    QTest::newRow("NaN in the direction's z") << o << Point3Df(0, 0, NaN) << t0 << t1 << t2 << 0;
    QTest::newRow("NaN in the direction's x") << o << Point3Df(NaN, 0, -1) << t0 << t1 << t2 << 0;
    QTest::newRow("NaN in the origin") << Point3Df(NaN, 0.2f, 1) << d << t0 << t1 << t2 << 0;
    QTest::newRow("NaN in the first vertex") << o << d << Point3Df(0, 0, NaN) << t1 << t2 << 0;
    QTest::newRow("NaN in the second vertex") << o << d << t0 << Point3Df(1, NaN, 0) << t2 << 0;
    QTest::newRow("NaN in the third vertex") << o << d << t0 << t1 << Point3Df(0, NaN, 0) << 0;
    QTest::newRow("infinite direction") << o << Point3Df(0, 0, -Inf) << t0 << t1 << t2 << 0;
    QTest::newRow("infinite vertex") << o << d << t0 << t1 << Point3Df(0, Inf, 0) << 0;
}

void tst_Util3D::nonFiniteRayMeetsNoTriangle()
{
    QFETCH(Point3Df, o);
    QFETCH(Point3Df, d);
    QFETCH(Point3Df, t0);
    QFETCH(Point3Df, t1);
    QFETCH(Point3Df, t2);
    QFETCH(int, count);

    const IntersectionPoints3Df r = util3D::rayIntersectTriangle(o, d, t0, t1, t2);
    QCOMPARE(r.count, count);
    QVERIFY(isFinite(r));
}

QTEST_APPLESS_MAIN(tst_Util3D)

#include "tst_util3d.moc"
