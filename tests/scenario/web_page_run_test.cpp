#include <gtest/gtest.h>

#include "app/station_displays.h"
#include "app/web_page.h"
#include "config/settings_file.h"
#include "display/displays.h"
#include "platform/real/qt_picture_codec.h"
#include "support/station_rig.h"
#include "web/json.h"

namespace velkantor::testing {
namespace {

// A station with its drums on a simulated board, and its page answering from the snapshot the
// engine's tick hands over: what the page says is what the station holds.
struct WebPageRig {
    WebPageRig() : displays(app::display_source(rig.station), codec, no_windows) {
        rig.load();
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        settings.general.location = "Hill \"top\"";
        for (auto& c : settings.channels) c.sps_index = 0;
        for (int ch : {0, 2}) {
            auto& c = settings.channels[static_cast<size_t>(ch)];
            record_events(c);
            c.drum_enabled = 1;
        }
        disk.free = 123456789;
        rig.station.set_devices({.disk_space = &disk, .pc_clock = &rig.pc_clock});
        sim::BoardOptions options;
        options.noise_amplitude = 200;
        options.quakes.push_back(
            {text::from_epoch_seconds(rig.clock.epoch_seconds() + 120), 20, 30000});
        rig.attach_board(options);
        web::WebSettings web;
        web.title = "Backyard";
        page = std::make_unique<app::WebPage>(rig.station.services(), web);
        every_second = rig.station.services().on_second([this] { page->second(); });
        rig.op.answers.clear();
    }
    web::Response get(std::string_view target) const {
        return page->answer({"GET", target}, rig.fs);
    }
    // What the server sends: the body, or the bytes of the file the answer names.
    std::string bytes(const web::Response& response) const {
        return response.file.empty() ? response.body
                                     : rig.fs.read_file(response.file, 64u << 20).value_or("");
    }
    std::string json(std::string_view target) const {
        web::Response response = get(target);
        EXPECT_EQ(response.status, 200) << target;
        return response.body;
    }

    StationRig rig;
    platform::QtPictureCodec codec;
    display::DisplayView no_windows;
    display::Displays displays;
    platform::FakeDiskSpace disk;
    std::unique_ptr<app::WebPage> page;
    runtime::Registration every_second;
};

bool has(const std::string& json, const std::string& piece) {
    return json.find(piece) != std::string::npos;
}

TEST(WebPageRun, StateAnswerIsTheStationsOwnState) {
    WebPageRig r;
    // The PC is an hour ahead of UTC; the board, set from it, too.
    r.rig.clock.set_zone([](const text::DateTime&) { return 3600; });
    ASSERT_TRUE(r.rig.station.start());
    r.rig.host.run_until(r.rig.clock.epoch_seconds() + 30);
    const auto& run = r.rig.station.run();
    std::string state = r.json("/api/state.json");
    SCOPED_TRACE(state);
    EXPECT_TRUE(has(state, "\"title\":\"Backyard\",\"station\":\"Hill \\\"top\\\"\""));
    EXPECT_TRUE(has(state, "\"acquiring\":true"));
    EXPECT_TRUE(has(state, "\"firmware\":" + web::json_string(run.firmware_version)));
    EXPECT_TRUE(has(state, "\"board\":" + web::json_string(run.board_description)));
    EXPECT_TRUE(has(state, "\"lock\":\"" + r.rig.station.services().lock_text() + "\""));
    EXPECT_TRUE(
        has(state, "\"time_source\":\"" + r.rig.station.services().time_reference() + "\""));
    // The snapshot is of the last tick: the board time then, to the second.
    double board = run.board_epoch_second;
    EXPECT_TRUE(has(state, "\"board_time\":\"" + web::board_time_text(board) + "\"") ||
                has(state, "\"board_time\":\"" + web::board_time_text(board - 1) + "\""));
    EXPECT_TRUE(has(state, "\"utc_time\":\"" + web::iso_time(board - 3600) + "Z\"") ||
                has(state, "\"utc_time\":\"" + web::iso_time(board - 3601) + "Z\""));
    EXPECT_TRUE(has(state, "\"utc_offset_seconds\":3600"));
    EXPECT_TRUE(has(state, "\"bad_frames\":" + std::to_string(run.rejected_frames)));
    EXPECT_TRUE(has(state, "\"free_disk_bytes\":123456789"));
    // Channels 1 and 3 only, at their rates (channel 1 is the N axis by default), each with
    // its drum picture on disk.
    EXPECT_TRUE(
        has(state, "{\"channel\":1,\"seed\":\"HHN\",\"configured_sps\":100,\"measured_sps\":100,"));
    EXPECT_TRUE(has(state, "{\"channel\":3,"));
    EXPECT_FALSE(has(state, "{\"channel\":2,"));
    for (int ch : {1, 3}) {
        std::string name = "drum_" + std::to_string(ch) + ".JPG";
        EXPECT_TRUE(has(state, "\"drum\":\"drums/" + name + "\""));
        web::Response picture = r.get("/drums/" + name);
        EXPECT_EQ(picture.status, 200);
        EXPECT_EQ(r.bytes(picture), r.rig.file("drums/" + name));
    }
    // The live trace holds the last seconds of channel 1, thinned to 10 points a second.
    std::string trace = r.json("/api/trace.json?channel=1");
    size_t points = static_cast<size_t>(std::count(trace.begin(), trace.end(), '[')) - 1;
    EXPECT_GE(points, 200u);
    EXPECT_LE(points, 310u);
    r.rig.stop();
    r.rig.station.tick();
    EXPECT_TRUE(has(r.json("/api/state.json"), "\"acquiring\":false"));
}

// A board that falls silent in the middle of a run: within a few seconds the state stops
// saying "acquiring" at the last second's rates and tells how long the silence is; the
// board back, the state is as before.
// The page says why a channel's noise is in counts from the first second on, before the
// noise has been fed any samples.
TEST(WebPageRun, TheNoiseSaysAtOnceWhyAChannelIsInCounts) {
    WebPageRig r;
    r.rig.station.settings().channels[0].sensor_type = 0;  // unknown
    r.page->second();
    std::string state = r.json("/api/state.json");
    EXPECT_TRUE(has(state, "\"calibrated\":false,\"note\":\"the sensor type is unknown\""))
        << state;
}

TEST(WebPageRun, ASilentBoardIsNoAcquisition) {
    WebPageRig r;
    ASSERT_TRUE(r.rig.station.start());
    const double t0 = r.rig.clock.epoch_seconds();
    r.rig.host.run_until(t0 + 20);
    std::string state = r.json("/api/state.json");
    EXPECT_TRUE(has(state, "\"acquiring\":true,\"seconds_since_sample\":0")) << state;

    r.rig.line->set_connected(false);
    r.rig.host.run_until(t0 + 50);
    state = r.json("/api/state.json");
    SCOPED_TRACE(state);
    EXPECT_TRUE(r.rig.station.in_run());
    EXPECT_TRUE(has(state, "\"acquiring\":false,\"seconds_since_sample\":"));
    double silent = std::stod(state.substr(state.find("\"seconds_since_sample\":") + 23));
    EXPECT_GE(silent, 28);
    EXPECT_LE(silent, 31);
    EXPECT_FALSE(has(state, "\"measured_sps\":100")) << "the rates of a second long gone";
    EXPECT_TRUE(has(state, "\"measured_sps\":0"));

    r.rig.line->set_connected(true);
    r.rig.host.run_until(r.rig.clock.epoch_seconds() + 40);
    state = r.json("/api/state.json");
    EXPECT_TRUE(has(state, "\"acquiring\":true,\"seconds_since_sample\":0")) << state;
    EXPECT_TRUE(has(state, "\"measured_sps\":100")) << state;
}

// The events folder set to the station folder: the page serves none of its files (the
// settings among them) and says why once in the event log.
TEST(WebPageRun, AnEventsFolderThatIsTheStationFolderIsNotServed) {
    WebPageRig r;
    r.rig.station.settings().general.events_folder = std::string(kStation);
    r.rig.fs.put(std::string(kStation) + "/20260101_120000.CH1", "secret under an event's name");
    ASSERT_TRUE(r.rig.host.run_for(10));
    r.rig.station.tick();
    for (const char* name : {"20260101_120000.CH1", "velkant.ini", "evtfile.dat"}) {
        EXPECT_EQ(r.get(std::string("/events/") + name).status, 404) << name;
    }
    EXPECT_FALSE(has(r.json("/api/events.json"), "\"download\":\"events/"));
    std::string log = r.rig.file("evtfile.dat");
    size_t told = log.find("is the station folder or holds it");
    ASSERT_NE(told, std::string::npos) << log;
    EXPECT_EQ(log.find("is the station folder or holds it", told + 1), std::string::npos) << log;
}

TEST(WebPageRun, EventsAnswerListsTheRecordedEventsWithTheirFiles) {
    WebPageRig r;
    ASSERT_TRUE(r.rig.host.run_for(400));
    r.rig.station.tick();
    std::string events = r.json("/api/events.json");
    SCOPED_TRACE(events);
    auto names = r.rig.fs.list_directory(std::string(kStation) + "/events");
    int files = 0;
    for (const auto& name : names) {
        if (name.find('.') == std::string::npos) continue;
        ++files;
        ASSERT_TRUE(has(events, "\"file\":\"" + name + "\"")) << name;
        web::Response file = r.get("/events/" + name);
        EXPECT_EQ(file.status, 200);
        EXPECT_EQ(r.bytes(file), r.rig.file("events/" + name)) << name;
        // The figures are the event log's: its line for this file.
        std::string log = r.rig.file("evtfile.dat");
        size_t line = log.find(" " + name + " ");
        ASSERT_NE(line, std::string::npos);
        std::string samples = log.substr(log.find(" L:", line) + 3, 8);
        EXPECT_TRUE(has(events, "\"samples\":" + std::to_string(std::stol(samples))));
    }
    EXPECT_GE(files, 2);  // the quake on both channels
}

}  // namespace
}  // namespace velkantor::testing
