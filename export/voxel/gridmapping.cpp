#include "gridmapping.h"

#include <algorithm>

namespace geom {

Point3Df GridMapping::map(const GridPoint &p) const
{
    qreal x;
    qreal y;
    pixelToMm.map(qreal(p.x) * 0.5, qreal(p.y) * 0.5, &x, &y);
    const int i = std::min(std::max(int(p.z) - 1, 0), zTable.size() - 1);
    return Point3Df(float(x), float(y), zTable.isEmpty() ? 0.0f : zTable.at(i));
}

Point3Df GridMapping::mapNormal(const float *normal, int z) const
{
    // Grid to millimetres is (x, y) -> A (x, y) / 2 and z through the table;
    // normals map by the inverse transpose.
    const double a = pixelToMm.m11() / 2, b = pixelToMm.m21() / 2, c = pixelToMm.m12() / 2, d = pixelToMm.m22() / 2;
    const double det = a * d - b * c;
    const int i = std::min(std::max(z - 1, 1), zTable.size() - 2);
    const double dz = i >= 1 && i + 1 < zTable.size() ? (zTable.at(i + 1) - zTable.at(i - 1)) / 2.0 : 1.0;
    if (det == 0.0 || !(dz > 0.0))
        return Point3Df(normal[0], normal[1], normal[2]);
    return Point3Df(float((d * normal[0] - c * normal[1]) / det), float((-b * normal[0] + a * normal[1]) / det),
                    float(normal[2] / dz));
}

bool GridMapping::evenGaps(int low, int high) const
{
    const int first = std::min(std::max(low - 1, 0), zTable.size() - 1);
    const int last = std::min(std::max(high - 1, 0), zTable.size() - 1);
    if (last - first < 2)
        return true; // one table step is affine by itself
    float smallest = zTable.at(first + 1) - zTable.at(first);
    float largest = smallest;
    for (int i = first + 1; i < last; ++i) {
        const float step = zTable.at(i + 1) - zTable.at(i);
        smallest = std::min(smallest, step);
        largest = std::max(largest, step);
    }
    // Heights come from float slices: equal gaps differ by their rounding.
    return largest - smallest <= 1e-3f * largest;
}

} // namespace geom
