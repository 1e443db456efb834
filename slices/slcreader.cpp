#include "slcreader.h"

#include "deviceaccess_p.h"
#include "finitefloats_p.h"
#include "slclayerjobs_p.h"
#include "slcmemorybudget_p.h"
#include "slcreader_p.h"
#include "slcrecords_p.h"

#include <QIODevice>
#include <QSysInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace SlcRecords;

namespace {

// The header text with its end mark (CR LF 0x1A) takes at most this many bytes.
const int maxHeaderSize = 2048;
const char headerEndMark = 0x1A;
const int reservedSize = 256;
const int sampleEntrySize = 16;

const float inch = 25.4f;

// A boundary keeps at most this many vertices; the rest of a longer one is
// skipped. The format's own limit is 0x1FFFFFFF, but a QVector's storage is
// limited to an int's worth of bytes.
const qint64 maxVertices =
    std::min<qint64>(0x1FFFFFFF, (std::numeric_limits<int>::max() - 64) / qint64(sizeof(geom::Point2Df)));

// On sequential devices nothing tells how much data is left, so vertices are
// read (and their storage grown) this many at a time, and no more contours are
// reserved up front than this.
const int sequentialVertexChunk = 1 << 16;
const int sequentialContourReserve = 1 << 10;

// Bytes read from a device of known size at a time (see SlcReaderPrivate);
// at most windowBlock of them are taken from that window at once.
const int windowSize = 1 << 14;

// Vertex storage with more spare room than this is shrunk to fit.
bool hasMuchSpare(const QVector<geom::Point2Df> &points)
{
    return points.capacity() - points.size() > std::max(8, points.size() / 8);
}

bool isUnitScale(float scale)
{
    return std::fabs(scale - 1.0f) <= 1e-5f * std::min(std::fabs(scale), 1.0f);
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

bool SlcReaderPrivate::charge(qint64 bytes)
{
    if (!budget || budget->take(bytes))
        return true;
    runOutOfMemory();
    return false;
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
            // is made, so it is made to fit. The charge is that of all the
            // vertices, as on every other road, so that every road weighs a
            // file the same.
            if (!charge(SlcMemoryBudget::verticesCost(count)))
                return false;
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
            else if (!charge(SlcMemoryBudget::verticesCost(count)))
                return false;
            else if (!makeUninitialized(points, int(count)))
                throw std::bad_alloc();
            if (!readBytes(reinterpret_cast<char *>(points.data()), bytes))
                return false;
        } else {
            qint64 got = 0;
            while (got < count) {
                const qint64 chunk = std::min<qint64>(count - got, sequentialVertexChunk);
                if (!charge(SlcMemoryBudget::verticesCost(got + chunk) - SlcMemoryBudget::verticesCost(got)))
                    return false;
                points.resize(int(got + chunk));
                if (!readBytes(reinterpret_cast<char *>(points.data() + got), chunk * vertexSize))
                    return false;
                got += chunk;
            }
        }
    } catch (const std::bad_alloc &) {
        runOutOfMemory();
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

    // On a device of known size the count has been weighed against the data, and the contours
    // are charged all at once; on a sequential one as their array grows.
    qint64 charged = m_end >= 0 ? count : std::min<qint64>(count, sequentialContourReserve);
    if (!charge(SlcMemoryBudget::sliceCost() + SlcMemoryBudget::contoursCost(charged)))
        return false;
    QVector<Contour> contours;
    try {
        contours.reserve(int(charged));
        for (qint64 i = 0; i < count; ++i) {
            if (i == charged) {
                const qint64 more = std::min(count, 2 * charged);
                if (!charge(SlcMemoryBudget::contoursCost(more) - SlcMemoryBudget::contoursCost(charged)))
                    return false;
                charged = more;
            }
            QVector<geom::Point2Df> points;
            if (!readBoundary(removeGapDuplicates, points))
                return false;
            contours.append(Contour(std::move(points)));
        }
    } catch (const std::bad_alloc &) {
        runOutOfMemory();
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

qint64 SlcReader::memoryBudget() const
{
    return d->memoryLimit;
}

void SlcReader::setMemoryBudget(qint64 bytes)
{
    d->memoryLimit = bytes;
}

bool SlcReader::needsMoreMemory() const
{
    return d->outOfMemory;
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
    d->ownBudget.start(d->memoryLimit >= 0 ? d->memoryLimit : SlcMemoryBudget::availableNow());
    d->budget = &d->ownBudget;
    try {
        while (more()) {
            if (parallel) {
                SlcLayerJobs(*d, removeGapDuplicates).read(maxCount < 0 ? -1 : maxCount - slices.size(), slices);
                if (!more())
                    break;
            }
            // A layer the parallel pass left (damage, the end of the data, a
            // very large layer, the budget) is read here, and decides whether
            // reading goes on.
            Slice slice;
            if (!d->readSliceData(removeGapDuplicates, slice))
                break;
            appendMoved(slices, std::move(slice));
        }
    } catch (const std::bad_alloc &) {
        d->runOutOfMemory();
    }
    d->budget = nullptr;
    // Part of a file is no model of it: what was read is given back at once.
    if (d->outOfMemory) {
        slices = QList<Slice>();
        return slices;
    }
    if (!slices.isEmpty() && std::isnan(slices.constLast().thickness()))
        slices.removeLast();
    return slices;
}
