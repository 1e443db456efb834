#include "stl/stlexporter.h"
#include "stlperlayer.h"
#include "stltestutil.h"

using stltest::circle;
using stltest::Export;
using stltest::exportSlices;

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <cmath>
#include <functional>
#include <limits>

using geom::Facet;
using geom::Point2Df;
using geom::StlExporter;

namespace {

// An axis-aligned rectangle, counter-clockwise unless clockwise.
Contour rectangle(float x0, float y0, float x1, float y1, bool clockwise = false)
{
    QVector<Point2Df> p{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (clockwise)
        std::reverse(p.begin(), p.end());
    return Contour(p);
}

// A centred square of side s, with a centred square hole of side h when h > 0.
QVector<Contour> square(float s, float h = 0)
{
    QVector<Contour> contours{rectangle(-s / 2, -s / 2, s / 2, s / 2)};
    if (h > 0)
        contours.append(rectangle(-h / 2, -h / 2, h / 2, h / 2, true));
    return contours;
}

Slice slice(float z, float thickness, const QVector<Contour> &contours)
{
    return Slice(z, thickness, contours);
}

// A stack of slices 0.1 apart from z = 0, one per entry.
QList<Slice> stack(const QList<QVector<Contour>> &layers)
{
    QList<Slice> slices;
    for (int i = 0; i < layers.size(); ++i)
        slices.append(slice(float(i) * 0.1f, 0.1f, layers[i]));
    return slices;
}

// A ring of n vertices alternating 0.05 mm inside and outside the radius, so
// that the outline clean-up keeps every one; turned by turn radians.
Contour toothedRing(double cx, double cy, double radius, int n, bool clockwise, double turn = 0, double tooth = 0.05)
{
    QVector<Point2Df> points;
    for (int i = 0; i < n; ++i) {
        const double a = turn + (clockwise ? -1.0 : 1.0) * 2.0 * M_PI * i / n;
        const double r = radius + ((i % 2) ? tooth : -tooth);
        points.append(Point2Df(float(cx + r * std::cos(a)), float(cy + r * std::sin(a))));
    }
    return Contour(points);
}

double area(const QVector<Contour> &contours)
{
    double a = 0;
    for (const Contour &c : contours)
        a += c.area();
    return a;
}

QList<int> range(int first, int end, int step = 1)
{
    QList<int> values;
    for (int i = first; i < end; i += step)
        values.append(i);
    return values;
}

bool horizontalAt(const Facet &f, float z)
{
    return f.vertex1.z == z && f.vertex2.z == z && f.vertex3.z == z;
}

int facesAt(const QVector<Facet> &facets, float z, bool up)
{
    int n = 0;
    for (const Facet &f : facets) {
        if (horizontalAt(f, z) && (up ? f.normal.z > 0 : f.normal.z < 0))
            ++n;
    }
    return n;
}

float maxZ(const QVector<Facet> &facets)
{
    float z = -std::numeric_limits<float>::max();
    for (const Facet &f : facets)
        z = std::max({z, f.vertex1.z, f.vertex2.z, f.vertex3.z});
    return z;
}

QList<float> levels(const QVector<Facet> &facets)
{
    QList<float> z;
    for (const Facet &f : facets) {
        for (float v : {f.vertex1.z, f.vertex2.z, f.vertex3.z}) {
            if (!z.contains(v))
                z.append(v);
        }
    }
    std::sort(z.begin(), z.end());
    return z;
}

void ignoreExporterWarning()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: "));
}

// The points where an outline edge of a layer crosses one of the next layer,
// by trying every pair. -1 when two edges touch or cross near an end, where
// rounding decides what the export sees.
int crossingPoints(const QList<geom::StlLayer> &layers)
{
    struct Edge
    {
        double ax, ay, bx, by;
    };
    auto edges = [](const geom::StlLayer &layer) {
        QVector<Edge> list;
        for (const QVector<double> &v : layer.loops) {
            const int n = v.size() / 2;
            for (int i = 0, j = n - 1; i < n; j = i++)
                list.append({v[2 * j], v[2 * j + 1], v[2 * i], v[2 * i + 1]});
        }
        return list;
    };
    int count = 0;
    for (int l = 1; l < layers.size(); ++l) {
        if (layers[l].loops == layers[l - 1].loops)
            continue;
        for (const Edge &e : edges(layers[l - 1])) {
            for (const Edge &f : edges(layers[l])) {
                // e(s) = e.a + s (e.b - e.a) meets f(t) = f.a + t (f.b - f.a).
                const double ex = e.bx - e.ax, ey = e.by - e.ay, fx = f.bx - f.ax, fy = f.by - f.ay;
                const double det = ex * fy - ey * fx;
                const double gx = f.ax - e.ax, gy = f.ay - e.ay;
                if (det == 0.0) {
                    if (gx * ey - gy * ex == 0.0)
                        return -1; // collinear
                    continue;
                }
                const double s = (gx * fy - gy * fx) / det, t = (gx * ey - gy * ex) / det;
                const double margin = 1e-3;
                if (s < -margin || s > 1 + margin || t < -margin || t > 1 + margin)
                    continue;
                if (s < margin || s > 1 - margin || t < margin || t > 1 - margin)
                    return -1;
                ++count;
            }
        }
    }
    return count;
}

} // namespace

Q_DECLARE_METATYPE(QList<Slice>)
Q_DECLARE_METATYPE(QVector<Contour>)

class TestStlExporter : public QObject
{
    Q_OBJECT

private slots:
    void emptySliceList();
    void oneSquare();
    void closedModels_data();
    void closedModels();
    void bandedModels_data();
    void bandedModels();
    void twistingPart();
    void overlappingContours_data();
    void overlappingContours();
    void identicalLayersHaveNoInnerFaces();
    void steps();
    void crossingOutlines();
    void collinearPoints();
    void minimumThickness_data();
    void minimumThickness();
    void topHeight_data();
    void topHeight();
    void cancel_data();
    void cancel();
    void cancelFromGuiThread();
    void refusesSecondRun();
    void settersWhileRunning();
    void setterValues();
    void writeFailure_data();
    void writeFailure();
    void badGeometry_data();
    void badGeometry();
    void coordinatesBeyondReach();
    void clockwiseSliceIsReported();
    void exportToFile();
    void facetCount_data();
    void facetCount();
};

void TestStlExporter::emptySliceList()
{
    const Export e = exportSlices({});
    QCOMPARE(e.bytes, QByteArray(80, ' ') + QByteArray(4, '\0'));
    QVERIFY(e.progress.isEmpty());
    QCOMPARE(e.finished, 1);
    QVERIFY(e.succeeded);
    QVERIFY(!e.cancelled);
    QVERIFY(e.error.isEmpty());
}

void TestStlExporter::oneSquare()
{
    const Export e = exportSlices({slice(0, 0.1f, square(1))});
    QVERIFY(e.succeeded);
    QCOMPARE(e.progress, (QList<int>{0, 1}));
    QCOMPARE(e.stl.count, 12u);
    QCOMPARE(e.stl.facets.size(), 12);
    QCOMPARE(facesAt(e.stl.facets, 0, false), 2);
    QCOMPARE(facesAt(e.stl.facets, 0.1f, true), 2);
    QCOMPARE(facesAt(e.stl.facets, 0, true) + facesAt(e.stl.facets, 0.1f, false), 0);
    // The walls come first, then the faces down, then the faces up.
    QCOMPARE(e.stl.facets.last().normal, geom::Point3Df(0, 0, 1));

    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY(mesh.closed());
    QCOMPARE(mesh.euler(), 2);
    QCOMPARE(mesh.misnormaled, 0);
    QVERIFY(qAbs(mesh.volume - 0.1) < 1e-6);
}

void TestStlExporter::closedModels_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<int>("euler");
    QTest::addColumn<double>("volume");

    const QVector<Contour> ring = square(10, 4);
    QVector<Contour> twoHoles{rectangle(0, 0, 10, 5), rectangle(1, 1, 4, 4, true), rectangle(6, 1, 9, 4, true)};
    QVector<Contour> islands{rectangle(0, 0, 2, 2), rectangle(5, 0, 7, 3)};

    QList<QVector<Contour>> layers;
    auto volume = [](const QList<QVector<Contour>> &l) {
        double v = 0;
        for (const QVector<Contour> &c : l)
            v += area(c) * 0.1;
        return v;
    };

    layers = {square(10), square(10), square(10), square(10), square(10)};
    QTest::newRow("identical squares") << stack(layers) << 2 << volume(layers);
    layers = {ring, ring, ring, ring};
    QTest::newRow("squares with a hole") << stack(layers) << 0 << volume(layers);
    layers = {twoHoles, twoHoles, twoHoles};
    QTest::newRow("two holes") << stack(layers) << -2 << volume(layers);
    layers = {islands, islands};
    QTest::newRow("two islands") << stack(layers) << 4 << volume(layers);
    layers = {square(10), square(8), square(6), square(4), square(2)};
    QTest::newRow("shrinking squares") << stack(layers) << 2 << volume(layers);
    layers = {square(2), square(4), square(6), square(8)};
    QTest::newRow("growing squares") << stack(layers) << 2 << volume(layers);
    layers = {square(10, 2), square(10, 4), square(10, 6), square(10, 4)};
    QTest::newRow("hole changing size") << stack(layers) << 0 << volume(layers);
    // The hole of the middle layers is a cavity: an outer and an inner shell.
    layers = {square(10), square(10, 4), square(10, 4), square(10)};
    QTest::newRow("closed cavity") << stack(layers) << 4 << volume(layers);
    layers = {square(10), QVector<Contour>(), square(6)};
    QTest::newRow("gap between layers") << stack(layers) << 4 << volume(layers);
}

// Every edge of the model is used exactly twice, in opposite directions; the
// facets face outwards, and the enclosed volume is the sum of the layers.
void TestStlExporter::closedModels()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(int, euler);
    QFETCH(double, volume);

    const Export e = exportSlices(slices);
    QVERIFY(e.succeeded);
    QCOMPARE(e.finished, 1);
    QVERIFY(e.stl.valid);
    QCOMPARE(int(e.stl.count), e.stl.facets.size());

    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), euler);
    QVERIFY2(qAbs(mesh.volume - volume) < 1e-5 * volume, qPrintable(QString::number(mesh.volume, 'g', 10)));
    QCOMPARE(levels(e.stl.facets).first(), 0.0f);
    QVERIFY(qAbs(maxZ(e.stl.facets) - 0.1f * float(slices.size())) < 1e-6f);
}

void TestStlExporter::bandedModels_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<int>("euler");
    QTest::addColumn<double>("volume");

    // Outlines of a few hundred vertices: their faces are made band by band.
    QList<QVector<Contour>> layers;
    auto volume = [](const QList<QVector<Contour>> &l) {
        double v = 0;
        for (const QVector<Contour> &c : l)
            v += area(c) * 0.1;
        return v;
    };
    const QVector<Contour> ring{toothedRing(0, 0, 10, 400, false), toothedRing(3, 1, 4, 160, true)};
    layers = {ring, ring, ring};
    QTest::newRow("identical toothed rings") << stack(layers) << 0 << volume(layers);
    layers.clear();
    for (int i = 0; i < 5; ++i)
        layers.append({toothedRing(0, 0, 10 - i, 400, false)});
    QTest::newRow("shrinking toothed discs") << stack(layers) << 2 << volume(layers);
    layers.clear();
    for (int i = 0; i < 4; ++i)
        layers.append({toothedRing(0, 0, 10, 400, false), toothedRing(0, 0, 3 + i, 200, true)});
    QTest::newRow("growing hole") << stack(layers) << 0 << volume(layers);
    layers = {{toothedRing(0, 0, 10, 400, false)}, ring, ring, {toothedRing(0, 0, 10, 400, false)}};
    QTest::newRow("cavity") << stack(layers) << 4 << volume(layers);
    layers.clear();
    for (int i = 0; i < 3; ++i)
        layers.append({toothedRing(-12, 0, 5, 200, false), toothedRing(12, 0, 5 - i, 200, false)});
    QTest::newRow("two discs") << stack(layers) << 4 << volume(layers);
}

void TestStlExporter::bandedModels()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(int, euler);
    QFETCH(double, volume);

    const Export e = exportSlices(slices);
    QVERIFY(e.succeeded);
    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY(mesh.finite);
    QCOMPARE(mesh.degenerateFaces, 0);
    QCOMPARE(mesh.unpairedEdges, 0);
    QCOMPARE(mesh.overusedEdges, 0);
    QCOMPARE(mesh.misnormaled, 0);
    QCOMPARE(mesh.euler(), euler);
    QVERIFY2(qAbs(mesh.volume - volume) < 1e-3 * volume, qPrintable(QString::number(mesh.volume, 'g', 10)));
}

// Turned outlines cross at nearly every edge; the faces between the layers
// are thousands of slivers. The model keeps its volume and its orientation,
// and the walls are split at the crossing points, so it is closed edge by
// edge.
void TestStlExporter::twistingPart()
{
    QList<QVector<Contour>> layers;
    double volume = 0;
    for (int i = 0; i < 6; ++i) {
        const double turn = i * 0.1 * M_PI / 180;
        layers.append({toothedRing(0, 0, 10, 500, false, turn),
                       toothedRing(4 * std::cos(turn), 4 * std::sin(turn), 3, 150, true, turn)});
        volume += area(layers.last()) * 0.1;
    }
    const Export e = exportSlices(stack(layers));
    QVERIFY(e.succeeded);
    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY(mesh.finite);
    QCOMPARE(mesh.degenerateFaces, 0);
    QCOMPARE(mesh.overusedEdges, 0);
    QCOMPARE(mesh.misnormaled, 0);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), 0);
    QVERIFY2(qAbs(mesh.volume - volume) < 1e-3 * volume, qPrintable(QString::number(mesh.volume, 'g', 10)));
    double up = 0, down = 0;
    // The faces by their normals; a wall whose foot is lifted a hair's
    // breadth leans by as much.
    for (const Facet &f : e.stl.facets) {
        if (f.normal.z > 0.5f)
            up += f.area();
        else if (f.normal.z < -0.5f)
            down += f.area();
    }
    // Seen from above, the faces up and down cover the same area.
    QVERIFY2(qAbs(up - down) < 1e-3 * up, qPrintable(QString("%1 %2").arg(up).arg(down)));
}

void TestStlExporter::overlappingContours_data()
{
    QTest::addColumn<QVector<Contour>>("contours");
    QTest::addColumn<double>("area");

    const QVector<Point2Df> eight{{0, 0}, {2, 2}, {2, 0}, {0, 2}};
    QTest::newRow("overlapping squares") << QVector<Contour>{rectangle(0, 0, 2, 2), rectangle(1, 1, 3, 3)} << 7.0;
    QTest::newRow("squares sharing an edge") << QVector<Contour>{rectangle(0, 0, 2, 2), rectangle(2, 0, 4, 2)} << 8.0;
    QTest::newRow("island inside material") << QVector<Contour>{rectangle(0, 0, 4, 4), rectangle(1, 1, 2, 2)} << 16.0;
    QTest::newRow("island inside a hole")
        << QVector<Contour>{rectangle(0, 0, 6, 6), rectangle(1, 1, 5, 5, true), rectangle(2, 2, 3, 3)} << 21.0;
    QTest::newRow("hole of an odd-even file")
        << QVector<Contour>{rectangle(0, 0, 4, 4), rectangle(1, 1, 3, 3, true), rectangle(5, 0, 6, 1, true)} << 12.0;
    QTest::newRow("figure eight") << QVector<Contour>{Contour(eight)} << 1.0;
}

// Contours that overlap, touch or nest make the outline under the positive
// winding rule, whichever way the outline is found.
void TestStlExporter::overlappingContours()
{
    QFETCH(QVector<Contour>, contours);
    QFETCH(double, area);

    const Export e = exportSlices({slice(0, 1, contours)});
    QVERIFY(e.succeeded);
    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QCOMPARE(mesh.misnormaled, 0);
    QCOMPARE(mesh.overusedEdges, 0);
    QVERIFY2(qAbs(mesh.volume - area) < 1e-5, qPrintable(QString::number(mesh.volume, 'g', 10)));
}

void TestStlExporter::identicalLayersHaveNoInnerFaces()
{
    const Export e = exportSlices(stack({square(10, 4), square(10, 4), square(10, 4)}));
    for (const Facet &f : e.stl.facets)
        QVERIFY(!horizontalAt(f, 0.1f) && !horizontalAt(f, 0.2f));
    // Walls: 8 edges, two triangles each, three layers.
    int walls = 0;
    for (const Facet &f : e.stl.facets)
        walls += f.normal.z == 0 ? 1 : 0;
    QCOMPARE(walls, 3 * 8 * 2);
}

// A smaller square on a larger one: an upward ring at the step, nothing
// facing down there; the other way round, a downward ring only.
void TestStlExporter::steps()
{
    const Export narrowing = exportSlices(stack({square(10), square(4)}));
    QVERIFY(facesAt(narrowing.stl.facets, 0.1f, true) > 0);
    QCOMPARE(facesAt(narrowing.stl.facets, 0.1f, false), 0);
    double up = 0;
    for (const Facet &f : narrowing.stl.facets) {
        if (horizontalAt(f, 0.1f))
            up += f.area();
    }
    QVERIFY(qAbs(up - 84.0) < 1e-4);

    const Export widening = exportSlices(stack({square(4), square(10)}));
    QVERIFY(facesAt(widening.stl.facets, 0.1f, false) > 0);
    QCOMPARE(facesAt(widening.stl.facets, 0.1f, true), 0);
}

// Outlines that cross from layer to layer meet at points that the faces and
// the walls share: the surface is closed edge by edge, with its volume and
// orientation.
void TestStlExporter::crossingOutlines()
{
    const Export e = exportSlices(stack({{rectangle(0, 0, 4, 4)}, {rectangle(2, 2, 6, 6)}, {rectangle(1, 3, 5, 7)}}));
    QVERIFY(e.succeeded);
    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY(mesh.finite);
    QCOMPARE(mesh.misnormaled, 0);
    QVERIFY(qAbs(mesh.volume - 3 * 16 * 0.1) < 1e-5);
    QCOMPARE(mesh.overusedEdges, 0);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), 2);
}

void TestStlExporter::collinearPoints()
{
    QVector<Point2Df> points{{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}};
    const Export e = exportSlices({slice(0, 0.5f, {Contour(points)})});
    int walls = 0;
    for (const Facet &f : e.stl.facets)
        walls += f.normal.z == 0 ? 1 : 0;
    QCOMPARE(walls, 8);
    QVERIFY(stltest::checkMesh(e.stl.facets).closed());
}

void TestStlExporter::minimumThickness_data()
{
    QTest::addColumn<QList<float>>("heights");
    QTest::addColumn<float>("minimum");
    QTest::addColumn<QList<int>>("exported");

    QList<float> tenths, accumulated, aroundZero, high;
    float sum = 0;
    for (int i = 0; i < 10; ++i) {
        tenths.append(float(i * 0.1));
        accumulated.append(sum);
        sum += 0.1f;
    }
    for (int i = 0; i <= 10; ++i)
        aroundZero.append(float(-0.5 + 0.1 * i));
    for (int i = 0; i < 10; ++i)
        high.append(float(500.0 + 0.05 * i));

    QTest::newRow("none") << tenths << 0.0f << range(0, 10);
    QTest::newRow("equal to the spacing") << tenths << 0.1f << range(0, 10);
    QTest::newRow("spacing built by float sums") << accumulated << 0.1f << range(0, 10);
    QTest::newRow("spacing across zero") << aroundZero << 0.1f << range(0, 11);
    QTest::newRow("spacing at 500 mm") << high << 0.05f << range(0, 10);
    QTest::newRow("twice the spacing") << tenths << 0.2f << range(0, 10, 2);
    QTest::newRow("between slices") << tenths << 0.25f << QList<int>{0, 3, 6, 9};
    QTest::newRow("just above the spacing") << tenths << 0.11f << range(0, 10, 2);
    QTest::newRow("above the part") << tenths << 5.0f << QList<int>{0};
    QTest::newRow("negative") << tenths << -1.0f << range(0, 10);
}

void TestStlExporter::minimumThickness()
{
    QFETCH(QList<float>, heights);
    QFETCH(float, minimum);
    QFETCH(QList<int>, exported);

    QList<Slice> slices;
    for (float z : heights)
        slices.append(slice(z, 0.1f, square(1)));
    const Export e = exportSlices(slices, minimum);
    QVERIFY(e.succeeded);
    QCOMPARE(e.progress, exported + QList<int>{heights.size()});

    // The model has a level at each exported slice and one at the top.
    QList<float> expected;
    for (int i : exported)
        expected.append(heights[i]);
    const QList<float> z = levels(e.stl.facets);
    QCOMPARE(z.size(), expected.size() + 1);
    QCOMPARE(z.mid(0, expected.size()), expected);
    QVERIFY(stltest::checkMesh(e.stl.facets).closed());
}

void TestStlExporter::topHeight_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<float>("minimum");
    QTest::addColumn<float>("top");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("last distance") << QList<Slice>{slice(0, 0.1f, square(1)), slice(0.3f, 0.1f, square(1))} << 0.0f
                                   << 0.6f;
    QTest::newRow("at least 0.001 mm")
        << QList<Slice>{slice(0, 0.1f, square(1)), slice(0.0004f, 0.1f, square(1))} << 0.0f << 0.0014f;
    QTest::newRow("one slice, its thickness") << QList<Slice>{slice(2, 0.1f, square(1))} << 0.0f << 2.1f;
    QTest::newRow("one slice, the minimum") << QList<Slice>{slice(2, 0.1f, square(1))} << 0.25f << 2.25f;
    QTest::newRow("one slice, unknown thickness") << QList<Slice>{slice(2, nan, square(1))} << 0.25f << 2.001f;
    QTest::newRow("one slice, no thickness") << QList<Slice>{slice(2, 0, square(1))} << 0.0f << 2.001f;
}

void TestStlExporter::topHeight()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(float, minimum);
    QFETCH(float, top);

    const Export e = exportSlices(slices, minimum);
    QVERIFY(e.succeeded);
    QVERIFY2(qAbs(maxZ(e.stl.facets) - top) < 1e-6f, qPrintable(QString::number(double(maxZ(e.stl.facets)), 'g', 9)));
    QCOMPARE(facesAt(e.stl.facets, maxZ(e.stl.facets), true), 2);
}

void TestStlExporter::cancel_data()
{
    QTest::addColumn<int>("cancelAt");
    QTest::addColumn<QList<int>>("progress");

    QTest::newRow("before the run") << -1 << QList<int>();
    QTest::newRow("first slice") << 0 << QList<int>{0};
    QTest::newRow("middle slice") << 2 << QList<int>{0, 1, 2};
    QTest::newRow("last slice") << 4 << range(0, 5);
}

// A cancel stops after the slice under way: no further slice, no top, no
// final progress, and it is never lost, also when it came before the run.
void TestStlExporter::cancel()
{
    QFETCH(int, cancelAt);
    QFETCH(QList<int>, progress);

    const QList<Slice> slices = stack({square(4), square(4), square(4), square(4), square(4)});
    Export e;
    if (cancelAt < 0) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        StlExporter exporter(&buffer, slices);
        QSignalSpy progressSpy(&exporter, &StlExporter::progress);
        QSignalSpy finishedSpy(&exporter, &StlExporter::finished);
        exporter.cancel();
        exporter.run();
        QCOMPARE(progressSpy.count(), 0);
        QCOMPARE(finishedSpy.count(), 1);
        QVERIFY(exporter.wasCancelled());
        QVERIFY(!exporter.succeeded());
        QCOMPARE(buffer.data(), QByteArray(80, ' ') + QByteArray(4, '\0'));
        return;
    }
    e = exportSlices(slices, 0, [cancelAt](StlExporter &exporter, int value) {
        if (value == cancelAt)
            exporter.cancel();
    });
    QCOMPARE(e.progress, progress);
    QCOMPARE(e.finished, 1);
    QVERIFY(e.cancelled);
    QVERIFY(!e.succeeded);
    QVERIFY(e.stl.valid);
    QCOMPARE(int(e.stl.count), e.stl.facets.size());
    // The model is open at the top: it ends at the last exported slice.
    const float lastZ = slices[cancelAt].z();
    QCOMPARE(maxZ(e.stl.facets), lastZ);
    QCOMPARE(facesAt(e.stl.facets, lastZ, true), 0);
}

// The window's way: run on a pool thread, progress through a blocking queued
// connection, cancel from this thread.
void TestStlExporter::cancelFromGuiThread()
{
    QList<Slice> slices;
    for (int i = 0; i < 20; ++i)
        slices.append(slice(float(i) * 0.1f, 0.1f, square(4, 2)));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StlExporter exporter(&buffer, slices);
    QObject receiver;
    QList<int> seen;
    connect(&exporter, &StlExporter::progress, &receiver,
            [&](int value) {
                QVERIFY(QThread::currentThread() == receiver.thread());
                seen.append(value);
                if (value == 3)
                    exporter.cancel();
            },
            Qt::BlockingQueuedConnection);
    QSignalSpy finishedSpy(&exporter, &StlExporter::finished);
    QFuture<void> future = QtConcurrent::run(&exporter, &StlExporter::run);
    QVERIFY(finishedSpy.wait(10000) || finishedSpy.count() == 1);
    future.waitForFinished();
    QCOMPARE(finishedSpy.count(), 1);
    QCOMPARE(seen, (QList<int>{0, 1, 2, 3}));
    QVERIFY(exporter.wasCancelled());
    QVERIFY(!exporter.succeeded());
    QCOMPARE(int(stltest::readStl(buffer.data()).count), stltest::readStl(buffer.data()).facets.size());
}

void TestStlExporter::refusesSecondRun()
{
    int nested = 0;
    const Export e = exportSlices(stack({square(2), square(2)}), 0, [&nested](StlExporter &exporter, int value) {
        if (value == 0) {
            QTest::ignoreMessage(QtCriticalMsg, "This StlExporter instance is currently running!");
            exporter.run();
            ++nested;
        }
    });
    QCOMPARE(nested, 1);
    QCOMPARE(e.progress, (QList<int>{0, 1, 2}));
    QCOMPARE(e.finished, 1);
    QVERIFY(e.succeeded);
}

void TestStlExporter::settersWhileRunning()
{
    float minimum = -1;
    double tolerance = -1;
    exportSlices(stack({square(2), square(2)}), 0.05f, [&](StlExporter &exporter, int value) {
        if (value == 0) {
            exporter.setMinimumThickness(5);
            exporter.setTolerance(1);
            minimum = exporter.minimumThickness();
            tolerance = exporter.tolerance();
        }
    });
    QCOMPARE(minimum, 0.05f);
    QCOMPARE(tolerance, 0.02);
}

void TestStlExporter::setterValues()
{
    QBuffer buffer;
    StlExporter exporter(&buffer, stack({square(1)}));
    QCOMPARE(exporter.slices().size(), 1);
    QCOMPARE(exporter.minimumThickness(), 0.0f);
    QCOMPARE(exporter.tolerance(), 0.02);
    exporter.setMinimumThickness(-3);
    QCOMPARE(exporter.minimumThickness(), 0.0f);
    exporter.setMinimumThickness(std::numeric_limits<float>::quiet_NaN());
    QCOMPARE(exporter.minimumThickness(), 0.0f);
    exporter.setMinimumThickness(0.3f);
    QCOMPARE(exporter.minimumThickness(), 0.3f);
    exporter.setTolerance(-1);
    QCOMPARE(exporter.tolerance(), 0.0);
}

void TestStlExporter::writeFailure_data()
{
    QTest::addColumn<int>("room");
    QTest::addColumn<int>("progressCount");

    QTest::newRow("no room for the header") << 0 << 0;
    QTest::newRow("header only") << 84 << 1;
    // Two facets at the bottom, eight walls per layer: the third layer fails.
    QTest::newRow("full after a few layers") << 84 + 50 * 12 << 3;
}

// A device that runs full fails the export: the failure is reported, the
// export stops, and finished() still comes once.
void TestStlExporter::writeFailure()
{
    QFETCH(int, room);
    QFETCH(int, progressCount);

    stltest::FullBuffer buffer(room);
    buffer.open(QIODevice::WriteOnly);
    ignoreExporterWarning();
    const Export e = exportSlices(stack({square(4), square(4), square(4), square(4), square(4)}), 0, nullptr, &buffer);
    QVERIFY(!e.succeeded);
    QVERIFY(!e.cancelled);
    QVERIFY(!e.error.isEmpty());
    QCOMPARE(e.finished, 1);
    QCOMPARE(e.progress.size(), progressCount);
}

void TestStlExporter::badGeometry_data()
{
    QTest::addColumn<QList<Slice>>("slices");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QVector<Point2Df> nanPoint{{0, 0}, {1, 0}, {nan, 1}, {0, 1}};
    QVector<Point2Df> infPoint{{0, 0}, {inf, 0}, {1, 1}, {0, 1}};
    QTest::newRow("NaN coordinate") << QList<Slice>{slice(0, 0.1f, square(2)), slice(0.1f, 0.1f, {Contour(nanPoint)})};
    QTest::newRow("infinite coordinate") << QList<Slice>{slice(0, 0.1f, {Contour(infPoint)})};
    QTest::newRow("NaN height") << QList<Slice>{slice(0, 0.1f, square(2)), slice(nan, 0.1f, square(2))};
    QTest::newRow("infinite height") << QList<Slice>{slice(inf, 0.1f, square(2))};
}

// Numbers that are not finite never reach the tessellator: the export fails
// with a message naming the slice, and the facets written are finite.
void TestStlExporter::badGeometry()
{
    QFETCH(QList<Slice>, slices);

    ignoreExporterWarning();
    const Export e = exportSlices(slices);
    QVERIFY(!e.succeeded);
    QVERIFY(e.error.contains(QString::number(slices.size())));
    QCOMPARE(e.finished, 1);
    QVERIFY(e.stl.valid);
    QVERIFY(stltest::checkMesh(e.stl.facets).finite);
}

// A valid outline too far out for the export's float arithmetic is not
// passed off as a slice whose contours run clockwise: the export fails and
// says why. Up to the limit the model is written, closed.
void TestStlExporter::coordinatesBeyondReach()
{
    ignoreExporterWarning();
    const Export far = exportSlices(stack({square(2e30f), square(2e30f)}));
    QVERIFY(!far.succeeded);
    QVERIFY2(far.error.contains(QLatin1String("Slice 1 has coordinates beyond")), qPrintable(far.error));

    const Export near = exportSlices(stack({square(2e18f), square(2e18f)}));
    QVERIFY2(near.succeeded, qPrintable(near.error));
    const stltest::MeshReport mesh = stltest::checkMesh(near.stl.facets);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), 2);
}

// A slice whose contours all run clockwise has no material under the positive
// rule; it is reported, once, and the model gets a gap there.
void TestStlExporter::clockwiseSliceIsReported()
{
    const QList<Slice> slices{slice(0, 0.1f, square(4)), slice(0.1f, 0.1f, {rectangle(-2, -2, 2, 2, true)}),
                              slice(0.2f, 0.1f, square(4))};
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: slice 2 .*empty outline"));
    const Export e = exportSlices(slices);
    QVERIFY(e.succeeded);
    const stltest::MeshReport mesh = stltest::checkMesh(e.stl.facets);
    QVERIFY(mesh.closed());
    QCOMPARE(mesh.euler(), 4);
    QVERIFY(qAbs(mesh.volume - 2 * 16 * 0.1) < 1e-5);
}

void TestStlExporter::exportToFile()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("part.stl"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const Export e = exportSlices(stack({square(10, 4), square(10, 4)}), 0, nullptr, &file);
    QVERIFY(e.succeeded);
    QVERIFY(!file.isOpen());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const stltest::StlFile stl = stltest::readStl(file.readAll());
    QVERIFY(stl.valid);
    QCOMPARE(int(stl.count), stl.facets.size());
    QVERIFY(stltest::checkMesh(stl.facets).closed());
}

void TestStlExporter::facetCount_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<bool>("crossing");

    // Outlines of different radii and vertex counts, each inside or around
    // the next, never crossing it; one layer repeats the one below.
    QList<QVector<Contour>> layers;
    const double radii[] = {5, 6, 4.5, 7, 3, 5.5};
    const int counts[] = {40, 53, 37, 61, 24, 47};
    for (int i = 0; i < 6; ++i)
        layers.append({circle(0, 0, radii[i], counts[i], 0.3 * i)});
    layers.insert(3, layers[2]);
    QTest::newRow("nested discs") << stack(layers) << false;
    layers.clear();
    for (int i = 0; i < 5; ++i)
        layers.append({circle(0, 0, 8 - 0.5 * (i % 2), 60 + 7 * i, 0.2 * i),
                       circle(1, 0, 2 + 0.6 * i, 20 + 3 * i, 0.5 * i, true)});
    QTest::newRow("nested rings") << stack(layers) << false;
    layers = {{rectangle(0, 0, 2, 2), rectangle(5, 0, 7, 3)}, {rectangle(0.5f, 0.5f, 1.5f, 1.5f)},
              {rectangle(-1, -1, 8, 4)}};
    QTest::newRow("islands appearing and vanishing") << stack(layers) << false;

    // Each layer turned against the one below: every edge crosses two.
    layers.clear();
    for (int i = 0; i < 6; ++i)
        layers.append({circle(0, 0, 5, 36, i * 0.37 * 2 * M_PI / 36)});
    QTest::newRow("turning polygon") << stack(layers) << true;
    layers = {{circle(0, 0, 5, 4, 0)}, {circle(0, 0, 5, 4, M_PI / 4)}, {circle(0.5, 0, 4, 6, 0.1)}};
    QTest::newRow("turned squares and a hexagon") << stack(layers) << true;
    layers = {{rectangle(0, 0, 4, 4)}, {rectangle(2, 2, 6, 6)}, {rectangle(1, 3, 5, 7)}};
    QTest::newRow("offset squares") << stack(layers) << true;
    layers.clear();
    for (int i = 0; i < 4; ++i)
        layers.append({circle(0, 0, 8, 50, 0.02 * i), circle(0.3 * i, 0, 3, 30, 0.05 * i, true)});
    QTest::newRow("turning ring") << stack(layers) << true;
    // Outlines long enough for the faces to be made in vertical bands.
    layers.clear();
    for (int i = 0; i < 3; ++i)
        layers.append({toothedRing(0, 0, 10, 500, false, i * 0.37 * 2 * M_PI / 500),
                       toothedRing(3, 1, 4, 160, true, i * 0.41 * 2 * M_PI / 160)});
    QTest::newRow("turning ring in bands") << stack(layers) << true;
}

// The export has the facets of the plain method (two GLU calls between two
// layers, two walls per outline edge) and no more but the two wall splits
// that each crossing point of consecutive outlines needs, one on the wall
// below it and one on the wall above: a closed surface has two faces for
// each vertex beyond the first few, so that is as few as a closed model can
// have. Also where the faces are made in bands: the points where the band
// lines cut the outlines are not left in the model.
void TestStlExporter::facetCount()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(bool, crossing);

    const QList<geom::StlLayer> layers = stltest::cleanedLayers(slices);
    const int crossings = crossingPoints(layers);
    QVERIFY2(crossings >= 0, "outlines touch or cross too near a vertex to count");
    QCOMPARE(crossings > 0, crossing);
    const Export e = exportSlices(slices);
    QVERIFY(e.succeeded);
    QVERIFY2(stltest::checkMesh(e.stl.facets).faults().isEmpty(), qPrintable(stltest::checkMesh(e.stl.facets).faults()));
    QCOMPARE(qint64(e.stl.count), stltest::perLayerFacets(layers) + 2 * crossings);
}

QTEST_GUILESS_MAIN(TestStlExporter)
#include "tst_stlexporter.moc"
