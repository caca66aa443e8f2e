#pragma once

#include "platform/clock.h"

namespace velkantor::platform {

// A clock that only moves when the test (or the virtual host) moves it.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(text::DateTime start = {2026, 1, 1, 12, 0, 0, 0})
        : seconds_(text::to_epoch_seconds(start)) {}
    text::DateTime now() const override { return text::from_epoch_seconds(seconds_); }
    double epoch_seconds() const { return seconds_; }
    void set(double epoch_seconds) { seconds_ = epoch_seconds; }
    void advance(double seconds) { seconds_ += seconds; }

private:
    double seconds_;
};

}  // namespace velkantor::platform
