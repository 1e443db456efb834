#ifndef GEOM_SEGMENTS_P_H
#define GEOM_SEGMENTS_P_H

#include <cmath>

namespace geom {

// Orientation of c against the line a->b: 1 to its left, -1 to its right, 0
// on it, or when the determinant is within relativeBound of the size of its
// two products (a sign that double arithmetic cannot be sure of).
inline int orientation(double ax, double ay, double bx, double by, double cx, double cy, double relativeBound)
{
    const double l = (bx - ax) * (cy - ay);
    const double r = (by - ay) * (cx - ax);
    const double det = l - r;
    const double bound = relativeBound * (std::fabs(l) + std::fabs(r));
    return det > bound ? 1 : (det < -bound ? -1 : 0);
}

// Whether the closed segments a-b and c-d touch or cross; with a relative
// bound, uncertain signs count as contact.
inline bool segmentsMayTouch(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy,
                             double relativeBound)
{
    if (std::fmax(ax, bx) < std::fmin(cx, dx) || std::fmax(cx, dx) < std::fmin(ax, bx)
        || std::fmax(ay, by) < std::fmin(cy, dy) || std::fmax(cy, dy) < std::fmin(ay, by))
        return false;
    const int o1 = orientation(ax, ay, bx, by, cx, cy, relativeBound);
    const int o2 = orientation(ax, ay, bx, by, dx, dy, relativeBound);
    if (o1 != 0 && o1 == o2)
        return false;
    const int o3 = orientation(cx, cy, dx, dy, ax, ay, relativeBound);
    const int o4 = orientation(cx, cy, dx, dy, bx, by, relativeBound);
    return !(o3 != 0 && o3 == o4);
}

} // namespace geom

#endif // GEOM_SEGMENTS_P_H
