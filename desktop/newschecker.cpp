#include "newschecker.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QWidget>

namespace {

const char *const announcementMarker = "<!-- 5be0c7a19d3f42e8061b7ac9e4d2f85a13c6709e -->";

NewsChecker::Source &configuredSource()
{
    static NewsChecker::Source source = NewsChecker::defaultSource();
    return source;
}

NewsChecker *sharedChecker = nullptr;

// The end of a load that is not even tried: an error, reported from the event loop like any
// network failure.
class RefusedReply : public QNetworkReply
{
    Q_OBJECT

public:
    RefusedReply(QNetworkAccessManager::Operation operation, const QNetworkRequest &request, NetworkError code,
                 const QString &message, QObject *parent)
        : QNetworkReply(parent)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(operation);
        setError(code, message);
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        QMetaObject::invokeMethod(this, &RefusedReply::refuse, Qt::QueuedConnection);
    }

    void abort() override {}
    qint64 bytesAvailable() const override { return 0; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }

private:
    void refuse()
    {
        setFinished(true);
        emit errorOccurred(error());
        emit finished();
    }
};

// Puts the news's certificate authorities, transfer timeout and redirect handling on every
// request, and refuses every request that would leave HTTPS or the news server.
class NetworkAccessManager : public QNetworkAccessManager
{
    Q_OBJECT

public:
    NetworkAccessManager(const NewsChecker::Source &source, QObject *parent)
        : QNetworkAccessManager(parent),
          server(source.url),
          sslConfiguration(QSslConfiguration::defaultConfiguration()),
          transferTimeout(source.transferTimeout)
    {
        // On Qt 5 an explicit CA list replaces the system's instead of adding to it.
        QList<QSslCertificate> authorities = sslConfiguration.caCertificates();
        for (const QSslCertificate &certificate : QSslConfiguration::systemCaCertificates()) {
            if (!authorities.contains(certificate))
                authorities.append(certificate);
        }
        const QList<QSslCertificate> bundle = QSslCertificate::fromPath(
            source.caBundlePath, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (bundle.isEmpty())
            qDebug() << "News certificate bundle missing:" << source.caBundlePath;
        authorities += bundle;
        sslConfiguration.setCaCertificates(authorities);
    }

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override
    {
        const QUrl url = request.url();
        // Names under .invalid never resolve; asking the resolver would only send the name out.
        if (url.host().endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive)) {
            return new RefusedReply(operation, request, QNetworkReply::HostNotFoundError,
                                    QStringLiteral("Host %1 not found").arg(url.host()), this);
        }
        if (!mayLoad(url)) {
            qDebug() << "News page may not load" << url.toString();
            return new RefusedReply(operation, request, QNetworkReply::ContentAccessDenied,
                                    QStringLiteral("Only the news server may be reached over HTTPS"), this);
        }
        QNetworkRequest copy(request);
        copy.setSslConfiguration(sslConfiguration);
        copy.setTransferTimeout(transferTimeout);
        // Every hop of a redirect has to come back through here to be checked.
        copy.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        return QNetworkAccessManager::createRequest(operation, copy, outgoingData);
    }

private:
    bool mayLoad(const QUrl &url) const
    {
        // Inline data reaches no server.
        if (url.scheme() == QLatin1String("data"))
            return true;
        return url.scheme() == QLatin1String("https")
               && url.host().compare(server.host(), Qt::CaseInsensitive) == 0
               && url.port(443) == server.port(443);
    }

    const QUrl server;
    QSslConfiguration sslConfiguration;
    const int transferTimeout;
};

} // namespace

NewsChecker::Source NewsChecker::defaultSource()
{
    Source source;
    source.url = QUrl(QStringLiteral("https://news.quarne.invalid/announcement/"));
    source.caBundlePath = QStringLiteral(":/news/ca-bundle.crt");
    source.interval = 300000;
    source.transferTimeout = 30000;
    return source;
}

void NewsChecker::setSource(const Source &source)
{
    configuredSource() = source;
}

NewsChecker *NewsChecker::attach(QWidget *client)
{
    if (!sharedChecker)
        sharedChecker = new NewsChecker(configuredSource());
    if (!sharedChecker->clients.contains(client))
        sharedChecker->clients.append(client);
    return sharedChecker;
}

void NewsChecker::detach(QWidget *client)
{
    if (!sharedChecker)
        return;
    sharedChecker->clients.removeAll(client);
    if (sharedChecker->requester == client)
        sharedChecker->requester = nullptr;
    if (sharedChecker->clients.isEmpty()) {
        NewsChecker *checker = sharedChecker;
        sharedChecker = nullptr;
        delete checker;
    }
}

NewsChecker *NewsChecker::shared()
{
    return sharedChecker;
}

NewsChecker::NewsChecker(const Source &newsSource)
    : source(newsSource),
      manager(new NetworkAccessManager(newsSource, this)),
      timer(new QTimer(this))
{
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &NewsChecker::checkNews);
    checkNews();
}

NewsChecker::~NewsChecker()
{
    // Deleting the page aborts its network replies; nothing here waits for them.
    if (page) {
        disconnect(page, nullptr, this, nullptr);
        delete page;
    }
}

bool NewsChecker::isLoading() const
{
    return loading;
}

void NewsChecker::requestNews(QWidget *client)
{
    requester = client;
    if (!loading)
        startLoad();
}

QWebPage *NewsChecker::createPage(QObject *parent) const
{
    QWebPage *newPage = new QWebPage(parent);
    QWebSettings *settings = newPage->settings();
    settings->setAttribute(QWebSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebSettings::PluginsEnabled, false);
    settings->setAttribute(QWebSettings::JavaEnabled, false);
    newPage->setNetworkAccessManager(manager);
    newPage->setLinkDelegationPolicy(QWebPage::DelegateAllLinks);
    return newPage;
}

void NewsChecker::checkNews()
{
    if (!loading)
        startLoad();
    timer->start(source.interval);
}

void NewsChecker::startLoad()
{
    loading = true;
    page = createPage(this);
    const quint64 load = ++loads;
    // Queued, so that the page is handed on or deleted outside its own signal.
    connect(page, &QWebPage::loadFinished, this, [this, load](bool ok) { loadFinished(load, ok); },
            Qt::QueuedConnection);
    page->mainFrame()->load(source.url);
}

void NewsChecker::loadFinished(quint64 load, bool ok)
{
    if (load != loads || !loading || !page)
        return;
    QWebPage *loaded = page;
    page = nullptr;
    QWidget *user = requester;
    requester = nullptr;
    loading = false;
    disconnect(loaded, nullptr, this, nullptr);
    report(loaded, ok, user);
    // Unless a window took it over.
    if (loaded->parent() == this)
        loaded->deleteLater();
}

void NewsChecker::report(QWebPage *loaded, bool ok, QWidget *user)
{
    if (!ok) {
        qDebug("News page failed to load.");
        if (user)
            emit failed(user);
        return;
    }

    const QString html = loaded->mainFrame()->toHtml();
    if (!html.contains(QLatin1String(announcementMarker), Qt::CaseSensitive)) {
        qDebug("News page does not contain announcement.");
        if (user)
            emit unavailable(user);
        return;
    }

    const QByteArray digest = QCryptographicHash::hash(html.toUtf8(), QCryptographicHash::Sha1);
    QSettings settings;
    const QString key = QStringLiteral("NewsDialog/LastChecksum");
    if (!user && settings.value(key).toByteArray() == digest)
        return;
    settings.setValue(key, digest);
    if (QWidget *client = user ? user : presenter())
        emit announced(loaded, client);
}

QWidget *NewsChecker::presenter() const
{
    for (QWidget *client : clients) {
        const QWidget *window = client->parentWidget();
        if (client->isActiveWindow() || (window && window->isActiveWindow()))
            return client;
    }
    return clients.isEmpty() ? nullptr : clients.first();
}

#include "newschecker.moc"
