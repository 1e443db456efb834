#ifndef SLICES_STREAMCHECK_P_H
#define SLICES_STREAMCHECK_P_H

// Count checks shared by the contour and slice stream readers; not part of the
// folder's interface.

#include <QDataStream>
#include <QIODevice>

namespace slicestream {

// The smallest contour record: a child count and a point count.
const qint64 minContourRecordBytes = 8;

// A count read from the stream is corrupt when negative and cannot be met when
// even the smallest items it announces, plus the fields that follow them, do
// not fit into what is left. A device that cannot tell its size is trusted:
// the reading then stops at the first item that runs short. Sets the stream's
// status on failure.
inline bool countFits(QDataStream &stream, qint32 count, qint64 bytesPerItem, qint64 trailingBytes)
{
    if (count < 0) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    const QIODevice *device = stream.device();
    if (device && !device->isSequential()
        && qint64(count) * bytesPerItem + trailingBytes > device->bytesAvailable()) {
        stream.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    return true;
}

} // namespace slicestream

#endif // SLICES_STREAMCHECK_P_H
