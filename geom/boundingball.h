#ifndef GEOM_BOUNDINGBALL_H
#define GEOM_BOUNDINGBALL_H

#include "fuzzyreal.h"
#include "point2d.h"
#include "point3d.h"

#include <QVector>

#include <cmath>

namespace geom {

namespace detail {

// The squared length of a vector, summed in double.
template <typename T>
inline double squaredLength(const Point2D<T> &p)
{
    return double(p.x) * double(p.x) + double(p.y) * double(p.y);
}

inline double squaredLength(const Point3Df &p)
{
    return double(p.x) * double(p.x) + double(p.y) * double(p.y) + double(p.z) * double(p.z);
}

template <typename T>
inline Point2D<T> divided(const Point2D<T> &p, T s)
{
    return Point2D<T>(p.x / s, p.y / s);
}

inline Point3Df divided(const Point3Df &p, float s)
{
    return Point3Df(p.x / s, p.y / s, p.z / s);
}

} // namespace detail

// What circles and spheres have in common: a centre point and a radius, grown
// point by point into an approximate bound, united, intersected, moved, scaled
// and tested. Derived provides the fields (the centre first, then r), center()
// and setCenter(); everything else is here once for circles and spheres.
//
// A negative radius makes the ball null (the reset state has r = -1), a radius
// that is not above 0 empty; a null ball contains and meets nothing.
template <typename Derived, typename P, typename T>
class BoundingBall
{
public:
    typedef P Point;
    typedef T Real;

    void reset()
    {
        self().setCenter(P());
        self().r = T(-1);
    }
    void setRadius(T radius) { self().r = radius; }
    void setDiameter(T diameter) { self().r = diameter * T(0.5); }

    T radius() const { return self().r; }
    T radiusSquared() const { return self().r * self().r; }
    T diameter() const { return self().r + self().r; }
    bool isNull() const { return self().r < T(0); }
    bool isEmpty() const { return !(self().r > T(0)); }
    bool isValid() const { return self().r > T(0); }

    Derived &translate(const P &p)
    {
        self().setCenter(self().center() + p);
        return self();
    }
    Derived &operator+=(const P &p) { return translate(p); }
    Derived &operator-=(const P &p)
    {
        self().setCenter(self().center() - p);
        return self();
    }
    // Scaling about the origin; a negative factor makes the ball null.
    Derived &operator*=(T s)
    {
        self().setCenter(self().center() * s);
        self().r *= s;
        return self();
    }
    Derived &operator/=(T s)
    {
        self().setCenter(detail::divided(self().center(), s));
        self().r /= s;
        return self();
    }
    Derived &normalize() { return self(); }

    // The incremental bound: a point outside moves the centre half way
    // towards it, onto the midpoint of the point and the rim point opposite
    // it. The result contains every point given, but depends on their order
    // and is not the smallest ball.
    void extend(const P &p)
    {
        if (isNull()) {
            self().setCenter(p);
            self().r = T(0);
            return;
        }
        const P d = p - self().center();
        const T dist = T(d.length());
        if (dist > self().r) {
            const P rim = d * (self().r / dist);
            const P centre = (self().center() - rim + p) * T(0.5);
            self().setCenter(centre);
            self().r = T((p - centre).length());
        }
    }
    void extend(const P *points, int count)
    {
        if (!points)
            return;
        for (int i = 0; i < count; ++i)
            extend(points[i]);
    }
    void extend(const QVector<P> &points) { extend(points.constData(), points.size()); }

    // The smallest ball around both when neither holds the other; otherwise
    // the larger one.
    Derived &unite(const Derived &other)
    {
        if (other.isNull() || contains(other))
            return self();
        if (isNull() || other.contains(self()))
            return self() = other;
        P u = other.center() - self().center();
        u.setLength(1.0);
        const P a = self().center() - u * self().r;
        const P b = other.center() + u * other.r;
        const P centre = (a + b) * T(0.5);
        self().setCenter(centre);
        self().r = T((b - centre).length());
        return self();
    }
    Derived &operator|=(const Derived &other) { return unite(other); }

    // Touching balls give their touching point (radius 0), nested ones the
    // smaller ball, overlapping ones the ball on the circle where the two
    // surfaces cross; balls apart give the reset state.
    Derived &intersect(const Derived &other)
    {
        if (isNull())
            return self();
        if (other.isNull()) {
            reset();
            return self();
        }
        // Touching: the centre distance and the radius sum agree within the
        // kernel's tolerance (1e-5 float, 1e-12 double) of the smaller one.
        const T tol = FuzzyRealTraits<T>::relativeTolerance;
        const T r = self().r;
        const T sum = r + other.r;
        const P toOther = other.center() - self().center();
        const T d = T(toOther.length());
        if (std::fabs(d - sum) <= std::fmin(std::fabs(d), std::fabs(sum)) * tol) {
            if (!(d <= tol))
                self().setCenter(self().center() + toOther * (r / d));
            self().r = T(0);
            return self();
        }
        if (contains(other))
            return self() = other;
        if (other.contains(self()))
            return self();
        if (sum > d) {
            // Neither holds the other, so d > |r - other.r| >= 0.
            const T a = (d * d + r * r - other.r * other.r) / (T(2) * d);
            const T h2 = r * r - a * a;
            self().setCenter(self().center() + toOther * (a / d));
            self().r = h2 > T(0) ? T(std::sqrt(h2)) : T(0);
            return self();
        }
        reset();
        return self();
    }
    Derived &operator&=(const Derived &other) { return intersect(other); }

    Derived normalized() const { return self(); }
    Derived translated(const P &p) const { return Derived(self()).translate(p); }
    Derived operator+(const P &p) const { return translated(p); }
    Derived operator-(const P &p) const { return Derived(self()) -= p; }
    Derived operator*(T s) const { return Derived(self()) *= s; }
    Derived operator/(T s) const { return Derived(self()) /= s; }
    Derived united(const Derived &other) const { return Derived(self()).unite(other); }
    Derived operator|(const Derived &other) const { return united(other); }
    Derived intersected(const Derived &other) const { return Derived(self()).intersect(other); }
    Derived operator&(const Derived &other) const { return intersected(other); }

    // Touching counts.
    bool intersects(const Derived &other) const
    {
        if (isNull() || other.isNull())
            return false;
        return centreDistance(other) <= double(self().r) + double(other.r);
    }
    // On the rim counts: r^2 (in T) against the squared distance (in double).
    bool contains(const P &p) const
    {
        if (isNull())
            return false;
        return double(self().r * self().r) >= detail::squaredLength(P(p - self().center()));
    }
    // The whole of other, its far side included, lies within the radius.
    bool contains(const Derived &other) const
    {
        if (isNull() || other.isNull())
            return false;
        return centreDistance(other) + double(other.r) <= double(self().r);
    }

protected:
    // The ball whose diameter runs from p1 to p2.
    void setThrough(const P &p1, const P &p2)
    {
        const P centre = (p1 + p2) * T(0.5);
        self().setCenter(centre);
        self().r = T((p2 - centre).length());
    }

private:
    Derived &self() { return static_cast<Derived &>(*this); }
    const Derived &self() const { return static_cast<const Derived &>(*this); }

    double centreDistance(const Derived &other) const { return P(other.center() - self().center()).length(); }
};

} // namespace geom

#endif // GEOM_BOUNDINGBALL_H
