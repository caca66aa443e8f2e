#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/board_driver.h"
#include "platform/serial_port.h"

namespace velkantor::acquisition {

// The instruments that are not ZEDA boards have no frames and no clock of their own. Their
// drivers re-code what they send into the ZEDA frame form, so that the station's dispatch
// and decoder serve them unchanged, and they stamp the stream with PC seconds.

// Data frame of a re-coded sample: 0x82 + channel, the low and the high byte of the value as
// a 16-bit two's-complement number, terminator 0xFC (its low bits 0: the bytes are whole).
std::string recoded_data_frame(int channel, int32_t value);
// The once-per-PC-second time frame: 0x81, second, minute, hour, 0x00, 0xFF.
std::string instrument_time_frame(int hour, int minute, int second);

// The fixed line of an instrument and what the station says when it stays silent.
struct InstrumentLine {
    std::string_view description;    // `board_description`, trailing blank included
    std::string_view line_settings;  // "9600,n,8,1"
    int input_length;
    platform::InputMode input_mode;
    std::string_view not_found_log;
    std::string_view not_found_warning;
};

class InstrumentDriver : public BoardDriver {
public:
    explicit InstrumentDriver(const InstrumentLine& line) : line_(line) {}

    // "START with " + description, then the fixed line settings; no handshake.
    bool start_up(Station& station) override;
    // The 16-bit rule of the re-coded frames.
    int32_t decode(std::string_view frame, uint8_t terminator) const override;
    bool time_from_pc_clock() const override { return true; }
    std::optional<int64_t> reading_second() const override {
        if (reading_second_ == std::numeric_limits<int64_t>::min()) return std::nullopt;
        return reading_second_;
    }

protected:
    // How far from a second's boundary a unit may be placed on the other side of it.
    static constexpr double kBoundaryEdge = 0.1;

    // Ends the start script: an instrument that has sent nothing since START and nothing
    // for more than 10 s is reported as not found (false: the run ends).
    bool found(Station& station) const;
    // The PC second the unit (a scan, a reading) read next belongs to: the second in which
    // its first byte arrived, estimated as the time of day less `backlog_seconds`, the time
    // the bytes from it on took to arrive on the line (the real hosts hand bytes over in
    // batches, so a unit is read a few tens of milliseconds after it came). Near a boundary
    // the estimate is off by about a byte batch's phase, so a unit within kBoundaryEdge of it
    // goes to the side that keeps the seconds at `units_per_second` (0: no such rate): a
    // full second takes no more, a second one unit short takes one more. When the second
    // differs from the last one, the time frame is put in the frame buffer and true is
    // returned: that pass reads nothing. It goes back only when the PC clock did.
    bool new_reading_second(Station& station, double backlog_seconds, int units_per_second);
    // A unit of the current reading second has been taken.
    void unit_taken() { ++units_; }
    // The last time frame came right after a whole reading second (not the run's first,
    // nor one after a gap): what was counted in that second is a whole second's worth.
    bool last_second_whole() const { return last_second_whole_; }
    // A complete frame for the station to dispatch.
    static void emit(Station& station, std::string frame);

private:
    const InstrumentLine& line_;
    // Days since 1970 x 86400 + second of day: unlike the time of day alone, it tells a
    // midnight from a clock that went back. The reading second, and the PC second it was
    // last asked in (without the lag).
    int64_t reading_second_ = std::numeric_limits<int64_t>::min();
    int64_t pc_second_ = std::numeric_limits<int64_t>::min();
    // Units taken in the reading second, and whether that second followed the one before.
    int units_ = 0;
    bool second_after_second_ = false;
    bool last_second_whole_ = false;
};

}  // namespace velkantor::acquisition
