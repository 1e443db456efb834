#ifndef RANDOMSTACKS_H
#define RANDOMSTACKS_H

// Seeded stacks of slices with the troubles of real slicer and scanner files,
// many at once: noisy outlines resampled on every layer (their own vertex
// count and start), twisting; islands that follow the outline at gaps from
// nothing to a few hundredths of a millimetre; holes close to the outer
// contour, crescent sliver holes, holes with ring islands inside; blocks a
// hair apart; uneven gaps between layers and missing layers; parts up to
// 300 mm from the origin; optionally stored in inches (coordinates that are
// not round in millimetres once read back).

#include "contour.h"
#include "point2d.h"
#include "slice.h"
#include "stltestutil.h"

#include <QList>
#include <QVector>

#include <cmath>
#include <cstdint>

namespace stltest {

// A small generator whose numbers are the same with every compiler and
// library (the standard distributions are not).
class SeededRandom
{
public:
    explicit SeededRandom(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL) {}

    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // In [0, 1).
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int integer(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    bool chance(double p) { return uniform() < p; }
    // Mostly tiny: a gap or a width spread evenly over its decades.
    double decades(double lo, double hi) { return lo * std::pow(hi / lo, uniform()); }

private:
    uint64_t m_state;
};

struct RandomStackOptions
{
    bool inch = false;
};

// The stack of the seed, and the thickness of three of its layers on average.
inline QList<Slice> randomStack(uint64_t seed, const RandomStackOptions &options = {}, float *threeLayers = nullptr)
{
    SeededRandom r(seed);
    const double distance = r.chance(0.25) ? r.uniform(0.0, 20.0) : r.uniform(20.0, 300.0);
    const double direction = r.uniform(0.0, 2.0 * M_PI);
    const double cx = distance * std::cos(direction), cy = distance * std::sin(direction);
    const double radius = r.uniform(4.0, 30.0);
    const int layerCount = r.integer(8, 30);
    const double step = r.uniform(0.05, 0.3);
    const bool uneven = r.chance(0.4);
    const double twist = r.uniform(-0.05, 0.05);
    const int lobes = r.integer(2, 9);
    const double lobeDepth = r.uniform(0.0, 0.25);
    const double noise = r.chance(0.5) ? r.decades(1e-5, 5e-3) : 0.0;

    // What the part has besides its outline.
    const bool followers = r.chance(0.5);
    const bool innerFollowers = r.chance(0.4);
    const bool crescent = r.chance(0.3);
    const bool ringHole = r.chance(0.4);
    const bool blocks = r.chance(0.4);
    const double followGap = r.chance(0.3) ? 0.0 : r.decades(1e-7, 0.03);
    const double crescentWidth = r.decades(1e-5, 0.01);
    const double blockGap = r.chance(0.3) ? 0.0 : r.decades(1e-7, 1e-3);
    const double ringGap = r.chance(0.3) ? 0.0 : r.decades(1e-7, 0.02);

    auto stored = [&](double x, double y) {
        return options.inch ? throughInches(x, y) : geom::Point2Df(float(x), float(y));
    };
    auto outlineRadius = [&](double a, double layer) {
        return radius * (1.0 + lobeDepth * std::sin(lobes * (a + twist * layer)) + 0.05 * std::sin(3.0 * a + 0.3 * layer));
    };

    QList<Slice> slices;
    double z = r.uniform(-5.0, 20.0);
    double spacing = 0;
    for (int layer = 0; layer < layerCount; ++layer) {
        QVector<Contour> contours;
        const double t = layer;
        const double scale = 1.0 + 0.02 * std::sin(0.7 * t);
        // The outer contour, resampled on every layer.
        const int n = r.integer(24, 160);
        const double start = r.uniform(0.0, 2.0 * M_PI);
        QVector<geom::Point2Df> outer;
        for (int i = 0; i < n; ++i) {
            const double a = start + 2.0 * M_PI * i / n;
            const double rr = scale * outlineRadius(a, t) + (noise > 0 ? r.uniform(-noise, noise) : 0.0);
            outer.append(stored(cx + rr * std::cos(a), cy + rr * std::sin(a)));
        }
        contours.append(Contour(outer));

        // An arc band that follows the outline outside (an island) or inside
        // (a hole), gap away from it.
        auto follower = [&](bool inside, double from, double to, double gap, double width) {
            const int m = r.integer(6, 40);
            QVector<geom::Point2Df> near, far;
            for (int i = 0; i <= m; ++i) {
                const double a = from + (to - from) * i / m;
                const double edge = scale * outlineRadius(a, t);
                const double r0 = inside ? edge - gap : edge + gap;
                const double r1 = inside ? r0 - width : r0 + width;
                near.append(stored(cx + r0 * std::cos(a), cy + r0 * std::sin(a)));
                far.append(stored(cx + r1 * std::cos(a), cy + r1 * std::sin(a)));
            }
            QVector<geom::Point2Df> band;
            // Outside: counter-clockwise (an island); inside: clockwise (a hole).
            if (inside) {
                for (int i = near.size() - 1; i >= 0; --i)
                    band.append(near[i]);
                for (const geom::Point2Df &p : far)
                    band.append(p);
            } else {
                for (const geom::Point2Df &p : far)
                    band.append(p);
                for (int i = near.size() - 1; i >= 0; --i)
                    band.append(near[i]);
            }
            contours.append(Contour(band));
        };
        if (followers && r.chance(0.85)) {
            const double from = r.uniform(0.0, 2.0 * M_PI);
            follower(false, from, from + r.uniform(0.1, 1.0), followGap * r.uniform(0.5, 1.5), r.uniform(0.05, 2.0));
        }
        if (innerFollowers && r.chance(0.85)) {
            const double from = r.uniform(0.0, 2.0 * M_PI);
            follower(true, from, from + r.uniform(0.1, 1.0), followGap * r.uniform(0.5, 1.5) + r.decades(1e-6, 0.2),
                     r.uniform(0.01, 1.0));
        }
        if (crescent && r.chance(0.9)) {
            // A crescent hole: two arcs of nearly one circle, width apart at
            // the middle and meeting at the tips.
            const double a0 = r.uniform(0.0, 2.0 * M_PI);
            const double rc = 0.6 * radius + r.uniform(-0.01, 0.01);
            const double span = r.uniform(0.05, 0.5);
            const int m = r.integer(8, 30);
            QVector<geom::Point2Df> hole;
            for (int i = 0; i <= m; ++i) {
                const double a = a0 + span * i / m;
                hole.append(stored(cx + rc * std::cos(a), cy + rc * std::sin(a)));
            }
            for (int i = m - 1; i >= 1; --i) {
                const double a = a0 + span * i / m;
                const double w = crescentWidth * std::sin(M_PI * i / m) * r.uniform(0.7, 1.3);
                hole.append(stored(cx + (rc - w) * std::cos(a), cy + (rc - w) * std::sin(a)));
            }
            // The arcs run counter-clockwise outside: reversed, a hole.
            QVector<geom::Point2Df> reversed(hole.rbegin(), hole.rend());
            contours.append(Contour(reversed));
        }
        if (ringHole) {
            // A round hole with a ring island inside, ringGap from its edge.
            const double hx = cx + 0.3 * radius, hy = cy - 0.2 * radius, hr = 0.2 * radius;
            const int m = r.integer(12, 60);
            const double s0 = r.uniform(0.0, 2.0 * M_PI);
            QVector<geom::Point2Df> hole, ringOut, ringIn;
            for (int i = 0; i < m; ++i) {
                const double a = s0 - 2.0 * M_PI * i / m;
                hole.append(stored(hx + hr * std::cos(a), hy + hr * std::sin(a)));
            }
            const double ro = hr - ringGap, ri = ro - r.uniform(0.02, 0.3 * hr);
            for (int i = 0; i < m; ++i) {
                const double a = s0 + 2.0 * M_PI * i / m;
                ringOut.append(stored(hx + ro * std::cos(a), hy + ro * std::sin(a)));
                ringIn.append(stored(hx + ri * std::cos(-a), hy + ri * std::sin(-a)));
            }
            contours.append(Contour(hole));
            contours.append(Contour(ringOut));
            if (ri > 0.05)
                contours.append(Contour(ringIn));
        }
        if (blocks) {
            // Two blocks beside the part, blockGap apart, one a little
            // turned on some layers.
            const double bx = cx + 1.6 * radius, by = cy + r.uniform(-0.01, 0.01);
            const double w = 2.0, h = 1.5 + 0.1 * std::sin(t);
            const double lean = r.chance(0.5) ? r.decades(1e-7, 1e-3) : 0.0;
            contours.append(Contour(QVector<geom::Point2Df>{stored(bx, by), stored(bx + w, by), stored(bx + w, by + h),
                                                            stored(bx, by + h)}));
            const double x0 = bx + w + blockGap;
            contours.append(Contour(QVector<geom::Point2Df>{stored(x0, by + 0.3), stored(x0 + w, by + 0.3),
                                                            stored(x0 + w, by + h + 0.4), stored(x0 + lean, by + h + 0.4)}));
        }

        double gap = step;
        if (uneven)
            gap = r.chance(0.5) ? step : step * r.uniform(0.3, 2.5);
        if (r.chance(0.1))
            gap *= 2.0; // a missing layer
        slices.append(Slice(float(z), float(gap), contours));
        spacing += gap;
        z += gap;
    }
    if (threeLayers)
        *threeLayers = float(3.0 * spacing / layerCount);
    return slices;
}

} // namespace stltest

#endif // RANDOMSTACKS_H
