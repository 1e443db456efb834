#ifndef CONTOUR_H
#define CONTOUR_H

#include "bounds2d.h"
#include "point2d.h"

#include <QList>
#include <QMap>
#include <QVector>

#include <set>

// One closed boundary of a slice. The closing vertex (a repetition of the
// first) is never stored. Counter-clockwise contours (positive area) bound
// material, clockwise ones bound holes.
//
// Area, perimeter and box are cached and recomputed on the first read after a
// change, so the readers are const but write the cache: one object must not be
// read from two threads at once. Copies share the vertex array and the
// children (implicitly shared) and own their caches, so each thread reads its
// own copy safely.
class QDataStream;
class QPainter;
class QPainterPath;
class QPolygonF;
class QTransform;

class Contour
{
public:
    struct PointLess
    {
        bool operator()(const geom::Point2Df &a, const geom::Point2Df &b) const
        {
            return a.x < b.x || (a.x == b.x && a.y < b.y);
        }
    };
    using PointSet = std::set<geom::Point2Df, PointLess>;

    Contour();
    Contour(const geom::Point2Df *points, int count);
    // Adopts the vertex array without copying a vertex: the vector is shared
    // (or moved in), which is how the SLC reader hands over each boundary.
    explicit Contour(const QVector<geom::Point2Df> &points);
    explicit Contour(QVector<geom::Point2Df> &&points) noexcept;
    Contour(const geom::Bounds2Df &box, bool clockwise);
    Contour(const geom::Point2Df &a, const geom::Point2Df &b, const geom::Point2Df &c);
    Contour(const Contour &other);
    Contour(Contour &&other) noexcept;
    ~Contour();

    Contour &operator=(const Contour &other);
    Contour &operator=(Contour &&other) noexcept;

    // Vertices and children.
    const QVector<geom::Point2Df> &points() const { return m_points; }
    const QVector<Contour> &children() const;
    void addChild(const Contour &child);
    void addChild(Contour &&child);

    // Caches. A contour without children or point set whose caches are fresh is told by one
    // word, so reading a measured contour costs no call.
    bool isDirty() const { return m_extra != 0 && hasStaleCaches(); }
    void update() const
    {
        if (isDirty())
            measure();
    }
    double area() const
    {
        update();
        return m_area;
    }
    double length() const
    {
        update();
        return m_length;
    }
    geom::Bounds2Df boundingRect() const
    {
        update();
        return m_bounds;
    }
    geom::Point2Df center() const;
    double totalArea() const;
    double totalLength() const;
    int vertexCount() const;
    bool isEmpty() const;

    // Distinct vertices, ordered by x then y; built on first use.
    const PointSet &pointSet() const;
    void invalidate();
    void clearPointSet();
    void append(float x, float y);

    // Editing.
    void translate(float dx, float dy);
    Contour translated(const geom::Point2Df &d) const;
    // Bits 0x3 mirror x, 0xC mirror y; the orientation (sign of the area) is kept.
    void mirror(const uint &mirrorFlags);
    void reverse();
    void clear();
    void snapToGrid(double step);
    void simplify(double tolerance);
    int reduce(double tolerance);

    // ---- Queries, point sets, resampling, mapping, streaming, painting ----
    // These look at the contour's own points unless they say otherwise.

    // Distance to the closed polygon; +infinity without points.
    double squaredDistance(const geom::Point2Df &p) const;
    double distance(const geom::Point2Df &p) const;
    // p lies on an edge; *edgeIndex gets k for the edge from point k to k+1.
    bool isOnBoundary(const geom::Point2Df &p, int *edgeIndex = nullptr) const;
    // Non-zero winding: left and bottom boundaries are inside, right and top
    // ones outside.
    bool contains(const geom::Point2Df &q, bool skipBoundsCheck = false) const;
    // How many of other's points lie inside; stops once stopAt is reached
    // (never when stopAt <= 0).
    int countInside(const Contour &other, int stopAt) const;
    // 0 outside, else 1 plus the children that contain q, recursively.
    int countContaining(const geom::Point2Df &q) const;
    bool containsContour(const Contour &other) const;
    bool boundsIntersect(const Contour &other) const;
    // The distinct points of this contour and all its descendants.
    PointSet allPoints() const;
    // -1 / 1 when this contour has fewer / more distinct points (descendants
    // included) than other, else the number of points in only one of them.
    int comparePoints(const Contour &other) const;
    // Points keyed by their relation to ref; sortMode & 0xF: 2 distance,
    // 3 projection on ref, 4 cross product, otherwise squared distance. 0x10
    // reverses the order, 0x20 takes the descendants' points in too.
    QMultiMap<double, geom::Point2Df> sortedPoints(uint sortMode, const geom::Point2Df &ref) const;
    // This contour, then its descendants depth first.
    QList<const Contour *> flatten() const;

    // Rebuilds the points at a spacing of step along the perimeter
    // (maxDivisions 0), or by halving every edge longer than step up to
    // maxDivisions pieces. A step that cannot make progress, or that would
    // need more than maxResamplePoints points, leaves the contour as it is.
    void resample(double step, uint maxDivisions);
    Contour resampled(double step, uint maxDivisions) const;
    // A circular weighted average over radius neighbours on each side.
    void smooth(int radius, double decay);
    // The points and children mapped; this contour is left as it is.
    Contour map(const QTransform &transform, bool warnProjective) const;

    // Fills the own points as one polygon with the painter's pen and brush.
    void draw(QPainter *painter) const;
    // Adds this contour and its descendants as open subpaths.
    QPainterPath &toPainterPath(QPainterPath &path) const;
    // The own points followed by the descendants', depth first.
    QPolygonF toPolygonF() const;

    // Removes the child at index and hands it back.
    Contour takeChild(int index);

    static constexpr int maxResamplePoints = 1 << 24;
    // Records nested deeper than this are corrupt data: a short hostile
    // stream must not recurse without bound. A contour with descendants more
    // than this many levels below it is not written either.
    static constexpr int maxStreamDepth = 256;

    // Children first, then the points as a raw little-endian float array.
    // Writing a contour nested deeper than maxStreamDepth writes nothing and
    // sets the stream's status to WriteFailed. Reading appends the children
    // read after those already present and replaces the points; on any
    // stream failure the contour is left as it was.
    friend QDataStream &operator>>(QDataStream &stream, Contour &contour);

private:
    // What few contours have: children and a built point set. Kept apart so that a plain
    // contour (what files are made of, millions at a time) costs its points and 48 bytes.
    struct Extra;
    Extra *extra() const { return reinterpret_cast<Extra *>(m_extra & ~dirtyBit); }
    Extra &ensureExtra() const;
    void setExtra(Extra *extra) const { m_extra = reinterpret_cast<quintptr>(extra) | (m_extra & dirtyBit); }
    // Drops the point set, and the extra part with it when there are no children.
    void dropPointSet() const;
    bool dirtyFlag() const { return (m_extra & dirtyBit) != 0; }
    void setDirtyFlag(bool dirty) const { m_extra = (m_extra & ~dirtyBit) | (dirty ? dirtyBit : 0); }
    QVector<Contour> &mutableChildren();
    // The stale flag, or a stale child.
    bool hasStaleCaches() const;
    // Recomputes area, length and box from the points.
    void measure() const;

    static constexpr quintptr dirtyBit = 1;

    QVector<geom::Point2Df> m_points;
    // The extra part's address (aligned, so its lowest bit is free) with the stale flag in that bit.
    mutable quintptr m_extra;
    mutable double m_area;
    mutable double m_length;
    mutable geom::Bounds2Df m_bounds;
};

Q_DECLARE_TYPEINFO(Contour, Q_MOVABLE_TYPE);

QDataStream &operator<<(QDataStream &stream, const Contour &contour);
QDataStream &operator>>(QDataStream &stream, Contour &contour);

#endif // CONTOUR_H
