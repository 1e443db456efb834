#ifndef EXPORTSTLDIALOG_H
#define EXPORTSTLDIALOG_H

#include <QDialog>

namespace Ui {
class ExportStlDialog;
}

// Asked after the STL output file has been chosen: shows the first slice's thickness (the
// dynamic property "SliceThickness", set before each open()) and takes an optional minimum
// layer thickness in millimetres or inches. The dialog exports nothing itself; the caller reads
// it on finished(int). The unit and the typed thickness are remembered between runs.
class ExportStlDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportStlDialog(QWidget *parent = nullptr);
    ~ExportStlDialog() override;

    bool isMinimumThicknessEnabled() const;
    // The minimum thickness in millimetres, whatever unit the user chose; 0 when the field does
    // not hold a finite number.
    float sliceThickness() const;
    // The unit the user sees; sliceThickness() has already been converted from it.
    bool isMillimetres() const;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_unitsComboBox_currentIndexChanged(int index);

private:
    void fillMillimetreThicknesses();
    void fillInchThicknesses();
    void restoreSettings();
    void saveSettings() const;

    Ui::ExportStlDialog *ui;
};

#endif // EXPORTSTLDIALOG_H
