#include "gridfacet.h"

#include <cmath>

namespace geom {

GridFacet::GridFacet(const GridPoint &pa, const GridPoint &pb, const GridPoint &pc) : a(pa), b(pb), c(pc)
{
    const qint16 ux = qint16(b.x - a.x), uy = qint16(b.y - a.y), uz = qint16(b.z - a.z);
    const qint16 vx = qint16(c.x - a.x), vy = qint16(c.y - a.y), vz = qint16(c.z - a.z);
    const float n[3] = {float(qint16(uy * vz - uz * vy)), float(qint16(uz * vx - ux * vz)),
                        float(qint16(ux * vy - uy * vx))};
    const float squared = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    const float scale = squared > 1.4210855e-14f ? float(1.0 / std::sqrt(double(squared))) : 1.0f;
    for (int i = 0; i < 3; ++i)
        normal[i] = n[i] * scale;
}

bool sameTriangle(const GridFacet &f, const GridFacet &g)
{
    return (f.a == g.a && f.b == g.b && f.c == g.c) || (f.a == g.b && f.b == g.c && f.c == g.a)
           || (f.a == g.c && f.b == g.a && f.c == g.b);
}

} // namespace geom
