#include "geomtestutil.h"
#include "utiltx.h"

#include <QMatrix4x4>
#include <QTransform>
#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using geom::Bounds2Df;
using geom::Bounds3Df;
using geom::Point2Df;
using geom::Point3Df;

namespace {

// Collects the messages of the Qt message channels while it lives.
class MessageLog
{
public:
    MessageLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(handler);
    }
    ~MessageLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList messages;
    QList<QtMsgType> types;

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        s_current->messages.append(text);
        s_current->types.append(type);
    }
    static MessageLog *s_current;
    QtMessageHandler m_previous;
};

MessageLog *MessageLog::s_current = nullptr;

// Points spread over a few magnitudes, the same on every run.
template <typename P>
std::vector<P> samplePoints(int count);

template <>
std::vector<Point2Df> samplePoints<Point2Df>(int count)
{
    std::vector<Point2Df> points(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        points[size_t(i)] = Point2Df(float(i) * 1.25f - 3.0f, 7.5f - float(i * i) * 0.375f);
    return points;
}

template <>
std::vector<Point3Df> samplePoints<Point3Df>(int count)
{
    std::vector<Point3Df> points(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        points[size_t(i)] = Point3Df(float(i) * 1.25f - 3.0f, 7.5f - float(i * i) * 0.375f, float(i % 3) * 2.5f + 0.5f);
    return points;
}

// The reference formulas in float, written out from the matrix entries.
Point2Df affineReference(const QTransform &t, const Point2Df &p)
{
    const float m11 = float(t.m11()), m12 = float(t.m12()), m21 = float(t.m21()), m22 = float(t.m22());
    const float dx = float(t.dx()), dy = float(t.dy());
    return Point2Df(m11 * p.x + m21 * p.y + dx, m12 * p.x + m22 * p.y + dy);
}

Point3Df affineReference(const QMatrix4x4 &m, const Point3Df &p)
{
    auto row = [&m, &p](int r) { return m(r, 0) * p.x + m(r, 1) * p.y + m(r, 2) * p.z + m(r, 3); };
    return Point3Df(row(0), row(1), row(2));
}

bool close(float a, float b)
{
    return std::fabs(a - b) <= 1e-4f * std::fmax(1.0f, std::fabs(b));
}

bool close(const Point2Df &a, const QPointF &b)
{
    return close(a.x, float(b.x())) && close(a.y, float(b.y()));
}

bool close(const Point3Df &a, const QVector3D &b)
{
    return close(a.x, b.x()) && close(a.y, b.y()) && close(a.z, b.z());
}

QTransform raw2D(float m11, float m12, float m13, float m21, float m22, float m23, float dx, float dy, float m33)
{
    return QTransform(m11, m12, m13, m21, m22, m23, dx, dy, m33);
}

QTransform perspective()
{
    return QTransform(1, 0, 0.001, 0, 1, 0, 2, 3, 1);
}

} // namespace

Q_DECLARE_METATYPE(QTransform)
Q_DECLARE_METATYPE(QMatrix4x4)

class TestUtilTX : public QObject
{
    Q_OBJECT

private slots:
    void classify2D_data();
    void classify2D();
    void classify3D_data();
    void classify3D();
    void identityShortcuts();
    void map2D_data();
    void map2D();
    void map2DProjective();
    void mapBounds2D_data();
    void mapBounds2D();
    void mapBounds2DProjective();
    void map3D_data();
    void map3D();
    void map3DByType_data();
    void map3DByType();
    void map3DBox();
    void emptyInput();
};

void TestUtilTX::classify2D_data()
{
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<int>("type");

    QTransform rot90;
    rot90.rotate(90);
    QTransform rot30;
    rot30.rotate(30);
    QTransform scaled;
    scaled.translate(1, 1).scale(2, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();

    QTest::newRow("identity") << QTransform() << 0;
    QTest::newRow("translation") << QTransform::fromTranslate(10, 0) << 1;
    QTest::newRow("translation in y") << QTransform::fromTranslate(0, -4) << 1;
    QTest::newRow("scale and translation") << scaled << 3;
    QTest::newRow("scale in y only") << QTransform::fromScale(1, 3) << 2;
    QTest::newRow("rotation by 90") << rot90 << 6;
    QTest::newRow("rotation by 30") << rot30 << 6;
    QTest::newRow("shear in x") << raw2D(1, 0, 0, 0.5f, 1, 0, 0, 0, 1) << 4;
    QTest::newRow("shear in y") << raw2D(1, 0.5f, 0, 0, 1, 0, 0, 0, 1) << 4;
    QTest::newRow("m11 = 0.999995 counts as 1") << raw2D(0.999995f, 0, 0, 0, 1, 0, 0, 0, 1) << 0;
    QTest::newRow("m11 = 1.00002 does not") << raw2D(1.00002f, 0, 0, 0, 1, 0, 0, 0, 1) << 2;
    QTest::newRow("m11 = 0.000001 is not 1") << raw2D(0.000001f, 0, 0, 0, 1, 0, 0, 0, 1) << 2;
    QTest::newRow("dx = 0.000001 counts as 0") << raw2D(1, 0, 0, 0, 1, 0, 0.000001f, 0, 1) << 0;
    QTest::newRow("perspective m13") << perspective() << 9;
    QTest::newRow("perspective m23") << raw2D(1, 0, 0, 0, 1, 0.01f, 0, 0, 1) << 8;
    QTest::newRow("corner m33") << raw2D(1, 0, 0, 0, 1, 0, 0, 0, 2) << 8;
    QTest::newRow("NaN entry") << raw2D(nan, 0, 0, 0, 1, 0, 0, 0, 1) << 2;
}

void TestUtilTX::classify2D()
{
    QFETCH(QTransform, transform);
    QFETCH(int, type);

    const geom::Transform2Df tx(transform);
    QCOMPARE(tx.classify(), type);
    QCOMPARE(geom::Transform2Df::classify(tx.m), type);
    QCOMPARE(utilTX::type2D(transform), type);
}

void TestUtilTX::classify3D_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<int>("type");

    QMatrix4x4 translated;
    translated.translate(1, 2, 3);
    QMatrix4x4 scaled;
    scaled.scale(1, 1, 2);
    QMatrix4x4 rotated;
    rotated.rotate(90, 0, 0, 1);
    QMatrix4x4 tilted;
    tilted.rotate(30, 1, 0, 0);
    tilted.translate(0, 5, 0);
    QMatrix4x4 projected;
    projected.perspective(60, 1, 1, 100);
    QMatrix4x4 nearlyOne(1.000005f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    QMatrix4x4 tinyShift(1, 0, 0, 0.000001f, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    QMatrix4x4 corner(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2);
    QMatrix4x4 shear(1, 0, 0.5f, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);

    QTest::newRow("translation") << translated << 1;
    QTest::newRow("scale") << scaled << 2;
    QTest::newRow("rotation about z by 90") << rotated << 6;
    QTest::newRow("tilt and shift") << tilted << 7;
    QTest::newRow("shear") << shear << 4;
    QTest::newRow("perspective") << projected << 11;
    QTest::newRow("corner entry") << corner << 8;
    QTest::newRow("within tolerance of 1") << nearlyOne << 0;
    QTest::newRow("within tolerance of 0") << tinyShift << 0;
}

void TestUtilTX::classify3D()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(int, type);

    const geom::Transform3Df tx(matrix);
    QCOMPARE(tx.classify(), type);
    double wide[16];
    for (int i = 0; i < 16; ++i)
        wide[i] = double(matrix.constData()[i]);
    QCOMPARE(geom::Transform3Dd::classify(wide), type);
    QCOMPARE(utilTX::type3D(matrix), type);
}

void TestUtilTX::identityShortcuts()
{
    QCOMPARE(utilTX::type2D(QTransform()), 0);
    QCOMPARE(utilTX::type3D(QMatrix4x4()), 0);
    // Entries that equal the identity exactly also give 0, whatever the
    // matrix's flags say.
    const QMatrix4x4 entries(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    QCOMPARE(utilTX::type3D(entries), 0);

    const Point3Df p(1, 2, 3);
    QCOMPARE(utilTX::mapPoint3Df(p, QMatrix4x4()), p);
    QCOMPARE(utilTX::mapPoint2Df(Point2Df(1, 2), QTransform::fromTranslate(10, 0)), Point2Df(11, 2));
    QTransform scaled;
    scaled.translate(1, 1).scale(2, 2);
    QCOMPARE(utilTX::mapPoint2Df(Point2Df(1, 2), scaled), Point2Df(3, 5));
    // A type given by the caller is taken as it is: 1 only translates.
    QCOMPARE(utilTX::mapPoint2Df(Point2Df(1, 2), scaled, 1), Point2Df(2, 3));
}

void TestUtilTX::map2D_data()
{
    QTest::addColumn<QTransform>("transform");

    QTransform general;
    general.translate(3, -2).rotate(33).scale(1.5, 0.75);
    QTransform rot90;
    rot90.rotate(90);
    QTest::newRow("identity") << QTransform();
    QTest::newRow("translation") << QTransform::fromTranslate(10, 0);
    QTest::newRow("scale") << QTransform::fromScale(2, -3);
    QTest::newRow("rotation") << rot90;
    QTest::newRow("general affine") << general;
}

// Every count from 0 to 11 exercises the groups of four and the remainder,
// separately and in place; the vector path gives exactly the float formula.
void TestUtilTX::map2D()
{
    QFETCH(QTransform, transform);

    for (int count = 0; count <= 11; ++count) {
        const std::vector<Point2Df> src = samplePoints<Point2Df>(count);
        std::vector<Point2Df> dst(size_t(count) + 1, Point2Df(-99, -99));
        std::vector<Point2Df> byType(static_cast<size_t>(count));
        std::vector<Point2Df> inPlace = src;

        QCOMPARE(utilTX::map2Df(dst.data(), transform, src.data(), count), dst.data());
        utilTX::map2DfArray(byType.data(), transform, src.data(), count);
        utilTX::map2Df(inPlace.data(), transform, inPlace.data(), count);
        for (int i = 0; i < count; ++i) {
            const Point2Df expected = affineReference(transform, src[size_t(i)]);
            QCOMPARE(dst[size_t(i)], expected);
            QCOMPARE(inPlace[size_t(i)], expected);
            QVERIFY(close(byType[size_t(i)], transform.map(src[size_t(i)].toPointF())));
            QVERIFY(close(utilTX::mapPoint2Df(src[size_t(i)], transform), transform.map(src[size_t(i)].toPointF())));
        }
        QCOMPARE(dst[size_t(count)], Point2Df(-99, -99));
    }
}

void TestUtilTX::map2DProjective()
{
    const QTransform t = perspective();
    const std::vector<Point2Df> src = samplePoints<Point2Df>(6);
    std::vector<Point2Df> dst(6);
    {
        MessageLog log;
        utilTX::map2Df(dst.data(), t, src.data(), 6);
        QCOMPARE(log.messages, QStringList() << "utilTX:map2Df SSE Shear transform not implemented");
        QCOMPARE(log.types.first(), QtWarningMsg);
    }
    for (size_t i = 0; i < src.size(); ++i)
        QVERIFY(close(dst[i], t.map(src[i].toPointF())));
}

void TestUtilTX::mapBounds2D_data()
{
    QTest::addColumn<int>("count");
    for (int count : {1, 3, 4, 5, 8, 9, 13})
        QTest::addRow("%d points", count) << count;
}

void TestUtilTX::mapBounds2D()
{
    QFETCH(int, count);

    QTransform t;
    t.translate(-1, 4).rotate(-50).scale(2, 0.5);
    const std::vector<Point2Df> src = samplePoints<Point2Df>(count);
    Bounds2Df expected;
    for (const Point2Df &p : src)
        expected.extend(affineReference(t, p));
    const Bounds2Df box = utilTX::mapBounds2Df(t, src.data(), count);
    QCOMPARE(box.minX, expected.minX);
    QCOMPARE(box.minY, expected.minY);
    QCOMPARE(box.maxX, expected.maxX);
    QCOMPARE(box.maxY, expected.maxY);

    // A NaN point does not enter the box, in the vector part or the rest.
    std::vector<Point2Df> withNaN = src;
    withNaN.push_back(Point2Df(std::numeric_limits<float>::quiet_NaN(), 0));
    withNaN.insert(withNaN.begin(), Point2Df(0, std::numeric_limits<float>::quiet_NaN()));
    const Bounds2Df nanBox = utilTX::mapBounds2Df(QTransform(), withNaN.data(), int(withNaN.size()));
    Bounds2Df plain;
    plain.extend(src.data(), count);
    QVERIFY(std::isfinite(nanBox.minX) && std::isfinite(nanBox.maxY));
    QVERIFY(nanBox.minX <= plain.minX && nanBox.maxX >= plain.maxX);
}

// The bounds of a projective transform are those of the projected points,
// reported as not taking the fast path.
void TestUtilTX::mapBounds2DProjective()
{
    const QTransform t = perspective();
    const std::vector<Point2Df> src = samplePoints<Point2Df>(7);
    Bounds2Df box;
    {
        MessageLog log;
        box = utilTX::mapBounds2Df(t, src.data(), 7);
        QCOMPARE(log.messages, QStringList() << "utilTX:mapBounds2Df SSE Shear transform not implemented");
        QCOMPARE(log.types.first(), QtCriticalMsg);
    }
    QVERIFY(box.isValid());
    double minX = 1e30, minY = 1e30, maxX = -1e30, maxY = -1e30;
    for (const Point2Df &p : src) {
        const QPointF q = t.map(p.toPointF());
        minX = std::fmin(minX, q.x());
        minY = std::fmin(minY, q.y());
        maxX = std::fmax(maxX, q.x());
        maxY = std::fmax(maxY, q.y());
    }
    QVERIFY(close(box.minX, float(minX)));
    QVERIFY(close(box.maxX, float(maxX)));
    QVERIFY(close(box.minY, float(minY)));
    QVERIFY(close(box.maxY, float(maxY)));
}

void TestUtilTX::map3D_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");
    QTest::addColumn<bool>("projective");

    QMatrix4x4 general;
    general.translate(3, -2, 7);
    general.rotate(33, 1, 2, 3);
    general.scale(1.5f, 0.75f, 2);
    QMatrix4x4 projected;
    projected.perspective(60, 1.5f, 1, 100);
    projected.translate(0, 0, -20);
    QTest::newRow("identity") << QMatrix4x4() << false;
    QTest::newRow("general affine") << general << false;
    QTest::newRow("perspective") << projected << true;
}

// Counts around the split between the vector part and the one-by-one tail;
// the source sits in an allocation of exactly its size (AddressSanitizer
// catches a read past its last point) and the destination has a guard point.
void TestUtilTX::map3D()
{
    QFETCH(QMatrix4x4, matrix);
    QFETCH(bool, projective);

    for (int count : {1, 2, 4, 5, 6, 8, 9, 10, 17}) {
        const std::vector<Point3Df> src = samplePoints<Point3Df>(count);
        std::vector<Point3Df> dst(size_t(count) + 1, Point3Df(-99, -99, -99));
        std::vector<Point3Df> inPlace = src;
        utilTX::map3Df(dst.data(), matrix, src.data(), count);
        utilTX::map3Df(inPlace.data(), matrix, inPlace.data(), count);
        for (int i = 0; i < count; ++i) {
            const Point3Df &p = src[size_t(i)];
            // Each point equals the one-point mapping of the tail, wherever
            // it lies in the array.
            Point3Df alone;
            utilTX::map3Df(&alone, matrix, &p, 1);
            QCOMPARE(dst[size_t(i)], alone);
            QCOMPARE(inPlace[size_t(i)], alone);
            if (!projective)
                QCOMPARE(alone, affineReference(matrix, p));
            QVERIFY2(close(alone, matrix.map(QVector3D(p.x, p.y, p.z))), QTest::toString(alone));
        }
        QCOMPARE(dst[size_t(count)], Point3Df(-99, -99, -99));

        const Bounds3Df box = utilTX::mapBounds3Df(matrix, src.data(), count);
        Bounds3Df expected;
        expected.extend(dst.data(), count);
        QCOMPARE(box, expected);
        QCOMPARE(box.minX, expected.minX);
        QCOMPARE(box.maxZ, expected.maxZ);
    }
}

void TestUtilTX::map3DByType_data()
{
    QTest::addColumn<QMatrix4x4>("matrix");

    QMatrix4x4 translated;
    translated.translate(1, -2, 3);
    QMatrix4x4 scaled;
    scaled.translate(1, 0, 0);
    scaled.scale(2, 3, 4);
    QMatrix4x4 rotated;
    rotated.rotate(45, 0, 1, 0);
    QMatrix4x4 projected;
    projected.perspective(45, 1, 0.5f, 50);
    projected.translate(0, 0, -30);
    QTest::newRow("identity") << QMatrix4x4();
    QTest::newRow("translation") << translated;
    QTest::newRow("scale") << scaled;
    QTest::newRow("rotation") << rotated;
    QTest::newRow("perspective") << projected;
}

void TestUtilTX::map3DByType()
{
    QFETCH(QMatrix4x4, matrix);

    const std::vector<Point3Df> src = samplePoints<Point3Df>(7);
    std::vector<Point3Df> dst(7);
    Bounds3Df box;
    QCOMPARE(utilTX::map3DfArray(dst.data(), matrix, src.data(), 7, &box), dst.data());
    Bounds3Df expected;
    for (size_t i = 0; i < src.size(); ++i) {
        const QVector3D q = matrix.map(QVector3D(src[i].x, src[i].y, src[i].z));
        QVERIFY2(close(dst[i], q), QTest::toString(dst[i]));
        QVERIFY(close(utilTX::mapPoint3Df(src[i], matrix), q));
        expected.extend(dst[i]);
    }
    QCOMPARE(box, expected);
}

// A box handed to the mapping is extended, not reset.
void TestUtilTX::map3DBox()
{
    QMatrix4x4 m;
    m.translate(100, 0, 0);
    for (int count : {3, 9}) {
        const std::vector<Point3Df> src = samplePoints<Point3Df>(count);
        std::vector<Point3Df> dst(static_cast<size_t>(count));
        Bounds3Df box(Point3Df(-500, -500, -500), Point3Df(-400, -400, -400));
        utilTX::map3Df(dst.data(), m, src.data(), count, &box);
        Bounds3Df mapped;
        mapped.extend(dst.data(), count);
        QCOMPARE(box.minX, -500.0f);
        QCOMPARE(box.minZ, -500.0f);
        QCOMPARE(box.maxX, mapped.maxX);
        QCOMPARE(box.maxY, mapped.maxY);
        QCOMPARE(box.maxZ, mapped.maxZ);

        box.reset();
        utilTX::map3Df(dst.data(), m, src.data(), count, &box);
        QCOMPARE(box, mapped);
    }
}

void TestUtilTX::emptyInput()
{
    QTransform t;
    t.rotate(10);
    QMatrix4x4 m;
    m.rotate(10, 0, 0, 1);
    Point2Df p2(5, 6);
    Point3Df p3(5, 6, 7);
    MessageLog log;

    QCOMPARE(utilTX::map2Df(&p2, t, &p2, 0), &p2);
    QCOMPARE(utilTX::map2DfArray(&p2, t, nullptr, 3), &p2);
    QCOMPARE(utilTX::map2Df(nullptr, t, &p2, 1), nullptr);
    QCOMPARE(p2, Point2Df(5, 6));
    QVERIFY(utilTX::mapBounds2Df(perspective(), &p2, 0).isNull());
    QVERIFY(utilTX::mapBounds2Df(t, nullptr, 4).isNull());

    Bounds3Df box;
    QCOMPARE(utilTX::map3Df(&p3, m, &p3, 0, &box), &p3);
    QCOMPARE(utilTX::map3DfArray(&p3, m, nullptr, 1, &box), &p3);
    QCOMPARE(p3, Point3Df(5, 6, 7));
    QVERIFY(box.isNull());
    QVERIFY(utilTX::mapBounds3Df(m, &p3, 0).isNull());
    QVERIFY(log.messages.isEmpty());
}

QTEST_APPLESS_MAIN(TestUtilTX)
#include "tst_utiltx.moc"
