#include "taskbarprogress.h"
#include "unitylauncherprogress.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

// Docks read the launcher-entry signal from the bus, so that is what is checked: a private bus
// daemon, our backend on one connection and a listener on another.
class TestUnityLauncherProgress : public QObject
{
    Q_OBJECT

public slots:
    void received(const QDBusMessage &message)
    {
        updates.append(message);
    }

private:
    QTemporaryDir directory;
    QProcess daemon;
    QString address;
    QList<QDBusMessage> updates;

    static QDBusConnection senderBus() { return QDBusConnection(QStringLiteral("sender")); }

    struct Update {
        QString path;
        QString uri;
        QVariantMap properties;
    };

    Update lastUpdate() const
    {
        Update update;
        if (updates.isEmpty())
            return update;
        const QDBusMessage &message = updates.last();
        update.path = message.path();
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() == 2) {
            update.uri = arguments.at(0).toString();
            update.properties = qdbus_cast<QVariantMap>(arguments.at(1));
        }
        return update;
    }

    // The bus keeps one sender's messages in order, so once a marker sent now has arrived,
    // everything sent before it has too.
    void flush()
    {
        QDBusMessage marker = QDBusMessage::createSignal("/marker", "com.canonical.Unity.LauncherEntry", "Update");
        QVERIFY(senderBus().send(marker));
        QTRY_VERIFY(!updates.isEmpty() && updates.last().path() == "/marker");
        updates.removeLast();
    }

    // Waits for the bus to deliver, then checks the last update in full.
    void expectUpdates(int count, double progress, bool visible, bool urgent)
    {
        QTRY_COMPARE(updates.size(), count);
        const Update update = lastUpdate();
        QVERIFY2(update.path.startsWith("/com/canonical/unity/launcherentry/"), qPrintable(update.path));
        QCOMPARE(update.uri, QString("application://quarne.desktop"));
        QCOMPARE(update.properties.size(), 3);
        QCOMPARE(update.properties.value("progress").userType(), int(QMetaType::Double));
        QCOMPARE(update.properties.value("progress").toDouble(), progress);
        QCOMPARE(update.properties.value("progress-visible").userType(), int(QMetaType::Bool));
        QCOMPARE(update.properties.value("progress-visible").toBool(), visible);
        QCOMPARE(update.properties.value("urgent").userType(), int(QMetaType::Bool));
        QCOMPARE(update.properties.value("urgent").toBool(), urgent);
    }

private slots:
    void initTestCase()
    {
        const QString program = QStandardPaths::findExecutable("dbus-daemon");
        if (program.isEmpty())
            QSKIP("dbus-daemon is not installed");
        QVERIFY(directory.isValid());

        // Our own configuration: nothing of the machine's session setup is needed.
        QFile config(directory.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:path=%1</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
            "    <allow eavesdrop=\"true\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n").arg(directory.filePath("bus")).toUtf8());
        config.close();

        daemon.start(program, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY2(daemon.waitForStarted(10000), qPrintable(daemon.errorString()));
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        QVERIFY2(!address.isEmpty(), daemon.readAllStandardError().constData());

        QVERIFY(QDBusConnection::connectToBus(address, "sender").isConnected());
        QDBusConnection listener = QDBusConnection::connectToBus(address, "listener");
        QVERIFY(listener.isConnected());
        QVERIFY(listener.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                                 this, SLOT(received(QDBusMessage))));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus("sender");
        QDBusConnection::disconnectFromBus("listener");
        QDBusConnection::disconnectFromBus("dock");
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            if (!daemon.waitForFinished(5000))
                daemon.kill();
            daemon.waitForFinished(5000);
        }
    }

    void init()
    {
        // Whatever the previous test sent (a destructor's last update) is still on its way.
        flush();
        updates.clear();
    }

    void stateDecidesVisibilityAndUrgency_data()
    {
        QTest::addColumn<LauncherProgress::State>("state");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("urgent");
        QTest::newRow("normal") << LauncherProgress::Normal << true << false;
        QTest::newRow("paused") << LauncherProgress::Paused << true << false;
        QTest::newRow("error") << LauncherProgress::Error << true << true;
        QTest::newRow("indeterminate") << LauncherProgress::Indeterminate << false << false;
    }

    void stateDecidesVisibilityAndUrgency()
    {
        QFETCH(LauncherProgress::State, state);
        QFETCH(bool, visible);
        QFETCH(bool, urgent);
        UnityLauncherProgress launcher(senderBus());
        launcher.setProgressValue(1, 4);
        expectUpdates(1, 0.25, false, false);
        launcher.setProgressState(state);
        expectUpdates(2, 0.25, visible, urgent);

        // Ending the operation hides the bar and forgets its value.
        launcher.setProgressState(LauncherProgress::NoProgress);
        expectUpdates(3, 0.0, false, false);
    }

    void valueBecomesAFraction_data()
    {
        QTest::addColumn<quint64>("completed");
        QTest::addColumn<quint64>("total");
        QTest::addColumn<double>("fraction");
        const quint64 most = std::numeric_limits<quint64>::max();
        QTest::newRow("quarter") << quint64(1) << quint64(4) << 0.25;
        QTest::newRow("done") << quint64(4294967295u) << quint64(4294967295u) << 1.0;
        QTest::newRow("no total") << quint64(3) << quint64(0) << 0.0;
        QTest::newRow("beyond total") << quint64(9) << quint64(4) << 1.0;
        QTest::newRow("64-bit extremes") << most << most << 1.0;
    }

    void valueBecomesAFraction()
    {
        QFETCH(quint64, completed);
        QFETCH(quint64, total);
        QFETCH(double, fraction);
        UnityLauncherProgress launcher(senderBus());
        launcher.setProgressState(LauncherProgress::Normal);
        launcher.setProgressValue(completed, total);
        expectUpdates(2, fraction, true, false);
    }

    void destructionHidesAShownBar()
    {
        {
            UnityLauncherProgress launcher(senderBus());
            launcher.setProgressState(LauncherProgress::Error);
            expectUpdates(1, 0.0, true, true);
        }
        expectUpdates(2, 0.0, false, false);

        {
            UnityLauncherProgress idle(senderBus());
        }
        flush();
        QCOMPARE(updates.size(), 2);
    }

    void newUnityLauncherGetsEverythingAgain()
    {
        QWidget window;
        TaskbarProgress progress(&window, new UnityLauncherProgress(senderBus()));
        QProgressDialog dialog(&window);
        dialog.setWindowTitle("Export STL");
        dialog.setRange(0, 4);
        progress.started(&dialog);
        dialog.setValue(1);
        expectUpdates(2, 0.25, true, false);

        QDBusConnection dock = QDBusConnection::connectToBus(address, "dock");
        QVERIFY(dock.isConnected());
        QVERIFY(dock.registerService("com.canonical.Unity"));
        // Value and state again, the value first.
        QTRY_COMPARE(updates.size(), 4);
        QCOMPARE(qdbus_cast<QVariantMap>(updates.at(2).arguments().at(1)).value("progress").toDouble(), 0.25);
        expectUpdates(4, 0.25, true, false);
        QVERIFY(dock.unregisterService("com.canonical.Unity"));

        progress.finished();
        expectUpdates(5, 0.0, false, false);
    }
};

QTEST_MAIN(TestUnityLauncherProgress)
#include "tst_unitylauncherprogress.moc"
