#include "slclayerjobs_p.h"

#include "slcmemorybudget_p.h"
#include "slcreader_p.h"
#include "slcrecords_p.h"

#include <QBuffer>
#include <QFuture>
#include <QIODevice>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <utility>
#include <vector>

using namespace SlcRecords;

namespace {

// The parallel pass reads the data in blocks that start small, so that the
// first layers are handed out at once, and double up to the largest; a layer larger than a block makes the
// block grow to hold it, up to the largest layer read in parallel (a larger
// one is read on the calling thread). Layers are handed to the threads in
// jobs of about jobBytes (at most jobLayers layers), and at most
// bytesInFlight of them wait or run at a time.
const int firstBlockSize = 1 << 12;
const int largestBlockSize = 1 << 22;
const qint64 largestParallelLayer = qint64(1) << 28;
const qint64 jobBytes = qint64(1) << 18;
const int jobLayers = 16;
const qint64 bytesInFlight = qint64(1) << 24;

// Consecutive layers found complete by the scan: the length bytes at data
// (read from fileOffset on) hold their records and, last, the head of the
// record after them; the read-ahead before the first of them is z, count and
// gap. The bytes belong to a block that outlives the job.
struct LayerJob
{
    const char *data = nullptr;
    int length = 0;
    qint64 fileOffset = 0;
    int layers = 0;
    float z = 0;
    qint32 count = 0;
    float gap = 0;
    // Storage made on the calling thread for the job's vertex arrays that are
    // read straight from the device (see SlcLayerJobs::read); the job's
    // alone, so it moves into the slices without a copy.
    std::shared_ptr<std::vector<QVector<geom::Point2Df>>> vertices;
    // What each layer was charged to the reader's memory budget.
    std::vector<qint64> costs;
};

// Where the walk over one layer's records ended (see scanLayer).
enum class LayerScan { Complete, NeedMore, Declined };

// Walks the boundary heads of the layer of count boundaries whose records
// start at the file offset start, in the bytes [base, available) of the data
// held at block, where the device's data ends at end. Complete: the records
// are all there, and so is a next layer head with a finite height; layerEnd
// is the offset after that head, nextZ and nextCount what it holds. NeedMore:
// the data ends later than the block. Declined: the layer is cut off by the
// end of the data, has a negative vertex count, is larger than
// largestParallelLayer or is followed by a height that is not finite; the
// layer reader tells what it is. Every count is checked against the data left
// before it is used. largeArrays gets the vertex counts of the boundaries
// that the layer reader reads straight from the device, in order; cost what
// the layer's slice will take (see SlcMemoryBudget).
LayerScan scanLayer(const char *block, qint64 base, qint64 available, qint64 end, qint64 start, qint32 count,
                    QDataStream::ByteOrder order, qint64 &layerEnd, float &nextZ, qint32 &nextCount,
                    QVector<qint32> &largeArrays, qint64 &cost)
{
    largeArrays.clear();
    cost = SlcMemoryBudget::sliceCost() + SlcMemoryBudget::contoursCost(quint32(count));
    const auto missing = [&](qint64 from, qint64 size) {
        return from + size > available ? (from + size <= end ? LayerScan::NeedMore : LayerScan::Declined)
                                       : LayerScan::Complete;
    };
    qint64 at = start;
    for (quint32 b = 0; b < quint32(count); ++b) {
        const LayerScan head = missing(at, boundaryHeadSize);
        if (head != LayerScan::Complete)
            return head;
        const qint32 vertices = decodeInt(block + (at - base), order);
        at += boundaryHeadSize;
        if (vertices < 0 || vertices > (end - at) / vertexSize)
            return LayerScan::Declined;
        at += qint64(vertices) * vertexSize;
        cost += SlcMemoryBudget::verticesCost(vertices);
        if (at - start > largestParallelLayer)
            return LayerScan::Declined;
        if (qint64(vertices) * vertexSize > windowBlock)
            largeArrays.append(vertices);
    }
    const LayerScan head = missing(at, layerHeadSize);
    if (head != LayerScan::Complete)
        return head;
    nextZ = decodeFloat(block + (at - base), order);
    nextCount = decodeInt(block + (at - base) + 4, order);
    layerEnd = at + layerHeadSize;
    return std::isfinite(nextZ) ? LayerScan::Complete : LayerScan::Declined;
}

// The layers of a job read in full (all of them, unless one failed or the
// job was stopped), and the reader's state after the last of them.
struct LayerJobResult
{
    // Shared with the copy the future keeps, so that the slices can be moved out of it.
    std::shared_ptr<std::vector<Slice>> slices;
    float nextZ = 0;
    qint32 boundaryCount = 0;
    float lastGap = 0;
    qint64 end = 0;
};

} // namespace

void SlcLayerJobs::read(int maxCount, QList<Slice> &slices)
{
    const bool removeGapDuplicates = m_removeGapDuplicates;
    QIODevice *device = m_reader.stream.device();
    const QDataStream::ByteOrder order = m_reader.stream.byteOrder();
    const float scale = m_reader.unitScale;
    const geom::Point3Df shift = m_reader.offset;
    std::atomic<bool> stop(false);

    // One job is the plain reader run over the job's bytes, starting with the
    // read-ahead the scan found there: the same code on the same bytes.
    const auto readJob = [order, scale, shift, removeGapDuplicates, &stop](const LayerJob &job) {
        QByteArray bytes = QByteArray::fromRawData(job.data, job.length);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        SlcReaderPrivate reader(&buffer);
        reader.stream.setByteOrder(order);
        reader.unitScale = scale;
        reader.offset = shift;
        reader.nextZ = job.z;
        reader.boundaryCount = job.count;
        reader.lastGap = job.gap;
        reader.preparedVertices = job.vertices.get();
        LayerJobResult result;
        try {
            result.slices = std::make_shared<std::vector<Slice>>();
            result.slices->reserve(size_t(job.layers));
            for (int i = 0; i < job.layers && !stop.load(std::memory_order_relaxed); ++i) {
                Slice slice;
                if (!reader.readSliceData(removeGapDuplicates, slice) || reader.stream.status() != QDataStream::Ok)
                    break;
                result.slices->push_back(std::move(slice));
                result.nextZ = reader.nextZ;
                result.boundaryCount = reader.boundaryCount;
                result.lastGap = reader.lastGap;
                result.end = job.fileOffset + buffer.pos();
            }
        } catch (const std::bad_alloc &) {
            // What is missing is read again on the calling thread, which
            // reports it there.
        }
        return result;
    };

    // The blocks read, the current one last, each with the number of its jobs
    // not taken yet; blocks no job needs any more are kept for reuse, so the
    // pages they hold need not be had from the system again. Declared before
    // the jobs, so that they outlive them.
    struct Block
    {
        QByteArray bytes;
        int jobs = 0;
    };
    std::deque<Block> blocks;
    std::vector<QByteArray> spareBlocks;
    // A block grown for one large layer is not kept: blocks after it are of the usual size.
    const auto releaseBlocks = [&]() {
        while (blocks.size() > 1 && blocks.front().jobs == 0) {
            if (blocks.front().bytes.size() <= largestBlockSize)
                spareBlocks.push_back(std::move(blocks.front().bytes));
            blocks.pop_front();
        }
    };

    struct Running
    {
        QFuture<LayerJobResult> future;
        int layers;
        qint64 bytes;
        Block *block;
        std::vector<qint64> costs;
    };
    std::deque<Running> running;
    qint64 runningBytes = 0;
    // Jobs refer to stop: however this function is left, none may still run.
    struct WaitForJobs
    {
        std::deque<Running> &running;
        std::atomic<bool> &stop;
        ~WaitForJobs()
        {
            stop.store(true, std::memory_order_relaxed);
            for (Running &job : running) {
                try {
                    job.future.waitForFinished();
                } catch (...) {
                    // Only that the job is over matters here.
                }
            }
        }
    } waitForJobs{running, stop};

    // The state after the last layer taken.
    const qint64 start = device->pos();
    qint64 takenEnd = start;
    float takenZ = m_reader.nextZ;
    qint32 takenCount = m_reader.boundaryCount;
    float takenGap = m_reader.lastGap;
    bool declined = false;
    const auto takeOldest = [&]() {
        Running oldest = running.front();
        running.pop_front();
        runningBytes -= oldest.bytes;
        const LayerJobResult result = oldest.future.result();
        --oldest.block->jobs;
        releaseBlocks();
        const int read = declined || !result.slices ? 0 : int(result.slices->size());
        // The layers not taken are read again on the calling thread, which charges them anew.
        if (SlcMemoryBudget *budget = m_reader.budget) {
            for (size_t i = size_t(read); i < oldest.costs.size(); ++i)
                budget->give(oldest.costs[i]);
        }
        if (declined)
            return;
        for (int i = 0; i < read; ++i)
            appendMoved(slices, std::move((*result.slices)[size_t(i)]));
        if (read > 0) {
            takenEnd = result.end;
            takenZ = result.nextZ;
            takenCount = result.boundaryCount;
            takenGap = result.lastGap;
        }
        if (read < oldest.layers) {
            declined = true;
            stop.store(true, std::memory_order_relaxed);
        }
    };

    // The scan: the layer whose records start at layerStart has the head z,
    // count; gap is the one before it.
    qint64 end = device->size();
    qint64 layerStart = start;
    float z = m_reader.nextZ;
    qint32 count = m_reader.boundaryCount;
    float gap = m_reader.lastGap;
    int found = 0;
    qint64 blockBase = start;
    qint64 blockEnd = start;
    int blockSize = firstBlockSize;
    LayerJob job;
    QVector<qint32> largeArrays;
    const auto submit = [&]() {
        if (job.layers == 0)
            return;
        const LayerJob work = job;
        const auto read = [readJob, work]() { return readJob(work); };
        Block &block = blocks.back();
        ++block.jobs;
        running.push_back(Running{QtConcurrent::run(QThreadPool::globalInstance(), read), work.layers,
                                  qint64(work.length), &block, work.costs});
        runningBytes += job.length;
        job = LayerJob();
        while (runningBytes > bytesInFlight)
            takeOldest();
    };

    bool scanning = true;
    while (scanning && !declined) {
        // The next block starts with what is left of the current one from the
        // layer being scanned.
        const qint64 kept = blockEnd - layerStart;
        const qint64 size = std::min(end - layerStart, std::max<qint64>(blockSize, 2 * kept));
        if (size <= kept || kept >= largestParallelLayer)
            break;
        // A layer that fills the whole block, and that no job reads from, grows the block where it
        // is: a layer of tens of megabytes would otherwise be held twice while it is copied, and
        // every smaller block on the way to it as well.
        qint64 got = 0;
        if (kept > 0 && layerStart == blockBase && blocks.back().jobs == 0) {
            QByteArray &grown = blocks.back().bytes;
            try {
                if (grown.size() < size)
                    grown.resize(int(size));
            } catch (const std::bad_alloc &) {
                break; // the reader on this thread reads the rest as it can
            }
            got = device->read(grown.data() + kept, size - kept);
        } else {
            QByteArray next;
            if (!spareBlocks.empty() && spareBlocks.back().size() >= size) {
                next = std::move(spareBlocks.back());
                spareBlocks.pop_back();
            } else {
                try {
                    next = QByteArray(int(size), Qt::Uninitialized);
                } catch (const std::bad_alloc &) {
                    break; // the reader on this thread reads the rest as it can
                }
            }
            if (kept > 0)
                std::memcpy(next.data(), blocks.back().bytes.constData() + (layerStart - blockBase), size_t(kept));
            got = device->read(next.data() + kept, size - kept);
            blocks.push_back(Block{std::move(next), 0});
            releaseBlocks();
            blockBase = layerStart;
        }
        const char *block = blocks.back().bytes.constData();
        blockEnd = layerStart + kept + std::max<qint64>(got, 0);
        if (blockEnd < blockBase + size)
            end = blockEnd; // the data ended earlier than the device said
        blockSize = std::min(2 * blockSize, largestBlockSize);

        for (;;) {
            if (count == terminatorCount || (maxCount >= 0 && found == maxCount)
                || quint32(count) > quint64(maxContours)) {
                scanning = false;
                break;
            }
            qint64 layerEnd = 0;
            float headZ = 0;
            qint32 headCount = 0;
            qint64 cost = 0;
            const LayerScan scan = scanLayer(block, blockBase, blockEnd, end, layerStart, count, order,
                                             layerEnd, headZ, headCount, largeArrays, cost);
            if (scan == LayerScan::Declined)
                scanning = false;
            if (scan != LayerScan::Complete)
                break;
            // A layer the budget cannot take is left to the calling thread, which tells why.
            if (m_reader.budget && !m_reader.budget->take(cost)) {
                scanning = false;
                break;
            }

            // Large vertex arrays get their storage here, from this thread's
            // allocator: memory just given back by slices read before (a file
            // read again) is then used again, where the threads' own arenas
            // would take new pages from the system. Their pages are still
            // first written by the jobs.
            if (!largeArrays.isEmpty()) {
                if (!job.vertices)
                    job.vertices = std::make_shared<std::vector<QVector<geom::Point2Df>>>();
                for (const qint32 vertices : largeArrays) {
                    job.vertices->emplace_back();
                    if (!makeUninitialized(job.vertices->back(), vertices))
                        job.vertices->pop_back();
                }
            }

            if (job.layers == 0) {
                job.data = block + (layerStart - blockBase);
                job.fileOffset = layerStart;
                job.z = z;
                job.count = count;
                job.gap = gap;
            }
            ++job.layers;
            job.costs.push_back(cost);
            ++found;
            job.length = int(layerEnd - job.fileOffset);
            gap = headZ - z;
            z = headZ;
            count = headCount;
            layerStart = layerEnd;
            if (job.length >= jobBytes || job.layers >= jobLayers) {
                submit();
                if (declined) {
                    scanning = false;
                    break;
                }
            }
        }
        submit();
        while (!running.empty() && running.front().future.isFinished())
            takeOldest();
    }
    while (!running.empty())
        takeOldest();

    device->seek(takenEnd);
    m_reader.nextZ = takenZ;
    m_reader.boundaryCount = takenCount;
    m_reader.lastGap = takenGap;
}

