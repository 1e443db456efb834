#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "mainwindow_p.h"
#include "memoryrelease.h"
#include "modaldialogs.h"
#include "recentfiles.h"
#include "sliceexporter.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QSettings>
#include <QSlider>
#include <QUrl>

// The files of the window: opening (from the dialog, the recent files, a drop), watching the
// open file for changes, closing it and saving the slices.

using namespace MainWindowSettings;

namespace {

// Drops from elsewhere (web pages, mail) may carry URLs that are no files on this machine.
QString firstLocalFile(const QMimeData *mimeData)
{
    if (!mimeData || !mimeData->hasUrls())
        return QString();
    const QList<QUrl> urls = mimeData->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

} // namespace

// Opening, closing and the current file

void MainWindow::openFile(const QString &name)
{
    const QFileInfo fi(name);
    if (name.isEmpty() || !fi.exists()) {
        ModalDialogs::critical(this, tr("Open"),
                               tr("Unable to open \"%1\". File does not exist.").arg(nativePath(fi.absoluteFilePath())));
        removeRecentFile(name);
        return;
    }

    const QString path = fi.absoluteFilePath();
    // Opening a named pipe or a device waits until something feeds it, for a pipe nobody feeds
    // for good: only files (or links to them) are read.
    if (!fi.isFile()) {
        ModalDialogs::critical(this, tr("Open"),
                               tr("Unable to open \"%1\". It is not a regular file.").arg(nativePath(path)));
        return;
    }
    const QString unreadable = tr("Unable to open \"%1\". It is not a readable SLC file.").arg(nativePath(path));
    {
        // The reader cannot tell why a file would not open; the system can (permission denied).
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            ModalDialogs::critical(this, tr("Open"), withReason(unreadable, probe.errorString()));
            return;
        }
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    SliceView *view = ui->graphicsView;
    // A file that cannot be read leaves the one shown (its slices, name and watch) as it was.
    const bool replaced = view->replaceWithFile(path);
    // Either the slices shown before or what the refused file gave are free now.
    MemoryRelease::releaseFreedMemory();
    if (!replaced) {
        QApplication::restoreOverrideCursor();
        const QString tooLarge =
            tr("Unable to open \"%1\". It needs more memory than is available.").arg(nativePath(path));
        ModalDialogs::critical(this, tr("Open"), view->lastReadNeededMoreMemory() ? tooLarge : unreadable);
        return;
    }
    const QDataStream::Status status = view->lastReadStatus();
    ++slicesGeneration;
    ui->action_Clear_Overlay->trigger();
    ui->action_Ruler->setChecked(false);

    setCurrentFile(path);
    watchCurrentFile();

    const int count = view->sliceCount();
    if (count > 0) {
        QSlider *slider = ui->sliceSlider;
        slider->setRange(1, count);
        view->setSlice(1);
        slider->setValue(view->currentSlice());
    }
    setSliceCommandsEnabled(count > 0);
    if (count > 0)
        ui->sliceSlider->setFocus(Qt::OtherFocusReason);
    ui->action_Close->setEnabled(true);

    QMetaObject::invokeMethod(view, "zoomToAll", Qt::QueuedConnection);
    forgetMousePosition();
    QSettings().setValue(lastDirectoryKey, fi.absolutePath());

    QApplication::restoreOverrideCursor();
    activateWindow();

    if (view->sampleTable().entries.size() > 1)
        ModalDialogs::warning(this, tr("Open"),
                              tr("Sample table contains more than one entry.<br>Slice thickness may be variable."));
    if (status == QDataStream::ReadPastEnd)
        ModalDialogs::warning(this, tr("Open"),
                              tr("File \"%1\" ends early. Only its complete slices were read.").arg(nativePath(path)));
}

void MainWindow::on_action_Open_triggered()
{
    const QString start = QSettings().value(lastDirectoryKey).toString();
    const QString name = ModalDialogs::getOpenFileName(this, tr("Open SLC File"), start, tr("Slice files (*.slc)"));
    if (!name.isEmpty())
        openFile(name);
}

void MainWindow::openRecentFile()
{
    if (QAction *action = qobject_cast<QAction *>(sender()))
        openFile(action->data().toString());
}

void MainWindow::removeRecentFile(const QString &name)
{
    RecentFiles::remove(name);
}

void MainWindow::setCurrentFile(const QString &name)
{
    fileName = name;
    delete fileInfo;
    fileInfo = nullptr;
    if (!name.isEmpty()) {
        fileInfo = new QFileInfo(fileName);
        RecentFiles::add(name);
    }
    statusRight->hide();
    updateWindowTitle();
}

void MainWindow::updateWindowTitle()
{
    if (fileInfo)
        setWindowTitle(QStringLiteral("%1 - %2").arg(fileInfo->fileName(), baseTitle));
    else
        setWindowTitle(baseTitle);
}

void MainWindow::updateRecentFileActions()
{
    const QStringList files = RecentFiles::files();
    const int shown = qMin(RecentFiles::maxCount, files.size());
    for (int i = 0; i < recentFileActions.size(); ++i) {
        QAction *action = recentFileActions.at(i);
        if (i >= shown) {
            action->setVisible(false);
            continue;
        }
        const QString &path = files.at(i);
        action->setData(path);
        action->setStatusTip(nativePath(path));
        QString name = QFileInfo(path).fileName();
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        action->setText(QStringLiteral("&%1 %2").arg(QString::number(i + 1), name));
        action->setVisible(true);
    }
}

void MainWindow::on_menu_File_aboutToShow()
{
    updateRecentFileActions();
}

void MainWindow::watchCurrentFile()
{
    const QStringList watched = fileSystemWatcher->files();
    if (!watched.isEmpty())
        fileSystemWatcher->removePaths(watched);
    if (!fileName.isEmpty())
        fileSystemWatcher->addPath(fileName);
}

void MainWindow::on_fileSystemWatcher_fileChanged(const QString &path)
{
    if (fileName.isEmpty() || path != fileName || !QFile::exists(path))
        return;
    // An editor that saves by renaming a new file over the old one takes the watched inode
    // away with it; watch the new file so that later changes are still seen.
    if (!fileSystemWatcher->files().contains(path))
        fileSystemWatcher->addPath(path);
    if (reloadQuestionOpen)
        return;
    reloadQuestionOpen = true;
    const QMessageBox::StandardButton answer = ModalDialogs::information(
        this, tr("Reload File?"), tr("File %1 has been modified.\nDo you want to reload it?").arg(nativePath(fileName)),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        const int shown = ui->sliceSlider->value();
        openFile(QString(fileName));
        if (ui->graphicsView->sliceCount() > 0)
            ui->sliceSlider->setValue(shown);
    }
    reloadQuestionOpen = false;
}

void MainWindow::resetToNoFile()
{
    ui->action_Clear_Overlay->trigger();
    ui->action_Ruler->setChecked(false);
    setSliceCommandsEnabled(false);
    ui->action_Close->setEnabled(false);
    mousePositionKnown = false;
    setCurrentFile(QString());
    watchCurrentFile();
    ++slicesGeneration;
    ui->graphicsView->clear();
    MemoryRelease::releaseFreedMemory();
    QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
    QMetaObject::invokeMethod(ui->graphicsView, "zoomOut", Qt::QueuedConnection);
}

void MainWindow::on_action_Close_triggered()
{
    resetToNoFile();
}

void MainWindow::setSliceCommandsEnabled(bool enabled)
{
    if (!enabled)
        stopPlayback();
    for (QAction *action : {ui->action_Grid_Interval, ui->action_Go_to_Slice, ui->action_Go_to_Slice_Z,
                            ui->action_Run_Back_Slices, ui->action_Run_Through_Slices})
        action->setEnabled(enabled);
    ui->sliceSlider->setVisible(enabled);
}

void MainWindow::on_graphicsView_dragEnter(QDragEnterEvent *event)
{
    if (!firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::on_graphicsView_drop(QDropEvent *event)
{
    const QString path = firstLocalFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Opening may ask questions; they must not run inside the drag-and-drop handling.
    QMetaObject::invokeMethod(this, "openFile", Qt::QueuedConnection, Q_ARG(QString, path));
}

// Saving

void MainWindow::saveFile(const QString &name)
{
    const QString title = tr("Save As");
    if (ui->graphicsView->sliceCount() == 0) {
        ModalDialogs::information(this, title, tr("No slices to save."));
        return;
    }
    const QFileInfo fi(name);
    const QString path = fi.absoluteFilePath();

    QString reason;
    const bool saved = !name.isEmpty() && SliceExporter::writeSlc(path, ui->graphicsView->slices(), &reason);
    if (!saved) {
        ModalDialogs::critical(
            this, title,
            withReason(tr("Cannot write to file %1.").arg(nativePath(path.isEmpty() ? name : path)), reason));
        return;
    }
    QSettings().setValue(lastSaveDirectoryKey, fi.absolutePath());
    setCurrentFile(path);
    // Watching afresh drops the notifications of our own write, which replaced the file.
    watchCurrentFile();
}

void MainWindow::on_action_Save_As_triggered()
{
    const QString title = tr("Save As");
    if (ui->graphicsView->sliceCount() == 0) {
        ModalDialogs::information(this, title, tr("No slices to save."));
        return;
    }
    const QString start = QSettings().value(lastSaveDirectoryKey, fileName).toString();
    QString name = ModalDialogs::getSaveFileName(this, title, start, tr("Slice files (*.slc)"));
    if (name.isEmpty())
        return;
    // The file dialog adds no suffix of its own.
    if (SliceExporter::formatOfName(name) != SliceExporter::Slc) {
        name += SliceExporter::suffix(SliceExporter::Slc);
        if (!replaceAddedSuffixName(title, QFileInfo(name)))
            return;
    }
        saveFile(name);
}

void MainWindow::on_action_Save_triggered()
{
    saveFile(fileName);
}


bool MainWindow::replaceAddedSuffixName(const QString &title, const QFileInfo &target)
{
    // The file dialog asked about replacing the name as typed, not the one with the suffix.
    if (!target.exists())
        return true;
    const QString question =
        tr("%1 already exists.\nDo you want to replace it?").arg(nativePath(target.absoluteFilePath()));
    return ModalDialogs::warning(this, title, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
