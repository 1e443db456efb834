#ifndef SLICEREPORTS_H
#define SLICEREPORTS_H

#include "slice.h"

#include <QCoreApplication>
#include <QList>
#include <QRectF>
#include <QString>

class QFileInfo;

// The HTML of the main window's two reports. Slice links read "slice:///n" (n 1-based, in the
// order of the list given); the file link reads "explore:" followed by the file's URL path.
class SliceReports
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    // Empty slices, slices with contours of fewer than 3 vertices, and slices that have fewer
    // contours and noticeably less area than both neighbours.
    static QString checkSlices(const QList<Slice> &slices, int decimalPlaces);

    // The file (when given), the part's extent and the runs of equal slice thickness. `bounds`
    // is the part's rectangle over all slices, null when the part has no extent.
    static QString information(const QList<Slice> &slices, const QRectF &bounds, const QFileInfo *file,
                               int decimalPlaces);

    // 512 bytes read "512.00 bytes", 1536 bytes "1.50 KB".
    static QString fileSize(qint64 bytes);

    // The link that lets the report window show the file in the system's file browser.
    static QString exploreLink(const QString &absolutePath);
};

#endif // SLICEREPORTS_H
