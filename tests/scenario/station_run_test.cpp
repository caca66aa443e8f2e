#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "acquisition/zeda_driver.h"
#include "support/station_rig.h"
#include "support/wire_text.h"

namespace velkantor::testing {
namespace {

using runtime::SampleConsumers;

// Takes what the main loop hands out, in order.
struct Recorder : SampleConsumers {
    std::vector<std::pair<int, int32_t>> samples;  // per data frame reaching the trigger step
    std::vector<std::string> calls;                // the chain's order, for the first frame
    int time_frames = 0;
    int ended = 0;

    void chart_pacing(int) override { note("chart_pacing"); }
    void datalog_append(int, int32_t) override { note("datalog"); }
    void detector_statistics(int, int32_t) override { note("detector"); }
    void spectrum(int, int32_t) override { note("spectrum"); }
    void trigger_and_record(int ch, int32_t value) override {
        note("trigger");
        samples.emplace_back(ch, value);
    }
    void chart_draw(int, int32_t) override { note("chart_draw"); }
    void drum(int, int32_t) override { note("drum"); }
    void board_time_frame(std::string_view frame) override {
        EXPECT_EQ(frame.size(), 9u);
        ++time_frames;
    }
    void run_ended(int) override { ++ended; }

    void note(const char* step) {
        if (calls.size() < 7) calls.emplace_back(step);
    }
};

class StationRun : public ::testing::Test {
protected:
    StationRig rig;
    Recorder recorder;

    void SetUp() override {
        rig.load();
        rig.station.set_consumers(&recorder);
        auto& settings = rig.station.settings();
        settings.general.ad_type = config::kZeda18;
        for (auto& channel : settings.channels) channel.sps_index = 15;  // 100 per second
        settings.channels[3].sps_index = 0;
        settings.channels[0].datalog_enabled = 1;
    }
};

TEST_F(StationRun, HandshakeFramesAndStopOnASimulatedBoard) {
    auto& board = rig.attach_board();
    std::string heard;
    board.recorder = [&](const sim::LineRecord& r) {
        if (!r.from_board) heard += r.bytes;
    };
    ASSERT_TRUE(rig.host.run_for(10));

    // The handshake asked for the version, then the start command carried the rate codes.
    EXPECT_EQ(heard.rfind(acquisition::zeda::kWake + acquisition::zeda::kStop +
                              acquisition::zeda::kVersionRequest,
                          0),
              0u);
    std::string start = "DUMMY" + bytes({0x84, 2, 2, 2, 0, 0});
    EXPECT_NE(heard.find(start), std::string::npos);
    EXPECT_EQ(heard.substr(heard.size() - 6), acquisition::zeda::kStop);

    // About 10 seconds of 3 channels at 100 per second, each value as the board made it.
    EXPECT_GE(recorder.samples.size(), 2700u);
    EXPECT_LE(recorder.samples.size(), 3000u);
    EXPECT_GE(recorder.time_frames, 9);
    EXPECT_EQ(rig.station.run().bad_frames, 0);
    std::map<int, int> per_channel;
    for (auto [ch, value] : recorder.samples) ++per_channel[ch];
    EXPECT_EQ(per_channel.count(3), 0u);
    EXPECT_NEAR(per_channel[0], per_channel[2], 1);

    EXPECT_EQ(recorder.calls,
              (std::vector<std::string>{"chart_pacing", "datalog", "detector", "spectrum",
                                        "trigger", "chart_draw", "drum"}));
    EXPECT_EQ(recorder.ended, 4);
    EXPECT_FALSE(rig.port.is_open());
    EXPECT_EQ(rig.station.settings().general.autostart, 0);

    auto log = rig.event_log_messages();
    EXPECT_EQ(log, (std::vector<std::string>{"STARTING VELKANTOR...",
                                             "Found board version: V181 Com1 38400",
                                             "START with ZEDA V181", "STOP"}));
    EXPECT_NE(rig.file("timefile.txt").find("START - Sync mode:DCF Status:Unlocked"),
              std::string::npos);
    EXPECT_EQ(rig.station.run().board_description, "ZEDA V.1.81");
    EXPECT_EQ(rig.station.run().firmware_version, "1.81");
}

TEST_F(StationRun, EverySampleArrivesWithTheBoardsValue) {
    auto& board = rig.attach_board();
    std::vector<std::pair<int, int32_t>> sent;
    board.sample_listener = [&](int ch, double, int32_t value) { sent.emplace_back(ch, value); };
    ASSERT_TRUE(rig.host.run_for(20));
    // STOP discards what was still in flight; everything before arrived, in order, unchanged
    // (the ZEDA18 clips at +-131070 and these values are far inside).
    ASSERT_GE(sent.size(), recorder.samples.size());
    ASSERT_GT(recorder.samples.size(), 5000u);
    for (size_t i = 0; i < recorder.samples.size(); ++i) {
        ASSERT_EQ(recorder.samples[i], sent[i]) << "sample " << i;
    }
}

TEST_F(StationRun, SilentBoardIsNotFound) {
    rig.station.settings().general.autostart = 1;
    EXPECT_FALSE(rig.host.run_for(5));
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown.back().kind, "warning");
    EXPECT_EQ(rig.op.shown.back().text,
              "A/D card not found\r\nCheck your COM setting from com1 to com16\r\nand the serial "
              "cable or link.\r\n");
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
    EXPECT_FALSE(rig.port.is_open());
    EXPECT_TRUE(rig.station.refused());
    // Four identity attempts of four version requests each, half a second apart.
    EXPECT_EQ(rig.port.written().size(), 4 * 4 * 28u);
    auto log = rig.event_log_messages();
    EXPECT_EQ(
        std::count(log.begin(), log.end(), "A/D card not found at startup check. Comm1 38400"), 4);
    EXPECT_EQ(log.back(), "Board not correctly initialized; Com1 38400 START continue...");
}

TEST_F(StationRun, InvalidPortIsCommPortNotValid) {
    rig.port.next_open_result = {platform::OpenError::invalid_port, "/dev/ttyS0: no such device"};
    rig.station.settings().general.autostart = 1;
    EXPECT_FALSE(rig.host.run_for(5));
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown.front().title, "Error");
    EXPECT_EQ(rig.op.shown.front().text, "Comm Port not valid");
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
}

TEST_F(StationRun, DuplicateExtensionsRefuseNamingBothChannels) {
    rig.station.settings().channels[1].event_extension = "ch1";
    EXPECT_FALSE(rig.station.start());
    ASSERT_EQ(rig.op.shown.size(), 1u);
    EXPECT_EQ(rig.op.shown[0].title, "Error.");
    EXPECT_EQ(rig.op.shown[0].text,
              "File extensions mismatch for channel 1 and 2. Check [f.extens.] field and retry.");
    EXPECT_EQ(rig.port.open_count(), 0);
}

TEST_F(StationRun, MissingEventsFolderIsCreatedOnYes) {
    rig.attach_board();
    rig.station.settings().general.events_folder = "/elsewhere/events";
    rig.op.answers = {true};
    ASSERT_TRUE(rig.host.run_for(2));
    ASSERT_FALSE(rig.op.shown.empty());
    EXPECT_EQ(rig.op.shown[0].title, "Warning!");
    EXPECT_EQ(rig.op.shown[0].text,
              "The event folder /elsewhere/events\r\n named on HW Setup doesn't exists!\r\nDo you "
              "want to create it?");
    EXPECT_TRUE(rig.fs.is_directory("/elsewhere/events"));
}

TEST_F(StationRun, MissingEventsFolderOnNoWarnsAndGoesOn) {
    rig.attach_board();
    rig.station.settings().general.events_folder = "/elsewhere/events";
    rig.op.answers = {false};
    ASSERT_TRUE(rig.host.run_for(2));
    EXPECT_EQ(rig.op.shown[1].title, "ERROR!");
    EXPECT_EQ(rig.op.shown[1].text, "The program will crash at first event recording.");
    EXPECT_FALSE(rig.fs.exists("/elsewhere/events"));
}

TEST_F(StationRun, UnpluggedBoardIsRestartedAfterThirtySeconds) {
    auto& board = rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    double t0 = rig.clock.epoch_seconds();
    rig.host.run_until(t0 + 5);
    rig.line->set_connected(false);
    int opens = rig.port.open_count();
    rig.host.run_until(t0 + 60);
    rig.line->set_connected(true);
    int attempts = rig.port.open_count() - opens;
    size_t before = recorder.samples.size();
    rig.host.run_until(t0 + 70);
    rig.stop();
    (void)board;

    // The first restart 30 s after the last data, then one every few seconds while the
    // board stays silent: each one gets the time to answer.
    EXPECT_GE(attempts, 3);
    EXPECT_LE(attempts, 6);
    EXPECT_GT(recorder.samples.size(), before + 2000) << "data flows again after the restart";
    // The event log tells the outage once, and its end with its length.
    auto log = rig.event_log_messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Warning! A/D card restarted."), 1);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& m) {
                                return m.starts_with("A/D card data back after 0:00:");
                            }),
              1);
}

// However long the board stays away, the event log says once that it is back, when its
// samples arrive again, with the outage's true length (not at a restart's handshake).
TEST(StationOutage, DataBackIsToldOnceWithTheTrueLength) {
    for (int silent : {55, 80, 200}) {
        SCOPED_TRACE(silent);
        StationRig rig;
        rig.load();
        rig.attach_board();
        ASSERT_TRUE(rig.station.start());
        const double t0 = rig.clock.epoch_seconds();
        rig.host.run_until(t0 + 5);
        rig.line->set_connected(false);
        rig.host.run_until(t0 + 5 + silent);
        rig.line->set_connected(true);
        rig.host.run_until(t0 + 5 + silent + 30);
        rig.stop();

        auto log = rig.event_log_messages();
        std::vector<std::string> back;
        for (const auto& m : log) {
            if (m.starts_with("A/D card data back after ")) back.push_back(m);
        }
        ASSERT_EQ(back.size(), 1u) << ::testing::PrintToString(log);
        // "A/D card data back after 0:01:20 without data."
        const std::string length = back[0].substr(25, back[0].find(' ', 25) - 25);
        const int seconds = std::stoi(length.substr(0, 1)) * 3600 +
                            std::stoi(length.substr(2, 2)) * 60 + std::stoi(length.substr(5, 2));
        EXPECT_GE(seconds, silent);
        EXPECT_LE(seconds, silent + 8) << back[0];
    }
}

// A board that falls silent in the middle of a frame: the restart begins the stream anew, so
// the cut frame's bytes do not run into the restarted board's first frame.
TEST(StationOutage, ARestartedBoardsStreamBeginsAnew) {
    StationRig rig;
    rig.load();
    rig.attach_board();
    ASSERT_TRUE(rig.station.start());
    const double t0 = rig.clock.epoch_seconds();
    rig.host.run_until(t0 + 5);
    ASSERT_EQ(rig.station.run().rejected_frames, 0);
    rig.line->set_connected(false);
    // The last bytes before the silence: a frame cut short, taken in without its end.
    rig.port.deliver(std::string("\x82\x01\x00\x82\x01\x00", 6));
    rig.host.run_until(t0 + 60);
    rig.line->set_connected(true);
    rig.host.run_until(t0 + 90);
    EXPECT_EQ(rig.station.run().rejected_frames, 0);
    EXPECT_GT(rig.station.run().board_epoch_second, 0);
    EXPECT_EQ(rig.station.run().outage_since, -1) << "the data came back";
}

// A board that is found and takes its start at each restart but sends nothing (a stalled
// converter): the restarts bring no data, so "data back" waits for the first sample after
// the silence, and tells the silence's whole length.
TEST(StationOutage, DataBackWaitsForSamplesNotForARestartThatTookItsStart) {
    constexpr double kSilent = 80;
    const text::DateTime start{2026, 3, 1, 12, 0, 0, 0};
    const double t0 = text::to_epoch_seconds(start);
    StationRig rig(start);
    rig.load();
    sim::BoardOptions options;
    options.faults.silent_streams = {
        {text::from_epoch_seconds(t0 + 10), text::from_epoch_seconds(t0 + 10 + kSilent)}};
    rig.attach_board(options);
    // When samples came back: the first one the board sent after the silence.
    double back_at = 0;
    rig.board->sample_listener = [&](int, double at, int32_t) {
        if (back_at == 0 && at >= t0 + 10 + kSilent) back_at = at;
    };
    // And when the station had them: by the first tick that saw data frames again.
    double had_at = 0;
    double frames_in_silence = -1;
    rig.host.on_tick = [&](double now) {
        const double frames = rig.station.run().data_frames;
        if (now >= t0 + 15 && now < t0 + 10 + kSilent) frames_in_silence = frames;
        if (had_at == 0 && frames_in_silence >= 0 && frames > frames_in_silence) had_at = now;
    };
    ASSERT_TRUE(rig.station.start());
    rig.host.run_until(t0 + 10 + kSilent + 30);
    rig.stop();

    std::vector<std::string> restarts;
    std::vector<std::string> back;
    for (const auto& line : split_lines(rig.file("evtfile.dat"))) {
        if (line.ends_with("Warning! A/D card restarted.")) restarts.push_back(line);
        if (line.find("A/D card data back after ") != std::string::npos) back.push_back(line);
    }
    // The silence outlasts the first restart (30 s) and the next.
    EXPECT_EQ(restarts.size(), 1u) << "one line per outage, then one an hour";
    EXPECT_GE(rig.station.run().last_restart_time, t0 + 10 + 60);
    ASSERT_EQ(back.size(), 1u) << rig.file("evtfile.dat");
    ASSERT_GT(back_at, 0);
    ASSERT_GT(had_at, back_at);
    // Told when the samples came back (a restart just then may cost the board's first second).
    const std::string told = back[0].substr(0, 19);
    EXPECT_GE(told, text::format_datetime(text::from_epoch_seconds(std::floor(back_at))));
    EXPECT_LE(told, text::format_datetime(text::from_epoch_seconds(had_at)));
    const std::string length = back[0].substr(20 + 25, 7);
    const int seconds = std::stoi(length.substr(0, 1)) * 3600 +
                        std::stoi(length.substr(2, 2)) * 60 + std::stoi(length.substr(5, 2));
    EXPECT_GE(seconds, kSilent);
    EXPECT_LE(seconds, had_at - (t0 + 10) + 1) << back[0];
}

TEST_F(StationRun, StartRulesOfTheTwentyFourBitBoard) {
    auto& settings = rig.station.settings();
    settings.general.ad_type = config::kZeda20;
    settings.general.blind_start = 1;
    settings.general.datekeeping = 1;
    settings.channels[1].sps_index = 12;  // 50 while the others run at 100
    settings.general.autostart = 1;
    EXPECT_TRUE(rig.station.start());
    auto result = rig.station.pass();
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(rig.op.shown.back().title, "Warning!");
    EXPECT_EQ(rig.op.shown.back().text, "The ZEDA20 board must work with same SPS on all channels");
    EXPECT_EQ(rig.station.settings().general.autostart, 0);
    EXPECT_FALSE(rig.port.is_open());
}

// Main loop passes fed by hand: blind start, no board, bytes delivered by the test.
class MainLoopPass : public StationRun {
protected:
    void SetUp() override {
        StationRun::SetUp();
        rig.station.settings().general.blind_start = 1;
        rig.station.settings().general.datekeeping = 1;
        ASSERT_TRUE(rig.station.start());
        rig.station.pass();  // the start block
        ASSERT_EQ(rig.station.run().restart_request, 0);
    }
    void deliver_and_pass(const std::string& data, int passes) {
        rig.port.deliver(data);
        for (int i = 0; i < passes; ++i) rig.station.pass();
    }
};

TEST_F(MainLoopPass, ThreeOrFewerBytesAreNotRead) {
    deliver_and_pass(bytes({0x82, 0x01, 0x00}), 5);
    EXPECT_EQ(rig.port.bytes_waiting(), 3u);
    EXPECT_TRUE(recorder.samples.empty());
}

TEST_F(MainLoopPass, AFrameWaitsForItsTerminator) {
    deliver_and_pass(bytes({0x82, 0x05, 0x00, 0x10}), 1);
    EXPECT_EQ(rig.station.run().frame_buffer.size(), 4u);
    EXPECT_TRUE(recorder.samples.empty());
    deliver_and_pass(bytes({0x11, 0xF0, 0x82, 0x01}), 3);
    // Bytes below 0xF0 all belong to one frame until its terminator: wrong length, value 0.
    ASSERT_EQ(recorder.samples.size(), 1u);
    EXPECT_EQ(recorder.samples[0], std::make_pair(0, 0));
    EXPECT_EQ(rig.station.run().bad_frames, 1);
}

TEST_F(MainLoopPass, AFrameSplitAcrossReadsIsNotLost) {
    deliver_and_pass(bytes({0x83, 0x05, 0x01, 0xF0, 0x84}), 1);
    EXPECT_EQ(recorder.samples.size(), 1u);
    deliver_and_pass(bytes({0x06, 0x00, 0xF0, 0x00}), 4);
    ASSERT_EQ(recorder.samples.size(), 2u);
    EXPECT_EQ(recorder.samples[0], std::make_pair(1, 0x105));
    EXPECT_EQ(recorder.samples[1], std::make_pair(2, 6));
}

TEST_F(MainLoopPass, UnknownTypesAndNoiseAreCountedNotFatal) {
    std::string noise;
    for (int i = 0; i < 2000; ++i) noise += static_cast<char>((i * 7919) % 256);
    deliver_and_pass(bytes({0x90, 0x01, 0xF0}) + noise, 3000);
    EXPECT_GT(rig.station.run().bad_frames, 0);
    EXPECT_LE(rig.station.run().frame_buffer.size(), 32u);
    // The loop still decodes a clean frame after the noise.
    rig.station.run().frame_buffer.clear();
    size_t before = recorder.samples.size();
    deliver_and_pass(bytes({0xF0, 0x82, 0x02, 0x00, 0xF0, 0, 0, 0}), 10);
    ASSERT_GT(recorder.samples.size(), before);
    EXPECT_EQ(recorder.samples.back(), std::make_pair(0, 2));
}

TEST_F(MainLoopPass, PreEventRingWrapsAtTheChannelsLength) {
    auto& channel = rig.station.settings().channels[0];
    channel.pre_event_samples = 3;
    for (int v = 1; v <= 4; ++v) deliver_and_pass(bytes({0x82, v, 0, 0xF0}), 2);
    EXPECT_EQ(rig.station.run().ring_at(0, 1), 4);
    EXPECT_EQ(rig.station.run().ring_at(0, 2), 2);
    EXPECT_EQ(rig.station.run().ring_position[0], 2);
}

TEST_F(MainLoopPass, AFailedRestartIsReportedAndTheLoopGoesOn) {
    rig.port.next_open_result = {platform::OpenError::invalid_port, "gone"};
    rig.station.run().restart_request = 2;
    rig.station.pass();
    EXPECT_EQ(rig.station.errors().lines().size(), 1u);
    EXPECT_NE(rig.station.errors().lines()[0].find("Error:8002/Invalid port number: gone / START"),
              std::string::npos);
    EXPECT_NE(rig.file("stub.dat").find("Runtime Error Invalid port number: gone"),
              std::string::npos);
    EXPECT_TRUE(rig.station.in_run());
}

TEST_F(MainLoopPass, ServiceModeStopsOnTheFirstFailure) {
    rig.station.settings().general.service_mode = 1;
    rig.port.next_open_result = {platform::OpenError::invalid_port, "gone"};
    rig.station.run().restart_request = 2;
    EXPECT_THROW(rig.station.pass(), runtime::FatalError);
    EXPECT_TRUE(rig.station.errors().lines().empty());
}

TEST(StationLoad, CreatesFoldersAndLeavesNoProbe) {
    StationRig rig;
    rig.load();
    for (const char* folder : {"events", "datalog", "drums", "events/sent"}) {
        std::string path = std::string(kStation) + "/" + folder;
        EXPECT_TRUE(rig.fs.is_directory(path)) << folder;
        EXPECT_FALSE(rig.fs.exists(path + "/test.$%&")) << folder;
    }
    EXPECT_EQ(rig.event_log_messages(), std::vector<std::string>{"STARTING VELKANTOR..."});
    EXPECT_FALSE(rig.file("velkant.ini").empty());
}

TEST(StationLoad, UnwritableStationFolderIsAClearMessage) {
    StationRig rig;
    EXPECT_TRUE(rig.fs.create_directories(kStation));
    rig.fs.set_read_only(kStation);
    std::string failed = rig.station.load();
    EXPECT_NE(failed.find("Cannot"), std::string::npos);
    EXPECT_NE(failed.find("Permission denied"), std::string::npos);
}

TEST(StationLoad, ExitLeavesTheSettingsFileAlone) {
    StationRig rig;
    rig.load();
    std::string saved = rig.file("velkant.ini");
    rig.station.settings().general.location = "Changed";
    rig.station.exit();
    EXPECT_EQ(rig.file("velkant.ini"), saved);
    EXPECT_EQ(rig.event_log_messages().back(), "TERMINATING VELKANTOR...");
}

}  // namespace
}  // namespace velkantor::testing
