#include "reportdialog.h"

#include <QDir>
#include <QEvent>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QtTest>

namespace {

// Stands in for the file manager: explore links must reach it with the exact local path.
QStringList exploredPaths;

bool recordExplore(const QString &path)
{
    exploredPaths.append(path);
    return true;
}

// An explore link as the main window writes it: the file URL of the path under another scheme,
// percent-encoded, and HTML-escaped for the attribute.
QString exploreHref(const QString &path)
{
    QUrl url = QUrl::fromLocalFile(path);
    url.setScheme(QStringLiteral("explore"));
    return url.toString(QUrl::FullyEncoded).toHtmlEscaped();
}

} // namespace

// Links in a report are commands for the window that made it; the browser must never
// navigate away from the report when one is clicked.
class TestReportDialog : public QObject
{
    Q_OBJECT

private:
    // Clicks the middle of the first occurrence of text in the browser, as a user would.
    static bool clickText(QTextBrowser *browser, const QString &text)
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
    void initTestCase()
    {
        ReportDialog::setExploreHandler(recordExplore);
    }

    void cleanupTestCase()
    {
        ReportDialog::setExploreHandler(nullptr);
    }

    void init()
    {
        exploredPaths.clear();
    }

    void create()
    {
        QWidget parent;
        ReportDialog *dialog = ReportDialog::create(&parent, "Check Slices", "<p>No problems found.</p>");
        QCOMPARE(dialog->parent(), &parent);
        QCOMPARE(dialog->windowTitle(), QString("Check Slices"));
        QVERIFY(!dialog->isVisible());
        QVERIFY(!dialog->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));

        QTextBrowser *browser = dialog->findChild<QTextBrowser *>();
        QVERIFY(browser);
        // The report comes first and the time stamp closes it.
        const QString text = browser->toPlainText();
        QVERIFY2(text.startsWith("No problems found."), qPrintable(text));
        const int stamp = text.indexOf("Report generated ");
        QVERIFY(stamp > 0);
        QVERIFY(!text.mid(stamp + 17).trimmed().isEmpty());
        QVERIFY(!text.mid(stamp).contains('\n'));
    }

    // A report whose first line carries no tag would be shown as plain text, markup and all,
    // if the window let the browser guess the format.
    void reportIsAlwaysHtml()
    {
        const QString html = "Check of part.slc\n<p>Slice <b>3</b> is empty &amp; skipped.</p>";
        QVERIFY(!Qt::mightBeRichText(html));

        QWidget parent;
        ReportDialog *dialog = ReportDialog::create(&parent, "Check Slices", html);
        const QString text = dialog->findChild<QTextBrowser *>()->toPlainText();
        QVERIFY2(text.contains("Slice 3 is empty & skipped."), qPrintable(text));
        QVERIFY2(!text.contains("<b>") && !text.contains("<div"), qPrintable(text));
    }

    void titleSurvivesLanguageChange()
    {
        QWidget parent;
        ReportDialog *dialog = ReportDialog::create(&parent, "Information", "<p>Part</p>");
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(dialog, &change);
        QCOMPARE(dialog->windowTitle(), QString("Information"));
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
        ReportDialog *dialog = ReportDialog::create(
            &parent, "Information", QString("<p>Empty: <a href=\"%1\">the link</a> in the report.</p>").arg(href));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTextBrowser *browser = dialog->findChild<QTextBrowser *>();
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
        QVERIFY(exploredPaths.isEmpty());
        QVERIFY(browser->source().isEmpty());
        QCOMPARE(browser->toHtml(), before);
        QVERIFY(dialog->isVisible());
    }

    void exploreLinks_data()
    {
        QTest::addColumn<QString>("path");

        const QString temp = QDir::tempPath();
        QTest::newRow("plain") << temp + "/part.slc";
        QTest::newRow("hash") << temp + "/part #1.slc";
        QTest::newRow("question mark") << temp + "/what?.slc";
        QTest::newRow("percent") << temp + "/100%.slc";
        QTest::newRow("percent sequences stay literal") << temp + "/%41%2F.slc";
        QTest::newRow("blanks") << temp + "/two  blanks /part .slc";
        QTest::newRow("ampersand and semicolon") << temp + "/a&b;c=d.slc";
        QTest::newRow("non-ASCII") << temp + QString::fromUtf8("/Größe/部品 ü.slc");
        QTest::newRow("folder") << temp;
    }

    void exploreLinks()
    {
        QFETCH(QString, path);

        QWidget parent;
        ReportDialog *dialog = ReportDialog::create(
            &parent, "Information",
            QString("<table><tr><td>File:</td><td><a href=\"%1\">the file</a></td></tr></table>")
                .arg(exploreHref(path)));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTextBrowser *browser = dialog->findChild<QTextBrowser *>();
        QSignalSpy clicked(dialog, SIGNAL(sliceClicked(int)));

        QVERIFY(clickText(browser, "the file"));
        QCOMPARE(exploredPaths, QStringList{path});
        QCOMPARE(clicked.count(), 0);
        QVERIFY(browser->source().isEmpty());
    }
};

QTEST_MAIN(TestReportDialog)
#include "tst_reportdialog.moc"
