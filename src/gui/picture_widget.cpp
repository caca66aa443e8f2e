#include "gui/picture_widget.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

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

void PictureWidget::refresh_columns(int x0, int x1) {
    const QImage& image = picture_->image();
    if (image.width() <= 0) return;
    double scale = static_cast<double>(width()) / image.width();
    int left = static_cast<int>(std::floor(std::min(x0, x1) * scale)) - 1;
    int right = static_cast<int>(std::ceil((std::max(x0, x1) + 1) * scale)) + 1;
    update(QRect(left, 0, right - left, height()));
}

void PictureWidget::paintEvent(QPaintEvent* event) {
    // Only the part that changed is copied: the charts change a narrow strip at a time.
    QPainter painter(this);
    const QImage& image = picture_->image();
    QRect target = event->rect();
    double sx = static_cast<double>(image.width()) / std::max(width(), 1);
    double sy = static_cast<double>(image.height()) / std::max(height(), 1);
    QRectF source(target.x() * sx, target.y() * sy, target.width() * sx, target.height() * sy);
    painter.drawImage(QRectF(target), image, source);
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
