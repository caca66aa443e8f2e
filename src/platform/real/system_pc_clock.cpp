#include "platform/real/system_pc_clock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace velkantor::platform {

PcClockResult SystemPcClock::set_local_time(const text::DateTime& local) {
    tm civil{};
    civil.tm_year = local.year - 1900;
    civil.tm_mon = local.month - 1;
    civil.tm_mday = local.day;
    civil.tm_hour = local.hour;
    civil.tm_min = local.minute;
    civil.tm_sec = local.second;
    civil.tm_isdst = -1;  // the zone's rules decide, as for the times the station reads
    time_t seconds = mktime(&civil);
    if (seconds == static_cast<time_t>(-1)) {
        return {PcClockResult::Status::failed, "the time cannot be represented"};
    }
    timespec ts{seconds, static_cast<long>(local.millisecond) * 1000000L};
    if (clock_settime(CLOCK_REALTIME, &ts) == 0) return {};
    int error = errno;
    return {error == EPERM ? PcClockResult::Status::not_permitted : PcClockResult::Status::failed,
            std::strerror(error)};
}

}  // namespace velkantor::platform
