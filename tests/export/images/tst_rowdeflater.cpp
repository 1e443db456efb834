#include "images/rowdeflater.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <QtTest>

using geom::RowDeflater;

namespace {

// Rows of a kind, all rowBytes long.
QList<QByteArray> rowsOf(const QString &kind, int rowBytes, int count)
{
    QRandomGenerator random(7);
    QList<QByteArray> rows;
    for (int y = 0; y < count; ++y) {
        QByteArray row(rowBytes, '\0');
        if (kind == QLatin1String("blank, set")) {
            row.fill('\xff');
        } else if (kind == QLatin1String("noise")) {
            for (char &c : row)
                c = char(random.bounded(256));
        } else if (kind == QLatin1String("runs")) {
            // Runs of every length around the longest copy, in changing colours.
            int x = 0;
            for (int run = 1 + y % 7; x < rowBytes; run = run * 3 % 613 + 1) {
                const char colour = char((x + y) % 3 == 0 ? 0xff : (x + y) % 3 == 1 ? 0x00 : 0x5a);
                for (int k = 0; k < run && x < rowBytes; ++k)
                    row[x++] = colour;
            }
        } else if (kind == QLatin1String("repeated")) {
            // Blocks of equal rows, as the flat sides of a part give.
            for (int x = 0; x < rowBytes; ++x)
                row[x] = char((x / 7 + y / 5) % 2 ? 0xff : 0x0f);
        }
        rows << row;
    }
    return rows;
}

} // namespace

class tst_RowDeflater : public QObject
{
    Q_OBJECT

private slots:
    void inflatesToTheRows_data();
    void inflatesToTheRows();
};

void tst_RowDeflater::inflatesToTheRows_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("rowBytes");
    QTest::addColumn<int>("count");

    for (const char *kind : {"blank", "blank, set", "noise", "runs", "repeated"}) {
        for (const int rowBytes : {1, 2, 3, 257, 258, 1440, 4094}) {
            QTest::addRow("%s, %d bytes a row", kind, rowBytes) << QString::fromLatin1(kind) << rowBytes << 40;
        }
    }
    // Enough literals for several blocks.
    QTest::newRow("noise, several blocks") << QStringLiteral("noise") << 1000 << 300;
    // Rows wider than a copy can reach back are written as their runs.
    QTest::newRow("repeated, widest copy") << QStringLiteral("repeated") << 32767 << 3;
    QTest::newRow("repeated, beyond a copy's reach") << QStringLiteral("repeated") << 40000 << 3;
    QTest::newRow("no rows") << QStringLiteral("blank") << 10 << 0;
}

// zlib takes the stream back to the rows, each behind its filter byte, and
// finds its checksum right.
void tst_RowDeflater::inflatesToTheRows()
{
    QFETCH(QString, kind);
    QFETCH(int, rowBytes);
    QFETCH(int, count);

    const QList<QByteArray> rows = rowsOf(kind, rowBytes, count);
    RowDeflater deflater(rowBytes);
    QByteArray expected;
    for (const QByteArray &row : rows) {
        deflater.addRow(reinterpret_cast<const uchar *>(row.constData()));
        expected += '\0' + row;
    }
    const QByteArray stream = deflater.finish();

    uchar size[4];
    qToBigEndian<quint32>(quint32(expected.size()), size);
    const QByteArray inflated = qUncompress(QByteArray(reinterpret_cast<const char *>(size), 4) + stream);
    QCOMPARE(inflated.size(), expected.size());
    QVERIFY(inflated == expected);
    // Long rows of runs shrink to a small part.
    if (kind != QLatin1String("noise") && count > 0 && rowBytes > 256)
        QVERIFY2(stream.size() * 8 < expected.size(), qPrintable(QString::number(stream.size())));
}

QTEST_MAIN(tst_RowDeflater)
#include "tst_rowdeflater.moc"
