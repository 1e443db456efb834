#ifndef ROWDEFLATER_H
#define ROWDEFLATER_H

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <utility>
#include <vector>

namespace geom {

// Compresses the rows of an image, each given a PNG filter byte "none", into
// one zlib stream, as the data of a PNG file. Made for slice images, which
// are long runs of one byte: it looks for nothing but runs, scanning eight
// bytes at a time, and for rows that repeat the one before, and so costs a
// fraction of a general deflate; its codes are fitted to each block of the
// image (dynamic Huffman codes), so the files are about as small as zlib
// makes them.
class RowDeflater
{
public:
    explicit RowDeflater(int rowBytes);

    // Adds the next row of rowBytes bytes. The bytes must stay valid until
    // the next row has been added.
    void addRow(const uchar *row);
    // The whole stream, header and checksum included; ends the stream.
    QByteArray finish();

private:
    void run(uchar byte, quint64 count);
    void endRun();
    void literal(uchar byte);
    void copy(int length, int distance);
    void writeBlock(bool last);
    void writeBits(quint32 bits, int count);

    int rowBytes;
    const uchar *previous = nullptr;
    std::vector<std::pair<uchar, quint64>> runs; // of the row being added
    // The run not yet written: runCount times runByte.
    uchar runByte = 0;
    quint64 runCount = 0;
    // A literal byte, or a copy: length << 16 | (distance - 1), with bit 31.
    std::vector<quint32> tokens;
    std::vector<quint32> literalFrequencies;
    std::vector<quint32> distanceFrequencies;
    // Adler-32 of the data so far.
    quint64 adlerA = 1;
    quint64 adlerB = 0;
    QByteArray out;
    quint64 bitBuffer = 0;
    int bitCount = 0;
};

} // namespace geom

#endif // ROWDEFLATER_H
