#pragma once

#include <ctime>

#include "text/date_time.h"

namespace velkantor::platform {

// A civil time of the machine's zone as the C library takes it; `isdst` as mktime reads it
// (-1: the zone's rules decide).
inline tm civil_tm(const text::DateTime& local, int isdst) {
    tm t{};
    t.tm_year = local.year - 1900;
    t.tm_mon = local.month - 1;
    t.tm_mday = local.day;
    t.tm_hour = local.hour;
    t.tm_min = local.minute;
    t.tm_sec = local.second;
    t.tm_isdst = isdst;
    return t;
}

}  // namespace velkantor::platform
