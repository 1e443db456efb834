#include "facemesh_p.h"

#include "edgegrid_p.h"

#include <algorithm>

namespace geom {

void FaceMesh::clear(const StlLayer &lower, const StlLayer &upper)
{
    vertices.clear();
    triangles.clear();
    size_t count = 0;
    float magnitude = 0.0f;
    for (const StlLayer *layer : {&lower, &upper}) {
        for (const QVector<double> &loop : layer->loops) {
            count += size_t(loop.size() / 2);
            for (double v : loop)
                magnitude = std::fmax(magnitude, std::fabs(float(v)));
        }
    }
    vertexIndex.reset(2 * count + 1024);
    cells.reset(2 * count + 1024);
    cell = std::fmax(2.0 * std::ldexp(double(std::fmax(magnitude, 1e-3f)), -23),
                     snapRadius * std::fmax(1.0, double(magnitude)));
    for (const StlLayer *layer : {&lower, &upper}) {
        for (const QVector<double> &loop : layer->loops) {
            for (int i = 0; i < loop.size(); i += 2) {
                const Point2Df p = Point2Df(float(loop[i]), float(loop[i + 1]));
                const int index = vertexIndex.insert(pointKey(p), int(vertices.size()), false);
                if (index == int(vertices.size())) {
                    vertices.push_back(p);
                    cells.insert(cellKey(p), index, false);
                }
            }
        }
    }
    outlineVertices = int(vertices.size());
    recent.fill({HashTable::freeKey, -1});
    nextRecent = 0;
}

int FaceMesh::newVertex(const Point2Df &p)
{
    // Two units in the last place of the point's own magnitude, and at least
    // the snap radius.
    int exponent = 0;
    const float magnitude = std::fmax(std::fabs(p.x), std::fabs(p.y));
    std::frexp(magnitude, &exponent);
    const double near = std::fmax(std::ldexp(2.0, exponent - 24), snapRadius * std::fmax(1.0, double(magnitude)));
    int index = -1;
    const qint64 cx = cellOf(p.x), cy = cellOf(p.y);
    for (int dy = -1; dy <= 1 && index < 0; ++dy) {
        for (int dx = -1; dx <= 1 && index < 0; ++dx) {
            const int v = cells.find(cellKey(cx + dx, cy + dy));
            if (v >= 0 && std::fabs(double(vertices[size_t(v)].x) - p.x) <= near
                && std::fabs(double(vertices[size_t(v)].y) - p.y) <= near)
                index = v;
        }
    }
    if (index < 0) {
        index = int(vertices.size());
        vertices.push_back(p);
        cells.insert(cellKey(cx, cy), index, false);
    }
    vertexIndex.insert(pointKey(p), index, true);
    return index;
}

void FaceMesh::removeDegenerate()
{
    edges.reset(triangles.size() * 3);
    for (int t = 0; t < int(triangles.size()); ++t)
        setEdges(t);
    const size_t limit = 4 * triangles.size() + 16;
    for (size_t t = 0; t < triangles.size() && t < limit; ++t) {
        if (!triangles[t].live || sound(triangles[t]))
            continue;
        Triangle bad = triangles[t];
        triangles[t].live = false;
        int k = 0;
        double longest = -1.0;
        for (int i = 0; i < 3; ++i) {
            const Point2Df &p = vertices[size_t(bad.v[i])], &q = vertices[size_t(bad.v[(i + 1) % 3])];
            const double dx = double(q.x) - p.x, dy = double(q.y) - p.y, l = dx * dx + dy * dy;
            if (l > longest) {
                longest = l;
                k = i;
            }
        }
        const int p = bad.v[k], q = bad.v[(k + 1) % 3], r = bad.v[(k + 2) % 3];
        const int n = across(p, q);
        if (n < 0)
            continue;
        Triangle &other = triangles[size_t(n)];
        int d = -1;
        for (int i = 0; i < 3; ++i) {
            if (other.v[i] != p && other.v[i] != q)
                d = other.v[i];
        }
        other.live = false;
        const bool down = other.down;
        if (d < 0 || d == r)
            continue;
        // The neighbour runs q -> p -> d; split at r on that edge.
        add(q, r, d, down);
        setEdges(int(triangles.size()) - 1);
        add(r, p, d, down);
        setEdges(int(triangles.size()) - 1);
    }
}

// Where an outline edge crosses a band line, the faces have a vertex that
// the plain faces would not have, and the wall on that edge would be split
// there too: two facets more for each. Such a point, on a straight stretch
// of a face's outline (its neighbours along the outline on the same edge),
// is merged into one of those neighbours, where every triangle around it
// keeps its area and direction and no edge would be made twice.
void FaceMesh::mergeBandPoints(const EdgeGrid &grid)
{
    const int count = int(vertices.size());
    if (around.size() < size_t(count))
        around.resize(size_t(count));
    for (int v = 0; v < count; ++v)
        around[size_t(v)].clear();
    for (int t = 0; t < int(triangles.size()); ++t) {
        if (triangles[size_t(t)].live) {
            for (int v : triangles[size_t(t)].v)
                around[size_t(v)].push_back(t);
        }
    }
    // The one outline edge that the piece u-w lies on, or -1.
    auto edgeOf = [&](int u, int w, bool down) {
        int found[4];
        bool ambiguous = false;
        const int n = grid.candidates(vertices[size_t(u)], vertices[size_t(w)], down, found, &ambiguous);
        return n == 1 ? found[0] : -1;
    };
    std::vector<int> fan;
    std::vector<Triangle> merged;
    for (int v = outlineVertices; v < count; ++v) {
        fan.clear();
        for (int t : around[size_t(v)]) {
            if (triangles[size_t(t)].live)
                fan.push_back(t);
        }
        if (fan.empty())
            continue;
        const bool down = triangles[size_t(fan[0])].down;
        // Where the faces up and down meet (a crossing point) the vertex
        // stays; that is told before any edge is looked up.
        bool oneKind = true;
        for (int t : fan)
            oneKind = oneKind && triangles[size_t(t)].down == down;
        if (!oneKind)
            continue;
        int a = -1, b = -1, ins = 0, outs = 0;
        for (int t : fan) {
            const Triangle &tri = triangles[size_t(t)];
            const int k = tri.v[0] == v ? 0 : (tri.v[1] == v ? 1 : 2);
            const int next = tri.v[(k + 1) % 3], previous = tri.v[(k + 2) % 3];
            if (across(v, next) < 0) {
                b = next;
                ++outs;
            }
            if (across(previous, v) < 0) {
                a = previous;
                ++ins;
            }
            if (ins > 1 || outs > 1)
                break;
        }
        if (ins != 1 || outs != 1 || a == b)
            continue;
        const int edge = edgeOf(a, v, down);
        if (edge < 0 || edgeOf(v, b, down) != edge)
            continue;
        for (int target : {a, b}) {
            merged.clear();
            int dropped = 0;
            bool ok = true;
            for (int t : fan) {
                Triangle tri = triangles[size_t(t)];
                if (tri.v[0] == target || tri.v[1] == target || tri.v[2] == target) {
                    ++dropped;
                    continue;
                }
                for (int &corner : tri.v) {
                    if (corner == v)
                        corner = target;
                }
                // Its edges at the target must not be edges of a triangle
                // that stays.
                for (int k = 0; k < 3 && ok; ++k) {
                    const int p = tri.v[k], q = tri.v[(k + 1) % 3];
                    if (p == target || q == target) {
                        const int existing = edges.find(edgeKey(p, q));
                        ok = !(existing >= 0 && triangles[size_t(existing)].live
                               && std::find(fan.begin(), fan.end(), existing) == fan.end());
                    }
                }
                ok = ok && sound(tri);
                if (!ok)
                    break;
                merged.push_back(tri);
            }
            if (!ok || dropped != 1)
                continue;
            for (int t : fan)
                triangles[size_t(t)].live = false;
            for (const Triangle &tri : merged) {
                const int t = int(triangles.size());
                triangles.push_back(tri);
                setEdges(t);
                for (int corner : tri.v)
                    around[size_t(corner)].push_back(t);
            }
            break;
        }
    }
}

} // namespace geom
