#ifndef CHANGELOGSYNTAXHIGHLIGHTER_H
#define CHANGELOGSYNTAXHIGHLIGHTER_H

#include <QColor>
#include <QList>
#include <QRegExp>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

class QTextEdit;

// Colours the change history line by line: version lines ("1.0.9:"), item lines ("  * ...")
// with their bullet, and sign-off lines (" -- ...") with their dashes. Every pattern is anchored
// at the start of the line, so each colours a line at most once; later rules paint over
// earlier ones.
class ChangelogSyntaxHighlighter : public QSyntaxHighlighter
{
public:
    struct Rule {
        QRegExp pattern;
        QTextCharFormat format;
    };

    // Attaches itself to the edit's document as a child of the edit.
    explicit ChangelogSyntaxHighlighter(QTextEdit *parent);
    ~ChangelogSyntaxHighlighter() override;

    void addRule(const QRegExp &pattern, const QTextCharFormat &format);
    void addRule(const QRegExp &pattern, const QColor &color);

protected:
    void highlightBlock(const QString &text) override;

private:
    QList<Rule> rules;
};

#endif // CHANGELOGSYNTAXHIGHLIGHTER_H
