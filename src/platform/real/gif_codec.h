#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkantor::platform {

// A picture as 0xRRGGBB pixels, row by row from the top.
struct RgbPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

// GIF bytes of the picture. A picture of at most 256 colours keeps every colour exactly (a
// drum's white stays 255,255,255); a richer one, such as a spectrum's colour ramp, is mapped
// to the nearest of the sixteen chart colours and a 6 x 8 x 5 colour cube, which keeps every
// step of the ramp recognisable. Empty when the encoder fails.
std::string encode_gif(const RgbPicture& picture);

// The first image of a GIF file; nullopt when the bytes are not a readable GIF.
std::optional<RgbPicture> decode_gif(std::string_view bytes);

}  // namespace velkantor::platform
