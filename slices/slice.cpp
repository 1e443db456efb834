#include "slice.h"

#include <QVector2D>
#include <QVector3D>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace {

const float unknown = std::numeric_limits<float>::signaling_NaN();

// Below this a translation counts as none.
const float translateTolerance = 1e-5f;

// A contour's absolute area and its position before sorting. std::sort moves these exactly as
// it would move the contours under the same comparison, so the order (ties included) is the one
// sorting the contours themselves gives.
struct AreaKey
{
    double area;
    int index;
};

bool areaKeyLess(const AreaKey &a, const AreaKey &b)
{
    return a.area < b.area;
}

bool areaKeyGreater(const AreaKey &a, const AreaKey &b)
{
    return a.area > b.area;
}

bool hasGrandchildren(const Contour &contour)
{
    for (const Contour &child : contour.children()) {
        if (!child.children().isEmpty())
            return true;
    }
    return false;
}

// Both extents at least 0 and at most FLT_MAX: a box that is neither null nor reversed.
bool inOrder(const geom::Bounds2Df &box)
{
    const float width = box.maxX - box.minX;
    const float height = box.maxY - box.minY;
    return width >= 0.0f && width <= FLT_MAX && height >= 0.0f && height <= FLT_MAX;
}

// Bounds2Df::unite, without its calls for the boxes a walk over contours meets: two boxes in
// order unite by their limits alone; any other pair (the empty box first of all) takes the
// general rule.
void uniteInto(geom::Bounds2Df &into, const geom::Bounds2Df &box)
{
    if (!inOrder(into) || !inOrder(box)) {
        into.unite(box);
        return;
    }
    if (box.minX < into.minX)
        into.minX = box.minX;
    if (box.maxX > into.maxX)
        into.maxX = box.maxX;
    if (box.minY < into.minY)
        into.minY = box.minY;
    if (box.maxY > into.maxY)
        into.maxY = box.maxY;
}

// Clean from the start, so that reading it never writes: it is shared by every
// thread that asks an empty slice for a contour.
const Contour &emptyContour()
{
    static const Contour empty = [] {
        Contour c;
        c.update();
        return c;
    }();
    return empty;
}

// Asks for the header of the contour's vertex array (where its size is kept) ahead of use. A
// QVector is one pointer to that header, so it is read without touching the header itself.
// Contours sorted by area lie in memory in no order a walk could predict, and a layer may hold
// thousands of them.
void prefetchPoints(const Contour &contour)
{
    static_assert(sizeof(QVector<geom::Point2Df>) == sizeof(const void *), "a QVector is one pointer");
    const void *header;
    std::memcpy(&header, &contour.points(), sizeof header);
    __builtin_prefetch(header);
}

// How many contours ahead the walks ask for the vertex arrays.
const int prefetchDistance = 16;

} // namespace

Slice::Slice()
    : Slice(unknown, 0.0f)
{
}

Slice::Slice(float z)
    : Slice(z, unknown)
{
}

Slice::Slice(float z, float thickness)
    : m_z(z)
    , m_thickness(thickness)
    , m_format(0)
    , m_area(0.0)
    , m_length(0.0)
    , m_vertexCount(-1)
{
}

Slice::Slice(float z, float thickness, const QVector<Contour> &contours)
    : Slice(z, thickness)
{
    m_contours = contours;
    normalizeFormat();
}

Slice::Slice(float z, float thickness, QVector<Contour> &&contours)
    : Slice(z, thickness)
{
    m_contours = std::move(contours);
    normalizeFormat();
}

Slice::Slice(const Slice &other)
    : m_contours(other.m_contours)
    , m_z(other.m_z)
    , m_thickness(other.m_thickness)
    , m_groups(other.m_groups)
    , m_format(other.m_format)
    , m_area(other.m_area)
    , m_length(other.m_length)
    , m_bounds(other.m_bounds)
    , m_vertexCount(other.m_vertexCount)
{
    normalizeFormat();
}

// A move hands the slice over as it is: nothing about its nesting changes.
Slice::Slice(Slice &&other) noexcept = default;

Slice::~Slice() = default;

Slice &Slice::operator=(const Slice &other) = default;

Slice &Slice::operator=(Slice &&other) noexcept = default;

void Slice::addContour(const Contour &contour)
{
    m_contours.append(contour);
    contourAdded();
}

void Slice::addContour(Contour &&contour)
{
    m_contours.append(std::move(contour));
    contourAdded();
}

// The format and group map follow the new last contour the way
// normalizeFormat() would find them, without walking the whole list again.
void Slice::contourAdded()
{
    invalidate();
    const Contour &added = m_contours.constLast();
    if (m_format == 0 && !added.children().isEmpty()) {
        m_format = hasGrandchildren(added) ? 1 : 2;
        if (m_format == 2)
            rebuildGroupMap();
        return;
    }
    if (m_format != 2)
        return;
    if (hasGrandchildren(added)) {
        m_format = 1;
        return;
    }
    const int first = m_groups.isEmpty() ? 0 : m_groups.lastKey() + 1;
    m_groups.insert(first + added.children().size(), m_contours.size() - 1);
}

const Contour &Slice::contourAt(int i) const
{
    if (m_contours.isEmpty())
        return emptyContour();
    if (m_format == 2) {
        const auto group = m_groups.lowerBound(i);
        if (group != m_groups.cend()) {
            const Contour &outer = m_contours.at(group.value());
            const int k = outer.children().size() - group.key() + i - 1;
            return k < 0 ? outer : outer.children().at(k);
        }
    }
    return m_contours.at(qBound(0, i, m_contours.size() - 1));
}

int Slice::contourCount() const
{
    if (m_contours.isEmpty())
        return 0;
    if (m_format == 2)
        return m_groups.isEmpty() ? 0 : m_groups.lastKey() + 1;
    return m_contours.size();
}

bool Slice::isDirty() const
{
    if (m_vertexCount < 0)
        return true;
    for (const Contour &contour : m_contours) {
        if (contour.isDirty())
            return true;
    }
    return false;
}

void Slice::update() const
{
    if (!isDirty())
        return;
    double area = 0.0;
    double length = 0.0;
    geom::Bounds2Df bounds;
    int vertexCount = 0;
    // Only the contours reachable by flat index count: in the grouped format
    // that is each outer contour followed by its holes, otherwise the top level.
    auto add = [&](const Contour &c) {
        area += c.area();
        uniteInto(bounds, c.boundingRect());
        vertexCount += c.points().size();
        length += c.length();
    };
    if (m_format == 2) {
        for (const int outerIndex : m_groups) {
            const Contour &outer = m_contours.at(outerIndex);
            add(outer);
            for (const Contour &child : outer.children())
                add(child);
        }
    } else {
        const int n = m_contours.size();
        const Contour *contours = m_contours.constData();
        for (int i = 0; i < n; ++i) {
            if (i + prefetchDistance < n)
                prefetchPoints(contours[i + prefetchDistance]);
            add(contours[i]);
        }
    }
    m_area = area;
    m_length = length;
    m_bounds = bounds;
    m_vertexCount = vertexCount;
}

double Slice::area() const
{
    update();
    return m_area;
}

double Slice::length() const
{
    update();
    return m_length;
}

geom::Bounds2Df Slice::boundingRect() const
{
    update();
    return m_bounds;
}

int Slice::vertexCount() const
{
    update();
    return m_vertexCount;
}

void Slice::invalidate()
{
    m_vertexCount = -1;
}

void Slice::sortByArea(bool ascending)
{
    const int n = m_contours.size();
    if (n < 2)
        return;
    // Each contour's area is read once, which brings all its caches up to date in one pass over
    // its points; the sort then works on small keys, and each contour moves at most once.
    bool (*const less)(const AreaKey &, const AreaKey &) = ascending ? areaKeyLess : areaKeyGreater;
    const auto keyAt = [this](int i) { return AreaKey{std::fabs(m_contours.at(i).area()), i}; };
    // Most slices come in sorted already; leave their (possibly shared) list alone, and spend no
    // memory on keys for them.
    int unsortedAt = 1;
    for (AreaKey previous = keyAt(0); unsortedAt < n; ++unsortedAt) {
        const AreaKey current = keyAt(unsortedAt);
        if (less(current, previous))
            break;
        previous = current;
    }
    if (unsortedAt == n)
        return;
    std::vector<AreaKey> keys(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        keys[size_t(i)] = keyAt(i);
    // The same comparison as less, spelt out so that the sort can inline it.
    if (ascending)
        std::sort(keys.begin(), keys.end(), [](const AreaKey &a, const AreaKey &b) { return areaKeyLess(a, b); });
    else
        std::sort(keys.begin(), keys.end(), [](const AreaKey &a, const AreaKey &b) { return areaKeyGreater(a, b); });

    // Position i receives the contour that was at keys[i].index: follow each cycle of that
    // permutation, holding one contour aside. A contour is relocatable (QVector moves it so too),
    // so it travels as its bytes: no reference count or cache changes hands on the way.
    Contour *contours = m_contours.data();
    const auto relocate = [](void *to, const void *from) { std::memcpy(to, from, sizeof(Contour)); };
    alignas(Contour) unsigned char held[sizeof(Contour)];
    for (int start = 0; start < n; ++start) {
        int from = keys[size_t(start)].index;
        if (from < 0)
            continue;
        keys[size_t(start)].index = -1;
        if (from == start)
            continue;
        relocate(held, contours + start);
        int to = start;
        while (from != start) {
            relocate(contours + to, contours + from);
            to = from;
            from = keys[size_t(to)].index;
            keys[size_t(to)].index = -1;
        }
        relocate(contours + to, held);
    }
    // The groups point at list positions, which have just moved.
    if (m_format == 2)
        rebuildGroupMap();
}

int Slice::reduce(double tolerance)
{
    int removed = 0;
    for (Contour &contour : m_contours)
        removed += contour.reduce(tolerance);
    if (removed != 0)
        invalidate();
    return removed;
}

void Slice::snapToGrid(double step)
{
    for (Contour &contour : m_contours)
        contour.snapToGrid(step);
    invalidate();
}

void Slice::translate(float dx, float dy, float dz)
{
    if (std::fabs(dx) > translateTolerance || std::fabs(dy) > translateTolerance) {
        moveContours(dx, dy);
        m_z += dz;
    } else if (std::fabs(dz) > translateTolerance) {
        m_z += dz;
    }
}

void Slice::translate(const QVector3D &v)
{
    const QVector2D d = v.toVector2D();
    const float dz = v.z();
    if (std::fabs(d.x()) > translateTolerance || std::fabs(d.y()) > translateTolerance) {
        moveContours(d.x(), d.y());
        m_z = float(double(m_z) + double(dz));
    } else if (std::fabs(dz) > translateTolerance) {
        m_z = float(double(m_z) + double(dz));
    }
}

// The totals other than the box do not depend on the position.
void Slice::moveContours(float dx, float dy)
{
    for (Contour &contour : m_contours)
        contour.translate(dx, dy);
    if (m_bounds.isValid()) {
        m_bounds.minX += dx;
        m_bounds.maxX += dx;
        m_bounds.minY += dy;
        m_bounds.maxY += dy;
    }
}

void Slice::normalizeFormat()
{
    if (m_contours.isEmpty()) {
        if (m_format == 2)
            rebuildGroupMap();
        return;
    }
    for (const Contour &contour : qAsConst(m_contours)) {
        if (m_format == 0) {
            if (contour.children().isEmpty())
                continue;
            m_format = 2;
        }
        if (m_format == 2 && hasGrandchildren(contour))
            m_format = 1;
    }
    if (m_format == 2)
        rebuildGroupMap();
}

void Slice::rebuildGroupMap()
{
    m_groups.clear();
    int flat = 0;
    for (int g = 0; g < m_contours.size(); ++g) {
        const int key = flat + m_contours.at(g).children().size();
        m_groups.insert(key, g);
        flat = key + 1;
    }
}
