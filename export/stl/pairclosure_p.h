#ifndef GEOM_PAIRCLOSURE_P_H
#define GEOM_PAIRCLOSURE_P_H

#include "facet.h"
#include "hashtable_p.h"
#include "stllayerbuilder.h"
#include "wallline_p.h"

#include <QVector>

#include <vector>

namespace geom {

// Whether the surface around one pair of layers closes as the file will hold
// it: the faces between the two layers, the tops of the lower layer's walls
// and the bottoms of the upper layer's, taken as facets of float vertices,
// use every edge of theirs once in each direction. Where they do, the walls'
// other edges are closed by the walls themselves and the pair adds no hole
// and no edge used by more than two facets to the model.
//
// It also tells where the faces could not tell two edges of one layer apart:
// a vertex of theirs that splits two edges of the same layer (two loops whose
// edges run within a hair of each other, back to back). The walls there
// would stand back to back too, with their edges used by four facets, though
// every edge in the plane has its partner.
class PairClosure
{
public:
    void clear(size_t expectedPoints);
    // The facets from index `from` on.
    void addFacets(const QVector<Facet> &facets, int from);
    // The top lines of the lower layer's walls at z, or the bottom lines of
    // the upper layer's, as walls() splits them.
    void addWallTops(const StlLayer &layer, const StlEdgeSplits &splits, float z);
    void addWallBottoms(const StlLayer &layer, const StlEdgeSplits &splits, float z);
    bool closed();

private:
    int vertex(const Point3Df &p);
    void addEdge(int a, int b);
    template <typename Line>
    void addLines(const StlLayer &layer, bool reversed, Line line);
    bool splitsOneEdgeEach();

    // A vertex is its float x, y (numbered by the table) and the index of
    // its height among the few heights of the pair (z, and z lifted).
    static constexpr int maxHeights = 4;
    HashTable m_points;
    int m_pointCount = 0;
    float m_heights[maxHeights];
    int m_heightCount = 0;
    bool m_tooManyHeights = false;
    HashTable m_edgeTable;
    qint64 m_openEdges = 0;
    bool m_overused = false;
    // The points that split an edge inside it: the point's key and the edge
    // (its loop and index, and the layer: the tops' or the bottoms').
    struct Inside
    {
        quint64 point;
        int side, loop, edge;
    };
    std::vector<Inside> m_inside;
    int m_side = 0;
    WallLine m_line;
};

} // namespace geom

#endif // GEOM_PAIRCLOSURE_P_H
