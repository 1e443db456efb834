#ifndef SLICE_H
#define SLICE_H

#include "contour.h"

#include "bounds2d.h"

#include <QMap>
#include <QVector>

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
    const QVector<Contour> &contours() const { return m_contours; }
    void addContour(const Contour &contour);
    void addContour(Contour &&contour);
    int format() const { return m_format; }
    // Grouped format: flat index of each group's last contour -> list index of
    // its outer contour.
    const QMap<int, int> &groups() const { return m_groups; }

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

private:
    void normalizeFormat();
    void rebuildGroupMap();
    void contourAdded();
    void moveContours(float dx, float dy);

    QVector<Contour> m_contours;
    float m_z;
    float m_thickness;
    QMap<int, int> m_groups;
    int m_format;
    mutable double m_area;
    mutable double m_length;
    mutable geom::Bounds2Df m_bounds;
    mutable int m_vertexCount;
};

Q_DECLARE_TYPEINFO(Slice, Q_MOVABLE_TYPE);

#endif // SLICE_H
