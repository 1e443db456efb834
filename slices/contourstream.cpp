// The data-stream record of a contour and the hand-over to Qt's painting
// classes.

#include "contour.h"

#include "streamcheck_p.h"

#include <QDataStream>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <utility>

namespace {

using geom::Point2Df;

bool readRecord(QDataStream &stream, QVector<Contour> &children, QVector<Point2Df> &points, int depth);

// A whole record as a new contour; false (and the stream's status set) when the
// record is not complete and sound.
bool readContour(QDataStream &stream, Contour &contour, int depth)
{
    QVector<Contour> children;
    QVector<Point2Df> points;
    if (!readRecord(stream, children, points, depth))
        return false;
    contour = Contour(std::move(points));
    for (Contour &child : children)
        contour.addChild(std::move(child));
    return true;
}

bool readRecord(QDataStream &stream, QVector<Contour> &children, QVector<Point2Df> &points, int depth)
{
    if (!slicestream::depthFits(depth)) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    qint32 count = 0;
    stream >> count;
    // Every child needs a record of its own, and this contour's point count
    // follows them.
    if (stream.status() != QDataStream::Ok || !slicestream::countFits(stream, count, slicestream::minContourRecordBytes, 4))
        return false;
    for (qint32 i = 0; i < count; ++i) {
        Contour child;
        if (!readContour(stream, child, depth + 1))
            return false;
        children.append(std::move(child));
    }
    return geom::readRaw2Df(stream, points) >= 0 && stream.status() == QDataStream::Ok;
}

void writeRecord(QDataStream &stream, const Contour &contour)
{
    stream << qint32(contour.children().size());
    for (const Contour &child : contour.children())
        writeRecord(stream, child);
    geom::writeRaw2Df(stream, contour.points().constData(), contour.points().size());
}

} // namespace

QDataStream &operator<<(QDataStream &stream, const Contour &contour)
{
    if (slicestream::writable(stream, contour))
        writeRecord(stream, contour);
    return stream;
}

QDataStream &operator>>(QDataStream &stream, Contour &contour)
{
    if (stream.status() != QDataStream::Ok)
        return stream;
    QVector<Contour> children;
    QVector<Point2Df> points;
    if (!readRecord(stream, children, points, 0))
        return stream;
    for (Contour &child : children)
        contour.addChild(std::move(child));
    contour.m_points = std::move(points);
    contour.invalidate();
    return stream;
}

void Contour::draw(QPainter *painter) const
{
    QPolygonF polygon;
    polygon.reserve(m_points.size());
    for (const Point2Df &p : m_points)
        polygon.append(p.toPointF());
    painter->drawPolygon(polygon.constData(), polygon.size(), Qt::OddEvenFill);
}

QPainterPath &Contour::toPainterPath(QPainterPath &path) const
{
    if (!m_points.isEmpty()) {
        path.moveTo(m_points.constFirst().toPointF());
        for (int i = 1; i < m_points.size(); ++i)
            path.lineTo(m_points.at(i).toPointF());
    }
    for (const Contour &child : children())
        child.toPainterPath(path);
    return path;
}

QPolygonF Contour::toPolygonF() const
{
    QPolygonF polygon;
    polygon.reserve(vertexCount());
    for (const Point2Df &p : m_points)
        polygon.append(p.toPointF());
    for (const Contour &child : children())
        polygon += child.toPolygonF();
    return polygon;
}
