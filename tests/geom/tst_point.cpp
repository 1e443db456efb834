#include "point2d.h"
#include "point3d.h"
#include "geomtestutil.h"

#include <QLocale>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>

using geom::Point2Dd;
using geom::Point2Df;
using geom::Point3Df;

namespace {

template <typename T>
QString debugText(const T &value)
{
    QString text;
    QDebug(&text) << value;
    return text;
}

template <typename T>
QString streamText(const T &value, const QLocale &locale, bool fixed)
{
    QString text;
    QTextStream out(&text);
    out.setLocale(locale);
    if (fixed) {
        out.setRealNumberNotation(QTextStream::FixedNotation);
        out.setRealNumberPrecision(1);
    }
    out << value;
    out.flush();
    return text;
}

} // namespace

class tst_Point : public QObject
{
    Q_OBJECT

private slots:
    void constants();
    void length_data();
    void length();
    void setLength_data();
    void setLength();
    void setLength3D();
    void projection();
    void lerp();
    void fuzzyEqualityWithQPointF_data();
    void fuzzyEqualityWithQPointF();
    void arithmeticWithQPointF();
    void minMaxInPlace();
    void power();
    void toPoint2Df();
    void debugOutput();
    void textStreamSeparator_data();
    void textStreamSeparator();
    void textStreamRoundTrip_data();
    void textStreamRoundTrip();
};

void tst_Point::constants()
{
    QCOMPARE(bits(Point2Df::zero.x), 0u);
    QCOMPARE(bits(Point2Df::zero.y), 0u);
    QCOMPARE(bits(Point2Dd::zero.x), Q_UINT64_C(0));
    QCOMPARE(bits(Point2Dd::zero.y), Q_UINT64_C(0));
    QCOMPARE(bits(Point3Df::zero.z), 0u);
    QCOMPARE(bits(Point2Df::invalid.x), 0x7FA00000u);
    QCOMPARE(bits(Point2Df::invalid.y), 0x7FA00000u);
    QCOMPARE(bits(Point2Dd::invalid.x), Q_UINT64_C(0x7FF4000000000000));
    QCOMPARE(bits(Point2Dd::invalid.y), Q_UINT64_C(0x7FF4000000000000));
}

void tst_Point::length_data()
{
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<double>("expected");

    QTest::newRow("3-4-5") << 3.0f << 4.0f << 5.0;
    QTest::newRow("1e-6 is below the guard") << 1e-6f << 0.0f << 0.0;
    QTest::newRow("1e-5 widened") << 1e-5f << 0.0f << 9.999999747378752e-06;
    // Squares summed in float would overflow to infinity.
    QTest::newRow("no float overflow") << std::ldexp(3.0f, 66) << std::ldexp(4.0f, 66) << std::ldexp(5.0, 66);
}

void tst_Point::length()
{
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(double, expected);
    const double len = Point2Df(x, y).length();
    QCOMPARE(len, expected);
    QCOMPARE(Point3Df(x, 0.0f, y).length(), len);
    QCOMPARE(Point2Dd(x, y).length(), len);
}

void tst_Point::setLength_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("len");
    QTest::addColumn<double>("ex");
    QTest::addColumn<double>("ey");

    QTest::newRow("same length") << 3.0 << 4.0 << 5.0 << 3.0 << 4.0;
    QTest::newRow("normalise") << 3.0 << 4.0 << 1.0 << 0.6 << 0.8;
    QTest::newRow("zero vector stays zero") << 0.0 << 0.0 << 1.0 << 0.0 << 0.0;
    QTest::newRow("too short for a direction") << 1e-7 << 0.0 << 10.0 << 0.0 << 0.0;
    QTest::newRow("negative reverses") << 2.0 << 0.0 << -1.0 << -1.0 << 0.0;
}

void tst_Point::setLength()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, len);
    QFETCH(double, ex);
    QFETCH(double, ey);

    Point2Df f{float(x), float(y)};
    QCOMPARE(&f.setLength(len), &f);
    QCOMPARE(f, Point2Df(float(ex), float(ey)));

    Point2Dd d(x, y);
    d.setLength(len);
    QCOMPARE(d.x, ex);
    QCOMPARE(d.y, ey);
}

void tst_Point::setLength3D()
{
    Point3Df p(0.0f, 3.0f, 4.0f);
    p.setLength(10.0);
    QCOMPARE(p, Point3Df(0.0f, 6.0f, 8.0f));

    // The degenerate case gives positive zeros, not the signs of the input.
    Point3Df tiny(-1e-7f, -1e-7f, 0.0f);
    tiny.setLength(1.0);
    QCOMPARE(bits(tiny.x), 0u);
    QCOMPARE(bits(tiny.y), 0u);
}

void tst_Point::projection()
{
    const Point3Df p = Point3Df::project(Point3Df(1, 1, 0), Point3Df(2, 0, 0));
    // The route through unit vectors loses the last bit in float.
    QCOMPARE(bits(p.x), bits(0.99999994f));
    QCOMPARE(p.y, 0.0f);
    QCOMPARE(p.z, 0.0f);

    QCOMPARE(Point3Df::project(Point3Df(1, 1, 0), Point3Df(0, 0, 0)), Point3Df(0, 0, 0));
    QCOMPARE(Point3Df::project(Point3Df(0, 0, 0), Point3Df(1, 0, 0)), Point3Df(0, 0, 0));
    const Point3Df opposite = Point3Df::project(Point3Df(-3, 1, 0), Point3Df(0.5f, 0, 0));
    QCOMPARE(opposite.x, -3.0f);
}

void tst_Point::lerp()
{
    QCOMPARE(Point3Df::lerp(Point3Df(0, 0, 0), Point3Df(2, 4, 6), 0.5f), Point3Df(1, 2, 3));
    QCOMPARE(Point3Df::lerp(Point3Df(1, 1, 1), Point3Df(2, 4, 6), 0.0f), Point3Df(1, 1, 1));
    QCOMPARE(Point3Df::lerp(Point3Df(1, 1, 1), Point3Df(2, 4, 6), 2.0f), Point3Df(3, 7, 11));
}

void tst_Point::fuzzyEqualityWithQPointF_data()
{
    QTest::addColumn<QPointF>("q");
    QTest::addColumn<bool>("equal");

    QTest::newRow("exact") << QPointF(1, 2) << true;
    QTest::newRow("within 1e-5") << QPointF(1.000009, 2) << true;
    QTest::newRow("within 1e-5 below") << QPointF(1, 1.999991) << true;
    QTest::newRow("beyond 1e-5") << QPointF(1.00002, 2) << false;
    QTest::newRow("y beyond") << QPointF(1, 2.00002) << false;
    QTest::newRow("NaN") << QPointF(std::numeric_limits<double>::quiet_NaN(), 2) << false;
}

void tst_Point::fuzzyEqualityWithQPointF()
{
    QFETCH(QPointF, q);
    QFETCH(bool, equal);
    const Point2Df p(1, 2);
    QCOMPARE(p == q, equal);
    QCOMPARE(p != q, !equal);
}

void tst_Point::arithmeticWithQPointF()
{
    const Point2Df p(1.0f, 2.0f);
    const Point2Df sum = p + QPointF(0.5, 0.25);
    QCOMPARE(sum, Point2Df(1.5f, 2.25f));
    QCOMPARE(p - QPointF(0.5, 4.0), Point2Df(0.5f, -2.0f));
    // The sum is formed in double and narrowed once: 1 + 2^-24 + 2^-50 rounds
    // up to the next float, while adding the narrowed 2^-24 would tie to 1.
    const double tiny = std::ldexp(1.0, -24) + std::ldexp(1.0, -50);
    QCOMPARE(bits((p + QPointF(tiny, 0)).x), bits(std::nextafter(1.0f, 2.0f)));

    Point2Df q(1, 1);
    q += Point2Df(2, 3);
    q -= Point2Df(0.5f, 0.5f);
    QCOMPARE(q, Point2Df(2.5f, 3.5f));
    QCOMPARE(Point2Df(1, 2).toPointF(), QPointF(1, 2));
    QCOMPARE(Point2Df(QPointF(0.1, 0.2)), Point2Df(0.1f, 0.2f));
}

void tst_Point::minMaxInPlace()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Point2Df a(1, nan);
    a.minimize(Point2Df(0, 0));
    QCOMPARE(a.x, 0.0f);
    QVERIFY(std::isnan(a.y));

    Point2Df b(1, 5);
    b.minimize(Point2Df(nan, 2)).maximize(Point2Df(3, nan));
    QCOMPARE(b, Point2Df(3, 2));

    Point3Df c(1, 2, 3);
    c.minimize(Point3Df(0, 5, nan));
    QCOMPARE(c, Point3Df(0, 2, 3));
    c.maximize(Point3Df(-1, 7, 4));
    QCOMPARE(c, Point3Df(0, 7, 4));
}

void tst_Point::power()
{
    QCOMPARE(Point2Df(2, -3).pow(2), Point2Df(4, 9));
    QCOMPARE(Point2Dd(2, 4).pow(-1), Point2Dd(0.5, 0.25));
    Point2Dd p(3, -2);
    p.powInPlace(3);
    QCOMPARE(p, Point2Dd(27, -8));
    QCOMPARE(bits(Point2Df(0.1f, 1).pow(2).x), bits(float(std::pow(double(0.1f), 2))));
}

void tst_Point::toPoint2Df()
{
    Point2Df out(9, 9);
    Point2Dd(0.1, -2.5).toPoint2Df(out);
    QCOMPARE(out, Point2Df(0.1f, -2.5f));
    Point2Df(3, 4).toPoint2Df(out);
    QCOMPARE(out, Point2Df(3, 4));
    QCOMPARE(Point3Df(1, 2, 3).toPoint2Df(), Point2Df(1, 2));
    QCOMPARE(Point3Df(Point2Df(1, 2), 5), Point3Df(1, 2, 5));
}

void tst_Point::debugOutput()
{
    QCOMPARE(debugText(Point3Df(1, 2.5f, -3)), QStringLiteral("V(1, 2.5, -3) "));
    QCOMPARE(debugText(Point2Df(1, 2.5f)), QStringLiteral("P(1, 2.5) "));
    QCOMPARE(debugText(Point2Dd(0.125, 1e10)), QStringLiteral("P(0.125, 1e+10) "));
}

void tst_Point::textStreamSeparator_data()
{
    QTest::addColumn<QLocale>("locale");

    QTest::newRow("C") << QLocale::c();
    QTest::newRow("comma groups") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("dot groups") << QLocale(QLocale::German, QLocale::Germany);
    QTest::newRow("narrow no-break space groups") << QLocale(QLocale::French, QLocale::France);
}

void tst_Point::textStreamSeparator()
{
    QFETCH(QLocale, locale);
    const QString decimal = locale.decimalPoint();
    const QString expected = QLatin1Char('1') + decimal + QLatin1String("5 2");
    QCOMPARE(streamText(Point2Df(1.5f, 2), locale, false), expected);
    QCOMPARE(streamText(Point2Dd(1.5, 2), locale, false), expected);
    QCOMPARE(streamText(Point3Df(1, -2, 3), locale, false), QStringLiteral("1 -2 3"));
}

void tst_Point::textStreamRoundTrip_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("fixed");

    QTest::newRow("C") << QLocale::c() << false;
    QTest::newRow("C fixed") << QLocale::c() << true;
    // Fixed notation writes group separators in these locales; a separator
    // taken from the locale would run into the numbers.
    QTest::newRow("English fixed") << QLocale(QLocale::English, QLocale::UnitedStates) << true;
    QTest::newRow("German fixed") << QLocale(QLocale::German, QLocale::Germany) << true;
}

void tst_Point::textStreamRoundTrip()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, fixed);

    const Point2Df p(1234567.5f, -2.5f);
    const Point2Dd d(-7654321.5, 0.5);
    const Point3Df v(1000.5f, 2000.5f, -3000.5f);
    QString text = streamText(p, locale, fixed) + QLatin1Char('\n') + streamText(d, locale, fixed) + QLatin1Char('\n')
        + streamText(v, locale, fixed);

    QTextStream in(&text);
    in.setLocale(locale);
    Point2Df p2;
    Point2Dd d2;
    Point3Df v2;
    in >> p2 >> d2 >> v2;
    QCOMPARE(in.status(), QTextStream::Ok);
    if (fixed) {
        QCOMPARE(p2, p);
        QCOMPARE(d2, d);
        QCOMPARE(v2, v);
    } else {
        QCOMPARE(p2, Point2Df(1.23457e6f, -2.5f));
        QCOMPARE(v2, v);
    }
}

QTEST_APPLESS_MAIN(tst_Point)
#include "tst_point.moc"
