#include "recordinglauncherprogress.h"

#include <QMetaEnum>
#include <QPixmap>

RecordingLauncherProgress::RecordingLauncherProgress(QObject *parent)
    : LauncherProgress(parent)
{
}

RecordingLauncherProgress::~RecordingLauncherProgress() = default;

void RecordingLauncherProgress::setProgressValue(quint64 completed, quint64 total)
{
    log.append(QStringLiteral("value %1/%2").arg(completed).arg(total));
}

void RecordingLauncherProgress::setProgressState(State state)
{
    const char *name = QMetaEnum::fromType<State>().valueToKey(state);
    log.append(QStringLiteral("state ") + (name ? QString::fromLatin1(name) : QString::number(state)));
}

void RecordingLauncherProgress::setOverlayIcon(const QPixmap &icon, const QString &description)
{
    const QString picture = icon.isNull() ? QStringLiteral("none")
                                          : QStringLiteral("%1x%2").arg(icon.width()).arg(icon.height());
    log.append(QStringLiteral("overlay %1 \"%2\"").arg(picture, description));
}

QStringList RecordingLauncherProgress::calls() const
{
    return log;
}

void RecordingLauncherProgress::clear()
{
    log.clear();
}
