#include "voxelstl.h"

#include "images/imagineslice.h"
#include "marchingcubes.h"
#include "workerflag.h"

#include <QAtomicInt>
#include <QIODevice>
#include <QFuture>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace geom {

class VoxelStlPrivate
{
public:
    explicit VoxelStlPrivate(const QList<Slice> &slices) : imagineSlice(slices) {}

    float voxelSize = 0.0f;
    WorkerFlag running;
    ImagineSlice imagineSlice;
    MarchingCubes marchingCubes;
    std::atomic<int> meshLayers{0};
    int layerCount = 0;
    bool succeeded = false;
    bool wasCancelled = false;
    QString errorString;

    bool cancelled() const { return running.cancelled(); }
    void fail(const QString &message)
    {
        if (errorString.isEmpty())
            errorString = message;
    }
    // Sets the thresholds for the rasteriser's format and brushes; false with
    // an error when its images cannot tell material from background.
    bool classifyMaterial(bool *invertBits);
};

bool VoxelStlPrivate::classifyMaterial(bool *invertBits)
{
    *invertBits = false;
    const QImage::Format format = imagineSlice.format();
    const QColor fill = imagineSlice.fillBrush().color();
    const QColor background = imagineSlice.backgroundBrush().color();
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB: {
        // Material is the colour-table entry the fill brush paints.
        const QImage probe(1, 1, format);
        const QRgb rgb = fill.rgba();
        if (probe.color(1) == rgb && probe.color(0) != rgb)
            return true;
        if (probe.color(0) == rgb && probe.color(1) != rgb) {
            *invertBits = true;
            return true;
        }
        break;
    }
    case QImage::Format_Grayscale8: {
        const int f = qGray(fill.rgb()), b = qGray(background.rgb());
        if (f != b) {
            const int middle = (f + b) / 2;
            if (f > b)
                marchingCubes.setThresholds(middle + 1, 255);
            else
                marchingCubes.setThresholds(0, middle);
            return true;
        }
        break;
    }
    case QImage::Format_Grayscale16: {
        // 16-bit values are read as signed: the upper half of the grey range
        // is [-32768, -1], the lower [0, 32767].
        const int f = qGray(fill.rgb()), b = qGray(background.rgb());
        if ((f >= 128) != (b >= 128)) {
            if (f > b)
                marchingCubes.setThresholds(-32768, -1);
            else
                marchingCubes.setThresholds(0, 32767);
            return true;
        }
        break;
    }
    default:
        break;
    }
    fail(VoxelStl::tr("Layer images of this format and these colours cannot tell material from background."));
    return false;
}

VoxelStl::VoxelStl(QObject *parent, const QList<Slice> &slices) : QObject(parent), d(new VoxelStlPrivate(slices))
{
    // Direct: the progress is computed and passed on from the meshing
    // thread, never through this object's own thread (which may be the one
    // waiting for it).
    connect(&d->marchingCubes, &MarchingCubes::progress, this, &VoxelStl::progressed, Qt::DirectConnection);
}

VoxelStl::~VoxelStl()
{
    delete d;
}

ImagineSlice *VoxelStl::imagineSlice()
{
    return &d->imagineSlice;
}

const QList<Slice> &VoxelStl::slices() const
{
    return d->imagineSlice.slices();
}

void VoxelStl::setVoxelSize(float size)
{
    if (d->running.isRunning())
        return;
    d->voxelSize = size > 0.0f ? size : 0.0f; // NaN fails the test too
}

float VoxelStl::voxelSize() const
{
    return d->voxelSize;
}

void VoxelStl::run()
{
    if (!d->running.claim("VoxelStl"))
        return;
    d->succeeded = false;
    d->wasCancelled = false;
    d->errorString.clear();
    d->layerCount = 0;
    d->meshLayers.store(0);

    ImagineSlice &raster = d->imagineSlice;
    MarchingCubes &cubes = d->marchingCubes;
    const QList<Slice> &slices = raster.slices();
    float step = d->voxelSize;
    if (step < 0.001f)
        step = float(raster.pixelSize().width());
    QIODevice *device = qobject_cast<QIODevice *>(parent());
    bool invertBits = false;
    bool invertible = false;
    const QTransform pixelToMm = raster.transform().inverted(&invertible);

    if (!device)
        d->fail(tr("The model has no output device."));
    else if (raster.size().isEmpty())
        d->fail(tr("The layer images have no size."));
    else if (raster.size().width() > MarchingCubes::maximumLayerSide
             || raster.size().height() > MarchingCubes::maximumLayerSide)
        // Every layer would be refused, and an empty model would pass for the part.
        d->fail(tr("The layer images are larger than %1 pixels.").arg(MarchingCubes::maximumLayerSide));
    else if (!invertible || !std::isfinite(step) || !(step > 0.0f))
        d->fail(tr("The image transform cannot be inverted."));
    else
        d->classifyMaterial(&invertBits);

    if (d->errorString.isEmpty() && !slices.isEmpty()) {
        cubes.reset();
        cubes.setPixelTransform(pixelToMm);
        cubes.setLayerGap(step);
        float nextZ = slices.first().z();
        int keptLayers = 0;
        // Layers are rasterised here, one after the other, and coded and
        // stored on other threads meanwhile; a few images at most wait.
        QList<QFuture<void>> pending;
        std::atomic<bool> storageFailed{false};
        const int inFlight = std::max(2, QThread::idealThreadCount());
        for (int i = 0; i < slices.size() && !d->cancelled() && !storageFailed.load(); ++i) {
            const float z = slices.at(i).z();
            if (!std::isfinite(z)) {
                d->fail(tr("Slice %1 has a height that is not a finite number.").arg(i + 1));
                break;
            }
            // Heights compare with a tolerance, so a step equal to the slice
            // spacing keeps every slice despite rounding.
            if (i > 0 && z < nextZ - 1e-5f * std::max({std::fabs(nextZ), std::fabs(z), step}))
                continue;
            if (++keptLayers > MarchingCubes::maximumStackLayers) {
                d->fail(tr("The part has more than %1 layers at this voxel size.").arg(MarchingCubes::maximumStackLayers));
                break;
            }
            emit progress(i >> 2);
            QImage image = raster.imagine(i);
            if (!image.isNull() && invertBits)
                image.invertPixels();
            while (pending.size() >= inFlight)
                pending.takeFirst().waitForFinished();
            // A refused layer (no image, a height taken) is only left out; a
            // layer that could not be stored fails the run.
            pending.append(QtConcurrent::run([&cubes, &storageFailed, image, z] {
                if (!cubes.addLayer(image, z) && cubes.storageFailed())
                    storageFailed.store(true);
            }));
            nextZ = z + step;
        }
        for (QFuture<void> &job : pending)
            job.waitForFinished();
        if (cubes.storageFailed())
            d->fail(cubes.errorString());
        d->layerCount = cubes.layerCount();
        // Cached here: the meshing threads read it for every progress.
        d->meshLayers.store(d->layerCount > 0 ? d->layerCount + 2 : 0);
        if (d->errorString.isEmpty() && !d->cancelled() && !cubes.writeFacets(device) && !d->cancelled())
            d->fail(cubes.errorString());
        cubes.reset();
    } else if (d->errorString.isEmpty() && !d->cancelled()) {
        cubes.reset();
        if (!cubes.writeFacets(device))
            d->fail(cubes.errorString());
    }

    d->wasCancelled = d->cancelled();
    d->succeeded = d->errorString.isEmpty() && !d->wasCancelled;
    d->running.release();
    emit finished();
}

bool VoxelStl::succeeded() const
{
    return d->succeeded;
}

bool VoxelStl::wasCancelled() const
{
    return d->wasCancelled;
}

QString VoxelStl::errorString() const
{
    return d->errorString;
}

int VoxelStl::layerCount() const
{
    return d->layerCount;
}

void VoxelStl::cancel()
{
    d->running.cancel();
    d->imagineSlice.cancel();
    d->marchingCubes.cancel();
}

void VoxelStl::progressed(int value)
{
    const int layers = d->meshLayers.load();
    if (layers <= 0)
        return;
    emit progress(int((float(value) * 0.75f / float(layers) + 0.25f) * float(slices().size())));
}

} // namespace geom
