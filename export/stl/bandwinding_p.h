#ifndef GEOM_BANDWINDING_P_H
#define GEOM_BANDWINDING_P_H

#include "layercontours_p.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace geom {

// The winding number about the pieces of one band of a layer (0 or 1 inside
// the band, as the pieces are parts of an outline), for many points: the edges
// are sorted into horizontal rows so that a point meets only the edges of its
// row. The storage is kept from band to band.
class BandWinding
{
public:
    void build(const LayerContours &layer, int from, int to);

    // -1 when a sign cannot be told in double precision.
    int at(double x, double y) const
    {
        if (m_rows == 0)
            return 0;
        const int r = row(y);
        int w = 0;
        for (int k = m_start[size_t(r)]; k < m_start[size_t(r) + 1]; ++k) {
            const Edge &e = m_edges[size_t(m_index[size_t(k)])];
            const bool up = e.ay <= y && e.by > y, down = e.ay > y && e.by <= y;
            if (!up && !down)
                continue;
            const double left = (e.bx - e.ax) * (y - e.ay), right = (e.by - e.ay) * (x - e.ax);
            const double det = left - right;
            if (std::fabs(det) <= 1e-12 * (std::fabs(left) + std::fabs(right)))
                return -1;
            if (up && det > 0)
                ++w;
            else if (down && det < 0)
                --w;
        }
        return w;
    }

private:
    struct Edge
    {
        double ax, ay, bx, by;
    };

    int row(double y) const { return std::max(0, std::min(m_rows - 1, int((y - m_y0) * m_scale))); }

    std::vector<Edge> m_edges;
    std::vector<int> m_start;
    std::vector<int> m_index;
    std::vector<int> m_fill;
    int m_rows = 0;
    double m_y0 = 0.0;
    double m_scale = 0.0;
};

} // namespace geom

#endif // GEOM_BANDWINDING_P_H
