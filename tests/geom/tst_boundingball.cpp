#include "circle2d.h"
#include "geomtestutil.h"
#include "sphere3d.h"

#include <QMatrix4x4>
#include <QTest>
#include <QTransform>

#include <cmath>
#include <limits>

using geom::Circle2Dd;
using geom::Circle2Df;
using geom::Point2Dd;
using geom::Point2Df;
using geom::Point3Df;
using geom::Sphere3Df;

namespace {

// A circle as (x, y, r) for the data tables; each row runs for both precisions.
struct Xyr
{
    double x, y, r;
};

template <typename C>
C circle(const Xyr &c)
{
    typedef typename C::Real T;
    return C(typename C::Point(T(c.x), T(c.y)), T(c.r));
}

template <typename C>
bool near(const C &c, const Xyr &e, double tol)
{
    return std::fabs(c.x - e.x) <= tol && std::fabs(c.y - e.y) <= tol && std::fabs(c.r - e.r) <= tol;
}

template <typename C>
QByteArray text(const C &c)
{
    return QByteArray::number(double(c.x), 'g', 9) + ", " + QByteArray::number(double(c.y), 'g', 9) + ", "
        + QByteArray::number(double(c.r), 'g', 9);
}

Sphere3Df sphere(float x, float y, float z, float r)
{
    return Sphere3Df(Point3Df(x, y, z), r);
}

bool same(const Sphere3Df &a, const Sphere3Df &b, float tol = 1e-5f)
{
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol
        && std::fabs(a.r - b.r) <= tol;
}

} // namespace

Q_DECLARE_METATYPE(Xyr)

class tst_BoundingBall : public QObject
{
    Q_OBJECT

private slots:
    void states();
    void construction();
    void extend();
    void extendArrays();
    void unite_data();
    void unite();
    void intersect_data();
    void intersect();
    void smallChordRadiusIsARadius();
    void containsCircle_data();
    void containsCircle();
    void containsPoint();
    void sphereFamily();
    void measures_data();
    void measures();
    void sphereMeasures();
    void sphereMapped_data();
    void sphereMapped();
    void circleMapped();
};

void tst_BoundingBall::states()
{
    Circle2Df c;
    QVERIFY(c.isNull() && c.isEmpty() && !c.isValid());
    QCOMPARE(c.r, -1.0f);
    c.setRadius(0);
    QVERIFY(!c.isNull() && c.isEmpty() && !c.isValid());
    c.setRadius(std::numeric_limits<float>::quiet_NaN());
    QVERIFY(!c.isNull() && c.isEmpty() && !c.isValid());
    c.setDiameter(3);
    QVERIFY(c.isValid());
    QCOMPARE(c.radius(), 1.5f);
    QCOMPARE(c.diameter(), 3.0f);
    QCOMPARE(c.radiusSquared(), 2.25f);
    c.reset();
    QVERIFY(c.isNull());
    QCOMPARE(c.center(), Point2Df(0, 0));
    // Containers make their circles and spheres in the reset state too.
    QVERIFY(QVector<Circle2Df>(3).at(2).isNull());
    QVERIFY(QVector<Circle2Dd>(3).at(1).isNull());
    QVERIFY(QVector<Sphere3Df>(2).at(1).isNull());

    Circle2Dd d(Point2Dd(1, 1), 1);
    d *= 2;
    QCOMPARE(d.center(), Point2Dd(2, 2));
    QCOMPARE(d.r, 2.0);
    QCOMPARE((d / 4).center(), Point2Dd(0.5, 0.5));
    QCOMPARE((d + Point2Dd(1, -2)).center(), Point2Dd(3, 0));
    QCOMPARE((d - Point2Dd(1, -2)).center(), Point2Dd(1, 4));
    QVERIFY((d * -1).isNull());
}

void tst_BoundingBall::construction()
{
    const Circle2Df c(Point2Df(1, 1), Point2Df(4, 5));
    QCOMPARE(c.center(), Point2Df(2.5f, 3));
    QCOMPARE(c.r, 2.5f);
    const Sphere3Df s(Point3Df(0, 0, 0), Point3Df(0, 0, 4));
    QCOMPARE(s.center(), Point3Df(0, 0, 2));
    QCOMPARE(s.r, 2.0f);
}

void tst_BoundingBall::extend()
{
    Circle2Df c;
    c.extend(Point2Df(1, 1));
    QCOMPARE(c.center(), Point2Df(1, 1));
    QCOMPARE(c.r, 0.0f);
    c.extend(Point2Df(3, 1));
    QCOMPARE(c.center(), Point2Df(2, 1));
    QCOMPARE(c.r, 1.0f);
    c.extend(Point2Df(2, 1.5f));
    QCOMPARE(c.center(), Point2Df(2, 1));
    QCOMPARE(c.r, 1.0f);

    // The bound depends on the order and keeps every point.
    const QVector<Point2Dd> points = {Point2Dd(0, 0), Point2Dd(4, 0), Point2Dd(0, 3)};
    Circle2Dd d;
    d.extend(points[0]);
    d.extend(points[1]);
    QCOMPARE(d.center(), Point2Dd(2, 0));
    QCOMPARE(d.r, 2.0);
    d.extend(points[2]);
    QVERIFY(std::fabs(d.x - 1.5547) < 1e-4 && std::fabs(d.y - 0.6680) < 1e-4 && std::fabs(d.r - 2.8028) < 1e-4);
    for (const Point2Dd &p : points)
        QVERIFY(d.r * d.r >= (p.x - d.x) * (p.x - d.x) + (p.y - d.y) * (p.y - d.y) - 1e-12);
}

void tst_BoundingBall::extendArrays()
{
    const QVector<Point3Df> points = {Point3Df(0, 0, 0), Point3Df(0, 0, 4), Point3Df(3, 0, 2), Point3Df(-1, 2, 1)};
    Sphere3Df one;
    for (const Point3Df &p : points)
        one.extend(p);
    Sphere3Df all;
    all.extend(points);
    QVERIFY(same(one, all, 0));
    for (const Point3Df &p : points)
        QVERIFY(all.contains(p));

    // A null array or no count changes nothing.
    Sphere3Df s = one;
    s.extend(nullptr, 3);
    s.extend(points.constData(), 0);
    s.extend(points.constData(), -2);
    QVERIFY(same(s, one, 0));
}

void tst_BoundingBall::unite_data()
{
    QTest::addColumn<Xyr>("a");
    QTest::addColumn<Xyr>("b");
    QTest::addColumn<Xyr>("expected");

    QTest::newRow("apart") << Xyr{0, 0, 1} << Xyr{4, 0, 1} << Xyr{2, 0, 3};
    QTest::newRow("overlapping") << Xyr{0, 0, 2} << Xyr{2, 0, 1} << Xyr{0.5, 0, 2.5};
    // Nested or coincident circles: the larger one, never a circle that drops it.
    QTest::newRow("nested") << Xyr{0, 0, 10} << Xyr{1, 0, 1} << Xyr{0, 0, 10};
    QTest::newRow("nested, touching inside") << Xyr{0, 0, 2} << Xyr{1, 0, 1} << Xyr{0, 0, 2};
    QTest::newRow("concentric") << Xyr{3, 3, 1} << Xyr{3, 3, 2} << Xyr{3, 3, 2};
    QTest::newRow("coincident") << Xyr{3, 3, 2} << Xyr{3, 3, 2} << Xyr{3, 3, 2};
    QTest::newRow("with a null circle") << Xyr{3, 3, 2} << Xyr{0, 0, -1} << Xyr{3, 3, 2};
}

void tst_BoundingBall::unite()
{
    QFETCH(Xyr, a);
    QFETCH(Xyr, b);
    QFETCH(Xyr, expected);

    for (bool swapped : {false, true}) {
        const Xyr &first = swapped ? b : a;
        const Xyr &second = swapped ? a : b;
        const Circle2Df f = circle<Circle2Df>(first) | circle<Circle2Df>(second);
        QVERIFY2(near(f, expected, 1e-5), text(f));
        const Circle2Dd d = circle<Circle2Dd>(first).united(circle<Circle2Dd>(second));
        QVERIFY2(near(d, expected, 1e-12), text(d));
    }
}

void tst_BoundingBall::intersect_data()
{
    QTest::addColumn<Xyr>("a");
    QTest::addColumn<Xyr>("b");
    QTest::addColumn<bool>("intersects");
    QTest::addColumn<Xyr>("expected");

    QTest::newRow("touching") << Xyr{0, 0, 1} << Xyr{2, 0, 1} << true << Xyr{1, 0, 0};
    QTest::newRow("equal radii") << Xyr{0, 0, 2} << Xyr{2, 0, 2} << true << Xyr{1, 0, std::sqrt(3.0)};
    // The circle through the two crossing points of the rims.
    QTest::newRow("unequal radii") << Xyr{0, 0, 2} << Xyr{2, 0, 1} << true << Xyr{1.75, 0, std::sqrt(0.9375)};
    QTest::newRow("unequal radii, crossing behind a centre") << Xyr{0, 0, 1} << Xyr{1.5, 0, 2} << true
                                                             << Xyr{-0.25, 0, std::sqrt(0.9375)};
    QTest::newRow("touching inside") << Xyr{0, 0, 1} << Xyr{1, 0, 2} << true << Xyr{0, 0, 1};
    QTest::newRow("apart") << Xyr{0, 0, 1} << Xyr{5, 0, 1} << false << Xyr{0, 0, -1};
    // Nested: the smaller circle.
    QTest::newRow("nested") << Xyr{0, 0, 10} << Xyr{1, 0, 1} << true << Xyr{1, 0, 1};
    QTest::newRow("concentric") << Xyr{3, 3, 1} << Xyr{3, 3, 2} << true << Xyr{3, 3, 1};
    QTest::newRow("coincident") << Xyr{3, 3, 2} << Xyr{3, 3, 2} << true << Xyr{3, 3, 2};
}

void tst_BoundingBall::intersect()
{
    QFETCH(Xyr, a);
    QFETCH(Xyr, b);
    QFETCH(bool, intersects);
    QFETCH(Xyr, expected);

    for (bool swapped : {false, true}) {
        const Xyr &first = swapped ? b : a;
        const Xyr &second = swapped ? a : b;
        const Circle2Df f1 = circle<Circle2Df>(first), f2 = circle<Circle2Df>(second);
        QCOMPARE(f1.intersects(f2), intersects);
        const Circle2Df f = f1 & f2;
        const Circle2Dd d = circle<Circle2Dd>(first).intersected(circle<Circle2Dd>(second));
        QVERIFY2(near(f, expected, 1e-5), text(f));
        QVERIFY2(near(d, expected, 1e-12), text(d));
    }
}

void tst_BoundingBall::smallChordRadiusIsARadius()
{
    // Circles that just cross near an inner touch: the crossing points are
    // about 2e-3 from the centre line. Their square would be about 4e-6.
    const Circle2Df inner(Point2Df(1.000001f, 0), 1.0f);
    const Circle2Df outer(Point2Df(0, 0), 2.0f);
    const Circle2Df chord = outer.intersected(inner);
    QVERIFY2(chord.r > 1.5e-3f && chord.r < 2.5e-3f, text(chord));
    // Its rim points lie on both circles.
    const double yy = double(chord.r) * double(chord.r);
    const double x = chord.x;
    QVERIFY(std::fabs(std::sqrt(x * x + yy) - 2.0) < 1e-5);
    QVERIFY(std::fabs(std::sqrt((x - 1.000001) * (x - 1.000001) + yy) - 1.0) < 1e-5);
}

void tst_BoundingBall::containsCircle_data()
{
    QTest::addColumn<Xyr>("outer");
    QTest::addColumn<Xyr>("inner");
    QTest::addColumn<bool>("contains");

    QTest::newRow("inside") << Xyr{0, 0, 2} << Xyr{1, 0, 0.5} << true;
    QTest::newRow("touching inside") << Xyr{0, 0, 2} << Xyr{1.5, 0, 0.5} << true;
    QTest::newRow("sticking out") << Xyr{0, 0, 2} << Xyr{1.8, 0, 0.5} << false;
    QTest::newRow("outside") << Xyr{0, 0, 2} << Xyr{3, 0, 0.1} << false;
    QTest::newRow("itself") << Xyr{0, 0, 2} << Xyr{0, 0, 2} << true;
    // The same centre: the larger circle is not inside the smaller one.
    QTest::newRow("concentric, larger") << Xyr{0, 0, 2} << Xyr{0, 0, 3} << false;
    QTest::newRow("concentric, smaller") << Xyr{0, 0, 2} << Xyr{0, 0, 1} << true;
    QTest::newRow("a point inside") << Xyr{0, 0, 2} << Xyr{1, 1, 0} << true;
    // Null circles contain nothing and are in nothing.
    QTest::newRow("null other") << Xyr{0, 0, 2} << Xyr{0, 0, -1} << false;
    QTest::newRow("null this") << Xyr{0, 0, -1} << Xyr{0, 0, 0} << false;
}

void tst_BoundingBall::containsCircle()
{
    QFETCH(Xyr, outer);
    QFETCH(Xyr, inner);
    QFETCH(bool, contains);
    QCOMPARE(circle<Circle2Df>(outer).contains(circle<Circle2Df>(inner)), contains);
    QCOMPARE(circle<Circle2Dd>(outer).contains(circle<Circle2Dd>(inner)), contains);
}

void tst_BoundingBall::containsPoint()
{
    const Circle2Df c(Point2Df(0, 0), 2);
    QVERIFY(c.contains(Point2Df(2, 0)));
    QVERIFY(c.contains(Point2Df(0, 0)));
    QVERIFY(!c.contains(Point2Df(2.0001f, 0)));
    QVERIFY(Circle2Dd(Point2Dd(5, 5), 0).contains(Point2Dd(5, 5)));
    // The reset state (r = -1) has r^2 = 1 but holds no point.
    QVERIFY(!Circle2Df().contains(Point2Df(0, 0)));
    QVERIFY(!Circle2Dd().contains(Point2Dd(0.5, 0)));
    QVERIFY(!Sphere3Df().contains(Point3Df(0, 0, 0)));
    // Nor does it meet anything.
    QVERIFY(!Circle2Df().intersects(c));
    QVERIFY(!c.intersects(Circle2Df()));
}

void tst_BoundingBall::sphereFamily()
{
    const Sphere3Df a = sphere(0, 0, 0, 2);
    const Sphere3Df b = sphere(0, 0, 2, 2);
    QVERIFY(a.intersects(b));
    QVERIFY(same(a & b, sphere(0, 0, 1, std::sqrt(3.0f))));
    QVERIFY(same(a | sphere(0, 4, 0, 1), sphere(0, 1.5f, 0, 3.5f)));
    QVERIFY(same(a | sphere(0, 0, 1, 0.5f), a));
    QVERIFY(same(sphere(0, 0, 1, 0.5f) & a, sphere(0, 0, 1, 0.5f)));
    QVERIFY(same(a & sphere(0, 0, 5, 1), Sphere3Df()));
    QVERIFY(a.contains(Point3Df(0, 0, 2)));
    QVERIFY(!a.contains(Point3Df(1.5f, 0, 1.5f)));
    QVERIFY(a.contains(sphere(0, 1, 1, 0.5f)));
    QVERIFY(!a.contains(sphere(0, 0, 0, 2.5f)));
    QVERIFY(same(a.translated(Point3Df(1, 2, 3)), sphere(1, 2, 3, 2)));
}

void tst_BoundingBall::measures_data()
{
    QTest::addColumn<double>("r");
    QTest::addColumn<float>("area");
    QTest::addColumn<float>("circumference");

    const float pi = 3.14159265358979323846f;
    QTest::newRow("2") << 2.0 << 12.566371f << 12.566371f;
    QTest::newRow("0.5") << 0.5 << 0.7853982f << 3.1415927f;
    QTest::newRow("empty") << -1.0 << pi << -2 * pi;
}

void tst_BoundingBall::measures()
{
    QFETCH(double, r);
    QFETCH(float, area);
    QFETCH(float, circumference);
    const Circle2Df f(Point2Df(5, 5), float(r));
    QCOMPARE(bits(f.area()), bits(area));
    QCOMPARE(bits(f.circumference()), bits(circumference));
    const Circle2Dd d(Point2Dd(5, 5), r);
    QCOMPARE(d.area(), r * r * 3.141592653589793);
    QCOMPARE(d.circumference(), (r + r) * 3.141592653589793);
}

void tst_BoundingBall::sphereMeasures()
{
    QCOMPARE(bits(sphere(0, 0, 0, 1).surfaceArea()), bits(12.566371f));
    QCOMPARE(bits(sphere(0, 0, 0, 1).volume()), bits(4.1887903f));
    QCOMPARE(bits(sphere(0, 0, 0, 2).surfaceArea()), bits(50.265484f));
    QCOMPARE(bits(sphere(0, 0, 0, 2).volume()), bits(33.510323f));
}

void tst_BoundingBall::sphereMapped_data()
{
    QTest::addColumn<QMatrix4x4>("m");
    QTest::addColumn<Point3Df>("centre");
    QTest::addColumn<float>("radius");

    // The sphere is (1, 2, 3) with radius 2.
    QTest::newRow("identity") << QMatrix4x4() << Point3Df(1, 2, 3) << 2.0f;
    QMatrix4x4 m;
    m.translate(1, 2, 3);
    QTest::newRow("translation") << m << Point3Df(2, 4, 6) << 2.0f;
    m.setToIdentity();
    m.scale(2);
    QTest::newRow("uniform scale") << m << Point3Df(2, 4, 6) << 4.0f;
    m.setToIdentity();
    m.scale(1, 3, 2);
    QTest::newRow("scale 1, 3, 2") << m << Point3Df(1, 6, 6) << 6.0f;
    m.setToIdentity();
    m.rotate(90, 0, 0, 1);
    QTest::newRow("quarter turn about z") << m << Point3Df(-2, 1, 3) << 2.0f;
    m.translate(0, 0, -3);
    QTest::newRow("turn after a translation") << m << Point3Df(-2, 1, 0) << 2.0f;
}

void tst_BoundingBall::sphereMapped()
{
    QFETCH(QMatrix4x4, m);
    QFETCH(Point3Df, centre);
    QFETCH(float, radius);
    const Sphere3Df s = sphere(1, 2, 3, 2).mapped(m);
    QVERIFY2(same(s, Sphere3Df(centre, radius)), describe(s.center()).constData());
    QVERIFY(Sphere3Df().mapped(m).isNull());
}

void tst_BoundingBall::circleMapped()
{
    QTransform t;
    t.translate(1, 2);
    t.rotate(90);
    t.scale(3, 2);
    // (2, 1) goes to (3 * 2, 2 * 1) = (6, 2), turned to (-2, 6), moved to (-1, 8).
    const Circle2Df f = Circle2Df(Point2Df(2, 1), 1).mapped(t);
    QVERIFY2(std::fabs(f.x + 1) < 1e-5f && std::fabs(f.y - 8) < 1e-5f, text(f));
    QVERIFY(std::fabs(f.r - 3) < 1e-5f);
    const Circle2Dd d = Circle2Dd(Point2Dd(2, 1), 1).mapped(t);
    QVERIFY2(std::fabs(d.x + 1) < 1e-12 && std::fabs(d.y - 8) < 1e-12, text(d));
    QVERIFY(std::fabs(d.r - 3) < 1e-12);
    QVERIFY(Circle2Dd().mapped(t).isNull());
}

QTEST_APPLESS_MAIN(tst_BoundingBall)

#include "tst_boundingball.moc"
