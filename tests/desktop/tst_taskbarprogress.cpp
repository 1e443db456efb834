#include "modaldialogs.h"
#include "recordinglauncherprogress.h"
#include "taskbarprogress.h"

#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <climits>
#include <memory>

// What the button shows must follow the dialog of the running operation and nothing else; the
// cancellation notice comes once per cancelled operation, only after its worker has ended.
class TestTaskbarProgress : public QObject
{
    Q_OBJECT

private:
    // A window with its taskbar progress talking to a recording backend.
    struct Fixture {
        QWidget window;
        RecordingLauncherProgress *button = new RecordingLauncherProgress;
        TaskbarProgress *progress = new TaskbarProgress(&window, button);

        std::unique_ptr<QProgressDialog> dialog(const QString &title, int minimum, int maximum)
        {
            auto made = std::make_unique<QProgressDialog>(&window);
            made->setWindowTitle(title);
            made->setRange(minimum, maximum);
            return made;
        }
    };

    QList<ModalDialogs::Request> notices;
    // The button's state while the last notice was up.
    TaskbarProgress::State stateDuringNotice = TaskbarProgress::NoProgress;
    TaskbarProgress *watched = nullptr;

    static void clickCancel(QProgressDialog &dialog)
    {
        QPushButton *cancel = dialog.findChild<QPushButton *>();
        QVERIFY(cancel);
        cancel->click();
    }

private slots:
    void init()
    {
        notices.clear();
        watched = nullptr;
        ModalDialogs::setResponder([this](const ModalDialogs::Request &request) {
            notices.append(request);
            if (watched)
                stateDuringNotice = watched->state();
            return ModalDialogs::Answer();
        });
    }

    void cleanup()
    {
        ModalDialogs::setResponder(ModalDialogs::Responder());
    }

    void construction()
    {
        QWidget window;
        // Whatever the session bus offers here, the default backend must not get in the way.
        TaskbarProgress *progress = new TaskbarProgress(&window);
        QCOMPARE(progress->parent(), &window);
        QCOMPARE(window.findChild<TaskbarProgress *>("taskbarProgress"), progress);
        QCOMPARE(progress->state(), TaskbarProgress::NoProgress);
        long result = 7;
        QVERIFY(!progress->nativeEvent("xcb_generic_event_t", nullptr, &result));
        QCOMPARE(result, 7L);

        Fixture f;
        QCOMPARE(f.progress->objectName(), QString("taskbarProgress"));
        QCOMPARE(f.button->parent(), f.progress);
        QVERIFY(f.button->calls().isEmpty());
    }

    void normalRun()
    {
        Fixture f;
        QSignalSpy states(f.progress, &TaskbarProgress::stateChanged);
        QSignalSpy values(f.progress, &TaskbarProgress::valueChanged);
        auto dialog = f.dialog("Export STL", 0, 4);

        f.progress->started(dialog.get());
        QCOMPARE(f.progress->property("title").toString(), QString("Export STL"));
        for (int v = 1; v <= 4; ++v)
            dialog->setValue(v);
        f.progress->finished();

        // Reaching the maximum resets the bar; the button keeps the full bar until the end. The
        // steps that came on the heels of the first are held back; the last of them goes out
        // when the operation ends.
        QCOMPARE(f.button->calls(), QStringList({"state Normal", "value 1/4", "value 4/4", "state NoProgress"}));
        QCOMPARE(states.size(), 2);
        QCOMPARE(states.at(0).at(0).value<TaskbarProgress::State>(), TaskbarProgress::Normal);
        QCOMPARE(states.at(1).at(0).value<TaskbarProgress::State>(), TaskbarProgress::NoProgress);
        QVERIFY(values.size() >= 4);
        QCOMPARE(values.at(3).at(0).toInt(), 4);
        QVERIFY(notices.isEmpty());
    }

    void indeterminateRangeSendsNoValue_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::newRow("0..0") << 0 << 0;
        QTest::newRow("7..7") << 7 << 7;
        QTest::newRow("INT_MAX..INT_MAX") << INT_MAX << INT_MAX;
    }

    void indeterminateRangeSendsNoValue()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        Fixture f;
        QSignalSpy values(f.progress, &TaskbarProgress::valueChanged);
        auto dialog = f.dialog("Busy", minimum, maximum);
        dialog->setAutoReset(false);

        f.progress->started(dialog.get());
        QCOMPARE(f.progress->state(), TaskbarProgress::Indeterminate);
        dialog->setValue(maximum);
        emit f.button->buttonCreated();
        f.progress->finished();

        QCOMPARE(values.size(), 1);
        QCOMPARE(f.button->calls(), QStringList({"state Indeterminate", "overlay none \"\"",
                                                 "state Indeterminate", "state NoProgress"}));
    }

    // A run of 2,000 steps in about a second sends about 20 values a second to the desktop,
    // not one a step, and the last step always arrives: when its moment comes, or at the end.
    void valuesAreSentAtMostTwentyTimesASecond_data()
    {
        QTest::addColumn<bool>("finishAtOnce");
        QTest::newRow("last value waits its turn") << false;
        QTest::newRow("operation ends at once") << true;
    }
    void valuesAreSentAtMostTwentyTimesASecond()
    {
        QFETCH(bool, finishAtOnce);
        Fixture f;
        const int steps = 2000;
        auto dialog = f.dialog("Export Images", 0, steps);
        f.progress->started(dialog.get());
        QElapsedTimer clock;
        clock.start();
        // The last step fills the bar, which the dialog then resets.
        for (int v = 1; v <= steps; ++v) {
            dialog->setValue(v);
            if (v % 4 == 0)
                QTest::qWait(2);
        }
        const qint64 elapsed = clock.elapsed();
        if (finishAtOnce)
            f.progress->finished();
        else
            QTest::qWait(200);

        QStringList values = f.button->calls().filter(QRegularExpression("^value "));
        QVERIFY2(values.size() <= elapsed / 50 + 2, qPrintable(QString::number(values.size())));
        QVERIFY(values.size() >= 2);
        QCOMPARE(values.first(), QString("value 1/%1").arg(steps));
        QCOMPARE(values.last(), QString("value %1/%1").arg(steps));
        QCOMPARE(f.button->calls().last(), finishAtOnce ? QString("state NoProgress") : values.last());
    }

    void cancelledOperationIsReportedWhenItsWorkerEnds()
    {
        Fixture f;
        watched = f.progress;
        QSignalSpy values(f.progress, &TaskbarProgress::valueChanged);
        auto dialog = f.dialog("Export STL", 0, 10);
        f.progress->started(dialog.get());
        dialog->setValue(3);

        clickCancel(*dialog);
        QCOMPARE(f.progress->state(), TaskbarProgress::Paused);
        QVERIFY(notices.isEmpty());
        // The worker still finishes its slice; nothing of that reaches the button any more.
        const int valuesAtCancel = values.size();
        dialog->setValue(4);
        emit f.button->buttonCreated();
        QCOMPARE(values.size(), valuesAtCancel);

        f.progress->finished();
        QCOMPARE(notices.size(), 1);
        QCOMPARE(int(notices.first().kind), int(ModalDialogs::Information));
        QCOMPARE(notices.first().parent, &f.window);
        QCOMPARE(notices.first().title, QString("Export STL"));
        QCOMPARE(notices.first().text, QString("The operation has been cancelled."));
        QCOMPARE(notices.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(notices.first().defaultButton, QMessageBox::NoButton);
        QCOMPARE(stateDuringNotice, TaskbarProgress::Paused);
        QCOMPARE(f.progress->state(), TaskbarProgress::NoProgress);

        // The paused bar stays where the user stopped it, not at the reset bar's nothing.
        QCOMPARE(f.button->calls(), QStringList({"state Normal", "value 3/10", "state Paused",
                                                 "overlay none \"\"", "state Paused", "state NoProgress"}));

        f.progress->finished();
        QCOMPARE(notices.size(), 1);
    }

    // The span of an int range overflows an int; the button must still get the right fraction.
    void valuesAreMeasuredIn64Bits_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("sent");
        QTest::newRow("plain") << 0 << 100 << 50 << "value 50/100";
        QTest::newRow("negative range") << -100 << -50 << -75 << "value 25/50";
        QTest::newRow("int range, bottom") << INT_MIN << INT_MAX << INT_MIN << "value 0/4294967295";
        QTest::newRow("int range, middle") << INT_MIN << INT_MAX << 0 << "value 2147483648/4294967295";
        QTest::newRow("int range, top") << INT_MIN << INT_MAX << INT_MAX << "value 4294967295/4294967295";
        QTest::newRow("lower half") << INT_MIN << 0 << -1 << "value 2147483647/2147483648";
        QTest::newRow("top of int") << INT_MAX - 1 << INT_MAX << INT_MAX << "value 1/1";
    }

    void valuesAreMeasuredIn64Bits()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(QString, sent);
        Fixture f;
        auto dialog = f.dialog("Export", minimum, maximum);
        dialog->setAutoReset(false);
        f.progress->started(dialog.get());
        dialog->setValue(value);
        QCOMPARE(dialog->value(), value);

        // Re-applying reads the dialog even when setValue() changed nothing.
        f.button->clear();
        f.progress->update();
        QCOMPARE(f.button->calls(), QStringList({"overlay none \"\"", sent, "state Normal"}));
    }

    void resetBarSendsNoValue()
    {
        Fixture f;
        auto dialog = f.dialog("Export", 0, 10);
        f.progress->started(dialog.get());
        dialog->setValue(6);
        dialog->reset();
        f.button->clear();
        f.progress->update();
        QCOMPARE(f.button->calls(), QStringList({"overlay none \"\"", "state Normal"}));
    }

    void secondStartedLetsGoOfTheFirstDialog()
    {
        Fixture f;
        QSignalSpy states(f.progress, &TaskbarProgress::stateChanged);
        auto first = f.dialog("First", 0, 10);
        auto second = f.dialog("Second", 0, 20);

        f.progress->started(first.get());
        f.progress->started(second.get());
        f.progress->started(nullptr);
        QCOMPARE(f.progress->property("title").toString(), QString("Second"));
        QCOMPARE(states.size(), 1);

        first->setValue(5);
        clickCancel(*first);
        QCOMPARE(f.progress->state(), TaskbarProgress::Normal);
        second->setValue(5);
        f.progress->finished();
        QVERIFY(notices.isEmpty());
        QCOMPARE(f.button->calls(), QStringList({"state Normal", "state Normal", "value 5/20",
                                                 "state NoProgress"}));

        // The same dialog again is followed anew, its cancel counts.
        f.progress->started(first.get());
        f.progress->started(first.get());
        clickCancel(*first);
        f.progress->finished();
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().title, QString("First"));
    }

    void finishedOutsideAnOperationIsSilent()
    {
        Fixture f;
        QSignalSpy states(f.progress, &TaskbarProgress::stateChanged);
        f.progress->finished();
        QVERIFY(notices.isEmpty());
        QVERIFY(f.button->calls().isEmpty());
        QCOMPARE(states.size(), 0);

        auto dialog = f.dialog("Export", 0, 10);
        f.progress->started(dialog.get());
        f.progress->finished();
        f.button->clear();
        // A cancel that comes after the end belongs to no running operation.
        clickCancel(*dialog);
        dialog->setValue(3);
        f.progress->finished();
        QVERIFY(notices.isEmpty());
        QVERIFY(f.button->calls().isEmpty());
        QCOMPARE(f.progress->state(), TaskbarProgress::NoProgress);
    }

    void dialogDestroyedWhileFollowed_data()
    {
        QTest::addColumn<bool>("cancelFirst");
        QTest::newRow("running") << false;
        QTest::newRow("cancelled") << true;
    }

    void dialogDestroyedWhileFollowed()
    {
        QFETCH(bool, cancelFirst);
        Fixture f;
        auto dialog = f.dialog("Export Images", 0, 10);
        f.progress->started(dialog.get());
        dialog->setValue(2);
        if (cancelFirst)
            clickCancel(*dialog);
        dialog.reset();

        f.button->clear();
        f.progress->update();
        f.progress->finished();
        QCOMPARE(f.button->calls().last(), QString("state NoProgress"));
        QVERIFY(!f.button->calls().join('\n').contains("value"));
        QCOMPARE(notices.size(), cancelFirst ? 1 : 0);
        if (cancelFirst)
            QCOMPARE(notices.first().title, QString("Export Images"));
    }

    void failureShowsTheErrorState_data()
    {
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("cancelFirst");
        QTest::newRow("while running") << true << false;
        QTest::newRow("after a cancel") << true << true;
        QTest::newRow("before starting") << false << false;
    }

    void failureShowsTheErrorState()
    {
        QFETCH(bool, start);
        QFETCH(bool, cancelFirst);
        Fixture f;
        auto dialog = f.dialog("Export STL", 0, 10);
        if (start) {
            f.progress->started(dialog.get());
            dialog->setValue(1);
        }
        if (cancelFirst)
            clickCancel(*dialog);

        f.progress->failed();
        QCOMPARE(f.progress->state(), TaskbarProgress::Error);
        QCOMPARE(f.button->calls().last(), QString("state Error"));
        // The worker's own end must neither clear the error nor announce a cancel.
        f.button->clear();
        f.progress->finished();
        dialog->setValue(5);
        QVERIFY(f.button->calls().isEmpty());
        QVERIFY(notices.isEmpty());
        QCOMPARE(f.progress->state(), TaskbarProgress::Error);

        auto next = f.dialog("Export STL", 0, 10);
        f.progress->started(next.get());
        QCOMPARE(f.progress->state(), TaskbarProgress::Normal);
    }

    void setStateSendsEveryTimeAndSignalsChanges()
    {
        Fixture f;
        QSignalSpy states(f.progress, &TaskbarProgress::stateChanged);
        f.progress->setState(TaskbarProgress::NoProgress);
        QCOMPARE(states.size(), 0);
        QVERIFY(f.progress->setProperty("state", QVariant::fromValue(TaskbarProgress::Error)));
        QCOMPARE(states.size(), 1);
        QCOMPARE(f.progress->property("state").value<TaskbarProgress::State>(), TaskbarProgress::Error);
        QCOMPARE(f.button->calls(), QStringList({"state NoProgress", "state Error"}));
    }

    void overlayIsStoredAndReapplied()
    {
        Fixture f;
        QPixmap badge(16, 16);
        badge.fill(Qt::red);
        f.progress->setOverlayIcon(badge, "Exporting");
        f.progress->setOverlayIcon(QPixmap());
        f.progress->setOverlayIconDescription("Waiting");
        QVERIFY(f.progress->overlayIcon().isNull());
        QCOMPARE(f.progress->overlayIconDescription(), QString("Waiting"));
        f.progress->setOverlayIcon(badge);

        auto dialog = f.dialog("Export", 0, 4);
        f.progress->started(dialog.get());
        dialog->setValue(2);
        f.button->clear();
        emit f.button->buttonCreated();
        QCOMPARE(f.button->calls(), QStringList({"overlay 16x16 \"Waiting\"", "value 2/4", "state Normal"}));

        f.progress->finished();
        f.button->clear();
        emit f.button->buttonCreated();
        QCOMPARE(f.button->calls(), QStringList({"overlay 16x16 \"Waiting\"", "state NoProgress"}));
    }

    void worksWithoutABackend()
    {
        QWidget window;
        TaskbarProgress progress(&window, nullptr);
        QSignalSpy states(&progress, &TaskbarProgress::stateChanged);
        QProgressDialog dialog(&window);
        dialog.setWindowTitle("Export STL");
        dialog.setRange(0, 10);
        progress.started(&dialog);
        dialog.setValue(3);
        progress.update();
        progress.setOverlayIcon(QPixmap(8, 8), "Busy");
        clickCancel(dialog);
        progress.finished();
        QCOMPARE(states.size(), 3);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(progress.state(), TaskbarProgress::NoProgress);
    }
};

QTEST_MAIN(TestTaskbarProgress)
#include "tst_taskbarprogress.moc"
