#include "images/imagineslice.h"
#include "voxel/marchingcubes.h"
#include "voxel/gridmapping.h"
#include "voxel/marchingcubestessellator.h"
#include "stltestutil.h"
#include "tessellator.h"
#include "voxeltestutil.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using geom::Facet;
using geom::MarchingCubes;

namespace {

QVector<Facet> joined(const QList<QVector<Facet>> &blocks)
{
    QVector<Facet> all;
    for (const QVector<Facet> &b : blocks)
        all += b;
    return all;
}

// Rasterised like the voxel model builder does it, one layer per slice.
QList<QVector<Facet>> meshSlices(const QList<Slice> &slices, float mmPerPixel, float spacing, bool merge)
{
    geom::ImagineSlice raster(slices);
    raster.setScale(mmPerPixel);
    MarchingCubes cubes;
    cubes.setPixelTransform(raster.transform().inverted());
    cubes.setLayerGap(spacing);
    cubes.setMergePlanes(merge);
    for (int i = 0; i < raster.slices().size(); ++i) {
        if (!cubes.addLayer(raster.imagine(i), raster.slices().at(i).z()))
            return {};
    }
    return cubes.process();
}

QImage blankLayer(int w, int h)
{
    QImage image(w, h, QImage::Format_Mono);
    image.fill(0);
    return image;
}

} // namespace

class TestMarchingCubes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void solids_data();
    void solids();
    void offsetSquares();
    void layers();
    void refusedLayers();
    void tallestStack();
    void blankEndings();
    void cancelBeforeProcess();
    void emptyStack();
    void writeFailure();
    void disagreeingPolygonKeepsItsFacets();
    void cleanup();

private:
    QTemporaryDir m_temp;
};

void TestMarchingCubes::initTestCase()
{
    // A temporary directory of our own: no other program's topology files.
    QVERIFY(m_temp.isValid());
    qputenv("TMPDIR", m_temp.path().toLocal8Bit());
    QCOMPARE(QDir::tempPath(), QDir(m_temp.path()).canonicalPath());
}

void TestMarchingCubes::cleanup()
{
    QVERIFY2(voxeltest::topologyFiles().isEmpty(), qPrintable(voxeltest::topologyFiles().join(' ')));
}

void TestMarchingCubes::solids_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("surfaces");
    QTest::newRow("square with hole") << "square with hole" << 1;
    QTest::newRow("two islands") << "two islands" << 2;
    QTest::newRow("cone") << "cone" << 1;
    QTest::newRow("cylinder") << "cylinder" << 1;
    QTest::newRow("sphere") << "sphere" << 1;
    QTest::newRow("tilted slab") << "tilted slab" << 1;
    QTest::newRow("random") << "random" << -1;
}

// The merged model is closed (every edge used exactly twice, in opposite
// directions), has no flat facet, normals that agree with the winding, and
// the same volume and box as the marching-cubes triangles it was made from;
// its bottom and top lie half a layer beyond the outer slices.
void TestMarchingCubes::solids()
{
    QFETCH(QString, name);
    QFETCH(int, surfaces);
    const QList<Slice> slices = voxeltest::solid(name);
    const float spacing = 0.25f;
    const QList<QVector<Facet>> merged = meshSlices(slices, 0.25f, spacing, true);
    const QList<QVector<Facet>> raw = meshSlices(slices, 0.25f, spacing, false);
    if (surfaces > 0)
        QCOMPARE(merged.size(), surfaces);
    QCOMPARE(merged.size(), raw.size());

    const stltest::MeshReport m = stltest::checkMesh(joined(merged));
    const stltest::MeshReport r = stltest::checkMesh(joined(raw));
    QVERIFY(r.closed());
    QCOMPARE(m.unpairedEdges, 0);
    QCOMPARE(m.overusedEdges, 0);
    QCOMPARE(m.flatFaces, 0);
    QCOMPARE(m.degenerateFaces, 0);
    QCOMPARE(m.misnormaled, 0);
    QVERIFY(m.finite);
    QVERIFY(r.volume > 0);
    QVERIFY2(std::fabs(m.volume - r.volume) <= 1e-4 * r.volume,
             qPrintable(QStringLiteral("%1 against %2").arg(m.volume).arg(r.volume)));
    if (name != "random")
        QVERIFY(m.faces < r.faces / 2);

    const geom::Bounds3Df a = voxeltest::boundsOf(joined(merged));
    const geom::Bounds3Df b = voxeltest::boundsOf(joined(raw));
    QCOMPARE(a.minX, b.minX);
    QCOMPARE(a.maxY, b.maxY);
    QCOMPARE(a.maxZ, b.maxZ);
    QCOMPARE(a.minZ, slices.first().z() - spacing / 2);
    QCOMPARE(a.maxZ, slices.last().z() + spacing / 2);
}

// Four-pixel squares stacked: a box with its edges and corners cut at 45
// degrees (a face, a strip per edge, a triangle per corner: 6 + 12 rectangles
// of two facets and 8 triangles), at the place of the slices.
void TestMarchingCubes::offsetSquares()
{
    const QList<Slice> slices = voxeltest::solid("offset squares");
    const QVector<Facet> facets = joined(meshSlices(slices, 0.25f, 0.1f, true));
    QCOMPARE(facets.size(), 18 * 2 + 8);
    QVERIFY(stltest::checkMesh(facets).closed());
    const geom::Bounds3Df b = voxeltest::boundsOf(facets);
    QCOMPARE(b.minX, 10.0f);
    QCOMPARE(b.maxX, 14.0f);
    QCOMPARE(b.minY, 20.0f);
    QCOMPARE(b.maxY, 23.0f);
    QVERIFY(qFuzzyCompare(b.minZ, 0.95f));
    QVERIFY(qFuzzyCompare(b.maxZ, 1.45f));
}

void TestMarchingCubes::layers()
{
    MarchingCubes cubes;
    QCOMPARE(cubes.layerCount(), 0);
    QVERIFY(cubes.addLayer(blankLayer(4, 4), 1.0f));
    QVERIFY(cubes.addLayer(blankLayer(4, 4), 0.5f));
    QTest::ignoreMessage(QtWarningMsg, "MarchingCubes: Already processed layer 1.00");
    QVERIFY(!cubes.addLayer(blankLayer(4, 4), 1.0f));
    QTest::ignoreMessage(QtWarningMsg, "MarchingCubes: Already processed layer 1.00");
    QVERIFY(!cubes.addLayer(blankLayer(4, 4), 1.000001f));
    QCOMPARE(cubes.layerCount(), 2);
    cubes.process();
    QCOMPARE(cubes.layerCount(), 4);
    cubes.process();
    QCOMPARE(cubes.layerCount(), 4); // the endings only once
    cubes.reset();
    QCOMPARE(cubes.layerCount(), 0);
    QVERIFY(voxeltest::topologyFiles().isEmpty());
}

void TestMarchingCubes::refusedLayers()
{
    MarchingCubes cubes;
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Invalid topology format");
    QVERIFY(!cubes.addLayer(QImage(), 0));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Invalid topology format");
    QVERIFY(!cubes.addLayer(QImage(4, 4, QImage::Format_ARGB32), 0));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Invalid topology format");
    QVERIFY(!cubes.addLayer(QImage(16384, 1, QImage::Format_Mono), 0));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Layer height is not a finite number");
    QVERIFY(!cubes.addLayer(blankLayer(4, 4), std::nanf("")));
    QVERIFY(cubes.addLayer(blankLayer(4, 4), 0));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Layer 1.00 differs in size or place from the first layer");
    QVERIFY(!cubes.addLayer(blankLayer(5, 4), 1));
    QImage moved = blankLayer(4, 4);
    moved.setOffset(QPoint(1, 0));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Layer 1.00 differs in size or place from the first layer");
    QVERIFY(!cubes.addLayer(moved, 1));
    QCOMPARE(cubes.layerCount(), 1);
    QVERIFY(cubes.errorString().isEmpty()); // refusals drop only the layer
}

// Layer k lies at grid height 2k + 1 in 16 bits: with the two blank layers a
// stack holds at most 16384.
void TestMarchingCubes::tallestStack()
{
    MarchingCubes cubes;
    const QImage dot = blankLayer(1, 1);
    for (int k = 0; k < 16382; ++k)
        QVERIFY(cubes.addLayer(dot, float(k)));
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Too many layers for the grid");
    QVERIFY(!cubes.addLayer(dot, -1.0f));
    QCOMPARE(cubes.layerCount(), 16382);
    cubes.reset();
}

// One layer alone is closed by the blank layers, which lie one gap away.
void TestMarchingCubes::blankEndings()
{
    QImage dot = blankLayer(3, 3);
    dot.setPixel(1, 1, 1);
    dot.setDotsPerMeterX(4000); // 0.25 mm pixels
    dot.setDotsPerMeterY(4000);
    MarchingCubes cubes;
    QVERIFY(cubes.addLayer(dot, 2.0f));
    const QVector<Facet> facets = joined(cubes.process());
    QVERIFY(!facets.isEmpty());
    // Pixels placed without a mirror (no transform given): wound outwards all the same.
    const stltest::MeshReport report = stltest::checkMesh(facets);
    QVERIFY(report.closed());
    QVERIFY(report.volume > 0);
    QCOMPARE(report.misnormaled, 0);
    const geom::Bounds3Df b = voxeltest::boundsOf(facets);
    // Default gap: the mean pixel size; the faces half of it from the layer.
    QCOMPARE(b.minZ, 2.0f - 0.125f);
    QCOMPARE(b.maxZ, 2.0f + 0.125f);
    QCOMPARE(b.minX, 0.25f);
    QCOMPARE(b.maxX, 0.5f);
    cubes.reset();
}

void TestMarchingCubes::cancelBeforeProcess()
{
    MarchingCubes cubes;
    QImage dot = blankLayer(3, 3);
    dot.setPixel(1, 1, 1);
    QVERIFY(cubes.addLayer(dot, 0));
    QSignalSpy finished(&cubes, &MarchingCubes::finished);
    QSignalSpy progress(&cubes, &MarchingCubes::progress);
    cubes.cancel();
    QVERIFY(cubes.process().isEmpty()); // the cancel is not undone by the start
    QCOMPARE(finished.size(), 1);
    QCOMPARE(progress.size(), 0);
    QBuffer buffer;
    QVERIFY(!cubes.writeFacets(&buffer));
    QVERIFY(buffer.data().isEmpty());
    QVERIFY(cubes.wasCancelled());
    cubes.reset();
    QVERIFY(!cubes.wasCancelled());
}

void TestMarchingCubes::emptyStack()
{
    MarchingCubes cubes;
    QBuffer buffer;
    QVERIFY(cubes.writeFacets(&buffer));
    const stltest::StlFile file = stltest::readStl(buffer.data());
    QVERIFY(file.valid);
    QCOMPARE(file.count, 0u);
}

void TestMarchingCubes::writeFailure()
{
    MarchingCubes cubes;
    QImage dot = blankLayer(3, 3);
    dot.setPixel(1, 1, 1);
    QVERIFY(cubes.addLayer(dot, 0));
    stltest::FullBuffer full(200);
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Cannot write facets.");
    QVERIFY(!cubes.writeFacets(&full));
    QVERIFY(!cubes.errorString().isEmpty());
    cubes.reset();
}

// A polygon whose contour runs against its own normal would be triangulated
// into nothing, or the wrong way round: its grid facets are written instead.
void TestMarchingCubes::disagreeingPolygonKeepsItsFacets()
{
    geom::GridSurface surface;
    const geom::GridPoint o(0, 0, 1), x(4, 0, 1), xy(4, 4, 1), y(0, 4, 1);
    surface.addFacet(geom::GridFacet(o, x, xy));
    surface.addFacet(geom::GridFacet(o, xy, y));
    geom::GridPolygon polygon;
    std::copy(surface.facets.first().normal, surface.facets.first().normal + 3, polygon.normal);
    polygon.contours.append({y, xy, x, o, geom::GridPoint(0, 2, 1)});
    polygon.facets = {0, 1};
    geom::GridMapping mapping;
    mapping.zTable = {1.0f, 1.5f, 2.0f};
    geom::Tessellator tessellator(geom::Tessellator::WindingPositive);
    const QVector<Facet> facets =
        geom::MarchingCubesTessellator::polygonFacets(surface.facets, polygon, mapping, true, tessellator);
    QCOMPARE(facets.size(), 2);
    QCOMPARE(facets.first().vertex2, geom::Point3Df(2, 0, 1));
    // The right way round it is one polygon of the tessellator.
    std::reverse(polygon.contours.first().begin(), polygon.contours.first().end());
    const QVector<Facet> merged =
        geom::MarchingCubesTessellator::polygonFacets(surface.facets, polygon, mapping, true, tessellator);
    QCOMPARE(stltest::checkMesh(merged).area, 4.0);
    QCOMPARE(stltest::checkMesh(merged).misnormaled, 0);
}

QTEST_MAIN(TestMarchingCubes)
#include "tst_marchingcubes.moc"
