#include "gridsurface.h"

#include <algorithm>
#include <cmath>

namespace geom {

namespace {

bool sharePoint(const GridSurface &a, const GridSurface &b)
{
    // Look the smaller key set up in the larger one.
    const GridSurface &small = a.facetsAt.size() <= b.facetsAt.size() ? a : b;
    const GridSurface &large = &small == &a ? b : a;
    for (auto it = small.facetsAt.cbegin(); it != small.facetsAt.cend(); ++it) {
        if (large.facetsAt.contains(it.key()))
            return true;
    }
    return false;
}

} // namespace

void GridSurface::addFacet(const GridFacet &facet)
{
    if (facetsAt.isEmpty()) {
        lowCorner = facet.a;
        highCorner = facet.a;
    }
    const int index = facets.size();
    for (int i = 0; i < 3; ++i)
        facetsAt.insert(facet.vertex(i), index);
    facets.append(facet);
}

void GridSurface::merge(GridSurface &other)
{
    const int offset = facets.size();
    facetsAt.insertShifted(other.facetsAt, offset);
    other.facetsAt.clear();
    facets.reserve(offset + other.facets.size());
    facets += other.facets;
    other.facets.clear();
}

bool GridSurface::contains(const GridFacet &facet) const
{
    const FacetIndices b = facetsAtPoint(facet.b);
    const FacetIndices c = facetsAtPoint(facet.c);
    for (int index : facetsAtPoint(facet.a)) {
        if (b.contains(index) && c.contains(index))
            return true;
    }
    return false;
}

double surfaceVolume(const GridSurface &surface)
{
    if (surface.facets.size() < 2)
        return 0.0;
    const GridPoint o = surface.facets.first().a;
    double volume = 0.0;
    for (int i = 1; i < surface.facets.size(); ++i) {
        const GridFacet &f = surface.facets.at(i);
        const float h = f.normal[0] * float(qint16(f.a.x - o.x)) + f.normal[1] * float(qint16(f.a.y - o.y))
                        + f.normal[2] * float(qint16(f.a.z - o.z));
        const qint16 ux = qint16(f.b.x - f.a.x), uy = qint16(f.b.y - f.a.y), uz = qint16(f.b.z - f.a.z);
        const qint16 vx = qint16(f.c.x - f.a.x), vy = qint16(f.c.y - f.a.y), vz = qint16(f.c.z - f.a.z);
        const qint16 nx = qint16(uy * vz - uz * vy), ny = qint16(uz * vx - ux * vz), nz = qint16(ux * vy - uy * vx);
        const qint16 s = qint16(nx * nx + ny * ny + nz * nz);
        const double area = s <= 0 ? 0.0 : qint16(std::sqrt(double(s))) * 0.5;
        volume += double(h) * area / 3.0;
    }
    return volume;
}

int findSurface(const QList<GridSurface> &list, const GridPoint &p)
{
    for (int i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).facetsAt.contains(p))
            return i;
    }
    return -1;
}

GridPoint firstLowCorner(const QList<GridSurface> &list)
{
    return list.isEmpty() ? GridPoint() : list.first().lowCorner;
}

GridPoint firstHighCorner(const QList<GridSurface> &list)
{
    return list.isEmpty() ? GridPoint() : list.first().highCorner;
}

void addGridTriangle(QList<GridSurface> &surfaces, const GridFacet &facet)
{
    int found[3] = {findSurface(surfaces, facet.a), findSurface(surfaces, facet.b), findSurface(surfaces, facet.c)};
    std::sort(found, found + 3);
    int *end = std::unique(found, found + 3);
    const int count = int(end - found);
    if (count == 3) {
        GridSurface taken = surfaces.takeAt(found[2]);
        surfaces[found[1]].merge(taken);
    }
    if (count >= 2) {
        if (found[0] == -1) {
            found[0] = found[1];
        } else {
            GridSurface taken = surfaces.takeAt(found[1]);
            surfaces[found[0]].merge(taken);
        }
    }
    if (found[0] == -1) {
        surfaces.append(GridSurface());
        surfaces.last().addFacet(facet);
    } else {
        surfaces[found[0]].addFacet(facet);
    }
}

QList<GridSurface> &mergeSurfaceLists(QList<GridSurface> &results, QList<GridSurface> &incoming)
{
    int n = results.size();
    while (!incoming.isEmpty()) {
        GridSurface g = incoming.takeFirst();
        QVector<int> matches;
        for (int i = n - 1; i >= 0; --i) {
            if (sharePoint(g, results.at(i)))
                matches.append(i);
        }
        if (matches.isEmpty()) {
            results.append(g);
            continue;
        }
        const int k = matches.last();
        results[k].merge(g);
        for (int m = 0; m + 1 < matches.size(); ++m) {
            GridSurface taken = results.takeAt(matches.at(m));
            results[k].merge(taken);
        }
        n -= matches.size() - 1;
    }
    return results;
}

void removeSmallSurfaces(QList<GridSurface> &surfaces, double threshold)
{
    for (int i = surfaces.size() - 1; i >= 0; --i) {
        if (std::fabs(surfaceVolume(surfaces.at(i))) < std::fabs(threshold))
            surfaces.removeAt(i);
    }
}

} // namespace geom
