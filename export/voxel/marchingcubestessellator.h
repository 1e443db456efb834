#ifndef GEOM_MARCHINGCUBESTESSELLATOR_H
#define GEOM_MARCHINGCUBESTESSELLATOR_H

#include "facet.h"
#include "gridpolygon.h"
#include "gridsurface.h"
#include "gridsurfaceparts.h"

#include <QList>
#include <QVector>

namespace geom {

class MarchingCubesPrivate;
class Tessellator;
struct GridMapping;

// A job of the second pass of MarchingCubes::process(): turns the facets of
// one normal group of a surface (a patch never spans two normals, so the
// groups of one surface are independent) into planar polygons and those into
// millimetre facets. Each polygon's facets are kept with the polygon's order,
// so the surface's facets can be put back into the order of its patches
// whatever order the jobs run in.
struct MarchingCubesTessellator
{
    struct Piece
    {
        int order = 0;
        QVector<Facet> facets;
    };

    MarchingCubesPrivate *d = nullptr;
    const GridSurfaceParts *surface = nullptr;
    QVector<int> group;
    int *regionOf = nullptr; // one entry per facet of the surface, shared by its groups
    QVector<Piece> *pieces = nullptr;

    void run();

    // The facets of one polygon. Quadrilaterals are split along a diagonal
    // that gives two triangles of positive area, anything else goes through
    // the GLU tessellator; when that fails, or the polygon's winding does not
    // agree with its own normal, the polygon's grid facets are written as
    // they are, so no hole is ever left. With merge off, always the grid
    // facets.
    static QVector<Facet> polygonFacets(const QVector<GridFacet> &facets, const GridPolygon &polygon,
                                        const GridMapping &mapping, bool merge, Tessellator &tessellator);
};

} // namespace geom

#endif // GEOM_MARCHINGCUBESTESSELLATOR_H
