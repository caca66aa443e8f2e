#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/date_time.h"

// Simulated A/D boards. A model is a device on a serial line: it hears the station's
// commands and produces the bytes the real board would send, on whatever clock drives it
// (the tests' virtual clock or the PC clock). Time is given as epoch seconds of the PC clock.
namespace velkantor::sim {

// A quake burst on all channels, at a board time.
struct Quake {
    text::DateTime board_time;
    double duration_seconds = 60;
    double amplitude = 20000;  // peak counts
};

// A stretch of time: `from` included, `to` excluded.
struct BoardSpan {
    text::DateTime from;
    text::DateTime to;
};

// The board clock steps by `seconds` (negative: back) when it reaches `at`: the time frame
// that would have read `at` reads `at` + `seconds`, and the samples follow the new clock.
struct ClockJump {
    text::DateTime at;
    int seconds = 0;
};

// The time frame of board second `at` carries an impossible field: hours 24, minutes 60,
// seconds 60 or month 13 (seen only in the layout with the date). The clock itself is not
// disturbed.
struct BadTime {
    enum class Field { hours, minutes, seconds, month };
    text::DateTime at;
    Field field = Field::hours;
};

// The board's clock and what its time frames report besides the time.
struct BoardClockOptions {
    // Rate error of the board's crystal against the PC clock, in parts per million: +50 gains
    // 4.32 seconds a day. The sampling follows the same crystal.
    double drift_ppm = 0;

    // The time receiver. Its time is the board clock as it would run from `board_start`
    // without drift, jumps or commands. At each synchronisation the board sets its clock to
    // the receiver's second, which wipes out drift, jumps and clock commands, and flags the
    // time frame of that second (status 0x20); if that frame had already gone out, because
    // the board ran ahead, the next one.
    int sync_every_seconds = 0;            // 0: none; counted from the receiver's midnight
    std::vector<text::DateTime> sync_at;   // more synchronisations, in receiver time
    std::vector<BoardSpan> receiver_lost;  // receiver time without any synchronisation

    bool input_line_1 = false;   // status 0x08
    bool input_line_2 = false;   // status 0x10
    bool daylight_time = false;  // status 0x40: the transmitter sends daylight-saving time

    // Each happens once, at the first board second at or after its time.
    std::vector<ClockJump> jumps;
    std::vector<BadTime> bad_times;
};

// Stretch of board time in which the line corrupts what the board sends: each byte is
// replaced by a random one with probability `replaced`, and followed by an extra random
// byte with probability `injected`.
struct Garbage {
    text::DateTime from;
    text::DateTime to;
    double replaced = 0;
    double injected = 0;
};

// Faults of the line and of the board's firmware. Frame faults hit, once each, the first
// data frame the board sends at or after the given board time.
struct LineFaults {
    std::vector<Garbage> garbage;
    std::vector<text::DateTime> short_frames;         // the last payload byte is missing
    std::vector<text::DateTime> unterminated_frames;  // the terminator is missing
    // Board time in which the board hears and answers every command (a version request, a
    // memory read, a start) but sends no frame: a stalled converter, found and started by a
    // restart that still brings no data.
    std::vector<BoardSpan> silent_streams;
    bool mute_handshake = false;      // never answers a version request; starts when told
    bool ignores_trim_write = false;  // the trimming memory cannot be written
};

struct BoardOptions {
    std::string model = "ZEDA18";
    // Board clock at the moment the model is created (PC epoch seconds `pc_start`).
    text::DateTime board_start{2026, 1, 1, 12, 0, 0, 0};
    double pc_start = 0;
    uint64_t seed = 1;
    double noise_amplitude = 300;  // counts, peak of the background noise
    std::vector<Quake> quakes;
    // A quake every this many seconds of board time (0: none), for the demo station.
    double quake_every_seconds = 0;
    // INFILTEC and N.E. LX1500: readings per second (0: the instrument's own, 10 and 50).
    int reading_rate = 0;

    // ZEDA boards: the firmware's reply to a version request ("V210"; empty: the model's
    // own). The sampling clock and the time frame layout follow it.
    std::string version;
    // Board memory: serial number (addresses 16..19) and clock trimming (1..4); by default
    // derived from the seed.
    std::optional<std::array<uint8_t, 4>> serial_number;
    std::optional<std::array<uint8_t, 4>> trimming;
    BoardClockOptions clock;
    LineFaults faults;
};

// One record line: what went over the line, in which direction, when.
struct LineRecord {
    double time = 0;
    bool from_board = false;
    std::string bytes;
};

class BoardModel {
public:
    virtual ~BoardModel() = default;
    // Bytes written by the station, heard at PC time `now`.
    virtual void receive(std::string_view bytes, double now) = 0;
    // Everything the board sends after its last call up to and including PC time `now`.
    virtual std::string advance_to(double now) = 0;
    // PC time of the next byte the board will send; +infinity when it is silent.
    virtual double next_send_time() const = 0;

    // The value the board's signal generator gives for a channel at a board time (epoch
    // seconds of the board clock): a pure function, so tests can check every sample.
    virtual int32_t signal_at(int channel, double board_epoch_seconds) const = 0;

    // An unplugged board: it neither hears nor sends while disconnected; its clock runs on.
    virtual void set_connected(bool connected) = 0;

    // Optional record of all traffic (off by default: a day at 400 samples per second is
    // large). When set, it is called for every chunk in either direction.
    std::function<void(const LineRecord&)> recorder;
    // Called for every sample the board sends: channel, board epoch seconds, value.
    std::function<void(int, double, int32_t)> sample_listener;
};

// The models by name ("ZEDA18"); nullptr for an unknown name.
std::unique_ptr<BoardModel> make_board(const BoardOptions& options);
std::vector<std::string> model_names();

}  // namespace velkantor::sim
