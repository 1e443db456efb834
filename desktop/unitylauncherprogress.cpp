#include "unitylauncherprogress.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace {

const char *const launcherInterface = "com.canonical.Unity.LauncherEntry";
const char *const applicationUri = "application://quarne.desktop";
// Unity's own launcher; when it (re)appears it knows nothing of us yet.
const char *const unityService = "com.canonical.Unity";

} // namespace

UnityLauncherProgress::UnityLauncherProgress(const QDBusConnection &bus, QObject *parent)
    : LauncherProgress(parent),
      bus(bus),
      objectPath(QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(QCoreApplication::applicationPid()))
{
    auto *watcher = new QDBusServiceWatcher(QString::fromLatin1(unityService), bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &LauncherProgress::buttonCreated);
}

UnityLauncherProgress::~UnityLauncherProgress()
{
    if (state != NoProgress)
        setProgressState(NoProgress);
}

void UnityLauncherProgress::setProgressValue(quint64 completed, quint64 total)
{
    progress = total == 0 ? 0.0 : qBound(0.0, double(completed) / double(total), 1.0);
    sendUpdate();
}

void UnityLauncherProgress::setProgressState(State newState)
{
    state = newState;
    // The next operation must not start from the last one's value.
    if (state == NoProgress)
        progress = 0.0;
    sendUpdate();
}

void UnityLauncherProgress::setOverlayIcon(const QPixmap &icon, const QString &description)
{
    Q_UNUSED(icon)
    Q_UNUSED(description)
}

void UnityLauncherProgress::sendUpdate()
{
    // Docks have no moving bar for an unknown amount of work; a bar stuck at some value would
    // tell something false, so the indeterminate state shows none.
    const bool visible = state == Normal || state == Paused || state == Error;
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), progress);
    properties.insert(QStringLiteral("progress-visible"), visible);
    properties.insert(QStringLiteral("urgent"), state == Error);

    QDBusMessage update = QDBusMessage::createSignal(objectPath, QString::fromLatin1(launcherInterface),
                                                     QStringLiteral("Update"));
    update << QString::fromLatin1(applicationUri) << properties;
    bus.send(update);
}
