#ifndef GEOM_MARCHINGCUBES_P_H
#define GEOM_MARCHINGCUBES_P_H

// The state of one MarchingCubes that its jobs share. Not part of the
// export folder's public surface.

#include "facet.h"
#include "gridpolygon.h"
#include "gridmapping.h"
#include "gridsurface.h"
#include "marchingcubes.h"

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QMutex>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QTransform>
#include <QVector>

#include <atomic>

class QTemporaryFile;

namespace geom {

class MarchingCubes;


class MarchingCubesPrivate
{
public:
    explicit MarchingCubesPrivate(MarchingCubes *owner) : q(owner) {}

    MarchingCubes *q;
    // The run flag and progress counter: 0 while idle or after a cancel,
    // counting layer steps from 1 during process().
    std::atomic<int> running{0};
    // Sticky until reset(): a cancel is never undone by a run that starts
    // after it.
    std::atomic<bool> cancelled{false};

    QMap<float, qint64> index; // layer z -> record offset in the topology file
    QMutex resultsMutex;
    QMutex fileMutex;
    QTemporaryFile *file = nullptr;
    std::atomic<bool> fileFailed{false}; // a record could not be written or read back

    QSize layerSize;
    QPoint layerOffset;
    int layerDotsX = 0;
    int layerDotsY = 0;
    float originX = 0.0f;
    float originY = 0.0f;
    float mmPerPixelX = 0.0f;
    float mmPerPixelY = 0.0f;
    int lowerThreshold = 0;
    int upperThreshold = 0;
    bool hasPixelTransform = false;
    QTransform pixelTransform;
    float layerGap = 0.0f;
    bool mergePlanes = true;
    QString errorString;
    MarchingCubes::Statistics statistics;

    // One run's results: per mesher job its surfaces, joined in job order.
    QVector<QList<GridSurface>> jobSurfaces;
    GridMapping mapping;

    bool cancelRequested() const { return cancelled.load(); }
    // Adds 1 to the counter unless it is 0 (cancelled); returns the value
    // before, or 0 when the step must not be taken.
    int advance();
    void fail(const QString &message);

    // Record encoding of a square-code image; false when the bytes do not
    // hold one.
    static QByteArray encode(const QImage &codes);
    static QImage decode(const QByteArray &record);
    // The raw bytes of the record at offset (under fileMutex).
    bool readRecord(qint64 offset, QByteArray *record);
    QImage readLayer(qint64 offset);
    // Appends a record at the end of the file (under fileMutex); its offset,
    // or -1 when it could not be written.
    qint64 appendRecord(const QByteArray &record);
};

} // namespace geom

#endif // GEOM_MARCHINGCUBES_P_H
