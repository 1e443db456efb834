#include "exportimagesdialog.h"

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>

#include <functional>

namespace {

using Accessor = std::function<double(const ExportImagesDialog &)>;

Accessor accessorFor(const QString &field)
{
    if (field == "offsetXSpinBox")
        return &ExportImagesDialog::offsetX;
    if (field == "offsetYSpinBox")
        return &ExportImagesDialog::offsetY;
    if (field == "resolutionXSpinBox")
        return [](const ExportImagesDialog &d) { return double(d.resolutionX()); };
    if (field == "resolutionYSpinBox")
        return [](const ExportImagesDialog &d) { return double(d.resolutionY()); };
    if (field == "platformSizeXSpinBox")
        return &ExportImagesDialog::platformSizeX;
    return &ExportImagesDialog::platformSizeY;
}

} // namespace

// The platform's size and resolution end up as divisors of the export's pixel transform, so
// their lower limits matter as much as their defaults.
class TestExportImagesDialog : public QObject
{
    Q_OBJECT

private slots:
    void noContextHelpButton()
    {
        QVERIFY(QDialog().windowFlags() & Qt::WindowContextHelpButtonHint);
        ExportImagesDialog dialog;
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
    }

    void fields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<int>("decimals");   // -1: whole numbers
        QTest::addColumn<double>("value");

        QTest::newRow("offset x") << "offsetXSpinBox" << -1000000.0 << 1000000.0 << 6 << 0.0;
        QTest::newRow("offset y") << "offsetYSpinBox" << -1000000.0 << 1000000.0 << 6 << 0.0;
        QTest::newRow("resolution x") << "resolutionXSpinBox" << 1.0 << 32767.0 << -1 << 1920.0;
        QTest::newRow("resolution y") << "resolutionYSpinBox" << 1.0 << 32767.0 << -1 << 1080.0;
        QTest::newRow("platform x") << "platformSizeXSpinBox" << 0.000001 << 1000000.0 << 6 << 151.5;
        QTest::newRow("platform y") << "platformSizeYSpinBox" << 0.000001 << 1000000.0 << 6 << 85.2188;
    }

    void fields()
    {
        QFETCH(QString, field);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(int, decimals);
        QFETCH(double, value);

        ExportImagesDialog dialog;
        const Accessor read = accessorFor(field);
        QCOMPARE(read(dialog), value);

        if (decimals < 0) {
            QSpinBox *box = dialog.findChild<QSpinBox *>(field);
            QVERIFY(box);
            QCOMPARE(double(box->minimum()), minimum);
            QCOMPARE(double(box->maximum()), maximum);
            box->setValue(int(minimum) - 1);
            QCOMPARE(read(dialog), minimum);
            box->setValue(int(maximum) + 1);
            QCOMPARE(read(dialog), maximum);
            box->setValue(640);
            QCOMPARE(read(dialog), 640.0);
        } else {
            QDoubleSpinBox *box = dialog.findChild<QDoubleSpinBox *>(field);
            QVERIFY(box);
            QCOMPARE(box->decimals(), decimals);
            QCOMPARE(box->minimum(), minimum);
            QCOMPARE(box->maximum(), maximum);
            box->setValue(minimum - 1);
            QCOMPARE(read(dialog), minimum);
            box->setValue(maximum + 1);
            QCOMPARE(read(dialog), maximum);
            box->setValue(12.345678);
            QCOMPARE(read(dialog), 12.345678);
        }
    }

    void showFocusesOffsetXAndKeepsValues()
    {
        ExportImagesDialog dialog;
        dialog.open();
        QDoubleSpinBox *offsetX = dialog.findChild<QDoubleSpinBox *>("offsetXSpinBox");
        QLineEdit *offsetXText = offsetX->findChild<QLineEdit *>();
        QCOMPARE(dialog.focusWidget(), offsetX);
        QVERIFY(!offsetXText->text().isEmpty());
        QCOMPARE(offsetXText->selectedText(), offsetXText->text());

        offsetX->setValue(10);
        offsetXText->deselect();
        dialog.findChild<QSpinBox *>("resolutionXSpinBox")->setValue(2560);
        dialog.findChild<QSpinBox *>("resolutionXSpinBox")->setFocus();
        dialog.accept();
        QVERIFY(!dialog.isVisible());

        dialog.open();
        QCOMPARE(dialog.offsetX(), 10.0);
        QCOMPARE(dialog.resolutionX(), 2560);
        QCOMPARE(dialog.focusWidget(), offsetX);
        QCOMPARE(offsetXText->selectedText(), offsetXText->text());
    }
};

QTEST_MAIN(TestExportImagesDialog)
#include "tst_exportimagesdialog.moc"
