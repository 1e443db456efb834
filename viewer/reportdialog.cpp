#include "reportdialog.h"
#include "ui_reportdialog.h"

#include "shellhelpers.h"

#include <QDateTime>
#include <QEvent>
#include <QLocale>
#include <QUrl>

namespace {

ReportDialog::ExploreHandler exploreHandler = showInExplorer;

// The window writes explore links as file URLs with another scheme, so reading them back as
// file URLs undoes the percent-encoding of blanks, "#", "?", "%" and non-ASCII characters.
QString localPathOf(const QUrl &exploreLink)
{
    QUrl file(exploreLink);
    file.setScheme(QStringLiteral("file"));
    return file.toLocalFile();
}

} // namespace

ReportDialog::ReportDialog(QWidget *parent)
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

ReportDialog *ReportDialog::create(QWidget *parent, const QString &title, const QString &html)
{
    ReportDialog *dialog = new ReportDialog(parent);
    const QString generated = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::LongFormat);
    const QString footer =
        tr("<div style=\"margin-top: 1em\"><i>Report generated %1</i></div>").arg(generated.toHtmlEscaped());
    dialog->reportTitle = title;
    dialog->setWindowTitle(title);
    // setText would guess the format from the first line and could show the markup as text.
    dialog->ui->textBrowser->setHtml(html + footer);
    return dialog;
}

void ReportDialog::setExploreHandler(ExploreHandler handler)
{
    exploreHandler = handler ? handler : showInExplorer;
}

void ReportDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        if (!reportTitle.isEmpty())
            setWindowTitle(reportTitle);
    }
}

void ReportDialog::on_textBrowser_anchorClicked(const QUrl &link)
{
    // "slice:///12": the path carries a leading slash after the empty host.
    if (link.scheme() == QLatin1String("slice"))
        emit sliceClicked(link.path().mid(1).toInt(nullptr, 10));
    else if (link.scheme() == QLatin1String("explore"))
        exploreHandler(localPathOf(link));
}
