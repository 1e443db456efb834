#ifndef MAINWINDOWFIXTURE_H
#define MAINWINDOWFIXTURE_H

// Shared by the main-window suites: the application identity, scripted dialogs, SLC fixtures
// written with our own writer, and access to the window's named parts.

#include "mainwindow.h"
#include "modaldialogs.h"
#include "slcwriter.h"
#include "slice.h"
#include "sliceview.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <functional>

namespace fixture {

inline void setUpApplication()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Nurat"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("nurat.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Quarne"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.9"));
    qApp->setProperty("FullApplicationName", QStringLiteral("Nurat Quarne"));
    QSettings().clear();
}

// What a dialog was asked, copied when it was asked (the dialog itself may be gone later).
struct Asked
{
    ModalDialogs::Kind kind = ModalDialogs::Critical;
    QString title;
    QString text;
    QString directory;
    QString filter;
    QMessageBox::StandardButtons buttons;
    QString informativeText; // Exec of a message box
    QVariant value;          // input dialogs: initial value and range
    QVariant minimum;
    QVariant maximum;
    int decimals = 0;
    QWidget *parent = nullptr;
};

// Answers the modal dialogs from a queue; an empty queue accepts with the default answer
// (Ok for messages, an empty name, that is Cancel, for file dialogs).
class DialogScript
{
public:
    DialogScript()
    {
        ModalDialogs::setResponder([this](const ModalDialogs::Request &request) { return respond(request); });
    }
    ~DialogScript() { ModalDialogs::setResponder(ModalDialogs::Responder()); }
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;

    void answerFile(const QString &path) { answers.append(ModalDialogs::Answer{true, path, QString()}); }
    // A file dialog that also reports the filter the user had chosen.
    void answerFile(const QString &path, const QString &selectedFilter)
    {
        answers.append(ModalDialogs::Answer{true, path, selectedFilter});
    }
    // The number an input dialog is left with when OK is pressed.
    void answerValue(const QVariant &value) { answers.append(ModalDialogs::Answer{true, value, QString()}); }
    void answerButton(QMessageBox::StandardButton button)
    {
        answers.append(ModalDialogs::Answer{true, int(button), QString()});
    }
    void answerCancel() { answers.append(ModalDialogs::Answer{false, QVariant(), QString()}); }

    QList<Asked> asked;
    QList<ModalDialogs::Answer> answers;
    // Runs inside the question, before the answer is given.
    std::function<void(const ModalDialogs::Request &)> during;

    int count(ModalDialogs::Kind kind) const
    {
        int n = 0;
        for (const Asked &a : asked)
            n += a.kind == kind;
        return n;
    }

private:
    ModalDialogs::Answer respond(const ModalDialogs::Request &request)
    {
        Asked a;
        a.kind = request.kind;
        a.title = request.title;
        a.text = request.text;
        a.directory = request.directory;
        a.filter = request.filter;
        a.buttons = request.buttons;
        a.value = request.value;
        a.minimum = request.minimum;
        a.maximum = request.maximum;
        a.decimals = request.decimals;
        a.parent = request.parent;
        if (auto *box = qobject_cast<QMessageBox *>(request.dialog)) {
            a.text = box->text();
            a.informativeText = box->informativeText();
        }
        asked.append(a);
        if (during)
            during(request);
        return answers.isEmpty() ? ModalDialogs::Answer() : answers.takeFirst();
    }
};

inline Slice square(float z, float size)
{
    const QVector<geom::Point2Df> points{{0, 0}, {size, 0}, {size, size}, {0, size}};
    Slice slice(z, 0.0f);
    slice.addContour(Contour(points));
    return slice;
}

// count square slices from z0 up in steps of dz, each slice as thick as the step.
inline QList<Slice> slices(int count, float z0 = 1.0f, float dz = 0.5f)
{
    QList<Slice> list;
    for (int i = 0; i < count; ++i) {
        Slice slice = square(z0 + i * dz, 10.0f + i);
        slice.setThickness(dz);
        list.append(slice);
    }
    return list;
}

inline bool writeSlc(const QString &path, const QList<Slice> &list)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    SlcWriter writer(&file);
    const bool written = writer.writeSlices(list, false) == list.size();
    return writer.finish() && written;
}

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the system says about an error number, as a message's second line gives it.
inline QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

inline QStringList recentFiles()
{
    return QSettings().value(QStringLiteral("MainWindow/RecentFiles")).toStringList();
}

template <typename T>
T *part(const MainWindow &window, const char *name)
{
    T *object = window.findChild<T *>(QLatin1String(name));
    if (!object)
        qFatal("main window has no %s", name);
    return object;
}

inline QAction *action(const MainWindow &window, const char *name) { return part<QAction>(window, name); }
inline SliceView *view(const MainWindow &window) { return part<SliceView>(window, "graphicsView"); }
inline QSlider *slider(const MainWindow &window) { return part<QSlider>(window, "sliceSlider"); }
inline QFileSystemWatcher *watcher(const MainWindow &window)
{
    return part<QFileSystemWatcher>(window, "fileSystemWatcher");
}
inline QLabel *statusRight(const MainWindow &window) { return part<QLabel>(window, "statusRight"); }
inline QTimer *playTimer(const MainWindow &window) { return part<QTimer>(window, "playTimer"); }

// The first window the program shows takes the command-line file. Suites run with test names
// on their command line, so one window is shown and dropped before the real tests.
inline void takeCommandLine()
{
    DialogScript script;
    MainWindow window;
    window.show();
    // The window reads the file once it is on screen.
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("the window taking the command line never came on screen");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace fixture

#endif // MAINWINDOWFIXTURE_H
