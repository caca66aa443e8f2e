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
    std::string mqtt_client_id;      // default "velkantor-<host>-<station folder's name>"
    std::string mqtt_user;           // empty: no login
    std::string mqtt_password_file;  // relative to the station folder unless absolute
    std::string mqtt_topic;          // the prefix: default "velkantor/<host>/<folder's name>"
    std::vector<std::string> webhooks;
    double webhook_timeout = 5;  // seconds for one POST
    // Alerts waiting for a sender that is behind; beyond this the oldest is dropped.
    int queue = 100;
    // Free space of the station folder's disk below which the owner is told once.
    double disk_low_mb = 500;

    bool any() const { return mqtt_enabled || !webhooks.empty(); }
};

// What tells this station from another on the same broker: the machine's host name and the
// station folder's name. Two stations on default settings must not share a client id (the
// broker would drop one for the other, over and over) nor a topic.
struct StationIdentity {
    std::string host;
    std::string folder;  // the folder's own name, "mystation"
};

// Reads [alerts] (a missing section: off) with the command line's --mqtt (for `mqtt`) and
// --webhook (added to `webhook`). The default client id and topic are made of `identity`;
// without one, of the station code (`[station] station`, else VELK). Each bad value of the
// file is one line in `problems` naming the key, and turns the alerts off: an owner who asked
// for alerts must not believe they are on. An unusable option is a problem line and is left
// out.
AlertSettings ParseAlertSettings(const config::IniFile& ini, std::vector<std::string>& problems,
                                 const StationIdentity& identity = {},
                                 const config::NetworkOptions& options = {});

// "http://..." or "https://..." with a host and no blanks or control characters.
bool is_webhook_url(const std::string& url);
// A webhook address as it may be written to a log: scheme, host and port only. The user part,
// path and query are where chat and home-automation services keep their tokens.
std::string webhook_for_log(std::string_view url);
// A topic prefix a broker accepts for publishing: not empty, no wildcards, no NUL, no
// leading or trailing '/'.
bool is_topic_prefix(const std::string& topic);

}  // namespace velkantor::alerts
