#ifndef GEOM_BOUNDS3D_H
#define GEOM_BOUNDS3D_H

#include "boxside.h"
#include "point3d.h"

#include <QDebug>
#include <QList>
#include <QVector>

namespace geom {

// Axis-aligned box in space, single precision.
//
// The empty box (default constructor, reset()) has min = +FLT_MAX and
// max = -FLT_MAX. A box is
//  - null when some extent (max - min, in float) is NaN or beyond FLT_MAX in
//    magnitude: the empty box, any box with an infinite or NaN coordinate;
//  - valid when every extent is finite and strictly positive;
//  - empty when it is not valid (a single point's box is neither null nor valid).
// Nothing keeps min <= max; normalize() restores the order.
class Bounds3Df
{
public:
    float minX;
    float minY;
    float minZ;
    float maxX;
    float maxY;
    float maxZ;

    Bounds3Df();
    // The corners are taken as they are, not ordered.
    Bounds3Df(const Point3Df &min, const Point3Df &max);

    void reset();

    void extend(const Point3Df &p);
    // A null pointer or a count of 0 or less changes nothing.
    void extend(const Point3Df *points, int count);
    void extend(const QVector<Point3Df> &points);

    Bounds3Df &moveCenter(const Point3Df &p);
    void moveTo(const Point3Df &p);
    void moveMin(const Point3Df &p);
    void moveMax(const Point3Df &p);
    void setSize(const Point3Df &s);
    // min -= a, max += b: positive values grow the box.
    Bounds3Df &adjust(const Point3Df &a, const Point3Df &b);
    Bounds3Df &adjust(float d);
    Bounds3Df &translate(const Point3Df &p);
    Bounds3Df &operator+=(const Point3Df &p);
    Bounds3Df &operator-=(const Point3Df &p);
    // Scaling about the origin; a negative factor reverses the box.
    Bounds3Df &operator*=(float s);
    Bounds3Df &operator/=(float s);
    Bounds3Df &normalize();
    Bounds3Df &intersect(const Bounds3Df &other);
    Bounds3Df &operator&=(const Bounds3Df &other);
    Bounds3Df &unite(const Bounds3Df &other);
    Bounds3Df &operator|=(const Bounds3Df &other);

    Point3Df &min();
    const Point3Df &min() const;
    Point3Df &max();
    const Point3Df &max() const;
    // minX, minY, minZ, maxX, maxY, maxZ in this order.
    float *data() { return &minX; }
    const float *data() const { return &minX; }

    bool isNull() const;
    bool isValid() const;
    bool isEmpty() const { return !isValid(); }

    Point3Df size() const;
    Point3Df center() const;
    Bounds3Df normalized() const;
    Bounds3Df translated(const Point3Df &p) const;
    Bounds3Df operator+(const Point3Df &p) const;
    Bounds3Df operator-(const Point3Df &p) const;
    Bounds3Df operator*(float s) const;
    Bounds3Df operator/(float s) const;
    Bounds3Df adjusted(const Point3Df &a, const Point3Df &b) const;
    Bounds3Df adjusted(float d) const;
    Bounds3Df intersected(const Bounds3Df &other) const;
    Bounds3Df operator&(const Bounds3Df &other) const;
    Bounds3Df united(const Bounds3Df &other) const;
    Bounds3Df operator|(const Bounds3Df &other) const;

    // Closed intervals on the stored coordinates; never with a null box.
    bool intersects(const Bounds3Df &other) const;
    // Relative slack of 1e-5 x the smaller magnitude at each side (none at 0);
    // only valid boxes contain anything.
    bool contains(const Point3Df &p) const;
    bool contains(const Bounds3Df &other) const;
    // Two null boxes are equal; otherwise every coordinate within 1e-5.
    bool operator==(const Bounds3Df &other) const;
    bool operator!=(const Bounds3Df &other) const;

    void getCorners(Point3Df &min, Point3Df &max) const;
    Bounds3Df copy() const { return *this; }

    // Per axis: the min coordinate when only its min flag is set, the max one
    // when only its max flag is set, the centre otherwise.
    Point3Df anchor(const BoxSides &sides) const;
    // The sides p lies strictly beyond.
    BoxSides outcode(const Point3Df &p) const;

    // Where the segment from a to b crosses the sides, in the order of the
    // segment: [a, b] when both ends are inside (a side counts as inside),
    // otherwise only the crossing points, with a tolerance of 1e-5 of the
    // larger magnitude (at least 1e-5) on the other axes. A crossing exactly at
    // b is left out, and an end that is not finite gives no points.
    QList<Point3Df> clipSegment(const Point3Df &a, const Point3Df &b) const;
};

// "C(minX, minY, minZ : sx x sy x sz)" or "C(invalid)" for a null box, then a blank.
QDebug operator<<(QDebug dbg, const Bounds3Df &b);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Bounds3Df, Q_MOVABLE_TYPE);

#endif // GEOM_BOUNDS3D_H
