#ifndef GEOM_SPHERE3D_H
#define GEOM_SPHERE3D_H

#include "boundingball.h"
#include "point3d.h"

class QMatrix4x4;

namespace geom {

// A bounding sphere in single precision: centre (x, y, z) and radius r.
class Sphere3Df : public BoundingBall<Sphere3Df, Point3Df, float>
{
public:
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float r = -1.0f;

    // The reset state: centre at the origin, r = -1.
    Sphere3Df() = default;
    Sphere3Df(const Point3Df &centre, float radius) : x(centre.x), y(centre.y), z(centre.z), r(radius) {}
    // The sphere with the segment p1-p2 as diameter.
    Sphere3Df(const Point3Df &p1, const Point3Df &p2) { setThrough(p1, p2); }

    // The centre point shares the first three fields.
    const Point3Df &center() const { return *reinterpret_cast<const Point3Df *>(&x); }
    void setCenter(const Point3Df &p)
    {
        x = p.x;
        y = p.y;
        z = p.z;
    }

    // Taken as the formulas stand, whatever the sign of r.
    float surfaceArea() const;
    float volume() const;

    // The centre mapped through the whole matrix; the radius scaled by the
    // longest of the first three columns.
    Sphere3Df mapped(const QMatrix4x4 &m) const;
};

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Sphere3Df, Q_MOVABLE_TYPE);

#endif // GEOM_SPHERE3D_H
