#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velkantor::platform {

struct Color {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend bool operator==(const Color&, const Color&) = default;
};

// `chart_colors`: the standard sixteen-colour palette, by index.
inline constexpr std::array<Color, 16> kChartColors = {{
    {0, 0, 0},
    {0, 0, 128},
    {0, 128, 0},
    {0, 128, 128},
    {128, 0, 0},
    {128, 0, 128},
    {128, 128, 0},
    {192, 192, 192},
    {128, 128, 128},
    {0, 0, 255},
    {0, 255, 0},
    {0, 255, 255},
    {255, 0, 0},
    {255, 0, 255},
    {255, 255, 0},
    {255, 255, 255},
}};

enum class LineStyle { solid, dotted };

// A raster picture that charts, drums, spectra and review pages draw on. Coordinates are
// in the user scale set last (pixels until one is set); text is placed at a pixel position
// with its top-left corner there.
class Canvas {
public:
    virtual ~Canvas() = default;
    virtual int width() const = 0;   // pixels
    virtual int height() const = 0;  // pixels
    // The user scale: the picture's left, top, right and bottom edges in user units.
    virtual void set_scale(double left, double top, double right, double bottom) = 0;
    virtual void clear(Color color) = 0;
    virtual void line(double x1, double y1, double x2, double y2, Color color,
                      LineStyle style = LineStyle::solid) = 0;
    virtual void box(double x1, double y1, double x2, double y2, Color color) = 0;  // filled
    virtual void point(double x, double y, Color color) = 0;
    virtual void text(int px, int py, std::string_view text, Color color) = 0;
};

}  // namespace velkantor::platform
