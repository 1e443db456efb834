#include "mainwindowfixture.h"

#include "reportdialog.h"
#include "slicereports.h"

#include <QDir>
#include <QPointer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <limits>

using namespace fixture;

Q_DECLARE_METATYPE(Contour)
Q_DECLARE_METATYPE(Slice)

namespace {

// An axis-parallel rectangle, counter-clockwise (material) or clockwise (a hole).
Contour rectangle(float x, float y, float w, float h, bool hole = false)
{
    QVector<geom::Point2Df> points{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}};
    if (hole)
        std::reverse(points.begin(), points.end());
    return Contour(points);
}

Slice layer(float z, const QVector<Contour> &contours, float thickness = 0.1f)
{
    Slice slice(z, thickness);
    for (const Contour &contour : contours)
        slice.addContour(contour);
    return slice;
}

const Contour twoVertices(QVector<geom::Point2Df>{{1, 1}, {4, 2}});
const Contour oneVertex(QVector<geom::Point2Df>{{2, 2}});

// Slice 2 is empty (and so missing between two filled ones), slices 4 and 5 have contours of
// fewer than 3 vertices, slice 7 has lost most of its area and a contour against both
// neighbours.
QList<Slice> defectiveSlices()
{
    return {
        layer(0.1f, {rectangle(0, 0, 10, 10)}),
        layer(0.2f, {}),
        layer(0.3f, {rectangle(0, 0, 10, 10)}),
        layer(0.4f, {rectangle(0, 0, 10, 10), twoVertices}),
        layer(0.5f, {rectangle(0, 0, 10, 10), twoVertices, oneVertex}),
        layer(0.6f, {rectangle(0, 0, 10, 10), rectangle(20, 0, 5, 5)}),
        layer(0.7f, {rectangle(0, 0, 3, 3)}),
        layer(0.8f, {rectangle(0, 0, 10, 10), rectangle(20, 0, 5, 5)}),
    };
}

const QString defectiveReport = QStringLiteral(
    "<h3>Check Slices</h3>"
    "<h4>Empty Slices</h4><p>There are 1 empty slices.</p>"
    "<p>Slice: <a href=\"slice:///2\">2 / 8</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 0.200</p>"
    "<h4>Slices With Invalid Contours</h4><p>There are 2 slices with invalid contours (contours containing less "
    "than 3 vertices).</p>"
    "<p>Slice: <a href=\"slice:///4\">4 / 8 (1 invalid contours)</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 0.400<br/>"
    "Slice: <a href=\"slice:///5\">5 / 8 (2 invalid contours)</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 0.500</p>"
    "<h4>Potentionally Missing Contours</h4><p>There are 2 slices with potentially missing contours.</p>"
    "<p>Slice: <a href=\"slice:///2\">2 / 8</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 0.200<br/>"
    "Slice: <a href=\"slice:///7\">7 / 8</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 0.700</p>");

ReportDialog *lastReport(const MainWindow &window)
{
    const QList<ReportDialog *> reports = window.findChildren<ReportDialog *>();
    return reports.isEmpty() ? nullptr : reports.last();
}

QString reportText(ReportDialog *report)
{
    QTextBrowser *browser = report->findChild<QTextBrowser *>();
    return browser ? browser->toPlainText() : QString();
}

bool sameIcon(const QIcon &a, const QString &path)
{
    return !a.isNull() && a.pixmap(32).toImage() == QIcon(path).pixmap(32).toImage();
}

// Clicks the middle of the first occurrence of text in the report, as a user would.
bool clickText(ReportDialog *report, const QString &text)
{
    QTextBrowser *browser = report->findChild<QTextBrowser *>();
    if (!browser)
        return false;
    const QTextCursor found = browser->document()->find(text);
    if (found.isNull())
        return false;
    QTextCursor middle(browser->document());
    middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, browser->cursorRect(middle).center());
    return true;
}

QString table(const QStringList &rows)
{
    return QLatin1String("<table>") + rows.join(QString()) + QLatin1String("</table>");
}

QString runRow(int first, int last, const QString &thickness)
{
    return QStringLiteral("<tr><td align=\"right\"><a href=\"slice:///%1\">%1</a> to <a href=\"slice:///%2\">%2</a>:"
                          "&nbsp;&nbsp;</td><td>%3</td></tr>")
        .arg(first)
        .arg(last)
        .arg(thickness);
}

// The thickness section of an information report.
QString thicknessSection(const QString &html)
{
    const int start = html.indexOf(QLatin1String("<h4>Slice Thickness Ranges</h4>"));
    return start < 0 ? QString() : html.mid(start + 31);
}

} // namespace

class TestMainWindowReports : public QObject
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

    // --- Check Slices ---------------------------------------------------------------------

    void checkSlicesSections()
    {
        QCOMPARE(SliceReports::checkSlices(defectiveSlices(), 3), defectiveReport);
    }

    void checkSlicesWithoutFindings_data()
    {
        QTest::addColumn<QList<Slice>>("slices");
        QTest::newRow("one slice") << QList<Slice>{layer(1, {rectangle(0, 0, 2, 2)})};
        // The missing-contour test needs two neighbours; a lone empty slice is only empty.
        QTest::newRow("clean stack") << QList<Slice>{layer(1, {rectangle(0, 0, 2, 2), rectangle(5, 5, 1, 1)}),
                                                     layer(2, {rectangle(0, 0, 2, 2), rectangle(5, 5, 1, 1)}),
                                                     layer(3, {rectangle(0, 0, 2, 2), rectangle(5, 5, 1, 1)})};
    }
    void checkSlicesWithoutFindings()
    {
        QFETCH(QList<Slice>, slices);
        QCOMPARE(SliceReports::checkSlices(slices, 3),
                 QStringLiteral("<h3>Check Slices</h3><p>No errors were found.</p>"));
    }

    void checkSlicesEmptyOnlyInShortStacks()
    {
        const QList<Slice> two{layer(1, {rectangle(0, 0, 2, 2)}), layer(2, {})};
        QCOMPARE(SliceReports::checkSlices(two, 1),
                 QStringLiteral("<h3>Check Slices</h3><h4>Empty Slices</h4><p>There are 1 empty slices.</p>"
                                "<p>Slice: <a href=\"slice:///2\">2 / 2</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 2.0</p>"));
    }

    void potentiallyMissing_data()
    {
        QTest::addColumn<QVector<Contour>>("previous");
        QTest::addColumn<QVector<Contour>>("middle");
        QTest::addColumn<QVector<Contour>>("next");
        QTest::addColumn<bool>("listed");

        const QVector<Contour> halves{rectangle(0, 0, 5, 10), rectangle(10, 0, 5, 10)}; // area 100
        QTest::newRow("same area, fewer contours") << halves << QVector<Contour>{rectangle(0, 0, 10, 10)} << halves
                                                   << false;
        QTest::newRow("exactly a tenth less") << halves << QVector<Contour>{rectangle(0, 0, 9, 10)} << halves
                                              << false;
        QTest::newRow("more than a tenth less") << halves << QVector<Contour>{rectangle(0, 0, 8.9f, 10)} << halves
                                                << true;
        QTest::newRow("above the average") << halves << QVector<Contour>{rectangle(0, 0, 12, 10)} << halves << false;
        QTest::newRow("as many contours as one neighbour")
            << halves << QVector<Contour>{rectangle(0, 0, 1, 1), rectangle(5, 5, 1, 1)}
            << QVector<Contour>{rectangle(0, 0, 5, 10), rectangle(10, 0, 5, 10), rectangle(20, 0, 1, 1)} << false;
        // Material and holes cancel out: average 0, and an empty middle slice is not below it.
        const QVector<Contour> cancelled{rectangle(0, 0, 10, 10), rectangle(2, 2, 5, 20, true)};
        QTest::newRow("average 0, middle 0") << cancelled << QVector<Contour>{} << cancelled << false;
        const QVector<Contour> holes{rectangle(0, 0, 5, 10, true), rectangle(10, 0, 5, 10, true)}; // area -100
        QTest::newRow("negative average, middle above")
            << holes << QVector<Contour>{rectangle(0, 0, 1, 10, true)} << holes << false;
        QTest::newRow("negative average, middle below")
            << holes << QVector<Contour>{rectangle(0, 0, 15, 10, true)} << holes << true;
    }
    void potentiallyMissing()
    {
        QFETCH(QVector<Contour>, previous);
        QFETCH(QVector<Contour>, middle);
        QFETCH(QVector<Contour>, next);
        QFETCH(bool, listed);

        const QString html = SliceReports::checkSlices({layer(1, previous), layer(2, middle), layer(3, next)}, 3);
        const QString section = QStringLiteral(
            "<h4>Potentionally Missing Contours</h4><p>There are 1 slices with potentially missing contours.</p>"
            "<p>Slice: <a href=\"slice:///2\">2 / 3</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: 2.000</p>");
        QCOMPARE(html.endsWith(section), listed);
        QCOMPARE(html.contains(QLatin1String("Missing")), listed);
    }

    void checkSlicesWindow()
    {
        const QString path = dir.filePath("defective.slc");
        QVERIFY(writeSlc(path, defectiveSlices()));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        QCOMPARE(view(window)->sliceCount(), 8);
        // The file gives back what was written: the window reports what the fixture holds.
        QCOMPARE(SliceReports::checkSlices(view(window)->slices(), 3), defectiveReport);

        action(window, "action_Check_Slices")->trigger();
        QCOMPARE(script.asked.size(), 0);
        ReportDialog *report = lastReport(window);
        QVERIFY(report);
        QCOMPARE(report->windowTitle(), QStringLiteral("Check Slices"));
        QVERIFY(report->isVisible());
        QVERIFY(!report->isModal());
        QVERIFY(report->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(sameIcon(report->windowIcon(), ":/resources/images/empty_slice.png"));
        const QString text = reportText(report);
        QVERIFY2(text.contains("Potentionally Missing Contours"), qPrintable(text));
        QVERIFY2(text.contains("Slice: 4 / 8 (1 invalid contours)    Z: 0.400"), qPrintable(text));
        QVERIFY(text.contains("Report generated "));

        QVERIFY(QTest::qWaitForWindowExposed(report));
        QVERIFY(clickText(report, "7 / 8"));
        QCOMPARE(slider(window)->value(), 7);
        QCOMPARE(view(window)->currentSlice(), 7);

        // A second run opens a second window and leaves the first alone.
        action(window, "action_Check_Slices")->trigger();
        QCOMPARE(window.findChildren<ReportDialog *>().size(), 2);
        report->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(window.findChildren<ReportDialog *>().size(), 1);
    }

    void checkSlicesWithoutSlices()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_Check_Slices")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Information);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Check Slices"));
        QCOMPARE(script.asked.at(0).text, QStringLiteral("No slices to check."));
        QVERIFY(!lastReport(window));
    }

    // A report speaks of the slices it was made from: once the window holds others, its links
    // must not move the slider to a slice of another part.
    void staleLinksDoNothing_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("other file") << "other";
        QTest::newRow("close") << "close";
        QTest::newRow("reload") << "reload";
        QTest::newRow("close and reopen") << "reopen";
    }
    void staleLinksDoNothing()
    {
        QFETCH(QString, change);
        const QString path = dir.filePath("stale.slc");
        const QString other = dir.filePath("stale other.slc");
        QVERIFY(writeSlc(path, slices(12)));
        QVERIFY(writeSlc(other, slices(10)));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        action(window, "action_Check_Slices")->trigger();
        QPointer<ReportDialog> report = lastReport(window);
        QVERIFY(report);

        if (change == "other") {
            window.openFile(other);
        } else if (change == "close") {
            action(window, "action_Close")->trigger();
        } else if (change == "reload") {
            QVERIFY(writeSlc(path, slices(9)));
            script.answerButton(QMessageBox::Yes);
            QMetaObject::invokeMethod(&window, "on_fileSystemWatcher_fileChanged", Q_ARG(QString, path));
            QCOMPARE(view(window)->sliceCount(), 9);
        } else {
            action(window, "action_Close")->trigger();
            window.openFile(path);
        }
        const int before = slider(window)->value();
        const int shown = view(window)->currentSlice();
        emit report->sliceClicked(5);
        QCOMPARE(slider(window)->value(), before);
        QCOMPARE(view(window)->currentSlice(), shown);

        // A report made now works again.
        if (view(window)->sliceCount() > 0) {
            action(window, "action_Check_Slices")->trigger();
            emit lastReport(window)->sliceClicked(5);
            QCOMPARE(view(window)->currentSlice(), 5);
        }
    }

    void linksOutsideTheStackDoNothing()
    {
        const QString path = dir.filePath("range.slc");
        QVERIFY(writeSlc(path, slices(6)));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        slider(window)->setValue(3);
        action(window, "action_Information")->trigger();
        ReportDialog *report = lastReport(window);
        QVERIFY(report);
        for (int slice : {0, -4, 7, 1000}) {
            emit report->sliceClicked(slice);
            QCOMPARE(view(window)->currentSlice(), 3);
        }
        emit report->sliceClicked(6);
        QCOMPARE(view(window)->currentSlice(), 6);
    }

    // --- Information ----------------------------------------------------------------------

    void informationPart()
    {
        // x from -5 to 20, y from 2 to 12.5; z from 1 to 1.3, thickness 0.1 throughout.
        const QList<Slice> list{layer(1.0f, {rectangle(-5, 2, 10, 10)}), layer(1.1f, {rectangle(0, 2, 20, 10.5f)}),
                                layer(1.2f, {rectangle(0, 2, 1, 1)}), layer(1.3f, {rectangle(0, 2, 1, 1)})};
        const QRectF bounds(-5, 2, 25, 10.5);
        const QString expected = QStringLiteral(
            "<style>h4 { margin-bottom: 0.2em; }p { margin-top: 0; }table, p { margin-left: 1em; }</style>"
            "<h3>Information</h3>"
            "<h4>Part Size</h4><p>Number of slices: 4</p>"
            "<table cellspacing=\"8\">"
            "<tr><td></td><td align=\"center\">Delta</td><td align=\"center\">Min</td>"
            "<td align=\"center\">Max</td></tr>"
            "<tr><td>X:</td><td align=\"center\">25.000</td><td align=\"center\">-5.000</td>"
            "<td align=\"center\">20.000</td></tr>"
            "<tr><td>Y:</td><td align=\"center\">10.500</td><td align=\"center\">2.000</td>"
            "<td align=\"center\">12.500</td></tr>"
            "<tr><td>Z:</td><td align=\"center\">0.300</td><td align=\"center\">1.000</td>"
            "<td align=\"center\">1.300</td></tr>"
            "</table>"
            "<h4>Slice Thickness Ranges</h4>")
            + table({runRow(1, 4, "0.100")});
        QCOMPARE(SliceReports::information(list, bounds, nullptr, 3), expected);
    }

    void informationWithoutExtent()
    {
        const QList<Slice> list{layer(1.0f, {}), layer(2.0f, {twoVertices})};
        const QString html = SliceReports::information(list, QRectF(), nullptr, 2);
        QVERIFY2(html.contains("<tr><td>X:</td><td align=\"center\">n/a</td><td align=\"center\">n/a</td>"
                               "<td align=\"center\">n/a</td></tr>"
                               "<tr><td>Y:</td><td align=\"center\">n/a</td><td align=\"center\">n/a</td>"
                               "<td align=\"center\">n/a</td></tr>"
                               "<tr><td>Z:</td><td align=\"center\">1.00</td><td align=\"center\">1.00</td>"
                               "<td align=\"center\">2.00</td></tr>"),
                 qPrintable(html));
        QVERIFY(!html.contains("e+38"));
    }

    void thicknessRuns_data()
    {
        QTest::addColumn<QList<float>>("thicknesses");
        QTest::addColumn<QString>("rows");
        QTest::newRow("one thickness") << QList<float>{0.1f, 0.1f, 0.1f, 0.1f, 0.1f} << table({runRow(1, 5, "0.100")});
        QTest::newRow("change and back")
            << QList<float>{0.1f, 0.1f, 0.2f, 0.1f}
            << table({runRow(1, 2, "0.100"), runRow(3, 3, "0.200"), runRow(4, 4, "0.100")});
        QTest::newRow("same micrometre") << QList<float>{0.1f, 0.1004f, 0.1f} << table({runRow(1, 3, "0.100")});
        QTest::newRow("next micrometre")
            << QList<float>{0.1f, 0.1006f} << table({runRow(1, 1, "0.100"), runRow(2, 2, "0.101")});
        QTest::newRow("the last slice counts")
            << QList<float>{0.05f, 0.05f, 0.25f} << table({runRow(1, 2, "0.050"), runRow(3, 3, "0.250")});
        QTest::newRow("one slice") << QList<float>{2.0f} << table({runRow(1, 1, "2.000")});
    }
    void thicknessRuns()
    {
        QFETCH(QList<float>, thicknesses);
        QFETCH(QString, rows);
        QList<Slice> list;
        for (int i = 0; i < thicknesses.size(); ++i)
            list.append(layer(float(i), {rectangle(0, 0, 1, 1)}, thicknesses.at(i)));
        QCOMPARE(thicknessSection(SliceReports::information(list, QRectF(0, 0, 1, 1), nullptr, 3)), rows);
    }

    void fileSize_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << "0.00 bytes";
        QTest::newRow("512") << qint64(512) << "512.00 bytes";
        QTest::newRow("1000") << qint64(1000) << "1000.00 bytes";
        QTest::newRow("1023") << qint64(1023) << "1023.00 bytes";
        QTest::newRow("1024") << qint64(1024) << "1.00 KB";
        QTest::newRow("1536") << qint64(1536) << "1.50 KB";
        QTest::newRow("1 MB") << qint64(1048576) << "1.00 MB";
        QTest::newRow("5 GB") << qint64(5) * 1024 * 1024 * 1024 << "5.00 GB";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "8.00 EB";
    }
    void fileSize()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SliceReports::fileSize(bytes), text);
    }

    void allDigitsReadBack()
    {
        const QList<Slice> list{layer(0.1f, {rectangle(0, 0, 1, 1)}, 0.1f), layer(0.2f, {rectangle(0, 0, 1, 1)}, 0.1f)};
        const QString html = SliceReports::information(list, QRectF(0, 0, 1.0 / 3.0, 1), nullptr, -1);
        // Six digits would read "0.100000"; every digit of the float is "0.1", of a third "0.33333334".
        QVERIFY2(html.contains("<td>Z:</td><td align=\"center\">0.1</td><td align=\"center\">0.1</td>"
                               "<td align=\"center\">0.2</td>"),
                 qPrintable(html));
        QVERIFY2(html.contains("<td>X:</td><td align=\"center\">0.33333334</td>"), qPrintable(html));
        QVERIFY(thicknessSection(html).contains("<td>0.1</td>"));
        QVERIFY(SliceReports::checkSlices({layer(0.1f, {}), layer(0.7f, {})}, -1).contains("Z: 0.7</p>"));
    }

    void fileSection()
    {
        // Characters that end or escape a URL path, HTML's own, a blank and non-ASCII ones.
        const QString name = QString::fromUtf8("part & co #1 ?50% <b>\"ü\".slc");
        const QString path = dir.filePath(name);
        QVERIFY(writeSlc(path, slices(3)));
        const QFileInfo file(path);
        const QString html = SliceReports::information(slices(3), QRectF(0, 0, 12, 12), &file, 3);

        const QString native = QDir::toNativeSeparators(file.absoluteFilePath());
        const QRegularExpression row(
            QStringLiteral("<tr><td>File:</td><td><a href=\"([^\"]*)\">([^<]*)</a></td></tr>"));
        const QRegularExpressionMatch match = row.match(html);
        QVERIFY2(match.hasMatch(), qPrintable(html));
        QCOMPARE(match.captured(2), native.toHtmlEscaped());

        // The report window reads the link back as a file URL.
        QTextDocument unescape;
        unescape.setHtml(match.captured(1));
        QUrl link(unescape.toPlainText());
        QCOMPARE(link.scheme(), QStringLiteral("explore"));
        link.setScheme(QStringLiteral("file"));
        QCOMPARE(link.toLocalFile(), file.absoluteFilePath());

        QVERIFY(html.contains(QStringLiteral("<tr><td>File size:</td><td>%1</td></tr>")
                                  .arg(SliceReports::fileSize(QFileInfo(path).size()))));
        QVERIFY(html.contains("<tr><td></td><td></td></tr><tr><td>Created:</td><td>"));
        QVERIFY(html.contains(QStringLiteral("<tr><td>Last modified:</td><td>%1</td></tr>")
                                  .arg(QLocale::system().toString(file.lastModified(), QLocale::LongFormat))));
        QVERIFY(html.contains("<tr><td>Last accessed:</td><td>"));
        QVERIFY(html.indexOf("<h4>File Information</h4><table>") < html.indexOf("<h4>Part Size</h4>"));
    }

    void informationWindow()
    {
        const QString path = dir.filePath("info.slc");
        QVERIFY(writeSlc(path, slices(5)));
        DialogScript script;
        MainWindow window;
        window.openFile(path);
        action(window, "action_Information")->trigger();
        QCOMPARE(script.asked.size(), 0);
        ReportDialog *report = lastReport(window);
        QVERIFY(report);
        QCOMPARE(report->windowTitle(), QStringLiteral("Information"));
        QCOMPARE(report->size(), QSize(480, 370));
        QVERIFY(report->isVisible());
        QVERIFY(report->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(sameIcon(report->windowIcon(), ":/resources/images/info.png"));
        const QString size = SliceReports::fileSize(QFileInfo(path).size());
        QString text = reportText(report);
        QVERIFY2(text.contains(size), qPrintable(text));
        QVERIFY(text.contains(QDir::toNativeSeparators(path)));
        QVERIFY(text.contains("Number of slices: 5"));
        QVERIFY(text.contains("1 to 5:"));

        // The file grew on disk: a new report tells its size now, not the one seen at opening.
        QVERIFY(writeSlc(path, slices(40)));
        const QString grown = SliceReports::fileSize(QFileInfo(path).size());
        QVERIFY(grown != size);
        action(window, "action_Information")->trigger();
        text = reportText(lastReport(window));
        QVERIFY2(text.contains(grown), qPrintable(text));
    }

    void informationWithoutSlices()
    {
        DialogScript script;
        MainWindow window;
        action(window, "action_Information")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::Information);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Information"));
        QCOMPARE(script.asked.at(0).text, QStringLiteral("No slices."));
        QVERIFY(!lastReport(window));
    }
};

QTEST_MAIN(TestMainWindowReports)
#include "tst_mainwindow_reports.moc"
