#ifndef NEWSDIALOG_H
#define NEWSDIALOG_H

#include <QDialog>

// The window for the maker's announcements. It makes no network access of its own yet, so
// there is never a page to show.
class NewsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NewsDialog(QWidget* parent = nullptr);
    ~NewsDialog() override;

    // The user's request to see the news.
    void showNews();
};

#endif // NEWSDIALOG_H
