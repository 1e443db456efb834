#include "conversions.h"
#include "geomtestutil.h"
#include "gridpoint.h"
#include "sampletable.h"

#include <QTest>

#include <limits>

using geom::Point2Dd;
using geom::Point2Df;
using geom::Point3Df;

class tst_Conversions : public QObject
{
    Q_OBJECT

private slots:
    void pointTypes();
    void homogeneousVector_data();
    void homogeneousVector();
    void matrices();
    void gridPoints_data();
    void gridPoints();
    void sampleTableStartsEmpty();
};

void tst_Conversions::pointTypes()
{
    QCOMPARE(geom::toQPointF(Point2Dd(0.1, -3)), QPointF(0.1, -3));
    QCOMPARE(geom::toPoint2Dd(QPointF(0.1, -3)), Point2Dd(0.1, -3));
    QCOMPARE(geom::toQVector2D(QPointF(0.1, 2)), QVector2D(0.1f, 2.0f));
    QCOMPARE(geom::toQVector2D(Point2Dd(0.1, 2)), QVector2D(0.1f, 2.0f));
    QCOMPARE(geom::toQPointF(Point2Df(0.1f, 2)), QPointF(double(0.1f), 2));
    QCOMPARE(geom::toQPointF(QVector2D(0.1f, 2)), QPointF(double(0.1f), 2));
    QCOMPARE(geom::toQVector2D(Point2Df(0.1f, -1)), QVector2D(0.1f, -1));
    QCOMPARE(geom::toPoint2Df(QVector2D(0.1f, -1)), Point2Df(0.1f, -1));
    QCOMPARE(geom::toQVector3D(Point3Df(1, 2, 3)), QVector3D(1, 2, 3));
    QCOMPARE(geom::toPoint3Df(QVector3D(1, 2, 3)), Point3Df(1, 2, 3));

    float four[4];
    geom::toFloats(QVector4D(1, 2, 3, 4), four);
    QCOMPARE(four[0], 1.0f);
    QCOMPARE(four[3], 4.0f);
    QCOMPARE(geom::toQVector4D(four), QVector4D(1, 2, 3, 4));
}

void tst_Conversions::homogeneousVector_data()
{
    QTest::addColumn<QVector4D>("v");
    QTest::addColumn<bool>("divide");
    QTest::addColumn<Point3Df>("expected");

    QTest::newRow("divided") << QVector4D(2, 4, 6, 2) << true << Point3Df(1, 2, 3);
    QTest::newRow("negative w") << QVector4D(2, 4, 6, -2) << true << Point3Df(-1, -2, -3);
    QTest::newRow("not asked") << QVector4D(2, 4, 6, 2) << false << Point3Df(2, 4, 6);
    QTest::newRow("w at the tolerance") << QVector4D(2, 4, 6, 1e-5f) << true << Point3Df(2, 4, 6);
    QTest::newRow("w zero") << QVector4D(2, 4, 6, 0) << true << Point3Df(2, 4, 6);
}

void tst_Conversions::homogeneousVector()
{
    QFETCH(QVector4D, v);
    QFETCH(bool, divide);
    QFETCH(Point3Df, expected);
    QCOMPARE(geom::toPoint3Df(v, divide), expected);
}

void tst_Conversions::matrices()
{
    const QTransform t(1.5, 2, 3, 4, 5, 6, 7.25, 8, 9);
    float nine[9];
    geom::toFloats(t, nine);
    const float expectedNine[9] = {1.5f, 2, 3, 4, 5, 6, 7.25f, 8, 9};
    for (int i = 0; i < 9; ++i)
        QCOMPARE(nine[i], expectedNine[i]);

    QMatrix4x4 m;
    m.translate(10, 20, 30);
    float sixteen[16];
    geom::toFloats(m, sixteen);
    // Column by column: the translation is the fourth column.
    QCOMPARE(sixteen[12], 10.0f);
    QCOMPARE(sixteen[13], 20.0f);
    QCOMPARE(sixteen[14], 30.0f);
    QCOMPARE(sixteen[15], 1.0f);
    QCOMPARE(sixteen[3], 0.0f);
}

void tst_Conversions::gridPoints_data()
{
    QTest::addColumn<QPoint>("in");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");

    QTest::newRow("small") << QPoint(12, -7) << 12 << -7;
    QTest::newRow("limits") << QPoint(32767, -32768) << 32767 << -32768;
    QTest::newRow("wraps above") << QPoint(32768, 65535) << -32768 << -1;
    QTest::newRow("low 16 bits") << QPoint(0x12345, -65537) << 0x2345 << -1;
}

void tst_Conversions::gridPoints()
{
    QFETCH(QPoint, in);
    QFETCH(int, x);
    QFETCH(int, y);

    const geom::GridPoint2D g = geom::toGridPoint2D(in);
    QCOMPARE(int(g.x), x);
    QCOMPARE(int(g.y), y);
    QCOMPARE(geom::toQPoint(g), QPoint(x, y));

    const geom::GridPoint3D g3 = geom::toGridPoint3D(in, -5);
    QCOMPARE(int(g3.x), x);
    QCOMPARE(int(g3.y), y);
    QCOMPARE(int(g3.z), -5);
    QCOMPARE(geom::toQPoint(g3), QPoint(x, y));
}

void tst_Conversions::sampleTableStartsEmpty()
{
    geom::SampleTable table;
    QCOMPARE(table.entries.size(), 0);
    QVERIFY(table.bytes.isEmpty());

    table.entries.append(geom::SampleTableEntry{0.5f, 0.1f, 0, 0});
    table.bytes = "x";
    const geom::SampleTable copy = table;
    table.entries = QVector<geom::SampleTableEntry>();
    QCOMPARE(table.entries.size(), 0);
    QCOMPARE(table.bytes, QByteArray("x"));
    QCOMPARE(copy.entries.size(), 1);
    QCOMPARE(copy.entries.first().thickness, 0.1f);
}

QTEST_APPLESS_MAIN(tst_Conversions)
#include "tst_conversions.moc"
