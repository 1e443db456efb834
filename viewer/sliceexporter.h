#ifndef SLICEEXPORTER_H
#define SLICEEXPORTER_H

#include "slice.h"

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

class QGraphicsView;
class QIODevice;

// Writes one slice (or the picture of the view showing it) to a file. Every writer replaces
// its target only when the whole file could be written, and says whether it could.
class SliceExporter
{
public:
    enum Format { NoFormat, Png, Svg, Slc };

    // The format a file name asks for by its suffix (case-insensitive), NoFormat for others.
    static Format formatOfName(const QString& fileName);
    // The format of one entry of the export dialog's filter list, NoFormat for others.
    static Format formatOfFilter(const QString& filter);
    static QString suffix(Format format);

    // The view's contents rectangle as an image, `background` wherever the view paints nothing.
    static QImage renderView(QGraphicsView* view, const QColor& background);

    // The outlines of the slice's contours; `bounds` (the part's rectangle) gives the view box.
    static QByteArray svgDocument(const Slice& slice, const QRectF& bounds);

    static bool writePng(const QString& fileName, const QImage& image);
    static bool writeSvg(const QString& fileName, const Slice& slice, const QRectF& bounds);
    static bool writeSlc(const QString& fileName, const Slice& slice);

private:
    static bool commit(const QString& fileName, const QByteArray& bytes);
};

#endif // SLICEEXPORTER_H
