#include "sphere3d.h"

#include <QMatrix4x4>
#include <QVector3D>
#include <QVector4D>

#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace geom {

static_assert(std::is_standard_layout<Sphere3Df>::value && offsetof(Sphere3Df, r) == sizeof(Point3Df),
              "a sphere's centre is a packed point at its start");

namespace {

constexpr float Pi = 3.14159265358979323846f;
// Formed in float from the float constants: 12.566371 and 4.1887903.
constexpr float FourPi = 4.0f * Pi;
constexpr float FourThirdsPi = (4.0f / 3.0f) * Pi;

double squaredLength(const QVector4D &v)
{
    return double(v.x()) * double(v.x()) + double(v.y()) * double(v.y()) + double(v.z()) * double(v.z())
        + double(v.w()) * double(v.w());
}

} // namespace

float Sphere3Df::surfaceArea() const
{
    return FourPi * (r * r);
}

float Sphere3Df::volume() const
{
    return FourThirdsPi * (r * r * r);
}

Sphere3Df Sphere3Df::mapped(const QMatrix4x4 &m) const
{
    const QVector3D c = m.map(QVector3D(x, y, z));
    const double q = std::max({squaredLength(m.column(0)), squaredLength(m.column(1)), squaredLength(m.column(2))});
    return Sphere3Df(Point3Df(c.x(), c.y(), c.z()), isNull() ? r : float(double(r) * std::sqrt(q)));
}

} // namespace geom
