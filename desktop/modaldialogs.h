#ifndef MODALDIALOGS_H
#define MODALDIALOGS_H

#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class QDialog;
class QWidget;

// Every modal question the program asks goes through here, so that tests can answer them
// with a script instead of waiting on a real event loop. Without a responder the real Qt
// dialogs run.
class ModalDialogs
{
public:
    enum Kind {
        Critical,
        Warning,
        Information,
        Question,
        OpenFileName,
        SaveFileName,
        ExistingDirectory,
        Int,
        Double,
        Item,
        Exec
    };

    struct Request {
        Kind kind = Critical;
        QWidget *parent = nullptr;
        QString title;
        QString text;                 // message text or input label
        QString directory;            // file dialogs: the starting path
        QString filter;               // file dialogs: the name filters
        QStringList items;            // item input: the choices
        QVariant value;               // input dialogs: the initial value
        QVariant minimum;
        QVariant maximum;
        int decimals = 0;
        QMessageBox::StandardButtons buttons = QMessageBox::Ok;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QDialog *dialog = nullptr;    // Exec: the dialog that would run
    };

    // What a scripted answer gives back: `accepted` false stands for Cancel (or an empty file
    // name); `value` carries the button (as int), the file name, the number or the item;
    // `selectedFilter` is the filter a file dialog reports.
    struct Answer {
        bool accepted = true;
        QVariant value;
        QString selectedFilter;
    };

    using Responder = std::function<Answer(const Request &)>;

    // Installs a responder (tests); an empty one restores the real dialogs.
    static void setResponder(Responder responder);
    static bool hasResponder();

    static QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                               QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                               QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                   QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                                QMessageBox::StandardButtons buttons = QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No),
                                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    static QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter, QString *selectedFilter = nullptr,
                                   QFileDialog::Options options = QFileDialog::Options());
    static QString getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter, QString *selectedFilter = nullptr,
                                   QFileDialog::Options options = QFileDialog::Options());
    static QString getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                        QFileDialog::Options options = QFileDialog::ShowDirsOnly);

    static int getInt(QWidget *parent, const QString &title, const QString &label, int value,
                      int minimum, int maximum, int step = 1, bool *ok = nullptr);
    static double getDouble(QWidget *parent, const QString &title, const QString &label, double value,
                            double minimum, double maximum, int decimals = 1, bool *ok = nullptr);
    static QString getItem(QWidget *parent, const QString &title, const QString &label,
                           const QStringList &items, int current = 0, bool editable = true,
                           bool *ok = nullptr);

    // Runs an already built dialog modally (QDialog::exec); a scripted answer's `value` is the
    // result code (QDialog::Accepted when absent and accepted).
    static int exec(QDialog *dialog);
};

#endif // MODALDIALOGS_H
