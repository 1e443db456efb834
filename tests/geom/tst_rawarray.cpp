#include "geomtestutil.h"
#include "point2d.h"
#include "point3d.h"
#include "testdevices.h"

#include <QBuffer>
#include <QDataStream>
#include <QTest>

#include <cstring>
#include <limits>

using geom::Point2Dd;
using geom::Point2Df;
using geom::Point3Df;

namespace {

QByteArray countBytes(qint32 count, QDataStream::ByteOrder order = QDataStream::BigEndian)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(order);
    out << count;
    return bytes;
}

template <typename P>
QByteArray rawBytes(const QVector<P> &points)
{
    return QByteArray(reinterpret_cast<const char *>(points.constData()), int(points.size() * sizeof(P)));
}

// Dispatch so that one test body serves all three element types.
int writeRaw(QDataStream &s, const Point2Df *p, int n) { return geom::writeRaw2Df(s, p, n); }
int writeRaw(QDataStream &s, const Point2Dd *p, int n) { return geom::writeRaw2Dd(s, p, n); }
int writeRaw(QDataStream &s, const Point3Df *p, int n) { return geom::writeRaw3Df(s, p, n); }
int readRaw(QDataStream &s, QVector<Point2Df> &v) { return geom::readRaw2Df(s, v); }
int readRaw(QDataStream &s, QVector<Point2Dd> &v) { return geom::readRaw2Dd(s, v); }
int readRaw(QDataStream &s, QVector<Point3Df> &v) { return geom::readRaw3Df(s, v); }

template <typename P>
QVector<P> samplePoints(int n);

template <>
QVector<Point2Df> samplePoints(int n)
{
    QVector<Point2Df> v;
    for (int i = 0; i < n; ++i)
        v.append(Point2Df(float(i) + 0.5f, -float(i)));
    return v;
}

template <>
QVector<Point2Dd> samplePoints(int n)
{
    QVector<Point2Dd> v;
    for (int i = 0; i < n; ++i)
        v.append(Point2Dd(i + 0.1, -i * 1e300));
    return v;
}

template <>
QVector<Point3Df> samplePoints(int n)
{
    QVector<Point3Df> v;
    for (int i = 0; i < n; ++i)
        v.append(Point3Df(float(i), 0.25f, -float(i)));
    return v;
}

template <typename P>
void checkRoundTrip()
{
    QVector<P> points = samplePoints<P>(3);
    // Bits that a value comparison would not see.
    points[1].x = -0.0f;
    points[2].y = std::numeric_limits<decltype(points[2].y)>::quiet_NaN();

    for (QDataStream::ByteOrder order : {QDataStream::BigEndian, QDataStream::LittleEndian}) {
        QByteArray bytes;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out.setByteOrder(order);
        out.setFloatingPointPrecision(QDataStream::DoublePrecision);
        QCOMPARE(writeRaw(out, points.constData(), points.size()), 3);
        QCOMPARE(out.status(), QDataStream::Ok);
        // The count follows the stream's byte order, the elements are memory.
        QCOMPARE(bytes, countBytes(3, order) + rawBytes(points));

        QDataStream in(bytes);
        in.setByteOrder(order);
        QVector<P> back = samplePoints<P>(7);
        QCOMPARE(readRaw(in, back), 3);
        QCOMPARE(in.status(), QDataStream::Ok);
        QCOMPARE(rawBytes(back), rawBytes(points));
        QVERIFY(in.atEnd());
    }
}

template <typename P>
void checkReadFailure(const QByteArray &bytes, QDataStream::Status expected, int expectedResult)
{
    QDataStream in(bytes);
    const QVector<P> before = samplePoints<P>(2);
    QVector<P> points = before;
    QCOMPARE(readRaw(in, points), expectedResult);
    QCOMPARE(in.status(), expected);
    QCOMPARE(rawBytes(points), rawBytes(before));
}

} // namespace

class tst_RawArray : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip();
    void contourLayout();
    void emptyArray();
    void writeOnFailedStream();
    void readOnFailedStream();
    void badCounts_data();
    void badCounts();
    void sequentialDeviceInChunks();
    void sequentialDeviceShortOfData();
    void shortWriteFails();
    void writeToReadOnlyDevice();
    void invalidWriteArguments();
};

void tst_RawArray::roundTrip()
{
    checkRoundTrip<Point2Df>();
    checkRoundTrip<Point2Dd>();
    checkRoundTrip<Point3Df>();
}

void tst_RawArray::contourLayout()
{
    const QVector<Point2Df> points{Point2Df(1, 2), Point2Df(3, 4)};
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QCOMPARE(geom::writeRaw2Df(out, points.constData(), points.size()), 2);
    QCOMPARE(bytes.toHex(), QByteArray("00000002" "0000803f00000040" "0000404000008040"));
}

void tst_RawArray::emptyArray()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QCOMPARE(geom::writeRaw2Df(out, nullptr, 0), 0);
    QCOMPARE(out.status(), QDataStream::Ok);
    QCOMPARE(bytes, countBytes(0));

    QDataStream in(bytes);
    QVector<Point2Df> points = samplePoints<Point2Df>(4);
    QCOMPARE(geom::readRaw2Df(in, points), 0);
    QCOMPARE(in.status(), QDataStream::Ok);
    QVERIFY(points.isEmpty());
}

void tst_RawArray::writeOnFailedStream()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setStatus(QDataStream::WriteFailed);
    const QVector<Point3Df> points = samplePoints<Point3Df>(2);
    QCOMPARE(geom::writeRaw3Df(out, points.constData(), points.size()), 0);
    QVERIFY(bytes.isEmpty());
}

void tst_RawArray::readOnFailedStream()
{
    QByteArray bytes = countBytes(1) + QByteArray(8, '\0');
    QDataStream in(bytes);
    in.setStatus(QDataStream::ReadCorruptData);
    QVector<Point2Df> points = samplePoints<Point2Df>(2);
    QCOMPARE(geom::readRaw2Df(in, points), 0);
    QCOMPARE(points, samplePoints<Point2Df>(2));
    QCOMPARE(in.status(), QDataStream::ReadCorruptData);

    checkReadFailure<Point2Df>(QByteArray("\0\0", 2), QDataStream::ReadPastEnd, 0);
}

void tst_RawArray::badCounts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    QTest::newRow("negative") << countBytes(-1) + QByteArray(64, '\0') << int(QDataStream::ReadCorruptData);
    QTest::newRow("most negative") << countBytes(std::numeric_limits<qint32>::min()) << int(QDataStream::ReadCorruptData);
    QTest::newRow("beyond any vector") << countBytes(std::numeric_limits<qint32>::max()) << int(QDataStream::ReadCorruptData);
    QTest::newRow("larger than the data") << countBytes(1000000) + QByteArray(47, '\0') << int(QDataStream::ReadPastEnd);
    QTest::newRow("one byte short") << countBytes(2) + QByteArray(2 * 8 - 1, '\0') << int(QDataStream::ReadPastEnd);
}

void tst_RawArray::badCounts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    checkReadFailure<Point2Df>(bytes, QDataStream::Status(status), -1);
    checkReadFailure<Point2Dd>(bytes, QDataStream::Status(status), -1);
    checkReadFailure<Point3Df>(bytes, QDataStream::Status(status), -1);
}

void tst_RawArray::sequentialDeviceInChunks()
{
    const QVector<Point2Dd> points = samplePoints<Point2Dd>(20000);
    SequentialDevice device(countBytes(points.size()) + rawBytes(points));
    QDataStream in(&device);
    QVector<Point2Dd> back;
    QCOMPARE(geom::readRaw2Dd(in, back), points.size());
    QCOMPARE(in.status(), QDataStream::Ok);
    QCOMPARE(rawBytes(back), rawBytes(points));
    QVERIFY(device.largestRead() <= 65536);
}

void tst_RawArray::sequentialDeviceShortOfData()
{
    // A count of 150 million elements with 16 bytes behind it: the reader must
    // give up after the data without sizing anything for the count.
    SequentialDevice device(countBytes(150000000) + QByteArray(16, 'x'));
    QDataStream in(&device);
    QVector<Point3Df> points = samplePoints<Point3Df>(1);
    QCOMPARE(geom::readRaw3Df(in, points), -1);
    QCOMPARE(in.status(), QDataStream::ReadPastEnd);
    QCOMPARE(points, samplePoints<Point3Df>(1));
    QVERIFY(device.largestRead() <= 65536);
}

void tst_RawArray::shortWriteFails()
{
    const QVector<Point2Df> points = samplePoints<Point2Df>(4);
    FullDevice device(4 + 20);
    QDataStream out(&device);
    QCOMPARE(geom::writeRaw2Df(out, points.constData(), points.size()), -1);
    QCOMPARE(out.status(), QDataStream::WriteFailed);
    QCOMPARE(device.written().size(), 24);
}

void tst_RawArray::writeToReadOnlyDevice()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QDataStream out(&buffer);
    const QVector<Point2Df> points = samplePoints<Point2Df>(2);
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): ReadOnly device");
    QCOMPARE(geom::writeRaw2Df(out, points.constData(), points.size()), -1);
    QCOMPARE(out.status(), QDataStream::WriteFailed);
    QVERIFY(bytes.isEmpty());
}

void tst_RawArray::invalidWriteArguments()
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    QCOMPARE(geom::writeRaw2Df(out, nullptr, 3), -1);
    QCOMPARE(out.status(), QDataStream::WriteFailed);
    QVERIFY(bytes.isEmpty());

    QDataStream again(&bytes, QIODevice::WriteOnly);
    const QVector<Point2Df> points = samplePoints<Point2Df>(2);
    QCOMPARE(geom::writeRaw2Df(again, points.constData(), -2), -1);
    QCOMPARE(again.status(), QDataStream::WriteFailed);
    QVERIFY(bytes.isEmpty());
}

QTEST_APPLESS_MAIN(tst_RawArray)
#include "tst_rawarray.moc"
