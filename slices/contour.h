#ifndef CONTOUR_H
#define CONTOUR_H

#include "bounds2d.h"
#include "point2d.h"

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

    // Caches.
    bool isDirty() const;
    void update() const;
    double area() const;
    double length() const;
    geom::Bounds2Df boundingRect() const;
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

    static constexpr quintptr dirtyBit = 1;

    QVector<geom::Point2Df> m_points;
    // The extra part's address (aligned, so its lowest bit is free) with the stale flag in that bit.
    mutable quintptr m_extra;
    mutable double m_area;
    mutable double m_length;
    mutable geom::Bounds2Df m_bounds;
};

Q_DECLARE_TYPEINFO(Contour, Q_MOVABLE_TYPE);

#endif // CONTOUR_H
