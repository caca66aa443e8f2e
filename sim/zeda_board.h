#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board_model.h"
#include "signal_generator.h"
#include "zeda_command_parser.h"

namespace velkantor::sim {

// What tells one ZEDA board from another on the line. The boards share their command set,
// their frame form and their clock; they differ in these numbers only.
struct ZedaFamily {
    std::string_view model;     // name for make_board: "ZEDA18"
    std::string version{};      // the four-character reply to a version request: "V181"
    int sample_bits = 18;       // 16, 18 or 24
    int data_frame_length = 4;  // type, payload bytes, terminator
    int time_frame_length = 9;  // 9 with the date, 6 without
    // The board's sampling clock in ticks per second: rate code c gives one sample every c
    // ticks, so rate_base / c samples per second (code 0: the channel is off).
    int rate_base = 200;
    // The 16-channel board's start command carries one rate code and a channel mask (low
    // byte, high byte) instead of a code per channel.
    bool masked_start = false;
    // Firmware 1.62, 1.81, 2.00 and 2.10 turn the date one second late: the frame of 00:00:00
    // still carries the day before (the station corrects it).
    bool date_late_at_midnight = false;

    // The same board with another firmware. The firmware decides the sampling clock
    // (2400 ticks for 2.1x; 200 for 1.6x, 1.8x, 2.0x and 3.0x; 100 for the rest), whether
    // the time frame carries the date (1.62, 1.63, 1.81, 2.00, 2.10 and 3.00 only) and
    // whether it is late at midnight, as the station's firmware table says.
    ZedaFamily with_firmware(std::string_view firmware) const;
};

// A data frame: type 0x82 + channel, then the sample's two's-complement bits, 7 to a byte.
// The top bit of the first two payload bytes rides in terminator bits 0 and 1; the bits
// left over above the payload go to terminator bits 2, 3 (the last of them is the sign).
std::string encode_data_frame(const ZedaFamily& family, int channel, int32_t value);

// The date and time fields a board sends for one of its seconds.
text::DateTime time_frame_fields(const ZedaFamily& family, int64_t board_epoch_second);
// The once-a-second time frame of board second `board_epoch_second`, status byte included.
std::string encode_time_frame(const ZedaFamily& family, int64_t board_epoch_second, uint8_t status);
// The same from the fields, which need not make a valid time.
std::string encode_time_frame(const ZedaFamily& family, const text::DateTime& fields,
                              uint8_t status);

// A ZEDA board. It starts stopped and silent; it answers the station's commands and, once
// started, sends each board second a time frame and then that second's samples of every
// enabled channel in time order.
//
// The board clock runs from `board_start` at its own rate (`clock.drift_ppm`); the clock
// commands, the time receiver and the scheduled jumps reset it, each from its own moment.
// Each time the board is told the PC time (receive, advance_to), the bytes and clock events
// due up to then are made; a change through a setter (connection, receiver, status lines)
// takes effect at the last time the board was told, so a host pumps the line first.
class ZedaBoard : public BoardModel {
public:
    ZedaBoard(const ZedaFamily& family, const BoardOptions& options);

    void receive(std::string_view bytes, double now) override;
    std::string advance_to(double now) override;
    // While sending, this may also be the moment of a clock event, which restarts the
    // board's second; a pump then may find nothing yet.
    double next_send_time() const override;
    int32_t signal_at(int channel, double board_epoch_seconds) const override;
    void set_connected(bool connected) override;

    // The time receiver comes and goes (an antenna cut, a lost signal).
    void set_receiver_on(bool on);
    // Input line 1 or 2 (status 0x08, 0x10) and the daylight-saving flag (0x40).
    void set_input_line(int line, bool on);
    void set_daylight_time(bool on);

    // For tests and hosts that show the board's state.
    const ZedaFamily& family() const { return family_; }
    double board_time(double pc_time) const {
        return anchor_board_ + (pc_time - anchor_pc_) * rate_;
    }
    // The receiver's time: the board clock as it would run without drift or resets.
    double receiver_time(double pc_time) const { return pc_time + receiver_offset_; }
    bool streaming() const { return streaming_; }
    // The rate code each of channels 0..3 runs at (0: off), as the last start set them.
    std::array<uint8_t, 4> rate_codes() const { return codes_; }
    int8_t time_zone_correction() const { return time_zone_; }
    uint8_t memory(uint8_t address) const { return memory_[address]; }

private:
    static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

    struct Slot {
        int tick;     // within the second, in board clock ticks
        int channel;  // -1: the time frame
    };
    struct GarbageSpan {
        double from;  // board epoch seconds
        double to;
        double replaced;
        double injected;
    };
    enum class ClockEvent { none, jump, sync };

    void apply(const ZedaCommand& command, double now);
    void start(const std::array<uint8_t, 4>& codes, double now);
    // Places the samples of board second `second` in `slots_`.
    void lay_out(int64_t second);
    void resume_after(double now);
    void move_clock(double new_board_time, double now);

    // Makes everything due up to PC time `now` into the outgoing bytes.
    void produce(double now);
    void send_slot(double at);
    std::pair<ClockEvent, double> next_clock_event() const;
    void jump(double at);
    void synchronise(double at);
    int64_t next_sync_from(int64_t receiver_second) const;

    // PC time at which the board clock reads `second` + `fraction`.
    double pc_at(int64_t second, double fraction) const;
    double slot_time(int64_t second, size_t slot) const;
    uint8_t status(int64_t second) const;
    void send(std::string bytes, double now, double board_time);
    void corrupt(std::string& bytes, double board_time);

    ZedaFamily family_;
    SignalGenerator signal_;
    ZedaCommandParser parser_;
    uint64_t seed_;
    std::array<uint8_t, 256> memory_{};
    std::array<uint8_t, 4> codes_{};
    int8_t time_zone_ = 0;
    bool connected_ = true;
    bool streaming_ = false;
    bool mute_handshake_;
    bool ignores_trim_write_;

    // Board clock: `anchor_board_` at PC time `anchor_pc_`, running `rate_` times as fast.
    double anchor_pc_;
    double anchor_board_;
    double rate_;
    double receiver_offset_;  // receiver time minus PC time

    // Receiver synchronisations, in receiver epoch seconds.
    int sync_every_;
    std::vector<int64_t> sync_at_;  // earliest first
    std::vector<std::pair<double, double>> receiver_lost_;
    bool receiver_on_ = true;
    int64_t next_sync_ = kNever;
    int64_t flagged_second_ = kNever;  // the time frame that reports the last synchronisation
    bool input_line_1_;
    bool input_line_2_;
    bool daylight_time_;

    // Scheduled once-only events, latest first so that the next is at the back.
    std::vector<std::pair<int64_t, int>> jumps_;  // board second, step
    std::vector<std::pair<int64_t, BadTime::Field>> bad_times_;
    std::vector<double> short_frames_;  // board epoch seconds
    std::vector<double> unterminated_frames_;
    std::vector<GarbageSpan> garbage_;
    std::vector<std::pair<double, double>> silent_streams_;  // board epoch seconds
    uint64_t garbage_bytes_ = 0;  // bytes the line has carried in garbage spans

    std::vector<Slot> slots_;          // one board second of sending, in order
    bool layout_each_second_ = false;  // a code that does not divide the second's ticks
    int64_t next_second_ = 0;          // board second of the next slot to send
    size_t next_slot_ = 0;
    double told_;  // latest PC time the board was told, or reached while producing

    std::string outgoing_;  // made, not yet taken by advance_to
    double outgoing_since_ = 0;
};

}  // namespace velkantor::sim
