#include "bounds2d.h"
#include "bounds3d.h"
#include "geomtestutil.h"

#include <QTest>

#include <limits>

using geom::Bounds2Df;
using geom::Bounds3Df;
using geom::Point2Df;
using geom::Point3Df;

typedef QList<Point2Df> Points2D;
typedef QList<Point3Df> Points3D;

namespace {

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float Inf = std::numeric_limits<float>::infinity();

} // namespace

class tst_ClipSegment : public QObject
{
    Q_OBJECT

private slots:
    void clip2D_data();
    void clip2D();
    void clip3D_data();
    void clip3D();
};

void tst_ClipSegment::clip2D_data()
{
    QTest::addColumn<Point2Df>("a");
    QTest::addColumn<Point2Df>("b");
    QTest::addColumn<Points2D>("expected");

    // The box is (0, 0)-(10, 10).
    QTest::newRow("inside") << Point2Df(2, 2) << Point2Df(8, 8) << Points2D{Point2Df(2, 2), Point2Df(8, 8)};
    QTest::newRow("ends on sides") << Point2Df(0, 5) << Point2Df(10, 5) << Points2D{Point2Df(0, 5), Point2Df(10, 5)};
    QTest::newRow("through") << Point2Df(-5, 5) << Point2Df(15, 5) << Points2D{Point2Df(0, 5), Point2Df(10, 5)};
    QTest::newRow("through, reversed") << Point2Df(15, 5) << Point2Df(-5, 5) << Points2D{Point2Df(10, 5), Point2Df(0, 5)};
    QTest::newRow("leaving") << Point2Df(5, 5) << Point2Df(15, 5) << Points2D{Point2Df(10, 5)};
    QTest::newRow("entering") << Point2Df(5, 15) << Point2Df(5, 5) << Points2D{Point2Df(5, 10)};
    QTest::newRow("ending on a side") << Point2Df(-5, 5) << Point2Df(0, 5) << Points2D{};
    QTest::newRow("starting on a side") << Point2Df(0, 5) << Point2Df(-5, 5) << Points2D{Point2Df(0, 5)};
    QTest::newRow("vertical") << Point2Df(5, -5) << Point2Df(5, 15) << Points2D{Point2Df(5, 0), Point2Df(5, 10)};
    QTest::newRow("through two corners") << Point2Df(-5, -5) << Point2Df(15, 15)
                                         << Points2D{Point2Df(0, 0), Point2Df(10, 10)};
    QTest::newRow("diagonal, two sides") << Point2Df(-2, 4) << Point2Df(4, -2) << Points2D{Point2Df(0, 2), Point2Df(2, 0)};
    QTest::newRow("past a corner") << Point2Df(-5, 8) << Point2Df(5, 18) << Points2D{};
    // The crossing of the minX side lies 5e-6 beyond maxY: within the tolerance.
    QTest::newRow("just past a corner") << Point2Df(-5, 10.000005f) << Point2Df(5, 10) << Points2D{Point2Df(0, 10.000002f)};
    QTest::newRow("beyond one side") << Point2Df(-5, -5) << Point2Df(-1, 20) << Points2D{};
    // An end that is not a point has no place in or beyond the box.
    QTest::newRow("NaN end") << Point2Df(5, 5) << Point2Df(NaN, 5) << Points2D{};
    QTest::newRow("NaN start") << Point2Df(NaN, NaN) << Point2Df(5, 5) << Points2D{};
    QTest::newRow("NaN end, start outside") << Point2Df(-5, 5) << Point2Df(5, NaN) << Points2D{};
    QTest::newRow("infinite end") << Point2Df(5, 5) << Point2Df(Inf, 5) << Points2D{};
}

void tst_ClipSegment::clip2D()
{
    QFETCH(Point2Df, a);
    QFETCH(Point2Df, b);
    QFETCH(Points2D, expected);
    QCOMPARE(Bounds2Df(Point2Df(0, 0), Point2Df(10, 10)).clipSegment(a, b), expected);
    // Every point lies beyond every side of the empty box.
    QCOMPARE(Bounds2Df().clipSegment(a, b), Points2D{});
}

void tst_ClipSegment::clip3D_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<Points3D>("expected");

    // The box is (0, 0, 0)-(10, 10, 10).
    QTest::newRow("inside") << Point3Df(1, 2, 3) << Point3Df(9, 8, 7) << Points3D{Point3Df(1, 2, 3), Point3Df(9, 8, 7)};
    QTest::newRow("leaving the top") << Point3Df(5, 5, 5) << Point3Df(5, 5, 15) << Points3D{Point3Df(5, 5, 10)};
    QTest::newRow("through bottom and top") << Point3Df(5, 5, -5) << Point3Df(5, 5, 15)
                                            << Points3D{Point3Df(5, 5, 0), Point3Df(5, 5, 10)};
    QTest::newRow("through x and z sides") << Point3Df(-5, 5, 2) << Point3Df(15, 5, 12)
                                           << Points3D{Point3Df(0, 5, 4.5f), Point3Df(10, 5, 9.5f)};
    QTest::newRow("through x side and top") << Point3Df(-5, 5, 2) << Point3Df(10, 5, 14)
                                            << Points3D{Point3Df(0, 5, 6), Point3Df(5, 5, 10)};
    QTest::newRow("through three corners' planes") << Point3Df(-5, -5, -5) << Point3Df(15, 15, 15)
                                                   << Points3D{Point3Df(0, 0, 0), Point3Df(10, 10, 10)};
    QTest::newRow("past an edge") << Point3Df(-5, 5, 8) << Point3Df(5, 5, 18) << Points3D{};
    QTest::newRow("beyond one side") << Point3Df(1, 1, 11) << Point3Df(9, 9, 20) << Points3D{};
    QTest::newRow("NaN end") << Point3Df(5, 5, 5) << Point3Df(5, 5, NaN) << Points3D{};
    QTest::newRow("NaN start") << Point3Df(NaN, 5, 5) << Point3Df(5, 5, 5) << Points3D{};
    QTest::newRow("infinite start") << Point3Df(5, -Inf, 5) << Point3Df(5, 5, 5) << Points3D{};
}

void tst_ClipSegment::clip3D()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(Points3D, expected);
    QCOMPARE(Bounds3Df(Point3Df(0, 0, 0), Point3Df(10, 10, 10)).clipSegment(a, b), expected);
    QCOMPARE(Bounds3Df().clipSegment(a, b), Points3D{});
}

QTEST_APPLESS_MAIN(tst_ClipSegment)

#include "tst_clipsegment.moc"
