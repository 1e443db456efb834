#include "pairclosure_p.h"

#include <algorithm>

namespace geom {

void PairClosure::clear(size_t expectedPoints)
{
    m_points.reset(expectedPoints);
    m_pointCount = 0;
    m_heightCount = 0;
    m_tooManyHeights = false;
    m_edgeTable.reset(2 * expectedPoints);
    m_openEdges = 0;
    m_overused = false;
    m_inside.clear();
    m_side = 0;
}

int PairClosure::vertex(const Point3Df &p)
{
    int h = 0;
    while (h < m_heightCount && m_heights[h] != p.z)
        ++h;
    if (h == m_heightCount) {
        if (m_heightCount == maxHeights) {
            m_tooManyHeights = true;
            return 0;
        }
        m_heights[m_heightCount++] = p.z;
    }
    const int point = m_points.insert(pointKey(Point2Df(p.x, p.y)), m_pointCount, false);
    if (point == m_pointCount)
        ++m_pointCount;
    return point * maxHeights + h;
}

void PairClosure::addFacets(const QVector<Facet> &facets, int from)
{
    for (int i = from; i < facets.size(); ++i) {
        const Facet &f = facets[i];
        const int a = vertex(f.vertex1), b = vertex(f.vertex2), c = vertex(f.vertex3);
        addEdge(a, b);
        addEdge(b, c);
        addEdge(c, a);
    }
}

template <typename Line>
void PairClosure::addLines(const StlLayer &layer, bool reversed, Line line)
{
    size_t cursor = 0;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 < n ? i + 1 : 0;
            line(cursor, l, i, Point2Df(float(v[2 * i]), float(v[2 * i + 1])), Point2Df(float(v[2 * j]), float(v[2 * j + 1])));
            const size_t last = m_line.points.size() - 1;
            for (size_t k = 1; k < last; ++k) {
                const Point2Df &q = m_line.points[k];
                if (!(q == m_line.points[0]) && !(q == m_line.points[last]))
                    m_inside.push_back({pointKey(q), m_side, l, i});
            }
            int a = vertex(Point3Df(m_line.points[0], m_line.z[0]));
            for (size_t k = 0; k < last; ++k) {
                const int b = vertex(Point3Df(m_line.points[k + 1], m_line.z[k + 1]));
                // A wall facet over a split that falls onto its neighbour has
                // no area and is not written; neither is its edge.
                if (a != b)
                    reversed ? addEdge(b, a) : addEdge(a, b);
                a = b;
            }
        }
    }
}

void PairClosure::addWallTops(const StlLayer &layer, const StlEdgeSplits &splits, float z)
{
    // A wall's facets run along its top against the edge's direction.
    m_side = 0;
    addLines(layer, true, [&](size_t &cursor, int l, int i, const Point2Df &p, const Point2Df &c) {
        m_line.top(splits, cursor, l, i, p, c, z);
    });
}

void PairClosure::addWallBottoms(const StlLayer &layer, const StlEdgeSplits &splits, float z)
{
    m_side = 1;
    addLines(layer, false, [&](size_t &cursor, int l, int i, const Point2Df &p, const Point2Df &c) {
        m_line.bottom(splits, cursor, l, i, p, c, z);
    });
}

bool PairClosure::splitsOneEdgeEach()
{
    std::sort(m_inside.begin(), m_inside.end(), [](const Inside &a, const Inside &b) {
        return a.point != b.point ? a.point < b.point : a.side < b.side;
    });
    for (size_t i = 0; i + 1 < m_inside.size(); ++i) {
        const Inside &a = m_inside[i], &b = m_inside[i + 1];
        if (a.point == b.point && a.side == b.side && (a.loop != b.loop || a.edge != b.edge))
            return false;
    }
    return true;
}

void PairClosure::addEdge(int a, int b)
{
    // Both directions of an edge under one key, the directions seen in its
    // value: an edge is open until its second direction comes, and a
    // direction that comes twice is an edge used too often.
    const quint64 key = a < b ? edgeKey(a, b) : edgeKey(b, a);
    const int direction = a < b ? 1 : 2;
    const int seen = m_edgeTable.find(key);
    if (seen < 0) {
        m_edgeTable.insert(key, direction, true);
        ++m_openEdges;
    } else if (seen & direction) {
        m_overused = true;
    } else {
        m_edgeTable.insert(key, seen | direction, true);
        --m_openEdges;
    }
}

bool PairClosure::closed()
{
    return !m_tooManyHeights && !m_overused && m_openEdges == 0 && splitsOneEdgeEach();
}

} // namespace geom
