#ifndef SLCWRITER_H
#define SLCWRITER_H

#include "slice.h"

#include <QByteArray>
#include <QDataStream>
#include <QList>

class QIODevice;

// Writes slices to a device as an SLC file: the header, reserved block and
// sample table before the first layer, one layer record per slice, and the end
// marker at finish().
//
// Failures are reported through the stream status (QDataStream::WriteFailed)
// and the results; once a write has failed every later call fails at once.
// Only finish() tells whether the file is complete: call it, and look at its
// result, before closing (or committing) the device. When finish() was not
// called, the destructor writes the end marker, but then nobody learns whether
// it reached the device.
//
// The device is not owned; it is opened write-only when it is not writable yet.
class SlcWriter
{
public:
    explicit SlcWriter(QIODevice *device);
    ~SlcWriter();

    SlcWriter(const SlcWriter &) = delete;
    SlcWriter &operator=(const SlcWriter &) = delete;

    QDataStream *stream() { return &m_stream; }

    // Replaces the header text (surrounding white space removed). Refused,
    // with the header left as it was and false returned, when the text is
    // empty after trimming, holds a zero byte or a line feed followed by 0x1A,
    // declares the type "WEB", or is too long for a reader (over 2045 bytes):
    // a file with such a header could not be read back.
    bool setHeader(const QByteArray &text);
    // The header bytes as they will be written: text, CR LF 0x1A, 256 zero bytes.
    QByteArray header() const { return m_header; }

    // Writes one layer record, and the file's preamble before the first. A
    // slice whose z, thickness or upper limit (z + thickness) is not finite, or
    // that has a coordinate that is not finite, is refused (false) and nothing
    // of it is written. With countGaps the gap count of every boundary is the
    // number of vertices that repeat their predecessor.
    bool writeSlice(const Slice &slice, bool countGaps);
    // The number of slices written, stopping at the first that fails; -1 when
    // the first fails.
    int writeSlices(const QList<Slice> &slices, bool countGaps);

    // Writes the end marker (when a layer was written), flushes a file device,
    // and returns whether everything written so far reached the device. Later
    // calls write nothing and return the same answer; writeSlice then fails.
    bool finish();
    bool isFinished() const { return m_finished; }

    bool ensureWritable();

private:
    bool writePreamble(const Slice &first);
    bool writeBytes(const char *data, qint64 size);
    bool flushBuffer();
    void append(const char *data, qint64 size);
    void appendInt(qint32 value);
    void appendFloat(float value);
    void appendPoints(const geom::Point2Df *points, int count);

    QDataStream m_stream;
    QByteArray m_header;
    // The layer being written is assembled here and handed to the device in
    // large blocks; vertex arrays larger than the buffer go to the device
    // directly.
    QByteArray m_buffer;
    int m_used = 0;
    float m_lastZ;
    bool m_preambleWritten = false;
    bool m_finished = false;
    bool m_finishResult = true;
};

#endif // SLCWRITER_H
