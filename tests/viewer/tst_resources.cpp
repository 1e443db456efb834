#include <QImage>
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
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
