#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsRectItem>
#include <QGraphicsTextItem>
#include <QTemporaryDir>
#include <QtTest>

using namespace sliceviewtest;

// Snapping to vertices and to the corners of the part's extent, the marker and the label.
class TestSliceViewSnap : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // A shown view at 10 pixels per millimetre with the scene point (5, 5) on a whole pixel.
    void prepare(SliceView &view, const QVector<Contour> &contours)
    {
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setAnimationsEnabled(false);
        const QString path = dir.filePath("snap.slc");
        QVERIFY(writeSlc(path, {slice(1, 1, contours)}));
        view.openFile(path);
        view.setSlice(1);
        view.zoomToAll();
        view.setZoom(10.0);
        view.setCenter(QPointF(5, 5));
        const QPointF p = view.viewportTransform().map(QPointF(5, 5));
        QCOMPARE(p, QPointF(p.toPoint()));
    }

    // A triangle of material with a hole; the extent's corner (10, 10) is no vertex.
    static QVector<Contour> triangleWithHole()
    {
        return {contour({0, 0, 10, 0, 0, 10}), contour({2, 2, 2, 4, 4, 2})};
    }

    static QPoint pixel(const SliceView &view, const QPointF &scenePoint)
    {
        return view.viewportTransform().map(scenePoint).toPoint();
    }

    static QGraphicsEllipseItem *marker(const SliceView &view)
    {
        const QList<QGraphicsEllipseItem *> found = itemsInGroup<QGraphicsEllipseItem>(view, 0.0);
        return found.isEmpty() ? nullptr : found.first();
    }

    static QString label(const SliceView &view)
    {
        const QList<QGraphicsTextItem *> found = itemsInGroup<QGraphicsTextItem>(view, 100.0);
        return found.isEmpty() ? QString() : found.first()->toPlainText();
    }

    // Moves the mouse to the pixel and gives the position the view reported.
    static QPointF moveTo(SliceView &view, const QPoint &pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QPointF reported(qQNaN(), qQNaN());
        const QMetaObject::Connection c =
            QObject::connect(&view, &SliceView::mouseMove, [&reported](QPointF p) { reported = p; });
        move(view, pos, Qt::NoButton, modifiers);
        QObject::disconnect(c);
        return reported;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    // The cursor may lie on any side of the outline, also outside its bounding rectangle.
    void reach_data()
    {
        QTest::addColumn<QPointF>("vertex");
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<bool>("snaps");
        QTest::newRow("left of the outline") << QPointF(0, 0) << QPoint(-3, 0) << true;
        QTest::newRow("below the outline") << QPointF(0, 0) << QPoint(0, 3) << true;
        QTest::newRow("right of the outline") << QPointF(10, 0) << QPoint(3, 0) << true;
        QTest::newRow("above the outline") << QPointF(0, 10) << QPoint(0, -3) << true;
        QTest::newRow("diagonal outside") << QPointF(0, 0) << QPoint(-2, 2) << true;
        QTest::newRow("inside") << QPointF(0, 0) << QPoint(3, 0) << true;
        QTest::newRow("on the vertex") << QPointF(10, 0) << QPoint(0, 0) << true;
        QTest::newRow("4 px left") << QPointF(0, 0) << QPoint(-4, 0) << false;
        QTest::newRow("4 px right") << QPointF(10, 0) << QPoint(4, 0) << false;
        QTest::newRow("just beyond 3 px") << QPointF(0, 10) << QPoint(-3, -1) << false;
    }

    void reach()
    {
        QFETCH(QPointF, vertex);
        QFETCH(QPoint, offset);
        QFETCH(bool, snaps);
        SliceView view;
        prepare(view, triangleWithHole());
        const QPoint cursor = pixel(view, vertex) + offset;
        const QPointF reported = moveTo(view, cursor);
        QCOMPARE(view.property("Snapped").toBool(), snaps);
        if (snaps) {
            QCOMPARE(reported, vertex);
            QCOMPARE(view.property("SnapPoint").toPointF(), vertex);
            QVERIFY(marker(view));
            QCOMPARE(marker(view)->pos(), vertex);
            QCOMPARE(marker(view)->brush().color(), QColor(Qt::blue));
            QCOMPARE(label(view), QString("(%1, %2)").arg(QString::number(vertex.x()), QString::number(vertex.y())));
        } else {
            QCOMPARE(reported, view.mapToScene(cursor));
            QVERIFY(!marker(view));
            QVERIFY(label(view).isEmpty());
        }
    }

    void colours_data()
    {
        QTest::addColumn<QPointF>("point");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("outer boundary") << QPointF(10, 0) << QColor(Qt::blue);
        QTest::newRow("hole") << QPointF(2, 4) << QColor(Qt::red);
        QTest::newRow("corner of the extent") << QPointF(10, 10) << QColor(Qt::gray);
    }

    void colours()
    {
        QFETCH(QPointF, point);
        QFETCH(QColor, colour);
        SliceView view;
        prepare(view, triangleWithHole());
        QCOMPARE(moveTo(view, pixel(view, point) + QPoint(1, -2)), point);
        QVERIFY(marker(view));
        QCOMPARE(marker(view)->brush().color(), colour);
        QVERIFY(marker(view)->flags() & QGraphicsItem::ItemIgnoresTransformations);
    }

    // Of the vertices within reach, the nearest on screen wins, whatever the order of the
    // outlines or of their points.
    void nearestWins()
    {
        SliceView view;
        const QPointF c(5, 5);
        // The lower outline has a vertex 2.83 px away (2 right, 2 down), the upper one 3 px.
        prepare(view, {contour({5.2f, 4.8f, 8, 2, 8, 8}), contour({5.3f, 5, 9, 9, 1, 9})});
        QCOMPARE(moveTo(view, pixel(view, c)), QPointF(double(5.2f), double(4.8f)));
    }

    // A vertex out of reach that is nearer in x + y does not hide one within reach.
    void reachBeforeRanking()
    {
        SliceView view;
        // 3.5 px right (out of reach) and 2 px right, 2 px down (within).
        prepare(view, {contour({5.35f, 5, 5.2f, 4.8f, 2, 8})});
        QCOMPARE(moveTo(view, pixel(view, QPointF(5, 5))), QPointF(double(5.2f), double(4.8f)));
    }

    void modifierTurnsSnappingOff()
    {
        SliceView view;
        prepare(view, triangleWithHole());
        const QPoint cursor = pixel(view, QPointF(10, 0)) + QPoint(1, 0);
        QCOMPARE(moveTo(view, cursor, Qt::ShiftModifier), view.mapToScene(cursor));
        QVERIFY(!view.property("Snapped").toBool());
        QVERIFY(!marker(view));
        QCOMPARE(moveTo(view, cursor + QPoint(0, 1)), QPointF(10, 0));
    }

    void clicksReportTheSnapPoint()
    {
        SliceView view;
        prepare(view, triangleWithHole());
        QPointF clicked;
        connect(&view, &SliceView::mouseClicked, [&clicked](Qt::MouseButton, QPointF p) { clicked = p; });
        const QPoint cursor = pixel(view, QPointF(0, 10)) + QPoint(2, 1);
        QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, cursor);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, cursor);
        QCOMPARE(clicked, QPointF(0, 10));
    }

    void rulerMarksInTheLabel_data()
    {
        QTest::addColumn<QList<QVector2D>>("ruler");
        QTest::addColumn<QString>("text");
        QTest::newRow("no ruler") << QList<QVector2D>() << "(10, 0)";
        QTest::newRow("first point") << QList<QVector2D>{QVector2D(10, 0)} << "P1 (10, 0)";
        QTest::newRow("second point") << QList<QVector2D>{QVector2D(0, 0), QVector2D(10, 0)} << "P2 (10, 0)";
        QTest::newRow("elsewhere") << QList<QVector2D>{QVector2D(0, 0), QVector2D(0, 10)} << "(10, 0)";
        QTest::newRow("both points here") << QList<QVector2D>{QVector2D(10, 0), QVector2D(10, 0)} << "P2 (10, 0)";
    }

    void rulerMarksInTheLabel()
    {
        QFETCH(QList<QVector2D>, ruler);
        QFETCH(QString, text);
        SliceView view;
        prepare(view, triangleWithHole());
        view.setRulerPoints(ruler);
        moveTo(view, pixel(view, QPointF(10, 0)) + QPoint(-1, 1));
        QCOMPARE(label(view), text);
        const QList<QGraphicsTextItem *> labels = itemsInGroup<QGraphicsTextItem>(view, 100.0);
        QVERIFY(labels.first()->flags() & QGraphicsItem::ItemIgnoresTransformations);
        // 16 pixels to the right of the snap point.
        QCOMPARE(pixel(view, labels.first()->pos()), pixel(view, QPointF(10, 0)) + QPoint(16, 0));
    }

    // The label goes beside the marker, and where that would leave the view (the corners of a
    // part fitted into it lie near its edges), it stays inside all the same, off the marker.
    void labelStaysInsideTheView_data()
    {
        QTest::addColumn<QPoint>("from"); // where the snap point lies: a viewport corner (-1, 0, 1)
        QTest::newRow("middle") << QPoint(0, 0);
        QTest::newRow("right edge") << QPoint(1, 0);
        QTest::newRow("bottom edge") << QPoint(0, 1);
        QTest::newRow("bottom right") << QPoint(1, 1);
        QTest::newRow("top left") << QPoint(-1, -1);
        QTest::newRow("left edge") << QPoint(-1, 0);
    }

    void labelStaysInsideTheView()
    {
        QFETCH(QPoint, from);
        SliceView view;
        prepare(view, triangleWithHole());
        // The corner of the part's extent, moved to 2 pixels from the chosen edges.
        const QPointF corner(10, 10);
        const QRect inside = view.viewport()->rect();
        const QPoint target(from.x() < 0 ? 2 : from.x() > 0 ? inside.width() - 3 : inside.width() / 2,
                            from.y() < 0 ? 2 : from.y() > 0 ? inside.height() - 3 : inside.height() / 2);
        const QPoint now = pixel(view, corner);
        view.setCenter(view.center() + QPointF(now.x() - target.x(), target.y() - now.y()) / view.zoom());
        QCOMPARE(pixel(view, corner), target);

        QCOMPARE(moveTo(view, target), corner);
        QVERIFY(marker(view));
        QCOMPARE(marker(view)->brush().color(), QColor(Qt::gray));
        const QList<QGraphicsTextItem *> labels = itemsInGroup<QGraphicsTextItem>(view, 100.0);
        QCOMPARE(labels.size(), 1);
        const QRectF box(QPointF(pixel(view, labels.first()->pos())), labels.first()->boundingRect().size());
        const QString where = QString("label %1,%2 %3x%4 in %5x%6")
                                  .arg(box.x())
                                  .arg(box.y())
                                  .arg(box.width())
                                  .arg(box.height())
                                  .arg(inside.width())
                                  .arg(inside.height());
        QVERIFY2(QRectF(inside).contains(box), qPrintable(where));
        QVERIFY(!box.contains(QPointF(target)));
        if (from.x() <= 0)
            QCOMPARE(box.left(), double(target.x() + 16));
        else
            QVERIFY(box.right() <= target.x() - 16 && box.right() > target.x() - 17);
        // Its background follows it.
        const QList<QGraphicsRectItem *> backgrounds = itemsInGroup<QGraphicsRectItem>(view, 100.0);
        QCOMPARE(backgrounds.size(), 1);
        QCOMPARE(backgrounds.first()->pos(), labels.first()->pos());
    }

    // After a zoom step the marker stays only while the snap point is within reach.
    void zoomWhileSnapped()
    {
        SliceView view;
        prepare(view, triangleWithHole());
        const QPoint cursor = pixel(view, QPointF(10, 0)) + QPoint(2, 0);
        moveTo(view, cursor);
        QVERIFY(marker(view));
        QWheelEvent notch(QPointF(cursor), QPointF(view.viewport()->mapToGlobal(cursor)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &notch);
        // 2.5 pixels now.
        QVERIFY(marker(view));
        QWheelEvent second(QPointF(cursor), QPointF(view.viewport()->mapToGlobal(cursor)), QPoint(), QPoint(0, 120),
                           Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &second);
        // 3.1 pixels.
        QVERIFY(!marker(view));
        QVERIFY(label(view).isEmpty());
    }

    void noFileNoSnapping()
    {
        SliceView view;
        view.resize(300, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        moveTo(view, QPoint(150, 150));
        QVERIFY(!view.property("Snapped").isValid());
        QVERIFY(!marker(view));
    }
};

QTEST_MAIN(TestSliceViewSnap)
#include "tst_sliceview_snap.moc"
