#include "acquisition/instrument_driver.h"

#include <algorithm>
#include <cmath>

#include "acquisition/station.h"

namespace velkantor::acquisition {

namespace {

constexpr uint8_t kTimeFrame = 0x81;
constexpr uint8_t kFirstDataFrame = 0x82;
constexpr uint8_t kDataTerminator = 0xFC;
constexpr uint8_t kTimeTerminator = 0xFF;

}  // namespace

std::string recoded_data_frame(int channel, int32_t value) {
    auto word = static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFF);
    return {static_cast<char>(kFirstDataFrame + (channel & 3)), static_cast<char>(word & 0xFF),
            static_cast<char>(word >> 8), static_cast<char>(kDataTerminator)};
}

std::string instrument_time_frame(int hour, int minute, int second) {
    return {static_cast<char>(kTimeFrame),
            static_cast<char>(second),
            static_cast<char>(minute),
            static_cast<char>(hour),
            '\0',
            static_cast<char>(kTimeTerminator)};
}

bool InstrumentDriver::start_up(Station& station) {
    auto& port = station.port();
    station.AppendEventLog("START with " + std::string(line_.description));
    station.run().board_description = std::string(line_.description);
    if (port.is_open()) port.close();
    port.set_line_settings(line_.line_settings);
    port.set_port_number(station.settings().general.comm_port);
    port.discard_input();
    port.set_input_length(line_.input_length);
    port.set_input_mode(line_.input_mode);
    port.set_handshake_lines(true, true);
    return station.open_port();
}

int32_t InstrumentDriver::decode(std::string_view frame, uint8_t terminator) const {
    auto at = [&](size_t i) -> int32_t {
        return i < frame.size() ? static_cast<uint8_t>(frame[i]) : 0;
    };
    int32_t low = at(1) + 128 * (terminator & 1);
    int32_t high = at(2) + 128 * ((terminator >> 1) & 1);
    // Full payload bytes plus terminator bits can pass 16 bits on a damaged frame; the
    // sample is the low 16 of them.
    int32_t value = (high * 256 + low) & 0xFFFF;
    return value >= 0x8000 ? value - 65536 : value;
}

bool InstrumentDriver::found(Station& station) const {
    // An instrument that sent in this run and went silent (a USB hiccup, a power dip) is
    // restarted until it sends again: the restart itself follows 30 s without data, so its
    // silence says nothing. Only one that never sent since START is not there.
    if (station.run().data_frames > 0 || station.SecondsSinceLastData() <= 10) return true;
    station.board_not_found();
    station.AppendEventLog(line_.not_found_log);
    station.op().warn(line_.not_found_warning);
    return false;
}

bool InstrumentDriver::new_reading_second(Station& station, double backlog_seconds,
                                          int units_per_second) {
    text::DateTime now = station.clock().now();
    const int64_t pc_second = text::days_from_civil(now.year, now.month, now.day) * 86400 +
                              now.hour * 3600 + now.minute * 60 + now.second;
    const double arrived =
        static_cast<double>(pc_second) + now.millisecond / 1000.0 - std::max(0.0, backlog_seconds);
    auto second = static_cast<int64_t>(std::floor(arrived));
    // The PC clock itself went back (summer time ending, a clock set by hand): the seconds
    // it gives again are new seconds of the instrument, which samples on regardless.
    const bool pc_clock_back = pc_second < pc_second_;
    pc_second_ = pc_second;
    const bool running = reading_second_ != std::numeric_limits<int64_t>::min();
    if (running && !pc_clock_back && units_per_second > 0) {
        const auto boundary = static_cast<double>(reading_second_ + 1);
        if (second == reading_second_ && units_ >= units_per_second &&
            arrived >= boundary - kBoundaryEdge) {
            second = reading_second_ + 1;
        } else if (second == reading_second_ + 1 && units_ == units_per_second - 1 &&
                   arrived < boundary + kBoundaryEdge) {
            second = reading_second_;
        }
    }
    if (second == reading_second_) return false;
    // A backlog that grows never takes the reading second back: the second given stays.
    if (second < reading_second_ && !pc_clock_back) return false;
    const bool next = running && second == reading_second_ + 1;
    last_second_whole_ = next && second_after_second_;
    second_after_second_ = next;
    reading_second_ = second;
    units_ = 0;
    int64_t of_day = second % 86400;
    if (of_day < 0) of_day += 86400;
    emit(station,
         instrument_time_frame(static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                               static_cast<int>(of_day % 60)));
    return true;
}

void InstrumentDriver::emit(Station& station, std::string frame) {
    auto& run = station.run();
    run.last_byte = static_cast<uint8_t>(frame.back());
    run.frame_buffer = std::move(frame);
}

}  // namespace velkantor::acquisition
