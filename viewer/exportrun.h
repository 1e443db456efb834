#ifndef EXPORTRUN_H
#define EXPORTRUN_H

#include <QObject>
#include <QPointer>

#include <functional>

class QProgressBar;
class QProgressDialog;
template <typename T>
class QFutureWatcher;

// One threaded export: an engine (a worker with the signal progress(int) and the slot cancel())
// whose run executes on the global thread pool, and the progress dialog that follows it. The
// run owns both, and whatever hangs on the dialog (the output file), until the engine's run has
// returned on its pool thread: finished() comes only then, and only then may they go.
//
// The engine's progress reaches the dialog's bar through a blocking queued connection, so the
// worker waits at each step until the bar shows it. The bar is set directly rather than through
// QProgressDialog::setValue, which runs the event loop of a modal dialog: a close of the window
// taken there would have to wait for a worker that waits for that very step.
class ExportRun : public QObject
{
    Q_OBJECT

public:
    // Takes over the engine and the dialog; the dialog's canceled() cancels the run.
    ExportRun(QObject *engine, QProgressDialog *dialog, QObject *parent);
    // A run still under way is stopped as abort() does, without finished().
    ~ExportRun() override;

    QObject *engine() const;
    QProgressDialog *progressDialog() const;

    // Runs work, which calls the engine's run and gives what it returns, on the global pool.
    void start(std::function<int()> work);

    // From start() until finished().
    bool isRunning() const;
    // The user or the window asked to stop, at any moment before finished(): also after the
    // engine had already decided that it was complete.
    bool isCancelled() const;
    // abort() ended the run (the window is closing): its outcome is not worth a message.
    bool isAborted() const;
    // What work returned; 0 before finished().
    int result() const;

    // Cancels the run and blocks until it has returned, then emits finished(). Progress the
    // worker still reports is dropped, so the wait needs no event loop and cannot deadlock; only
    // from within the delivery of a progress step, where nothing of ours calls it, would it.
    void abort();

    // Deletes the engine, then the progress dialog with all it holds; after finished().
    void dispose();

signals:
    // The engine's run has returned (on the thread of this object).
    void finished();

public slots:
    void cancel();

private slots:
    void setProgress(int value);
    void runReturned();

private:
    // Lets a worker blocked on a progress step go on and waits until its run has returned.
    void stopAndWait();
    void complete();

    enum State { Idle, Running, Finished };

    QPointer<QObject> m_engine;
    QPointer<QProgressDialog> m_dialog;
    QPointer<QProgressBar> m_bar;
    QFutureWatcher<int> *watcher;
    State state = Idle;
    bool cancelled = false;
    bool aborted = false;
    int m_result = 0;
};

#endif // EXPORTRUN_H
