#include "stlexporter.h"

#include "facet.h"
#include "polygonsimplifier.h"
#include "stlwriter.h"
#include "tessellator.h"

#include <QAtomicInt>
#include <QMutex>
#include <QMutexLocker>
#include <QVector>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace geom {

namespace {

// Bits of the worker flag. The cancel bit is sticky: it is never cleared, so
// a cancel that arrives before run() starts, or at any moment of the run, is
// honoured.
enum RunFlags { Running = 1, CancelRequested = 2 };

// The lowest a closing top may lie above the last layer.
constexpr float minimumTopHeight = 0.001f;

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

// The GLU tessellator spends time in proportion to the size of the faces it
// splits, so one polygon made of two long outlines that cross everywhere (a
// twisting part) costs time quadratic in their length. The faces between
// layers are therefore tessellated in vertical bands of a few dozen vertices.
// Every outline edge that crosses a band line is split there once, when the
// layer's contours are stored, so the walls and the faces of both adjacent
// layers share these vertices and the model stays closed.
class Bands
{
public:
    // The band lines, ascending; band i lies between lines[i - 1] and
    // lines[i]. No lines: one band.
    std::vector<double> lines;

    // Bands of about targetVertices vertices of a layer each, but not so many
    // that the split vertices add more than a quarter to the outlines. The
    // lines lie at quantiles of the vertices' x over the whole part, so that
    // steep stretches of outline (many vertices over little x) get narrow
    // bands, and between vertices, so that no line runs through one.
    static Bands forSlices(const QList<Slice> &slices)
    {
        constexpr double targetVertices = 40.0;
        constexpr double maxAddedShare = 0.25;
        constexpr int maxSamples = 1 << 18;
        qint64 total = 0;
        for (const Slice &slice : slices) {
            const int count = slice.contourCount();
            for (int i = 0; i < count; ++i)
                total += slice.contourAt(i).points().size();
        }
        Bands bands;
        if (total == 0)
            return bands;
        const qint64 stride = std::max<qint64>(1, total / maxSamples);
        std::vector<double> xs;
        xs.reserve(size_t(std::min<qint64>(total, maxSamples + 1)));
        double contourWidths = 0.0, vertices = 0.0;
        int layers = 0;
        qint64 seen = 0;
        for (const Slice &slice : slices) {
            const int count = slice.contourCount();
            bool any = false;
            for (int i = 0; i < count; ++i) {
                const QVector<Point2Df> &points = slice.contourAt(i).points();
                double lo = std::numeric_limits<double>::max(), hi = -lo;
                for (const Point2Df &p : points) {
                    if (seen++ % stride == 0 && std::isfinite(p.x))
                        xs.push_back(double(p.x));
                    if (std::isfinite(p.x)) {
                        lo = std::fmin(lo, double(p.x));
                        hi = std::fmax(hi, double(p.x));
                    }
                }
                if (points.size() < 3 || !(hi >= lo))
                    continue;
                any = true;
                vertices += points.size();
                contourWidths += hi - lo;
            }
            layers += any ? 1 : 0;
        }
        std::sort(xs.begin(), xs.end());
        if (layers == 0 || xs.size() < 2)
            return bands;
        const double partWidth = xs.back() - xs.front();
        if (!(partWidth > 0.0) || !std::isfinite(partWidth))
            return bands;
        vertices /= layers;
        // A band line crosses each contour about twice per band it spans; with
        // the bands set by the vertices this is rough, which is enough.
        const double crossingsPerLine = 2.0 * contourWidths / layers / partWidth;
        const double count = std::fmin(std::fmin(vertices / targetVertices, maxAddedShare * vertices / crossingsPerLine),
                                       4096.0);
        if (count < 2.0)
            return bands;
        const int n = int(count);
        for (int i = 1; i < n; ++i) {
            size_t q = size_t(double(xs.size()) * i / n);
            while (q < xs.size() && xs[q] == xs[q - 1])
                ++q;
            if (q >= xs.size())
                break;
            const double line = 0.5 * (xs[q - 1] + xs[q]);
            if (bands.lines.empty() || line > bands.lines.back())
                bands.lines.push_back(line);
        }
        return bands;
    }

    bool active() const { return !lines.empty(); }

    int bandOf(double x) const { return int(std::upper_bound(lines.begin(), lines.end(), x) - lines.begin()); }

    // The line on the left of band k (k from 1 to the number of lines).
    double line(int k) const { return lines[size_t(k - 1)]; }

    // x, or the band line it lies next to: a vertex a few nanometres off a
    // line would leave a wall sliver of that width beside the split point.
    double snapped(double x) const
    {
        if (!active())
            return x;
        const double near = 1e-5 + 1e-7 * std::fabs(x);
        const size_t k = size_t(bandOf(x));
        if (k > 0 && x - lines[k - 1] <= near)
            return lines[k - 1];
        if (k < lines.size() && lines[k] - x <= near)
            return lines[k];
        return x;
    }
};

// The contours of one layer as the walls and faces use them: closed loops of
// x, y doubles (split at the band lines), and for each band the parts of each
// loop inside it, closed along the band lines.
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

} // namespace

class StlExporterPrivate
{
public:
    StlExporterPrivate(QIODevice *device, const QList<Slice> &s)
        : writer(device), slices(s), tessellator(Tessellator::WindingPositive)
    {
    }

    bool cancelled() const { return running.loadAcquire() & CancelRequested; }

    void fail(const QString &message)
    {
        {
            QMutexLocker lock(&resultMutex);
            if (failed)
                return;
            failed = true;
            error = message;
        }
        qWarning("StlExporter: %s", qPrintable(message));
    }

    void exportSlices(StlExporter *q);
    bool outlineOf(const Slice &slice, int sliceNumber, Slice &outline);
    bool addLayer(const Slice &outline);
    LayerContours contourLists(const Slice &slice) const;
    void sideWalls(float z1);
    bool appendCaps(const LayerContours &current);
    bool appendBandCaps(const LayerContours &current, int storedFrom, int storedTo, int currentFrom, int currentTo);
    bool appendCap(const LayerContours &current, int storedFrom, int storedTo, int currentFrom, int currentTo,
                   bool downward);

    double tolerance = 0.02;
    float previousZ = std::numeric_limits<float>::quiet_NaN();
    float minimumThickness = 0.0f;
    // The contours of the layer added last.
    LayerContours previousContours;
    QAtomicInt running = 0;
    StlWriter writer;
    QList<Slice> slices;
    Tessellator tessellator;
    Bands bands;
    CleanOutline cleanOutline;
    BandWinding bandWinding;
    // The facets of one layer; kept between layers so its storage is reused.
    QVector<Facet> facets;

    // The outcome of the run, guarded for readers on other threads.
    mutable QMutex resultMutex;
    bool failed = false;
    bool succeeded = false;
    bool wasCancelled = false;
    QString error;
    int facetCount = 0;
};

void StlExporterPrivate::exportSlices(StlExporter *q)
{
    const double gridStep = tolerance * tolerance;
    bands = Bands::forSlices(slices);
    const Slice &first = slices.first();
    previousZ = first.z();
    float lastExportedZ = first.z();
    const float firstThickness = first.thickness();
    float layerHeight = std::isfinite(firstThickness) ? std::fmax(minimumThickness, firstThickness)
                                                      : std::numeric_limits<float>::quiet_NaN();

    const int count = slices.size();
    for (int i = 0; i < count; ++i) {
        if (cancelled())
            return;
        const Slice &slice = slices.at(i);
        if (!isFinite(slice)) {
            fail(StlExporter::tr("Slice %1 has a height or coordinates that are not finite numbers.").arg(i + 1));
            return;
        }
        const float z = slice.z();
        if (i > 0) {
            // The distance to the last exported slice against the minimum,
            // with the float rounding of both heights allowed for.
            const double nextZ = double(lastExportedZ) + double(minimumThickness);
            const double slack = 1e-5 * std::fmax(std::fmax(std::fabs(double(lastExportedZ)), std::fabs(double(z))),
                                                  double(minimumThickness));
            if (nextZ - double(z) > slack)
                continue;
            layerHeight = z - previousZ;
        }
        emit q->progress(i);

        Slice copy(slice);
        copy.reduce(tolerance);
        copy.snapToGrid(gridStep);
        Slice outline;
        if (!outlineOf(copy, i + 1, outline) || !addLayer(outline))
            return;
        lastExportedZ = copy.z();
    }

    if (cancelled() || previousContours.isEmpty())
        return;
    emit q->progress(count);
    const float height = std::isfinite(layerHeight) && layerHeight > minimumTopHeight ? layerHeight : minimumTopHeight;
    const float topZ = previousZ + height;
    if (!std::isfinite(topZ)) {
        fail(StlExporter::tr("The top of the model lies beyond the range of numbers."));
        return;
    }
    Slice top(topZ, 0.0f);
    addLayer(top);
}

// The outline under the positive winding rule: outer loops counter-clockwise,
// holes clockwise. Slices whose contours neither cross nor touch (the usual
// case) are outlined directly, the others by the tessellator.
bool StlExporterPrivate::outlineOf(const Slice &slice, int sliceNumber, Slice &outline)
{
    int usable = 0;
    if (!cleanOutline.find(slice, outline, usable)) {
        Tessellator::OutlineStatus status = Tessellator::OutlineOk;
        outline = tessellator.outline(slice, &status);
        if (status == Tessellator::OutlineFailed || tessellator.failed()) {
            fail(StlExporter::tr("The outline of slice %1 (z = %2) could not be tessellated.")
                     .arg(sliceNumber)
                     .arg(double(slice.z())));
            return false;
        }
        usable = hasUsableContours(slice) ? 1 : 0;
    }
    if (usable > 0 && outline.contourCount() == 0)
        qWarning("StlExporter: slice %d (z = %g) has contours but an empty outline; are they all clockwise?",
                 sliceNumber, double(slice.z()));
    return true;
}

LayerContours StlExporterPrivate::contourLists(const Slice &slice) const
{
    LayerContours layer;
    const int count = slice.contourCount();
    layer.loops.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QVector<Point2Df> points = PolygonSimplifier<Point2Df>::removeCollinear(slice.contourAt(i).points());
        if (points.size() <= 2)
            continue;
        QVector<double> values;
        values.reserve(points.size() * 2 + 16);
        for (const Point2Df &p : points)
            appendSplit(values, bands, bands.snapped(double(p.x)), double(p.y));
        // The closing edge, from the last point back to the first.
        QVector<double> closing;
        closing.append(values[values.size() - 2]);
        closing.append(values[values.size() - 1]);
        appendSplit(closing, bands, values[0], values[1]);
        for (int k = 2; k + 2 < closing.size(); ++k)
            values.append(closing[k]);
        layer.loops.append(values);
    }
    buildPieces(layer, bands);
    return layer;
}

void StlExporterPrivate::sideWalls(float z1)
{
    const float z0 = previousZ;
    int points = 0;
    for (const QVector<double> &contour : previousContours.loops)
        points += contour.size() / 2;
    const int first = facets.size();
    facets.resize(first + 2 * points);
    Facet *out = facets.data() + first;
    for (const QVector<double> &contour : previousContours.loops) {
        const int n = contour.size() / 2;
        if (n < 3)
            continue;
        const double *v = contour.constData();
        Point2Df p = Point2Df(float(v[2 * n - 2]), float(v[2 * n - 1]));
        for (int k = 0; k < n; ++k) {
            const Point2Df c = Point2Df(float(v[2 * k]), float(v[2 * k + 1]));
            // An edge without length has no wall.
            if (c == p)
                continue;
            // In double: an edge far shorter than a micrometre still has a
            // direction.
            const double nx = double(c.y) - p.y, ny = double(p.x) - c.x, length = std::sqrt(nx * nx + ny * ny);
            const Point3Df normal(float(nx / length), float(ny / length), 0.0f);
            const Point3Df p0(p, z0), c0(c, z0), p1(p, z1), c1(c, z1);
            *out++ = Facet(p0, c0, p1, normal);
            *out++ = Facet(c0, c1, p1, normal);
            p = c;
        }
    }
    facets.resize(int(out - facets.constData()));
}

// The downward face is where the new layer reaches beyond the stored one, the
// upward face where the stored layer is left uncovered. Band by band, both
// come from one polygon: the stored pieces forwards and the new ones reversed
// wind +1 where only the stored layer is, -1 where only the new one is; each
// triangle of the nonzero region is then placed by whether it lies in the new
// layer. A band whose pieces did not change has neither face.
bool StlExporterPrivate::appendCaps(const LayerContours &current)
{
    const QVector<LayerContours::Piece> &stored = previousContours.pieces, &now = current.pieces;
    int s = 0, c = 0;
    while (s < stored.size() || c < now.size()) {
        const int band = std::min(s < stored.size() ? stored[s].band : std::numeric_limits<int>::max(),
                                  c < now.size() ? now[c].band : std::numeric_limits<int>::max());
        int sEnd = s, cEnd = c;
        while (sEnd < stored.size() && stored[sEnd].band == band)
            ++sEnd;
        while (cEnd < now.size() && now[cEnd].band == band)
            ++cEnd;
        bool same = sEnd - s == cEnd - c;
        for (int k = 0; same && k < sEnd - s; ++k) {
            const LayerContours::Piece &a = stored[s + k], &b = now[c + k];
            same = a.count == b.count
                   && std::equal(previousContours.bandValues.constData() + a.offset,
                                 previousContours.bandValues.constData() + a.offset + 2 * a.count,
                                 current.bandValues.constData() + b.offset);
        }
        if (!same && !appendBandCaps(current, s, sEnd, c, cEnd))
            return false;
        s = sEnd;
        c = cEnd;
    }
    return true;
}

bool StlExporterPrivate::appendBandCaps(const LayerContours &current, int storedFrom, int storedTo, int currentFrom,
                                        int currentTo)
{
    const double up[3] = {0.0, 0.0, 1.0};
    tessellator.setWindingRule(Tessellator::WindingNonZero);
    tessellator.beginPolygon(Tessellator::Double2D, up);
    for (int k = storedFrom; k < storedTo; ++k) {
        const LayerContours::Piece &piece = previousContours.pieces[k];
        tessellator.addContour(previousContours.bandValues.constData() + piece.offset, piece.count);
    }
    for (int k = currentFrom; k < currentTo; ++k) {
        const LayerContours::Piece &piece = current.pieces[k];
        tessellator.addContour(current.bandValues.constData() + piece.offset, -piece.count);
    }
    if (!tessellator.endPolygon())
        return false;
    const QVector<const QVector<double> *> primitives = tessellator.polygons2Dd();
    if (primitives.isEmpty())
        return true;
    // The triangles are read in double, as GLU made them, so that a thin one
    // is placed by its own shape, not by its corners rounded to float.
    const QVector<double> &t = *primitives.first();
    const int triangles = t.size() / 6;
    bandWinding.build(current, currentFrom, currentTo);
    const float z = float(tessellator.z());
    const int first = facets.size();
    facets.reserve(first + triangles);
    for (int i = 0; i < triangles; ++i) {
        const double *v = t.constData() + 6 * i;
        const Point3Df a = Point3Df(float(v[0]), float(v[1]), z);
        const Point3Df b = Point3Df(float(v[2]), float(v[3]), z);
        const Point3Df c = Point3Df(float(v[4]), float(v[5]), z);
        if (a == b || b == c || c == a)
            continue;
        const int w = bandWinding.at((v[0] + v[2] + v[4]) / 3.0, (v[1] + v[3] + v[5]) / 3.0);
        if (w < 0 || w > 1) {
            // Too close to call: the band is made the slow way, one face at a time.
            facets.resize(first);
            return appendCap(current, storedFrom, storedTo, currentFrom, currentTo, true)
                   && appendCap(current, storedFrom, storedTo, currentFrom, currentTo, false);
        }
        // Where the new layer is, the face looks down.
        facets.append(w == 1 ? Facet(a, c, b, Point3Df(0, 0, -1)) : Facet(a, b, c, Point3Df(0, 0, 1)));
    }
    return true;
}

// One face of a band: with the polygon normal down, the new layer's outer
// contours count -1 and the reversed stored ones +1, so the negative region
// is the downward face; with the normal up the stored ones count +1 and the
// reversed new ones -1, and the positive region is the upward face.
bool StlExporterPrivate::appendCap(const LayerContours &current, int storedFrom, int storedTo, int currentFrom,
                                   int currentTo, bool downward)
{
    const double normal[3] = {0.0, 0.0, downward ? -1.0 : 1.0};
    tessellator.setWindingRule(downward ? Tessellator::WindingNegative : Tessellator::WindingPositive);
    tessellator.beginPolygon(Tessellator::Double2D, normal);
    const int storedSign = downward ? -1 : 1;
    for (int k = storedFrom; k < storedTo; ++k) {
        const LayerContours::Piece &piece = previousContours.pieces[k];
        tessellator.addContour(previousContours.bandValues.constData() + piece.offset, storedSign * piece.count);
    }
    for (int k = currentFrom; k < currentTo; ++k) {
        const LayerContours::Piece &piece = current.pieces[k];
        tessellator.addContour(current.bandValues.constData() + piece.offset, -storedSign * piece.count);
    }
    if (!tessellator.endPolygon())
        return false;
    facets += tessellator.vertices();
    return true;
}

bool StlExporterPrivate::addLayer(const Slice &slice)
{
    LayerContours current = contourLists(slice);
    const float z = slice.z();
    tessellator.setBoundaryOnly(false);
    tessellator.setZ(z);

    facets.clear();
    sideWalls(z);
    const bool capsDone = appendCaps(current);
    // The next slice's outline is made under the positive rule.
    tessellator.setWindingRule(Tessellator::WindingPositive);
    if (!capsDone) {
        fail(StlExporter::tr("The faces at z = %1 could not be tessellated.").arg(double(z)));
        return false;
    }

    previousContours = std::move(current);
    previousZ = z;

    const int written = writer.write(facets);
    if (written != facets.size()) {
        fail(StlExporter::tr("The STL file could not be written: %1").arg(writer.errorString()));
        return false;
    }
    return true;
}

StlExporter::StlExporter(QIODevice *device, const QList<Slice> &slices)
    : QObject(nullptr), d(new StlExporterPrivate(device, slices))
{
}

StlExporter::~StlExporter()
{
    delete d;
}

const QList<Slice> &StlExporter::slices() const
{
    return d->slices;
}

void StlExporter::setTolerance(double tolerance)
{
    if (d->running.loadAcquire() & Running)
        return;
    d->tolerance = tolerance > 0.0 && std::isfinite(tolerance) ? tolerance : 0.0;
}

double StlExporter::tolerance() const
{
    return d->tolerance;
}

void StlExporter::setMinimumThickness(float thickness)
{
    if (d->running.loadAcquire() & Running)
        return;
    d->minimumThickness = thickness > 0.0f ? thickness : 0.0f;
}

float StlExporter::minimumThickness() const
{
    return d->minimumThickness;
}

void StlExporter::run()
{
    int flags = d->running.loadAcquire();
    do {
        if (flags & Running) {
            qCritical("This StlExporter instance is currently running!");
            return;
        }
    } while (!d->running.testAndSetOrdered(flags, flags | Running, flags));

    {
        QMutexLocker lock(&d->resultMutex);
        d->failed = false;
        d->succeeded = false;
        d->wasCancelled = false;
        d->error.clear();
    }

    if (!d->writer.begin(0)) {
        d->fail(d->writer.errorString().isEmpty()
                    ? StlExporter::tr("The STL file cannot be written: the device is not open for writing.")
                    : StlExporter::tr("The STL file cannot be written: %1").arg(d->writer.errorString()));
    } else if (!d->slices.isEmpty()) {
        d->exportSlices(this);
    }
    d->previousContours.clear();
    d->facets.clear();
    d->facets.squeeze();

    d->writer.finish();
    if (d->writer.failed())
        d->fail(StlExporter::tr("The STL file could not be written: %1").arg(d->writer.errorString()));

    {
        QMutexLocker lock(&d->resultMutex);
        d->wasCancelled = d->cancelled();
        d->succeeded = !d->failed && !d->wasCancelled;
        d->facetCount = d->writer.facetCount();
    }
    d->running.fetchAndAndOrdered(~int(Running));
    emit finished();
}

bool StlExporter::succeeded() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->succeeded;
}

bool StlExporter::wasCancelled() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->wasCancelled;
}

QString StlExporter::errorString() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->error;
}

int StlExporter::facetCount() const
{
    QMutexLocker lock(&d->resultMutex);
    return d->facetCount;
}

void StlExporter::cancel()
{
    d->running.fetchAndOrOrdered(CancelRequested);
}

} // namespace geom
