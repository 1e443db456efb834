// Renders one SVG file into a PNG of the given pixel size:
//   svgtopng <input.svg> <output.png> <width> <height>
// Used only by render.sh when the icons are redrawn; the build takes the committed PNGs.
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: svgtopng <input.svg> <output.png> <width> <height>\n");
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "svgtopng: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QImage image(args.at(3).toInt(), args.at(4).toInt(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        std::fprintf(stderr, "svgtopng: bad size %sx%s\n", qPrintable(args.at(3)), qPrintable(args.at(4)));
        return 1;
    }
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    // Fixed metadata keeps a re-render byte-for-byte stable when nothing was changed.
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(2835);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(args.at(2), "PNG")) {
        std::fprintf(stderr, "svgtopng: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
