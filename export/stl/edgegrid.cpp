#include "edgegrid_p.h"

#include <limits>

namespace geom {

void EdgeGrid::build(const StlLayer &lower, const StlLayer &upper)
{
    m_edges.clear();
    double minX = std::numeric_limits<double>::max(), minY = minX, maxX = -minX, maxY = -minX;
    int side = 0;
    for (const StlLayer *layer : {&lower, &upper}) {
        m_loopStart[side].clear();
        for (int l = 0; l < layer->loops.size(); ++l) {
            const QVector<double> &v = layer->loops[l];
            const int n = v.size() / 2;
            m_loopStart[side].push_back(int(m_edges.size()));
            for (int i = 0; i < n; ++i) {
                const int j = i + 1 < n ? i + 1 : 0;
                m_edges.push_back({v[2 * i], v[2 * i + 1], v[2 * j], v[2 * j + 1], side, l, i,
                                   std::fmin(v[2 * i], v[2 * j]), std::fmax(v[2 * i], v[2 * j]),
                                   std::fmin(v[2 * i + 1], v[2 * j + 1]), std::fmax(v[2 * i + 1], v[2 * j + 1])});
                minX = std::fmin(minX, v[2 * i]);
                maxX = std::fmax(maxX, v[2 * i]);
                minY = std::fmin(minY, v[2 * i + 1]);
                maxY = std::fmax(maxY, v[2 * i + 1]);
            }
        }
        ++side;
    }
    // Outline edges lie along lines, so a grid of a few cells per edge
    // holds few edges per cell.
    m_side = int(std::fmax(1.0, std::fmin(4.0 * std::sqrt(double(m_edges.size())), 2048.0)));
    const double extent = std::fmax(maxX - minX, maxY - minY);
    m_scale = extent > 0.0 ? m_side / (extent * (1.0 + 1e-9)) : 0.0;
    m_minX = minX;
    m_minY = minY;
    m_start.assign(size_t(m_side) * m_side + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            for (size_t k = 1; k < m_start.size(); ++k)
                m_start[k] += m_start[k - 1];
            m_index.resize(size_t(m_start.back()));
            m_fill.assign(m_start.begin(), m_start.end() - 1);
        }
        for (int e = 0; e < int(m_edges.size()); ++e) {
            const Edge &edge = m_edges[size_t(e)];
            const int x0 = cell(edge.minX, m_minX), x1 = cell(edge.maxX, m_minX);
            const int y0 = cell(edge.minY, m_minY), y1 = cell(edge.maxY, m_minY);
            for (int y = y0; y <= y1; ++y) {
                for (int x = x0; x <= x1; ++x) {
                    const size_t c = size_t(y) * size_t(m_side) + size_t(x);
                    if (pass == 0)
                        ++m_start[c + 1];
                    else
                        m_index[size_t(m_fill[c]++)] = e;
                }
            }
        }
    }
}

int EdgeGrid::candidates(const Point2Df &u, const Point2Df &w, bool down, int *found, bool *ambiguous) const
{
    *ambiguous = false;
    const double ux = double(w.x) - u.x, uy = double(w.y) - u.y;
    const double mx = 0.5 * (double(u.x) + w.x), my = 0.5 * (double(u.y) + w.y);
    // Where the rounding of a crossing point to float can put it, and the
    // face mesh's snapping of a crossing point to a vertex (twice its radius).
    const double eps = 4e-6 * std::fmax(1.0, std::fmax(std::fabs(mx), std::fabs(my)));
    const size_t c = size_t(cell(my, m_minY)) * size_t(m_side) + size_t(cell(mx, m_minX));
    double best = std::numeric_limits<double>::max();
    int count = 0;
    for (int k = m_start[c]; k < m_start[c + 1]; ++k) {
        const Edge &e = m_edges[size_t(m_index[size_t(k)])];
        if (mx < e.minX - eps || mx > e.maxX + eps || my < e.minY - eps || my > e.maxY + eps)
            continue;
        // The direction first: it needs no square root, and rules out
        // an edge without length as well.
        const double dx = e.qx - e.px, dy = e.qy - e.py;
        const double along = ux * dx + uy * dy;
        if (!((e.side == 0) != down ? along > 0.0 : along < 0.0))
            continue;
        const double length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0.0))
            continue;
        double worst = 0.0;
        bool within = true;
        for (const Point2Df &p : {u, w}) {
            const double rx = double(p.x) - e.px, ry = double(p.y) - e.py;
            const double along = (rx * dx + ry * dy) / length;
            if (along < -eps || along > length + eps) {
                within = false;
                break;
            }
            worst = std::fmax(worst, std::fabs(rx * dy - ry * dx) / length);
        }
        if (!within || worst > eps)
            continue;
        if (count < 4)
            found[count++] = m_index[size_t(k)];
        if (worst < best) {
            best = worst;
            std::swap(found[0], found[count - 1]);
        }
    }
    // Edges along the same line as the nearest one: where the faces up
    // and down meet, the piece lies on an edge of both layers.
    if (count > 1) {
        const Edge &b = m_edges[size_t(found[0])];
        const double bx = b.qx - b.px, by = b.qy - b.py, bl = std::sqrt(bx * bx + by * by);
        for (int f = 1; f < count; ++f) {
            const Edge &e = m_edges[size_t(found[f])];
            const double ex = e.qx - e.px, ey = e.qy - e.py, el = std::sqrt(ex * ex + ey * ey);
            if (!(std::fabs(bx * ey - by * ex) <= 1e-9 * bl * el))
                *ambiguous = true;
        }
    }
    return count;
}

} // namespace geom
