#include "application.h"
#include "mainwindow.h"
#include "modaldialogs.h"
#include "sliceexporter.h"
#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QFileOpenEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>

using namespace sliceviewtest;

// Which window a file-open request of the system ends in, and what the command line does.
class TestApplication : public QObject
{
    Q_OBJECT

public:
    // The files hold 2, 3, 4, ... slices, so a window's slice count tells which one it shows.
    explicit TestApplication(const QStringList &files)
        : files(files)
    {
    }

private:
    QStringList files;
    QList<MainWindow *> ownWindows;
    int dialogs = 0;

    static QList<MainWindow *> mainWindows()
    {
        QList<MainWindow *> found;
        const QWidgetList widgets = QApplication::topLevelWidgets();
        for (QWidget *widget : widgets) {
            if (MainWindow *window = qobject_cast<MainWindow *>(widget))
                found.append(window);
        }
        return found;
    }

    static int shownSlices(MainWindow *window)
    {
        return window->findChild<SliceView *>()->sliceCount();
    }

    MainWindow *newWindow(bool show)
    {
        MainWindow *window = new MainWindow(nullptr);
        ownWindows.append(window);
        if (show) {
            window->show();
            QTest::qWait(0);
        }
        return window;
    }

    static void request(const QString &file)
    {
        QFileOpenEvent event(file);
        QApplication::sendEvent(qApp, &event);
        // What the windows queued (a fit, a file from the command line) runs now.
        QTest::qWait(20);
    }

private slots:
    void initTestCase()
    {
        ModalDialogs::setResponder([this](const ModalDialogs::Request &) {
            ++dialogs;
            return ModalDialogs::Answer();
        });
        MainWindow *first = newWindow(true);
        QTRY_VERIFY(first->hasFile());
        QCOMPARE(shownSlices(first), 2);
    }

    void cleanupTestCase()
    {
        QCOMPARE(dialogs, 0);
        qDeleteAll(ownWindows);
        ModalDialogs::setResponder(ModalDialogs::Responder());
    }

    // The command-line file is the first window's, once.
    void commandLineOnlyOnce()
    {
        MainWindow *first = ownWindows.first();
        SliceView *view = first->findChild<SliceView *>();
        view->setSlice(2);
        first->hide();
        first->show();
        QTest::qWait(20);
        QCOMPARE(view->currentSlice(), 2);

        MainWindow *second = newWindow(true);
        QTest::qWait(20);
        QVERIFY(!second->hasFile());
        second->close();
    }

    void allWindowsBusyMakesANewOne()
    {
        const int before = mainWindows().size();
        request(files.at(1));
        const QList<MainWindow *> windows = mainWindows();
        QCOMPARE(windows.size(), before + 1);
        MainWindow *made = nullptr;
        for (MainWindow *window : windows) {
            if (!ownWindows.contains(window))
                made = window;
        }
        QVERIFY(made);
        QVERIFY(made->isVisible());
        QVERIFY(made->hasFile());
        // Its show did not replace the requested file with the command-line file.
        QCOMPARE(shownSlices(made), 3);
        QCOMPARE(shownSlices(ownWindows.first()), 2);
        made->close();
    }

    void freeWindowTakesTheFile()
    {
        MainWindow *free = newWindow(true);
        const int before = mainWindows().size();
        request(files.at(2));
        QCOMPARE(mainWindows().size(), before);
        QVERIFY(free->hasFile());
        QCOMPARE(shownSlices(free), 4);
        QCOMPARE(shownSlices(ownWindows.first()), 2);
        free->close();
    }

    // A closed window stays alive but out of sight: a file must not vanish into it.
    void hiddenWindowsAreSkipped()
    {
        MainWindow *hidden = newWindow(false);
        const QList<MainWindow *> windows = mainWindows();
        for (MainWindow *window : windows) {
            if (!window->hasFile() && window != hidden)
                window->openFile(files.at(0));
        }
        const int before = windows.size();
        request(files.at(3));
        QVERIFY(!hidden->hasFile());
        QCOMPARE(mainWindows().size(), before + 1);
        bool shown = false;
        for (MainWindow *window : mainWindows())
            shown = shown || (window->isVisible() && window->hasFile() && shownSlices(window) == 5);
        QVERIFY(shown);
    }

    // A write beyond the file-size limit fails like one onto a full disk; the program lives on.
    // The signal's handling is left to the program, as in daily use.
    void fileSizeLimitFailsTheWriteOnly()
    {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        const QString path = out.filePath(QStringLiteral("big.slc"));
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit limit = saved;
        limit.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
        QString reason;
        const bool written = SliceExporter::writeSlc(path, stackOf(5), &reason);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        QVERIFY(!written);
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
        QVERIFY(!QFileInfo::exists(path));
    }
};

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Nurat"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarne"));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    QStringList files;
    for (int slices = 2; slices <= 5; ++slices) {
        const QString path = dir.filePath(QStringLiteral("part%1.slc").arg(slices));
        if (!writeSlc(path, stackOf(slices)))
            return 1;
        files.append(path);
    }

    // The program is started with the first file on its command line.
    QByteArray program(argv[0]);
    QByteArray file = files.first().toLocal8Bit();
    int applicationArgc = 2;
    char *applicationArgv[] = {program.data(), file.data(), nullptr};
    Application application(applicationArgc, applicationArgv);
    QSettings().clear();
    application.setAttribute(Qt::AA_Use96Dpi, true);

    TestApplication test(files);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_application.moc"
