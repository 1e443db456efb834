#include "loopclearance_p.h"

#include "facemesh_p.h"
#include "segments_p.h"
#include "util2d.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace geom {

int LoopClearance::cellOf(double v, double lo) const
{
    return std::min(m_side - 1, std::max(0, int((v - lo) * m_scale)));
}

int LoopClearance::index(const StlLayer &layer, double clearance)
{
    const QList<QVector<double>> &loops = layer.loops;
    int vertices = 0;
    double minX = std::numeric_limits<double>::max(), minY = minX, maxX = -minX, maxY = -minX;
    m_loopStart.clear();
    m_edges.clear();
    for (const QVector<double> &loop : loops) {
        m_loopStart.push_back(vertices);
        vertices += loop.size() / 2;
        for (int i = 0; i < loop.size(); i += 2) {
            minX = std::fmin(minX, loop[i]);
            maxX = std::fmax(maxX, loop[i]);
            minY = std::fmin(minY, loop[i + 1]);
            maxY = std::fmax(maxY, loop[i + 1]);
        }
    }
    if (vertices < 4)
        return vertices;
    const double extent = std::fmax(maxX - minX, maxY - minY) + 2.0 * clearance;
    m_minX = minX - clearance;
    m_minY = minY - clearance;

    // Each edge, widened by the clearance, in the cells of a uniform grid; a
    // grid too fine for edges that span many cells is made coarser.
    auto eachCell = [&](auto &&visit) {
        int edge = 0;
        for (int l = 0; l < layer.loops.size(); ++l) {
            const QVector<double> &loop = loops[l];
            const int n = loop.size() / 2;
            for (int i = 0; i < n; ++i, ++edge) {
                const int j = i + 1 < n ? i + 1 : 0;
                const int x0 = cellOf(std::fmin(loop[2 * i], loop[2 * j]) - clearance, m_minX);
                const int x1 = cellOf(std::fmax(loop[2 * i], loop[2 * j]) + clearance, m_minX);
                const int y0 = cellOf(std::fmin(loop[2 * i + 1], loop[2 * j + 1]) - clearance, m_minY);
                const int y1 = cellOf(std::fmax(loop[2 * i + 1], loop[2 * j + 1]) + clearance, m_minY);
                for (int y = y0; y <= y1; ++y)
                    for (int x = x0; x <= x1; ++x)
                        visit(edge, size_t(y) * m_side + x);
            }
        }
    };
    m_side = int(std::fmax(1.0, std::fmin(std::sqrt(double(vertices)), 2048.0)));
    qint64 entries = 0;
    for (;;) {
        m_scale = m_side / (extent * (1.0 + 1e-9));
        m_cellStart.assign(size_t(m_side) * m_side + 1, 0);
        entries = 0;
        eachCell([&](int, size_t cell) {
            ++entries;
            ++m_cellStart[cell + 1];
        });
        if (entries <= 16 * qint64(vertices) + 1024 || m_side == 1)
            break;
        m_side = std::max(1, m_side / 2);
    }
    const size_t cells = size_t(m_side) * m_side;
    for (size_t k = 0; k < cells; ++k)
        m_cellStart[k + 1] += m_cellStart[k];
    m_cellEdges.resize(size_t(entries));
    m_fill.assign(m_cellStart.begin(), m_cellStart.end() - 1);
    eachCell([&](int edge, size_t cell) { m_cellEdges[size_t(m_fill[cell]++)] = edge; });
    m_edges.clear();
    for (int l = 0; l < loops.size(); ++l) {
        const QVector<double> &loop = loops[l];
        const int n = loop.size() / 2;
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 < n ? i + 1 : 0;
            m_edges.push_back({l, i, loop[2 * i], loop[2 * i + 1], loop[2 * j], loop[2 * j + 1]});
        }
    }
    return vertices;
}

bool LoopClearance::meets(double ax, double ay, double bx, double by, int loop, int before, int after) const
{
    if (m_edges.empty())
        return false;
    const int x0 = cellOf(std::fmin(ax, bx), m_minX), x1 = cellOf(std::fmax(ax, bx), m_minX);
    const int y0 = cellOf(std::fmin(ay, by), m_minY), y1 = cellOf(std::fmax(ay, by), m_minY);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const size_t c = size_t(y) * m_side + x;
            for (int k = m_cellStart[c]; k < m_cellStart[c + 1]; ++k) {
                const Edge &e = m_edges[size_t(m_cellEdges[size_t(k)])];
                if (e.loop == loop && (e.index == before || e.index == after))
                    continue;
                // Exact signs: touching counts, a hair apart does not.
                if (segmentsMayTouch(ax, ay, bx, by, e.ax, e.ay, e.bx, e.by, 0.0))
                    return true;
            }
        }
    }
    return false;
}

bool LoopClearance::near(double x, double y, double reach, int loop, int before, int after) const
{
    if (m_edges.empty())
        return false;
    const size_t c = size_t(cellOf(y, m_minY)) * m_side + cellOf(x, m_minX);
    for (int k = m_cellStart[c]; k < m_cellStart[c + 1]; ++k) {
        const Edge &e = m_edges[size_t(m_cellEdges[size_t(k)])];
        if (e.loop == loop && (e.index == before || e.index == after))
            continue;
        if (util2D::squaredDistanceToSegment(Point2Dd(x, y), Point2Dd(e.bx, e.by), Point2Dd(e.ax, e.ay)) < reach * reach)
            return true;
    }
    return false;
}

bool LoopClearance::snap(StlLayer &layer, double clearance, double grid)
{
    const QList<QVector<double>> &loops = layer.loops;
    const int vertices = index(layer, clearance);
    if (vertices < 4)
        return false;

    // The nearest edge within the clearance of each vertex (its loop also
    // when the vertex lies on one of that edge's ends).
    m_near.assign(size_t(vertices), Near{-1, -1, 0.0});
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &loop = loops[l];
        const int n = loop.size() / 2;
        for (int i = 0; i < n; ++i) {
            const double vx = loop[2 * i], vy = loop[2 * i + 1];
            const size_t c = size_t(cellOf(vy, m_minY)) * m_side + cellOf(vx, m_minX);
            Near &near = m_near[size_t(m_loopStart[size_t(l)] + i)];
            double bestDistance2 = clearance * clearance;
            for (int k = m_cellStart[c]; k < m_cellStart[c + 1]; ++k) {
                const Edge &e = m_edges[size_t(m_cellEdges[size_t(k)])];
                const double ax = e.ax, ay = e.ay, bx = e.bx, by = e.by;
                if (vx < std::fmin(ax, bx) - clearance || vx > std::fmax(ax, bx) + clearance
                    || vy < std::fmin(ay, by) - clearance || vy > std::fmax(ay, by) + clearance)
                    continue;
                if (e.loop == l && (e.index == i || e.index == (i + n - 1) % n))
                    continue;
                if ((vx == ax && vy == ay) || (vx == bx && vy == by)) {
                    if (near.edge < 0)
                        near.loop = e.loop;
                    continue;
                }
                const double dx = bx - ax, dy = by - ay, l2 = dx * dx + dy * dy;
                if (!(l2 > 0.0))
                    continue;
                const double t = std::fmin(1.0, std::fmax(0.0, ((vx - ax) * dx + (vy - ay) * dy) / l2));
                const double ex = vx - (ax + t * dx), ey = vy - (ay + t * dy);
                const double distance2 = ex * ex + ey * ey;
                if (distance2 < bestDistance2) {
                    near = {e.loop, m_cellEdges[size_t(k)], t};
                    bestDistance2 = distance2;
                }
            }
        }
    }

    // The loop of a vertex near each edge.
    m_touchedBy.assign(m_edges.size(), -1);
    for (int l = 0; l < layer.loops.size(); ++l) {
        const int n = loops[l].size() / 2;
        for (int i = 0; i < n; ++i) {
            const Near &near = m_near[size_t(m_loopStart[size_t(l)] + i)];
            if (near.edge >= 0)
                m_touchedBy[size_t(near.edge)] = l;
        }
    }

    // A vertex near an edge moves onto it when the loops run along each other
    // there, back to back: a neighbour of the vertex is near that loop as well,
    // or a vertex of that loop is near one of the vertex's own edges. Where
    // only that vertex comes near, it is taken off the edge instead.
    std::vector<double> moved;
    std::vector<char> isMoved;
    m_inserts.clear();
    auto round = [grid](double v) { return grid >= double(1e-5f) ? std::round(v / grid) * grid : v; };
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &loop = loops[l];
        const int n = loop.size() / 2;
        const int first = m_loopStart[size_t(l)];
        for (int i = 0; i < n; ++i) {
            const Near &near = m_near[size_t(first + i)];
            if (near.edge < 0)
                continue;
            const Near &before = m_near[size_t(first + (i + n - 1) % n)], &after = m_near[size_t(first + (i + 1) % n)];
            bool pointTouch = false, cutCorner = false;
            double cuts[4];
            const int ownEdge = first + i, ownBefore = first + (i + n - 1) % n;
            if (before.loop != near.loop && after.loop != near.loop && m_touchedBy[size_t(ownEdge)] != near.loop
                && m_touchedBy[size_t(ownBefore)] != near.loop)
                pointTouch = true;
            const double vx = loop[2 * i], vy = loop[2 * i + 1];
            const Edge &e = m_edges[size_t(near.edge)];
            const QVector<double> &other = loops[e.loop];
            const int m = other.size() / 2;
            const int j = e.index + 1 < m ? e.index + 1 : 0;
            const double ax = other[2 * e.index], ay = other[2 * e.index + 1];
            const double bx = other[2 * j], by = other[2 * j + 1];
            const double da = std::hypot(vx - ax, vy - ay), db = std::hypot(vx - bx, vy - by);
            double tx, ty;
            if (pointTouch) {
                // Only the vertex comes near the edge (on it, or a hair's
                // breadth off): its corner is cut where its own edges are the
                // clearance and a grid step away from that edge's line, which
                // changes the area by little more than the clearance squared.
                // Near an end of the edge the loops meet at a corner, which
                // the corner cut parts.
                if (da < clearance || db < clearance)
                    continue;
                const double dx = bx - ax, dy = by - ay, length = std::hypot(dx, dy);
                auto distance = [&](double px, double py) { return ((px - ax) * dy - (py - ay) * dx) / length; };
                const double off = clearance + grid;
                const double dv = distance(vx, vy);
                const int prev = (i + n - 1) % n, next = (i + 1) % n;
                const double dp = distance(loop[2 * prev], loop[2 * prev + 1]);
                const double dn = distance(loop[2 * next], loop[2 * next + 1]);
                // Neighbours on both sides: the loop crosses the edge there.
                if (!(dp * dn > 0.0))
                    continue;
                const double sign = dp > 0.0 ? 1.0 : -1.0;
                cutCorner = true;
                for (int k = 0; k < 2; ++k) {
                    const int w = k == 0 ? prev : next;
                    const double wx = loop[2 * w], wy = loop[2 * w + 1], dw = k == 0 ? dp : dn;
                    const double u = (sign * off - dv) / (dw - dv);
                    if (!(std::fabs(dw) > off) || !(u > 0.0 && u < 1.0)) {
                        cutCorner = false;
                        break;
                    }
                    const Point2Df c = filePoint(round(vx + u * (wx - vx)), round(vy + u * (wy - vy)));
                    cuts[2 * k] = double(c.x);
                    cuts[2 * k + 1] = double(c.y);
                }
                if (cutCorner) {
                    tx = cuts[0];
                    ty = cuts[1];
                } else {
                    // A neighbour within that reach as well: the vertex is
                    // moved off the edge, square to it, instead.
                    const Point2Df p = filePoint(round(vx + (sign * off - dv) * dy / length),
                                                 round(vy - (sign * off - dv) * dx / length));
                    tx = double(p.x);
                    ty = double(p.y);
                }
            } else if (da < clearance || db < clearance) {
                // Onto the nearer end; of two vertices that are each other's
                // nearest, only one moves, so that they meet.
                const bool toA = da < clearance && da <= db;
                tx = toA ? ax : bx;
                ty = toA ? ay : by;
                if (tx > vx || (tx == vx && ty > vy))
                    continue;
            } else {
                const Point2Df p = filePoint(round(ax + near.t * (bx - ax)), round(ay + near.t * (by - ay)));
                tx = double(p.x);
                ty = double(p.y);
                if (!(tx == ax && ty == ay) && !(tx == bx && ty == by))
                    m_inserts.push_back({e.loop, e.index, near.t, tx, ty});
            }
            if (moved.empty()) {
                moved.assign(size_t(vertices) * 4, 0.0);
                isMoved.assign(size_t(vertices), 0);
            }
            const size_t v = size_t(first + i);
            moved[4 * v] = tx;
            moved[4 * v + 1] = ty;
            isMoved[v] = 1;
            if (cutCorner) {
                moved[4 * v + 2] = cuts[2];
                moved[4 * v + 3] = cuts[3];
                isMoved[v] = 2;
            }
        }
    }
    if (isMoved.empty())
        return false;

    std::sort(m_inserts.begin(), m_inserts.end(), alongLoopEdges<Insert>);
    size_t next = 0;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &loop = layer.loops[l];
        const int n = loop.size() / 2;
        QVector<double> values;
        values.reserve(loop.size() + 8);
        auto append = [&values](double x, double y) {
            if (values.size() >= 2 && values[values.size() - 2] == x && values.last() == y)
                return;
            values.append(x);
            values.append(y);
        };
        for (int i = 0; i < n; ++i) {
            const size_t v = size_t(m_loopStart[size_t(l)] + i);
            if (!isMoved[v])
                append(loop[2 * i], loop[2 * i + 1]);
            else
                append(moved[4 * v], moved[4 * v + 1]);
            if (isMoved[v] == 2)
                append(moved[4 * v + 2], moved[4 * v + 3]);
            for (; next < m_inserts.size() && m_inserts[next].loop == l && m_inserts[next].edge == i; ++next)
                append(m_inserts[next].x, m_inserts[next].y);
        }
        while (values.size() > 2 && values[0] == values[values.size() - 2] && values[1] == values.last())
            values.resize(values.size() - 2);
        layer.loops[l] = values;
    }
    for (int l = layer.loops.size() - 1; l >= 0; --l) {
        if (layer.loops[l].size() < 6)
            layer.loops.removeAt(l);
    }
    return true;
}

} // namespace geom
