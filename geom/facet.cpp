#include "facet.h"

#include <cmath>
#include <cstddef>
#include <utility>
#include <type_traits>

namespace geom {

static_assert(std::is_trivially_copyable<Facet>::value, "facets are written as raw bytes");
static_assert(offsetof(Facet, vertex3) == 36, "vertex 3 fills bytes 36-47 of an STL record");

namespace {

// Single precision throughout, like the STL record the result ends up in.
// Plain scalar code: the three-float points are never widened to four-float
// loads, so the last vertex of the last facet of an array is safe to read.
inline Point3Df cross(const Point3Df &e1, const Point3Df &e2)
{
    return Point3Df(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x);
}

inline float norm(const Point3Df &v)
{
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// The unit vector of n = (b - a) x (c - a), whose float length is len. When
// the float cross product underflowed to 0 or overflowed to infinity it is
// worked out again in double, so that tiny and huge triangles still get a
// direction; a triangle that has none (or is not finite) gives zero.
Point3Df unit(const Point3Df &n, float len, const Point3Df &a, const Point3Df &b, const Point3Df &c)
{
    if (len > 0.0f && std::isfinite(len))
        return Point3Df(n.x / len, n.y / len, n.z / len);
    const double e1x = double(b.x) - a.x, e1y = double(b.y) - a.y, e1z = double(b.z) - a.z;
    const double e2x = double(c.x) - a.x, e2y = double(c.y) - a.y, e2z = double(c.z) - a.z;
    const double dx = e1y * e2z - e1z * e2y, dy = e1z * e2x - e1x * e2z, dz = e1x * e2y - e1y * e2x;
    const double dlen = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (!(dlen > 0.0) || !std::isfinite(dlen))
        return Point3Df::zero;
    return Point3Df(float(dx / dlen), float(dy / dlen), float(dz / dlen));
}

} // namespace

Facet::Facet(const Point3Df &v1, const Point3Df &v2, const Point3Df &v3)
    : vertex1(v1), vertex2(v2), vertex3(v3)
{
    normal = computeNormal();
}

Facet::Facet(const Point2Df &a, const Point2Df &b, const Point2Df &c, float z)
    : vertex1(a, z), vertex2(b, z), vertex3(c, z)
{
    normal = computeNormal();
}

Point3Df Facet::computeNormal() const
{
    return triangleNormal(vertex1, vertex2, vertex3);
}

Point3Df Facet::crossNormal() const
{
    return cross(vertex2 - vertex1, vertex3 - vertex1);
}

double Facet::area() const
{
    return double(triangleArea(&vertex1));
}

void Facet::flip()
{
    normal = -normal;
    std::swap(vertex2, vertex3);
}

Point3Df triangleNormal(const Point3Df &a, const Point3Df &b, const Point3Df &c)
{
    const Point3Df n = cross(b - a, c - a);
    return unit(n, norm(n), a, b, c);
}

float triangleArea(const Point3Df *abc)
{
    return 0.5f * norm(cross(abc[1] - abc[0], abc[2] - abc[0]));
}

void triangleAreaAndVolume(float &area, float &volume, const Point3Df *abc, const Point3Df &apex)
{
    const Point3Df n = cross(abc[1] - abc[0], abc[2] - abc[0]);
    const float len = norm(n);
    area = 0.5f * len;
    const Point3Df u = unit(n, len, abc[0], abc[1], abc[2]);
    if (u == Point3Df::zero) {
        volume = 0.0f;
        return;
    }
    const Point3Df w = abc[0] - apex;
    volume = (u.x * w.x + u.y * w.y + u.z * w.z) * area / 3.0f;
}

} // namespace geom
