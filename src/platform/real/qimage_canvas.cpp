#include "platform/real/qimage_canvas.h"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <cstdio>

namespace velkantor::platform {

namespace {

QColor qcolor(Color c) { return QColor(c.r, c.g, c.b); }

}  // namespace

QImageCanvas::QImageCanvas(int width, int height)
    : image_(std::make_unique<QImage>(width, height, QImage::Format_RGB32)),
      right_(width),
      bottom_(height) {
    image_->fill(Qt::black);
}

QImageCanvas::~QImageCanvas() = default;

int QImageCanvas::width() const { return image_->width(); }
int QImageCanvas::height() const { return image_->height(); }

void QImageCanvas::set_scale(double left, double top, double right, double bottom) {
    if (right == left || bottom == top) return;
    left_ = left, top_ = top, right_ = right, bottom_ = bottom;
}

double QImageCanvas::px(double x) const { return (x - left_) / (right_ - left_) * width(); }
double QImageCanvas::py(double y) const { return (y - top_) / (bottom_ - top_) * height(); }

void QImageCanvas::clear(Color color) { image_->fill(qcolor(color)); }

void QImageCanvas::line(double x1, double y1, double x2, double y2, Color color,
                        LineStyle style) {
    QPainter painter(image_.get());
    QPen pen(qcolor(color));
    pen.setStyle(style == LineStyle::dotted ? Qt::DotLine : Qt::SolidLine);
    painter.setPen(pen);
    painter.drawLine(QPointF(px(x1), py(y1)), QPointF(px(x2), py(y2)));
}

void QImageCanvas::box(double x1, double y1, double x2, double y2, Color color) {
    QPainter painter(image_.get());
    painter.fillRect(QRectF(QPointF(px(x1), py(y1)), QPointF(px(x2), py(y2))).normalized(),
                     qcolor(color));
}

void QImageCanvas::point(double x, double y, Color color) {
    int ix = static_cast<int>(px(x));
    int iy = static_cast<int>(py(y));
    if (ix >= 0 && iy >= 0 && ix < width() && iy < height()) image_->setPixelColor(ix, iy, qcolor(color));
}

void QImageCanvas::text(int x, int y, std::string_view text, Color color) {
    QPainter painter(image_.get());
    painter.setPen(qcolor(color));
    QFontMetrics metrics(painter.font());
    painter.drawText(QPointF(x, y + metrics.ascent()),
                     QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

std::string QImageCanvas::save(const std::string& path, int quality) const {
    auto dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "png" : path.substr(dot + 1);
    std::string temporary = path + ".tmp";
    if (!image_->save(QString::fromStdString(temporary), extension.c_str(), quality)) {
        std::remove(temporary.c_str());
        return "cannot write " + path;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return "cannot replace " + path;
    }
    return {};
}

}  // namespace velkantor::platform
