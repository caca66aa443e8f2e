#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "display/fft_display.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/scripted_operator.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"

namespace velkantor::display {
namespace {

// Compares a picture with its golden file pixel for pixel; VELKANTOR_UPDATE_GOLDEN=1 writes
// the golden file instead (look at it before committing it).
void expect_golden(const QImage& picture, const char* name) {
    std::string golden = std::string(VELKANTOR_GOLDEN_DIR) + "/" + name;
    if (std::getenv("VELKANTOR_UPDATE_GOLDEN")) picture.save(QString::fromStdString(golden));
    QImage expected(QString::fromStdString(golden));
    ASSERT_FALSE(expected.isNull()) << golden;
    EXPECT_TRUE(picture.convertToFormat(QImage::Format_RGB32) ==
                expected.convertToFormat(QImage::Format_RGB32))
        << name;
}

// A 2.5 Hz sine at 20 samples per second on the real picture: one column of the day at
// 07:31, hot at its frequency, cool elsewhere, and the black cursor ten minutes ahead.
TEST(SpectrumPicture, JtfColumnPixelForPixel) {
    platform::MemoryFileSystem fs;
    EXPECT_TRUE(fs.create_directories("/st/drums"));
    platform::QtPictureCodec codec;
    platform::ScriptedOperator op;
    DisplayView view;
    Spectra spectra({fs, codec, op, view, "/st/drums"});
    config::Settings settings;
    auto& channel = settings.channels[0];
    channel.fft_display_mode = 2;
    channel.fft_points = 128;
    channel.jtf_base = -120;
    channel.resolution = 6e-4;  // counts to physical units: levels below 0 dB
    BoardTime now{true, 7, 31, 12, "2026/12/05"};
    for (int i = 0; i < 129; ++i) {
        auto sample = static_cast<int32_t>(
            std::lround(1000 * std::sin(2 * std::numbers::pi * 2.5 * i / 20.0)) + 3 * (i % 7));
        spectra.FeedSpectrum(0, sample, settings, 20, now);
    }
    auto& picture = dynamic_cast<platform::QImageCanvas&>(spectra.window(0)->picture());
    // Columns 450..473 hold the minute of 07:31 and the cursor at 07:41.
    expect_golden(picture.image().copy(450, 0, 24, kSpectrumPictureHeight), "jtf_column.png");
    // The sine's bin (2.34 to 2.5 Hz of 10: rows 360 to 367) is far up the ramp, towards
    // yellow; the quiet bins stay in the blues.
    EXPECT_GT(picture.pixel(451, 363).g, 200);
    EXPECT_LT(picture.pixel(451, 100).g, 100);
    EXPECT_EQ(picture.pixel(461, 363), (platform::Color{0, 0, 0}));
}

}  // namespace
}  // namespace velkantor::display
