#include "changelogdialog.h"

#include "changelogsyntaxhighlighter.h"

#include <QCoreApplication>
#include <QFile>
#include <QGridLayout>
#include <QTextEdit>

ChangelogDialog::ChangelogDialog(QWidget *parent)
    : ChangelogDialog(QStringLiteral(":/changelog.txt"), parent)
{
}

ChangelogDialog::ChangelogDialog(const QString &fileName, QWidget *parent)
    : QDialog(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    QFile file(fileName);
    const bool opened = file.open(QIODevice::ReadOnly);

    auto *textEdit = new QTextEdit(this);
    auto *layout = new QGridLayout(this);
    layout->addWidget(textEdit);

    QFont font(QStringLiteral("Courier"), 8);
    // The history is laid out in columns; without Courier another fixed-pitch font stands in.
    font.setStyleHint(QFont::TypeWriter);

    // Before the text arrives, so that it is coloured as it loads.
    new ChangelogSyntaxHighlighter(textEdit);

    textEdit->setFont(font);
    textEdit->setReadOnly(true);
    textEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (opened)
        textEdit->setPlainText(QString::fromUtf8(file.readAll()));

    setWindowTitle(tr("Changelog - %1").arg(qApp->property("FullApplicationName").toString()));
    setMinimumSize(640, 500);
}

ChangelogDialog::~ChangelogDialog() = default;
