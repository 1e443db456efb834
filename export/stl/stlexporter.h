#ifndef GEOM_STLEXPORTER_H
#define GEOM_STLEXPORTER_H

#include "slice.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

class QIODevice;

namespace geom {

class StlExporterPrivate;

// Builds a closed triangle model from the slices of a part and writes it to a
// device as binary STL. Each exported slice becomes a layer: its outline,
// cleaned up, is extruded from the slice's z up to the next exported slice,
// with vertical walls on every outline edge and horizontal faces wherever two
// consecutive layers differ; the first layer gets a bottom face, the last a
// top face. The walls are split wherever the faces have a vertex on their
// edges (where outlines cross or overlap in part), so that every edge of the
// model is shared by exactly two facets in opposite directions.
//
// The layers are built on a pool of one thread per processor the process may
// run on, a few runs of consecutive layers at a time (so memory stays
// bounded), and written in layer order by the thread that runs run().
//
// A worker: run() executes on a pool thread (QtConcurrent::run), emits
// progress(i) with the index of each slice before it is exported and the
// slice count once the model is closed, and emits finished() exactly once as
// the last thing it does, whatever happened. cancel() may be called from any
// thread at any time, also before run() starts: the slice under way is
// completed and no further one is started. An exporter makes one export.
//
// The result is read after finished(): succeeded() is true only when every
// slice was exported and the file was written and closed without error; a
// failure (the device could not be written, a slice that cannot be
// tessellated, coordinates or heights that are not finite numbers, coordinates
// beyond the reach of the float arithmetic, StlLayerBuilder::maxCoordinate) leaves
// succeeded() false and errorString() saying why; wasCancelled() tells a
// cancelled export, whose file is readable but open at the top. The caller
// writes to a temporary file and keeps it only when succeeded().
class StlExporter : public QObject
{
    Q_OBJECT

public:
    // The device is opened by the caller (or opened write-only by the writer)
    // and must outlive the exporter. The slices are copied (shared).
    StlExporter(QIODevice *device, const QList<Slice> &slices);
    ~StlExporter() override;

    const QList<Slice> &slices() const;

    // Both in millimetres; negative values and NaN (and an infinite
    // tolerance) become 0, and calls while
    // run() is under way are ignored. The tolerance (0.02 mm) is that of the
    // outline clean-up; a slice is exported when it lies at least the minimum
    // thickness above the last exported one (compared with a relative
    // tolerance of 1e-5, so a minimum equal to the slice spacing keeps every
    // slice).
    void setTolerance(double tolerance);
    double tolerance() const;
    void setMinimumThickness(float thickness);
    float minimumThickness() const;

    // The export. A second call while one is under way is refused with a
    // critical log message and emits nothing.
    void run();

    bool succeeded() const;
    bool wasCancelled() const;
    QString errorString() const;
    // The number of facets written by the last run.
    int facetCount() const;
    // The slices of the last run (numbered from 1, in stack order) that were
    // exported but gave no outline: they had contours, yet none bounds a
    // region of positive winding (typically all of them run clockwise), or
    // all vanished in the clean-up. Their layers are empty.
    QVector<int> slicesWithoutOutline() const;

signals:
    void finished();
    void progress(int value);

public slots:
    void cancel();

private:
    StlExporterPrivate *d;
};

} // namespace geom

#endif // GEOM_STLEXPORTER_H
