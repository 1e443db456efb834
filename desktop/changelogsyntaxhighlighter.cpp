#include "changelogsyntaxhighlighter.h"

#include <QBrush>
#include <QTextEdit>

ChangelogSyntaxHighlighter::ChangelogSyntaxHighlighter(QTextEdit *parent)
    : QSyntaxHighlighter(static_cast<QObject *>(parent))
{
    const auto pattern = [](const char *text) {
        return QRegExp(QString::fromLatin1(text), Qt::CaseSensitive, QRegExp::RegExp);
    };
    addRule(pattern("^[0-9]+\\.[0-9]+\\.[0-9]+:$"), QColor(128, 0, 0, 255));
    addRule(pattern("^  \\* .*$"), QColor(Qt::blue));
    addRule(pattern("^  \\* "), QColor(Qt::darkGreen));
    addRule(pattern("^ -- .*$"), QColor(Qt::red));
    addRule(pattern("^ -- "), QColor(Qt::black));
}

ChangelogSyntaxHighlighter::~ChangelogSyntaxHighlighter() = default;

void ChangelogSyntaxHighlighter::addRule(const QRegExp &pattern, const QTextCharFormat &format)
{
    rules.append(Rule{pattern, format});
}

void ChangelogSyntaxHighlighter::addRule(const QRegExp &pattern, const QColor &color)
{
    QTextCharFormat format;
    format.setForeground(QBrush(color, Qt::SolidPattern));
    addRule(pattern, format);
}

void ChangelogSyntaxHighlighter::highlightBlock(const QString &text)
{
    for (const Rule &rule : qAsConst(rules)) {
        // The caret stands for position 0 of the line only, however far the search has gone.
        int index = rule.pattern.indexIn(text, 0, QRegExp::CaretAtZero);
        while (index >= 0) {
            const int length = rule.pattern.matchedLength();
            if (length < 1)
                break;
            setFormat(index, length, rule.format);
            index = rule.pattern.indexIn(text, index + length, QRegExp::CaretAtZero);
        }
    }
}
