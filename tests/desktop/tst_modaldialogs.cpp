#include "modaldialogs.h"

#include <QDialog>
#include <QtTest>

Q_DECLARE_METATYPE(QMessageBox::StandardButtons)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

// The seam must hand each scripted answer back the way the real dialog would, or code that
// passes its tests misbehaves in front of a user.
class TestModalDialogs : public QObject
{
    Q_OBJECT

private:
    QList<ModalDialogs::Request> requests;

    void script(const ModalDialogs::Answer &answer)
    {
        ModalDialogs::setResponder([this, answer](const ModalDialogs::Request &request) {
            requests.append(request);
            return answer;
        });
    }

    static ModalDialogs::Answer answer(bool accepted, const QVariant &value = QVariant(),
                                       const QString &selectedFilter = QString())
    {
        ModalDialogs::Answer a;
        a.accepted = accepted;
        a.value = value;
        a.selectedFilter = selectedFilter;
        return a;
    }

private slots:
    void init()
    {
        requests.clear();
    }

    void cleanup()
    {
        ModalDialogs::setResponder(ModalDialogs::Responder());
    }

    void responderInstallAndRemove()
    {
        QVERIFY(!ModalDialogs::hasResponder());
        script(answer(true));
        QVERIFY(ModalDialogs::hasResponder());
        ModalDialogs::setResponder(ModalDialogs::Responder());
        QVERIFY(!ModalDialogs::hasResponder());
    }

    void messageBoxes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QMessageBox::StandardButtons>("buttons");
        QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QMessageBox::StandardButton>("expected");

        const QMessageBox::StandardButtons ok = QMessageBox::Ok;
        const QMessageBox::StandardButtons yesNo = QMessageBox::Yes | QMessageBox::No;
        const QMessageBox::StandardButtons yesNoCancel = yesNo | QMessageBox::Cancel;
        const QVariant none;
        QTest::newRow("information, accepted") << int(ModalDialogs::Information) << ok << QMessageBox::NoButton
                                               << true << none << QMessageBox::Ok;
        QTest::newRow("critical, closed") << int(ModalDialogs::Critical) << ok << QMessageBox::NoButton << false
                                          << none << QMessageBox::Ok;
        QTest::newRow("question, accepted without default") << int(ModalDialogs::Question) << yesNo
                                                            << QMessageBox::NoButton << true << none
                                                            << QMessageBox::Yes;
        QTest::newRow("question, accepted takes default") << int(ModalDialogs::Question) << yesNo
                                                          << QMessageBox::No << true << none << QMessageBox::No;
        QTest::newRow("question, escaped") << int(ModalDialogs::Question) << yesNo << QMessageBox::Yes << false
                                           << none << QMessageBox::No;
        QTest::newRow("question with cancel, escaped") << int(ModalDialogs::Question) << yesNoCancel
                                                       << QMessageBox::Yes << false << none
                                                       << QMessageBox::Cancel;
        QTest::newRow("warning, button chosen") << int(ModalDialogs::Warning) << yesNoCancel
                                                << QMessageBox::Yes << true << QVariant(int(QMessageBox::No))
                                                << QMessageBox::No;
    }

    void messageBoxes()
    {
        QFETCH(int, kind);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        QFETCH(bool, accepted);
        QFETCH(QVariant, value);
        QFETCH(QMessageBox::StandardButton, expected);

        script(answer(accepted, value));
        QWidget parent;
        QMessageBox::StandardButton result = QMessageBox::NoButton;
        switch (kind) {
        case ModalDialogs::Critical:
            result = ModalDialogs::critical(&parent, "Title", "Text", buttons, defaultButton);
            break;
        case ModalDialogs::Warning:
            result = ModalDialogs::warning(&parent, "Title", "Text", buttons, defaultButton);
            break;
        case ModalDialogs::Information:
            result = ModalDialogs::information(&parent, "Title", "Text", buttons, defaultButton);
            break;
        default:
            result = ModalDialogs::question(&parent, "Title", "Text", buttons, defaultButton);
            break;
        }
        QCOMPARE(result, expected);
        QCOMPARE(requests.size(), 1);
        const ModalDialogs::Request &request = requests.first();
        QCOMPARE(int(request.kind), kind);
        QCOMPARE(request.parent, &parent);
        QCOMPARE(request.title, QString("Title"));
        QCOMPARE(request.text, QString("Text"));
        QCOMPARE(request.buttons, buttons);
        QCOMPARE(request.defaultButton, defaultButton);
    }

    void fileNames_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("open") << int(ModalDialogs::OpenFileName);
        QTest::newRow("save") << int(ModalDialogs::SaveFileName);
    }

    void fileNames()
    {
        QFETCH(int, kind);
        const auto ask = [kind](QString *filter) {
            return kind == ModalDialogs::OpenFileName
                       ? ModalDialogs::getOpenFileName(nullptr, "Caption", "/start/part.slc", "SLC (*.slc)", filter)
                       : ModalDialogs::getSaveFileName(nullptr, "Caption", "/start/part.slc", "SLC (*.slc)", filter);
        };

        script(answer(true, "/chosen/file.slc", "SLC (*.slc)"));
        QString filter = "before";
        QCOMPARE(ask(&filter), QString("/chosen/file.slc"));
        QCOMPARE(filter, QString("SLC (*.slc)"));
        QCOMPARE(int(requests.last().kind), kind);
        QCOMPARE(requests.last().title, QString("Caption"));
        QCOMPARE(requests.last().directory, QString("/start/part.slc"));
        QCOMPARE(requests.last().filter, QString("SLC (*.slc)"));

        // Cancel gives no name even when the script carries one, and leaves the filter alone.
        script(answer(false, "/ignored.slc"));
        filter = "before";
        QVERIFY(ask(&filter).isEmpty());
        QCOMPARE(filter, QString("before"));
        QVERIFY(ask(nullptr).isEmpty());
    }

    void existingDirectory()
    {
        script(answer(true, "/out"));
        QCOMPARE(ModalDialogs::getExistingDirectory(nullptr, "Caption", "/start"), QString("/out"));
        QCOMPARE(int(requests.last().kind), int(ModalDialogs::ExistingDirectory));
        QCOMPARE(requests.last().directory, QString("/start"));
    }

    void numbers_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("expectedInt");
        QTest::addColumn<double>("expectedDouble");

        QTest::newRow("typed") << true << QVariant(7) << 7 << 7.0;
        QTest::newRow("no value keeps initial") << true << QVariant() << 5 << 5.0;
        QTest::newRow("above range") << true << QVariant(1000) << 10 << 10.0;
        QTest::newRow("below range") << true << QVariant(-1000) << 1 << 1.0;
        QTest::newRow("cancelled keeps initial") << false << QVariant(9) << 5 << 5.0;
    }

    void numbers()
    {
        QFETCH(bool, accepted);
        QFETCH(QVariant, value);
        QFETCH(int, expectedInt);
        QFETCH(double, expectedDouble);

        script(answer(accepted, value));
        bool ok = !accepted;
        QCOMPARE(ModalDialogs::getInt(nullptr, "Go to Slice", "Slice:", 5, 1, 10, 1, &ok), expectedInt);
        QCOMPARE(ok, accepted);
        QCOMPARE(int(requests.last().kind), int(ModalDialogs::Int));
        QCOMPARE(requests.last().minimum, QVariant(1));
        QCOMPARE(requests.last().maximum, QVariant(10));

        ok = !accepted;
        QCOMPARE(ModalDialogs::getDouble(nullptr, "Go to Slice Z", "Z:", 5.0, 1.0, 10.0, 3, &ok), expectedDouble);
        QCOMPARE(ok, accepted);
        QCOMPARE(int(requests.last().kind), int(ModalDialogs::Double));
        QCOMPARE(requests.last().decimals, 3);
    }

    void item()
    {
        const QStringList items{"first", "second"};
        bool ok = false;
        script(answer(true));
        QCOMPARE(ModalDialogs::getItem(nullptr, "Title", "Label", items, 1, false, &ok), QString("second"));
        QVERIFY(ok);
        QCOMPARE(requests.last().items, items);
        QCOMPARE(requests.last().value, QVariant(1));

        script(answer(true, "first"));
        QCOMPARE(ModalDialogs::getItem(nullptr, "Title", "Label", items, 1, false, &ok), QString("first"));

        script(answer(false, "first"));
        QVERIFY(ModalDialogs::getItem(nullptr, "Title", "Label", items, 1, false, &ok).isEmpty());
        QVERIFY(!ok);
    }

    void exec_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("accepted") << true << QVariant() << int(QDialog::Accepted);
        QTest::newRow("rejected") << false << QVariant() << int(QDialog::Rejected);
        QTest::newRow("own result code") << true << QVariant(42) << 42;
    }

    void exec()
    {
        QFETCH(bool, accepted);
        QFETCH(QVariant, value);
        QFETCH(int, expected);

        QWidget parent;
        QDialog *dialog = new QDialog(&parent);
        dialog->setWindowTitle("Export STL");
        script(answer(accepted, value));
        QCOMPARE(ModalDialogs::exec(dialog), expected);
        QCOMPARE(int(requests.last().kind), int(ModalDialogs::Exec));
        QCOMPARE(requests.last().dialog, dialog);
        QCOMPARE(requests.last().parent, &parent);
        QCOMPARE(requests.last().title, QString("Export STL"));
        QVERIFY(!dialog->isVisible());
    }
};

QTEST_MAIN(TestModalDialogs)
#include "tst_modaldialogs.moc"
