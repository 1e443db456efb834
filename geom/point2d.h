#ifndef GEOM_POINT2D_H
#define GEOM_POINT2D_H

#include <QDataStream>
#include <QDebug>
#include <QPointF>
#include <QTextStream>
#include <QVector>

#include <cmath>

namespace geom {

// A 2D point that doubles as a vector. Lengths are always worked out in double
// so that float coordinates lose nothing before the square root.
template <typename T>
class Point2D
{
public:
    typedef T Coordinate;

    T x = T(0);
    T y = T(0);

    // (0, 0): the default origin of the util2D family and the simplifier.
    static const Point2D zero;
    // (signalling NaN, signalling NaN).
    static const Point2D invalid;

    constexpr Point2D() = default;
    constexpr Point2D(T px, T py) : x(px), y(py) {}
    // Each double of p is narrowed to T.
    explicit constexpr Point2D(const QPointF &p) : x(T(p.x())), y(T(p.y())) {}
    Point2D(const Point2D &) = default;
    Point2D &operator=(const Point2D &) = default;
    ~Point2D() = default;

    // 0 when the squared length does not exceed 1e-12.
    double length() const
    {
        const double sq = squaredLength();
        return sq <= 1e-12 ? 0.0 : std::sqrt(sq);
    }

    // Scales the vector to len (a negative len reverses it); a vector too short
    // to have a direction becomes the zero vector whatever len is.
    Point2D &setLength(double len)
    {
        const double sq = squaredLength();
        if (sq <= 1e-12) {
            x = T(0);
            y = T(0);
            return *this;
        }
        const double f = len / std::sqrt(sq);
        x = T(double(x) * f);
        y = T(double(y) * f);
        return *this;
    }

    Point2D &operator+=(const Point2D &p)
    {
        x += p.x;
        y += p.y;
        return *this;
    }
    Point2D &operator-=(const Point2D &p)
    {
        x -= p.x;
        y -= p.y;
        return *this;
    }

    Point2D operator+(const QPointF &p) const { return Point2D(T(double(x) + p.x()), T(double(y) + p.y())); }
    Point2D operator-(const QPointF &p) const { return Point2D(T(double(x) - p.x()), T(double(y) - p.y())); }

    // Fuzzy: each axis may differ by 1e-5 (float); a NaN difference never matches.
    bool operator==(const QPointF &p) const
    {
        const float dx = float(double(x) - p.x());
        const float dy = float(double(y) - p.y());
        return std::fabs(dx) <= 1e-5f && std::fabs(dy) <= 1e-5f;
    }
    bool operator!=(const QPointF &p) const { return !(*this == p); }

    // Per coordinate, replaced only by a strictly smaller (larger) one of p;
    // a NaN on either side keeps the coordinate.
    Point2D &minimize(const Point2D &p)
    {
        if (x > p.x)
            x = p.x;
        if (y > p.y)
            y = p.y;
        return *this;
    }
    Point2D &maximize(const Point2D &p)
    {
        if (x < p.x)
            x = p.x;
        if (y < p.y)
            y = p.y;
        return *this;
    }

    // Each coordinate raised to n, evaluated in double.
    Point2D pow(int n) const { return Point2D(T(std::pow(double(x), n)), T(std::pow(double(y), n))); }
    Point2D &powInPlace(int n)
    {
        *this = pow(n);
        return *this;
    }

    // Copies (narrows) the coordinates into out.
    void toPoint2Df(Point2D<float> &out) const
    {
        out.x = float(x);
        out.y = float(y);
    }
    QPointF toPointF() const { return QPointF(double(x), double(y)); }

private:
    double squaredLength() const { return double(x) * double(x) + double(y) * double(y); }
};

// Exact comparison of both coordinates.
template <typename T>
inline bool operator==(const Point2D<T> &a, const Point2D<T> &b)
{
    return a.x == b.x && a.y == b.y;
}
template <typename T>
inline bool operator!=(const Point2D<T> &a, const Point2D<T> &b)
{
    return !(a == b);
}

template <typename T>
inline Point2D<T> operator+(const Point2D<T> &a, const Point2D<T> &b)
{
    return Point2D<T>(a.x + b.x, a.y + b.y);
}
template <typename T>
inline Point2D<T> operator-(const Point2D<T> &a, const Point2D<T> &b)
{
    return Point2D<T>(a.x - b.x, a.y - b.y);
}
template <typename T>
inline Point2D<T> operator-(const Point2D<T> &a)
{
    return Point2D<T>(-a.x, -a.y);
}
// The scale factor takes the point's coordinate type (also from an int or a
// double literal), so it is kept out of template argument deduction.
template <typename T>
inline Point2D<T> operator*(const Point2D<T> &a, typename Point2D<T>::Coordinate s)
{
    return Point2D<T>(a.x * s, a.y * s);
}
template <typename T>
inline Point2D<T> operator*(typename Point2D<T>::Coordinate s, const Point2D<T> &a)
{
    return Point2D<T>(s * a.x, s * a.y);
}

typedef Point2D<float> Point2Df;
typedef Point2D<double> Point2Dd;

extern template class Point2D<float>;
extern template class Point2D<double>;

// Raw arrays on a data stream: an int32 count in the stream's byte order, then
// the packed elements straight from memory (little-endian IEEE, x then y).
//
// The writers return the number of elements written, 0 when the stream had
// already failed (nothing is written then) and -1 on a failed or short device
// write, which also sets QDataStream::WriteFailed.
//
// The readers return the number of elements read into points, 0 when reading
// the count failed, and -1 when the data is not a valid array: a negative
// count, a count larger than the data left on the device
// (QDataStream::ReadCorruptData or ReadPastEnd). On every failure points keeps
// its old content.
int writeRaw2Df(QDataStream &stream, const Point2Df *points, int count);
int readRaw2Df(QDataStream &stream, QVector<Point2Df> &points);
int writeRaw2Dd(QDataStream &stream, const Point2Dd *points, int count);
int readRaw2Dd(QDataStream &stream, QVector<Point2Dd> &points);

// "P(x, y)" followed by one blank.
QDebug operator<<(QDebug dbg, const Point2Df &p);
QDebug operator<<(QDebug dbg, const Point2Dd &p);

// x, a blank, y. The blank cannot be part of a formatted number, whatever the
// stream's locale; reading takes any one character between the coordinates.
QTextStream &operator<<(QTextStream &stream, const Point2Df &p);
QTextStream &operator>>(QTextStream &stream, Point2Df &p);
QTextStream &operator<<(QTextStream &stream, const Point2Dd &p);
QTextStream &operator>>(QTextStream &stream, Point2Dd &p);

} // namespace geom

Q_DECLARE_TYPEINFO(geom::Point2Df, Q_PRIMITIVE_TYPE);
Q_DECLARE_TYPEINFO(geom::Point2Dd, Q_PRIMITIVE_TYPE);

#endif // GEOM_POINT2D_H
