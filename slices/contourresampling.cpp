// Contour members that rebuild the vertex list: resampling, smoothing and
// mapping through a transform.

#include "contour.h"

#include "utiltx.h"

#include <QTransform>

#include <cmath>
#include <utility>

namespace {

using geom::Point2Df;

const float shortEdge = 1e-5f;

// The number of pieces an edge of length len is cut into: the smallest power
// of two that brings a piece to at most step, capped at the smallest power of
// two not below maxDivisions. Counted in 64 bits, so no cap can wrap it.
qint64 subdivisions(float len, double step, uint maxDivisions)
{
    qint64 k = 1;
    if (double(len) > step && maxDivisions > 1) {
        do {
            k *= 2;
        } while (!(double(len / float(k)) <= step) && k < qint64(maxDivisions));
    }
    return k;
}

Point2Df unitDirection(const Point2Df &d, float len)
{
    return Point2Df(d.x / len, d.y / len);
}

} // namespace

void Contour::resample(double step, uint maxDivisions)
{
    const int n = m_points.size();
    // A step that is not positive (or NaN) never moves along the perimeter.
    if (n == 0 || !(step > 0.0))
        return;
    const Point2Df *old = m_points.constData();

    // How many points the new list will have, at most, counted before anything
    // is allocated: a tiny step on a long contour must not exhaust memory.
    double expected;
    if (maxDivisions == 0) {
        update();
        if (step > m_length) {
            m_points.clear();
            invalidate();
            return;
        }
        expected = m_length / step + double(n) + 1.0;
    } else {
        qint64 total = 1;
        Point2Df prev = old[n - 1];
        for (int i = 0; i < n; ++i) {
            const Point2Df d = old[i] - prev;
            const float len = float(d.length());
            prev = old[i];
            if (len < shortEdge)
                continue;
            total += subdivisions(len, step, maxDivisions);
            if (total > maxResamplePoints)
                return;
        }
        expected = double(total);
    }
    if (!(expected <= double(maxResamplePoints)))
        return;

    QVector<Point2Df> out;
    out.reserve(int(expected));
    out.append(old[n - 1]);
    const float stepF = float(step);
    float remaining = stepF;
    Point2Df prev = old[n - 1];
    for (int i = 0; i < n; ++i) {
        const Point2Df cur = old[i];
        const Point2Df d = cur - prev;
        const float len = float(d.length());
        const Point2Df start = prev;
        prev = cur;
        if (len < shortEdge)
            continue;
        const Point2Df dir = unitDirection(d, len);
        if (maxDivisions == 0) {
            Point2Df s = start;
            float rest;
            if (double(remaining) < step) {
                // A spacing begun on earlier edges is still pending.
                if (len <= remaining) {
                    remaining -= len;
                    continue;
                }
                s += dir * remaining;
                out.append(s);
                rest = len - remaining;
                remaining = stepF;
            } else {
                rest = len;
            }
            while (double(rest) > step) {
                s += dir * stepF;
                out.append(s);
                const float next = float(double(rest) - step);
                // In float a step below half an ulp of the rest never shortens
                // it: give up rather than loop for ever.
                if (!(next < rest))
                    return;
                rest = next;
            }
            if (std::fabs(float(double(rest) - step)) <= shortEdge)
                out.append(cur);
            else
                remaining = float(step - double(rest));
        } else {
            const qint64 k = subdivisions(len, step, maxDivisions);
            const float seg = len / float(k);
            for (qint64 j = 1; j < k; ++j)
                out.append(start + dir * (float(j) * seg));
            out.append(cur);
        }
    }
    const Point2Df first = out.constFirst();
    const Point2Df last = out.constLast();
    if (std::fabs(first.x - last.x) <= shortEdge && std::fabs(first.y - last.y) <= shortEdge)
        out.removeLast();
    m_points = std::move(out);
    invalidate();
}

Contour Contour::resampled(double step, uint maxDivisions) const
{
    Contour copy(*this);
    copy.resample(step, maxDivisions);
    return copy;
}

void Contour::smooth(int radius, double decay)
{
    if (radius < 1)
        return;
    invalidate();
    const int n = m_points.size();
    // Compared in 64 bits: radius + 1 must not wrap for a huge radius.
    if (qint64(n) <= qint64(radius) + 1) {
        m_points.clear();
        return;
    }
    // From here radius < n - 1, so every index below stays in range.
    QVector<double> weights(radius + 1);
    weights[0] = 1.0;
    double total = 1.0;
    for (int j = 1; j <= radius; ++j) {
        const double e = std::exp(-double(j) * decay / double(radius));
        total += e;
        weights[j] = e / 2.0;
    }
    QVector<float> w(radius + 1);
    for (int j = 0; j <= radius; ++j)
        w[j] = float(weights.at(j) / total);

    const QVector<Point2Df> old = m_points;
    const Point2Df *p = old.constData();
    Point2Df *dst = m_points.data();
    for (int i = 0; i < n; ++i) {
        Point2Df sum = p[i] * w.at(0);
        for (int j = 1; j <= radius; ++j) {
            sum += p[(i - j + n) % n] * w.at(j);
            sum += p[(i + j) % n] * w.at(j);
        }
        dst[i] = sum;
    }
}

Contour Contour::map(const QTransform &transform, bool warnProjective) const
{
    QVector<Point2Df> points(m_points.size());
    if (!m_points.isEmpty()) {
        if (warnProjective)
            utilTX::map2Df(points.data(), transform, m_points.constData(), m_points.size());
        else
            utilTX::map2DfArray(points.data(), transform, m_points.constData(), m_points.size());
    }
    Contour mapped(std::move(points));
    for (const Contour &child : children())
        mapped.addChild(child.map(transform, warnProjective));
    return mapped;
}
