#ifndef GEOM_CONVERSIONS_H
#define GEOM_CONVERSIONS_H

#include "point2d.h"
#include "point3d.h"

#include <QMatrix4x4>
#include <QPointF>
#include <QTransform>
#include <QVector2D>
#include <QVector3D>
#include <QVector4D>

// Conversions between the kernel's values and Qt's geometry types. None of them
// changes a value except by narrowing double to float where stated.
namespace geom {

QPointF toQPointF(const Point2Dd &p);
Point2Dd toPoint2Dd(const QPointF &p);

// Doubles narrowed to float.
QVector2D toQVector2D(const QPointF &p);
QVector2D toQVector2D(const Point2Dd &p);

// Floats widened to double.
QPointF toQPointF(const Point2Df &p);
QPointF toQPointF(const QVector2D &v);

QVector2D toQVector2D(const Point2Df &p);
Point2Df toPoint2Df(const QVector2D &v);

QVector3D toQVector3D(const Point3Df &p);
Point3Df toPoint3Df(const QVector3D &v);

// Four floats x, y, z, w.
void toFloats(const QVector4D &v, float out[4]);
QVector4D toQVector4D(const float v[4]);

// (x/w, y/w, z/w) when divide is set and |w| > 1e-5; otherwise (x, y, z).
Point3Df toPoint3Df(const QVector4D &v, bool divide);

// m11, m12, m13, m21, m22, m23, dx, dy, m33, each narrowed.
void toFloats(const QTransform &t, float out[9]);
// The sixteen values in the matrix's own column-by-column order, each narrowed.
void toFloats(const QMatrix4x4 &m, float out[16]);

} // namespace geom

#endif // GEOM_CONVERSIONS_H
