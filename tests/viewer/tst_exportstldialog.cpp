#include "exportstldialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QStandardPaths>
#include <QtTest>

class TestExportStlDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }

    void showsThicknessOfFirstSlice()
    {
        QWidget parent;
        ExportStlDialog* dialog = new ExportStlDialog(&parent);
        QCOMPARE(parent.findChild<ExportStlDialog*>("exportStlDialog"), dialog);
        dialog->setProperty("SliceThickness", QStringLiteral("0.15"));
        dialog->show();
        QCOMPARE(dialog->findChild<QLabel*>("sliceThicknessLabel")->text(), QString("0.15"));
        dialog->hide();
        dialog->setProperty("SliceThickness", QVariant());
        dialog->show();
        QVERIFY(dialog->findChild<QLabel*>("sliceThicknessLabel")->text().isEmpty());
    }

    void minimumThickness()
    {
        ExportStlDialog dialog;
        QVERIFY(!dialog.isMinimumThicknessEnabled());
        dialog.findChild<QGroupBox*>("minThicknessGroupBox")->setChecked(true);
        QVERIFY(dialog.isMinimumThicknessEnabled());
        QVERIFY(dialog.isMillimetres());

        QComboBox* thickness = dialog.findChild<QComboBox*>("thicknessComboBox");
        thickness->setEditText("0.05");
        QCOMPARE(dialog.sliceThickness(), 0.05f);
        thickness->setEditText("thin");
        QCOMPARE(dialog.sliceThickness(), 0.0f);
    }

    void unitSwitch_data()
    {
        QTest::addColumn<QString>("millimetres");
        QTest::addColumn<QString>("inches");
        QTest::addColumn<QString>("back");

        QTest::newRow("list value") << "0.0254" << "0.001" << "0.0254";
        QTest::newRow("smallest") << "0.0127" << "0.0005" << "0.0127";
        QTest::newRow("whole inch keeps its point") << "25.4" << "1." << "25.4";
        QTest::newRow("not a number") << "abc" << "abc" << "abc";
    }

    void unitSwitch()
    {
        QFETCH(QString, millimetres);
        QFETCH(QString, inches);
        QFETCH(QString, back);

        ExportStlDialog dialog;
        QComboBox* thickness = dialog.findChild<QComboBox*>("thicknessComboBox");
        QComboBox* units = dialog.findChild<QComboBox*>("unitsComboBox");
        thickness->setEditText(millimetres);

        units->setCurrentIndex(1);
        QVERIFY(!dialog.isMillimetres());
        QCOMPARE(thickness->currentText(), inches);
        QCOMPARE(thickness->count(), 8);
        QCOMPARE(thickness->itemText(0), QString("0.0005"));

        units->setCurrentIndex(0);
        QCOMPARE(thickness->currentText(), back);
        QCOMPARE(thickness->count(), 10);
        QCOMPARE(thickness->itemText(0), QString("0.0127"));
    }
};

QTEST_MAIN(TestExportStlDialog)
#include "tst_exportstldialog.moc"
