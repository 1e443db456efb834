#include "mainwindowfixture.h"

#include <QCursor>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

using namespace fixture;

Q_DECLARE_METATYPE(QList<int>)

namespace {

QString message(const MainWindow &window)
{
    return window.statusBar()->currentMessage();
}

void click(MainWindow &window, Qt::MouseButton button, double x, double y)
{
    emit view(window)->mouseClicked(button, QPointF(x, y));
}

void move(MainWindow &window, double x, double y)
{
    emit view(window)->mouseMove(QPointF(x, y));
}

void turnWheel(MainWindow &window, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &event);
}

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

// A window on the screen, showing the file, without zoom animations.
bool showWithFile(MainWindow &window, const QString &path)
{
    window.resize(800, 600);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    window.openFile(path);
    view(window)->setAnimationsEnabled(false);
    QCoreApplication::processEvents();
    return true;
}

} // namespace

class TestMainWindowStatusBar : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString threeSlices; // z 1.0, 1.5, 2.0, each 0.5 thick
    QString fortySlices;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
        threeSlices = dir.filePath("three.slc");
        QVERIFY(writeSlc(threeSlices, slices(3)));
        fortySlices = dir.filePath("forty.slc");
        QVERIFY(writeSlc(fortySlices, slices(40)));
    }
    void init()
    {
        QSettings().clear();
        QCursor::setPos(-10000, -10000);
    }

    void cursorWithoutFile()
    {
        DialogScript script;
        MainWindow window;
        move(window, 1.5, -2);
        QCOMPARE(message(window), QStringLiteral("X: 1.500  Y: -2.000"));
        emit view(window)->mouseLeave();
        QCOMPARE(message(window), QString());
    }

    void cursorOverSlice()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(threeSlices);
        QCOMPARE(message(window), QStringLiteral("Slice: 1 / 3    Z: 1.000  Thickness: 0.500"));
        slider(window)->setValue(2);
        move(window, 1.5, -2);
        QCOMPARE(message(window), QStringLiteral("Slice: 2 / 3    X: 1.500  Y: -2.000  Z: 1.500  Thickness: 0.500"));
        emit view(window)->mouseLeave();
        QCOMPARE(message(window), QStringLiteral("Slice: 2 / 3    Z: 1.500  Thickness: 0.500"));
    }

    // With the cursor inside the view a slice change shows the last position reported.
    void sliceChangeWithCursorInside()
    {
        DialogScript script;
        MainWindow window;
        window.resize(640, 480);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.openFile(threeSlices);
        QCursor::setPos(view(window)->mapToGlobal(view(window)->rect().center()));
        if (!view(window)->rect().contains(view(window)->mapFromGlobal(QCursor::pos())))
            QSKIP("the platform does not move the cursor");
        move(window, 4, 5);
        slider(window)->setValue(3);
        QCOMPARE(message(window), QStringLiteral("Slice: 3 / 3    X: 4.000  Y: 5.000  Z: 2.000  Thickness: 0.500"));
    }

    // The position reported last belongs to the file shown then, and to the cursor before a
    // menu took it over: while a menu covers the view, and after another file opens from it, no
    // coordinates of before are shown; once the menu closes they are those under the cursor.
    void cursorPositionIsNotKeptStale_data()
    {
        QTest::addColumn<bool>("openAnother");
        QTest::newRow("a menu opens") << false;
        QTest::newRow("another file opens from the menu") << true;
    }
    void cursorPositionIsNotKeptStale()
    {
        QFETCH(bool, openAnother);
        DialogScript script;
        MainWindow window;
        QVERIFY(showWithFile(window, threeSlices));
        QCursor::setPos(view(window)->mapToGlobal(view(window)->rect().center()));
        if (!view(window)->rect().contains(view(window)->mapFromGlobal(QCursor::pos())))
            QSKIP("the platform does not move the cursor");
        QCoreApplication::processEvents();
        move(window, 4, 5);
        QVERIFY(message(window).contains("X: 4.000  Y: 5.000"));

        QMenu *menu = part<QMenu>(window, "menu_File");
        menu->popup(QCursor::pos());
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        if (openAnother)
            window.openFile(fortySlices);
        QCoreApplication::processEvents();
        QVERIFY2(!message(window).contains("X: 4.000  Y: 5.000"), qPrintable(message(window)));
        QVERIFY2(message(window).startsWith(openAnother ? "Slice: 1 / 40" : "Slice: 1 / 3"), qPrintable(message(window)));

        menu->close();
        QTest::qWait(50);
        const QPointF under = view(window)->mapToScene(view(window)->viewport()->mapFromGlobal(QCursor::pos()));
        if (message(window).contains("X: "))
            QVERIFY2(message(window).contains(QString("X: %1  Y: %2").arg(under.x(), 0, 'f', 3).arg(under.y(), 0, 'f', 3)),
                     qPrintable(message(window)));
        move(window, 6, 7);
        QVERIFY(message(window).contains("X: 6.000  Y: 7.000"));
    }

    void decimalPlacesFromSettings()
    {
        QSettings().setValue("MainWindow/DecimalPlaces", 1);
        DialogScript script;
        MainWindow window;
        move(window, 1.26, -2);
        QCOMPARE(message(window), QStringLiteral("X: 1.3  Y: -2.0"));
    }

    void rulerMeasures()
    {
        DialogScript script;
        MainWindow window;
        QLabel *label = statusRight(window);
        action(window, "action_Ruler")->setChecked(true);
        QVERIFY(!label->isHidden());
        click(window, Qt::LeftButton, 0, 0);
        move(window, 6, 8);
        QCOMPARE(label->text(), QStringLiteral("Distance: 10.000 P1(0.000, 0.000) P2(6.000, 8.000)"));
        click(window, Qt::LeftButton, 6, 8);
        move(window, 20, 20);
        QCOMPARE(label->text(), QStringLiteral("Distance: 10.000 P1(0.000, 0.000) P2(6.000, 8.000)"));

        // A right click on the fixed segment lets its end follow the mouse again.
        click(window, Qt::RightButton, 3, 4);
        QCOMPARE(label->text(), QStringLiteral("Distance: 5.000 P1(0.000, 0.000) P2(3.000, 4.000)"));
        move(window, 0, 7);
        QCOMPARE(label->text(), QStringLiteral("Distance: 7.000 P1(0.000, 0.000) P2(0.000, 7.000)"));
        click(window, Qt::LeftButton, 0, 7);
        move(window, 30, 30);
        QCOMPARE(label->text(), QStringLiteral("Distance: 7.000 P1(0.000, 0.000) P2(0.000, 7.000)"));

        // A left click on a fixed segment starts a new measurement.
        click(window, Qt::LeftButton, 1, 1);
        move(window, 1, 3);
        QCOMPARE(label->text(), QStringLiteral("Distance: 2.000 P1(1.000, 1.000) P2(1.000, 3.000)"));
        QVERIFY(script.asked.isEmpty());
    }

    void rightClicksAbandonThenSwitchOff()
    {
        DialogScript script;
        MainWindow window;
        QAction *ruler = action(window, "action_Ruler");
        ruler->setChecked(true);
        click(window, Qt::LeftButton, 0, 0);
        move(window, 0, 2);
        click(window, Qt::RightButton, 0, 2);
        QVERIFY(ruler->isChecked());
        move(window, 0, 9);
        QCOMPARE(statusRight(window)->text(), QStringLiteral("Distance: 2.000 P1(0.000, 0.000) P2(0.000, 2.000)"));
        click(window, Qt::RightButton, 0, 9);
        QVERIFY(!ruler->isChecked());
        QVERIFY(statusRight(window)->isHidden());
    }

    void otherButtonsAndRulerOffDoNothing()
    {
        DialogScript script;
        MainWindow window;
        QAction *ruler = action(window, "action_Ruler");
        click(window, Qt::LeftButton, 0, 0);
        move(window, 3, 4);
        ruler->setChecked(true);
        click(window, Qt::MiddleButton, 0, 0);
        move(window, 3, 4);
        QCOMPARE(statusRight(window)->text(), QString());
        click(window, Qt::LeftButton, 0, 0);
        click(window, Qt::MiddleButton, 9, 9);
        move(window, 3, 4);
        QCOMPARE(statusRight(window)->text(), QStringLiteral("Distance: 5.000 P1(0.000, 0.000) P2(3.000, 4.000)"));
    }

    void switchingKeepsTheLastDistance()
    {
        DialogScript script;
        MainWindow window;
        QAction *ruler = action(window, "action_Ruler");
        ruler->setChecked(true);
        click(window, Qt::LeftButton, 0, 0);
        click(window, Qt::LeftButton, 3, 4);
        ruler->setChecked(false);
        QVERIFY(statusRight(window)->isHidden());
        ruler->setChecked(true);
        QVERIFY(!statusRight(window)->isHidden());
        QCOMPARE(statusRight(window)->text(), QStringLiteral("Distance: 5.000 P1(0.000, 0.000) P2(3.000, 4.000)"));
        // The segment was fixed before switching off, so the first click starts afresh.
        click(window, Qt::LeftButton, 1, 0);
        move(window, 2, 0);
        QCOMPARE(statusRight(window)->text(), QStringLiteral("Distance: 1.000 P1(1.000, 0.000) P2(2.000, 0.000)"));
    }

    void openingAFileEndsTheMeasurement()
    {
        DialogScript script;
        MainWindow window;
        QAction *ruler = action(window, "action_Ruler");
        ruler->setChecked(true);
        click(window, Qt::LeftButton, 0, 0);
        window.openFile(threeSlices);
        QVERIFY(!ruler->isChecked());
        QVERIFY(statusRight(window)->isHidden());
        ruler->setChecked(true);
        move(window, 5, 5);
        QCOMPARE(statusRight(window)->text(), QString());
    }

    void wheel_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("deltas");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<int>("expected");
        QTest::newRow("notch up") << 10 << QList<int>{120} << false << 11;
        QTest::newRow("notch down") << 10 << QList<int>{-120} << false << 9;
        QTest::newRow("three notches down with shift") << 35 << QList<int>{-360} << true << 5;
        QTest::newRow("past the end") << 39 << QList<int>{600} << false << 40;
        QTest::newRow("less than a notch") << 10 << QList<int>{119} << false << 10;
        QTest::newRow("touchpad") << 10 << QList<int>{40, 40, 40} << false << 11;
        QTest::newRow("touchpad remainder") << 10 << QList<int>{50, 50, 50, 50, 50} << false << 12;
        QTest::newRow("direction turns") << 10 << QList<int>{100, -100, -100} << false << 9;
        QTest::newRow("zero") << 10 << QList<int>{0, 0} << false << 10;
    }
    void wheel()
    {
        QFETCH(int, start);
        QFETCH(QList<int>, deltas);
        QFETCH(bool, shift);
        QFETCH(int, expected);
        DialogScript script;
        MainWindow window;
        window.openFile(fortySlices);
        slider(window)->setValue(start);
        for (int delta : deltas)
            turnWheel(window, delta, shift ? Qt::ShiftModifier : Qt::NoModifier);
        QCOMPARE(slider(window)->value(), expected);
        QCOMPARE(view(window)->currentSlice(), expected);
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
        QVERIFY(showWithFile(window, fortySlices));
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

    void wheelWithoutSlicesDoesNothing()
    {
        DialogScript script;
        MainWindow window;
        turnWheel(window, 240);
        QCOMPARE(slider(window)->value(), 0);
        QCOMPARE(view(window)->currentSlice(), 0);
    }

    void sliderMovesStopPlaybackButTimerStepsDoNot()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(fortySlices);
        QAction *forward = action(window, "action_Run_Through_Slices");
        forward->setChecked(true);
        playTimer(window)->start();
        slider(window)->setProperty("UpdateByTimer", true);
        slider(window)->setValue(2);
        slider(window)->setProperty("UpdateByTimer", false);
        QVERIFY(playTimer(window)->isActive());
        QVERIFY(forward->isChecked());
        turnWheel(window, 120);
        QCOMPARE(view(window)->currentSlice(), 3);
        QVERIFY(!playTimer(window)->isActive());
        QVERIFY(!forward->isChecked());
    }
};

QTEST_MAIN(TestMainWindowStatusBar)
#include "tst_mainwindow_statusbar.moc"
