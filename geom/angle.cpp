#include "angle.h"

#include "fuzzyreal.h"

#include <QVector3D>

#include <cmath>

namespace geom {

namespace {

// Beyond this many periods from zero the remainder is taken first, so that the
// one-period steps below stay few; nearer angles take the steps alone and keep
// their exact historical results.
constexpr int MaxSteps = 4;

template <typename T>
T wrap(T angle, T lower, T upper, T period)
{
    if (!std::isfinite(angle))
        return angle;
    if (std::fabs(angle) > period * T(MaxSteps))
        angle = std::fmod(angle, period);
    if (angle < lower) {
        while (angle < lower)
            angle += period;
        return angle;
    }
    while (angle > upper)
        angle -= period;
    return angle;
}

constexpr float PiF = 3.14159265358979323846f;
constexpr float TwoPiF = 6.28318530717958647692f;
constexpr double Pi = 3.14159265358979323846;
constexpr double TwoPi = 6.28318530717958647692;

template <typename T>
bool isCentreAtOrigin(const Point2D<T> &centre)
{
    // A tolerance per axis (1e-5 float, 1e-12 double), not the exact origin test of util2D.
    const T tol = FuzzyRealTraits<T>::relativeTolerance;
    return std::fabs(centre.x) <= tol && std::fabs(centre.y) <= tol;
}

template <typename T>
Point2D<T> unit(Point2D<T> v)
{
    return v.setLength(1.0);
}

// The arc tangent in the point's own precision.
inline float directionAngle(const Point2Df &d)
{
    return std::atan2(d.y, d.x);
}

inline double directionAngle(const Point2Dd &d)
{
    return std::atan2(d.y, d.x);
}

template <typename T>
T signedAngleT(const Point2D<T> &a, const Point2D<T> &b, const Point2D<T> &centre)
{
    if (!isCentreAtOrigin(centre))
        return signedAngleT(Point2D<T>(a - centre), Point2D<T>(b - centre), Point2D<T>::zero);
    const T difference = directionAngle(unit(a)) - directionAngle(unit(b));
    return T(wrapRadians(float(difference)));
}

template <typename T>
Point2D<T> normalizedSumT(const Point2D<T> &a, const Point2D<T> &b, const Point2D<T> &centre)
{
    if (!isCentreAtOrigin(centre))
        return normalizedSumT(Point2D<T>(a - centre), Point2D<T>(b - centre), Point2D<T>::zero);
    return unit(unit(b) + unit(a));
}

} // namespace

float wrapDegrees(float angle)
{
    return wrap(angle, -180.0f, 180.0f, 360.0f);
}

float wrapRadians(float angle)
{
    return wrap(angle, -PiF, PiF, TwoPiF);
}

double wrapRadians(double angle)
{
    return wrap(angle, -Pi, Pi, TwoPi);
}

float signedAngle(const Point2Df &a, const Point2Df &b, const Point2Df &centre)
{
    return signedAngleT(a, b, centre);
}

float signedAngle(const Point2Df &a, const Point2Df &b, float cx, float cy)
{
    return signedAngle(a, b, Point2Df(cx, cy));
}

double signedAngle(const Point2Dd &a, const Point2Dd &b, const Point2Dd &centre)
{
    return signedAngleT(a, b, centre);
}

double signedAngle(const Point2Dd &a, const Point2Dd &b, double cx, double cy)
{
    return signedAngle(a, b, Point2Dd(cx, cy));
}

Point2Df normalizedSum(const Point2Df &a, const Point2Df &b, const Point2Df &centre)
{
    return normalizedSumT(a, b, centre);
}

Point2Df normalizedSum(const Point2Df &a, const Point2Df &b, float cx, float cy)
{
    return normalizedSum(a, b, Point2Df(cx, cy));
}

Point2Dd normalizedSum(const Point2Dd &a, const Point2Dd &b, const Point2Dd &centre)
{
    return normalizedSumT(a, b, centre);
}

Point2Dd normalizedSum(const Point2Dd &a, const Point2Dd &b, double cx, double cy)
{
    return normalizedSum(a, b, Point2Dd(cx, cy));
}

QVector4D axisAngle(const QQuaternion &q)
{
    const float radians = float(2.0 * std::acos(double(q.scalar())));
    const float degrees = float(double(radians) * 57.29577951308232);
    const QVector3D axis = QVector3D(q.x(), q.y(), q.z()).normalized();
    return QVector4D(axis, degrees);
}

} // namespace geom
