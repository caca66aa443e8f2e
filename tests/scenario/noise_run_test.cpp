#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <regex>

#include "app/web_page.h"
#include "display/noise_psd.h"
#include "support/station_rig.h"

namespace velkantor::testing {
namespace {

// A geophone channel at 20 samples per second on the simulated board, through midnight: its
// page lists each day's noise picture and answers the last hour's PSD in ground acceleration.
TEST(NoiseRun, StationDrawsTheDaysNoiseAndThePageListsIt) {
    StationRig rig(text::DateTime{2026, 3, 1, 22, 0, 0, 0});
    rig.load();
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda18;
    for (auto& c : settings.channels) c.sps_index = 0;
    auto& channel = settings.channels[0];
    record_events(channel);
    channel.sps_index = 9;  // 20 samples per second
    config::UpdateDerivedCounts(channel);
    // 0.28 V per mm/s, x100, 18 bits over 5 V: 1.468e9 counts per m/s.
    channel.sensor_type = 1;
    channel.measure_unit = 3;
    channel.sensor_sensitivity = 0.28;
    channel.amplifier_gain = 100;
    channel.ad_bits = 18;
    channel.ad_range = 5;
    sim::BoardOptions options;
    options.noise_amplitude = 200;
    rig.attach_board(options);
    app::WebPage page(rig.station.services(), {});
    auto every_second = rig.station.services().on_second([&page] { page.second(); });
    auto json = [&](std::string_view target) {
        web::Response response = page.answer({"GET", target}, rig.fs);
        EXPECT_EQ(response.status, 200) << target;
        return response.body;
    };

    ASSERT_TRUE(rig.station.start());
    const double t0 = rig.clock.epoch_seconds();
    rig.host.run_until(t0 + 3600 + 120);
    // 22:00 .. 23:00 is the first whole hour: the first day's picture.
    std::string state = json("/api/state.json");
    EXPECT_NE(state.find("\"noise\":{\"picture\":\"drums/PSD_20260301_1.GIF\",\"calibrated\":true,"
                         "\"note\":\"\",\"last_hour\":\"2026-03-01T22:00:00Z\""),
              std::string::npos)
        << state;
    rig.host.run_until(t0 + 3 * 3600 + 120);
    state = json("/api/state.json");
    EXPECT_NE(state.find("\"picture\":\"drums/PSD_20260302_1.GIF\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"last_hour\":\"2026-03-02T00:00:00Z\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"psd\":\"api/psd.json?channel=1\""), std::string::npos) << state;

    // The pictures are real ones, in the drums folder, and the page serves them.
    for (const char* name : {"PSD_20260301_1.GIF", "PSD_20260302_1.GIF"}) {
        std::string bytes = rig.file(std::string("drums/") + name);
        EXPECT_EQ(bytes.substr(0, 4), "GIF8") << name;
        web::Response picture = page.answer({"GET", std::string("/drums/") + name}, rig.fs);
        EXPECT_EQ(picture.status, 200) << name;
    }
    EXPECT_EQ(display::NoiseMonitor::read_hours(rig.file("drums/PSD_20260301_1.txt")).size(), 2u);

    // The board's noise is white, A (u1 + u2 - 1) with variance A^2/6: in acceleration its
    // density at f is 2 (A^2/6) / rate (2 pi f)^2 / (counts per m/s)^2.
    std::string psd = json("/api/psd.json?channel=1");
    EXPECT_NE(psd.find("\"calibrated\":true,\"unit\":\"dB rel. 1 (m/s^2)^2/Hz\""),
              std::string::npos)
        << psd.substr(0, 300);
    EXPECT_NE(psd.find("\"low_noise_model\":[[100000,"), std::string::npos);
    const double counts_per_ms = 0.28 / 1e-3 * 100 * std::exp2(18) / 5;
    int checked = 0;
    std::regex point(R"(\[([0-9.e+-]+),(-?[0-9.]+)\])");
    std::string curve =
        psd.substr(psd.find("\"psd\":"), psd.find("\"low_noise_model\"") - psd.find("\"psd\":"));
    for (std::sregex_iterator it(curve.begin(), curve.end(), point), end; it != end; ++it) {
        double period = std::stod((*it)[1]);
        double level = std::stod((*it)[2]);
        // Clear of the board's 0.15 Hz microseism, whose octave reaches 4.7 s.
        if (period > 3) continue;
        double w = 2 * std::numbers::pi / period;
        double expected =
            10 * std::log10(2 * (200.0 * 200.0 / 6) / 20 * w * w / (counts_per_ms * counts_per_ms));
        EXPECT_NEAR(level, expected, 1.0) << "period " << period;
        ++checked;
    }
    EXPECT_GT(checked, 20);
    EXPECT_EQ(page.answer({"GET", "/api/psd.json?channel=2"}, rig.fs).status, 404);
    EXPECT_EQ(page.answer({"GET", "/api/psd.json?channel=x"}, rig.fs).status, 400);
}

}  // namespace
}  // namespace velkantor::testing
