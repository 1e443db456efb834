// Many threads on a few meshes at once: readers look up, measure, copy,
// transform and write STL while writers append (a mesh to itself, two meshes
// to each other), weld, remove duplicates, sort, scale and move. Every
// thread must end within its time limit, everything a reader sees must be
// one whole state of its mesh, and each mesh must end with exactly the
// content its writers' operations add up to.

#include "mesh/stlmesh.h"
#include "stlmeshtestutil.h"
#include "stltestutil.h"
#include "stl/stlwriter.h"

#include <QBuffer>
#include <QMatrix4x4>
#include <QMutex>
#include <QSemaphore>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>

using geom::Bounds3Df;
using geom::Facet;
using geom::StlMesh;
using meshtest::boxFacets;
using meshtest::invariantFault;

namespace {

constexpr auto threadTimeLimit = std::chrono::seconds(240);

// What the threads found wrong; QtTest's checks belong to the main thread.
class Faults
{
public:
    void add(const QString &text)
    {
        QMutexLocker locker(&mutex);
        if (list.size() < 20)
            list.append(text);
    }
    QStringList all()
    {
        QMutexLocker locker(&mutex);
        return list;
    }

private:
    QMutex mutex;
    QStringList list;
};

// Lets two threads start each round together.
class Barrier
{
public:
    explicit Barrier(int count) : count(count) {}
    void arrive()
    {
        std::unique_lock<std::mutex> locker(mutex);
        const int round = generation;
        if (++waiting == count) {
            waiting = 0;
            ++generation;
            wake.notify_all();
            return;
        }
        wake.wait(locker, [&] { return generation != round; });
    }

private:
    std::mutex mutex;
    std::condition_variable wake;
    const int count;
    int waiting = 0;
    int generation = 0;
};

StlMesh *boxMesh(float side, int cuts)
{
    auto *mesh = new StlMesh;
    const QVector<Facet> facets = boxFacets(side, cuts);
    mesh->addFacets(facets.size(), facets.constData());
    return mesh;
}

bool near(double a, double b)
{
    return std::fabs(a - b) <= 1e-5 * std::fabs(b) + 1e-12;
}

// a is base times one of the factors.
bool oneOf(double a, double base, std::initializer_list<double> factors)
{
    for (double f : factors) {
        if (near(a, base * f))
            return true;
    }
    return false;
}

// Checks on one state of a mesh, from any thread.
void checkState(const StlMesh &mesh, const QString &name, Faults &faults)
{
    QVector<QVector3D> vertices;
    QVector<StlMesh::Triangle> triangles;
    mesh.snapshot(vertices, triangles);
    const QString fault = invariantFault(vertices, triangles, -1);
    if (!fault.isEmpty())
        faults.add(name + QStringLiteral(": ") + fault);
}

} // namespace

class TestStlMeshConcurrency : public QObject
{
    Q_OBJECT

private slots:
    void stress();
    void statisticsWithBusyPool();
};

// Every thread of the global pool waits for something the caller does only
// after its change: a statistics job that needs a pool thread would never
// run, so the change has to measure on its own thread.
void TestStlMeshConcurrency::statisticsWithBusyPool()
{
    QScopedPointer<StlMesh> big(boxMesh(1.0f, 105));
    QVERIFY(big->vertices().size() >= 65536);
    const QVector<Facet> more = boxFacets(2.0f, 3);

    QSemaphore gate;
    QThreadPool *pool = QThreadPool::globalInstance();
    QVector<QFuture<void>> blocked;
    for (int i = 0; i < pool->maxThreadCount(); ++i)
        blocked.append(QtConcurrent::run([&gate] { gate.acquire(); }));

    auto change = std::async(std::launch::async, [&] { big->addFacets(more.size(), more.constData()); });
    const bool finished = change.wait_for(threadTimeLimit) == std::future_status::ready;
    gate.release(blocked.size());
    for (QFuture<void> &f : blocked)
        f.waitForFinished();
    if (!finished)
        qFatal("addFacets waited for a busy thread pool");
    QVERIFY(std::fabs(big->volume() - 9.0) < 1e-4);
    QCOMPARE(big->boundingBox(), Bounds3Df(geom::Point3Df(0, 0, 0), geom::Point3Df(2, 2, 2)));
    QVERIFY(std::fabs(big->radius() - std::sqrt(3.0)) < 1e-5);
}

void TestStlMeshConcurrency::stress()
{
    Faults faults;
    std::atomic<bool> writing{true};

    // grown: appended to itself three times while duplicates come and go.
    QScopedPointer<StlMesh> grown(boxMesh(1.0f, 6));
    const int grownTriangles = grown->indices().size();
    const int grownVertices = grown->vertices().size();
    const double grownArea = grown->area(), grownVolume = grown->volume(), grownRadius = grown->radius();
    const Bounds3Df grownBox = grown->boundingBox();
    // moved: scaled and moved back and forth on a grid of eighths, exact in float.
    QScopedPointer<StlMesh> moved(boxMesh(1.0f, 8));
    const QVector<QVector3D> movedVertices = moved->vertices();
    // a and b: appended to each other, both at once, round after round.
    QScopedPointer<StlMesh> a(boxMesh(1.0f, 1)), b(boxMesh(2.0f, 1));
    // big: enough vertices for its statistics to use the global pool, which
    // readers of the same mesh keep busy.
    QScopedPointer<StlMesh> big(boxMesh(1.0f, 105));
    QVERIFY(big->vertices().size() >= 65536);
    const int bigTriangles = big->indices().size();

    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);

    std::vector<std::pair<QString, std::future<void>>> writers, readers;
    auto start = [](std::vector<std::pair<QString, std::future<void>>> &list, const QString &name,
                    std::function<void()> body) { list.emplace_back(name, std::async(std::launch::async, body)); };

    start(writers, QStringLiteral("self-append"), [&] {
        for (int i = 0; i < 3; ++i) {
            grown->append(*grown);
            QThread::msleep(50);
        }
    });
    start(writers, QStringLiteral("duplicates"), [&] {
        for (int i = 0; i < 100; ++i) {
            const QVector<Facet> some = grown->facets(false).mid(0, 10);
            grown->addFacets(some.size(), some.constData());
            if (grown->removeDuplicates() < some.size())
                faults.add(QStringLiteral("removeDuplicates missed facets added twice"));
        }
    });
    start(writers, QStringLiteral("orders"), [&] {
        for (int i = 0; i < 300; ++i)
            grown->sortTriangles(i % 3);
        grown->sortTriangles(StlMesh::ByIndices);
    });
    start(writers, QStringLiteral("scale and move"), [&] {
        for (int i = 0; i < 400; ++i) {
            moved->translate(QVector3D(0.5f, -0.25f, 2));
            moved->scale(2);
            moved->scale(0.5f);
            moved->translate(QVector3D(-0.5f, 0.25f, -2));
        }
    });
    Barrier rounds(2);
    std::atomic<int> before[2];
    auto crossed = [&](StlMesh *self, StlMesh *other, int me) {
        for (int r = 0; r < 5; ++r) {
            before[me] = self->indices().size();
            rounds.arrive();
            self->append(*other);
            rounds.arrive();
            // Each append read the other mesh before or after the other's
            // own append: three outcomes, never a lost or torn one.
            const int x = before[me], y = before[1 - me];
            const int mine = self->indices().size(), theirs = other->indices().size();
            if (!((mine == x + y && theirs == x + y) || (mine == x + y && theirs == x + 2 * y)
                  || (mine == 2 * x + y && theirs == x + y)))
                faults.add(QStringLiteral("crossed appends: %1 + %2 gave %3 and %4").arg(x).arg(y).arg(mine).arg(theirs));
            rounds.arrive();
        }
    };
    start(writers, QStringLiteral("a.append(b)"), [&] { crossed(a.data(), b.data(), 0); });
    start(writers, QStringLiteral("b.append(a)"), [&] { crossed(b.data(), a.data(), 1); });
    start(writers, QStringLiteral("big welds"), [&] {
        for (int i = 0; i < 6; ++i) {
            const QVector<Facet> some = big->facets(false).mid(1000, 100);
            big->addFacets(some.size(), some.constData());
            big->removeDuplicates();
        }
    });

    // Readers of the grown mesh.
    const QVector<Facet> grownFacets = grown->facets(false);
    for (int n = 0; n < 2; ++n) {
        start(readers, QStringLiteral("grown reader %1").arg(n), [&, n] {
            int round = 0;
            while (writing || round < 2) {
                ++round;
                checkState(*grown, QStringLiteral("grown"), faults);
                const Facet &f = grownFacets[(round * 37 + n) % grownFacets.size()];
                if (grown->indexOfFacet(f) < 0)
                    faults.add(QStringLiteral("a facet of the grown mesh was not found"));
                if (grown->indexOfVertex(QVector3D(f.vertex2.x, f.vertex2.y, f.vertex2.z)) < 0)
                    faults.add(QStringLiteral("a vertex of the grown mesh was not found"));
                if (!oneOf(grown->area(), grownArea, {1, 2, 4, 8}) || !oneOf(grown->volume(), grownVolume, {1, 2, 4, 8}))
                    faults.add(QStringLiteral("grown: area %1, volume %2").arg(grown->area()).arg(grown->volume()));
                if (!near(grown->radius(), grownRadius) || grown->boundingBox() != grownBox)
                    faults.add(QStringLiteral("grown: box or radius changed"));
                const QVector<Facet> facets = grown->facets(true);
                if (facets.size() < grownTriangles)
                    faults.add(QStringLiteral("grown: %1 facets").arg(facets.size()));

                QBuffer buffer;
                StlWriter writer(&buffer);
                const int written = writer.write(*grown);
                writer.finish();
                const stltest::StlFile file = stltest::readStl(buffer.data());
                if (written < grownTriangles || !file.valid || int(file.count) != written)
                    faults.add(QStringLiteral("grown: STL of %1 facets, count %2").arg(written).arg(file.count));

                QScopedPointer<StlMesh> turned(grown->transformed(mirror, n == 1 && round % 2));
                if (!turned || !oneOf(turned->volume(), grownVolume, {1, 2, 4, 8}))
                    faults.add(QStringLiteral("grown: mirrored copy wrong"));
                else
                    checkState(*turned, QStringLiteral("mirrored copy"), faults);
                QScopedPointer<StlMesh> copy(n == 0 ? grown->clone() : new StlMesh(*grown));
                const QString fault = invariantFault(*copy);
                if (!fault.isEmpty())
                    faults.add(QStringLiteral("copy: ") + fault);
            }
        });
    }
    start(readers, QStringLiteral("moved reader"), [&] {
        while (writing) {
            checkState(*moved, QStringLiteral("moved"), faults);
            if (!oneOf(moved->area(), 6, {1, 4}) || !oneOf(moved->radius(), std::sqrt(3.0) / 2, {1, 2}))
                faults.add(QStringLiteral("moved: area %1, radius %2").arg(moved->area()).arg(moved->radius()));
            const Bounds3Df box = moved->boundingBox(QMatrix4x4());
            if (!oneOf(box.maxX - box.minX, 1, {1, 2}))
                faults.add(QStringLiteral("moved: box width %1").arg(box.maxX - box.minX));
            QScopedPointer<StlMesh> stats(moved->transformed(mirror, true));
            if (!stats || !stats->indices().isEmpty())
                faults.add(QStringLiteral("moved: statistics-only copy holds triangles"));
        }
    });
    start(readers, QStringLiteral("crossed reader"), [&] {
        while (writing) {
            checkState(*a, QStringLiteral("a"), faults);
            checkState(*b, QStringLiteral("b"), faults);
            if (a->indexOfVertex(QVector3D(1, 1, 1)) < 0 || b->indexOfVertex(QVector3D(2, 2, 2)) < 0)
                faults.add(QStringLiteral("crossed: a corner was lost"));
            QThread::yieldCurrentThread();
        }
    });
    // As many pool tasks as the pool has threads, all reading the big mesh:
    // its statistics job then finds no free thread.
    QVector<QFuture<void>> poolReaders;
    for (int i = 0; i < QThreadPool::globalInstance()->maxThreadCount(); ++i) {
        poolReaders.append(QtConcurrent::run([&] {
            while (writing) {
                if (!oneOf(big->area(), 6, {1}))
                    faults.add(QStringLiteral("big: area %1").arg(big->area()));
                QThread::yieldCurrentThread();
            }
        }));
    }

    const auto deadline = std::chrono::steady_clock::now() + threadTimeLimit;
    auto finish = [&](std::vector<std::pair<QString, std::future<void>>> &list) {
        for (auto &entry : list) {
            if (entry.second.wait_until(deadline) != std::future_status::ready)
                qFatal("%s did not finish in time: a deadlock", qPrintable(entry.first));
            entry.second.get();
        }
    };
    finish(writers);
    writing = false;
    finish(readers);
    for (QFuture<void> &f : poolReaders)
        f.waitForFinished();

    const QStringList found = faults.all();
    QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));

    // Self-appended three times; duplicates a self-append copied before they
    // were removed are removed now.
    grown->removeDuplicates();
    QCOMPARE(grown->indices().size(), 8 * grownTriangles);
    QCOMPARE(grown->vertices().size(), 8 * grownVertices);
    QCOMPARE(grown->order(), int(StlMesh::ByIndices));
    QVERIFY2(invariantFault(*grown).isEmpty(), qPrintable(invariantFault(*grown)));
    QVERIFY(near(grown->area(), 8 * grownArea));
    QCOMPARE(grown->duplicates(), 0);

    QCOMPARE(moved->vertices(), movedVertices);
    QVERIFY(near(moved->area(), 6));

    QVERIFY(invariantFault(*a).isEmpty());
    QVERIFY(invariantFault(*b).isEmpty());
    // Every triangle of a and b is a face of one of the two cubes.
    for (StlMesh *m : {a.data(), b.data()}) {
        QCOMPARE(m->indices().size() % 12, 0);
        QCOMPARE(m->vertices().size() * 12, m->indices().size() * 8);
    }

    QCOMPARE(big->indices().size(), bigTriangles);
    QVERIFY(invariantFault(*big).isEmpty());
    QVERIFY(stltest::checkMesh(big->facets()).closed());
}

QTEST_GUILESS_MAIN(TestStlMeshConcurrency)
#include "tst_stlmeshconcurrency.moc"
