#ifndef SLCMEMORYBUDGET_P_H
#define SLCMEMORYBUDGET_P_H

#include <QtGlobal>

// What the slices read from one file may take, weighed while they are read:
// the reader charges each layer's slice, contours and vertex arrays before it
// makes them, and stops when a charge would go over the limit. The costs are
// those of the heap blocks the model is made of, plus a share of what the
// work after reading (arranging the slices in a stack) takes beside them for
// a while; the limit is what the system had available when reading began.
class SlcMemoryBudget
{
public:
    // No limit.
    SlcMemoryBudget();

    // Starts over with nothing charged and the given limit in bytes.
    void start(qint64 limit);
    // Charges bytes; false, charging nothing, when that would exceed the limit.
    bool take(qint64 bytes);
    void give(qint64 bytes);
    qint64 used() const { return m_used; }

    // The memory the model of a file may take now: the smaller of the memory the system reports
    // available and the address space this process has left under its limit, less a margin
    // for the threads and buffers of reading and for the rest of the program. Unlimited
    // where neither can be told.
    static qint64 availableNow();

    // One slice (layer) and its place in a list.
    static qint64 sliceCost();
    // What count contours add to a slice (0: nothing): its own body and the contour array.
    static qint64 contoursCost(qint64 count);
    // The vertex array of a contour of count vertices (0: none).
    static qint64 verticesCost(qint64 count);

private:
    qint64 m_limit;
    qint64 m_used = 0;
};

#endif // SLCMEMORYBUDGET_P_H
