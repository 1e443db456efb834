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

// Also the vertex type of the marching-cubes grid (GridPoint), in half-cell
// units: equal when all three coordinates are, ordered by z, then y, then x,
// each as a signed 16-bit number (the key order of maps of grid points).
struct GridPoint3D
{
    qint16 x = 0;
    qint16 y = 0;
    qint16 z = 0;

    constexpr GridPoint3D() = default;
    constexpr GridPoint3D(qint16 px, qint16 py, qint16 pz) : x(px), y(py), z(pz) {}
};

using GridPoint = GridPoint3D;

constexpr bool operator==(const GridPoint3D &a, const GridPoint3D &b)
{
    return a.x == b.x && a.y == b.y && a.z == b.z;
}
constexpr bool operator!=(const GridPoint3D &a, const GridPoint3D &b)
{
    return !(a == b);
}
constexpr bool operator<(const GridPoint3D &a, const GridPoint3D &b)
{
    return a.z != b.z ? a.z < b.z : a.y != b.y ? a.y < b.y : a.x < b.x;
}
inline uint qHash(const GridPoint3D &p, uint seed = 0)
{
    const quint64 key = quint64(quint16(p.x)) | quint64(quint16(p.y)) << 16 | quint64(quint16(p.z)) << 32;
    // A multiplicative mix: neighbouring grid points spread over the buckets.
    return uint((key * Q_UINT64_C(0x9E3779B97F4A7C15)) >> 32) ^ seed;
}

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
