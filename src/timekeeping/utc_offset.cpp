#include "timekeeping/utc_offset.h"

namespace velkantor::timekeeping {

int board_utc_offset(const UtcOffsetInputs& in) {
    constexpr int kHour = 3600;
    if (in.source == BoardTimeSource::pc) return in.pc_offset;
    if (in.sync_source != 0) return (1 + (in.dcf_daylight ? 1 : 0) + in.gmt_offset) * kHour;
    return in.gmt_offset * kHour;
}

}  // namespace velkantor::timekeeping
