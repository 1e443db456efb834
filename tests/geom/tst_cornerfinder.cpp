#include "cornerfinder.h"
#include "geomtestutil.h"
#include "polygonedge.h"

#include <QTest>

#include <cmath>
#include <limits>

using geom::CornerFinder;
using geom::Point2Dd;
using geom::Point2Df;

typedef QVector<Point2Dd> Polygon;
typedef QList<int> Keys;

namespace {

const double Pi = 3.141592653589793;
const Polygon Square = {Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 1)};
// The square mirrored in the x axis: the same corners, turning right.
const Polygon MirroredSquare = {Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, -1), Point2Dd(0, -1)};

QVector<Point2Df> narrowed(const Polygon &polygon)
{
    QVector<Point2Df> r;
    for (const Point2Dd &p : polygon)
        r.append(Point2Df(float(p.x), float(p.y)));
    return r;
}

template <typename P>
Polygon widened(const QList<P> &points)
{
    Polygon r;
    for (const P &p : points)
        r.append(Point2Dd(p.x, p.y));
    return r;
}

Polygon mirrored(const Polygon &points)
{
    Polygon r;
    for (const Point2Dd &p : points)
        r.append(Point2Dd(p.x, -p.y));
    return r;
}

void verifyPoints(const Polygon &actual, const Polygon &expected, double tol)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < actual.size(); ++i)
        QVERIFY2(std::fabs(actual.at(i).x - expected.at(i).x) <= tol && std::fabs(actual.at(i).y - expected.at(i).y) <= tol,
                 ("point " + QByteArray::number(i) + ": " + describe(actual.at(i))).constData());
}

enum Treatment {
    Extend,
    Offset,
    Tangent
};

template <typename P>
QMultiMap<int, P> treat(CornerFinder<P> &finder, Treatment treatment, const QVector<P> &polygon)
{
    switch (treatment) {
    case Extend:
        return finder.extendCorners(polygon);
    case Offset:
        return finder.offsetCorners(polygon);
    case Tangent:
        break;
    }
    return finder.tangentCorners(polygon);
}

} // namespace

Q_DECLARE_METATYPE(Treatment)

class tst_CornerFinder : public QObject
{
    Q_OBJECT

private slots:
    void treatments_data();
    void treatments();
    void offsetIsTheSameOnBothTurns_data();
    void offsetIsTheSameOnBothTurns();
    void tooFewPoints();
    void closedTwice();
    void settings();
    void repeatable();
};

void tst_CornerFinder::treatments_data()
{
    QTest::addColumn<Treatment>("treatment");
    QTest::addColumn<Polygon>("polygon");
    QTest::addColumn<double>("cornerAngle");
    QTest::addColumn<double>("middleAngle");
    QTest::addColumn<Keys>("keys");
    QTest::addColumn<Polygon>("points");

    // Radius 0.1 throughout, offset 0.05.
    const Keys everyCorner = {0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4};
    QTest::newRow("extend, with middle points")
        << Extend << Square << 2.0 << 1.0 << everyCorner
        << Polygon{Point2Dd(-0.1, 0),   Point2Dd(1.1, 0),    Point2Dd(1.1, -0.1), Point2Dd(1, -0.1),
                   Point2Dd(1, 1.1),    Point2Dd(1.1, 1.1),  Point2Dd(1.1, 1),    Point2Dd(-0.1, 1),
                   Point2Dd(-0.1, 1.1), Point2Dd(0, 1.1),    Point2Dd(0, -0.1)};
    QTest::newRow("extend, corners sharper than the middle angle")
        << Extend << Square << 2.0 << 2.0 << Keys{0, 1, 1, 2, 2, 3, 3, 4}
        << Polygon{Point2Dd(-0.1, 0), Point2Dd(1.1, 0),  Point2Dd(1, -0.1),  Point2Dd(1, 1.1),
                   Point2Dd(1.1, 1),  Point2Dd(-0.1, 1), Point2Dd(0, 1.1),   Point2Dd(0, -0.1)};
    QTest::newRow("extend, no corner sharp enough") << Extend << Square << 1.0 << 1.0 << Keys{0, 4}
                                                    << Polygon{Point2Dd(-0.1, 0), Point2Dd(0, -0.1)};
    const double t = 0.05 * std::tan(Pi / 8);
    const double m = 0.2 * std::sqrt(0.5);
    QTest::newRow("offset") << Offset << Square << 2.0 << 1.0 << everyCorner
                            << Polygon{Point2Dd(-0.1, 0),
                                       Point2Dd(1.05, -t), Point2Dd(1 + m, -m), Point2Dd(1 + t, -0.05),
                                       Point2Dd(1 + t, 1.05), Point2Dd(1 + m, 1 + m), Point2Dd(1.05, 1 + t),
                                       Point2Dd(-0.05, 1 + t), Point2Dd(-m, 1 + m), Point2Dd(-t, 1.05),
                                       Point2Dd(0, -0.1)};
    const double k = 0.1 * std::sqrt(0.5);
    QTest::newRow("tangent") << Tangent << Square << 2.0 << 1.0 << everyCorner
                             << Polygon{Point2Dd(-0.1, 0),
                                        Point2Dd(1.1, 0), Point2Dd(1.1 + k, -0.1 - k), Point2Dd(1, -0.1),
                                        Point2Dd(1, 1.1), Point2Dd(1.1 + k, 1.1 + k), Point2Dd(1.1, 1),
                                        Point2Dd(-0.1, 1), Point2Dd(-0.1 - k, 1.1 + k), Point2Dd(0, 1.1),
                                        Point2Dd(0, -0.1)};
    // A tip where the boundary doubles back: one point 2r beyond it.
    const Polygon spike = {Point2Dd(0, 0), Point2Dd(4, 0), Point2Dd(0, 0.00001)};
    for (Treatment treatment : {Extend, Offset, Tangent})
        QTest::newRow(qPrintable(QString("spike %1").arg(int(treatment))))
            << treatment << spike << 0.5 << 0.5 << Keys{0, 1, 3}
            << Polygon{Point2Dd(-0.1, 0), Point2Dd(4.2, -2.5e-7), Point2Dd(0, -0.1)};
}

void tst_CornerFinder::treatments()
{
    QFETCH(Treatment, treatment);
    QFETCH(Polygon, polygon);
    QFETCH(double, cornerAngle);
    QFETCH(double, middleAngle);
    QFETCH(Keys, keys);
    QFETCH(Polygon, points);

    CornerFinder<Point2Dd> d(cornerAngle, 0.1);
    d.setMiddleAngle(middleAngle);
    d.setOffset(0.05);
    const QMultiMap<int, Point2Dd> dm = treat(d, treatment, polygon);
    QCOMPARE(dm.keys(), keys);
    verifyPoints(widened(dm.values()), points, 1e-9);

    CornerFinder<Point2Df> f(cornerAngle, 0.1);
    f.setMiddleAngle(middleAngle);
    f.setOffset(0.05);
    const QMultiMap<int, Point2Df> fm = treat(f, treatment, narrowed(polygon));
    QCOMPARE(fm.keys(), keys);
    verifyPoints(widened(fm.values()), points, 1e-6);
}

void tst_CornerFinder::offsetIsTheSameOnBothTurns_data()
{
    QTest::addColumn<double>("radius");
    QTest::addColumn<double>("offset");

    QTest::newRow("radius above the offset") << 0.3 << 0.1;
    QTest::newRow("radius below the offset") << 0.02 << 0.25;
    QTest::newRow("offset left at the corner angle") << 0.3 << -1.0;
}

void tst_CornerFinder::offsetIsTheSameOnBothTurns()
{
    QFETCH(double, radius);
    QFETCH(double, offset);

    CornerFinder<Point2Dd> finder(2.0, radius);
    if (offset > 0)
        finder.setOffset(offset);
    const double a = finder.offset();
    const QMultiMap<int, Point2Dd> left = finder.offsetCorners(Square);
    const QMultiMap<int, Point2Dd> right = finder.offsetCorners(MirroredSquare);
    QCOMPARE(right.keys(), left.keys());
    // The mirrored polygon turns right at every corner and gets the mirror
    // image of the points of the left turns.
    verifyPoints(widened(right.values()), mirrored(widened(left.values())), 1e-12);
    // Both points of a corner lie at the offset from their edges: vertex 1 of
    // the square, arriving along +x, leaving along +y.
    const Polygon corner = widened(left.values(1));
    QCOMPARE(corner.size(), 3);
    QVERIFY(std::fabs(corner.at(0).x - (1 + a)) < 1e-12);
    QVERIFY(std::fabs(corner.at(2).y + a) < 1e-12);
    // And as far from the vertex along their edges.
    QVERIFY(std::fabs(-corner.at(0).y - (corner.at(2).x - 1)) < 1e-12);
}

void tst_CornerFinder::tooFewPoints()
{
    CornerFinder<Point2Df> finder(2.0, 0.1);
    const QVector<Point2Df> square = narrowed(Square);
    finder.extendCorners(square);
    const QVector<geom::PolygonEdge<Point2Df>> kept = finder.edges();
    QCOMPARE(kept.size(), 4);
    for (const QVector<Point2Df> &few : {QVector<Point2Df>(), QVector<Point2Df>{Point2Df(1, 1)},
                                         QVector<Point2Df>{Point2Df(1, 1), Point2Df(2, 2)}}) {
        QVERIFY(finder.extendCorners(few).isEmpty());
        QVERIFY(finder.offsetCorners(few).isEmpty());
        QVERIFY(finder.tangentCorners(few).isEmpty());
        // The edge table of the last real polygon stays.
        QCOMPARE(finder.edges().size(), 4);
        QCOMPARE(finder.edges().at(2).direction, kept.at(2).direction);
    }
}

void tst_CornerFinder::closedTwice()
{
    // The closing edge has no direction, so key n carries vertex 0 itself.
    CornerFinder<Point2Dd> finder(2.0, 0.1);
    const QMultiMap<int, Point2Dd> map =
        finder.extendCorners(Polygon{Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 0)});
    QCOMPARE(map.values(4), QList<Point2Dd>{Point2Dd(0, 0)});
    QCOMPARE(map.values(0), QList<Point2Dd>{Point2Dd(-0.1, 0)});
}

void tst_CornerFinder::settings()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    CornerFinder<Point2Df> finder(4.0, 0.5);
    // The constructor takes the corner angle as given; the offset starts equal to it.
    QCOMPARE(finder.cornerAngle(), 4.0);
    QCOMPARE(finder.offset(), 4.0);
    QCOMPARE(finder.middleAngle(), Pi / 2);
    finder.setCornerAngle(4);
    QCOMPARE(finder.cornerAngle(), Pi);
    finder.setCornerAngle(1);
    QCOMPARE(finder.cornerAngle(), 1.0);
    QCOMPARE(finder.middleAngle(), 1.0);
    finder.setCornerAngle(2);
    finder.setMiddleAngle(3);
    QCOMPARE(finder.middleAngle(), 2.0);
    finder.setMiddleAngle(-1);
    QCOMPARE(finder.middleAngle(), 0.0);
    finder.setMiddleAngle(nan);
    QCOMPARE(finder.middleAngle(), 0.0);
    finder.setCornerAngle(nan);
    QCOMPARE(finder.cornerAngle(), 0.0);
    // The offset is a value of its own: the corner angle setters leave it, and
    // its setter leaves the corner angle.
    QCOMPARE(finder.offset(), 4.0);
    finder.setCornerAngle(2);
    finder.setOffset(0.25);
    QCOMPARE(finder.offset(), 0.25);
    QCOMPARE(finder.cornerAngle(), 2.0);
    finder.setOffset(0);
    QCOMPARE(finder.offset(), 1e-12);
    finder.setOffset(-3);
    QCOMPARE(finder.offset(), 1e-12);
    finder.setOffset(nan);
    QVERIFY(std::isnan(finder.offset()));
    QCOMPARE(finder.cornerAngle(), 2.0);
}

void tst_CornerFinder::repeatable()
{
    const QVector<Point2Df> polygon = {Point2Df(0, 0), Point2Df(5, 0), Point2Df(5, 1), Point2Df(2, 1.5f),
                                       Point2Df(5, 3), Point2Df(0, 4)};
    CornerFinder<Point2Df> finder(2.5, 0.2);
    for (Treatment treatment : {Extend, Offset, Tangent}) {
        const QMultiMap<int, Point2Df> first = treat(finder, treatment, polygon);
        const QMultiMap<int, Point2Df> second = treat(finder, treatment, polygon);
        QCOMPARE(first, second);
        QCOMPARE(first.firstKey(), 0);
        QCOMPARE(first.lastKey(), polygon.size());
        // The reflex vertex 3 (a right turn) is a corner too.
        QVERIFY(first.contains(3));
    }
    const QVector<geom::PolygonEdge<Point2Df>> table = geom::edgeTable(polygon);
    QCOMPARE(finder.edges().size(), table.size());
    for (int i = 0; i < table.size(); ++i) {
        QCOMPARE(finder.edges().at(i).angle, table.at(i).angle);
        QCOMPARE(finder.edges().at(i).direction, table.at(i).direction);
        QCOMPARE(finder.edges().at(i).bisector, table.at(i).bisector);
    }
}

QTEST_APPLESS_MAIN(tst_CornerFinder)

#include "tst_cornerfinder.moc"
