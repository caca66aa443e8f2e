// Any bytes as velkant.sch: the reader and the scheduler's checks must not crash, and the
// list must be stable: written, read and written again, the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/settings_file.h"
#include "events/schedule.h"
#include "platform/fake/memory_file_system.h"

namespace {

using namespace velkantor;

constexpr const char* kStation = "/station";
const std::string kPath = std::string(kStation) + "/velkant.sch";

std::string read_then_write(std::string bytes, config::Settings& settings) {
    platform::MemoryFileSystem fs;
    fs.put(kPath, std::move(bytes));
    config::ReadSchedule(settings, fs, kStation);
    return config::ScheduleText(settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    config::Settings settings;
    std::string first =
        read_then_write(std::string(reinterpret_cast<const char*>(data), size), settings);
    // Every entry, split into the scheduler window's three fields, goes back through the
    // window's checks.
    int k = 0;
    for (const auto& line : settings.schedule_lines) {
        auto field = [&](size_t at, size_t n) {
            return at < line.size() ? std::string_view(line).substr(at, n) : std::string_view();
        };
        auto edit = events::MakeScheduleEntry(field(0, 10), field(11, 8), field(20, 4), k++);
        if (edit.ok && edit.entry.empty()) __builtin_trap();
    }
    config::Settings again;
    if (read_then_write(first, again) != first) __builtin_trap();
    return 0;
}
