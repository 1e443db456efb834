#ifndef GEOM_BOXAXIS_P_H
#define GEOM_BOXAXIS_P_H

// Per-axis rules shared by the 2D and the 3D box; not part of the kernel's
// interface. Every comparison is an IEEE float comparison, so a NaN makes it
// false.

#include <cfloat>
#include <cmath>
#include <utility>

namespace geom {
namespace boxaxis {

inline bool isNull(float mn, float mx)
{
    const float extent = mx - mn;
    return !(std::fabs(extent) <= FLT_MAX);
}

inline bool isValid(float mn, float mx)
{
    const float extent = mx - mn;
    return extent > 0.0f && extent <= FLT_MAX;
}

inline void extend(float &mn, float &mx, float p)
{
    if (mn > p)
        mn = p;
    if (p > mx)
        mx = p;
}

inline void normalize(float &mn, float &mx)
{
    const float extent = mx - mn;
    if (std::fabs(extent) <= FLT_MAX && extent < 0.0f)
        std::swap(mn, mx);
}

// False when the axis ends up reversed: the boxes do not meet on it.
inline bool intersect(float &mn, float &mx, float omn, float omx)
{
    if (omn > mn)
        mn = omn;
    if (mx > omx)
        mx = omx;
    return !(mn > mx);
}

inline void unite(float &mn, float &mx, float omn, float omx)
{
    if (omn < mn)
        mn = omn;
    if (omx > mx)
        mx = omx;
}

inline bool overlaps(float mn, float mx, float omn, float omx)
{
    return !(mn > omx || omn > mx);
}

// Relative slack without floor: at 0 only exact equality passes.
inline bool relativelyEqual(float a, float b)
{
    return std::fabs(a - b) <= std::fmin(std::fabs(a), std::fabs(b)) * 1e-5f;
}

inline bool containsValue(float mn, float mx, float p)
{
    return (p > mn || relativelyEqual(mn, p)) && (mx > p || relativelyEqual(mx, p));
}

inline bool containsRange(float mn, float mx, float omn, float omx)
{
    return (omn > mn || relativelyEqual(omn, mn)) && (mx > omx || relativelyEqual(mx, omx));
}

inline bool absolutelyEqual(float a, float b)
{
    return std::fabs(a - b) <= 1e-5f;
}

inline float center(float mn, float mx)
{
    return (mn + mx) * 0.5f;
}

// field is the axis's two-bit part of the side flags, shifted down to 1 (min)
// and 2 (max).
inline float anchor(float mn, float mx, int field)
{
    if (field == 1)
        return mn;
    if (field == 2)
        return mx;
    return center(mn, mx);
}

} // namespace boxaxis
} // namespace geom

#endif // GEOM_BOXAXIS_P_H
