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
    // Whether z maps affinely between grid heights low and high: the layer
    // gaps in that range are equal (up to the rounding of float heights).
    // Uneven gaps (adaptive layers, missing layers) bend a grid plane that
    // is neither horizontal nor vertical, and skew the shapes in a vertical
    // one.
    bool evenGaps(int low, int high) const;
};

} // namespace geom

#endif // GEOM_GRIDMAPPING_H
