#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QGraphicsPolygonItem>
#include <QTemporaryDir>
#include <QtTest>

using namespace sliceviewtest;

// Slices with very many contours, as lattices and supports give: the view builds their items
// in time proportional to the contours, and contours it cannot draw cost it nothing.
class TestSliceViewDense : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // A grid of n unit squares, every third one a hole, each square one millimetre apart.
    static QVector<Contour> squares(int n)
    {
        QVector<Contour> contours;
        contours.reserve(n);
        const int columns = 400;
        for (int i = 0; i < n; ++i)
            contours.append(rectangle(float(i % columns) * 2.0f, float(i / columns) * 2.0f, 1, 1, i % 3 == 2));
        return contours;
    }

    // The shown slice's fills (z -1) and outlines (z 0), each in the order of the contours.
    static QList<QGraphicsPolygonItem *> sliceItems(const SliceView &view, qreal z)
    {
        const QList<QGraphicsPolygonItem *> found = itemsInGroup<QGraphicsPolygonItem>(view, 0.0);
        QList<QGraphicsPolygonItem *> ordered;
        if (found.isEmpty())
            return ordered;
        // Siblings are kept in stacking order: by z, then in the order they were made.
        const QList<QGraphicsItem *> children = found.first()->parentItem()->childItems();
        for (QGraphicsItem *child : children) {
            QGraphicsPolygonItem *polygon = qgraphicsitem_cast<QGraphicsPolygonItem *>(child);
            if (polygon && polygon->zValue() == z)
                ordered.append(polygon);
        }
        return ordered;
    }

    // Every drawable contour has a fill under its outline, all in one group and nothing else.
    static void checkPairs(const SliceView &view, int contours)
    {
        const QList<QGraphicsPolygonItem *> fills = sliceItems(view, -1.0);
        const QList<QGraphicsPolygonItem *> outlines = sliceItems(view, 0.0);
        QCOMPARE(itemsInGroup<QGraphicsPolygonItem>(view, 0.0).size(), 2 * contours);
        QCOMPARE(fills.size(), contours);
        QCOMPARE(outlines.size(), contours);
        for (int i = 0; i < contours; ++i) {
            QCOMPARE(fills.at(i)->polygon(), outlines.at(i)->polygon());
            QCOMPARE(fills.at(i)->fillRule(), Qt::WindingFill);
            QCOMPARE(outlines.at(i)->brush().style(), Qt::NoBrush);
        }
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    void manyContours_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("30000") << 30000;
        QTest::newRow("100000") << 100000;
    }

    void manyContours()
    {
        QFETCH(int, count);
        const QString path = dir.filePath("dense.slc");
        QVERIFY(writeSlc(path, {slice(1, 1, {rectangle(0, 0, 1, 1)}), slice(2, 1, squares(count))}));
        // Shown, as in the window: a scene with a view is where building items used to grow
        // with the square of their number.
        SliceView view;
        view.resize(640, 480);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setAnimationsEnabled(false);
        view.openFile(path);
        QCOMPARE(view.sliceCount(), 2);
        view.setSlice(2);
        checkPairs(view, count);
        int holes = 0;
        for (QGraphicsPolygonItem *outline : sliceItems(view, 0.0))
            holes += outline->pen().color() == QColor(Qt::red);
        QCOMPARE(holes, count / 3);

        // Switching away drops them all; the overlay copies every outline.
        view.grabOverlay();
        // One dashed copy of each fill and each outline.
        QCOMPARE(itemsInGroup<QGraphicsPolygonItem>(view, 2.0).size(), 2 * count);
        view.setSlice(1);
        checkPairs(view, 1);
        view.clearOverlay();
        view.setShowVertices(true);
        view.setSlice(2);
        checkPairs(view, count);
        view.zoomToAll();
        QCoreApplication::processEvents();
        view.setSlice(1);
        checkPairs(view, 1);
    }

    // Switching keeps what each item shows true to the new slice, whatever the old one held:
    // outline and fill of material and holes, the polygon, the count.
    void switchingShowsEachSliceAsItIs()
    {
        // Sides 8, 6, 4, ... (largest first after sorting); every second contour a hole.
        auto squaresOf = [](int n, bool holeFirst) {
            QVector<Contour> contours;
            for (int i = 0; i < n; ++i)
                contours.append(rectangle(0, 0, float(2 * (n - i)), float(2 * (n - i)), (i % 2 == 0) == holeFirst));
            return contours;
        };
        const QString path = dir.filePath("switch.slc");
        QVERIFY(writeSlc(path, {slice(1, 1, squaresOf(3, false)), slice(2, 1, squaresOf(1, true)),
                                slice(3, 1, squaresOf(5, true))}));
        SliceView view;
        view.openFile(path);
        for (int n : {1, 2, 3, 1, 3, 2}) {
            view.setShowVertices(n == 3);
            view.setSlice(n);
            const int count = n == 1 ? 3 : n == 2 ? 1 : 5;
            const bool holeFirst = n != 1;
            checkPairs(view, count);
            const QList<QGraphicsPolygonItem *> fills = sliceItems(view, -1.0);
            const QList<QGraphicsPolygonItem *> outlines = sliceItems(view, 0.0);
            for (int i = 0; i < count; ++i) {
                const bool hole = (i % 2 == 0) == holeFirst;
                QCOMPARE(outlines.at(i)->polygon().boundingRect().width(), 2.0 * (count - i));
                QCOMPARE(outlines.at(i)->pen().color(), hole ? QColor(Qt::red) : QColor(Qt::blue));
                QCOMPARE(fills.at(i)->brush().color(), hole ? QColor(Qt::white) : QColor(112, 146, 190, 64));
                QCOMPARE(fills.at(i)->pen().style(), hole ? Qt::SolidLine : Qt::NoPen);
            }
        }
    }

    // Boundaries of fewer than 3 vertices enclose nothing: they get no item, however many there
    // are, and the polygons around them are shown as usual.
    void undrawableContours_data()
    {
        QTest::addColumn<int>("empty");
        QTest::addColumn<int>("degenerate");
        QTest::newRow("few") << 3 << 2;
        QTest::newRow("a million empty") << 1000000 << 0;
    }

    void undrawableContours()
    {
        QFETCH(int, empty);
        QFETCH(int, degenerate);
        QVector<Contour> contours(empty);
        for (int i = 0; i < degenerate; ++i) {
            contours.append(contour({0, 0}));
            contours.append(contour({0, 0, 5, 5}));
        }
        contours.append(rectangle(0, 0, 4, 4));
        contours.append(contour({1, 1, 1, 2, 2, 1}));
        const QString path = dir.filePath("empty.slc");
        QVERIFY(writeSlc(path, {slice(1, 1, contours)}));
        SliceView view;
        view.openFile(path);
        QCOMPARE(view.sliceCount(), 1);
        QCOMPARE(view.slices().first().contourCount(), empty + 2 * degenerate + 2);
        view.setSlice(1);
        checkPairs(view, 2);
        // Largest first: the square, then the triangular hole.
        const QList<QGraphicsPolygonItem *> outlines = sliceItems(view, 0.0);
        QCOMPARE(outlines.at(0)->pen().color(), QColor(Qt::blue));
        QCOMPARE(outlines.at(1)->pen().color(), QColor(Qt::red));
        QCOMPARE(outlines.at(1)->polygon().size(), 3);
        QCOMPARE(view.bounds(), QRectF(0, 0, 4, 4));
    }
};

QTEST_MAIN(TestSliceViewDense)
#include "tst_sliceview_dense.moc"
