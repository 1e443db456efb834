#include "bounds2d.h"
#include "bounds3d.h"
#include "geomtestutil.h"

#include <QTest>

#include <cfloat>
#include <cmath>
#include <limits>

using geom::Bounds2Df;
using geom::Bounds3Df;
using geom::BoxSides;
using geom::Point2Df;
using geom::Point3Df;

namespace {

Bounds2Df box(float x0, float y0, float x1, float y1)
{
    return Bounds2Df(Point2Df(x0, y0), Point2Df(x1, y1));
}

// Exact, unlike the box's own fuzzy operator==.
bool same(const Bounds2Df &a, const Bounds2Df &b)
{
    return a.minX == b.minX && a.minY == b.minY && a.maxX == b.maxX && a.maxY == b.maxY;
}

template <typename T>
QString debugText(const T &value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

const float inf = std::numeric_limits<float>::infinity();
const float qnan = std::numeric_limits<float>::quiet_NaN();

} // namespace

class tst_Bounds : public QObject
{
    Q_OBJECT

private slots:
    void emptyBox();
    void predicates_data();
    void predicates();
    void extend();
    void extendArrays();
    void unite();
    void intersect();
    void intersects();
    void containsPoint_data();
    void containsPoint();
    void containsBox();
    void equality();
    void scalingAndNormalize();
    void movesAndAdjustments();
    void cornerReferences();
    void anchor_data();
    void anchor();
    void outcode();
    void qrectConversions();
    void debugText2D();
    void box3D();
};

void tst_Bounds::emptyBox()
{
    Bounds2Df b;
    QCOMPARE(b.minX, FLT_MAX);
    QCOMPARE(b.minY, FLT_MAX);
    QCOMPARE(b.maxX, -FLT_MAX);
    QCOMPARE(b.maxY, -FLT_MAX);
    QVERIFY(b.isNull());
    QVERIFY(!b.isValid());
    QVERIFY(b.isEmpty());
    QCOMPARE(b.size(), Point2Df(-inf, -inf));
    QCOMPARE(b.center(), Point2Df(0, 0));
    QVERIFY(same(b.normalized(), Bounds2Df()));

    b = box(1, 2, 3, 4);
    b.reset();
    QVERIFY(same(b, Bounds2Df()));

    Bounds3Df c;
    QCOMPARE(c.minZ, FLT_MAX);
    QCOMPARE(c.maxZ, -FLT_MAX);
    QVERIFY(c.isNull());
    QVERIFY(!c.isValid());
}

void tst_Bounds::predicates_data()
{
    QTest::addColumn<Bounds2Df>("b");
    QTest::addColumn<bool>("null");
    QTest::addColumn<bool>("valid");

    QTest::newRow("ordinary") << box(0, 0, 1, 2) << false << true;
    QTest::newRow("single point") << box(2, 3, 2, 3) << false << false;
    QTest::newRow("zero width") << box(1, 2, 1, 5) << false << false;
    QTest::newRow("reversed") << box(5, 5, 1, 1) << false << false;
    QTest::newRow("infinite side") << box(0, 0, inf, 1) << true << false;
    QTest::newRow("NaN side") << box(0, qnan, 1, 1) << true << false;
    QTest::newRow("whole float range") << box(-FLT_MAX, 0, FLT_MAX, 1) << true << false;
    QTest::newRow("half the float range") << box(0, 0, FLT_MAX, 1) << false << true;
}

void tst_Bounds::predicates()
{
    QFETCH(Bounds2Df, b);
    QFETCH(bool, null);
    QFETCH(bool, valid);
    QCOMPARE(b.isNull(), null);
    QCOMPARE(b.isValid(), valid);
    QCOMPARE(b.isEmpty(), !valid);
}

void tst_Bounds::extend()
{
    Bounds2Df b;
    b.extend(Point2Df(2, 3));
    QVERIFY(same(b, box(2, 3, 2, 3)));
    QVERIFY(!b.isNull());
    QVERIFY(!b.isValid());
    QVERIFY(b.isEmpty());
    b.extend(Point2Df(5, 1));
    QVERIFY(same(b, box(2, 1, 5, 3)));
    QVERIFY(b.isValid());

    // A NaN coordinate changes nothing on its axis.
    b.extend(Point2Df(qnan, 10));
    QVERIFY(same(b, box(2, 1, 5, 10)));

    // Both tests are made: a reversed box can grow at both ends by one point.
    Bounds2Df reversed = box(5, 5, 1, 1);
    reversed.extend(Point2Df(3, 3));
    QVERIFY(same(reversed, box(3, 3, 3, 3)));
}

void tst_Bounds::extendArrays()
{
    const QVector<Point2Df> points{Point2Df(1, 5), Point2Df(-2, 3), Point2Df(4, -1), Point2Df(qnan, 7)};
    Bounds2Df one;
    for (const Point2Df &p : points)
        one.extend(p);
    Bounds2Df fromArray;
    fromArray.extend(points.constData(), points.size());
    Bounds2Df fromVector;
    fromVector.extend(points);
    QVERIFY(same(fromArray, one));
    QVERIFY(same(fromVector, one));
    QVERIFY(same(one, box(-2, -1, 4, 7)));

    Bounds2Df unchanged = box(0, 0, 1, 1);
    unchanged.extend(nullptr, 3);
    unchanged.extend(points.constData(), 0);
    unchanged.extend(points.constData(), -3);
    unchanged.extend(QVector<Point2Df>());
    QVERIFY(same(unchanged, box(0, 0, 1, 1)));

    const QVector<Point3Df> points3{Point3Df(1, 2, 3), Point3Df(-1, 0, 9)};
    Bounds3Df c;
    c.extend(points3);
    QCOMPARE(c.min(), Point3Df(-1, 0, 3));
    QCOMPARE(c.max(), Point3Df(1, 2, 9));
    Bounds3Df d;
    d.extend(points3.constData(), points3.size());
    QCOMPARE(d.min(), c.min());
    QCOMPARE(d.max(), c.max());
}

void tst_Bounds::unite()
{
    const Bounds2Df a = box(0, 0, 1, 1);
    QVERIFY(same(a.united(Bounds2Df()), a));
    // An empty box takes the other box exactly, reversed or not.
    QVERIFY(same(Bounds2Df().united(box(5, 5, 1, 1)), box(5, 5, 1, 1)));
    QVERIFY(same(Bounds2Df().united(a), a));
    // Otherwise both are normalized first.
    QVERIFY(same(a.united(box(3, 2, 2, -1)), box(0, -1, 3, 2)));
    QVERIFY(same(a | box(0.5f, 0.5f, 2, 0.75f), box(0, 0, 2, 1)));
    Bounds2Df b = a;
    b |= box(-1, -1, 0, 0);
    QVERIFY(same(b, box(-1, -1, 1, 1)));
    QVERIFY(same(b.unite(box(0, 0, inf, 1)), box(-1, -1, 1, 1)));
}

void tst_Bounds::intersect()
{
    const Bounds2Df a = box(0, 0, 1, 1);
    const Bounds2Df touching = a.intersected(box(1, 0, 2, 1));
    QVERIFY(same(touching, box(1, 0, 1, 1)));
    QVERIFY(!touching.isNull());
    QVERIFY(!touching.isValid());

    QVERIFY(same(a & box(2, 2, 3, 3), Bounds2Df()));
    // Disjoint only in y: the x axis was already clipped, and yet the result
    // is the empty box.
    QVERIFY(same(a.intersected(box(0.5f, 5, 0.7f, 6)), Bounds2Df()));
    QVERIFY(same(Bounds2Df().intersected(a), Bounds2Df()));
    QVERIFY(same(a.intersected(Bounds2Df()), Bounds2Df()));
    // A null box stays what it is.
    const Bounds2Df infinite = box(0, 0, inf, 1);
    QVERIFY(same(infinite.intersected(a), infinite));
    // Reversed operands are normalized.
    QVERIFY(same(box(2, 2, -1, -1).intersected(box(1.5f, 0.5f, 0.5f, 1.5f)), box(0.5f, 0.5f, 1.5f, 1.5f)));

    Bounds2Df b = a;
    b &= box(0.25f, -1, 0.5f, 0.5f);
    QVERIFY(same(b, box(0.25f, 0, 0.5f, 0.5f)));
}

void tst_Bounds::intersects()
{
    const Bounds2Df a = box(0, 0, 1, 1);
    QVERIFY(a.intersects(box(1, 1, 2, 2)));
    QVERIFY(a.intersects(box(0.5f, -5, 0.6f, 5)));
    QVERIFY(!a.intersects(box(1.5f, 0, 2, 1)));
    QVERIFY(!a.intersects(Bounds2Df()));
    QVERIFY(!Bounds2Df().intersects(a));
    // Stored coordinates, not normalized: a reversed box that would cover a
    // once normalized misses it.
    QVERIFY(!a.intersects(box(2, 0, -1, 1)));
}

void tst_Bounds::containsPoint_data()
{
    QTest::addColumn<Point2Df>("p");
    QTest::addColumn<bool>("inside");

    QTest::newRow("middle") << Point2Df(0.5f, 0.5f) << true;
    QTest::newRow("on the max side") << Point2Df(1, 0.5f) << true;
    QTest::newRow("within the relative slack") << Point2Df(1.000005f, 0.5f) << true;
    QTest::newRow("beyond the slack") << Point2Df(1.00002f, 0.5f) << false;
    QTest::newRow("on the side at 0") << Point2Df(0, 0.5f) << true;
    QTest::newRow("no slack at 0") << Point2Df(-0.000001f, 0.5f) << false;
    QTest::newRow("NaN") << Point2Df(qnan, 0.5f) << false;
}

void tst_Bounds::containsPoint()
{
    QFETCH(Point2Df, p);
    QFETCH(bool, inside);
    QCOMPARE(box(0, 0, 1, 1).contains(p), inside);
    // Any point is outside a box of zero extent.
    QVERIFY(!box(0, 0, 1, 0).contains(Point2Df(0.5f, 0)));
    QVERIFY(!Bounds2Df().contains(Point2Df(0, 0)));
}

void tst_Bounds::containsBox()
{
    const Bounds2Df a = box(0, 0, 10, 10);
    QVERIFY(a.contains(box(1, 1, 2, 2)));
    QVERIFY(a.contains(a));
    QVERIFY(a.contains(box(0, 0, 10.00005f, 10)));
    QVERIFY(!a.contains(box(0, 0, 10.001f, 10)));
    QVERIFY(!a.contains(box(-0.000001f, 0, 5, 5)));
    // Both boxes must be valid.
    QVERIFY(!a.contains(box(1, 1, 1, 2)));
    QVERIFY(!Bounds2Df().contains(box(1, 1, 2, 2)));
}

void tst_Bounds::equality()
{
    QVERIFY(box(0, 0, 1, 1) == box(0.000005f, 0, 1, 1.000005f));
    QVERIFY(!(box(0, 0, 1, 1) != box(0.000005f, 0, 1, 1.000005f)));
    QVERIFY(box(0, 0, 1, 1) != box(0.00002f, 0, 1, 1));
    // Absolute, not relative: large coordinates must match as closely.
    QVERIFY(box(0, 0, 100000, 1) != box(0, 0, 100000.01f, 1));
    QVERIFY(box(0, 0, inf, 1) == Bounds2Df());
    QVERIFY(!(box(0, 0, inf, 1) != Bounds2Df()));
    QVERIFY(box(0, 0, 1, 1) != Bounds2Df());
    QVERIFY(box(0, qnan, 1, 1) == box(5, 5, inf, 1));
}

void tst_Bounds::scalingAndNormalize()
{
    QVERIFY((box(1, 1, 2, 2) / 0.0f).isNull());
    const Bounds2Df reversed = box(1, 1, 2, 2) * -1.0f;
    QVERIFY(same(reversed, box(-1, -1, -2, -2)));
    QVERIFY(same(reversed.normalized(), box(-2, -2, -1, -1)));
    Bounds2Df b = box(1, 2, 3, 4);
    b *= 2.0f;
    QVERIFY(same(b, box(2, 4, 6, 8)));
    b /= 4.0f;
    QVERIFY(same(b, box(0.5f, 1, 1.5f, 2)));

    // Only finite reversed axes are swapped.
    Bounds2Df half = box(5, 0, 1, inf);
    half.normalize();
    QVERIFY(same(half, box(1, 0, 5, inf)));
}

void tst_Bounds::movesAndAdjustments()
{
    Bounds2Df b = box(1, 1, 3, 5);
    b.moveCenter(Point2Df(0, 0));
    QVERIFY(same(b, box(-1, -2, 1, 2)));
    b.moveTo(Point2Df(10, 10));
    QVERIFY(same(b, box(10, 10, 12, 14)));
    b.moveMin(Point2Df(0, 0));
    QVERIFY(same(b, box(0, 0, 2, 4)));
    b.moveMax(Point2Df(1, 1));
    QVERIFY(same(b, box(-1, -3, 1, 1)));
    b.setSize(Point2Df(5, 6));
    QVERIFY(same(b, box(-1, -3, 4, 3)));
    QCOMPARE(b.size(), Point2Df(5, 6));

    QVERIFY(same(box(0, 0, 1, 1).adjusted(Point2Df(1, 2), Point2Df(3, 4)), box(-1, -2, 4, 5)));
    QVERIFY(same(box(0, 0, 1, 1).adjusted(0.5f), box(-0.5f, -0.5f, 1.5f, 1.5f)));
    QVERIFY(same(box(0, 0, 1, 1).adjusted(-0.75f), box(0.75f, 0.75f, 0.25f, 0.25f)));
    QVERIFY(same(box(0, 0, 1, 1).translated(Point2Df(2, 3)), box(2, 3, 3, 4)));
    QVERIFY(same(box(0, 0, 1, 1) + Point2Df(2, 3), box(2, 3, 3, 4)));
    QVERIFY(same(box(0, 0, 1, 1) - Point2Df(2, 3), box(-2, -3, -1, -2)));
    Bounds2Df c = box(0, 0, 1, 1);
    c += Point2Df(1, 1);
    c -= Point2Df(0.5f, 0);
    QVERIFY(same(c, box(0.5f, 1, 1.5f, 2)));
    QVERIFY(same(c.copy(), c));
}

void tst_Bounds::cornerReferences()
{
    Bounds2Df b = box(1, 2, 3, 4);
    QCOMPARE(b.min(), Point2Df(1, 2));
    QCOMPARE(b.max(), Point2Df(3, 4));
    b.min() = Point2Df(-1, -2);
    b.max().y = 9;
    QVERIFY(same(b, box(-1, -2, 3, 9)));
    const float *c = b.data();
    QCOMPARE(c[0], -1.0f);
    QCOMPARE(c[3], 9.0f);
    Point2Df lo, hi;
    b.getCorners(lo, hi);
    QCOMPARE(lo, Point2Df(-1, -2));
    QCOMPARE(hi, Point2Df(3, 9));
    float x1, y1, x2, y2;
    b.getCoords(x1, y1, x2, y2);
    QCOMPARE(QVector<float>({x1, y1, x2, y2}), QVector<float>({-1, -2, 3, 9}));

    Bounds3Df d(Point3Df(1, 2, 3), Point3Df(4, 5, 6));
    d.max() = Point3Df(7, 8, 9);
    QCOMPARE(d.maxZ, 9.0f);
    QCOMPARE(d.data()[2], 3.0f);
    QCOMPARE(d.data()[5], 9.0f);
}

void tst_Bounds::anchor_data()
{
    QTest::addColumn<int>("sides");
    QTest::addColumn<Point2Df>("expected");

    QTest::newRow("none") << 0 << Point2Df(2, 3);
    QTest::newRow("all") << int(geom::MinX | geom::MaxX | geom::MinY | geom::MaxY) << Point2Df(2, 3);
    QTest::newRow("min corner") << int(geom::MinX | geom::MinY) << Point2Df(0, 1);
    QTest::newRow("max x, min y") << int(geom::MaxX | geom::MinY) << Point2Df(4, 1);
    QTest::newRow("both x flags") << int(geom::MinX | geom::MaxX | geom::MaxY) << Point2Df(2, 5);
    QTest::newRow("z flags ignored") << int(geom::MaxX | geom::MinZ) << Point2Df(4, 3);
}

void tst_Bounds::anchor()
{
    QFETCH(int, sides);
    QFETCH(Point2Df, expected);
    QCOMPARE(box(0, 1, 4, 5).anchor(BoxSides(sides)), expected);
}

void tst_Bounds::outcode()
{
    const Bounds2Df a = box(0, 0, 1, 1);
    QCOMPARE(int(a.outcode(Point2Df(1, 0))), 0);
    QCOMPARE(int(a.outcode(Point2Df(0.5f, 0.5f))), 0);
    QCOMPARE(int(a.outcode(Point2Df(-1, 5))), 9);
    QCOMPARE(a.outcode(Point2Df(2, -1)), BoxSides(geom::MaxX | geom::MinY));
    QCOMPARE(int(a.outcode(Point2Df(qnan, 2))), int(geom::MaxY));
    QCOMPARE(int(Bounds2Df().outcode(Point2Df(3, -7))), 15);
    QCOMPARE(Bounds2Df().anchor(BoxSides()), Point2Df(0, 0));
    QCOMPARE(Bounds2Df().anchor(geom::MinX | geom::MaxX | geom::MinY | geom::MaxY), Point2Df(0, 0));
    QCOMPARE(Bounds3Df().anchor(BoxSides()), Point3Df(0, 0, 0));

    const Bounds3Df c(Point3Df(0, 0, 0), Point3Df(1, 1, 1));
    QCOMPARE(int(c.outcode(Point3Df(0.5f, 0.5f, 2))), int(geom::MaxZ));
    QCOMPARE(int(c.outcode(Point3Df(-1, 0.5f, -1))), int(geom::MinX | geom::MinZ));
    QCOMPARE(int(Bounds3Df().outcode(Point3Df(0, 0, 0))), 63);
}

void tst_Bounds::qrectConversions()
{
    QCOMPARE(box(0.1f, 2, 3, 5).toQRectF(), QRectF(double(0.1f), 2, 3.0 - double(0.1f), 3));
    const QRectF negative(5, 5, -2, 3);
    const Bounds2Df reversed = Bounds2Df::fromQRectF(negative);
    QVERIFY(same(reversed, box(5, 5, 3, 8)));
    QCOMPARE(reversed.toQRectF(), negative);
    // Summed in double, then narrowed.
    QVERIFY(Bounds2Df::fromQRectF(QRectF(0.1, 0, 0.2, 1)).maxX == float(0.1 + 0.2));

    const QRectF empty = Bounds2Df().toQRectF();
    QCOMPARE(empty.x(), double(FLT_MAX));
    QCOMPARE(empty.y(), double(FLT_MAX));
    QCOMPARE(empty.width(), -2.0 * double(FLT_MAX));
    QVERIFY(std::isfinite(empty.height()));
}

void tst_Bounds::debugText2D()
{
    QCOMPARE(debugText(box(0, 0, 2, 1)), QStringLiteral("R(0, 0 : 2 x 1) "));
    QCOMPARE(debugText(Bounds2Df()), QStringLiteral("R(invalid) "));
    QCOMPARE(debugText(box(1, 2, 1, 5)), QStringLiteral("R(1, 2 : 0 x 3) "));
    QCOMPARE(debugText(box(3, 0, 1, 1)), QStringLiteral("R(3, 0 : -2 x 1) "));
    QCOMPARE(debugText(box(0.1234567f, 0, 1, 1)), QStringLiteral("R(0.123457, 0 : 0.876543 x 1) "));
    QCOMPARE(debugText(Bounds3Df(Point3Df(0, 0, 0), Point3Df(1, 2, 3))), QStringLiteral("C(0, 0, 0 : 1 x 2 x 3) "));
    QCOMPARE(debugText(Bounds3Df()), QStringLiteral("C(invalid) "));
}

void tst_Bounds::box3D()
{
    Bounds3Df a;
    a.extend(Point3Df(0, 0, 0));
    QVERIFY(!a.isNull());
    QVERIFY(!a.isValid());
    a.extend(Point3Df(1, 1, 1));
    QVERIFY(a.isValid());
    QCOMPARE(a.center(), Point3Df(0.5f, 0.5f, 0.5f));

    // A z overlap decides the 3D intersection.
    const Bounds3Df b(Point3Df(0, 0, 2), Point3Df(1, 1, 3));
    QVERIFY(!a.intersects(b));
    QVERIFY(a.intersected(b).isNull());
    const Bounds3Df u = a.united(b);
    QCOMPARE(u.min(), Point3Df(0, 0, 0));
    QCOMPARE(u.max(), Point3Df(1, 1, 3));
    QVERIFY(u.contains(Point3Df(0.5f, 0.5f, 2.5f)));
    QVERIFY(!u.contains(Point3Df(0.5f, 0.5f, 3.001f)));
    QVERIFY(u.contains(b));
    QVERIFY(u == u.adjusted(0.000005f));
    QVERIFY(u != u.adjusted(0.0001f));
    QCOMPARE(u.anchor(geom::MaxX | geom::MinY | geom::MaxZ), Point3Df(1, 0, 3));
    QCOMPARE(u.anchor(geom::MinZ | geom::MaxZ), Point3Df(0.5f, 0.5f, 1.5f));

    Bounds3Df r = u * -1.0f;
    QVERIFY(!r.isValid());
    r.normalize();
    QCOMPARE(r.min(), Point3Df(-1, -1, -3));
    QCOMPARE(r.max(), Point3Df(0, 0, 0));
    QVERIFY((u / 0.0f).isNull());
    QVERIFY(Bounds3Df().united(r) == r);
}

QTEST_APPLESS_MAIN(tst_Bounds)
#include "tst_bounds.moc"
