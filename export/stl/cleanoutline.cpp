#include "cleanoutline_p.h"

#include "segments_p.h"

#include <cmath>
#include <limits>

namespace geom {

namespace {

// Orientation of c against the line a->b; 0 when the sign is uncertain in
// double arithmetic.
int orientation(const Point2Df &a, const Point2Df &b, const Point2Df &c)
{
    return geom::orientation(a.x, a.y, b.x, b.y, c.x, c.y, 1e-12);
}

// Whether the closed segments a-b and c-d may share a point (uncertain signs
// count as contact).
bool mayTouch(const Point2Df &a, const Point2Df &b, const Point2Df &c, const Point2Df &d)
{
    return segmentsMayTouch(a.x, a.y, b.x, b.y, c.x, c.y, d.x, d.y, 1e-12);
}

// Twice the signed area.
double doubleArea(const QVector<Point2Df> &p)
{
    double sum = 0.0;
    const int n = p.size();
    for (int i = 0, j = n - 1; i < n; j = i++)
        sum += (double(p[j].x) - p[i].x) * (double(p[j].y) + p[i].y);
    return sum;
}

// The winding number of q about the closed polygon p; q must not lie on it.
int windingNumber(const Point2Df &q, const QVector<Point2Df> &p)
{
    int w = 0;
    const int n = p.size();
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const Point2Df &a = p[j], &b = p[i];
        if (a.y <= q.y) {
            if (b.y > q.y && orientation(a, b, q) > 0)
                ++w;
        } else if (b.y <= q.y && orientation(a, b, q) < 0) {
            --w;
        }
    }
    return w;
}

} // namespace

bool CleanOutline::find(const Slice &slice, Slice &outline, int &usable)
{
    m_contours.clear();
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        const QVector<Point2Df> &points = slice.contourAt(i).points();
        if (points.size() >= 3)
            m_contours.push_back(&points);
    }
    usable = int(m_contours.size());
    outline = Slice(slice.z(), slice.thickness());
    if (m_contours.empty())
        return true;
    if (!separate())
        return false;

    // No contour meets another, so each has one winding number of the
    // others all along it.
    m_boxes.clear();
    m_areas.clear();
    for (const QVector<Point2Df> *c : m_contours) {
        Bounds2Df box;
        box.extend(c->constData(), c->size());
        m_boxes.push_back(box);
        const double a = doubleArea(*c);
        if (a == 0.0)
            return false;
        m_areas.push_back(a);
    }
    const int n = int(m_contours.size());
    // The boxes go into the grid of the edges, so that a contour meets
    // only the others whose box covers the cell of its first vertex.
    const size_t cells = size_t(m_side) * m_side;
    m_boxStart.assign(cells + 1, 0);
    qint64 entries = 0;
    for (const Bounds2Df &b : m_boxes)
        entries += qint64(cellOf(b.maxX, m_minX) - cellOf(b.minX, m_minX) + 1)
                   * (cellOf(b.maxY, m_minY) - cellOf(b.minY, m_minY) + 1);
    const bool indexed = entries <= 16 * qint64(n) + qint64(cells);
    if (indexed) {
        for (const Bounds2Df &b : m_boxes)
            for (int y = cellOf(b.minY, m_minY); y <= cellOf(b.maxY, m_minY); ++y)
                for (int x = cellOf(b.minX, m_minX); x <= cellOf(b.maxX, m_minX); ++x)
                    ++m_boxStart[size_t(y) * m_side + x + 1];
        for (size_t k = 0; k < cells; ++k)
            m_boxStart[k + 1] += m_boxStart[k];
        m_boxContours.resize(size_t(entries));
        m_fill.assign(m_boxStart.begin(), m_boxStart.end() - 1);
        for (int d = 0; d < n; ++d) {
            const Bounds2Df &b = m_boxes[size_t(d)];
            for (int y = cellOf(b.minY, m_minY); y <= cellOf(b.maxY, m_minY); ++y)
                for (int x = cellOf(b.minX, m_minX); x <= cellOf(b.maxX, m_minX); ++x)
                    m_boxContours[size_t(m_fill[size_t(y) * m_side + x]++)] = d;
        }
    }
    for (int c = 0; c < n; ++c) {
        const Point2Df &q = m_contours[size_t(c)]->first();
        const size_t cell = size_t(cellOf(q.y, m_minY)) * m_side + cellOf(q.x, m_minX);
        const int from = indexed ? m_boxStart[cell] : 0, to = indexed ? m_boxStart[cell + 1] : n;
        int w = 0;
        for (int k = from; k < to; ++k) {
            const int d = indexed ? m_boxContours[size_t(k)] : k;
            const Bounds2Df &b = m_boxes[size_t(d)];
            if (d != c && q.x >= b.minX && q.x <= b.maxX && q.y >= b.minY && q.y <= b.maxY)
                w += windingNumber(q, *m_contours[size_t(d)]);
        }
        if (w + (m_areas[size_t(c)] > 0.0 ? 0 : -1) == 0)
            outline.addContour(Contour(*m_contours[size_t(c)]));
    }
    return true;
}

bool CleanOutline::separate()
{
    int edgeCount = 0;
    double minX = std::numeric_limits<double>::max(), minY = minX, maxX = -minX, maxY = -minX;
    for (const QVector<Point2Df> *c : m_contours) {
        edgeCount += c->size();
        for (const Point2Df &p : *c) {
            minX = std::fmin(minX, double(p.x));
            maxX = std::fmax(maxX, double(p.x));
            minY = std::fmin(minY, double(p.y));
            maxY = std::fmax(maxY, double(p.y));
        }
    }
    const double extent = std::fmax(maxX - minX, maxY - minY);
    if (!(extent > 0.0) || !std::isfinite(extent))
        return false;
    m_side = int(std::fmax(1.0, std::fmin(std::sqrt(double(edgeCount)), 2048.0)));
    m_scale = m_side / (extent * (1.0 + 1e-9));
    m_minX = minX;
    m_minY = minY;
    const int side = m_side;

    m_edges.clear();
    m_ranges.clear();
    m_cellStart.assign(size_t(side) * side + 1, 0);
    qint64 entries = 0;
    for (int c = 0; c < int(m_contours.size()); ++c) {
        const QVector<Point2Df> &p = *m_contours[size_t(c)];
        const int n = p.size();
        for (int i = 0; i < n; ++i) {
            const Point2Df &a = p[i], &b = p[i + 1 < n ? i + 1 : 0];
            if (a == b)
                return false;
            const int x0 = cellOf(std::fmin(a.x, b.x), minX), x1 = cellOf(std::fmax(a.x, b.x), minX);
            const int y0 = cellOf(std::fmin(a.y, b.y), minY), y1 = cellOf(std::fmax(a.y, b.y), minY);
            entries += qint64(x1 - x0 + 1) * (y1 - y0 + 1);
            if (entries > 16 * qint64(edgeCount) + 1024)
                return false;
            m_edges.push_back({a, b, c, i, n});
            m_ranges.push_back({x0, x1, y0, y1});
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x)
                    ++m_cellStart[size_t(y) * side + x + 1];
        }
    }
    const size_t cells = size_t(side) * side;
    for (size_t k = 0; k < cells; ++k)
        m_cellStart[k + 1] += m_cellStart[k];
    m_cellEdges.resize(size_t(entries));
    m_fill.assign(m_cellStart.begin(), m_cellStart.end() - 1);
    for (int e = 0; e < int(m_edges.size()); ++e) {
        const std::array<int, 4> &r = m_ranges[size_t(e)];
        for (int y = r[2]; y <= r[3]; ++y)
            for (int x = r[0]; x <= r[1]; ++x)
                m_cellEdges[size_t(m_fill[size_t(y) * side + x]++)] = e;
    }

    qint64 pairs = 0;
    for (size_t k = 0; k < cells; ++k) {
        const int from = m_cellStart[k], to = m_cellStart[k + 1];
        pairs += qint64(to - from) * (to - from - 1) / 2;
        if (pairs > 64 * qint64(edgeCount) + 4096)
            return false;
        for (int i = from; i < to; ++i) {
            const Edge &e = m_edges[size_t(m_cellEdges[size_t(i)])];
            for (int j = i + 1; j < to; ++j) {
                const Edge &f = m_edges[size_t(m_cellEdges[size_t(j)])];
                if (e.contour == f.contour) {
                    const bool next = (e.index + 1) % e.size == f.index;
                    const bool previous = (f.index + 1) % e.size == e.index;
                    if (next || previous) {
                        // Neighbours share a vertex; they must not fold
                        // back over each other.
                        const Point2Df &p0 = next ? e.a : f.a, &shared = next ? e.b : e.a,
                                       &p1 = next ? f.b : e.b;
                        if (orientation(p0, shared, p1) == 0
                            && (double(p0.x) - shared.x) * (double(p1.x) - shared.x)
                                       + (double(p0.y) - shared.y) * (double(p1.y) - shared.y)
                                   >= 0.0)
                            return false;
                        continue;
                    }
                }
                if (mayTouch(e.a, e.b, f.a, f.b))
                    return false;
            }
        }
    }
    return true;
}

} // namespace geom
