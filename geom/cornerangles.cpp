#include "cornerangles.h"

#include "angle.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#define CORNERANGLES_SSE 1
#endif

namespace geom {

template <typename P>
class CornerAnglesPrivate
{
public:
    explicit CornerAnglesPrivate(int n) : angles(n, 0.0), bisectors(n, P(0, 0)), directions(n, P(0, 0)) {}

    QVector<double> angles;
    QVector<P> bisectors;
    QVector<P> directions;
};

namespace {

constexpr double Pi = 3.14159265358979323846;

template <typename P>
P unit(P v)
{
    return v.setLength(1.0);
}

// One edge of the plain loop: its direction, added to the bisector sum of the
// vertex it leaves and taken from that of the vertex it reaches.
template <typename P>
void visitEdge(const P *points, int n, int e, P *directions, P *bisectors)
{
    const int next = e + 1 == n ? 0 : e + 1;
    const P d = unit(P(points[next] - points[e]));
    directions[e] = d;
    bisectors[e] += d;
    bisectors[next] -= d;
}

// First pass: directions and bisector sums. Edge n - 1 (the closing edge) is
// visited first, then edges 0 to n - 2.
template <typename P>
void directionsAndBisectors(const P *points, int n, P *directions, P *bisectors)
{
    visitEdge(points, n, n - 1, directions, bisectors);
    for (int e = 0; e + 1 < n; ++e)
        visitEdge(points, n, e, directions, bisectors);
}

#ifdef CORNERANGLES_SSE

// Edges 0 to n - 2 of a float polygon, two points a step: the load at edge e
// reads points e and e + 1 and nothing beyond, and the bisector sums of
// vertices e and e + 1 take (d, -d) in one addition. The direction is
// normalised in double as setLength(1) does, so the results are those of the
// plain loop to the last bit.
void vectorEdges(const Point2Df *points, int n, Point2Df *directions, Point2Df *bisectors)
{
    const __m128 negateHigh = _mm_castsi128_ps(_mm_set_epi32(int(0x80000000u), int(0x80000000u), 0, 0));
    for (int e = 0; e + 1 < n; ++e) {
        const __m128 pair = _mm_loadu_ps(&points[e].x);
        const __m128 difference = _mm_sub_ps(_mm_movehl_ps(pair, pair), pair);
        const __m128d wide = _mm_cvtps_pd(difference);
        const __m128d squares = _mm_mul_pd(wide, wide);
        const double squaredLength = _mm_cvtsd_f64(_mm_add_sd(squares, _mm_unpackhi_pd(squares, squares)));
        __m128 d = _mm_setzero_ps();
        if (squaredLength > 1e-12)
            d = _mm_cvtpd_ps(_mm_mul_pd(wide, _mm_set1_pd(1.0 / std::sqrt(squaredLength))));
        _mm_storel_pi(reinterpret_cast<__m64 *>(&directions[e].x), d);
        float *sums = &bisectors[e].x;
        _mm_storeu_ps(sums, _mm_add_ps(_mm_loadu_ps(sums), _mm_xor_ps(_mm_movelh_ps(d, d), negateHigh)));
    }
}

void directionsAndBisectors(const Point2Df *points, int n, Point2Df *directions, Point2Df *bisectors)
{
    visitEdge(points, n, n - 1, directions, bisectors);
    if (n >= 8) {
        vectorEdges(points, n, directions, bisectors);
        return;
    }
    for (int e = 0; e + 1 < n; ++e)
        visitEdge(points, n, e, directions, bisectors);
}

#endif // CORNERANGLES_SSE

} // namespace

template <typename P>
CornerAngles<P>::CornerAngles() : d(new CornerAnglesPrivate<P>(0))
{
}

template <typename P>
CornerAngles<P>::CornerAngles(const QVector<P> &polygon) : d(new CornerAnglesPrivate<P>(polygon.size()))
{
    compute(polygon);
}

template <typename P>
CornerAngles<P>::~CornerAngles()
{
    delete d;
}

template <typename P>
void CornerAngles<P>::compute(const P *points, int count)
{
    const int n = points && count > 0 ? count : 0;
    *d = CornerAnglesPrivate<P>(n);
    if (n == 0)
        return;
    P *directions = d->directions.data();
    P *bisectors = d->bisectors.data();
    double *angles = d->angles.data();
    directionsAndBisectors(points, n, directions, bisectors);

    // Second pass, in the order of the first: the arriving edge's direction
    // angle less pi, less the leaving edge's.
    auto visitAngle = [&](int e) {
        const double theta = std::atan2(double(directions[e].y), double(directions[e].x));
        angles[e] -= theta;
        angles[e + 1 == n ? 0 : e + 1] += theta - Pi;
    };
    visitAngle(n - 1);
    for (int e = 0; e + 1 < n; ++e)
        visitAngle(e);
    for (int k = 0; k < n; ++k) {
        angles[k] = wrapRadians(angles[k]);
        bisectors[k].setLength(1.0);
    }
}

template <typename P>
void CornerAngles<P>::compute(const QVector<P> &polygon)
{
    compute(polygon.constData(), polygon.size());
}

template <typename P>
const QVector<P> &CornerAngles<P>::directions() const
{
    return d->directions;
}

template <typename P>
const QVector<double> &CornerAngles<P>::angles() const
{
    return d->angles;
}

template <typename P>
const QVector<P> &CornerAngles<P>::bisectors() const
{
    return d->bisectors;
}

template class CornerAngles<Point2Df>;
template class CornerAngles<Point2Dd>;

} // namespace geom
