#pragma once

#include <functional>

#include "platform/clock.h"

namespace velkantor::platform {

// A clock that only moves when the test (or the virtual host) moves it. `epoch_seconds` is
// the time that passes (the hosts, the simulated boards and the monotonic clock follow it);
// the PC clock the station reads is that time plus the offset a test gives to step the PC
// clock (summer time ending, the clock set by hand).
class VirtualClock : public Clock {
public:
    explicit VirtualClock(text::DateTime start = {2026, 1, 1, 12, 0, 0, 0})
        : seconds_(text::to_epoch_seconds(start)) {}
    text::DateTime now() const override {
        // The station asks many times for each moment the test moves to.
        double pc = seconds_ + pc_offset_;
        if (pc != cached_at_) {
            cached_ = text::from_epoch_seconds(pc);
            cached_at_ = pc;
        }
        return cached_;
    }
    double monotonic() const override { return seconds_; }
    int utc_offset_now() const override { return zone_ ? zone_(now()) : 0; }
    int utc_offset_at(const text::DateTime& local) const override {
        return zone_ ? zone_(local) : 0;
    }
    // The PC's zone as a rule of local civil time (none: UTC).
    void set_zone(std::function<int(const text::DateTime& local)> zone) { zone_ = std::move(zone); }
    double epoch_seconds() const { return seconds_; }
    void set(double epoch_seconds) { seconds_ = epoch_seconds; }
    void advance(double seconds) { seconds_ += seconds; }
    // Steps the PC clock by `seconds` (negative: back); time itself goes on as before.
    void step_pc_clock(double seconds) { pc_offset_ += seconds; }
    double pc_offset() const { return pc_offset_; }

private:
    double seconds_;
    double pc_offset_ = 0;
    std::function<int(const text::DateTime&)> zone_;
    mutable double cached_at_ = -1;
    mutable text::DateTime cached_{};
};

}  // namespace velkantor::platform
