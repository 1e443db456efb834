// Mirroring and mapping of slices and of the whole stack.

#include "slicestack.h"

#include "utiltx.h"

#include <QMatrix4x4>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const unsigned mirrorXFlags = 0x3;
const unsigned mirrorYFlags = 0xC;
const unsigned mirrorZFlags = 0x30;

// A cached range flips whatever its shape: a flat one is still the range of
// the mirrored points, and the reset range (+FLT_MAX, -FLT_MAX) maps onto
// itself.
void flipRange(float &min, float &max)
{
    const float oldMin = min;
    min = -max;
    max = -oldMin;
}

// The z of the point (0, 0, z) mapped through m, divided by w unless w is 1.
float mapHeight(const QMatrix4x4 &m, float z)
{
    float mapped = m(2, 2) * z + m(2, 3);
    const float w = m(3, 2) * z + m(3, 3);
    if (w != 1.0f)
        mapped /= w;
    return mapped;
}

// Reverses the contour and all its descendants, keeping the children's order.
void reverseTree(Contour &contour)
{
    contour.reverse();
    for (int i = contour.children().size(); i > 0; --i) {
        Contour child = contour.takeChild(0);
        reverseTree(child);
        contour.addChild(std::move(child));
    }
}

} // namespace

Slice &Slice::mirror(unsigned flags)
{
    if (flags & mirrorZFlags)
        m_z = -m_z;
    // Without contours there is nothing to mirror, and the box is the empty one or stale.
    if (d->contours.isEmpty())
        return *this;
    Data &data = edit();
    for (Contour &c : data.contours)
        c.mirror(flags);
    if (flags & mirrorXFlags)
        flipRange(data.bounds.minX, data.bounds.maxX);
    if (flags & mirrorYFlags)
        flipRange(data.bounds.minY, data.bounds.maxY);
    return *this;
}

Slice Slice::mapped(const QTransform &transform, bool warnProjective) const
{
    // A transform that mirrors the plane would turn material into holes and
    // holes into material; like mirror(), keep the orientation.
    const bool mirrors = transform.m11() * transform.m22() - transform.m12() * transform.m21() < 0.0;
    QVector<Contour> contours;
    contours.reserve(d->contours.size());
    for (const Contour &c : d->contours) {
        contours.append(c.map(transform, warnProjective));
        if (mirrors)
            reverseTree(contours.last());
    }
    return Slice(m_z, m_thickness, std::move(contours));
}

Slice Slice::mapped(const QMatrix4x4 &m, bool warnProjective) const
{
    Slice result = mapped(m.toTransform(), warnProjective);
    result.m_z = mapHeight(m, m_z);
    const double zx = m(0, 2);
    const double zy = m(1, 2);
    const double zz = m(2, 2);
    result.m_thickness = float(double(m_thickness) * std::sqrt(zx * zx + zy * zy + zz * zz));
    return result;
}

SliceStack &SliceStack::mirror(unsigned flags)
{
    const int n = m_slices.size();
    if (flags & mirrorZFlags) {
        // Upside down the order reverses, and each slice is as thick as the gap
        // to the one that is now above it.
        std::reverse(m_slices.begin(), m_slices.end());
        for (int i = 0; i + 1 < n; ++i)
            m_slices[i].setThickness(m_slices.at(i + 1).thickness());
    }
    for (Slice &s : m_slices)
        s.mirror(flags);
    if (flags & mirrorXFlags)
        flipRange(m_bounds.minX, m_bounds.maxX);
    if (flags & mirrorYFlags)
        flipRange(m_bounds.minY, m_bounds.maxY);
    if (flags & mirrorZFlags)
        flipRange(m_bounds.minZ, m_bounds.maxZ);
    return *this;
}

SliceStack SliceStack::mapped(const QMatrix4x4 &m) const
{
    SliceStack result;
    result.m_slices.reserve(m_slices.size());
    for (const Slice &s : m_slices)
        result.m_slices.append(s.mapped(m, true));
    // A matrix that turns z round turns the order round: the thicknesses,
    // volume and side area are only positive, and the look-up by height only
    // works, on ascending slices. NaN heights stay last.
    auto lower = [](const Slice &a, const Slice &b) {
        return a.z() < b.z() || (!std::isnan(a.z()) && std::isnan(b.z()));
    };
    if (!std::is_sorted(result.m_slices.cbegin(), result.m_slices.cend(), lower))
        std::stable_sort(result.m_slices.begin(), result.m_slices.end(), lower);
    result.update();
    return result;
}

geom::Bounds3Df SliceStack::mappedBounds(const QMatrix4x4 &m) const
{
    geom::Bounds3Df result;
    if (m_slices.isEmpty())
        return result;
    const QTransform t = m.toTransform();
    geom::Bounds2Df box;
    for (const Slice &s : m_slices) {
        const int count = s.contourCount();
        for (int i = 0; i < count; ++i) {
            const QVector<geom::Point2Df> &points = s.contourAt(i).points();
            if (!points.isEmpty())
                box.unite(utilTX::mapBounds2Df(t, points.constData(), points.size()));
        }
    }
    const float z1 = mapHeight(m, m_slices.constFirst().z());
    const float z2 = mapHeight(m, m_slices.constLast().z());
    result.minX = box.minX;
    result.minY = box.minY;
    result.minZ = std::min(z1, z2);
    result.maxX = box.maxX;
    result.maxY = box.maxY;
    result.maxZ = std::max(z1, z2);
    return result;
}
