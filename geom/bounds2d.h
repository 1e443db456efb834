#ifndef GEOM_BOUNDS2D_H
#define GEOM_BOUNDS2D_H

#include "boxside.h"
#include "point2d.h"

#include <QDebug>
#include <QList>
#include <QRectF>
#include <QVector>

namespace geom {

// Axis-aligned rectangle in single precision.
//
// The empty box (default constructor, reset()) has min = +FLT_MAX and
// max = -FLT_MAX. A box is
//  - null when some extent (max - min, in float) is NaN or beyond FLT_MAX in
//    magnitude: the empty box, any box with an infinite or NaN coordinate;
//  - valid when every extent is finite and strictly positive;
//  - empty when it is not valid (a single point's box is neither null nor valid).
// Nothing keeps min <= max; normalize() restores the order.
class Bounds2Df
{
public:
    float minX;
    float minY;
    float maxX;
    float maxY;

    Bounds2Df();
    // The corners are taken as they are, not ordered.
    Bounds2Df(const Point2Df &min, const Point2Df &max);

    void reset();

    void extend(const Point2Df &p);
    // A null pointer or a count of 0 or less changes nothing.
    void extend(const Point2Df *points, int count);
    void extend(const QVector<Point2Df> &points);

    Bounds2Df &moveCenter(const Point2Df &p);
    void moveTo(const Point2Df &p);
    void moveMin(const Point2Df &p);
    void moveMax(const Point2Df &p);
    void setSize(const Point2Df &s);
    // min -= a, max += b: positive values grow the box.
    Bounds2Df &adjust(const Point2Df &a, const Point2Df &b);
    Bounds2Df &adjust(float d);
    Bounds2Df &translate(const Point2Df &p);
    Bounds2Df &operator+=(const Point2Df &p);
    Bounds2Df &operator-=(const Point2Df &p);
    // Scaling about the origin; a negative factor reverses the box.
    Bounds2Df &operator*=(float s);
    Bounds2Df &operator/=(float s);
    Bounds2Df &normalize();
    Bounds2Df &intersect(const Bounds2Df &other);
    Bounds2Df &operator&=(const Bounds2Df &other);
    Bounds2Df &unite(const Bounds2Df &other);
    Bounds2Df &operator|=(const Bounds2Df &other);

    Point2Df &min();
    const Point2Df &min() const;
    Point2Df &max();
    const Point2Df &max() const;
    // minX, minY, maxX, maxY in this order.
    float *data() { return &minX; }
    const float *data() const { return &minX; }

    bool isNull() const;
    bool isValid() const;
    bool isEmpty() const { return !isValid(); }

    Point2Df size() const;
    Point2Df center() const;
    Bounds2Df normalized() const;
    Bounds2Df translated(const Point2Df &p) const;
    Bounds2Df operator+(const Point2Df &p) const;
    Bounds2Df operator-(const Point2Df &p) const;
    Bounds2Df operator*(float s) const;
    Bounds2Df operator/(float s) const;
    Bounds2Df adjusted(const Point2Df &a, const Point2Df &b) const;
    Bounds2Df adjusted(float d) const;
    Bounds2Df intersected(const Bounds2Df &other) const;
    Bounds2Df operator&(const Bounds2Df &other) const;
    Bounds2Df united(const Bounds2Df &other) const;
    Bounds2Df operator|(const Bounds2Df &other) const;

    // Closed intervals on the stored coordinates; never with a null box.
    bool intersects(const Bounds2Df &other) const;
    // Relative slack of 1e-5 x the smaller magnitude at each side (none at 0);
    // only valid boxes contain anything.
    bool contains(const Point2Df &p) const;
    bool contains(const Bounds2Df &other) const;
    // Two null boxes are equal; otherwise every coordinate within 1e-5.
    bool operator==(const Bounds2Df &other) const;
    bool operator!=(const Bounds2Df &other) const;

    void getCorners(Point2Df &min, Point2Df &max) const;
    Bounds2Df copy() const { return *this; }

    // Per axis: the min coordinate when only its min flag is set, the max one
    // when only its max flag is set, the centre otherwise.
    Point2Df anchor(const BoxSides &sides) const;
    // The sides p lies strictly beyond.
    BoxSides outcode(const Point2Df &p) const;

    // Where the segment from a to b crosses the sides, in the order of the
    // segment: [a, b] when both ends are inside (a side counts as inside),
    // otherwise only the crossing points, with a tolerance of 1e-5 of the
    // larger magnitude (at least 1e-5) on the other axes. A crossing exactly at
    // b is left out, and an end that is not finite gives no points.
    QList<Point2Df> clipSegment(const Point2Df &a, const Point2Df &b) const;

    // x, y = min corner; width and height taken in double.
    QRectF toQRectF() const;
    // Corners summed in double, then narrowed; not normalized.
    static Bounds2Df fromQRectF(const QRectF &r);
    void getCoords(float &x1, float &y1, float &x2, float &y2) const;
};

// "R(minX, minY : width x height)" or "R(invalid)" for a null box, then a blank.
QDebug operator<<(QDebug dbg, const Bounds2Df &b);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Bounds2Df, Q_MOVABLE_TYPE);

#endif // GEOM_BOUNDS2D_H
