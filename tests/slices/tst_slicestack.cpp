#include "slicestack.h"
#include "slctestutil.h"

#include <QtTest>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

using geom::Point2Df;
typedef QVector<Point2Df> Points;
typedef QVector<float> Floats;

Q_DECLARE_METATYPE(Slice)

using slctest::square;

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();

Contour hole(const Points &points)
{
    Contour c(points);
    c.reverse();
    return c;
}

// A slice with one square contour; the square's side tells slices apart that
// share a height.
Slice squareSlice(float z, float thickness, float side = 1)
{
    return Slice(z, thickness, {Contour(square(0, 0, side, side))});
}

QList<Slice> slicesAt(const Floats &heights, float thickness = 0.1f)
{
    QList<Slice> slices;
    for (float z : heights)
        slices.append(squareSlice(z, thickness));
    return slices;
}

Floats heights(const SliceStack &stack)
{
    Floats result;
    for (const Slice &s : stack.slices())
        result.append(s.z());
    return result;
}

Floats thicknesses(const SliceStack &stack)
{
    Floats result;
    for (const Slice &s : stack.slices())
        result.append(s.thickness());
    return result;
}

// Exact comparison, NaN equal to NaN.
bool sameFloats(const Floats &a, const Floats &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (!(a.at(i) == b.at(i) || (std::isnan(a.at(i)) && std::isnan(b.at(i)))))
            return false;
    }
    return true;
}

QByteArray describe(const Floats &values)
{
    QByteArray text;
    for (float v : values)
        text += QByteArray::number(double(v), 'g', 9) + ' ';
    return text;
}

#define COMPARE_FLOATS(actual, expected)                                                                               \
    QVERIFY2(sameFloats(actual, expected), describe(actual) + "!= " + describe(expected))

quint64 bits(double d)
{
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// A part as slicers give it: per layer an outer wall, a hole, a lattice of unit squares on whole
// coordinates (whose areas tie exactly) and octagons of assorted sizes, all in shuffled order;
// layers arrive out of height order, one height twice. With shared, some layers are copies of
// others (sharing their contours) and one layer nests a hole in its wall.
QList<Slice> slicerLikeSlices(bool shared)
{
    quint32 seed = 2024;
    auto next = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % quint32(n));
    };
    QList<Slice> slices;
    for (int layer = 0; layer < 48; ++layer) {
        QVector<Contour> contours;
        contours.append(Contour(Points{{-50, -50}, {50, -50}, {50, 50}, {0, 60}, {-50, 50}}));
        Contour hole(square(-20, -20, 20, 20));
        hole.reverse();
        contours.append(hole);
        for (int i = 0; i < 300; ++i)
            contours.append(Contour(square(float(i % 30), float(i / 30), float(i % 30 + 1), float(i / 30 + 1))));
        for (int i = 0; i < 200; ++i) {
            const float r = 0.25f * float(1 + next(6));
            Points octagon;
            for (int k = 0; k < 8; ++k)
                octagon.append({float(i) + r * float(std::cos(k * M_PI / 4)), 30.0f + r * float(std::sin(k * M_PI / 4))});
            contours.append(Contour(octagon));
        }
        contours.append(Contour(Points{{1, 1}, {2, 2}}));
        contours.append(Contour());
        for (int i = contours.size() - 1; i > 0; --i)
            std::swap(contours[i], contours[next(i + 1)]);
        const float z = 0.05f * float(layer % 2 == 0 ? layer : 60 - layer);
        slices.append(Slice(z, 0.05f, std::move(contours)));
    }
    slices.append(Slice(slices.at(3).z(), 0.05f, {Contour(square(0, 0, 5, 5))}));
    if (shared) {
        for (int k = 0; k < 6; ++k) {
            Slice copy = slices.at(k);
            copy.setZ(10.0f + float(k));
            slices.append(copy);
        }
        Contour wall(square(-5, -5, 5, 5));
        wall.addChild(hole(square(-1, -1, 1, 1)));
        slices.append(Slice(20.0f, 0.05f, {Contour(square(0, 0, 1, 1)), wall, Contour(square(0, 0, 1, 1))}));
    }
    return slices;
}

float side(const Slice &s)
{
    return s.contours().at(0).boundingRect().maxX;
}

} // namespace

class TestSliceStack : public QObject
{
    Q_OBJECT

private slots:
    void newStack();
    void ordersByHeight();
    void mergesNearEqualHeights_data();
    void mergesNearEqualHeights();
    void laterArrivalWins();
    void sortsContoursByArea();
    void rewritesThickness();
    void lastThicknessFromPreviousGap_data();
    void lastThicknessFromPreviousGap();
    void totals();
    void bounds();
    void noAreaKeepsEmptyBox_data();
    void noAreaKeepsEmptyBox();
    void radius();
    void leavesCachesClean();
    void matchesSequentialBuild_data();
    void matchesSequentialBuild();
    void sliceIndexAt_data();
    void sliceIndexAt();
    void sliceLowerBound();
    void removeSlice_data();
    void removeSlice();
    void removeSliceAt();
    void insertSlice();
    void insertSliceMatchesBelow();
    void insertContour();
    void thicknessRange();
    void clear();
};

void TestSliceStack::newStack()
{
    SliceStack stack;
    stack.update();
    QVERIFY(stack.slices().isEmpty());
    QCOMPARE(stack.contourCount(), 0);
    QCOMPARE(stack.vertexCount(), qint64(0));
    QCOMPARE(stack.sideArea(), 0.0);
    QCOMPARE(stack.volume(), 0.0);
    QCOMPARE(stack.radius(), 0.0);
    QCOMPARE(stack.bounds().minX, FLT_MAX);
    QCOMPARE(stack.bounds().maxZ, -FLT_MAX);
    QCOMPARE(stack.maxThickness(), 0.0f);
    QCOMPARE(stack.minThickness(), 0.0f);
}

void TestSliceStack::ordersByHeight()
{
    SliceStack stack;
    stack.addSlices(slicesAt({0.3f, 0.1f, 0.2f, -1.0f}), false);
    COMPARE_FLOATS(heights(stack), (Floats{-1.0f, 0.1f, 0.2f, 0.3f}));

    // A second batch is merged into the order.
    stack.addSlices(slicesAt({0.15f, 5.0f}), false);
    COMPARE_FLOATS(heights(stack), (Floats{-1.0f, 0.1f, 0.15f, 0.2f, 0.3f, 5.0f}));

    // A damaged height sorts last instead of scrambling the order.
    stack.addSlices(slicesAt({notANumber, 0.05f}), false);
    COMPARE_FLOATS(heights(stack), (Floats{-1.0f, 0.05f, 0.1f, 0.15f, 0.2f, 0.3f, 5.0f, notANumber}));
}

void TestSliceStack::mergesNearEqualHeights_data()
{
    QTest::addColumn<Floats>("input");
    QTest::addColumn<Floats>("kept");

    QTest::newRow("relative difference below 1e-5") << Floats{1.0f, 2.0f, 2.0000100f} << Floats{1.0f, 2.0000100f};
    QTest::newRow("relative difference above 1e-5") << Floats{2.0f, 2.0001f} << Floats{2.0f, 2.0001f};
    QTest::newRow("at 0 only exact equality") << Floats{0.0f, 0.0000001f} << Floats{0.0f, 0.0000001f};
    QTest::newRow("exact 0 twice") << Floats{0.0f, 0.0f} << Floats{0.0f};
    QTest::newRow("negative heights") << Floats{-2.0f, -2.00001f} << Floats{-2.0f};
    // Each survivor is compared with the one below: the run collapses to its top.
    QTest::newRow("run within reach of its top") << Floats{100.0f, 100.0005f, 100.0009f} << Floats{100.0009f};
    QTest::newRow("run longer than the tolerance") << Floats{100.0f, 100.0008f, 100.0016f} << Floats{100.0f, 100.0016f};
    QTest::newRow("equal heights unsorted") << Floats{3.0f, 1.0f, 3.0f, 1.0f} << Floats{1.0f, 3.0f};
}

void TestSliceStack::mergesNearEqualHeights()
{
    QFETCH(Floats, input);
    QFETCH(Floats, kept);
    SliceStack stack;
    stack.addSlices(slicesAt(input), false);
    COMPARE_FLOATS(heights(stack), kept);
}

// Of two slices at one height the one added later stays: the sort keeps the
// order of arrival among equal heights.
void TestSliceStack::laterArrivalWins()
{
    SliceStack stack;
    stack.addSlices({squareSlice(2, 0.1f, 1), squareSlice(1, 0.1f, 2), squareSlice(2, 0.1f, 3),
                     squareSlice(3, 0.1f, 4), squareSlice(1, 0.1f, 5)},
                    false);
    COMPARE_FLOATS(heights(stack), (Floats{1, 2, 3}));
    QCOMPARE(side(stack.slices().at(0)), 5.0f);
    QCOMPARE(side(stack.slices().at(1)), 3.0f);

    stack.addSlices({squareSlice(2, 0.1f, 6)}, false);
    COMPARE_FLOATS(heights(stack), (Floats{1, 2, 3}));
    QCOMPARE(side(stack.slices().at(1)), 6.0f);

    // Enough slices for a sort that is not stable to shuffle equal heights:
    // 200 arrivals over 10 heights, the arrival number in the square's side.
    QList<Slice> many;
    for (int i = 0; i < 200; ++i)
        many.append(squareSlice(float((i * 7) % 10), 0.1f, float(i + 1)));
    SliceStack big;
    big.addSlices(many, false);
    QCOMPARE(big.slices().size(), 10);
    for (const Slice &s : big.slices()) {
        const int z = int(s.z());
        // The last arrival at height z is the largest i with (7 i) mod 10 == z.
        int last = -1;
        for (int i = 0; i < 200; ++i) {
            if ((i * 7) % 10 == z)
                last = i;
        }
        QCOMPARE(side(s), float(last + 1));
    }
}

void TestSliceStack::sortsContoursByArea()
{
    SliceStack stack;
    Contour hole(square(0, 0, 3, 3));
    hole.reverse();
    stack.addSlices({Slice(1, 0.1f, {Contour(square(0, 0, 1, 1)), hole, Contour(square(0, 0, 2, 2))})}, false);
    QVector<double> areas;
    for (const Contour &c : stack.slices().at(0).contours())
        areas.append(c.area());
    QCOMPARE(areas, (QVector<double>{-9, 4, 1}));
}

void TestSliceStack::rewritesThickness()
{
    SliceStack stack;
    stack.addSlices({squareSlice(0.35f, 7), squareSlice(0.1f, 5), squareSlice(0.2f, 6)}, false);
    COMPARE_FLOATS(thicknesses(stack), (Floats{0.2f - 0.1f, 0.35f - 0.2f, 7.0f}));

    // Removing a slice without an update leaves the thicknesses as they were.
    stack.removeSlice(1, true);
    COMPARE_FLOATS(thicknesses(stack), (Floats{0.2f - 0.1f, 7.0f}));
    stack.update();
    COMPARE_FLOATS(thicknesses(stack), (Floats{0.35f - 0.1f, 7.0f}));
}

// A file listed top down reads with negative thicknesses (each layer's next
// height lies below it); once sorted, the last slice carries one of those.
void TestSliceStack::lastThicknessFromPreviousGap_data()
{
    QTest::addColumn<Floats>("z");
    QTest::addColumn<Floats>("thickness");
    QTest::addColumn<Floats>("expected");

    QTest::newRow("descending file") << Floats{0.3f, 0.2f, 0.1f} << Floats{0.2f - 0.3f, 0.1f - 0.2f, 0.0f - 0.1f}
                                     << Floats{0.2f - 0.1f, 0.3f - 0.2f, 0.3f - 0.2f};
    QTest::newRow("unknown last") << Floats{0.1f, 0.3f} << Floats{0.2f, notANumber} << Floats{0.3f - 0.1f, 0.3f - 0.1f};
    QTest::newRow("good last kept") << Floats{0.1f, 0.3f} << Floats{0.2f, 0.5f} << Floats{0.3f - 0.1f, 0.5f};
    QTest::newRow("zero last kept") << Floats{0.1f, 0.3f} << Floats{0.2f, 0.0f} << Floats{0.3f - 0.1f, 0.0f};
    QTest::newRow("only slice, negative") << Floats{0.3f} << Floats{-0.1f} << Floats{0.0f};
    QTest::newRow("only slice, unknown") << Floats{0.3f} << Floats{notANumber} << Floats{0.0f};
}

void TestSliceStack::lastThicknessFromPreviousGap()
{
    QFETCH(Floats, z);
    QFETCH(Floats, thickness);
    QFETCH(Floats, expected);

    QList<Slice> slices;
    for (int i = 0; i < z.size(); ++i)
        slices.append(squareSlice(z.at(i), thickness.at(i)));
    SliceStack stack;
    stack.addSlices(slices, false);
    COMPARE_FLOATS(thicknesses(stack), expected);
    QVERIFY(stack.volume() >= 0.0);
    QVERIFY(!std::isnan(stack.sideArea()));
}

void TestSliceStack::totals()
{
    // z 0: a 2x2 square with a 1x1 hole (grouped); z 1: a 3x3 square and a
    // two-point contour; z 3: empty.
    Contour outer(square(0, 0, 2, 2));
    Contour hole(square(0.5f, 0.5f, 1.5f, 1.5f));
    hole.reverse();
    outer.addChild(hole);
    Slice grouped(0, 0.5f, {outer});
    Slice flat(1, 0.5f, {Contour(square(0, 0, 3, 3)), Contour(Points{{0, 0}, {3, 4}})});
    Slice empty(3, 0.25f);

    SliceStack stack;
    stack.addSlices({flat, empty, grouped}, false);
    QCOMPARE(stack.contourCount(), 2 + 2 + 0);
    QCOMPARE(stack.vertexCount(), qint64(8 + 6));
    // Thicknesses become 1, 2 and the last keeps 0.25.
    QCOMPARE(stack.volume(), 1.0 * (4 - 1) + 2.0 * 9);
    QCOMPARE(stack.sideArea(), 1.0 * (8 + 4) + 2.0 * (12 + 10));

    // The same slices in two calls, the lowest last: the totals of the slices already there and
    // of those that arrive (and move below them) come out the same.
    SliceStack twice;
    twice.addSlices({flat, empty}, false);
    twice.addSlices({grouped}, false);
    QCOMPARE(twice.contourCount(), stack.contourCount());
    QCOMPARE(twice.vertexCount(), stack.vertexCount());
    QCOMPARE(twice.volume(), stack.volume());
    QCOMPARE(twice.sideArea(), stack.sideArea());
    QCOMPARE(twice.radius(), stack.radius());
}

void TestSliceStack::bounds()
{
    SliceStack stack;
    stack.addSlices({Slice(2, 0.1f, {Contour(square(-1, 0, 1, 4))}), Slice(-0.5f, 0.1f, {Contour(square(0, -3, 5, 1))}),
                     Slice(7, 0.1f)},
                    false);
    const geom::Bounds3Df &b = stack.bounds();
    QCOMPARE(b.minX, -1.0f);
    QCOMPARE(b.minY, -3.0f);
    QCOMPARE(b.minZ, -0.5f);
    QCOMPARE(b.maxX, 5.0f);
    QCOMPARE(b.maxY, 4.0f);
    QCOMPARE(b.maxZ, 7.0f);

    const SliceStack single = [] {
        SliceStack s;
        s.addSlices({Slice(2, 0.1f, {Contour(square(0, 0, 1, 1))})}, false);
        return s;
    }();
    QCOMPARE(single.bounds().minZ, 2.0f);
    QCOMPARE(single.bounds().maxZ, 2.0f);
}

// Without a contour of three or more vertices there is no box in x and y; the
// stack box must stay empty there, not span the whole float range.
void TestSliceStack::noAreaKeepsEmptyBox_data()
{
    QTest::addColumn<QList<Slice>>("slices");

    QTest::newRow("no contours") << QList<Slice>{Slice(1, 0.1f), Slice(2, 0.1f)};
    QTest::newRow("contours without points") << QList<Slice>{Slice(1, 0.1f, {Contour()}), Slice(2, 0.1f)};
    QTest::newRow("one- and two-point contours")
        << QList<Slice>{Slice(1, 0.1f, {Contour(Points{{5, 5}})}), Slice(2, 0.1f, {Contour(Points{{0, 0}, {1, 1}})})};
}

void TestSliceStack::noAreaKeepsEmptyBox()
{
    QFETCH(QList<Slice>, slices);
    SliceStack stack;
    stack.addSlices(slices, false);
    const geom::Bounds3Df &b = stack.bounds();
    QCOMPARE(b.minX, FLT_MAX);
    QCOMPARE(b.minY, FLT_MAX);
    QCOMPARE(b.maxX, -FLT_MAX);
    QCOMPARE(b.maxY, -FLT_MAX);
    QCOMPARE(b.minZ, 1.0f);
    QCOMPARE(b.maxZ, 2.0f);
    QVERIFY(b.isNull());
}

void TestSliceStack::radius()
{
    // One slice: no z term.
    SliceStack single;
    single.addSlices({Slice(5, 0.1f, {Contour(square(0, 0, 1, 1))})}, false);
    QCOMPARE(single.radius(), std::sqrt(0.5));

    // Centre (0, 0, 1): the corners lie at sqrt(2) in the plane and 1 above.
    SliceStack two;
    two.addSlices({Slice(0, 0.1f, {Contour(square(-1, -1, 1, 1))}), Slice(2, 0.1f, {Contour(square(-1, -1, 1, 1))})},
                  false);
    QCOMPARE(two.radius(), std::sqrt(3.0));

    // The holes of a grouped slice are walked too; an empty slice adds nothing.
    Contour outer(square(-1, -1, 1, 1));
    outer.addChild(Contour(Points{{-4, 0}, {-4, 0.5f}, {-3.5f, 0.5f}}));
    SliceStack grouped;
    grouped.addSlices({Slice(0, 0.1f, {outer}), Slice(100, 0.1f)}, false);
    // Box x -4..1, y -1..1: centre (-1.5, 0, 50).
    QCOMPARE(grouped.radius(), std::sqrt(50.0 * 50.0 + 2.5 * 2.5 + 1.0));

    // A contour of one or two points has no box: the slices whose boxes lie far inside must still
    // give their loose points. Box x/y -10..10, centre (0, 0, 1); the wide slices lie farther by
    // their boxes, the point (30, 0) of the small middle one is the farthest vertex.
    SliceStack loose;
    loose.addSlices({Slice(0, 0.1f, {Contour(square(-10, -10, 10, 10))}),
                     Slice(1, 0.1f, {Contour(square(-1, -1, 1, 1)), Contour(Points{{30, 0}})}),
                     Slice(1.5f, 0.1f, {Contour(square(-1, -1, 1, 1)), Contour(Points{{-0.5f, 0}, {0, 29}})}),
                     Slice(2, 0.1f, {Contour(square(-10, -10, 10, 10))})},
                    false);
    QCOMPARE(loose.radius(), std::sqrt(30.0 * 30.0));
}

// The stack brings every cache up to date, so that copies handed to other
// threads only read them.
void TestSliceStack::leavesCachesClean()
{
    Contour outer(square(0, 0, 4, 4));
    outer.addChild(Contour(square(1, 1, 2, 2)));
    SliceStack stack;
    stack.addSlices({Slice(0, 0.1f, {outer, Contour(square(10, 0, 11, 1))}), squareSlice(1, 0.1f)}, false);
    for (const Slice &s : stack.slices()) {
        QVERIFY(!s.isDirty());
        for (int i = 0; i < s.contourCount(); ++i)
            QVERIFY(!s.contourAt(i).isDirty());
    }
}

void TestSliceStack::matchesSequentialBuild_data()
{
    QTest::addColumn<bool>("shared");
    QTest::addColumn<bool>("handedOver");
    QTest::newRow("slicer-like") << false << false;
    QTest::newRow("slicer-like, handed over") << false << true;
    QTest::newRow("shared and nested contours") << true << false;
    QTest::newRow("shared and nested contours, handed over") << true << true;
}

// Building the stack on every core gives what building it one slice and one contour at a time
// gives, bit for bit: each layer's contours sorted as std::sort orders the contours themselves
// (ties included), and the totals summed in the same order.
void TestSliceStack::matchesSequentialBuild()
{
    QFETCH(bool, shared);
    QFETCH(bool, handedOver);
    const QList<Slice> input = slicerLikeSlices(shared);

    SliceStack stack;
    if (handedOver)
        stack.addSlices(slicerLikeSlices(shared), false);
    else
        stack.addSlices(input, false);

    // The expected order of each layer, from its contours sorted directly.
    QHash<float, QVector<Contour>> expected;
    for (const Slice &s : input) {
        QVector<Contour> sorted = s.contours();
        const auto greater = [](const Contour &a, const Contour &b) { return std::fabs(a.area()) > std::fabs(b.area()); };
        if (!std::is_sorted(sorted.cbegin(), sorted.cend(), greater))
            std::sort(sorted.begin(), sorted.end(), greater);
        expected[s.z()] = sorted;
    }

    const QList<Slice> &built = stack.slices();
    QCOMPARE(built.size(), shared ? 48 + 6 + 1 : 48);
    int contours = 0;
    qint64 vertices = 0;
    double sideArea = 0.0;
    double volume = 0.0;
    geom::Bounds2Df box;
    for (const Slice &s : built) {
        QVERIFY(expected.contains(s.z()));
        const QVector<Contour> &order = expected.value(s.z());
        QCOMPARE(s.contours().size(), order.size());
        double area = 0.0;
        double length = 0.0;
        for (int i = 0; i < order.size(); ++i) {
            const Contour &c = s.contours().at(i);
            QCOMPARE(c.points(), order.at(i).points());
            QCOMPARE(bits(c.area()), bits(order.at(i).area()));
            QCOMPARE(bits(c.length()), bits(order.at(i).length()));
        }
        for (int i = 0; i < s.contourCount(); ++i) {
            area += s.contourAt(i).area();
            length += s.contourAt(i).length();
            vertices += s.contourAt(i).points().size();
        }
        QCOMPARE(bits(s.area()), bits(area));
        QCOMPARE(bits(s.length()), bits(length));
        contours += s.contourCount();
        sideArea += double(s.thickness()) * length;
        volume += double(s.thickness()) * area;
        box.unite(s.boundingRect());
    }
    QCOMPARE(stack.contourCount(), contours);
    QCOMPARE(stack.vertexCount(), vertices);
    QCOMPARE(bits(stack.sideArea()), bits(sideArea));
    QCOMPARE(bits(stack.volume()), bits(volume));
    QCOMPARE(stack.bounds().minX, box.minX);
    QCOMPARE(stack.bounds().maxY, box.maxY);

    // The radius from every vertex of every layer.
    const float cx = (box.minX + box.maxX) * 0.5f;
    const float cy = (box.minY + box.maxY) * 0.5f;
    const double cz = double((stack.bounds().minZ + stack.bounds().maxZ) * 0.5f);
    double radius2 = 0.0;
    for (const Slice &s : built) {
        double r2 = 0.0;
        for (int i = 0; i < s.contourCount(); ++i) {
            for (const Point2Df &p : s.contourAt(i).points()) {
                const float dx = p.x - cx;
                const float dy = p.y - cy;
                r2 = std::max(r2, double(dx) * double(dx) + double(dy) * double(dy));
            }
        }
        if (r2 != 0.0)
            radius2 = std::max(radius2, (double(s.z()) - cz) * (double(s.z()) - cz) + r2);
    }
    QCOMPARE(bits(stack.radius()), bits(std::sqrt(radius2)));
}

void TestSliceStack::sliceIndexAt_data()
{
    QTest::addColumn<float>("z");
    QTest::addColumn<int>("index");

    QTest::newRow("exact") << 2.0f << 1;
    QTest::newRow("just below a slice") << 0.9999995f << 0;
    QTest::newRow("just above a slice") << 1.000001f << -1;
    QTest::newRow("between") << 1.5f << -1;
    QTest::newRow("above all") << 3.0f << -1;
    QTest::newRow("below all") << -1.0f << -1;
    QTest::newRow("NaN") << notANumber << -1;
}

void TestSliceStack::sliceIndexAt()
{
    QFETCH(float, z);
    QFETCH(int, index);
    SliceStack stack;
    stack.addSlices(slicesAt({1.0f, 2.0f}), false);
    QCOMPARE(stack.sliceIndexAt(z), index);
}

void TestSliceStack::sliceLowerBound()
{
    const QList<Slice> slices = slicesAt({1, 2, 2, 3});
    QCOMPARE(::sliceLowerBound(slices, 0), 0);
    QCOMPARE(::sliceLowerBound(slices, 2), 1);
    QCOMPARE(::sliceLowerBound(slices, 2.5f), 3);
    QCOMPARE(::sliceLowerBound(slices, 3.5f), -1);
    QCOMPARE(::sliceLowerBound(QList<Slice>(), 0), -1);
}

void TestSliceStack::removeSlice_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<Floats>("left");

    QTest::newRow("first") << 0 << Floats{2, 3};
    QTest::newRow("last by -1") << -1 << Floats{1, 2};
    QTest::newRow("first by -3") << -3 << Floats{2, 3};
    QTest::newRow("too negative") << -5 << Floats{1, 2, 3};
    QTest::newRow("past the end") << 3 << Floats{1, 2, 3};
}

void TestSliceStack::removeSlice()
{
    QFETCH(int, index);
    QFETCH(Floats, left);

    SliceStack stack;
    stack.addSlices(slicesAt({1, 2, 3}), true);
    QCOMPARE(stack.contourCount(), 0);
    stack.removeSlice(index, false);
    COMPARE_FLOATS(heights(stack), left);
    // Updated even when nothing was removed.
    QCOMPARE(stack.contourCount(), left.size());
}

void TestSliceStack::removeSliceAt()
{
    SliceStack stack;
    stack.addSlices(slicesAt({1, 2, 3}), false);
    QVERIFY(!stack.removeSliceAt(2.5f, false));
    QVERIFY(stack.removeSliceAt(1.9999995f, false));
    COMPARE_FLOATS(heights(stack), (Floats{1, 3}));
    COMPARE_FLOATS(thicknesses(stack), (Floats{2, 0.1f}));
}

void TestSliceStack::insertSlice()
{
    SliceStack stack;
    stack.addSlices(slicesAt({1, 3}), false);

    QCOMPARE(stack.insertSlice(squareSlice(2, 0.1f, 2), false), 1);
    COMPARE_FLOATS(heights(stack), (Floats{1, 2, 3}));
    COMPARE_FLOATS(thicknesses(stack), (Floats{1, 1, 0.1f}));
    QCOMPARE(stack.contourCount(), 3);

    QCOMPARE(stack.insertSlice(squareSlice(4, 0.1f), false), 3);
    QCOMPARE(stack.insertSlice(squareSlice(0, 0.1f), false), 0);
    COMPARE_FLOATS(heights(stack), (Floats{0, 1, 2, 3, 4}));

    // The same height replaces the slice there.
    QCOMPARE(stack.insertSlice(squareSlice(2, 0.1f, 7), false), 2);
    COMPARE_FLOATS(heights(stack), (Floats{0, 1, 2, 3, 4}));
    QCOMPARE(side(stack.slices().at(2)), 7.0f);

    // The inserted slice is ordered like the others.
    Slice mixed(2.5f, 0.1f, {Contour(square(0, 0, 1, 1)), Contour(square(0, 0, 3, 3))});
    const int i = stack.insertSlice(mixed, true);
    QCOMPARE(stack.slices().at(i).contours().at(0).area(), 9.0);
    QCOMPARE(stack.contourCount(), 5); // deferred: totals not yet recomputed
}

// A near-equal height may lie just below the new one, where the search for
// the first slice at or above it does not look.
void TestSliceStack::insertSliceMatchesBelow()
{
    SliceStack stack;
    stack.addSlices(slicesAt({1, 2, 3}), false);

    QCOMPARE(stack.insertSlice(squareSlice(2.00001f, 0.1f, 5), false), 1);
    COMPARE_FLOATS(heights(stack), (Floats{1, 2.00001f, 3}));
    QCOMPARE(side(stack.slices().at(1)), 5.0f);

    // At the top, past every slice.
    QCOMPARE(stack.insertSlice(squareSlice(3.00002f, 0.1f, 6), false), 2);
    COMPARE_FLOATS(heights(stack), (Floats{1, 2.00001f, 3.00002f}));

    // Matches on both sides: the nearer one is replaced.
    SliceStack close;
    close.addSlices(slicesAt({100.0f, 100.0016f}), false);
    QCOMPARE(close.insertSlice(squareSlice(100.0011f, 0.1f, 2), false), 1);
    QCOMPARE(close.insertSlice(squareSlice(100.0003f, 0.1f, 3), false), 0);
    COMPARE_FLOATS(heights(close), (Floats{100.0003f, 100.0011f}));
}

void TestSliceStack::insertContour()
{
    Contour parent(square(0, 0, 10, 10));
    parent.addChild(Contour(square(1, 1, 2, 2)));
    parent.addChild(Contour(square(3, 3, 6, 6)));

    SliceStack stack;
    stack.addSlices(slicesAt({1}), false);
    QCOMPARE(stack.insertSlice(5, parent, false), 1);
    const Slice &s = stack.slices().at(1);
    QCOMPARE(s.format(), 0);
    QCOMPARE(s.contourCount(), 3);
    // Ordered by area: the parent's own points first, then the children.
    QCOMPARE(s.contours().at(0).points(), square(0, 0, 10, 10));
    QVERIFY(s.contours().at(0).children().isEmpty());
    QCOMPARE(s.contours().at(1).points(), square(3, 3, 6, 6));
    QCOMPARE(s.thickness(), 0.0f);

    // A contour without points of its own gives only its children.
    Contour bare;
    bare.addChild(Contour(square(0, 0, 1, 1)));
    QCOMPARE(stack.insertSlice(7, bare, false), 2);
    QCOMPARE(stack.slices().at(2).contourCount(), 1);
}

void TestSliceStack::thicknessRange()
{
    SliceStack stack;
    stack.addSlices({squareSlice(0, 9), squareSlice(1, 9), squareSlice(1.25f, 9), squareSlice(2, 3)}, false);
    QCOMPARE(stack.maxThickness(), 3.0f);
    QCOMPARE(stack.minThickness(), 0.25f);

    // One slice has no range; no thickness goes below 0 for the maximum.
    SliceStack single;
    single.addSlices({squareSlice(1, 0.5f)}, false);
    QCOMPARE(single.minThickness(), 0.0f);
    QCOMPARE(single.maxThickness(), 0.5f);

    // The minimum never exceeds the height of the stack, here 0 as long as no
    // update has measured it.
    SliceStack deferred;
    deferred.addSlices({squareSlice(0, 9), squareSlice(1, 9)}, true);
    QCOMPARE(deferred.minThickness(), 0.0f);
    deferred.update();
    QCOMPARE(deferred.minThickness(), 1.0f);
}

void TestSliceStack::clear()
{
    SliceStack stack;
    stack.addSlices(slicesAt({1, 2}), false);
    QVERIFY(stack.radius() > 0.0);
    stack.clear();
    QVERIFY(stack.slices().isEmpty());
    QCOMPARE(stack.contourCount(), 0);
    QCOMPARE(stack.vertexCount(), qint64(0));
    QCOMPARE(stack.radius(), 0.0);
    QCOMPARE(stack.volume(), 0.0);
    QCOMPARE(stack.sideArea(), 0.0);
    QCOMPARE(stack.bounds().minZ, FLT_MAX);
}

QTEST_APPLESS_MAIN(TestSliceStack)
#include "tst_slicestack.moc"
