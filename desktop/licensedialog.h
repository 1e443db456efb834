#ifndef LICENSEDIALOG_H
#define LICENSEDIALOG_H

#include <QDialog>

class QTextBrowser;

// The licence-terms window. No licence texts are bundled yet, so its view is empty.
class LicenseDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LicenseDialog(QWidget* parent = nullptr);
    ~LicenseDialog() override;

private:
    QTextBrowser* textBrowser;
};

#endif // LICENSEDIALOG_H
