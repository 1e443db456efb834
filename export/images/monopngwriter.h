#ifndef MONOPNGWRITER_H
#define MONOPNGWRITER_H

#include <QByteArray>
#include <QImage>

namespace geom {

// Encodes 1-bit images as PNG files with the chunks Qt's own PNG writer gives
// them (1-bit palette, offset, physical resolution, text), the data
// compressed by a RowDeflater: a printer's slice image is long runs of one
// colour, which that packs about as small as Qt's default effort, many times
// faster.
class MonoPngWriter
{
public:
    // Whether encode() writes this image: Format_Mono or Format_MonoLSB with
    // two opaque colours and short Latin-1 texts. Other images are left to
    // QImageWriter.
    static bool canEncode(const QImage &image);

    // The PNG file of the image; empty when it cannot be encoded.
    static QByteArray encode(const QImage &image);
};

} // namespace geom

#endif // MONOPNGWRITER_H
