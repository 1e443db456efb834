#include "newsdialog.h"

#include "modaldialogs.h"
#include "newschecker.h"
#include "ui_newsdialog.h"

#include <QDesktopServices>
#include <QEvent>
#include <QKeySequence>
#include <QPalette>
#include <QShortcut>
#include <QUrl>
#include <QWebPage>
#include <QWebView>

namespace {

// Opens the news window at the first activation of the main window it watches, for news that
// arrived while that window was minimised.
class ShowEventFilter : public QObject
{
public:
    explicit ShowEventFilter(NewsDialog *dialog)
        : QObject(dialog),
          dialog(dialog)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate) {
            dialog->open();
            watched->removeEventFilter(this);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    NewsDialog *dialog;
};

bool opensInBrowser(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https")
           || scheme == QLatin1String("mailto");
}

} // namespace

struct NewsDialogPrivate {
    NewsChecker *checker = nullptr;
    QShortcut *copyShortcut = nullptr;
};

NewsDialog::NewsDialog(QWidget *parent)
    : QDialog(parent),
      ui(new Ui_NewsDialog),
      d(new NewsDialogPrivate)
{
    d->checker = NewsChecker::attach(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    d->copyShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), this, nullptr, nullptr, Qt::WindowShortcut);
    d->copyShortcut->setObjectName(QStringLiteral("copyShortcut"));

    ui->setupUi(this);

    for (int i = 0; i < 2; ++i) {
        QWebView *view = new QWebView(ui->stackedWidget);
        showPage(view, d->checker->createPage(view));
        view->setAttribute(Qt::WA_OpaquePaintEvent, false);
        view->setContextMenuPolicy(Qt::NoContextMenu);
        connect(view, SIGNAL(linkClicked(QUrl)), this, SLOT(webView_linkClicked(QUrl)));
        ui->stackedWidget->addWidget(view);
    }

    // The page fills the window, which closes with its close button or Escape.
    ui->bottomGridLayout->setContentsMargins(0, 0, 0, 0);
    ui->buttonBox->hide();

    connect(d->checker, &NewsChecker::announced, this, &NewsDialog::newsAnnounced);
    // Queued, so that the message boxes run outside the checker.
    connect(d->checker, &NewsChecker::unavailable, this, &NewsDialog::newsUnavailable, Qt::QueuedConnection);
    connect(d->checker, &NewsChecker::failed, this, &NewsDialog::newsFailed, Qt::QueuedConnection);
}

NewsDialog::~NewsDialog()
{
    // The pages use the checker's network access, which may go with this window.
    while (QWidget *view = ui->stackedWidget->widget(0))
        delete view;
    NewsChecker::detach(this);
    delete d;
    delete ui;
}

void NewsDialog::showNews()
{
    d->checker->requestNews(this);
}

void NewsDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void NewsDialog::on_copyShortcut_activated()
{
    currentWebView()->triggerPageAction(QWebPage::Copy);
}

void NewsDialog::webView_linkClicked(const QUrl &url)
{
    if (!opensInBrowser(url) || !QDesktopServices::openUrl(url)) {
        ModalDialogs::critical(this, tr("Open Link - Error"),
                               tr("Can't open link using web browser: %1").arg(url.toString()));
    }
}

void NewsDialog::newsAnnounced(QWebPage *page, QWidget *client)
{
    if (client != this)
        return;
    QWebView *view = nextWebView();
    showPage(view, page);
    ui->stackedWidget->setCurrentWidget(view);
    present();
}

void NewsDialog::newsUnavailable(QWidget *client)
{
    if (client == this)
        ModalDialogs::information(parentWidget(), tr("News - Unavailable"), tr("News is unavailable."));
}

void NewsDialog::newsFailed(QWidget *client)
{
    if (client == this) {
        ModalDialogs::warning(parentWidget(), tr("News - Connection Error"),
                              tr("Unable to connect to news server. Please check your internet connection "
                                 "and firewall settings."));
    }
}

QWebView *NewsDialog::nextWebView() const
{
    const int next = (ui->stackedWidget->currentIndex() + 1) % ui->stackedWidget->count();
    return qobject_cast<QWebView *>(ui->stackedWidget->widget(next));
}

QWebView *NewsDialog::currentWebView() const
{
    return qobject_cast<QWebView *>(ui->stackedWidget->currentWidget());
}

void NewsDialog::showPage(QWebView *view, QWebPage *page)
{
    // The view deletes the page it showed before, being its parent.
    page->setParent(view);
    view->setPage(page);
    QPalette palette = view->palette();
    palette.setBrush(QPalette::Base, Qt::transparent);
    page->setPalette(palette);
    page->setViewportSize(view->size());
}

void NewsDialog::present()
{
    QWidget *window = parentWidget();
    if (window && window->isMinimized()) {
        window->installEventFilter(new ShowEventFilter(this));
        window->activateWindow();
    } else {
        open();
        activateWindow();
    }
}
