#pragma once

#include "platform/clock.h"

namespace velkantor::platform {

// The PC clock in local civil time. Read only: the station never sets it.
class SystemClock : public Clock {
public:
    text::DateTime now() const override;
};

}  // namespace velkantor::platform
