#include "tessellator.h"
#include "tessellatortestutil.h"

#include <QByteArray>
#include <QMutex>
#include <QStringList>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

using geom::Facet;
using geom::Point2Df;
using geom::Point3Df;
using geom::Tessellator;

namespace {

// Collects the warnings of one test so that it can tell how many were given.
class WarningCatcher
{
public:
    WarningCatcher()
    {
        messages().clear();
        previous = qInstallMessageHandler(&WarningCatcher::handler);
    }
    ~WarningCatcher() { qInstallMessageHandler(previous); }
    QStringList warnings() const { return messages(); }

private:
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtWarningMsg)
            messages().append(message);
    }
    QtMessageHandler previous = nullptr;
};

// Records of a polygon in any vertex type, from x, y pairs; the 3D types get z.
QByteArray records(int type, const QVector<double> &xy, double z = 0.0)
{
    QByteArray bytes;
    const int d = (type & 1) ? 3 : 2;
    for (int i = 0; i + 1 < xy.size(); i += 2) {
        const double v[3] = {xy[i], xy[i + 1], z};
        for (int k = 0; k < d; ++k) {
            if (type == Tessellator::Double2D || type == Tessellator::Double3D) {
                bytes.append(reinterpret_cast<const char *>(&v[k]), sizeof(double));
            } else if (type == Tessellator::Float2D || type == Tessellator::Float3D) {
                const float f = float(v[k]);
                bytes.append(reinterpret_cast<const char *>(&f), sizeof(float));
            } else {
                const int n = int(v[k]);
                bytes.append(reinterpret_cast<const char *>(&n), sizeof(int));
            }
        }
    }
    return bytes;
}

// The primitives of the last polygon as doubles, whatever the vertex type.
QVector<QVector<double>> primitives(const Tessellator &t)
{
    QVector<QVector<double>> result;
    auto take = [&result](const auto &list) {
        for (const auto *p : list) {
            QVector<double> values;
            for (auto v : *p)
                values.append(double(v));
            result.append(values);
        }
    };
    switch (t.vertexType()) {
    case Tessellator::Double2D:
        take(t.polygons2Dd());
        break;
    case Tessellator::Double3D:
        take(t.polygons3Dd());
        break;
    case Tessellator::Float2D:
        take(t.polygons2Df());
        break;
    case Tessellator::Float3D:
        take(t.polygons3Df());
        break;
    case Tessellator::Int2D:
        take(t.polygons2Di());
        break;
    case Tessellator::Int3D:
        take(t.polygons3Di());
        break;
    }
    return result;
}

bool containsVertex(const QVector<double> &values, int d, double x, double y)
{
    for (int i = 0; i + d <= values.size(); i += d) {
        if (values[i] == x && values[i + 1] == y)
            return true;
    }
    return false;
}

void addFloat2D(Tessellator &t, const QVector<Point2Df> &p, bool reversed = false)
{
    t.addContour(p.constData(), reversed ? -p.size() : p.size());
}

} // namespace

class TestTessellator : public QObject
{
    Q_OBJECT

private slots:
    void construction();
    void windingRuleSetter_data();
    void windingRuleSetter();
    void toleranceSetter_data();
    void toleranceSetter();
    void settersIgnoredWhileOpen();

    void squareTriangles();
    void squareBoundary();
    void vertexTypes_data();
    void vertexTypes();
    void windingRules_data();
    void windingRules();
    void contourCounts_data();
    void contourCounts();
    void appendToOpenContour();
    void idleInputIgnored();
    void beginPolygonDiscardsOpenPolygon();
    void addVertexConverts();

    void combinedVertices_data();
    void combinedVertices();
    void snapCombinedKeepsInputVertices();
    void normalOf3DPolygon();
    void collinearTriangleHasFiniteNormal();

    void badInputFailsPolygon_data();
    void badInputFailsPolygon();

    void twoThreads();
};

void TestTessellator::construction()
{
    Tessellator t(Tessellator::WindingPositive);
    QCOMPARE(t.windingRule(), int(Tessellator::WindingPositive));
    QVERIFY(!t.isBoundaryOnly());
    QCOMPARE(t.tolerance(), 0.0);
    QCOMPARE(t.state(), Tessellator::Idle);
    QCOMPARE(t.vertexType(), int(Tessellator::Float2D));
    QCOMPARE(t.z(), 0.0);
    QVERIFY(!t.snapCombined());
    QVERIFY(!t.failed());

    // A rule GLU does not know must not reach it.
    Tessellator bad(9);
    QCOMPARE(bad.windingRule(), int(Tessellator::WindingOdd));
}

void TestTessellator::windingRuleSetter_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("expected");
    QTest::newRow("odd") << 0 << true << 0;
    QTest::newRow("nonzero") << 1 << true << 1;
    QTest::newRow("positive") << 2 << true << 2;
    QTest::newRow("negative") << 3 << true << 3;
    QTest::newRow("abs_geq_two") << 4 << true << 4;
    QTest::newRow("below") << -1 << false << 1;
    QTest::newRow("above") << 5 << false << 1;
    QTest::newRow("glu value") << 100132 << false << 1;
}

void TestTessellator::windingRuleSetter()
{
    QFETCH(int, rule);
    QFETCH(bool, accepted);
    QFETCH(int, expected);
    WarningCatcher catcher;
    Tessellator t(Tessellator::WindingNonZero);
    QCOMPARE(t.setWindingRule(rule), accepted);
    QCOMPARE(t.windingRule(), expected);
    QVERIFY(catcher.warnings().isEmpty());
}

void TestTessellator::toleranceSetter_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("expected");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("half") << 0.5 << true << 0.5;
    QTest::newRow("one") << 1.0 << true << 1.0;
    QTest::newRow("negative becomes 0") << -0.5 << true << 0.0;
    QTest::newRow("-inf becomes 0") << -inf << true << 0.0;
    QTest::newRow("above one") << 1.5 << false << 0.25;
    QTest::newRow("inf") << inf << false << 0.25;
    QTest::newRow("nan") << nan << false << 0.25;
}

void TestTessellator::toleranceSetter()
{
    QFETCH(double, value);
    QFETCH(bool, accepted);
    QFETCH(double, expected);
    WarningCatcher catcher;
    Tessellator t(Tessellator::WindingOdd);
    QVERIFY(t.setTolerance(0.25));
    QCOMPARE(t.setTolerance(value), accepted);
    QCOMPARE(t.tolerance(), expected);
    QVERIFY(catcher.warnings().isEmpty());
}

void TestTessellator::settersIgnoredWhileOpen()
{
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setZ(1.5));
    const QVector<Point2Df> sq = tesstest::square(0, 0, 1, 1);
    for (int inContour = 0; inContour < 2; ++inContour) {
        QVERIFY(t.beginPolygon(Tessellator::Float2D));
        addFloat2D(t, sq);
        if (inContour)
            t.beginContour();
        QVERIFY(!t.setZ(3.0));
        QVERIFY(!t.setWindingRule(Tessellator::WindingOdd));
        QVERIFY(!t.setTolerance(0.5));
        QVERIFY(!t.setBoundaryOnly(true));
        QVERIFY(!t.setSnapCombined(true));
        QCOMPARE(t.z(), 1.5);
        QCOMPARE(t.windingRule(), int(Tessellator::WindingPositive));
        QCOMPARE(t.tolerance(), 0.0);
        QVERIFY(!t.isBoundaryOnly());
        QVERIFY(!t.snapCombined());
        // The polygon was not cleared by the refused setters.
        QVERIFY(t.endPolygon());
        QCOMPARE(t.vertices().size(), 2);
    }
}

void TestTessellator::squareTriangles()
{
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setZ(2.5));
    const QVector<Point2Df> sq = tesstest::square(0, 0, 4, 4);
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    QCOMPARE(t.state(), Tessellator::InPolygon);
    addFloat2D(t, sq);
    QVERIFY(t.vertices().isEmpty()); // nothing before the polygon ends
    QCOMPARE(t.finish(), 1);
    QCOMPARE(t.state(), Tessellator::Idle);

    const auto prims = t.polygons2Df();
    QCOMPARE(prims.size(), 1);
    QCOMPARE(prims.first()->size(), 12);
    QVERIFY(t.polygons2Dd().isEmpty());

    const QVector<Facet> f = t.vertices();
    QCOMPARE(f.size(), 2);
    for (const Facet &facet : f) {
        QCOMPARE(facet.normal, Point3Df(0, 0, 1));
        QCOMPARE(facet.vertex1.z, 2.5f);
        QCOMPARE(facet.vertex2.z, 2.5f);
        QCOMPARE(facet.vertex3.z, 2.5f);
        QVERIFY(tesstest::facetAreaXY(facet) > 0); // facing the normal
    }
    QCOMPARE(tesstest::totalAreaXY(f), 16.0);

    // The output stays until the next clear.
    QCOMPARE(t.vertices().size(), 2);
    t.clear();
    QVERIFY(t.vertices().isEmpty());
    QVERIFY(t.polygons2Df().isEmpty());
}

void TestTessellator::squareBoundary()
{
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setBoundaryOnly(true));
    // Clockwise input still comes back counter-clockwise.
    for (bool cw : {false, true}) {
        const QVector<Point2Df> sq = tesstest::square(0, 0, 4, 4, cw);
        QVERIFY(t.setWindingRule(cw ? Tessellator::WindingNegative : Tessellator::WindingPositive));
        QVERIFY(t.beginPolygon(Tessellator::Float2D));
        addFloat2D(t, sq);
        QVERIFY(t.endPolygon());
        const auto prims = t.polygons2Df();
        QCOMPARE(prims.size(), 1);
        QCOMPARE(prims.first()->size(), 8);
        const Slice s = t.collectSlice(0.0f);
        QCOMPARE(s.contours().size(), 1);
        QCOMPARE(s.contours().first().area(), 16.0);
        QVERIFY(t.vertices().isEmpty());
    }
}

void TestTessellator::vertexTypes_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("Double2D") << int(Tessellator::Double2D);
    QTest::newRow("Double3D") << int(Tessellator::Double3D);
    QTest::newRow("Float2D") << int(Tessellator::Float2D);
    QTest::newRow("Float3D") << int(Tessellator::Float3D);
    QTest::newRow("Int2D") << int(Tessellator::Int2D);
    QTest::newRow("Int3D") << int(Tessellator::Int3D);
}

void TestTessellator::vertexTypes()
{
    QFETCH(int, type);
    const bool is3D = type & 1;
    const int d = is3D ? 3 : 2;
    // An L shape needs a real triangulation (no convex shortcut in GLU). Its
    // reflex corner lies off the diagonal, so that no triangle comes out flat.
    const QByteArray rec = records(type, {0, 0, 4, 0, 4, 1, 1, 1, 1, 4, 0, 4}, 7.0);
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setZ(2.5));
    QVERIFY(t.beginPolygon(type));
    QCOMPARE(t.vertexType(), type);
    t.addContour(rec.constData(), 6);
    QCOMPARE(t.finish(), 1);

    const auto prims = primitives(t);
    QCOMPARE(prims.size(), 1);
    QCOMPARE(prims.first().size(), 4 * 3 * d);
    const float z = is3D ? 7.0f : 2.5f;
    const QVector<Facet> f = t.vertices();
    QCOMPARE(f.size(), 4);
    for (const Facet &facet : f) {
        QCOMPARE(facet.normal, Point3Df(0, 0, 1)); // given for 2D, computed for 3D
        QCOMPARE(facet.vertex1.z, z);
        QCOMPARE(facet.vertex2.z, z);
        QCOMPARE(facet.vertex3.z, z);
        QVERIFY(tesstest::facetAreaXY(facet) > 0);
    }
    QCOMPARE(tesstest::totalAreaXY(f), 7.0);
}

void TestTessellator::windingRules_data()
{
    // A = [0,4]² counter-clockwise, B = [1,3]² counter-clockwise inside A
    // (winding 2 there), C = [5,7]x[0,2] clockwise (winding -1). Kept area per
    // region: A without B, B, C.
    QTest::addColumn<int>("rule");
    QTest::addColumn<double>("ring");
    QTest::addColumn<double>("inner");
    QTest::addColumn<double>("clockwise");
    QTest::newRow("odd") << int(Tessellator::WindingOdd) << 12.0 << 0.0 << 4.0;
    QTest::newRow("nonzero") << int(Tessellator::WindingNonZero) << 12.0 << 4.0 << 4.0;
    QTest::newRow("positive") << int(Tessellator::WindingPositive) << 12.0 << 4.0 << 0.0;
    QTest::newRow("negative") << int(Tessellator::WindingNegative) << 0.0 << 0.0 << 4.0;
    QTest::newRow("abs_geq_two") << int(Tessellator::WindingAbsGeqTwo) << 0.0 << 4.0 << 0.0;
}

void TestTessellator::windingRules()
{
    QFETCH(int, rule);
    QFETCH(double, ring);
    QFETCH(double, inner);
    QFETCH(double, clockwise);
    const QVector<Point2Df> a = tesstest::square(0, 0, 4, 4);
    const QVector<Point2Df> b = tesstest::square(1, 1, 3, 3);
    const QVector<Point2Df> c = tesstest::square(5, 0, 7, 2, true);
    Tessellator t(rule);
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    addFloat2D(t, a);
    addFloat2D(t, b);
    addFloat2D(t, c);
    QVERIFY(t.endPolygon());

    double areas[3] = {0, 0, 0};
    for (const Facet &f : t.vertices()) {
        const double area = tesstest::facetAreaXY(f);
        QVERIFY(area > 0);
        const double cx = (f.vertex1.x + f.vertex2.x + f.vertex3.x) / 3;
        const double cy = (f.vertex1.y + f.vertex2.y + f.vertex3.y) / 3;
        const int region = cx > 4.5 ? 2 : (cx > 1 && cx < 3 && cy > 1 && cy < 3) ? 1 : 0;
        areas[region] += area;
    }
    QCOMPARE(areas[0], ring);
    QCOMPARE(areas[1], inner);
    QCOMPARE(areas[2], clockwise);

    // The boundary loops of the same polygon enclose the same signed area.
    QVERIFY(t.setBoundaryOnly(true));
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    addFloat2D(t, a);
    addFloat2D(t, b);
    addFloat2D(t, c);
    QVERIFY(t.endPolygon());
    QCOMPARE(tesstest::signedArea(t.collectSlice(0)), ring + inner + clockwise);
}

void TestTessellator::contourCounts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("rule");
    QTest::addColumn<int>("primitives");
    QTest::newRow("3 positive") << 3 << int(Tessellator::WindingPositive) << 1;
    QTest::newRow("-3 reverses") << -3 << int(Tessellator::WindingPositive) << 0;
    QTest::newRow("-3 negative") << -3 << int(Tessellator::WindingNegative) << 1;
    QTest::newRow("2") << 2 << int(Tessellator::WindingNonZero) << 0;
    QTest::newRow("-2") << -2 << int(Tessellator::WindingNonZero) << 0;
    QTest::newRow("0") << 0 << int(Tessellator::WindingNonZero) << 0;
}

void TestTessellator::contourCounts()
{
    QFETCH(int, count);
    QFETCH(int, rule);
    QFETCH(int, primitives);
    const QVector<Point2Df> tri{{0, 0}, {2, 0}, {0, 2}};
    Tessellator t(rule);
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    t.addContour(tri.constData(), count);
    QCOMPARE(t.finish(), primitives);
    if (primitives) {
        // Reversed records come in the other order; GLU orients the output.
        const QVector<Facet> f = t.vertices();
        QCOMPARE(f.size(), 1);
        QCOMPARE(tesstest::facetAreaXY(f.first()), 2.0);
    }
    t.beginPolygon(Tessellator::Float2D);
    t.addContour(nullptr, 3);
    QCOMPARE(t.finish(), 0);
}

void TestTessellator::appendToOpenContour()
{
    // Two halves of a hexagon appended into one open contour make one loop.
    const QVector<Point2Df> hex{{2, 0}, {4, 1}, {4, 3}, {2, 4}, {0, 3}, {0, 1}};
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setBoundaryOnly(true));
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    t.beginContour();
    t.addContour(hex.constData(), 3);
    QCOMPARE(t.state(), Tessellator::InContour);
    t.addContour(hex.constData() + 3, 3);
    QVERIFY(t.endPolygon());
    const Slice s = t.collectSlice(0);
    QCOMPARE(s.contours().size(), 1);
    QCOMPARE(s.contours().first().points().size(), 6);
    QCOMPARE(s.contours().first().area(), 12.0);
}

void TestTessellator::idleInputIgnored()
{
    const QVector<Point2Df> sq = tesstest::square(0, 0, 1, 1);
    Tessellator t(Tessellator::WindingPositive);
    addFloat2D(t, sq);
    t.addVertex(1, 2, 3);
    t.beginContour();
    t.endContour();
    QCOMPARE(t.state(), Tessellator::Idle);
    QVERIFY(t.endPolygon());
    QVERIFY(t.polygons2Df().isEmpty());
    // addVertex outside an open contour adds nothing either.
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    t.addVertex(0, 0);
    t.addVertex(1, 0);
    t.addVertex(1, 1);
    QCOMPARE(t.finish(), 0);
}

void TestTessellator::beginPolygonDiscardsOpenPolygon()
{
    const QVector<Point2Df> sq = tesstest::square(0, 0, 1, 1);
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    addFloat2D(t, sq);
    t.beginContour();
    QVERIFY(t.beginPolygon(Tessellator::Double2D));
    QCOMPARE(t.state(), Tessellator::InPolygon);
    QCOMPARE(t.finish(), 0);
    QVERIFY(t.polygons2Df().isEmpty());
    QVERIFY(t.vertices().isEmpty());
}

void TestTessellator::addVertexConverts()
{
    Tessellator t(Tessellator::WindingPositive);
    QVERIFY(t.setBoundaryOnly(true));
    QVERIFY(t.beginPolygon(Tessellator::Int2D));
    t.beginContour();
    t.addVertex(-0.9, -0.9, 5);
    t.addVertex(3.9, -0.9, 5);
    t.addVertex(3.9, 3.9, 5);
    t.addVertex(-0.9, 3.9, 5);
    QCOMPARE(t.finish(), 1);
    const QVector<double> loop = primitives(t).first();
    QCOMPARE(loop.size(), 8);
    for (double v : loop)
        QVERIFY2(v == 0 || v == 3, qPrintable(QString::number(v))); // truncated toward zero

    // Stored vertices of a polygon without output are freed by clear (the
    // sanitizer build checks for the leak).
    QVERIFY(t.beginPolygon(Tessellator::Double3D));
    t.beginContour();
    t.addVertex(0, 0, 0);
    t.addVertex(1, 0, 0);
    QCOMPARE(t.finish(), 0);
    t.clear();
}

void TestTessellator::combinedVertices_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("sign");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    // The edges of the figure eight cross at (±2.5, ±1.5).
    QTest::newRow("Int2D rounds up") << int(Tessellator::Int2D) << 1.0 << 3.0 << 2.0;
    QTest::newRow("Int2D rounds away from zero") << int(Tessellator::Int2D) << -1.0 << -3.0 << -2.0;
    QTest::newRow("Int3D") << int(Tessellator::Int3D) << 1.0 << 3.0 << 2.0;
    QTest::newRow("Float2D") << int(Tessellator::Float2D) << 1.0 << 2.5 << 1.5;
    QTest::newRow("Double3D") << int(Tessellator::Double3D) << -1.0 << -2.5 << -1.5;
}

void TestTessellator::combinedVertices()
{
    QFETCH(int, type);
    QFETCH(double, sign);
    QFETCH(double, x);
    QFETCH(double, y);
    const double s = sign;
    const QByteArray rec = records(type, {0, 0, 5 * s, 3 * s, 5 * s, 0, 0, 3 * s});
    const double normal[3] = {0, 0, 1};
    for (bool boundary : {false, true}) {
        Tessellator t(Tessellator::WindingOdd);
        QVERIFY(t.setBoundaryOnly(boundary));
        QVERIFY(t.beginPolygon(type, normal));
        t.addContour(rec.constData(), 4);
        QVERIFY(t.finish() > 0);
        bool found = false;
        for (const QVector<double> &p : primitives(t))
            found = found || containsVertex(p, (type & 1) ? 3 : 2, x, y);
        QVERIFY(found);
    }
}

void TestTessellator::snapCombinedKeepsInputVertices()
{
    const QVector<Point2Df> eight{{0, 0}, {5, 3}, {5, 0}, {0, 3}};
    for (bool snap : {false, true}) {
        Tessellator t(Tessellator::WindingOdd);
        QVERIFY(t.setSnapCombined(snap));
        QCOMPARE(t.snapCombined(), snap);
        QVERIFY(t.beginPolygon(Tessellator::Float2D));
        addFloat2D(t, eight);
        QVERIFY(t.endPolygon());
        const QVector<double> tri = primitives(t).value(0);
        QVERIFY(!tri.isEmpty());
        bool allInput = true;
        for (int i = 0; i + 1 < tri.size(); i += 2)
            allInput = allInput && eight.contains(Point2Df(float(tri[i]), float(tri[i + 1])));
        QCOMPARE(allInput, snap);
    }
}

void TestTessellator::normalOf3DPolygon()
{
    // A vertical L in the plane x = 1; without a normal GLU finds the plane.
    const QVector<Point3Df> l{{1, 0, 0}, {1, 4, 0}, {1, 4, 1}, {1, 1, 1}, {1, 1, 4}, {1, 0, 4}};
    Tessellator t(Tessellator::WindingNonZero);
    QVERIFY(t.beginPolygon(Tessellator::Float3D));
    t.addContour(l.constData(), l.size());
    QVERIFY(t.endPolygon());
    const QVector<Facet> f = t.vertices();
    QCOMPARE(f.size(), 4);
    const Point3Df n = f.first().normal;
    QVERIFY(n == Point3Df(1, 0, 0) || n == Point3Df(-1, 0, 0));
    for (const Facet &facet : f) {
        QCOMPARE(facet.normal, n);
        const Point3Df c = facet.crossNormal();
        QVERIFY(c.x * n.x > 0); // corners run counter-clockwise about the normal
    }
}

void TestTessellator::collinearTriangleHasFiniteNormal()
{
    // A sliver GLU sees in double that collapses onto a line in float: the
    // facet has no direction of its own and must not carry NaN.
    const double sliver[] = {1, 1, 0, 1 + 1e-9, 2, 0, 1, 3, 0};
    Tessellator t(Tessellator::WindingNonZero);
    QVERIFY(t.beginPolygon(Tessellator::Double3D));
    t.addContour(sliver, 3);
    QVERIFY(t.endPolygon());
    const QVector<Facet> f = t.vertices();
    QCOMPARE(f.size(), 1);
    QVERIFY(tesstest::isFinite(f.first().normal));
    QCOMPARE(f.first().normal, Point3Df::zero);
}

void TestTessellator::badInputFailsPolygon_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("NaN Float2D") << 0 << "Tessellator::addContour: Coordinate not finite";
    QTest::newRow("inf Double3D") << 1 << "Tessellator::addContour: Coordinate not finite";
    QTest::newRow("NaN addVertex") << 2 << "Tessellator::addVertex: Vertex coordinate not representable";
    QTest::newRow("int overflow addVertex") << 3 << "Tessellator::addVertex: Vertex coordinate not representable";
    QTest::newRow("GLU coordinate too large") << 4 << "Tessellator::addContour: Tessellation error 100155";
    QTest::newRow("GLU z too large") << 5 << "Tessellator::addContour: Tessellation error 100155";
    QTest::newRow("NaN normal") << 6 << "Tessellator::beginPolygon: Normal not finite";
    QTest::newRow("unknown vertex type") << 7 << "Tessellator::beginPolygon: Unknown vertex type";
}

void TestTessellator::badInputFailsPolygon()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QVector<Point2Df> good = tesstest::square(0, 0, 4, 4);
    QVector<Point2Df> nanSquare = good;
    nanSquare[2].x = float(nan);
    const double inf3D[] = {0, 0, 0, 4, 0, 0, 4, 4, inf, 0, 4, 0};
    const double huge2D[] = {0, 0, 1e200, 0, 1e200, 1e200, 0, 1e200};
    const double nanNormal[3] = {0, nan, 1};

    WarningCatcher catcher;
    Tessellator t(Tessellator::WindingPositive);
    bool opened = true;
    switch (kind) {
    case 0:
        QVERIFY(t.beginPolygon(Tessellator::Float2D));
        addFloat2D(t, good);
        addFloat2D(t, nanSquare);
        break;
    case 1:
        QVERIFY(t.beginPolygon(Tessellator::Double3D));
        t.addContour(inf3D, 4);
        break;
    case 2:
    case 3:
        QVERIFY(t.beginPolygon(kind == 2 ? Tessellator::Float2D : Tessellator::Int3D));
        t.beginContour();
        t.addVertex(0, 0, 0);
        t.addVertex(kind == 2 ? nan : 1e12, 0, 0);
        t.addVertex(4, 4, 0);
        t.addVertex(0, 4, 0);
        break;
    case 4:
        QVERIFY(t.beginPolygon(Tessellator::Double2D));
        t.addContour(huge2D, 4);
        break;
    case 5:
        QVERIFY(!t.setZ(nan));
        QVERIFY(t.setZ(1e200));
        QVERIFY(t.beginPolygon(Tessellator::Float2D));
        addFloat2D(t, good);
        break;
    case 6:
        QVERIFY(!t.beginPolygon(Tessellator::Float2D, nanNormal));
        addFloat2D(t, good);
        break;
    case 7:
        QVERIFY(!t.beginPolygon(7));
        opened = false;
        break;
    }
    QCOMPARE(t.state(), !opened ? Tessellator::Idle : (kind == 2 || kind == 3) ? Tessellator::InContour : Tessellator::InPolygon);
    QCOMPARE(t.finish(), -1);
    QVERIFY(t.failed());
    QVERIFY(primitives(t).isEmpty());
    QVERIFY(t.vertices().isEmpty());
    // One message per failed polygon, however many vertices were bad.
    QCOMPARE(catcher.warnings().size(), 1);
    QVERIFY2(catcher.warnings().first().startsWith(message), qPrintable(catcher.warnings().first()));

    // The tessellator is fine for the next polygon.
    QVERIFY(t.setZ(0.0));
    QVERIFY(t.beginPolygon(Tessellator::Float2D));
    QVERIFY(!t.failed());
    addFloat2D(t, good);
    QVERIFY(t.endPolygon());
    QCOMPARE(t.vertices().size(), 2);
    QCOMPARE(catcher.warnings().size(), 1);
}

void TestTessellator::twoThreads()
{
    // Each thread owns its tessellator; both run at once on the same input
    // and must each get what one alone gets.
    const Slice slice = tesstest::sliceOf(1.0f, 0.1f,
                                          {tesstest::squareContour(0, 0, 10, 10), tesstest::squareContour(2, 2, 8, 8, true),
                                           tesstest::squareContour(4, 4, 6, 6), tesstest::squareContour(5, 5, 12, 12)});
    slice.update();
    Tessellator reference(Tessellator::WindingPositive);
    const Slice expected = reference.outline(slice);
    const QList<Facet> expectedFacets = reference.facets(slice);
    QVERIFY(expected.contours().size() > 1);
    QVERIFY(!expectedFacets.isEmpty());

    std::atomic<int> mismatches(0);
    auto work = [&]() {
        Tessellator t(Tessellator::WindingPositive);
        for (int i = 0; i < 300; ++i) {
            const Slice out = t.outline(slice);
            bool same = out.contours().size() == expected.contours().size();
            for (int c = 0; same && c < out.contours().size(); ++c)
                same = out.contours().at(c).points() == expected.contours().at(c).points();
            const QList<Facet> f = t.facets(slice);
            same = same && f.size() == expectedFacets.size()
                   && std::memcmp(&f.first(), &expectedFacets.first(), sizeof(Facet)) == 0;
            if (!same)
                ++mismatches;
        }
    };
    std::thread a(work);
    std::thread b(work);
    a.join();
    b.join();
    QCOMPARE(mismatches.load(), 0);
}

QTEST_GUILESS_MAIN(TestTessellator)
#include "tst_tessellator.moc"
