#include "web/events.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "text/number_text.h"
#include "text/strings.h"
#include "web/json.h"

namespace velkantor::web {

namespace {

constexpr size_t kStampLength = 19;  // "YYYY/MM/DD HH:MM:SS"
constexpr uint64_t kLogReadLimit = 1 << 20;

bool is_stamp(std::string_view t) {
    if (t.size() < kStampLength) return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        char c = t[i];
        bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (i == 4 || i == 7     ? c != '/'
            : i == 10            ? c != ' '
            : i == 13 || i == 16 ? c != ':'
                                 : !digit) {
            return false;
        }
    }
    return true;
}

// "YYYYMMDD_HHMMSS.EXT" -> "YYYY/MM/DD HH:MM:SS", "" when the name is not an event file's.
std::string start_from_name(std::string_view name) {
    if (name.size() < 16 || name[8] != '_' || name[15] != '.') return "";
    for (size_t i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14}) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return "";
    }
    std::string n(name);
    return n.substr(0, 4) + "/" + n.substr(4, 2) + "/" + n.substr(6, 2) + " " + n.substr(9, 2) +
           ":" + n.substr(11, 2) + ":" + n.substr(13, 2);
}

std::string extension_of(std::string_view name) {
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? "" : std::string(name.substr(dot + 1));
}

bool is_mseed_name(std::string_view name) {
    std::string ext = extension_of(name);
    return text::equal_ignoring_case(ext, "mseed") || text::equal_ignoring_case(ext, "msd");
}

const ChannelState* channel_of(const StateSnapshot& state, std::string_view file) {
    std::string ext = extension_of(file);
    for (const auto& c : state.channels) {
        if (!c.event_extension.empty() && text::equal_ignoring_case(c.event_extension, ext))
            return &c;
    }
    return nullptr;
}

long field_after(std::string_view text, std::string_view label, double& value) {
    size_t at = text.find(label);
    if (at == std::string_view::npos) return -1;
    auto number = text::leading_number(text.substr(at + label.size()));
    if (!number) return -1;
    value = *number;
    return 0;
}

}  // namespace

bool parse_event_line(std::string_view message, EventEntry& out) {
    size_t space = message.find(' ');
    if (space == std::string_view::npos || space == 0) return false;
    std::string_view file = message.substr(0, space);
    std::string_view rest = message.substr(space + 1);
    if (!is_stamp(rest) || start_from_name(file).empty()) return false;
    double samples = 0, ratio = 0, peak = 0;
    if (field_after(rest, " L:", samples) < 0 || field_after(rest, " Max SLTA:", ratio) < 0 ||
        field_after(rest, " Max Amplit:", peak) < 0) {
        return false;
    }
    out.file = std::string(file);
    out.start = std::string(rest.substr(0, kStampLength));
    out.samples = static_cast<long>(samples);
    out.max_ratio = ratio;
    out.peak = static_cast<long>(peak);
    return true;
}

bool events_folder_holds_station(const StateSnapshot& state) {
    if (state.events_folder.empty() || state.station_folder.empty()) return false;
    // Spelled paths only ("/a/b/", "/a/./b/.." are the same folder): no file system call.
    auto normal = [](const std::string& text) {
        std::string out = std::filesystem::path(text).lexically_normal().generic_string();
        while (out.size() > 1 && out.back() == '/') out.pop_back();
        return out;
    };
    std::string events = normal(state.events_folder);
    std::string station = normal(state.station_folder);
    if (events == station || events == "/") return true;
    return station.size() > events.size() && station.compare(0, events.size(), events) == 0 &&
           station[events.size()] == '/';
}

std::vector<EventEntry> list_events(const platform::FileSystem& fs, const StateSnapshot& state) {
    std::map<std::string, EventEntry> by_file;
    if (!state.event_log.empty()) {
        std::string log = fs.read_file(state.event_log, kLogReadLimit).value_or("");
        size_t begin = 0;
        // Only whole lines: the station may be appending the last one right now.
        while (begin < log.size()) {
            size_t end = log.find('\n', begin);
            if (end == std::string::npos) break;
            std::string_view line(log.data() + begin, end - begin);
            begin = end + 1;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (!is_stamp(line) || line.size() < kStampLength + 1) continue;
            EventEntry entry;
            if (parse_event_line(line.substr(kStampLength + 1), entry)) by_file[entry.file] = entry;
        }
    }
    std::vector<std::string> names;
    if (!state.events_folder.empty() && !events_folder_holds_station(state)) {
        names = fs.list_directory(state.events_folder);
    }
    for (const auto& name : names) {
        if (start_from_name(name).empty() || is_mseed_name(name)) continue;
        if (fs.is_directory(platform::join_path(state.events_folder, name))) continue;
        auto [it, added] = by_file.try_emplace(name);
        if (added) {
            it->second.file = name;
            it->second.start = start_from_name(name);
        }
        it->second.downloadable = true;
    }
    for (const auto& name : names) {
        if (!is_mseed_name(name)) continue;
        std::string stem = name.substr(0, name.rfind('.'));
        if (auto it = by_file.find(stem); it != by_file.end()) it->second.mseed = name;
    }

    std::vector<EventEntry> events;
    events.reserve(by_file.size());
    for (auto& [name, entry] : by_file) {
        if (const ChannelState* c = channel_of(state, name)) {
            entry.channel = c->number;
            if (c->configured_rate > 0)
                entry.duration = static_cast<double>(entry.samples) / c->configured_rate;
        }
        events.push_back(std::move(entry));
    }
    std::sort(events.begin(), events.end(), [](const EventEntry& a, const EventEntry& b) {
        return a.start != b.start ? a.start > b.start : a.file < b.file;
    });
    if (events.size() > static_cast<size_t>(std::max(state.events, 0))) {
        events.resize(static_cast<size_t>(std::max(state.events, 0)));
    }
    return events;
}

std::string events_json(const std::vector<EventEntry>& events, const StateSnapshot& state) {
    std::string out = "{\"board_time\":";
    out += state.board_time > 0 ? json_string(board_time_text(state.board_time)) : "null";
    out += ",\"utc_time\":";
    out += state.board_time > 0 ? json_string(iso_time(state.board_time - state.utc_offset) + "Z")
                                : "null";
    out += ",\"clock_locked\":";
    out += state.lock == "L" ? "true" : "false";
    out += ",\"events\":[";
    for (size_t i = 0; i < events.size(); ++i) {
        const auto& e = events[i];
        if (i) out += ',';
        out += "{\"file\":" + json_string(e.file);
        out += ",\"start\":" + json_string(e.start);
        out += ",\"channel\":" + (e.channel > 0 ? json_number(e.channel) : std::string("null"));
        out += ",\"samples\":" + json_number(static_cast<double>(e.samples));
        out += ",\"duration_s\":" + json_number(e.duration);
        out += ",\"max_sta_lta\":" + json_number(e.max_ratio);
        out += ",\"peak\":" + json_number(static_cast<double>(e.peak));
        out += ",\"download\":" + (e.downloadable ? json_string("events/" + url_segment(e.file))
                                                  : std::string("null"));
        out += ",\"mseed\":" + (e.mseed.empty() ? std::string("null")
                                                : json_string("events/" + url_segment(e.mseed)));
        out += "}";
    }
    out += "]}";
    return out;
}

}  // namespace velkantor::web
