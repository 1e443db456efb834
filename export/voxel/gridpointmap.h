#ifndef GEOM_GRIDPOINTMAP_H
#define GEOM_GRIDPOINTMAP_H

#include "gridpoint.h"

#include <QVector>

namespace geom {

// The facet indices at each grid point of a surface, in the order they were
// added, no index twice at one point. A surface of a large model has
// millions of points: the map keeps them in one open-addressing table and
// their indices in one pool, so building it allocates a few large blocks and
// dropping it frees them at once, instead of one node per point.
//
// A point's indices lie together in the pool; a set that outgrows its block
// moves to a block twice the size at the pool's end (the old one is not
// reused). Lookups of absent points, inserts and a read-only view of a set
// cost about one probe of the table.
class GridPointMap
{
public:
    // The indices at one point; empty for a point that is not in the map.
    // Valid until the map next changes.
    class Indices
    {
    public:
        Indices() = default;
        Indices(const int *begin, int size) : m_begin(begin), m_size(size) {}

        const int *begin() const { return m_begin; }
        const int *end() const { return m_begin + m_size; }
        int size() const { return m_size; }
        bool isEmpty() const { return m_size == 0; }
        bool contains(int index) const;

    private:
        const int *m_begin = nullptr;
        int m_size = 0;
    };

    // One entry of the table (storage, named here for its type traits).
    struct Slot
    {
        GridPoint key;
        quint16 unused = 0;
        qint32 count = 0; // 0: a free slot
        qint32 first = 0; // the set's block in the pool
    };

    // The points in table order (not the order they were added).
    class const_iterator
    {
    public:
        const GridPoint &key() const { return m_slot->key; }
        Indices value() const { return m_map->indicesOf(*m_slot); }
        const_iterator &operator++()
        {
            m_slot = m_map->nextUsed(m_slot + 1);
            return *this;
        }
        bool operator==(const const_iterator &other) const { return m_slot == other.m_slot; }
        bool operator!=(const const_iterator &other) const { return m_slot != other.m_slot; }

    private:
        friend class GridPointMap;
        const_iterator(const GridPointMap *map, const Slot *slot) : m_map(map), m_slot(slot) {}
        const GridPointMap *m_map;
        const Slot *m_slot;
    };

    // Distinct points.
    int size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    bool contains(const GridPoint &p) const { return find(p) != nullptr; }
    Indices indices(const GridPoint &p) const;

    // Adds index to the set at p unless it is there already.
    void insert(const GridPoint &p, int index);
    // Adds the indices of every point of other, each plus offset, to the sets
    // here, in other's order per point; a point new here takes other's set
    // as it is.
    void insertShifted(const GridPointMap &other, int offset);
    // Room for this many points without growing the table.
    void reserve(int points);
    void clear();

    const_iterator cbegin() const { return const_iterator(this, nextUsed(m_slots.constData())); }
    const_iterator cend() const { return const_iterator(this, m_slots.constData() + m_slots.size()); }
    const_iterator begin() const { return cbegin(); }
    const_iterator end() const { return cend(); }

private:
    const Slot *find(const GridPoint &p) const;
    // The free slot p goes into, or p's own slot.
    Slot *place(const GridPoint &p);
    void rehash(int capacity);
    // A block of capacity indices at the end of the pool; its offset.
    int allocate(int capacity);
    void append(Slot &slot, int index);
    Indices indicesOf(const Slot &slot) const { return Indices(m_pool.constData() + slot.first, slot.count); }
    const Slot *nextUsed(const Slot *from) const;

    QVector<Slot> m_slots; // a power of two in size, or empty
    QVector<int> m_pool;
    int m_size = 0;
    int m_shift = 64; // 64 - log2 of the table size
};

} // namespace geom

Q_DECLARE_TYPEINFO(geom::GridPointMap::Slot, Q_PRIMITIVE_TYPE);

#endif // GEOM_GRIDPOINTMAP_H
