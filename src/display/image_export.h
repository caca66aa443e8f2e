#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "platform/file_system.h"
#include "platform/picture_codec.h"

namespace velkantor::display {

// The image type of the general setting `drum_format`: 0 BMP, 1 GIF, 2/3/4 JPEG at quality
// 40, 75 and 90. Any other value is taken as the default, JPEG at 75.
struct DrumImageType {
    platform::ImageFormat format;
    int quality;
    const char* extension;  // as written: ".BMP", ".GIF", ".JPG"
};
DrumImageType drum_image_type(int16_t drum_format);

// base + ".bmp", ".gif" or ".jpg" by `drum_format`: the name by which an image is looked for.
std::string DrumImageFileName(const std::string& base, int16_t drum_format);

// The existing image of `base` in the configured format: the upper-case name that the export
// writes, else the lower-case one (a folder brought from a case-blind file system). Empty
// when there is neither.
std::string FindDrumImage(const platform::FileSystem& fs, const std::string& base,
                          int16_t drum_format);

// Writes the picture to base + extension: encoded in memory, written under a temporary name
// and renamed over the old file, so a web page fetching the image never gets half of one and
// a failed export leaves the old file in place. Empty text, or why not.
std::string ExportDrumImage(platform::FileSystem& fs, platform::PictureCodec& codec,
                            const platform::Canvas& picture, const std::string& base,
                            int16_t drum_format);

}  // namespace velkantor::display
