#ifndef SLICEEXPORTER_H
#define SLICEEXPORTER_H

#include "slice.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>

// Writes slices (one, or a whole part) or a picture of one to a file. Every writer replaces its
// target only when the whole file could be written, and says whether it could; where it could
// not, `errorString` (when given) receives the reason the system reported, or stays empty when
// there is none to tell.
class SliceExporter
{
public:
    enum Format { NoFormat, Png, Svg, Slc };

    // The format a file name asks for by its suffix (case-insensitive), NoFormat for others.
    static Format formatOfName(const QString &fileName);
    // The format of one entry of the export dialog's filter list, NoFormat for others.
    static Format formatOfFilter(const QString &filter);
    static QString suffix(Format format);

    // The outlines of the slice's contours; `bounds` (the part's rectangle) gives the view box.
    static QByteArray svgDocument(const Slice &slice, const QRectF &bounds);

    static bool writePng(const QString &fileName, const QImage &image, QString *errorString = nullptr);
    static bool writeSvg(const QString &fileName, const Slice &slice, const QRectF &bounds,
                         QString *errorString = nullptr);
    // The whole SLC file: every slice, in order, then the end marker.
    static bool writeSlc(const QString &fileName, const QList<Slice> &slices, QString *errorString = nullptr);

private:
    static bool commit(const QString &fileName, const QByteArray &bytes, QString *errorString);
};

#endif // SLICEEXPORTER_H
