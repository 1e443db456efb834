#include "mesh/stlmesh.h"
#include "mesh/stlmeshprivate.h"
#include "stlmeshtestutil.h"
#include "stltestutil.h"
#include "stl/stlwriter.h"

#include <QBuffer>
#include <QMatrix4x4>
#include <QRegularExpression>
#include <QScopedPointer>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

using geom::Bounds3Df;
using geom::Facet;
using geom::Point3Df;
using geom::StlMesh;
using geom::StlMeshPrivate;
using meshtest::boxFacets;
using meshtest::cubeTriangles;
using meshtest::cubeVertices;
using meshtest::invariantFault;
using Triangle = StlMesh::Triangle;
using Triangles = QVector<Triangle>;

Q_DECLARE_METATYPE(Triangles)

namespace {

// The messages logged while it lives.
class MessageLog
{
public:
    MessageLog() { previous = qInstallMessageHandler(&MessageLog::record); }
    ~MessageLog()
    {
        qInstallMessageHandler(previous);
        messages().clear();
    }
    static QStringList &messages()
    {
        static QStringList list;
        return list;
    }

private:
    static void record(QtMsgType, const QMessageLogContext &, const QString &text) { messages().append(text); }
    QtMessageHandler previous;
};

// Exact triple and attribute, for comparing lists.
QString describe(const Triangles &list)
{
    QStringList parts;
    for (const Triangle &t : list)
        parts.append(QStringLiteral("(%1 %2 %3 #%4)").arg(t.a).arg(t.b).arg(t.c).arg(t.attribute));
    return parts.join(' ');
}

QVector<QVector3D> pointsOnZ(int count)
{
    QVector<QVector3D> v;
    for (int i = 0; i < count; ++i)
        v.append(QVector3D(0, 0, float(i)));
    return v;
}

StlMesh *cube(QObject *parent = nullptr)
{
    auto *mesh = new StlMesh(parent);
    mesh->setData(cubeVertices(), cubeTriangles());
    return mesh;
}

stltest::MeshReport report(const StlMesh &mesh)
{
    return stltest::checkMesh(mesh.facets(true));
}

Facet facet(Point3Df a, Point3Df b, Point3Df c)
{
    return Facet(a, b, c);
}

// Relative, so that small meshes are held to the same precision.
bool fuzzy(double a, double b, double tolerance = 1e-5)
{
    return std::fabs(a - b) <= tolerance * std::fabs(b) + 1e-12;
}

} // namespace

class TestStlMesh : public QObject
{
    Q_OBJECT

private slots:
    void newMesh();
    void cleanIndices_data();
    void cleanIndices();
    void rebuild();
    void lookups();
    void triangleOrders();
    void setAttribute();
    void cubeStatistics_data();
    void cubeStatistics();
    void flatAndDegenerate();
    void duplicates();
    void weldClosedMesh();
    void weldEdgeCases();
    void untrustedInput();
    void mergeWelder();
    void setData();
    void strips();
    void append();
    void transformed_data();
    void transformed();
    void transformRefusals();
    void statisticsOnly();
    void scaleAndTranslate();
    void queries();
    void writerBytes_data();
    void writerBytes();
    void writerStopsAtFailure();
};

void TestStlMesh::newMesh()
{
    StlMesh mesh;
    QVERIFY(mesh.vertices().isEmpty());
    QVERIFY(mesh.indices().isEmpty());
    QCOMPARE(mesh.order(), int(StlMesh::ByIndices));
    QCOMPARE(mesh.freeAttributes().count(true), 65536);
    QCOMPARE(mesh.radius(), 0.0);
    QCOMPARE(mesh.area(), 0.0);
    QCOMPARE(mesh.volume(), 0.0);
    QCOMPARE(mesh.duplicates(), 0);
    QVERIFY(mesh.boundingBox().isNull());
    QVERIFY(mesh.facets().isEmpty());
    QVERIFY(mesh.vertexTriangles().isEmpty());
    QVERIFY(mesh.faceNormals(1).isEmpty());
}

void TestStlMesh::cleanIndices_data()
{
    QTest::addColumn<int>("vertexCount");
    QTest::addColumn<Triangles>("input");
    QTest::addColumn<Triangles>("expected");
    QTest::addColumn<int>("dropped");

    QTest::newRow("empty") << 3 << Triangles() << Triangles() << 0;
    QTest::newRow("repeated, rotated, out of range, negative")
        << 100 << Triangles{{5, 5, 7, 0}, {3, 9, 1, 0}, {2, 7, 150, 0}, {-1, 2, 3, 0}} << Triangles{{1, 3, 9, 0}} << 3;
    QTest::newRow("single triangle is rotated") << 5 << Triangles{{4, 2, 3, 0}} << Triangles{{2, 3, 4, 0}} << 0;
    QTest::newRow("equal triangles keep their order")
        << 5 << Triangles{{1, 2, 3, 7}, {2, 3, 1, 9}} << Triangles{{1, 2, 3, 7}, {1, 2, 3, 9}} << 0;
    QTest::newRow("mark bit cleared") << 3 << Triangles{{0, 1, 2, -5}} << Triangles{{0, 1, 2, 2147483643}} << 0;
    QTest::newRow("sorted, winding kept")
        << 6 << Triangles{{3, 4, 5, 1}, {0, 2, 1, 2}, {1, 2, 0, 3}} << Triangles{{0, 1, 2, 3}, {0, 2, 1, 2}, {3, 4, 5, 1}}
        << 0;

    // A fan of 40 around vertex 0, given backwards, with each triangle twice:
    // long runs take another sort, which must be as stable.
    Triangles fan, sortedFan;
    for (int k = 40; k >= 1; --k) {
        fan.append({k, k + 1, 0, k});
        fan.append({0, k, k + 1, -k - 1000});
    }
    for (int k = 1; k <= 40; ++k) {
        sortedFan.append({0, k, k + 1, k});
        sortedFan.append({0, k, k + 1, (-k - 1000) & 0x7fffffff});
    }
    QTest::newRow("long run") << 42 << fan << sortedFan << 0;
}

void TestStlMesh::cleanIndices()
{
    QFETCH(int, vertexCount);
    QFETCH(Triangles, input);
    QFETCH(Triangles, expected);
    QFETCH(int, dropped);

    StlMeshPrivate d(nullptr);
    d.vertices = pointsOnZ(vertexCount);
    d.triangles = input;
    d.order = StlMesh::ByAttribute;
    MessageLog log;
    d.cleanIndices();
    QCOMPARE(describe(d.triangles), describe(expected));
    QCOMPARE(d.order, int(StlMesh::ByIndices));
    const QStringList expectedLog =
        dropped ? QStringList{QStringLiteral("Clean indices dropped %1 items.").arg(dropped)} : QStringList();
    QCOMPARE(log.messages(), expectedLog);
}

void TestStlMesh::rebuild()
{
    // Vertex 2 is used by nobody; the others come back sorted by z, x, y.
    StlMeshPrivate d(nullptr);
    d.vertices = {QVector3D(5, 0, 1), QVector3D(1, 9, 0), QVector3D(0, 0, 0), QVector3D(0, 1, 1)};
    d.triangles = {{0, 1, 3, 4}, {0, 1, 7, 0}};
    {
        MessageLog log;
        QCOMPARE(d.rebuild(), 0);
        // The triangle that names no vertex goes without a word.
        QVERIFY(log.messages().isEmpty());
    }
    QCOMPARE(d.vertices, (QVector<QVector3D>{QVector3D(1, 9, 0), QVector3D(0, 1, 1), QVector3D(5, 0, 1)}));
    QCOMPARE(describe(d.triangles), describe({{0, 1, 2, 4}}));

    // A vertex used only by a degenerate triangle survives this compaction.
    StlMeshPrivate e(nullptr);
    e.vertices = pointsOnZ(4);
    e.triangles = {{0, 1, 2, 0}, {3, 3, 0, 0}};
    QTest::ignoreMessage(QtWarningMsg, "Clean indices dropped 1 items.");
    e.rebuild();
    QCOMPARE(e.vertices.size(), 4);
    QCOMPARE(e.triangles.size(), 1);
}

void TestStlMesh::lookups()
{
    StlMesh mesh;
    // Vertex (0, 0, 0) twice: the compaction keeps equal vertices apart.
    QVector<QVector3D> v = cubeVertices();
    v.append(QVector3D(0, 0, 0));
    Triangles t = cubeTriangles();
    t.append({8, 1, 2, 0});
    mesh.setData(v, t);
    QCOMPARE(mesh.vertices().size(), 9);
    QCOMPARE(mesh.indexOfVertex(QVector3D(0, 0, 0)), 0);
    QCOMPARE(mesh.vertices().at(1), QVector3D(0, 0, 0));
    QCOMPARE(mesh.indexOfVertex(QVector3D(0.5f, 0, 0)), -1);
    QCOMPARE(mesh.indexOfVertex(QVector3D(0, 0, std::numeric_limits<float>::quiet_NaN())), -1);
    QCOMPARE(mesh.indexOfVertex(QVector3D(1, 1, 1)), 8);

    // z ranges: four vertices on the floor (five with the twin), four on top.
    QCOMPARE(mesh.lowerBoundZ(0), 0);
    QCOMPARE(mesh.upperBoundZ(0), 5);
    QCOMPARE(mesh.lowerBoundZ(0.5f), 5);
    QCOMPARE(mesh.upperBoundZ(1), 9);
    QCOMPARE(mesh.lowerBoundZ(2), 9);

    const Triangles list = mesh.indices();
    for (int i = 0; i < list.size(); ++i) {
        const Triangle s = list[i];
        QCOMPARE(mesh.indexOfTriangle(s), i);
        QCOMPARE(mesh.indexOfTriangle(Triangle{s.b, s.c, s.a, 99}), i);
        QCOMPARE(mesh.indexOfTriangle(Triangle{s.c, s.a, s.b, 0}), i);
        QCOMPARE(mesh.lowerBound(Triangle{s.c, s.a, s.b, 0}), i);
        // The other winding is another triangle.
        QCOMPARE(mesh.indexOfTriangle(Triangle{s.a, s.c, s.b, 0}), -1);
        QVERIFY(mesh.findTriangle(s) != mesh.findTriangle(Triangle{s.a, s.c, s.b, 0}));
    }
    const QVector<Facet> facets = mesh.facets(false);
    for (int i = 0; i < facets.size(); ++i) {
        // The twin of (0, 0, 0) is found as the first one.
        if (list[i].a != 1)
            QCOMPARE(mesh.indexOfFacet(facets[i]), i);
    }
    const Facet reversed(facets[0].vertex1, facets[0].vertex3, facets[0].vertex2, Point3Df::zero);
    QCOMPARE(mesh.indexOfFacet(reversed), -1);
    QCOMPARE(mesh.indexOfFacet(facet(Point3Df(0, 0, 0), Point3Df(7, 0, 0), Point3Df(0, 1, 0))), -1);
}

void TestStlMesh::triangleOrders()
{
    QScopedPointer<StlMesh> mesh(cube());
    mesh->setAttribute(3);
    const Triangles byIndices = mesh->indices();
    mesh->sortTriangles(StlMesh::ByTopVertex);
    QCOMPARE(mesh->order(), int(StlMesh::ByTopVertex));
    const Triangles top = mesh->indices();
    QVERIFY(std::is_sorted(top.begin(), top.end(),
                           [](const Triangle &s, const Triangle &t) { return std::max(s.b, s.c) < std::max(t.b, t.c); }));
    // Sorting by attribute, all equal, keeps the list: lookups now scan it.
    mesh->sortTriangles(StlMesh::ByAttribute);
    QCOMPARE(describe(mesh->indices()), describe(top));
    for (int i = 0; i < top.size(); ++i)
        QCOMPARE(mesh->indexOfTriangle(Triangle{top[i].c, top[i].a, top[i].b, 0}), i);
    mesh->sortTriangles(5);
    QCOMPARE(mesh->order(), int(StlMesh::ByAttribute));
    QCOMPARE(describe(mesh->indices()), describe(top));
    mesh->sortTriangles(StlMesh::ByIndices);
    QCOMPARE(describe(mesh->indices()), describe(byIndices));
    QVERIFY(invariantFault(*mesh).isEmpty());
}

void TestStlMesh::setAttribute()
{
    QScopedPointer<StlMesh> mesh(cube());
    mesh->setAttribute(70000);
    for (int a : mesh->attributes())
        QCOMPARE(a, 70000);
    const QBitArray free = mesh->freeAttributes();
    QCOMPARE(free.count(false), 1);
    QVERIFY(!free.testBit(4464));
    QCOMPARE(mesh->area(), 6.0);
}

void TestStlMesh::cubeStatistics_data()
{
    QTest::addColumn<float>("side");
    QTest::addColumn<int>("cuts");
    QTest::addColumn<bool>("reversed");

    QTest::newRow("unit cube") << 1.0f << 1 << false;
    QTest::newRow("unit cube, facing in") << 1.0f << 1 << true;
    QTest::newRow("unit cube of 3x3 squares") << 1.0f << 3 << false;
    // Triangles whose doubled area is below 1e-5 still count.
    QTest::newRow("fine cube") << 0.01f << 8 << false;
    QTest::newRow("finely cut unit cube") << 1.0f << 330 << false;
}

void TestStlMesh::cubeStatistics()
{
    QFETCH(float, side);
    QFETCH(int, cuts);
    QFETCH(bool, reversed);

    QVector<Facet> facets = boxFacets(side, cuts);
    if (reversed) {
        for (Facet &f : facets)
            f.flip();
    }
    StlMesh mesh;
    mesh.addFacets(facets.size(), facets.constData());
    QCOMPARE(mesh.indices().size(), facets.size());
    QCOMPARE(mesh.vertices().size(), 6 * cuts * cuts + 2);
    QVERIFY(fuzzy(mesh.area(), 6.0 * side * side, 1e-4));
    QVERIFY(fuzzy(mesh.volume(), double(side) * side * side, 1e-4));
    QVERIFY(fuzzy(mesh.radius(), std::sqrt(3.0) / 2 * side));
    QCOMPARE(mesh.boundingBox(), Bounds3Df(Point3Df(0, 0, 0), Point3Df(side, side, side)));
    QCOMPARE(mesh.duplicates(), 0);
    QCOMPARE(mesh.freeAttributes().count(false), 1);
    QVERIFY(!mesh.freeAttributes().testBit(0));
    QVERIFY(invariantFault(mesh).isEmpty());
}

void TestStlMesh::flatAndDegenerate()
{
    // A flat square: no volume, and its box (flat, so not valid) is measured.
    StlMesh square;
    square.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(1, 1, 0), QVector3D(0, 1, 0)},
                   Triangles{{0, 1, 2, 0}, {0, 2, 3, 0}});
    QCOMPARE(square.area(), 1.0);
    QCOMPARE(square.volume(), 0.0);
    QCOMPARE(square.boundingBox(), Bounds3Df(Point3Df(0, 0, 0), Point3Df(1, 1, 0)));

    // Collinear corners: no area, no volume, but its attribute is in use.
    StlMesh line;
    line.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(2, 0, 0)}, Triangles{{0, 1, 2, 12}});
    QCOMPARE(line.indices().size(), 1);
    QCOMPARE(line.area(), 0.0);
    QCOMPARE(line.volume(), 0.0);
    QVERIFY(!line.freeAttributes().testBit(12));
    QCOMPARE(line.faceNormals(1).value(0), QVector3D(0, 0, 0));
}

void TestStlMesh::duplicates()
{
    StlMesh mesh;
    const Facet f = facet(Point3Df(0, 0, 0), Point3Df(1, 0, 0), Point3Df(0, 1, 0));
    const Facet twice[3] = {f, Facet(f.vertex2, f.vertex3, f.vertex1), f};
    const quint16 words[3] = {5, 6, 7};
    mesh.addFacets(3, twice, words);
    QCOMPARE(mesh.vertices().size(), 3);
    QCOMPARE(mesh.indices().size(), 3);
    QCOMPARE(mesh.duplicates(), 2);
    // Only the first of a run counts for area and attributes.
    QCOMPARE(mesh.area(), 0.5);
    QVERIFY(!mesh.freeAttributes().testBit(5));
    QVERIFY(mesh.freeAttributes().testBit(6));
    QVERIFY(mesh.freeAttributes().testBit(7));

    // Sorted by attribute first: the runs stay together.
    mesh.sortTriangles(StlMesh::ByAttribute);
    QCOMPARE(mesh.removeDuplicates(), 2);
    QCOMPARE(describe(mesh.indices()), describe({{0, 2, 1, 7}}));
    QCOMPARE(mesh.duplicates(), 0);
    QCOMPARE(mesh.removeDuplicates(), 0);
    QCOMPARE(mesh.indices().size(), 1);

    // Sorted by attribute, the two equal triangles are no longer neighbours:
    // the count of the statistics (1) describes another list, and the removal
    // goes by the list as it is.
    StlMesh apart;
    apart.setData(pointsOnZ(4), Triangles{{0, 1, 2, 5}, {0, 1, 3, 7}, {1, 2, 0, 9}});
    QCOMPARE(apart.duplicates(), 1);
    apart.sortTriangles(StlMesh::ByAttribute);
    QCOMPARE(apart.removeDuplicates(), 0);
    QCOMPARE(describe(apart.indices()), describe({{0, 1, 2, 5}, {0, 1, 3, 7}, {0, 1, 2, 9}}));
    QCOMPARE(apart.duplicates(), 0);
}

void TestStlMesh::weldClosedMesh()
{
    // Facets of a closed box in random order weld into one closed surface.
    QVector<Facet> facets = boxFacets(2.0f, 5);
    std::mt19937 random(7);
    std::shuffle(facets.begin(), facets.end(), random);
    QVector<quint16> words(facets.size());
    for (int i = 0; i < words.size(); ++i)
        words[i] = quint16(i);
    StlMesh mesh;
    // In two calls: the second welds to the vertices of the first.
    const int half = facets.size() / 2;
    mesh.addFacets(half, facets.constData(), words.constData());
    mesh.addFacets(facets.size() - half, facets.constData() + half, words.constData() + half);

    QCOMPARE(mesh.vertices().size(), 6 * 25 + 2);
    QCOMPARE(mesh.indices().size(), facets.size());
    QVERIFY(invariantFault(mesh).isEmpty());
    const stltest::MeshReport r = report(mesh);
    QVERIFY(r.closed());
    QCOMPARE(r.euler(), 2);
    QCOMPARE(r.misnormaled, 0);
    QVERIFY(fuzzy(r.volume, 8.0));
    QVERIFY(fuzzy(mesh.volume(), 8.0));
    // Every facet is found with its own attribute.
    const QVector<int> attributes = mesh.attributes();
    for (int i = 0; i < facets.size(); ++i) {
        const int at = mesh.indexOfFacet(facets[i]);
        QVERIFY(at >= 0);
        QCOMPARE(attributes[at], i);
    }
    QCOMPARE(mesh.freeAttributes().count(false), facets.size());

    // The facets handed out are the triangles' corners in their order, with
    // the normal the facet itself computes.
    const QVector<Facet> out = mesh.facets(true);
    const Triangles triangles = mesh.indices();
    const QVector<QVector3D> v = mesh.vertices();
    auto at = [&v](int i) { return Point3Df(v[i].x(), v[i].y(), v[i].z()); };
    QCOMPARE(out.size(), triangles.size());
    for (int i = 0; i < out.size(); ++i) {
        const Facet expected(at(triangles[i].a), at(triangles[i].b), at(triangles[i].c));
        QCOMPARE(std::memcmp(&out[i], &expected, sizeof(Facet)), 0);
    }
}

void TestStlMesh::weldEdgeCases()
{
    StlMesh mesh;
    const Point3Df o(0, 0, 0), x(1, 0, 0), y(0, 1, 0), xy(1, 1, 0);
    const Facet pair[2] = {facet(o, x, xy), facet(o, xy, y)};
    mesh.addFacets(2, pair);
    QCOMPARE(mesh.vertices().size(), 4);
    QCOMPARE(mesh.indices().size(), 2);
    QCOMPARE(mesh.attributes(), (QVector<int>{0, 0}));

    // An exact corner reuses the vertex; one a bit away is another vertex,
    // and -0 is the same corner as +0.
    const float nextToOne = std::nextafter(1.0f, 2.0f);
    const Facet more[2] = {facet(x, Point3Df(2, 0, 0), xy), facet(Point3Df(-0.0f, 1, -0.0f), Point3Df(0, 2, 0), Point3Df(nextToOne, 1, 0))};
    mesh.addFacets(2, more);
    QCOMPARE(mesh.vertices().size(), 7);
    QCOMPARE(mesh.indices().size(), 4);

    // Three equal corners: the triangle goes, its vertex stays.
    StlMesh point;
    QTest::ignoreMessage(QtWarningMsg, "Clean indices dropped 1 items.");
    const Facet dot(o, o, o, Point3Df::zero);
    point.addFacets(1, &dot);
    QCOMPARE(point.vertices().size(), 1);
    QCOMPARE(point.indices().size(), 0);

    // No facets on a mesh that has some: the mesh is made again, unchanged.
    const Triangles before = mesh.indices();
    const QVector<QVector3D> vertices = mesh.vertices();
    mesh.addFacets(0, pair);
    QCOMPARE(describe(mesh.indices()), describe(before));
    QCOMPARE(mesh.vertices(), vertices);
}

void TestStlMesh::untrustedInput()
{
    StlMesh mesh;
    const Point3Df o(0, 0, 0), x(1, 0, 0), y(0, 1, 0);
    const Facet one = facet(o, x, y);
    mesh.addFacets(1, &one);

    // Nothing to add: nothing happens.
    mesh.addFacets(5, nullptr);
    mesh.addFacets(-1, &one);
    QCOMPARE(mesh.indices().size(), 1);

    // A NaN would break the order every lookup relies on.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Facet bad[3] = {facet(o, Point3Df(nan, 0, 0), y), facet(x, y, Point3Df(0, 0, inf)), facet(o, y, Point3Df(0, 0, 1))};
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::addFacets dropped 2 facets with coordinates that are not finite.");
    mesh.addFacets(3, bad);
    QCOMPARE(mesh.indices().size(), 2);
    QCOMPARE(mesh.vertices().size(), 4);
    QVERIFY(invariantFault(mesh).isEmpty());

    // The same for vertices handed in whole.
    StlMesh data;
    QTest::ignoreMessage(QtWarningMsg,
                         "StlMesh: dropped 1 vertices with coordinates that are not finite, and 1 triangles on them.");
    data.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(nan, 1, 0), QVector3D(0, 1, 0)},
                 Triangles{{0, 1, 2, 0}, {0, 1, 3, 0}});
    QCOMPARE(data.vertices().size(), 3);
    QCOMPARE(data.indices().size(), 1);
    QVERIFY(invariantFault(data).isEmpty());
}

void TestStlMesh::mergeWelder()
{
    QScopedPointer<StlMesh> mesh(cube());
    // A welder made against the cube: one new corner, 8, on top of the roof.
    StlMesh::FacetWelder welder(*mesh);
    QCOMPARE(welder.nextIndex, 8);
    const int v4 = mesh->indexOfVertex(QVector3D(0, 0, 1)), v5 = mesh->indexOfVertex(QVector3D(1, 0, 1));
    welder.vertexIndex[QVector3D(0.5f, 0.5f, 2)] = 8;
    welder.nextIndex = 9;
    welder.triangles = {{v4, v5, 8, 1}, {v4, 8, 42, 2}, {-3, v5, 8, 3}};
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::merge dropped 2 triangles that name no corner.");
    mesh->merge(welder);
    QCOMPARE(mesh->vertices().size(), 9);
    QCOMPARE(mesh->indices().size(), 13);
    QCOMPARE(mesh->indexOfFacet(facet(Point3Df(0, 0, 1), Point3Df(1, 0, 1), Point3Df(0.5f, 0.5f, 2))) >= 0, true);
    QVERIFY(invariantFault(*mesh).isEmpty());

    // The mesh has changed since: the welder's indices mean nothing now.
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::merge: the welder was made for another vertex list; nothing is merged.");
    mesh->merge(welder);
    QCOMPARE(mesh->indices().size(), 13);

    // A next index beyond its corners.
    StlMesh::FacetWelder holes(*mesh);
    holes.nextIndex += 1000;
    holes.triangles = {{0, 1, 2, 0}};
    QTest::ignoreMessage(QtWarningMsg,
                         "StlMesh::merge: the welder's next index 1009 does not match its corners; nothing is merged.");
    mesh->merge(holes);
    QCOMPARE(mesh->indices().size(), 13);
}

void TestStlMesh::setData()
{
    StlMesh mesh;
    mesh.setData(cubeVertices(), cubeTriangles());
    const QVector3D v[2] = {QVector3D(0, 0, 0), QVector3D(1, 0, 0)};
    const Triangle t{0, 1, 2, 0};
    mesh.setData(nullptr, 2, &t, 1);
    QVERIFY(mesh.vertices().isEmpty());
    QVERIFY(mesh.boundingBox().isNull());
    QCOMPARE(mesh.area(), 0.0);
    QCOMPARE(mesh.radius(), 0.0);
    mesh.setData(v, 2, &t, 0);
    QVERIFY(mesh.vertices().isEmpty());

    // (0, 1, 7) names no vertex: it goes silently, with the vertices only it used.
    MessageLog log;
    mesh.setData(pointsOnZ(5) + QVector<QVector3D>{QVector3D(1, 0, 0)}, Triangles{{0, 1, 7, 0}, {2, 5, 3, 0}});
    QVERIFY(log.messages().isEmpty());
    QCOMPARE(mesh.vertices().size(), 3);
    QCOMPARE(mesh.indices().size(), 1);
}

void TestStlMesh::strips()
{
    // Five points of a zigzag band: s0..s4 alternate between y = 0 and y = 1.
    QVector<QVector3D> v;
    for (int i = 0; i < 5; ++i)
        v.append(QVector3D(float(i / 2 + (i % 2) * 0.5f), float(i % 2), 0));
    StlMesh::Primitives primitives;
    QVector<StlMesh::StripVertex> strip;
    for (int i = 0; i < 5; ++i)
        strip.append({i, 100 + i});
    primitives.strips.append(strip);
    primitives.strips.append({{0, 1}, {1, 1}});
    StlMesh mesh;
    mesh.setData(v, primitives);
    QCOMPARE(mesh.indices().size(), 3);
    // OpenGL's strip winding: every triangle faces the same way (down here).
    for (const QVector3D &n : mesh.faceNormals(1))
        QCOMPARE(n, QVector3D(0, 0, -1));
    QVector<int> attributes = mesh.attributes();
    std::sort(attributes.begin(), attributes.end());
    QCOMPARE(attributes, (QVector<int>{102, 103, 104}));
    const int first = mesh.indexOfFacet(facet(Point3Df(0, 0, 0), Point3Df(0.5f, 1, 0), Point3Df(1, 0, 0)));
    QVERIFY(first >= 0);
    QCOMPARE(mesh.attributes().at(first), 102);

    // Ready triangles join the strips.
    primitives.triangleLists.append(Triangles{{0, 2, 4, 7}});
    mesh.setData(v, primitives);
    QCOMPARE(mesh.indices().size(), 4);
}

void TestStlMesh::append()
{
    StlMesh four;
    four.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(1, 1, 0), QVector3D(0, 1, 0)},
                 Triangles{{0, 1, 2, 0}, {0, 2, 3, 0}});
    StlMesh three;
    three.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(0, 0, 3)}, Triangles{{0, 1, 2, 5}});
    four.append(three);
    QCOMPARE(four.vertices().size(), 7);
    QCOMPARE(four.indices().size(), 3);
    QCOMPARE(four.boundingBox(), Bounds3Df(Point3Df(0, 0, 0), Point3Df(1, 1, 3)));
    QCOMPARE(four.area(), 2.5);
    QVERIFY(invariantFault(four).isEmpty());

    // Appended to itself: twice the triangles, twice the area.
    four.append(four);
    QCOMPARE(four.vertices().size(), 14);
    QCOMPARE(four.indices().size(), 6);
    QCOMPARE(four.area(), 5.0);
    QVERIFY(invariantFault(four).isEmpty());
}

void TestStlMesh::transformed_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<double>("scale");

    QMatrix4x4 identity;
    QMatrix4x4 twice;
    twice.scale(2);
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    QMatrix4x4 small;
    small.scale(0.01f);
    QMatrix4x4 turned;
    turned.rotate(30, 1, 2, 3);
    turned.scale(1, -1, 1);
    turned.translate(4, 5, 6);

    QTest::newRow("identity") << identity << 1.0;
    QTest::newRow("uniform scale") << twice << 2.0;
    QTest::newRow("mirror x") << mirror << 1.0;
    QTest::newRow("small uniform scale") << small << 0.01;
    QTest::newRow("rotated mirror") << turned << 1.0;
}

void TestStlMesh::transformed()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(double, scale);

    StlMesh source;
    const QVector<Facet> box = boxFacets(1.0f, 2);
    source.addFacets(box.size(), box.constData());
    QScopedPointer<StlMesh> copy(source.transformed(matrix));
    QVERIFY(copy);
    QVERIFY(invariantFault(*copy).isEmpty());
    QCOMPARE(copy->indices().size(), source.indices().size());
    QVERIFY(fuzzy(copy->area(), source.area() * scale * scale));
    QVERIFY(fuzzy(copy->volume(), source.volume() * scale * scale * scale));
    QVERIFY(fuzzy(copy->radius(), source.radius() * scale));
    // Still closed and facing out, mirrored or not.
    const stltest::MeshReport r = report(*copy);
    QVERIFY(r.closed());
    QCOMPARE(r.misnormaled, 0);
    QVERIFY(fuzzy(r.volume, source.volume() * scale * scale * scale, 1e-4));
    QCOMPARE(copy->vertices().size(), source.vertices().size());
    const Bounds3Df expected = source.boundingBox(matrix);
    QCOMPARE(copy->boundingBox(), expected);

    // Independent: changing the copy leaves the source alone.
    copy->translate(QVector3D(10, 0, 0));
    QCOMPARE(source.boundingBox(), Bounds3Df(Point3Df(0, 0, 0), Point3Df(1, 1, 1)));
}

void TestStlMesh::transformRefusals()
{
    QScopedPointer<StlMesh> mesh(cube());
    QMatrix4x4 flat;
    flat.scale(1, 1, 0);
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::transformed: the matrix is singular or not finite; no mesh is made.");
    QVERIFY(!mesh->transformed(flat));
    QMatrix4x4 notFinite;
    notFinite(0, 3) = std::numeric_limits<float>::quiet_NaN();
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::transformed: the matrix is singular or not finite; no mesh is made.");
    QVERIFY(!mesh->transformed(notFinite, true));

    // This mirror maps the cube onto itself, x to 1 - x: vertex z, x, y (in
    // the mesh's order, index 4z + 2x + y) trades places with z, 1 - x, y,
    // and every triangle has b and c exchanged.
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    mirror.translate(-1, 0, 0);
    QScopedPointer<StlMesh> mirrored(mesh->transformed(mirror));
    QCOMPARE(mirrored->vertices(), mesh->vertices());
    Triangles swapped;
    for (const Triangle &t : mesh->indices())
        swapped.append(Triangle{t.a ^ 2, t.c ^ 2, t.b ^ 2, t.attribute});
    for (Triangle &t : swapped)
        t = geom::rotated(t);
    std::sort(swapped.begin(), swapped.end(), geom::lessByIndices);
    QCOMPARE(describe(mirrored->indices()), describe(swapped));
}

void TestStlMesh::statisticsOnly()
{
    QScopedPointer<StlMesh> mesh(cube());
    QMatrix4x4 m;
    m.translate(1, 2, 3);
    m.scale(3);
    QScopedPointer<StlMesh> stats(mesh->transformed(m, true));
    QVERIFY(stats->vertices().isEmpty());
    // No triangle points at vertices the copy lacks.
    QVERIFY(stats->indices().isEmpty());
    QVERIFY(stats->facets().isEmpty());
    QCOMPARE(stats->boundingBox(), Bounds3Df(Point3Df(1, 2, 3), Point3Df(4, 5, 6)));
    QVERIFY(fuzzy(stats->area(), 54));
    QVERIFY(fuzzy(stats->volume(), 27));
    QVERIFY(fuzzy(stats->radius(), 3 * std::sqrt(3.0) / 2));
    // Merging into it starts it afresh.
    const QVector<Facet> box = boxFacets(1, 1);
    stats->addFacets(box.size(), box.constData());
    QCOMPARE(stats->vertices().size(), 8);
    QVERIFY(fuzzy(stats->volume(), 1));
}

void TestStlMesh::scaleAndTranslate()
{
    QScopedPointer<StlMesh> mesh(cube());
    mesh->translate(QVector3D(1, 2, 3));
    QCOMPARE(mesh->boundingBox(), Bounds3Df(Point3Df(1, 2, 3), Point3Df(2, 3, 4)));
    QCOMPARE(mesh->vertices().first(), QVector3D(1, 2, 3));
    QVERIFY(fuzzy(mesh->radius(), std::sqrt(3.0) / 2));
    QCOMPARE(mesh->area(), 6.0);
    QVERIFY(fuzzy(mesh->volume(), 1));

    mesh->scale(2);
    QCOMPARE(mesh->boundingBox(), Bounds3Df(Point3Df(2, 4, 6), Point3Df(4, 6, 8)));
    QVERIFY(fuzzy(mesh->radius(), std::sqrt(3.0)));
    QVERIFY(fuzzy(mesh->area(), 24));
    QVERIFY(fuzzy(mesh->volume(), 8));
    QVERIFY(invariantFault(*mesh).isEmpty());

    const QVector<QVector3D> before = mesh->vertices();
    for (float bad : {0.0f, -2.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlMesh::scale: refused the factor"));
        mesh->scale(bad);
    }
    QTest::ignoreMessage(QtWarningMsg, "StlMesh::translate: refused an offset that is not finite.");
    mesh->translate(QVector3D(std::numeric_limits<float>::quiet_NaN(), 0, 0));
    QCOMPARE(mesh->vertices(), before);
    QVERIFY(fuzzy(mesh->volume(), 8));

    // Finite, but it would take the corner at z = 8 past the float range:
    // the next rebuild would drop those vertices and their triangles.
    const float overflowing = std::numeric_limits<float>::max() / 4;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlMesh::scale: refused the factor .* float range"));
    mesh->scale(overflowing);
    QCOMPARE(mesh->vertices(), before);
    QCOMPARE(mesh->boundingBox(), Bounds3Df(Point3Df(2, 4, 6), Point3Df(4, 6, 8)));
    QVERIFY(fuzzy(mesh->area(), 24));
    QVERIFY(fuzzy(mesh->volume(), 8));
    // Appending rebuilds the indices: nothing is dropped.
    StlMesh copy;
    copy.append(*mesh);
    QCOMPARE(copy.indices().size(), 12);
    QVERIFY(invariantFault(*mesh).isEmpty());
}

void TestStlMesh::queries()
{
    StlMesh mesh;
    mesh.setData({QVector3D(0, 0, 0), QVector3D(1, 0, 0), QVector3D(0, 1, 0), QVector3D(5, 5, 5)},
                 Triangles{{0, 1, 2, 65540}, {1, 3, 2, 3}});
    QCOMPARE(mesh.faceNormals(0).value(0), QVector3D(0, 0, 1));
    QCOMPARE(mesh.faceNormals(1).value(0), QVector3D(0, 0, 1));
    QCOMPARE(mesh.faceNormals(-2).value(0), QVector3D(0, 0, -2));
    QCOMPARE(mesh.facets(true).value(0).normal, Point3Df(0, 0, 1));
    QCOMPARE(mesh.facets(false).value(0).normal, Point3Df(0, 0, 0));
    QCOMPARE(mesh.attributeWords(false), (QVector<quint16>{4, 3}));
    QCOMPARE(mesh.attributeWords(true), (QVector<quint16>{1, 0}));

    QMatrix4x4 up;
    up.translate(0, 0, 5);
    const QVector<Facet> plain = mesh.facets(true), raised = mesh.facets(up);
    for (int i = 0; i < plain.size(); ++i) {
        QCOMPARE(raised[i].vertex1, plain[i].vertex1 + Point3Df(0, 0, 5));
        QCOMPARE(raised[i].vertex3, plain[i].vertex3 + Point3Df(0, 0, 5));
        QCOMPARE(raised[i].normal, plain[i].normal);
    }

    const QVector<QSet<int>> uses = mesh.vertexTriangles();
    QCOMPARE(uses.size(), 4);
    QCOMPARE(uses[0], QSet<int>{0});
    QCOMPARE(uses[1], (QSet<int>{0, 1}));
    QCOMPARE(uses[3], QSet<int>{1});

    // A clone is another mesh with the same content.
    QScopedPointer<StlMesh> copy(mesh.clone());
    QCOMPARE(describe(copy->indices()), describe(mesh.indices()));
    copy->clear();
    QCOMPARE(mesh.indices().size(), 2);
    QCOMPARE(copy->order(), int(StlMesh::ByIndices));
    QCOMPARE(copy->freeAttributes().count(true), 65536);
}

void TestStlMesh::writerBytes_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QMatrix4x4 identity;
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    mirror.translate(3, 0, 0);
    QMatrix4x4 turned;
    turned.rotate(75, 0, 1, 1);
    turned.scale(2, 1, 1);
    QTest::newRow("identity") << identity;
    QTest::newRow("mirror") << mirror;
    QTest::newRow("rotation and stretch") << turned;
}

void TestStlMesh::writerBytes()
{
    QFETCH(QMatrix4x4, matrix);
    StlMesh mesh;
    const QVector<Facet> box = boxFacets(1.0f, 2);
    mesh.addFacets(box.size(), box.constData());
    mesh.setAttribute(0x12345);

    QBuffer buffer;
    StlWriter writer(&buffer);
    writer.setMatrix(matrix);
    QCOMPARE(writer.write(mesh), box.size());
    QCOMPARE(writer.finish(), box.size());
    const QByteArray bytes = buffer.data();
    QCOMPARE(bytes.size(), 84 + 50 * box.size());
    const stltest::StlFile file = stltest::readStl(bytes);
    QCOMPARE(file.count, quint32(box.size()));

    const Triangles triangles = mesh.indices();
    const QVector<QVector3D> v = mesh.vertices();
    const bool mirrors = matrix.determinant() < 0;
    for (int i = 0; i < triangles.size(); ++i) {
        const Triangle &t = triangles[i];
        auto at = [&](int k) {
            const QVector3D p = matrix.map(v[k]);
            return Point3Df(p.x(), p.y(), p.z());
        };
        // The record holds the mapped corners in list order, turned for a
        // mirror, and the normal of the corners it holds.
        const Facet expected(at(t.a), at(mirrors ? t.c : t.b), at(mirrors ? t.b : t.c));
        const Facet &got = file.facets[i];
        for (const auto &pair : {std::make_pair(got.vertex1, expected.vertex1), std::make_pair(got.vertex2, expected.vertex2),
                                 std::make_pair(got.vertex3, expected.vertex3), std::make_pair(got.normal, expected.normal)}) {
            QVERIFY(std::fabs(pair.first.x - pair.second.x) < 1e-5f);
            QVERIFY(std::fabs(pair.first.y - pair.second.y) < 1e-5f);
            QVERIFY(std::fabs(pair.first.z - pair.second.z) < 1e-5f);
        }
        QCOMPARE(file.attributes[i], quint16(0x2345));
        if (matrix.isIdentity())
            QCOMPARE(std::memcmp(bytes.constData() + 84 + 50 * i, &expected, 48), 0);
    }
    const stltest::MeshReport r = stltest::checkMesh(file.facets);
    QVERIFY(r.closed());
    QCOMPARE(r.misnormaled, 0);
    QVERIFY(r.volume > 0);
}

void TestStlMesh::writerStopsAtFailure()
{
    QScopedPointer<StlMesh> mesh(cube());
    // Room for the header and five records and a half.
    stltest::FullBuffer buffer(84 + 5 * 50 + 25);
    StlWriter writer(&buffer);
    const int written = writer.write(*mesh);
    QVERIFY(written >= 0 && written <= 5);
    QVERIFY(writer.failed());
    QCOMPARE(writer.facetCount(), written);
    // Failure is sticky: nothing further is written.
    QCOMPARE(writer.write(*mesh), -1);
    writer.finish();
    QVERIFY(!writer.isFinished());

    // A writer that cannot begin writes nothing.
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    StlWriter refused(&readOnly);
    QCOMPARE(refused.write(*mesh), -1);
}

QTEST_GUILESS_MAIN(TestStlMesh)
#include "tst_stlmesh.moc"
