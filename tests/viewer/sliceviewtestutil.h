#ifndef SLICEVIEWTESTUTIL_H
#define SLICEVIEWTESTUTIL_H

// Fixtures and input helpers shared by the slice view suites.

#include "slcwriter.h"
#include "slice.h"
#include "sliceview.h"

#include <QApplication>
#include <QFile>
#include <QGraphicsItem>
#include <QGraphicsItemGroup>
#include <QGraphicsScene>
#include <QMouseEvent>
#include <QVector>

namespace sliceviewtest {

// A polygon from x, y pairs.
inline Contour contour(std::initializer_list<float> xy)
{
    QVector<geom::Point2Df> points;
    for (auto it = xy.begin(); it != xy.end(); it += 2)
        points.append(geom::Point2Df(*it, *(it + 1)));
    return Contour(points);
}

// An axis-aligned rectangle, counter-clockwise (material) or clockwise (a hole).
inline Contour rectangle(float x, float y, float w, float h, bool hole = false)
{
    if (hole)
        return contour({x, y, x, y + h, x + w, y + h, x + w, y});
    return contour({x, y, x + w, y, x + w, y + h, x, y + h});
}

inline Slice slice(float z, float thickness, const QVector<Contour> &contours)
{
    return Slice(z, thickness, contours);
}

// Slices at z = 1, 2, ..., count, each one rectangle of growing width at the origin.
inline QList<Slice> stackOf(int count, float z0 = 1.0f, float step = 1.0f)
{
    QList<Slice> slices;
    for (int i = 0; i < count; ++i)
        slices.append(slice(z0 + step * i, step, {rectangle(0, 0, 10.0f + i, 4)}));
    return slices;
}

inline bool writeSlc(const QString &path, const QList<Slice> &slices)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    SlcWriter writer(&file);
    if (writer.writeSlices(slices, false) != slices.size())
        return false;
    return writer.finish();
}

// Mouse events go to the viewport, which hands them to the view.
inline void sendMouse(SliceView &view, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(pos), QPointF(view.viewport()->mapToGlobal(pos)), button, buttons, modifiers);
    QApplication::sendEvent(view.viewport(), &event);
}

inline void move(SliceView &view, const QPoint &pos, Qt::MouseButtons buttons = Qt::NoButton,
                 Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    sendMouse(view, QEvent::MouseMove, pos, Qt::NoButton, buttons, modifiers);
}

// Items of type T in the view's scene whose group has the given z value (each decoration of
// the view is one group with its own z).
template <typename T>
QList<T *> itemsInGroup(const SliceView &view, qreal groupZ)
{
    QList<T *> found;
    const QList<QGraphicsItem *> all = view.scene()->items(Qt::AscendingOrder);
    for (QGraphicsItem *item : all) {
        T *typed = qgraphicsitem_cast<T *>(item);
        if (typed && item->parentItem() && item->parentItem()->zValue() == groupZ)
            found.append(typed);
    }
    return found;
}

} // namespace sliceviewtest

#endif // SLICEVIEWTESTUTIL_H
