#include "gui/picture_widget.h"

#include <QMouseEvent>
#include <QPainter>

namespace velkantor::gui {

PictureWidget::PictureWidget(platform::QImageCanvas& picture, QWidget* parent)
    : QWidget(parent), picture_(&picture) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 60);
}

void PictureWidget::set_picture(platform::QImageCanvas& picture) {
    picture_ = &picture;
    update();
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(rect(), picture_->image());
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
    if (on_click) on_click(event);
}

void PictureWidget::mouseDoubleClickEvent(QMouseEvent* event) {
    if (on_double_click) on_double_click(event);
}

void PictureWidget::mouseMoveEvent(QMouseEvent* event) {
    if (on_move) on_move(event);
}

}  // namespace velkantor::gui
