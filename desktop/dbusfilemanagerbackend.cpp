#include "dbusfilemanagerbackend.h"

#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QUrl>
#include <QVariantMap>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Long enough for a file manager that D-Bus has to start first, short enough that a hung
// service does not freeze the window for long.
const int replyTimeout = 5000;

bool succeeds(const QDBusConnection &bus, const QDBusMessage &call)
{
    if (!bus.isConnected())
        return false;
    return bus.call(call, QDBus::Block, replyTimeout).type() == QDBusMessage::ReplyMessage;
}

} // namespace

DBusFileManagerBackend::DBusFileManagerBackend() = default;

DBusFileManagerBackend::DBusFileManagerBackend(const QDBusConnection &bus)
    : connectionName(bus.name())
{
}

DBusFileManagerBackend::~DBusFileManagerBackend() = default;

bool DBusFileManagerBackend::showItems(const QStringList &filePaths)
{
    QStringList uris;
    for (const QString &path : filePaths)
        uris.append(QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()));

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // No startup notification id: we have none to hand on.
    call << uris << QString();
    return succeeds(bus(), call);
}

bool DBusFileManagerBackend::chooseApplication(const QString &filePath)
{
    QVariantMap options;
    options.insert(QStringLiteral("ask"), true);

    // OpenFile takes the file itself, so it works for sandboxed portals as well; OpenURI is
    // for connections that cannot pass file descriptors.
    const QDBusConnection connection = bus();
    const bool passDescriptor = QDBusUnixFileDescriptor::isSupported()
        && (connection.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"),
        passDescriptor ? QStringLiteral("OpenFile") : QStringLiteral("OpenURI"));
    if (passDescriptor) {
        const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        // The descriptor object keeps a duplicate of its own.
        const QDBusUnixFileDescriptor descriptor(fd);
        ::close(fd);
        call << QString() << QVariant::fromValue(descriptor) << options;
    } else {
        call << QString() << QString::fromLatin1(QUrl::fromLocalFile(filePath).toEncoded()) << options;
    }
    return succeeds(connection, call);
}

QDBusConnection DBusFileManagerBackend::bus() const
{
    return connectionName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName);
}
