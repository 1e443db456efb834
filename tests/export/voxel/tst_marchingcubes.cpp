#include "images/imagineslice.h"
#include "voxel/marchingcubes.h"
#include "voxel/gridmapping.h"
#include "voxel/marchingcubestessellator.h"
#include "stltestutil.h"
#include "tessellator.h"
#include "voxeltestutil.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

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

// Heights of count layers from 0 whose gaps repeat the given pattern.
QVector<float> heights(int count, const QVector<float> &gaps)
{
    QVector<float> z{0.0f};
    double at = 0;
    for (int i = 1; i < count; ++i) {
        at += gaps.at((i - 1) % gaps.size());
        z.append(float(at));
    }
    return z;
}

// Solids with slanted faces over a stack of the given heights, 0.1 mm pixels.
QList<Slice> slantedSolid(const QString &name, const QVector<float> &z)
{
    QList<Slice> slices;
    const float top = z.last();
    for (float h : z) {
        QVector<Contour> contours;
        if (name == "cone") {
            contours.append(voxeltest::circle(5, 5, 4.5f * (1.0f - 0.8f * h / top), 64));
        } else if (name == "slab") {
            // A plane slanted in x and y: its grid facets share one normal.
            const float x = 1.0f + 0.5f * h, y = 1.0f + 0.25f * h;
            contours.append(voxeltest::rectangle(x, y, x + 4.0f, y + 5.0f));
        } else {
            // A square lattice cell turning with height, with a square hole.
            QVector<geom::Point2Df> outer, inner;
            const double turn = 0.6 * h / top;
            for (int i = 0; i < 4; ++i) {
                const double a = turn + M_PI / 2 * i;
                outer.append(geom::Point2Df(float(5 + 4.2 * std::cos(a)), float(5 + 4.2 * std::sin(a))));
                inner.prepend(geom::Point2Df(float(5 + 2.0 * std::cos(a + 0.3)), float(5 + 2.0 * std::sin(a + 0.3))));
            }
            contours << Contour(outer) << Contour(inner);
        }
        slices.append(Slice(h, 0.1f, contours));
    }
    return slices;
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
    void unevenStacks_data();
    void unevenStacks();
    void facetsInCubeFaces_data();
    void facetsInCubeFaces();
    void cancelLateInTheLastStage();
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

void TestMarchingCubes::unevenStacks_data()
{
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QVector<float>>("z");
    QTest::addColumn<bool>("merge");
    // Adaptive layers alternate their gaps; a file with a few layers missing
    // has single wide gaps in an even stack.
    QVector<float> missing = heights(48, {0.1f});
    for (int i : {31, 30, 17, 9, 8, 7})
        missing.removeAt(i);
    const QList<QPair<QString, QVector<float>>> stacks = {{"even", heights(40, {0.1f})},
                                                         {"alternating", heights(40, {0.1f, 0.2f})},
                                                         {"layers missing", missing},
                                                         {"adaptive", heights(40, {0.1f, 0.15f, 0.25f, 0.12f})}};
    for (const char *shape : {"cone", "slab", "twisted cell"}) {
        for (const auto &stack : stacks) {
            for (bool merge : {true, false}) {
                const QString row = QStringLiteral("%1, %2, merge %3").arg(shape, stack.first, merge ? "on" : "off");
                QTest::newRow(qPrintable(row)) << QString(shape) << stack.second << merge;
            }
        }
    }
}

// Whatever the gaps between the layers, with the merge on or off: every edge
// once in each direction, no facet without area, every stored normal that of
// its vertices, and the volume the layers stand for.
void TestMarchingCubes::unevenStacks()
{
    QFETCH(QString, shape);
    QFETCH(QVector<float>, z);
    QFETCH(bool, merge);
    const QList<Slice> slices = slantedSolid(shape, z);
    const QVector<Facet> facets = joined(meshSlices(slices, 0.1f, 0.1f, merge));
    const voxeltest::SolidReport report = voxeltest::checkSolid(facets);
    QVERIFY2(report.clean(), qPrintable(report.faults()));
    const double expected = voxeltest::layeredVolume(slices, 0.1f);
    QVERIFY2(std::fabs(report.mesh.volume - expected) <= 0.01 * expected,
             qPrintable(QStringLiteral("%1 against %2").arg(report.mesh.volume).arg(expected)));
    if (merge) {
        const QVector<Facet> raw = joined(meshSlices(slices, 0.1f, 0.1f, false));
        // Polygons planar on the grid bend a little over uneven gaps.
        QVERIFY(std::fabs(report.mesh.volume - stltest::checkMesh(raw).volume) <= 2e-3 * expected);
        QVERIFY(facets.size() < raw.size());
    }
}

void TestMarchingCubes::facetsInCubeFaces_data()
{
    QTest::addColumn<bool>("merge");
    QTest::newRow("merge on") << true;
    QTest::newRow("merge off") << false;
}

// Three 2 x 2 layers, all solid, then top-left and bottom-right, then all
// but top-right: cube codes whose triangles would lie in a cube face, where
// the neighbouring cube puts the same triangle the other way round.
void TestMarchingCubes::facetsInCubeFaces()
{
    QFETCH(bool, merge);
    auto layer = [](const QVector<QPoint> &pixels) {
        QImage image(2, 2, QImage::Format_Mono);
        image.setColor(0, qRgb(0, 0, 0));
        image.setColor(1, qRgb(255, 255, 255));
        image.fill(0);
        for (const QPoint &p : pixels)
            image.setPixel(p, 1);
        image.setDotsPerMeterX(4000);
        image.setDotsPerMeterY(4000);
        return image;
    };
    MarchingCubes cubes;
    cubes.setMergePlanes(merge);
    QVERIFY(cubes.addLayer(layer({{0, 0}, {1, 0}, {0, 1}, {1, 1}}), 0.0f));
    QVERIFY(cubes.addLayer(layer({{0, 0}, {1, 1}}), 0.25f));
    QVERIFY(cubes.addLayer(layer({{0, 0}, {0, 1}, {1, 1}}), 0.5f));
    const voxeltest::SolidReport report = voxeltest::checkSolid(joined(cubes.process()));
    QVERIFY2(report.clean(), qPrintable(report.faults()));
    QVERIFY(report.mesh.volume > 0);
    cubes.reset();
}

// A cancel that comes while the planar polygons of a large surface are cut
// into facets: the run ends soon, with nothing. The time from cancel() to
// finished() is printed (a figure, not a test: machines differ).
void TestMarchingCubes::cancelLateInTheLastStage()
{
    // A toothed ring that turns with height: many narrow planes.
    QList<Slice> slices;
    for (int l = 0; l < 120; ++l) {
        QVector<geom::Point2Df> outer, inner;
        const double turn = l * 0.004;
        for (int i = 0; i < 600; ++i) {
            const double a = turn + 2 * M_PI * i / 600, r = (i % 2 ? 25.0 : 24.8);
            outer.append(geom::Point2Df(float(30 + r * std::cos(a)), float(30 + r * std::sin(a))));
            inner.prepend(geom::Point2Df(float(30 + 0.4 * r * std::cos(a)), float(30 + 0.4 * r * std::sin(a))));
        }
        slices.append(Slice(0.1f * float(l), 0.1f, QVector<Contour>{Contour(outer), Contour(inner)}));
    }
    geom::ImagineSlice raster(slices);
    raster.setScale(0.1f);
    QVector<QImage> images;
    for (int i = 0; i < slices.size(); ++i)
        images.append(raster.imagine(i));
    auto fill = [&](MarchingCubes &cubes) {
        cubes.setPixelTransform(raster.transform().inverted());
        cubes.setLayerGap(0.1f);
        for (int i = 0; i < images.size(); ++i)
            QVERIFY(cubes.addLayer(images.at(i), slices.at(i).z()));
    };

    // An uncancelled run first: when its last stage starts and how long it lasts.
    MarchingCubes cubes;
    fill(cubes);
    QElapsedTimer clock;
    std::atomic<qint64> lastStep{0};
    const int steps = images.size() + 1; // layer pairs, the blank endings included
    connect(&cubes, &MarchingCubes::progress, &cubes, [&](int p) {
        if (p == steps)
            lastStep = clock.nsecsElapsed();
    }, Qt::DirectConnection);
    clock.start();
    QVERIFY(!cubes.process().isEmpty());
    const MarchingCubes::Statistics full = cubes.statistics();
    QVERIFY(lastStep.load() > 0);
    const qint64 lastStageStarts = qint64(full.meshWallSeconds * 1e9) - lastStep.load();
    const qint64 lastStage = qint64(full.tessellateWallSeconds * 1e9);
    cubes.reset();

    // Then the cancel, about two thirds into that last stage; on a busy
    // machine the second run may be quicker and end first, so earlier again.
    disconnect(&cubes, &MarchingCubes::progress, nullptr, nullptr);
    bool landed = false;
    for (int third = 2; third >= 0 && !landed; --third) {
        MarchingCubes again;
        fill(again);
        std::atomic<qint64> cancelledAt{0};
        qint64 finishedAt = 0;
        std::thread canceller;
        connect(&again, &MarchingCubes::progress, &again, [&](int p) {
            if (p != steps)
                return;
            canceller = std::thread([&, from = clock.nsecsElapsed()] {
                const qint64 at = from + std::max<qint64>(0, lastStageStarts) + lastStage * third / 3;
                while (clock.nsecsElapsed() < at)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                cancelledAt = clock.nsecsElapsed();
                again.cancel();
            });
        }, Qt::DirectConnection);
        connect(&again, &MarchingCubes::finished, &again, [&] { finishedAt = clock.nsecsElapsed(); },
                Qt::DirectConnection);
        clock.restart();
        const QList<QVector<Facet>> blocks = again.process();
        if (canceller.joinable())
            canceller.join();
        QVERIFY(again.wasCancelled());
        landed = blocks.isEmpty();
        if (landed)
            qInfo("last stage %.0f ms of %.0f ms in all; cancelled %d/3 into it; cancel() to finished(): %.1f ms",
                  double(lastStage) * 1e-6, (full.meshWallSeconds + full.tessellateWallSeconds) * 1e3, third,
                  double(std::max<qint64>(0, finishedAt - cancelledAt.load())) * 1e-6);
        again.reset();
    }
    QVERIFY(landed);
    cubes.reset();
}

QTEST_MAIN(TestMarchingCubes)
#include "tst_marchingcubes.moc"
