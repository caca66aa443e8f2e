#include <gtest/gtest.h>

#include <QImage>
#include <map>
#include <sstream>

#include "app/station_displays.h"
#include "app/tools.h"
#include "config/settings_file.h"
#include "display/displays.h"
#include "platform/real/qimage_canvas.h"
#include "platform/real/qt_picture_codec.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

// A station with its displays, on a simulated ZEDA18 board at 100 samples per second.
struct DisplayRig {
    explicit DisplayRig(text::DateTime start, display::DisplayView* view = nullptr,
                        sim::BoardOptions options = {})
        : rig(start), displays(app::display_source(rig.station), codec, view ? *view : no_windows) {
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        for (auto& c : settings.channels) c.sps_index = 0;
        auto& first = settings.channels[0];
        first.sps_index = 15;
        first.drum_enabled = 1;
        options.quakes.push_back({text::DateTime{2026, 3, 1, 23, 56, 0, 0}, 20, 9000});
        rig.attach_board(options);
    }
    void stop() { rig.stop(); }
    void run_until(text::DateTime t) { rig.host.run_until(text::to_epoch_seconds(t)); }
    std::string drums(const std::string& name) const { return rig.file("drums/" + name); }
    platform::QImageCanvas& picture() {
        return dynamic_cast<platform::QImageCanvas&>(*displays.drums().picture(0));
    }

    StationRig rig;
    platform::QtPictureCodec codec;
    display::DisplayView no_windows;
    display::Displays displays;
};

// Samples of the first minute of a day land in the first pixel columns of the top row.
bool traced_at_start_of_day(platform::QImageCanvas& picture) {
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < display::kDrumHeight / 8; ++y)
            if (picture.pixel(x, y) == display::kDrumTrace) return true;
    return false;
}

TEST(DrumRun, SavedAtItsPeriodArchivedAtMidnightReloadedAfterARestart) {
    DisplayRig d({2026, 3, 1, 23, 54, 50, 0});
    auto& general = d.rig.station.settings().general;
    general.drum_update = 0;  // every 5 minutes
    general.drum_format = 1;  // GIF
    ASSERT_TRUE(d.rig.station.start());
    d.run_until({2026, 3, 1, 23, 54, 58, 0});
    std::string set_up = d.drums("drum_1.GIF");
    ASSERT_FALSE(set_up.empty()) << "a new drum is saved at once";
    EXPECT_EQ(d.drums("drum_1.dat"), "2026/03/01\r\n 3\r\n");
    d.run_until({2026, 3, 1, 23, 55, 30, 0});
    EXPECT_NE(d.drums("drum_1.GIF"), set_up) << "saved at 23:55";

    d.run_until({2026, 3, 2, 0, 0, 40, 0});
    std::string archive = d.drums("drum_260301_1.GIF");
    ASSERT_FALSE(archive.empty());
    EXPECT_EQ(d.drums("drum_1.dat"), "2026/03/02\r\n 3\r\n");
    // The archive is a real GIF that keeps the drum's exact white.
    platform::QImageCanvas archived(display::kDrumWidth, display::kDrumHeight);
    ASSERT_TRUE(d.codec.decode(archive, archived));
    EXPECT_EQ(archived.pixel(display::kDrumWidth - 2, display::kDrumHeight - 2),
              display::kDrumBackground);
    EXPECT_TRUE(traced_at_start_of_day(d.picture()));

    d.stop();  // the drum is saved and closed
    EXPECT_EQ(d.displays.drums().picture(0), nullptr);
    ASSERT_TRUE(d.rig.station.start());
    d.run_until({2026, 3, 2, 0, 1, 0, 0});
    // Same day, same hours per row: the picture goes on from the saved image.
    ASSERT_NE(d.displays.drums().picture(0), nullptr);
    EXPECT_TRUE(traced_at_start_of_day(d.picture()));
    d.stop();
}

TEST(DrumRun, NextMorningsRunOfAnUndatedBoardDrawsTodaysDrum) {
    sim::BoardOptions undated;
    undated.version = "V180";  // time frames without the date
    DisplayRig d({2026, 3, 1, 17, 59, 0, 0}, nullptr, undated);
    d.rig.station.settings().general.drum_format = 1;
    ASSERT_TRUE(d.rig.station.start());
    d.run_until({2026, 3, 1, 18, 0, 0, 0});
    d.stop();
    EXPECT_EQ(d.drums("drum_1.dat"), "2026/03/01\r\n 3\r\n");
    d.rig.line->set_connected(false);
    d.rig.clock.set(text::to_epoch_seconds({2026, 3, 2, 8, 0, 0, 0}));
    d.rig.line->set_connected(true);
    ASSERT_TRUE(d.rig.station.start());
    d.run_until({2026, 3, 2, 8, 0, 30, 0});
    d.stop();
    // Yesterday's drum, which missed its midnight, is archived under its own day, and today's
    // starts new rather than drawing this morning on yesterday's picture.
    EXPECT_FALSE(d.drums("drum_260301_1.GIF").empty());
    EXPECT_EQ(d.drums("drum_1.dat"), "2026/03/02\r\n 3\r\n");
}

TEST(SpectrumRun, EveryFrameSavesEverySecondFrame) {
    DisplayRig d({2026, 3, 1, 12, 0, 0, 0});
    auto& first = d.rig.station.settings().channels[0];
    first.fft_enabled = 1;
    first.fft_points = 128;
    first.fft_display_mode = 2;  // JTF
    first.jtf_base = -120;
    first.fft_save_mode = 1;  // "Every frame"
    first.fft_save_updating = 1;
    first.fft_save_incrementing = 1;
    ASSERT_TRUE(d.rig.host.run_for(30));
    double samples = d.rig.station.run().channel0_sample_total;
    int frames = static_cast<int>(samples) / 129;
    int incrementing = 0;
    for (const auto& name : d.rig.fs.list_directory(std::string(kStation) + "/drums")) {
        incrementing += name.rfind("SPEC_1_20260301_12", 0) == 0;
    }
    EXPECT_GT(frames, 15);
    EXPECT_EQ(incrementing, frames / 2);
    EXPECT_FALSE(d.drums("SPEC_1.JPG").empty());
    EXPECT_FALSE(d.drums("spec.bmp").empty());
}

// The windows only show the pictures: a desktop station saves what a headless one saves.
struct DesktopWindows : display::DisplayView {
    void drum_loaded(int, platform::Canvas&) override { ++loaded; }
    void drum_visible(int, bool shown) override { visible = shown; }
    void spectrum_created(int, display::SpectrumWindow&) override { ++spectra; }
    int loaded = 0;
    int spectra = 0;
    bool visible = false;
};

TEST(DisplayRun, DesktopAndHeadlessSaveTheSameImages) {
    auto run = [](display::DisplayView* view) {
        DisplayRig d({2026, 3, 1, 12, 4, 40, 0}, view);
        auto& settings = d.rig.station.settings();
        settings.general.drum_update = 0;
        settings.channels[0].fft_enabled = 1;
        settings.channels[0].fft_points = 256;
        settings.channels[0].fft_display_mode = 1;
        settings.channels[0].fft_scope_max = 60;
        settings.channels[0].fft_scope_min = -60;
        settings.channels[0].fft_save_mode = 1;
        settings.channels[0].fft_save_updating = 1;
        EXPECT_TRUE(d.rig.host.run_for(40));
        return std::map<std::string, std::string>{{"drum", d.drums("drum_1.JPG")},
                                                  {"spectrum", d.drums("SPEC_1.JPG")}};
    };
    DesktopWindows windows;
    auto desktop = run(&windows);
    auto headless = run(nullptr);
    EXPECT_GE(windows.loaded, 1);
    EXPECT_EQ(windows.spectra, 1);
    EXPECT_TRUE(windows.visible);
    for (const auto& [what, bytes] : headless) {
        EXPECT_FALSE(bytes.empty()) << what;
        EXPECT_TRUE(bytes == desktop[what]) << what;
    }
}

// A lost drum drawn again from the datalog shows the trace the station drew, pixel for pixel
// away from the edges of the run (the live drum starts at the first board second).
TEST(DrumRun, RebuiltFromTheDatalog) {
    DisplayRig d({2026, 3, 1, 12, 0, 0, 0});
    auto& settings = d.rig.station.settings();
    settings.channels[0].datalog_enabled = 1;
    settings.general.drum_format = 0;
    ASSERT_TRUE(d.rig.station.start());
    d.run_until({2026, 3, 1, 12, 2, 0, 0});
    auto& live = d.picture();
    platform::QImageCanvas seen(display::kDrumWidth, display::kDrumHeight);
    seen.image() = live.image().copy();
    d.stop();
    // The settings on disk are what the tool reads.
    ASSERT_TRUE(config::WriteConfiguration(settings, d.rig.fs, kStation));

    std::ostringstream out, err;
    ASSERT_EQ(app::run_drum_command({"--station", kStation, "--channel", "1", "--date",
                                     "2026/03/01", "--out", "/station/again.bmp"},
                                    d.rig.fs, out, err),
              0)
        << err.str();
    platform::QImageCanvas again(display::kDrumWidth, display::kDrumHeight);
    ASSERT_TRUE(d.codec.decode(d.rig.file("again.bmp"), again));
    // 12:00:10 to 12:01:50 is x = 10 .. 110 s of row 4.
    int differing = 0, traced = 0;
    for (int x = 2; x < 16; ++x) {
        for (int y = 4 * 120; y < 5 * 120; ++y) {
            differing += again.pixel(x, y) != seen.pixel(x, y);
            traced += again.pixel(x, y) == display::kDrumTrace;
        }
    }
    EXPECT_GT(traced, 20);
    EXPECT_EQ(differing, 0);
    // The default name is the day's archive, which is never overwritten.
    d.rig.fs.put(std::string(kStation) + "/drums/drum_260301_1.BMP", "kept");
    EXPECT_EQ(
        app::run_drum_command({"--station", kStation, "--channel", "1", "--date", "2026/03/01"},
                              d.rig.fs, out, err),
        1);
    EXPECT_EQ(d.rig.file("drums/drum_260301_1.BMP"), "kept");
    EXPECT_EQ(
        app::run_drum_command({"--station", kStation, "--channel", "1", "--date", "2026/02/30"},
                              d.rig.fs, out, err),
        2);
}

}  // namespace
}  // namespace velkantor::testing
