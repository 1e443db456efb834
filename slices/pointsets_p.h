#ifndef SLICES_POINTSETS_P_H
#define SLICES_POINTSETS_P_H

// Walks over two sorted point sets side by side; not part of the folder's
// interface.

#include "contour.h"

namespace pointsets {

// The number of points in both sets; stops at the first one when firstOnly.
inline int commonCount(const Contour::PointSet &a, const Contour::PointSet &b, bool firstOnly = false)
{
    const Contour::PointLess less;
    int common = 0;
    auto i = a.cbegin();
    auto j = b.cbegin();
    while (i != a.cend() && j != b.cend()) {
        if (less(*i, *j)) {
            ++i;
        } else if (less(*j, *i)) {
            ++j;
        } else {
            ++common;
            if (firstOnly)
                break;
            ++i;
            ++j;
        }
    }
    return common;
}

// -1 / 1 when a has fewer / more points than b, else the number of points in
// only one of them.
inline int compare(const Contour::PointSet &a, const Contour::PointSet &b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return int(a.size() + b.size()) - 2 * commonCount(a, b);
}

} // namespace pointsets

#endif // SLICES_POINTSETS_P_H
