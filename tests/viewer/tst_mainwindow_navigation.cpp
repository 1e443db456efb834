#include "mainwindowfixture.h"

#include <QTemporaryDir>

using namespace fixture;

namespace {

void tick(MainWindow &window)
{
    QMetaObject::invokeMethod(&window, "playTimerEvent");
}

bool playingForward(const MainWindow &window)
{
    return action(window, "action_Run_Through_Slices")->isChecked() && playTimer(window)->isActive();
}

bool playingBackward(const MainWindow &window)
{
    return action(window, "action_Run_Back_Slices")->isChecked() && playTimer(window)->isActive();
}

bool stopped(const MainWindow &window)
{
    return !action(window, "action_Run_Through_Slices")->isChecked()
           && !action(window, "action_Run_Back_Slices")->isChecked() && !playTimer(window)->isActive();
}

} // namespace

class TestMainWindowNavigation : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString twelve;
    QString heights; // slices at z 1, 2 and 3

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
        twelve = dir.filePath("twelve.slc");
        QVERIFY(writeSlc(twelve, slices(12)));
        heights = dir.filePath("heights.slc");
        QVERIFY(writeSlc(heights, slices(3, 1.0f, 1.0f)));
    }
    void init() { QSettings().clear(); }

    void goToSlice_data()
    {
        QTest::addColumn<int>("entered");
        QTest::addColumn<int>("shown");
        QTest::newRow("inside") << 7 << 7;
        QTest::newRow("last") << 12 << 12;
        QTest::newRow("beyond the last") << 40 << 12;
        QTest::newRow("below the first") << -3 << 1;
    }
    void goToSlice()
    {
        QFETCH(int, entered);
        QFETCH(int, shown);
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        slider(window)->setValue(4);
        script.answerValue(entered);
        action(window, "action_Go_to_Slice")->trigger();

        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Int);
        QCOMPARE(asked.title, QStringLiteral("Go to Slice"));
        QCOMPARE(asked.text, QStringLiteral("Slice (1 - 12):"));
        QCOMPARE(asked.value.toInt(), 4);
        QCOMPARE(asked.minimum.toInt(), -2147483647);
        QCOMPARE(asked.maximum.toInt(), 2147483647);
        QCOMPARE(slider(window)->value(), shown);
        QCOMPARE(view(window)->currentSlice(), shown);
    }

    void goToSliceStopsPlayback()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        script.answerValue(9);
        action(window, "action_Go_to_Slice")->trigger();
        QCOMPARE(view(window)->currentSlice(), 9);
        QVERIFY(stopped(window));
    }

    // Playback runs on while the question is open; Cancel must not send it back to the slice
    // that was shown when the question was asked.
    void cancelKeepsPlayback_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("Go to Slice") << "action_Go_to_Slice";
        QTest::newRow("Go to Slice Z") << "action_Go_to_Slice_Z";
    }
    void cancelKeepsPlayback()
    {
        QFETCH(QString, command);
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        script.during = [&window](const ModalDialogs::Request &) {
            for (int i = 0; i < 3; ++i)
                tick(window);
        };
        script.answerCancel();
        action(window, command.toLatin1().constData())->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(view(window)->currentSlice(), 4);
        QVERIFY(playingForward(window));
    }

    void goToSliceZ_data()
    {
        QTest::addColumn<double>("z");
        QTest::addColumn<int>("shown");
        QTest::newRow("exact") << 2.0 << 2;
        QTest::newRow("nearer to 1") << 1.4 << 1;
        QTest::newRow("tie between 1 and 2") << 1.5 << 2;
        QTest::newRow("tie between 2 and 3") << 2.5 << 3;
        QTest::newRow("below all") << 0.0 << 1;
        QTest::newRow("far below") << -1e6 << 1;
        QTest::newRow("above all") << 99.0 << 3;
    }
    void goToSliceZ()
    {
        QFETCH(double, z);
        QFETCH(int, shown);
        DialogScript script;
        MainWindow window;
        window.openFile(heights);
        slider(window)->setValue(shown == 2 ? 3 : 2);
        script.answerValue(z);
        action(window, "action_Go_to_Slice_Z")->trigger();

        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Double);
        QCOMPARE(asked.title, QStringLiteral("Go to Slice Z"));
        QCOMPARE(asked.text, QStringLiteral("Slice Z:"));
        QCOMPARE(asked.value.toDouble(), 0.0);
        QCOMPARE(asked.minimum.toDouble(), -2147483647.0);
        QCOMPARE(asked.maximum.toDouble(), 2147483647.0);
        QCOMPARE(asked.decimals, 3);
        QCOMPARE(view(window)->currentSlice(), shown);
    }

    void playForwardToTheEnd()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(heights);
        QAction *forward = action(window, "action_Run_Through_Slices");
        forward->setChecked(true);
        QVERIFY(playingForward(window));
        QCOMPARE(playTimer(window)->interval(), 50);
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 2);
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 3);
        QVERIFY(playingForward(window));
        // At the last slice the next tick ends playback without moving.
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 3);
        QVERIFY(stopped(window));
    }

    void playBackwardToTheStart()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(heights);
        slider(window)->setValue(3);
        action(window, "action_Run_Back_Slices")->setChecked(true);
        QVERIFY(playingBackward(window));
        tick(window);
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 1);
        QVERIFY(playingBackward(window));
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 1);
        QVERIFY(stopped(window));
    }

    void playStartedAtTheEndStopsAtOnce_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("start");
        QTest::newRow("forward from the last") << "action_Run_Through_Slices" << 12;
        QTest::newRow("backward from the first") << "action_Run_Back_Slices" << 1;
    }
    void playStartedAtTheEndStopsAtOnce()
    {
        QFETCH(QString, command);
        QFETCH(int, start);
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        slider(window)->setValue(start);
        action(window, command.toLatin1().constData())->setChecked(true);
        QVERIFY(playTimer(window)->isActive());
        tick(window);
        QCOMPARE(view(window)->currentSlice(), start);
        QVERIFY(stopped(window));
    }

    void switchingDirection()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        slider(window)->setValue(6);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 7);
        action(window, "action_Run_Back_Slices")->setChecked(true);
        QVERIFY(!action(window, "action_Run_Through_Slices")->isChecked());
        QVERIFY(playingBackward(window));
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 6);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        QVERIFY(!action(window, "action_Run_Back_Slices")->isChecked());
        QVERIFY(playingForward(window));
        tick(window);
        QCOMPARE(view(window)->currentSlice(), 7);
        action(window, "action_Run_Through_Slices")->setChecked(false);
        QVERIFY(stopped(window));
    }

    void draggingTheSliderStopsPlayback()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        action(window, "action_Run_Back_Slices")->setChecked(true);
        QSlider *s = slider(window);
        s->setSliderDown(true);
        s->setSliderPosition(8);
        s->setSliderDown(false);
        QCOMPARE(view(window)->currentSlice(), 8);
        QVERIFY(stopped(window));
    }

    // The real timer, at the highest rate: playback runs through and stops by itself.
    void timerPlaysThrough()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        script.answerValue(250);
        action(window, "action_Play_Frames_Per_Second")->trigger();
        QCOMPARE(playTimer(window)->interval(), 4);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        QTRY_VERIFY(stopped(window));
        QCOMPARE(view(window)->currentSlice(), 12);
    }

    void framesPerSecond_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("initial");
        QTest::addColumn<int>("entered");
        QTest::addColumn<int>("interval");
        QTest::newRow("default, 7 fps") << QVariant() << 20 << 7 << 142;
        QTest::newRow("3 fps") << QVariant(30) << 30 << 3 << 333;
        QTest::newRow("250 fps") << QVariant(20) << 20 << 250 << 4;
        QTest::newRow("1 fps") << QVariant(20) << 20 << 1 << 1000;
        QTest::newRow("stored out of range") << QVariant(900) << 250 << 20 << 50;
    }
    void framesPerSecond()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, initial);
        QFETCH(int, entered);
        QFETCH(int, interval);
        if (stored.isValid())
            QSettings().setValue("MainWindow/PlayFramesPerSecond", stored);
        DialogScript script;
        MainWindow window;
        window.openFile(twelve);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        script.answerValue(entered);
        action(window, "action_Play_Frames_Per_Second")->trigger();

        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Int);
        QCOMPARE(asked.title, QStringLiteral("Play Frames Per Second"));
        QCOMPARE(asked.text, QStringLiteral("Configure the number of slices to be played through per second.\n"
                                            "Valid range is from 1 to 250. Default value is 20."));
        QCOMPARE(asked.value.toInt(), initial);
        QCOMPARE(asked.minimum.toInt(), 1);
        QCOMPARE(asked.maximum.toInt(), 250);
        QCOMPARE(playTimer(window)->interval(), interval);
        QCOMPARE(QSettings().value("MainWindow/PlayFramesPerSecond").toInt(), entered);
        // A running playback goes on at the new rate.
        QVERIFY(playingForward(window));
    }

    void framesPerSecondCancelled()
    {
        QSettings().setValue("MainWindow/PlayFramesPerSecond", 30);
        DialogScript script;
        MainWindow window;
        QCOMPARE(playTimer(window)->interval(), 33);
        script.answerCancel();
        action(window, "action_Play_Frames_Per_Second")->trigger();
        QCOMPARE(playTimer(window)->interval(), 33);
        QCOMPARE(QSettings().value("MainWindow/PlayFramesPerSecond").toInt(), 30);
    }
};

QTEST_MAIN(TestMainWindowNavigation)
#include "tst_mainwindow_navigation.moc"
