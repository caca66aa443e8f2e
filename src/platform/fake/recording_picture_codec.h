#pragma once

#include <memory>
#include <string>

#include "platform/fake/recording_canvas.h"
#include "platform/picture_codec.h"

namespace velkantor::platform {

// Pictures that remember their drawing calls. An encoded picture is a short text naming its
// format and the number of calls drawn, which decode() reads back; anything else is refused.
class RecordingPictureCodec : public PictureCodec {
public:
    std::unique_ptr<Canvas> make_canvas(int width, int height) override {
        return std::make_unique<RecordingCanvas>(width, height);
    }
    std::string encode(const Canvas& canvas, ImageFormat format, int quality) override {
        if (fail_encode) return {};
        const auto& picture = dynamic_cast<const RecordingCanvas&>(canvas);
        static constexpr const char* kNames[] = {"bmp", "gif", "jpeg"};
        return std::string("picture ") + kNames[static_cast<int>(format)] + " " +
               std::to_string(quality) + " " + std::to_string(picture.ops.size());
    }
    bool decode(std::string_view bytes, Canvas& canvas) override {
        if (bytes.substr(0, 8) != "picture ") return false;
        auto& picture = dynamic_cast<RecordingCanvas&>(canvas);
        picture.ops.push_back({RecordingCanvas::Op::label,
                               0,
                               0,
                               0,
                               0,
                               {},
                               LineStyle::solid,
                               "decoded " + std::string(bytes)});
        return true;
    }

    bool fail_encode = false;
};

}  // namespace velkantor::platform
