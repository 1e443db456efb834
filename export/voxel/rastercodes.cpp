#include "rastercodes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace geom {

namespace {

// Relative to the cell centre in half-cell units; fields beyond count are 0.
const int squareTable[16][9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0},     {1, 0, -1, -1, 0, 0, 0, 0, 0}, {1, 1, 0, 0, -1, 0, 0, 0, 0},
    {1, -1, 0, 1, 0, 0, 0, 0, 0},    {1, 0, 1, 1, 0, 0, 0, 0, 0},   {2, 0, -1, -1, 0, 0, 1, 1, 0},
    {1, 0, -1, 0, 1, 0, 0, 0, 0},    {1, -1, 0, 0, 1, 0, 0, 0, 0},  {1, -1, 0, 0, 1, 0, 0, 0, 0},
    {1, 0, -1, 0, 1, 0, 0, 0, 0},    {2, 1, 0, 0, -1, -1, 0, 0, 1}, {1, 0, 1, 1, 0, 0, 0, 0, 0},
    {1, -1, 0, 1, 0, 0, 0, 0, 0},    {1, 1, 0, 0, -1, 0, 0, 0, 0},  {1, 0, -1, -1, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0}};

// One byte (0 or 1) per pixel of the row: whether it is solid.
void classifyRow(const QImage &image, int y, int low, int high, uchar *solid)
{
    const int w = image.width();
    const uchar *line = image.constScanLine(y);
    switch (image.depth()) {
    case 16: {
        const qint16 *p = reinterpret_cast<const qint16 *>(line);
        for (int x = 0; x < w; ++x)
            solid[x] = uchar(p[x] >= low && p[x] <= high);
        break;
    }
    case 8:
        for (int x = 0; x < w; ++x)
            solid[x] = uchar(line[x] >= low && line[x] <= high);
        break;
    default:
        if (image.format() == QImage::Format_Mono) {
            for (int x = 0; x < w; ++x)
                solid[x] = (line[x >> 3] >> (7 - (x & 7))) & 1;
        } else {
            for (int x = 0; x < w; ++x)
                solid[x] = (line[x >> 3] >> (x & 7)) & 1;
        }
        break;
    }
}

int pixelValue(const QImage &image, int x, int y)
{
    const uchar *line = image.constScanLine(y);
    return image.depth() == 16 ? int(reinterpret_cast<const qint16 *>(line)[x]) : int(line[x]);
}

void resolveRowSaddles(const QImage &image, uchar *row, int y, int low, int high)
{
    const int w = image.width();
    for (int from = 0; from < w;) {
        const int found = findSaddleSquare(row + from, w - from);
        if (found < 0)
            break;
        const int x = from + found;
        const int sum = pixelValue(image, x - 1, y - 1) + pixelValue(image, x, y - 1) + pixelValue(image, x - 1, y)
                        + pixelValue(image, x, y);
        const int mean = image.depth() == 16 ? sum / 4 : sum >> 2;
        if (mean < low || mean > high)
            row[x] ^= 0x0F;
        from = x + 1;
    }
}

int findSaddleScalar(const uchar *row, int from, int to)
{
    for (int i = from; i < to; ++i) {
        if (row[i] == 5 || row[i] == 10)
            return i;
    }
    return -1;
}

} // namespace

QImage squareCodeImage(const QImage &image, int low, int high, bool resolveSaddles)
{
    if (image.isNull() || image.depth() > 16 || image.width() <= 0 || image.height() <= 0)
        return QImage();
    if (low > high)
        std::swap(low, high);
    const int w = image.width();
    const int h = image.height();
    QImage codes(w + 1, h + 1, QImage::Format_Indexed8);
    if (codes.isNull())
        return QImage();
    codes.setColorTable(QVector<QRgb>(256, 0));
    codes.fill(0);
    const bool saddles = resolveSaddles && (image.depth() == 8 || image.depth() == 16);
    QVector<uchar> solid(w + 1, 0);
    for (int y = 0; y < h; ++y) {
        classifyRow(image, y, low, high, solid.data() + 1); // solid[x + 1] is pixel x
        uchar *upper = codes.scanLine(y);
        uchar *lower = codes.scanLine(y + 1);
        const uchar *s = solid.constData();
        for (int x = 0; x < w; ++x) {
            upper[x] |= uchar(s[x + 1] << 2 | s[x] << 3);
            lower[x] |= uchar(s[x + 1] << 1 | s[x]);
        }
        upper[w] |= uchar(s[w] << 3);
        lower[w] |= s[w];
        if (saddles && y >= 1)
            resolveRowSaddles(image, upper, y, low, high);
    }
    return codes;
}

QImage cubeCodeImage(const QImage &lower, const QImage &upper)
{
    if (lower.isNull() || upper.isNull() || lower.size() != upper.size() || lower.depth() != 8
        || upper.depth() != 8)
        return QImage();
    QImage cubes(lower.size(), QImage::Format_Indexed8);
    if (cubes.isNull())
        return QImage();
    const int w = lower.width();
    const quint64 lowNibbles = Q_UINT64_C(0x0F0F0F0F0F0F0F0F);
    for (int y = 0; y < lower.height(); ++y) {
        const uchar *a = lower.constScanLine(y);
        const uchar *b = upper.constScanLine(y);
        uchar *out = cubes.scanLine(y);
        int x = 0;
        for (; x + 8 <= w; x += 8) {
            quint64 wa, wb;
            std::memcpy(&wa, a + x, 8);
            std::memcpy(&wb, b + x, 8);
            const quint64 word = (wa & lowNibbles) | (wb & lowNibbles) << 4;
            std::memcpy(out + x, &word, 8);
        }
        for (; x < w; ++x)
            out[x] = uchar((a[x] & 0x0F) | (b[x] << 4));
    }
    return cubes;
}

int findSaddleSquare(const uchar *row, int n)
{
    if (!row || n <= 0)
        return -1;
#ifdef __SSE2__
    int i = 0;
    // Singly up to a 16-byte boundary, then 16 aligned bytes at a time.
    const int head = std::min(n, int((16 - (reinterpret_cast<quintptr>(row) & 15)) & 15));
    const int found = findSaddleScalar(row, 0, head);
    if (found >= 0)
        return found;
    i = head;
    const __m128i five = _mm_set1_epi8(5);
    const __m128i ten = _mm_set1_epi8(10);
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(row + i));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, five), _mm_cmpeq_epi8(v, ten)));
        if (mask)
            return i + __builtin_ctz(unsigned(mask));
    }
    return findSaddleScalar(row, i, n);
#else
    return findSaddleScalar(row, 0, n);
#endif
}

QVector<Segment> marchingSquares(const QImage &codes)
{
    QVector<Segment> segments;
    if (codes.isNull() || codes.depth() != 8)
        return segments;
    for (int y = 0; y < codes.height(); ++y) {
        const uchar *line = codes.constScanLine(y);
        for (int x = 0; x < codes.width(); ++x) {
            const int *row = squareTable[line[x] & 0x0F];
            for (int s = 0; s < row[0]; ++s) {
                const int *e = row + 1 + 4 * s;
                segments.append(Segment{2 * x + e[0], 2 * y + e[1], 2 * x + e[2], 2 * y + e[3]});
            }
        }
    }
    return segments;
}

} // namespace geom
