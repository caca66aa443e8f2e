#include "instrument_board.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velkantor::sim {

InstrumentBoard::InstrumentBoard(const BoardOptions& options, int sample_bits,
                                 double bytes_per_second)
    : options_(options),
      sample_bits_(sample_bits),
      offset_(text::to_epoch_seconds(options.board_start) - options.pc_start),
      rate_(1.0 + options.clock.drift_ppm * 1e-6),
      byte_seconds_(1.0 / bytes_per_second) {
    signal_.emplace(options_, ticks_per_second_, sample_bits_);
}

// A sampling clock off by `drift_ppm` runs at that rate from the PC time it was started at.
double InstrumentBoard::tick_time(int64_t tick) const {
    const double instrument = static_cast<double>(tick) / ticks_per_second_ - offset_;
    return options_.pc_start + (instrument - options_.pc_start) / rate_;
}

void InstrumentBoard::resume_after(double now) {
    const double instrument = options_.pc_start + (now - options_.pc_start) * rate_;
    next_tick_ = static_cast<int64_t>(std::floor((instrument + offset_) * ticks_per_second_)) + 1;
}

void InstrumentBoard::start_streaming(int ticks_per_second, double now) {
    if (ticks_per_second != ticks_per_second_) {
        ticks_per_second_ = std::max(ticks_per_second, 1);
        signal_.emplace(options_, ticks_per_second_, sample_bits_);
    }
    streaming_ = true;
    resume_after(now);
}

int32_t InstrumentBoard::value(int channel, int64_t tick) const {
    int32_t v = signal_->at_tick(channel, tick);
    if (sample_listener) {
        sample_listener(channel, static_cast<double>(tick) / ticks_per_second_, v);
    }
    return v;
}

void InstrumentBoard::produce(double now) {
    if (connected_ && streaming_) {
        while (tick_time(next_tick_) <= now) {
            // A unit starts at its tick, or when the line is free if the last one is still
            // going out. Byte times count from the unit's start, never on from byte to byte,
            // so that rounding cannot creep into an hour of units.
            double start = tick_time(next_tick_);
            if (line_free_ - start > 1e-6) start = line_free_;
            std::string bytes = unit(next_tick_);
            for (size_t i = 0; i < bytes.size(); ++i) {
                outgoing_.push_back({start + static_cast<double>(i) * byte_seconds_, bytes[i]});
            }
            line_free_ = start + static_cast<double>(bytes.size()) * byte_seconds_;
            ++next_tick_;
        }
    }
    told_ = std::max(told_, now);
}

void InstrumentBoard::receive(std::string_view bytes, double now) {
    now = std::max(now, told_);
    produce(now);
    if (!connected_) return;
    if (recorder) recorder(LineRecord{now, false, std::string(bytes)});
    hear(bytes, now);
}

std::string InstrumentBoard::advance_to(double now) {
    produce(now);
    std::string out;
    while (!outgoing_.empty() && outgoing_.front().at <= now) {
        out += outgoing_.front().byte;
        outgoing_.pop_front();
    }
    if (!out.empty() && recorder) recorder(LineRecord{std::max(now, told_), true, out});
    return out;
}

double InstrumentBoard::next_send_time() const {
    if (!outgoing_.empty()) return outgoing_.front().at;
    if (!connected_ || !streaming_) return std::numeric_limits<double>::infinity();
    return tick_time(next_tick_);
}

int32_t InstrumentBoard::signal_at(int channel, double board_epoch_seconds) const {
    return signal_->at(channel, board_epoch_seconds);
}

void InstrumentBoard::set_connected(bool connected) {
    // What would have been sent while unplugged is gone (the bytes still going out when the
    // cable was pulled too); sending goes on from the replug.
    if (!connected) {
        while (!outgoing_.empty() && outgoing_.back().at > told_) outgoing_.pop_back();
    }
    if (connected && !connected_ && streaming_) resume_after(told_);
    connected_ = connected;
}

}  // namespace velkantor::sim
