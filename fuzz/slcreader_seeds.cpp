// Writes the seed corpus of slcreader_fuzz into the folder given as argument:
// small files made by our own writer, plus a few layouts the writer never
// produces (several sample-table entries, no layer at all, a header over
// several lines, a cut-off file). One file has layers enough for the parallel
// reader to read it in several blocks and jobs.

#include "fuzzsupport.h"
#include "slcwriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstdio>

namespace {

using geom::Point2Df;

using fuzzsupport::square;

QByteArray write(const QList<Slice> &slices, const QByteArray &header, bool countGaps)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    SlcWriter writer(&buffer);
    if (!header.isEmpty() && !writer.setHeader(header))
        std::fprintf(stderr, "header refused: %s\n", header.constData());
    writer.writeSlices(slices, countGaps);
    writer.finish();
    return bytes;
}

void appendFloat(QByteArray &bytes, float value)
{
    char b[4];
    qToLittleEndian(value, b);
    bytes.append(b, 4);
}

void appendInt(QByteArray &bytes, qint32 value)
{
    char b[4];
    qToLittleEndian(value, b);
    bytes.append(b, 4);
}

QByteArray preamble(const QByteArray &text, int sampleEntries)
{
    QByteArray bytes = text + QByteArray("\r\n\x1A", 3) + QByteArray(256, '\0');
    bytes.append(char(sampleEntries));
    for (int i = 0; i < sampleEntries; ++i) {
        appendFloat(bytes, 0.1f * float(i));
        appendFloat(bytes, 0.1f);
        appendFloat(bytes, 0.0f);
        appendFloat(bytes, 0.0f);
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: slcreader_seeds <folder>\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    QList<Slice> triangle;
    triangle << Slice(1.0f, 0.1f, QVector<Contour>{Contour(Point2Df(0, 0), Point2Df(1, 0), Point2Df(0, 1))});

    QList<Slice> part;
    for (int i = 0; i < 3; ++i) {
        const float z = 0.1f * float(i + 1);
        part << Slice(z, 0.1f, QVector<Contour>{square(0, 0, 4, false), square(1, 1, 2, true)});
    }
    part << Slice(0.4f, 0.1f);

    const Point2Df gappy[] = {{0, 0}, {2, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 2}, {0, 0}};
    QList<Slice> gaps;
    gaps << Slice(0.5f, 0.25f, QVector<Contour>{Contour(gappy, 7), square(5, 5, 1, false)});

    QList<Slice> many;
    for (int i = 0; i < 40; ++i) {
        QVector<Contour> contours;
        for (int c = 0; c < 1 + i % 3; ++c) {
            const int n = i == 20 && c == 0 ? 600 : 4 + (i * 7 + c * 5) % 17;
            QVector<Point2Df> points;
            for (int k = 0; k < n; ++k)
                points << Point2Df(float(c) + 0.01f * float(k), float(i) - 0.02f * float(k % 7));
            contours << Contour(std::move(points));
        }
        many << Slice(0.5f + 0.1f * float(i), 0.1f, contours);
    }

    QList<Slice> inches;
    inches << Slice(1.0f, 1.0f, QVector<Contour>{square(1, 2, 0.5f, false)});

    QByteArray sampleTable = preamble("-SLCVER 2.0 -UNIT MM -TYPE PART", 3);
    appendFloat(sampleTable, 0.2f);
    appendInt(sampleTable, 1);
    appendInt(sampleTable, 3);
    appendInt(sampleTable, 0);
    for (const Point2Df &p : {Point2Df(0, 0), Point2Df(1, 1), Point2Df(0, 1)}) {
        appendFloat(sampleTable, p.x);
        appendFloat(sampleTable, p.y);
    }
    appendFloat(sampleTable, 0.3f);
    appendInt(sampleTable, -1);

    QByteArray empty = preamble("-SLCVER 2.0 -UNIT MM -TYPE PART", 1);
    appendFloat(empty, 0.0f);
    appendInt(empty, -1);

    const QByteArray cut = write(part, QByteArray(), false);

    const bool ok = fuzzsupport::saveSeed(dir, QStringLiteral("triangle.slc"), write(triangle, QByteArray(), false))
        && fuzzsupport::saveSeed(dir, QStringLiteral("part.slc"), write(part, QByteArray(), false))
        && fuzzsupport::saveSeed(dir, QStringLiteral("gaps.slc"), write(gaps, QByteArray(), true))
        && fuzzsupport::saveSeed(dir, QStringLiteral("manylayers.slc"), write(many, QByteArray(), false))
        && fuzzsupport::saveSeed(dir, QStringLiteral("inch.slc"), write(inches, "-SLCVER 2.0 -UNIT INCH -TYPE PART", false))
        && fuzzsupport::saveSeed(dir, QStringLiteral("multiline.slc"), write(triangle, "-SLCVER 2.0\r\n-UNIT MM\r\n-TYPE PART", false))
        && fuzzsupport::saveSeed(dir, QStringLiteral("sampletable.slc"), sampleTable)
        && fuzzsupport::saveSeed(dir, QStringLiteral("nolayers.slc"), empty)
        && fuzzsupport::saveSeed(dir, QStringLiteral("cut.slc"), cut.left(cut.size() - 30));
    return ok ? 0 : 1;
}
