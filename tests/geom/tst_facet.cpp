#include "facet.h"
#include "geomtestutil.h"

#include <QtTest>

#include <cmath>
#include <cstring>

using geom::Facet;
using geom::Point2Df;
using geom::Point3Df;

class TestFacet : public QObject
{
    Q_OBJECT

private slots:
    void recordLayout();
    void constructors();
    void flip();
    void degenerateNormals_data();
    void degenerateNormals();
    void areaAndVolume_data();
    void areaAndVolume();
    void closedMeshVolume();
};

void TestFacet::recordLayout()
{
    const Facet f(Point3Df(4, 5, 6), Point3Df(7, 8, 9), Point3Df(10, 11, 12), Point3Df(1, 2, 3));
    float raw[12];
    QCOMPARE(sizeof(Facet), sizeof raw);
    std::memcpy(raw, &f, sizeof raw);
    for (int i = 0; i < 12; ++i)
        QCOMPARE(raw[i], float(i + 1));

    const Facet zero;
    std::memcpy(raw, &zero, sizeof raw);
    for (float v : raw)
        QCOMPARE(v, 0.0f);
}

void TestFacet::constructors()
{
    // The given normal is kept as it is, even when it is not a unit vector.
    const Facet given(Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 1, 0), Point3Df(0, 0, 7));
    QCOMPARE(given.normal, Point3Df(0, 0, 7));

    const Facet computed(Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 1, 0));
    QCOMPARE(computed.normal, Point3Df(0, 0, 1));
    QCOMPARE(computed.area(), 0.5);

    const Facet flat(Point2Df(0, 0), Point2Df(2, 0), Point2Df(0, 2), 5.0f);
    QCOMPARE(flat.vertex1, Point3Df(0, 0, 5));
    QCOMPARE(flat.vertex2, Point3Df(2, 0, 5));
    QCOMPARE(flat.vertex3, Point3Df(0, 2, 5));
    QCOMPARE(flat.normal, Point3Df(0, 0, 1));
    QCOMPARE(flat.area(), 2.0);
    QCOMPARE(flat.crossNormal(), Point3Df(0, 0, 4));

    // Clockwise seen from above: the normal points down.
    const Facet clockwise(Point2Df(0, 0), Point2Df(0, 2), Point2Df(2, 0), 1.0f);
    QCOMPARE(clockwise.normal, Point3Df(0, 0, -1));
    QCOMPARE(clockwise.computeNormal(), Point3Df(0, 0, -1));
}

void TestFacet::flip()
{
    Facet f(Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 1, 0));
    f.flip();
    QCOMPARE(f.normal, Point3Df(0, 0, -1));
    QVERIFY(std::signbit(f.normal.x) && std::signbit(f.normal.y));
    QCOMPARE(f.vertex1, Point3Df(0, 0, 0));
    QCOMPARE(f.vertex2, Point3Df(0, 1, 0));
    QCOMPARE(f.vertex3, Point3Df(1, 0, 0));
    // Flipped, the vertices agree with the flipped normal.
    QCOMPARE(f.computeNormal(), f.normal);
}

void TestFacet::degenerateNormals_data()
{
    QTest::addColumn<Point3Df>("a");
    QTest::addColumn<Point3Df>("b");
    QTest::addColumn<Point3Df>("c");
    QTest::addColumn<Point3Df>("expected");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("collinear") << Point3Df(0, 0, 0) << Point3Df(1, 1, 1) << Point3Df(2, 2, 2) << Point3Df(0, 0, 0);
    QTest::newRow("two equal") << Point3Df(1, 2, 3) << Point3Df(1, 2, 3) << Point3Df(4, 0, 3) << Point3Df(0, 0, 0);
    QTest::newRow("one point") << Point3Df(1, 2, 3) << Point3Df(1, 2, 3) << Point3Df(1, 2, 3) << Point3Df(0, 0, 0);
    QTest::newRow("NaN vertex") << Point3Df(0, 0, 0) << Point3Df(nan, 0, 0) << Point3Df(0, 1, 0) << Point3Df(0, 0, 0);
    QTest::newRow("infinite vertex") << Point3Df(0, 0, 0) << Point3Df(inf, 0, 0) << Point3Df(0, 1, 0) << Point3Df(0, 0, 0);
    // The float cross product underflows (tiny) or overflows (huge); the
    // triangle still has a direction.
    QTest::newRow("tiny") << Point3Df(0, 0, 0) << Point3Df(1e-25f, 0, 0) << Point3Df(0, 1e-25f, 0) << Point3Df(0, 0, 1);
    QTest::newRow("huge") << Point3Df(0, 0, 0) << Point3Df(0, 3e20f, 0) << Point3Df(3e20f, 0, 0) << Point3Df(0, 0, -1);
}

void TestFacet::degenerateNormals()
{
    QFETCH(Point3Df, a);
    QFETCH(Point3Df, b);
    QFETCH(Point3Df, c);
    QFETCH(Point3Df, expected);

    const Point3Df n = geom::triangleNormal(a, b, c);
    QCOMPARE(n, expected);
    QCOMPARE(Facet(a, b, c).normal, expected);

    const Point3Df abc[3] = {a, b, c};
    float area = -1, volume = -1;
    geom::triangleAreaAndVolume(area, volume, abc, Point3Df(5, 5, 5));
    if (expected == Point3Df(0, 0, 0))
        QCOMPARE(volume, 0.0f);
    QVERIFY(!std::isnan(volume));
}

void TestFacet::areaAndVolume_data()
{
    QTest::addColumn<Point3Df>("apex");
    QTest::addColumn<float>("volume");

    QTest::newRow("apex behind the normal") << Point3Df(0, 0, 0) << 1.0f / 6.0f;
    QTest::newRow("apex in front of the normal") << Point3Df(1, 1, 1) << -1.0f / 3.0f;
    QTest::newRow("apex in the plane") << Point3Df(1.0f / 3, 1.0f / 3, 1.0f / 3) << 0.0f;
}

void TestFacet::areaAndVolume()
{
    QFETCH(Point3Df, apex);
    QFETCH(float, volume);

    const Point3Df abc[3] = {Point3Df(1, 0, 0), Point3Df(0, 1, 0), Point3Df(0, 0, 1)};
    float area = 0, vol = 0;
    geom::triangleAreaAndVolume(area, vol, abc, apex);
    QVERIFY(qAbs(area - 0.8660254f) < 1e-6f);
    QVERIFY2(qAbs(vol - volume) < 1e-6f, qPrintable(QString::number(double(vol))));
    QCOMPARE(geom::triangleArea(abc), area);
}

// Summed over a closed, outward-oriented mesh the signed volumes give the
// enclosed volume wherever the apex lies.
void TestFacet::closedMeshVolume()
{
    // Unit cube from (1, 2, 3), twelve outward facets.
    const Point3Df o(1, 2, 3);
    auto p = [&o](float x, float y, float z) { return Point3Df(o.x + x, o.y + y, o.z + z); };
    const Facet faces[12] = {
        Facet(p(0, 0, 0), p(0, 1, 0), p(1, 1, 0)), Facet(p(0, 0, 0), p(1, 1, 0), p(1, 0, 0)), // bottom
        Facet(p(0, 0, 1), p(1, 0, 1), p(1, 1, 1)), Facet(p(0, 0, 1), p(1, 1, 1), p(0, 1, 1)), // top
        Facet(p(0, 0, 0), p(1, 0, 0), p(1, 0, 1)), Facet(p(0, 0, 0), p(1, 0, 1), p(0, 0, 1)), // front
        Facet(p(0, 1, 0), p(0, 1, 1), p(1, 1, 1)), Facet(p(0, 1, 0), p(1, 1, 1), p(1, 1, 0)), // back
        Facet(p(0, 0, 0), p(0, 0, 1), p(0, 1, 1)), Facet(p(0, 0, 0), p(0, 1, 1), p(0, 1, 0)), // left
        Facet(p(1, 0, 0), p(1, 1, 0), p(1, 1, 1)), Facet(p(1, 0, 0), p(1, 1, 1), p(1, 0, 1)), // right
    };
    for (const Point3Df &apex : {Point3Df(0, 0, 0), Point3Df(1.5f, 2.5f, 3.5f), Point3Df(-10, 4, 20)}) {
        double total = 0, surface = 0;
        for (const Facet &f : faces) {
            float area = 0, volume = 0;
            geom::triangleAreaAndVolume(area, volume, &f.vertex1, apex);
            total += volume;
            surface += area;
            // Every face points out of the cube.
            const Point3Df centre = p(0.5f, 0.5f, 0.5f);
            const Point3Df out = f.vertex1 - centre;
            QVERIFY(out.x * f.normal.x + out.y * f.normal.y + out.z * f.normal.z > 0);
        }
        QVERIFY2(qAbs(total - 1.0) < 1e-5, qPrintable(QString::number(total)));
        QVERIFY(qAbs(surface - 6.0) < 1e-5);
    }
}

QTEST_APPLESS_MAIN(TestFacet)
#include "tst_facet.moc"
