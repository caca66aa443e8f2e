#pragma once

#include <memory>
#include <string>

#include "platform/canvas.h"

class QImage;

namespace velkantor::platform {

// A canvas on a QImage: works without a display. Saving writes a temporary file and renames
// it, so a picture fetched while it is rewritten is never half written.
class QImageCanvas : public Canvas {
public:
    QImageCanvas(int width, int height);
    ~QImageCanvas() override;

    int width() const override;
    int height() const override;
    void set_scale(double left, double top, double right, double bottom) override;
    void clear(Color color) override;
    void line(double x1, double y1, double x2, double y2, Color color, LineStyle style) override;
    void box(double x1, double y1, double x2, double y2, Color color) override;
    void point(double x, double y, Color color) override;
    void text(int px, int py, std::string_view text, Color color) override;

    // Empty text on success, else why not. The format follows the extension (png, bmp, jpg).
    std::string save(const std::string& path, int quality = -1) const;
    const QImage& image() const { return *image_; }

private:
    double px(double x) const;
    double py(double y) const;

    std::unique_ptr<QImage> image_;
    double left_ = 0, top_ = 0, right_ = 1, bottom_ = 1;
};

}  // namespace velkantor::platform
