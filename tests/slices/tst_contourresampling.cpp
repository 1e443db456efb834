#include "contour.h"

#include <QTransform>
#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(Points)

namespace {

const Points square2{{0, 0}, {2, 0}, {2, 2}, {0, 2}};

// Four pieces on every edge of square2, starting at its last point.
Points quartered()
{
    Points p;
    const Points corners{{0, 2}, {0, 0}, {2, 0}, {2, 2}};
    for (int e = 0; e < 4; ++e) {
        const Point2Df a = corners.at(e);
        const Point2Df b = corners.at((e + 1) % 4);
        for (int j = 0; j < 4; ++j)
            p << a + (b - a) * (0.25f * float(j));
    }
    return p;
}

bool near(const Points &a, const Points &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (std::fabs(a.at(i).x - b.at(i).x) > 1e-5f || std::fabs(a.at(i).y - b.at(i).y) > 1e-5f)
            return false;
    }
    return true;
}

} // namespace

class TestContourResampling : public QObject
{
    Q_OBJECT

private slots:
    void resample_data();
    void resample();
    void resampleLeavesUnusableStepsAlone_data();
    void resampleLeavesUnusableStepsAlone();
    void resampledLeavesSourceAlone();
    void smooth_data();
    void smooth();
    void smoothMarksStale();
    void map();
    void mapWarnsOnProjective();
};

void TestContourResampling::resample_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<double>("step");
    QTest::addColumn<uint>("divisions");
    QTest::addColumn<Points>("expected");

    QTest::newRow("uniform 1") << square2 << 1.0 << 0u
                               << Points{{0, 2}, {0, 1}, {0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}};
    QTest::newRow("uniform 3") << square2 << 3.0 << 0u << Points{{0, 2}, {1, 0}, {2, 2}};
    QTest::newRow("uniform 8 (the perimeter)") << square2 << 8.0 << 0u << Points();
    QTest::newRow("longer than perimeter") << square2 << 10.0 << 0u << Points();
    QTest::newRow("subdivide 0.6 by 4") << square2 << 0.6 << 4u << quartered();
    // The cap is the power of two not below 3, and 2/4 is still above 0.1.
    QTest::newRow("subdivide 0.1 capped at 3") << square2 << 0.1 << 3u << quartered();
    // A cap near the top of the unsigned range must not wrap the doubling.
    QTest::newRow("subdivide, huge cap") << square2 << 0.6 << 0xFFFFFFFFu << quartered();
    QTest::newRow("one division rotates, drops short edges")
        << Points{{0, 0}, {2, 0}, {2, 0}, {2, 2}, {0, 2}} << 0.5 << 1u << Points{{0, 2}, {0, 0}, {2, 0}, {2, 2}};
    QTest::newRow("no points") << Points() << 1.0 << 0u << Points();
}

void TestContourResampling::resample()
{
    QFETCH(Points, points);
    QFETCH(double, step);
    QFETCH(uint, divisions);
    QFETCH(Points, expected);
    Contour c(points);
    c.update();
    c.resample(step, divisions);
    QVERIFY2(near(c.points(), expected), qPrintable(QString::number(c.points().size())));
    QVERIFY(c.isDirty() || points.isEmpty());
}

void TestContourResampling::resampleLeavesUnusableStepsAlone_data()
{
    QTest::addColumn<double>("step");
    QTest::addColumn<uint>("divisions");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const uint divisions : {0u, 4u}) {
        QTest::addRow("zero, %u", divisions) << 0.0 << divisions;
        QTest::addRow("negative, %u", divisions) << -1.0 << divisions;
        QTest::addRow("NaN, %u", divisions) << nan << divisions;
    }
    // Billions of samples: refused before anything is allocated.
    QTest::newRow("tiny uniform") << 1e-9 << 0u;
    QTest::newRow("denormal uniform") << 1e-310 << 0u;
    QTest::newRow("tiny, huge cap") << 1e-30 << 0xFFFFFFFFu;
}

void TestContourResampling::resampleLeavesUnusableStepsAlone()
{
    QFETCH(double, step);
    QFETCH(uint, divisions);
    Contour c(square2);
    QCOMPARE(c.area(), 4.0);
    c.resample(step, divisions);
    QCOMPARE(c.points(), square2);
    QVERIFY(!c.isDirty());
}

void TestContourResampling::resampledLeavesSourceAlone()
{
    const Contour c(square2);
    const Contour r = c.resampled(1.0, 0);
    QCOMPARE(r.points().size(), 8);
    QCOMPARE(c.points(), square2);
    QCOMPARE(r.area(), 4.0);
}

void TestContourResampling::smooth_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<int>("radius");
    QTest::addColumn<double>("decay");
    QTest::addColumn<Points>("expected");

    QTest::newRow("radius 0 changes nothing") << square2 << 0 << 1.0 << square2;
    QTest::newRow("negative radius") << square2 << -3 << 1.0 << square2;
    // w0 = 1/2, w1 = 1/4.
    QTest::newRow("radius 1, no decay") << square2 << 1 << 0.0
                                        << Points{{0.5f, 0.5f}, {1.5f, 0.5f}, {1.5f, 1.5f}, {0.5f, 1.5f}};
    QTest::newRow("two points, radius 1") << Points{{0, 0}, {1, 1}} << 1 << 1.0 << Points();
    QTest::newRow("radius = n - 1") << square2 << 3 << 1.0 << Points();
    // radius + 1 must not wrap.
    QTest::newRow("huge radius") << square2 << INT_MAX << 1.0 << Points();
}

void TestContourResampling::smooth()
{
    QFETCH(Points, points);
    QFETCH(int, radius);
    QFETCH(double, decay);
    QFETCH(Points, expected);
    Contour c(points);
    c.smooth(radius, decay);
    QVERIFY(near(c.points(), expected));
}

void TestContourResampling::smoothMarksStale()
{
    Contour c(square2);
    QCOMPARE(c.area(), 4.0);
    (void)c.pointSet();
    c.smooth(1, 0.0);
    QVERIFY(c.isDirty());
    QCOMPARE(c.area(), 1.0);
    QCOMPARE(int(c.pointSet().count(Point2Df(0.5f, 0.5f))), 1);
}

void TestContourResampling::map()
{
    Contour c(square2);
    c.addChild(Contour(Points{{0.5f, 0.5f}, {0.5f, 1}, {1, 1}}));
    QCOMPARE(c.area(), 4.0);
    const Contour m = c.map(QTransform::fromTranslate(10, 0), false);
    QCOMPARE(m.points(), (Points{{10, 0}, {12, 0}, {12, 2}, {10, 2}}));
    QCOMPARE(m.children().size(), 1);
    QCOMPARE(m.children().constFirst().points().constFirst(), Point2Df(10.5f, 0.5f));
    QVERIFY(m.isDirty());
    QCOMPARE(m.boundingRect().minX, 10.0f);
    QCOMPARE(c.points(), square2);
    QCOMPARE(c.children().constFirst().points().constFirst(), Point2Df(0.5f, 0.5f));
}

void TestContourResampling::mapWarnsOnProjective()
{
    const Contour c(square2);
    QTransform projective;
    projective.setMatrix(1, 0, 0.1, 0, 1, 0, 0, 0, 1);
    QTest::ignoreMessage(QtWarningMsg, "utilTX:map2Df SSE Shear transform not implemented");
    const Contour warned = c.map(projective, true);
    const Contour quiet = c.map(projective, false);
    QCOMPARE(warned.points(), quiet.points());
    QCOMPARE(quiet.points().at(1), Point2Df(float(2.0 / 1.2), 0.0f));
}

QTEST_APPLESS_MAIN(TestContourResampling)
#include "tst_contourresampling.moc"
