#ifndef SLICESTACK_H
#define SLICESTACK_H

#include "slice.h"

#include "bounds3d.h"

#include <QList>

#include <vector>

class QMatrix4x4;

// The slices of one part ordered by height, with the totals of the whole part.
// Two slices whose heights differ by at most 1e-5 of the smaller magnitude
// are one layer: the one added later wins. Once update() has run, every slice
// but the last is as thick as the gap to the next one.
class SliceStack
{
public:
    SliceStack();

    // Appends the slices, orders each one's contours by decreasing absolute
    // area, sorts the stack by height (stable, so the later of two equal
    // heights comes last) and drops repeated heights.
    // The per-slice work runs on every core. Handing the list over (an rvalue) spares copying
    // the contour lists of slices that are reordered.
    void addSlices(const QList<Slice> &slices, bool deferUpdate);
    void addSlices(QList<Slice> &&slices, bool deferUpdate);
    void update();
    void clear();

    // Index of the first slice at or above z when that slice lies within the
    // height tolerance of z, else -1.
    int sliceIndexAt(float z) const;
    // A negative index counts from the end.
    void removeSlice(int index, bool deferUpdate);
    bool removeSliceAt(float z, bool deferUpdate);
    // Replaces the slice whose height matches, or inserts in height order;
    // returns the slice's index.
    int insertSlice(const Slice &slice, bool deferUpdate);
    // A slice at z made of the children of contour followed by contour's own
    // points as one more contour.
    int insertSlice(float z, const Contour &contour, bool deferUpdate);

    float maxThickness() const;
    float minThickness() const;

    const QList<Slice> &slices() const { return m_slices; }
    // x/y: union of the slice boxes (left empty when no slice has an area);
    // z: first to last slice height.
    const geom::Bounds3Df &bounds() const { return m_bounds; }
    int contourCount() const { return m_contourCount; }
    qint64 vertexCount() const { return m_vertexCount; }
    double sideArea() const { return m_sideArea; }
    double volume() const { return m_volume; }
    // Radius of the bounding sphere about the centre of bounds().
    double radius() const { return m_radius; }

    // ---- Transforms ----

    // Bits 0x3 mirror x, 0xC y, 0x30 z; mirroring in z keeps the slices
    // ascending and the thicknesses the gaps between them.
    SliceStack &mirror(unsigned flags);
    // Every slice mapped, put back in height order, and the totals recomputed.
    SliceStack mapped(const QMatrix4x4 &m) const;
    // The box of the stack mapped through m, without mapping the slices.
    geom::Bounds3Df mappedBounds(const QMatrix4x4 &m) const;

private:
    struct SliceTotals;
    struct Gathered;
    static SliceTotals totalsOf(const Slice &slice);
    void arrangeAdded(int first, bool deferUpdate);
    // update() with the totals of the slices already gathered.
    void updateFrom(Gathered &gathered);

    geom::Bounds3Df m_bounds;
    int m_contourCount;
    qint64 m_vertexCount;
    double m_sideArea;
    double m_radius;
    QList<Slice> m_slices;
    double m_volume;
};

// Index of the first slice whose z is not less than z, or -1 when every slice
// is lower. The slices must be ordered by z.
int sliceLowerBound(const QList<Slice> &slices, float z);

#endif // SLICESTACK_H
