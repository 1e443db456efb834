#include "exportstldialog.h"
#include "ui_exportstldialog.h"

#include <QDoubleValidator>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>

#include <limits>

ExportStlDialog::ExportStlDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::ExportStlDialog)
{
    // Named before the form is built so the owner's on_exportStlDialog_finished() finds it.
    setObjectName(QStringLiteral("exportStlDialog"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->setupUi(this);

    ui->thicknessComboBox->lineEdit()->setMaxLength(10);
    ui->thicknessComboBox->setValidator(
        new QDoubleValidator(0.00075, std::numeric_limits<double>::infinity(), 8, ui->thicknessComboBox));
    // Size the dialog for a full ten-character value before the real list replaces the sample.
    ui->thicknessComboBox->addItem(QStringLiteral("0.12345678"));
    setFixedSize(sizeHint());
    fillMillimetreThicknesses();
}

ExportStlDialog::~ExportStlDialog()
{
    delete ui;
}

bool ExportStlDialog::isMinimumThicknessEnabled() const
{
    return ui->minThicknessGroupBox->isChecked();
}

float ExportStlDialog::sliceThickness() const
{
    return ui->thicknessComboBox->currentText().toFloat();
}

bool ExportStlDialog::isMillimetres() const
{
    return ui->unitsComboBox->currentIndex() == 0;
}

void ExportStlDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui->sliceThicknessLabel->setText(property("SliceThickness").toString());
    if (QPushButton* ok = ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setFocus(Qt::OtherFocusReason);
}

void ExportStlDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}

void ExportStlDialog::on_unitsComboBox_currentIndexChanged(int index)
{
    QString text = ui->thicknessComboBox->currentText();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok) {
        text = QString::number(index == 0 ? value * 25.4 : value / 25.4, 'f', 8);
        while (text.size() > 1 && text.endsWith(QLatin1Char('0')))
            text.chop(1);
    }
    if (index == 0)
        fillMillimetreThicknesses();
    else
        fillInchThicknesses();
    ui->thicknessComboBox->setEditText(text);
}

void ExportStlDialog::fillMillimetreThicknesses()
{
    ui->thicknessComboBox->clear();
    ui->thicknessComboBox->insertItems(ui->thicknessComboBox->count(),
                                       {QStringLiteral("0.0127"), QStringLiteral("0.01905"), QStringLiteral("0.0254"),
                                        QStringLiteral("0.0381"), QStringLiteral("0.05"), QStringLiteral("0.0508"),
                                        QStringLiteral("0.0762"), QStringLiteral("0.1"), QStringLiteral("0.127"),
                                        QStringLiteral("0.5")});
}

void ExportStlDialog::fillInchThicknesses()
{
    ui->thicknessComboBox->clear();
    ui->thicknessComboBox->insertItems(ui->thicknessComboBox->count(),
                                       {QStringLiteral("0.0005"), QStringLiteral("0.00075"), QStringLiteral("0.001"),
                                        QStringLiteral("0.0015"), QStringLiteral("0.002"), QStringLiteral("0.003"),
                                        QStringLiteral("0.01"), QStringLiteral("0.05")});
}
