#include "changelogdialog.h"
#include "changelogsyntaxhighlighter.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGridLayout>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCodec>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QtTest>

namespace {

// One letter per character of the line: 'v' version colour, 'b' blue, 'g' dark green, 'r' red,
// 'k' black, '.' uncoloured.
QString colours(const QTextBlock &block)
{
    QString letters(block.length() - 1, QLatin1Char('.'));
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        QChar letter = QLatin1Char('?');
        if (range.format.hasProperty(QTextFormat::ForegroundBrush)) {
            const QColor colour = range.format.foreground().color();
            if (colour == QColor(128, 0, 0, 255))
                letter = QLatin1Char('v');
            else if (colour == QColor(Qt::blue))
                letter = QLatin1Char('b');
            else if (colour == QColor(Qt::darkGreen))
                letter = QLatin1Char('g');
            else if (colour == QColor(Qt::red))
                letter = QLatin1Char('r');
            else if (colour == QColor(Qt::black))
                letter = QLatin1Char('k');
        } else {
            letter = QLatin1Char('.');
        }
        for (int i = range.start; i < range.start + range.length && i < letters.size(); ++i)
            letters[i] = letter;
    }
    return letters;
}

QString sourceChangelog()
{
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/../../resources/changelog.txt";
}

QString repeated(char letter, int count)
{
    return QString(count, QLatin1Char(letter));
}

} // namespace

class TestChangelogDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qApp->setProperty("FullApplicationName", "Nurat Quarne");
    }

    void highlighting_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");

        QTest::newRow("version") << "1.0.9:" << "vvvvvv";
        QTest::newRow("version of several digits") << "10.20.300:" << repeated('v', 10);
        QTest::newRow("blank after the colon") << "1.0.9: " << ".......";
        QTest::newRow("text after the colon") << "1.0.9: x" << "........";
        QTest::newRow("no colon") << "1.0.9" << ".....";
        QTest::newRow("two numbers") << "1.0:" << "....";
        QTest::newRow("prefix") << "v1.0.9:" << ".......";
        QTest::newRow("item") << "  * Fixed." << "ggggbbbbbb";
        QTest::newRow("bullet alone") << "  * " << "gggg";
        QTest::newRow("no blank after the asterisk") << "  *x" << "....";
        QTest::newRow("one blank before the asterisk") << " * x" << "....";
        QTest::newRow("three blanks before the asterisk") << "   * x" << "......";
        QTest::newRow("second bullet in an item") << "  * a  * b" << "ggggbbbbbb";
        QTest::newRow("sign-off") << " -- Nurat  2024-05-14" << "kkkk" + repeated('r', 17);
        QTest::newRow("dashes alone") << " -- " << "kkkk";
        QTest::newRow("two blanks before the dashes") << "  -- x" << "......";
        QTest::newRow("no blank before the dashes") << "-- x" << "....";
        QTest::newRow("plain text") << "Nothing" << ".......";
        QTest::newRow("empty") << "" << "";
    }

    void highlighting()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QTextEdit edit;
        auto *highlighter = new ChangelogSyntaxHighlighter(&edit);
        QCOMPARE(highlighter->parent(), &edit);
        QCOMPARE(highlighter->document(), edit.document());

        edit.setPlainText(line);
        QCOMPARE(colours(edit.document()->firstBlock()), expected);
    }

    void dialogShowsTheFile()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString text = QString::fromUtf8("1.0.1:\n\n  * \u00dcber alles.\n\n -- Nurat  2021-04-22\n");
        QFile file(directory.filePath("changelog.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        QWidget parent;

        ChangelogDialog dialog(file.fileName(), &parent);

        QCOMPARE(dialog.parentWidget(), &parent);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(dialog.windowTitle(), QString("Changelog - Nurat Quarne"));
        QCOMPARE(dialog.minimumSize(), QSize(640, 500));
        auto *edit = dialog.findChild<QTextEdit *>();
        QVERIFY(edit);
        auto *layout = qobject_cast<QGridLayout *>(dialog.layout());
        QVERIFY(layout);
        QVERIFY(layout->indexOf(edit) >= 0);
        QCOMPARE(edit->toPlainText(), text);
        QVERIFY(edit->isReadOnly());
        QCOMPARE(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(edit->font().family(), QString("Courier"));
        QCOMPARE(edit->font().pointSize(), 8);
        QCOMPARE(edit->font().styleHint(), QFont::TypeWriter);
        if (QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).fixedPitch())
            QVERIFY(QFontInfo(edit->font()).fixedPitch());

        // Coloured as it was loaded.
        const QTextDocument *document = edit->document();
        QCOMPARE(colours(document->findBlockByNumber(0)), QString("vvvvvv"));
        QCOMPARE(colours(document->findBlockByNumber(2)), "gggg" + repeated('b', 11));
        QCOMPARE(colours(document->findBlockByNumber(4)), "kkkk" + repeated('r', 17));
    }

    void missingHistoryGivesAnEmptyWindow()
    {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        ChangelogDialog dialog(directory.filePath("missing.txt"), nullptr);
        auto *edit = dialog.findChild<QTextEdit *>();
        QVERIFY(edit);
        QVERIFY(edit->toPlainText().isEmpty());
        QVERIFY(edit->isReadOnly());
        QCOMPARE(dialog.windowTitle(), QString("Changelog - Nurat Quarne"));
    }

    // The history we ship keeps the layout the colours are made for: every line that is not
    // blank is coloured from its first character to its last, and the versions run from the
    // newest down to 1.0.0, each with its items and a dated sign-off.
    void shippedChangelog()
    {
        QFile file(sourceChangelog());
        if (!file.exists())
            QSKIP("the source tree is not at hand");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray contents = file.readAll();
        QTextCodec::ConverterState state;
        const QString text = QTextCodec::codecForName("UTF-8")->toUnicode(contents.constData(), contents.size(), &state);
        QCOMPARE(state.invalidChars, 0);

        QTextEdit edit;
        new ChangelogSyntaxHighlighter(&edit);
        edit.setPlainText(text);
        QStringList versions;
        QString expecting = "version";
        int items = 0;
        const QRegularExpression signOff("^ -- \\S.*  \\d{4}-\\d{2}-\\d{2}$");
        for (QTextBlock block = edit.document()->begin(); block.isValid(); block = block.next()) {
            const QString line = block.text();
            if (line.isEmpty())
                continue;
            const QString letters = colours(block);
            QVERIFY2(!letters.contains('.'), qPrintable(line));
            if (letters.startsWith('v')) {
                QCOMPARE(expecting, QString("version"));
                versions.append(line.chopped(1));
                expecting = "item";
                items = 0;
            } else if (letters.startsWith('g')) {
                QVERIFY2(expecting == "item" || expecting == "item or sign-off", qPrintable(line));
                expecting = "item or sign-off";
                ++items;
            } else {
                QVERIFY2(letters.startsWith('k'), qPrintable(line));
                QVERIFY2(expecting == "item or sign-off" && items > 0, qPrintable(line));
                QVERIFY2(signOff.match(line).hasMatch(), qPrintable(line));
                expecting = "version";
            }
        }
        QCOMPARE(expecting, QString("version"));
        QCOMPARE(versions, QStringList({"1.0.9", "1.0.8", "1.0.7", "1.0.6", "1.0.5", "1.0.4", "1.0.3", "1.0.2",
                                        "1.0.1", "1.0.0"}));
    }
};

QTEST_MAIN(TestChangelogDialog)
#include "tst_changelogdialog.moc"
