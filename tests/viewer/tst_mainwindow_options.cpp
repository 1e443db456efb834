#include "mainwindowfixture.h"

#include "changelogdialog.h"
#include "decimalformat.h"
#include "licensedialog.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QImage>
#include <QOpenGLWidget>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>

#include <cmath>
#include <limits>

using namespace fixture;

namespace {

QList<Slice> rectangleSlices(float width, float height)
{
    const QVector<geom::Point2Df> points{{0, 0}, {width, 0}, {width, height}, {0, height}};
    Slice slice(1.0f, 0.1f);
    slice.addContour(Contour(points));
    return {slice};
}

void deleteLaterNow()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestMainWindowOptions : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString three;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
        three = dir.filePath("three.slc");
        QVERIFY(writeSlc(three, slices(3)));
    }
    void init() { QSettings().clear(); }

    // --- Grid -----------------------------------------------------------------------------

    void gridInterval_data()
    {
        QTest::addColumn<float>("extent");
        QTest::addColumn<QString>("label");
        QTest::addColumn<double>("maximum");
        QTest::newRow("12.5") << 25.0f << "Interval [0.1, 12.5]:" << 12.5;
        QTest::newRow("1234.567") << 2469.134f << "Interval [0.1, 1235]:" << double(2469.134f) * 0.5;
    }
    void gridInterval()
    {
        QFETCH(float, extent);
        QFETCH(QString, label);
        QFETCH(double, maximum);
        const QString path = dir.filePath("grid.slc");
        QVERIFY(writeSlc(path, rectangleSlices(extent, 2.0f)));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        QVERIFY(action(window, "action_Grid_Interval")->isEnabled());
        const double before = view(window)->gridInterval();
        script.answerValue(0.1);
        action(window, "action_Grid_Interval")->trigger();

        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Double);
        QCOMPARE(asked.title, QStringLiteral("Set Grid Interval"));
        QCOMPARE(asked.text, label);
        QCOMPARE(asked.value.toDouble(), before);
        QCOMPARE(asked.minimum.toDouble(), 0.1);
        QCOMPARE(asked.maximum.toDouble(), maximum);
        QCOMPARE(asked.decimals, 3);
        // The interval passes through single precision on its way to the view.
        QCOMPARE(view(window)->gridInterval(), double(0.1f));

        script.answerCancel();
        action(window, "action_Grid_Interval")->trigger();
        QCOMPARE(view(window)->gridInterval(), double(0.1f));
    }

    void gridAndVertexAndAnimationToggles_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("grid") << "action_Show_Grid";
        QTest::newRow("vertices") << "action_Show_Vertices";
        QTest::newRow("animations") << "action_Enable_Animations";
    }
    void gridAndVertexAndAnimationToggles()
    {
        QFETCH(QString, command);
        MainWindow window;
        SliceView *v = view(window);
        auto state = [&]() {
            if (command == "action_Show_Grid")
                return v->isGridVisible();
            if (command == "action_Show_Vertices")
                return v->showVertices();
            return v->animationsEnabled();
        };
        QAction *toggle = action(window, command.toLatin1().constData());
        QVERIFY(toggle->isChecked());
        QVERIFY(state());
        toggle->trigger();
        QVERIFY(!toggle->isChecked());
        QVERIFY(!state());
        toggle->trigger();
        QVERIFY(state());
    }

    // --- Decimal places -------------------------------------------------------------------

    void decimalPlaces()
    {
        DialogScript script;
        MainWindow window;
        window.openFile(three);
        script.answerValue(5);
        action(window, "action_Decimal_Places")->trigger();

        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Int);
        QCOMPARE(asked.title, QStringLiteral("Decimal Places"));
        QCOMPARE(asked.text, QStringLiteral("Configure the number of digits displayed after the decimal point.\n"
                                            "Setting this option to -1 will show all digits."));
        QCOMPARE(asked.value.toInt(), 3);
        QCOMPARE(asked.minimum.toInt(), -1);
        QCOMPARE(asked.maximum.toInt(), 15);
        QCOMPARE(window.decimalPlaces(), 5);

        emit view(window)->mouseMove(QPointF(1.5, -2));
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Slice: 1 / 3    X: 1.50000  Y: -2.00000  Z: 1.00000  Thickness: 0.50000"));

        script.answerCancel();
        action(window, "action_Decimal_Places")->trigger();
        QCOMPARE(window.decimalPlaces(), 5);
    }

    void allDigits_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.1") << double(0.1f) << "0.1";
        QTest::newRow("0.1 as a double") << 0.1 << "0.1";
        QTest::newRow("3.6") << double(3.6f) << "3.6";
        QTest::newRow("a third") << double(1.0f / 3.0f) << "0.33333334";
        QTest::newRow("integer") << 100.0 << "100";
        QTest::newRow("negative") << -2.0 << "-2";
        QTest::newRow("small") << double(1e-7f) << "0.0000001";
        QTest::newRow("2^24") << 16777216.0 << "16777216";
        QTest::newRow("largest float") << double(std::numeric_limits<float>::max())
                                       << "340282346638528859811704183484516925440";
    }
    void allDigits()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(DecimalFormat::number(value, -1), text);
    }

    void allDigitsReadBack()
    {
        // Every float of a spread of magnitudes comes back from its text unchanged.
        float value = 1.0e-6f;
        for (int i = 0; i < 2000; ++i) {
            value *= 1.0137f;
            for (float v : {value, -value}) {
                const QString text = DecimalFormat::number(v, -1);
                QVERIFY2(!text.contains('e'), qPrintable(text));
                QCOMPARE(text.toFloat(), v);
                // And no digit could be dropped.
                const int point = text.indexOf('.');
                if (point >= 0 && text.size() > point + 2)
                    QVERIFY2(text.left(text.size() - 1).toFloat() != v, qPrintable(text));
            }
        }
        QCOMPARE(DecimalFormat::number(1.0 / 3.0, 4), QStringLiteral("0.3333"));
        QCOMPARE(DecimalFormat::number(2.0, 0), QStringLiteral("2"));
    }

    void allDigitsInTheStatusBarAndRuler()
    {
        QSettings().setValue("MainWindow/DecimalPlaces", -1);
        DialogScript script;
        MainWindow window;
        window.openFile(three);
        emit view(window)->mouseMove(QPointF(0.1, 2.5));
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("Slice: 1 / 3    X: 0.1  Y: 2.5  Z: 1  Thickness: 0.5"));

        action(window, "action_Ruler")->setChecked(true);
        emit view(window)->mouseClicked(Qt::LeftButton, QPointF(0.1, 0));
        emit view(window)->mouseClicked(Qt::LeftButton, QPointF(3.1, 4));
        QCOMPARE(statusRight(window)->text(), QStringLiteral("Distance: 5 P1(0.1, 0) P2(3.1, 4)"));
    }

    // --- Layout, overlay, view port -------------------------------------------------------

    void resetRestoresTheBuiltLayout()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QToolBar *zoom = part<QToolBar>(window, "zoomToolBar");
        QToolBar *file = part<QToolBar>(window, "fileToolBar");
        const Qt::ToolBarArea area = window.toolBarArea(zoom);
        window.addToolBar(area == Qt::LeftToolBarArea ? Qt::RightToolBarArea : Qt::LeftToolBarArea, zoom);
        file->hide();
        QVERIFY(window.toolBarArea(zoom) != area);

        action(window, "action_Reset")->trigger();
        QCOMPARE(window.toolBarArea(zoom), area);
        QVERIFY(file->isVisible());
    }

    void overlayActions()
    {
        MainWindow window;
        QAction *clear = action(window, "action_Clear_Overlay");
        QVERIFY(!clear->isEnabled());
        // Also without a file: the grabbed overlay is empty, and clearing it is offered.
        action(window, "action_Grab_or_Replace_Overlay")->trigger();
        QVERIFY(clear->isEnabled());
        clear->trigger();
        QVERIFY(!clear->isEnabled());
    }

    void openGLToggledTwice()
    {
        MainWindow window;
        SliceView *v = view(window);
        QPointer<QWidget> first = v->viewport();
        QAction *openGL = action(window, "action_Enable_OpenGL");
        openGL->trigger();
        // The action tells what the view got: OpenGL only where a context can be made.
        QCOMPARE(openGL->isChecked(), v->isOpenGLEnabled());
        QCOMPARE(bool(qobject_cast<QOpenGLWidget *>(v->viewport())), v->isOpenGLEnabled());
        // Without OpenGL here the action fell back to off, with a fresh plain view port already.
        if (openGL->isChecked())
            openGL->trigger();
        deleteLaterNow();
        QWidget *port = v->viewport();
        QVERIFY(port != first.data());
        QVERIFY(first.isNull());
        QVERIFY(!qobject_cast<QOpenGLWidget *>(port));
        QVERIFY(port->testAttribute(Qt::WA_MouseTracking));
        QVERIFY(!openGL->isChecked());
    }

    // --- Clipboard ------------------------------------------------------------------------

    void copyToClipboard()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_Show_Grid")->setChecked(false);
        action(window, "action_Enable_Animations")->setChecked(false);
        window.resize(640, 480);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.openFile(three);
        QCoreApplication::processEvents();

        QApplication::clipboard()->clear();
        action(window, "action_Copy_to_Clipboard")->trigger();
        const QImage image = QApplication::clipboard()->image();
        QCOMPARE(image.size(), view(window)->contentsRect().size());
        QVERIFY(image.width() > 100 && image.height() > 100);
        // White where the view paints nothing, the slice's fill in the middle.
        QCOMPARE(image.pixel(0, 0), qRgb(255, 255, 255));
        QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), qRgb(255, 255, 255));
        QVERIFY(image.pixel(image.width() / 2, image.height() / 2) != qRgb(255, 255, 255));
    }

    void copyToClipboardWithoutFile()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::clipboard()->clear();
        action(window, "action_Copy_to_Clipboard")->trigger();
        const QImage image = QApplication::clipboard()->image();
        QCOMPARE(image.size(), view(window)->contentsRect().size());
        QVERIFY(!image.isNull());
    }

    // --- Information windows --------------------------------------------------------------

    void licenseWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The About box's link reaches the window through the URL handler of its scheme.
        QVERIFY(QDesktopServices::openUrl(QUrl("license:")));
        QList<LicenseDialog *> dialogs = window.findChildren<LicenseDialog *>();
        QCOMPARE(dialogs.size(), 1);
        QPointer<LicenseDialog> dialog = dialogs.first();
        QCOMPARE(dialog->parentWidget(), &window);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        dialog->reject();
        deleteLaterNow();
        QVERIFY(dialog.isNull());
    }

    void licenseWindowAboveAModalOne()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QDialog about(&window);
        about.setWindowModality(Qt::ApplicationModal);
        about.show();
        QCOMPARE(QApplication::activeModalWidget(), &about);
        QMetaObject::invokeMethod(&window, "viewLicense", Q_ARG(QUrl, QUrl("license:")));
        QList<LicenseDialog *> dialogs = about.findChildren<LicenseDialog *>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible());
        dialogs.first()->reject();
        about.hide();
        deleteLaterNow();
        QVERIFY(about.findChildren<LicenseDialog *>().isEmpty());
    }

    void changelogWindow()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        action(window, "action_Changelog")->trigger();
        action(window, "action_Changelog")->trigger();
        const QList<ChangelogDialog *> dialogs = window.findChildren<ChangelogDialog *>();
        QCOMPARE(dialogs.size(), 2);
        QPointer<ChangelogDialog> first = dialogs.first();
        QCOMPARE(first->windowModality(), Qt::WindowModal);
        QVERIFY(first->isVisible());
        first->accept();
        deleteLaterNow();
        QVERIFY(first.isNull());
        QCOMPARE(window.findChildren<ChangelogDialog *>().size(), 1);
    }
};

QTEST_MAIN(TestMainWindowOptions)
#include "tst_mainwindow_options.moc"
