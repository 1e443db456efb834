// Writes the sample part that ships with the viewer:
//   makesample <output.slc>
//
// The part is a mounting bracket, 300 layers of 0.1 mm, built so that browsing it shows what
// the viewer has to cope with: holes whose size changes with height (counterbored bolt
// holes), a wall whose outline shrinks from layer to layer, a cross bore that splits the
// wall into two islands over a few millimetres, and a separate spacer sleeve beside the
// bracket that starts and ends mid-height. Outer contours run counter-clockwise, holes
// clockwise. The file is read back and compared before it replaces the output, so a broken
// writer or reader fails the build instead of shipping a bad sample.

#include "contour.h"
#include "point2d.h"
#include "slcreader.h"
#include "slcwriter.h"
#include "slice.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QSaveFile>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int layerCount = 300;
constexpr double layerThickness = 0.1;

// Bracket base: a plate with rounded corners, 60 x 40 mm, 8 mm high.
constexpr double plateWidth = 60.0;
constexpr double plateDepth = 40.0;
constexpr double plateHeight = 8.0;
constexpr double plateCornerRadius = 5.0;
constexpr double boltRadius = 3.0;
constexpr double counterboreRadius = 5.0;
constexpr double counterboreStart = 5.0;   // height where the counterbore opens up

// Upright wall on the back edge of the plate, narrowing towards the top.
constexpr double wallFront = 28.0;
constexpr double wallInsetAtTop = 12.0;     // per side, at the top of the part
constexpr double boreCentreX = 30.0;
constexpr double boreCentreZ = 19.0;
constexpr double boreRadius = 5.0;

// Spacer sleeve printed next to the bracket.
constexpr double sleeveCentreX = 76.0;
constexpr double sleeveCentreY = 20.0;
constexpr double sleeveOuterRadius = 7.0;
constexpr double sleeveInnerRadius = 3.5;
constexpr double sleeveBottom = 4.0;
constexpr double sleeveTop = 20.0;
constexpr double sleeveChamfer = 1.0;

constexpr double pi = 3.14159265358979323846;

geom::Point2Df point(double x, double y)
{
    return geom::Point2Df(float(x), float(y));
}

// Circles are started at angle 0 and walked in the requested sense.
Contour circle(double cx, double cy, double r, bool clockwise, int segments = 48)
{
    QVector<geom::Point2Df> points;
    points.reserve(segments);
    for (int i = 0; i < segments; ++i) {
        const double a = 2.0 * pi * i / segments * (clockwise ? -1.0 : 1.0);
        points.append(point(cx + r * std::cos(a), cy + r * std::sin(a)));
    }
    return Contour(points);
}

Contour roundedRectangle(double x0, double y0, double x1, double y1, double r)
{
    const int arcSegments = 8;
    const double corners[4][3] = {
        {x1 - r, y0 + r, -0.5 * pi},
        {x1 - r, y1 - r, 0.0},
        {x0 + r, y1 - r, 0.5 * pi},
        {x0 + r, y0 + r, pi},
    };
    QVector<geom::Point2Df> points;
    points.reserve(4 * (arcSegments + 1));
    for (const auto &corner : corners) {
        for (int i = 0; i <= arcSegments; ++i) {
            const double a = corner[2] + 0.5 * pi * i / arcSegments;
            points.append(point(corner[0] + r * std::cos(a), corner[1] + r * std::sin(a)));
        }
    }
    return Contour(points);
}

Contour rectangle(double x0, double y0, double x1, double y1)
{
    return Contour(QVector<geom::Point2Df>{point(x0, y0), point(x1, y0), point(x1, y1), point(x0, y1)});
}

void addPlate(QVector<Contour> &contours, double z)
{
    contours.append(roundedRectangle(0.0, 0.0, plateWidth, plateDepth, plateCornerRadius));
    const double holeRadius = z >= counterboreStart ? counterboreRadius : boltRadius;
    for (double x : {8.0, plateWidth - 8.0}) {
        for (double y : {8.0, plateDepth - 8.0})
            contours.append(circle(x, y, holeRadius, true));
    }
}

void addWall(QVector<Contour> &contours, double z)
{
    const double t = (z - plateHeight) / (layerCount * layerThickness - plateHeight);
    const double inset = wallInsetAtTop * t;
    const double left = inset;
    const double right = plateWidth - inset;
    const double dz = z - boreCentreZ;
    if (std::abs(dz) < boreRadius) {
        const double halfWidth = std::sqrt(boreRadius * boreRadius - dz * dz);
        contours.append(rectangle(left, wallFront, boreCentreX - halfWidth, plateDepth));
        contours.append(rectangle(boreCentreX + halfWidth, wallFront, right, plateDepth));
    } else {
        contours.append(rectangle(left, wallFront, right, plateDepth));
    }
}

void addSleeve(QVector<Contour> &contours, double z)
{
    if (z < sleeveBottom || z > sleeveTop)
        return;
    const double fromEnd = std::min(z - sleeveBottom, sleeveTop - z);
    const double outer = sleeveOuterRadius - std::max(0.0, sleeveChamfer - fromEnd);
    contours.append(circle(sleeveCentreX, sleeveCentreY, outer, false, 64));
    contours.append(circle(sleeveCentreX, sleeveCentreY, sleeveInnerRadius, true));
}

QList<Slice> makeSlices()
{
    QList<Slice> slices;
    slices.reserve(layerCount);
    for (int k = 0; k < layerCount; ++k) {
        const float z = float(k * layerThickness);
        // Sample the solid in the middle of the layer, never on a feature's boundary height.
        const double middle = (k + 0.5) * layerThickness;
        QVector<Contour> contours;
        if (middle < plateHeight)
            addPlate(contours, middle);
        else
            addWall(contours, middle);
        addSleeve(contours, middle);
        slices.append(Slice(z, float(layerThickness), contours));
    }
    return slices;
}

// Sound geometry in the list we are about to write: orientation says material or hole.
bool checkOrientation(const QList<Slice> &slices)
{
    for (const Slice &slice : slices) {
        int outer = 0;
        for (int i = 0; i < slice.contourCount(); ++i)
            outer += slice.contourAt(i).area() > 0.0 ? 1 : 0;
        if (outer == 0)
            return false;
    }
    return true;
}

QString compare(const QList<Slice> &written, const QList<Slice> &read)
{
    if (read.size() != written.size())
        return QStringLiteral("%1 slices read back, %2 written").arg(read.size()).arg(written.size());
    for (int s = 0; s < written.size(); ++s) {
        const Slice &a = written.at(s);
        const Slice &b = read.at(s);
        if (a.z() != b.z() || a.contourCount() != b.contourCount())
            return QStringLiteral("slice %1 differs in z or contour count").arg(s + 1);
        if (std::abs(a.thickness() - b.thickness()) > 1e-5f)
            return QStringLiteral("slice %1 reads back %2 mm thick").arg(s + 1).arg(double(b.thickness()));
        for (int c = 0; c < a.contourCount(); ++c) {
            if (a.contourAt(c).points() != b.contourAt(c).points())
                return QStringLiteral("slice %1, contour %2 differs").arg(s + 1).arg(c + 1);
        }
    }
    return QString();
}

int fail(const QString &message)
{
    std::fprintf(stderr, "makesample: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: makesample <output.slc>\n");
        return 2;
    }

    const QList<Slice> slices = makeSlices();
    if (!checkOrientation(slices))
        return fail(QStringLiteral("a layer without counter-clockwise outer contour"));

    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        SlcWriter writer(&buffer);
        if (writer.writeSlices(slices, false) != slices.size() || !writer.finish())
            return fail(QStringLiteral("writing the slices failed"));
    }

    QBuffer input(&bytes);
    input.open(QIODevice::ReadOnly);
    SlcReader reader(&input);
    const QString difference = compare(slices, reader.readSlices(false, -1));
    if (!difference.isEmpty())
        return fail(QStringLiteral("read-back check failed: ") + difference);

    QSaveFile file(args.at(1));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(args.at(1), file.errorString()));
    return 0;
}
