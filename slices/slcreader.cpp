#include "slcreader.h"

#include "deviceaccess_p.h"
#include "finitefloats_p.h"

#include <QBuffer>
#include <QFuture>
#include <QIODevice>
#include <QSysInfo>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

const float unknownZ = std::numeric_limits<float>::signaling_NaN();
const qint32 terminatorCount = -1;

// The header text with its end mark (CR LF 0x1A) takes at most this many bytes.
const int maxHeaderSize = 2048;
const char headerEndMark = 0x1A;
const int reservedSize = 256;
const int sampleEntrySize = 16;
const int vertexSize = 8;
// Vertex count and gap count of a boundary record.
const int boundaryHeadSize = 8;
// z and boundary count of a layer record.
const int layerHeadSize = 8;

const float inch = 25.4f;

// A boundary keeps at most this many vertices; the rest of a longer one is
// skipped. The format's own limit is 0x1FFFFFFF, but a QVector's storage is
// limited to an int's worth of bytes.
const qint64 maxVertices =
    std::min<qint64>(0x1FFFFFFF, (std::numeric_limits<int>::max() - 64) / qint64(sizeof(geom::Point2Df)));
// The most contours one slice's QVector can hold.
const qint64 maxContours = (std::numeric_limits<int>::max() - 64) / qint64(sizeof(Contour));

// On sequential devices nothing tells how much data is left, so vertices are
// read (and their storage grown) this many at a time, and no more contours are
// reserved up front than this.
const int sequentialVertexChunk = 1 << 16;
const int sequentialContourReserve = 1 << 10;

// Bytes read from a device of known size at a time (see SlcReaderPrivate),
// and the largest block taken from that window; larger vertex arrays are read
// from the device straight into their storage.
const int windowSize = 1 << 14;
const int windowBlock = 1 << 11;

// The parallel pass (see SlcReaderPrivate::readLayersInParallel) reads the
// data in blocks that start small, so that the first layers are handed out at
// once, and double up to the largest; a layer larger than a block makes the
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

// Vertex storage with more spare room than this is shrunk to fit.
// A vector of exactly n points whose storage is not filled: every byte is overwritten
// by the file's data right away, so QVector's zero fill would only cost a pass over memory.
// Returns false when the storage cannot be had.
bool makeUninitialized(QVector<geom::Point2Df> &points, int n)
{
    QTypedArrayData<geom::Point2Df> *data = QTypedArrayData<geom::Point2Df>::allocate(size_t(n));
    if (!data)
        return false;
    data->size = n;
    points = QVector<geom::Point2Df>(QArrayDataPointerRef<geom::Point2Df>{data});
    return true;
}

bool hasMuchSpare(const QVector<geom::Point2Df> &points)
{
    return points.capacity() - points.size() > std::max(8, points.size() / 8);
}

bool isUnitScale(float scale)
{
    return std::fabs(scale - 1.0f) <= 1e-5f * std::min(std::fabs(scale), 1.0f);
}

quint32 decode32(const char *bytes, QDataStream::ByteOrder order)
{
    return order == QDataStream::LittleEndian ? qFromLittleEndian<quint32>(bytes)
                                              : qFromBigEndian<quint32>(bytes);
}

float decodeFloat(const char *bytes, QDataStream::ByteOrder order)
{
    const quint32 bits = decode32(bytes, order);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

qint32 decodeInt(const char *bytes, QDataStream::ByteOrder order)
{
    return qint32(decode32(bytes, order));
}

bool isHostOrder(QDataStream::ByteOrder order)
{
    return (order == QDataStream::LittleEndian) == (QSysInfo::ByteOrder == QSysInfo::LittleEndian);
}

void swapWords(float *values, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        quint32 bits;
        std::memcpy(&bits, values + i, sizeof bits);
        bits = qbswap(bits);
        std::memcpy(values + i, &bits, sizeof bits);
    }
}

// Both loops work on whole groups of four floats inside the array and leave
// the remainder to the scalar loop, so no load reaches past the last float.
void scaleFloats(float *values, qint64 count, float factor)
{
    qint64 i = 0;
#if defined(__SSE2__)
    const __m128 f = _mm_set1_ps(factor);
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(values + i, _mm_mul_ps(_mm_loadu_ps(values + i), f));
#endif
    for (; i < count; ++i)
        values[i] *= factor;
}


// Of every run of equal consecutive vertices only the last one stays.
void removeRepeatedVertices(QVector<geom::Point2Df> &points)
{
    const int n = points.size();
    if (n < 2)
        return;
    geom::Point2Df *p = points.data();
    int kept = 0;
    for (int i = 0; i + 1 < n; ++i) {
        if (p[i] != p[i + 1])
            p[kept++] = p[i];
    }
    p[kept++] = p[n - 1];
    points.resize(kept);
}

// QList has no append that moves: the slice goes in as an empty one and is moved over it, so that
// its contours are neither copied nor walked again.
void appendMoved(QList<Slice> &slices, Slice &&slice)
{
    slices.append(Slice());
    slices.last() = std::move(slice);
}

QStringList headerTokens(QByteArray text)
{
    const int zero = text.indexOf('\0');
    if (zero >= 0)
        text.truncate(zero);
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The value of a keyword: the token after its first occurrence, trimmed.
QString headerValue(const QStringList &tokens, const QString &keyword)
{
    const int at = tokens.indexOf(keyword);
    if (at < 0 || at + 1 >= tokens.size())
        return QString();
    return tokens.at(at + 1).trimmed();
}

} // namespace

class SlcReaderPrivate
{
public:
    explicit SlcReaderPrivate(QIODevice *device);
    // A second reader state on the same device: its own stream (status Ok),
    // the same header and read-ahead.
    SlcReaderPrivate(const SlcReaderPrivate &other);

    bool deviceReady();
    bool readHeader();
    // Reads the layer whose z and boundary count were read ahead, and the next
    // read-ahead. False, with the stream status set, when the layer is not
    // complete or not sound; slice is then left alone.
    bool readSliceData(bool removeGapDuplicates, Slice &slice);
    QVector<geom::Point2Df> &scalePoints(QVector<geom::Point2Df> &points) const;

    QDataStream stream;
    QStringList header;
    qint32 boundaryCount = 0;
    float nextZ = unknownZ;
    float unitScale = 1.0f;
    geom::Point3Df offset;
    // Gap (file units) between the last two layers read: the thickness of a
    // last layer whose upper limit is missing.
    float lastGap = 0.0f;
    bool parallel = true;
    // Storage for the vertex arrays read straight from the device, made ahead
    // in this order by the parallel pass (see readLayersInParallel).
    std::vector<QVector<geom::Point2Df>> *preparedVertices = nullptr;
    size_t nextPrepared = 0;

    // Reads whole layers from a device of known size on the threads of the
    // global pool, appending at most maxCount (negative: no limit) to slices.
    // It takes only layers whose records it has found complete and sound, and
    // leaves the reader exactly as reading those layers one by one would:
    // device position, read-ahead and status (never changed here). Whatever
    // it declines (damage, the end, a very large layer) is left to
    // readSliceData, so results and statuses are those of the plain reader.
    void readLayersInParallel(bool removeGapDuplicates, int maxCount, QList<Slice> &slices);

private:
    enum class HeaderEnd { Mark, EndOfData, TooLong };

    HeaderEnd readHeaderText(QByteArray &text);
    bool readHeaderData();
    bool readSliceRecords(bool removeGapDuplicates, Slice &slice);
    bool readLayerHead();
    bool readBoundary(bool removeGapDuplicates, QVector<geom::Point2Df> &points);
    bool readVertices(qint64 count, bool dropClosing, QVector<geom::Point2Df> &points, bool &closingDone);

    // Input. On devices of known size the fields come out of a window read
    // from the device in large blocks: most boundaries are a few dozen bytes,
    // and one device call each would cost more than the copy. Whatever the
    // window holds unread is handed back (the device seeked back) before each
    // public operation returns, so the device is always where the reader is.
    void beginInput();
    void endInput();
    bool readBytes(char *data, qint64 size);
    bool readDirect(char *data, qint64 size);
    const char *takeBytes(qint64 size);
    bool skipBytes(qint64 size);
    qint64 dataLeft() const;
    void fail(QDataStream::Status status) { stream.setStatus(status); }

    // End of the device's data, or -1 when it is sequential (size unknown).
    qint64 m_end = -1;
    QByteArray m_window;
    int m_windowBegin = 0;
    int m_windowEnd = 0;
};

SlcReaderPrivate::SlcReaderPrivate(QIODevice *device)
    : stream(device)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

SlcReaderPrivate::SlcReaderPrivate(const SlcReaderPrivate &other)
    : stream(other.stream.device())
    , header(other.header)
    , boundaryCount(other.boundaryCount)
    , nextZ(other.nextZ)
    , unitScale(other.unitScale)
    , offset(other.offset)
    , lastGap(other.lastGap)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

bool SlcReaderPrivate::deviceReady()
{
    return deviceOpenFor(stream.device(), QIODevice::ReadOnly);
}

void SlcReaderPrivate::beginInput()
{
    QIODevice *device = stream.device();
    m_end = device->isSequential() ? -1 : device->size();
    m_windowBegin = m_windowEnd = 0;
    if (m_end >= 0 && m_window.isEmpty())
        m_window.resize(windowSize);
}

void SlcReaderPrivate::endInput()
{
    const int unread = m_windowEnd - m_windowBegin;
    if (unread > 0) {
        QIODevice *device = stream.device();
        device->seek(device->pos() - unread);
    }
    m_windowBegin = m_windowEnd = 0;
}

qint64 SlcReaderPrivate::dataLeft() const
{
    const qint64 position = stream.device()->pos() - (m_windowEnd - m_windowBegin);
    return std::max<qint64>(0, m_end - position);
}

// Every multi-byte field is read as raw bytes and decoded here: the file's
// floats are 4 bytes whatever precision the stream is set to.
bool SlcReaderPrivate::readDirect(char *data, qint64 size)
{
    while (size > 0) {
        const int chunk = int(std::min<qint64>(size, std::numeric_limits<int>::max()));
        if (stream.readRawData(data, chunk) != chunk) {
            fail(QDataStream::ReadPastEnd);
            return false;
        }
        data += chunk;
        size -= chunk;
    }
    return true;
}

// size contiguous bytes from the window, refilled as needed; null (and
// ReadPastEnd) when the data ends first. Only for sizes up to windowBlock.
const char *SlcReaderPrivate::takeBytes(qint64 size)
{
    if (m_windowEnd - m_windowBegin < size) {
        const int kept = m_windowEnd - m_windowBegin;
        std::memmove(m_window.data(), m_window.constData() + m_windowBegin, size_t(kept));
        m_windowBegin = 0;
        m_windowEnd = kept;
        QIODevice *device = stream.device();
        const qint64 wanted = std::min<qint64>(m_window.size() - kept, std::max<qint64>(0, m_end - device->pos()));
        const qint64 got = wanted > 0 ? device->read(m_window.data() + kept, wanted) : 0;
        if (got > 0)
            m_windowEnd += int(got);
        if (m_windowEnd < size) {
            m_windowBegin = m_windowEnd;
            fail(QDataStream::ReadPastEnd);
            return nullptr;
        }
    }
    const char *bytes = m_window.constData() + m_windowBegin;
    m_windowBegin += int(size);
    return bytes;
}

bool SlcReaderPrivate::readBytes(char *data, qint64 size)
{
    if (m_end >= 0 && size <= windowBlock) {
        const char *bytes = takeBytes(size);
        if (!bytes)
            return false;
        std::memcpy(data, bytes, size_t(size));
        return true;
    }
    const int buffered = int(std::min<qint64>(size, m_windowEnd - m_windowBegin));
    std::memcpy(data, m_window.constData() + m_windowBegin, size_t(buffered));
    m_windowBegin += buffered;
    return readDirect(data + buffered, size - buffered);
}

bool SlcReaderPrivate::skipBytes(qint64 size)
{
    const int buffered = int(std::min<qint64>(size, m_windowEnd - m_windowBegin));
    m_windowBegin += buffered;
    size -= buffered;
    while (size > 0) {
        const int chunk = int(std::min<qint64>(size, 1 << 30));
        if (stream.skipRawData(chunk) != chunk) {
            fail(QDataStream::ReadPastEnd);
            return false;
        }
        size -= chunk;
    }
    return true;
}

SlcReaderPrivate::HeaderEnd SlcReaderPrivate::readHeaderText(QByteArray &text)
{
    QIODevice *device = stream.device();
    char line[maxHeaderSize + 1];
    char lead = ' ';
    qint64 used = 0;
    text.clear();
    text.reserve(maxHeaderSize + 64);
    for (;;) {
        // The line may take what is left but one byte, the one read after it.
        const qint64 room = maxHeaderSize - used - 1;
        if (room < 1)
            return HeaderEnd::TooLong;
        const qint64 got = device->readLine(line, room + 1);
        if (got <= 0) {
            text.clear();
            return HeaderEnd::EndOfData;
        }
        used += got;
        text += lead;
        text += QByteArray::fromRawData(line, int(got)).trimmed();
        text += ' ';
        char next;
        if (stream.readRawData(&next, 1) != 1)
            return HeaderEnd::EndOfData;
        ++used;
        if (next == headerEndMark)
            return HeaderEnd::Mark;
        lead = next;
    }
}

bool SlcReaderPrivate::readHeader()
{
    if (stream.status() != QDataStream::Ok)
        return false;
    if (!header.isEmpty())
        return true;
    beginInput();
    const bool ok = readHeaderData();
    endInput();
    return ok;
}

bool SlcReaderPrivate::readHeaderData()
{
    QByteArray text;
    const HeaderEnd end = readHeaderText(text);
    header = headerTokens(text);
    if (end == HeaderEnd::TooLong) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    if (header.isEmpty() || end != HeaderEnd::Mark) {
        fail(QDataStream::ReadPastEnd);
        return false;
    }
    if (headerValue(header, QStringLiteral("-TYPE")) == QLatin1String("WEB")) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    if (headerValue(header, QStringLiteral("-UNIT")) == QLatin1String("INCH"))
        unitScale = inch;

    if (!skipBytes(reservedSize))
        return false;
    char entries = 0;
    if (!readBytes(&entries, 1) || !skipBytes(qint64(uchar(entries)) * sampleEntrySize))
        return false;
    return readLayerHead();
}

bool SlcReaderPrivate::readLayerHead()
{
    char head[layerHeadSize];
    if (!readBytes(head, layerHeadSize))
        return false;
    const QDataStream::ByteOrder order = stream.byteOrder();
    nextZ = decodeFloat(head, order);
    boundaryCount = decodeInt(head + 4, order);
    if (!std::isfinite(nextZ)) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    return true;
}

// With dropClosing, a closing vertex may be left out on the way (closingDone
// then tells that the question is settled).
bool SlcReaderPrivate::readVertices(qint64 count, bool dropClosing, QVector<geom::Point2Df> &points,
                                    bool &closingDone)
{
    closingDone = false;
    if (count == 0)
        return true;
    const qint64 bytes = count * vertexSize;
    const bool hostOrder = isHostOrder(stream.byteOrder());
    try {
        if (m_end >= 0 && bytes <= windowBlock) {
            // Small boundaries: the closing vertex is known before the storage
            // is made, so it is made to fit.
            const char *data = takeBytes(bytes);
            if (!data)
                return false;
            int keep = int(count);
            if (dropClosing && count > 1) {
                closingDone = true;
                geom::Point2Df ends[2];
                std::memcpy(&ends[0], data, vertexSize);
                std::memcpy(&ends[1], data + bytes - vertexSize, vertexSize);
                if (!hostOrder)
                    swapWords(reinterpret_cast<float *>(ends), 4);
                if (ends[0] == ends[1])
                    --keep;
            }
            if (!makeUninitialized(points, keep))
                throw std::bad_alloc();
            std::memcpy(points.data(), data, size_t(keep) * vertexSize);
        } else if (m_end >= 0) {
            if (preparedVertices && nextPrepared < preparedVertices->size()
                && (*preparedVertices)[nextPrepared].size() == count)
                points = std::move((*preparedVertices)[nextPrepared++]);
            else if (!makeUninitialized(points, int(count)))
                throw std::bad_alloc();
            if (!readBytes(reinterpret_cast<char *>(points.data()), bytes))
                return false;
        } else {
            qint64 got = 0;
            while (got < count) {
                const qint64 chunk = std::min<qint64>(count - got, sequentialVertexChunk);
                points.resize(int(got + chunk));
                if (!readBytes(reinterpret_cast<char *>(points.data() + got), chunk * vertexSize))
                    return false;
                got += chunk;
            }
        }
    } catch (const std::bad_alloc &) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    if (!hostOrder)
        swapWords(reinterpret_cast<float *>(points.data()), qint64(points.size()) * 2);
    return true;
}

bool SlcReaderPrivate::readBoundary(bool removeGapDuplicates, QVector<geom::Point2Df> &points)
{
    char head[boundaryHeadSize];
    if (!readBytes(head, boundaryHeadSize))
        return false;
    const QDataStream::ByteOrder order = stream.byteOrder();
    const qint32 vertexCount = decodeInt(head, order);
    const qint32 gapCount = decodeInt(head + 4, order);
    if (vertexCount < 0) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    // More vertices than the data left can hold: the file ends inside them.
    if (m_end >= 0 && vertexCount > dataLeft() / vertexSize) {
        fail(QDataStream::ReadPastEnd);
        return false;
    }

    // Gap removal can make the last vertex part of a run, so the closing
    // vertex is looked at after it.
    const bool removeGaps = gapCount != 0 && removeGapDuplicates;
    const qint64 kept = std::min<qint64>(vertexCount, maxVertices);
    bool closingDone = false;
    if (!readVertices(kept, !removeGaps && kept == vertexCount, points, closingDone))
        return false;
    if (vertexCount > kept) {
        qWarning("Will not attempt to read over 500 million points");
        if (!skipBytes((vertexCount - kept) * vertexSize))
            return false;
    }

    if (removeGaps)
        removeRepeatedVertices(points);
    if (!closingDone && points.size() > 1 && points.constLast() == points.constFirst())
        points.resize(points.size() - 1);
    if (hasMuchSpare(points))
        points.squeeze();

    scalePoints(points);
    if (!allFinite(reinterpret_cast<const float *>(points.constData()), qint64(points.size()) * 2)) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    return true;
}

namespace {

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
    // read straight from the device (see readLayersInParallel); the job's
    // alone, so it moves into the slices without a copy.
    std::shared_ptr<std::vector<QVector<geom::Point2Df>>> vertices;
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
// that the layer reader reads straight from the device, in order.
LayerScan scanLayer(const char *block, qint64 base, qint64 available, qint64 end, qint64 start, qint32 count,
                    QDataStream::ByteOrder order, qint64 &layerEnd, float &nextZ, qint32 &nextCount,
                    QVector<qint32> &largeArrays)
{
    largeArrays.clear();
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

void SlcReaderPrivate::readLayersInParallel(bool removeGapDuplicates, int maxCount, QList<Slice> &slices)
{
    QIODevice *device = stream.device();
    const QDataStream::ByteOrder order = stream.byteOrder();
    const float scale = unitScale;
    const geom::Point3Df shift = offset;
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
    const auto releaseBlocks = [&]() {
        while (blocks.size() > 1 && blocks.front().jobs == 0) {
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
    float takenZ = nextZ;
    qint32 takenCount = boundaryCount;
    float takenGap = lastGap;
    bool declined = false;
    const auto takeOldest = [&]() {
        Running oldest = running.front();
        running.pop_front();
        runningBytes -= oldest.bytes;
        const LayerJobResult result = oldest.future.result();
        --oldest.block->jobs;
        releaseBlocks();
        if (declined)
            return;
        const int read = result.slices ? int(result.slices->size()) : 0;
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
    float z = nextZ;
    qint32 count = boundaryCount;
    float gap = lastGap;
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
                                  qint64(work.length), &block});
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
        const qint64 got = device->read(next.data() + kept, size - kept);
        blocks.push_back(Block{std::move(next), 0});
        releaseBlocks();
        const char *block = blocks.back().bytes.constData();
        blockBase = layerStart;
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
            const LayerScan scan = scanLayer(block, blockBase, blockEnd, end, layerStart, count, order,
                                             layerEnd, headZ, headCount, largeArrays);
            if (scan == LayerScan::Declined)
                scanning = false;
            if (scan != LayerScan::Complete)
                break;

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
    nextZ = takenZ;
    boundaryCount = takenCount;
    lastGap = takenGap;
}

bool SlcReaderPrivate::readSliceData(bool removeGapDuplicates, Slice &slice)
{
    if (boundaryCount == terminatorCount)
        return false;
    beginInput();
    const bool ok = readSliceRecords(removeGapDuplicates, slice);
    endInput();
    return ok;
}

bool SlcReaderPrivate::readSliceRecords(bool removeGapDuplicates, Slice &slice)
{
    const float z = nextZ;
    const qint64 count = quint32(boundaryCount);
    if (count > maxContours) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }
    // More boundaries than the data left can hold: the file ends inside this
    // layer. Nothing is made from such a count.
    if (m_end >= 0 && count > dataLeft() / boundaryHeadSize) {
        fail(QDataStream::ReadPastEnd);
        return false;
    }

    QVector<Contour> contours;
    try {
        contours.reserve(int(m_end >= 0 ? count : std::min<qint64>(count, sequentialContourReserve)));
        for (qint64 i = 0; i < count; ++i) {
            QVector<geom::Point2Df> points;
            if (!readBoundary(removeGapDuplicates, points))
                return false;
            contours.append(Contour(std::move(points)));
        }
    } catch (const std::bad_alloc &) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }

    // The layer's records are complete. When no sound record follows (the
    // data ends, or the next height is not finite) its upper limit is unknown,
    // and the gap below it is the best guess for its thickness.
    float thickness;
    if (readLayerHead()) {
        thickness = nextZ - z;
        lastGap = thickness;
    } else {
        thickness = lastGap;
        nextZ = unknownZ;
    }

    float height = z;
    if (!isUnitScale(unitScale)) {
        height *= unitScale;
        thickness *= unitScale;
    }
    if (!std::isfinite(height) || !std::isfinite(thickness)) {
        fail(QDataStream::ReadCorruptData);
        return false;
    }

    slice = Slice(height, thickness, std::move(contours));
    slice.translate(offset.x, offset.y, offset.z);
    return true;
}

QVector<geom::Point2Df> &SlcReaderPrivate::scalePoints(QVector<geom::Point2Df> &points) const
{
    if (isUnitScale(unitScale) || points.isEmpty())
        return points;
    scaleFloats(reinterpret_cast<float *>(points.data()), qint64(points.size()) * 2, unitScale);
    return points;
}

SlcReader::SlcReader(QIODevice *device)
    : d(new SlcReaderPrivate(device))
{
}

SlcReader::~SlcReader() = default;

QDataStream *SlcReader::stream() const
{
    return &d->stream;
}

geom::Point3Df SlcReader::offset() const
{
    return d->offset;
}

void SlcReader::setOffset(const geom::Point3Df &offset)
{
    d->offset = offset;
}

float SlcReader::unitScale() const
{
    return d->unitScale;
}

void SlcReader::setUnitScale(float scale)
{
    d->unitScale = scale;
}

bool SlcReader::isParallel() const
{
    return d->parallel;
}

void SlcReader::setParallel(bool parallel)
{
    d->parallel = parallel;
}

QStringList SlcReader::header()
{
    if (d->deviceReady() && d->boundaryCount != terminatorCount)
        d->readHeader();
    return d->header;
}

float SlcReader::nextZ()
{
    if (!d->deviceReady() || d->boundaryCount == terminatorCount || !d->readHeader())
        return unknownZ;
    return d->nextZ + d->offset.z;
}

Slice SlcReader::readSlice(bool removeGapDuplicates)
{
    Slice slice;
    if (d->deviceReady() && d->boundaryCount != terminatorCount && d->readHeader())
        d->readSliceData(removeGapDuplicates, slice);
    return slice;
}

Slice SlcReader::peekSlice(bool removeGapDuplicates)
{
    Slice slice;
    if (!d->deviceReady())
        return slice;
    QIODevice *device = d->stream.device();
    if (d->boundaryCount == terminatorCount || device->isSequential() || d->stream.status() != QDataStream::Ok)
        return slice;
    const qint64 position = device->pos();
    SlcReaderPrivate copy(*d);
    if (copy.readHeader())
        copy.readSliceData(removeGapDuplicates, slice);
    device->seek(position);
    return slice;
}

QList<Slice> SlcReader::readSlices(bool removeGapDuplicates, int maxCount)
{
    QList<Slice> slices;
    if (maxCount == 0 || !d->deviceReady() || d->boundaryCount == terminatorCount || !d->readHeader())
        return slices;
    const bool parallel = d->parallel && !d->stream.device()->isSequential();
    const auto more = [&]() {
        return (maxCount < 0 || slices.size() < maxCount) && d->stream.status() == QDataStream::Ok
            && d->boundaryCount != terminatorCount;
    };
    while (more()) {
        if (parallel) {
            d->readLayersInParallel(removeGapDuplicates, maxCount < 0 ? -1 : maxCount - slices.size(), slices);
            if (!more())
                break;
        }
        // A layer the parallel pass left (damage, the end of the data, a
        // very large layer) is read here, and decides whether reading goes on.
        Slice slice;
        if (!d->readSliceData(removeGapDuplicates, slice))
            break;
        appendMoved(slices, std::move(slice));
    }
    if (!slices.isEmpty() && std::isnan(slices.constLast().thickness()))
        slices.removeLast();
    return slices;
}
