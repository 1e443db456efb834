#ifndef GEOM_BANDS_P_H
#define GEOM_BANDS_P_H

#include "stllayerbuilder.h"

#include <algorithm>
#include <vector>

namespace geom {

// The GLU tessellator spends time in proportion to the number of edges that
// span the x of each vertex it sweeps over, so two long outlines with many
// short edges stacked in x (teeth, scan noise, a twisting part) cost time
// quadratic in their length. Such faces are tessellated in vertical bands of
// a few dozen vertices each; the points where outline edges cross a band line
// become vertices of the faces, which are merged out of them afterwards
// wherever the faces allow (see mergeBandPoints), so that they split no wall.
// Smooth outlines, which GLU sweeps in linear time, get one band.
class Bands
{
public:
    // The band lines, ascending; band i lies between lines[i - 1] and
    // lines[i]. No lines: one band.
    std::vector<double> lines;

    static Bands forPlane(const StlLayer &lower, const StlLayer &upper);

    bool active() const { return !lines.empty(); }

    int bandOf(double x) const { return int(std::upper_bound(lines.begin(), lines.end(), x) - lines.begin()); }

    // The line on the left of band k (k from 1 to the number of lines).
    double line(int k) const { return lines[size_t(k - 1)]; }
};

} // namespace geom

#endif // GEOM_BANDS_P_H
