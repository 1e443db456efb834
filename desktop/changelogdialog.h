#ifndef CHANGELOGDIALOG_H
#define CHANGELOGDIALOG_H

#include <QDialog>

class QString;

// The program's change history, read-only, coloured by ChangelogSyntaxHighlighter. A missing
// history gives an empty window.
class ChangelogDialog : public QDialog
{
    Q_OBJECT

public:
    // The history compiled into the program (":/changelog.txt").
    explicit ChangelogDialog(QWidget *parent = nullptr);
    // The history of another file, e.g. a test's own.
    ChangelogDialog(const QString &fileName, QWidget *parent);
    ~ChangelogDialog() override;
};

#endif // CHANGELOGDIALOG_H
