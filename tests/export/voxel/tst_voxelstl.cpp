#include "images/imagineslice.h"
#include "voxel/marchingcubes.h"
#include "stltestutil.h"
#include "voxel/voxelstl.h"
#include "voxeltestutil.h"

#include <QBuffer>
#include <QDir>
#include <QMutex>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>

using geom::MarchingCubes;
using geom::VoxelStl;

Q_DECLARE_METATYPE(Slice)

namespace {

struct Run
{
    bool succeeded = false;
    bool cancelled = false;
    QString error;
    int finished = 0;
    int layers = 0;
    QVector<int> progress;
    QByteArray bytes;
    stltest::StlFile file;
};

// One build on this thread; configure sets up the builder before the run.
Run build(const QList<Slice> &slices, float mmPerPixel, float voxelSize,
          const std::function<void(VoxelStl &)> &configure = nullptr)
{
    QBuffer buffer;
    auto *voxels = new VoxelStl(&buffer, slices); // deleted with its device
    voxels->imagineSlice()->setScale(mmPerPixel);
    voxels->setVoxelSize(voxelSize);
    Run run;
    QObject::connect(voxels, &VoxelStl::finished, [&run] { ++run.finished; });
    // Progress comes from the meshing threads, several at once.
    QMutex mutex;
    QObject::connect(voxels, &VoxelStl::progress, [&run, &mutex](int p) {
        QMutexLocker lock(&mutex);
        run.progress.append(p);
    });
    if (configure)
        configure(*voxels);
    voxels->run();
    run.succeeded = voxels->succeeded();
    run.cancelled = voxels->wasCancelled();
    run.error = voxels->errorString();
    run.layers = voxels->layerCount();
    run.bytes = buffer.data();
    run.file = stltest::readStl(run.bytes);
    return run;
}

} // namespace

class TestVoxelStl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modelWhereTheSlicesAre();
    void layerSelection_data();
    void layerSelection();
    void voxelSize();
    void sameInputSameFile();
    void material_data();
    void material();
    void unusableFormat();
    void cancelBeforeRun();
    void cancelDuringRun();
    void emptyRun();
    void beyondTheGrid_data();
    void beyondTheGrid();
    void nonFiniteHeight();
    void deviceFailure();
    void progressAcrossThreads();
    void cleanSolids_data();
    void cleanSolids();
    void cleanup();

private:
    QTemporaryDir m_temp;
};

void TestVoxelStl::initTestCase()
{
    QVERIFY(m_temp.isValid());
    qputenv("TMPDIR", m_temp.path().toLocal8Bit());
}

void TestVoxelStl::cleanup()
{
    QVERIFY2(voxeltest::topologyFiles().isEmpty(), qPrintable(voxeltest::topologyFiles().join(' ')));
}

// A voxel size equal to the slice spacing keeps every slice, and the model
// sits at the slices' x, y and z (not mirrored, not shifted by rounding),
// half a step beyond the outer slices.
void TestVoxelStl::modelWhereTheSlicesAre()
{
    const Run run = build(voxeltest::solid("offset squares"), 0.25f, 0.1f);
    QVERIFY2(run.succeeded, qPrintable(run.error));
    QCOMPARE(run.finished, 1);
    QCOMPARE(run.layers, 5);
    QVERIFY(run.file.valid);
    QCOMPARE(int(run.file.count), run.file.facets.size());
    QCOMPARE(run.file.facets.size(), 44);
    const stltest::MeshReport report = stltest::checkMesh(run.file.facets);
    QVERIFY(report.closed());
    QCOMPARE(report.misnormaled, 0);
    QVERIFY(report.volume > 0);
    const geom::Bounds3Df b = voxeltest::boundsOf(run.file.facets);
    QCOMPARE(b.minX, 10.0f);
    QCOMPARE(b.maxX, 14.0f);
    QCOMPARE(b.minY, 20.0f);
    QCOMPARE(b.maxY, 23.0f);
    QVERIFY(std::fabs(b.minZ - 0.95f) < 1e-5f);
    QVERIFY(std::fabs(b.maxZ - 1.45f) < 1e-5f);
    for (int p : run.progress)
        QVERIFY(p >= 0 && p <= 5);
}

void TestVoxelStl::layerSelection_data()
{
    QTest::addColumn<float>("voxelSize");
    QTest::newRow("default: one pixel") << 0.0f;
    QTest::newRow("below the floor") << 0.0005f;
    QTest::newRow("pixel width") << 0.12f;
}

// Slices 0.05 apart with 0.12 mm pixels: every third slice becomes a layer.
void TestVoxelStl::layerSelection()
{
    QFETCH(float, voxelSize);
    const QList<Slice> slices =
        voxeltest::stack(10, 0.0f, 0.05f, [](int) { return QVector<Contour>{voxeltest::rectangle(0, 0, 1.2f, 1.2f)}; });
    const Run run = build(slices, 0.12f, voxelSize);
    QVERIFY2(run.succeeded, qPrintable(run.error));
    QCOMPARE(run.layers, 4);
    // Progress while rasterising is the slice index over four.
    QCOMPARE(run.progress.mid(0, 4), (QVector<int>{0, 0, 1, 2}));
}

void TestVoxelStl::voxelSize()
{
    QBuffer buffer;
    VoxelStl voxels(&buffer, QList<Slice>());
    voxels.setVoxelSize(-1);
    QCOMPARE(voxels.voxelSize(), 0.0f);
    voxels.setVoxelSize(std::nanf(""));
    QCOMPARE(voxels.voxelSize(), 0.0f);
    voxels.setVoxelSize(0.3f);
    QCOMPARE(voxels.voxelSize(), 0.3f);
    voxels.setParent(nullptr);
}

void TestVoxelStl::sameInputSameFile()
{
    const Run a = build(voxeltest::solid("random"), 0.25f, 0.25f);
    const Run b = build(voxeltest::solid("random"), 0.25f, 0.25f);
    QVERIFY(a.succeeded && b.succeeded);
    QVERIFY(a.file.facets.size() > 100);
    QVERIFY(a.bytes == b.bytes);
    QVERIFY(stltest::checkMesh(a.file.facets).closed());
}

void TestVoxelStl::material_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("background");
    QTest::newRow("mono, black on white") << int(QImage::Format_Mono) << QColor(Qt::black) << QColor(Qt::white);
    QTest::newRow("mono lsb") << int(QImage::Format_MonoLSB) << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("grey 8") << int(QImage::Format_Grayscale8) << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("grey 8 inverted") << int(QImage::Format_Grayscale8) << QColor(Qt::black) << QColor(Qt::white);
    QTest::newRow("grey 16") << int(QImage::Format_Grayscale16) << QColor(Qt::white) << QColor(Qt::black);
}

// Whatever the format and colours, the part is the material, never the
// cavity around it: the same model as the default white on black 1-bit one.
void TestVoxelStl::material()
{
    QFETCH(int, format);
    QFETCH(QColor, fill);
    QFETCH(QColor, background);
    const QList<Slice> slices = voxeltest::solid("square with hole");
    const Run reference = build(slices, 0.25f, 0.25f);
    const Run run = build(slices, 0.25f, 0.25f, [&](VoxelStl &v) {
        v.imagineSlice()->setFormat(QImage::Format(format));
        v.imagineSlice()->setFillBrush(fill);
        v.imagineSlice()->setBackgroundBrush(background);
    });
    QVERIFY2(run.succeeded, qPrintable(run.error));
    QVERIFY(reference.file.facets.size() > 0);
    QCOMPARE(run.file.facets.size(), reference.file.facets.size());
    const double volume = stltest::checkMesh(run.file.facets).volume;
    QVERIFY(qFuzzyCompare(volume, stltest::checkMesh(reference.file.facets).volume));
    QVERIFY(volume > 0);
}

void TestVoxelStl::unusableFormat()
{
    const Run run = build(voxeltest::solid("cone"), 0.25f, 0.25f,
                          [](VoxelStl &v) { v.imagineSlice()->setFormat(QImage::Format_ARGB32); });
    QVERIFY(!run.succeeded);
    QVERIFY(!run.error.isEmpty());
    QCOMPARE(run.finished, 1);
}

void TestVoxelStl::cancelBeforeRun()
{
    const Run run = build(voxeltest::solid("cone"), 0.25f, 0.25f, [](VoxelStl &v) { v.cancel(); });
    QVERIFY(run.cancelled);
    QVERIFY(!run.succeeded);
    QCOMPARE(run.finished, 1);
    QVERIFY(run.progress.isEmpty());
    QVERIFY(run.bytes.isEmpty());
}

void TestVoxelStl::cancelDuringRun()
{
    for (int at : {0, 3, 20}) {
        std::atomic<int> seen{0};
        const Run run = build(voxeltest::solid("sphere"), 0.25f, 0.25f, [&seen, at](VoxelStl &v) {
            QObject::connect(&v, &VoxelStl::progress, &v, [&seen, at, &v](int) {
                if (seen++ == at)
                    v.cancel();
            }, Qt::DirectConnection);
        });
        QVERIFY(run.cancelled);
        QVERIFY(!run.succeeded);
        QCOMPARE(run.finished, 1);
        QVERIFY(!run.file.valid || run.file.count == 0);
    }
}

void TestVoxelStl::emptyRun()
{
    QBuffer buffer;
    auto *voxels = new VoxelStl(&buffer, QList<Slice>());
    voxels->imagineSlice()->setSize(QSize(16, 16));
    QSignalSpy progress(voxels, &VoxelStl::progress);
    QSignalSpy finished(voxels, &VoxelStl::finished);
    voxels->run();
    QVERIFY2(voxels->succeeded(), qPrintable(voxels->errorString()));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(progress.size(), 0);
    const stltest::StlFile file = stltest::readStl(buffer.data());
    QVERIFY(file.valid);
    QCOMPARE(file.count, 0u);
}

// Layers the grid cannot hold fail the run: every layer refused, or the top of
// the part cut off, must not pass for a finished model.
void TestVoxelStl::beyondTheGrid_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("layers");
    QTest::newRow("wider than the grid") << QSize(MarchingCubes::maximumLayerSide + 1, 4) << 3;
    QTest::newRow("higher than the grid") << QSize(4, MarchingCubes::maximumLayerSide + 1) << 3;
    QTest::newRow("taller than the grid") << QSize(4, 4) << MarchingCubes::maximumStackLayers + 1;
}

void TestVoxelStl::beyondTheGrid()
{
    QFETCH(QSize, size);
    QFETCH(int, layers);
    QList<Slice> slices;
    for (int k = 0; k < layers; ++k)
        slices.append(Slice(float(k), 1.0f, QVector<Contour>{Contour(QVector<geom::Point2Df>{{0, 0}, {2, 0}, {2, 2}, {0, 2}})}));
    QBuffer buffer;
    auto *voxels = new VoxelStl(&buffer, slices);
    voxels->imagineSlice()->setSize(size);
    voxels->setVoxelSize(1.0f);
    QSignalSpy finished(voxels, &VoxelStl::finished);
    voxels->run();
    QVERIFY(!voxels->succeeded());
    QVERIFY(!voxels->errorString().isEmpty());
    QCOMPARE(finished.size(), 1);
}

void TestVoxelStl::nonFiniteHeight()
{
    QList<Slice> slices = voxeltest::solid("two islands");
    slices.last().setZ(std::numeric_limits<float>::infinity());
    const Run run = build(slices, 0.25f, 0.25f);
    QVERIFY(!run.succeeded);
    QVERIFY(!run.error.isEmpty());
    QCOMPARE(run.finished, 1);
}

void TestVoxelStl::deviceFailure()
{
    stltest::FullBuffer full(300);
    auto *voxels = new VoxelStl(&full, voxeltest::solid("cylinder"));
    voxels->imagineSlice()->setScale(0.25f);
    QTest::ignoreMessage(QtCriticalMsg, "MarchingCubes: Cannot write facets.");
    voxels->run();
    QVERIFY(!voxels->succeeded());
    QVERIFY(!voxels->wasCancelled());
    QVERIFY(!voxels->errorString().isEmpty());
}

// The window's way: run on a pool thread, progress into this thread through
// a blocking queued connection. The run must not wait on this thread while
// this thread waits on it.
void TestVoxelStl::progressAcrossThreads()
{
    QBuffer buffer;
    auto *voxels = new VoxelStl(&buffer, voxeltest::solid("sphere"));
    voxels->imagineSlice()->setScale(0.25f);
    QObject receiver;
    QVector<int> values;
    connect(voxels, &VoxelStl::progress, &receiver, [&values](int p) { values.append(p); },
            Qt::BlockingQueuedConnection);
    QSignalSpy finished(voxels, &VoxelStl::finished);
    QFuture<void> future = QtConcurrent::run([voxels] { voxels->run(); });
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 60000);
    future.waitForFinished();
    QVERIFY2(voxels->succeeded(), qPrintable(voxels->errorString()));
    QVERIFY(!values.isEmpty());
    const int slices = voxels->slices().size();
    for (int p : values)
        QVERIFY(p >= 0 && p <= slices);
    QVERIFY(values.last() > slices / 4);
}

void TestVoxelStl::cleanSolids_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<float>("pixel");
    QTest::addColumn<float>("voxel");
    // Slices 0.1 mm apart meshed 0.25 and 0.15 mm apart: the layers kept are
    // unevenly spaced for 0.15.
    const QList<Slice> cone = voxeltest::stack(60, 0, 0.1f, [](int i) {
        return QVector<Contour>{voxeltest::circle(5, 5, 4.5f - 0.06f * float(i), 64)};
    });
    QTest::newRow("voxel 0.25 mm, slices 0.1 mm") << cone << 0.1f << 0.25f;
    QTest::newRow("voxel 0.15 mm, slices 0.1 mm") << cone << 0.1f << 0.15f;
    QTest::newRow("voxel 0.05 mm, pixel 0.1 mm") << cone << 0.1f << 0.05f;
    // A seeded random volume: cells of one pixel, many touching only at an
    // edge or a corner.
    QRandomGenerator random(99);
    const QList<Slice> cells = voxeltest::stack(12, 0, 0.25f, [&random](int) {
        QVector<Contour> list;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (random.bounded(100) < 40)
                    list.append(voxeltest::rectangle(x * 0.25f, y * 0.25f, x * 0.25f + 0.25f, y * 0.25f + 0.25f));
        return list;
    });
    QTest::newRow("random cells") << cells << 0.25f << 0.25f;
}

// What the builder writes is a clean solid (every edge once in each
// direction, no facet without area, every normal that of its vertices) at
// any voxel size.
void TestVoxelStl::cleanSolids()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(float, pixel);
    QFETCH(float, voxel);
    const Run run = build(slices, pixel, voxel);
    QVERIFY2(run.succeeded, qPrintable(run.error));
    QVERIFY(run.file.valid);
    const voxeltest::SolidReport report = voxeltest::checkSolid(run.file.facets);
    QVERIFY2(report.clean(), qPrintable(report.faults()));
    QVERIFY(report.mesh.volume > 0);
}

QTEST_MAIN(TestVoxelStl)
#include "tst_voxelstl.moc"
