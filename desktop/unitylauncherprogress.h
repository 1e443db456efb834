#ifndef UNITYLAUNCHERPROGRESS_H
#define UNITYLAUNCHERPROGRESS_H

#include "launcherprogress.h"

#include <QDBusConnection>
#include <QString>

// Shows the progress on Linux docks and task managers through the launcher-entry signal
// "com.canonical.Unity.LauncherEntry.Update" on the given bus. Every update carries the whole
// picture ("progress", "progress-visible", "urgent"), so a dock that joins late is right after
// the next one. The launcher entry has no overlay pictures, so the overlay is not shown.
class UnityLauncherProgress : public LauncherProgress
{
    Q_OBJECT

public:
    explicit UnityLauncherProgress(const QDBusConnection &bus, QObject *parent = nullptr);
    // Hides what is still shown: the dock would otherwise keep a bar for a gone window.
    ~UnityLauncherProgress() override;

    void setProgressValue(quint64 completed, quint64 total) override;
    void setProgressState(State state) override;
    void setOverlayIcon(const QPixmap &icon, const QString &description) override;

private:
    void sendUpdate();

    QDBusConnection bus;
    QString objectPath;
    double progress = 0.0;
    State state = NoProgress;
};

#endif // UNITYLAUNCHERPROGRESS_H
