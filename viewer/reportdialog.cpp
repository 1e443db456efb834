#include "reportdialog.h"
#include "ui_reportdialog.h"

#include <QDateTime>
#include <QEvent>
#include <QLocale>
#include <QUrl>

ReportDialog::ReportDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::ReportDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->setupUi(this);
}

ReportDialog::~ReportDialog()
{
    delete ui;
}

ReportDialog* ReportDialog::create(QWidget* parent, const QString& title, const QString& html)
{
    ReportDialog* dialog = new ReportDialog(parent);
    const QString footer = tr("<div style=\"margin-top: 1em\"><i>Report generated %1</i></div>")
                               .arg(QLocale::system().toString(QDateTime::currentDateTime(), QLocale::LongFormat));
    dialog->setWindowTitle(title);
    dialog->ui->textBrowser->setText(html + footer);
    return dialog;
}

void ReportDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void ReportDialog::on_textBrowser_anchorClicked(const QUrl& link)
{
    // The links look like "slice:///12": the path carries a leading slash after the empty host.
    if (link.scheme() == QLatin1String("slice"))
        emit sliceClicked(link.path().mid(1).toInt(nullptr, 10));
}
