#ifndef GEOM_WALLLINE_P_H
#define GEOM_WALLLINE_P_H

#include "point2d.h"
#include "stllayerbuilder.h"

#include <vector>

namespace geom {

// Where the wall on one outline edge meets the faces: its bottom line, split
// at the vertices of the faces below (each point at the height the faces give
// it there, lifted or not), or its top line, split at those of the faces
// above. The points run along the edge, from its first vertex to its second.
struct WallLine
{
    std::vector<Point2Df> points;
    std::vector<double> t;
    std::vector<float> z;

    // The line of edge `edge` of loop `loop`, from p to c, at height z0 (the
    // bottom, where a split may lift a point) or z1 (the top). The splits are
    // sorted along the loops' edges; cursor walks them from edge to edge and
    // must start at 0 with the first edge of the first loop.
    void bottom(const StlEdgeSplits &splits, size_t &cursor, int loop, int edge, const Point2Df &p, const Point2Df &c,
                float z0);
    void top(const StlEdgeSplits &splits, size_t &cursor, int loop, int edge, const Point2Df &p, const Point2Df &c,
             float z1);

private:
    void start(const Point2Df &p, float height);
    void finish(const Point2Df &c, float height);
};

} // namespace geom

#endif // GEOM_WALLLINE_P_H
