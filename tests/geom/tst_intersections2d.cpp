#include "geomtestutil.h"
#include "util2d.h"

#include <QTest>

#include <cmath>
#include <limits>

using geom::Bounds2Df;
using geom::IntersectionPoints2Dd;
using geom::IntersectionPoints2Df;
using geom::Point2Dd;
using geom::Point2Df;

namespace {

const double Pi = 3.141592653589793;
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

Point2Dd widened(const Point2Df &p)
{
    return Point2Dd(p.x, p.y);
}

bool near(const Point2Dd &a, const Point2Dd &b, double tol = 1e-6)
{
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol;
}

bool isFinite(const IntersectionPoints2Dd &r)
{
    return std::isfinite(r.p1.x) && std::isfinite(r.p1.y) && std::isfinite(r.p2.x) && std::isfinite(r.p2.y);
}

// Counts the warnings the kernel sends through Qt's message handler.
int warnings = 0;
QtMessageHandler previousHandler = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg)
        ++warnings;
    previousHandler(type, context, text);
}

// Two points of a line, ray or segment, two of another, and what they share.
void addPairColumns()
{
    QTest::addColumn<Point2Df>("a1");
    QTest::addColumn<Point2Df>("a2");
    QTest::addColumn<Point2Df>("b1");
    QTest::addColumn<Point2Df>("b2");
    QTest::addColumn<int>("count");
    QTest::addColumn<Point2Df>("point");
}

} // namespace

class tst_Intersections2D : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lineIntersectLine_data();
    void lineIntersectLine();
    void segmentIntersectSegment_data();
    void segmentIntersectSegment();
    void parallelIsAnAngle_data();
    void parallelIsAnAngle();
    void rayIntersectSegment_data();
    void rayIntersectSegment();
    void segmentIntersectLine();
    void segmentIntersectBounds_data();
    void segmentIntersectBounds();
    void arcs_data();
    void arcs();
    void closestPointOnCircle();
    void circleIntersectCircle_data();
    void circleIntersectCircle();
    void arcIntersectArc();
    void lineIntersectCircle_data();
    void lineIntersectCircle();
    void degenerateLineMeetsNoCircle_data();
    void degenerateLineMeetsNoCircle();
    void nonFiniteLineMeetsNoCircle_data();
    void nonFiniteLineMeetsNoCircle();
};

void tst_Intersections2D::initTestCase()
{
    previousHandler = qInstallMessageHandler(countWarnings);
}

void tst_Intersections2D::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

void tst_Intersections2D::lineIntersectLine_data()
{
    addPairColumns();

    QTest::newRow("axes") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(0, -1) << Point2Df(0, 1) << 1 << Point2Df(0, 0);
    QTest::newRow("beyond both pairs") << Point2Df(0, 0) << Point2Df(1, 1) << Point2Df(4, 0) << Point2Df(5, -1) << 1
                                       << Point2Df(2, 2);
    QTest::newRow("parallel") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(0, 1) << Point2Df(1, 1) << 0 << Point2Df();
    QTest::newRow("same line") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(2, 0) << Point2Df(3, 0) << 0 << Point2Df();
}

void tst_Intersections2D::lineIntersectLine()
{
    QFETCH(Point2Df, a1);
    QFETCH(Point2Df, a2);
    QFETCH(Point2Df, b1);
    QFETCH(Point2Df, b2);
    QFETCH(int, count);
    QFETCH(Point2Df, point);

    const IntersectionPoints2Df f = util2D::lineIntersectLine(a1, a2, b1, b2);
    QCOMPARE(f.count, count);
    const IntersectionPoints2Dd d = util2D::lineIntersectLine(widened(a1), widened(a2), widened(b1), widened(b2));
    QCOMPARE(d.count, count);
    if (count) {
        QCOMPARE(f.p1, point);
        QCOMPARE(f.p2, point);
        QCOMPARE(d.p1, widened(point));
    }
}

void tst_Intersections2D::segmentIntersectSegment_data()
{
    addPairColumns();

    QTest::newRow("cross") << Point2Df(0, 0) << Point2Df(2, 2) << Point2Df(0, 2) << Point2Df(2, 0) << 1 << Point2Df(1, 1);
    QTest::newRow("cross, ends listed right to left") << Point2Df(2, 2) << Point2Df(0, 0) << Point2Df(2, 0)
                                                      << Point2Df(0, 2) << 1 << Point2Df(1, 1);
    QTest::newRow("collinear, end to end") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(1, 0) << Point2Df(2, 0) << 0
                                           << Point2Df();
    QTest::newRow("touching at an end") << Point2Df(0, 0) << Point2Df(1, 1) << Point2Df(1, 1) << Point2Df(2, 0) << 1
                                        << Point2Df(1, 1);
    QTest::newRow("T junction") << Point2Df(0, 0) << Point2Df(4, 0) << Point2Df(2, 0) << Point2Df(2, 3) << 1
                                << Point2Df(2, 0);
    QTest::newRow("vertical and horizontal") << Point2Df(1, -1) << Point2Df(1, 1) << Point2Df(0, 0) << Point2Df(2, 0) << 1
                                             << Point2Df(1, 0);
    QTest::newRow("lines meet beyond an end") << Point2Df(0, 0) << Point2Df(1, 1) << Point2Df(0, 4) << Point2Df(4, 0) << 0
                                              << Point2Df();
    QTest::newRow("boxes apart") << Point2Df(0, 0) << Point2Df(1, 1) << Point2Df(2, 2) << Point2Df(3, 1) << 0 << Point2Df();
    QTest::newRow("parallel") << Point2Df(0, 0) << Point2Df(2, 2) << Point2Df(0, 1) << Point2Df(2, 3) << 0 << Point2Df();
    // Small and large segments alike.
    QTest::newRow("cross, 2e-3 long") << Point2Df(0, 0) << Point2Df(0.002f, 0.002f) << Point2Df(0, 0.002f)
                                      << Point2Df(0.002f, 0) << 1 << Point2Df(0.001f, 0.001f);
    QTest::newRow("cross, 2e-6 long") << Point2Df(0, 0) << Point2Df(2e-6f, 2e-6f) << Point2Df(0, 2e-6f)
                                      << Point2Df(2e-6f, 0) << 1 << Point2Df(1e-6f, 1e-6f);
    QTest::newRow("cross, 2e6 long") << Point2Df(0, 0) << Point2Df(2e6f, 2e6f) << Point2Df(0, 2e6f) << Point2Df(2e6f, 0)
                                     << 1 << Point2Df(1e6f, 1e6f);
    QTest::newRow("parallel, 2e-3 long, rounded") << Point2Df(0, 0) << Point2Df(0.002f, 0.002f) << Point2Df(0, 0.001f)
                                                  << Point2Df(0.002f, 0.003f) << 0 << Point2Df();
    QTest::newRow("collinear, overlapping, 2e-3 long") << Point2Df(0, 0) << Point2Df(0.002f, 0) << Point2Df(0.001f, 0)
                                                       << Point2Df(0.003f, 0) << 0 << Point2Df();
    QTest::newRow("collinear, overlapping, 3e6 long") << Point2Df(0, 0) << Point2Df(3e6f, 1e6f) << Point2Df(1.5e6f, 5e5f)
                                                      << Point2Df(6e6f, 2e6f) << 0 << Point2Df();
    QTest::newRow("a point on a segment") << Point2Df(1, 1) << Point2Df(1, 1) << Point2Df(0, 0) << Point2Df(2, 2) << 0
                                          << Point2Df();
}

void tst_Intersections2D::segmentIntersectSegment()
{
    QFETCH(Point2Df, a1);
    QFETCH(Point2Df, a2);
    QFETCH(Point2Df, b1);
    QFETCH(Point2Df, b2);
    QFETCH(int, count);
    QFETCH(Point2Df, point);

    const IntersectionPoints2Df f = util2D::segmentIntersectSegment(a1, a2, b1, b2);
    const IntersectionPoints2Dd d = util2D::segmentIntersectSegment(widened(a1), widened(a2), widened(b1), widened(b2));
    QCOMPARE(f.count, count);
    QCOMPARE(d.count, count);
    if (count) {
        QCOMPARE(f.p1, point);
        QCOMPARE(d.p1, widened(point));
    }
    // The order of the two segments does not matter.
    QCOMPARE(util2D::segmentIntersectSegment(b1, b2, a1, a2).count, count);
}

void tst_Intersections2D::parallelIsAnAngle_data()
{
    QTest::addColumn<float>("length");
    QTest::addColumn<float>("angle");
    QTest::addColumn<int>("floatCount");
    QTest::addColumn<int>("doubleCount");

    // Segments are parallel when the angle between them is below 1e-5 (float)
    // or 1e-12 (double), however long they are.
    for (float length : {1e-3f, 1.0f, 1e3f, 1e6f}) {
        QTest::addRow("angle 1e-4, %g long", double(length)) << length << 1e-4f << 1 << 1;
        QTest::addRow("angle 2e-6, %g long", double(length)) << length << 2e-6f << 0 << 1;
        QTest::addRow("angle 2e-13, %g long", double(length)) << length << 2e-13f << 0 << 0;
    }
}

void tst_Intersections2D::parallelIsAnAngle()
{
    QFETCH(float, length);
    QFETCH(float, angle);
    QFETCH(int, floatCount);
    QFETCH(int, doubleCount);

    // Along the x axis, and across it through (length / 2, 0) at a small angle.
    const float rise = length * angle / 2;
    const Point2Df a1(0, 0), a2(length, 0), b1(0, -rise), b2(length, rise);
    const Point2Df middle(length / 2, 0);
    const IntersectionPoints2Df f = util2D::segmentIntersectSegment(a1, a2, b1, b2);
    QCOMPARE(f.count, floatCount);
    if (floatCount)
        QCOMPARE(f.p1, middle);
    QCOMPARE(util2D::segmentIntersectSegment(b1, b2, a1, a2).count, floatCount);
    const IntersectionPoints2Dd d = util2D::segmentIntersectSegment(widened(a1), widened(a2), widened(b1), widened(b2));
    QCOMPARE(d.count, doubleCount);
    if (doubleCount)
        QVERIFY2(near(d.p1, widened(middle), 1e-9 * double(length)), describe(d.p1).constData());
}

void tst_Intersections2D::rayIntersectSegment_data()
{
    addPairColumns();

    QTest::newRow("far beyond b") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(5, -1) << Point2Df(5, 1) << 1
                                  << Point2Df(5, 0);
    QTest::newRow("behind a") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(-5, -1) << Point2Df(-5, 1) << 0 << Point2Df();
    QTest::newRow("past the segment's end") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(5, 1) << Point2Df(5, 3) << 0
                                            << Point2Df();
    QTest::newRow("at the segment's end") << Point2Df(0, 0) << Point2Df(1, 1) << Point2Df(2, 2) << Point2Df(4, 0) << 1
                                          << Point2Df(2, 2);
    QTest::newRow("parallel") << Point2Df(0, 0) << Point2Df(1, 0) << Point2Df(0, 1) << Point2Df(3, 1) << 0 << Point2Df();
}

void tst_Intersections2D::rayIntersectSegment()
{
    QFETCH(Point2Df, a1);
    QFETCH(Point2Df, a2);
    QFETCH(Point2Df, b1);
    QFETCH(Point2Df, b2);
    QFETCH(int, count);
    QFETCH(Point2Df, point);

    const IntersectionPoints2Df r = util2D::rayIntersectSegment(a1, a2, b1, b2);
    QCOMPARE(r.count, count);
    if (count)
        QCOMPARE(r.p1, point);
}

void tst_Intersections2D::segmentIntersectLine()
{
    // On the segment.
    IntersectionPoints2Df f = util2D::segmentIntersectLine(Point2Df(0, 0), Point2Df(4, 0), Point2Df(1, -1), Point2Df(1, 1));
    QCOMPARE(f.count, 1);
    QCOMPARE(f.p1, Point2Df(1, 0));
    // Off the segment: the line crossing is kept with count 0.
    f = util2D::segmentIntersectLine(Point2Df(0, 0), Point2Df(4, 0), Point2Df(6, -1), Point2Df(6, 1));
    QCOMPARE(f.count, 0);
    QCOMPARE(f.p1, Point2Df(6, 0));
    // At the b end: excluded for float segments, included for double ones.
    f = util2D::segmentIntersectLine(Point2Df(0, 0), Point2Df(4, 0), Point2Df(4, -1), Point2Df(4, 1));
    QCOMPARE(f.count, 0);
    IntersectionPoints2Dd d = util2D::segmentIntersectLine(Point2Dd(0, 0), Point2Dd(4, 0), Point2Dd(4, -1), Point2Dd(4, 1));
    QCOMPARE(d.count, 1);
    QCOMPARE(d.p1, Point2Dd(4, 0));
    f = util2D::segmentIntersectLine(Point2Df(0, 0), Point2Df(4, 0), Point2Df(0, -1), Point2Df(0, 1));
    QCOMPARE(f.count, 1);
    // Parallel: nothing at all.
    QCOMPARE(util2D::segmentIntersectLine(Point2Dd(0, 0), Point2Dd(4, 0), Point2Dd(0, 1), Point2Dd(4, 1)).count, 0);
}

void tst_Intersections2D::segmentIntersectBounds_data()
{
    QTest::addColumn<Point2Df>("a");
    QTest::addColumn<Point2Df>("b");
    QTest::addColumn<Bounds2Df>("box");
    QTest::addColumn<int>("count");
    QTest::addColumn<Point2Df>("point");

    const Bounds2Df box(Point2Df(0, 0), Point2Df(10, 10));
    QTest::newRow("up through both y sides: the minY crossing") << Point2Df(5, 15) << Point2Df(5, -5) << box << 1
                                                                << Point2Df(5, 0);
    QTest::newRow("out through the right side") << Point2Df(5, 5) << Point2Df(15, 5) << box << 1 << Point2Df(10, 5);
    QTest::newRow("out through the left side") << Point2Df(5, 5) << Point2Df(-5, 7) << box << 1 << Point2Df(0, 6);
    QTest::newRow("inside") << Point2Df(2, 2) << Point2Df(8, 8) << box << 0 << Point2Df();
    QTest::newRow("beside") << Point2Df(-5, -5) << Point2Df(-1, 20) << box << 0 << Point2Df();
    // Small boxes have sides as short as the segments that cross them.
    QTest::newRow("2e-3 box, out through the right side")
        << Point2Df(0.001f, 0.001f) << Point2Df(0.003f, 0.001f) << Bounds2Df(Point2Df(0, 0), Point2Df(0.002f, 0.002f)) << 1
        << Point2Df(0.002f, 0.001f);
    QTest::newRow("2.5e-3 box, out through the left side")
        << Point2Df(0.00125f, 0.00125f) << Point2Df(-0.001f, 0.00125f)
        << Bounds2Df(Point2Df(0, 0), Point2Df(0.0025f, 0.0025f)) << 1 << Point2Df(0, 0.00125f);
    QTest::newRow("1e6 box, out through the top") << Point2Df(5e5f, 5e5f) << Point2Df(5e5f, 2e6f)
                                                  << Bounds2Df(Point2Df(0, 0), Point2Df(1e6f, 1e6f)) << 1
                                                  << Point2Df(5e5f, 1e6f);
    // A side that is not finite makes no box; the other sides are not crossed either.
    const float nan = float(NaN);
    const float inf = float(Inf);
    QTest::newRow("box with a NaN side") << Point2Df(5, 5) << Point2Df(15, 5) << Bounds2Df(Point2Df(nan, 0), Point2Df(10, 10)) << 0
                                         << Point2Df();
    QTest::newRow("box with an infinite side") << Point2Df(5, 5) << Point2Df(15, 5) << Bounds2Df(Point2Df(-inf, 0), Point2Df(10, 10)) << 0
                                               << Point2Df();
    QTest::newRow("NaN end") << Point2Df(5, 5) << Point2Df(15, nan) << box << 0 << Point2Df();
}

void tst_Intersections2D::segmentIntersectBounds()
{
    QFETCH(Point2Df, a);
    QFETCH(Point2Df, b);
    QFETCH(Bounds2Df, box);
    QFETCH(int, count);
    QFETCH(Point2Df, point);

    const IntersectionPoints2Df r = util2D::segmentIntersectBounds(a, b, box);
    QCOMPARE(r.count, count);
    // Within rounding of the box's size.
    const double tol = 1e-6 * double(box.maxX - box.minX);
    if (count)
        QVERIFY2(near(widened(r.p1), widened(point), tol), describe(r.p1).constData());
}

void tst_Intersections2D::arcs_data()
{
    QTest::addColumn<Point2Dd>("p");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("sweep");
    QTest::addColumn<double>("parameter");
    QTest::addColumn<bool>("onArc");

    // Unit circle about (3, -2).
    QTest::newRow("end of a quarter") << Point2Dd(3, -1) << 0.0 << Pi / 2 << 1.0 << true;
    QTest::newRow("start of a quarter") << Point2Dd(4, -2) << 0.0 << Pi / 2 << 0.0 << true;
    QTest::newRow("middle of a quarter") << Point2Dd(3 + std::sqrt(0.5), -2 + std::sqrt(0.5)) << 0.0 << Pi / 2 << 0.5 << true;
    QTest::newRow("beyond a quarter") << Point2Dd(3, -3) << 0.0 << Pi / 2 << 3.0 << false;
    QTest::newRow("clockwise quarter") << Point2Dd(3, -3) << 0.0 << -Pi / 2 << 1.0 << true;
    QTest::newRow("clockwise, wrong side") << Point2Dd(3, -1) << 0.0 << -Pi / 2 << 3.0 << false;
    QTest::newRow("half turn across -x") << Point2Dd(2, -2) << Pi / 2 << Pi << 0.5 << true;
    QTest::newRow("off the circle") << Point2Dd(3, -0.5) << 0.0 << Pi / 2 << 1.0 << false;
}

void tst_Intersections2D::arcs()
{
    QFETCH(Point2Dd, p);
    QFETCH(double, start);
    QFETCH(double, sweep);
    QFETCH(double, parameter);
    QFETCH(bool, onArc);

    const Point2Dd centre(3, -2);
    QVERIFY(std::fabs(util2D::arcParameter(p, centre, start, sweep) - parameter) < 1e-6);
    QCOMPARE(util2D::isOnArc(p, start, sweep, 1.0, centre), onArc);
}

void tst_Intersections2D::closestPointOnCircle()
{
    QCOMPARE(util2D::closestPointOnCircle(Point2Dd(5, 4), 2.0, Point2Dd(2, 0)), Point2Dd(2 + 1.2, 1.6));
    QCOMPARE(util2D::closestPointOnCircle(Point2Dd(0.5, 0), 2.0), Point2Dd(2, 0));
    // No direction from the centre: the centre itself.
    QCOMPARE(util2D::closestPointOnCircle(Point2Dd(2, 0), 2.0, Point2Dd(2, 0)), Point2Dd(2, 0));
    QVERIFY(util2D::isOnCircle(Point2Dd(2, 2), 2.0, Point2Dd(2, 0)));
    QVERIFY(!util2D::isOnCircle(Point2Dd(2, 2.001), 2.0, Point2Dd(2, 0)));
}

void tst_Intersections2D::circleIntersectCircle_data()
{
    QTest::addColumn<double>("r1");
    QTest::addColumn<Point2Dd>("c1");
    QTest::addColumn<double>("r2");
    QTest::addColumn<int>("count");
    QTest::addColumn<Point2Dd>("p1");
    QTest::addColumn<Point2Dd>("p2");

    const double h = std::sqrt(0.75);
    QTest::newRow("touching from outside") << 1.0 << Point2Dd(2, 0) << 1.0 << 1 << Point2Dd(1, 0) << Point2Dd(1, 0);
    QTest::newRow("crossing") << 1.0 << Point2Dd(1, 0) << 1.0 << 2 << Point2Dd(0.5, -h) << Point2Dd(0.5, h);
    QTest::newRow("apart") << 1.0 << Point2Dd(3, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("coincident") << 1.0 << Point2Dd(0, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("nested") << 0.5 << Point2Dd(0.2, 0) << 2.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("concentric") << 0.5 << Point2Dd(0, 0) << 2.0 << 0 << Point2Dd() << Point2Dd();
    // Touching from inside: the one shared point, never a warning.
    QTest::newRow("circle 1 inside circle 2, touching") << 1.0 << Point2Dd(1, 0) << 2.0 << 1 << Point2Dd(2, 0)
                                                        << Point2Dd(2, 0);
    QTest::newRow("circle 2 inside circle 1, touching") << 2.0 << Point2Dd(0, 1) << 1.0 << 1 << Point2Dd(0, -1)
                                                        << Point2Dd(0, -1);
    QTest::newRow("touching within rounding") << 0.1 << Point2Dd(0.1 + 0.2, 0) << 0.2 << 1 << Point2Dd(0.2, 0)
                                              << Point2Dd(0.2, 0);
    QTest::newRow("crossing near touching from inside") << 1.0 << Point2Dd(1.001, 0) << 2.0 << 2
                                                        << Point2Dd(1.9990014985014988, -0.06319026023654703)
                                                        << Point2Dd(1.9990014985014988, 0.06319026023654703);
    QTest::newRow("touching from inside, diagonal") << 1.0 << Point2Dd(0.6, 0.8) << 2.0 << 1 << Point2Dd(1.2, 1.6)
                                                    << Point2Dd(1.2, 1.6);
    // Input that is not a number meets nothing.
    QTest::newRow("NaN radius 1") << NaN << Point2Dd(1, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("NaN radius 2") << 1.0 << Point2Dd(1, 0) << NaN << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("NaN in centre 1") << 1.0 << Point2Dd(NaN, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("NaN in centre 1, y") << 1.0 << Point2Dd(1, NaN) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("infinite radius 1") << Inf << Point2Dd(1, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
    QTest::newRow("infinite centre 1") << 1.0 << Point2Dd(Inf, 0) << 1.0 << 0 << Point2Dd() << Point2Dd();
}

void tst_Intersections2D::circleIntersectCircle()
{
    QFETCH(double, r1);
    QFETCH(Point2Dd, c1);
    QFETCH(double, r2);
    QFETCH(int, count);
    QFETCH(Point2Dd, p1);
    QFETCH(Point2Dd, p2);

    warnings = 0;
    IntersectionPoints2Dd r = util2D::circleIntersectCircle(r1, c1, r2);
    QCOMPARE(r.count, count);
    QVERIFY(isFinite(r));
    if (count) {
        QVERIFY2(near(r.p1, p1, 1e-9), describe(r.p1).constData());
        QVERIFY2(near(r.p2, p2, 1e-9), describe(r.p2).constData());
    }
    // The same pair moved away from the origin.
    const Point2Dd o(-7.5, 12.25);
    r = util2D::circleIntersectCircle(r1, c1 + o, r2, o);
    QCOMPARE(r.count, count);
    if (count)
        QVERIFY(near(r.p1, p1 + o, 1e-9) && near(r.p2, p2 + o, 1e-9));
    // A second centre that is not a number spoils any pair.
    for (const Point2Dd &c2 : {Point2Dd(NaN, 0), Point2Dd(0, NaN), Point2Dd(Inf, 0)}) {
        r = util2D::circleIntersectCircle(r1, c1, r2, c2);
        QCOMPARE(r.count, 0);
        QVERIFY(isFinite(r));
    }
    QCOMPARE(warnings, 0);
}

void tst_Intersections2D::arcIntersectArc()
{
    const double h = std::sqrt(0.75);
    // Two unit circles meeting at (0.5, +-h); the upper halves share only the upper point.
    IntersectionPoints2Dd r = util2D::arcIntersectArc(0.0, Pi, 1.0, Point2Dd(0, 0), 0.0, Pi, 1.0, Point2Dd(1, 0));
    QCOMPARE(r.count, 1);
    QVERIFY(near(r.p1, Point2Dd(0.5, h)));
    // Full circles keep both, in the circles' order.
    r = util2D::arcIntersectArc(-Pi, 2 * Pi, 1.0, Point2Dd(0, 0), -Pi, 2 * Pi, 1.0, Point2Dd(1, 0));
    QCOMPARE(r.count, 2);
    QVERIFY(near(r.p1, Point2Dd(0.5, h)) && near(r.p2, Point2Dd(0.5, -h)));
    // A lower arc against an upper one: nothing.
    QCOMPARE(util2D::arcIntersectArc(0.0, -Pi, 1.0, Point2Dd(0, 0), 0.0, Pi, 1.0, Point2Dd(1, 0)).count, 0);
    // Circles apart: nothing.
    QCOMPARE(util2D::arcIntersectArc(0.0, Pi, 1.0, Point2Dd(0, 0), 0.0, Pi, 1.0, Point2Dd(5, 0)).count, 0);
    // An angle that is not finite gives no arc.
    for (double bad : {NaN, Inf, -Inf}) {
        QCOMPARE(util2D::arcIntersectArc(bad, 2 * Pi, 1.0, Point2Dd(0, 0), -Pi, 2 * Pi, 1.0, Point2Dd(1, 0)).count, 0);
        QCOMPARE(util2D::arcIntersectArc(-Pi, bad, 1.0, Point2Dd(0, 0), -Pi, 2 * Pi, 1.0, Point2Dd(1, 0)).count, 0);
        QCOMPARE(util2D::arcIntersectArc(-Pi, 2 * Pi, 1.0, Point2Dd(0, 0), bad, 2 * Pi, 1.0, Point2Dd(1, 0)).count, 0);
        QCOMPARE(util2D::arcIntersectArc(-Pi, 2 * Pi, 1.0, Point2Dd(0, 0), -Pi, bad, 1.0, Point2Dd(1, 0)).count, 0);
    }
}

void tst_Intersections2D::lineIntersectCircle_data()
{
    QTest::addColumn<Point2Dd>("a");
    QTest::addColumn<Point2Dd>("b");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<Point2Dd>("p1");
    QTest::addColumn<Point2Dd>("p2");
    QTest::addColumn<int>("segmentCount");
    QTest::addColumn<int>("arcCount");

    // The unit circle about the origin; the arc is its upper half.
    QTest::newRow("tangent") << Point2Dd(-2, 1) << Point2Dd(2, 1) << 1 << Point2Dd(0, 1) << Point2Dd(0, 1) << 1 << 1;
    QTest::newRow("through, left to right") << Point2Dd(-2, 0) << Point2Dd(2, 0) << 2 << Point2Dd(-1, 0) << Point2Dd(1, 0)
                                            << 2 << 2;
    QTest::newRow("through, right to left") << Point2Dd(2, 0) << Point2Dd(-2, 0) << 2 << Point2Dd(1, 0)
                                            << Point2Dd(-1, 0) << 2 << 2;
    QTest::newRow("segment from the centre") << Point2Dd(0, 0) << Point2Dd(0, -2) << 2 << Point2Dd(0, 1)
                                             << Point2Dd(0, -1) << 1 << 0;
    QTest::newRow("segment inside") << Point2Dd(-0.5, 0.5) << Point2Dd(0.5, 0.5) << 2 << Point2Dd(-std::sqrt(0.75), 0.5)
                                    << Point2Dd(std::sqrt(0.75), 0.5) << 0 << 0;
    QTest::newRow("miss") << Point2Dd(-2, 3) << Point2Dd(2, 3) << 0 << Point2Dd() << Point2Dd() << 0 << 0;
}

void tst_Intersections2D::lineIntersectCircle()
{
    QFETCH(Point2Dd, a);
    QFETCH(Point2Dd, b);
    QFETCH(int, lineCount);
    QFETCH(Point2Dd, p1);
    QFETCH(Point2Dd, p2);
    QFETCH(int, segmentCount);
    QFETCH(int, arcCount);

    const Point2Dd o(3, -4);
    const IntersectionPoints2Dd line = util2D::lineIntersectCircle(a + o, b + o, 1.0, o);
    QCOMPARE(line.count, lineCount);
    if (lineCount) {
        QVERIFY2(near(line.p1, p1 + o, 1e-9), describe(line.p1).constData());
        QVERIFY2(near(line.p2, p2 + o, 1e-9), describe(line.p2).constData());
    }
    QCOMPARE(util2D::segmentIntersectCircle(a + o, b + o, 1.0, o).count, segmentCount);
    const IntersectionPoints2Dd arc = util2D::segmentIntersectArc(a + o, b + o, 0.0, Pi, 1.0, o);
    QCOMPARE(arc.count, arcCount);
    for (const Point2Dd &p : {arc.p1, arc.p2})
        if (arcCount)
            QVERIFY(p.y - o.y >= -1e-9);
}

void tst_Intersections2D::degenerateLineMeetsNoCircle_data()
{
    QTest::addColumn<Point2Dd>("a");
    QTest::addColumn<Point2Dd>("b");
    QTest::addColumn<double>("r");

    QTest::newRow("at the centre") << Point2Dd(0, 0) << Point2Dd(0, 0) << 1.0;
    QTest::newRow("at the centre, zero radius") << Point2Dd(0, 0) << Point2Dd(0, 0) << 0.0;
    QTest::newRow("on the rim") << Point2Dd(1, 0) << Point2Dd(1, 0) << 1.0;
    QTest::newRow("ends 1e-6 apart inside") << Point2Dd(0.5, 0) << Point2Dd(0.5, 1e-6) << 1.0;
    QTest::newRow("ends 1e-7 apart on the rim") << Point2Dd(0, 1) << Point2Dd(1e-7, 1) << 1.0;
}

void tst_Intersections2D::degenerateLineMeetsNoCircle()
{
    QFETCH(Point2Dd, a);
    QFETCH(Point2Dd, b);
    QFETCH(double, r);

    for (const IntersectionPoints2Dd &result :
         {util2D::lineIntersectCircle(a, b, r, Point2Dd(0, 0)), util2D::segmentIntersectCircle(a, b, r, Point2Dd(0, 0)),
          util2D::segmentIntersectArc(a, b, -Pi, 2 * Pi, r)}) {
        QCOMPARE(result.count, 0);
        QVERIFY(isFinite(result));
    }
    // Ends just far enough apart make a line again.
    QCOMPARE(util2D::lineIntersectCircle(Point2Dd(0.5, 0), Point2Dd(0.5, 2e-6), 1.0, Point2Dd(0, 0)).count, 2);
}

void tst_Intersections2D::nonFiniteLineMeetsNoCircle_data()
{
    QTest::addColumn<Point2Dd>("a");
    QTest::addColumn<Point2Dd>("b");
    QTest::addColumn<double>("r");
    QTest::addColumn<Point2Dd>("c");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("sweep");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("arcCount");

    // The segment y = 0.5 across the unit circle about (1, 2) and its upper half, then with one input spoilt.
    const Point2Dd a(-1, 2.5), b(3, 2.5), c(1, 2);
    QTest::newRow("finite") << a << b << 1.0 << c << 0.0 << Pi << 2 << 2;
    QTest::newRow("NaN in a") << Point2Dd(NaN, 2.5) << b << 1.0 << c << 0.0 << Pi << 0 << 0;
    QTest::newRow("infinite b") << a << Point2Dd(3, Inf) << 1.0 << c << 0.0 << Pi << 0 << 0;
    QTest::newRow("NaN radius") << a << b << NaN << c << 0.0 << Pi << 0 << 0;
    QTest::newRow("infinite radius") << a << b << Inf << c << 0.0 << Pi << 0 << 0;
    QTest::newRow("NaN in the centre") << a << b << 1.0 << Point2Dd(1, NaN) << 0.0 << Pi << 0 << 0;
    QTest::newRow("NaN start") << a << b << 1.0 << c << NaN << Pi << 2 << 0;
    QTest::newRow("infinite sweep") << a << b << 1.0 << c << 0.0 << Inf << 2 << 0;
}

void tst_Intersections2D::nonFiniteLineMeetsNoCircle()
{
    QFETCH(Point2Dd, a);
    QFETCH(Point2Dd, b);
    QFETCH(double, r);
    QFETCH(Point2Dd, c);
    QFETCH(double, start);
    QFETCH(double, sweep);
    QFETCH(int, lineCount);
    QFETCH(int, arcCount);

    for (const IntersectionPoints2Dd &result : {util2D::lineIntersectCircle(a, b, r, c), util2D::segmentIntersectCircle(a, b, r, c)}) {
        QCOMPARE(result.count, lineCount);
        QVERIFY(isFinite(result));
    }
    const IntersectionPoints2Dd arc = util2D::segmentIntersectArc(a, b, start, sweep, r, c);
    QCOMPARE(arc.count, arcCount);
    QVERIFY(isFinite(arc));
}

QTEST_APPLESS_MAIN(tst_Intersections2D)

#include "tst_intersections2d.moc"
