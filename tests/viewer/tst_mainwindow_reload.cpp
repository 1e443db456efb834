#include "mainwindowfixture.h"

#include <QDir>
#include <cstdio>
#include <QTemporaryDir>

using namespace fixture;

namespace {

// Long enough for a file-change notification that is on its way to arrive.
const int settleMs = 300;

// How editors that save safely replace a file: a new file renamed over the old one.
bool replaceAtomically(const QString &path, const QList<Slice> &list)
{
    const QString temporary = path + ".new";
    return writeSlc(temporary, list) && ::rename(QFile::encodeName(temporary).constData(),
                                                 QFile::encodeName(path).constData()) == 0;
}

void notify(MainWindow &window, const QString &path)
{
    QMetaObject::invokeMethod(&window, "on_fileSystemWatcher_fileChanged", Qt::DirectConnection,
                              Q_ARG(QString, path));
}

} // namespace

class TestMainWindowReload : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int serial = 0;

    QString fixtureFile(int count)
    {
        const QString path = dir.filePath(QString("part%1.slc").arg(++serial));
        if (!writeSlc(path, slices(count)))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
    }
    void init() { QSettings().clear(); }

    void changeOnDiskAsksAndReloads()
    {
        const QString path = fixtureFile(10);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        slider(window)->setValue(7);
        script.answerButton(QMessageBox::Yes);

        QVERIFY(writeSlc(path, slices(5)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.title, QStringLiteral("Reload File?"));
        QCOMPARE(asked.text, "File " + QDir::toNativeSeparators(path) + " has been modified.\nDo you want to reload it?");
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(view(window)->sliceCount(), 5);
        QCOMPARE(slider(window)->value(), 5);
        QCOMPARE(view(window)->currentSlice(), 5);
    }

    // A file caught while it is being rewritten cannot be read: the slices shown so far stay,
    // the user hears why, and the next change asks again.
    void refusedReloadKeepsTheSlicesAndWatching()
    {
        const QString path = fixtureFile(10);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        slider(window)->setValue(7);
        script.answerButton(QMessageBox::Yes);

        QVERIFY(writeBytes(path, QByteArray("-SLCVER 2.0 -UNIT MM -TY")));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
        QTRY_COMPARE(script.count(ModalDialogs::Critical), 1);
        QVERIFY2(script.asked.last().text.contains(QDir::toNativeSeparators(path)), qPrintable(script.asked.last().text));
        QVERIFY(window.hasFile());
        QVERIFY(window.windowTitle().startsWith(QFileInfo(path).fileName() + " - "));
        QCOMPARE(view(window)->sliceCount(), 10);
        QCOMPARE(slider(window)->value(), 7);
        QCOMPARE(view(window)->currentSlice(), 7);
        QCOMPARE(watcher(window)->files(), QStringList{path});

        QTest::qWait(settleMs);
        script.answerButton(QMessageBox::Yes);
        QVERIFY(writeSlc(path, slices(5)));
        QTRY_VERIFY(script.count(ModalDialogs::Information) >= 2);
        QTRY_COMPARE(view(window)->sliceCount(), 5);
    }

    void reloadReturnsToTheSameSlice()
    {
        const QString path = fixtureFile(10);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        slider(window)->setValue(7);
        script.answerButton(QMessageBox::Yes);
        QVERIFY(writeSlc(path, slices(12)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
        QCOMPARE(view(window)->sliceCount(), 12);
        QCOMPARE(view(window)->currentSlice(), 7);
    }

    void declinedReloadKeepsWatching()
    {
        const QString path = fixtureFile(10);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        script.answerButton(QMessageBox::No);
        QVERIFY(writeSlc(path, slices(3)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
        QCOMPARE(view(window)->sliceCount(), 10);
        QTest::qWait(settleMs);
        script.answerButton(QMessageBox::No);
        QVERIFY(writeSlc(path, slices(4)));
        QTRY_VERIFY(script.count(ModalDialogs::Information) >= 2);
    }

    void atomicReplaceStaysWatched()
    {
        const QString path = fixtureFile(10);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        script.answerButton(QMessageBox::No);
        QVERIFY(replaceAtomically(path, slices(3)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
        QTest::qWait(settleMs);
        QCOMPARE(watcher(window)->files(), QStringList{path});
        const int asked = script.count(ModalDialogs::Information);

        script.answerButton(QMessageBox::Yes);
        QVERIFY(replaceAtomically(path, slices(6)));
        QTRY_VERIFY(script.count(ModalDialogs::Information) > asked);
        QCOMPARE(view(window)->sliceCount(), 6);
    }

    void ownSaveIsNoChange()
    {
        const QString path = fixtureFile(4);
        DialogScript script;
        script.answerFile(path);
        MainWindow window;
        window.openFile(path);
        action(window, "action_Save_As")->trigger();
        QTest::qWait(settleMs);
        QCOMPARE(script.count(ModalDialogs::Information), 0);
        QCOMPARE(script.count(ModalDialogs::Critical), 0);

        // Still watched: a change by someone else is seen.
        QVERIFY(writeSlc(path, slices(2)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
    }

    void saveAsMovesTheWatch()
    {
        const QString first = fixtureFile(4);
        const QString second = dir.filePath("copy.slc");
        DialogScript script;
        script.answerFile(second);
        MainWindow window;
        window.openFile(first);
        action(window, "action_Save_As")->trigger();
        QCOMPARE(watcher(window)->files(), QStringList{second});

        QVERIFY(writeSlc(first, slices(2)));
        QTest::qWait(settleMs);
        QCOMPARE(script.count(ModalDialogs::Information), 0);
        QVERIFY(writeSlc(second, slices(2)));
        QTRY_COMPARE(script.count(ModalDialogs::Information), 1);
    }

    void closedFileIsNotWatched()
    {
        const QString path = fixtureFile(4);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        action(window, "action_Close")->trigger();
        QVERIFY(watcher(window)->files().isEmpty());
        QVERIFY(writeSlc(path, slices(2)));
        QTest::qWait(settleMs);
        // Even a notification that was already on its way when the file closed is dropped.
        notify(window, path);
        QVERIFY(script.asked.isEmpty());
        QVERIFY(!window.hasFile());
    }

    void unrelatedNotificationsAreIgnored()
    {
        const QString current = fixtureFile(4);
        const QString other = fixtureFile(4);
        DialogScript script;
        MainWindow window;
        notify(window, current); // no file yet
        window.openFile(current);
        notify(window, other);
        QVERIFY(QFile::remove(current));
        notify(window, current); // gone: nothing to reload
        QTest::qWait(settleMs);
        QVERIFY(script.asked.isEmpty());
    }

    void notificationDuringTheQuestionIsDropped()
    {
        const QString path = fixtureFile(4);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        script.during = [&](const ModalDialogs::Request &) { notify(window, path); };
        script.answerButton(QMessageBox::No);
        notify(window, path);
        QCOMPARE(script.asked.size(), 1);
        // The guard is released afterwards.
        script.during = nullptr;
        script.answerButton(QMessageBox::No);
        notify(window, path);
        QCOMPARE(script.asked.size(), 2);
    }

    // Each window asks about its own file, also while another window's question is open.
    void eachWindowAsksAboutItsOwnFile()
    {
        const QString first = fixtureFile(4);
        const QString second = fixtureFile(6);
        DialogScript script;
        MainWindow one;
        MainWindow other;
        one.openFile(first);
        other.openFile(second);
        bool nested = false;
        script.during = [&](const ModalDialogs::Request &) {
            if (nested)
                return;
            nested = true;
            notify(other, second);
        };
        script.answerButton(QMessageBox::No);
        script.answerButton(QMessageBox::No);
        notify(one, first);
        QCOMPARE(script.count(ModalDialogs::Information), 2);
        QCOMPARE(script.asked.at(0).parent, &one);
        QCOMPARE(script.asked.at(1).parent, &other);
        QVERIFY(script.asked.at(1).text.contains(QDir::toNativeSeparators(second)));
    }
};

QTEST_MAIN(TestMainWindowReload)
#include "tst_mainwindow_reload.moc"
