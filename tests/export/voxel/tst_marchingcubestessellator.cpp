#include "voxel/gridmapping.h"
#include "voxel/marchingcubestessellator.h"
#include "tessellator.h"
#include "voxeltestutil.h"

#include <QRandomGenerator>
#include <QtTest>

using geom::Facet;
using geom::GridFacet;
using geom::GridPoint;
using geom::MarchingCubesTessellator;

namespace {

qint64 cross2(const GridPoint &a, const GridPoint &b, const GridPoint &c)
{
    return qint64(b.x - a.x) * (c.y - a.y) - qint64(b.y - a.y) * (c.x - a.x);
}

bool segmentsCross(const GridPoint &a, const GridPoint &b, const GridPoint &c, const GridPoint &d)
{
    const qint64 d1 = cross2(a, b, c), d2 = cross2(a, b, d), d3 = cross2(c, d, a), d4 = cross2(c, d, b);
    return ((d1 > 0) != (d2 > 0) || d1 == 0 || d2 == 0) && ((d3 > 0) != (d4 > 0) || d3 == 0 || d4 == 0);
}

// A mapping like a rasteriser's inverse: 0.1 mm pixels, y turned over (so
// the winding is mirrored), far from the origin, so that float millimetres
// round.
geom::GridMapping farMapping()
{
    geom::GridMapping mapping;
    mapping.pixelToMm = QTransform(0.1, 0, 0, -0.1, 123.4567, 189.0123);
    mapping.mirrored = mapping.pixelToMm.determinant() < 0;
    for (int i = 0; i < 40; ++i)
        mapping.zTable.append(10.0f + 0.05f * float(i));
    return mapping;
}

} // namespace

class TestMarchingCubesTessellator : public QObject
{
    Q_OBJECT

private slots:
    void quadrilateralsOnTheGrid();
};

// Random planar quadrilaterals of a few grid steps in a slanted plane, many
// with three corners in a line (a point kept on a straight run where other
// patches need it): the split is chosen on the grid, so no facet without
// area is written, and every stored normal is that of the stored vertices.
void TestMarchingCubesTessellator::quadrilateralsOnTheGrid()
{
    QRandomGenerator random(4711);
    const geom::GridMapping mapping = farMapping();
    geom::Tessellator tessellator(geom::Tessellator::WindingPositive);
    int tried = 0, collinear = 0;
    // The plane spanned by (1, 0, 1) and (0, 1, 1): corners o + i u + j v.
    auto at = [](const GridPoint &ij) { return GridPoint(qint16(40 + ij.x), qint16(60 + ij.y), qint16(3 + ij.x + ij.y)); };
    // Its millimetre area per unit of i-j area, from the mapping's steps.
    const double unitArea = 0.0025 * std::sqrt(3.0);
    while (tried < 20000) {
        GridPoint p[4];
        for (GridPoint &q : p)
            q = GridPoint(qint16(random.bounded(7)), qint16(random.bounded(7)), 0);
        // Simple and counter-clockwise about +z, one diagonal giving two
        // triangles with area.
        const qint64 area = cross2(p[0], p[1], p[2]) + cross2(p[0], p[2], p[3]);
        if (area <= 0 || segmentsCross(p[0], p[1], p[2], p[3]) || segmentsCross(p[1], p[2], p[3], p[0]))
            continue;
        QVector<GridFacet> grid;
        if (cross2(p[0], p[1], p[2]) > 0 && cross2(p[0], p[2], p[3]) > 0)
            grid << GridFacet(at(p[0]), at(p[1]), at(p[2])) << GridFacet(at(p[0]), at(p[2]), at(p[3]));
        else if (cross2(p[1], p[2], p[3]) > 0 && cross2(p[1], p[3], p[0]) > 0)
            grid << GridFacet(at(p[1]), at(p[2]), at(p[3])) << GridFacet(at(p[1]), at(p[3]), at(p[0]));
        else
            continue;
        ++tried;
        for (int k = 0; k < 4; ++k)
            collinear += cross2(p[k], p[(k + 1) % 4], p[(k + 2) % 4]) == 0;
        geom::GridPolygon polygon;
        std::copy(grid.first().normal, grid.first().normal + 3, polygon.normal);
        polygon.contours.append(QVector<GridPoint>{at(p[0]), at(p[1]), at(p[2]), at(p[3])});
        polygon.facets = {0, 1};
        const QVector<Facet> facets = MarchingCubesTessellator::polygonFacets(grid, polygon, mapping, true, tessellator);
        const voxeltest::SolidReport report = voxeltest::checkSolid(facets);
        QVERIFY2(report.zeroArea == 0 && report.normalOff == 0, qPrintable(report.faults()));
        QCOMPARE(facets.size(), 2);
        // Far from the origin, float corners hold the area to about 1e-4.
        const double expected = double(area) * 0.5 * unitArea;
        QVERIFY2(qAbs(report.mesh.area - expected) <= 1e-3 * expected,
                 qPrintable(QStringLiteral("%1 against %2").arg(report.mesh.area).arg(expected)));
        // Both facets face out of the plane's solid side, the mirrored
        // mapping's winding turned back.
        const geom::Point3Df out = mapping.mapNormal(polygon.normal, 4);
        for (const Facet &f : facets)
            QVERIFY(double(f.normal.x) * out.x + double(f.normal.y) * out.y + double(f.normal.z) * out.z > 0.99 * out.length());
    }
    QVERIFY(collinear > 1000);
}

QTEST_APPLESS_MAIN(TestMarchingCubesTessellator)
#include "tst_marchingcubestessellator.moc"
