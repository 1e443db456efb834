#include "gridsurfaceparts.h"

#include <algorithm>
#include <climits>

namespace geom {

void GridSurfaceParts::append(const GridSurface &piece)
{
    int low = INT_MAX;
    int high = INT_MIN;
    for (const GridFacet &f : piece.facets) {
        for (int i = 0; i < 3; ++i) {
            low = std::min(low, int(f.vertex(i).z));
            high = std::max(high, int(f.vertex(i).z));
        }
    }
    m_pieces.append(piece);
    m_offsets.append(facets.size());
    m_lowZ.append(low);
    m_highZ.append(high);
    m_order += piece.order();
    if (facets.capacity() == 0) {
        facets = piece.facets; // shared, not copied
        return;
    }
    // Into the room reserved: += would drop a reservation for an empty
    // vector and share the piece instead, so the next piece copied the
    // whole again at every growth.
    const int at = facets.size();
    facets.resize(at + piece.facets.size());
    std::copy(piece.facets.cbegin(), piece.facets.cend(), facets.begin() + at);
}

bool GridSurfaceParts::shareHeight(const GridSurface &lower, const GridSurface &upper, int z)
{
    for (const GridFacet &f : upper.facets) {
        for (int i = 0; i < 3; ++i) {
            if (f.vertex(i).z == z && lower.facetsAt.contains(f.vertex(i)))
                return true;
        }
    }
    return false;
}

} // namespace geom
