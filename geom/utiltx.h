#ifndef GEOM_UTILTX_H
#define GEOM_UTILTX_H

#include "bounds2d.h"
#include "bounds3d.h"
#include "point2d.h"
#include "point3d.h"

class QMatrix4x4;
class QTransform;

namespace geom {

// What a transform does, as flags combined by OR; 0 is the identity.
enum TransformType {
    TransformIdentity = 0,
    TransformTranslate = 1,
    TransformScale = 2,      // a diagonal entry differs from 1
    TransformRotate = 4,     // rotation or shear: an off-diagonal linear entry differs from 0
    TransformProjective = 8  // a perspective entry differs from 0 or the corner entry from 1
};

// The entries are compared with 1 and 0 in single precision with a tolerance
// of 1e-5: a counts as 1 when |a - 1| <= 1e-5 x min(1, |a|), and as 0 when
// |a| <= 1e-5. NaN counts as neither.

// A 2D matrix as nine floats in QTransform's order:
// m11, m12, m13, m21, m22, m23, dx, dy, m33.
class Transform2Df
{
public:
    float m[9];

    Transform2Df();
    explicit Transform2Df(const QTransform &t);

    int classify() const { return classify(m); }
    static int classify(const float *m);
};

// A 3D matrix as sixteen floats in QMatrix4x4's column-major order (the entry
// of row r and column c at 4c + r; the translation at 12, 13, 14).
class Transform3Df
{
public:
    float m[16];

    Transform3Df();
    explicit Transform3Df(const QMatrix4x4 &matrix);

    int classify() const { return classify(m); }
    static int classify(const float *m);
};

// The same matrix in double; classified on its float narrowing.
class Transform3Dd
{
public:
    static int classify(const double *m);
};

} // namespace geom

// Mapping arrays of single-precision points through 2D and 3D transforms.
//
// Every array operation takes a destination, a source and a count of points;
// the destination may be the source (mapping in place). A null array or a
// count of 0 or less returns at once without writing anything (the bounds
// operations then return the empty box). Results equal the scalar formulas
// x' = m11 x + m21 y + dx, y' = m12 x + m22 y + dy (2D) and x' = m00 x + m01 y
// + m02 z + m03 ... (3D), divided by w for a projective transform; a w of 0 is
// not guarded.
namespace utilTX {

// The type flags of a transform; 0 when the transform says of itself that it
// does nothing.
int type2D(const QTransform &t);
int type3D(const QMatrix4x4 &m);

// One point; a negative type means classify first.
geom::Point2Df mapPoint2Df(const geom::Point2Df &p, const QTransform &t, int type = -1);
geom::Point3Df mapPoint3Df(const geom::Point3Df &p, const QMatrix4x4 &m, int type = -1);

// Maps by the transform's type: the identity copies, a pure translation only
// adds, and so on.
geom::Point2Df *map2DfArray(geom::Point2Df *dst, const QTransform &t, const geom::Point2Df *src, int count);
// The fast path for affine transforms; a projective one is reported as a
// warning and mapped by map2DfArray.
geom::Point2Df *map2Df(geom::Point2Df *dst, const QTransform &t, const geom::Point2Df *src, int count);
// The box of the mapped points. A projective transform is reported as critical
// and its points are bounded through the projective formula.
geom::Bounds2Df mapBounds2Df(const QTransform &t, const geom::Point2Df *src, int count);

// Maps by the matrix's type. A box, when given, is extended (not reset) by
// every point written.
geom::Point3Df *map3DfArray(geom::Point3Df *dst, const QMatrix4x4 &m, const geom::Point3Df *src, int count,
                            geom::Bounds3Df *box = nullptr);
// The fast path for any matrix; a box, when given, is extended (not reset).
geom::Point3Df *map3Df(geom::Point3Df *dst, const QMatrix4x4 &m, const geom::Point3Df *src, int count,
                       geom::Bounds3Df *box = nullptr);
// The box of the mapped points; nothing is written.
geom::Bounds3Df mapBounds3Df(const QMatrix4x4 &m, const geom::Point3Df *src, int count);

} // namespace utilTX

#endif // GEOM_UTILTX_H
