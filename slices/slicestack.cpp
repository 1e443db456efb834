#include "slicestack.h"

#include "fuzzyreal.h"
#include "point3d.h"

#include <QAtomicInt>
#include <QFuture>
#include <QHash>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

namespace {

// Ascending by height. A NaN height (a damaged file) sorts after every real
// one, so the order stays a strict weak order and the searches by bisection
// still see an ascending run.
bool heightLess(const Slice &a, const Slice &b)
{
    return a.z() < b.z() || (!std::isnan(a.z()) && std::isnan(b.z()));
}

// |a - b| <= 1e-5 x min(|a|, |b|): at 0 only exact equality matches.
bool sameHeight(float a, float b)
{
    return geom::FuzzyReal<float>(a) == b;
}

// Bounds3Df::extend restricted to z, for a stack that has no box in x and y.
void extendZ(geom::Bounds3Df &bounds, float z)
{
    if (bounds.minZ > z)
        bounds.minZ = z;
    if (z > bounds.maxZ)
        bounds.maxZ = z;
}

// Runs work(i) for i from 0 to count - 1 on this thread and the threads of a pool of the stack's
// own, taking indices as they come. The exports keep the global pool busy (or a caller may hold
// it), and this thread must never wait for that: it works through the indices itself, the pool's
// threads only help.
QThreadPool &stackPool()
{
    static QThreadPool pool;
    return pool;
}

template <typename Work>
void parallelFor(int count, Work work)
{
    QThreadPool &pool = stackPool();
    QAtomicInt next(0);
    const auto drain = [&next, &work, count] {
        for (int i = next.fetchAndAddRelaxed(1); i < count; i = next.fetchAndAddRelaxed(1))
            work(i);
    };
    QVector<QFuture<void>> helpers;
    const int helperCount = std::min(pool.maxThreadCount(), count - 1);
    for (int h = 0; h < helperCount; ++h)
        helpers.append(QtConcurrent::run(&pool, drain));
    drain();
    for (QFuture<void> &helper : helpers)
        helper.waitForFinished();
}

// Runs work(slice, index) for the slices from index first on, spread over every core. A slice
// works on its own contours only, so slices run side by side, except where two of them share
// their contour list (copies of one slice) or the slice nests contours (children may be shared
// with contours elsewhere): reading the caches of those writes them, so they are done on this
// thread, one after another, once the others are finished.
template <typename Work>
void forEachSlice(QList<Slice> &slices, int first, Work work)
{
    struct Job
    {
        Slice *slice;
        int index;
    };
    std::vector<Job> parallel;
    std::vector<Job> sequential;
    QHash<const Contour *, int> holders;
    for (int i = first; i < slices.size(); ++i) {
        Slice *slice = &slices[i];
        // A slice without contours has nothing to sort or measure: it is done at once, so that a
        // file of millions of empty layers keeps no job for each.
        if (slice->contours().isEmpty()) {
            work(*slice, i);
            continue;
        }
        if (slice->format() != 0)
            sequential.push_back(Job{slice, i});
        else
            parallel.push_back(Job{slice, i});
        ++holders[slice->contours().constData()];
    }
    if (holders.size() < int(parallel.size() + sequential.size())) {
        const auto shared = [&holders](const Job &job) {
            return holders.value(job.slice->contours().constData()) > 1;
        };
        std::copy_if(parallel.cbegin(), parallel.cend(), std::back_inserter(sequential), shared);
        parallel.erase(std::remove_if(parallel.begin(), parallel.end(), shared), parallel.end());
    }
    parallelFor(int(parallel.size()), [&](int i) { work(*parallel[size_t(i)].slice, parallel[size_t(i)].index); });
    for (const Job &job : sequential)
        work(*job.slice, job.index);
}

// The squared distance from (cx, cy) of the corner of box farthest from it, differences in float,
// squares and sum in double. Float rounding keeps order, so no point inside the box lies farther.
double farCornerSquared(const geom::Bounds2Df &box, float cx, float cy)
{
    const float dx = std::fabs(box.minX - cx) > std::fabs(box.maxX - cx) ? box.minX - cx : box.maxX - cx;
    const float dy = std::fabs(box.minY - cy) > std::fabs(box.maxY - cy) ? box.minY - cy : box.maxY - cy;
    return double(dx) * double(dx) + double(dy) * double(dy);
}

// The largest squared distance of a vertex of the slice from (cx, cy), differences in float,
// squares and sum in double; 0 without vertices. A contour's cached box bounds the distance of
// every one of its vertices, so contours whose box lies within the distance found so far are
// passed over, and so are those that cannot lift dz2 plus their distance above beat: the result
// is the one visiting every vertex gives, or, when dz2 plus that cannot exceed beat, a value that
// keeps dz2 plus it at or below beat.
double farthestSquared(const Slice &slice, float cx, float cy, double dz2, double beat)
{
    double r2 = 0.0;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        const Contour &contour = slice.contourAt(i);
        const QVector<geom::Point2Df> &points = contour.points();
        if (points.size() >= 3) {
            const geom::Bounds2Df box = contour.boundingRect();
            if (box.minX <= box.maxX && box.minY <= box.maxY) {
                const double corner = farCornerSquared(box, cx, cy);
                if (corner <= r2 || dz2 + corner <= beat)
                    continue;
            }
        }
        for (const geom::Point2Df &p : points) {
            const float dx = p.x - cx;
            const float dy = p.y - cy;
            r2 = std::max(r2, double(dx) * double(dx) + double(dy) * double(dy));
        }
    }
    return r2;
}

void raiseTo(std::atomic<double> &maximum, double value)
{
    double current = maximum.load(std::memory_order_relaxed);
    while (value > current && !maximum.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
}

} // namespace

SliceStack::SliceStack()
    : m_contourCount(0)
    , m_vertexCount(0)
    , m_sideArea(0.0)
    , m_radius(0.0)
    , m_volume(0.0)
{
}

void SliceStack::addSlices(const QList<Slice> &newSlices, bool deferUpdate)
{
    const int first = m_slices.size();
    m_slices.append(newSlices);
    arrangeAdded(first, deferUpdate);
}

void SliceStack::addSlices(QList<Slice> &&newSlices, bool deferUpdate)
{
    const int first = m_slices.size();
    if (first == 0)
        m_slices = std::move(newSlices);
    else
        m_slices.append(newSlices);
    newSlices.clear();
    arrangeAdded(first, deferUpdate);
}

// What the stack sums of one slice, gathered while the slice is at hand.
// One is kept beside every slice with contours while a stack is arranged: the wide fields first,
// so that it takes 48 bytes, not 56.
struct SliceStack::SliceTotals
{
    double length = 0.0;
    double area = 0.0;
    geom::Bounds2Df box;
    int contours = 0;
    int vertices = 0;
    // A contour of one or two points has no box, so the slice's box need not hold its points.
    bool loosePoints = false;
};

// The totals gathered so far: rows for the slices with contours, and for each slice the index of
// its row, or one of the two marks below. A slice without contours has the totals of nothing, so
// a file of millions of empty layers keeps 4 bytes beside each while it is arranged.
struct SliceStack::Gathered
{
    static constexpr int none = -1;
    static constexpr int unknown = -2;

    std::vector<int> where;
    std::vector<SliceTotals> rows;

    // Gives each slice from first on a row when it has contours, and marks the others.
    void place(const QList<Slice> &slices, int first)
    {
        where.resize(size_t(slices.size()), unknown);
        for (int i = first; i < slices.size(); ++i) {
            if (slices.at(i).contours().isEmpty()) {
                where[size_t(i)] = none;
            } else {
                where[size_t(i)] = int(rows.size());
                rows.emplace_back();
            }
        }
    }
    const SliceTotals &at(int i) const
    {
        static const SliceTotals nothing;
        const int row = where[size_t(i)];
        return row >= 0 ? rows[size_t(row)] : nothing;
    }
};

SliceStack::SliceTotals SliceStack::totalsOf(const Slice &slice)
{
    SliceTotals t;
    t.contours = slice.contourCount();
    t.vertices = slice.vertexCount();
    t.length = slice.length();
    t.area = slice.area();
    t.box = slice.boundingRect();
    for (int i = 0; i < t.contours && !t.loosePoints; ++i) {
        const int size = slice.contourAt(i).points().size();
        t.loosePoints = size == 1 || size == 2;
    }
    return t;
}

void SliceStack::arrangeAdded(int first, bool deferUpdate)
{
    // Contours largest first, caches up to date (in that order: the totals are summed in the
    // order of the contours), and the slice's totals taken while its contours are at hand.
    const int n = m_slices.size();
    Gathered gathered;
    gathered.place(m_slices, first);
    forEachSlice(m_slices, first, [&gathered](Slice &slice, int i) {
        slice.sortByArea(false);
        slice.update();
        const int row = gathered.where[size_t(i)];
        if (row >= 0)
            gathered.rows[size_t(row)] = totalsOf(slice);
    });

    // The order by height (stable), then, walking down from the top, each survivor compared with
    // the slice below it, so that of a run of near-equal heights the last one stays. Slices that
    // come in order and at heights of their own (what files hold) need neither list.
    std::vector<int> order;
    if (!std::is_sorted(m_slices.cbegin(), m_slices.cend(), heightLess)) {
        order.resize(size_t(n));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [this](int a, int b) { return heightLess(m_slices.at(a), m_slices.at(b)); });
    }
    const auto ordered = [&order](int k) { return order.empty() ? k : order[size_t(k)]; };
    bool repeated = false;
    for (int k = 0; k + 1 < n && !repeated; ++k)
        repeated = sameHeight(m_slices.at(ordered(k)).z(), m_slices.at(ordered(k + 1)).z());
    if (order.empty() && !repeated) {
        if (!deferUpdate)
            updateFrom(gathered);
        return;
    }

    // The survivors in their order, then the slices dropped: each position's slice and totals
    // come from there, following the cycles of that permutation, and the dropped ones at the end
    // go. A slice is moved as its body pointer, so no slice is made anew.
    std::vector<int> from;
    from.reserve(size_t(n));
    std::vector<int> dropped;
    for (int k = n - 1; k >= 0; --k) {
        const int i = ordered(k);
        if (from.empty() || !sameHeight(m_slices.at(i).z(), m_slices.at(from.back()).z()))
            from.push_back(i);
        else
            dropped.push_back(i);
    }
    std::reverse(from.begin(), from.end());
    const int keptCount = int(from.size());
    from.insert(from.end(), dropped.cbegin(), dropped.cend());
    dropped = std::vector<int>();
    order = std::vector<int>();
    for (int start = 0; start < n; ++start) {
        int source = from[size_t(start)];
        if (source < 0)
            continue;
        from[size_t(start)] = -1;
        if (source == start)
            continue;
        Slice held = std::move(m_slices[start]);
        const int heldRow = gathered.where[size_t(start)];
        int to = start;
        while (source != start) {
            m_slices[to] = std::move(m_slices[source]);
            gathered.where[size_t(to)] = gathered.where[size_t(source)];
            to = source;
            source = from[size_t(to)];
            from[size_t(to)] = -1;
        }
        m_slices[to] = std::move(held);
        gathered.where[size_t(to)] = heldRow;
    }
    m_slices.erase(m_slices.begin() + keptCount, m_slices.end());
    gathered.where.resize(size_t(keptCount));

    if (!deferUpdate)
        updateFrom(gathered);
}

void SliceStack::update()
{
    Gathered gathered;
    updateFrom(gathered);
}

void SliceStack::updateFrom(Gathered &gathered)
{
    m_bounds.reset();
    m_contourCount = 0;
    m_vertexCount = 0;
    m_sideArea = 0.0;
    m_radius = 0.0;
    m_volume = 0.0;
    geom::Bounds2Df box;

    const int n = m_slices.size();
    if (n == 0)
        return;

    // Each slice's totals are gathered side by side, then summed in slice order as ever.
    const bool complete = int(gathered.where.size()) == n
        && std::find(gathered.where.cbegin(), gathered.where.cend(), Gathered::unknown) == gathered.where.cend();
    if (!complete) {
        const int firstNew = int(gathered.rows.size());
        gathered.where.resize(size_t(n), Gathered::unknown);
        for (int i = 0; i < n; ++i) {
            int &row = gathered.where[size_t(i)];
            if (row != Gathered::unknown)
                continue;
            if (m_slices.at(i).contours().isEmpty()) {
                row = Gathered::none;
            } else {
                row = int(gathered.rows.size());
                gathered.rows.emplace_back();
            }
        }
        // Slices without contours are brought up to date too: copies of the list may be read on
        // other threads.
        forEachSlice(m_slices, 0, [&gathered, firstNew](Slice &s, int i) {
            const int row = gathered.where[size_t(i)];
            if (row >= firstNew)
                gathered.rows[size_t(row)] = totalsOf(s);
            else if (row < 0)
                s.update();
        });
    }
    auto accumulate = [&](const Slice &s, int i) {
        const SliceTotals &t = gathered.at(i);
        m_contourCount += t.contours;
        m_vertexCount += t.vertices;
        m_sideArea += double(s.thickness()) * t.length;
        m_volume += double(s.thickness()) * t.area;
        box.unite(t.box);
    };
    for (int i = 0; i < n - 1; ++i) {
        Slice &s = m_slices[i];
        s.setThickness(m_slices.at(i + 1).z() - s.z());
        accumulate(s, i);
    }

    // The last slice has no next one to measure against and keeps the thickness
    // it came with, unless that is unusable: a file listed top down leaves its
    // lowest layer, now last, with a negative or unknown thickness.
    Slice &last = m_slices[n - 1];
    const float lastThickness = last.thickness();
    if (std::isnan(lastThickness) || lastThickness < 0.0f)
        last.setThickness(n > 1 ? last.z() - m_slices.at(n - 2).z() : 0.0f);
    accumulate(last, n - 1);

    const float firstZ = m_slices.constFirst().z();
    const float lastZ = last.z();
    // No contour with an area leaves the box empty in x and y; spreading its
    // +/-FLT_MAX corners into the stack box would make it span every float.
    if (box.minX <= box.maxX && box.minY <= box.maxY) {
        m_bounds.extend(geom::Point3Df(box.minX, box.minY, firstZ));
        m_bounds.extend(geom::Point3Df(box.maxX, box.maxY, lastZ));
    } else {
        extendZ(m_bounds, firstZ);
        extendZ(m_bounds, lastZ);
    }

    const float cx = (box.minX + box.maxX) * 0.5f;
    const float cy = (box.minY + box.maxY) * 0.5f;
    const double cz = double((m_bounds.minZ + m_bounds.maxZ) * 0.5f);
    // The largest of dz^2 + r2 over the slices with a vertex off the centre. A slice's box bounds
    // what it can give, so the slices are taken largest bound first, and those whose bound does
    // not exceed the largest value found so far are passed over: most parts are settled by a few
    // slices at the top and the bottom. The maximum does not depend on the order it is taken in.
    struct Candidate
    {
        int index;
        double dz2;
        double bound;
    };
    // Room for the slices with contours only: a file of millions of empty layers has few.
    std::vector<Candidate> candidates;
    candidates.reserve(gathered.rows.size());
    for (int i = 0; i < n; ++i) {
        const SliceTotals &t = gathered.at(i);
        const double dz = double(m_slices.at(i).z()) - cz;
        const double dz2 = dz * dz;
        // A height that is not a number adds nothing (no value compares above the maximum).
        if (t.contours == 0 || std::isnan(dz2))
            continue;
        double bound = std::numeric_limits<double>::infinity();
        if (!t.loosePoints && t.box.minX <= t.box.maxX && t.box.minY <= t.box.maxY) {
            const double corner = dz2 + farCornerSquared(t.box, cx, cy);
            if (corner >= 0.0)
                bound = corner;
        }
        candidates.push_back(Candidate{i, dz2, bound});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate &a, const Candidate &b) { return a.bound > b.bound; });
    // Reading the caches of a clean contour writes nothing, so flat and grouped slices (every
    // contour of which the totals have measured) are read side by side even where they share
    // contours; in a nested slice a stale grandchild keeps its ancestors recomputing on every
    // read, so those slices are read on this thread once the others are done.
    std::atomic<double> radius2(0.0);
    const auto visit = [&](const Candidate &c) {
        const double beat = radius2.load(std::memory_order_relaxed);
        if (c.bound <= beat)
            return;
        const double r2 = farthestSquared(m_slices.at(c.index), cx, cy, c.dz2, beat);
        if (r2 != 0.0)
            raiseTo(radius2, c.dz2 + r2);
    };
    const auto nested = [this](const Candidate &c) { return m_slices.at(c.index).format() == 1; };
    parallelFor(int(candidates.size()), [&](int k) {
        if (!nested(candidates[size_t(k)]))
            visit(candidates[size_t(k)]);
    });
    for (const Candidate &c : candidates) {
        if (nested(c))
            visit(c);
    }
    m_radius = std::sqrt(radius2.load());
}

void SliceStack::clear()
{
    m_slices.clear();
    // With no slices, the update only resets the totals.
    update();
}

int SliceStack::sliceIndexAt(float z) const
{
    const int i = sliceLowerBound(m_slices, z);
    if (i < 0)
        return -1;
    const float s = m_slices.at(i).z();
    return s == z || sameHeight(s, z) ? i : -1;
}

void SliceStack::removeSlice(int index, bool deferUpdate)
{
    if (index < 0)
        index += m_slices.size();
    if (index >= 0 && index < m_slices.size())
        m_slices.removeAt(index);
    if (!deferUpdate)
        update();
}

bool SliceStack::removeSliceAt(float z, bool deferUpdate)
{
    const int i = sliceIndexAt(z);
    if (i < 0)
        return false;
    removeSlice(i, deferUpdate);
    return true;
}

int SliceStack::insertSlice(const Slice &slice, bool deferUpdate)
{
    const float z = slice.z();
    int position = sliceLowerBound(m_slices, z);
    if (position < 0)
        position = m_slices.size();

    // The matching height may lie just below z as well as at or above it; of
    // two matches the nearer one is replaced.
    int match = -1;
    if (position < m_slices.size() && sameHeight(m_slices.at(position).z(), z))
        match = position;
    if (position > 0) {
        const float below = m_slices.at(position - 1).z();
        if (sameHeight(below, z)
            && (match < 0 || std::fabs(z - below) < std::fabs(m_slices.at(match).z() - z)))
            match = position - 1;
    }

    if (match >= 0) {
        position = match;
        m_slices[position] = slice;
    } else {
        m_slices.insert(position, slice);
    }
    m_slices[position].sortByArea(false);

    if (!deferUpdate)
        update();
    return position;
}

int SliceStack::insertSlice(float z, const Contour &contour, bool deferUpdate)
{
    QVector<Contour> contours = contour.children();
    if (!contour.points().isEmpty())
        contours.append(Contour(contour.points()));
    return insertSlice(Slice(z, 0.0f, std::move(contours)), deferUpdate);
}

float SliceStack::maxThickness() const
{
    float result = 0.0f;
    for (const Slice &s : m_slices) {
        if (s.thickness() > result)
            result = s.thickness();
    }
    return result;
}

float SliceStack::minThickness() const
{
    if (m_slices.size() < 2)
        return 0.0f;
    float result = m_bounds.maxZ - m_bounds.minZ;
    if (!(result > 0.0f))
        result = 0.0f;
    for (const Slice &s : m_slices) {
        if (s.thickness() < result)
            result = s.thickness();
    }
    return result;
}

int sliceLowerBound(const QList<Slice> &slices, float z)
{
    const auto it = std::lower_bound(slices.cbegin(), slices.cend(), z,
                                     [](const Slice &s, float value) { return s.z() < value; });
    return it == slices.cend() ? -1 : int(it - slices.cbegin());
}
