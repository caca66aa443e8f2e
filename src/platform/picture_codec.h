#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/canvas.h"

namespace velkantor::platform {

enum class ImageFormat { bmp, gif, jpeg };

// Makes the raster pictures that drums and spectra draw on, and turns them into image file
// bytes and back. The files themselves are read and written by the caller through the
// FileSystem (a temporary name, then a rename), so no picture is ever half written under
// its final name.
class PictureCodec {
public:
    virtual ~PictureCodec() = default;
    virtual std::unique_ptr<Canvas> make_canvas(int width, int height) = 0;
    // The image file bytes of a canvas made by this codec; empty when it cannot be encoded.
    // `quality` (1..100) is used by JPEG only.
    virtual std::string encode(const Canvas& canvas, ImageFormat format, int quality) = 0;
    // Puts the picture of an image file on the canvas, from its top-left corner. False when
    // the bytes are not an image this codec reads; the canvas is then unchanged.
    virtual bool decode(std::string_view bytes, Canvas& canvas) = 0;
};

}  // namespace velkantor::platform
