#ifndef TESSELLATORTESTUTIL_H
#define TESSELLATORTESTUTIL_H

#include "contour.h"
#include "facet.h"
#include "point2d.h"
#include "slice.h"

#include <QVector>

#include <algorithm>
#include <cmath>

namespace tesstest {

// Axis-aligned square from (x0, y0) to (x1, y1), counter-clockwise unless cw.
inline QVector<geom::Point2Df> square(float x0, float y0, float x1, float y1, bool cw = false)
{
    QVector<geom::Point2Df> p{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (cw)
        std::reverse(p.begin(), p.end());
    return p;
}

inline Contour squareContour(float x0, float y0, float x1, float y1, bool cw = false)
{
    return Contour(square(x0, y0, x1, y1, cw));
}

inline Slice sliceOf(float z, float thickness, const QVector<Contour> &contours)
{
    Slice s(z, thickness);
    for (const Contour &c : contours)
        s.addContour(c);
    return s;
}

inline double signedArea(const Slice &s)
{
    double a = 0.0;
    for (const Contour &c : s.contours())
        a += c.area();
    return a;
}

// Signed area of a facet seen from above (+z).
inline double facetAreaXY(const geom::Facet &f)
{
    const double ax = f.vertex2.x - f.vertex1.x, ay = f.vertex2.y - f.vertex1.y;
    const double bx = f.vertex3.x - f.vertex1.x, by = f.vertex3.y - f.vertex1.y;
    return 0.5 * (ax * by - ay * bx);
}

template <typename List>
double totalAreaXY(const List &facets)
{
    double a = 0.0;
    for (const geom::Facet &f : facets)
        a += facetAreaXY(f);
    return a;
}

inline bool isFinite(const geom::Point3Df &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

} // namespace tesstest

#endif // TESSELLATORTESTUTIL_H
