#include "cornerfinder.h"

#include <cmath>

namespace geom {

template <typename P>
class CornerFinderPrivate
{
public:
    CornerFinderPrivate(double corner, double r)
        : cornerAngle(corner), middleAngle(1.5707963267948966), radius(r), diameter(r + r), offset(corner)
    {
    }

    double cornerAngle;
    double middleAngle;
    double radius;
    double diameter;
    double offset;
    QVector<PolygonEdge<P>> edges;
};

namespace {

constexpr double Pi = 3.14159265358979323846;
// The float 1e-5, 9.999999747378752e-06.
constexpr float T5f = 1e-5f;

// A coordinate times a double factor is formed in double and narrowed to the
// point's precision; the sums of such terms stay in that precision.
template <typename P>
P scaled(const P &v, double f)
{
    typedef typename P::Coordinate T;
    return P(T(double(v.x) * f), T(double(v.y) * f));
}

template <typename P>
P left(const P &d)
{
    return P(-d.y, d.x);
}

template <typename P>
P right(const P &d)
{
    return P(d.y, -d.x);
}

template <typename P>
typename P::Coordinate dot(const P &a, const P &b)
{
    return a.x * b.x + a.y * b.y;
}

// One corner as the treatments see it.
template <typename P>
struct Corner
{
    int index;
    P p;
    double angle;
    P in;       // direction of the arriving edge
    P out;      // direction of the leaving edge
    P bisector;
};

// Adds the points of one corner so that the map yields them in the order
// given: a multi-map puts a point before those already under its key, so they
// go in from the last to the first. The middle point is left out when the
// corner is sharper than the middle angle.
template <typename P>
void insertCorner(QMultiMap<int, P> &map, const CornerFinderPrivate<P> &d, const Corner<P> &c, const P &first,
                  const P &middle, const P &last)
{
    map.insert(c.index, last);
    if (std::fabs(c.angle) >= d.middleAngle)
        map.insert(c.index, middle);
    map.insert(c.index, first);
}

// The frame shared by the three treatments: vertex 0 under keys 0 and n, then
// every corner among vertices 1 ... n - 1 through treat.
template <typename P, typename Treat>
QMultiMap<int, P> findCorners(CornerFinderPrivate<P> &d, const QVector<P> &polygon, Treat treat)
{
    QMultiMap<int, P> map;
    const int n = polygon.size();
    if (n <= 2)
        return map;
    d.edges = edgeTable(polygon);
    const QVector<PolygonEdge<P>> &edges = d.edges;
    const P &p0 = polygon.at(0);
    map.insert(n, p0 + scaled(edges.at(n - 1).direction, d.radius));
    map.insert(0, p0 - scaled(edges.at(0).direction, d.radius));
    for (int i = 1; i < n; ++i) {
        const PolygonEdge<P> &e = edges.at(i);
        if (!(std::fabs(e.angle) < d.cornerAngle))
            continue;
        treat(map, Corner<P>{i, polygon.at(i), e.angle, edges.at(i - 1).direction, e.direction, e.bisector});
    }
    return map;
}

// Where the boundary doubles back: one point 2r beyond the tip.
template <typename P>
void insertSpike(QMultiMap<int, P> &map, const CornerFinderPrivate<P> &d, const Corner<P> &c)
{
    map.insert(c.index, c.p - scaled(c.bisector, d.diameter));
}

} // namespace

template <typename P>
CornerFinder<P>::CornerFinder(double cornerAngle, double radius) : d(new CornerFinderPrivate<P>(cornerAngle, radius))
{
}

template <typename P>
CornerFinder<P>::~CornerFinder()
{
    delete d;
}

template <typename P>
void CornerFinder<P>::setCornerAngle(double angle)
{
    d->cornerAngle = angle >= 0.0 ? (angle <= Pi ? angle : Pi) : 0.0;
    if (d->cornerAngle < d->middleAngle)
        d->middleAngle = d->cornerAngle;
}

template <typename P>
void CornerFinder<P>::setMiddleAngle(double angle)
{
    d->middleAngle = angle >= 0.0 ? (angle <= d->cornerAngle ? angle : d->cornerAngle) : 0.0;
}

template <typename P>
void CornerFinder<P>::setOffset(double offset)
{
    d->offset = 1e-12 > offset ? 1e-12 : offset;
}

template <typename P>
QMultiMap<int, P> CornerFinder<P>::extendCorners(const QVector<P> &polygon)
{
    const CornerFinderPrivate<P> &f = *d;
    return findCorners(*d, polygon, [&f](QMultiMap<int, P> &map, const Corner<P> &c) {
        if (std::fabs(float(c.angle)) <= T5f) {
            insertSpike(map, f, c);
            return;
        }
        const P along = c.p + scaled(c.in, f.radius);
        insertCorner(map, f, c, along, along - scaled(c.out, f.radius), c.p - scaled(c.out, f.radius));
    });
}

template <typename P>
QMultiMap<int, P> CornerFinder<P>::offsetCorners(const QVector<P> &polygon)
{
    const CornerFinderPrivate<P> &f = *d;
    return findCorners(*d, polygon, [&f](QMultiMap<int, P> &map, const Corner<P> &c) {
        if (std::fabs(float(c.angle)) <= T5f) {
            insertSpike(map, f, c);
            return;
        }
        // The outer side of the turn: right of a left turn, left of a right
        // turn; both sides at the same distance.
        const bool leftTurn = c.angle >= 0.0;
        const double t = std::tan((leftTurn ? Pi - c.angle : c.angle + Pi) * 0.25);
        const double step = f.offset * t;
        const P outOut = leftTurn ? right(c.out) : left(c.out);
        const P outIn = leftTurn ? right(c.in) : left(c.in);
        insertCorner(map, f, c, c.p + scaled(outOut, f.offset) - scaled(c.out, step), c.p - scaled(c.bisector, f.diameter),
                     c.p + scaled(outIn, f.offset) + scaled(c.in, step));
    });
}

template <typename P>
QMultiMap<int, P> CornerFinder<P>::tangentCorners(const QVector<P> &polygon)
{
    const CornerFinderPrivate<P> &f = *d;
    return findCorners(*d, polygon, [&f](QMultiMap<int, P> &map, const Corner<P> &c) {
        const double s = std::fabs(std::sin(c.angle * 0.5));
        if (s < double(T5f)) {
            insertSpike(map, f, c);
            return;
        }
        // From the vertex to the centre of the circle that touches both edges.
        const P w = scaled(c.bisector, f.radius / s);
        insertCorner(map, f, c, c.p - c.in * dot(w, c.in), c.p - scaled(c.bisector, f.radius) - w,
                     c.p - c.out * dot(w, c.out));
    });
}

template <typename P>
const QVector<PolygonEdge<P>> &CornerFinder<P>::edges() const
{
    return d->edges;
}

template <typename P>
double CornerFinder<P>::cornerAngle() const
{
    return d->cornerAngle;
}

template <typename P>
double CornerFinder<P>::middleAngle() const
{
    return d->middleAngle;
}

template <typename P>
double CornerFinder<P>::offset() const
{
    return d->offset;
}

template class CornerFinder<Point2Df>;
template class CornerFinder<Point2Dd>;

} // namespace geom
