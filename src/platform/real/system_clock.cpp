#include "platform/real/system_clock.h"

#include <cmath>

#include "platform/real/civil_tm.h"

namespace velkantor::platform {

text::DateTime SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    if (ts.tv_sec != cached_second_) {
        tm local{};
        localtime_r(&ts.tv_sec, &local);
        cached_ = {local.tm_year + 1900,
                   local.tm_mon + 1,
                   local.tm_mday,
                   local.tm_hour,
                   local.tm_min,
                   local.tm_sec > 59 ? 59 : local.tm_sec,
                   0};
        cached_offset_ = local.tm_gmtoff;
        cached_second_ = ts.tv_sec;
    }
    text::DateTime result = cached_;
    result.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return result;
}

int SystemClock::utc_offset_now() const {
    (void)now();
    return static_cast<int>(cached_offset_);
}

int SystemClock::utc_offset_at(const text::DateTime& local) const {
    auto offset_with = [&](int dst, bool& matches) {
        tm t = civil_tm(local, dst);
        time_t at = mktime(&t);
        // mktime normalises a time the zone skips, or one given with the other summer flag:
        // only a result that reads back as the same civil time is that time's zone.
        matches = at != static_cast<time_t>(-1) && t.tm_hour == local.hour &&
                  t.tm_min == local.minute && t.tm_mday == local.day;
        return static_cast<int>(t.tm_gmtoff);
    };
    bool winter_ok = false;
    bool summer_ok = false;
    const int winter = offset_with(0, winter_ok);
    const int summer = offset_with(1, summer_ok);
    if (winter_ok && summer_ok && winter != summer) {
        // The civil time happens twice: the one of the two nearer to now.
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        const double as_utc = text::to_epoch_seconds(local);
        auto distance = [&](int offset) {
            return std::abs(as_utc - offset - static_cast<double>(ts.tv_sec));
        };
        return distance(summer) < distance(winter) ? summer : winter;
    }
    if (summer_ok && !winter_ok) return summer;
    if (winter_ok) return winter;
    bool any = false;
    return offset_with(-1, any);
}

double SystemClock::monotonic() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace velkantor::platform
