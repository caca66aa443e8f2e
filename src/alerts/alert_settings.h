#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/network_ini.h"

namespace velkantor::alerts {

// `[alerts]` of network.ini: where the station tells its owner at once what happened.
struct AlertSettings {
    bool mqtt_enabled = false;
    std::string mqtt_host;
    int mqtt_port = 1883;
    std::string mqtt_client_id;      // default "velkantor-<station code>"
    std::string mqtt_user;           // empty: no login
    std::string mqtt_password_file;  // relative to the station folder unless absolute
    std::string mqtt_topic;          // the prefix: default "velkantor/<station code>"
    std::vector<std::string> webhooks;
    double webhook_timeout = 5;  // seconds for one POST
    // Alerts waiting for a sender that is behind; beyond this the oldest is dropped.
    int queue = 100;
    // Free space of the station folder's disk below which the owner is told once.
    double disk_low_mb = 500;

    bool any() const { return mqtt_enabled || !webhooks.empty(); }
};

// Reads [alerts] (a missing section: off). The station code (for the defaults) is
// `[station] station`, else VELK. Each bad value is one line in `problems` naming the key,
// and turns the alerts off: an owner who asked for alerts must not believe they are on.
AlertSettings ParseAlertSettings(const config::IniFile& ini, std::vector<std::string>& problems);

// The command line's `--mqtt HOST:PORT` and `--webhook URL` on top of the file; an unusable
// value is a problem line and leaves the settings as they were.
void ApplyAlertOverrides(AlertSettings& settings, const std::string& mqtt,
                         const std::vector<std::string>& webhooks,
                         std::vector<std::string>& problems);

// "http://..." or "https://..." with a host and no blanks or control characters.
bool is_webhook_url(const std::string& url);
// A topic prefix a broker accepts for publishing: not empty, no wildcards, no NUL, no
// leading or trailing '/'.
bool is_topic_prefix(const std::string& topic);

}  // namespace velkantor::alerts
