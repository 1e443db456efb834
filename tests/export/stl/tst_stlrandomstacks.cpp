// Seeded stacks with the troubles of real files (randomstacks.h), exported in
// millimetres and in inches, plain and with a minimum thickness of three
// layers: every model must be a clean solid. QUARNE_STL_SEEDS (for example
// "1-2000") runs other seeds than the few of every build.

#include "randomstacks.h"
#include "stltestutil.h"
#include "tessellator.h"

#include <QtTest>

#include <cmath>

namespace {

// Seeds 1-50, and seeds further on whose stacks once gave faulty exports:
// a vertex on another loop's edge that the clean-up could not settle (1154,
// 1291, 1535, 1804), two chamfers ending on one float point (1052), needles
// narrower than the faces can tell apart (1024, 2711), a corner cut of a
// nearly straight corner passing within a hair of the point it parted (1024,
// 2302).
QList<int> seeds()
{
    QList<int> list;
    const QByteArray value = qgetenv("QUARNE_STL_SEEDS");
    const int first = value.isEmpty() ? 1 : value.split('-').first().toInt();
    const int last = value.isEmpty() ? 50 : value.split('-').last().toInt();
    for (int seed = first; seed <= last; ++seed)
        list.append(seed);
    if (value.isEmpty())
        list += QList<int>{1024, 1052, 1154, 1291, 1535, 1804, 2302, 2711};
    return list;
}

// Where the faulty edges of a model lie: in the plane between two layers, or
// up a wall; a few of them to look at.
QString whereFaulty(const stltest::MeshReport &mesh)
{
    int flat = 0, upright = 0;
    QStringList examples;
    for (const stltest::MeshReport::Edge &e : mesh.faultyEdges) {
        (e.from.z == e.to.z ? flat : upright)++;
        if (examples.size() < 3)
            examples.append(QStringLiteral("(%1, %2, %3)-(%4, %5, %6)x%7")
                                .arg(double(e.from.x), 0, 'g', 9)
                                .arg(double(e.from.y), 0, 'g', 9)
                                .arg(double(e.from.z), 0, 'g', 9)
                                .arg(double(e.to.x), 0, 'g', 9)
                                .arg(double(e.to.y), 0, 'g', 9)
                                .arg(double(e.to.z), 0, 'g', 9)
                                .arg(e.uses));
    }
    return QStringLiteral("%1 flat, %2 upright: %3").arg(flat).arg(upright).arg(examples.join(QStringLiteral(" ")));
}

// The volume of the slices as the export cleans them up (0.02 mm), each
// reaching up to the next slice, the last one by the last distance; and how
// far the model may be off it by design: outlines closer than the clean-up
// can keep apart are merged, the gap between them filled (at most half the
// perimeter times the clearance), and two layers whose faces cannot be closed
// in float are parted by lifting the upper one's bottom a few float steps.
struct SlicesVolume
{
    double volume = 0.0;
    double allowance = 0.0;
};

SlicesVolume slicesVolume(const QList<Slice> &slices)
{
    geom::Tessellator tessellator(geom::Tessellator::WindingPositive);
    SlicesVolume result;
    for (int i = 0; i < slices.size(); ++i) {
        Slice cleaned = slices[i];
        cleaned.reduce(0.02);
        cleaned.snapToGrid(0.02 * 0.02);
        const Slice outline = tessellator.outline(cleaned);
        double area = 0, perimeter = 0, magnitude = 1.0;
        for (int c = 0; c < outline.contourCount(); ++c) {
            const QVector<geom::Point2Df> &points = outline.contourAt(c).points();
            area += outline.contourAt(c).area();
            for (int k = 0; k < points.size(); ++k) {
                const geom::Point2Df &a = points[k], &b = points[(k + 1) % points.size()];
                perimeter += std::hypot(double(b.x) - a.x, double(b.y) - a.y);
                magnitude = std::fmax(magnitude, std::fmax(std::fabs(double(a.x)), std::fabs(double(a.y))));
            }
        }
        const double z = slices[i].z();
        const double top = i + 1 < slices.size() ? double(slices[i + 1].z()) : double(float(z + (z - double(slices[i - 1].z()))));
        result.volume += area * (top - z);
        const double clearance = std::fmax(1.5 * 0.02 * 0.02, 8e-6 * magnitude);
        const double lift = std::fmax(1e-6, std::fabs(z) * std::ldexp(1.0, -20));
        result.allowance += 0.5 * perimeter * clearance * (top - z) + (i > 0 ? area * lift : 0.0);
    }
    return result;
}

} // namespace

class TestStlRandomStacks : public QObject
{
    Q_OBJECT

private slots:
    void cleanSolids();
};

void TestStlRandomStacks::cleanSolids()
{
    QStringList failures;
    int exports = 0;
    for (const int seed : seeds()) {
        for (const bool inch : {false, true}) {
            float threeLayers = 0;
            const QList<Slice> slices = stltest::randomStack(quint64(seed), {inch}, &threeLayers);
            for (const float thickness : {0.0f, threeLayers}) {
                ++exports;
                const stltest::Export run = stltest::exportSlices(slices, thickness);
                const QString name = QStringLiteral("seed %1%2%3").arg(seed).arg(inch ? QStringLiteral(", inch") : QString())
                                         .arg(thickness > 0 ? QStringLiteral(", thick") : QString());
                if (!run.succeeded) {
                    failures.append(name + QStringLiteral(": ") + run.error);
                    continue;
                }
                const stltest::MeshReport mesh = stltest::checkMesh(run.stl.facets);
                if (!mesh.faults().isEmpty()) {
                    failures.append(name + QStringLiteral(": ") + mesh.faults() + QStringLiteral("; ")
                                    + whereFaulty(mesh));
                    continue;
                }
                // Slivers left out and corners cut change the volume by far
                // less than 1e-4 of it.
                const SlicesVolume expected = thickness > 0 ? SlicesVolume{mesh.volume, 0.0} : slicesVolume(slices);
                const double volume = expected.volume;
                if (!(std::fabs(mesh.volume - volume) <= 1e-4 * volume + expected.allowance))
                    failures.append(name + QStringLiteral(": volume %1, slices %2").arg(mesh.volume, 0, 'g', 10).arg(volume, 0, 'g', 10));
            }
        }
    }
    for (const QString &failure : failures)
        qInfo("%s", qPrintable(failure));
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 of %2 exports are not clean solids").arg(failures.size()).arg(exports)));
}

QTEST_GUILESS_MAIN(TestStlRandomStacks)
#include "tst_stlrandomstacks.moc"
