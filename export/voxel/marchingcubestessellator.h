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

    // The facets of one polygon, cut on the grid: quadrilaterals along a
    // diagonal that gives two triangles of positive area in integers,
    // anything else through the GLU tessellator on the grid coordinates (a
    // vertical polygon over uneven layer gaps with z in millimetres). The cut
    // is kept when it tiles the polygon exactly and every facet keeps an
    // area and its side in millimetres; otherwise, and with merge off, the
    // polygon's grid facets. Every facet carries the unit normal of its
    // stored vertices.
    static QVector<Facet> polygonFacets(const QVector<GridFacet> &facets, const GridPolygon &polygon,
                                        const GridMapping &mapping, bool merge, Tessellator &tessellator);
};

} // namespace geom

#endif // GEOM_MARCHINGCUBESTESSELLATOR_H
