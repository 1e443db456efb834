#include "voxel/convexrings.h"

#include <QtTest>

using geom::ConvexRings;
using geom::Point3Df;

namespace {

QVector<Point3Df> numbered(int n)
{
    QVector<Point3Df> ring;
    for (int i = 0; i < n; ++i)
        ring.append(Point3Df(float(i), 0, 0));
    return ring;
}

// The ring indices of the triangles (points were numbered by x).
QVector<int> indices(const QVector<Point3Df> &points)
{
    QVector<int> result;
    for (const Point3Df &p : points)
        result.append(int(p.x));
    return result;
}

QVector<Point3Df> square(float z, float half = 1.0f)
{
    return {Point3Df(-half, -half, z), Point3Df(half, -half, z), Point3Df(half, half, z), Point3Df(-half, half, z)};
}

Point3Df cross(const Point3Df &a, const Point3Df &b, const Point3Df &c)
{
    const Point3Df u = b - a;
    const Point3Df v = c - a;
    return Point3Df(u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x);
}

} // namespace

class TestConvexRings : public QObject
{
    Q_OBJECT

private slots:
    void zigZag_data();
    void zigZag();
    void facetsCarryNormals();
    void bandFacesOutwards();
    void fans();
    void nullRingIsCap();
};

void TestConvexRings::zigZag_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QVector<int>>("expected");
    QTest::newRow("2 points") << 2 << QVector<int>();
    QTest::newRow("triangle") << 3 << QVector<int>{0, 1, 2};
    QTest::newRow("quad") << 4 << QVector<int>{0, 1, 3, 3, 1, 2};
    QTest::newRow("pentagon") << 5 << QVector<int>{0, 1, 4, 4, 1, 2, 4, 2, 3};
    QTest::newRow("hexagon") << 6 << QVector<int>{0, 1, 5, 5, 1, 2, 5, 2, 4, 4, 2, 3};
}

void TestConvexRings::zigZag()
{
    QFETCH(int, n);
    QFETCH(QVector<int>, expected);
    const QVector<Point3Df> ring = numbered(n);
    QCOMPARE(indices(ConvexRings::processConvexV(ring)), expected);
    QCOMPARE(indices(ConvexRings::processConvexV(ring.constData(), n)), expected);
    QCOMPARE(ConvexRings::triangulateConvex(ring).size(), std::max(0, n - 2));
}

void TestConvexRings::facetsCarryNormals()
{
    const QList<geom::Facet> facets = ConvexRings::triangulateConvex(square(2));
    QCOMPARE(facets.size(), 2);
    for (const geom::Facet &f : facets)
        QCOMPARE(f.normal, Point3Df(0, 0, 1));
}

void TestConvexRings::bandFacesOutwards()
{
    const QVector<Point3Df> b = square(0);
    const QVector<Point3Df> a = square(1);
    const QVector<Point3Df> band = ConvexRings::stitchConvexV(a.constData(), b.constData(), 4);
    QCOMPARE(band.size(), 24);
    for (int i = 0; i < band.size(); i += 3) {
        const Point3Df n = cross(band[i], band[i + 1], band[i + 2]);
        const Point3Df centre = (band[i] + band[i + 1] + band[i + 2]) * (1.0f / 3.0f);
        // Away from the z axis: the normal's horizontal part points along the centre's.
        QVERIFY2(n.x * centre.x + n.y * centre.y > 0, qPrintable(QString::number(i / 3)));
        QCOMPARE(n.z, 0.0f);
    }
}

void TestConvexRings::fans()
{
    const QVector<Point3Df> b = square(0);
    // Only the first two points decide: a ring whose other points differ still collapses.
    QVector<Point3Df> apex = square(1, 0.0f);
    apex[1].x += 5e-6f;
    apex[2] = Point3Df(7, 7, 7);
    const QVector<Point3Df> up = ConvexRings::stitchConvexV(apex.constData(), b.constData(), 4);
    QCOMPARE(up.size(), 12);
    for (int i = 0; i < 4; ++i) {
        const int p = (i + 3) % 4;
        QCOMPARE(up[3 * i], b[i]);
        QCOMPARE(up[3 * i + 1], apex[0]);
        QCOMPARE(up[3 * i + 2], b[p]);
    }
    const QVector<Point3Df> down = ConvexRings::stitchConvexV(b.constData(), apex.constData(), 4);
    QCOMPARE(down.size(), 12);
    QCOMPARE(down[0], b[3]);
    QCOMPARE(down[1], apex[0]);
    QCOMPARE(down[2], b[0]);
    QVERIFY(ConvexRings::stitchConvexV(b.constData(), b.constData(), 2).isEmpty());
}

void TestConvexRings::nullRingIsCap()
{
    const QVector<Point3Df> b = numbered(5);
    const QVector<Point3Df> cap = ConvexRings::stitchConvexV(nullptr, b.constData(), 5);
    QCOMPARE(cap.size(), 9);
    QCOMPARE(cap, ConvexRings::processConvexV(b));
}

QTEST_APPLESS_MAIN(TestConvexRings)
#include "tst_convexrings.moc"
