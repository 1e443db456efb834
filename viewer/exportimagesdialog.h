#ifndef EXPORTIMAGESDIALOG_H
#define EXPORTIMAGESDIALOG_H

#include <QDialog>

namespace Ui {
class ExportImagesDialog;
}

// Asks for the printer platform of the image-series export: where the model sits on it
// (millimetres), its pixel resolution and its physical size. The image names travel on the
// dynamic properties "BaseName", "Digits" and "FilePaths", set by the caller before open().
class ExportImagesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ExportImagesDialog(QWidget *parent = nullptr);
    ~ExportImagesDialog() override;

    double offsetX() const;
    double offsetY() const;
    double platformSizeX() const;
    double platformSizeY() const;
    int resolutionX() const;
    int resolutionY() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::ExportImagesDialog *ui;
};

#endif // EXPORTIMAGESDIALOG_H
