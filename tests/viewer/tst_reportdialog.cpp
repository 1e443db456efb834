#include "reportdialog.h"

#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

// Links in a report are commands for the window that made it; the browser must never
// navigate away from the report when one is clicked.
class TestReportDialog : public QObject
{
    Q_OBJECT

private:
    // Clicks the middle of the first occurrence of text in the browser, as a user would.
    static bool clickText(QTextBrowser* browser, const QString& text)
    {
        const QTextCursor found = browser->document()->find(text);
        if (found.isNull())
            return false;
        QTextCursor middle(browser->document());
        middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
        const QPoint point = browser->cursorRect(middle).center();
        QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, point);
        return true;
    }

private slots:
    void create()
    {
        QWidget parent;
        ReportDialog* dialog = ReportDialog::create(&parent, "Check Slices", "<p>No problems found.</p>");
        QCOMPARE(dialog->parent(), &parent);
        QCOMPARE(dialog->windowTitle(), QString("Check Slices"));
        QVERIFY(!dialog->isVisible());
        QVERIFY(!dialog->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));

        QTextBrowser* browser = dialog->findChild<QTextBrowser*>();
        QVERIFY(browser);
        // The report comes first and the time stamp closes it.
        const QString text = browser->toPlainText();
        QVERIFY2(text.startsWith("No problems found."), qPrintable(text));
        const int stamp = text.indexOf("Report generated ");
        QVERIFY(stamp > 0);
        QVERIFY(!text.mid(stamp + 17).trimmed().isEmpty());
        QVERIFY(!text.mid(stamp).contains('\n'));
    }

    void links_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<int>("slice");   // -1: no sliceClicked

        QTest::newRow("slice 12") << "slice:///12" << 12;
        QTest::newRow("slice 1") << "slice:///1" << 1;
        QTest::newRow("leading zeros") << "slice:///0012" << 12;
        QTest::newRow("not a number") << "slice:///abc" << 0;
        QTest::newRow("web address") << "https://example.org/slice/4" << -1;
        QTest::newRow("file") << "file:///tmp/part.slc" << -1;
        QTest::newRow("relative") << "other.html" << -1;
    }

    void links()
    {
        QFETCH(QString, href);
        QFETCH(int, slice);

        QWidget parent;
        ReportDialog* dialog = ReportDialog::create(
            &parent, "Information", QString("<p>Empty: <a href=\"%1\">the link</a> in the report.</p>").arg(href));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTextBrowser* browser = dialog->findChild<QTextBrowser*>();
        QVERIFY(browser);
        const QString before = browser->toHtml();

        QSignalSpy clicked(dialog, SIGNAL(sliceClicked(int)));
        QVERIFY(clickText(browser, "the link"));
        if (slice < 0) {
            QCOMPARE(clicked.count(), 0);
        } else {
            QCOMPARE(clicked.count(), 1);
            QCOMPARE(clicked.first().first().toInt(), slice);
        }
        QVERIFY(browser->source().isEmpty());
        QCOMPARE(browser->toHtml(), before);
        QVERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TestReportDialog)
#include "tst_reportdialog.moc"
