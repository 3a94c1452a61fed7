#include "labels.h"

ClickableLabel::ClickableLabel(QWidget *parent) : QLabel(parent) {}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *)
{
    emit clicked();
}

ShapedLabel::ShapedLabel(QWidget *parent) : QLabel(parent) {}

void ShapedLabel::mouseReleaseEvent(QMouseEvent *)
{
    emit clicked();
}
