#include "sliceview.h"
#include "sliceview_p.h"

#include "slicestack.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPropertyAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using namespace sliceview;

namespace {

const int kAnimationDuration = 150;
// Zoom In and Zoom Out, in single precision.
const float kZoomStep = 1.4f;
// One wheel notch (120 units of angle delta).
const double kWheelStep = 1.25;
// A right-button drag of 10 pixels.
const double kDragStep = 1.1;

// Ends a running animation at its end value now.
void finishNow(QVariantAnimation *animation)
{
    animation->setDuration(0);
    animation->setCurrentTime(0);
}

bool openGLAvailable()
{
    static const bool available = [] {
        QOpenGLContext context;
        return context.create();
    }();
    return available;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Navigation

QPointF SliceView::center() const
{
    return mapToScene(viewport()->rect().center());
}

void SliceView::setCenter(const QPointF &p)
{
    QTransform t = transform();
    const QPointF d = center() - p;
    t.translate(d.x(), d.y());
    setTransform(t);
}

qreal SliceView::zoom() const
{
    return transform().m11();
}

void SliceView::setZoom(qreal z)
{
    scaleAbout(z, viewport()->rect().center());
}

void SliceView::setZoomToPoint(qreal z)
{
    scaleAbout(z, m_zoomAnchor);
}

void SliceView::scaleAbout(qreal z, const QPoint &anchor)
{
    if (std::isnan(z))
        return;
    z = qBound(minimumZoom, z, maximumZoom);
    const QPointF a = mapToScene(anchor);
    QTransform t = transform();
    t.translate(a.x(), a.y());
    t.setMatrix(z, t.m12(), t.m13(), t.m21(), -z, t.m23(), t.m31(), t.m32(), t.m33());
    t.translate(-a.x(), -a.y());
    setTransform(t);
    updateSnap(nullptr);
}

template <typename Target>
void SliceView::animate(const char *property, Target target)
{
    QPropertyAnimation *running = nullptr;
    const QList<QPropertyAnimation *> animations = findChildren<QPropertyAnimation *>(QString(), Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : animations) {
        if (animation->targetObject() == this && animation->propertyName() == property
            && animation->state() == QAbstractAnimation::Running) {
            running = animation;
            break;
        }
    }

    if (!m_animationsEnabled) {
        if (running)
            finishNow(running);
        setProperty(property, target(QObject::property(property)));
        return;
    }

    if (running) {
        // Start over from where it is now, toward a target compounded on the previous one.
        running->setStartValue(running->currentValue());
        running->setEndValue(target(running->endValue()));
        running->setCurrentTime(0);
        return;
    }

    QPropertyAnimation *animation = new QPropertyAnimation(this, property, this);
    animation->setDuration(kAnimationDuration);
    const QVariant start = QObject::property(property);
    animation->setStartValue(start);
    animation->setEndValue(target(start));
    connect(animation, &QAbstractAnimation::finished, animation, &QObject::deleteLater);
    animation->start();
}

namespace {

// The target of a zoom request, kept inside the zoom range so that compounded requests never
// run away beyond what can be shown.
QVariant zoomTarget(const QVariant &value, double factor)
{
    return qBound(SliceView::minimumZoom, value.toReal() * factor, SliceView::maximumZoom);
}

} // namespace

void SliceView::zoomIn()
{
    animate("zoom", [](const QVariant &v) { return zoomTarget(v, double(kZoomStep)); });
}

void SliceView::zoomOut()
{
    animate("zoom", [](const QVariant &v) { return zoomTarget(v, 1.0 / double(kZoomStep)); });
}

void SliceView::zoomToAll()
{
    // A glide still under way would carry the view away from the fit again.
    const QList<QPropertyAnimation *> animations = findChildren<QPropertyAnimation *>(QString(), Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : animations) {
        if (animation->targetObject() == this)
            delete animation;
    }

    QRectF r = m_bounds;
    if (r.isNull())
        r = scene()->itemsBoundingRect();
    if (!isFinite(r))
        r = QRectF();
    if (r.height() == 0.0)
        r.adjust(0, -1, 0, 1);
    if (r.width() == 0.0)
        r.adjust(-1, 0, 1, 0);
    setSceneRect(r.adjusted(-kSceneExtent, -kSceneExtent, kSceneExtent, kSceneExtent));

    // As fitInView with Qt::KeepAspectRatio does, but on the transform alone, so that neither the
    // scroll bars' integer range nor a degenerate transform can stop it.
    const QRectF target = QRectF(viewport()->rect()).adjusted(2, 2, -2, -2);
    if (target.isEmpty())
        return;
    const qreal z = qBound(minimumZoom, std::min(target.width() / r.width(), target.height() / r.height()), maximumZoom);
    QTransform t = transform();
    t.setMatrix(z, 0, 0, 0, -z, 0, t.m31(), t.m32(), 1);
    setTransform(t);
    setCenter(r.center());
    updateSnap(nullptr);
}

void SliceView::setAnimationsEnabled(bool on)
{
    if (!on) {
        const QList<QPropertyAnimation *> animations = findChildren<QPropertyAnimation *>(QString(), Qt::FindDirectChildrenOnly);
        for (QPropertyAnimation *animation : animations) {
            if (animation->state() == QAbstractAnimation::Running)
                finishNow(animation);
            else
                animation->setDuration(0);
        }
    }
    m_animationsEnabled = on;
}

bool SliceView::setOpenGLEnabled(bool on)
{
    QWidget *port = nullptr;
    const bool openGL = on && openGLAvailable();
    if (openGL)
        port = new QOpenGLWidget;
    else
        port = new QWidget;
    port->setAttribute(Qt::WA_MouseTracking);
    setViewport(port);
    m_openGL = openGL;
    return m_openGL;
}

bool SliceView::isOpenGLEnabled() const
{
    return m_openGL;
}

// ---------------------------------------------------------------------------------------------
// Events

void SliceView::wheelEvent(QWheelEvent *e)
{
    // A turn over the view is the view's zoom; left unaccepted it would reach the window, which
    // turns it into a slice step as well.
    e->accept();
    const QPoint angle = e->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (delta == 0)
        return;
    m_lastMousePos = e->position().toPoint();
    m_zoomAnchor = m_lastMousePos;
    const double factor = std::pow(kWheelStep, delta / 120.0);
    animate("zoomToPoint", [factor](const QVariant &v) { return zoomTarget(v, factor); });
}

void SliceView::mouseDoubleClickEvent(QMouseEvent *e)
{
    QGraphicsView::mouseDoubleClickEvent(e);
    const QPointF target = mapToScene(e->pos());
    animate("center", [target](const QVariant &) { return QVariant(target); });
}

void SliceView::mousePressEvent(QMouseEvent *e)
{
    m_movedSincePress = false;
    m_lastMousePos = e->pos();
    m_zoomAnchor = e->pos();
    updateSnap(e);
    QGraphicsView::mousePressEvent(e);
}

void SliceView::mouseMoveEvent(QMouseEvent *e)
{
    if (e->pos() == m_lastMousePos) {
        QGraphicsView::mouseMoveEvent(e);
        return;
    }
    m_movedSincePress = true;

    if (e->buttons() & Qt::LeftButton) {
        // The scene point under the cursor moves with the cursor.
        const QPointF d = mapToScene(e->pos()) - mapToScene(m_lastMousePos);
        translate(d.x(), d.y());
    } else if (e->buttons() & Qt::RightButton) {
        // Down zooms out, up zooms in, about the press point; the same distance always gives
        // the same factor, whichever way it is split into moves.
        const int dy = e->pos().y() - m_lastMousePos.y();
        if (dy != 0)
            setZoomToPoint(zoom() * std::pow(kDragStep, -dy / 10.0));
        setProperty("Snapped", false);
    }

    m_lastMousePos = e->pos();
    updateSnap(e);
    QGraphicsView::mouseMoveEvent(e);

    if (property("Snapped").toBool())
        emit mouseMove(property("SnapPoint").toPointF());
    else
        emit mouseMove(mapToScene(e->pos()));
}

void SliceView::mouseReleaseEvent(QMouseEvent *e)
{
    updateSnap(e);
    if (!m_movedSincePress) {
        if (property("Snapped").toBool())
            emit mouseClicked(e->button(), property("SnapPoint").toPointF());
        else
            emit mouseClicked(e->button(), mapToScene(m_lastMousePos));
    }
    QGraphicsView::mouseReleaseEvent(e);
}

void SliceView::leaveEvent(QEvent *e)
{
    scene()->update(QRectF());
    QGraphicsView::leaveEvent(e);
    emit mouseLeave();
}

void SliceView::paintEvent(QPaintEvent *e)
{
    // Vertex marks reach past the box of their outline: an item that close to the part being
    // repainted must be drawn as well. The painter still keeps to the part itself.
    QRegion reach;
    for (const QRect &r : e->region())
        reach += r.adjusted(-kVertexMarkReach, -kVertexMarkReach, kVertexMarkReach, kVertexMarkReach);
    QPaintEvent grown(reach);
    QGraphicsView::paintEvent(&grown);
    m_viewCenter = mapToScene(viewport()->rect().center());
}

void SliceView::resizeEvent(QResizeEvent *e)
{
    QGraphicsView::resizeEvent(e);
    if (m_viewCenter.x() == 0.0 && m_viewCenter.y() == 0.0)
        return;
    // The point that was in the middle stays in the middle.
    const QPointF c = mapToScene(viewport()->rect().center());
    translate(c.x() - m_viewCenter.x(), c.y() - m_viewCenter.y());
}

void SliceView::dragEnterEvent(QDragEnterEvent *e)
{
    emit dragEnter(e);
}

void SliceView::dragMoveEvent(QDragMoveEvent *)
{
    // The scene takes no drags; the answer given to the enter event stands.
}

void SliceView::dragLeaveEvent(QDragLeaveEvent *)
{
}

void SliceView::dropEvent(QDropEvent *e)
{
    emit drop(e);
}
