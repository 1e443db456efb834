#include "slice.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtTest>

#include <cmath>

using geom::Point2Df;
typedef QVector<Point2Df> Points;
typedef QMap<int, int> Groups;

Q_DECLARE_METATYPE(Groups)
Q_DECLARE_METATYPE(Contour)

namespace {

Contour box(float x0, float y0, float x1, float y1, bool clockwise = false)
{
    const Points ccw{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    const Points cw{{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
    return Contour(clockwise ? cw : ccw);
}

// Outer square of area 100, a hole of area -36 in it, an island of area 4 in
// the hole, and a separate square of area 9.
QVector<Contour> part()
{
    return {box(0, 0, 10, 10), box(2, 2, 8, 8, true), box(4, 4, 6, 6), box(20, 0, 23, 3)};
}

int warnings = 0;
QtMessageHandler previousHandler = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message == QLatin1String("Slice.toHierarchyFormat : Not fully working")) {
        ++warnings;
        return;
    }
    previousHandler(type, context, message);
}

// The group map names each group's last flat index and its list index, and
// the totals agree with a fresh walk of the flat contours.
void verifyConsistent(const Slice &slice)
{
    int vertices = 0;
    double area = 0.0;
    for (int i = 0; i < slice.contourCount(); ++i) {
        vertices += slice.contourAt(i).points().size();
        area += slice.contourAt(i).area();
    }
    QCOMPARE(slice.vertexCount(), vertices);
    QCOMPARE(slice.area(), area);
    if (slice.format() != 2)
        return;
    Groups expected;
    int flat = 0;
    for (int g = 0; g < slice.contours().size(); ++g) {
        flat += 1 + slice.contours().at(g).children().size();
        expected.insert(flat - 1, g);
    }
    QCOMPARE(slice.groups(), expected);
}

} // namespace

class TestSliceFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void grouped_data();
    void grouped();
    void hierarchy();
    void flatAgain();
    void sameFormatChangesNothing();
    void conversionsKeepTheTotalsInStep_data();
    void conversionsKeepTheTotalsInStep();
    void resampleKeepsGroupsInRange();
    void toPainterPath();
    void paintFlat();
    void paintGrouped();
    void paintHierarchy();
};

void TestSliceFormats::initTestCase()
{
    previousHandler = qInstallMessageHandler(countWarnings);
}

void TestSliceFormats::grouped_data()
{
    QTest::addColumn<QVector<Contour>>("contours");
    QTest::addColumn<QVector<int>>("children");
    QTest::addColumn<Groups>("groups");

    QTest::newRow("outer, hole, separate") << QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 4, 4, true), box(20, 0, 23, 3)}
                                           << QVector<int>{1, 0} << Groups{{1, 0}, {2, 1}};
    QTest::newRow("hole listed first") << QVector<Contour>{box(2, 2, 4, 4, true), box(20, 0, 23, 3), box(0, 0, 10, 10)}
                                       << QVector<int>{1, 0} << Groups{{1, 0}, {2, 1}};
    QTest::newRow("hole in no outer") << QVector<Contour>{box(0, 0, 10, 10), box(12, 2, 14, 4, true)}
                                      << QVector<int>{0, 0} << Groups{{0, 0}, {1, 1}};
    // The island of a hole stays top level: only holes are filed.
    QTest::newRow("island") << part() << QVector<int>{1, 0, 0} << Groups{{1, 0}, {2, 1}, {3, 2}};
}

void TestSliceFormats::grouped()
{
    QFETCH(QVector<Contour>, contours);
    QFETCH(QVector<int>, children);
    QFETCH(Groups, groups);
    Slice slice(1.0f, 0.1f, contours);
    const double area = slice.area();
    slice.setFormat(2);
    QCOMPARE(slice.format(), 2);
    QCOMPARE(slice.contours().size(), children.size());
    for (int i = 0; i < children.size(); ++i)
        QCOMPARE(slice.contours().at(i).children().size(), children.at(i));
    QCOMPARE(slice.groups(), groups);
    QCOMPARE(slice.area(), area);
    verifyConsistent(slice);
}

void TestSliceFormats::hierarchy()
{
    warnings = 0;
    Slice slice(1.0f, 0.1f, part());
    QCOMPARE(slice.area(), 100.0 - 36.0 + 4.0 + 9.0);
    slice.setFormat(1);
    QCOMPARE(warnings, 1);
    QCOMPARE(slice.format(), 1);
    QCOMPARE(slice.contours().size(), 2);
    const Contour &outer = slice.contours().at(0);
    QCOMPARE(outer.area(), 100.0);
    QCOMPARE(outer.children().size(), 1);
    QCOMPARE(outer.children().at(0).area(), -36.0);
    QCOMPARE(outer.children().at(0).children().size(), 1);
    QCOMPARE(outer.children().at(0).children().at(0).area(), 4.0);
    QVERIFY(slice.groups().isEmpty());
    // Only the top level is walked now, and the totals say so.
    QCOMPARE(slice.contourCount(), 2);
    verifyConsistent(slice);
    QCOMPARE(slice.area(), 109.0);

    // From grouped the same hierarchy, with one warning again.
    Slice grouped(1.0f, 0.1f, part());
    grouped.setFormat(2);
    grouped.setFormat(1);
    QCOMPARE(warnings, 2);
    QCOMPARE(grouped.contours().at(0).children().at(0).children().size(), 1);
}

void TestSliceFormats::flatAgain()
{
    Slice slice(1.0f, 0.1f, part());
    slice.setFormat(1);
    slice.setFormat(0);
    QCOMPARE(slice.format(), 0);
    QCOMPARE(slice.contourCount(), 4);
    QVERIFY(slice.groups().isEmpty());
    // Largest absolute area first, no children left.
    const QVector<double> areas{100.0, -36.0, 9.0, 4.0};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(slice.contours().at(i).area(), areas.at(i));
        QVERIFY(slice.contours().at(i).children().isEmpty());
    }
    verifyConsistent(slice);
}

void TestSliceFormats::sameFormatChangesNothing()
{
    warnings = 0;
    // Listed smallest first: flattening would sort them.
    Slice slice(1.0f, 0.1f, QVector<Contour>{box(0, 0, 1, 1), box(0, 0, 5, 5)});
    slice.setFormat(0);
    QCOMPARE(slice.contours().at(0).area(), 1.0);
    slice.setFormat(1);
    QCOMPARE(warnings, 1);
    slice.setFormat(1);
    QCOMPARE(warnings, 1);
}

void TestSliceFormats::conversionsKeepTheTotalsInStep_data()
{
    QTest::addColumn<QVector<int>>("formats");
    QTest::newRow("2 1 2") << QVector<int>{2, 1, 2};
    QTest::newRow("1 0 1") << QVector<int>{1, 0, 1};
    QTest::newRow("1 2 0") << QVector<int>{1, 2, 0};
    QTest::newRow("2 0 2 1 0") << QVector<int>{2, 0, 2, 1, 0};
}

void TestSliceFormats::conversionsKeepTheTotalsInStep()
{
    QFETCH(QVector<int>, formats);
    Slice slice(1.0f, 0.1f, part());
    // Read before every conversion, so that stale totals would show.
    for (const int format : formats) {
        QVERIFY(slice.vertexCount() > 0);
        slice.setFormat(format);
        QCOMPARE(slice.format(), format);
        verifyConsistent(slice);
    }
    // Direct calls on a nested slice flatten first instead of nesting deeper.
    slice.setFormat(1);
    slice.toGroupedFormat();
    QCOMPARE(slice.format(), 2);
    verifyConsistent(slice);
    for (const Contour &c : slice.contours()) {
        for (const Contour &child : c.children())
            QVERIFY(child.children().isEmpty());
    }
}

void TestSliceFormats::resampleKeepsGroupsInRange()
{
    // The small separate square is shorter than the step and goes; the group
    // map must not keep an entry for it.
    Slice slice(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 8, 8, true), box(20, 0, 21, 1)});
    slice.setFormat(2);
    QCOMPARE(slice.groups(), (Groups{{1, 0}, {2, 1}}));
    slice.resample(5.0, 0);
    QCOMPARE(slice.contours().size(), 1);
    QCOMPARE(slice.groups(), (Groups{{1, 0}}));
    QCOMPARE(slice.contourCount(), 2);
    verifyConsistent(slice);

    const Slice gone = slice.resampled(1000.0, 0);
    QVERIFY(gone.contours().isEmpty());
    QCOMPARE(gone.contourCount(), 0);
    QVERIFY(gone.groups().isEmpty());
    QCOMPARE(slice.contours().size(), 1);
}

void TestSliceFormats::toPainterPath()
{
    // Closed within 1e-12 already: not closed again. Two points: skipped.
    const Contour closed(Points{{0, 0}, {4, 0}, {4, 4}, {0, 0}});
    Slice slice(1.0f, 0.1f, QVector<Contour>{box(10, 10, 12, 12), closed, Contour(Points{{0, 0}, {1, 1}})});
    const QPainterPath odd = slice.toPainterPath(false);
    QCOMPARE(odd.fillRule(), Qt::OddEvenFill);
    QCOMPARE(odd.elementCount(), 5 + 4);
    // The last flat contour comes first.
    QCOMPARE(QPointF(odd.elementAt(0)), QPointF(0, 0));
    QCOMPARE(QPointF(odd.elementAt(4)), QPointF(10, 10));
    QCOMPARE(slice.toPainterPath(true).fillRule(), Qt::WindingFill);
    QVERIFY(Slice(1.0f).toPainterPath(true).isEmpty());
}

void TestSliceFormats::paintFlat()
{
    // Odd-even filling: the hole stays unpainted, the island is painted; a
    // brush that is not opaque paints white.
    const Slice slice(1.0f, 0.1f, part());
    QImage image(24, 12, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    slice.paint(&painter);
    QCOMPARE(painter.brush().color(), QColor(Qt::red));
    painter.end();
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::red));
    QCOMPARE(image.pixelColor(3, 3), QColor(Qt::blue));
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::red));
    QCOMPARE(image.pixelColor(21, 1), QColor(Qt::red));

    image.fill(Qt::blue);
    painter.begin(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::NoBrush);
    slice.paint(&painter);
    painter.end();
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white));
}

void TestSliceFormats::paintGrouped()
{
    Slice slice(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 8, 8, true)});
    slice.setFormat(2);
    QImage image(12, 12, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    slice.paint(&painter);
    QCOMPARE(painter.brush().color(), QColor(Qt::red));
    painter.end();
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::red));
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::black));
}

// A nested slice paints each ring on its own: the material between an outer
// boundary and its hole is painted all the way round.
void TestSliceFormats::paintHierarchy()
{
    Slice slice(1.0f, 0.1f, QVector<Contour>{box(0, 0, 10, 10), box(2, 2, 8, 8, true)});
    slice.setFormat(1);
    QCOMPARE(slice.contours().size(), 1);
    QImage image(12, 12, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    slice.paint(&painter);
    painter.end();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool hole = x >= 2 && x < 8 && y >= 2 && y < 8;
            QCOMPARE(image.pixelColor(x, y), hole ? QColor(Qt::blue) : QColor(Qt::red));
        }
    }
}

QTEST_GUILESS_MAIN(TestSliceFormats)
#include "tst_sliceformats.moc"
