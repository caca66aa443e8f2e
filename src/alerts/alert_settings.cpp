#include "alerts/alert_settings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace velkantor::alerts {

namespace {

std::string trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end - begin + 1));
}

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
        for (char c : url.substr(0, end)) {
            scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
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
                                 const StationIdentity& identity) {
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
    if (!ini.has_section("alerts")) return s;

    bool bad = false;
    auto problem = [&](const config::IniEntry& e, const std::string& what) {
        problems.push_back(config::ini_problem("alerts", e, what + "; no alerts are sent"));
        bad = true;
    };
    for (const auto& e : ini.entries("alerts")) {
        if (e.key == "mqtt") {
            if (e.value.empty()) {
                s.mqtt_enabled = false;
            } else if (parse_broker(e.value, s.mqtt_host, s.mqtt_port)) {
                s.mqtt_enabled = true;
            } else {
                problem(e, "\"" + e.value + "\" is not HOST:PORT");
            }
        } else if (e.key == "mqtt_client_id") {
            if (e.value.empty() || e.value.size() > 64) {
                problem(e, "the client id must be 1 to 64 characters");
            } else {
                s.mqtt_client_id = e.value;
            }
        } else if (e.key == "mqtt_user") {
            s.mqtt_user = e.value;
        } else if (e.key == "mqtt_password_file") {
            s.mqtt_password_file = e.value;
        } else if (e.key == "mqtt_topic") {
            if (!is_topic_prefix(e.value)) {
                problem(e, "\"" + e.value +
                               "\" is not a topic prefix (no wildcards, no '/' at either end)");
            } else {
                s.mqtt_topic = e.value;
            }
        } else if (e.key == "webhook") {
            s.webhooks.clear();
            std::string_view rest = e.value;
            while (!rest.empty()) {
                size_t comma = rest.find(',');
                std::string url = trim(rest.substr(0, comma));
                rest =
                    comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
                if (url.empty()) continue;
                if (!is_webhook_url(url)) {
                    problem(e, "\"" + webhook_for_log(url) +
                                   "\" is not an http:// or https:// address");
                } else {
                    s.webhooks.push_back(url);
                }
            }
        } else if (e.key == "webhook_timeout") {
            double v = 0;
            if (!parse_double(e.value, v) || v < 1 || v > 120) {
                problem(e, "\"" + e.value + "\" is not a number of seconds from 1 to 120");
            } else {
                s.webhook_timeout = v;
            }
        } else if (e.key == "queue") {
            double v = 0;
            if (!parse_double(e.value, v) || v < 1 || v > 10000 || v != std::floor(v)) {
                problem(e, "\"" + e.value + "\" is not a whole number from 1 to 10000");
            } else {
                s.queue = static_cast<int>(v);
            }
        } else if (e.key == "disk_low_mb") {
            double v = 0;
            if (!parse_double(e.value, v) || v < 0) {
                problem(e, "\"" + e.value + "\" is not a number of megabytes");
            } else {
                s.disk_low_mb = v;
            }
        } else {
            problems.push_back(config::ini_problem("alerts", e, "unknown key, ignored"));
        }
    }
    if (bad) {
        s.mqtt_enabled = false;
        s.webhooks.clear();
    }
    return s;
}

void ApplyAlertOverrides(AlertSettings& settings, const std::string& mqtt,
                         const std::vector<std::string>& webhooks,
                         std::vector<std::string>& problems) {
    if (!mqtt.empty()) {
        if (parse_broker(mqtt, settings.mqtt_host, settings.mqtt_port)) {
            settings.mqtt_enabled = true;
        } else {
            problems.push_back("--mqtt " + mqtt + ": not HOST:PORT; no MQTT alerts");
        }
    }
    for (const auto& url : webhooks) {
        if (is_webhook_url(url)) {
            settings.webhooks.push_back(url);
        } else {
            problems.push_back("--webhook " + webhook_for_log(url) +
                               ": not an http:// or https:// address");
        }
    }
}

}  // namespace velkantor::alerts
