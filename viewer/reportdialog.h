#ifndef REPORTDIALOG_H
#define REPORTDIALOG_H

#include <QDialog>

class QUrl;

namespace Ui {
class ReportDialog;
}

// A modeless window showing one HTML report, stamped with the time it was made. Slice links
// ("slice:///12") are turned into sliceClicked(12); the browser itself never follows a link.
class ReportDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ReportDialog(QWidget* parent = nullptr);
    ~ReportDialog() override;

    // Returns the new window hidden and without attributes; the caller decides how it lives.
    static ReportDialog* create(QWidget* parent, const QString& title, const QString& html);

signals:
    void sliceClicked(int slice);

protected:
    void changeEvent(QEvent* event) override;

private slots:
    void on_textBrowser_anchorClicked(const QUrl& link);

private:
    Ui::ReportDialog* ui;
};

#endif // REPORTDIALOG_H
