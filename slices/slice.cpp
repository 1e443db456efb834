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

// A list of slices holds each in a block of its own: the smallest one the allocator gives.
static_assert(sizeof(Slice) <= 16, "a slice is its height, its thickness and one pointer");

Slice::Data::Data(const Data &other)
    : format(other.format)
    , contours(other.contours)
    , groups(other.groups)
    , area(other.area)
    , length(other.length)
    , bounds(other.bounds)
    , vertexCount(other.vertexCount)
{
}

// Made once and never freed: slices held by objects that outlive this file's statics still point
// at them. Their count stays -1, so sharing them costs no atomic write that threads would contend
// for.
Slice::Data *Slice::emptyData(bool clean)
{
    static Data *const stale = [] {
        Data *data = new Data;
        data->ref.storeRelaxed(-1);
        return data;
    }();
    static Data *const fresh = [] {
        Data *data = new Data;
        data->ref.storeRelaxed(-1);
        data->vertexCount = 0;
        return data;
    }();
    return clean ? fresh : stale;
}

void Slice::retain(Data *data)
{
    if (data->ref.loadRelaxed() != -1)
        data->ref.ref();
}

void Slice::release(Data *data)
{
    if (data->ref.loadRelaxed() != -1 && !data->ref.deref())
        delete data;
}

Slice::Data &Slice::edit()
{
    if (isShared(d)) {
        Data *own = new Data(*d);
        release(d);
        d = own;
    }
    return *d;
}

void Slice::settle()
{
    if (isShared(d) || !d->contours.isEmpty() || d->format != 0 || !d->groups.isEmpty())
        return;
    // Without contours the caches are stale or hold the totals of nothing.
    const bool clean = d->vertexCount >= 0;
    release(d);
    d = emptyData(clean);
}

Slice::Slice()
    : Slice(unknown, 0.0f)
{
}

Slice::Slice(float z)
    : Slice(z, unknown)
{
}

Slice::Slice(float z, float thickness)
    : d(emptyData(false))
    , m_z(z)
    , m_thickness(thickness)
{
}

Slice::Slice(float z, float thickness, const QVector<Contour> &contours)
    : Slice(z, thickness)
{
    if (contours.isEmpty())
        return;
    edit().contours = contours;
    normalizeFormat();
}

Slice::Slice(float z, float thickness, QVector<Contour> &&contours)
    : Slice(z, thickness)
{
    if (contours.isEmpty())
        return;
    edit().contours = std::move(contours);
    normalizeFormat();
}

Slice::Slice(const Slice &other)
    : d(other.d)
    , m_z(other.m_z)
    , m_thickness(other.m_thickness)
{
    retain(d);
    normalizeFormat();
}

// A move hands the slice over as it is: nothing about its nesting changes. The slice moved from
// is left empty.
Slice::Slice(Slice &&other) noexcept
    : d(other.d)
    , m_z(other.m_z)
    , m_thickness(other.m_thickness)
{
    other.d = emptyData(false);
}

Slice::~Slice()
{
    release(d);
}

Slice &Slice::operator=(const Slice &other)
{
    retain(other.d);
    release(d);
    d = other.d;
    m_z = other.m_z;
    m_thickness = other.m_thickness;
    return *this;
}

Slice &Slice::operator=(Slice &&other) noexcept
{
    std::swap(d, other.d);
    m_z = other.m_z;
    m_thickness = other.m_thickness;
    return *this;
}

void Slice::addContour(const Contour &contour)
{
    edit().contours.append(contour);
    contourAdded();
}

void Slice::addContour(Contour &&contour)
{
    edit().contours.append(std::move(contour));
    contourAdded();
}

// The format and group map follow the new last contour the way
// normalizeFormat() would find them, without walking the whole list again.
void Slice::contourAdded()
{
    Data &data = *d;
    data.vertexCount = -1;
    const Contour &added = data.contours.constLast();
    if (data.format == 0 && !added.children().isEmpty()) {
        data.format = hasGrandchildren(added) ? 1 : 2;
        if (data.format == 2)
            rebuildGroupMap();
        return;
    }
    if (data.format != 2)
        return;
    if (hasGrandchildren(added)) {
        data.format = 1;
        return;
    }
    const int first = data.groups.isEmpty() ? 0 : data.groups.lastKey() + 1;
    data.groups.insert(first + added.children().size(), data.contours.size() - 1);
}

const Contour &Slice::contourAt(int i) const
{
    const QVector<Contour> &contours = d->contours;
    if (contours.isEmpty())
        return emptyContour();
    if (d->format == 2) {
        const auto group = d->groups.lowerBound(i);
        if (group != d->groups.cend()) {
            const Contour &outer = contours.at(group.value());
            const int k = outer.children().size() - group.key() + i - 1;
            return k < 0 ? outer : outer.children().at(k);
        }
    }
    return contours.at(qBound(0, i, contours.size() - 1));
}

int Slice::contourCount() const
{
    if (d->contours.isEmpty())
        return 0;
    if (d->format == 2)
        return d->groups.isEmpty() ? 0 : d->groups.lastKey() + 1;
    return d->contours.size();
}

bool Slice::isDirty() const
{
    if (d->vertexCount < 0)
        return true;
    for (const Contour &contour : d->contours) {
        if (contour.isDirty())
            return true;
    }
    return false;
}

void Slice::update() const
{
    if (!isDirty())
        return;
    // The totals of nothing are those the clean empty body holds; the shared bodies are never
    // written.
    if (d == emptyData(false)) {
        d = emptyData(true);
        return;
    }
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
    const QVector<Contour> &all = d->contours;
    if (d->format == 2) {
        for (const int outerIndex : d->groups) {
            const Contour &outer = all.at(outerIndex);
            add(outer);
            for (const Contour &child : outer.children())
                add(child);
        }
    } else {
        const int n = all.size();
        const Contour *contours = all.constData();
        for (int i = 0; i < n; ++i) {
            if (i + prefetchDistance < n)
                prefetchPoints(contours[i + prefetchDistance]);
            add(contours[i]);
        }
    }
    d->area = area;
    d->length = length;
    d->bounds = bounds;
    d->vertexCount = vertexCount;
}

double Slice::area() const
{
    update();
    return d->area;
}

double Slice::length() const
{
    update();
    return d->length;
}

geom::Bounds2Df Slice::boundingRect() const
{
    update();
    return d->bounds;
}

int Slice::vertexCount() const
{
    update();
    return d->vertexCount;
}

void Slice::invalidate()
{
    if (d->vertexCount < 0)
        return;
    if (d == emptyData(true)) {
        d = emptyData(false);
        return;
    }
    edit().vertexCount = -1;
}

void Slice::sortByArea(bool ascending)
{
    const int n = d->contours.size();
    if (n < 2)
        return;
    // Each contour's area is read once, which brings all its caches up to date in one pass over
    // its points; the sort then works on small keys, and each contour moves at most once.
    bool (*const less)(const AreaKey &, const AreaKey &) = ascending ? areaKeyLess : areaKeyGreater;
    const QVector<Contour> &list = d->contours;
    const auto keyAt = [&list](int i) { return AreaKey{std::fabs(list.at(i).area()), i}; };
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
    Contour *contours = edit().contours.data();
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
    if (d->format == 2)
        rebuildGroupMap();
}

int Slice::reduce(double tolerance)
{
    if (d->contours.isEmpty())
        return 0;
    int removed = 0;
    for (Contour &contour : edit().contours)
        removed += contour.reduce(tolerance);
    if (removed != 0)
        invalidate();
    return removed;
}

void Slice::snapToGrid(double step)
{
    if (!d->contours.isEmpty()) {
        for (Contour &contour : edit().contours)
            contour.snapToGrid(step);
    }
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
    if (d->contours.isEmpty())
        return;
    Data &data = edit();
    for (Contour &contour : data.contours)
        contour.translate(dx, dy);
    if (data.bounds.isValid()) {
        data.bounds.minX += dx;
        data.bounds.maxX += dx;
        data.bounds.minY += dy;
        data.bounds.maxY += dy;
    }
}

// The format normalizeFormat() arrives at, found without changing anything.
int Slice::derivedFormat() const
{
    int format = d->format;
    for (const Contour &contour : d->contours) {
        if (format == 0) {
            if (contour.children().isEmpty())
                continue;
            format = 2;
        }
        if (format == 2 && hasGrandchildren(contour))
            format = 1;
    }
    return format;
}

// Whether the group map is the one rebuildGroupMap() would make.
bool Slice::groupMapIsCurrent() const
{
    const QVector<Contour> &contours = d->contours;
    if (d->groups.size() != contours.size())
        return false;
    int flat = 0;
    int g = 0;
    for (auto group = d->groups.cbegin(); group != d->groups.cend(); ++group, ++g) {
        const int key = flat + contours.at(g).children().size();
        if (group.key() != key || group.value() != g)
            return false;
        flat = key + 1;
    }
    return true;
}

// A copy runs this on a body it shares: it is made its own only when something changes.
void Slice::normalizeFormat()
{
    const int format = derivedFormat();
    if (format == d->format && (format != 2 || groupMapIsCurrent()))
        return;
    edit().format = format;
    if (format == 2)
        rebuildGroupMap();
}

void Slice::rebuildGroupMap()
{
    Data &data = edit();
    data.groups.clear();
    int flat = 0;
    for (int g = 0; g < data.contours.size(); ++g) {
        const int key = flat + data.contours.at(g).children().size();
        data.groups.insert(key, g);
        flat = key + 1;
    }
}
