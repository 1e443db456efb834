#ifndef NEWSCHECKER_H
#define NEWSCHECKER_H

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QTimer;
class QWebPage;
class QWidget;

// Loads the maker's announcement page for the whole program: at once when the first news
// window attaches, then periodically, and whenever a user asks. However many main windows
// are open, there is one checker, one timer and at most one page load; it lives from the first
// attached window to the last detached one.
//
// Pages are loaded over HTTPS from the news server only (redirects and embedded resources
// included), with scripts and plug-ins off, trusting the system's certificate authorities
// plus those of the bundle.
class NewsChecker : public QObject
{
    Q_OBJECT

public:
    // Where the news comes from and how often it is fetched.
    struct Source {
        QUrl url;               // the announcement page; its host is the only one pages may load from
        QString caBundlePath;   // PEM certificates trusted in addition to the system's
        int interval = 0;       // milliseconds between background checks
        int transferTimeout = 0; // milliseconds a load may go without receiving data
    };

    static Source defaultSource();
    // For tests: the source of checkers made from now on.
    static void setSource(const Source &source);

    // Joins `client` (a news window) to the program's checker, making the checker if this is the
    // first client; the first check starts right away.
    static NewsChecker *attach(QWidget *client);
    // Removes `client`; a request of its own becomes a background check. The last client takes
    // the checker with it, aborting a running load without waiting for the network.
    static void detach(QWidget *client);
    // The program's checker, or null while no window is attached.
    static NewsChecker *shared();

    ~NewsChecker() override;

    bool isLoading() const;

    // The user's request, made from `client`: the next loaded page is shown even if it was seen
    // before, and failures are reported. While a load runs, that load becomes the user's.
    void requestNews(QWidget *client);

    // A page that loads only what a news page may load; its links are handed to the program.
    QWebPage *createPage(QObject *parent) const;

signals:
    // A page with an announcement for `client` to show; the client takes the page over by
    // reparenting it. Pages nobody takes are deleted.
    void announced(QWebPage *page, QWidget *client);
    // Only for user requests: the page held no announcement, or it could not be loaded.
    void unavailable(QWidget *client);
    void failed(QWidget *client);

private slots:
    void checkNews();

private:
    explicit NewsChecker(const Source &source);

    void startLoad();
    void loadFinished(quint64 load, bool ok);
    void report(QWebPage *loaded, bool ok, QWidget *user);
    QWidget *presenter() const;

    Source source;
    QNetworkAccessManager *manager;
    QTimer *timer;
    QList<QWidget *> clients;
    QPointer<QWebPage> page;     // the page being loaded
    QWidget *requester = nullptr; // the client whose user asked for the running load
    quint64 loads = 0;           // numbers the loads, so a late report of an old one is ignored
    bool loading = false;
};

#endif // NEWSCHECKER_H
