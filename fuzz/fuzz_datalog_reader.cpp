// Datalog files of any name and content read back by time.
// Input: a name length byte, the name, then the file's bytes; repeated.
#include <cstddef>
#include <cstdint>
#include <string>

#include "datalog/datalog_reader.h"
#include "platform/fake/memory_file_system.h"

using namespace velkantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::MemoryFileSystem fs;
    (void)fs.create_directories("/d");
    size_t i = 0;
    int files = 0;
    while (i < size && files < 8) {
        size_t n = data[i++] % 32;
        std::string name(reinterpret_cast<const char*>(data + i), std::min(n, size - i));
        i += name.size();
        size_t m = i < size ? data[i++] : 0;
        std::string bytes(reinterpret_cast<const char*>(data + i), std::min(m * 4, size - i));
        i += bytes.size();
        if (name.empty() || name.find('/') != std::string::npos) continue;
        fs.put("/d/" + name, bytes);
        ++files;
    }
    // Start near the files of the seeds, at a time the input chooses.
    double from = text::to_epoch_seconds({2026, 12, 5, 12, 0, 0, 0}) +
                  (size > 0 ? static_cast<int>(data[0]) - 128 : 0);
    for (int width : {2, 4}) {
        datalog::DatalogReader reader(fs, "/d", width);
        for (int ch = 0; ch < 4; ++ch) {
            auto run = reader.read(ch, from, 500);
            if (!run.rate_mismatch && run.values.size() != 500) __builtin_trap();
            if (run.values.size() != run.sources.size()) __builtin_trap();
        }
    }
    return 0;
}
