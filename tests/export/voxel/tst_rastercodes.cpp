#include "voxel/rastercodes.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstring>
#include <functional>

using geom::Segment;

namespace {

QImage gray(int w, int h, const QVector<int> &values)
{
    QImage image(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.scanLine(y)[x] = uchar(values.at(y * w + x));
    return image;
}

QVector<int> codesOf(const QImage &codes)
{
    QVector<int> result;
    for (int y = 0; y < codes.height(); ++y)
        for (int x = 0; x < codes.width(); ++x)
            result.append(codes.constScanLine(y)[x]);
    return result;
}

// The codes straight from the definition, for any solid predicate.
QVector<int> expectedCodes(int w, int h, const std::function<bool(int, int)> &solid)
{
    auto at = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < h && solid(x, y); };
    QVector<int> result;
    for (int y = 0; y <= h; ++y)
        for (int x = 0; x <= w; ++x)
            result.append(int(at(x - 1, y - 1)) | int(at(x, y - 1)) << 1 | int(at(x, y)) << 2 | int(at(x - 1, y)) << 3);
    return result;
}

} // namespace

class TestRasterCodes : public QObject
{
    Q_OBJECT

private slots:
    void onePixel();
    void allSolid();
    void refused();
    void swappedRange();
    void sixteenBit();
    void saddles();
    void oneBitMatchesEightBit_data();
    void oneBitMatchesEightBit();
    void cubeCodes();
    void findSaddle();
    void squares();
};

void TestRasterCodes::onePixel()
{
    const QImage codes = geom::squareCodeImage(gray(1, 1, {0}), 0, 0, true);
    QCOMPARE(codes.size(), QSize(2, 2));
    QCOMPARE(codes.format(), QImage::Format_Indexed8);
    QCOMPARE(codes.colorCount(), 256);
    QCOMPARE(codesOf(codes), (QVector<int>{4, 8, 2, 1}));
}

void TestRasterCodes::allSolid()
{
    const QImage codes = geom::squareCodeImage(gray(4, 3, QVector<int>(12, 0)), 0, 0, false);
    QCOMPARE(codesOf(codes), (QVector<int>{4, 12, 12, 12, 8, 6, 15, 15, 15, 9, 6, 15, 15, 15, 9, 2, 3, 3, 3, 1}));
}

void TestRasterCodes::refused()
{
    QVERIFY(geom::squareCodeImage(QImage(), 0, 0, false).isNull());
    QVERIFY(geom::squareCodeImage(QImage(4, 4, QImage::Format_ARGB32), 0, 0, false).isNull());
    QVERIFY(geom::squareCodeImage(QImage(0, 4, QImage::Format_Grayscale8), 0, 0, false).isNull());
}

void TestRasterCodes::swappedRange()
{
    const QImage image = gray(3, 1, {2, 3, 11});
    QCOMPARE(codesOf(geom::squareCodeImage(image, 10, 3, false)), codesOf(geom::squareCodeImage(image, 3, 10, false)));
    QCOMPARE(codesOf(geom::squareCodeImage(image, 10, 3, false)),
             expectedCodes(3, 1, [](int x, int) { return x == 1; }));
}

void TestRasterCodes::sixteenBit()
{
    QImage image(3, 2, QImage::Format_Grayscale16);
    const qint16 values[6] = {-5, 0, 7, 32767, -32768, 3};
    for (int i = 0; i < 6; ++i)
        reinterpret_cast<qint16 *>(image.scanLine(i / 3))[i % 3] = values[i];
    QCOMPARE(codesOf(geom::squareCodeImage(image, -32768, -1, false)),
             expectedCodes(3, 2, [&](int x, int y) { return values[y * 3 + x] < 0; }));
}

void TestRasterCodes::saddles()
{
    // Top-left and bottom-right solid: cell (1, 1) is a 5.
    const QImage outside = gray(2, 2, {0, 200, 200, 0}); // mean 100, outside [0, 0]
    QCOMPARE(geom::squareCodeImage(outside, 0, 0, true).pixelIndex(1, 1), 10);
    QCOMPARE(geom::squareCodeImage(outside, 0, 0, false).pixelIndex(1, 1), 5);
    const QImage inside = gray(2, 2, {0, 8, 8, 0}); // mean 4 inside [0, 5]
    QCOMPARE(geom::squareCodeImage(inside, 0, 5, true).pixelIndex(1, 1), 5);
    const QImage insideSaddle = gray(2, 2, {0, 9, 9, 0}); // mean 4 inside [0, 4], 9 empty
    QCOMPARE(geom::squareCodeImage(insideSaddle, 0, 4, true).pixelIndex(1, 1), 5);
    QImage mono(2, 2, QImage::Format_Mono);
    mono.fill(0);
    mono.setPixel(0, 0, 1);
    mono.setPixel(1, 1, 1);
    QCOMPARE(geom::squareCodeImage(mono, 0, 0, true).pixelIndex(1, 1), 5);
}

void TestRasterCodes::oneBitMatchesEightBit_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("lsb");
    for (int w : {1, 8, 9, 31, 32, 33}) {
        QTest::addRow("msb %d", w) << w << false;
        QTest::addRow("lsb %d", w) << w << true;
    }
}

void TestRasterCodes::oneBitMatchesEightBit()
{
    QFETCH(int, width);
    QFETCH(bool, lsb);
    QRandomGenerator random(quint32(width * 2 + lsb));
    const int h = 5;
    QImage mono(width, h, lsb ? QImage::Format_MonoLSB : QImage::Format_Mono);
    // Garbage in the padding bits must not reach the codes.
    for (int y = 0; y < h; ++y)
        std::memset(mono.scanLine(y), 0xFF, size_t(mono.bytesPerLine()));
    QImage eight(width, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool on = random.bounded(2);
            mono.setPixel(x, y, on ? 1 : 0);
            eight.scanLine(y)[x] = on ? 1 : 0;
        }
    }
    QCOMPARE(codesOf(geom::squareCodeImage(mono, 0, 0, false)), codesOf(geom::squareCodeImage(eight, 1, 1, false)));
    QCOMPARE(codesOf(geom::squareCodeImage(eight, 1, 1, false)),
             expectedCodes(width, h, [&](int x, int y) { return eight.constScanLine(y)[x] == 1; }));
}

void TestRasterCodes::cubeCodes()
{
    const QImage lower = geom::squareCodeImage(gray(9, 2, QVector<int>(18, 0)), 0, 0, false);
    QImage upperSource = gray(9, 2, QVector<int>(18, 1));
    upperSource.scanLine(1)[8] = 0;
    const QImage upper = geom::squareCodeImage(upperSource, 0, 0, false);
    const QImage cubes = geom::cubeCodeImage(lower, upper);
    QCOMPARE(cubes.size(), lower.size());
    for (int y = 0; y < cubes.height(); ++y)
        for (int x = 0; x < cubes.width(); ++x)
            QCOMPARE(int(cubes.constScanLine(y)[x]),
                     (lower.constScanLine(y)[x] & 0x0F) | (upper.constScanLine(y)[x] << 4 & 0xFF));
    QVERIFY(geom::cubeCodeImage(QImage(), upper).isNull());
    QVERIFY(geom::cubeCodeImage(lower, QImage()).isNull());
    QVERIFY(geom::cubeCodeImage(lower, lower.copy(0, 0, 5, 3)).isNull());
}

void TestRasterCodes::findSaddle()
{
    QCOMPARE(geom::findSaddleSquare(nullptr, 4), -1);
    alignas(16) uchar row[80];
    QCOMPARE(geom::findSaddleSquare(row, 0), -1);
    // Every start alignment, every position of the saddle, and none at all.
    for (int start = 0; start < 16; ++start) {
        for (int n = 1; n <= 48; n += 7) {
            std::memset(row, 15, sizeof row);
            QCOMPARE(geom::findSaddleSquare(row + start, n), -1);
            for (int at = 0; at < n; ++at) {
                std::memset(row, 15, sizeof row);
                row[start + at] = at % 2 ? 5 : 10;
                row[start + n] = 5; // beyond the range
                QCOMPARE(geom::findSaddleSquare(row + start, n), at);
            }
        }
    }
}

void TestRasterCodes::squares()
{
    QImage codes(4, 4, QImage::Format_Indexed8);
    codes.setColorTable(QVector<QRgb>(256, 0));
    codes.fill(0);
    codes.scanLine(2)[3] = 5;
    const QVector<Segment> segments = geom::marchingSquares(codes);
    QCOMPARE(segments.size(), 2);
    QCOMPARE(QVector<int>({segments[0].x1, segments[0].y1, segments[0].x2, segments[0].y2}), QVector<int>({6, 3, 5, 4}));
    QCOMPARE(QVector<int>({segments[1].x1, segments[1].y1, segments[1].x2, segments[1].y2}), QVector<int>({6, 5, 7, 4}));
    // Each one-segment code: a code and its complement give the same segment.
    for (int code = 1; code < 15; ++code) {
        if (code == 5 || code == 10)
            continue;
        codes.fill(0);
        codes.scanLine(0)[0] = uchar(code);
        const QVector<Segment> one = geom::marchingSquares(codes);
        codes.scanLine(0)[0] = uchar(15 - code);
        const QVector<Segment> other = geom::marchingSquares(codes);
        QCOMPARE(one.size(), 1);
        QCOMPARE(QVector<int>({one[0].x1, one[0].y1, one[0].x2, one[0].y2}),
                 QVector<int>({other[0].x1, other[0].y1, other[0].x2, other[0].y2}));
    }
}

QTEST_APPLESS_MAIN(TestRasterCodes)
#include "tst_rastercodes.moc"
