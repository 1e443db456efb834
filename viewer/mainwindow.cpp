#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "changelogdialog.h"
#include "decimalformat.h"
#include "exportimagesdialog.h"
#include "exportrun.h"
#include "exportstldialog.h"
#include "licensedialog.h"
#include "mainwindow_p.h"
#include "modaldialogs.h"
#include "newsdialog.h"
#include "recentfiles.h"
#include "taskbarprogress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDirIterator>
#include <QDockWidget>
#include <QExposeEvent>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <cmath>

// The window's construction, its events and the settings it keeps; the files it shows, the
// view's commands and the exports are in mainwindow_files.cpp, mainwindow_view.cpp and
// mainwindow_export.cpp.

using namespace MainWindowSettings;

namespace {

const int wheelNotch = 120;

// The command-line file belongs to the first window the program shows; later shows, and
// windows made for file-open requests, must not reopen it over their own file.
bool commandLineTaken = false;

// Offers the show/hide actions of the window's own docks or tool bars in a menu, before
// `before`, with a separator after them; `tip` words the status tip from the bar's title.
template <typename Bar>
void addViewToggles(QMainWindow *window, QMenu *menu, QAction *before, const QString &tip)
{
    const QList<Bar *> bars = window->findChildren<Bar *>(QString(), Qt::FindDirectChildrenOnly);
    for (Bar *bar : bars) {
        QAction *toggle = bar->toggleViewAction();
        toggle->setStatusTip(tip.arg(bar->windowTitle()));
        menu->insertAction(before, toggle);
    }
    menu->insertSeparator(before);
}

struct NamedIcon
{
    QString path;
    QIcon icon;
};

bool sameIcon(const QIcon &a, const QIcon &b)
{
    const QList<QSize> sizes = a.availableSizes(QIcon::Normal, QIcon::Off);
    if (sizes != b.availableSizes(QIcon::Normal, QIcon::Off))
        return false;
    for (const QSize &size : sizes) {
        if (a.pixmap(size, QIcon::Normal, QIcon::Off).toImage() != b.pixmap(size, QIcon::Normal, QIcon::Off).toImage())
            return false;
    }
    return true;
}

// Rich tool tips show the action's picture; the rich text can only name it by a resource path,
// so the resource image the icon was made from is looked up by its pixels.
QString imagePathOf(const QIcon &icon, const QList<NamedIcon> &images)
{
    for (const NamedIcon &image : images) {
        if (sameIcon(icon, image.icon))
            return image.path;
    }
    return QString();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
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
    addViewToggles<QDockWidget>(this, ui->menu_View, ui->action_Reset, tr("Toggle %1 panel"));
    addViewToggles<QToolBar>(this, ui->menu_View, ui->action_Reset, tr("Toggle %1 toolbar"));

    QSettings settings;
    m_decimalPlaces = boundedInt(settings.value(decimalPlacesKey), decimalPlacesDefault, decimalPlacesMinimum,
                                 decimalPlacesMaximum);

    ui->sliceSlider->hide();
    baseTitle = windowTitle();

    playTimer = new QTimer(this);
    playTimer->setObjectName(QStringLiteral("playTimer"));
    connect(playTimer, SIGNAL(timeout()), this, SLOT(playTimerEvent()));
    const double framesPerSecond = boundedReal(settings.value(framesPerSecondKey), framesPerSecondDefault,
                                               framesPerSecondMinimum, framesPerSecondMaximum);
    playTimer->setInterval(int(1000.0 / framesPerSecond));

    for (int i = 0; i < RecentFiles::maxCount; ++i) {
        QAction *action = new QAction(ui->menu_File);
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

    // A menu takes the cursor over: what the view reported before is not where it is now. The
    // status tips of the menu's entries clear the bar as the menu closes; it is rebuilt after.
    const QList<QMenu *> menus = menuBar()->findChildren<QMenu *>();
    for (QMenu *menu : menus) {
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::forgetMousePosition);
        connect(menu, &QMenu::aboutToHide, this, &MainWindow::forgetMousePosition, Qt::QueuedConnection);
    }

    SliceView *view = ui->graphicsView;
    view->setAnimationsEnabled(settings.value(animationsKey, animationsDefault).toBool());
    ui->action_Enable_Animations->setChecked(view->animationsEnabled());
    {
        // The view falls back to a plain view port where no OpenGL context can be made; the
        // action then shows what the view really has.
        const bool openGL = settings.value(openGLKey, openGLDefault).toBool()
                            && view->setOpenGLEnabled(true);
        const QSignalBlocker blocker(ui->action_Enable_OpenGL);
        ui->action_Enable_OpenGL->setChecked(openGL);
    }
    view->setGridInterval(boundedReal(settings.value(gridIntervalKey), gridIntervalDefault, gridIntervalMinimum, HUGE_VAL));
    view->setGridVisible(settings.value(gridVisibleKey, gridVisibleDefault).toBool());
    ui->action_Show_Grid->setChecked(view->isGridVisible());
    view->setShowVertices(settings.value(verticesKey, verticesDefault).toBool());
    ui->action_Show_Vertices->setChecked(view->showVertices());

    retranslate();

    resize(size().expandedTo(sizeHint()));
    defaultState = saveState(0);
    restoreState(settings.value(windowStateKey).toByteArray(), 0);

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
    const QList<QToolBar *> toolBars = findChildren<QToolBar *>(QString(), Qt::FindDirectChildrenOnly);
    for (QToolBar *toolBar : toolBars) {
        const QList<QAction *> actions = toolBar->actions();
        for (QAction *action : actions) {
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    abortExports();
    SliceView *view = ui->graphicsView;
    QSettings settings;
    settings.setValue(decimalPlacesKey, m_decimalPlaces);
    settings.setValue(windowStateKey, saveState(0));
    settings.setValue(animationsKey, view->animationsEnabled());
    settings.setValue(openGLKey, ui->action_Enable_OpenGL->isChecked());
    settings.setValue(gridVisibleKey, view->isGridVisible());
    settings.setValue(gridIntervalKey, view->gridInterval());
    settings.setValue(verticesKey, view->showVertices());
    event->accept();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    const bool first = !commandLineTaken;
    commandLineTaken = true;
    const QStringList arguments = QCoreApplication::arguments();
    if (first && arguments.size() >= 2 && !hasFile()) {
        // Its messages (a missing file, a refused one) are placed over the window, which must be
        // where the window manager put it: opened once the window is on screen, not before the
        // window system has told where that is.
        commandLineFile = arguments.at(1);
        if (QWindow *window = windowHandle())
            window->installEventFilter(this);
        return;
    }
    QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
    if (!hasFile())
        QMetaObject::invokeMethod(ui->graphicsView, "zoomOut", Qt::QueuedConnection);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && watched == windowHandle() && !commandLineFile.isEmpty()
        && !static_cast<QExposeEvent *>(event)->region().isEmpty()) {
        watched->removeEventFilter(this);
        const QString name = commandLineFile;
        commandLineFile.clear();
        QMetaObject::invokeMethod(this, "openFile", Qt::QueuedConnection, Q_ARG(QString, name));
        QMetaObject::invokeMethod(ui->graphicsView, "zoomToAll", Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    return taskbarProgress->nativeEvent(eventType, message, result);
}

void MainWindow::wheelEvent(QWheelEvent *event)
{
    QSlider *slider = ui->sliceSlider;
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

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslate();
}

// The About box and the information windows

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

void MainWindow::viewLicense(const QUrl &)
{
    // Asked from the About box, the licence must stand above it, not behind it.
    QWidget *parent = QApplication::activeModalWidget();
    LicenseDialog *dialog = new LicenseDialog(parent ? parent : this);
    connect(dialog, SIGNAL(finished(int)), dialog, SLOT(deleteLater()));
    dialog->open();
}

void MainWindow::on_action_Changelog_triggered()
{
    ChangelogDialog *dialog = new ChangelogDialog(this);
    connect(dialog, SIGNAL(finished(int)), dialog, SLOT(deleteLater()));
    dialog->open();
}

void MainWindow::on_action_News_triggered()
{
    if (newsDialog)
        newsDialog->showNews();
}

