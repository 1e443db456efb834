#ifndef GEOM_BOXSIDE_H
#define GEOM_BOXSIDE_H

#include <QFlags>

namespace geom {

// Sides of an axis-aligned box. The two flags of one axis form a two-bit field
// (x: value & 0x3, y: value & 0xC, z: value & 0x30).
enum BoxSide {
    MinX = 1,
    MaxX = 2,
    MinY = 4,
    MaxY = 8,
    MinZ = 16,
    MaxZ = 32
};
Q_DECLARE_FLAGS(BoxSides, BoxSide)

} // namespace geom

Q_DECLARE_OPERATORS_FOR_FLAGS(geom::BoxSides)

#endif // GEOM_BOXSIDE_H
