#ifndef GEOM_UTIL3D_H
#define GEOM_UTIL3D_H

#include "intersectionpoints.h"
#include "point3d.h"
#include "sphere3d.h"

namespace geom {

typedef IntersectionPoints<Point3Df> IntersectionPoints3Df;

} // namespace geom

// 3D line, ray, segment, plane, sphere and triangle geometry in single
// precision (squared sums and some divisions in double), the counterpart of
// util2D.
//
// Functions with a trailing origin take the line, ray or segment from that
// origin to q (p and q are absolute points); with the default zero origin they
// are relative to (0, 0, 0). Rays run from a through b, segments from a to b.
// An intersection with input that is not finite (a NaN or an infinity) has no
// point.
namespace util3D {

enum OnLineFlag {
    SkipLineTest = 1,
    SkipRayTest = 2
};

// The parameter of p's projection along d (p = t d at the foot); 0 when d is
// within 1e-5 of zero on every axis. Only p is moved by the origin.
float lineParameter(const geom::Point3Df &p, const geom::Point3Df &d, const geom::Point3Df &origin = geom::Point3Df::zero);
// The projection of p onto the plane through origin with normal d.
geom::Point3Df projectOntoPlane(const geom::Point3Df &p, const geom::Point3Df &d,
                                const geom::Point3Df &origin = geom::Point3Df::zero);

// The foot of p on the line from origin through q in p1 (= p2); count 1 when
// it lies on the segment (ray). A q whose squared length is at most 1e-5 has
// no line: the record holds p itself with count 0.
geom::IntersectionPoints3Df projectOntoSegment(const geom::Point3Df &p, const geom::Point3Df &q,
                                               const geom::Point3Df &origin = geom::Point3Df::zero);
geom::Point3Df projectOntoLine(const geom::Point3Df &p, const geom::Point3Df &q,
                               const geom::Point3Df &origin = geom::Point3Df::zero);
geom::IntersectionPoints3Df projectOntoRay(const geom::Point3Df &p, const geom::Point3Df &q,
                                           const geom::Point3Df &origin = geom::Point3Df::zero);

// The squared length of p x q (unnormalised, so the tolerance grows with |p||q|)
// is at most 1e-12. A q without length (squared length at most 1e-12) holds
// only the points within 1e-5 of the origin, in these three predicates alike.
bool isOnLine(const geom::Point3Df &p, const geom::Point3Df &q, const geom::Point3Df &origin = geom::Point3Df::zero);
// On the line and not more than 1e-5 behind the origin along q.
bool isOnRay(const geom::Point3Df &p, const geom::Point3Df &q, const geom::Point3Df &origin = geom::Point3Df::zero,
             int flags = 0);
// On the ray and short of q: the q end is excluded.
bool isOnSegment(const geom::Point3Df &p, const geom::Point3Df &q,
                 const geom::Point3Df &origin = geom::Point3Df::zero, int flags = 0);

// ||p|^2 - r^2| (narrowed to float) is at most 1e-5, relative to the centre.
bool isOnSphere(const geom::Point3Df &p, double r, const geom::Point3Df &centre = geom::Point3Df::zero);
// The centre itself for a point at the centre.
geom::Point3Df closestPointOnSphere(const geom::Point3Df &p, double r,
                                    const geom::Point3Df &centre = geom::Point3Df::zero);

// The infinite line through a and b and the sphere, worked out in double: the
// tangent point (the line's distance from the centre within 1e-5 of r), or two
// points with p1 the one nearer to a along the line. A line whose points lie
// within 1e-6 of each other has no direction and meets no sphere.
geom::IntersectionPoints3Df lineIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b, double r,
                                                const geom::Point3Df &centre = geom::Point3Df::zero);
geom::IntersectionPoints3Df lineIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b,
                                                const geom::Sphere3Df &sphere);
// The points of the line intersection on the ray or the segment.
geom::IntersectionPoints3Df rayIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b, double r,
                                               const geom::Point3Df &centre);
geom::IntersectionPoints3Df rayIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b,
                                               const geom::Sphere3Df &sphere);
geom::IntersectionPoints3Df segmentIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b, double r,
                                                   const geom::Point3Df &centre);
geom::IntersectionPoints3Df segmentIntersectSphere(const geom::Point3Df &a, const geom::Point3Df &b,
                                                   const geom::Sphere3Df &sphere);

// The plane through q with normal n. A ray or segment lying in the plane gives
// a and b (count 2); one parallel to it beside the plane gives nothing.
geom::IntersectionPoints3Df rayIntersectPlane(const geom::Point3Df &a, const geom::Point3Df &b,
                                              const geom::Point3Df &n, const geom::Point3Df &q);
geom::IntersectionPoints3Df segmentIntersectPlane(const geom::Point3Df &a, const geom::Point3Df &b,
                                                  const geom::Point3Df &n, const geom::Point3Df &q);
// The axis-aligned planes x, y or z = value; a ray (nearly) parallel to the
// plane gives nothing.
geom::IntersectionPoints3Df rayIntersectPlaneX(const geom::Point3Df &a, const geom::Point3Df &b, float value);
geom::IntersectionPoints3Df rayIntersectPlaneY(const geom::Point3Df &a, const geom::Point3Df &b, float value);
geom::IntersectionPoints3Df rayIntersectPlaneZ(const geom::Point3Df &a, const geom::Point3Df &b, float value);
// A horizontal segment gives its first end at the plane's height, else nothing.
geom::IntersectionPoints3Df segmentIntersectPlaneZ(const geom::Point3Df &a, const geom::Point3Df &b, float z);

// The ray from o in direction d and the front of the triangle t0, t1, t2
// (counter-clockwise seen from o); triangles seen from behind, edge-on or
// degenerate are not hit.
geom::IntersectionPoints3Df rayIntersectTriangle(const geom::Point3Df &o, const geom::Point3Df &d,
                                                 const geom::Point3Df &t0, const geom::Point3Df &t1,
                                                 const geom::Point3Df &t2);

} // namespace util3D

#endif // GEOM_UTIL3D_H
