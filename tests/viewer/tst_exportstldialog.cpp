#include "exportstldialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <QValidator>
#include <QtTest>

#include <memory>

namespace {

QComboBox *thicknessBox(const ExportStlDialog &dialog)
{
    return dialog.findChild<QComboBox *>("thicknessComboBox");
}

QComboBox *unitsBox(const ExportStlDialog &dialog)
{
    return dialog.findChild<QComboBox *>("unitsComboBox");
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

const QStringList millimetreList{"0.0127", "0.01905", "0.0254", "0.0381", "0.05",
                                 "0.0508", "0.0762", "0.1",    "0.127",  "0.5"};
const QStringList inchList{"0.0005", "0.00075", "0.001", "0.0015", "0.002", "0.003", "0.01", "0.05"};

} // namespace

class TestExportStlDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("Nurat");
        QCoreApplication::setApplicationName("Quarne");
    }

    // Every dialog stores its state when it dies; each case starts from an empty store.
    void init()
    {
        QSettings().clear();
    }

    void noContextHelpButton()
    {
        QVERIFY(QDialog().windowFlags() & Qt::WindowContextHelpButtonHint);
        ExportStlDialog dialog;
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    }

    void showsThicknessOfFirstSlice()
    {
        QWidget parent;
        ExportStlDialog *dialog = new ExportStlDialog(&parent);
        QCOMPARE(parent.findChild<ExportStlDialog *>("exportStlDialog"), dialog);
        dialog->setProperty("SliceThickness", QStringLiteral("0.15"));
        dialog->show();
        QCOMPARE(dialog->findChild<QLabel *>("sliceThicknessLabel")->text(), QString("0.15"));
        dialog->hide();
        dialog->setProperty("SliceThickness", QVariant());
        dialog->show();
        QVERIFY(dialog->findChild<QLabel *>("sliceThicknessLabel")->text().isEmpty());
    }

    void okHasFocusOnEveryShow()
    {
        ExportStlDialog dialog;
        QPushButton *ok = dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok);
        dialog.show();
        QCOMPARE(dialog.focusWidget(), ok);
        dialog.hide();
        dialog.findChild<QGroupBox *>("minThicknessGroupBox")->setChecked(true);
        thicknessBox(dialog)->setFocus();
        QVERIFY(dialog.focusWidget() != ok);
        dialog.show();
        QCOMPARE(dialog.focusWidget(), ok);
    }

    // The group titles are drawn within their boxes as the style lays them out; what lies
    // beyond a box's edge is cut off. The dialog has a fixed size, so it must be wide enough.
    void groupTitlesFit_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("pixels");
        for (const QString &style : {QStringLiteral("Fusion"), QStringLiteral("Windows")}) {
            for (int pixels = 9; pixels <= 20; ++pixels) {
                QTest::addRow("Information, %s, %d px", qPrintable(style), pixels) << "groupBox" << style << pixels;
                QTest::addRow("minimum thickness, %s, %d px", qPrintable(style), pixels)
                    << "minThicknessGroupBox" << style << pixels;
            }
        }
    }

    void groupTitlesFit()
    {
        QFETCH(QString, box);
        QFETCH(QString, style);
        QFETCH(int, pixels);
        const QFont font = QApplication::font();
        QFont sized = font;
        sized.setPixelSize(pixels);
        QApplication::setFont(sized);
        QVERIFY(QApplication::setStyle(style));
        ExportStlDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QGroupBox *group = dialog.findChild<QGroupBox *>(box);
        QVERIFY(group);
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.lineWidth = 1;
        option.midLineWidth = 0;
        option.textAlignment = group->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        if (group->isCheckable())
            option.subControls |= QStyle::SC_GroupBoxCheckBox;
        const QRect label =
            group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        const int textWidth = group->fontMetrics().horizontalAdvance(group->title());
        const QString where = QStringLiteral("title at %1, %2 px wide, in a box %3 px wide")
                                  .arg(label.left()).arg(textWidth).arg(group->width());
        QVERIFY2(label.width() >= textWidth, qPrintable(where));
        QVERIFY2(label.left() >= 0 && label.left() + textWidth <= group->width(), qPrintable(where));
        dialog.hide();
        QApplication::setFont(font);
    }

    void minimumThickness()
    {
        ExportStlDialog dialog;
        QVERIFY(!dialog.isMinimumThicknessEnabled());
        QVERIFY(!thicknessBox(dialog)->isEnabled());
        dialog.findChild<QGroupBox *>("minThicknessGroupBox")->setChecked(true);
        QVERIFY(dialog.isMinimumThicknessEnabled());
        QVERIFY(thicknessBox(dialog)->isEnabled());
        QVERIFY(dialog.isMillimetres());

        QComboBox *thickness = thicknessBox(dialog);
        thickness->setEditText("0.05");
        QCOMPARE(dialog.sliceThickness(), 0.05f);
        thickness->setEditText("thin");
        QCOMPARE(dialog.sliceThickness(), 0.0f);
    }

    // The exporter takes millimetres only, so an inch value must arrive converted.
    void thicknessInMillimetres_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("millimetres");

        QTest::newRow("mm 0.05") << 0 << "0.05" << 0.05f;
        QTest::newRow("mm 0.5") << 0 << "0.5" << 0.5f;
        QTest::newRow("inch 0.001") << 1 << "0.001" << 0.0254f;
        QTest::newRow("inch 0.0005") << 1 << "0.0005" << 0.0127f;
        QTest::newRow("inch 0.05") << 1 << "0.05" << 1.27f;
        QTest::newRow("inch 1") << 1 << "1" << 25.4f;
        QTest::newRow("inch not a number") << 1 << "abc" << 0.0f;
        QTest::newRow("mm empty") << 0 << "" << 0.0f;
        QTest::newRow("inch infinite") << 1 << "inf" << 0.0f;
        QTest::newRow("mm nan") << 0 << "nan" << 0.0f;
        QTest::newRow("inch beyond float") << 1 << "1e300" << 0.0f;
    }

    void thicknessInMillimetres()
    {
        QFETCH(int, units);
        QFETCH(QString, text);
        QFETCH(float, millimetres);

        ExportStlDialog dialog;
        unitsBox(dialog)->setCurrentIndex(units);
        thicknessBox(dialog)->setEditText(text);
        QCOMPARE(dialog.isMillimetres(), units == 0);
        QCOMPARE(dialog.sliceThickness(), millimetres);
    }

    void unitSwitch_data()
    {
        QTest::addColumn<QString>("millimetres");
        QTest::addColumn<QString>("inches");
        QTest::addColumn<QString>("back");

        QTest::newRow("list value") << "0.0254" << "0.001" << "0.0254";
        QTest::newRow("smallest") << "0.0127" << "0.0005" << "0.0127";
        QTest::newRow("whole inch keeps its point") << "25.4" << "1." << "25.4";
        QTest::newRow("ten characters") << "0.5" << "0.01968504" << "0.50000002";
        QTest::newRow("trailing zeros") << "0.05" << "0.0019685" << "0.0499999";
        QTest::newRow("decimals given up to fit") << "1000000000" << "39370078.7" << "999999999.";
        QTest::newRow("not a number") << "abc" << "abc" << "abc";
    }

    void unitSwitch()
    {
        QFETCH(QString, millimetres);
        QFETCH(QString, inches);
        QFETCH(QString, back);

        ExportStlDialog dialog;
        QComboBox *thickness = thicknessBox(dialog);
        QComboBox *units = unitsBox(dialog);
        thickness->setEditText(millimetres);

        units->setCurrentIndex(1);
        QVERIFY(!dialog.isMillimetres());
        QCOMPARE(thickness->currentText(), inches);
        QCOMPARE(items(thickness), inchList);

        units->setCurrentIndex(0);
        QCOMPARE(thickness->currentText(), back);
        QCOMPARE(items(thickness), millimetreList);
    }

    // The field holds ten characters; a value too large for them in the other unit must not
    // lose whole digits, which would make it orders of magnitude smaller.
    void unitSwitchKeepsMagnitude()
    {
        ExportStlDialog dialog;
        unitsBox(dialog)->setCurrentIndex(1);
        thicknessBox(dialog)->setEditText("9999999999");
        const float inches = dialog.sliceThickness();
        unitsBox(dialog)->setCurrentIndex(0);
        QVERIFY2(qAbs(dialog.sliceThickness() / inches - 1.0f) < 1e-3f, qPrintable(thicknessBox(dialog)->currentText()));
    }

    void restore_data()
    {
        QTest::addColumn<QVariant>("storedUnits");
        QTest::addColumn<QVariant>("storedThickness");
        QTest::addColumn<int>("units");
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("millimetres");

        QTest::newRow("nothing stored") << QVariant() << QVariant() << 0 << "0.0127" << 0.0127f;
        QTest::newRow("mm") << QVariant(0) << QVariant("0.1") << 0 << "0.1" << 0.1f;
        QTest::newRow("inch") << QVariant(1) << QVariant("0.002") << 1 << "0.002" << 0.0508f;
        QTest::newRow("inch without thickness") << QVariant(1) << QVariant() << 1 << "0.0005" << 0.0127f;
        QTest::newRow("thickness without unit") << QVariant() << QVariant("0.0381") << 0 << "0.0381" << 0.0381f;
        QTest::newRow("unknown unit") << QVariant(7) << QVariant("0.1") << 0 << "0.1" << 0.1f;
        QTest::newRow("unit not a number") << QVariant("inch") << QVariant("0.1") << 0 << "0.1" << 0.1f;
    }

    void restore()
    {
        QFETCH(QVariant, storedUnits);
        QFETCH(QVariant, storedThickness);
        QFETCH(int, units);
        QFETCH(QString, text);
        QFETCH(float, millimetres);

        {
            QSettings settings;
            if (storedUnits.isValid())
                settings.setValue("ExportStlDialog/Units", storedUnits);
            if (storedThickness.isValid())
                settings.setValue("ExportStlDialog/SliceThickness", storedThickness);
        }
        ExportStlDialog dialog;
        QCOMPARE(unitsBox(dialog)->currentIndex(), units);
        QCOMPARE(thicknessBox(dialog)->currentText(), text);
        QCOMPARE(items(thicknessBox(dialog)), units == 0 ? millimetreList : inchList);
        QCOMPARE(dialog.sliceThickness(), millimetres);
    }

    // What one run leaves behind, the next run shows unchanged, however often it is reopened.
    void restoreRoundTrip()
    {
        for (int run = 0; run < 3; ++run) {
            ExportStlDialog dialog;
            if (run == 0) {
                unitsBox(dialog)->setCurrentIndex(1);
                thicknessBox(dialog)->setEditText("0.003");
            }
            QCOMPARE(unitsBox(dialog)->currentIndex(), 1);
            QCOMPARE(thicknessBox(dialog)->currentText(), QString("0.003"));
            QCOMPARE(dialog.sliceThickness(), 0.0762f);
        }
    }

    void acceptStoresSettings()
    {
        ExportStlDialog dialog;
        dialog.open();
        unitsBox(dialog)->setCurrentIndex(1);
        thicknessBox(dialog)->setEditText("0.0015");
        QSignalSpy finished(&dialog, SIGNAL(finished(int)));
        QTest::mouseClick(dialog.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));

        const QSettings settings;
        QCOMPARE(settings.value("ExportStlDialog/Units").toInt(), 1);
        QCOMPARE(settings.value("ExportStlDialog/SliceThickness").toString(), QString("0.0015"));
    }

    void destructionStoresSettings()
    {
        {
            ExportStlDialog dialog;
            unitsBox(dialog)->setCurrentIndex(1);
            thicknessBox(dialog)->setEditText("0.01");
        }
        const QSettings settings;
        QCOMPARE(settings.value("ExportStlDialog/Units").toInt(), 1);
        QCOMPARE(settings.value("ExportStlDialog/SliceThickness").toString(), QString("0.01"));
    }

    void languageChange_data()
    {
        QTest::addColumn<int>("units");
        QTest::addColumn<QString>("text");

        QTest::newRow("mm") << 0 << "0.0381";
        QTest::newRow("inch") << 1 << "0.002";
        QTest::newRow("typed, not in the list") << 1 << "0.0042";
    }

    void languageChange()
    {
        QFETCH(int, units);
        QFETCH(QString, text);

        ExportStlDialog dialog;
        dialog.findChild<QGroupBox *>("minThicknessGroupBox")->setChecked(true);
        unitsBox(dialog)->setCurrentIndex(units);
        thicknessBox(dialog)->setEditText(text);
        dialog.setProperty("SliceThickness", QStringLiteral("0.15"));
        dialog.show();
        const float millimetres = dialog.sliceThickness();

        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&dialog, &change);

        QCOMPARE(items(unitsBox(dialog)), (QStringList{"mm", "inch"}));
        QCOMPARE(unitsBox(dialog)->currentIndex(), units);
        QCOMPARE(thicknessBox(dialog)->currentText(), text);
        QCOMPARE(items(thicknessBox(dialog)), units == 0 ? millimetreList : inchList);
        QCOMPARE(dialog.sliceThickness(), millimetres);
        QVERIFY(dialog.isMinimumThicknessEnabled());
        QCOMPARE(dialog.findChild<QLabel *>("sliceThicknessLabel")->text(), QString("0.15"));
        QCOMPARE(dialog.windowTitle(), QString("Export STL"));
    }

    // The field is read in the C locale whatever the user's locale is, so the validator must
    // not accept a decimal comma (nor take it for a group separator).
    void validatorIgnoresUserLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("state");

        const QLocale german(QLocale::German, QLocale::Germany);
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QTest::newRow("de 0,05") << german << "0,05" << int(QValidator::Invalid);
        QTest::newRow("de 0.05") << german << "0.05" << int(QValidator::Acceptable);
        QTest::newRow("de 1.000,5") << german << "1.000,5" << int(QValidator::Invalid);
        QTest::newRow("en 1,000") << english << "1,000" << int(QValidator::Invalid);
        QTest::newRow("en 0.05") << english << "0.05" << int(QValidator::Acceptable);
        QTest::newRow("below bottom") << english << "0.0005" << int(QValidator::Intermediate);
        QTest::newRow("negative") << german << "-1" << int(QValidator::Invalid);
    }

    void validatorIgnoresUserLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, input);
        QFETCH(int, state);

        const QLocale saved;
        QLocale::setDefault(locale);
        std::unique_ptr<ExportStlDialog> dialog(new ExportStlDialog);
        QLocale::setDefault(saved);

        const QValidator *validator = thicknessBox(*dialog)->validator();
        QVERIFY(validator);
        QString text = input;
        int position = text.size();
        QCOMPARE(int(validator->validate(text, position)), state);
        if (state == QValidator::Acceptable)
            QVERIFY(input.toDouble() > 0);
    }

    void typedCommaIsRefused()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ExportStlDialog dialog;
        QLocale::setDefault(saved);

        dialog.findChild<QGroupBox *>("minThicknessGroupBox")->setChecked(true);
        dialog.show();
        QLineEdit *field = thicknessBox(dialog)->lineEdit();
        field->clear();
        field->setFocus();
        QTest::keyClicks(field, "0,05");
        QVERIFY2(!field->text().contains(','), qPrintable(field->text()));
        bool ok = false;
        QCOMPARE(dialog.sliceThickness(), float(field->text().toDouble(&ok)));
        QVERIFY(ok);
    }
};

QTEST_MAIN(TestExportStlDialog)
#include "tst_exportstldialog.moc"
