#include "filesizelimit.h"
#include "mainwindowfixture.h"

#include "slcreader.h"

#include <QDir>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

using namespace fixture;

namespace {

QList<Slice> readSlc(const QString &path)
{
    QFile file(path);
    SlcReader reader(&file);
    return reader.readSlices(false, -1);
}

} // namespace

class TestMainWindowSave : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
    }
    void init() { QSettings().clear(); }

    void saveAsWritesTheViewsSlices()
    {
        const QString source = dir.filePath("source.slc");
        // Written out of height order: the view orders them, and the saved file follows the view.
        QList<Slice> list = slices(12);
        list.swapItemsAt(0, 5);
        QVERIFY(writeSlc(source, list));
        const QString target = dir.filePath("saved %1.slc");

        DialogScript script;
        script.answerFile(target);
        MainWindow window;
        window.openFile(source);
        action(window, "action_Save_As")->trigger();

        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::SaveFileName);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Save As"));
        QCOMPARE(script.asked.at(0).directory, source);
        QCOMPARE(script.asked.at(0).filter, QStringLiteral("Slice files (*.slc)"));

        const QList<Slice> saved = readSlc(target);
        const QList<Slice> &shown = view(window)->slices();
        QCOMPARE(saved.size(), shown.size());
        for (int i = 0; i < saved.size(); ++i) {
            QCOMPARE(saved.at(i).z(), shown.at(i).z());
            QCOMPARE(saved.at(i).thickness(), shown.at(i).thickness());
            QCOMPARE(saved.at(i).contourAt(0).points(), shown.at(i).contourAt(0).points());
        }
        QCOMPARE(window.windowTitle(), QStringLiteral("saved %1.slc - Nurat Quarne (SLC Viewer)"));
        QCOMPARE(recentFiles(), (QStringList{target, source}));
        QCOMPARE(QSettings().value("MainWindow/LastSaveDirectory").toString(), dir.path());
        QCOMPARE(watcher(window)->files(), QStringList{target});

        // The next Save As starts where the last one saved.
        script.answerCancel();
        action(window, "action_Save_As")->trigger();
        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).directory, dir.path());
    }

    void failedSaveKeepsEverything_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("diskFull");
        // Bytes short of the complete file when the disk fills up.
        QTest::addColumn<int>("missing");
        // The system's reason, on the message's second line.
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing directory") << "no such directory/part.slc" << false << 0 << systemReason(ENOENT);
        QTest::newRow("directory") << "a directory.slc" << false << 0 << "Filename refers to a directory";
        QTest::newRow("disk full") << "existing.slc" << true << 1500 << systemReason(EFBIG);
        QTest::newRow("disk full at the end marker") << "existing.slc" << true << 4 << systemReason(EFBIG);
    }
    void failedSaveKeepsEverything()
    {
        QFETCH(QString, target);
        QFETCH(bool, diskFull);
        QFETCH(int, missing);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("a directory.slc"));
        const QString source = dir.filePath("big.slc");
        QVERIFY(writeSlc(source, slices(40)));
        const QString path = dir.filePath(target);
        const QByteArray old("the user's old file");
        if (diskFull)
            QVERIFY(writeBytes(path, old));

        DialogScript script;
        script.answerFile(path);
        MainWindow window;
        window.openFile(source);
        const QStringList recent = recentFiles();
        {
            FileSizeLimit limit(diskFull ? rlim_t(QFileInfo(source).size() - missing) : RLIM_INFINITY);
            QVERIFY(limit.active);
            action(window, "action_Save_As")->trigger();
        }

        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(1).title, QStringLiteral("Save As"));
        QCOMPARE(script.asked.at(1).text, "Cannot write to file " + QDir::toNativeSeparators(path) + ".\n" + reason);
        if (diskFull)
            QCOMPARE(readBytes(path), old);
        QCOMPARE(window.windowTitle(), QStringLiteral("big.slc - Nurat Quarne (SLC Viewer)"));
        QCOMPARE(recentFiles(), recent);
        QVERIFY(!QSettings().contains("MainWindow/LastSaveDirectory"));
        QCOMPARE(watcher(window)->files(), QStringList{source});
        // No temporary file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), diskFull ? 2 : 1);
    }

    void nothingToSave()
    {
        const QString target = dir.filePath("never.slc");
        DialogScript script;
        script.answerFile(target);
        MainWindow window;
        action(window, "action_Save_As")->trigger();
        window.saveFile(target);
        QCOMPARE(script.asked.size(), 2);
        for (const Asked &asked : qAsConst(script.asked)) {
            QCOMPARE(asked.kind, ModalDialogs::Information);
            QCOMPARE(asked.title, QStringLiteral("Save As"));
            QCOMPARE(asked.text, QStringLiteral("No slices to save."));
        }
        QVERIFY(!QFile::exists(target));
        QVERIFY(recentFiles().isEmpty());
    }

    // As Export does, Save As gives a name typed without the suffix the suffix of its format,
    // and asks about replacing the file of that name, which the file dialog did not.
    void saveAsAddsTheSuffix_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer");
        QTest::newRow("bare name") << "bare" << "bare.slc" << false << 0;
        QTest::newRow("other suffix") << "part.txt" << "part.txt.slc" << false << 0;
        QTest::newRow("suffix in capitals") << "PART.SLC" << "PART.SLC" << false << 0;
        QTest::newRow("replace") << "bare" << "bare.slc" << true << int(QMessageBox::Yes);
        QTest::newRow("keep") << "bare" << "bare.slc" << true << int(QMessageBox::No);
    }
    void saveAsAddsTheSuffix()
    {
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QTemporaryDir out;
        const QString source = out.filePath("source.slc");
        QVERIFY(writeSlc(source, slices(3)));
        const QString path = out.filePath(saved);
        const QByteArray old("the user's old file");
        if (exists)
            QVERIFY(writeBytes(path, old));

        DialogScript script;
        script.answerFile(out.filePath(typed));
        if (exists)
            script.answerButton(QMessageBox::StandardButton(answer));
        MainWindow window;
        window.openFile(source);
        action(window, "action_Save_As")->trigger();

        QCOMPARE(script.asked.size(), exists ? 2 : 1);
        if (exists) {
            QCOMPARE(script.asked.at(1).kind, ModalDialogs::Warning);
            QCOMPARE(script.asked.at(1).title, QStringLiteral("Save As"));
            QCOMPARE(script.asked.at(1).text,
                     QDir::toNativeSeparators(path) + QStringLiteral(" already exists.\nDo you want to replace it?"));
            QCOMPARE(script.asked.at(1).buttons, QMessageBox::Yes | QMessageBox::No);
        }
        const bool written = !exists || answer == QMessageBox::Yes;
        if (written)
            QCOMPARE(readSlc(path).size(), 3);
        else
            QCOMPARE(readBytes(path), old);
        QCOMPARE(window.windowTitle(), (written ? saved : QStringLiteral("source.slc")) + " - Nurat Quarne (SLC Viewer)");
        if (typed != saved)
            QVERIFY(!QFileInfo::exists(out.filePath(typed)));
    }

    void cancelledSaveAs()
    {
        const QString source = dir.filePath("kept.slc");
        QVERIFY(writeSlc(source, slices(2)));
        DialogScript script;
        script.answerCancel();
        MainWindow window;
        window.openFile(source);
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);
        action(window, "action_Save_As")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        QCOMPARE(window.windowTitle(), QStringLiteral("kept.slc - Nurat Quarne (SLC Viewer)"));
    }
};

QTEST_MAIN(TestMainWindowSave)
#include "tst_mainwindow_save.moc"
