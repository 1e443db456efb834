#ifndef GEOMTESTUTIL_H
#define GEOMTESTUTIL_H

// Readable failure messages for the kernel's values in QCOMPARE.

#include "bounds2d.h"
#include "bounds3d.h"
#include "point2d.h"
#include "point3d.h"

#include <QByteArray>
#include <QScopedArrayPointer>
#include <QTest>

#include <cstring>

// The bit patterns of reals, for results that must be exact to the last bit.
inline quint32 bits(float f)
{
    quint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

inline quint64 bits(double d)
{
    quint64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

namespace geom {

inline char *toString(const Point2Df &p)
{
    return qstrdup(QByteArray("P(" + QByteArray::number(double(p.x), 'g', 9) + ", " + QByteArray::number(double(p.y), 'g', 9) + ")")
                       .constData());
}

inline char *toString(const Point2Dd &p)
{
    return qstrdup(QByteArray("P(" + QByteArray::number(p.x, 'g', 17) + ", " + QByteArray::number(p.y, 'g', 17) + ")")
                       .constData());
}

inline char *toString(const Point3Df &p)
{
    return qstrdup(QByteArray("V(" + QByteArray::number(double(p.x), 'g', 9) + ", " + QByteArray::number(double(p.y), 'g', 9)
                              + ", " + QByteArray::number(double(p.z), 'g', 9) + ")")
                       .constData());
}

inline char *toString(const Bounds2Df &b)
{
    QByteArray text("B(");
    const float *c = b.data();
    for (int i = 0; i < 4; ++i)
        text += (i ? ", " : "") + QByteArray::number(double(c[i]), 'g', 9);
    return qstrdup((text + ")").constData());
}

inline char *toString(const Bounds3Df &b)
{
    QByteArray text("B(");
    const float *c = b.data();
    for (int i = 0; i < 6; ++i)
        text += (i ? ", " : "") + QByteArray::number(double(c[i]), 'g', 9);
    return qstrdup((text + ")").constData());
}

} // namespace geom

// The toString text of a kernel value as a value of its own, for QVERIFY2
// messages: nothing is left to free.
template <typename T>
QByteArray describe(const T &value)
{
    QScopedArrayPointer<char> text(geom::toString(value));
    return QByteArray(text.data());
}

// For QtTest data tables.
Q_DECLARE_METATYPE(geom::Point2Df)
Q_DECLARE_METATYPE(geom::Point2Dd)
Q_DECLARE_METATYPE(geom::Point3Df)
Q_DECLARE_METATYPE(geom::Bounds2Df)
Q_DECLARE_METATYPE(geom::Bounds3Df)

#endif // GEOMTESTUTIL_H
