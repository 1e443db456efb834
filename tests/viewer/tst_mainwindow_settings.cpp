#include "mainwindowfixture.h"

#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QToolBar>

using namespace fixture;

class TestMainWindowSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setUpApplication();
        takeCommandLine();
    }
    void init() { QSettings().clear(); }

    void defaults()
    {
        MainWindow window;
        QCOMPARE(window.decimalPlaces(), 3);
        QCOMPARE(playTimer(window)->interval(), 50);
        QVERIFY(view(window)->animationsEnabled());
        QVERIFY(action(window, "action_Enable_Animations")->isChecked());
        QVERIFY(!action(window, "action_Enable_OpenGL")->isChecked());
        QCOMPARE(view(window)->gridInterval(), 1.0);
        QVERIFY(view(window)->isGridVisible());
        QVERIFY(action(window, "action_Show_Grid")->isChecked());
        QVERIFY(view(window)->showVertices());
        QVERIFY(action(window, "action_Show_Vertices")->isChecked());
    }

    void restored()
    {
        QSettings settings;
        settings.setValue("MainWindow/DecimalPlaces", 5);
        settings.setValue("MainWindow/PlayFramesPerSecond", 7);
        settings.setValue("SliceView/Animations", false);
        settings.setValue("SliceView/GridSize", 2.5);
        settings.setValue("SliceView/GridEnabled", false);
        settings.setValue("SliceView/Vertices", false);
        settings.sync();

        MainWindow window;
        QCOMPARE(window.decimalPlaces(), 5);
        QCOMPARE(playTimer(window)->interval(), 142);
        QVERIFY(!view(window)->animationsEnabled());
        QVERIFY(!action(window, "action_Enable_Animations")->isChecked());
        QCOMPARE(view(window)->gridInterval(), 2.5);
        QVERIFY(!view(window)->isGridVisible());
        QVERIFY(!action(window, "action_Show_Grid")->isChecked());
        QVERIFY(!view(window)->showVertices());
        QVERIFY(!action(window, "action_Show_Vertices")->isChecked());
    }

    void clamped_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<double>("expected");
        QTest::newRow("decimals above") << "MainWindow/DecimalPlaces" << QVariant(99) << 15.0;
        QTest::newRow("decimals below") << "MainWindow/DecimalPlaces" << QVariant(-7) << -1.0;
        QTest::newRow("decimals garbage") << "MainWindow/DecimalPlaces" << QVariant("many") << 3.0;
        QTest::newRow("fps zero") << "MainWindow/PlayFramesPerSecond" << QVariant(0) << 1000.0;
        QTest::newRow("fps negative") << "MainWindow/PlayFramesPerSecond" << QVariant(-20) << 1000.0;
        QTest::newRow("fps above") << "MainWindow/PlayFramesPerSecond" << QVariant(100000) << 4.0;
        QTest::newRow("fps garbage") << "MainWindow/PlayFramesPerSecond" << QVariant("fast") << 50.0;
        QTest::newRow("grid small") << "SliceView/GridSize" << QVariant(0.01) << 0.1;
        QTest::newRow("grid negative") << "SliceView/GridSize" << QVariant(-5.0) << 0.1;
        QTest::newRow("grid not a number") << "SliceView/GridSize" << QVariant("nan") << 1.0;
        QTest::newRow("grid infinite") << "SliceView/GridSize" << QVariant("inf") << 1.0;
    }
    void clamped()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(double, expected);
        QSettings().setValue(key, stored);
        MainWindow window;
        double actual = 0;
        if (key == QLatin1String("MainWindow/DecimalPlaces"))
            actual = window.decimalPlaces();
        else if (key == QLatin1String("MainWindow/PlayFramesPerSecond"))
            actual = playTimer(window)->interval();
        else
            actual = view(window)->gridInterval();
        QCOMPARE(actual, expected);
    }

    // Where no OpenGL context can be made the view keeps its plain view port; the action
    // never claims more than the view has.
    void openGLFollowsTheView()
    {
        QSettings().setValue("SliceView/OpenGL", true);
        MainWindow window;
        QCOMPARE(action(window, "action_Enable_OpenGL")->isChecked(), view(window)->isOpenGLEnabled());
    }

    void closeWritesAllKeys()
    {
        QSettings().setValue("MainWindow/DecimalPlaces", 6);
        {
            MainWindow window;
            view(window)->setGridInterval(4.0);
            view(window)->setGridVisible(false);
            view(window)->setShowVertices(false);
            view(window)->setAnimationsEnabled(false);
            QVERIFY(window.close());
        }
        QSettings settings;
        QCOMPARE(settings.value("MainWindow/DecimalPlaces").toInt(), 6);
        QVERIFY(!settings.value("MainWindow/WindowState").toByteArray().isEmpty());
        QCOMPARE(settings.value("SliceView/Animations").toBool(), false);
        QVERIFY(settings.contains("SliceView/OpenGL"));
        QCOMPARE(settings.value("SliceView/GridEnabled").toBool(), false);
        QCOMPARE(settings.value("SliceView/GridSize").toDouble(), 4.0);
        QCOMPARE(settings.value("SliceView/Vertices").toBool(), false);
    }

    void closeWithoutChangesWritesDefaults()
    {
        {
            MainWindow window;
            QVERIFY(window.close());
        }
        const QStringList keys = QSettings().allKeys();
        for (const char *key : {"MainWindow/DecimalPlaces", "MainWindow/WindowState", "SliceView/Animations",
                                "SliceView/OpenGL", "SliceView/GridEnabled", "SliceView/GridSize",
                                "SliceView/Vertices"})
            QVERIFY2(keys.contains(QLatin1String(key)), key);
        QCOMPARE(QSettings().value("SliceView/GridSize").toDouble(), 1.0);
    }

    void layoutRestoredNextTime()
    {
        {
            MainWindow window;
            part<QToolBar>(window, "sliceToolBar")->hide();
            QVERIFY(window.close());
        }
        MainWindow window;
        QVERIFY(part<QToolBar>(window, "sliceToolBar")->isHidden());
        QVERIFY(!part<QToolBar>(window, "zoomToolBar")->isHidden());
    }

    void aboutBox()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_About")->trigger();
        QCOMPARE(script.asked.size(), 1);
        const Asked &asked = script.asked.at(0);
        QCOMPARE(asked.kind, ModalDialogs::Exec);
        QCOMPARE(asked.title, QStringLiteral("About Nurat Quarne"));
        QCOMPARE(asked.text, QStringLiteral("<h3>Quarne 1.0.9</h3><p>A viewer for Slice (SLC) files.</p>"));
        const QString info = asked.informativeText;
        QVERIFY2(info.startsWith(QLatin1String("<p>Built on ")), qPrintable(info));
        QVERIFY2(info.contains(QString(" (%1-bit).</p>").arg(QT_POINTER_SIZE * 8)), qPrintable(info));
        QVERIFY2(info.contains(QLatin1String("2019 Nurat.")), qPrintable(info));
        QVERIFY2(info.contains(QLatin1String("<a href=\"https://nurat.com/\">nurat.com</a>")), qPrintable(info));
        QVERIFY2(info.contains(QLatin1String("<a href=\"license:\">View License Terms</a>")), qPrintable(info));
        QVERIFY(!info.contains(QLatin1Char('%')));
        // The box does not outlive its question.
        QCoreApplication::processEvents();
        QVERIFY(window.findChildren<QMessageBox *>().isEmpty());
    }

    void aboutBoxKeepsPercentSignsOfNames()
    {
        const QString organisation = QCoreApplication::organizationName();
        QCoreApplication::setOrganizationName(QStringLiteral("N%2rat"));
        DialogScript script;
        MainWindow window;
        action(window, "action_About")->trigger();
        QCoreApplication::setOrganizationName(organisation);
        QCOMPARE(script.asked.size(), 1);
        QVERIFY2(script.asked.at(0).informativeText.contains(QLatin1String("2019 N%2rat.")),
                 qPrintable(script.asked.at(0).informativeText));
    }

    // Our own texts say what the program does: the licence carries the About box's copyright
    // years, and the changelog sends the user to the licence terms where they are.
    void changelogAndLicenceAgreeWithTheProgram()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_About")->trigger();
        QCOMPARE(script.asked.size(), 1);
        const QString about = script.asked.at(0).informativeText;
        const QRegularExpression copyright(QStringLiteral("Copyright (?:&copy;|\\(C\\)) ([0-9][0-9 -]*[0-9])"));
        const QRegularExpressionMatch aboutYears = copyright.match(about);
        QVERIFY2(aboutYears.hasMatch(), qPrintable(about));

        QFile licence(QStringLiteral(":/resources/licenses/License.txt"));
        QVERIFY(licence.open(QIODevice::ReadOnly));
        const QRegularExpressionMatch licenceYears = copyright.match(QString::fromUtf8(licence.readAll()));
        QVERIFY(licenceYears.hasMatch());
        QCOMPARE(licenceYears.captured(1), aboutYears.captured(1));

        QFile changelog(QStringLiteral(":/changelog.txt"));
        QVERIFY(changelog.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(changelog.readAll()).split(QLatin1Char('\n'));
        const QStringList licenceLines = lines.filter(QStringLiteral("Licence terms"));
        QCOMPARE(licenceLines.size(), 1);
        // The Help menu has no licence command; the About box's link opens the terms.
        for (const QAction *entry : part<QMenu>(window, "menu_Help")->actions())
            QVERIFY2(!entry->text().contains(QStringLiteral("Licen"), Qt::CaseInsensitive), qPrintable(entry->text()));
        QVERIFY(about.contains(QStringLiteral("<a href=\"license:\">View License Terms</a>")));
        QVERIFY2(licenceLines.first().contains(QStringLiteral("About box")), qPrintable(licenceLines.first()));
    }
};

QTEST_MAIN(TestMainWindowSettings)
#include "tst_mainwindow_settings.moc"
