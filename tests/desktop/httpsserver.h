#ifndef HTTPSSERVER_H
#define HTTPSSERVER_H

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

// Certificate authorities and server certificates for 127.0.0.1, made by the openssl command
// line tool in a temporary directory.
class TestCertificates
{
public:
    struct Server {
        QSslCertificate certificate;
        QSslKey key;
    };

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(); }

    bool isValid() const { return directory.isValid() && error.isEmpty(); }
    QString errorString() const { return error; }

    // Makes a self-signed authority; its certificate is written to the returned PEM file.
    QString makeAuthority(const QString &name)
    {
        const QString key = path(name + QStringLiteral(".key"));
        const QString certificate = path(name + QStringLiteral(".pem"));
        run(QStringList{"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name,
                        "-addext", "basicConstraints=critical,CA:TRUE",
                        "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", key, "-out", certificate});
        return certificate;
    }

    // A certificate for 127.0.0.1 and localhost, signed by the authority made under that name.
    Server makeServer(const QString &authority, const QString &name)
    {
        const QString key = path(name + QStringLiteral(".key"));
        const QString request = path(name + QStringLiteral(".csr"));
        const QString certificate = path(name + QStringLiteral(".pem"));
        const QString extensions = path(name + QStringLiteral(".ext"));
        QFile file(extensions);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("basicConstraints=CA:FALSE\n"
                       "keyUsage=digitalSignature,keyEncipherment\n"
                       "extendedKeyUsage=serverAuth\n"
                       "subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0) {
            error = QStringLiteral("cannot write ") + extensions;
        }
        file.close();
        run(QStringList{"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", key,
                        "-out", request});
        run(QStringList{"x509", "-req", "-days", "2", "-in", request, "-CA", path(authority + ".pem"),
                        "-CAkey", path(authority + ".key"), "-CAcreateserial", "-extfile", extensions,
                        "-out", certificate});

        Server server;
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(certificate);
        if (!certificates.isEmpty())
            server.certificate = certificates.first();
        QFile keyFile(key);
        if (keyFile.open(QIODevice::ReadOnly))
            server.key = QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (isValid() && (server.certificate.isNull() || server.key.isNull()))
            error = QStringLiteral("openssl made no usable certificate for ") + name;
        return server;
    }

private:
    QTemporaryDir directory;
    QString error;

    QString path(const QString &name) const { return directory.filePath(name); }

    void run(const QStringList &arguments)
    {
        if (!isValid())
            return;
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"), arguments);
        if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit
            || openssl.exitCode() != 0) {
            error = QStringLiteral("openssl ") + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
                    + QString::fromLocal8Bit(openssl.readAll());
        }
    }
};

// A small HTTPS/1.1 server on 127.0.0.1 running in the test's own event loop. Each path answers
// as configured: a page, a redirect, or not at all (the connection stays open, silent); unknown
// paths get 404. Held paths answer only once released.
class HttpsServer : public QTcpServer
{
public:
    struct Response {
        enum Kind { Page, Redirect, Silent };
        Kind kind = Page;
        QByteArray body;
        QByteArray location;
    };

    static Response page(const QByteArray &body)
    {
        Response response;
        response.body = body;
        return response;
    }
    static Response redirect(const QByteArray &location)
    {
        Response response;
        response.kind = Response::Redirect;
        response.location = location;
        return response;
    }
    static Response silent()
    {
        Response response;
        response.kind = Response::Silent;
        return response;
    }

    explicit HttpsServer(const TestCertificates::Server &identity)
        : identity(identity)
    {
        listen(QHostAddress::LocalHost);
    }

    QByteArray url(const QByteArray &path, const QByteArray &host = "127.0.0.1") const
    {
        return "https://" + host + ':' + QByteArray::number(serverPort()) + path;
    }

    void setResponse(const QByteArray &path, const Response &response) { responses.insert(path, response); }
    void clearResponses() { responses.clear(); }

    // Requests for the path wait, unanswered, until release().
    void hold(const QByteArray &path) { held.append(path); }
    void release()
    {
        held.clear();
        const QList<Pending> waiting = pending;
        pending.clear();
        for (const Pending &request : waiting) {
            if (request.socket)
                answer(request.socket, request.path);
        }
    }

    // The paths asked for so far, in order.
    QList<QByteArray> requests;
    int connections = 0;
    int disconnections = 0;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        QSslSocket *socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        ++connections;
        socket->setLocalCertificate(identity.certificate);
        socket->setPrivateKey(identity.key);
        socket->setPeerVerifyMode(QSslSocket::VerifyNone);
        QObject::connect(socket, &QSslSocket::readyRead, socket, [this, socket] { readRequest(socket); });
        QObject::connect(socket, &QSslSocket::disconnected, socket, [this, socket] {
            ++disconnections;
            socket->deleteLater();
        });
        socket->startServerEncryption();
    }

private:
    struct Pending {
        QPointer<QSslSocket> socket;
        QByteArray path;
    };

    void readRequest(QSslSocket *socket)
    {
        QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
        const int end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            socket->setProperty("request", buffer);
            return;
        }
        socket->setProperty("request", QByteArray());
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        const QByteArray path = requestLine.value(1);
        requests.append(path);
        if (held.contains(path))
            pending.append({socket, path});
        else
            answer(socket, path);
    }

    void answer(QSslSocket *socket, const QByteArray &path)
    {
        const auto found = responses.constFind(path);
        if (found != responses.constEnd() && found->kind == Response::Silent)
            return;
        QByteArray reply;
        if (found == responses.constEnd()) {
            reply = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 9\r\n"
                    "Connection: close\r\n\r\nnot found";
        } else if (found->kind == Response::Redirect) {
            reply = "HTTP/1.1 302 Found\r\nLocation: " + found->location
                    + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        } else {
            reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                    + QByteArray::number(found->body.size()) + "\r\nConnection: close\r\n\r\n" + found->body;
        }
        socket->write(reply);
        socket->disconnectFromHost();
    }

    TestCertificates::Server identity;
    QHash<QByteArray, Response> responses;
    QList<QByteArray> held;
    QList<Pending> pending;
};

#endif // HTTPSSERVER_H
