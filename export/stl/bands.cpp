#include "bands_p.h"

#include <array>
#include <cmath>
#include <limits>

namespace geom {

Bands Bands::forPlane(const StlLayer &lower, const StlLayer &upper)
{
    constexpr int minVertices = 256;
    constexpr int buckets = 64;
    // The mean number of edges a vertex sweeps past, beyond which bands pay.
    constexpr double maxSweptEdges = 24.0;
    constexpr double targetVertices = 96.0;
    Bands bands;
    int vertices = 0;
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (const StlLayer *layer : {&lower, &upper}) {
        for (const QVector<double> &loop : layer->loops) {
            vertices += loop.size() / 2;
            for (int i = 0; i < loop.size(); i += 2) {
                lo = std::fmin(lo, loop[i]);
                hi = std::fmax(hi, loop[i]);
            }
        }
    }
    if (vertices < minVertices || !(hi > lo))
        return bands;
    const double scale = buckets / (hi - lo) * (1.0 - 1e-12);
    std::array<double, buckets> spanned{}, inside{};
    for (const StlLayer *layer : {&lower, &upper}) {
        for (const QVector<double> &loop : layer->loops) {
            const int n = loop.size() / 2;
            for (int i = 0, j = n - 1; i < n; j = i++) {
                const int a = int((loop[2 * j] - lo) * scale), b = int((loop[2 * i] - lo) * scale);
                for (int k = std::min(a, b); k <= std::max(a, b); ++k)
                    spanned[size_t(k)] += 1.0;
                inside[size_t(b)] += 1.0;
            }
        }
    }
    double swept = 0.0;
    for (int k = 0; k < buckets; ++k)
        swept += spanned[size_t(k)] * inside[size_t(k)];
    if (swept < maxSweptEdges * vertices)
        return bands;

    std::vector<double> xs;
    xs.reserve(size_t(vertices));
    for (const StlLayer *layer : {&lower, &upper}) {
        for (const QVector<double> &loop : layer->loops) {
            for (int i = 0; i < loop.size(); i += 2)
                xs.push_back(loop[i]);
        }
    }
    std::sort(xs.begin(), xs.end());
    const int n = std::min(4096, int(vertices / targetVertices));
    for (int i = 1; i < n; ++i) {
        size_t q = size_t(double(xs.size()) * i / n);
        while (q < xs.size() && xs[q] == xs[q - 1])
            ++q;
        if (q >= xs.size())
            break;
        // Between two vertices, so that no vertex lies on a line.
        const double line = 0.5 * (xs[q - 1] + xs[q]);
        if (line > xs[q - 1] && line < xs[q] && (bands.lines.empty() || line > bands.lines.back()))
            bands.lines.push_back(line);
    }
    return bands;
}

} // namespace geom
