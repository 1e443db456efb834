#include "circle2d.h"

#include <QTransform>

#include <algorithm>
#include <cstddef>
#include <type_traits>

namespace geom {

static_assert(std::is_standard_layout<Circle2Df>::value && offsetof(Circle2Df, y) == sizeof(float)
                  && std::is_standard_layout<Circle2Dd>::value && offsetof(Circle2Dd, y) == sizeof(double),
              "a circle's centre is a packed point at its start");

namespace {

template <typename T>
constexpr T pi();
template <>
constexpr float pi<float>()
{
    return 3.14159265358979323846f;
}
template <>
constexpr double pi<double>()
{
    return 3.14159265358979323846;
}

} // namespace

template <typename T>
T Circle2D<T>::area() const
{
    return (r * r) * pi<T>();
}

template <typename T>
T Circle2D<T>::circumference() const
{
    return (r + r) * pi<T>();
}

template <typename T>
Circle2D<T> Circle2D<T>::mapped(const QTransform &t) const
{
    const QPointF c = t.map(QPointF(double(x), double(y)));
    // The images of the unit axes, with the entries in the circle's precision.
    const T m11 = T(t.m11()), m12 = T(t.m12()), m21 = T(t.m21()), m22 = T(t.m22());
    const double q = std::max(double(m11) * double(m11) + double(m12) * double(m12),
                              double(m21) * double(m21) + double(m22) * double(m22));
    return Circle2D(Point2D<T>(T(c.x()), T(c.y())), this->isNull() ? r : T(double(r) * std::sqrt(q)));
}

template class Circle2D<float>;
template class Circle2D<double>;

} // namespace geom
