#include "point3d.h"

#include "rawarray_p.h"

#include <cmath>
#include <type_traits>

namespace geom {

static_assert(sizeof(Point3Df) == 12, "3D points are packed coordinate triples");
static_assert(std::is_trivially_copyable<Point3Df>::value, "raw arrays copy points as bytes");

const Point3Df Point3Df::zero(0.0f, 0.0f, 0.0f);

namespace {

double squaredLength(const Point3Df &p)
{
    return double(p.x) * double(p.x) + double(p.y) * double(p.y) + double(p.z) * double(p.z);
}

} // namespace

double Point3Df::length() const
{
    const double sq = squaredLength(*this);
    return sq <= 1e-12 ? 0.0 : std::sqrt(sq);
}

Point3Df &Point3Df::setLength(double len)
{
    const double sq = squaredLength(*this);
    if (sq <= 1e-12) {
        x = y = z = 0.0f;
        return *this;
    }
    const double f = len / std::sqrt(sq);
    x = float(double(x) * f);
    y = float(double(y) * f);
    z = float(double(z) * f);
    return *this;
}

Point3Df &Point3Df::minimize(const Point3Df &p)
{
    if (x > p.x)
        x = p.x;
    if (y > p.y)
        y = p.y;
    if (z > p.z)
        z = p.z;
    return *this;
}

Point3Df &Point3Df::maximize(const Point3Df &p)
{
    if (x < p.x)
        x = p.x;
    if (y < p.y)
        y = p.y;
    if (z < p.z)
        z = p.z;
    return *this;
}

Point3Df Point3Df::lerp(const Point3Df &a, const Point3Df &b, float t)
{
    return Point3Df(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t);
}

Point3Df Point3Df::project(const Point3Df &a, const Point3Df &b)
{
    const float la = float(a.length());
    const float lb = float(b.length());
    if (la == 0.0f || lb == 0.0f)
        return Point3Df();
    const Point3Df ua(a.x / la, a.y / la, a.z / la);
    const Point3Df ub(b.x / lb, b.y / lb, b.z / lb);
    const float s = ((ua.x * ub.x) + ua.y * ub.y + ua.z * ub.z) * la;
    return Point3Df(ub.x * s, ub.y * s, ub.z * s);
}

int writeRaw3Df(QDataStream &stream, const Point3Df *points, int count)
{
    return detail::writeRawArray(stream, points, count);
}

int readRaw3Df(QDataStream &stream, QVector<Point3Df> &points)
{
    return detail::readRawArray(stream, points);
}

QDebug operator<<(QDebug dbg, const Point3Df &p)
{
    dbg.nospace() << "V(" << p.x << ", " << p.y << ", " << p.z << ')';
    return dbg.space();
}

QTextStream &operator<<(QTextStream &stream, const Point3Df &p)
{
    return stream << p.x << ' ' << p.y << ' ' << p.z;
}

QTextStream &operator>>(QTextStream &stream, Point3Df &p)
{
    QChar separator;
    return stream >> p.x >> separator >> p.y >> separator >> p.z;
}

} // namespace geom
