#include "application.h"

#include "mainwindow.h"

#include <QFileOpenEvent>

#include <csignal>

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // A write beyond the file-size limit would otherwise kill the program with SIGXFSZ; ignored,
    // the write fails (EFBIG) and is reported like a full disk, the old file left in place.
    std::signal(SIGXFSZ, SIG_IGN);
}

Application::~Application()
{
    for (const QPointer<MainWindow> &window : qAsConst(m_createdWindows))
        delete window.data();
}

bool Application::event(QEvent *e)
{
    if (e->type() == QEvent::FileOpen) {
        openFile(static_cast<QFileOpenEvent *>(e)->file());
        return true;
    }
    return QApplication::event(e);
}

void Application::openFile(const QString &fileName)
{
    // A closed window is hidden, not deleted: a file opened there would stay out of sight.
    const QWidgetList widgets = topLevelWidgets();
    for (QWidget *widget : widgets) {
        MainWindow *window = qobject_cast<MainWindow *>(widget);
        if (window && window->isVisible() && !window->hasFile()) {
            window->openFile(fileName);
            return;
        }
    }
    MainWindow *window = new MainWindow(nullptr);
    m_createdWindows.append(window);
    window->openFile(fileName);
    window->show();
}
