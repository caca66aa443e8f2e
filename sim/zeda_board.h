#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "board_model.h"
#include "signal_generator.h"
#include "zeda_command_parser.h"

namespace velkantor::sim {

// What tells one ZEDA board from another on the line. The boards share their command set,
// their frame form and their clock; they differ in these numbers only.
struct ZedaFamily {
    std::string_view model;     // name for make_board: "ZEDA18"
    std::string_view version;   // the four-character reply to a version request: "V181"
    int sample_bits = 18;       // 16, 18 or 24
    int data_frame_length = 4;  // type, payload bytes, terminator
    int time_frame_length = 9;  // 9 with the date, 6 without
    // The board's sampling clock in ticks per second: rate code c gives one sample every c
    // ticks, so rate_base / c samples per second.
    int rate_base = 200;
};

// A data frame: type 0x82 + channel, then the sample's two's-complement bits, 7 to a byte.
// The top bit of the first two payload bytes rides in terminator bits 0 and 1; the bits
// left over above the payload go to terminator bits 2, 3 (the last of them is the sign).
std::string encode_data_frame(const ZedaFamily& family, int channel, int32_t value);

// The once-a-second time frame of board second `board_epoch_second`, status byte included.
std::string encode_time_frame(const ZedaFamily& family, int64_t board_epoch_second, uint8_t status);

// A ZEDA board. It starts stopped and silent; it answers the station's commands and, once
// started, sends each board second a time frame and then that second's samples of every
// enabled channel in time order.
//
// The board clock runs at the PC rate: board time = PC time + an offset, set from the
// options and moved by the clock commands. Each time the board is told the PC time
// (receive, advance_to), the bytes due up to then are made; a connection change takes
// effect at the last time the board was told.
class ZedaBoard : public BoardModel {
public:
    ZedaBoard(const ZedaFamily& family, const BoardOptions& options);

    void receive(std::string_view bytes, double now) override;
    std::string advance_to(double now) override;
    double next_send_time() const override;
    int32_t signal_at(int channel, double board_epoch_seconds) const override;
    void set_connected(bool connected) override;

    // For tests and hosts that show the board's state.
    const ZedaFamily& family() const { return family_; }
    double board_time(double pc_time) const { return pc_time + offset_; }
    bool streaming() const { return streaming_; }
    std::array<uint8_t, 4> rate_codes() const { return codes_; }
    int8_t time_zone_correction() const { return time_zone_; }
    uint8_t memory(uint8_t address) const { return memory_[address]; }

private:
    struct Slot {
        int tick;     // within the second, in board clock ticks
        int channel;  // -1: the time frame
    };

    void apply(const ZedaCommand& command, double now);
    void start(const std::array<uint8_t, 4>& codes, double now);
    void resume_after(double now);
    void move_clock(double new_board_time, double now);
    // Makes everything due up to PC time `now` into the outgoing bytes.
    void produce(double now);
    double slot_time(int64_t second, size_t slot) const;
    void send(std::string bytes, double now);

    ZedaFamily family_;
    SignalGenerator signal_;
    ZedaCommandParser parser_;
    double offset_;  // board epoch seconds minus PC epoch seconds
    std::array<uint8_t, 256> memory_{};
    std::array<uint8_t, 4> codes_{};
    int8_t time_zone_ = 0;
    bool connected_ = true;
    bool streaming_ = false;

    std::vector<Slot> slots_;  // one board second of sending, in order
    int64_t next_second_ = 0;  // board second of the next slot to send
    size_t next_slot_ = 0;
    double told_ = -1e300;  // latest PC time the board was told

    std::string outgoing_;  // made, not yet taken by advance_to
    double outgoing_since_ = 0;
};

}  // namespace velkantor::sim
