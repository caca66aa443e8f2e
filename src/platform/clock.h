#pragma once

#include "text/date_time.h"

namespace velkantor::platform {

// The PC clock as the station reads it: local civil time with milliseconds. The core never
// reads the system time in any other way.
class Clock {
public:
    virtual ~Clock() = default;
    virtual text::DateTime now() const = 0;
    // Seconds on a clock that only moves forward, whatever is done to the PC clock (summer
    // time ending, an operator or a time service setting it): for durations and timeouts.
    virtual double monotonic() const = 0;
    // The PC's zone now: local civil time minus UTC, in seconds (summer time included).
    virtual int utc_offset_now() const = 0;
    // The PC's zone at a local civil time (a time the zone passes twice, when summer time
    // ends, is taken as the one of the two nearer to now).
    virtual int utc_offset_at(const text::DateTime& local) const = 0;
    // The platform `Timer`: seconds since local midnight, with fractions.
    double timer() const { return text::seconds_since_midnight(now()); }
};

}  // namespace velkantor::platform
