#pragma once

#include <memory>
#include <string>
#include <vector>

#include "acquisition/station.h"
#include "app/virtual_host.h"
#include "config/settings_file.h"
#include "platform/fake/fake_devices.h"
#include "platform/fake/memory_file_system.h"
#include "platform/fake/memory_serial_port.h"
#include "platform/fake/scripted_operator.h"
#include "platform/fake/virtual_clock.h"
#include "sim/board_model.h"
#include "sim/virtual_line.h"
#include "support/wire_text.h"

namespace velkantor::testing {

inline constexpr const char* kStation = "/station";

// A station on memory, a virtual clock and (optionally) a simulated board on an in-memory
// line: everything a scenario needs, with nothing real underneath.
struct StationRig {
    explicit StationRig(text::DateTime start = {2026, 3, 1, 12, 0, 0, 0})
        : clock(start), host(clock), station({fs, clock, port, op, host}, kStation) {
        host.attach(&station, &port);
        // The board may set the (recording) PC clock, as with --set-pc-clock.
        station.set_devices({.pc_clock = &pc_clock});
    }

    // Loads the station; `settings_text` (when given) is the velkant.ini found on disk.
    void load(const std::string& settings_text = {}) {
        if (!settings_text.empty()) fs.put(std::string(kStation) + "/velkant.ini", settings_text);
        std::string failed = station.load();
        if (!failed.empty()) throw std::runtime_error(failed);
    }

    // Puts a simulated board on the line (in place of the one there).
    sim::BoardModel& attach_board(sim::BoardOptions options = {}) {
        line.reset();  // it holds the old board and, when it goes, unhooks the port
        options.pc_start = clock.epoch_seconds();
        if (options.board_start == text::DateTime{2026, 1, 1, 12, 0, 0, 0}) {
            options.board_start = clock.now();
        }
        board = sim::make_board(options);
        line = std::make_unique<sim::VirtualLine>(port, *board, clock);
        host.attach_line({[this] { line->pump(); }, [this] { return line->next_send_time(); }});
        return *board;
    }

    // An 18-bit ZEDA station started blind (nothing need answer on the line) with the board
    // keeping the date, past its start block; as a board of `firmware` runs it, when given.
    bool start_blind(const std::string& firmware = {}) {
        auto& general = station.settings().general;
        general.ad_type = config::kZeda18;
        general.blind_start = 1;
        general.datekeeping = 1;
        if (!station.start()) return false;
        station.pass();  // the start block
        if (!firmware.empty()) station.run().firmware_version = firmware;
        return true;
    }

    // STOP, and the passes that finish the run.
    void stop() {
        station.stop();
        while (station.in_run()) {
            if (station.pass().ended) break;
        }
    }

    std::string file(const std::string& name) const {
        return fs.contents(std::string(kStation) + "/" + name);
    }
    // The event log's messages without their time stamps.
    std::vector<std::string> event_log_messages() const;

    platform::MemoryFileSystem fs;
    platform::VirtualClock clock;
    platform::MemorySerialPort port;
    platform::ScriptedOperator op;
    platform::FakePcClock pc_clock;
    app::VirtualHost host;
    acquisition::Station station;
    std::unique_ptr<sim::BoardModel> board;
    std::unique_ptr<sim::VirtualLine> line;
};

// A channel recording events at 100 samples per second with a trigger that a simulated quake
// sets off and background noise does not (`stop_ratio` is the STA/LTA that ends an event).
inline void record_events(config::ChannelSettings& channel,
                          const char* stop_params = "1800,0.5,2,4") {
    channel.sps_index = 15;
    channel.record_enabled = 1;
    channel.start_params = "2000,2,0.5,1,30,3";
    channel.stop_params = stop_params;
    config::DecodeStartParams(channel);
    config::DecodeStopParams(channel);
    config::UpdateDerivedCounts(channel);
}

}  // namespace velkantor::testing
