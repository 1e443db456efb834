#include "dbusfilemanagerbackend.h"
#include "filemanagerbackend.h"
#include "recordingfilemanagerbackend.h"
#include "shellhelpers.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a fake desktop service was asked, one entry per call.
struct ServiceCall {
    QString method;
    QStringList arguments;
};

class CallLog
{
public:
    void add(const ServiceCall &call)
    {
        QMutexLocker locker(&mutex);
        calls.append(call);
    }
    QList<ServiceCall> take()
    {
        QMutexLocker locker(&mutex);
        QList<ServiceCall> taken = calls;
        calls.clear();
        return taken;
    }

private:
    QMutex mutex;
    QList<ServiceCall> calls;
};

QString fileIdentity(const struct stat &status)
{
    return QStringLiteral("%1:%2").arg(status.st_dev).arg(status.st_ino);
}

QString fileIdentity(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return fileIdentity(status);
}

} // namespace

// The desktop's file manager as seen over D-Bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FakeFileManager(CallLog *log) : log(log) {}

public slots:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        log->add({QStringLiteral("ShowItems"), QStringList(uris) << startupId});
    }

private:
    CallLog *log;
};

// The desktop portal's program chooser. It notes the file by its identity on disk, so that a
// passed descriptor and a URI compare alike.
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")

public:
    explicit FakePortal(CallLog *log) : log(log) {}

public slots:
    QDBusObjectPath OpenFile(const QString &parentWindow, const QDBusUnixFileDescriptor &fd, const QVariantMap &options)
    {
        struct stat status;
        const QString file = ::fstat(fd.fileDescriptor(), &status) == 0 ? fileIdentity(status) : QString();
        record(parentWindow, file, options);
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/1"));
    }
    QDBusObjectPath OpenURI(const QString &parentWindow, const QString &uri, const QVariantMap &options)
    {
        record(parentWindow, fileIdentity(QUrl(uri).toLocalFile()), options);
        return QDBusObjectPath(QStringLiteral("/org/freedesktop/portal/desktop/request/1"));
    }

private:
    void record(const QString &parentWindow, const QString &file, const QVariantMap &options)
    {
        log->add({QStringLiteral("choose"),
                  {parentWindow, file, options.value(QStringLiteral("ask")).toBool() ? "ask" : "no ask"}});
    }

    CallLog *log;
};

// Notes the chooser in the same event list as the URL handler, so that their order shows.
class OrderedRecordingBackend : public RecordingFileManagerBackend
{
public:
    explicit OrderedRecordingBackend(QStringList *events) : events(events) {}

    bool chooseApplication(const QString &filePath) override
    {
        events->append(QStringLiteral("choose ") + filePath);
        return RecordingFileManagerBackend::chooseApplication(filePath);
    }

private:
    QStringList *events;
};

class TestShellHelpers : public QObject
{
    Q_OBJECT

public slots:
    void urlOpened(const QUrl &url)
    {
        events.append(QStringLiteral("open ") + url.toLocalFile());
        openedUrls.append(url);
    }

private:
    QTemporaryDir busDirectory;
    QProcess daemon;
    bool busRunning = false;
    QThread serviceThread;
    CallLog serviceCalls;
    FakeFileManager *fileManager = nullptr;
    FakePortal *portal = nullptr;
    DBusFileManagerBackend *dbusBackend = nullptr;

    QStringList events;
    QList<QUrl> openedUrls;
    OrderedRecordingBackend recording{&events};

    static QDBusConnection clientBus() { return QDBusConnection(QStringLiteral("client")); }
    static QDBusConnection serviceBus() { return QDBusConnection(QStringLiteral("service")); }

    void startBus()
    {
        const QString program = QStandardPaths::findExecutable("dbus-daemon");
        if (program.isEmpty() || !busDirectory.isValid())
            return;
        // A bus of our own with no service activation, so nothing of the machine's desktop can
        // answer in place of the fakes.
        QFile config(busDirectory.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:path=%1</listen>\n"
            "  <auth>EXTERNAL</auth>\n"
            "  <policy context=\"default\">\n"
            "    <allow send_destination=\"*\"/>\n"
            "    <allow receive_sender=\"*\"/>\n"
            "    <allow own=\"*\"/>\n"
            "  </policy>\n"
            "</busconfig>\n").arg(busDirectory.filePath("bus")).toUtf8());
        config.close();

        daemon.start(program, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY2(daemon.waitForStarted(10000), qPrintable(daemon.errorString()));
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QVERIFY2(!address.isEmpty(), daemon.readAllStandardError().constData());
        QVERIFY(QDBusConnection::connectToBus(address, "client").isConnected());
        QVERIFY(QDBusConnection::connectToBus(address, "service").isConnected());

        // The helpers wait for the answer without running the event loop, so the fakes answer
        // from a thread of their own.
        fileManager = new FakeFileManager(&serviceCalls);
        portal = new FakePortal(&serviceCalls);
        fileManager->moveToThread(&serviceThread);
        portal->moveToThread(&serviceThread);
        serviceThread.start();
        QVERIFY(serviceBus().registerObject("/org/freedesktop/FileManager1", fileManager, QDBusConnection::ExportAllSlots));
        QVERIFY(serviceBus().registerObject("/org/freedesktop/portal/desktop", portal, QDBusConnection::ExportAllSlots));
        setServices(true, true);
        dbusBackend = new DBusFileManagerBackend(clientBus());
        busRunning = true;
    }

    void setServices(bool withFileManager, bool withPortal)
    {
        QDBusConnection bus = serviceBus();
        if (withFileManager)
            QVERIFY(bus.registerService("org.freedesktop.FileManager1"));
        else
            bus.unregisterService("org.freedesktop.FileManager1");
        if (withPortal)
            QVERIFY(bus.registerService("org.freedesktop.portal.Desktop"));
        else
            bus.unregisterService("org.freedesktop.portal.Desktop");
    }

    static bool writeFile(const QString &path, const QByteArray &contents)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

    static QStringList entries(const QString &directory)
    {
        return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                         QDir::Name);
    }

    static QString homeTrash()
    {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setApplicationName("Quarne");
        QDesktopServices::setUrlHandler("file", this, "urlOpened");
        startBus();
    }

    void cleanupTestCase()
    {
        FileManagerBackend::setInstance(nullptr);
        QDesktopServices::unsetUrlHandler("file");
        delete dbusBackend;
        if (busRunning) {
            serviceBus().unregisterObject("/org/freedesktop/FileManager1");
            serviceBus().unregisterObject("/org/freedesktop/portal/desktop");
            QDBusConnection::disconnectFromBus("client");
            QDBusConnection::disconnectFromBus("service");
        }
        serviceThread.quit();
        serviceThread.wait();
        delete fileManager;
        delete portal;
        if (daemon.state() != QProcess::NotRunning) {
            daemon.kill();
            daemon.waitForFinished();
        }
    }

    void init()
    {
        events.clear();
        openedUrls.clear();
        recording.clear();
        recording.setShowItemsResult(true);
        recording.setChooseApplicationResult(true);
        FileManagerBackend::setInstance(&recording);
        QDesktopServices::setUrlHandler("file", this, "urlOpened");
        serviceCalls.take();
    }

    // The file manager is asked over the bus, with the file as a URI that survives blanks and
    // non-ASCII letters, and without a startup id.
    void showInExplorerAsksTheFileManager()
    {
        if (!busRunning)
            QSKIP("dbus-daemon is not installed");
        FileManagerBackend::setInstance(dbusBackend);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath("Part 1 \u00fcber #2.slc");
        QVERIFY(writeFile(path, "x"));

        QVERIFY(::showInExplorer(path));

        const QList<ServiceCall> calls = serviceCalls.take();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0).method, QString("ShowItems"));
        QCOMPARE(calls.at(0).arguments.size(), 2);
        const QString uri = calls.at(0).arguments.at(0);
        QCOMPARE(uri, QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));
        QCOMPARE(QUrl(uri).toLocalFile(), path);
        QCOMPARE(calls.at(0).arguments.at(1), QString(""));
        QVERIFY(openedUrls.isEmpty());
    }

    void showInExplorerWithoutFileManagerOpensTheFolder()
    {
        if (!busRunning)
            QSKIP("dbus-daemon is not installed");
        FileManagerBackend::setInstance(dbusBackend);
        setServices(false, true);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath("part.slc");
        QVERIFY(writeFile(path, "x"));

        const bool shown = ::showInExplorer(path);
        setServices(true, true);

        QVERIFY(shown);
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(directory.path())});
        QVERIFY(serviceCalls.take().isEmpty());
    }

    // The portal gets the file itself (or its URI on a bus without descriptor passing) and is
    // told to ask the user; without a portal the file opens with its usual program.
    void openWithDialogGoesThroughThePortal()
    {
        if (!busRunning)
            QSKIP("dbus-daemon is not installed");
        FileManagerBackend::setInstance(dbusBackend);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath("part.slc");
        QVERIFY(writeFile(path, "x"));

        QVERIFY(::openWith(path, true));
        const QList<ServiceCall> calls = serviceCalls.take();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.at(0).method, QString("choose"));
        QCOMPARE(calls.at(0).arguments, QStringList({"", fileIdentity(path), "ask"}));
        QVERIFY(openedUrls.isEmpty());

        setServices(true, false);
        const bool opened = ::openWith(path, true);
        setServices(true, true);
        QVERIFY(opened);
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(path)});
    }

    void showInExplorer_data()
    {
        QTest::addColumn<QString>("path");           // below the fixture directory; "" for none
        QTest::addColumn<bool>("fileManagerWorks");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("requests");   // "<dir>" stands for the fixture directory
        QTest::addColumn<QStringList>("events");

        QTest::newRow("file") << "sub/part.slc" << true << true
                              << QStringList{"show <dir>/sub/part.slc"} << QStringList{};
        QTest::newRow("file manager refuses") << "sub/part.slc" << false << true
                                              << QStringList{"show <dir>/sub/part.slc"} << QStringList{"open <dir>/sub"};
        QTest::newRow("directory opens itself") << "sub" << true << true << QStringList{} << QStringList{"open <dir>/sub"};
        QTest::newRow("missing file") << "sub/gone.slc" << true << true << QStringList{} << QStringList{"open <dir>/sub"};
        QTest::newRow("empty path") << "" << true << false << QStringList{} << QStringList{};
    }

    void showInExplorer()
    {
        QFETCH(QString, path);
        QFETCH(bool, fileManagerWorks);
        QFETCH(bool, result);
        QFETCH(QStringList, requests);
        QFETCH(QStringList, events);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("sub"));
        QVERIFY(writeFile(directory.filePath("sub/part.slc"), "x"));
        recording.setShowItemsResult(fileManagerWorks);
        requests.replaceInStrings("<dir>", directory.path());
        events.replaceInStrings("<dir>", directory.path());

        QCOMPARE(::showInExplorer(path.isEmpty() ? QString() : directory.filePath(path)), result);
        QCOMPARE(recording.calls(), requests);
        QCOMPARE(this->events, events);
    }

    void showInExplorerTakesRelativePaths()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeFile(directory.filePath("part.slc"), "x"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(directory.path()));
        const bool shown = ::showInExplorer("part.slc");
        recording.setShowItemsResult(false);
        ::showInExplorer("part.slc");
        QVERIFY(QDir::setCurrent(previous));

        QVERIFY(shown);
        const QString absolute = QFileInfo(directory.filePath("part.slc")).absoluteFilePath();
        QCOMPARE(recording.calls(), QStringList({"show " + absolute, "show " + absolute}));
        QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(absolute).absolutePath())});
    }

    // Which of the two ways is tried first, and that the other one stands in.
    void openWith_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("preferDialog");
        QTest::addColumn<bool>("associationWorks");
        QTest::addColumn<bool>("chooserWorks");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QStringList>("events");

        QTest::newRow("file") << "part.slc" << false << true << true << true << QStringList{"open part.slc"};
        QTest::newRow("file, no association") << "part.slc" << false << false << true << true
                                             << QStringList{"choose part.slc"};
        QTest::newRow("file, dialog preferred") << "part.slc" << true << true << true << true
                                               << QStringList{"choose part.slc"};
        QTest::newRow("file, dialog preferred but unavailable") << "part.slc" << true << true << false << true
                                                               << QStringList{"choose part.slc", "open part.slc"};
        QTest::newRow("directory, dialog preferred") << "sub" << true << true << true << true << QStringList{"open sub"};
        QTest::newRow("directory, no association") << "sub" << true << false << true << true << QStringList{"choose sub"};
        QTest::newRow("nothing works") << "part.slc" << true << false << false << false << QStringList{"choose part.slc"};
        QTest::newRow("empty path") << "" << false << true << true << false << QStringList{};
    }

    void openWith()
    {
        QFETCH(QString, path);
        QFETCH(bool, preferDialog);
        QFETCH(bool, associationWorks);
        QFETCH(bool, chooserWorks);
        QFETCH(bool, result);
        QFETCH(QStringList, events);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("sub"));
        QVERIFY(writeFile(directory.filePath("part.slc"), "x"));
        recording.setChooseApplicationResult(chooserWorks);
        if (!associationWorks) {
            // A handler that cannot be called is how QDesktopServices reports a failed opening.
            QDesktopServices::setUrlHandler("file", this, "refuseUrl");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such method"));
        }
        for (QString &event : events)
            event.replace(QRegularExpression(" (.*)$"), " " + directory.path() + "/\\1");

        const bool opened = ::openWith(path.isEmpty() ? QString() : directory.filePath(path), preferDialog);
        QDesktopServices::setUrlHandler("file", this, "urlOpened");
        QCOMPARE(opened, result);
        QCOMPARE(this->events, events);
    }

    void isJunction_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("junction");
        QTest::newRow("link to a directory") << "dirlink" << true;
        QTest::newRow("directory") << "dir" << false;
        QTest::newRow("link to a file") << "filelink" << false;
        QTest::newRow("file") << "file" << false;
        QTest::newRow("dangling link") << "dangling" << false;
        QTest::newRow("missing") << "missing" << false;
    }

    void isJunction()
    {
        QFETCH(QString, path);
        QFETCH(bool, junction);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("dir"));
        QVERIFY(writeFile(directory.filePath("file"), "x"));
        QVERIFY(QFile::link(directory.filePath("dir"), directory.filePath("dirlink")));
        QVERIFY(QFile::link(directory.filePath("file"), directory.filePath("filelink")));
        QVERIFY(QFile::link(directory.filePath("nowhere"), directory.filePath("dangling")));

        QCOMPARE(::isJunction(directory.filePath(path)), junction);
    }

    void removeJunctionKeepsTheTarget()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("target"));
        QVERIFY(writeFile(directory.filePath("target/kept"), "kept"));
        QVERIFY(QFile::link(directory.filePath("target"), directory.filePath("link")));

        QVERIFY(!removeJunction(directory.filePath("target")));
        QVERIFY(!removeJunction(directory.filePath("target/kept")));
        QVERIFY(removeJunction(directory.filePath("link")));
        QCOMPARE(entries(directory.path()), QStringList{"target"});
        QCOMPARE(readFile(directory.filePath("target/kept")), QByteArray("kept"));
    }

    // Everything below goes, hidden and odd entries too, but nothing a link points to.
    void removeDirectoryRecursivelyStopsAtLinks()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QDir root(directory.path());
        QVERIFY(root.mkpath("outside/deeper"));
        QVERIFY(writeFile(directory.filePath("outside/deeper/kept"), "kept"));
        QVERIFY(writeFile(directory.filePath("outside.txt"), "kept too"));
        QVERIFY(root.mkpath("tree/a/b/.hidden"));
        QVERIFY(writeFile(directory.filePath("tree/a/b/.hidden/.file"), "x"));
        QVERIFY(writeFile(directory.filePath("tree/a/file"), "x"));
        QVERIFY(QFile::link(directory.filePath("outside"), directory.filePath("tree/a/junction")));
        QVERIFY(QFile::link(directory.filePath("outside.txt"), directory.filePath("tree/filelink")));
        QVERIFY(QFile::link(directory.filePath("nowhere"), directory.filePath("tree/a/b/dangling")));

        QVERIFY(removeDirectoryRecursively(directory.filePath("tree")));
        QCOMPARE(entries(directory.path()), QStringList({"outside", "outside.txt"}));
        QCOMPARE(readFile(directory.filePath("outside/deeper/kept")), QByteArray("kept"));
        QCOMPARE(readFile(directory.filePath("outside.txt")), QByteArray("kept too"));
    }

    void removeDirectoryRecursivelyOnALinkRemovesOnlyTheLink()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("target"));
        QVERIFY(writeFile(directory.filePath("target/kept"), "kept"));
        QVERIFY(QFile::link(directory.filePath("target"), directory.filePath("link")));

        QVERIFY(removeDirectoryRecursively(directory.filePath("link")));
        QCOMPARE(entries(directory.path()), QStringList{"target"});
        QCOMPARE(readFile(directory.filePath("target/kept")), QByteArray("kept"));
    }

    void removeDirectoryRecursivelyRefusesNonDirectories()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeFile(directory.filePath("file"), "kept"));
        QVERIFY(!removeDirectoryRecursively(directory.filePath("file")));
        QVERIFY(!removeDirectoryRecursively(directory.filePath("missing")));
        QVERIFY(!removeDirectoryRecursively(QString()));
        QCOMPARE(readFile(directory.filePath("file")), QByteArray("kept"));
    }

    // The home trash takes the path under a name of its own, with the information the desktop
    // needs to restore it.
    void moveToRecycleBin()
    {
        QVERIFY(QDir(homeTrash()).removeRecursively());
        QTemporaryDir directory(QDir::homePath() + "/trashed-XXXXXX");
        QVERIFY(directory.isValid());
        struct stat sourceStatus;
        struct stat homeStatus;
        QVERIFY(::stat(QFile::encodeName(directory.path()).constData(), &sourceStatus) == 0);
        QVERIFY(::stat(QFile::encodeName(QDir::homePath()).constData(), &homeStatus) == 0);
        if (sourceStatus.st_dev != homeStatus.st_dev)
            QSKIP("the home directory spans file systems");
        QVERIFY(QDir(directory.path()).mkdir("one"));
        QVERIFY(QDir(directory.path()).mkdir("two"));
        const QString first = directory.filePath("one/part 1%.slc");
        const QString second = directory.filePath("two/part 1%.slc");
        QVERIFY(writeFile(first, "first"));
        QVERIFY(writeFile(second, "second"));
        QVERIFY(QDir(directory.path()).mkdir("folder"));
        QVERIFY(writeFile(directory.filePath("folder/inside"), "inside"));

        QVERIFY(::moveToRecycleBin(first));
        QVERIFY(::moveToRecycleBin(second));
        QVERIFY(::moveToRecycleBin(directory.filePath("folder")));

        QVERIFY(!QFileInfo::exists(first));
        QVERIFY(!QFileInfo::exists(second));
        QVERIFY(!QFileInfo::exists(directory.filePath("folder")));
        const QString files = homeTrash() + "/files";
        const QString info = homeTrash() + "/info";
        QCOMPARE(entries(files), QStringList({"folder", "part 1%.slc", "part 1%.slc.2"}));
        QCOMPARE(entries(info), QStringList({"folder.trashinfo", "part 1%.slc.2.trashinfo", "part 1%.slc.trashinfo"}));
        QCOMPARE(readFile(files + "/part 1%.slc"), QByteArray("first"));
        QCOMPARE(readFile(files + "/part 1%.slc.2"), QByteArray("second"));
        QCOMPARE(readFile(files + "/folder/inside"), QByteArray("inside"));

        const QList<QByteArray> description = readFile(info + "/part 1%.slc.2.trashinfo").split('\n');
        QCOMPARE(description.size(), 4);
        QCOMPARE(description.at(0), QByteArray("[Trash Info]"));
        QCOMPARE(description.at(1), "Path=" + QUrl::toPercentEncoding(second, "/"));
        QVERIFY(description.at(2).startsWith("DeletionDate="));
        const QDateTime deleted = QDateTime::fromString(QString::fromLatin1(description.at(2).mid(13)), Qt::ISODate);
        QVERIFY(deleted.isValid());
        QVERIFY(qAbs(deleted.secsTo(QDateTime::currentDateTime())) < 600);
        QCOMPARE(description.at(3), QByteArray());
        QVERIFY(QDir(homeTrash()).removeRecursively());
    }

    void moveToRecycleBinWithoutTrashLeavesThePath()
    {
        QVERIFY(QDir(homeTrash()).removeRecursively());
        QVERIFY(QDir().mkpath(QFileInfo(homeTrash()).absolutePath()));
        // Something that is not a directory where the trash belongs.
        QVERIFY(writeFile(homeTrash(), "not a trash"));
        QTemporaryDir directory(QDir::homePath() + "/trashed-XXXXXX");
        QVERIFY(directory.isValid());
        const QString path = directory.filePath("part.slc");
        QVERIFY(writeFile(path, "kept"));
        const QStringList workingDirectory = entries(QDir::currentPath());

        const bool moved = ::moveToRecycleBin(path);
        QVERIFY(QFile::remove(homeTrash()));

        QVERIFY(!moved);
        QCOMPARE(readFile(path), QByteArray("kept"));
        QCOMPARE(entries(QDir::currentPath()), workingDirectory);
        QVERIFY(!::moveToRecycleBin(directory.filePath("missing")));
        QVERIFY(!::moveToRecycleBin(QString()));
    }

    void createTemporaryDirectory()
    {
        const QString first = ::createTemporaryDirectory();
        const QString second = ::createTemporaryDirectory();
        const auto cleanUp = qScopeGuard([&] {
            QDir(first).removeRecursively();
            QDir(second).removeRecursively();
        });

        QVERIFY(!first.isEmpty());
        QVERIFY(!second.isEmpty());
        QVERIFY(first != second);
        const QRegularExpression name("^Quarne-[A-Za-z0-9]{6}$");
        for (const QString &path : {first, second}) {
            const QFileInfo info(path);
            QVERIFY2(info.isDir(), qPrintable(path));
            QCOMPARE(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
            QVERIFY2(name.match(info.fileName()).hasMatch(), qPrintable(info.fileName()));
            QVERIFY(entries(path).isEmpty());
            struct stat status;
            QVERIFY(::stat(QFile::encodeName(path).constData(), &status) == 0);
            QCOMPARE(int(status.st_mode & 0777), 0700);
        }
    }

    void fileDigests_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("md5");
        QTest::addColumn<QString>("sha1");
        QTest::newRow("empty") << QByteArray() << "d41d8cd98f00b204e9800998ecf8427e"
                               << "da39a3ee5e6b4b0d3255bfef95601890afd80709";
        QTest::newRow("abc") << QByteArray("abc") << "900150983cd24fb0d6963f7d28e17f72"
                             << "a9993e364706816aba3e25717850c26c9cd0d89d";
        // Many read blocks, the last one partial.
        QTest::newRow("a million a") << QByteArray(1000000, 'a') << "7707d6ae4e027c70eea2a935c2296f21"
                                     << "34aa973cd4c4daa4f61eeb2bdbad27316534016f";
    }

    void fileDigests()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, md5);
        QFETCH(QString, sha1);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString path = directory.filePath("data");
        QVERIFY(writeFile(path, contents));

        QCOMPARE(fileMd5(path), md5);
        QCOMPARE(fileSha1(path), sha1);
    }

    void fileDigestsOfUnreadablePaths()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(fileMd5(directory.filePath("missing")).isNull());
        QVERIFY(fileSha1(directory.filePath("missing")).isNull());
        QVERIFY(fileMd5(directory.path()).isNull());
        QVERIFY(fileSha1(directory.path()).isNull());
    }

    void createLinkToAFile_data()
    {
        QTest::addColumn<QByteArray>("existing");   // what is at the link's place; "" for nothing
        QTest::newRow("new name") << QByteArray();
        QTest::newRow("replaces a file") << QByteArray("old contents");
    }

    void createLinkToAFile()
    {
        QFETCH(QByteArray, existing);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString target = directory.filePath("target");
        const QString link = directory.filePath("link");
        QVERIFY(writeFile(target, "target contents"));
        if (!existing.isEmpty())
            QVERIFY(writeFile(link, existing));

        QVERIFY(createLink(target, link));
        QCOMPARE(fileIdentity(link), fileIdentity(target));
        QCOMPARE(readFile(link), QByteArray("target contents"));
        QCOMPARE(entries(directory.path()), QStringList({"link", "target"}));
    }

    void createLinkOverAnotherNameOfTheSameFile()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString target = directory.filePath("target");
        QVERIFY(writeFile(target, "x"));
        QVERIFY(createLink(target, directory.filePath("link")));

        QVERIFY(createLink(target, directory.filePath("link")));
        QCOMPARE(fileIdentity(directory.filePath("link")), fileIdentity(target));
        QCOMPARE(entries(directory.path()), QStringList({"link", "target"}));
    }

    // Whatever is at the link's place stays when the link cannot be made.
    void createLinkFailureKeepsWhatIsThere_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("link");
        QTest::newRow("missing target over a file") << "missing" << "file";
        QTest::newRow("file target over a directory") << "other" << "dir";
        QTest::newRow("directory target over a file") << "targetdir" << "file";
        QTest::newRow("directory target over a directory") << "targetdir" << "dir";
        QTest::newRow("no target") << "" << "file";
    }

    void createLinkFailureKeepsWhatIsThere()
    {
        QFETCH(QString, target);
        QFETCH(QString, link);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeFile(directory.filePath("file"), "kept"));
        QVERIFY(writeFile(directory.filePath("other"), "other"));
        QVERIFY(QDir(directory.path()).mkpath("dir/inside"));
        QVERIFY(QDir(directory.path()).mkdir("targetdir"));
        const QStringList before = entries(directory.path());

        QVERIFY(!createLink(target.isEmpty() ? QString() : directory.filePath(target), directory.filePath(link)));
        QCOMPARE(entries(directory.path()), before);
        QCOMPARE(readFile(directory.filePath("file")), QByteArray("kept"));
        QVERIFY(!QFileInfo(directory.filePath("file")).isSymLink());
        QCOMPARE(entries(directory.filePath("dir")), QStringList{"inside"});
    }

    void createLinkToADirectory()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(QDir(directory.path()).mkdir("target"));
        QVERIFY(writeFile(directory.filePath("target/inside"), "inside"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(directory.path()));
        const bool made = createLink("target", "link");
        QVERIFY(QDir::setCurrent(previous));

        QVERIFY(made);
        const QString link = directory.filePath("link");
        QVERIFY(::isJunction(link));
        // Absolute, so that the link works wherever it is moved.
        char stored[4096];
        const ssize_t length = ::readlink(QFile::encodeName(link).constData(), stored, sizeof stored);
        QVERIFY(length > 0);
        QCOMPARE(QFile::decodeName(QByteArray(stored, int(length))), QFileInfo(directory.filePath("target")).absoluteFilePath());
        QCOMPARE(readFile(link + "/inside"), QByteArray("inside"));
    }
};

QTEST_MAIN(TestShellHelpers)
#include "tst_shellhelpers.moc"
