#include "stllayerbuilder.h"

#include "polygonsimplifier.h"
#include "stllayerbuilder_p.h"
#include "util2d.h"
#include "wallline_p.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace geom {

namespace {

// Whether the slice's height and coordinates are finite (LayerOk), and its
// coordinates within the reach of the outline clean-up, whose float products
// of coordinate differences must not overflow.
StlLayerBuilder::LayerStatus rangeOf(const Slice &slice)
{
    if (!std::isfinite(slice.z()))
        return StlLayerBuilder::LayerNotFinite;
    StlLayerBuilder::LayerStatus status = StlLayerBuilder::LayerOk;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        for (const Point2Df &p : slice.contourAt(i).points()) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y))
                return StlLayerBuilder::LayerNotFinite;
            if (std::fabs(p.x) > StlLayerBuilder::maxCoordinate || std::fabs(p.y) > StlLayerBuilder::maxCoordinate)
                status = StlLayerBuilder::LayerOutOfRange;
        }
    }
    return status;
}

bool hasUsableContours(const Slice &slice)
{
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        if (slice.contourAt(i).points().size() >= 3)
            return true;
    }
    return false;
}

void sortSplits(StlEdgeSplits &splits)
{
    std::sort(splits.begin(), splits.end(), alongLoopEdges<StlEdgeSplit>);
    splits.erase(std::unique(splits.begin(), splits.end(),
                             [](const StlEdgeSplit &a, const StlEdgeSplit &b) {
                                 return a.loop == b.loop && a.edge == b.edge && a.point == b.point;
                             }),
                 splits.end());
}

// The ends a and b of a chamfer of the corner at p (whose edges go to
// p + (ax, ay) and p + (bx, by)) that meets no edge of the layer but the
// corner's own two and lands on no point already taken (a vertex, or the end
// of another chamfer: two loops that leave a point at a shallow angle would
// have chamfers ending at one float point). It reaches the given length
// along each edge, or longer (a neighbour that leaves the corner at a shallow
// angle is clear of a longer one only; along a short edge it stops at a
// quarter of the edge), else shorter, down to a few float steps.
bool chamfer(double px, double py, double ax, double ay, double bx, double by, double length,
             const LoopClearance &clearance, const HashTable &taken, int loop, int before, int after, Point2Df &a,
             Point2Df &b)
{
    const double la = std::sqrt(ax * ax + ay * ay), lb = std::sqrt(bx * bx + by * by);
    const double floatStep = std::ldexp(1.0, std::ilogb(std::fmax(std::fabs(px), std::fabs(py))) - 20);
    const double longest = std::fmin(256.0 * length, 0.25 * std::fmax(la, lb));
    double tries[24];
    int count = 0;
    for (double d = length; d <= longest && count < 12; d *= 2.0)
        tries[count++] = d;
    for (double d = length * 0.5; d >= floatStep && count < 24; d *= 0.5)
        tries[count++] = d;
    // First a chamfer that passes at least half its length from the corner
    // point, which the other loops through it keep: a chamfer of a nearly
    // straight corner passes within a hair of it, and the faces would put
    // that point on the chamfer as well. Failing that, any that fits.
    for (const double margin : {0.5 * length, 0.0}) {
        for (int k = 0; k < count; ++k) {
            const double da = std::fmin(tries[k], 0.25 * la), db = std::fmin(tries[k], 0.25 * lb);
            a = filePoint(px + ax * da / la, py + ay * da / la);
            b = filePoint(px + bx * db / lb, py + by * db / lb);
            const Point2Dd corner(px, py), from(a.x, a.y), to(b.x, b.y);
            if (margin > 0.0 && !(util2D::distanceToSegment(corner, to, from) >= margin))
                continue;
            if (!(a == b) && taken.find(pointKey(a)) < 0 && taken.find(pointKey(b)) < 0
                && !clearance.meets(a.x, a.y, b.x, b.y, loop, before, after))
                return true;
        }
    }
    return false;
}

// Where outline loops touch at a vertex (two contours meeting at a corner, or
// a loop passing through a point twice), the walls of both would share the
// vertical edge above it: four facets on one edge. Each convex corner at such
// a point is cut off by a chamfer of the given length, which parts them
// while changing the area by a negligible amount. A chamfer that would touch
// or cross another edge (the far side of a sliver, a neighbour running close
// by) is made longer or shorter, and left out when none fits.
//
// With a reach, a vertex within it of another edge (on it, up to float
// rounding) counts as touching too: where the clean-up could not settle such
// a vertex (it put it onto the edge, and the outline, finding it collinear
// there, dropped the edge's own vertex again), the faces would split that
// edge at it and the walls of both share the upright edge above it.
void separateTouchingCorners(StlLayer &layer, double length, LoopClearance &clearance, double reach)
{
    HashTable count;
    int vertices = 0;
    for (const QVector<double> &loop : layer.loops)
        vertices += loop.size() / 2;
    count.reset(size_t(vertices));
    bool touching = false;
    for (const QVector<double> &loop : layer.loops) {
        for (int i = 0; i < loop.size(); i += 2) {
            const quint64 key = pointKey(Point2Df(float(loop[i]), float(loop[i + 1])));
            const int seen = count.find(key);
            count.insert(key, seen < 0 ? 1 : seen + 1, true);
            touching = touching || seen > 0;
        }
    }
    if (reach > 0.0 && clearance.index(layer, reach) >= 4) {
        for (int l = 0; l < layer.loops.size(); ++l) {
            const QVector<double> &loop = layer.loops[l];
            const int n = loop.size() / 2;
            for (int i = 0; i < n; ++i) {
                if (clearance.near(loop[2 * i], loop[2 * i + 1], reach, l, (i + n - 1) % n, i)) {
                    count.insert(pointKey(Point2Df(float(loop[2 * i]), float(loop[2 * i + 1]))), 2, true);
                    touching = true;
                }
            }
        }
    }
    if (!touching)
        return;
    // The chamfers are checked against the loops as they were: each lies
    // inside its own convex corner (the loop turns left, material on its
    // left), so the chamfers do not cross each other; their ends are kept
    // apart by the points taken.
    clearance.index(layer, 0.0);
    for (int l = 0; l < layer.loops.size(); ++l) {
        QVector<double> &loop = layer.loops[l];
        const int n = loop.size() / 2;
        QVector<double> cut;
        cut.reserve(loop.size() + 8);
        for (int i = 0; i < n; ++i) {
            const double px = loop[2 * i], py = loop[2 * i + 1];
            const int prev = (i + n - 1) % n, next = (i + 1) % n;
            const double ax = loop[2 * prev] - px, ay = loop[2 * prev + 1] - py;
            const double bx = loop[2 * next] - px, by = loop[2 * next + 1] - py;
            const bool shared = count.find(pointKey(Point2Df(float(px), float(py)))) > 1;
            Point2Df a, b;
            if (shared && ay * bx - ax * by > 0.0
                && chamfer(px, py, ax, ay, bx, by, length, clearance, count, l, prev, i, a, b)) {
                count.insert(pointKey(a), 1, true);
                count.insert(pointKey(b), 1, true);
                cut.append(double(a.x));
                cut.append(double(a.y));
                cut.append(double(b.x));
                cut.append(double(b.y));
            } else {
                cut.append(px);
                cut.append(py);
            }
        }
        loop = cut;
    }
}

// Blunts needles: a corner so sharp that its two edges run closer together
// than the reach for a stretch (a spike or a crack a few grid steps wide at
// its base, as an island following the outline at a tiny gap leaves). A
// vertex of the next layer's faces that falls in that stretch would lie on
// both edges for the faces, which split both walls at it: the two walls share
// the upright edge above it. The tip is cut off where the edges are twice the
// reach apart. A needle that narrow over most of its shorter edge is left as
// it is: its base is at most 2.5 reaches wide, so neither a cut there nor
// an edge straight across the base (leaving the tip out) would be clear of
// its neighbours.
void bluntNeedles(StlLayer &layer, double reach, LoopClearance &clearance)
{
    if (!(reach > 0.0))
        return;
    // A tip and the chamfer a-b that replaces it.
    struct Cut
    {
        int vertex;
        Point2Df a, b;
    };
    std::vector<Cut> cuts;
    // The edges are indexed when the first needle turns up (most layers have
    // none), and again once cuts have changed them. Within a round each cut
    // stays inside its own corner, so it is checked against the loops as
    // they were at the round's start.
    bool indexed = false;
    for (int l = 0; l < layer.loops.size(); ++l) {
        for (int round = 0; round < 8; ++round) {
            const QVector<double> &loop = layer.loops[l];
            const int n = loop.size() / 2;
            cuts.clear();
            for (int i = 0; i < n; ++i) {
                // Never two neighbours in one round.
                if (!cuts.empty() && (cuts.back().vertex == i - 1 || (i == n - 1 && cuts.front().vertex == 0)))
                    continue;
                const double px = loop[2 * i], py = loop[2 * i + 1];
                const int prev = (i + n - 1) % n, next = (i + 1) % n;
                const double ax = loop[2 * prev] - px, ay = loop[2 * prev + 1] - py;
                const double bx = loop[2 * next] - px, by = loop[2 * next + 1] - py;
                const double la = std::sqrt(ax * ax + ay * ay), lb = std::sqrt(bx * bx + by * by);
                const double sine = std::fabs(ax * by - ay * bx) / (la * lb);
                // Only needles: under about 6 degrees.
                if (!(ax * bx + ay * by > 0.0 && sine < 0.1))
                    continue;
                if (!indexed) {
                    clearance.index(layer, 0.0);
                    indexed = true;
                }
                const double narrow = reach / sine, half = 0.5 * std::fmin(la, lb);
                if (1.25 * narrow > half)
                    continue;
                const double d = std::fmin(2.0 * narrow, half);
                const Point2Df a = filePoint(px + ax * d / la, py + ay * d / la);
                const Point2Df b = filePoint(px + bx * d / lb, py + by * d / lb);
                if (!(a == b) && !clearance.meets(a.x, a.y, b.x, b.y, l, prev, i))
                    cuts.push_back({i, a, b});
            }
            if (cuts.empty())
                break;
            QVector<double> blunted;
            blunted.reserve(loop.size() + 2 * int(cuts.size()));
            size_t c = 0;
            for (int i = 0; i < n; ++i) {
                if (c < cuts.size() && cuts[c].vertex == i) {
                    const Cut &cut = cuts[c++];
                    blunted << double(cut.a.x) << double(cut.a.y) << double(cut.b.x) << double(cut.b.y);
                } else {
                    blunted << loop[2 * i] << loop[2 * i + 1];
                }
            }
            layer.loops[l] = blunted;
            indexed = false;
        }
    }
}

// The loops of an outline with every vertex on the grid (of the given step;
// none below 1e-5) and as the file stores it, without collinear or repeated
// vertices; loops that collapse are left out.
void roundOutline(const Slice &outline, double grid, StlLayer &layer)
{
    const int count = outline.contourCount();
    layer.loops.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QVector<Point2Df> points = PolygonSimplifier<Point2Df>::removeCollinear(outline.contourAt(i).points());
        if (points.size() <= 2)
            continue;
        QVector<double> values;
        values.reserve(points.size() * 2);
        for (const Point2Df &p : points) {
            // Every vertex on the grid: GLU's crossing points are not, nor is
            // the first vertex of a contour after Slice::snapToGrid, and a
            // vertex of one layer a unit in the last place off one of the
            // next would leave a wall facet too thin to have a direction.
            const Point2Df f = grid >= double(1e-5f)
                                   ? filePoint(std::round(double(p.x) / grid) * grid, std::round(double(p.y) / grid) * grid)
                                   : filePoint(p.x, p.y);
            if (!values.isEmpty() && double(f.x) == values[values.size() - 2] && double(f.y) == values.last())
                continue;
            values.append(double(f.x));
            values.append(double(f.y));
        }
        if (values.size() > 2 && values[0] == values[values.size() - 2] && values[1] == values.last())
            values.resize(values.size() - 2);
        if (values.size() >= 6)
            layer.loops.append(values);
    }
}

// Leaves out the loops narrower on average (twice the area over the
// perimeter) than the grid step: slivers of holes or islands that the
// clean-up kept, whose faces and walls cannot be closed in float.
// Returns the area they had.
double dropSlivers(StlLayer &layer, double grid)
{
    double dropped = 0.0;
    for (int l = layer.loops.size() - 1; l >= 0; --l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        double area2 = 0.0, perimeter = 0.0;
        for (int i = 0, j = n - 1; i < n; j = i++) {
            area2 += (v[2 * j] - v[2 * i]) * (v[2 * j + 1] + v[2 * i + 1]);
            const double dx = v[2 * i] - v[2 * j], dy = v[2 * i + 1] - v[2 * j + 1];
            perimeter += std::sqrt(dx * dx + dy * dy);
        }
        if (std::fabs(area2) < grid * perimeter) {
            dropped += 0.5 * std::fabs(area2);
            layer.loops.removeAt(l);
        }
    }
    return dropped;
}

// The loops as the contours of a slice at the height of the given one.
Slice loopsSlice(const StlLayer &layer, const Slice &slice)
{
    Slice contours(slice.z(), slice.thickness());
    for (const QVector<double> &loop : layer.loops) {
        QVector<Point2Df> points(loop.size() / 2);
        for (int i = 0; i < points.size(); ++i)
            points[i] = Point2Df(float(loop[2 * i]), float(loop[2 * i + 1]));
        contours.addContour(Contour(points));
    }
    return contours;
}

// How far apart the layer's loops must stay for the faces to tell them apart:
// twice the distance within which a piece of a face's outline is taken to lie
// on an edge (EdgeGrid::candidates), relative to the layer's magnitude.
double clearanceOf(const StlLayer &layer)
{
    double magnitude = 1.0;
    for (const QVector<double> &loop : layer.loops)
        for (double v : loop)
            magnitude = std::fmax(magnitude, std::fabs(v));
    return 8e-6 * magnitude;
}

// Appends the facet a, b, c with the unit normal of its own float vertices,
// worked out in double: where rounding turns a sliver a little off the plane
// or the wall it belongs to, a reader that checks the stored normal against
// the vertices (or uses it to tell inside from outside) finds them agreeing.
// A facet whose vertices give no direction is left out.
inline void appendFacet(QVector<Facet> &facets, const Point3Df &a, const Point3Df &b, const Point3Df &c)
{
    const double ux = double(b.x) - a.x, uy = double(b.y) - a.y, uz = double(b.z) - a.z;
    const double wx = double(c.x) - a.x, wy = double(c.y) - a.y, wz = double(c.z) - a.z;
    const double nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length))
        return;
    const Point3Df normal(float(nx / length), float(ny / length), float(nz / length));
    // The facet starts at the vertex opposite its longest edge: a reader that
    // works the normal out in single precision from the first vertex (admesh
    // does, and "fixes" the ones that differ) then crosses the two shorter
    // edges. On a sliver (a wall facet under a top edge a few hundredths of
    // a micrometre long) the long edges' products cancel in single precision
    // and leave rounding noise instead of the facet's direction.
    const double ab = ux * ux + uy * uy + uz * uz, ca = wx * wx + wy * wy + wz * wz;
    const double vx = double(c.x) - b.x, vy = double(c.y) - b.y, vz = double(c.z) - b.z;
    const double bc = vx * vx + vy * vy + vz * vz;
    if (bc >= ab && bc >= ca)
        facets.append(Facet(a, b, c, normal));
    else if (ca >= ab)
        facets.append(Facet(b, c, a, normal));
    else
        facets.append(Facet(c, a, b, normal));
}

// Whether the triangle (x, y pairs in double) is so thin that its centroid
// may lie within three times the face mesh's snap radius of an edge: a corner
// that GLU put that far off could take the centroid out of it. The centroid
// lies a third of the least height from the nearest edge, and the longest
// edge squared is at most twice the sum of the other two squared.
inline bool thinTriangle(const double *v)
{
    const double ux = v[2] - v[0], uy = v[3] - v[1], wx = v[4] - v[0], wy = v[5] - v[1];
    const double cross = ux * wy - uy * wx;
    double magnitude = 1.0;
    for (int k = 0; k < 6; ++k)
        magnitude = std::fabs(v[k]) > magnitude ? std::fabs(v[k]) : magnitude;
    const double reach = 9.0 * FaceMesh::snapRadius * magnitude;
    return cross * cross <= 2.0 * reach * reach * (ux * ux + uy * uy + wx * wx + wy * wy);
}

// A few units in the last place of float above z: what parts the upper of
// two solids that would share an edge or a face at z.
inline float liftedHeight(float z)
{
    return z + std::fmax(1e-6f, std::fabs(z) * std::ldexp(1.0f, -20));
}

} // namespace

// Where the face up (on the lower layer) and the face down (under the upper
// one) meet along an edge, the two solids would share it, with the walls of
// both: four facets on one edge. The upper solid's side of such meeting
// points (its faces down and the bottoms of its walls) is lifted by a few
// units in the last place of z, so the two just part. Only the points where
// they meet cleanly (each face's outline there runs along its own layer's
// edges) are lifted; the marks are empty when they do not meet at all.
std::vector<char> StlLayerBuilderPrivate::liftedVertices(const StlLayer &upper, float z, StlEdgeSplits *splits)
{
    StlEdgeSplits &upperSplits = splits[1];
    std::vector<char> marks;
    bool any = false;
    for (const Piece &piece : pieces)
        any = any || piece.touching;
    if (!any)
        return marks;
    marks.assign(mesh.vertices.size(), 0);
    for (const Piece &piece : pieces) {
        if (piece.touching)
            marks[size_t(piece.u)] = marks[size_t(piece.w)] = 1;
    }
    // A face up along the upper layer's edge alone, or a face down along the
    // lower one's alone: at its ends the solids overlap, and the two sides
    // are joined there anyway. Those points stay; a meeting edge with one
    // lifted end is parted all the same.
    for (const Piece &piece : pieces) {
        if (!piece.touching && piece.sides == (piece.down ? 1 : 2))
            marks[size_t(piece.u)] = marks[size_t(piece.w)] = 0;
    }
    lift = liftedHeight(z) - z;
    for (StlEdgeSplit &split : upperSplits) {
        const int v = mesh.vertexIndex.find(pointKey(split.point));
        if (v >= 0 && marks[size_t(v)])
            split.lift = lift;
    }
    for (int l = 0; l < upper.loops.size(); ++l) {
        const QVector<double> &loop = upper.loops[l];
        const int n = loop.size() / 2;
        for (int i = 0; i < n; ++i) {
            const Point2Df p = Point2Df(float(loop[2 * i]), float(loop[2 * i + 1]));
            const int v = mesh.vertexIndex.find(pointKey(p));
            if (v < 0 || !marks[size_t(v)])
                continue;
            upperSplits.push_back({l, i, 0.0, p, lift});
            upperSplits.push_back({l, (i + n - 1) % n, 1.0, p, lift});
        }
    }
    // A meeting stretch with overlaps at both ends keeps both ends in the
    // plane, so the lifted point is its middle: the face down gets a vertex
    // there (its triangle along the stretch is split in two), and so does the
    // bottom of the upper layer's wall. The solids are then parted along the
    // whole stretch by a ridge a hair's breadth high.
    const size_t pieceCount = pieces.size();
    for (size_t k = 0; k < pieceCount; ++k) {
        const Piece piece = pieces[k];
        if (!piece.touching || !piece.down || marks[size_t(piece.u)] || marks[size_t(piece.w)])
            continue;
        const int t = mesh.edges.find(edgeKey(piece.u, piece.w));
        if (t < 0 || !mesh.triangles[size_t(t)].live)
            continue;
        const Point2Df a = mesh.vertices[size_t(piece.u)], b = mesh.vertices[size_t(piece.w)];
        const Point2Df middle = filePoint(0.5 * (double(a.x) + b.x), 0.5 * (double(a.y) + b.y));
        if (middle == a || middle == b)
            continue;
        int found[4];
        bool ambiguous = false;
        const int count = grid.candidates(a, b, true, found, &ambiguous);
        int edge = -1;
        for (int f = 0; f < count; ++f) {
            if (grid.sideOf(found[f]) == 1)
                edge = found[f];
        }
        if (edge < 0)
            continue;
        const FaceMesh::Triangle split = mesh.triangles[size_t(t)];
        int opposite = split.v[0];
        for (int v : split.v) {
            if (v != piece.u && v != piece.w)
                opposite = v;
        }
        const int m = int(mesh.vertices.size());
        mesh.vertices.push_back(middle);
        const FaceMesh::Triangle halves[2] = {{{piece.u, m, opposite}, true, true}, {{m, piece.w, opposite}, true, true}};
        if (!mesh.sound(halves[0]) || !mesh.sound(halves[1])) {
            mesh.vertices.pop_back();
            continue;
        }
        marks.push_back(1);
        mesh.triangles[size_t(t)].live = false;
        for (const FaceMesh::Triangle &half : halves) {
            mesh.triangles.push_back(half);
            // Another stretch along the same triangle finds its half.
            mesh.setEdges(int(mesh.triangles.size()) - 1);
        }
        grid.splitAt(edge, middle, lift, splits);
    }
    return marks;
}

// The triangles of the last polygon into the mesh; reversed turns triangles
// wound counter-clockwise seen from below.
void StlLayerBuilderPrivate::addTriangles(bool reversed, bool down)
{
    const QVector<const QVector<double> *> primitives = tessellator.polygons2Dd();
    if (primitives.isEmpty())
        return;
    const QVector<double> &t = *primitives.first();
    for (int i = 0; i + 6 <= t.size(); i += 6) {
        const int a = mesh.vertex(t[i], t[i + 1]), b = mesh.vertex(t[i + 2], t[i + 3]),
                  c = mesh.vertex(t[i + 4], t[i + 5]);
        if (reversed)
            mesh.add(a, c, b, down);
        else
            mesh.add(a, b, c, down);
    }
}

// Both faces of a band from one polygon: the lower pieces forwards and the
// upper ones reversed wind +1 where only the lower layer is and -1 where only
// the upper one is; each triangle of the nonzero region is then placed by
// whether it lies in the upper layer.
bool StlLayerBuilderPrivate::bandFaces(const LayerContours &lower, const LayerContours &upper, int lowerFrom,
                                       int lowerTo, int upperFrom, int upperTo)
{
    const double up[3] = {0.0, 0.0, 1.0};
    tessellator.setWindingRule(Tessellator::WindingNonZero);
    tessellator.beginPolygon(Tessellator::Double2D, up);
    for (int k = lowerFrom; k < lowerTo; ++k) {
        const LayerContours::Piece &piece = lower.pieces[k];
        tessellator.addContour(lower.bandValues.constData() + piece.offset, piece.count);
    }
    for (int k = upperFrom; k < upperTo; ++k) {
        const LayerContours::Piece &piece = upper.pieces[k];
        tessellator.addContour(upper.bandValues.constData() + piece.offset, -piece.count);
    }
    if (!tessellator.endPolygon())
        return false;
    const QVector<const QVector<double> *> primitives = tessellator.polygons2Dd();
    if (primitives.isEmpty())
        return true;
    // Placed in double, as GLU made them, so that a thin triangle is placed by
    // its own shape, not by its corners rounded to float.
    const QVector<double> &t = *primitives.first();
    bandWinding.build(upper, upperFrom, upperTo);
    bool lowerBuilt = false;
    const size_t firstTriangle = mesh.triangles.size();
    for (int i = 0; i + 6 <= t.size(); i += 6) {
        const double *v = t.constData() + i;
        const double cx = (v[0] + v[2] + v[4]) / 3.0, cy = (v[1] + v[3] + v[5]) / 3.0;
        const int w = bandWinding.at(cx, cy);
        bool placed = w == 0 || w == 1;
        // GLU puts the crossing point of two nearly parallel edges up to a few
        // units in the last place of float off both of them, further than a
        // sliver between the two is wide: the centroid of a triangle that
        // thin may then lie outside it, in both layers or in neither (a
        // sliver of the face up taken for one of the face down, with no
        // partners along its edges). A triangle of the faces lies in exactly
        // one layer, so the lower layer is asked as well.
        if (placed && thinTriangle(v)) {
            if (!lowerBuilt) {
                lowerWinding.build(lower, lowerFrom, lowerTo);
                lowerBuilt = true;
            }
            placed = lowerWinding.at(cx, cy) == 1 - w;
        }
        if (!placed) {
            // Too close to call: the band is made the slow way, one face at a
            // time, each placed by GLU itself.
            mesh.triangles.resize(firstTriangle);
            return bandFace(lower, upper, lowerFrom, lowerTo, upperFrom, upperTo, true)
                   && bandFace(lower, upper, lowerFrom, lowerTo, upperFrom, upperTo, false);
        }
        mesh.add(mesh.vertex(v[0], v[1]), mesh.vertex(v[2], v[3]), mesh.vertex(v[4], v[5]), w == 1);
    }
    return true;
}

// One face of a band: with the polygon normal down, the upper layer's outer
// contours count -1 and the reversed lower ones +1, so the negative region is
// the downward face; with the normal up the lower ones count +1 and the
// reversed upper ones -1, and the positive region is the upward face.
bool StlLayerBuilderPrivate::bandFace(const LayerContours &lower, const LayerContours &upper, int lowerFrom,
                                      int lowerTo, int upperFrom, int upperTo, bool downward)
{
    const double normal[3] = {0.0, 0.0, downward ? -1.0 : 1.0};
    tessellator.setWindingRule(downward ? Tessellator::WindingNegative : Tessellator::WindingPositive);
    tessellator.beginPolygon(Tessellator::Double2D, normal);
    const int lowerSign = downward ? -1 : 1;
    for (int k = lowerFrom; k < lowerTo; ++k) {
        const LayerContours::Piece &piece = lower.pieces[k];
        tessellator.addContour(lower.bandValues.constData() + piece.offset, lowerSign * piece.count);
    }
    for (int k = upperFrom; k < upperTo; ++k) {
        const LayerContours::Piece &piece = upper.pieces[k];
        tessellator.addContour(upper.bandValues.constData() + piece.offset, -lowerSign * piece.count);
    }
    if (!tessellator.endPolygon())
        return false;
    // Seen from below GLU winds the downward triangles counter-clockwise.
    addTriangles(downward, downward);
    return true;
}

StlLayerBuilder::StlLayerBuilder() : d(new StlLayerBuilderPrivate) {}

StlLayerBuilder::~StlLayerBuilder()
{
    delete d;
}

StlLayerBuilder::LayerStatus StlLayerBuilder::layer(const Slice &slice, double tolerance, StlLayer &layer)
{
    layer.loops.clear();
    layer.droppedArea = 0.0;
    const LayerStatus range = rangeOf(slice);
    if (range != LayerOk)
        return range;
    Slice copy(slice);
    copy.reduce(tolerance);
    copy.snapToGrid(tolerance * tolerance);

    // The outline under the positive winding rule: outer loops
    // counter-clockwise, holes clockwise. Slices whose contours neither cross
    // nor touch (the usual case) are outlined directly, the others by the
    // tessellator.
    Slice outline;
    int usable = 0;
    auto tessellated = [&](const Slice &contours) {
        Tessellator::OutlineStatus status = Tessellator::OutlineOk;
        d->tessellator.setWindingRule(Tessellator::WindingPositive);
        outline = d->tessellator.outline(contours, &status);
        const bool ok = status != Tessellator::OutlineFailed && !d->tessellator.failed();
        d->tessellator.setBoundaryOnly(false);
        return ok;
    };
    if (!d->cleanOutline.find(copy, outline, usable) && !tessellated(copy))
        return LayerFailed;

    const double grid = tolerance * tolerance;
    roundOutline(outline, grid, layer);
    // Rounding to the grid can make loops meet that were apart (an island's
    // corner comes onto its neighbour's edge, two islands onto one stretch
    // that their loops would then run along twice, back to back): the
    // rounded loops are outlined once more, which merges them where they
    // meet, and rounded again.
    if (!layer.loops.isEmpty()) {
        const Slice rounded = loopsSlice(layer, slice);
        const bool clean = d->cleanOutline.find(rounded, outline, usable);
        if (!clean && !tessellated(rounded))
            return LayerFailed;
        if (!clean || outline.contourCount() != rounded.contourCount()) {
            layer.loops.clear();
            roundOutline(outline, grid, layer);
        }
    }
    // Loops that still come closer than the faces can tell apart (a vertex
    // a grid step or so from another loop's edge) are made to touch exactly
    // there and outlined again, which merges them along the stretch; a few
    // rounds, since the outline's rounding can bring others together.
    const double reach = clearanceOf(layer);
    const double clearance = std::fmax(1.5 * grid, reach);
    bool settled = false;
    for (int pass = 0; pass < 3; ++pass) {
        settled = !d->clearance.snap(layer, clearance, grid);
        if (settled)
            break;
        if (!tessellated(loopsSlice(layer, slice)))
            return LayerFailed;
        layer.loops.clear();
        roundOutline(outline, grid, layer);
    }
    layer.droppedArea = dropSlivers(layer, grid);
    bluntNeedles(layer, reach, d->clearance);
    // The corners are cut by at least the clearance, so that what they part
    // stays apart for the faces too (on parts far from the origin).
    separateTouchingCorners(layer, std::fmax(std::fmax(0.5 * tolerance * tolerance, 1e-6), reach), d->clearance,
                            settled ? 0.0 : 0.25 * reach);
    return layer.loops.isEmpty() && hasUsableContours(slice) ? LayerWithoutOutline : LayerOk;
}

bool StlLayerBuilder::faces(const StlLayer &lower, const StlLayer &upper, float z, QVector<Facet> &facets,
                            StlEdgeSplits &lowerSplits, StlEdgeSplits &upperSplits)
{
    if (lower.loops == upper.loops) {
        lowerSplits.clear();
        upperSplits.clear();
        return true;
    }
    const int from = facets.size();
    if (!facesOf(lower, upper, z, facets, lowerSplits, upperSplits))
        return false;
    if (closedAt(lower, upper, z, facets, from, lowerSplits, upperSplits))
        return true;
    // Where the faces between the two layers do not close up with the walls
    // (outlines closer than the faces can tell apart, far from the origin,
    // where the float steps are coarse), the two layers are parted by a
    // hair instead: the lower one gets its whole top at z, the upper one its
    // whole bottom lifted a few float steps above, and the walls meet each
    // of them along the plain outline edges. Each layer is then closed by
    // itself; the volume changes by the upper layer's area times the lift.
    QVector<Facet> parted;
    StlEdgeSplits tops, bottoms, unused;
    const StlLayer none;
    const float lifted = liftedHeight(z);
    if (!facesOf(lower, none, z, parted, tops, unused) || !facesOf(none, upper, lifted, parted, unused, bottoms))
        return false;
    const float lift = lifted - z;
    for (StlEdgeSplit &split : bottoms)
        split.lift = lift;
    for (int l = 0; l < upper.loops.size(); ++l) {
        const QVector<double> &loop = upper.loops[l];
        const int n = loop.size() / 2;
        for (int i = 0; i < n; ++i) {
            const Point2Df p{float(loop[2 * i]), float(loop[2 * i + 1])};
            bottoms.push_back({l, i, 0.0, p, lift});
            bottoms.push_back({l, (i + n - 1) % n, 1.0, p, lift});
        }
    }
    sortSplits(bottoms);
    if (!closedAt(lower, upper, z, parted, 0, tops, bottoms))
        return true; // no better: the faces as they were
    facets.resize(from);
    facets += parted;
    lowerSplits.swap(tops);
    upperSplits.swap(bottoms);
    return true;
}

// Whether the faces (from index from) close up with the tops of the lower
// layer's walls at z and the bottoms of the upper one's.
bool StlLayerBuilder::closedAt(const StlLayer &lower, const StlLayer &upper, float z, const QVector<Facet> &facets,
                               int from, const StlEdgeSplits &lowerSplits, const StlEdgeSplits &upperSplits)
{
    PairClosure &closure = d->closure;
    closure.clear(size_t(facets.size() - from) + lowerSplits.size() + upperSplits.size());
    closure.addFacets(facets, from);
    closure.addWallTops(lower, lowerSplits, z);
    closure.addWallBottoms(upper, upperSplits, z);
    return closure.closed();
}

bool StlLayerBuilder::facesOf(const StlLayer &lower, const StlLayer &upper, float z, QVector<Facet> &facets,
                              StlEdgeSplits &lowerSplits, StlEdgeSplits &upperSplits)
{
    lowerSplits.clear();
    upperSplits.clear();
    if (lower.loops == upper.loops)
        return true;
    const Bands bands = Bands::forPlane(lower, upper);
    const LayerContours a = LayerContours::of(lower, bands), b = LayerContours::of(upper, bands);
    FaceMesh &mesh = d->mesh;
    mesh.clear(lower, upper);
    d->tessellator.setBoundaryOnly(false);

    // Band by band; a band whose pieces did not change has no faces.
    const QVector<LayerContours::Piece> &below = a.pieces, &above = b.pieces;
    int s = 0, c = 0;
    while (s < below.size() || c < above.size()) {
        const int band = std::min(s < below.size() ? below[s].band : std::numeric_limits<int>::max(),
                                  c < above.size() ? above[c].band : std::numeric_limits<int>::max());
        int sEnd = s, cEnd = c;
        while (sEnd < below.size() && below[sEnd].band == band)
            ++sEnd;
        while (cEnd < above.size() && above[cEnd].band == band)
            ++cEnd;
        bool same = sEnd - s == cEnd - c;
        for (int k = 0; same && k < sEnd - s; ++k) {
            const LayerContours::Piece &p = below[s + k], &q = above[c + k];
            same = p.count == q.count
                   && std::equal(a.bandValues.constData() + p.offset, a.bandValues.constData() + p.offset + 2 * p.count,
                                 b.bandValues.constData() + q.offset);
        }
        if (!same && !d->bandFaces(a, b, s, sEnd, c, cEnd)) {
            d->tessellator.setWindingRule(Tessellator::WindingPositive);
            return false;
        }
        s = sEnd;
        c = cEnd;
    }
    d->tessellator.setWindingRule(Tessellator::WindingPositive);
    if (mesh.triangles.empty())
        return true;

    mesh.removeDegenerate();
    d->grid.build(lower, upper);
    if (bands.active())
        mesh.mergeBandPoints(d->grid);

    // The outline of the faces: the edges of a triangle with no partner of
    // its own kind across them. Each lies on an outline edge of a layer (both
    // where the two faces touch), and its ends split that edge.
    StlEdgeSplits *splits[2] = {&lowerSplits, &upperSplits};
    StlEdgeSplits both[2];
    for (const FaceMesh::Triangle &t : mesh.triangles) {
        if (!t.live)
            continue;
        for (int k = 0; k < 3; ++k) {
            const int u = t.v[k], w = t.v[(k + 1) % 3];
            const int n = mesh.across(u, w);
            if (n >= 0 && mesh.triangles[size_t(n)].down == t.down)
                continue;
            int found[4];
            bool ambiguous = false;
            const Point2Df &a = mesh.vertices[size_t(u)], &b = mesh.vertices[size_t(w)];
            const int count = d->grid.candidates(a, b, t.down, found, &ambiguous);
            int sides = 0;
            for (int f = 0; f < count; ++f)
                sides |= 1 << d->grid.sideOf(found[f]);
            d->pieces.push_back({u, w, t.down, n >= 0, sides});
            if (ambiguous) {
                d->deferred.push_back({a, b, {found[0], found[1], count > 2 ? found[2] : -1, count > 3 ? found[3] : -1}});
                continue;
            }
            for (int f = 0; f < count; ++f)
                d->grid.split(found[f], a, b, both);
        }
    }
    // A piece near more than one edge is a few units in the last place long,
    // where rounding split a crossing point in two. It belongs to the edge
    // that reaches both of its ends anyway (through its other pieces); the
    // other edge ends at one of them.
    if (!d->deferred.empty()) {
        std::vector<quint64> reached;
        auto key = [](int edge, const Point2Df &p) { return pointKey(p) ^ (quint64(edge + 1) * 0x9E3779B97F4A7C15ULL); };
        for (int side = 0; side < 2; ++side) {
            for (const StlEdgeSplit &split : both[side]) {
                reached.push_back(key(d->grid.indexOf(side, split.loop, split.edge), split.point));
            }
        }
        std::sort(reached.begin(), reached.end());
        for (const StlLayerBuilderPrivate::Deferred &piece : d->deferred) {
            int best = piece.edges[0], bestScore = -1;
            for (int e : piece.edges) {
                if (e < 0)
                    continue;
                int score = 0;
                for (const Point2Df &p : {piece.u, piece.w})
                    score += d->grid.isEnd(e, p) || std::binary_search(reached.begin(), reached.end(), key(e, p)) ? 1 : 0;
                if (score > bestScore) {
                    best = e;
                    bestScore = score;
                }
            }
            d->grid.split(best, piece.u, piece.w, both);
        }
        d->deferred.clear();
    }
    const std::vector<char> lifted = d->liftedVertices(upper, z, both);
    d->pieces.clear();
    for (int side = 0; side < 2; ++side) {
        splits[side]->swap(both[side]);
        sortSplits(*splits[side]);
    }

    const float liftedZ = z + d->lift;
    facets.reserve(facets.size() + int(mesh.triangles.size()));
    for (const FaceMesh::Triangle &t : mesh.triangles) {
        if (!t.live)
            continue;
        auto at = [&](int v) {
            return Point3Df(mesh.vertices[size_t(v)], t.down && !lifted.empty() && lifted[size_t(v)] ? liftedZ : z);
        };
        const Point3Df p = at(t.v[0]), q = at(t.v[1]), r = at(t.v[2]);
        if (t.down)
            appendFacet(facets, p, r, q);
        else
            appendFacet(facets, p, q, r);
    }
    return true;
}

void StlLayerBuilder::walls(const StlLayer &layer, const StlEdgeSplits &bottom, const StlEdgeSplits &top, float z0,
                            float z1, QVector<Facet> &facets)
{
    int points = 0;
    for (const QVector<double> &loop : layer.loops)
        points += loop.size() / 2;
    facets.reserve(facets.size() + 2 * points + int(bottom.size() + top.size()));
    size_t bi = 0, ti = 0;
    WallLine lower, upper;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 < n ? i + 1 : 0;
            const Point2Df p = Point2Df(float(v[2 * i]), float(v[2 * i + 1])), c = Point2Df(float(v[2 * j]), float(v[2 * j + 1]));
            lower.bottom(bottom, bi, l, i, p, c, z0);
            upper.top(top, ti, l, i, p, c, z1);

            // Zip the two split lines together, always advancing along the
            // line whose next point comes first.
            size_t lo = 0, hi = 0;
            const size_t lastLo = lower.points.size() - 1, lastHi = upper.points.size() - 1;
            while (lo < lastLo || hi < lastHi) {
                const bool advanceLower = hi == lastHi || (lo < lastLo && lower.t[lo + 1] <= upper.t[hi + 1]);
                const Point3Df b0(lower.points[lo], lower.z[lo]), t0(upper.points[hi], z1);
                if (advanceLower) {
                    appendFacet(facets, b0, Point3Df(lower.points[lo + 1], lower.z[lo + 1]), t0);
                    ++lo;
                } else {
                    appendFacet(facets, b0, Point3Df(upper.points[hi + 1], z1), t0);
                    ++hi;
                }
            }
        }
    }
}

} // namespace geom

