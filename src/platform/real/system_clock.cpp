#include "platform/real/system_clock.h"

#include <ctime>

namespace velkantor::platform {

text::DateTime SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec > 59 ? 59 : local.tm_sec,
            static_cast<int>(ts.tv_nsec / 1000000)};
}

}  // namespace velkantor::platform
