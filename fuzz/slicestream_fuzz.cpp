// libFuzzer target for the data-stream records of contours and slices.
//
// The first byte chooses the stream's byte order (bit 0), its floating-point
// precision (bit 1) and whether contour or slice records follow (bit 2). The
// records are read from a device of known size and from a sequential one that
// hides its size; both must read the same records up to the first that fails,
// since the size checks only change how early a bad count is noticed. Every record
// read is written back and read again: the copy must be equal. The slices
// read then go through the format conversions, which must keep the group map
// and the cached totals in step with the contours.

#include "fuzzsupport.h"
#include "slice.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int maxRecords = 16;
// The conversions compare every contour with every other one.
const int maxConvertedContours = 64;

using fuzzsupport::check;
using fuzzsupport::sameBits;
using fuzzsupport::SequentialReader;

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void configure(QDataStream &stream, uint8_t mode)
{
    stream.setByteOrder((mode & 1) ? QDataStream::LittleEndian : QDataStream::BigEndian);
    stream.setFloatingPointPrecision((mode & 2) ? QDataStream::DoublePrecision : QDataStream::SinglePrecision);
}

bool sameContour(const Contour &a, const Contour &b)
{
    const QVector<geom::Point2Df> &p = a.points();
    const QVector<geom::Point2Df> &q = b.points();
    if (p.size() != q.size() || a.children().size() != b.children().size()
        || std::memcmp(p.constData(), q.constData(), size_t(p.size()) * sizeof(geom::Point2Df)) != 0)
        return false;
    for (int i = 0; i < a.children().size(); ++i) {
        if (!sameContour(a.children().at(i), b.children().at(i)))
            return false;
    }
    return true;
}

bool sameSlice(const Slice &a, const Slice &b)
{
    if (!sameBits(a.z(), b.z()) || !sameBits(a.thickness(), b.thickness())
        || a.contours().size() != b.contours().size())
        return false;
    for (int i = 0; i < a.contours().size(); ++i) {
        if (!sameContour(a.contours().at(i), b.contours().at(i)))
            return false;
    }
    return true;
}

// Records up to the first that fails (the end of the data included).
template <typename T>
void readAll(QIODevice *device, uint8_t mode, QVector<T> &records)
{
    QDataStream stream(device);
    configure(stream, mode);
    while (records.size() < maxRecords) {
        T record;
        stream >> record;
        if (stream.status() != QDataStream::Ok)
            return;
        records.append(record);
    }
}

template <typename T>
T roundTrip(const T &record, uint8_t mode)
{
    QByteArray bytes;
    {
        QBuffer out(&bytes);
        out.open(QIODevice::WriteOnly);
        QDataStream stream(&out);
        configure(stream, mode);
        stream << record;
        check(stream.status() == QDataStream::Ok, "writing a record failed");
    }
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    QDataStream stream(&in);
    configure(stream, mode);
    T copy;
    stream >> copy;
    check(stream.status() == QDataStream::Ok, "a record we wrote does not read back");
    check(stream.atEnd(), "a record we wrote reads back short");
    return copy;
}

bool same(const Contour &a, const Contour &b)
{
    return sameContour(a, b);
}

bool same(const Slice &a, const Slice &b)
{
    return sameSlice(a, b);
}

// The group map names every group in flat order and no more; the totals match
// a fresh walk of the flat contours.
void checkConsistent(const Slice &slice)
{
    const int count = slice.contourCount();
    int vertices = 0;
    for (int i = 0; i < count; ++i)
        vertices += slice.contourAt(i).points().size();
    check(slice.vertexCount() == vertices, "cached vertex count out of step with the contours");
    if (slice.format() != 2)
        return;
    const QVector<Contour> &contours = slice.contours();
    check(slice.groups().size() == contours.size(), "group map does not name every group");
    int flat = 0;
    int g = 0;
    for (auto it = slice.groups().cbegin(); it != slice.groups().cend(); ++it, ++g) {
        check(it.value() == g, "group map points at the wrong contour");
        flat += 1 + contours.at(g).children().size();
        check(it.key() == flat - 1, "group map key is not the group's last flat index");
        for (const Contour &child : contours.at(g).children())
            check(child.children().isEmpty(), "grouped slice nests two levels deep");
    }
}

void convert(Slice slice)
{
    checkConsistent(slice);
    if (slice.contours().size() > maxConvertedContours || slice.vertexCount() > 4096)
        return;
    for (const int format : {2, 1, 0, 2}) {
        slice.setFormat(format);
        check(slice.format() == format, "setFormat did not reach the format asked for");
        checkConsistent(slice);
    }
}

template <typename T>
QVector<T> readBuffer(const QByteArray &payload, uint8_t mode)
{
    QByteArray copy = payload;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QVector<T> records;
    readAll(&buffer, mode, records);
    return records;
}

template <typename T>
void run(const QByteArray &payload, uint8_t mode)
{
    const QVector<T> records = readBuffer<T>(payload, mode);

    SequentialReader pipe(payload);
    QVector<T> sequentialRecords;
    readAll(&pipe, mode, sequentialRecords);
    check(records.size() == sequentialRecords.size(), "sequential and random-access reads differ in count");
    for (int i = 0; i < records.size(); ++i) {
        check(same(records.at(i), sequentialRecords.at(i)), "sequential and random-access reads differ");
        check(same(records.at(i), roundTrip(records.at(i), mode)), "a record changed on the way back");
    }
}

void convertAll(const QByteArray &payload, uint8_t mode)
{
    for (const Slice &slice : readBuffer<Slice>(payload, mode))
        convert(slice);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QtMessageHandler previous = qInstallMessageHandler(quiet);
    Q_UNUSED(previous);
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray payload = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), int(size - 1));
    if (mode & 4) {
        run<Contour>(payload, mode);
    } else {
        run<Slice>(payload, mode);
        convertAll(payload, mode);
    }
    return 0;
}
