#include "display/image_export.h"

#include "text/strings.h"

namespace velkantor::display {

DrumImageType drum_image_type(int16_t drum_format) {
    switch (drum_format) {
        case 0:
            return {platform::ImageFormat::bmp, 100, ".BMP"};
        case 1:
            return {platform::ImageFormat::gif, 100, ".GIF"};
        case 2:
            return {platform::ImageFormat::jpeg, 40, ".JPG"};
        case 4:
            return {platform::ImageFormat::jpeg, 90, ".JPG"};
        default:
            return {platform::ImageFormat::jpeg, 75, ".JPG"};
    }
}

std::string DrumImageFileName(const std::string& base, int16_t drum_format) {
    return base + text::to_lower(drum_image_type(drum_format).extension);
}

std::string FindDrumImage(const platform::FileSystem& fs, const std::string& base,
                          int16_t drum_format) {
    std::string written = base + drum_image_type(drum_format).extension;
    if (fs.exists(written)) return written;
    std::string looked_up = DrumImageFileName(base, drum_format);
    if (fs.exists(looked_up)) return looked_up;
    return {};
}

std::string ExportDrumImage(platform::FileSystem& fs, platform::PictureCodec& codec,
                            const platform::Canvas& picture, const std::string& base,
                            int16_t drum_format) {
    DrumImageType type = drum_image_type(drum_format);
    std::string bytes = codec.encode(picture, type.format, type.quality);
    std::string target = base + type.extension;
    if (bytes.empty()) return "cannot encode " + target;
    auto written = fs.replace_file(target, bytes);
    if (!written) return "cannot write " + target + ": " + written.error;
    return {};
}

}  // namespace velkantor::display
