#ifndef SLICEEXPORTER_H
#define SLICEEXPORTER_H

#include "slice.h"

#include <QByteArray>
#include <QFileDevice>
#include <QSaveFile>
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

    // Opens the file for writing; where it cannot be, `errorString` (when given) receives the
    // system's reason. Qt 5.15 builds the text of a failed open from a buffer it never filled,
    // so the reason is taken from the error number instead.
    static bool openForWriting(QSaveFile &file, QString *errorString);
    // The system's reason why a write to `file` failed, empty when none is known. Qt loses the
    // error number of a write that was cut short (a full disk, a file-size limit) and says
    // "Unknown error"; the reason is then asked again by one more byte written at the end of
    // the file, which is only right for a file about to be thrown away.
    static QString writeFailureReason(QFileDevice &file);

private:
    static bool commit(const QString &fileName, const QByteArray &bytes, QString *errorString);
};

#endif // SLICEEXPORTER_H
