#pragma once

#include <string>
#include <vector>

#include "platform/canvas.h"

namespace velkantor::platform {

// Remembers every drawing call, in user units, for tests to inspect.
class RecordingCanvas : public Canvas {
public:
    struct Op {
        enum Kind { clear, line, box, point, label } kind;
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        Color color;
        LineStyle style = LineStyle::solid;
        std::string text;
    };

    RecordingCanvas(int width, int height) : width_(width), height_(height) {}
    int width() const override { return width_; }
    int height() const override { return height_; }
    void set_scale(double, double, double, double) override {}
    void clear(Color color) override { add(Op::clear, 0, 0, 0, 0, color); }
    void line(double x1, double y1, double x2, double y2, Color color, LineStyle style) override {
        add(Op::line, x1, y1, x2, y2, color, style);
    }
    void box(double x1, double y1, double x2, double y2, Color color) override {
        add(Op::box, x1, y1, x2, y2, color);
    }
    void point(double x, double y, Color color) override { add(Op::point, x, y, x, y, color); }
    void text(int px, int py, std::string_view text, Color color) override {
        ops.push_back(
            {Op::label, double(px), double(py), 0, 0, color, LineStyle::solid, std::string(text)});
    }

    std::vector<Op> ops;

private:
    void add(Op::Kind kind, double x1, double y1, double x2, double y2, Color color,
             LineStyle style = LineStyle::solid) {
        ops.push_back({kind, x1, y1, x2, y2, color, style, {}});
    }

    int width_;
    int height_;
};

}  // namespace velkantor::platform
