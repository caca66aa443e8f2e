#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/canvas.h"

class QImage;

namespace velkantor::platform {

// A canvas on a QImage; works without a display. Lines, boxes and the built-in font are
// rasterised here, pixel for pixel the same on every machine, so saved pictures can be
// compared exactly and a drum of a thousand strokes a minute stays cheap.
class QImageCanvas : public Canvas {
public:
    QImageCanvas(int width, int height);
    ~QImageCanvas() override;

    int width() const override;
    int height() const override;
    void set_scale(double left, double top, double right, double bottom) override;
    void clear(Color color) override;
    void line(double x1, double y1, double x2, double y2, Color color,
              LineStyle style = LineStyle::solid) override;
    void box(double x1, double y1, double x2, double y2, Color color) override;
    void point(double x, double y, Color color) override;
    void text(int px, int py, std::string_view text, Color color) override;

    // Empty text on success, else why not. The format follows the extension (png, bmp, jpg);
    // the file is written under a temporary name and renamed.
    std::string save(const std::string& path, int quality = -1) const;
    const QImage& image() const { return *image_; }
    QImage& image() { return *image_; }
    Color pixel(int x, int y) const;

private:
    double to_px(double x) const;
    double to_py(double y) const;
    void put(int x, int y, uint32_t rgb);

    std::unique_ptr<QImage> image_;
    double left_ = 0, top_ = 0, right_ = 1, bottom_ = 1;
};

}  // namespace velkantor::platform
