#include "bandwinding_p.h"

#include <limits>

namespace geom {

void BandWinding::build(const LayerContours &layer, int from, int to)
{
    m_edges.clear();
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (int k = from; k < to; ++k) {
        const LayerContours::Piece &piece = layer.pieces[k];
        const double *v = layer.bandValues.constData() + piece.offset;
        const int n = piece.count;
        for (int i = 0, j = n - 1; i < n; j = i++) {
            // A horizontal edge crosses no horizontal ray.
            if (v[2 * j + 1] == v[2 * i + 1])
                continue;
            m_edges.push_back({v[2 * j], v[2 * j + 1], v[2 * i], v[2 * i + 1]});
            lo = std::fmin(lo, std::fmin(v[2 * j + 1], v[2 * i + 1]));
            hi = std::fmax(hi, std::fmax(v[2 * j + 1], v[2 * i + 1]));
        }
    }
    m_rows = 0;
    if (m_edges.empty())
        return;
    m_rows = std::max(1, std::min(1024, int(m_edges.size()) / 2));
    m_y0 = lo;
    m_scale = hi > lo ? m_rows / (hi - lo) : 0.0;
    m_start.assign(size_t(m_rows) + 1, 0);
    for (const Edge &e : m_edges) {
        const int r0 = row(std::fmin(e.ay, e.by)), r1 = row(std::fmax(e.ay, e.by));
        for (int r = r0; r <= r1; ++r)
            ++m_start[size_t(r) + 1];
    }
    for (int r = 0; r < m_rows; ++r)
        m_start[size_t(r) + 1] += m_start[size_t(r)];
    m_index.resize(size_t(m_start[size_t(m_rows)]));
    m_fill.assign(m_start.begin(), m_start.end() - 1);
    for (int e = 0; e < int(m_edges.size()); ++e) {
        const Edge &edge = m_edges[size_t(e)];
        const int r0 = row(std::fmin(edge.ay, edge.by)), r1 = row(std::fmax(edge.ay, edge.by));
        for (int r = r0; r <= r1; ++r)
            m_index[size_t(m_fill[size_t(r)]++)] = e;
    }
}

} // namespace geom
