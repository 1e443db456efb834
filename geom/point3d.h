#ifndef GEOM_POINT3D_H
#define GEOM_POINT3D_H

#include "point2d.h"

#include <QDataStream>
#include <QDebug>
#include <QTextStream>
#include <QVector>

namespace geom {

// A 3D float point that doubles as a vector (STL vertices and normals, slice
// positions, 3D bounds).
class Point3Df
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    static const Point3Df zero;

    constexpr Point3Df() = default;
    constexpr Point3Df(float px, float py, float pz) : x(px), y(py), z(pz) {}
    constexpr Point3Df(const Point2Df &p, float pz) : x(p.x), y(p.y), z(pz) {}

    // 0 when the squared length (summed in double) does not exceed 1e-12.
    double length() const;
    // Scales to len in double; a vector without direction becomes zero.
    Point3Df &setLength(double len);

    Point3Df &operator+=(const Point3Df &p)
    {
        x += p.x;
        y += p.y;
        z += p.z;
        return *this;
    }
    Point3Df &operator-=(const Point3Df &p)
    {
        x -= p.x;
        y -= p.y;
        z -= p.z;
        return *this;
    }

    // Per coordinate, replaced only by a strictly smaller (larger) one of p.
    Point3Df &minimize(const Point3Df &p);
    Point3Df &maximize(const Point3Df &p);

    // a + (b - a) * t per coordinate, in float.
    static Point3Df lerp(const Point3Df &a, const Point3Df &b, float t);
    // The projection of a onto the direction of b; zero when either has no length.
    static Point3Df project(const Point3Df &a, const Point3Df &b);

    Point2Df toPoint2Df() const { return Point2Df(x, y); }
};

// Exact comparison of all three coordinates.
inline bool operator==(const Point3Df &a, const Point3Df &b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
inline bool operator!=(const Point3Df &a, const Point3Df &b)
{
    return !(a == b);
}
inline Point3Df operator+(const Point3Df &a, const Point3Df &b)
{
    return Point3Df(a.x + b.x, a.y + b.y, a.z + b.z);
}
inline Point3Df operator-(const Point3Df &a, const Point3Df &b)
{
    return Point3Df(a.x - b.x, a.y - b.y, a.z - b.z);
}
inline Point3Df operator-(const Point3Df &a)
{
    return Point3Df(-a.x, -a.y, -a.z);
}
inline Point3Df operator*(const Point3Df &a, float s)
{
    return Point3Df(a.x * s, a.y * s, a.z * s);
}
inline Point3Df operator*(float s, const Point3Df &a)
{
    return Point3Df(s * a.x, s * a.y, s * a.z);
}

// The raw array format of point2d.h with 12-byte elements (x, y, z).
int writeRaw3Df(QDataStream &stream, const Point3Df *points, int count);
int readRaw3Df(QDataStream &stream, QVector<Point3Df> &points);

// "V(x, y, z)" followed by one blank.
QDebug operator<<(QDebug dbg, const Point3Df &p);

// x, y and z separated by blanks; reading takes any one character between them.
QTextStream &operator<<(QTextStream &stream, const Point3Df &p);
QTextStream &operator>>(QTextStream &stream, Point3Df &p);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Point3Df, Q_PRIMITIVE_TYPE);

#endif // GEOM_POINT3D_H
