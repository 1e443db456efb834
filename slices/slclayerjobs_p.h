#ifndef SLCLAYERJOBS_P_H
#define SLCLAYERJOBS_P_H

#include "slice.h"

#include <QList>

class SlcReaderPrivate;

// The parallel pass of SlcReader::readSlices: reads whole layers from a device
// of known size on the threads of the global pool. A scan on the calling thread
// walks the layer records in blocks read from the device and hands runs of
// complete layers out as jobs; each job is the reader's own layer code run
// over the job's bytes, so the slices are those the one-thread reader makes.
//
// It takes only layers whose records it has found complete and sound, and
// leaves the reader exactly as reading those layers one by one would: device
// position, read-ahead and status (never changed here). Whatever it declines
// (damage, the end, a very large layer) is left to the reader's
// readSliceData, so results and statuses are those of the one-thread reader.
class SlcLayerJobs
{
public:
    SlcLayerJobs(SlcReaderPrivate &reader, bool removeGapDuplicates)
        : m_reader(reader)
        , m_removeGapDuplicates(removeGapDuplicates)
    {
    }

    // Appends at most maxCount layers (negative: no limit) to slices.
    void read(int maxCount, QList<Slice> &slices);

private:
    SlcReaderPrivate &m_reader;
    const bool m_removeGapDuplicates;
};

#endif // SLCLAYERJOBS_P_H
