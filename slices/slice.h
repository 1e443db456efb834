#ifndef SLICE_H
#define SLICE_H

#include "contour.h"

#include "bounds2d.h"
#include "circle2d.h"

#include <QAtomicInt>
#include <QList>
#include <QMap>
#include <QSet>
#include <QVector>

class QDataStream;
class QMatrix4x4;
class QPainter;
class QPainterPath;
class QTransform;
class QVector3D;

// One layer of a part: height, thickness and closed contours, with cached
// totals. The contours are kept in one of three formats:
//   0 flat      every contour is top level, none has children (what the SLC
//               reader builds and every live path uses);
//   1 hierarchy contours nest to any depth; nested ones are not reachable by
//               flat index;
//   2 grouped   each top-level contour carries one level of children (its
//               holes); flat indices run group after group.
// Walk the contours by index with contourCount() and contourAt().
//
// Like Contour, the cache readers are const but update the cache. Copies of a
// slice share their contour objects, caches included: bring the caches up to
// date (update(), as SliceStack::update() does for all its slices) before
// copies are read on other threads.
class Slice
{
public:
    // No contours, z NaN, thickness 0: what the reader returns when there is no
    // layer left.
    Slice();
    // A layer at height z with no contours yet; the thickness stays NaN until
    // it is known.
    explicit Slice(float z);
    Slice(float z, float thickness);
    // Takes the contours as they are (shared or moved, not copied) and derives
    // the format from their nesting.
    Slice(float z, float thickness, const QVector<Contour> &contours);
    Slice(float z, float thickness, QVector<Contour> &&contours);
    // A copy re-derives the format from the nesting of its contours; an
    // assignment takes the source's format as it is.
    Slice(const Slice &other);
    Slice(Slice &&other) noexcept;
    ~Slice();

    Slice &operator=(const Slice &other);
    Slice &operator=(Slice &&other) noexcept;

    float z() const { return m_z; }
    void setZ(float z) { m_z = z; }
    float thickness() const { return m_thickness; }
    void setThickness(float thickness) { m_thickness = thickness; }

    // The top-level contours.
    const QVector<Contour> &contours() const { return d->contours; }
    void addContour(const Contour &contour);
    void addContour(Contour &&contour);
    int format() const { return d->format; }
    // Grouped format: flat index of each group's last contour -> list index of
    // its outer contour.
    const QMap<int, int> &groups() const { return d->groups; }

    // Access by flat index; i is clamped to the existing contours. On a slice
    // without contours an empty contour is returned.
    const Contour &contourAt(int i) const;
    int contourCount() const;

    // Caches.
    bool isDirty() const;
    void update() const;
    double area() const;
    double length() const;
    geom::Bounds2Df boundingRect() const;
    int vertexCount() const;
    void invalidate();

    // Editing; each applies to the top-level contours.
    void sortByArea(bool ascending);
    int reduce(double tolerance);
    void snapToGrid(double step);
    void translate(float dx, float dy, float dz);
    void translate(const QVector3D &v);

    // ---- Format conversions, streaming and painting ----

    // Flattens, then builds the hierarchy (1) or the groups of outer contours
    // and their holes (2); any other value leaves the slice flat.
    void setFormat(int format);
    // Every nested contour comes up to the top level; largest area first.
    void toFlatFormat();
    // Each hole goes under the smallest outer contour listed before it that
    // contains it (expects a flat slice).
    void toGroupedFormat();
    void toHierarchyFormat();
    // Outer contours in the painter's brush when it is opaque (else white);
    // in the grouped format holes in black.
    void paint(QPainter *painter) const;
    QPainterPath toPainterPath(bool windingFill) const;

    // The record: contour count, the contours, z and thickness. A slice with
    // a contour nested deeper than Contour::maxStreamDepth is not written at
    // all, and the stream's status becomes WriteFailed. Reading appends
    // the contours to those present, takes z and thickness, drops the cached
    // totals and derives the format afresh; on any stream failure the slice is
    // left as it was.
    friend QDataStream &operator>>(QDataStream &stream, Slice &slice);

    // ---- Geometry queries and transforms ----

    // The slice's material at p: counter-clockwise contours add one, clockwise
    // ones take one away. *outerIndex gets the flat index of the largest
    // counter-clockwise contour around p.
    bool contains(const geom::Point2Df &p, int *outerIndex, Qt::FillRule rule) const;
    // The circle touches material or a boundary; a null circle hits nothing.
    bool hitTest(const geom::Circle2Df &circle) const;
    // The signed number of other's points inside the top-level contours;
    // stops once its magnitude exceeds limit (when limit >= 1).
    int windingCount(const Contour &other, int limit) const;
    bool anyCornerInside(const geom::Bounds2Df &box) const;
    // Every contour, each top-level one followed by its descendants.
    QList<const Contour *> flatten() const;
    Contour::PointSet pointSet() const;
    // The difference of the coordinate sums of a and b, or of their flat
    // contour counts when those differ.
    static geom::Point2Df compare(const Slice &a, const Slice &b);
    static Contour::PointSet commonPoints(const Slice &a, const Slice &b);
    static int comparePoints(const Slice &a, const Slice &b);
    // For each contour of first, the indices of the contours of second that
    // share a point with it, nearest centre first.
    static QList<QList<int> > matchContours(const QVector<Contour> &first, const QVector<Contour> &second);

    void reverse();
    void simplify(double tolerance);
    void smooth(int radius, double decay);
    // Bits 0x3 mirror x, 0xC y, 0x30 z.
    Slice &mirror(unsigned flags);
    // A contour shorter than step is removed in the uniform mode.
    void resample(double step, unsigned maxDivisions);
    Slice resampled(double step, unsigned maxDivisions) const;
    // A transform that mirrors the plane reverses the contours, so that
    // material stays counter-clockwise.
    Slice mapped(const QTransform &transform, bool warnProjective) const;
    Slice mapped(const QMatrix4x4 &m, bool warnProjective) const;
    // Copies of source's top-level contours at the valid indices, in ascending
    // order.
    Slice(const QSet<int> &indices, const Slice &source);

private:
    // The reader's memory budget weighs the body.
    friend class SlcMemoryBudget;

    // Everything but the height and the thickness, shared by copies and
    // detached before it is changed. A file may hold millions of layers
    // without a contour: those all point at one of two bodies that are never
    // counted and never written (one with its caches stale, one with them
    // up to date), so that such a layer costs only the slice itself.
    struct Data
    {
        // -1 on the shared empty bodies.
        QAtomicInt ref{1};
        int format = 0;
        QVector<Contour> contours;
        QMap<int, int> groups;
        mutable double area = 0.0;
        mutable double length = 0.0;
        mutable geom::Bounds2Df bounds;
        // -1: every cache is stale.
        mutable int vertexCount = -1;

        Data() = default;
        Data(const Data &other);
        Data &operator=(const Data &) = delete;
    };

    static Data *emptyData(bool clean);
    static bool isShared(const Data *data) { return data->ref.loadRelaxed() != 1; }
    static void retain(Data *data);
    static void release(Data *data);
    // The body, made this slice's own first.
    Data &edit();
    // A body without contours, groups or format goes back to the shared one.
    void settle();

    void normalizeFormat();
    int derivedFormat() const;
    bool groupMapIsCurrent() const;
    void rebuildGroupMap();
    void contourAdded();
    void moveContours(float dx, float dy);

    // Written by update() only to trade the stale empty body for the clean one.
    mutable Data *d;
    float m_z;
    float m_thickness;
};

Q_DECLARE_TYPEINFO(Slice, Q_MOVABLE_TYPE);

QDataStream &operator<<(QDataStream &stream, const Slice &slice);
QDataStream &operator>>(QDataStream &stream, Slice &slice);

#endif // SLICE_H
