#include "newsdialog.h"

NewsDialog::NewsDialog(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(tr("News"));
}

NewsDialog::~NewsDialog() = default;

void NewsDialog::showNews()
{
}
