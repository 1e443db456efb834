#include "convexrings.h"

#include <QtGlobal>

#include <cmath>
#include <new>

namespace geom {

namespace {

bool collapsed(const Point3Df *ring)
{
    return std::fabs(ring[0].x - ring[1].x) <= 1e-5f && std::fabs(ring[0].y - ring[1].y) <= 1e-5f
           && std::fabs(ring[0].z - ring[1].z) <= 1e-5f;
}

// Calls out(first, second, third) for each triangle of the zig-zag order.
template<typename Out>
void zigZag(const Point3Df *ring, int n, Out out)
{
    int hi = n - 1;
    int lo = 2;
    bool highSide = true;
    while (lo <= hi) {
        const Point3Df &first = hi == n - 1 ? ring[0] : ring[hi + 1];
        const Point3Df &second = ring[lo - 1];
        const Point3Df &third = highSide ? ring[hi--] : ring[lo++];
        out(first, second, third);
        highSide = !highSide;
    }
}

} // namespace

QVector<Point3Df> ConvexRings::processConvexV(const Point3Df *ring, int n)
{
    if (!ring || n < 3)
        return QVector<Point3Df>();
    QVector<Point3Df> result;
    try {
        result.resize(3 * n - 6);
    } catch (const std::bad_alloc &) {
        qCritical("Tessellator:processConvexV Out of memory");
        return QVector<Point3Df>();
    }
    Point3Df *dst = result.data();
    zigZag(ring, n, [&dst](const Point3Df &p, const Point3Df &q, const Point3Df &r) {
        *dst++ = p;
        *dst++ = q;
        *dst++ = r;
    });
    return result;
}

QVector<Point3Df> ConvexRings::processConvexV(const QVector<Point3Df> &ring)
{
    return processConvexV(ring.constData(), ring.size());
}

QList<Facet> ConvexRings::triangulateConvex(const QVector<Point3Df> &ring)
{
    QList<Facet> facets;
    if (ring.size() < 3)
        return facets;
    facets.reserve(ring.size() - 2);
    zigZag(ring.constData(), ring.size(), [&facets](const Point3Df &p, const Point3Df &q, const Point3Df &r) {
        facets.append(Facet(p, q, r));
    });
    return facets;
}

QVector<Point3Df> ConvexRings::stitchConvexV(const Point3Df *a, const Point3Df *b, int n)
{
    if (!b || n < 3)
        return QVector<Point3Df>();
    if (!a)
        return processConvexV(b, n);
    QVector<Point3Df> result;
    if (collapsed(a)) {
        result.reserve(3 * n);
        for (int i = 0, p = n - 1; i < n; p = i++)
            result << b[i] << a[0] << b[p];
    } else if (collapsed(b)) {
        result.reserve(3 * n);
        for (int i = 0, p = n - 1; i < n; p = i++)
            result << a[p] << b[0] << a[i];
    } else {
        result.reserve(6 * n);
        for (int i = 0, p = n - 1; i < n; p = i++)
            result << b[p] << b[i] << a[p] << a[p] << b[i] << a[i];
    }
    return result;
}

} // namespace geom
