#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "support/station_rig.h"
#include "support/wire_text.h"
#include "timekeeping/board_clock.h"

// What the time keeping tests share: frames of the board clock and a running station.
namespace velkantor::testing {

// The dated time frame of firmware 1.62 to 3.00, and the short one of the others.
inline std::string frame9(int year, int month, int day, int h, int m, int s, int status = 0) {
    return bytes({0x81, year - 2000, month, day, s, m, h, status, 0xF0});
}
inline std::string frame6(int h, int m, int s, int status = 0) {
    return bytes({0x81, s, m, h, status, 0xF0});
}

inline std::vector<std::string> after(const std::vector<std::string>& lines, size_t mark) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(mark, lines.size())), lines.end()};
}

// A ZEDA station started blind (no board on the line), so the test hands the board clock
// its frames and hears what the station sends back.
struct RunningStation {
    StationRig rig;
    std::vector<std::pair<double, std::string>> heard;  // PC epoch seconds, bytes

    explicit RunningStation(const std::string& firmware = "1.81",
                            text::DateTime start = {2026, 3, 1, 12, 0, 0, 0})
        : rig(start) {
        rig.load();
        EXPECT_TRUE(rig.start_blind(firmware));
        rig.port.on_write = [this](std::string_view b) {
            heard.emplace_back(rig.clock.epoch_seconds(), std::string(b));
        };
    }
    bool feed(const std::string& frame) {
        return rig.station.board_clock().ProcessBoardTimeFrame(frame);
    }
    const timekeeping::BoardClockState& state() { return rig.station.board_clock().state(); }
    void set_pc(const text::DateTime& t) { rig.clock.set(text::to_epoch_seconds(t)); }
    std::vector<std::string> events() const { return rig.event_log_messages(); }
    std::vector<std::string> time_log() const {
        std::vector<std::string> out;
        for (const auto& line : split_lines(rig.file("timefile.txt"))) {
            out.push_back(line.size() > 20 ? line.substr(20) : line);
        }
        return out;
    }
};

}  // namespace velkantor::testing
