#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/settings.h"

namespace velkantor::runtime {

inline constexpr int kPreEventRingLength = 180000;

// What a run derives from its board's current stream. START and every restart of the board
// build it anew (RunState::begin_stream), so nothing of an earlier stream (a partial frame,
// a board second, the lock, a measured rate, the pre-event samples) is taken for the new
// one's; a field added here is reset at both edges without more code.
struct BoardStream {
    std::string frame_buffer;
    int16_t last_byte = 0;
    // Frames rejected, as on show (the timer clears it).
    long bad_frames = 0;

    std::array<int32_t, config::kChannels> raw_sample{};
    std::array<int32_t, config::kChannels> sample_value{};
    std::array<double, config::kChannels> second_sample_count{};
    std::array<double, config::kChannels> sample_fraction{};
    double channel0_sample_total = 0;
    // Channel-0 samples counted in the previous board second (0 until the first second ends).
    double measured_rate = 0;
    // Every channel's samples counted in the previous board second (the `true_sps` figure).
    std::array<double, config::kChannels> last_second_count{};
    std::array<int16_t, config::kChannels> new_sample_flag{};
    std::array<int16_t, config::kChannels> second_check_count{};

    // 4 channels x 180,000 samples; position runs 1..pre-event length, then wraps to 1.
    std::vector<int32_t> pre_event_ring =
        std::vector<int32_t>(static_cast<size_t>(config::kChannels) * kPreEventRingLength, 0);
    std::array<int32_t, config::kChannels> ring_position{1, 1, 1, 1};
    // Samples the ring received since the stream began (capped at its size): until it is
    // full, the rest of the ring holds zeros that no board sent.
    std::array<int32_t, config::kChannels> ring_count{};

    // "L" while the board clock is locked to its time receiver, "N" otherwise.
    std::string lock_state = "N";
    // The whole board second of the last board time frame, as epoch seconds (0: none yet).
    double board_epoch_second = 0;
    // A sample has fallen at the start of a whole second in this stream: triggering may begin.
    bool second_started = false;
    // The board second and the tenth of it whose sample time the view was last given: it
    // hears of a new second or a later tenth, not of every sample.
    double time_shown_second = -1;
    int time_shown_tenth = -1;

    int32_t& ring_at(int channel, int32_t position) {
        return pre_event_ring[static_cast<size_t>(channel) * kPreEventRingLength +
                              static_cast<size_t>(position - 1)];
    }
    int32_t ring_at(int channel, int32_t position) const {
        return pre_event_ring[static_cast<size_t>(channel) * kPreEventRingLength +
                              static_cast<size_t>(position - 1)];
    }
};

// The state of an acquisition run that the subsystems share: the run's own facts, and the
// board stream it is receiving now.
struct RunState : BoardStream {
    int16_t acquisition_running = 0;
    int16_t restart_request = 0;
    // Monotonic seconds (the clock's `monotonic`, which a PC clock step does not move) of the
    // last data frame.
    double last_data_time = 0;
    // Monotonic seconds of the last board restart: a restarted board gets a few seconds to
    // answer before it is restarted again.
    double last_restart_time = -1;
    // An outage: monotonic seconds of the last data before the board went silent (-1: none),
    // and of the last restart line the event log got for it.
    double outage_since = -1;
    double outage_logged_at = -1;
    double idle_passes = 0;
    // Frames taken since START, for the run's summary.
    double data_frames = 0;
    double time_frames = 0;
    // Frames rejected since START; `bad_frames` is the count on show, which the timer clears.
    long rejected_frames = 0;
    int16_t main_loop_alive = 0;

    std::array<double, config::kChannels> configured_rate{};

    // The value-label refresh remembers one fifth-of-a-second slot for all channels.
    int label_slot = -1;
    // Tenth-of-a-second tick of the previous yield.
    int64_t last_yield_tick = -1;

    // Clipping limits for the interface type.
    int32_t clip_upper = 32766;
    int32_t clip_lower = -32766;

    // The board as found by the start-up.
    std::string firmware_version;
    std::string board_description;

    // A new board stream (START, a restart after an outage): everything derived from the
    // last one is dropped.
    void begin_stream() { static_cast<BoardStream&>(*this) = BoardStream{}; }
};

}  // namespace velkantor::runtime
