#include "util2d.h"

#include <cmath>

using geom::IntersectionPoints2Dd;
using geom::Point2Dd;
using geom::Point2Df;

namespace {

// The float tolerance, 9.999999747378752e-06.
constexpr float T5f = 1e-5f;
constexpr double T12 = 1e-12;
// A distance of 1e-5, squared: one unit in the last place above 1e-10.
constexpr double T10 = 1e-5 * 1e-5;

// Exact, so that -0 counts as the origin and a NaN coordinate never does.
bool isZero(const Point2Df &origin)
{
    return origin.x == Point2Df::zero.x && origin.y == Point2Df::zero.y;
}

bool isZero(const Point2Dd &origin)
{
    return origin.x == Point2Dd::zero.x && origin.y == Point2Dd::zero.y;
}

double squaredSum(float x, float y)
{
    return double(x) * double(x) + double(y) * double(y);
}

double squaredSum(double x, double y)
{
    return x * x + y * y;
}

Point2Df narrowed(const Point2Dd &p)
{
    return Point2Df(float(p.x), float(p.y));
}

// The position of p along q's direction, compared with the tolerance disk that
// the line test puts around the origin: not more than 1e-5 behind it.
bool isAheadOfOrigin(double dot, double len2)
{
    return dot >= -double(T5f) * std::sqrt(len2);
}

// The segment runs from the origin to q; the float instance narrows the squared length to
// float, so its degenerate guard sees the same value the float arithmetic below uses.
template <typename P, typename T = decltype(P::x)>
double squaredDistanceToSegmentT(const P &p, const P &q, const P &origin, T degenerate)
{
    if (!isZero(origin))
        return squaredDistanceToSegmentT(P(p - origin), P(q - origin), P::zero, degenerate);
    const T len2 = T(squaredSum(q.x, q.y));
    if (len2 <= degenerate)
        return squaredSum(p.x, p.y);
    const T dot = q.x * p.x + q.y * p.y;
    T rx;
    T ry;
    if (dot < T(0)) {
        rx = p.x;
        ry = p.y;
    } else if (dot > len2) {
        rx = p.x - q.x;
        ry = p.y - q.y;
    } else {
        const T t = dot / len2;
        rx = p.x - q.x * t;
        ry = p.y - q.y * t;
    }
    return squaredSum(rx, ry);
}

double distanceFromSquared(double d2)
{
    return d2 <= T12 ? 0.0 : std::sqrt(d2);
}

} // namespace

namespace util2D {

bool fuzzyCompare(float a, float b)
{
    return std::fabs(a - b) <= std::fmin(std::fabs(a), std::fabs(b)) * T5f;
}

double squaredDistanceToLine(const Point2Df &p, const Point2Df &a, const Point2Df &b)
{
    if (std::fabs(a.x - b.x) <= T5f && std::fabs(a.y - b.y) <= T5f)
        return squaredSum(p.x - a.x, p.y - a.y);
    const float dx = b.x - a.x;
    const float dy = b.y - a.y;
    const float dot = (p.x - a.x) * dx + (p.y - a.y) * dy;
    const float t = float(double(dot) / squaredSum(dx, dy));
    const float fx = dx * t + a.x - p.x;
    const float fy = t * dy + a.y - p.y;
    return squaredSum(fx, fy);
}

double distanceToLine(const Point2Df &p, const Point2Df &a, const Point2Df &b)
{
    return std::sqrt(squaredDistanceToLine(p, a, b));
}

double squaredDistanceToSegment(const Point2Df &p, const Point2Df &q, const Point2Df &origin)
{
    return squaredDistanceToSegmentT(p, q, origin, T5f);
}

double distanceToSegment(const Point2Df &p, const Point2Df &q, const Point2Df &origin)
{
    return distanceFromSquared(squaredDistanceToSegment(p, q, origin));
}

double squaredDistanceToSegment(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    return squaredDistanceToSegmentT(p, q, origin, T12);
}

double distanceToSegment(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    return distanceFromSquared(squaredDistanceToSegment(p, q, origin));
}

Point2Dd closestPointOnSegment(const Point2Dd &p, const Point2Dd &a, const Point2Dd &b)
{
    if (a == b)
        return a;
    const Point2Dd d = b - a;
    const double t = ((p.x - a.x) * d.x + (p.y - a.y) * d.y) / squaredSum(d.x, d.y);
    if (t < 0.0)
        return a;
    if (t > 1.0)
        return b;
    return Point2Dd(a.x + t * d.x, a.y + t * d.y);
}

double squaredDistanceSegmentToSegment(const Point2Dd &a0, const Point2Dd &a1, const Point2Dd &b0, const Point2Dd &b1)
{
    if (a0 == a1) {
        if (b0 == b1)
            return squaredSum(b0.x - a0.x, b0.y - a0.y);
        return squaredDistanceToSegment(a0, b0, b1);
    }
    if (b0 == b1)
        return squaredDistanceToSegment(b0, a0, a1);

    const Point2Dd u = a1 - a0;
    const Point2Dd v = b1 - b0;
    const Point2Dd w = a0 - b0;
    const double a = u.x * u.x + u.y * u.y;
    const double b = u.x * v.x + u.y * v.y;
    const double c = v.x * v.x + v.y * v.y;
    const double d = u.x * w.x + u.y * w.y;
    const double e = v.x * w.x + v.y * w.y;
    const double D = a * c - b * b;

    double sN;
    double sD;
    double tN;
    double tD;
    if (D <= T12) {
        sN = 0.0;
        sD = 1.0;
        tN = e;
        tD = c;
    } else {
        sD = tD = D;
        sN = b * e - c * d;
        tN = a * e - b * d;
        if (sN < 0.0) {
            sN = 0.0;
            tN = e;
            tD = c;
        } else if (sN > sD) {
            sN = sD;
            tN = e + b;
            tD = c;
        }
    }

    if (tN < 0.0) {
        tN = 0.0;
        if (-d < 0.0) {
            sN = 0.0;
        } else if (-d > a) {
            sN = sD;
        } else {
            sN = -d;
            sD = a;
        }
    } else if (tN > tD) {
        tN = tD;
        if (-d + b < 0.0) {
            sN = 0.0;
        } else if (-d + b > a) {
            sN = sD;
        } else {
            sN = -d + b;
            sD = a;
        }
    }

    const double sc = std::fabs(sN) <= T12 ? 0.0 : sN / sD;
    const double tc = std::fabs(tN) <= T12 ? 0.0 : tN / tD;
    return squaredSum(w.x + sc * u.x - tc * v.x, w.y + sc * u.y - tc * v.y);
}

double distanceSegmentToSegment(const Point2Dd &a0, const Point2Dd &a1, const Point2Dd &b0, const Point2Dd &b1)
{
    const double d2 = squaredDistanceSegmentToSegment(a0, a1, b0, b1);
    return d2 <= double(T5f) ? 0.0 : std::sqrt(d2);
}

bool isOnLine(const Point2Df &p, const Point2Df &q, const Point2Df &origin)
{
    const float ax = q.x - origin.x;
    const float ay = q.y - origin.y;
    const float bx = p.x - origin.x;
    const float by = p.y - origin.y;
    const double cross = double(ax) * double(by) - double(ay) * double(bx);
    const double len2 = squaredSum(ax, ay);
    if (len2 > T12)
        return cross * cross / len2 <= T10;
    return squaredSum(bx, by) <= T10;
}

bool isOnRay(const Point2Df &p, const Point2Df &q, const Point2Df &origin, int flags)
{
    if (!isZero(origin))
        return isOnRay(p - origin, q - origin, Point2Df::zero, flags);
    if (!(flags & SkipLineTest) && !isOnLine(p, q, Point2Df::zero))
        return false;
    const double dot = double(p.x) * double(q.x) + double(p.y) * double(q.y);
    return isAheadOfOrigin(dot, squaredSum(q.x, q.y));
}

bool isOnSegment(const Point2Df &p, const Point2Df &q, const Point2Df &origin, int flags)
{
    if (!isZero(origin))
        return isOnSegment(p - origin, q - origin, Point2Df::zero, flags);
    if (!(flags & SkipRayTest) && !isOnRay(p, q, Point2Df::zero, flags))
        return false;
    // Short of q along its direction; q itself belongs to the next edge.
    const double dot = double(p.x) * double(q.x) + double(p.y) * double(q.y);
    return dot < squaredSum(q.x, q.y);
}

bool isOnRay(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin, int flags)
{
    if (!isZero(origin))
        return isOnRay(p - origin, q - origin, Point2Dd::zero, flags);
    if (!(flags & SkipLineTest) && !isOnLine(narrowed(p), narrowed(q), Point2Df::zero))
        return false;
    return isAheadOfOrigin(p.x * q.x + p.y * q.y, squaredSum(q.x, q.y));
}

bool isOnSegment(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    if (!isOnLine(narrowed(p), narrowed(q), narrowed(origin)))
        return false;
    const Point2Dd a = q - origin;
    const Point2Dd b = p - origin;
    const double dot = a.x * b.x + a.y * b.y;
    const double len2 = squaredSum(a.x, a.y);
    const double slack = double(T5f) * std::sqrt(len2);
    return dot >= -slack && dot <= len2 + slack;
}

double segmentParameter(const Point2Dd &p, const Point2Dd &a, const Point2Dd &b)
{
    if (std::fabs(p.x - a.x) <= T12 && std::fabs(p.y - a.y) <= T12)
        return 0.0;
    if (std::fabs(p.x - b.x) <= T12 && std::fabs(p.y - b.y) <= T12)
        return 1.0;
    const Point2Dd d = b - a;
    if (std::fabs(d.x) > std::fabs(d.y))
        return (p.x - a.x) / d.x;
    return (p.y - a.y) / d.y;
}

IntersectionPoints2Dd projectOntoSegment(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    IntersectionPoints2Dd r;
    if (!isZero(origin)) {
        r = projectOntoSegment(p - origin, q - origin, Point2Dd::zero);
        r.p1 += origin;
        r.p2 += origin;
        return r;
    }
    const double len2 = squaredSum(q.x, q.y);
    if (len2 <= T12) {
        r.p1 = r.p2 = p;
        return r;
    }
    const double t = (p.x * q.x + p.y * q.y) / len2;
    r.p1 = r.p2 = Point2Dd(t * q.x, t * q.y);
    r.count = (t >= 0.0 && t <= 1.0) ? 1 : 0;
    return r;
}

Point2Dd projectOntoLine(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    return projectOntoSegment(p, q, origin).p1;
}

IntersectionPoints2Dd projectOntoRay(const Point2Dd &p, const Point2Dd &q, const Point2Dd &origin)
{
    if (!isZero(origin)) {
        IntersectionPoints2Dd r = projectOntoRay(p - origin, q - origin, Point2Dd::zero);
        r.p1 += origin;
        r.p2 += origin;
        return r;
    }
    IntersectionPoints2Dd r = projectOntoSegment(p, q, Point2Dd::zero);
    // A ray without direction has no foot beyond its end: p itself stays off it.
    if (r.count == 0 && squaredSum(q.x, q.y) > T12 && isOnRay(r.p1, q, Point2Dd::zero, SkipLineTest))
        r.count = 1;
    return r;
}

} // namespace util2D
