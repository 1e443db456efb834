#include "slcwriter.h"

#include "deviceaccess_p.h"
#include "finitefloats_p.h"

#include "slcreader.h"

#include <QBuffer>
#include <QFileDevice>
#include <QIODevice>
#include <QSysInfo>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const qint32 terminatorCount = -1;
const int bufferSize = 1 << 18;
const int directWriteSize = 1 << 12;

// CR LF 0x1A ends the header text; the 256 zero bytes are the reserved block.
const QByteArray &slcHeaderSuffix()
{
    static const QByteArray suffix = QByteArray("\r\n\x1A", 3) + QByteArray(256, '\0');
    return suffix;
}

const QByteArray &defaultHeader()
{
    static const QByteArray header = QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART") + slcHeaderSuffix();
    return header;
}

bool isHostOrder(QDataStream::ByteOrder order)
{
    return (order == QDataStream::LittleEndian) == (QSysInfo::ByteOrder == QSysInfo::LittleEndian);
}

int countGapVertices(const QVector<geom::Point2Df> &points)
{
    int gaps = 0;
    for (int i = 0; i + 1 < points.size(); ++i) {
        if (points.at(i) == points.at(i + 1))
            ++gaps;
    }
    return gaps;
}

// Whether our own reader takes header (text and suffix) as a complete header:
// the header followed by an empty sample table and the end marker must read
// without error and leave nothing behind.
bool readerAcceptsHeader(const QByteArray &header)
{
    QByteArray file = header;
    file.append('\0');
    file.append(QByteArray(8, '\0'));
    qToLittleEndian<qint32>(terminatorCount, file.data() + file.size() - 4);
    QBuffer buffer(&file);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    SlcReader reader(&buffer);
    return !reader.header().isEmpty() && reader.stream()->status() == QDataStream::Ok && buffer.atEnd();
}

} // namespace

SlcWriter::SlcWriter(QIODevice *device)
    : m_stream(device)
    , m_header(defaultHeader())
    , m_lastZ(std::numeric_limits<float>::signaling_NaN())
{
    m_stream.setByteOrder(QDataStream::LittleEndian);
    m_stream.setFloatingPointPrecision(QDataStream::SinglePrecision);
}

SlcWriter::~SlcWriter()
{
    if (!m_finished)
        finish();
}

bool SlcWriter::setHeader(const QByteArray &text)
{
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.contains('\0') || trimmed.contains("\n\x1A"))
        return false;
    const QByteArray header = trimmed + slcHeaderSuffix();
    if (!readerAcceptsHeader(header))
        return false;
    m_header = header;
    return true;
}

bool SlcWriter::ensureWritable()
{
    return deviceOpenFor(m_stream.device(), QIODevice::WriteOnly);
}

bool SlcWriter::writeBytes(const char *data, qint64 size)
{
    while (size > 0) {
        const int chunk = int(std::min<qint64>(size, 1 << 30));
        if (m_stream.writeRawData(data, chunk) != chunk) {
            m_stream.setStatus(QDataStream::WriteFailed);
            return false;
        }
        data += chunk;
        size -= chunk;
    }
    return true;
}

bool SlcWriter::flushBuffer()
{
    const int used = m_used;
    m_used = 0;
    return m_stream.status() == QDataStream::Ok && writeBytes(m_buffer.constData(), used);
}

void SlcWriter::append(const char *data, qint64 size)
{
    // A large block costs one device write of its own, which is cheaper than
    // copying it through the buffer.
    if (size >= directWriteSize || m_used + size > m_buffer.size()) {
        if (!flushBuffer())
            return;
        if (size >= directWriteSize) {
            writeBytes(data, size);
            return;
        }
    }
    std::memcpy(m_buffer.data() + m_used, data, size_t(size));
    m_used += int(size);
}

void SlcWriter::appendInt(qint32 value)
{
    char bytes[4];
    if (m_stream.byteOrder() == QDataStream::LittleEndian)
        qToLittleEndian(value, bytes);
    else
        qToBigEndian(value, bytes);
    append(bytes, 4);
}

void SlcWriter::appendFloat(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendInt(qint32(bits));
}

void SlcWriter::appendPoints(const geom::Point2Df *points, int count)
{
    if (isHostOrder(m_stream.byteOrder())) {
        append(reinterpret_cast<const char *>(points), qint64(count) * qint64(sizeof(geom::Point2Df)));
        return;
    }
    for (int i = 0; i < count; ++i) {
        appendFloat(points[i].x);
        appendFloat(points[i].y);
    }
}

bool SlcWriter::writePreamble(const Slice &first)
{
    QIODevice *device = m_stream.device();
    if (!device->isSequential() && device->pos() > 0 && !device->seek(0)) {
        m_stream.setStatus(QDataStream::WriteFailed);
        return false;
    }
    if (!writeBytes(m_header.constData(), m_header.size()))
        return false;
    const char entries = 1;
    append(&entries, 1);
    appendFloat(first.z());
    appendFloat(first.thickness());
    appendFloat(0.0f);
    appendFloat(0.0f);
    m_preambleWritten = true;
    return m_stream.status() == QDataStream::Ok;
}

bool SlcWriter::writeSlice(const Slice &slice, bool countGaps)
{
    if (m_finished || m_stream.status() != QDataStream::Ok || !ensureWritable())
        return false;

    const float z = slice.z();
    const float thickness = slice.thickness();
    const float top = z + thickness;
    if (!std::isfinite(z) || !std::isfinite(thickness) || !std::isfinite(top))
        return false;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        const QVector<geom::Point2Df> &points = slice.contourAt(i).points();
        if (!allFinite(reinterpret_cast<const float *>(points.constData()), qint64(points.size()) * 2))
            return false;
    }

    if (m_buffer.isEmpty())
        m_buffer.resize(bufferSize);
    if (!m_preambleWritten && !writePreamble(slice))
        return false;

    appendFloat(z);
    appendInt(count);
    for (int i = 0; i < count && m_stream.status() == QDataStream::Ok; ++i) {
        const QVector<geom::Point2Df> &points = slice.contourAt(i).points();
        const int n = points.size();
        const bool close = n > 0 && points.constLast() != points.constFirst();
        appendInt(close ? n + 1 : n);
        appendInt(countGaps && n >= 2 ? countGapVertices(points) : 0);
        appendPoints(points.constData(), n);
        if (close)
            appendPoints(points.constData(), 1);
    }
    if (!flushBuffer())
        return false;
    m_lastZ = top;
    return true;
}

int SlcWriter::writeSlices(const QList<Slice> &slices, bool countGaps)
{
    int written = 0;
    for (const Slice &slice : slices) {
        if (!writeSlice(slice, countGaps))
            return written == 0 ? -1 : written;
        ++written;
    }
    return written;
}

bool SlcWriter::finish()
{
    if (m_finished)
        return m_finishResult;
    m_finished = true;
    if (m_preambleWritten && m_stream.status() == QDataStream::Ok) {
        appendFloat(m_lastZ);
        appendInt(terminatorCount);
        if (flushBuffer()) {
            QFileDevice *file = qobject_cast<QFileDevice *>(m_stream.device());
            if (file && !file->flush())
                m_stream.setStatus(QDataStream::WriteFailed);
        }
    }
    m_buffer = QByteArray();
    m_finishResult = m_stream.status() == QDataStream::Ok;
    return m_finishResult;
}
