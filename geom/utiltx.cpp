#include "utiltx.h"

#include <QMatrix4x4>
#include <QTransform>
#include <QtGlobal>

#include <cfloat>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define UTILTX_SSE 1
#endif

using geom::Bounds2Df;
using geom::Bounds3Df;
using geom::Point2Df;
using geom::Point3Df;

namespace {

constexpr float tolerance = 1e-5f;

inline bool isOne(float a)
{
    return std::fabs(a - 1.0f) <= tolerance * std::fmin(1.0f, std::fabs(a));
}

inline bool isZero(float a)
{
    return std::fabs(a) <= tolerance;
}

// The scalar formulas. The vector paths below evaluate in exactly this order,
// so both give the same floats.

inline Point2Df affine2(const float *m, const Point2Df &p)
{
    return Point2Df(m[0] * p.x + m[3] * p.y + m[6], m[1] * p.x + m[4] * p.y + m[7]);
}

inline Point2Df projective2(const float *m, const Point2Df &p)
{
    const float w = m[2] * p.x + m[5] * p.y + m[8];
    return Point2Df((m[0] * p.x + m[3] * p.y + m[6]) / w, (m[1] * p.x + m[4] * p.y + m[7]) / w);
}

inline Point2Df scale2(const float *m, const Point2Df &p)
{
    return Point2Df(m[0] * p.x + m[6], m[4] * p.y + m[7]);
}

inline Point2Df translate2(const float *m, const Point2Df &p)
{
    return Point2Df(p.x + m[6], p.y + m[7]);
}

inline Point2Df map2ByType(const float *m, int type, const Point2Df &p)
{
    if (type == 0)
        return p;
    if (type & geom::TransformProjective)
        return projective2(m, p);
    if (type & geom::TransformRotate)
        return affine2(m, p);
    if (type & geom::TransformScale)
        return scale2(m, p);
    return translate2(m, p);
}

inline Point3Df affine3(const float *m, const Point3Df &p)
{
    return Point3Df(m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                    m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]);
}

inline Point3Df projective3(const float *m, const Point3Df &p)
{
    const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    const Point3Df a = affine3(m, p);
    return Point3Df(a.x / w, a.y / w, a.z / w);
}

inline Point3Df scale3(const float *m, const Point3Df &p)
{
    return Point3Df(m[0] * p.x + m[12], m[5] * p.y + m[13], m[10] * p.z + m[14]);
}

inline Point3Df translate3(const float *m, const Point3Df &p)
{
    return Point3Df(p.x + m[12], p.y + m[13], p.z + m[14]);
}

inline Point3Df map3ByType(const float *m, int type, const Point3Df &p)
{
    if (type == 0)
        return p;
    if (type & geom::TransformProjective)
        return projective3(m, p);
    if (type & geom::TransformRotate)
        return affine3(m, p);
    if (type & geom::TransformScale)
        return scale3(m, p);
    return translate3(m, p);
}

inline Point3Df full3(const float *m, bool projective, const Point3Df &p)
{
    return projective ? projective3(m, p) : affine3(m, p);
}

// The same comparisons as Bounds2Df/Bounds3Df::extend, so a NaN never enters.
inline void lower(float &bound, float v)
{
    if (bound > v)
        bound = v;
}

inline void raise(float &bound, float v)
{
    if (v > bound)
        bound = v;
}

#ifdef UTILTX_SSE

// Four 2D points from two exact loads; never reads beyond the fourth point.
struct Affine2Lanes
{
    __m128 a, b, t;

    explicit Affine2Lanes(const float *m)
        : a(_mm_setr_ps(m[0], m[1], m[0], m[1])), b(_mm_setr_ps(m[3], m[4], m[3], m[4])),
          t(_mm_setr_ps(m[6], m[7], m[6], m[7]))
    {
    }

    // Two points (x0 y0 x1 y1) in, two mapped points out.
    __m128 map(__m128 p) const
    {
        const __m128 xx = _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 2, 0, 0));
        const __m128 yy = _mm_shuffle_ps(p, p, _MM_SHUFFLE(3, 3, 1, 1));
        return _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, xx), _mm_mul_ps(b, yy)), t);
    }
};

// A 3D point is loaded as its own three floats (x, y, z, 0) and stored back as
// three floats, so neither the last point of an array nor the point after a
// destination element is ever touched.
inline __m128 load3(const Point3Df &p)
{
    const __m128 xy = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64 *>(&p.x));
    return _mm_movelh_ps(xy, _mm_load_ss(&p.z));
}

inline void store3(Point3Df &p, __m128 v)
{
    _mm_storel_pi(reinterpret_cast<__m64 *>(&p.x), v);
    _mm_store_ss(&p.z, _mm_movehl_ps(v, v));
}

struct Matrix3Lanes
{
    __m128 c0, c1, c2, c3;
    bool projective;

    Matrix3Lanes(const float *m, bool proj)
        : c0(_mm_loadu_ps(m)), c1(_mm_loadu_ps(m + 4)), c2(_mm_loadu_ps(m + 8)), c3(_mm_loadu_ps(m + 12)),
          projective(proj)
    {
    }

    // Lanes 0-2 the mapped point, lane 3 its w.
    __m128 map(__m128 p) const
    {
        const __m128 x = _mm_shuffle_ps(p, p, _MM_SHUFFLE(0, 0, 0, 0));
        const __m128 y = _mm_shuffle_ps(p, p, _MM_SHUFFLE(1, 1, 1, 1));
        const __m128 z = _mm_shuffle_ps(p, p, _MM_SHUFFLE(2, 2, 2, 2));
        __m128 r = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(c0, x), _mm_mul_ps(c1, y)), _mm_mul_ps(c2, z)), c3);
        if (projective)
            r = _mm_div_ps(r, _mm_shuffle_ps(r, r, _MM_SHUFFLE(3, 3, 3, 3)));
        return r;
    }
};

#endif // UTILTX_SSE

// How many leading points of an array of count the 3D vector path takes: never
// the last one, so the scalar path always has one to four points to finish.
inline int vectorPart3D(int count)
{
    return count >= 5 ? ((count - 1) / 4) * 4 : 0;
}

// Maps count points of src through m (full formula, divided by w when
// projective). With dst, the results are written there; with box, the box is
// grown by them.
void mapFull3D(Point3Df *dst, const float *m, bool projective, const Point3Df *src, int count, Bounds3Df *box)
{
    int i = 0;
#ifdef UTILTX_SSE
    const int vectorCount = vectorPart3D(count);
    if (vectorCount > 0) {
        const Matrix3Lanes lanes(m, projective);
        __m128 mn = _mm_set1_ps(FLT_MAX);
        __m128 mx = _mm_set1_ps(-FLT_MAX);
        for (; i < vectorCount; ++i) {
            const __m128 r = lanes.map(load3(src[i]));
            if (dst)
                store3(dst[i], r);
            // min/max return their second operand for a NaN lane.
            mn = _mm_min_ps(r, mn);
            mx = _mm_max_ps(r, mx);
        }
        if (box) {
            float lo[4], hi[4];
            _mm_storeu_ps(lo, mn);
            _mm_storeu_ps(hi, mx);
            lower(box->minX, lo[0]);
            lower(box->minY, lo[1]);
            lower(box->minZ, lo[2]);
            raise(box->maxX, hi[0]);
            raise(box->maxY, hi[1]);
            raise(box->maxZ, hi[2]);
        }
    }
#endif
    for (; i < count; ++i) {
        const Point3Df p = full3(m, projective, src[i]);
        if (dst)
            dst[i] = p;
        if (box)
            box->extend(p);
    }
}

} // namespace

namespace geom {

Transform2Df::Transform2Df() : m{1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f} {}

Transform2Df::Transform2Df(const QTransform &t)
    : m{float(t.m11()), float(t.m12()), float(t.m13()), float(t.m21()), float(t.m22()),
        float(t.m23()), float(t.dx()),  float(t.dy()),  float(t.m33())}
{
}

int Transform2Df::classify(const float *m)
{
    int type = 0;
    if (!isOne(m[0]))
        type |= TransformScale;
    if (!isZero(m[3]) || !isZero(m[1]))
        type |= TransformRotate;
    if (!isZero(m[6]))
        type |= TransformTranslate;
    if (!(type & TransformScale) && !isOne(m[4]))
        type |= TransformScale;
    if (!(type & TransformTranslate) && !isZero(m[7]))
        type |= TransformTranslate;
    if (!isZero(m[2]) || !isZero(m[5]) || !isOne(m[8]))
        type |= TransformProjective;
    return type;
}

Transform3Df::Transform3Df() : m{}
{
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}

Transform3Df::Transform3Df(const QMatrix4x4 &matrix)
{
    const auto *data = matrix.constData();
    for (int i = 0; i < 16; ++i)
        m[i] = float(data[i]);
}

int Transform3Df::classify(const float *m)
{
    int type = 0;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const float a = m[4 * c + r];
            if (r == c) {
                if (!(type & TransformScale) && !isOne(a))
                    type |= TransformScale;
            } else if (!(type & TransformRotate) && !isZero(a)) {
                type |= TransformRotate;
            }
        }
        if (!(type & TransformTranslate) && !isZero(m[12 + r]))
            type |= TransformTranslate;
    }
    if (!isZero(m[3]) || !isZero(m[7]) || !isZero(m[11]) || !isOne(m[15]))
        type |= TransformProjective;
    return type;
}

int Transform3Dd::classify(const double *m)
{
    float f[16];
    for (int i = 0; i < 16; ++i)
        f[i] = float(m[i]);
    return Transform3Df::classify(f);
}

} // namespace geom

namespace utilTX {

int type2D(const QTransform &t)
{
    if (t.type() == QTransform::TxNone)
        return 0;
    return geom::Transform2Df(t).classify();
}

int type3D(const QMatrix4x4 &m)
{
    // isIdentity() trusts the matrix's own flags before it compares entries.
    if (m.isIdentity())
        return 0;
    return geom::Transform3Df(m).classify();
}

Point2Df mapPoint2Df(const Point2Df &p, const QTransform &t, int type)
{
    if (type < 0)
        type = type2D(t);
    if (type == 0)
        return p;
    return map2ByType(geom::Transform2Df(t).m, type, p);
}

Point3Df mapPoint3Df(const Point3Df &p, const QMatrix4x4 &m, int type)
{
    if (type < 0)
        type = type3D(m);
    if (type == 0)
        return p;
    return map3ByType(geom::Transform3Df(m).m, type, p);
}

Point2Df *map2DfArray(Point2Df *dst, const QTransform &t, const Point2Df *src, int count)
{
    if (!dst || !src || count <= 0)
        return dst;
    const int type = type2D(t);
    if (type == 0) {
        if (dst != src)
            std::memmove(dst, src, size_t(count) * sizeof(Point2Df));
        return dst;
    }
    const geom::Transform2Df tx(t);
    for (int i = 0; i < count; ++i)
        dst[i] = map2ByType(tx.m, type, src[i]);
    return dst;
}

Point2Df *map2Df(Point2Df *dst, const QTransform &t, const Point2Df *src, int count)
{
    if (!dst || !src || count <= 0)
        return dst;
    const geom::Transform2Df tx(t);
    if (tx.classify() & geom::TransformProjective) {
        qWarning("utilTX:map2Df SSE Shear transform not implemented");
        return map2DfArray(dst, t, src, count);
    }
    int i = 0;
#ifdef UTILTX_SSE
    const Affine2Lanes lanes(tx.m);
    for (; i + 4 <= count; i += 4) {
        const float *s = &src[i].x;
        const __m128 p0 = _mm_loadu_ps(s);
        const __m128 p1 = _mm_loadu_ps(s + 4);
        float *d = &dst[i].x;
        _mm_storeu_ps(d, lanes.map(p0));
        _mm_storeu_ps(d + 4, lanes.map(p1));
    }
#endif
    for (; i < count; ++i)
        dst[i] = affine2(tx.m, src[i]);
    return dst;
}

Bounds2Df mapBounds2Df(const QTransform &t, const Point2Df *src, int count)
{
    Bounds2Df box;
    if (!src || count <= 0)
        return box;
    const geom::Transform2Df tx(t);
    if (tx.classify() & geom::TransformProjective) {
        qCritical("utilTX:mapBounds2Df SSE Shear transform not implemented");
        for (int i = 0; i < count; ++i)
            box.extend(projective2(tx.m, src[i]));
        return box;
    }
    int i = 0;
#ifdef UTILTX_SSE
    if (count >= 4) {
        const Affine2Lanes lanes(tx.m);
        __m128 mn = _mm_set1_ps(FLT_MAX);
        __m128 mx = _mm_set1_ps(-FLT_MAX);
        for (; i + 4 <= count; i += 4) {
            const float *s = &src[i].x;
            const __m128 r0 = lanes.map(_mm_loadu_ps(s));
            const __m128 r1 = lanes.map(_mm_loadu_ps(s + 4));
            mn = _mm_min_ps(r1, _mm_min_ps(r0, mn));
            mx = _mm_max_ps(r1, _mm_max_ps(r0, mx));
        }
        float lo[4], hi[4];
        _mm_storeu_ps(lo, mn);
        _mm_storeu_ps(hi, mx);
        box.minX = std::fmin(lo[0], lo[2]);
        box.minY = std::fmin(lo[1], lo[3]);
        box.maxX = std::fmax(hi[0], hi[2]);
        box.maxY = std::fmax(hi[1], hi[3]);
    }
#endif
    for (; i < count; ++i)
        box.extend(affine2(tx.m, src[i]));
    return box;
}

Point3Df *map3DfArray(Point3Df *dst, const QMatrix4x4 &m, const Point3Df *src, int count, Bounds3Df *box)
{
    if (!dst || !src || count <= 0)
        return dst;
    const int type = type3D(m);
    if (type == 0) {
        if (dst != src)
            std::memmove(dst, src, size_t(count) * sizeof(Point3Df));
    } else {
        const geom::Transform3Df tx(m);
        for (int i = 0; i < count; ++i)
            dst[i] = map3ByType(tx.m, type, src[i]);
    }
    if (box)
        box->extend(dst, count);
    return dst;
}

Point3Df *map3Df(Point3Df *dst, const QMatrix4x4 &m, const Point3Df *src, int count, Bounds3Df *box)
{
    if (!dst || !src || count <= 0)
        return dst;
    const geom::Transform3Df tx(m);
    mapFull3D(dst, tx.m, tx.classify() & geom::TransformProjective, src, count, box);
    return dst;
}

Bounds3Df mapBounds3Df(const QMatrix4x4 &m, const Point3Df *src, int count)
{
    Bounds3Df box;
    if (!src || count <= 0)
        return box;
    const geom::Transform3Df tx(m);
    mapFull3D(nullptr, tx.m, tx.classify() & geom::TransformProjective, src, count, &box);
    return box;
}

} // namespace utilTX
