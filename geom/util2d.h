#ifndef GEOM_UTIL2D_H
#define GEOM_UTIL2D_H

#include "bounds2d.h"
#include "intersectionpoints.h"
#include "point2d.h"

namespace geom {

typedef IntersectionPoints<Point2Df> IntersectionPoints2Df;
typedef IntersectionPoints<Point2Dd> IntersectionPoints2Dd;

} // namespace geom

// 2D line and segment geometry.
//
// Functions with a trailing origin take the line, ray or segment from that
// origin to q (so p and q are absolute points); with the default zero origin
// they are relative to (0, 0). Float variants compute in float with squared
// sums in double and compare against 1e-5 (float); double variants compare
// against 1e-12, and point-on-line tests accept a distance of 1e-5.
namespace util2D {

// Flags of the predicates: a caller sets a bit when it already knows that stage
// holds.
enum OnLineFlag {
    SkipLineTest = 1,
    SkipRayTest = 2
};

// |a - b| <= min(|a|, |b|) x 1e-5, in float: a zero only equals a zero.
bool fuzzyCompare(float a, float b);

// Distance from p to the infinite line through a and b (a point when a and b
// coincide within 1e-5 per axis).
double squaredDistanceToLine(const geom::Point2Df &p, const geom::Point2Df &a, const geom::Point2Df &b);
double distanceToLine(const geom::Point2Df &p, const geom::Point2Df &a, const geom::Point2Df &b);

// Distance from p to the segment from origin to q. A float segment whose
// squared length is at most 1e-5 counts as its start point (1e-12 for double).
double squaredDistanceToSegment(const geom::Point2Df &p, const geom::Point2Df &q,
                                const geom::Point2Df &origin = geom::Point2Df::zero);
double distanceToSegment(const geom::Point2Df &p, const geom::Point2Df &q,
                         const geom::Point2Df &origin = geom::Point2Df::zero);
double squaredDistanceToSegment(const geom::Point2Dd &p, const geom::Point2Dd &q,
                                const geom::Point2Dd &origin = geom::Point2Dd::zero);
double distanceToSegment(const geom::Point2Dd &p, const geom::Point2Dd &q,
                         const geom::Point2Dd &origin = geom::Point2Dd::zero);

// The point of the segment a-b nearest to p.
geom::Point2Dd closestPointOnSegment(const geom::Point2Dd &p, const geom::Point2Dd &a, const geom::Point2Dd &b);

// Smallest distance between the segments a0-a1 and b0-b1; the unsquared
// distance is 0 up to a squared distance of 1e-5.
double squaredDistanceSegmentToSegment(const geom::Point2Dd &a0, const geom::Point2Dd &a1,
                                       const geom::Point2Dd &b0, const geom::Point2Dd &b1);
double distanceSegmentToSegment(const geom::Point2Dd &a0, const geom::Point2Dd &a1,
                                const geom::Point2Dd &b0, const geom::Point2Dd &b1);

// p lies within 1e-5 of the line through origin and q (within 1e-5 of origin
// when q coincides with it).
bool isOnLine(const geom::Point2Df &p, const geom::Point2Df &q, const geom::Point2Df &origin);

// On the line and not more than 1e-5 behind the origin, measured along the
// direction of q.
bool isOnRay(const geom::Point2Df &p, const geom::Point2Df &q,
             const geom::Point2Df &origin = geom::Point2Df::zero, int flags = 0);
// On the ray and short of q: the origin end belongs to the segment, the q end
// does not, so consecutive edges of a polygon never share a vertex.
bool isOnSegment(const geom::Point2Df &p, const geom::Point2Df &q,
                 const geom::Point2Df &origin = geom::Point2Df::zero, int flags = 0);
// The line test in float, the side test in double.
bool isOnRay(const geom::Point2Dd &p, const geom::Point2Dd &q,
             const geom::Point2Dd &origin = geom::Point2Dd::zero, int flags = 0);
// On the line and within 1e-5 of the segment along its direction: both ends
// belong to the segment.
bool isOnSegment(const geom::Point2Dd &p, const geom::Point2Dd &q, const geom::Point2Dd &origin);

// The parameter of p along a to b taken on the larger axis of b - a (0 and 1
// within 1e-12 of the ends); p is not tested for lying on the line.
double segmentParameter(const geom::Point2Dd &p, const geom::Point2Dd &a, const geom::Point2Dd &b);

// The foot of p on the line from origin through q in p1 (= p2); count is 1 when
// the foot lies on the segment (ray), else 0. A degenerate segment gives p
// itself with count 0.
geom::IntersectionPoints2Dd projectOntoSegment(const geom::Point2Dd &p, const geom::Point2Dd &q,
                                               const geom::Point2Dd &origin = geom::Point2Dd::zero);
geom::Point2Dd projectOntoLine(const geom::Point2Dd &p, const geom::Point2Dd &q,
                               const geom::Point2Dd &origin = geom::Point2Dd::zero);
geom::IntersectionPoints2Dd projectOntoRay(const geom::Point2Dd &p, const geom::Point2Dd &q,
                                           const geom::Point2Dd &origin = geom::Point2Dd::zero);

// Intersections of lines, rays and segments. Results with a point have count 1.
// Here and for the circles and arcs below, input that is not finite (a NaN or
// an infinity) gives no point.

// The infinite lines a1-a2 and b1-b2; parallel lines (a non-finite parameter)
// give nothing.
geom::IntersectionPoints2Df lineIntersectLine(const geom::Point2Df &a1, const geom::Point2Df &a2,
                                              const geom::Point2Df &b1, const geom::Point2Df &b2);
geom::IntersectionPoints2Dd lineIntersectLine(const geom::Point2Dd &a1, const geom::Point2Dd &a2,
                                              const geom::Point2Dd &b1, const geom::Point2Dd &b2);
// The ray from a through b (unbounded beyond b) and the closed segment c-d.
geom::IntersectionPoints2Df rayIntersectSegment(const geom::Point2Df &a, const geom::Point2Df &b,
                                                const geom::Point2Df &c, const geom::Point2Df &d);
// The segment a-b and the infinite line c-d. A crossing off the segment keeps
// its coordinates with count 0. The float segment excludes its b end (as
// isOnSegment does), the double one includes both ends.
geom::IntersectionPoints2Df segmentIntersectLine(const geom::Point2Df &a, const geom::Point2Df &b,
                                                 const geom::Point2Df &c, const geom::Point2Df &d);
geom::IntersectionPoints2Dd segmentIntersectLine(const geom::Point2Dd &a, const geom::Point2Dd &b,
                                                 const geom::Point2Dd &c, const geom::Point2Dd &d);
// Closed segments; parallel ones (the sine of the angle between them within
// 1e-5, or 1e-12 for double, at any length) give nothing, collinear overlaps
// included.
geom::IntersectionPoints2Df segmentIntersectSegment(const geom::Point2Df &a1, const geom::Point2Df &a2,
                                                    const geom::Point2Df &b1, const geom::Point2Df &b2);
geom::IntersectionPoints2Dd segmentIntersectSegment(const geom::Point2Dd &a1, const geom::Point2Dd &a2,
                                                    const geom::Point2Dd &b1, const geom::Point2Dd &b2);
// The first crossing of the segment with the box's edges in the order bottom,
// right, top, left (not the one nearest to a).
geom::IntersectionPoints2Df segmentIntersectBounds(const geom::Point2Df &a, const geom::Point2Df &b,
                                                   const geom::Bounds2Df &box);

// Circles and arcs. An arc has a centre, a radius, a start angle (atan2 of the
// offset from the centre) and a signed sweep (positive counter-clockwise); its
// parameter runs from 0 at the start to 1 at the end.
enum CircleFlag {
    SkipCircleTest = 4
};

// The parameter of p's direction from centre along the arc (0 and 1 within
// 1e-5 radians of the ends); a zero sweep gives a non-finite parameter.
double arcParameter(const geom::Point2Dd &p, const geom::Point2Dd &centre, double start, double sweep);
// |d^2 - r^2| <= 1e-12 with d the distance from the centre.
bool isOnCircle(const geom::Point2Dd &p, double r, const geom::Point2Dd &centre = geom::Point2Dd::zero);
// On the circle and strictly within 1e-5 of the arc's parameter range.
bool isOnArc(const geom::Point2Dd &p, double start, double sweep, double r,
             const geom::Point2Dd &centre = geom::Point2Dd::zero, int flags = 0);
// The centre itself for a point at the centre.
geom::Point2Dd closestPointOnCircle(const geom::Point2Dd &p, double r,
                                    const geom::Point2Dd &centre = geom::Point2Dd::zero);
// Two crossing points, or the one point where the circles touch (from outside
// or inside); nothing for circles apart, nested or coincident.
geom::IntersectionPoints2Dd circleIntersectCircle(double r1, const geom::Point2Dd &c1, double r2,
                                                  const geom::Point2Dd &c2 = geom::Point2Dd::zero);
// The points of the two circles that lie on both arcs.
geom::IntersectionPoints2Dd arcIntersectArc(double start1, double sweep1, double r1, const geom::Point2Dd &c1,
                                            double start2, double sweep2, double r2, const geom::Point2Dd &c2);
// The infinite line through a and b and the circle: the tangent point (within
// 1e-5) or two points ordered from a towards b. A line whose points a and b lie
// within 1e-6 of each other has no direction and meets no circle.
geom::IntersectionPoints2Dd lineIntersectCircle(const geom::Point2Dd &a, const geom::Point2Dd &b, double r,
                                                const geom::Point2Dd &c);
// The points of the line intersection that lie on the closed segment a-b.
geom::IntersectionPoints2Dd segmentIntersectCircle(const geom::Point2Dd &a, const geom::Point2Dd &b, double r,
                                                   const geom::Point2Dd &c);
// The points of the segment-circle intersection that lie on the arc.
geom::IntersectionPoints2Dd segmentIntersectArc(const geom::Point2Dd &a, const geom::Point2Dd &b, double start,
                                                double sweep, double r,
                                                const geom::Point2Dd &centre = geom::Point2Dd::zero);

} // namespace util2D

#endif // GEOM_UTIL2D_H
