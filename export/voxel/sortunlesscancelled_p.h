#ifndef GEOM_SORTUNLESSCANCELLED_P_H
#define GEOM_SORTUNLESSCANCELLED_P_H

#include "releaselater_p.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace geom {

// Ranges up to this size are sorted in one std::sort call (some ten
// milliseconds of work), longer ones in pieces of it.
constexpr size_t sortPieceSize = size_t(1) << 17;

// std::sort in pieces, so that a cancel is seen between them: a group of a
// few million facets took most of a second to sort in one call. Pieces are
// sorted and then merged pairwise, each merge through a copy of the shorter
// of its two runs (as std::inplace_merge does, so the extra memory stays
// what it was) and looking at the flag every so many elements: the last
// merge of a large group alone took a tenth of a second. No two elements may
// be equivalent, so the result is the one std::sort gives. Without a flag,
// one std::sort. False when the cancel came first; the elements are then in
// no particular order, and some may be lost.
template<typename T>
bool sortUnlessCancelled(T *data, size_t n, const std::atomic<bool> *cancel)
{
    if (!cancel || n <= sortPieceSize) {
        std::sort(data, data + n);
        return true;
    }
    for (size_t begin = 0; begin < n; begin += sortPieceSize) {
        if (cancel->load())
            return false;
        std::sort(data + begin, data + std::min(begin + sortPieceSize, n));
    }
    // Room for the longest copy at once: one block, given back whole,
    // instead of a growing one that leaves its smaller blocks in the heap.
    size_t longest = 0;
    for (size_t width = sortPieceSize; width < n; width *= 2) {
        for (size_t begin = 0; begin + width < n; begin += 2 * width)
            longest = std::max(longest, std::min(width, n - begin - width));
    }
    std::vector<T> copy;
    copy.reserve(longest);
    const size_t stride = size_t(1) << 16;
    for (size_t width = sortPieceSize; width < n; width *= 2) {
        for (size_t begin = 0; begin + width < n; begin += 2 * width) {
            T *const left = data + begin;
            T *const middle = left + width;
            T *const right = data + std::min(begin + 2 * width, n);
            size_t written = 0;
            if (right - middle >= middle - left) {
                // Forwards through a copy of the first run; writing never
                // overtakes reading in the second, and what is left of it at
                // the end is in place already.
                copy.assign(left, middle);
                const T *a = copy.data();
                const T *const aEnd = a + copy.size();
                const T *b = middle;
                for (T *out = left; a != aEnd; ++out) {
                    if (++written % stride == 0 && cancel->load()) {
                        releaseLater(copy);
                        return false;
                    }
                    *out = b != right && *b < *a ? *b++ : *a++;
                }
            } else {
                // Backwards through a copy of the second run, likewise.
                copy.assign(middle, right);
                const T *const bBegin = copy.data();
                const T *b = bBegin + copy.size();
                const T *a = middle;
                for (T *out = right; b != bBegin;) {
                    if (++written % stride == 0 && cancel->load()) {
                        releaseLater(copy);
                        return false;
                    }
                    *--out = a != left && *(b - 1) < *(a - 1) ? *--a : *--b;
                }
            }
        }
    }
    return true;
}

} // namespace geom

#endif // GEOM_SORTUNLESSCANCELLED_P_H
