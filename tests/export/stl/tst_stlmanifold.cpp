// The STL model of slices that look like a real slicer's output: outlines
// resampled on every layer (a different vertex count and start angle, so that
// consecutive outlines cross everywhere), twisting, holes and islands that
// come and go, contours that touch. Each model must be a clean solid: every
// edge used by exactly two facets in opposite directions, no facet without
// area or facing against its winding, and the volume of the slices.

#include "stl/stlexporter.h"
#include "stltestutil.h"

#include <QBuffer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using geom::Point2Df;
using geom::StlExporter;
using stltest::circle;

namespace {

Contour rectangle(float x0, float y0, float x1, float y1)
{
    return Contour(QVector<Point2Df>{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

// A gear of 12 teeth with a round hole, turned by `turn` radians.
QVector<Contour> gear(double turn, int holeVertices)
{
    QVector<Point2Df> points;
    const int teeth = 12;
    for (int t = 0; t < teeth; ++t) {
        const double a = turn + 2.0 * M_PI * t / teeth, step = 2.0 * M_PI / teeth;
        for (const auto &corner : {std::make_pair(0.0, 6.5), std::make_pair(0.2, 8.0), std::make_pair(0.45, 8.0),
                                   std::make_pair(0.65, 6.5)}) {
            const double b = a + corner.first * step;
            points.append(Point2Df(float(corner.second * std::cos(b)), float(corner.second * std::sin(b))));
        }
    }
    return {Contour(points), circle(0, 0, 2, holeVertices, turn * 3, true)};
}

// Slices at the given heights; the model's volume counts each layer up to the
// next slice, and the last one by the last distance between slices.
struct Stack
{
    QList<Slice> slices;
    double volume = 0;
};

Stack stackAt(const QList<double> &z, const QList<QVector<Contour>> &layers)
{
    Stack stack;
    for (int i = 0; i < layers.size(); ++i) {
        const double height = i + 1 < z.size() ? z[i + 1] - z[i] : z[i] - z[i - 1];
        stack.slices.append(Slice(float(z[i]), float(height), layers[i]));
        // The area of the outline as the export cleans it up (0.02 mm).
        Slice cleaned = stack.slices.last();
        cleaned.reduce(0.02);
        cleaned.snapToGrid(0.02 * 0.02);
        double area = 0;
        for (int c = 0; c < cleaned.contourCount(); ++c)
            area += cleaned.contourAt(c).area();
        // The exported layer reaches to the next slice's float height.
        const double top = i + 1 < z.size() ? double(float(z[i + 1])) : double(float(z[i])) + double(float(height));
        stack.volume += area * (top - double(float(z[i])));
    }
    return stack;
}

Stack evenStack(const QList<QVector<Contour>> &layers, double step)
{
    QList<double> z;
    for (int i = 0; i < layers.size(); ++i)
        z.append(i * step);
    return stackAt(z, layers);
}

// The resampling of a slicer: every layer its own vertex count and start.
int vertexCount(int layer, int base)
{
    return base + (layer * 13) % 29;
}

double startAngle(int layer)
{
    return layer * 0.61;
}

QByteArray exportStl(const QList<Slice> &slices, StlExporter **keep = nullptr, float minimumThickness = 0)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    auto *exporter = new StlExporter(&buffer, slices);
    exporter->setMinimumThickness(minimumThickness);
    exporter->run();
    const bool ok = exporter->succeeded();
    if (keep)
        *keep = exporter;
    else
        delete exporter;
    return ok ? buffer.data() : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(QList<Slice>)

class TestStlManifold : public QObject
{
    Q_OBJECT

private slots:
    void slicerLikeStacks_data();
    void slicerLikeStacks();
    void admeshAcceptsTheModel_data();
    void admeshAcceptsTheModel();
    void slicesWithoutOutline();
    void manyLayers();
    void manyLayersCancelled();
    void manyLayersFailing();

private:
    void addStacks();
};

void TestStlManifold::addStacks()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<double>("volume");
    QTest::addColumn<int>("euler");
    QTest::addColumn<float>("thickness");
    // The shells admesh counts; -1: as the Euler characteristic says, every
    // shell a sphere or a torus.
    QTest::addColumn<int>("parts");

    QList<QVector<Contour>> layers;
    Stack s;
    // The stack exported with a minimum thickness of three layers: every
    // third slice is kept, each reaching up to the next one kept.
    auto addThick = [](const char *name, const QList<QVector<Contour>> &all, double step, int euler) {
        QList<QVector<Contour>> kept;
        QList<double> z;
        for (int i = 0; i < all.size(); i += 3) {
            kept.append(all[i]);
            z.append(i * step);
        }
        const Stack thick = stackAt(z, kept);
        QTest::newRow(name) << evenStack(all, step).slices << thick.volume << euler << float(3 * step) << -1;
    };

    const int sphereLayers = 60;
    for (int i = 0; i < sphereLayers; ++i) {
        const double zc = -10.0 + (i + 0.5) * 20.0 / sphereLayers;
        layers.append({circle(0, 0, std::sqrt(100.0 - zc * zc), vertexCount(i, 40), startAngle(i))});
    }
    s = evenStack(layers, 20.0 / sphereLayers);
    QTest::newRow("sphere") << s.slices << s.volume << 2 << 0.0f << -1;
    addThick("sphere, minimum thickness", layers, 20.0 / sphereLayers, 2);

    layers.clear();
    for (int i = 0; i < 30; ++i)
        layers.append({circle(0, 0, 5, vertexCount(i, 24), startAngle(i))});
    // A layer identical to the next.
    layers[11] = layers[10];
    s = evenStack(layers, 0.1);
    QTest::newRow("cylinder") << s.slices << s.volume << 2 << 0.0f << -1;
    addThick("cylinder, minimum thickness", layers, 0.1, 2);

    layers.clear();
    for (int i = 0; i < 40; ++i)
        layers.append(gear(i * 3.0 * M_PI / 180.0, vertexCount(i, 16)));
    s = evenStack(layers, 0.15);
    QTest::newRow("twisting gear") << s.slices << s.volume << 0 << 0.0f << -1;
    addThick("twisting gear, minimum thickness", layers, 0.15, 0);

    // A disc with a cavity (layers 5 to 10), an island beside it (3 to 8) and
    // a blind hole from layer 14 to the top: three shells.
    layers.clear();
    for (int i = 0; i < 20; ++i) {
        QVector<Contour> c{circle(0, 0, 6, vertexCount(i, 30), startAngle(i))};
        if (i >= 5 && i <= 10)
            c.append(circle(1, 0, 2 + 0.1 * i, vertexCount(i, 12), startAngle(i), true));
        if (i >= 14)
            c.append(circle(-1, 1, 1.5, vertexCount(i, 12), -startAngle(i), true));
        if (i >= 3 && i <= 8)
            c.append(circle(10, 0, 1.5 - 0.05 * i, vertexCount(i, 10), startAngle(i)));
        layers.append(c);
    }
    s = evenStack(layers, 0.2);
    QTest::newRow("holes and islands") << s.slices << s.volume << 6 << 0.0f << -1;
    addThick("holes and islands, minimum thickness", layers, 0.2, 6);

    // Two squares that touch at a corner make two solids that touch along a
    // vertical line; the outline keeps them apart.
    layers = {{rectangle(0, 0, 2, 2), rectangle(2, 2, 4, 4)}, {rectangle(0, 0, 2, 2), rectangle(2, 2, 4, 4)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("contours touching at a vertex") << s.slices << s.volume << 4 << 0.0f << -1;

    layers = {{rectangle(0, 0, 2, 2), rectangle(2, 0, 4, 2)}, {rectangle(0, 0, 2, 2), rectangle(2, 0.5f, 4, 3)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("contours touching along an edge") << s.slices << s.volume << 2 << 0.0f << -1;

    // Consecutive outlines that share stretches of their edges.
    layers = {{rectangle(0, 0, 4, 2)}, {rectangle(1, 0, 5, 2)}, {rectangle(1, 0, 3, 3)}, {rectangle(0, 0, 3, 3)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("outlines overlapping along a stretch") << s.slices << s.volume << 2 << 0.0f << -1;

    // The upper layer starts where the lower one ends: the face down and the
    // face up meet along an edge, where the two solids are parted.
    layers = {{rectangle(0, 0, 2, 2)}, {rectangle(2, 0, 4, 2)}, {rectangle(2, 0, 4, 2)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("faces up and down touching") << s.slices << s.volume << 4 << 0.0f << -1;

    // The same along part of an edge, next to an overlap, and in a
    // checkerboard of layers (six solids meeting along edges).
    layers = {{rectangle(0, 0, 2, 2)}, {rectangle(2, 1, 4, 3)}, {rectangle(2, 1, 4, 3)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("touching part of an edge") << s.slices << s.volume << 4 << 0.0f << -1;
    const Contour ell(QVector<Point2Df>{{2, 0}, {4, 0}, {4, 2}, {1, 2}, {1, 1}, {2, 1}});
    layers = {{rectangle(0, 0, 2, 2)}, {ell}, {ell}};
    s = evenStack(layers, 0.1);
    QTest::newRow("touching and overlapping") << s.slices << s.volume << 2 << 0.0f << -1;
    // The faces meet along a stretch that overlaps begin at both ends of:
    // the upper layer is a C over the lower one's edge, its arms resting on it.
    const Contour cee(QVector<Point2Df>{{1, 0}, {4, 0}, {4, 3}, {1, 3}, {1, 2}, {2, 2}, {2, 1}, {1, 1}});
    layers = {{rectangle(0, 0, 2, 3)}, {cee}, {cee}};
    s = evenStack(layers, 0.1);
    QTest::newRow("touching between overlaps") << s.slices << s.volume << 0 << 0.0f << -1;
    layers = {{cee}, {rectangle(0, 0, 2, 3)}, {rectangle(0, 0, 2, 3)}};
    s = evenStack(layers, 0.1);
    QTest::newRow("touching between overlaps, upside down") << s.slices << s.volume << 0 << 0.0f << -1;
    const QVector<Contour> black{rectangle(0, 0, 1, 1), rectangle(1, 1, 2, 2)};
    const QVector<Contour> white{rectangle(1, 0, 2, 1), rectangle(0, 1, 1, 2)};
    s = evenStack({black, white, black}, 0.1);
    QTest::newRow("checkerboard") << s.slices << s.volume << 12 << 0.0f << -1;

    // Islands that come to touch in the clean-up: a turned square whose
    // corner lies on its neighbour's edge, or a micrometre inside it on one
    // layer (as a slicer's rounding leaves it), and two rectangles a tenth of
    // a micrometre apart, which the grid puts onto one stretch.
    const Contour block = rectangle(0, 0, 10, 10);
    const Contour onEdge(QVector<Point2Df>{{6.590395f, 10.918214f}, {7.59808f, 11.5f}, {6.973079f, 12.582542f},
                                           {6.09808f, 14.0981f}, {4.582532f, 13.223099f}, {3.5f, 12.5981f},
                                           {4.125f, 11.515557f}, {5.0f, 10.0f}});
    QVector<Point2Df> inside = onEdge.points();
    inside.last() = Point2Df(5.0f, 9.999999f);
    s = evenStack({{block, onEdge}, {block, Contour(inside)}, {block, onEdge}, {block, Contour(inside)}}, 0.1);
    // The corner on the edge is moved off it by a hair: two shells that share
    // nothing.
    QTest::newRow("island corner onto an edge in the clean-up") << s.slices << s.volume << 4 << 0.0f << 2;
    const QVector<Contour> apart{rectangle(0, 0, 2, 2), Contour(QVector<Point2Df>{{2.0001f, 0.5f}, {4, 0.5f}, {4, 2.77f}, {2.0001f, 2.77f}})};
    s = evenStack({apart, apart, {rectangle(0, 0, 2, 2)}}, 0.1);
    // The clean-up leaves the first vertex of a contour off the grid; the
    // model has the rectangles as the grid puts them.
    QTest::newRow("islands onto one stretch in the clean-up") << s.slices << (4 * 0.3 + 2 * 2.27 * 0.2) << 2 << 0.0f << -1;

    // Two layers of a twisted square post as a slicer gives them: where the
    // outlines cross next to a corner, the crossing point lies 1.3e-5 mm from
    // it, closer than the faces could keep apart from the corner.
    const Contour post0(QVector<Point2Df>{{7.07359982f, 6.88600016f}, {14.3271999f, 0.00240000011f},
                                          {21.3983994f, 7.07359982f}, {28.281601f, 14.3271999f},
                                          {21.2108002f, 21.3983994f}, {13.9572001f, 28.281601f},
                                          {6.88600016f, 21.2108002f}, {0.00240000011f, 13.9572001f}});
    const Contour post1(QVector<Point2Df>{{6.88600016f, 7.07359982f}, {13.9572001f, 0.00240000011f},
                                          {21.2108002f, 6.88600016f}, {28.281601f, 13.9572001f},
                                          {21.3983994f, 21.2108002f}, {14.3271999f, 28.281601f},
                                          {7.07359982f, 21.3983994f}, {0.00240000011f, 14.3271999f}});
    s = evenStack({{post0}, {post1}, {post0}, {post1}}, 0.2);
    QTest::newRow("crossing 1e-5 mm from a corner") << s.slices << s.volume << 2 << 0.0f << -1;
    // The same through a file in inches: coordinates that are not round in mm.
    auto inches = [](const Contour &c) {
        QVector<Point2Df> points = c.points();
        for (Point2Df &p : points)
            p = stltest::throughInches(p.x, p.y);
        return Contour(points);
    };
    s = evenStack({{inches(post0)}, {inches(post1)}, {inches(post0)}, {inches(post1)}}, 0.2);
    QTest::newRow("crossing 1e-5 mm from a corner, inch") << s.slices << s.volume << 2 << 0.0f << -1;

    // Two layers of a twisted lattice as a slicer gives them: an edge of the
    // lower layer's hole and one of the upper's lie on one line up to float
    // rounding and cross in the middle of their common stretch. GLU puts the
    // crossing point off both edges by more than the slivers between them are
    // wide, so the centroid of the face up's sliver lay under the upper
    // layer, and it was made a face down with no partners along its edges.
    const QVector<Contour> lattice0{
        Contour(QVector<Point2Df>{{21.39825f, 7.07345f}, {28.281799f, 14.327199f}, {21.210749f, 21.39825f},
                                  {13.957001f, 28.2818f}, {6.885951f, 21.21075f}, {0.0024f, 13.957001f},
                                  {7.073449f, 6.885951f}, {14.327198f, 0.0024f}}),
        Contour(QVector<Point2Df>{{7.64134f, 7.468884f}, {6.72211f, 8.388114f}, {7.616971f, 9.3311f},
                                  {8.536206f, 10.250335f}, {9.455436f, 9.331104f}, {10.39841f, 8.436249f},
                                  {9.503555f, 7.493265f}, {8.58432f, 6.57403f}})};
    const QVector<Contour> lattice1{
        Contour(QVector<Point2Df>{{21.21075f, 6.885951f}, {28.2818f, 13.957001f}, {21.398247f, 21.21075f},
                                  {14.3272f, 28.2818f}, {7.073449f, 21.398247f}, {0.0024f, 14.3272f},
                                  {6.88595f, 7.07345f}, {13.957001f, 0.0024f}}),
        Contour(QVector<Point2Df>{{7.468884f, 7.64134f}, {6.57403f, 8.58432f}, {7.493265f, 9.503555f},
                                  {8.436249f, 10.39841f}, {9.331104f, 9.455436f}, {10.250335f, 8.536206f},
                                  {9.3311f, 7.616971f}, {8.388114f, 6.72211f}})};
    s = stackAt({5.9, 6.1}, {lattice0, lattice1});
    QTest::newRow("hole edges on one line, crossing") << s.slices << s.volume << 0 << 0.0f << -1;

    // A scanned part's hole: a crescent 2 micrometres wide, far from the
    // origin. The clean-up leaves three vertices of it, and the grid, which
    // moves the first one by a fraction of its step, turns the sliver over:
    // an island inside the block, which the faces filled and walled the
    // wrong way round. It is left out.
    const Contour crescent(QVector<Point2Df>{
        {187.87337f, 148.9285f}, {187.81482f, 149.01102f}, {187.7565f, 149.09326f}, {187.6985f, 149.17575f},
        {187.64043f, 149.25806f}, {187.58215f, 149.34033f}, {187.52419f, 149.42273f}, {187.46602f, 149.50507f},
        {187.40807f, 149.58781f}, {187.34975f, 149.67027f}, {187.29144f, 149.75288f}, {187.35037f, 149.67058f},
        {187.40933f, 149.58864f}, {187.4677f, 149.50655f}, {187.52641f, 149.42424f}, {187.58461f, 149.3422f},
        {187.64256f, 149.25983f}, {187.70067f, 149.17712f}, {187.75847f, 149.09457f}, {187.81633f, 149.01161f},
        {187.87376f, 148.92868f}, {187.93155f, 148.8458f}});
    const Contour plate = rectangle(180, 140, 195, 160);
    s = evenStack({{plate, crescent}, {plate, crescent}}, 0.1);
    QTest::newRow("sliver hole turned over by the grid")
        << s.slices << evenStack({{plate}, {plate}}, 0.1).volume << 2 << 0.0f << -1;
    // The same kind of crescent, 0.13 micrometres wide on average once
    // cleaned up, shifted a little from one layer to the next: the faces
    // between the two slivers cannot be closed in float. Holes and islands
    // narrower than the grid step are left out.
    const Contour crescent0(QVector<Point2Df>{
        {176.7687f, 120.30708f}, {176.6932f, 120.328445f}, {176.61743f, 120.35011f}, {176.54211f, 120.37143f},
        {176.46623f, 120.393105f}, {176.39088f, 120.4147f}, {176.3153f, 120.43652f}, {176.23997f, 120.458664f},
        {176.16454f, 120.4806f}, {176.08925f, 120.50212f}, {176.01433f, 120.524506f}, {175.93878f, 120.54661f},
        {175.86316f, 120.56854f}, {175.78796f, 120.59072f}, {175.71214f, 120.613075f}, {175.78766f, 120.5912f},
        {175.86328f, 120.56892f}, {175.9389f, 120.54706f}, {176.01398f, 120.52501f}, {176.08987f, 120.503334f},
        {176.16476f, 120.48138f}, {176.24037f, 120.459335f}, {176.31563f, 120.43777f}, {176.391f, 120.41597f},
        {176.4668f, 120.39392f}, {176.54199f, 120.372406f}, {176.61737f, 120.35049f}, {176.69284f, 120.328896f},
        {176.76895f, 120.30707f}, {176.84453f, 120.2857f}});
    const Contour crescent1(QVector<Point2Df>{
        {176.84659f, 120.27954f}, {176.77148f, 120.301544f}, {176.69612f, 120.324005f}, {176.62057f, 120.34574f},
        {176.54521f, 120.36805f}, {176.46988f, 120.39074f}, {176.3946f, 120.41297f}, {176.3194f, 120.43526f},
        {176.24428f, 120.45779f}, {176.16916f, 120.48094f}, {176.09422f, 120.50332f}, {176.01869f, 120.52635f},
        {175.94382f, 120.548935f}, {175.86826f, 120.57165f}, {175.79303f, 120.59489f}, {175.8682f, 120.57225f},
        {175.9439f, 120.54909f}, {176.01904f, 120.52681f}, {176.09454f, 120.50408f}, {176.1696f, 120.481224f},
        {176.24481f, 120.45899f}, {176.3196f, 120.436516f}, {176.39476f, 120.41389f}, {176.47017f, 120.391594f},
        {176.54564f, 120.36896f}, {176.62068f, 120.34687f}, {176.69594f, 120.32454f}, {176.77156f, 120.30187f},
        {176.84697f, 120.27931f}, {176.9224f, 120.25721f}});
    const Contour slab = rectangle(170, 115, 185, 127);
    s = evenStack({{slab, crescent0}, {slab, crescent1}}, 0.2);
    QTest::newRow("sliver holes shifted between layers")
        << s.slices << evenStack({{slab}, {slab}}, 0.2).volume << 2 << 0.0f << -1;

    // Two scanned blocks side by side, one outline on the layers below and
    // above; between them the corner of the right one lies on the left one's
    // edge, and its edge leans away by 0.4 micrometres over 2 mm: the two run
    // back to back within a grid step along 1.4 mm, where the faces below and
    // above split both walls (an edge used by four facets). They are merged
    // into one outline there, with the sliver between them.
    const Contour joined(QVector<Point2Df>{{11.85f, 2.6872f}, {11.8504f, 2.1872f}, {9.7228f, 2.1872f}, {9.7228f, 0.4528f},
                                           {11.8504f, 0.4528f}, {11.8504f, 0.7528f}, {13.9776f, 0.7528f}, {13.9776f, 2.6872f}});
    const Contour leftBlock = rectangle(9.7228f, 0.4528f, 11.85f, 2.1872f);
    const Contour leaning(QVector<Point2Df>{{11.85f, 0.7564f}, {13.9776f, 0.7564f}, {13.9776f, 2.6872f}, {11.8504f, 2.6872f}});
    const Contour merged(QVector<Point2Df>{{9.7228f, 0.4528f}, {11.85f, 0.4528f}, {11.85f, 0.7564f}, {13.9776f, 0.7564f},
                                           {13.9776f, 2.6872f}, {11.8504f, 2.6872f}, {11.8504f, 2.1872f}, {9.7228f, 2.1872f}});
    s = evenStack({{joined}, {leftBlock, leaning}, {joined}}, 0.1);
    QTest::newRow("blocks back to back along a stretch")
        << s.slices << evenStack({{joined}, {merged}, {joined}}, 0.1).volume << 2 << 0.0f << -1;

    // A scanned island's corner lies on the edge of its neighbour (a sliver
    // island) and leaves it at 1.5 degrees: near the corner the two edges are
    // closer than the faces can tell apart, and the walls of both were split
    // at it (an edge used by four facets). The corner is cut off the edge.
    const Contour sliverIsland(QVector<Point2Df>{{11.053731f, 20.6280537f}, {10.2309656f, 17.4544582f},
                                                 {10.3704081f, 17.8542862f}, {10.549511f, 18.3757324f},
                                                 {10.7537327f, 19.032196f}, {10.8871088f, 19.5543365f},
                                                 {10.980978f, 20.0388565f}});
    const Contour band(QVector<Point2Df>{
        {11.3972673f, 17.2448864f}, {11.451086f, 17.4044571f}, {11.5036669f, 17.565012f}, {11.5538721f, 17.7266884f},
        {11.610424f, 17.8885536f}, {11.6618309f, 18.051939f}, {11.7140656f, 18.2162457f}, {11.7658873f, 18.3816357f},
        {11.8166142f, 18.5481873f}, {11.8613548f, 18.7160854f}, {11.911871f, 18.8848896f}, {11.9537172f, 19.0550156f},
        {11.993001f, 19.2073479f}, {10.8056688f, 19.2035847f}, {10.7657986f, 19.0584946f}, {10.7264719f, 18.9220161f},
        {10.6858006f, 18.7864399f}, {10.643959f, 18.6517715f}, {10.6011248f, 18.5180035f}, {10.5574703f, 18.3851242f},
        {10.5131645f, 18.2531128f}, {10.4683733f, 18.1219406f}, {10.4232569f, 17.9915752f}, {10.3779716f, 17.8619728f},
        {10.3326654f, 17.7330894f}, {10.2874813f, 17.6048679f}, {10.2425547f, 17.477253f}, {10.1980114f, 17.3501759f},
        {10.1539698f, 17.2235718f}});
    // Beside a plate of 64 square mm: the corner cut takes about 2e-4 of them.
    s = stackAt({0.0, 0.1}, {{rectangle(0, 0, 8, 8), sliverIsland, band}, {}});
    QTest::newRow("island corner on an edge, leaving it at a shallow angle") << s.slices << s.volume << 6 << 0.0f << -1;

    // Squares touching at their corners 300 mm from the origin: the corner cut
    // that parts them must reach beyond what the faces can tell apart there
    // (a few float steps at that magnitude), else pieces of the faces were
    // placed on the wrong square's edges (18 unpaired edges).
    auto far = [](const Contour &c) {
        QVector<Point2Df> points = c.points();
        for (Point2Df &p : points)
            p = Point2Df(p.x + 300, p.y + 300);
        return Contour(points);
    };
    const QVector<Contour> cornerToCorner{far(rectangle(0, 0, 2, 2)), far(rectangle(2, 2, 4, 4))};
    const QVector<Contour> cornerToCornerWide{far(rectangle(0, 0, 2.5f, 2)), far(rectangle(2.5f, 2, 4, 4))};
    s = evenStack({cornerToCorner, cornerToCornerWide, cornerToCorner, cornerToCornerWide}, 0.1);
    QTest::newRow("contours touching at a vertex, far from the origin") << s.slices << s.volume << 4 << 0.0f << -1;

    layers.clear();
    for (int i = 0; i < 6; ++i)
        layers.append({circle(0, 0, 3 + 0.3 * (i % 3), vertexCount(i, 20), startAngle(i))});
    s = stackAt({0, 0.1, 0.2, 0.2005, 0.3, 0.4}, layers);
    QTest::newRow("very thin layer") << s.slices << s.volume << 2 << 0.0f << -1;

    // A sliced round part 280 mm from the origin: where the outline is
    // widest, the vertex of one layer lies a grid step (0.4 micrometres)
    // from the other's, closer than the faces between them can tell apart
    // at that magnitude (6 unpaired and 2 overused edges). The two layers
    // are parted by a hair there: more shells, the same volume.
    auto roundPart = [](double shift) {
        QVector<Point2Df> points;
        for (int i = 0; i < 24; ++i) {
            const double a = 2.0 * M_PI * i / 24;
            points.append(Point2Df(float(275.0 + 3.966 * std::cos(a)), float(190.0 + 3.966 * std::sin(a) + (i == 0 ? shift : 0.0))));
        }
        return QVector<Contour>{Contour(points)};
    };
    s = evenStack({roundPart(0), roundPart(0.0004), roundPart(0), roundPart(0.0004)}, 0.2);
    QTest::newRow("outlines a grid step apart, far from the origin") << s.slices << s.volume << 4 << 0.0f << 2;

    // An outline with a needle, two grid steps wide at its base and 1.8 mm
    // long, as an island that followed the outline at a tiny gap leaves it;
    // the next layer's corner lies inside it where its two edges are closer
    // than the faces can tell apart, so the faces split the walls of both at
    // that corner. The layers had to be parted by a hair there (three
    // shells), and where that did not close either, an edge was used by four
    // facets (seed 2711 of the seeded stacks). Its tip is cut off instead.
    const Contour needle(QVector<Point2Df>{{0, 0}, {10, 0}, {10, 10}, {5.0004f, 10}, {5, 11.8f}, {4.9996f, 10}, {0, 10}});
    const Contour roof(QVector<Point2Df>{{0, 0}, {10, 0}, {10, 10}, {5, 11.7f}, {0, 10}});
    s = evenStack({{needle}, {roof}, {needle}}, 0.1);
    QTest::newRow("needle narrower than the faces can tell apart") << s.slices << s.volume << 2 << 0.0f << -1;
}

void TestStlManifold::slicerLikeStacks_data()
{
    addStacks();
}

void TestStlManifold::slicerLikeStacks()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(double, volume);
    QFETCH(int, euler);
    QFETCH(float, thickness);

    const QByteArray bytes = exportStl(slices, nullptr, thickness);
    QVERIFY(!bytes.isEmpty());
    const stltest::StlFile stl = stltest::readStl(bytes);
    QVERIFY(stl.valid);
    QCOMPARE(int(stl.count), stl.facets.size());
    const stltest::MeshReport mesh = stltest::checkMesh(stl.facets);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), euler);
    QVERIFY2(std::fabs(mesh.volume - volume) <= 1e-5 * volume,
             qPrintable(QStringLiteral("volume %1, slices %2").arg(mesh.volume, 0, 'g', 10).arg(volume, 0, 'g', 10)));
}

void TestStlManifold::admeshAcceptsTheModel_data()
{
    addStacks();
}

// admesh, with its usual repair options, finds nothing to repair: no facet
// without neighbours, none reversed, the volume as written.
void TestStlManifold::admeshAcceptsTheModel()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(double, volume);
    QFETCH(int, euler);
    QFETCH(float, thickness);
    QFETCH(int, parts);
    if (parts < 0)
        parts = euler == 0 ? 1 : euler / 2;

    const QString admesh = QStandardPaths::findExecutable(QStringLiteral("admesh"));
    if (admesh.isEmpty())
        QSKIP("admesh is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("model.stl"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray bytes = exportStl(slices, nullptr, thickness);
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    QProcess process;
    process.start(admesh, {QStringLiteral("-e"), QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-f"),
                           QStringLiteral("-d"), path});
    QVERIFY(process.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    auto number = [&](const QString &label) {
        const QRegularExpressionMatch m
            = QRegularExpression(QRegularExpression::escape(label) + QStringLiteral("\\s*:?\\s*(-?[0-9.e+-]+)")).match(out);
        return m.hasMatch() ? m.captured(1).toDouble() : std::nan("");
    };
    for (const char *label : {"Total disconnected facets", "Facets reversed", "Backwards edges", "Facets added",
                              "Facets removed", "Degenerate facets", "Edges fixed"})
        QVERIFY2(number(QLatin1String(label)) == 0, qPrintable(QString::fromLatin1(label) + QLatin1Char('\n') + out));
    QCOMPARE(number(QStringLiteral("Number of parts")), double(parts));
    QVERIFY2(std::fabs(number(QStringLiteral("Volume")) - volume) <= 1e-4 * volume, qPrintable(out));
}

// A slice whose contours all run clockwise gives no outline: the run says
// which, numbered from 1, and only for the slices it exported.
void TestStlManifold::slicesWithoutOutline()
{
    const QVector<Contour> square{rectangle(0, 0, 2, 2)};
    Contour clockwise(QVector<Point2Df>{{0, 0}, {0, 2}, {2, 2}, {2, 0}});
    QList<QVector<Contour>> layers{square, {clockwise}, square, {}, {clockwise, clockwise}, square};
    const Stack s = evenStack(layers, 0.1);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: slice 2 .*empty outline"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: slice 5 .*empty outline"));
    StlExporter *exporter = nullptr;
    QVERIFY(!exportStl(s.slices, &exporter).isEmpty());
    QCOMPARE(exporter->slicesWithoutOutline(), (QVector<int>{2, 5}));
    delete exporter;

    // With a minimum thickness that skips slice 2, only slice 5 is left.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StlExporter skipping(&buffer, s.slices);
    skipping.setMinimumThickness(0.2f);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: slice 5 .*empty outline"));
    skipping.run();
    QVERIFY(skipping.succeeded());
    QCOMPARE(skipping.slicesWithoutOutline(), (QVector<int>{5}));

    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    StlExporter clean(&empty, evenStack({square, square}, 0.1).slices);
    clean.run();
    QVERIFY(clean.slicesWithoutOutline().isEmpty());
}

namespace {

// A sphere of 120 layers, many more than are built at once.
QList<Slice> sphere120()
{
    QList<QVector<Contour>> layers;
    for (int i = 0; i < 120; ++i) {
        const double zc = -6.0 + (i + 0.5) * 0.1;
        layers.append({circle(0, 0, std::sqrt(36.0 - zc * zc), vertexCount(i, 30), startAngle(i))});
    }
    return evenStack(layers, 0.1).slices;
}

// An export into a buffer, cancelled when it reports the progress value cancelAt.
stltest::Export runExport(const QList<Slice> &slices, int cancelAt = -1)
{
    return stltest::exportSlices(slices, 0, [cancelAt](StlExporter &exporter, int value) {
        if (value == cancelAt)
            exporter.cancel();
    });
}

float topOf(const QVector<geom::Facet> &facets)
{
    float z = -1;
    for (const geom::Facet &f : facets)
        z = std::max({z, f.vertex1.z, f.vertex2.z, f.vertex3.z});
    return z;
}

} // namespace

// The layers are built in parallel but written in order: the same bytes every
// time, progress counting up slice by slice.
void TestStlManifold::manyLayers()
{
    const QList<Slice> slices = sphere120();
    const stltest::Export first = runExport(slices), second = runExport(slices);
    QVERIFY(first.succeeded);
    QCOMPARE(first.finished, 1);
    QCOMPARE(first.bytes, second.bytes);
    QList<int> expected;
    for (int i = 0; i <= slices.size(); ++i)
        expected.append(i);
    QCOMPARE(first.progress, expected);
    const stltest::StlFile stl = stltest::readStl(first.bytes);
    const stltest::MeshReport mesh = stltest::checkMesh(stl.facets);
    QVERIFY2(mesh.faults().isEmpty(), qPrintable(mesh.faults()));
    QCOMPARE(mesh.euler(), 2);
}

// A cancel in the middle stops after that slice, whatever is being built
// ahead of it: the file holds the layers up to it, open at the top.
void TestStlManifold::manyLayersCancelled()
{
    const QList<Slice> slices = sphere120();
    const stltest::Export run = runExport(slices, 37);
    QVERIFY(run.cancelled);
    QVERIFY(!run.succeeded);
    QCOMPARE(run.finished, 1);
    QCOMPARE(run.progress.size(), 38);
    QCOMPARE(run.progress.last(), 37);
    const stltest::StlFile stl = stltest::readStl(run.bytes);
    QVERIFY(stl.valid);
    QCOMPARE(int(stl.count), stl.facets.size());
    QCOMPARE(topOf(stl.facets), slices[37].z());
    QVERIFY(stltest::checkMesh(stl.facets).unpairedEdges > 0);
}

// A slice that cannot be exported ends the run there, with the reason.
void TestStlManifold::manyLayersFailing()
{
    QList<Slice> slices = sphere120();
    slices[60] = Slice(slices[60].z(), 0.1f,
                       QVector<Contour>{Contour(QVector<Point2Df>{{0, 0}, {1, 0}, {std::nanf(""), 1}})});
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^StlExporter: Slice 61 "));
    const stltest::Export run = runExport(slices);
    QVERIFY(!run.succeeded);
    QVERIFY(!run.cancelled);
    QCOMPARE(run.finished, 1);
    QVERIFY2(run.error.contains(QLatin1String("Slice 61")), qPrintable(run.error));
    QCOMPARE(run.progress.last(), 59);
    const stltest::StlFile stl = stltest::readStl(run.bytes);
    QCOMPARE(int(stl.count), stl.facets.size());
    QCOMPARE(topOf(stl.facets), slices[59].z());
}

QTEST_GUILESS_MAIN(TestStlManifold)
#include "tst_stlmanifold.moc"
