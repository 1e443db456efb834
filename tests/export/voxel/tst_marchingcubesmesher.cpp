#include "voxel/marchingcubesmesher.h"
#include "voxel/rastercodes.h"
#include "stltestutil.h"

#include <QtTest>

using geom::GridFacet;
using geom::GridPoint;
using geom::GridSurface;
using geom::MarchingCubesMesher;

namespace {

QImage layer(int w, int h, const std::function<bool(int, int)> &solid)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = solid(x, y) ? 1 : 0;
    return geom::squareCodeImage(image, 1, 1, false);
}

// The facets of a stack of square-code layers (blank layers must close it).
QList<GridSurface> mesh(const QVector<QImage> &layers)
{
    QList<GridSurface> surfaces;
    for (int k = 1; k < layers.size(); ++k)
        MarchingCubesMesher::meshLayerPair(geom::cubeCodeImage(layers.at(k - 1), layers.at(k)), k, surfaces);
    return surfaces;
}

QVector<geom::Facet> asFacets(const QList<GridSurface> &surfaces)
{
    QVector<geom::Facet> facets;
    for (const GridSurface &s : surfaces) {
        for (const GridFacet &f : s.facets) {
            auto p = [](const GridPoint &g) { return geom::Point3Df(g.x, g.y, g.z); };
            facets.append(geom::Facet(p(f.a), p(f.b), p(f.c), geom::Point3Df(f.normal[0], f.normal[1], f.normal[2])));
        }
    }
    return facets;
}

} // namespace

class TestMarchingCubesMesher : public QObject
{
    Q_OBJECT

private slots:
    void tableRows();
    void everyCubeCodeCloses();
    void onePixelTwoLayers();
    void randomBlockIsClosed();
    void nothingInACubeFace();
    void neighboursCutFacesAlike_data();
    void neighboursCutFacesAlike();
    void cancelStopsWithinALayerPair();
};

void TestMarchingCubesMesher::tableRows()
{
    QVERIFY(MarchingCubesMesher::triangleEdges(0).isEmpty());
    QVERIFY(MarchingCubesMesher::triangleEdges(255).isEmpty());
    const QVector<int> one = MarchingCubesMesher::triangleEdges(1);
    QCOMPARE(one.size(), 3);
    // The facet (edge 3, edge 8, edge 0) up to rotation.
    const GridFacet f(MarchingCubesMesher::edgeMidpoint(one[2]), MarchingCubesMesher::edgeMidpoint(one[1]),
                      MarchingCubesMesher::edgeMidpoint(one[0]));
    const GridFacet expected(MarchingCubesMesher::edgeMidpoint(3), MarchingCubesMesher::edgeMidpoint(8),
                             MarchingCubesMesher::edgeMidpoint(0));
    QVERIFY(geom::sameTriangle(f, expected));
    QCOMPARE(MarchingCubesMesher::edgeMidpoint(0), GridPoint(0, -1, -1));
    QCOMPARE(MarchingCubesMesher::edgeMidpoint(6), GridPoint(0, 1, 1));
    QCOMPARE(MarchingCubesMesher::edgeMidpoint(11), GridPoint(-1, 1, 0));
    // A code and its complement cut the same edges.
    for (int code = 1; code < 255; ++code) {
        QVector<int> a = MarchingCubesMesher::triangleEdges(code), b = MarchingCubesMesher::triangleEdges(255 - code);
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        a.erase(std::unique(a.begin(), a.end()), a.end());
        b.erase(std::unique(b.begin(), b.end()), b.end());
        QCOMPARE(a, b);
    }
}

// Each of the 256 cube codes as the eight pixels of a 2 x 2 x 2 block in a
// blank surrounding: the surface is closed, wound outwards (positive
// volume) and free of flat facets.
void TestMarchingCubesMesher::everyCubeCodeCloses()
{
    for (int code = 1; code < 256; ++code) {
        // Corner bits: lower layer top-left, top-right, bottom-right,
        // bottom-left, then the upper layer.
        auto corner = [code](int layer, int x, int y) {
            const int bit = (y == 0 ? (x == 0 ? 0 : 1) : (x == 1 ? 2 : 3)) + 4 * layer;
            return (code >> bit & 1) != 0;
        };
        const QImage blank = layer(2, 2, [](int, int) { return false; });
        const QVector<QImage> layers{blank, layer(2, 2, [&](int x, int y) { return corner(0, x, y); }),
                                     layer(2, 2, [&](int x, int y) { return corner(1, x, y); }), blank};
        const stltest::MeshReport report = stltest::checkMesh(asFacets(mesh(layers)));
        QVERIFY2(report.closed(), qPrintable(QString::number(code)));
        QVERIFY2(report.flatFaces == 0 && report.degenerateFaces == 0, qPrintable(QString::number(code)));
        QVERIFY2(report.volume > 0, qPrintable(QString::number(code)));
    }
}

void TestMarchingCubesMesher::onePixelTwoLayers()
{
    const QImage blank = layer(3, 3, [](int, int) { return false; });
    const QImage dot = layer(3, 3, [](int x, int y) { return x == 1 && y == 1; });
    const QList<GridSurface> surfaces = mesh({blank, dot, dot, blank});
    QCOMPARE(surfaces.size(), 1);
    // Only the four cubes around the pixel, in each of the three pairs.
    for (const GridFacet &f : surfaces.first().facets) {
        for (const GridPoint &p : {f.a, f.b, f.c}) {
            QVERIFY(p.x >= 2 && p.x <= 4 && p.y >= 2 && p.y <= 4);
            QVERIFY(p.z >= 2 && p.z <= 6);
        }
    }
    // An octahedron-like closed shape: x from 2 to 4 around the centre 3.
    const stltest::MeshReport report = stltest::checkMesh(asFacets(surfaces));
    QVERIFY(report.closed());
    QVERIFY(report.volume > 0);
}

void TestMarchingCubesMesher::randomBlockIsClosed()
{
    QRandomGenerator random(7);
    const int w = 12, h = 9;
    QVector<QImage> layers{layer(w, h, [](int, int) { return false; })};
    for (int k = 0; k < 6; ++k)
        layers.append(layer(w, h, [&](int, int) { return random.bounded(100) < 45; }));
    layers.append(layers.first());
    const QList<GridSurface> surfaces = mesh(layers);
    QVERIFY(surfaces.size() > 1);
    const stltest::MeshReport report = stltest::checkMesh(asFacets(surfaces));
    QVERIFY(report.closed());
    QCOMPARE(report.flatFaces, 0);
    QCOMPARE(report.misnormaled, 0);
    // Surfaces share no grid point.
    for (int i = 0; i < surfaces.size(); ++i)
        for (int j = i + 1; j < surfaces.size(); ++j)
            for (auto it = surfaces.at(i).facetsAt.cbegin(); it != surfaces.at(i).facetsAt.cend(); ++it)
                QVERIFY(!surfaces.at(j).facetsAt.contains(it.key()));
}

// No triangle of any cube code lies flat in a cube face, and no inner edge
// (one used by two triangles of the cube) runs along a face: the cube across
// that face would meet it there with the same triangle or edge the other
// way round. Edges along a face are the face's cuts, used once.
void TestMarchingCubesMesher::nothingInACubeFace()
{
    auto onFace = [](const QVector<GridPoint> &points) {
        for (int axis = 0; axis < 3; ++axis) {
            auto c = [axis](const GridPoint &p) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; };
            const int first = c(points.first());
            if (first != 0 && std::all_of(points.cbegin(), points.cend(), [&](const GridPoint &p) { return c(p) == first; }))
                return true;
        }
        return false;
    };
    for (int code = 0; code < 256; ++code) {
        const QVector<int> edges = MarchingCubesMesher::triangleEdges(code);
        QCOMPARE(edges.size() % 3, 0);
        QMap<QPair<int, int>, int> uses;
        for (int i = 0; i < edges.size(); i += 3) {
            QVector<GridPoint> corners;
            for (int k = 0; k < 3; ++k)
                corners.append(MarchingCubesMesher::edgeMidpoint(edges[i + k]));
            QVERIFY2(!onFace(corners), qPrintable(QStringLiteral("code 0x%1").arg(code, 2, 16, QChar('0'))));
            for (int k = 0; k < 3; ++k) {
                const int a = edges[i + k], b = edges[i + (k + 1) % 3];
                ++uses[qMakePair(std::min(a, b), std::max(a, b))];
            }
        }
        for (auto it = uses.cbegin(); it != uses.cend(); ++it) {
            const QVector<GridPoint> ends{MarchingCubesMesher::edgeMidpoint(it.key().first),
                                          MarchingCubesMesher::edgeMidpoint(it.key().second)};
            QVERIFY2(!onFace(ends) || it.value() == 1,
                     qPrintable(QStringLiteral("code 0x%1, edges %2-%3")
                                    .arg(code, 2, 16, QChar('0'))
                                    .arg(it.key().first)
                                    .arg(it.key().second)));
        }
    }
}

void TestMarchingCubesMesher::neighboursCutFacesAlike_data()
{
    // Layers of 2 x 2 pixels, one string each: the solid pixels in the order
    // top-left, top-right, bottom-left, bottom-right.
    QTest::addColumn<QStringList>("layers");
    QTest::newRow("solid, diagonal, all but top-right") << QStringList{"1111", "1001", "1011"};
    QTest::newRow("diagonal between solids") << QStringList{"1111", "0110", "1111"};
    QTest::newRow("all but one, twice") << QStringList{"1110", "0111", "1101"};
}

// Stacks whose cube codes put a triangle flat in a face shared with the
// neighbouring cube (0x5F, 0xD5 among them): a closed surface, no edge used
// more than twice.
void TestMarchingCubesMesher::neighboursCutFacesAlike()
{
    QFETCH(QStringList, layers);
    QVector<QImage> stack{layer(2, 2, [](int, int) { return false; })};
    for (const QString &pixels : layers)
        stack.append(layer(2, 2, [&pixels](int x, int y) { return pixels.at(2 * y + x) == '1'; }));
    stack.append(stack.first());
    const stltest::MeshReport report = stltest::checkMesh(asFacets(mesh(stack)));
    QVERIFY2(report.closed(), qPrintable(report.faults()));
    QVERIFY(report.volume > 0);
}

// A cap of a large layer is one long layer pair: a cancel set before it
// leaves it unmeshed, and one without a flag meshes all of it.
void TestMarchingCubesMesher::cancelStopsWithinALayerPair()
{
    const QImage blank = layer(64, 64, [](int, int) { return false; });
    const QImage full = layer(64, 64, [](int x, int y) { return x > 0 && y > 0 && x < 63 && y < 63; });
    const QImage codes = geom::cubeCodeImage(blank, full);
    std::atomic<bool> cancel{true};
    QList<GridSurface> cancelled;
    MarchingCubesMesher::meshLayerPair(codes, 1, cancelled, &cancel);
    QVERIFY(cancelled.isEmpty());
    cancel = false;
    QList<GridSurface> meshed;
    MarchingCubesMesher::meshLayerPair(codes, 1, meshed, &cancel);
    QCOMPARE(meshed.size(), 1);
    QVERIFY(meshed.first().facets.size() > 62 * 62);
}

QTEST_APPLESS_MAIN(TestMarchingCubesMesher)
#include "tst_marchingcubesmesher.moc"
