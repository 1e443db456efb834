#ifndef REPORTDIALOG_H
#define REPORTDIALOG_H

#include <QDialog>
#include <QString>

class QUrl;

namespace Ui {
class ReportDialog;
}

// A modeless window showing one HTML report, stamped with the time it was made. Its links are
// commands, never followed by the browser: "slice:///12" emits sliceClicked(12), and
// "explore:///<path>" (the path as QUrl::fromLocalFile encodes it) shows that file in the
// desktop's file manager.
class ReportDialog : public QDialog
{
    Q_OBJECT

public:
    // What an explore link does with its local path; the result is only informative.
    using ExploreHandler = bool (*)(const QString &path);

    explicit ReportDialog(QWidget *parent = nullptr);
    ~ReportDialog() override;

    // Returns the new window hidden and without attributes; the caller decides how it lives.
    static ReportDialog *create(QWidget *parent, const QString &title, const QString &html);

    // Replaces the file manager for every report window, so that tests can see the path an
    // explore link resolves to without opening anything; nullptr restores the file manager.
    static void setExploreHandler(ExploreHandler handler);

signals:
    void sliceClicked(int slice);

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void on_textBrowser_anchorClicked(const QUrl &link);

private:
    Ui::ReportDialog *ui;
    // The caller's title survives a language change; it was translated when it was given.
    QString reportTitle;
};

#endif // REPORTDIALOG_H
