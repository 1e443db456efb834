#include "exportimagesdialog.h"
#include "ui_exportimagesdialog.h"

ExportImagesDialog::ExportImagesDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ExportImagesDialog)
{
    // Named before the form is built so the owner's on_exportImagesDialog_finished() finds it.
    setObjectName(QStringLiteral("exportImagesDialog"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->setupUi(this);
}

ExportImagesDialog::~ExportImagesDialog()
{
    delete ui;
}

double ExportImagesDialog::offsetX() const
{
    return ui->offsetXSpinBox->value();
}

double ExportImagesDialog::offsetY() const
{
    return ui->offsetYSpinBox->value();
}

double ExportImagesDialog::platformSizeX() const
{
    return ui->platformSizeXSpinBox->value();
}

double ExportImagesDialog::platformSizeY() const
{
    return ui->platformSizeYSpinBox->value();
}

int ExportImagesDialog::resolutionX() const
{
    return ui->resolutionXSpinBox->value();
}

int ExportImagesDialog::resolutionY() const
{
    return ui->resolutionYSpinBox->value();
}

void ExportImagesDialog::showEvent(QShowEvent *event)
{
    ui->offsetXSpinBox->selectAll();
    ui->offsetXSpinBox->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}
