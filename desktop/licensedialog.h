#ifndef LICENSEDIALOG_H
#define LICENSEDIALOG_H

#include <QDialog>
#include <QUrl>

class QString;
class Ui_LicenseDialog;

// The licence terms of the program and of the components it uses: one page per file of the
// licence directory, chosen with a combo box, the program's own "License.txt" first. Web
// addresses in the texts open in the browser; a mention of a licence file's name switches to
// that file's page ("license:///<name>" links).
class LicenseDialog : public QDialog
{
    Q_OBJECT

public:
    // The licences compiled into the program (":/resources/licenses").
    explicit LicenseDialog(QWidget *parent = nullptr);
    // The licences of another directory, e.g. a test's own.
    LicenseDialog(const QString &directory, QWidget *parent);
    ~LicenseDialog() override;

protected:
    void changeEvent(QEvent *event) override;

private slots:
    void anchorClicked(QUrl link);

private:
    void updateWindowTitle();

    Ui_LicenseDialog *ui;
};

// The order in which licence names are linked: longer names first, so that a name standing
// inside a longer one is not linked within it.
bool licenseNameLongerThan(const QString &a, const QString &b);

#endif // LICENSEDIALOG_H
