#include "sliceexporter.h"

#include "slcwriter.h"

#include <QBuffer>
#include <QSaveFile>
#include <QTextStream>

#include <cerrno>
#include <unistd.h>

namespace {

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

// Commits a file whose bytes were all written, throws away one that was not; the system's
// reason for a failure goes to `errorString`.
bool finishFile(QSaveFile &file, bool written, QString *errorString)
{
    QString reason;
    bool committed = false;
    if (written) {
        committed = file.commit();
        if (!committed)
            reason = file.errorString();
    } else {
        // Asked before cancelling, which sets an error of its own; the probe this may write goes
        // only into the temporary file about to be thrown away.
        if (file.error() != QFileDevice::NoError)
            reason = SliceExporter::writeFailureReason(file);
        file.cancelWriting();
    }
    if (errorString)
        *errorString = committed ? QString() : reason;
    return committed;
}

} // namespace

SliceExporter::Format SliceExporter::formatOfName(const QString &fileName)
{
    for (Format format : {Png, Svg, Slc}) {
        if (fileName.endsWith(suffix(format), Qt::CaseInsensitive))
            return format;
    }
    return NoFormat;
}

SliceExporter::Format SliceExporter::formatOfFilter(const QString &filter)
{
    for (Format format : {Png, Svg, Slc}) {
        if (filter.contains(QLatin1String("(*") + suffix(format) + QLatin1Char(')'), Qt::CaseInsensitive))
            return format;
    }
    return NoFormat;
}

QString SliceExporter::suffix(Format format)
{
    switch (format) {
    case Png:
        return QStringLiteral(".png");
    case Svg:
        return QStringLiteral(".svg");
    case Slc:
        return QStringLiteral(".slc");
    case NoFormat:
        break;
    }
    return QString();
}

QByteArray SliceExporter::svgDocument(const Slice &slice, const QRectF &bounds)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QTextStream out(&buffer);
    out.setCodec("UTF-8");

    const double left = bounds.left();
    const double top = bounds.top();
    const double width = bounds.width();
    const double height = bounds.height();
    out << "<?xml version=\"1.0\" standalone=\"no\"?>" << Qt::endl;
    out << "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\"" << Qt::endl;
    out << "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">" << Qt::endl;
    // SVG's y axis points down, the model's up: the view box is the part's rectangle mirrored
    // in y, with a margin of one millimetre.
    out << "<svg width=\"500px\" height=\"500px\""
        << QStringLiteral(" viewBox=\"%1 %2 %3 %4\" ")
               .arg(general(left - 1.0), general(-top - height - 1.0), general(width + 2.0), general(height + 2.0))
        << "version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\">" << Qt::endl;
    for (const Contour &contour : slice.contours()) {
        const QVector<geom::Point2Df> &points = contour.points();
        if (points.isEmpty())
            continue;
        out << "<polygon points=\"";
        for (int i = 0; i < points.size(); ++i) {
            if (i > 0)
                out << ' ';
            out << general(points.at(i).x) << ',' << general(-points.at(i).y);
        }
        if (contour.area() < 0.0)
            out << "\" style=\"fill:none;stroke:red;stroke-width:0.1\"/>";
        else
            out << "\" style=\"fill:none;stroke:black;stroke-width:0.1\"/>";
        out << Qt::endl;
    }
    out << "</svg>" << Qt::endl;
    return bytes;
}

bool SliceExporter::openForWriting(QSaveFile &file, QString *errorString)
{
    errno = 0;
    if (file.open(QIODevice::WriteOnly))
        return true;
    const int error = errno;
    if (errorString) {
        if (file.error() == QFileDevice::OpenError && error != 0)
            *errorString = qt_error_string(error);
        else
            *errorString = file.errorString().section(QChar(0), 0, 0);
    }
    return false;
}

QString SliceExporter::writeFailureReason(QFileDevice &file)
{
    const QString told = file.errorString();
    if (file.error() != QFileDevice::NoError && !told.isEmpty() && told != QLatin1String("Unknown error"))
        return told;
    const int handle = file.handle();
    if (handle < 0)
        return QString();
    errno = 0;
    const char byte = 0;
    if (::write(handle, &byte, 1) == 1 || errno == 0)
        return QString();
    return qt_error_string(errno);
}

bool SliceExporter::commit(const QString &fileName, const QByteArray &bytes, QString *errorString)
{
    QSaveFile file(fileName);
    // commit() does not look at what its own flush reports: a full disk would pass unnoticed.
    if (!openForWriting(file, errorString))
        return false;
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    return finishFile(file, written, errorString);
}

bool SliceExporter::writePng(const QString &fileName, const QImage &image, QString *errorString)
{
    if (errorString)
        errorString->clear();
    if (image.isNull())
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG", -1))
        return false;
    return commit(fileName, bytes, errorString);
}

bool SliceExporter::writeSvg(const QString &fileName, const Slice &slice, const QRectF &bounds, QString *errorString)
{
    return commit(fileName, svgDocument(slice, bounds), errorString);
}

bool SliceExporter::writeSlc(const QString &fileName, const QList<Slice> &slices, QString *errorString)
{
    // The old file stays untouched until every byte of the new one is on disk.
    QSaveFile file(fileName);
    if (!openForWriting(file, errorString))
        return false;
    bool written = false;
    {
        SlcWriter writer(&file);
        written = writer.writeSlices(slices, false) == slices.size();
        written = writer.finish() && written && file.flush();
    }
    return finishFile(file, written, errorString);
}
