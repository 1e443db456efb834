#include "util2d.h"

#include "angle.h"
#include "finite_p.h"
#include "tolerance_p.h"

#include <algorithm>
#include <cmath>

using geom::Bounds2Df;
using geom::IntersectionPoints2Dd;
using geom::IntersectionPoints2Df;
using geom::Point2Dd;
using geom::Point2Df;

namespace {

using namespace geom::tolerance;
using geom::finite::allFinite;
using geom::finite::isFinite;

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


// The float 2 pi, 6.2831855.
constexpr float TwoPiF = 6.28318530717958647692f;

// The float instance divides in double and narrows the parameter; a zero
// denominator leaves a non-finite point, which is no intersection.
template <typename P, typename T = decltype(P::x)>
geom::IntersectionPoints<P> lineIntersectLineT(const P &a1, const P &a2, const P &b1, const P &b2)
{
    const P d1 = a2 - a1;
    const P d2 = b2 - b1;
    const T den = d1.x * d2.y - d1.y * d2.x;
    const T num = (a1.y - b1.y) * d2.x - (a1.x - b1.x) * d2.y;
    const T t = T(double(num) / double(den));
    const P p(d1.x * t + a1.x, d1.y * t + a1.y);
    geom::IntersectionPoints<P> r;
    if (isFinite(p))
        r.add(p);
    return r;
}

template <typename P, typename T = decltype(P::x)>
geom::IntersectionPoints<P> segmentIntersectSegmentT(const P &a1, const P &a2, const P &b1, const P &b2, T parallel)
{
    geom::IntersectionPoints<P> r;
    // Each segment from its left end to its right end; on equal x the second
    // point counts as the left end.
    const P &la = a2.x > a1.x ? a1 : a2;
    const P &ra = a2.x > a1.x ? a2 : a1;
    const P &lb = b2.x > b1.x ? b1 : b2;
    const P &rb = b2.x > b1.x ? b2 : b1;
    if (lb.x > ra.x || la.x > rb.x || std::min(lb.y, rb.y) > std::max(la.y, ra.y)
        || std::min(la.y, ra.y) > std::max(lb.y, rb.y))
        return r;
    const P da = ra - la;
    const P db = rb - lb;
    const T den = db.y * da.x - db.x * da.y;
    // The cross product against the product of the lengths: parallel is an
    // angle below the tolerance, for short segments as for long ones.
    if (std::fabs(double(den)) <= double(parallel) * std::sqrt(squaredSum(da.x, da.y) * squaredSum(db.x, db.y)))
        return r;
    const T t = (db.x * (la.y - lb.y) - db.y * (la.x - lb.x)) / den;
    if (!(t >= T(0) && t <= T(1)))
        return r;
    const T u = (da.x * (la.y - lb.y) - (la.x - lb.x) * da.y) / den;
    if (!(u >= T(0) && u <= T(1)))
        return r;
    r.add(P(la.x + t * da.x, la.y + t * da.y));
    return r;
}

// The point at the signed distance along from the origin towards c, as the one
// point of a record; d is the length of c.
IntersectionPoints2Dd onCentreLine(const Point2Dd &c, double d, double along)
{
    IntersectionPoints2Dd r;
    r.add(Point2Dd(c.x * (along / d), c.y * (along / d)));
    return r;
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

IntersectionPoints2Df lineIntersectLine(const Point2Df &a1, const Point2Df &a2, const Point2Df &b1, const Point2Df &b2)
{
    return lineIntersectLineT(a1, a2, b1, b2);
}

IntersectionPoints2Dd lineIntersectLine(const Point2Dd &a1, const Point2Dd &a2, const Point2Dd &b1, const Point2Dd &b2)
{
    return lineIntersectLineT(a1, a2, b1, b2);
}

IntersectionPoints2Df rayIntersectSegment(const Point2Df &a, const Point2Df &b, const Point2Df &c, const Point2Df &d)
{
    IntersectionPoints2Df r;
    const Point2Df d1 = b - a;
    const Point2Df d2 = d - c;
    const float den = d2.y * d1.x - d2.x * d1.y;
    if (den == 0.0f)
        return r;
    const float t = (d2.x * (a.y - c.y) - d2.y * (a.x - c.x)) / den;
    if (t < 0.0f)
        return r;
    const float u = (d1.x * (a.y - c.y) - (a.x - c.x) * d1.y) / den;
    if (u < 0.0f || u > 1.0f)
        return r;
    const Point2Df p(a.x + t * d1.x, a.y + t * d1.y);
    if (isFinite(p))
        r.add(p);
    return r;
}

IntersectionPoints2Df segmentIntersectLine(const Point2Df &a, const Point2Df &b, const Point2Df &c, const Point2Df &d)
{
    IntersectionPoints2Df r = lineIntersectLine(a, b, c, d);
    if (r.count > 0 && !isOnSegment(r.p1, b, a, 0))
        r.count = 0;
    return r;
}

IntersectionPoints2Dd segmentIntersectLine(const Point2Dd &a, const Point2Dd &b, const Point2Dd &c, const Point2Dd &d)
{
    IntersectionPoints2Dd r = lineIntersectLine(a, b, c, d);
    if (r.count > 0 && !isOnSegment(r.p1, b, a))
        r.count = 0;
    return r;
}

IntersectionPoints2Df segmentIntersectSegment(const Point2Df &a1, const Point2Df &a2, const Point2Df &b1,
                                              const Point2Df &b2)
{
    return segmentIntersectSegmentT(a1, a2, b1, b2, T5f);
}

IntersectionPoints2Dd segmentIntersectSegment(const Point2Dd &a1, const Point2Dd &a2, const Point2Dd &b1,
                                              const Point2Dd &b2)
{
    return segmentIntersectSegmentT(a1, a2, b1, b2, T12);
}

IntersectionPoints2Df segmentIntersectBounds(const Point2Df &a, const Point2Df &b, const Bounds2Df &box)
{
    const Point2Df corners[4] = {Point2Df(box.minX, box.minY), Point2Df(box.maxX, box.minY),
                                 Point2Df(box.maxX, box.maxY), Point2Df(box.minX, box.maxY)};
    IntersectionPoints2Df r;
    // A side that is not finite would leave the others to be crossed as if
    // they made a box.
    if (!allFinite(a, b, corners[0], corners[2]))
        return r;
    for (int i = 0; i < 4; ++i) {
        r = segmentIntersectSegment(a, b, corners[i], corners[(i + 1) % 4]);
        if (r.count > 0)
            break;
    }
    return r;
}

double arcParameter(const Point2Dd &p, const Point2Dd &centre, double start, double sweep)
{
    const float angle = std::atan2(float(p.y - centre.y), float(p.x - centre.x));
    float a = geom::wrapRadians(float(double(angle) - start));
    if (std::fabs(a) <= T5f)
        return 0.0;
    if (std::fabs(a - float(sweep)) <= T5f)
        return 1.0;
    if (sweep > 0.0 && a < 0.0f)
        a += TwoPiF;
    else if (sweep <= 0.0 && a > 0.0f)
        a -= TwoPiF;
    return double(a) / sweep;
}

bool isOnCircle(const Point2Dd &p, double r, const Point2Dd &centre)
{
    if (!isZero(centre))
        return isOnCircle(p - centre, r, Point2Dd::zero);
    return std::fabs(squaredSum(p.x, p.y) - r * r) <= T12;
}

bool isOnArc(const Point2Dd &p, double start, double sweep, double r, const Point2Dd &centre, int flags)
{
    if (!isZero(centre))
        return isOnArc(p - centre, start, sweep, r, Point2Dd::zero, flags);
    if (!(flags & SkipCircleTest) && !isOnCircle(p, r))
        return false;
    const double t = arcParameter(p, Point2Dd::zero, start, sweep);
    return t > -double(T5f) && t < 1.0 + double(T5f);
}

Point2Dd closestPointOnCircle(const Point2Dd &p, double r, const Point2Dd &centre)
{
    Point2Dd d = p - centre;
    d.setLength(1.0);
    return Point2Dd(d.x * r + centre.x, d.y * r + centre.y);
}

IntersectionPoints2Dd circleIntersectCircle(double r1, const Point2Dd &c1, double r2, const Point2Dd &c2)
{
    IntersectionPoints2Dd r;
    if (!allFinite(r1, c1, r2, c2))
        return r;
    if (!isZero(c2))
        return circleIntersectCircle(r1, c1 - c2, r2, Point2Dd::zero).translated(c2);
    const double d = std::sqrt(squaredSum(c1.x, c1.y));
    // Circles that miss touching by no more than rounding still touch: 1e-12
    // at the unit scale, growing with the size of the figure.
    const double slack = T12 * std::max({1.0, d, std::fabs(r1) + std::fabs(r2)});
    if (d - (r1 + r2) > slack || std::fabs(r1 - r2) - d > slack)
        return r; // apart, or one inside the other
    if (d <= slack && std::fabs(r1 - r2) <= slack)
        return r; // the same circle: no points to report
    if (std::fabs(d - r1 - r2) <= slack) {
        r.add(closestPointOnCircle(c1, r2));
        return r;
    }
    // d > 0 from here on: concentric circles of different radii are nested.
    // Touching from inside: the one point of circle 2 on the line of the
    // centres, towards c1 when circle 1 lies in circle 2, away from it when
    // circle 2 lies in circle 1.
    if (std::fabs(std::fabs(r1 - r2) - d) <= slack)
        return onCentreLine(c1, d, r2 > r1 ? r2 : -r2);
    const double a = (r2 * r2 - r1 * r1 + d * d) / (2.0 * d);
    if (r2 * r2 > a * a) {
        const double h = std::sqrt(r2 * r2 - a * a);
        const double u = a / d;
        const double v = h / d;
        r.p1 = Point2Dd(u * c1.x + v * c1.y, u * c1.y - v * c1.x);
        r.p2 = Point2Dd(u * c1.x - v * c1.y, v * c1.x + u * c1.y);
        r.count = 2;
        return r;
    }
    // Circles that meet only within rounding: the chord has shrunk to a point.
    return onCentreLine(c1, d, a >= 0.0 ? r2 : -r2);
}

IntersectionPoints2Dd arcIntersectArc(double start1, double sweep1, double r1, const Point2Dd &c1, double start2,
                                      double sweep2, double r2, const Point2Dd &c2)
{
    if (!allFinite(start1, sweep1, start2, sweep2))
        return IntersectionPoints2Dd();
    const IntersectionPoints2Dd points = circleIntersectCircle(r1, c1, r2, c2);
    if (points.count == 0)
        return points;
    return points.filtered([&](const Point2Dd &p) {
        return isOnArc(p, start1, sweep1, r1, c1, SkipCircleTest) && isOnArc(p, start2, sweep2, r2, c2, SkipCircleTest);
    });
}

IntersectionPoints2Dd lineIntersectCircle(const Point2Dd &a, const Point2Dd &b, double r, const Point2Dd &c)
{
    IntersectionPoints2Dd result;
    if (!allFinite(a, b, r, c))
        return result;
    // Without a direction there is no line: never the centre, never a NaN.
    if (squaredSum(b.x - a.x, b.y - a.y) <= T12)
        return result;
    const Point2Dd f = projectOntoLine(c, b, a);
    Point2Dd toFoot = f - c;
    const double d2 = squaredSum(toFoot.x, toFoot.y);
    const double dist = std::sqrt(d2);
    if (std::fabs(dist - r) <= double(T5f)) {
        result.add(c + toFoot.setLength(r));
        return result;
    }
    const double h2 = r * r - d2;
    if (h2 >= 0.0) {
        Point2Dd u = b - a;
        u.setLength(std::sqrt(h2));
        result.p1 = f - u;
        result.p2 = f + u;
        result.count = 2;
    }
    return result;
}

IntersectionPoints2Dd segmentIntersectCircle(const Point2Dd &a, const Point2Dd &b, double r, const Point2Dd &c)
{
    return lineIntersectCircle(a, b, r, c).filtered([&](const Point2Dd &p) { return isOnSegment(p, b, a); });
}

IntersectionPoints2Dd segmentIntersectArc(const Point2Dd &a, const Point2Dd &b, double start, double sweep, double r,
                                          const Point2Dd &centre)
{
    if (!allFinite(a, b, start, sweep, r, centre))
        return IntersectionPoints2Dd();
    if (!isZero(centre))
        return segmentIntersectArc(a - centre, b - centre, start, sweep, r, Point2Dd::zero).translated(centre);
    return segmentIntersectCircle(a, b, r, Point2Dd::zero).filtered([&](const Point2Dd &p) {
        return isOnArc(p, start, sweep, r, Point2Dd::zero, SkipCircleTest);
    });
}

} // namespace util2D
