#include "fuzzyreal.h"

#include <QTest>

#include <cmath>
#include <limits>

using FuzzyD = geom::FuzzyReal<double>;
using FuzzyF = geom::FuzzyReal<float>;

class tst_FuzzyReal : public QObject
{
    Q_OBJECT

private slots:
    void constants();
    void comparisonsDouble_data();
    void comparisonsDouble();
    void comparisonsFloat();
    void zeroIsExact();
    void nan();
    void queries();
    void tolerance();
    void arithmetic();
    void roundTo_data();
    void roundTo();
    void roundToFloat();
    void roundToZeroStep();
};

void tst_FuzzyReal::constants()
{
    QCOMPARE(FuzzyD::epsilon, 2.220446049250313e-16);
    QCOMPARE(FuzzyD::max, 1.7976931348623157e+308);
    QCOMPARE(FuzzyD::relativeTolerance, 1e-12);
    QCOMPARE(double(FuzzyF::epsilon), 1.1920928955078125e-07);
    QCOMPARE(double(FuzzyF::max), 3.4028234663852886e+38);
    QCOMPARE(double(FuzzyF::relativeTolerance), 9.999999747378752e-06);
    QCOMPARE(FuzzyD().value, 0.0);
}

void tst_FuzzyReal::comparisonsDouble_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("y");
    QTest::addColumn<bool>("eq");
    QTest::addColumn<bool>("lt");
    QTest::addColumn<bool>("le");

    QTest::newRow("1 vs 1 + 1e-13") << 1.0 << 1.0 + 1e-13 << true << false << true;
    QTest::newRow("1 vs 1 + 1e-11") << 1.0 << 1.0 + 1e-11 << false << true << true;
    QTest::newRow("2 vs 2 + 1e-13") << 2.0 << 2.0 + 1e-13 << true << false << true;
    QTest::newRow("2 vs 2.1") << 2.0 << 2.1 << false << true << true;
    QTest::newRow("2.1 vs 2") << 2.1 << 2.0 << false << false << false;
    QTest::newRow("exactly equal") << -5.5 << -5.5 << true << false << true;
    QTest::newRow("infinities") << HUGE_VAL << HUGE_VAL << true << false << true;
    QTest::newRow("large, close") << 1e300 << 1e300 * (1 + 1e-13) << true << false << true;
}

void tst_FuzzyReal::comparisonsDouble()
{
    QFETCH(double, value);
    QFETCH(double, y);
    QFETCH(bool, eq);
    QFETCH(bool, lt);
    QFETCH(bool, le);

    const FuzzyD f(value);
    QCOMPARE(f == y, eq);
    QCOMPARE(f != y, !eq);
    QCOMPARE(f < y, lt);
    QCOMPARE(f <= y, le);
    // The mirrored question about y gives the mirrored answer.
    const FuzzyD g(y);
    QCOMPARE(g > value, lt);
    QCOMPARE(g >= value, le);
}

void tst_FuzzyReal::comparisonsFloat()
{
    const FuzzyF f(100.0f);
    QVERIFY(f == 100.0005f);
    QVERIFY(!(f != 100.0005f));
    QVERIFY(f != 100.002f);
    QVERIFY(!(f < 100.0005f));
    QVERIFY(f < 100.002f);
    QVERIFY(f >= 100.0005f);
    QVERIFY(f > 99.99f);
    QVERIFY(!(FuzzyF(0.0f) == 1e-30f));
}

void tst_FuzzyReal::zeroIsExact()
{
    QVERIFY(!(FuzzyD(0.0) == 1e-300));
    QVERIFY(FuzzyD(0.0) < 1e-300);
    QVERIFY(FuzzyD(1e-300) > 0.0);
    QVERIFY(FuzzyD(0.0) == -0.0);
}

void tst_FuzzyReal::nan()
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const FuzzyD f(nan);
    for (double y : {0.0, 1.0, nan}) {
        QVERIFY(!(f == y));
        QVERIFY(!(f != y));
        QVERIFY(!(f < y));
        QVERIFY(!(f <= y));
        QVERIFY(!(f > y));
        QVERIFY(!(f >= y));
    }
    QVERIFY(!(FuzzyD(1.0) == nan));
    QVERIFY(!(FuzzyD(1.0) != nan));
    QVERIFY(f.isNaN());
    QVERIFY(!f.isZero());
    QVERIFY(!f.isFinite());
    QVERIFY(bool(f));
}

void tst_FuzzyReal::queries()
{
    QVERIFY(FuzzyD(1e-17).isZero());
    QVERIFY(!FuzzyD(1e-15).isZero());
    QVERIFY(FuzzyF(1e-8f).isZero());
    QVERIFY(!FuzzyF(1e-6f).isZero());
    QVERIFY(!FuzzyD(1e-17));
    QVERIFY(!bool(FuzzyD(-1e-17)));
    QVERIFY(bool(FuzzyD(1e-15)));
    QVERIFY(FuzzyD(1e308).isFinite());
    QVERIFY(!FuzzyD(HUGE_VAL).isFinite());
    QVERIFY(!FuzzyF(HUGE_VALF).isFinite());
    QCOMPARE(double(FuzzyD(2.5)), 2.5);
}

void tst_FuzzyReal::tolerance()
{
    QCOMPARE(FuzzyD(-3.0).tolerance(), 3e-12);
    QCOMPARE(FuzzyD(-3.0).tolerance(2.0), 2e-12);
    QCOMPARE(FuzzyD(3.0).tolerance(-5.0), 3e-12);
    QCOMPARE(FuzzyD(3.0).tolerance(0.0), 0.0);
    QCOMPARE(FuzzyF(100.0f).tolerance(200.0f), 100.0f * 1e-5f);
}

void tst_FuzzyReal::arithmetic()
{
    FuzzyD f(7.0);
    QCOMPARE(f + 2.0, 9.0);
    QCOMPARE(f - 2.0, 5.0);
    QCOMPARE(f * 2.0, 14.0);
    QCOMPARE(f / 2.0, 3.5);
    QCOMPARE(f % 2.5, 2.0);
    QCOMPARE(FuzzyD(-7.0) % 2.5, -2.0);
    QCOMPARE(f ^ 0.5, std::sqrt(7.0));
    QCOMPARE(f ^ 2, 49.0);
    QCOMPARE(FuzzyD(2.0) ^ -2, 0.25);

    f += 1.0;
    QCOMPARE(f.value, 8.0);
    f -= 2.0;
    f *= 3.0;
    f /= 4.0;
    QCOMPARE(f.value, 4.5);
    f %= 2.0;
    QCOMPARE(f.value, 0.5);
    f ^= 2;
    QCOMPARE(f.value, 0.25);
    f ^= 0.5;
    QCOMPARE(f.value, 0.5);
    QCOMPARE((f = 3.0).value, 3.0);

    FuzzyF g(3.0f);
    g ^= 2;
    QCOMPARE(g.value, 9.0f);
    QCOMPARE(g % 4.0f, 1.0f);
}

void tst_FuzzyReal::roundTo_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("expected");

    QTest::newRow("half up") << 1.25 << 0.5 << 1.5;
    QTest::newRow("half down, away from zero") << -1.25 << 0.5 << -1.5;
    QTest::newRow("to tens") << 14.9 << 10.0 << 10.0;
    QTest::newRow("to tens, up") << 15.0 << 10.0 << 20.0;
    QTest::newRow("negative step") << 14.9 << -10.0 << 10.0;
}

void tst_FuzzyReal::roundTo()
{
    QFETCH(double, value);
    QFETCH(double, step);
    QFETCH(double, expected);
    FuzzyD f(value);
    f.roundTo(step);
    QCOMPARE(f.value, expected);
}

void tst_FuzzyReal::roundToFloat()
{
    FuzzyF f(1.25f);
    f.roundTo(0.5f);
    QCOMPARE(f.value, 1.5f);
    // The quotient is a float: 0.35f / 0.1f rounds up to 3.5 there (it is
    // 3.49999988... in double), so the value goes to 4 steps.
    FuzzyF g(0.35f);
    g.roundTo(0.1f);
    QVERIFY(g.value == float(4.0 * double(0.1f)));
}

void tst_FuzzyReal::roundToZeroStep()
{
    FuzzyD f(1.2345);
    f.roundTo(0.0);
    QCOMPARE(f.value, 1.2345);
    FuzzyF g(-3.75f);
    g.roundTo(-0.0f);
    QCOMPARE(g.value, -3.75f);
}

QTEST_APPLESS_MAIN(tst_FuzzyReal)
#include "tst_fuzzyreal.moc"
