#ifndef TASKBARPROGRESS_H
#define TASKBARPROGRESS_H

#include "launcherprogress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>

class QByteArray;
class QProgressBar;
class QProgressDialog;
class QTimer;
class QWidget;

// Mirrors the progress dialog of a long operation on the window's button in the desktop's
// task bar or dock, and tells the user, once the worker has ended, that an operation they
// cancelled has stopped. The desktop side is a LauncherProgress backend; without one the
// states, signals and the cancellation notice still work, only nothing is shown outside.
class TaskbarProgress : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state WRITE setState NOTIFY stateChanged)
    Q_PROPERTY(QPixmap overlayIcon READ overlayIcon WRITE setOverlayIcon)
    Q_PROPERTY(QString overlayIconDescription READ overlayIconDescription WRITE setOverlayIconDescription)

public:
    enum State {
        NoProgress = LauncherProgress::NoProgress,
        Indeterminate = LauncherProgress::Indeterminate,
        Normal = LauncherProgress::Normal,
        Error = LauncherProgress::Error,
        Paused = LauncherProgress::Paused
    };
    Q_ENUM(State)

    // The window is both the parent and the window whose button is driven; the progress goes
    // to the docks on the session bus when there is one.
    explicit TaskbarProgress(QWidget *window);
    // As above with the given backend (taken over; null for none).
    TaskbarProgress(QWidget *window, LauncherProgress *launcher);
    ~TaskbarProgress() override;

    State state() const;
    QPixmap overlayIcon() const;
    QString overlayIconDescription() const;

    // Sees every native event of the window; always false and never writes result, so the
    // window handles each as usual. Our desktops announce a new button through the backend.
    bool nativeEvent(const QByteArray &eventType, void *message, long *result);

signals:
    void valueChanged(int value);
    void stateChanged(TaskbarProgress::State state);

public slots:
    // The followed operation has ended (connected to the worker's finished()); tells the user
    // when it had been cancelled. Outside an operation it does nothing.
    void finished();
    void setState(TaskbarProgress::State state);
    void setOverlayIcon(const QPixmap &icon, const QString &description);
    void setOverlayIcon(const QPixmap &icon);
    void setOverlayIconDescription(const QString &description);
    // Starts following a dialog whose range and title are already set; null is ignored.
    // A dialog followed before is let go.
    void started(QProgressDialog *dialog);
    // Sends overlay, progress value and state to the desktop again.
    void update();
    // The operation failed (the window reports why): the button shows the error state until
    // the next operation starts, and no cancellation notice follows.
    void failed();

private slots:
    void cancel();
    // A step of the followed bar: sent at once, or held back for a moment when the last value
    // went out only just now.
    void updateProgress(int value);
    void sendHeldProgress();
    void updateProgressState();

private:
    // Sends `value` of the followed dialog's range; a value below its minimum (a reset bar) is
    // not sent, the button keeps the last one.
    void sendProgress(qint64 value);
    void updateOverlayIcon();
    void release();

    LauncherProgress *launcher;
    QPointer<QProgressDialog> dialog;
    QPointer<QProgressBar> bar;
    State currentState = NoProgress;
    QPixmap icon;
    QString iconDescription;
    // Every value a desktop is sent costs a message on the session bus: at most one in this
    // many milliseconds; the last one held back follows when they have passed, or when the
    // operation ends, so the final state always arrives.
    static constexpr int minimumProgressInterval = 50;
    QElapsedTimer progressSent;
    QTimer *progressTimer;
    int heldValue = 0;
    // Between started() and its finished() or failed(), whether the dialog still lives or not.
    bool running = false;
    bool cancelled = false;
};

#endif // TASKBARPROGRESS_H
