#ifndef SLICEVIEW_H
#define SLICEVIEW_H

#include "sampletable.h"
#include "slice.h"

#include <QColor>
#include <QDataStream>
#include <QGraphicsView>
#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QStringList>
#include <QVector2D>

class QDragEnterEvent;
class SliceStack;
class QDragLeaveEvent;
class QDragMoveEvent;
class QDropEvent;
class QGraphicsItem;
class QGraphicsItemGroup;
class QGraphicsPolygonItem;
class QMouseEvent;
class QPaintEvent;
class QResizeEvent;
class QWheelEvent;
namespace sliceview {
class SliceGroup;
}

// The central view of a main window: one slice of the open file as filled contours, with a
// grid, an overlay (a grabbed slice), the ruler's marks, a snap marker and a coordinate label
// on top. Scene coordinates are the part's millimetres with y pointing up; the transform is
// always a scale (z, -z) plus a translation, z being the zoom in pixels per millimetre.
//
// Every decoration is one item group that is rebuilt from scratch when it changes. Zoom and
// pan requests from buttons, wheel and double click animate the properties "zoom",
// "zoomToPoint" and "center".
class SliceView : public QGraphicsView
{
    Q_OBJECT
    Q_PROPERTY(QPointF center READ center WRITE setCenter)
    Q_PROPERTY(qreal zoom READ zoom WRITE setZoom)
    Q_PROPERTY(qreal zoomToPoint READ zoom WRITE setZoomToPoint)

public:
    // The zoom never leaves [minimumZoom, maximumZoom] through setZoom or setZoomToPoint; the
    // lower bound keeps the transform invertible so that Zoom to All can always recover.
    static constexpr qreal minimumZoom = 1e-4;
    static constexpr qreal maximumZoom = 10000.0;
    // Reach of the snapping, in viewport pixels.
    static constexpr double snapDistance = 3.0;
    // Grid lines of one direction on each side of the centre; beyond that only every k-th
    // multiple of the interval is drawn.
    static constexpr int maximumGridSteps = 500;
    // Contours whose items are deleted one by one when the next slice has fewer; beyond that
    // the slice's items are made anew.
    static constexpr int maximumLeftOverItems = 64;

    explicit SliceView(QWidget *parent = nullptr);
    ~SliceView() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Loading. The outcome is read from sliceCount(), slices() and lastReadStatus().
    void openFile(const QString &fileName);
    void openFiles(const QStringList &fileNames);
    // Like openFile, but a file refused (lastReadStatus() ReadCorruptData) leaves the slices
    // shown so far as they are; true when the file's slices replaced them.
    bool replaceWithFile(const QString &fileName);
    // Status of the reading done by the last openFile/openFiles: QDataStream::Ok when every
    // file was read to its end marker, otherwise the first failure met: ReadCorruptData when a
    // file was refused (not an SLC file we can read, could not be opened, or nothing could be
    // read from it before it failed), ReadPastEnd when a file ended early after complete
    // layers (those are kept). Ok again after clear().
    QDataStream::Status lastReadStatus() const;
    // Whether that refusal was because a file needs more memory than is available.
    bool lastReadNeededMoreMemory() const;
    // What the slices of one file may take (see SlcReader::setMemoryBudget); negative, the
    // default: what the system has available when the file is opened.
    void setMemoryBudget(qint64 bytes);

    // Shows slice n (1-based), clamped to 1 .. sliceCount(); nothing when there are no slices.
    void setSlice(int n);
    void setShowVertices(bool on);
    // Back to the empty view with the logo.
    void clear();

    const geom::SampleTable &sampleTable() const;
    const QList<Slice> &slices() const;
    int sliceCount() const;
    int currentSlice() const;
    float sliceZ(int i) const;
    float currentZ() const;
    float sliceThickness(int i) const;
    float currentThickness() const;
    float sampleThickness(int i) const;
    float currentSampleThickness() const;
    // The part's extent in x and y (left = minimum x, top = minimum y, width, height); null
    // while no file is loaded or the loaded slices hold no contour of 3 or more vertices.
    const QRectF &bounds() const;
    bool isGridVisible() const;
    double gridInterval() const;
    double maxGridInterval() const;
    bool animationsEnabled() const;
    bool showVertices() const;

    // Grid, overlay and ruler marks.
    void setGridVisible(bool on);
    void setGridInterval(double interval);
    void updateGrid();
    void grabOverlay();
    void clearOverlay();
    void setRulerPoints(const QList<QVector2D> &points);

    // Navigation.
    QPointF center() const;
    void setCenter(const QPointF &p);
    qreal zoom() const;
    void setZoom(qreal z);
    void setZoomToPoint(qreal z);
    void setAnimationsEnabled(bool on);

    // Replaces the viewport with an OpenGL widget (on) or a plain widget (off); both get mouse
    // tracking. Falls back to a plain widget when no OpenGL context can be made. Returns
    // whether the viewport is an OpenGL one now.
    bool setOpenGLEnabled(bool on);
    bool isOpenGLEnabled() const;

    // Re-decides the snap marker and the coordinate label; e may be null (after a zoom step).
    void updateSnap(QMouseEvent *e);

public slots:
    void zoomIn();
    void zoomOut();
    void zoomToAll();

signals:
    void mouseLeave();
    void mouseMove(QPointF position);
    void mouseClicked(Qt::MouseButton button, QPointF position);
    void dragEnter(QDragEnterEvent *event);
    void drop(QDropEvent *event);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void leaveEvent(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dragLeaveEvent(QDragLeaveEvent *e) override;
    void dropEvent(QDropEvent *e) override;

private:
    void showSlice();
    void unloadSlices();
    // Reads the files into the stack; the status is the first failure met (see lastReadStatus()).
    static QDataStream::Status readFiles(const QStringList &fileNames, qint64 memoryBudget, SliceStack *stack,
                                         bool *neededMemory);
    void showStack(const SliceStack &stack);
    void addLogo();
    // A new group in the scene holding the items (more may be made with it as their parent).
    QGraphicsItemGroup *addGroup(const QList<QGraphicsItem *> &items = QList<QGraphicsItem *>());
    void removeGroup(QGraphicsItemGroup *&group);
    void removeAllGroups();
    void removeSliceItems();
    void resetSceneRect();
    void scaleAbout(qreal z, const QPoint &anchor);
    // Animates (or, with animations off, sets at once) the named property toward the target
    // that `target` computes from the property's present target value.
    template <typename Target>
    void animate(const char *property, Target target);
    void makeSnapMarker(const QPointF &p);
    // Where the coordinate label of a snap marker at the viewport point goes, in viewport pixels.
    QPoint labelPosition(const QPoint &marker, const QSizeF &size) const;

    geom::SampleTable m_sampleTable;
    QList<Slice> m_slices;
    int m_sliceCount = 0;
    int m_currentSlice = 0;
    QRectF m_bounds;
    double m_gridInterval = 2.0;
    double m_maxGridInterval = 2.0;
    bool m_gridVisible = false;
    bool m_movedSincePress = false;
    bool m_animationsEnabled = true;
    bool m_showVertices = false;
    bool m_openGL = false;
    QDataStream::Status m_lastReadStatus = QDataStream::Ok;
    bool m_lastReadNeededMemory = false;
    qint64 m_memoryBudget = -1;
    sliceview::SliceGroup *m_sliceGroup = nullptr;
    QGraphicsItemGroup *m_gridGroup = nullptr;
    QGraphicsItemGroup *m_snapGroup = nullptr;
    QGraphicsItemGroup *m_overlayGroup = nullptr;
    QGraphicsItemGroup *m_rulerGroup = nullptr;
    QGraphicsItemGroup *m_labelGroup = nullptr;
    QGraphicsItem *m_logo = nullptr;
    QPoint m_lastMousePos;
    QPointF m_viewCenter;
    QColor m_snapColor;
    QPoint m_zoomAnchor;
};

#endif // SLICEVIEW_H
