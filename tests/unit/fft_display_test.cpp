#include "display/fft_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "display/fourier.h"
#include "display/noise_models.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/recording_canvas.h"
#include "platform/fake/recording_picture_codec.h"
#include "platform/fake/scripted_operator.h"

namespace velkantor::display {
namespace {

using Op = platform::RecordingCanvas::Op;

// --- the transform ----------------------------------------------------------------------

TEST(Fourier, EightOnesAndTheirInverse) {
    const std::vector<double> ones(8, 1.0);
    const std::vector<double> zeros(8, 0.0);
    struct Case {
        bool inverse;
        double dc;
    };
    for (const Case& c : {Case{false, 8}, Case{true, 1}}) {
        std::vector<double> re(8, -1), im(8, -1);
        ASSERT_EQ(Fourier(8, ones.data(), zeros.data(), re.data(), im.data(), c.inverse), "");
        EXPECT_NEAR(re[0], c.dc, 1e-12) << "inverse " << c.inverse;
        EXPECT_NEAR(im[0], 0, 1e-12);
        for (int k = 1; k < 8; ++k) {
            EXPECT_NEAR(re[k], 0, 1e-12) << "inverse " << c.inverse << " k " << k;
            EXPECT_NEAR(im[k], 0, 1e-12) << "inverse " << c.inverse << " k " << k;
        }
    }
}

TEST(Fourier, IndexHelpers) {
    struct Reverse {
        int index, bits, expected;
    };
    for (const auto& c : {Reverse{1, 3, 4}, Reverse{6, 3, 3}, Reverse{5, 3, 5}, Reverse{1, 0, 0},
                          Reverse{3, 10, 768}, Reverse{0b1011, 4, 0b1101}}) {
        EXPECT_EQ(ReverseBits(c.index, c.bits), c.expected) << c.index << "," << c.bits;
    }

    struct Bits {
        int value, expected;
    };
    for (const auto& c : {Bits{1024, 10}, Bits{2, 1}, Bits{1, 0}, Bits{0, 0}, Bits{65536, 16},
                          Bits{1 << 17, 0}, Bits{12, 2}}) {
        EXPECT_EQ(NumberOfBitsNeeded(c.value), c.expected) << c.value;
    }

    struct Power {
        int value;
        bool expected;
    };
    for (const auto& c : {Power{2, true}, Power{8192, true}, Power{1, false}, Power{0, false},
                          Power{-8, false}, Power{96, false}, Power{1 << 30, true}}) {
        EXPECT_EQ(IsPowerOfTwo(c.value), c.expected) << c.value;
    }

    struct Frequency {
        int n, index;
        double expected;
    };
    for (const auto& c :
         {Frequency{8, 0, 0}, Frequency{8, 1, 0.125}, Frequency{8, 4, 0.5}, Frequency{8, 5, -0.375},
          Frequency{8, 7, -0.125}, Frequency{8, 8, 0}, Frequency{8, 20, 0}, Frequency{0, -1, 0}}) {
        EXPECT_DOUBLE_EQ(FrequencyOfIndex(c.n, c.index), c.expected) << c.n << "," << c.index;
    }
}

// The transform against the sums it stands for, both directions, on random complex data.
TEST(Fourier, MatchesDirectTransformOnRandomData) {
    std::mt19937 random(20260105);
    std::uniform_real_distribution<double> value(-1000, 1000);
    for (int n : {64, 1024}) {
        std::vector<double> in_re(n), in_im(n);
        for (int i = 0; i < n; ++i) {
            in_re[i] = value(random);
            in_im[i] = value(random);
        }
        for (bool inverse : {false, true}) {
            std::vector<double> re(n), im(n);
            ASSERT_EQ(Fourier(n, in_re.data(), in_im.data(), re.data(), im.data(), inverse), "");
            const double sign = inverse ? -1 : 1;
            double largest = 0;
            double worst = 0;
            for (int k = 0; k < n; ++k) {
                std::complex<double> sum = 0;
                for (int t = 0; t < n; ++t) {
                    const double angle = sign * 2 * std::numbers::pi * ((int64_t{t} * k) % n) / n;
                    sum += std::complex<double>(in_re[t], in_im[t]) *
                           std::complex<double>(std::cos(angle), std::sin(angle));
                }
                if (inverse) sum /= n;
                largest = std::max(largest, std::abs(sum));
                worst = std::max(worst, std::abs(sum - std::complex<double>(re[k], im[k])));
            }
            EXPECT_LT(worst, 1e-9 * largest) << "n " << n << " inverse " << inverse;
        }
    }
}

TEST(Fourier, RefusesBlocksThatAreNotPowersOfTwo) {
    for (int n : {300, 0, 1, -256, 6}) {
        std::vector<double> in(8, 1), out(8, 7);
        std::string error = Fourier(n, in.data(), in.data(), out.data(), out.data(), false);
        EXPECT_EQ(error, "Error in procedure Fourier:\r\n NumSamples is " + std::to_string(n) +
                             ", which is not a positive integer power of two.");
        EXPECT_EQ(out, std::vector<double>(8, 7)) << "nothing written for " << n;
    }
}

// --- levels, colours and texts ----------------------------------------------------------

TEST(SpectrumLevels, BinLevelsAndTheScopeRange) {
    struct Level {
        double re, im;
        int n;
        double expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& c : {Level{0, 0, 256, -180}, Level{256, 0, 256, 0}, Level{0, 25.6, 256, -20},
                          Level{nan, 0, 256, -180}, Level{1e300, 1e300, 2, -180}}) {
        EXPECT_NEAR(BinLevel(c.re, c.im, c.n), c.expected, 1e-9) << c.re << "," << c.im;
    }

    struct Range {
        int16_t max, min;
        double top, bottom;
    };
    for (const auto& c :
         {Range{-145, -150, -45, -150}, Range{-150, -150, -50, -150}, Range{-140, -150, -140, -150},
          Range{0, -150, 0, -150}, Range{-150, -141, -50, -141}}) {
        auto r = ScopeLevelRange(c.max, c.min);
        EXPECT_EQ(r.top, c.top) << c.max << "," << c.min;
        EXPECT_EQ(r.bottom, c.bottom) << c.max << "," << c.min;
    }
}

TEST(SpectrumLevels, JtfColourRamp) {
    struct Case {
        double level;
        int16_t base;
        platform::Color expected;
    };
    const Case cases[] = {
        {-60, -120, {0, 170, 255}},   // c = 426
        {60, -120, {0, 170, 255}},    // the level's magnitude counts
        {-60, 120, {0, 170, 255}},    // and the base's
        {-120, -120, {0, 0, 0}},      // c = 0
        {-130, -120, {0, 0, 0}},      // below the scale
        {-144, -180, {0, 0, 255}},    // c = 256
        {-108, -180, {0, 255, 255}},  // c = 512
        {-72, -180, {0, 255, 0}},     // c = 768
        {-36, -180, {255, 255, 0}},   // c = 1024
        {0, -180, {255, 0, 0}},       // c = 1280, held at 1279
        {0, -32768, {255, 0, 0}},     // far above the scale
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JtfColour(c.level, c.base), c.expected) << c.level << " against " << c.base;
    }
}

TEST(SpectrumLevels, NumberPictures) {
    struct Case {
        double value;
        const char* spacing;
        const char* one_decimal;
    };
    for (const auto& c :
         {Case{0.078125, ".08", "0.1"}, Case{7.8125, "7.81", "7.8"}, Case{2, "2.", "2.0"},
          Case{1.5, "1.5", "1.5"}, Case{-87.36, "-87.36", "-87.4"}, Case{0.96, ".96", "1.0"}}) {
        EXPECT_EQ(SpacingText(c.value), c.spacing) << c.value;
        EXPECT_EQ(OneDecimalText(c.value), c.one_decimal) << c.value;
    }
}

TEST(SpectrumLevels, LogarithmicAxisEnds) {
    const double df = 20.0 / 256;
    EXPECT_NEAR(ScopeX(df, df, 10), 0, 1e-12);
    EXPECT_NEAR(ScopeX(10, df, 10), 10, 1e-12);
    // A decade is the same width wherever it lies.
    EXPECT_NEAR(ScopeX(1, df, 10) - ScopeX(0.1, df, 10), ScopeX(10, df, 10) - ScopeX(1, df, 10),
                1e-12);
    EXPECT_EQ(SpectrumNyquist(20), 10);
    EXPECT_EQ(SpectrumNyquist(5), 2);  // 2.5, halves to even
    EXPECT_EQ(SpectrumNyquist(1), 0.5);
}

// --- noise models -----------------------------------------------------------------------

TEST(NoiseModels, PointsAtTheBreakpoints) {
    const auto& low = LowNoiseModelPoints();
    const auto& high = HighNoiseModelPoints();
    ASSERT_EQ(low.size(), 22u);
    ASSERT_EQ(high.size(), 14u);
    struct Point {
        const std::vector<NoisePoint>* model;
        size_t index;
        double log10_frequency;
        double level;
    };
    const Point points[] = {
        {&low, 0, -5, -346.88 + 48.75 * 5},          // 100000 s, on the last piece
        {&low, 1, -4, -346.88 + 48.75 * 4},          // 10000 s
        {&low, 21, 1, -162.36 - 5.64},               // 0.10 s
        {&high, 0, -5, -206.66 + 31.63 * 5},         // 100000 s
        {&high, 1, -std::log10(30000.0), -65.0487},  // 30000 s
        {&high, 13, 1, -108.73 + 17.23},             // 0.10 s
    };
    for (const auto& p : points) {
        const auto& point = (*p.model)[p.index];
        EXPECT_NEAR(point.log10_frequency, p.log10_frequency, 1e-9) << p.index;
        EXPECT_NEAR(point.level_db, p.level, 1e-3) << p.index;
    }
    for (const auto* model : {&low, &high}) {
        for (size_t i = 1; i < model->size(); ++i) {
            EXPECT_LT((*model)[i - 1].log10_frequency, (*model)[i].log10_frequency) << i;
        }
    }
}

// The published pieces meet at their breakpoints: a mistyped coefficient shows as a step.
TEST(NoiseModels, PiecesMeetAtTheirBreakpoints) {
    for (auto model : {NoiseModel::low, NoiseModel::high}) {
        auto segments = NoiseModelSegments(model);
        for (size_t i = 1; i < segments.size(); ++i) {
            const auto& before = segments[i - 1];
            const double t = segments[i].period_s;
            EXPECT_NEAR(NoiseModelLevel(model, t), before.a + before.b * std::log10(t), 0.05)
                << "period " << t;
        }
    }
    EXPECT_NEAR(NoiseModelLevel(NoiseModel::low, 0.17), -166.70, 1e-9);  // its own piece
}

// --- the channels' spectra --------------------------------------------------------------

class RecordingView : public DisplayView {
public:
    bool spectrum_window_open(int) override { return open; }
    void spectrum_created(int ch, SpectrumWindow&) override {
        created.push_back(ch);
        open = true;
    }
    bool open = true;
    std::vector<int> created;
};

class SpectraTest : public ::testing::Test {
protected:
    platform::MemoryFileSystem fs;
    platform::RecordingPictureCodec codec;
    platform::ScriptedOperator op;
    RecordingView view;
    config::Settings settings;
    Spectra spectra{{fs, codec, op, view, "/st/drums"}};
    BoardTime now{true, 7, 31, 12, "2026/12/05"};

    void SetUp() override {
        EXPECT_TRUE(fs.create_directories("/st/drums"));
        settings.channels[1].fft_display_mode = 1;
        settings.channels[1].fft_scope_max = 100;
        settings.channels[1].fft_scope_min = -200;
    }

    // Feeds n samples of channel 1 (the second); returns the failures reported.
    std::string feed(int n, const std::function<int32_t(int)>& sample, double rate = 20) {
        std::string failures;
        for (int i = 0; i < n; ++i) {
            failures += spectra.FeedSpectrum(1, sample(i), settings, rate, now);
        }
        return failures;
    }
    std::string feed_zeros(int n, double rate = 20) {
        return feed(
            n, [](int) { return 0; }, rate);
    }

    const platform::RecordingCanvas& picture() {
        return dynamic_cast<const platform::RecordingCanvas&>(spectra.window(1)->picture());
    }
    std::vector<Op> ops_of(platform::Color colour, Op::Kind kind) {
        std::vector<Op> found;
        for (const auto& op_ : picture().ops) {
            if (op_.kind == kind && op_.color == colour) found.push_back(op_);
        }
        return found;
    }
};

TEST_F(SpectraTest, FrameOf256At20SpsEvery257Samples) {
    // 1000 counts at 2.5 Hz: bin 32 of 256 at 20 per second.
    const auto wave = [](int i) {
        return static_cast<int32_t>(
            std::lround(1000 * std::cos(2 * std::numbers::pi * 32 * i / 256)));
    };
    feed(256, wave);
    EXPECT_EQ(settings.channels[1].fft_points, 256);  // 0 became 256 and is kept
    ASSERT_NE(spectra.window(1), nullptr);
    EXPECT_EQ(view.created, std::vector<int>{1});
    EXPECT_EQ(spectra.window(1)->caption(), "FFT Channel 2");
    EXPECT_TRUE(picture().ops.empty());

    feed(1, wave);
    const auto& labels = spectra.window(1)->labels();
    EXPECT_EQ(labels.spacing, ".08");
    EXPECT_EQ(labels.nyq, "10");
    EXPECT_EQ(labels.top, "100");
    EXPECT_EQ(labels.bottom, "-200");
    EXPECT_EQ(labels.frequency_unit, "Hz");
    EXPECT_EQ(labels.other_unit, "dB");
    EXPECT_EQ(spectra.window(1)->scale().right, 10);

    // The spectrum: a point at bin 1 and a line on to each bin up to 128, peaking at 2.5 Hz
    // with the power of a 1000-count cosine, (1000 / 2)^2.
    auto yellow = ops_of(platform::kChartColors[14], Op::line);
    ASSERT_EQ(yellow.size(), 127u);
    ASSERT_EQ(ops_of(platform::kChartColors[14], Op::point).size(), 1u);
    auto peak = std::max_element(yellow.begin(), yellow.end(),
                                 [](const Op& a, const Op& b) { return a.y2 < b.y2; });
    EXPECT_NEAR(peak->x2, ScopeX(2.5, 20.0 / 256, 10), 1e-9);
    EXPECT_NEAR(peak->y2, 20 * std::log10(500.0), 0.01);
    EXPECT_NEAR(yellow.back().x2, 10, 1e-9);  // the last bin is at nyq

    // The next frame is another 257 samples on, drawn on a cleared picture.
    feed(256, wave);
    EXPECT_EQ(ops_of(platform::kChartColors[0], Op::clear).size(), 1u);
    feed(1, wave);
    EXPECT_EQ(ops_of(platform::kChartColors[0], Op::clear).size(), 2u);
}

TEST_F(SpectraTest, SilentBinsAndTheNarrowRange) {
    settings.channels[1].fft_scope_max = -145;
    settings.channels[1].fft_scope_min = -150;
    feed_zeros(257);
    for (const auto& line : ops_of(platform::kChartColors[14], Op::line)) {
        EXPECT_EQ(line.y1, -180);
        EXPECT_EQ(line.y2, -180);
    }
    EXPECT_EQ(spectra.window(1)->scale().top, -45);
    EXPECT_EQ(spectra.window(1)->scale().bottom, -150);
    EXPECT_EQ(spectra.window(1)->labels().top, "-45");
}

TEST_F(SpectraTest, SensorType1FeedsScaledDifferences) {
    // A step to 100 (50 counts at resolution 2) fed as (v - previous) / (2 / nyq): the first
    // value is 500, the rest 0, which is a flat spectrum at 20 log10(500 / 256) dB.
    settings.channels[1].sensor_type = 1;
    settings.channels[1].resolution = 2;
    feed(257, [](int) { return 50; });
    auto yellow = ops_of(platform::kChartColors[14], Op::line);
    ASSERT_FALSE(yellow.empty());
    for (const auto& line : yellow) EXPECT_NEAR(line.y2, 20 * std::log10(500.0 / 256), 1e-9);
}

TEST_F(SpectraTest, ScopeGridAndReadout) {
    spectra.show_noise_models = true;
    feed_zeros(257);
    SpectrumWindow& w = *spectra.window(1);
    const double df = 20.0 / 256;
    EXPECT_EQ(w.grid_freq(), (std::vector<double>{0.001, 0.01, 0.1, 1, 20}));
    ASSERT_EQ(w.grid_x().size(), 5u);
    EXPECT_NEAR(w.grid_x()[3], ScopeX(1, df, 10), 1e-12);
    EXPECT_NEAR(w.grid_x()[4], ScopeX(20, df, 10), 1e-12);

    // 2..10 times each of three decades and 2..9 Hz, then eleven level lines.
    auto grid = ops_of(platform::kChartColors[2], Op::line);
    EXPECT_EQ(grid.size(), 27u + 8u + 11u);
    for (const auto& line : grid) EXPECT_EQ(line.style, platform::LineStyle::dotted);
    EXPECT_NEAR(grid.back().y1, 100, 1e-9);  // the top line is drawn
    EXPECT_EQ(ops_of(platform::kChartColors[15], Op::line).size(), 21u + 13u);

    struct Case {
        double frequency;
        double level;
        const char* freq;
        const char* level_text;
    };
    for (const auto& c :
         {Case{5, -87.36, "Freq:5.0", "Level:-87.4"}, Case{0.26, 3, "Freq:0.3", "Level:3.0"},
          Case{df, 0, "Freq:0.1", "Level:0.0"}}) {
        auto r = w.readout(ScopeX(c.frequency, df, 10), c.level);
        EXPECT_EQ(r.freq, c.freq);
        EXPECT_EQ(r.level, c.level_text);
    }
    // Between the decade starts the readout follows the logarithmic axis.
    auto r = w.readout(ScopeX(3.16, df, 10), 0);
    EXPECT_EQ(r.freq, "Freq:3.2");
}

TEST_F(SpectraTest, JtfColumnAndCursor) {
    settings.channels[1].fft_display_mode = 2;
    settings.channels[1].fft_points = 128;
    settings.channels[1].jtf_base = -120;
    feed_zeros(129);
    SpectrumWindow& w = *spectra.window(1);
    EXPECT_EQ(w.labels().minute_middle, "720");
    EXPECT_EQ(w.labels().other_unit, "min.");
    EXPECT_EQ(w.labels().spacing, ".16");
    EXPECT_TRUE(ops_of(platform::kChartColors[0], Op::clear).empty());

    auto boxes = ops_of(platform::kChartColors[0], Op::box);  // silent bins are black
    ASSERT_EQ(boxes.size(), 64u);
    EXPECT_EQ(boxes[0].x1, 451);
    EXPECT_EQ(boxes[0].x2, 452);
    EXPECT_EQ(boxes[0].y1, 0);
    EXPECT_DOUBLE_EQ(boxes[0].y2, 20.0 / 128);
    EXPECT_DOUBLE_EQ(boxes.back().y2, 10);
    auto cursor = ops_of(platform::kChartColors[0], Op::line);
    ASSERT_EQ(cursor.size(), 2u);
    EXPECT_EQ(cursor[0].x1, 461);
    EXPECT_EQ(cursor[1].x1, 462);
    EXPECT_EQ(cursor[0].y2, 200);
    EXPECT_EQ(w.readout(100, 3.25).freq, "Freq:3.3");
    EXPECT_EQ(w.readout(100, 3.25).level, "");

    // Near midnight the cursor wraps to the start of the day.
    now.hour = 23;
    now.minute = 55;
    feed_zeros(129);
    cursor = ops_of(platform::kChartColors[0], Op::line);
    ASSERT_EQ(cursor.size(), 4u);
    EXPECT_EQ(cursor[2].x1, 5);
    EXPECT_EQ(cursor[3].x1, 6);

    // Without a board time there is no minute to draw at, and nothing to save.
    settings.channels[1].fft_save_mode = 1;
    size_t before = picture().ops.size();
    now.known = false;
    feed_zeros(129 * 4);
    EXPECT_EQ(picture().ops.size(), before);
    EXPECT_FALSE(fs.exists("/st/drums/spec.bmp"));
}

// The message recurs at every frame of a bad block length; a window shows it once, and a
// new window (the old one closed) once more.
TEST_F(SpectraTest, BadBlockLengthShownOncePerWindow) {
    for (int16_t points : {int16_t{100}, int16_t{-4}, int16_t{1}, int16_t{32767}}) {
        SCOPED_TRACE(points);
        op.shown.clear();
        view.open = false;  // a fresh window for each case
        settings.channels[1].fft_points = points;
        const int frame = std::max(1, points + 1);
        feed_zeros(frame * 3);
        ASSERT_EQ(op.shown.size(), 1u);
        EXPECT_EQ(op.shown[0].title, "Error!");
        EXPECT_EQ(op.shown[0].text, "Error in procedure Fourier:\r\n NumSamples is " +
                                        std::to_string(points) +
                                        ", which is not a positive integer power of two.");
        EXPECT_TRUE(picture().ops.empty());
    }
    view.open = false;
    feed_zeros(32768);
    EXPECT_EQ(op.shown.size(), 2u);
    EXPECT_EQ(view.created.size(), 5u);
    EXPECT_TRUE(fs.list_directory("/st/drums").empty());
}

TEST_F(SpectraTest, RatesWithoutAnAxisDrawNothing) {
    struct Case {
        double rate;
        int16_t points;
        bool drawn;
    };
    const Case cases[] = {
        {0, 256, false}, {-20, 256, false}, {std::nan(""), 256, false}, {1, 256, true},  // nyq 0.5
        {2, 2, false},  // df = nyq = 1 Hz: the axis has no span
        {2, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        view.open = false;
        settings.channels[1].fft_points = c.points;
        feed_zeros((c.points + 1) * 2, c.rate);
        const auto& ops = picture().ops;
        EXPECT_EQ(!ops.empty(), c.drawn);
        for (const auto& o : ops) {
            EXPECT_TRUE(std::isfinite(o.x1) && std::isfinite(o.y1) && std::isfinite(o.x2) &&
                        std::isfinite(o.y2));
        }
    }
    EXPECT_TRUE(op.shown.empty());
}

TEST_F(SpectraTest, SaveStepPeriods) {
    settings.channels[1].fft_points = 128;
    struct Case {
        int16_t mode;
        std::vector<int> saved_at;  // frame numbers, from 1
    };
    const Case cases[] = {
        {1, {2, 4, 6, 8, 10, 12}},  // "Every frame" saves every second frame
        {2, {3, 6, 9, 12}},
        {3, {11}},
        {0, {}},  // "Never"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        settings.channels[1].fft_save_mode = c.mode;
        std::vector<int> saved;
        for (int frame = 1; frame <= 12; ++frame) {
            feed_zeros(129);
            if (fs.exists("/st/drums/spec.bmp")) {
                saved.push_back(frame);
                EXPECT_TRUE(fs.remove("/st/drums/spec.bmp"));
            }
        }
        EXPECT_EQ(saved, c.saved_at);
        // Leave the frame count at 0 for the next case.
        settings.channels[1].fft_save_mode = 1;
        while (!fs.exists("/st/drums/spec.bmp")) feed_zeros(129);
        EXPECT_TRUE(fs.remove("/st/drums/spec.bmp"));
    }
}

TEST_F(SpectraTest, SavedFileNames) {
    auto& cs = settings.channels[1];
    cs.fft_points = 128;
    cs.fft_save_mode = 1;
    cs.fft_save_updating = 1;
    cs.fft_save_incrementing = 1;
    settings.general.drum_format = 1;  // GIF
    EXPECT_EQ(feed_zeros(129 * 2), "");
    EXPECT_EQ(fs.list_directory("/st/drums"),
              (std::vector<std::string>{"SPEC_2.GIF", "SPEC_2_20261205_073112.GIF", "spec.bmp"}));
    EXPECT_EQ(fs.contents("/st/drums/spec.bmp").substr(0, 16), "picture bmp 100 ");
    EXPECT_EQ(fs.contents("/st/drums/SPEC_2.GIF").substr(0, 16), "picture gif 100 ");

    // A failed save is reported and drawing goes on.
    fs.set_full(true);
    size_t before = picture().ops.size();
    EXPECT_NE(feed_zeros(129 * 2), "");
    EXPECT_GT(picture().ops.size(), before);
    fs.set_full(false);

    // The save button: the fixed name only, and no spec.bmp left behind.
    EXPECT_TRUE(fs.remove("/st/drums/spec.bmp"));
    EXPECT_TRUE(fs.remove("/st/drums/SPEC_2.GIF"));
    EXPECT_EQ(spectra.cmd_save_spectra(1, settings), "");
    EXPECT_TRUE(fs.exists("/st/drums/SPEC_2.GIF"));
    EXPECT_FALSE(fs.exists("/st/drums/spec.bmp"));
    EXPECT_NE(spectra.cmd_save_spectra(3, settings), "");  // channel 4 has no window
}

}  // namespace
}  // namespace velkantor::display
