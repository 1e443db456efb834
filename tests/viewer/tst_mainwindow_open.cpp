#include "mainwindowfixture.h"
#include "memoryrelease.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fixture;

namespace {

const QString baseTitle = QStringLiteral("Nurat Quarne (SLC Viewer)");

// The recent-file entries of the File menu as the user sees them when it opens.
QStringList recentEntries(MainWindow &window)
{
    QMenu *menu = part<QMenu>(window, "menu_File");
    emit menu->aboutToShow();
    QStringList texts;
    const QList<QAction *> actions = menu->actions();
    for (QAction *a : actions) {
        if (a->objectName().isEmpty() && !a->isSeparator() && a->isVisible())
            texts.append(a->text());
    }
    return texts;
}

QAction *recentEntry(MainWindow &window, int i)
{
    QMenu *menu = part<QMenu>(window, "menu_File");
    emit menu->aboutToShow();
    int seen = 0;
    const QList<QAction *> actions = menu->actions();
    for (QAction *a : actions) {
        if (a->objectName().isEmpty() && !a->isSeparator() && seen++ == i)
            return a;
    }
    return nullptr;
}

void dropUrls(MainWindow &window, const QList<QUrl> &urls, bool *enterAccepted, bool *dropAccepted)
{
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    enter.setAccepted(false);
    emit view(window)->dragEnter(&enter);
    *enterAccepted = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    emit view(window)->drop(&drop);
    *dropAccepted = drop.isAccepted();
}

} // namespace

class TestMainWindowOpen : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString fixtureFile(const QString &name, int count)
    {
        const QString path = dir.filePath(name);
        if (!writeSlc(path, slices(count)))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // The window shows the file previous (of 4 slices) at slice 3, as before a refused open.
    void stillShowsPrevious(MainWindow &window, const QString &previous)
    {
        QVERIFY(window.hasFile());
        QCOMPARE(window.windowTitle(), "previous.slc - " + baseTitle);
        QCOMPARE(recentFiles().value(0), previous);
        QCOMPARE(watcher(window)->files(), QStringList{previous});
        QCOMPARE(view(window)->sliceCount(), 4);
        QCOMPARE(view(window)->currentSlice(), 3);
        QCOMPARE(slider(window)->value(), 3);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
    }
    void init() { QSettings().clear(); }

    void openFromDialog()
    {
        const QString path = fixtureFile("part.slc", 12);
        QSettings().setValue("MainWindow/LastDirectory", "/start/here");
        DialogScript script;
        script.answerFile(path);
        MainWindow window;
        action(window, "action_Open")->trigger();

        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::OpenFileName);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Open SLC File"));
        QCOMPARE(script.asked.at(0).directory, QStringLiteral("/start/here"));
        QCOMPARE(script.asked.at(0).filter, QStringLiteral("Slice files (*.slc)"));

        QVERIFY(window.hasFile());
        QCOMPARE(window.windowTitle(), "part.slc - " + baseTitle);
        QCOMPARE(recentFiles(), QStringList{path});
        QCOMPARE(QSettings().value("MainWindow/LastDirectory").toString(), dir.path());
        QCOMPARE(view(window)->sliceCount(), 12);
        QCOMPARE(view(window)->currentSlice(), 1);
        QCOMPARE(slider(window)->minimum(), 1);
        QCOMPARE(slider(window)->maximum(), 12);
        QCOMPARE(slider(window)->value(), 1);
        QVERIFY(!slider(window)->isHidden());
        for (const char *name : {"action_Grid_Interval", "action_Go_to_Slice", "action_Go_to_Slice_Z",
                                 "action_Run_Back_Slices", "action_Run_Through_Slices", "action_Close"})
            QVERIFY2(action(window, name)->isEnabled(), name);
        QCOMPARE(watcher(window)->files(), QStringList{path});
    }

    void cancelledDialogChangesNothing()
    {
        DialogScript script;
        script.answerCancel();
        MainWindow window;
        action(window, "action_Open")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QVERIFY(!window.hasFile());
        QVERIFY(recentFiles().isEmpty());
    }

    void missingFileIsReportedAndForgotten()
    {
        const QString kept = fixtureFile("kept.slc", 3);
        const QString gone = dir.filePath("gone %2.slc");
        DialogScript script;
        MainWindow window;
        window.openFile(kept);
        QSettings().setValue("MainWindow/RecentFiles", QStringList{gone, kept});

        window.openFile(gone);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Open"));
        QCOMPARE(script.asked.at(0).text,
                 "Unable to open \"" + QDir::toNativeSeparators(gone) + "\". File does not exist.");
        QCOMPARE(recentFiles(), QStringList{kept});
        // The window keeps what it showed.
        QCOMPARE(window.windowTitle(), "kept.slc - " + baseTitle);
        QCOMPARE(view(window)->sliceCount(), 3);
        QCOMPARE(watcher(window)->files(), QStringList{kept});
    }

    void recentEntryOfDeletedFile()
    {
        const QString path = fixtureFile("deleted.slc", 2);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        action(window, "action_Close")->trigger();
        QVERIFY(QFile::remove(path));
        QAction *entry = recentEntry(window, 0);
        QVERIFY(entry);
        entry->trigger();
        QCOMPARE(script.count(ModalDialogs::Critical), 1);
        QVERIFY(recentEntries(window).isEmpty());
    }

    void refusedFileIsNotOpenedAndKeepsTheCurrentOne_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << QByteArray("this is no slice file\n");
        QTest::newRow("empty") << QByteArray();
        QByteArray web("-SLCVER 2.0 -UNIT MM -TYPE WEB\r\n\x1a", 33);
        web.append(QByteArray(256, '\0'));
        web.append(char(0));
        QTest::newRow("web") << web;
        // A boundary count that the rest of the file cannot hold.
        QByteArray counts("-SLCVER 2.0 -UNIT MM -TYPE PART\r\n\x1a", 34);
        counts.append(QByteArray(256, '\0'));
        counts.append(char(0));
        counts.append(QByteArray("\x00\x00\x80\x3f\xff\xff\xff\x7f", 8)); // z 1.0, 2^31-1 boundaries
        counts.append(QByteArray(16, '\0'));
        QTest::newRow("counts") << counts;
    }
    void refusedFileIsNotOpenedAndKeepsTheCurrentOne()
    {
        QFETCH(QByteArray, bytes);
        const QString previous = fixtureFile("previous.slc", 4);
        const QString path = dir.filePath("refused %1.slc");
        QVERIFY(writeBytes(path, bytes));
        DialogScript script;
        MainWindow window;

        window.openFile(path);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Open"));
        QVERIFY2(script.asked.at(0).text.contains("\"" + QDir::toNativeSeparators(path) + "\""),
                 qPrintable(script.asked.at(0).text));
        QVERIFY(!window.hasFile());
        QCOMPARE(window.windowTitle(), baseTitle);
        QVERIFY(!recentFiles().contains(path));
        QVERIFY(watcher(window)->files().isEmpty());
        QVERIFY(slider(window)->isHidden());
        QVERIFY(!action(window, "action_Close")->isEnabled());
        QVERIFY(!action(window, "action_Go_to_Slice")->isEnabled());

        // A refused file leaves the one the user was looking at as it was.
        window.openFile(previous);
        slider(window)->setValue(3);
        window.openFile(path);
        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Critical);
        stillShowsPrevious(window, previous);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!slider(window)->isHidden());
        QVERIFY(action(window, "action_Close")->isEnabled());
        QVERIFY(action(window, "action_Go_to_Slice")->isEnabled());
    }

    // A file whose slices need more memory than there is: refused with that reason, not as
    // unreadable, and the file shown stays as it was; with memory enough the same file opens.
    void fileNeedingMoreMemoryIsRefusedAndKeepsTheCurrentOne()
    {
        const QString previous = fixtureFile("previous.slc", 4);
        const QString large = fixtureFile("large.slc", 400);
        DialogScript script;
        MainWindow window;
        window.openFile(previous);
        slider(window)->setValue(3);
        QVERIFY(script.asked.isEmpty());

        view(window)->setMemoryBudget(16 * 1024);
        window.openFile(large);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Open"));
        QCOMPARE(script.asked.at(0).text,
                 "Unable to open \"" + QDir::toNativeSeparators(large) + "\". It needs more memory than is available.");
        stillShowsPrevious(window, previous);
        if (QTest::currentTestFailed())
            return;

        view(window)->setMemoryBudget(-1);
        window.openFile(large);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(window.windowTitle(), "large.slc - " + baseTitle);
        QCOMPARE(view(window)->sliceCount(), 400);
    }

    // Opening a named pipe blocks until a writer comes. Should the window try, this helper
    // plays the writer that comes (and goes at once), so that the test fails instead of hanging.
    void namedPipeIsRefusedBeforeOpening()
    {
        const QString previous = fixtureFile("kept.slc", 3);
        const QString pipe = dir.filePath("pipe.slc");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        std::atomic<bool> done{false};
        std::atomic<int> feeds{0};
        std::thread writer([&] {
            while (!done) {
                const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ++feeds;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        DialogScript script;
        MainWindow window;
        window.openFile(previous);
        window.openFile(pipe);
        done = true;
        writer.join();
        QCOMPARE(feeds.load(), 0);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(0).text,
                 "Unable to open \"" + QDir::toNativeSeparators(pipe) + "\". It is not a regular file.");
        QCOMPARE(window.windowTitle(), "kept.slc - " + baseTitle);
        QCOMPARE(view(window)->sliceCount(), 3);
        QVERIFY(!recentFiles().contains(pipe));
    }

    // The system's reason follows the message on a line of its own.
    void unreadableFileTellsWhy()
    {
        const QString path = fixtureFile("locked.slc", 3);
        QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0200), 0);
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
        DialogScript script;
        MainWindow window;
        {
            // The superuser reads any file: play an ordinary user while the window tries.
            const bool root = ::geteuid() == 0;
            QVERIFY(!root || ::setresuid(65534, 65534, 0) == 0);
            window.openFile(path);
            QVERIFY(!root || ::setresuid(0, 0, 0) == 0);
        }
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(0).text, "Unable to open \"" + QDir::toNativeSeparators(path)
                                              + "\". It is not a readable SLC file.\n" + QString::fromLocal8Bit(std::strerror(EACCES)));
        QVERIFY(!window.hasFile());
    }

    void incompleteFileOpensWithWarning_data()
    {
        QTest::addColumn<int>("cut");
        QTest::addColumn<int>("complete");
        QTest::newRow("no end marker") << 8 << 3;
        // The last layer keeps only its height: its count fields are missing.
        QTest::newRow("cut layer") << 8 + 52 << 2;
    }
    void incompleteFileOpensWithWarning()
    {
        QFETCH(int, cut);
        QFETCH(int, complete);
        const QString path = fixtureFile("cut.slc", 3);
        QByteArray bytes = readBytes(path);
        bytes.chop(cut);
        QVERIFY(writeBytes(path, bytes));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Warning);
        QVERIFY(script.asked.at(0).text.contains(QDir::toNativeSeparators(path)));
        QVERIFY(window.hasFile());
        QCOMPARE(view(window)->sliceCount(), complete);
        QCOMPARE(slider(window)->maximum(), complete);
        QCOMPARE(recentFiles(), QStringList{path});
    }

    void fileWithoutSlices()
    {
        const QString withSlices = fixtureFile("some.slc", 5);
        const QString path = dir.filePath("none.slc");
        // An SLC file without layers: header, reserved block, empty sample table, end marker.
        QByteArray bytes("-SLCVER 2.0 -UNIT MM -TYPE PART\r\n\x1a", 34);
        bytes.append(QByteArray(256, '\0'));
        bytes.append(char(0));
        bytes.append(QByteArray("\x00\x00\x80\x3f\xff\xff\xff\xff", 8));
        QVERIFY(writeBytes(path, bytes));

        DialogScript script;
        MainWindow window;
        window.openFile(withSlices);
        action(window, "action_Run_Through_Slices")->setChecked(true);
        playTimer(window)->start();

        window.openFile(path);
        QVERIFY(script.asked.isEmpty());
        QVERIFY(window.hasFile());
        QCOMPARE(window.windowTitle(), "none.slc - " + baseTitle);
        QCOMPARE(recentFiles().value(0), path);
        QVERIFY(slider(window)->isHidden());
        QVERIFY(action(window, "action_Close")->isEnabled());
        for (const char *name : {"action_Grid_Interval", "action_Go_to_Slice", "action_Go_to_Slice_Z",
                                 "action_Run_Back_Slices", "action_Run_Through_Slices"})
            QVERIFY2(!action(window, name)->isEnabled(), name);
        QVERIFY(!playTimer(window)->isActive());
        QVERIFY(!action(window, "action_Run_Through_Slices")->isChecked());
    }

    void recentList()
    {
        DialogScript script;
        MainWindow window;
        QStringList paths;
        for (int i = 1; i <= 6; ++i)
            paths.append(fixtureFile(QString("file%1.slc").arg(i), 1));
        const QString upper = fixtureFile("FILE1.slc", 1);

        window.openFile(paths[0]);
        window.openFile(paths[0]);
        QCOMPARE(recentFiles(), QStringList{paths[0]});
        window.openFile(upper);
        QCOMPARE(recentFiles(), (QStringList{upper, paths[0]}));
        for (int i = 1; i < 6; ++i)
            window.openFile(paths[i]);
        QCOMPARE(recentFiles(), (QStringList{paths[5], paths[4], paths[3], paths[2], paths[1]}));
        QCOMPARE(recentEntries(window),
                 (QStringList{"&1 file6.slc", "&2 file5.slc", "&3 file4.slc", "&4 file3.slc", "&5 file2.slc"}));
        QCOMPARE(recentEntry(window, 0)->statusTip(), QDir::toNativeSeparators(paths[5]));
    }

    void recentEntryKeepsAmpersandsAndPercents()
    {
        const QString path = fixtureFile("a&b %2 %1.slc", 2);
        const QString other = fixtureFile("other.slc", 2);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        QCOMPARE(window.windowTitle(), "a&b %2 %1.slc - " + baseTitle);
        window.openFile(other);
        QCOMPARE(recentEntries(window), (QStringList{"&1 other.slc", "&2 a&&b %2 %1.slc"}));
        recentEntry(window, 1)->trigger();
        QCOMPARE(window.windowTitle(), "a&b %2 %1.slc - " + baseTitle);
        QVERIFY(script.asked.isEmpty());
    }

    void close()
    {
        const QString path = fixtureFile("closed.slc", 3);
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        action(window, "action_Run_Back_Slices")->setChecked(true);
        playTimer(window)->start();
        action(window, "action_Ruler")->setChecked(true);

        action(window, "action_Close")->trigger();
        QVERIFY(!window.hasFile());
        QCOMPARE(window.windowTitle(), baseTitle);
        QCOMPARE(view(window)->sliceCount(), 0);
        QVERIFY(slider(window)->isHidden());
        QVERIFY(!action(window, "action_Ruler")->isChecked());
        QVERIFY(!playTimer(window)->isActive());
        QVERIFY(!action(window, "action_Run_Back_Slices")->isChecked());
        for (const char *name : {"action_Grid_Interval", "action_Go_to_Slice", "action_Go_to_Slice_Z",
                                 "action_Run_Back_Slices", "action_Run_Through_Slices", "action_Close"})
            QVERIFY2(!action(window, name)->isEnabled(), name);
        QCOMPARE(recentFiles(), QStringList{path});
        QVERIFY(watcher(window)->files().isEmpty());
        QVERIFY(script.asked.isEmpty());
    }

    // What the slices of a file held goes back to the system once they are gone: one release
    // when a file is replaced or closed, after the view let go of the old slices, and also when
    // a refused file was read in vain.
    void freedMemoryIsReleasedWhenAFileGoes_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("slicesThen");
        QTest::newRow("replaced") << "replaced" << 2;
        QTest::newRow("refused") << "refused" << 4;
        QTest::newRow("closed") << "closed" << 0;
    }

    void freedMemoryIsReleasedWhenAFileGoes()
    {
        QFETCH(QString, how);
        QFETCH(int, slicesThen);
        const QString first = fixtureFile("first.slc", 4);
        const QString second = fixtureFile("second.slc", 2);
        const QString refused = dir.filePath("refused.slc");
        QVERIFY(writeBytes(refused, QByteArray("this is no slice file\n")));
        DialogScript script;
        MainWindow window;
        window.openFile(first);
        QCOMPARE(view(window)->sliceCount(), 4);
        QList<int> seen;
        MemoryRelease::setObserver([&] { seen.append(view(window)->sliceCount()); });
        if (how == "replaced")
            window.openFile(second);
        else if (how == "refused")
            window.openFile(refused);
        else
            action(window, "action_Close")->trigger();
        MemoryRelease::setObserver(nullptr);
        QCOMPARE(seen, QList<int>{slicesThen});
    }

    void dropOpensFirstLocalFileLater()
    {
        const QString first = fixtureFile("dropped.slc", 2);
        const QString second = fixtureFile("second.slc", 2);
        DialogScript script;
        MainWindow window;
        bool entered = false;
        bool dropped = false;
        dropUrls(window,
                 {QUrl("https://example.org/part.slc"), QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)},
                 &entered, &dropped);
        QVERIFY(entered);
        QVERIFY(dropped);
        QVERIFY(!window.hasFile());
        QCoreApplication::processEvents();
        QCOMPARE(window.windowTitle(), "dropped.slc - " + baseTitle);
        QVERIFY(script.asked.isEmpty());
    }

    void dropWithoutLocalFileIsRefused()
    {
        DialogScript script;
        MainWindow window;
        bool entered = true;
        bool dropped = true;
        dropUrls(window, {QUrl("https://example.org/part.slc")}, &entered, &dropped);
        QVERIFY(!entered);
        QVERIFY(!dropped);
        QCoreApplication::processEvents();
        QVERIFY(!window.hasFile());
        QVERIFY(script.asked.isEmpty());

        QMimeData text;
        text.setText("/some/path.slc");
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        emit view(window)->dragEnter(&enter);
        QVERIFY(!enter.isAccepted());
    }
};

QTEST_MAIN(TestMainWindowOpen)
#include "tst_mainwindow_open.moc"
