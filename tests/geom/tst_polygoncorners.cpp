#include "angle.h"
#include "cornerangles.h"
#include "geomtestutil.h"
#include "polygonedge.h"

#include <QTest>

#include <cmath>
#include <memory>

using geom::CornerAngles;
using geom::Point2Dd;
using geom::Point2Df;
using geom::PolygonEdge;

typedef QVector<Point2Dd> Polygon;
typedef QVector<double> Reals;

namespace {

const double Pi = 3.141592653589793;
const double R = std::sqrt(0.5);

bool near(const Point2Dd &a, const Point2Dd &b, double tol)
{
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol;
}

template <typename P>
Point2Dd widened(const P &p)
{
    return Point2Dd(p.x, p.y);
}

// The per-vertex quantities of either form, widened to double.
struct Corners
{
    Reals angles;
    Polygon directions;
    Polygon bisectors;

    template <typename P>
    explicit Corners(const QVector<PolygonEdge<P>> &table)
    {
        for (const PolygonEdge<P> &e : table) {
            angles.append(e.angle);
            directions.append(widened(e.direction));
            bisectors.append(widened(e.bisector));
        }
    }

    template <typename P>
    explicit Corners(const CornerAngles<P> &corners) : angles(corners.angles())
    {
        for (int i = 0; i < corners.directions().size(); ++i) {
            directions.append(widened(corners.directions().at(i)));
            bisectors.append(widened(corners.bisectors().at(i)));
        }
    }

    void verify(const Reals &expectedAngles, const Polygon &expectedDirections, const Polygon &expectedBisectors,
                double tol) const
    {
        QCOMPARE(angles.size(), expectedAngles.size());
        QCOMPARE(directions.size(), expectedDirections.size());
        QCOMPARE(bisectors.size(), expectedBisectors.size());
        for (int i = 0; i < angles.size(); ++i) {
            QVERIFY2(std::fabs(angles.at(i) - expectedAngles.at(i)) <= tol, qPrintable(QString::number(angles.at(i), 'g', 17)));
            QVERIFY2(near(directions.at(i), expectedDirections.at(i), tol), describe(directions.at(i)).constData());
            QVERIFY2(near(bisectors.at(i), expectedBisectors.at(i), tol), describe(bisectors.at(i)).constData());
        }
    }
};

QVector<Point2Df> narrowed(const Polygon &polygon)
{
    QVector<Point2Df> r;
    for (const Point2Dd &p : polygon)
        r.append(Point2Df(float(p.x), float(p.y)));
    return r;
}

// The plain loop written out from the definition, for float polygons: what
// every path of CornerAngles must give to the last bit.
struct Reference
{
    QVector<double> angles;
    QVector<Point2Df> bisectors;
    QVector<Point2Df> directions;

    Reference(const Point2Df *p, int n) : angles(n, 0.0), bisectors(n), directions(n)
    {
        auto edge = [&](int e) {
            const int next = (e + 1) % n;
            Point2Df d = p[next] - p[e];
            d.setLength(1.0);
            directions[e] = d;
            const double theta = std::atan2(double(d.y), double(d.x));
            angles[e] -= theta;
            angles[next] += theta - Pi;
            bisectors[e] += d;
            bisectors[next] -= d;
        };
        edge(n - 1);
        for (int e = 0; e < n - 1; ++e)
            edge(e);
        for (int k = 0; k < n; ++k) {
            angles[k] = geom::wrapRadians(angles[k]);
            bisectors[k].setLength(1.0);
        }
    }
};

// A star-like polygon of n points with a few repeated and nearly repeated
// points, held in an array of exactly n points (so a read past it is caught by
// the address sanitizer).
std::unique_ptr<Point2Df[]> testPolygon(int n)
{
    std::unique_ptr<Point2Df[]> p(new Point2Df[n]);
    for (int i = 0; i < n; ++i) {
        const double a = 2 * Pi * i / n;
        const double r = (i % 3 == 1) ? 4.0 : 10.0 + i;
        p[i] = Point2Df(float(r * std::cos(a) + 100), float(r * std::sin(a) - 50));
    }
    if (n > 3)
        p[3] = p[2]; // an edge without direction
    if (n > 6)
        p[6] = Point2Df(p[5].x + 5e-7f, p[5].y); // shorter than the 1e-6 guard
    if (n > 9)
        p[n - 1] = p[0]; // the closing edge without direction
    return p;
}

} // namespace

class tst_PolygonCorners : public QObject
{
    Q_OBJECT

private slots:
    void edgeRecords();
    void edgeTable_data();
    void edgeTable();
    void cornerAngles_data();
    void cornerAngles();
    void cornerAnglesOfOnePoint();
    void nothingToCompute();
    void recompute();
    void everyPathGivesThePlainLoop_data();
    void everyPathGivesThePlainLoop();

private:
    void polygons();
};

void tst_PolygonCorners::edgeRecords()
{
    const PolygonEdge<Point2Dd> zero;
    QCOMPARE(zero.angle, 0.0);
    QCOMPARE(zero.direction, Point2Dd(0, 0));
    QCOMPARE(zero.bisector, Point2Dd(0, 0));
    const PolygonEdge<Point2Df> up(Point2Df(0, 1));
    QCOMPARE(up.angle, -Pi / 2);
    QCOMPARE(up.direction, Point2Df(0, 1));
    QCOMPARE(up.bisector, Point2Df(0, 0));

    QVERIFY(geom::edgeTable(QVector<Point2Df>()).isEmpty());
    const QVector<PolygonEdge<Point2Dd>> one = geom::edgeTable(Polygon{Point2Dd(3, 4)});
    QCOMPARE(one.size(), 1);
    QCOMPARE(one.at(0).angle, 0.0);
    QCOMPARE(one.at(0).direction, Point2Dd(0, 0));
    QCOMPARE(one.at(0).bisector, Point2Dd(0, 0));
}

// The expected values in the edge table's convention: a straight run is +pi.
void tst_PolygonCorners::polygons()
{
    QTest::addColumn<Polygon>("polygon");
    QTest::addColumn<Reals>("angles");
    QTest::addColumn<Polygon>("directions");
    QTest::addColumn<Polygon>("bisectors");

    QTest::newRow("two points") << Polygon{Point2Dd(0, 0), Point2Dd(2, 0)} << Reals{0, 0}
                                << Polygon{Point2Dd(1, 0), Point2Dd(-1, 0)} << Polygon{Point2Dd(1, 0), Point2Dd(-1, 0)};
    QTest::newRow("square, counter-clockwise")
        << Polygon{Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 1)} << Reals{Pi / 2, Pi / 2, Pi / 2, Pi / 2}
        << Polygon{Point2Dd(1, 0), Point2Dd(0, 1), Point2Dd(-1, 0), Point2Dd(0, -1)}
        << Polygon{Point2Dd(R, R), Point2Dd(-R, R), Point2Dd(-R, -R), Point2Dd(R, -R)};
    QTest::newRow("square, clockwise")
        << Polygon{Point2Dd(0, 0), Point2Dd(0, 1), Point2Dd(1, 1), Point2Dd(1, 0)}
        << Reals{-Pi / 2, -Pi / 2, -Pi / 2, -Pi / 2}
        << Polygon{Point2Dd(0, 1), Point2Dd(1, 0), Point2Dd(0, -1), Point2Dd(-1, 0)}
        << Polygon{Point2Dd(R, R), Point2Dd(R, -R), Point2Dd(-R, -R), Point2Dd(-R, R)};
    // Straight on along x: exactly +pi; the ends double back.
    QTest::newRow("collinear") << Polygon{Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(2, 0)} << Reals{0, Pi, 0}
                               << Polygon{Point2Dd(1, 0), Point2Dd(1, 0), Point2Dd(-1, 0)}
                               << Polygon{Point2Dd(1, 0), Point2Dd(0, 0), Point2Dd(-1, 0)};
    QTest::newRow("right triangle, long edges")
        << Polygon{Point2Dd(0, 0), Point2Dd(4, 0), Point2Dd(0, 3)} << Reals{Pi / 2, std::atan2(3.0, 4.0), std::atan2(4.0, 3.0)}
        << Polygon{Point2Dd(1, 0), Point2Dd(-0.8, 0.6), Point2Dd(0, -1)}
        << Polygon{Point2Dd(R, R), Point2Dd(-1.8 / std::sqrt(3.6), 0.6 / std::sqrt(3.6)),
                   Point2Dd(0.8 / std::sqrt(3.2), -1.6 / std::sqrt(3.2))};
    // A repeated first point: the closing edge has no direction.
    QTest::newRow("closed twice") << Polygon{Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 0)}
                                  << Reals{Pi, Pi / 2, Pi / 4, Pi / 4}
                                  << Polygon{Point2Dd(1, 0), Point2Dd(0, 1), Point2Dd(-R, -R), Point2Dd(0, 0)}
                                  << Polygon{Point2Dd(1, 0), Point2Dd(-R, R), Point2Dd(-0.3826834323650898, -0.9238795325112867),
                                             Point2Dd(R, R)};
    // An octagon takes the vector path in float.
    Polygon octagon;
    Reals eighths;
    for (int i = 0; i < 8; ++i) {
        octagon.append(Point2Dd(std::cos(Pi * i / 4), std::sin(Pi * i / 4)));
        eighths.append(3 * Pi / 4);
    }
    Polygon octagonDirections, octagonBisectors;
    for (int i = 0; i < 8; ++i) {
        octagonDirections.append(Point2Dd(std::cos(Pi * i / 4 + 5 * Pi / 8), std::sin(Pi * i / 4 + 5 * Pi / 8)));
        octagonBisectors.append(Point2Dd(-std::cos(Pi * i / 4), -std::sin(Pi * i / 4)));
    }
    QTest::newRow("octagon") << octagon << eighths << octagonDirections << octagonBisectors;
}

void tst_PolygonCorners::edgeTable_data()
{
    polygons();
}

void tst_PolygonCorners::edgeTable()
{
    QFETCH(Polygon, polygon);
    QFETCH(Reals, angles);
    QFETCH(Polygon, directions);
    QFETCH(Polygon, bisectors);

    const QVector<PolygonEdge<Point2Dd>> d = geom::edgeTable(polygon);
    const QVector<PolygonEdge<Point2Df>> f = geom::edgeTable(narrowed(polygon));
    Corners(d).verify(angles, directions, bisectors, 1e-12);
    // The float instance agrees within float error.
    Corners(f).verify(angles, directions, bisectors, 1e-6);
    if (QTest::currentDataTag() == QByteArray("collinear")) {
        QCOMPARE(d.at(1).angle, Pi);
        QCOMPARE(f.at(1).angle, Pi);
    }
}

void tst_PolygonCorners::cornerAngles_data()
{
    polygons();
}

void tst_PolygonCorners::cornerAngles()
{
    QFETCH(Polygon, polygon);
    QFETCH(Reals, angles);
    QFETCH(Polygon, directions);
    QFETCH(Polygon, bisectors);

    // The same quantities; a straight run is -pi here.
    for (double &a : angles)
        if (a == Pi)
            a = -Pi;
    const CornerAngles<Point2Dd> d(polygon);
    const CornerAngles<Point2Df> f(narrowed(polygon));
    Corners(d).verify(angles, directions, bisectors, 1e-12);
    Corners(f).verify(angles, directions, bisectors, 1e-6);
    if (QTest::currentDataTag() == QByteArray("collinear")) {
        QCOMPARE(d.angles().at(1), -Pi);
        QCOMPARE(f.angles().at(1), -Pi);
    }
}

void tst_PolygonCorners::cornerAnglesOfOnePoint()
{
    // Where the edge table has a record of zeros, the corner angle is -pi.
    Corners(CornerAngles<Point2Df>(QVector<Point2Df>{Point2Df(3, 4)}))
        .verify(Reals{-Pi}, Polygon{Point2Dd(0, 0)}, Polygon{Point2Dd(0, 0)}, 0);
    Corners(CornerAngles<Point2Dd>(Polygon{Point2Dd(3, 4)})).verify(Reals{-Pi}, Polygon{Point2Dd(0, 0)}, Polygon{Point2Dd(0, 0)}, 0);
}

void tst_PolygonCorners::nothingToCompute()
{
    const QVector<Point2Df> square = {Point2Df(0, 0), Point2Df(1, 0), Point2Df(1, 1), Point2Df(0, 1)};
    CornerAngles<Point2Df> f(square);
    QCOMPARE(f.angles().size(), 4);
    // No array or no points: three empty vectors, never a write before them.
    for (int count : {0, -1, -100}) {
        f.compute(square.constData(), count);
        QVERIFY(f.angles().isEmpty() && f.bisectors().isEmpty() && f.directions().isEmpty());
        f.compute(square);
    }
    f.compute(nullptr, 4);
    QVERIFY(f.angles().isEmpty() && f.bisectors().isEmpty() && f.directions().isEmpty());
    CornerAngles<Point2Dd> d;
    QVERIFY(d.angles().isEmpty());
    d.compute(nullptr, -5);
    QVERIFY(d.directions().isEmpty());
    d.compute(QVector<Point2Dd>());
    QVERIFY(d.bisectors().isEmpty());
}

void tst_PolygonCorners::recompute()
{
    const QVector<Point2Df> first = {Point2Df(0, 0), Point2Df(3, 0), Point2Df(3, 2), Point2Df(1, 5), Point2Df(-2, 1)};
    const QVector<Point2Df> second = {Point2Df(5, 5), Point2Df(4, 0), Point2Df(9, 1), Point2Df(8, 8), Point2Df(7, 3)};
    CornerAngles<Point2Df> reused(first);
    reused.compute(second);
    CornerAngles<Point2Df> fresh;
    fresh.compute(second);
    const CornerAngles<Point2Df> constructed(second);
    const CornerAngles<Point2Df> *others[] = {&fresh, &constructed};
    for (const CornerAngles<Point2Df> *other : others) {
        QCOMPARE(reused.angles(), other->angles());
        QCOMPARE(reused.directions(), other->directions());
        QCOMPARE(reused.bisectors(), other->bisectors());
    }
}

void tst_PolygonCorners::everyPathGivesThePlainLoop_data()
{
    QTest::addColumn<int>("n");
    for (int n : {1, 2, 3, 5, 7, 8, 9, 10, 11, 16, 33, 100})
        QTest::newRow(qPrintable(QString::number(n))) << n;
}

void tst_PolygonCorners::everyPathGivesThePlainLoop()
{
    QFETCH(int, n);
    const std::unique_ptr<Point2Df[]> points = testPolygon(n);
    const Reference expected(points.get(), n);
    CornerAngles<Point2Df> corners;
    corners.compute(points.get(), n);
    for (int k = 0; k < n; ++k) {
        QCOMPARE(bits(corners.angles().at(k)), bits(expected.angles.at(k)));
        QCOMPARE(bits(corners.directions().at(k).x), bits(expected.directions.at(k).x));
        QCOMPARE(bits(corners.directions().at(k).y), bits(expected.directions.at(k).y));
        QCOMPARE(bits(corners.bisectors().at(k).x), bits(expected.bisectors.at(k).x));
        QCOMPARE(bits(corners.bisectors().at(k).y), bits(expected.bisectors.at(k).y));
    }
    if (n > 6) {
        QCOMPARE(corners.directions().at(2), Point2Df(0, 0));
        QCOMPARE(corners.directions().at(5), Point2Df(0, 0));
    }

    // The edge table carries the same directions and bisectors; its angles
    // agree wherever the boundary does not run straight on. (Its one point
    // polygon is a record of zeros.)
    if (n == 1)
        return;
    const QVector<geom::PolygonEdge<Point2Df>> table = geom::edgeTable(QVector<Point2Df>(points.get(), points.get() + n));
    for (int k = 0; k < n; ++k) {
        QCOMPARE(corners.directions().at(k), table.at(k).direction);
        QCOMPARE(corners.bisectors().at(k), table.at(k).bisector);
        if (std::fabs(table.at(k).angle) < Pi - 1e-6)
            QVERIFY(std::fabs(corners.angles().at(k) - table.at(k).angle) < 1e-12);
    }
}

QTEST_APPLESS_MAIN(tst_PolygonCorners)

#include "tst_polygoncorners.moc"
