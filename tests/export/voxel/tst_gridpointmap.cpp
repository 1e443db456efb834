#include "voxel/gridpointmap.h"

#include <QtTest>

#include <map>
#include <vector>

using geom::GridPoint;
using geom::GridPointMap;

namespace {

std::vector<int> listOf(const GridPointMap::Indices &indices)
{
    return std::vector<int>(indices.begin(), indices.end());
}

} // namespace

class TestGridPointMap : public QObject
{
    Q_OBJECT

private slots:
    void insertKeepsOrderWithoutRepeats();
    void manyPointsAgainstAReference();
    void insertShiftedJoinsSets();
    void copiesAreIndependent();
};

void TestGridPointMap::insertKeepsOrderWithoutRepeats()
{
    GridPointMap map;
    QVERIFY(map.isEmpty());
    QVERIFY(map.indices(GridPoint(0, 0, 0)).isEmpty());
    const GridPoint p(-3, 7, 32767), q(-32768, 0, -1);
    // More than one block's worth, so the set moves while it grows.
    for (int i : {5, 2, 5, 9, 2, 11, 12, 13, 14, 15, 16, 17, 18, 5})
        map.insert(p, i);
    map.insert(q, 1);
    QCOMPARE(map.size(), 2);
    QCOMPARE(listOf(map.indices(p)), (std::vector<int>{5, 2, 9, 11, 12, 13, 14, 15, 16, 17, 18}));
    QCOMPARE(listOf(map.indices(q)), std::vector<int>{1});
    QVERIFY(map.indices(p).contains(18) && !map.indices(p).contains(1));
    QVERIFY(!map.contains(GridPoint(-3, 7, -32768)));
    map.clear();
    QVERIFY(map.isEmpty() && !map.contains(p) && map.cbegin() == map.cend());
}

// Points packed tightly and far apart, through many table growths: every
// lookup and the iteration agree with a plain map.
void TestGridPointMap::manyPointsAgainstAReference()
{
    GridPointMap map;
    std::map<GridPoint, std::vector<int>> reference;
    for (int i = 0; i < 20000; ++i) {
        const GridPoint p(qint16(i % 37), qint16((i / 37) % 41 * 1601), qint16(i % 7 - 3));
        map.insert(p, i % 5);
        std::vector<int> &list = reference[p];
        if (std::find(list.begin(), list.end(), i % 5) == list.end())
            list.push_back(i % 5);
    }
    QCOMPARE(map.size(), int(reference.size()));
    for (const auto &entry : reference)
        QCOMPARE(listOf(map.indices(entry.first)), entry.second);
    int seen = 0;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        QCOMPARE(listOf(it.value()), reference.at(it.key()));
        ++seen;
    }
    QCOMPARE(seen, map.size());
}

void TestGridPointMap::insertShiftedJoinsSets()
{
    GridPointMap a, b;
    const GridPoint shared(1, 1, 1), own(2, 2, 2), theirs(3, 3, 3);
    a.insert(shared, 0);
    a.insert(shared, 1);
    a.insert(own, 1);
    b.insert(shared, 0);
    b.insert(shared, 3);
    b.insert(theirs, 2);
    a.insertShifted(b, 1); // b's 0 becomes 1, already there
    QCOMPARE(a.size(), 3);
    QCOMPARE(listOf(a.indices(shared)), (std::vector<int>{0, 1, 4}));
    QCOMPARE(listOf(a.indices(own)), std::vector<int>{1});
    QCOMPARE(listOf(a.indices(theirs)), std::vector<int>{3});
    QCOMPARE(listOf(b.indices(shared)), (std::vector<int>{0, 3})); // b unchanged
}

// Surfaces are copied into lists and pieces: a copy shares the storage
// until one side changes.
void TestGridPointMap::copiesAreIndependent()
{
    GridPointMap a;
    a.insert(GridPoint(0, 0, 0), 1);
    GridPointMap b = a;
    b.insert(GridPoint(0, 0, 0), 2);
    b.insert(GridPoint(1, 0, 0), 3);
    QCOMPARE(listOf(a.indices(GridPoint(0, 0, 0))), std::vector<int>{1});
    QVERIFY(!a.contains(GridPoint(1, 0, 0)));
    QCOMPARE(listOf(b.indices(GridPoint(0, 0, 0))), (std::vector<int>{1, 2}));
}

QTEST_MAIN(TestGridPointMap)
#include "tst_gridpointmap.moc"
