#ifndef GEOM_ANGLE_H
#define GEOM_ANGLE_H

#include "point2d.h"

#include <QQuaternion>
#include <QVector4D>

namespace geom {

// Wrap an angle into one turn centred on zero: one period is added while the
// angle is below the lower limit, or subtracted while it is above the upper
// one; both limits themselves are kept (180 stays 180, -pi stays -pi). Angles
// many turns away are first reduced by the exact remainder, so every finite
// angle ends in range; NaN and the infinities are returned unchanged.
float wrapDegrees(float angle);
float wrapRadians(float angle);
double wrapRadians(double angle);

// The angle that turns direction b into direction a about centre, positive
// counter-clockwise, in [-pi, pi]. A centre within 1e-5 (float) or 1e-12
// (double) of the origin on both axes counts as the origin. Both instances wrap
// the difference of the two arc tangents in single precision.
float signedAngle(const Point2Df &a, const Point2Df &b, const Point2Df &centre = Point2Df::zero);
float signedAngle(const Point2Df &a, const Point2Df &b, float cx, float cy);
double signedAngle(const Point2Dd &a, const Point2Dd &b, const Point2Dd &centre = Point2Dd::zero);
double signedAngle(const Point2Dd &a, const Point2Dd &b, double cx, double cy);

// The unit direction halfway between the directions of a and b seen from
// centre; (0, 0) for opposite directions. The result is a direction: it is not
// moved back by the centre.
Point2Df normalizedSum(const Point2Df &a, const Point2Df &b, const Point2Df &centre = Point2Df::zero);
Point2Df normalizedSum(const Point2Df &a, const Point2Df &b, float cx, float cy);
Point2Dd normalizedSum(const Point2Dd &a, const Point2Dd &b, const Point2Dd &centre = Point2Dd::zero);
Point2Dd normalizedSum(const Point2Dd &a, const Point2Dd &b, double cx, double cy);

// The rotation of q as its normalised axis (x, y, z) and its angle in degrees (w).
QVector4D axisAngle(const QQuaternion &q);

} // namespace geom

#endif // GEOM_ANGLE_H
