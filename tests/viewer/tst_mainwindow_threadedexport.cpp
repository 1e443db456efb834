#include "filesizelimit.h"
#include "mainwindowfixture.h"

#include "exportimagesdialog.h"
#include "exportrun.h"
#include "exportstldialog.h"
#include "images/imagineslice.h"
#include "memoryrelease.h"
#include "stl/stlexporter.h"
#include "taskbarprogress.h"

#include <QAtomicInt>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QSemaphore>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtEndian>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>

using namespace fixture;

namespace {

// Stops the worker of an export at one of its signals, on the worker's own thread, until
// released, while the GUI thread goes on: the test then acts at a known point of the run.
class WorkerHold
{
public:
    WorkerHold() = default;
    ~WorkerHold() { release(); }
    WorkerHold(const WorkerHold &) = delete;
    WorkerHold &operator=(const WorkerHold &) = delete;

    template <typename Engine>
    void atProgress(Engine *engine, int value)
    {
        const std::shared_ptr<State> s = state;
        QObject::connect(engine, &Engine::progress, engine, [s, value](int v) {
            if (v == value)
                s->hold();
        }, Qt::DirectConnection);
    }
    template <typename Engine>
    void atFinished(Engine *engine)
    {
        const std::shared_ptr<State> s = state;
        QObject::connect(engine, &Engine::finished, engine, [s] { s->hold(); }, Qt::DirectConnection);
    }
    bool waitUntilHeld() const
    {
        return QTest::qWaitFor([this] { return state->held.loadAcquire() != 0; }, 20000);
    }
    void release()
    {
        if (!state->released.testAndSetOrdered(0, 1))
            return;
        state->gate.release();
    }

private:
    struct State
    {
        void hold()
        {
            held.storeRelease(1);
            gate.acquire();
        }
        QAtomicInt held;
        QAtomicInt released;
        QSemaphore gate;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

// Occupies every thread of the global pool, so that a run started meanwhile waits in its queue.
class PoolBlocker
{
public:
    PoolBlocker()
    {
        QThreadPool *pool = QThreadPool::globalInstance();
        threads = pool->maxThreadCount();
        const std::shared_ptr<State> s = state;
        for (int i = 0; i < threads; ++i)
            pool->start([s] {
                s->started.release();
                s->gate.acquire();
            });
        state->started.acquire(threads);
    }
    ~PoolBlocker() { release(); }
    PoolBlocker(const PoolBlocker &) = delete;
    PoolBlocker &operator=(const PoolBlocker &) = delete;
    void release()
    {
        if (threads > 0)
            state->gate.release(threads);
        threads = 0;
    }

private:
    struct State
    {
        QSemaphore started;
        QSemaphore gate;
    };
    std::shared_ptr<State> state = std::make_shared<State>();
    int threads = 0;
};

struct StlModel
{
    bool valid = false;
    quint32 count = 0;
    // The distinct heights of all vertices, ascending.
    QList<float> levels;
};

float floatAt(const char *bytes)
{
    const quint32 bits = qFromLittleEndian<quint32>(bytes);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A binary STL: 80-byte header, the facet count, one 50-byte record per facet.
StlModel readStl(const QByteArray &bytes)
{
    StlModel model;
    if (bytes.size() < 84)
        return model;
    model.count = qFromLittleEndian<quint32>(bytes.constData() + 80);
    if (qint64(bytes.size()) != 84 + 50 * qint64(model.count))
        return model;
    for (quint32 i = 0; i < model.count; ++i) {
        const char *record = bytes.constData() + 84 + 50 * qint64(i);
        for (int v = 0; v < 3; ++v) {
            const float z = floatAt(record + 12 + 12 * v + 8);
            bool known = false;
            for (float level : model.levels)
                known = known || std::fabs(level - z) < 1e-4f;
            if (!known)
                model.levels.append(z);
        }
    }
    std::sort(model.levels.begin(), model.levels.end());
    model.valid = true;
    return model;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Slices every dz from z0, each a square one millimetre larger than the one below.
QList<Slice> stack(int count, float z0, float dz)
{
    QList<Slice> list;
    for (int i = 0; i < count; ++i) {
        Slice slice = square(z0 + i * dz, 10.0f + i);
        slice.setThickness(dz);
        list.append(slice);
    }
    return list;
}

ExportRun *runOf(const MainWindow &window)
{
    return window.findChild<ExportRun *>();
}

bool exportsEnded(const MainWindow &window)
{
    return QTest::qWaitFor([&window] { return window.findChildren<ExportRun *>().isEmpty(); }, 30000);
}

TaskbarProgress::State taskbarState(const MainWindow &window)
{
    return part<TaskbarProgress>(window, "taskbarProgress")->state();
}

void clickCancel(ExportRun *run)
{
    QProgressDialog *progress = run->progressDialog();
    QPushButton *button = progress ? progress->findChild<QPushButton *>() : nullptr;
    if (!button)
        qFatal("the progress dialog has no cancel button");
    button->click();
}

QString imageName(const QString &base, int number, int digits)
{
    return QStringLiteral("%1%2.png").arg(base, QStringLiteral("%1").arg(number, digits, 10, QLatin1Char('0')));
}

const QString cancelledNotice = QStringLiteral("The operation has been cancelled.");

// Files standing for an older series in a folder: "<base><number>.png" for the numbers given,
// each with bytes of its own. Their paths and bytes, or nothing when one cannot be written.
QMap<QString, QByteArray> writeOlderImages(const QString &folder, const QString &base, int digits,
                                           const QList<int> &numbers)
{
    QMap<QString, QByteArray> files;
    for (int number : numbers) {
        const QString path = folder + "/" + imageName(base, number, digits);
        const QByteArray bytes = QStringLiteral("older image %1, not to be touched").arg(number).toUtf8();
        if (!writeBytes(path, bytes))
            return {};
        files.insert(path, bytes);
    }
    return files;
}

// Every older file is still there with its bytes.
bool olderImagesKept(const QMap<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (readBytes(it.key()) != it.value())
            return false;
    }
    return true;
}

QStringList namesOf(const QMap<QString, QByteArray> &files)
{
    QStringList names;
    for (const QString &path : files.keys())
        names << QFileInfo(path).fileName();
    return names;
}

} // namespace

// A worker under the engines' protocol whose steps the test drives: it says when it is about to
// report a step, and can be held after its finished().
class FakeEngine : public QObject
{
    Q_OBJECT

public:
    explicit FakeEngine(int steps)
        : steps(steps)
    {
    }

    int run()
    {
        int done = 0;
        for (int i = 0; i < steps && !cancelled.loadAcquire(); ++i) {
            if (i == announceAt)
                announced.release();
            emit progress(i);
            ++done;
        }
        emit finished();
        if (holdAfterFinished)
            afterFinished.acquire();
        stepsDone = done;
        return done;
    }

    const int steps;
    int announceAt = -1;
    bool holdAfterFinished = false;
    QSemaphore announced;
    QSemaphore afterFinished;
    QAtomicInt cancelled;
    int stepsDone = -1;

signals:
    void progress(int value);
    void finished();

public slots:
    void cancel() { cancelled.storeRelease(1); }
};

// Ends the program when the GUI thread does not get past a point in time: a deadlock would
// otherwise hang the suite until the runner gives up.
class Watchdog : public QThread
{
public:
    explicit Watchdog(int milliseconds)
        : limit(milliseconds)
    {
        start();
    }
    ~Watchdog() override
    {
        done.release();
        wait();
    }

protected:
    void run() override
    {
        if (!done.tryAcquire(1, limit))
            qFatal("the GUI thread has been stuck for %d ms", limit);
    }

private:
    QSemaphore done;
    const int limit;
};

class TestMainWindowThreadedExport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString partDir;
    int partNumber = 0;

    // A fresh directory holding the part "ring.rev.slc", opened in the window.
    QString openPart(MainWindow &window, const QList<Slice> &list)
    {
        const QString folder = dir.filePath(QString::number(++partNumber));
        if (!QDir().mkpath(folder))
            return QString();
        const QString path = folder + QStringLiteral("/ring.rev.slc");
        if (!writeSlc(path, list))
            return QString();
        window.openFile(path);
        return window.hasFile() ? folder : QString();
    }

    static ExportStlDialog *stlDialog(const MainWindow &window)
    {
        return part<ExportStlDialog>(window, "exportStlDialog");
    }
    static ExportImagesDialog *imagesDialog(const MainWindow &window)
    {
        return part<ExportImagesDialog>(window, "exportImagesDialog");
    }

    static void setMinimumThickness(ExportStlDialog *dialog, bool enabled, int units = 0,
                                    const QString &text = QString())
    {
        dialog->findChild<QGroupBox *>(QStringLiteral("minThicknessGroupBox"))->setChecked(enabled);
        if (!enabled)
            return;
        dialog->findChild<QComboBox *>(QStringLiteral("unitsComboBox"))->setCurrentIndex(units);
        dialog->findChild<QComboBox *>(QStringLiteral("thicknessComboBox"))->setEditText(text);
    }

    // Export STL from the command to the start of the worker.
    static ExportRun *startStl(MainWindow &window, DialogScript &script, const QString &target)
    {
        script.answerFile(target);
        action(window, "action_Export_STL")->trigger();
        ExportStlDialog *dialog = stlDialog(window);
        if (!dialog->isVisible())
            return nullptr;
        dialog->accept();
        return runOf(window);
    }

    // A small platform: 2 pixels per millimetre, 100 x 50 mm.
    static void smallPlatform(ExportImagesDialog *dialog)
    {
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("offsetXSpinBox"))->setValue(0.0);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("offsetYSpinBox"))->setValue(0.0);
        dialog->findChild<QSpinBox *>(QStringLiteral("resolutionXSpinBox"))->setValue(200);
        dialog->findChild<QSpinBox *>(QStringLiteral("resolutionYSpinBox"))->setValue(100);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("platformSizeXSpinBox"))->setValue(100.0);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("platformSizeYSpinBox"))->setValue(50.0);
    }

    // Export Images from the command to the start of the worker; the name is answered at once,
    // and with `replace` the question about the images already there with Yes.
    static ExportRun *startImages(MainWindow &window, DialogScript &script, const QString &name, bool replace = false)
    {
        script.answerFile(name);
        if (replace)
            script.answerButton(QMessageBox::Yes);
        action(window, "action_Export_Images")->trigger();
        ExportImagesDialog *dialog = imagesDialog(window);
        if (!dialog->isVisible())
            return nullptr;
        smallPlatform(dialog);
        dialog->accept();
        return runOf(window);
    }

    static QStringList filePaths(const MainWindow &window)
    {
        return imagesDialog(window)->property("FilePaths").toStringList();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
    }

    void init() { QSettings().clear(); }

    // The run itself, on an engine the test drives.

    void runKeepsEngineAndDialogUntilTheRunReturns()
    {
        FakeEngine *engine = new FakeEngine(3);
        engine->holdAfterFinished = true;
        QProgressDialog *dialog = new QProgressDialog;
        dialog->setRange(0, 3);
        QPointer<QObject> watchedEngine = engine;
        QPointer<QProgressDialog> watchedDialog = dialog;
        std::unique_ptr<ExportRun> run(new ExportRun(engine, dialog, nullptr));
        QSignalSpy finished(run.get(), &ExportRun::finished);
        // What the bar shows when the worker goes on after each step.
        QProgressBar *bar = dialog->findChild<QProgressBar *>();
        auto shown = std::make_shared<QList<int>>();
        connect(engine, &FakeEngine::progress, engine, [bar, shown](int) { shown->append(bar->value()); },
                Qt::DirectConnection);
        bool engineFinished = false;
        connect(engine, &FakeEngine::finished, this, [&engineFinished] { engineFinished = true; });

        run->start([engine] { return engine->run(); });
        QVERIFY(run->isRunning());
        QTRY_VERIFY(engineFinished);
        // The engine's finished() has arrived, its run has not returned yet.
        QVERIFY(run->isRunning());
        QCOMPARE(finished.count(), 0);
        QVERIFY(watchedEngine);
        QVERIFY(watchedDialog);
        engine->afterFinished.release();
        QVERIFY(finished.wait(20000));
        QVERIFY(!run->isRunning());
        QCOMPARE(run->result(), 3);
        QCOMPARE(engine->stepsDone, 3);
        QCOMPARE(*shown, (QList<int>{0, 1, 2}));
        QVERIFY(!run->isCancelled());
        QVERIFY(!run->isAborted());
        run->dispose();
        QVERIFY(!watchedEngine);
        QVERIFY(!watchedDialog);
    }

    void runCancelledBeforeItStarts()
    {
        FakeEngine *engine = new FakeEngine(3);
        QProgressDialog *dialog = new QProgressDialog;
        dialog->setRange(0, 3);
        dialog->show();
        ExportRun run(engine, dialog, nullptr);
        QSignalSpy finished(&run, &ExportRun::finished);
        PoolBlocker blocker;
        run.start([engine] { return engine->run(); });
        clickCancel(&run);
        QVERIFY(run.isCancelled());
        QVERIFY(engine->cancelled.loadAcquire());
        blocker.release();
        QVERIFY(finished.wait(20000));
        QCOMPARE(run.result(), 0);
        QVERIFY(run.isCancelled());
        QVERIFY(!run.isAborted());
    }

    void abortReleasesAWorkerWaitingForItsStep_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("abort") << false;
        QTest::newRow("destroy the run") << true;
    }
    void abortReleasesAWorkerWaitingForItsStep()
    {
        QFETCH(bool, destroy);
        FakeEngine *engine = new FakeEngine(1000);
        engine->announceAt = 0;
        QProgressDialog *dialog = new QProgressDialog;
        dialog->setRange(0, 1000);
        QPointer<QObject> watchedEngine = engine;
        QPointer<QProgressDialog> watchedDialog = dialog;
        ExportRun *run = new ExportRun(engine, dialog, nullptr);
        int finished = 0;
        connect(run, &ExportRun::finished, this, [&finished] { ++finished; });

        run->start([engine] { return engine->run(); });
        // No event is served from here on: the worker posts its first step and waits for it.
        QVERIFY(engine->announced.tryAcquire(1, 20000));
        {
            Watchdog watchdog(20000);
            if (destroy)
                delete run;
            else
                run->abort();
        }
        if (destroy) {
            QVERIFY(!watchedEngine);
            QVERIFY(!watchedDialog);
            QCOMPARE(finished, 0);
            return;
        }
        QCOMPARE(finished, 1);
        QVERIFY(!run->isRunning());
        QVERIFY(run->isAborted());
        QVERIFY(run->isCancelled());
        // The step that was waiting was dropped, not shown, and the engine stopped after it.
        QCOMPARE(run->result(), 1);
        QCOMPARE(dialog->findChild<QProgressBar *>()->value(), -1);
        // The watcher's own report of the end comes later and is not a second end.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(finished, 1);
        delete run;
        QVERIFY(!watchedEngine);
        QVERIFY(!watchedDialog);
    }

    void stlCommandProposesTheNameAndThickness_data()
    {
        QTest::addColumn<float>("gap");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.05") << 0.05f << "0.05";
        QTest::newRow("0.1") << 0.1f << "0.1";
        QTest::newRow("0.125") << 0.125f << "0.125";
        QTest::newRow("2") << 2.0f << "2";
        QTest::newRow("10.5") << 10.5f << "10.5";
    }
    void stlCommandProposesTheNameAndThickness()
    {
        QFETCH(float, gap);
        QFETCH(QString, text);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(2, 1.0f, gap));
        QVERIFY(!folder.isEmpty());

        script.answerFile(folder + "/model.stl");
        action(window, "action_Export_STL")->trigger();
        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.first();
        QCOMPARE(asked.kind, ModalDialogs::SaveFileName);
        QCOMPARE(asked.title, QStringLiteral("Export STL"));
        QCOMPARE(asked.directory, folder + "/ring.stl");
        QCOMPARE(asked.filter, QStringLiteral("Binary STL Files (*.stl)"));

        ExportStlDialog *dialog = stlDialog(window);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QCOMPARE(dialog->property("SaveFileName").toString(), folder + "/model.stl");
        QCOMPARE(dialog->property("SliceThickness").toString(), text);
        dialog->reject();
        QVERIFY(!runOf(window));
        QVERIFY(!window.findChild<QProgressDialog *>());
    }

    void stlCommandWithoutSlicesOrName()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_Export_STL")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Information);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Export STL"));
        QCOMPARE(script.asked.at(0).text, QStringLiteral("No slices to export."));

        QVERIFY(!openPart(window, stack(3, 1.0f, 0.5f)).isEmpty());
        script.asked.clear();
        script.answerCancel();
        action(window, "action_Export_STL")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QVERIFY(!stlDialog(window)->isVisible());
    }

    void stlExportWritesTheModel()
    {
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(6, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        const QString target = folder + "/model.stl";
        setMinimumThickness(stlDialog(window), false);

        ExportRun *run = startStl(window, script, target);
        QVERIFY(run);
        QProgressDialog *progress = run->progressDialog();
        QVERIFY(progress);
        QCOMPARE(progress->parentWidget(), &window);
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        QCOMPARE(progress->windowTitle(), stlDialog(window)->windowTitle());
        QCOMPARE(progress->maximum(), 6);
        QCOMPARE(progress->property("OutputFileName").toString(), QStringLiteral("model.stl"));
        QPointer<QObject> engine = run->engine();
        QPointer<QProgressDialog> watched = progress;

        QVERIFY(exportsEnded(window));
        QVERIFY(!engine);
        QVERIFY(!watched);
        QCOMPARE(script.asked.size(), 1); // the file dialog only
        QCOMPARE(taskbarState(window), TaskbarProgress::NoProgress);

        const StlModel model = readStl(readBytes(target));
        QVERIFY(model.valid);
        QVERIFY(model.count > 0);
        // Six layers and the top: one level per slice and one above the last.
        QCOMPARE(model.levels.size(), 7);
        QCOMPARE(model.levels.first(), 1.0f);
        QVERIFY(std::fabs(model.levels.last() - 4.0f) < 1e-4f);
        // Nothing of the temporary file is left beside it.
        QCOMPARE(entries(folder), (QStringList{"model.stl", "ring.rev.slc"}));
    }

    void stlMinimumThickness_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<float>>("levels");
        // Slices every 0.1 mm from z = 1; a slice counts when it lies at least the minimum
        // above the last one exported, and the top lies one layer above the last.
        const QList<float> every03{1.0f, 1.3f, 1.6f, 1.9f, 2.2f};
        QTest::newRow("0.01 inch is 0.254 mm") << 1 << "0.01" << every03;
        QTest::newRow("0.25 mm") << 0 << "0.25" << every03;
        QTest::newRow("0.5 mm") << 0 << "0.5" << QList<float>{1.0f, 1.5f, 2.0f, 2.5f};
        QTest::newRow("0.02 inch is 0.508 mm") << 1 << "0.02" << QList<float>{1.0f, 1.6f, 2.2f};
    }
    void stlMinimumThickness()
    {
        QFETCH(int, units);
        QFETCH(QString, text);
        QFETCH(QList<float>, levels);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(12, 1.0f, 0.1f));
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(window), true, units, text);
        QVERIFY(startStl(window, script, folder + "/model.stl"));
        QVERIFY(exportsEnded(window));

        const StlModel model = readStl(readBytes(folder + "/model.stl"));
        QVERIFY(model.valid);
        QCOMPARE(model.levels.size(), levels.size());
        for (int i = 0; i < levels.size(); ++i)
            QVERIFY2(std::fabs(model.levels.at(i) - levels.at(i)) < 1e-4f,
                     qPrintable(QStringLiteral("level %1: %2").arg(QString::number(i), QString::number(model.levels.at(i)))));
    }

    void stlCancel_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("previous");
        for (const char *when : {"before the run starts", "in the middle", "during the last slice", "while closing the top",
                                 "after the engine has finished"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, new file").arg(QLatin1String(when)))) << when << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, replacing a file").arg(QLatin1String(when)))) << when << true;
        }
    }
    void stlCancel()
    {
        QFETCH(QString, when);
        QFETCH(bool, previous);
        const int count = 6;
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(window), false);
        const QString target = folder + "/model.stl";
        const QByteArray before("an older model, not to be touched");
        if (previous)
            QVERIFY(writeBytes(target, before));

        std::unique_ptr<PoolBlocker> blocker;
        WorkerHold hold;
        if (when == "before the run starts")
            blocker.reset(new PoolBlocker);
        ExportRun *run = startStl(window, script, target);
        QVERIFY(run);
        auto *engine = qobject_cast<geom::StlExporter *>(run->engine());
        QVERIFY(engine);
        if (when == "in the middle")
            hold.atProgress(engine, 2);
        else if (when == "during the last slice")
            hold.atProgress(engine, count - 1);
        else if (when == "while closing the top")
            hold.atProgress(engine, count);
        else if (when == "after the engine has finished")
            hold.atFinished(engine);

        if (!blocker)
            QVERIFY(hold.waitUntilHeld());
        clickCancel(run);
        // The cancelled run winds down without its dialog; no new export may start meanwhile.
        QVERIFY(!run->progressDialog()->isVisible());
        QVERIFY(!action(window, "action_Export_STL")->isEnabled());
        QVERIFY(!action(window, "action_Export_Images")->isEnabled());
        hold.release();
        if (blocker)
            blocker->release();
        QVERIFY(exportsEnded(window));
        QVERIFY(action(window, "action_Export_STL")->isEnabled());
        QVERIFY(action(window, "action_Export_Images")->isEnabled());

        if (previous)
            QCOMPARE(readBytes(target), before);
        else
            QVERIFY(!QFile::exists(target));
        QCOMPARE(entries(folder), previous ? (QStringList{"model.stl", "ring.rev.slc"}) : QStringList{"ring.rev.slc"});
        QCOMPARE(script.count(ModalDialogs::Critical), 0);
        QCOMPARE(script.count(ModalDialogs::Information), 1);
        QCOMPARE(script.asked.last().text, cancelledNotice);
        QCOMPARE(script.asked.last().title, stlDialog(window)->windowTitle());
        QCOMPARE(taskbarState(window), TaskbarProgress::NoProgress);
    }

    void stlWriteFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory missing") << "missing";
        QTest::newRow("disk full") << "full";
        QTest::newRow("disk full, replacing a file") << "full, previous";
    }
    void stlWriteFailures()
    {
        QFETCH(QString, kind);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(6, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(window), false);
        const QString target = kind == "missing" ? folder + "/missing/model.stl" : folder + "/model.stl";
        const QByteArray before("an older model, not to be touched");
        if (kind.endsWith("previous"))
            QVERIFY(writeBytes(target, before));

        {
            FileSizeLimit limit(kind == "missing" ? RLIM_INFINITY : 300);
            QVERIFY(limit.active);
            ExportRun *run = startStl(window, script, target);
            if (kind == "missing")
                QVERIFY(!run);
            QVERIFY(exportsEnded(window));
        }

        QVERIFY(!window.findChild<QProgressDialog *>());
        const QList<Asked> critical = [&script] {
            QList<Asked> found;
            for (const Asked &a : script.asked)
                if (a.kind == ModalDialogs::Critical)
                    found.append(a);
            return found;
        }();
        QCOMPARE(critical.size(), 1);
        QCOMPARE(critical.at(0).title, stlDialog(window)->windowTitle());
        if (kind == "missing") {
            QCOMPARE(critical.at(0).text,
                     QStringLiteral("Cannot write to file %1.\n").arg(native(target)) + systemReason(ENOENT));
            QVERIFY(!QFileInfo::exists(folder + "/missing"));
        } else {
            // The engine's reason follows the name of the file.
            QVERIFY2(critical.at(0).text.startsWith(QStringLiteral("Cannot write to file %1.\n").arg(native(target))),
                     qPrintable(critical.at(0).text));
            QVERIFY(critical.at(0).text.size() > QStringLiteral("Cannot write to file %1.\n").arg(native(target)).size());
            QVERIFY2(critical.at(0).text.contains(systemReason(EFBIG)), qPrintable(critical.at(0).text));
        }
        QCOMPARE(script.count(ModalDialogs::Information), 0);
        if (kind.endsWith("previous"))
            QCOMPARE(readBytes(target), before);
        else
            QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(entries(folder), kind.endsWith("previous") ? (QStringList{"model.stl", "ring.rev.slc"})
                                                            : QStringList{"ring.rev.slc"});
        QCOMPARE(taskbarState(window), TaskbarProgress::Error);

        // The next export starts afresh.
        script.asked.clear();
        QVERIFY(startStl(window, script, folder + "/model.stl"));
        QVERIFY(exportsEnded(window));
        QVERIFY(readStl(readBytes(folder + "/model.stl")).valid);
        QCOMPARE(taskbarState(window), TaskbarProgress::NoProgress);
    }

    // Slices whose contours all run clockwise bound no material and leave their layers empty:
    // the user hears of them once, after a complete export, never after a cancelled or failed one.
    void stlSlicesWithoutOutline_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("clockwise"); // slice numbers, from 1
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("message");      // empty: no warning
        const QString text = QStringLiteral(
            "The model was written, but %1 of its %2 slices gave no outline: the model has nothing at their "
            "heights.\nSlices without an outline: %3.\nTheir contours may all run clockwise (holes without an "
            "outer boundary).");
        QTest::newRow("clean stack") << 6 << QList<int>{} << "complete" << QString();
        QTest::newRow("one slice") << 6 << QList<int>{1} << "complete" << text.arg("1", "6", "1");
        QTest::newRow("some slices") << 6 << QList<int>{2, 4, 5} << "complete" << text.arg("3", "6", "2, 4, 5");
        QTest::newRow("ten slices, all named") << 12 << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 11} << "complete"
                                               << text.arg("10", "12", "1, 2, 3, 4, 5, 6, 7, 8, 9, 11");
        QList<int> many;
        for (int n = 3; n <= 17; ++n)
            many.append(n);
        QTest::newRow("long list cut after ten") << 20 << many << "complete"
                                                 << text.arg("15", "20", QStringLiteral("3, 4, 5, 6, 7, 8, 9, 10, 11, 12, \u2026"));
        QTest::newRow("cancelled after the engine finished") << 6 << QList<int>{2, 4, 5} << "cancelled" << QString();
        QTest::newRow("write failed") << 6 << QList<int>{2, 4, 5} << "failed" << QString();
    }
    void stlSlicesWithoutOutline()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, clockwise);
        QFETCH(QString, ending);
        QFETCH(QString, message);
        QList<Slice> list = stack(count, 1.0f, 0.5f);
        for (int number : clockwise) {
            QVector<geom::Point2Df> points = list.at(number - 1).contourAt(0).points();
            std::reverse(points.begin(), points.end());
            Slice hole(list.at(number - 1).z(), 0.5f);
            hole.addContour(Contour(points));
            list[number - 1] = hole;
        }
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, list);
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(window), false);

        {
            WorkerHold hold;
            FileSizeLimit limit(ending == "failed" ? 300 : RLIM_INFINITY);
            QVERIFY(limit.active);
            ExportRun *run = startStl(window, script, folder + "/model.stl");
            QVERIFY(run);
            if (ending == "cancelled") {
                hold.atFinished(qobject_cast<geom::StlExporter *>(run->engine()));
                QVERIFY(hold.waitUntilHeld());
                clickCancel(run);
                hold.release();
            }
            QVERIFY(exportsEnded(window));
        }

        QList<Asked> warnings;
        for (const Asked &a : script.asked)
            if (a.kind == ModalDialogs::Warning)
                warnings.append(a);
        if (message.isEmpty()) {
            QCOMPARE(warnings.size(), 0);
        } else {
            QCOMPARE(warnings.size(), 1);
            QCOMPARE(warnings.at(0).title, stlDialog(window)->windowTitle());
            QCOMPARE(warnings.at(0).text, message);
            QVERIFY(readStl(readBytes(folder + "/model.stl")).valid);
        }
        QCOMPARE(script.count(ModalDialogs::Critical), ending == "failed" ? 1 : 0);
        QCOMPARE(script.count(ModalDialogs::Information), ending == "cancelled" ? 1 : 0);
    }

    void stlProgressLabels()
    {
        const int count = 5;
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(window), false);
        ExportRun *run = startStl(window, script, folder + "/model.stl");
        QVERIFY(run);
        // Connected after the window's label slot: each entry sees the label of its value.
        QList<QPair<int, QString>> labels;
        QProgressDialog *progress = run->progressDialog();
        connect(progress->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this,
                [&labels, progress](int value) { labels.append({value, progress->labelText()}); });
        QVERIFY(exportsEnded(window));

        QCOMPARE(labels.size(), count + 1);
        for (int i = 0; i <= count; ++i) {
            QCOMPARE(labels.at(i).first, i);
            const int slice = qMin(i + 1, count);
            QCOMPARE(labels.at(i).second, QStringLiteral("Exporting slice %1 of %2 to model.stl...")
                                              .arg(QString::number(slice), QString::number(count)));
        }
    }

    void closingTheWindowDuringAnExport_data()
    {
        QTest::addColumn<bool>("images");
        QTest::addColumn<bool>("older"); // images over an older series of eight
        QTest::addColumn<QString>("how");
        for (const char *how : {"close", "quit", "delete"}) {
            QTest::newRow(qPrintable(QStringLiteral("STL, %1").arg(how))) << false << false << QString::fromLatin1(how);
            QTest::newRow(qPrintable(QStringLiteral("images, %1").arg(how))) << true << false << QString::fromLatin1(how);
            QTest::newRow(qPrintable(QStringLiteral("images over an older series, %1").arg(how)))
                << true << true << QString::fromLatin1(how);
        }
    }
    void closingTheWindowDuringAnExport()
    {
        QFETCH(bool, images);
        QFETCH(bool, older);
        QFETCH(QString, how);
        DialogScript script;
        QPointer<MainWindow> window = new MainWindow;
        window->show();
        const QString folder = openPart(*window, stack(12, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        setMinimumThickness(stlDialog(*window), false);
        const QMap<QString, QByteArray> olderImages =
            older ? writeOlderImages(folder, "layer", 2, {1, 2, 3, 4, 5, 6, 7, 8}) : QMap<QString, QByteArray>();

        WorkerHold hold;
        ExportRun *run = images ? startImages(*window, script, folder + "/layer.png", older)
                                : startStl(*window, script, folder + "/model.stl");
        QVERIFY(run);
        QPointer<QObject> engine = run->engine();
        QPointer<QProgressDialog> progress = run->progressDialog();
        if (images)
            hold.atProgress(qobject_cast<geom::ImagineSlice *>(engine.data()), 2);
        else
            hold.atProgress(qobject_cast<geom::StlExporter *>(engine.data()), 2);
        QVERIFY(hold.waitUntilHeld());

        // From here on no event is served before the window goes: the worker runs on until it
        // waits for the GUI thread to take its next step.
        hold.release();
        if (how == "close")
            QVERIFY(window->close());
        else if (how == "quit")
            QApplication::closeAllWindows();
        else
            delete window.data();
        QVERIFY(!engine);
        QVERIFY(!progress);
        delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QStringList expected = QStringList{"ring.rev.slc"} + namesOf(olderImages);
        expected.sort();
        QCOMPARE(entries(folder), expected);
        QVERIFY(olderImagesKept(olderImages));
        QCOMPARE(script.count(ModalDialogs::Critical), 0);
        QCOMPARE(script.count(ModalDialogs::Information), 0);
        QCOMPARE(script.count(ModalDialogs::Warning), older ? 1 : 0); // the replace question
    }

    void imageNames_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::newRow("one slice") << 1 << "layer.png" << 1 << "layer1.png" << "layer1.png";
        QTest::newRow("9 slices") << 9 << "layer.png" << 1 << "layer1.png" << "layer9.png";
        QTest::newRow("10 slices") << 10 << "layer.png" << 2 << "layer01.png" << "layer10.png";
        QTest::newRow("120 slices") << 120 << "layer.png" << 3 << "layer001.png" << "layer120.png";
        QTest::newRow("base name before the first dot") << 3 << "cut.v2.png" << 1 << "cut1.png" << "cut3.png";
        QTest::newRow("percent signs stay") << 3 << "%1%2.png" << 1 << "%1%21.png" << "%1%23.png";
    }
    void imageNames()
    {
        QFETCH(int, count);
        QFETCH(QString, chosen);
        QFETCH(int, digits);
        QFETCH(QString, first);
        QFETCH(QString, last);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        script.answerFile(folder + "/" + chosen);
        action(window, "action_Export_Images")->trigger();

        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::SaveFileName);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Export Images"));
        QCOMPARE(script.asked.at(0).directory, folder + "/ring.png");
        QCOMPARE(script.asked.at(0).filter, QStringLiteral("Portable Network Graphic (*.png)"));
        ExportImagesDialog *dialog = imagesDialog(window);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->property("BaseName").toString(), QFileInfo(chosen).baseName());
        QCOMPARE(dialog->property("Digits").toInt(), digits);
        const QStringList paths = filePaths(window);
        QCOMPARE(paths.size(), count);
        QCOMPARE(paths.first(), folder + "/" + first);
        QCOMPARE(paths.last(), folder + "/" + last);
        for (int i = 0; i < count; ++i)
            QCOMPARE(paths.at(i), folder + "/" + imageName(QFileInfo(chosen).baseName(), i + 1, digits));
        dialog->reject();
        QVERIFY(!runOf(window));
        QVERIFY(!window.findChild<QProgressDialog *>());
    }

    void imageCommandWithoutSlices()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_Export_Images")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Information);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Export Images"));
        QCOMPARE(script.asked.at(0).text, QStringLiteral("No slices to export."));
        QVERIFY(!imagesDialog(window)->isVisible());
    }

    void replaceQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Yes") << int(QMessageBox::Yes);
        QTest::newRow("No, then another name") << int(QMessageBox::No);
        QTest::newRow("Cancel") << int(QMessageBox::Cancel);
        QTest::newRow("closed without an answer") << int(QMessageBox::NoButton);
    }
    void replaceQuestion()
    {
        QFETCH(int, answer);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(12, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        QVERIFY(writeBytes(folder + "/layer07.png", "old"));

        script.answerFile(folder + "/layer.png");
        script.answerButton(QMessageBox::StandardButton(answer));
        if (answer == QMessageBox::No) {
            script.answerFile(folder + "/other.png");
        }
        action(window, "action_Export_Images")->trigger();

        QVERIFY(script.asked.size() >= 2);
        const Asked &question = script.asked.at(1);
        QCOMPARE(question.kind, ModalDialogs::Warning);
        QCOMPARE(question.title, QStringLiteral("Export Images"));
        QCOMPARE(question.text,
                 QStringLiteral("Slice images already exist in %1.\nDo you want to replace them?").arg(native(folder)));
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

        ExportImagesDialog *dialog = imagesDialog(window);
        if (answer == QMessageBox::Yes) {
            QCOMPARE(script.asked.size(), 2);
            QVERIFY(dialog->isVisible());
            QCOMPARE(filePaths(window).at(6), folder + "/layer07.png");
        } else if (answer == QMessageBox::No) {
            QCOMPARE(script.asked.size(), 3);
            QCOMPARE(script.asked.at(2).kind, ModalDialogs::SaveFileName);
            // The dialog reopens on the name chosen last.
            QCOMPARE(script.asked.at(2).directory, folder + "/layer.png");
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->property("BaseName").toString(), QStringLiteral("other"));
            const QStringList paths = filePaths(window);
            QCOMPARE(paths.size(), 12);
            for (const QString &path : paths)
                QVERIFY(QFileInfo(path).fileName().startsWith("other"));
        } else {
            QCOMPARE(script.asked.size(), 2);
            QVERIFY(!dialog->isVisible());
            QVERIFY(!dialog->property("FilePaths").isValid());
        }
        QCOMPARE(readBytes(folder + "/layer07.png"), QByteArray("old"));
        if (dialog->isVisible())
            dialog->reject();
    }

    void unwritableImageDirectory()
    {
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(3, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        const QString missing = folder + "/missing";
        script.answerFile(missing + "/layer.png");
        script.answerCancel();
        action(window, "action_Export_Images")->trigger();

        QCOMPARE(script.asked.size(), 3);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(1).title, imagesDialog(window)->windowTitle());
        QCOMPARE(script.asked.at(1).text, QStringLiteral("Cannot write into directory %1.").arg(native(missing)));
        QCOMPARE(script.asked.at(2).kind, ModalDialogs::SaveFileName);
        QCOMPARE(script.asked.at(2).directory, missing + "/layer.png");
        QVERIFY(!imagesDialog(window)->isVisible());
    }

    void imageExportWritesTheSeries()
    {
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(3, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        ExportRun *run = startImages(window, script, folder + "/layer.png");
        QVERIFY(run);
        QProgressDialog *progress = run->progressDialog();
        QCOMPARE(progress->parentWidget(), &window);
        QCOMPARE(progress->windowModality(), Qt::WindowModal);
        QCOMPARE(progress->windowTitle(), QStringLiteral("Export Images"));
        QCOMPARE(progress->maximum(), 3);
        QCOMPARE(progress->property("BaseName").toString(), QStringLiteral("layer"));
        QCOMPARE(progress->property("Digits").toInt(), 1);
        QCOMPARE(run->engine()->parent(), progress);
        QVERIFY(exportsEnded(window));

        QCOMPARE(entries(folder), (QStringList{"layer1.png", "layer2.png", "layer3.png", "ring.rev.slc"}));
        for (int i = 1; i <= 3; ++i) {
            const QImage image(folder + QStringLiteral("/layer%1.png").arg(i));
            QCOMPARE(image.size(), QSize(200, 100));
            // The square of slice i spans 0 .. 9 + i mm from the platform's lower-left corner.
            QCOMPARE(QColor(image.pixel(5, 95)), QColor(Qt::white));
            QCOMPARE(QColor(image.pixel(2 * (9 + i) + 1, 95)), QColor(Qt::black));
            QCOMPARE(QColor(image.pixel(150, 20)), QColor(Qt::black));
        }
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(taskbarState(window), TaskbarProgress::NoProgress);
    }

    // What an export's engine held goes back to the system once it is gone: one release when
    // the export has ended, after the engine and the progress dialog (with the output) died.
    void freedMemoryIsReleasedAfterAnExport_data()
    {
        QTest::addColumn<bool>("images");
        QTest::newRow("STL") << false;
        QTest::newRow("images") << true;
    }

    void freedMemoryIsReleasedAfterAnExport()
    {
        QFETCH(bool, images);
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(3, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        int releases = 0;
        QPointer<QObject> engine;
        QPointer<QProgressDialog> progress;
        bool engineGone = false;
        bool dialogGone = false;
        MemoryRelease::setObserver([&] {
            ++releases;
            engineGone = !engine;
            dialogGone = !progress;
        });
        ExportRun *run = images ? startImages(window, script, folder + "/layer.png")
                                : startStl(window, script, folder + "/model.stl");
        QVERIFY(run);
        engine = run->engine();
        progress = run->progressDialog();
        QVERIFY(engine && progress);
        QCOMPARE(releases, 0);
        const bool ended = exportsEnded(window);
        MemoryRelease::setObserver(nullptr);
        QVERIFY(ended);
        QCOMPARE(releases, 1);
        QVERIFY(engineGone);
        QVERIFY(dialogGone);
    }

    // A part that does not fit on the platform under the chosen offsets is exported only when
    // the user says so; No returns to the dialog with the values as they were.
    void imageSeriesOverhangIsAsked_data()
    {
        QTest::addColumn<double>("offsetX");
        QTest::addColumn<double>("offsetY");
        QTest::addColumn<QString>("overhang");
        QTest::addColumn<int>("answer");
        QTest::newRow("fits") << 20.0 << 20.0 << QString() << 0;
        QTest::newRow("centred on the origin, no") << 0.0 << 0.0 << "10.000 mm in -X, 10.000 mm in -Y"
                                                   << int(QMessageBox::No);
        QTest::newRow("centred on the origin, yes") << 0.0 << 0.0 << "10.000 mm in -X, 10.000 mm in -Y"
                                                    << int(QMessageBox::Yes);
        QTest::newRow("beyond the far corner") << 95.0 << 45.0 << "5.000 mm in +X, 5.000 mm in +Y"
                                               << int(QMessageBox::No);
    }
    void imageSeriesOverhangIsAsked()
    {
        QFETCH(double, offsetX);
        QFETCH(double, offsetY);
        QFETCH(QString, overhang);
        QFETCH(int, answer);
        QList<Slice> centred;
        for (int i = 0; i < 2; ++i) {
            Slice slice(1.0f + i, 0.5f);
            slice.addContour(Contour(QVector<geom::Point2Df>{{-10, -10}, {10, -10}, {10, 10}, {-10, 10}}));
            centred.append(slice);
        }
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, centred);
        QVERIFY(!folder.isEmpty());
        script.answerFile(folder + "/layer.png");
        if (!overhang.isEmpty())
            script.answerButton(QMessageBox::StandardButton(answer));
        action(window, "action_Export_Images")->trigger();
        ExportImagesDialog *dialog = imagesDialog(window);
        QVERIFY(dialog->isVisible());
        smallPlatform(dialog);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("offsetXSpinBox"))->setValue(offsetX);
        dialog->findChild<QDoubleSpinBox *>(QStringLiteral("offsetYSpinBox"))->setValue(offsetY);
        dialog->accept();

        QCOMPARE(script.asked.size(), overhang.isEmpty() ? 1 : 2);
        if (!overhang.isEmpty()) {
            const Asked &asked = script.asked.at(1);
            QCOMPARE(asked.kind, ModalDialogs::Warning);
            QCOMPARE(asked.title, QStringLiteral("Export Images"));
            QCOMPARE(asked.text, QStringLiteral("The part does not fit on the platform with these offsets: it reaches "
                                                "%1 beyond it.\nDo you want to export the images anyway?")
                                     .arg(overhang));
            QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(asked.parent, &window);
        }
        if (answer == QMessageBox::No) {
            QVERIFY(!runOf(window));
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->offsetX(), offsetX);
            QCOMPARE(dialog->offsetY(), offsetY);
            QCOMPARE(dialog->resolutionX(), 200);
            QCOMPARE(dialog->platformSizeY(), 50.0);
            QCOMPARE(entries(folder), QStringList{"ring.rev.slc"});
            dialog->reject();
            return;
        }
        QVERIFY(runOf(window));
        QVERIFY(exportsEnded(window));
        QCOMPARE(entries(folder), (QStringList{"layer1.png", "layer2.png", "ring.rev.slc"}));
    }

    void imageProgressLabels()
    {
        const int count = 12;
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        ExportRun *run = startImages(window, script, folder + "/layer.png");
        QVERIFY(run);
        QList<QPair<int, QString>> labels;
        QProgressDialog *progress = run->progressDialog();
        connect(progress->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this,
                [&labels, progress](int value) { labels.append({value, progress->labelText()}); });
        QVERIFY(exportsEnded(window));

        // While image k + 1 is being written the label names it; the last report names the
        // last image, never one beyond the series.
        QCOMPARE(labels.size(), count + 1);
        for (int k = 0; k <= count; ++k) {
            QCOMPARE(labels.at(k).first, k);
            const int number = qMin(k + 1, count);
            QCOMPARE(labels.at(k).second, QStringLiteral("Exporting slice %1 of %2 to %3...")
                                              .arg(QString::number(number), QString::number(count),
                                                   imageName("layer", number, 2)));
            QVERIFY(QFile::exists(folder + "/" + imageName("layer", number, 2)));
        }
    }

    void imageCancelLeavesNoImagesOfThisRun_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("older"); // over an older series of eight images
        for (const char *when : {"before the run starts", "in the middle", "at the last image",
                                 "after the engine has finished"}) {
            QTest::newRow(when) << QString::fromLatin1(when) << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, over an older series").arg(QLatin1String(when))))
                << QString::fromLatin1(when) << true;
        }
    }
    // A cancel leaves the folder as it was, also when it comes after the engine had replaced an
    // older series: the older images come back byte for byte.
    void imageCancelLeavesNoImagesOfThisRun()
    {
        QFETCH(QString, when);
        QFETCH(bool, older);
        const int count = 12;
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        QVERIFY(writeBytes(folder + "/notes.txt", "not an image of the series"));
        QMap<QString, QByteArray> olderImages;
        if (older) {
            olderImages = writeOlderImages(folder, "layer", 2, {1, 2, 3, 4, 5, 6, 7, 8});
            QCOMPARE(olderImages.size(), 8);
        }

        std::unique_ptr<PoolBlocker> blocker;
        WorkerHold hold;
        if (when == "before the run starts")
            blocker.reset(new PoolBlocker);
        ExportRun *run = startImages(window, script, folder + "/layer.png", older);
        QVERIFY(run);
        const QStringList paths = filePaths(window);
        auto *engine = qobject_cast<geom::ImagineSlice *>(run->engine());
        QVERIFY(engine);
        if (when == "in the middle")
            hold.atProgress(engine, 4);
        else if (when == "at the last image")
            hold.atProgress(engine, count - 1);
        else if (when == "after the engine has finished")
            hold.atFinished(engine);
        if (!blocker)
            QVERIFY(hold.waitUntilHeld());
        if (when == "after the engine has finished") {
            for (const QString &path : paths)
                QVERIFY(QFile::exists(path));
        }
        clickCancel(run);
        // The cancelled run winds down without its dialog; no new export may start meanwhile.
        QVERIFY(!run->progressDialog()->isVisible());
        QVERIFY(!action(window, "action_Export_STL")->isEnabled());
        QVERIFY(!action(window, "action_Export_Images")->isEnabled());
        hold.release();
        if (blocker)
            blocker->release();
        QVERIFY(exportsEnded(window));
        QVERIFY(action(window, "action_Export_STL")->isEnabled());
        QVERIFY(action(window, "action_Export_Images")->isEnabled());

        QStringList expected = QStringList{"notes.txt", "ring.rev.slc"} + namesOf(olderImages);
        expected.sort();
        QCOMPARE(entries(folder), expected);
        QCOMPARE(readBytes(folder + "/notes.txt"), QByteArray("not an image of the series"));
        QVERIFY(olderImagesKept(olderImages));
        QCOMPARE(script.count(ModalDialogs::Critical), 0);
        QCOMPARE(script.count(ModalDialogs::Warning), older ? 1 : 0); // the replace question
        QCOMPARE(script.asked.last().kind, ModalDialogs::Information);
        QCOMPARE(script.asked.last().title, QStringLiteral("Export Images"));
        QCOMPARE(script.asked.last().text, cancelledNotice);
        QCOMPARE(taskbarState(window), TaskbarProgress::NoProgress);
    }

    void imageWriteFailure_data()
    {
        QTest::addColumn<bool>("older");
        QTest::newRow("new series") << false;
        QTest::newRow("over an older series") << true;
    }
    void imageWriteFailure()
    {
        QFETCH(bool, older);
        const int count = 6;
        DialogScript script;
        MainWindow window;
        const QString folder = openPart(window, stack(count, 1.0f, 0.5f));
        QVERIFY(!folder.isEmpty());
        // A directory where image 3 should go: it cannot be written.
        QVERIFY(QDir().mkpath(folder + "/layer3.png"));
        const QMap<QString, QByteArray> olderImages =
            older ? writeOlderImages(folder, "layer", 1, {1, 2, 4, 5, 6}) : QMap<QString, QByteArray>();
        script.answerFile(folder + "/layer.png");
        script.answerButton(QMessageBox::Yes);
        action(window, "action_Export_Images")->trigger();
        ExportImagesDialog *dialog = imagesDialog(window);
        QVERIFY(dialog->isVisible());
        smallPlatform(dialog);
        dialog->accept();
        QVERIFY(runOf(window));
        QVERIFY(exportsEnded(window));

        QCOMPARE(script.count(ModalDialogs::Critical), 1);
        const Asked &message = script.asked.last();
        QCOMPARE(message.kind, ModalDialogs::Critical);
        QCOMPARE(message.title, QStringLiteral("Export Images"));
        QVERIFY2(message.text.contains(native(folder + "/layer3.png")), qPrintable(message.text));
        QCOMPARE(script.count(ModalDialogs::Information), 0);
        QCOMPARE(taskbarState(window), TaskbarProgress::Error);
        // The series is replaced as a whole or not at all: no image of the run is left, the ones
        // before the failing one neither, and the older ones are as they were.
        QStringList expected = QStringList{"layer3.png", "ring.rev.slc"} + namesOf(olderImages);
        expected.sort();
        QCOMPARE(entries(folder), expected);
        QVERIFY(QFileInfo(folder + "/layer3.png").isDir());
        QVERIFY(olderImagesKept(olderImages));
    }
};

QTEST_MAIN(TestMainWindowThreadedExport)
#include "tst_mainwindow_threadedexport.moc"
