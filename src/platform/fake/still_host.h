#pragma once

#include <functional>

#include "platform/host.h"

namespace velkantor::platform {

// A host where time stands still and nothing waits: for fuzzing and benchmarks, which feed
// the station bytes directly and must not be slowed by pauses.
struct StillHost : Host {
    void do_events() override {}
    void wait(double) override {}
    void wait_for_input(double) override {}
    void hold_while(const std::function<bool()>&) override {}
};

}  // namespace velkantor::platform
