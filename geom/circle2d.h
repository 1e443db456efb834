#ifndef GEOM_CIRCLE2D_H
#define GEOM_CIRCLE2D_H

#include "boundingball.h"
#include "point2d.h"

class QTransform;

namespace geom {

// A bounding circle: centre (x, y) and radius r, in the precision of T.
template <typename T>
class Circle2D : public BoundingBall<Circle2D<T>, Point2D<T>, T>
{
public:
    T x = T(0);
    T y = T(0);
    T r = T(-1);

    // The reset state: centre at the origin, r = -1.
    Circle2D() = default;
    Circle2D(const Point2D<T> &centre, T radius) : x(centre.x), y(centre.y), r(radius) {}
    // The circle with the segment p1-p2 as diameter.
    Circle2D(const Point2D<T> &p1, const Point2D<T> &p2) { this->setThrough(p1, p2); }

    // The centre point shares the first two fields.
    const Point2D<T> &center() const { return *reinterpret_cast<const Point2D<T> *>(&x); }
    void setCenter(const Point2D<T> &p)
    {
        x = p.x;
        y = p.y;
    }

    // Taken as the formulas stand, whatever the sign of r.
    T area() const;
    T circumference() const;

    // The centre mapped through the whole transform; the radius scaled by the
    // longer image of the two unit axes.
    Circle2D mapped(const QTransform &t) const;
};

typedef Circle2D<float> Circle2Df;
typedef Circle2D<double> Circle2Dd;

extern template class Circle2D<float>;
extern template class Circle2D<double>;

} // namespace geom

// Movable, not primitive: a default circle is the reset state, not zero bytes.
Q_DECLARE_TYPEINFO(geom::Circle2Df, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(geom::Circle2Dd, Q_MOVABLE_TYPE);

#endif // GEOM_CIRCLE2D_H
