#include "angle.h"
#include "geomtestutil.h"

#include <QTest>

#include <cmath>
#include <limits>

using geom::Point2Dd;
using geom::Point2Df;

namespace {

const float PiF = 3.14159265358979323846f;

} // namespace

class tst_Angle : public QObject
{
    Q_OBJECT

private slots:
    void wrapDegrees_data();
    void wrapDegrees();
    void wrapRadians_data();
    void wrapRadians();
    void wrapEndsForEveryAngle_data();
    void wrapEndsForEveryAngle();
    void signedAngle_data();
    void signedAngle();
    void signedAngleCentre();
    void normalizedSum_data();
    void normalizedSum();
    void axisAngle();
};

void tst_Angle::wrapDegrees_data()
{
    QTest::addColumn<float>("angle");
    QTest::addColumn<float>("expected");

    QTest::newRow("540") << 540.0f << 180.0f;
    QTest::newRow("-540") << -540.0f << -180.0f;
    QTest::newRow("181") << 181.0f << -179.0f;
    QTest::newRow("180 stays") << 180.0f << 180.0f;
    QTest::newRow("-180 stays") << -180.0f << -180.0f;
    QTest::newRow("in range") << 45.5f << 45.5f;
    QTest::newRow("three turns and a bit") << 1090.0f << 10.0f;
    // No number of turns brings these into range: they come back as they are.
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << std::numeric_limits<float>::infinity();
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << std::numeric_limits<float>::quiet_NaN();
}

void tst_Angle::wrapDegrees()
{
    QFETCH(float, angle);
    QFETCH(float, expected);
    QCOMPARE(bits(geom::wrapDegrees(angle)), bits(expected));
}

void tst_Angle::wrapRadians_data()
{
    QTest::addColumn<double>("angle");
    QTest::addColumn<float>("expectedFloat");
    QTest::addColumn<double>("expectedDouble");

    const double pi = 3.141592653589793;
    QTest::newRow("4") << 4.0 << -2.2831855f << 4.0 - 2 * pi;
    QTest::newRow("pi stays") << pi << PiF << pi;
    QTest::newRow("-pi stays") << -pi << -PiF << -pi;
    QTest::newRow("-4") << -4.0 << 2.2831855f << -4.0 + 2 * pi;
    QTest::newRow("two turns") << 4 * pi + 1.0 << float(double(float(4 * pi + 1.0)) - 2 * double(6.2831855f)) << 4 * pi + 1.0 - 2 * pi - 2 * pi;
}

void tst_Angle::wrapRadians()
{
    QFETCH(double, angle);
    QFETCH(float, expectedFloat);
    QFETCH(double, expectedDouble);
    // One period at a time, in the angle's own precision.
    QCOMPARE(bits(geom::wrapRadians(float(angle))), bits(expectedFloat));
    QCOMPARE(geom::wrapRadians(angle), expectedDouble);
}

void tst_Angle::wrapEndsForEveryAngle_data()
{
    QTest::addColumn<double>("angle");

    QTest::newRow("1e9") << 1e9;
    QTest::newRow("-1e9") << -1e9;
    QTest::newRow("largest float") << double(std::numeric_limits<float>::max());
    QTest::newRow("-1e30") << -1e30;
    QTest::newRow("1e300 (double only)") << 1e300;
}

void tst_Angle::wrapEndsForEveryAngle()
{
    QFETCH(double, angle);
    const double r = geom::wrapRadians(angle);
    QVERIFY(r >= -M_PI && r <= M_PI);
    // The result is the angle less whole turns.
    if (std::fabs(angle) < 1e15)
        QVERIFY(std::fabs(std::remainder(angle - r, 2 * M_PI)) < 1e-6);
    if (std::fabs(angle) <= std::numeric_limits<float>::max()) {
        const float rf = geom::wrapRadians(float(angle));
        QVERIFY(rf >= -PiF && rf <= PiF);
        const float d = geom::wrapDegrees(float(angle));
        QVERIFY(d >= -180.0f && d <= 180.0f);
    }
}

void tst_Angle::signedAngle_data()
{
    QTest::addColumn<Point2Dd>("a");
    QTest::addColumn<Point2Dd>("b");
    QTest::addColumn<float>("expected");

    QTest::newRow("quarter turn left") << Point2Dd(0, 1) << Point2Dd(1, 0) << 1.5707964f;
    QTest::newRow("quarter turn right") << Point2Dd(1, 0) << Point2Dd(0, 1) << -1.5707964f;
    QTest::newRow("lengths do not count") << Point2Dd(0, 5) << Point2Dd(0.25, 0) << 1.5707964f;
    QTest::newRow("wrapped across -x") << Point2Dd(-1, -1) << Point2Dd(-1, 1) << 1.5707964f;
    QTest::newRow("same direction") << Point2Dd(2, 2) << Point2Dd(1, 1) << 0.0f;
    QTest::newRow("too short counts as angle 0") << Point2Dd(0, 1) << Point2Dd(1e-7, 0) << 1.5707964f;
}

void tst_Angle::signedAngle()
{
    QFETCH(Point2Dd, a);
    QFETCH(Point2Dd, b);
    QFETCH(float, expected);
    const Point2Df af(float(a.x), float(a.y));
    const Point2Df bf(float(b.x), float(b.y));
    QCOMPARE(geom::signedAngle(af, bf), expected);
    // The double instance also ends in a float wrap: float precision only.
    QVERIFY(std::fabs(geom::signedAngle(a, b) - double(expected)) < 1e-6);
    // The same directions seen from elsewhere.
    QCOMPARE(geom::signedAngle(Point2Df(af.x + 3, af.y - 2), Point2Df(bf.x + 3, bf.y - 2), 3.0f, -2.0f), expected);
    QVERIFY(std::fabs(geom::signedAngle(Point2Dd(a.x + 3, a.y - 2), Point2Dd(b.x + 3, b.y - 2), 3.0, -2.0)
                      - double(expected)) < 1e-6);
}

void tst_Angle::signedAngleCentre()
{
    // A centre within 1e-5 of the origin is the origin: the points are not moved.
    const Point2Df a(0.000001f, 1), b(1, 0);
    QCOMPARE(geom::signedAngle(a, b, Point2Df(0.000001f, 0)), geom::signedAngle(a, b));
    QCOMPARE(geom::normalizedSum(a, b, 0.000001f, 0.0f), geom::normalizedSum(a, b));
    // In double the tolerance is 1e-12, so 1e-6 moves the points.
    const Point2Dd ad(1e-6, 1), bd(1, 0);
    QVERIFY(geom::normalizedSum(ad, bd, Point2Dd(1e-6, 0)) != geom::normalizedSum(ad, bd));
}

void tst_Angle::normalizedSum_data()
{
    QTest::addColumn<Point2Df>("a");
    QTest::addColumn<Point2Df>("b");
    QTest::addColumn<Point2Df>("centre");
    QTest::addColumn<Point2Df>("expected");

    QTest::newRow("diagonal") << Point2Df(2, 0) << Point2Df(0, 3) << Point2Df(0, 0) << Point2Df(0.70710677f, 0.70710677f);
    QTest::newRow("opposite") << Point2Df(1, 0) << Point2Df(-1, 0) << Point2Df(0, 0) << Point2Df(0, 0);
    QTest::newRow("about a centre, not moved back") << Point2Df(12, 5) << Point2Df(10, 8) << Point2Df(10, 5)
                                                    << Point2Df(0.70710677f, 0.70710677f);
}

void tst_Angle::normalizedSum()
{
    QFETCH(Point2Df, a);
    QFETCH(Point2Df, b);
    QFETCH(Point2Df, centre);
    QFETCH(Point2Df, expected);
    QCOMPARE(geom::normalizedSum(a, b, centre), expected);
    const Point2Dd d = geom::normalizedSum(Point2Dd(a.x, a.y), Point2Dd(b.x, b.y), Point2Dd(centre.x, centre.y));
    QVERIFY(std::fabs(d.x - expected.x) < 1e-7 && std::fabs(d.y - expected.y) < 1e-7);
}

void tst_Angle::axisAngle()
{
    const QVector4D identity = geom::axisAngle(QQuaternion());
    QCOMPARE(identity.w(), 0.0f);
    QCOMPARE(identity.toVector3D(), QVector3D(0, 0, 0));

    const QVector4D quarter = geom::axisAngle(QQuaternion::fromAxisAndAngle(QVector3D(0, 0, 2), 90));
    QCOMPARE(quarter.toVector3D(), QVector3D(0, 0, 1));
    QVERIFY(std::fabs(quarter.w() - 90.0f) < 1e-4f);

    // A scalar outside [-1, 1] is no rotation: the angle is NaN.
    QVERIFY(std::isnan(geom::axisAngle(QQuaternion(2, 0, 0, 1)).w()));
}

QTEST_APPLESS_MAIN(tst_Angle)

#include "tst_angle.moc"
