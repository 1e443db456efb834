#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsLineItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsTextItem>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

using namespace sliceviewtest;

// The grid, the overlay and the ruler marks drawn over the slice.
class TestSliceViewDecorations : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    void open(SliceView &view, const QList<Slice> &slices)
    {
        const QString path = dir.filePath("part.slc");
        QVERIFY(writeSlc(path, slices));
        view.openFile(path);
    }

    struct Grid {
        std::set<double> vertical;    // x of the gray vertical lines
        std::set<double> horizontal;  // y of the gray horizontal lines
        int gray = 0;
        int black = 0;
        int notCosmetic = 0;
    };

    static Grid grid(const SliceView &view)
    {
        Grid g;
        for (QGraphicsLineItem *line : itemsInGroup<QGraphicsLineItem>(view, 1.0)) {
            const QLineF l = line->line();
            if (!line->pen().isCosmetic() || line->pen().widthF() != 0.0)
                ++g.notCosmetic;
            if (line->pen().color() == QColor(Qt::black)) {
                ++g.black;
                continue;
            }
            ++g.gray;
            if (l.x1() == l.x2())
                g.vertical.insert(l.x1());
            else
                g.horizontal.insert(l.y1());
        }
        return g;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    void gridLines_data()
    {
        QTest::addColumn<double>("interval");
        QTest::addColumn<QList<double>>("vertical");
        QTest::addColumn<QList<double>>("horizontal");
        // Lines on the frame belong to the frame only.
        QTest::newRow("interval 1") << 1.0 << QList<double>{1, 2, 3, 4, 5, 6, 7, 8, 9} << QList<double>{1, 2, 3};
        QTest::newRow("half extent") << 5.0 << QList<double>{5} << QList<double>{2};
        QTest::newRow("interval 3") << 3.0 << QList<double>{2, 5, 8} << QList<double>{2};
    }

    void gridLines()
    {
        QFETCH(double, interval);
        QFETCH(QList<double>, vertical);
        QFETCH(QList<double>, horizontal);
        SliceView view;
        view.setGridInterval(interval);
        view.setGridVisible(true);
        open(view, {slice(1, 1, {rectangle(0, 0, 10, 4)})});
        const Grid g = grid(view);
        QCOMPARE(QList<double>(g.vertical.begin(), g.vertical.end()), vertical);
        QCOMPARE(QList<double>(g.horizontal.begin(), g.horizontal.end()), horizontal);
        QCOMPARE(g.black, 4);
        QCOMPARE(g.notCosmetic, 0);
        QGraphicsItem *group = itemsInGroup<QGraphicsLineItem>(view, 1.0).first()->parentItem();
        QCOMPARE(group->opacity(), 0.5);
    }

    void gridFollowsOptions()
    {
        SliceView view;
        // Nothing to draw without a file, but the choice is kept for the next one.
        view.setGridVisible(true);
        QVERIFY(view.isGridVisible());
        QVERIFY(grid(view).black == 0);
        open(view, {slice(1, 1, {rectangle(0, 0, 10, 4)})});
        QCOMPARE(grid(view).gray, 6);

        view.setGridInterval(0.05);
        QCOMPARE(view.gridInterval(), 2.0);
        view.setGridInterval(qQNaN());
        view.setGridInterval(qInf());
        QCOMPARE(view.gridInterval(), 2.0);
        QCOMPARE(grid(view).gray, 6);

        // The current interval does not rebuild the grid.
        QGraphicsItem *before = itemsInGroup<QGraphicsLineItem>(view, 1.0).first();
        view.setGridInterval(2.0);
        QCOMPARE(itemsInGroup<QGraphicsLineItem>(view, 1.0).first(), before);

        view.setGridInterval(0.1);
        QCOMPARE(view.gridInterval(), 0.1);
        QVERIFY(grid(view).gray > 100);
        view.setGridVisible(false);
        QCOMPARE(grid(view).gray + grid(view).black, 0);
    }

    // A fine interval over a big part: a bounded number of lines, still on multiples of the
    // interval, still covering the whole extent.
    void gridLineCap()
    {
        SliceView view;
        view.setGridInterval(0.1);
        view.setGridVisible(true);
        open(view, {slice(1, 1, {rectangle(0, 0, 100000, 50000)})});
        const Grid g = grid(view);
        QVERIFY2(g.gray <= 4 * SliceView::maximumGridSteps + 2, qPrintable(QString::number(g.gray)));
        QVERIFY(g.gray >= 2 * SliceView::maximumGridSteps);
        QCOMPARE(g.black, 4);
        for (double x : g.vertical) {
            const double steps = (x - 50000) / 0.1;
            QVERIFY(std::abs(steps - std::round(steps)) < 1e-3);
        }
        QVERIFY(*g.vertical.begin() < 1000);
        QVERIFY(*g.vertical.rbegin() > 99000);
    }

    void overlay()
    {
        SliceView view;
        open(view, {slice(1, 1, {rectangle(0, 0, 10, 10), rectangle(2, 2, 3, 3, true)}),
                    slice(2, 1, {rectangle(0, 0, 5, 5)})});
        // Nothing shown: an empty overlay.
        view.grabOverlay();
        QVERIFY(itemsInGroup<QGraphicsPolygonItem>(view, 2.0).isEmpty());

        view.setSlice(1);
        view.grabOverlay();
        QList<QGraphicsPolygonItem *> copies = itemsInGroup<QGraphicsPolygonItem>(view, 2.0);
        // Fill and outline of each contour give one copy each.
        QCOMPARE(copies.size(), 4);
        int cyan = 0;
        int magenta = 0;
        for (QGraphicsPolygonItem *copy : copies) {
            QCOMPARE(copy->pen().style(), Qt::DashLine);
            QVERIFY(copy->pen().isCosmetic());
            QCOMPARE(copy->brush().style(), Qt::NoBrush);
            const QColor c = copy->pen().color();
            if (c == QColor(Qt::cyan)) {
                ++cyan;
                QCOMPARE(copy->polygon().boundingRect(), QRectF(0, 0, 10, 10));
            } else if (c == QColor(Qt::magenta)) {
                ++magenta;
                QCOMPARE(copy->polygon().boundingRect(), QRectF(2, 2, 3, 3));
            }
        }
        QCOMPARE(cyan, 2);
        QCOMPARE(magenta, 2);

        // Stays over the next slice; a second grab replaces it.
        view.setSlice(2);
        QCOMPARE(itemsInGroup<QGraphicsPolygonItem>(view, 2.0).size(), 4);
        view.grabOverlay();
        QCOMPARE(itemsInGroup<QGraphicsPolygonItem>(view, 2.0).size(), 2);
        view.clearOverlay();
        QVERIFY(itemsInGroup<QGraphicsPolygonItem>(view, 2.0).isEmpty());
    }

    void rulerMarks()
    {
        SliceView view;
        view.setRulerPoints({QVector2D(1, 2)});
        QList<QGraphicsEllipseItem *> marks = itemsInGroup<QGraphicsEllipseItem>(view, 2.0);
        QCOMPARE(marks.size(), 1);
        QCOMPARE(marks.first()->pos(), QPointF(1, 2));
        QCOMPARE(marks.first()->zValue(), 1.0);
        QVERIFY(itemsInGroup<QGraphicsLineItem>(view, 2.0).isEmpty());

        view.setRulerPoints({QVector2D(1, 2), QVector2D(4, 6)});
        marks = itemsInGroup<QGraphicsEllipseItem>(view, 2.0);
        QCOMPARE(marks.size(), 2);
        for (QGraphicsEllipseItem *mark : marks) {
            QVERIFY(mark->flags() & QGraphicsItem::ItemIgnoresTransformations);
            QCOMPARE(mark->rect(), QRectF(-3, -3, 6, 6));
            QCOMPARE(mark->pen().color(), QColor(Qt::green));
            QCOMPARE(mark->brush().color(), QColor(Qt::yellow));
        }
        QCOMPARE(marks.at(1)->pos(), QPointF(4, 6));
        QCOMPARE(marks.at(1)->zValue(), 2.0);
        const QList<QGraphicsLineItem *> lines = itemsInGroup<QGraphicsLineItem>(view, 2.0);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first()->line(), QLineF(1, 2, 4, 6));
        const QList<QGraphicsTextItem *> texts = itemsInGroup<QGraphicsTextItem>(view, 2.0);
        QCOMPARE(texts.size(), 1);
        QCOMPARE(texts.first()->toPlainText(), QString("5"));
        QCOMPARE(texts.first()->defaultTextColor(), QColor(Qt::red));
        QCOMPARE(texts.first()->pos(), QPointF(2.5, 4));
        QVERIFY(texts.first()->flags() & QGraphicsItem::ItemIgnoresTransformations);

        view.setRulerPoints({});
        QVERIFY(itemsInGroup<QGraphicsEllipseItem>(view, 2.0).isEmpty());
        QVERIFY(itemsInGroup<QGraphicsTextItem>(view, 2.0).isEmpty());
    }
};

QTEST_MAIN(TestSliceViewDecorations)
#include "tst_sliceview_decorations.moc"
