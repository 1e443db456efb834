#include "sliceview.h"

#include "slcreader.h"
#include "slicestack.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QGraphicsEllipseItem>
#include <QGraphicsItemGroup>
#include <QGraphicsLineItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSvgItem>
#include <QGraphicsTextItem>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPainter>
#include <QPropertyAnimation>
#include <QWheelEvent>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

const int kAnimationDuration = 150;
const int kLogoFadeDuration = 500;
// Zoom In and Zoom Out, in single precision.
const float kZoomStep = 1.4f;
// One wheel notch (120 units of angle delta).
const double kWheelStep = 1.25;
// A right-button drag of 10 pixels.
const double kDragStep = 1.1;
const double kSceneExtent = 1e100;

QPen cosmeticPen(const QColor &color, Qt::PenStyle style = Qt::SolidLine)
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

bool hasPolygon(const Slice &slice)
{
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        if (slice.contourAt(i).points().size() >= 3)
            return true;
    }
    return false;
}

// Ends a running animation at its end value now.
void finishNow(QVariantAnimation *animation)
{
    animation->setDuration(0);
    animation->setCurrentTime(0);
}

bool isFinite(const QRectF &r)
{
    return std::isfinite(r.x()) && std::isfinite(r.y()) && std::isfinite(r.width()) && std::isfinite(r.height());
}

bool openGLAvailable()
{
    static const bool available = [] {
        QOpenGLContext context;
        return context.create();
    }();
    return available;
}

QString coordinateText(const QString &pattern, const QPointF &p)
{
    return pattern.arg(QString::number(p.x(), 'g', 6), QString::number(p.y(), 'g', 6));
}

} // namespace

SliceView::SliceView(QWidget *parent)
    : QGraphicsView(parent)
{
    // Owned by the parent widget, which outlives the view; a view without parent owns it.
    QGraphicsScene *graphicsScene = new QGraphicsScene(parent ? static_cast<QObject *>(parent) : this);
    setScene(graphicsScene);
    graphicsScene->setItemIndexMethod(QGraphicsScene::NoIndex);
    setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
    // Every item sets the pen and brush it paints with, and nothing is antialiased: a dense slice
    // paints tens of thousands of items, and saving the painter around each one is a good part
    // of that.
    setOptimizationFlags(QGraphicsView::DontSavePainterState | QGraphicsView::DontAdjustForAntialiasing);

    addLogo();

    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::NoAnchor);
    viewport()->setAttribute(Qt::WA_MouseTracking);

    resetSceneRect();
    scale(1, -1);
}

SliceView::~SliceView()
{
    if (!scene())
        return;
    clearOverlay();
    removeAllGroups();
}

QSize SliceView::sizeHint() const
{
    return QSize(320, 320);
}

QSize SliceView::minimumSizeHint() const
{
    return QSize(50, 50);
}

// ---------------------------------------------------------------------------------------------
// Loading

void SliceView::openFile(const QString &fileName)
{
    openFiles(QStringList(fileName));
}

void SliceView::openFiles(const QStringList &fileNames)
{
    if (fileNames.isEmpty()) {
        clear();
        return;
    }
    // What is shown goes first, so that a large file is never held twice.
    unloadSlices();
    SliceStack stack;
    m_lastReadStatus = readFiles(fileNames, &stack);
    showStack(stack);
}

bool SliceView::replaceWithFile(const QString &fileName)
{
    SliceStack stack;
    const QDataStream::Status status = readFiles(QStringList(fileName), &stack);
    m_lastReadStatus = status;
    if (status == QDataStream::ReadCorruptData)
        return false;
    unloadSlices();
    showStack(stack);
    return true;
}

void SliceView::unloadSlices()
{
    removeAllGroups();
    const QList<QPropertyAnimation *> animations = findChildren<QPropertyAnimation *>(QString(), Qt::FindDirectChildrenOnly);
    for (QPropertyAnimation *animation : animations) {
        animation->stop();
        animation->deleteLater();
    }

    QElapsedTimer time;
    time.start();
    scene()->clear();
    m_logo = nullptr;
    m_slices.clear();
    qDebug("Current slices unloaded in %d ms", int(time.elapsed()));
}

QDataStream::Status SliceView::readFiles(const QStringList &fileNames, SliceStack *stack)
{
    QDataStream::Status result = QDataStream::Ok;
    for (const QString &fileName : fileNames) {
        QFile file(fileName);
        SlcReader reader(&file);
        QList<Slice> read = reader.readSlices(false, -1);
        QDataStream::Status status = reader.stream()->status();
        // A file that could not be opened (the reader keeps quiet about it) or that gave nothing
        // before it failed holds nothing to show: for the user that is a refusal.
        if (!file.isOpen() || (status != QDataStream::Ok && read.isEmpty()))
            status = QDataStream::ReadCorruptData;
        if (result == QDataStream::Ok)
            result = status;
        // Handed over, so that the stack reorders the contours in place instead of copying them.
        stack->addSlices(std::move(read), false);
    }
    return result;
}

void SliceView::showStack(const SliceStack &stack)
{
    QElapsedTimer time;
    time.start();
    m_slices = stack.slices();
    m_sliceCount = m_slices.size();

    // A stack without a single polygon has no extent: its box would be the empty one with its
    // corners at the ends of the float range.
    const bool anyPolygon = std::any_of(m_slices.cbegin(), m_slices.cend(), hasPolygon);
    const geom::Bounds3Df &box = stack.bounds();
    QRectF extent;
    if (anyPolygon && box.minX <= box.maxX && box.minY <= box.maxY)
        extent = QRectF(double(box.minX), double(box.minY), double(box.maxX) - double(box.minX),
                        double(box.maxY) - double(box.minY));
    m_bounds = isFinite(extent) ? extent : QRectF();

    qDebug("Read slices completed in %d ms", int(time.elapsed()));

    // Never below the smallest interval the grid accepts, so the range offered for it is sane.
    const double larger = m_bounds.width() > m_bounds.height() ? m_bounds.width() : m_bounds.height();
    m_maxGridInterval = std::max(0.1, larger * 0.5);

    updateGrid();
}

QDataStream::Status SliceView::lastReadStatus() const
{
    return m_lastReadStatus;
}

// ---------------------------------------------------------------------------------------------
// Slices

void SliceView::setSlice(int n)
{
    m_currentSlice = m_sliceCount > 0 ? qBound(1, n, m_sliceCount) : 0;
    showSlice();
    scene()->update(QRectF());
}

void SliceView::showSlice()
{
    if (m_currentSlice == 0 || m_currentSlice > m_sliceCount) {
        removeSliceItems();
        return;
    }

    const Slice &slice = m_slices.at(m_currentSlice - 1);

    const QPen outerPen = cosmeticPen(Qt::blue);
    const QBrush outerBrush(QColor(112, 146, 190, 64));
    const QPen holePen = cosmeticPen(Qt::red);
    const QBrush holeBrush(Qt::white);

    // The items of the slice shown before are given the new contours, in their order: on a dense
    // part that spares making and deleting tens of thousands of items at every step. Items left
    // over are few, or the group goes as a whole: one item taken out of a large group costs a
    // search through its siblings.
    const int count = slice.contourCount();
    int drawable = 0;
    for (int i = 0; i < count; ++i)
        drawable += slice.contourAt(i).points().size() >= 3 ? 1 : 0;
    if (m_sliceFills.size() - drawable > maximumLeftOverItems)
        removeSliceItems();
    if (!m_sliceGroup)
        m_sliceGroup = addGroup();
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const Contour &contour = slice.contourAt(i);
        const QVector<geom::Point2Df> &points = contour.points();
        // Fewer than 3 vertices enclose nothing; a file may hold millions of such boundaries.
        if (points.size() < 3)
            continue;
        QPolygonF polygon;
        polygon.reserve(points.size());
        for (const geom::Point2Df &p : points)
            polygon.append(QPointF(double(p.x), double(p.y)));

        QGraphicsPolygonItem *fill = nullptr;
        GraphicsPolygonItem *outline = nullptr;
        if (used < m_sliceFills.size()) {
            fill = m_sliceFills.at(used);
            outline = static_cast<GraphicsPolygonItem *>(m_sliceOutlines.at(used));
            fill->setPolygon(polygon);
            outline->setPolygon(polygon);
        } else {
            fill = new QGraphicsPolygonItem(polygon, m_sliceGroup);
            fill->setFillRule(Qt::WindingFill);
            fill->setZValue(-1);
            outline = new GraphicsPolygonItem(polygon, m_sliceGroup);
            outline->setBrush(Qt::NoBrush);
            m_sliceFills.append(fill);
            m_sliceOutlines.append(outline);
        }
        ++used;

        const bool outer = contour.area() >= 0.0;
        const QBrush &brush = outer ? outerBrush : holeBrush;
        const QPen &fillPen = outer ? QPen(Qt::NoPen) : holePen;
        const QPen &pen = outer ? outerPen : holePen;
        // Setting a pen or brush always costs a geometry change: only where it differs.
        if (fill->brush() != brush)
            fill->setBrush(brush);
        if (fill->pen() != fillPen)
            fill->setPen(fillPen);
        if (outline->pen() != pen)
            outline->setPen(pen);
        outline->showVertices = m_showVertices;
    }

    if (used < m_sliceFills.size()) {
        QCoreApplication::sendPostedEvents(scene(), QEvent::MetaCall);
        for (int i = m_sliceFills.size() - 1; i >= used; --i) {
            delete m_sliceOutlines.at(i);
            delete m_sliceFills.at(i);
        }
        m_sliceFills.resize(used);
        m_sliceOutlines.resize(used);
    }
}

void SliceView::removeSliceItems()
{
    removeGroup(m_sliceGroup);
    m_sliceFills.clear();
    m_sliceOutlines.clear();
}

void SliceView::setShowVertices(bool on)
{
    const QList<QGraphicsItem *> all = m_sliceGroup ? m_sliceGroup->childItems() : QList<QGraphicsItem *>();
    for (QGraphicsItem *item : all) {
        if (GraphicsPolygonItem *outline = dynamic_cast<GraphicsPolygonItem *>(item))
            outline->showVertices = on;
    }
    m_showVertices = on;
    scene()->update(QRectF());
}

void SliceView::clear()
{
    removeAllGroups();
    // Never two logos, also when the view was empty already.
    delete m_logo;
    m_logo = nullptr;
    addLogo();
    resetSceneRect();
    m_bounds = QRectF();
    m_currentSlice = 0;
    m_sliceCount = 0;
    m_sampleTable.entries.clear();
    m_slices.clear();
    m_lastReadStatus = QDataStream::Ok;
}

void SliceView::addLogo()
{
    QGraphicsSvgItem *logo = new QGraphicsSvgItem(QStringLiteral(":/resources/images/icon.svg"));
    // Cancels the flipped y axis of the view, so the logo stands upright.
    logo->setTransform(QTransform::fromScale(1, -1));
    scene()->addItem(logo);
    m_logo = logo;

    QPropertyAnimation *fade = new QPropertyAnimation(logo, "opacity", this);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->setDuration(m_animationsEnabled ? kLogoFadeDuration : 0);
    connect(fade, &QAbstractAnimation::finished, fade, &QObject::deleteLater);
    fade->start();
}

QGraphicsItemGroup *SliceView::addGroup(const QList<QGraphicsItem *> &items)
{
    // Items are parented one by one: QGraphicsScene::createItemGroup (addToGroup) costs time in
    // proportion to the group's size for every item it adds while a view shows the scene.
    QGraphicsItemGroup *group = new QGraphicsItemGroup;
    scene()->addItem(group);
    for (QGraphicsItem *item : items)
        item->setParentItem(group);
    return group;
}

void SliceView::removeGroup(QGraphicsItemGroup *&group)
{
    if (!group)
        return;
    // The scene polishes new items from a queued call, and deleting an item still waiting for it
    // searches the whole waiting list: let the scene finish that first, so deleting stays linear.
    QCoreApplication::sendPostedEvents(scene(), QEvent::MetaCall);
    // Deleting the group deletes its items with it and takes them out of the scene.
    delete group;
    group = nullptr;
}

void SliceView::removeAllGroups()
{
    removeSliceItems();
    removeGroup(m_gridGroup);
    removeGroup(m_snapGroup);
    removeGroup(m_overlayGroup);
    removeGroup(m_rulerGroup);
    removeGroup(m_labelGroup);
}

void SliceView::resetSceneRect()
{
    // Panning is never stopped by the edge of the scene.
    setSceneRect(-kSceneExtent * 0.5, -kSceneExtent * 0.5, kSceneExtent, kSceneExtent);
}

// ---------------------------------------------------------------------------------------------
// Accessors

const geom::SampleTable &SliceView::sampleTable() const
{
    return m_sampleTable;
}

const QList<Slice> &SliceView::slices() const
{
    return m_slices;
}

int SliceView::sliceCount() const
{
    return m_sliceCount;
}

int SliceView::currentSlice() const
{
    return m_currentSlice > m_sliceCount ? 0 : m_currentSlice;
}

float SliceView::sliceZ(int i) const
{
    if (m_slices.isEmpty() || i < 1 || i > m_sliceCount)
        return 0.0f;
    return m_slices.at(i - 1).z();
}

float SliceView::currentZ() const
{
    return sliceZ(m_currentSlice);
}

float SliceView::sliceThickness(int i) const
{
    if (m_slices.isEmpty() || i < 1 || i > m_sliceCount)
        return 0.0f;
    return m_slices.at(i - 1).thickness();
}

float SliceView::currentThickness() const
{
    return sliceThickness(m_currentSlice);
}

float SliceView::sampleThickness(int i) const
{
    if (m_slices.isEmpty() || i < 1 || i > m_sliceCount || m_sampleTable.entries.isEmpty())
        return 0.0f;
    // The entries start at ascending heights; the slice belongs to the last one at or below it.
    const float z = m_slices.at(i - 1).z();
    float thickness = 0.0f;
    for (const geom::SampleTableEntry &entry : m_sampleTable.entries) {
        if (entry.z <= z)
            thickness = entry.thickness;
    }
    return thickness;
}

float SliceView::currentSampleThickness() const
{
    return sampleThickness(m_currentSlice);
}

const QRectF &SliceView::bounds() const
{
    return m_bounds;
}

bool SliceView::isGridVisible() const
{
    return m_gridVisible;
}

double SliceView::gridInterval() const
{
    return m_gridInterval;
}

double SliceView::maxGridInterval() const
{
    return m_maxGridInterval;
}

bool SliceView::animationsEnabled() const
{
    return m_animationsEnabled;
}

bool SliceView::showVertices() const
{
    return m_showVertices;
}

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
    label->setPos(mapToScene(mapFromScene(p) + QPoint(16, 0)));

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
    QGraphicsView::paintEvent(e);
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
