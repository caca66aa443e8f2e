#include <gtest/gtest.h>

#include <QImage>

#include "platform/real/gif_codec.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"

namespace velkantor::platform {
namespace {

constexpr Color kWhite{255, 255, 255};
constexpr Color kBlue{0, 0, 128};
constexpr Color kRed{255, 0, 0};

// A picture with a few exact colours: what a drum holds.
std::unique_ptr<Canvas> small_drum(QtPictureCodec& codec) {
    auto canvas = codec.make_canvas(40, 30);
    canvas->clear(kWhite);
    canvas->box(5, 5, 10, 10, kBlue);
    canvas->line(0, 29, 39, 0, kRed);
    return canvas;
}

TEST(PictureCodec, EveryFormatReadsBack) {
    struct Case {
        ImageFormat format;
        int quality;
        bool exact;
    };
    const Case cases[] = {{ImageFormat::bmp, 100, true},
                          {ImageFormat::gif, 100, true},
                          {ImageFormat::jpeg, 90, false},
                          {ImageFormat::jpeg, 40, false}};
    QtPictureCodec codec;
    auto original = small_drum(codec);
    const auto& drawn = dynamic_cast<const QImageCanvas&>(*original);
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format) * 1000 + c.quality);
        std::string bytes = codec.encode(*original, c.format, c.quality);
        ASSERT_FALSE(bytes.empty());
        auto copy = codec.make_canvas(40, 30);
        ASSERT_TRUE(codec.decode(bytes, *copy));
        const auto& read = dynamic_cast<const QImageCanvas&>(*copy);
        if (c.exact) {
            // White must stay 255,255,255: a web page's drums sit on a white background.
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 40; ++x) ASSERT_EQ(read.pixel(x, y), drawn.pixel(x, y));
        } else {
            Color corner = read.pixel(35, 25);
            EXPECT_GT(corner.r, 240);
            EXPECT_GT(corner.b, 240);
        }
    }
}

TEST(PictureCodec, JpegQualityChangesTheFile) {
    QtPictureCodec codec;
    auto canvas = codec.make_canvas(200, 100);
    for (int x = 0; x < 200; x += 3) canvas->line(x, 0, 199 - x, 99, {uint8_t(x), 80, 200});
    EXPECT_LT(codec.encode(*canvas, ImageFormat::jpeg, 40).size(),
              codec.encode(*canvas, ImageFormat::jpeg, 90).size());
}

TEST(PictureCodec, ForeignAndDamagedBytesAreRefused) {
    QtPictureCodec codec;
    auto good = small_drum(codec);
    std::string gif = codec.encode(*good, ImageFormat::gif, 100);
    std::string bmp = codec.encode(*good, ImageFormat::bmp, 100);
    // A GIF header that claims a 60000 x 60000 screen.
    std::string huge = gif;
    huge[6] = huge[8] = static_cast<char>(0x60);
    huge[7] = huge[9] = static_cast<char>(0xEA);
    for (const std::string& bytes : {std::string(), std::string("not an image at all"),
                                     gif.substr(0, gif.size() / 2), bmp.substr(0, 30), huge}) {
        auto canvas = codec.make_canvas(40, 30);
        canvas->clear(kBlue);
        EXPECT_FALSE(codec.decode(bytes, *canvas)) << bytes.size();
        EXPECT_EQ(dynamic_cast<QImageCanvas&>(*canvas).pixel(20, 20), kBlue);
    }
}

TEST(GifCodec, ManyColoursStayRecognisable) {
    // A colour ramp of 1280 steps cannot keep every colour in 256; each step must land near
    // its own colour, not on a distant one.
    RgbPicture ramp{1280, 1, {}};
    for (int c = 0; c < 1280; ++c) {
        int r = 0, g = 0, b = 0;
        if (c < 256)
            b = c;
        else if (c < 512)
            g = c - 256, b = 255;
        else if (c < 768)
            g = 255, b = 255 - (c - 512);
        else if (c < 1024)
            r = c - 768, g = 255;
        else
            r = 255, g = 255 - (c - 1024);
        ramp.pixels.push_back(static_cast<uint32_t>(r << 16 | g << 8 | b));
    }
    auto back = decode_gif(encode_gif(ramp));
    ASSERT_TRUE(back);
    for (int c = 0; c < 1280; ++c) {
        uint32_t a = ramp.pixels[static_cast<size_t>(c)], b = back->pixels[static_cast<size_t>(c)];
        for (int shift : {16, 8, 0}) {
            int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
            ASSERT_LE(std::abs(d), 40) << "step " << c;
        }
    }
}

TEST(QImageCanvas, DrawsInUserUnitsAndClips) {
    QImageCanvas canvas(100, 50);
    canvas.set_scale(0, 1000, 1000, -1000);
    canvas.clear(kWhite);
    // The far edges of the scale belong to the last pixels.
    canvas.line(1000, 1000, 1000, -1000, kRed);
    EXPECT_EQ(canvas.pixel(99, 0), kRed);
    EXPECT_EQ(canvas.pixel(99, 49), kRed);
    // Absurd and invalid coordinates draw what lies inside, and nothing for NaN.
    canvas.line(-1e15, 0, 1e15, 0, kBlue);
    EXPECT_EQ(canvas.pixel(0, 25), kBlue);
    EXPECT_EQ(canvas.pixel(98, 25), kBlue);
    canvas.line(std::nan(""), 0, 10, 10, kBlue);
    canvas.box(-1e300, 1e300, 1e300, -1e300, kWhite);
    EXPECT_EQ(canvas.pixel(0, 25), kWhite);
    // Dotted: one pixel on, two off.
    canvas.line(0, 0, 90, 0, kBlue, LineStyle::dotted);
    EXPECT_EQ(canvas.pixel(0, 25), kBlue);
    EXPECT_EQ(canvas.pixel(1, 25), kWhite);
    EXPECT_EQ(canvas.pixel(3, 25), kBlue);
}

TEST(QImageCanvas, TextNeedsNoSystemFont) {
    QImageCanvas canvas(60, 20);
    canvas.clear(kWhite);
    canvas.text(2, 2, "08", {0, 0, 0});
    int dark = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 60; ++x) dark += canvas.pixel(x, y) == Color{0, 0, 0};
    EXPECT_GT(dark, 20);
    // Both glyphs sit within their cells, left of the third.
    for (int y = 0; y < 20; ++y) EXPECT_EQ(canvas.pixel(2 + 14 + 1, y), kWhite);
}

}  // namespace
}  // namespace velkantor::platform
