#include "geomtestutil.h"
#include "polygonedge.h"

#include <QTest>

#include <cmath>

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

QVector<Point2Df> narrowed(const Polygon &polygon)
{
    QVector<Point2Df> r;
    for (const Point2Dd &p : polygon)
        r.append(Point2Df(float(p.x), float(p.y)));
    return r;
}

} // namespace

class tst_PolygonEdge : public QObject
{
    Q_OBJECT

private slots:
    void records();
    void table_data();
    void table();
};

void tst_PolygonEdge::records()
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

void tst_PolygonEdge::table_data()
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
}

void tst_PolygonEdge::table()
{
    QFETCH(Polygon, polygon);
    QFETCH(Reals, angles);
    QFETCH(Polygon, directions);
    QFETCH(Polygon, bisectors);

    const QVector<PolygonEdge<Point2Dd>> d = geom::edgeTable(polygon);
    const QVector<PolygonEdge<Point2Df>> f = geom::edgeTable(narrowed(polygon));
    QCOMPARE(d.size(), polygon.size());
    QCOMPARE(f.size(), polygon.size());
    for (int i = 0; i < polygon.size(); ++i) {
        QVERIFY2(std::fabs(d.at(i).angle - angles.at(i)) < 1e-12, qPrintable(QString::number(d.at(i).angle, 'g', 17)));
        // The two instances agree within float error.
        QVERIFY(std::fabs(f.at(i).angle - angles.at(i)) < 1e-6);
        QVERIFY2(near(d.at(i).direction, directions.at(i), 1e-12), QTest::toString(d.at(i).direction));
        QVERIFY2(near(d.at(i).bisector, bisectors.at(i), 1e-12), QTest::toString(d.at(i).bisector));
        QVERIFY(near(Point2Dd(f.at(i).direction.x, f.at(i).direction.y), directions.at(i), 1e-6));
        QVERIFY(near(Point2Dd(f.at(i).bisector.x, f.at(i).bisector.y), bisectors.at(i), 1e-6));
    }
    if (QTest::currentDataTag() == QByteArray("collinear")) {
        QCOMPARE(d.at(1).angle, Pi);
        QCOMPARE(f.at(1).angle, Pi);
    }
}

QTEST_APPLESS_MAIN(tst_PolygonEdge)

#include "tst_polygonedge.moc"
