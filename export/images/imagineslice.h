#ifndef IMAGINESLICE_H
#define IMAGINESLICE_H

#include "slicestack.h"

#include <QBrush>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QTransform>

namespace geom {

class ImagineSlicePrivate;

// Rasterises slices into images, material in the fill brush and everything
// else in the background brush, on a pixel grid given by size() and by
// transform() (model millimetres to pixels), and saves them as an image series.
//
// Worker protocol: run() executes on a pool thread; cancel() may come from any
// thread. progress(k) with 0 <= k < number of images means that images 0 .. k-1
// of the run are written (to their temporary files) and image k is the one
// being finished next, so a label built from k + 1 names files[k]; a run that
// completes renames its images over their targets and then ends with
// progress(files.size()). finished() is emitted once by every run that was not
// refused, as the last thing the run does with the engine.
//
// The setters, imagine() and setScale() belong to the owner's thread and must
// not be used while run() is under way.
class ImagineSlice : public QObject
{
    Q_OBJECT

public:
    // The slices are taken into a stack of their own: sorted by z, repeated
    // heights dropped, each slice's contours ordered by decreasing area.
    explicit ImagineSlice(const QList<Slice> &slices, QObject *parent = nullptr);
    explicit ImagineSlice(const SliceStack &stack, QObject *parent = nullptr);
    ~ImagineSlice() override;

    const QList<Slice> &slices() const;

    QBrush backgroundBrush() const;
    void setBackgroundBrush(const QBrush &brush);
    QBrush fillBrush() const;
    void setFillBrush(const QBrush &brush);
    Qt::FillRule fillRule() const;
    void setFillRule(Qt::FillRule rule);
    QImage::Format format() const;
    void setFormat(QImage::Format format);
    QSize size() const;
    void setSize(const QSize &size);
    // Kept within [16, 32752]; the largest width or height setScale() gives.
    int maximumImageSize() const;
    void setMaximumImageSize(int size);
    QTransform transform() const;
    void setTransform(const QTransform &transform);

    // Bytes of slice images that run() may hold at once, each with the small
    // 8-bit band a 1-bit image is painted through (the blank template image is
    // not counted); at least one image is always allowed, so images larger
    // than the budget are made one at a time. Default 256 MiB.
    qint64 memoryBudget() const;
    void setMemoryBudget(qint64 bytes);

    // Model size of one pixel.
    QSizeF pixelSize() const;
    // Sizes the image and sets the transform so that the whole model extent
    // fits at the given millimetres per pixel, its lower-left corner at the
    // image's left edge and its top row in the image's first row. A scale that
    // is not a positive finite number, or a model without an extent, changes
    // nothing.
    void setScale(float mmPerPixel);

    // Image of slice index of the stack; null for an index outside the stack
    // or when no image of size() and format() can be made. Contours with a
    // coordinate that is not finite, in the model or on the pixel grid, are
    // left out with a warning.
    QImage imagine(int index);

    // Renders slice first + k into files[k] for k = 0 up to
    // min(slice count - first, files.size()) - 1 (first below 0 counts as 0),
    // on every core, each in the format of its suffix.
    //
    // The series is replaced as a whole or not at all: every image is written
    // to a hidden temporary file beside its target (".<file name>.<process
    // id>-<run>.quarne-new"), and only once all are written are they renamed
    // over their targets, each file they replace set aside under a hidden name
    // of its own (".quarne-old") until the renames have all succeeded. Returns
    // the number of images that replaced their targets: all of them, or 0.
    //
    // On the first failure (a file that cannot be written, a target that is a
    // directory, an image that cannot be made, a rename that is refused) no
    // further image is started, the temporary files are removed, whatever the
    // renames had replaced is put back, and errorString() names the file. A
    // cancelled run, also one cancelled while its last image was being
    // written, removes its temporary files the same way. Either way every file
    // that was there before is left as it was and no file is added; neither a
    // failed nor a cancelled run emits the final progress. Before its first
    // image a run removes what runs of processes that no longer exist (a
    // killed export) left in the folders it writes to, and nothing else: their
    // temporary files, and the hidden names of the files they had set aside (a
    // file set aside goes back where its target is missing).
    // A run while one is under way is refused: it logs a critical message and
    // returns 0 without a signal.
    int run(const QStringList &files, int first);

    // Undoes the last run after it completed, for a cancel that came too late
    // for it: its images are removed and the files they replaced come back.
    // The files it replaced are kept aside for this until the next run starts
    // or the engine goes (then they are removed on the global thread pool).
    // Takes a cancel still pending. False, with errorString() naming the
    // files, when some could not be put back. Not while a run is under way.
    bool revertRun();

    // Why the last run failed, naming the file, which temporary files a
    // cancelled run could not remove, or which files revertRun() could not put
    // back; empty when there is nothing to report. Read it after run() has
    // returned or finished() has arrived.
    QString errorString() const;
    // The largest number of slice images the last run held in memory at once.
    int peakImagesInFlight() const;

signals:
    void finished();
    void progress(int value);

public slots:
    // Stops the run under way after the images in progress; a cancel that
    // arrives while no run is under way stops the next run before its first
    // image. Only sets a flag and returns at once.
    void cancel();

private:
    Q_DISABLE_COPY(ImagineSlice)
    ImagineSlicePrivate *d;
};

} // namespace geom

#endif // IMAGINESLICE_H
