#include "wallline_p.h"

namespace geom {

namespace {

// Whether the cursor's split lies at or before edge `edge` of loop `loop`.
inline bool upTo(const StlEdgeSplit &split, int loop, int edge)
{
    return split.loop < loop || (split.loop == loop && split.edge <= edge);
}

} // namespace

void WallLine::start(const Point2Df &p, float height)
{
    points.assign(1, p);
    t.assign(1, 0.0);
    z.assign(1, height);
}

void WallLine::finish(const Point2Df &c, float height)
{
    points.push_back(c);
    t.push_back(1.0);
    z.push_back(height);
}

void WallLine::bottom(const StlEdgeSplits &splits, size_t &cursor, int loop, int edge, const Point2Df &p,
                      const Point2Df &c, float z0)
{
    start(p, z0);
    float endZ = z0;
    for (; cursor < splits.size() && upTo(splits[cursor], loop, edge); ++cursor) {
        const StlEdgeSplit &split = splits[cursor];
        if (split.loop != loop || split.edge != edge)
            continue;
        // An entry at an end of the edge only lifts that vertex.
        if (split.point == p && split.t == 0.0) {
            z[0] = z0 + split.lift;
        } else if (split.point == c && split.t == 1.0) {
            endZ = z0 + split.lift;
        } else {
            points.push_back(split.point);
            t.push_back(split.t);
            z.push_back(z0 + split.lift);
        }
    }
    finish(c, endZ);
}

void WallLine::top(const StlEdgeSplits &splits, size_t &cursor, int loop, int edge, const Point2Df &p,
                   const Point2Df &c, float z1)
{
    start(p, z1);
    for (; cursor < splits.size() && upTo(splits[cursor], loop, edge); ++cursor) {
        const StlEdgeSplit &split = splits[cursor];
        if (split.loop == loop && split.edge == edge) {
            points.push_back(split.point);
            t.push_back(split.t);
            z.push_back(z1);
        }
    }
    finish(c, z1);
}

} // namespace geom
