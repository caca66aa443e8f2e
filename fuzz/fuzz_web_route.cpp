// Any request line and any event log as the page's router sees them: the method and target
// (the first line of the input, split at its first space) and the rest as evtfile.dat. Every
// answer is one of the statuses the router gives; a file's bytes are only ever those of the
// drums picture or the listed event files, never of the secrets beside them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fake/memory_file_system.h"
#include "web/router.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velkantor;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string_view line = input.substr(0, newline);
    std::string_view log = newline == std::string_view::npos ? "" : input.substr(newline + 1);
    size_t space = line.find(' ');
    std::string_view method = space == std::string_view::npos ? "GET" : line.substr(0, space);
    std::string_view target = space == std::string_view::npos ? line : line.substr(space + 1);

    static platform::MemoryFileSystem fs;
    static bool ready = false;
    if (!ready) {
        fs.put("/s/secret", "SECRET");
        fs.put("/s/drums/drum_1.JPG", "jpeg");
        fs.put("/s/events/20260301_120000.CH1", "event");
        fs.put("/s/events/sent/x", "SECRET");
        fs.put("/s/events/notes.txt", "SECRET");
        ready = true;
    }
    fs.put("/s/evtfile.dat", std::string(log));
    web::StateSnapshot state;
    state.drums_folder = "/s/drums";
    state.events_folder = "/s/events";
    state.event_log = "/s/evtfile.dat";
    state.channels.push_back({});
    state.channels.back().number = 1;
    state.channels.back().event_extension = "CH1";
    state.channels.back().configured_rate = 100;
    web::Sources sources{state, fs, [](int, int64_t) { return std::string("{}"); }};
    web::Response response = web::route({method, target}, sources);
    switch (response.status) {
        case 200:
        case 400:
        case 404:
        case 405:
            break;
        default:
            __builtin_trap();
    }
    // The answers echo the event log's own text: only a secret that was not in the input
    // would have come from a file outside the two folders.
    // A file answer names the file the server would send: its bytes are what goes out.
    const std::string bytes =
        response.file.empty() ? response.body : fs.read_file(response.file, 64u << 20).value_or("");
    if (input.find("SECRET") == std::string_view::npos &&
        bytes.find("SECRET") != std::string::npos) {
        __builtin_trap();
    }
    return 0;
}
