// The program is started with a file on its command line: this suite runs its own application
// object whose first argument is such a file.

#include "mainwindowfixture.h"

#include <QTemporaryDir>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>


using namespace fixture;

namespace {

QTemporaryDir *fixtureDir = nullptr;

QString commandLineFile()
{
    return fixtureDir->filePath("argument.slc");
}

} // namespace

class TestMainWindowCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setUpApplication(); }

    // Must run first: the first window shown takes the file.
    void firstShowOpensTheFileOnce()
    {
        DialogScript script;
        MainWindow window;
        QVERIFY(!window.hasFile());
        // What the window is like when it reads the file, and so when its messages about the
        // file (missing, refused) would come, which are placed over it.
        QPoint readAt;
        connect(&window, &QWidget::windowTitleChanged, [&] { readAt = window.geometry().topLeft(); });
        window.show();
        QVERIFY(!window.hasFile()); // queued: the window is on screen before it reads
        // A window manager places the window after it was shown, and the window system tells.
        const QPoint placed = window.geometry().topLeft() + QPoint(300, 200);
        QWindow *handle = window.windowHandle();
        QWindowSystemInterface::handleGeometryChange(handle, QRect(placed, handle->size()));
        QTRY_VERIFY(window.hasFile());
        QCOMPARE(readAt, placed);
        QCOMPARE(window.windowTitle(), QStringLiteral("argument.slc - Nurat Quarne (SLC Viewer)"));
        QCOMPARE(view(window)->sliceCount(), 3);

        action(window, "action_Close")->trigger();
        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(!window.hasFile());
        QVERIFY(script.asked.isEmpty());
    }

    void laterWindowsKeepTheirOwnFile()
    {
        const QString own = fixtureDir->filePath("own.slc");
        QVERIFY(writeSlc(own, slices(5)));
        DialogScript script;
        MainWindow opened;
        opened.openFile(own);
        opened.show();
        MainWindow empty;
        empty.show();
        QCoreApplication::processEvents();
        QCOMPARE(opened.windowTitle(), QStringLiteral("own.slc - Nurat Quarne (SLC Viewer)"));
        QCOMPARE(view(opened)->sliceCount(), 5);
        QVERIFY(!empty.hasFile());
        QVERIFY(script.asked.isEmpty());
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir dir;
    fixtureDir = &dir;
    if (!dir.isValid() || !writeSlc(commandLineFile(), slices(3)))
        return 1;
    QByteArray program(argv[0]);
    QByteArray file = QFile::encodeName(commandLineFile());
    char *applicationArguments[] = {program.data(), file.data(), nullptr};
    int applicationArgumentCount = 2;
    QApplication application(applicationArgumentCount, applicationArguments);
    TestMainWindowCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow_cmdline.moc"
