#include "changelogdialog.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QTextEdit>

ChangelogDialog::ChangelogDialog(QWidget* parent)
    : QDialog(parent)
    , textEdit(new QTextEdit(this))
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    textEdit->setReadOnly(true);
    textEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    QGridLayout* layout = new QGridLayout(this);
    layout->addWidget(textEdit, 0, 0);

    setWindowTitle(tr("Changelog - %1").arg(qApp->property("FullApplicationName").toString()));
}

ChangelogDialog::~ChangelogDialog() = default;
