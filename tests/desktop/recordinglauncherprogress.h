#ifndef RECORDINGLAUNCHERPROGRESS_H
#define RECORDINGLAUNCHERPROGRESS_H

#include "launcherprogress.h"

#include <QStringList>

// A backend without a desktop: it writes down every call, one line each, so that a test can
// compare the whole conversation, e.g. "state Normal", "value 3/10", "overlay 16x16 \"Busy\""
// (or "overlay none \"\"" for a removed icon). Emit buttonCreated() to play a desktop that
// asks for everything again.
class RecordingLauncherProgress : public LauncherProgress
{
    Q_OBJECT

public:
    explicit RecordingLauncherProgress(QObject *parent = nullptr);
    ~RecordingLauncherProgress() override;

    void setProgressValue(quint64 completed, quint64 total) override;
    void setProgressState(State state) override;
    void setOverlayIcon(const QPixmap &icon, const QString &description) override;

    QStringList calls() const;
    void clear();

private:
    QStringList log;
};

#endif // RECORDINGLAUNCHERPROGRESS_H
