#ifndef GEOM_GRIDSURFACE_H
#define GEOM_GRIDSURFACE_H

#include "gridfacet.h"
#include "gridpoint.h"
#include "gridpointmap.h"

#include <QList>
#include <QVarLengthArray>
#include <QVector>

namespace geom {

// The indices of some facets of a surface at one grid point: a set (no index
// twice), small enough in practice (at most a dozen marching-cubes triangles
// meet at a point) to live inline without an allocation.
using FacetIndexSet = QVarLengthArray<int, 8>;
// All facets of a surface at one grid point, in the order they were added.
using FacetIndices = GridPointMap::Indices;

// One connected piece of a marching-cubes surface: its facets in the order
// they were added and, for every vertex, the facets that have it.
//
// Invariants: every index in facetsAt is an index of facets and every vertex
// of every facet is a key of facetsAt. Both corners are set to vertex a of
// the first facet added to an empty surface and never change afterwards.
// Surfaces order by their number of distinct vertices.
struct GridSurface
{
    QVector<GridFacet> facets;
    GridPointMap facetsAt;
    GridPoint lowCorner;
    GridPoint highCorner;

    void addFacet(const GridFacet &facet);
    // Moves all of other into this surface (its facets after ours, indices
    // shifted) and leaves other without facets; corners are kept on both.
    void merge(GridSurface &other);
    // Whether some facet has all three vertices of facet, in any order.
    bool contains(const GridFacet &facet) const;
    // Facets at the point; empty when the point is not a vertex.
    FacetIndices facetsAtPoint(const GridPoint &p) const { return facetsAt.indices(p); }
    template<typename F>
    void forEachFacetAt(const GridPoint &p, F f) const
    {
        for (int j : facetsAtPoint(p))
            f(j);
    }

    int order() const { return facetsAt.size(); }
    bool operator<(const GridSurface &other) const { return order() < other.order(); }
};

// A signed volume measure in half-cell units cubed: the pyramids from vertex
// a of the first facet to every other facet. 0 for fewer than two facets.
double surfaceVolume(const GridSurface &surface);
// The last surface of the list that has p as a vertex; -1 for none.
int findSurface(const QList<GridSurface> &list, const GridPoint &p);
// The corners of the first surface; (0, 0, 0) for an empty list.
GridPoint firstLowCorner(const QList<GridSurface> &list);
GridPoint firstHighCorner(const QList<GridSurface> &list);

// Adds the facet to the surface that holds one of its vertices, merging the
// surfaces it connects (into the one of the smallest index), or starts a new
// surface: the list stays the connected components under shared vertices.
void addGridTriangle(QList<GridSurface> &surfaces, const GridFacet &facet);
// Moves the incoming surfaces into results: each joins the result surfaces it
// shares a grid point with (merged into the first of them, the others merged
// after it and removed) or is appended. Surfaces appended here are not
// compared with later incoming ones. Consumes incoming; returns results.
QList<GridSurface> &mergeSurfaceLists(QList<GridSurface> &results, QList<GridSurface> &incoming);
// Removes surfaces whose absolute volume measure is below |threshold|.
void removeSmallSurfaces(QList<GridSurface> &surfaces, double threshold);

} // namespace geom

#endif // GEOM_GRIDSURFACE_H
