#ifndef GEOM_CORNERFINDER_H
#define GEOM_CORNERFINDER_H

#include "point2d.h"
#include "polygonedge.h"

#include <QMultiMap>
#include <QVector>

namespace geom {

template <typename P>
class CornerFinderPrivate;

// Finds the corners of a closed polygon (the vertices where the magnitude of
// the edge-table angle is below the corner angle) and places points around
// each corner. The result maps vertex indices 0 ... n to points: key 0 and key
// n carry vertex 0 moved back along its leaving edge and forward along its
// arriving edge (whatever its angle), a key i in 1 ... n - 1 the points of
// corner i in the order they are meant to be visited. Walking the map in key
// order therefore runs once round the polygon.
//
// A corner where the boundary doubles back (a spike) gets the single point
// 2r beyond its tip. Other corners get two points, one on each side, with a
// middle point between them when the angle's magnitude is at least the middle
// angle.
//
// Each treatment keeps the edge table of the polygon it was given (polygons of
// three points or more), so one finder serves one caller at a time.
template <typename P>
class CornerFinder
{
public:
    // The corner angle is taken as given; the offset starts equal to it. The
    // middle angle starts at pi / 2.
    CornerFinder(double cornerAngle, double radius);
    ~CornerFinder();

    // Bounded to [0, pi] (NaN gives 0); the middle angle is lowered to it when
    // above it.
    void setCornerAngle(double angle);
    // Bounded to [0, corner angle] (NaN gives 0).
    void setMiddleAngle(double angle);
    // The distance of offsetCorners; at least 1e-12 (a NaN is kept).
    void setOffset(double offset);

    // Both edges prolonged past the corner by the radius.
    QMultiMap<int, P> extendCorners(const QVector<P> &polygon);
    // Points beside the corner at the offset from both edges, on the outer
    // side of the turn.
    QMultiMap<int, P> offsetCorners(const QVector<P> &polygon);
    // Both edges prolonged by the tangent length of the circle of the radius
    // that touches both inside the corner.
    QMultiMap<int, P> tangentCorners(const QVector<P> &polygon);

    const QVector<PolygonEdge<P>> &edges() const;
    double cornerAngle() const;
    double middleAngle() const;
    double offset() const;

private:
    Q_DISABLE_COPY(CornerFinder)

    CornerFinderPrivate<P> *d;
};

extern template class CornerFinder<Point2Df>;
extern template class CornerFinder<Point2Dd>;

} // namespace geom

#endif // GEOM_CORNERFINDER_H
