#ifndef BENCHSLICES_H
#define BENCHSLICES_H

#include "contour.h"

#include <QTemporaryDir>
#include <QVector>

#include <cmath>
#include <utility>

// Data the slice benchmarks share: a folder for their files, removed at exit, and a regular
// polygon as a slicer writes a round outline.
inline QTemporaryDir &benchTempDir()
{
    static QTemporaryDir dir;
    return dir;
}

inline Contour regularPolygon(float cx, float cy, float radius, int n, float phase)
{
    QVector<geom::Point2Df> points;
    points.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double a = phase + 2.0 * M_PI * i / n;
        points.append(geom::Point2Df(cx + radius * float(std::cos(a)), cy + radius * float(std::sin(a))));
    }
    return Contour(std::move(points));
}

#endif // BENCHSLICES_H
