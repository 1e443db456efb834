#ifndef GEOM_MARCHINGCUBESMESHER_H
#define GEOM_MARCHINGCUBESMESHER_H

#include "gridfacet.h"
#include "gridsurface.h"

#include <QImage>
#include <QList>
#include <QVector>

#include <atomic>

namespace geom {

class MarchingCubesPrivate;

// A job of the first pass of MarchingCubes::process(): meshes the layer pairs
// (first - 1, first) up to (end - 2, end - 1) by marching cubes into grid
// facets, gathers them into connected surfaces and leaves them in its slot
// of the run (merged in job order afterwards, so the same layers always give
// the same surfaces).
struct MarchingCubesMesher
{
    MarchingCubesPrivate *d = nullptr;
    QList<GridSurface> *results = nullptr;
    QImage previous; // square codes of layer first - 1
    int first = 0;
    int end = 0;

    void run();

    // The triangles of a cube code as edge numbers, three per triangle, in
    // the order the facets take them: facet (a, b, c) = midpoints of edges
    // (r[i + 2], r[i + 1], r[i]). The vertices of every facet wind
    // counter-clockwise seen from the empty side, so (b - a) x (c - a)
    // points out of the material. On each cube face, two diagonal solid
    // corners are cut off separately: neighbouring cubes see a shared face
    // alike and the surface closes.
    static QVector<int> triangleEdges(int code);
    // Midpoint of a cube edge relative to the cube centre, half-cell units.
    static GridPoint edgeMidpoint(int edge);
    // Appends the facets of the cubes between layers k - 1 and k. A layer
    // pair of a large model can take seconds (a cap meets every surface of
    // the row before): cancel, when given, is looked at for every row of
    // cubes, and once it is set the pair is left unfinished.
    static void meshLayerPair(const QImage &cubeCodes, int k, QList<GridSurface> &surfaces,
                              const std::atomic<bool> *cancel = nullptr);
};

} // namespace geom

#endif // GEOM_MARCHINGCUBESMESHER_H
