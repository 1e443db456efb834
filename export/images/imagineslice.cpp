#include "imagineslice.h"

#include "monopngwriter.h"
#include "monorasteriser.h"
#include "seriesreplacement_p.h"

#include <QAtomicInt>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <QThread>
#include <QThreadPool>
#include <QVector>
#include <QtDebug>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <unistd.h>

namespace geom {

namespace {

const qint64 defaultMemoryBudget = qint64(256) * 1024 * 1024;

// Pixels per metre for a pixel of the given size in mm, as the PNG header
// stores it: at least 1 and never beyond what a 31-bit field holds, however
// small the platform. 0 when no resolution can be given.
int dotsPerMetre(double mmPerPixel)
{
    const double v = 1000.0 / mmPerPixel;
    if (std::isnan(v) || v <= 0.0)
        return 0;
    if (v >= double(INT_MAX))
        return INT_MAX;
    return std::max(1, int(v));
}

int roundedPixel(double v)
{
    if (!std::isfinite(v))
        return 0;
    return int(std::lround(std::clamp(v, -double(INT_MAX), double(INT_MAX))));
}

// An extent in pixels that stays well inside int before the size arithmetic.
int pixelExtent(float v)
{
    return v >= float(1 << 30) ? (1 << 30) : int(v);
}

QString nativeName(const QString &fileName)
{
    return QDir::toNativeSeparators(fileName);
}

void raiseTo(std::atomic<int> &peak, int value)
{
    int seen = peak.load();
    while (seen < value && !peak.compare_exchange_weak(seen, value)) {
    }
}

// Colour-table index of a solid, opaque brush whose colour is one of the two
// entries of a 1-bit image; -1 for any other brush.
int monoIndex(const QImage &image, const QBrush &brush)
{
    if (brush.style() != Qt::SolidPattern || image.colorCount() != 2)
        return -1;
    const QRgb c = brush.color().rgba();
    if (qAlpha(c) != 255)
        return -1;
    for (int i = 0; i < 2; ++i) {
        if (image.color(i) == c)
            return i;
    }
    return -1;
}

} // namespace

// What rendering keeps from one image to the next: the band a 1-bit image is
// painted through, and the 1-bit image itself, every pixel of which the next
// image rewrites.
struct RenderScratch
{
    QImage band;
    QImage image;
};

class ImagineSlicePrivate
{
public:
    explicit ImagineSlicePrivate(const SliceStack &s);

    QImage templateCopy();
    void dropTemplate();
    QImage render(const QImage &blank, int index, RenderScratch *scratch) const;
    bool paintsMono(const QImage &blank) const
    {
        return monoIndex(blank, backgroundBrush) >= 0 && monoIndex(blank, fillBrush) >= 0;
    }
    void setError(const QString &message);
    void dropLastRun();

    SliceStack stack;
    Bounds2Df modelRect;
    QImage templateImage;
    QBrush fillBrush;
    QBrush backgroundBrush;
    Qt::FillRule fillRule;
    QImage::Format format;
    QSize size;
    int maximumImageSize;
    QAtomicInt running;
    const QList<Slice> &slices;
    QTransform transform;

    // A cancel stays pending until a run takes it, so one that comes before the
    // run has started is not lost.
    QAtomicInt cancelRequested;
    qint64 memoryBudget;
    std::atomic<int> peakInFlight;
    mutable QMutex mutex; // templateImage and errorString
    QString errorString;
    // The last run, once complete, with the files it replaced set aside until the next run or
    // the engine's end, so that revertRun() can still put them back.
    std::unique_ptr<SeriesReplacement> lastRun;
};

ImagineSlicePrivate::ImagineSlicePrivate(const SliceStack &s)
    : stack(s)
    , fillBrush(Qt::white, Qt::SolidPattern)
    , backgroundBrush(Qt::black, Qt::SolidPattern)
    , fillRule(Qt::OddEvenFill)
    , format(QImage::Format_Mono)
    , size(-1, -1)
    , maximumImageSize(12288)
    , running(0)
    , slices(stack.slices())
    , cancelRequested(0)
    , memoryBudget(defaultMemoryBudget)
    , peakInFlight(0)
{
    const Bounds3Df &b = stack.bounds();
    modelRect = Bounds2Df(Point2Df(b.minX, b.minY), Point2Df(b.maxX, b.maxY));
}

QImage ImagineSlicePrivate::templateCopy()
{
    QMutexLocker lock(&mutex);
    if (!templateImage.isNull() || !size.isValid())
        return templateImage;

    const QSizeF pixel = transform.inverted().mapRect(QRectF(0.0, 0.0, 1.0, 1.0)).size();
    QImage image(size, format);
    if (image.isNull())
        return QImage();
    if (const int x = dotsPerMetre(pixel.width()))
        image.setDotsPerMeterX(x);
    if (const int y = dotsPerMetre(pixel.height()))
        image.setDotsPerMeterY(y);
    const QPointF origin = transform.map(QPointF(0.0, 0.0));
    image.setOffset(QPoint(-roundedPixel(origin.x()), -roundedPixel(origin.y())));

    // Cleared first so that a translucent or patterned background lands on a
    // defined image, not on whatever the allocation held.
    image.fill(0);
    QPainter painter;
    if (!painter.begin(&image))
        return QImage();
    painter.fillRect(image.rect(), backgroundBrush);
    painter.end();

    templateImage = image;
    return templateImage;
}

void ImagineSlicePrivate::dropTemplate()
{
    QMutexLocker lock(&mutex);
    templateImage = QImage();
}

// Removing the files a series replaced takes a while on a busy disk (about a second for a few
// hundred): it is done on the global pool, away from the owner's thread and beside a next run.
void ImagineSlicePrivate::dropLastRun()
{
    if (SeriesReplacement *replaced = lastRun.release())
        QThreadPool::globalInstance()->start([replaced] { delete replaced; });
}

void ImagineSlicePrivate::setError(const QString &message)
{
    QMutexLocker lock(&mutex);
    errorString = message;
}

// Reads the slices only (no contour cache), so any number of threads may
// render at once. The points are mapped here rather than by the painter so
// that a coordinate that is not finite on the pixel grid is caught too.
//
// Qt paints 1-bit images span by span through a slow generic path; for the
// usual black-and-white brushes the contours go to a MonoRasteriser instead,
// which gives the same pixels through a small 8-bit band. The caller may keep
// the band and the image in scratch for the next image of the same blank.
QImage ImagineSlicePrivate::render(const QImage &blank, int index, RenderScratch *scratch) const
{
    if (blank.isNull() || index < 0 || index >= slices.size())
        return QImage();
    const Slice &slice = slices.at(index);

    RenderScratch ownScratch;
    if (!scratch)
        scratch = &ownScratch;
    const bool paintMono = paintsMono(blank);
    QImage image;
    if (paintMono && scratch->image.size() == blank.size() && scratch->image.format() == blank.format())
        image = std::move(scratch->image);
    else
        image = blank;
    image.setText(QStringLiteral("Z"), QString::number(double(slice.z()), 'g', 6));
    if (!image.bits()) // the copy could not be detached: out of memory
        return QImage();

    std::optional<MonoRasteriser> mono;
    QPainter painter;
    if (paintMono) {
        mono.emplace(monoIndex(blank, backgroundBrush), monoIndex(blank, fillBrush), fillRule, &scratch->band);
    } else {
        if (!painter.begin(&image))
            return QImage();
        painter.setBackground(backgroundBrush);
        painter.setPen(Qt::NoPen);
    }

    const QTransform t = transform;
    std::vector<QPointF> buffer;
    int invalid = 0;
    const int count = slice.contourCount();
    for (int i = 0; i < count; ++i) {
        const QVector<Point2Df> &points = slice.contourAt(i).points();
        const int n = points.size();
        if (n < 3)
            continue; // no area to paint
        if (buffer.size() < size_t(n))
            buffer.resize(size_t(n));
        const Point2Df *p = points.constData();
        // The same signed area as Contour::area(), counter-clockwise positive.
        double area = 0.0;
        bool finite = true;
        Point2Df prev = p[n - 1];
        for (int k = 0; k < n; ++k) {
            const Point2Df cur = p[k];
            area += double(prev.x) * double(cur.y) - double(cur.x) * double(prev.y);
            prev = cur;
            qreal x;
            qreal y;
            t.map(qreal(cur.x), qreal(cur.y), &x, &y);
            finite = finite && std::isfinite(x) && std::isfinite(y);
            buffer[size_t(k)] = QPointF(x, y);
        }
        if (!finite || !std::isfinite(area)) {
            ++invalid;
            continue;
        }
        if (mono) {
            mono->addPolygon(buffer.data(), n, area >= 0.0);
        } else {
            painter.setBrush(area < 0.0 ? backgroundBrush : fillBrush);
            painter.drawPolygon(buffer.data(), n, fillRule);
        }
    }
    if (mono) {
        if (!mono->paint(image))
            return QImage();
    } else {
        painter.end();
    }

    if (invalid > 0)
        qWarning("ImagineSlice: slice %d (z = %g) has %d contour(s) with coordinates that are not "
                 "finite; they are left out of its image.",
                 index, double(slice.z()), invalid);
    return image;
}

ImagineSlice::ImagineSlice(const QList<Slice> &slices, QObject *parent)
    : QObject(parent)
{
    SliceStack stack;
    stack.addSlices(slices, false);
    d = new ImagineSlicePrivate(stack);
    d->format = QImage::Format_Mono;
}

ImagineSlice::ImagineSlice(const SliceStack &stack, QObject *parent)
    : QObject(parent)
    , d(new ImagineSlicePrivate(stack))
{
    d->format = QImage::Format_Mono;
}

ImagineSlice::~ImagineSlice()
{
    d->dropLastRun();
    delete d;
}

const QList<Slice> &ImagineSlice::slices() const
{
    return d->slices;
}

QBrush ImagineSlice::backgroundBrush() const
{
    return d->backgroundBrush;
}

void ImagineSlice::setBackgroundBrush(const QBrush &brush)
{
    if (brush == d->backgroundBrush)
        return;
    d->backgroundBrush = brush;
    d->dropTemplate();
}

QBrush ImagineSlice::fillBrush() const
{
    return d->fillBrush;
}

void ImagineSlice::setFillBrush(const QBrush &brush)
{
    if (brush == d->fillBrush)
        return;
    d->fillBrush = brush;
    d->dropTemplate();
}

Qt::FillRule ImagineSlice::fillRule() const
{
    return d->fillRule;
}

void ImagineSlice::setFillRule(Qt::FillRule rule)
{
    d->fillRule = rule;
}

QImage::Format ImagineSlice::format() const
{
    return d->format;
}

void ImagineSlice::setFormat(QImage::Format format)
{
    if (format == d->format)
        return;
    d->format = format;
    d->dropTemplate();
}

QSize ImagineSlice::size() const
{
    return d->size;
}

void ImagineSlice::setSize(const QSize &size)
{
    if (size == d->size)
        return;
    d->size = size;
    d->dropTemplate();
}

int ImagineSlice::maximumImageSize() const
{
    return d->maximumImageSize;
}

void ImagineSlice::setMaximumImageSize(int size)
{
    size = qBound(16, size, 32752);
    if (size == d->maximumImageSize)
        return;
    d->maximumImageSize = size;
    d->dropTemplate();
}

QTransform ImagineSlice::transform() const
{
    return d->transform;
}

void ImagineSlice::setTransform(const QTransform &transform)
{
    if (transform == d->transform)
        return;
    d->transform = transform;
    d->dropTemplate();
}

qint64 ImagineSlice::memoryBudget() const
{
    return d->memoryBudget;
}

void ImagineSlice::setMemoryBudget(qint64 bytes)
{
    d->memoryBudget = std::max<qint64>(0, bytes);
}

QSizeF ImagineSlice::pixelSize() const
{
    return d->transform.inverted().mapRect(QRectF(0.0, 0.0, 1.0, 1.0)).size();
}

void ImagineSlice::setScale(float mmPerPixel)
{
    const Bounds2Df &r = d->modelRect;
    if (!(mmPerPixel > 0.0f) || !std::isfinite(mmPerPixel))
        return;
    const float width = r.maxX - r.minX;
    const float height = r.maxY - r.minY;
    if (!(width >= 0.0f && height >= 0.0f) || !std::isfinite(width) || !std::isfinite(height))
        return;

    // The height is rounded up: the part's lower-left corner sits on the row
    // boundary h and its top edge then lies within the first row rather than
    // above the image.
    const int w = pixelExtent(width / mmPerPixel);
    const int h = pixelExtent(std::ceil(height / mmPerPixel));
    const int limit = d->maximumImageSize;
    setSize(QSize(std::min((w + 16) & ~15, limit), std::min((h + 16) & ~15, limit)));

    QTransform t;
    t.translate(0.0, double(h));
    t.scale(1.0 / double(mmPerPixel), -1.0 / double(mmPerPixel));
    t.translate(-double(r.minX), -double(r.minY));
    setTransform(t);
}

QImage ImagineSlice::imagine(int index)
{
    if (index < 0 || index >= d->slices.size())
        return QImage();
    return d->render(d->templateCopy(), index, nullptr);
}

namespace {

enum class JobState { Pending, Saved, Failed, Skipped };

QString cannotWrite(const QString &fileName, const QString &reason)
{
    return ImagineSlice::tr("Cannot write \"%1\": %2").arg(nativeName(fileName), reason);
}

// One run of the engine: the coordinator (the thread that called run()) hands
// images to the jobs of a pool of its own and follows their results in order.
class ImageRun
{
public:
    ImageRun(ImagineSlice *q, ImagineSlicePrivate *d, const QStringList &files, int first);

    void prepare();
    int imagesInFlightLimit() const;
    void schedule(int maxInFlight);
    int finish();

private:
    void job(int k);
    QString writeImage(int k, RenderScratch *scratch);
    static QString saveImage(const QImage &image, const QString &fileName, const QString &temporary,
                             const QFileInfo &target);
    void setError(const QString &error, const QStringList &remaining, const QString &remainingText);

    ImagineSlice *const q;
    ImagineSlicePrivate *const d;
    const QStringList &files;
    const int first;
    const int n;
    std::unique_ptr<SeriesReplacement> replacement;
    QImage blank;

    std::mutex mutex;
    std::condition_variable changed;
    QVector<JobState> states;
    QVector<QString> errors;
    int inFlight = 0;
    // Lowest index that failed: the images before it are still made, none after.
    std::atomic<int> failedAt{INT_MAX};
    std::atomic<int> imagesAlive{0};
    // Bands and images handed from one job to the next.
    std::vector<RenderScratch> scratches;

    int done = 0; // leading images written
    int emitted = -1; // last progress value sent
    bool stopped = false;
};

ImageRun::ImageRun(ImagineSlice *q, ImagineSlicePrivate *d, const QStringList &files, int first)
    : q(q)
    , d(d)
    , files(files)
    , first(std::max(first, 0))
    , n(std::max(0, std::min(d->slices.size() - this->first, files.size())))
    , replacement(std::make_unique<SeriesReplacement>(files.mid(0, n)))
{
    states.fill(JobState::Pending, n);
    errors.resize(n);
}

// Before the first image: what killed runs left in the folders of the series
// goes, and a run that would only fail on every image fails on the first one
// instead.
void ImageRun::prepare()
{
    if (n == 0 || d->cancelRequested.loadAcquire())
        return;
    QStringList directories;
    for (int k = 0; k < n; ++k) {
        const QString directory = QFileInfo(replacement->target(k)).path();
        if (!directories.contains(directory)) {
            directories.append(directory);
            SeriesReplacement::removeLeftovers(directory);
        }
    }
    blank = d->templateCopy();
    if (!blank.isNull())
        return;
    states[0] = JobState::Failed;
    errors[0] = d->size.isValid()
        ? ImagineSlice::tr("Cannot write \"%1\": an image of %2 x %3 pixels cannot be made in the chosen format.")
              .arg(nativeName(files.at(0)))
              .arg(d->size.width())
              .arg(d->size.height())
        : ImagineSlice::tr("Cannot write \"%1\": no image size is set.").arg(nativeName(files.at(0)));
    failedAt = 0;
}

// Each job holds at most one image (and its band), so the number of
// jobs in flight is the bound on slice images in memory.
int ImageRun::imagesInFlightLimit() const
{
    const int threads = std::max(1, QThread::idealThreadCount());
    qint64 imageBytes = blank.sizeInBytes();
    if (!blank.isNull() && d->paintsMono(blank))
        imageBytes += MonoRasteriser::bandBytes(blank.width());
    imageBytes = std::max<qint64>(1, imageBytes);
    return int(std::clamp<qint64>(d->memoryBudget / imageBytes, 1, threads));
}

// Renders image k and saves it in its temporary file; the reason it could not,
// or an empty string.
QString ImageRun::writeImage(int k, RenderScratch *scratch)
{
    const QString &fileName = files.at(k);
    const QFileInfo target(replacement->target(k));
    // Told now rather than once all images are made: a directory is never replaced.
    if (target.isDir())
        return cannotWrite(fileName, qt_error_string(EISDIR));
    QImage image = d->render(blank, first + k, scratch);
    if (image.isNull())
        return ImagineSlice::tr("Cannot write \"%1\": not enough memory for its image.").arg(nativeName(fileName));
    const QString error = saveImage(image, fileName, replacement->temporary(k), target);
    scratch->image = std::move(image);
    return error;
}

// Saves the image for fileName in the file temporary, which must not exist yet,
// and flushes it to the disk; the reason it could not, or an empty string, and
// no file left behind on failure.
QString ImageRun::saveImage(const QImage &image, const QString &fileName, const QString &temporary,
                            const QFileInfo &target)
{
    // Encoded in memory first, so that what the disk refuses is told apart
    // from what the format cannot hold.
    const QByteArray suffix = QFileInfo(fileName).suffix().toLatin1();
    QByteArray bytes;
    if (suffix.compare("png", Qt::CaseInsensitive) == 0 && MonoPngWriter::canEncode(image))
        bytes = MonoPngWriter::encode(image);
    if (bytes.isEmpty()) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, suffix);
        if (!writer.write(image))
            return cannotWrite(fileName, writer.errorString());
    }

    // Unbuffered, and every write checked, so that a full disk or a file-size
    // limit is seen here. A short write is tried again, so that the one that
    // fails gives the system's reason.
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
        return cannotWrite(fileName, file.errorString());
    const auto failed = [&](const QString &reason) {
        file.remove();
        return cannotWrite(fileName, reason);
    };
    for (qint64 at = 0; at < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + at, bytes.size() - at);
        if (written <= 0)
            return failed(file.errorString());
        at += written;
    }
    // An image that replaces another keeps its permissions, and is on the disk
    // before it is renamed over it: a crash then leaves the older one or the
    // whole new one.
    if (target.exists())
        file.setPermissions(target.permissions());
    if (::fdatasync(file.handle()) != 0 && errno != EINVAL)
        return failed(qt_error_string(errno));
    file.close();
    return QString();
}

void ImageRun::job(int k)
{
    JobState state = JobState::Skipped;
    QString error;
    RenderScratch scratch;
    if (k < failedAt.load() && !d->cancelRequested.loadAcquire()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!scratches.empty()) {
                scratch = std::move(scratches.back());
                scratches.pop_back();
            }
        }
        raiseTo(d->peakInFlight, ++imagesAlive);
        error = writeImage(k, &scratch);
        --imagesAlive;
        state = error.isEmpty() ? JobState::Saved : JobState::Failed;
        if (state == JobState::Saved)
            replacement->setWritten(k);
    }
    if (state == JobState::Failed) {
        int seen = failedAt.load();
        while (k < seen && !failedAt.compare_exchange_weak(seen, k)) {
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!scratch.band.isNull() || !scratch.image.isNull())
        scratches.push_back(std::move(scratch));
    states[k] = state;
    errors[k] = error;
    --inFlight;
    changed.notify_all();
}

// Starts images in order while fewer than maxInFlight are under way, reports
// the leading images written, and returns once all are written or, after a
// cancel or a failure, once the jobs under way have ended.
void ImageRun::schedule(int maxInFlight)
{
    QThreadPool pool;
    pool.setMaxThreadCount(maxInFlight);

    int dispatched = 0;
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (d->cancelRequested.loadAcquire() || failedAt.load() != INT_MAX)
                stopped = true;
            while (!stopped && dispatched < n && inFlight < maxInFlight) {
                ++inFlight;
                const int k = dispatched++;
                pool.start([this, k] { job(k); });
            }
            while (done < n && states.at(done) == JobState::Saved)
                ++done;
            if (done < n && states.at(done) != JobState::Pending)
                stopped = true;
            if (stopped ? inFlight == 0 : done == n)
                break;
            if (!stopped && emitted < done) {
                // Sent unlocked: the receiver may take its time while the jobs go on.
                const int upTo = done;
                lock.unlock();
                while (emitted < upTo && !d->cancelRequested.loadAcquire())
                    emit q->progress(++emitted);
                lock.lock();
                continue;
            }
            changed.wait(lock);
        }
    }
    pool.waitForDone();
}

// Records error, with the files named in remaining after remainingText.
void ImageRun::setError(const QString &error, const QStringList &remaining, const QString &remainingText)
{
    QString message = error;
    if (!remaining.isEmpty()) {
        if (!message.isEmpty())
            message += QLatin1Char(' ');
        message += remainingText.arg(remaining.join(QStringLiteral(", ")));
    }
    d->setError(message);
}

// Ends the run after schedule(): a complete run renames its images over their
// targets and sends the final progress; a cancelled or failed one removes its
// temporary files and records the error. Returns the number of images that
// replaced their targets: all or none.
int ImageRun::finish()
{
    bool complete = !stopped;
    if (complete) {
        while (emitted < n - 1 && !d->cancelRequested.loadAcquire())
            emit q->progress(++emitted);
    }
    // Also a cancel that came while the last image was being written counts: the
    // user was told the series would stop, so it must not replace anything.
    const bool cancelled = d->cancelRequested.fetchAndStoreOrdered(0) != 0;
    if (cancelled) {
        setError(QString(), replacement->discard(),
                 ImagineSlice::tr("The export was cancelled; these temporary files could not be removed: %1"));
        return 0;
    }
    if (!complete) {
        QString error;
        for (int k = 0; k < n && error.isEmpty(); ++k)
            error = errors.at(k);
        setError(error, replacement->discard(), ImagineSlice::tr("These temporary files could not be removed: %1"));
        return 0;
    }
    int failed = -1;
    QString reason;
    QStringList unrestored;
    if (!replacement->commit(&failed, &reason, &unrestored)) {
        setError(cannotWrite(files.at(failed), reason), unrestored,
                 ImagineSlice::tr("These files could not be put back as they were: %1"));
        return 0;
    }
    d->lastRun = std::move(replacement);
    emit q->progress(files.size());
    return n;
}

} // namespace

int ImagineSlice::run(const QStringList &files, int first)
{
    if (!d->running.testAndSetOrdered(0, 1)) {
        qCritical("This slice imagination instance is currently running!");
        return 0;
    }
    d->setError(QString());
    d->peakInFlight = 0;

    // The files the previous run replaced are dropped now: it stays as it is.
    d->dropLastRun();
    int kept = 0;
    {
        ImageRun run(this, d, files, first);
        run.prepare();
        run.schedule(run.imagesInFlightLimit());
        kept = run.finish();
    }
    d->running.storeRelease(0);
    // The owner may destroy the engine as soon as this arrives.
    emit finished();
    return kept;
}

QString ImagineSlice::errorString() const
{
    QMutexLocker lock(&d->mutex);
    return d->errorString;
}

bool ImagineSlice::revertRun()
{
    // This is the answer to a cancel that came too late for the run.
    d->cancelRequested.storeRelease(0);
    if (!d->lastRun)
        return true;
    const QStringList unrestored = d->lastRun->revert();
    d->lastRun.reset();
    d->setError(unrestored.isEmpty()
                    ? QString()
                    : tr("The export was cancelled after its images had been written; these files could not be put "
                         "back as they were: %1")
                          .arg(unrestored.join(QStringLiteral(", "))));
    return unrestored.isEmpty();
}

int ImagineSlice::peakImagesInFlight() const
{
    return d->peakInFlight.load();
}

void ImagineSlice::cancel()
{
    d->cancelRequested.storeRelease(1);
}

} // namespace geom
