#ifndef GEOM_GRIDPOLYGON_H
#define GEOM_GRIDPOLYGON_H

#include "gridmapping.h"
#include "gridsurface.h"
#include "gridsurfaceparts.h"

#include <QList>
#include <QSet>
#include <QVector>

#include <atomic>

namespace geom {

// A planar polygon of a grid surface: the boundary of one maximal patch of
// edge-connected facets with the same normal, as closed contours (the closing
// point not repeated) of the facets' own grid points, in the facets' winding.
struct GridPolygon
{
    float normal[3] = {0.0f, 0.0f, 0.0f};
    QList<QVector<GridPoint>> contours;
    // The facets the polygon stands for, ascending; a caller that cannot
    // triangulate the contours writes these instead.
    QVector<int> facets;
    // The lowest facet index of the patch: polygons of a surface come in this
    // order.
    int order = 0;
};

// The facets reachable from start through shared edges whose normal equals
// the normal of start exactly.
QSet<int> coplanarRegion(const GridSurface &surface, int start);

// The boundary of the region chained into contours. A point is dropped where
// the contour runs straight on with the same step, unless three or more
// patches of the surface meet there or the region's boundary passes it more
// than once: the patches on both sides of an edge then keep the same points,
// and the surface stays free of T-junctions. Contours of fewer than three
// distinct points are dropped. Empty when the region has no boundary.
QList<QVector<GridPoint>> chainContours(const GridSurface &surface, const QSet<int> &region);

// One polygon per patch in the order of the patches' lowest facet; a patch
// that yields no contour becomes one polygon per facet, so no facet is lost.
QList<GridPolygon> surfacePolygons(const GridSurface &surface);
QList<QList<GridPolygon>> allSurfacePolygons(const QList<GridSurface> &surfaces);

// The same work split for threads: a patch never spans two normals, so the
// facets grouped by normal (each group ascending, groups in the order of
// their first facet) can be turned into polygons independently. regionOf has
// one entry per facet, all -1 at the start; each call writes only the entries
// of its own group. Polygons of all groups, stably sorted by order, are those
// of surfacePolygons. closed tells that the surface is known to be closed
// (every edge has a facet across), which saves looking for its rim.
QVector<QVector<int>> normalGroups(const GridSurface &surface);
// With cancel, the flag is looked at every few ten thousand facets; when it
// is set the groups found so far are returned, incomplete.
QVector<QVector<int>> normalGroups(const QVector<GridFacet> &facets, const std::atomic<bool> *cancel = nullptr);
QList<GridPolygon> groupPolygons(const GridSurface &surface, const QVector<int> &group, int *regionOf,
                                 bool closed = false, const GridMapping *mapping = nullptr,
                                 const std::atomic<bool> *cancel = nullptr);
// cancel, when given, is looked at every few ten thousand facets, edges or
// steps of a patch, and every few hundred patches; once it is set the
// polygons found so far are returned, incomplete. Set before the call, it
// leaves regionOf as it was.
QList<GridPolygon> groupPolygons(const GridSurfaceParts &surface, const QVector<int> &group, int *regionOf,
                                 bool closed = false, const GridMapping *mapping = nullptr,
                                 const std::atomic<bool> *cancel = nullptr);

} // namespace geom

#endif // GEOM_GRIDPOLYGON_H
