#include "filesizelimit.h"
#include "mainwindowfixture.h"

#include "slcreader.h"
#include "sliceexporter.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

using namespace fixture;

namespace {

const QString filters = QStringLiteral(
    "Portable Network Graphic files (*.png);;Scalable Vector Graphic files (*.svg);;Slice files (*.slc)");
const QString pngFilter = QStringLiteral("Portable Network Graphic files (*.png)");
const QString svgFilter = QStringLiteral("Scalable Vector Graphic files (*.svg)");
const QString slcFilter = QStringLiteral("Slice files (*.slc)");
const QString svgDtd = QStringLiteral("/usr/share/xml/w3c-sgml-lib/schema/dtd/REC-SVG11-20110816/svg11.dtd");

Contour polygon(const QVector<geom::Point2Df> &points)
{
    return Contour(points);
}

// Slice 1 spans x 0..100 and y -50..50 with a hole, a small square at fractional coordinates
// and a two-vertex contour; slice 2 is a small square inside.
QList<Slice> svgSlices()
{
    Slice first(1.0f, 0.2f);
    first.addContour(polygon({{0, -50}, {100, -50}, {100, 50}, {0, 50}}));
    first.addContour(polygon({{10, 20}, {20, 20}, {20, 10}, {10, 10}}));
    first.addContour(polygon({{1.25f, 1.5f}, {3.25f, 1.5f}, {3.25f, 3.5f}, {1.25f, 3.5f}}));
    first.addContour(polygon({{5, 5}, {12.3456789f, 7}}));
    Slice second(1.2f, 0.2f);
    second.addContour(polygon({{40, 1}, {60, 1}, {60, 20}, {40, 20}}));
    return {first, second};
}

const QStringList svgLines{
    "<?xml version=\"1.0\" standalone=\"no\"?>",
    "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\"",
    "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">",
    "<svg width=\"500px\" height=\"500px\" viewBox=\"-1 -51 102 102\" version=\"1.1\" "
    "xmlns=\"http://www.w3.org/2000/svg\">",
    "<polygon points=\"0,50 100,50 100,-50 0,-50\" style=\"fill:none;stroke:black;stroke-width:0.1\"/>",
    "<polygon points=\"10,-20 20,-20 20,-10 10,-10\" style=\"fill:none;stroke:red;stroke-width:0.1\"/>",
    "<polygon points=\"1.25,-1.5 3.25,-1.5 3.25,-3.5 1.25,-3.5\" style=\"fill:none;stroke:black;stroke-width:0.1\"/>",
    "<polygon points=\"5,-5 12.3457,-7\" style=\"fill:none;stroke:black;stroke-width:0.1\"/>",
    "</svg>",
};

QByteArray slcBytes(const Slice &slice)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    SlcWriter writer(&buffer);
    writer.writeSlices({slice}, false);
    writer.finish();
    return bytes;
}

QList<Slice> readSlc(const QString &path)
{
    QFile file(path);
    SlcReader reader(&file);
    return reader.readSlices(false, -1);
}

QString lastExportDirectory()
{
    return QSettings().value("MainWindow/LastExportDirectory").toString();
}

} // namespace

class TestMainWindowExport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString part;  // 40 slices
    QString drawn; // the SVG fixture

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        setUpApplication();
        takeCommandLine();
        part = dir.filePath("part.slc");
        QVERIFY(writeSlc(part, slices(40)));
        drawn = dir.filePath("drawn.slc");
        QVERIFY(writeSlc(drawn, svgSlices()));
    }
    void init() { QSettings().clear(); }

    void dialog()
    {
        QSettings().setValue("MainWindow/LastExportDirectory", dir.path());
        DialogScript script;
        MainWindow window;
        window.openFile(part);
        script.answerCancel();
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked.at(0).kind, ModalDialogs::SaveFileName);
        QCOMPARE(script.asked.at(0).title, QStringLiteral("Export"));
        QCOMPARE(script.asked.at(0).directory, dir.path());
        QCOMPARE(script.asked.at(0).filter, filters);
        // Cancelled: nothing written, the directory stays.
        QCOMPARE(lastExportDirectory(), dir.path());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void svgLineByLine()
    {
        QTemporaryDir out;
        const QString name = out.filePath("drawing.svg");
        DialogScript script;
        script.answerFile(name, pngFilter);
        MainWindow window;
        window.openFile(drawn);
        QCOMPARE(view(window)->currentSlice(), 1);
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 1);

        const QByteArray bytes = readBytes(name);
        QVERIFY(!bytes.contains('\r'));
        QVERIFY(bytes.endsWith("</svg>\n"));
        QStringList lines = QString::fromUtf8(bytes).split('\n');
        lines.removeLast();
        QCOMPARE(lines, svgLines);
        QCOMPARE(lastExportDirectory(), out.path());

        // The view box covers the whole part, whichever slice is drawn.
        slider(window)->setValue(2);
        script.answerFile(name);
        action(window, "action_Export")->trigger();
        lines = QString::fromUtf8(readBytes(name)).split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.at(3), svgLines.at(3));
        QCOMPARE(lines.at(4),
                 QStringLiteral("<polygon points=\"40,-1 60,-1 60,-20 40,-20\" "
                                "style=\"fill:none;stroke:black;stroke-width:0.1\"/>"));
    }

    void svgIsValid()
    {
        QTemporaryDir out;
        const QString name = out.filePath("valid.svg");
        QVERIFY(writeBytes(name, SliceExporter::svgDocument(svgSlices().at(0), QRectF(0, -50, 100, 100))));

        // Structure: one svg root in the SVG namespace holding the polygons, nothing else.
        QFile file(name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList elements;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement) {
                elements.append(xml.name().toString());
                QCOMPARE(xml.namespaceUri().toString(), QStringLiteral("http://www.w3.org/2000/svg"));
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(elements, (QStringList{"svg", "polygon", "polygon", "polygon", "polygon"}));

        const QString xmllint = QStandardPaths::findExecutable("xmllint");
        if (xmllint.isEmpty())
            QSKIP("xmllint is not installed: only the structure was checked");
        QStringList arguments{"--noout", "--nonet"};
        const bool haveDtd = QFile::exists(svgDtd);
        if (haveDtd)
            arguments << "--dtdvalid" << svgDtd;
        QProcess lint;
        lint.start(xmllint, arguments << name);
        QVERIFY(lint.waitForFinished(30000));
        QVERIFY2(lint.exitStatus() == QProcess::NormalExit && lint.exitCode() == 0,
                 lint.readAllStandardError().constData());
        if (!haveDtd)
            QSKIP("No local SVG 1.1 DTD (package w3c-sgml-lib): checked for well-formedness only");
    }

    void svgSkipsContoursWithoutVertices()
    {
        Slice slice(0.0f, 0.1f);
        slice.addContour(Contour());
        slice.addContour(polygon({{1, 1}, {2, 1}, {2, 2}}));
        const QStringList lines = QString::fromUtf8(SliceExporter::svgDocument(slice, QRectF(1, 1, 1, 1))).split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.at(3), QStringLiteral("<svg width=\"500px\" height=\"500px\" viewBox=\"0 -3 3 3\" "
                                             "version=\"1.1\" "
                                             "xmlns=\"http://www.w3.org/2000/svg\">"));
        QCOMPARE(lines.at(4), QStringLiteral("<polygon points=\"1,-1 2,-1 2,-2\" "
                                             "style=\"fill:none;stroke:black;stroke-width:0.1\"/>"));
        QCOMPARE(lines.at(5), QStringLiteral("</svg>"));
    }

    void pngOfTheView()
    {
        QTemporaryDir out;
        DialogScript script;
        script.answerFile(out.filePath("shot"), pngFilter);
        MainWindow window;
        action(window, "action_Show_Grid")->setChecked(false);
        action(window, "action_Enable_Animations")->setChecked(false);
        window.resize(640, 480);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.openFile(part);
        // The largest slice covers the middle of the view.
        slider(window)->setValue(40);
        QCoreApplication::processEvents();
        action(window, "action_Export")->trigger();

        const QString name = out.filePath("shot.png");
        QImage image;
        QVERIFY(image.load(name, "PNG"));
        QCOMPARE(image.size(), view(window)->contentsRect().size());
        QVERIFY(image.hasAlphaChannel());
        // Clear where the view paints nothing, the slice in the middle.
        QCOMPARE(image.pixel(0, 0), qRgba(0, 0, 0, 0));
        QCOMPARE(image.pixel(image.width() - 1, image.height() - 1), qRgba(0, 0, 0, 0));
        QVERIFY(qAlpha(image.pixel(image.width() / 2, image.height() / 2)) > 0);
        QCOMPARE(script.count(ModalDialogs::Critical), 0);
        QCOMPARE(lastExportDirectory(), out.path());
    }

    void pngWithoutSlicesShowsTheLogo()
    {
        QTemporaryDir out;
        DialogScript script;
        script.answerFile(out.filePath("logo.png"));
        MainWindow window;
        action(window, "action_Export")->trigger();
        QImage image;
        QVERIFY(image.load(out.filePath("logo.png"), "PNG"));
        QCOMPARE(image.size(), view(window)->contentsRect().size());
        QCOMPARE(script.asked.size(), 1);
    }

    void oneSliceSlc()
    {
        QTemporaryDir out;
        const QString name = out.filePath("seven.slc");
        DialogScript script;
        script.answerFile(name, pngFilter);
        MainWindow window;
        window.openFile(part);
        slider(window)->setValue(7);
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 1);

        const Slice &seventh = view(window)->slices().at(6);
        QCOMPARE(readBytes(name), slcBytes(seventh));
        const QList<Slice> read = readSlc(name);
        QCOMPARE(read.size(), 1);
        QCOMPARE(read.at(0).z(), seventh.z());
        QCOMPARE(read.at(0).contourAt(0).points(), seventh.contourAt(0).points());
    }

    // The file dialog adds no suffix: a name without one of ours takes the chosen filter's.
    void formatFromNameOrFilter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("format");
        QTest::newRow("svg filter") << "shot" << svgFilter << "shot.svg" << int(SliceExporter::Svg);
        QTest::newRow("slc filter") << "shot" << slcFilter << "shot.slc" << int(SliceExporter::Slc);
        QTest::newRow("png filter") << "shot" << pngFilter << "shot.png" << int(SliceExporter::Png);
        QTest::newRow("no filter reported") << "shot" << QString() << "shot.png" << int(SliceExporter::Png);
        QTest::newRow("suffix wins") << "shot.SVG" << pngFilter << "shot.SVG" << int(SliceExporter::Svg);
        QTest::newRow("last suffix") << "a.png.slc" << svgFilter << "a.png.slc" << int(SliceExporter::Slc);
        QTest::newRow("unknown suffix") << "x.svgz" << svgFilter << "x.svgz.svg" << int(SliceExporter::Svg);
        QTest::newRow("dots in a directory") << "v1.2/shot" << slcFilter << "v1.2/shot.slc" << int(SliceExporter::Slc);
    }
    void formatFromNameOrFilter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(QString, written);
        QFETCH(int, format);
        QTemporaryDir out;
        QVERIFY(QDir(out.path()).mkpath("v1.2"));
        DialogScript script;
        script.answerFile(out.filePath(typed), filter);
        MainWindow window;
        window.openFile(drawn);
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 1);

        QStringList files = QDir(out.path()).entryList(QDir::Files);
        files += QDir(out.filePath("v1.2")).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QByteArray bytes = readBytes(out.filePath(written));
        switch (format) {
        case SliceExporter::Svg:
            QCOMPARE(bytes, SliceExporter::svgDocument(view(window)->slices().at(0), view(window)->bounds()));
            break;
        case SliceExporter::Slc:
            QCOMPARE(bytes, slcBytes(view(window)->slices().at(0)));
            break;
        default:
            QVERIFY(bytes.startsWith("\x89PNG"));
        }
        QCOMPARE(lastExportDirectory(), QFileInfo(out.filePath(written)).absolutePath());
    }

    // The dialog asked about replacing the name as typed; the name with the suffix is asked here.
    void replacingTheNameWithSuffix_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
    }
    void replacingTheNameWithSuffix()
    {
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QTemporaryDir out;
        const QString name = out.filePath("old.slc");
        QVERIFY(writeBytes(name, "someone's file"));
        DialogScript script;
        script.answerFile(out.filePath("old"), slcFilter);
        script.answerButton(QMessageBox::StandardButton(answer));
        MainWindow window;
        window.openFile(part);
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Warning);
        QCOMPARE(script.asked.at(1).title, QStringLiteral("Export"));
        QCOMPARE(script.asked.at(1).text,
                 QDir::toNativeSeparators(name) + QStringLiteral(" already exists.\nDo you want to replace it?"));
        QCOMPARE(script.asked.at(1).buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(readBytes(name) == "someone's file", !replaced);
    }

    void writeFailures_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("diskFull");
        // The system's reason, on the message's second line.
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing directory, svg") << "missing/drawing.svg" << false << systemReason(ENOENT);
        QTest::newRow("missing directory, png") << "missing/shot.png" << false << systemReason(ENOENT);
        QTest::newRow("a directory, slc") << "a directory.slc" << false << "Filename refers to a directory";
        QTest::newRow("disk full, svg") << "existing.svg" << true << systemReason(EFBIG);
        QTest::newRow("disk full, slc") << "existing.slc" << true << systemReason(EFBIG);
        QTest::newRow("disk full, png") << "existing.png" << true << systemReason(EFBIG);
    }
    void writeFailures()
    {
        QFETCH(QString, target);
        QFETCH(bool, diskFull);
        QFETCH(QString, reason);
        QTemporaryDir out;
        QVERIFY(QDir(out.path()).mkpath("a directory.slc"));
        const QString path = out.filePath(target);
        const QByteArray old("the user's old file");
        if (diskFull)
            QVERIFY(writeBytes(path, old));
        DialogScript script;
        script.answerFile(path);
        MainWindow window;
        window.openFile(drawn);
        {
            FileSizeLimit limit(diskFull ? 40 : RLIM_INFINITY);
            QVERIFY(limit.active);
            action(window, "action_Export")->trigger();
        }
        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Critical);
        QCOMPARE(script.asked.at(1).title, QStringLiteral("Export"));
        QCOMPARE(script.asked.at(1).text, "Cannot write to file " + QDir::toNativeSeparators(path) + ".\n" + reason);
        if (diskFull)
            QCOMPARE(readBytes(path), old);
        // Nothing half-written is left behind.
        const QStringList left = QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files);
        QCOMPARE(left, diskFull ? QStringList{QFileInfo(path).fileName()} : QStringList());
    }

    // One layer written over the open file would replace the whole part.
    void exportOntoTheOpenFileIsRefused_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::newRow("same name") << "part.slc" << pngFilter;
        QTest::newRow("suffix from the filter") << "part" << slcFilter;
        QTest::newRow("other spelling") << "./sub/../part.slc" << slcFilter;
    }
    void exportOntoTheOpenFileIsRefused()
    {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QVERIFY(QDir(dir.path()).mkpath("sub"));
        const QByteArray before = readBytes(part);
        DialogScript script;
        script.answerFile(dir.filePath(typed), filter);
        MainWindow window;
        window.openFile(part);
        slider(window)->setValue(7);
        action(window, "action_Export")->trigger();
        QCOMPARE(readBytes(part), before);
        const Asked &refusal = script.asked.last();
        QCOMPARE(refusal.kind, ModalDialogs::Warning);
        QCOMPARE(refusal.title, QStringLiteral("Export"));
        QCOMPARE(refusal.text, QDir::toNativeSeparators(part)
                                   + " is the open file. Exporting onto it would replace the whole part.");
        QVERIFY(lastExportDirectory().isEmpty());
        QCOMPARE(view(window)->sliceCount(), 40);
    }

    void noSliceToExport_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("svg") << "empty.svg";
        QTest::newRow("slc") << "empty.slc";
    }
    void noSliceToExport()
    {
        QFETCH(QString, name);
        QTemporaryDir out;
        DialogScript script;
        script.answerFile(out.filePath(name));
        MainWindow window;
        action(window, "action_Export")->trigger();
        QCOMPARE(script.asked.size(), 2);
        QCOMPARE(script.asked.at(1).kind, ModalDialogs::Warning);
        QCOMPARE(script.asked.at(1).title, QStringLiteral("Export"));
        QCOMPARE(script.asked.at(1).text, QStringLiteral("No slice to export."));
        QVERIFY(!QFile::exists(out.filePath(name)));
        QVERIFY(lastExportDirectory().isEmpty());
    }
};

QTEST_MAIN(TestMainWindowExport)
#include "tst_mainwindow_export.moc"
