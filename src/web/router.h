#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "web/state.h"

namespace velkantor::web {

namespace fdsn {
struct Context;
}

struct Request {
    std::string_view method;
    std::string_view target;  // as sent: "/path?query"
};

struct Response {
    int status = 200;
    std::string content_type;
    std::string cache_control;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // extra ones (Allow, ...)
    // A file of the station whose bytes are the body, "" = `body`. The server opens it itself
    // (a regular file only, no symbolic link followed) and sends it from disk in chunks, so
    // a large download never sits whole in memory.
    std::string file = {};
    // A body made of pieces, sent in order from disk in chunks like `file`: ranges of files
    // (`file` set: `length` bytes from `offset`, which the file must still hold when its turn
    // comes) and bytes held here (`file` empty). Used when `body` and `file` are empty.
    struct Part {
        std::string file;
        uint64_t offset = 0;
        uint64_t length = 0;
        std::string bytes;
    };
    std::vector<Part> parts = {};
};

// What the answers are made of: the latest snapshot, the station's files (read only, and only
// by name: the drums folder's pictures and the files the events listing links) and the live
// trace.
struct Sources {
    const StateSnapshot& state;
    const platform::FileSystem& fs;
    std::function<std::string(int ch, int64_t since_ms)> trace;
    // The FDSN web services' sources; none: /fdsnws/ is not served.
    const fdsn::Context* fdsn = nullptr;
};

// The whole of what a visitor can ask for. GET and HEAD only (HEAD gets GET's headers; the
// server leaves the body out). Nothing here changes anything.
Response route(const Request& request, const Sources& sources);

// A plain status page (404, 400, ...): the status line's words, nothing of the machine.
Response status_page(int status);
const char* status_text(int status);

// The page itself: HTML with its script and style.
std::string_view page_html();

}  // namespace velkantor::web
