#ifndef FILEMANAGERBACKEND_H
#define FILEMANAGERBACKEND_H

#include <QString>
#include <QStringList>

// What the shell helpers need of the desktop beyond opening URLs: a file manager that shows
// files selected, and the dialog that lets the user choose the program for a file. The desktop
// answers over D-Bus; tests install a stand-in.
class FileManagerBackend
{
public:
    virtual ~FileManagerBackend();

    // Opens a file manager window on the folder of the files, with the files selected. The
    // paths are absolute. True when the file manager took the request.
    virtual bool showItems(const QStringList &filePaths) = 0;
    // Starts the desktop's dialog for choosing the program that opens the file (absolute
    // path). True when the dialog was started; what the user picks is not waited for.
    virtual bool chooseApplication(const QString &filePath) = 0;

    // The backend the shell helpers use: the installed one, else the desktop's over the
    // session bus.
    static FileManagerBackend *instance();
    // Installs a backend (not owned; it must outlive its use); null restores the desktop's.
    static void setInstance(FileManagerBackend *backend);
};

#endif // FILEMANAGERBACKEND_H
