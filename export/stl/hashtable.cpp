#include "hashtable_p.h"

#include <algorithm>

namespace geom {

void HashTable::reset(size_t expected)
{
    size_t size = 64;
    while (size < 2 * expected)
        size *= 2;
    // A table up to four times the size is kept rather than made anew.
    if (m_slots.size() < size || m_slots.size() > 4 * size)
        m_slots.assign(size, Slot{freeKey, -1});
    else
        std::fill(m_slots.begin(), m_slots.end(), Slot{freeKey, -1});
    m_used = 0;
}

void HashTable::grow()
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(std::max<size_t>(64, old.size() * 2), Slot{freeKey, -1});
    m_used = 0;
    for (const Slot &s : old) {
        if (s.key != freeKey)
            insert(s.key, s.value, true);
    }
}

} // namespace geom
