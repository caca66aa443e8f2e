#include "stream/stream_settings.h"

#include <algorithm>
#include <cctype>

#include "text/number_text.h"

namespace velkantor::stream {

namespace {

bool seed_code(const std::string& text, size_t min, size_t max) {
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c));
           });
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

std::vector<std::string> split_commas(const std::string& text) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        size_t comma = text.find(',', at);
        parts.push_back(trimmed(std::string_view(text).substr(at, comma == std::string::npos ? std::string::npos : comma - at)));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return parts;
}

// A number within [low, high]; reports and returns nullopt otherwise.
std::optional<double> number(const config::IniEntry& entry, const char* section, double low,
                             double high, bool whole, std::vector<std::string>& problems) {
    auto value = text::strict_number(entry.value);
    if (!value || *value < low || *value > high || (whole && *value != static_cast<long>(*value))) {
        problems.push_back(config::ini_problem(
            section, entry,
            "\"" + entry.value + "\" is not " + (whole ? "a whole number" : "a number") +
                " from " + text::shortest_real(low) + " to " + text::shortest_real(high)));
        return std::nullopt;
    }
    return value;
}

void unknown_keys(const config::IniFile& ini, const char* section,
                  std::initializer_list<std::string_view> known, std::vector<std::string>& problems) {
    for (const auto& entry : ini.entries(section)) {
        if (std::find(known.begin(), known.end(), entry.key) == known.end()) {
            problems.push_back(config::ini_problem(section, entry, "unknown key, ignored"));
        }
    }
}

}  // namespace

char band_code(double rate) {
    if (rate >= 1000) return 'F';
    if (rate >= 250) return 'C';
    if (rate >= 80) return 'H';
    if (rate >= 10) return 'B';
    if (rate > 1.5) return 'M';
    if (rate >= 0.5) return 'L';
    if (rate >= 0.05) return 'V';
    if (rate >= 0.005) return 'U';
    return 'R';
}

std::string default_channel_code(
    double rate, const std::array<config::ChannelSettings, config::kChannels>& channels, int ch) {
    if (ch < 0 || ch >= config::kChannels) return {};
    constexpr int kAcceleration = 3;
    auto standard = [](int axis) { return axis >= 1 && axis <= 3; };
    const auto& channel = channels[static_cast<size_t>(ch)];
    std::string code{band_code(rate), channel.sensor_type == kAcceleration ? 'N' : 'H'};
    switch (channel.sensor_axis) {
        case 1: return code + 'N';
        case 2: return code + 'E';
        case 3: return code + 'Z';
        default: break;
    }
    // SEED names three further orientations, 1 to 3, for axes that are not N, E or Z.
    int before = 0;
    for (int other = 0; other < ch; ++other) {
        if (!standard(channels[static_cast<size_t>(other)].sensor_axis)) ++before;
    }
    if (before >= 3) return {};
    return code + static_cast<char>('1' + before);
}

StreamSettings ParseStreamSettings(const config::IniFile& ini, std::vector<std::string>& problems) {
    StreamSettings settings;
    auto& codes = settings.codes;
    if (const auto* e = ini.find("station", "network")) {
        std::string value = upper(e->value);
        if (seed_code(value, 1, 2)) {
            codes.network = value;
        } else {
            problems.push_back(config::ini_problem("station", *e, "\"" + e->value + "\" is not a network code of 1 or 2 letters or digits"));
            settings.codes_valid = false;
        }
    }
    if (const auto* e = ini.find("station", "station")) {
        std::string value = upper(e->value);
        if (seed_code(value, 1, 5)) {
            codes.station = value;
        } else {
            problems.push_back(config::ini_problem("station", *e, "\"" + e->value + "\" is not a station code of 1 to 5 letters or digits"));
            settings.codes_valid = false;
        }
    }
    if (const auto* e = ini.find("station", "location")) {
        std::string value = upper(e->value);
        if (value == "--") value.clear();
        if (seed_code(value, 0, 2)) {
            codes.location = value;
        } else {
            problems.push_back(config::ini_problem("station", *e, "\"" + e->value + "\" is not a location code of 0 to 2 letters or digits"));
            settings.codes_valid = false;
        }
    }
    if (const auto* e = ini.find("station", "channels")) {
        auto parts = split_commas(e->value);
        if (parts.size() > config::kChannels) {
            problems.push_back(config::ini_problem("station", *e, "more than " + std::to_string(config::kChannels) + " channel codes"));
            settings.codes_valid = false;
        }
        for (size_t c = 0; c < parts.size() && c < config::kChannels; ++c) {
            std::string value = upper(parts[c]);
            if (value.empty() || seed_code(value, 3, 3)) {
                codes.channels[c] = value;
            } else {
                problems.push_back(config::ini_problem("station", *e, "\"" + parts[c] + "\" (channel " + std::to_string(c + 1) + ") is not a channel code of 3 letters or digits"));
                settings.codes_valid = false;
            }
        }
    }
    codes.description = "VELKANTOR station " + codes.station;
    if (const auto* e = ini.find("station", "description")) {
        bool printable = std::all_of(e->value.begin(), e->value.end(), [](char c) { return c >= 32 && c < 127; });
        if (printable && e->value.size() <= 100) {
            codes.description = e->value;
        } else {
            problems.push_back(config::ini_problem("station", *e, "the description must be at most 100 printable ASCII characters"));
        }
    }
    unknown_keys(ini, "station", {"network", "station", "location", "channels", "description"}, problems);

    auto& seedlink = settings.seedlink;
    bool seedlink_ok = true;
    if (const auto* e = ini.find("seedlink", "listen")) {
        if (auto address = config::parse_listen_address(e->value, "0.0.0.0")) {
            seedlink.listen = *address;
            seedlink.enabled = true;
        } else {
            problems.push_back(config::ini_problem("seedlink", *e, "\"" + e->value + "\" is not [ADDRESS:]PORT; the SeedLink server stays off"));
            seedlink_ok = false;
        }
    }
    if (const auto* e = ini.find("seedlink", "ring_minutes")) {
        if (auto v = number(*e, "seedlink", 1, 1440, false, problems)) seedlink.ring_minutes = *v; else seedlink_ok = false;
    }
    if (const auto* e = ini.find("seedlink", "latency")) {
        if (auto v = number(*e, "seedlink", 1, 600, false, problems)) seedlink.latency_seconds = *v; else seedlink_ok = false;
    }
    if (const auto* e = ini.find("seedlink", "clients")) {
        if (auto v = number(*e, "seedlink", 1, 1000, true, problems)) seedlink.clients = static_cast<int>(*v); else seedlink_ok = false;
    }
    if (const auto* e = ini.find("seedlink", "clients_per_address")) {
        if (auto v = number(*e, "seedlink", 1, 1000, true, problems)) seedlink.clients_per_address = static_cast<int>(*v); else seedlink_ok = false;
    }
    if (const auto* e = ini.find("seedlink", "allow")) {
        for (const auto& part : split_commas(e->value)) {
            if (auto network = config::parse_ip_network(part)) {
                seedlink.allow.push_back(*network);
            } else {
                problems.push_back(config::ini_problem("seedlink", *e, "\"" + part + "\" is not an address or network such as 192.168.0.0/16"));
                seedlink_ok = false;
            }
        }
    }
    unknown_keys(ini, "seedlink",
                 {"listen", "ring_minutes", "latency", "clients", "clients_per_address", "allow"},
                 problems);
    if (!seedlink_ok) seedlink.enabled = false;

    auto& archive = settings.archive;
    if (const auto* e = ini.find("archive", "folder")) {
        if (e->value.empty() || e->value.find('\0') != std::string::npos) {
            problems.push_back(config::ini_problem("archive", *e, "the folder is empty; the archive stays off"));
        } else {
            archive.folder = e->value;
            archive.enabled = true;
        }
    }
    if (const auto* e = ini.find("archive", "event_mseed")) {
        if (e->value == "0" || e->value == "1") {
            archive.event_mseed = e->value == "1";
        } else {
            problems.push_back(config::ini_problem("archive", *e, "\"" + e->value + "\" is not 0 or 1"));
        }
    }
    unknown_keys(ini, "archive", {"folder", "event_mseed"}, problems);
    return settings;
}

}  // namespace velkantor::stream
