#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QVector2D>

#include <functional>

class ExportImagesDialog;
class ExportRun;
class ExportStlDialog;
class NewsDialog;
class QAction;
class QCloseEvent;
class QColor;
class QDragEnterEvent;
class QDropEvent;
class QEvent;
class QFileInfo;
class QFileSystemWatcher;
class QImage;
class QLabel;
class QProgressDialog;
class QSaveFile;
class QShowEvent;
class QStringList;
class QTimer;
class QUrl;
class QWheelEvent;
class TaskbarProgress;

namespace Ui {
class MainWindow;
}

// The program's top-level window: one SLC file per window, shown one slice at a time in the
// slice view, browsed with the slider under it. Every way a file arrives ends in openFile().
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool hasFile() const;
    int decimalPlaces() const;

public slots:
    void openFile(const QString &fileName);
    void saveFile(const QString &fileName);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_action_Show_Vertices_toggled(bool checked);
    void on_action_Enable_Animations_toggled(bool checked);
    void on_action_Enable_OpenGL_toggled(bool checked);
    void on_action_Export_STL_triggered();
    void on_action_Reset_triggered();
    void on_action_Close_triggered();
    void on_action_Ruler_toggled(bool checked);
    void on_action_News_triggered();
    void on_action_Play_Frames_Per_Second_triggered();
    void on_action_Run_Back_Slices_toggled(bool checked);
    void on_action_Run_Through_Slices_toggled(bool checked);
    void on_action_Decimal_Places_triggered();
    void on_action_Grid_Interval_triggered();
    void on_action_Show_Grid_toggled(bool checked);
    void on_action_Save_As_triggered();
    void on_action_Save_triggered();
    void on_action_Clear_Overlay_triggered();
    void on_action_Grab_or_Replace_Overlay_triggered();
    void on_action_Go_to_Slice_Z_triggered();
    void on_action_Go_to_Slice_triggered();
    void on_action_Copy_to_Clipboard_triggered();
    void on_action_Check_Slices_triggered();
    void on_action_About_triggered();
    void openRecentFile();
    void removeRecentFile(const QString &fileName);
    void playTimerEvent();
    void on_action_Zoom_to_All_triggered();
    void on_sliceSlider_valueChanged(int value);
    void on_action_Export_triggered();
    void on_action_Open_triggered();
    void on_action_Zoom_Out_triggered();
    void on_action_Zoom_In_triggered();
    void on_graphicsView_mouseLeave();
    void on_graphicsView_mouseMove(const QPointF &position);
    void on_graphicsView_mouseClicked(Qt::MouseButton button, const QPointF &position);
    void on_graphicsView_dragEnter(QDragEnterEvent *event);
    void on_graphicsView_drop(QDropEvent *event);
    void on_menu_File_aboutToShow();
    void on_fileSystemWatcher_fileChanged(const QString &path);
    void on_exportImagesDialog_finished(int result);
    void on_exportStlDialog_finished(int result);
    void viewLicense(const QUrl &url);
    void on_action_Export_Images_triggered();
    void on_action_Information_triggered();
    void on_action_Changelog_triggered();
    void exportImages_progress_valueChanged(int value);
    void exportStl_progress_valueChanged(int value);

private:
    void retranslate();
    void setCurrentFile(const QString &fileName);
    void updateWindowTitle();
    void updateRecentFileActions();
    void updateStatusBar();
    // The status bar's text for the shown slice, with or without the cursor position.
    QString statusMessage(bool withPosition) const;
    // The cursor position reported last no longer holds; the status bar says so.
    void forgetMousePosition();
    void updateRuler();
    // Back to the window without a file: slice commands off, slider hidden, logo shown.
    void resetToNoFile();
    // The commands that need slices, and the slider: on while the window shows some.
    void setSliceCommandsEnabled(bool enabled);
    void stopPlayback();
    // Starts playing through the slices in one direction (on), or stops.
    void setPlayback(bool forward, bool on);
    // The watcher holds exactly the current file (or nothing while none is current).
    void watchCurrentFile();
    QString number(double value) const;
    // The view's contents rectangle as an image, `background` wherever the view paints nothing.
    QImage viewImage(const QColor &background) const;
    // A modeless report whose slice links move the slider while the window still holds the
    // slices the report was made from.
    void showReport(const QString &title, const QString &html, const QString &icon, const QSize &size);
    // Asks whether to replace `target`, the name the user typed with the suffix the format adds;
    // true when it does not exist yet or may be replaced.
    bool replaceAddedSuffixName(const QString &title, const QFileInfo &target);
    // The open file's directory and base name with the suffix: where an export is proposed.
    QString exportProposal(const QString &suffix) const;
    // How far the part reaches beyond the image series' platform under the offsets chosen in
    // its dialog, side by side ("5 mm in -X, 2 mm in +Y"); empty when it fits.
    QString platformOverhang() const;
    // The threaded exports start here, once their engine is configured: the run takes the
    // engine and the progress dialog, which counts `steps` and words its label through the slot
    // `labelSlot`; work runs on the pool, finish hears the end once the run has returned.
    void startExport(QObject *engine, QProgressDialog *progress, const QString &title, int steps,
                     const char *labelSlot, std::function<int()> work, std::function<void(ExportRun *)> finish);
    // The label of the progress dialog whose bar sent `value`: the number of the slice it works
    // on, of how many, and the file it goes to (outputName, from the dialog and that number).
    void labelExportStep(int value, const std::function<QString(QProgressDialog *, int)> &outputName);
    // The threaded exports end here once their run has returned: the output is kept or thrown
    // away, then the user hears what happened.
    void finishStlExport(ExportRun *run, QSaveFile *file, const QString &name, const QString &title);
    void finishImagesExport(ExportRun *run, const QStringList &files, const QString &title);
    // Stops the exports under way and waits for them; the window is going.
    void abortExports();
    // A cancelled export winds down after its dialog has gone; one started meanwhile would
    // write the very files the other is removing.
    void updateExportActions();
    bool endExportRun(ExportRun *run, const QString &title, const QString &failure);

    Ui::MainWindow *ui;
    ExportImagesDialog *exportImagesDialog;
    ExportStlDialog *exportStlDialog;
    QLabel *statusRight;
    QByteArray defaultState;
    QString baseTitle;
    QList<QAction *> recentFileActions;
    QFileSystemWatcher *fileSystemWatcher;
    QString fileName;
    QFileInfo *fileInfo = nullptr;
    double mouseX = 0.0;
    double mouseY = 0.0;
    // Whether mouseX and mouseY are where the cursor is over the slices shown: not once another
    // file opened, the cursor left the view or a menu took it over, until the view reports again.
    bool mousePositionKnown = false;
    QTimer *playTimer;
    bool playForward = true;
    NewsDialog *newsDialog = nullptr;
    QList<QVector2D> rulerPoints;
    int m_decimalPlaces = 3;
    TaskbarProgress *taskbarProgress;
    // Wheel angle (eighths of a degree) not yet turned into a slider step.
    int wheelRemainder = 0;
    // One reload question at a time for this window: the question runs a local event loop, and
    // a notification arriving meanwhile is dropped rather than asked again. Other windows ask
    // about their own files.
    bool reloadQuestionOpen = false;
    // Counts every change of the view's slices (open, reload, close).
    quint64 slicesGeneration = 0;
    // The file named on the command line, until the window is on screen to open it.
    QString commandLineFile;
};

#endif // MAINWINDOW_H
