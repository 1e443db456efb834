#include "util3d.h"

#include "finite_p.h"
#include "tolerance_p.h"
#include "util2d.h"

#include <cmath>

using geom::IntersectionPoints3Df;
using geom::Point3Df;
using geom::Sphere3Df;

namespace {

using namespace geom::tolerance;
using geom::finite::allFinite;
using geom::finite::isFinite;
// The end of a segment's parameter range with its slack, formed in float.
constexpr float SegmentEnd = 1.0f + T5f;

// Exact, so that -0 counts as the origin and a NaN coordinate never does.
bool isZero(const Point3Df &origin)
{
    return origin.x == Point3Df::zero.x && origin.y == Point3Df::zero.y && origin.z == Point3Df::zero.z;
}

double squaredLength(const Point3Df &p)
{
    return double(p.x) * double(p.x) + double(p.y) * double(p.y) + double(p.z) * double(p.z);
}

float dot(const Point3Df &a, const Point3Df &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

double dotInDouble(const Point3Df &a, const Point3Df &b)
{
    return double(a.x) * double(b.x) + double(a.y) * double(b.y) + double(a.z) * double(b.z);
}

Point3Df cross(const Point3Df &a, const Point3Df &b)
{
    return Point3Df(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

// A line, ray or segment to q has no direction: it holds only the points
// within 1e-5 of its origin.
bool hasNoLength(const Point3Df &q)
{
    return squaredLength(q) <= T12;
}

bool isNearOrigin(const Point3Df &p)
{
    return squaredLength(p) <= T10;
}

// A point that is not finite (from input that is not, or from an overflow) is
// no intersection.
IntersectionPoints3Df onePoint(const Point3Df &p)
{
    IntersectionPoints3Df r;
    if (isFinite(p))
        r.add(p);
    return r;
}

// The sphere test runs in double: float coordinates and their differences are
// exact in it, and a line given by points far apart, or far from a small
// sphere, keeps the digits that decide where and whether it meets the sphere.
struct Vector3d
{
    double x;
    double y;
    double z;
};

Vector3d difference(const Point3Df &a, const Point3Df &b)
{
    return {double(a.x) - double(b.x), double(a.y) - double(b.y), double(a.z) - double(b.z)};
}

double dot(const Vector3d &a, const Vector3d &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// a + t d, narrowed to float.
Point3Df along(const Point3Df &a, const Vector3d &d, double t)
{
    return Point3Df(float(double(a.x) + t * d.x), float(double(a.y) + t * d.y), float(double(a.z) + t * d.z));
}

// The point at parameter t of the segment from a along d to b, with a slack of
// 1e-5 at both ends; parameters beyond an end give that end.
IntersectionPoints3Df segmentPoint(const Point3Df &a, const Point3Df &b, const Point3Df &d, float t)
{
    if (!(t >= -T5f && t <= SegmentEnd))
        return IntersectionPoints3Df();
    if (t <= 0.0f)
        return onePoint(a);
    if (t >= 1.0f)
        return onePoint(b);
    return onePoint(a + d * t);
}

// Where the line from a to b meets the plane through q with normal n, as the
// parameter t along d = b - a. A line parallel to the plane meets it nowhere or
// everywhere: false, with a and b (count 2) in parallel when the line lies in
// the plane and nothing otherwise.
bool meetPlane(const Point3Df &a, const Point3Df &b, const Point3Df &n, const Point3Df &q, float &t,
               IntersectionPoints3Df &parallel)
{
    // An end at infinity makes every parameter 0: it would give a for any plane.
    if (!allFinite(a, b, n, q))
        return false;
    const Point3Df d = b - a;
    const float den = dot(d, n);
    const float num = -dot(a - q, n);
    if (std::fabs(den) <= T5f) {
        if (num == 0.0f) {
            parallel.p1 = a;
            parallel.p2 = b;
            parallel.count = 2;
        }
        return false;
    }
    t = num / den;
    return true;
}

// The ray from a through b against the plane where the coordinate axis of a
// point equals value.
IntersectionPoints3Df rayIntersectAxisPlane(const Point3Df &a, const Point3Df &b, float value, float Point3Df::*axis)
{
    if (!allFinite(a, b, value))
        return IntersectionPoints3Df();
    const float delta = b.*axis - a.*axis;
    if (std::fabs(delta) <= T5f)
        return IntersectionPoints3Df();
    const float t = (value - a.*axis) / delta;
    if (t < 0.0f)
        return IntersectionPoints3Df();
    return onePoint(a + (b - a) * t);
}

} // namespace

namespace util3D {

float lineParameter(const Point3Df &p, const Point3Df &d, const Point3Df &origin)
{
    if (!isZero(origin))
        return lineParameter(p - origin, d, Point3Df::zero);
    if (std::fabs(d.x) <= T5f && std::fabs(d.y) <= T5f && std::fabs(d.z) <= T5f)
        return 0.0f;
    return float(double(dot(p, d)) / squaredLength(d));
}

Point3Df projectOntoPlane(const Point3Df &p, const Point3Df &d, const Point3Df &origin)
{
    const float t = lineParameter(p - origin, d);
    return p - d * t;
}

IntersectionPoints3Df projectOntoSegment(const Point3Df &p, const Point3Df &q, const Point3Df &origin)
{
    if (!isZero(origin))
        return projectOntoSegment(p - origin, q - origin, Point3Df::zero).translated(origin);
    IntersectionPoints3Df r;
    const float len2 = float(squaredLength(q));
    if (len2 <= T5f) {
        r.p1 = r.p2 = p;
        return r;
    }
    const float t = dot(p, q) / len2;
    r.p1 = r.p2 = q * t;
    r.count = (t >= 0.0f && t <= 1.0f) ? 1 : 0;
    return r;
}

Point3Df projectOntoLine(const Point3Df &p, const Point3Df &q, const Point3Df &origin)
{
    return projectOntoSegment(p, q, origin).p1;
}

IntersectionPoints3Df projectOntoRay(const Point3Df &p, const Point3Df &q, const Point3Df &origin)
{
    if (!isZero(origin))
        return projectOntoRay(p - origin, q - origin, Point3Df::zero).translated(origin);
    IntersectionPoints3Df r = projectOntoSegment(p, q, Point3Df::zero);
    // Without a line there is no foot beyond q either: p itself stays off it.
    if (r.count == 0 && float(squaredLength(q)) > T5f && isOnRay(r.p1, q, Point3Df::zero, SkipLineTest))
        r.count = 1;
    return r;
}

bool isOnLine(const Point3Df &p, const Point3Df &q, const Point3Df &origin)
{
    if (!isZero(origin))
        return isOnLine(p - origin, q - origin, Point3Df::zero);
    if (hasNoLength(q))
        return isNearOrigin(p);
    return squaredLength(cross(p, q)) <= T12;
}

bool isOnRay(const Point3Df &p, const Point3Df &q, const Point3Df &origin, int flags)
{
    if (!isZero(origin))
        return isOnRay(p - origin, q - origin, Point3Df::zero, flags);
    if (hasNoLength(q))
        return isNearOrigin(p);
    if (!(flags & SkipLineTest) && !isOnLine(p, q))
        return false;
    // Not more than 1e-5 behind the origin, as the 2D ray measures it.
    return dotInDouble(p, q) >= -double(T5f) * std::sqrt(squaredLength(q));
}

bool isOnSegment(const Point3Df &p, const Point3Df &q, const Point3Df &origin, int flags)
{
    if (!isZero(origin))
        return isOnSegment(p - origin, q - origin, Point3Df::zero, flags);
    if (hasNoLength(q))
        return isNearOrigin(p);
    if (!(flags & SkipRayTest) && !isOnRay(p, q, Point3Df::zero, flags))
        return false;
    // Short of q along its direction.
    return dotInDouble(p, q) < squaredLength(q);
}

bool isOnSphere(const Point3Df &p, double r, const Point3Df &centre)
{
    if (!isZero(centre))
        return isOnSphere(p - centre, r, Point3Df::zero);
    return std::fabs(float(squaredLength(p) - r * r)) <= T5f;
}

Point3Df closestPointOnSphere(const Point3Df &p, double r, const Point3Df &centre)
{
    Point3Df d = p - centre;
    return centre + d.setLength(r);
}

IntersectionPoints3Df lineIntersectSphere(const Point3Df &a, const Point3Df &b, double r, const Point3Df &centre)
{
    IntersectionPoints3Df result;
    if (!allFinite(a, b, r, centre))
        return result;
    const Vector3d p = difference(a, centre);
    const Vector3d d = difference(b, a);
    const double A = dot(d, d);
    // Without a direction there is no line: never a NaN point.
    if (A <= T12)
        return result;
    // The foot of the centre on the line, at parameter tm, and its distance h
    // from the centre.
    const double B = dot(p, d);
    const double tm = -B / A;
    const Vector3d f = {p.x + tm * d.x, p.y + tm * d.y, p.z + tm * d.z};
    const double h = std::sqrt(dot(f, f));
    const double radius = std::fabs(r);
    if (std::fabs(h - radius) <= double(T5f) * radius)
        return onePoint(along(a, d, tm));
    if (h > radius)
        return result;
    const double s = std::sqrt((radius - h) * (radius + h) / A);
    // The parameter of smaller magnitude first: the point nearer to a.
    const Point3Df first = along(a, d, B >= 0.0 ? tm + s : tm - s);
    const Point3Df second = along(a, d, B >= 0.0 ? tm - s : tm + s);
    if (!isFinite(first) || !isFinite(second))
        return result;
    result.p1 = first;
    result.p2 = second;
    result.count = 2;
    return result;
}

IntersectionPoints3Df lineIntersectSphere(const Point3Df &a, const Point3Df &b, const Sphere3Df &sphere)
{
    return lineIntersectSphere(a, b, double(sphere.r), sphere.center());
}

IntersectionPoints3Df rayIntersectSphere(const Point3Df &a, const Point3Df &b, double r, const Point3Df &centre)
{
    return lineIntersectSphere(a, b, r, centre).filtered([&](const Point3Df &p) {
        return isOnRay(p, b, a, SkipLineTest);
    });
}

IntersectionPoints3Df rayIntersectSphere(const Point3Df &a, const Point3Df &b, const Sphere3Df &sphere)
{
    return rayIntersectSphere(a, b, double(sphere.r), sphere.center());
}

IntersectionPoints3Df segmentIntersectSphere(const Point3Df &a, const Point3Df &b, double r, const Point3Df &centre)
{
    return lineIntersectSphere(a, b, r, centre).filtered([&](const Point3Df &p) {
        return isOnSegment(p, b, a, SkipLineTest);
    });
}

IntersectionPoints3Df segmentIntersectSphere(const Point3Df &a, const Point3Df &b, const Sphere3Df &sphere)
{
    return segmentIntersectSphere(a, b, double(sphere.r), sphere.center());
}

IntersectionPoints3Df rayIntersectPlane(const Point3Df &a, const Point3Df &b, const Point3Df &n, const Point3Df &q)
{
    float t = 0.0f;
    IntersectionPoints3Df parallel;
    if (!meetPlane(a, b, n, q, t, parallel))
        return parallel;
    if (t > T5f)
        return onePoint(a + (b - a) * t);
    if (t >= -T5f)
        return onePoint(a);
    return IntersectionPoints3Df();
}

IntersectionPoints3Df segmentIntersectPlane(const Point3Df &a, const Point3Df &b, const Point3Df &n, const Point3Df &q)
{
    float t = 0.0f;
    IntersectionPoints3Df parallel;
    if (!meetPlane(a, b, n, q, t, parallel))
        return parallel;
    return segmentPoint(a, b, b - a, t);
}

IntersectionPoints3Df rayIntersectPlaneX(const Point3Df &a, const Point3Df &b, float value)
{
    return rayIntersectAxisPlane(a, b, value, &Point3Df::x);
}

IntersectionPoints3Df rayIntersectPlaneY(const Point3Df &a, const Point3Df &b, float value)
{
    return rayIntersectAxisPlane(a, b, value, &Point3Df::y);
}

IntersectionPoints3Df rayIntersectPlaneZ(const Point3Df &a, const Point3Df &b, float value)
{
    return rayIntersectAxisPlane(a, b, value, &Point3Df::z);
}

IntersectionPoints3Df segmentIntersectPlaneZ(const Point3Df &a, const Point3Df &b, float z)
{
    if (!allFinite(a, b, z))
        return IntersectionPoints3Df();
    const Point3Df d = b - a;
    if (std::fabs(d.z) <= T5f) {
        if (util2D::fuzzyCompare(a.z, z))
            return onePoint(a);
        if (util2D::fuzzyCompare(b.z, z))
            return onePoint(b);
        return IntersectionPoints3Df();
    }
    return segmentPoint(a, b, d, (z - a.z) / d.z);
}

IntersectionPoints3Df rayIntersectTriangle(const Point3Df &o, const Point3Df &d, const Point3Df &t0, const Point3Df &t1,
                                           const Point3Df &t2)
{
    if (!allFinite(o, d, t0, t1, t2))
        return IntersectionPoints3Df();
    const Point3Df e1 = t1 - t0;
    const Point3Df e2 = t2 - t0;
    const Point3Df pv = cross(d, e2);
    const float det = dot(e1, pv);
    if (det <= T5f)
        return IntersectionPoints3Df();
    const Point3Df tv = o - t0;
    const float u = dot(tv, pv);
    const Point3Df qv = cross(tv, e1);
    const float v = dot(d, qv);
    if (u < 0.0f || u > det || v < 0.0f || u + v > det)
        return IntersectionPoints3Df();
    const float t = dot(e2, qv);
    if (t < -T5f)
        return IntersectionPoints3Df();
    return onePoint(o + d * (t / det));
}

} // namespace util3D
