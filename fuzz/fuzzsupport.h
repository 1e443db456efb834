#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

// Helpers shared by the fuzz targets and their seed writers.

#include "contour.h"
#include "slctestutil.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzzsupport {

// A read-only device that, like a pipe, cannot tell how much data is left.
using SequentialReader = slctest::PipeDevice;

// Aborts with the message, so that libFuzzer keeps the input.
inline void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

inline bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline Contour square(float x, float y, float size, bool clockwise)
{
    const geom::Point2Df ccw[] = {{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}};
    const geom::Point2Df cw[] = {{x, y}, {x, y + size}, {x + size, y + size}, {x + size, y}};
    return Contour(clockwise ? cw : ccw, 4);
}

inline bool saveSeed(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace fuzzsupport

#endif // FUZZSUPPORT_H
