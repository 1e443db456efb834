#include "polygonedge.h"

#include "angle.h"

namespace geom {

namespace {

constexpr double Pi = 3.14159265358979323846;

template <typename P>
P unit(P v)
{
    return v.setLength(1.0);
}

// The vertex angle from the negated direction angles of the leaving edge (a)
// and the arriving edge (prev), summed in each instance's historical order.
inline double vertexAngle(const Point2Df *, double a, double prev)
{
    return a + Pi - prev;
}

inline double vertexAngle(const Point2Dd *, double a, double prev)
{
    return Pi + a - prev;
}

template <typename P>
QVector<PolygonEdge<P>> edgeTableT(const QVector<P> &polygon)
{
    QVector<PolygonEdge<P>> table;
    const int n = polygon.size();
    if (n == 0)
        return table;
    table.reserve(n);
    if (n == 1) {
        table.append(PolygonEdge<P>());
        return table;
    }
    for (int i = 1; i < n; ++i)
        table.append(PolygonEdge<P>(unit(P(polygon.at(i) - polygon.at(i - 1)))));
    table.append(PolygonEdge<P>(unit(P(polygon.at(0) - polygon.at(n - 1)))));

    // Each record's first-pass value is read before it is replaced: the last
    // record's own for vertex 0, the one saved from the step before otherwise.
    double previous = table.at(n - 1).angle;
    for (int i = 0; i < n; ++i) {
        PolygonEdge<P> &e = table[i];
        const PolygonEdge<P> &arriving = table.at(i == 0 ? n - 1 : i - 1);
        const double own = e.angle;
        e.angle = wrapRadians(vertexAngle(static_cast<const P *>(nullptr), own, previous));
        e.bisector = unit(P(e.direction - arriving.direction));
        previous = own;
    }
    return table;
}

} // namespace

template class PolygonEdge<Point2Df>;
template class PolygonEdge<Point2Dd>;

QVector<PolygonEdge<Point2Df>> edgeTable(const QVector<Point2Df> &polygon)
{
    return edgeTableT(polygon);
}

QVector<PolygonEdge<Point2Dd>> edgeTable(const QVector<Point2Dd> &polygon)
{
    return edgeTableT(polygon);
}

} // namespace geom
