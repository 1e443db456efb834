#include "monopngwriter.h"

#include "rowdeflater.h"

#include <QMap>
#include <QStringList>
#include <QtEndian>


#include <cstring>
#include <vector>

namespace geom {

namespace {

// PNG keeps uncompressed text below this length (Qt's rule); keywords are
// 1 to 79 Latin-1 characters.
const int shortTextLength = 40;
const int maximumKeywordLength = 79;

bool plainLatin1(const QString &text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u > 0xff || (u < 0x20 && u != '\n') || (u > 0x7e && u < 0xa0))
            return false;
    }
    return true;
}

quint32 crc32(const char *data, int size)
{
    static const std::vector<quint32> table = [] {
        std::vector<quint32> t(256);
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (int i = 0; i < size; ++i)
        c = table[(c ^ uchar(data[i])) & 0xffu] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    uchar length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    png.append(reinterpret_cast<const char *>(length), 4);
    const int start = png.size();
    png.append(type, 4);
    png.append(data);
    uchar sum[4];
    qToBigEndian<quint32>(crc32(png.constData() + start, png.size() - start), sum);
    png.append(reinterpret_cast<const char *>(sum), 4);
}

void appendBigEndian32(QByteArray &data, quint32 value)
{
    uchar bytes[4];
    qToBigEndian<quint32>(value, bytes);
    data.append(reinterpret_cast<const char *>(bytes), 4);
}

// The image data of a Format_Mono image.
QByteArray deflateRows(const QImage &image)
{
    RowDeflater deflater((image.width() + 7) / 8);
    for (int y = 0; y < image.height(); ++y)
        deflater.addRow(image.constScanLine(y));
    return deflater.finish();
}

} // namespace

bool MonoPngWriter::canEncode(const QImage &image)
{
    if (image.isNull() || (image.format() != QImage::Format_Mono && image.format() != QImage::Format_MonoLSB)
        || image.colorCount() != 2)
        return false;
    for (const QRgb c : image.colorTable()) {
        if (qAlpha(c) != 255)
            return false;
    }
    for (const QString &key : image.textKeys()) {
        const QString value = image.text(key);
        if (key.isEmpty() || key.size() > maximumKeywordLength || !plainLatin1(key) || key.contains(QLatin1Char('\n'))
            || value.size() >= shortTextLength || !plainLatin1(value))
            return false;
    }
    return true;
}

QByteArray MonoPngWriter::encode(const QImage &image)
{
    if (!canEncode(image))
        return QByteArray();

    QByteArray png("\x89PNG\r\n\x1a\n", 8);

    QByteArray header;
    appendBigEndian32(header, quint32(image.width()));
    appendBigEndian32(header, quint32(image.height()));
    header.append(char(1)); // bit depth
    header.append(char(3)); // palette
    header.append(3, char(0)); // deflate, adaptive filters, no interlace
    appendChunk(png, "IHDR", header);

    QByteArray palette;
    for (const QRgb c : image.colorTable())
        palette.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
    appendChunk(png, "PLTE", palette);

    const QPoint offset = image.offset();
    if (!offset.isNull()) {
        QByteArray data;
        appendBigEndian32(data, quint32(offset.x()));
        appendBigEndian32(data, quint32(offset.y()));
        data.append(char(0)); // pixels
        appendChunk(png, "oFFs", data);
    }
    if (image.dotsPerMeterX() > 0 || image.dotsPerMeterY() > 0) {
        QByteArray data;
        appendBigEndian32(data, quint32(image.dotsPerMeterX()));
        appendBigEndian32(data, quint32(image.dotsPerMeterY()));
        data.append(char(1)); // per metre
        appendChunk(png, "pHYs", data);
    }
    // In key order, as Qt writes them.
    QStringList keys = image.textKeys();
    keys.sort();
    for (const QString &key : qAsConst(keys))
        appendChunk(png, "tEXt", key.toLatin1() + '\0' + image.text(key).toLatin1());

    // PNG packs pixels from the most significant bit.
    appendChunk(png, "IDAT",
                deflateRows(image.format() == QImage::Format_Mono ? image : image.convertToFormat(QImage::Format_Mono)));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace geom
