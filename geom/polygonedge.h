#ifndef GEOM_POLYGONEDGE_H
#define GEOM_POLYGONEDGE_H

#include "point2d.h"

#include <QVector>

#include <cmath>

namespace geom {

// One vertex of a closed polygon in its edge table: the vertex and the edge
// that leaves it (the last vertex's edge closes the polygon).
//
// In a finished table
//  - angle is the signed angle of the boundary at the vertex, in [-pi, pi]:
//    its magnitude is the interior angle between the reversed arriving edge and
//    the leaving edge (pi where the boundary runs straight on, near 0 where it
//    doubles back), positive where the boundary turns left, negative where it
//    turns right. A straight run along the x axis gives exactly +pi;
//  - direction is the unit direction of the leaving edge, (0, 0) for an edge
//    too short to have one;
//  - bisector is the unit vector of (leaving - arriving direction): it points
//    into the angle at the vertex, to the left of a left turn and to the right
//    of a right turn; (0, 0) when the two directions cancel out.
template <typename P>
class PolygonEdge
{
public:
    double angle = 0.0;
    P direction = P(0, 0);
    P bisector = P(0, 0);

    PolygonEdge() = default;
    // The table's first pass: angle holds the negated direction angle of d.
    explicit PolygonEdge(const P &d)
        : angle(-std::atan2(double(d.y), double(d.x))), direction(d)
    {
    }
};

// The edge table of a closed polygon (the first point is not repeated at the
// end): one record per vertex, with the polygon's indices. Built in two linear
// passes with a single allocation.
QVector<PolygonEdge<Point2Df>> edgeTable(const QVector<Point2Df> &polygon);
QVector<PolygonEdge<Point2Dd>> edgeTable(const QVector<Point2Dd> &polygon);

extern template class PolygonEdge<Point2Df>;
extern template class PolygonEdge<Point2Dd>;

} // namespace geom

#endif // GEOM_POLYGONEDGE_H
