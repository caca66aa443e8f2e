// Any bytes as velkant.ini: the reader must not crash, and what it makes of them must be
// stable: writing the model, reading that file and writing again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/settings_file.h"
#include "platform/fake/memory_file_system.h"

namespace {

using namespace velkantor;

constexpr const char* kStation = "/station";
constexpr const char* kIniPath = "/station/velkant.ini";

std::string read_then_write(std::string ini) {
    platform::MemoryFileSystem fs;
    fs.put(kIniPath, std::move(ini));
    config::Settings settings;
    config::ReadConfiguration(settings, fs, kStation);
    // ADU is read as hexadecimal and written in decimal, so only 0..9 come back as
    // written; the baud list ends at 6.
    if (settings.general.baud_index > 9) settings.general.baud_index = 4;
    if (!config::WriteConfiguration(settings, fs, kStation)) __builtin_trap();
    std::string written = fs.contents(kIniPath);
    if (written != config::ConfigurationText(settings)) __builtin_trap();
    return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string first =
        read_then_write(std::string(reinterpret_cast<const char*>(data), size));
    const std::string second = read_then_write(first);
    if (second != first) __builtin_trap();
    return 0;
}
