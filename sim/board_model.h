#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
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
