#include "bounds3d.h"

#include "boxaxis_p.h"
#include "clipsegment_p.h"

#include <cfloat>
#include <cstddef>
#include <type_traits>

namespace geom {

// min() and max() hand out the corners as points laid over the coordinates.
static_assert(std::is_standard_layout<Bounds3Df>::value && sizeof(Bounds3Df) == 2 * sizeof(Point3Df)
                  && offsetof(Bounds3Df, maxX) == sizeof(Point3Df),
              "the corners of a 3D box are two packed points");

Bounds3Df::Bounds3Df()
    : minX(FLT_MAX), minY(FLT_MAX), minZ(FLT_MAX), maxX(-FLT_MAX), maxY(-FLT_MAX), maxZ(-FLT_MAX)
{
}

Bounds3Df::Bounds3Df(const Point3Df &min, const Point3Df &max)
    : minX(min.x), minY(min.y), minZ(min.z), maxX(max.x), maxY(max.y), maxZ(max.z)
{
}

void Bounds3Df::reset()
{
    minX = minY = minZ = FLT_MAX;
    maxX = maxY = maxZ = -FLT_MAX;
}

void Bounds3Df::extend(const Point3Df &p)
{
    boxaxis::extend(minX, maxX, p.x);
    boxaxis::extend(minY, maxY, p.y);
    boxaxis::extend(minZ, maxZ, p.z);
}

void Bounds3Df::extend(const Point3Df *points, int count)
{
    if (!points)
        return;
    float x0 = minX, y0 = minY, z0 = minZ, x1 = maxX, y1 = maxY, z1 = maxZ;
    for (int i = 0; i < count; ++i) {
        boxaxis::extend(x0, x1, points[i].x);
        boxaxis::extend(y0, y1, points[i].y);
        boxaxis::extend(z0, z1, points[i].z);
    }
    minX = x0;
    minY = y0;
    minZ = z0;
    maxX = x1;
    maxY = y1;
    maxZ = z1;
}

void Bounds3Df::extend(const QVector<Point3Df> &points)
{
    extend(points.constData(), points.size());
}

Bounds3Df &Bounds3Df::moveCenter(const Point3Df &p)
{
    const float dx = p.x - boxaxis::center(minX, maxX);
    const float dy = p.y - boxaxis::center(minY, maxY);
    const float dz = p.z - boxaxis::center(minZ, maxZ);
    minX += dx;
    maxX += dx;
    minY += dy;
    maxY += dy;
    minZ += dz;
    maxZ += dz;
    return *this;
}

void Bounds3Df::moveTo(const Point3Df &p)
{
    moveMin(p);
}

void Bounds3Df::moveMin(const Point3Df &p)
{
    maxX += p.x - minX;
    maxY += p.y - minY;
    maxZ += p.z - minZ;
    minX = p.x;
    minY = p.y;
    minZ = p.z;
}

void Bounds3Df::moveMax(const Point3Df &p)
{
    minX += p.x - maxX;
    minY += p.y - maxY;
    minZ += p.z - maxZ;
    maxX = p.x;
    maxY = p.y;
    maxZ = p.z;
}

void Bounds3Df::setSize(const Point3Df &s)
{
    maxX = minX + s.x;
    maxY = minY + s.y;
    maxZ = minZ + s.z;
}

Bounds3Df &Bounds3Df::adjust(const Point3Df &a, const Point3Df &b)
{
    minX -= a.x;
    minY -= a.y;
    minZ -= a.z;
    maxX += b.x;
    maxY += b.y;
    maxZ += b.z;
    return *this;
}

Bounds3Df &Bounds3Df::adjust(float d)
{
    minX -= d;
    minY -= d;
    minZ -= d;
    maxX += d;
    maxY += d;
    maxZ += d;
    return *this;
}

Bounds3Df &Bounds3Df::translate(const Point3Df &p)
{
    minX += p.x;
    minY += p.y;
    minZ += p.z;
    maxX += p.x;
    maxY += p.y;
    maxZ += p.z;
    return *this;
}

Bounds3Df &Bounds3Df::operator+=(const Point3Df &p)
{
    return translate(p);
}

Bounds3Df &Bounds3Df::operator-=(const Point3Df &p)
{
    minX -= p.x;
    minY -= p.y;
    minZ -= p.z;
    maxX -= p.x;
    maxY -= p.y;
    maxZ -= p.z;
    return *this;
}

Bounds3Df &Bounds3Df::operator*=(float s)
{
    minX *= s;
    minY *= s;
    minZ *= s;
    maxX *= s;
    maxY *= s;
    maxZ *= s;
    return *this;
}

Bounds3Df &Bounds3Df::operator/=(float s)
{
    minX /= s;
    minY /= s;
    minZ /= s;
    maxX /= s;
    maxY /= s;
    maxZ /= s;
    return *this;
}

Bounds3Df &Bounds3Df::normalize()
{
    boxaxis::normalize(minX, maxX);
    boxaxis::normalize(minY, maxY);
    boxaxis::normalize(minZ, maxZ);
    return *this;
}

Bounds3Df &Bounds3Df::intersect(const Bounds3Df &other)
{
    if (isNull())
        return *this;
    if (other.isNull()) {
        reset();
        return *this;
    }
    const Bounds3Df o = other.normalized();
    normalize();
    if (!boxaxis::intersect(minX, maxX, o.minX, o.maxX) || !boxaxis::intersect(minY, maxY, o.minY, o.maxY)
        || !boxaxis::intersect(minZ, maxZ, o.minZ, o.maxZ))
        reset();
    return *this;
}

Bounds3Df &Bounds3Df::operator&=(const Bounds3Df &other)
{
    return intersect(other);
}

Bounds3Df &Bounds3Df::unite(const Bounds3Df &other)
{
    if (other.isNull())
        return *this;
    if (isNull()) {
        *this = other;
        return *this;
    }
    const Bounds3Df o = other.normalized();
    normalize();
    boxaxis::unite(minX, maxX, o.minX, o.maxX);
    boxaxis::unite(minY, maxY, o.minY, o.maxY);
    boxaxis::unite(minZ, maxZ, o.minZ, o.maxZ);
    return *this;
}

Bounds3Df &Bounds3Df::operator|=(const Bounds3Df &other)
{
    return unite(other);
}

Point3Df &Bounds3Df::min()
{
    return *reinterpret_cast<Point3Df *>(&minX);
}

const Point3Df &Bounds3Df::min() const
{
    return *reinterpret_cast<const Point3Df *>(&minX);
}

Point3Df &Bounds3Df::max()
{
    return *reinterpret_cast<Point3Df *>(&maxX);
}

const Point3Df &Bounds3Df::max() const
{
    return *reinterpret_cast<const Point3Df *>(&maxX);
}

bool Bounds3Df::isNull() const
{
    return boxaxis::isNull(minX, maxX) || boxaxis::isNull(minY, maxY) || boxaxis::isNull(minZ, maxZ);
}

bool Bounds3Df::isValid() const
{
    return boxaxis::isValid(minX, maxX) && boxaxis::isValid(minY, maxY) && boxaxis::isValid(minZ, maxZ);
}

Point3Df Bounds3Df::size() const
{
    return Point3Df(maxX - minX, maxY - minY, maxZ - minZ);
}

Point3Df Bounds3Df::center() const
{
    return Point3Df(boxaxis::center(minX, maxX), boxaxis::center(minY, maxY), boxaxis::center(minZ, maxZ));
}

Bounds3Df Bounds3Df::normalized() const
{
    Bounds3Df b(*this);
    return b.normalize();
}

Bounds3Df Bounds3Df::translated(const Point3Df &p) const
{
    Bounds3Df b(*this);
    return b.translate(p);
}

Bounds3Df Bounds3Df::operator+(const Point3Df &p) const
{
    return translated(p);
}

Bounds3Df Bounds3Df::operator-(const Point3Df &p) const
{
    Bounds3Df b(*this);
    return b -= p;
}

Bounds3Df Bounds3Df::operator*(float s) const
{
    Bounds3Df b(*this);
    return b *= s;
}

Bounds3Df Bounds3Df::operator/(float s) const
{
    Bounds3Df b(*this);
    return b /= s;
}

Bounds3Df Bounds3Df::adjusted(const Point3Df &a, const Point3Df &b) const
{
    Bounds3Df r(*this);
    return r.adjust(a, b);
}

Bounds3Df Bounds3Df::adjusted(float d) const
{
    Bounds3Df r(*this);
    return r.adjust(d);
}

Bounds3Df Bounds3Df::intersected(const Bounds3Df &other) const
{
    Bounds3Df b(*this);
    return b.intersect(other);
}

Bounds3Df Bounds3Df::operator&(const Bounds3Df &other) const
{
    return intersected(other);
}

Bounds3Df Bounds3Df::united(const Bounds3Df &other) const
{
    Bounds3Df b(*this);
    return b.unite(other);
}

Bounds3Df Bounds3Df::operator|(const Bounds3Df &other) const
{
    return united(other);
}

bool Bounds3Df::intersects(const Bounds3Df &other) const
{
    if (isNull() || other.isNull())
        return false;
    return boxaxis::overlaps(minX, maxX, other.minX, other.maxX) && boxaxis::overlaps(minY, maxY, other.minY, other.maxY)
        && boxaxis::overlaps(minZ, maxZ, other.minZ, other.maxZ);
}

bool Bounds3Df::contains(const Point3Df &p) const
{
    return boxaxis::containsValue(minX, maxX, p.x) && boxaxis::containsValue(minY, maxY, p.y)
        && boxaxis::containsValue(minZ, maxZ, p.z) && isValid();
}

bool Bounds3Df::contains(const Bounds3Df &other) const
{
    return boxaxis::containsRange(minX, maxX, other.minX, other.maxX)
        && boxaxis::containsRange(minY, maxY, other.minY, other.maxY)
        && boxaxis::containsRange(minZ, maxZ, other.minZ, other.maxZ) && isValid() && other.isValid();
}

bool Bounds3Df::operator==(const Bounds3Df &other) const
{
    if (isNull() && other.isNull())
        return true;
    return boxaxis::absolutelyEqual(minX, other.minX) && boxaxis::absolutelyEqual(minY, other.minY)
        && boxaxis::absolutelyEqual(minZ, other.minZ) && boxaxis::absolutelyEqual(maxX, other.maxX)
        && boxaxis::absolutelyEqual(maxY, other.maxY) && boxaxis::absolutelyEqual(maxZ, other.maxZ);
}

bool Bounds3Df::operator!=(const Bounds3Df &other) const
{
    return !(*this == other);
}

void Bounds3Df::getCorners(Point3Df &min, Point3Df &max) const
{
    min = Point3Df(minX, minY, minZ);
    max = Point3Df(maxX, maxY, maxZ);
}

Point3Df Bounds3Df::anchor(const BoxSides &sides) const
{
    const int s = int(sides);
    return Point3Df(boxaxis::anchor(minX, maxX, s & 0x3), boxaxis::anchor(minY, maxY, (s & 0xC) >> 2),
                    boxaxis::anchor(minZ, maxZ, (s & 0x30) >> 4));
}

BoxSides Bounds3Df::outcode(const Point3Df &p) const
{
    BoxSides code;
    if (minX > p.x)
        code |= MinX;
    if (p.x > maxX)
        code |= MaxX;
    if (minY > p.y)
        code |= MinY;
    if (p.y > maxY)
        code |= MaxY;
    if (minZ > p.z)
        code |= MinZ;
    if (p.z > maxZ)
        code |= MaxZ;
    return code;
}

QList<Point3Df> Bounds3Df::clipSegment(const Point3Df &a, const Point3Df &b) const
{
    return clipping::clipSegment<3>(*this, a, b);
}

QDebug operator<<(QDebug dbg, const Bounds3Df &b)
{
    dbg.nospace();
    if (b.isNull()) {
        dbg << "C(invalid)";
    } else {
        const float sx = b.maxX - b.minX;
        const float sy = b.maxY - b.minY;
        const float sz = b.maxZ - b.minZ;
        dbg << "C(" << b.minX << ", " << b.minY << ", " << b.minZ << " : " << sx << " x " << sy << " x " << sz << ')';
    }
    return dbg.space();
}

} // namespace geom
