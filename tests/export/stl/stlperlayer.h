#ifndef STLPERLAYER_H
#define STLPERLAYER_H

// The plain way to build the STL model of a stack of outlines, which the
// export's facet count is measured against (tests and benchmarks): two walls
// per outline edge, not split where the faces meet them, and between two
// layers one GLU call for the faces down and one for the faces up.

#include "stl/stllayerbuilder.h"
#include "tessellator.h"

#include <QList>

namespace stltest {

// The outlines of the slices as the export cleans them up (0.02 mm), then
// the empty layer above the top.
inline QList<geom::StlLayer> cleanedLayers(const QList<Slice> &slices)
{
    geom::StlLayerBuilder builder;
    QList<geom::StlLayer> layers;
    for (const Slice &s : slices) {
        layers.append(geom::StlLayer());
        builder.layer(s, 0.02, layers.last());
    }
    layers.append(geom::StlLayer());
    return layers;
}

// The facets of the plain method on those outlines.
inline qint64 perLayerFacets(const QList<geom::StlLayer> &layers)
{
    geom::Tessellator tessellator(geom::Tessellator::WindingPositive);
    qint64 facets = 0;
    geom::StlLayer below;
    for (const geom::StlLayer &current : layers) {
        for (const QVector<double> &loop : below.loops)
            facets += loop.size();
        for (bool down : {true, false}) {
            const double normal[3] = {0.0, 0.0, down ? -1.0 : 1.0};
            tessellator.setWindingRule(down ? geom::Tessellator::WindingNegative : geom::Tessellator::WindingPositive);
            tessellator.beginPolygon(geom::Tessellator::Double2D, normal);
            for (const QVector<double> &loop : below.loops)
                tessellator.addContour(loop.constData(), (down ? -1 : 1) * loop.size() / 2);
            for (const QVector<double> &loop : current.loops)
                tessellator.addContour(loop.constData(), (down ? 1 : -1) * loop.size() / 2);
            tessellator.endPolygon();
            facets += tessellator.vertices().size();
        }
        below = current;
    }
    return facets;
}

} // namespace stltest

#endif // STLPERLAYER_H
