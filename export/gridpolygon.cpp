#include "gridpolygon.h"

#include <QHash>
#include <QMap>
#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace geom {

namespace {

// Both other vertices of facet position i (a, b, c).
bool sharesEdge(const GridFacet &t, int position, const GridFacet &j)
{
    const GridPoint &u = t.vertex((position + 1) % 3);
    const GridPoint &v = t.vertex((position + 2) % 3);
    return j.hasVertex(u) || j.hasVertex(v);
}

// The patch of start: facets reached through shared edges with the normal of
// start. claim(j) tells whether j is still free and takes it. boundary(p, q)
// receives each edge of the patch's facets, in their winding, with a facet
// of another normal across: as facets with the same normal across an edge
// always share a patch, these are the edges where the patch meets others (an
// edge with nothing across, the rim of an open surface, is none).
template<typename Claim, typename Boundary>
QVector<int> flood(const GridSurface &surface, int start, Claim claim, Boundary boundary)
{
    const GridFacet &reference = surface.facets.at(start);
    QVector<int> region{start};
    QVector<int> stack;
    stack.reserve(32);
    stack.append(start);
    while (!stack.isEmpty()) {
        const int t = stack.takeLast();
        const GridFacet &ft = surface.facets.at(t);
        for (int position = 0; position < 3; ++position) {
            const FacetIndexSet *at = surface.facetsAtPoint(ft.vertex(position));
            if (!at)
                continue;
            const GridPoint &next = ft.vertex((position + 1) % 3);
            bool differs = false;
            for (int j : *at) {
                if (j != t && !differs && surface.facets.at(j).hasVertex(next))
                    differs = !sameNormal(surface.facets.at(j), reference);
            }
            if (differs)
                boundary(ft.vertex(position), next);
            for (int j : *at) {
                // The normal first: facets of other normals may belong to
                // another thread's group and are only read where immutable.
                if (j == t || !sameNormal(surface.facets.at(j), reference)
                    || !sharesEdge(ft, position, surface.facets.at(j)) || !claim(j))
                    continue;
                region.append(j);
                stack.append(j);
            }
        }
    }
    std::sort(region.begin(), region.end());
    return region;
}

GridPoint step(const GridPoint &from, const GridPoint &to)
{
    return GridPoint(qint16(to.x - from.x), qint16(to.y - from.y), qint16(to.z - from.z));
}

int distinctPoints(const QVector<GridPoint> &contour)
{
    QVector<GridPoint> sorted = contour;
    std::sort(sorted.begin(), sorted.end());
    return int(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

// Boundary edges in their facets' winding; of several edges from one point
// the latest recorded is followed first.
struct BoundaryEdges
{
    QMap<GridPoint, QVector<GridPoint>> edges;
    QHash<GridPoint, int> outgoing;

    void add(const GridPoint &p, const GridPoint &q)
    {
        edges[p].append(q);
        ++outgoing[p];
    }
};

template<typename In>
QList<QVector<GridPoint>> chainBoundary(const GridSurface &surface, BoundaryEdges &boundary, In in);

// Chains the boundary of the patch whose facets (ascending) are those for
// which in(j) holds.
template<typename In>
QList<QVector<GridPoint>> chain(const GridSurface &surface, const QVector<int> &facets, In in)
{
    // A vertex's facets in the patch, or none when all its facets are (an
    // inner vertex).
    QHash<GridPoint, FacetIndexSet> incident;
    auto stored = [&](const GridPoint &p) {
        auto it = incident.constFind(p);
        if (it != incident.cend())
            return it.value();
        FacetIndexSet kept;
        const FacetIndexSet *all = surface.facetsAtPoint(p);
        if (all) {
            for (int j : *all) {
                if (in(j))
                    kept.append(j);
            }
            if (kept.size() == all->size())
                kept.clear();
        }
        incident.insert(p, kept);
        return kept;
    };
    auto common = [](const FacetIndexSet &p, const FacetIndexSet &q) {
        int n = 0;
        for (int j : p)
            n += int(std::find(q.cbegin(), q.cend(), j) != q.cend());
        return n;
    };

    BoundaryEdges boundary;
    for (int t : facets) {
        const GridFacet &f = surface.facets.at(t);
        const FacetIndexSet sets[3] = {stored(f.a), stored(f.b), stored(f.c)};
        const int mask = int(!sets[0].isEmpty()) | int(!sets[1].isEmpty()) << 1 | int(!sets[2].isEmpty()) << 2;
        static const int candidates[8][7] = {{0}, {0}, {0}, {1, 0, 1}, {0}, {1, 2, 0}, {1, 1, 2}, {3, 2, 0, 0, 1, 1, 2}};
        const int *c = candidates[mask];
        for (int e = 0; e < c[0]; ++e) {
            const int p = c[1 + 2 * e];
            const int q = c[2 + 2 * e];
            if (common(sets[p], sets[q]) == 1)
                boundary.add(f.vertex(p), f.vertex(q));
        }
    }
    return chainBoundary(surface, boundary, in);
}

// Chains the boundary edges of the patch whose facets are those for which
// in(j) holds into contours.
template<typename In>
QList<QVector<GridPoint>> chainBoundary(const GridSurface &surface, BoundaryEdges &boundary, In in)
{
    QMap<GridPoint, QVector<GridPoint>> &edges = boundary.edges;
    const QHash<GridPoint, int> &outgoing = boundary.outgoing;

    // Where three or more patches meet, two other normals show among the
    // facets outside this patch.
    auto pinned = [&](const GridPoint &p) {
        if (outgoing.value(p) > 1)
            return true;
        const FacetIndexSet *all = surface.facetsAtPoint(p);
        const GridFacet *first = nullptr;
        for (int j : *all) {
            if (in(j))
                continue;
            const GridFacet &f = surface.facets.at(j);
            if (!first)
                first = &f;
            else if (!sameNormal(*first, f))
                return true;
        }
        return false;
    };

    QList<QVector<GridPoint>> contours;
    while (!edges.isEmpty()) {
        QVector<GridPoint> points;
        auto it = edges.begin();
        points << it.key() << it.value().takeLast();
        if (it.value().isEmpty())
            edges.erase(it);
        for (;;) {
            auto next = edges.find(points.last());
            if (next == edges.end())
                break;
            points.append(next.value().takeLast());
            if (next.value().isEmpty())
                edges.erase(next);
        }
        const bool closed = points.last() == points.first();
        if (!closed)
            qWarning("Unclosed contour");
        else
            points.removeLast();
        // Zero steps (repeated points) say nothing about the direction.
        points.erase(std::unique(points.begin(), points.end()), points.end());
        while (closed && points.size() > 1 && points.last() == points.first())
            points.removeLast();
        const int n = points.size();
        QVector<GridPoint> contour;
        contour.reserve(n);
        for (int i = 0; i < n; ++i) {
            const bool end = !closed && (i == 0 || i == n - 1);
            const GridPoint &p = points.at(i);
            if (end || n < 3 || step(points.at((i + n - 1) % n), p) != step(p, points.at((i + 1) % n))
                || pinned(p))
                contour.append(p);
        }
        if (distinctPoints(contour) >= 3)
            contours.append(contour);
    }
    return contours;
}

GridPolygon facetPolygon(const GridSurface &surface, int facet, int order)
{
    const GridFacet &f = surface.facets.at(facet);
    GridPolygon polygon;
    std::copy(f.normal, f.normal + 3, polygon.normal);
    polygon.contours.append(QVector<GridPoint>{f.a, f.b, f.c});
    polygon.facets = {facet};
    polygon.order = order;
    return polygon;
}

// The polygons of one patch (facets ascending, the first the lowest).
void appendPatch(QList<GridPolygon> &polygons, const GridSurface &surface, const QVector<int> &region,
                 const QList<QVector<GridPoint>> &contours)
{
    const int first = region.first();
    if (region.size() < 2 || contours.isEmpty()) {
        for (int j : region)
            polygons.append(facetPolygon(surface, j, first));
        return;
    }
    GridPolygon polygon;
    std::copy(surface.facets.at(first).normal, surface.facets.at(first).normal + 3, polygon.normal);
    polygon.contours = contours;
    polygon.facets = region;
    polygon.order = first;
    polygons.append(polygon);
}

std::tuple<quint32, quint32, quint32> normalKey(const GridFacet &f)
{
    // + 0 turns -0 into 0, which compare equal as normals.
    quint32 bits[3];
    for (int i = 0; i < 3; ++i) {
        const float v = f.normal[i] + 0.0f;
        std::memcpy(&bits[i], &v, 4);
    }
    return std::make_tuple(bits[0], bits[1], bits[2]);
}

} // namespace

QSet<int> coplanarRegion(const GridSurface &surface, int start)
{
    QSet<int> region;
    if (start < 0 || start >= surface.facets.size())
        return region;
    region.insert(start);
    flood(
        surface, start,
        [&region](int j) {
            if (region.contains(j))
                return false;
            region.insert(j);
            return true;
        },
        [](const GridPoint &, const GridPoint &) {});
    return region;
}

QList<QVector<GridPoint>> chainContours(const GridSurface &surface, const QSet<int> &region)
{
    QVector<int> facets = region.values().toVector();
    std::sort(facets.begin(), facets.end());
    return chain(surface, facets, [&region](int j) { return region.contains(j); });
}

QVector<QVector<int>> normalGroups(const GridSurface &surface)
{
    QVector<QVector<int>> groups;
    QMap<std::tuple<quint32, quint32, quint32>, int> index;
    for (int i = 0; i < surface.facets.size(); ++i) {
        const auto key = normalKey(surface.facets.at(i));
        auto it = index.find(key);
        if (it == index.end()) {
            it = index.insert(key, groups.size());
            groups.append(QVector<int>());
        }
        groups[it.value()].append(i);
    }
    return groups;
}

QList<GridPolygon> groupPolygons(const GridSurface &surface, const QVector<int> &group, int *regionOf)
{
    QList<GridPolygon> polygons;
    for (int i : group) {
        if (regionOf[i] != -1)
            continue;
        regionOf[i] = i;
        BoundaryEdges boundary;
        const QVector<int> region = flood(
            surface, i,
            [regionOf, i](int j) {
                if (regionOf[j] != -1)
                    return false;
                regionOf[j] = i;
                return true;
            },
            [&boundary](const GridPoint &p, const GridPoint &q) { boundary.add(p, q); });
        QList<QVector<GridPoint>> contours;
        if (region.size() >= 2) {
            const GridFacet &reference = surface.facets.at(i);
            // The normal first: other groups' entries belong to other threads.
            contours = chainBoundary(surface, boundary, [&surface, &reference, regionOf, i](int j) {
                return sameNormal(surface.facets.at(j), reference) && regionOf[j] == i;
            });
        }
        appendPatch(polygons, surface, region, contours);
    }
    return polygons;
}

QList<GridPolygon> surfacePolygons(const GridSurface &surface)
{
    QVector<int> regionOf(surface.facets.size(), -1);
    QList<GridPolygon> polygons;
    for (const QVector<int> &group : normalGroups(surface))
        polygons += groupPolygons(surface, group, regionOf.data());
    std::stable_sort(polygons.begin(), polygons.end(),
                     [](const GridPolygon &a, const GridPolygon &b) { return a.order < b.order; });
    return polygons;
}

QList<QList<GridPolygon>> allSurfacePolygons(const QList<GridSurface> &surfaces)
{
    QList<QList<GridPolygon>> result;
    for (const GridSurface &surface : surfaces)
        result.append(surfacePolygons(surface));
    return result;
}

} // namespace geom
