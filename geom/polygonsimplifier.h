#ifndef GEOM_POLYGONSIMPLIFIER_H
#define GEOM_POLYGONSIMPLIFIER_H

#include "point2d.h"
#include "util2d.h"

#include <QVector>

#include <cmath>
#include <deque>
#include <set>
#include <stack>

namespace geom {

namespace detail {

// Per-axis tolerance of snapToGrid, in the point type's own precision.
template <typename T>
struct SnapTolerance;

template <>
struct SnapTolerance<float>
{
    static constexpr float value = 1e-5f;
};

template <>
struct SnapTolerance<double>
{
    static constexpr double value = 1e-12;
};

inline double squaredDistanceToSegment(const Point2Df &p, const Point2Df &q)
{
    return util2D::squaredDistanceToSegment(p, q, Point2Df::zero);
}

inline double squaredDistanceToSegment(const Point2Dd &p, const Point2Dd &q)
{
    return util2D::squaredDistanceToSegment(p, q, Point2Dd::zero);
}

} // namespace detail

// Clean-up of closed polygons (rings of vertices, stored without repeating the
// first point at the end).
//
// The static members do the work; an object of the class is the worker of one
// Douglas-Peucker run over a polygon's storage, which it reads in place: the
// vector given to the constructor must stay unchanged while the worker lives.
template <typename P>
class PolygonSimplifier
{
public:
    typedef typename P::Coordinate Coordinate;

    // Closes the ring (appends a copy of the first point unless it already ends
    // with one) and keeps the vertices farther than tolerance from the
    // simplified outline. The result is an open ring starting with the first
    // input point, or empty when fewer than 2 vertices survive. Returns the
    // number of points removed.
    static int closeAndSimplify(QVector<P> &points, double tolerance)
    {
        const int n = points.size();
        if (n < 2) {
            points.clear();
            return n;
        }
        const P first = points.first();
        const P &lastPoint = points.last();
        if (!(lastPoint.x == first.x && lastPoint.y == first.y))
            points.append(first);

        QVector<P> simplified;
        {
            PolygonSimplifier worker(points, tolerance);
            worker.simplifyRange(0, points.size() - 1);
            simplified = worker.result();
        }
        points = simplified;
        return n - points.size();
    }

    // Rounds every point but the first to the nearest multiple of step (halves
    // away from zero) and drops a point that lands on its predecessor. The first
    // point is kept as it is, and the last is not compared with it. A step below
    // 1e-5 returns the input. *changed tells whether any point moved.
    static QVector<P> snapToGrid(const QVector<P> &points, double step, bool *changed)
    {
        if (changed)
            *changed = false;
        if (points.isEmpty() || step < double(1e-5f))
            return points;

        const Coordinate tol = detail::SnapTolerance<Coordinate>::value;
        QVector<P> out;
        out.reserve(points.size());
        out.append(points.first());
        for (int i = 1; i < points.size(); ++i) {
            const P &p = points.at(i);
            const P q(Coordinate(std::round(double(p.x) / step) * step),
                      Coordinate(step * std::round(double(p.y) / step)));
            if (changed && (std::fabs(q.x - p.x) > tol || std::fabs(q.y - p.y) > tol))
                *changed = true;
            const P &last = out.last();
            if (std::fabs(last.x - q.x) <= tol && std::fabs(last.y - q.y) <= tol)
                continue;
            out.append(q);
        }
        return out;
    }

    // Drops every vertex whose successor stays on the line from the last kept
    // vertex through the vertex after it. With no collinear vertex at the start
    // the result begins with the last input point; a ring entirely on one line
    // gives an empty result.
    static QVector<P> removeCollinear(const QVector<P> &points)
    {
        const int n = points.size();
        if (n < 3)
            return points;

        const P *p = points.constData();
        int prev = n - 2;
        int cand = n - 1;
        int next = 0;
        Point2Df dir = narrowedDifference(p[cand], p[prev]);
        int remaining = n;
        int skipped = 0;
        QVector<P> out;
        out.reserve(n);

        for (;;) {
            const bool collinear = util2D::isOnLine(narrowedDifference(p[next], p[prev]), dir, Point2Df::zero);
            if (collinear && out.isEmpty()) {
                if (++skipped >= n)
                    return QVector<P>();
            } else if (collinear) {
                --remaining;
            } else {
                out.append(p[cand]);
                prev = cand;
                dir = narrowedDifference(p[next], p[cand]);
                --remaining;
            }
            if (remaining <= 0)
                break;
            cand = next;
            next = next + 1 < n ? next + 1 : 0;
        }
        return out;
    }

    // Keeps a point only when it lies farther than tolerance from the point
    // kept before it.
    static QVector<P> simplifyRadial(const QVector<P> &points, double tolerance)
    {
        QVector<P> out;
        if (points.isEmpty())
            return out;
        out.reserve(points.size());
        out.append(points.first());
        const double tolerance2 = tolerance * tolerance;
        for (int i = 1; i < points.size(); ++i) {
            const P &p = points.at(i);
            const P &last = out.last();
            const Coordinate dx = p.x - last.x;
            const Coordinate dy = p.y - last.y;
            if (double(dx) * double(dx) + double(dy) * double(dy) > tolerance2)
                out.append(p);
        }
        return out;
    }

    PolygonSimplifier(const QVector<P> &polygon, double tolerance)
        : points(polygon.constData()), count(polygon.size()), tolerance2(tolerance * tolerance)
    {
        if (count > 0)
            kept.insert(0);
    }

    // Marks the vertices strictly between first and last that the outline needs
    // to stay within the tolerance. Uses its own stack, so the polygon size does
    // not bound the call depth.
    void simplifyRange(int first, int last)
    {
        std::stack<int, std::deque<int>> work;
        work.push(first);
        work.push(last);
        while (!work.empty()) {
            const int end = work.top();
            work.pop();
            const int start = work.top();
            work.pop();

            const P &origin = points[start];
            const P seg(points[end].x - origin.x, points[end].y - origin.y);
            int split = -1;
            double maxD2 = 0.0;
            for (int i = start + 1; i < end; ++i) {
                const P v(points[i].x - origin.x, points[i].y - origin.y);
                const double d2 = detail::squaredDistanceToSegment(v, seg);
                if (d2 > maxD2) {
                    maxD2 = d2;
                    split = i;
                }
            }
            if (split >= 0 && maxD2 > tolerance2) {
                kept.insert(split);
                work.push(split);
                work.push(end);
                work.push(start);
                work.push(split);
            }
        }
    }

    // The kept vertices in polygon order; empty when fewer than 2 are kept.
    QVector<P> result() const
    {
        QVector<P> out;
        if (kept.size() < 2)
            return out;
        out.reserve(int(kept.size()));
        for (int k : kept)
            out.append(points[k]);
        return out;
    }

private:
    // The collinearity test always runs in single precision.
    static Point2Df narrowedDifference(const P &a, const P &b)
    {
        return Point2Df(float(a.x - b.x), float(a.y - b.y));
    }

    const P *points;
    int count;
    double tolerance2;
    std::set<int> kept;
};

extern template class PolygonSimplifier<Point2Df>;
extern template class PolygonSimplifier<Point2Dd>;

} // namespace geom

#endif // GEOM_POLYGONSIMPLIFIER_H
