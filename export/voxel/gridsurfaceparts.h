#ifndef GEOM_GRIDSURFACEPARTS_H
#define GEOM_GRIDSURFACEPARTS_H

#include "gridsurface.h"

#include <QList>
#include <QVector>

namespace geom {

// One connected surface kept as the pieces that parallel meshing jobs found
// in neighbouring ranges of layers, instead of merged into one point map:
// merging maps of millions of points is work for one thread, while the
// pieces answer the same questions. facets holds the facets of all pieces in
// piece order; a point's facets are looked up in the pieces whose height
// range holds it (pieces of neighbouring ranges share one plane of points).
class GridSurfaceParts
{
public:
    QVector<GridFacet> facets;

    // Appends a piece; it must connect to the pieces before it (or be the
    // first) for the whole to be one surface. The first piece's facets are
    // shared, unless room was reserved in facets for all of them: then each
    // piece is copied into that one block.
    void append(const GridSurface &piece);
    int pieceCount() const { return m_pieces.size(); }
    // Distinct vertices counted per piece (shared points more than once).
    int order() const { return m_order; }

    template<typename F>
    void forEachFacetAt(const GridPoint &p, F f) const
    {
        for (int i = 0; i < m_pieces.size(); ++i) {
            if (p.z < m_lowZ.at(i) || p.z > m_highZ.at(i))
                continue;
            for (int j : m_pieces.at(i).facetsAtPoint(p))
                f(j + m_offsets.at(i));
        }
    }

    // Whether two surfaces share a grid point, looking only at the points of
    // upper at height z (the plane two neighbouring layer ranges share).
    static bool shareHeight(const GridSurface &lower, const GridSurface &upper, int z);

private:
    QList<GridSurface> m_pieces;
    QVector<int> m_offsets;
    QVector<int> m_lowZ;
    QVector<int> m_highZ;
    int m_order = 0;
};

} // namespace geom

#endif // GEOM_GRIDSURFACEPARTS_H
