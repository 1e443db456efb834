#ifndef GEOM_FACET_H
#define GEOM_FACET_H

#include "point2d.h"
#include "point3d.h"

namespace geom {

// One triangle of an STL model, laid out exactly like the twelve floats of a
// binary STL facet record (normal, then the three vertices), so that arrays of
// facets can be written as raw 48-byte blocks. The vertices run
// counter-clockwise seen from the side the normal points to.
class Facet
{
public:
    Point3Df normal;
    Point3Df vertex1;
    Point3Df vertex2;
    Point3Df vertex3;

    constexpr Facet() = default;
    // Stored as given; the normal is neither tested nor normalised.
    constexpr Facet(const Point3Df &v1, const Point3Df &v2, const Point3Df &v3, const Point3Df &n)
        : normal(n), vertex1(v1), vertex2(v2), vertex3(v3)
    {
    }
    // The normal is computed from the vertices.
    Facet(const Point3Df &v1, const Point3Df &v2, const Point3Df &v3);
    // A horizontal triangle at height z, normal computed.
    Facet(const Point2Df &a, const Point2Df &b, const Point2Df &c, float z);

    // The unit normal of the vertices (zero for a triangle without area);
    // the facet is left unchanged.
    Point3Df computeNormal() const;
    // (vertex2 - vertex1) x (vertex3 - vertex1), not normalised.
    Point3Df crossNormal() const;
    double area() const;
    // Turns the facet over: normal negated, vertex2 and vertex3 exchanged.
    void flip();
};

// The unit normal of the triangle (b - a) x (c - a). A triangle without area
// (coincident or collinear vertices) has no direction and gives the zero
// vector, never NaN.
Point3Df triangleNormal(const Point3Df &a, const Point3Df &b, const Point3Df &c);

// The area of the triangle of the three consecutive points at abc.
float triangleArea(const Point3Df *abc);

// The area of the triangle of the three consecutive points at abc, and the
// signed volume of the tetrahedron it forms with apex: positive when the apex
// lies on the side opposite to the normal, so that summed over a closed,
// outward-oriented mesh it gives the enclosed volume. A triangle without area
// has volume 0.
void triangleAreaAndVolume(float &area, float &volume, const Point3Df *abc, const Point3Df &apex);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Facet, Q_PRIMITIVE_TYPE);

static_assert(sizeof(geom::Facet) == 48, "a facet must match the 48 bytes of an STL record");

#endif // GEOM_FACET_H
