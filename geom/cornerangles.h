#ifndef GEOM_CORNERANGLES_H
#define GEOM_CORNERANGLES_H

#include "point2d.h"

#include <QVector>

namespace geom {

template <typename P>
class CornerAnglesPrivate;

// The corners of a closed polygon (the first point not repeated at the end) as
// three vectors indexed like the polygon:
//  - angles: the signed angle of the boundary at each vertex, in [-pi, pi], its
//    magnitude the interior angle between the reversed arriving edge and the
//    leaving edge, positive at left turns, negative at right turns. Where the
//    boundary runs straight on the magnitude is pi: along the x axis exactly
//    -pi (the edge table gives +pi there);
//  - bisectors: the unit vector of (leaving - arriving direction), (0, 0) where
//    the two cancel out;
//  - directions: the unit direction of the edge leaving each vertex, (0, 0) for
//    an edge too short to have one.
// The float instance takes a vectorised path for polygons of 8 or more points
// where SSE2 is available, with the same results as the plain loop.
template <typename P>
class CornerAngles
{
public:
    CornerAngles();
    explicit CornerAngles(const QVector<P> &polygon);
    ~CornerAngles();

    // Recomputes the three vectors for the polygon of count points; a null
    // array or a count of 0 or less leaves them empty.
    void compute(const P *points, int count);
    void compute(const QVector<P> &polygon);

    const QVector<P> &directions() const;
    const QVector<double> &angles() const;
    const QVector<P> &bisectors() const;

private:
    Q_DISABLE_COPY(CornerAngles)

    CornerAnglesPrivate<P> *d;
};

extern template class CornerAngles<Point2Df>;
extern template class CornerAngles<Point2Dd>;

} // namespace geom

#endif // GEOM_CORNERANGLES_H
