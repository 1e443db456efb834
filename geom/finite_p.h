#ifndef GEOM_FINITE_P_H
#define GEOM_FINITE_P_H

// Whether reals and points are finite; not part of the kernel's interface. An
// intersection with a NaN or an infinity among its inputs has no point.

#include "point2d.h"
#include "point3d.h"

#include <cmath>

namespace geom {
namespace finite {

inline bool isFinite(float v)
{
    return std::isfinite(v);
}

inline bool isFinite(double v)
{
    return std::isfinite(v);
}

template <typename T>
bool isFinite(const Point2D<T> &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

inline bool isFinite(const Point3Df &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

template <typename... Values>
bool allFinite(const Values &...values)
{
    return (isFinite(values) && ...);
}

} // namespace finite
} // namespace geom

#endif // GEOM_FINITE_P_H
