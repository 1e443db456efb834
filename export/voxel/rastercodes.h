#ifndef GEOM_RASTERCODES_H
#define GEOM_RASTERCODES_H

#include <QImage>
#include <QVector>
#include <QtGlobal>

namespace geom {

// Marching squares and marching cubes work on the dual grid of a layer image:
// cell (X, Y), 0 <= X <= width and 0 <= Y <= height, has its corners at the
// centres of the pixels (X - 1, Y - 1), (X, Y - 1), (X, Y) and (X - 1, Y);
// pixels outside the image are empty, so the outer ring of cells closes every
// shape. A cell's square code has bit 0 for its top-left corner solid, bit 1
// top-right, bit 2 bottom-right, bit 3 bottom-left; 5 and 10 are the saddles.

// A line segment in half-cell units (cell centre (2X, 2Y)).
struct Segment
{
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

// The square codes of an image as an 8-bit indexed image one cell larger each
// way, with a colour table of 256 zero entries. A pixel is solid when its
// value lies in [low, high] (the two are swapped when reversed): 16-bit pixels
// read as signed, 8-bit as unsigned; 1-bit pixels are solid when their bit is
// set, and ignore the range. With resolveSaddles (8 and 16 bits only), a
// saddle cell whose four-pixel mean lies outside the range is turned into the
// other saddle. Null for a null image, one of width or height 0, or one deeper
// than 16 bits.
QImage squareCodeImage(const QImage &image, int low, int high, bool resolveSaddles);

// Cube codes of the cubes between two layers: the lower layer's square code in
// the low nibble, the upper layer's in the high nibble. Null when either image
// is null or they differ in size or are not 8-bit.
QImage cubeCodeImage(const QImage &lower, const QImage &upper);

// The index of the first of n bytes that is 5 or 10; -1 when none or n <= 0.
int findSaddleSquare(const uchar *row, int n);

// The segments of a square-code image, row by row from the top, each cell's
// first segment first.
QVector<Segment> marchingSquares(const QImage &codes);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Segment, Q_PRIMITIVE_TYPE);

#endif // GEOM_RASTERCODES_H
