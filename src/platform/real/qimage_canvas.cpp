#include "platform/real/qimage_canvas.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "platform/real/canvas_font.h"

namespace velkantor::platform {

namespace {

uint32_t argb(Color c) {
    return 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

// The pixel that holds a position; the far edge of the scale belongs to the last pixel.
int pixel_index(double v, int size) {
    double f = std::floor(v);
    if (f >= size) return v <= size ? size - 1 : size;
    if (f < -1) return -1;
    return static_cast<int>(f);
}

// Cuts the segment to the rectangle [lo, hi] on both axes (Liang-Barsky); false when
// nothing of it is inside.
bool clip(double& x1, double& y1, double& x2, double& y2, double lo_x, double lo_y, double hi_x,
          double hi_y) {
    double t0 = 0, t1 = 1;
    double dx = x2 - x1, dy = y2 - y1;
    auto edge = [&](double p, double q) {
        if (p == 0) return q >= 0;
        double r = q / p;
        if (p < 0) {
            if (r > t1) return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0) return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, x1 - lo_x) || !edge(dx, hi_x - x1) || !edge(-dy, y1 - lo_y) ||
        !edge(dy, hi_y - y1)) {
        return false;
    }
    double nx1 = x1 + t0 * dx, ny1 = y1 + t0 * dy;
    double nx2 = x1 + t1 * dx, ny2 = y1 + t1 * dy;
    x1 = nx1, y1 = ny1, x2 = nx2, y2 = ny2;
    return true;
}

}  // namespace

QImageCanvas::QImageCanvas(int width, int height)
    : image_(
          std::make_unique<QImage>(std::max(width, 1), std::max(height, 1), QImage::Format_RGB32)),
      right_(std::max(width, 1)),
      bottom_(std::max(height, 1)) {
    image_->fill(0xFF000000u);
}

QImageCanvas::~QImageCanvas() = default;

int QImageCanvas::width() const {
    return image_->width();
}
int QImageCanvas::height() const {
    return image_->height();
}

void QImageCanvas::set_scale(double left, double top, double right, double bottom) {
    if (!(right != left) || !(bottom != top) || !std::isfinite(left + top + right + bottom)) return;
    left_ = left, top_ = top, right_ = right, bottom_ = bottom;
}

double QImageCanvas::to_px(double x) const {
    return (x - left_) / (right_ - left_) * width();
}
double QImageCanvas::to_py(double y) const {
    return (y - top_) / (bottom_ - top_) * height();
}

void QImageCanvas::put(int x, int y, uint32_t rgb) {
    if (x < 0 || y < 0 || x >= width() || y >= height()) return;
    reinterpret_cast<uint32_t*>(image_->scanLine(y))[x] = rgb;
}

Color QImageCanvas::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width() || y >= height()) return {};
    uint32_t v = reinterpret_cast<const uint32_t*>(image_->constScanLine(y))[x];
    return {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

void QImageCanvas::clear(Color color) {
    image_->fill(argb(color));
}

void QImageCanvas::line(double x1, double y1, double x2, double y2, Color color, LineStyle style) {
    double ax = to_px(x1), ay = to_py(y1), bx = to_px(x2), by = to_py(y2);
    if (!std::isfinite(ax + ay + bx + by)) return;
    if (!clip(ax, ay, bx, by, -1, -1, width() + 1, height() + 1)) return;
    int x = pixel_index(ax, width()), y = pixel_index(ay, height());
    int xe = pixel_index(bx, width()), ye = pixel_index(by, height());
    uint32_t rgb = argb(color);
    auto* bits = reinterpret_cast<uint32_t*>(image_->bits());
    const auto stride = static_cast<ptrdiff_t>(image_->bytesPerLine() / 4);
    const int w = width(), h = height();
    if (x == xe && style == LineStyle::solid) {
        // A drum second and a chart's erase edge are vertical: one column, no stepping.
        if (x < 0 || x >= w) return;
        int top = std::max(std::min(y, ye), 0), bottom = std::min(std::max(y, ye), h - 1);
        for (int row = top; row <= bottom; ++row) bits[row * stride + x] = rgb;
        return;
    }
    int dx = std::abs(xe - x), dy = -std::abs(ye - y);
    int sx = x < xe ? 1 : -1, sy = y < ye ? 1 : -1;
    int err = dx + dy;
    // Dotted: one pixel on, two off, counted from the line's first point.
    for (int step = 0;; ++step) {
        if ((style == LineStyle::solid || step % 3 == 0) && x >= 0 && y >= 0 && x < w && y < h) {
            bits[y * stride + x] = rgb;
        }
        if (x == xe && y == ye) break;
        int e2 = 2 * err;
        if (e2 >= dy) err += dy, x += sx;
        if (e2 <= dx) err += dx, y += sy;
    }
}

void QImageCanvas::box(double x1, double y1, double x2, double y2, Color color) {
    double ax = to_px(x1), ay = to_py(y1), bx = to_px(x2), by = to_py(y2);
    if (!std::isfinite(ax + ay + bx + by)) return;
    int left = std::max(pixel_index(std::min(ax, bx), width()), 0);
    int right = std::min(pixel_index(std::max(ax, bx), width()), width() - 1);
    int top = std::max(pixel_index(std::min(ay, by), height()), 0);
    int bottom = std::min(pixel_index(std::max(ay, by), height()), height() - 1);
    uint32_t rgb = argb(color);
    for (int y = top; y <= bottom; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image_->scanLine(y));
        std::fill(row + left, row + right + 1, rgb);
    }
}

void QImageCanvas::point(double x, double y, Color color) {
    double ax = to_px(x), ay = to_py(y);
    if (!std::isfinite(ax + ay)) return;
    put(pixel_index(ax, width()), pixel_index(ay, height()), argb(color));
}

void QImageCanvas::text(int px, int py, std::string_view text, Color color) {
    uint32_t rgb = argb(color);
    int x0 = px;
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        // The font is ASCII: a character beyond it shows as one '?'.
        if ((code & 0xC0) == 0x80) continue;
        if (code >= 0xC0) code = '?';
        if (code >= 32 && code < 127) {
            const auto& glyph = kCanvasFont[code - 32];
            for (int row = 0; row < kGlyphHeight; ++row) {
                for (int col = 0; col < kGlyphWidth; ++col) {
                    if (glyph[static_cast<size_t>(row)] >> col & 1) put(x0 + col, py + row, rgb);
                }
            }
        }
        x0 += kGlyphWidth;
    }
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
