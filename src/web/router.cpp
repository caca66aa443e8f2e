#include "web/router.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "config/settings.h"
#include "text/strings.h"
#include "web/events.h"
#include "web/fdsn_service.h"
#include "web/url.h"

namespace velkantor::web {

namespace {

std::string extension(std::string_view name) {
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? "" : text::to_lower(name.substr(dot + 1));
}

const char* picture_type(std::string_view name) {
    std::string ext = extension(name);
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "gif") return "image/gif";
    if (ext == "png") return "image/png";
    if (ext == "bmp") return "image/bmp";
    return nullptr;
}

// The value of `key` in a query "a=1&b=2", "" when absent.
std::string query_value(std::string_view query, std::string_view key) {
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        if (pair.size() > key.size() && pair.substr(0, key.size()) == key &&
            pair[key.size()] == '=') {
            return std::string(pair.substr(key.size() + 1));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

std::optional<int64_t> whole(const std::string& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

Response json_response(std::string body) {
    return {200, "application/json; charset=utf-8", "no-store", std::move(body), {}};
}

Response file_response(const std::string& path, const char* type, const std::string& download) {
    Response response{200,
                      type ? type : "application/octet-stream",
                      // Pictures are rewritten in place as the drums grow.
                      type ? "no-cache" : "max-age=60",
                      {},
                      {}};
    response.file = path;
    if (!download.empty()) {
        response.headers.emplace_back("Content-Disposition",
                                      "attachment; filename=\"" + download + "\"");
    }
    return response;
}

// A picture of the drums folder named exactly `name`, found in the folder's listing: the URL
// never becomes a path, so nothing outside the folder can be named.
Response drum_picture(const Sources& sources, const std::string& name) {
    const std::string& folder = sources.state.drums_folder;
    const char* type = picture_type(name);
    if (folder.empty() || type == nullptr) return status_page(404);
    auto names = sources.fs.list_directory(folder);
    if (std::find(names.begin(), names.end(), name) == names.end()) return status_page(404);
    std::string path = platform::join_path(folder, name);
    if (sources.fs.is_directory(path)) return status_page(404);
    return file_response(path, type, "");
}

// Only what the events listing links (an event file, its miniSEED copy): the events folder
// may hold other files, or be a folder that holds the station's settings.
Response event_file(const Sources& sources, const std::string& name) {
    for (const auto& event : list_events(sources.fs, sources.state)) {
        if ((event.downloadable && event.file == name) || event.mseed == name) {
            return file_response(platform::join_path(sources.state.events_folder, name), nullptr,
                                 name);
        }
    }
    return status_page(404);
}

bool safe_name(const std::string& name) {
    // A listing holds no such names; refusing them first keeps them out of every lookup.
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x20; });
}

}  // namespace

const char* status_text(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

Response status_page(int status) {
    std::string words = std::to_string(status) + " " + status_text(status);
    return {status, "text/plain; charset=utf-8", "no-store", words + "\n", {}};
}

Response route(const Request& request, const Sources& sources) {
    if (request.method != "GET" && request.method != "HEAD") {
        Response response = status_page(405);
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    std::string_view target = request.target;
    if (target.empty() || target.front() != '/') return status_page(404);
    size_t question = target.find('?');
    std::string_view raw_path = target.substr(0, question);
    std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
    auto path = percent_decode(raw_path);
    if (!path) return status_page(400);
    if (path->find('\0') != std::string::npos) return status_page(404);

    if (*path == "/" || *path == "/index.html") {
        return {200, "text/html; charset=utf-8", "no-cache", std::string(page_html()), {}};
    }
    if (*path == "/api/state.json") return json_response(state_json(sources.state));
    if (*path == "/api/events.json") {
        return json_response(events_json(list_events(sources.fs, sources.state), sources.state));
    }
    if (*path == "/api/trace.json") {
        auto ch = whole(query_value(query, "channel"));
        std::string since_text = query_value(query, "since");
        auto since = since_text.empty() ? std::optional<int64_t>(0) : whole(since_text);
        if (!ch || *ch < 1 || *ch > config::kChannels || !since || !sources.trace) {
            return status_page(400);
        }
        return json_response(sources.trace(static_cast<int>(*ch) - 1, *since));
    }
    if (path->compare(0, 8, "/fdsnws/") == 0 && sources.fdsn) {
        return fdsn::answer(*path, query, target, sources.fs, *sources.fdsn);
    }
    if (*path == "/api/psd.json") {
        auto ch = whole(query_value(query, "channel"));
        if (!ch || *ch < 1 || *ch > config::kChannels) return status_page(400);
        auto body = psd_json(sources.state, static_cast<int>(*ch));
        return body ? json_response(std::move(*body)) : status_page(404);
    }
    for (auto [prefix, pictures] : {std::pair<std::string_view, bool>{"/drums/", true},
                                    std::pair<std::string_view, bool>{"/events/", false}}) {
        if (path->compare(0, prefix.size(), prefix) != 0) continue;
        std::string name = path->substr(prefix.size());
        if (!safe_name(name)) return status_page(404);
        return pictures ? drum_picture(sources, name) : event_file(sources, name);
    }
    return status_page(404);
}

}  // namespace velkantor::web
