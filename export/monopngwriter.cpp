#include "monopngwriter.h"

#include <QMap>
#include <QStringList>
#include <QtEndian>

#include <zlib.h>

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

void appendChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    uchar length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    png.append(reinterpret_cast<const char *>(length), 4);
    const int start = png.size();
    png.append(type, 4);
    png.append(data);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(png.constData() + start), uInt(png.size() - start));
    uchar sum[4];
    qToBigEndian<quint32>(quint32(crc), sum);
    png.append(reinterpret_cast<const char *>(sum), 4);
}

void appendBigEndian32(QByteArray &data, quint32 value)
{
    uchar bytes[4];
    qToBigEndian<quint32>(value, bytes);
    data.append(reinterpret_cast<const char *>(bytes), 4);
}

// The image data of a Format_Mono image: each row a filter byte (none) and
// its bits, deflated in one zlib stream. Run-length matching finds
// the long runs of one colour as well as the full search does, at a fraction
// of its cost; a higher level changes nothing for it.
bool deflateRows(const QImage &image, QByteArray &idat)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK)
        return false;

    const int rowBytes = (image.width() + 7) / 8;
    std::vector<uchar> row(size_t(rowBytes) + 1);
    std::vector<uchar> out(size_t(1) << 16);
    bool ok = true;
    for (int y = 0; y <= image.height() && ok; ++y) {
        const bool last = y == image.height();
        if (!last) {
            row[0] = 0;
            std::memcpy(row.data() + 1, image.constScanLine(y), size_t(rowBytes));
            stream.next_in = row.data();
            stream.avail_in = uInt(row.size());
        }
        do {
            stream.next_out = out.data();
            stream.avail_out = uInt(out.size());
            const int result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (result == Z_STREAM_ERROR) {
                ok = false;
                break;
            }
            idat.append(reinterpret_cast<const char *>(out.data()), int(out.size() - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return ok;
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

    QByteArray idat;
    // PNG packs pixels from the most significant bit.
    if (!deflateRows(image.format() == QImage::Format_Mono ? image : image.convertToFormat(QImage::Format_Mono), idat))
        return QByteArray();
    appendChunk(png, "IDAT", idat);
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace geom
