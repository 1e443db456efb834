#ifndef FINITEFLOATS_P_H
#define FINITEFLOATS_P_H

#include <QtGlobal>

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Whether every one of count floats is finite: the reader refuses a file with
// a non-finite coordinate, and the writer refuses to write one.
inline bool allFinite(const float *values, qint64 count)
{
    qint64 i = 0;
#if defined(__SSE2__)
    // x * 0 is a zero for every finite x and NaN otherwise; OR-ing the
    // products leaves an all-ones exponent in some lane exactly when one was NaN.
    const __m128 zero = _mm_setzero_ps();
    __m128 a = zero, b = zero, c = zero, d = zero;
    for (; i + 16 <= count; i += 16) {
        a = _mm_or_ps(a, _mm_mul_ps(_mm_loadu_ps(values + i), zero));
        b = _mm_or_ps(b, _mm_mul_ps(_mm_loadu_ps(values + i + 4), zero));
        c = _mm_or_ps(c, _mm_mul_ps(_mm_loadu_ps(values + i + 8), zero));
        d = _mm_or_ps(d, _mm_mul_ps(_mm_loadu_ps(values + i + 12), zero));
    }
    const __m128i exponent = _mm_set1_epi32(0x7F800000);
    const __m128i all = _mm_castps_si128(_mm_or_ps(_mm_or_ps(a, b), _mm_or_ps(c, d)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(all, exponent), exponent)) != 0)
        return false;
#endif
    for (; i < count; ++i) {
        if (!std::isfinite(values[i]))
            return false;
    }
    return true;
}

#endif // FINITEFLOATS_P_H
