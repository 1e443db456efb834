#ifndef GEOM_HASHTABLE_P_H
#define GEOM_HASHTABLE_P_H

#include "point2d.h"

#include <QtGlobal>

#include <cstring>
#include <vector>

namespace geom {

// Hash tables with open addressing for the faces of one pair of layers, kept
// from pair to pair. Keys are 64-bit; the all-ones key marks a free slot (it
// is no pair of vertex numbers and no pair of finite floats).
class HashTable
{
public:
    static constexpr quint64 freeKey = ~quint64(0);

    void reset(size_t expected);

    // The value of the key, or -1.
    int find(quint64 key) const
    {
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (m_slots[i].key == key)
                return m_slots[i].value;
            if (m_slots[i].key == freeKey)
                return -1;
        }
    }

    // The value of the key, set to value first when the key is new.
    int insert(quint64 key, int value, bool overwrite)
    {
        if (2 * (m_used + 1) > m_slots.size())
            grow();
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask) {
            if (m_slots[i].key == key) {
                if (overwrite)
                    m_slots[i].value = value;
                return m_slots[i].value;
            }
            if (m_slots[i].key == freeKey) {
                m_slots[i] = {key, value};
                ++m_used;
                return value;
            }
        }
    }

private:
    struct Slot
    {
        quint64 key;
        int value;
    };

    static size_t hash(quint64 key)
    {
        key ^= key >> 33;
        key *= 0xff51afd7ed558ccdULL;
        key ^= key >> 33;
        key *= 0xc4ceb9fe1a85ec53ULL;
        key ^= key >> 33;
        return size_t(key);
    }

    void grow();

    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// The key of a float point: its two coordinates' bits.
inline quint64 pointKey(const Point2Df &p)
{
    quint32 x, y;
    std::memcpy(&x, &p.x, 4);
    std::memcpy(&y, &p.y, 4);
    return (quint64(x) << 32) | y;
}

// The key of a directed edge between two vertex numbers.
inline quint64 edgeKey(int a, int b)
{
    return (quint64(quint32(a)) << 32) | quint32(b);
}

} // namespace geom

#endif // GEOM_HASHTABLE_P_H
