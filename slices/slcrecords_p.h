#ifndef SLCRECORDS_P_H
#define SLCRECORDS_P_H

// What the one-thread SLC reader and its parallel layer jobs share: the sizes
// of the file's records, how their fields are decoded, and how the storage
// the records fill is made.

#include "contour.h"
#include "point2d.h"
#include "slice.h"

#include <QDataStream>
#include <QList>
#include <QVector>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace SlcRecords {

const float unknownZ = std::numeric_limits<float>::signaling_NaN();
const qint32 terminatorCount = -1;

const int vertexSize = 8;
// Vertex count and gap count of a boundary record.
const int boundaryHeadSize = 8;
// z and boundary count of a layer record.
const int layerHeadSize = 8;

// The most contours one slice's QVector can hold.
const qint64 maxContours = (std::numeric_limits<int>::max() - 64) / qint64(sizeof(Contour));

// The largest block the reader takes from its read window (see SlcReaderPrivate); larger vertex
// arrays are read from the device straight into their storage.
const int windowBlock = 1 << 11;

inline quint32 decode32(const char *bytes, QDataStream::ByteOrder order)
{
    return order == QDataStream::LittleEndian ? qFromLittleEndian<quint32>(bytes)
                                              : qFromBigEndian<quint32>(bytes);
}

inline float decodeFloat(const char *bytes, QDataStream::ByteOrder order)
{
    const quint32 bits = decode32(bytes, order);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline qint32 decodeInt(const char *bytes, QDataStream::ByteOrder order)
{
    return qint32(decode32(bytes, order));
}

// A vector of exactly n points whose storage is not filled: every byte is overwritten
// by the file's data right away, so QVector's zero fill would only cost a pass over memory.
// Returns false when the storage cannot be had.
inline bool makeUninitialized(QVector<geom::Point2Df> &points, int n)
{
    QTypedArrayData<geom::Point2Df> *data = QTypedArrayData<geom::Point2Df>::allocate(size_t(n));
    if (!data)
        return false;
    data->size = n;
    points = QVector<geom::Point2Df>(QArrayDataPointerRef<geom::Point2Df>{data});
    return true;
}

// QList has no append that moves: the slice goes in as an empty one and is moved over it, so that
// its contours are neither copied nor walked again.
inline void appendMoved(QList<Slice> &slices, Slice &&slice)
{
    slices.append(Slice());
    slices.last() = std::move(slice);
}

} // namespace SlcRecords

#endif // SLCRECORDS_P_H
