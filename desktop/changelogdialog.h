#ifndef CHANGELOGDIALOG_H
#define CHANGELOGDIALOG_H

#include <QDialog>

class QTextEdit;

// The read-only change-history window. No change history is bundled yet, so it is empty.
class ChangelogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangelogDialog(QWidget* parent = nullptr);
    ~ChangelogDialog() override;

private:
    QTextEdit* textEdit;
};

#endif // CHANGELOGDIALOG_H
