#ifndef GEOM_GRIDPOINT_H
#define GEOM_GRIDPOINT_H

#include <QPoint>
#include <QtGlobal>

namespace geom {

// Grid points of the voxel model builder: signed 16-bit coordinates.
struct GridPoint2D
{
    qint16 x = 0;
    qint16 y = 0;
};

struct GridPoint3D
{
    qint16 x = 0;
    qint16 y = 0;
    qint16 z = 0;
};

// Each int of p keeps its low 16 bits.
GridPoint2D toGridPoint2D(const QPoint &p);
// x and y keep their low 16 bits, z is taken as it is.
GridPoint3D toGridPoint3D(const QPoint &p, qint16 z);
// Each coordinate sign-extended (z of a 3D grid point is dropped).
QPoint toQPoint(const GridPoint2D &p);
QPoint toQPoint(const GridPoint3D &p);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::GridPoint2D, Q_PRIMITIVE_TYPE);
Q_DECLARE_TYPEINFO(geom::GridPoint3D, Q_PRIMITIVE_TYPE);

#endif // GEOM_GRIDPOINT_H
