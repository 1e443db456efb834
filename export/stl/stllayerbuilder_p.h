#ifndef GEOM_STLLAYERBUILDER_P_H
#define GEOM_STLLAYERBUILDER_P_H

#include "bandwinding_p.h"
#include "cleanoutline_p.h"
#include "edgegrid_p.h"
#include "facemesh_p.h"
#include "layercontours_p.h"
#include "loopclearance_p.h"
#include "pairclosure_p.h"
#include "stllayerbuilder.h"
#include "tessellator.h"

#include <vector>

namespace geom {

// The state a layer builder keeps from layer to layer and pair to pair: the
// tessellator, the stages' working storage, and what the steps of one pair
// hand each other.
class StlLayerBuilderPrivate
{
public:
    StlLayerBuilderPrivate() : tessellator(Tessellator::WindingPositive) {}

    bool bandFaces(const LayerContours &lower, const LayerContours &upper, int lowerFrom, int lowerTo, int upperFrom,
                   int upperTo);
    bool bandFace(const LayerContours &lower, const LayerContours &upper, int lowerFrom, int lowerTo, int upperFrom,
                  int upperTo, bool downward);
    void addTriangles(bool reversed, bool down);

    Tessellator tessellator;
    CleanOutline cleanOutline;
    LoopClearance clearance;
    BandWinding bandWinding;
    BandWinding lowerWinding;
    FaceMesh mesh;
    PairClosure closure;
    EdgeGrid grid;
    struct Deferred
    {
        Point2Df u, w;
        int edges[4];
    };
    std::vector<Deferred> deferred;
    // The outline pieces of the faces: ends (mesh vertices), the face's
    // kind, whether a face of the other kind is across, and the layers
    // (bit 0 lower, bit 1 upper) whose edges they were placed on.
    struct Piece
    {
        int u, w;
        bool down, touching;
        int sides;
    };
    std::vector<Piece> pieces;
    float lift = 0.0f;

    std::vector<char> liftedVertices(const StlLayer &upper, float z, StlEdgeSplits *splits);
};

} // namespace geom

#endif // GEOM_STLLAYERBUILDER_P_H
