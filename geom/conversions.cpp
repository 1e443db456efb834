#include "conversions.h"

#include <cmath>

namespace geom {

QPointF toQPointF(const Point2Dd &p)
{
    return QPointF(p.x, p.y);
}

Point2Dd toPoint2Dd(const QPointF &p)
{
    return Point2Dd(p.x(), p.y());
}

QVector2D toQVector2D(const QPointF &p)
{
    return QVector2D(float(p.x()), float(p.y()));
}

QVector2D toQVector2D(const Point2Dd &p)
{
    return QVector2D(float(p.x), float(p.y));
}

QPointF toQPointF(const Point2Df &p)
{
    return QPointF(double(p.x), double(p.y));
}

QPointF toQPointF(const QVector2D &v)
{
    return QPointF(double(v.x()), double(v.y()));
}

QVector2D toQVector2D(const Point2Df &p)
{
    return QVector2D(p.x, p.y);
}

Point2Df toPoint2Df(const QVector2D &v)
{
    return Point2Df(v.x(), v.y());
}

QVector3D toQVector3D(const Point3Df &p)
{
    return QVector3D(p.x, p.y, p.z);
}

Point3Df toPoint3Df(const QVector3D &v)
{
    return Point3Df(v.x(), v.y(), v.z());
}

void toFloats(const QVector4D &v, float out[4])
{
    out[0] = v.x();
    out[1] = v.y();
    out[2] = v.z();
    out[3] = v.w();
}

QVector4D toQVector4D(const float v[4])
{
    return QVector4D(v[0], v[1], v[2], v[3]);
}

Point3Df toPoint3Df(const QVector4D &v, bool divide)
{
    if (divide && std::fabs(v.w()) > 1e-5f)
        return Point3Df(v.x() / v.w(), v.y() / v.w(), v.z() / v.w());
    return Point3Df(v.x(), v.y(), v.z());
}

void toFloats(const QTransform &t, float out[9])
{
    out[0] = float(t.m11());
    out[1] = float(t.m12());
    out[2] = float(t.m13());
    out[3] = float(t.m21());
    out[4] = float(t.m22());
    out[5] = float(t.m23());
    out[6] = float(t.m31());
    out[7] = float(t.m32());
    out[8] = float(t.m33());
}

void toFloats(const QMatrix4x4 &m, float out[16])
{
    const float *values = m.constData();
    for (int i = 0; i < 16; ++i)
        out[i] = float(values[i]);
}

} // namespace geom
