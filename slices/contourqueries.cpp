// Contour members that relate a contour to points and to other contours
// without changing its vertices.

#include "contour.h"

#include "pointsets_p.h"
#include "util2d.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using geom::Point2Df;

// Box prefilters only pay off on contours with more vertices than this.
const int boxPrefilterVertices = 9;

// The slack of util2D::isOnSegment: a point up to 1e-5 off an edge (or behind
// its start) is on it, so the box that rules points out must grow by as much.
const double onSegmentSlack = 1e-5;

bool nearBox(const geom::Bounds2Df &box, const Point2Df &p)
{
    return double(p.x) >= double(box.minX) - onSegmentSlack && double(p.x) <= double(box.maxX) + onSegmentSlack
        && double(p.y) >= double(box.minY) - onSegmentSlack && double(p.y) <= double(box.maxY) + onSegmentSlack;
}

// Non-zero winding number of q about the closed polygon, in float. Each edge
// owns its lower end and not its upper one; an edge through q or left of it
// counts, so left and bottom boundaries are inside. Edges whose ends differ
// in y by at most 1e-5 of the smaller magnitude count as horizontal.
int windingNumber(const Point2Df *p, int n, const Point2Df &q)
{
    int w = 0;
    Point2Df prev = p[n - 1];
    for (int i = 0; i < n; ++i) {
        const Point2Df cur = p[i];
        const float yj = prev.y;
        const float yi = cur.y;
        if (!(std::fabs(yj - yi) <= 1e-5f * std::fmin(std::fabs(yj), std::fabs(yi)))) {
            if (yi > yj) {
                if (yj <= q.y && q.y < yi && q.x >= (cur.x - prev.x) / (yi - yj) * (q.y - yj) + prev.x)
                    ++w;
            } else if (yi < yj) {
                if (yi <= q.y && q.y < yj && q.x >= (prev.x - cur.x) / (yj - yi) * (q.y - yi) + cur.x)
                    --w;
            }
        }
        prev = cur;
    }
    return w;
}

void addFlattened(const Contour &contour, QList<const Contour *> &list)
{
    list.append(&contour);
    for (const Contour &child : contour.children())
        addFlattened(child, list);
}

} // namespace

double Contour::squaredDistance(const geom::Point2Df &p) const
{
    const int n = m_points.size();
    if (n == 0)
        return std::numeric_limits<double>::infinity();
    const Point2Df *pts = m_points.constData();
    if (n == 1)
        return util2D::squaredDistanceToSegment(p, pts[0], pts[0]);
    double best = std::numeric_limits<double>::infinity();
    Point2Df prev = pts[n - 1];
    for (int i = 0; i < n; ++i) {
        best = std::min(best, util2D::squaredDistanceToSegment(p, pts[i], prev));
        prev = pts[i];
    }
    return best;
}

double Contour::distance(const geom::Point2Df &p) const
{
    const double d2 = squaredDistance(p);
    return d2 <= 1e-12 ? 0.0 : std::sqrt(d2);
}

bool Contour::isOnBoundary(const geom::Point2Df &p, int *edgeIndex) const
{
    const int n = m_points.size();
    if (n < 2)
        return false;
    if (n > boxPrefilterVertices) {
        update();
        if (!nearBox(m_bounds, p))
            return false;
    }
    const Point2Df *pts = m_points.constData();
    int prev = n - 1;
    for (int i = 0; i < n; ++i) {
        if (util2D::isOnSegment(p, pts[i], pts[prev], 0)) {
            if (edgeIndex)
                *edgeIndex = prev;
            return true;
        }
        prev = i;
    }
    return false;
}

bool Contour::contains(const geom::Point2Df &q, bool skipBoundsCheck) const
{
    const int n = m_points.size();
    if (n < 3)
        return false;
    if (n > boxPrefilterVertices && !skipBoundsCheck) {
        update();
        if (!m_bounds.contains(q))
            return false;
    }
    return windingNumber(m_points.constData(), n, q) != 0;
}

int Contour::countInside(const Contour &other, int stopAt) const
{
    const int n = m_points.size();
    if (n < 3 || other.m_points.isEmpty())
        return 0;
    const bool prefilter = n > boxPrefilterVertices;
    if (prefilter)
        update();
    int count = 0;
    for (const Point2Df &q : other.m_points) {
        if (prefilter && !m_bounds.contains(q))
            continue;
        if (windingNumber(m_points.constData(), n, q) != 0) {
            ++count;
            if (count == stopAt)
                return count;
        }
    }
    return count;
}

int Contour::countContaining(const geom::Point2Df &q) const
{
    if (!contains(q))
        return 0;
    int count = 1;
    for (const Contour &child : children())
        count += child.countContaining(q);
    return count;
}

bool Contour::containsContour(const Contour &other) const
{
    // A hole already filed under this contour is inside it by construction.
    if (!children().isEmpty() && (other.area() >= 0.0) != (area() >= 0.0)) {
        for (const Contour &child : children()) {
            if (&child == &other)
                return true;
        }
    }
    if (other.countInside(*this, 1) > 0)
        return false;
    return countInside(other, 0) == other.m_points.size();
}

bool Contour::boundsIntersect(const Contour &other) const
{
    const geom::Bounds2Df otherBox = other.boundingRect();
    return boundingRect().intersects(otherBox);
}

Contour::PointSet Contour::allPoints() const
{
    PointSet all = pointSet();
    for (const Contour &child : children()) {
        const PointSet childPoints = child.allPoints();
        all.insert(childPoints.cbegin(), childPoints.cend());
    }
    return all;
}

int Contour::comparePoints(const Contour &other) const
{
    return pointsets::compare(allPoints(), other.allPoints());
}

QMultiMap<double, geom::Point2Df> Contour::sortedPoints(uint sortMode, const geom::Point2Df &ref) const
{
    QMultiMap<double, Point2Df> map;
    if (sortMode & 0x20) {
        for (const Contour &child : children()) {
            const QMultiMap<double, Point2Df> childMap = child.sortedPoints(sortMode, ref);
            for (auto it = childMap.cbegin(); it != childMap.cend(); ++it)
                map.insert(it.key(), it.value());
        }
    }
    const uint key = sortMode & 0xF;
    const bool reversed = (sortMode & 0x10) != 0;
    for (const Point2Df &p : m_points) {
        double k;
        if (key == 2) {
            k = (p - ref).length();
        } else if (key == 3) {
            k = double(p.x * ref.x + p.y * ref.y) / ref.length();
            if (reversed)
                k = -k;
        } else if (key == 4) {
            k = double(p.x * ref.y - p.y * ref.x);
            if (reversed)
                k = -k;
        } else {
            const float dx = p.x - ref.x;
            const float dy = p.y - ref.y;
            k = double(dx) * double(dx) + double(dy) * double(dy);
        }
        // A NaN key (a point that is not a number, or a projection on a zero
        // reference) orders against no other: it would take the place of
        // whichever entry the search ends on.
        if (std::isnan(k))
            continue;
        // The later of two points with one key wins.
        map.replace(k, p);
    }
    if (reversed && key != 3 && key != 4) {
        // The keys keep their order and the points come in reverse.
        const QList<double> keys = map.keys();
        const QList<Point2Df> points = map.values();
        QMultiMap<double, Point2Df> flipped;
        for (int i = 0; i < keys.size(); ++i)
            flipped.insert(keys.at(i), points.at(points.size() - 1 - i));
        return flipped;
    }
    return map;
}

QList<const Contour *> Contour::flatten() const
{
    QList<const Contour *> list;
    addFlattened(*this, list);
    return list;
}

Contour Contour::takeChild(int index)
{
    QVector<Contour> &own = mutableChildren();
    Contour child = std::move(own[index]);
    own.remove(index);
    return child;
}
