#pragma once

#include <string>

#include "text/date_time.h"

namespace velkantor::platform {

struct PcClockResult {
    enum class Status { done, not_permitted, failed };
    Status status = Status::done;
    std::string text;  // why it failed
    explicit operator bool() const { return status == Status::done; }
};

// Setting the machine's clock. The station holds one only when the operator started it with
// the permission to do so; the tests hold a fake that records.
class PcClockSetter {
public:
    virtual ~PcClockSetter() = default;
    // Sets the machine's clock to a local civil time.
    virtual PcClockResult set_local_time(const text::DateTime& local) = 0;
};

}  // namespace velkantor::platform
