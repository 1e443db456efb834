#ifndef MONORASTERISER_H
#define MONORASTERISER_H

#include <QImage>
#include <QPointF>
#include <Qt>

#include <vector>

namespace geom {

// Fills polygons into a 1-bit image (QImage::Format_Mono or Format_MonoLSB)
// pixel for pixel as QPainter fills them, without antialiasing or pen, on an
// image of the full size; but without such an image: the polygons are painted
// into an 8-bit band of a few rows at a time, cropped to the columns they
// cover, and packed into the bits. Rows and columns that no polygon reaches
// get the background without painting.
//
// The band lives in a scratch image that the caller may keep for the next
// image (see bandBytes()).
class MonoRasteriser
{
public:
    // backgroundBit and fillBit are colour-table indices of the 1-bit image.
    MonoRasteriser(int backgroundBit, int fillBit, Qt::FillRule rule, QImage *scratch);

    // Adds a polygon in pixel coordinates (all finite), painted after those
    // added before: in the fill colour, or in the background when fill is false.
    void addPolygon(const QPointF *points, int count, bool fill);

    // Writes every pixel of image; false when the band cannot be made.
    bool paint(QImage &image);

    // The most bytes of band an image of the given width takes.
    static qint64 bandBytes(int width);

private:
    struct Polygon
    {
        size_t begin;
        int count;
        bool fill;
        double minX;
        double maxX;
        double minY;
        double maxY;
    };

    void fillBackground(uchar *row, int fromPixel, int toPixel) const;
    void pack(const uchar *gray, uchar *row, int fromPixel, int toPixel) const;

    int backgroundBit;
    int fillBit;
    Qt::FillRule rule;
    QImage *scratch;
    bool lsbFirst = false;
    std::vector<QPointF> points;
    std::vector<Polygon> polygons;
    std::vector<QPointF> moved; // one polygon moved into the band
};

} // namespace geom

#endif // MONORASTERISER_H
