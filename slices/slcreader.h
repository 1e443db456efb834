#ifndef SLCREADER_H
#define SLCREADER_H

#include "point3d.h"
#include "slice.h"

#include <QDataStream>
#include <QList>
#include <QStringList>

#include <memory>

class QIODevice;
class SlcReaderPrivate;

// Reads the layers of an SLC file, one Slice per layer and one Contour per
// boundary, in file order. Inch files are converted to millimetres; an offset
// set by the caller is added to every slice after that.
//
// The reader reads one layer record ahead, so that each slice comes with its
// thickness: the next layer's z (or the end marker's z) minus its own.
//
// Failures are reported through stream()->status() only, and a damaged file
// yields the complete layers read before the damage:
//  - QDataStream::ReadPastEnd: the data ended early. Either the header has no
//    end mark (CR LF 0x1A) before the end of the data, or a layer record is cut
//    off (that layer is not returned), or the file ends without its end marker
//    right after a complete layer. In the last case the layer is returned, and
//    its thickness is the gap from the layer below it (0 when it is the only
//    one), since its own upper limit is unknown. On a device of known size, a
//    boundary or vertex count larger than the rest of the data can hold means
//    just that: the data ends inside the layer.
//  - QDataStream::ReadCorruptData: the bytes cannot be an SLC file we can read,
//    however long the data: a header longer than 2048 bytes, the type "WEB", a
//    negative vertex count, more boundaries than one slice can hold, a height
//    or coordinate that is infinite or NaN (after the unit conversion). The
//    layer in whose records this is found is not returned. A height that is
//    not finite ends the file after the layer below it, which is returned with
//    the thickness of the gap below it, as above.
//    ReadCorruptData is also the status of a file that needs more memory than
//    is available (see needsMoreMemory()).
// No count read from the file is used to allocate memory before it has been
// checked against the data left on the device; on sequential devices the
// vertices are read in bounded chunks, so memory follows the data actually
// received.
//
// The device is not owned; it is opened read-only when it is not readable yet.
class SlcReader
{
public:
    explicit SlcReader(QIODevice *device);
    ~SlcReader();

    SlcReader(const SlcReader &) = delete;
    SlcReader &operator=(const SlcReader &) = delete;

    QDataStream *stream() const;

    // Added to every slice read (after the unit conversion).
    geom::Point3Df offset() const;
    void setOffset(const geom::Point3Df &offset);

    // Length factor applied to everything read; a header declaring inches sets
    // it to 25.4 when the header is read.
    float unitScale() const;
    void setUnitScale(float scale);

    // Whether readSlices may parse layers on several threads (the global
    // thread pool's) when the device is random-access; the slices and the
    // status are the same either way. On by default.
    bool isParallel() const;
    void setParallel(bool parallel);

    // The memory in bytes that the slices of one readSlices may take, weighed
    // as they are read (slices, contours, vertex arrays, and the room to
    // arrange them in a stack); negative, the default: what the system has
    // available when readSlices starts, less a margin.
    qint64 memoryBudget() const;
    void setMemoryBudget(qint64 bytes);
    // Whether reading stopped because the file needs more memory than the
    // budget allows, or an allocation failed: the status is then
    // ReadCorruptData and readSlices returns no slice.
    bool needsMoreMemory() const;

    // The header's blank-separated tokens; reads the header when it has not
    // been read yet.
    QStringList header();

    // Height of the next layer plus the z offset, in file units (the unit
    // factor is not applied); NaN at the end of the file or when the file
    // cannot be read.
    float nextZ();

    // The next layer; the empty slice (z NaN, thickness 0, no contours) at the
    // end of the file or on failure.
    Slice readSlice(bool removeGapDuplicates);
    // The next layer without moving on (random-access devices only; the empty
    // slice on sequential ones). The reader's state and status do not change.
    Slice peekSlice(bool removeGapDuplicates);
    // Up to maxCount layers (negative: all of them).
    QList<Slice> readSlices(bool removeGapDuplicates, int maxCount);

    // The removeGapDuplicates flag reduces every run of repeated vertices in a
    // boundary that declares gaps to its last vertex.

private:
    std::unique_ptr<SlcReaderPrivate> d;
};

#endif // SLCREADER_H
