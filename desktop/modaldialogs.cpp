#include "modaldialogs.h"

#include <QDialog>
#include <QInputDialog>

namespace {

ModalDialogs::Responder &responder()
{
    static ModalDialogs::Responder r;
    return r;
}

// A scripted answer must come back as one of the buttons the box offers, as a real click
// would: "accept" is the first affirmative button, "cancel" the button that Escape picks.
QMessageBox::StandardButton acceptButton(QMessageBox::StandardButtons buttons)
{
    for (QMessageBox::StandardButton button : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::YesToAll,
                                               QMessageBox::Save, QMessageBox::SaveAll, QMessageBox::Open,
                                               QMessageBox::Apply, QMessageBox::Retry, QMessageBox::Ignore}) {
        if (buttons.testFlag(button))
            return button;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton escapeButton(QMessageBox::StandardButtons buttons)
{
    if (buttons.testFlag(QMessageBox::Cancel))
        return QMessageBox::Cancel;
    const int bits = int(buttons);
    if (bits != 0 && (bits & (bits - 1)) == 0)
        return QMessageBox::StandardButton(bits);
    if (buttons.testFlag(QMessageBox::No))
        return QMessageBox::No;
    if (buttons.testFlag(QMessageBox::Abort))
        return QMessageBox::Abort;
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton askMessage(ModalDialogs::Kind kind, QWidget *parent, const QString &title,
                                       const QString &text, QMessageBox::StandardButtons buttons,
                                       QMessageBox::StandardButton defaultButton)
{
    if (responder()) {
        ModalDialogs::Request request;
        request.kind = kind;
        request.parent = parent;
        request.title = title;
        request.text = text;
        request.buttons = buttons;
        request.defaultButton = defaultButton;
        const ModalDialogs::Answer answer = responder()(request);
        if (!answer.accepted)
            return escapeButton(buttons);
        if (answer.value.isValid())
            return QMessageBox::StandardButton(answer.value.toInt());
        return defaultButton != QMessageBox::NoButton ? defaultButton : acceptButton(buttons);
    }
    switch (kind) {
    case ModalDialogs::Warning:
        return QMessageBox::warning(parent, title, text, buttons, defaultButton);
    case ModalDialogs::Information:
        return QMessageBox::information(parent, title, text, buttons, defaultButton);
    case ModalDialogs::Question:
        return QMessageBox::question(parent, title, text, buttons, defaultButton);
    default:
        return QMessageBox::critical(parent, title, text, buttons, defaultButton);
    }
}

QString askFileName(ModalDialogs::Kind kind, QWidget *parent, const QString &caption, const QString &dir,
                    const QString &filter, QString *selectedFilter)
{
    ModalDialogs::Request request;
    request.kind = kind;
    request.parent = parent;
    request.title = caption;
    request.directory = dir;
    request.filter = filter;
    const ModalDialogs::Answer answer = responder()(request);
    if (selectedFilter && !answer.selectedFilter.isEmpty())
        *selectedFilter = answer.selectedFilter;
    return answer.accepted ? answer.value.toString() : QString();
}

ModalDialogs::Request numberRequest(ModalDialogs::Kind kind, QWidget *parent, const QString &title,
                                   const QString &label, const QVariant &value, const QVariant &minimum,
                                   const QVariant &maximum)
{
    ModalDialogs::Request request;
    request.kind = kind;
    request.parent = parent;
    request.title = title;
    request.text = label;
    request.value = value;
    request.minimum = minimum;
    request.maximum = maximum;
    return request;
}

} // namespace

void ModalDialogs::setResponder(Responder r)
{
    responder() = std::move(r);
}

bool ModalDialogs::hasResponder()
{
    return bool(responder());
}

QMessageBox::StandardButton ModalDialogs::critical(QWidget *parent, const QString &title, const QString &text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    return askMessage(Critical, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ModalDialogs::warning(QWidget *parent, const QString &title, const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton)
{
    return askMessage(Warning, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ModalDialogs::information(QWidget *parent, const QString &title, const QString &text,
                                                      QMessageBox::StandardButtons buttons,
                                                      QMessageBox::StandardButton defaultButton)
{
    return askMessage(Information, parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton ModalDialogs::question(QWidget *parent, const QString &title, const QString &text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton)
{
    return askMessage(Question, parent, title, text, buttons, defaultButton);
}

QString ModalDialogs::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter, QString *selectedFilter,
                                      QFileDialog::Options options)
{
    if (responder())
        return askFileName(OpenFileName, parent, caption, dir, filter, selectedFilter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter, selectedFilter, options);
}

QString ModalDialogs::getSaveFileName(QWidget *parent, const QString &caption, const QString &dir,
                                      const QString &filter, QString *selectedFilter,
                                      QFileDialog::Options options)
{
    if (responder())
        return askFileName(SaveFileName, parent, caption, dir, filter, selectedFilter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter, selectedFilter, options);
}

QString ModalDialogs::getExistingDirectory(QWidget *parent, const QString &caption, const QString &dir,
                                           QFileDialog::Options options)
{
    if (responder())
        return askFileName(ExistingDirectory, parent, caption, dir, QString(), nullptr);
    return QFileDialog::getExistingDirectory(parent, caption, dir, options);
}

int ModalDialogs::getInt(QWidget *parent, const QString &title, const QString &label, int value,
                         int minimum, int maximum, int step, bool *ok)
{
    if (!responder())
        return QInputDialog::getInt(parent, title, label, value, minimum, maximum, step, ok);
    const Answer answer = responder()(numberRequest(Int, parent, title, label, value, minimum, maximum));
    if (ok)
        *ok = answer.accepted;
    if (!answer.accepted)
        return value;
    // A real spin box cannot go beyond its range; neither may a script.
    return qBound(minimum, answer.value.isValid() ? answer.value.toInt() : value, maximum);
}

double ModalDialogs::getDouble(QWidget *parent, const QString &title, const QString &label, double value,
                               double minimum, double maximum, int decimals, bool *ok)
{
    if (!responder())
        return QInputDialog::getDouble(parent, title, label, value, minimum, maximum, decimals, ok);
    ModalDialogs::Request request = numberRequest(Double, parent, title, label, value, minimum, maximum);
    request.decimals = decimals;
    const Answer answer = responder()(request);
    if (ok)
        *ok = answer.accepted;
    if (!answer.accepted)
        return value;
    return qBound(minimum, answer.value.isValid() ? answer.value.toDouble() : value, maximum);
}

QString ModalDialogs::getItem(QWidget *parent, const QString &title, const QString &label,
                              const QStringList &items, int current, bool editable, bool *ok)
{
    if (!responder())
        return QInputDialog::getItem(parent, title, label, items, current, editable, ok);
    Request request;
    request.kind = Item;
    request.parent = parent;
    request.title = title;
    request.text = label;
    request.items = items;
    request.value = current;
    const Answer answer = responder()(request);
    if (ok)
        *ok = answer.accepted;
    if (!answer.accepted)
        return QString();
    return answer.value.isValid() ? answer.value.toString() : items.value(current);
}

int ModalDialogs::exec(QDialog *dialog)
{
    if (!responder())
        return dialog->exec();
    Request request;
    request.kind = Exec;
    request.parent = dialog->parentWidget();
    request.title = dialog->windowTitle();
    request.dialog = dialog;
    const Answer answer = responder()(request);
    if (answer.value.isValid())
        return answer.value.toInt();
    return answer.accepted ? QDialog::Accepted : QDialog::Rejected;
}
