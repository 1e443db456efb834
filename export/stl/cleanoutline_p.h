#ifndef GEOM_CLEANOUTLINE_P_H
#define GEOM_CLEANOUTLINE_P_H

#include "bounds2d.h"
#include "point2d.h"
#include "slice.h"

#include <QVector>

#include <algorithm>
#include <array>
#include <vector>

namespace geom {

// The outline of a slice whose contours are simple and keep clear of each
// other, found without the GLU tessellator: each contour bounds the region of
// positive winding number exactly when the winding number on its right side
// is 0, and it keeps its direction (that region on its left). find() fails
// when the contours meet, cross or fold back anywhere, or when that cannot be
// told apart from touching in double precision: such slices take the
// tessellator. The working storage is kept from slice to slice.
class CleanOutline
{
public:
    bool find(const Slice &slice, Slice &outline, int &usable);

private:
    struct Edge
    {
        Point2Df a, b;
        int contour, index, size;
    };

    // True when no two edges share a point other than the vertex between
    // neighbours. The edges go into a uniform grid and only edges sharing a
    // cell are compared; input that would make the grid or the comparisons
    // costly is left to the tessellator.
    bool separate();

    int cellOf(double v, double lo) const { return std::min(m_side - 1, std::max(0, int((v - lo) * m_scale))); }

    std::vector<const QVector<Point2Df> *> m_contours;
    int m_side = 1;
    double m_scale = 0.0;
    double m_minX = 0.0;
    double m_minY = 0.0;
    std::vector<int> m_boxStart;
    std::vector<int> m_boxContours;
    std::vector<Edge> m_edges;
    std::vector<std::array<int, 4>> m_ranges;
    std::vector<int> m_cellStart;
    std::vector<int> m_cellEdges;
    std::vector<int> m_fill;
    std::vector<Bounds2Df> m_boxes;
    std::vector<double> m_areas;
};

} // namespace geom

#endif // GEOM_CLEANOUTLINE_P_H
