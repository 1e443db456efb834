#ifndef APPLICATION_H
#define APPLICATION_H

#include <QApplication>
#include <QList>
#include <QPointer>

class MainWindow;

// The application object. Its one addition to QApplication is the system's file-open request:
// the file goes to a visible main window that has no file yet, or to a new main window. It also
// makes a write beyond the file-size limit fail with an error instead of ending the program.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);
    // Deletes the windows made for file-open requests that still exist.
    ~Application() override;

    bool event(QEvent *e) override;

private:
    void openFile(const QString &fileName);

    QList<QPointer<MainWindow>> m_createdWindows;
};

#endif // APPLICATION_H
