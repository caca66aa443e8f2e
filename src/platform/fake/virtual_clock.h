#pragma once

#include "platform/clock.h"

namespace velkantor::platform {

// A clock that only moves when the test (or the virtual host) moves it.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(text::DateTime start = {2026, 1, 1, 12, 0, 0, 0})
        : seconds_(text::to_epoch_seconds(start)) {}
    text::DateTime now() const override {
        // The station asks many times for each moment the test moves to.
        if (seconds_ != cached_at_) {
            cached_ = text::from_epoch_seconds(seconds_);
            cached_at_ = seconds_;
        }
        return cached_;
    }
    double epoch_seconds() const { return seconds_; }
    void set(double epoch_seconds) { seconds_ = epoch_seconds; }
    void advance(double seconds) { seconds_ += seconds; }

private:
    double seconds_;
    mutable double cached_at_ = -1;
    mutable text::DateTime cached_{};
};

}  // namespace velkantor::platform
