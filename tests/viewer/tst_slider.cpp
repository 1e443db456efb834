#include "slider.h"

#include <QWheelEvent>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

// The wheel over the slice slider belongs to the window, which turns it into slice steps.
class TestSlider : public QObject
{
    Q_OBJECT

private:
    class Parent : public QWidget
    {
    public:
        int wheels = 0;
        int delta = 0;

    protected:
        void wheelEvent(QWheelEvent *e) override
        {
            ++wheels;
            delta += e->angleDelta().y();
        }
    };

private slots:
    void wheelReachesTheParent_data()
    {
        QTest::addColumn<int>("delta");
        QTest::newRow("forward") << 120;
        QTest::newRow("back") << -240;
    }

    void wheelReachesTheParent()
    {
        QFETCH(int, delta);
        Parent parent;
        Slider *slider = new Slider(&parent);
        slider->setOrientation(Qt::Horizontal);
        slider->setRange(1, 50);
        slider->setValue(20);
        parent.resize(200, 40);
        slider->setGeometry(0, 0, 200, 30);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));

        const QPoint pos(100, 15);
        QWheelEvent event(QPointF(pos), QPointF(slider->mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        // Delivered as the window system would: only such wheel events travel up to the parents.
        QSpontaneKeyEvent::setSpontaneous(&event);
        qApp->notify(slider, &event);
        QCOMPARE(slider->value(), 20);
        QCOMPARE(parent.wheels, 1);
        QCOMPARE(parent.delta, delta);
    }

    void defaults()
    {
        Slider slider(nullptr);
        QCOMPARE(slider.singleStep(), 1);
        QCOMPARE(slider.pageStep(), 10);
    }
};

QTEST_MAIN(TestSlider)
#include "tst_slider.moc"
