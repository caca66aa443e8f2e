#pragma once

#include <array>
#include <cstdint>

namespace velkantor::platform {

// The pictures' own font, built in so that labels look the same on every machine and never
// come out as empty boxes on a box without fonts.
inline constexpr int kGlyphWidth = 7;
inline constexpr int kGlyphHeight = 14;
extern const std::array<std::array<uint8_t, kGlyphHeight>, 95> kCanvasFont;

}  // namespace velkantor::platform
