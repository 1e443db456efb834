#include "contour.h"

#include "polygonsimplifier.h"

#include <algorithm>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

typedef geom::PolygonSimplifier<geom::Point2Df> Simplifier;

// The float 1e-5 widened, the threshold below which simplify() only drops
// collinear vertices.
const double simplifyThreshold = double(1e-5f);

const QVector<Contour> &noChildren()
{
    static const QVector<Contour> none;
    return none;
}

#if defined(__SSE2__)
// The area terms and edge lengths of the edges a-b and b-c, two at a time: the same float
// differences, double products, sums and square roots (each correctly rounded) as the loop takes
// one edge at a time, added in the same order, so the measures come out the same to the bit. Files
// hold millions of small contours, and the square roots are most of their measuring.
inline void addEdgePair(const geom::Point2Df &a, const geom::Point2Df &b, const geom::Point2Df &c, double &area,
                        double &length)
{
    const __m128d dx = _mm_set_pd(double(c.x - b.x), double(b.x - a.x));
    const __m128d dy = _mm_set_pd(double(c.y - b.y), double(b.y - a.y));
    const __m128d squared = _mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy));
    // As Point2Df::length: 0 when the squared length does not exceed 1e-12.
    const __m128d edges = _mm_andnot_pd(_mm_cmple_pd(squared, _mm_set1_pd(1e-12)), _mm_sqrt_pd(squared));
    const __m128d terms = _mm_sub_pd(_mm_mul_pd(_mm_set_pd(double(b.x), double(a.x)), _mm_set_pd(double(c.y), double(b.y))),
                                     _mm_mul_pd(_mm_set_pd(double(c.x), double(b.x)), _mm_set_pd(double(b.y), double(a.y))));
    double edge[2];
    double term[2];
    _mm_storeu_pd(edge, edges);
    _mm_storeu_pd(term, terms);
    area += term[0];
    length += edge[0];
    area += term[1];
    length += edge[1];
}
#endif

} // namespace

// Files hold millions of small contours: each costs this beyond its points (and their array).
static_assert(sizeof(void *) != 8 || sizeof(Contour) == 48, "a plain contour takes 48 bytes");

struct Contour::Extra
{
    QVector<Contour> children;
    PointSet pointSet;
};

Contour::Contour()
    : m_extra(dirtyBit)
    , m_area(0.0)
    , m_length(0.0)
{
}

Contour::Contour(const geom::Point2Df *points, int count)
    : Contour()
{
    if (points && count > 0) {
        m_points.resize(count);
        std::copy(points, points + count, m_points.data());
    }
}

Contour::Contour(const QVector<geom::Point2Df> &points)
    : Contour()
{
    m_points = points;
}

Contour::Contour(QVector<geom::Point2Df> &&points) noexcept
    : m_points(std::move(points))
    , m_extra(dirtyBit)
    , m_area(0.0)
    , m_length(0.0)
{
}

Contour::Contour(const geom::Bounds2Df &box, bool clockwise)
    : Contour()
{
    m_points.reserve(4);
    m_points.append(box.anchor(geom::MinX | geom::MinY));
    if (clockwise) {
        m_points.append(box.anchor(geom::MinX | geom::MaxY));
        m_points.append(box.anchor(geom::MaxX | geom::MaxY));
        m_points.append(box.anchor(geom::MaxX | geom::MinY));
    } else {
        m_points.append(box.anchor(geom::MaxX | geom::MinY));
        m_points.append(box.anchor(geom::MaxX | geom::MaxY));
        m_points.append(box.anchor(geom::MinX | geom::MaxY));
    }
}

Contour::Contour(const geom::Point2Df &a, const geom::Point2Df &b, const geom::Point2Df &c)
    : Contour()
{
    m_points.reserve(3);
    m_points.append(a);
    m_points.append(b);
    m_points.append(c);
}

// A copy never takes the point set: it is rebuilt on demand from the shared
// vertices, so copies stay as cheap as two reference counts.
Contour::Contour(const Contour &other)
    : m_points(other.m_points)
    , m_extra(other.m_extra & dirtyBit)
    , m_area(other.m_area)
    , m_length(other.m_length)
    , m_bounds(other.m_bounds)
{
    if (!other.children().isEmpty())
        ensureExtra().children = other.children();
}

Contour::Contour(Contour &&other) noexcept
    : m_points(std::move(other.m_points))
    , m_extra(other.m_extra)
    , m_area(other.m_area)
    , m_length(other.m_length)
    , m_bounds(other.m_bounds)
{
    other.m_extra &= dirtyBit;
}

Contour::~Contour()
{
    delete extra();
}

Contour &Contour::operator=(const Contour &other)
{
    if (this != &other) {
        m_points = other.m_points;
        const QVector<Contour> &children = other.children();
        if (children.isEmpty()) {
            delete extra();
            setExtra(nullptr);
        } else {
            Extra &own = ensureExtra();
            own.children = children;
            own.pointSet.clear();
        }
        setDirtyFlag(other.dirtyFlag());
        m_area = other.m_area;
        m_length = other.m_length;
        m_bounds = other.m_bounds;
    }
    return *this;
}

Contour &Contour::operator=(Contour &&other) noexcept
{
    if (this != &other) {
        m_points = std::move(other.m_points);
        delete extra();
        m_extra = other.m_extra;
        other.m_extra &= dirtyBit;
        m_area = other.m_area;
        m_length = other.m_length;
        m_bounds = other.m_bounds;
    }
    return *this;
}

Contour::Extra &Contour::ensureExtra() const
{
    if (!extra())
        setExtra(new Extra);
    return *extra();
}

void Contour::dropPointSet() const
{
    Extra *own = extra();
    if (!own)
        return;
    if (own->children.isEmpty()) {
        delete own;
        setExtra(nullptr);
    } else {
        own->pointSet.clear();
    }
}

const QVector<Contour> &Contour::children() const
{
    const Extra *own = extra();
    return own ? own->children : noChildren();
}

QVector<Contour> &Contour::mutableChildren()
{
    return ensureExtra().children;
}

void Contour::addChild(const Contour &child)
{
    mutableChildren().append(child);
}

void Contour::addChild(Contour &&child)
{
    mutableChildren().append(std::move(child));
}

bool Contour::hasStaleCaches() const
{
    if (dirtyFlag())
        return true;
    const Extra *own = extra();
    if (!own)
        return false;
    for (const Contour &child : own->children) {
        if (child.isDirty())
            return true;
    }
    return false;
}

void Contour::measure() const
{
    double area = 0.0;
    double length = 0.0;
    geom::Bounds2Df bounds;
    const int n = m_points.size();
    const geom::Point2Df *p = m_points.constData();
    if (n == 1 || n == 2) {
        // An open run: the way there and back.
        length = 2.0 * (p[0] - p[n - 1]).length();
    } else if (n >= 3) {
        geom::Point2Df prev = p[n - 1];
        int i = 0;
#if defined(__SSE2__)
        for (; i + 1 < n; i += 2) {
            addEdgePair(prev, p[i], p[i + 1], area, length);
            prev = p[i + 1];
        }
#endif
        for (; i < n; ++i) {
            const geom::Point2Df cur = p[i];
            area += double(prev.x) * double(cur.y) - double(cur.x) * double(prev.y);
            length += (cur - prev).length();
            prev = cur;
        }
        area *= 0.5;
        bounds.extend(p, n);
    }
    m_area = area;
    m_length = length;
    m_bounds = bounds;
    setDirtyFlag(false);
}

geom::Point2Df Contour::center() const
{
    update();
    if (!m_bounds.isValid())
        return geom::Point2Df(0.0f, 0.0f);
    return geom::Point2Df((m_bounds.minX + m_bounds.maxX) * 0.5f, (m_bounds.minY + m_bounds.maxY) * 0.5f);
}

double Contour::totalArea() const
{
    double sum = area();
    for (const Contour &child : children())
        sum += child.totalArea();
    return sum;
}

double Contour::totalLength() const
{
    double sum = length();
    for (const Contour &child : children())
        sum += child.totalLength();
    return sum;
}

int Contour::vertexCount() const
{
    int count = m_points.size();
    for (const Contour &child : children())
        count += child.vertexCount();
    return count;
}

bool Contour::isEmpty() const
{
    if (!m_points.isEmpty())
        return false;
    for (const Contour &child : children()) {
        if (!child.isEmpty())
            return false;
    }
    return true;
}

const Contour::PointSet &Contour::pointSet() const
{
    // Contours without points answer with one shared empty set, so that reading
    // an empty contour never allocates (and never writes a shared object).
    static const PointSet emptySet;
    if (m_points.isEmpty() && !extra())
        return emptySet;
    PointSet &set = ensureExtra().pointSet;
    if (set.empty())
        set.insert(m_points.cbegin(), m_points.cend());
    return set;
}

void Contour::invalidate()
{
    setDirtyFlag(true);
    dropPointSet();
}

void Contour::clearPointSet()
{
    dropPointSet();
}

void Contour::append(float x, float y)
{
    const geom::Point2Df p(x, y);
    m_points.append(p);
    setDirtyFlag(true);
    // A set not built yet is built from all points when asked for; a built one
    // must stay complete.
    Extra *own = extra();
    if (own && !own->pointSet.empty())
        own->pointSet.insert(p);
}

void Contour::translate(float dx, float dy)
{
    for (geom::Point2Df &p : m_points) {
        p.x += dx;
        p.y += dy;
    }
    invalidate();
    if (m_bounds.isValid()) {
        m_bounds.minX += dx;
        m_bounds.maxX += dx;
        m_bounds.minY += dy;
        m_bounds.maxY += dy;
    }
    if (Extra *own = extra()) {
        for (Contour &child : own->children)
            child.translate(dx, dy);
    }
}

Contour Contour::translated(const geom::Point2Df &d) const
{
    Contour copy(*this);
    copy.translate(d.x, d.y);
    return copy;
}

void Contour::mirror(const uint &mirrorFlags)
{
    const bool mirrorX = (mirrorFlags & 0x3) != 0;
    const bool mirrorY = (mirrorFlags & 0xC) != 0;
    // The cached box is flipped whatever its shape: a flat box (all points on
    // one vertical line, say) is still the box of the mirrored points, and the
    // empty box maps onto itself.
    if (mirrorX) {
        for (geom::Point2Df &p : m_points)
            p.x = -p.x;
        const float minX = m_bounds.minX;
        m_bounds.minX = -m_bounds.maxX;
        m_bounds.maxX = -minX;
    }
    if (mirrorY) {
        for (geom::Point2Df &p : m_points)
            p.y = -p.y;
        const float minY = m_bounds.minY;
        m_bounds.minY = -m_bounds.maxY;
        m_bounds.maxY = -minY;
    }
    if (mirrorX != mirrorY)
        std::reverse(m_points.begin(), m_points.end());
    if (Extra *own = extra()) {
        for (Contour &child : own->children)
            child.mirror(mirrorFlags);
    }
    dropPointSet();
}

void Contour::reverse()
{
    std::reverse(m_points.begin(), m_points.end());
    invalidate();
}

void Contour::clear()
{
    if (Extra *own = extra()) {
        for (Contour &child : own->children)
            child.clear();
    }
    invalidate();
    m_points.clear();
}

void Contour::snapToGrid(double step)
{
    bool changed = false;
    const int before = m_points.size();
    m_points = Simplifier::snapToGrid(m_points, step, &changed);
    // Neighbours that land on one grid point merge even when no coordinate
    // moved by more than the tolerance: the vertices changed all the same.
    if (changed || m_points.size() != before)
        invalidate();
}

void Contour::simplify(double tolerance)
{
    if (tolerance < simplifyThreshold) {
        QVector<geom::Point2Df> kept = Simplifier::removeCollinear(m_points);
        if (kept.size() < m_points.size()) {
            m_points = std::move(kept);
            invalidate();
        }
    } else if (Simplifier::closeAndSimplify(m_points, tolerance) != 0) {
        invalidate();
    }
}

int Contour::reduce(double tolerance)
{
    const int before = m_points.size();
    simplify(tolerance);
    if (m_points.size() < 2)
        m_points.clear();
    else
        m_points = Simplifier::removeCollinear(m_points);
    invalidate();
    return before - m_points.size();
}
