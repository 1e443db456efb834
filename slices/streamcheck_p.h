#ifndef SLICES_STREAMCHECK_P_H
#define SLICES_STREAMCHECK_P_H

// Count and nesting checks shared by the contour and slice stream readers and
// writers; not part of the folder's interface.

#include "contour.h"

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

// A record's top-level contour is at depth 0, its children at 1, and so on.
// The readers refuse a record that nests deeper than Contour::maxStreamDepth
// and the writers refuse to write one, so that whatever is written reads back.
inline bool depthFits(int depth)
{
    return depth <= Contour::maxStreamDepth;
}

// The walk stops at the first contour past the bound, so it recurses no
// deeper than a reader may.
inline bool nestingFits(const Contour &contour, int depth)
{
    if (!depthFits(depth))
        return false;
    for (const Contour &child : contour.children()) {
        if (!nestingFits(child, depth + 1))
            return false;
    }
    return true;
}

// False, with the stream's status set to WriteFailed, when the contour's
// record could not be read back; checked before anything of it is written.
inline bool writable(QDataStream &stream, const Contour &contour)
{
    if (nestingFits(contour, 0))
        return true;
    stream.setStatus(QDataStream::WriteFailed);
    return false;
}

} // namespace slicestream

#endif // SLICES_STREAMCHECK_P_H
