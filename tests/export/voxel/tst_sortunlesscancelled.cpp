#include "voxel/sortunlesscancelled_p.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <random>
#include <vector>

using geom::sortPieceSize;
using geom::sortUnlessCancelled;

class TestSortUnlessCancelled : public QObject
{
    Q_OBJECT

private slots:
    void sortsLikeStdSort_data();
    void sortsLikeStdSort();
    void setFlagStopsBeforeSorting();
};

void TestSortUnlessCancelled::sortsLikeStdSort_data()
{
    QTest::addColumn<qint64>("size");
    // Around the piece size and the widths of the merges, where a run is
    // short, missing or the first run is the wider one.
    const qint64 piece = qint64(sortPieceSize);
    for (qint64 size : {qint64(0), qint64(1), qint64(1000), piece, piece + 1, 2 * piece - 1, 2 * piece,
                        2 * piece + 1, 3 * piece + 5, 4 * piece, 5 * piece + 77})
        QTest::addRow("%lld", size) << size;
}

// Distinct keys (the order is total), in an order that is neither sorted nor
// reversed, with or without a flag that stays clear.
void TestSortUnlessCancelled::sortsLikeStdSort()
{
    QFETCH(qint64, size);
    std::vector<quint64> keys(static_cast<size_t>(size));
    std::mt19937_64 random(quint64(size) * 7919 + 1);
    for (size_t i = 0; i < keys.size(); ++i)
        keys[i] = (random() & ~quint64(0xFFFFFF)) | i; // distinct by the low bits
    std::vector<quint64> expected = keys;
    std::sort(expected.begin(), expected.end());
    std::atomic<bool> clear{false};
    const std::atomic<bool> *flags[] = {&clear, nullptr};
    for (const std::atomic<bool> *flag : flags) {
        std::vector<quint64> sorted = keys;
        QVERIFY(sortUnlessCancelled(sorted.data(), sorted.size(), flag));
        QVERIFY(sorted == expected);
    }
}

// A cancel that came first: a range of several pieces is left alone, and
// one of a single piece, which takes no longer than a look at the flag
// would save, is sorted.
void TestSortUnlessCancelled::setFlagStopsBeforeSorting()
{
    std::atomic<bool> cancel{true};
    std::vector<int> many(3 * sortPieceSize);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = int(many.size() - i);
    const std::vector<int> before = many;
    QVERIFY(!sortUnlessCancelled(many.data(), many.size(), &cancel));
    QVERIFY(many == before);
    std::vector<int> few{3, 1, 2};
    QVERIFY(sortUnlessCancelled(few.data(), few.size(), &cancel));
    QVERIFY((few == std::vector<int>{1, 2, 3}));
}

QTEST_APPLESS_MAIN(TestSortUnlessCancelled)
#include "tst_sortunlesscancelled.moc"
