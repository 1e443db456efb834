#ifndef DBUSFILEMANAGERBACKEND_H
#define DBUSFILEMANAGERBACKEND_H

#include "filemanagerbackend.h"

#include <QDBusConnection>

// The freedesktop.org services on the given bus: "org.freedesktop.FileManager1" (ShowItems),
// which every common Linux file manager provides, and the desktop portal's
// "org.freedesktop.portal.OpenURI" with "ask" set for the choice of program. Each request waits
// a few seconds at most for its answer; a missing service answers at once with an error.
class DBusFileManagerBackend : public FileManagerBackend
{
public:
    // The session bus, looked up at each request.
    DBusFileManagerBackend();
    // A bus connected under a name of its own (QDBusConnection::connectToBus).
    explicit DBusFileManagerBackend(const QDBusConnection &bus);
    ~DBusFileManagerBackend() override;

    bool showItems(const QStringList &filePaths) override;
    bool chooseApplication(const QString &filePath) override;

private:
    QDBusConnection bus() const;

    // Only the name is kept: a connection object held to the end of the program would outlive
    // Qt's D-Bus machinery.
    QString connectionName;
};

#endif // DBUSFILEMANAGERBACKEND_H
