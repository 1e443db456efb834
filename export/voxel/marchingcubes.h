#ifndef GEOM_MARCHINGCUBES_H
#define GEOM_MARCHINGCUBES_H

#include "facet.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QTransform>
#include <QVector>

class QIODevice;

namespace geom {

class MarchingCubesPrivate;

// Turns a stack of layer images into the facets of a closed surface. Each
// layer is reduced at once to its square codes and appended to a temporary
// file ("topology-XXXXXX.lst" in the temporary directory), so a tall model is
// never held in memory whole. process() closes the stack with a blank layer
// below and above, meshes neighbouring layers by marching cubes in parallel
// jobs into connected surfaces, merges each surface's coplanar facets into
// planar polygons and triangulates those again on the grid, also in
// parallel, so the surface stays closed whatever the layer gaps. The same
// layers always give the same facets in the same order.
//
// Calling order: addLayer for each layer (any z order, each z once),
// writeFacets or process, reset before the next stack. process, writeFacets
// and reset belong to one thread, and no addLayer may run while they do;
// cancel() may come from any
// thread and stops the run under way, or the next one, until reset().
// progress(p) comes from the meshing jobs' threads, p counting the layer
// steps from 1; no lock is held while it is emitted.
class MarchingCubes : public QObject
{
    Q_OBJECT

public:
    explicit MarchingCubes(QObject *parent = nullptr);
    ~MarchingCubes() override;

    // The range of 8- and 16-bit pixel values that counts as material
    // (16-bit values read as signed); 1-bit images count set bits. Default
    // [0, 0].
    int lowerThreshold() const;
    void setLowerThreshold(int value);
    int upperThreshold() const;
    void setUpperThreshold(int value);
    // The smaller becomes the lower threshold.
    void setThresholds(int a, int b);

    // Image pixel coordinates (pixel (i, j) covering [i, i + 1) x [j, j + 1))
    // to model millimetres: the inverse of the transform the layers were
    // rasterised with, so that the model lies where its slices are. Without
    // one, the first layer's offset and dots per metre place the pixels.
    // Taken when meshing starts.
    QTransform pixelTransform() const;
    void setPixelTransform(const QTransform &pixelToMm);
    // Distance of the blank closing layers below the lowest and above the
    // highest layer, in mm; 0 (the default) takes the mean pixel size, at
    // least 0.001 mm. Set it to the layer spacing, so the bottom and top lie
    // half a spacing beyond the outer layers like every other face.
    float layerGap() const;
    void setLayerGap(float gap);
    // Whether coplanar facets are merged into polygons and triangulated again
    // (the default); off writes the marching-cubes triangles as they are.
    bool mergesPlanes() const;
    void setMergePlanes(bool on);

    // Layers indexed, the blank closing layers included once added.
    int layerCount() const;

    // Stores a layer. Refused (false, with a message, the layer left out): a
    // null image, one deeper than 16 bits, empty, or wider or higher than the
    // 16-bit grid allows (16383 pixels); a height that is not finite or
    // already taken (within a relative 1e-5); an image of another size,
    // offset or resolution than the first; a stack that would exceed 16382
    // layers. A layer that cannot be written to the temporary file also
    // fails every later process() (see errorString()).
    // Layers may be added from several threads at once; their order in the
    // file does not matter.
    bool addLayer(const QImage &image, float z);
    // The widest or highest layer image and the most layers the 16-bit grid holds.
    static constexpr int maximumLayerSide = 16383;
    static constexpr int maximumStackLayers = 16382;
    // Whether a layer could not be stored (the temporary file failed); any
    // thread.
    bool storageFailed() const;

    // Forgets all layers and removes the temporary file at once; clears a
    // cancel. Does nothing while a run is under way.
    void reset();

    // One facet block per connected surface, in millimetres; empty after a
    // cancel or a failure. Emits finished() at its end.
    QList<QVector<Facet>> process();
    // process(), then a binary STL of all facets on the device, finished
    // explicitly (a stack without surfaces gives a valid file without
    // facets). False after a cancel or a failure, with errorString(); a
    // cancel while the facets are written leaves those written so far.
    bool writeFacets(QIODevice *device);

    QString errorString() const;
    bool wasCancelled() const;

    // Figures of the last process(): marching-cubes triangles, facets
    // written, surfaces, the topology file's size, and the wall-clock and
    // process CPU time of the meshing and the re-triangulation passes.
    struct Statistics
    {
        qint64 gridTriangles = 0;
        qint64 facets = 0;
        int surfaces = 0;
        qint64 topologyBytes = 0;
        double meshWallSeconds = 0;
        double meshCpuSeconds = 0;
        double tessellateWallSeconds = 0;
        double tessellateCpuSeconds = 0;
    };
    Statistics statistics() const;

signals:
    void finished();
    void progress(int value);

public slots:
    void cancel();

private:
    Q_DISABLE_COPY(MarchingCubes)
    void addBlankEndings();
    MarchingCubesPrivate *d;
};

} // namespace geom

#endif // GEOM_MARCHINGCUBES_H
