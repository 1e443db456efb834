#include "slicestack.h"

#include "fuzzyreal.h"
#include "point3d.h"

#include <algorithm>
#include <cmath>
#include <utility>

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
    for (int i = first; i < m_slices.size(); ++i)
        m_slices[i].sortByArea(false);

    if (!std::is_sorted(m_slices.cbegin(), m_slices.cend(), heightLess))
        std::stable_sort(m_slices.begin(), m_slices.end(), heightLess);

    // Walking down from the top, each survivor is compared with the slice
    // below it, so of a run of near-equal heights the last one stays.
    const int n = m_slices.size();
    if (n > 1) {
        QVector<bool> keep(n, true);
        bool dropped = false;
        int survivor = n - 1;
        for (int i = n - 2; i >= 0; --i) {
            if (sameHeight(m_slices.at(i).z(), m_slices.at(survivor).z())) {
                keep[i] = false;
                dropped = true;
            } else {
                survivor = i;
            }
        }
        if (dropped) {
            int kept = 0;
            for (int i = 0; i < n; ++i) {
                if (!keep.at(i))
                    continue;
                if (kept != i)
                    m_slices[kept] = std::move(m_slices[i]);
                ++kept;
            }
            m_slices.erase(m_slices.begin() + kept, m_slices.end());
        }
    }

    if (!deferUpdate)
        update();
}

void SliceStack::update()
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

    auto accumulate = [&](const Slice &s) {
        m_contourCount += s.contourCount();
        m_vertexCount += s.vertexCount();
        m_sideArea += double(s.thickness()) * s.length();
        m_volume += double(s.thickness()) * s.area();
        box.unite(s.boundingRect());
    };

    for (int i = 0; i < n - 1; ++i) {
        Slice &s = m_slices[i];
        s.setThickness(m_slices.at(i + 1).z() - s.z());
        accumulate(s);
    }

    // The last slice has no next one to measure against and keeps the thickness
    // it came with, unless that is unusable: a file listed top down leaves its
    // lowest layer, now last, with a negative or unknown thickness.
    Slice &last = m_slices[n - 1];
    const float lastThickness = last.thickness();
    if (std::isnan(lastThickness) || lastThickness < 0.0f)
        last.setThickness(n > 1 ? last.z() - m_slices.at(n - 2).z() : 0.0f);
    accumulate(last);

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
    double radius2 = 0.0;
    for (const Slice &s : qAsConst(m_slices)) {
        const int count = s.contourCount();
        double r2 = 0.0;
        for (int i = 0; i < count; ++i) {
            for (const geom::Point2Df &p : s.contourAt(i).points()) {
                const float dx = p.x - cx;
                const float dy = p.y - cy;
                r2 = std::max(r2, double(dx) * double(dx) + double(dy) * double(dy));
            }
        }
        if (r2 != 0.0) {
            const double dz = double(s.z()) - cz;
            radius2 = std::max(radius2, dz * dz + r2);
        }
    }
    m_radius = std::sqrt(radius2);
}

void SliceStack::clear()
{
    m_bounds.reset();
    m_contourCount = 0;
    m_vertexCount = 0;
    m_sideArea = 0.0;
    m_radius = 0.0;
    m_slices.clear();
    m_volume = 0.0;
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
