#ifndef GEOM_CONVEXRINGS_H
#define GEOM_CONVEXRINGS_H

#include "facet.h"
#include "point3d.h"

#include <QList>
#include <QVector>

namespace geom {

// Triangulation without the GLU tessellator for rings known to be convex, and
// the wall between two rings of the same number of points. A ring is n points
// in order, the last joined back to the first. Results are three points per
// triangle, every triangle wound like the ring(s). Nothing is tested: a ring
// that is not convex is cut in the same order and may give overlapping
// triangles. Stateless; any thread.
class ConvexRings
{
public:
    // n - 2 triangles in zig-zag order, alternating between the two ends of the
    // ring like a strip: for n = 6, (0, 1, 5), (5, 1, 2), (5, 2, 4), (4, 2, 3).
    // Empty for n < 3.
    static QVector<Point3Df> processConvexV(const Point3Df *ring, int n);
    static QVector<Point3Df> processConvexV(const QVector<Point3Df> &ring);
    // The same triangles as facets with their normals computed.
    static QList<Facet> triangulateConvex(const QVector<Point3Df> &ring);
    // The wall from ring a up to ring b, two triangles per edge; a fan when one
    // ring has collapsed to a point (its first two points within 1e-5 on every
    // axis; a is tested first), a cap of b when a is null. Empty for n < 3.
    static QVector<Point3Df> stitchConvexV(const Point3Df *a, const Point3Df *b, int n);
};

} // namespace geom

#endif // GEOM_CONVEXRINGS_H
