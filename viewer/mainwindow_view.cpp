#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow_p.h"
#include "modaldialogs.h"
#include "reportdialog.h"
#include "slicereports.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QFileInfo>
#include <QGraphicsView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>

#include <cmath>

// What the window does with the slices it shows: the status bar and the ruler, zoom and the
// slider, the reports, navigation and playback, and the view's options.

using namespace MainWindowSettings;

void MainWindow::updateStatusBar()
{
    if (ui->graphicsView->currentSlice() == 0) {
        statusBar()->clearMessage();
        return;
    }
    const QPoint cursor = ui->graphicsView->mapFromGlobal(QCursor::pos());
    statusBar()->showMessage(statusMessage(mousePositionKnown && ui->graphicsView->rect().contains(cursor)));
}

QString MainWindow::statusMessage(bool withPosition) const
{
    const SliceView *view = ui->graphicsView;
    const int current = view->currentSlice();
    const QString position = tr("X: %1  Y: %2").arg(number(mouseX), number(mouseY));
    if (current == 0)
        return withPosition ? position : QString();
    const QString slice = tr("Slice: %1 / %2").arg(QString::number(current), QString::number(view->sliceCount()))
                          + QLatin1String("    ");
    if (withPosition)
        return slice + tr("X: %1  Y: %2  Z: %3  Thickness: %4")
                           .arg(number(mouseX), number(mouseY), number(view->currentZ()), number(view->currentThickness()));
    return slice + tr("Z: %1  Thickness: %2").arg(number(view->currentZ()), number(view->currentThickness()));
}

void MainWindow::updateRuler()
{
    const bool on = ui->action_Ruler->isChecked();
    if (on && rulerPoints.size() == 2) {
        const QVector2D &start = rulerPoints.at(0);
        const QVector2D &end = rulerPoints.at(1);
        const float distance = (end - start).length();
        statusRight->setText(tr("Distance: %5 P1(%1, %2) P2(%3, %4)")
                                 .arg(number(start.x()), number(start.y()), number(end.x()), number(end.y()),
                                      number(distance)));
    }
    statusRight->setVisible(on);
    ui->graphicsView->setRulerPoints(rulerPoints);
}

void MainWindow::forgetMousePosition()
{
    mousePositionKnown = false;
    updateStatusBar();
}

void MainWindow::on_graphicsView_mouseLeave()
{
    forgetMousePosition();
}

void MainWindow::on_graphicsView_mouseMove(const QPointF &position)
{
    QAction *ruler = ui->action_Ruler;
    if (ruler->isChecked() && !rulerPoints.isEmpty() && !ruler->property("RulerSet").toBool()) {
        const QVector2D end(position);
        if (rulerPoints.size() == 1)
            rulerPoints.append(end);
        else
            rulerPoints[1] = end;
        updateRuler();
    }
    mouseX = position.x();
    mouseY = position.y();
    mousePositionKnown = true;
    statusBar()->showMessage(statusMessage(true));
}

void MainWindow::on_graphicsView_mouseClicked(Qt::MouseButton button, const QPointF &position)
{
    QAction *ruler = ui->action_Ruler;
    if (!ruler->isChecked() || (button != Qt::LeftButton && button != Qt::RightButton))
        return;
    bool fixed = ruler->property("RulerSet").toBool();
    const QVector2D point(position);
    if (button == Qt::LeftButton) {
        if (rulerPoints.isEmpty() || fixed) {
            rulerPoints = {point};
            fixed = false;
        } else {
            if (rulerPoints.size() == 2)
                rulerPoints.removeLast();
            rulerPoints.append(point);
            fixed = true;
        }
    } else if (rulerPoints.isEmpty()) {
        if (!fixed) {
            ruler->setChecked(false);
            return;
        }
        rulerPoints = {point};
        fixed = false;
    } else if (!fixed) {
        rulerPoints.clear();
    } else {
        if (rulerPoints.size() == 2)
            rulerPoints.removeLast();
        rulerPoints.append(point);
        fixed = false;
    }
    ruler->setProperty("RulerSet", fixed);
    updateRuler();
}

void MainWindow::on_action_Ruler_toggled(bool)
{
    rulerPoints.clear();
    updateRuler();
}

// Zoom and the slider

void MainWindow::on_action_Zoom_In_triggered()
{
    ui->graphicsView->zoomIn();
}

void MainWindow::on_action_Zoom_Out_triggered()
{
    ui->graphicsView->zoomOut();
}

void MainWindow::on_action_Zoom_to_All_triggered()
{
    ui->graphicsView->zoomToAll();
}

void MainWindow::on_sliceSlider_valueChanged(int value)
{
    if (!ui->sliceSlider->property("UpdateByTimer").toBool())
        stopPlayback();
    ui->graphicsView->setSlice(value);
    updateStatusBar();
}

void MainWindow::on_action_Clear_Overlay_triggered()
{
    ui->graphicsView->clearOverlay();
    ui->action_Clear_Overlay->setEnabled(false);
}

// Reports

void MainWindow::showReport(const QString &title, const QString &html, const QString &icon, const QSize &size)
{
    ReportDialog *report = ReportDialog::create(this, title, html);
    if (size.isValid())
        report->resize(size);
    report->setAttribute(Qt::WA_DeleteOnClose);
    report->setWindowIcon(QIcon(icon));
    // A report speaks of the slices it was made from; once the window holds others (another
    // file, a reload, Close) its slice numbers mean nothing there.
    const quint64 madeFor = slicesGeneration;
    connect(report, &ReportDialog::sliceClicked, this, [this, madeFor](int slice) {
        if (madeFor == slicesGeneration && slice >= 1 && slice <= ui->graphicsView->sliceCount())
            ui->sliceSlider->setValue(slice);
    });
    report->show();
}

void MainWindow::on_action_Check_Slices_triggered()
{
    const QList<Slice> &slices = ui->graphicsView->slices();
    if (slices.isEmpty()) {
        ModalDialogs::information(this, tr("Check Slices"), tr("No slices to check."));
        return;
    }
    showReport(tr("Check Slices"), SliceReports::checkSlices(slices, m_decimalPlaces),
               QStringLiteral(":/resources/images/empty_slice.png"), QSize());
}

void MainWindow::on_action_Information_triggered()
{
    SliceView *view = ui->graphicsView;
    if (view->sliceCount() == 0) {
        ModalDialogs::information(this, tr("Information"), tr("No slices."));
        return;
    }
    // The file may have changed on disk since it was opened (or since the last report).
    if (fileInfo)
        fileInfo->refresh();
    showReport(tr("Information"), SliceReports::information(view->slices(), view->bounds(), fileInfo, m_decimalPlaces),
               QStringLiteral(":/resources/images/info.png"), QSize(480, 370));
}

// Navigation and playback

void MainWindow::on_action_Go_to_Slice_triggered()
{
    SliceView *view = ui->graphicsView;
    bool ok = false;
    const int slice = ModalDialogs::getInt(this, tr("Go to Slice"),
                                           tr("Slice (1 - %1):").arg(QString::number(view->sliceCount())),
                                           view->currentSlice(), -2147483647, 2147483647, 1, &ok);
    // Playback goes on while the question is open: Cancel must not send it back to where it was.
    if (ok)
        ui->sliceSlider->setValue(slice);
}

void MainWindow::on_action_Go_to_Slice_Z_triggered()
{
    bool ok = false;
    const double z = ModalDialogs::getDouble(this, tr("Go to Slice Z"), tr("Slice Z:"), 0.0, -2147483647.0,
                                             2147483647.0, 3, &ok);
    if (!ok)
        return;
    const float target = float(z);
    const QList<Slice> &slices = ui->graphicsView->slices();
    // From the top down, and only a strictly nearer slice wins: a tie goes to the higher one.
    int best = 0;
    float bestDistance = 0.0f;
    for (int i = slices.size() - 1; i >= 0; --i) {
        const float distance = std::fabs(slices.at(i).z() - target);
        if (i == slices.size() - 1 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    ui->sliceSlider->setValue(best + 1);
}

void MainWindow::stopPlayback()
{
    playTimer->stop();
    ui->action_Run_Back_Slices->setChecked(false);
    ui->action_Run_Through_Slices->setChecked(false);
}

void MainWindow::on_action_Run_Through_Slices_toggled(bool checked)
{
    setPlayback(true, checked);
}

void MainWindow::on_action_Run_Back_Slices_toggled(bool checked)
{
    setPlayback(false, checked);
}

void MainWindow::setPlayback(bool forward, bool on)
{
    if (!on) {
        playTimer->stop();
        return;
    }
    // One direction at a time: turning one on turns the other off.
    QAction *other = forward ? ui->action_Run_Back_Slices : ui->action_Run_Through_Slices;
    if (other->isChecked())
        other->toggle();
    playForward = forward;
    playTimer->start();
}

void MainWindow::playTimerEvent()
{
    QSlider *slider = ui->sliceSlider;
    const int value = slider->value();
    const bool atEnd = playForward ? value >= slider->maximum() : value <= slider->minimum();
    if (atEnd) {
        (playForward ? ui->action_Run_Through_Slices : ui->action_Run_Back_Slices)->toggle();
        return;
    }
    slider->setProperty("UpdateByTimer", true);
    slider->setValue(playForward ? value + 1 : value - 1);
    slider->setProperty("UpdateByTimer", false);
}

void MainWindow::on_action_Play_Frames_Per_Second_triggered()
{
    const int stored = boundedInt(QSettings().value(framesPerSecondKey), framesPerSecondDefault,
                                  framesPerSecondMinimum, framesPerSecondMaximum);
    bool ok = false;
    const int rate = ModalDialogs::getInt(this, tr("Play Frames Per Second"),
                                          tr("Configure the number of slices to be played through per second.\n"
                                             "Valid range is from 1 to 250. Default value is %1.")
                                              .arg(QString::number(framesPerSecondDefault)),
                                          stored, framesPerSecondMinimum, framesPerSecondMaximum, 20, &ok);
    if (!ok)
        return;
    playTimer->setInterval(int(1000.0 / rate));
    QSettings().setValue(framesPerSecondKey, rate);
}

// View options and the clipboard

void MainWindow::on_action_Copy_to_Clipboard_triggered()
{
    QApplication::clipboard()->setImage(viewImage(Qt::white), QClipboard::Clipboard);
}

void MainWindow::on_action_Grab_or_Replace_Overlay_triggered()
{
    ui->graphicsView->grabOverlay();
    ui->action_Clear_Overlay->setEnabled(true);
}

void MainWindow::on_action_Show_Grid_toggled(bool checked)
{
    ui->graphicsView->setGridVisible(checked);
}

void MainWindow::on_action_Grid_Interval_triggered()
{
    SliceView *view = ui->graphicsView;
    const double maximum = view->maxGridInterval();
    bool ok = false;
    const double interval = ModalDialogs::getDouble(this, tr("Set Grid Interval"),
                                                    tr("Interval [0.1, %1]:").arg(QString::number(maximum, 'g', 4)),
                                                    view->gridInterval(), gridIntervalMinimum, maximum, 3, &ok);
    if (ok)
        view->setGridInterval(double(float(interval)));
}

void MainWindow::on_action_Decimal_Places_triggered()
{
    bool ok = false;
    const int places = ModalDialogs::getInt(this, tr("Decimal Places"),
                                            tr("Configure the number of digits displayed after the decimal point.\n"
                                               "Setting this option to -1 will show all digits."),
                                            m_decimalPlaces, decimalPlacesMinimum, decimalPlacesMaximum, 1, &ok);
    if (ok)
        m_decimalPlaces = places;
}

void MainWindow::on_action_Reset_triggered()
{
    restoreState(defaultState, 0);
}

void MainWindow::on_action_Enable_Animations_toggled(bool checked)
{
    ui->graphicsView->setAnimationsEnabled(checked);
}

void MainWindow::on_action_Enable_OpenGL_toggled(bool checked)
{
    // Without an OpenGL context the view keeps a plain view port; the action says which it has.
    const bool openGL = ui->graphicsView->setOpenGLEnabled(checked);
    if (openGL != checked) {
        const QSignalBlocker blocker(ui->action_Enable_OpenGL);
        ui->action_Enable_OpenGL->setChecked(openGL);
    }
}

void MainWindow::on_action_Show_Vertices_toggled(bool checked)
{
    ui->graphicsView->setShowVertices(checked);
}


QImage MainWindow::viewImage(const QColor &background) const
{
    QGraphicsView *view = ui->graphicsView;
    const QRect area = view->contentsRect();
    QImage image(area.size(), QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(background);
    QPainter painter(&image);
    view->render(&painter, QRectF(), QRect(), Qt::KeepAspectRatio);
    painter.end();
    return image;
}
