#include "platform/real/system_clock.h"

namespace velkantor::platform {

text::DateTime SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec != cached_second_) {
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        cached_ = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                   local.tm_min,         local.tm_sec > 59 ? 59 : local.tm_sec, 0};
        cached_second_ = ts.tv_sec;
    }
    text::DateTime result = cached_;
    result.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return result;
}

double SystemClock::monotonic() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace velkantor::platform
