#include "httpsserver.h"
#include "modaldialogs.h"
#include "newschecker.h"
#include "newsdialog.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QShortcut>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStackedWidget>
#include <QTcpServer>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>
#include <QWebSettings>
#include <QWebView>
#include <QtTest>

#include <memory>

namespace {

const int patience = 20000;
const char *const marker = "<!-- 5be0c7a19d3f42e8061b7ac9e4d2f85a13c6709e -->";
const char *const checksumKey = "NewsDialog/LastChecksum";

QByteArray announcement(const QByteArray &text, const QByteArray &extra = QByteArray())
{
    return "<html><head><title>News</title></head><body>" + QByteArray(marker) + "<p>" + text + "</p>" + extra
           + "</body></html>";
}

QByteArray storedDigest()
{
    return QSettings().value(QLatin1String(checksumKey)).toByteArray();
}

// The program's checker has finished its current load.
bool settled()
{
    const NewsChecker *checker = NewsChecker::shared();
    return checker && !checker->isLoading();
}

QWebView *shownView(const NewsDialog *dialog)
{
    const QStackedWidget *stack = dialog->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    return stack ? qobject_cast<QWebView *>(stack->currentWidget()) : nullptr;
}

QString shownText(const NewsDialog *dialog)
{
    const QWebView *view = shownView(dialog);
    return view ? view->page()->mainFrame()->toPlainText() : QString();
}

QByteArray digestOf(const QWebView *view)
{
    return QCryptographicHash::hash(view->page()->mainFrame()->toHtml().toUtf8(), QCryptographicHash::Sha1);
}

// A main window with its news window, made last as the real one does.
struct Window {
    QWidget main;
    NewsDialog *dialog;

    explicit Window(bool minimised = false)
    {
        main.resize(640, 480);
        if (minimised)
            main.showMinimized();
        else
            main.show();
        dialog = new NewsDialog(&main);
    }
};

} // namespace

// The news comes from a local HTTPS server whose authority is trusted the way the shipped
// bundle is; a second server presents a certificate from an authority nobody trusts.
class TestNewsDialog : public QObject
{
    Q_OBJECT

public slots:
    void openedInBrowser(const QUrl &url)
    {
        browsed.append(url);
    }

private:
    TestCertificates certificates;
    QString authority;
    std::unique_ptr<HttpsServer> server;
    std::unique_ptr<HttpsServer> rogue;
    std::unique_ptr<QTcpServer> plain;   // a plain-HTTP server nothing may reach
    QList<ModalDialogs::Request> messages;
    QList<QUrl> browsed;
    const QByteArray seenBefore = QByteArray(20, '\x5a');

    NewsChecker::Source source(const QByteArray &url) const
    {
        NewsChecker::Source news = NewsChecker::defaultSource();
        news.url = QUrl(QString::fromLatin1(url));
        news.caBundlePath = authority;
        return news;
    }

    QByteArray plainUrl(const QByteArray &path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(plain->serverPort()) + path;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("QuarneTests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_newsdialog"));
        if (!TestCertificates::available())
            QSKIP("the openssl command line tool is needed to make the test certificates");
        authority = certificates.makeAuthority(QStringLiteral("news-authority"));
        certificates.makeAuthority(QStringLiteral("rogue-authority"));
        const TestCertificates::Server trusted = certificates.makeServer(QStringLiteral("news-authority"),
                                                                         QStringLiteral("news-server"));
        const TestCertificates::Server untrusted = certificates.makeServer(QStringLiteral("rogue-authority"),
                                                                           QStringLiteral("rogue-server"));
        QVERIFY2(certificates.isValid(), qPrintable(certificates.errorString()));
        server = std::make_unique<HttpsServer>(trusted);
        rogue = std::make_unique<HttpsServer>(untrusted);
        plain = std::make_unique<QTcpServer>();
        QVERIFY(server->isListening());
        QVERIFY(rogue->isListening());
        QVERIFY(plain->listen(QHostAddress::LocalHost));
    }

    void init()
    {
        messages.clear();
        browsed.clear();
        ModalDialogs::setResponder([this](const ModalDialogs::Request &request) {
            messages.append(request);
            return ModalDialogs::Answer();
        });
        QSettings().remove(QLatin1String(checksumKey));
        for (HttpsServer *each : {server.get(), rogue.get()}) {
            each->clearResponses();
            each->release();
            each->requests.clear();
            each->connections = 0;
            each->disconnections = 0;
        }
        NewsChecker::setSource(source(server->url("/announcement/")));
    }

    void cleanup()
    {
        ModalDialogs::setResponder(ModalDialogs::Responder());
        for (const char *scheme : {"http", "https", "mailto", "ftp", "file", "javascript", "data"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        // Every window of a test is gone, and so is the checker with its load.
        QVERIFY(!NewsChecker::shared());
    }

    void window()
    {
        Window w;
        QCOMPARE(w.dialog->windowTitle(), QStringLiteral("News"));
        QVERIFY(!(w.dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
        w.dialog->setWindowTitle(QStringLiteral("changed"));
        QEvent languageChange(QEvent::LanguageChange);
        QCoreApplication::sendEvent(w.dialog, &languageChange);
        QCOMPARE(w.dialog->windowTitle(), QStringLiteral("News"));
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
    }

    void newAnnouncementOpensWindow()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        Window w;
        QVERIFY(!w.dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        QVERIFY(shownText(w.dialog).contains(QLatin1String("First news")));
        QCOMPARE(storedDigest().size(), 20);
        QCOMPARE(storedDigest(), digestOf(shownView(w.dialog)));
        QCOMPARE(server->requests, QList<QByteArray>{"/announcement/"});
        QVERIFY(messages.isEmpty());
    }

    void seenAnnouncementShownOnlyOnRequest()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        {
            Window first;
            QTRY_VERIFY_WITH_TIMEOUT(first.dialog->isVisible(), patience);
        }
        const QByteArray seen = storedDigest();
        QCOMPARE(seen.size(), 20);

        Window second;
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        QCOMPARE(server->requests.size(), 2);
        QVERIFY(!second.dialog->isVisible());

        second.dialog->showNews();
        QTRY_VERIFY_WITH_TIMEOUT(second.dialog->isVisible(), patience);
        QCOMPARE(server->requests.size(), 3);
        QVERIFY(shownText(second.dialog).contains(QLatin1String("First news")));
        QCOMPARE(storedDigest(), seen);
        QVERIFY(messages.isEmpty());
    }

    void laterAnnouncementReplacesPageInPlace()
    {
        NewsChecker::Source news = source(server->url("/announcement/"));
        news.interval = 100;
        NewsChecker::setSource(news);
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        const QWebView *firstView = shownView(w.dialog);
        const QByteArray first = storedDigest();

        server->setResponse("/announcement/", HttpsServer::page(announcement("Second news")));
        QTRY_VERIFY_WITH_TIMEOUT(shownText(w.dialog).contains(QLatin1String("Second news")), patience);
        QVERIFY(w.dialog->isVisible());
        QVERIFY(shownView(w.dialog) != firstView);
        QVERIFY(storedDigest() != first);
        QCOMPARE(storedDigest(), digestOf(shownView(w.dialog)));
    }

    void checksWaitForRunningLoad()
    {
        NewsChecker::Source news = source(server->url("/announcement/"));
        news.interval = 100;
        NewsChecker::setSource(news);
        server->setResponse("/announcement/", HttpsServer::page("<html><body>quiet</body></html>"));
        server->hold("/announcement/");
        Window w;
        QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 1, patience);
        QTest::qWait(5 * news.interval);
        QCOMPARE(server->requests.size(), 1);
        server->release();
        QTRY_VERIFY_WITH_TIMEOUT(server->requests.size() >= 3, patience);
        QVERIFY(!w.dialog->isVisible());
    }

    void withoutMarker_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<bool>("user");
        const QList<QPair<const char *, QByteArray>> pages = {
            {"no comment", "<html><body><p>Nothing new</p></body></html>"},
            {"upper-case token", "<html><body><!-- 5BE0C7A19D3F42E8061B7AC9E4D2F85A13C6709E --></body></html>"},
            {"token outside a comment", "<html><body>5be0c7a19d3f42e8061b7ac9e4d2f85a13c6709e</body></html>"},
        };
        for (const auto &page : pages) {
            QTest::addRow("%s, background", page.first) << page.second << false;
            QTest::addRow("%s, user's", page.first) << page.second << true;
        }
    }

    void withoutMarker()
    {
        QFETCH(QByteArray, page);
        QFETCH(bool, user);
        QSettings().setValue(QLatin1String(checksumKey), seenBefore);
        server->setResponse("/announcement/", HttpsServer::page(page));
        Window w;
        // The background load is running; the user's request takes it over.
        QVERIFY(NewsChecker::shared()->isLoading());
        if (user)
            w.dialog->showNews();
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        if (user) {
            QTRY_COMPARE(messages.size(), 1);
            QCOMPARE(messages[0].kind, ModalDialogs::Information);
            QCOMPARE(messages[0].parent, &w.main);
            QCOMPARE(messages[0].title, QStringLiteral("News - Unavailable"));
            QCOMPARE(messages[0].text, QStringLiteral("News is unavailable."));
        } else {
            QCoreApplication::processEvents();
            QVERIFY(messages.isEmpty());
        }
        QCOMPARE(server->requests.size(), 1);
        QVERIFY(!w.dialog->isVisible());
        QCOMPARE(storedDigest(), seenBefore);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("user");
        for (const char *failure : {"untrusted certificate", "missing bundle", "redirect to http",
                                    "redirect to another host", "no answer", "the program's own host"}) {
            QTest::addRow("%s, background", failure) << QString::fromLatin1(failure) << false;
            QTest::addRow("%s, user's", failure) << QString::fromLatin1(failure) << true;
        }
    }

    // A page that fails stays unseen, the last seen announcement stays seen, and only the user
    // hears of it.
    void failures()
    {
        QFETCH(QString, failure);
        QFETCH(bool, user);
        QSettings().setValue(QLatin1String(checksumKey), seenBefore);
        const HttpsServer::Response news = HttpsServer::page(announcement("Elsewhere"));
        QList<QByteArray> expectedRequests = {"/announcement/"};
        HttpsServer *reached = server.get();
        NewsChecker::Source settings = source(server->url("/announcement/"));
        server->setResponse("/announcement/", news);
        if (failure == QLatin1String("untrusted certificate")) {
            rogue->setResponse("/announcement/", news);
            settings.url = QUrl(QString::fromLatin1(rogue->url("/announcement/")));
            reached = rogue.get();
            expectedRequests.clear();
        } else if (failure == QLatin1String("missing bundle")) {
            settings.caBundlePath = authority + QStringLiteral(".missing");
            expectedRequests.clear();
        } else if (failure == QLatin1String("redirect to http")) {
            server->setResponse("/announcement/", HttpsServer::redirect(plainUrl("/announcement/")));
        } else if (failure == QLatin1String("redirect to another host")) {
            // localhost is this very server, and its certificate names it too.
            server->setResponse("/announcement/", HttpsServer::redirect(server->url("/moved/", "localhost")));
            server->setResponse("/moved/", news);
        } else if (failure == QLatin1String("no answer")) {
            server->setResponse("/announcement/", HttpsServer::silent());
            settings.transferTimeout = 300;
        } else {
            // Never resolves, so this one fails without a server.
            settings.url = NewsChecker::defaultSource().url;
            reached = nullptr;
            expectedRequests.clear();
        }
        NewsChecker::setSource(settings);

        Window w;
        if (user)
            w.dialog->showNews();
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        if (user) {
            QTRY_COMPARE(messages.size(), 1);
            QCOMPARE(messages[0].kind, ModalDialogs::Warning);
            QCOMPARE(messages[0].parent, &w.main);
            QCOMPARE(messages[0].title, QStringLiteral("News - Connection Error"));
            QCOMPARE(messages[0].text, QStringLiteral("Unable to connect to news server. Please check your "
                                                      "internet connection and firewall settings."));
        } else {
            QCoreApplication::processEvents();
            QVERIFY(messages.isEmpty());
        }
        QVERIFY(!w.dialog->isVisible());
        QCOMPARE(storedDigest(), seenBefore);
        QVERIFY(!reached || reached->connections > 0);
        QCOMPARE(server->requests + rogue->requests, expectedRequests);
        QVERIFY(!plain->hasPendingConnections());
    }

    void redirectWithinNewsServerFollowed()
    {
        server->setResponse("/announcement/", HttpsServer::redirect(server->url("/announcement/moved/")));
        server->setResponse("/announcement/moved/", HttpsServer::page(announcement("Moved news")));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        QVERIFY(shownText(w.dialog).contains(QLatin1String("Moved news")));
        QCOMPARE(server->requests, (QList<QByteArray>{"/announcement/", "/announcement/moved/"}));
    }

    void pageLoadsOnlyFromNewsServerWithoutScripts()
    {
        const QByteArray extra = "<img src=\"own.png\">"
                                 "<img src=\"" + server->url("/foreign.png", "localhost") + "\">"
                                 "<img src=\"" + plainUrl("/plain.png") + "\">"
                                 "<script>document.body.setAttribute('data-ran', 'yes');</script>"
                                 "<object type=\"application/x-shockwave-flash\" data=\"movie.swf\"></object>";
        server->setResponse("/announcement/", HttpsServer::page(announcement("Pictures", extra)));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        const QWebView *view = shownView(w.dialog);
        QVERIFY(server->requests.contains("/announcement/own.png"));
        QVERIFY(!server->requests.contains("/foreign.png"));
        QVERIFY(!server->requests.contains("/announcement/movie.swf"));
        QVERIFY(!plain->hasPendingConnections());
        const QWebElement body = view->page()->mainFrame()->findFirstElement(QStringLiteral("body"));
        QCOMPARE(body.attribute(QStringLiteral("data-ran")), QString());
        QVERIFY(!view->page()->settings()->testAttribute(QWebSettings::JavascriptEnabled));
        QVERIFY(!view->page()->settings()->testAttribute(QWebSettings::PluginsEnabled));
        QCOMPARE(view->page()->linkDelegationPolicy(), QWebPage::DelegateAllLinks);
    }

    void systemAuthoritiesKept()
    {
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        if (system.isEmpty())
            QSKIP("this system has no certificate authorities of its own");
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        QNetworkAccessManager *manager = shownView(w.dialog)->page()->networkAccessManager();
        const QUrl url(QString::fromLatin1(server->url("/announcement/")));
        std::unique_ptr<QNetworkReply> reply(manager->get(QNetworkRequest(url)));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(patience));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        const QList<QSslCertificate> trusted = reply->sslConfiguration().caCertificates();
        for (const QSslCertificate &certificate : system)
            QVERIFY(trusted.contains(certificate));
        QVERIFY(trusted.contains(QSslCertificate::fromPath(authority).value(0)));
    }

    void linkClicks_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opens");
        QTest::newRow("https") << "https://example.invalid/a" << "https://example.invalid/a" << true;
        QTest::newRow("http") << "http://example.invalid/b" << "http://example.invalid/b" << true;
        QTest::newRow("mailto") << "mailto:news@example.invalid" << "mailto:news@example.invalid" << true;
        QTest::newRow("relative") << "more/" << QString::fromLatin1(server->url("/announcement/more/")) << true;
        QTest::newRow("ftp") << "ftp://example.invalid/c" << "ftp://example.invalid/c" << false;
    }

    void linkClicks()
    {
        QFETCH(QString, href);
        QFETCH(QString, url);
        QFETCH(bool, opens);
        for (const char *scheme : {"http", "https", "mailto", "ftp"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "openedInBrowser");
        const QByteArray link = "<p><a id=\"link\" href=\"" + href.toUtf8()
                                + "\" style=\"display:block;width:200px;height:50px\">link</a></p>";
        server->setResponse("/announcement/", HttpsServer::page(announcement("Links", link)));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        QWebView *view = shownView(w.dialog);
        const QWebElement anchor = view->page()->mainFrame()->findFirstElement(QStringLiteral("#link"));
        QVERIFY(!anchor.isNull());
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, anchor.geometry().center());
        if (opens) {
            QTRY_COMPARE(browsed, QList<QUrl>{QUrl(url)});
            QVERIFY(messages.isEmpty());
        } else {
            QTRY_COMPARE(messages.size(), 1);
            QVERIFY(browsed.isEmpty());
            QCOMPARE(messages[0].kind, ModalDialogs::Critical);
            QCOMPARE(messages[0].parent, w.dialog);
            QCOMPARE(messages[0].title, QStringLiteral("Open Link - Error"));
            QCOMPARE(messages[0].text, QStringLiteral("Can't open link using web browser: ") + url);
        }
        // The page itself stays.
        QVERIFY(shownText(w.dialog).contains(QLatin1String("Links")));
    }

    // Links WebKit itself would not follow from a web page still must not reach the desktop.
    void linksToLocalSchemesRefused_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("file") << "file:///etc/passwd";
        QTest::newRow("javascript") << "javascript:alert(1)";
        QTest::newRow("data") << "data:text/html,news";
    }

    void linksToLocalSchemesRefused()
    {
        QFETCH(QString, url);
        for (const char *scheme : {"file", "javascript", "data"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "openedInBrowser");
        Window w;
        QWebView *view = shownView(w.dialog);
        emit view->linkClicked(QUrl(url));
        QVERIFY(browsed.isEmpty());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].kind, ModalDialogs::Critical);
        QCOMPARE(messages[0].text, QStringLiteral("Can't open link using web browser: ") + QUrl(url).toString());
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
    }

    void minimisedMainWindowOpensOnActivation()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        Window w(true);
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        QCOMPARE(storedDigest().size(), 20);
        QVERIFY(!w.dialog->isVisible());

        w.main.showNormal();
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&w.main, &activate);
        QVERIFY(w.dialog->isVisible());
        QVERIFY(shownText(w.dialog).contains(QLatin1String("First news")));
    }

    void copyShortcutCopiesSelection()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("Copy these words")));
        Window w;
        QTRY_VERIFY_WITH_TIMEOUT(w.dialog->isVisible(), patience);
        shownView(w.dialog)->triggerPageAction(QWebPage::SelectAll);
        QApplication::clipboard()->clear();
        QShortcut *shortcut = w.dialog->findChild<QShortcut *>(QStringLiteral("copyShortcut"));
        QVERIFY(shortcut);
        QCOMPARE(shortcut->key(), QKeySequence(Qt::CTRL | Qt::Key_C));
        emit shortcut->activated();
        QVERIFY(QApplication::clipboard()->text().contains(QLatin1String("Copy these words")));
    }

    void oneCheckerForAllWindows()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        auto first = std::make_unique<Window>();
        Window second;
        NewsChecker *checker = NewsChecker::shared();
        QVERIFY(checker);
        QTRY_VERIFY_WITH_TIMEOUT(settled(), patience);
        QTRY_VERIFY(first->dialog->isVisible() || second.dialog->isVisible());
        QVERIFY(!(first->dialog->isVisible() && second.dialog->isVisible()));
        QCOMPARE(server->requests.size(), 1);

        first.reset();
        QCOMPARE(NewsChecker::shared(), checker);
        second.dialog->close();
        second.dialog->showNews();
        QTRY_VERIFY_WITH_TIMEOUT(second.dialog->isVisible(), patience);
        QCOMPARE(server->requests.size(), 2);
    }

    void requesterLeavingMidLoad()
    {
        server->setResponse("/announcement/", HttpsServer::page(announcement("First news")));
        server->hold("/announcement/");
        auto asking = std::make_unique<Window>();
        Window staying;
        QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 1, patience);
        asking->dialog->showNews();
        asking.reset();
        server->release();
        // The load goes on as a background check for the remaining window.
        QTRY_VERIFY_WITH_TIMEOUT(staying.dialog->isVisible(), patience);
        QVERIFY(messages.isEmpty());
    }

    void closingDuringLoadDoesNotWait_data()
    {
        QTest::addColumn<bool>("user");
        QTest::newRow("background load") << false;
        QTest::newRow("user's load") << true;
    }

    void closingDuringLoadDoesNotWait()
    {
        QFETCH(bool, user);
        server->setResponse("/announcement/", HttpsServer::silent());
        auto w = std::make_unique<Window>();
        QTRY_COMPARE_WITH_TIMEOUT(server->requests.size(), 1, patience);
        if (user)
            w->dialog->showNews();
        QElapsedTimer clock;
        clock.start();
        w.reset();
        QVERIFY(clock.elapsed() < patience);
        QVERIFY(!NewsChecker::shared());
        // The load was abandoned, not left running.
        QTRY_COMPARE_WITH_TIMEOUT(server->disconnections, server->connections, patience);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(messages.isEmpty());
    }
};

QTEST_MAIN(TestNewsDialog)
#include "tst_newsdialog.moc"
