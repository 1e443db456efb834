#ifndef GEOM_CLIPSEGMENT_P_H
#define GEOM_CLIPSEGMENT_P_H

// Segment clipping shared by the 2D and the 3D box; not part of the kernel's
// interface.

#include "boxside.h"
#include "finite_p.h"
#include "point2d.h"
#include "point3d.h"

#include <QList>
#include <QMap>

#include <algorithm>
#include <cmath>

namespace geom {
namespace clipping {

inline float coordinate(const Point2Df &p, int axis)
{
    return axis == 0 ? p.x : p.y;
}

inline float coordinate(const Point3Df &p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}

inline void setCoordinate(Point2Df &p, int axis, float v)
{
    (axis == 0 ? p.x : p.y) = v;
}

inline void setCoordinate(Point3Df &p, int axis, float v)
{
    (axis == 0 ? p.x : axis == 1 ? p.y : p.z) = v;
}

// Relative with an absolute floor: 1e-5 of the larger magnitude, at least 1e-5.
inline float tolerance(float u, float v)
{
    return std::max(1e-5f, 1e-5f * std::max(std::fabs(u), std::fabs(v)));
}

// The points where the segment a-b crosses the sides of a box of Axes axes
// (min corner at data()[0 .. Axes - 1], max corner after it), in the order of
// the segment. An endpoint on a side counts as inside; a crossing at the end
// b is not reported. An end that is not finite lies nowhere: no points.
template <int Axes, typename P, typename Box>
QList<P> clipSegment(const Box &box, const P &a, const P &b)
{
    if (!finite::allFinite(a, b))
        return QList<P>();
    const BoxSides ca = box.outcode(a);
    const BoxSides cb = box.outcode(b);
    if (!(ca | cb))
        return QList<P>() << a << b;
    if (ca & cb)
        return QList<P>();

    const BoxSides beyond = ca | cb;
    const float *lo = box.data();
    const float *hi = box.data() + Axes;
    float d[Axes];
    for (int k = 0; k < Axes; ++k)
        d[k] = coordinate(b, k) - coordinate(a, k);

    // By parameter along the segment; where it passes exactly through an edge
    // or a corner, the side tried last keeps the point.
    QMap<float, P> crossings;
    for (int k = 0; k < Axes; ++k) {
        if (!(std::fabs(d[k]) > 1e-5f))
            continue;
        for (int side = 0; side < 2; ++side) {
            if (!beyond.testFlag(BoxSide(1 << (2 * k + side))))
                continue;
            const float s = side ? hi[k] : lo[k];
            const float t = (s - coordinate(a, k)) / d[k];
            if (!(t >= 0.0f && t < 1.0f))
                continue;
            P q;
            bool outside = false;
            for (int j = 0; j < Axes && !outside; ++j) {
                if (j == k) {
                    setCoordinate(q, j, s);
                    continue;
                }
                const float qj = t * d[j] + coordinate(a, j);
                outside = (qj <= lo[j] && lo[j] - qj > tolerance(qj, lo[j]))
                    || (qj >= hi[j] && qj - hi[j] > tolerance(qj, hi[j]));
                setCoordinate(q, j, qj);
            }
            if (!outside)
                crossings.insert(t, q);
        }
    }
    return crossings.values();
}

} // namespace clipping
} // namespace geom

#endif // GEOM_CLIPSEGMENT_P_H
