#include "bounds2d.h"

#include "boxaxis_p.h"
#include "clipsegment_p.h"

#include <cfloat>
#include <cstddef>
#include <type_traits>

namespace geom {

// min() and max() hand out the corners as points laid over the coordinates.
static_assert(std::is_standard_layout<Bounds2Df>::value && sizeof(Bounds2Df) == 2 * sizeof(Point2Df)
                  && offsetof(Bounds2Df, maxX) == sizeof(Point2Df),
              "the corners of a 2D box are two packed points");

Bounds2Df::Bounds2Df() : minX(FLT_MAX), minY(FLT_MAX), maxX(-FLT_MAX), maxY(-FLT_MAX) {}

Bounds2Df::Bounds2Df(const Point2Df &min, const Point2Df &max) : minX(min.x), minY(min.y), maxX(max.x), maxY(max.y) {}

void Bounds2Df::reset()
{
    minX = minY = FLT_MAX;
    maxX = maxY = -FLT_MAX;
}

void Bounds2Df::extend(const Point2Df &p)
{
    boxaxis::extend(minX, maxX, p.x);
    boxaxis::extend(minY, maxY, p.y);
}

void Bounds2Df::extend(const Point2Df *points, int count)
{
    if (!points)
        return;
    float x0 = minX, y0 = minY, x1 = maxX, y1 = maxY;
    for (int i = 0; i < count; ++i) {
        boxaxis::extend(x0, x1, points[i].x);
        boxaxis::extend(y0, y1, points[i].y);
    }
    minX = x0;
    minY = y0;
    maxX = x1;
    maxY = y1;
}

void Bounds2Df::extend(const QVector<Point2Df> &points)
{
    extend(points.constData(), points.size());
}

Bounds2Df &Bounds2Df::moveCenter(const Point2Df &p)
{
    const float dx = p.x - boxaxis::center(minX, maxX);
    const float dy = p.y - boxaxis::center(minY, maxY);
    minX += dx;
    maxX += dx;
    minY += dy;
    maxY += dy;
    return *this;
}

void Bounds2Df::moveTo(const Point2Df &p)
{
    moveMin(p);
}

void Bounds2Df::moveMin(const Point2Df &p)
{
    maxX += p.x - minX;
    maxY += p.y - minY;
    minX = p.x;
    minY = p.y;
}

void Bounds2Df::moveMax(const Point2Df &p)
{
    minX += p.x - maxX;
    minY += p.y - maxY;
    maxX = p.x;
    maxY = p.y;
}

void Bounds2Df::setSize(const Point2Df &s)
{
    maxX = minX + s.x;
    maxY = minY + s.y;
}

Bounds2Df &Bounds2Df::adjust(const Point2Df &a, const Point2Df &b)
{
    minX -= a.x;
    minY -= a.y;
    maxX += b.x;
    maxY += b.y;
    return *this;
}

Bounds2Df &Bounds2Df::adjust(float d)
{
    minX -= d;
    minY -= d;
    maxX += d;
    maxY += d;
    return *this;
}

Bounds2Df &Bounds2Df::translate(const Point2Df &p)
{
    minX += p.x;
    minY += p.y;
    maxX += p.x;
    maxY += p.y;
    return *this;
}

Bounds2Df &Bounds2Df::operator+=(const Point2Df &p)
{
    return translate(p);
}

Bounds2Df &Bounds2Df::operator-=(const Point2Df &p)
{
    minX -= p.x;
    minY -= p.y;
    maxX -= p.x;
    maxY -= p.y;
    return *this;
}

Bounds2Df &Bounds2Df::operator*=(float s)
{
    minX *= s;
    minY *= s;
    maxX *= s;
    maxY *= s;
    return *this;
}

Bounds2Df &Bounds2Df::operator/=(float s)
{
    minX /= s;
    minY /= s;
    maxX /= s;
    maxY /= s;
    return *this;
}

Bounds2Df &Bounds2Df::normalize()
{
    boxaxis::normalize(minX, maxX);
    boxaxis::normalize(minY, maxY);
    return *this;
}

Bounds2Df &Bounds2Df::intersect(const Bounds2Df &other)
{
    if (isNull())
        return *this;
    if (other.isNull()) {
        reset();
        return *this;
    }
    const Bounds2Df o = other.normalized();
    normalize();
    if (!boxaxis::intersect(minX, maxX, o.minX, o.maxX) || !boxaxis::intersect(minY, maxY, o.minY, o.maxY))
        reset();
    return *this;
}

Bounds2Df &Bounds2Df::operator&=(const Bounds2Df &other)
{
    return intersect(other);
}

Bounds2Df &Bounds2Df::unite(const Bounds2Df &other)
{
    if (other.isNull())
        return *this;
    if (isNull()) {
        *this = other;
        return *this;
    }
    const Bounds2Df o = other.normalized();
    normalize();
    boxaxis::unite(minX, maxX, o.minX, o.maxX);
    boxaxis::unite(minY, maxY, o.minY, o.maxY);
    return *this;
}

Bounds2Df &Bounds2Df::operator|=(const Bounds2Df &other)
{
    return unite(other);
}

Point2Df &Bounds2Df::min()
{
    return *reinterpret_cast<Point2Df *>(&minX);
}

const Point2Df &Bounds2Df::min() const
{
    return *reinterpret_cast<const Point2Df *>(&minX);
}

Point2Df &Bounds2Df::max()
{
    return *reinterpret_cast<Point2Df *>(&maxX);
}

const Point2Df &Bounds2Df::max() const
{
    return *reinterpret_cast<const Point2Df *>(&maxX);
}

bool Bounds2Df::isNull() const
{
    return boxaxis::isNull(minX, maxX) || boxaxis::isNull(minY, maxY);
}

bool Bounds2Df::isValid() const
{
    return boxaxis::isValid(minX, maxX) && boxaxis::isValid(minY, maxY);
}

Point2Df Bounds2Df::size() const
{
    return Point2Df(maxX - minX, maxY - minY);
}

Point2Df Bounds2Df::center() const
{
    return Point2Df(boxaxis::center(minX, maxX), boxaxis::center(minY, maxY));
}

Bounds2Df Bounds2Df::normalized() const
{
    Bounds2Df b(*this);
    return b.normalize();
}

Bounds2Df Bounds2Df::translated(const Point2Df &p) const
{
    Bounds2Df b(*this);
    return b.translate(p);
}

Bounds2Df Bounds2Df::operator+(const Point2Df &p) const
{
    return translated(p);
}

Bounds2Df Bounds2Df::operator-(const Point2Df &p) const
{
    Bounds2Df b(*this);
    return b -= p;
}

Bounds2Df Bounds2Df::operator*(float s) const
{
    Bounds2Df b(*this);
    return b *= s;
}

Bounds2Df Bounds2Df::operator/(float s) const
{
    Bounds2Df b(*this);
    return b /= s;
}

Bounds2Df Bounds2Df::adjusted(const Point2Df &a, const Point2Df &b) const
{
    Bounds2Df r(*this);
    return r.adjust(a, b);
}

Bounds2Df Bounds2Df::adjusted(float d) const
{
    Bounds2Df r(*this);
    return r.adjust(d);
}

Bounds2Df Bounds2Df::intersected(const Bounds2Df &other) const
{
    Bounds2Df b(*this);
    return b.intersect(other);
}

Bounds2Df Bounds2Df::operator&(const Bounds2Df &other) const
{
    return intersected(other);
}

Bounds2Df Bounds2Df::united(const Bounds2Df &other) const
{
    Bounds2Df b(*this);
    return b.unite(other);
}

Bounds2Df Bounds2Df::operator|(const Bounds2Df &other) const
{
    return united(other);
}

bool Bounds2Df::intersects(const Bounds2Df &other) const
{
    if (isNull() || other.isNull())
        return false;
    return boxaxis::overlaps(minX, maxX, other.minX, other.maxX) && boxaxis::overlaps(minY, maxY, other.minY, other.maxY);
}

bool Bounds2Df::contains(const Point2Df &p) const
{
    return boxaxis::containsValue(minX, maxX, p.x) && boxaxis::containsValue(minY, maxY, p.y) && isValid();
}

bool Bounds2Df::contains(const Bounds2Df &other) const
{
    return boxaxis::containsRange(minX, maxX, other.minX, other.maxX)
        && boxaxis::containsRange(minY, maxY, other.minY, other.maxY) && isValid() && other.isValid();
}

bool Bounds2Df::operator==(const Bounds2Df &other) const
{
    if (isNull() && other.isNull())
        return true;
    return boxaxis::absolutelyEqual(minX, other.minX) && boxaxis::absolutelyEqual(minY, other.minY)
        && boxaxis::absolutelyEqual(maxX, other.maxX) && boxaxis::absolutelyEqual(maxY, other.maxY);
}

bool Bounds2Df::operator!=(const Bounds2Df &other) const
{
    return !(*this == other);
}

void Bounds2Df::getCorners(Point2Df &min, Point2Df &max) const
{
    min = Point2Df(minX, minY);
    max = Point2Df(maxX, maxY);
}

Point2Df Bounds2Df::anchor(const BoxSides &sides) const
{
    const int s = int(sides);
    return Point2Df(boxaxis::anchor(minX, maxX, s & 0x3), boxaxis::anchor(minY, maxY, (s & 0xC) >> 2));
}

BoxSides Bounds2Df::outcode(const Point2Df &p) const
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
    return code;
}

QRectF Bounds2Df::toQRectF() const
{
    const QPointF lo = min().toPointF();
    const QPointF hi = max().toPointF();
    return QRectF(lo.x(), lo.y(), hi.x() - lo.x(), hi.y() - lo.y());
}

Bounds2Df Bounds2Df::fromQRectF(const QRectF &r)
{
    return Bounds2Df(Point2Df(QPointF(r.x(), r.y())), Point2Df(QPointF(r.x() + r.width(), r.y() + r.height())));
}

void Bounds2Df::getCoords(float &x1, float &y1, float &x2, float &y2) const
{
    x1 = minX;
    y1 = minY;
    x2 = maxX;
    y2 = maxY;
}

QList<Point2Df> Bounds2Df::clipSegment(const Point2Df &a, const Point2Df &b) const
{
    return clipping::clipSegment<2>(*this, a, b);
}

QDebug operator<<(QDebug dbg, const Bounds2Df &b)
{
    dbg.nospace();
    if (b.isNull()) {
        dbg << "R(invalid)";
    } else {
        const float width = b.maxX - b.minX;
        const float height = b.maxY - b.minY;
        dbg << "R(" << b.minX << ", " << b.minY << " : " << width << " x " << height << ')';
    }
    return dbg.space();
}

} // namespace geom
