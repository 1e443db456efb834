#include "sliceview.h"
#include "sliceview_p.h"

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
#include <QStyleOptionGraphicsItem>
#include <QWheelEvent>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>
using namespace sliceview;

namespace {

const int kLogoFadeDuration = 500;

bool hasPolygon(const Slice &slice)
{
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        if (slice.contourAt(i).points().size() >= 3)
            return true;
    }
    return false;
}

} // namespace

namespace sliceview {

SliceGroup::SliceGroup()
    : m_outerPen(cosmeticPen(Qt::blue))
    , m_holePen(cosmeticPen(Qt::red))
    , m_noPen(Qt::NoPen)
    , m_outerBrush(QColor(112, 146, 190, 64))
    , m_holeBrush(Qt::white)
    , m_noBrush(Qt::NoBrush)
{
    // The part of the group being painted comes with the style option.
    setFlag(QGraphicsItem::ItemUsesExtendedStyleOption);
}

void SliceGroup::setContour(int i, const QPolygonF &polygon, const QRectF &box, bool hole)
{
    if (i == m_contours.size()) {
        // Made whole before they join the scene, which then has nothing to follow up.
        QGraphicsPolygonItem *fill = new QGraphicsPolygonItem(polygon);
        fill->setFillRule(Qt::WindingFill);
        fill->setZValue(-1);
        fill->setPen(fillPen(hole));
        fill->setBrush(fillBrush(hole));
        GraphicsPolygonItem *outline = new GraphicsPolygonItem(polygon);
        outline->setPen(outlinePen(hole));
        outline->setBrush(m_noBrush);
        outline->showVertices = m_showVertices;
        for (QGraphicsPolygonItem *item : {fill, static_cast<QGraphicsPolygonItem *>(outline)}) {
            item->setFlag(QGraphicsItem::ItemHasNoContents);
            item->setParentItem(this);
        }
        m_contours.append({fill, outline, polygon, box, hole});
        return;
    }
    ContourItems &contour = m_contours[i];
    contour.fill->setPolygon(polygon);
    contour.outline->setPolygon(polygon);
    // Setting a pen or brush always costs a geometry change: only where it differs.
    if (contour.hole != hole) {
        contour.fill->setPen(fillPen(hole));
        contour.fill->setBrush(fillBrush(hole));
        contour.outline->setPen(outlinePen(hole));
    }
    contour.polygon = polygon;
    contour.box = box;
    contour.hole = hole;
}

void SliceGroup::truncate(int count)
{
    for (int i = m_contours.size() - 1; i >= count; --i) {
        delete m_contours.at(i).outline;
        delete m_contours.at(i).fill;
    }
    m_contours.resize(count);
}

void SliceGroup::updateExtent()
{
    QRectF extent;
    if (!m_contours.isEmpty()) {
        double minX = m_contours.first().box.left();
        double minY = m_contours.first().box.top();
        double maxX = m_contours.first().box.right();
        double maxY = m_contours.first().box.bottom();
        for (const ContourItems &contour : qAsConst(m_contours)) {
            minX = std::min(minX, contour.box.left());
            minY = std::min(minY, contour.box.top());
            maxX = std::max(maxX, contour.box.right());
            maxY = std::max(maxY, contour.box.bottom());
        }
        extent = QRectF(QPointF(minX, minY), QPointF(maxX, maxY));
    }
    if (extent != m_extent) {
        prepareGeometryChange();
        m_extent = extent;
    }
}

void SliceGroup::setShowVertices(bool on)
{
    m_showVertices = on;
    for (const ContourItems &contour : qAsConst(m_contours))
        contour.outline->showVertices = on;
}

QRectF SliceGroup::boundingRect() const
{
    return m_extent;
}

void SliceGroup::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *)
{
    // Only the contours that can reach the part being painted: those whose box, widened by what an
    // outline or a vertex mark takes beyond it, meets that part. A part wholly outside the extent
    // (the view draws the group when it is a pixel away) tells nothing: then all are drawn.
    const QTransform &transform = painter->worldTransform();
    const double sx = std::hypot(transform.m11(), transform.m12());
    const double sy = std::hypot(transform.m21(), transform.m22());
    QRectF part = option->exposedRect;
    const bool cull = transform.type() <= QTransform::TxScale && !part.isEmpty() && sx > 0.0 && sy > 0.0;
    if (cull) {
        const double reach = kVertexMarkReach + 2.0;
        part.adjust(-reach / sx, -reach / sy, reach / sx, reach / sy);
    }
    // A box may have no width or height (a polygon on a line) and is still drawn.
    auto reaches = [cull, &part](const QRectF &box) {
        return !cull || (box.left() <= part.right() && box.right() >= part.left() && box.top() <= part.bottom()
                         && box.bottom() >= part.top());
    };

    // As QGraphicsPolygonItem paints (none of these is ever selected), with the pen and brush
    // each item was given; but a hole's fill leaves out its outline. That one is opaque and
    // drawn again, pixel for pixel, by the hole's outline item above every fill.
    painter->setPen(m_noPen);
    for (const ContourItems &contour : qAsConst(m_contours)) {
        if (!reaches(contour.box))
            continue;
        painter->setBrush(fillBrush(contour.hole));
        painter->drawPolygon(contour.polygon, Qt::WindingFill);
    }
    QVector<QRectF> marks;
    for (const ContourItems &contour : qAsConst(m_contours)) {
        if (!reaches(contour.box))
            continue;
        painter->setPen(outlinePen(contour.hole));
        painter->setBrush(m_noBrush);
        painter->drawPolygon(contour.polygon, Qt::OddEvenFill);
        if (m_showVertices)
            paintVertexMarks(painter, contour.polygon, &marks);
    }
}

} // namespace sliceview


SliceView::SliceView(QWidget *parent)
    : QGraphicsView(parent)
{
    // Owned by the parent widget, which outlives the view; a view without parent owns it.
    QGraphicsScene *graphicsScene = new QGraphicsScene(parent ? static_cast<QObject *>(parent) : this);
    setScene(graphicsScene);
    graphicsScene->setItemIndexMethod(QGraphicsScene::NoIndex);
    // Without a rectangle of its own the scene measures all its items after every change.
    graphicsScene->setSceneRect(-kSceneExtent * 0.5, -kSceneExtent * 0.5, kSceneExtent, kSceneExtent);
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
    m_lastReadStatus = readFiles(fileNames, m_memoryBudget, &stack, &m_lastReadNeededMemory);
    showStack(stack);
}

bool SliceView::replaceWithFile(const QString &fileName)
{
    SliceStack stack;
    const QDataStream::Status status = readFiles(QStringList(fileName), m_memoryBudget, &stack, &m_lastReadNeededMemory);
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

QDataStream::Status SliceView::readFiles(const QStringList &fileNames, qint64 memoryBudget, SliceStack *stack,
                                         bool *neededMemory)
{
    // From before the first file is opened, so that the figure is the whole load of a large file.
    QElapsedTimer time;
    time.start();
    QDataStream::Status result = QDataStream::Ok;
    *neededMemory = false;
    for (const QString &fileName : fileNames) {
        // The reader refuses a file whose slices would take more memory than there is; arranging
        // them can still find none left, and that must end the opening, not the program.
        try {
            QFile file(fileName);
            SlcReader reader(&file);
            reader.setMemoryBudget(memoryBudget);
            QList<Slice> read = reader.readSlices(false, -1);
            *neededMemory = reader.needsMoreMemory();
            QDataStream::Status status = reader.stream()->status();
            // A file that could not be opened (the reader keeps quiet about it) or that gave
            // nothing before it failed holds nothing to show: for the user that is a refusal.
            if (!file.isOpen() || (status != QDataStream::Ok && read.isEmpty()))
                status = QDataStream::ReadCorruptData;
            if (result == QDataStream::Ok)
                result = status;
            // Handed over, so that the stack reorders the contours in place instead of copying them.
            if (!*neededMemory)
                stack->addSlices(std::move(read), false);
        } catch (const std::bad_alloc &) {
            *neededMemory = true;
        }
        if (*neededMemory) {
            stack->clear();
            return QDataStream::ReadCorruptData;
        }
    }
    qDebug("Read slices completed in %lld ms", static_cast<long long>(time.elapsed()));
    return result;
}

void SliceView::showStack(const SliceStack &stack)
{
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

    // Never below the smallest interval the grid accepts, so the range offered for it is sane.
    const double larger = m_bounds.width() > m_bounds.height() ? m_bounds.width() : m_bounds.height();
    m_maxGridInterval = std::max(0.1, larger * 0.5);

    updateGrid();
}

QDataStream::Status SliceView::lastReadStatus() const
{
    return m_lastReadStatus;
}

bool SliceView::lastReadNeededMoreMemory() const
{
    return m_lastReadNeededMemory;
}

void SliceView::setMemoryBudget(qint64 bytes)
{
    m_memoryBudget = bytes;
}

// ---------------------------------------------------------------------------------------------
// Slices

void SliceView::setSlice(int n)
{
    m_currentSlice = m_sliceCount > 0 ? qBound(1, n, m_sliceCount) : 0;
    // First, so that the scene spares the items changed below any bookkeeping of their own.
    scene()->update(QRectF());
    showSlice();
}

void SliceView::showSlice()
{
    if (m_currentSlice == 0 || m_currentSlice > m_sliceCount) {
        removeSliceItems();
        return;
    }

    const Slice &slice = m_slices.at(m_currentSlice - 1);

    // The items of the slice shown before are given the new contours, in their order: on a dense
    // part that spares making and deleting tens of thousands of items at every step. Items left
    // over are few, or the group goes as a whole: one item taken out of a large group costs a
    // search through its siblings.
    const int count = slice.contourCount();
    int drawable = 0;
    for (int i = 0; i < count; ++i)
        drawable += slice.contourAt(i).points().size() >= 3 ? 1 : 0;
    if (m_sliceGroup && m_sliceGroup->contourCount() - drawable > maximumLeftOverItems)
        removeSliceItems();
    if (!m_sliceGroup) {
        m_sliceGroup = new SliceGroup;
        m_sliceGroup->setShowVertices(m_showVertices);
        scene()->addItem(m_sliceGroup);
    }
    int used = 0;
    for (int i = 0; i < count; ++i) {
        const Contour &contour = slice.contourAt(i);
        const QVector<geom::Point2Df> &points = contour.points();
        // Fewer than 3 vertices enclose nothing; a file may hold millions of such boundaries.
        const int n = points.size();
        if (n < 3)
            continue;
        QPolygonF polygon(n);
        QPointF *out = polygon.data();
        double minX = double(points.at(0).x);
        double minY = double(points.at(0).y);
        double maxX = minX;
        double maxY = minY;
        for (const geom::Point2Df &p : points) {
            const double x = double(p.x);
            const double y = double(p.y);
            *out++ = QPointF(x, y);
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
        m_sliceGroup->setContour(used++, polygon, QRectF(QPointF(minX, minY), QPointF(maxX, maxY)),
                                  !(contour.area() >= 0.0));
    }

    if (used < m_sliceGroup->contourCount()) {
        QCoreApplication::sendPostedEvents(scene(), QEvent::MetaCall);
        m_sliceGroup->truncate(used);
    }
    m_sliceGroup->updateExtent();
}

void SliceView::removeSliceItems()
{
    QGraphicsItemGroup *group = m_sliceGroup;
    m_sliceGroup = nullptr;
    removeGroup(group);
}

void SliceView::setShowVertices(bool on)
{
    // The slice's outlines are all the items of their kind in the scene.
    if (m_sliceGroup)
        m_sliceGroup->setShowVertices(on);
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
    m_lastReadNeededMemory = false;
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

