#ifndef SLICEVIEW_P_H
#define SLICEVIEW_P_H

// What the slice view's source files share: the outline item that carries the vertex marks and
// that snapping looks at, the group that paints the shown slice, and a few small helpers.

#include <QGraphicsItemGroup>
#include <QGraphicsPolygonItem>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QVector>

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

// Draws an orange square three pixels wide on every point, at any zoom; marks is scratch space
// the caller may keep from one polygon to the next.
inline void paintVertexMarks(QPainter *painter, const QPolygonF &points, QVector<QRectF> *marks)
{
    const qreal s = std::abs(painter->transform().m11());
    if (!(s > 0.0))
        return;
    marks->clear();
    marks->reserve(points.size());
    for (const QPointF &p : points)
        marks->append(QRectF(p.x() - 1.0 / s, p.y() - 1.0 / s, 3.0 / s, 3.0 / s));
    painter->setBrush(QColor(255, 130, 0, 255));
    painter->setPen(Qt::NoPen);
    painter->drawRects(*marks);
}

// The outline of one contour of the shown slice: the only items that snapping looks at, and
// the ones that carry the vertex marks.
class GraphicsPolygonItem : public QGraphicsPolygonItem
{
public:
    explicit GraphicsPolygonItem(const QPolygonF &polygon, QGraphicsItem *parent = nullptr)
        : QGraphicsPolygonItem(polygon, parent)
    {
    }

    bool showVertices = false;

    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override
    {
        QGraphicsPolygonItem::paint(painter, option, widget);
        if (!showVertices)
            return;
        QVector<QRectF> marks;
        paintVertexMarks(painter, polygon(), &marks);
    }
};

// The group of the shown slice: the fill and the outline of every drawn contour, in contour
// order, made and kept by the group. It paints them itself, each with the very calls it would
// make for itself and in its stacking order (every fill, then every outline with its marks): the
// items are made with ItemHasNoContents, so the view passes them by. Painted one by one, each
// of them would cost the view a transform, a pen and a brush set up anew, and a look into the
// item for what to draw: on a dense slice, most of a repaint. The group draws from its own
// list instead, so the items are only changed through it. Whoever changes the group updates
// the scene (an item's own update shows nothing).
class SliceGroup : public QGraphicsItemGroup
{
public:
    SliceGroup();

    int contourCount() const { return m_contours.size(); }
    QGraphicsPolygonItem *fillAt(int i) const { return m_contours.at(i).fill; }
    GraphicsPolygonItem *outlineAt(int i) const { return m_contours.at(i).outline; }
    // Shows the polygon as contour i, or as one more contour when i is the count: filled as
    // material or as a hole. box is the polygon's bounding box.
    void setContour(int i, const QPolygonF &polygon, const QRectF &box, bool hole);
    // Deletes the items of the contours from count on.
    void truncate(int count);
    // To be called once the contours are all set: the group's extent follows them.
    void updateExtent();
    // Vertex marks on every outline, those made later too.
    void setShowVertices(bool on);

    QRectF boundingRect() const override;
    void paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget) override;

private:
    struct ContourItems
    {
        QGraphicsPolygonItem *fill;
        GraphicsPolygonItem *outline;
        // What both show, shared with them.
        QPolygonF polygon;
        QRectF box;
        bool hole;
    };
    const QPen &fillPen(bool hole) const { return hole ? m_holePen : m_noPen; }
    const QBrush &fillBrush(bool hole) const { return hole ? m_holeBrush : m_outerBrush; }
    const QPen &outlinePen(bool hole) const { return hole ? m_holePen : m_outerPen; }

    QVector<ContourItems> m_contours;
    QRectF m_extent;
    bool m_showVertices = false;
    const QPen m_outerPen;
    const QPen m_holePen;
    const QPen m_noPen;
    const QBrush m_outerBrush;
    const QBrush m_holeBrush;
    const QBrush m_noBrush;
};

inline bool isFinite(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

} // namespace sliceview

#endif // SLICEVIEW_P_H
