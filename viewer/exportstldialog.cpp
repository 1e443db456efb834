#include "exportstldialog.h"
#include "ui_exportstldialog.h"

#include <QDoubleValidator>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QProxyStyle>
#include <QPushButton>
#include <QSettings>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>

#include <cmath>
#include <limits>

namespace {

constexpr int maximumThicknessLength = 10;
constexpr double millimetresPerInch = 25.4;
const QLatin1String unitsKey("ExportStlDialog/Units");
const QLatin1String thicknessKey("ExportStlDialog/SliceThickness");

// Fixed notation without trailing zeros; the point stays, so a whole number reads "1.". When
// the value does not fit the field, decimals are given up (rounded, not cut off) before the
// field's length limit could cut off whole digits.
QString formatThickness(double value)
{
    for (int decimals = 8; decimals > 0; --decimals) {
        QString text = QString::number(value, 'f', decimals);
        while (text.size() > 1 && text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.size() <= maximumThicknessLength)
            return text;
    }
    return QString::number(value, 'g', 5);
}

// Some styles (Fusion) make the title rectangle of a group box as wide as the ink of the text,
// which at some font sizes is a pixel or two short of the width the text is drawn with, and clip
// the title to it: the title loses its last letter. This one gives the title at least that width.
class GroupBoxTitleStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl subControl,
                         const QWidget *widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, subControl, widget);
        if (control != CC_GroupBox || subControl != SC_GroupBoxLabel)
            return rect;
        if (const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option)) {
            const int width = option->fontMetrics.size(Qt::TextShowMnemonic, box->text).width();
            if (rect.width() < width)
                rect.setWidth(width);
        }
        return rect;
    }
};

} // namespace

ExportStlDialog::ExportStlDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ExportStlDialog)
{
    // Named before the form is built so the owner's on_exportStlDialog_finished() finds it.
    setObjectName(QStringLiteral("exportStlDialog"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->setupUi(this);
    // On top of the style the dialog is made with; the group boxes' children keep that one.
    const QString styleName = style()->objectName();
    QStyle *base = styleName.isEmpty() ? nullptr : QStyleFactory::create(styleName);
    GroupBoxTitleStyle *titleStyle = new GroupBoxTitleStyle(base);
    titleStyle->setParent(this);
    for (QGroupBox *box : {ui->groupBox, ui->minThicknessGroupBox})
        box->setStyle(titleStyle);

    ui->thicknessComboBox->lineEdit()->setMaxLength(maximumThicknessLength);
    // The field is read with QString::toDouble, which knows only the C locale; a validator of
    // another locale would let "0,05" through, which then reads as no number at all.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    QDoubleValidator *validator =
        new QDoubleValidator(0.00075, std::numeric_limits<double>::infinity(), 8, ui->thicknessComboBox);
    validator->setLocale(c);
    ui->thicknessComboBox->setValidator(validator);

    // Size the dialog for a full ten-character value before the real list replaces the sample.
    ui->thicknessComboBox->addItem(QStringLiteral("0.12345678"));
    setFixedSize(sizeHint());
    fillMillimetreThicknesses();
    restoreSettings();
}

ExportStlDialog::~ExportStlDialog()
{
    saveSettings();
    delete ui;
}

bool ExportStlDialog::isMinimumThicknessEnabled() const
{
    return ui->minThicknessGroupBox->isChecked();
}

float ExportStlDialog::sliceThickness() const
{
    bool ok = false;
    double value = ui->thicknessComboBox->currentText().toDouble(&ok);
    if (!ok)
        return 0.0f;
    if (!isMillimetres())
        value *= millimetresPerInch;
    const float millimetres = float(value);
    return std::isfinite(millimetres) ? millimetres : 0.0f;
}

bool ExportStlDialog::isMillimetres() const
{
    return ui->unitsComboBox->currentIndex() == 0;
}

void ExportStlDialog::accept()
{
    // The destructor only runs when the program ends, which a crash would never reach.
    saveSettings();
    QDialog::accept();
}

void ExportStlDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    ui->sliceThicknessLabel->setText(property("SliceThickness").toString());
    if (QPushButton *ok = ui->buttonBox->button(QDialogButtonBox::Ok))
        ok->setFocus(Qt::OtherFocusReason);
}

void ExportStlDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange) {
        // The form would reset the shown thickness to its placeholder; the units box keeps its
        // selection because the form only renames its items.
        const QString shownThickness = ui->sliceThicknessLabel->text();
        ui->retranslateUi(this);
        ui->sliceThicknessLabel->setText(shownThickness);
    }
}

void ExportStlDialog::on_unitsComboBox_currentIndexChanged(int index)
{
    if (index < 0)
        return;
    QString text = ui->thicknessComboBox->currentText();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok)
        text = formatThickness(index == 0 ? value * millimetresPerInch : value / millimetresPerInch);
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

void ExportStlDialog::restoreSettings()
{
    const QSettings settings;
    // The stored text is already in the stored unit: select the unit first (its switch
    // converts only the default text and picks the list), then put the text back unchanged.
    bool ok = false;
    const int units = settings.value(unitsKey, ui->unitsComboBox->currentIndex()).toInt(&ok);
    if (ok && units >= 0 && units < ui->unitsComboBox->count())
        ui->unitsComboBox->setCurrentIndex(units);
    ui->thicknessComboBox->setEditText(settings.value(thicknessKey, ui->thicknessComboBox->currentText()).toString());
}

void ExportStlDialog::saveSettings() const
{
    QSettings settings;
    settings.setValue(unitsKey, ui->unitsComboBox->currentIndex());
    settings.setValue(thicknessKey, ui->thicknessComboBox->currentText());
}
