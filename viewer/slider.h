#ifndef SLIDER_H
#define SLIDER_H

#include <QSlider>

class QWheelEvent;

// The slice slider. It leaves wheel events to its parents so that the main window alone turns
// wheel steps into slice steps (with Shift for page steps).
class Slider : public QSlider
{
    Q_OBJECT

public:
    explicit Slider(QWidget *parent = nullptr);

protected:
    void wheelEvent(QWheelEvent *e) override;
};

#endif // SLIDER_H
