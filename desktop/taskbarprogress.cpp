#include "taskbarprogress.h"

#include "modaldialogs.h"
#include "unitylauncherprogress.h"

#include <QDBusConnection>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

namespace {

LauncherProgress *sessionLauncher()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() ? new UnityLauncherProgress(bus) : nullptr;
}

} // namespace

TaskbarProgress::TaskbarProgress(QWidget *window)
    : TaskbarProgress(window, sessionLauncher())
{
}

TaskbarProgress::TaskbarProgress(QWidget *window, LauncherProgress *backend)
    : QObject(window),
      launcher(backend),
      progressTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("taskbarProgress"));
    progressTimer->setSingleShot(true);
    connect(progressTimer, &QTimer::timeout, this, &TaskbarProgress::sendHeldProgress);
    // stateChanged() may be queued or spied on by name.
    qRegisterMetaType<TaskbarProgress::State>();
    if (launcher) {
        launcher->setParent(this);
        connect(launcher, &LauncherProgress::buttonCreated, this, &TaskbarProgress::update);
    }
}

TaskbarProgress::~TaskbarProgress() = default;

TaskbarProgress::State TaskbarProgress::state() const
{
    return currentState;
}

QPixmap TaskbarProgress::overlayIcon() const
{
    return icon;
}

QString TaskbarProgress::overlayIconDescription() const
{
    return iconDescription;
}

bool TaskbarProgress::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(message)
    Q_UNUSED(result)
    return false;
}

void TaskbarProgress::setState(State newState)
{
    if (newState == currentState) {
        updateProgressState();
        return;
    }
    currentState = newState;
    updateProgressState();
    emit stateChanged(newState);
}

void TaskbarProgress::setOverlayIcon(const QPixmap &newIcon, const QString &description)
{
    icon = newIcon;
    iconDescription = description;
    updateOverlayIcon();
}

void TaskbarProgress::setOverlayIcon(const QPixmap &newIcon)
{
    icon = newIcon;
    updateOverlayIcon();
}

void TaskbarProgress::setOverlayIconDescription(const QString &description)
{
    iconDescription = description;
    updateOverlayIcon();
}

void TaskbarProgress::started(QProgressDialog *progressDialog)
{
    if (!progressDialog)
        return;
    release();
    dialog = progressDialog;
    running = true;
    cancelled = false;
    progressSent.invalidate();
    bar = progressDialog->findChild<QProgressBar *>();
    if (bar) {
        connect(bar, &QProgressBar::valueChanged, this, &TaskbarProgress::valueChanged);
        connect(bar, &QProgressBar::valueChanged, this, &TaskbarProgress::updateProgress);
    }
    connect(progressDialog, &QProgressDialog::canceled, this, &TaskbarProgress::cancel);
    setState(progressDialog->minimum() < progressDialog->maximum() ? Normal : Indeterminate);
    setProperty("title", progressDialog->windowTitle());
}

void TaskbarProgress::cancel()
{
    release();
    cancelled = true;
    setState(Paused);
}

void TaskbarProgress::finished()
{
    if (!running)
        return;
    running = false;
    release();
    if (cancelled) {
        cancelled = false;
        // The notice waits for the worker: only now has the cancelled operation really stopped.
        ModalDialogs::information(qobject_cast<QWidget *>(parent()), property("title").toString(),
                                  tr("The operation has been cancelled."));
        // The box ran an event loop; an operation started meanwhile owns the button now.
        if (running)
            return;
    }
    setState(NoProgress);
}

void TaskbarProgress::failed()
{
    running = false;
    cancelled = false;
    release();
    setState(Error);
}

void TaskbarProgress::update()
{
    updateOverlayIcon();
    if (dialog)
        sendProgress(dialog->value());
    updateProgressState();
}

void TaskbarProgress::updateProgress(int value)
{
    heldValue = value;
    if (progressTimer->isActive())
        return;
    const qint64 since = progressSent.isValid() ? progressSent.elapsed() : qint64(minimumProgressInterval);
    if (since >= minimumProgressInterval)
        sendProgress(value);
    else
        progressTimer->start(int(minimumProgressInterval - since));
}

void TaskbarProgress::sendHeldProgress()
{
    progressTimer->stop();
    sendProgress(heldValue);
}

void TaskbarProgress::sendProgress(qint64 value)
{
    if (!launcher || !dialog || currentState == NoProgress || currentState == Indeterminate)
        return;
    // 64 bits: the span of an int range does not fit into an int.
    const qint64 minimum = dialog->minimum();
    const qint64 total = qint64(dialog->maximum()) - minimum;
    // Below the minimum the bar has been reset and shows nothing: keep the last value.
    if (total <= 0 || value < minimum)
        return;
    launcher->setProgressValue(quint64(qMin(value - minimum, total)), quint64(total));
    progressSent.start();
}

void TaskbarProgress::updateProgressState()
{
    if (launcher)
        launcher->setProgressState(LauncherProgress::State(currentState));
}

void TaskbarProgress::updateOverlayIcon()
{
    if (launcher)
        launcher->setOverlayIcon(icon, iconDescription);
}

void TaskbarProgress::release()
{
    // The last step held back is the state the operation ended in.
    if (progressTimer->isActive())
        sendHeldProgress();
    if (bar)
        disconnect(bar, &QProgressBar::valueChanged, this, nullptr);
    if (dialog)
        disconnect(dialog, &QProgressDialog::canceled, this, &TaskbarProgress::cancel);
    bar = nullptr;
    dialog = nullptr;
}
