#ifndef EXPORTSTLDIALOG_H
#define EXPORTSTLDIALOG_H

#include <QDialog>

namespace Ui {
class ExportStlDialog;
}

// Asked after the STL output file has been chosen: shows the first slice's thickness (the
// dynamic property "SliceThickness", set before each open()) and takes an optional minimum
// layer thickness. The dialog exports nothing itself; the caller reads it on finished(int).
class ExportStlDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportStlDialog(QWidget* parent = nullptr);
    ~ExportStlDialog() override;

    bool isMinimumThicknessEnabled() const;
    // The typed or chosen minimum thickness in the unit of the units box; 0 when not a number.
    float sliceThickness() const;
    bool isMillimetres() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void on_unitsComboBox_currentIndexChanged(int index);

private:
    void fillMillimetreThicknesses();
    void fillInchThicknesses();

    Ui::ExportStlDialog* ui;
};

#endif // EXPORTSTLDIALOG_H
