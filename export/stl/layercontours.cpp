#include "layercontours_p.h"

#include <algorithm>

namespace geom {

namespace {

// Appends p to the loop, preceded by the points where the edge from the
// loop's last point crosses band lines.
void appendSplit(QVector<double> &loop, const Bands &bands, double x, double y)
{
    if (bands.active() && !loop.isEmpty()) {
        const double px = loop[loop.size() - 2], py = loop[loop.size() - 1];
        const int a = bands.bandOf(px), b = bands.bandOf(x);
        if (a != b) {
            const int step = b > a ? 1 : -1;
            // Moving right the lines a+1..b lie between, moving left a..b+1.
            for (int k = step > 0 ? a + 1 : a; step > 0 ? k <= b : k > b; k += step) {
                const double lx = bands.line(k);
                if (lx == px || lx == x)
                    continue;
                loop.append(lx);
                loop.append(py + (lx - px) * (y - py) / (x - px));
            }
        }
    }
    loop.append(x);
    loop.append(y);
}

// Divides the loops among the bands: the edges of a loop inside one band form
// chains from band line to band line; a band's chains of one loop, joined in
// loop order, make its piece of that loop (the joins run along the band
// lines, where the excursions outside the band left and re-entered it).
void buildPieces(LayerContours &layer, const Bands &bands)
{
    struct Chain
    {
        int band, loop, first, length; // first and length in points
    };
    QVector<Chain> chains;
    for (int l = 0; l < layer.loops.size(); ++l) {
        const QVector<double> &v = layer.loops[l];
        const int n = v.size() / 2;
        auto edgeBand = [&](int i) {
            const int j = (i + 1) % n;
            return bands.bandOf(0.5 * (v[2 * i] + v[2 * j]));
        };
        // Start at an edge that begins a chain, if the loop has more than one.
        int start = 0;
        for (int i = 0; i < n; ++i) {
            if (edgeBand(i) != edgeBand((i + n - 1) % n)) {
                start = i;
                break;
            }
        }
        for (int e = 0; e < n;) {
            const int band = edgeBand((start + e) % n);
            int length = 1;
            while (e + length < n && edgeBand((start + e + length) % n) == band)
                ++length;
            chains.append({band, l, (start + e) % n, length + 1});
            e += length;
        }
    }
    std::stable_sort(chains.begin(), chains.end(), [](const Chain &a, const Chain &b) {
        return a.band != b.band ? a.band < b.band : a.loop < b.loop;
    });
    for (int c = 0; c < chains.size();) {
        const int band = chains[c].band, loop = chains[c].loop;
        const QVector<double> &v = layer.loops[loop];
        const int n = v.size() / 2;
        const int offset = layer.bandValues.size();
        int count = 0;
        for (; c < chains.size() && chains[c].band == band && chains[c].loop == loop; ++c) {
            for (int k = 0; k < chains[c].length; ++k) {
                const int i = (chains[c].first + k) % n;
                // A chain whose first point closes the previous one adds it once.
                if (k == 0 && count > 0 && layer.bandValues[layer.bandValues.size() - 2] == v[2 * i]
                    && layer.bandValues[layer.bandValues.size() - 1] == v[2 * i + 1])
                    continue;
                layer.bandValues.append(v[2 * i]);
                layer.bandValues.append(v[2 * i + 1]);
                ++count;
            }
        }
        // A whole loop's closing point repeats its first one.
        if (count > 1 && layer.bandValues[offset] == layer.bandValues[layer.bandValues.size() - 2]
            && layer.bandValues[offset + 1] == layer.bandValues[layer.bandValues.size() - 1]) {
            layer.bandValues.resize(layer.bandValues.size() - 2);
            --count;
        }
        if (count >= 3)
            layer.pieces.append({band, offset, count});
        else
            layer.bandValues.resize(offset);
    }
}

} // namespace

LayerContours LayerContours::of(const StlLayer &layer, const Bands &bands)
{
    LayerContours pieces;
    pieces.loops.reserve(layer.loops.size());
    for (const QVector<double> &loop : layer.loops) {
        if (!bands.active()) {
            pieces.loops.append(loop);
            continue;
        }
        const int n = loop.size() / 2;
        QVector<double> values;
        values.reserve(loop.size() + 16);
        for (int i = 0; i < n; ++i)
            appendSplit(values, bands, loop[2 * i], loop[2 * i + 1]);
        // The closing edge, from the last point back to the first.
        QVector<double> closing;
        closing.append(values[values.size() - 2]);
        closing.append(values[values.size() - 1]);
        appendSplit(closing, bands, values[0], values[1]);
        for (int k = 2; k + 2 < closing.size(); ++k)
            values.append(closing[k]);
        pieces.loops.append(values);
    }
    buildPieces(pieces, bands);
    return pieces;
}

} // namespace geom
