#include "slicereports.h"

#include "decimalformat.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <QUrl>

#include <cmath>

namespace {

QString rowCells(const QString &row, const QString &delta, const QString &minimum, const QString &maximum)
{
    return row.arg(delta, minimum, maximum);
}

QString dateText(const QDateTime &time)
{
    return time.isValid() ? QLocale::system().toString(time, QLocale::LongFormat) : SliceReports::tr("n/a");
}

// Many file systems record no birth time; the time of the last status change is what the
// system offers there instead.
QDateTime creationTime(const QFileInfo &file)
{
    const QDateTime birth = file.birthTime();
    return birth.isValid() ? birth : file.metadataChangeTime();
}

// Thicknesses are compared to the micrometre: the value in millimetres rounded to 3 decimals,
// halves up.
float roundedThickness(float thickness)
{
    return float(std::floor(double(thickness * 1000.0f) + 0.5) / 1000.0);
}

QString section(const QString &text, int count, QString lines)
{
    if (lines.endsWith(QLatin1String("<br/>")))
        lines.chop(5);
    return text.arg(QString::number(count), lines);
}

} // namespace

QString SliceReports::checkSlices(const QList<Slice> &slices, int decimalPlaces)
{
    const int n = slices.size();
    const QString total = QString::number(n);
    const QString plainLine = tr("Slice: <a href=\"slice:///%1\">%1 / %2</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: %3<br/>");

    QString empty;
    int emptyCount = 0;
    for (int i = 0; i < n; ++i) {
        const Slice &slice = slices.at(i);
        if (!slice.contours().isEmpty())
            continue;
        empty += plainLine.arg(QString::number(i + 1), total, DecimalFormat::number(slice.z(), decimalPlaces));
        ++emptyCount;
    }

    const QString invalidLine =
        tr("Slice: <a href=\"slice:///%1\">%1 / %2 (%3 invalid contours)</a>&nbsp;&nbsp;&nbsp;&nbsp;Z: %4<br/>");
    QString invalid;
    int invalidCount = 0;
    for (int i = 0; i < n; ++i) {
        const Slice &slice = slices.at(i);
        int bad = 0;
        for (const Contour &contour : slice.contours())
            bad += contour.points().size() < 3;
        if (bad == 0)
            continue;
        invalid += invalidLine.arg(QString::number(i + 1), total, QString::number(bad),
                                   DecimalFormat::number(slice.z(), decimalPlaces));
        ++invalidCount;
    }

    QString missing;
    int missingCount = 0;
    for (int i = 1; i + 1 < n; ++i) {
        const Slice &previous = slices.at(i - 1);
        const Slice &current = slices.at(i);
        const Slice &next = slices.at(i + 1);
        const int contours = current.contours().size();
        if (contours >= previous.contours().size() || contours >= next.contours().size())
            continue;
        const double average = (previous.area() + next.area()) * 0.5;
        const double area = current.area();
        if (area > average || std::fabs(average - area) <= std::fabs(average) * 0.1)
            continue;
        missing += plainLine.arg(QString::number(i + 1), total, DecimalFormat::number(current.z(), decimalPlaces));
        ++missingCount;
    }

    QString body;
    if (emptyCount > 0)
        body += section(tr("<h4>Empty Slices</h4><p>There are %1 empty slices.</p><p>%2</p>"), emptyCount, empty);
    if (invalidCount > 0)
        body += section(tr("<h4>Slices With Invalid Contours</h4><p>There are %1 slices with invalid contours "
                           "(contours containing less than 3 vertices).</p><p>%2</p>"),
                        invalidCount, invalid);
    if (missingCount > 0)
        body += section(tr("<h4>Potentionally Missing Contours</h4><p>There are %1 slices with potentially "
                           "missing contours.</p><p>%2</p>"),
                        missingCount, missing);

    if (body.isEmpty())
        return tr("<h3>Check Slices</h3><p>No errors were found.</p>");
    return tr("<h3>Check Slices</h3>%1").arg(body);
}

QString SliceReports::fileSize(qint64 bytes)
{
    static const char *const units[] = {"KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    double size = double(bytes);
    QString unit = QStringLiteral("bytes");
    for (const char *next : units) {
        if (size < 1024.0)
            break;
        size *= 0.0009765625;
        unit = QLatin1String(next);
    }
    return QString::number(size, 'f', 2) + QLatin1Char(' ') + unit;
}

QString SliceReports::exploreLink(const QString &absolutePath)
{
    // A file URL keeps every character of the name ("#", "?", "%", blanks, non-ASCII) through
    // the round trip, where the bare path in a URL would be cut or decoded on the way.
    QUrl url = QUrl::fromLocalFile(absolutePath);
    url.setScheme(QStringLiteral("explore"));
    return url.toString(QUrl::FullyEncoded);
}

QString SliceReports::information(const QList<Slice> &slices, const QRectF &bounds, const QFileInfo *file,
                                  int decimalPlaces)
{
    const int n = slices.size();
    auto number = [decimalPlaces](double value) { return DecimalFormat::number(value, decimalPlaces); };

    QString html = QStringLiteral("<style>"
                                  "h4 { margin-bottom: 0.2em; }"
                                  "p { margin-top: 0; }"
                                  "table, p { margin-left: 1em; }"
                                  "</style>"
                                  "<h3>Information</h3>");

    if (file) {
        html += QLatin1String("<h4>File Information</h4><table>");
        html += tr("<tr><td>File:</td><td><a href=\"%1\">%2</a></td></tr>")
                    .arg(exploreLink(file->absoluteFilePath()).toHtmlEscaped(),
                         QDir::toNativeSeparators(file->absoluteFilePath()).toHtmlEscaped());
        html += tr("<tr><td>File size:</td><td>%1</td></tr>").arg(fileSize(file->size()));
        html += tr("<tr><td></td><td></td></tr>");
        html += tr("<tr><td>Created:</td><td>%1</td></tr>").arg(dateText(creationTime(*file)));
        html += tr("<tr><td>Last modified:</td><td>%1</td></tr>").arg(dateText(file->lastModified()));
        html += tr("<tr><td>Last accessed:</td><td>%1</td></tr>").arg(dateText(file->lastRead()));
        html += QLatin1String("</table>");
    }

    html += QLatin1String("<h4>Part Size</h4>");
    html += tr("<p>Number of slices: %1</p>").arg(QString::number(n));
    float zMin = 0.0f;
    float zMax = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float z = slices.at(i).z();
        if (i == 0 || z < zMin)
            zMin = z;
        if (i == 0 || z > zMax)
            zMax = z;
    }
    html += QLatin1String("<table cellspacing=\"8\">");
    html += tr("<tr><td></td><td align=\"center\">Delta</td><td align=\"center\">Min</td>"
               "<td align=\"center\">Max</td></tr>");
    const QString xRow = tr("<tr><td>X:</td><td align=\"center\">%1</td><td align=\"center\">%2</td>"
                            "<td align=\"center\">%3</td></tr>");
    const QString yRow = tr("<tr><td>Y:</td><td align=\"center\">%1</td><td align=\"center\">%2</td>"
                            "<td align=\"center\">%3</td></tr>");
    const QString zRow = tr("<tr><td>Z:</td><td align=\"center\">%1</td><td align=\"center\">%2</td>"
                            "<td align=\"center\">%3</td></tr>");
    if (bounds.isNull()) {
        // Slices without a single polygon have no extent in x and y.
        const QString none = tr("n/a");
        html += rowCells(xRow, none, none, none);
        html += rowCells(yRow, none, none, none);
    } else {
        const double left = bounds.left();
        const double right = left + bounds.width();
        const double top = bounds.top();
        const double bottom = top + bounds.height();
        html += rowCells(xRow, number(right - left), number(left), number(right));
        html += rowCells(yRow, number(bottom - top), number(top), number(bottom));
    }
    const float zDelta = zMax - zMin;
    html += rowCells(zRow, number(zDelta), number(zMin), number(zMax));
    html += QLatin1String("</table>");

    html += QLatin1String("<h4>Slice Thickness Ranges</h4><table>");
    struct Run
    {
        int first;
        float thickness;
    };
    QList<Run> runs;
    for (int k = 0; k < n; ++k) {
        const float t = roundedThickness(slices.at(k).thickness());
        if (!runs.isEmpty()) {
            const float last = runs.constLast().thickness;
            if (!(std::fabs(last - t) > std::fmin(std::fabs(last), std::fabs(t)) * 1e-5f))
                continue;
        }
        runs.append({k, t});
    }
    const QString runRow = tr("<tr><td align=\"right\"><a href=\"slice:///%1\">%1</a> to "
                              "<a href=\"slice:///%2\">%2</a>:&nbsp;&nbsp;</td><td>%3</td></tr>");
    for (int r = 0; r < runs.size(); ++r) {
        const int last = r + 1 < runs.size() ? runs.at(r + 1).first : n;
        html += runRow.arg(QString::number(runs.at(r).first + 1), QString::number(last),
                           number(runs.at(r).thickness));
    }
    html += QLatin1String("</table>");
    return html;
}
