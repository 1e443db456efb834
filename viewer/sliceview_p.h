#ifndef SLICEVIEW_P_H
#define SLICEVIEW_P_H

// What the slice view's source files share: the outline item that carries the vertex marks and
// that snapping looks at, and a few small helpers.

#include <QGraphicsPolygonItem>
#include <QPainter>
#include <QPen>
#include <QRectF>

#include <cmath>

namespace sliceview {

// How far a vertex mark reaches past its vertex, in pixels.
constexpr int kVertexMarkReach = 2;

// Half the extent of the scene rectangle, which never limits scrolling.
constexpr double kSceneExtent = 1e100;

inline QPen cosmeticPen(const QColor &color, Qt::PenStyle style = Qt::SolidLine)
{
    QPen pen(color);
    pen.setWidth(0);
    pen.setCosmetic(true);
    pen.setStyle(style);
    return pen;
}

// The outline of one contour of the shown slice: the only items that snapping looks at, and
// the ones that carry the vertex marks.
class GraphicsPolygonItem : public QGraphicsPolygonItem
{
public:
    GraphicsPolygonItem(const QPolygonF &polygon, QGraphicsItem *parent)
        : QGraphicsPolygonItem(polygon, parent)
    {
    }

    bool showVertices = false;

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override
    {
        QGraphicsPolygonItem::paint(painter, option, widget);
        if (!showVertices)
            return;
        const qreal s = std::abs(painter->transform().m11());
        if (!(s > 0.0))
            return;
        // Three pixels wide at any zoom.
        const QPolygonF &points = polygon();
        QVector<QRectF> marks;
        marks.reserve(points.size());
        for (const QPointF &p : points)
            marks.append(QRectF(p.x() - 1.0 / s, p.y() - 1.0 / s, 3.0 / s, 3.0 / s));
        painter->setBrush(QColor(255, 130, 0, 255));
        painter->setPen(Qt::NoPen);
        painter->drawRects(marks);
    }
};

inline bool isFinite(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

} // namespace sliceview

#endif // SLICEVIEW_P_H
