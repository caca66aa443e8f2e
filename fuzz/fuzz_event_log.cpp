// Any bytes as evtfile.dat: the event list reads its lines and takes the event file each one
// names. No line may name a file outside the events folder, and the lines must be the file's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "events/event_list_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velkantor;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto lines = events::EventLogLines(text);
    std::string joined;
    for (const auto& line : lines) {
        if (line.find('\n') != std::string::npos) __builtin_trap();
        if (auto name = events::EventFileName(line)) {
            if (name->empty() || *name == "." || *name == ".." ||
                name->find_first_of(std::string_view("/\\\0", 3)) != std::string::npos ||
                name->find(' ') != std::string::npos) {
                __builtin_trap();
            }
        }
        joined += line;
        joined += "\r\n";
    }
    // Split again, the same lines: nothing was lost or invented between the line ends.
    if (events::EventLogLines(joined) != lines) __builtin_trap();
    return 0;
}
