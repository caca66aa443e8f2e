#include "stream/stream_settings.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <type_traits>

#include "text/number_text.h"
#include "text/strings.h"

namespace velkantor::stream {

namespace {

bool seed_code(const std::string& text, size_t min, size_t max) {
    return text.size() >= min && text.size() <= max &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return std::isupper(static_cast<unsigned char>(c)) ||
                      std::isdigit(static_cast<unsigned char>(c));
           });
}

// A number within [low, high]; refused otherwise.
std::optional<double> number(const config::IniValue& value, double low, double high, bool whole) {
    auto parsed = text::strict_number(value.text());
    if (!parsed || *parsed < low || *parsed > high ||
        (whole && *parsed != static_cast<long>(*parsed))) {
        value.refuse("\"" + value.text() + "\" is not " + (whole ? "a whole number" : "a number") +
                     " from " + text::shortest_real(low) + " to " + text::shortest_real(high));
        return std::nullopt;
    }
    return parsed;
}

// A reader that stores a number within [low, high].
template <typename T>
std::function<void(const config::IniValue&)> number_into(T& out, double low, double high) {
    return [&out, low, high](const config::IniValue& value) {
        if (auto v = number(value, low, high, std::is_integral_v<T>)) out = static_cast<T>(*v);
    };
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
        case 1:
            return code + 'N';
        case 2:
            return code + 'E';
        case 3:
            return code + 'Z';
        default:
            break;
    }
    // SEED names three further orientations, 1 to 3, for axes that are not N, E or Z.
    int before = 0;
    for (int other = 0; other < ch; ++other) {
        if (!standard(channels[static_cast<size_t>(other)].sensor_axis)) ++before;
    }
    if (before >= 3) return {};
    return code + static_cast<char>('1' + before);
}

StreamSettings ParseStreamSettings(const config::IniFile& ini, std::vector<std::string>& problems,
                                   const config::NetworkOptions& options) {
    StreamSettings settings;
    auto& codes = settings.codes;
    // A SEED code read into `out` in upper case; `what` says what it must be.
    auto code = [](std::string& out, size_t min, size_t max, const char* what) {
        return [&out, min, max, what](const config::IniValue& value) {
            std::string upper = text::to_upper(value.text());
            if (min == 0 && upper == "--") upper.clear();  // the blank location as "--"
            if (seed_code(upper, min, max)) {
                out = upper;
            } else {
                value.refuse("\"" + value.text() + "\" is not " + what);
            }
        };
    };
    std::optional<std::string> description;
    settings.codes_valid = config::read_section(
        ini,
        {.name = "station",
         .keys =
             {{"network", code(codes.network, 1, 2, "a network code of 1 or 2 letters or digits")},
              {"station", code(codes.station, 1, 5, "a station code of 1 to 5 letters or digits")},
              {"location",
               code(codes.location, 0, 2, "a location code of 0 to 2 letters or digits")},
              {"channels",
               [&](const config::IniValue& value) {
                   auto parts = text::split(value.text());
                   if (parts.size() > config::kChannels) {
                       value.refuse("more than " + std::to_string(config::kChannels) +
                                    " channel codes");
                   }
                   for (size_t c = 0; c < parts.size() && c < config::kChannels; ++c) {
                       std::string upper = text::to_upper(parts[c]);
                       if (upper.empty() || seed_code(upper, 3, 3)) {
                           codes.channels[c] = upper;
                       } else {
                           value.refuse("\"" + parts[c] + "\" (channel " + std::to_string(c + 1) +
                                        ") is not a channel code of 3 letters or digits");
                       }
                   }
               }},
              {"description",
               [&](const config::IniValue& value) {
                   const std::string& text = value.text();
                   bool printable = std::all_of(text.begin(), text.end(),
                                                [](char c) { return c >= 32 && c < 127; });
                   if (printable && text.size() <= 100) {
                       description = text;
                   } else {
                       // A name clients see: not worth leaving the station unstreamed.
                       value.warn("the description must be at most 100 printable ASCII characters");
                   }
               }}}},
        problems);
    codes.description = description ? *description : "VELKANTOR station " + codes.station;

    auto& seedlink = settings.seedlink;
    bool seedlink_ok = config::read_section(
        ini,
        {.name = "seedlink",
         .keys = {{"listen", config::listen_key(seedlink.listen, seedlink.enabled,
                                                [](const std::string& text) {
                                                    return "\"" + text +
                                                           "\" is not [ADDRESS:]PORT; the "
                                                           "SeedLink server stays off";
                                                })},
          {"ring_minutes", number_into(seedlink.ring_minutes, 1, 1440)},
          {"latency", number_into(seedlink.latency_seconds, 1, 600)},
          {"clients", number_into(seedlink.clients, 1, 1000)},
          {"clients_per_address", number_into(seedlink.clients_per_address, 1, 1000)},
          {"allow",
           [&](const config::IniValue& value) {
               for (const auto& part : text::split(value.text())) {
                   if (auto network = config::parse_ip_network(part)) {
                       seedlink.allow.push_back(*network);
                   } else {
                       value.refuse("\"" + part +
                                    "\" is not an address or network such as 192.168.0.0/16");
                   }
               }
           }}},
         .options = {{.key = "listen", .name = "--seedlink", .values = config::given(options.seedlink)}}},
        problems);
    if (!seedlink_ok) seedlink.enabled = false;

    auto& archive = settings.archive;
    config::read_section(
        ini,
        {.name = "archive",
         .keys = {{"folder",
                   [&](const config::IniValue& value) {
                       if (value.text().empty() || value.text().find('\0') != std::string::npos) {
                           value.refuse("the folder is empty; the archive stays off");
                       } else {
                           archive.folder = value.text();
                           archive.enabled = true;
                       }
                   }},
                  {"event_mseed",
                   [&](const config::IniValue& value) {
                       if (value.text() == "0" || value.text() == "1") {
                           archive.event_mseed = value.text() == "1";
                       } else {
                           value.refuse("\"" + value.text() + "\" is not 0 or 1");
                       }
                   }}},
         .options = {{.key = "folder",
                      .name = "--archive",
                      .values = config::given(options.archive)}}},
        problems);
    return settings;
}

}  // namespace velkantor::stream
