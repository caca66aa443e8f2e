#include "platform/real/system_pc_clock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/real/civil_tm.h"

namespace velkantor::platform {

PcClockResult SystemPcClock::set_local_time(const text::DateTime& local) {
    // The zone's rules decide the summer flag, as for the times the station reads.
    tm civil = civil_tm(local, -1);
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
