#ifndef VOXELTESTUTIL_H
#define VOXELTESTUTIL_H

// Fixtures of the voxel model tests: slice stacks of simple solids, made
// here, the box of a set of facets, and a check that facets make a clean
// solid.

#include "bounds3d.h"
#include "contour.h"
#include "facet.h"
#include "slice.h"
#include "stltestutil.h"

#include <QDir>
#include <QList>
#include <QStringList>
#include <QRandomGenerator>
#include <QVector>

#include <cmath>

namespace voxeltest {

inline Contour rectangle(float x0, float y0, float x1, float y1, bool hole = false)
{
    return Contour(geom::Bounds2Df(geom::Point2Df(x0, y0), geom::Point2Df(x1, y1)), hole);
}

inline Contour circle(float cx, float cy, float r, int n = 48)
{
    QVector<geom::Point2Df> points;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        points.append(geom::Point2Df(float(cx + r * std::cos(a)), float(cy + r * std::sin(a))));
    }
    return Contour(points);
}

// count slices from z0 upwards, spacing apart; contours(i) gives slice i's.
template<typename Contours>
QList<Slice> stack(int count, float z0, float spacing, Contours contours)
{
    QList<Slice> slices;
    for (int i = 0; i < count; ++i)
        slices.append(Slice(z0 + float(i) * spacing, spacing, contours(i)));
    return slices;
}

inline geom::Bounds3Df boundsOf(const QVector<geom::Facet> &facets)
{
    geom::Bounds3Df b;
    for (const geom::Facet &f : facets) {
        for (const geom::Point3Df &p : {f.vertex1, f.vertex2, f.vertex3}) {
            b.minX = std::min(b.minX, p.x);
            b.minY = std::min(b.minY, p.y);
            b.minZ = std::min(b.minZ, p.z);
            b.maxX = std::max(b.maxX, p.x);
            b.maxY = std::max(b.maxY, p.y);
            b.maxZ = std::max(b.maxZ, p.z);
        }
    }
    return b;
}

// Named solids, all on a 0.25 mm pixel grid with 0.25 mm between slices.
inline QList<Slice> solid(const QString &name)
{
    const float s = 0.25f;
    if (name == "offset squares")
        return stack(5, 1.0f, 0.1f, [](int) { return QVector<Contour>{rectangle(10, 20, 14, 23)}; });
    if (name == "square with hole")
        return stack(6, 0, s, [](int) { return QVector<Contour>{rectangle(0, 0, 8, 8), rectangle(3, 2, 5, 6, true)}; });
    if (name == "two islands")
        return stack(4, 0, s, [](int) { return QVector<Contour>{rectangle(0, 0, 3, 3), rectangle(5, 1, 8, 3)}; });
    if (name == "cone")
        return stack(16, 0, s, [](int i) { return QVector<Contour>{circle(4, 4, 4.0f * (1.0f - float(i) / 16.0f))}; });
    if (name == "cylinder")
        return stack(12, 0, s, [](int) { return QVector<Contour>{circle(4, 4, 3.1f, 64)}; });
    if (name == "sphere")
        return stack(23, -2.75f, s, [](int i) {
            const float z = -2.75f + 0.25f * float(i);
            return QVector<Contour>{circle(0, 0, std::sqrt(std::max(0.0f, 9.0f - z * z)), 64)};
        });
    if (name == "tilted slab")
        return stack(20, 0, s, [](int i) {
            const float x = 0.3f * float(i);
            return QVector<Contour>{rectangle(x, 0, x + 2.0f, 3.0f)};
        });
    if (name == "random") {
        QRandomGenerator random(20240611);
        return stack(8, 0, s, [&random](int) {
            QVector<Contour> cells;
            for (int y = 0; y < 10; ++y)
                for (int x = 0; x < 10; ++x)
                    if (random.bounded(100) < 45)
                        cells.append(rectangle(x * 0.5f, y * 0.5f, x * 0.5f + 0.5f, y * 0.5f + 0.5f));
            return cells;
        });
    }
    return QList<Slice>();
}

// What keeps facets from being a clean solid, beyond the edge use that
// stltest::checkMesh counts (every edge once in each direction, which also
// rules out an edge used more than twice): facets without area, measured in
// double from their stored vertices against their longest edge, and stored
// normals more than 1e-4 from the unit normal of those vertices.
struct SolidReport
{
    stltest::MeshReport mesh;
    int zeroArea = 0;
    int normalOff = 0;
    double worstNormal = 0; // largest distance of a stored normal from the vertices' one

    bool clean() const { return mesh.closed() && mesh.finite && mesh.degenerateFaces == 0 && zeroArea == 0 && normalOff == 0; }
    QString faults() const
    {
        QStringList list;
        if (!mesh.faults().isEmpty())
            list.append(mesh.faults());
        if (zeroArea)
            list.append(QStringLiteral("%1 facets without area").arg(zeroArea));
        if (normalOff)
            list.append(QStringLiteral("%1 normals off their vertices (worst %2)").arg(normalOff).arg(worstNormal));
        return list.join(QStringLiteral(", "));
    }
};

inline SolidReport checkSolid(const QVector<geom::Facet> &facets)
{
    SolidReport report;
    report.mesh = stltest::checkMesh(facets);
    for (const geom::Facet &f : facets) {
        const double ux = double(f.vertex2.x) - f.vertex1.x, uy = double(f.vertex2.y) - f.vertex1.y,
                     uz = double(f.vertex2.z) - f.vertex1.z;
        const double vx = double(f.vertex3.x) - f.vertex1.x, vy = double(f.vertex3.y) - f.vertex1.y,
                     vz = double(f.vertex3.z) - f.vertex1.z;
        const double wx = vx - ux, wy = vy - uy, wz = vz - uz;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
        const double longest = std::max({ux * ux + uy * uy + uz * uz, vx * vx + vy * vy + vz * vz, wx * wx + wy * wy + wz * wz});
        if (!(length > 1e-9 * longest)) {
            ++report.zeroArea;
            continue;
        }
        const double off = std::sqrt(std::pow(f.normal.x - nx / length, 2) + std::pow(f.normal.y - ny / length, 2)
                                     + std::pow(f.normal.z - nz / length, 2));
        report.worstNormal = std::max(report.worstNormal, off);
        if (!(off <= 1e-4))
            ++report.normalOff;
    }
    return report;
}

// The volume the slices stand for when each layer reaches halfway to its
// neighbours, and gap beyond the outer ones: what the model should enclose.
inline double layeredVolume(const QList<Slice> &slices, float gap)
{
    double volume = 0;
    for (int i = 0; i < slices.size(); ++i) {
        const double below = i > 0 ? slices.at(i - 1).z() : slices.at(i).z() - gap;
        const double above = i + 1 < slices.size() ? slices.at(i + 1).z() : slices.at(i).z() + gap;
        double area = 0;
        for (const Contour &c : slices.at(i).contours())
            area += c.area();
        volume += area * (above - below) / 2;
    }
    return volume;
}

// The marching cubes' temporary files now in the temporary directory.
inline QStringList topologyFiles()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("topology-*.lst")}, QDir::Files);
}

} // namespace voxeltest

#endif // VOXELTESTUTIL_H
