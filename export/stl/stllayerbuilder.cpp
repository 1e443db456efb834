#include "stllayerbuilder.h"

#include "polygonsimplifier.h"
#include "tessellator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace geom {

namespace {

bool isFinite(const Slice &slice)
{
    if (!std::isfinite(slice.z()))
        return false;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        for (const Point2Df &p : slice.contourAt(i).points()) {
            if (!std::isfinite(p.x) || !std::isfinite(p.y))
                return false;
        }
    }
    return true;
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

// The GLU tessellator spends time in proportion to the number of edges that
// span the x of each vertex it sweeps over, so two long outlines with many
// short edges stacked in x (teeth, scan noise, a twisting part) cost time
// quadratic in their length. Such faces are tessellated in vertical bands of
// a few dozen vertices each; the points where outline edges cross a band line
// become vertices of the faces, which are merged out of them afterwards
// wherever the faces allow (see mergeBandPoints), so that they split no wall.
// Smooth outlines, which GLU sweeps in linear time, get one band.
class Bands
{
public:
    // The band lines, ascending; band i lies between lines[i - 1] and
    // lines[i]. No lines: one band.
    std::vector<double> lines;

    static Bands forPlane(const StlLayer &lower, const StlLayer &upper)
    {
        constexpr int minVertices = 256;
        constexpr int buckets = 64;
        // The mean number of edges a vertex sweeps past, beyond which bands pay.
        constexpr double maxSweptEdges = 24.0;
        constexpr double targetVertices = 96.0;
        Bands bands;
        int vertices = 0;
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        for (const StlLayer *layer : {&lower, &upper}) {
            for (const QVector<double> &loop : layer->loops) {
                vertices += loop.size() / 2;
                for (int i = 0; i < loop.size(); i += 2) {
                    lo = std::fmin(lo, loop[i]);
                    hi = std::fmax(hi, loop[i]);
                }
            }
        }
        if (vertices < minVertices || !(hi > lo))
            return bands;
        const double scale = buckets / (hi - lo) * (1.0 - 1e-12);
        std::array<double, buckets> spanned{}, inside{};
        for (const StlLayer *layer : {&lower, &upper}) {
            for (const QVector<double> &loop : layer->loops) {
                const int n = loop.size() / 2;
                for (int i = 0, j = n - 1; i < n; j = i++) {
                    const int a = int((loop[2 * j] - lo) * scale), b = int((loop[2 * i] - lo) * scale);
                    for (int k = std::min(a, b); k <= std::max(a, b); ++k)
                        spanned[size_t(k)] += 1.0;
                    inside[size_t(b)] += 1.0;
                }
            }
        }
        double swept = 0.0;
        for (int k = 0; k < buckets; ++k)
            swept += spanned[size_t(k)] * inside[size_t(k)];
        if (swept < maxSweptEdges * vertices)
            return bands;

        std::vector<double> xs;
        xs.reserve(size_t(vertices));
        for (const StlLayer *layer : {&lower, &upper}) {
            for (const QVector<double> &loop : layer->loops) {
                for (int i = 0; i < loop.size(); i += 2)
                    xs.push_back(loop[i]);
            }
        }
        std::sort(xs.begin(), xs.end());
        const int n = std::min(4096, int(vertices / targetVertices));
        for (int i = 1; i < n; ++i) {
            size_t q = size_t(double(xs.size()) * i / n);
            while (q < xs.size() && xs[q] == xs[q - 1])
                ++q;
            if (q >= xs.size())
                break;
            // Between two vertices, so that no vertex lies on a line.
            const double line = 0.5 * (xs[q - 1] + xs[q]);
            if (line > xs[q - 1] && line < xs[q] && (bands.lines.empty() || line > bands.lines.back()))
                bands.lines.push_back(line);
        }
        return bands;
    }

    bool active() const { return !lines.empty(); }

    int bandOf(double x) const { return int(std::upper_bound(lines.begin(), lines.end(), x) - lines.begin()); }

    // The line on the left of band k (k from 1 to the number of lines).
    double line(int k) const { return lines[size_t(k - 1)]; }
};

// The loops of one layer for the faces of one pair of layers: split at the
// band lines, and for each band the parts of each loop inside it, closed along
// the band lines.
struct LayerContours
{
    struct Piece
    {
        int band;
        int offset; // in values
        int count;  // in points
    };

    QList<QVector<double>> loops;
    QVector<double> bandValues;
    QVector<Piece> pieces; // ordered by band

    bool isEmpty() const { return loops.isEmpty(); }
    void clear()
    {
        loops.clear();
        bandValues.clear();
        pieces.clear();
    }
};

// Appends p to the loop, preceded by the points where the edge from the
// loop's last point crosses band lines.
void appendSplit(QVector<double> &loop, const Bands &bands, double x, double y)
{
    if (bands.active() && !loop.isEmpty()) {
        const double px = loop[loop.size() - 2], py = loop[loop.size() - 1];
        const int a = bands.bandOf(px), b = bands.bandOf(x);
        if (a != b) {
            const int step = b > a ? 1 : -1;
            // Moving right the lines a+1..b lie between, moving left a..b+1.
            for (int k = step > 0 ? a + 1 : a; step > 0 ? k <= b : k > b; k += step) {
                const double lx = bands.line(k);
                if (lx == px || lx == x)
                    continue;
                loop.append(lx);
                loop.append(py + (lx - px) * (y - py) / (x - px));
            }
        }
    }
    loop.append(x);
    loop.append(y);
}

// Divides the loops among the bands: the edges of a loop inside one band form
// chains from band line to band line; a band's chains of one loop, joined in
// loop order, make its piece of that loop (the joins run along the band
// lines, where the excursions outside the band left and re-entered it).
void buildPieces(LayerContours &layer, const Bands &bands)
{
    struct Chain
    {
        int band, loop, first, length; // first and length in points
    };
    QVector<Chain> chains;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        auto edgeBand = [&](int i) {
            const int j = (i + 1) % n;
            return bands.bandOf(0.5 * (v[2 * i] + v[2 * j]));
        };
        // Start at an edge that begins a chain, if the loop has more than one.
        int start = 0;
        for (int i = 0; i < n; ++i) {
            if (edgeBand(i) != edgeBand((i + n - 1) % n)) {
                start = i;
                break;
            }
        }
        for (int e = 0; e < n;) {
            const int band = edgeBand((start + e) % n);
            int length = 1;
            while (e + length < n && edgeBand((start + e + length) % n) == band)
                ++length;
            chains.append({band, l, (start + e) % n, length + 1});
            e += length;
        }
    }
    std::stable_sort(chains.begin(), chains.end(), [](const Chain &a, const Chain &b) {
        return a.band != b.band ? a.band < b.band : a.loop < b.loop;
    });
    for (int c = 0; c < chains.size();) {
        const int band = chains[c].band, loop = chains[c].loop;
        const QVector<double> &v = layer.loops[loop];
        const int n = v.size() / 2;
        const int offset = layer.bandValues.size();
        int count = 0;
        for (; c < chains.size() && chains[c].band == band && chains[c].loop == loop; ++c) {
            for (int k = 0; k < chains[c].length; ++k) {
                const int i = (chains[c].first + k) % n;
                // A chain whose first point closes the previous one adds it once.
                if (k == 0 && count > 0 && layer.bandValues[layer.bandValues.size() - 2] == v[2 * i]
                    && layer.bandValues[layer.bandValues.size() - 1] == v[2 * i + 1])
                    continue;
                layer.bandValues.append(v[2 * i]);
                layer.bandValues.append(v[2 * i + 1]);
                ++count;
            }
        }
        // A whole loop's closing point repeats its first one.
        if (count > 1 && layer.bandValues[offset] == layer.bandValues[layer.bandValues.size() - 2]
            && layer.bandValues[offset + 1] == layer.bandValues[layer.bandValues.size() - 1]) {
            layer.bandValues.resize(layer.bandValues.size() - 2);
            --count;
        }
        if (count >= 3)
            layer.pieces.append({band, offset, count});
        else
            layer.bandValues.resize(offset);
    }
}


// Orientation of c against the line a->b; 0 when the sign is uncertain in
// double arithmetic.
int orientation(const Point2Df &a, const Point2Df &b, const Point2Df &c)
{
    const double l = (double(b.x) - a.x) * (double(c.y) - a.y);
    const double r = (double(b.y) - a.y) * (double(c.x) - a.x);
    const double det = l - r;
    const double bound = 1e-12 * (std::fabs(l) + std::fabs(r));
    return det > bound ? 1 : (det < -bound ? -1 : 0);
}

// Whether the closed segments a-b and c-d may share a point (uncertain signs
// count as contact).
bool mayTouch(const Point2Df &a, const Point2Df &b, const Point2Df &c, const Point2Df &d)
{
    if (std::fmax(a.x, b.x) < std::fmin(c.x, d.x) || std::fmax(c.x, d.x) < std::fmin(a.x, b.x)
        || std::fmax(a.y, b.y) < std::fmin(c.y, d.y) || std::fmax(c.y, d.y) < std::fmin(a.y, b.y))
        return false;
    const int o1 = orientation(a, b, c), o2 = orientation(a, b, d);
    if (o1 != 0 && o1 == o2)
        return false;
    const int o3 = orientation(c, d, a), o4 = orientation(c, d, b);
    return !(o3 != 0 && o3 == o4);
}

// Twice the signed area.
double doubleArea(const QVector<Point2Df> &p)
{
    double sum = 0.0;
    const int n = p.size();
    for (int i = 0, j = n - 1; i < n; j = i++)
        sum += (double(p[j].x) - p[i].x) * (double(p[j].y) + p[i].y);
    return sum;
}

// The winding number of q about the closed polygon p; q must not lie on it.
int windingNumber(const Point2Df &q, const QVector<Point2Df> &p)
{
    int w = 0;
    const int n = p.size();
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const Point2Df &a = p[j], &b = p[i];
        if (a.y <= q.y) {
            if (b.y > q.y && orientation(a, b, q) > 0)
                ++w;
        } else if (b.y <= q.y && orientation(a, b, q) < 0) {
            --w;
        }
    }
    return w;
}

// The outline of a slice whose contours are simple and keep clear of each
// other, found without the GLU tessellator: each contour bounds the region of
// positive winding number exactly when the winding number on its right side
// is 0, and it keeps its direction (that region on its left). find() fails
// when the contours meet, cross or fold back anywhere, or when that cannot be
// told apart from touching in double precision: such slices take the
// tessellator. The working storage is kept from slice to slice.
class CleanOutline
{
public:
    bool find(const Slice &slice, Slice &outline, int &usable)
    {
        m_contours.clear();
        const int count = slice.contourCount();
        for (int i = 0; i < count; ++i) {
            const QVector<Point2Df> &points = slice.contourAt(i).points();
            if (points.size() >= 3)
                m_contours.push_back(&points);
        }
        usable = int(m_contours.size());
        outline = Slice(slice.z(), slice.thickness());
        if (m_contours.empty())
            return true;
        if (!separate())
            return false;

        // No contour meets another, so each has one winding number of the
        // others all along it.
        m_boxes.clear();
        m_areas.clear();
        for (const QVector<Point2Df> *c : m_contours) {
            Bounds2Df box;
            box.extend(c->constData(), c->size());
            m_boxes.push_back(box);
            const double a = doubleArea(*c);
            if (a == 0.0)
                return false;
            m_areas.push_back(a);
        }
        const int n = int(m_contours.size());
        // The boxes go into the grid of the edges, so that a contour meets
        // only the others whose box covers the cell of its first vertex.
        const size_t cells = size_t(m_side) * m_side;
        m_boxStart.assign(cells + 1, 0);
        qint64 entries = 0;
        for (const Bounds2Df &b : m_boxes)
            entries += qint64(cellOf(b.maxX, m_minX) - cellOf(b.minX, m_minX) + 1)
                       * (cellOf(b.maxY, m_minY) - cellOf(b.minY, m_minY) + 1);
        const bool indexed = entries <= 16 * qint64(n) + qint64(cells);
        if (indexed) {
            for (const Bounds2Df &b : m_boxes)
                for (int y = cellOf(b.minY, m_minY); y <= cellOf(b.maxY, m_minY); ++y)
                    for (int x = cellOf(b.minX, m_minX); x <= cellOf(b.maxX, m_minX); ++x)
                        ++m_boxStart[size_t(y) * m_side + x + 1];
            for (size_t k = 0; k < cells; ++k)
                m_boxStart[k + 1] += m_boxStart[k];
            m_boxContours.resize(size_t(entries));
            m_fill.assign(m_boxStart.begin(), m_boxStart.end() - 1);
            for (int d = 0; d < n; ++d) {
                const Bounds2Df &b = m_boxes[size_t(d)];
                for (int y = cellOf(b.minY, m_minY); y <= cellOf(b.maxY, m_minY); ++y)
                    for (int x = cellOf(b.minX, m_minX); x <= cellOf(b.maxX, m_minX); ++x)
                        m_boxContours[size_t(m_fill[size_t(y) * m_side + x]++)] = d;
            }
        }
        for (int c = 0; c < n; ++c) {
            const Point2Df &q = m_contours[size_t(c)]->first();
            const size_t cell = size_t(cellOf(q.y, m_minY)) * m_side + cellOf(q.x, m_minX);
            const int from = indexed ? m_boxStart[cell] : 0, to = indexed ? m_boxStart[cell + 1] : n;
            int w = 0;
            for (int k = from; k < to; ++k) {
                const int d = indexed ? m_boxContours[size_t(k)] : k;
                const Bounds2Df &b = m_boxes[size_t(d)];
                if (d != c && q.x >= b.minX && q.x <= b.maxX && q.y >= b.minY && q.y <= b.maxY)
                    w += windingNumber(q, *m_contours[size_t(d)]);
            }
            if (w + (m_areas[size_t(c)] > 0.0 ? 0 : -1) == 0)
                outline.addContour(Contour(*m_contours[size_t(c)]));
        }
        return true;
    }

private:
    struct Edge
    {
        Point2Df a, b;
        int contour, index, size;
    };

    // True when no two edges share a point other than the vertex between
    // neighbours. The edges go into a uniform grid and only edges sharing a
    // cell are compared; input that would make the grid or the comparisons
    // costly is left to the tessellator.
    bool separate()
    {
        int edgeCount = 0;
        double minX = std::numeric_limits<double>::max(), minY = minX, maxX = -minX, maxY = -minX;
        for (const QVector<Point2Df> *c : m_contours) {
            edgeCount += c->size();
            for (const Point2Df &p : *c) {
                minX = std::fmin(minX, double(p.x));
                maxX = std::fmax(maxX, double(p.x));
                minY = std::fmin(minY, double(p.y));
                maxY = std::fmax(maxY, double(p.y));
            }
        }
        const double extent = std::fmax(maxX - minX, maxY - minY);
        if (!(extent > 0.0) || !std::isfinite(extent))
            return false;
        m_side = int(std::fmax(1.0, std::fmin(std::sqrt(double(edgeCount)), 2048.0)));
        m_scale = m_side / (extent * (1.0 + 1e-9));
        m_minX = minX;
        m_minY = minY;
        const int side = m_side;

        m_edges.clear();
        m_ranges.clear();
        m_cellStart.assign(size_t(side) * side + 1, 0);
        qint64 entries = 0;
        for (int c = 0; c < int(m_contours.size()); ++c) {
            const QVector<Point2Df> &p = *m_contours[size_t(c)];
            const int n = p.size();
            for (int i = 0; i < n; ++i) {
                const Point2Df &a = p[i], &b = p[i + 1 < n ? i + 1 : 0];
                if (a == b)
                    return false;
                const int x0 = cellOf(std::fmin(a.x, b.x), minX), x1 = cellOf(std::fmax(a.x, b.x), minX);
                const int y0 = cellOf(std::fmin(a.y, b.y), minY), y1 = cellOf(std::fmax(a.y, b.y), minY);
                entries += qint64(x1 - x0 + 1) * (y1 - y0 + 1);
                if (entries > 16 * qint64(edgeCount) + 1024)
                    return false;
                m_edges.push_back({a, b, c, i, n});
                m_ranges.push_back({x0, x1, y0, y1});
                for (int y = y0; y <= y1; ++y)
                    for (int x = x0; x <= x1; ++x)
                        ++m_cellStart[size_t(y) * side + x + 1];
            }
        }
        const size_t cells = size_t(side) * side;
        for (size_t k = 0; k < cells; ++k)
            m_cellStart[k + 1] += m_cellStart[k];
        m_cellEdges.resize(size_t(entries));
        m_fill.assign(m_cellStart.begin(), m_cellStart.end() - 1);
        for (int e = 0; e < int(m_edges.size()); ++e) {
            const std::array<int, 4> &r = m_ranges[size_t(e)];
            for (int y = r[2]; y <= r[3]; ++y)
                for (int x = r[0]; x <= r[1]; ++x)
                    m_cellEdges[size_t(m_fill[size_t(y) * side + x]++)] = e;
        }

        qint64 pairs = 0;
        for (size_t k = 0; k < cells; ++k) {
            const int from = m_cellStart[k], to = m_cellStart[k + 1];
            pairs += qint64(to - from) * (to - from - 1) / 2;
            if (pairs > 64 * qint64(edgeCount) + 4096)
                return false;
            for (int i = from; i < to; ++i) {
                const Edge &e = m_edges[size_t(m_cellEdges[size_t(i)])];
                for (int j = i + 1; j < to; ++j) {
                    const Edge &f = m_edges[size_t(m_cellEdges[size_t(j)])];
                    if (e.contour == f.contour) {
                        const bool next = (e.index + 1) % e.size == f.index;
                        const bool previous = (f.index + 1) % e.size == e.index;
                        if (next || previous) {
                            // Neighbours share a vertex; they must not fold
                            // back over each other.
                            const Point2Df &p0 = next ? e.a : f.a, &shared = next ? e.b : e.a,
                                           &p1 = next ? f.b : e.b;
                            if (orientation(p0, shared, p1) == 0
                                && (double(p0.x) - shared.x) * (double(p1.x) - shared.x)
                                           + (double(p0.y) - shared.y) * (double(p1.y) - shared.y)
                                       >= 0.0)
                                return false;
                            continue;
                        }
                    }
                    if (mayTouch(e.a, e.b, f.a, f.b))
                        return false;
                }
            }
        }
        return true;
    }

    int cellOf(double v, double lo) const { return std::min(m_side - 1, std::max(0, int((v - lo) * m_scale))); }

    std::vector<const QVector<Point2Df> *> m_contours;
    int m_side = 1;
    double m_scale = 0.0;
    double m_minX = 0.0;
    double m_minY = 0.0;
    std::vector<int> m_boxStart;
    std::vector<int> m_boxContours;
    std::vector<Edge> m_edges;
    std::vector<std::array<int, 4>> m_ranges;
    std::vector<int> m_cellStart;
    std::vector<int> m_cellEdges;
    std::vector<int> m_fill;
    std::vector<Bounds2Df> m_boxes;
    std::vector<double> m_areas;
};

// The winding number about the pieces of one band of a layer (0 or 1 inside
// the band, as the pieces are parts of an outline), for many points: the edges
// are sorted into horizontal rows so that a point meets only the edges of its
// row. The storage is kept from band to band.
class BandWinding
{
public:
    void build(const LayerContours &layer, int from, int to)
    {
        m_edges.clear();
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        for (int k = from; k < to; ++k) {
            const LayerContours::Piece &piece = layer.pieces[k];
            const double *v = layer.bandValues.constData() + piece.offset;
            const int n = piece.count;
            for (int i = 0, j = n - 1; i < n; j = i++) {
                // A horizontal edge crosses no horizontal ray.
                if (v[2 * j + 1] == v[2 * i + 1])
                    continue;
                m_edges.push_back({v[2 * j], v[2 * j + 1], v[2 * i], v[2 * i + 1]});
                lo = std::fmin(lo, std::fmin(v[2 * j + 1], v[2 * i + 1]));
                hi = std::fmax(hi, std::fmax(v[2 * j + 1], v[2 * i + 1]));
            }
        }
        m_rows = 0;
        if (m_edges.empty())
            return;
        m_rows = std::max(1, std::min(1024, int(m_edges.size()) / 2));
        m_y0 = lo;
        m_scale = hi > lo ? m_rows / (hi - lo) : 0.0;
        m_start.assign(size_t(m_rows) + 1, 0);
        for (const Edge &e : m_edges) {
            const int r0 = row(std::fmin(e.ay, e.by)), r1 = row(std::fmax(e.ay, e.by));
            for (int r = r0; r <= r1; ++r)
                ++m_start[size_t(r) + 1];
        }
        for (int r = 0; r < m_rows; ++r)
            m_start[size_t(r) + 1] += m_start[size_t(r)];
        m_index.resize(size_t(m_start[size_t(m_rows)]));
        m_fill.assign(m_start.begin(), m_start.end() - 1);
        for (int e = 0; e < int(m_edges.size()); ++e) {
            const Edge &edge = m_edges[size_t(e)];
            const int r0 = row(std::fmin(edge.ay, edge.by)), r1 = row(std::fmax(edge.ay, edge.by));
            for (int r = r0; r <= r1; ++r)
                m_index[size_t(m_fill[size_t(r)]++)] = e;
        }
    }

    // -1 when a sign cannot be told in double precision.
    int at(double x, double y) const
    {
        if (m_rows == 0)
            return 0;
        const int r = row(y);
        int w = 0;
        for (int k = m_start[size_t(r)]; k < m_start[size_t(r) + 1]; ++k) {
            const Edge &e = m_edges[size_t(m_index[size_t(k)])];
            const bool up = e.ay <= y && e.by > y, down = e.ay > y && e.by <= y;
            if (!up && !down)
                continue;
            const double left = (e.bx - e.ax) * (y - e.ay), right = (e.by - e.ay) * (x - e.ax);
            const double det = left - right;
            if (std::fabs(det) <= 1e-12 * (std::fabs(left) + std::fabs(right)))
                return -1;
            if (up && det > 0)
                ++w;
            else if (down && det < 0)
                --w;
        }
        return w;
    }

private:
    struct Edge
    {
        double ax, ay, bx, by;
    };

    int row(double y) const { return std::max(0, std::min(m_rows - 1, int((y - m_y0) * m_scale))); }

    std::vector<Edge> m_edges;
    std::vector<int> m_start;
    std::vector<int> m_index;
    std::vector<int> m_fill;
    int m_rows = 0;
    double m_y0 = 0.0;
    double m_scale = 0.0;
};


// Hash tables with open addressing for the faces of one pair of layers, kept
// from pair to pair. Keys are 64-bit; the all-ones key marks a free slot (it
// is no pair of vertex numbers and no pair of finite floats).
class HashTable
{
public:
    static constexpr quint64 freeKey = ~quint64(0);

    void reset(size_t expected)
    {
        size_t size = 64;
        while (size < 2 * expected)
            size *= 2;
        // A table up to four times the size is kept rather than made anew.
        if (m_slots.size() < size || m_slots.size() > 4 * size)
            m_slots.assign(size, Slot{freeKey, -1});
        else
            std::fill(m_slots.begin(), m_slots.end(), Slot{freeKey, -1});
        m_used = 0;
    }

    // The value of the key, or -1.
    int find(quint64 key) const
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (m_slots[i].key == key)
                return m_slots[i].value;
            if (m_slots[i].key == freeKey)
                return -1;
        }
    }

    // The value of the key, set to value first when the key is new.
    int insert(quint64 key, int value, bool overwrite)
    {
        if (2 * (m_used + 1) > m_slots.size())
            grow();
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (m_slots[i].key == key) {
                if (overwrite)
                    m_slots[i].value = value;
                return m_slots[i].value;
            }
            if (m_slots[i].key == freeKey) {
                m_slots[i] = {key, value};
                ++m_used;
                return value;
            }
        }
    }

private:
    struct Slot
    {
        quint64 key;
        int value;
    };

    static size_t hash(quint64 key)
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        key *= 0xc4ceb9fe1a85ec53ULL;
        key ^= key >> 33;
        return size_t(key);
    }

    void grow()
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(std::max<size_t>(64, old.size() * 2), Slot{freeKey, -1});
        m_used = 0;
        for (const Slot &s : old) {
            if (s.key != freeKey)
                insert(s.key, s.value, true);
        }
    }

    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

quint64 pointKey(const Point2Df &p)
{
    quint32 x, y;
    std::memcpy(&x, &p.x, 4);
    std::memcpy(&y, &p.y, 4);
    return (quint64(x) << 32) | y;
}

quint64 edgeKey(int a, int b)
{
    return (quint64(quint32(a)) << 32) | quint32(b);
}

// A float point as the file stores it; -0 becomes 0, so that equal
// coordinates have equal bytes.
Point2Df filePoint(double x, double y)
{
    return Point2Df(float(x) + 0.0f, float(y) + 0.0f);
}

// The faces of one pair of layers as triangles over shared float vertices, all
// wound counter-clockwise seen from above; `down` marks the downward ones.
struct FaceMesh
{
    struct Triangle
    {
        int v[3];
        bool down;
        bool live;
    };

    std::vector<Point2Df> vertices;
    // The vertices of the layers' outlines come first, the ones GLU made after.
    int outlineVertices = 0;
    std::vector<Triangle> triangles;
    HashTable vertexIndex;
    // The points vertex() found last, with their indices.
    struct Recent
    {
        quint64 key;
        int index;
    };
    std::array<Recent, 8> recent;
    int nextRecent = 0;
    HashTable cells;
    double cell = 0.0;
    HashTable edges; // directed edge -> triangle

    // Starts a pair of layers with their outline vertices. A vertex that GLU
    // makes (a crossing or band point) snaps to one already there when it
    // rounds to within two units in the last place of it: a crossing point
    // that close to a vertex would leave a needle of a wall facet, too thin
    // to have a direction in float, and two band points of the same edge of
    // both layers, worked out from different ends, a sliver between them.
    void clear(const StlLayer &lower, const StlLayer &upper)
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
        cell = 2.0 * std::ldexp(double(std::fmax(magnitude, 1e-3f)), -23);
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

    int vertex(double x, double y)
    {
        const Point2Df p = filePoint(x, y);
        const quint64 key = pointKey(p);
        // GLU hands out neighbouring triangles one after the other, so most
        // corners were asked for a moment ago; a point's index never changes
        // once it is in the table.
        for (const Recent &r : recent) {
            if (r.key == key)
                return r.index;
        }
        int index = vertexIndex.find(key);
        if (index < 0)
            index = newVertex(p);
        recent[nextRecent] = {key, index};
        nextRecent = (nextRecent + 1) % int(recent.size());
        return index;
    }

    int newVertex(const Point2Df &p)
    {
        // Two units in the last place of the point's own magnitude.
        int exponent = 0;
        std::frexp(std::fmax(std::fabs(p.x), std::fabs(p.y)), &exponent);
        const double near = std::ldexp(2.0, exponent - 24);
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

    qint64 cellOf(float v) const { return qint64(std::floor(double(v) / cell)); }

    static quint64 cellKey(qint64 cx, qint64 cy) { return (quint64(quint32(qint32(cx))) << 32) | quint32(qint32(cy)); }

    quint64 cellKey(const Point2Df &p) const { return cellKey(cellOf(p.x), cellOf(p.y)); }

    void add(int a, int b, int c, bool down)
    {
        if (a != b && b != c && c != a)
            triangles.push_back({{a, b, c}, down, true});
    }

    // Whether the triangle has an area and faces its way in the file's float
    // arithmetic as well as in double.
    bool sound(const Triangle &t) const
    {
        const Point2Df &a = vertices[size_t(t.v[0])], &b = vertices[size_t(t.v[1])], &c = vertices[size_t(t.v[2])];
        const double det = (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
        const Facet f(Point3Df(a, 0.0f), Point3Df(b, 0.0f), Point3Df(c, 0.0f), Point3Df(0, 0, 1));
        return det > 0.0 && f.crossNormal().z > 0.0f;
    }

    void setEdges(int t)
    {
        const Triangle &tri = triangles[size_t(t)];
        for (int k = 0; k < 3; ++k)
            edges.insert(edgeKey(tri.v[k], tri.v[(k + 1) % 3]), t, true);
    }

    int across(int a, int b) const
    {
        const int t = edges.find(edgeKey(b, a));
        return t >= 0 && triangles[size_t(t)].live ? t : -1;
    }

    // Rounding to float can flatten a sliver triangle or turn it over. Such a
    // triangle is dropped, and the neighbour across its longest edge is split
    // at the opposite vertex, which lies on (or just across) that edge, so the
    // surface stays closed; without a neighbour the edge is an outline edge,
    // which the walls then split at that vertex.
    void removeDegenerate()
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
};

// The outline edges of both layers of a pair, sorted into a grid, to find the
// edge that a piece of a face's outline lies on.
class EdgeGrid
{
public:
    struct Edge
    {
        double px, py, qx, qy;
        int side, loop, index;
        // The bounding box.
        double minX, maxX, minY, maxY;
    };

    void build(const StlLayer &lower, const StlLayer &upper)
    {
        m_edges.clear();
        double minX = std::numeric_limits<double>::max(), minY = minX, maxX = -minX, maxY = -minX;
        int side = 0;
        for (const StlLayer *layer : {&lower, &upper}) {
            m_loopStart[side].clear();
            for (int l = 0; l < layer->loops.size(); ++l) {
                const QVector<double> &v = layer->loops[l];
                const int n = v.size() / 2;
                m_loopStart[side].push_back(int(m_edges.size()));
                for (int i = 0; i < n; ++i) {
                    const int j = i + 1 < n ? i + 1 : 0;
                    m_edges.push_back({v[2 * i], v[2 * i + 1], v[2 * j], v[2 * j + 1], side, l, i,
                                       std::fmin(v[2 * i], v[2 * j]), std::fmax(v[2 * i], v[2 * j]),
                                       std::fmin(v[2 * i + 1], v[2 * j + 1]), std::fmax(v[2 * i + 1], v[2 * j + 1])});
                    minX = std::fmin(minX, v[2 * i]);
                    maxX = std::fmax(maxX, v[2 * i]);
                    minY = std::fmin(minY, v[2 * i + 1]);
                    maxY = std::fmax(maxY, v[2 * i + 1]);
                }
            }
            ++side;
        }
        // Outline edges lie along lines, so a grid of a few cells per edge
        // holds few edges per cell.
        m_side = int(std::fmax(1.0, std::fmin(4.0 * std::sqrt(double(m_edges.size())), 2048.0)));
        const double extent = std::fmax(maxX - minX, maxY - minY);
        m_scale = extent > 0.0 ? m_side / (extent * (1.0 + 1e-9)) : 0.0;
        m_minX = minX;
        m_minY = minY;
        m_start.assign(size_t(m_side) * m_side + 1, 0);
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                for (size_t k = 1; k < m_start.size(); ++k)
                    m_start[k] += m_start[k - 1];
                m_index.resize(size_t(m_start.back()));
                m_fill.assign(m_start.begin(), m_start.end() - 1);
            }
            for (int e = 0; e < int(m_edges.size()); ++e) {
                const Edge &edge = m_edges[size_t(e)];
                const int x0 = cell(edge.minX, m_minX), x1 = cell(edge.maxX, m_minX);
                const int y0 = cell(edge.minY, m_minY), y1 = cell(edge.maxY, m_minY);
                for (int y = y0; y <= y1; ++y) {
                    for (int x = x0; x <= x1; ++x) {
                        const size_t c = size_t(y) * size_t(m_side) + size_t(x);
                        if (pass == 0)
                            ++m_start[c + 1];
                        else
                            m_index[size_t(m_fill[c]++)] = e;
                    }
                }
            }
        }
    }

    // Adds the ends of the piece u-w of the outline of a face to the splits
    // of the edge (or the coincident edges) it lies on. The face is on the
    // left of the piece: an upward face (the lower layer's) runs along the
    // lower layer's edges and against the upper one's, a downward face the
    // other way round. False when it lies on no edge.
    // The edges the piece may lie on, nearest first, in found (room for 4);
    // when the nearest has a companion along the same line, both. More than
    // one otherwise: the piece is too short to tell (see faces()).
    int candidates(const Point2Df &u, const Point2Df &w, bool down, int *found, bool *ambiguous) const
    {
        *ambiguous = false;
        const double ux = double(w.x) - u.x, uy = double(w.y) - u.y;
        const double mx = 0.5 * (double(u.x) + w.x), my = 0.5 * (double(u.y) + w.y);
        // A few units in the last place of a float: where the rounding of a
        // crossing point to float can put it.
        const double eps = 1e-6 * std::fmax(1.0, std::fmax(std::fabs(mx), std::fabs(my)));
        const size_t c = size_t(cell(my, m_minY)) * size_t(m_side) + size_t(cell(mx, m_minX));
        double best = std::numeric_limits<double>::max();
        int count = 0;
        for (int k = m_start[c]; k < m_start[c + 1]; ++k) {
            const Edge &e = m_edges[size_t(m_index[size_t(k)])];
            if (mx < e.minX - eps || mx > e.maxX + eps || my < e.minY - eps || my > e.maxY + eps)
                continue;
            // The direction first: it needs no square root, and rules out
            // an edge without length as well.
            const double dx = e.qx - e.px, dy = e.qy - e.py;
            const double along = ux * dx + uy * dy;
            if (!((e.side == 0) != down ? along > 0.0 : along < 0.0))
                continue;
            const double length = std::sqrt(dx * dx + dy * dy);
            if (!(length > 0.0))
                continue;
            double worst = 0.0;
            bool within = true;
            for (const Point2Df &p : {u, w}) {
                const double rx = double(p.x) - e.px, ry = double(p.y) - e.py;
                const double along = (rx * dx + ry * dy) / length;
                if (along < -eps || along > length + eps) {
                    within = false;
                    break;
                }
                worst = std::fmax(worst, std::fabs(rx * dy - ry * dx) / length);
            }
            if (!within || worst > eps)
                continue;
            if (count < 4)
                found[count++] = m_index[size_t(k)];
            if (worst < best) {
                best = worst;
                std::swap(found[0], found[count - 1]);
            }
        }
        // Edges along the same line as the nearest one: where the faces up
        // and down meet, the piece lies on an edge of both layers.
        if (count > 1) {
            const Edge &b = m_edges[size_t(found[0])];
            const double bx = b.qx - b.px, by = b.qy - b.py, bl = std::sqrt(bx * bx + by * by);
            for (int f = 1; f < count; ++f) {
                const Edge &e = m_edges[size_t(found[f])];
                const double ex = e.qx - e.px, ey = e.qy - e.py, el = std::sqrt(ex * ex + ey * ey);
                if (!(std::fabs(bx * ey - by * ex) <= 1e-9 * bl * el))
                    *ambiguous = true;
            }
        }
        return count;
    }

    // Whether p is an end of the edge.
    bool isEnd(int edge, const Point2Df &p) const
    {
        const Edge &e = m_edges[size_t(edge)];
        return (double(p.x) == e.px && double(p.y) == e.py) || (double(p.x) == e.qx && double(p.y) == e.qy);
    }

    // Adds the ends of the piece u-w to the splits of the edge.
    void split(int edge, const Point2Df &u, const Point2Df &w, StlEdgeSplits *splits) const
    {
        for (const Point2Df &p : {u, w}) {
            if (!isEnd(edge, p))
                splitAt(edge, p, 0.0f, splits);
        }
    }

    // Adds the point p on the edge, lifted by lift, to the splits of the edge.
    void splitAt(int edge, const Point2Df &p, float lift, StlEdgeSplits *splits) const
    {
        const Edge &e = m_edges[size_t(edge)];
        const double dx = e.qx - e.px, dy = e.qy - e.py, l2 = dx * dx + dy * dy;
        const double t = ((double(p.x) - e.px) * dx + (double(p.y) - e.py) * dy) / l2;
        splits[e.side].push_back({e.loop, e.index, std::fmin(std::fmax(t, 0.0), 1.0), p, lift});
    }

    int indexOf(int side, int loop, int edge) const { return m_loopStart[side][size_t(loop)] + edge; }
    int sideOf(int edge) const { return m_edges[size_t(edge)].side; }

private:
    int cell(double v, double lo) const
    {
        return std::min(m_side - 1, std::max(0, int((v - lo) * m_scale)));
    }

    std::vector<Edge> m_edges;
    std::vector<int> m_loopStart[2];
    std::vector<int> m_start, m_index, m_fill;
    int m_side = 1;
    double m_scale = 0.0, m_minX = 0.0, m_minY = 0.0;
};

void sortSplits(StlEdgeSplits &splits)
{
    std::sort(splits.begin(), splits.end(), [](const StlEdgeSplit &a, const StlEdgeSplit &b) {
        if (a.loop != b.loop)
            return a.loop < b.loop;
        if (a.edge != b.edge)
            return a.edge < b.edge;
        return a.t < b.t;
    });
    splits.erase(std::unique(splits.begin(), splits.end(),
                             [](const StlEdgeSplit &a, const StlEdgeSplit &b) {
                                 return a.loop == b.loop && a.edge == b.edge && a.point == b.point;
                             }),
                 splits.end());
}

// Where outline loops touch at a vertex (two contours meeting at a corner, or
// a loop passing through a point twice), the walls of both would share the
// vertical edge above it: four facets on one edge. Each convex corner at such
// a point is cut off by a chamfer of the given length, which parts them
// while changing the area by a negligible amount.
void separateTouchingCorners(StlLayer &layer, double length)
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
    if (!touching)
        return;
    for (QVector<double> &loop : layer.loops) {
        const int n = loop.size() / 2;
        QVector<double> cut;
        cut.reserve(loop.size() + 8);
        for (int i = 0; i < n; ++i) {
            const double px = loop[2 * i], py = loop[2 * i + 1];
            const int prev = (i + n - 1) % n, next = (i + 1) % n;
            const double ax = loop[2 * prev] - px, ay = loop[2 * prev + 1] - py;
            const double bx = loop[2 * next] - px, by = loop[2 * next + 1] - py;
            const double la = std::sqrt(ax * ax + ay * ay), lb = std::sqrt(bx * bx + by * by);
            const bool shared = count.find(pointKey(Point2Df(float(px), float(py)))) > 1;
            // Convex: the loop turns left here (material on its left).
            if (!shared || !(ay * bx - ax * by > 0.0) || !(la > 2.0 * length) || !(lb > 2.0 * length)) {
                cut.append(px);
                cut.append(py);
                continue;
            }
            const Point2Df a = filePoint(px + ax * length / la, py + ay * length / la);
            const Point2Df b = filePoint(px + bx * length / lb, py + by * length / lb);
            cut.append(double(a.x));
            cut.append(double(a.y));
            cut.append(double(b.x));
            cut.append(double(b.y));
        }
        loop = cut;
    }
}

} // namespace

class StlLayerBuilderPrivate
{
public:
    StlLayerBuilderPrivate() : tessellator(Tessellator::WindingPositive) {}

    LayerContours piecesOf(const StlLayer &layer, const Bands &bands) const;
    bool bandFaces(const LayerContours &lower, const LayerContours &upper, int lowerFrom, int lowerTo, int upperFrom,
                   int upperTo);
    bool bandFace(const LayerContours &lower, const LayerContours &upper, int lowerFrom, int lowerTo, int upperFrom,
                  int upperTo, bool downward);
    void addTriangles(bool reversed, bool down);

    Tessellator tessellator;
    CleanOutline cleanOutline;
    BandWinding bandWinding;
    FaceMesh mesh;
    EdgeGrid grid;
    struct Deferred
    {
        Point2Df u, w;
        int edges[4];
    };
    std::vector<Deferred> deferred;
    // The outline pieces of the faces: ends (mesh vertices), the face's
    // kind, whether a face of the other kind is across, and the layers
    // (bit 0 lower, bit 1 upper) whose edges they were placed on.
    struct Piece
    {
        int u, w;
        bool down, touching;
        int sides;
    };
    std::vector<Piece> pieces;
    float lift = 0.0f;

    // The triangles around each vertex, for mergeBandPoints().
    std::vector<std::vector<int>> around;

    std::vector<char> liftedVertices(const StlLayer &upper, float z, StlEdgeSplits *splits);
    void mergeBandPoints();
};

// Where an outline edge crosses a band line, the faces have a vertex that
// the plain faces would not have, and the wall on that edge would be split
// there too: two facets more for each. Such a point, on a straight stretch
// of a face's outline (its neighbours along the outline on the same edge),
// is merged into one of those neighbours, where every triangle around it
// keeps its area and direction and no edge would be made twice.
void StlLayerBuilderPrivate::mergeBandPoints()
{
    const int count = int(mesh.vertices.size());
    // The lists are kept from pair to pair, so that their storage is reused.
    if (around.size() < size_t(count))
        around.resize(size_t(count));
    for (int v = 0; v < count; ++v)
        around[size_t(v)].clear();
    for (int t = 0; t < int(mesh.triangles.size()); ++t) {
        if (mesh.triangles[size_t(t)].live) {
            for (int v : mesh.triangles[size_t(t)].v)
                around[size_t(v)].push_back(t);
        }
    }
    // The one outline edge that the piece u-w lies on, or -1.
    auto edgeOf = [&](int u, int w, bool down) {
        int found[4];
        bool ambiguous = false;
        const int n = grid.candidates(mesh.vertices[size_t(u)], mesh.vertices[size_t(w)], down, found, &ambiguous);
        return n == 1 ? found[0] : -1;
    };
    std::vector<int> fan;
    std::vector<FaceMesh::Triangle> merged;
    for (int v = mesh.outlineVertices; v < count; ++v) {
        fan.clear();
        for (int t : around[size_t(v)]) {
            if (mesh.triangles[size_t(t)].live)
                fan.push_back(t);
        }
        if (fan.empty())
            continue;
        const bool down = mesh.triangles[size_t(fan[0])].down;
        // Where the faces up and down meet (a crossing point) the vertex
        // stays; that is told before any edge is looked up.
        bool oneKind = true;
        for (int t : fan)
            oneKind = oneKind && mesh.triangles[size_t(t)].down == down;
        if (!oneKind)
            continue;
        int a = -1, b = -1, ins = 0, outs = 0;
        for (int t : fan) {
            const FaceMesh::Triangle &tri = mesh.triangles[size_t(t)];
            const int k = tri.v[0] == v ? 0 : (tri.v[1] == v ? 1 : 2);
            const int next = tri.v[(k + 1) % 3], previous = tri.v[(k + 2) % 3];
            if (mesh.across(v, next) < 0) {
                b = next;
                ++outs;
            }
            if (mesh.across(previous, v) < 0) {
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
                FaceMesh::Triangle tri = mesh.triangles[size_t(t)];
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
                        const int existing = mesh.edges.find(edgeKey(p, q));
                        ok = !(existing >= 0 && mesh.triangles[size_t(existing)].live
                               && std::find(fan.begin(), fan.end(), existing) == fan.end());
                    }
                }
                ok = ok && mesh.sound(tri);
                if (!ok)
                    break;
                merged.push_back(tri);
            }
            if (!ok || dropped != 1)
                continue;
            for (int t : fan)
                mesh.triangles[size_t(t)].live = false;
            for (const FaceMesh::Triangle &tri : merged) {
                const int t = int(mesh.triangles.size());
                mesh.triangles.push_back(tri);
                mesh.setEdges(t);
                for (int corner : tri.v)
                    around[size_t(corner)].push_back(t);
            }
            break;
        }
    }
}

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
    const float raised = z + std::fmax(1e-6f, std::fabs(z) * std::ldexp(1.0f, -20));
    lift = raised - z;
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

LayerContours StlLayerBuilderPrivate::piecesOf(const StlLayer &layer, const Bands &bands) const
{
    LayerContours pieces;
    pieces.loops.reserve(layer.loops.size());
    for (const QVector<double> &loop : layer.loops) {
        if (!bands.active()) {
            pieces.loops.append(loop);
            continue;
        }
        const int n = loop.size() / 2;
        QVector<double> values;
        values.reserve(loop.size() + 16);
        for (int i = 0; i < n; ++i)
            appendSplit(values, bands, loop[2 * i], loop[2 * i + 1]);
        // The closing edge, from the last point back to the first.
        QVector<double> closing;
        closing.append(values[values.size() - 2]);
        closing.append(values[values.size() - 1]);
        appendSplit(closing, bands, values[0], values[1]);
        for (int k = 2; k + 2 < closing.size(); ++k)
            values.append(closing[k]);
        pieces.loops.append(values);
    }
    buildPieces(pieces, bands);
    return pieces;
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
    const size_t firstTriangle = mesh.triangles.size();
    for (int i = 0; i + 6 <= t.size(); i += 6) {
        const double *v = t.constData() + i;
        const int w = bandWinding.at((v[0] + v[2] + v[4]) / 3.0, (v[1] + v[3] + v[5]) / 3.0);
        if (w < 0 || w > 1) {
            // Too close to call: the band is made the slow way, one face at a time.
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
    if (!isFinite(slice))
        return LayerNotFinite;
    Slice copy(slice);
    copy.reduce(tolerance);
    copy.snapToGrid(tolerance * tolerance);

    // The outline under the positive winding rule: outer loops
    // counter-clockwise, holes clockwise. Slices whose contours neither cross
    // nor touch (the usual case) are outlined directly, the others by the
    // tessellator.
    Slice outline;
    int usable = 0;
    if (!d->cleanOutline.find(copy, outline, usable)) {
        Tessellator::OutlineStatus status = Tessellator::OutlineOk;
        d->tessellator.setWindingRule(Tessellator::WindingPositive);
        outline = d->tessellator.outline(copy, &status);
        if (status == Tessellator::OutlineFailed || d->tessellator.failed())
            return LayerFailed;
        d->tessellator.setBoundaryOnly(false);
    }

    const double grid = tolerance * tolerance;
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
    separateTouchingCorners(layer, std::fmax(0.5 * tolerance * tolerance, 1e-6));
    return layer.loops.isEmpty() && hasUsableContours(slice) ? LayerWithoutOutline : LayerOk;
}

bool StlLayerBuilder::faces(const StlLayer &lower, const StlLayer &upper, float z, QVector<Facet> &facets,
                            StlEdgeSplits &lowerSplits, StlEdgeSplits &upperSplits)
{
    lowerSplits.clear();
    upperSplits.clear();
    if (lower.loops == upper.loops)
        return true;
    const Bands bands = Bands::forPlane(lower, upper);
    const LayerContours a = d->piecesOf(lower, bands), b = d->piecesOf(upper, bands);
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
        d->mergeBandPoints();

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

    const Point3Df upNormal(0, 0, 1), downNormal(0, 0, -1);
    const float liftedZ = z + d->lift;
    facets.reserve(facets.size() + int(mesh.triangles.size()));
    for (const FaceMesh::Triangle &t : mesh.triangles) {
        if (!t.live)
            continue;
        auto at = [&](int v) {
            return Point3Df(mesh.vertices[size_t(v)], t.down && !lifted.empty() && lifted[size_t(v)] ? liftedZ : z);
        };
        const Point3Df p = at(t.v[0]), q = at(t.v[1]), r = at(t.v[2]);
        facets.append(t.down ? Facet(p, r, q, downNormal) : Facet(p, q, r, upNormal));
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
    std::vector<Point2Df> lowerLine, upperLine;
    std::vector<double> lowerT, upperT;
    std::vector<float> lowerZ;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        for (int i = 0; i < n; ++i) {
            const int j = i + 1 < n ? i + 1 : 0;
            const Point2Df p = Point2Df(float(v[2 * i]), float(v[2 * i + 1])), c = Point2Df(float(v[2 * j]), float(v[2 * j + 1]));
            lowerLine.assign(1, p);
            upperLine.assign(1, p);
            lowerT.assign(1, 0.0);
            upperT.assign(1, 0.0);
            lowerZ.assign(1, z0);
            float endZ = z0;
            for (; bi < bottom.size() && (bottom[bi].loop < l || (bottom[bi].loop == l && bottom[bi].edge <= i)); ++bi) {
                const StlEdgeSplit &split = bottom[bi];
                if (split.loop != l || split.edge != i)
                    continue;
                if (split.point == p && split.t == 0.0) {
                    lowerZ[0] = z0 + split.lift;
                } else if (split.point == c && split.t == 1.0) {
                    endZ = z0 + split.lift;
                } else {
                    lowerLine.push_back(split.point);
                    lowerT.push_back(split.t);
                    lowerZ.push_back(z0 + split.lift);
                }
            }
            for (; ti < top.size() && (top[ti].loop < l || (top[ti].loop == l && top[ti].edge <= i)); ++ti) {
                if (top[ti].loop == l && top[ti].edge == i) {
                    upperLine.push_back(top[ti].point);
                    upperT.push_back(top[ti].t);
                }
            }
            lowerLine.push_back(c);
            upperLine.push_back(c);
            lowerT.push_back(1.0);
            upperT.push_back(1.0);
            lowerZ.push_back(endZ);

            // In double: an edge far shorter than a micrometre still has a
            // direction.
            const double nx = double(c.y) - p.y, ny = double(p.x) - c.x, length = std::sqrt(nx * nx + ny * ny);
            const Point3Df normal(float(nx / length), float(ny / length), 0.0f);
            // Zip the two split lines together, always advancing along the
            // line whose next point comes first.
            size_t lo = 0, hi = 0;
            const size_t lastLo = lowerLine.size() - 1, lastHi = upperLine.size() - 1;
            while (lo < lastLo || hi < lastHi) {
                const bool advanceLower = hi == lastHi || (lo < lastLo && lowerT[lo + 1] <= upperT[hi + 1]);
                const Point3Df b0(lowerLine[lo], lowerZ[lo]), t0(upperLine[hi], z1);
                if (advanceLower) {
                    facets.append(Facet(b0, Point3Df(lowerLine[lo + 1], lowerZ[lo + 1]), t0, normal));
                    ++lo;
                } else {
                    facets.append(Facet(b0, Point3Df(upperLine[hi + 1], z1), t0, normal));
                    ++hi;
                }
            }
        }
    }
}

} // namespace geom
