#ifndef NEWSDIALOG_H
#define NEWSDIALOG_H

#include <QDialog>

class QUrl;
class QWebPage;
class QWebView;
class Ui_NewsDialog;
struct NewsDialogPrivate;

// The window for the maker's announcements. Made by each main window (its parent), it joins the
// program's news checker; a new announcement opens it over its main window, and the News command
// asks for the latest page. Links in the pages open in the system's web browser.
class NewsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NewsDialog(QWidget *parent = nullptr);
    // Never waits for the network: a running load is abandoned, or left to the other windows.
    ~NewsDialog() override;

    // The user's request to see the news: the latest page is shown even if seen before, and
    // failures are reported.
    void showNews();

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_copyShortcut_activated();
    void webView_linkClicked(const QUrl &url);
    void newsAnnounced(QWebPage *page, QWidget *client);
    void newsUnavailable(QWidget *client);
    void newsFailed(QWidget *client);

private:
    QWebView *nextWebView() const;
    QWebView *currentWebView() const;
    void showPage(QWebView *view, QWebPage *page);
    void present();

    Ui_NewsDialog *ui;
    NewsDialogPrivate *d;
};

#endif // NEWSDIALOG_H
