#include "mainwindowfixture.h"

#include <QMenuBar>
#include <QSignalSpy>
#include <QToolBar>

using namespace fixture;

namespace {

QStringList entryNames(const QList<QAction *> &actions)
{
    QStringList names;
    for (QAction *a : actions)
        names.append(a->isSeparator() ? QStringLiteral("-") : a->objectName());
    return names;
}

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setUpApplication();
        takeCommandLine();
    }
    void init() { QSettings().clear(); }

    void actionsInOrder()
    {
        MainWindow window;
        const QList<QAction *> actions = window.findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly);
        const QStringList expected{
            "action_Open", "action_Exit", "action_About_Qt", "action_Zoom_In", "action_Zoom_Out", "action_Export",
            "action_Zoom_to_All", "action_About", "action_Check_Slices", "action_Copy_to_Clipboard",
            "action_Go_to_Slice", "action_Go_to_Slice_Z", "action_Grab_or_Replace_Overlay", "action_Clear_Overlay",
            "action_Save", "action_Save_As", "action_Show_Grid", "action_Grid_Interval", "action_Decimal_Places",
            "action_Run_Through_Slices", "action_Run_Back_Slices", "action_Play_Frames_Per_Second", "action_News",
            "action_Ruler", "action_Close", "action_Reset", "action_Export_STL", "action_Enable_Animations",
            "action_Show_Vertices", "action_Export_Images", "action_Information", "action_Enable_OpenGL",
            "action_Changelog"};
        QCOMPARE(entryNames(actions), expected);
    }

    void initialStates()
    {
        MainWindow window;
        const QStringList disabled{"action_Go_to_Slice", "action_Go_to_Slice_Z", "action_Clear_Overlay",
                                   "action_Save", "action_Grid_Interval", "action_Run_Through_Slices",
                                   "action_Run_Back_Slices", "action_Close"};
        const QStringList checkedOn{"action_Show_Grid", "action_Enable_Animations", "action_Show_Vertices"};
        const QStringList checkableOff{"action_Run_Through_Slices", "action_Run_Back_Slices", "action_Ruler",
                                       "action_Enable_OpenGL"};
        const QList<QAction *> actions = window.findChildren<QAction *>(QString(), Qt::FindDirectChildrenOnly);
        for (QAction *a : actions) {
            const QString name = a->objectName();
            QVERIFY2(a->isEnabled() == !disabled.contains(name), qPrintable(name));
            QVERIFY2(a->isCheckable() == (checkedOn.contains(name) || checkableOff.contains(name)), qPrintable(name));
            QVERIFY2(a->isChecked() == checkedOn.contains(name), qPrintable(name));
        }
        QCOMPARE(window.windowTitle(), QStringLiteral("Nurat Quarne (SLC Viewer)"));
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window.contextMenuPolicy(), Qt::NoContextMenu);
        QVERIFY(slider(window)->isHidden());
        QCOMPARE(slider(window)->orientation(), Qt::Horizontal);
        QVERIFY(statusRight(window)->isHidden());
        QCOMPARE(playTimer(window)->interval(), 50);
    }

    void textsAndShortcuts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<QString>("shortcut");
        QTest::newRow("open") << "action_Open" << "&Open..." << "Open an SLC file" << "Ctrl+O";
        QTest::newRow("about") << "action_About" << "&About" << "About this application" << "F1";
        QTest::newRow("slice z") << "action_Go_to_Slice_Z" << "Go to Slice &Z..."
                                 << "Go to the slice with the closest specified Z" << "Ctrl+Z";
        QTest::newRow("clear overlay") << "action_Clear_Overlay" << "&Clear Overlay" << "Clear the overlay"
                                       << "Ctrl+Shift+L";
        QTest::newRow("close") << "action_Close" << "Close" << "" << "Ctrl+W";
        QTest::newRow("fps") << "action_Play_Frames_Per_Second" << "Play &Frames Per Second..." << "" << "";
        QTest::newRow("news") << "action_News" << "News Button"
                              << "Show the latest news or announcements from Nurat" << "";
    }
    void textsAndShortcuts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, statusTip);
        QFETCH(QString, shortcut);
        MainWindow window;
        QAction *a = action(window, qPrintable(name));
        QCOMPARE(a->text(), text);
        QCOMPARE(a->statusTip(), statusTip);
        QCOMPARE(a->shortcut(), QKeySequence(shortcut));
    }

    void menus()
    {
        MainWindow window;
        QCOMPARE(part<QMenu>(window, "menu_Edit")->title(), QStringLiteral("&Slice"));
        const QStringList bar = entryNames(window.menuBar()->actions());
        QCOMPARE(bar.size(), 6);
        QStringList titles;
        for (QAction *a : window.menuBar()->actions())
            titles.append(a->text());
        QCOMPARE(titles, (QStringList{"&File", "&Slice", "&Tools", "&Options", "&View", "&Help"}));

        QCOMPARE(entryNames(part<QMenu>(window, "menu_Edit")->actions()),
                 (QStringList{"action_Copy_to_Clipboard", "action_Export", "action_Go_to_Slice", "action_Go_to_Slice_Z"}));
        QCOMPARE(entryNames(part<QMenu>(window, "menu_Tools")->actions()),
                 (QStringList{"action_Information", "action_Check_Slices", "action_Run_Back_Slices",
                              "action_Run_Through_Slices", "-", "action_Grab_or_Replace_Overlay",
                              "action_Clear_Overlay", "-", "action_Show_Grid", "action_Show_Vertices"}));
        QCOMPARE(entryNames(part<QMenu>(window, "menu_Options")->actions()),
                 (QStringList{"action_Decimal_Places", "action_Grid_Interval", "action_Play_Frames_Per_Second", "-",
                              "action_Enable_Animations", "action_Enable_OpenGL"}));
        QCOMPARE(entryNames(part<QMenu>(window, "menu_Help")->actions()),
                 (QStringList{"action_Changelog", "-", "action_About", "action_About_Qt"}));

        // The five recent-file entries stand between the export commands and Exit, set off by
        // a separator from Exit, and stay hidden until there is something to show.
        const QList<QAction *> file = part<QMenu>(window, "menu_File")->actions();
        QStringList fileNames = entryNames(file);
        QCOMPARE(fileNames.mid(0, 9),
                 (QStringList{"action_Open", "action_Close", "-", "action_Save", "action_Save_As", "-",
                              "action_Export_Images", "action_Export_STL", "-"}));
        QCOMPARE(fileNames.mid(9), (QStringList{"", "", "", "", "", "-", "action_Exit"}));
        for (int i = 9; i < 14; ++i)
            QVERIFY(!file.at(i)->isVisible());
    }

    void viewMenuHoldsToolBarToggles()
    {
        MainWindow window;
        const QList<QAction *> entries = part<QMenu>(window, "menu_View")->actions();
        QStringList tips;
        QList<QAction *> toggles;
        for (QAction *a : entries) {
            if (!a->isSeparator() && a->objectName() != QLatin1String("action_Reset")) {
                tips.append(a->statusTip());
                toggles.append(a);
            }
        }
        QCOMPARE(tips, (QStringList{"Toggle File toolbar", "Toggle Slice toolbar", "Toggle Tools toolbar",
                                    "Toggle Zoom toolbar", "Toggle News toolbar"}));
        QVERIFY(toggles.at(0)->isVisible());
        QVERIFY(!toggles.at(4)->isVisible());
        QCOMPARE(entries.last()->objectName(), QStringLiteral("action_Reset"));
        QVERIFY(entries.at(entries.size() - 2)->isSeparator());
    }

    void toolBars()
    {
        MainWindow window;
        QCOMPARE(entryNames(part<QToolBar>(window, "fileToolBar")->actions()),
                 (QStringList{"action_Open", "action_Save", "action_Export_STL"}));
        QCOMPARE(entryNames(part<QToolBar>(window, "sliceToolBar")->actions()),
                 (QStringList{"action_Copy_to_Clipboard", "action_Export"}));
        QCOMPARE(entryNames(part<QToolBar>(window, "toolsToolBar")->actions()),
                 (QStringList{"action_Information", "action_Check_Slices", "action_Run_Back_Slices",
                              "action_Run_Through_Slices", "-", "action_Show_Grid", "action_Show_Vertices",
                              "action_Ruler"}));
        QCOMPARE(entryNames(part<QToolBar>(window, "zoomToolBar")->actions()),
                 (QStringList{"action_Zoom_In", "action_Zoom_Out", "action_Zoom_to_All"}));
        QToolBar *news = part<QToolBar>(window, "newsToolBar");
        QCOMPARE(entryNames(news->actions()), QStringList{"action_News"});
        QVERIFY(!news->isMovable());
        QVERIFY(!news->isFloatable());
        QCOMPARE(news->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(news->iconSize(), QSize(164, 16));
        QCOMPARE(part<QToolBar>(window, "zoomToolBar")->iconSize(), QSize(16, 16));
    }

    // Tool-bar buttons get a rich tip: the action's own picture, its text without mnemonic and
    // ellipsis, and its status tip.
    void richToolTips()
    {
        MainWindow window;
        const QString open = action(window, "action_Open")->toolTip();
        QVERIFY2(open.contains(QLatin1String("<img src=\":/resources/images/open.png\" /> <b>Open</b>"
                                             "<br />Open an SLC file</body></html>")),
                 qPrintable(open));
        QVERIFY(open.startsWith(QLatin1String("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\"")));
        const QString stl = action(window, "action_Export_STL")->toolTip();
        QVERIFY2(stl.contains(QLatin1String("<img src=\":/resources/images/export_model.png\" /> <b>Export STL</b>")),
                 qPrintable(stl));
        // The wide branding logo is no square picture, so the news button's tip has none.
        const QString news = action(window, "action_News")->toolTip();
        QVERIFY2(news.contains(QLatin1String("<body><b>News Button</b>")), qPrintable(news));
        // Menu-only actions keep the toolkit's plain tip.
        QCOMPARE(action(window, "action_Go_to_Slice")->toolTip(), QStringLiteral("Go to Slice"));
    }

    void ctrlZIsGoToSliceZ()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("part.slc");
        QVERIFY(writeSlc(path, slices(3)));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy goToZ(action(window, "action_Go_to_Slice_Z"), SIGNAL(triggered(bool)));
        QTest::keyClick(&window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(goToZ.count(), 1);
    }
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindow_form.moc"
