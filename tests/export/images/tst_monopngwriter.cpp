#include "images/monopngwriter.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

using geom::MonoPngWriter;

namespace {

// A 1-bit image with something in every part of its rows, the bits beyond
// the width included.
QImage drawing(const QSize &size, QImage::Format format)
{
    QImage image(size, format);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(0);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const double dx = x - size.width() * 0.4;
            const double dy = y - size.height() * 0.6;
            if (std::hypot(dx, dy) < size.height() * 0.3 || x == size.width() - 1 || (x + y) % 97 == 0)
                image.setPixel(x, y, 1);
        }
    }
    return image;
}

// The chunk types in file order; a run of IDAT chunks counts once.
QList<QByteArray> chunkTypes(const QByteArray &png)
{
    QList<QByteArray> types;
    for (int at = 8; at + 8 <= png.size();) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        if (types.isEmpty() || types.last() != type)
            types << type;
        at += 12 + int(length);
    }
    return types;
}

} // namespace

class tst_MonoPngWriter : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void otherImagesAreLeftToQt_data();
    void otherImagesAreLeftToQt();
    void pngcheckAcceptsTheFile();
};

void tst_MonoPngWriter::roundTrip_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<QStringList>("text");

    QTest::newRow("rows of whole bytes") << QSize(64, 40) << int(QImage::Format_Mono) << QPoint(0, -40)
                                         << QStringList{QStringLiteral("Z"), QStringLiteral("0.1")};
    QTest::newRow("rows ending inside a byte") << QSize(333, 187) << int(QImage::Format_Mono) << QPoint(-127, 5)
                                               << QStringList{QStringLiteral("Z"), QStringLiteral("1.25")};
    QTest::newRow("LSB first") << QSize(333, 187) << int(QImage::Format_MonoLSB) << QPoint(3, 4)
                               << QStringList{QStringLiteral("Z"), QStringLiteral("-2")};
    QTest::newRow("no offset, two texts")
        << QSize(17, 1) << int(QImage::Format_Mono) << QPoint()
        << QStringList{QStringLiteral("Z"), QStringLiteral("3"), QStringLiteral("Author"), QStringLiteral("me")};
    QTest::newRow("no text") << QSize(1, 1) << int(QImage::Format_Mono) << QPoint(1, 1) << QStringList();
    QTest::newRow("12K") << QSize(11520, 5120) << int(QImage::Format_Mono) << QPoint(0, -5120)
                         << QStringList{QStringLiteral("Z"), QStringLiteral("12.3")};
}

// Read back by Qt, the file gives the same pixels, colours, offset,
// resolution and texts, in the chunks and the order Qt writes them.
void tst_MonoPngWriter::roundTrip()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(QPoint, offset);
    QFETCH(QStringList, text);

    QImage image = drawing(size, QImage::Format(format));
    image.setOffset(offset);
    image.setDotsPerMeterX(12673);
    image.setDotsPerMeterY(11000);
    for (int i = 0; i + 1 < text.size(); i += 2)
        image.setText(text.at(i), text.at(i + 1));

    QVERIFY(MonoPngWriter::canEncode(image));
    const QByteArray png = MonoPngWriter::encode(image);
    QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));

    QByteArray qt;
    {
        QBuffer buffer(&qt);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "png"));
    }
    QCOMPARE(chunkTypes(png), chunkTypes(qt));

    QImage read;
    QVERIFY(read.loadFromData(png, "png"));
    QCOMPARE(read.size(), image.size());
    QCOMPARE(read.convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
    QCOMPARE(read.offset(), offset);
    QCOMPARE(read.dotsPerMeterX(), 12673);
    QCOMPARE(read.dotsPerMeterY(), 11000);
    for (int i = 0; i + 1 < text.size(); i += 2)
        QCOMPARE(read.text(text.at(i)), text.at(i + 1));
    QCOMPARE(read.textKeys().size(), text.size() / 2);
}

void tst_MonoPngWriter::otherImagesAreLeftToQt_data()
{
    QTest::addColumn<QImage>("image");

    QImage mono = drawing(QSize(20, 10), QImage::Format_Mono);
    QTest::newRow("8-bit") << mono.convertToFormat(QImage::Format_Grayscale8);
    QImage translucent = mono;
    translucent.setColor(0, qRgba(0, 0, 0, 0));
    QTest::newRow("translucent colour") << translucent;
    QImage longText = mono;
    longText.setText(QStringLiteral("Comment"), QString(40, QLatin1Char('x')));
    QTest::newRow("long text") << longText;
    QImage wideText = mono;
    wideText.setText(QStringLiteral("Z"), QStringLiteral("\u20ac"));
    QTest::newRow("text beyond Latin-1") << wideText;
    QTest::newRow("null") << QImage();
}

void tst_MonoPngWriter::otherImagesAreLeftToQt()
{
    QFETCH(QImage, image);
    QVERIFY(!MonoPngWriter::canEncode(image));
    QVERIFY(MonoPngWriter::encode(image).isEmpty());
}

void tst_MonoPngWriter::pngcheckAcceptsTheFile()
{
    const QString pngcheck = QStandardPaths::findExecutable(QStringLiteral("pngcheck"));
    if (pngcheck.isEmpty())
        QSKIP("pngcheck is not installed");
    QImage image = drawing(QSize(1001, 303), QImage::Format_Mono);
    image.setOffset(QPoint(-5, -303));
    image.setText(QStringLiteral("Z"), QStringLiteral("0.05"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("image.png")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(MonoPngWriter::encode(image)) > 0);
    file.close();

    QProcess check;
    check.start(pngcheck, {file.fileName()});
    QVERIFY(check.waitForFinished());
    const QString output = QString::fromLocal8Bit(check.readAllStandardOutput());
    QVERIFY2(check.exitCode() == 0, qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("1-bit palette")), qPrintable(output));
}

QTEST_MAIN(tst_MonoPngWriter)
#include "tst_monopngwriter.moc"
