#include "monorasteriser.h"

#include <QBrush>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace geom {

namespace {

// Bytes of 8-bit band a job may keep: a band fits a core's cache, and a few
// dozen bands make an image even at the largest sizes.
const qint64 bandBudget = qint64(1) << 20;
const int minimumBandRows = 16;

// The raster engine clips, in floating point, a polygon that reaches this far
// from the origin in device pixels or spans as much; such a polygon is painted
// on the whole image at once, where its result does not depend on a band.
const double rasterCoordinateLimit = 32767.0 - 2.0;

int bandRows(int width, int height)
{
    const qint64 bytesPerLine = (qint64(std::max(width, 1)) + 3) & ~qint64(3);
    return int(std::clamp<qint64>(bandBudget / bytesPerLine, std::min(minimumBandRows, height), height));
}

// Eight 8-bit pixels of 0 or 255 as the bits of one byte of a 1-bit image.
uchar gatherBits(const uchar *gray, bool lsbFirst)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    quint64 v;
    std::memcpy(&v, gray, sizeof v);
    // Pixel i's top bit to bit 8 i, then one multiplication moves each to its
    // place in the top byte; no two products overlap, so nothing carries.
    v = (v >> 7) & Q_UINT64_C(0x0101010101010101);
    return uchar((v * (lsbFirst ? Q_UINT64_C(0x0102040810204080) : Q_UINT64_C(0x8040201008040201))) >> 56);
#else
    uint b = 0;
    for (int i = 0; i < 8; ++i)
        b |= uint(gray[i] >> 7) << (lsbFirst ? i : 7 - i);
    return uchar(b);
#endif
}

#if defined(__SSE2__)
struct ReversedBits
{
    uchar table[256];
    ReversedBits()
    {
        for (int i = 0; i < 256; ++i) {
            uint r = 0;
            for (int b = 0; b < 8; ++b)
                r |= ((uint(i) >> b) & 1u) << (7 - b);
            table[i] = uchar(r);
        }
    }
};
#endif

} // namespace

MonoRasteriser::MonoRasteriser(int backgroundBit, int fillBit, Qt::FillRule rule, QImage *scratch)
    : backgroundBit(backgroundBit)
    , fillBit(fillBit)
    , rule(rule)
    , scratch(scratch)
{
}

void MonoRasteriser::addPolygon(const QPointF *p, int count, bool fill)
{
    if (count <= 0)
        return;
    Polygon polygon{points.size(), count, fill, p[0].x(), p[0].x(), p[0].y(), p[0].y()};
    for (int i = 0; i < count; ++i) {
        polygon.minX = std::min(polygon.minX, p[i].x());
        polygon.maxX = std::max(polygon.maxX, p[i].x());
        polygon.minY = std::min(polygon.minY, p[i].y());
        polygon.maxY = std::max(polygon.maxY, p[i].y());
    }
    points.insert(points.end(), p, p + count);
    polygons.push_back(polygon);
}

qint64 MonoRasteriser::bandBytes(int width)
{
    const qint64 bytesPerLine = (qint64(std::max(width, 1)) + 3) & ~qint64(3);
    return std::max(bandBudget, bytesPerLine * minimumBandRows);
}

// Background from pixel fromPixel (a multiple of 8) to toPixel (a multiple of
// 8, or the width); the bits beyond the width stay 0.
void MonoRasteriser::fillBackground(uchar *row, int fromPixel, int toPixel) const
{
    const uchar full = backgroundBit ? 0xff : 0x00;
    std::memset(row + fromPixel / 8, full, size_t(toPixel / 8 - fromPixel / 8));
    const int rest = toPixel % 8; // only at the width
    if (rest > 0 && fromPixel < toPixel)
        row[toPixel / 8] = !full ? 0 : lsbFirst ? uchar((1u << rest) - 1) : uchar(0xffu << (8 - rest));
}

// The 8-bit pixels gray[0 ..] as the bits of pixels fromPixel (a multiple of
// 8) to toPixel (a multiple of 8, or the width).
void MonoRasteriser::pack(const uchar *gray, uchar *row, int fromPixel, int toPixel) const
{
    uchar *dst = row + fromPixel / 8;
    int x = fromPixel;
#if defined(__SSE2__)
    // Sixteen top bits at once, first pixel in the lowest bit.
    static const ReversedBits reversed;
    for (; x + 16 <= toPixel; x += 16, gray += 16) {
        const uint bits = uint(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(gray))));
        *dst++ = lsbFirst ? uchar(bits) : reversed.table[bits & 0xff];
        *dst++ = lsbFirst ? uchar(bits >> 8) : reversed.table[bits >> 8];
    }
#endif
    for (; x + 8 <= toPixel; x += 8, gray += 8)
        *dst++ = gatherBits(gray, lsbFirst);
    if (x < toPixel) {
        uint b = 0;
        for (int i = 0; i < toPixel - x; ++i)
            b |= uint(gray[i] >> 7) << (lsbFirst ? i : 7 - i);
        *dst = uchar(b);
    }
}

bool MonoRasteriser::paint(QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    if (width <= 0 || height <= 0)
        return true;
    lsbFirst = image.format() == QImage::Format_MonoLSB;

    // Bands are exact as long as the raster engine does not clip a polygon
    // differently in the band than on the whole image; a polygon it would clip
    // makes the whole image one band.
    const double limit = rasterCoordinateLimit;
    bool banded = true;
    for (const Polygon &p : polygons) {
        banded = banded && p.minX > -limit && p.maxX < limit && p.minY > double(height) - limit && p.maxY < limit
            && p.maxX - p.minX < limit && p.maxY - p.minY < limit;
    }
    const int rowsPerBand = banded ? bandRows(width, height) : height;

    if (scratch->format() != QImage::Format_Grayscale8 || scratch->width() < width
        || scratch->height() < rowsPerBand) {
        *scratch = QImage();
        *scratch = QImage(width, rowsPerBand, QImage::Format_Grayscale8);
        if (scratch->isNull())
            return false;
    }
    const uchar backgroundGray = backgroundBit ? 255 : 0;
    const QBrush background(backgroundBit ? Qt::white : Qt::black);
    const QBrush fill(fillBit ? Qt::white : Qt::black);

    std::vector<int> active;
    for (int top = 0; top < height; top += rowsPerBand) {
        const int rows = std::min(rowsPerBand, height - top);
        active.clear();
        double left = std::numeric_limits<double>::infinity();
        double right = -left;
        for (int i = 0; i < int(polygons.size()); ++i) {
            const Polygon &p = polygons[size_t(i)];
            if (banded && (p.maxY < double(top) - 1.0 || p.minY > double(top + rows) + 1.0))
                continue;
            active.push_back(i);
            left = std::min(left, p.minX);
            right = std::max(right, p.maxX);
        }
        // The columns the polygons can reach, with a margin, on whole bytes.
        int x0 = 0;
        int x1 = active.empty() ? 0 : width;
        if (banded && !active.empty()) {
            const double l = std::floor(left) - 8.0;
            const double r = std::ceil(right) + 8.0;
            x0 = l <= 0.0 ? 0 : l >= double(width) ? width : int(l) & ~7;
            x1 = r >= double(width) ? width : r <= 0.0 ? 0 : std::min(width, (int(r) + 7) & ~7);
        }
        if (x1 <= x0) {
            for (int y = top; y < top + rows; ++y)
                fillBackground(image.scanLine(y), 0, width);
            continue;
        }

        QImage band(scratch->bits(), x1 - x0, rows, scratch->bytesPerLine(), QImage::Format_Grayscale8);
        for (int y = 0; y < rows; ++y)
            std::memset(band.scanLine(y), backgroundGray, size_t(x1 - x0));
        QPainter painter;
        if (!painter.begin(&band))
            return false;
        painter.setPen(Qt::NoPen);
        for (const int i : active) {
            const Polygon &p = polygons[size_t(i)];
            const QPointF *source = points.data() + p.begin;
            const QPointF *drawn = source;
            // Moved by whole pixels, which the raster engine's rounding to
            // 1/64 pixel does not see.
            if (x0 != 0 || top != 0) {
                moved.resize(size_t(p.count));
                for (int k = 0; k < p.count; ++k)
                    moved[size_t(k)] = QPointF(source[k].x() - x0, source[k].y() - top);
                drawn = moved.data();
            }
            painter.setBrush(p.fill ? fill : background);
            painter.drawPolygon(drawn, p.count, rule);
        }
        painter.end();

        for (int y = 0; y < rows; ++y) {
            uchar *row = image.scanLine(top + y);
            fillBackground(row, 0, x0);
            pack(band.constScanLine(y), row, x0, x1);
            fillBackground(row, x1, width);
        }
    }
    // A whole-image band is not kept for the next image.
    if (!banded)
        *scratch = QImage();
    return true;
}

} // namespace geom
