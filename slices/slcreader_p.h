#ifndef SLCREADER_P_H
#define SLCREADER_P_H

#include "point3d.h"
#include "slcmemorybudget_p.h"
#include "slcrecords_p.h"
#include "slice.h"

#include <QByteArray>
#include <QDataStream>
#include <QStringList>
#include <QVector>

#include <cstddef>
#include <vector>

class QIODevice;

// The state of one SlcReader, and the one-thread reading of the records. The
// parallel pass (SlcLayerJobs) runs copies of it over the bytes of its jobs.
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
    float nextZ = SlcRecords::unknownZ;
    float unitScale = 1.0f;
    geom::Point3Df offset;
    // Gap (file units) between the last two layers read: the thickness of a
    // last layer whose upper limit is missing.
    float lastGap = 0.0f;
    bool parallel = true;
    // Storage for the vertex arrays read straight from the device, made ahead
    // in this order by the parallel pass (see SlcLayerJobs).
    std::vector<QVector<geom::Point2Df>> *preparedVertices = nullptr;
    size_t nextPrepared = 0;

    // The limit set by the caller (negative: what the system has available
    // when readSlices starts), the budget of the reading under way (null when
    // nothing is weighed: single layers, peeks, the layer jobs), and whether
    // reading stopped because the file needs more memory than that.
    qint64 memoryLimit = -1;
    SlcMemoryBudget ownBudget;
    SlcMemoryBudget *budget = nullptr;
    bool outOfMemory = false;
    // Status ReadCorruptData, told apart from damage by outOfMemory.
    void runOutOfMemory()
    {
        outOfMemory = true;
        stream.setStatus(QDataStream::ReadCorruptData);
    }

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
    // Charges the budget with what is about to be made; false (out of
    // memory) when the budget cannot take it.
    bool charge(qint64 bytes);

    // End of the device's data, or -1 when it is sequential (size unknown).
    qint64 m_end = -1;
    QByteArray m_window;
    int m_windowBegin = 0;
    int m_windowEnd = 0;
};

#endif // SLCREADER_P_H
