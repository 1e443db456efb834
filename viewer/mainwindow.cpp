#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "changelogdialog.h"
#include "decimalformat.h"
#include "exportimagesdialog.h"
#include "exportrun.h"
#include "exportstldialog.h"
#include "imagineslice.h"
#include "licensedialog.h"
#include "modaldialogs.h"
#include "newsdialog.h"
#include "reportdialog.h"
#include "slcwriter.h"
#include "sliceexporter.h"
#include "slicereports.h"
#include "stlexporter.h"
#include "taskbarprogress.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTransform>
#include <QUrl>
#include <QWheelEvent>

#include <cmath>

namespace {

const int maxRecentFiles = 5;
const int wheelNotch = 120;

// The command-line file belongs to the first window the program shows; later shows, and
// windows made for file-open requests, must not reopen it over their own file.
bool commandLineTaken = false;

// One reload question at a time for the whole program: the question runs a local event loop,
// and a notification arriving meanwhile is dropped rather than asked again.
bool reloadQuestionOpen = false;

int boundedInt(const QVariant& stored, int fallback, int minimum, int maximum)
{
    bool ok = false;
    const int value = stored.toInt(&ok);
    return ok ? qBound(minimum, value, maximum) : fallback;
}

double boundedReal(const QVariant& stored, double fallback, double minimum, double maximum)
{
    bool ok = false;
    const double value = stored.toDouble(&ok);
    return ok && std::isfinite(value) ? qBound(minimum, value, maximum) : fallback;
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Drops from elsewhere (web pages, mail) may carry URLs that are no files on this machine.
QString firstLocalFile(const QMimeData* mimeData)
{
    if (!mimeData || !mimeData->hasUrls())
        return QString();
    const QList<QUrl> urls = mimeData->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

struct NamedIcon
{
    QString path;
    QIcon icon;
};

bool sameIcon(const QIcon& a, const QIcon& b)
{
    const QList<QSize> sizes = a.availableSizes(QIcon::Normal, QIcon::Off);
    if (sizes != b.availableSizes(QIcon::Normal, QIcon::Off))
        return false;
    for (const QSize& size : sizes) {
        if (a.pixmap(size, QIcon::Normal, QIcon::Off).toImage() != b.pixmap(size, QIcon::Normal, QIcon::Off).toImage())
            return false;
    }
    return true;
}

// Rich tool tips show the action's picture; the rich text can only name it by a resource path,
// so the resource image the icon was made from is looked up by its pixels.
QString imagePathOf(const QIcon& icon, const QList<NamedIcon>& images)
{
    for (const NamedIcon& image : images) {
        if (sameIcon(icon, image.icon))
            return image.path;
    }
    return QString();
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    // Named before the form is set up, so that its connection by name reaches their signals.
    fileSystemWatcher = new QFileSystemWatcher(this);
    fileSystemWatcher->setObjectName(QStringLiteral("fileSystemWatcher"));
    exportImagesDialog = new ExportImagesDialog(this);
    exportImagesDialog->setObjectName(QStringLiteral("exportImagesDialog"));
    exportStlDialog = new ExportStlDialog(this);
    exportStlDialog->setObjectName(QStringLiteral("exportStlDialog"));
    taskbarProgress = new TaskbarProgress(this);
    taskbarProgress->setObjectName(QStringLiteral("taskbarProgress"));

    ui->setupUi(this);

    QDesktopServices::setUrlHandler(QStringLiteral("license"), this, "viewLicense");
    connect(ui->action_Exit, SIGNAL(triggered()), qApp, SLOT(closeAllWindows()));
    connect(ui->action_About_Qt, SIGNAL(triggered()), qApp, SLOT(aboutQt()));

    ui->newsToolBar->toggleViewAction()->setVisible(false);
    const QList<QDockWidget*> docks = findChildren<QDockWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QDockWidget* dock : docks) {
        QAction* toggle = dock->toggleViewAction();
        toggle->setStatusTip(tr("Toggle %1 panel").arg(dock->windowTitle()));
        ui->menu_View->insertAction(ui->action_Reset, toggle);
    }
    ui->menu_View->insertSeparator(ui->action_Reset);
    const QList<QToolBar*> toolBars = findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly);
    for (QToolBar* toolBar : toolBars) {
        QAction* toggle = toolBar->toggleViewAction();
        toggle->setStatusTip(tr("Toggle %1 toolbar").arg(toolBar->windowTitle()));
        ui->menu_View->insertAction(ui->action_Reset, toggle);
    }
    ui->menu_View->insertSeparator(ui->action_Reset);

    QSettings settings;
    m_decimalPlaces = boundedInt(settings.value(QStringLiteral("MainWindow/DecimalPlaces")), 3, -1, 15);

    ui->sliceSlider->hide();
    baseTitle = windowTitle();

    playTimer = new QTimer(this);
    playTimer->setObjectName(QStringLiteral("playTimer"));
    connect(playTimer, SIGNAL(timeout()), this, SLOT(playTimerEvent()));
    const double framesPerSecond =
        boundedReal(settings.value(QStringLiteral("MainWindow/PlayFramesPerSecond")), 20.0, 1.0, 250.0);
    playTimer->setInterval(int(1000.0 / framesPerSecond));

    for (int i = 0; i < maxRecentFiles; ++i) {
        QAction* action = new QAction(ui->menu_File);
        action->setVisible(false);
        connect(action, SIGNAL(triggered()), this, SLOT(openRecentFile()));
        ui->menu_File->insertAction(ui->action_Exit, action);
        recentFileActions.append(action);
    }

    statusRight = new QLabel(this);
    statusRight->setObjectName(QStringLiteral("statusRight"));
    statusRight->setContentsMargins(0, 0, 0, 1);
    statusBar()->addPermanentWidget(statusRight, 0);
    statusRight->hide();

    ui->menu_File->insertSeparator(ui->action_Exit);

    SliceView* view = ui->graphicsView;
    view->setAnimationsEnabled(settings.value(QStringLiteral("SliceView/Animations"), true).toBool());
    ui->action_Enable_Animations->setChecked(view->animationsEnabled());
    {
        // The view falls back to a plain view port where no OpenGL context can be made; the
        // action then shows what the view really has.
        const bool openGL = settings.value(QStringLiteral("SliceView/OpenGL"), false).toBool()
                            && view->setOpenGLEnabled(true);
        const QSignalBlocker blocker(ui->action_Enable_OpenGL);
        ui->action_Enable_OpenGL->setChecked(openGL);
    }
    view->setGridInterval(boundedReal(settings.value(QStringLiteral("SliceView/GridSize")), 1.0, 0.1, HUGE_VAL));
    view->setGridVisible(settings.value(QStringLiteral("SliceView/GridEnabled"), true).toBool());
    ui->action_Show_Grid->setChecked(view->isGridVisible());
    view->setShowVertices(settings.value(QStringLiteral("SliceView/Vertices"), true).toBool());
    ui->action_Show_Vertices->setChecked(view->showVertices());

    retranslate();

    resize(size().expandedTo(sizeHint()));
    defaultState = saveState(0);
    restoreState(settings.value(QStringLiteral("MainWindow/WindowState")).toByteArray(), 0);

    newsDialog = new NewsDialog(this);
}

MainWindow::~MainWindow()
{
    // A window destroyed without being closed (the program is quitting) may still have a worker
    // writing into files and dialogs that die with it.
    abortExports();
    if (ui->action_Run_Through_Slices->isChecked())
        ui->action_Run_Through_Slices->setChecked(false);
    playTimer->stop();
    delete newsDialog;
    delete ui;
    delete fileInfo;
}

bool MainWindow::hasFile() const
{
    return !fileName.isEmpty();
}

int MainWindow::decimalPlaces() const
{
    return m_decimalPlaces;
}

QString MainWindow::number(double value) const
{
    return DecimalFormat::number(value, m_decimalPlaces);
}

void MainWindow::retranslate()
{
    ui->retranslateUi(this);
    // The form's title replaces the whole title; put the file name back in front of it.
    baseTitle = windowTitle();
    updateWindowTitle();

    QList<NamedIcon> images;
    QDirIterator entries(QStringLiteral(":/resources/images"));
    while (entries.hasNext()) {
        const QString path = entries.next();
        images.append({path, QIcon(path)});
    }

    const QString head = QStringLiteral(
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">"
        "<html><head><meta name=\"qrichtext\" content=\"1\" /></head><body>");
    const QRegularExpression ellipsis(QStringLiteral("\\.\\.\\.$"));
    const QList<QToolBar*> toolBars = findChildren<QToolBar*>(QString(), Qt::FindDirectChildrenOnly);
    for (QToolBar* toolBar : toolBars) {
        const QList<QAction*> actions = toolBar->actions();
        for (QAction* action : actions) {
            if (action->text().isEmpty())
                continue;
            QString tip = head;
            const QIcon icon = action->icon();
            const QSize size = icon.actualSize(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
            if (size.width() == size.height() && size.width() >= 1)
                tip += QLatin1String("<img src=\"") + imagePathOf(icon, images) + QLatin1String("\" /> ");
            QString text = action->text();
            text.remove(QLatin1Char('&'));
            text.remove(ellipsis);
            tip += QLatin1String("<b>") + text.toHtmlEscaped() + QLatin1String("</b>");
            if (!action->statusTip().isEmpty())
                tip += QLatin1String("<br />") + action->statusTip().toHtmlEscaped();
            tip += QLatin1String("</body></html>");
            action->setToolTip(tip);
        }
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    abortExports();
    SliceView* view = ui->graphicsView;
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindow/DecimalPlaces"), m_decimalPlaces);
    settings.setValue(QStringLiteral("MainWindow/WindowState"), saveState(0));
    settings.setValue(QStringLiteral("SliceView/Animations"), view->animationsEnabled());
    settings.setValue(QStringLiteral("SliceView/OpenGL"), ui->action_Enable_OpenGL->isChecked());
    settings.setValue(QStringLiteral("SliceView/GridEnabled"), view->isGridVisible());
    settings.setValue(QStringLiteral("SliceView/GridSize"), view->gridInterval());
    settings.setValue(QStringLiteral("SliceView/Vertices"), view->showVertices());
    event->accept();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    const bool first = !commandLineTaken;
    commandLineTaken = true;
    const QStringList arguments = QCoreApplication::arguments();
    if (first && arguments.size() >= 2 && !hasFile()) {
        QMetaObject::invokeMethod(this, "openFile", Qt::QueuedConnection, Q_ARG(QString, arguments.at(1)));
        QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
    if (!hasFile())
        QMetaObject::invokeMethod(ui->graphicsView, "zoomOut", Qt::QueuedConnection);
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, long* result)
{
    return taskbarProgress->nativeEvent(eventType, message, result);
}

void MainWindow::wheelEvent(QWheelEvent* event)
{
    QSlider* slider = ui->sliceSlider;
    if (!slider->isVisibleTo(this))
        return;
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (delta == 0)
        return;
    // Touchpads send many small deltas: keep what is short of a notch for the next event,
    // and start afresh when the direction turns.
    if ((wheelRemainder > 0 && delta < 0) || (wheelRemainder < 0 && delta > 0))
        wheelRemainder = 0;
    const qint64 total = qint64(wheelRemainder) + delta;
    const qint64 steps = total / wheelNotch;
    wheelRemainder = int(total - steps * wheelNotch);
    if (steps == 0)
        return;
    const int step = event->modifiers().testFlag(Qt::ShiftModifier) ? slider->pageStep() : slider->singleStep();
    const qint64 target = qint64(slider->value()) + steps * step;
    slider->setValue(int(qBound<qint64>(slider->minimum(), target, slider->maximum())));
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslate();
}

// Opening, closing and the current file

void MainWindow::openFile(const QString& name)
{
    const QFileInfo fi(name);
    if (name.isEmpty() || !fi.exists()) {
        ModalDialogs::critical(this, tr("Open"),
                               tr("Unable to open \"%1\". File does not exist.").arg(nativePath(fi.absoluteFilePath())));
        removeRecentFile(name);
        return;
    }

    QApplication::setOverrideCursor(Qt::WaitCursor);
    ui->action_Clear_Overlay->trigger();
    ui->action_Ruler->setChecked(false);

    const QString path = fi.absoluteFilePath();
    SliceView* view = ui->graphicsView;
    ++slicesGeneration;
    view->openFile(path);
    const QDataStream::Status status = view->lastReadStatus();
    if (status == QDataStream::ReadCorruptData) {
        // The view has dropped what it showed before; the window must not claim a file it
        // could not read.
        resetToNoFile();
        QApplication::restoreOverrideCursor();
        ModalDialogs::critical(this, tr("Open"),
                               tr("Unable to open \"%1\". It is not a readable SLC file.").arg(nativePath(path)));
        return;
    }

    setCurrentFile(path);
    watchCurrentFile();

    const int count = view->sliceCount();
    QSlider* slider = ui->sliceSlider;
    if (count > 0) {
        ui->action_Grid_Interval->setEnabled(true);
        ui->action_Go_to_Slice->setEnabled(true);
        ui->action_Go_to_Slice_Z->setEnabled(true);
        slider->setRange(1, count);
        view->setSlice(1);
        slider->setValue(view->currentSlice());
        slider->show();
        slider->setFocus(Qt::OtherFocusReason);
        ui->action_Run_Back_Slices->setEnabled(true);
    } else {
        stopPlayback();
        ui->action_Grid_Interval->setEnabled(false);
        ui->action_Go_to_Slice->setEnabled(false);
        ui->action_Go_to_Slice_Z->setEnabled(false);
        slider->hide();
        ui->action_Run_Back_Slices->setEnabled(false);
    }
    ui->action_Run_Through_Slices->setEnabled(count > 0);
    ui->action_Close->setEnabled(true);

    QMetaObject::invokeMethod(view, "zoomToAll", Qt::QueuedConnection);
    updateStatusBar();
    QSettings().setValue(QStringLiteral("MainWindow/LastDirectory"), fi.absolutePath());

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
    const QString start = QSettings().value(QStringLiteral("MainWindow/LastDirectory")).toString();
    const QString name = ModalDialogs::getOpenFileName(this, tr("Open SLC File"), start, tr("Slice files (*.slc)"));
    if (!name.isEmpty())
        openFile(name);
}

void MainWindow::openRecentFile()
{
    if (QAction* action = qobject_cast<QAction*>(sender()))
        openFile(action->data().toString());
}

void MainWindow::removeRecentFile(const QString& name)
{
    if (name.isEmpty())
        return;
    QSettings settings;
    QStringList files = settings.value(QStringLiteral("MainWindow/RecentFiles")).toStringList();
    files.removeAll(name);
    settings.setValue(QStringLiteral("MainWindow/RecentFiles"), files);
}

void MainWindow::setCurrentFile(const QString& name)
{
    fileName = name;
    delete fileInfo;
    fileInfo = nullptr;
    if (!name.isEmpty()) {
        fileInfo = new QFileInfo(fileName);
        QSettings settings;
        QStringList files = settings.value(QStringLiteral("MainWindow/RecentFiles")).toStringList();
        files.removeAll(name);
        files.prepend(name);
        while (files.size() > maxRecentFiles)
            files.removeLast();
        settings.setValue(QStringLiteral("MainWindow/RecentFiles"), files);
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
    const QStringList files = QSettings().value(QStringLiteral("MainWindow/RecentFiles")).toStringList();
    const int shown = qMin(maxRecentFiles, files.size());
    for (int i = 0; i < recentFileActions.size(); ++i) {
        QAction* action = recentFileActions.at(i);
        if (i >= shown) {
            action->setVisible(false);
            continue;
        }
        const QString& path = files.at(i);
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

void MainWindow::on_fileSystemWatcher_fileChanged(const QString& path)
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
    stopPlayback();
    ui->action_Grid_Interval->setEnabled(false);
    ui->action_Go_to_Slice->setEnabled(false);
    ui->action_Go_to_Slice_Z->setEnabled(false);
    ui->sliceSlider->hide();
    ui->action_Run_Back_Slices->setEnabled(false);
    ui->action_Run_Through_Slices->setEnabled(false);
    ui->action_Close->setEnabled(false);
    setCurrentFile(QString());
    watchCurrentFile();
    ++slicesGeneration;
    ui->graphicsView->clear();
    QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
    QMetaObject::invokeMethod(ui->graphicsView, "zoomOut", Qt::QueuedConnection);
}

void MainWindow::on_action_Close_triggered()
{
    resetToNoFile();
}

void MainWindow::stopPlayback()
{
    playTimer->stop();
    ui->action_Run_Back_Slices->setChecked(false);
    ui->action_Run_Through_Slices->setChecked(false);
}

void MainWindow::on_graphicsView_dragEnter(QDragEnterEvent* event)
{
    if (!firstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::on_graphicsView_drop(QDropEvent* event)
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

void MainWindow::saveFile(const QString& name)
{
    const QString title = tr("Save As");
    if (ui->graphicsView->sliceCount() == 0) {
        ModalDialogs::information(this, title, tr("No slices to save."));
        return;
    }
    const QFileInfo fi(name);
    const QString path = fi.absoluteFilePath();

    const bool saved = !name.isEmpty() && writeSlcFile(path);
    if (!saved) {
        ModalDialogs::critical(this, title, tr("Cannot write to file %1.").arg(nativePath(path.isEmpty() ? name : path)));
        return;
    }
    QSettings().setValue(QStringLiteral("MainWindow/LastSaveDirectory"), fi.absolutePath());
    setCurrentFile(path);
    // Watching afresh drops the notifications of our own write, which replaced the file.
    watchCurrentFile();
}

bool MainWindow::writeSlcFile(const QString& path) const
{
    // The old file stays untouched until every byte of the new one is on disk.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QList<Slice>& slices = ui->graphicsView->slices();
    bool complete = false;
    {
        SlcWriter writer(&file);
        complete = writer.writeSlices(slices, false) == slices.size();
        complete = writer.finish() && complete;
    }
    if (!complete) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void MainWindow::on_action_Save_As_triggered()
{
    const QString title = tr("Save As");
    if (ui->graphicsView->sliceCount() == 0) {
        ModalDialogs::information(this, title, tr("No slices to save."));
        return;
    }
    const QString start = QSettings().value(QStringLiteral("MainWindow/LastSaveDirectory"), fileName).toString();
    const QString name = ModalDialogs::getSaveFileName(this, title, start, tr("Slice files (*.slc)"));
    if (!name.isEmpty())
        saveFile(name);
}

void MainWindow::on_action_Save_triggered()
{
    saveFile(fileName);
}

// Status bar and ruler

void MainWindow::updateStatusBar()
{
    SliceView* view = ui->graphicsView;
    const int current = view->currentSlice();
    if (current == 0) {
        statusBar()->clearMessage();
        return;
    }
    QString message = tr("Slice: %1 / %2").arg(QString::number(current), QString::number(view->sliceCount()))
                      + QLatin1String("    ");
    const QPoint cursor = view->mapFromGlobal(QCursor::pos());
    if (view->rect().contains(cursor))
        message += tr("X: %1  Y: %2  Z: %3  Thickness: %4")
                       .arg(number(mouseX), number(mouseY), number(view->currentZ()), number(view->currentThickness()));
    else
        message += tr("Z: %1  Thickness: %2").arg(number(view->currentZ()), number(view->currentThickness()));
    statusBar()->showMessage(message);
}

void MainWindow::updateRuler()
{
    const bool on = ui->action_Ruler->isChecked();
    if (on && rulerPoints.size() == 2) {
        const QVector2D& start = rulerPoints.at(0);
        const QVector2D& end = rulerPoints.at(1);
        const float distance = (end - start).length();
        statusRight->setText(tr("Distance: %5 P1(%1, %2) P2(%3, %4)")
                                 .arg(number(start.x()), number(start.y()), number(end.x()), number(end.y()),
                                      number(distance)));
    }
    statusRight->setVisible(on);
    ui->graphicsView->setRulerPoints(rulerPoints);
}

void MainWindow::on_graphicsView_mouseLeave()
{
    updateStatusBar();
}

void MainWindow::on_graphicsView_mouseMove(const QPointF& position)
{
    QAction* ruler = ui->action_Ruler;
    if (ruler->isChecked()) {
        if (!rulerPoints.isEmpty() && !ruler->property("RulerSet").toBool()) {
            const QVector2D end(position);
            if (rulerPoints.size() == 1)
                rulerPoints.append(end);
            else
                rulerPoints[1] = end;
        }
        updateRuler();
    }
    mouseX = position.x();
    mouseY = position.y();

    SliceView* view = ui->graphicsView;
    const int current = view->currentSlice();
    QString message;
    if (current != 0)
        message = tr("Slice: %1 / %2").arg(QString::number(current), QString::number(view->sliceCount()))
                  + QLatin1String("    ")
                  + tr("X: %1  Y: %2  Z: %3  Thickness: %4")
                        .arg(number(position.x()), number(position.y()), number(view->currentZ()),
                             number(view->currentThickness()));
    else
        message = tr("X: %1  Y: %2").arg(number(position.x()), number(position.y()));
    statusBar()->showMessage(message);
}

void MainWindow::on_graphicsView_mouseClicked(Qt::MouseButton button, const QPointF& position)
{
    QAction* ruler = ui->action_Ruler;
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

// About box, zoom and the slider

void MainWindow::on_action_About_triggered()
{
    const QString title = tr("About %1").arg(qApp->property("FullApplicationName").toString());
    const QString text = tr("<h3>%1 %2</h3><p>A viewer for Slice (SLC) files.</p>")
                             .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
    const QString informative =
        tr("<p>Built on %1 at %2 (%5-bit).</p>"
           "<p>Copyright &copy; 2019 %3. All rights reserved.<br/>"
           "Visit us at <a href=\"https://%4/\">%4</a></p>"
           "<p><a href=\"license:\">View License Terms</a></p>")
            .arg(QLatin1String(__DATE__), QLatin1String(__TIME__), QCoreApplication::organizationName(),
                 QCoreApplication::organizationDomain(), QString::number(QT_POINTER_SIZE * 8));

    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton, this);
    box->setInformativeText(informative);
    const QIcon icon = box->windowIcon();
    box->setIconPixmap(icon.pixmap(icon.actualSize(QSize(64, 64)), QIcon::Normal, QIcon::Off));
    ModalDialogs::exec(box);
    delete box.data();
}

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

void MainWindow::showReport(const QString& title, const QString& html, const QString& icon, const QSize& size)
{
    ReportDialog* report = ReportDialog::create(this, title, html);
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
    const QList<Slice>& slices = ui->graphicsView->slices();
    if (slices.isEmpty()) {
        ModalDialogs::information(this, tr("Check Slices"), tr("No slices to check."));
        return;
    }
    showReport(tr("Check Slices"), SliceReports::checkSlices(slices, m_decimalPlaces),
               QStringLiteral(":/resources/images/empty_slice.png"), QSize());
}

void MainWindow::on_action_Information_triggered()
{
    SliceView* view = ui->graphicsView;
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
    SliceView* view = ui->graphicsView;
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
    const QList<Slice>& slices = ui->graphicsView->slices();
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

void MainWindow::on_action_Run_Through_Slices_toggled(bool checked)
{
    if (!checked) {
        playTimer->stop();
        return;
    }
    if (ui->action_Run_Back_Slices->isChecked())
        ui->action_Run_Back_Slices->toggle();
    playForward = true;
    playTimer->start();
}

void MainWindow::on_action_Run_Back_Slices_toggled(bool checked)
{
    if (!checked) {
        playTimer->stop();
        return;
    }
    if (ui->action_Run_Through_Slices->isChecked())
        ui->action_Run_Through_Slices->toggle();
    playForward = false;
    playTimer->start();
}

void MainWindow::playTimerEvent()
{
    QSlider* slider = ui->sliceSlider;
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
    const QString key = QStringLiteral("MainWindow/PlayFramesPerSecond");
    const int defaultRate = 20;
    const int stored = boundedInt(QSettings().value(key), defaultRate, 1, 250);
    bool ok = false;
    const int rate = ModalDialogs::getInt(this, tr("Play Frames Per Second"),
                                          tr("Configure the number of slices to be played through per second.\n"
                                             "Valid range is from 1 to 250. Default value is %1.")
                                              .arg(QString::number(defaultRate)),
                                          stored, 1, 250, 20, &ok);
    if (!ok)
        return;
    playTimer->setInterval(int(1000.0 / rate));
    QSettings().setValue(key, rate);
}

// View options, clipboard and information windows

void MainWindow::on_action_Copy_to_Clipboard_triggered()
{
    QApplication::clipboard()->setImage(SliceExporter::renderView(ui->graphicsView, Qt::white),
                                        QClipboard::Clipboard);
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
    SliceView* view = ui->graphicsView;
    const double maximum = view->maxGridInterval();
    bool ok = false;
    const double interval = ModalDialogs::getDouble(this, tr("Set Grid Interval"),
                                                    tr("Interval [0.1, %1]:").arg(QString::number(maximum, 'g', 4)),
                                                    view->gridInterval(), 0.1, maximum, 3, &ok);
    if (ok)
        view->setGridInterval(double(float(interval)));
}

void MainWindow::on_action_Decimal_Places_triggered()
{
    bool ok = false;
    const int places = ModalDialogs::getInt(this, tr("Decimal Places"),
                                            tr("Configure the number of digits displayed after the decimal point.\n"
                                               "Setting this option to -1 will show all digits."),
                                            m_decimalPlaces, -1, 15, 1, &ok);
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

void MainWindow::viewLicense(const QUrl&)
{
    // Asked from the About box, the licence must stand above it, not behind it.
    QWidget* parent = QApplication::activeModalWidget();
    LicenseDialog* dialog = new LicenseDialog(parent ? parent : this);
    connect(dialog, SIGNAL(finished(int)), dialog, SLOT(deleteLater()));
    dialog->open();
}

void MainWindow::on_action_Changelog_triggered()
{
    ChangelogDialog* dialog = new ChangelogDialog(this);
    connect(dialog, SIGNAL(finished(int)), dialog, SLOT(deleteLater()));
    dialog->open();
}

void MainWindow::on_action_News_triggered()
{
    if (newsDialog)
        newsDialog->showNews();
}

// Export of the current slice

void MainWindow::on_action_Export_triggered()
{
    const QString title = tr("Export");
    const QString filters = tr("Portable Network Graphic files (*.png);;Scalable Vector Graphic files (*.svg);;"
                               "Slice files (*.slc)");
    const QString start = QSettings().value(QStringLiteral("MainWindow/LastExportDirectory")).toString();
    QString selectedFilter;
    QString name = ModalDialogs::getSaveFileName(this, title, start, filters, &selectedFilter);
    if (name.isEmpty())
        return;

    SliceExporter::Format format = SliceExporter::formatOfName(name);
    const bool suffixAdded = format == SliceExporter::NoFormat;
    if (suffixAdded) {
        // The file dialog adds no suffix of its own: the chosen filter names the format.
        format = SliceExporter::formatOfFilter(selectedFilter);
        if (format == SliceExporter::NoFormat)
            format = SliceExporter::formatOfFilter(filters.section(QStringLiteral(";;"), 0, 0));
        name += SliceExporter::suffix(format);
    }
    const QFileInfo target(name);

    SliceView* view = ui->graphicsView;
    const int current = view->currentSlice();
    if (format != SliceExporter::Png && current == 0) {
        ModalDialogs::warning(this, title, tr("No slice to export."));
        return;
    }
    if (hasFile() && target.exists() && target.canonicalFilePath() == QFileInfo(fileName).canonicalFilePath()) {
        ModalDialogs::warning(this, title,
                              tr("%1 is the open file. Exporting onto it would replace the whole part.")
                                  .arg(nativePath(target.absoluteFilePath())));
        return;
    }
    // The dialog asked about replacing the name as typed, not the one with the suffix.
    if (suffixAdded && target.exists()) {
        const QString question =
            tr("%1 already exists.\nDo you want to replace it?").arg(nativePath(target.absoluteFilePath()));
        if (ModalDialogs::warning(this, title, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
    }

    bool written = false;
    switch (format) {
    case SliceExporter::Png:
        written = SliceExporter::writePng(name, SliceExporter::renderView(view, Qt::transparent));
        break;
    case SliceExporter::Svg:
        written = SliceExporter::writeSvg(name, view->slices().at(current - 1), view->bounds());
        break;
    case SliceExporter::Slc:
        written = SliceExporter::writeSlc(name, view->slices().at(current - 1));
        break;
    case SliceExporter::NoFormat:
        break;
    }
    QSettings().setValue(QStringLiteral("MainWindow/LastExportDirectory"), target.absolutePath());
    if (!written)
        ModalDialogs::critical(this, title, tr("Cannot write to file %1.").arg(nativePath(target.absoluteFilePath())));
}

// The threaded exports; the form connects them by name. Each runs its engine on the global
// thread pool under an ExportRun, which keeps the engine, the progress dialog and the output
// alive until the engine's run has returned.

QString MainWindow::exportProposal(const QString& suffix) const
{
    if (!fileInfo)
        return QString();
    return QStringLiteral("%1/%2%3").arg(fileInfo->absolutePath(), fileInfo->baseName(), suffix);
}

void MainWindow::abortExports()
{
    const QList<ExportRun*> runs = findChildren<ExportRun*>(QString(), Qt::FindDirectChildrenOnly);
    for (ExportRun* run : runs)
        run->abort();
}

void MainWindow::updateExportActions()
{
    bool idle = true;
    const QList<ExportRun*> runs = findChildren<ExportRun*>(QString(), Qt::FindDirectChildrenOnly);
    for (const ExportRun* run : runs)
        idle = idle && !run->isRunning();
    ui->action_Export_STL->setEnabled(idle);
    ui->action_Export_Images->setEnabled(idle);
}

void MainWindow::on_action_Export_STL_triggered()
{
    const QString title = tr("Export STL");
    SliceView* view = ui->graphicsView;
    if (view->sliceCount() == 0) {
        ModalDialogs::information(this, title, tr("No slices to export."));
        return;
    }
    const QString name =
        ModalDialogs::getSaveFileName(this, title, exportProposal(QStringLiteral(".stl")), tr("Binary STL Files (*.stl)"));
    if (name.isEmpty())
        return;
    QString thickness = QString::number(double(view->sliceThickness(1)), 'f', 5);
    thickness.remove(QRegularExpression(QStringLiteral("\\.?0+$")));
    exportStlDialog->setProperty("SaveFileName", name);
    exportStlDialog->setProperty("SliceThickness", thickness);
    exportStlDialog->open();
}

void MainWindow::on_exportStlDialog_finished(int result)
{
    if (result == 0)
        return;
    const QString name = exportStlDialog->property("SaveFileName").toString();
    const QString title = exportStlDialog->windowTitle();
    QProgressDialog* progress = new QProgressDialog(this);
    // The model goes to a temporary file that replaces the chosen one only once it is complete:
    // a cancelled or failed export leaves whatever was there before as it was.
    QSaveFile* file = new QSaveFile(name, progress);
    if (name.isEmpty() || !file->open(QIODevice::WriteOnly)) {
        delete progress;
        taskbarProgress->failed();
        ModalDialogs::critical(this, title, tr("Cannot write to file %1.").arg(nativePath(name)));
        return;
    }

    // The engine has no parent: the run deletes it before the file it writes to.
    geom::StlExporter* engine = new geom::StlExporter(file, ui->graphicsView->slices());
    if (exportStlDialog->isMinimumThicknessEnabled())
        engine->setMinimumThickness(exportStlDialog->sliceThickness());
    ExportRun* run = new ExportRun(engine, progress, this);
    if (QProgressBar* bar = progress->findChild<QProgressBar*>())
        connect(bar, SIGNAL(valueChanged(int)), this, SLOT(exportStl_progress_valueChanged(int)));
    const QPointer<QSaveFile> output(file);
    connect(run, &ExportRun::finished, this,
            [this, run, output, name, title] { finishStlExport(run, output, name, title); });

    progress->setMinimumSize(progress->sizeHint());
    progress->setRange(0, engine->slices().size());
    progress->setWindowModality(Qt::WindowModal);
    progress->setWindowTitle(title);
    progress->setProperty("OutputFileName", QFileInfo(name).fileName());
    progress->show();
    taskbarProgress->started(progress);

    run->start([engine] {
        engine->run();
        return 0;
    });
    updateExportActions();
}

void MainWindow::finishStlExport(ExportRun* run, QSaveFile* file, const QString& name, const QString& title)
{
    const geom::StlExporter* engine = qobject_cast<geom::StlExporter*>(run->engine());
    // A cancel that came after the last slice still counts: the user was told it would stop.
    const bool cancelled = run->isCancelled() || !engine || engine->wasCancelled();
    QString failure;
    if (!cancelled) {
        if (!engine->succeeded()) {
            failure = engine->errorString();
            if (failure.isEmpty())
                failure = tr("The model could not be written.");
        } else if (!file || !file->commit()) {
            failure = file ? file->errorString() : tr("The model could not be written.");
        }
    }
    if (file && (cancelled || !failure.isEmpty()))
        file->cancelWriting();
    endExportRun(run, title,
                 failure.isEmpty() ? QString() : tr("Cannot write to file %1.\n%2").arg(nativePath(name), failure));
}

// Releases a finished run and tells the user and the launcher how it ended: silently when the
// window aborted it, as an error when `failure` holds a message. True when it ended normally
// (completed or cancelled by the user).
bool MainWindow::endExportRun(ExportRun* run, const QString& title, const QString& failure)
{
    const bool quiet = run->isAborted();
    run->dispose();
    run->deleteLater();
    updateExportActions();

    if (quiet) {
        taskbarProgress->setState(TaskbarProgress::NoProgress);
        return false;
    }
    if (!failure.isEmpty()) {
        taskbarProgress->failed();
        ModalDialogs::critical(this, title, failure);
        return false;
    }
    taskbarProgress->finished();
    return true;
}

void MainWindow::exportStl_progress_valueChanged(int value)
{
    QProgressBar* bar = qobject_cast<QProgressBar*>(sender());
    QProgressDialog* progress = bar ? qobject_cast<QProgressDialog*>(bar->parentWidget()) : nullptr;
    if (!progress || value < bar->minimum())
        return;
    // The engine reports the index of the slice it is about to export, then the slice count
    // while it closes the top of the last layer.
    const int count = bar->maximum();
    const int slice = qBound(qMin(1, count), value + 1, count);
    progress->setLabelText(tr("Exporting slice %1 of %2 to %3...")
                               .arg(QString::number(slice), QString::number(count),
                                    progress->property("OutputFileName").toString()));
}

void MainWindow::on_action_Export_Images_triggered()
{
    const QString title = tr("Export Images");
    const int count = ui->graphicsView->sliceCount();
    if (count == 0) {
        ModalDialogs::information(this, title, tr("No slices to export."));
        return;
    }
    const int digits = QString::number(count).size();
    QString proposal = exportProposal(QStringLiteral(".png"));
    QString base;
    QStringList paths;
    for (;;) {
        const QString name = ModalDialogs::getSaveFileName(this, title, proposal, tr("Portable Network Graphic (*.png)"),
                                                           nullptr, QFileDialog::DontConfirmOverwrite);
        if (name.isEmpty())
            return;
        proposal = name;
        const QFileInfo chosen(name);
        const QString dir = chosen.absolutePath();
        if (!QFileInfo(dir).isWritable()) {
            ModalDialogs::critical(this, exportImagesDialog->windowTitle(),
                                   tr("Cannot write into directory %1.").arg(nativePath(dir)));
            continue;
        }
        base = chosen.baseName();
        paths.clear();
        bool exists = false;
        for (int i = 1; i <= count; ++i) {
            paths.append(QStringLiteral("%1/%2%3.png")
                             .arg(dir, base, QStringLiteral("%1").arg(i, digits, 10, QLatin1Char('0'))));
            if (!exists)
                exists = QFileInfo::exists(paths.last());
        }
        if (!exists)
            break;
        const QMessageBox::StandardButton answer = ModalDialogs::warning(
            this, title, tr("Slice images already exist in %1.\nDo you want to replace them?").arg(nativePath(dir)),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Yes)
            break;
        if (answer != QMessageBox::No)
            return;
    }
    exportImagesDialog->setProperty("BaseName", base);
    exportImagesDialog->setProperty("Digits", digits);
    exportImagesDialog->setProperty("FilePaths", paths);
    exportImagesDialog->open();
}

void MainWindow::on_exportImagesDialog_finished(int result)
{
    if (result == 0)
        return;
    ExportImagesDialog* dialog = exportImagesDialog;
    const QString title = tr("Export Images");
    const QList<Slice>& slices = ui->graphicsView->slices();
    const QStringList files = dialog->property("FilePaths").toStringList();

    QProgressDialog* progress = new QProgressDialog(this);
    geom::ImagineSlice* engine = new geom::ImagineSlice(slices, progress);
    const double resolutionX = dialog->resolutionX();
    const double resolutionY = dialog->resolutionY();
    QTransform transform;
    transform.translate(0.0, resolutionY);
    transform.scale(resolutionX / dialog->platformSizeX(), -(resolutionY / dialog->platformSizeY()));
    transform.translate(dialog->offsetX(), dialog->offsetY());
    engine->setSize(QSize(dialog->resolutionX(), dialog->resolutionY()));
    engine->setTransform(transform);

    ExportRun* run = new ExportRun(engine, progress, this);
    if (QProgressBar* bar = progress->findChild<QProgressBar*>())
        connect(bar, SIGNAL(valueChanged(int)), this, SLOT(exportImages_progress_valueChanged(int)));
    connect(run, &ExportRun::finished, this, [this, run, files, title] { finishImagesExport(run, files, title); });

    progress->setWindowModality(Qt::WindowModal);
    // The names were made for the slices of the moment; a reload since then may have changed
    // their number, and the label must not name an image that is not written.
    progress->setRange(0, qMin(engine->slices().size(), files.size()));
    progress->setWindowTitle(title);
    progress->setMinimumSize(progress->sizeHint());
    progress->setProperty("BaseName", dialog->property("BaseName"));
    progress->setProperty("Digits", dialog->property("Digits"));
    progress->show();
    taskbarProgress->started(progress);

    run->start([engine, files] { return engine->run(files, 0); });
    updateExportActions();
}

void MainWindow::finishImagesExport(ExportRun* run, const QStringList& files, const QString& title)
{
    const geom::ImagineSlice* engine = qobject_cast<geom::ImagineSlice*>(run->engine());
    const int expected = engine ? qMin(engine->slices().size(), files.size()) : files.size();
    const int written = qBound(0, run->result(), files.size());
    const QString engineError = engine ? engine->errorString() : QString();
    QString failure;
    QString leftovers;
    if (run->isCancelled()) {
        // The engine removes what it wrote when it sees the cancel; one that came after it had
        // finished finds the images still there.
        QStringList remaining;
        for (int k = 0; k < written; ++k) {
            if (!QFile::remove(files.at(k)) && QFileInfo::exists(files.at(k)))
                remaining.append(nativePath(files.at(k)));
        }
        leftovers = engineError;
        if (!remaining.isEmpty()) {
            if (!leftovers.isEmpty())
                leftovers += QLatin1Char('\n');
            leftovers += tr("The export was cancelled; these images could not be removed: %1")
                             .arg(remaining.join(QStringLiteral(", ")));
        }
    } else if (written < expected) {
        failure = engineError.isEmpty()
                      ? tr("Cannot write to file %1.").arg(nativePath(files.value(written)))
                      : engineError;
    }
    if (endExportRun(run, title, failure) && !leftovers.isEmpty())
        ModalDialogs::warning(this, title, leftovers);
}

void MainWindow::exportImages_progress_valueChanged(int value)
{
    QProgressBar* bar = qobject_cast<QProgressBar*>(sender());
    QProgressDialog* progress = bar ? qobject_cast<QProgressDialog*>(bar->parentWidget()) : nullptr;
    if (!progress || value < bar->minimum())
        return;
    // At k the engine has written images 1 .. k and is finishing image k + 1; once complete it
    // reports the number of images, which names the last one.
    const int count = bar->maximum();
    const int image = qBound(qMin(1, count), value + 1, count);
    const QString file =
        QStringLiteral("%1%2.png")
            .arg(progress->property("BaseName").toString(),
                 QStringLiteral("%1").arg(image, progress->property("Digits").toInt(), 10, QLatin1Char('0')));
    progress->setLabelText(
        tr("Exporting slice %1 of %2 to %3...").arg(QString::number(image), QString::number(count), file));
}
