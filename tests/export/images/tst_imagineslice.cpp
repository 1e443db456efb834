#include "images/imagineslice.h"

#include "viewer/filesizelimit.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>
#include <QtEndian>
#include <QtTest>

#include <climits>
#include <cstdio>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <memory>

using geom::ImagineSlice;

Q_DECLARE_METATYPE(QList<Slice>)

namespace {

Contour square(float x0, float y0, float x1, float y1, bool clockwise = false)
{
    return Contour(geom::Bounds2Df(geom::Point2Df(x0, y0), geom::Point2Df(x1, y1)), clockwise);
}

Slice sliceOf(float z, std::initializer_list<Contour> contours)
{
    return Slice(z, 0.1f, QVector<Contour>(contours));
}

// Slices at z = 0, 0.1, ...; slice i is a square i + 1 pixels wide on the
// 0.1 mm grid, so that every image tells which slice it shows (up to 150).
QList<Slice> squareStack(int count)
{
    QList<Slice> slices;
    for (int i = 0; i < count; ++i)
        slices << sliceOf(0.1f * float(i), {square(0.0f, 0.0f, 0.1f * float(1 + i), 10.0f)});
    return slices;
}

// 0.1 mm per pixel, the model origin at pixel (50, 150) of a 200 x 200 image.
QTransform tenthMillimetreGrid()
{
    QTransform t;
    t.translate(0.0, 200.0);
    t.scale(10.0, -10.0);
    t.translate(5.0, 5.0);
    return t;
}

void setTenthMillimetreGrid(ImagineSlice &engine)
{
    engine.setSize(QSize(200, 200));
    engine.setTransform(tenthMillimetreGrid());
}

int whitePixels(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            count += qGray(line[x]) > 127;
    }
    return count;
}

QStringList numberedFiles(const QString &dir, int count)
{
    QStringList files;
    const int digits = QString::number(count).size();
    for (int i = 0; i < count; ++i)
        files << QStringLiteral("%1/%2%3.png").arg(dir, QStringLiteral("layer")).arg(i, digits, 10, QLatin1Char('0'));
    return files;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList baseNames(const QStringList &paths)
{
    QStringList names;
    for (const QString &p : paths)
        names << QFileInfo(p).fileName();
    return names;
}

// The slice a written image of squareStack() shows, by the width of its square.
int sliceShown(const QString &file)
{
    const QImage image(file);
    if (image.isNull())
        return -1;
    return qRound(whitePixels(image) / 100.0) - 1;
}

QList<int> progressValues(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &arguments : spy)
        values << arguments.at(0).toInt();
    return values;
}

QList<int> expectedProgress(int images, int files)
{
    QList<int> values;
    for (int k = 0; k < images; ++k)
        values << k;
    values << files;
    return values;
}

quint32 bigEndian32(const QByteArray &bytes, int at)
{
    return qFromBigEndian<quint32>(bytes.constData() + at);
}

} // namespace

class tst_ImagineSlice : public QObject
{
    Q_OBJECT

private slots:
    void rasterises_data();
    void rasterises();
    void oddEvenRuleLeavesDoubleCoverBlack();
    void matchesPaintingOnTheImage_data();
    void matchesPaintingOnTheImage();
    void imagineOutsideTheStackIsNull();
    void settersDropTheTemplate();
    void maximumImageSizeIsClamped();
    void nonFiniteContoursAreLeftOut_data();
    void nonFiniteContoursAreLeftOut();
    void dotsPerMetre_data();
    void dotsPerMetre();
    void setScale_data();
    void setScale();
    void setScaleKeepsTheTopRow();
    void setScaleIgnoresUnusableScales();

    void pngHeaderAndMetadata_data();
    void pngHeaderAndMetadata();
    void filesTakeSlicesFromFirst_data();
    void filesTakeSlicesFromFirst();
    void imagesShareNoPixels();
    void progressOnAPoolThreadFollowsTheFiles();
    void cancel_data();
    void cancel();
    void writeFailureEndsTheRun_data();
    void writeFailureEndsTheRun();
    void fullDiskEndsTheRun_data();
    void fullDiskEndsTheRun();
    void olderSeriesStaysWhenTheRunEndsEarly_data();
    void olderSeriesStaysWhenTheRunEndsEarly();
    void revertRunPutsTheOlderSeriesBack();
    void leftoversOfAKilledRunAreRemoved_data();
    void leftoversOfAKilledRunAreRemoved();
    void noImageCanBeMade_data();
    void noImageCanBeMade();
    void memoryBudgetBoundsImagesInFlight_data();
    void memoryBudgetBoundsImagesInFlight();
    void secondRunIsRefused();
};

void tst_ImagineSlice::rasterises_data()
{
    QTest::addColumn<QList<Slice>>("slices");
    QTest::addColumn<int>("white");

    const Contour outer = square(0.0f, 0.0f, 10.0f, 10.0f);
    const Contour hole = square(2.0f, 2.0f, 8.0f, 8.0f, true);
    const Contour island = square(4.0f, 4.0f, 6.0f, 6.0f);
    QTest::newRow("10 mm square") << QList<Slice>{sliceOf(0.0f, {outer})} << 10000;
    QTest::newRow("with a hole") << QList<Slice>{sliceOf(0.0f, {outer, hole})} << 10000 - 3600;
    // Given in the wrong order: the stack sorts by area, so the hole still
    // lands on the square and the island on the hole.
    QTest::newRow("island in the hole") << QList<Slice>{sliceOf(0.0f, {island, hole, outer})} << 10000 - 3600 + 400;
    QTest::newRow("lone clockwise square") << QList<Slice>{sliceOf(0.0f, {hole})} << 0;
    QTest::newRow("overlapping squares")
        << QList<Slice>{sliceOf(0.0f, {outer, square(5.0f, 0.0f, 15.0f, 10.0f)})} << 15000;
    QTest::newRow("cut at the image edge")
        << QList<Slice>{sliceOf(0.0f, {square(-10.0f, -10.0f, 10.0f, 10.0f)})} << 150 * 150;
}

void tst_ImagineSlice::rasterises()
{
    QFETCH(QList<Slice>, slices);
    QFETCH(int, white);

    ImagineSlice engine(slices, nullptr);
    setTenthMillimetreGrid(engine);
    const QImage image = engine.imagine(0);
    QCOMPARE(image.size(), QSize(200, 200));
    QCOMPARE(image.format(), QImage::Format_Mono);
    QCOMPARE(whitePixels(image), white);
}

void tst_ImagineSlice::oddEvenRuleLeavesDoubleCoverBlack()
{
    // One contour that runs round a 10 mm square twice over its left half.
    Contour contour;
    for (const auto &p : {std::make_pair(0.f, 0.f), {10.f, 0.f}, {10.f, 10.f}, {0.f, 10.f}, {0.f, 0.f}, {5.f, 0.f},
                          {5.f, 10.f}, {0.f, 10.f}})
        contour.append(p.first, p.second);
    ImagineSlice engine(QList<Slice>{sliceOf(0.0f, {contour})}, nullptr);
    setTenthMillimetreGrid(engine);
    QCOMPARE(whitePixels(engine.imagine(0)), 5000);
    engine.setFillRule(Qt::WindingFill);
    QCOMPARE(whitePixels(engine.imagine(0)), 10000);
}

namespace {

Contour wobblyRing(double cx, double cy, double radius, int n, bool clockwise)
{
    Contour c;
    for (int i = 0; i < n; ++i) {
        const double a = (clockwise ? -2.0 : 2.0) * M_PI * i / n;
        const double r = radius * (1.0 + 0.1 * std::sin(7.0 * a));
        c.append(float(cx + r * std::cos(a)), float(cy + r * std::sin(a)));
    }
    return c;
}

} // namespace

void tst_ImagineSlice::matchesPaintingOnTheImage_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QSize>("size");
    // 0: inside the image; 1: also contours across its edges; 2: also one
    // reaching so far out that the raster engine clips it.
    QTest::addColumn<int>("outside");

    const QSize small(333, 187); // rows that end inside a byte
    QTest::newRow("mono") << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << small << 0;
    QTest::newRow("mono, inverted") << int(QImage::Format_Mono) << QColor(Qt::black) << QColor(Qt::white) << small
                                    << 0;
    QTest::newRow("mono LSB") << int(QImage::Format_MonoLSB) << QColor(Qt::white) << QColor(Qt::black) << small
                              << 0;
    QTest::newRow("mono, grey fill") << int(QImage::Format_Mono) << QColor(Qt::gray) << QColor(Qt::black) << small
                                     << 0;
    QTest::newRow("32-bit") << int(QImage::Format_RGB32) << QColor(Qt::red) << QColor(Qt::blue) << small << 0;
    QTest::newRow("mono, beyond the edges")
        << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << small << 1;
    QTest::newRow("mono, far beyond the edges")
        << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << small << 2;

    // Printer screens, painted band by band.
    const QSize fourK(3840, 2400);
    QTest::newRow("mono, 4K") << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << fourK << 0;
    QTest::newRow("mono, 4K, beyond the edges")
        << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << fourK << 1;
    QTest::newRow("mono, 4K, far beyond the edges")
        << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black) << fourK << 2;
    QTest::newRow("mono, 12K") << int(QImage::Format_Mono) << QColor(Qt::white) << QColor(Qt::black)
                               << QSize(11520, 5120) << 0;
    QTest::newRow("mono LSB, inverted, 12K, beyond the edges")
        << int(QImage::Format_MonoLSB) << QColor(Qt::black) << QColor(Qt::white) << QSize(11517, 5120) << 1;
}

// Whatever way the engine fills its images, they are what painting the
// contours with the transform straight onto an image of the format gives.
void tst_ImagineSlice::matchesPaintingOnTheImage()
{
    QFETCH(int, format);
    QFETCH(QColor, fill);
    QFETCH(QColor, background);
    QFETCH(QSize, size);
    QFETCH(int, outside);

    // Largest first, as the stack orders them: material, hole, island, and a
    // second outline overlapping the first.
    QVector<Contour> contours{wobblyRing(20.0, 12.0, 9.0, 500, false), wobblyRing(27.0, 8.0, 6.0, 300, false),
                              wobblyRing(20.0, 12.0, 5.0, 400, true), wobblyRing(20.0, 12.0, 2.0, 100, false)};
    // Across the left and bottom edges, across the right and top edges.
    if (outside > 0)
        contours << wobblyRing(0.0, 0.0, 4.0, 200, false) << wobblyRing(40.0, 23.0, 3.0, 150, false);
    if (outside > 1) {
        Contour far;
        for (const auto &p : {std::make_pair(30.0f, 2.0f), {5000.0f, 10.0f}, {31.0f, 4.0f}})
            far.append(p.first, p.second);
        contours << far;
    }
    QTransform t;
    t.translate(0.0, size.height());
    t.scale(size.width() / 41.3, -(size.height() / 23.1));
    t.translate(1.7, 0.3);

    ImagineSlice engine(QList<Slice>{Slice(0.0f, 0.1f, contours)}, nullptr);
    engine.setSize(size);
    engine.setFormat(QImage::Format(format));
    engine.setTransform(t);
    engine.setFillBrush(fill);
    engine.setBackgroundBrush(background);
    const QImage image = engine.imagine(0);

    QImage expected(size, QImage::Format(format));
    expected.fill(0);
    QPainter painter(&expected);
    painter.fillRect(expected.rect(), background);
    painter.setTransform(t);
    painter.setPen(Qt::NoPen);
    for (const Contour &c : engine.slices().at(0).contours()) {
        painter.setBrush(c.area() < 0.0 ? background : fill);
        QPolygonF polygon;
        for (const geom::Point2Df &p : c.points())
            polygon << QPointF(p.x, p.y);
        painter.drawPolygon(polygon, Qt::OddEvenFill);
    }
    painter.end();

    QCOMPARE(image.format(), expected.format());
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(rgb, expected.convertToFormat(QImage::Format_RGB32));
    int painted = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x)
            painted += rgb.pixel(x, y) != rgb.pixel(0, 0);
    }
    QVERIFY(painted > 1000);
}

void tst_ImagineSlice::imagineOutsideTheStackIsNull()
{
    ImagineSlice engine(squareStack(3), nullptr);
    setTenthMillimetreGrid(engine);
    QVERIFY(engine.imagine(-1).isNull());
    QVERIFY(engine.imagine(3).isNull());
    QVERIFY(!engine.imagine(2).isNull());

    ImagineSlice unsized(squareStack(1), nullptr);
    QVERIFY(unsized.imagine(0).isNull());
}

void tst_ImagineSlice::settersDropTheTemplate()
{
    ImagineSlice engine(QList<Slice>{sliceOf(0.0f, {square(0.0f, 0.0f, 10.0f, 10.0f)})}, nullptr);
    setTenthMillimetreGrid(engine);
    QCOMPARE(whitePixels(engine.imagine(0)), 10000);
    engine.setBackgroundBrush(QBrush(Qt::white));
    QCOMPARE(whitePixels(engine.imagine(0)), 200 * 200);
    engine.setSize(QSize(100, 100));
    QCOMPARE(engine.imagine(0).size(), QSize(100, 100));
    engine.setFormat(QImage::Format_RGB32);
    QCOMPARE(engine.imagine(0).format(), QImage::Format_RGB32);
}

void tst_ImagineSlice::maximumImageSizeIsClamped()
{
    ImagineSlice engine(QList<Slice>{}, nullptr);
    QCOMPARE(engine.maximumImageSize(), 12288);
    engine.setMaximumImageSize(5);
    QCOMPARE(engine.maximumImageSize(), 16);
    engine.setMaximumImageSize(40000);
    QCOMPARE(engine.maximumImageSize(), 32752);
}

void tst_ImagineSlice::nonFiniteContoursAreLeftOut_data()
{
    QTest::addColumn<float>("badX");
    QTest::addColumn<QTransform>("transform");
    QTest::addColumn<int>("white");

    const QTransform grid(10.0, 0.0, 0.0, -10.0, 0.0, 200.0);
    QTest::newRow("NaN vertex") << std::numeric_limits<float>::quiet_NaN() << grid << 400;
    QTest::newRow("infinite vertex") << std::numeric_limits<float>::infinity() << grid << 400;
    // Finite in the model, beyond double on the pixel grid; the good square
    // lands far outside the image but is still drawn (and clipped away).
    QTest::newRow("overflow on the grid") << 3e38f << QTransform(1e300, 0.0, 0.0, -10.0, 0.0, 200.0) << 0;
}

void tst_ImagineSlice::nonFiniteContoursAreLeftOut()
{
    QFETCH(float, badX);
    QFETCH(QTransform, transform);
    QFETCH(int, white);

    Contour bad = square(0.0f, 0.0f, 10.0f, 10.0f);
    bad.append(badX, 5.0f);
    ImagineSlice engine(QList<Slice>{sliceOf(0.0f, {square(1.0f, 1.0f, 3.0f, 3.0f), bad})}, nullptr);
    engine.setSize(QSize(200, 200));
    engine.setTransform(transform);

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("slice 0 .* 1 contour\\(s\\) with coordinates that are not finite"));
    const QImage image = engine.imagine(0);
    QVERIFY(!image.isNull());
    QCOMPARE(whitePixels(image), white); // the 2 mm square, nothing of the damaged one
}

void tst_ImagineSlice::dotsPerMetre_data()
{
    QTest::addColumn<double>("pixelsPerMillimetre");
    QTest::addColumn<int>("dots");

    QTest::newRow("0.1 mm") << 10.0 << 10000;
    QTest::newRow("1920 px on 151.5 mm") << 1920.0 / 151.5 << 12673;
    // 32767 pixels on a platform of a millionth of a millimetre.
    QTest::newRow("tiny platform") << 32767.0 / 1e-6 << INT_MAX;
    QTest::newRow("pixel larger than a metre") << 1e-4 << 1;
}

void tst_ImagineSlice::dotsPerMetre()
{
    QFETCH(double, pixelsPerMillimetre);
    QFETCH(int, dots);

    ImagineSlice engine(squareStack(1), nullptr);
    engine.setSize(QSize(16, 16));
    engine.setTransform(QTransform::fromScale(pixelsPerMillimetre, -pixelsPerMillimetre));
    const QImage image = engine.imagine(0);
    QCOMPARE(image.dotsPerMeterX(), dots);
    QCOMPARE(image.dotsPerMeterY(), dots);
}

void tst_ImagineSlice::setScale_data()
{
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("depth");
    QTest::addColumn<float>("scale");
    QTest::addColumn<QSize>("size");

    QTest::newRow("100 x 30 at 0.5") << 100.0f << 30.0f << 0.5f << QSize(208, 64);
    QTest::newRow("extent a multiple of 16") << 32.0f << 16.0f << 1.0f << QSize(48, 32);
    QTest::newRow("limited") << 10000.0f << 10.0f << 0.01f << QSize(12288, 1008);
}

void tst_ImagineSlice::setScale()
{
    QFETCH(float, width);
    QFETCH(float, depth);
    QFETCH(float, scale);
    QFETCH(QSize, size);

    ImagineSlice engine(QList<Slice>{sliceOf(0.0f, {square(20.0f, -5.0f, 20.0f + width, -5.0f + depth)})}, nullptr);
    engine.setScale(scale);
    QCOMPARE(engine.size(), size);
    const int h = int(std::ceil(depth / scale));
    QCOMPARE(engine.transform().map(QPointF(20.0, -5.0)), QPointF(0.0, h));
    QCOMPARE(engine.pixelSize(), QSizeF(scale, scale));
}

void tst_ImagineSlice::setScaleKeepsTheTopRow()
{
    // 100.7 pixels tall: every one of the 101 rows it touches with a pixel
    // centre must be in the image, the top one included.
    ImagineSlice engine(QList<Slice>{sliceOf(0.0f, {square(0.0f, 0.0f, 5.0f, 10.07f)})}, nullptr);
    engine.setScale(0.1f);
    const QImage image = engine.imagine(0).convertToFormat(QImage::Format_RGB32);
    int rows = 0;
    for (int y = 0; y < image.height(); ++y)
        rows += qGray(image.pixel(10, y)) > 127;
    QCOMPARE(rows, 101);
    QVERIFY(qGray(image.pixel(10, 0)) > 127);
}

void tst_ImagineSlice::setScaleIgnoresUnusableScales()
{
    ImagineSlice engine(squareStack(1), nullptr);
    for (const float scale : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        engine.setScale(scale);
        QCOMPARE(engine.size(), QSize(-1, -1));
        QVERIFY(engine.transform().isIdentity());
    }
    // Tiny pixels: the size is limited and nothing overflows on the way.
    engine.setScale(1e-30f);
    QCOMPARE(engine.size(), QSize(12288, 12288));

    ImagineSlice empty(QList<Slice>{}, nullptr);
    empty.setScale(0.1f);
    QCOMPARE(empty.size(), QSize(-1, -1));
}

void tst_ImagineSlice::pngHeaderAndMetadata_data()
{
    QTest::addColumn<double>("offsetX");
    QTest::addColumn<double>("offsetY");
    QTest::addColumn<QPoint>("recordedOffset");

    QTest::newRow("platform origin") << 0.0 << 0.0 << QPoint(0, -1080);
    QTest::newRow("offset 10, 5") << 10.0 << 5.0 << QPoint(-127, -1017);
}

void tst_ImagineSlice::pngHeaderAndMetadata()
{
    QFETCH(double, offsetX);
    QFETCH(double, offsetY);
    QFETCH(QPoint, recordedOffset);

    // The export window's default platform: 1920 x 1080 pixels on 151.5 x 85.2188 mm.
    QTransform t;
    t.translate(0.0, 1080.0);
    t.scale(1920.0 / 151.5, -(1080.0 / 85.2188));
    t.translate(offsetX, offsetY);
    QList<Slice> slices{sliceOf(1.25f, {square(0.0f, 0.0f, 10.0f, 10.0f)}),
                        sliceOf(0.1f, {square(0.0f, 0.0f, 20.0f, 10.0f)})};
    ImagineSlice engine(slices, nullptr);
    engine.setSize(QSize(1920, 1080));
    engine.setTransform(t);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = numberedFiles(dir.path(), 2);
    QCOMPARE(engine.run(files, 0), 2);

    QFile file(files.at(0));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\x89PNG\r\n\x1a\n"));
    QCOMPARE(bytes.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(bigEndian32(bytes, 16), 1920u);
    QCOMPARE(bigEndian32(bytes, 20), 1080u);
    QCOMPARE(int(uchar(bytes.at(24))), 1); // bit depth
    const int phys = bytes.indexOf("pHYs");
    QVERIFY(phys > 0);
    QCOMPARE(bigEndian32(bytes, phys + 4), 12673u);
    QCOMPARE(bigEndian32(bytes, phys + 8), 12673u);
    QCOMPARE(int(uchar(bytes.at(phys + 12))), 1); // per metre

    // Slices come in z order whatever order they were given in.
    const QImage lower(files.at(0));
    const QImage upper(files.at(1));
    QCOMPARE(lower.text("Z"), QStringLiteral("0.1"));
    QCOMPARE(upper.text("Z"), QStringLiteral("1.25"));
    QCOMPARE(lower.offset(), recordedOffset);
    QCOMPARE(lower.dotsPerMeterY(), 12673);
}

void tst_ImagineSlice::filesTakeSlicesFromFirst_data()
{
    QTest::addColumn<int>("sliceCount");
    QTest::addColumn<int>("fileCount");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("written");

    QTest::newRow("all") << 10 << 10 << 0 << 10;
    QTest::newRow("from 3") << 10 << 10 << 3 << 7;
    QTest::newRow("negative first") << 10 << 10 << -4 << 10;
    QTest::newRow("fewer files") << 10 << 4 << 0 << 4;
    QTest::newRow("more files") << 5 << 8 << 0 << 5;
    QTest::newRow("first beyond the slices") << 5 << 5 << 9 << 0;
    QTest::newRow("no files") << 5 << 0 << 0 << 0;
}

void tst_ImagineSlice::filesTakeSlicesFromFirst()
{
    QFETCH(int, sliceCount);
    QFETCH(int, fileCount);
    QFETCH(int, first);
    QFETCH(int, written);

    ImagineSlice engine(squareStack(sliceCount), nullptr);
    setTenthMillimetreGrid(engine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = numberedFiles(dir.path(), fileCount);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    QSignalSpy finished(&engine, &ImagineSlice::finished);

    QCOMPARE(engine.run(files, first), written);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(progressValues(progress), expectedProgress(written, fileCount));
    QVERIFY(engine.errorString().isEmpty());
    QCOMPARE(filesIn(dir.path()), baseNames(files.mid(0, written)));
    for (int k = 0; k < written; ++k)
        QCOMPARE(sliceShown(files.at(k)), std::max(first, 0) + k);
}

// The images of a run are made in memory that earlier images of the run used:
// an empty slice after a full one comes out empty, in either colour scheme.
void tst_ImagineSlice::imagesShareNoPixels()
{
    const int count = 48;
    QList<Slice> slices;
    for (int i = 0; i < count; ++i)
        slices << (i % 2 ? sliceOf(0.1f * float(i), {}) : sliceOf(0.1f * float(i), {square(-5.0f, -5.0f, 15.0f, 15.0f)}));
    for (const bool inverted : {false, true}) {
        ImagineSlice engine(slices, nullptr);
        setTenthMillimetreGrid(engine);
        if (inverted) {
            engine.setFillBrush(QBrush(Qt::black));
            engine.setBackgroundBrush(QBrush(Qt::white));
        }
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QStringList files = numberedFiles(dir.path(), count);
        QCOMPARE(engine.run(files, 0), count);
        for (int k = 0; k < count; ++k) {
            const bool white = (k % 2 == 0) != inverted;
            QCOMPARE(whitePixels(QImage(files.at(k))), white ? 200 * 200 : 0);
        }
    }
}

namespace {

// Stands in for the export window: takes progress through a blocking queued
// connection and checks what the label would say about the files.
class ProgressWatcher : public QObject
{
    Q_OBJECT
public:
    QStringList files;
    int images = 0;
    QList<int> values;
    QStringList problems;

public slots:
    void setValue(int value)
    {
        values << value;
        // The series appears as a whole: no image is under its final name
        // while the label names one as being written, all are complete once
        // the final progress comes.
        for (int k = 0; k < images; ++k) {
            if (value < images && QFileInfo::exists(files.at(k)))
                problems << QStringLiteral("file %1 there at progress %2").arg(k).arg(value);
            else if (value >= images && sliceShown(files.at(k)) != k)
                problems << QStringLiteral("file %1 not complete at the final progress").arg(k);
        }
    }
};

} // namespace

void tst_ImagineSlice::progressOnAPoolThreadFollowsTheFiles()
{
    const int count = 40;
    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    ProgressWatcher watcher;
    watcher.files = numberedFiles(dir.path(), count);
    watcher.images = count;
    connect(&engine, &ImagineSlice::progress, &watcher, &ProgressWatcher::setValue, Qt::BlockingQueuedConnection);
    QSignalSpy finished(&engine, &ImagineSlice::finished);

    QFuture<int> future = QtConcurrent::run(&engine, &ImagineSlice::run, watcher.files, 0);
    QTRY_VERIFY_WITH_TIMEOUT(future.isFinished(), 60000);
    QCOMPARE(future.result(), count);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(watcher.values, expectedProgress(count, count));
    QCOMPARE(watcher.problems, QStringList());
}

void tst_ImagineSlice::cancel_data()
{
    QTest::addColumn<int>("cancelAt");

    QTest::newRow("before the run") << -1;
    QTest::newRow("at the first image") << 0;
    QTest::newRow("in the middle") << 12;
    QTest::newRow("at the last image") << 23;
}

void tst_ImagineSlice::cancel()
{
    QFETCH(int, cancelAt);
    const int count = 24;

    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = numberedFiles(dir.path(), count);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    QSignalSpy finished(&engine, &ImagineSlice::finished);
    connect(&engine, &ImagineSlice::progress, this, [&](int value) {
        if (value == cancelAt)
            engine.cancel();
    });

    if (cancelAt < 0)
        engine.cancel();
    QCOMPARE(engine.run(files, 0), 0);
    QCOMPARE(finished.count(), 1);
    QList<int> expected = expectedProgress(cancelAt + 1, count);
    expected.removeLast();
    QCOMPARE(progressValues(progress), expected);
    QCOMPARE(filesIn(dir.path()), QStringList());
    QVERIFY(engine.errorString().isEmpty());

    // The cancel was used up: the next run goes through.
    progress.clear();
    cancelAt = -2;
    QCOMPARE(engine.run(files, 0), count);
    QCOMPARE(progressValues(progress), expectedProgress(count, count));
    QCOMPARE(filesIn(dir.path()), baseNames(files));
}

void tst_ImagineSlice::writeFailureEndsTheRun_data()
{
    QTest::addColumn<int>("failAt");
    QTest::addColumn<QString>("badName");

    QTest::newRow("missing directory, first") << 0 << QStringLiteral("missing/layer.png");
    QTest::newRow("missing directory, middle") << 7 << QStringLiteral("missing/layer.png");
    QTest::newRow("missing directory, last") << 15 << QStringLiteral("missing/layer.png");
    QTest::newRow("unknown suffix") << 9 << QStringLiteral("layer.xyz");
}

void tst_ImagineSlice::writeFailureEndsTheRun()
{
    QFETCH(int, failAt);
    QFETCH(QString, badName);
    const int count = 16;

    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files = numberedFiles(dir.path(), count);
    files[failAt] = dir.filePath(badName);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    QSignalSpy finished(&engine, &ImagineSlice::finished);

    QCOMPARE(engine.run(files, 0), 0);
    QCOMPARE(finished.count(), 1);
    QVERIFY2(engine.errorString().contains(QDir::toNativeSeparators(files.at(failAt))),
             qPrintable(engine.errorString()));
    // No final progress; nothing beyond the failure is announced.
    const QList<int> values = progressValues(progress);
    QVERIFY(!values.contains(count));
    QVERIFY(values.isEmpty() || values.last() <= failAt);
    // Nothing of the run stays, the images before the failure included, and
    // no temporary file either.
    QCOMPARE(filesIn(dir.path()), QStringList());

    // The failure does not stick to the engine.
    files[failAt] = numberedFiles(dir.path(), count).at(failAt);
    QCOMPARE(engine.run(files, 0), count);
    QVERIFY(engine.errorString().isEmpty());
}

namespace {

// A small tmpfs mounted on a directory for as long as it lives; mounted stays
// false where this process may not mount.
class SmallFileSystem
{
public:
    SmallFileSystem(const QString &dir, int kibibytes)
        : dir(dir)
    {
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                     QStringLiteral("size=%1k").arg(kibibytes), QStringLiteral("tmpfs"), dir});
        mounted = mount.waitForFinished() && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {dir});
    }
    bool mounted = false;

private:
    QString dir;
};

// Writes into dir until the file system holds no more than `room` bytes.
void fillUp(const QString &dir, int room = 0)
{
    QFile reserve(dir + QStringLiteral("/reserve"));
    if (room > 0 && (!reserve.open(QIODevice::WriteOnly) || reserve.write(QByteArray(room, 'r')) != room))
        return;
    reserve.close();
    QFile filler(dir + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    const QByteArray byte(1, 'x');
    while (filler.write(byte) == 1) {
    }
    reserve.remove();
}

QMap<QString, QByteArray> contentsOf(const QStringList &files)
{
    QMap<QString, QByteArray> contents;
    for (const QString &name : files) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly))
            contents.insert(name, file.readAll());
    }
    return contents;
}

// Every file of a directory with its bytes, hidden ones included.
QMap<QString, QByteArray> directoryContents(const QString &dir)
{
    QStringList paths;
    for (const QString &name : filesIn(dir))
        paths << dir + QLatin1Char('/') + name;
    return contentsOf(paths);
}

// An older series of images under the names given, not the ones squareStack()
// gives today: the colours are the other way round.
bool writeOlderSeries(const QStringList &files)
{
    ImagineSlice engine(squareStack(files.size()), nullptr);
    setTenthMillimetreGrid(engine);
    engine.setFillBrush(QBrush(Qt::black));
    engine.setBackgroundBrush(QBrush(Qt::white));
    return engine.run(files, 0) == files.size();
}

// A temporary folder with `count` names of a series, an older series under the
// first `older` of them.
struct FolderWithOlderSeries
{
    FolderWithOlderSeries(int count, int older)
        : files(numberedFiles(dir.path(), count))
        , valid(dir.isValid() && writeOlderSeries(files.mid(0, older)))
    {
    }
    bool write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QTemporaryDir dir;
    QStringList files;
    bool valid;
};

// Which of the files an error message names.
int fileNamed(const QString &error, const QStringList &files)
{
    for (int k = 0; k < files.size(); ++k) {
        if (error.contains(QLatin1Char('"') + QDir::toNativeSeparators(files.at(k)) + QLatin1Char('"')))
            return k;
    }
    return -1;
}

} // namespace

void tst_ImagineSlice::fullDiskEndsTheRun_data()
{
    QTest::addColumn<bool>("fileSystem"); // a small tmpfs, else a file-size limit
    QTest::addColumn<bool>("overOlderImages");
    QTest::addColumn<int>("room"); // bytes left free on the tmpfs after the older images

    QTest::newRow("file-size limit") << false << false << 0;
    QTest::newRow("file-size limit, over older images") << false << true << 0;
    QTest::newRow("filling the file system") << true << false << 0;
    QTest::newRow("full file system, over older images") << true << true << 0;
    QTest::newRow("nearly full file system, over older images") << true << true << 3 * 4096;
}

// A write that the disk refuses ends the run with the file and the system's
// reason, and leaves the folder as it was: no empty, cut or new image, and
// every older image byte for byte.
void tst_ImagineSlice::fullDiskEndsTheRun()
{
    QFETCH(bool, fileSystem);
    QFETCH(bool, overOlderImages);
    QFETCH(int, room);
    const int count = fileSystem && !overOlderImages ? 40 : 8;

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString dir = temporary.filePath(QStringLiteral("disk"));
    QVERIFY(QDir().mkpath(dir));
    // Each image takes a page of the 64 KiB file system: a fresh series of 40
    // fills it part way through.
    std::unique_ptr<SmallFileSystem> disk;
    if (fileSystem) {
        disk = std::make_unique<SmallFileSystem>(dir, 64);
        if (!disk->mounted)
            QSKIP("This process may not mount a tmpfs (it needs root).");
    }

    const QStringList files = numberedFiles(dir, count);
    if (overOlderImages) {
        QVERIFY(writeOlderSeries(files));
        if (fileSystem)
            fillUp(dir, room);
    }
    const QMap<QString, QByteArray> before = directoryContents(dir);

    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    // One image at a time, so that the room is taken in order.
    if (room > 0)
        engine.setMemoryBudget(0);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    QSignalSpy finished(&engine, &ImagineSlice::finished);
    int written = -1;
    {
        // Smaller than any image of the series.
        std::unique_ptr<FileSizeLimit> limit;
        if (!fileSystem) {
            limit = std::make_unique<FileSizeLimit>(100);
            QVERIFY(limit->active);
        }
        written = engine.run(files, 0);
    }
    QCOMPARE(written, 0);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!progressValues(progress).contains(count));
    const QString reason = fileSystem ? QStringLiteral("No space left on device") : QStringLiteral("File too large");
    QVERIFY2(engine.errorString().contains(reason), qPrintable(engine.errorString()));
    const int failed = fileNamed(engine.errorString(), files);
    QVERIFY2(failed >= 0, qPrintable(engine.errorString()));
    // With room for three images the fourth is the one that does not fit.
    if (room > 0)
        QCOMPARE(failed, room / 4096);
    // The last progress names the image that failed, none beyond it.
    const QList<int> values = progressValues(progress);
    QVERIFY(values.isEmpty() || values.last() <= failed);

    // No temporary file is left either, nor anything replaced.
    QCOMPARE(directoryContents(dir), before);
}

void tst_ImagineSlice::olderSeriesStaysWhenTheRunEndsEarly_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("at"); // the image that fails, or the progress the cancel comes at

    QTest::newRow("image 3 is a directory") << "directory" << 2;
    QTest::newRow("image 1 is a directory") << "directory" << 0;
    QTest::newRow("cancel at the first image") << "cancel" << 0;
    QTest::newRow("cancel in the middle") << "cancel" << 6;
    QTest::newRow("cancel at the last image") << "cancel" << 11;
    // A directory that appears once every image is written: the renames have
    // begun when it refuses one of them.
    QTest::newRow("rename refused, the first without an older image") << "rename" << 8;
    QTest::newRow("rename refused, later") << "rename" << 10;
}

// A series written over an older one replaces it as a whole or not at all: a
// run that fails part way, also while renaming, or is cancelled leaves every
// file that was there byte for byte, and no file of its own.
void tst_ImagineSlice::olderSeriesStaysWhenTheRunEndsEarly()
{
    QFETCH(QString, how);
    QFETCH(int, at);
    const int count = 12;

    // Older images for the first eight names, a file of the user's beside them.
    const FolderWithOlderSeries folder(count, 8);
    QVERIFY(folder.valid);
    QVERIFY(folder.write(QStringLiteral("notes.txt"), "not an image"));
    const QTemporaryDir &dir = folder.dir;
    const QStringList &files = folder.files;
    if (how == "directory") {
        QVERIFY(QFile::remove(files.at(at)));
        QVERIFY(QDir().mkpath(files.at(at)));
    }
    const QMap<QString, QByteArray> before = directoryContents(dir.path());

    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    connect(&engine, &ImagineSlice::progress, this, [&](int value) {
        if (how == "cancel" && value == at)
            engine.cancel();
        // Every image is written once the last one is announced.
        if (how == "rename" && value == count - 1)
            QDir().mkpath(files.at(at));
    });

    QCOMPARE(engine.run(files, 0), 0);
    QVERIFY(!progressValues(progress).contains(count));
    if (how == "cancel") {
        QVERIFY2(engine.errorString().isEmpty(), qPrintable(engine.errorString()));
    } else {
        QCOMPARE(fileNamed(engine.errorString(), files), at);
        QVERIFY2(engine.errorString().contains(QStringLiteral("Is a directory")), qPrintable(engine.errorString()));
        QVERIFY(QFileInfo(files.at(at)).isDir());
    }
    QCOMPARE(directoryContents(dir.path()), before);
}

void tst_ImagineSlice::revertRunPutsTheOlderSeriesBack()
{
    const int count = 12;
    const FolderWithOlderSeries folder(count, 8);
    QVERIFY(folder.valid);
    const QMap<QString, QByteArray> before = directoryContents(folder.dir.path());

    {
        // Without a revert the new series stays, and nothing else once the engine goes.
        ImagineSlice engine(squareStack(count), nullptr);
        setTenthMillimetreGrid(engine);
        QCOMPARE(engine.run(folder.files, 0), count);
    }
    // The files it replaced go on the pool.
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(filesIn(folder.dir.path()), baseNames(folder.files));
    for (int k = 0; k < count; ++k)
        QCOMPARE(sliceShown(folder.files.at(k)), k);
    const QMap<QString, QByteArray> replaced = directoryContents(folder.dir.path());
    for (int k = 0; k < 8; ++k)
        QVERIFY(replaced.value(folder.files.at(k)) != before.value(folder.files.at(k)));

    QDir(folder.dir.path()).removeRecursively();
    QVERIFY(QDir().mkpath(folder.dir.path()));
    QVERIFY(writeOlderSeries(folder.files.mid(0, 8)));
    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QCOMPARE(engine.run(folder.files, 0), count);
    QCOMPARE(sliceShown(folder.files.at(3)), 3);
    // A cancel that came too late for the run: the next run is not stopped by it.
    engine.cancel();
    QVERIFY(engine.revertRun());
    QVERIFY(engine.errorString().isEmpty());
    QCOMPARE(directoryContents(folder.dir.path()), before);
    // Only once.
    QVERIFY(engine.revertRun());
    QCOMPARE(directoryContents(folder.dir.path()), before);
    QCOMPARE(engine.run(folder.files, 0), count);
}

void tst_ImagineSlice::leftoversOfAKilledRunAreRemoved_data()
{
    QTest::addColumn<QString>("nextBase"); // of the next export into the folder
    QTest::newRow("next export of the same series") << "layer";
    QTest::newRow("next export of another series") << "other";
}

// The temporary files of a run killed part way are told by their names: the
// next export into the folder removes them, and leaves a user's file that only
// looks like one, and the files of a process that still runs.
void tst_ImagineSlice::leftoversOfAKilledRunAreRemoved()
{
    QFETCH(QString, nextBase);
    const int count = 12;
    const FolderWithOlderSeries folder(count, 8);
    QVERIFY(folder.valid);
    const QTemporaryDir &dir = folder.dir;
    const QStringList &files = folder.files;
    const QMap<QString, QByteArray> older = directoryContents(dir.path());

    // A run of this test program in a process of its own, killed while it waits at image 7.
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TST_IMAGINESLICE_KILLED_RUN"), dir.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForStarted());
    const qint64 pid = child.processId();
    QByteArray said;
    while (!said.contains("held") && child.waitForReadyRead(30000))
        said += child.readAllStandardOutput();
    QVERIFY2(said.contains("held"), said.constData());
    child.kill();
    QVERIFY(child.waitForFinished());

    QStringList left;
    for (const QString &name : filesIn(dir.path())) {
        if (!older.contains(dir.filePath(name)))
            left << name;
    }
    // Images written, and second names of the older images they were to replace.
    const QStringList temporaries = left.filter(QStringLiteral(".%1-0.quarne-new").arg(pid));
    QVERIFY2(temporaries.size() >= 6, qPrintable(left.join(QStringLiteral(", "))));
    for (const QString &name : left) {
        QVERIFY2(name.startsWith(QLatin1Char('.'))
                     && (name.endsWith(QStringLiteral(".%1-0.quarne-new").arg(pid))
                         || name.endsWith(QStringLiteral(".%1-0.quarne-old").arg(pid))),
                 qPrintable(name));
    }
    QCOMPARE(contentsOf(files.mid(0, 8)), older);

    // A run killed between moving an older image aside and renaming its new one
    // in gets the older image back; the second name of an older image whose
    // target is in place goes, and the target stays as it is.
    const QByteArray older3 = older.value(files.at(3));
    const auto write = [&folder](const QString &name, const QByteArray &bytes) { return folder.write(name, bytes); };
    QVERIFY(QFile::rename(files.at(3), dir.filePath(QStringLiteral(".layer03.png.%1-7.quarne-old").arg(pid))));
    QVERIFY(write(QStringLiteral(".layer09.png.%1-7.quarne-new").arg(pid), "not renamed yet"));
    QVERIFY(write(QStringLiteral(".layer05.png.%1-8.quarne-old").arg(pid), "set aside by a run that renamed"));

    // Files of users that only look alike, and those of this process, which runs.
    const QStringList kept{QStringLiteral("layer01.png.%1-0.quarne-new").arg(pid),
                           QStringLiteral(".layer01.png.%1-0.quarne-new~").arg(pid),
                           QStringLiteral(".layer01.png.%1-0.quarne-tmp").arg(pid),
                           QStringLiteral(".layer01.png.%1.quarne-new").arg(pid),
                           QStringLiteral(".layer01.png.x%1-0.quarne-new").arg(pid),
                           QStringLiteral(".layer01.png.0-0.quarne-new"),
                           QStringLiteral(".layer01.png.99999999999-0.quarne-new"),
                           QStringLiteral(".%1.%2-0.quarne-new").arg(QStringLiteral("notes.txt")).arg(QCoreApplication::applicationPid()),
                           QStringLiteral("notes.txt")};
    for (const QString &name : kept)
        QVERIFY(write(name, name.toUtf8()));

    QStringList next = files;
    if (nextBase != "layer") {
        next.clear();
        for (int i = 1; i <= 3; ++i)
            next << dir.filePath(QStringLiteral("%1%2.png").arg(nextBase).arg(i));
    }
    {
        ImagineSlice engine(squareStack(count), nullptr);
        setTenthMillimetreGrid(engine);
        QCOMPARE(engine.run(next, 0), next.size());
    }
    QThreadPool::globalInstance()->waitForDone();

    QStringList expected = kept + baseNames(next);
    if (nextBase != "layer")
        expected += baseNames(files.mid(0, 8));
    expected.sort();
    QCOMPARE(filesIn(dir.path()), expected);
    for (const QString &name : kept)
        QCOMPARE(contentsOf({dir.filePath(name)}).value(dir.filePath(name)), name.toUtf8());
    if (nextBase != "layer") {
        QCOMPARE(contentsOf({files.at(3)}).value(files.at(3)), older3);
        QCOMPARE(contentsOf(files.mid(0, 8)), older);
    }
}

void tst_ImagineSlice::noImageCanBeMade_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");

    QTest::newRow("no size set") << QSize(-1, -1) << int(QImage::Format_Mono);
    // A scan line beyond what an image can address.
    QTest::newRow("too large") << QSize(600000000, 2) << int(QImage::Format_ARGB32);
}

void tst_ImagineSlice::noImageCanBeMade()
{
    QFETCH(QSize, size);
    QFETCH(int, format);

    ImagineSlice engine(squareStack(3), nullptr);
    engine.setSize(size);
    engine.setFormat(QImage::Format(format));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = numberedFiles(dir.path(), 3);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    QSignalSpy finished(&engine, &ImagineSlice::finished);

    QCOMPARE(engine.run(files, 0), 0);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!progressValues(progress).contains(3));
    QVERIFY(engine.errorString().contains(QDir::toNativeSeparators(files.at(0))));
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void tst_ImagineSlice::memoryBudgetBoundsImagesInFlight_data()
{
    const qint64 image = 400 * 400 * 4;
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<int>("limit");

    const int threads = std::max(1, QThread::idealThreadCount());
    QTest::newRow("nothing") << qint64(0) << 1;
    QTest::newRow("less than one image") << image - 1 << 1;
    QTest::newRow("two images") << 2 * image + 1 << std::min(2, threads);
    QTest::newRow("default") << qint64(-1) << threads;
}

void tst_ImagineSlice::memoryBudgetBoundsImagesInFlight()
{
    QFETCH(qint64, budget);
    QFETCH(int, limit);
    const int count = 32;

    // Large contours in a 32-bit image make every job last long enough for the
    // others to pile up if nothing held them back.
    QList<Slice> slices;
    for (int i = 0; i < count; ++i) {
        Contour circle;
        for (int k = 0; k < 4000; ++k) {
            const double a = 2.0 * M_PI * k / 4000.0;
            circle.append(float(20.0 + 15.0 * std::cos(a)), float(20.0 + 15.0 * std::sin(a)));
        }
        slices << sliceOf(float(i), {circle});
    }
    ImagineSlice engine(slices, nullptr);
    engine.setFormat(QImage::Format_ARGB32);
    engine.setSize(QSize(400, 400));
    engine.setTransform(QTransform::fromScale(10.0, 10.0));
    QCOMPARE(engine.memoryBudget(), qint64(256) * 1024 * 1024);
    if (budget >= 0)
        engine.setMemoryBudget(budget);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(engine.run(numberedFiles(dir.path(), count), 0), count);
    QVERIFY2(engine.peakImagesInFlight() >= 1 && engine.peakImagesInFlight() <= limit,
             qPrintable(QString::number(engine.peakImagesInFlight())));
}

void tst_ImagineSlice::secondRunIsRefused()
{
    const int count = 4;
    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = numberedFiles(dir.path(), count);
    QStringList others = numberedFiles(dir.filePath(QStringLiteral("other")), count);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("other")));

    QSignalSpy finished(&engine, &ImagineSlice::finished);
    QSignalSpy progress(&engine, &ImagineSlice::progress);
    int inner = -1;
    connect(&engine, &ImagineSlice::progress, this, [&](int value) {
        if (value == 1)
            inner = engine.run(others, 0);
    });
    QTest::ignoreMessage(QtCriticalMsg, "This slice imagination instance is currently running!");
    QCOMPARE(engine.run(files, 0), count);
    QCOMPARE(inner, 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(progressValues(progress), expectedProgress(count, count));
    QCOMPARE(filesIn(dir.filePath(QStringLiteral("other"))), QStringList());
}

namespace {

// The export that leftoversOfAKilledRunAreRemoved() kills: a run into the
// folder given that says "held" when it is about to finish image 7, and waits
// there for good.
int killedRun(const QString &dir)
{
    const int count = 12;
    ImagineSlice engine(squareStack(count), nullptr);
    setTenthMillimetreGrid(engine);
    QObject::connect(&engine, &ImagineSlice::progress, [](int value) {
        if (value != 6)
            return;
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        for (;;)
            QThread::sleep(60);
    });
    engine.run(numberedFiles(dir, count), 0);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QString killedRunDirectory = qEnvironmentVariable("TST_IMAGINESLICE_KILLED_RUN");
    if (!killedRunDirectory.isEmpty())
        return killedRun(killedRunDirectory);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    tst_ImagineSlice test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_imagineslice.moc"
