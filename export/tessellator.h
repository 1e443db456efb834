#ifndef GEOM_TESSELLATOR_H
#define GEOM_TESSELLATOR_H

#include "facet.h"
#include "point2d.h"
#include "point3d.h"
#include "slice.h"

#include <QList>
#include <QVector>

namespace geom {

class TessellatorPrivate;

// A stateful wrapper around the GLU polygon tessellator. It turns polygons of
// several closed contours (outer boundaries, holes, overlapping or
// self-intersecting contours) into independent triangles or, in boundary-only
// mode, into boundary loops, under a winding rule.
//
// Calling order: beginPolygon, then per contour beginContour, addVertex...,
// endContour (or one addContour per contour), and last endPolygon, which is
// when GLU does its work. Calls in the wrong state are ignored, so GLU never
// sees an out-of-order call. The output of a polygon stays readable until the
// next clear (beginPolygon, setBoundaryOnly, setSnapCombined, the destructor
// and every slice operation clear).
//
// addContour does not copy the caller's vertices: GLU keeps their addresses
// and reads them back during endPolygon, so the array must stay alive and
// unchanged until then.
//
// Bad input never ends the program: a non-finite coordinate or normal is
// refused before it reaches GLU, and an error reported by GLU fails the
// polygon. A failed polygon yields no output and failed() tells it until the
// next polygon begins.
//
// One instance per thread; separate instances share nothing.
class Tessellator
{
public:
    // Odd values are the 3D types. Records are contiguous values of the
    // coordinate type: Double2D is geom::Point2Dd, Float2D geom::Point2Df,
    // Float3D geom::Point3Df, the others {x, y[, z]} of double or int.
    enum VertexType { Double2D = 0, Double3D = 1, Float2D = 2, Float3D = 3, Int2D = 4, Int3D = 5 };
    enum WindingRule {
        WindingOdd = 0,
        WindingNonZero = 1,
        WindingPositive = 2,
        WindingNegative = 3,
        WindingAbsGeqTwo = 4
    };
    enum State { Idle = 0, InPolygon = 1, InContour = 2 };
    // What outline() made of a slice. OutlineEmpty: the slice had usable
    // contours (three vertices or more) but no region kept its winding rule,
    // typically because they all run clockwise. OutlineFailed: the
    // tessellation failed (see failed()); the outline is empty.
    enum OutlineStatus { OutlineOk = 0, OutlineEmpty = 1, OutlineFailed = 2 };

    // Boundary-only off, tolerance 0 and the given rule (WindingOdd when the
    // rule is not one of WindingRule).
    explicit Tessellator(int windingRule);
    ~Tessellator();
    Tessellator(const Tessellator &) = delete;
    Tessellator &operator=(const Tessellator &) = delete;

    // Polygon input. beginPolygon clears (an open polygon is ended and its
    // output dropped) and opens a polygon of the vertex type. Without a normal
    // the 2D types use (0, 0, 1) and GLU works out the normal of the 3D types.
    // False, and nothing opened, for an unknown vertex type; false with the
    // polygon open but failed for a non-finite normal.
    bool beginPolygon(int vertexType, const double *normal = nullptr);
    void beginContour();
    void endContour();
    // Ends the polygon (GLU tessellates it now); returns !failed().
    bool endPolygon();
    // endPolygon, then the number of primitives, or -1 when the polygon failed.
    int finish();
    // One whole contour of |count| records of the current vertex type; a
    // negative count feeds them in reverse order. Contours of fewer than three
    // vertices and a null pointer are ignored. Within an open contour the
    // records are appended to it.
    void addContour(const void *data, int count);
    // One vertex into the open contour, converted to the vertex type (int
    // types truncate) and stored by the tessellator.
    void addVertex(double x, double y, double z = 0.0);
    // Ends an open polygon and frees all output and stored vertices.
    void clear();

    // Properties; the setters change nothing unless the state is Idle and
    // return whether they applied the value.
    State state() const;
    int vertexType() const;
    // True after a polygon that failed: a coordinate or normal that is not
    // finite, a GLU error, or an output primitive the tessellator cannot hold.
    bool failed() const;
    // The z of the 2D types' vertices and of slices and facets made from 2D
    // output. Refuses a value that is not finite.
    bool setZ(double z);
    double z() const;
    // Refuses a rule outside WindingRule.
    bool setWindingRule(int rule);
    int windingRule() const;
    // Clears first.
    bool setBoundaryOnly(bool on);
    bool isBoundaryOnly() const;
    // A negative tolerance is taken as 0; NaN and values above 1 are refused.
    bool setTolerance(double tolerance);
    double tolerance() const;
    // Combined vertices: false makes a new vertex where GLU asks for one (edge
    // crossings, merged vertices); true reuses the input vertex of the largest
    // weight instead, so that output stays on input vertices. Clears first.
    bool setSnapCombined(bool on);
    bool snapCombined() const;

    // Output of the last polygon. vertices: its triangles as facets carrying
    // the polygon normal (or, for a 3D polygon without one, the normal of the
    // first triangle with an area), triangles with two equal corners left out;
    // empty during an open polygon and after a boundary-only polygon.
    QVector<Facet> vertices() const;
    // The primitives GLU emitted, when the last polygon had the suffix's vertex
    // type (else empty): D values per vertex, one array of all triangles when
    // triangulating, one array per loop (first vertex not repeated) in
    // boundary-only mode. Valid until the next clear.
    QVector<const QVector<double> *> polygons2Dd() const;
    QVector<const QVector<double> *> polygons3Dd() const;
    QVector<const QVector<float> *> polygons2Df() const;
    QVector<const QVector<float> *> polygons3Df() const;
    QVector<const QVector<int> *> polygons2Di() const;
    QVector<const QVector<int> *> polygons3Di() const;

    // Slice operations, all in Float2D. The slices must stay alive until the
    // polygon has ended.
    //
    // Adds every contour of three vertices or more as a contour of its own,
    // reversed on request. While Idle it takes the slice's z and makes a
    // polygon of its own; inside an open Float2D polygon it joins it.
    void addSlice(const Slice &slice, bool reversed = false);
    // The boundary loops of the last polygon as a slice at z with the given
    // thickness; no contours during an open polygon.
    Slice collectSlice(float thickness) const;
    // The boundary loops of the slice under the current winding rule: outer
    // loops counter-clockwise, holes clockwise, at the slice's z and
    // thickness. Leaves boundary-only on.
    Slice outline(const Slice &slice, OutlineStatus *status = nullptr);
    // The same for one polygon, at the current z with thickness 0.
    Slice outline(const QVector<Point2Df> &polygon, OutlineStatus *status = nullptr);
    // Boolean operations at the z and thickness of a; the contour forms give z
    // 0 and thickness 0. They leave boundary-only on and their winding rule
    // set.
    Slice unite(const Slice &a, const Slice &b);
    Slice intersect(const Slice &a, const Slice &b);
    Slice intersect(const Contour &a, const Contour &b);
    // a minus b.
    Slice subtract(const Slice &a, const Slice &b);
    Slice subtract(const Contour &a, const Contour &b);
    // Cap triangles of a slice at its z, facing up, or down (normal (0, 0, -1),
    // against which counter-clockwise contours count negatively). The facets
    // carry the polygon normal; they leave boundary-only off.
    QList<Facet> facets(const Slice &slice, bool downward = false);
    QList<Facet> facets(const Contour &contour);
    // Triangles of planar 3D polygons with the given normal.
    QList<Facet> facets(const QList<QVector<Point3Df>> &polygons, const Point3Df &normal);
    QList<Facet> facets(const QVector<Point3Df> &polygon, const Point3Df &normal);
    // The outline of the slice without its smallest loops: loops whose
    // absolute area is at most minArea are dropped, from the smallest up to
    // the first larger one; the rest come largest first. Leaves boundary-only
    // on.
    Slice filterSmallContours(const Slice &slice, double minArea);
    Slice filterSmallContours(const Contour &contour, double minArea);

private:
    int feedSlice(const Slice &slice, bool reversed);
    Slice booleanOperation(const Slice &a, const Slice &b, int rule, bool reverseB);
    QList<Facet> triangleFacets(const Point3Df &normal) const;

    TessellatorPrivate *d;
};

} // namespace geom

#endif // GEOM_TESSELLATOR_H
