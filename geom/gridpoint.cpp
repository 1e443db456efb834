#include "gridpoint.h"

namespace geom {

namespace {

qint16 low16(int v)
{
    return qint16(quint16(quint32(v) & 0xFFFFu));
}

} // namespace

GridPoint2D toGridPoint2D(const QPoint &p)
{
    GridPoint2D g;
    g.x = low16(p.x());
    g.y = low16(p.y());
    return g;
}

GridPoint3D toGridPoint3D(const QPoint &p, qint16 z)
{
    GridPoint3D g;
    g.x = low16(p.x());
    g.y = low16(p.y());
    g.z = z;
    return g;
}

QPoint toQPoint(const GridPoint2D &p)
{
    return QPoint(p.x, p.y);
}

QPoint toQPoint(const GridPoint3D &p)
{
    return QPoint(p.x, p.y);
}

} // namespace geom
