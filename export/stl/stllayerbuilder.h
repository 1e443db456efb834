#ifndef GEOM_STLLAYERBUILDER_H
#define GEOM_STLLAYERBUILDER_H

#include "facet.h"
#include "point2d.h"
#include "slice.h"

#include <QList>
#include <QVector>

#include <vector>

namespace geom {

class StlLayerBuilderPrivate;

// The outline of one layer as the walls and faces of the STL model use it:
// closed loops of x, y doubles without collinear vertices, outer loops
// counter-clockwise and holes clockwise.
struct StlLayer
{
    QList<QVector<double>> loops;
    // The area (mm²) of the loops left out as too thin to be built closed.
    double droppedArea = 0.0;

    bool isEmpty() const { return loops.isEmpty(); }
};

// A point where an outline edge of a layer is split, because a face between
// it and its neighbour layer has a vertex there: edge `edge` of loop `loop`
// runs from vertex `edge` to the next one, and t is the position along it.
// lift raises the point of the wall above the faces' plane: where the faces
// up and down meet along an edge, the upper layer's side of it is lifted a
// hair's breadth so that the two solids do not share that edge. An entry at
// an end of the edge (t 0 or 1, the vertex itself) only lifts that vertex.
struct StlEdgeSplit
{
    int loop;
    int edge;
    double t;
    Point2Df point;
    float lift = 0.0f;
};
using StlEdgeSplits = std::vector<StlEdgeSplit>;

// The geometry of the STL model export, one layer and one pair of layers at a
// time, so that the pairs can be built on several threads: each thread owns
// one builder (it holds a GLU tessellator).
//
// The faces between a lower and an upper layer are the parts of either that
// the other does not cover. Their vertices on the layers' outline edges
// (where outlines cross, touch or overlap in part) are handed back as edge
// splits; walls() splits each wall at the splits of the faces above and
// below it, with bit-identical coordinates, so that every edge of the model
// is shared by exactly two facets in opposite directions.
class StlLayerBuilder
{
public:
    StlLayerBuilder();
    ~StlLayerBuilder();
    StlLayerBuilder(const StlLayerBuilder &) = delete;
    StlLayerBuilder &operator=(const StlLayerBuilder &) = delete;

    enum LayerStatus { LayerOk, LayerWithoutOutline, LayerNotFinite, LayerOutOfRange, LayerFailed };

    // The largest coordinate (in mm, either sign) a layer may have: beyond it
    // the float arithmetic of the outline clean-up overflows.
    static constexpr float maxCoordinate = 1e18f;

    // The cleaned-up outline of a slice (clean-up tolerance in mm; the grid
    // step is its square). LayerWithoutOutline: the slice had contours but
    // none bounds a region of positive winding (they all run clockwise, or
    // vanished in the clean-up); the layer is then empty. LayerOutOfRange: a
    // coordinate lies beyond maxCoordinate.
    LayerStatus layer(const Slice &slice, double tolerance, StlLayer &layer);

    // Appends the faces at z between the two layers (downward where the upper
    // one reaches beyond the lower, upward where the lower one is left
    // uncovered) and sets the splits of the lower layer's edges (the tops of
    // its walls) and of the upper layer's (the bottoms of its walls), sorted.
    // False when the tessellation failed.
    bool faces(const StlLayer &lower, const StlLayer &upper, float z, QVector<Facet> &facets,
               StlEdgeSplits &lowerSplits, StlEdgeSplits &upperSplits);

    // Appends the walls of the layer from z0 up to z1, split at the faces'
    // vertices below (bottom) and above (top).
    static void walls(const StlLayer &layer, const StlEdgeSplits &bottom, const StlEdgeSplits &top, float z0,
                      float z1, QVector<Facet> &facets);

private:
    bool facesOf(const StlLayer &lower, const StlLayer &upper, float z, QVector<Facet> &facets,
                 StlEdgeSplits &lowerSplits, StlEdgeSplits &upperSplits);
    bool closedAt(const StlLayer &lower, const StlLayer &upper, float z, const QVector<Facet> &facets, int from,
                  const StlEdgeSplits &lowerSplits, const StlEdgeSplits &upperSplits);

    StlLayerBuilderPrivate *d;
};

} // namespace geom

#endif // GEOM_STLLAYERBUILDER_H
