#pragma once

#include "platform/picture_codec.h"

namespace velkantor::platform {

// Pictures on QImage: BMP and JPEG through Qt's own writers, GIF through giflib.
class QtPictureCodec : public PictureCodec {
public:
    std::unique_ptr<Canvas> make_canvas(int width, int height) override;
    std::string encode(const Canvas& canvas, ImageFormat format, int quality) override;
    bool decode(std::string_view bytes, Canvas& canvas) override;
};

}  // namespace velkantor::platform
