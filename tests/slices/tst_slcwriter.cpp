#include "slcreader.h"
#include "slcwriter.h"

#include "slctestutil.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using geom::Point2Df;
using slctest::bits;
using slctest::FullDevice;
using slctest::SlcBytes;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(geom::Point2Df)

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();
// Default header, sample table: where the first layer record starts.
const int firstLayerOffset = 307;

Slice makeSlice(float z, float thickness, const QVector<Points> &contours = {})
{
    QVector<Contour> list;
    for (const Points &points : contours)
        list << Contour(points);
    return Slice(z, thickness, std::move(list));
}

Points square(float x, float y, float size)
{
    return Points{{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
}

QByteArray writeAll(const QList<Slice> &slices, bool countGaps = false, int *count = nullptr)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    SlcWriter writer(&buffer);
    const int written = writer.writeSlices(slices, countGaps);
    if (count)
        *count = written;
    if (!writer.finish())
        qWarning("finish() failed on a buffer");
    return bytes;
}

QList<Slice> readAll(QByteArray bytes, QDataStream::Status *status = nullptr)
{
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    const QList<Slice> slices = reader.readSlices(false, -1);
    if (status)
        *status = reader.stream()->status();
    return slices;
}

qint32 int32At(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<qint32>(bytes.constData() + offset);
}

float floatAt(const QByteArray &bytes, int offset)
{
    const quint32 b = qFromLittleEndian<quint32>(bytes.constData() + offset);
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

Points pointsAt(const QByteArray &bytes, int offset, int count)
{
    Points points;
    for (int i = 0; i < count; ++i)
        points << Point2Df(floatAt(bytes, offset + 8 * i), floatAt(bytes, offset + 8 * i + 4));
    return points;
}

bool samePoints(const Points &a, const Points &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i) {
        if (bits(a[i].x) != bits(b[i].x) || bits(a[i].y) != bits(b[i].y))
            return false;
    }
    return true;
}

} // namespace

class TestSlcWriter : public QObject
{
    Q_OBJECT

private slots:
    void oneTriangleFile();
    void closingVertex_data();
    void closingVertex();
    void gapCounts_data();
    void gapCounts();
    void groupedSliceWritesEveryContour();
    void terminatorIsTopOfLastLayer();
    void fileStartsAtOffsetZero();
    void setHeader_data();
    void setHeader();
    void refusedHeaderKeepsPrevious();
    void nothingWrittenWithoutLayers();
    void nonFiniteSlicesAreRefused_data();
    void nonFiniteSlicesAreRefused();
    void nonFiniteAtEveryCoordinate();
    void countStopsAtFirstFailure();
    void finishTellsWhetherFileIsComplete_data();
    void finishTellsWhetherFileIsComplete();
    void shortRawWriteFails();
    void destructorWritesTerminator();
    void finishIsFinal();
    void roundTripThroughFile();
    void saveFileGetsCompleteFile();
    void deviceOpenForReadingIsRefused();
};

void TestSlcWriter::oneTriangleFile()
{
    const Slice triangle = makeSlice(1.0f, 0.1f, {Points{{0, 0}, {1, 0}, {0, 1}}});
    int count = 0;
    const QByteArray bytes = writeAll({triangle}, false, &count);
    QCOMPARE(count, 1);

    const QByteArray expected = SlcBytes()
                                    .header()
                                    .byte(1)
                                    .real(1.0f)
                                    .real(0.1f)
                                    .real(0.0f)
                                    .real(0.0f)
                                    .layer(1.0f, 1)
                                    .boundary(Points{{0, 0}, {1, 0}, {0, 1}, {0, 0}})
                                    .terminator(1.0f + 0.1f);
    QCOMPARE(bytes.left(31), QByteArray("-SLCVER 2.0 -UNIT MM -TYPE PART"));
    QCOMPARE(bytes.mid(31, 3), QByteArray("\r\n\x1A"));
    QCOMPARE(bytes.mid(34, 256), QByteArray(256, '\0'));
    QCOMPARE(int(bytes.at(290)), 1);
    QCOMPARE(floatAt(bytes, firstLayerOffset), 1.0f);
    QCOMPARE(bits(floatAt(bytes, bytes.size() - 8)), 0x3F8CCCCDu); // 1.0f + 0.1f
    QCOMPARE(bytes.right(4), QByteArray(4, char(0xFF)));
    QCOMPARE(bytes.toHex(), expected.toHex());
}

void TestSlcWriter::closingVertex_data()
{
    QTest::addColumn<Points>("stored");
    QTest::addColumn<Points>("written");
    QTest::addColumn<Points>("readBack");

    const Point2Df a(0, 0), b(1, 0), c(0, 1);
    QTest::newRow("open triangle") << Points{a, b, c} << Points{a, b, c, a} << Points{a, b, c};
    // The stored last point already closes the boundary: nothing is added,
    // and reading drops it as the closing vertex.
    QTest::newRow("already closed") << Points{a, b, c, a} << Points{a, b, c, a} << Points{a, b, c};
    QTest::newRow("no points") << Points{} << Points{} << Points{};
    QTest::newRow("one point") << Points{b} << Points{b} << Points{b};
    QTest::newRow("two equal points") << Points{b, b} << Points{b, b} << Points{b};
    // -0 equals 0: the boundary counts as closed.
    QTest::newRow("negative zero") << Points{a, b, c, Point2Df(-0.0f, 0)} << Points{a, b, c, Point2Df(-0.0f, 0)}
                                   << Points{a, b, c};
}

void TestSlcWriter::closingVertex()
{
    QFETCH(Points, stored);
    QFETCH(Points, written);
    QFETCH(Points, readBack);

    const QByteArray bytes = writeAll({makeSlice(0.5f, 0.25f, {stored})});
    QCOMPARE(int32At(bytes, firstLayerOffset + 4), 1);
    QCOMPARE(int32At(bytes, firstLayerOffset + 8), written.size());
    QCOMPARE(int32At(bytes, firstLayerOffset + 12), 0);
    QVERIFY(samePoints(pointsAt(bytes, firstLayerOffset + 16, written.size()), written));
    QCOMPARE(bytes.size(), firstLayerOffset + 16 + 8 * written.size() + 8);

    QDataStream::Status status;
    const QList<Slice> slices = readAll(bytes, &status);
    QCOMPARE(status, QDataStream::Ok);
    QCOMPARE(slices.size(), 1);
    QCOMPARE(slices[0].contourCount(), 1);
    QVERIFY(samePoints(slices[0].contourAt(0).points(), readBack));
}

void TestSlcWriter::gapCounts_data()
{
    QTest::addColumn<Points>("points");
    QTest::addColumn<bool>("countGaps");
    QTest::addColumn<int>("vertexCount");
    QTest::addColumn<int>("gapCount");

    const Point2Df a(0, 0), b(1, 0), c(1, 1);
    QTest::newRow("a a b c counted") << Points{a, a, b, c} << true << 5 << 1;
    QTest::newRow("a a b c not counted") << Points{a, a, b, c} << false << 5 << 0;
    QTest::newRow("run of three") << Points{a, b, b, b, c} << true << 6 << 2;
    // The closing vertex is not a gap, nor is the wrap from last to first.
    QTest::newRow("closed") << Points{a, b, c, a} << true << 4 << 0;
    QTest::newRow("one point") << Points{a} << true << 1 << 0;
}

void TestSlcWriter::gapCounts()
{
    QFETCH(Points, points);
    QFETCH(bool, countGaps);
    QFETCH(int, vertexCount);
    QFETCH(int, gapCount);

    const QByteArray bytes = writeAll({makeSlice(0.0f, 1.0f, {points})}, countGaps);
    QCOMPARE(int32At(bytes, firstLayerOffset + 8), vertexCount);
    QCOMPARE(int32At(bytes, firstLayerOffset + 12), gapCount);
    // The repeated vertices themselves are written as stored.
    QVERIFY(samePoints(pointsAt(bytes, firstLayerOffset + 16, points.size()), points));
}

void TestSlcWriter::groupedSliceWritesEveryContour()
{
    Contour outer(square(0, 0, 10));
    outer.addChild(Contour(square(1, 1, 2)));
    outer.addChild(Contour(square(5, 5, 2)));
    const Slice grouped(1.0f, 0.5f, QVector<Contour>{outer, Contour(square(20, 0, 1))});
    QCOMPARE(grouped.format(), 2);

    QDataStream::Status status;
    const QList<Slice> slices = readAll(writeAll({grouped}), &status);
    QCOMPARE(status, QDataStream::Ok);
    QCOMPARE(slices.size(), 1);
    QCOMPARE(slices[0].contourCount(), 4);
    QCOMPARE(slices[0].format(), 0);
    QVERIFY(samePoints(slices[0].contourAt(0).points(), square(0, 0, 10)));
    QVERIFY(samePoints(slices[0].contourAt(1).points(), square(1, 1, 2)));
    QVERIFY(samePoints(slices[0].contourAt(2).points(), square(5, 5, 2)));
    QVERIFY(samePoints(slices[0].contourAt(3).points(), square(20, 0, 1)));
}

void TestSlcWriter::terminatorIsTopOfLastLayer()
{
    const QByteArray bytes = writeAll({makeSlice(2.0f, 0.5f), makeSlice(2.5f, 0.5f)});
    // The sample table describes the first layer.
    QCOMPARE(floatAt(bytes, 291), 2.0f);
    QCOMPARE(floatAt(bytes, 295), 0.5f);
    QCOMPARE(floatAt(bytes, 299), 0.0f);
    QCOMPARE(floatAt(bytes, 303), 0.0f);
    QCOMPARE(floatAt(bytes, bytes.size() - 8), 3.0f);
    QCOMPARE(int32At(bytes, bytes.size() - 4), -1);
}

void TestSlcWriter::fileStartsAtOffsetZero()
{
    const QByteArray expected = writeAll({makeSlice(1.0f, 0.1f, {square(0, 0, 1)})});
    QByteArray bytes(1000, 'x');
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadWrite);
    buffer.seek(100);
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices({makeSlice(1.0f, 0.1f, {square(0, 0, 1)})}, false), 1);
        QVERIFY(writer.finish());
    }
    QCOMPARE(bytes.left(expected.size()).toHex(), expected.toHex());
}

void TestSlcWriter::setHeader_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QByteArray>("stored");

    const QByteArray byDefault("-SLCVER 2.0 -UNIT MM -TYPE PART");
    QTest::newRow("blanks around") << QByteArray(" \t -SLCVER 2.0 -UNIT INCH -TYPE PART \r\n") << true
                                   << QByteArray("-SLCVER 2.0 -UNIT INCH -TYPE PART");
    QTest::newRow("several lines") << QByteArray("-SLCVER 2.0\r\n-UNIT MM\r\n-TYPE PART") << true
                                   << QByteArray("-SLCVER 2.0\r\n-UNIT MM\r\n-TYPE PART");
    QTest::newRow("web in lower case") << QByteArray("-TYPE web") << true << QByteArray("-TYPE web");
    QTest::newRow("longest") << QByteArray(2045, 'A') << true << QByteArray(2045, 'A');
    QTest::newRow("empty") << QByteArray() << false << byDefault;
    QTest::newRow("only blanks") << QByteArray(" \r\n\t ") << false << byDefault;
    QTest::newRow("zero byte") << QByteArray("-SLCVER\0 2.0", 12) << false << byDefault;
    QTest::newRow("line feed then 0x1A") << QByteArray("-SLCVER 2.0\n\x1A -UNIT MM") << false << byDefault;
    QTest::newRow("web") << QByteArray("-SLCVER 2.0 -TYPE WEB") << false << byDefault;
    QTest::newRow("too long") << QByteArray(2046, 'A') << false << byDefault;
}

void TestSlcWriter::setHeader()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, accepted);
    QFETCH(QByteArray, stored);

    QByteArray bytes;
    QBuffer buffer(&bytes);
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.setHeader(text), accepted);
        QCOMPARE(writer.header(), stored + QByteArray("\r\n\x1A", 3) + QByteArray(256, '\0'));
        QCOMPARE(writer.writeSlices({makeSlice(1.0f, 1.0f, {square(0, 0, 1)})}, false), 1);
        QVERIFY(writer.finish());
    }
    QVERIFY(bytes.startsWith(stored + "\r\n\x1A"));

    // Whatever the writer takes, its reader reads back.
    QBuffer in(&bytes);
    SlcReader reader(&in);
    const QList<Slice> slices = reader.readSlices(false, -1);
    QCOMPARE(reader.stream()->status(), QDataStream::Ok);
    QCOMPARE(slices.size(), 1);
}

void TestSlcWriter::refusedHeaderKeepsPrevious()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    SlcWriter writer(&buffer);
    QVERIFY(writer.setHeader("-UNIT INCH"));
    QVERIFY(!writer.setHeader("-TYPE WEB"));
    QVERIFY(writer.header().startsWith("-UNIT INCH\r\n\x1A"));
}

void TestSlcWriter::nothingWrittenWithoutLayers()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices({}, false), 0);
        QVERIFY(writer.finish());
    }
    {
        SlcWriter writer(&buffer);
    }
    QVERIFY(bytes.isEmpty());
}

void TestSlcWriter::nonFiniteSlicesAreRefused_data()
{
    QTest::addColumn<float>("z");
    QTest::addColumn<float>("thickness");
    QTest::addColumn<Points>("points");

    QTest::newRow("z NaN") << notANumber << 0.1f << square(0, 0, 1);
    QTest::newRow("z infinite") << -infinity << 0.1f << square(0, 0, 1);
    QTest::newRow("thickness NaN") << 0.2f << notANumber << square(0, 0, 1);
    QTest::newRow("thickness infinite") << 0.2f << infinity << square(0, 0, 1);
    QTest::newRow("top overflows") << 3e38f << 3e38f << square(0, 0, 1);
    QTest::newRow("x NaN") << 0.2f << 0.1f << Points{{0, 0}, {notANumber, 0}, {1, 1}};
    QTest::newRow("y infinite") << 0.2f << 0.1f << Points{{0, 0}, {1, infinity}, {1, 1}};
}

void TestSlcWriter::nonFiniteSlicesAreRefused()
{
    QFETCH(float, z);
    QFETCH(float, thickness);
    QFETCH(Points, points);
    const Slice bad = makeSlice(z, thickness, {points});

    // As the first slice: nothing at all is written.
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices({bad}, false), -1);
        QCOMPARE(writer.stream()->status(), QDataStream::Ok);
        QVERIFY(writer.finish());
        QVERIFY(bytes.isEmpty());
    }

    // Between good ones: the file stays whole, with one preamble.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    {
        SlcWriter writer(&buffer);
        QVERIFY(writer.writeSlice(makeSlice(0.1f, 0.1f, {square(0, 0, 1)}), false));
        QVERIFY(!writer.writeSlice(bad, false));
        QVERIFY(writer.writeSlice(makeSlice(0.2f, 0.1f, {square(0, 0, 2)}), false));
        QVERIFY(writer.finish());
    }
    QCOMPARE(bytes.count("-SLCVER"), 1);
    QDataStream::Status status;
    const QList<Slice> slices = readAll(bytes, &status);
    QCOMPARE(status, QDataStream::Ok);
    QCOMPARE(slices.size(), 2);
    QCOMPARE(slices[1].z(), 0.2f);
    QCOMPARE(slices[1].thickness(), (0.2f + 0.1f) - 0.2f);
}

void TestSlcWriter::nonFiniteAtEveryCoordinate()
{
    Points points;
    for (int i = 0; i < 21; ++i)
        points << Point2Df(float(i), float(i % 3));
    for (int at = 0; at < 2 * points.size(); ++at) {
        Points bad = points;
        float &value = at % 2 ? bad[at / 2].y : bad[at / 2].x;
        value = at % 3 ? notANumber : infinity;
        QByteArray bytes;
        QBuffer buffer(&bytes);
        SlcWriter writer(&buffer);
        QVERIFY2(!writer.writeSlice(makeSlice(0.0f, 1.0f, {square(0, 0, 1), bad}), false), QByteArray::number(at));
        QVERIFY(bytes.isEmpty());
    }
}

void TestSlcWriter::countStopsAtFirstFailure()
{
    QList<Slice> five;
    for (int i = 0; i < 5; ++i)
        five << makeSlice(float(i), 1.0f, {square(0, 0, float(i + 1))});

    QList<Slice> thirdBad = five;
    thirdBad[2] = makeSlice(notANumber, 1.0f);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    SlcWriter writer(&buffer);
    QCOMPARE(writer.writeSlices(thirdBad, false), 2);

    // A device that fills up in the third layer.
    const QByteArray whole = writeAll(five);
    const int layerSize = 8 + 8 + 5 * 8;
    FullDevice full(firstLayerOffset + 2 * layerSize + 10);
    full.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    {
        SlcWriter fullWriter(&full);
        QCOMPARE(fullWriter.writeSlices(five, false), 2);
        QCOMPARE(fullWriter.stream()->status(), QDataStream::WriteFailed);
        QVERIFY(!fullWriter.finish());
    }
    QCOMPARE(full.written(), whole.left(firstLayerOffset + 2 * layerSize + 10));

    // Not even the header fits.
    FullDevice tiny(100);
    tiny.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    SlcWriter tinyWriter(&tiny);
    QCOMPARE(tinyWriter.writeSlices(five, false), -1);
    QCOMPARE(tinyWriter.stream()->status(), QDataStream::WriteFailed);
    QVERIFY(!tinyWriter.writeSlice(five[0], false));
}

void TestSlcWriter::finishTellsWhetherFileIsComplete_data()
{
    QTest::addColumn<int>("missing");
    QTest::addColumn<bool>("complete");

    QTest::newRow("all fits") << 0 << true;
    QTest::newRow("last byte missing") << 1 << false;
    QTest::newRow("terminator missing") << 8 << false;
}

void TestSlcWriter::finishTellsWhetherFileIsComplete()
{
    QFETCH(int, missing);
    QFETCH(bool, complete);

    const QList<Slice> slices{makeSlice(0.1f, 0.1f, {square(0, 0, 1)}), makeSlice(0.2f, 0.1f, {square(0, 0, 1)})};
    const QByteArray whole = writeAll(slices);
    FullDevice device(whole.size() - missing);
    device.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    SlcWriter writer(&device);
    QCOMPARE(writer.writeSlices(slices, false), 2);
    QCOMPARE(writer.finish(), complete);
    QCOMPARE(writer.stream()->status(), complete ? QDataStream::Ok : QDataStream::WriteFailed);
}

void TestSlcWriter::shortRawWriteFails()
{
    // Large enough to go to the device in one raw block of its own.
    Points many;
    for (int i = 0; i < 100000; ++i)
        many << Point2Df(float(i), float(i % 7));
    FullDevice device(firstLayerOffset + 16 + 4000);
    device.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    SlcWriter writer(&device);
    QVERIFY(!writer.writeSlice(makeSlice(0.0f, 1.0f, {many}), false));
    QCOMPARE(writer.stream()->status(), QDataStream::WriteFailed);
    QVERIFY(!writer.finish());
}

void TestSlcWriter::destructorWritesTerminator()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    {
        SlcWriter writer(&buffer);
        QCOMPARE(writer.writeSlices({makeSlice(1.0f, 0.5f, {square(0, 0, 1)})}, false), 1);
        QVERIFY(!writer.isFinished());
    }
    QCOMPARE(floatAt(bytes, bytes.size() - 8), 1.5f);
    QCOMPARE(int32At(bytes, bytes.size() - 4), -1);
    QDataStream::Status status;
    QCOMPARE(readAll(bytes, &status).size(), 1);
    QCOMPARE(status, QDataStream::Ok);
}

void TestSlcWriter::finishIsFinal()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    SlcWriter writer(&buffer);
    QVERIFY(writer.writeSlice(makeSlice(1.0f, 0.5f, {square(0, 0, 1)}), false));
    QVERIFY(writer.finish());
    const int size = bytes.size();
    QVERIFY(writer.isFinished());
    QVERIFY(writer.finish());
    QVERIFY(!writer.writeSlice(makeSlice(2.0f, 0.5f), false));
    QCOMPARE(writer.writeSlices({makeSlice(2.0f, 0.5f)}, false), -1);
    QCOMPARE(bytes.size(), size);
}

void TestSlcWriter::roundTripThroughFile()
{
    // Heights with consistent gaps, so that the thicknesses read back are the
    // ones written; coordinates that test every bit.
    QList<Slice> slices;
    float z = -2.0f;
    for (int layer = 0; layer < 6; ++layer) {
        QVector<Points> contours;
        for (int c = 0; c < layer; ++c) {
            Points points;
            for (int i = 0; i < 3 + 5 * c; ++i)
                points << Point2Df(std::ldexp(float(i + 1), c % 2 ? c * 30 : -c * 30) * (i % 2 ? -1.0f : 1.0f),
                                   float(i) + 0.25f * float(layer));
            contours << points;
        }
        const float next = z + 0.3f * float(layer + 1);
        slices << makeSlice(z, next - z, contours);
        z = next;
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("part.slc"));
    {
        QFile file(path);
        SlcWriter writer(&file);
        QCOMPARE(writer.writeSlices(slices, false), slices.size());
        QVERIFY(file.isOpen());
        QVERIFY(writer.finish());
    }
    QFile file(path);
    SlcReader reader(&file);
    const QList<Slice> back = reader.readSlices(false, -1);
    QCOMPARE(reader.stream()->status(), QDataStream::Ok);
    QCOMPARE(back.size(), slices.size());
    for (int i = 0; i < slices.size(); ++i) {
        QCOMPARE(bits(back[i].z()), bits(slices[i].z()));
        // The last layer's upper limit is stored as z + thickness.
        const float top = slices[i].z() + slices[i].thickness();
        const float thickness = i + 1 < slices.size() ? slices[i].thickness() : top - slices[i].z();
        QCOMPARE(bits(back[i].thickness()), bits(thickness));
        QCOMPARE(back[i].contourCount(), slices[i].contourCount());
        for (int c = 0; c < slices[i].contourCount(); ++c)
            QVERIFY(samePoints(back[i].contourAt(c).points(), slices[i].contourAt(c).points()));
    }
}

// The way to save: the writer finishes before the file is committed.
void TestSlcWriter::saveFileGetsCompleteFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("saved.slc"));
    const QList<Slice> slices{makeSlice(1.0f, 0.5f, {square(0, 0, 1)}), makeSlice(1.5f, 0.5f, {square(0, 0, 2)})};
    QSaveFile file(path);
    SlcWriter writer(&file);
    QCOMPARE(writer.writeSlices(slices, false), 2);
    QVERIFY(writer.finish());
    QVERIFY(file.commit());

    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll().toHex(), writeAll(slices).toHex());
}

void TestSlcWriter::deviceOpenForReadingIsRefused()
{
    QByteArray bytes("unchanged");
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    SlcWriter writer(&buffer);
    QCOMPARE(writer.writeSlices({makeSlice(1.0f, 0.5f)}, false), -1);
    QCOMPARE(bytes, QByteArray("unchanged"));

    SlcWriter noDevice(nullptr);
    QVERIFY(!noDevice.ensureWritable());
    QCOMPARE(noDevice.writeSlices({makeSlice(1.0f, 0.5f)}, false), -1);
}

QTEST_GUILESS_MAIN(TestSlcWriter)
#include "tst_slcwriter.moc"
