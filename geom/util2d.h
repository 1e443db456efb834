#ifndef GEOM_UTIL2D_H
#define GEOM_UTIL2D_H

#include "point2d.h"

namespace geom {

// Up to two points found by an intersection or a projection. count is 0 (no
// point), 1 (p1, with p2 equal to it) or 2.
template <typename P>
struct IntersectionPoints2D
{
    P p1 = P(0, 0);
    P p2 = P(0, 0);
    int count = 0;

    // The first point fills both slots; a later one becomes p2 unless it is
    // exactly p1.
    void add(const P &pt)
    {
        if (count == 0) {
            p1 = pt;
            p2 = pt;
            count = 1;
        } else if (!(pt.x == p1.x && pt.y == p1.y)) {
            p2 = pt;
            count = 2;
        }
    }
    const P &last() const { return count == 2 ? p2 : p1; }
};

typedef IntersectionPoints2D<Point2Df> IntersectionPoints2Df;
typedef IntersectionPoints2D<Point2Dd> IntersectionPoints2Dd;

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

} // namespace util2D

#endif // GEOM_UTIL2D_H
