#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QtTest>

// A missing or unreadable icon fails silently at run time (the action just has no picture),
// so every image the windows name is checked here.
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void images_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("size");

        const QSize tool(16, 16);
        for (const char *name : {"open", "qt-logo", "zoomin", "zoomout", "export", "zoom_to_all", "empty_slice",
                                 "copy", "save", "grid", "play", "play_b", "ruler", "export_model", "vertices",
                                 "export_images", "info"})
            QTest::newRow(name) << QString(name) << tool;
        QTest::newRow("icon") << "icon" << QSize(64, 64);
        QTest::newRow("logo-branding") << "logo-branding" << QSize(164, 16);
    }

    void images()
    {
        QFETCH(QString, name);
        QFETCH(QSize, size);
        const QImage image(QStringLiteral(":/resources/images/%1.png").arg(name));
        QVERIFY2(!image.isNull(), qPrintable(name));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
    }

    void viewLogo()
    {
        QSvgRenderer logo(QStringLiteral(":/resources/images/icon.svg"));
        QVERIFY(logo.isValid());
        QVERIFY(!logo.defaultSize().isEmpty());
    }

    // The program opens the first file of its command line only: the launcher must offer it
    // one file (%f), not a list (%F) of which the rest would be dropped without a word.
    void desktopEntryOpensOneFile()
    {
        QFile entry(QStringLiteral(QUARNE_DESKTOP_ENTRY));
        QVERIFY(entry.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
        const QStringList exec = lines.filter(QRegularExpression(QStringLiteral("^Exec=")));
        QCOMPARE(exec, QStringList{QStringLiteral("Exec=quarne %f")});
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
