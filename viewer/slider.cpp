#include "slider.h"

#include <QWheelEvent>

Slider::Slider(QWidget *parent)
    : QSlider(parent)
{
}

void Slider::wheelEvent(QWheelEvent *e)
{
    e->ignore();
}
