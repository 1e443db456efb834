#include "point2d.h"

#include "rawarray_p.h"

#include <limits>
#include <type_traits>

namespace geom {

static_assert(sizeof(Point2Df) == 8 && sizeof(Point2Dd) == 16, "points are packed coordinate pairs");
static_assert(std::is_trivially_copyable<Point2Df>::value && std::is_trivially_copyable<Point2Dd>::value,
              "raw arrays copy points as bytes");

template <typename T>
const Point2D<T> Point2D<T>::zero(T(0), T(0));
template <typename T>
const Point2D<T> Point2D<T>::invalid(std::numeric_limits<T>::signaling_NaN(), std::numeric_limits<T>::signaling_NaN());

template class Point2D<float>;
template class Point2D<double>;

int writeRaw2Df(QDataStream &stream, const Point2Df *points, int count)
{
    return detail::writeRawArray(stream, points, count);
}

int readRaw2Df(QDataStream &stream, QVector<Point2Df> &points)
{
    return detail::readRawArray(stream, points);
}

int writeRaw2Dd(QDataStream &stream, const Point2Dd *points, int count)
{
    return detail::writeRawArray(stream, points, count);
}

int readRaw2Dd(QDataStream &stream, QVector<Point2Dd> &points)
{
    return detail::readRawArray(stream, points);
}

QDebug operator<<(QDebug dbg, const Point2Df &p)
{
    dbg.nospace() << "P(" << p.x << ", " << p.y << ')';
    return dbg.space();
}

QDebug operator<<(QDebug dbg, const Point2Dd &p)
{
    dbg.nospace() << "P(" << p.x << ", " << p.y << ')';
    return dbg.space();
}

QTextStream &operator<<(QTextStream &stream, const Point2Df &p)
{
    return stream << p.x << ' ' << p.y;
}

QTextStream &operator>>(QTextStream &stream, Point2Df &p)
{
    QChar separator;
    return stream >> p.x >> separator >> p.y;
}

QTextStream &operator<<(QTextStream &stream, const Point2Dd &p)
{
    return stream << p.x << ' ' << p.y;
}

QTextStream &operator>>(QTextStream &stream, Point2Dd &p)
{
    QChar separator;
    return stream >> p.x >> separator >> p.y;
}

} // namespace geom
