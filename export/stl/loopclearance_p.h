#ifndef GEOM_LOOPCLEARANCE_P_H
#define GEOM_LOOPCLEARANCE_P_H

#include "stllayerbuilder.h"

#include <vector>

namespace geom {

// Points on loop edges in walking order: by loop, by edge, then along the edge.
template<typename T>
bool alongLoopEdges(const T &a, const T &b)
{
    if (a.loop != b.loop)
        return a.loop < b.loop;
    if (a.edge != b.edge)
        return a.edge < b.edge;
    return a.t < b.t;
}

// Loops of one layer that come closer to each other (or to themselves) than
// the faces can tell apart: a vertex a fraction of a micrometre from another
// loop's edge, or on it, as islands, or an island and a hole, do where they
// touch along a stretch after the clean-up. The walls of both would stand back
// to back there, and the faces of a pair of layers would place pieces of their
// outline on the wrong edge: edges used by four facets.
//
// snap() merges loops that run along each other: every vertex there that lies
// closer than the clearance to an edge it is not on moves onto that edge (onto
// its end when that is as close), and the edge is split at the same point, so
// that what nearly touched now touches exactly and the layer's outline, made
// once more, merges the loops along the shared stretch and drops the stretch.
// A vertex that comes near an edge alone (a corner on a neighbour's edge) is
// parted from it instead: its corner is cut where its own edges are clear of
// that edge. A vertex already on another loop's vertex is left to the corner
// cut, which parts loops that meet at a point.
class LoopClearance
{
public:
    // True when a vertex was moved or an edge split; the loops are then no
    // longer an outline (they may share stretches) and must be outlined again.
    bool snap(StlLayer &layer, double clearance, double grid);

    // Puts the layer's edges, widened by the reach, into the grid that
    // meets() asks; the number of vertices.
    int index(const StlLayer &layer, double reach);
    // Whether the segment a-b touches or crosses an edge of the layer last
    // indexed, but edges before and after of the loop (the ones it leaves
    // from and goes to).
    bool meets(double ax, double ay, double bx, double by, int loop, int before, int after) const;
    // Whether the point lies within the reach (at most the one indexed) of an
    // edge of the layer last indexed, but edges before and after of the loop.
    bool near(double x, double y, double reach, int loop, int before, int after) const;

private:
    struct Edge
    {
        int loop, index;
        double ax, ay, bx, by;
    };
    struct Near
    {
        int loop, edge;
        double t;
    };
    struct Insert
    {
        int loop, edge;
        double t, x, y;
    };

    int cellOf(double v, double lo) const;

    std::vector<int> m_loopStart;
    std::vector<Edge> m_edges;
    std::vector<int> m_cellStart;
    std::vector<int> m_cellEdges;
    std::vector<int> m_fill;
    std::vector<Near> m_near;
    std::vector<int> m_touchedBy;
    std::vector<Insert> m_inserts;
    int m_side = 1;
    double m_scale = 0.0, m_minX = 0.0, m_minY = 0.0;
};

} // namespace geom

#endif // GEOM_LOOPCLEARANCE_P_H
