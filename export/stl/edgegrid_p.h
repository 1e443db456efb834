#ifndef GEOM_EDGEGRID_P_H
#define GEOM_EDGEGRID_P_H

#include "point2d.h"
#include "stllayerbuilder.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace geom {

// The outline edges of both layers of a pair, sorted into a grid, to find the
// edge that a piece of a face's outline lies on.
class EdgeGrid
{
public:
    struct Edge
    {
        double px, py, qx, qy;
        int side, loop, index;
        // The bounding box.
        double minX, maxX, minY, maxY;
    };

    void build(const StlLayer &lower, const StlLayer &upper);

    // Adds the ends of the piece u-w of the outline of a face to the splits
    // of the edge (or the coincident edges) it lies on. The face is on the
    // left of the piece: an upward face (the lower layer's) runs along the
    // lower layer's edges and against the upper one's, a downward face the
    // other way round. False when it lies on no edge.
    // The edges the piece may lie on, nearest first, in found (room for 4);
    // when the nearest has a companion along the same line, both. More than
    // one otherwise: the piece is too short to tell (see faces()).
    int candidates(const Point2Df &u, const Point2Df &w, bool down, int *found, bool *ambiguous) const;

    // Whether p is an end of the edge.
    bool isEnd(int edge, const Point2Df &p) const
    {
        const Edge &e = m_edges[size_t(edge)];
        return (double(p.x) == e.px && double(p.y) == e.py) || (double(p.x) == e.qx && double(p.y) == e.qy);
    }

    // Adds the ends of the piece u-w to the splits of the edge.
    void split(int edge, const Point2Df &u, const Point2Df &w, StlEdgeSplits *splits) const
    {
        for (const Point2Df &p : {u, w}) {
            if (!isEnd(edge, p))
                splitAt(edge, p, 0.0f, splits);
        }
    }

    // Adds the point p on the edge, lifted by lift, to the splits of the edge.
    void splitAt(int edge, const Point2Df &p, float lift, StlEdgeSplits *splits) const
    {
        const Edge &e = m_edges[size_t(edge)];
        const double dx = e.qx - e.px, dy = e.qy - e.py, l2 = dx * dx + dy * dy;
        const double t = ((double(p.x) - e.px) * dx + (double(p.y) - e.py) * dy) / l2;
        splits[e.side].push_back({e.loop, e.index, std::fmin(std::fmax(t, 0.0), 1.0), p, lift});
    }

    int indexOf(int side, int loop, int edge) const { return m_loopStart[side][size_t(loop)] + edge; }
    int sideOf(int edge) const { return m_edges[size_t(edge)].side; }

private:
    int cell(double v, double lo) const
    {
        return std::min(m_side - 1, std::max(0, int((v - lo) * m_scale)));
    }

    std::vector<Edge> m_edges;
    std::vector<int> m_loopStart[2];
    std::vector<int> m_start, m_index, m_fill;
    int m_side = 1;
    double m_scale = 0.0, m_minX = 0.0, m_minY = 0.0;
};

} // namespace geom

#endif // GEOM_EDGEGRID_P_H
