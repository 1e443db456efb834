#include "voxel/releaselater_p.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using geom::releaseLater;

namespace {

// Records the thread that destroys it, and keeps that thread until the test
// lets it go.
struct Watched
{
    struct Record
    {
        QSemaphore mayEnd;
        std::atomic<QThread *> destroyedBy{nullptr};
        std::atomic<int> destroyed{0};
    };
    std::shared_ptr<Record> record;

    Watched() = default;
    explicit Watched(std::shared_ptr<Record> r) : record(std::move(r)) {}
    Watched(Watched &&other) noexcept = default;
    Watched &operator=(Watched &&other) noexcept = default;
    ~Watched()
    {
        if (!record)
            return; // moved from
        record->destroyedBy = QThread::currentThread();
        // Bounded: a destructor run by the caller itself fails the test
        // instead of hanging it.
        record->mayEnd.tryAcquire(1, 10000);
        ++record->destroyed;
    }
};

} // namespace

class TestReleaseLater : public QObject
{
    Q_OBJECT

private slots:
    void freedOnAPoolThreadAfterTheCallReturns();
};

// The caller does not wait for the value to be destroyed: releaseLater
// returns while the destructor is held, the destructor runs exactly once on
// another thread, and the argument is left empty.
void TestReleaseLater::freedOnAPoolThreadAfterTheCallReturns()
{
    const auto record = std::make_shared<Watched::Record>();
    std::vector<Watched> values;
    values.emplace_back(record);
    releaseLater(values);
    // Returned with the destructor held: the value is not freed here.
    QCOMPARE(record->destroyed.load(), 0);
    QVERIFY(values.empty());
    record->mayEnd.release();
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(record->destroyed.load(), 1);
    QVERIFY(record->destroyedBy.load() != nullptr);
    QVERIFY(record->destroyedBy.load() != QThread::currentThread());
}

QTEST_GUILESS_MAIN(TestReleaseLater)
#include "tst_releaselater.moc"
