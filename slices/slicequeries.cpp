// Slice members that test points, circles and contours against the slice's
// material, compare slices by their points, and edit every contour at once.

#include "slice.h"

#include "fuzzyreal.h"
#include "pointsets_p.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

namespace {

using geom::Point2Df;

// The points of a slice in flat order, contour by contour.
class PointWalk
{
public:
    explicit PointWalk(const Slice &slice)
        : m_slice(slice)
        , m_count(slice.contourCount())
    {
    }

    bool next(Point2Df &p)
    {
        while (m_contour < m_count) {
            const QVector<Point2Df> &points = m_slice.contourAt(m_contour).points();
            if (m_point < points.size()) {
                p = points.at(m_point++);
                return true;
            }
            ++m_contour;
            m_point = 0;
        }
        return false;
    }

private:
    const Slice &m_slice;
    const int m_count;
    int m_contour = 0;
    int m_point = 0;
};

} // namespace

bool Slice::contains(const geom::Point2Df &p, int *outerIndex, Qt::FillRule rule) const
{
    if (d->contours.isEmpty())
        return false;
    update();
    if (!d->bounds.contains(p))
        return false;
    int w = 0;
    double best = 0.0;
    const int count = contourCount();
    for (int i = 0; i < count; ++i) {
        const Contour &c = contourAt(i);
        if (!c.contains(p, false))
            continue;
        const double a = c.area();
        if (a >= 0.0) {
            ++w;
            if (outerIndex && a > best) {
                *outerIndex = i;
                best = a;
            }
        } else {
            --w;
        }
    }
    return rule == Qt::WindingFill ? w != 0 : (w & 1) != 0;
}

bool Slice::hitTest(const geom::Circle2Df &circle) const
{
    if (circle.isNull())
        return false;
    const Point2Df centre = circle.center();
    if (contains(centre, nullptr, Qt::WindingFill))
        return true;
    const double r2 = double(circle.r * circle.r);
    for (int i = contourCount() - 1; i >= 0; --i) {
        const double d2 = contourAt(i).squaredDistance(centre);
        if (d2 <= r2 || geom::FuzzyReal<double>(d2) == r2)
            return true;
    }
    return false;
}

int Slice::windingCount(const Contour &other, int limit) const
{
    int w = 0;
    for (const Contour &c : d->contours) {
        const int k = c.countInside(other, limit);
        if (k != 0)
            w += c.area() >= 0.0 ? k : -k;
        // |w| > limit rather than w x w > limit x limit, which overflows.
        if (limit >= 1 && std::abs(w) > limit)
            break;
    }
    return w;
}

bool Slice::anyCornerInside(const geom::Bounds2Df &box) const
{
    const Point2Df corners[4] = {box.anchor(geom::MinX | geom::MinY), box.anchor(geom::MaxX | geom::MinY),
                                 box.anchor(geom::MinX | geom::MaxY), box.anchor(geom::MaxX | geom::MaxY)};
    int counts[4] = {0, 0, 0, 0};
    const int count = contourCount();
    for (int i = 0; i < count; ++i) {
        const Contour &c = contourAt(i);
        if (!c.boundingRect().intersects(box))
            continue;
        for (int k = 0; k < 4; ++k) {
            if (c.contains(corners[k], true))
                ++counts[k];
        }
    }
    return std::any_of(std::begin(counts), std::end(counts), [](int n) { return (n & 1) != 0; });
}

QList<const Contour *> Slice::flatten() const
{
    QList<const Contour *> list;
    for (const Contour &c : d->contours)
        list += c.flatten();
    return list;
}

Contour::PointSet Slice::pointSet() const
{
    Contour::PointSet all;
    for (const Contour &c : d->contours) {
        if (d->format == 0) {
            const Contour::PointSet &own = c.pointSet();
            all.insert(own.cbegin(), own.cend());
        } else {
            const Contour::PointSet tree = c.allPoints();
            all.insert(tree.cbegin(), tree.cend());
        }
    }
    return all;
}

geom::Point2Df Slice::compare(const Slice &a, const Slice &b)
{
    const int na = a.contourCount();
    const int nb = b.contourCount();
    if (na != nb)
        return Point2Df(float(na - nb), float(nb - na));
    double sx = 0.0;
    double sy = 0.0;
    PointWalk walkA(a);
    PointWalk walkB(b);
    Point2Df p;
    Point2Df q;
    bool moreA = walkA.next(p);
    bool moreB = walkB.next(q);
    while (moreA && moreB) {
        sx += double(p.x) - double(q.x);
        sy += double(p.y) - double(q.y);
        moreA = walkA.next(p);
        moreB = walkB.next(q);
    }
    for (; moreA; moreA = walkA.next(p)) {
        sx += double(p.x);
        sy += double(p.y);
    }
    for (; moreB; moreB = walkB.next(q)) {
        sx -= double(q.x);
        sy -= double(q.y);
    }
    return Point2Df(float(sx), float(sy));
}

Contour::PointSet Slice::commonPoints(const Slice &a, const Slice &b)
{
    const Contour::PointSet pa = a.pointSet();
    const Contour::PointSet pb = b.pointSet();
    Contour::PointSet common;
    std::set_intersection(pb.cbegin(), pb.cend(), pa.cbegin(), pa.cend(), std::inserter(common, common.end()),
                          Contour::PointLess());
    return common;
}

int Slice::comparePoints(const Slice &a, const Slice &b)
{
    return pointsets::compare(a.pointSet(), b.pointSet());
}

QList<QList<int> > Slice::matchContours(const QVector<Contour> &first, const QVector<Contour> &second)
{
    QVector<Contour::PointSet> secondPoints;
    QVector<Point2Df> secondCentres;
    secondPoints.reserve(second.size());
    secondCentres.reserve(second.size());
    for (const Contour &s : second) {
        secondPoints.append(s.allPoints());
        secondCentres.append(s.center());
    }
    QList<QList<int> > result;
    for (const Contour &f : first) {
        const Contour::PointSet points = f.allPoints();
        const Point2Df c = f.center();
        // Equal distances iterate most recent first: walking second from the
        // end puts the lower index first.
        QMultiMap<double, int> found;
        for (int k = second.size() - 1; k >= 0; --k) {
            if (pointsets::commonCount(points, secondPoints.at(k), true) == 0)
                continue;
            const float dx = c.x - secondCentres.at(k).x;
            const float dy = c.y - secondCentres.at(k).y;
            found.insert(double(dx) * double(dx) + double(dy) * double(dy), k);
        }
        result.append(found.values());
    }
    return result;
}

void Slice::reverse()
{
    if (d->contours.isEmpty())
        return;
    for (Contour &c : edit().contours)
        c.reverse();
}

void Slice::simplify(double tolerance)
{
    if (!d->contours.isEmpty()) {
        for (Contour &c : edit().contours)
            c.simplify(tolerance);
    }
    invalidate();
}

void Slice::smooth(int radius, double decay)
{
    if (!d->contours.isEmpty()) {
        for (Contour &c : edit().contours)
            c.smooth(radius, decay);
    }
    invalidate();
}

void Slice::resample(double step, unsigned maxDivisions)
{
    if (!d->contours.isEmpty()) {
        QVector<Contour> &contours = edit().contours;
        for (int i = contours.size() - 1; i >= 0; --i) {
            if (maxDivisions == 0 && step > contours.at(i).length())
                contours.remove(i);
            else
                contours[i].resample(step, maxDivisions);
        }
    }
    // A removed group must not leave its entry pointing past the end.
    if (d->format == 2)
        rebuildGroupMap();
    invalidate();
    settle();
}

Slice Slice::resampled(double step, unsigned maxDivisions) const
{
    Slice copy(*this);
    copy.resample(step, maxDivisions);
    return copy;
}

Slice::Slice(const QSet<int> &indices, const Slice &source)
    : Slice(source.m_z, source.m_thickness)
{
    // A set iterates in no fixed order: take the valid indices ascending.
    const QVector<Contour> &from = source.d->contours;
    QVector<int> valid;
    for (const int k : indices) {
        if (k >= 0 && k < from.size())
            valid.append(k);
    }
    std::sort(valid.begin(), valid.end());
    if (valid.isEmpty() && source.d->format == 0)
        return;
    Data &data = edit();
    data.contours.reserve(valid.size());
    for (const int k : qAsConst(valid))
        data.contours.append(from.at(k));
    data.format = source.d->format;
    normalizeFormat();
}
