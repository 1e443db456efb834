#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QOpenGLWidget>
#include <QPropertyAnimation>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace sliceviewtest;

Q_DECLARE_METATYPE(QList<Slice>)

// Zoom, pan and fit, and what the view reports of the mouse.
class TestSliceViewNavigation : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // A shown 400 x 300 view on a 10 x 4 mm part, fitted, with animations as asked.
    void prepare(SliceView &view, bool animations, const QList<Slice> &slices = {slice(1, 1, {rectangle(0, 0, 10, 4)})})
    {
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setAnimationsEnabled(false);
        const QString path = dir.filePath("part.slc");
        QVERIFY(writeSlc(path, slices));
        view.openFile(path);
        view.setSlice(1);
        view.zoomToAll();
        view.setAnimationsEnabled(animations);
    }

    // What fitting a rectangle of that size gives, with a margin of 2 pixels on each side.
    static double fitZoom(const SliceView &view, const QSizeF &size)
    {
        const QSize port = view.viewport()->size();
        return std::min((port.width() - 4) / size.width(), (port.height() - 4) / size.height());
    }

    static bool near(double a, double b, double relative = 1e-6)
    {
        return std::abs(a - b) <= relative * std::max(std::abs(a), std::abs(b));
    }

    static bool near(const QPointF &a, const QPointF &b, double tolerance = 1e-6)
    {
        return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
    }

    static void wheel(SliceView &view, const QPoint &pos, int delta)
    {
        QWheelEvent event(QPointF(pos), QPointF(view.viewport()->mapToGlobal(pos)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
    }

    static int animationCount(const SliceView &view)
    {
        int n = 0;
        for (QPropertyAnimation *a : view.findChildren<QPropertyAnimation *>())
            n += a->state() == QAbstractAnimation::Running;
        return n;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    void zoomBounds_data()
    {
        QTest::addColumn<double>("requested");
        QTest::addColumn<double>("expected");
        QTest::newRow("inside") << 3.5 << 3.5;
        QTest::newRow("above the upper bound") << 1e6 << SliceView::maximumZoom;
        QTest::newRow("infinite") << qInf() << SliceView::maximumZoom;
        QTest::newRow("below the lower bound") << 1e-9 << SliceView::minimumZoom;
        QTest::newRow("zero") << 0.0 << SliceView::minimumZoom;
        QTest::newRow("negative") << -2.0 << SliceView::minimumZoom;
    }

    void zoomBounds()
    {
        QFETCH(double, requested);
        QFETCH(double, expected);
        SliceView view;
        prepare(view, false);
        const QPointF centre = view.center();
        view.setZoom(requested);
        QCOMPARE(view.zoom(), expected);
        // Always a zoom about the centre: scale (z, -z), the centre stays.
        QCOMPARE(view.transform().m22(), -expected);
        QVERIFY(near(view.center(), centre, 1e-3));
        view.setZoomToPoint(requested);
        QCOMPARE(view.zoom(), expected);

        view.setZoom(2.0);
        view.setZoom(qQNaN());
        QCOMPARE(view.zoom(), 2.0);
    }

    // However far the user zoomed out, Zoom to All brings the part back.
    void zoomToAllRecovers()
    {
        SliceView view;
        prepare(view, false);
        const double fitted = view.zoom();
        QVERIFY(near(fitted, fitZoom(view, QSizeF(10, 4))));
        QVERIFY(near(view.center(), QPointF(5, 2), 1e-3));

        for (int i = 0; i < 200; ++i)
            view.zoomOut();
        QCOMPARE(view.zoom(), SliceView::minimumZoom);
        view.setCenter(QPointF(1e9, -1e9));
        view.zoomToAll();
        QVERIFY(near(view.zoom(), fitted));
        QVERIFY(near(view.center(), QPointF(5, 2), 1e-3));

        for (int i = 0; i < 200; ++i)
            view.zoomIn();
        QCOMPARE(view.zoom(), SliceView::maximumZoom);
        // A target compounded beyond the bound does not swallow the next Zoom Out.
        view.zoomOut();
        QVERIFY(near(view.zoom(), SliceView::maximumZoom / 1.4f));
        view.zoomToAll();
        QVERIFY(near(view.zoom(), fitted));
    }

    void zoomToAllShapes_data()
    {
        QTest::addColumn<QList<Slice>>("slices");
        QTest::addColumn<QSizeF>("fitted");
        QTest::addColumn<QPointF>("centre");
        QTest::newRow("wide") << QList<Slice>{slice(1, 1, {rectangle(0, 0, 10, 4)})} << QSizeF(10, 4) << QPointF(5, 2);
        QTest::newRow("tall") << QList<Slice>{slice(1, 1, {rectangle(-5, -10, 2, 20)})} << QSizeF(2, 20) << QPointF(-4, 0);
        // No extent in y: fitted 2 mm high.
        QTest::newRow("flat") << QList<Slice>{slice(1, 1, {contour({0, 1, 20, 1, 10, 1})})} << QSizeF(20, 2) << QPointF(10, 1);
    }

    void zoomToAllShapes()
    {
        QFETCH(QList<Slice>, slices);
        QFETCH(QSizeF, fitted);
        QFETCH(QPointF, centre);
        SliceView view;
        prepare(view, false, slices);
        QVERIFY2(near(view.zoom(), fitZoom(view, fitted)), qPrintable(QString::number(view.zoom())));
        QVERIFY(near(view.center(), centre, 1e-3));
    }

    void zoomToAllWithoutFile()
    {
        SliceView view;
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.zoomToAll();
        // The logo fills the view.
        const QRectF logo = view.scene()->itemsBoundingRect();
        QVERIFY(!logo.isEmpty());
        const QRectF shown = view.mapToScene(view.viewport()->rect()).boundingRect();
        QVERIFY(shown.contains(logo));
        QVERIFY(shown.width() < logo.width() * 1.5 || shown.height() < logo.height() * 1.5);
    }

    void composesWithoutAnimations()
    {
        SliceView view;
        prepare(view, false);
        const double start = view.zoom();
        view.zoomIn();
        view.zoomIn();
        QVERIFY(near(view.zoom(), start * 1.4f * 1.4f));
        QCOMPARE(animationCount(view), 0);
        view.zoomOut();
        QVERIFY(near(view.zoom(), start * 1.4f));
        wheel(view, QPoint(200, 150), 120);
        wheel(view, QPoint(200, 150), 120);
        QVERIFY(near(view.zoom(), start * 1.4f * 1.25 * 1.25));
    }

    void animatedZoomCompounds()
    {
        SliceView view;
        prepare(view, true);
        const double start = view.zoom();
        view.zoomIn();
        view.zoomIn();
        QCOMPARE(animationCount(view), 1);
        QVERIFY(view.zoom() < start * 1.96 * 0.999);
        QTRY_VERIFY(animationCount(view) == 0);
        QVERIFY(near(view.zoom(), start * 1.4f * 1.4f));
    }

    void disablingAnimationsFinishesThem()
    {
        SliceView view;
        prepare(view, true);
        const double start = view.zoom();
        view.zoomIn();
        view.setAnimationsEnabled(false);
        QVERIFY(near(view.zoom(), start * 1.4f));
        view.zoomIn();
        QVERIFY(near(view.zoom(), start * 1.4f * 1.4f));
    }

    void wheelFactor_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<double>("factor");
        QTest::newRow("one notch") << 120 << 1.25;
        QTest::newRow("two notches") << 240 << 1.25 * 1.25;
        QTest::newRow("half a notch") << 60 << std::sqrt(1.25);
        QTest::newRow("one notch back") << -120 << 1 / 1.25;
        QTest::newRow("fine step back") << -8 << std::pow(1.25, -8 / 120.0);
        QTest::newRow("no delta") << 0 << 1.0;
    }

    // The scene point under the cursor stays there.
    void wheelFactor()
    {
        QFETCH(int, delta);
        QFETCH(double, factor);
        SliceView view;
        prepare(view, false);
        const double start = view.zoom();
        const QPoint cursor(100, 80);
        const QPointF under = view.mapToScene(cursor);
        wheel(view, cursor, delta);
        QVERIFY2(near(view.zoom(), start * factor), qPrintable(QString::number(view.zoom() / start)));
        QVERIFY(near(view.mapToScene(cursor), under, 1e-3));
    }

    void wheelIsMonotonic()
    {
        double previous = 0.0;
        for (int delta : {-480, -240, -120, -60, -15, -1, 1, 15, 60, 120, 240, 480}) {
            SliceView view;
            prepare(view, false);
            wheel(view, QPoint(200, 150), delta);
            QVERIFY2(view.zoom() > previous, qPrintable(QString::number(delta)));
            previous = view.zoom();
        }
    }

    void wheelWithoutDeltaDoesNothing()
    {
        SliceView view;
        prepare(view, true);
        const QTransform before = view.transform();
        wheel(view, QPoint(20, 20), 0);
        QCOMPARE(animationCount(view), 0);
        QCOMPARE(view.transform(), before);
    }

    // Down zooms out, up zooms in, about the press point; the factor depends on the distance
    // dragged, not on how the moves split it.
    void rightDrag_data()
    {
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<double>("factor");
        QTest::newRow("10 down") << QList<int>{10} << 1 / 1.1;
        QTest::newRow("10 up") << QList<int>{-10} << 1.1;
        QTest::newRow("20 down in two moves") << QList<int>{10, 10} << 1 / (1.1 * 1.1);
        QTest::newRow("20 down in one move") << QList<int>{20} << 1 / (1.1 * 1.1);
        QTest::newRow("there and back") << QList<int>{-50, 50} << 1.0;
        QTest::newRow("100 up") << QList<int>{-100} << std::pow(1.1, 10);
        QTest::newRow("150 up") << QList<int>{-150} << std::pow(1.1, 15);
    }

    void rightDrag()
    {
        QFETCH(QList<int>, moves);
        QFETCH(double, factor);
        SliceView view;
        prepare(view, false);
        const double start = view.zoom();
        QPoint pos(150, 140);
        const QPointF pressed = view.mapToScene(pos);
        sendMouse(view, QEvent::MouseButtonPress, pos, Qt::RightButton, Qt::RightButton);
        for (int dy : moves) {
            pos.ry() += dy;
            move(view, pos, Qt::RightButton);
        }
        QVERIFY2(near(view.zoom(), start * factor, 1e-5), qPrintable(QString::number(view.zoom() / start)));
        QVERIFY(near(view.mapToScene(QPoint(150, 140)), pressed, 1e-3));
        sendMouse(view, QEvent::MouseButtonRelease, pos, Qt::RightButton, Qt::NoButton);
    }

    void rightDragIsMonotonic()
    {
        double previous = 0.0;
        for (int dy : {200, 120, 100, 60, 10, 1, -1, -10, -60, -99, -100, -101, -150, -250}) {
            SliceView view;
            prepare(view, false);
            sendMouse(view, QEvent::MouseButtonPress, QPoint(200, 150), Qt::RightButton, Qt::RightButton);
            move(view, QPoint(200, 150 + dy), Qt::RightButton);
            QVERIFY2(view.zoom() > previous, qPrintable(QString::number(dy)));
            previous = view.zoom();
        }
    }

    void leftDragPans()
    {
        SliceView view;
        prepare(view, false);
        const double zoom = view.zoom();
        const QPointF grabbed = view.mapToScene(QPoint(100, 100));
        sendMouse(view, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton, Qt::LeftButton);
        move(view, QPoint(130, 90), Qt::LeftButton);
        move(view, QPoint(170, 60), Qt::LeftButton);
        QVERIFY(near(view.mapToScene(QPoint(170, 60)), grabbed, 1e-3));
        QCOMPARE(view.zoom(), zoom);
    }

    void doubleClickCentres()
    {
        SliceView view;
        prepare(view, true);
        const QPointF target = view.mapToScene(QPoint(50, 60));
        sendMouse(view, QEvent::MouseButtonDblClick, QPoint(50, 60), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(!near(view.center(), target, 1e-2));
        QTRY_VERIFY(animationCount(view) == 0);
        QVERIFY(near(view.center(), target, 1e-3));
    }

    void centreProperty()
    {
        SliceView view;
        prepare(view, false);
        const double zoom = view.zoom();
        view.setCenter(QPointF(-3.25, 17.5));
        QVERIFY(near(view.center(), QPointF(-3.25, 17.5), 1e-3));
        QCOMPARE(view.zoom(), zoom);
        QCOMPARE(view.property("center").toPointF(), view.center());
        view.setProperty("zoom", 12.0);
        QCOMPARE(view.property("zoomToPoint").toDouble(), 12.0);
    }

    void resizeKeepsCentre()
    {
        SliceView view;
        prepare(view, false);
        view.setCenter(QPointF(3, 1));
        view.viewport()->repaint();
        view.resize(260, 420);
        QVERIFY(near(view.center(), QPointF(3, 1), 0.05));
    }

    void mouseSignals()
    {
        SliceView view;
        prepare(view, false);
        QList<QPair<Qt::MouseButton, QPointF>> clicked;
        QList<QPointF> moved;
        int left = 0;
        connect(&view, &SliceView::mouseClicked, [&clicked](Qt::MouseButton b, QPointF p) { clicked.append(qMakePair(b, p)); });
        connect(&view, &SliceView::mouseMove, [&moved](QPointF p) { moved.append(p); });
        connect(&view, &SliceView::mouseLeave, [&left]() { ++left; });

        // Press and release in place: a click with the button released.
        QTest::mousePress(view.viewport(), Qt::RightButton, Qt::NoModifier, QPoint(40, 50));
        QTest::mouseRelease(view.viewport(), Qt::RightButton, Qt::NoModifier, QPoint(40, 50));
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.at(0).first, Qt::RightButton);
        QVERIFY(near(clicked.at(0).second, view.mapToScene(QPoint(40, 50))));

        // A move to the same place reports nothing; a move elsewhere reports the scene point.
        moved.clear();
        move(view, QPoint(40, 50));
        QCOMPARE(moved.size(), 0);
        move(view, QPoint(45, 52));
        QCOMPARE(moved.size(), 1);
        QVERIFY(near(moved.at(0), view.mapToScene(QPoint(45, 52))));

        // Press, move, release: no click.
        clicked.clear();
        QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
        move(view, QPoint(64, 60), Qt::LeftButton);
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(64, 60));
        QCOMPARE(clicked.size(), 0);

        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&view, &leave);
        QCOMPARE(left, 1);
    }

    // The view only passes drags on; the window decides what it takes.
    void dragAndDropSignals()
    {
        SliceView view;
        prepare(view, false);
        QList<QDragEnterEvent *> entered;
        QList<QDropEvent *> dropped;
        connect(&view, &SliceView::dragEnter, [&entered](QDragEnterEvent *e) {
            entered.append(e);
            e->acceptProposedAction();
        });
        connect(&view, &SliceView::drop, [&dropped](QDropEvent *e) { dropped.append(e); });

        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(dir.filePath("part.slc"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &enter);
        QCOMPARE(entered, QList<QDragEnterEvent *>{&enter});
        QVERIFY(enter.isAccepted());

        // The acceptance of the enter event stands while the drag moves.
        QDragMoveEvent dragMove(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        dragMove.accept();
        QApplication::sendEvent(view.viewport(), &dragMove);
        QVERIFY(dragMove.isAccepted());

        QDropEvent dropEvent(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &dropEvent);
        QCOMPARE(dropped, QList<QDropEvent *>{&dropEvent});
        // Nothing else reacted: the view shows what it showed.
        QCOMPARE(view.sliceCount(), 1);
    }

    // Without OpenGL (as on the offscreen platform) the view falls back to a plain viewport.
    void openGLViewport()
    {
        SliceView view;
        prepare(view, false);
        for (bool on : {true, false, true}) {
            QWidget *before = view.viewport();
            const bool openGL = view.setOpenGLEnabled(on);
            QCOMPARE(view.isOpenGLEnabled(), openGL);
            QVERIFY(!openGL || on);
            QVERIFY(view.viewport() != before);
            QCOMPARE(qobject_cast<QOpenGLWidget *>(view.viewport()) != nullptr, openGL);
            QVERIFY(view.viewport()->testAttribute(Qt::WA_MouseTracking));
        }
        int moved = 0;
        connect(&view, &SliceView::mouseMove, [&moved]() { ++moved; });
        move(view, QPoint(33, 44));
        QCOMPARE(moved, 1);
    }
};

QTEST_MAIN(TestSliceViewNavigation)
#include "tst_sliceview_navigation.moc"
