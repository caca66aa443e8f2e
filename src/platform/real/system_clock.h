#pragma once

#include <ctime>

#include "platform/clock.h"

namespace velkantor::platform {

// The PC clock in local civil time. Read only: the station never sets it.
class SystemClock : public Clock {
public:
    text::DateTime now() const override;
    double monotonic() const override;
    int utc_offset_now() const override;
    int utc_offset_at(const text::DateTime& local) const override;

private:
    // The local time of the last whole second asked for: the acquisition loop asks many
    // times a second, and the time-zone conversion is the expensive part.
    mutable time_t cached_second_ = -1;
    mutable text::DateTime cached_{};
    mutable long cached_offset_ = 0;
};

}  // namespace velkantor::platform
