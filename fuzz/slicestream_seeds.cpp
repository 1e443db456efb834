// Writes the seed corpus of slicestream_fuzz into the folder given as
// argument: contour and slice records made by our own stream operators in
// each byte order and precision, nested ones, and a few cut-off or damaged
// records. The first byte of every seed is the fuzz target's mode byte.

#include "fuzzsupport.h"
#include "slice.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

using geom::Point2Df;

using fuzzsupport::square;

template <typename T>
QByteArray record(const T &value, char mode)
{
    QByteArray bytes(1, mode);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly | QIODevice::Append);
    QDataStream stream(&buffer);
    stream.setByteOrder((mode & 1) ? QDataStream::LittleEndian : QDataStream::BigEndian);
    stream.setFloatingPointPrecision((mode & 2) ? QDataStream::DoublePrecision : QDataStream::SinglePrecision);
    stream << value;
    fuzzsupport::check(stream.status() == QDataStream::Ok, "a seed record was not written");
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: slicestream_seeds <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    // Outer boundary, a hole in it, an island in the hole, and a separate part.
    const Slice flat(0.5f, 0.1f,
                     QVector<Contour>{square(0, 0, 10, false), square(2, 2, 6, true), square(4, 4, 2, false),
                                      square(20, 0, 3, false)});
    Slice grouped = flat;
    grouped.setFormat(2);

    Contour nested = square(0, 0, 10, false);
    Contour hole = square(2, 2, 6, true);
    hole.addChild(square(4, 4, 2, false));
    nested.addChild(hole);

    Contour deep = square(0, 0, 1, false);
    for (int i = 0; i < 40; ++i) {
        Contour parent;
        parent.addChild(deep);
        deep = parent;
    }

    // As deep as a record may nest: the writer and the readers meet here.
    Contour deepest = square(0, 0, 1, false);
    for (int i = 0; i < Contour::maxStreamDepth; ++i) {
        Contour parent;
        parent.addChild(deepest);
        deepest = parent;
    }

    const QByteArray flatRecord = record(flat, 0);
    QByteArray twoSlices = record(flat, 1);
    twoSlices += record(grouped, 1).mid(1);

    bool ok = fuzzsupport::saveSeed(dir, QStringLiteral("flat-be-single"), flatRecord)
        && fuzzsupport::saveSeed(dir, QStringLiteral("flat-le-single"), record(flat, 1))
        && fuzzsupport::saveSeed(dir, QStringLiteral("flat-be-double"), record(flat, 2))
        && fuzzsupport::saveSeed(dir, QStringLiteral("grouped"), record(grouped, 0))
        && fuzzsupport::saveSeed(dir, QStringLiteral("two-slices"), twoSlices)
        && fuzzsupport::saveSeed(dir, QStringLiteral("empty-slice"), record(Slice(1.0f, 0.2f), 0))
        && fuzzsupport::saveSeed(dir, QStringLiteral("contour-nested"), record(nested, 4))
        && fuzzsupport::saveSeed(dir, QStringLiteral("contour-deep"), record(deep, 5))
        && fuzzsupport::saveSeed(dir, QStringLiteral("contour-deepest"), record(deepest, 5))
        && fuzzsupport::saveSeed(dir, QStringLiteral("slice-deepest"),
                                 record(Slice(2.0f, 0.1f, QVector<Contour>{deepest, square(5, 0, 1, false)}), 1))
        && fuzzsupport::saveSeed(dir, QStringLiteral("contour-triangle"), record(Contour({0, 0}, {1, 0}, {0, 1}), 6))
        && fuzzsupport::saveSeed(dir, QStringLiteral("flat-cut"), flatRecord.left(flatRecord.size() - 11));
    return ok ? 0 : 1;
}
