#include "licensedialog.h"

#include "ui_licensedialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

const char *const programLicense = "License.txt";

// In the order the directory yields them, except that the program's own terms come first.
QStringList licenseFiles(const QString &directory)
{
    QStringList files;
    QDirIterator entries(directory, QDir::Files | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        files.append(entries.fileName());
    }
    const int own = files.indexOf(QLatin1String(programLicense));
    if (own > 0)
        files.move(own, 0);
    return files;
}

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// Only plain "http://" addresses are linked, and never with the full stop or comma that ends
// the sentence around them.
void linkWebAddresses(QTextDocument *document)
{
    const QRegularExpression address(QStringLiteral("http://[^\\s,\"]*[^.,\\s\"]"));
    QTextCursor cursor;
    for (;;) {
        cursor = document->find(address, cursor, QTextDocument::FindCaseSensitively);
        if (cursor.isNull())
            break;
        const QString text = cursor.selectedText().toHtmlEscaped();
        cursor.insertHtml(QStringLiteral("<a href=\"%1\">%1</a>").arg(text));
    }
}

// Mentions in any letter case; the link shows the name as the file has it.
void linkLicenseNames(QTextDocument *document, const QStringList &names)
{
    for (const QString &name : names) {
        const QString link = QStringLiteral("<a href=\"license:///%1\">%1</a>").arg(name.toHtmlEscaped());
        QTextCursor cursor;
        for (;;) {
            cursor = document->find(name, cursor);
            if (cursor.isNull())
                break;
            if (!cursor.charFormat().isAnchor())
                cursor.insertHtml(link);
        }
    }
}

} // namespace

bool licenseNameLongerThan(const QString &a, const QString &b)
{
    return a.size() > b.size();
}

LicenseDialog::LicenseDialog(QWidget *parent)
    : LicenseDialog(QStringLiteral(":/resources/licenses"), parent)
{
}

LicenseDialog::LicenseDialog(const QString &directory, QWidget *parent)
    : QDialog(parent),
      ui(new Ui_LicenseDialog)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->setupUi(this);
    // The form's placeholder page goes; every page is a licence text.
    while (ui->stackedWidget->count() > 0)
        ui->stackedWidget->removeWidget(ui->stackedWidget->widget(0));

    QFont font(QStringLiteral("Courier"), 8);
    // Where there is no Courier, another fixed-pitch font must stand in: the texts are laid out
    // in columns.
    font.setStyleHint(QFont::TypeWriter);

    const QStringList files = licenseFiles(directory);
    QStringList names = files;
    std::stable_sort(names.begin(), names.end(), licenseNameLongerThan);

    for (const QString &file : files) {
        ui->comboBox->addItem(file);

        auto *browser = new QTextBrowser(this);
        browser->setPlainText(readText(directory + QLatin1Char('/') + file));
        QTextDocument *document = browser->document();
        linkWebAddresses(document);
        linkLicenseNames(document, names);

        browser->moveCursor(QTextCursor::Start);
        browser->setFont(font);
        browser->setReadOnly(true);
        browser->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        browser->setWordWrapMode(QTextOption::NoWrap);
        browser->setOpenLinks(false);
        connect(browser, SIGNAL(anchorClicked(QUrl)), this, SLOT(anchorClicked(QUrl)));
        ui->stackedWidget->addWidget(browser);
    }

    ui->buttonBox->hide();
    updateWindowTitle();
    setMinimumSize(640, 500);
}

LicenseDialog::~LicenseDialog()
{
    delete ui;
}

void LicenseDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        updateWindowTitle();
}

void LicenseDialog::anchorClicked(QUrl link)
{
    if (link.scheme() == QLatin1String("license")) {
        for (int i = 0; i < ui->comboBox->count(); ++i) {
            if (QLatin1Char('/') + ui->comboBox->itemText(i) == link.path()) {
                ui->comboBox->setCurrentIndex(i);
                return;
            }
        }
        return;
    }
    QDesktopServices::openUrl(link);
}

void LicenseDialog::updateWindowTitle()
{
    setWindowTitle(tr("%1 - License Terms").arg(qApp->property("FullApplicationName").toString()));
}
