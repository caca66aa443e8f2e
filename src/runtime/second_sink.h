#pragma once

#include <cstdint>
#include <vector>

namespace velkantor::runtime {

// Whatever else is built from the datalog's seconds (the miniSEED records): it hears every
// channel that sends samples, logged or not, with the datalog's own time positions.
class SecondSink {
public:
    virtual ~SecondSink() = default;
    // Channel `ch`'s samples that belong from the second `utc_second` on (the board second
    // less the board's zone: UTC), at `rate`, as the datalog writes them (the samples a line
    // lost are not filled in here). `continues`: they follow the channel's previous samples
    // without a gap, at the rate's spacing, in the same zone.
    virtual void samples(int ch, double utc_second, double rate, char lock,
                         const std::vector<int32_t>& values, bool continues) = 0;
    // The stream was cut or stopped: the samples that follow begin anew.
    virtual void cut() = 0;
};

}  // namespace velkantor::runtime
