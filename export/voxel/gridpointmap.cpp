#include "gridpointmap.h"

#include <algorithm>
#include <cstring>

namespace geom {

namespace {

// Most points of a marching-cubes surface have at most eight facets.
constexpr int firstBlock = 8;
constexpr int smallestTable = 16;

quint64 packed(const GridPoint &p)
{
    return quint64(quint16(p.x)) | quint64(quint16(p.y)) << 16 | quint64(quint16(p.z)) << 32;
}

// The block size a set of count indices was given: 8, then doubled.
int blockFor(int count)
{
    int capacity = firstBlock;
    while (capacity < count)
        capacity *= 2;
    return capacity;
}

} // namespace

bool GridPointMap::Indices::contains(int index) const
{
    return std::find(begin(), end(), index) != end();
}

const GridPointMap::Slot *GridPointMap::find(const GridPoint &p) const
{
    if (m_slots.isEmpty())
        return nullptr;
    const Slot *slots = m_slots.constData();
    const quint64 mask = quint64(m_slots.size() - 1);
    for (quint64 i = (packed(p) * Q_UINT64_C(0x9E3779B97F4A7C15)) >> m_shift;; i = (i + 1) & mask) {
        const Slot &s = slots[i];
        if (s.count == 0)
            return nullptr;
        if (s.key == p)
            return &s;
    }
}

GridPointMap::Slot *GridPointMap::place(const GridPoint &p)
{
    Slot *slots = m_slots.data();
    const quint64 mask = quint64(m_slots.size() - 1);
    for (quint64 i = (packed(p) * Q_UINT64_C(0x9E3779B97F4A7C15)) >> m_shift;; i = (i + 1) & mask) {
        Slot &s = slots[i];
        if (s.count == 0 || s.key == p)
            return &s;
    }
}

GridPointMap::Indices GridPointMap::indices(const GridPoint &p) const
{
    const Slot *s = find(p);
    return s ? indicesOf(*s) : Indices();
}

void GridPointMap::rehash(int capacity)
{
    const QVector<Slot> old = m_slots;
    m_slots = QVector<Slot>(capacity);
    int bits = 0;
    while ((1 << bits) < capacity)
        ++bits;
    m_shift = 64 - bits;
    for (const Slot &s : old) {
        if (s.count != 0)
            *place(s.key) = s;
    }
}

void GridPointMap::reserve(int points)
{
    // At most five eighths full: linear probing stays short.
    int capacity = smallestTable;
    while (capacity / 8 * 5 < points)
        capacity *= 2;
    if (capacity > m_slots.size())
        rehash(capacity);
}

int GridPointMap::allocate(int capacity)
{
    const int at = m_pool.size();
    m_pool.resize(at + capacity);
    return at;
}

void GridPointMap::append(Slot &slot, int index)
{
    if (slot.count >= firstBlock && slot.count == blockFor(slot.count)) {
        // The block is full: the set moves to one twice the size.
        const int first = allocate(2 * slot.count);
        int *pool = m_pool.data();
        std::memcpy(pool + first, pool + slot.first, sizeof(int) * size_t(slot.count));
        slot.first = first;
    }
    m_pool[slot.first + slot.count++] = index;
}

void GridPointMap::insert(const GridPoint &p, int index)
{
    if (m_slots.size() / 8 * 5 <= m_size)
        reserve(m_size + 1);
    Slot *s = place(p);
    if (s->count == 0) {
        // Allocated before the slot is written: the pool may move, the table does not.
        const int first = allocate(firstBlock);
        s->key = p;
        s->first = first;
        ++m_size;
    } else if (indicesOf(*s).contains(index)) {
        return;
    }
    append(*s, index);
}

void GridPointMap::insertShifted(const GridPointMap &other, int offset)
{
    reserve(m_size + other.m_size);
    for (const Slot &o : other.m_slots) {
        if (o.count == 0)
            continue;
        Slot *s = place(o.key);
        const int *from = other.m_pool.constData() + o.first;
        if (s->count == 0) {
            const int first = allocate(blockFor(o.count));
            s->key = o.key;
            s->first = first;
            s->count = o.count;
            int *to = m_pool.data() + first;
            for (int k = 0; k < o.count; ++k)
                to[k] = from[k] + offset;
            ++m_size;
            continue;
        }
        for (int k = 0; k < o.count; ++k) {
            if (!indicesOf(*s).contains(from[k] + offset))
                append(*s, from[k] + offset);
        }
    }
}

void GridPointMap::clear()
{
    m_slots = QVector<Slot>();
    m_pool = QVector<int>();
    m_size = 0;
    m_shift = 64;
}

const GridPointMap::Slot *GridPointMap::nextUsed(const Slot *from) const
{
    const Slot *end = m_slots.constData() + m_slots.size();
    while (from != end && from->count == 0)
        ++from;
    return from;
}

} // namespace geom
