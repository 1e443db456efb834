#include "stltestutil.h"
#include "stl/stlwriter.h"

#include <QBuffer>
#include <QFile>
#include <QMatrix4x4>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using geom::Facet;
using geom::Point3Df;

namespace {

Facet facetNumber(int i)
{
    const float f = float(i);
    return Facet(Point3Df(f, 0, 0), Point3Df(f + 1, 0, 0), Point3Df(f, 1, 0.5f));
}

QVector<Facet> facets(int count, int first = 0)
{
    QVector<Facet> list;
    for (int i = 0; i < count; ++i)
        list.append(facetNumber(first + i));
    return list;
}

bool sameFacet(const Facet &a, const Facet &b)
{
    return std::memcmp(&a, &b, sizeof(Facet)) == 0;
}

float dot(const Point3Df &a, const Point3Df &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

} // namespace

class TestStlWriter : public QObject
{
    Q_OBJECT

private slots:
    void emptyFile();
    void records();
    void appendsAcrossWrites();
    void usedDevice_data();
    void usedDevice();
    void header_data();
    void header();
    void destructorFinishes();
    void progress();
    void listAndSingleFacet();
    void finishedFileIsNotReopened();
    void unusableDevices();
    void shortWrites_data();
    void shortWrites();
    void failedSeekOnFinish();
    void saveFileIsNotClosed();
    void matrix_data();
    void matrix();
};

void TestStlWriter::emptyFile()
{
    QBuffer buffer;
    {
        StlWriter writer(&buffer);
        QVERIFY(writer.begin(0));
        QCOMPARE(writer.finish(), 0);
        QVERIFY(writer.isFinished());
        QVERIFY(!writer.failed());
    }
    QVERIFY(!buffer.isOpen());
    QCOMPARE(buffer.data(), QByteArray(80, ' ') + QByteArray(4, '\0'));
}

void TestStlWriter::records()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    const QVector<Facet> list = facets(3);
    const quint16 attributes[3] = {0x1234, 0, 0xffff};
    StlWriter writer(&buffer);
    QCOMPARE(writer.write(3, list.constData(), attributes), 3);
    QCOMPARE(writer.finish(), 3);

    const QByteArray bytes = buffer.data();
    QCOMPARE(bytes.size(), 84 + 3 * 50);
    const stltest::StlFile file = stltest::readStl(bytes);
    QCOMPARE(file.header, QByteArray(80, ' '));
    QCOMPARE(file.count, 3u);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(sameFacet(file.facets[i], list[i]));
        QCOMPARE(file.attributes[i], attributes[i]);
    }
    // The attribute word is little-endian right after the 48 facet bytes.
    QCOMPARE(quint8(bytes[84 + 48]), quint8(0x34));
    QCOMPARE(quint8(bytes[84 + 49]), quint8(0x12));
    // The normal opens the record: (0, 0, 1) as three floats.
    float normal[3];
    std::memcpy(normal, bytes.constData() + 84, sizeof normal);
    QCOMPARE(normal[2], list[0].normal.z);
}

void TestStlWriter::appendsAcrossWrites()
{
    QBuffer buffer;
    StlWriter writer(&buffer);
    writer.setAttribute(7);
    QCOMPARE(writer.write(facets(10)), 10);
    QCOMPARE(writer.write(QVector<Facet>()), 0);
    QCOMPARE(writer.write(facets(5, 10)), 5);
    QCOMPARE(writer.facetCount(), 15);
    QCOMPARE(writer.finish(), 15);

    const stltest::StlFile file = stltest::readStl(buffer.data());
    QVERIFY(file.valid);
    QCOMPARE(file.count, 15u);
    QCOMPARE(file.facets.size(), 15);
    for (int i = 0; i < 15; ++i) {
        QVERIFY(sameFacet(file.facets[i], facetNumber(i)));
        QCOMPARE(file.attributes[i], quint16(7));
    }
}

void TestStlWriter::usedDevice_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("recordsAt");

    // Within the header a fresh one is written from 0; past it the facets
    // are appended where the device stands.
    QTest::newRow("inside the header") << 40 << 84;
    QTest::newRow("past the header") << 200 << 200;
}

void TestStlWriter::usedDevice()
{
    QFETCH(int, position);
    QFETCH(int, recordsAt);

    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write(QByteArray(position, 'x'));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("StlWriter is given a used QIODevice, position %1").arg(position)));
    StlWriter writer(&buffer);
    QCOMPARE(writer.write(facets(2)), 2);
    writer.finish();

    const QByteArray bytes = buffer.data();
    QCOMPARE(bytes.size(), recordsAt + 100);
    if (recordsAt == 84)
        QCOMPARE(bytes.left(80), QByteArray(80, ' '));
    else
        QCOMPARE(bytes.mid(84, 116), QByteArray(116, 'x'));
    // Offset 80 gets this writer's count, whatever lay there.
    QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 80), 2u);
    Facet second;
    std::memcpy(&second, bytes.constData() + recordsAt + 50, 48);
    QVERIFY(sameFacet(second, facetNumber(1)));
}

void TestStlWriter::header_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray hundred = QByteArray(60, 'a') + QByteArray(40, 'b');
    QTest::newRow("long") << hundred << hundred.left(80);
    QTest::newRow("short") << QByteArray("Quarn") << QByteArray("Quarn") + QByteArray(75, ' ');
    QTest::newRow("empty") << QByteArray() << QByteArray(80, ' ');
}

void TestStlWriter::header()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);

    QBuffer buffer;
    StlWriter writer(&buffer);
    writer.setHeader(text);
    QCOMPARE(writer.header(), expected);
    writer.begin(0);
    writer.finish();
    QCOMPARE(buffer.data().left(80), expected);
}

void TestStlWriter::destructorFinishes()
{
    QBuffer written;
    {
        StlWriter writer(&written);
        writer.write(facets(4));
    }
    QVERIFY(!written.isOpen());
    QCOMPARE(stltest::readStl(written.data()).count, 4u);

    // A writer that wrote nothing leaves the device alone.
    QBuffer untouched;
    untouched.open(QIODevice::WriteOnly);
    {
        StlWriter writer(&untouched);
    }
    QVERIFY(untouched.isOpen());
    QCOMPARE(untouched.data().size(), 0);
}

void TestStlWriter::progress()
{
    QBuffer buffer;
    StlWriter writer(&buffer);
    QCOMPARE(writer.progress(), 0.0f);
    writer.write(facets(8));
    QCOMPARE(writer.progress(), 1.0f);
    // The single-facet write announces no facets.
    writer.write(facetNumber(9));
    QCOMPARE(writer.progress(), 0.0f);
}

void TestStlWriter::listAndSingleFacet()
{
    QBuffer buffer;
    StlWriter writer(&buffer);
    writer.setAttribute(3);
    const QVector<Facet> vector = facets(3);
    const QList<Facet> list(vector.begin(), vector.end());
    QCOMPARE(writer.write(list), 3);
    QVERIFY(writer.write(facetNumber(3), 11));
    QVERIFY(writer.write(facetNumber(4), -1));
    writer.finish();

    const stltest::StlFile file = stltest::readStl(buffer.data());
    QCOMPARE(file.count, 5u);
    QCOMPARE(file.attributes, (QVector<quint16>{3, 3, 3, 11, 3}));
    for (int i = 0; i < 5; ++i)
        QVERIFY(sameFacet(file.facets[i], facetNumber(i)));
}

// After finish() has closed the file, a further write must not open it again:
// opening write-only would truncate the finished model.
void TestStlWriter::finishedFileIsNotReopened()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("model.stl"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    StlWriter writer(&file);
    QCOMPARE(writer.write(facets(6)), 6);
    QCOMPARE(writer.finish(), 6);
    QVERIFY(!file.isOpen());

    QCOMPARE(writer.write(facets(2)), -1);
    QVERIFY(!writer.begin(0));
    QVERIFY(!writer.write(facetNumber(0)));
    QCOMPARE(writer.finish(), 6);
    QVERIFY(!file.isOpen());

    QVERIFY(file.open(QIODevice::ReadOnly));
    const stltest::StlFile stl = stltest::readStl(file.readAll());
    QCOMPARE(stl.count, 6u);
    QCOMPARE(stl.facets.size(), 6);
}

void TestStlWriter::unusableDevices()
{
    {
        StlWriter writer(nullptr);
        QVERIFY(!writer.begin(0));
        QCOMPARE(writer.write(facets(1)), -1);
        QCOMPARE(writer.finish(), 0);
    }
    {
        QByteArray data("abc");
        QBuffer readOnly(&data);
        readOnly.open(QIODevice::ReadOnly);
        StlWriter writer(&readOnly);
        QCOMPARE(writer.write(facets(1)), -1);
        QCOMPARE(data, QByteArray("abc"));
    }
    // A character device is sequential: the count could not be patched.
    QFile full("/dev/full");
    if (full.exists()) {
        StlWriter writer(&full);
        QCOMPARE(writer.write(facets(1)), -1);
        QVERIFY(!writer.write(facetNumber(0)));
    }
    {
        // Appended writes would put the patched count at the end of the file.
        QTemporaryDir dir;
        QFile file(dir.filePath("appended.stl"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        StlWriter writer(&file);
        QCOMPARE(writer.write(facets(1)), -1);
        writer.finish();
        QCOMPARE(file.size(), 0);
    }
    {
        // A file in a directory that does not exist cannot be opened.
        QTemporaryDir dir;
        QFile missing(dir.filePath("no/such/dir/model.stl"));
        StlWriter writer(&missing);
        QCOMPARE(writer.write(facets(1)), -1);
        QVERIFY(writer.failed());
        QVERIFY(!writer.errorString().isEmpty());
    }
}

void TestStlWriter::shortWrites_data()
{
    QTest::addColumn<int>("room");
    QTest::addColumn<int>("beginResult");
    QTest::addColumn<int>("written");

    QTest::newRow("no room") << 0 << -1 << 0;
    QTest::newRow("half a header") << 40 << -1 << 0;
    QTest::newRow("header without count") << 82 << -1 << 0;
    QTest::newRow("room for the header only") << 84 << 0 << 0;
    QTest::newRow("three records and a half") << 84 + 3 * 50 + 25 << 0 << 3;
    QTest::newRow("long before the end") << 84 + 1500 * 50 + 3 << 0 << 1500;
}

// A short write is a failure: the call reports the records that reached the
// device whole, the writer stays failed, and later calls write nothing.
void TestStlWriter::shortWrites()
{
    QFETCH(int, room);
    QFETCH(int, beginResult);
    QFETCH(int, written);

    stltest::FullBuffer buffer(room);
    buffer.open(QIODevice::ReadWrite);
    StlWriter writer(&buffer);
    const int result = writer.write(facets(2000));
    QCOMPARE(result, beginResult < 0 ? -1 : written);
    QVERIFY(writer.failed());
    QVERIFY(!writer.errorString().isEmpty());
    QCOMPARE(writer.facetCount(), written);

    QCOMPARE(writer.write(facets(1)), -1);
    QVERIFY(!writer.write(facetNumber(0)));
    writer.finish();
    QVERIFY(!writer.isFinished());
    QVERIFY(writer.failed());
    if (room >= 84)
        QCOMPARE(qFromLittleEndian<quint32>(buffer.data().constData() + 80), quint32(written));
}

void TestStlWriter::failedSeekOnFinish()
{
    // A device that takes the records but cannot seek back to the count.
    class NoSeekBuffer : public QBuffer
    {
    public:
        bool seek(qint64 pos) override { return pos == this->pos() ? QBuffer::seek(pos) : false; }
    };
    NoSeekBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StlWriter writer(&buffer);
    QCOMPARE(writer.write(facets(2)), 2);
    QCOMPARE(writer.finish(), 2);
    QVERIFY(writer.failed());
    QVERIFY(!writer.isFinished());
    // The placeholder stays, and the device is left open.
    QVERIFY(buffer.isOpen());
    QCOMPARE(qFromLittleEndian<quint32>(buffer.data().constData() + 80), 0u);
}

// A QSaveFile must not be closed (its owner commits it): finish() flushes and
// leaves it open.
void TestStlWriter::saveFileIsNotClosed()
{
    QTemporaryDir dir;
    QSaveFile file(dir.filePath("model.stl"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    {
        StlWriter writer(&file);
        QCOMPARE(writer.write(facets(3)), 3);
        QCOMPARE(writer.finish(), 3);
        QVERIFY(writer.isFinished());
        QVERIFY(file.isOpen());
    }
    QVERIFY(file.commit());
    QFile written(dir.filePath("model.stl"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(stltest::readStl(written.readAll()).count, 3u);
}

void TestStlWriter::matrix_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");

    QMatrix4x4 translation;
    translation.translate(10, -20, 30);
    QMatrix4x4 rotation;
    rotation.rotate(40, 1, 1, 0);
    rotation.translate(1, 2, 3);
    QMatrix4x4 stretch;
    stretch.scale(4, 1, 0.25f);
    QMatrix4x4 mirror;
    mirror.scale(-1, 1, 1);
    mirror.translate(5, 0, 0);
    QMatrix4x4 shear(1, 0.7f, 0, 0, 0, 1, 0, 0, 0.3f, 0, 1, 0, 0, 0, 0, 1);

    QTest::newRow("translation") << translation;
    QTest::newRow("rotation") << rotation;
    QTest::newRow("non-uniform scale") << stretch;
    QTest::newRow("mirror") << mirror;
    QTest::newRow("shear") << shear;
}

// Mapped facets stay consistent: the vertices are the mapped points (in some
// rotation of the three), the normal is a unit vector perpendicular to the
// mapped triangle and on the side its vertices wind around.
void TestStlWriter::matrix()
{
    QFETCH(QMatrix4x4, matrix);

    // A slanted triangle, so that every axis matters.
    const Facet original(Point3Df(1, 0, 0), Point3Df(0, 2, 0.5f), Point3Df(0.3f, 0.2f, 3));
    QBuffer buffer;
    StlWriter writer(&buffer);
    writer.setMatrix(matrix);
    QCOMPARE(writer.matrix(), matrix);
    QCOMPARE(writer.write(QVector<Facet>{original}), 1);
    writer.finish();
    const Facet mapped = stltest::readStl(buffer.data()).facets.value(0);

    auto map = [&matrix](const Point3Df &p) {
        const QVector3D q = matrix.map(QVector3D(p.x, p.y, p.z));
        return Point3Df(q.x(), q.y(), q.z());
    };
    auto near = [](const Point3Df &a, const Point3Df &b) {
        return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f && std::fabs(a.z - b.z) < 1e-4f;
    };
    const Point3Df v1 = map(original.vertex1), v2 = map(original.vertex2), v3 = map(original.vertex3);
    QVERIFY(near(mapped.vertex1, v1));
    QVERIFY((near(mapped.vertex2, v2) && near(mapped.vertex3, v3)) || (near(mapped.vertex2, v3) && near(mapped.vertex3, v2)));

    const Point3Df n = mapped.normal;
    QVERIFY(std::fabs(dot(n, n) - 1.0f) < 1e-5f);
    QVERIFY(std::fabs(dot(n, v2 - v1)) < 1e-4f);
    QVERIFY(std::fabs(dot(n, v3 - v1)) < 1e-4f);
    QVERIFY(dot(n, mapped.crossNormal()) > 0);

    if (matrix.column(0).toVector3D() == QVector3D(1, 0, 0) && matrix.column(1).toVector3D() == QVector3D(0, 1, 0)
        && matrix.column(2).toVector3D() == QVector3D(0, 0, 1)) {
        // A translation moves no normal.
        QVERIFY(near(n, original.normal));
    }
}

QTEST_GUILESS_MAIN(TestStlWriter)
#include "tst_stlwriter.moc"
