#include "licensedialog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QTextBrowser>

LicenseDialog::LicenseDialog(QWidget* parent)
    : QDialog(parent)
    , textBrowser(new QTextBrowser(this))
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    textBrowser->setReadOnly(true);
    textBrowser->setOpenLinks(false);

    QDialogButtonBox* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttonBox, SIGNAL(rejected()), this, SLOT(reject()));

    QGridLayout* layout = new QGridLayout(this);
    layout->addWidget(textBrowser, 0, 0);
    layout->addWidget(buttonBox, 1, 0);

    setWindowTitle(tr("%1 - License Terms").arg(qApp->property("FullApplicationName").toString()));
}

LicenseDialog::~LicenseDialog() = default;
