#pragma once

#include "platform/pc_clock.h"

namespace velkantor::platform {

// clock_settime() of the system's real-time clock. Constructed only when the operator gave
// the permission (--set-pc-clock); the system may still refuse (EPERM without the right).
class SystemPcClock : public PcClockSetter {
public:
    PcClockResult set_local_time(const text::DateTime& local) override;
};

}  // namespace velkantor::platform
