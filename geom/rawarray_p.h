#ifndef GEOM_RAWARRAY_P_H
#define GEOM_RAWARRAY_P_H

// Shared body of the raw point-array readers and writers; not part of the
// kernel's interface.

#include <QDataStream>
#include <QIODevice>
#include <QVector>
#include <QtGlobal>

#include <limits>

namespace geom {
namespace detail {

// The elements are copied straight between memory and the device, and the
// format stores them little-endian.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "raw point arrays assume a little-endian machine");

template <typename P>
int writeRawArray(QDataStream &stream, const P *points, int count)
{
    if (stream.status() != QDataStream::Ok)
        return 0;
    QIODevice *device = stream.device();
    if (!device || count < 0 || (count > 0 && !points)) {
        stream.setStatus(QDataStream::WriteFailed);
        return -1;
    }
    stream << qint32(count);
    if (stream.status() != QDataStream::Ok)
        return -1;
    if (count == 0)
        return 0;
    const qint64 bytes = qint64(count) * qint64(sizeof(P));
    if (device->write(reinterpret_cast<const char *>(points), bytes) != bytes) {
        stream.setStatus(QDataStream::WriteFailed);
        return -1;
    }
    return count;
}

template <typename P>
int readRawArray(QDataStream &stream, QVector<P> &points)
{
    // A sequential device cannot tell how much is still to come, so its data is
    // taken in slices of this many bytes and storage grows only with data that
    // actually arrived.
    constexpr int chunkBytes = 1 << 16;
    constexpr int chunkElements = chunkBytes / int(sizeof(P));
    // Keeps the byte count of one QVector allocation within Qt's int range.
    constexpr int maxElements = (std::numeric_limits<int>::max() - 64) / int(sizeof(P));

    qint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok)
        return 0;
    QIODevice *device = stream.device();
    if (!device) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return 0;
    }
    if (count < 0 || count > maxElements) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return -1;
    }

    QVector<P> result;
    if (!device->isSequential()) {
        const int bytes = count * int(sizeof(P));
        if (bytes > device->bytesAvailable()) {
            stream.setStatus(QDataStream::ReadPastEnd);
            return -1;
        }
        result.resize(count);
        if (bytes > 0 && stream.readRawData(reinterpret_cast<char *>(result.data()), bytes) != bytes) {
            stream.setStatus(QDataStream::ReadPastEnd);
            return -1;
        }
    } else {
        int done = 0;
        while (done < count) {
            const int n = qMin(chunkElements, count - done);
            result.resize(done + n);
            const int bytes = n * int(sizeof(P));
            if (stream.readRawData(reinterpret_cast<char *>(result.data() + done), bytes) != bytes) {
                stream.setStatus(QDataStream::ReadPastEnd);
                return -1;
            }
            done += n;
        }
    }
    points.swap(result);
    return count;
}

} // namespace detail
} // namespace geom

#endif // GEOM_RAWARRAY_P_H
