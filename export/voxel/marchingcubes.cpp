#include "marchingcubes.h"

#include "marchingcubes_p.h"
#include "marchingcubesmesher.h"
#include "marchingcubestessellator.h"
#include "rastercodes.h"
#include "releaselater_p.h"
#include "stl/stlwriter.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTemporaryFile>
#include <QThread>
#include <QtConcurrent>
#include <QtEndian>

#include <algorithm>
#include <numeric>
#include <tuple>
#include <cmath>
#include <cstring>
#include <ctime>

namespace geom {

namespace {

// Half-cell coordinates of the grid are 16-bit: pixel centres lie at 2i + 1
// and layer k at 2k + 1.

bool sameHeight(float a, float b)
{
    return std::fabs(a - b) <= 1e-5f * std::max({std::fabs(a), std::fabs(b), 1e-3f});
}

} // namespace

int MarchingCubesPrivate::advance()
{
    int value = running.load();
    while (value != 0 && !cancelled.load()) {
        if (running.compare_exchange_weak(value, value + 1))
            return value;
    }
    return 0;
}

void MarchingCubesPrivate::fail(const QString &message)
{
    QMutexLocker lock(&resultsMutex);
    if (errorString.isEmpty())
        errorString = message;
}

QByteArray MarchingCubesPrivate::encode(const QImage &codes)
{
    const int w = codes.width();
    const int h = codes.height();
    QByteArray raw(w * h, Qt::Uninitialized);
    for (int y = 0; y < h; ++y)
        std::memcpy(raw.data() + qsizetype(y) * w, codes.constScanLine(y), size_t(w));
    QMap<QString, QString> text;
    for (const QString &key : codes.textKeys())
        text.insert(key, codes.text(key));
    QByteArray record;
    QDataStream out(&record, QIODevice::WriteOnly);
    out << qint32(w) << qint32(h) << text << qCompress(raw, 1);
    return record;
}

QImage MarchingCubesPrivate::decode(const QByteArray &record)
{
    QDataStream in(record);
    qint32 w = 0;
    qint32 h = 0;
    QMap<QString, QString> text;
    QByteArray compressed;
    in >> w >> h >> text >> compressed;
    if (in.status() != QDataStream::Ok || w <= 0 || h <= 0)
        return QImage();
    const QByteArray raw = qUncompress(compressed);
    if (raw.size() != qsizetype(w) * h)
        return QImage();
    QImage codes(w, h, QImage::Format_Indexed8);
    if (codes.isNull())
        return QImage();
    codes.setColorTable(QVector<QRgb>(256, 0));
    for (int y = 0; y < h; ++y)
        std::memcpy(codes.scanLine(y), raw.constData() + qsizetype(y) * w, size_t(w));
    for (auto it = text.cbegin(); it != text.cend(); ++it)
        codes.setText(it.key(), it.value());
    return codes;
}

bool MarchingCubesPrivate::readRecord(qint64 offset, QByteArray *record)
{
    QMutexLocker lock(&fileMutex);
    if (!file || !file->seek(offset))
        return false;
    uchar length[4];
    if (file->read(reinterpret_cast<char *>(length), 4) != 4)
        return false;
    const quint32 n = qFromLittleEndian<quint32>(length);
    *record = file->read(qint64(n));
    return record->size() == qsizetype(n);
}

qint64 MarchingCubesPrivate::appendRecord(const QByteArray &record)
{
    const qint64 offset = file->size();
    uchar length[4];
    qToLittleEndian<quint32>(quint32(record.size()), length);
    if (!file->seek(offset) || file->write(reinterpret_cast<const char *>(length), 4) != 4
        || file->write(record) != record.size())
        return -1;
    return offset;
}

QImage MarchingCubesPrivate::readLayer(qint64 offset)
{
    QByteArray record;
    if (!readRecord(offset, &record)) {
        fileFailed = true;
        return QImage();
    }
    // Decoded outside the file lock.
    const QImage codes = decode(record);
    if (codes.isNull())
        fileFailed = true;
    return codes;
}

MarchingCubes::MarchingCubes(QObject *parent) : QObject(parent), d(new MarchingCubesPrivate(this)) {}

MarchingCubes::~MarchingCubes()
{
    delete d->file; // removes the topology file
    delete d;
}

int MarchingCubes::lowerThreshold() const
{
    return d->lowerThreshold;
}

void MarchingCubes::setLowerThreshold(int value)
{
    d->lowerThreshold = value;
}

int MarchingCubes::upperThreshold() const
{
    return d->upperThreshold;
}

void MarchingCubes::setUpperThreshold(int value)
{
    d->upperThreshold = value;
}

void MarchingCubes::setThresholds(int a, int b)
{
    d->lowerThreshold = std::min(a, b);
    d->upperThreshold = std::max(a, b);
}

QTransform MarchingCubes::pixelTransform() const
{
    return d->pixelTransform;
}

void MarchingCubes::setPixelTransform(const QTransform &pixelToMm)
{
    d->pixelTransform = pixelToMm;
    d->hasPixelTransform = true;
}

float MarchingCubes::layerGap() const
{
    return d->layerGap;
}

void MarchingCubes::setLayerGap(float gap)
{
    d->layerGap = gap > 0.0f && std::isfinite(gap) ? gap : 0.0f;
}

bool MarchingCubes::mergesPlanes() const
{
    return d->mergePlanes;
}

void MarchingCubes::setMergePlanes(bool on)
{
    d->mergePlanes = on;
}

int MarchingCubes::layerCount() const
{
    QMutexLocker lock(&d->fileMutex);
    return d->index.size();
}

bool MarchingCubes::addLayer(const QImage &image, float z)
{
    if (!std::isfinite(z)) {
        qCritical("MarchingCubes: Layer height is not a finite number");
        return false;
    }
    if (image.width() > maximumLayerSide || image.height() > maximumLayerSide) {
        qCritical("MarchingCubes: Invalid topology format");
        return false;
    }
    QImage codes = squareCodeImage(image, d->lowerThreshold, d->upperThreshold, false);
    if (codes.isNull()) {
        qCritical("MarchingCubes: Invalid topology format");
        return false;
    }
    for (const QString &key : image.textKeys())
        codes.setText(key, image.text(key));
    codes.setText(QStringLiteral("Z"), QString::number(double(z), 'g', 6));
    const QByteArray record = MarchingCubesPrivate::encode(codes);

    QMutexLocker lock(&d->fileMutex);
    if (d->index.isEmpty()) {
        if (!d->file) {
            d->file = new QTemporaryFile(QStringLiteral("%1/topology-XXXXXX.lst").arg(QDir::tempPath()));
            if (!d->file->open()) {
                qCritical("MarchingCubes: Could not open temporary file %s", qPrintable(d->file->fileName()));
                // A model without this layer would be wrong: the run fails.
                d->fileFailed = true;
                if (d->errorString.isEmpty())
                    d->errorString = tr("The temporary file %1 could not be created: %2")
                                         .arg(QDir::toNativeSeparators(d->file->fileName()), d->file->errorString());
                delete d->file;
                d->file = nullptr;
                return false;
            }
        }
        d->layerSize = image.size();
        d->layerOffset = image.offset();
        d->layerDotsX = image.dotsPerMeterX();
        d->layerDotsY = image.dotsPerMeterY();
        d->mmPerPixelX = 1000.0f / float(image.dotsPerMeterX());
        d->mmPerPixelY = 1000.0f / float(image.dotsPerMeterY());
        d->originX = float(image.offset().x()) * d->mmPerPixelX;
        d->originY = float(image.offset().y()) * d->mmPerPixelY;
    } else {
        if (image.size() != d->layerSize || image.offset() != d->layerOffset || image.dotsPerMeterX() != d->layerDotsX
            || image.dotsPerMeterY() != d->layerDotsY) {
            qCritical("MarchingCubes: Layer %.2f differs in size or place from the first layer", double(z));
            return false;
        }
        auto above = d->index.lowerBound(z);
        const bool taken = (above != d->index.end() && sameHeight(above.key(), z))
                           || (above != d->index.begin() && sameHeight((above - 1).key(), z));
        if (taken) {
            qWarning("MarchingCubes: Already processed layer %.2f", double(z));
            return false;
        }
        if (d->index.size() >= maximumStackLayers) {
            qCritical("MarchingCubes: Too many layers for the grid");
            return false;
        }
    }

    const qint64 offset = d->appendRecord(record);
    if (offset < 0) {
        d->fileFailed = true;
        if (d->errorString.isEmpty())
            d->errorString = tr("The temporary file %1 could not be written: %2")
                                 .arg(QDir::toNativeSeparators(d->file->fileName()), d->file->errorString());
        return false;
    }
    d->index.insert(z, offset);
    return true;
}

void MarchingCubes::addBlankEndings()
{
    QMutexLocker lock(&d->fileMutex);
    if (d->index.isEmpty() || !d->file)
        return;
    const QList<qint64> offsets = d->index.values();
    if (offsets.size() > 1 && offsets.first() == offsets.last())
        return; // already there: the lowest and highest layer share the blank record
    float gap = d->layerGap;
    if (!(gap > 0.0f)) {
        const QSizeF pixel = d->hasPixelTransform ? d->pixelTransform.mapRect(QRectF(0, 0, 1, 1)).size()
                                                  : QSizeF(d->mmPerPixelX, d->mmPerPixelY);
        gap = std::max(0.001f, float(pixel.width() + pixel.height()) / 2.0f);
    }
    QImage blank(d->layerSize.width() + 1, d->layerSize.height() + 1, QImage::Format_Indexed8);
    if (blank.isNull()) {
        qWarning("MarchingCubes: Could not add blank endings, model will be open.");
        d->fileFailed = true;
        return;
    }
    blank.setColorTable(QVector<QRgb>(256, 0));
    blank.fill(0);
    const QByteArray record = MarchingCubesPrivate::encode(blank);
    const qint64 end = d->appendRecord(record);
    if (end < 0) {
        qWarning("MarchingCubes: Could not add blank endings, model will be open.");
        d->fileFailed = true;
        return;
    }
    const float low = d->index.firstKey() - gap;
    const float high = d->index.lastKey() + gap;
    d->index.insert(low, end);
    d->index.insert(high, end);
}

void MarchingCubes::reset()
{
    QMutexLocker lock(&d->fileMutex);
    if (d->running.load() != 0)
        return;
    d->index.clear();
    delete d->file; // removes the file now, on this thread
    d->file = nullptr;
    d->fileFailed = false;
    d->errorString.clear();
    d->cancelled.store(false);
    d->jobSurfaces.clear();
}

namespace {

// The pieces of all jobs joined into connected surfaces: job i's pieces
// meet job i - 1's only in the plane of points planes[i]. Empty once
// cancelled is set, which is looked at within every piece.
QList<GridSurfaceParts> connectPieces(const QVector<QList<GridSurface>> &jobs, const QVector<int> &planes,
                                      const std::atomic<bool> &cancelled)
{
    QVector<int> firstOfJob;
    int count = 0;
    for (const QList<GridSurface> &job : jobs) {
        firstOfJob.append(count);
        count += job.size();
    }
    QVector<int> parent(count);
    std::iota(parent.begin(), parent.end(), 0);
    auto root = [&parent](int i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    for (int i = 1; i < jobs.size(); ++i) {
        const int z = planes.at(i);
        QHash<GridPoint, int> below;
        for (int a = 0; a < jobs.at(i - 1).size(); ++a) {
            if (cancelled.load())
                return {};
            const QVector<GridFacet> &facets = jobs.at(i - 1).at(a).facets;
            for (int k = 0; k < facets.size(); ++k) {
                if ((k & 0xFFFF) == 0xFFFF && cancelled.load())
                    return {};
                for (int v = 0; v < 3; ++v)
                    if (facets.at(k).vertex(v).z == z)
                        below.insert(facets.at(k).vertex(v), firstOfJob.at(i - 1) + a);
            }
        }
        for (int b = 0; b < jobs.at(i).size() && !below.isEmpty(); ++b) {
            if (cancelled.load())
                return {};
            const QVector<GridFacet> &facets = jobs.at(i).at(b).facets;
            for (int k = 0; k < facets.size(); ++k) {
                // One piece can hold millions of facets.
                if ((k & 0xFFFF) == 0xFFFF && cancelled.load())
                    return {};
                const GridFacet &f = facets.at(k);
                for (int v = 0; v < 3; ++v) {
                    const auto it = f.vertex(v).z == z ? below.constFind(f.vertex(v)) : below.cend();
                    if (it == below.cend())
                        continue;
                    // The smaller index as root: a surface keeps the place of its first piece.
                    const int x = root(it.value()), y = root(firstOfJob.at(i) + b);
                    parent[std::max(x, y)] = std::min(x, y);
                }
            }
        }
    }
    // A surface of several pieces gets its facets' block at its final size
    // at once: grown piece by piece, the block of the largest surface was
    // copied whole at every growth, a few hundred megabytes at a time and no
    // look at the flag in between. One piece alone is shared, not copied.
    QVector<int> piecesOf(count, 0);
    QVector<int> facetsOf(count, 0);
    for (int j = 0, piece = 0; j < jobs.size(); ++j) {
        for (const GridSurface &s : jobs.at(j)) {
            const int r = root(piece++);
            ++piecesOf[r];
            facetsOf[r] += s.facets.size();
        }
    }
    QList<GridSurfaceParts> surfaces;
    QVector<int> surfaceOf(count, -1);
    for (int j = 0, piece = 0; j < jobs.size(); ++j) {
        for (const GridSurface &s : jobs.at(j)) {
            // Gathering copies every facet, a few hundred megabytes on a large model.
            if (cancelled.load()) {
                releaseLater(surfaces);
                return {};
            }
            const int r = root(piece);
            if (surfaceOf[r] < 0) {
                surfaceOf[r] = surfaces.size();
                surfaces.append(GridSurfaceParts());
                if (piecesOf[r] > 1)
                    surfaces.last().facets.reserve(facetsOf[r]);
            }
            surfaces[surfaceOf[r]].append(s);
            ++piece;
        }
    }
    return surfaces;
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

} // namespace

QList<QVector<Facet>> MarchingCubes::process()
{
    QList<QVector<Facet>> blocks;
    d->statistics = Statistics();
    QElapsedTimer wall;
    wall.start();
    double cpu = cpuSeconds();
    d->running.store(1);
    // A cancel that came before this point is not undone by the store above.
    if (d->cancelled.load()) {
        d->running.store(0);
        emit finished();
        return blocks;
    }
    addBlankEndings();

    const QList<float> heights = d->index.keys();
    const QList<qint64> offsets = d->index.values();
    const int layers = heights.size();
    if (d->fileFailed && d->errorString.isEmpty())
        d->errorString = tr("The layers could not be stored in the temporary file.");
    if (layers >= 2 && !d->fileFailed) {
        d->mapping.zTable.clear();
        d->mapping.zTable.reserve(2 * layers);
        for (int i = 0; i < layers; ++i) {
            if (i > 0)
                d->mapping.zTable.append((heights.at(i - 1) + heights.at(i)) / 2.0f);
            d->mapping.zTable.append(heights.at(i));
        }
        d->mapping.pixelToMm = d->hasPixelTransform
                                   ? d->pixelTransform
                                   : QTransform(d->mmPerPixelX, 0, 0, d->mmPerPixelY, d->originX, d->originY);
        d->mapping.mirrored = d->mapping.pixelToMm.determinant() < 0.0;

        // First pass: layer pairs to grid surfaces, about one chunk per core.
        const int chunk = std::max(2, layers / std::max(1, QThread::idealThreadCount()));
        QList<MarchingCubesMesher> meshers;
        for (int first = 1; first < layers; first += chunk)
            meshers.append(MarchingCubesMesher{d, nullptr, QImage(), first, std::min(first + chunk, layers)});
        d->jobSurfaces = QVector<QList<GridSurface>>(meshers.size());
        for (int i = 0; i < meshers.size(); ++i) {
            meshers[i].results = &d->jobSurfaces[i];
            meshers[i].previous = d->readLayer(offsets.at(meshers[i].first - 1));
        }
        if (!d->fileFailed)
            QtConcurrent::blockingMap(meshers, [](MarchingCubesMesher &job) { job.run(); });
        QVector<int> planes; // the plane of points job i shares with job i - 1
        for (const MarchingCubesMesher &job : meshers)
            planes.append(2 * job.first - 1);
        meshers.clear();

        // Connected surfaces: the jobs' pieces that share points across the
        // planes between their layer ranges, in job order.
        QList<GridSurfaceParts> surfaces = connectPieces(d->jobSurfaces, planes, d->cancelled);
        // Shared with the surfaces, or after a cancel the only copy.
        releaseLater(d->jobSurfaces);
        std::stable_sort(surfaces.begin(), surfaces.end(),
                         [](const GridSurfaceParts &a, const GridSurfaceParts &b) { return a.order() < b.order(); });
        std::reverse(surfaces.begin(), surfaces.end()); // largest first
        for (const GridSurfaceParts &surface : surfaces)
            d->statistics.gridTriangles += surface.facets.size();
        d->statistics.surfaces = surfaces.size();
        d->statistics.topologyBytes = d->file ? d->file->size() : 0;
        d->statistics.meshWallSeconds = double(wall.nsecsElapsed()) * 1e-9;
        d->statistics.meshCpuSeconds = cpuSeconds() - cpu;
        wall.restart();
        cpu = cpuSeconds();

        // Second pass: the normal groups of every surface to facets.
        const bool go = !d->cancelled.load() && d->errorString.isEmpty() && !d->fileFailed;
        QVector<QVector<int>> regionOf(surfaces.size());
        QVector<int> surfaceOfJob;
        QList<MarchingCubesTessellator> tessellators;
        QVector<QVector<MarchingCubesTessellator::Piece>> pieces;
        if (go) {
            for (int s = 0; s < surfaces.size() && !d->cancelled.load(); ++s) {
                regionOf[s] = QVector<int>(surfaces.at(s).facets.size(), -1);
                for (const QVector<int> &group : normalGroups(surfaces.at(s).facets, &d->cancelled)) {
                    tessellators.append(MarchingCubesTessellator{d, &surfaces.at(s), group, regionOf[s].data(), nullptr});
                    surfaceOfJob.append(s);
                }
            }
            pieces.resize(tessellators.size());
            for (int i = 0; i < tessellators.size(); ++i)
                tessellators[i].pieces = &pieces[i];
            if (!d->cancelled.load())
                QtConcurrent::blockingMap(tessellators, [](MarchingCubesTessellator &job) { job.run(); });
        }
        if (go && !d->cancelled.load()) {
            // Each surface's pieces back in the order of its patches.
            QVector<QVector<MarchingCubesTessellator::Piece>> bySurface(surfaces.size());
            for (int i = 0; i < pieces.size(); ++i)
                bySurface[surfaceOfJob.at(i)] += pieces.at(i);
            pieces.clear();
            for (QVector<MarchingCubesTessellator::Piece> &list : bySurface) {
                if (d->cancelled.load())
                    break;
                std::stable_sort(list.begin(), list.end(),
                                 [](const MarchingCubesTessellator::Piece &a,
                                    const MarchingCubesTessellator::Piece &b) { return a.order < b.order; });
                QVector<Facet> block;
                int total = 0;
                for (const MarchingCubesTessellator::Piece &piece : list)
                    total += piece.facets.size();
                block.reserve(total);
                for (const MarchingCubesTessellator::Piece &piece : list)
                    block += piece.facets;
                list.clear();
                d->statistics.facets += block.size();
                blocks.append(block);
            }
            releaseLater(bySurface);
        }
        d->statistics.tessellateWallSeconds = double(wall.nsecsElapsed()) * 1e-9;
        d->statistics.tessellateCpuSeconds = cpuSeconds() - cpu;
        // The surfaces with their point maps and the jobs' lists: a
        // cancelled run does not wait for them, nor does the file.
        releaseLater(std::make_tuple(std::move(tessellators), std::move(pieces), std::move(regionOf),
                                     std::move(surfaces)));
    }
    if (d->cancelled.load() || !d->errorString.isEmpty() || d->fileFailed)
        blocks.clear();
    if (d->fileFailed && d->errorString.isEmpty())
        d->errorString = tr("The layers could not be read back from the temporary file.");
    d->running.store(0);
    emit finished();
    return blocks;
}

bool MarchingCubes::writeFacets(QIODevice *device)
{
    const QList<QVector<Facet>> blocks = process();
    if (d->cancelled.load() || !d->errorString.isEmpty())
        return false;
    int total = 0;
    for (const QVector<Facet> &block : blocks)
        total += block.size();
    StlWriter writer(device);
    if (!writer.begin(total)) {
        d->errorString = tr("The STL file cannot be written: %1").arg(writer.errorString());
        return false;
    }
    // In runs of facets, so that a cancel while a large model is written
    // ends it soon.
    const int run = 1 << 16;
    for (const QVector<Facet> &block : blocks) {
        for (int from = 0; from < block.size(); from += run) {
            if (d->cancelled.load())
                return false;
            const int n = std::min(run, block.size() - from);
            if (writer.write(n, block.constData() + from) < n) {
                qCritical("MarchingCubes: Cannot write facets.");
                d->errorString = tr("The STL file could not be written: %1").arg(writer.errorString());
                return false;
            }
        }
    }
    writer.finish();
    if (!writer.isFinished()) {
        d->errorString = tr("The STL file could not be written: %1").arg(writer.errorString());
        return false;
    }
    return true;
}

MarchingCubes::Statistics MarchingCubes::statistics() const
{
    return d->statistics;
}

bool MarchingCubes::storageFailed() const
{
    return d->fileFailed.load();
}

QString MarchingCubes::errorString() const
{
    return d->errorString;
}

bool MarchingCubes::wasCancelled() const
{
    return d->cancelled.load();
}

void MarchingCubes::cancel()
{
    d->cancelled.store(true);
    d->running.store(0);
}

} // namespace geom
