// Any bytes as the DataLink sender's state file (datalink.state in the station folder): it is
// read or refused with a reason, never crashes; a state it reads, once it has gone on (live
// and late acknowledgements, gaps closed), is written so that it reads back the same: a state
// it wrote that it would not take back would send the backlog again at the next start.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "stream/datalink_state.h"

using velkantor::stream::DeliveryState;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto state = DeliveryState::parse(text, error);
    if (!state) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    // Go on from it as the sender would.
    for (const auto& [stream, spans] : std::map(state->streams())) {
        if (spans.empty()) __builtin_trap();
        state->live_acknowledged(stream, spans.back().last + 1, true);
        state->live_acknowledged(stream, spans.back().last + 1000, false);
    }
    if (auto gap = state->oldest_gap()) {
        if (gap->after >= gap->before) __builtin_trap();
        state->late_acknowledged(gap->stream, gap->after + 1);
        state->gap_closed(*gap);
    }
    const std::string written = state->format();
    auto back = DeliveryState::parse(written, error);
    if (!back || !(*back == *state)) __builtin_trap();
    return 0;
}
