#include "alerts/alert_settings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include "text/strings.h"

namespace velkantor::alerts {

namespace {

bool parse_double(const std::string& text, double& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out);
}

// "host:port": the MQTT broker (a port alone is a broker on this machine).
bool parse_broker(const std::string& text, std::string& host, int& port) {
    auto address = config::parse_listen_address(text, "127.0.0.1");
    if (!address || address->address.empty()) return false;
    host = address->address;
    port = address->port;
    return true;
}

// A piece of a client id or topic from a host or folder name: what every broker takes, and
// no MQTT wildcard or level separator.
std::string name_piece(std::string_view text) {
    std::string out;
    for (char c : text.substr(0, 60)) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        out += plain ? c : '_';
    }
    return out.empty() ? "station" : out;
}

// The client id within the 64 characters the settings allow; a longer one keeps its start and
// a hash of the whole, so two long names still differ.
std::string client_id_of(const std::string& id) {
    if (id.size() <= 64) return id;
    uint32_t hash = 2166136261u;
    for (unsigned char c : id) hash = (hash ^ c) * 16777619u;
    char tail[10];
    std::snprintf(tail, sizeof tail, "-%08x", static_cast<unsigned>(hash));
    return id.substr(0, 55) + tail;
}

}  // namespace

std::string webhook_for_log(std::string_view url) {
    std::string scheme;
    if (size_t end = url.find("://"); end != std::string_view::npos) {
        scheme = text::to_lower(url.substr(0, end));
        url.remove_prefix(end + 3);
    }
    std::string_view authority = url.substr(0, url.find_first_of("/?#"));
    if (size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    // "[v6]:port", "host:port", or no port: the scheme's own.
    size_t colon = authority.rfind(':');
    bool has_port = colon != std::string_view::npos &&
                    (authority.front() != '[' || authority.find(']') < colon);
    std::string out = scheme.empty() ? "" : scheme + "://";
    out += authority;
    if (!has_port && (scheme == "http" || scheme == "https")) {
        out += scheme == "http" ? ":80" : ":443";
    }
    return out;
}

bool is_webhook_url(const std::string& url) {
    std::string_view rest;
    if (url.rfind("http://", 0) == 0) {
        rest = std::string_view(url).substr(7);
    } else if (url.rfind("https://", 0) == 0) {
        rest = std::string_view(url).substr(8);
    } else {
        return false;
    }
    if (rest.empty() || rest.front() == '/' || rest.front() == ':') return false;
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
    }
    return url.size() <= 2048;
}

bool is_topic_prefix(const std::string& topic) {
    if (topic.empty() || topic.size() > 200 || topic.front() == '/' || topic.back() == '/') {
        return false;
    }
    for (char c : topic) {
        if (c == '+' || c == '#' || c == '\0') return false;
    }
    return true;
}

AlertSettings ParseAlertSettings(const config::IniFile& ini, std::vector<std::string>& problems,
                                 const StationIdentity& identity,
                                 const config::NetworkOptions& options) {
    AlertSettings s;
    if (!identity.host.empty() || !identity.folder.empty()) {
        std::string host = name_piece(identity.host);
        std::string folder = name_piece(identity.folder);
        s.mqtt_topic = "velkantor/" + host + "/" + folder;
        s.mqtt_client_id = client_id_of("velkantor-" + host + "-" + folder);
    } else {
        std::string station = "VELK";
        if (const auto* e = ini.find("station", "station"); e && !e->value.empty()) {
            station = e->value;
        }
        s.mqtt_topic = "velkantor/" + station;
        s.mqtt_client_id = "velkantor-" + station;
    }

    auto number = [](const config::IniValue& value, double low, double high, bool whole,
                     const char* what, auto& out) {
        double v = 0;
        if (!parse_double(value.text(), v) || v < low || v > high ||
            (whole && v != std::floor(v))) {
            value.refuse("\"" + value.text() + "\" is not " + what);
        } else {
            out = static_cast<std::remove_reference_t<decltype(out)>>(v);
        }
    };
    const bool good = config::read_section(
        ini,
        {.name = "alerts",
         .keys = {{"mqtt",
           [&](const config::IniValue& value) {
               if (value.text().empty() && !value.from_command_line()) {
                   s.mqtt_enabled = false;
               } else if (parse_broker(value.text(), s.mqtt_host, s.mqtt_port)) {
                   s.mqtt_enabled = true;
               } else if (value.from_command_line()) {
                   value.warn("not HOST:PORT; no MQTT alerts");
               } else {
                   value.refuse("\"" + value.text() + "\" is not HOST:PORT");
               }
           }},
          {"mqtt_client_id",
           [&](const config::IniValue& value) {
               if (value.text().empty() || value.text().size() > 64) {
                   value.refuse("the client id must be 1 to 64 characters");
               } else {
                   s.mqtt_client_id = value.text();
               }
           }},
          {"mqtt_user", [&](const config::IniValue& value) { s.mqtt_user = value.text(); }},
          {"mqtt_password_file",
           [&](const config::IniValue& value) { s.mqtt_password_file = value.text(); }},
          {"mqtt_topic",
           [&](const config::IniValue& value) {
               if (!is_topic_prefix(value.text())) {
                   value.refuse("\"" + value.text() +
                                "\" is not a topic prefix (no wildcards, no '/' at either end)");
               } else {
                   s.mqtt_topic = value.text();
               }
           }},
          {"webhook",
           [&](const config::IniValue& value) {
               // The command line's addresses come one an option, after the file's list.
               if (value.from_command_line()) {
                   if (is_webhook_url(value.text())) {
                       s.webhooks.push_back(value.text());
                   } else {
                       value.warn("not an http:// or https:// address");
                   }
                   return;
               }
               s.webhooks.clear();
               for (const auto& url : text::split(value.text())) {
                   if (url.empty()) continue;
                   if (!is_webhook_url(url)) {
                       value.refuse("\"" + webhook_for_log(url) +
                                    "\" is not an http:// or https:// address");
                   } else {
                       s.webhooks.push_back(url);
                   }
               }
           }},
          {"webhook_timeout",
           [&](const config::IniValue& value) {
               number(value, 1, 120, false, "a number of seconds from 1 to 120", s.webhook_timeout);
           }},
          {"queue",
           [&](const config::IniValue& value) {
               number(value, 1, 10000, true, "a whole number from 1 to 10000", s.queue);
           }},
          {"disk_low_mb",
           [&](const config::IniValue& value) {
               number(value, 0, HUGE_VAL, false, "a number of megabytes", s.disk_low_mb);
           }}},
         .options = {{.key = "mqtt", .name = "--mqtt", .values = config::given(options.mqtt)},
                     {.key = "webhook",
                      .name = "--webhook",
                      .values = options.webhooks,
                      .adds = true,
                      .shown = [](std::string_view url) { return webhook_for_log(url); }}},
         .refused_suffix = "; no alerts are sent"},
        problems);
    if (!good) {
        s.mqtt_enabled = false;
        s.webhooks.clear();
    }
    return s;
}

}  // namespace velkantor::alerts
