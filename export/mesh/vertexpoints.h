#ifndef VERTEXPOINTS_H
#define VERTEXPOINTS_H

#include "point3d.h"

#include <QVector3D>

#include <type_traits>

namespace geom {

// The kernel's 3D mapping works on arrays of Point3Df; a QVector3D is the
// same three floats, so vertex arrays are handed over as they are.
static_assert(sizeof(QVector3D) == sizeof(Point3Df) && alignof(QVector3D) == alignof(Point3Df),
              "QVector3D and Point3Df must both be three packed floats");
static_assert(std::is_trivially_copyable<QVector3D>::value, "vertices are copied as raw floats");

inline const Point3Df *asPoints(const QVector3D *v)
{
    return reinterpret_cast<const Point3Df *>(v);
}

inline Point3Df *asPoints(QVector3D *v)
{
    return reinterpret_cast<Point3Df *>(v);
}

} // namespace geom

#endif // VERTEXPOINTS_H
