#include "platform/real/qt_picture_codec.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include "platform/real/gif_codec.h"
#include "platform/real/qimage_canvas.h"

namespace velkantor::platform {

namespace {

constexpr int kMaxSide = 16384;

RgbPicture to_rgb(const QImage& image) {
    RgbPicture picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.pixels.reserve(static_cast<size_t>(picture.width) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
        for (int x = 0; x < picture.width; ++x) picture.pixels.push_back(row[x] & 0xFFFFFF);
    }
    return picture;
}

// Copies a picture onto the canvas from its top-left corner; what does not fit is cut off.
void paste(const QImage& from, QImageCanvas& canvas) {
    QImage source = from.convertToFormat(QImage::Format_RGB32);
    int w = std::min(source.width(), canvas.width());
    int h = std::min(source.height(), canvas.height());
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const uint32_t*>(source.constScanLine(y));
        auto* out = reinterpret_cast<uint32_t*>(canvas.image().scanLine(y));
        std::copy(in, in + w, out);
    }
}

}  // namespace

std::unique_ptr<Canvas> QtPictureCodec::make_canvas(int width, int height) {
    return std::make_unique<QImageCanvas>(width, height);
}

std::string QtPictureCodec::encode(const Canvas& canvas, ImageFormat format, int quality) {
    const auto* picture = dynamic_cast<const QImageCanvas*>(&canvas);
    if (!picture) return {};
    if (format == ImageFormat::gif) return encode_gif(to_rgb(picture->image()));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const char* name = format == ImageFormat::bmp ? "BMP" : "JPG";
    if (format == ImageFormat::jpeg) {
        // The JPEG writer takes three-byte pixels a line at a time as they are; handed the
        // canvas's four-byte pixels it converts them one by one.
        if (!picture->image().convertToFormat(QImage::Format_RGB888).save(&buffer, name, quality)) {
            return {};
        }
        return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
    }
    if (!picture->image().save(&buffer, name, -1)) return {};
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool QtPictureCodec::decode(std::string_view bytes, Canvas& canvas) {
    auto* picture = dynamic_cast<QImageCanvas*>(&canvas);
    if (!picture) return false;
    if (bytes.substr(0, 3) == "GIF") {
        auto gif = decode_gif(bytes);
        if (!gif) return false;
        QImage image(reinterpret_cast<const uchar*>(gif->pixels.data()), gif->width, gif->height,
                     gif->width * 4, QImage::Format_RGB32);
        paste(image, *picture);
        return true;
    }
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QSize size = reader.size();
    // The header's size is checked before the pixels are read: a damaged file must not
    // make the station allocate gigabytes.
    if (!size.isValid() || size.width() > kMaxSide || size.height() > kMaxSide) return false;
    QImage image = reader.read();
    if (image.isNull()) return false;
    paste(image, *picture);
    return true;
}

}  // namespace velkantor::platform
