// Slice members that convert between the three contour formats, the slice's
// data-stream record and its painting.

#include "slice.h"

#include "streamcheck_p.h"

#include <QBrush>
#include <QDataStream>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace {

// Appends the first point unless the polygon already ends on it.
void closePolygon(QPolygonF &polygon)
{
    if (polygon.isEmpty())
        return;
    const QPointF first = polygon.constFirst();
    const QPointF last = polygon.constLast();
    if (std::fabs(last.x() - first.x()) > 1e-12 || std::fabs(last.y() - first.y()) > 1e-12)
        polygon.append(first);
}

bool hasChildren(const QVector<Contour> &contours)
{
    return std::any_of(contours.cbegin(), contours.cend(), [](const Contour &c) { return !c.children().isEmpty(); });
}

} // namespace

void Slice::setFormat(int format)
{
    if (format == d->format)
        return;
    toFlatFormat();
    if (format == 1)
        toHierarchyFormat();
    else if (format == 2)
        toGroupedFormat();
}

void Slice::toFlatFormat()
{
    bool moved = false;
    // The list grows during the walk: grandchildren come up in their parent's
    // turn.
    for (int i = 0; i < d->contours.size(); ++i) {
        while (!d->contours.at(i).children().isEmpty()) {
            QVector<Contour> &contours = edit().contours;
            Contour child = contours[i].takeChild(0);
            contours.append(std::move(child));
            moved = true;
        }
    }
    if (d->format != 0 || !d->groups.isEmpty()) {
        Data &data = edit();
        data.format = 0;
        data.groups.clear();
    }
    // Nested contours of a hierarchy were out of the flat walk until now.
    if (moved)
        invalidate();
    sortByArea(false);
}

void Slice::toGroupedFormat()
{
    // Holes are filed under outer contours of a flat list only; a hole that
    // brought children along would nest two levels deep.
    if (hasChildren(d->contours))
        toFlatFormat();
    bool moved = false;
    for (int i = d->contours.size() - 1; i >= 0; --i) {
        if (!(d->contours.at(i).area() < 0.0))
            continue;
        for (int j = i - 1; j >= 0; --j) {
            const Contour &outer = d->contours.at(j);
            const Contour &hole = d->contours.at(i);
            if (outer.area() >= 0.0 && outer.boundsIntersect(hole) && outer.containsContour(hole)) {
                QVector<Contour> &contours = edit().contours;
                Contour taken = contours.takeAt(i);
                contours[j].addChild(std::move(taken));
                moved = true;
                break;
            }
        }
    }
    edit().format = 2;
    rebuildGroupMap();
    if (moved)
        invalidate();
}

void Slice::toHierarchyFormat()
{
    qWarning("Slice.toHierarchyFormat : Not fully working");
    if (hasChildren(d->contours))
        toFlatFormat();
    bool moved = false;
    // Later (smaller) contours move first, so an island goes into its hole
    // before the hole goes into the outer boundary.
    for (int i = d->contours.size() - 1; i >= 0; --i) {
        for (int j = i - 1; j >= 0; --j) {
            const Contour &outer = d->contours.at(j);
            const Contour &inner = d->contours.at(i);
            if ((outer.area() >= 0.0) != (inner.area() >= 0.0) && outer.boundsIntersect(inner)
                && outer.containsContour(inner)) {
                QVector<Contour> &contours = edit().contours;
                Contour taken = contours.takeAt(i);
                contours[j].addChild(std::move(taken));
                moved = true;
                break;
            }
        }
    }
    Data &data = edit();
    data.format = 1;
    data.groups.clear();
    // Nested contours leave the flat walk.
    if (moved)
        invalidate();
}

QDataStream &operator<<(QDataStream &stream, const Slice &slice)
{
    // A slice that could not be read back is refused whole: not even its
    // count reaches the device.
    for (const Contour &contour : slice.contours()) {
        if (!slicestream::writable(stream, contour))
            return stream;
    }
    stream << qint32(slice.contours().size());
    for (const Contour &contour : slice.contours())
        stream << contour;
    stream << slice.z() << slice.thickness();
    return stream;
}

QDataStream &operator>>(QDataStream &stream, Slice &slice)
{
    if (stream.status() != QDataStream::Ok)
        return stream;
    qint32 count = 0;
    stream >> count;
    const qint64 floatBytes = stream.floatingPointPrecision() == QDataStream::SinglePrecision ? 4 : 8;
    if (stream.status() != QDataStream::Ok
        || !slicestream::countFits(stream, count, slicestream::minContourRecordBytes, 2 * floatBytes))
        return stream;
    QVector<Contour> contours;
    for (qint32 i = 0; i < count; ++i) {
        Contour contour;
        stream >> contour;
        if (stream.status() != QDataStream::Ok)
            return stream;
        contours.append(std::move(contour));
    }
    float z = 0.0f;
    float thickness = 0.0f;
    stream >> z >> thickness;
    if (stream.status() != QDataStream::Ok)
        return stream;
    if (!contours.isEmpty())
        slice.edit().contours += contours;
    slice.m_z = z;
    slice.m_thickness = thickness;
    slice.invalidate();
    slice.normalizeFormat();
    return stream;
}

void Slice::paint(QPainter *painter) const
{
    const QBrush brush = painter->brush().isOpaque() ? painter->brush() : QBrush(Qt::white, Qt::SolidPattern);
    // Largest first, so that smaller contours are drawn over the ones around
    // them; equal areas keep their list order.
    const QVector<Contour> &contours = d->contours;
    QVector<int> order(contours.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&contours](int a, int b) {
        return std::fabs(contours.at(a).area()) > std::fabs(contours.at(b).area());
    });
    if (d->format == 2) {
        painter->setBrush(brush);
        for (const int i : qAsConst(order)) {
            const Contour &outer = contours.at(i);
            outer.draw(painter);
            if (outer.children().isEmpty())
                continue;
            painter->setBrush(QBrush(Qt::black, Qt::SolidPattern));
            for (const Contour &hole : outer.children())
                hole.draw(painter);
            painter->setBrush(brush);
        }
        return;
    }
    QPainterPath path;
    for (const int i : qAsConst(order)) {
        const Contour &contour = contours.at(i);
        if (!contour.children().isEmpty()) {
            // Each ring its own subpath: one polygon through a contour and its holes would
            // bridge them and leave a wedge of material unpainted.
            contour.toPainterPath(path);
            continue;
        }
        QPolygonF polygon = contour.toPolygonF();
        closePolygon(polygon);
        path.addPolygon(polygon);
    }
    painter->fillPath(path, brush);
}

QPainterPath Slice::toPainterPath(bool windingFill) const
{
    QPainterPath path;
    if (windingFill)
        path.setFillRule(Qt::WindingFill);
    for (int i = contourCount() - 1; i >= 0; --i) {
        const QVector<geom::Point2Df> &points = contourAt(i).points();
        if (points.size() < 3)
            continue;
        QPolygonF polygon;
        polygon.reserve(points.size() + 1);
        for (const geom::Point2Df &p : points)
            polygon.append(p.toPointF());
        closePolygon(polygon);
        path.addPolygon(polygon);
    }
    return path;
}
