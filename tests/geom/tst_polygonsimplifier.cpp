#include "geomtestutil.h"
#include "polygonsimplifier.h"
#include "util2d.h"

#include <QTest>

#include <cmath>

using geom::Point2Dd;
using geom::Point2Df;
typedef geom::PolygonSimplifier<Point2Df> Simplifier;
typedef geom::PolygonSimplifier<Point2Dd> SimplifierD;
typedef QVector<Point2Df> Polygon;

Q_DECLARE_METATYPE(Polygon)

namespace {

const Polygon unitSquare{Point2Df(0, 0), Point2Df(1, 0), Point2Df(1, 1), Point2Df(0, 1)};

// Largest distance from a vertex of the input to the closed outline.
double deviation(const Polygon &input, const Polygon &outline)
{
    double worst = 0.0;
    for (const Point2Df &p : input) {
        double best = std::numeric_limits<double>::max();
        for (int i = 0; i < outline.size(); ++i) {
            const Point2Df &a = outline[i];
            const Point2Df &b = outline[(i + 1) % outline.size()];
            best = std::min(best, util2D::squaredDistanceToSegment(p, b, a));
        }
        worst = std::max(worst, best);
    }
    return std::sqrt(worst);
}

} // namespace

class tst_PolygonSimplifier : public QObject
{
    Q_OBJECT

private slots:
    void closeTooFewPoints();
    void closeSquare();
    void closeAlreadyClosed();
    void closeTwoPoints_data();
    void closeTwoPoints();
    void closeWithinTolerance();
    void equalDistancesTakeLowerIndex_data();
    void equalDistancesTakeLowerIndex();
    void closeKeepsTolerance();
    void closeDouble();
    void workerDirectly();
    void snapToGrid_data();
    void snapToGrid();
    void snapToGridIgnored_data();
    void snapToGridIgnored();
    void snapToGridDouble();
    void removeCollinear_data();
    void removeCollinear();
    void removeCollinearDouble();
    void simplifyRadial();
};

void tst_PolygonSimplifier::closeTooFewPoints()
{
    Polygon none;
    QCOMPARE(Simplifier::closeAndSimplify(none, 0.1), 0);
    QVERIFY(none.isEmpty());
    Polygon one{Point2Df(3, 4)};
    QCOMPARE(Simplifier::closeAndSimplify(one, 0.1), 1);
    QVERIFY(one.isEmpty());
}

void tst_PolygonSimplifier::closeSquare()
{
    Polygon square = unitSquare;
    QCOMPARE(Simplifier::closeAndSimplify(square, 0.1), 0);
    QCOMPARE(square, unitSquare);

    // A vertex in the middle of a side goes, and so does a small bump.
    Polygon bumpy{Point2Df(0, 0), Point2Df(0.5f, 0.01f), Point2Df(1, 0), Point2Df(1, 1), Point2Df(0, 1)};
    QCOMPARE(Simplifier::closeAndSimplify(bumpy, 0.1), 1);
    QCOMPARE(bumpy, unitSquare);
}

void tst_PolygonSimplifier::closeAlreadyClosed()
{
    Polygon closed = unitSquare;
    closed.append(closed.first());
    // The closing copy never comes back, so it counts as removed.
    QCOMPARE(Simplifier::closeAndSimplify(closed, 0.1), 1);
    QCOMPARE(closed, unitSquare);
}

void tst_PolygonSimplifier::closeTwoPoints_data()
{
    QTest::addColumn<float>("d");
    QTest::addColumn<int>("removed");

    QTest::newRow("farther than the tolerance") << 0.2f << 0;
    QTest::newRow("at the tolerance") << 0.125f << 2;
    QTest::newRow("nearer") << 0.05f << 2;
}

void tst_PolygonSimplifier::closeTwoPoints()
{
    QFETCH(float, d);
    QFETCH(int, removed);
    const Polygon input{Point2Df(1, 1), Point2Df(1 + d, 1)};
    Polygon points = input;
    QCOMPARE(Simplifier::closeAndSimplify(points, 0.125), removed);
    QCOMPARE(points, removed ? Polygon() : input);
}

void tst_PolygonSimplifier::closeWithinTolerance()
{
    Polygon blob{Point2Df(5, 5), Point2Df(5.01f, 5), Point2Df(5.01f, 5.02f), Point2Df(4.99f, 5.01f)};
    QCOMPARE(Simplifier::closeAndSimplify(blob, 0.1), 4);
    QVERIFY(blob.isEmpty());
}

void tst_PolygonSimplifier::equalDistancesTakeLowerIndex_data()
{
    QTest::addColumn<Polygon>("input");
    QTest::addColumn<Polygon>("expected");

    // (5, 0) and (4, 3) both lie 5 from the start; whichever is taken first,
    // the other is then 3 from the outline and falls within the tolerance.
    QTest::newRow("(5, 0) first") << Polygon{Point2Df(0, 0), Point2Df(5, 0), Point2Df(4, 3)}
                                  << Polygon{Point2Df(0, 0), Point2Df(5, 0)};
    QTest::newRow("(4, 3) first") << Polygon{Point2Df(0, 0), Point2Df(4, 3), Point2Df(5, 0)}
                                  << Polygon{Point2Df(0, 0), Point2Df(4, 3)};
}

void tst_PolygonSimplifier::equalDistancesTakeLowerIndex()
{
    QFETCH(Polygon, input);
    QFETCH(Polygon, expected);
    QCOMPARE(Simplifier::closeAndSimplify(input, 3.5), 1);
    QCOMPARE(input, expected);
}

void tst_PolygonSimplifier::closeKeepsTolerance()
{
    // A wavy ring of many points: the outline keeps far fewer, starts with the
    // first input point, keeps the input order and strays no farther than the
    // tolerance from any input vertex.
    Polygon ring;
    const int n = 20000;
    for (int i = 0; i < n; ++i) {
        const double a = 2 * M_PI * i / n;
        const double r = 100 + 0.3 * std::sin(37 * a);
        ring.append(Point2Df(float(r * std::cos(a)), float(r * std::sin(a))));
    }
    Polygon simplified = ring;
    const int removed = Simplifier::closeAndSimplify(simplified, 0.05);
    QCOMPARE(removed, n - simplified.size());
    QVERIFY(simplified.size() > 37 * 2);
    QVERIFY(simplified.size() < n / 10);
    QCOMPARE(simplified.first(), ring.first());
    int last = -1;
    for (const Point2Df &p : simplified) {
        const int index = ring.indexOf(p, last + 1);
        QVERIFY(index > last);
        last = index;
    }
    QVERIFY(deviation(ring, simplified) <= 0.05 + 1e-6);
}

void tst_PolygonSimplifier::closeDouble()
{
    QVector<Point2Dd> square{Point2Dd(0, 0), Point2Dd(0.5, 1e-9), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 1)};
    QCOMPARE(SimplifierD::closeAndSimplify(square, 1e-6), 1);
    QCOMPARE(square, QVector<Point2Dd>({Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(1, 1), Point2Dd(0, 1)}));
}

void tst_PolygonSimplifier::workerDirectly()
{
    // An open run: the first index is kept from the start, splits are added,
    // the last index never is.
    const Polygon run{Point2Df(0, 0), Point2Df(1, 1), Point2Df(2, 0), Point2Df(3, 0.01f), Point2Df(4, 0)};
    Simplifier worker(run, 0.1);
    worker.simplifyRange(0, run.size() - 1);
    QCOMPARE(worker.result(), Polygon({Point2Df(0, 0), Point2Df(1, 1), Point2Df(2, 0)}));

    Simplifier flat(run, 10);
    flat.simplifyRange(0, run.size() - 1);
    QVERIFY(flat.result().isEmpty());

    const Polygon none;
    Simplifier empty(none, 1);
    empty.simplifyRange(0, -1);
    QVERIFY(empty.result().isEmpty());
}

void tst_PolygonSimplifier::snapToGrid_data()
{
    QTest::addColumn<Polygon>("input");
    QTest::addColumn<double>("step");
    QTest::addColumn<Polygon>("expected");
    QTest::addColumn<bool>("changed");

    QTest::newRow("halves away from zero")
        << Polygon{Point2Df(0, 0), Point2Df(0.25f, -0.25f)} << 0.5 << Polygon{Point2Df(0, 0), Point2Df(0.5f, -0.5f)}
        << true;
    QTest::newRow("first point not snapped")
        << Polygon{Point2Df(0.3f, 0.3f), Point2Df(1.4f, 2.6f)} << 1.0 << Polygon{Point2Df(0.3f, 0.3f), Point2Df(1, 3)}
        << true;
    QTest::newRow("neighbours merge") << Polygon{Point2Df(0, 0), Point2Df(2.1f, 0), Point2Df(1.9f, 0.2f), Point2Df(0, 2)}
                                      << 1.0 << Polygon{Point2Df(0, 0), Point2Df(2, 0), Point2Df(0, 2)} << true;
    QTest::newRow("onto the unsnapped first")
        << Polygon{Point2Df(1, 1), Point2Df(1.2f, 0.9f), Point2Df(5, 5)} << 1.0 << Polygon{Point2Df(1, 1), Point2Df(5, 5)}
        << true;
    QTest::newRow("last equal to first stays")
        << Polygon{Point2Df(0, 0), Point2Df(3, 0), Point2Df(0.2f, 0.1f)} << 1.0
        << Polygon{Point2Df(0, 0), Point2Df(3, 0), Point2Df(0, 0)} << true;
    QTest::newRow("already on the grid")
        << Polygon{Point2Df(0.1f, 0), Point2Df(2, 0), Point2Df(2, 2)} << 0.5
        << Polygon{Point2Df(0.1f, 0), Point2Df(2, 0), Point2Df(2, 2)} << false;
    // The first point is never looked at for the change flag.
    QTest::newRow("only the first off the grid")
        << Polygon{Point2Df(0.3f, 0.3f), Point2Df(2, 0)} << 1.0 << Polygon{Point2Df(0.3f, 0.3f), Point2Df(2, 0)}
        << false;
}

void tst_PolygonSimplifier::snapToGrid()
{
    QFETCH(Polygon, input);
    QFETCH(double, step);
    QFETCH(Polygon, expected);
    QFETCH(bool, changed);

    bool reported = !changed;
    QCOMPARE(Simplifier::snapToGrid(input, step, &reported), expected);
    QCOMPARE(reported, changed);
    QCOMPARE(Simplifier::snapToGrid(input, step, nullptr), expected);
}

void tst_PolygonSimplifier::snapToGridIgnored_data()
{
    QTest::addColumn<Polygon>("input");
    QTest::addColumn<double>("step");

    const Polygon points{Point2Df(0.3f, 0.3f), Point2Df(1.4f, 2.6f)};
    QTest::newRow("step 0") << points << 0.0;
    QTest::newRow("step 1e-6") << points << 1e-6;
    QTest::newRow("negative step") << points << -1.0;
    QTest::newRow("empty") << Polygon() << 1.0;
}

void tst_PolygonSimplifier::snapToGridIgnored()
{
    QFETCH(Polygon, input);
    QFETCH(double, step);
    bool changed = true;
    QCOMPARE(Simplifier::snapToGrid(input, step, &changed), input);
    QVERIFY(!changed);
}

void tst_PolygonSimplifier::snapToGridDouble()
{
    const QVector<Point2Dd> input{Point2Dd(0.3, 0.3), Point2Dd(1.25, -1.25), Point2Dd(1.2500000000001, -1.25),
                                  Point2Dd(3, 3)};
    bool changed = false;
    const QVector<Point2Dd> out = SimplifierD::snapToGrid(input, 0.5, &changed);
    QVERIFY(changed);
    QCOMPARE(out, QVector<Point2Dd>({Point2Dd(0.3, 0.3), Point2Dd(1.5, -1.5), Point2Dd(3, 3)}));
}

void tst_PolygonSimplifier::removeCollinear_data()
{
    QTest::addColumn<Polygon>("input");
    QTest::addColumn<Polygon>("expected");

    const Point2Df a(0, 0), b(2, 0), c(2, 2), d(0, 2);
    QTest::newRow("square") << Polygon{a, b, c, d} << Polygon{d, a, b, c};
    QTest::newRow("midpoint of a side") << Polygon{a, Point2Df(1, 0), b, c, d} << Polygon{d, a, b, c};
    QTest::newRow("midpoint first") << Polygon{Point2Df(1, 0), b, c, d, a} << Polygon{a, b, c, d};
    // The last vertex is collinear: skipped at the start and dropped when the
    // walk comes round to it again.
    QTest::newRow("midpoint last") << Polygon{a, b, c, d, Point2Df(0, 1)} << Polygon{a, b, c, d};
    QTest::newRow("two in a row") << Polygon{a, Point2Df(0.5f, 0), Point2Df(1.5f, 0), b, c, d} << Polygon{d, a, b, c};
    QTest::newRow("all on one line") << Polygon{a, Point2Df(1, 0), b, Point2Df(3, 0)} << Polygon();
    QTest::newRow("two points") << Polygon{a, b} << Polygon{a, b};
    QTest::newRow("within 1e-5 of the line") << Polygon{a, Point2Df(1, 0.000005f), b, c} << Polygon{c, a, b};
    QTest::newRow("just off the line") << Polygon{a, Point2Df(1, 0.0001f), b, c} << Polygon{c, a, Point2Df(1, 0.0001f), b};
}

void tst_PolygonSimplifier::removeCollinear()
{
    QFETCH(Polygon, input);
    QFETCH(Polygon, expected);
    QCOMPARE(Simplifier::removeCollinear(input), expected);
}

void tst_PolygonSimplifier::removeCollinearDouble()
{
    const QVector<Point2Dd> square{Point2Dd(0, 0), Point2Dd(1, 0), Point2Dd(2, 0), Point2Dd(2, 2), Point2Dd(0, 2)};
    QCOMPARE(SimplifierD::removeCollinear(square),
             QVector<Point2Dd>({Point2Dd(0, 2), Point2Dd(0, 0), Point2Dd(2, 0), Point2Dd(2, 2)}));
}

void tst_PolygonSimplifier::simplifyRadial()
{
    QCOMPARE(Simplifier::simplifyRadial(Polygon{Point2Df(0, 0), Point2Df(0.5f, 0), Point2Df(1.5f, 0)}, 1),
             Polygon({Point2Df(0, 0), Point2Df(1.5f, 0)}));
    // Strictly farther: a point at the tolerance goes.
    QCOMPARE(Simplifier::simplifyRadial(Polygon{Point2Df(0, 0), Point2Df(1, 0), Point2Df(1, 2)}, 1),
             Polygon({Point2Df(0, 0), Point2Df(1, 2)}));
    QVERIFY(Simplifier::simplifyRadial(Polygon(), 1).isEmpty());
    QCOMPARE(SimplifierD::simplifyRadial(QVector<Point2Dd>{Point2Dd(0, 0), Point2Dd(0, 0.1), Point2Dd(0, 0.3)}, 0.25),
             QVector<Point2Dd>({Point2Dd(0, 0), Point2Dd(0, 0.3)}));
}

QTEST_APPLESS_MAIN(tst_PolygonSimplifier)
#include "tst_polygonsimplifier.moc"
