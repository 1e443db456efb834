#include "licensedialog.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCodec>
#include <QTextDocument>
#include <QtTest>

namespace {

using Licenses = QList<QPair<QString, QByteArray>>;

bool writeLicenses(const QString &directory, const Licenses &licenses)
{
    for (const auto &license : licenses) {
        QFile file(directory + '/' + license.first);
        if (!file.open(QIODevice::WriteOnly) || file.write(license.second) != license.second.size())
            return false;
    }
    return true;
}

// Every link of the page in text order, as "text -> target".
QStringList links(const QTextBrowser *browser)
{
    QStringList found;
    QString lastHref;
    bool previousWasLink = false;
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            const bool isLink = format.isAnchor();
            if (isLink && previousWasLink && format.anchorHref() == lastHref)
                found.last().insert(found.last().indexOf(" -> "), fragment.fragment().text());
            else if (isLink)
                found.append(fragment.fragment().text() + " -> " + format.anchorHref());
            previousWasLink = isLink;
            lastHref = format.anchorHref();
        }
        previousWasLink = false;
    }
    return found;
}

QComboBox *comboBox(QDialog *dialog)
{
    return dialog->findChild<QComboBox *>("comboBox");
}

QStackedWidget *stack(QDialog *dialog)
{
    return dialog->findChild<QStackedWidget *>("stackedWidget");
}

QTextBrowser *page(QDialog *dialog, int index)
{
    return qobject_cast<QTextBrowser *>(stack(dialog)->widget(index));
}

QTextBrowser *pageOf(QDialog *dialog, const QString &name)
{
    return page(dialog, comboBox(dialog)->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

QString sourceLicenses()
{
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../../resources/licenses";
}

} // namespace

class TestLicenseDialog : public QObject
{
    Q_OBJECT

public slots:
    void webLinkOpened(const QUrl &url)
    {
        openedUrls.append(url);
    }

private:
    QList<QUrl> openedUrls;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qApp->setProperty("FullApplicationName", "Nurat Quarne");
        QDesktopServices::setUrlHandler("http", this, "webLinkOpened");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("http");
    }

    void init()
    {
        openedUrls.clear();
    }

    void links_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("shownText");
        QTest::addColumn<QStringList>("links");

        QTest::newRow("longer name first")
            << QByteArray("See LICENSE.GPL.exception and LICENSE.GPL.") << "See LICENSE.GPL.exception and LICENSE.GPL."
            << QStringList{"LICENSE.GPL.exception -> license:///LICENSE.GPL.exception", "LICENSE.GPL -> license:///LICENSE.GPL"};
        QTest::newRow("longer name ending in a shorter one")
            << QByteArray("See OLD.LICENSE.GPL.") << "See OLD.LICENSE.GPL."
            << QStringList{"OLD.LICENSE.GPL -> license:///OLD.LICENSE.GPL"};
        QTest::newRow("name inside a web address")
            << QByteArray("Terms: http://example.org/LICENSE.GPL here") << "Terms: http://example.org/LICENSE.GPL here"
            << QStringList{"http://example.org/LICENSE.GPL -> http://example.org/LICENSE.GPL"};
        QTest::newRow("other letter case")
            << QByteArray("see license.gpl.EXCEPTION, or License.Gpl") << "see LICENSE.GPL.exception, or LICENSE.GPL"
            << QStringList{"LICENSE.GPL.exception -> license:///LICENSE.GPL.exception", "LICENSE.GPL -> license:///LICENSE.GPL"};
        QTest::newRow("every mention")
            << QByteArray("LICENSE.GPL, LICENSE.GPL") << "LICENSE.GPL, LICENSE.GPL"
            << QStringList{"LICENSE.GPL -> license:///LICENSE.GPL", "LICENSE.GPL -> license:///LICENSE.GPL"};
        QTest::newRow("own name") << QByteArray("This is License.txt") << "This is License.txt"
                                  << QStringList{"License.txt -> license:///License.txt"};
        QTest::newRow("full stop and comma")
            << QByteArray("Go to http://example.org/a. Or http://example.org/b, then")
            << "Go to http://example.org/a. Or http://example.org/b, then"
            << QStringList{"http://example.org/a -> http://example.org/a", "http://example.org/b -> http://example.org/b"};
        QTest::newRow("quotation marks") << QByteArray("\"http://example.org/q\"") << "\"http://example.org/q\""
                                         << QStringList{"http://example.org/q -> http://example.org/q"};
        QTest::newRow("markup characters") << QByteArray("http://example.org/?a=1&b=<2>") << "http://example.org/?a=1&b=<2>"
                                           << QStringList{"http://example.org/?a=1&b=<2> -> http://example.org/?a=1&b=<2>"};
        QTest::newRow("https is not linked") << QByteArray("https://example.org/x") << "https://example.org/x" << QStringList{};
        QTest::newRow("scheme in capitals is not linked") << QByteArray("HTTP://example.org/x") << "HTTP://example.org/x"
                                                          << QStringList{};
        QTest::newRow("several lines")
            << QByteArray("One\nhttp://example.org/x\n  LICENSE.GPL\n") << "One\nhttp://example.org/x\n  LICENSE.GPL\n"
            << QStringList{"http://example.org/x -> http://example.org/x", "LICENSE.GPL -> license:///LICENSE.GPL"};
        QTest::newRow("no mention") << QByteArray("Nothing here.") << "Nothing here." << QStringList{};
    }

    void links()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, shownText);
        QFETCH(QStringList, links);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeLicenses(directory.path(), {{"License.txt", text},
                                                 {"LICENSE.GPL", "The GPL."},
                                                 {"LICENSE.GPL.exception", "An exception."},
                                                 {"OLD.LICENSE.GPL", "An older GPL."}}));

        LicenseDialog dialog(directory.path(), nullptr);
        QTextBrowser *browser = pageOf(&dialog, "License.txt");
        QVERIFY(browser);
        QCOMPARE(browser->toPlainText(), shownText);
        QCOMPARE(::links(browser), links);
    }

    // However the directory lists its files, the program's own terms are the first page, and
    // each page shows the file its combo box item names.
    void programLicenseComesFirst()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        Licenses licenses{{"License.txt", "Our own terms."}};
        QVERIFY(writeLicenses(directory.path(), licenses));
        for (int i = 0; i < 50; ++i) {
            QDirIterator listing(directory.path(), QDir::Files);
            if (listing.hasNext() && QFileInfo(listing.next()).fileName() != "License.txt")
                break;
            const Licenses more{{QString("LICENSE.Other%1").arg(i), QString("Other %1.").arg(i).toUtf8()}};
            QVERIFY(writeLicenses(directory.path(), more));
            licenses += more;
        }
        QDirIterator listing(directory.path(), QDir::Files);
        QVERIFY(listing.hasNext());
        QVERIFY2(QFileInfo(listing.next()).fileName() != "License.txt", "the fixture did not reorder the listing");

        LicenseDialog dialog(directory.path(), nullptr);
        QComboBox *box = comboBox(&dialog);
        QCOMPARE(box->count(), licenses.size());
        QCOMPARE(stack(&dialog)->count(), licenses.size());
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(box->itemText(0), QString("License.txt"));
        QCOMPARE(stack(&dialog)->currentIndex(), 0);
        for (const auto &license : licenses) {
            const int index = box->findText(license.first, Qt::MatchExactly | Qt::MatchCaseSensitive);
            QVERIFY2(index >= 0, qPrintable(license.first));
            QCOMPARE(page(&dialog, index)->toPlainText(), QString::fromUtf8(license.second));
        }
    }

    void linksSwitchPagesOrOpenTheBrowser()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeLicenses(directory.path(), {{"License.txt", "See LICENSE.GPL."}, {"LICENSE.GPL", "The GPL."}}));
        LicenseDialog dialog(directory.path(), nullptr);
        QComboBox *box = comboBox(&dialog);
        QTextBrowser *first = page(&dialog, 0);
        const int gpl = box->findText("LICENSE.GPL");

        emit first->anchorClicked(QUrl("license:///LICENSE.GPL"));
        QCOMPARE(box->currentIndex(), gpl);
        QCOMPARE(stack(&dialog)->currentIndex(), gpl);

        // Names are compared exactly, and a name no page has changes nothing.
        emit first->anchorClicked(QUrl("license:///License.TXT"));
        emit first->anchorClicked(QUrl("license:///LICENSE.Missing"));
        QCOMPARE(box->currentIndex(), gpl);

        emit page(&dialog, gpl)->anchorClicked(QUrl("license:///License.txt"));
        QCOMPARE(box->currentIndex(), 0);
        QCOMPARE(stack(&dialog)->currentIndex(), 0);

        emit first->anchorClicked(QUrl("http://example.org/terms"));
        QCOMPARE(openedUrls, QList<QUrl>{QUrl("http://example.org/terms")});
        QCOMPARE(box->currentIndex(), 0);
        // The browser itself never follows a link.
        QVERIFY(first->source().isEmpty());
    }

    void window()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        QVERIFY(writeLicenses(directory.path(), {{"License.txt", QByteArray("Terms\n") + QByteArray(400, 'x')},
                                                 {"LICENSE.GPL", "The GPL."}}));
        QWidget parent;
        LicenseDialog dialog(directory.path(), &parent);

        QCOMPARE(dialog.parentWidget(), &parent);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(dialog.windowTitle(), QString("Nurat Quarne - License Terms"));
        QCOMPARE(dialog.minimumSize(), QSize(640, 500));
        QVERIFY(dialog.findChild<QDialogButtonBox *>("buttonBox")->isHidden());
        for (int i = 0; i < stack(&dialog)->count(); ++i) {
            QTextBrowser *browser = page(&dialog, i);
            QVERIFY(browser);
            QVERIFY(browser->isReadOnly());
            QVERIFY(!browser->openLinks());
            QCOMPARE(browser->wordWrapMode(), QTextOption::NoWrap);
            QCOMPARE(browser->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QCOMPARE(browser->textCursor().position(), 0);
            QCOMPARE(browser->font().family(), QString("Courier"));
            QCOMPARE(browser->font().pointSize(), 8);
            QCOMPARE(browser->font().styleHint(), QFont::TypeWriter);
            // Whatever font stands in for Courier here is a fixed-pitch one, if the system has any.
            if (QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).fixedPitch())
                QVERIFY(QFontInfo(browser->font()).fixedPitch());
        }

        qApp->setProperty("FullApplicationName", "Nurat Quarne 2");
        QEvent languageChange(QEvent::LanguageChange);
        QCoreApplication::sendEvent(&dialog, &languageChange);
        qApp->setProperty("FullApplicationName", "Nurat Quarne");
        QCOMPARE(dialog.windowTitle(), QString("Nurat Quarne 2 - License Terms"));
    }

    void emptyDirectory()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        LicenseDialog dialog(directory.path(), nullptr);
        QCOMPARE(comboBox(&dialog)->count(), 0);
        QCOMPARE(stack(&dialog)->count(), 0);
    }

    // The texts we ship: the six files, readable as UTF-8, and our own terms name every other
    // one, so that each is reached by a link from the first page.
    void shippedLicenses()
    {
        if (!QFileInfo(sourceLicenses()).isDir())
            QSKIP("the source tree is not at hand");
        QStringList shipped = QDir(sourceLicenses()).entryList(QDir::Files);
        shipped.sort();
        QCOMPARE(shipped, QStringList({"LGPL_EXCEPTION.txt", "LICENSE.LGPL", "LICENSE.OpenSSL", "LICENSE.SGI-B",
                                       "LICENSE.SSLeay", "License.txt"}));
        for (const QString &name : qAsConst(shipped)) {
            QFile file(sourceLicenses() + '/' + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray contents = file.readAll();
            QVERIFY2(contents.size() > 200, qPrintable(name));
            QTextCodec::ConverterState state;
            QTextCodec::codecForName("UTF-8")->toUnicode(contents.constData(), contents.size(), &state);
            QVERIFY2(state.invalidChars == 0, qPrintable(name));
        }

        LicenseDialog dialog(sourceLicenses(), nullptr);
        QCOMPARE(comboBox(&dialog)->itemText(0), QString("License.txt"));
        QStringList targets;
        for (const QString &link : ::links(page(&dialog, 0)))
            targets.append(link.section(" -> ", 1));
        for (const QString &name : qAsConst(shipped))
            QVERIFY2(name == "License.txt" || targets.contains("license:///" + name), qPrintable(name));
    }
};

QTEST_MAIN(TestLicenseDialog)
#include "tst_licensedialog.moc"
