#ifndef GEOM_VOXELSTL_H
#define GEOM_VOXELSTL_H

#include "slice.h"

#include <QList>
#include <QObject>
#include <QString>

namespace geom {

class ImagineSlice;
class VoxelStlPrivate;

// Builds an STL model from slices by rasterising them into layer images at a
// fixed z step and meshing the image stack by marching cubes; the binary STL
// goes to the device that is this object's parent. The model lies where the
// slices are: the layers' pixels are mapped back through the inverse of the
// rasteriser's transform, and its bottom and top lie half a step below the
// first and above the last layer.
//
// A worker like the other export engines: run() executes on a pool thread,
// emits progress(value) with 0 <= value <= slice count (the first quarter
// while rasterising, the rest while meshing, from the meshing threads without
// any lock held, so a receiver called directly must expect several threads at
// once) and emits finished() exactly once as the last thing it does,
// whatever happened. cancel() may come from any thread at any time, also
// before run() starts; it is never undone. A builder makes one model.
//
// After finished(): succeeded() is true only when the whole model was written
// and the file finished; otherwise errorString() says why (or wasCancelled()).
class VoxelStl : public QObject
{
    Q_OBJECT

public:
    VoxelStl(QObject *parent, const QList<Slice> &slices);
    ~VoxelStl() override;

    // The rasteriser: set its size and transform (for example with setScale)
    // and, if wanted, format and brushes before run(). Material is what it
    // fills with the fill brush: 1-bit images, and 8- and 16-bit grey images
    // whose fill and background differ in grey, can be meshed.
    ImagineSlice *imagineSlice();
    const QList<Slice> &slices() const;

    // The z step between layers in mm; below 0.001 the width of one pixel.
    // Negative and NaN become 0; ignored while running. Slices closer than the
    // step (within a relative 1e-5) to the last layer are left out.
    void setVoxelSize(float size);
    float voxelSize() const;

    // The build. A second call while one is under way is refused with a
    // critical log message and emits nothing.
    void run();

    bool succeeded() const;
    bool wasCancelled() const;
    QString errorString() const;
    // Layers meshed by the last run, without the blank closing layers.
    int layerCount() const;

signals:
    void finished();
    void progress(int value);

public slots:
    void cancel();

protected slots:
    void progressed(int value);

private:
    Q_DISABLE_COPY(VoxelStl)
    VoxelStlPrivate *d;
};

} // namespace geom

#endif // GEOM_VOXELSTL_H
