#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "exportimagesdialog.h"
#include "exportrun.h"
#include "exportstldialog.h"
#include "images/imageseriesnames.h"
#include "images/imagineslice.h"
#include "mainwindow_p.h"
#include "memoryrelease.h"
#include "modaldialogs.h"
#include "sliceexporter.h"
#include "stl/stlexporter.h"
#include "taskbarprogress.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTransform>

#include <algorithm>

// The exports: the current slice to a file of its own, and the threaded exports of the whole
// part (an STL model, an image series).

using namespace MainWindowSettings;

namespace {

// How many numbers the warning about slices without an outline names before it stops.
const int slicesNamedWithoutOutline = 10;

} // namespace

// Export of the current slice

void MainWindow::on_action_Export_triggered()
{
    const QString title = tr("Export");
    const QString filters = tr("Portable Network Graphic files (*.png);;Scalable Vector Graphic files (*.svg);;"
                               "Slice files (*.slc)");
    const QString start = QSettings().value(lastExportDirectoryKey).toString();
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

    SliceView *view = ui->graphicsView;
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
    if (suffixAdded && !replaceAddedSuffixName(title, target))
        return;

    bool written = false;
    QString reason;
    switch (format) {
    case SliceExporter::Png:
        written = SliceExporter::writePng(name, viewImage(Qt::transparent), &reason);
        break;
    case SliceExporter::Svg:
        written = SliceExporter::writeSvg(name, view->slices().at(current - 1), view->bounds(), &reason);
        break;
    case SliceExporter::Slc:
        written = SliceExporter::writeSlc(name, {view->slices().at(current - 1)}, &reason);
        break;
    case SliceExporter::NoFormat:
        break;
    }
    QSettings().setValue(lastExportDirectoryKey, target.absolutePath());
    if (!written)
        ModalDialogs::critical(this, title,
                               withReason(tr("Cannot write to file %1.").arg(nativePath(target.absoluteFilePath())), reason));
}

// The threaded exports; the form connects them by name. Each runs its engine on the global
// thread pool under an ExportRun, which keeps the engine, the progress dialog and the output
// alive until the engine's run has returned.

QString MainWindow::exportProposal(const QString &suffix) const
{
    if (!fileInfo)
        return QString();
    return QStringLiteral("%1/%2%3").arg(fileInfo->absolutePath(), fileInfo->baseName(), suffix);
}

void MainWindow::abortExports()
{
    const QList<ExportRun *> runs = findChildren<ExportRun *>(QString(), Qt::FindDirectChildrenOnly);
    for (ExportRun *run : runs)
        run->abort();
}

void MainWindow::updateExportActions()
{
    bool idle = true;
    const QList<ExportRun *> runs = findChildren<ExportRun *>(QString(), Qt::FindDirectChildrenOnly);
    for (const ExportRun *run : runs)
        idle = idle && !run->isRunning();
    ui->action_Export_STL->setEnabled(idle);
    ui->action_Export_Images->setEnabled(idle);
}

void MainWindow::on_action_Export_STL_triggered()
{
    const QString title = tr("Export STL");
    SliceView *view = ui->graphicsView;
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
    QProgressDialog *progress = new QProgressDialog(this);
    // The model goes to a temporary file that replaces the chosen one only once it is complete:
    // a cancelled or failed export leaves whatever was there before as it was.
    QSaveFile *file = new QSaveFile(name, progress);
    QString reason;
    if (name.isEmpty() || !SliceExporter::openForWriting(*file, &reason)) {
        delete progress;
        taskbarProgress->failed();
        ModalDialogs::critical(this, title, withReason(tr("Cannot write to file %1.").arg(nativePath(name)), reason));
        return;
    }

    // The engine has no parent: the run deletes it before the file it writes to.
    geom::StlExporter *engine = new geom::StlExporter(file, ui->graphicsView->slices());
    if (exportStlDialog->isMinimumThicknessEnabled())
        engine->setMinimumThickness(exportStlDialog->sliceThickness());

    progress->setProperty("OutputFileName", QFileInfo(name).fileName());
    const QPointer<QSaveFile> output(file);
    startExport(engine, progress, title, engine->slices().size(), SLOT(exportStl_progress_valueChanged(int)),
                [engine] {
                    engine->run();
                    return 0;
                },
                [this, output, name, title](ExportRun *run) { finishStlExport(run, output, name, title); });
}

void MainWindow::finishStlExport(ExportRun *run, QSaveFile *file, const QString &name, const QString &title)
{
    const geom::StlExporter *engine = qobject_cast<geom::StlExporter *>(run->engine());
    // A cancel that came after the last slice still counts: the user was told it would stop.
    const bool cancelled = run->isCancelled() || !engine || engine->wasCancelled();
    QString failure;
    if (!cancelled) {
        if (!engine->succeeded()) {
            failure = engine->errorString();
            if (failure.isEmpty())
                failure = tr("The model could not be written.");
            const QString reason = file ? SliceExporter::writeFailureReason(*file) : QString();
            if (!failure.contains(reason))
                failure = withReason(failure, reason);
        } else if (!file || !file->commit()) {
            failure = file ? file->errorString() : tr("The model could not be written.");
        }
    }
    if (file && (cancelled || !failure.isEmpty()))
        file->cancelWriting();
    // Read before the run releases the engine; only a model that was kept has gaps to tell of.
    const QVector<int> withoutOutline =
        cancelled || !failure.isEmpty() ? QVector<int>() : engine->slicesWithoutOutline();
    const int sliceCount = engine ? engine->slices().size() : 0;
    if (!endExportRun(run, title,
                      failure.isEmpty() ? QString() : tr("Cannot write to file %1.\n%2").arg(nativePath(name), failure))
        || withoutOutline.isEmpty())
        return;

    // Slices whose contours are all holes leave their layers empty; the exporter cannot tell a
    // part drawn the wrong way round from one meant to be so, so the user decides.
    QStringList numbers;
    for (int i = 0; i < qMin(withoutOutline.size(), slicesNamedWithoutOutline); ++i)
        numbers.append(QString::number(withoutOutline.at(i)));
    if (withoutOutline.size() > slicesNamedWithoutOutline)
        numbers.append(QString(QChar(0x2026)));
    ModalDialogs::warning(this, title,
                          tr("The model was written, but %1 of its %2 slices gave no outline: the model has nothing "
                             "at their heights.\nSlices without an outline: %3.\nTheir contours may all run "
                             "clockwise (holes without an outer boundary).")
                              .arg(QString::number(withoutOutline.size()), QString::number(sliceCount),
                                   numbers.join(QStringLiteral(", "))));
}

// Releases a finished run and tells the user and the launcher how it ended: silently when the
// window aborted it, as an error when `failure` holds a message. True when it ended normally
// (completed or cancelled by the user).
bool MainWindow::endExportRun(ExportRun *run, const QString &title, const QString &failure)
{
    const bool quiet = run->isAborted();
    run->dispose();
    run->deleteLater();
    MemoryRelease::releaseFreedMemory();
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
    // The engine reports the index of the slice it is about to export, then the slice count
    // while it closes the top of the last layer.
    labelExportStep(value, [](QProgressDialog *progress, int) { return progress->property("OutputFileName").toString(); });
}

void MainWindow::on_action_Export_Images_triggered()
{
    const QString title = tr("Export Images");
    const int count = ui->graphicsView->sliceCount();
    if (count == 0) {
        ModalDialogs::information(this, title, tr("No slices to export."));
        return;
    }
    const int digits = ImageSeriesNames::digitsFor(count);
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
        paths = ImageSeriesNames(dir, base, digits).filePaths(count);
        if (std::none_of(paths.cbegin(), paths.cend(), [](const QString &path) { return QFileInfo::exists(path); }))
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
    // The export goes on in on_exportImagesDialog_finished(), reached through the form's connection by name.
    exportImagesDialog->open();
}

void MainWindow::on_exportImagesDialog_finished(int result)
{
    if (result == 0)
        return;
    ExportImagesDialog *dialog = exportImagesDialog;
    const QString title = tr("Export Images");
    // With the default offsets a part centred on the origin would come out as a corner of it.
    const QString overhang = platformOverhang();
    if (!overhang.isEmpty()) {
        const QString question = tr("The part does not fit on the platform with these offsets: it reaches %1 "
                                    "beyond it.\nDo you want to export the images anyway?")
                                     .arg(overhang);
        if (ModalDialogs::warning(this, title, question, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
            // Back to the platform's values as the user left them.
            dialog->open();
            return;
        }
    }
    const QStringList files = dialog->property("FilePaths").toStringList();

    QProgressDialog *progress = new QProgressDialog(this);
    geom::ImagineSlice *engine = new geom::ImagineSlice(ui->graphicsView->slices(), progress);
    const double resolutionX = dialog->resolutionX();
    const double resolutionY = dialog->resolutionY();
    QTransform transform;
    transform.translate(0.0, resolutionY);
    transform.scale(resolutionX / dialog->platformSizeX(), -(resolutionY / dialog->platformSizeY()));
    transform.translate(dialog->offsetX(), dialog->offsetY());
    engine->setSize(QSize(dialog->resolutionX(), dialog->resolutionY()));
    engine->setTransform(transform);

    progress->setProperty("BaseName", dialog->property("BaseName"));
    progress->setProperty("Digits", dialog->property("Digits"));
    // The names were made for the slices of the moment; a reload since then may have changed
    // their number, and the label must not name an image that is not written.
    startExport(engine, progress, title, qMin(engine->slices().size(), files.size()),
                SLOT(exportImages_progress_valueChanged(int)), [engine, files] { return engine->run(files, 0); },
                [this, files, title](ExportRun *run) { finishImagesExport(run, files, title); });
}

QString MainWindow::platformOverhang() const
{
    const QRectF &bounds = ui->graphicsView->bounds();
    if (bounds.isNull())
        return QString();
    const ExportImagesDialog *dialog = exportImagesDialog;
    const QRectF part = bounds.translated(dialog->offsetX(), dialog->offsetY());
    const struct
    {
        double beyond;
        QString side;
    } sides[] = {{-part.left(), tr("%1 mm in -X")},
                 {part.right() - dialog->platformSizeX(), tr("%1 mm in +X")},
                 {-part.top(), tr("%1 mm in -Y")},
                 {part.bottom() - dialog->platformSizeY(), tr("%1 mm in +Y")}};
    QStringList overhangs;
    for (const auto &side : sides) {
        if (side.beyond > 0.0)
            overhangs.append(side.side.arg(number(side.beyond)));
    }
    return overhangs.join(tr(", "));
}

void MainWindow::finishImagesExport(ExportRun *run, const QStringList &files, const QString &title)
{
    geom::ImagineSlice *engine = qobject_cast<geom::ImagineSlice *>(run->engine());
    const int expected = engine ? qMin(engine->slices().size(), files.size()) : files.size();
    const int written = qBound(0, run->result(), files.size());
    const QString engineError = engine ? engine->errorString() : QString();
    QString failure;
    QString leftovers;
    if (run->isCancelled()) {
        // The engine leaves everything as it was when it sees the cancel; one that came after it
        // had replaced the series is undone here, the older images put back.
        leftovers = engineError;
        if (engine && written > 0 && !engine->revertRun())
            leftovers = engine->errorString();
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
    // At k the engine has written images 1 .. k and is finishing image k + 1; once complete it
    // reports the number of images, which names the last one.
    labelExportStep(value, [](QProgressDialog *progress, int image) {
        return ImageSeriesNames(QString(), progress->property("BaseName").toString(),
                                progress->property("Digits").toInt())
            .fileName(image);
    });
}

void MainWindow::startExport(QObject *engine, QProgressDialog *progress, const QString &title, int steps,
                             const char *labelSlot, std::function<int()> work,
                             std::function<void(ExportRun *)> finish)
{
    ExportRun *run = new ExportRun(engine, progress, this);
    if (QProgressBar *bar = progress->findChild<QProgressBar *>())
        connect(bar, SIGNAL(valueChanged(int)), this, labelSlot);
    connect(run, &ExportRun::finished, this, [run, finish] { finish(run); });

    progress->setWindowModality(Qt::WindowModal);
    progress->setRange(0, steps);
    progress->setWindowTitle(title);
    progress->setMinimumSize(progress->sizeHint());
    progress->show();
    taskbarProgress->started(progress);

    run->start(std::move(work));
    updateExportActions();
}

void MainWindow::labelExportStep(int value, const std::function<QString(QProgressDialog *, int)> &outputName)
{
    QProgressBar *bar = qobject_cast<QProgressBar *>(sender());
    QProgressDialog *progress = bar ? qobject_cast<QProgressDialog *>(bar->parentWidget()) : nullptr;
    if (!progress || value < bar->minimum())
        return;
    const int count = bar->maximum();
    const int item = qBound(qMin(1, count), value + 1, count);
    progress->setLabelText(tr("Exporting slice %1 of %2 to %3...")
                               .arg(QString::number(item), QString::number(count), outputName(progress, item)));
}
