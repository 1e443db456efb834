#include "exportrun.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFutureWatcher>
#include <QProgressBar>
#include <QProgressDialog>
#include <QThreadPool>
#include <QtConcurrent>

ExportRun::ExportRun(QObject *engine, QProgressDialog *dialog, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_dialog(dialog)
    , watcher(new QFutureWatcher<int>(this))
{
    if (dialog) {
        m_bar = dialog->findChild<QProgressBar *>();
        connect(dialog, &QProgressDialog::canceled, this, &ExportRun::cancel);
    }
    if (engine)
        connect(engine, SIGNAL(progress(int)), this, SLOT(setProgress(int)), Qt::BlockingQueuedConnection);
    connect(watcher, &QFutureWatcherBase::finished, this, &ExportRun::runReturned);
}

ExportRun::~ExportRun()
{
    if (state == Running) {
        aborted = true;
        stopAndWait();
        state = Finished;
    }
    dispose();
}

QObject *ExportRun::engine() const
{
    return m_engine;
}

QProgressDialog *ExportRun::progressDialog() const
{
    return m_dialog;
}

void ExportRun::start(std::function<int()> work)
{
    if (state != Idle || !work)
        return;
    state = Running;
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), std::move(work)));
}

bool ExportRun::isRunning() const
{
    return state == Running;
}

bool ExportRun::isCancelled() const
{
    return cancelled;
}

bool ExportRun::isAborted() const
{
    return aborted;
}

int ExportRun::result() const
{
    return m_result;
}

void ExportRun::cancel()
{
    if (state == Finished)
        return;
    cancelled = true;
    // The engines keep a cancel that comes before their run has started.
    if (m_engine)
        QMetaObject::invokeMethod(m_engine, "cancel", Qt::DirectConnection);
}

void ExportRun::abort()
{
    if (state != Running)
        return;
    aborted = true;
    stopAndWait();
    complete();
}

void ExportRun::stopAndWait()
{
    cancel();
    // After the disconnection no step can be posted any more, and removing the posted ones
    // releases a worker that waits for one of them.
    if (m_engine)
        disconnect(m_engine, SIGNAL(progress(int)), this, SLOT(setProgress(int)));
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    watcher->waitForFinished();
}

void ExportRun::dispose()
{
    // The STL engine finishes its file when it goes, and the file hangs on the dialog.
    delete m_engine.data();
    delete m_dialog.data();
}

void ExportRun::setProgress(int value)
{
    if (m_bar)
        m_bar->setValue(value);
}

void ExportRun::runReturned()
{
    // After abort() the watcher still reports the end it has already been waited for.
    if (state == Running)
        complete();
}

void ExportRun::complete()
{
    state = Finished;
    const QFuture<int> future = watcher->future();
    m_result = future.resultCount() > 0 ? future.result() : 0;
    emit finished();
}
