#include "slicestack.h"

#include <QMatrix4x4>
#include <QTransform>
#include <QtTest>

#include <cfloat>
#include <cmath>

using geom::Point2Df;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(Contour)
Q_DECLARE_METATYPE(Slice)

namespace {

Contour box(float x0, float y0, float x1, float y1)
{
    return Contour(Points{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

bool sameBox(const geom::Bounds2Df &a, const geom::Bounds2Df &b)
{
    return a.minX == b.minX && a.minY == b.minY && a.maxX == b.maxX && a.maxY == b.maxY;
}

// The box update() arrives at from the slice's contours as they are now.
geom::Bounds2Df freshBox(const Slice &s)
{
    return Slice(s.z(), s.thickness(), s.contours()).boundingRect();
}

SliceStack threeSlices()
{
    SliceStack stack;
    stack.addSlices({Slice(0.1f, 0.1f, QVector<Contour>{box(1, 0, 3, 2)}),
                     Slice(0.2f, 0.1f, QVector<Contour>{box(1, 0, 3, 2)}),
                     Slice(0.35f, 0.05f, QVector<Contour>{box(1, 0, 3, 2)})},
                    false);
    return stack;
}

} // namespace

class TestStackTransforms : public QObject
{
    Q_OBJECT

private slots:
    void sliceMirror_data();
    void sliceMirror();
    void sliceMirrorZ();
    void stackMirrorZ();
    void stackMirrorFlipsAnyBox_data();
    void stackMirrorFlipsAnyBox();
    void sliceMappedByTransform();
    void sliceMappedByMatrix();
    void stackMapped_data();
    void stackMapped();
    void mappedBounds_data();
    void mappedBounds();
};

void TestStackTransforms::sliceMirror_data()
{
    QTest::addColumn<QVector<Contour>>("contours");
    QTest::addColumn<uint>("flags");

    const QVector<Contour> square{box(1, 0, 3, 2)};
    const QVector<Contour> flat{Contour(Points{{1, 0}, {1, 1}, {1, 2}})};
    for (const uint flags : {0x1u, 0x2u, 0x4u, 0x8u, 0x5u, 0xFu}) {
        QTest::addRow("square %x", flags) << square << flags;
        // Zero width: the cached box still flips.
        QTest::addRow("flat %x", flags) << flat << flags;
        // The reset box maps onto itself.
        QTest::addRow("empty %x", flags) << QVector<Contour>() << flags;
    }
}

void TestStackTransforms::sliceMirror()
{
    QFETCH(QVector<Contour>, contours);
    QFETCH(uint, flags);
    Slice slice(1.0f, 0.1f, contours);
    const double area = slice.area();
    QCOMPARE(&slice.mirror(flags), &slice);
    // The caches are trusted after the mirror: they must be right.
    QVERIFY(!slice.isDirty());
    QVERIFY(sameBox(slice.boundingRect(), freshBox(slice)));
    QCOMPARE(slice.area(), area);
    QCOMPARE(slice.z(), 1.0f);
}

void TestStackTransforms::sliceMirrorZ()
{
    Slice slice(1.5f, 0.1f, QVector<Contour>{box(1, 0, 3, 2)});
    slice.update();
    slice.mirror(0x30);
    QCOMPARE(slice.z(), -1.5f);
    QCOMPARE(slice.thickness(), 0.1f);
    QCOMPARE(slice.contours().constFirst().points(), box(1, 0, 3, 2).points());
    slice.mirror(0x3);
    QCOMPARE(slice.boundingRect().minX, -3.0f);
    QCOMPARE(slice.boundingRect().maxX, -1.0f);
}

void TestStackTransforms::stackMirrorZ()
{
    SliceStack stack = threeSlices();
    stack.mirror(0x30);
    const QList<Slice> &s = stack.slices();
    QCOMPARE(s.at(0).z(), -0.35f);
    QCOMPARE(s.at(1).z(), -0.2f);
    QCOMPARE(s.at(2).z(), -0.1f);
    // Each slice is as thick as the gap to the one above it; the last keeps
    // its own.
    QCOMPARE(s.at(0).thickness(), 0.35f - 0.2f);
    QCOMPARE(s.at(1).thickness(), 0.2f - 0.1f);
    QCOMPARE(s.at(2).thickness(), 0.2f - 0.1f);
    QCOMPARE(stack.bounds().minZ, -0.35f);
    QCOMPARE(stack.bounds().maxZ, -0.1f);
    QCOMPARE(stack.sliceIndexAt(-0.2f), 1);
    stack.update();
    QVERIFY(stack.volume() > 0.0);
}

void TestStackTransforms::stackMirrorFlipsAnyBox_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<uint>("flags");

    const Slice one(0.5f, 0.1f, QVector<Contour>{box(1, 0, 3, 2)});
    // One slice has a box of no height: x and y flip all the same.
    QTest::newRow("one slice, x") << QList<Slice>{one} << 0x3u;
    QTest::newRow("one slice, y") << QList<Slice>{one} << 0xCu;
    QTest::newRow("one slice, xyz") << QList<Slice>{one} << 0x3Fu;
    QTest::newRow("no contours, x") << QList<Slice>{Slice(0.5f, 0.1f), Slice(0.7f, 0.1f)} << 0x3u;
    QTest::newRow("empty stack") << QList<Slice>() << 0x3Fu;
}

void TestStackTransforms::stackMirrorFlipsAnyBox()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(uint, flags);
    SliceStack stack;
    stack.addSlices(slices, false);
    stack.mirror(flags);
    // The cached box equals the box a fresh update() finds.
    const geom::Bounds3Df mirrored = stack.bounds();
    stack.update();
    const geom::Bounds3Df fresh = stack.bounds();
    QCOMPARE(mirrored.minX, fresh.minX);
    QCOMPARE(mirrored.maxX, fresh.maxX);
    QCOMPARE(mirrored.minY, fresh.minY);
    QCOMPARE(mirrored.maxY, fresh.maxY);
    QCOMPARE(mirrored.minZ, fresh.minZ);
    QCOMPARE(mirrored.maxZ, fresh.maxZ);
}

void TestStackTransforms::sliceMappedByTransform()
{
    Contour outer = box(0, 0, 10, 10);
    outer.addChild(Contour(Points{{2, 2}, {2, 4}, {4, 4}, {4, 2}}));
    const Slice source(1.0f, 0.1f, QVector<Contour>{box(20, 0, 21, 1), outer});
    QCOMPARE(source.format(), 2);
    const Slice m = source.mapped(QTransform::fromTranslate(5, 0), false);
    QCOMPARE(m.z(), 1.0f);
    QCOMPARE(m.thickness(), 0.1f);
    QCOMPARE(m.format(), 2);
    QCOMPARE(m.groups(), source.groups());
    QCOMPARE(m.contourAt(2).points().constFirst(), Point2Df(7, 2));
    QCOMPARE(m.boundingRect().minX, 5.0f);
    QCOMPARE(m.area(), source.area());
    QCOMPARE(source.contourAt(2).points().constFirst(), Point2Df(2, 2));

    // Mirrored in x: material stays counter-clockwise, holes clockwise.
    const Slice mirrored = source.mapped(QTransform::fromScale(-1, 1), false);
    QCOMPARE(mirrored.area(), source.area());
    QCOMPARE(mirrored.contourAt(2).area(), -4.0);
    QCOMPARE(mirrored.contourAt(0).area(), 1.0);
}

void TestStackTransforms::sliceMappedByMatrix()
{
    const Slice source(2.0f, 0.1f, QVector<Contour>{box(0, 0, 1, 1)});
    QMatrix4x4 m;
    m.translate(1, 0, 5);
    m.scale(2, 2, 3);
    const Slice mapped = source.mapped(m, true);
    QCOMPARE(mapped.z(), 11.0f);
    QCOMPARE(mapped.thickness(), float(0.1f * 3.0));
    QCOMPARE(mapped.area(), 4.0);
    QCOMPARE(mapped.boundingRect().minX, 1.0f);
}

void TestStackTransforms::stackMapped_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<float>("firstZ");

    QMatrix4x4 shift;
    shift.translate(10, 0, 1);
    QMatrix4x4 flipZ;
    flipZ.scale(1, 1, -1);
    QMatrix4x4 rotateX;
    rotateX.rotate(180, 1, 0, 0);
    QTest::newRow("translation") << shift << 1.1f;
    QTest::newRow("z reversed") << flipZ << -0.35f;
    QTest::newRow("turned over x") << rotateX << -0.35f;
}

void TestStackTransforms::stackMapped()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(float, firstZ);
    const SliceStack source = threeSlices();
    const SliceStack mapped = source.mapped(matrix);
    const QList<Slice> &s = mapped.slices();
    QCOMPARE(s.size(), 3);
    QVERIFY(qFuzzyCompare(s.at(0).z(), firstZ));
    // Ascending, so thicknesses, volume and side area stay positive and the
    // look-up by height works.
    for (int i = 0; i + 1 < s.size(); ++i) {
        QVERIFY(s.at(i).z() < s.at(i + 1).z());
        QVERIFY(s.at(i).thickness() > 0.0f);
        QCOMPARE(mapped.sliceIndexAt(s.at(i).z()), i);
    }
    QVERIFY(mapped.volume() > 0.0);
    QVERIFY(mapped.sideArea() > 0.0);
    QVERIFY(mapped.bounds().minZ < mapped.bounds().maxZ);
    QCOMPARE(mapped.contourCount(), source.contourCount());
    QCOMPARE(source.slices().at(0).z(), 0.1f);
}

void TestStackTransforms::mappedBounds_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<QVector<float>>("box");

    QMatrix4x4 shift;
    shift.translate(10, 0, 1);
    QMatrix4x4 flipZ;
    flipZ.scale(2, 1, -1);
    QTest::newRow("identity") << QMatrix4x4() << QVector<float>{1, 0, 0.1f, 3, 2, 0.35f};
    QTest::newRow("translation") << shift << QVector<float>{11, 0, 1.1f, 13, 2, 1.35f};
    // The mapped heights come in reverse: still min below max.
    QTest::newRow("z reversed") << flipZ << QVector<float>{2, 0, -0.35f, 6, 2, -0.1f};
}

void TestStackTransforms::mappedBounds()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(QVector<float>, box);
    const geom::Bounds3Df b = threeSlices().mappedBounds(matrix);
    QVERIFY(qFuzzyCompare(b.minX, box.at(0)));
    QCOMPARE(b.minY, box.at(1));
    QVERIFY(qFuzzyCompare(b.minZ, box.at(2)));
    QVERIFY(qFuzzyCompare(b.maxX, box.at(3)));
    QVERIFY(qFuzzyCompare(b.maxY, box.at(4)));
    QVERIFY(qFuzzyCompare(b.maxZ, box.at(5)));

    const geom::Bounds3Df empty = SliceStack().mappedBounds(matrix);
    QCOMPARE(empty.minX, FLT_MAX);
    QCOMPARE(empty.maxZ, -FLT_MAX);
}

QTEST_APPLESS_MAIN(TestStackTransforms)
#include "tst_stacktransforms.moc"
