#ifndef GEOM_GRIDFACET_H
#define GEOM_GRIDFACET_H

#include "gridpoint.h"

#include <QtGlobal>

namespace geom {

// One marching-cubes triangle on the integer grid (half-cell units), with the
// normal of its vertices: (b - a) x (c - a) taken in 16-bit integers, scaled to
// length 1 when its squared length exceeds 2^-46, else left as computed.
struct GridFacet
{
    float normal[3] = {0.0f, 0.0f, 0.0f};
    GridPoint a;
    GridPoint b;
    GridPoint c;

    GridFacet() = default;
    // The normal is computed from the vertices.
    GridFacet(const GridPoint &pa, const GridPoint &pb, const GridPoint &pc);

    const GridPoint &vertex(int i) const { return i == 0 ? a : i == 1 ? b : c; }
    bool hasVertex(const GridPoint &p) const { return a == p || b == p || c == p; }
};

// The same three vertices in the same cyclic order; normals are not compared
// and a reversed order is another triangle.
bool sameTriangle(const GridFacet &f, const GridFacet &g);

// Exact comparison of the normals (so -0 equals 0, and NaN equals nothing).
inline bool sameNormal(const GridFacet &f, const GridFacet &g)
{
    return f.normal[0] == g.normal[0] && f.normal[1] == g.normal[1] && f.normal[2] == g.normal[2];
}

} // namespace geom

Q_DECLARE_TYPEINFO(geom::GridFacet, Q_PRIMITIVE_TYPE);

#endif // GEOM_GRIDFACET_H
