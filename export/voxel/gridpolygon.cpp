#include "gridpolygon.h"

#include "releaselater_p.h"
#include "sortunlesscancelled_p.h"

#include <QHash>
#include <QMap>
#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
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
// start. claim(j) tells whether j is still free and takes it.
template<typename Claim>
QVector<int> flood(const GridSurface &surface, int start, Claim claim)
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
            for (int j : surface.facetsAtPoint(ft.vertex(position))) {
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
    struct Edge
    {
        GridPoint p;
        GridPoint q;
        int sequence;
    };
    std::vector<Edge> list;

    void add(const GridPoint &p, const GridPoint &q) { list.push_back(Edge{p, q, int(list.size())}); }
};

template<typename Surface, typename In>
QList<QVector<GridPoint>> chainBoundary(const Surface &surface, BoundaryEdges &boundary, In in,
                                        const GridMapping *mapping = nullptr);

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
        const FacetIndices all = surface.facetsAtPoint(p);
        for (int j : all) {
            if (in(j))
                kept.append(j);
        }
        if (kept.size() == all.size())
            kept.clear();
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
template<typename Surface, typename In>
QList<QVector<GridPoint>> chainBoundary(const Surface &surface, BoundaryEdges &boundary, In in,
                                        const GridMapping *mapping)
{
    // In key order, of equal keys the latest recorded first.
    std::vector<BoundaryEdges::Edge> &edges = boundary.list;
    std::sort(edges.begin(), edges.end(), [](const BoundaryEdges::Edge &a, const BoundaryEdges::Edge &b) {
        return a.p < b.p || (a.p == b.p && a.sequence > b.sequence);
    });
    std::vector<char> used(edges.size(), 0);
    auto range = [&edges](const GridPoint &p) {
        return std::equal_range(edges.begin(), edges.end(), BoundaryEdges::Edge{p, p, 0},
                                [](const BoundaryEdges::Edge &a, const BoundaryEdges::Edge &b) { return a.p < b.p; });
    };
    auto outgoing = [&range](const GridPoint &p) {
        const auto r = range(p);
        return int(r.second - r.first);
    };
    // The first unused edge from p, or -1.
    auto next = [&](const GridPoint &p) {
        const auto r = range(p);
        for (auto it = r.first; it != r.second; ++it) {
            const size_t i = size_t(it - edges.begin());
            if (!used[i])
                return int(i);
        }
        return -1;
    };

    // Where three or more patches meet, two other normals show among the
    // facets outside this patch.
    auto pinned = [&](const GridPoint &p) {
        if (outgoing(p) > 1)
            return true;
        const GridFacet *first = nullptr;
        bool meet = false;
        surface.forEachFacetAt(p, [&](int j) {
            if (meet || in(j))
                return;
            const GridFacet &f = surface.facets.at(j);
            if (!first)
                first = &f;
            else if (!sameNormal(*first, f))
                meet = true;
        });
        return meet;
    };

    QList<QVector<GridPoint>> contours;
    for (size_t start = 0; start < edges.size(); ++start) {
        if (used[start])
            continue;
        used[start] = 1;
        QVector<GridPoint> points;
        points << edges[start].p << edges[start].q;
        for (int i = next(points.last()); i >= 0; i = next(points.last())) {
            used[size_t(i)] = 1;
            points.append(edges[size_t(i)].q);
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
            const GridPoint arriving = step(points.at((i + n - 1) % n), p);
            if (end || n < 3 || arriving != step(p, points.at((i + 1) % n)) || pinned(p)
                || (mapping && arriving.z != 0 && (arriving.x != 0 || arriving.y != 0)
                    && !mapping->evenGaps(p.z - std::abs(arriving.z), p.z + std::abs(arriving.z))))
                contour.append(p);
        }
        if (distinctPoints(contour) >= 3)
            contours.append(contour);
    }
    return contours;
}

GridPolygon facetPolygon(const QVector<GridFacet> &facets, int facet, int order)
{
    const GridFacet &f = facets.at(facet);
    GridPolygon polygon;
    std::copy(f.normal, f.normal + 3, polygon.normal);
    polygon.contours.append(QVector<GridPoint>{f.a, f.b, f.c});
    polygon.facets = {facet};
    polygon.order = order;
    return polygon;
}

// The polygons of one patch (facets ascending, the first the lowest).
void appendPatch(QList<GridPolygon> &polygons, const QVector<GridFacet> &facets, const QVector<int> &region,
                 const QList<QVector<GridPoint>> &contours)
{
    const int first = region.first();
    if (region.size() < 2 || contours.isEmpty()) {
        for (int j : region)
            polygons.append(facetPolygon(facets, j, first));
        return;
    }
    GridPolygon polygon;
    std::copy(facets.at(first).normal, facets.at(first).normal + 3, polygon.normal);
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

struct EdgeRecord
{
    quint64 lo;
    quint64 hi;
    int slot;

    bool operator<(const EdgeRecord &o) const { return lo != o.lo ? lo < o.lo : hi != o.hi ? hi < o.hi : slot < o.slot; }
};

// How many elements a loop over a large group handles between two looks at
// the cancel flag: a few milliseconds of work even on a busy machine.
constexpr int cancelStride = 1 << 16;

quint64 packed(const GridPoint &p)
{
    return quint64(quint16(p.x)) | quint64(quint16(p.y)) << 16 | quint64(quint16(p.z)) << 32;
}

// Whether a facet with another normal than facet t lies across the edge p-q.
template<typename Surface>
bool otherNormalAcross(const Surface &surface, int t, const GridPoint &p, const GridPoint &q)
{
    bool other = false;
    surface.forEachFacetAt(p, [&](int j) {
        other = other
                || (j != t && surface.facets.at(j).hasVertex(q) && !sameNormal(surface.facets.at(j), surface.facets.at(t)));
    });
    return other;
}

} // namespace

QSet<int> coplanarRegion(const GridSurface &surface, int start)
{
    QSet<int> region;
    if (start < 0 || start >= surface.facets.size())
        return region;
    region.insert(start);
    flood(surface, start, [&region](int j) {
        if (region.contains(j))
            return false;
        region.insert(j);
        return true;
    });
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
    return normalGroups(surface.facets);
}

QVector<QVector<int>> normalGroups(const QVector<GridFacet> &facets, const std::atomic<bool> *cancel)
{
    QVector<QVector<int>> groups;
    QMap<std::tuple<quint32, quint32, quint32>, int> index;
    for (int i = 0; i < facets.size(); ++i) {
        if (cancel && (i & 0xFFFF) == 0 && cancel->load())
            break;
        const auto key = normalKey(facets.at(i));
        auto it = index.find(key);
        if (it == index.end()) {
            it = index.insert(key, groups.size());
            groups.append(QVector<int>());
        }
        groups[it.value()].append(i);
    }
    return groups;
}

namespace {

template<typename Surface>
QList<GridPolygon> polygonsOfGroup(const Surface &surface, const QVector<int> &group, int *regionOf, bool closed,
                                   const GridMapping *mapping, const std::atomic<bool> *cancel)
{
    QList<GridPolygon> polygons;
    if (group.isEmpty())
        return polygons;
    const GridFacet &reference = surface.facets.at(group.first());
    if (!sameNormal(reference, reference)) {
        // A normal that equals nothing (NaN): every facet is a patch of its own.
        for (int i : group) {
            regionOf[i] = i;
            polygons.append(facetPolygon(surface.facets, i, i));
        }
        return polygons;
    }

    // Neighbours across edges within the group, found by sorting the edges
    // rather than through the surface's point map: a flood over a few
    // million facets then stays in memory it reads in order.
    const int n = group.size();
    if (cancel && cancel->load())
        return polygons;
    std::vector<EdgeRecord> records;
    records.reserve(size_t(3) * size_t(n));
    // A cancelled group leaves its records (hundreds of megabytes for the
    // largest) to be freed elsewhere.
    auto cancelled = [&records, cancel] {
        if (!cancel || !cancel->load())
            return false;
        releaseLater(records);
        return true;
    };
    for (int local = 0; local < n; ++local) {
        if ((local & (cancelStride - 1)) == 0 && cancelled())
            return polygons;
        const GridFacet &f = surface.facets.at(group.at(local));
        for (int position = 0; position < 3; ++position) {
            const quint64 p = packed(f.vertex(position)), q = packed(f.vertex((position + 1) % 3));
            records.push_back(EdgeRecord{std::min(p, q), std::max(p, q), 3 * local + position});
        }
    }
    if (!sortUnlessCancelled(records.data(), records.size(), cancel)) {
        releaseLater(records);
        return polygons;
    }
    // The slot (3 * local facet + position) across each edge; -1 for none in
    // the group. Runs of more than two facets on one edge are linked in a
    // ring so that the flood still reaches them all.
    std::vector<int> across(records.size(), -1);
    for (size_t i = 0, looked = 0; i < records.size();) {
        if (i >= looked) {
            if (cancelled()) {
                releaseLater(across);
                return polygons;
            }
            looked = i + cancelStride;
        }
        size_t j = i + 1;
        while (j < records.size() && records[j].lo == records[i].lo && records[j].hi == records[i].hi)
            ++j;
        if (j - i >= 2) {
            for (size_t k = i; k < j; ++k)
                across[size_t(records[k].slot)] = records[k + 1 < j ? k + 1 : i].slot;
        }
        i = j;
    }
    std::vector<EdgeRecord>().swap(records);
    // Once across is made, a cancel leaves it to be freed elsewhere.
    auto cancelledAfterRecords = [&across, cancel] {
        if (!cancel || !cancel->load())
            return false;
        releaseLater(across);
        return true;
    };
    if (cancelledAfterRecords())
        return polygons;

    QVector<int> stack;
    stack.reserve(32);
    for (int start = 0; start < n; ++start) {
        const int first = group.at(start);
        // Most starts of a large group are facets of patches already made.
        if ((start & (cancelStride - 1)) == 0 && cancelledAfterRecords())
            return polygons;
        if (regionOf[first] != -1)
            continue;
        if ((polygons.size() & 0xFF) == 0 && cancelledAfterRecords())
            return polygons;
        regionOf[first] = first;
        QVector<int> region{first};
        BoundaryEdges boundary;
        stack.append(start);
        for (int popped = 1; !stack.isEmpty(); ++popped) {
            // A patch can be most of a large surface.
            if ((popped & 0x3FFF) == 0 && cancelledAfterRecords())
                return polygons;
            const int t = stack.takeLast();
            const GridFacet &ft = surface.facets.at(group.at(t));
            for (int position = 0; position < 3; ++position) {
                const int other = across[size_t(3 * t + position)];
                if (other < 0) {
                    // Another normal across, or nothing (the rim of an open surface).
                    const GridPoint &p = ft.vertex(position), &q = ft.vertex((position + 1) % 3);
                    if (closed || otherNormalAcross(surface, group.at(t), p, q))
                        boundary.add(p, q);
                    continue;
                }
                const int facet = group.at(other / 3);
                if (regionOf[facet] != -1)
                    continue;
                regionOf[facet] = first;
                region.append(facet);
                stack.append(other / 3);
            }
        }
        if (!sortUnlessCancelled(region.data(), size_t(region.size()), cancel)) {
            releaseLater(across);
            return polygons;
        }
        QList<QVector<GridPoint>> contours;
        if (region.size() >= 2) {
            // The normal first: other groups' entries belong to other threads.
            contours = chainBoundary(surface, boundary, [&surface, &reference, regionOf, first](int j) {
                return sameNormal(surface.facets.at(j), reference) && regionOf[j] == first;
            }, mapping);
        }
        appendPatch(polygons, surface.facets, region, contours);
    }
    return polygons;
}

} // namespace

QList<GridPolygon> groupPolygons(const GridSurface &surface, const QVector<int> &group, int *regionOf, bool closed,
                                 const GridMapping *mapping, const std::atomic<bool> *cancel)
{
    return polygonsOfGroup(surface, group, regionOf, closed, mapping, cancel);
}

QList<GridPolygon> groupPolygons(const GridSurfaceParts &surface, const QVector<int> &group, int *regionOf,
                                 bool closed, const GridMapping *mapping, const std::atomic<bool> *cancel)
{
    return polygonsOfGroup(surface, group, regionOf, closed, mapping, cancel);
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
