#include "mainwindowfixture.h"

#include <QTemporaryDir>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using namespace fixture;

namespace {

// One wheel notch as the windowing system delivers it: to the window, at a point in it, so
// that the application finds the widget under it and propagates what that widget leaves.
void turnWheelAt(MainWindow &window, QWidget *over, int delta)
{
    const QPoint local = over->mapTo(&window, over->rect().center());
    QWindowSystemInterface::handleWheelEvent(window.windowHandle(), QPointF(local),
                                             QPointF(window.mapToGlobal(local)), QPoint(), QPoint(0, delta));
    QWindowSystemInterface::flushWindowSystemEvents();
    QCoreApplication::processEvents();
}

} // namespace

class TestMainWindowWheel : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString fortySlices;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
        fortySlices = dir.filePath("forty.slc");
        QVERIFY(writeSlc(fortySlices, slices(40)));
    }

    void wheelGoesToWhatIsUnderTheCursor_data()
    {
        QTest::addColumn<QString>("over");
        QTest::addColumn<int>("delta");
        // Slices moved by one notch.
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("zooms");
        QTest::newRow("view, up") << "graphicsView" << 120 << 0 << true;
        QTest::newRow("view, down") << "graphicsView" << -120 << 0 << true;
        QTest::newRow("slider, up") << "sliceSlider" << 120 << 1 << false;
        QTest::newRow("slider, down") << "sliceSlider" << -120 << -1 << false;
        QTest::newRow("status bar") << "statusbar" << 120 << 1 << false;
    }
    void wheelGoesToWhatIsUnderTheCursor()
    {
        QFETCH(QString, over);
        QFETCH(int, delta);
        QFETCH(int, step);
        QFETCH(bool, zooms);
        DialogScript script;
        MainWindow window;
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.openFile(fortySlices);
        view(window)->setAnimationsEnabled(false);
        QCoreApplication::processEvents();
        slider(window)->setValue(10);
        const qreal zoom = view(window)->zoom();

        QWidget *target = over == "statusbar" ? window.statusBar() : window.findChild<QWidget *>(over);
        QVERIFY(target);
        for (int notch = 1; notch <= 3; ++notch) {
            turnWheelAt(window, target, delta);
            QCOMPARE(slider(window)->value(), 10 + notch * step);
        }
        QCOMPARE(view(window)->currentSlice(), 10 + 3 * step);
        QCOMPARE(view(window)->zoom() != zoom, zooms);
    }
};

QTEST_MAIN(TestMainWindowWheel)
#include "tst_mainwindow_wheel.moc"
