#ifndef STLWRITER_H
#define STLWRITER_H

#include "facet.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

class QIODevice;
class QMatrix4x4;
class StlWriterPrivate;

namespace geom {
class StlMesh;
}

// Writes triangle facets to a device as a binary STL file: an 80-byte header,
// a 32-bit facet count (0 until finish() patches it in) and one 50-byte record
// per facet (the facet's twelve floats, then a 16-bit attribute word), all
// little-endian. Facets are streamed as they come; nothing of the model is
// held back.
//
// Calling order: construct on the device, one or more write calls (or a bare
// begin for a file without facets), finish(), destroy. The device is not
// owned and must outlive the writer. A device already positioned at 84 or
// beyond is taken as a file whose header is there: facets are appended.
//
// Any failed or short device write, a failed seek or flush, makes the writer
// failed(): from then on nothing more is written, and finish() reports the
// failure instead of passing the file off as complete.
class StlWriter
{
public:
    explicit StlWriter(QIODevice *device);
    ~StlWriter();
    StlWriter(const StlWriter &) = delete;
    StlWriter &operator=(const StlWriter &) = delete;

    // Opens a closed device write-only, writes the header and the placeholder
    // count when the device is not past them, and tells whether facets can be
    // written now. False without a device, on a device open but not writable,
    // on a sequential device or one opened to append, after finish() and after
    // a failure.
    bool begin(int expected);

    // Facets 0 to count - 1, with one attribute word each or, when attributes
    // is null, the default one. -1 when begin fails, 0 for null facets, else
    // the number of facets written (fewer than count when the device failed).
    int write(int count, const geom::Facet *facets, const quint16 *attributes = nullptr);
    int write(const QVector<geom::Facet> &facets);
    int write(const QList<geom::Facet> &facets);
    // One facet; a negative attribute means the default one.
    bool write(const geom::Facet &facet, int attribute = -1);
    // One facet per triangle of the mesh, in list order, of one consistent
    // state of it: the vertices mapped through the matrix, the normal
    // computed from them, the attribute word the low 16 bits of the
    // triangle's. Returns like the array overload.
    int write(const geom::StlMesh &mesh);

    // Patches the facet count in at offset 80 and closes the device; returns
    // the number of facets written. Does nothing on a device that is not
    // writable (already finished, never opened).
    int finish();

    // True once a write, seek, flush or close of the device failed;
    // errorString() says what the device reported.
    bool failed() const;
    QString errorString() const;
    // True after finish() wrote the count and closed the device without error.
    bool isFinished() const;

    QIODevice *device() const;
    int facetCount() const;
    // Facets written by the last write call out of those it announced.
    float progress() const;
    quint16 attribute() const;
    void setAttribute(quint16 attribute);
    const QByteArray &header() const;
    // Left-justified to exactly 80 bytes: padded with blanks or cut.
    void setHeader(const QByteArray &text);
    const QMatrix4x4 &matrix() const;
    // Facets are mapped through a matrix other than the identity: vertices as
    // points, normals by the inverse transpose of the linear part (so a
    // translation leaves them alone), rescaled to length 1. A mirroring matrix
    // also swaps the second and third vertex, so that the vertices still run
    // counter-clockwise around the normal.
    void setMatrix(const QMatrix4x4 &matrix);

private:
    StlWriterPrivate *d;
};

#endif // STLWRITER_H
