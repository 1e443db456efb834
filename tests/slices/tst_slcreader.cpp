#include "slcreader.h"
#include "slcwriter.h"

#include "slctestutil.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

using geom::Point2Df;
using slctest::bits;
using slctest::PipeDevice;
using slctest::SlcBytes;
typedef QVector<Point2Df> Points;

Q_DECLARE_METATYPE(geom::Point2Df)
Q_DECLARE_METATYPE(QDataStream::Status)

namespace {

const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

Points square(float x, float y, float size)
{
    return Points{{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
}

Points closed(Points points)
{
    points << points.first();
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

struct ReadResult
{
    QList<Slice> slices;
    QDataStream::Status status = QDataStream::Ok;
};

ReadResult readFrom(QIODevice *device, bool removeGaps = false, bool parallel = true)
{
    SlcReader reader(device);
    reader.setParallel(parallel);
    ReadResult result;
    result.slices = reader.readSlices(removeGaps, -1);
    result.status = reader.stream()->status();
    return result;
}

ReadResult readBuffer(QByteArray bytes, bool removeGaps = false, bool parallel = true)
{
    QBuffer buffer(&bytes);
    return readFrom(&buffer, removeGaps, parallel);
}

bool sameSlice(const Slice &a, const Slice &b)
{
    if (bits(a.z()) != bits(b.z()) || bits(a.thickness()) != bits(b.thickness()) || a.format() != b.format()
        || a.contourCount() != b.contourCount())
        return false;
    for (int c = 0; c < a.contourCount(); ++c) {
        if (!samePoints(a.contourAt(c).points(), b.contourAt(c).points()))
            return false;
    }
    return true;
}

// The same slices, bit for bit, and the same status.
bool sameResult(const ReadResult &a, const ReadResult &b)
{
    if (a.status != b.status || a.slices.size() != b.slices.size())
        return false;
    for (int k = 0; k < a.slices.size(); ++k) {
        if (!sameSlice(a.slices[k], b.slices[k]))
            return false;
    }
    return true;
}

// Layers enough for several blocks and jobs of the parallel reader: layers
// without boundaries, boundaries of one vertex, repeated vertices with gaps
// declared, boundaries larger than the reader's small-block limit, and one
// layer larger than the first blocks read. recordEnds gets the offset after
// each layer's records, fieldStarts the offset of every count and height.
SlcBytes manyLayers(int layers, const QByteArray &header = SlcBytes::defaultHeaderText,
                    QVector<int> *recordEnds = nullptr, QVector<int> *fieldStarts = nullptr)
{
    SlcBytes bytes;
    bytes.preamble(header);
    quint32 seed = 7;
    const auto field = [&]() {
        if (fieldStarts)
            *fieldStarts << bytes.size();
    };
    for (int k = 0; k < layers; ++k) {
        field();
        const int boundaries = k % 7 == 3 ? 0 : 1 + k % 5;
        bytes.layer(0.5f + 0.25f * float(k), boundaries);
        for (int b = 0; b < boundaries; ++b) {
            seed = seed * 1664525u + 1013904223u;
            int n = 3 + int((seed >> 16) % 9);
            if (k == 40 && b == 0)
                n = 20000;
            else if (k % 10 == 5 && b == 1)
                n = 700;
            else if (k % 11 == 2 && b == 0)
                n = 1;
            Points points;
            for (int i = 0; i < n; ++i)
                points << Point2Df(float(k) + 0.01f * float(i), float(b) - 0.02f * float(i % 13));
            if (b == 2 && n > 2)
                points.insert(1, points[1]);
            if (n > 1)
                points << points.first();
            field();
            bytes.boundary(points, b == 2 ? 1 : 0);
        }
        if (recordEnds)
            *recordEnds << bytes.size();
    }
    field();
    bytes.terminator(0.5f + 0.25f * float(layers));
    return bytes;
}

QByteArray withFloatAt(QByteArray bytes, int offset, float value)
{
    qToLittleEndian(bits(value), bytes.data() + offset);
    return bytes;
}

// Three layers at 0.1, 0.2, 0.3, end marker at 0.4; layer k has k + 1 squares.
SlcBytes threeLayers(QVector<int> *recordEnds = nullptr)
{
    SlcBytes bytes;
    bytes.preamble();
    for (int k = 0; k < 3; ++k) {
        bytes.layer(0.1f * float(k + 1), k + 1);
        for (int c = 0; c <= k; ++c)
            bytes.boundary(closed(square(float(c), float(k), 0.5f)));
        if (recordEnds)
            *recordEnds << bytes.size();
    }
    bytes.terminator(0.4f);
    return bytes;
}

} // namespace

class TestSlcReader : public QObject
{
    Q_OBJECT

private slots:
    void threeLayers();
    void maxCountAndReadSlice();
    void zeroCountTouchesNothing();
    void deviceNotReady();
    void inchFile();
    void offset();
    void gapDuplicates_data();
    void gapDuplicates();
    void closingVertex_data();
    void closingVertex();
    void peekSlice();
    void noLayers();
    void sampleTableSizes_data();
    void sampleTableSizes();
    void headerForms_data();
    void headerForms();
    void headerIsCapped_data();
    void headerIsCapped();
    void failedHeaderStaysFailed();
    void missingTerminator_data();
    void missingTerminator();
    void hostileFiles_data();
    void hostileFiles();
    void truncatedAtEveryByte();
    void nonFiniteAtEveryCoordinate();
    void pipeReadsInBoundedChunks();
    void largeBoundaryOnPipe();
    void readsFileItOpens();
    void parallelMatchesOneThread_data();
    void parallelMatchesOneThread();
    void parallelOnLargeFile();
    void parallelStopsWhereOneThreadStops();
    void parallelOnDamageInEveryLayer();
    void parallelOnCutsAtEveryField();
    void memoryBudget();
    void memoryBudgetIsNotDamage_data();
    void memoryBudgetIsNotDamage();
};

void TestSlcReader::threeLayers()
{
    const ReadResult r = readBuffer(::threeLayers());
    QCOMPARE(r.status, QDataStream::Ok);
    QCOMPARE(r.slices.size(), 3);
    const float z[] = {0.1f, 0.2f, 0.3f, 0.4f};
    for (int k = 0; k < 3; ++k) {
        const Slice &s = r.slices[k];
        QCOMPARE(bits(s.z()), bits(z[k]));
        QCOMPARE(bits(s.thickness()), bits(z[k + 1] - z[k]));
        QCOMPARE(s.format(), 0);
        QCOMPARE(s.contourCount(), k + 1);
        for (int c = 0; c <= k; ++c)
            QVERIFY(samePoints(s.contourAt(c).points(), square(float(c), float(k), 0.5f)));
    }
}

void TestSlcReader::maxCountAndReadSlice()
{
    QByteArray bytes = ::threeLayers();
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    QCOMPARE(reader.nextZ(), 0.1f);
    const QList<Slice> two = reader.readSlices(false, 2);
    QCOMPARE(two.size(), 2);
    QCOMPARE(two[1].z(), 0.2f);
    QCOMPARE(reader.nextZ(), 0.3f);
    const Slice third = reader.readSlice(false);
    QCOMPARE(third.z(), 0.3f);
    QCOMPARE(third.contourCount(), 3);

    // At the end marker.
    QVERIFY(std::isnan(reader.nextZ()));
    const Slice none = reader.readSlice(false);
    QVERIFY(std::isnan(none.z()));
    QCOMPARE(none.thickness(), 0.0f);
    QCOMPARE(none.contourCount(), 0);
    QVERIFY(reader.readSlices(false, -1).isEmpty());
    QCOMPARE(reader.stream()->status(), QDataStream::Ok);
    QVERIFY(buffer.atEnd());
}

void TestSlcReader::zeroCountTouchesNothing()
{
    QByteArray bytes = ::threeLayers();
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    QVERIFY(reader.readSlices(false, 0).isEmpty());
    QVERIFY(!buffer.isOpen());
    QCOMPARE(reader.readSlices(false, -1).size(), 3);
}

void TestSlcReader::deviceNotReady()
{
    SlcReader noDevice(nullptr);
    QVERIFY(noDevice.readSlices(false, -1).isEmpty());
    QVERIFY(std::isnan(noDevice.nextZ()));
    QVERIFY(noDevice.header().isEmpty());

    QByteArray bytes = ::threeLayers();
    QBuffer writeOnly(&bytes);
    writeOnly.open(QIODevice::WriteOnly);
    SlcReader reader(&writeOnly);
    QVERIFY(reader.readSlices(false, -1).isEmpty());
    QVERIFY(reader.readSlice(false).contourCount() == 0);
    QCOMPARE(reader.stream()->status(), QDataStream::Ok);
}

void TestSlcReader::inchFile()
{
    // Seven vertices: fourteen floats, so both the blocks of four and the
    // single floats after them are scaled.
    Points points;
    for (int i = 0; i < 7; ++i)
        points << Point2Df(float(i + 1), float(2 * i + 2));
    QByteArray bytes =
        SlcBytes().preamble("-SLCVER 2.0 -UNIT INCH -TYPE PART").layer(1.0f, 1).boundary(points).terminator(2.0f);

    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    reader.setOffset(geom::Point3Df(0, 0, 0.5f));
    QCOMPARE(reader.nextZ(), 1.5f); // not scaled
    QCOMPARE(reader.unitScale(), 25.4f);
    const QList<Slice> slices = reader.readSlices(false, -1);
    QCOMPARE(reader.stream()->status(), QDataStream::Ok);
    QCOMPARE(slices.size(), 1);
    QCOMPARE(slices[0].z(), 25.4f + 0.5f);
    QCOMPARE(slices[0].thickness(), 25.4f);
    const Points &read = slices[0].contourAt(0).points();
    QCOMPARE(read.size(), 7);
    QCOMPARE(read[0].x, 25.4f);
    QCOMPARE(read[0].y, 50.8f);
    for (int i = 0; i < 7; ++i) {
        QCOMPARE(bits(read[i].x), bits(points[i].x * 25.4f));
        QCOMPARE(bits(read[i].y), bits(points[i].y * 25.4f));
    }
}

void TestSlcReader::offset()
{
    QByteArray bytes = SlcBytes().preamble().layer(1.0f, 1).boundary(closed(square(0, 0, 1))).terminator(2.0f);
    {
        QBuffer buffer(&bytes);
        SlcReader reader(&buffer);
        reader.setOffset(geom::Point3Df(10, 0, 5));
        const QList<Slice> slices = reader.readSlices(false, -1);
        QCOMPARE(slices.size(), 1);
        QCOMPARE(slices[0].z(), 6.0f);
        QCOMPARE(slices[0].thickness(), 1.0f);
        QVERIFY(samePoints(slices[0].contourAt(0).points(), square(10, 0, 1)));
    }
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    reader.setOffset(geom::Point3Df(0, 0, 0));
    const QList<Slice> slices = reader.readSlices(false, -1);
    QCOMPARE(slices[0].z(), 1.0f);
    QVERIFY(samePoints(slices[0].contourAt(0).points(), square(0, 0, 1)));
}

void TestSlcReader::gapDuplicates_data()
{
    QTest::addColumn<Points>("stored");
    QTest::addColumn<int>("gaps");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<Points>("expected");

    const Point2Df a(0, 0), b(1, 0), c(1, 1);
    QTest::newRow("removed") << Points{a, b, b, c, a} << 1 << true << Points{a, b, c};
    QTest::newRow("kept") << Points{a, b, b, c, a} << 1 << false << Points{a, b, b, c};
    QTest::newRow("no gaps declared") << Points{a, b, b, c, a} << 0 << true << Points{a, b, b, c};
    QTest::newRow("run of three") << Points{a, b, b, b, c, a} << 2 << true << Points{a, b, c};
    QTest::newRow("run at the start") << Points{a, a, b, c, a} << 1 << true << Points{a, b, c};
    QTest::newRow("all equal") << Points{a, a, a} << 2 << true << Points{a};
}

void TestSlcReader::gapDuplicates()
{
    QFETCH(Points, stored);
    QFETCH(int, gaps);
    QFETCH(bool, remove);
    QFETCH(Points, expected);

    const ReadResult r = readBuffer(SlcBytes().preamble().layer(0, 1).boundary(stored, gaps).terminator(1), remove);
    QCOMPARE(r.status, QDataStream::Ok);
    QVERIFY(samePoints(r.slices.value(0).contourAt(0).points(), expected));
}

void TestSlcReader::closingVertex_data()
{
    QTest::addColumn<Points>("stored");
    QTest::addColumn<Points>("expected");

    const Point2Df a(0, 0), b(1, 0), c(1, 1);
    QTest::newRow("closed") << Points{a, b, c, a} << Points{a, b, c};
    // Only one closing vertex is dropped, even when the one before it is the
    // first vertex again.
    QTest::newRow("closed twice") << Points{a, b, a, a} << Points{a, b, a};
    QTest::newRow("all the same") << Points{a, a, a} << Points{a, a};
    QTest::newRow("open stays open") << Points{a, b, c} << Points{a, b, c};
    QTest::newRow("one vertex") << Points{b} << Points{b};
    QTest::newRow("two equal") << Points{b, b} << Points{b};
    QTest::newRow("none") << Points{} << Points{};
}

void TestSlcReader::closingVertex()
{
    QFETCH(Points, stored);
    QFETCH(Points, expected);

    const QByteArray bytes = SlcBytes().preamble().layer(0, 1).boundary(stored).terminator(1);
    PipeDevice pipe(bytes);
    for (const ReadResult &r : {readBuffer(bytes), readFrom(&pipe)}) {
        QCOMPARE(r.status, QDataStream::Ok);
        QCOMPARE(r.slices.size(), 1);
        QCOMPARE(r.slices[0].contourCount(), 1);
        QVERIFY(samePoints(r.slices[0].contourAt(0).points(), expected));
    }
}

void TestSlcReader::peekSlice()
{
    QByteArray bytes = ::threeLayers();
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    const Slice first = reader.peekSlice(false);
    QCOMPARE(buffer.pos(), 0);
    const Slice again = reader.peekSlice(false);
    QCOMPARE(first.z(), 0.1f);
    QCOMPARE(again.z(), 0.1f);
    QCOMPARE(again.contourCount(), 1);
    QVERIFY(samePoints(again.contourAt(0).points(), first.contourAt(0).points()));
    QCOMPARE(reader.readSlice(false).z(), 0.1f);
    const qint64 position = buffer.pos();
    QCOMPARE(reader.peekSlice(false).z(), 0.2f);
    QCOMPARE(buffer.pos(), position);
    QCOMPARE(reader.readSlices(false, -1).size(), 2);

    PipeDevice pipe(bytes);
    SlcReader pipeReader(&pipe);
    QVERIFY(std::isnan(pipeReader.peekSlice(false).z()));
    QCOMPARE(pipeReader.readSlices(false, -1).size(), 3);
}

void TestSlcReader::noLayers()
{
    const ReadResult r = readBuffer(SlcBytes().preamble().terminator(0.0f));
    QCOMPARE(r.status, QDataStream::Ok);
    QVERIFY(r.slices.isEmpty());

    const ReadResult empty = readBuffer(SlcBytes().preamble().layer(0.5f, 0).terminator(0.75f));
    QCOMPARE(empty.status, QDataStream::Ok);
    QCOMPARE(empty.slices.size(), 1);
    QCOMPARE(empty.slices[0].contourCount(), 0);
    QCOMPARE(empty.slices[0].thickness(), 0.25f);
}

void TestSlcReader::sampleTableSizes_data()
{
    QTest::addColumn<int>("entries");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("seven") << 7;
    QTest::newRow("255") << 255;
}

void TestSlcReader::sampleTableSizes()
{
    QFETCH(int, entries);
    const ReadResult r = readBuffer(
        SlcBytes().header().sampleTable(entries).layer(2.0f, 1).boundary(closed(square(0, 0, 1))).terminator(3.0f));
    QCOMPARE(r.status, QDataStream::Ok);
    QCOMPARE(r.slices.size(), 1);
    QCOMPARE(r.slices[0].z(), 2.0f);
    QVERIFY(samePoints(r.slices[0].contourAt(0).points(), square(0, 0, 1)));
}

void TestSlcReader::headerForms_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QDataStream::Status>("status");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<float>("scale");

    const QStringList byDefault{"-SLCVER", "2.0", "-UNIT", "MM", "-TYPE", "PART"};
    QTest::newRow("default") << QByteArray(SlcBytes::defaultHeaderText) << QDataStream::Ok << byDefault << 1.0f;
    QTest::newRow("several lines") << QByteArray("-SLCVER 2.0\r\n  -UNIT INCH \r\n-TYPE PART") << QDataStream::Ok
                                   << QStringList{"-SLCVER", "2.0", "-UNIT", "INCH", "-TYPE", "PART"} << 25.4f;
    QTest::newRow("0x1A inside a line") << QByteArray("-SLCVER 2.0 \x1A -UNIT INCH") << QDataStream::Ok
                                        << QStringList{"-SLCVER", "2.0", "\x1A", "-UNIT", "INCH"} << 25.4f;
    QTest::newRow("web") << QByteArray("-SLCVER 2.0 -TYPE WEB") << QDataStream::ReadCorruptData
                         << QStringList{"-SLCVER", "2.0", "-TYPE", "WEB"} << 1.0f;
    QTest::newRow("web in lower case") << QByteArray("-TYPE web") << QDataStream::Ok << QStringList{"-TYPE", "web"}
                                       << 1.0f;
    QTest::newRow("unit without value") << QByteArray("-SLCVER 2.0 -UNIT") << QDataStream::Ok
                                        << QStringList{"-SLCVER", "2.0", "-UNIT"} << 1.0f;
    QTest::newRow("first unit counts") << QByteArray("-UNIT MM -UNIT INCH") << QDataStream::Ok
                                       << QStringList{"-UNIT", "MM", "-UNIT", "INCH"} << 1.0f;
    QTest::newRow("no tokens") << QByteArray("  ") << QDataStream::ReadPastEnd << QStringList() << 1.0f;
}

void TestSlcReader::headerForms()
{
    QFETCH(QByteArray, text);
    QFETCH(QDataStream::Status, status);
    QFETCH(QStringList, tokens);
    QFETCH(float, scale);

    QByteArray bytes = SlcBytes().preamble(text).layer(1.0f, 1).boundary(closed(square(0, 0, 1))).terminator(2.0f);
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    QCOMPARE(reader.header(), tokens);
    const QList<Slice> slices = reader.readSlices(false, -1);
    QCOMPARE(reader.stream()->status(), status);
    QCOMPARE(reader.unitScale(), scale);
    QCOMPARE(slices.size(), status == QDataStream::Ok ? 1 : 0);
    if (!slices.isEmpty())
        QCOMPARE(slices[0].contourAt(0).points().at(1).x, scale);
}

void TestSlcReader::headerIsCapped_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QDataStream::Status>("status");

    const QByteArray rest = SlcBytes().raw(QByteArray(256, '\0')).sampleTable().terminator(1.0f);
    // Header text, CR LF and 0x1A take exactly 2048 bytes.
    QTest::newRow("2048 bytes") << QByteArray(2045, 'A') + "\r\n\x1A" + rest << QDataStream::Ok;
    QTest::newRow("2049 bytes") << QByteArray(2046, 'A') + "\r\n\x1A" + rest << QDataStream::ReadCorruptData;
    QTest::newRow("many short lines") << QByteArray(5000, '\n') + "\x1A" + rest << QDataStream::ReadCorruptData;
    QTest::newRow("no end mark at all") << QByteArray(1 << 20, 'A') << QDataStream::ReadCorruptData;
    QTest::newRow("ends before the mark") << QByteArray("-SLCVER 2.0\r\n-UNIT MM\r\n") << QDataStream::ReadPastEnd;
    QTest::newRow("ends after a line") << QByteArray("-SLCVER 2.0") << QDataStream::ReadPastEnd;
    QTest::newRow("empty") << QByteArray() << QDataStream::ReadPastEnd;
}

void TestSlcReader::headerIsCapped()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QDataStream::Status, status);

    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    QVERIFY(reader.readSlices(false, -1).isEmpty());
    QCOMPARE(reader.stream()->status(), status);
    if (status == QDataStream::ReadCorruptData)
        QVERIFY(buffer.pos() <= 2048);

    PipeDevice pipe(bytes);
    QCOMPARE(readFrom(&pipe).status, status);
    QVERIFY(pipe.largestRead() <= 2048);
}

void TestSlcReader::failedHeaderStaysFailed()
{
    QByteArray bytes = QByteArray("-TYPE WEB\r\n\x1A") + ::threeLayers().bytes();
    QBuffer buffer(&bytes);
    SlcReader reader(&buffer);
    QVERIFY(reader.readSlices(false, -1).isEmpty());
    const qint64 position = buffer.pos();
    QVERIFY(std::isnan(reader.nextZ()));
    QVERIFY(std::isnan(reader.readSlice(false).z()));
    QVERIFY(std::isnan(reader.peekSlice(false).z()));
    QVERIFY(reader.readSlices(false, -1).isEmpty());
    QCOMPARE(reader.header(), (QStringList{"-TYPE", "WEB"}));
    QCOMPARE(buffer.pos(), position);
    QCOMPARE(reader.stream()->status(), QDataStream::ReadCorruptData);
}

void TestSlcReader::missingTerminator_data()
{
    QTest::addColumn<int>("layers");
    QTest::addColumn<int>("extraBytes");
    QTest::addColumn<float>("lastThickness");

    QTest::newRow("one layer") << 1 << 0 << 0.0f;
    QTest::newRow("three layers") << 3 << 0 << 0.3f - 0.2f;
    QTest::newRow("cut inside the end marker") << 3 << 5 << 0.3f - 0.2f;
}

void TestSlcReader::missingTerminator()
{
    QFETCH(int, layers);
    QFETCH(int, extraBytes);
    QFETCH(float, lastThickness);

    SlcBytes file;
    file.preamble("-UNIT INCH");
    for (int k = 0; k < layers; ++k)
        file.layer(0.1f * float(k + 1), 1).boundary(closed(square(0, 0, 1)));
    file.raw(SlcBytes().terminator(0.5f).bytes().left(extraBytes));

    QByteArray bytes = file;
    for (int pass = 0; pass < 2; ++pass) {
        QBuffer buffer(&bytes);
        PipeDevice pipe(bytes);
        const ReadResult r = readFrom(pass == 0 ? static_cast<QIODevice *>(&buffer) : &pipe);
        QCOMPARE(r.status, QDataStream::ReadPastEnd);
        QCOMPARE(r.slices.size(), layers);
        QCOMPARE(bits(r.slices.last().thickness()), bits(lastThickness * 25.4f));
        QCOMPARE(r.slices.last().contourCount(), 1);
    }
}

void TestSlcReader::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QDataStream::Status>("status");
    QTest::addColumn<QDataStream::Status>("pipeStatus");
    QTest::addColumn<int>("layers");

    const QDataStream::Status corrupt = QDataStream::ReadCorruptData;
    const QDataStream::Status pastEnd = QDataStream::ReadPastEnd;
    const Points unit = closed(square(0, 0, 1));
    auto good = [&]() { return SlcBytes().preamble().layer(0.1f, 1).boundary(unit); };

    // More than one slice can hold, whatever the device.
    QTest::newRow("boundary count 0x7FFFFFFF")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 0x7FFFFFFF).boundary(unit).terminator(1)) << corrupt
        << corrupt << 0;
    QTest::newRow("boundary count 0xFFFFFFFE in layer two")
        << QByteArray(good().layer(0.2f, -2).boundary(unit).terminator(1)) << corrupt << corrupt << 1;
    // Counts larger than the data left: the data ends inside the layer.
    QTest::newRow("boundary count 0x01000000")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 0x01000000).boundary(unit).terminator(1)) << pastEnd
        << pastEnd << 0;
    QTest::newRow("vertex count 0x1FFFFFFF")
        << QByteArray(good().layer(0.2f, 1).int32(0x1FFFFFFF).int32(0).real(1).real(1).terminator(1)) << pastEnd
        << pastEnd << 1;
    QTest::newRow("vertex count 0x7FFFFFFF")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 1).int32(0x7FFFFFFF).int32(0).terminator(1)) << pastEnd
        << pastEnd << 0;
    QTest::newRow("vertex count -5")
        << QByteArray(good().layer(0.2f, 1).int32(-5).int32(0).terminator(1)) << corrupt << corrupt << 1;
    QTest::newRow("vertex count -1")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 2).boundary(unit).int32(-1).int32(0).terminator(1))
        << corrupt << corrupt << 0;
    QTest::newRow("gap count huge") << QByteArray(good().layer(0.2f, 1).boundary(unit, 0x7FFFFFFF).terminator(1))
                                    << QDataStream::Ok << QDataStream::Ok << 2;
    QTest::newRow("NaN height of the first layer")
        << QByteArray(SlcBytes().preamble().layer(notANumber, 1).boundary(unit).terminator(1)) << corrupt << corrupt << 0;
    // The layer below a bad height is complete; only its upper limit is lost.
    QTest::newRow("NaN height of layer two")
        << QByteArray(good().layer(notANumber, 1).boundary(unit).terminator(1)) << corrupt << corrupt << 1;
    QTest::newRow("infinite end height") << QByteArray(good().terminator(infinity)) << corrupt << corrupt << 1;
    QTest::newRow("NaN x") << QByteArray(good().layer(0.2f, 1).boundary(Points{{0, 0}, {notANumber, 1}, {1, 1}}).terminator(1))
                           << corrupt << corrupt << 1;
    QTest::newRow("infinite y")
        << QByteArray(good().layer(0.2f, 1).boundary(Points{{0, 0}, {1, -infinity}, {1, 1}}).terminator(1)) << corrupt
        << corrupt << 1;
    QTest::newRow("inch coordinate overflows")
        << QByteArray(SlcBytes().preamble("-UNIT INCH").layer(0.1f, 1).boundary(Points{{0, 0}, {1e38f, 0}, {0, 1}})
                          .terminator(1))
        << corrupt << corrupt << 0;
    QTest::newRow("inch height overflows")
        << QByteArray(SlcBytes().preamble("-UNIT INCH").layer(3e38f, 1).boundary(unit).terminator(3.1e38f))
        << corrupt << corrupt << 0;
    QTest::newRow("no 0x1A") << QByteArray(3000, '-') << corrupt << corrupt << 0;
    QTest::newRow("sample table cut off") << QByteArray(SlcBytes().header().byte(255).real(1)) << pastEnd << pastEnd
                                          << 0;
    QTest::newRow("reserved block cut off") << SlcBytes().header().bytes().left(100) << pastEnd << pastEnd << 0;
}

void TestSlcReader::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QDataStream::Status, status);
    QFETCH(QDataStream::Status, pipeStatus);
    QFETCH(int, layers);

    QElapsedTimer timer;
    timer.start();
    ReadResult r;
    ReadResult p;
    const qint64 growth = slctest::peakMemoryGrowthKiB([&] {
        r = readBuffer(bytes);
        PipeDevice pipe(bytes);
        p = readFrom(&pipe);
    });
    QCOMPARE(r.status, status);
    QCOMPARE(r.slices.size(), layers);
    QVERIFY(sameResult(r, readBuffer(bytes, false, false)));
    QCOMPARE(p.status, pipeStatus);
    QCOMPARE(p.slices.size(), layers);
    for (const Slice &s : r.slices) {
        QVERIFY(std::isfinite(s.z()));
        QVERIFY(std::isfinite(s.thickness()));
        QCOMPARE(s.contourAt(0).points().size(), 4);
    }
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    if (growth >= 0)
        QVERIFY2(growth < 16 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(growth)));
}

// A file cut at any byte keeps exactly its complete layers, never with a
// layer padded out with zeros, and says that its data ended early, whatever
// the device: one of known size (a file, a buffer) or a pipe.
void TestSlcReader::truncatedAtEveryByte()
{
    QVector<int> recordEnds;
    const QByteArray whole = ::threeLayers(&recordEnds);
    const ReadResult complete = readBuffer(whole);
    QCOMPARE(complete.slices.size(), 3);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("cut.slc"));

    for (int cut = 0; cut < whole.size(); ++cut) {
        const QByteArray bytes = whole.left(cut);
        int kept = 0;
        while (kept < 3 && recordEnds[kept] <= cut)
            ++kept;
        {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        }
        QFile file(path);
        QBuffer buffer;
        buffer.setData(bytes);
        PipeDevice pipe(bytes);
        for (QIODevice *device : {static_cast<QIODevice *>(&file), static_cast<QIODevice *>(&buffer),
                                  static_cast<QIODevice *>(&pipe)}) {
            const ReadResult r = readFrom(device);
            const QByteArray where = "cut at " + QByteArray::number(cut) + " from a "
                + (device == &file ? "file" : device == &buffer ? "buffer" : "pipe");
            QVERIFY2(r.status == QDataStream::ReadPastEnd, where);
            QVERIFY2(r.slices.size() == kept, where);
            if (device != &pipe)
                QVERIFY2(sameResult(r, readBuffer(bytes, false, false)), where + " on one thread");
            for (int k = 0; k < kept; ++k) {
                const Slice &s = r.slices[k];
                const Slice &original = complete.slices[k];
                QVERIFY2(bits(s.z()) == bits(original.z()), where);
                QVERIFY2(s.contourCount() == original.contourCount(), where);
                for (int c = 0; c < s.contourCount(); ++c)
                    QVERIFY2(samePoints(s.contourAt(c).points(), original.contourAt(c).points()), where);
                // Without the next height, the last layer kept is as thick as the gap below it.
                const bool upperKnown = cut >= recordEnds[k] + 8;
                const float thickness = upperKnown ? original.thickness()
                                                   : (k == 0 ? 0.0f : complete.slices[k - 1].thickness());
                QVERIFY2(bits(s.thickness()) == bits(thickness), where);
            }
        }
    }
}

// Long enough for the vectorised check and its single-float tail.
void TestSlcReader::nonFiniteAtEveryCoordinate()
{
    Points points;
    for (int i = 0; i < 37; ++i)
        points << Point2Df(float(i), float(i % 5));
    for (int at = 0; at < 2 * points.size(); ++at) {
        Points bad = points;
        float &value = at % 2 ? bad[at / 2].y : bad[at / 2].x;
        value = at % 3 ? notANumber : -infinity;
        const ReadResult r = readBuffer(SlcBytes().preamble().layer(0, 1).boundary(bad).terminator(1));
        QVERIFY2(r.status == QDataStream::ReadCorruptData, QByteArray::number(at));
        QVERIFY(r.slices.isEmpty());
    }
    QCOMPARE(readBuffer(SlcBytes().preamble().layer(0, 1).boundary(points).terminator(1)).status, QDataStream::Ok);
}

void TestSlcReader::pipeReadsInBoundedChunks()
{
    // Counts that promise far more data than there is: memory and reads must
    // follow the data that arrives.
    const QByteArray manyVertices =
        SlcBytes().preamble().layer(0.1f, 1).int32(0x1FFFFFF0).int32(0).raw(QByteArray(4000, '\0'));
    const QByteArray manyBoundaries = SlcBytes().preamble().layer(0.1f, 0x01000000).raw(QByteArray(4000, '\0'));
    for (const QByteArray &bytes : {manyVertices, manyBoundaries}) {
        PipeDevice pipe(bytes);
        ReadResult r;
        const qint64 growth = slctest::peakMemoryGrowthKiB([&] { r = readFrom(&pipe); });
        QCOMPARE(r.status, QDataStream::ReadPastEnd);
        QVERIFY(r.slices.isEmpty());
        QVERIFY(pipe.largestRead() <= 1 << 20);
        if (growth >= 0)
            QVERIFY2(growth < 16 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(growth)));
    }
}

void TestSlcReader::largeBoundaryOnPipe()
{
    // More vertices than one chunk read from a pipe; the same as from a buffer.
    Points points;
    for (int i = 0; i < 200003; ++i)
        points << Point2Df(float(i), float(i) * 0.5f);
    QByteArray bytes = SlcBytes().preamble().layer(0.1f, 2).boundary(points).boundary(closed(square(0, 0, 1)))
                           .terminator(0.2f);
    PipeDevice pipe(bytes);
    const ReadResult p = readFrom(&pipe);
    QCOMPARE(p.status, QDataStream::Ok);
    QCOMPARE(p.slices.size(), 1);
    QVERIFY(samePoints(p.slices[0].contourAt(0).points(), points));
    QVERIFY(samePoints(p.slices[0].contourAt(1).points(), square(0, 0, 1)));
    const ReadResult r = readBuffer(bytes);
    QVERIFY(samePoints(r.slices[0].contourAt(0).points(), points));
    QVERIFY(p.slices[0].contourAt(0).points().capacity() - points.size() <= points.size() / 8 + 8);
}

void TestSlcReader::readsFileItOpens()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("three.slc"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(::threeLayers());
    }
    QFile file(path);
    const ReadResult r = readFrom(&file);
    QVERIFY(file.isOpen());
    QCOMPARE(r.status, QDataStream::Ok);
    QCOMPARE(r.slices.size(), 3);
    QCOMPARE(r.slices[2].contourCount(), 3);
}

void TestSlcReader::parallelMatchesOneThread_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("removeGaps");

    QTest::newRow("millimetres") << QByteArray(SlcBytes::defaultHeaderText) << false;
    QTest::newRow("gaps removed") << QByteArray(SlcBytes::defaultHeaderText) << true;
    QTest::newRow("inches") << QByteArray("-SLCVER 2.0 -UNIT INCH -TYPE PART") << false;
}

// Many layers, from a buffer and from a file, with an offset: the same slices
// in parallel as on one thread.
void TestSlcReader::parallelMatchesOneThread()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, removeGaps);

    const QByteArray bytes = manyLayers(90, header);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("many.slc"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    }
    ReadResult results[3];
    for (int run = 0; run < 3; ++run) {
        QBuffer buffer;
        buffer.setData(bytes);
        QFile file(path);
        SlcReader reader(run == 2 ? static_cast<QIODevice *>(&file) : &buffer);
        reader.setParallel(run != 0);
        reader.setOffset(geom::Point3Df(1.5f, -2, 3));
        results[run].slices = reader.readSlices(removeGaps, -1);
        results[run].status = reader.stream()->status();
    }
    QCOMPARE(results[0].status, QDataStream::Ok);
    QCOMPARE(results[0].slices.size(), 90);
    QCOMPARE(results[0].slices[40].contourAt(0).points().size(), 20000);
    QVERIFY(sameResult(results[1], results[0]));
    QVERIFY(sameResult(results[2], results[0]));
}

// A file larger than the largest blocks the parallel reader reads, so that
// blocks are used again, with one layer larger than a block.
void TestSlcReader::parallelOnLargeFile()
{
    SlcBytes file;
    file.preamble();
    for (int k = 0; k < 200; ++k) {
        file.layer(float(k), 8);
        for (int b = 0; b < 8; ++b) {
            const int n = k == 100 && b == 3 ? 600000 : 1000 + 37 * b;
            Points points(n);
            for (int i = 0; i < n; ++i)
                points[i] = Point2Df(float(i % 1013), float(k * 8 + b));
            file.boundary(points);
        }
    }
    QByteArray bytes = file.terminator(200.0f);
    QVERIFY(bytes.size() > 16 << 20);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("large.slc"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    }
    QFile file1(path);
    QFile file2(path);
    const ReadResult parallel = readFrom(&file1, false, true);
    const ReadResult oneThread = readFrom(&file2, false, false);
    QCOMPARE(parallel.status, QDataStream::Ok);
    QCOMPARE(parallel.slices.size(), 200);
    QCOMPARE(parallel.slices[100].contourAt(3).points().size(), 600000);
    QVERIFY(sameResult(parallel, oneThread));

    // Cut inside the large layer, and inside the last one.
    for (int cut : {bytes.size() / 2, bytes.size() - 100}) {
        const ReadResult r = readBuffer(bytes.left(cut), false, true);
        QCOMPARE(r.status, QDataStream::ReadPastEnd);
        QVERIFY(sameResult(r, readBuffer(bytes.left(cut), false, false)));
    }
}

// Reading the first n layers leaves the reader where the one-thread reader is:
// the next layer, the device position and the status are the same.
void TestSlcReader::parallelStopsWhereOneThreadStops()
{
    struct Stop
    {
        ReadResult first;
        qint64 position = 0;
        Slice next;
    };
    QByteArray bytes = manyLayers(60);
    const auto readFirst = [&bytes](int count, bool parallel) {
        QBuffer buffer(&bytes);
        SlcReader reader(&buffer);
        reader.setParallel(parallel);
        Stop stop;
        stop.first.slices = reader.readSlices(false, count);
        stop.position = buffer.pos();
        stop.next = reader.readSlice(false);
        stop.first.status = reader.stream()->status();
        return stop;
    };
    for (int count : {1, 2, 15, 16, 17, 40, 41, 59, 60, 61}) {
        const QByteArray where = "after " + QByteArray::number(count) + " layers";
        const Stop parallel = readFirst(count, true);
        const Stop oneThread = readFirst(count, false);
        QVERIFY2(parallel.first.status == QDataStream::Ok, where);
        QVERIFY2(parallel.first.slices.size() == std::min(count, 60), where);
        QVERIFY2(sameResult(parallel.first, oneThread.first), where);
        QVERIFY2(parallel.position == oneThread.position, where);
        QVERIFY2(sameSlice(parallel.next, oneThread.next), where);
    }
}

// Damage in any one layer ends both readers there, with the same status and
// the layers before it.
void TestSlcReader::parallelOnDamageInEveryLayer()
{
    QVector<int> recordEnds;
    QVector<int> fieldStarts;
    const QByteArray bytes = manyLayers(60, SlcBytes::defaultHeaderText, &recordEnds, &fieldStarts);
    for (int k = 0; k < 60; ++k) {
        const int layerStart = k == 0 ? fieldStarts.first() : recordEnds[k - 1];
        QVector<QByteArray> damaged{withFloatAt(bytes, layerStart, infinity)};
        if (recordEnds[k] > layerStart + 8) {
            // The first boundary's vertex count, then its first x.
            QByteArray negative = bytes;
            qToLittleEndian<qint32>(-3, negative.data() + layerStart + 8);
            damaged << negative << withFloatAt(bytes, layerStart + 16, notANumber);
        }
        for (int i = 0; i < damaged.size(); ++i) {
            const QByteArray where = "damage " + QByteArray::number(i) + " in layer " + QByteArray::number(k);
            const ReadResult parallel = readBuffer(damaged[i], false, true);
            QVERIFY2(parallel.status == QDataStream::ReadCorruptData, where);
            QVERIFY2(parallel.slices.size() == k, where);
            QVERIFY2(sameResult(parallel, readBuffer(damaged[i], false, false)), where);
        }
    }
}

// A file cut at the start of any field, or in the middle of one, reads the
// same in parallel as on one thread: the complete layers before the cut, and
// ReadPastEnd.
void TestSlcReader::parallelOnCutsAtEveryField()
{
    QVector<int> recordEnds;
    QVector<int> fieldStarts;
    const QByteArray whole = manyLayers(60, SlcBytes::defaultHeaderText, &recordEnds, &fieldStarts);
    QVector<int> cuts;
    QVERIFY(fieldStarts.size() > 200);
    for (int field : fieldStarts)
        cuts << field << field + 2 << field + 4 << field + 8 << field + 12;
    for (int cut : cuts) {
        if (cut >= whole.size())
            continue;
        const QByteArray bytes = whole.left(cut);
        const QByteArray where = "cut at " + QByteArray::number(cut);
        const ReadResult parallel = readBuffer(bytes, false, true);
        const int kept = int(std::upper_bound(recordEnds.cbegin(), recordEnds.cend(), cut) - recordEnds.cbegin());
        QVERIFY2(parallel.status == QDataStream::ReadPastEnd, where);
        QVERIFY2(parallel.slices.size() == kept, where);
        QVERIFY2(sameResult(parallel, readBuffer(bytes, false, false)), where);
    }
}

namespace {

enum class Road { OneThread, Parallel, Pipe };

ReadResult readWithBudget(const QByteArray &bytes, Road road, qint64 budget, bool *needsMoreMemory)
{
    QByteArray data = bytes;
    QBuffer buffer(&data);
    PipeDevice pipe(bytes);
    SlcReader reader(road == Road::Pipe ? static_cast<QIODevice *>(&pipe) : &buffer);
    reader.setParallel(road == Road::Parallel);
    reader.setMemoryBudget(budget);
    ReadResult result;
    result.slices = reader.readSlices(false, -1);
    result.status = reader.stream()->status();
    *needsMoreMemory = reader.needsMoreMemory();
    return result;
}

} // namespace

// Every road weighs a file the same: the smallest budget that reads it on one
// thread reads it in parallel and from a pipe as well, to the same slices, and
// one byte less refuses it on every road as needing more memory, with no
// slice returned.
void TestSlcReader::memoryBudget()
{
    const QByteArray bytes = manyLayers(300);
    bool needs = true;
    const ReadResult full = readWithBudget(bytes, Road::OneThread, -1, &needs);
    QCOMPARE(full.status, QDataStream::Ok);
    QVERIFY(!needs);

    qint64 low = 0;
    qint64 high = qint64(1) << 30;
    while (low < high) {
        const qint64 mid = (low + high) / 2;
        readWithBudget(bytes, Road::OneThread, mid, &needs);
        if (needs)
            low = mid + 1;
        else
            high = mid;
    }
    const qint64 least = low;
    // The slices take more than the bytes they are read from, and not absurdly more.
    QVERIFY2(least > bytes.size() && least < 64 * qint64(bytes.size()), qPrintable(QString::number(least)));

    for (const Road road : {Road::OneThread, Road::Parallel, Road::Pipe}) {
        const ReadResult within = readWithBudget(bytes, road, least, &needs);
        QVERIFY(!needs);
        QVERIFY(sameResult(within, full));

        const ReadResult over = readWithBudget(bytes, road, least - 1, &needs);
        QVERIFY(needs);
        QCOMPARE(over.status, QDataStream::ReadCorruptData);
        QVERIFY(over.slices.isEmpty());

        const ReadResult none = readWithBudget(bytes, road, 0, &needs);
        QVERIFY(needs);
        QVERIFY(none.slices.isEmpty());
    }
}

void TestSlcReader::memoryBudgetIsNotDamage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QDataStream::Status>("status");

    const QByteArray whole = ::threeLayers();
    QTest::newRow("cut inside a layer") << whole.left(whole.size() - 20) << QDataStream::ReadPastEnd;
    QTest::newRow("boundaries the data cannot hold")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 0x01000000).raw(QByteArray(4000, '\0')))
        << QDataStream::ReadPastEnd;
    QTest::newRow("vertices the data cannot hold")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 1).int32(0x1FFFFFF0).int32(0).raw(QByteArray(4000, '\0')))
        << QDataStream::ReadPastEnd;
    QTest::newRow("negative vertex count")
        << QByteArray(SlcBytes().preamble().layer(0.1f, 1).int32(-5).int32(0).terminator(0.2f))
        << QDataStream::ReadCorruptData;
}

// A count the data left cannot hold is damage, told before anything is charged
// for it: a budget that the layers present fit is not what refuses the file.
void TestSlcReader::memoryBudgetIsNotDamage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QDataStream::Status, status);
    for (const Road road : {Road::OneThread, Road::Parallel}) {
        bool needs = true;
        const ReadResult r = readWithBudget(bytes, road, 64 * 1024, &needs);
        QVERIFY(!needs);
        QCOMPARE(r.status, status);
    }
}

QTEST_GUILESS_MAIN(TestSlcReader)
#include "tst_slcreader.moc"
