#include "sliceview.h"
#include "sliceview_p.h"

#include "slicestack.h"

#include <QGraphicsItemGroup>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace sliceview;

namespace {

// Background of the coordinate label.
class GraphicsRoundedRectItem : public QGraphicsRectItem
{
public:
    explicit GraphicsRoundedRectItem(const QRectF &rect)
        : QGraphicsRectItem(rect)
    {
    }

    double xRadius = 0.0;
    double yRadius = 0.0;

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        painter->setPen(pen());
        painter->setBrush(brush());
        painter->drawRoundedRect(rect(), xRadius, yRadius, Qt::AbsoluteSize);
    }
};

QString coordinateText(const QString &pattern, const QPointF &p)
{
    return pattern.arg(QString::number(p.x(), 'g', 6), QString::number(p.y(), 'g', 6));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Grid, overlay and ruler marks

void SliceView::setGridVisible(bool on)
{
    if (on == m_gridVisible)
        return;
    m_gridVisible = on;
    updateGrid();
}

void SliceView::setGridInterval(double interval)
{
    if (!std::isfinite(interval) || interval < 0.1 || interval == m_gridInterval)
        return;
    m_gridInterval = interval;
    updateGrid();
}

void SliceView::updateGrid()
{
    if (m_bounds.isNull())
        return;
    removeGroup(m_gridGroup);
    if (!m_gridVisible)
        return;

    const double x = m_bounds.x();
    const double y = m_bounds.y();
    const double w = m_bounds.width();
    const double h = m_bounds.height();
    const double cx = x + w * 0.5;
    const double cy = y + h * 0.5;
    const double half = h >= w ? h * 0.5 : w * 0.5;
    // A fine interval over a large part would make millions of lines: then only every
    // stride-th multiple of the interval is drawn.
    const double steps = std::floor(half / m_gridInterval);
    const double stride = steps > maximumGridSteps ? std::ceil(steps / maximumGridSteps) : 1.0;

    const QPen gray = cosmeticPen(Qt::gray);
    const QPen black = cosmeticPen(Qt::black);
    QList<QGraphicsItem *> lines;
    auto addLine = [&lines](double x1, double y1, double x2, double y2, const QPen &pen) {
        QGraphicsLineItem *line = new QGraphicsLineItem(x1, y1, x2, y2);
        line->setPen(pen);
        lines.append(line);
    };

    if (steps >= 0.0) {
        addLine(cx, y, cx, y + h, gray);
        addLine(x, cy, x + w, cy, gray);
        for (double i = stride; i <= steps; i += stride) {
            const double d = i * m_gridInterval;
            if (cx + d < x + w) {
                addLine(cx + d, y, cx + d, y + h, gray);
                addLine(cx - d, y, cx - d, y + h, gray);
            }
            if (cy + d < y + h) {
                addLine(x, cy + d, x + w, cy + d, gray);
                addLine(x, cy - d, x + w, cy - d, gray);
            }
        }
    }

    addLine(x, y, x, y + h, black);
    addLine(x + w, y, x + w, y + h, black);
    addLine(x, y, x + w, y, black);
    addLine(x, y + h, x + w, y + h, black);

    m_gridGroup = addGroup(lines);
    m_gridGroup->setZValue(1.0);
    m_gridGroup->setOpacity(0.5);
}

void SliceView::grabOverlay()
{
    clearOverlay();

    const QPen outerPen = cosmeticPen(Qt::cyan, Qt::DashLine);
    const QPen holePen = cosmeticPen(Qt::magenta, Qt::DashLine);

    QList<QGraphicsItem *> copies;
    if (m_sliceGroup) {
        const QList<QGraphicsItem *> children = m_sliceGroup->childItems();
        for (QGraphicsItem *child : children) {
            const QGraphicsPolygonItem *item = qgraphicsitem_cast<QGraphicsPolygonItem *>(child);
            if (!item)
                continue;
            const QPolygonF polygon = item->polygon();
            double twiceArea = 0.0;
            const int n = polygon.size();
            for (int i = 0; i < n; ++i) {
                const QPointF &a = polygon.at(i);
                const QPointF &b = polygon.at((i + 1) % n);
                twiceArea += a.x() * b.y() - b.x() * a.y();
            }
            QGraphicsPolygonItem *copy = new QGraphicsPolygonItem(polygon);
            copy->setBrush(Qt::NoBrush);
            copy->setPen(twiceArea > 0.0 ? outerPen : holePen);
            copies.append(copy);
        }
    }
    m_overlayGroup = addGroup(copies);
    m_overlayGroup->setZValue(2.0);
}

void SliceView::clearOverlay()
{
    removeGroup(m_overlayGroup);
}

void SliceView::setRulerPoints(const QList<QVector2D> &points)
{
    removeGroup(m_rulerGroup);
    if (points.isEmpty())
        return;

    const QPen pen = cosmeticPen(Qt::green);
    const QBrush brush(Qt::yellow);
    QList<QGraphicsItem *> items;

    // The z values 1 and 2 are how the coordinate label tells the first mark from the second.
    auto addMark = [&](const QVector2D &point, qreal z) {
        QGraphicsEllipseItem *mark = new QGraphicsEllipseItem(-3, -3, 6, 6);
        mark->setFlag(QGraphicsItem::ItemIgnoresTransformations);
        mark->setPos(point.toPointF());
        mark->setPen(pen);
        mark->setBrush(brush);
        mark->setZValue(z);
        items.append(mark);
    };

    const QVector2D first = points.first();
    addMark(first, 1.0);
    if (points.size() > 1) {
        const QVector2D last = points.last();
        addMark(last, 2.0);

        QGraphicsLineItem *line = new QGraphicsLineItem(QLineF(first.toPointF(), last.toPointF()));
        line->setPen(pen);
        items.append(line);

        QGraphicsTextItem *length = new QGraphicsTextItem(tr("%1").arg((last - first).length()));
        length->setFlag(QGraphicsItem::ItemIgnoresTransformations);
        length->setDefaultTextColor(Qt::red);
        length->setPos(((first + last) * 0.5f).toPointF());
        length->setZValue(2.0);
        items.append(length);
    }

    m_rulerGroup = addGroup(items);
    m_rulerGroup->setZValue(2.0);
}

// ---------------------------------------------------------------------------------------------
// Snapping

void SliceView::updateSnap(QMouseEvent *e)
{
    const bool hadMarker = m_snapGroup || m_labelGroup;
    if (m_bounds.isNull()) {
        removeGroup(m_snapGroup);
        removeGroup(m_labelGroup);
        if (hadMarker)
            scene()->update(QRectF());
        return;
    }

    QPointF p = property("SnapPoint").toPointF();
    bool snapped = false;
    if (!e) {
        if (property("Snapped").toBool()) {
            const QPointF d = viewportTransform().map(p) - QPointF(m_lastMousePos);
            snapped = std::hypot(d.x(), d.y()) <= snapDistance;
        }
    } else if (e->modifiers() != Qt::NoModifier) {
        setProperty("Snapped", false);
    } else {
        const QPoint q = e->pos();
        const QPointF qf(q);
        const QTransform toViewport = viewportTransform();
        const QPointF s = mapToScene(q);
        const qreal zoomNow = std::abs(transform().m11());
        // A little beyond the reach, so that rounding never hides a candidate.
        const double reach = zoomNow > 0.0 ? (snapDistance + 1.0) / zoomNow : 0.0;

        bool found = false;
        double best = 0.0;
        QPointF bestPoint;
        QColor bestColor;
        auto consider = [&](const QPointF &candidate, const QColor &color) {
            const QPointF onScreen = toViewport.map(candidate);
            const QPointF exact = onScreen - qf;
            const double distance = std::hypot(exact.x(), exact.y());
            // The reach is judged on whole pixels, as the cursor has them.
            if (!(distance <= snapDistance + 1.0))
                return;
            const QPointF d = QPointF(onScreen.toPoint()) - qf;
            if (std::hypot(d.x(), d.y()) > snapDistance)
                return;
            if (!found || distance < best) {
                found = true;
                best = distance;
                bestPoint = candidate;
                bestColor = color;
            }
        };

        // Large enough that an outline whose vertex lies at the reach on any side of the
        // cursor is among the candidates.
        const int margin = int(std::ceil(snapDistance)) + 1;
        const QList<QGraphicsItem *> candidates =
            items(QRect(q.x() - margin, q.y() - margin, 2 * margin + 1, 2 * margin + 1), Qt::IntersectsItemBoundingRect);
        for (QGraphicsItem *item : candidates) {
            const GraphicsPolygonItem *outline = dynamic_cast<GraphicsPolygonItem *>(item);
            if (!outline)
                continue;
            const QColor color = outline->pen().color();
            for (const QPointF &point : outline->polygon()) {
                if (std::abs(point.x() - s.x()) > reach || std::abs(point.y() - s.y()) > reach)
                    continue;
                consider(point, color);
            }
        }

        const double x = m_bounds.x();
        const double y = m_bounds.y();
        const double w = m_bounds.width();
        const double h = m_bounds.height();
        const QPointF corners[] = {QPointF(x, y), QPointF(x + w, y), QPointF(x + w, y + h), QPointF(x, y + h)};
        for (const QPointF &corner : corners)
            consider(corner, Qt::gray);

        if (found) {
            p = bestPoint;
            m_snapColor = bestColor;
            setProperty("SnapPoint", p);
            setProperty("Snapped", true);
            snapped = true;
        } else {
            setProperty("Snapped", false);
        }
    }

    removeGroup(m_snapGroup);
    removeGroup(m_labelGroup);
    if (snapped)
        makeSnapMarker(p);
    if (hadMarker || snapped)
        scene()->update(QRectF());
}

void SliceView::makeSnapMarker(const QPointF &p)
{
    QGraphicsEllipseItem *marker = new QGraphicsEllipseItem(-3, -3, 6, 6);
    marker->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    marker->setPos(p);
    marker->setPen(QPen(Qt::transparent));
    marker->setBrush(m_snapColor);
    marker->setZValue(-0.5);
    m_snapGroup = addGroup(QList<QGraphicsItem *>() << marker);

    QString text = coordinateText(QStringLiteral("(%1, %2)"), p);
    if (m_rulerGroup) {
        const QList<QGraphicsItem *> children = m_rulerGroup->childItems();
        for (QGraphicsItem *child : children) {
            if (!qgraphicsitem_cast<QGraphicsEllipseItem *>(child))
                continue;
            const QPointF d = child->pos() - p;
            if (std::abs(d.x()) > 1e-12 || std::abs(d.y()) > 1e-12)
                continue;
            if (child->zValue() == 1.0)
                text = coordinateText(QStringLiteral("P1 (%1, %2)"), p);
            else if (child->zValue() == 2.0)
                text = coordinateText(QStringLiteral("P2 (%1, %2)"), p);
        }
    }

    QGraphicsTextItem *label = new QGraphicsTextItem;
    label->setPlainText(text);
    label->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    label->setPos(mapToScene(labelPosition(mapFromScene(p), label->boundingRect().size())));

    GraphicsRoundedRectItem *background = new GraphicsRoundedRectItem(label->boundingRect());
    background->xRadius = 5.0;
    background->yRadius = 5.0;
    background->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    background->setPos(label->pos());
    background->setBrush(Qt::white);
    background->setPen(cosmeticPen(Qt::black));
    background->setOpacity(0.6);

    m_labelGroup = addGroup(QList<QGraphicsItem *>() << background << label);
    m_labelGroup->setZValue(100.0);
}

QPoint SliceView::labelPosition(const QPoint &marker, const QSizeF &size) const
{
    // Beside the marker, to its right; where that would leave the view (a snap near its edge,
    // a corner of the part after a fit), to its left, and never beyond the view's edges.
    const int gap = 16;
    const int width = int(std::ceil(size.width()));
    const int height = int(std::ceil(size.height()));
    const QRect inside = viewport()->rect();
    int x = marker.x() + gap;
    if (x + width > inside.right() + 1)
        x = marker.x() - gap - width;
    x = std::max(inside.left(), std::min(x, inside.right() + 1 - width));
    const int y = std::max(inside.top(), std::min(marker.y(), inside.bottom() + 1 - height));
    return QPoint(x, y);
}
