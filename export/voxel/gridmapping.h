#ifndef GEOM_GRIDMAPPING_H
#define GEOM_GRIDMAPPING_H

#include "gridpoint.h"
#include "point3d.h"

#include <QTransform>
#include <QVector>

namespace geom {

// Grid points to millimetres: x and y through the pixel transform (a half-cell
// is half a pixel), z through the table of layer heights and the midpoints
// between them.
struct GridMapping
{
    QTransform pixelToMm;
    QVector<float> zTable;
    bool mirrored = false; // the transform turns the winding over

    Point3Df map(const GridPoint &p) const;
    // The direction of a grid normal in millimetres, the z scale taken at
    // grid height z.
    Point3Df mapNormal(const float *normal, int z) const;
};

} // namespace geom

#endif // GEOM_GRIDMAPPING_H
