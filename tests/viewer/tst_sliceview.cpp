#include "sliceview.h"
#include "sliceviewtestutil.h"

#include <QGraphicsPolygonItem>
#include <QGraphicsSvgItem>
#include <QImage>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace sliceviewtest;

Q_DECLARE_METATYPE(Contour)

namespace {

QStringList *debugMessages = nullptr;

void recordDebugMessage(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && debugMessages)
        debugMessages->append(message);
}

} // namespace

// What the view shows of a file and what it tells about it: slice selection, the slice items,
// the accessors, loading and its outcome, and the empty view.
class TestSliceView : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString write(const QString &name, const QList<Slice> &slices)
    {
        const QString path = dir.filePath(name);
        if (!writeSlc(path, slices))
            return QString();
        return path;
    }

    static int logoCount(const SliceView &view)
    {
        int n = 0;
        const QList<QGraphicsItem *> all = view.scene()->items();
        for (QGraphicsItem *item : all)
            n += dynamic_cast<QGraphicsSvgItem *>(item) != nullptr;
        return n;
    }

    static QList<QGraphicsPolygonItem *> sliceItems(const SliceView &view)
    {
        return itemsInGroup<QGraphicsPolygonItem>(view, 0.0);
    }

    // The viewport's pixels in the region, as a paint of that region alone makes them; the rest
    // of the image is black.
    static QImage paintedRegion(const SliceView &view, const QRegion &region)
    {
        QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::black);
        view.viewport()->render(&image, region.boundingRect().topLeft(), region);
        return image;
    }

    // The pixels that differ within the rectangle, with the first of them.
    static QString differences(const QImage &a, const QImage &b, const QRect &rect)
    {
        int count = 0;
        QPoint first;
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                if (a.pixel(x, y) != b.pixel(x, y) && count++ == 0)
                    first = QPoint(x, y);
            }
        }
        return count == 0 ? QString() : QStringLiteral("%1 pixels differ in %2,%3 %4x%5, first at %6,%7")
            .arg(count).arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height()).arg(first.x()).arg(first.y());
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    void construction()
    {
        QWidget parent;
        SliceView view(&parent);
        QCOMPARE(view.sizeHint(), QSize(320, 320));
        QCOMPARE(view.minimumSizeHint(), QSize(50, 50));
        QCOMPARE(view.sliceCount(), 0);
        QCOMPARE(view.currentSlice(), 0);
        QVERIFY(view.bounds().isNull());
        QCOMPARE(view.gridInterval(), 2.0);
        QCOMPARE(view.maxGridInterval(), 2.0);
        QVERIFY(!view.isGridVisible());
        QVERIFY(view.animationsEnabled());
        QVERIFY(!view.showVertices());
        QCOMPARE(view.lastReadStatus(), QDataStream::Ok);
        QCOMPARE(view.scene()->parent(), &parent);
        QCOMPARE(logoCount(view), 1);
        // y grows upwards.
        QCOMPARE(view.transform().m11(), 1.0);
        QCOMPARE(view.transform().m22(), -1.0);
        QVERIFY(view.viewport()->testAttribute(Qt::WA_MouseTracking));
        QCOMPARE(view.focusPolicy(), Qt::NoFocus);
    }

    void setSliceClamps_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("shown");
        QTest::newRow("negative") << -3 << 1;
        QTest::newRow("zero") << 0 << 1;
        QTest::newRow("first") << 1 << 1;
        QTest::newRow("middle") << 3 << 3;
        QTest::newRow("last") << 5 << 5;
        QTest::newRow("beyond") << 6 << 5;
        QTest::newRow("far beyond") << 1000 << 5;
    }

    void setSliceClamps()
    {
        QFETCH(int, requested);
        QFETCH(int, shown);
        SliceView view;
        view.openFile(write("five.slc", stackOf(5)));
        QCOMPARE(view.sliceCount(), 5);
        view.setSlice(requested);
        QCOMPARE(view.currentSlice(), shown);
        QCOMPARE(view.currentZ(), float(shown));
        // One fill and one outline for the slice's single contour, of that slice's width.
        const QList<QGraphicsPolygonItem *> items = sliceItems(view);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.first()->polygon().boundingRect().width(), 10.0 + shown - 1);
    }

    void setSliceWithoutSlices()
    {
        SliceView view;
        view.setSlice(3);
        QCOMPARE(view.currentSlice(), 0);
        QVERIFY(sliceItems(view).isEmpty());
        QCOMPARE(view.currentZ(), 0.0f);
        QCOMPARE(view.currentThickness(), 0.0f);
    }

    void accessorsOutsideTheStack()
    {
        SliceView view;
        QCOMPARE(view.sliceZ(1), 0.0f);
        QCOMPARE(view.sliceThickness(1), 0.0f);
        view.openFile(write("five.slc", stackOf(5, 0.5f, 0.25f)));
        QCOMPARE(view.sliceZ(0), 0.0f);
        QCOMPARE(view.sliceZ(6), 0.0f);
        QCOMPARE(view.sliceZ(1), 0.5f);
        QCOMPARE(view.sliceZ(5), 1.5f);
        QCOMPARE(view.sliceThickness(0), 0.0f);
        QCOMPARE(view.sliceThickness(6), 0.0f);
        QCOMPARE(view.sliceThickness(2), 0.25f);
        QCOMPARE(view.sampleThickness(1), 0.0f);
        QCOMPARE(view.sampleTable().entries.size(), 0);

        // A smaller file afterwards: the old number is beyond the new count.
        view.setSlice(5);
        view.openFile(write("two.slc", stackOf(2)));
        QCOMPARE(view.currentSlice(), 0);
        QVERIFY(sliceItems(view).isEmpty());
    }

    void contourColours_data()
    {
        QTest::addColumn<Contour>("contour");
        QTest::addColumn<QColor>("outline");
        QTest::addColumn<QColor>("fill");
        QTest::newRow("outer") << rectangle(0, 0, 4, 4) << QColor(Qt::blue) << QColor(112, 146, 190, 64);
        QTest::newRow("hole") << rectangle(0, 0, 4, 4, true) << QColor(Qt::red) << QColor(Qt::white);
        // No area at all still counts as material.
        QTest::newRow("zero area") << contour({0, 0, 2, 2, 4, 4}) << QColor(Qt::blue) << QColor(112, 146, 190, 64);
    }

    void contourColours()
    {
        QFETCH(Contour, contour);
        QFETCH(QColor, outline);
        QFETCH(QColor, fill);
        SliceView view;
        view.openFile(write("colour.slc", {slice(1, 1, {rectangle(-10, -10, 30, 30), contour})}));
        view.setSlice(1);
        const QList<QGraphicsPolygonItem *> items = sliceItems(view);
        QCOMPARE(items.size(), 4);
        // The larger contour comes first; each contour gives its fill (z -1) and then its outline.
        QGraphicsPolygonItem *fillItem = items.at(2);
        QGraphicsPolygonItem *outlineItem = items.at(3);
        QCOMPARE(fillItem->zValue(), -1.0);
        QCOMPARE(outlineItem->zValue(), 0.0);
        QCOMPARE(fillItem->fillRule(), Qt::WindingFill);
        QCOMPARE(fillItem->brush().color(), fill);
        QCOMPARE(outlineItem->pen().color(), outline);
        QCOMPARE(outlineItem->brush().style(), Qt::NoBrush);
        QVERIFY(outlineItem->pen().isCosmetic());
        QCOMPARE(outlineItem->pen().widthF(), 0.0);
        if (outline == QColor(Qt::red))
            QCOMPARE(fillItem->pen().color(), outline);
        else
            QCOMPARE(fillItem->pen().style(), Qt::NoPen);
    }

    // Vertex marks are orange squares three pixels wide at any zoom, on shown items and on
    // items made later.
    void vertexMarks()
    {
        SliceView view;
        view.resize(200, 200);
        view.setAnimationsEnabled(false);
        view.openFile(write("marks.slc", stackOf(2)));
        view.setSlice(1);
        view.zoomToAll();

        auto orangePixels = [&view]() {
            QImage image(view.viewport()->size(), QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            view.render(&painter, QRectF(), view.viewport()->rect());
            painter.end();
            int n = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    n += QColor(image.pixel(x, y)) == QColor(255, 130, 0);
            return n;
        };

        QCOMPARE(orangePixels(), 0);
        view.setShowVertices(true);
        QVERIFY(view.showVertices());
        const int shown = orangePixels();
        // Four corners, up to 3 x 3 pixels each.
        QVERIFY2(shown >= 4 && shown <= 36, qPrintable(QString::number(shown)));
        view.setZoom(view.zoom() * 0.5);
        QCOMPARE(orangePixels(), shown);
        view.setSlice(2);
        QVERIFY(orangePixels() > 0);
        view.setShowVertices(false);
        QCOMPARE(orangePixels(), 0);
    }

    // The view paints the slice pixel for pixel as its items paint themselves, one after the
    // other in their stacking order: convex, concave, self-crossing and degenerate contours,
    // holes, contours a pixel apart, vertex marks, and any small part of the view repainted alone.
    void paintsWhatItsItemsPaint_data()
    {
        QTest::addColumn<bool>("marks");
        QTest::addColumn<double>("zoomIn");
        QTest::newRow("fit") << false << 1.0;
        QTest::newRow("fit, marks") << true << 1.0;
        QTest::newRow("zoomed in, marks") << true << 3.0;
        QTest::newRow("zoomed out, marks") << true << 0.25;
    }

    void paintsWhatItsItemsPaint()
    {
        QFETCH(bool, marks);
        QFETCH(double, zoomIn);
        const QVector<Contour> contours = {
            rectangle(0, 0, 40, 30),
            rectangle(2, 2, 10, 8, true),
            contour({15, 3, 25, 3, 25, 12, 20, 12, 20, 6, 15, 6}),
            // Crossing itself, with lobes of either orientation.
            contour({28, 2, 38, 12, 38, 2, 28, 12}),
            contour({4, 4, 6, 4, 5, 5.5f}),
            contour({4, 14, 14, 14, 14, 24, 9, 16, 4, 24}),
            rectangle(16, 15, 12, 12, true),
            rectangle(17, 16, 4, 4),
            rectangle(21.2f, 16, 4, 4),
            contour({30, 20, 30, 20, 30, 20}),
            contour({30, 25, 33, 25, 36, 25}),
            contour({39.5f, 29.5f, 44, 29.5f, 44, 33}),
        };
        SliceView view;
        view.resize(240, 160);
        view.setAnimationsEnabled(false);
        // The second slice has items to be reused, the third none: it gives the empty view.
        view.openFile(write("mixed.slc", {slice(1, 1, contours), slice(2, 1, {rectangle(0, 0, 4, 4, true), rectangle(1, 1, 1, 1)}),
                                          slice(3, 1, {contour({0, 0, 1, 1})})}));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setSlice(3);
        view.zoomToAll();
        view.setZoom(view.zoom() * zoomIn);
        QCoreApplication::processEvents();
        const QRect all = view.viewport()->rect();
        const QImage empty = paintedRegion(view, all);

        // Shown after another slice, as when the user steps through the stack.
        view.setSlice(2);
        view.setShowVertices(marks);
        view.setSlice(1);
        QCoreApplication::processEvents();
        // In the order they are drawn (the scene's own list keeps them as they were made).
        const QList<QGraphicsItem *> items = sliceItems(view).first()->parentItem()->childItems();
        int drawable = 0;
        for (const Contour &shown : view.slices().first().contours())
            drawable += shown.points().size() >= 3;
        QCOMPARE(items.size(), 2 * drawable);
        QVERIFY(drawable >= contours.size() - 1);
        // Where an outline leaves the painted part, the part's edge decides which pixels it takes:
        // each part is drawn with the same clip.
        auto itemsPaint = [&](const QRect &part) {
            QImage image = empty;
            QPainter painter(&image);
            painter.setClipRect(part);
            for (QGraphicsItem *item : items) {
                painter.setWorldTransform(item->sceneTransform() * view.viewportTransform());
                const QStyleOptionGraphicsItem option;
                item->paint(&painter, &option, nullptr);
            }
            return image;
        };
        QVERIFY(itemsPaint(all) != empty);
        const QString whole = differences(paintedRegion(view, all), itemsPaint(all), all);
        QVERIFY2(whole.isEmpty(), qPrintable(whole));
        for (int y = 0; y < all.height(); y += 7) {
            for (int x = (y / 7) % 3; x < all.width(); x += 5) {
                const QRect part = QRect(x, y, 3, 2) & all;
                const QString message = differences(paintedRegion(view, part), itemsPaint(part), part);
                QVERIFY2(message.isEmpty(), qPrintable(message));
            }
        }
    }

    void mergesFilesByHeight()
    {
        SliceView view;
        const QString a = write("a.slc", {slice(1, 1, {rectangle(0, 0, 1, 1)}), slice(3, 1, {rectangle(0, 0, 3, 1)})});
        const QString b = write("b.slc", {slice(2, 1, {rectangle(0, 0, 2, 1)}), slice(3.00001f, 1, {rectangle(0, 0, 4, 5)})});
        view.openFiles({a, b});
        QCOMPARE(view.lastReadStatus(), QDataStream::Ok);
        QCOMPARE(view.sliceCount(), 3);
        QCOMPARE(view.sliceZ(1), 1.0f);
        QCOMPARE(view.sliceZ(2), 2.0f);
        // Of two heights within the tolerance the later file's slice stays.
        QCOMPARE(view.sliceZ(3), 3.00001f);
        QCOMPARE(view.bounds(), QRectF(0, 0, 4, 5));
        QCOMPARE(view.maxGridInterval(), 2.5);
    }

    void openingRemovesDecorations()
    {
        SliceView view;
        view.setGridVisible(true);
        view.openFile(write("first.slc", stackOf(3)));
        view.setSlice(2);
        view.grabOverlay();
        view.setRulerPoints({QVector2D(1, 1), QVector2D(2, 2)});
        QVERIFY(!itemsInGroup<QGraphicsLineItem>(view, 1.0).isEmpty());

        view.openFile(write("second.slc", {slice(1, 1, {rectangle(100, 100, 6, 2)})}));
        // Only the grid is back, at once, for the new extent.
        const QList<QGraphicsItem *> all = view.scene()->items();
        for (QGraphicsItem *item : all) {
            QGraphicsItem *group = item->parentItem() ? item->parentItem() : item;
            QVERIFY(group->zValue() == 1.0);
        }
        QCOMPARE(view.bounds(), QRectF(100, 100, 6, 2));
        QVERIFY(!itemsInGroup<QGraphicsLineItem>(view, 1.0).isEmpty());
        QCOMPARE(logoCount(view), 0);
    }

    void emptyListClears()
    {
        SliceView view;
        view.openFile(write("three.slc", stackOf(3)));
        view.setSlice(1);
        view.openFiles(QStringList());
        QCOMPARE(view.sliceCount(), 0);
        QCOMPARE(view.currentSlice(), 0);
        QVERIFY(view.bounds().isNull());
        QCOMPARE(logoCount(view), 1);
    }

    void clearKeepsSettings()
    {
        SliceView view;
        view.setAnimationsEnabled(false);
        view.setGridInterval(0.5);
        view.setGridVisible(true);
        view.setShowVertices(true);
        view.openFile(write("three.slc", stackOf(3)));
        view.setSlice(2);
        view.setZoom(7.0);
        view.clear();
        view.clear();
        QCOMPARE(view.sliceCount(), 0);
        QCOMPARE(view.currentSlice(), 0);
        QVERIFY(view.slices().isEmpty());
        QVERIFY(view.bounds().isNull());
        QCOMPARE(view.gridInterval(), 0.5);
        QVERIFY(view.isGridVisible());
        QVERIFY(view.showVertices());
        QVERIFY(!view.animationsEnabled());
        QCOMPARE(view.zoom(), 7.0);
        // One logo, however often the view is cleared, and nothing else.
        QCOMPARE(logoCount(view), 1);
        QCOMPARE(view.scene()->items().size(), 1);
    }

    // The window learns from the read status whether to refuse the file or warn about it.
    void readStatus_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("slices");
        QTest::newRow("complete") << "complete" << int(QDataStream::Ok) << 3;
        QTest::newRow("no end marker") << "cut" << int(QDataStream::ReadPastEnd) << 3;
        QTest::newRow("cut in the last layer") << "cutlayer" << int(QDataStream::ReadPastEnd) << 2;
        QTest::newRow("not an SLC file") << "text" << int(QDataStream::ReadCorruptData) << 0;
        QTest::newRow("missing") << "missing" << int(QDataStream::ReadCorruptData) << 0;
        QTest::newRow("web type") << "web" << int(QDataStream::ReadCorruptData) << 0;
    }

    void readStatus()
    {
        QFETCH(QString, kind);
        QFETCH(int, status);
        QFETCH(int, slices);

        const QString path = dir.filePath(kind + ".slc");
        if (kind == "text") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("just some text without the header's end mark\n");
        } else if (kind == "web") {
            QVERIFY(writeSlc(path, stackOf(3)));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            const int end = bytes.indexOf('\x1a');
            QVERIFY(end > 2);
            bytes.replace(0, end - 2, QByteArray("-TYPE WEB").leftJustified(end - 2, ' '));
            file.seek(0);
            file.write(bytes);
        } else if (kind != "missing") {
            QVERIFY(writeSlc(path, stackOf(3)));
            QFile file(path);
            // The end marker (height and count), and then also the last vertex of the last layer.
            if (kind == "cut")
                QVERIFY(file.resize(file.size() - 8));
            else if (kind == "cutlayer")
                QVERIFY(file.resize(file.size() - 8 - 8));
        }

        SliceView view;
        view.openFile(path);
        QCOMPARE(int(view.lastReadStatus()), status);
        QCOMPARE(view.sliceCount(), slices);
        view.clear();
        QCOMPARE(view.lastReadStatus(), QDataStream::Ok);
    }

    // The load time in the debug log is there to follow large files: it must take in the read
    // itself. The file comes through a named pipe whose writer holds back the second half of
    // the bytes for a while, so the read lasts at least that long, however fast the machine.
    void logsTheTimeOfTheRead_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("open") << false;
        QTest::newRow("replace") << true;
    }

    void logsTheTimeOfTheRead()
    {
        QFETCH(bool, replace);
        const int heldBackMs = 300;
        const QString source = write("timed.slc", stackOf(3));
        QFile sourceFile(source);
        QVERIFY(sourceFile.open(QIODevice::ReadOnly));
        const QByteArray bytes = sourceFile.readAll();
        const QString pipe = dir.filePath(replace ? "replace.fifo" : "open.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        std::thread writer([&] {
            // Blocks until the view opens the pipe for reading.
            const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY);
            if (fd < 0)
                return;
            const int half = bytes.size() / 2;
            const int rest = bytes.size() - half;
            // A short write leaves the file cut off, which the slice count below reports.
            if (::write(fd, bytes.constData(), size_t(half)) == half) {
                std::this_thread::sleep_for(std::chrono::milliseconds(heldBackMs));
                if (::write(fd, bytes.constData() + half, size_t(rest)) != rest)
                    qWarning("the second half of the file was not written");
            }
            ::close(fd);
        });

        SliceView view;
        QStringList messages;
        debugMessages = &messages;
        const QtMessageHandler previous = qInstallMessageHandler(recordDebugMessage);
        bool shown = true;
        if (replace)
            shown = view.replaceWithFile(pipe);
        else
            view.openFile(pipe);
        qInstallMessageHandler(previous);
        debugMessages = nullptr;
        // Should the view never have opened the pipe, this lets the writer go instead of hanging.
        const int unblock = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (unblock >= 0)
            ::close(unblock);

        QVERIFY(shown);
        QCOMPARE(view.sliceCount(), 3);
        const QRegularExpression line(QStringLiteral("^Read slices completed in (\\d+) ms$"));
        QStringList logged;
        int ms = -1;
        for (const QString &message : qAsConst(messages)) {
            const QRegularExpressionMatch match = line.match(message);
            if (match.hasMatch()) {
                logged.append(message);
                ms = match.captured(1).toInt();
            }
        }
        QCOMPARE(logged.size(), 1);
        QVERIFY2(ms >= heldBackMs, qPrintable(logged.first()));
    }

    // Contours of fewer than 3 vertices enclose nothing: the stack has no extent, so neither
    // grid nor snapping corners nor a fit to it.
    void stackWithoutPolygons()
    {
        SliceView view;
        view.resize(200, 200);
        view.setAnimationsEnabled(false);
        view.setGridVisible(true);
        view.openFile(write("lines.slc", {slice(1, 1, {contour({0, 0, 5, 5})}), slice(2, 1, {Contour()})}));
        QCOMPARE(view.lastReadStatus(), QDataStream::Ok);
        QCOMPARE(view.sliceCount(), 2);
        QVERIFY(view.bounds().isNull());
        QVERIFY(itemsInGroup<QGraphicsLineItem>(view, 1.0).isEmpty());
        QVERIFY(view.maxGridInterval() >= 0.1);
        view.setSlice(1);
        view.zoomToAll();
        QVERIFY(std::isfinite(view.zoom()));
        QVERIFY(view.zoom() >= SliceView::minimumZoom);
        QVERIFY(view.zoom() <= SliceView::maximumZoom);
        QVERIFY(std::isfinite(view.center().x()) && std::isfinite(view.center().y()));
    }

    void emptyFileHasNoExtent()
    {
        SliceView view;
        view.setGridVisible(true);
        view.openFile(write("none.slc", QList<Slice>()));
        QCOMPARE(view.sliceCount(), 0);
        QVERIFY(view.bounds().isNull());
        QVERIFY(itemsInGroup<QGraphicsLineItem>(view, 1.0).isEmpty());
    }
};

QTEST_MAIN(TestSliceView)
#include "tst_sliceview.moc"
