#include "sliceexporter.h"

#include "slcwriter.h"

#include <QBuffer>
#include <QGraphicsView>
#include <QPainter>
#include <QSaveFile>
#include <QTextStream>

namespace {

QString general(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

SliceExporter::Format SliceExporter::formatOfName(const QString& fileName)
{
    for (Format format : {Png, Svg, Slc}) {
        if (fileName.endsWith(suffix(format), Qt::CaseInsensitive))
            return format;
    }
    return NoFormat;
}

SliceExporter::Format SliceExporter::formatOfFilter(const QString& filter)
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

QImage SliceExporter::renderView(QGraphicsView* view, const QColor& background)
{
    const QRect area = view->contentsRect();
    QImage image(area.size(), QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(background);
    QPainter painter(&image);
    view->render(&painter, QRectF(), QRect(), Qt::KeepAspectRatio);
    painter.end();
    return image;
}

QByteArray SliceExporter::svgDocument(const Slice& slice, const QRectF& bounds)
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
    for (const Contour& contour : slice.contours()) {
        const QVector<geom::Point2Df>& points = contour.points();
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

bool SliceExporter::commit(const QString& fileName, const QByteArray& bytes)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() does not look at what its own flush reports: a full disk would pass unnoticed.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool SliceExporter::writePng(const QString& fileName, const QImage& image)
{
    if (image.isNull())
        return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG", -1))
        return false;
    return commit(fileName, bytes);
}

bool SliceExporter::writeSvg(const QString& fileName, const Slice& slice, const QRectF& bounds)
{
    return commit(fileName, svgDocument(slice, bounds));
}

bool SliceExporter::writeSlc(const QString& fileName, const Slice& slice)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    bool complete = false;
    {
        SlcWriter writer(&file);
        complete = writer.writeSlices(QList<Slice>{slice}, false) == 1;
        complete = writer.finish() && complete;
    }
    if (!complete) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
