#ifndef LAUNCHERPROGRESS_H
#define LAUNCHERPROGRESS_H

#include <QObject>

class QPixmap;
class QString;

// What the taskbar progress needs of the desktop's button for a window: a progress value, a
// look for the state of the operation and a small overlay picture. Each backend shows that
// with whatever its desktop offers.
class LauncherProgress : public QObject
{
    Q_OBJECT

public:
    enum State {
        NoProgress = 0,
        Indeterminate = 1,
        Normal = 2,
        Error = 4,
        Paused = 8
    };
    Q_ENUM(State)

    explicit LauncherProgress(QObject *parent = nullptr);
    ~LauncherProgress() override;

    // Callers keep completed <= total and total > 0.
    virtual void setProgressValue(quint64 completed, quint64 total) = 0;
    virtual void setProgressState(State state) = 0;
    // A null icon removes the overlay; the description goes along either way.
    virtual void setOverlayIcon(const QPixmap &icon, const QString &description) = 0;

signals:
    // The desktop has lost what it was told so far (its button or dock was made anew) and
    // needs everything sent again.
    void buttonCreated();
};

#endif // LAUNCHERPROGRESS_H
