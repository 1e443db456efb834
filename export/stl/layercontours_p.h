#ifndef GEOM_LAYERCONTOURS_P_H
#define GEOM_LAYERCONTOURS_P_H

#include "bands_p.h"
#include "stllayerbuilder.h"

#include <QList>
#include <QVector>

namespace geom {

// The loops of one layer for the faces of one pair of layers: split at the
// band lines, and for each band the parts of each loop inside it, closed along
// the band lines.
struct LayerContours
{
    struct Piece
    {
        int band;
        int offset; // in values
        int count;  // in points
    };

    QList<QVector<double>> loops;
    QVector<double> bandValues;
    QVector<Piece> pieces; // ordered by band

    // The loops of the layer split at the band lines, and their pieces.
    static LayerContours of(const StlLayer &layer, const Bands &bands);

    bool isEmpty() const { return loops.isEmpty(); }
    void clear()
    {
        loops.clear();
        bandValues.clear();
        pieces.clear();
    }
};

} // namespace geom

#endif // GEOM_LAYERCONTOURS_P_H
